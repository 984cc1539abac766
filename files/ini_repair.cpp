#include "files/ini_repair.h"

#include <cstring>
#include <string>

#include "runtime/action.h"
#include "runtime/msi.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

constexpr char kFixIniFileData[] = "FixIniFile.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
constexpr char kDefaultDirProperty[] = "WindowsFolder";
constexpr char kEntrySeparator = '\x08';
constexpr char kValueEnd = '\x0B';
constexpr char kFileMarker[] = "[FILE]=";
constexpr char kSectionMarker[] = "[SECTION]=";
constexpr char kKeyMarker[] = "[KEY]=";
constexpr char kListSeparators[] = ",";
constexpr DWORD kFolderBuffer = 260;
constexpr DWORD kFirstValueBuffer = 512;
constexpr DWORD kValueBufferStep = 256;
// Room beyond the value's length in the working texts: the separators added
// around an item and the terminator.
constexpr DWORD kWorkingSlack = 9;

// IniFile columns: 2 FileName, 3 DirProperty, 4 Section, 5 Key.
constexpr UINT kFileNameColumn = 2;
constexpr UINT kDirPropertyColumn = 3;
constexpr UINT kSectionColumn = 4;
constexpr UINT kKeyColumn = 5;

// A heap block released when it goes out of scope.
class HeapText {
 public:
  explicit HeapText(DWORD size)
      : text_(static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size))) {
    if (text_) text_[0] = '\0';
  }
  HeapText(const HeapText&) = delete;
  HeapText& operator=(const HeapText&) = delete;
  ~HeapText() {
    if (text_) HeapFree(GetProcessHeap(), 0, text_);
  }
  char* get() const { return text_; }
  explicit operator bool() const { return text_ != nullptr; }

 private:
  char* text_;
};

bool IsSeparator(const char* p, const char* separators) {
  return CharNextA(p) == p + 1 && FindChar(separators, *p) != nullptr;
}

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Appends count bytes of text and a "," at end, which moves past them.
char* AppendItem(char* end, const char* text, size_t count) {
  std::memcpy(end, text, count);
  end += count;
  *end++ = ',';
  *end = '\0';
  return end;
}

// Whether the lower-case item is already in the seen list: the list holds
// "item," entries, so a match is ",item," inside it or "item," at its start.
// needle holds ",item,"; its tail past the leading "," is "item,".
bool AlreadySeen(const char* seen, const char* needle, size_t itemLength) {
  if (FindText(seen, needle)) return true;
  const char* tail = needle + 1;
  for (size_t i = 0; i <= itemLength; ++i)
    if (seen[i] != tail[i]) return false;
  return true;
}

}  // namespace

bool RemoveDuplicateListItems(char* value, const char* separators) {
  const size_t length = static_cast<size_t>(lstrlenA(value));
  const DWORD room = static_cast<DWORD>(length) + kWorkingSlack;
  HeapText kept(room), seen(room), needle(room);
  if (!kept || !seen || !needle) return false;

  char* keptEnd = kept.get();
  char* seenEnd = seen.get();
  bool changed = false;
  const char* p = value;
  while (*p) {
    if (IsSeparator(p, separators)) {
      p = CharNextA(p);
      continue;
    }
    const char* item = p;
    while (*p && !IsSeparator(p, separators)) p = CharNextA(p);
    const char* itemEnd = p;
    while (item < itemEnd && IsWhiteSpace(*item)) ++item;
    const size_t itemLength = static_cast<size_t>(itemEnd - item);

    char* lower = needle.get();
    lower[0] = ',';
    std::memcpy(lower + 1, item, itemLength);
    lower[itemLength + 1] = '\0';
    CharLowerA(lower + 1);
    lower[itemLength + 1] = ',';
    lower[itemLength + 2] = '\0';

    if (AlreadySeen(seen.get(), lower, itemLength)) {
      changed = true;
      continue;
    }
    keptEnd = AppendItem(keptEnd, item, itemLength);
    seenEnd = AppendItem(seenEnd, lower + 1, itemLength);
  }
  if (!changed) return false;
  if (keptEnd != kept.get()) keptEnd[-1] = '\0';
  lstrcpyA(value, kept.get());
  return true;
}

