// Code pages 1252 and 932 and the text conversions, case mappings and
// comparisons that the rest of winsim builds on.
//
// The byte <-> UTF-16 tables of both code pages are built once from iconv
// ("CP1252", "CP932"); the few bytes iconv leaves undefined are filled in the
// way Windows maps them. Everything that splits or compares ANSI text goes
// through these tables, so a double-byte character whose trail byte is a
// backslash or a letter is never taken apart.
#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include <windows.h>

#include "winsim/control.h"
#include "winsim/core/codepage.h"

namespace winsim {
namespace {

constexpr char16_t kReplacement = 0xFFFD;    // invalid UTF-8
constexpr char16_t kDbcsDefault = 0x30FB;    // invalid double-byte text (katakana middle dot)

struct CodePageTable {
  UINT id = 0;
  char16_t single[256] = {};
  bool lead[256] = {};
  std::vector<char16_t> dbcs;                      // (lead << 8 | trail) -> UTF-16, 0 = undefined
  std::unordered_map<char16_t, uint16_t> reverse;  // UTF-16 -> one byte (< 0x100) or two
};

bool IsTrailByte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

// Converts one character's bytes with iconv; false when iconv does not map
// them to exactly one UTF-16 unit.
bool ConvertOne(iconv_t cd, const unsigned char* bytes, size_t count, char16_t* out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char in[4];
  std::memcpy(in, bytes, count);
  char* inPtr = in;
  size_t inLeft = count;
  unsigned char buffer[8];
  char* outPtr = reinterpret_cast<char*>(buffer);
  size_t outLeft = sizeof(buffer);
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
    return false;
  if (sizeof(buffer) - outLeft != 2) return false;
  *out = static_cast<char16_t>(buffer[0] | (buffer[1] << 8));
  return true;
}

CodePageTable Build1252() {
  CodePageTable t;
  t.id = 1252;
  iconv_t cd = iconv_open("UTF-16LE", "CP1252");
  for (int b = 0; b < 256; ++b) {
    unsigned char byte = static_cast<unsigned char>(b);
    char16_t w = static_cast<char16_t>(b);  // the five undefined bytes map to U+0081 etc.
    if (cd != reinterpret_cast<iconv_t>(-1) && b >= 0x80) {
      char16_t converted;
      if (ConvertOne(cd, &byte, 1, &converted)) w = converted;
    }
    t.single[b] = w;
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  for (int b = 0; b < 256; ++b) t.reverse.emplace(t.single[b], static_cast<uint16_t>(b));
  return t;
}

CodePageTable Build932() {
  CodePageTable t;
  t.id = 932;
  for (int b = 0x81; b <= 0x9F; ++b) t.lead[b] = true;
  for (int b = 0xE0; b <= 0xFC; ++b) t.lead[b] = true;
  iconv_t cd = iconv_open("UTF-16LE", "CP932");
  bool haveIconv = cd != reinterpret_cast<iconv_t>(-1);
  for (int b = 0; b < 256; ++b) {
    if (t.lead[b]) continue;
    unsigned char byte = static_cast<unsigned char>(b);
    char16_t w = static_cast<char16_t>(b);
    if (b == 0xA0) w = 0xF8F0;
    else if (b >= 0xFD) w = static_cast<char16_t>(0xF8F1 + (b - 0xFD));
    else if (b >= 0xA1 && b <= 0xDF) w = static_cast<char16_t>(0xFF61 + (b - 0xA1));
    if (haveIconv && b != 0x80 && b < 0xA0) {
      char16_t converted;
      if (ConvertOne(cd, &byte, 1, &converted)) w = converted;
    }
    t.single[b] = w;
  }
  t.dbcs.assign(0x10000, 0);
  if (haveIconv) {
    for (int lead = 0; lead < 256; ++lead) {
      if (!t.lead[lead]) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        if (!IsTrailByte(static_cast<unsigned char>(trail))) continue;
        unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
        char16_t w;
        if (ConvertOne(cd, pair, 2, &w)) t.dbcs[(lead << 8) | trail] = w;
      }
    }
    iconv_close(cd);
  }
  // Reverse mapping: single bytes first, then double bytes in increasing
  // order; the NEC-selected rows 0xED/0xEE only where nothing else maps.
  for (int b = 0; b < 256; ++b)
    if (!t.lead[b]) t.reverse.emplace(t.single[b], static_cast<uint16_t>(b));
  auto addLead = [&](int lead) {
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      char16_t w = t.dbcs[(lead << 8) | trail];
      if (w) t.reverse.emplace(w, static_cast<uint16_t>((lead << 8) | trail));
    }
  };
  for (int lead = 0; lead < 256; ++lead)
    if (t.lead[lead] && lead != 0xED && lead != 0xEE) addLead(lead);
  addLead(0xED);
  addLead(0xEE);
  return t;
}

const CodePageTable* TableFor(UINT codePage) {
  static const CodePageTable t1252 = Build1252();
  static const CodePageTable t932 = Build932();
  if (codePage == 1252) return &t1252;
  if (codePage == 932) return &t932;
  return nullptr;
}

std::atomic<UINT> g_codePageOverride{0};

UINT LocaleCodePage() {
  // Wine takes the ANSI code page from the first locale variable that is set.
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    bool japanese = value[0] == 'j' && value[1] == 'a' &&
                    (value[2] == '\0' || value[2] == '_' || value[2] == '.' || value[2] == '@');
    return japanese ? 932 : 1252;
  }
  return 1252;
}

}  // namespace

