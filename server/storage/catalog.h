// The catalogue API: resolving names to SQLite tables and creating/dropping tables, indexes and
// views while keeping sysobjects, syscolumns, sysindexes and syscomments true. Every call takes
// the session's connection, so DDL runs inside the session's transaction.
// Naming: the server's own tables are the SQLite tables "db.owner.name" ("master.dbo.sysobjects");
// every table and view made by DDL is stored under its object id (see storageObjectName). Each
// database is a file of its own (database_files.h); the names carry the database, so statements
// name tables without a schema.
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

// The SQLite table or view name of a server table: "db.owner.name" quoted for SQL
// ("\"master.dbo.sysobjects\""). Tables and views made by DDL have storage names of their own.
std::string sqliteObjectName(const std::string& database, const std::string& owner, const std::string& name);
// The same unquoted (the text inside the quotes). Tables and views that earlier versions made by
// DDL are stored under this name too, and are still read there.
std::string plainObjectName(const std::string& database, const std::string& owner, const std::string& name);
// The SQLite name (unquoted) of a table or view made by DDL: the database name, a 0x1F separator,
// the object id, another 0x1F and "owner.name" for people reading the file and for messages. No
// catalogue name holds a control character and the object id is unique in its database, so no two
// objects ever share a storage name, whatever their names (dots, case) and whatever an earlier
// version left in the file (whose names hold no 0x1F).
std::string storageObjectName(const std::string& database, int32_t id, const std::string& owner,
                              const std::string& name);
// The database and object id of a storage name made by storageObjectName; false for any other name.
bool parseStorageObjectName(const std::string& plainName, std::string& database, int32_t& id);
// The name an earlier version gave index `index` of the table it stored as `tablePlainName`
// (unquoted): the table's name, a 0x1F separator and the index name, so that an index never took
// the name of a table ("canary.x" and index x of canary stay apart).
std::string plainIndexName(const std::string& tablePlainName, const std::string& index);
// The SQLite name (unquoted) of index `index` with sysindexes.indid `indid` of the table stored as
// `tablePlainName`: for a table with a storage name, the table's name, 0x1F, the indid, 0x1F and
// the index name (unique per table even where two index names differ only in case, which SQLite
// does not tell apart); for a table an earlier version made, plainIndexName as that version did.
std::string indexStorageName(const std::string& tablePlainName, int32_t indid, const std::string& index);
// The index name an earlier version gave index `index` of the table (database, owner, table):
// "db.owner.table" with a 0x1F and the index name. Older versions used a "." instead; dropIndex
// removes either.
std::string plainIndexName(const std::string& database, const std::string& owner, const std::string& table,
                           const std::string& index);
constexpr char kIndexSeparator = '\x1f';

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
  std::string sqliteName;  // quoted SQLite name (see storageObjectName)
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

// --- names -------------------------------------------------------------------------------------

// The longest name the catalogue keeps (sysname is varchar(30)), in bytes.
constexpr size_t kMaxIdentifierLength = 30;

// Throws SqlError 103 "The identifier that starts with '<first 30>' is too long. Maximum length is
// 30." for a longer `name`, and 102 "Incorrect syntax near '<name>'." for a name holding a
// control character (which the storage names use as a separator). Every create of the catalogue calls it for each name it stores, so no
// name is kept cut in the catalogue and whole in SQLite.
void requireIdentifierLength(const std::string& name);

// --- databases ---------------------------------------------------------------------------------

// True when `name` is in master..sysdatabases (exact, case-sensitive match).
bool databaseExists(sqlite3* db, const std::string& name);
// Every database ordered by name.
std::vector<DatabaseInfo> listDatabases(sqlite3* db);
// A database's row, or nothing.
std::optional<DatabaseInfo> findDatabase(sqlite3* db, const std::string& name);
std::optional<DatabaseInfo> findDatabase(sqlite3* db, int32_t dbid);
// Creates an empty database (its own file) with its system tables, the dbo user (owner's suid) and
// public, and its sysdatabases row in the caller's transaction, which should hold master's write
// lock already (so two sessions never make the same database). Throws SqlError 1801 "Database
// '<name>' already exists." when it does.
void createDatabase(sqlite3* db, const std::string& name, int32_t ownerSuid = 1);

