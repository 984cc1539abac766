// The package database: string pool, tables and rows, cell conversions, and the
// database file that MsiOpenDatabaseA reads and MsiDatabaseCommit writes.
#include "winsim/msi/database.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "winsim/control.h"

namespace winsim {

// ---- columns, tables, strings -------------------------------------------------

std::string Column::TypeText() const {
  char letter;
  std::string size;
  switch (kind) {
    case kString:
      letter = temporary ? 'g' : localizable ? 'l' : 's';
      size = std::to_string(width);
      break;
    case kObject:
      letter = 'v';
      size = "0";
      break;
    default:
      letter = temporary ? 'j' : 'i';
      size = kind == kShort ? "2" : "4";
      break;
  }
  if (nullable) letter = static_cast<char>(letter - 'a' + 'A');
  return std::string(1, letter) + size;
}

const Table::ColumnIndex& Table::IndexOf(int column) {
  auto it = indexes.find(column);
  if (it != indexes.end()) return it->second;
  ColumnIndex& index = indexes[column];
  for (const auto& [key, row] : rows)
    index[row->cells[static_cast<std::size_t>(column)]].emplace(row.get(), row);
  return index;
}

int Table::FindColumn(const std::string& columnName) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (columns[i].name == columnName) return static_cast<int>(i);
  return -1;
}

Cell StringPool::Intern(const std::string& text) {
  auto it = ids_.find(text);
  if (it != ids_.end()) return it->second;
  strings_.push_back(text);
  Cell id = static_cast<Cell>(strings_.size());
  ids_.emplace(text, id);
  return id;
}

Cell StringPool::Find(const std::string& text) const {
  auto it = ids_.find(text);
  return it == ids_.end() ? 0 : it->second;
}

const std::string& StringPool::Text(Cell id) const {
  static const std::string empty;
  if (id <= 0 || static_cast<std::size_t>(id) > strings_.size()) return empty;
  return strings_[static_cast<std::size_t>(id) - 1];
}

// ---- cells ----------------------------------------------------------------------

bool IsNullCell(const Column& column, Cell cell) {
  return column.IsInteger() ? cell == MSI_NULL_INTEGER : cell == 0;
}

UINT FieldToCell(Database& db, const Column& column, const Field& field, ValueSource source,
                 Cell* cell) {
  const UINT wrongKind = source == ValueSource::kSql ? ERROR_FUNCTION_FAILED : ERROR_INVALID_DATA;
  switch (column.kind) {
    case Column::kObject:
      // A stream's bytes go into the pool like a string; only a stream fits.
      *cell = field.kind == Field::kStream ? db.strings.Intern(field.text) : 0;
      return field.IsNull() || field.kind == Field::kStream ? ERROR_SUCCESS : wrongKind;
    case Column::kString:
      if (field.IsNull()) {
        *cell = 0;
      } else if (field.kind == Field::kInteger) {
        // An integer where text belongs: SQL keeps its decimal text, a record
        // handed to MsiViewModify is refused.
        if (source == ValueSource::kModify) return ERROR_INVALID_DATA;
        *cell = db.strings.Intern(std::to_string(field.integer));
      } else {
        *cell = db.strings.Intern(field.text);
      }
      return ERROR_SUCCESS;
    case Column::kShort:
    case Column::kLong:
      break;
  }
  if (field.IsNull()) {
    *cell = MSI_NULL_INTEGER;
    return ERROR_SUCCESS;
  }
  // Text that is not a decimal integer reads as the null integer.
  int value = field.kind == Field::kInteger ? field.integer : field.AsInteger();
  if (value == MSI_NULL_INTEGER) {
    *cell = MSI_NULL_INTEGER;
    return ERROR_SUCCESS;
  }
  if (column.kind == Column::kShort) {
    // A short column holds -32767..32767; -32768 is its null value.
    if (value == -32768) {
      value = MSI_NULL_INTEGER;
    } else if (value < -32768 || value > 32767) {
      return ERROR_FUNCTION_FAILED;
    }
  }
  *cell = value;
  return ERROR_SUCCESS;
}

bool FieldIsNull(const Column& column, const Field& field) {
  if (field.IsNull()) return true;
  return column.IsInteger() && field.kind == Field::kString &&
         field.AsInteger() == MSI_NULL_INTEGER;
}

Field CellToField(const Database& db, const Column& column, Cell cell) {
  switch (column.kind) {
    case Column::kString:
      return cell == 0 ? Field::Null() : Field::Str(db.strings.Text(cell));
    case Column::kObject:
      return cell == 0 ? Field::Null() : Field::Stream(db.strings.Text(cell));
    default:
      return Field::Int(cell);
  }
}

namespace {
uint64_t g_rowSequence = 0;
}  // namespace

uint64_t RowSequence() { return g_rowSequence; }

