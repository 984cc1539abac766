// Builds the winsim package from a source package through the installer API,
// as a Windows program would build a database: CREATE TABLE with the columns'
// types, one INSERT view with parameters per table, streams through
// MsiRecordSetStreamA, summary information, commit, MsiOpenPackageA.
#include "tools/run/load.h"

#include <msidefs.h>
#include <wtypes.h>

#include <algorithm>
#include <cstdlib>

#include "winsim/control.h"

namespace viduzo_run {
namespace {

int ColumnOf(const SourceTable& table, const std::string& name) {
  for (std::size_t i = 0; i < table.columns.size(); ++i)
    if (table.columns[i] == name) return static_cast<int>(i);
  return -1;
}

// "s72" -> "CHAR(72) NOT NULL", "L0" -> "CHAR(0) LOCALIZABLE", "i2" -> "SHORT NOT NULL", ...
std::string SqlType(const std::string& type) {
  const char letter = type[0];
  const int size = std::atoi(type.c_str() + 1);
  std::string sql;
  switch (letter) {
    case 's': case 'S': case 'l': case 'L':
      sql = size > 255 ? "LONGCHAR" : "CHAR(" + std::to_string(size) + ")";
      break;
    case 'i': case 'I':
      sql = size == 2 ? "SHORT" : "LONG";
      break;
    default:
      sql = "OBJECT";
      break;
  }
  if (letter >= 'a' && letter <= 'z') sql += " NOT NULL";
  if (letter == 'l' || letter == 'L') sql += " LOCALIZABLE";
  return sql;
}

bool Run(MSIHANDLE database, const std::string& sql, std::string* error) {
  MSIHANDLE view = 0;
  UINT result = MsiDatabaseOpenViewA(database, sql.c_str(), &view);
  if (result == ERROR_SUCCESS) result = MsiViewExecute(view, 0);
  if (view) {
    MsiViewClose(view);
    MsiCloseHandle(view);
  }
  if (result != ERROR_SUCCESS) *error = "the engine refused \"" + sql + "\" (" + std::to_string(result) + ")";
  return result == ERROR_SUCCESS;
}

// A stream reaches a record only from a file: it is written to a scratch file
// in the Windows temporary folder first.
bool SetStream(MSIHANDLE record, UINT field, const std::string& bytes, const std::string& scratch) {
  HANDLE file = CreateFileA(scratch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  bool set = ok && MsiRecordSetStreamA(record, field, scratch.c_str()) == ERROR_SUCCESS;
  DeleteFileA(scratch.c_str());
  return set;
}

bool LoadTable(MSIHANDLE database, const SourceTable& table, const std::string& scratch,
               std::string* error) {
  if (table.keys.empty()) {
    *error = "table " + table.name + " has no key columns";
    return false;
  }
  std::string create = "CREATE TABLE `" + table.name + "` (";
  std::string insert = "INSERT INTO `" + table.name + "` (";
  std::string values;
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const char* comma = i ? ", " : "";
    create += comma + ("`" + table.columns[i] + "` ") + SqlType(table.types[i]);
    insert += comma + ("`" + table.columns[i] + "`");
    values += i ? ", ?" : "?";
  }
  create += " PRIMARY KEY ";
  for (std::size_t i = 0; i < table.keys.size(); ++i)
    create += (i ? ", `" : "`") + table.keys[i] + "`";
  create += ")";
  insert += ") VALUES (" + values + ")";
  if (!Run(database, create, error)) return false;
  if (table.rows.empty()) return true;

  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewA(database, insert.c_str(), &view) != ERROR_SUCCESS) {
    *error = "the engine refused \"" + insert + "\"";
    return false;
  }
  const UINT count = static_cast<UINT>(table.columns.size());
  MSIHANDLE record = MsiCreateRecord(count);
  bool ok = true;
  for (std::size_t r = 0; r < table.rows.size() && ok; ++r) {
    MsiRecordClearData(record);
    const auto& row = table.rows[r];
    for (UINT f = 1; f <= count && ok; ++f) {
      const SourceCell& cell = row[f - 1];
      if (cell.null) continue;
      const char kind = table.types[f - 1][0];
      if (kind == 'v' || kind == 'V') {
        ok = SetStream(record, f, cell.text, scratch);
        if (!ok) *error = "table " + table.name + ": cannot hand a stream to the engine";
      } else {
        MsiRecordSetStringA(record, f, cell.text.c_str());
      }
    }
    if (!ok) break;
    UINT result = MsiViewExecute(view, record);
    MsiViewClose(view);
    if (result != ERROR_SUCCESS) {
      *error = "table " + table.name + ", row " + std::to_string(r + 1) +
               ": the engine refused the row (" + std::to_string(result) + ")";
      ok = false;
    }
  }
  MsiCloseHandle(record);
  MsiCloseHandle(view);
  return ok;
}

bool WriteSummary(MSIHANDLE database, const SourcePackage& package) {
  // What the engine needs to open a package: a template, a revision number
  // (the package code), the schema and the word count.
  auto text = [&](unsigned pid, const char* fallback) {
    auto it = package.summary.find(pid);
    return it == package.summary.end() ? std::string(fallback) : it->second;
  };
  MSIHANDLE summary = 0;
  if (MsiGetSummaryInformationA(database, nullptr, 4, &summary) != ERROR_SUCCESS) return false;
  MsiSummaryInfoSetPropertyA(summary, PID_TEMPLATE, VT_LPSTR, 0, nullptr,
                             text(PID_TEMPLATE, ";1033").c_str());
  MsiSummaryInfoSetPropertyA(summary, PID_REVNUMBER, VT_LPSTR, 0, nullptr,
                             text(PID_REVNUMBER, "{00000000-0000-0000-0000-000000000000}").c_str());
  MsiSummaryInfoSetPropertyA(summary, PID_PAGECOUNT, VT_I4,
                             std::atoi(text(PID_PAGECOUNT, "200").c_str()), nullptr, nullptr);
  MsiSummaryInfoSetPropertyA(summary, PID_WORDCOUNT, VT_I4,
                             std::atoi(text(PID_WORDCOUNT, "2").c_str()), nullptr, nullptr);
  UINT result = MsiSummaryInfoPersist(summary);
  MsiCloseHandle(summary);
  return result == ERROR_SUCCESS;
}

}  // namespace