// Drops a database's sysdatabases row; the caller removes its file (removeDatabaseFile) once the
// transaction has committed. Throws SqlError 3701 "Cannot
// drop the database '<name>' because it doesn't exist in the system catalogs." when unknown, 3708
// "Cannot drop the database '<name>' because it is a system database." for master, model, tempdb,
// sybsystemprocs. The executor refuses first (3702) while a session uses the database.
void dropDatabase(sqlite3* db, const std::string& name);

// --- users -------------------------------------------------------------------------------------

// The user a login is in `database`: sa (suid 1) and the database owner are dbo; otherwise the
// sysusers row with that suid, else guest when the database has one. Nothing when neither.
std::optional<DbUser> findUserForLogin(sqlite3* db, const std::string& database, int32_t suid);
// The sysusers row named `name` (users and groups), or nothing.
std::optional<DbUser> findUser(sqlite3* db, const std::string& database, const std::string& name);

// --- objects -----------------------------------------------------------------------------------

// Resolves a table or view. Empty database: `currentDb`; a name starting with '#' lives in tempdb
// (the executor passes the name as stored, already made private to the session if it does so).
// Empty owner: `currentUser` first, then dbo. Then the other family's catalogue views: owner SYS
// (any case) or empty, names compared ignoring case (SYSTABLE, SYS.SYSCOLUMN ...; type "V",
// owner "SYS", no sysobjects row). Nothing when there is no such table or view (or the database
// does not exist).
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
TableInfo createTable(sqlite3* db, const TableSpec& details);

// ALTER TABLE ADD: appends `column` to `table` (next colid) and returns the table as it is now.
// Existing rows get `fill` (the executor's value of the column's DEFAULT, or NULL), or for an
// identity column 1, 2, 3 ... Throws SqlError 4997 "ALTER TABLE '<t>' failed. Default clause is
// required in order to add non-NULL column '<c>'." for a NOT NULL column without a fill value,
// 2705 for a name the table has (in any case), 2731 for a second identity column.
TableInfo addColumn(sqlite3* db, const TableInfo& table, const ColumnSpec& column,
                    const Value& fill = Value());

// Drops a table (its rows, indexes, defaults, identity counter and catalogue rows).
void dropTable(sqlite3* db, const TableInfo& table);

// Creates an index on `table` (a real SQLite index; unique ones enforce). Throws SqlError 1913
// "There is already an index on table '<t>' named '<i>'.", 207 for an unknown column,
// 1902 "Cannot create more than one clustered index on table '<t>'. Drop the existing clustered
// index '<i>' before creating another.", 1505 "Create unique index aborted on duplicate key." when
// the rows already break uniqueness.
IndexInfo createIndex(sqlite3* db, const TableInfo& table, const IndexSpec& details);

// Drops index `indexName` of `table`. Throws SqlError 3703 "Cannot drop the index '<t>.<i>',
// because it doesn't exist in the system catalogs." when there is none, 3723 when the index
// enforces a PRIMARY KEY or UNIQUE constraint (sysindexes.status2 & 2).
void dropIndex(sqlite3* db, const TableInfo& table, const std::string& indexName);

// Creates a view (SQLite view, sysobjects 'V', syscolumns from the bound columns, syscomments
// holding the T-SQL text in 255-character chunks). Throws SqlError 2714 when the name is taken.
TableInfo createView(sqlite3* db, const ViewSpec& details);

// Drops a view and its catalogue rows.
void dropView(sqlite3* db, const TableInfo& view);

// The next identity value of `table` (1, 2, 3 ...; never reused after delete).
int64_t nextIdentity(sqlite3* db, const TableInfo& table);
// Raises the identity counter so the next value is above `value` (after an explicit insert).
void noteIdentity(sqlite3* db, const TableInfo& table, int64_t value);

// The identity values of one statement's rows: the table's counter is read at the first row and
// written back by flush(), not once per row. Use it inside the statement's transaction (which
// holds the write lock, so no other session moves the counter meanwhile) and flush before
// anything else may read the counter (the statement's triggers, its commit).
class IdentityCounter {
 public:
  IdentityCounter(sqlite3* db, const TableInfo& table) : db_(db), table_(table) {}
  // The next value (as nextIdentity).
  int64_t take();
  // The next value will be above `value` (as noteIdentity).
  void note(int64_t value);
  // Stores the counter when it moved.
  void flush();

