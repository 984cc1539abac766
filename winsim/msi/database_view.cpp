// Views: SQL statements bound to a database's tables, executed with an optional
// parameter record, fetched row by row and modified through MsiViewModify.
//
// An executed SELECT holds the rows it found, in primary-key order (or in its
// ORDER BY order), read at its first fetch as they were when it was executed:
// a view executed and never fetched costs nothing. Rows deleted afterwards are
// skipped when fetched, so deleting the fetched row never disturbs the cursor.
// A WHERE that fixes the leading primary-key columns to values is answered from
// the ordered row map, and an equality on any other column from that column's
// index, so a keyed lookup never walks the whole table.
#include <algorithm>
#include <climits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "winsim/control.h"
#include "winsim/msi/database.h"
#include "winsim/msi/record.h"
#include "winsim/msi/sql.h"

namespace winsim {
namespace {

using sql::Condition;
using sql::Operand;
using sql::Statement;

// A column of the view: which FROM table and which of its columns.
struct ColumnRef {
  int table = 0;
  int column = 0;
};

struct BoundStatement {
  Statement s;
  std::vector<TablePtr> tables;  // FROM tables, or the target table
  std::vector<ColumnRef> columns;
  std::vector<ColumnRef> order;
};

// ---- binding ---------------------------------------------------------------------

UINT BindColumn(const std::vector<TablePtr>& tables, Operand* op) {
  for (std::size_t t = 0; t < tables.size(); ++t) {
    if (!op->table.empty() && op->table != tables[t]->name) continue;
    int column = tables[t]->FindColumn(op->text);
    if (column >= 0) {
      op->tableIndex = static_cast<int>(t);
      op->column = column;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_BAD_QUERY_SYNTAX;
}

const Column& ColumnOf(const std::vector<TablePtr>& tables, const Operand& op) {
  return tables[static_cast<std::size_t>(op.tableIndex)]
      ->columns[static_cast<std::size_t>(op.column)];
}

UINT BindCondition(const std::vector<TablePtr>& tables, Condition* c) {
  if (!c) return ERROR_SUCCESS;
  if (c->op == Condition::kAnd || c->op == Condition::kOr) {
    UINT r = BindCondition(tables, c->left.get());
    return r != ERROR_SUCCESS ? r : BindCondition(tables, c->right.get());
  }
  if (BindColumn(tables, &c->lhs) != ERROR_SUCCESS) return ERROR_BAD_QUERY_SYNTAX;
  if (c->rhs.kind == Operand::kColumn && BindColumn(tables, &c->rhs) != ERROR_SUCCESS)
    return ERROR_BAD_QUERY_SYNTAX;
  // Text compares for equality only.
  bool ordering = c->op == Condition::kLt || c->op == Condition::kGt || c->op == Condition::kLe ||
                  c->op == Condition::kGe;
  if (ordering && !ColumnOf(tables, c->lhs).IsInteger()) return ERROR_BAD_QUERY_SYNTAX;
  return ERROR_SUCCESS;
}

UINT BindCreate(const Statement& s) {
  std::set<std::string> names;
  for (const Column& c : s.definitions)
    if (!names.insert(c.name).second) return ERROR_BAD_QUERY_SYNTAX;
  std::set<std::string> keys;
  for (const std::string& key : s.keys)
    if (!names.count(key) || !keys.insert(key).second) return ERROR_BAD_QUERY_SYNTAX;
  return ERROR_SUCCESS;
}

UINT Bind(const Database& db, Statement statement, std::unique_ptr<BoundStatement>* out) {
  auto bound = std::make_unique<BoundStatement>();
  bound->s = std::move(statement);
  Statement& s = bound->s;
  if (s.kind == Statement::kCreate) {
    UINT r = BindCreate(s);
    if (r != ERROR_SUCCESS) return r;
    *out = std::move(bound);
    return ERROR_SUCCESS;
  }
  for (const std::string& name : s.tables) {
    TablePtr table = db.FindTable(name);
    if (!table) return ERROR_BAD_QUERY_SYNTAX;
    bound->tables.push_back(table);
  }
  if (s.kind == Statement::kSelect && s.star) {
    for (std::size_t t = 0; t < bound->tables.size(); ++t)
      for (std::size_t c = 0; c < bound->tables[t]->columns.size(); ++c)
        bound->columns.push_back({static_cast<int>(t), static_cast<int>(c)});
  } else {
    for (Operand& op : s.columns) {
      if (BindColumn(bound->tables, &op) != ERROR_SUCCESS) return ERROR_BAD_QUERY_SYNTAX;
      bound->columns.push_back({op.tableIndex, op.column});
    }
  }
  for (Operand& op : s.orderBy) {
    if (BindColumn(bound->tables, &op) != ERROR_SUCCESS) return ERROR_BAD_QUERY_SYNTAX;
    bound->order.push_back({op.tableIndex, op.column});
  }
  UINT r = BindCondition(bound->tables, s.where.get());
  if (r != ERROR_SUCCESS) return r;
  *out = std::move(bound);
  return ERROR_SUCCESS;
}

// ---- conditions ------------------------------------------------------------------

Field ParamField(const Record* params, int number) {
  if (!params || number < 1 || static_cast<unsigned>(number) > params->Count())
    return Field::Null();
  return params->fields[static_cast<std::size_t>(number)];
}

// The value of a literal, parameter or NULL as a record field.
Field OperandField(const Operand& op, const Record* params) {
  switch (op.kind) {
    case Operand::kString:
      return Field::Str(op.text);
    case Operand::kInteger:
      return Field::Int(op.integer);
    case Operand::kParam:
      return ParamField(params, op.param);
    default:
      return Field::Null();
  }
}

// Integers compare by value; a null short compares as -32768, a null long as
// the smallest integer (its stored form).
long long IntegerValue(const Column& column, Cell cell) {
  if (cell == MSI_NULL_INTEGER && column.kind == Column::kShort) return -32768;
  return cell;
}

bool Ordered(Condition::Op op, long long a, long long b) {
  switch (op) {
    case Condition::kEq:
      return a == b;
    case Condition::kNe:
      return a != b;
    case Condition::kLt:
      return a < b;
    case Condition::kGt:
      return a > b;
    case Condition::kLe:
      return a <= b;
    case Condition::kGe:
      return a >= b;
    default:
      return false;
  }
}

// A string cell equals a text when both are null (empty) or the text is the
// cell's pooled string.
bool TextEquals(const Database& db, Cell cell, const std::string& text) {
  if (text.empty()) return cell == 0;
  Cell id = db.strings.Find(text);
  return id != 0 && cell == id;
}

struct EvalContext {
  const Database& db;
  const std::vector<TablePtr>& tables;
  const RowPtr* tuple;
  const Record* params;

  Cell CellOf(const Operand& op) const {
    return tuple[op.tableIndex]->cells[static_cast<std::size_t>(op.column)];
  }
};

bool Evaluate(const EvalContext& ctx, const Condition* c) {
  if (!c) return true;
  switch (c->op) {
    case Condition::kAnd:
      return Evaluate(ctx, c->left.get()) && Evaluate(ctx, c->right.get());
    case Condition::kOr:
      return Evaluate(ctx, c->left.get()) || Evaluate(ctx, c->right.get());
    default:
      break;
  }
  const Column& lc = ColumnOf(ctx.tables, c->lhs);
  Cell lv = ctx.CellOf(c->lhs);
  if (c->op == Condition::kIsNull) return IsNullCell(lc, lv);
  if (c->op == Condition::kIsNotNull) return !IsNullCell(lc, lv);

  if (lc.IsInteger()) {
    long long right;
    switch (c->rhs.kind) {
      case Operand::kInteger:
        right = c->rhs.integer;
        break;
      case Operand::kParam: {
        Field f = ParamField(ctx.params, c->rhs.param);
        right = f.IsNull() ? MSI_NULL_INTEGER : f.AsInteger();
        break;
      }
      case Operand::kColumn: {
        const Column& rc = ColumnOf(ctx.tables, c->rhs);
        if (!rc.IsInteger()) return false;
        right = IntegerValue(rc, ctx.CellOf(c->rhs));
        break;
      }
      default:
        return false;  // a quoted literal never matches an integer column
    }
    return Ordered(c->op, IntegerValue(lc, lv), right);
  }

  bool equal;
  switch (c->rhs.kind) {
    case Operand::kColumn: {
      const Column& rc = ColumnOf(ctx.tables, c->rhs);
      equal = !rc.IsInteger() && lv == ctx.CellOf(c->rhs);
      break;
    }
    case Operand::kString:
      equal = TextEquals(ctx.db, lv, c->rhs.text);
      break;
    case Operand::kInteger:
      equal = TextEquals(ctx.db, lv, std::to_string(c->rhs.integer));
      break;
    default:
      equal = TextEquals(ctx.db, lv, ParamField(ctx.params, c->rhs.param).AsText());
      break;
  }
  return c->op == Condition::kEq ? equal : !equal;
}

void CollectEqualities(const Condition* c, std::vector<const Condition*>* out) {
  if (!c) return;
  if (c->op == Condition::kAnd) {
    CollectEqualities(c->left.get(), out);
    CollectEqualities(c->right.get(), out);
  } else if (c->op == Condition::kEq && c->rhs.kind != Operand::kColumn) {
    out->push_back(c);
  }
}

// The cell an equality term asks for in a key column: kFound with the cell,
// kNone when no row can match, kAny when the term cannot narrow the lookup.
enum class KeyLookup { kFound, kNone, kAny };

KeyLookup KeyCellFor(const Database& db, const Column& column, const Condition& term,
                     const Record* params, Cell* cell) {
  Field value = OperandField(term.rhs, params);
  if (!column.IsInteger()) {
    std::string text = value.AsText();
    if (text.empty()) {
      *cell = 0;
      return KeyLookup::kFound;
    }
    *cell = db.strings.Find(text);
    return *cell ? KeyLookup::kFound : KeyLookup::kNone;
  }
  if (term.rhs.kind == Operand::kString) return KeyLookup::kNone;
  long long v = value.IsNull() ? MSI_NULL_INTEGER : value.AsInteger();
  if (column.kind == Column::kShort) {
    if (v == -32768)
      v = MSI_NULL_INTEGER;  // null shorts compare as -32768
    else if (v < -32767 || v > 32767)
      return KeyLookup::kNone;
  }
  *cell = static_cast<Cell>(v);
  return KeyLookup::kFound;
}

// Every row a query has looked at since the process began: the engine's own
// measure of how much work a caller's queries asked of it.
std::size_t rowsExamined = 0;

// The rows of a single table born by `epoch` that satisfy the condition, in key
// order. Equalities on the leading key columns narrow the walk to a range of
// the ordered rows; an equality on any other column is answered from that
// column's index. Either way a lookup never walks the whole table.
std::vector<RowPtr> MatchingRows(const Database& db, const std::vector<TablePtr>& tables,
                                 const Condition* where, const Record* params,
                                 uint64_t epoch = UINT64_MAX) {
  Table& table = *tables[0];
  std::vector<RowPtr> out;
  std::vector<const Condition*> terms;
  CollectEqualities(where, &terms);
  Key prefix;
  for (std::size_t k = 0; k < table.keyCount; ++k) {
    const Condition* term = nullptr;
    for (const Condition* t : terms)
      if (t->lhs.tableIndex == 0 && t->lhs.column == static_cast<int>(k)) term = t;
    if (!term) break;
    Cell cell;
    KeyLookup lookup = KeyCellFor(db, table.columns[k], *term, params, &cell);
    if (lookup == KeyLookup::kNone) return out;
    if (lookup == KeyLookup::kAny) break;
    prefix.push_back(cell);
  }
  auto accept = [&](const RowPtr& row) {
    ++rowsExamined;
    if (row->born > epoch) return;
    EvalContext ctx{db, tables, &row, params};
    if (Evaluate(ctx, where)) out.push_back(row);
  };
  if (prefix.size() < table.keyCount) {
    // The smallest index bucket of an equality outside the key prefix.
    const Table::ColumnIndex::mapped_type* best = nullptr;
    bool indexed = false;
    for (const Condition* t : terms) {
      if (t->lhs.tableIndex != 0 || t->lhs.column < static_cast<int>(prefix.size())) continue;
      Cell cell;
      KeyLookup lookup = KeyCellFor(db, table.columns[static_cast<std::size_t>(t->lhs.column)],
                                    *t, params, &cell);
      if (lookup == KeyLookup::kNone) return out;
      if (lookup == KeyLookup::kAny) continue;
      const Table::ColumnIndex& index = table.IndexOf(t->lhs.column);
      auto bucket = index.find(cell);
      if (bucket == index.end()) return out;
      if (!indexed || bucket->second.size() < best->size()) best = &bucket->second;
      indexed = true;
    }
    if (indexed) {
      std::vector<RowPtr> candidates;
      candidates.reserve(best->size());
      for (const auto& [raw, row] : *best) candidates.push_back(row);
      std::sort(candidates.begin(), candidates.end(), [&](const RowPtr& a, const RowPtr& b) {
        return table.KeyOf(a->cells) < table.KeyOf(b->cells);
      });
      for (const RowPtr& row : candidates) accept(row);
      return out;
    }
  }
  if (prefix.empty()) {
    for (const auto& [key, row] : table.rows) accept(row);
  } else {
    for (auto it = table.rows.lower_bound(prefix); it != table.rows.end(); ++it) {
      if (!std::equal(prefix.begin(), prefix.end(), it->first.begin())) break;
      accept(it->second);
    }
  }
  return out;
}

// ---- views -------------------------------------------------------------------------

uint64_t NextViewSerial() {
  static uint64_t serial = 0;
  return ++serial;
}

struct View : Object {
  std::shared_ptr<Database> db;
  std::unique_ptr<BoundStatement> bound;
  uint64_t serial = NextViewSerial();
  uint64_t generation = 0;  // counts executions; a record fetched before is stale
  bool executed = false;
  // A SELECT reads its rows at the first fetch, as they were when it was
  // executed: rows born later are left out, rows deleted since are skipped.
  bool pending = false;
  uint64_t epoch = UINT64_MAX;
  std::shared_ptr<Record> params;  // a copy of the parameters it was executed with
  std::vector<RowPtr> result;  // rows of the FROM tables, `stride` per result row
  std::size_t stride = 1;
  std::size_t next = 0;         // the result row the next fetch looks at first
  std::ptrdiff_t current = -1;  // the result row fetched last

  std::size_t Count() const { return stride ? result.size() / stride : 0; }
  const RowPtr* Tuple(std::size_t index) const { return &result[index * stride]; }
  bool Deleted(std::size_t index) const {
    for (std::size_t t = 0; t < stride; ++t)
      if (result[index * stride + t]->deleted) return true;
    return false;
  }
  bool IsSelect() const { return bound->s.kind == Statement::kSelect; }
  bool IsJoin() const { return bound->tables.size() > 1; }
};

// A record handed out by MsiViewFetch remembers the view and the result row it
// came from, so that MsiViewModify acts on that row whatever its fields hold.
struct FetchedRecord : Record {
  FetchedRecord(unsigned count, const View& view, std::size_t row)
      : Record(count), viewSerial(view.serial), generation(view.generation), resultRow(row) {}
  uint64_t viewSerial;
  uint64_t generation;
  std::size_t resultRow;

  bool From(const View& view) const {
    return viewSerial == view.serial && generation == view.generation && view.executed &&
           resultRow < view.Count();
  }
};

void FillRecord(const View& view, std::size_t index, Record* record) {
  const RowPtr* tuple = view.Tuple(index);
  const auto& tables = view.bound->tables;
  for (std::size_t i = 0; i < view.bound->columns.size() && i < record->Count(); ++i) {
    const ColumnRef& ref = view.bound->columns[i];
    const Column& column =
        tables[static_cast<std::size_t>(ref.table)]->columns[static_cast<std::size_t>(ref.column)];
    record->fields[i + 1] = CellToField(
        *view.db, column, tuple[ref.table]->cells[static_cast<std::size_t>(ref.column)]);
  }
}

void JoinRows(const Database& db, const BoundStatement& b, const Record* params,
              uint64_t epoch, std::vector<RowPtr>* tuple, std::size_t level,
              std::vector<RowPtr>* out) {
  // The last FROM table is walked outermost, the first innermost.
  const Table& table = *b.tables[level];
  for (const auto& [key, row] : table.rows) {
    ++rowsExamined;
    if (row->born > epoch) continue;
    (*tuple)[level] = row;
    if (level > 0) {
      JoinRows(db, b, params, epoch, tuple, level - 1, out);
    } else {
      EvalContext ctx{db, b.tables, tuple->data(), params};
      if (Evaluate(ctx, b.s.where.get())) out->insert(out->end(), tuple->begin(), tuple->end());
    }
  }
}

void ExecuteSelect(View* view, const Record* params) {
  const BoundStatement& b = *view->bound;
  view->stride = b.tables.size();
  view->result.clear();
  if (b.tables.size() == 1) {
    view->result = MatchingRows(*view->db, b.tables, b.s.where.get(), params, view->epoch);
  } else {
    std::vector<RowPtr> tuple(b.tables.size());
    JoinRows(*view->db, b, params, view->epoch, &tuple, b.tables.size() - 1, &view->result);
  }
  std::size_t count = view->Count();
  std::vector<std::size_t> order(count);
  for (std::size_t i = 0; i < count; ++i) order[i] = i;
  auto cellAt = [&](std::size_t row, const ColumnRef& ref) {
    return view->result[row * view->stride + static_cast<std::size_t>(ref.table)]
        ->cells[static_cast<std::size_t>(ref.column)];
  };
  if (!b.order.empty()) {
    // Integers by value, strings by their place in the string pool; null first.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
      for (const ColumnRef& ref : b.order) {
        Cell a = cellAt(x, ref), c = cellAt(y, ref);
        if (a != c) return a < c;
      }
      return false;
    });
  }
  std::vector<RowPtr> sorted;
  sorted.reserve(view->result.size());
  std::set<std::vector<Cell>> seen;
  for (std::size_t i : order) {
    if (b.s.distinct) {
      std::vector<Cell> values;
      for (const ColumnRef& ref : b.columns) values.push_back(cellAt(i, ref));
      if (!seen.insert(values).second) continue;
    }
    for (std::size_t t = 0; t < view->stride; ++t)
      sorted.push_back(view->result[i * view->stride + t]);
  }
  view->result = std::move(sorted);
}

// The cells of a new row from values given per column; unlisted columns are null.
// `values[i]` belongs to table column `columns[i]`.
UINT BuildRow(Database& db, const Table& table, const std::vector<int>& columns,
              const std::vector<Field>& values, ValueSource source, std::vector<Cell>* cells) {
  cells->assign(table.columns.size(), 0);
  std::vector<bool> given(table.columns.size(), false);
  for (std::size_t c = 0; c < table.columns.size(); ++c)
    if (table.columns[c].IsInteger()) (*cells)[c] = MSI_NULL_INTEGER;
  const UINT nullInNotNull =
      source == ValueSource::kModify ? ERROR_INVALID_DATA : ERROR_FUNCTION_FAILED;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const Column& column = table.columns[static_cast<std::size_t>(columns[i])];
    if (!column.nullable && FieldIsNull(column, values[i])) return nullInNotNull;
    Cell cell;
    UINT r = FieldToCell(db, column, values[i], source, &cell);
    if (r != ERROR_SUCCESS) return r;
    (*cells)[static_cast<std::size_t>(columns[i])] = cell;
    given[static_cast<std::size_t>(columns[i])] = true;
  }
  for (std::size_t c = 0; c < table.columns.size(); ++c)
    if (!given[c] && !table.columns[c].nullable) return nullInNotNull;
  return ERROR_SUCCESS;
}

UINT ExecuteInsert(View* view, const Record* params) {
  const BoundStatement& b = *view->bound;
  Table& table = *b.tables[0];
  if (table.dropped) return ERROR_FUNCTION_FAILED;
  std::vector<int> columns;
  std::vector<Field> values;
  for (std::size_t i = 0; i < b.columns.size(); ++i) {
    columns.push_back(b.columns[i].column);
    values.push_back(OperandField(b.s.values[i], params));
  }
  std::vector<Cell> cells;
  UINT r = BuildRow(*view->db, table, columns, values, ValueSource::kSql, &cells);
  if (r != ERROR_SUCCESS) return ERROR_FUNCTION_FAILED;
  return InsertRow(table, std::move(cells), b.s.temporary);
}

UINT ExecuteUpdate(View* view, const Record* params) {
  const BoundStatement& b = *view->bound;
  Table& table = *b.tables[0];
  std::vector<std::pair<std::size_t, Cell>> changes;
  for (std::size_t i = 0; i < b.columns.size(); ++i) {
    std::size_t c = static_cast<std::size_t>(b.columns[i].column);
    if (c < table.keyCount) return ERROR_FUNCTION_FAILED;  // keys cannot change
    // The engine does not hold UPDATE to NOT NULL: an empty value stores null.
    Cell cell;
    if (FieldToCell(*view->db, table.columns[c], OperandField(b.s.values[i], params),
                    ValueSource::kSql, &cell) != ERROR_SUCCESS)
      return ERROR_FUNCTION_FAILED;
    changes.emplace_back(c, cell);
  }
  for (const RowPtr& row : MatchingRows(*view->db, b.tables, b.s.where.get(), params))
    for (const auto& [c, cell] : changes) row->cells[c] = cell;
  table.DropIndexes();
  return ERROR_SUCCESS;
}

UINT ExecuteDelete(View* view, const Record* params) {
  const BoundStatement& b = *view->bound;
  Table& table = *b.tables[0];
  for (const RowPtr& row : MatchingRows(*view->db, b.tables, b.s.where.get(), params))
    DeleteRow(table, row);
  return ERROR_SUCCESS;
}

UINT ExecuteCreate(View* view) {
  const Statement& s = view->bound->s;
  Database& db = *view->db;
  const std::string& name = s.tables[0];
  if (db.FindTable(name)) return ERROR_BAD_QUERY_SYNTAX;  // created twice

  auto table = std::make_shared<Table>();
  table->name = name;
  table->columns = s.definitions;
  // The n-th key column trades places with the column in the n-th slot.
  for (std::size_t k = 0; k < s.keys.size(); ++k) {
    int at = table->FindColumn(s.keys[k]);
    std::swap(table->columns[k], table->columns[static_cast<std::size_t>(at)]);
  }
  table->keyCount = s.keys.size();

  bool allTemporary = true, temporaryKey = false;
  for (std::size_t c = 0; c < table->columns.size(); ++c) {
    allTemporary = allTemporary && table->columns[c].temporary;
    if (c < table->keyCount && table->columns[c].temporary) temporaryKey = true;
  }
  if (temporaryKey && !allTemporary) return ERROR_FUNCTION_FAILED;
  db.strings.Intern(name);
  for (const Column& c : s.definitions) db.strings.Intern(c.name);
  // A table of temporary columns lives only while it is held.
  if (allTemporary && !s.hold) return ERROR_SUCCESS;
  table->temporary = allTemporary;
  db.tables[name] = table;
  return ERROR_SUCCESS;
}

UINT ExecuteDrop(View* view) {
  Database& db = *view->db;
  TablePtr table = view->bound->tables[0];
  if (table->dropped) return ERROR_BAD_QUERY_SYNTAX;
  table->dropped = true;
  for (auto& [key, row] : table->rows) row->deleted = true;
  table->rows.clear();
  table->DropIndexes();
  auto it = db.tables.find(table->name);
  if (it != db.tables.end() && it->second == table) db.tables.erase(it);
  return ERROR_SUCCESS;
}

UINT Execute(View* view, const Record* params) {
  ++view->generation;
  view->next = 0;
  view->current = -1;
  switch (view->bound->s.kind) {
    case Statement::kSelect:
      view->result.clear();
      view->epoch = RowSequence();
      view->params = params ? std::make_shared<Record>(*params) : nullptr;
      view->pending = true;
      view->executed = true;
      return ERROR_SUCCESS;
    case Statement::kInsert:
      return ExecuteInsert(view, params);
    case Statement::kUpdate:
      return ExecuteUpdate(view, params);
    case Statement::kDelete:
      return ExecuteDelete(view, params);
    case Statement::kCreate:
      return ExecuteCreate(view);
    case Statement::kDrop:
      return ExecuteDrop(view);
  }
  return ERROR_FUNCTION_FAILED;
}

UINT OpenView(const std::shared_ptr<Database>& db, const std::string& text,
              std::shared_ptr<View>* out) {
  Statement statement;
  UINT r = sql::Parse(text, &statement);
  if (r != ERROR_SUCCESS) return r;
  auto view = std::make_shared<View>();
  view->db = db;
  r = Bind(*db, std::move(statement), &view->bound);
  if (r != ERROR_SUCCESS) return r;
  *out = std::move(view);
  return ERROR_SUCCESS;
}

// ---- MsiViewModify -----------------------------------------------------------------

// The result row a record stands for: the row it was fetched from when it came
// from this view, otherwise the row fetched last. -1 when there is none.
std::ptrdiff_t RowOfRecord(const View& view, const Record& record) {
  auto fetched = dynamic_cast<const FetchedRecord*>(&record);
  if (fetched && fetched->From(view)) return static_cast<std::ptrdiff_t>(fetched->resultRow);
  return view.current;
}

// The record's values for the view's columns, as a row of the table.
UINT RowFromRecord(View& view, const Record& record, std::vector<Cell>* cells) {
  const Table& table = *view.bound->tables[0];
  std::vector<int> columns;
  std::vector<Field> values;
  for (std::size_t i = 0; i < view.bound->columns.size(); ++i) {
    columns.push_back(view.bound->columns[i].column);
    values.push_back(record.fields[i + 1]);
  }
  return BuildRow(*view.db, table, columns, values, ValueSource::kModify, cells);
}

// Inserts a test made fail: table name, field number and the value it holds.
struct RowInsertFailure {
  std::string table;
  UINT field;
  std::string value;
};
std::vector<RowInsertFailure>& RowInsertFailures() {
  static std::vector<RowInsertFailure> failures;
  return failures;
}

bool InsertFails(const Table& table, const Record& record) {
  for (const RowInsertFailure& f : RowInsertFailures())
    if (f.table == table.name && f.field >= 1 && f.field <= record.Count() &&
        record.fields[f.field].AsText() == f.value)
      return true;
  return false;
}

UINT ModifyInsert(View& view, const Record& record, bool temporary) {
  Table& table = *view.bound->tables[0];
  if (table.dropped || InsertFails(table, record)) return ERROR_FUNCTION_FAILED;
  std::vector<Cell> cells;
  UINT r = RowFromRecord(view, record, &cells);
  if (r != ERROR_SUCCESS) return r;
  return InsertRow(table, std::move(cells), temporary);
}

UINT ModifyUpdate(View& view, const Record& record) {
  auto fetched = dynamic_cast<const FetchedRecord*>(&record);
  if (!fetched || !fetched->From(view) || view.Deleted(fetched->resultRow))
    return ERROR_FUNCTION_FAILED;
  Table& table = *view.bound->tables[0];
  RowPtr row = *view.Tuple(fetched->resultRow);
  std::vector<Cell> updated = row->cells;
  for (std::size_t i = 0; i < view.bound->columns.size(); ++i) {
    std::size_t c = static_cast<std::size_t>(view.bound->columns[i].column);
    const Column& column = table.columns[c];
    const Field& value = record.fields[i + 1];
    if (!column.nullable && FieldIsNull(column, value)) return ERROR_INVALID_DATA;
    Cell cell;
    UINT r = FieldToCell(*view.db, column, value, ValueSource::kModify, &cell);
    if (r != ERROR_SUCCESS) return r;
    if (c < table.keyCount && cell != row->cells[c]) return ERROR_FUNCTION_FAILED;
    updated[c] = cell;
  }
  row->cells = std::move(updated);
  table.DropIndexes();
  return ERROR_SUCCESS;
}

// Assign (3): insert, or overwrite the row with the same key. Merge (5): insert,
// or succeed when the row with the same key holds the same values.
UINT ModifyByKey(View& view, const Record& record, bool overwrite) {
  Table& table = *view.bound->tables[0];
  if (table.dropped) return ERROR_FUNCTION_FAILED;
  std::vector<Cell> cells;
  UINT r = RowFromRecord(view, record, &cells);
  if (r != ERROR_SUCCESS) return r;
  auto it = table.rows.find(table.KeyOf(cells));
  if (it == table.rows.end()) return InsertRow(table, std::move(cells), false);
  if (overwrite) {
    it->second->cells = std::move(cells);
    table.DropIndexes();
    return ERROR_SUCCESS;
  }
  return it->second->cells == cells ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

UINT Modify(View& view, MSIMODIFY mode, Record& record) {
  if (!view.IsSelect()) return ERROR_FUNCTION_FAILED;
  if (record.Count() < view.bound->columns.size()) return ERROR_INVALID_DATA;
  switch (mode) {
    case MSIMODIFY_REFRESH: {
      std::ptrdiff_t row = RowOfRecord(view, record);
      if (row < 0 || view.Deleted(static_cast<std::size_t>(row))) return ERROR_NO_MORE_ITEMS;
      FillRecord(view, static_cast<std::size_t>(row), &record);
      return ERROR_SUCCESS;
    }
    case MSIMODIFY_INSERT:
    case MSIMODIFY_INSERT_TEMPORARY:
      if (view.IsJoin()) return ERROR_FUNCTION_FAILED;
      return ModifyInsert(view, record, mode == MSIMODIFY_INSERT_TEMPORARY);
    case MSIMODIFY_UPDATE:
      if (view.IsJoin()) return ERROR_FUNCTION_FAILED;
      return ModifyUpdate(view, record);
    case MSIMODIFY_ASSIGN:
    case MSIMODIFY_MERGE:
      if (view.IsJoin()) return ERROR_FUNCTION_FAILED;
      return ModifyByKey(view, record, mode == MSIMODIFY_ASSIGN);
    case MSIMODIFY_DELETE: {
      if (view.IsJoin()) return ERROR_FUNCTION_FAILED;
      std::ptrdiff_t row = RowOfRecord(view, record);
      if (row < 0 || view.Deleted(static_cast<std::size_t>(row))) return ERROR_FUNCTION_FAILED;
      DeleteRow(*view.bound->tables[0], *view.Tuple(static_cast<std::size_t>(row)));
      return ERROR_SUCCESS;
    }
    case MSIMODIFY_SEEK:
    case MSIMODIFY_VALIDATE_NEW:
      return ERROR_INVALID_DATA;
    case MSIMODIFY_REPLACE:
    case MSIMODIFY_VALIDATE:
    case MSIMODIFY_VALIDATE_FIELD:
    case MSIMODIFY_VALIDATE_DELETE:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
  return ERROR_INVALID_PARAMETER;
}

// The names and types of a view's columns.
std::vector<const Column*> ViewColumns(const View& view) {
  std::vector<const Column*> out;
  const BoundStatement& b = *view.bound;
  switch (b.s.kind) {
    case Statement::kCreate:
      for (const Column& c : b.s.definitions) out.push_back(&c);
      break;
    case Statement::kDelete:
      for (const Column& c : b.tables[0]->columns) out.push_back(&c);
      break;
    case Statement::kDrop:
      break;
    default:
      for (const ColumnRef& ref : b.columns)
        out.push_back(&b.tables[static_cast<std::size_t>(ref.table)]
                           ->columns[static_cast<std::size_t>(ref.column)]);
      break;
  }
  return out;
}

}  // namespace

std::size_t RowsExamined() { return rowsExamined; }

UINT QueryRows(Database& db, const std::string& text, std::vector<std::vector<Field>>* rows) {
  if (!rows) return ERROR_INVALID_PARAMETER;
  rows->clear();
  Statement statement;
  UINT r = sql::Parse(text, &statement);
  if (r != ERROR_SUCCESS) return r;
  std::unique_ptr<BoundStatement> bound;
  r = Bind(db, std::move(statement), &bound);
  if (r != ERROR_SUCCESS) return r;
  if (bound->s.kind != Statement::kSelect) return ERROR_FUNCTION_FAILED;
  View view;
  view.db = std::shared_ptr<Database>(&db, [](Database*) {});  // borrowed, not owned
  view.bound = std::move(bound);
  ExecuteSelect(&view, nullptr);
  Record record(static_cast<unsigned>(view.bound->columns.size()));
  for (std::size_t i = 0; i < view.Count(); ++i) {
    FillRecord(view, i, &record);
    rows->emplace_back(record.fields.begin() + 1, record.fields.end());
  }
  return ERROR_SUCCESS;
}

void FailRowInsert(const std::string& table, UINT field, const std::string& value) {
  RowInsertFailures().push_back({table, field, value});
}

void ResetRowInsertFailures() { RowInsertFailures().clear(); }

}  // namespace winsim

using winsim::View;

namespace {

std::shared_ptr<View> GetView(MSIHANDLE handle) { return winsim::Get<View>(handle); }

}  // namespace

UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE database, LPCSTR query, MSIHANDLE* view) {
  auto db = winsim::Get<winsim::Database>(database);
  if (!db) return ERROR_INVALID_HANDLE;
  if (!query) return ERROR_BAD_QUERY_SYNTAX;
  if (!view) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<View> opened;
  UINT r = winsim::OpenView(db, query, &opened);
  if (r != ERROR_SUCCESS) return r;
  *view = winsim::AddHandle(opened);
  return ERROR_SUCCESS;
}

