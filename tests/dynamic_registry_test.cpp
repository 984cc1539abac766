// Dynamic Registry rows: generated keys, the ".lnk2" type copied from ".lnk"
// and "lnkfile" in the installer's value notation with its substitutions, the
// direct fallback mapping, and the agent key opened to everyone.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "runtime/services.h"
#include "system/dynamic_registry.h"
#include "tests/fixture.h"
#include "tests/registry_tree.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kCoreComponent[] = "CoreComponent.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kRowColumns[] = "SELECT `Root`, `Key`, `Name`, `Value`, `Component_` FROM `Registry`";
const char kAgentKey[] = "Software\\Velmar\\Hublane Agent\\Uninstall";

void CreateRegistryTable(Package& pkg) {
  pkg.Sql("CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` "
          "CHAR(255) NOT NULL LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` CHAR(0) "
          "LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)");
}

RegValue Raw(const std::string& name, DWORD type, const std::string& data) {
  return {name, type, data};
}

// "DYN_REG", a decimal number, "." and 36 characters of upper-case hexadecimal
// digits in groups of 8, 4, 4, 4 and 12 joined by "_". Gives the number and the
// suffix, or -1.
long long KeyNumber(const std::string& key, std::string* suffix) {
  if (key.compare(0, 7, "DYN_REG") != 0) return -1;
  size_t dot = key.find('.');
  if (dot == std::string::npos || dot == 7 || key.size() != dot + 37) return -1;
  for (size_t i = 7; i < dot; ++i)
    if (key[i] < '0' || key[i] > '9') return -1;
  for (size_t i = dot + 1; i < key.size(); ++i) {
    size_t at = i - dot - 1;
    bool underscore = at == 8 || at == 13 || at == 18 || at == 23;
    char c = key[i];
    if (underscore ? c != '_' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return -1;
  }
  *suffix = key.substr(dot);
  return std::stoll(key.substr(7, dot - 7));
}

class DynamicRegistry : public ::testing::Test {
 protected:
  DynamicRegistry()
      : lnk_(HKEY_CLASSES_ROOT, ".lnk"),
        lnkfile_(HKEY_CLASSES_ROOT, "lnkfile"),
        lnk2_(HKEY_CLASSES_ROOT, ".lnk2"),
        lnkfile2_(HKEY_CLASSES_ROOT, "lnkfile2"),
        agent_(HKEY_LOCAL_MACHINE, kAgentKey) {}
  MSIHANDLE Open(bool withTable = true) {
    if (withTable) CreateRegistryTable(pkg);
    pkg.Property(kCoreComponent, "CoreComp");
    return h = pkg.Open();
  }
  // Every generated key is well formed, carries the same suffix, and the
  // numbers are consecutive.
  void ExpectKeysInSequence(size_t count) {
    Rows keys = QueryRows(h, "SELECT `Registry` FROM `Registry`");
    ASSERT_EQ(keys.size(), count);
    std::set<std::string> suffixes;
    std::vector<long long> numbers;
    for (const auto& row : keys) {
      std::string suffix;
      numbers.push_back(KeyNumber(row[0], &suffix));
      EXPECT_GE(numbers.back(), 0) << row[0];
      suffixes.insert(suffix);
    }
    EXPECT_EQ(suffixes.size(), 1u);
    std::sort(numbers.begin(), numbers.end());
    for (size_t i = 1; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], numbers[0] + (long long)i);
  }

  // Adds the row "First" through the library, then a row "Taken" of its own
  // under the key the library generates next. Gives the keys of the first row,
  // of the taken one, and the one after.
  struct Keys {
    std::string first, taken, after;
  };
  Keys TakeNextKey() {
    EXPECT_TRUE(viduzo::AddTempRegistryRow(h, 2, "First", "n", "v", "Comp"));
    Rows first = QueryRows(h, "SELECT `Registry` FROM `Registry`");
    EXPECT_EQ(first.size(), 1u);
    if (first.size() != 1) return {};
    std::string suffix;
    long long number = KeyNumber(first[0][0], &suffix);
    EXPECT_GE(number, 0);
    Keys keys{first[0][0], "DYN_REG" + std::to_string(number + 1) + suffix,
              "DYN_REG" + std::to_string(number + 2) + suffix};
    MSIHANDLE database = MsiGetActiveDatabase(h);
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewA(database,
                                   ("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, "
                                    "`Component_`) VALUES ('" + keys.taken +
                                    "', 2, 'Taken', 'n', 'Comp') TEMPORARY")
                                       .c_str(),
                                   &view),
              ERROR_SUCCESS);
    EXPECT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
    MsiCloseHandle(view);
    MsiCloseHandle(database);
    return keys;
  }

  SavedPlace lnk_, lnkfile_, lnk2_, lnkfile2_, agent_;
  Package pkg;
  MSIHANDLE h = 0;
};

