// The package database at the installer API: the SQL forms the actions send,
// row order, cursors, MsiViewModify, null handling, column names and error
// codes. Every shared case also runs against the real msi.dll.
#include <initializer_list>
#include <string>
#include <utility>
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

// A record as "a|1|~". A null field shows "~" only when it also reads as it
// does in a real record: empty text with result 0, data size 0 and the null
// integer, which the query object relies on.
std::string RecordText(MSIHANDLE rec) {
  std::string text;
  for (UINT i = 1, count = MsiRecordGetFieldCount(rec); i <= count; ++i) {
    char buffer[512] = "x";
    DWORD size = sizeof buffer;
    UINT r = MsiRecordGetStringA(rec, i, buffer, &size);
    text += i > 1 ? "|" : "";
    if (r != ERROR_SUCCESS) text += "<" + std::to_string(r) + ">";
    else if (!MsiRecordIsNull(rec, i)) text += std::string(buffer, size);
    else if (size == 0 && !*buffer && MsiRecordDataSize(rec, i) == 0 &&
             MsiRecordGetInteger(rec, i) == static_cast<int>(MSI_NULL_INTEGER))
      text += "~";
    else text += "<null that reads as a value>";
  }
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

void CloseView(MSIHANDLE view) {
  if (!view) return;
  MsiViewClose(view);
  MsiCloseHandle(view);
}

UINT Modify(MSIHANDLE view, MSIMODIFY mode, const std::vector<Val>& values) {
  MSIHANDLE rec = MakeRecord(values);
  UINT r = MsiViewModify(view, mode, rec);
  MsiCloseHandle(rec);
  return r;
}

// A database created in a temporary file, closed and deleted at the end.
struct TempDb {
  std::string path;
  MSIHANDLE h = 0;
  TempDb() {
    static int counter = 0;
    char dir[MAX_PATH] = "";
    GetTempPathA(sizeof dir, dir);
    path = std::string(dir) + "dbt" + std::to_string(GetTickCount()) + "_" +
           std::to_string(++counter) + ".msi";
    EXPECT_EQ(MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_CREATE, &h), 0u);
  }
  ~TempDb() {
    MsiCloseHandle(h);
    DeleteFileA(path.c_str());
  }

  // Opens a view (0 in *view when that fails) and executes it; the first failing code.
  UINT Exec(const std::string& sql, const std::vector<Val>& params, MSIHANDLE* view) {
    UINT r = MsiDatabaseOpenViewA(h, sql.c_str(), view);
    if (r != ERROR_SUCCESS) return *view = 0, r;
    MSIHANDLE rec = params.empty() ? 0 : MakeRecord(params);
    r = MsiViewExecute(*view, rec);
    if (rec) MsiCloseHandle(rec);
    return r;
  }
  UINT Run(const std::string& sql, const std::vector<Val>& params = {}) {
    MSIHANDLE view = 0;
    UINT r = Exec(sql, params, &view);
    CloseView(view);
    return r;
  }
  void Sql(const std::string& sql) { ASSERT_EQ(Run(sql), 0u) << sql; }
  void Insert(const std::string& table, const std::string& columns,
              std::initializer_list<const char*> rows) {
    for (const char* row : rows)
      Sql("INSERT INTO `" + table + "` (" + columns + ") VALUES (" + row + ")");
  }
  MSIHANDLE OpenView(const std::string& sql, const std::vector<Val>& params = {}) {
    MSIHANDLE view = 0;
    EXPECT_EQ(Exec(sql, params, &view), 0u) << sql;
    return view;
  }

  // Every row of a query as "[a|b][c|~]", or "open N" / "execute N" on failure.
  std::string Rows(const std::string& sql, const std::vector<Val>& params = {}) {
    MSIHANDLE view = 0;
    UINT r = Exec(sql, params, &view);
    std::string rows = !view ? "open " + std::to_string(r)
                       : r   ? "execute " + std::to_string(r)
                             : "";
    for (std::string row; view && !r && (row = Fetch(view)) != "end";) {
      rows += "[" + row + "]";
      if (row.rfind("fetch", 0) == 0 || rows.size() > 4000) break;
    }
    CloseView(view);
    return rows;
  }

  void Reopen(LPCSTR mode) {
    EXPECT_EQ(MsiDatabaseCommit(h), 0u);
    MsiCloseHandle(h);
    EXPECT_EQ(MsiOpenDatabaseA(path.c_str(), mode, &h), 0u);
  }
};

