// Conditional statements (MsiEvaluateConditionA) against an install session.
#include <string>
#include <vector>

#include "tests/fixture.h"

using namespace viduzo_test;

namespace {

constexpr MSICONDITION F = MSICONDITION_FALSE;
constexpr MSICONDITION T = MSICONDITION_TRUE;
constexpr MSICONDITION N = MSICONDITION_NONE;
constexpr MSICONDITION E = MSICONDITION_ERROR;

struct CondCase {
  const char* condition;
  MSICONDITION expected;
};

void ExpectConditions(MSIHANDLE install, const std::vector<CondCase>& cases) {
  for (const CondCase& c : cases)
    EXPECT_EQ(MsiEvaluateConditionA(install, c.condition), c.expected) << c.condition;
}

class Condition : public ::testing::Test {
 protected:
  void SetUp() override {
    pkg.Open();
    SetProp(pkg.install(), "mm", "5");
    SetProp(pkg.install(), "neg", "-5");
    SetProp(pkg.install(), "big", "2147483648");
    SetProp(pkg.install(), "Upper", "HELLO");
    SetProp(pkg.install(), "path", "C:\\Dir\\File.TXT");
    SetProp(pkg.install(), "num", "12");
    SetProp(pkg.install(), "num2", "9");
  }
  Package pkg;
};

TEST_F(Condition, HandlesAndEmptyConditions) {
  EXPECT_EQ(MsiEvaluateConditionA(0, nullptr), E);
  EXPECT_EQ(MsiEvaluateConditionA(0, "1"), E);
  EXPECT_EQ(MsiEvaluateConditionA(pkg.install(), nullptr), N);
  ExpectConditions(pkg.install(), {{"", N}, {" ", N}, {"   ", N}});
}

TEST_F(Condition, SyntaxAndLogic) {
  ExpectConditions(pkg.install(), {
      {"1", T}, {"0", F}, {"-1", T}, {"\"0\"", T}, {"\"\"", F},
      {"not 0", T}, {"not \"A\"", F}, {"NOT NOT 1", T}, {"not(0)", T},
      {"1 and 2", T}, {"not 0 and 3", T}, {"not 0 and 0", F}, {"not 0 or 1", T},
      {"NOT 0 AND 1 OR 0", T}, {"NOT 1 OR 0", F}, {"NOT ( 1 AND 1 )", F},
      {"(0)", F}, {"(((((1)))))", T}, {"NOT(1)OR(0)", F},
      {"1 XOR 1", F}, {"1 IMP 1", T}, {"1 IMP 0", F}, {"0 IMP 0", T},
      {"0 EQV 0", T}, {"0 EQV 1", F},
      // AND binds tighter; OR, XOR, EQV and IMP share one level, left to right.
      {"0 AND 1 OR 1", T}, {"1 or 0 and 0", T}, {"1 xor 1 and 0", T},
      {"1 IMP 1 OR 0", T}, {"0 imp 0 xor 1", F}, {"1 eqv 0 or 1", T},
      // Syntax errors.
      {"(((((1))))))", E}, {"((1)", E}, {"(", E}, {"()", E}, {"NOT", E}, {"1 AND", E},
      {"AND 1", E}, {"1 2", E}, {"(1)(1)", E}, {"0 >=", E}, {"0 < > 0", E}, {"(1<<1) == 2", E},
      {"( 1 AND 1 ) = 2", E}, {"1 = 1 = 1", E}, {"1 IMPL 1", E}, {"~not \"A\"", E},
      {" \"A\" ~ = \"a\" ", E}, {"1 ~ 1", E}, {"\"unterminated", E}, {"X != \"\"", E},
      {"1\t= 1", E}, {"% FOO", F},
  });
}

TEST_F(Condition, Comparisons) {
  ExpectConditions(pkg.install(), {
      {"0 = 0", T}, {"0 <> 0", F}, {"0 > 1", F}, {"0 ~> 1", F}, {"1 >= 1", T}, {"1 ~>= 1", T},
      {"0 < 1", T}, {"1 < 1", F}, {"0 <= 1", T}, {"1 ~<= 1", T},
      {"2147483647 = 2147483647", T}, {"2147483648 = 2147483647", T},  // clamped
      {"1.5 = 1", T}, {"- = 0", T}, {"1-2 = 1", T},
      // Texts compare as texts, case-insensitively with ~.
      {" \"A\" < \"B\" ", T}, {" \"1\" > \"12\" ", F}, {" \"100\" < \"21\" ", T},
      {" \"A\" = \"a\" ", F}, {" \"A\" ~= \"a\" ", T}, {"Upper ~= \"hello\"", T},
      {"Upper = \"hello\"", F}, {"Upper ~<> \"hello\"", F}, {"Upper ~< \"hellp\"", T},
      {"\"02.1\" < \"2.11\"", T}, {"\"2\" < \"12.1\"", F},
      // A literal text against an integer is only unequal.
      {" \"A\" = 1 ", F}, {" 1 ~= \"1\" ", F}, {" 1 = \"1\" ", F}, {" 0 < \"100\" ", F},
      {" 100 > \"0\" ", F}, {"0 = \"\"", F}, {"0 AND \"\"", F}, {"1 AND \"1\"", T},
      // A property holding an integer compares as a number.
      {"mm = 5", T}, {"mm < 12", T}, {"mm = \"5\"", T}, {"neg < 0", T}, {"-5 = neg", T},
      {"neg = \"-5\"", T}, {"big = -2147483648", T},  // 32-bit arithmetic
      {"num > num2", T}, {"num > \"9\"", T}, {"\"12\" > \"9\"", F},
      // Missing properties are empty texts.
      {"x = y", T}, {"x = \"\"", T}, {"x <> \"\"", F}, {"x", F}, {"NOT Installed", T},
      {"bandalmael=0", F}, {"bandalmael<>0", T}, {"bandalmael<0", F}, {"bandalmael~<>0", T},
  });
}

TEST_F(Condition, PropertyValuesAgainstAnInteger) {
  struct ValueCase {
    const char* value;
    MSICONDITION equalsZero;
  };
  const ValueCase cases[] = {
      {"0", T}, {"-0", T}, {"0000000000000", T}, {"asdf", F}, {"0asdf", F}, {"0 ", F},
      {"--0", F}, {"0x00", F}, {"-", F}, {"+0", F}, {"0.0", F},
  };
  for (const ValueCase& c : cases) {
    SetProp(pkg.install(), "bandalmael", c.value);
    EXPECT_EQ(MsiEvaluateConditionA(pkg.install(), "bandalmael=0"), c.equalsZero) << c.value;
    EXPECT_EQ(MsiEvaluateConditionA(pkg.install(), "bandalmael<>0"),
              c.equalsZero == T ? F : T)
        << c.value;
  }
}

TEST_F(Condition, SubstringPrefixAndSuffix) {
  struct SubCase {
    const char* one;
    const char* op;
    const char* two;
    MSICONDITION expected;
  };
  const SubCase cases[] = {
      {"hithere", "><", "hi", T}, {"hi", "><", "hithere", F}, {"hello", "><", "hi", F},
      {"", "><", "hi", F},        {"hi", "><", "", T},        {"", "><", "", F},
      {"1234", "><", "1", F},     {"one 1234", "><", "1", T}, {"HiThere", "~><", "ITH", T},
      {"HiThere", "><", "ith", F},
      {"hithere", "<<", "hi", T}, {"abcdhithere", "<<", "hi", F}, {"hithere", "<<", "", T},
      {"", "<<", "", F},          {"1234 one", "<<", "1", T},     {"HiThere", "~<<", "hi", T},
      {"hithere", ">>", "there", T}, {"there", ">>", "hithere", F}, {"1234", ">>", "4", F},
      {"one 1234", ">>", "4", T},    {"HiThere", "~>>", "THERE", T},
      // Two integers: >< tests common bits, << the high word, >> the low word.
      {"3", "><", "1", T}, {"3", "><", "4", F}, {"65536", "<<", "1", T}, {"65537", ">>", "1", T},
      {"12", "~<<", "4", F},
  };
  for (const SubCase& c : cases) {
    SetProp(pkg.install(), "one", c.one);
    SetProp(pkg.install(), "two", c.two);
    std::string condition = std::string("one ") + c.op + " two";
    EXPECT_EQ(MsiEvaluateConditionA(pkg.install(), condition.c_str()), c.expected)
        << "\"" << c.one << "\" " << c.op << " \"" << c.two << "\"";
  }
  ExpectConditions(pkg.install(), {
      {"\"ASFD\" >< \"S\" ", T}, {"\"ASFD\" ~>< \"s\" ", T}, {"\"ASFD\" ~>< \"sss\" ", F},
      {"path ~>> \".txt\"", T}, {"path >> \".txt\"", F}, {"path ~<< \"c:\\\"", T},
      {"path >< \"Dir\"", T}, {"\"Testing\" ~<< \"Testing\"", T},
  });
}

TEST_F(Condition, EnvironmentVariables) {
  ASSERT_TRUE(SetEnvironmentVariableA("VIDUZO_COND_VAR", "BAR"));
  SetEnvironmentVariableA("VIDUZO_COND_NONE", nullptr);
  ExpectConditions(pkg.install(), {
      {"%VIDUZO_COND_VAR", T}, {"%VIDUZO_COND_VAR = \"BAR\"", T}, {"%VIDUZO_COND_NONE", F},
      {"%VIDUZO_COND_NONE = \"\"", T}, {"%1", E},
  });
  SetEnvironmentVariableA("VIDUZO_COND_VAR", "7");
  ExpectConditions(pkg.install(), {{"%VIDUZO_COND_VAR > 6", T}});
  SetEnvironmentVariableA("VIDUZO_COND_VAR", nullptr);
}

TEST(ConditionItems, FeatureAndComponentStates) {
  Package pkg;
  pkg.Sql("CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
          "`DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)")
      .Sql("CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
           "`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), "
           "`KeyPath` CHAR(72) PRIMARY KEY `Component`)")
      .Sql("CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), "
           "`Title` CHAR(64), `Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, "
           "`Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)")
      .Sql("CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` "
           "CHAR(72) NOT NULL PRIMARY KEY `Feature_`, `Component_`)")
      .Sql("INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) "
           "VALUES ('TARGETDIR', '', 'SourceDir')")
      .Sql("INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, "
           "`Condition`, `KeyPath`) VALUES ('Main', '{5A1D5C3E-8F0B-4D7A-9C21-3B6E0F4A8D12}', "
           "'TARGETDIR', 0, '', '')")
      .Sql("INSERT INTO `Feature` (`Feature`, `Feature_Parent`, `Title`, `Description`, "
           "`Display`, `Level`, `Directory_`, `Attributes`) VALUES ('Core', '', 'Core', '', 1, 1, "
           "'TARGETDIR', 0)")
      .Sql("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Core', 'Main')")
      .Property("TARGETDIR", "C:\\Inst\\");
  MSIHANDLE install = pkg.Open();
  for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"})
    ASSERT_EQ(MsiDoActionA(install, action), UINT{ERROR_SUCCESS}) << action;

  ASSERT_EQ(MsiSetFeatureStateA(install, "Core", INSTALLSTATE_ABSENT), UINT{ERROR_SUCCESS});
  ASSERT_EQ(MsiSetComponentStateA(install, "Main", INSTALLSTATE_LOCAL), UINT{ERROR_SUCCESS});
  ExpectConditions(install, {
      {"&Core = 2", T}, {"!Core = 2", T}, {"&Core", T}, {"NOT &Core = 2", F},
      {"$Main = 3", T}, {"?Main = 2", T}, {"$Main >< 1", T}, {"$Main = \"3\"", F},
      // An unknown item is an empty text.
      {"&nofeature", F}, {"$NoComp", F}, {"$NoComp = \"\"", T}, {"$NoComp <> 3", T},
      {"$NoComp = 3", F}, {"?NoComp", F}, {"$ Main = 3", T}, {"$1", E},
  });
  ASSERT_EQ(MsiSetFeatureStateA(install, "Core", INSTALLSTATE_LOCAL), UINT{ERROR_SUCCESS});
  ExpectConditions(install, {{"&Core = 3", T}, {"&Core = 2", F}});
}

// A double-byte character is one character: its trail byte never matches a
// single-byte character. Runs where the code page is 932.
TEST(ConditionDbcs, CharactersAreNotBytes) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  Package pkg;
  MSIHANDLE install = pkg.Open();
  SetProp(install, "dbv", "\x95\x5C");          // one character whose trail byte is "\"
  SetProp(install, "ka", "\x83\x5B\x83\x5D");   // two characters ending in "[" and "]"
  ExpectConditions(install, {
      {"dbv >> \"\\\"", F}, {"dbv >< \"\\\"", F}, {"dbv ~>> \"\x95\x5C\"", T},
      {"dbv = \"\x95\x5C\"", T}, {"ka >< \"[\"", F}, {"ka >> \"]\"", F},
      {"ka ~>< \"\x83\x5D\"", T}, {"\"\x81\x5B\" < \"\x82\xA0\"", F},  // UTF-16 order
  });
}

// Deep nesting is bounded work: the engine's parser gives up past its stack.
TEST_F(Condition, DeepNesting) {
  const std::string nested = std::string(1000, '(') + "1" + std::string(1000, ')');
  const std::string nots = [] {
    std::string s;
    for (int i = 0; i < 1001; ++i) s += "NOT ";
    return s + "1";
  }();
  const std::string tooDeep = std::string(50000, '(') + "1" + std::string(50000, ')');
  std::string chain = "1";
  for (int i = 0; i < 20000; ++i) chain += " AND mm = 5";
  ExpectConditions(pkg.install(), {
      {nested.c_str(), T}, {nots.c_str(), F}, {tooDeep.c_str(), E}, {chain.c_str(), T},
  });
}

}  // namespace
