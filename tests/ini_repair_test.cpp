// INI repair: the list rule, the deferred FixIniFile over its entry list, and
// the immediate SetFixIniFile that builds that list from IniFile rows.
#include <string>
#include <vector>

#include "files/ini_repair.h"
#include "tests/fixture.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kFixIniData[] = "FixIniFile.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";

std::string Entry(const std::string& file, const std::string& section, const std::string& key) {
  return "[FILE]=" + file + "\x0B[SECTION]=" + section + "\x0B[KEY]=" + key + "\x0B";
}

struct ListCase {
  const char* value;
  const char* after;  // the value after the call
  bool changed;
};

TEST(RemoveDuplicateListItems, ItemsCompareWithoutCaseAndLeadingBlanks) {
  const ListCase cases[] = {
      {"a,b, A,c", "a,b,c", true},
      {"a, b,c", "a, b,c", false},        // no duplicate: left as it is, blanks and all
      {",,a,,b,,", ",,a,,b,,", false},    // empty runs are no items
      {",,,", ",,,", false},
      {"", "", false},
      {"a,  a", "a", true},               // differs only by leading blanks
      {"a,\ta", "a", true},
      {"a,\ra", "a", true},
      {"a,\x08" "a", "a,\x08" "a", false},  // a control character that is no blank
      {"a,a ", "a,a ", false},            // trailing blanks stay part of the item
      {"B,b,b", "B", true},               // the first spelling is kept
      {"ab,b", "ab,b", false},            // "b" is no duplicate of "ab"
      {"xb,b,b", "xb,b", true},           // found inside the seen list
      {"b,ab,b", "b,ab", true},           // found at the start of the seen list
      {"ba,b", "ba,b", false},
      {"a,,a,,", "a", true},
      {"Tag1,tag2,TAG1,Tag2,tag3", "Tag1,tag2,tag3", true},
  };
  for (const ListCase& c : cases) {
    std::string value = c.value;
    EXPECT_EQ(viduzo::RemoveDuplicateListItems(&value[0], ","), c.changed) << c.value;
    EXPECT_STREQ(value.c_str(), c.after) << c.value;
  }
}

TEST(RemoveDuplicateListItems, DbcsItemsCompareByCharacter) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  // "\x95\x5C" is one character whose trail byte is a backslash; "\x82\x60" is
  // full-width A, whose lower case is "\x82\x81".
  std::string value = "\x95\x5C,\x82\x60,\x82\x81,\x95\x5C";
  EXPECT_TRUE(viduzo::RemoveDuplicateListItems(&value[0], ","));
  EXPECT_STREQ(value.c_str(), "\x95\x5C,\x82\x60");
}

class FixIniFileTest : public ::testing::Test {
 protected:
  FixIniFileTest() : dir(TempFolder("inifix")) { install = pkg.Open(); }
  UINT Fix(const std::string& data) {
    SetProp(install, "CustomActionData", data);
    return CallAction(install, "FixIniFile");
  }
  std::string Value(const std::string& file, const char* section, const char* key) {
    char buffer[4096];
    GetPrivateProfileStringA(section, key, "<none>", buffer, sizeof buffer, file.c_str());
    return buffer;
  }
  Package pkg;
  MSIHANDLE install = 0;
  std::string dir;
};

TEST_F(FixIniFileTest, DuplicatesRemovedAndOtherValuesUntouched) {
  const std::string ini = dir + "client.ini";
  const std::string text =
      "[Client]\r\nTags=a,b, A,c\r\nPlain=x, y\r\n[Other]\r\nTags=q,q\r\n";
  WriteFile(ini, text);
  EXPECT_EQ(Fix(Entry(ini, "Client", "Tags")), 0u);
  EXPECT_EQ(Value(ini, "Client", "Tags"), "a,b,c");
  EXPECT_EQ(Value(ini, "Other", "Tags"), "q,q");

  // A value without duplicates is never written: the file stays byte for byte.
  const std::string clean = dir + "clean.ini";
  WriteFile(clean, "[Client]\r\nTags=a, b,,c   \r\n");
  EXPECT_EQ(Fix(Entry(clean, "Client", "Tags")), 0u);
  EXPECT_EQ(ReadWholeFile(clean), "[Client]\r\nTags=a, b,,c   \r\n");
}

TEST_F(FixIniFileTest, LongValueIsReadWhole) {
  // 100 items of 7 characters, 799 characters with the commas: read with 512,
  // 768 and then 1024 bytes; the duplicates sit past the first 768.
  std::string items, expected;
  for (int i = 0; i < 90; ++i) {
    char item[8];
    wsprintfA(item, "item%03d", i);
    expected += (i ? "," : "") + std::string(item);
  }
  items = expected;
  for (int i = 0; i < 10; ++i) items += ",ITEM00" + std::to_string(i);
  ASSERT_EQ(items.size(), 799u);
  const std::string ini = dir + "long.ini";
  WriteFile(ini, "[S]\r\nK=" + items + "\r\n");
  EXPECT_EQ(Fix(Entry(ini, "S", "K")), 0u);
  EXPECT_EQ(Value(ini, "S", "K"), expected);

  // A value of exactly 511 characters fills the first buffer: it is read again
  // with a larger one and its last item still counts.
  std::string edge = std::string(507, 'x') + ",a,a";
  ASSERT_EQ(edge.size(), 511u);
  WriteFile(ini, "[S]\r\nK=" + edge + "\r\n");
  EXPECT_EQ(Fix(Entry(ini, "S", "K")), 0u);
  EXPECT_EQ(Value(ini, "S", "K"), std::string(507, 'x') + ",a");
}

