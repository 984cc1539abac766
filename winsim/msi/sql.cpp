#include "winsim/msi/sql.h"

#include <cctype>
#include <climits>
#include <cstring>

#include "winsim/core/codepage.h"

namespace winsim::sql {
namespace {

struct Token {
  enum Kind { kEnd, kWord, kName, kString, kNumber, kSymbol };
  Kind kind = kEnd;
  std::string text;  // word or name (quotes removed), literal body, digits, symbol
};

bool IsWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

// Splits the text into tokens. The text is in the ANSI code page: a double-byte
// character is taken whole, so that a trail byte never ends a name or literal.
class Lexer {
 public:
  explicit Lexer(const std::string& text) : text_(text), codePage_(AnsiCodePage()) {}

  bool Run(std::vector<Token>* tokens) {
    while (pos_ < text_.size()) {
      unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == ' ' || c == '\t' || c == '\n') {
        ++pos_;
        continue;
      }
      Token token;
      if (c == '`' || c == '\'') {
        token.kind = c == '`' ? Token::kName : Token::kString;
        if (!Quoted(static_cast<char>(c), &token.text)) return false;
        if (token.kind == Token::kName && token.text.empty()) return false;
      } else if (IsWordByte(c)) {
        std::size_t start = pos_;
        while (pos_ < text_.size() && IsWordByte(static_cast<unsigned char>(text_[pos_]))) Step();
        token.text = text_.substr(start, pos_ - start);
        bool digits = true;
        for (char d : token.text) digits = digits && std::isdigit(static_cast<unsigned char>(d));
        token.kind = digits ? Token::kNumber : Token::kWord;
      } else {
        token.kind = Token::kSymbol;
        std::string two = text_.substr(pos_, 2);
        if (two == "<>" || two == "<=" || two == ">=") {
          token.text = two;
          pos_ += 2;
        } else if (std::strchr("*(),.=<>?-", c) != nullptr) {
          token.text = std::string(1, static_cast<char>(c));
          ++pos_;
        } else {
          return false;  // double quotes, carriage returns, semicolons, ...
        }
      }
      tokens->push_back(std::move(token));
    }
    tokens->push_back(Token{});
    return true;
  }

 private:
  void Step() {
    unsigned char c = static_cast<unsigned char>(text_[pos_]);
    pos_ += (IsLeadByteIn(codePage_, c) && pos_ + 1 < text_.size()) ? 2 : 1;
  }

  bool Quoted(char quote, std::string* body) {
    std::size_t start = ++pos_;
    while (pos_ < text_.size() && text_[pos_] != quote) Step();
    if (pos_ >= text_.size()) return false;  // unterminated
    *body = text_.substr(start, pos_ - start);
    ++pos_;
    return true;
  }