// ---- decoding / encoding ------------------------------------------------------

// Appends the UTF-16 form of bytes; false when some bytes were not valid.
bool Decode(UINT codePage, const unsigned char* s, size_t n, std::u16string& out) {
  bool valid = true;
  if (codePage == CP_UTF8) {
    size_t i = 0;
    while (i < n) {
      unsigned char b = s[i];
      if (b < 0x80) {
        out += static_cast<char16_t>(b);
        ++i;
        continue;
      }
      int extra = 0;
      uint32_t cp = 0, min = 0;
      if (b >= 0xC2 && b <= 0xDF) { extra = 1; cp = b & 0x1F; min = 0x80; }
      else if (b >= 0xE0 && b <= 0xEF) { extra = 2; cp = b & 0x0F; min = 0x800; }
      else if (b >= 0xF0 && b <= 0xF4) { extra = 3; cp = b & 0x07; min = 0x10000; }
      else {
        out += kReplacement;
        valid = false;
        ++i;
        continue;
      }
      size_t j = 1;
      for (; j <= static_cast<size_t>(extra); ++j) {
        if (i + j >= n || (s[i + j] & 0xC0) != 0x80) break;
        cp = (cp << 6) | (s[i + j] & 0x3F);
      }
      if (j <= static_cast<size_t>(extra) || cp < min || cp > 0x10FFFF ||
          (cp >= 0xD800 && cp <= 0xDFFF)) {
        out += kReplacement;
        valid = false;
        i += std::max<size_t>(1, j);
        continue;
      }
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      } else {
        out += static_cast<char16_t>(cp);
      }
      i += extra + 1;
    }
    return valid;
  }
  const CodePageTable* t = TableFor(codePage);
  for (size_t i = 0; i < n;) {
    unsigned char b = s[i];
    if (!t->lead[b]) {
      out += t->single[b];
      ++i;
      continue;
    }
    if (i + 1 < n && s[i + 1]) {
      // A lead byte takes the next byte with it, valid trail byte or not.
      char16_t w = IsTrailByte(s[i + 1]) ? t->dbcs[(b << 8) | s[i + 1]] : 0;
      if (!w) {
        w = kDbcsDefault;
        valid = false;
      }
      out += w;
      i += 2;
    } else {
      out += kDbcsDefault;
      valid = false;
      ++i;
    }
  }
  return valid;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The character code page 1252 writes for one it does not have, as Windows'
// "best fit" does: full-width forms as ASCII, the ideographic space as a
// space, Latin letters with accents it lacks as the plain letter. 0: none.
char16_t BestFit1252(char16_t c) {
  static const char kLatinExtendedA[] =
      "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi??JjKk?LlLlLlL"
      "lLlNnNnNn???OoOoOo??RrRrRrSsSsSs??TtTtTtUuUuUuUuUuUuWwYy?ZzZz???";
  if (c >= 0xFF01 && c <= 0xFF5E) return static_cast<char16_t>(c - 0xFEE0);
  if (c == 0x3000) return u' ';
  if (c >= 0x100 && c <= 0x17F && kLatinExtendedA[c - 0x100] != '?')
    return static_cast<char16_t>(kLatinExtendedA[c - 0x100]);
  return 0;
}