 private:
  void load();
  sqlite3* db_;
  const TableInfo& table_;
  int64_t next_ = 0;
  bool loaded_ = false;
  bool moved_ = false;
};

// The text of an object's syscomments rows joined in order (views, later procedures).
std::optional<std::string> objectText(sqlite3* db, const std::string& database, int32_t objectId);

// --- rules, defaults, triggers ------------------------------------------------------------------

// CREATE RULE / CREATE DEFAULT / CREATE TRIGGER: an object of its own whose statement text
// syscomments keeps in 255-character chunks.
struct TextObjectSpec {
  std::string database;
  std::string owner;  // a user name in `database` ("dbo")
  std::string name;
  std::string type;      // "R" rule, "D" default, "TR" trigger
  std::string tsqlText;  // the CREATE statement as written
  // Triggers only: the table and the statements that fire the trigger.
  int32_t tableId = 0;
  bool onInsert = false;
  bool onUpdate = false;
  bool onDelete = false;
};

// Creates the object and returns its id. A trigger's row names its table in deltrig, as the family
// keeps it, and the table's instrig/updtrig/deltrig then name the trigger (a later trigger for the
// same statement replaces the earlier one there). Throws SqlError 2714 when the name is taken.
int32_t createTextObject(sqlite3* db, const TextObjectSpec& details);

// sp_bindrule / sp_bindefault on a column (colid > 0) or, with usertype > 0, on a user datatype:
// syscolumns.domain / cdefault or systypes.domain / tdefault name the rule or default.
// `objectId` 0 unbinds. Throws SqlError 15102 "The object '<id>' is not a rule." / 15103 "... is
// not a default." when `objectId` is neither.
void bindRule(sqlite3* db, const std::string& database, int32_t objectId, int32_t tableId, int32_t colid,
              int32_t usertype = 0);
void bindDefault(sqlite3* db, const std::string& database, int32_t objectId, int32_t tableId, int32_t colid,
                 int32_t usertype = 0);

// DROP RULE / DEFAULT / TRIGGER of object `id`. A rule or default still bound is refused with
// SqlError 3716 "The <rule|default> '<name>' cannot be dropped because it is bound to one or more
// column."; a trigger is cleared from its table. 3701 when there is no such object of those kinds.
void dropTextObject(sqlite3* db, const std::string& database, int32_t id);

// --- users, groups, permissions, keys ----------------------------------------------------------

// Adds group `name` to `database` (sysusers row with uid = gid, numbered from 16384). Returns the
// gid. Throws SqlError 15023 "A user or group named '<name>' already exists in the current
// database." when the name is taken.
int32_t addGroup(sqlite3* db, const std::string& database, const std::string& name);

// Adds user `name` for login `suid` in `group` ("public" is gid 0). Returns the uid (from 3 up).
// Throws 15023 when the name is taken, 15024 "The login already has a user in the current
// database." when the login is already a user, 15009 "The group '<g>' does not exist in the
// current database." for an unknown group.
int32_t addUser(sqlite3* db, const std::string& database, const std::string& name, int32_t suid,
                const std::string& group = "public");

// Drops user or group `name`: its permissions go with it. Throws 15008 "User '<name>' does not
// exist in the current database." when unknown, 15183 "User '<name>' owns objects and cannot be
// dropped." while it owns objects, 15025 "Group '<name>' has members and cannot be dropped." for
// a group with members; dbo, guest and public are refused with 15026 "'<name>' cannot be dropped.".
void dropUser(sqlite3* db, const std::string& database, const std::string& name);

// Moves user `name` into `group`. Throws 15008 for an unknown user, 15009 for an unknown group.
void changeGroup(sqlite3* db, const std::string& database, const std::string& name, const std::string& group);

