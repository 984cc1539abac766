// Reads an .msi file through libmsi: the list of tables from `_Tables`, each
// table's column names and types from a view on it, its key columns, its rows
// (streams read whole), and the summary information the engine needs.
//
// libmsi reads and writes databases but has no install engine, so it is used
// here only to read; everything that runs, runs in winsim. libmsi does not
// survive every damaged file (a damaged string pool or table list can make it
// read through a null pointer), so it reads in a child process of its own,
// which hands the package over through a pipe; a child that dies or takes
// longer than a minute means the file is no installer database it can read.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <glib.h>
#include <gio/gio.h>
#include <libmsi.h>

#include <memory>

#include "tools/run/source.h"

namespace viduzo_run {
namespace {

// Owners for libmsi's GObjects, GErrors and strings.
struct Unref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref>;

struct ErrorHolder {
  GError* error = nullptr;
  ~ErrorHolder() { Clear(); }
  void Clear() {
    if (error) g_error_free(error);
    error = nullptr;
  }
  std::string Text() const { return error && error->message ? error->message : "unknown error"; }
};

std::string TakeString(gchar* text) {
  std::string result = text ? text : "";
  g_free(text);
  return result;
}

bool ReadStream(LibmsiRecord* record, guint field, std::string* bytes) {
  GPtr<GInputStream> stream(libmsi_record_get_stream(record, field));
  if (!stream) return false;
  char chunk[65536];
  for (;;) {
    gssize got = g_input_stream_read(stream.get(), chunk, sizeof chunk, nullptr, nullptr);
    if (got < 0) return false;
    if (got == 0) return true;
    bytes->append(chunk, static_cast<std::size_t>(got));
  }
}

std::vector<std::string> ColumnInfo(LibmsiQuery* query, LibmsiColInfo kind, ErrorHolder* error) {
  std::vector<std::string> names;
  GPtr<LibmsiRecord> info(libmsi_query_get_column_info(query, kind, &error->error));
  if (!info) return names;
  guint count = libmsi_record_get_field_count(info.get());
  for (guint i = 1; i <= count; ++i) names.push_back(TakeString(libmsi_record_get_string(info.get(), i)));
  return names;
}

bool ReadTable(LibmsiDatabase* db, const std::string& name, SourceTable* table, std::string* error) {
  table->name = name;
  ErrorHolder failure;
  const std::string sql = "SELECT * FROM `" + name + "`";
  GPtr<LibmsiQuery> query(libmsi_query_new(db, sql.c_str(), &failure.error));
  if (!query || !libmsi_query_execute(query.get(), nullptr, &failure.error)) {
    *error = "cannot read table " + name + " through libmsi: " + failure.Text();
    return false;
  }
  table->columns = ColumnInfo(query.get(), LIBMSI_COL_INFO_NAMES, &failure);
  table->types = ColumnInfo(query.get(), LIBMSI_COL_INFO_TYPES, &failure);
  if (table->columns.empty() || table->types.size() != table->columns.size()) {
    *error = "cannot read the columns of table " + name + " through libmsi";
    return false;
  }
  GPtr<LibmsiRecord> keys(libmsi_database_get_primary_keys(db, name.c_str(), &failure.error));
  if (keys) {
    guint count = libmsi_record_get_field_count(keys.get());
    for (guint i = 1; i <= count; ++i)
      table->keys.push_back(TakeString(libmsi_record_get_string(keys.get(), i)));
  }
  failure.Clear();
  while (GPtr<LibmsiRecord> record{libmsi_query_fetch(query.get(), &failure.error)}) {
    std::vector<SourceCell> row(table->columns.size());
    for (guint i = 1; i <= table->columns.size(); ++i) {
      SourceCell& cell = row[i - 1];
      const char kind = static_cast<char>(g_ascii_tolower(table->types[i - 1][0]));
      if (kind == 'v') {
        // A stream column: a null field has no stream.
        cell.null = !ReadStream(record.get(), i, &cell.text);
        if (cell.null) cell.text.clear();
        continue;
      }
      if (libmsi_record_is_null(record.get(), i)) continue;
      cell.null = false;
      cell.text = kind == 'i' ? std::to_string(libmsi_record_get_int(record.get(), i))
                              : TakeString(libmsi_record_get_string(record.get(), i));
    }
    table->rows.push_back(std::move(row));
  }
  libmsi_query_close(query.get(), nullptr);
  return true;
}

void ReadSummary(LibmsiDatabase* db, SourcePackage* package) {
  ErrorHolder failure;
  GPtr<LibmsiSummaryInfo> summary(libmsi_summary_info_new(db, 0, &failure.error));
  if (!summary) return;
  const LibmsiProperty kKept[] = {LIBMSI_PROPERTY_TEMPLATE, LIBMSI_PROPERTY_UUID,
                                  LIBMSI_PROPERTY_VERSION, LIBMSI_PROPERTY_SOURCE};
  for (LibmsiProperty property : kKept) {
    failure.Clear();
    switch (libmsi_summary_info_get_property_type(summary.get(), property, &failure.error)) {
      case LIBMSI_PROPERTY_TYPE_STRING: {
        const gchar* text = libmsi_summary_info_get_string(summary.get(), property, nullptr);
        if (text) package->summary[property] = text;
        break;
      }
      case LIBMSI_PROPERTY_TYPE_INT:
        package->summary[property] =
            std::to_string(libmsi_summary_info_get_int(summary.get(), property, nullptr));
        break;
      default:
        break;
    }
  }
}

bool ReadInThisProcess(const std::string& path, SourcePackage* package, std::string* error) {
  ErrorHolder failure;
  GPtr<LibmsiDatabase> db(
      libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &failure.error));
  if (!db) {
    *error = path + " is not an installer database" +
             (failure.error ? " (" + failure.Text() + ")" : std::string());
    return false;
  }
  GPtr<LibmsiQuery> query(libmsi_query_new(db.get(), "SELECT `Name` FROM `_Tables`", &failure.error));
  if (!query || !libmsi_query_execute(query.get(), nullptr, &failure.error)) {
    *error = path + " is not an installer database (no table list: " + failure.Text() + ")";
    return false;
  }
  std::vector<std::string> names;
  while (GPtr<LibmsiRecord> record{libmsi_query_fetch(query.get(), nullptr)})
    names.push_back(TakeString(libmsi_record_get_string(record.get(), 1)));
  libmsi_query_close(query.get(), nullptr);
  for (const std::string& name : names) {
    SourceTable table;
    if (!ReadTable(db.get(), name, &table, error)) return false;
    package->tables.push_back(std::move(table));
  }
  ReadSummary(db.get(), package);
  return true;
}

// ---- the hand-over from the child process ------------------------------------------

class Packer {
 public:
  void Number(uint64_t value) { out_.append(reinterpret_cast<const char*>(&value), sizeof value); }
  void Text(const std::string& text) {
    Number(text.size());
    out_ += text;
  }
  void Texts(const std::vector<std::string>& texts) {
    Number(texts.size());
    for (const std::string& text : texts) Text(text);
  }
  const std::string& Data() const { return out_; }

