// SQLite user functions that the generated SQL needs beside the built-ins of server/types:
// T-SQL division and modulo (integer truncation, "Divide by zero occurred."), string
// concatenation that treats NULL as empty, bitwise exclusive or, and T-SQL LIKE.
#pragma once

#include <sqlite3.h>

#include <string_view>

#include "server/types/functions.h"

namespace tabsrv {

// Registers tx_div, tx_mod, tx_concat, tx_xor, tx_like and tx_single on a connection; returns
// SQLite's code. Division reads the session's arithmetic error setting from `info` (may be null).
int registerExecFunctions(sqlite3* db, SessionInfo* info = nullptr);

// Registers tx_textptr, the text pointer of textptr() (exec_text.cpp).
int registerTextPointerFunction(sqlite3* db);

// T-SQL LIKE: % any run, _ one character, [abc] [a-f] [^x] sets, `escape` (0 for none) quoting the
// next character. Case-sensitive, on UTF-8 characters; trailing blanks of `value` are ignored
// unless the pattern ends with a blank (a char(10) column holding 'abc' matches 'abc').
bool likeMatch(std::string_view value, std::string_view pattern, char32_t escape);

}  // namespace tabsrv
