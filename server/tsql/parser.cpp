// parseBatch and the parser's common parts: the token cursor, reserved words, the family's
// syntax errors (102 near a token, 156 near a keyword), object names and datatypes.
#include "server/tsql/parser.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <utility>

#include "server/tsql/parser_impl.h"

namespace tabsrv::tsql {

namespace {

// SqlError carries a 16-bit line; a longer batch reports its last representable line.
uint16_t lineOf(const Token& t) {
  return static_cast<uint16_t>(std::min(t.line, 65535));
}

}  // namespace

std::string lowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

Parser::Parser(std::string_view sql, ParseOptions options)
    : sql_(sql), tokens_(tokenize(sql, options.quotedIdentifiers)), options_(options) {}

Parser::Parser(std::string_view sql, ParseOptions options, std::vector<Token> tokens)
    : sql_(sql), tokens_(std::move(tokens)), options_(options) {}

const Token& Parser::peek(size_t ahead) const {
  size_t i = std::min(pos_ + ahead, tokens_.size() - 1);
  return tokens_[i];
}

const Token& Parser::next() {
  const Token& t = tokens_[pos_];
  if (pos_ + 1 < tokens_.size()) ++pos_;
  if (t.type != TokenType::End) lastEnd_ = t.end;
  return t;
}

bool Parser::acceptWord(std::string_view lowerWord) {
  if (!peekWord(lowerWord)) return false;
  next();
  return true;
}

bool Parser::acceptSymbol(std::string_view sym) {
  if (!peekSymbol(sym)) return false;
  next();
  return true;
}

void Parser::expectWord(std::string_view lowerWord) {
  if (!acceptWord(lowerWord)) syntaxError();
}

void Parser::expectSymbol(std::string_view sym) {
  if (!acceptSymbol(sym)) syntaxError();
}

bool Parser::isName(const Token& t) const {
  if (t.type == TokenType::Bracketed) return true;
  return t.type == TokenType::Word && !isReservedWord(lowerCase(t.text));
}

std::string Parser::expectName() {
  if (!isName(peek())) syntaxError();
  return next().text;
}

void Parser::syntaxError() const {
  // At the end of the batch the family points at the last token it read: "select * from"
  // fails near the keyword 'from'.
  const Token* t = &peek();
  if (t->type == TokenType::End && pos_ > 0) t = &tokens_[pos_ - 1];
  if (t->type == TokenType::End) {
    throw SqlError(102, 15, "Incorrect syntax near ''.", 1, lineOf(*t));
  }
  std::string shown =
      t->type == TokenType::String ? t->text : std::string(sql_.substr(t->begin, t->end - t->begin));
  if (t->type == TokenType::Word && isReservedWord(lowerCase(t->text))) {
    throw SqlError(156, 15, "Incorrect syntax near the keyword '" + shown + "'.", 1, lineOf(*t));
  }
  throw SqlError(102, 15, "Incorrect syntax near '" + shown + "'.", 1, lineOf(*t));
}

// t, owner.t, db.owner.t, db..t; an empty part is allowed only for the owner.
ObjectName Parser::parseObjectName() {
  std::vector<std::string> parts;
  parts.push_back(expectName());
  while (peekSymbol(".") && parts.size() < 3) {
    next();
    if (peekSymbol(".") && parts.size() == 1) {
      parts.emplace_back();  // db..t
      continue;
    }
    parts.push_back(expectName());
  }
  ObjectName n;
  n.name = parts.back();
  if (parts.size() >= 2) n.owner = parts[parts.size() - 2];
  if (parts.size() == 3) n.database = parts[0];
  if (parts.size() == 2 && n.owner.empty()) syntaxError();
  return n;
}

std::vector<std::string> Parser::parseNameList() {
  expectSymbol("(");
  std::vector<std::string> names;
  do {
    names.push_back(expectName());
  } while (acceptSymbol(","));
  expectSymbol(")");
  return names;
}

int32_t Parser::parseIntegerArg() {
  if (peek().type != TokenType::Integer || peek().text.size() > 9) syntaxError();
  return std::stoi(next().text);
}

TypeName Parser::parseTypeName() {
  struct Builtin {
    std::string_view word;
    std::string_view name;
    SqlType type;
  };
  static constexpr Builtin kBuiltins[] = {
      {"char", "char", SqlType::Char},
      {"character", "char", SqlType::Char},
      {"nchar", "char", SqlType::Char},
      {"varchar", "varchar", SqlType::VarChar},
      {"nvarchar", "varchar", SqlType::VarChar},
      {"binary", "binary", SqlType::Binary},
      {"varbinary", "varbinary", SqlType::VarBinary},
      {"text", "text", SqlType::Text},
      {"image", "image", SqlType::Image},
      {"tinyint", "tinyint", SqlType::TinyInt},
      {"smallint", "smallint", SqlType::SmallInt},
      {"int", "int", SqlType::Int},
      {"integer", "int", SqlType::Int},
      {"real", "real", SqlType::Real},
      {"float", "float", SqlType::Float},
      {"bit", "bit", SqlType::Bit},
      {"datetime", "datetime", SqlType::DateTime},
      {"smalldatetime", "smalldatetime", SqlType::SmallDateTime},
      {"money", "money", SqlType::Money},
      {"smallmoney", "smallmoney", SqlType::SmallMoney},
      {"numeric", "numeric", SqlType::Numeric},
      {"decimal", "decimal", SqlType::Decimal},
      {"dec", "decimal", SqlType::Decimal},
  };
  TypeName t;
  const Token& first = peek();
  if (first.type != TokenType::Word && first.type != TokenType::Bracketed) syntaxError();
  if (first.isWord("double") && peekWord("precision", 1)) {
    next();
    next();
    t.name = "float";
    t.builtin = SqlType::Float;
    return t;
  }
  std::string word = lowerCase(first.text);
  bool found = false;
  if (first.type == TokenType::Word) {
    for (const Builtin& b : kBuiltins) {
      if (b.word == word) {
        t.name = std::string(b.name);
        t.builtin = b.type;
        t.national = word == "nchar" || word == "nvarchar";
        found = true;
        break;
      }
    }
  }
  if (!found) {
    // A user type (sysname, a type from sp_addtype); exec resolves it through systypes.
    t.name = expectName();
  } else {
    next();
  }
  if (acceptSymbol("(")) {
    t.args.push_back(parseIntegerArg());
    if (acceptSymbol(",")) t.args.push_back(parseIntegerArg());
    expectSymbol(")");
  }
  return t;
}

namespace {

[[noreturn]] void throwTooDeep(int line) {
  throw SqlError(
      191, 15,
      "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up into "
      "smaller queries.",
      1, line);
}

}  // namespace

Parser::NestingGuard::NestingGuard(Parser& p) : p_(p) {
  if (++p_.depth_ > kMaxNesting) {
    --p_.depth_;
    throwTooDeep(lineOf(p_.peek()));
  }
}

void Parser::checkHeight(const Expr& e) const {
  if (exprHeight(e) > kMaxExpressionHeight) throwTooDeep(lineOf(peek()));
}

void Parser::setRange(Statement& s, const Token& begin) const {
  s.line = begin.line;
  s.sourceBegin = begin.begin;
  s.sourceEnd = std::max(lastEnd_, begin.begin);
}

std::vector<StatementPtr> Parser::parseBatch() {
  std::vector<StatementPtr> out;
  while (acceptSymbol(";")) {
  }
  while (!atEnd()) {
    out.push_back(parseStatement());
    while (acceptSymbol(";")) {
    }
  }
  return out;
}

std::vector<std::unique_ptr<Statement>> parseBatch(std::string_view sql) {
  return Parser(sql).parseBatch();
}

std::vector<std::unique_ptr<Statement>> parseBatch(std::string_view sql, const ParseOptions& options) {
  return Parser(sql, options).parseBatch();
}

std::vector<std::unique_ptr<Statement>> parseBatch(std::string_view sql, const ParseOptions& options,
                                                   std::vector<Token> tokens) {
  return Parser(sql, options, std::move(tokens)).parseBatch();
}

}  // namespace tabsrv::tsql