// Encodes UTF-16; usedDefault tells whether some character could not be
// represented (or, for UTF-8, was a lone surrogate).
std::string Encode(UINT codePage, const char16_t* s, size_t n, const char* defaultChar,
                   bool* usedDefault, bool bestFit) {
  std::string out;
  *usedDefault = false;
  if (codePage == CP_UTF8) {
    for (size_t i = 0; i < n; ++i) {
      uint32_t c = s[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = kReplacement;
        *usedDefault = true;
      }
      AppendUtf8(c, out);
    }
    return out;
  }
  const CodePageTable* t = TableFor(codePage);
  // The caller's default character (one character: two bytes when it starts
  // with a lead byte), else '?'.
  std::string fallback = "?";
  if (defaultChar && *defaultChar) {
    bool doubleByte = t->lead[static_cast<unsigned char>(defaultChar[0])] && defaultChar[1];
    fallback.assign(defaultChar, doubleByte ? 2 : 1);
  }
  for (size_t i = 0; i < n; ++i) {
    auto it = t->reverse.find(s[i]);
    if (it == t->reverse.end() && bestFit && codePage == 1252) {
      if (char16_t fit = BestFit1252(s[i])) it = t->reverse.find(fit);
    }
    if (it == t->reverse.end()) {
      out += fallback;
      *usedDefault = true;
    } else if (it->second >= 0x100) {
      out += static_cast<char>(it->second >> 8);
      out += static_cast<char>(it->second & 0xFF);
    } else {
      out += static_cast<char>(it->second);
    }
  }
  return out;
}

namespace {

// ---- case mapping ----------------------------------------------------------

char16_t ToUpperImpl(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    bool oddLower = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    if (oddLower) return (c & 1) ? c - 1 : c;
    if (c == 0x178) return c;
    return (c & 1) ? c : c - 1;  // 0x139..0x148 and 0x179..0x17E: odd upper, even lower
  }
  if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  if (c >= 0x2170 && c <= 0x217F) return c - 16;  // small Roman numerals
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;
  return c;
}

char16_t ToLowerImpl(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    bool evenUpper = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    if (evenUpper) return (c & 1) ? c : c + 1;
    return (c & 1) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x2160 && c <= 0x216F) return c + 16;  // capital Roman numerals
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
  return c;
}

// ---- collation ---------------------------------------------------------------

// Latin-1 letters (lower case, U+00E0..U+00FF): base letter and accent class.
// Accent classes order as Windows orders them: none, acute, grave,
// circumflex, tilde, diaeresis, ring, cedilla, stroke. '-' marks the two
// symbols, '*' the letters that sort as two (æ, þ), 'd' with class 9 is eth.
constexpr char kLatin1Base[] = "aaaaaa*ceeeeiiiidnooooo-ouuuuy*y";
constexpr uint8_t kLatin1Accent[] = {2, 1, 3, 4, 5, 6, 0, 7, 2, 1, 3, 5, 2, 1, 3, 5,
                                     9, 4, 2, 1, 3, 4, 5, 0, 8, 2, 1, 3, 5, 1, 0, 5};

struct Weight {
  uint32_t primary = 0;
  uint16_t accent = 0;
  uint8_t upper = 0;
};

uint32_t LetterWeight(char letter) { return 0x20000 + static_cast<uint32_t>(letter - 'a') * 4; }

// Letters that sort as two letters: æ as "ae", œ as "oe", ß as "ss", þ as "th".
const char* Expansion(char16_t lower) {
  switch (lower) {
    case 0xE6: return "ae";
    case 0x153: return "oe";
    case 0xDF: return "ss";
    case 0xFE: return "th";
    default: return nullptr;
  }
}

