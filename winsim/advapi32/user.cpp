// advapi32's name of the user who runs the process.
#include <cstring>

#include <windows.h>

#include "winsim/kernel32/system.h"

BOOL WINAPI GetUserNameA(LPSTR buffer, LPDWORD size) {
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The size counts the terminator, going in and coming out.
  const DWORD needed = sizeof winsim::kUserName;
  if (!buffer || *size < needed) {
    *size = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, winsim::kUserName, needed);
  *size = needed;
  return TRUE;
}
