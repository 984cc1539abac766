// The package database at the installer API: SQL forms, row order, cursors,
// MsiViewModify, null handling, column types, error codes, summary information
// and database files. Every shared case also runs against the real msi.dll.
#include <chrono>
#include <string>
#include <vector>

#include "tests/fixture.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

// A value for a parameter or modify record: null, an integer or a string.
struct Val {
  enum Kind { kNull, kInt, kStr } kind = kNull;
  int i = 0;
  std::string s;
};
Val Nul() { return Val{}; }
Val Int(int v) { return Val{Val::kInt, v, {}}; }
Val Str(const std::string& v) { return Val{Val::kStr, 0, v}; }

MSIHANDLE MakeRecord(const std::vector<Val>& values) {
  MSIHANDLE rec = MsiCreateRecord(static_cast<UINT>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) {
    UINT field = static_cast<UINT>(i + 1);
    if (values[i].kind == Val::kInt) MsiRecordSetInteger(rec, field, values[i].i);
    if (values[i].kind == Val::kStr) MsiRecordSetStringA(rec, field, values[i].s.c_str());
  }
  return rec;
}

std::string FieldText(MSIHANDLE rec, UINT field) {
  if (MsiRecordIsNull(rec, field)) return "~";
  char buffer[512] = "";
  DWORD size = sizeof buffer;
  UINT r = MsiRecordGetStringA(rec, field, buffer, &size);
  return r == ERROR_SUCCESS ? std::string(buffer, size) : "<" + std::to_string(r) + ">";
}

// A record as "a|1|~" (null fields as "~").
std::string RecordText(MSIHANDLE rec) {
  std::string text;
  UINT count = MsiRecordGetFieldCount(rec);
  for (UINT i = 1; i <= count; ++i) text += (i > 1 ? "|" : "") + FieldText(rec, i);
  return text;
}

// The next row of a view as text, or "end" at 259, or the error code.
std::string Fetch(MSIHANDLE view) {
  MSIHANDLE rec = 0;
  UINT r = MsiViewFetch(view, &rec);
  if (r == ERROR_NO_MORE_ITEMS) return rec == 0 ? "end" : "end with a record";
  if (r != ERROR_SUCCESS) return "fetch " + std::to_string(r);
  std::string text = RecordText(rec);
  MsiCloseHandle(rec);
  return text;
}

std::string TempFile(const char* stem) {
  static int counter = 0;
  char dir[MAX_PATH] = "";
  GetTempPathA(sizeof dir, dir);
  return std::string(dir) + stem + std::to_string(GetTickCount()) + "_" +
         std::to_string(++counter) + ".msi";
}

// A database created in a temporary file, closed and deleted at the end.
class TempDb {
 public:
  TempDb() : path_(TempFile("dbt")) {
    EXPECT_EQ(MsiOpenDatabaseA(path_.c_str(), MSIDBOPEN_CREATE, &h_), 0u);
  }
  ~TempDb() {
    Close();
    DeleteFileA(path_.c_str());
  }
  TempDb(const TempDb&) = delete;
  TempDb& operator=(const TempDb&) = delete;

  MSIHANDLE h() const { return h_; }
  const std::string& path() const { return path_; }

  // Opens, executes and closes a statement; the first failing code.
  UINT Run(const std::string& sql, const std::vector<Val>& params = {}) {
    MSIHANDLE view = 0;
    UINT r = MsiDatabaseOpenViewA(h_, sql.c_str(), &view);
    if (r != ERROR_SUCCESS) return r;
    MSIHANDLE rec = params.empty() ? 0 : MakeRecord(params);
    r = MsiViewExecute(view, rec);
    if (rec) MsiCloseHandle(rec);
    MsiViewClose(view);
    MsiCloseHandle(view);
    return r;
  }
  void Sql(const std::string& sql) { ASSERT_EQ(Run(sql), 0u) << sql; }

  // Every row of a query as "[a|b][c|~]", or "open N" / "execute N" on failure.
  std::string Rows(const std::string& sql, const std::vector<Val>& params = {}) {
    MSIHANDLE view = 0;
    UINT r = MsiDatabaseOpenViewA(h_, sql.c_str(), &view);
    if (r != ERROR_SUCCESS) return "open " + std::to_string(r);
    MSIHANDLE rec = params.empty() ? 0 : MakeRecord(params);
    r = MsiViewExecute(view, rec);
    if (rec) MsiCloseHandle(rec);
    std::string rows;
    if (r != ERROR_SUCCESS) {
      rows = "execute " + std::to_string(r);
    } else {
      for (std::string row; (row = Fetch(view)) != "end";) {
        rows += "[" + row + "]";
        if (row.rfind("fetch", 0) == 0 || rows.size() > 4000) break;
      }
    }
    MsiViewClose(view);
    MsiCloseHandle(view);
    return rows;
  }

  MSIHANDLE OpenView(const std::string& sql, const std::vector<Val>& params = {}) {
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewA(h_, sql.c_str(), &view), 0u) << sql;
    MSIHANDLE rec = params.empty() ? 0 : MakeRecord(params);
    EXPECT_EQ(MsiViewExecute(view, rec), 0u) << sql;
    if (rec) MsiCloseHandle(rec);
    return view;
  }

  void Commit() { EXPECT_EQ(MsiDatabaseCommit(h_), 0u); }
  void Close() {
    if (h_) MsiCloseHandle(h_);
    h_ = 0;
  }
  void Reopen(LPCSTR mode) {
    Close();
    EXPECT_EQ(MsiOpenDatabaseA(path_.c_str(), mode, &h_), 0u);
  }

 private:
  std::string path_;
  MSIHANDLE h_ = 0;
};

UINT Modify(MSIHANDLE view, MSIMODIFY mode, const std::vector<Val>& values) {
  MSIHANDLE rec = MakeRecord(values);
  UINT r = MsiViewModify(view, mode, rec);
  MsiCloseHandle(rec);
  return r;
}

