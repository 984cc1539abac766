// The standard AppSearch action: every row of AppSearch names a property and a
// signature; the signature is looked for through RegLocator, IniLocator and
// DrLocator in that order, and the first locator that finds something sets the
// property. A search that finds nothing leaves the property alone.
//
// Covered: registry values (raw values of string and DWORD type; a string value naming an existing folder or file for the
// directory and file-name types), INI values (the raw value or one of its
// comma-separated fields), and folders that exist (DrLocator paths, formatted,
// without a parent signature). Files described by the Signature table are
// found by name in the located folder. Key paths, value names and folder paths
// are formatted text, so a search can use what an earlier search set.
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <msidefs.h>

#include "winsim/msi/session.h"

namespace winsim {
namespace {

using Rows = std::vector<std::vector<Field>>;

// The first row of a locator table for the signature; false when there is
// none (or no such table).
bool LocatorRow(Session& session, const char* table, const std::string& signature,
                std::vector<Field>* row) {
  Rows rows;
  if (QueryRows(*session.database,
                std::string("SELECT * FROM `") + table + "` WHERE `Signature_` = '" + signature +
                    "'",
                &rows) != ERROR_SUCCESS ||
      rows.empty())
    return false;
  *row = rows[0];
  return true;
}

std::string Formatted(Session& session, const Field& field) {
  Record text(0);
  text.fields[0] = Field::Str(field.AsText());
  return FormatRecord(text, &session);
}

// The file name a Signature row asks for ("short|long" gives the long one), or
// "" when the signature has no Signature row and names a folder.
std::string SignatureFile(Session& session, const std::string& signature) {
  Rows rows;
  if (QueryRows(*session.database,
                "SELECT `FileName` FROM `Signature` WHERE `Signature` = '" + signature + "'",
                &rows) != ERROR_SUCCESS ||
      rows.empty())
    return "";
  std::string name = rows[0][0].AsText();
  size_t bar = name.find('|');
  return bar == std::string::npos ? name : name.substr(bar + 1);
}

std::string WithBackslash(std::string path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A located folder: the folder itself for a folder signature, the signature's
// file inside it for a file signature.
bool FromFolder(const std::string& folder, const std::string& file, std::string* value) {
  if (!IsFolder(folder)) return false;
  if (file.empty()) {
    *value = WithBackslash(folder);
    return true;
  }
  std::string path = WithBackslash(folder) + file;
  if (!IsFile(path)) return false;
  *value = path;
  return true;
}

// A located path of the directory (0) or file-name (1) locator type.
bool FromPath(const std::string& path, int type, const std::string& file, std::string* value) {
  if ((type & 0x0F) == msidbLocatorTypeFileName) {
    if (!IsFile(path)) return false;
    *value = path;
    return true;
  }
  return FromFolder(path, file, value);
}

HKEY RootKey(int root) {
  switch (root) {
    case msidbRegistryRootClassesRoot: return HKEY_CLASSES_ROOT;
    case msidbRegistryRootCurrentUser: return HKEY_CURRENT_USER;
    case msidbRegistryRootLocalMachine: return HKEY_LOCAL_MACHINE;
    case msidbRegistryRootUsers: return HKEY_USERS;
    default: return nullptr;
  }
}

// RegLocator: Signature_, Root, Key, Name, Type.
bool SearchRegistry(Session& session, const std::string& signature, const std::string& file,
                    std::string* value) {
  std::vector<Field> row;
  if (!LocatorRow(session, "RegLocator", signature, &row) || row.size() < 5) return false;
  HKEY root = RootKey(row[1].AsInteger());
  if (!root) return false;
  int type = row[4].IsNull() ? 0 : row[4].AsInteger();
  REGSAM view = (type & msidbLocatorType64bit) ? KEY_WOW64_64KEY : 0;
  HKEY key;
  if (RegOpenKeyExA(root, Formatted(session, row[2]).c_str(), 0, KEY_READ | view, &key) !=
      ERROR_SUCCESS)
    return false;
  std::string name = Formatted(session, row[3]);
  DWORD kind = 0, size = 0;
  std::vector<char> data;
  LONG result = RegQueryValueExA(key, name.c_str(), nullptr, &kind, nullptr, &size);
  if (result == ERROR_SUCCESS && size > 0) {
    data.resize(size + 1, '\0');
    result = RegQueryValueExA(key, name.c_str(), nullptr, &kind,
                              reinterpret_cast<BYTE*>(data.data()), &size);
  }
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || size == 0) return false;

  std::string text;
  if (kind == REG_SZ) {
    text = data.data();
  } else if (kind == REG_DWORD && size >= 4) {
    DWORD number;
    memcpy(&number, data.data(), 4);
    text = "#" + std::to_string(static_cast<int>(number));
  } else {
    return false;
  }
  if ((type & 0x0F) == msidbLocatorTypeRawValue) {
    // A string that begins with "#" gets another, so it is not read as a number.
    *value = (kind == REG_SZ && !text.empty() && text[0] == '#') ? "#" + text : text;
    return true;
  }
  if (kind == REG_DWORD) return false;
  // A path in quotes is the text between the first two quotes.
  size_t open = text.find('"');
  if (open != std::string::npos) {
    size_t close = text.find('"', open + 1);
    if (close != std::string::npos) text = text.substr(open + 1, close - open - 1);
  }
  return FromPath(text, type, file, value);
}

// IniLocator: Signature_, FileName, Section, Key, Field, Type.
bool SearchIni(Session& session, const std::string& signature, const std::string& file,
               std::string* value) {
  std::vector<Field> row;
  if (!LocatorRow(session, "IniLocator", signature, &row) || row.size() < 6) return false;
  char buffer[MAX_PATH] = "";
  GetPrivateProfileStringA(row[2].AsText().c_str(), row[3].AsText().c_str(), "", buffer,
                           sizeof buffer, row[1].AsText().c_str());
  if (!buffer[0]) return false;
  int type = row[5].IsNull() ? 0 : row[5].AsInteger();
  if ((type & 0x0F) != msidbLocatorTypeRawValue) return FromPath(buffer, type, file, value);
  int field = row[4].IsNull() ? 0 : row[4].AsInteger();
  std::string text = buffer;
  if (field > 0) {
    // Fields are comma-separated; blanks after a comma are not part of the next.
    size_t begin = 0;
    for (int i = 1; i < field; ++i) {
      size_t comma = text.find(',', begin);
      if (comma == std::string::npos) break;
      begin = comma + 1;
      while (begin < text.size() && text[begin] == ' ') ++begin;
    }
    text = text.substr(begin, text.find(',', begin) - begin);
  }
  *value = text;
  return true;
}

// DrLocator: Signature_, Parent, Path, Depth (a parent is not searched).
bool SearchFolder(Session& session, const std::string& signature, const std::string& file,
                  std::string* value) {
  std::vector<Field> row;
  if (!LocatorRow(session, "DrLocator", signature, &row) || row.size() < 3) return false;
  if (!row[1].IsNull()) return false;
  std::string path = row[2].AsText();
  size_t bar = path.find('|');
  if (bar != std::string::npos) path = path.substr(bar + 1);
  Record text(0);
  text.fields[0] = Field::Str(path);
  path = FormatRecord(text, &session);
  if (path.empty()) return false;
  return FromFolder(path, file, value);
}

}  // namespace

bool RunSearchAction(Session& session, const std::string& action, UINT* result) {
  if (action != "AppSearch") return false;
  *result = ERROR_SUCCESS;
  Rows searches;
  if (!session.database ||
      QueryRows(*session.database, "SELECT `Property`, `Signature_` FROM `AppSearch`",
                &searches) != ERROR_SUCCESS)
    return true;
  for (const std::vector<Field>& search : searches) {
    std::string property = search[0].AsText();
    std::string signature = search[1].AsText();
    if (property.empty() || signature.empty() || signature.find('\'') != std::string::npos)
      continue;
    std::string file = SignatureFile(session, signature);
    std::string value;
    if (SearchRegistry(session, signature, file, &value) ||
        SearchIni(session, signature, file, &value) ||
        SearchFolder(session, signature, file, &value))
      session.SetProperty(property, value);
  }
  return true;
}

}  // namespace winsim
