// Conditional statements: the engine's condition syntax.
//
//   expression := term { (OR | XOR | EQV | IMP) term }     left to right, one level
//   term       := factor { AND factor }
//   factor     := NOT factor | ( expression ) | value [ comparison value ]
//   value      := property | %environment | $component | ?component | &feature |
//                 !feature | integer | "literal"
//
// A bare value is true when it is a non-zero integer or a non-empty text. Two
// integers compare as numbers, two texts as text (as numbers when one of them is
// a property or environment value and both hold only digits); a property holding
// an integer compares with an integer as a number; any other text against an
// integer is only unequal. The parser is iterative (operator and operand stacks),
// so deep nesting costs no native stack; like the engine's table-driven parser it
// gives up (error) once its stack would hold 10000 entries.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "winsim/msi/formatter.h"

namespace winsim {
namespace {

// ---- text helpers ------------------------------------------------------------

// Case folding. The engine's case-insensitive comparisons (~=, ~<, ~<<, ~>> ...)
// fold only the ASCII letters; its case-insensitive substring search (~><) lowers
// both texts fully. Full lowering covers the letters of the code pages in use:
// Latin-1 and Latin Extended-A, Greek, Cyrillic, full-width Latin.
char16_t LowerAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

char16_t Lower(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : static_cast<char16_t>(c + 32);
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';
    if (c == 0x178) return 0xFF;
    bool evenUpper = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (evenUpper && c % 2 == 0) return static_cast<char16_t>(c + 1);
    if (oddUpper && c % 2 == 1) return static_cast<char16_t>(c + 1);
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 32);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);
  return c;
}

int Compare(const std::u16string& a, const std::u16string& b, bool noCase) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    int x = noCase ? LowerAscii(a[i]) : a[i];
    int y = noCase ? LowerAscii(b[i]) : b[i];
    if (x != y) return x - y;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

enum class Fold { kNone, kAscii, kFull };

bool EqualRange(const std::u16string& a, std::size_t at, const std::u16string& b, Fold fold) {
  for (std::size_t i = 0; i < b.size(); ++i) {
    char16_t x = a[at + i], y = b[i];
    if (fold == Fold::kAscii) x = LowerAscii(x), y = LowerAscii(y);
    if (fold == Fold::kFull) x = Lower(x), y = Lower(y);
    if (x != y) return false;
  }
  return true;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool AllDigits(const std::u16string& s) {
  if (s.empty()) return false;
  for (char16_t c : s)
    if (!IsDigit(c)) return false;
  return true;
}

// The C library's strtol on a 32-bit long: optional sign, digits, clamped.
int ToLong(const std::u16string& s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  const long long limit = static_cast<long long>(INT_MAX) + 1;
  long long value = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) {
    value = value * 10 + (s[i] - u'0');
    if (value > limit) value = limit;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

// A property value that reads as an integer: optional "-" and digits only
// (wrapping like 32-bit arithmetic on overflow).
bool PropertyNumber(const std::u16string& s, int* value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && s[i] == u'-') negative = true, ++i;
  if (i == s.size()) return false;
  uint32_t v = 0;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return false;
    v = v * 10u + static_cast<uint32_t>(s[i] - u'0');
  }
  if (negative) v = 0u - v;
  *value = static_cast<int>(v);
  return true;
}

// ---- tokens ------------------------------------------------------------------

enum class Op {
  kNone,
  kEq, kNe, kLt, kGt, kLe, kGe, kSub, kPrefix, kSuffix,
  kIEq, kINe, kILt, kIGt, kILe, kIGe, kISub, kIPrefix, kISuffix,
};

enum class Tok {
  kEnd, kError,
  kOr, kAnd, kNot, kXor, kImp, kEqv,
  kLParen, kRParen,
  kPercent, kDollar, kQuestion, kAmper, kExclam,
  kCompare, kIdent, kNumber, kLiteral,
};

struct Token {
  Tok tok = Tok::kEnd;
  Op op = Op::kNone;
  std::u16string text;
};

bool IsAlpha(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
}
bool IsNumberChar(char16_t c) { return IsDigit(c) || c == u'-' || c == u'.'; }
bool IsIdentChar(char16_t c) { return IsAlpha(c) || IsNumberChar(c) || c == u'#'; }

bool KeywordIs(const std::u16string& word, const char* keyword) {
  std::size_t i = 0;
  for (; keyword[i]; ++i) {
    if (i >= word.size() || LowerAscii(word[i]) != LowerAscii(static_cast<char16_t>(keyword[i]))) return false;
  }
  return i == word.size();
}