TEST_F(FixIniFileTest, BareFileNameIsInTheWindowsFolder) {
  const std::string ini = GetProp(install, "WindowsFolder") + "q";
  WriteFile(ini, "[S]\r\nK=a,A\r\n");
  EXPECT_EQ(Fix(Entry("q", "S", "K")), 0u);
  EXPECT_EQ(Value(ini, "S", "K"), "a");
  DeleteFileA(ini.c_str());
}

TEST_F(FixIniFileTest, EntryListRules) {
  const std::string one = dir + "one.ini", two = dir + "two.ini";
  WriteFile(one, "[S]\r\nK=a,a\r\n");
  WriteFile(two, "[S]\r\nK=b,b\r\n");
  // An entry without "[KEY]=" fails the action; the entries around it still run.
  const std::string bad = "[FILE]=" + one + "\x0B[SECTION]=S\x0B";
  EXPECT_EQ(Fix(Entry(one, "S", "K") + "\x08" + bad + "\x08" + Entry(two, "S", "K")), 1627u);
  EXPECT_EQ(Value(one, "S", "K"), "a");
  EXPECT_EQ(Value(two, "S", "K"), "b");

  WriteFile(one, "[S]\r\nK=a,a\r\n");
  // Empty file or section: skipped, not a failure. Markers in any order.
  EXPECT_EQ(Fix(Entry("", "S", "K") + "\x08" + Entry(one, "", "K")), 0u);
  EXPECT_EQ(Value(one, "S", "K"), "a,a");
  EXPECT_EQ(Fix("[KEY]=K\x0B[SECTION]=S\x0B[FILE]=" + one + "\x0B"), 0u);
  EXPECT_EQ(Value(one, "S", "K"), "a");
  for (const char* missing : {"[SECTION]=S\x0B[KEY]=K\x0B", "[FILE]=x\x0B[KEY]=K\x0B"})
    EXPECT_EQ(Fix(missing), 1627u) << missing;

  EXPECT_EQ(Fix(""), 0u);
  // A value that is missing or empty is nothing to repair.
  EXPECT_EQ(Fix(Entry(one, "S", "Missing") + "\x08" + Entry(dir + "none.ini", "S", "K")), 0u);
}

#ifndef _WIN32
TEST_F(FixIniFileTest, ValueReadIsTraced) {
  const std::string ini = dir + "trace.ini";
  WriteFile(ini, "[S]\r\nK=x,y,x\r\nOne=a\r\n");
  winsim::ClearDebugLines();
  // A missing key reads as empty: nothing to trace.
  EXPECT_EQ(Fix(Entry(ini, "S", "K") + "\x08" + Entry(ini, "S", "Missing") + "\x08" +
                Entry(ini, "S", "One")),
            0u);
  EXPECT_EQ(winsim::DebugLines(), (std::vector<std::string>{"x,y,x", "a"}));
}

TEST_F(FixIniFileTest, FailedRereadFailsTheEntry) {
  const std::string ini = dir + "reread.ini";
  const std::string text = "[S]\r\nK=" + std::string(600, 'x') + ",a,a\r\n";
  WriteFile(ini, text);
  // Heap requests: the CustomActionData, the 512-byte buffer, the larger one.
  winsim::FailHeapAllocation(2);
  EXPECT_EQ(Fix(Entry(ini, "S", "K")), 1627u);
  winsim::FailHeapAllocation(1);
  EXPECT_EQ(Fix(Entry(ini, "S", "K")), 1627u);
  winsim::ResetHeapFailure();
  EXPECT_EQ(ReadWholeFile(ini), text);
}

TEST_F(FixIniFileTest, UnreadableDataFails) {
  winsim::FailHeapAllocation(0);
  EXPECT_EQ(Fix(Entry(dir + "x.ini", "S", "K")), 1627u);
}

TEST_F(FixIniFileTest, FailedAllocationsLeaveTheValueAlone) {
  const std::string ini = dir + "alloc.ini";
  WriteFile(ini, "[S]\r\nK=x,y,x\r\n");
  // The first heap request is the 512-byte read buffer; the next three are the
  // working texts of the list rule.
  for (unsigned after : {0u, 1u, 2u, 3u}) {
    winsim::FailHeapAllocation(after);
    EXPECT_EQ(viduzo::RemoveDuplicatesFromIniFileValue(ini.c_str(), "S", "K"),
              after == 0 ? 1627u : 0u) << after;
    winsim::ResetHeapFailure();
    EXPECT_EQ(Value(ini, "S", "K"), "x,y,x") << after;
  }
}
#endif

