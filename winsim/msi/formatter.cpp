// Formatted text: the engine's [reference] and {group} syntax.
//
// The engine lexes the template left to right and keeps a stack of tokens. A
// closing bracket or brace that has an opening partner on the stack replaces the
// text from that partner on by the resolved value; the value then becomes one
// token (it is never lexed again), so "[[1]]" with field 1 "2" looks up field 2
// while a field holding "[2]" stays as it is. Groups are decided from what their
// references did: all found drops the braces, one missing removes the group, no
// reference at all keeps the text with its braces, "{{...}}" vanishes.
//
// The text before the lexer position is kept in `done_`; the text still to be
// lexed is kept reversed in `pending_`, so that every replacement costs only the
// length of the replaced region and the whole run stays linear in practice.
#include "winsim/msi/formatter.h"

#include <climits>
#include <cstddef>
#include <string_view>
#include <vector>

namespace winsim {

// ---- code page conversion ----------------------------------------------------

namespace {

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// Converts one NUL-free piece.
std::u16string WidenPiece(const char* text, int length) {
  if (length <= 0) return std::u16string();
  int count = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (count <= 0) return std::u16string();
  std::u16string wide(static_cast<std::size_t>(count), u'\0');
  count = MultiByteToWideChar(CP_ACP, 0, text, length, reinterpret_cast<LPWSTR>(wide.data()),
                              count);
  wide.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  return wide;
}

std::string NarrowPiece(const char16_t* text, int length) {
  if (length <= 0) return std::string();
  LPCWSTR source = reinterpret_cast<LPCWSTR>(text);
  int count = WideCharToMultiByte(CP_ACP, 0, source, length, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(count), '\0');
  count = WideCharToMultiByte(CP_ACP, 0, source, length, narrow.data(), count, nullptr, nullptr);
  narrow.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  return narrow;
}

}  // namespace

std::u16string WidenAcp(const std::string& text) {
  if (IsAscii(text)) return std::u16string(text.begin(), text.end());
  std::u16string wide;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    wide += WidenPiece(text.data() + start, static_cast<int>(end - start));
    if (end == text.size()) break;
    wide.push_back(u'\0');
    start = end + 1;
  }
  return wide;
}

std::string NarrowAcp(const std::u16string& text) {
  bool ascii = true;
  for (char16_t c : text)
    if (c >= 0x80) ascii = false;
  if (ascii) return std::string(text.begin(), text.end());
  std::string narrow;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(u'\0', start);
    if (end == std::u16string::npos) end = text.size();
    narrow += NarrowPiece(text.data() + start, static_cast<int>(end - start));
    if (end == text.size()) break;
    narrow.push_back('\0');
    start = end + 1;
  }
  return narrow;
}

// ---- the formatter -----------------------------------------------------------

namespace {

enum class Kind {
  kLiteral,       // plain text (or a resolved value)
  kNumber,        // digits directly followed by "]" (or an all-digit record value)
  kOpenBracket,   // [
  kCloseBracket,  // ]
  kOpenBrace,     // {
  kCloseBrace,    // }
  kEscape,        // \x inside a reference
  kNullChar,      // ~
};

struct Token {
  Kind kind;
  std::size_t pos;  // where the token starts in done_
  std::size_t len;  // its length; a resolved [~] occupies one character with length 0
  bool found = false;      // holds a value that a reference resolved
  bool unresolved = false; // holds text kept as written (a reference left literal, a kept group)
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
// Anything but a digit, a bracket, a brace or the end is literal text.
bool IsTextChar(char16_t c) {
  return !IsDigit(c) && c != u'\0' && c != u'[' && c != u']' && c != u'{' && c != u'}';
}
bool IsWordChar(char16_t c) { return IsTextChar(c) || IsDigit(c); }

bool AllDigits(const std::u16string& text) {
  for (char16_t c : text)
    if (!IsDigit(c)) return false;
  return true;
}

// Decimal value with the C library's clamping of a 32-bit long.
long ParseLong(const std::u16string& text) {
  long long value = 0;
  for (char16_t c : text) {
    if (!IsDigit(c)) break;
    value = value * 10 + (c - u'0');
    if (value > LONG_MAX) return LONG_MAX;
  }
  return static_cast<long>(value);
}

// The record as the second pass sees it: field 0 is the template, the string
// fields already went through a pass of their own.
struct FieldTexts {
  std::vector<bool> present;
  std::vector<std::u16string> text;
};

// An unbalanced "[" leaves the template exactly as it is: more opening brackets
// (not preceded by a backslash) than closing ones.
bool Balanced(const std::u16string& text) {
  long depth = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'[' && (i == 0 || text[i - 1] != u'\\'))
      ++depth;
    else if (text[i] == u']')
      --depth;
  }
  return depth <= 0;
}