 private:
  std::string out_;
};

class Unpacker {
 public:
  explicit Unpacker(const std::string& in) : in_(in) {}
  bool Number(uint64_t* value) {
    if (in_.size() - pos_ < sizeof *value) return false;
    std::memcpy(value, in_.data() + pos_, sizeof *value);
    pos_ += sizeof *value;
    return true;
  }
  bool Text(std::string* text) {
    uint64_t size = 0;
    if (!Number(&size) || size > in_.size() - pos_) return false;
    text->assign(in_, pos_, size);
    pos_ += size;
    return true;
  }
  bool Texts(std::vector<std::string>* texts) {
    uint64_t count = 0;
    if (!Number(&count) || count > in_.size() - pos_) return false;
    texts->resize(count);
    for (std::string& text : *texts)
      if (!Text(&text)) return false;
    return true;
  }

 private:
  const std::string& in_;
  std::size_t pos_ = 0;
};

std::string Pack(bool ok, const SourcePackage& package, const std::string& error) {
  Packer p;
  p.Number(ok ? 1 : 0);
  p.Text(error);
  p.Number(package.tables.size());
  for (const SourceTable& table : package.tables) {
    p.Text(table.name);
    p.Texts(table.columns);
    p.Texts(table.types);
    p.Texts(table.keys);
    p.Number(table.rows.size());
    for (const auto& row : table.rows) {
      for (const SourceCell& cell : row) {
        p.Number(cell.null ? 1 : 0);
        p.Text(cell.text);
      }
    }
  }
  p.Number(package.summary.size());
  for (const auto& [pid, text] : package.summary) {
    p.Number(pid);
    p.Text(text);
  }
  return p.Data();
}

bool Unpack(const std::string& data, bool* ok, SourcePackage* package, std::string* error) {
  Unpacker u(data);
  uint64_t flag = 0, tables = 0, summaries = 0;
  if (!u.Number(&flag) || !u.Text(error) || !u.Number(&tables) || tables > data.size()) return false;
  *ok = flag == 1;
  for (uint64_t t = 0; t < tables; ++t) {
    SourceTable table;
    uint64_t rows = 0;
    if (!u.Text(&table.name) || !u.Texts(&table.columns) || !u.Texts(&table.types) ||
        !u.Texts(&table.keys) || !u.Number(&rows) || rows > data.size())
      return false;
    for (uint64_t r = 0; r < rows; ++r) {
      std::vector<SourceCell> row(table.columns.size());
      for (SourceCell& cell : row) {
        uint64_t null = 0;
        if (!u.Number(&null) || !u.Text(&cell.text)) return false;
        cell.null = null != 0;
      }
      table.rows.push_back(std::move(row));
    }
    package->tables.push_back(std::move(table));
  }
  if (!u.Number(&summaries)) return false;
  for (uint64_t i = 0; i < summaries; ++i) {
    uint64_t pid = 0;
    std::string text;
    if (!u.Number(&pid) || !u.Text(&text)) return false;
    package->summary[static_cast<unsigned>(pid)] = text;
  }
  return true;
}

}  // namespace