UINT WINAPI MsiViewExecute(MSIHANDLE view, MSIHANDLE params) {
  auto v = GetView(view);
  if (!v) return ERROR_INVALID_HANDLE;
  std::shared_ptr<winsim::Record> record;
  if (params) {
    record = winsim::Get<winsim::Record>(params);
    if (!record) return ERROR_INVALID_HANDLE;
  }
  return winsim::Execute(v.get(), record.get());
}

UINT WINAPI MsiViewFetch(MSIHANDLE view, MSIHANDLE* record) {
  if (!record) return ERROR_INVALID_PARAMETER;
  *record = 0;
  auto v = GetView(view);
  if (!v) return ERROR_INVALID_HANDLE;
  if (!v->IsSelect() || !v->executed) return ERROR_FUNCTION_FAILED;
  if (v->pending) {
    winsim::ExecuteSelect(v.get(), v->params.get());
    v->pending = false;
  }
  while (v->next < v->Count() && v->Deleted(v->next)) ++v->next;
  if (v->next >= v->Count()) {
    // The end of the rows; the next fetch starts again at the first row.
    v->next = 0;
    v->current = -1;
    return ERROR_NO_MORE_ITEMS;
  }
  auto fetched = std::make_shared<winsim::FetchedRecord>(
      static_cast<unsigned>(v->bound->columns.size()), *v, v->next);
  winsim::FillRecord(*v, v->next, fetched.get());
  v->current = static_cast<std::ptrdiff_t>(v->next++);
  *record = winsim::AddHandle(fetched);
  return ERROR_SUCCESS;
}