class Formatter {
 public:
  Formatter(SessionView* session, const FieldTexts* fields) : session_(session), fields_(fields) {}

  std::u16string Run(const std::u16string& text) {
    if (!Balanced(text)) return text;
    pending_.assign(text.rbegin(), text.rend());
    for (;;) {
      Token token{};
      if (!Lex(&token)) break;
      switch (token.kind) {
        case Kind::kOpenBrace:
          propFailed_ = false;
          ++groups_;
          Push(token);
          break;
        case Kind::kCloseBracket:
        case Kind::kCloseBrace: {
          Kind open = token.kind == Kind::kCloseBracket ? Kind::kOpenBracket : Kind::kOpenBrace;
          if (token.kind == Kind::kCloseBrace) --groups_;
          Push(token);
          if (Count(open) > 0) Reduce(open);
          break;
        }
        default:
          Push(token);
          break;
      }
    }
    std::u16string result = std::move(done_);
    result.append(pending_.rbegin(), pending_.rend());
    return result;
  }

 private:
  // ---- lexing ----
  char16_t Peek(std::size_t ahead) const {
    return ahead < pending_.size() ? pending_[pending_.size() - 1 - ahead] : u'\0';
  }

  bool Lex(Token* token) {
    char16_t c = Peek(0);
    if (c == u'\0') return false;  // the end, or a resolved [~] given back to the lexer
    std::size_t len = 1;
    switch (c) {
      case u'{': token->kind = Kind::kOpenBrace; break;
      case u'}': token->kind = Kind::kCloseBrace; break;
      case u'[': token->kind = Kind::kOpenBracket; break;
      case u']': token->kind = Kind::kCloseBracket; break;
      case u'~': token->kind = Kind::kNullChar; break;
      case u'\\':
        token->kind = Kind::kEscape;
        // Inside a reference the escape runs up to the "]"; outside it is just
        // the backslash, as plain text.
        if (Count(Kind::kOpenBracket) > 0)
          while (Peek(len) != u'\0' && Peek(len) != u']') ++len;
        break;
      default:
        if (IsDigit(c)) {
          while (IsDigit(Peek(len))) ++len;
          token->kind = Kind::kNumber;
          if (Peek(len) != u']') {
            while (IsWordChar(Peek(len))) ++len;
            token->kind = Kind::kLiteral;
          }
        } else {
          while (IsWordChar(Peek(len))) ++len;
          token->kind = Kind::kLiteral;
        }
        break;
    }
    token->pos = done_.size();
    token->len = len;
    for (std::size_t i = 0; i < len; ++i) {
      done_.push_back(pending_.back());
      pending_.pop_back();
    }
    return true;
  }

  // ---- the token stack ----
  std::size_t& Count(Kind kind) { return counts_[static_cast<int>(kind)]; }
  void Push(const Token& token) {
    stack_.push_back(token);
    ++Count(token.kind);
  }
  Token Pop() {
    Token token = stack_.back();
    stack_.pop_back();
    --Count(token.kind);
    return token;
  }

  // Takes the tokens from the nearest opening partner up to the closing token
  // just pushed and replaces their text by its resolution.
  void Reduce(Kind open) {
    std::vector<Token> values;
    do {
      values.push_back(Pop());
    } while (values.back().kind != open);
    std::vector<Token> ordered(values.rbegin(), values.rend());

    Resolution r;
    for (const Token& t : ordered) r.oldSize += t.len;
    bool group = open == Kind::kOpenBrace;
    if (group)
      ResolveGroup(ordered, &r);
    else
      ResolveReference(ordered, &r);
    Apply(ordered.front().pos, r, group);
  }