// sysprotects.action numbers of the grantable permissions.
constexpr int32_t kActionReferences = 151;
constexpr int32_t kActionSelect = 193;
constexpr int32_t kActionInsert = 195;
constexpr int32_t kActionDelete = 196;
constexpr int32_t kActionUpdate = 197;
constexpr int32_t kActionExecute = 224;
// The statement permissions (sysprotects rows with id 0): who may create objects in a database.
constexpr int32_t kActionCreateTable = 198;
constexpr int32_t kActionCreateView = 207;
constexpr int32_t kActionCreateProcedure = 222;
constexpr int32_t kActionCreateDefault = 233;
constexpr int32_t kActionCreateRule = 236;

// GRANT: user or group `uid` may do `action` on object `objectId`, granted by `grantor`
// (protecttype 1, or 0 WITH GRANT OPTION). Replaces an earlier grant or revoke of the same action.
void grantPermission(sqlite3* db, const std::string& database, int32_t objectId, int32_t uid, int32_t action,
                     int32_t grantor, bool withGrantOption = false);

// REVOKE: removes the grant of `action` to `uid`; when public (uid 0) still holds it, `uid` gets a
// revoke row (protecttype 2) so the denial shows in sysprotects.
void revokePermission(sqlite3* db, const std::string& database, int32_t objectId, int32_t uid, int32_t action,
                      int32_t grantor);

// A syskeys row: sp_primarykey (type 1), sp_foreignkey (2, naming the primary key's table in
// `depid` and its columns in `depColids`), sp_commonkey (3).
struct KeySpec {
  std::string database;
  int32_t type = 1;
  int32_t id = 0;
  int32_t depid = 0;
  std::vector<int32_t> colids;     // at most 8
  std::vector<int32_t> depColids;  // at most 8
};

// Adds a syskeys row. Throws 15412 "Table '<t>' already has a primary key." for a second primary
// key, 15414 "Only 8 columns may be given." past eight columns, 15416 "The foreign key must have
// as many columns as the primary key." when the counts differ.
void addKey(sqlite3* db, const KeySpec& details);

// --- user datatypes ----------------------------------------------------------------------------

// A user datatype of systypes (usertype 100 and up).
struct UserTypeSpec {
  std::string database;
  std::string name;
  TypeDesc base;          // the physical type: varchar(12), numeric(6,0) ...
  bool nullable = false;  // systypes.allownulls
  bool identity = false;  // systypes.ident
  int32_t ownerUid = 1;
};

// Adds a user datatype and returns its usertype. Throws SqlError 17331 "Type name already exists."
// when `name` is taken (built-in or user type) and 911 for an unknown database.
int32_t createUserType(sqlite3* db, const UserTypeSpec& details);

// Drops user datatype `name`. Throws SqlError 17332 "Type name does not exist." when there is no
// such user type (built-in types are not dropped), 17333 "Type is being used. You cannot drop it."
// while a column still has it.
void dropUserType(sqlite3* db, const std::string& database, const std::string& name);

// --- configuration -----------------------------------------------------------------------------

// One configuration parameter as sysconfigures and syscurconfigs hold it.
struct ConfigParameter {
  int32_t config = 0;
  std::string name;
  std::string group;     // the parent group's name
  int32_t value = 0;     // configured value (sysconfigures.value)
  int32_t runValue = 0;  // syscurconfigs.value
  std::string defaultValue;
  int32_t minimum = 0;
  int32_t maximum = 0;
};

// The parameters sp_configure '<pattern>' shows: the one named exactly so (any case), else
// every one whose name contains `pattern` (any case); all of them for an empty pattern. By name.
std::vector<ConfigParameter> configParameters(sqlite3* db, const std::string& pattern = {});

// sp_configure '<name>', value: sets both the configured and the running value of the one
// parameter `name` picks out as configParameters does. Throws SqlError 15123 "Configuration
// option '<name>' does not exist." when none matches, 15125 "Configuration option '<name>' is not
// unique." when several do, 5846 "Illegal value '<v>' specified for configuration option
// '<name>'. The legal values are between '<min>' and '<max>'." outside the range.
ConfigParameter setConfigValue(sqlite3* db, const std::string& name, int32_t value);

// --- logins ------------------------------------------------------------------------------------

// The suid when `user` exists and `password` matches its salted hash; nothing otherwise. An
// unknown name costs one hash check as a wrong password does, so the time taken tells no names.
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
