#include "runtime/text.h"

namespace viduzo {

const char* FindChar(const char* text, char ch) {
  for (const char* p = text; *p; p = CharNextA(p))
    if (*p == ch) return p;
  return nullptr;
}

char* FindChar(char* text, char ch) {
  return const_cast<char*>(FindChar(static_cast<const char*>(text), ch));
}

char* FindLastChar(char* text, char ch) {
  char* found = nullptr;
  for (char* p = text; *p; p = CharNextA(p))
    if (*p == ch) found = p;
  return found;
}

const char* FindText(const char* text, const char* needle) {
  if (!*needle) return text;
  for (const char* p = text; *p; p = CharNextA(p)) {
    const char* a = p;
    const char* b = needle;
    while (*a && *b && *a == *b) ++a, ++b;
    if (!*b) return p;
  }
  return nullptr;
}

bool EndsWithChar(const char* text, char ch) {
  const char* last = nullptr;
  for (const char* p = text; *p; p = CharNextA(p)) last = p;
  return last && *last == ch && CharNextA(last) - last == 1;
}

bool ContainsAnyOf(const char* text, const char* set) {
  for (const char* p = text; *p; p = CharNextA(p)) {
    const char* next = CharNextA(p);
    if (next - p != 1) continue;  // a double-byte character is never in the set
    for (const char* s = set; *s; ++s)
      if (*p == *s) return true;
  }
  return false;
}

void TruncateBytes(char* text, int maxBytes) {
  char* p = text;
  while (*p) {
    char* next = CharNextA(p);
    if (next - text > maxBytes) break;
    p = next;
  }
  *p = '\0';
}

bool IsAllUpper(const char* text) {
  int length = lstrlenA(text);
  char* upper = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 1));
  if (!upper) return false;
  lstrcpyA(upper, text);
  CharUpperA(upper);
  bool same = true;
  for (int i = 0; i < length && same; ++i) same = upper[i] == text[i];
  HeapFree(GetProcessHeap(), 0, upper);
  return same;
}

bool EqualsNoCase(const char* a, const char* b) { return lstrcmpiA(a, b) == 0; }

}  // namespace viduzo