// Tables in the shape of the installer tables the product queries.
void BuildWizardTables(TempDb& db) {
  db.Sql(
      "CREATE TABLE `ListBox` (`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, "
      "`Value` CHAR(64) NOT NULL, `Text` CHAR(64) LOCALIZABLE PRIMARY KEY `Property`, `Order`)");
  const char* listBox[] = {"'L11', 2, 'Core', 'Core files'", "'L11', 1, 'Core\\Tools', 'Tools'",
                           "'L12', 1, 'Docs', 'Manuals'", "'L11', 3, 'Extra', ''"};
  for (const char* row : listBox)
    db.Sql(std::string("INSERT INTO `ListBox` (`Property`, `Order`, `Value`, `Text`) VALUES (") +
           row + ")");
  db.Sql(
      "CREATE TABLE `ControlEvent` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, "
      "`Event` CHAR(50) NOT NULL, `Argument` CHAR(255) NOT NULL, `Condition` CHAR(255), "
      "`Ordering` SHORT PRIMARY KEY `Dialog_`, `Control_`, `Event`, `Argument`, `Condition`)");
  const char* events[] = {"'Welcome', 'Next', 'DoAction', 'Search', '1', 3",
                          "'Welcome', 'Next', 'NewDialog', 'Folder', 'A=1', 1",
                          "'Welcome', 'Next', '[DIR]', '[X]', '1', 2",
                          "'Folder', 'Next', 'EndDialog', 'Return', '1', 1"};
  for (const char* row : events)
    db.Sql(std::string("INSERT INTO `ControlEvent` (`Dialog_`, `Control_`, `Event`, `Argument`, "
                       "`Condition`, `Ordering`) VALUES (") +
           row + ")");
  db.Sql(
      "CREATE TABLE `VmrAppSearch` (`Property` CHAR(72) NOT NULL, `Signature_` CHAR(72) NOT "
      "NULL, `Order` SHORT, `PreferDefault` SHORT PRIMARY KEY `Property`, `Signature_`)");
  const char* searches[] = {"'P1', 'S1', 20, 1", "'P2', 'S2', '', 0", "'P3', 'S3', 10, ''",
                            "'P4', 'S4', '', ''"};
  for (const char* row : searches)
    db.Sql(std::string("INSERT INTO `VmrAppSearch` (`Property`, `Signature_`, `Order`, "
                       "`PreferDefault`) VALUES (") +
           row + ")");
  db.Sql(
      "CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL, "
      "`Action` SHORT NOT NULL PRIMARY KEY `IniFile`)");
  db.Sql("INSERT INTO `IniFile` (`IniFile`, `FileName`, `Action`) VALUES ('i1', 'a.ini', 3)");
  db.Sql("INSERT INTO `IniFile` (`IniFile`, `FileName`, `Action`) VALUES ('i2', 'b.ini', 0)");
  db.Sql("INSERT INTO `IniFile` (`IniFile`, `FileName`, `Action`) VALUES ('i3', 'c.ini', 3)");
}

class DatabaseTest : public ::testing::Test {
 protected:
  HandleCheck handles;
};

// ---- the SQL forms the product sends ----------------------------------------------

struct QueryCase {
  const char* sql;
  std::vector<Val> params;
  const char* rows;
};

TEST_F(DatabaseTest, QueryFormsReturnTheirRows) {
  TempDb db;
  BuildWizardTables(db);
  const QueryCase cases[] = {
      {"SELECT * FROM `ListBox` WHERE `Property`=? AND `Value`=?",
       {Str("L11"), Str("Core")},
       "[L11|2|Core|Core files]"},
      {"SELECT * FROM `ListBox` WHERE `Property`=? AND `Value`<>?",
       {Str("L11"), Str("Core")},
       "[L11|1|Core\\Tools|Tools][L11|3|Extra|~]"},
      {"SELECT * FROM `ListBox` WHERE `Property`=?", {Str("L12")}, "[L12|1|Docs|Manuals]"},
      {"SELECT * FROM `ListBox` WHERE `Property`=?", {Str("nowhere")}, ""},
      {"SELECT * FROM `ListBox` WHERE `Property`='L11' AND `Order`>1",
       {},
       "[L11|2|Core|Core files][L11|3|Extra|~]"},
      {"SELECT `Value`, `Order` FROM `ListBox` WHERE `Property` = 'L11' AND `Order` >= 2 AND "
       "`Order` <= 2",
       {},
       "[Core|2]"},
      {"SELECT `Property`, `Signature_`, `PreferDefault` FROM `VmrAppSearch` WHERE `Order` is "
       "not null ORDER BY `Order`",
       {},
       "[P3|S3|~][P1|S1|1]"},
      {"SELECT `Property`, `Signature_`, `PreferDefault` FROM `VmrAppSearch` WHERE `Order` is "
       "null",
       {},
       "[P2|S2|0][P4|S4|~]"},
      {"SELECT * FROM `ControlEvent` WHERE `Dialog_`=? AND `Control_`=? ORDER BY `Ordering`",
       {Str("Welcome"), Str("Next")},
       "[Welcome|Next|NewDialog|Folder|A=1|1][Welcome|Next|[DIR]|[X]|1|2]"
       "[Welcome|Next|DoAction|Search|1|3]"},
      {"SELECT * FROM `IniFile` WHERE `Action`=3", {}, "[i1|a.ini|3][i3|c.ini|3]"},
      {"SELECT `Event` FROM `ControlEvent` WHERE `Event`='EndDialog' AND `Argument` = 'Return'",
       {},
       "[EndDialog]"},
      {"SELECT `Value` FROM `ListBox` WHERE `Text`='Tools'", {}, "[Core\\Tools]"},
      {"SELECT `Value` FROM `ListBox` WHERE `Order` < 2 OR `Property` = 'L12'",
       {},
       "[Core\\Tools][Docs]"},
      {"SELECT `Value` FROM `ListBox` WHERE (`Order` = 1 OR `Order` = 3) AND `Property` = 'L11'",
       {},
       "[Core\\Tools][Extra]"},
      {"select `Property` from `ListBox` where `Text` is null", {}, "[L11]"},
      {"SELECT DISTINCT `Property` FROM `ListBox`", {}, "[L11][L12]"},
      {"SELECT `ListBox`.`Value` FROM `ListBox` WHERE `ListBox`.`Order` = 3", {}, "[Extra]"},
      {"SELECT Value FROM ListBox WHERE Property = 'L12'", {}, "[Docs]"},
      {"SELECT `Order` FROM `ListBox` WHERE `Order` = ?", {Str("2")}, "[2]"},
      {"SELECT `Dialog_`, `Ordering` FROM `ControlEvent` ORDER BY `Ordering`, `Dialog_`",
       {},
       "[Welcome|1][Folder|1][Welcome|2][Welcome|3]"},
  };
  for (const QueryCase& c : cases) EXPECT_EQ(db.Rows(c.sql, c.params), c.rows) << c.sql;
}

