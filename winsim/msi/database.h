// The installer's package database: tables with typed columns and primary keys,
// persistent and temporary rows, one string pool per database, summary
// information, and the files that MsiDatabaseCommit writes.
//
// Rows are kept ordered by their primary-key columns as the engine orders them:
// integers by value with null first, strings by the order in which each string
// first entered the database's string pool (not alphabetically).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "winsim/msi/handles.h"
#include "winsim/msi/record.h"

namespace winsim {

// ---- columns, rows, tables ---------------------------------------------------

struct Column {
  enum Kind { kString, kShort, kLong, kObject };
  std::string name;
  Kind kind = kString;
  int width = 0;  // characters of a string column; 0 means no limit
  bool nullable = true;
  bool localizable = false;
  bool temporary = false;

  bool IsInteger() const { return kind == kShort || kind == kLong; }
  // The column type as MsiViewGetColumnInfo reports it: "s72", "S0", "L255",
  // "i2", "I4", "g72", "j2", "V0", ...
  std::string TypeText() const;
};

// A cell holds a string id of the pool (0 is null) for string columns, and the
// value itself (MSI_NULL_INTEGER is null) for integer columns.
using Cell = int32_t;
using Key = std::vector<Cell>;

struct Row {
  std::vector<Cell> cells;
  bool temporary = false;
  bool deleted = false;  // set when the row leaves its table; views skip it
  uint64_t born = 0;     // when the row entered its table (RowSequence)
};
using RowPtr = std::shared_ptr<Row>;

struct Table {
  std::string name;
  std::vector<Column> columns;  // the primary-key columns come first
  std::size_t keyCount = 0;
  bool temporary = false;  // a held table of temporary columns: never written
  bool dropped = false;
  std::map<Key, RowPtr> rows;  // ordered by the primary key
  // Equality lookups on single columns: an index per column, built on first use,
  // kept up to date as rows enter and leave, dropped when cells change in place.
  using ColumnIndex = std::unordered_map<Cell, std::unordered_map<const Row*, RowPtr>>;
  std::map<int, ColumnIndex> indexes;

  // The index of a column, built now when there is none.
  const ColumnIndex& IndexOf(int column);
  void DropIndexes() { indexes.clear(); }

  Key KeyOf(const std::vector<Cell>& cells) const {
    return Key(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(keyCount));
  }
  int FindColumn(const std::string& columnName) const;
};
using TablePtr = std::shared_ptr<Table>;

// The strings of a database, numbered from 1 in the order they first entered.
class StringPool {
 public:
  Cell Intern(const std::string& text);
  // The id of a string, or 0 when the pool does not hold it.
  Cell Find(const std::string& text) const;
  const std::string& Text(Cell id) const;
  const std::vector<std::string>& All() const { return strings_; }

 private:
  std::vector<std::string> strings_;
  std::unordered_map<std::string, Cell> ids_;
};

struct SummaryValue {
  UINT type = 0;  // VT_EMPTY, VT_I2, VT_I4, VT_LPSTR or VT_FILETIME
  int integer = 0;
  FILETIME time{};
  std::string text;
};

struct Database : Object {
  std::string path;        // the Windows path it was opened from
  std::string commitPath;  // where MsiDatabaseCommit writes
  bool readOnly = false;
  bool deleteUnlessCommitted = false;  // created and not yet committed
  StringPool strings;
  std::map<std::string, TablePtr> tables;
  std::map<UINT, SummaryValue> summary;

  ~Database() override;
  TablePtr FindTable(const std::string& name) const;
  // Writes the persistent part of the database to commitPath.
  UINT Commit();
};

// ---- cells -------------------------------------------------------------------

// Where a value comes from decides the error code of a bad value: SQL statements
// answer 1627, MsiViewModify answers 13 for values of the wrong kind.
enum class ValueSource { kSql, kModify };

// Converts a record field into the cell of a column. Returns 0, or the error
// code of the source for a value that does not fit the column (1627 for a short
// integer out of range). Text that is no integer gives a null integer, and the
// short integer -32768 is stored as null. NOT NULL is checked by the caller,
// with FieldIsNull.
UINT FieldToCell(Database& db, const Column& column, const Field& field, ValueSource source,
                 Cell* cell);
// Whether a field counts as null for a column: a null field, or text that is no
// integer for an integer column.
bool FieldIsNull(const Column& column, const Field& field);
Field CellToField(const Database& db, const Column& column, Cell cell);
bool IsNullCell(const Column& column, Cell cell);

// Counts rows entering any table; a view executed at sequence s reads only rows
// born at or before s.
uint64_t RowSequence();

// Inserts a row whose cells are complete; 1627 when its key is taken.
UINT InsertRow(Table& table, std::vector<Cell> cells, bool temporary, RowPtr* inserted = nullptr);
void DeleteRow(Table& table, const RowPtr& row);

// ---- the interface the rest of winsim uses -------------------------------------

// MsiOpenDatabaseA without creating a handle.
UINT OpenDatabase(const std::string& path, LPCSTR persist, std::shared_ptr<Database>* out);

// Runs a SELECT and returns the rows (fields 1..n of each as winsim::Field).
UINT QueryRows(Database& db, const std::string& sql, std::vector<std::vector<Field>>* rows);

}  // namespace winsim