// Splits the condition into tokens; false on a character that no token starts with.
bool Tokenize(const std::u16string& s, std::vector<Token>* tokens) {
  static const struct {
    const char* text;
    Op op;
  } kOperators[] = {
      {"~<=", Op::kILe}, {"~><", Op::kISub}, {"~>>", Op::kISuffix}, {"~<>", Op::kINe},
      {"~>=", Op::kIGe}, {"~<<", Op::kIPrefix}, {"~=", Op::kIEq},   {"~<", Op::kILt},
      {"~>", Op::kIGt},  {">=", Op::kGe},       {"><", Op::kSub},   {"<<", Op::kPrefix},
      {"<>", Op::kNe},   {"<=", Op::kLe},       {">>", Op::kSuffix}, {">", Op::kGt},
      {"<", Op::kLt},
  };
  std::size_t i = 0;
  while (i < s.size()) {
    char16_t c = s[i];
    Token t;
    switch (c) {
      case u'\0': i = s.size(); continue;
      case u' ': ++i; continue;
      case u'(': t.tok = Tok::kLParen; ++i; break;
      case u')': t.tok = Tok::kRParen; ++i; break;
      case u'&': t.tok = Tok::kAmper; ++i; break;
      case u'!': t.tok = Tok::kExclam; ++i; break;
      case u'$': t.tok = Tok::kDollar; ++i; break;
      case u'?': t.tok = Tok::kQuestion; ++i; break;
      case u'%': t.tok = Tok::kPercent; ++i; break;
      case u'=': t.tok = Tok::kCompare; t.op = Op::kEq; ++i; break;
      case u'~':
      case u'<':
      case u'>': {
        bool matched = false;
        for (const auto& entry : kOperators) {
          std::size_t len = 0;
          while (entry.text[len] && i + len < s.size() &&
                 s[i + len] == static_cast<char16_t>(entry.text[len]))
            ++len;
          if (entry.text[len] == '\0') {
            t.tok = Tok::kCompare;
            t.op = entry.op;
            i += len;
            matched = true;
            break;
          }
        }
        if (!matched) return false;
        break;
      }
      case u'"': {
        std::size_t close = s.find(u'"', i + 1);
        if (close == std::u16string::npos) return false;
        t.tok = Tok::kLiteral;
        t.text = s.substr(i + 1, close - i - 1);
        i = close + 1;
        break;
      }
      default: {
        std::size_t len = 1;
        if (IsAlpha(c)) {
          while (i + len < s.size() && IsIdentChar(s[i + len])) ++len;
          t.tok = Tok::kIdent;
          t.text = s.substr(i, len);
          if (KeywordIs(t.text, "NOT")) t.tok = Tok::kNot;
          else if (KeywordIs(t.text, "AND")) t.tok = Tok::kAnd;
          else if (KeywordIs(t.text, "XOR")) t.tok = Tok::kXor;
          else if (KeywordIs(t.text, "EQV")) t.tok = Tok::kEqv;
          else if (KeywordIs(t.text, "IMP")) t.tok = Tok::kImp;
          else if (KeywordIs(t.text, "OR")) t.tok = Tok::kOr;
        } else if (IsNumberChar(c)) {
          while (i + len < s.size() && IsNumberChar(s[i + len])) ++len;
          t.tok = Tok::kNumber;
          t.text = s.substr(i, len);
        } else {
          return false;
        }
        i += len;
        break;
      }
    }
    tokens->push_back(std::move(t));
  }
  tokens->push_back(Token{});
  return true;
}

// ---- values and comparisons ----------------------------------------------------

struct Value {
  enum Type { kInteger, kLiteral, kSymbol } type = kLiteral;
  int integer = 0;
  std::u16string text;  // empty also for a missing property or item
};

bool IsNoCase(Op op) { return op >= Op::kIEq; }

bool CompareIntegers(int a, Op op, int b) {
  switch (op) {
    case Op::kLt: case Op::kILt: return a < b;
    case Op::kGt: case Op::kIGt: return a > b;
    case Op::kEq: case Op::kIEq: return a == b;
    case Op::kNe: case Op::kINe: return a != b;
    case Op::kGe: case Op::kIGe: return a >= b;
    case Op::kLe: case Op::kILe: return a <= b;
    // Between integers, >< tests common bits, >> the low word and << the high word.
    case Op::kSub: case Op::kISub: return (a & b) != 0;
    case Op::kSuffix: return (a & 0xFFFF) == b;
    case Op::kPrefix: return ((a >> 16) & 0xFFFF) == b;
    default: return false;
  }
}