// Every query text the actions send opens and executes on tables of the
// installer's shape.
TEST_F(DatabaseTest, ProductQueryTextsRun) {
  TempDb db;
  BuildWizardTables(db);
  const char* tables[] = {
      "`AppSearch` (`Property` CHAR(72) NOT NULL, `Signature_` CHAR(72) NOT NULL PRIMARY KEY "
      "`Property`, `Signature_`)",
      "`Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, `Type` CHAR(20) NOT "
      "NULL, `Attributes` LONG, `Control_Next` CHAR(50) PRIMARY KEY `Dialog_`, `Control`)",
      "`ControlCondition` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, `Action` "
      "CHAR(50) NOT NULL, `Condition` CHAR(255) NOT NULL PRIMARY KEY `Dialog_`, `Control_`, "
      "`Action`, `Condition`)",
      "`DialogWizardControl` (`Dialog` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, "
      "`DialogSequence` SHORT NOT NULL, `Next` CHAR(255) PRIMARY KEY `Dialog`, `Control`, "
      "`DialogSequence`)",
      "`Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
      "CHAR(255) NOT NULL PRIMARY KEY `Directory`)",
      "`DuplicateFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `File_` "
      "CHAR(72) NOT NULL, `DestName` CHAR(255), `DestFolder` CHAR(72) PRIMARY KEY `FileKey`)",
      "`Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL, "
      "`Name` CHAR(255), `Value` CHAR(0), `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)",
      "`RemoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` "
      "CHAR(255), `DirProperty` CHAR(72) NOT NULL, `InstallMode` SHORT NOT NULL PRIMARY KEY "
      "`FileKey`)",
      "`MoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `SourceName` "
      "CHAR(255), `DestName` CHAR(255), `SourceFolder` CHAR(72), `DestFolder` CHAR(72) NOT NULL, "
      "`Options` SHORT NOT NULL PRIMARY KEY `FileKey`)",
      "`Report` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, `Order` SHORT NOT "
      "NULL, `Condition` CHAR(255), `Text` CHAR(0) PRIMARY KEY `Dialog_`, `Control_`, `Order`)",
      "`VmrDialogMapping` (`Dialog` CHAR(72) NOT NULL, `Order` SHORT, `EnableKey` CHAR(72), "
      "`DisplayText` CHAR(255) PRIMARY KEY `Dialog`)",
      "`CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), "
      "`Target` CHAR(255) PRIMARY KEY `Action`)",
  };
  for (const char* table : tables) db.Sql(std::string("CREATE TABLE ") + table);
  const char* queries[] = {
      "SELECT * FROM `AppSearch` WHERE `Property`=? AND `Signature_`=?",
      "SELECT `Property`, `Signature_` FROM `AppSearch`",
      "SELECT * FROM `ControlCondition` WHERE `Dialog_`=? AND `Action`=?",
      "SELECT * FROM `Control` WHERE `Dialog_`=? AND `Control`<>?",
      "SELECT * FROM `DialogWizardControl` WHERE `Dialog`=? AND `Control`=? ORDER BY "
      "`DialogSequence`",
      "SELECT * FROM `Directory`",
      "SELECT * FROM `DuplicateFile` WHERE `FileKey`=?",
      "SELECT * FROM `MoveFile`",
      "SELECT * FROM `RemoveFile`",
      "SELECT * FROM `Registry` WHERE `Registry`=?",
      "SELECT * FROM `Report` ORDER BY `Dialog_`,`Control_`,`Order`",
      "SELECT * FROM `Report` WHERE `Dialog_`='D' AND `Control_`='C' AND `Order`>2",
      "SELECT * FROM `CustomAction` WHERE `Action`='A' AND `Source` = 'S'",
      "SELECT * FROM `Control` WHERE `Dialog_`='D' AND `Control`='C'",
      "SELECT * FROM `VmrDialogMapping` WHERE `DisplayText`='Welcome page'",
      "SELECT * FROM `ListBox` WHERE `Property`='L11' AND `Value`='Core'",
      "DELETE FROM `ControlCondition` WHERE `Dialog_`=? AND `Action`=? AND `Condition`=?",
  };
  for (const char* q : queries) EXPECT_EQ(db.Run(q, {Str("D"), Str("C"), Str("X")}), 0u) << q;
}

TEST_F(DatabaseTest, ChangingStatementsUpdateTheTable) {
  TempDb db;
  db.Sql(
      "CREATE TABLE `ControlCondition` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT "
      "NULL, `Action` CHAR(50) NOT NULL, `Condition` CHAR(255) NOT NULL PRIMARY KEY "
      "`Dialog_`, `Control_`, `Action`, `Condition`)");
  const char* insert =
      "INSERT INTO `ControlCondition` (`Dialog_`, `Control_`, `Action`, "
      "`Condition`) VALUES (?, ?, ?, ?)";
  EXPECT_EQ(db.Run(insert, {Str("D"), Str("Edit1"), Str("Disable"), Str("S=1")}), 0u);
  EXPECT_EQ(db.Run(insert, {Str("D"), Str("Edit2"), Str("Enable"), Str("S=1")}), 0u);
  EXPECT_EQ(db.Run(insert, {Str("E"), Str("Edit1"), Str("Disable"), Str("S=1")}), 0u);
  EXPECT_EQ(db.Run("DELETE FROM `ControlCondition` WHERE `Dialog_`=? AND `Action`=? AND "
                   "`Condition`=?",
                   {Str("D"), Str("Disable"), Str("S=1")}),
            0u);
  EXPECT_EQ(db.Rows("SELECT `Dialog_`, `Control_` FROM `ControlCondition`"), "[D|Edit2][E|Edit1]");
  db.Sql(
      "CREATE TABLE `Dialog` (`Dialog` CHAR(72) NOT NULL, `Title` CHAR(128), `Attributes` LONG "
      "PRIMARY KEY `Dialog`)");
  db.Sql("INSERT INTO `Dialog` (`Dialog`, `Title`, `Attributes`) VALUES ('D', 'Old', 3)");
  db.Sql("INSERT INTO `Dialog` (`Dialog`, `Title`, `Attributes`) VALUES ('E', 'Old', 7)");
  EXPECT_EQ(db.Run("UPDATE `Dialog` SET `Title` = 'New' WHERE `Dialog` = 'E'"), 0u);
  EXPECT_EQ(db.Run("UPDATE `Dialog` SET `Title`=?, `Attributes`=? WHERE `Dialog`=?",
                   {Str("Set"), Int(39), Str("D")}),
            0u);
  EXPECT_EQ(db.Run("UPDATE `Dialog` SET `Dialog` = 'X' WHERE `Dialog` = 'D'"),
            static_cast<UINT>(ERROR_FUNCTION_FAILED))
      << "a key column cannot change";
  EXPECT_EQ(db.Rows("SELECT * FROM `Dialog`"), "[D|Set|39][E|New|7]");
  EXPECT_EQ(db.Run("INSERT INTO `ControlCondition` (`Dialog_`, `Control_`, `Action`, "
                   "`Condition`) VALUES ('F', 'B', 'Hide', '1') TEMPORARY"),
            0u);
  EXPECT_EQ(db.Rows("SELECT `Dialog_` FROM `ControlCondition` WHERE `Action` = 'Hide'"), "[F]");
}

#ifndef _WIN32
// Wine's msi does not break ties of a leading text column by the later ORDER BY
// columns; the installer sorts by every column given.
TEST_F(DatabaseTest, OrderByUsesEveryColumn) {
  TempDb db;
  BuildWizardTables(db);
  EXPECT_EQ(db.Rows("SELECT `Dialog_`, `Ordering` FROM `ControlEvent` ORDER BY `Dialog_`, "
                    "`Ordering`"),
            "[Welcome|1][Welcome|2][Welcome|3][Folder|1]");
}

// Wine's msi removes only every other matching row here; the installer removes
// every row the condition selects, which the dialog-control clean-up relies on.
TEST_F(DatabaseTest, DeleteRemovesEveryMatchingRow) {
  TempDb db;
  db.Sql("CREATE TABLE `T` (`K` SHORT NOT NULL, `G` CHAR(5) PRIMARY KEY `K`)");
  for (int k = 1; k <= 6; ++k)
    EXPECT_EQ(db.Run("INSERT INTO `T` (`K`, `G`) VALUES (?, ?)", {Int(k), Str(k == 4 ? "h" : "g")}),
              0u);
  EXPECT_EQ(db.Run("DELETE FROM `T` WHERE `G` = 'g'"), 0u);
  EXPECT_EQ(db.Rows("SELECT * FROM `T`"), "[4|h]");
  EXPECT_EQ(db.Run("DELETE FROM `T`"), 0u);
  EXPECT_EQ(db.Rows("SELECT * FROM `T`"), "");
}
#endif

