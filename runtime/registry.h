// Registry reads and writes the actions share: texts read into fixed buffers
// (a value that does not fit counts as missing) and values written with their
// terminating zero.
#pragma once

#include <windows.h>

namespace viduzo {

// Reads a value as text into a buffer of size bytes. False when the value is
// missing, unreadable, or does not fit the buffer together with a terminating
// zero; on success the text is terminated where its data ends.
bool ReadRegistryText(HKEY key, LPCSTR name, char* buffer, DWORD size);

// Writes text with its terminating zero as a value of the given string type.
LONG WriteRegistryText(HKEY key, LPCSTR name, DWORD type, LPCSTR text);

// Writes a REG_DWORD value.
LONG WriteRegistryDword(HKEY key, LPCSTR name, DWORD value);

}  // namespace viduzo
