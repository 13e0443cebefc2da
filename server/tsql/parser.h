// Entry point of the T-SQL parser: a language batch in, its statements out.
// Syntax errors come out as SqlError with the family's numbers (102, 156, 105, 113)
// and the batch line of the offending token.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "server/core/message.h"
#include "server/tsql/ast.h"
#include "server/tsql/lexer.h"

namespace tabsrv::tsql {

// Syntax that the tree can hold but that an executor must opt into once it runs it: left off,
// it stays a syntax error, so that `delete t where current of c` can never reach an executor
// that would read it as a DELETE without WHERE, nor `select top 5` one that returns every row.
struct ParseOptions {
  bool cursors = false;  // DECLARE ... CURSOR, OPEN, FETCH, CLOSE, DEALLOCATE, WHERE CURRENT OF
  bool top = false;      // SELECT TOP n
  bool quotedIdentifiers = false;  // set quoted_identifier on: "name" is an identifier
};

// The bytes of a binary constant's hex digits (a Binary token's text); an odd count reads as if
// a leading 0 were written.
Bytes decodeHex(const std::string& digits);

// Parses a whole batch (statements separated by nothing or ';'); throws tabsrv::SqlError.
std::vector<std::unique_ptr<Statement>> parseBatch(std::string_view sql);
// The same with the opt-in syntax of `options`.
std::vector<std::unique_ptr<Statement>> parseBatch(std::string_view sql, const ParseOptions& options);
// The same from the batch's tokens as tokenize(sql, options.quotedIdentifiers) made them.
std::vector<std::unique_ptr<Statement>> parseBatch(std::string_view sql, const ParseOptions& options,
                                                   std::vector<Token> tokens);

}  // namespace tabsrv::tsql