// Tables in the shape of the installer tables the product queries.
void BuildWizardTables(TempDb& db) {
  db.Sql("CREATE TABLE `ListBox` (`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, `Value` "
         "CHAR(64) NOT NULL, `Text` CHAR(64) LOCALIZABLE PRIMARY KEY `Property`, `Order`)");
  db.Insert("ListBox", "`Property`, `Order`, `Value`, `Text`",
            {"'L11', 2, 'Core', 'Core files'", "'L11', 1, 'Core\\Tools', 'Tools'",
             "'L12', 1, 'Docs', 'Manuals'", "'L11', 3, 'Extra', ''"});
  db.Sql("CREATE TABLE `ControlEvent` (`Dialog_` CHAR(72) NOT NULL, `Control_` CHAR(50) NOT NULL, "
         "`Event` CHAR(50) NOT NULL, `Argument` CHAR(255) NOT NULL, `Condition` CHAR(255), "
         "`Ordering` SHORT PRIMARY KEY `Dialog_`, `Control_`, `Event`, `Argument`, `Condition`)");
  db.Insert("ControlEvent", "`Dialog_`, `Control_`, `Event`, `Argument`, `Condition`, `Ordering`",
            {"'Welcome', 'Next', 'DoAction', 'Search', '1', 3",
             "'Welcome', 'Next', 'NewDialog', 'Folder', 'A=1', 1",
             "'Welcome', 'Next', '[DIR]', '[X]', '1', 2",
             "'Folder', 'Next', 'EndDialog', 'Return', '1', 1"});
  db.Sql("CREATE TABLE `VmrAppSearch` (`Property` CHAR(72) NOT NULL, `Signature_` CHAR(72) NOT "
         "NULL, `Order` SHORT, `PreferDefault` SHORT PRIMARY KEY `Property`, `Signature_`)");
  db.Insert("VmrAppSearch", "`Property`, `Signature_`, `Order`, `PreferDefault`",
            {"'P1', 'S1', 20, 1", "'P2', 'S2', '', 0", "'P3', 'S3', 10, ''", "'P4', 'S4', '', ''"});
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
      {"SELECT * FROM `ListBox` WHERE `Property`=? AND `Value`=?", {Str("L11"), Str("Core")},
       "[L11|2|Core|Core files]"},
      {"SELECT * FROM `ListBox` WHERE `Property`=? AND `Value`<>?", {Str("L11"), Str("Core")},
       "[L11|1|Core\\Tools|Tools][L11|3|Extra|~]"},
      {"SELECT * FROM `ListBox` WHERE `Property`=?", {Str("nowhere")}, ""},
      {"SELECT * FROM `ListBox` WHERE `Property`='L11' AND `Order`>1", {},
       "[L11|2|Core|Core files][L11|3|Extra|~]"},
      {"SELECT `Property`, `Signature_`, `PreferDefault` FROM `VmrAppSearch` WHERE `Order` is "
       "not null ORDER BY `Order`", {}, "[P3|S3|~][P1|S1|1]"},
      {"SELECT `Property`, `Signature_`, `PreferDefault` FROM `VmrAppSearch` WHERE `Order` is null",
       {}, "[P2|S2|0][P4|S4|~]"},
      {"SELECT * FROM `ControlEvent` WHERE `Dialog_`=? AND `Control_`=? ORDER BY `Ordering`",
       {Str("Welcome"), Str("Next")},
       "[Welcome|Next|NewDialog|Folder|A=1|1][Welcome|Next|[DIR]|[X]|1|2]"
       "[Welcome|Next|DoAction|Search|1|3]"},
      {"SELECT `Value` FROM `ListBox` WHERE `Order`=1", {}, "[Core\\Tools][Docs]"},
      {"SELECT `Event` FROM `ControlEvent` WHERE `Event`='EndDialog' AND `Argument` = 'Return'",
       {}, "[EndDialog]"},
      {"SELECT `Event` FROM `ControlEvent` WHERE `Dialog_`='Welcome' AND `Control_`='Next' AND "
       "`Event`='DoAction'", {}, "[DoAction]"},
      {"SELECT `Dialog_`, `Ordering` FROM `ControlEvent` ORDER BY `Ordering`,`Dialog_`", {},
       "[Welcome|1][Folder|1][Welcome|2][Welcome|3]"},
  };
  for (const QueryCase& c : cases) EXPECT_EQ(db.Rows(c.sql, c.params), c.rows) << c.sql;
}

