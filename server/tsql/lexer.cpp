// The T-SQL lexer. Double-quoted text is a string literal here (quoted_identifier is off), and
// "*=" / "=*" are single tokens, the old outer-join operators: `a *= b` differs from `a * = b`.
#include "server/tsql/lexer.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "server/core/message.h"

namespace tabsrv::tsql {

namespace {

// SqlError carries a 16-bit line; a longer batch reports its last representable line.
uint16_t line16(int line) {
  return static_cast<uint16_t>(line > 65535 ? 65535 : line);
}

bool isLetter(unsigned char c) {
  return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool isDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
bool isHex(unsigned char c) {
  return std::isxdigit(c) != 0;
}
// Characters allowed after the first one of an identifier.
bool isIdentChar(unsigned char c) {
  return isLetter(c) || isDigit(c) || c == '#' || c == '@' || c == '$';
}

class Lexer {
 public:
  Lexer(std::string_view sql, bool quotedIdentifiers) : s_(sql), quotedIdentifiers_(quotedIdentifiers) {}

  std::vector<Token> run() {
    std::vector<Token> out;
    // Enough for one token per three characters (a batch of INSERT ... VALUES rows has about one
    // per 3.6): one allocation instead of a doubling series, whose moves of every token cost
    // a twentieth of a long batch's time.
    out.reserve(s_.size() / 3 + 4);
    for (;;) {
      skipBlanksAndComments();
      Token t;
      t.begin = pos_;
      t.line = line_;
      if (pos_ >= s_.size()) {
        t.type = TokenType::End;
        t.end = pos_;
        out.push_back(std::move(t));
        return out;
      }
      lexOne(t);
      t.end = pos_;
      out.push_back(std::move(t));
    }
  }

 private:
  unsigned char at(size_t i) const { return i < s_.size() ? static_cast<unsigned char>(s_[i]) : 0; }

  void advance(size_t n = 1) {
    for (size_t i = 0; i < n && pos_ < s_.size(); ++i, ++pos_) {
      if (s_[pos_] == '\n') ++line_;
    }
  }

  void skipBlanksAndComments() {
    for (;;) {
      unsigned char c = at(pos_);
      if (pos_ < s_.size() && std::isspace(c)) {
        advance();
      } else if (c == '-' && at(pos_ + 1) == '-') {
        while (pos_ < s_.size() && s_[pos_] != '\n') advance();
      } else if (c == '/' && at(pos_ + 1) == '*') {
        skipBlockComment();
      } else {
        return;
      }
    }
  }

  // Block comments nest: /* a /* b */ still a comment */.
  void skipBlockComment() {
    int startLine = line_;
    int depth = 0;
    while (pos_ < s_.size()) {
      if (at(pos_) == '/' && at(pos_ + 1) == '*') {
        ++depth;
        advance(2);
      } else if (at(pos_) == '*' && at(pos_ + 1) == '/') {
        advance(2);
        if (--depth == 0) return;
      } else {
        advance();
      }
    }
    throw SqlError(113, 15, "Missing end comment mark '*/'.", 1, line16(startLine));
  }

  void lexOne(Token& t) {
    unsigned char c = at(pos_);
    if (c == '"' && quotedIdentifiers_) {
      // set quoted_identifier on: "any text" is a name, as [any text] is.
      lexString(t, '"');
      t.type = TokenType::Bracketed;
      return;
    }
    if (c == '\'' || c == '"') return lexString(t, static_cast<char>(c));
    if (c == '[') return lexBracketed(t);
    if (c == '0' && (at(pos_ + 1) == 'x' || at(pos_ + 1) == 'X')) return lexBinary(t);
    if (isDigit(c) || (c == '.' && isDigit(at(pos_ + 1)))) return lexNumber(t);
    if (c == '$') {
      // $12.50, and $-12.50 for a negative amount (the sign written after the currency symbol).
      const bool negative = at(pos_ + 1) == '-';
      const size_t digits = pos_ + (negative ? 2 : 1);
      if (isDigit(at(digits)) || (at(digits) == '.' && isDigit(at(digits + 1)))) {
        advance(digits - pos_);
        lexNumber(t);
        t.type = TokenType::Money;
        if (negative) t.text = "-" + t.text;
        return;
      }
    }
    if (c == '@') {
      bool global = at(pos_ + 1) == '@';
      size_t start = pos_;
      advance(global ? 2 : 1);
      while (isIdentChar(at(pos_))) advance();
      t.type = global ? TokenType::Global : TokenType::Variable;
      t.text = std::string(s_.substr(start, pos_ - start));
      return;
    }
    if (isLetter(c) || c == '#') {
      size_t start = pos_;
      advance();
      while (isIdentChar(at(pos_))) advance();
      t.type = TokenType::Word;
      t.text = std::string(s_.substr(start, pos_ - start));
      return;
    }
    lexSymbol(t);
  }

  // 'it''s' and "say ""hi""": the quote character doubles inside.
  void lexString(Token& t, char quote) {
    size_t open = pos_;
    advance();
    std::string value;
    while (pos_ < s_.size()) {
      char ch = s_[pos_];
      if (ch == quote) {
        if (at(pos_ + 1) == static_cast<unsigned char>(quote)) {
          value += quote;
          advance(2);
          continue;
        }
        advance();
        t.type = TokenType::String;
        t.text = std::move(value);
        return;
      }
      value += ch;
      advance();
    }
    throw SqlError(105, 15,
                   "Unclosed quote before the character string '" + std::string(s_.substr(open + 1)) + "'.",
                   1, line16(t.line));
  }

  // [order details]: any text up to ']', where ']]' stands for one ']'.
  void lexBracketed(Token& t) {
    size_t open = pos_;
    advance();
    std::string value;
    while (pos_ < s_.size()) {
      if (s_[pos_] == ']') {
        if (at(pos_ + 1) == ']') {
          value += ']';
          advance(2);
          continue;
        }
        advance();
        t.type = TokenType::Bracketed;
        t.text = std::move(value);
        return;
      }
      value += s_[pos_];
      advance();
    }
    throw SqlError(102, 15, "Incorrect syntax near '" + std::string(s_.substr(open)) + "'.", 1,
                   line16(t.line));
  }

  void lexBinary(Token& t) {
    advance(2);
    size_t start = pos_;
    while (isHex(at(pos_))) advance();
    t.type = TokenType::Binary;
    t.text = std::string(s_.substr(start, pos_ - start));
  }

  // 12, 12.5, .5, 5., 1e5, 1.5E-3. An 'e' without digits after it is not part of the number.
  void lexNumber(Token& t) {
    size_t start = pos_;
    t.type = TokenType::Integer;
    while (isDigit(at(pos_))) advance();
    if (at(pos_) == '.') {
      t.type = TokenType::Decimal;
      advance();
      while (isDigit(at(pos_))) advance();
    }
    if (at(pos_) == 'e' || at(pos_) == 'E') {
      size_t digits = pos_ + 1;
      if (at(digits) == '+' || at(digits) == '-') ++digits;
      if (isDigit(at(digits))) {
        t.type = TokenType::Float;
        advance(digits - pos_);
        while (isDigit(at(pos_))) advance();
      }
    }
    t.text = std::string(s_.substr(start, pos_ - start));
  }

  void lexSymbol(Token& t) {
    static const char* const kTwo[] = {"<>", "!=", "<=", ">=", "!<", "!>", "*=", "=*"};
    t.type = TokenType::Symbol;
    for (const char* two : kTwo) {
      if (at(pos_) == static_cast<unsigned char>(two[0]) &&
          at(pos_ + 1) == static_cast<unsigned char>(two[1])) {
        t.text = two;
        advance(2);
        return;
      }
    }
    static const std::string_view kOne = "(),.;:=<>+-*/%&|^~?";
    char c = s_[pos_];
    if (kOne.find(c) == std::string_view::npos) {
      // A byte that cannot start any token; the whole UTF-8 sequence is shown.
      size_t len = 1;
      while (pos_ + len < s_.size() && (static_cast<unsigned char>(s_[pos_ + len]) & 0xC0) == 0x80) ++len;
      throw SqlError(102, 15, "Incorrect syntax near '" + std::string(s_.substr(pos_, len)) + "'.", 1,
                     line16(t.line));
    }
    t.text = std::string(1, c);
    advance();
  }

  std::string_view s_;
  bool quotedIdentifiers_ = false;
  size_t pos_ = 0;
  int line_ = 1;
};

// Words that end a name or an alias and that the family reports as keywords. Words only
// meaningful after SET (rowcount, nocount ...) and function names (left, right) are not here.
constexpr std::string_view kReserved[] = {
    "add",        "all",       "alter",     "and",         "any",          "as",         "asc",
    "begin",      "between",   "break",     "browse",      "by",           "case",       "check",
    "checkpoint", "close",     "clustered", "commit",      "compute",      "constraint", "continue",
    "convert",    "create",    "cursor",    "database",    "deallocate",   "declare",    "default",
    "delete",     "desc",      "distinct",  "drop",        "dump",         "else",       "end",
    "escape",     "exec",      "execute",   "exists",      "fetch",        "for",        "foreign",
    "from",       "goto",      "grant",     "group",       "having",       "holdlock",   "identity",
    "if",         "in",        "index",     "insert",      "into",         "is",         "join",
    "kill",       "like",      "load",      "noholdlock",  "nonclustered", "not",        "null",
    "of",         "on",        "open",      "or",          "order",        "primary",    "print",
    "proc",       "procedure", "raiserror", "readtext",    "references",   "return",     "revoke",
    "rollback",   "rule",      "save",      "select",      "set",          "shutdown",   "table",
    "then",       "to",        "tran",      "transaction", "trigger",      "truncate",   "union",
    "unique",     "update",    "use",       "values",      "view",         "waitfor",    "when",
    "where",      "while",     "with",      "writetext",   "inner"};

}  // namespace

bool isReservedWord(std::string_view lowerWord) {
  return std::find(std::begin(kReserved), std::end(kReserved), lowerWord) != std::end(kReserved);
}

bool Token::isWord(std::string_view lowerWord) const {
  if (type != TokenType::Word || text.size() != lowerWord.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != lowerWord[i]) return false;
  }
  return true;
}

std::vector<Token> tokenize(std::string_view sql, bool quotedIdentifiers) {
  return Lexer(sql, quotedIdentifiers).run();
}

}  // namespace tabsrv::tsql
