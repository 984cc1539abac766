// Takes the state of the session and of winsim's machine, and compares two.
// The registry is walked through the registry API (HKEY_LOCAL_MACHINE and
// HKEY_USERS hold everything; the current user's hive is shown as HKCU, the
// classes as HKCR), the files through the sandbox folder that holds the drives.
#include "tools/run/changes.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "winsim/control.h"

namespace viduzo_run {
namespace {

namespace fs = std::filesystem;

std::string Hex(const BYTE* data, DWORD size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (DWORD i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 15];
  }
  return text;
}

// A value in the Registry table's notation, the one the scenario takes.
std::string ValueText(DWORD type, const std::vector<BYTE>& data, DWORD size) {
  const char* bytes = reinterpret_cast<const char*>(data.data());
  std::string text(bytes, size);
  auto cut = [](std::string s) {
    std::size_t nul = s.find('\0');
    return nul == std::string::npos ? s : s.substr(0, nul);
  };
  switch (type) {
    case REG_SZ: {
      std::string s = cut(text);
      return s.rfind('#', 0) == 0 ? "#" + s : s;
    }
    case REG_EXPAND_SZ:
      return "#%" + cut(text);
    case REG_DWORD:
      if (size == 4)
        return "#" + std::to_string(static_cast<unsigned>(data[0] | data[1] << 8 | data[2] << 16 |
                                                          static_cast<unsigned>(data[3]) << 24));
      return "#x" + Hex(data.data(), size);
    case REG_MULTI_SZ: {
      std::string out;
      std::size_t start = 0;
      while (start < text.size() && text[start] != '\0') {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        out += (out.empty() ? "" : "[~]") + text.substr(start, end - start);
        start = end + 1;
      }
      return out + "[~]";
    }
    case REG_BINARY:
      return "#x" + Hex(data.data(), size);
    default:
      return "(type " + std::to_string(type) + ") #x" + Hex(data.data(), size);
  }
}

void WalkKey(HKEY key, const std::string& path, State* state) {
  auto& values = state->registry[path];
  std::vector<char> name(16384 + 1);
  std::vector<BYTE> data(4096);
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD type = 0, dataSize = static_cast<DWORD>(data.size());
    LONG result = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (result == ERROR_MORE_DATA) {
      data.resize(dataSize + 1);
      nameSize = static_cast<DWORD>(name.size());
      dataSize = static_cast<DWORD>(data.size());
      result = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    }
    if (result != ERROR_SUCCESS) break;
    values[std::string(name.data(), nameSize)] = ValueText(type, data, dataSize);
  }
  std::vector<std::string> subkeys;
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    if (RegEnumKeyExA(key, index, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subkeys.emplace_back(name.data(), nameSize);
  }
  for (const std::string& subkey : subkeys) {
    HKEY child = nullptr;
    if (RegOpenKeyExA(key, subkey.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    WalkKey(child, path + "\\" + subkey, state);
    RegCloseKey(child);
  }
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  });
  return text;
}

// HKU\<current user> as HKCU, HKLM\SOFTWARE\Classes as HKCR.
std::string ShownKey(const std::string& key) {
  const std::pair<std::string, std::string> kViews[] = {
      {"HKU\\" + winsim::CurrentUserSid(), "HKCU"}, {"HKLM\\SOFTWARE\\CLASSES", "HKCR"}};
  for (const auto& [prefix, shown] : kViews) {
    const std::string upper = Upper(key.substr(0, prefix.size()));
    if (upper == Upper(prefix) && (key.size() == prefix.size() || key[prefix.size()] == '\\'))
      return shown + key.substr(prefix.size());
  }
  return key;
}

// The Windows path of a host path under the sandbox: "C/x" is C:\x,
// "UNC/server/share/x" is \\server\share\x.
std::string WindowsPath(const fs::path& relative) {
  std::string text;
  auto part = relative.begin();
  if (part == relative.end()) return text;
  if (part->string() == "UNC") {
    text = "\\";
    ++part;
  } else {
    text = part->string() + ":";
    ++part;
  }
  for (; part != relative.end(); ++part) text += "\\" + part->string();
  return text;
}

void WalkFiles(const std::string& ignored, State* state) {
  const fs::path root = winsim::SandboxRoot();
  std::error_code failure;
  for (fs::recursive_directory_iterator it(root, failure), end; !failure && it != end;
       it.increment(failure)) {
    const fs::path relative = fs::relative(it->path(), root, failure);
    if (failure) break;
    std::string path = WindowsPath(relative);
    FileEntry entry;
    entry.folder = it->is_directory();
    if (entry.folder) {
      path += "\\";
    } else {
      if (Upper(path) == Upper(ignored)) continue;
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      const std::string content = bytes.str();
      entry.size = content.size();
      entry.digest = std::hash<std::string>()(content);
    }
    state->files[path] = entry;
  }
}

std::string RowText(const std::vector<std::string>& fields) {
  std::string text;
  for (std::size_t i = 0; i < fields.size(); ++i) text += (i ? " | " : "") + fields[i];
  return text;
}

const char* MessageTypeName(INSTALLMESSAGE type) {
  switch (type & 0xFF000000) {
    case INSTALLMESSAGE_FATALEXIT: return "FATALEXIT";
    case INSTALLMESSAGE_ERROR: return "ERROR";
    case INSTALLMESSAGE_WARNING: return "WARNING";
    case INSTALLMESSAGE_USER: return "USER";
    case INSTALLMESSAGE_INFO: return "INFO";
    case INSTALLMESSAGE_ACTIONSTART: return "ACTIONSTART";
    case INSTALLMESSAGE_ACTIONDATA: return "ACTIONDATA";
    case INSTALLMESSAGE_PROGRESS: return "PROGRESS";
    case INSTALLMESSAGE_COMMONDATA: return "COMMONDATA";
    default: return "OTHER";
  }
}

}  // namespace