#ifndef _WIN32
// Wine's msi does not break ties of a leading text column by the later ORDER BY
// columns, and removes only every other matching row in a DELETE; the installer
// sorts by every column given and removes every row the condition selects,
// which the report merge and the dialog-control clean-up rely on.
TEST_F(DatabaseTest, OrderByUsesEveryColumnAndDeleteEveryRow) {
  TempDb db;
  BuildWizardTables(db);
  EXPECT_EQ(db.Rows("SELECT `Dialog_`, `Ordering` FROM `ControlEvent` ORDER BY `Dialog_`, "
                    "`Ordering`"),
            "[Welcome|1][Welcome|2][Welcome|3][Folder|1]");
  db.Sql("CREATE TABLE `T` (`K` SHORT NOT NULL, `G` CHAR(5) PRIMARY KEY `K`)");
  for (int k = 1; k <= 6; ++k)
    EXPECT_EQ(db.Run("INSERT INTO `T` (`K`, `G`) VALUES (?, ?)", {Int(k), Str(k == 4 ? "h" : "g")}),
              0u);
  EXPECT_EQ(db.Run("DELETE FROM `T` WHERE `G` = 'g'"), 0u);
  EXPECT_EQ(db.Rows("SELECT * FROM `T`"), "[4|h]");
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
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("F2"), Str("A"), Str("B")}), 0u);
  CloseView(view);
  // A DELETE with parameters removes the row that matches every condition.
  EXPECT_EQ(db.Run("DELETE FROM `FeatureList` WHERE `Value`=? AND `Text`=?", {Str("A"), Str("A")}),
            0u);
  EXPECT_EQ(db.Rows("SELECT `ID`, `Value` FROM `FeatureList`"), "[F1|A\\B][F2|A]");
  EXPECT_EQ(db.Run("DROP TABLE `FeatureList`"), 0u);
  EXPECT_EQ(db.Rows("SELECT * FROM `FeatureList`"), "open 1615");
  EXPECT_EQ(db.Run("DROP TABLE `FeatureList`"), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  db.Sql(create);
  EXPECT_EQ(db.Rows("SELECT * FROM `FeatureList`"), "");
}

// ---- errors when a view is opened, and bad handles ----------------------------------

TEST_F(DatabaseTest, BadQueriesFailWithBadQuerySyntax) {
  TempDb db;
  db.Sql("CREATE TABLE `T` (`K` CHAR(72) NOT NULL, `N` SHORT PRIMARY KEY `K`)");
  for (const char* q : {"SELECT * FROM `Missing`", "SELECT `Nope` FROM `T`",
                        "SELECT * FROM `T` WHERE `Nope` = 1", "SELECT * FROM `T` ORDER BY `Nope`",
                        "SELECT * FROM `T` WHERE `K` = \"x\"", "SELECT * FROM `T` WHERE `K` = 'x",
                        "SELECT * FROM T WHERE K = 'it''s'",  // a value holding an apostrophe
                        "DELETE FROM `Missing`", "DROP TABLE `Missing`", ""}) {
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewA(db.h, q, &view), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX))
        << q;
    if (view) MsiCloseHandle(view);
  }
}

