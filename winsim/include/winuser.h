// The user32 API: multibyte-aware character functions, wsprintfA, message boxes.
#pragma once

#include "windef.h"

LPSTR WINAPI CharNextA(LPCSTR p);
LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR p);
LPSTR WINAPI CharUpperA(LPSTR text);
LPSTR WINAPI CharLowerA(LPSTR text);
int wsprintfA(LPSTR dst, LPCSTR format, ...);

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_YESNO 0x00000004L
#define MB_ICONERROR 0x00000010L
#define MB_ICONWARNING 0x00000030L
#define MB_ICONINFORMATION 0x00000040L
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
