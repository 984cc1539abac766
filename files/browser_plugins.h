// The browser type library copied into every Netscape and Mozilla plug-in or
// components folder found in the registry.
#pragma once

#include <windows.h>
#include <msi.h>

namespace viduzo {

// Adds a temporary DuplicateFile row (key, component, file key, destination
// name or null, destination folder property) unless a row with that key is
// there. True when it inserted one.
bool AddTempDuplicateFile(MSIHANDLE hInstall, LPCSTR key, LPCSTR component, LPCSTR fileKey,
                          LPCSTR destinationName, LPCSTR destinationFolder);

}  // namespace viduzo
