// The catalogue API: resolving names to SQLite tables and creating/dropping tables, indexes and
// views while keeping sysobjects, syscolumns, sysindexes and syscomments true. Every call takes
// the session's connection, so DDL runs inside the session's transaction.
// Naming: object (db, owner, name) is the SQLite table "db.owner.name" ("master.dbo.sysobjects").
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/core/types.h"

namespace tabsrv {

// A possibly partial object name as written: t, owner.t, db..t, db.owner.t (empty parts omitted).
struct ObjectRef {
  std::string database;
  std::string owner;
  std::string name;
};

// The SQLite table or view name of an object: "db.owner.name" quoted for SQL ("\"db.owner.t\"").
std::string sqliteObjectName(const std::string& database, const std::string& owner, const std::string& name);
// The same unquoted (the text inside the quotes).
std::string plainObjectName(const std::string& database, const std::string& owner, const std::string& name);

// One column of a table or view as the catalogue holds it.
struct CatalogColumn {
  ColumnDesc desc;                         // name, type, nullable, identity, userType
  int32_t colid = 0;                       // syscolumns.colid, 1-based and contiguous
  std::string sqliteName;                  // the column's name inside the SQLite table
  std::optional<std::string> defaultText;  // the DEFAULT expression's T-SQL text, when one is bound
  bool identity = false;                   // syscolumns.status & 0x80
};

// One index of a table (sysindexes row with indid 1..250).
struct IndexInfo {
  std::string name;
  int32_t indid = 0;    // 1 clustered, 2.. nonclustered
  bool unique = false;  // status & 2
  bool clustered = false;
  bool primaryKey = false;           // status & 0x800
  std::vector<std::string> columns;  // key columns in order (sysindexes.keys1: 16-bit LE colids)
  std::string sqliteName;            // the SQLite index name (quoted)
};

// A resolved table or view.
struct TableInfo {
  std::string database;
  std::string owner;
  std::string name;
  int32_t id = 0;          // sysobjects.id, unique within the database
  int32_t uid = 0;         // owner's sysusers.uid
  std::string type;        // "U", "S" or "V" (trimmed sysobjects.type)
  std::string sqliteName;  // quoted SQLite name: "\"sample.dbo.books\""
  std::vector<CatalogColumn> columns;
  std::vector<IndexInfo> indexes;
  // The identity column's position in `columns`, or -1.
  int identityColumn() const;
  // The column named `name` (exact match first, then case-insensitive), or nullptr.
  const CatalogColumn* findColumn(const std::string& name) const;
};

// A column of CREATE TABLE.
struct ColumnSpec {
  std::string name;
  TypeDesc type;
  bool nullable = false;  // the family's default for a column without NULL/NOT NULL is NOT NULL
  bool identity = false;
  std::optional<std::string> defaultText;  // T-SQL text of the DEFAULT expression
  int32_t userType = 0;                    // 0: the built-in usertype of `type`
};

// An index of CREATE INDEX, or a PRIMARY KEY / UNIQUE constraint of CREATE TABLE.
struct IndexSpec {
  std::string name;  // empty for a constraint without a name: one is made up
  std::vector<std::string> columns;
  bool unique = false;
  bool clustered = false;  // PRIMARY KEY defaults to clustered, UNIQUE to nonclustered
  bool primaryKey = false;
};

// CREATE TABLE.
struct TableSpec {
  std::string database;
  std::string owner;  // a user name in `database` ("dbo")
  std::string name;
  std::vector<ColumnSpec> columns;
  std::vector<IndexSpec> constraints;  // PRIMARY KEY and UNIQUE constraints
};

// CREATE VIEW: the executor has bound the SELECT and generated its SQLite text.
struct ViewSpec {
  std::string database;
  std::string owner;
  std::string name;
  std::string sqliteSelect;         // SQLite SELECT text the view runs
  std::string tsqlText;             // the CREATE VIEW statement as written, kept in syscomments
  std::vector<ColumnDesc> columns;  // the bound result columns
};

// A user of a database.
struct DbUser {
  int32_t uid = 0;
  int32_t suid = 0;
  int32_t gid = 0;
  std::string name;
};

// A database of sysdatabases.
struct DatabaseInfo {
  std::string name;
  int32_t dbid = 0;
  int32_t suid = 0;
};

// --- databases ---------------------------------------------------------------------------------

// True when `name` is in master..sysdatabases (exact, case-sensitive match).
bool databaseExists(sqlite3* db, const std::string& name);
// Every database ordered by name.
std::vector<DatabaseInfo> listDatabases(sqlite3* db);
// A database's row, or nothing.
std::optional<DatabaseInfo> findDatabase(sqlite3* db, const std::string& name);
std::optional<DatabaseInfo> findDatabase(sqlite3* db, int32_t dbid);
// Creates an empty database with its system tables, the dbo user (owner's suid) and public.
// Throws SqlError 1801 "Database '<name>' already exists." when it does.
void createDatabase(sqlite3* db, const std::string& name, int32_t ownerSuid = 1);

// --- users -------------------------------------------------------------------------------------

// The user a login is in `database`: sa (suid 1) and the database owner are dbo; otherwise the
// sysusers row with that suid, else guest when the database has one. Nothing when neither.
std::optional<DbUser> findUserForLogin(sqlite3* db, const std::string& database, int32_t suid);
// The sysusers row named `name` (users and groups), or nothing.
std::optional<DbUser> findUser(sqlite3* db, const std::string& database, const std::string& name);

// --- objects -----------------------------------------------------------------------------------

// Resolves a table or view. Empty database: `currentDb`; a name starting with '#' lives in tempdb
// (the executor passes the name as stored, already made private to the session if it does so).
// Empty owner: `currentUser` first, then dbo. Nothing when there is no such table or view (or the
// database does not exist).
std::optional<TableInfo> resolveTable(sqlite3* db, const ObjectRef& ref, const std::string& currentDb,
                                      const std::string& currentUser);

// The sysobjects.id of any object (tables, views, procedures ...) or nothing; same name rules.
std::optional<int32_t> resolveObjectId(sqlite3* db, const ObjectRef& ref, const std::string& currentDb,
                                       const std::string& currentUser);

// Creates the SQLite table and its catalogue rows (sysobjects type 'U', syscolumns, sysindexes with
// the indid 0 heap row or the clustered constraint, one index per constraint, a 'D' object and
// syscomments text per DEFAULT). Returns the resolved table. Throws SqlError 2714 "There is already
// an object named '<name>' in the database.", 911 for an unknown database, 207 "Invalid column name
// '<c>'." for a constraint on an unknown column, 2705 "Column names in each table must be unique.
// Column name '<c>' in table '<t>' is specified more than once.", 1779 "Table '<t>' already has a
// primary key defined on it." for a second PRIMARY KEY, 2731 for a second identity column.
TableInfo createTable(sqlite3* db, const TableSpec& spec);

// Drops a table (its rows, indexes, defaults, identity counter and catalogue rows).
void dropTable(sqlite3* db, const TableInfo& table);

// Creates an index on `table` (a real SQLite index; unique ones enforce). Throws SqlError 1913
// "There is already an index on table '<t>' named '<i>'.", 207 for an unknown column,
// 1902 "Cannot create more than one clustered index on table '<t>'. Drop the existing clustered
// index '<i>' before creating another.", 1505 "Create unique index aborted on duplicate key." when
// the rows already break uniqueness.
IndexInfo createIndex(sqlite3* db, const TableInfo& table, const IndexSpec& spec);

// Drops index `indexName` of `table`. Throws SqlError 3703 "Cannot drop the index '<t>.<i>',
// because it doesn't exist in the system catalogs." when there is none, 3723 when the index
// enforces a PRIMARY KEY or UNIQUE constraint (sysindexes.status2 & 2).
void dropIndex(sqlite3* db, const TableInfo& table, const std::string& indexName);

// Creates a view (SQLite view, sysobjects 'V', syscolumns from the bound columns, syscomments
// holding the T-SQL text in 255-character chunks). Throws SqlError 2714 when the name is taken.
TableInfo createView(sqlite3* db, const ViewSpec& spec);

// Drops a view and its catalogue rows.
void dropView(sqlite3* db, const TableInfo& view);

// The next identity value of `table` (1, 2, 3 ...; never reused after delete).
int64_t nextIdentity(sqlite3* db, const TableInfo& table);
// Raises the identity counter so the next value is above `value` (after an explicit insert).
void noteIdentity(sqlite3* db, const TableInfo& table, int64_t value);

// The text of an object's syscomments rows joined in order (views, later procedures).
std::optional<std::string> objectText(sqlite3* db, const std::string& database, int32_t objectId);

// --- logins ------------------------------------------------------------------------------------

// The suid when `user` exists and `password` matches its salted hash; nothing otherwise.
std::optional<int32_t> checkLogin(sqlite3* db, const std::string& user, const std::string& password);
// The login's default database (syslogins.dbname), "master" when unset; nothing for an unknown suid.
std::optional<std::string> loginDefaultDatabase(sqlite3* db, int32_t suid);
// The login's name, or nothing.
std::optional<std::string> loginName(sqlite3* db, int32_t suid);
// Stores a new salted hash for `user`; false when there is no such login.
bool setPassword(sqlite3* db, const std::string& user, const std::string& newPassword);
// Adds a login; returns its suid. Throws SqlError 17262 "A user with the specified login name
// already exists." when the name is taken.
int32_t addLogin(sqlite3* db, const std::string& user, const std::string& password,
                 const std::string& defaultDatabase = "master", const std::string& fullName = {});

}  // namespace tabsrv