  struct Resolution {
    std::size_t oldSize = 0;  // the summed token lengths of the region
    bool hasValue = false;    // false: the region disappears
    bool keepRegion = false;  // the value is the region's own text
    std::u16string value;     // otherwise the value; empty means one NUL character
    Kind kind = Kind::kLiteral;
    bool found = false;
    bool unresolved = false;
  };

  void ResolveReference(const std::vector<Token>& values, Resolution* r) {
    std::size_t n = values.front().pos;
    // The reference's kind is that of its first token; any other kind inside
    // makes it literal text, unless it starts with an escape.
    Kind kind = values[1].kind;
    for (std::size_t i = 1; i + 1 < values.size(); ++i)
      if (kind != Kind::kEscape && values[i].kind != kind) kind = Kind::kLiteral;
    r->kind = kind;
    std::size_t contentPos = n + 1;
    std::size_t contentLen = r->oldSize - 2;

    if (kind == Kind::kNumber && fields_) {
      long index = ParseLong(done_.substr(contentPos, contentLen));
      if (index >= 0 && static_cast<std::size_t>(index) < fields_->present.size() &&
          fields_->present[static_cast<std::size_t>(index)]) {
        r->hasValue = true;
        r->value = fields_->text[static_cast<std::size_t>(index)];
        r->found = true;
        r->kind = AllDigits(r->value) ? Kind::kNumber : Kind::kLiteral;
      } else {
        propFailed_ = true;
      }
    } else if (session_) {
      ResolveName(contentPos, contentLen, r);
    } else {
      // Without a session only record fields resolve; the rest stays as written.
      r->unresolved = true;
      r->hasValue = true;
      r->keepRegion = true;
    }
  }

  void ResolveName(std::size_t pos, std::size_t len, Resolution* r) {
    char16_t c = pos < done_.size() ? done_[pos] : u'\0';
    // The engine looks names up as NUL-terminated text: a resolved [~] inside
    // a reference ends the name there ("[B[~]x]" reads B).
    std::u16string_view content = std::u16string_view(done_).substr(pos, len);
    std::u16string_view name = content.substr(0, content.find(u'\0'));
    if (c == u'\\') {
      // [\x] is the character x.
      if (len != 1 && pos + 1 < done_.size()) {
        r->hasValue = true;
        r->value.assign(1, done_[pos + 1]);
      }
    } else if (c == u'~') {
      // [~] is a NUL character.
      if (len == 1) r->hasValue = true;
    } else if (c == u'%' || c == u'#' || c == u'!' || c == u'$') {
      std::string key = NarrowAcp(std::u16string(name.substr(name.empty() ? 0 : 1)));
      r->kind = Kind::kLiteral;
      if (c == u'%') {
        Environment(key, r);
      } else {
        // [!key] would be the short path; winsim reports the full installed path,
        // which is what the engine also falls back to.
        std::string value = c == u'$' ? session_->ComponentDirectory(key)
                                      : session_->FileKeyPath(key);
        if (!value.empty()) {
          r->hasValue = true;
          r->value = WidenAcp(value);
        }
      }
    } else {
      std::string value = session_->Property(NarrowAcp(std::u16string(name)));
      r->kind = Kind::kLiteral;
      if (!value.empty()) {
        r->hasValue = true;
        r->value = WidenAcp(value);
        r->found = true;
      } else {
        propFailed_ = true;
      }
    }
  }

  static void Environment(const std::string& name, Resolution* r) {
    DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (size == 0) return;
    std::string value(size + 1, '\0');
    DWORD got = GetEnvironmentVariableA(name.c_str(), value.data(), size + 1);
    if (got > size) got = 0;
    value.resize(got);
    r->hasValue = true;  // a variable set to nothing gives a NUL character
    r->value = WidenAcp(value);
  }

