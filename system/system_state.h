// What is already on the machine and what the user entered, turned into
// installer properties before the wizard and in place of cost finalization.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo {

// Aligns the launcher modules' folder properties with the core module's, builds
// the program-menu folder paths and makes the desktop link absolute. 1 when
// every step succeeded, else 0.
int SetModuleFolderProperties(MSIHANDLE hInstall);

// The default persistent cache size for a cache folder: three per cent of its
// disk, in bytes, or 30000000 when the disk size is unknown.
DWORD DefaultCacheSize(LPCSTR folder);

// Clears the directory properties that must be resolved afresh; 1603 when the
// Directory table cannot be walked or a property cannot be cleared.
UINT ClearPrivateDirectoryProperties(MSIHANDLE hInstall);

}  // namespace viduzo
