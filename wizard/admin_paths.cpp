// Administrative path properties: path properties recorded relative to the
// installer's system folders (Mark2UpdateAdminProperty) and resolved again
// with the folder values in force later (UpdateAdminProperty).
#include <string>

#include "runtime/action.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

constexpr char kAdminPathProperties[] = "AdminPathProperties";
constexpr char kAdminPathsToModify[] = "ADMINPATH2MODIFY";
constexpr char kEmptyList[] = "Nothing";
constexpr char kItemEnd = ';';
constexpr char kNameEnd = '=';
constexpr DWORD kPathBuffer = 260;
constexpr int kNameBuffer = 256;

// The system folders a path is recorded against; the first that holds it wins.
constexpr const char* kSystemFolders[] = {
    "AdminToolsFolder",   "AppDataFolder",      "CommonAppDataFolder", "CommonFilesFolder",
    "DesktopFolder",      "FavoritesFolder",    "FontsFolder",         "LocalAppDataFolder",
    "MyPicturesFolder",   "PersonalFolder",     "ProgramFilesFolder",  "ProgramMenuFolder",
    "SendToFolder",       "StartMenuFolder",    "StartupFolder",       "System16Folder",
    "SystemFolder",       "TempFolder",         "TemplateFolder",      "WindowsFolder",
    "WindowsVolume",
};

// The folder whose value the path begins with (byte-wise, case-sensitive), and
// that value's length. False when none does or a folder cannot be read.
bool FindSystemFolder(MSIHANDLE hInstall, const char* path, const char** folder,
                      int* prefixLength) {
  for (const char* name : kSystemFolders) {
    char value[kPathBuffer];
    if (ReadProperty(hInstall, name, value, kPathBuffer) != ERROR_SUCCESS) return false;
    int length = lstrlenA(value);
    int i = 0;
    while (i < length && path[i] == value[i]) ++i;
    if (i == length) {
      *folder = name;
      *prefixLength = length;
      return true;
    }
  }
  return false;
}

// Records one path property in ADMINPATH2MODIFY as "[folder]rest".
void RecordAdminPath(MSIHANDLE hInstall, const char* name) {
  char path[kPathBuffer];
  if (ReadProperty(hInstall, name, path, kPathBuffer) != ERROR_SUCCESS) return;
  const char* folder = nullptr;
  int prefixLength = 0;
  if (!FindSystemFolder(hInstall, path, &folder, &prefixLength)) return;

  GrowableText list;
  if (list.ReadProperty(hInstall, kAdminPathsToModify) != ERROR_SUCCESS) return;
  std::string value = lstrcmpA(list.text, kEmptyList) == 0 ? std::string() : list.text;
  value += name;
  value += kNameEnd;
  value += '[';
  value += folder;
  value += ']';
  value += path + prefixLength;
  value += kItemEnd;
  MsiSetPropertyA(hInstall, kAdminPathsToModify, value.c_str());
}

}  // namespace
}  // namespace viduzo

// Records every property that AdminPathProperties names ("name1;name2;") in
// ADMINPATH2MODIFY relative to the system folder its value lies in.
extern "C" UINT WINAPI Mark2UpdateAdminProperty(MSIHANDLE hInstall) {
  using namespace viduzo;
  try {
    GrowableText names;
    if (names.ReadProperty(hInstall, kAdminPathProperties) != ERROR_SUCCESS)
      return ERROR_FUNCTION_FAILED;
    // An item is the text before a ";"; an empty one ends the walk.
    const char* item = names.text;
    for (const char* end = FindChar(item, kItemEnd); end && end != item;
         item = end + 1, end = FindChar(item, kItemEnd)) {
      const int length = static_cast<int>(end - item);
      if (length >= kNameBuffer) continue;  // no property has so long a name
      char name[kNameBuffer];
      lstrcpynA(name, item, length + 1);
      RecordAdminPath(hInstall, name);
    }
  } catch (...) {
  }
  return ERROR_SUCCESS;
}

// Sets every property recorded in ADMINPATH2MODIFY ("name=[folder]rest;") to
// its template resolved with the folder values in force now.
extern "C" UINT WINAPI UpdateAdminProperty(MSIHANDLE hInstall) {
  using namespace viduzo;
  UINT result = ERROR_SUCCESS;
  try {
    GrowableText list;
    result = list.ReadProperty(hInstall, kAdminPathsToModify);
    if (result != ERROR_SUCCESS) return result;
    if (!list.text) return ERROR_SUCCESS;
    if (list.text[0] == '\0' || lstrcmpA(list.text, kEmptyList) == 0) return ERROR_SUCCESS;

    GrowableText resolved;
    char* entry = list.text;
    for (char* end = FindChar(entry, kItemEnd); end; entry = end + 1, end = FindChar(entry, kItemEnd)) {
      *end = '\0';
      char* equals = FindChar(entry, kNameEnd);
      if (!equals || equals == entry) continue;
      *equals = '\0';
      char* value = nullptr;
      result = resolved.Format(hInstall, equals + 1, &value);
      if (result != ERROR_SUCCESS) break;
      if (!value) break;
      result = MsiSetPropertyA(hInstall, entry, value);
      if (result != ERROR_SUCCESS) break;
    }
  } catch (...) {
  }
  return result;
}