TEST_F(DynamicRegistry, RegisterCopiesBothTreesInValueNotation) {
  const std::string longName(300, 'N');
  const std::string large(300, '\x5A');
  RegTree lnk;
  lnk.values = {
      Text("", "lnkfile"),
      Text("Text", "plain [text]"),
      Text("EmptyText", ""),
      Text("Expand", "%SystemRoot%\\x", REG_EXPAND_SZ),
      Raw("Binary", REG_BINARY, std::string("\x0A\xFF", 2)),
      Number("Number", 4294967295u),
      Number("Zero", 0),
      Raw("Multi", REG_MULTI_SZ, std::string("one\0two\0\0", 9)),
      Raw("EmptyMulti", REG_MULTI_SZ, std::string("\0", 1)),
      Raw("None", REG_NONE, "ab"),
      Raw("Qword", REG_QWORD, std::string(8, '\x01')),
      Raw("Link", REG_LINK, "xy"),
  };
  RegTree big;  // a name and data longer than the first buffers
  big.values = {Text(longName, "long name"), Raw("Large", REG_BINARY, large)};
  RegTree deep;
  deep.values = {Number("Deep", 7)};
  lnk.subkeys = {{"ShellNew", RegTree{{Text("Command", "x")}, {}}},
                 {"Empty", RegTree{}},
                 {"A\\B", deep},
                 {"Big", big}};
  RegTree lnkfile;
  lnkfile.values = {Text("", "Shortcut"), Text("IsShortcut", ""), Text("NeverShowExt", "")};
  lnkfile.subkeys = {{"shell\\open\\command", RegTree{{Text("", "%1", REG_EXPAND_SZ)}, {}}},
                     {"Sub", RegTree{{Text("IsShortcut", "kept")}, {}}}};
  Plant(HKEY_CLASSES_ROOT, ".lnk", lnk);
  Plant(HKEY_CLASSES_ROOT, "lnkfile", lnkfile);
  Open();
  SetProp(h, kCoreComponent, "CoreComp");

  EXPECT_EQ(CallAction(h, "RegisterLNK2Type"), 0u);
  const std::string c = "CoreComp";
  std::string hex;
  for (int i = 0; i < 300; ++i) hex += "5A";
  Rows expected = {
      {"0", ".lnk2", "+", "", c},
      {"0", ".lnk2", "", "lnkfile2", c},
      {"0", ".lnk2", "Text", "plain [text]", c},
      {"0", ".lnk2", "EmptyText", "", c},
      {"0", ".lnk2", "Expand", "#%%SystemRoot%\\x", c},
      {"0", ".lnk2", "Binary", "#x0AFF", c},
      {"0", ".lnk2", "Number", "#4294967295", c},
      {"0", ".lnk2", "Zero", "#0", c},
      {"0", ".lnk2", "Multi", "[~]one[~]two[~]", c},
      {"0", ".lnk2", "EmptyMulti", "[~][~]", c},
      {"0", ".lnk2", "None", "", c},
      {"0", ".lnk2", "Qword", "", c},
      {"0", ".lnk2", "Link", "", c},
      {"0", ".lnk2\\ShellNew", "+", "", c},
      {"0", ".lnk2\\ShellNew", "Command", "x", c},
      {"0", ".lnk2\\Empty", "+", "", c},
      {"0", ".lnk2\\A", "+", "", c},
      {"0", ".lnk2\\A\\B", "+", "", c},
      {"0", ".lnk2\\A\\B", "Deep", "#7", c},
      {"0", ".lnk2\\Big", "+", "", c},
      {"0", ".lnk2\\Big", longName, "long name", c},
      {"0", ".lnk2\\Big", "Large", "#x" + hex, c},
      {"0", "lnkfile2", "+", "", c},
      {"0", "lnkfile2", "", "Shortcut", c},
      {"0", "lnkfile2", "NeverShowExt", "", c},
      {"0", "lnkfile2\\shell", "+", "", c},
      {"0", "lnkfile2\\shell\\open", "+", "", c},
      {"0", "lnkfile2\\shell\\open\\command", "+", "", c},
      {"0", "lnkfile2\\shell\\open\\command", "", "#%%1", c},
      {"0", "lnkfile2\\Sub", "+", "", c},
      {"0", "lnkfile2\\Sub", "IsShortcut", "kept", c},
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(QueryRows(h, kRowColumns), expected);
  ExpectKeysInSequence(expected.size());
#ifndef _WIN32
  EXPECT_EQ(winsim::ActionsRun(), std::vector<std::string>{"CostFinalize"});
#endif
}

TEST_F(DynamicRegistry, ValueNotationAndSubstitutions) {
  const struct {
    int root;
    const char* key;
    const char* name;
    DWORD type;
    std::string data;
    const char* value;  // null: left out
  } cases[] = {
      {0, ".lnk2", "", REG_SZ, std::string("lnkfile\0", 8), "lnkfile2"},
      {0, ".LNK2", "", REG_SZ, std::string("x\0", 2), "lnkfile2"},  // key ignoring case
      {0, ".lnk2", "", REG_EXPAND_SZ, std::string("x\0", 2), "#%lnkfile2"},  // the type stays
      {0, ".lnk2", "", REG_BINARY, "x", "#x6C6E6B66696C653200"},  // nine bytes
      {0, ".lnk2", "Other", REG_SZ, std::string("x\0", 2), "x"},
      {1, ".lnk2", "", REG_SZ, std::string("x\0", 2), "x"},  // another root
      {0, ".lnk2\\Sub", "", REG_SZ, std::string("x\0", 2), "x"},
      {0, ".lnk", "", REG_SZ, std::string("x\0", 2), "x"},
      {0, "lnkfile2", "IsShortcut", REG_SZ, std::string("\0", 1), nullptr},
      {0, "LnkFile2", "ISSHORTCUT", REG_DWORD, std::string(4, '\0'), nullptr},
      {0, "lnkfile2", "", REG_SZ, std::string("x\0", 2), "x"},
      {0, "lnkfile2", "IsShortcutX", REG_SZ, std::string("x\0", 2), "x"},
      {0, "lnkfile", "IsShortcut", REG_SZ, std::string("x\0", 2), "x"},
      // Data as the registry holds it: texts with or without their terminator
      // and with text after a zero, numbers of other sizes.
      {2, "k", "n", REG_SZ, "abc", "abc"},
      {2, "k", "n", REG_SZ, std::string("ab\0cd", 5), "ab"},
      {2, "k", "n", REG_SZ, "", ""},
      {2, "k", "n", REG_EXPAND_SZ, "", "#%"},
      {2, "k", "n", REG_BINARY, "", "#x"},
      {2, "k", "n", REG_BINARY, std::string("\x00\x10\x9F\xA0", 4), "#x00109FA0"},
      {2, "k", "n", REG_DWORD, std::string("\x00\xFC\x00\x00", 4), "#64512"},
      {2, "k", "n", REG_DWORD, std::string("\x01\x02", 2), "#513"},
      {2, "k", "n", REG_DWORD, std::string("\x01\x00\x00\x00\x07", 5), "#1"},
      {2, "k", "n", REG_DWORD, "", "#0"},
      {2, "k", "n", REG_MULTI_SZ, "", "[~][~]"},
      {2, "k", "n", REG_MULTI_SZ, std::string("\0\0", 2), "[~][~]"},
      {2, "k", "n", REG_MULTI_SZ, std::string("a\0\0b\0\0", 6), "[~]a[~]"},
      {2, "k", "n", REG_MULTI_SZ, std::string("a\0bc", 4), "[~]a[~]bc[~]"},
      {2, "k", "n", REG_MULTI_SZ, std::string("a\0b\0", 4), "[~]a[~]b[~]"},
      {2, "k", "n", REG_MULTI_SZ, std::string("a\0b\0c\0\0", 7), "[~]a[~]b[~]c[~]"},
      {2, "k", "n", REG_DWORD_BIG_ENDIAN, std::string(4, '\x01'), ""},
      {2, "k", "n", 6, "x", ""},
      {2, "k", "n", 8, "x", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.root) + " " + c.key + " " + c.name + " type " +
                 std::to_string(c.type));
    const viduzo::RegistrySubstitution* pending = viduzo::FindRegistrySubstitution(c.root, c.key);
    const viduzo::RegistrySubstitution* before = pending;
    char* buffer = nullptr;
    DWORD size = 0;
    // Bytes after the data that must not be read as part of it.
    const std::string bytes = c.data + "ZZZZ";
    viduzo::RowValue row = viduzo::RegistryRowValue(
        &pending, c.name, c.type, reinterpret_cast<const BYTE*>(bytes.data()),
        static_cast<DWORD>(c.data.size()), &buffer, &size);
    if (!c.value) {
      EXPECT_EQ(row, viduzo::RowValue::kLeftOut);
    } else {
      ASSERT_EQ(row, viduzo::RowValue::kWritten);
      EXPECT_EQ(std::string(buffer), c.value);
    }
    // An entry applies once: it is cleared when it did.
    bool applied = !c.value || std::string(c.value).find("lnkfile2") != std::string::npos ||
                   std::string(c.value).find("6C6E") != std::string::npos;
    EXPECT_EQ(pending, applied ? nullptr : before);
    viduzo::FreeBuffer(&buffer);
  }

  // Values past the first buffer: the buffer grows to hold the whole text.
  const std::string t(300, 't');
  const std::string multi = t + '\0' + t + '\0' + t + '\0';
  const struct {
    DWORD type;
    std::string data;
    std::string value;
  } longCases[] = {
      {REG_SZ, t, t},
      {REG_EXPAND_SZ, t + '\0', "#%" + t},
      {REG_MULTI_SZ, multi, "[~]" + t + "[~]" + t + "[~]" + t + "[~]"},
      {REG_BINARY, std::string(200, '\xAB'), "#x" + [] {
         std::string hex;
         for (int i = 0; i < 200; ++i) hex += "AB";
         return hex;
       }()},
  };
  char* buffer = nullptr;
  DWORD size = 0;
  for (const auto& c : longCases) {
    SCOPED_TRACE(c.type);
    const viduzo::RegistrySubstitution* pending = nullptr;
    ASSERT_EQ(viduzo::RegistryRowValue(&pending, "n", c.type,
                                       reinterpret_cast<const BYTE*>(c.data.data()),
                                       static_cast<DWORD>(c.data.size()), &buffer, &size),
              viduzo::RowValue::kWritten);
    EXPECT_EQ(std::string(buffer), c.value);
    EXPECT_GT(size, c.value.size()) << "the buffer must hold the text and its terminator";
  }
  viduzo::FreeBuffer(&buffer);
}