TEST_F(DatabaseTest, HandlesAndArgumentsAreChecked) {
  TempDb db;
  db.Sql("CREATE TABLE `T` (`K` CHAR(72) NOT NULL PRIMARY KEY `K`)");
  MSIHANDLE record = MsiCreateRecord(1), view = db.OpenView("SELECT * FROM `T`"), out = 0;
  const UINT badHandle = ERROR_INVALID_HANDLE, badArgument = ERROR_INVALID_PARAMETER;
  EXPECT_EQ(MsiDatabaseOpenViewA(0, "SELECT * FROM `T`", &out), badHandle);
  EXPECT_EQ(MsiDatabaseOpenViewA(record, "SELECT * FROM `T`", &out), badHandle);
  EXPECT_EQ(MsiViewExecute(record, 0), badHandle);
  EXPECT_EQ(MsiViewFetch(0, nullptr), badArgument);
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, 0), badHandle);
  EXPECT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, nullptr), badArgument);
  EXPECT_EQ(MsiViewGetColumnInfo(0, MSICOLINFO_NAMES, &out), badHandle);
  MsiCloseHandle(record);
  CloseView(view);
  view = db.OpenView("DROP TABLE `T`");
  EXPECT_EQ(MsiViewFetch(view, &out), static_cast<UINT>(ERROR_FUNCTION_FAILED)) << "no rows";
  CloseView(view);
}

// The column names are what the query object counts to size its records; for
// a whole-table view the n-th key column trades places with the column in the
// n-th slot, and the actions read columns by position.
TEST_F(DatabaseTest, ColumnNamesFollowTheViewAndTheKeys) {
  TempDb db;
  db.Sql("CREATE TABLE `C` (`a` CHAR(72) NOT NULL, `b` CHAR, `g` LONG PRIMARY KEY `a`)");
  db.Sql("CREATE TABLE `Keys` (`B` SHORT NOT NULL, `C` SHORT NOT NULL, `A` CHAR(255), `E` INT, "
         "`D` CHAR(255) NOT NULL PRIMARY KEY `D`, `E`)");
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT * FROM `C`", "a|b|g"},
      {"SELECT `g`, `a` FROM `C` WHERE `b` = 'x'", "g|a"},
      {"SELECT * FROM `Keys`", "D|E|A|C|B"}};
  for (const auto& [sql, names] : cases) {
    MSIHANDLE view = 0, record = 0;
    ASSERT_EQ(MsiDatabaseOpenViewA(db.h, sql, &view), 0u) << sql;
    ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, &record), 0u) << sql;
    EXPECT_EQ(RecordText(record), names) << sql;
    MsiCloseHandle(record);
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
  db.Reopen(MSIDBOPEN_READONLY);  // the order survives the database file
  EXPECT_EQ(db.Rows("SELECT * FROM `Second`"), expected);
}

TEST_F(DatabaseTest, IntegerKeysAreInValueOrderWithNullFirst) {
  TempDb db;
  for (const std::string table : {"S", "L"}) {
    db.Sql("CREATE TABLE `" + table + "` (`N` " + (table == "S" ? "SHORT" : "LONG") +
           ", `T` CHAR(8) PRIMARY KEY `N`)");
    for (int n : {7, -5, 32767, 0, -32767, 12})
      EXPECT_EQ(db.Run("INSERT INTO `" + table + "` (`N`, `T`) VALUES (?, 'v')", {Int(n)}), 0u);
    EXPECT_EQ(db.Run("INSERT INTO `" + table + "` (`T`) VALUES ('null')"), 0u);
    EXPECT_EQ(db.Rows("SELECT `N` FROM `" + table + "`"), "[~][-32767][-5][0][7][12][32767]")
        << table;
  }
}

TEST_F(DatabaseTest, TemporaryRowsTakeTheirPlaceInKeyOrder) {
  TempDb db;
  BuildWizardTables(db);
  MSIHANDLE view = db.OpenView("SELECT * FROM `ListBox`");
  const std::vector<Val> rows[] = {{Str("L11"), Int(0), Str("New"), Str("n")},
                                   {Str("L12"), Int(5), Str("Last"), Nul()},
                                   {Str("L10"), Int(1), Str("A"), Nul()}};
  for (const auto& row : rows) EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, row), 0u);
  CloseView(view);
  EXPECT_EQ(db.Rows("SELECT `Property`, `Order` FROM `ListBox`"),
            "[L11|0][L11|1][L11|2][L11|3][L12|1][L12|5][L10|1]");
}