bool CompareSubstring(const std::u16string& a, Op op, const std::u16string& b) {
  if (a.empty()) return false;
  if (b.empty()) return true;
  if (AllDigits(a) && AllDigits(b)) return CompareIntegers(ToLong(a), op, ToLong(b));
  Fold fold = IsNoCase(op) ? Fold::kAscii : Fold::kNone;
  switch (op) {
    case Op::kSub:
    case Op::kISub:
      if (op == Op::kISub) fold = Fold::kFull;
      for (std::size_t at = 0; at + b.size() <= a.size(); ++at)
        if (EqualRange(a, at, b, fold)) return true;
      return false;
    case Op::kPrefix:
    case Op::kIPrefix:
      return b.size() <= a.size() && EqualRange(a, 0, b, fold);
    case Op::kSuffix:
    case Op::kISuffix:
      return b.size() <= a.size() && EqualRange(a, a.size() - b.size(), b, fold);
    default:
      return false;
  }
}

bool CompareTexts(const std::u16string& a, Op op, const std::u16string& b, bool numeric) {
  if (op == Op::kSub || op == Op::kISub || op == Op::kPrefix || op == Op::kIPrefix ||
      op == Op::kSuffix || op == Op::kISuffix)
    return CompareSubstring(a, op, b);
  if (numeric && AllDigits(a) && AllDigits(b)) return CompareIntegers(ToLong(a), op, ToLong(b));
  int c = Compare(a, b, IsNoCase(op));
  switch (op) {
    case Op::kLt: case Op::kILt: return c < 0;
    case Op::kGt: case Op::kIGt: return c > 0;
    case Op::kEq: case Op::kIEq: return c == 0;
    case Op::kNe: case Op::kINe: return c != 0;
    case Op::kGe: case Op::kIGe: return c >= 0;
    case Op::kLe: case Op::kILe: return c <= 0;
    default: return false;
  }
}

bool Truth(const Value& v) { return v.type == Value::kInteger ? v.integer != 0 : !v.text.empty(); }

bool Comparison(const Value& a, Op op, const Value& b) {
  bool unequal = op == Op::kNe || op == Op::kINe;
  if (a.type == Value::kInteger && b.type == Value::kInteger)
    return CompareIntegers(a.integer, op, b.integer);
  if (a.type != Value::kInteger && b.type != Value::kInteger)
    return CompareTexts(a.text, op, b.text, a.type == Value::kSymbol || b.type == Value::kSymbol);
  if (a.type == Value::kLiteral || b.type == Value::kLiteral) return unequal;
  int number = 0;
  if (a.type == Value::kSymbol)
    return PropertyNumber(a.text, &number) ? CompareIntegers(number, op, b.integer) : unequal;
  return PropertyNumber(b.text, &number) ? CompareIntegers(a.integer, op, number) : unequal;
}

// ---- the parser --------------------------------------------------------------

class Evaluator {
 public:
  Evaluator(SessionView& session, std::vector<Token> tokens)
      : session_(session), tokens_(std::move(tokens)) {}

  MSICONDITION Run() {
    if (tokens_.front().tok == Tok::kEnd) return MSICONDITION_NONE;
    bool expectOperand = true;
    for (;;) {
      const Token& t = tokens_[at_];
      if (expectOperand) {
        if (t.tok == Tok::kNot || t.tok == Tok::kLParen) {
          PushOp(t.tok);
          if (!Fits(0)) return MSICONDITION_ERROR;
          ++at_;
          continue;
        }
        std::optional<bool> factor = Factor();
        if (!factor) return MSICONDITION_ERROR;
        operands_.push_back(*factor);
        ApplyNots();
        expectOperand = false;
        continue;
      }
      switch (t.tok) {
        case Tok::kAnd:
          ReduceWhile(2);
          PushOp(t.tok);
          if (!Fits(0)) return MSICONDITION_ERROR;
          expectOperand = true;
          break;
        case Tok::kOr:
        case Tok::kXor:
        case Tok::kEqv:
        case Tok::kImp:
          ReduceWhile(1);
          PushOp(t.tok);
          if (!Fits(0)) return MSICONDITION_ERROR;
          expectOperand = true;
          break;
        case Tok::kRParen:
          ReduceWhile(1);
          if (ops_.empty() || ops_.back() != Tok::kLParen) return MSICONDITION_ERROR;
          if (!Fits(2)) return MSICONDITION_ERROR;  // ( expression )
          PopOp();
          ApplyNots();
          break;
        case Tok::kEnd:
          ReduceWhile(1);
          if (!ops_.empty() || operands_.size() != 1) return MSICONDITION_ERROR;
          return operands_.back() ? MSICONDITION_TRUE : MSICONDITION_FALSE;
        default:
          return MSICONDITION_ERROR;
      }
      ++at_;
    }
  }

 private:
  // Entries of the engine's parser stack: its start state, one per pending "("
  // or NOT, two per pending binary operator (its left side and itself).
  static constexpr std::size_t kStackLimit = 10000;
  static std::size_t Weight(Tok op) { return Precedence(op) > 0 ? 2 : 1; }
  void PushOp(Tok op) {
    ops_.push_back(op);
    depth_ += Weight(op);
  }
  void PopOp() {
    depth_ -= Weight(ops_.back());
    ops_.pop_back();
  }
  // Whether `extra` more entries on top of the pending ones still fit.
  bool Fits(std::size_t extra) const { return depth_ + extra < kStackLimit; }