  const std::string& text_;
  UINT codePage_;
  std::size_t pos_ = 0;
};

const char* const kKeywords[] = {
    "ADD",       "ALTER",  "AND",    "BY",          "CHAR",   "CHARACTER", "CREATE", "DELETE",
    "DISTINCT",  "DROP",   "FREE",   "FROM",        "HOLD",   "INSERT",    "INT",    "INTEGER",
    "INTO",      "IS",     "KEY",    "LOCALIZABLE", "LONG",   "LONGCHAR",  "NOT",    "NULL",
    "OBJECT",    "OR",     "ORDER",  "PRIMARY",     "SELECT", "SET",       "SHORT",  "TABLE",
    "TEMPORARY", "UPDATE", "VALUES", "WHERE"};

bool IsKeyword(const std::string& word) {
  for (const char* keyword : kKeywords) {
    if (word.size() != std::strlen(keyword)) continue;
    bool same = true;
    for (std::size_t i = 0; i < word.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(word[i])) == keyword[i];
    if (same) return true;
  }
  return false;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  bool Statement(sql::Statement* s) {
    if (Keyword("SELECT")) {
      s->kind = Statement::kSelect;
      if (!Select(s)) return false;
    } else if (Keyword("INSERT")) {
      s->kind = Statement::kInsert;
      if (!Insert(s)) return false;
    } else if (Keyword("UPDATE")) {
      s->kind = Statement::kUpdate;
      if (!Update(s)) return false;
    } else if (Keyword("DELETE")) {
      s->kind = Statement::kDelete;
      if (!Delete(s)) return false;
    } else if (Keyword("CREATE")) {
      s->kind = Statement::kCreate;
      if (!Create(s)) return false;
    } else if (Keyword("DROP")) {
      s->kind = Statement::kDrop;
      std::string name;
      if (!Keyword("TABLE") || !Name(&name)) return false;
      s->tables.push_back(name);
    } else {
      return false;
    }
    s->paramCount = params_;
    return Peek().kind == Token::kEnd;
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  void Next() {
    if (tokens_[pos_].kind != Token::kEnd) ++pos_;
  }

  bool IsKeywordToken(const char* keyword) const {
    const Token& t = Peek();
    if (t.kind != Token::kWord || t.text.size() != std::strlen(keyword)) return false;
    for (std::size_t i = 0; i < t.text.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(t.text[i])) != keyword[i]) return false;
    return true;
  }
  bool Keyword(const char* keyword) {
    if (!IsKeywordToken(keyword)) return false;
    Next();
    return true;
  }
  bool Symbol(const char* symbol) {
    if (Peek().kind != Token::kSymbol || Peek().text != symbol) return false;
    Next();
    return true;
  }

  // A table or column name: back-quoted, or a bare word that is not a keyword.
  bool Name(std::string* name) {
    const Token& t = Peek();
    if (t.kind == Token::kName || (t.kind == Token::kWord && !IsKeyword(t.text))) {
      *name = t.text;
      Next();
      return true;
    }
    return false;
  }

  bool ColumnRef(Operand* op) {
    std::string first;
    if (!Name(&first)) return false;
    op->kind = Operand::kColumn;
    if (Symbol(".")) {
      op->table = first;
      return Name(&op->text);
    }
    op->text = first;
    return true;
  }

  bool Number(int sign, Operand* op) {
    if (Peek().kind != Token::kNumber) return false;
    long long value = 0;
    for (char d : Peek().text) {
      value = value * 10 + (d - '0');
      if (value > 2147483648LL) return false;
    }
    value *= sign;
    if (value > INT_MAX || value < INT_MIN) return false;
    op->kind = Operand::kInteger;
    op->integer = static_cast<int>(value);
    Next();
    return true;
  }

  // A literal, a parameter marker or NULL (values of INSERT and UPDATE).
  bool Value(Operand* op) {
    const Token& t = Peek();
    if (t.kind == Token::kString) {
      op->kind = Operand::kString;
      op->text = t.text;
      Next();
      return true;
    }
    if (Symbol("?")) {
      op->kind = Operand::kParam;
      op->param = ++params_;
      return true;
    }
    if (Symbol("-")) return Number(-1, op);
    if (Keyword("NULL")) {
      op->kind = Operand::kNull;
      return true;
    }
    return Number(1, op);
  }

  bool Select(sql::Statement* s) {
    s->distinct = Keyword("DISTINCT");
    if (Symbol("*")) {
      s->star = true;
    } else {
      do {
        Operand op;
        if (!ColumnRef(&op)) return false;
        s->columns.push_back(op);
      } while (Symbol(","));
    }
    if (!Keyword("FROM")) return false;
    do {
      std::string table;
      if (!Name(&table)) return false;
      s->tables.push_back(table);
    } while (Symbol(","));
    if (Keyword("WHERE") && !(s->where = Or())) return false;
    if (Keyword("ORDER")) {
      if (!Keyword("BY")) return false;
      do {
        Operand op;
        if (!ColumnRef(&op)) return false;
        s->orderBy.push_back(op);
      } while (Symbol(","));
    }
    return true;
  }

  bool Insert(sql::Statement* s) {
    std::string table;
    if (!Keyword("INTO") || !Name(&table) || !Symbol("(")) return false;
    s->tables.push_back(table);
    do {
      Operand op;
      if (!ColumnRef(&op)) return false;
      s->columns.push_back(op);
    } while (Symbol(","));
    if (!Symbol(")") || !Keyword("VALUES") || !Symbol("(")) return false;
    do {
      Operand op;
      if (!Value(&op)) return false;
      s->values.push_back(op);
    } while (Symbol(","));
    if (!Symbol(")")) return false;
    s->temporary = Keyword("TEMPORARY");
    return s->values.size() == s->columns.size();
  }

  bool Update(sql::Statement* s) {
    std::string table;
    if (!Name(&table) || !Keyword("SET")) return false;
    s->tables.push_back(table);
    do {
      Operand column, value;
      if (!ColumnRef(&column) || !Symbol("=") || !Value(&value)) return false;
      s->columns.push_back(column);
      s->values.push_back(value);
    } while (Symbol(","));
    if (Keyword("WHERE") && !(s->where = Or())) return false;
    return true;
  }

  bool Delete(sql::Statement* s) {
    std::string table;
    if (!Keyword("FROM") || !Name(&table)) return false;
    s->tables.push_back(table);
    if (Keyword("WHERE") && !(s->where = Or())) return false;
    return true;
  }

  bool ColumnType(Column* column) {
    if (Keyword("CHAR") || Keyword("CHARACTER")) {
      column->kind = Column::kString;
      if (Symbol("(")) {
        Operand width;
        if (!Number(1, &width) || width.integer > 255 || !Symbol(")")) return false;
        column->width = width.integer;
      }
    } else if (Keyword("LONGCHAR")) {
      column->kind = Column::kString;
    } else if (Keyword("SHORT") || Keyword("INT") || Keyword("INTEGER")) {
      column->kind = Column::kShort;
    } else if (Keyword("LONG")) {
      column->kind = Column::kLong;
    } else if (Keyword("OBJECT")) {
      column->kind = Column::kObject;
    } else {
      return false;
    }
    for (;;) {
      if (Keyword("NOT")) {
        if (!Keyword("NULL")) return false;
        column->nullable = false;
      } else if (Keyword("TEMPORARY")) {
        column->temporary = true;
      } else if (Keyword("LOCALIZABLE")) {
        column->localizable = true;
      } else {
        return true;
      }
    }
  }

  bool Create(sql::Statement* s) {
    std::string table;
    if (!Keyword("TABLE") || !Name(&table) || !Symbol("(")) return false;
    s->tables.push_back(table);
    for (;;) {
      Column column;
      if (!Name(&column.name) || !ColumnType(&column)) return false;
      s->definitions.push_back(column);
      if (Symbol(",")) continue;
      if (Keyword("PRIMARY")) break;
      return false;
    }
    if (!Keyword("KEY")) return false;
    do {
      std::string key;
      if (!Name(&key)) return false;
      s->keys.push_back(key);
    } while (Symbol(","));
    if (!Symbol(")")) return false;
    s->hold = Keyword("HOLD");
    return true;
  }

  // cond := and (OR and)* ; and := primary (AND primary)*
  std::unique_ptr<Condition> Or() {
    std::unique_ptr<Condition> left = And();
    while (left && Keyword("OR")) {
      auto node = std::make_unique<Condition>();
      node->op = Condition::kOr;
      node->left = std::move(left);
      node->right = And();
      if (!node->right) return nullptr;
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Condition> And() {
    std::unique_ptr<Condition> left = Primary();
    while (left && Keyword("AND")) {
      auto node = std::make_unique<Condition>();
      node->op = Condition::kAnd;
      node->left = std::move(left);
      node->right = Primary();
      if (!node->right) return nullptr;
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Condition> Primary() {
    if (Symbol("(")) {
      std::unique_ptr<Condition> inner = Or();
      if (!inner || !Symbol(")")) return nullptr;
      return inner;
    }
    auto node = std::make_unique<Condition>();
    if (!ColumnRef(&node->lhs)) return nullptr;
    if (Keyword("IS")) {
      node->op = Keyword("NOT") ? Condition::kIsNotNull : Condition::kIsNull;
      return Keyword("NULL") ? std::move(node) : nullptr;
    }
    static const struct {
      const char* symbol;
      Condition::Op op;
    } kOps[] = {{"=", Condition::kEq},  {"<>", Condition::kNe}, {"<=", Condition::kLe},
                {">=", Condition::kGe}, {"<", Condition::kLt},  {">", Condition::kGt}};
    bool found = false;
    for (const auto& entry : kOps) {
      if (Symbol(entry.symbol)) {
        node->op = entry.op;
        found = true;
        break;
      }
    }
    if (!found) return nullptr;
    const Token& t = Peek();
    if (t.kind == Token::kName || t.kind == Token::kWord) {
      if (!ColumnRef(&node->rhs)) return nullptr;
    } else if (!Value(&node->rhs) || node->rhs.kind == Operand::kNull) {
      return nullptr;
    }
    return node;
  }

  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  int params_ = 0;
};

}  // namespace

UINT Parse(const std::string& text, Statement* statement) {
  std::vector<Token> tokens;
  if (!Lexer(text).Run(&tokens)) return ERROR_BAD_QUERY_SYNTAX;
  Parser parser(std::move(tokens));
  return parser.Statement(statement) ? ERROR_SUCCESS : ERROR_BAD_QUERY_SYNTAX;
}

}  // namespace winsim::sql
