// Variant types that summary information properties use.
#pragma once

#define VT_EMPTY 0
#define VT_I2 2
#define VT_I4 3
#define VT_LPSTR 30
#define VT_FILETIME 64

// ---- COM text (wtypesbase.h on Windows) -------------------------------------------------
#include "windef.h"
typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
