// kernel32's text functions: the ANSI code page, lead bytes, the lstr
// functions and the conversions between code pages and UTF-16.
#include <cstring>
#include <string>

#include <windows.h>

#include "winsim/core/codepage.h"

UINT WINAPI GetACP() { return winsim::AnsiCodePage(); }

BOOL WINAPI IsDBCSLeadByte(BYTE ch) { return winsim::IsLeadByteIn(CP_ACP, ch) ? TRUE : FALSE; }

BOOL WINAPI IsDBCSLeadByteEx(UINT codePage, BYTE ch) {
  UINT resolved = winsim::ResolveCodePage(codePage);
  if (!winsim::IsKnownCodePage(resolved)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return winsim::IsLeadByteIn(resolved, ch) ? TRUE : FALSE;
}

int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  std::memmove(dst, src, std::strlen(src) + 1);
  return dst;
}

LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int max) {
  if (!dst || !src) return nullptr;
  // The count includes the terminator; a negative count does not limit.
  UINT count = static_cast<UINT>(max);
  LPSTR d = dst;
  while (count > 1 && *src) {
    *d++ = *src++;
    --count;
  }
  if (count) *d = '\0';
  return dst;
}

LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  std::memmove(dst + std::strlen(dst), src, std::strlen(src) + 1);
  return dst;
}

namespace {
int CompareA(LPCSTR a, LPCSTR b, bool ignoreCase) {
  if (!a || !b) {
    if (a == b) return 0;
    return a ? 1 : -1;
  }
  return winsim::CompareText(winsim::ToWide(a), winsim::ToWide(b), ignoreCase);
}
}  // namespace

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return CompareA(a, b, false); }
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return CompareA(a, b, true); }

namespace {

// The argument checks both conversions share: a source, a sane length, a
// destination that is absent only when its size is 0 and never overlaps the
// source, and a code page winsim knows. Sets the last error on failure.
bool ConversionArgumentsValid(UINT codePage, const void* src, int srcLen, const void* dst,
                              int dstLen, UINT* cp) {
  if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (!dst && dstLen) ||
      (dst && dst == src)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *cp = winsim::ResolveCodePage(codePage);
  if (!winsim::IsKnownCodePage(*cp)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst,
                               int dstLen) {
  UINT cp = 0;
  if (!ConversionArgumentsValid(codePage, src, srcLen, dst, dstLen, &cp)) return 0;
  if (cp == CP_UTF8 && (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS))) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  size_t length = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
  std::u16string wide;
  bool valid = winsim::Decode(cp, reinterpret_cast<const unsigned char*>(src), length, wide);
  if (!valid && (flags & MB_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (dstLen == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(dstLen)) {
    std::memcpy(dst, wide.data(), dstLen * sizeof(char16_t));
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, wide.data(), wide.size() * sizeof(char16_t));
  return static_cast<int>(wide.size());
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst,
                               int dstLen, LPCSTR defChar, LPBOOL usedDef) {
  UINT cp = 0;
  if (!ConversionArgumentsValid(codePage, src, srcLen, dst, dstLen, &cp)) return 0;
  if (cp == CP_UTF8) {
    if (defChar || usedDef) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
  }
  size_t length = srcLen == -1 ? std::char_traits<char16_t>::length(src) + 1
                               : static_cast<size_t>(srcLen);
  bool used = false;
  std::string bytes =
      winsim::Encode(cp, src, length, defChar, &used, !(flags & WC_NO_BEST_FIT_CHARS));
  if (cp == CP_UTF8 && used && (flags & WC_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (usedDef) *usedDef = used ? TRUE : FALSE;
  if (dstLen == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<size_t>(dstLen)) {
    std::memcpy(dst, bytes.data(), dstLen);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}
