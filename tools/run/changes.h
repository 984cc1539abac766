// What an action changed: the state of the session and the machine is taken
// before and after it (properties, table rows, registry, files; the debug
// lines, messages and message boxes so far), and the difference is what the
// run reports.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo_run {

struct FileEntry {
  bool folder = false;
  std::size_t size = 0;
  std::size_t digest = 0;
  bool operator==(const FileEntry& other) const {
    return folder == other.folder && size == other.size && digest == other.digest;
  }
};

struct TableRows {
  std::vector<std::string> columns;
  std::vector<std::string> types;
  // Fields as text, a stream as "<stream of N bytes>"; with the temporary flag.
  std::set<std::pair<std::vector<std::string>, bool>> rows;
};

struct State {
  std::map<std::string, std::string> properties;
  std::map<std::string, TableRows> tables;
  // Registry keys as "HKLM\...", "HKCU\...", "HKU\..."; each key's values by
  // name, in the notation of the Registry table ("#1" a DWORD, ...).
  std::map<std::string, std::map<std::string, std::string>> registry;
  std::map<std::string, FileEntry> files;  // Windows paths; folders end in "\"
  std::size_t debugLines = 0, messages = 0, messageBoxes = 0;
  std::size_t installerHandles = 0, kernelHandles = 0, registryKeys = 0;
};

// The state now. ignoredFile is a Windows path left out (the tool's own database).
State Capture(MSIHANDLE install, const std::string& ignoredFile);

struct Change {
  std::string what;    // property, row, registry, file, debug, message, messagebox, leak
  std::string kind;    // added, removed, changed ("" for debug lines and messages)
  std::string name;    // property, table, key (with "|value"), path; message type
  std::string before;  // old value, "" when added
  std::string after;   // new value, the row's fields, the line's text
  bool temporary = false;  // rows only
  std::vector<std::pair<std::string, std::string>> fields;  // rows: column, value
  std::vector<std::string> texts;  // messages: the record's fields 0..n
};

std::vector<Change> Compare(const State& before, const State& after);

}  // namespace viduzo_run