class SetFixIniFileTest : public ::testing::Test {
 protected:
  void AddIniFileTable() {
    pkg.Sql("CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL, "
            "`DirProperty` CHAR(72), `Section` CHAR(96) NOT NULL, `Key` CHAR(128) NOT NULL, "
            "`Value` CHAR(255) NOT NULL, `Action` SHORT NOT NULL, `Component_` CHAR(72) NOT NULL "
            "PRIMARY KEY `IniFile`)");
  }
  void Row(const std::string& id, const std::string& file, const std::string& dir,
           const std::string& section, const std::string& key, int action) {
    pkg.Sql("INSERT INTO `IniFile` (`IniFile`, `FileName`, `DirProperty`, `Section`, `Key`, "
            "`Value`, `Action`, `Component_`) VALUES ('" + id + "', '" + file + "', '" + dir +
            "', '" + section + "', '" + key + "', 'v', " + std::to_string(action) + ", 'C')");
  }
  Package pkg;
};

TEST_F(SetFixIniFileTest, ListsAddTagRowsWithTheirResolvedNames) {
  const std::string dir = TempFolder("setinifix");
  AddIniFileTable();
  Row("Tags", "client.ini", "INIDIR", "[SECT]", "Tags", 3);
  Row("Written", "client.ini", "INIDIR", "Client", "Plain", 0);
  Row("Windows", "win.ini", "", "Fonts", "[KEYNAME]x", 3);
  Row("EmptyKey", "client.ini", "INIDIR", "Client", "[NOTSET]", 3);
  Row("EmptySection", "client.ini", "INIDIR", "[NOTSET]", "K", 3);
  Row("NoFolder", "client.ini", "NOTSETDIR", "Client", "K", 3);
  Row("LongFolder", "client.ini", "LONGDIR", "Client", "K", 3);
  Row("Removed", "client.ini", "INIDIR", "Client", "Gone", 4);
  pkg.Property("INIDIR", dir).Property("SECT", "Main").Property("KEYNAME", "Key");
  Row("FullFolder", "full.ini", "FULLDIR", "Client", "K", 3);
  // Folder values are read into 260 bytes: 259 characters fit, 260 do not.
  pkg.Property("LONGDIR", "C:\\" + std::string(256, 'd') + "\\");
  pkg.Property("FULLDIR", "C:\\" + std::string(255, 'f') + "\\");
  MSIHANDLE h = pkg.Open();
  EXPECT_EQ(CallAction(h, "SetFixIniFile"), 0u);
  const std::string windows = GetProp(h, "WindowsFolder");
  EXPECT_EQ(GetProp(h, kFixIniData),
            Entry(dir + "client.ini", "Main", "Tags") + "\x08" +
                Entry(windows + "win.ini", "Fonts", "Keyx") + "\x08" +
                Entry("C:\\" + std::string(255, 'f') + "\\full.ini", "Client", "K"));
}

TEST_F(SetFixIniFileTest, RepairsWhatTheListNames) {
  const std::string dir = TempFolder("setinifix2");
  AddIniFileTable();
  Row("Tags", "client.ini", "INIDIR", "Client", "Tags", 3);
  pkg.Property("INIDIR", dir);
  WriteFile(dir + "client.ini", "[Client]\r\nTags=one,two,One\r\n");
  MSIHANDLE h = pkg.Open();
  ASSERT_EQ(CallAction(h, "SetFixIniFile"), 0u);
  SetProp(h, "CustomActionData", GetProp(h, kFixIniData));
  EXPECT_EQ(CallAction(h, "FixIniFile"), 0u);
  char value[64];
  GetPrivateProfileStringA("Client", "Tags", "", value, sizeof value, (dir + "client.ini").c_str());
  EXPECT_STREQ(value, "one,two");
}

TEST_F(SetFixIniFileTest, NoRowsSetNothingAndNoTableFails) {
  AddIniFileTable();
  Row("Written", "client.ini", "INIDIR", "Client", "Plain", 0);
  MSIHANDLE h = pkg.Open();
  SetProp(h, kFixIniData, "before");
  EXPECT_EQ(CallAction(h, "SetFixIniFile"), 0u);
  EXPECT_EQ(GetProp(h, kFixIniData), "before");

  Package bare;
  MSIHANDLE h2 = bare.Open();
#ifndef _WIN32
  winsim::ClearDebugLines();
#endif
  EXPECT_EQ(CallAction(h2, "SetFixIniFile"), 1627u);
  EXPECT_EQ(GetProp(h2, kFixIniData), "");
#ifndef _WIN32
  ASSERT_EQ(winsim::DebugLines().size(), 1u);
  EXPECT_EQ(winsim::DebugLines()[0], "FixIniFile: MSI::SetQueryView failed!!");
#endif
}

}  // namespace
