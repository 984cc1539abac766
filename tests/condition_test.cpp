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
    const char* props[][2] = {{"mm", "5"},     {"neg", "-5"},  {"big", "2147483648"},
                              {"num", "12"},   {"num2", "9"},  {"Upper", "HELLO"},
                              {"zero", "0"},   {"z1", "-0"},   {"z2", "0asdf"},
                              {"z3", "0 "},    {"z4", "+0"},   {"path", "C:\\Dir\\File.TXT"}};
    for (const auto& p : props) SetProp(pkg.install(), p[0], p[1]);
  }
  Package pkg;
};

// The actions act on TRUE and FALSE and treat anything else as a failure.
TEST_F(Condition, HandlesEmptyConditionsAndSyntax) {
  EXPECT_EQ(MsiEvaluateConditionA(0, "1"), E);
  EXPECT_EQ(MsiEvaluateConditionA(pkg.install(), nullptr), N);
  ExpectConditions(pkg.install(), {
      {"", N}, {"   ", N},
      {"1", T}, {"0", F}, {"-1", T}, {"\"0\"", T}, {"\"\"", F},
      {"not 0", T}, {"NOT NOT 1", T}, {"not(0)", T}, {"1 and 2", T}, {"not 0 and 0", F},
      {"NOT 0 AND 1 OR 0", T}, {"NOT ( 1 AND 1 )", F}, {"(((((1)))))", T}, {"NOT(1)OR(0)", F},
      // AND binds tighter than OR.
      {"0 AND 1 OR 1", T}, {"1 or 0 and 0", T},
      // Syntax errors.
      {"(((((1))))))", E}, {"((1)", E}, {"()", E}, {"NOT", E}, {"1 AND", E}, {"1 2", E},
      {"0 >=", E}, {"1 = 1 = 1", E}, {" \"A\" ~ = \"a\" ", E}, {"\"unterminated", E},
      {"X != \"\"", E}, {"1\t= 1", E},
  });
}

TEST_F(Condition, Comparisons) {
  ExpectConditions(pkg.install(), {
      {"0 = 0", T}, {"0 <> 0", F}, {"0 > 1", F}, {"1 >= 1", T}, {"0 < 1", T}, {"1 <= 1", T},
      {"2147483648 = 2147483647", T},  // clamped
      // Texts compare as texts, case-insensitively with ~.
      {" \"A\" < \"B\" ", T}, {" \"100\" < \"21\" ", T}, {" \"A\" = \"a\" ", F},
      {" \"A\" ~= \"a\" ", T}, {"Upper ~= \"hello\"", T}, {"Upper = \"hello\"", F},
      {"Upper ~<> \"hello\"", F},
      // A literal text against an integer is only unequal.
      {" 1 = \"1\" ", F}, {" 0 < \"100\" ", F}, {"0 = \"\"", F}, {"1 AND \"1\"", T},
      // A property holding an integer compares as a number, in 32 bits.
      {"mm = 5", T}, {"mm < 12", T}, {"mm = \"5\"", T}, {"neg < 0", T}, {"neg = \"-5\"", T},
      {"big = -2147483648", T}, {"num > num2", T}, {"num > \"9\"", T}, {"\"12\" > \"9\"", F},
      // Only optional "-" and digits make an integer.
      {"zero = 0", T}, {"z1 = 0", T}, {"z2 = 0", F}, {"z2 <> 0", T}, {"z3 = 0", F},
      {"z4 = 0", F}, {"z4 <> 0", T},
      // Missing properties are empty texts.
      {"x = y", T}, {"x = \"\"", T}, {"x <> \"\"", F}, {"x", F}, {"NOT Installed", T},
      {"x = 0", F}, {"x <> 0", T}, {"x < 0", F},
  });
}

TEST_F(Condition, SubstringPrefixAndSuffix) {
  const struct {
    const char *one, *op, *two;
    MSICONDITION expected;
  } cases[] = {
      {"hithere", "><", "hi", T}, {"hi", "><", "hithere", F}, {"", "><", "hi", F},
      {"hi", "><", "", T},        {"", "><", "", F},          {"HiThere", "~><", "ITH", T},
      {"HiThere", "><", "ith", F}, {"hithere", "<<", "hi", T}, {"abcdhithere", "<<", "hi", F},
      {"hithere", ">>", "there", T}, {"there", ">>", "hithere", F}, {"HiThere", "~>>", "THERE", T},
      // Two integers: >< tests common bits, >> the low word.
      {"3", "><", "1", T}, {"3", "><", "4", F}, {"1234", "><", "1", F}, {"65537", ">>", "1", T},
  };
  for (const auto& c : cases) {
    SetProp(pkg.install(), "one", c.one);
    SetProp(pkg.install(), "two", c.two);
    std::string condition = std::string("one ") + c.op + " two";
    EXPECT_EQ(MsiEvaluateConditionA(pkg.install(), condition.c_str()), c.expected)
        << "\"" << c.one << "\" " << c.op << " \"" << c.two << "\"";
  }
  ExpectConditions(pkg.install(), {
      {"path >< \".TXT\"", T}, {"path >< \".x\"", F}, {"path ~>> \".txt\"", T},
      {"path >> \".txt\"", F}, {"path ~<< \"c:\\\"", T}, {"\"ASFD\" ~>< \"sss\" ", F},
  });
}

TEST(ConditionItems, FeatureAndComponentStates) {
  Package pkg;
  pkg.Table("Directory")
      .Table("Component")
      .Table("Feature")
      .Table("FeatureComponents")
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
      {"$Main = 3", T}, {"?Main = 2", T}, {"$Main = \"3\"", F},
      // An unknown item is an empty text.
      {"&nofeature", F}, {"$NoComp", F}, {"$NoComp = \"\"", T}, {"$NoComp <> 3", T},
      {"$NoComp = 3", F}, {"$1", E},
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

}  // namespace