// ---- fetching ------------------------------------------------------------------------------

TEST_F(DatabaseTest, FetchStartsAgainAfterTheLastRow) {
  TempDb db;
  BuildWizardTables(db);
  MSIHANDLE view = db.OpenView("SELECT `Value` FROM `ListBox` WHERE `Property` = ?", {Str("L11")});
  for (const char* e : {"Core\\Tools", "Core", "Extra", "end", "Core\\Tools", "Core"})
    EXPECT_EQ(Fetch(view), e);
  CloseView(view);
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
  CloseView(view);
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
  CloseView(view);
  EXPECT_EQ(db.Rows("SELECT `Value` FROM `ListBox`"), "[Core][Docs]");

  // Through a filtered view: fetch and delete each row in turn.
  view = db.OpenView("SELECT `Order` FROM `ListBox` WHERE `Order` <= 2");
  for (const char* expected : {"2", "1"}) {
    ASSERT_EQ(MsiViewFetch(view, &rec), 0u);
    EXPECT_EQ(RecordText(rec), expected);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, rec), 0u);
    MsiCloseHandle(rec);
  }
  CloseView(view);
  EXPECT_EQ(db.Rows("SELECT * FROM `ListBox`"), "");
}

// ---- MsiViewModify, empty strings, nulls and integer ranges ---------------------------------

TEST_F(DatabaseTest, ModifyInsertsAndRefusesDuplicates) {
  TempDb db;
  db.Sql("CREATE TABLE `AppSearch` (`Property` CHAR(72) NOT NULL, `Signature_` CHAR(72) NOT NULL "
         "PRIMARY KEY `Property`, `Signature_`)");
  db.Sql("INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('P0', 'S0')");
  const UINT failed = ERROR_FUNCTION_FAILED;
  EXPECT_EQ(db.Run("INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('P0', 'S0')"), failed);
  MSIHANDLE view = 0;  // never executed: it inserts all the same
  ASSERT_EQ(MsiDatabaseOpenViewA(db.h, "SELECT `Property`, `Signature_` FROM `AppSearch`", &view),
            0u);
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("P1"), Str("S1")}), 0u);
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("P1"), Str("S1")}), failed);
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT, {Str("P1"), Str("S1")}), failed);
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT, {Str("P1"), Str("S2"), Str("extra field")}), 0u);
  MsiCloseHandle(view);
  view = db.OpenView("SELECT * FROM `AppSearch`");
  EXPECT_EQ(Modify(view, MSIMODIFY_INSERT_TEMPORARY, {Str("P2")}), UINT{ERROR_INVALID_DATA})
      << "fewer fields than columns";
  CloseView(view);
  EXPECT_EQ(db.Rows("SELECT * FROM `AppSearch`"), "[P0|S0][P1|S1][P1|S2]");
}

TEST_F(DatabaseTest, EmptyStringIsNull) {
  TempDb db;
  db.Sql("CREATE TABLE `E` (`K` CHAR(10) NOT NULL, `A` CHAR(10), `B` INT, `C` CHAR(10) NOT NULL "
         "PRIMARY KEY `K`)");
  const char* insert = "INSERT INTO `E` (`K`, `A`, `B`, `C`) VALUES (?, ?, ?, ?)";
  EXPECT_EQ(db.Run("INSERT INTO `E` (`K`, `A`, `B`, `C`) VALUES ('k1', '', 1, 'c')"), 0u);
  EXPECT_EQ(db.Run("INSERT INTO `E` (`K`, `A`, `B`, `C`) VALUES ('k2', 'a', '', 'c')"), 0u);
  EXPECT_EQ(db.Run(insert, {Str("k3"), Str(""), Str(""), Str("c")}), 0u);
  const UINT failed = ERROR_FUNCTION_FAILED;
  EXPECT_EQ(db.Run("INSERT INTO `E` (`K`, `A`, `B`, `C`) VALUES ('k4', 'a', 1, '')"), failed);
  EXPECT_EQ(db.Run(insert, {Str(""), Str("a"), Int(1), Str("c")}), failed);
  EXPECT_EQ(db.Run("INSERT INTO `E` (`K`, `A`) VALUES ('k5', 'a')"), failed) << "NOT NULL left out";
  const QueryCase cases[] = {
      {"SELECT `K` FROM `E` WHERE `A` IS NULL", {}, "[k1][k3]"},
      {"SELECT `K` FROM `E` WHERE `A` = ''", {}, "[k1][k3]"},
      {"SELECT `K` FROM `E` WHERE `A` = ?", {Str("")}, "[k1][k3]"},
      {"SELECT `K` FROM `E` WHERE `A` <> ?", {Str("a")}, "[k1][k3]"},
      {"SELECT `K` FROM `E` WHERE `B` IS NULL", {}, "[k2][k3]"},
      {"SELECT * FROM `E` WHERE `K` = 'k3'", {}, "[k3|~|~|c]"},  // read as empty text
  };
  for (const QueryCase& c : cases) EXPECT_EQ(db.Rows(c.sql, c.params), c.rows) << c.sql;
}

