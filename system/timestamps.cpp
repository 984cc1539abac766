#include "system/timestamps.h"

#include <cstring>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "runtime/action.h"
#include "runtime/handles.h"
#include "runtime/services.h"
#include "runtime/text.h"

namespace viduzo {
namespace {

constexpr DWORD kPathBuffer = 261;

// The leading decimal digits of text as an unsigned 32-bit number; digits past
// 32 bits wrap around, as the list's writer never produces them.
DWORD ReadNumber(const char* text) {
  DWORD number = 0;
  for (; *text >= '0' && *text <= '9'; ++text) number = number * 10 + static_cast<DWORD>(*text - '0');
  return number;
}

// Cuts the next "|"-ended field off *cursor: returns the field, or null when
// the entry has no further "|".
char* NextField(char** cursor) {
  char* field = *cursor;
  char* bar = FindChar(field, '|');
  if (!bar) return nullptr;
  *bar = '\0';
  *cursor = bar + 1;
  return field;
}

// One entry without its ">": the path and four numbers.
void ApplyEntry(char* entry) {
  char* cursor = entry;
  char* path = NextField(&cursor);
  if (!path) return;
  char* numbers[4];
  for (int i = 0; i < 3; ++i) {
    numbers[i] = NextField(&cursor);
    if (!numbers[i]) return;
  }
  numbers[3] = cursor;
  // A path that does not fit the 260 characters of a file name is not a file.
  if (std::strlen(path) >= kPathBuffer) return;
  char fileName[kPathBuffer];
  std::memcpy(fileName, path, std::strlen(path) + 1);
  FILETIME creation = {ReadNumber(numbers[0]), ReadNumber(numbers[1])};
  FILETIME lastWrite = {ReadNumber(numbers[2]), ReadNumber(numbers[3])};
  SetFileTimes(fileName, &creation, nullptr, &lastWrite);
}

}  // namespace

UINT SetFileTimes(LPCSTR path, const FILETIME* creation, const FILETIME* lastAccess,
                  const FILETIME* lastWrite) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  KernelHandle file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ERROR_INSTALL_FAILURE;
  return SetFileTime(file.get(), creation, lastAccess, lastWrite) ? ERROR_SUCCESS
                                                                  : ERROR_INSTALL_FAILURE;
}

void ApplyTimestampList(char* list) {
  char* position = list;
  while (*position != '\0') {
    char* end = FindChar(position, '>');
    // Text after the last ">" is no entry.
    if (!end) return;
    *end = '\0';
    ApplyEntry(position);
    position = end + 1;
  }
}

}  // namespace viduzo

// Deferred: the list arrives as CustomActionData. Whatever happens, the
// installation goes on.
extern "C" UINT WINAPI SetTimestamps(MSIHANDLE hInstall) {
  viduzo::GrowableText list;
  if (list.ReadProperty(hInstall, "CustomActionData") != ERROR_SUCCESS || list.text == nullptr)
    return ERROR_SUCCESS;
  viduzo::ApplyTimestampList(list.text);
  return ERROR_SUCCESS;
}