TEST_F(DatabaseTest, ScratchTableIsCreatedUsedAndDropped) {
  TempDb db;
  const char* create =
      "CREATE TABLE `FeatureList` (`ID` CHAR, `Value` CHAR, `Text` CHAR PRIMARY KEY `ID`)";
  db.Sql(create);
  EXPECT_EQ(db.Run(create), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX)) << "created twice";
  MSIHANDLE view = db.OpenView("SELECT * FROM `FeatureList`");
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("F1"), Str("A\\B"), Str("B")}), 0u);
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("F0"), Str("A"), Str("A")}), 0u);
  MsiViewClose(view);
  MsiCloseHandle(view);
  EXPECT_EQ(db.Rows("SELECT `Value` FROM `FeatureList` WHERE `ID` = 'F0'"), "[A]");
  EXPECT_EQ(db.Run("DROP TABLE `FeatureList`"), 0u);
  EXPECT_EQ(db.Rows("SELECT * FROM `FeatureList`"), "open 1615");
  EXPECT_EQ(db.Run("DROP TABLE `FeatureList`"), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  db.Sql(create);
  EXPECT_EQ(db.Rows("SELECT * FROM `FeatureList`"), "");
}

// ---- errors when a view is opened ---------------------------------------------------

TEST_F(DatabaseTest, BadQueriesFailWithBadQuerySyntax) {
  TempDb db;
  db.Sql("CREATE TABLE `T` (`K` CHAR(72) NOT NULL, `N` SHORT PRIMARY KEY `K`)");
  const char* queries[] = {
      "SELECT * FROM `Missing`",
      "SELECT `Nope` FROM `T`",
      "SELECT * FROM `T` WHERE `Nope` = 1",
      "SELECT * FROM `T` ORDER BY `Nope`",
      "SELECT * FROM `T` WHERE `K` = \"x\"",
      "SELECT * FROM `T` WHERE `K` = 'x",
      "SELECT * FROM `T` WHERE `K` < 'x'",
      "SELECT * FROM `T` WHERE `K` = x",
      "SELECT * FROM 'T'",
      "SELECT * FROM T WHERE K = 'it''s'",
      "SELECT * FROM `T` ORDER BY `N` DESC",
      "SELECT * FROM `T` WHERE NOT `N` = 1",
      "SELECT * FROM `T`;",
      "SELECT * FROM `T`\r",
      "INSERT INTO `T` (`K`, `N`) VALUES ('a')",
      "INSERT INTO `T` VALUES ('a', 1)",
      "UPDATE `T` SET `Nope` = 1",
      "DELETE FROM `Missing`",
      "DROP TABLE `Missing`",
      "CREATE TABLE Table (`A` CHAR(72) PRIMARY KEY `A`)",
      "CREATE TABLE `A` (`B` CHAR(72) NOT NULL)",
      "CREATE TABLE `A` (`B` CHAR(72) PRIMARY KEY `C`)",
      "CREATE TABLE `A` (`B` CHAR(720) PRIMARY KEY `B`)",
      "",
  };
  for (const char* q : queries) {
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewA(db.h(), q, &view), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX))
        << q;
    if (view) MsiCloseHandle(view);
  }
}

TEST_F(DatabaseTest, HandlesAndArgumentsAreChecked) {
  TempDb db;
  db.Sql("CREATE TABLE `T` (`K` CHAR(72) NOT NULL PRIMARY KEY `K`)");
  MSIHANDLE view = 0, rec = 0;
  EXPECT_EQ(MsiDatabaseOpenViewA(0, "SELECT * FROM `T`", &view),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
  MSIHANDLE record = MsiCreateRecord(1);
  EXPECT_EQ(MsiDatabaseOpenViewA(record, "SELECT * FROM `T`", &view),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiViewExecute(record, 0), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiViewFetch(0, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  view = db.OpenView("SELECT * FROM `T`");
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, 0), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiViewGetColumnInfo(view, static_cast<MSICOLINFO>(100), &rec),
            static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(rec, 0u);
  EXPECT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, nullptr),
            static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiViewGetColumnInfo(0, MSICOLINFO_TYPES, &rec),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiDatabaseCommit(record), static_cast<UINT>(ERROR_INVALID_HANDLE));
  MsiCloseHandle(record);
  MsiViewClose(view);
  MsiCloseHandle(view);

  view = 0;
  ASSERT_EQ(MsiDatabaseOpenViewA(db.h(), "DROP TABLE `T`", &view), 0u);
  EXPECT_EQ(MsiViewExecute(view, 0), 0u);
  EXPECT_EQ(MsiViewFetch(view, &rec), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  MsiCloseHandle(view);
}

// ---- column types -----------------------------------------------------------------------

TEST_F(DatabaseTest, ColumnInfoReportsNamesAndTypes) {
  TempDb db;
  db.Sql(
      "CREATE TABLE `C` (`a` CHAR(72) NOT NULL, `b` CHAR, `c` LONGCHAR, `d` SHORT, `e` INT, "
      "`f` INTEGER, `g` LONG, `h` SHORT NOT NULL, `i` LONG NOT NULL, `j` CHAR(10) LOCALIZABLE, "
      "`k` CHAR(255) NOT NULL LOCALIZABLE, `l` LONGCHAR NOT NULL PRIMARY KEY `a`)");
  db.Sql(
      "CREATE TABLE `Tmp` (`a` CHAR(72) NOT NULL TEMPORARY, `b` INT TEMPORARY PRIMARY KEY `a`) "
      "HOLD");
  // The n-th key column trades places with the column in the n-th slot.
  db.Sql(
      "CREATE TABLE `Keys` (`B` SHORT NOT NULL, `C` SHORT NOT NULL, `A` CHAR(255), `E` INT, "
      "`D` CHAR(255) NOT NULL PRIMARY KEY `D`, `E`)");
  const struct {
    const char* sql;
    const char* names;
    const char* types;
  } cases[] = {
      {"SELECT * FROM `C`", "a|b|c|d|e|f|g|h|i|j|k|l", "s72|S0|S0|I2|I2|I2|I4|i2|i4|L10|l255|s0"},
      {"SELECT `g`, `a` FROM `C` WHERE `h` = 1", "g|a", "I4|s72"},
      {"SELECT * FROM `Tmp`", "a|b", "g72|J2"},
      {"SELECT * FROM `Keys`", "D|E|A|C|B", "s255|I2|S255|i2|i2"},
      {"INSERT INTO `C` (`a`, `d`) VALUES ('x', 1)", "a|d", "s72|I2"},
  };
  for (const auto& c : cases) {
    MSIHANDLE view = 0, names = 0, types = 0;
    ASSERT_EQ(MsiDatabaseOpenViewA(db.h(), c.sql, &view), 0u) << c.sql;
    ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, &names), 0u) << c.sql;
    ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, &types), 0u) << c.sql;
    EXPECT_EQ(RecordText(names), c.names) << c.sql;
    EXPECT_EQ(RecordText(types), c.types) << c.sql;
    MsiCloseHandle(names);
    MsiCloseHandle(types);
    MsiCloseHandle(view);
  }
  db.Sql("INSERT INTO `Keys` (`B`, `C`, `A`, `E`, `D`) VALUES (1, 2, 'a', 3, 'bc')");
  EXPECT_EQ(db.Rows("SELECT * FROM `Keys`"), "[bc|3|a|2|1]");
}

// ---- row order ---------------------------------------------------------------------------

