// Multibyte-aware text handling: every search for a character in ANSI text of the
// system code page goes through here, so that a double-byte character whose
// trail byte happens to be a backslash or a colon is never mistaken for one.
#pragma once

#include <windows.h>

namespace viduzo {

// The first occurrence of the single-byte character ch, or null.
const char* FindChar(const char* text, char ch);
char* FindChar(char* text, char ch);

// The last occurrence of the single-byte character ch, or null.
char* FindLastChar(char* text, char ch);

// The first occurrence of needle, starting on a character boundary, or null.
const char* FindText(const char* text, const char* needle);

// True when the last character of text is the single-byte character ch.
bool EndsWithChar(const char* text, char ch);

// True when text holds any of the single-byte characters of set.
bool ContainsAnyOf(const char* text, const char* set);

// Cuts text to at most maxBytes bytes without splitting a double-byte character.
void TruncateBytes(char* text, int maxBytes);

// True when text equals its upper-cased copy (multibyte-aware).
bool IsAllUpper(const char* text);

// Case-insensitive equality in the system code page.
bool EqualsNoCase(const char* a, const char* b);

}  // namespace viduzo