Weight WeightOf(char16_t c) {
  // Space and the other blanks, then punctuation, then currency, then the
  // mathematical signs, then other symbols, digits and letters.
  static const char16_t kPunctuation[] = u" \t\n\v\f\r!\"#$%&()*,./:;?@[\\]^_`{|}~";
  static const char16_t kCurrency[] = u"\u00A2\u00A3\u00A4\u00A5\u20AC";
  static const char16_t kMath[] = u"+\u00B1<=>\u00AC\u00D7\u00F7";
  Weight w;
  char16_t lower = ToLowerImpl(c);
  w.upper = lower != c;
  auto in = [c](const char16_t* set, size_t n) { return std::char_traits<char16_t>::find(set, n, c); };
  if (lower >= u'a' && lower <= u'z') {
    w.primary = LetterWeight(static_cast<char>(lower));
  } else if (c >= u'0' && c <= u'9') {
    w.primary = 0x10000 + (c - u'0');
  } else if (const char16_t* p = in(kPunctuation, std::size(kPunctuation) - 1)) {
    w.primary = 0x300 + static_cast<uint32_t>(p - kPunctuation);
  } else if (const char16_t* p = in(kCurrency, std::size(kCurrency) - 1)) {
    w.primary = 0x400 + static_cast<uint32_t>(p - kCurrency);
  } else if (const char16_t* p = in(kMath, std::size(kMath) - 1)) {
    w.primary = 0x500 + static_cast<uint32_t>(p - kMath);
  } else if (lower >= 0xE0 && lower <= 0xFF && kLatin1Base[lower - 0xE0] != '-') {
    w.primary = LetterWeight(kLatin1Base[lower - 0xE0]);
    w.accent = kLatin1Accent[lower - 0xE0];
  } else if (lower == 0x161 || lower == 0x17E) {
    w.primary = LetterWeight(lower == 0x161 ? 's' : 'z');
    w.accent = 10;  // caron
  } else if (lower == 0x192) {
    w.primary = LetterWeight('f');
    w.accent = 11;
  } else if (lower >= 0x100 && lower <= 0x24F) {
    w.primary = 0x30000 + lower;
  } else if (lower >= 0x370 && lower <= 0x52F) {
    w.primary = 0x40000 + lower;
  } else if (lower >= 0xFF01 && lower <= 0xFF5E) {
    w.primary = 0x50000 + lower;
  } else if (c <= 0xBF || (c >= 0x2000 && c <= 0x2BFF)) {
    w.primary = 0x1000 + c;  // other symbols
  } else {
    w.primary = 0x60000 + c;
  }
  return w;
}

struct SortKey {
  std::vector<uint32_t> primary;
  std::vector<uint16_t> accent;
  std::vector<uint8_t> upper;
  std::vector<uint32_t> special;  // hyphens and apostrophes: weight and position
  std::vector<uint32_t> control;  // control characters: count only last
};

SortKey MakeSortKey(std::u16string_view s) {
  SortKey k;
  for (char16_t c : s) {
    if (c == u'\'' || c == u'-') {
      // Word sort: hyphen and apostrophe count only when all else is equal.
      k.special.push_back((c == u'\'' ? 1u : 2u) << 24 | static_cast<uint32_t>(k.primary.size()));
      continue;
    }
    if ((c < 0x20 && !(c >= 0x09 && c <= 0x0D)) || c == 0x7F) {
      k.control.push_back(static_cast<uint32_t>(c) << 16 | static_cast<uint32_t>(k.primary.size()));
      continue;
    }
    char16_t lower = ToLowerImpl(c);
    if (const char* pair = Expansion(lower)) {
      for (int i = 0; i < 2; ++i) {
        k.primary.push_back(LetterWeight(pair[i]));
        k.accent.push_back(0);
        k.upper.push_back(lower != c);
      }
      continue;
    }
    Weight w = WeightOf(c);
    k.primary.push_back(w.primary);
    k.accent.push_back(w.accent);
    k.upper.push_back(w.upper);
  }
  return k;
}

template <class V>
int CompareVectors(const V& a, const V& b) {
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end())) return -1;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end())) return 1;
  return 0;
}

}  // namespace

// ---- per-character helpers over ANSI text ----------------------------------

const CodePageTable* AnsiTable() { return TableFor(AnsiCodePage()); }

