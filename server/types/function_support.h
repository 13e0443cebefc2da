// Shared plumbing for the t_* SQLite user functions: reading arguments in the server's terms,
// UTF-8 character counting, and the wrapper that turns C++ exceptions into SQLite errors.
// Internal to tabsrv_types.
#pragma once

#include <sqlite3.h>

#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "server/core/message.h"
#include "server/core/types.h"
#include "server/types/functions.h"
#include "server/types/sqlite_error.h"

namespace tabsrv::fn {

// Runs `body` and reports a thrown SqlError (or any exception) as the function's error, so that
// nothing unwinds through SQLite's C frames.
template <typename Body>
void guarded(sqlite3_context* ctx, Body&& body) {
  try {
    body();
  } catch (const SqlError& e) {
    resultSqlError(ctx, e);
  } catch (const std::exception& e) {
    resultSqlError(ctx, SqlError(7900, 16, e.what()));
  }
}

// Declares a scalar function `name` with `nargs` (-1: any) whose body is `fn(ctx, argc, argv)`.
int define(sqlite3* db, const char* name, int nargs, void (*fn)(sqlite3_context*, int, sqlite3_value**),
           bool deterministic = true, void* userData = nullptr);

// True when the argument is SQL NULL.
inline bool argNull(sqlite3_value* v) {
  return sqlite3_value_type(v) == SQLITE_NULL;
}

// The argument as text: TEXT as stored, INTEGER/REAL printed, BLOB's bytes as they are.
std::string argText(sqlite3_value* v);

// The argument as a 64-bit integer: INTEGER, REAL truncated, TEXT parsed as a number (truncated);
// throws 249 when TEXT is not a number.
int64_t argInt(sqlite3_value* v, std::string_view function);

// The argument as a double (TEXT parsed).
double argDouble(sqlite3_value* v, std::string_view function);

// A numeric argument: an exact integer, a double, or a Decimal parsed from canonical TEXT.
struct Number {
  enum Kind { Integer, Real, Exact } kind = Integer;
  int64_t i = 0;
  double d = 0;
  Decimal dec;
};
Number argNumber(sqlite3_value* v, std::string_view function);
// Writes a Number back in its kind (Exact as canonical decimal TEXT).
void resultNumber(sqlite3_context* ctx, const Number& n);

// The argument as a DateTime (canonical or any accepted input text); throws 249 otherwise.
DateTime argDateTime(sqlite3_value* v, std::string_view dateFormat = "mdy");

// Sets a TEXT result; an empty string becomes NULL when `emptyIsNull` (the family has no empty
// strings: rtrim('  ') and substring('abc', 4, 1) are NULL).
void resultText(sqlite3_context* ctx, const std::string& s, bool emptyIsNull = true);

// UTF-8 helpers: number of characters, byte offset of character `index` (0-based; clamps).
size_t utf8Length(std::string_view s);
size_t utf8Offset(std::string_view s, size_t index);

// LIKE matching with %, _, [abc], [a-z], [^a]; `caseSensitive` as the server's binary order.
bool likeMatch(std::string_view pattern, std::string_view text);

// Registration of each group of functions.
int registerStringFunctions(sqlite3* db);
int registerMathFunctions(sqlite3* db);
// Exact numeric and money arithmetic: t_exact, t_exact_fit, t_exact_cmp, t_exact_sum.
int registerExactFunctions(sqlite3* db, SessionInfo* info);
// Date functions read the session's dateformat/datefirst from `info` (may be null).
int registerDateFunctions(sqlite3* db, SessionInfo* info);
// canonicalDatePart's implementation (date_functions.cpp).
std::string_view canonicalDatePartImpl(std::string_view name);
int registerSessionFunctions(sqlite3* db, SessionInfo* info);

}  // namespace tabsrv::fn