TEST_F(DynamicRegistry, SubstitutionFollowsTheDestinationKey) {
  RegTree lnk;
  lnk.values = {Text("", "lnkfile")};
  lnk.subkeys = {{"ShellNew", RegTree{{Text("", "inner")}, {}}}};
  Plant(HKEY_CLASSES_ROOT, ".lnk", lnk);
  Open();
  EXPECT_TRUE(viduzo::_CopyKey1ToKey2(h, 0, ".lnk", 0, ".lnk2"));
  // The same destination once more: the entry applies again in a new copy.
  EXPECT_TRUE(viduzo::_CopyKey1ToKey2(h, 0, ".lnk", 0, ".LNK2"));
  Rows defaults = QueryRows(h, "SELECT `Key`, `Value` FROM `Registry`");
  Rows expected = {{".LNK2", "+"},         {".LNK2", "lnkfile2"},
                   {".LNK2\\ShellNew", "+"}, {".LNK2\\ShellNew", "inner"},
                   {".lnk2", "+"},         {".lnk2", "lnkfile2"},
                   {".lnk2\\ShellNew", "+"}, {".lnk2\\ShellNew", "inner"}};
  for (auto& row : defaults)
    if (row[1].empty()) row[1] = "+";  // the key rows have no value
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(defaults, expected);
}