// Changes the case of text in place as user32 does it: through UTF-16 and
// back, so that a double-byte letter changes case too (full-width "ａ" becomes
// "Ａ") and a double-byte character comes back in the code page's preferred
// form (an IBM-extension duplicate becomes its NEC form). A character whose
// new form would not take the same number of bytes, and a lead byte at the
// end, stay as they are.
void MapCase(char* text, size_t length, bool upper) {
  const CodePageTable* t = AnsiTable();
  for (size_t i = 0; i < length; ++i) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (t->lead[b]) {
      if (i + 1 >= length || !text[i + 1]) continue;
      unsigned char trail = static_cast<unsigned char>(text[i + 1]);
      char16_t w = t->dbcs[(b << 8) | trail];
      if (w) {
        char16_t m = upper ? ToUpperImpl(w) : ToLowerImpl(w);
        auto it = t->reverse.find(m);
        if (it != t->reverse.end() && it->second >= 0x100) {
          text[i] = static_cast<char>(it->second >> 8);
          text[i + 1] = static_cast<char>(it->second & 0xFF);
        }
      }
      ++i;
      continue;
    }
    char16_t w = t->single[b];
    char16_t m = upper ? ToUpperImpl(w) : ToLowerImpl(w);
    if (m == w) continue;
    auto it = t->reverse.find(m);
    if (it != t->reverse.end() && it->second < 0x100) text[i] = static_cast<char>(it->second);
  }
}

// ---- internal interface ------------------------------------------------------

UINT AnsiCodePage() {
  UINT forced = g_codePageOverride.load();
  if (forced) return forced;
  static const UINT fromLocale = LocaleCodePage();
  return fromLocale;
}

UINT ResolveCodePage(UINT codePage) {
  if (codePage == CP_ACP || codePage == 3 /* CP_THREAD_ACP */) return AnsiCodePage();
  if (codePage == 1 /* CP_OEMCP */) return AnsiCodePage() == 932 ? 932 : 0;
  return codePage;
}

bool IsKnownCodePage(UINT codePage) {
  return codePage == 1252 || codePage == 932 || codePage == CP_UTF8;
}

bool IsLeadByteIn(UINT codePage, unsigned char byte) {
  codePage = ResolveCodePage(codePage);
  if (codePage != 932) return false;
  return TableFor(932)->lead[byte];
}

std::u16string ToWide(std::string_view text, UINT codePage) {
  codePage = ResolveCodePage(codePage);
  if (!IsKnownCodePage(codePage)) codePage = AnsiCodePage();
  std::u16string out;
  Decode(codePage, reinterpret_cast<const unsigned char*>(text.data()), text.size(), out);
  return out;
}

std::string ToAnsi(std::u16string_view text, UINT codePage) {
  codePage = ResolveCodePage(codePage);
  if (!IsKnownCodePage(codePage)) codePage = AnsiCodePage();
  bool used;
  return Encode(codePage, text.data(), text.size(), nullptr, &used);
}

std::string ToUtf8(std::u16string_view text) { return ToAnsi(text, CP_UTF8); }
std::u16string FromUtf8(std::string_view text) { return ToWide(text, CP_UTF8); }

char16_t UpperChar(char16_t c) { return ToUpperImpl(c); }
char16_t LowerChar(char16_t c) { return ToLowerImpl(c); }

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && ToLowerImpl(a[i]) != ToLowerImpl(b[i])) return false;
  return true;
}

bool EqualNoCaseAnsi(std::string_view a, std::string_view b) {
  return EqualNoCase(ToWide(a), ToWide(b));
}

int CompareText(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  SortKey ka = MakeSortKey(a), kb = MakeSortKey(b);
  if (int r = CompareVectors(ka.primary, kb.primary)) return r;
  if (int r = CompareVectors(ka.accent, kb.accent)) return r;
  if (!ignoreCase)
    if (int r = CompareVectors(ka.upper, kb.upper)) return r;
  if (int r = CompareVectors(ka.special, kb.special)) return r;
  return CompareVectors(ka.control, kb.control);
}

// ---- controls ------------------------------------------------------------------

void SetCodePage(UINT codePage) { g_codePageOverride.store(codePage); }

}  // namespace winsim
