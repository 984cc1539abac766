// Checks of what the user typed: the client name, the install folder and the
// launchers' program folder names.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo {

// Checks one property against its forbidden-character set. With resultProperty
// the answer is "Yes" / "No" in that property, else 1 / 0 in *valid. *empty, when
// given, tells whether the value was empty. A property that cannot be read gets
// no answer. Always returns 0.
UINT ValidateProperty(MSIHANDLE hInstall, LPCSTR name, LPCSTR resultProperty, int* valid,
                      int* empty);

// Reads a key of the earlier client's name file, ZNCNAME.INI at the root of the
// system volume. True when a non-empty value was read.
bool GetIniClientName(MSIHANDLE hInstall, char* buffer, DWORD size, LPCSTR key);

}  // namespace viduzo