// Values of a column's type range and kind, through SQL with a parameter and
// through MsiViewModify insert-temporary with a record (key, value).
TEST_F(DatabaseTest, ColumnsKeepTheirKindAndRange) {
  const UINT ok = ERROR_SUCCESS, failed = ERROR_FUNCTION_FAILED, invalid = ERROR_INVALID_DATA;
  const struct {
    const char* type;
    bool modify;
    std::vector<Val> values;  // the value alone for SQL, key and value for a modify
    UINT result;
    const char* stored;
  } cases[] = {
      {"SHORT", false, {Int(32767)}, ok, "32767"},
      {"SHORT", false, {Int(-32768)}, ok, "~"},
      {"SHORT", false, {Int(40000)}, failed, nullptr},
      {"SHORT", false, {Str("12")}, ok, "12"},
      {"INT", false, {Str("x7")}, ok, "~"},  // text that is no integer is null
      {"INT NOT NULL", false, {Str("x7")}, failed, nullptr},
      {"LONG", false, {Int(2147483647)}, ok, "2147483647"},
      {"SHORT", true, {Str("k"), Int(2)}, ok, "2"},
      {"SHORT", true, {Int(5), Int(2)}, invalid, nullptr},             // integer into text
      {"SHORT NOT NULL", true, {Str("k"), Str("one")}, invalid, nullptr},  // no integer
      {"SHORT", true, {Nul(), Int(2)}, invalid, nullptr},              // null into the key
      {"SHORT", true, {Str("k"), Int(40000)}, failed, nullptr},
      {"SHORT", true, {Str("k"), Str("two")}, ok, "~"},
  };
  for (const auto& c : cases) {
    TempDb db;
    db.Sql(std::string("CREATE TABLE `N` (`K` CHAR(8) NOT NULL, `V` ") + c.type +
           " PRIMARY KEY `K`)");
    MSIHANDLE view = c.modify ? db.OpenView("SELECT * FROM `N`") : 0;
    EXPECT_EQ(c.modify ? Modify(view, MSIMODIFY_INSERT_TEMPORARY, c.values)
                       : db.Run("INSERT INTO `N` (`K`, `V`) VALUES ('k', ?)", c.values),
              c.result)
        << c.type << " " << c.modify;
    CloseView(view);
    if (c.stored) {
      EXPECT_EQ(db.Rows("SELECT `V` FROM `N`"), std::string("[") + c.stored + "]");
    }
  }
}