  static int Precedence(Tok op) {
    if (op == Tok::kAnd) return 2;
    if (op == Tok::kOr || op == Tok::kXor || op == Tok::kEqv || op == Tok::kImp) return 1;
    return 0;  // "(" and NOT are never reduced here
  }

  // Reduces the binary operators on top whose precedence is at least minimum.
  void ReduceWhile(int minimum) {
    while (!ops_.empty() && Precedence(ops_.back()) >= minimum && Precedence(ops_.back()) > 0) {
      Tok op = ops_.back();
      PopOp();
      bool b = operands_.back();
      operands_.pop_back();
      bool a = operands_.back();
      switch (op) {
        case Tok::kAnd: a = a && b; break;
        case Tok::kOr: a = a || b; break;
        case Tok::kXor: a = a != b; break;
        case Tok::kEqv: a = a == b; break;
        case Tok::kImp: a = !a || b; break;
        default: break;
      }
      operands_.back() = a;
    }
  }

  void ApplyNots() {
    while (!ops_.empty() && ops_.back() == Tok::kNot) {
      PopOp();
      operands_.back() = !operands_.back();
    }
  }

  // value [comparison value]
  std::optional<bool> Factor() {
    std::optional<Value> left = ReadValue(0);
    if (!left) return std::nullopt;
    if (tokens_[at_].tok != Tok::kCompare) return Truth(*left);
    Op op = tokens_[at_].op;
    ++at_;
    if (!Fits(2)) return std::nullopt;  // value operator
    std::optional<Value> right = ReadValue(2);
    if (!right) return std::nullopt;
    return Comparison(*left, op, *right);
  }

  // Reads one value; `below` entries of the current factor are already stacked.
  std::optional<Value> ReadValue(std::size_t below) {
    const Token& t = tokens_[at_];
    Value v;
    // A prefixed value ($, ?, &, !, %) stacks its two tokens before they reduce.
    bool prefixed = t.tok == Tok::kPercent || t.tok == Tok::kDollar ||
                    t.tok == Tok::kQuestion || t.tok == Tok::kAmper || t.tok == Tok::kExclam;
    if (!Fits(below + (prefixed ? 2 : 1))) return std::nullopt;
    switch (t.tok) {
      case Tok::kIdent:
        ++at_;
        v.type = Value::kSymbol;
        v.text = WidenAcp(session_.Property(NarrowAcp(t.text)));
        return v;
      case Tok::kLiteral:
        ++at_;
        v.text = t.text;
        return v;
      case Tok::kNumber:
        ++at_;
        v.type = Value::kInteger;
        v.integer = ToLong(t.text);
        return v;
      case Tok::kPercent:
      case Tok::kDollar:
      case Tok::kQuestion:
      case Tok::kAmper:
      case Tok::kExclam:
        break;
      default:
        return std::nullopt;
    }
    const Token& name = tokens_[at_ + 1];
    if (name.tok != Tok::kIdent) return std::nullopt;
    at_ += 2;
    std::string key = NarrowAcp(name.text);
    if (t.tok == Tok::kPercent) {
      v.type = Value::kSymbol;
      DWORD size = GetEnvironmentVariableA(key.c_str(), nullptr, 0);
      if (size > 0) {
        std::string value(size + 1, '\0');
        DWORD got = GetEnvironmentVariableA(key.c_str(), value.data(), size + 1);
        value.resize(got <= size ? got : 0);
        v.text = WidenAcp(value);
      }
      return v;
    }
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
    bool known = (t.tok == Tok::kDollar || t.tok == Tok::kQuestion)
                     ? session_.ComponentState(key, &installed, &action)
                     : session_.FeatureState(key, &installed, &action);
    if (!known) return v;  // an unknown item is an empty text
    v.type = Value::kInteger;
    v.integer = (t.tok == Tok::kDollar || t.tok == Tok::kAmper) ? action : installed;
    return v;
  }

  SessionView& session_;
  std::vector<Token> tokens_;
  std::size_t at_ = 0;
  std::size_t depth_ = 1;
  std::vector<Tok> ops_;
  std::vector<bool> operands_;
};

}  // namespace

MSICONDITION EvaluateCondition(const char* condition, SessionView& session) {
  if (!condition) return MSICONDITION_NONE;
  try {
    std::vector<Token> tokens;
    if (!Tokenize(WidenAcp(condition), &tokens)) return MSICONDITION_ERROR;
    return Evaluator(session, std::move(tokens)).Run();
  } catch (...) {
    return MSICONDITION_ERROR;  // out of memory: nothing may escape into the API
  }
}

}  // namespace winsim