TEST_F(DatabaseTest, StringKeysFollowTheStringPoolNotTheAlphabet) {
  TempDb db;
  db.Sql("CREATE TABLE `First` (`Name` CHAR(72) NOT NULL, `Note` CHAR(72) PRIMARY KEY `Name`)");
  db.Sql("INSERT INTO `First` (`Name`, `Note`) VALUES ('zeta', 'mid')");
  db.Sql("CREATE TABLE `Second` (`Key` CHAR(72) NOT NULL PRIMARY KEY `Key`)");
  // "Name" and "First" entered the pool as names, "mid" as a value.
  for (const char* key : {"new", "alpha", "mid", "Name", "zeta", "First"})
    db.Sql(std::string("INSERT INTO `Second` (`Key`) VALUES ('") + key + "')");
  const char* expected = "[First][Name][zeta][mid][new][alpha]";
  EXPECT_EQ(db.Rows("SELECT * FROM `Second`"), expected);
  EXPECT_EQ(db.Rows("SELECT * FROM `Second` ORDER BY `Key`"), expected);
  // The order survives the database file.
  db.Commit();
  db.Reopen(MSIDBOPEN_READONLY);
  EXPECT_EQ(db.Rows("SELECT * FROM `Second`"), expected);
}

TEST_F(DatabaseTest, IntegerKeysAreInValueOrderWithNullFirst) {
  TempDb db;
  db.Sql("CREATE TABLE `S` (`N` SHORT, `T` CHAR(8) PRIMARY KEY `N`)");
  db.Sql("CREATE TABLE `L` (`N` LONG, `T` CHAR(8) PRIMARY KEY `N`)");
  for (const char* table : {"S", "L"}) {
    for (int n : {7, -5, 32767, 0, -32767, 12})
      EXPECT_EQ(
          db.Run(std::string("INSERT INTO `") + table + "` (`N`, `T`) VALUES (?, 'v')", {Int(n)}),
          0u);
    EXPECT_EQ(db.Run(std::string("INSERT INTO `") + table + "` (`T`) VALUES ('null')"), 0u);
    EXPECT_EQ(db.Rows(std::string("SELECT `N` FROM `") + table + "`"),
              "[~][-32767][-5][0][7][12][32767]")
        << table;
  }
}

TEST_F(DatabaseTest, TemporaryRowsTakeTheirPlaceInKeyOrder) {
  TempDb db;
  BuildWizardTables(db);
  MSIHANDLE view = db.OpenView("SELECT * FROM `ListBox`");
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("L11"), Int(0), Str("New"), Str("n")}),
            0u);
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("L12"), Int(5), Str("Last"), Nul()}), 0u);
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("L10"), Int(1), Str("A"), Nul()}), 0u);
  MsiViewClose(view);
  MsiCloseHandle(view);
  EXPECT_EQ(db.Rows("SELECT `Property`, `Order` FROM `ListBox`"),
            "[L11|0][L11|1][L11|2][L11|3][L12|1][L12|5][L10|1]");
}

// ---- fetching ------------------------------------------------------------------------------

TEST_F(DatabaseTest, FetchStartsAgainAfterTheLastRow) {
  TempDb db;
  BuildWizardTables(db);
  MSIHANDLE view = db.OpenView("SELECT `Value` FROM `ListBox` WHERE `Property` = ?", {Str("L11")});
  const char* expected[] = {"Core\\Tools", "Core", "Extra", "end", "Core\\Tools", "Core"};
  for (const char* e : expected) EXPECT_EQ(Fetch(view), e);
  MsiViewClose(view);
  MsiCloseHandle(view);
}

TEST_F(DatabaseTest, ExecutedViewKeepsTheRowsItFound) {
  TempDb db;
  db.Sql("CREATE TABLE `phone` (`id` INT, `name` CHAR(32), `number` CHAR(32) PRIMARY KEY `id`)");
  MSIHANDLE view = db.OpenView("SELECT * FROM `phone` WHERE `number` = '8675309'");
  EXPECT_EQ(Fetch(view), "end");
  db.Sql("INSERT INTO `phone` (`id`, `name`, `number`) VALUES ('1', 'Abe', '8675309')");
  EXPECT_EQ(Fetch(view), "end") << "rows inserted later need a new execute";
  EXPECT_EQ(MsiViewExecute(view, 0), 0u);
  EXPECT_EQ(Fetch(view), "1|Abe|8675309");
  MsiViewClose(view);
  MsiCloseHandle(view);
}

TEST_F(DatabaseTest, DeletingTheFetchedRowKeepsTheCursor) {
  TempDb db;
  BuildWizardTables(db);
  MSIHANDLE view = db.OpenView("SELECT * FROM `ListBox`");
  MSIHANDLE rec = 0;
  ASSERT_EQ(MsiViewFetch(view, &rec), 0u);
  EXPECT_EQ(RecordText(rec), "L11|1|Core\\Tools|Tools");
  // The row fetched goes, whatever the record's key fields say now.
  MsiRecordSetStringA(rec, 1, "L12");
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, rec), 0u);
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, rec), static_cast<UINT>(ERROR_FUNCTION_FAILED))
      << "the row is gone already";
  MsiCloseHandle(rec);
  EXPECT_EQ(Fetch(view), "L11|2|Core|Core files");
  ASSERT_EQ(MsiViewFetch(view, &rec), 0u);
  EXPECT_EQ(RecordText(rec), "L11|3|Extra|~");
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, rec), 0u);
  MsiCloseHandle(rec);
  EXPECT_EQ(Fetch(view), "L12|1|Docs|Manuals");
  EXPECT_EQ(Fetch(view), "end");
  MsiViewClose(view);
  MsiCloseHandle(view);
  EXPECT_EQ(db.Rows("SELECT `Value` FROM `ListBox`"), "[Core][Docs]");

  // Through a filtered view: fetch and delete each row in turn.
  view = db.OpenView("SELECT `Order` FROM `ListBox` WHERE `Order` <= 2");
  for (const char* expected : {"2", "1"}) {
    ASSERT_EQ(MsiViewFetch(view, &rec), 0u);
    EXPECT_EQ(RecordText(rec), expected);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, rec), 0u);
    MsiCloseHandle(rec);
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
  EXPECT_EQ(db.Rows("SELECT * FROM `ListBox`"), "");
}

// ---- MsiViewModify -------------------------------------------------------------------------

TEST_F(DatabaseTest, ModifyInsertsAndRefusesDuplicates) {
  TempDb db;
  db.Sql(
      "CREATE TABLE `AppSearch` (`Property` CHAR(72) NOT NULL, `Signature_` CHAR(72) NOT NULL "
      "PRIMARY KEY `Property`, `Signature_`)");
  db.Sql("CREATE TABLE `Pair` (`K` CHAR(72) NOT NULL, `A` CHAR(72), `B` INT PRIMARY KEY `K`)");
  MSIHANDLE notExecuted = 0;
  ASSERT_EQ(MsiDatabaseOpenViewA(db.h(), "SELECT `Property`, `Signature_` FROM `AppSearch`",
                                 &notExecuted),
            0u);
  const struct {
    MSIMODIFY mode;
    std::vector<Val> values;
    UINT result;
  } cases[] = {
      {MSIMODIFY_INSERT_TEMPORARY, {Str("P1"), Str("S1")}, ERROR_SUCCESS},
      {MSIMODIFY_INSERT_TEMPORARY, {Str("P1"), Str("S1")}, ERROR_FUNCTION_FAILED},
      {MSIMODIFY_INSERT, {Str("P1"), Str("S1")}, ERROR_FUNCTION_FAILED},
      {MSIMODIFY_INSERT, {Str("P1"), Str("S2"), Str("extra field")}, ERROR_SUCCESS},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Modify(notExecuted, c.mode, c.values), c.result) << c.values.size();
  MsiCloseHandle(notExecuted);
  // A record with fewer fields than the view has columns.
  MSIHANDLE executed = db.OpenView("SELECT * FROM `AppSearch`");
  EXPECT_EQ(Modify(executed, MSIMODIFY_INSERT_TEMPORARY, {Str("P2")}),
            static_cast<UINT>(ERROR_INVALID_DATA));
  EXPECT_EQ(Modify(executed, MSIMODIFY_SEEK, {Str("P1")}), static_cast<UINT>(ERROR_INVALID_DATA));
  MsiViewClose(executed);
  MsiCloseHandle(executed);
  EXPECT_EQ(db.Rows("SELECT * FROM `AppSearch`"), "[P1|S1][P1|S2]");

  // A view of some columns in another order inserts into the named columns.
  MSIHANDLE view = db.OpenView("SELECT `B`, `K` FROM `Pair`");
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Int(4), Str("k1")}), 0u);
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("12"), Str("k2")}), 0u);
  MsiCloseHandle(view);
  EXPECT_EQ(db.Rows("SELECT * FROM `Pair`"), "[k1|~|4][k2|~|12]");
}

