// Scenario items and files, and how they are put on winsim's machine: through
// the Win32 calls a Windows program would make, so that the sandbox holds them
// exactly as the actions will find them.
#include "tools/run/scenario.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace viduzo_run {
namespace {

bool SplitAt(const std::string& text, char separator, std::string* left, std::string* right) {
  std::size_t at = text.find(separator);
  if (at == std::string::npos) return false;
  *left = text.substr(0, at);
  *right = text.substr(at + 1);
  return true;
}

bool ParseRoot(const std::string& name, HKEY* root) {
  static const std::pair<const char*, HKEY> kRoots[] = {
      {"HKLM", HKEY_LOCAL_MACHINE}, {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKCU", HKEY_CURRENT_USER},  {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKCR", HKEY_CLASSES_ROOT},  {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {"HKU", HKEY_USERS},          {"HKEY_USERS", HKEY_USERS}};
  for (const auto& [text, key] : kRoots) {
    if (name == text) {
      *root = key;
      return true;
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A value in the notation of the Registry table's Value column: "#123" a
// REG_DWORD, "#%text" a REG_EXPAND_SZ, "#xA0B1" a REG_BINARY, "##text" a REG_SZ
// that begins with "#", text holding "[~]" a REG_MULTI_SZ of the items between
// them, any other text a REG_SZ.
bool ParseValue(const std::string& value, RegistryFixture* fixture, std::string* error) {
  if (value.rfind("##", 0) == 0) {
    fixture->type = REG_SZ;
    fixture->data = value.substr(1) + '\0';
  } else if (value.rfind("#x", 0) == 0 || value.rfind("#X", 0) == 0) {
    fixture->type = REG_BINARY;
    const std::string hex = value.substr(2);
    if (hex.size() % 2) {
      *error = "binary value \"" + value + "\" has an odd number of hex digits";
      return false;
    }
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
      if (high < 0 || low < 0) {
        *error = "binary value \"" + value + "\" holds a character that is no hex digit";
        return false;
      }
      fixture->data += static_cast<char>(high * 16 + low);
    }
  } else if (value.rfind("#%", 0) == 0) {
    fixture->type = REG_EXPAND_SZ;
    fixture->data = value.substr(2) + '\0';
  } else if (value.rfind("#", 0) == 0) {
    char* end = nullptr;
    const std::string digits = value.substr(1);
    long long number = std::strtoll(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || number < -2147483648LL || number > 4294967295LL) {
      *error = "DWORD value \"" + value + "\" is no 32-bit number";
      return false;
    }
    fixture->type = REG_DWORD;
    const auto bits = static_cast<uint32_t>(number);
    for (int i = 0; i < 4; ++i) fixture->data += static_cast<char>((bits >> (8 * i)) & 0xFF);
  } else if (value.find("[~]") != std::string::npos) {
    fixture->type = REG_MULTI_SZ;
    std::size_t start = 0;
    for (;;) {
      std::size_t at = value.find("[~]", start);
      std::string item = value.substr(start, at == std::string::npos ? std::string::npos : at - start);
      if (!item.empty()) fixture->data += item + '\0';
      if (at == std::string::npos) break;
      start = at + 3;
    }
    fixture->data += '\0';
  } else {
    fixture->type = REG_SZ;
    fixture->data = value + '\0';
  }
  return true;
}

bool ParseRegistry(const std::string& argument, RegistryFixture* fixture, std::string* error) {
  std::string path = argument, value;
  std::size_t bar = argument.find('|');
  if (bar != std::string::npos) {
    path = argument.substr(0, bar);
    if (!SplitAt(argument.substr(bar + 1), '=', &fixture->name, &value)) {
      *error = "registry item \"" + argument + "\" has a value name but no \"=\"";
      return false;
    }
    fixture->hasValue = true;
  }
  std::string root;
  if (!SplitAt(path, '\\', &root, &fixture->key)) root = path;
  if (!ParseRoot(root, &fixture->root)) {
    *error = "registry item \"" + argument + "\" does not start with HKLM, HKCU, HKCR or HKU";
    return false;
  }
  return !fixture->hasValue || ParseValue(value, fixture, error);
}

bool ReadHostFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *bytes = buffer.str();
  return true;
}

// Creates every folder of a Windows path up to its last backslash.
void CreateParents(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

bool WriteWindowsFile(const std::string& path, const std::string& content) {
  CreateParents(path);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == content.size();
}

}  // namespace

bool AddScenarioItem(const std::string& kind, const std::string& argument, Scenario* scenario,
                     std::string* error) {
  std::string left, right;
  if (kind == "property") {
    if (!SplitAt(argument, '=', &left, &right) || left.empty()) {
      *error = "property item \"" + argument + "\" is not NAME=VALUE";
      return false;
    }
    scenario->properties.emplace_back(left, right);
  } else if (kind == "registry") {
    RegistryFixture fixture;
    if (!ParseRegistry(argument, &fixture, error)) return false;
    scenario->registry.push_back(fixture);
  } else if (kind == "folder") {
    if (argument.size() < 3 || argument[1] != ':') {
      *error = "folder item \"" + argument + "\" is no full Windows path";
      return false;
    }
    scenario->folders.push_back(argument.back() == '\\' ? argument : argument + "\\");
  } else if (kind == "file" || kind == "line") {
    // file PATH=TEXT (exactly that text), file PATH<HOSTFILE (a host file's
    // bytes), line PATH=TEXT (one more line, ended by CR LF).
    const bool fromHost = kind == "file" && argument.find('<') < argument.find('=');
    if (!SplitAt(argument, fromHost ? '<' : '=', &left, &right) || left.size() < 3 ||
        left[1] != ':') {
      *error = kind + " item \"" + argument + "\" is not " +
               (kind == "file" ? "PATH=TEXT or PATH<HOSTFILE" : "PATH=TEXT") +
               " with a full Windows path";
      return false;
    }
    if (fromHost && !ReadHostFile(right, &right)) {
      *error = "file item \"" + argument + "\": cannot read " + right;
      return false;
    }
    if (kind == "line") right += "\r\n";
    auto existing = scenario->files.end();
    if (kind == "line")
      for (auto it = scenario->files.begin(); it != scenario->files.end(); ++it)
        if (it->first == left) existing = it;
    if (existing != scenario->files.end())
      existing->second += right;
    else
      scenario->files.emplace_back(left, right);
  } else if (kind == "answer") {
    char* end = nullptr;
    long answer = std::strtol(argument.c_str(), &end, 10);
    if (argument.empty() || *end != '\0' || answer < -1 || answer > 10) {
      *error = "answer item \"" + argument + "\" is no message answer (-1 to 10)";
      return false;
    }
    scenario->hasAnswer = true;
    scenario->answer = static_cast<int>(answer);
  } else if (kind == "action") {
    if (argument.empty() || argument.find_first_of(" \t") != std::string::npos) {
      *error = "action item \"" + argument + "\" is no action name";
      return false;
    }
    scenario->actions.push_back(argument);
  } else if (kind == "sequence") {
    if (argument.empty()) {
      *error = "sequence item names no table";
      return false;
    }
    scenario->sequence = argument;
  } else {
    *error = "unknown item \"" + kind + "\" (property, registry, folder, file, line, answer, "
             "action or sequence)";
    return false;
  }
  return true;
}

bool ReadScenarioFile(const std::string& path, Scenario* scenario, std::string* error) {
  std::string text;
  if (!ReadHostFile(path, &text)) {
    *error = "cannot read the scenario " + path;
    return false;
  }
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    std::size_t space = line.find(' ', start);
    std::string kind = line.substr(start, space == std::string::npos ? std::string::npos : space - start);
    std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    if (!AddScenarioItem(kind, argument, scenario, error)) {
      *error = path + ":" + std::to_string(number) + ": " + *error;
      return false;
    }
  }
  return true;
}

bool ApplyMachine(const Scenario& scenario, std::string* error) {
  for (const RegistryFixture& fixture : scenario.registry) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(fixture.root, fixture.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
      *error = "cannot create the registry key " + fixture.key;
      return false;
    }
    LONG result = ERROR_SUCCESS;
    if (fixture.hasValue)
      result = RegSetValueExA(key, fixture.name.c_str(), 0, fixture.type,
                              reinterpret_cast<const BYTE*>(fixture.data.data()),
                              static_cast<DWORD>(fixture.data.size()));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
      *error = "cannot set the registry value " + fixture.key + "|" + fixture.name;
      return false;
    }
  }
  for (const std::string& folder : scenario.folders) {
    CreateParents(folder);
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      *error = "cannot create the folder " + folder;
      return false;
    }
  }
  for (const auto& [path, content] : scenario.files) {
    if (!WriteWindowsFile(path, content)) {
      *error = "cannot write the file " + path;
      return false;
    }
  }
  return true;
}

}  // namespace viduzo_run