TEST_F(DynamicRegistry, CopiesFromEveryRootAndFailsForOthers) {
  const struct {
    int root;
    HKEY key;
    const char* path;
  } roots[] = {
      {0, HKEY_CLASSES_ROOT, "ViduzoCopyTest"},
      {1, HKEY_CURRENT_USER, "Software\\ViduzoCopyTest"},
      {2, HKEY_LOCAL_MACHINE, "Software\\ViduzoCopyTest"},
      {3, HKEY_USERS, ".DEFAULT\\Software\\ViduzoCopyTest"},
  };
  for (const auto& r : roots) {
    DeleteTree(r.key, r.path);
    Plant(r.key, r.path, RegTree{{Text("root", std::to_string(r.root))}, {}});
  }
  Open();
  for (const auto& r : roots) {
    SCOPED_TRACE(r.root);
    const std::string copy = "Copy" + std::to_string(r.root);
    EXPECT_TRUE(viduzo::_CopyKey1ToKey2(h, r.root, r.path, 2, copy.c_str()));
    EXPECT_EQ(QueryRows(h, "SELECT `Root`, `Name`, `Value` FROM `Registry` WHERE `Key` = '" +
                               copy + "'"),
              (Rows{{"2", "+", ""}, {"2", "root", std::to_string(r.root)}}));
    DeleteTree(r.key, r.path);
  }
  EXPECT_FALSE(viduzo::_CopyKey1ToKey2(h, 4, "Software", 2, "Copy4"));
  EXPECT_FALSE(viduzo::_CopyKey1ToKey2(h, -1, "Software", 2, "CopyMinus"));
  EXPECT_FALSE(viduzo::_CopyKey1ToKey2(h, 1, "Software\\ViduzoMissingKey", 2, "CopyMissing"));
  EXPECT_EQ(QueryRows(h, "SELECT `Key` FROM `Registry`").size(), 8u);
}