UINT InsertRow(Table& table, std::vector<Cell> cells, bool temporary, RowPtr* inserted) {
  Key key = table.KeyOf(cells);
  if (table.rows.count(key)) return ERROR_FUNCTION_FAILED;
  auto row = std::make_shared<Row>();
  row->cells = std::move(cells);
  row->temporary = temporary || table.temporary;
  row->born = ++g_rowSequence;
  for (auto& [column, index] : table.indexes)
    index[row->cells[static_cast<std::size_t>(column)]].emplace(row.get(), row);
  table.rows.emplace(std::move(key), row);
  if (inserted) *inserted = row;
  return ERROR_SUCCESS;
}

void DeleteRow(Table& table, const RowPtr& row) {
  if (row->deleted) return;
  row->deleted = true;
  for (auto& [column, index] : table.indexes) {
    auto bucket = index.find(row->cells[static_cast<std::size_t>(column)]);
    if (bucket == index.end()) continue;
    bucket->second.erase(row.get());
    if (bucket->second.empty()) index.erase(bucket);
  }
  auto it = table.rows.find(table.KeyOf(row->cells));
  if (it != table.rows.end() && it->second == row) table.rows.erase(it);
}

// ---- the database file ----------------------------------------------------------
//
// A little-endian binary image: a magic text, the string pool in id order (so
// that row order survives the round trip), the summary information, then each
// persistent table with its persistent columns and rows.

namespace {

const char kMagic[] = "winsim-msi-database-1";

class Writer {
 public:
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Text(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    out_ += s;
  }
  const std::string& Data() const { return out_; }

 private:
  std::string out_;
};

class Reader {
 public:
  explicit Reader(const std::string& in) : in_(in) {}
  bool U32(uint32_t* v) {
    if (pos_ + 4 > in_.size()) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i)
      *v |= static_cast<uint32_t>(static_cast<unsigned char>(in_[pos_ + i])) << (8 * i);
    pos_ += 4;
    return true;
  }
  bool I32(int32_t* v) {
    uint32_t u;
    if (!U32(&u)) return false;
    *v = static_cast<int32_t>(u);
    return true;
  }
  bool Text(std::string* s) {
    uint32_t size;
    if (!U32(&size) || size > in_.size() - pos_) return false;
    *s = in_.substr(pos_, size);
    pos_ += size;
    return true;
  }
  bool AtEnd() const { return pos_ == in_.size(); }

 private:
  const std::string& in_;
  std::size_t pos_ = 0;
};

std::string Serialize(const Database& db) {
  Writer w;
  w.Text(kMagic);
  const auto& strings = db.strings.All();
  w.U32(static_cast<uint32_t>(strings.size()));
  for (const std::string& s : strings) w.Text(s);

  w.U32(static_cast<uint32_t>(db.summary.size()));
  for (const auto& [pid, value] : db.summary) {
    w.U32(pid);
    w.U32(value.type);
    w.I32(value.integer);
    w.U32(value.time.dwLowDateTime);
    w.U32(value.time.dwHighDateTime);
    w.Text(value.text);
  }

  std::vector<const Table*> tables;
  for (const auto& [name, table] : db.tables)
    if (!table->temporary && !table->dropped) tables.push_back(table.get());
  w.U32(static_cast<uint32_t>(tables.size()));
  for (const Table* table : tables) {
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < table->columns.size(); ++i)
      if (!table->columns[i].temporary) kept.push_back(i);
    w.Text(table->name);
    w.U32(static_cast<uint32_t>(kept.size()));
    w.U32(static_cast<uint32_t>(table->keyCount));
    for (std::size_t i : kept) {
      const Column& c = table->columns[i];
      w.Text(c.name);
      w.U32(static_cast<uint32_t>(c.kind));
      w.U32(static_cast<uint32_t>(c.width));
      w.U32((c.nullable ? 1u : 0u) | (c.localizable ? 2u : 0u));
    }
    std::size_t persistent = 0;
    for (const auto& [key, row] : table->rows)
      if (!row->temporary) ++persistent;
    w.U32(static_cast<uint32_t>(persistent));
    for (const auto& [key, row] : table->rows) {
      if (row->temporary) continue;
      for (std::size_t i : kept) w.I32(row->cells[i]);
    }
  }
  return w.Data();
}