bool ReadMsiFile(const std::string& path, SourcePackage* package, std::string* error) {
  package->origin = "libmsi";
  const int kSeconds = 60;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    *error = "cannot start the reader of " + path;
    return false;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    *error = "cannot start the reader of " + path;
    return false;
  }
  if (child == 0) {
    // The child reads and leaves at once, without the exit handlers that
    // belong to the parent (winsim removes its sandbox at exit).
    close(pipeEnds[0]);
    // What libmsi (through GLib's log) or a sanitizer says about a damaged
    // file is left unsaid: the parent says it in one line.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
    alarm(kSeconds);
    SourcePackage read;
    std::string reason;
    const bool ok = ReadInThisProcess(path, &read, &reason);
    const std::string data = Pack(ok, read, reason);
    for (std::size_t sent = 0; sent < data.size();) {
      ssize_t n = write(pipeEnds[1], data.data() + sent, data.size() - sent);
      if (n <= 0) _exit(1);
      sent += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string data;
  char chunk[65536];
  for (;;) {
    ssize_t n = read(pipeEnds[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(chunk, static_cast<std::size_t>(n));
  }
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  bool ok = false;
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
    *error = path + " is not an installer database libmsi can read (it read for more than a minute)";
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !Unpack(data, &ok, package, error)) {
    *error = path + " is not an installer database libmsi can read (libmsi stopped while reading it)";
    return false;
  }
  return ok;
}

}  // namespace viduzo_run