State Capture(MSIHANDLE install, const std::string& ignoredFile) {
  State state;
  state.properties = winsim::SessionProperties(install);
  for (const winsim::TableContent& table : winsim::DatabaseTables(install)) {
    TableRows& rows = state.tables[table.name];
    rows.columns = table.columns;
    rows.types = table.types;
    for (const winsim::TableRowContent& row : table.rows) {
      std::vector<std::string> fields = row.fields;
      for (std::size_t i = 0; i < fields.size(); ++i)
        if (!fields[i].empty() && (table.types[i][0] == 'v' || table.types[i][0] == 'V'))
          fields[i] = "<stream of " + std::to_string(fields[i].size()) + " bytes>";
      rows.rows.emplace(std::move(fields), row.temporary);
    }
  }
  const std::pair<HKEY, const char*> kRoots[] = {{HKEY_LOCAL_MACHINE, "HKLM"}, {HKEY_USERS, "HKU"}};
  for (const auto& [root, name] : kRoots) WalkKey(root, name, &state);
  WalkFiles(ignoredFile, &state);
  state.debugLines = winsim::DebugLines().size();
  state.messages = winsim::Messages().size();
  state.messageBoxes = winsim::MessageBoxes().size();
  state.installerHandles = winsim::OpenHandleCount();
  state.kernelHandles = winsim::OpenKernelHandleCount();
  state.registryKeys = winsim::OpenKeyCount();
  return state;
}