// Text is an integer when it is decimal digits with an optional "-" and nothing
// else, wrapping around past 32 bits; anything else is the null integer. The
// same reading serves MsiRecordGetInteger, a quoted literal and a parameter
// stored into an integer column.
TEST_F(DatabaseTest, TextIsAnIntegerOnlyAsDigitsWithAMinus) {
  const struct {
    const char* text;
    const char* stored;  // "~": the null integer
  } cases[] = {
      {"16", "16"},           {"016", "16"},          {"-16", "-16"},
      {"+16", "~"},           {" 16", "~"},           {"16 ", "~"},
      {"\t16", "~"},         {"- 16", "~"},          {"--1", "~"},
      {"+", "~"},             {"0x10", "~"},          {"1e2", "~"},
      {"1.0", "~"},           {"2147483647", "2147483647"},
      {"2147483648", "~"},    // wraps to -2147483648, the null integer itself
      {"-2147483649", "2147483647"},                  {"4294967296", "0"},
      {"4294967297", "1"},    {"1000000000000000", "-1530494976"},
  };
  TempDb db;
  db.Sql("CREATE TABLE `N` (`K` SHORT NOT NULL, `V` LONG PRIMARY KEY `K`)");
  int key = 0;
  for (const auto& c : cases) {
    const std::string text = c.text;
    SCOPED_TRACE(c.text);
    MSIHANDLE rec = MsiCreateRecord(1);
    MsiRecordSetStringA(rec, 1, text.c_str());
    const std::string expected = c.stored;
    EXPECT_EQ(MsiRecordGetInteger(rec, 1),
              expected == "~" ? static_cast<int>(MSI_NULL_INTEGER) : std::stoi(expected));
    MsiCloseHandle(rec);
    for (bool literal : {true, false}) {
      const std::string k = std::to_string(++key);
      EXPECT_EQ(literal ? db.Run("INSERT INTO `N` (`K`, `V`) VALUES (" + k + ", '" + text + "')")
                        : db.Run("INSERT INTO `N` (`K`, `V`) VALUES (" + k + ", ?)", {Str(text)}),
                0u);
      EXPECT_EQ(db.Rows("SELECT `V` FROM `N` WHERE `K` = " + k), "[" + expected + "]");
    }
  }
  // Unquoted, a "+" is no part of SQL's numbers.
  EXPECT_EQ(db.Run("INSERT INTO `N` (`K`, `V`) VALUES (100, +16)"), 1615u);
  EXPECT_EQ(db.Rows("SELECT `K` FROM `N` WHERE `V` = +16"), "open 1615");
  EXPECT_EQ(db.Rows("SELECT `K` FROM `N` WHERE `V` = -16"), "[5][6]");
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
  // The engine counts a field's text in characters, not bytes.
  MSIHANDLE rec = MakeRecord({Str(value)});
  EXPECT_EQ(MsiRecordDataSize(rec, 1), 2u);
  MsiCloseHandle(rec);
}

#ifndef _WIN32
// Walking a tree of 100,000 entries into tables: keyed lookups, inserts and
// deletes while fetching stay cheap however large the table grows. The engine
// looks at a bounded number of rows per lookup, never the whole table.
TEST_F(DatabaseTest, LargeTablesStayFast) {
  TempDb db;
  db.Sql("CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
         "`DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)");
  MSIHANDLE lookup = db.OpenView("SELECT * FROM `Directory` WHERE `Directory`=?", {Str("none")});
  MSIHANDLE key = MakeRecord({Str("")}), row = MakeRecord({Str(""), Str("TARGETDIR"), Str(".")});
  const std::size_t examined = winsim::RowsExamined();
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
  CloseView(lookup);
  MSIHANDLE all = db.OpenView("SELECT `Directory` FROM `Directory`");
  int count = 0;
  for (MSIHANDLE rec = 0; MsiViewFetch(all, &rec) == ERROR_SUCCESS; ++count) {
    if (count % 2) MsiViewModify(all, MSIMODIFY_DELETE, rec);
    MsiCloseHandle(rec);
  }
  CloseView(all);
  EXPECT_EQ(count, kRows);
  EXPECT_EQ(db.Rows("SELECT `Directory` FROM `Directory` WHERE `Directory` = 'RM_99998'"),
            "[RM_99998]");
  EXPECT_EQ(db.Rows("SELECT `Directory` FROM `Directory` WHERE `Directory` = 'RM_99999'"), "");
  // The lookups found nothing, the walk saw every row once, the two checks one each.
  EXPECT_LE(winsim::RowsExamined() - examined, static_cast<std::size_t>(kRows) + 2)
      << "row operations grow faster than the table";
}
#endif

}  // namespace
