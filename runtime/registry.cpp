#include "runtime/registry.h"

namespace viduzo {

// size is at least 1.
bool ReadRegistryText(HKEY key, LPCSTR name, char* buffer, DWORD size) {
  DWORD count = size;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &count) !=
      ERROR_SUCCESS)
    return false;
  // Data stored without its terminator gets one when there is room; a text
  // that fills the whole buffer without one is too long.
  if (count < size) {
    buffer[count] = '\0';
    return true;
  }
  return buffer[count - 1] == '\0';
}

LONG WriteRegistryText(HKEY key, LPCSTR name, DWORD type, LPCSTR text) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(lstrlenA(text)) + 1);
}

LONG WriteRegistryDword(HKEY key, LPCSTR name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

}  // namespace viduzo