bool Deserialize(const std::string& data, Database* db) {
  Reader r(data);
  std::string magic;
  if (!r.Text(&magic) || magic != kMagic) return false;
  uint32_t count;
  if (!r.U32(&count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    std::string s;
    if (!r.Text(&s)) return false;
    db->strings.Intern(s);
  }
  if (!r.U32(&count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t pid;
    SummaryValue value;
    if (!r.U32(&pid) || !r.U32(&value.type) || !r.I32(&value.integer) ||
        !r.U32(&value.time.dwLowDateTime) || !r.U32(&value.time.dwHighDateTime) ||
        !r.Text(&value.text))
      return false;
    db->summary[pid] = value;
  }
  if (!r.U32(&count)) return false;
  for (uint32_t t = 0; t < count; ++t) {
    auto table = std::make_shared<Table>();
    uint32_t columns, keys, rows;
    if (!r.Text(&table->name) || !r.U32(&columns) || !r.U32(&keys) || keys > columns) return false;
    table->keyCount = keys;
    for (uint32_t c = 0; c < columns; ++c) {
      Column column;
      uint32_t kind, width, flags;
      if (!r.Text(&column.name) || !r.U32(&kind) || !r.U32(&width) || !r.U32(&flags) ||
          kind > Column::kObject)
        return false;
      column.kind = static_cast<Column::Kind>(kind);
      column.width = static_cast<int>(width);
      column.nullable = (flags & 1) != 0;
      column.localizable = (flags & 2) != 0;
      table->columns.push_back(column);
    }
    if (!r.U32(&rows)) return false;
    for (uint32_t i = 0; i < rows; ++i) {
      std::vector<Cell> cells(columns);
      for (uint32_t c = 0; c < columns; ++c)
        if (!r.I32(&cells[c])) return false;
      if (InsertRow(*table, std::move(cells), false) != ERROR_SUCCESS) return false;
    }
    db->tables[table->name] = table;
  }
  return r.AtEnd();
}

bool WriteHostFile(const std::string& windowsPath, const std::string& data) {
  std::string host = HostPath(windowsPath);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

bool ReadHostFile(const std::string& windowsPath, std::string* data) {
  std::ifstream in(HostPath(windowsPath), std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *data = buffer.str();
  return true;
}

}  // namespace

Database::~Database() {
  // A database created (or copied to an output path) and never committed
  // leaves no file behind.
  if (deleteUnlessCommitted && !commitPath.empty()) std::remove(HostPath(commitPath).c_str());
}

TablePtr Database::FindTable(const std::string& name) const {
  auto it = tables.find(name);
  return it == tables.end() || it->second->dropped ? nullptr : it->second;
}

UINT Database::Commit() {
  if (readOnly) return ERROR_SUCCESS;
  if (!WriteHostFile(commitPath, Serialize(*this))) return ERROR_FUNCTION_FAILED;
  deleteUnlessCommitted = false;
  return ERROR_SUCCESS;
}

UINT OpenDatabase(const std::string& path, LPCSTR persist, std::shared_ptr<Database>* out) {
  // The persist argument is a mode (0 to 4, plus the ignored patch-file flag 32)
  // or the path of an output database.
  const uintptr_t kPatchFile = 32;
  uintptr_t value = reinterpret_cast<uintptr_t>(persist);
  bool outputPath = value >= 0x10000;
  uintptr_t mode = value & ~kPatchFile;
  if (!outputPath && mode > reinterpret_cast<uintptr_t>(MSIDBOPEN_CREATEDIRECT))
    return ERROR_INVALID_PARAMETER;
  if (path.empty()) return ERROR_INVALID_PARAMETER;

  auto db = std::make_shared<Database>();
  db->path = path;
  db->commitPath = path;
  if (!outputPath && (mode == reinterpret_cast<uintptr_t>(MSIDBOPEN_CREATE) ||
                      mode == reinterpret_cast<uintptr_t>(MSIDBOPEN_CREATEDIRECT))) {
    // The new, empty database exists on disk at once; it goes away again when
    // it is closed without a commit.
    if (!WriteHostFile(path, Serialize(*db))) return ERROR_CREATE_FAILED;
    db->deleteUnlessCommitted = true;
  } else {
    std::string data;
    if (!ReadHostFile(path, &data) || !Deserialize(data, db.get())) return ERROR_OPEN_FAILED;
    if (outputPath) {
      db->commitPath = persist;
      if (!WriteHostFile(db->commitPath, Serialize(*db))) return ERROR_CREATE_FAILED;
      db->deleteUnlessCommitted = true;
    } else {
      db->readOnly = mode == reinterpret_cast<uintptr_t>(MSIDBOPEN_READONLY);
    }
  }
  *out = std::move(db);
  return ERROR_SUCCESS;
}

}  // namespace winsim

UINT WINAPI MsiOpenDatabaseA(LPCSTR path, LPCSTR persist, MSIHANDLE* database) {
  if (!path || !database) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<winsim::Database> db;
  UINT result = winsim::OpenDatabase(path, persist, &db);
  if (result != ERROR_SUCCESS) return result;
  *database = winsim::AddHandle(db);
  return ERROR_SUCCESS;
}

UINT WINAPI MsiDatabaseCommit(MSIHANDLE database) {
  auto db = winsim::Get<winsim::Database>(database);
  if (!db) return ERROR_INVALID_HANDLE;
  return db->Commit();
}