TEST_F(DynamicRegistry, RowsTakeTheComponentByNameOrProperty) {
  Open();
  SetProp(h, "CompProperty", "FromProperty");
  SetProp(h, "CompPropert", "Cut");
  SetProp(h, "X", "FromX");
  SetProp(h, "LongProperty", std::string(512, 'L'));
  SetProp(h, "TooLongProperty", std::string(513, 'L'));
  const struct {
    std::string component;
    bool ok;
    const char* stored;
  } cases[] = {
      {"Direct", true, "Direct"},
      {std::string(512, 'D'), true, nullptr},
      {"[CompProperty]", true, "FromProperty"},
      {"[CompProperty", true, "Cut"},        // the last character is taken for the bracket
      {"[LongProperty]", true, nullptr},
      {"[TooLongProperty]", false, nullptr},   // does not fit 513 characters
      {"[Unset]", false, nullptr},             // an empty component cannot be stored
      {"[]", false, nullptr},
      {"[", false, nullptr},
      {"[X", false, nullptr},                  // the property without a name: none
      {"", false, nullptr},
      {std::string(513, 'D'), false, nullptr},
  };
  int added = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.component.substr(0, 30));
    const std::string key = "Key" + std::to_string(added);
    EXPECT_EQ(viduzo::AddTempRegistryRow(h, 2, key.c_str(), "Name", "Value", c.component.c_str()),
              c.ok);
    Rows rows = QueryRows(h, "SELECT `Component_` FROM `Registry` WHERE `Key` = '" + key + "'");
    if (!c.ok) {
      EXPECT_EQ(rows, Rows{});
      continue;
    }
    ++added;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], c.stored ? c.stored : std::string(512, c.component[0] == 'D' ? 'D' : 'L'));
  }
  // Keys are numbered on, with one suffix for the loaded library.
  ExpectKeysInSequence(added);
}

TEST_F(DynamicRegistry, AKeyAlreadyInTheTableFailsTheRowAndIsSkipped) {
  Open();
  const Keys keys = TakeNextKey();
  EXPECT_FALSE(viduzo::AddTempRegistryRow(h, 2, "Second", "n", "v", "Comp"));
  EXPECT_TRUE(viduzo::AddTempRegistryRow(h, 2, "Third", "n", "v", "Comp"));
  EXPECT_EQ(QueryRows(h, "SELECT `Registry`, `Key` FROM `Registry`"),
            (Rows{{keys.first, "First"}, {keys.taken, "Taken"}, {keys.after, "Third"}}));
}

TEST_F(DynamicRegistry, ACopyGoesOnPastAFailedRow) {
  RegTree lnk;
  lnk.values = {Text("", "lnkfile"), Text("Text", "t")};
  lnk.subkeys = {{"Sub", RegTree{{Number("n", 2)}, {}}}};
  Plant(HKEY_CLASSES_ROOT, ".lnk", lnk);
  Open();
  TakeNextKey();  // the key of the copy's first row, the key row of ".lnk2"
  EXPECT_FALSE(viduzo::_CopyKey1ToKey2(h, 0, ".lnk", 0, ".lnk2"));
  EXPECT_EQ(QueryRows(h, "SELECT `Key`, `Name`, `Value` FROM `Registry` WHERE `Root` = 0"),
            (Rows{{".lnk2", "", "lnkfile2"},
                  {".lnk2", "Text", "t"},
                  {".lnk2\\Sub", "+", ""},
                  {".lnk2\\Sub", "n", "#2"}}));
}

