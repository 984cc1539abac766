// Reads an .msi file through libmsi: the list of tables from `_Tables`, each
// table's column names and types from a view on it, its key columns, its rows
// (streams read whole), and the summary information the engine needs.
//
// libmsi reads and writes databases but has no install engine, so it is used
// here only to read; everything that runs, runs in winsim.
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

}  // namespace

// libmsi reports a file it cannot open through GLib's log as well; the tool
// says it once, on its own line, so the log stays quiet while libmsi reads.
void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

struct QuietLog {
  GLogFunc previous = g_log_set_default_handler(Quiet, nullptr);
  ~QuietLog() { g_log_set_default_handler(previous, nullptr); }
};

bool ReadMsiFile(const std::string& path, SourcePackage* package, std::string* error) {
  package->origin = "libmsi";
  QuietLog quiet;
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

}  // namespace viduzo_run