TEST_F(DatabaseTest, ModifyUpdateAssignMergeAndRefresh) {
  TempDb db;
  db.Sql("CREATE TABLE `phone` (`id` INT, `name` CHAR(32), `number` CHAR(32) PRIMARY KEY `id`)");
  db.Sql("INSERT INTO `phone` (`id`, `name`, `number`) VALUES (1, 'bob', '7654321')");
  MSIHANDLE view = db.OpenView("SELECT * FROM `phone`");
  MSIHANDLE rec = 0;
  ASSERT_EQ(MsiViewFetch(view, &rec), 0u);
  MsiRecordSetStringA(rec, 3, "3141592");
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, rec), 0u);
  MsiRecordSetInteger(rec, 1, 5);
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, rec), static_cast<UINT>(ERROR_FUNCTION_FAILED))
      << "a key cannot change";
  MsiCloseHandle(rec);
  // A record that was not fetched cannot update, even with a matching key.
  EXPECT_EQ(Modify(view, MSIMODIFY_UPDATE, {Int(1), Str("jane"), Str("112358")}),
            static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(Modify(view, MSIMODIFY_ASSIGN, {Int(2), Str("amy"), Str("22")}), 0u);
  EXPECT_EQ(Modify(view, MSIMODIFY_ASSIGN, {Int(2), Str("ann"), Str("23")}), 0u);
  EXPECT_EQ(Modify(view, MSIMODIFY_MERGE, {Int(2), Str("ann"), Str("23")}), 0u);
  EXPECT_EQ(Modify(view, MSIMODIFY_MERGE, {Int(3), Str("cy"), Str("33")}), 0u);
  MsiViewClose(view);
  MsiCloseHandle(view);
  EXPECT_EQ(db.Rows("SELECT * FROM `phone`"), "[1|bob|3141592][2|ann|23][3|cy|33]");

  view = db.OpenView("SELECT * FROM `phone` WHERE `id` = 3");
  ASSERT_EQ(MsiViewFetch(view, &rec), 0u);
  db.Sql("UPDATE `phone` SET `name` = 'cyd' WHERE `id` = 3");
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_REFRESH, rec), 0u);
  EXPECT_EQ(RecordText(rec), "3|cyd|33");
  MsiCloseHandle(rec);
  MsiViewClose(view);
  MsiCloseHandle(view);
}

// ---- empty strings, nulls and integer ranges ------------------------------------------------

TEST_F(DatabaseTest, EmptyStringIsNull) {
  TempDb db;
  db.Sql(
      "CREATE TABLE `E` (`K` CHAR(10) NOT NULL, `A` CHAR(10), `B` INT, `C` CHAR(10) NOT NULL "
      "PRIMARY KEY `K`)");
  const char* insert = "INSERT INTO `E` (`K`, `A`, `B`, `C`) VALUES (?, ?, ?, ?)";
  EXPECT_EQ(db.Run("INSERT INTO `E` (`K`, `A`, `B`, `C`) VALUES ('k1', '', 1, 'c')"), 0u);
  EXPECT_EQ(db.Run("INSERT INTO `E` (`K`, `A`, `B`, `C`) VALUES ('k2', 'a', '', 'c')"), 0u);
  EXPECT_EQ(db.Run(insert, {Str("k3"), Str(""), Str(""), Str("c")}), 0u);
  EXPECT_EQ(db.Run("INSERT INTO `E` (`K`, `A`, `B`, `C`) VALUES ('k4', 'a', 1, '')"),
            static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(db.Run(insert, {Str(""), Str("a"), Int(1), Str("c")}),
            static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(db.Run("INSERT INTO `E` (`K`, `A`) VALUES ('k5', 'a')"),
            static_cast<UINT>(ERROR_FUNCTION_FAILED))
      << "a NOT NULL column left out";
  const QueryCase cases[] = {
      {"SELECT `K` FROM `E` WHERE `A` IS NULL", {}, "[k1][k3]"},
      {"SELECT `K` FROM `E` WHERE `A` = ''", {}, "[k1][k3]"},
      {"SELECT `K` FROM `E` WHERE `A` = ?", {Str("")}, "[k1][k3]"},
      {"SELECT `K` FROM `E` WHERE `A` <> ?", {Str("a")}, "[k1][k3]"},
      {"SELECT `K` FROM `E` WHERE `B` IS NULL", {}, "[k2][k3]"},
      {"SELECT * FROM `E` WHERE `K` = 'k3'", {}, "[k3|~|~|c]"},
  };
  for (const QueryCase& c : cases) EXPECT_EQ(db.Rows(c.sql, c.params), c.rows) << c.sql;

  MSIHANDLE view = db.OpenView("SELECT `A`, `B` FROM `E` WHERE `K` = 'k3'");
  MSIHANDLE rec = 0;
  ASSERT_EQ(MsiViewFetch(view, &rec), 0u);
  char buffer[8] = "x";
  DWORD size = sizeof buffer;
  EXPECT_EQ(MsiRecordGetStringA(rec, 1, buffer, &size), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(MsiRecordGetInteger(rec, 2), static_cast<int>(MSI_NULL_INTEGER));
  MsiCloseHandle(rec);
  MsiViewClose(view);
  MsiCloseHandle(view);
}

TEST_F(DatabaseTest, IntegerColumnsKeepTheirRange) {
  const struct {
    const char* type;
    Val value;
    UINT result;
    const char* stored;
  } cases[] = {
      {"SHORT", Int(32767), ERROR_SUCCESS, "32767"},
      {"SHORT", Int(-32767), ERROR_SUCCESS, "-32767"},
      {"SHORT", Int(-32768), ERROR_SUCCESS, "~"},
      {"SHORT", Int(40000), ERROR_FUNCTION_FAILED, nullptr},
      {"SHORT", Int(-40000), ERROR_FUNCTION_FAILED, nullptr},
      {"SHORT", Str("12"), ERROR_SUCCESS, "12"},
      {"INT", Str("x7"), ERROR_SUCCESS, "~"},  // text that is no integer is null
      {"INT NOT NULL", Str("x7"), ERROR_FUNCTION_FAILED, nullptr},
      {"INT NOT NULL", Str(""), ERROR_FUNCTION_FAILED, nullptr},
      {"LONG", Int(2147483647), ERROR_SUCCESS, "2147483647"},
      {"LONG", Int(-2147483647), ERROR_SUCCESS, "-2147483647"},
      {"LONG", Int(40000), ERROR_SUCCESS, "40000"},
  };
  for (const auto& c : cases) {
    TempDb db;
    db.Sql(std::string("CREATE TABLE `N` (`K` SHORT NOT NULL, `V` ") + c.type +
           " PRIMARY KEY `K`)");
    EXPECT_EQ(db.Run("INSERT INTO `N` (`K`, `V`) VALUES (1, ?)", {c.value}), c.result) << c.type;
    if (c.stored) {
      EXPECT_EQ(db.Rows("SELECT `V` FROM `N`"), std::string("[") + c.stored + "]");
    }
  }
}

TEST_F(DatabaseTest, ModifyReportsValuesOfTheWrongKind) {
  const struct {
    std::vector<Val> values;
    UINT result;
  } cases[] = {
      {{Str("k"), Int(1), Str("x"), Int(2)}, ERROR_SUCCESS},
      {{Int(5), Int(1), Str("x"), Int(2)}, ERROR_INVALID_DATA},        // integer into text
      {{Str("k"), Str("one"), Str("x"), Int(2)}, ERROR_INVALID_DATA},  // no integer, NOT NULL
      {{Nul(), Int(1), Str("x"), Int(2)}, ERROR_INVALID_DATA},         // null into NOT NULL
      {{Str("k"), Int(40000), Str("x"), Int(2)}, ERROR_FUNCTION_FAILED},
      {{Str("k"), Int(1), Str("x"), Str("two")}, ERROR_SUCCESS},  // reads as null
  };
  for (const auto& c : cases) {
    TempDb db;
    db.Sql(
        "CREATE TABLE `M` (`K` CHAR(8) NOT NULL, `N` SHORT NOT NULL, `T` CHAR(8), `I` SHORT "
        "PRIMARY KEY `K`)");
    MSIHANDLE view = db.OpenView("SELECT * FROM `M`");
    EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, c.values), c.result);
    MsiCloseHandle(view);
    if (c.result == 0u) {
      EXPECT_EQ(db.Rows("SELECT `I` FROM `M`"), c.values[3].kind == Val::kInt ? "[2]" : "[~]");
    }
  }
}

// ---- database files and summary information --------------------------------------------------

TEST_F(DatabaseTest, CommittedDatabaseOpensAgainAndUncommittedOneVanishes) {
  std::string path = TempFile("dbf");
  MSIHANDLE db = 0;
  EXPECT_NE(MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_READONLY, &db), 0u);
#ifndef _WIN32
  EXPECT_EQ(MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_READONLY, &db),
            static_cast<UINT>(ERROR_OPEN_FAILED));  // Wine answers 1627 here
