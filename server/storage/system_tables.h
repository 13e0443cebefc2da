// The system tables every database holds (and master's own), as one table of definitions:
// adding a column is one line. Also the helpers that create a database's tables and insert
// catalogue rows in the columns' canonical storage forms. Internal to tabsrv_storage.
#pragma once

#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

#include "server/core/types.h"

namespace tabsrv::storage {

// One column of a system table: its name, its type written as T-SQL ("int", "char(2)", "sysname"),
// and whether it allows NULL.
struct SysColumnDef {
  const char* name;
  const char* type;
  bool nullable;
};

// One system table: name, fixed object id, whether only master has it, its columns, and the one
// database that alone has it (nullptr: decided by masterOnly).
struct SysTableDef {
  const char* name;
  int32_t id;
  bool masterOnly;
  std::vector<SysColumnDef> columns;
  const char* onlyIn = nullptr;
};

// Every system table in creation order.
const std::vector<SysTableDef>& systemTables();
// The definition of system table `name`, or nullptr.
const SysTableDef* findSystemTable(const std::string& name);

// A column type with its usertype (sysname is varchar(30) with usertype 18).
struct ColumnType {
  TypeDesc type;
  int32_t userType;
};
// Parses "int", "char(2)", "numeric(10,2)", "sysname", "varbinary(128)"; throws on an unknown type.
ColumnType parseColumnType(const std::string& text);

// The SQLite column declaration of a column: "\"name\" INTEGER NOT NULL", "... TEXT COLLATE RTRIM".
std::string sqliteColumnDecl(const std::string& name, const TypeDesc& type, bool nullable);

// Inserts a row into system table `table` of `database`; unnamed NOT NULL columns get 0, a blank,
// empty bytes or the current time; every value is converted to the column's storage form.
void insertSystemRow(sqlite3* db, const std::string& database, const std::string& table,
                     const std::vector<std::pair<std::string, Value>>& values);

// Creates the system tables of `database` with their self-description (sysobjects type 'S',
// syscolumns, sysindexes heap rows), systypes, syssegments and the users public, dbo (ownerSuid)
// and, when `withGuest`, guest. master also gets sysdatabases and syslogins (empty).
void createSystemTables(sqlite3* db, const std::string& database, int32_t ownerSuid, bool withGuest);

// Fills master's sysdevices, sysconfigures, syscurconfigs and spt_values, and sybsystemprocs'
// spt_datatype_info, with their fixed first-start rows.
void fillServerTables(sqlite3* db);

// Brings the configuration of a data directory an earlier version made up to this version's
// defaults where it still holds that version's default: "number of user connections" 25 becomes
// 256 (a value someone set with sp_configure stays). Parameters this version added are added, and
// every parameter gets this version's bounds, its value brought inside them.
void raiseEarlierDefaults(sqlite3* db);

// The internal tables every database file holds: tabulon_counters (the next object id of the
// database, the identity counter of each table with an identity column) and tabulon_views (the
// definitions of views whose SELECT reads another database's tables: SQLite keeps a view in a file
// only when it reads that file, so these are made again as TEMP views on each connection).
constexpr const char* kCountersTable = "tabulon_counters";
constexpr const char* kViewsTable = "tabulon_views";
void createInternalTables(sqlite3* db, const std::string& database);
// The counters table of `database` for statements: "\"~sample\".tabulon_counters".
std::string countersTable(sqlite3* db, const std::string& database);

// One index of a system table: the family's index name, its table and its key columns.
struct SystemIndexDef {
  const char* name;
  const char* table;
  const char* columns;
};
// Every index of the system tables.
const std::vector<SystemIndexDef>& systemIndexes();

// The SQLite indexes of `database`'s system tables, keyed as the family keys them (sysobjects by
// id and by name and owner, syscolumns by id and colid, sysindexes by id and indid ...), made when
// missing (a data directory of an earlier build has none): a lookup by id or name then costs the
// same whatever the number of objects.
void ensureSystemIndexes(sqlite3* db, const std::string& database);
// Adds the system tables a database made by an earlier version lacks (sysreferences), empty.
void ensureSystemTables(sqlite3* db, const std::string& database);

// The next object id of `database` (user objects start at 1000000).
int32_t allocateObjectId(sqlite3* db, const std::string& database);

}  // namespace tabsrv::storage