UINT RemoveDuplicatesFromIniFileValue(LPCSTR filePath, LPCSTR section, LPCSTR key) {
  // A value that fills the buffer may have been cut: read again with more room.
  DWORD size = kFirstValueBuffer;
  char* value = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
  if (!value) return ERROR_FUNCTION_FAILED;
  DWORD length = GetPrivateProfileStringA(section, key, "", value, size, filePath);
  while (length == size - 1) {
    HeapFree(GetProcessHeap(), 0, value);
    size += kValueBufferStep;
    value = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (!value) return ERROR_FUNCTION_FAILED;
    length = GetPrivateProfileStringA(section, key, "", value, size, filePath);
  }

  UINT result = ERROR_SUCCESS;
  if (value[0] != '\0') {
    OutputDebugStringA(value);
    if (RemoveDuplicateListItems(value, kListSeparators) &&
        !WritePrivateProfileStringA(section, key, value, filePath))
      result = ERROR_FUNCTION_FAILED;
  }
  HeapFree(GetProcessHeap(), 0, value);
  return result;
}

bool SplitIniFixEntry(char* entry, IniFixEntry* out) {
  char* file = const_cast<char*>(FindText(entry, kFileMarker));
  char* section = const_cast<char*>(FindText(entry, kSectionMarker));
  char* key = const_cast<char*>(FindText(entry, kKeyMarker));
  if (!file || !section || !key) return false;
  for (char* p = FindChar(entry, kValueEnd); p; p = FindChar(p + 1, kValueEnd)) *p = '\0';
  out->file = file + lstrlenA(kFileMarker);
  out->section = section + lstrlenA(kSectionMarker);
  out->key = key + lstrlenA(kKeyMarker);
  return true;
}

}  // namespace viduzo

// Lists every IniFile row that adds a tag to a value (action 3) as file path,
// section and key in FixIniFile.<core module>, the CustomActionData of the
// deferred FixIniFile.
extern "C" UINT WINAPI SetFixIniFile(MSIHANDLE hInstall) {
  using namespace viduzo;
  MSI msi(hInstall);
  const bool ownDatabase = msi.OpenActiveDatabase(hInstall);
  std::string list;
  UINT result = ERROR_SUCCESS;
  if (msi.SetQueryView("WHERE `Action`=3", "IniFile") != ERROR_SUCCESS) {
    OutputDebugStringA("FixIniFile: MSI::SetQueryView failed!!");
    result = ERROR_FUNCTION_FAILED;
  } else {
    GrowableText sectionText, keyText;
    while (msi.FetchRecord() == ERROR_SUCCESS) {
      const char* dirProperty = msi.GetFieldString(kDirPropertyColumn);
      if (!dirProperty) dirProperty = kDefaultDirProperty;  // an empty field reads as null
      const char* fileName = msi.GetFieldString(kFileNameColumn);
      const char* sectionTemplate = msi.GetFieldString(kSectionColumn);
      const char* keyTemplate = msi.GetFieldString(kKeyColumn);

      char* section = nullptr;
      char* key = nullptr;
      if (sectionTemplate && sectionText.Format(hInstall, sectionTemplate, &section) != ERROR_SUCCESS)
        section = nullptr;
      if (keyTemplate && keyText.Format(hInstall, keyTemplate, &key) != ERROR_SUCCESS) key = nullptr;
      if (!section || !*section || !key || !*key) continue;

      char folder[kFolderBuffer];
      if (ReadProperty(hInstall, dirProperty, folder, kFolderBuffer) != ERROR_SUCCESS ||
          folder[0] == '\0')
        continue;

      if (!list.empty()) list += kEntrySeparator;
      list += kFileMarker;
      list += folder;
      if (fileName) list += fileName;
      list += kValueEnd;
      list += kSectionMarker;
      list += section;
      list += kValueEnd;
      list += kKeyMarker;
      list += key;
      list += kValueEnd;
    }
    if (!list.empty()) MsiSetPropertyA(hInstall, kFixIniFileData, list.c_str());
  }
  if (ownDatabase) msi.CloseDatabase();
  return result;
}

// Deferred: removes duplicate items from every INI value its CustomActionData
// lists. A failing entry does not stop the others.
extern "C" UINT WINAPI FixIniFile(MSIHANDLE hInstall) {
  using namespace viduzo;
  GrowableText data;
  if (data.ReadProperty(hInstall, "CustomActionData") != ERROR_SUCCESS)
    return ERROR_FUNCTION_FAILED;
  if (data.text[0] == '\0') return ERROR_SUCCESS;

  bool failed = false;
  char* entry = data.text;
  while (entry) {
    char* next = FindChar(entry, kEntrySeparator);
    if (next) *next++ = '\0';
    IniFixEntry parts;
    if (!SplitIniFixEntry(entry, &parts)) {
      failed = true;
    } else if (parts.file[0] != '\0' && parts.section[0] != '\0') {
      if (RemoveDuplicatesFromIniFileValue(parts.file, parts.section, parts.key) != ERROR_SUCCESS)
        failed = true;
    }
    entry = next;
  }
  return failed ? ERROR_FUNCTION_FAILED : ERROR_SUCCESS;
}