#endif
  EXPECT_EQ(MsiOpenDatabaseA(path.c_str(), reinterpret_cast<LPCSTR>(0xff), &db),
            static_cast<UINT>(ERROR_INVALID_PARAMETER));

  for (LPCSTR mode : {MSIDBOPEN_CREATE, MSIDBOPEN_CREATEDIRECT}) {
    ASSERT_EQ(MsiOpenDatabaseA(path.c_str(), mode, &db), 0u);
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    MsiCloseHandle(db);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << "never committed";
  }

  ASSERT_EQ(MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_CREATE, &db), 0u);
  MSIHANDLE view = 0;
  ASSERT_EQ(
      MsiDatabaseOpenViewA(db, "CREATE TABLE `T` (`K` CHAR(8) NOT NULL PRIMARY KEY `K`)", &view),
      0u);
  EXPECT_EQ(MsiViewExecute(view, 0), 0u);
  MsiCloseHandle(view);
  EXPECT_EQ(MsiDatabaseCommit(db), 0u);
  MsiCloseHandle(db);

  // A second path as the persist argument: a copy that exists only once committed.
  std::string copy = TempFile("dbc");
  ASSERT_EQ(MsiOpenDatabaseA(path.c_str(), copy.c_str(), &db), 0u);
  MsiCloseHandle(db);
  EXPECT_EQ(GetFileAttributesA(copy.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(MsiOpenDatabaseA(path.c_str(), copy.c_str(), &db), 0u);
  EXPECT_EQ(MsiDatabaseCommit(db), 0u);
  MsiCloseHandle(db);
  EXPECT_NE(GetFileAttributesA(copy.c_str()), INVALID_FILE_ATTRIBUTES);

  for (LPCSTR mode : {MSIDBOPEN_READONLY, MSIDBOPEN_TRANSACT, MSIDBOPEN_DIRECT}) {
    ASSERT_EQ(MsiOpenDatabaseA(path.c_str(), mode, &db), 0u);
    ASSERT_EQ(MsiDatabaseOpenViewA(db, "SELECT * FROM `T`", &view), 0u);
    MsiCloseHandle(view);
    EXPECT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
  }
  DeleteFileA(copy.c_str());
  DeleteFileA(path.c_str());
}

TEST_F(DatabaseTest, RowsAndChangesLastOnlyWhenCommitted) {
  TempDb db;
  db.Sql("CREATE TABLE `T` (`A` SHORT NOT NULL, `B` CHAR(20) PRIMARY KEY `A`)");
  db.Sql("INSERT INTO `T` (`A`, `B`) VALUES (1, 'a')");
  db.Sql("INSERT INTO `T` (`A`, `B`) VALUES (3, 'c')");
  db.Commit();
  db.Reopen(MSIDBOPEN_TRANSACT);
  db.Sql("UPDATE `T` SET `B` = 'u' WHERE `A` = 1");
  db.Sql("INSERT INTO `T` (`A`, `B`) VALUES (2, 'b')");
  db.Reopen(MSIDBOPEN_TRANSACT);  // closed without a commit
  EXPECT_EQ(db.Rows("SELECT * FROM `T`"), "[1|a][3|c]");
  db.Sql("DELETE FROM `T` WHERE `A` = 1");
  db.Commit();
  db.Reopen(MSIDBOPEN_READONLY);
  EXPECT_EQ(db.Rows("SELECT * FROM `T`"), "[3|c]");
}

#ifndef _WIN32
// Wine's msi drops persistent rows when it commits a table that also holds
// temporary rows, so this is pinned natively only.
TEST_F(DatabaseTest, TemporaryRowsAndTablesAreNeverWritten) {
  TempDb db;
  db.Sql("CREATE TABLE `T` (`A` SHORT NOT NULL, `B` CHAR(20) PRIMARY KEY `A`)");
  db.Sql("CREATE TABLE `H` (`A` SHORT NOT NULL TEMPORARY PRIMARY KEY `A`) HOLD");
  db.Sql("INSERT INTO `T` (`A`, `B`) VALUES (1, 'a')");
  db.Sql("INSERT INTO `T` (`A`, `B`) VALUES (2, 'tmp') TEMPORARY");
  MSIHANDLE view = db.OpenView("SELECT * FROM `T`");
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Int(3), Str("tmp")}), 0u);
  MsiCloseHandle(view);
  db.Commit();
  db.Reopen(MSIDBOPEN_READONLY);
  EXPECT_EQ(db.Rows("SELECT * FROM `T`"), "[1|a]");
  EXPECT_EQ(db.Rows("SELECT * FROM `H`"), "open 1615");
}
#endif

