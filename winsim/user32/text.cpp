// user32's text functions: stepping through multibyte text, case mapping in
// the ANSI code page, and wsprintfA.
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>

#include <windows.h>

#include "winsim/core/codepage.h"

LPSTR WINAPI CharNextA(LPCSTR p) {
  if (!p || !*p) return const_cast<LPSTR>(p);
  if (IsDBCSLeadByte(static_cast<BYTE>(p[0])) && p[1]) return const_cast<LPSTR>(p + 2);
  return const_cast<LPSTR>(p + 1);
}

LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR p) {
  if (!start || !p) return const_cast<LPSTR>(p);
  // Walk forward from the start: the only way to know where a character
  // begins in double-byte text.
  LPCSTR current = start;
  while (*current && current < p) {
    LPCSTR next = CharNextA(current);
    if (next >= p) break;
    current = next;
  }
  return const_cast<LPSTR>(current);
}

namespace {
bool IsIntResource(const void* p) { return (reinterpret_cast<uintptr_t>(p) >> 16) == 0; }

LPSTR CaseMapA(LPSTR text, bool upper) {
  if (IsIntResource(text)) {
    // A single character passed in the low word of the pointer.
    char c = static_cast<char>(reinterpret_cast<uintptr_t>(text) & 0xFF);
    winsim::MapCase(&c, 1, upper);
    return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<unsigned char>(c)));
  }
  winsim::MapCase(text, std::strlen(text), upper);
  return text;
}
}  // namespace

LPSTR WINAPI CharUpperA(LPSTR text) { return CaseMapA(text, true); }
LPSTR WINAPI CharLowerA(LPSTR text) { return CaseMapA(text, false); }

// ---- wsprintfA ----------------------------------------------------------------
//
// Formats with wsprintf's own rules, not the C library's: "l" means 32 bits
// (a DWORD argument), "I64" 64 bits, "I" pointer size; no floating point;
// "%s" of a null pointer prints "(null)"; "%S"/"%ls" take UTF-16 text. The
// output is limited to 1024 characters with the terminator.

namespace {

constexpr size_t kWsprintfLimit = 1024;

struct Conversion {
  bool left = false, hexPrefix = false, zeroPad = false;
  unsigned width = 0, precision = 0;
  bool hasPrecision = false;
  enum { kNone, kLong, kShort, kWide, kIntPtr, kI64 } size = kNone;
};

}  // namespace

int wsprintfA(LPSTR dst, LPCSTR format, ...) {
  if (!dst || !format) return 0;
  std::string out;
  va_list args;
  va_start(args, format);
  const char* p = format;
  while (*p && out.size() < kWsprintfLimit - 1) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    ++p;
    if (*p == '%') {
      out += *p++;
      continue;
    }
    Conversion s;
    if (*p == '-') { s.left = true; ++p; }
    if (*p == '#') { s.hexPrefix = true; ++p; }
    if (*p == '0') { s.zeroPad = true; ++p; }
    while (*p >= '0' && *p <= '9') s.width = s.width * 10 + (*p++ - '0');
    if (*p == '.') {
      ++p;
      s.hasPrecision = true;
      while (*p >= '0' && *p <= '9') s.precision = s.precision * 10 + (*p++ - '0');
    }
    if (*p == 'l') { s.size = Conversion::kLong; ++p; }
    else if (*p == 'h') { s.size = Conversion::kShort; ++p; }
    else if (*p == 'w') { s.size = Conversion::kWide; ++p; }
    else if (*p == 'I') {
      if (p[1] == '6' && p[2] == '4') { s.size = Conversion::kI64; p += 3; }
      else if (p[1] == '3' && p[2] == '2') { p += 3; }
      else { s.size = Conversion::kIntPtr; ++p; }
    }
    char type = *p;
    if (!type) break;
    ++p;
    std::string body;     // the converted argument, before padding
    std::string sign;     // "-" or "0x", kept before zero padding
    bool numeric = false;
    switch (type) {
      case 'c':
      case 'C': {
        bool wide = type == 'c' ? s.size == Conversion::kLong || s.size == Conversion::kWide
                                : s.size != Conversion::kShort;
        int value = va_arg(args, int);
        if (wide) {
          char16_t w = static_cast<char16_t>(value);
          body = winsim::ToAnsi(std::u16string_view(&w, 1));
        } else {
          body = std::string(1, static_cast<char>(value));
        }
        break;
      }
      case 's':
      case 'S': {
        bool wide = type == 's' ? s.size == Conversion::kLong || s.size == Conversion::kWide
                                : s.size != Conversion::kShort;
        if (wide) {
          const char16_t* w = va_arg(args, const char16_t*);
          body = w ? winsim::ToAnsi(w) : std::string("(null)");
        } else {
          const char* a = va_arg(args, const char*);
          body = a ? std::string(a) : std::string("(null)");
        }
        if (s.hasPrecision && s.precision && body.size() > s.precision) body.resize(s.precision);
        break;
      }
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'p': {
        numeric = true;
        uint64_t magnitude;
        bool negative = false;
        int64_t value;
        if (type == 'p' || s.size == Conversion::kIntPtr) value = static_cast<int64_t>(va_arg(args, intptr_t));
        else if (s.size == Conversion::kI64) value = va_arg(args, long long);
        else value = va_arg(args, int);
        if (type == 'p') {
          s.zeroPad = true;
          s.width = 2 * sizeof(void*);
        }
        bool pointerSized = type == 'p' || s.size == Conversion::kIntPtr;
        if ((type == 'd' || type == 'i') && value < 0) {
          negative = true;
          magnitude = static_cast<uint64_t>(-(value + 1)) + 1;
        } else {
          magnitude = static_cast<uint64_t>(value);
        }
        if (!pointerSized && s.size != Conversion::kI64) magnitude &= 0xFFFFFFFFu;
        const char* digits = (type == 'X' || type == 'p') ? "0123456789ABCDEF" : "0123456789abcdef";
        unsigned base = (type == 'x' || type == 'X' || type == 'p') ? 16 : 10;
        do {
          body.insert(body.begin(), digits[magnitude % base]);
          magnitude /= base;
        } while (magnitude);
        if (negative) sign = "-";
        if (base == 16 && s.hexPrefix) sign = type == 'x' ? "0x" : "0X";
        if (s.hasPrecision && body.size() < s.precision)
          body.insert(0, s.precision - body.size(), '0');
        break;
      }
      default:
        // Not a conversion wsprintf knows: the character itself is printed.
        out += type;
        continue;
    }
    size_t length = sign.size() + body.size();
    std::string field;
    if (length < s.width) {
      size_t pad = s.width - length;
      if (s.left) field = sign + body + std::string(pad, ' ');
      else if (s.zeroPad && numeric) field = sign + std::string(pad, '0') + body;
      else field = std::string(pad, ' ') + sign + body;
    } else {
      field = sign + body;
    }
    out += field;
  }
  va_end(args);
  if (out.size() > kWsprintfLimit - 1) out.resize(kWsprintfLimit - 1);
  std::memcpy(dst, out.data(), out.size());
  dst[out.size()] = '\0';
  return static_cast<int>(out.size());
}
