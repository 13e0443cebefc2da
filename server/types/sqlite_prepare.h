// Preparing statements on connections whose databases are attached only when first needed. A
// statement naming a table of a database that is not attached yet fails with "no such table"; the
// storage layer installs a resolver that attaches that database, and these helpers then try again.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string_view>

#include "server/core/message.h"

namespace tabsrv {

// Attaches the database a failure message ("no such table: <name>") points at; true when it did,
// so the statement is worth another try. `firstTry` is true for the first miss of a statement: the
// databases attached for the statement after that must stay attached until it is prepared. When
// the database cannot be attached because the statement needs more databases than a connection
// holds, the resolver gives that error to refuseMissingTable and returns false.
using MissingTableResolver = bool (*)(sqlite3* db, std::string_view message, bool firstTry);

// Installs the process-wide resolver (the storage layer does, before its first connection opens).
void setMissingTableResolver(MissingTableResolver resolver);

// Keeps `error` as the reason the connection's latest "no such table" failure could not be
// resolved; errorFromSqlite reports it instead of 208 (the table may well exist).
void refuseMissingTable(sqlite3* db, const SqlError& error);

// The reason kept by refuseMissingTable for `db`'s current failure (and forgets it); nothing when
// none is kept for it.
std::optional<SqlError> takeMissingTableRefusal(sqlite3* db);

// sqlite3_prepare_v2 that attaches a missing database and tries again (a few databases at most).
int prepareSql(sqlite3* db, std::string_view sql, sqlite3_stmt** out, const char** tail = nullptr);

// After a step failed with `rc` before producing anything (a statement whose database was
// detached is prepared again by SQLite on its first step): true when the resolver attached the
// database it needs, so the caller may reset the statement and step again.
bool retryAfterMissingTable(sqlite3* db, int rc);

}  // namespace tabsrv
