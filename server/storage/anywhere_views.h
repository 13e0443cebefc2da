// The "SQLAnywhere" family's catalogue (SYSTABLE, SYSCOLUMN, SYSINDEX ...) as SQLite views over the
// Sybase-family system tables of the same database, owned by SYS. They are not sysobjects rows:
// resolveTable finds them by name (SYS.SYSTABLE, or SYSTABLE when nothing else has that name).
// Internal to tabsrv_storage.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>

#include "server/storage/catalog.h"

namespace tabsrv::storage {

// The owner name of the views.
constexpr const char* kAnywhereOwner = "SYS";

// Creates every view of `database` (SQLite names "<database>.SYS.<VIEW>").
void createAnywhereViews(sqlite3* db, const std::string& database);

// Drops and creates again every view of `database`: a file made by an older server gets the
// views (and columns) this one describes.
void replaceAnywhereViews(sqlite3* db, const std::string& database);

// The view `name` of `database` (case-insensitive, as that family compares names), or nothing.
std::optional<TableInfo> anywhereView(const std::string& database, const std::string& name);

}  // namespace tabsrv::storage