TEST_F(DynamicRegistry, DeepTreesOfLongNamesKeepTheirPaths) {
  // Four levels of 255-character names: the destination path outgrows its
  // first buffer.
  std::string path;
  RegTree deepest{{Number("leaf", 1)}, {}};
  for (char c : {'d', 'c', 'b', 'a'}) {
    path = "\\" + std::string(255, c) + path;
    deepest = RegTree{{}, {{std::string(255, c), deepest}}};
  }
  deepest.subkeys.push_back({std::string(255, 'z'), RegTree{}});
  Plant(HKEY_CLASSES_ROOT, ".lnk", deepest);
  Open();
  EXPECT_TRUE(viduzo::_CopyKey1ToKey2(h, 0, ".lnk", 1, "Copy"));
  Rows rows = QueryRows(h, "SELECT `Key`, `Name`, `Value` FROM `Registry` WHERE `Name` = 'leaf'");
  EXPECT_EQ(rows, (Rows{{"Copy" + path, "leaf", "#1"}}));
  EXPECT_EQ(QueryRows(h, "SELECT `Key` FROM `Registry` WHERE `Name` = '+'").size(), 6u);
  EXPECT_EQ(QueryRows(h, "SELECT `Key` FROM `Registry` WHERE `Key` = 'Copy\\" +
                             std::string(255, 'z') + "'")
                .size(),
            1u);
}

TEST_F(DynamicRegistry, RowFieldsAsGiven) {
  Open();
  EXPECT_TRUE(viduzo::AddTempRegistryRow(h, 3, "Some\\Key", "Name", nullptr, "Comp"));
  EXPECT_TRUE(viduzo::AddTempRegistryRow(h, 1, "Other", nullptr, "[~]a[~]", "Comp"));
  EXPECT_EQ(QueryRows(h, kRowColumns),
            (Rows{{"1", "Other", "", "[~]a[~]", "Comp"}, {"3", "Some\\Key", "Name", "", "Comp"}}));
  EXPECT_EQ(QueryRows(h, "SELECT `Key` FROM `Registry` WHERE `Value` IS NULL"), Rows{{"Some\\Key"}});
  EXPECT_EQ(QueryRows(h, "SELECT `Key` FROM `Registry` WHERE `Name` IS NULL"), Rows{{"Other"}});
  ExpectKeysInSequence(2);
}

TEST_F(DynamicRegistry, WithoutARegistryTableNothingIsAdded) {
  Plant(HKEY_CLASSES_ROOT, ".lnk", RegTree{{Text("", "lnkfile")}, {}});
  Plant(HKEY_CLASSES_ROOT, "lnkfile", RegTree{{Text("", "Shortcut")}, {}});
  Open(false);
  EXPECT_FALSE(viduzo::AddTempRegistryRow(h, 2, "Key", "Name", "Value", "Comp"));
  EXPECT_FALSE(viduzo::AddTempRegistryRow(0, 2, "Key", "Name", "Value", "Comp"));
  EXPECT_FALSE(viduzo::_CopyKey1ToKey2(h, 0, ".lnk", 0, ".lnk2"));
  EXPECT_EQ(CallAction(h, "RegisterLNK2Type"), 1603u);
}

