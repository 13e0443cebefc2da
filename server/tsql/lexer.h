// The T-SQL lexer: turns a batch into tokens with their byte range and line, skipping blanks
// and comments (-- and nested /* */). Unclosed quotes and comments throw the family's errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tabsrv::tsql {

enum class TokenType : uint8_t {
  End,        // after the last token
  Word,       // a regular identifier or keyword: select, titles, #temp, au_$id
  Bracketed,  // [any text]; `text` holds the name without brackets
  Variable,   // @x
  Global,     // @@rowcount
  Integer,    // 123
  Decimal,    // 123.45, .5, 5.
  Float,      // 1e5, 1.5E-3
  Money,      // $12.34; `text` holds the number without '$'
  String,     // 'it''s' or "x"; `text` holds the decoded content
  Binary,     // 0x0A, 0x; `text` holds the hex digits without 0x
  Symbol,     // ( ) , . ; : = <> != < > <= >= !< !> + - * / % & | ^ ~ *= =* ?
};

// One token. `text` is the token's value (see TokenType); [begin, end) its bytes in the batch.
struct Token {
  TokenType type = TokenType::End;
  std::string text;
  size_t begin = 0;
  size_t end = 0;
  int line = 1;

  // True for a Word equal to `lowerWord` ignoring case.
  bool isWord(std::string_view lowerWord) const;
  // True for the Symbol `sym`.
  bool isSymbol(std::string_view sym) const { return type == TokenType::Symbol && text == sym; }
};

// True for the reserved words that cannot be used as an unquoted name or alias (lower-case input).
bool isReservedWord(std::string_view lowerWord);

// Splits the whole batch into tokens, ending with one End token; throws tabsrv::SqlError
// (105 unclosed quote, 113 missing end comment mark, 102 for a stray character).
// With `quotedIdentifiers` (set quoted_identifier on) "text" is a Bracketed name, else a String.
std::vector<Token> tokenize(std::string_view sql, bool quotedIdentifiers = false);

}  // namespace tabsrv::tsql
