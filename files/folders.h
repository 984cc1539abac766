// Folder and install-location fixes: the routine that reads the launcher's
// location from its shortcut.
#pragma once

#include <windows.h>
#include <msi.h>

namespace viduzo {

// Opens the shortcut whose path the property holds and, when its target is
// the launcher ("hl.exe", any case), sets OLD_ZNCMGR_FILE_PATH.5B1E0A72_... to
// the target in lower case. An empty property is success with nothing written;
// any other outcome clears that property and gives 1603. The shortcut's folder
// becomes the current directory.
UINT FindOldLauncherFromShortcut(MSIHANDLE hInstall, LPCSTR property);

}  // namespace viduzo
