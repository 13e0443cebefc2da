// Each session's #tables live on its own connection: in SQLite's TEMP schema, which belongs to one
// connection and takes no lock that another connection could wait for. Their catalogue rows go to
// TEMP copies of tempdb's system tables, and tempdb's system tables are read and written through
// TEMP views that join tempdb's own rows and the session's (INSTEAD OF triggers send a row to the
// side its object id belongs to), so sysobjects, syscolumns, sysindexes ... of tempdb show the
// session's #tables beside tempdb's tables while no #table ever writes tempdb's file. The views are
// made on a connection when a statement first names them (the missing-table resolver), and all of
// it goes when the connection closes.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "server/storage/catalog.h"
#include "server/types/functions.h"

namespace tabsrv::storage {

// Object ids of a session's own objects (its #tables and their column defaults) start here, far
// above tempdb's own ids, and are never given twice in one run of the process.
constexpr int32_t kSessionObjectIdBase = 1000000000;

// True when object `id` of `database` is a session's own.
inline bool isSessionObject(const std::string& database, int32_t id) {
  return id >= kSessionObjectIdBase && database == "tempdb";
}
// True when `name` made in `database` becomes a session's own object (a #name in tempdb).
inline bool isSessionObjectName(const std::string& database, const std::string& name) {
  return !name.empty() && name[0] == '#' && database == "tempdb";
}

// The next id of a session's own object.
int32_t allocateSessionObjectId();

// The SQLite name (unquoted) of tempdb's `table` with the session's rows (isSessionSplitTable):
// systemTableReadName's view.
std::string sessionViewName(const std::string& table);

// The quoted SQLite table that writes of object `objectId`'s rows of system table `table` of
// `database` go to: the session's copy for a session's own object, tempdb's own table for any
// other object of tempdb (a write through the view would take tempdb's write lock even for the
// session's rows), else sqliteObjectName's table. Rows that belong to no object go to objectId 0.
std::string systemTableOf(const std::string& database, const std::string& table, int32_t objectId);

// `t` as the table an UPDATE or DELETE changes row by row: for tempdb's system tables above, tempdb's
// own table (the view with the session's rows has no rowids; sa's changes reach tempdb's rows).
TableInfo changedRowsOf(TableInfo t);

// The schema prefix of object `id`'s SQLite table or index: "temp." for a session's own object,
// else schemaPrefix of its database.
std::string objectSchemaPrefix(sqlite3* db, const std::string& database, int32_t id);

// The identity-counter table that holds object `id`'s counter: the connection's own for a
// session's object, else the database's tabulon_counters (countersTable).
std::string objectCountersTable(sqlite3* db, const std::string& database, int32_t id);

// The missing-table resolver's part: when `missing` (a table name SQLite did not find) is one of
// the views, makes the views, the session's tables and their triggers on `db` and returns true.
bool makeSessionTablesFor(sqlite3* db, std::string_view missing);

}  // namespace tabsrv::storage
