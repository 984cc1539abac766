// The Windows API as the library and its tests see it on Linux: the subset of
// Win32 that they call, with the Windows sizes, implemented by winsim. On
// Windows the mingw-w64 headers of the same names are used instead.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winnt.h"
#include "winbase.h"
#include "winnls.h"
#include "winuser.h"
#include "winreg.h"
#include "winver.h"