  void ResolveGroup(const std::vector<Token>& values, Resolution* r) {
    std::size_t n = values.front().pos;
    std::size_t size = r->oldSize;
    for (std::size_t i = 1; i < values.size(); ++i) {
      if (values[i].unresolved) r->unresolved = true;
      if (values[i].found) r->found = true;
    }
    r->kind = Kind::kLiteral;
    if (!groupFailed_ && (size == 2 || (propFailed_ && !r->unresolved))) {
      // Empty, or a reference in it found nothing: the group disappears.
      return;
    }
    if (done_[n + 1] == u'{' && done_[n + size - 2] == u'}') {
      // {{...}} disappears.
      groupFailed_ = false;
    } else if (r->found && !r->unresolved && !groupFailed_ && groups_ == 0) {
      r->hasValue = true;
      r->value = done_.substr(n + 1, size - 2);
    } else {
      if (groups_ != 0) groupFailed_ = true;
      r->unresolved = true;
      r->hasValue = true;
      r->keepRegion = true;
    }
    if (groups_ == 0) propFailed_ = false;
  }

  void Apply(std::size_t n, const Resolution& r, bool group) {
    // A resolved [~] counts no length, so the region may end before the lexer
    // position; what lies beyond it is lexed again.
    std::size_t end = n + r.oldSize;
    while (done_.size() > end) {
      pending_.push_back(done_.back());
      done_.pop_back();
    }
    if (!r.hasValue) {
      done_.resize(n);
      return;
    }
    Token token{r.kind, n, 0, r.found, r.unresolved};
    if (r.keepRegion) {
      token.len = r.oldSize;
    } else {
      done_.resize(n);
      if (r.value.empty()) {
        done_.push_back(u'\0');
        token.pos = n + 1;
      } else {
        done_ += r.value;
        token.len = r.value.size();
      }
    }
    if (!stack_.empty()) {
      Token& top = stack_.back();
      if ((top.kind == Kind::kLiteral || top.kind == Kind::kNumber) && top.kind == token.kind) {
        top.len += token.len;
        if (group) top.unresolved = false;
        if (top.kind == Kind::kLiteral) top.unresolved = token.unresolved;
        if (token.found) top.found = true;
        return;
      }
    }
    Push(token);
  }

  SessionView* session_;
  const FieldTexts* fields_;
  std::u16string done_;
  std::u16string pending_;  // reversed
  std::vector<Token> stack_;
  std::size_t counts_[8] = {};
  bool propFailed_ = false;
  bool groupFailed_ = false;
  long groups_ = 0;
};

std::u16string DefaultFrame(unsigned count) {
  std::u16string frame;
  for (unsigned i = 1; i <= count; ++i) {
    std::string n = std::to_string(i);
    std::string part = n + ": [" + n + "] ";
    frame.append(part.begin(), part.end());
  }
  return frame;
}

// The record's text: the template (or the frame that lists the fields), after
// every string field got a pass of its own.
std::string FormatRecordText(const Record& record, SessionView* session) {
  unsigned count = record.Count();
  std::u16string templ = record.fields[0].IsNull() ? DefaultFrame(count)
                                                   : WidenAcp(record.fields[0].AsText());
  FieldTexts fields;
  fields.present.assign(count + 1, false);
  fields.text.assign(count + 1, std::u16string());
  fields.present[0] = !templ.empty();
  fields.text[0] = templ;
  for (unsigned i = 1; i <= count; ++i) {
    const Field& field = record.fields[i];
    if (field.kind == Field::kString) {
      // A string field is formatted on its own first (record fields do not
      // resolve there); the stored result ends at its first NUL character.
      std::u16string value = Formatter(session, nullptr).Run(WidenAcp(field.text));
      std::size_t nul = value.find(u'\0');
      if (nul != std::u16string::npos) value.resize(nul);
      fields.present[i] = !value.empty();
      fields.text[i] = value;
    } else if (field.kind == Field::kInteger) {
      fields.present[i] = true;
      fields.text[i] = WidenAcp(field.AsText());
    }
  }
  return NarrowAcp(Formatter(session, &fields).Run(templ));
}

}  // namespace

std::string FormatRecord(const Record& record, SessionView* session) {
  try {
    return FormatRecordText(record, session);
  } catch (...) {
    return std::string();  // out of memory: nothing may escape into the API
  }
}

}  // namespace winsim