TEST_F(DynamicRegistry, RegisterFailsWhenEitherSourceIsMissingButCopiesTheOther) {
  const struct {
    bool lnk, lnkfile;
    UINT result;
    std::vector<std::string> keys;
  } cases[] = {
      {true, true, 0, {".lnk2", "lnkfile2"}},
      {false, true, 1603, {"lnkfile2"}},
      {true, false, 1603, {".lnk2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.lnk) + std::to_string(c.lnkfile));
    DeleteTree(HKEY_CLASSES_ROOT, ".lnk");
    DeleteTree(HKEY_CLASSES_ROOT, "lnkfile");
    if (c.lnk) Plant(HKEY_CLASSES_ROOT, ".lnk", RegTree{});
    if (c.lnkfile) Plant(HKEY_CLASSES_ROOT, "lnkfile", RegTree{});
    Package p;
    CreateRegistryTable(p);
    MSIHANDLE install = p.Open();
    SetProp(install, kCoreComponent, "CoreComp");
    EXPECT_EQ(CallAction(install, "RegisterLNK2Type"), c.result);
    Rows keys = QueryRows(install, "SELECT `Key` FROM `Registry`");
    Rows expected;
    for (const std::string& k : c.keys) expected.push_back({k});
    EXPECT_EQ(keys, expected);
  }
}

#ifndef _WIN32
// In a fresh process (natively: the library is loaded anew): keys count from 0,
// and a key that could not get its suffix is not counted.
TEST(DynamicRegistryFreshProcess, KeysCountFromZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Package p;
        CreateRegistryTable(p);
        MSIHANDLE install = p.Open();
        winsim::FailHeapAllocation(0);
        bool first = viduzo::AddTempRegistryRow(install, 2, "First", "n", "v", "Comp");
        winsim::ResetHeapFailure();
        bool second = viduzo::AddTempRegistryRow(install, 2, "Second", "n", "v", "Comp");
        bool third = viduzo::AddTempRegistryRow(install, 2, "Third", "n", "v", "Comp");
        Rows rows = QueryRows(install, "SELECT `Registry`, `Key` FROM `Registry`");
        std::string suffix;
        bool ok = !first && second && third && rows.size() == 2 &&
                  KeyNumber(rows[0][0], &suffix) == 0 && rows[0][1] == "Second" &&
                  rows[1][0] == "DYN_REG1" + suffix && rows[1][1] == "Third";
        std::exit(ok && !::testing::Test::HasFailure() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(DynamicRegistry, RegisterFailsWhenCostingFails) {
  Plant(HKEY_CLASSES_ROOT, ".lnk", RegTree{});
  Plant(HKEY_CLASSES_ROOT, "lnkfile", RegTree{});
  Open();
  winsim::RegisterAction("CostFinalize", [](MSIHANDLE) { return 1603u; });
  EXPECT_EQ(CallAction(h, "RegisterLNK2Type"), 1603u);
  EXPECT_EQ(QueryRows(h, "SELECT `Key` FROM `Registry`").size(), 2u);
}
#endif

TEST_F(DynamicRegistry, AdvertiseMapsLnk2ToTheShortcutClassUnlessItHasItsOwn) {
  const std::string tooLong(256, 'c'), longest(255, 'c');
  const struct {
    const char* lnk;   // null: no ".lnk" key
    const char* lnk2;  // null: no ".lnk2" key
    const char* after;  // null: ".lnk2" does not exist
  } cases[] = {
      {"lnkfile", nullptr, "lnkfile"},
      {"lnkfile", "lnkfile2", "lnkfile2"},
      {"lnkfile", "LNKFILE2", "lnkfile"},  // the class name is compared with its case
      {"lnkfile", "other", "lnkfile"},
      {"lnkfile", "", "lnkfile"},
      {"myclass", "lnkfile", "myclass"},
      {"binary", nullptr, "binary"},
      {"x", nullptr, "x"},
      {nullptr, nullptr, nullptr},
      {"", nullptr, nullptr},
      {tooLong.c_str(), nullptr, nullptr},
      {longest.c_str(), nullptr, longest.c_str()},
  };
  Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.lnk ? c.lnk : "<none>").substr(0, 20) + " / " +
                 (c.lnk2 ? c.lnk2 : "<none>"));
    DeleteTree(HKEY_CLASSES_ROOT, ".lnk");
    DeleteTree(HKEY_CLASSES_ROOT, ".lnk2");
    if (c.lnk) Plant(HKEY_CLASSES_ROOT, ".lnk", RegTree{{Text("", c.lnk)}, {}});
    if (c.lnk && std::string(c.lnk) == "binary")  // stored without a terminator
      Plant(HKEY_CLASSES_ROOT, ".lnk", RegTree{{Raw("", REG_BINARY, "binary")}, {}});
    if (c.lnk2) Plant(HKEY_CLASSES_ROOT, ".lnk2", RegTree{{Text("", c.lnk2)}, {}});
    EXPECT_EQ(CallAction(h, "AdvertiseLNK2Type"), 0u);
    RegValue value;
    if (!c.after) {
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".lnk2"));
      continue;
    }
    ASSERT_TRUE(ReadValue(HKEY_CLASSES_ROOT, ".lnk2", "", &value));
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value.data, std::string(c.after) + '\0');
  }
  // ".lnk2" is created without a class.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".lnk2", 0, KEY_READ, &key), ERROR_SUCCESS);
  char keyClass[32] = "untouched";
  DWORD classLength = sizeof keyClass;
  EXPECT_EQ(RegQueryInfoKeyA(key, keyClass, &classLength, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(keyClass, "");
  RegCloseKey(key);
}

TEST_F(DynamicRegistry, AgentKeyIsOpenedToEveryone) {
  Plant(HKEY_LOCAL_MACHINE, kAgentKey, RegTree{{Text("v", "x")}, {}});
  Open();
  EXPECT_EQ(CallAction(h, "SetRegistryPermissionsForDP"), 0u);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentKey, 0, READ_CONTROL, &key), ERROR_SUCCESS);
  DWORD size = 0;
  ASSERT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size),
            ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> descriptor(size);
  ASSERT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  ASSERT_EQ(dacl->AceCount, 1);
  EXPECT_EQ(dacl->AclRevision, ACL_REVISION);
  EXPECT_EQ(dacl->AclSize, 28) << "the SID's 12 bytes and 16";
  ACCESS_ALLOWED_ACE* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<LPVOID*>(&ace)));
  EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(
      AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  EXPECT_TRUE(EqualSid(&ace->SidStart, everyone));
  FreeSid(everyone);
#ifndef _WIN32
  winsim::RegistryKeySecurity recorded;
  ASSERT_TRUE(winsim::KeySecurity(HKEY_LOCAL_MACHINE, kAgentKey, &recorded));
  EXPECT_EQ(recorded.daclWrites, 1u);
  EXPECT_TRUE(recorded.daclPresent);
  EXPECT_FALSE(recorded.nullDacl);
  ASSERT_EQ(recorded.aces.size(), 1u);
  EXPECT_EQ(recorded.aces[0].sid, "S-1-1-0");
  EXPECT_EQ(recorded.aces[0].mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
  EXPECT_EQ(recorded.owner, "") << "only the DACL is applied";
  // Without the key nothing is created.
  DeleteTree(HKEY_LOCAL_MACHINE, kAgentKey);
  EXPECT_EQ(CallAction(h, "SetRegistryPermissionsForDP"), 0u);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAgentKey));
