// Code pages and text: the internals that every winsim DLL folder shares.
// Nothing outside winsim includes this.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

namespace winsim {

// ---- code pages ----------------------------------------------------------
// The ANSI code page in force: the one a test set, else the one the locale
// variables choose (932 for Japanese, 1252 otherwise).
UINT AnsiCodePage();
// 0 (CP_ACP) becomes the ANSI code page; 1252, 932 and 65001 are known.
UINT ResolveCodePage(UINT codePage);
bool IsKnownCodePage(UINT codePage);
bool IsLeadByteIn(UINT codePage, unsigned char byte);

// Conversions as MultiByteToWideChar / WideCharToMultiByte do them without
// flags: bytes that are not valid text become the code page's default
// character, characters it cannot hold become '?'.
std::u16string ToWide(std::string_view text, UINT codePage = CP_ACP);
std::string ToAnsi(std::u16string_view text, UINT codePage = CP_ACP);
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// The same conversions with their details: Decode appends the UTF-16 form of
// bytes and returns false when some were not valid text in the code page;
// Encode tells through *usedDefault whether some character could not be
// represented (for UTF-8: was a lone surrogate), replacing it with
// defaultChar (null: the code page's own) or, with bestFit, the closest
// character the code page has.
bool Decode(UINT codePage, const unsigned char* s, size_t n, std::u16string& out);
std::string Encode(UINT codePage, const char16_t* s, size_t n, const char* defaultChar,
                   bool* usedDefault, bool bestFit = true);

// Changes the letter case of ANSI text in place, in the ANSI code page,
// double-byte letters included.
void MapCase(char* text, size_t length, bool upper);

// Simple one-to-one case mapping of UTF-16 code units.
char16_t UpperChar(char16_t c);
char16_t LowerChar(char16_t c);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
// ANSI text in the ANSI code page, compared as Windows compares names.
bool EqualNoCaseAnsi(std::string_view a, std::string_view b);

// Linguistic comparison in the manner of CompareString's word sort:
// -1, 0 or 1.
int CompareText(std::u16string_view a, std::u16string_view b, bool ignoreCase);

}  // namespace winsim
