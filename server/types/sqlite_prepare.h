// Preparing statements on connections whose databases are attached only when first needed. A
// statement naming a table of a database that is not attached yet fails with "no such table"; the
// storage layer installs a resolver that attaches that database, and these helpers then try again.
#pragma once

#include <sqlite3.h>

#include <string_view>

namespace tabsrv {

// Attaches the database a failure message ("no such table: <name>") points at; true when it did,
// so the statement is worth another try.
using MissingTableResolver = bool (*)(sqlite3* db, std::string_view message);

// Installs the process-wide resolver (the storage layer does, before its first connection opens).
void setMissingTableResolver(MissingTableResolver resolver);

// sqlite3_prepare_v2 that attaches a missing database and tries again (a few databases at most).
int prepareSql(sqlite3* db, std::string_view sql, sqlite3_stmt** out, const char** tail = nullptr);

// After a step failed with `rc` before producing anything (a statement whose database was
// detached is prepared again by SQLite on its first step): true when the resolver attached the
// database it needs, so the caller may reset the statement and step again.
bool retryAfterMissingTable(sqlite3* db, int rc);

}  // namespace tabsrv