void SubstituteViduzoBinaries(SourcePackage* package, LoadedPackage* loaded) {
  std::vector<std::string>& substituted = loaded->substitutedBinaries;
  SourceTable* actions = nullptr;
  SourceTable* binaries = nullptr;
  for (SourceTable& table : package->tables) {
    if (table.name == "CustomAction") actions = &table;
    if (table.name == "Binary") binaries = &table;
  }
  if (!actions || !binaries) return;
  const int action = ColumnOf(*actions, "Action"), type = ColumnOf(*actions, "Type"),
            source = ColumnOf(*actions, "Source"), target = ColumnOf(*actions, "Target");
  const int name = ColumnOf(*binaries, "Name"), data = ColumnOf(*binaries, "Data");
  if (action < 0 || type < 0 || source < 0 || target < 0 || name < 0 || data < 0) return;
  HMODULE viduzo = LoadLibraryA("viduzo.dll");
  for (const auto& row : actions->rows) {
    if ((std::atoi(row[type].text.c_str()) & 0x3F) != 1) continue;
    if (!viduzo || !GetProcAddress(viduzo, row[target].text.c_str())) continue;
    const std::string& key = row[source].text;
    loaded->viduzoActions[row[action].text] = row[target].text;
    if (std::find(substituted.begin(), substituted.end(), key) != substituted.end()) continue;
    for (auto& binary : binaries->rows) {
      if (binary[name].text != key) continue;
      binary[data].null = false;
      binary[data].text = winsim::ModuleImage("viduzo.dll");
      substituted.push_back(key);
    }
  }
  if (viduzo) FreeLibrary(viduzo);
}

bool LoadPackage(const SourcePackage& package, LoadedPackage* loaded, std::string* error) {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  loaded->databasePath = std::string(temp) + "viduzo-run.msi";
  const std::string scratch = std::string(temp) + "viduzo-run.stream";
  MSIHANDLE database = 0;
  if (MsiOpenDatabaseA(loaded->databasePath.c_str(), MSIDBOPEN_CREATE, &database) != ERROR_SUCCESS) {
    *error = "cannot create the package database in winsim";
    return false;
  }
  bool ok = true;
  for (const SourceTable& table : package.tables) {
    ok = LoadTable(database, table, scratch, error);
    if (!ok) break;
  }
  if (ok && !(WriteSummary(database, package) && MsiDatabaseCommit(database) == ERROR_SUCCESS)) {
    *error = "cannot commit the package database in winsim";
    ok = false;
  }
  MsiCloseHandle(database);
  if (!ok) return false;
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  UINT result = MsiOpenPackageA(loaded->databasePath.c_str(), &loaded->install);
  if (result != ERROR_SUCCESS) {
    *error = "winsim's engine does not open the package (" + std::to_string(result) + ")";
    return false;
  }
  return true;
}

}  // namespace viduzo_run
