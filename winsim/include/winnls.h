// Code pages and the conversions between them.
#pragma once

#include "windef.h"

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

UINT WINAPI GetACP();
BOOL WINAPI IsDBCSLeadByte(BYTE ch);
BOOL WINAPI IsDBCSLeadByteEx(UINT codePage, BYTE ch);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst,
                               int dstLen);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst,
                               int dstLen, LPCSTR defChar, LPBOOL usedDef);
