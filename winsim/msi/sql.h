// The installer's SQL dialect: the statements the engine accepts, parsed into a
// tree that the database binds to its tables and runs.
//
//   SELECT [DISTINCT] * | col, ... FROM table [, table] [WHERE cond] [ORDER BY col, ...]
//   INSERT INTO table (col, ...) VALUES (value, ...) [TEMPORARY]
//   UPDATE table SET col = value, ... [WHERE cond]
//   DELETE FROM table [WHERE cond]
//   CREATE TABLE table (col type [NOT NULL] [TEMPORARY] [LOCALIZABLE], ...
//                       PRIMARY KEY col, ...) [HOLD]
//   DROP TABLE table
//
// Names are bare or back-quoted, literals single-quoted without escapes, "?"
// is a parameter taken from the record given to MsiViewExecute. Any syntax
// error is ERROR_BAD_QUERY_SYNTAX (1615).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "winsim/msi/database.h"

namespace winsim::sql {

// A column reference or a value in a statement.
struct Operand {
  enum Kind { kNone, kNull, kString, kInteger, kParam, kColumn };
  Kind kind = kNone;
  std::string text;   // string literal, or column name
  std::string table;  // the table a column is qualified with ("" when bare)
  int integer = 0;
  int param = 0;  // 1-based number of the "?" marker
  // Filled in when the statement is bound: the FROM table and the column.
  int tableIndex = -1;
  int column = -1;
};

struct Condition {
  enum Op { kAnd, kOr, kEq, kNe, kLt, kGt, kLe, kGe, kIsNull, kIsNotNull };
  Op op = kEq;
  std::unique_ptr<Condition> left, right;  // kAnd, kOr
  Operand lhs, rhs;                        // comparisons; lhs is a column
};

struct Statement {
  enum Kind { kSelect, kInsert, kUpdate, kDelete, kCreate, kDrop };
  Kind kind = kSelect;
  std::vector<std::string> tables;  // FROM list, or the one target table
  // SELECT
  bool distinct = false;
  bool star = false;
  std::vector<Operand> columns;  // selected / inserted / updated columns
  std::vector<Operand> orderBy;
  std::unique_ptr<Condition> where;
  // INSERT, UPDATE: one value per column
  std::vector<Operand> values;
  bool temporary = false;
  // CREATE TABLE
  std::vector<Column> definitions;
  std::vector<std::string> keys;
  bool hold = false;

  int paramCount = 0;
};

// Parses one statement: 0, or 1615 when the text is not valid SQL.
UINT Parse(const std::string& text, Statement* statement);

}  // namespace winsim::sql
