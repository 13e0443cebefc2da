// Server errors across the SQLite boundary: user functions raise "tsqlerr:<number>:<severity>:<text>"
// through sqlite3_result_error, and errorFromSqlite turns that, or a plain SQLite failure
// (constraint, busy, locked), back into the SqlError the client sees.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "server/core/message.h"

namespace tabsrv {

// The prefix of an encoded server error inside an SQLite error message.
constexpr std::string_view kSqlErrorPrefix = "tsqlerr:";

// The number errorFromSqlite gives an interrupted statement (the session stops quietly on it).
constexpr int32_t kCancelledErrorNumber = 0;

// "tsqlerr:<number>:<severity>:<text>".
std::string encodeSqlError(const SqlError& e);

// Raises `e` from inside a user function.
void resultSqlError(sqlite3_context* ctx, const SqlError& e);

// Decodes an error message: an encoded server error, or SQLite's own text mapped by result code:
//   UNIQUE constraint failed: "db.owner.t".a  -> 2601/14 "Attempt to insert duplicate key row in
//       object 't' with unique index '<index>'" (the index named when it can be found)
//   NOT NULL constraint failed: "db.owner.t".c -> 515/16 "Attempt to insert NULL value into column
//       'c', table 'db.owner.t'; column does not allow nulls. Update fails."
//   SQLITE_BUSY / SQLITE_LOCKED                -> 12205/17 "Could not acquire a lock within the
//       specified wait."  (plus SQLite's detail is dropped)
//   SQLITE_INTERRUPT                           -> kCancelledErrorNumber (0)/0 "Query was cancelled."
//   anything else                              -> 7900/16 with SQLite's text
SqlError errorFromMessage(int rc, std::string_view message);

// errorFromMessage with the connection's current error message; `db` may be consulted to name the
// unique index of a duplicate key.
SqlError errorFromSqlite(sqlite3* db, int rc);

// True when `rc` (a primary or extended code) is SQLITE_BUSY or SQLITE_LOCKED.
bool isBusyCode(int rc);

}  // namespace tabsrv
