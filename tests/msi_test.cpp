// The MSI query object against a package database.
#include <cstring>
#include <string>
#include <vector>

#include "runtime/msi.h"
#include "tests/fixture.h"

using viduzo::MSI;
using namespace viduzo_test;

namespace {

// A package with a small table of three rows keyed by name, and an empty one.
class MsiTest : public ::testing::Test {
 protected:
  MSIHANDLE Build() {
    pkg.Sql("CREATE TABLE `Item` (`Name` CHAR(72) NOT NULL, `Kind` CHAR(32), `Size` SHORT, "
            "`Note` CHAR(255) PRIMARY KEY `Name`)");
    pkg.Sql("CREATE TABLE `Empty` (`Key` CHAR(72) NOT NULL PRIMARY KEY `Key`)");
    const char* rows[] = {"('alpha', 'file', 1, 'first')", "('beta', 'dir', 2, '')",
                          "('gamma', 'file', 3, 'C:\\Program Files\\Velmar\\')"};
    for (const char* row : rows)
      pkg.Sql(std::string("INSERT INTO `Item` (`Name`, `Kind`, `Size`, `Note`) VALUES ") + row);
    pkg.Property("FOLDER", "C:\\Program Files\\Velmar\\");
    return pkg.Open();
  }

  // The Name of every row the object's view still returns.
  static std::vector<std::string> RowNames(MSI& m) {
    std::vector<std::string> names;
    while (m.FetchRecord() == ERROR_SUCCESS) names.push_back(m.GetFieldString(1));
    return names;
  }

