// kernel32: the process's current directory, against which relative paths
// are made full.
#include <string>

#include <windows.h>

#include "winsim/core/codepage.h"
#include "winsim/kernel32/paths.h"

BOOL WINAPI SetCurrentDirectoryA(LPCSTR pathName) {
  DWORD error = 0;
  std::u16string full;
  if (!pathName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // A current directory of more than MAX_PATH - 2 characters (its trailing
  // backslash and terminator must fit) is refused.
  if (winsim::ToWide(pathName).size() > MAX_PATH - 2) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  if (!winsim::FullWindowsPath(winsim::ToWide(pathName), &full, &error)) {
    SetLastError(error);
    return FALSE;
  }
  DWORD attributes = GetFileAttributesA(winsim::ToAnsi(full).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;  // its error stands
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  winsim::SetCurrentDirectoryPath(full);
  return TRUE;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  std::string current = winsim::ToAnsi(winsim::CurrentDirectory());
  DWORD length = static_cast<DWORD>(current.size());
  if (!buffer || size <= length) return length + 1;
  lstrcpyA(buffer, current.c_str());
  return length;
}