TEST_F(DatabaseTest, SummaryInformationIsStoredWithTheDatabase) {
  TempDb db;
  MSIHANDLE si = 0;
  ASSERT_EQ(MsiGetSummaryInformationA(db.h(), nullptr, 0, &si), 0u);
  UINT type = 99;
  EXPECT_EQ(MsiSummaryInfoGetPropertyA(si, PID_TEMPLATE, &type, nullptr, nullptr, nullptr, nullptr),
            0u);
  EXPECT_EQ(type, static_cast<UINT>(VT_EMPTY));
  EXPECT_EQ(MsiSummaryInfoSetPropertyA(si, PID_TEMPLATE, VT_LPSTR, 0, nullptr, ";1033"),
            static_cast<UINT>(ERROR_FUNCTION_FAILED))
      << "no updates were asked for";
  MsiCloseHandle(si);

  ASSERT_EQ(MsiGetSummaryInformationA(db.h(), nullptr, 3, &si), 0u);
  const struct {
    UINT pid, type;
    int value;
    const char* text;
    UINT result;
  } sets[] = {
      {PID_TEMPLATE, VT_LPSTR, 0, ";1033", ERROR_SUCCESS},
      {PID_TEMPLATE, VT_LPSTR, 0, "Intel;1033", ERROR_SUCCESS},  // not a new property
      {PID_PAGECOUNT, VT_I4, 200, nullptr, ERROR_SUCCESS},
      {PID_PAGECOUNT, VT_LPSTR, 0, "x", ERROR_DATATYPE_MISMATCH},
      {50, VT_I4, 1, nullptr, ERROR_DATATYPE_MISMATCH},
      {PID_WORDCOUNT, VT_I4, 2, nullptr, ERROR_SUCCESS},
      {PID_SUBJECT, VT_LPSTR, 0, "four", ERROR_FUNCTION_FAILED},  // three updates used
  };
  for (const auto& s : sets)
    EXPECT_EQ(MsiSummaryInfoSetPropertyA(si, s.pid, s.type, s.value, nullptr, s.text), s.result)
        << s.pid;
  EXPECT_EQ(MsiSummaryInfoPersist(si), 0u);
  MsiCloseHandle(si);
  db.Commit();
  db.Close();

  ASSERT_EQ(MsiGetSummaryInformationA(0, db.path().c_str(), 0, &si), 0u);
  char text[4] = "";
  DWORD size = sizeof text;
  EXPECT_EQ(MsiSummaryInfoGetPropertyA(si, PID_TEMPLATE, &type, nullptr, nullptr, text, &size),
            static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_EQ(type, static_cast<UINT>(VT_LPSTR));
  EXPECT_EQ(size, 10u);
  EXPECT_STREQ(text, "Int");
  INT value = 0;
  EXPECT_EQ(MsiSummaryInfoGetPropertyA(si, PID_PAGECOUNT, &type, &value, nullptr, nullptr, nullptr),
            0u);
  EXPECT_EQ(type, static_cast<UINT>(VT_I4));
  EXPECT_EQ(value, 200);
  MsiCloseHandle(si);
}

// Under code page 932 a trail byte may be a back quote; names and literals
// keep their double-byte characters whole.
TEST_F(DatabaseTest, DbcsNamesAndLiteralsStayWhole) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  TempDb db;
  const std::string table = "\x83\x60\x83\x65";  // two katakana, the first ends in '`'
  const std::string value = "\x95\x5C\x83\x60";  // trail bytes '\' and '`'
  db.Sql("CREATE TABLE `" + table + "` (`K` CHAR(72) NOT NULL, `V` CHAR(72) PRIMARY KEY `K`)");
  db.Sql("INSERT INTO `" + table + "` (`K`, `V`) VALUES ('" + value + "', 'a')");
  EXPECT_EQ(db.Rows("SELECT `K` FROM `" + table + "` WHERE `K` = '" + value + "'"),
            "[" + value + "]");
  EXPECT_EQ(db.Rows("SELECT `V` FROM `" + table + "` WHERE `K` = ?", {Str(value)}), "[a]");
}

// ---- the active database of an install session -----------------------------------------------

TEST(DatabaseSession, ActiveDatabaseServesViewsAndTemporaryRows) {
  Package pkg;
  pkg.Sql(
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
      "`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)");
  pkg.Sql(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES "
      "('TARGETDIR', '', 'SourceDir')");
  MSIHANDLE install = pkg.Open();
  HandleCheck handles;
  MSIHANDLE db = MsiGetActiveDatabase(install);
  ASSERT_NE(db, 0u);
  MSIHANDLE view = 0;
  ASSERT_EQ(MsiDatabaseOpenViewA(db, "SELECT * FROM `Directory` WHERE `Directory`=?", &view), 0u);
  MSIHANDLE key = MakeRecord({Str("RM_FILE_1")});
  EXPECT_EQ(MsiViewExecute(view, key), 0u);
  EXPECT_EQ(Fetch(view), "end");
  EXPECT_EQ(
      Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("RM_FILE_1"), Str("TARGETDIR"), Str(".")}), 0u);
  EXPECT_EQ(MsiViewExecute(view, key), 0u);
  EXPECT_EQ(Fetch(view), "RM_FILE_1|TARGETDIR|.");
  MsiCloseHandle(key);
  MsiViewClose(view);
  MsiCloseHandle(view);
  MsiCloseHandle(db);
}

#ifndef _WIN32
// Walking a tree of 100,000 entries into tables: keyed lookups and inserts stay
// cheap however large the table grows.
TEST_F(DatabaseTest, LargeTablesStayFast) {
  TempDb db;
  db.Sql(
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
      "`DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)");
  MSIHANDLE lookup = db.OpenView("SELECT * FROM `Directory` WHERE `Directory`=?", {Str("none")});
  MSIHANDLE key = MakeRecord({Str("")});
  MSIHANDLE row = MakeRecord({Str(""), Str("TARGETDIR"), Str(".")});
  auto start = std::chrono::steady_clock::now();
  const int kRows = 100000;
  for (int i = 0; i < kRows; ++i) {
    std::string name = "RM_" + std::to_string(i);
    MsiRecordSetStringA(key, 1, name.c_str());
    ASSERT_EQ(MsiViewExecute(lookup, key), 0u);
    MSIHANDLE found = 0;
    ASSERT_EQ(MsiViewFetch(lookup, &found), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    MsiRecordSetStringA(row, 1, name.c_str());
    ASSERT_EQ(MsiViewModify(lookup, MSIMODIFY_INSERT_TEMPORARY, row), 0u);
  }
  MsiCloseHandle(row);
  MsiCloseHandle(key);
  MSIHANDLE all = db.OpenView("SELECT `Directory` FROM `Directory`");
  int count = 0;
  for (MSIHANDLE rec = 0; MsiViewFetch(all, &rec) == ERROR_SUCCESS; ++count) {
    if (count % 2) MsiViewModify(all, MSIMODIFY_DELETE, rec);
    MsiCloseHandle(rec);
  }
  EXPECT_EQ(count, kRows);
  EXPECT_EQ(db.Rows("SELECT `Directory` FROM `Directory` WHERE `Directory` = 'RM_99998'"),
            "[RM_99998]");
  EXPECT_EQ(db.Rows("SELECT `Directory` FROM `Directory` WHERE `Directory` = 'RM_99999'"), "");
  MsiCloseHandle(all);
  MsiCloseHandle(lookup);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 60.0) << "row operations grow faster than the table";
}
#endif

}  // namespace