#endif
}

#ifndef _WIN32
// Each heap allocation failing in turn: the copy is reported failed or is
// whole, the agent key gets the whole DACL or none, and nothing leaks (the
// sanitizers check the blocks at exit).
TEST_F(DynamicRegistry, EveryAllocationFailingInTurn) {
  // Each key's first value makes the key's value text: one of each kind of
  // text comes first somewhere; a chain of long names makes the path grow.
  RegTree lnk;
  lnk.values = {Text("", "lnkfile"), Raw("Binary", REG_BINARY, std::string(400, '\x01')),
                Raw("Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5))};
  RegTree chain{{Number("leaf", 5)}, {}};
  for (char c : {'c', 'b', 'a'}) chain = RegTree{{}, {{std::string(255, c), chain}}};
  lnk.subkeys = {{"Sub", RegTree{{Text(std::string(300, 'n'), "v")}, {}}},
                 {"Number", RegTree{{Number("d", 9)}, {}}},
                 {"Multi", RegTree{{Raw("m", REG_MULTI_SZ, std::string(300, 'm') + '\0')}, {}}},
                 {"Chain", chain}};
  Plant(HKEY_CLASSES_ROOT, ".lnk", lnk);
  Plant(HKEY_CLASSES_ROOT, "lnkfile", RegTree{{Text("IsShortcut", ""), Text("x", "y")}, {}});
  Plant(HKEY_LOCAL_MACHINE, kAgentKey, RegTree{});
  const size_t whole = 17;  // rows of the two copies
  bool failed = false, succeeded = false;
  for (unsigned n = 0; n < 96; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " failing");
    Package p;
    CreateRegistryTable(p);
    p.Property(kCoreComponent, "CoreComp");
    MSIHANDLE install = p.Open();
    winsim::FailHeapAllocation(n);
    UINT result = CallAction(install, "RegisterLNK2Type");
    winsim::ResetHeapFailure();
    size_t rows = QueryRows(install, "SELECT `Registry` FROM `Registry`").size();
    if (result == 0) {
      EXPECT_EQ(rows, whole);
      // Every value made it whole.
      EXPECT_EQ(QueryRows(install, "SELECT `Name`, `Value` FROM `Registry` WHERE `Name` = 'd' "
                                   "OR `Name` = 'm' OR `Name` = 'leaf' OR `Name` = 'Multi'"),
                (Rows{{"Multi", "[~]a[~]b[~]"},
                      {"d", "#9"},
                      {"leaf", "#5"},
                      {"m", "[~]" + std::string(300, 'm') + "[~]"}}));
      EXPECT_EQ(QueryRows(install, "SELECT `Key` FROM `Registry` WHERE `Value` IS NULL AND "
                                   "`Name` <> '+'"),
                Rows{});
      succeeded = true;
    } else {
      EXPECT_EQ(result, 1603u);
      EXPECT_LT(rows, whole);
      failed = true;
    }

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentKey, 0, WRITE_DAC, &key), ERROR_SUCCESS);
    SECURITY_DESCRIPTOR open;
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open), ERROR_SUCCESS);
    RegCloseKey(key);
    winsim::FailHeapAllocation(n);
    EXPECT_EQ(CallAction(install, "SetRegistryPermissionsForDP"), 0u);
    winsim::ResetHeapFailure();
    winsim::RegistryKeySecurity recorded;
    ASSERT_TRUE(winsim::KeySecurity(HKEY_LOCAL_MACHINE, kAgentKey, &recorded));
    if (recorded.nullDacl) continue;  // not applied
    ASSERT_EQ(recorded.aces.size(), 1u);
    EXPECT_EQ(recorded.aces[0].sid, "S-1-1-0");
  }
  EXPECT_TRUE(failed && succeeded);
}
#endif

}  // namespace