  Package pkg;
  MSIHANDLE h = Build();
  HandleCheck handles;  // counts from the open package on
};

using Names = std::vector<std::string>;

TEST_F(MsiTest, QueriesByTableAndCondition) {
  MSI m(h);
  ASSERT_TRUE(m.OpenActiveDatabase(h));

  // No table remembered yet.
  EXPECT_EQ(m.SetQueryView(nullptr, nullptr), MSI::kNoHandle);
  EXPECT_EQ(m.FetchRecord(), MSI::kNoHandle);
  EXPECT_EQ(m.FindRecord("Name", "alpha"), static_cast<UINT>(ERROR_FUNCTION_FAILED));

  // A new table without a condition: the whole-table view, result 0.
  EXPECT_EQ(m.SetQueryView(nullptr, "Item"), 0u);
  EXPECT_STREQ(m.table(), "Item");
  EXPECT_EQ(RowNames(m), (Names{"alpha", "beta", "gamma"}));
  EXPECT_EQ(m.lastResult(), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(m.record(), 0u);

  // A condition on a new table: the whole-table query first, then the filtered one.
  MSI other(h);
  ASSERT_TRUE(other.OpenActiveDatabase(h));
  EXPECT_EQ(other.SetQueryView("WHERE `Kind`='file'", "Item"), 0u);
  EXPECT_EQ(RowNames(other), (Names{"alpha", "gamma"}));
  // The same table again runs the query as given.
  EXPECT_EQ(other.SetQueryView(nullptr, "Item"), 0u);
  EXPECT_EQ(RowNames(other), (Names{"alpha", "beta", "gamma"}));
  EXPECT_EQ(other.SetQueryView("WHERE `Size` > 1", nullptr), 0u);
  EXPECT_EQ(RowNames(other), (Names{"beta", "gamma"}));
  // A bad condition reports the engine's error and leaves no view.
  EXPECT_EQ(other.SetQueryView("WHERE `Nope`='x'", nullptr),
            static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  EXPECT_EQ(other.view(), 0u);
  // An unknown table.
  EXPECT_NE(other.SetTable("Missing"), 0u);
  other.CloseDatabase();
  m.CloseDatabase();
}

TEST_F(MsiTest, FindRecordChecksArgumentsAndMatchesColumns) {
  MSI m(h);
  ASSERT_TRUE(m.OpenActiveDatabase(h));
  ASSERT_EQ(m.SetTable("Item"), 0u);
  MSIHANDLE view = m.view();

  struct Case {
    const char *c1, *v1, *c2, *v2, *c3, *v3;
    UINT result;
    const char* name;  // the found row's Name
  } cases[] = {
      {"Name", nullptr, nullptr, nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER, nullptr},
      {nullptr, "alpha", nullptr, nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER, nullptr},
      {"Name", "alpha", "Kind", nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER, nullptr},
      {"Name", "alpha", "Kind", "file", "Size", nullptr, ERROR_INVALID_PARAMETER, nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(m.FindRecord(c.c1, c.v1, c.c2, c.v2, c.c3, c.v3), c.result);
    EXPECT_EQ(m.view(), view) << "argument errors leave the view alone";
    EXPECT_EQ(m.lastResult(), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  }

  const Case found[] = {
      {"Name", "beta", nullptr, nullptr, nullptr, nullptr, 0, "beta"},
      {"Kind", "file", nullptr, nullptr, nullptr, nullptr, 0, "alpha"},
      {"Kind", "file", "Name", "gamma", nullptr, nullptr, 0, "gamma"},
      {"Kind", "file", "Name", "alpha", "Note", "first", 0, "alpha"},
      {"Kind", "file", "Name", "gamma", "Note", "first", ERROR_NO_MORE_ITEMS, nullptr},
      // Values are always quoted, and the engine never finds a quoted value in
      // an integer column.
      {"Size", "3", nullptr, nullptr, nullptr, nullptr, ERROR_NO_MORE_ITEMS, nullptr},
      {"Name", "delta", nullptr, nullptr, nullptr, nullptr, ERROR_NO_MORE_ITEMS, nullptr},
  };
  for (const Case& c : found) {
    EXPECT_EQ(m.FindRecord(c.c1, c.v1, c.c2, c.v2, c.c3, c.v3), c.result) << c.v1;
    if (c.name) {
      EXPECT_STREQ(m.GetFieldString(1), c.name);
    }
  }
  // An apostrophe in a value breaks the query text: no view to fetch from, and
  // the record found before stays the current one.
  ASSERT_EQ(m.FindRecord("Name", "alpha"), 0u);
  EXPECT_EQ(m.FindRecord("Name", "it's"), MSI::kNoHandle);
  EXPECT_EQ(m.lastResult(), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  EXPECT_EQ(m.view(), 0u);
  EXPECT_STREQ(m.GetFieldString(1), "alpha");
  // A table given to FindRecord becomes the remembered one.
  EXPECT_EQ(m.FindRecord("Key", "k", nullptr, nullptr, nullptr, nullptr, "Empty"),
            static_cast<UINT>(ERROR_NO_MORE_ITEMS));
  EXPECT_STREQ(m.table(), "Empty");
  m.CloseDatabase();
}

TEST_F(MsiTest, FieldAccessAndCacheLifetimes) {
  MSI m(h);
  ASSERT_TRUE(m.OpenActiveDatabase(h));
  // Without a record every accessor reports its own kind of failure.
  int value = 5;
  EXPECT_FALSE(m.GetFieldInteger(3, &value));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(m.GetFieldString(1), nullptr);
  EXPECT_EQ(m.SetFieldString(1, "x"), MSI::kNoHandle);
  EXPECT_EQ(m.SetFieldInteger(1, 1), MSI::kNoHandle);
  EXPECT_FALSE(m.ModifyRecord(MSIMODIFY_INSERT_TEMPORARY));

  ASSERT_EQ(m.FindRecord("Name", "beta", nullptr, nullptr, nullptr, nullptr, "Item"), 0u);
  EXPECT_EQ(m.GetFieldString(4), nullptr) << "an empty field reads as null";
  EXPECT_TRUE(m.GetFieldInteger(3, &value));
  EXPECT_EQ(value, 2);
  EXPECT_EQ(m.lastInteger(), 2);
  EXPECT_FALSE(m.GetFieldInteger(4, &value)) << "an empty field has no integer";
  EXPECT_EQ(value, 0);
  EXPECT_EQ(m.lastInteger(), 0);

  // An integer field reads as its decimal text.
  EXPECT_STREQ(m.GetFieldString(3), "2");

  // Cached texts belong to the object and stay valid until the field is read again.
  const char* kind = m.GetFieldString(2);
  ASSERT_EQ(m.FindRecord("Name", "gamma"), 0u);
  EXPECT_STREQ(kind, "dir");
  EXPECT_STREQ(m.GetFieldString(4), "C:\\Program Files\\Velmar\\");
  // A text handed out belongs to the caller.
  char* mine = nullptr;
  EXPECT_EQ(m.GetFieldString(1, &mine), mine);
  EXPECT_STREQ(mine, "gamma");
  MSI::FreeText(mine);

  // A row of 200 columns: fields from 128 on have no cache slot, so they are
  // only handed out.
  std::string sql = "SELECT `Name`";
  for (int i = 1; i < 200; ++i) sql += ", `Name`";
  ASSERT_EQ(m.OpenView((sql + " FROM `Item` WHERE `Name` = 'alpha'").c_str()), 0u);
  ASSERT_EQ(m.FetchRecord(), 0u);
  EXPECT_STREQ(m.GetFieldString(127), "alpha");
  EXPECT_EQ(m.GetFieldString(128), nullptr);
  EXPECT_EQ(m.GetFieldString(200), nullptr);
  EXPECT_EQ(m.GetFieldString(200, &mine), mine);
  EXPECT_STREQ(mine, "alpha");
  MSI::FreeText(mine);
  m.CloseDatabase();
}

TEST_F(MsiTest, TemporaryRowsInsertedAndDeleted) {
  MSI m(h);
  ASSERT_TRUE(m.OpenActiveDatabase(h));
  EXPECT_EQ(m.GetColumnCount(), 0u) << "no view yet";
  ASSERT_TRUE(m.NewRecord("Item"));
  EXPECT_EQ(m.columnCount(), 4u);
  EXPECT_EQ(m.SetFieldString(1, "delta"), 0u);
  EXPECT_EQ(m.SetFieldString(2, "file"), 0u);
  EXPECT_EQ(m.SetFieldInteger(3, 4), 0u);
  EXPECT_TRUE(m.ModifyRecord(MSIMODIFY_INSERT_TEMPORARY));
  // The same key again collides.
  EXPECT_FALSE(m.ModifyRecord(MSIMODIFY_INSERT_TEMPORARY));
  EXPECT_EQ(m.lastResult(), static_cast<UINT>(ERROR_FUNCTION_FAILED));

  ASSERT_EQ(m.FindRecord("Kind", "file", "Name", "delta"), 0u);
  EXPECT_STREQ(m.GetFieldString(1), "delta");
  EXPECT_TRUE(m.DeleteRecord());
  EXPECT_EQ(m.FindRecord("Name", "delta"), static_cast<UINT>(ERROR_NO_MORE_ITEMS));

  // Another object borrowing the database sees the same rows and leaves this
  // object's view and record alone.
  ASSERT_EQ(m.FindRecord("Name", "alpha"), 0u);
  MSIHANDLE view = m.view();
  MSIHANDLE record = m.record();
  {
    MSI borrower(m);
    EXPECT_EQ(borrower.database(), m.database());
    EXPECT_EQ(borrower.install(), h);
    ASSERT_EQ(borrower.SetQueryView(nullptr, "Item"), 0u);
    EXPECT_EQ(RowNames(borrower), (Names{"alpha", "beta", "gamma"}));
  }
  EXPECT_EQ(m.view(), view);
  EXPECT_EQ(m.record(), record);
  EXPECT_STREQ(m.GetFieldString(1), "alpha");
  m.CloseDatabase();

  // An object made from the database handle alone.
  MSIHANDLE database = MsiGetActiveDatabase(h);
  {
    MSI byDatabase(MSI::DatabaseHandle{database});
    EXPECT_EQ(byDatabase.install(), 0u);
    ASSERT_EQ(byDatabase.FindRecord("Name", "beta", nullptr, nullptr, nullptr, nullptr, "Item"),
              0u);
  }
  MsiCloseHandle(database);
}

TEST_F(MsiTest, PropertiesThroughTheObject) {
  MSI m(h);
  EXPECT_EQ(m.AppendProperty("LIST", "a"), 0u);
  EXPECT_EQ(GetProp(h, "LIST"), "a,");
  EXPECT_EQ(m.AppendProperty("LIST", "b"), 0u);
  EXPECT_EQ(GetProp(h, "LIST"), "a,b,");

  EXPECT_STREQ(m.GetProperty("FOLDER"), "C:\\Program Files\\Velmar\\");
  char* mine = nullptr;
  m.GetProperty("LIST", &mine);
  EXPECT_STREQ(mine, "a,b,");
  MSI::FreeText(mine);

  char buffer[8] = "xxxxxxx";
  DWORD size = 0;
  EXPECT_EQ(m.GetPropertyInto("LIST", buffer, &size), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  size = sizeof buffer;
  EXPECT_EQ(m.GetPropertyInto("LIST", buffer, &size), 0u);
  EXPECT_STREQ(buffer, "a,b,");
  size = 3;
  EXPECT_EQ(m.GetPropertyInto("FOLDER", buffer, &size), static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(size, 0u);

  EXPECT_EQ(m.SetProperty("LIST", ""), 0u);
  EXPECT_EQ(GetProp(h, "LIST"), "");
}

TEST_F(MsiTest, RtfTextSurvivesTheFormatter) {
  MSI m(h);
  // RTF control words become the codes 19 / 17 / 18; escaped characters plain.
  const struct {
    const char* rtf;
    const char* masked;
  } masks[] = {
      {"\\par \\{", "\x13par {"},
      {"{\\rtf1 x}", "\x11\x13rtf1 x\x12"},
      {"a\\\\b", "a\\b"},
      {"\\}\\{[P]\\}", "}{[P]}"},
      {"\\\\{", "\\\x11"},  // an escaped backslash clears the escape: the brace is RTF's
      {"\\\\\\", "\\\x13"},  // and the backslash after it starts a new one
  };
  for (const auto& c : masks) EXPECT_STREQ(m.MaskRtfControls(c.rtf), c.masked) << c.rtf;
  EXPECT_EQ(m.MaskRtfControls(""), nullptr);
  EXPECT_EQ(m.MaskRtfControls(nullptr), nullptr);

  // The formatter's raw output keeps its frame.
  EXPECT_STREQ(m.FormatRecordText("[FOLDER]x"), "1: C:\\Program Files\\Velmar\\x ");

  // Mask, format, unmask: properties resolved, every backslash of a value escaped.
  char* masked = nullptr;
  m.MaskRtfControls("{\\rtf1 Folder: [FOLDER]\\par}", &masked);
  ASSERT_NE(masked, nullptr);
  char* formatted = m.FormatRecordText(masked);
  ASSERT_NE(formatted, nullptr);
  EXPECT_STREQ(m.UnmaskRtfControls(formatted),
               "{\\rtf1 Folder: C:\\\\Program Files\\\\Velmar\\\\\\par}");
  MSI::FreeText(masked);

  char noFrame[] = "{x} ";
  EXPECT_STREQ(m.UnmaskRtfControls(noFrame), "\\{x\\}");
  char empty[] = "";
  EXPECT_EQ(m.UnmaskRtfControls(empty), nullptr);

  EXPECT_STREQ(m.ConcatStrings("ab", "cd"), "abcd");
  EXPECT_EQ(m.ConcatStrings(nullptr, "cd"), nullptr);
  EXPECT_EQ(m.ConcatStrings("ab", nullptr), nullptr);
}

TEST_F(MsiTest, NoActiveDatabaseWithoutASession) {
  MSI m(0);
  EXPECT_FALSE(m.OpenActiveDatabase(0));
}

TEST_F(MsiTest, DbcsRtfTextKeepsTrailBytes) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  MSI m(h);
  // "\x95\x5C" is one character; its trail byte is no RTF backslash.
  EXPECT_STREQ(m.MaskRtfControls("\x95\x5C\\par"), "\x95\x5C\x13par");
  char formatted[] = "1: \x95\x5C\\x ";
  EXPECT_STREQ(m.UnmaskRtfControls(formatted), "\x95\x5C\\\\x");
}

}  // namespace