std::vector<Change> Compare(const State& before, const State& after) {
  std::vector<Change> changes;
  // Properties, by name.
  for (const auto& [name, value] : after.properties) {
    auto old = before.properties.find(name);
    if (old == before.properties.end())
      changes.push_back({"property", "added", name, "", value});
    else if (old->second != value)
      changes.push_back({"property", "changed", name, old->second, value});
  }
  for (const auto& [name, value] : before.properties)
    if (!after.properties.count(name)) changes.push_back({"property", "removed", name, value, ""});

  // Rows, by table: those that came and those that went.
  static const TableRows kNone;
  std::set<std::string> tableNames;
  for (const auto& [name, rows] : before.tables) tableNames.insert(name);
  for (const auto& [name, rows] : after.tables) tableNames.insert(name);
  for (const std::string& name : tableNames) {
    auto b = before.tables.find(name), a = after.tables.find(name);
    const TableRows& old = b == before.tables.end() ? kNone : b->second;
    const TableRows& now = a == after.tables.end() ? kNone : a->second;
    auto report = [&](const TableRows& from, const TableRows& against, const char* kind) {
      for (const auto& row : from.rows) {
        if (against.rows.count(row)) continue;
        Change change{"row", kind, name, "", RowText(row.first)};
        change.temporary = row.second;
        for (std::size_t i = 0; i < row.first.size() && i < from.columns.size(); ++i)
          change.fields.emplace_back(from.columns[i], row.first[i]);
        changes.push_back(std::move(change));
      }
    };
    report(old, now, "removed");
    report(now, old, "added");
  }

  // Registry keys and values.
  for (const auto& [key, values] : after.registry) {
    auto old = before.registry.find(key);
    if (old == before.registry.end()) changes.push_back({"registry", "added", ShownKey(key), "", ""});
    for (const auto& [name, value] : values) {
      const std::map<std::string, std::string> none;
      const auto& oldValues = old == before.registry.end() ? none : old->second;
      auto was = oldValues.find(name);
      if (was == oldValues.end())
        changes.push_back({"registry", "added", ShownKey(key) + "|" + name, "", value});
      else if (was->second != value)
        changes.push_back({"registry", "changed", ShownKey(key) + "|" + name, was->second, value});
    }
  }
  for (const auto& [key, values] : before.registry) {
    auto now = after.registry.find(key);
    if (now == after.registry.end()) {
      changes.push_back({"registry", "removed", ShownKey(key), "", ""});
      continue;
    }
    for (const auto& [name, value] : values)
      if (!now->second.count(name))
        changes.push_back({"registry", "removed", ShownKey(key) + "|" + name, value, ""});
  }

  // Files and folders.
  for (const auto& [path, entry] : after.files) {
    auto old = before.files.find(path);
    if (old == before.files.end())
      changes.push_back({"file", "added", path, "",
                         entry.folder ? "" : std::to_string(entry.size) + " bytes"});
    else if (!(old->second == entry))
      changes.push_back({"file", "changed", path, std::to_string(old->second.size) + " bytes",
                         std::to_string(entry.size) + " bytes"});
  }
  for (const auto& [path, entry] : before.files)
    if (!after.files.count(path)) changes.push_back({"file", "removed", path, "", ""});

  // What the action said: debug lines, installer messages, message boxes.
  const auto& lines = winsim::DebugLines();
  for (std::size_t i = before.debugLines; i < after.debugLines && i < lines.size(); ++i)
    changes.push_back({"debug", "", "", "", lines[i]});
  const auto& messages = winsim::Messages();
  for (std::size_t i = before.messages; i < after.messages && i < messages.size(); ++i) {
    Change change{"message", "", MessageTypeName(messages[i].type), "", ""};
    change.texts = messages[i].fields;
    change.after = messages[i].fields.empty() ? "" : messages[i].fields[0];
    changes.push_back(std::move(change));
  }
  const auto& boxes = winsim::MessageBoxes();
  for (std::size_t i = before.messageBoxes; i < after.messageBoxes && i < boxes.size(); ++i)
    changes.push_back({"messagebox", "", boxes[i].caption, "", boxes[i].text});

  // Handles an action left open.
  const std::pair<const char*, std::pair<std::size_t, std::size_t>> kCounts[] = {
      {"installer handles", {before.installerHandles, after.installerHandles}},
      {"file handles", {before.kernelHandles, after.kernelHandles}},
      {"registry keys", {before.registryKeys, after.registryKeys}}};
  for (const auto& [what, counts] : kCounts)
    if (counts.second > counts.first)
      changes.push_back({"leak", "", what, "", std::to_string(counts.second - counts.first)});
  return changes;
}

}  // namespace viduzo_run
