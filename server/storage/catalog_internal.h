// Catalogue helpers shared by the read side (catalog.cpp) and DDL (catalog_ddl.cpp).
// Internal to tabsrv_storage.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "server/storage/catalog.h"

namespace tabsrv::storage {

// The description of object `id` in `database` (table or view); nothing when absent.
std::optional<TableInfo> loadTable(sqlite3* db, const std::string& database, int32_t id);

// True when `database`'s file holds a table (or with `view`, a view, or the definition of one that
// reads other databases) named `plainName` (unquoted).
bool schemaHas(sqlite3* db, const std::string& database, const std::string& plainName, bool view);

// The SQLite name (unquoted) table or view `t` (database, id, owner, name, type filled in) is
// stored under: its storage name, or the name an earlier version gave it when only that exists.
std::string storedName(sqlite3* db, const std::string& database, const TableInfo& t);

// The uids an object name may belong to: `owner`'s, or the current user's then dbo's.
std::vector<int32_t> candidateOwners(sqlite3* db, const std::string& database, const std::string& owner,
                                     const std::string& currentUser);

// Throws SqlError 926 when `database` (in sysdatabases) has no file: removed from the data
// directory by hand.
void requireDatabaseFile(sqlite3* db, const std::string& database);

// The database a reference names: its own, tempdb for #names, else the current one.
std::string effectiveDatabase(const ObjectRef& ref, const std::string& currentDb);

}  // namespace tabsrv::storage