UINT WINAPI MsiViewModify(MSIHANDLE view, MSIMODIFY mode, MSIHANDLE record) {
  auto v = GetView(view);
  if (!v) return ERROR_INVALID_HANDLE;
  auto rec = winsim::Get<winsim::Record>(record);
  if (!rec) return ERROR_INVALID_HANDLE;
  return winsim::Modify(*v, mode, *rec);
}

UINT WINAPI MsiViewClose(MSIHANDLE view) {
  auto v = GetView(view);
  if (!v) return ERROR_INVALID_HANDLE;
  ++v->generation;
  v->executed = false;
  v->pending = false;
  v->result.clear();
  v->next = 0;
  v->current = -1;
  return ERROR_SUCCESS;
}

UINT WINAPI MsiViewGetColumnInfo(MSIHANDLE view, MSICOLINFO kind, MSIHANDLE* record) {
  if (!record) return ERROR_INVALID_PARAMETER;
  auto v = GetView(view);
  if (!v) return ERROR_INVALID_HANDLE;
  if (kind != MSICOLINFO_NAMES && kind != MSICOLINFO_TYPES) return ERROR_INVALID_PARAMETER;
  std::vector<const winsim::Column*> columns = winsim::ViewColumns(*v);
  if (columns.empty()) return ERROR_INVALID_PARAMETER;
  auto info = std::make_shared<winsim::Record>(static_cast<unsigned>(columns.size()));
  for (std::size_t i = 0; i < columns.size(); ++i)
    info->fields[i + 1] =
        winsim::Field::Str(kind == MSICOLINFO_NAMES ? columns[i]->name : columns[i]->TypeText());
  *record = winsim::AddHandle(info);
  return ERROR_SUCCESS;
}
