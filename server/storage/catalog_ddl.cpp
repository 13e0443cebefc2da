// DDL through the catalogue: CREATE/DROP TABLE, INDEX and VIEW, and identity counters. Each call
// changes the SQLite schema and the system tables together on the session's connection, so both
// commit or roll back with the session's transaction.
#include <algorithm>
#include <cctype>
#include <set>
#include <string_view>
#include <utility>

#include "server/core/message.h"
#include "server/storage/anywhere_views.h"
#include "server/storage/catalog.h"
#include "server/storage/catalog_internal.h"
#include "server/storage/database_files.h"
#include "server/storage/session_tables.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"
#include "server/types/datetime.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using storage::insertSystemRow;
using storage::quoteIdent;
using storage::Stmt;

namespace {

constexpr int kSysstatView = 2;
constexpr int kSysstatUserTable = 3;
constexpr int kSysstatDefault = 6;
constexpr int kSysstatRule = 7;
constexpr int kSysstatTrigger = 8;
constexpr int kSysstatReferential = 9;
constexpr int kIndexUnique = 0x2;
constexpr int kIndexClustered = 0x10;
constexpr int kIndexPrimaryKey = 0x800;
constexpr int kIndexStatus2Constraint = 0x2;
constexpr size_t kCommentChunk = 255;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string sysTable(const std::string& database, const char* table) {
  return sqliteObjectName(database, "dbo", table);
}

void requireDatabase(sqlite3* db, const std::string& database) {
  if (!databaseExists(db, database)) {
    throw SqlError(
        911, 11,
        "Attempt to locate entry in sysdatabases for database '" + database +
            "' by name failed - no entry found under that name. Make sure that the name is entered "
            "properly.");
  }
}

// The quoted SQLite name of a new table or view of user `uid`, made of its owner and name as
// loadTable reads them back (the owner's sysusers name, no trailing blanks).
std::string newStorageName(sqlite3* db, const std::string& database, int32_t id, int32_t uid,
                           const std::string& name) {
  Stmt st(db, "SELECT name FROM " + sysTable(database, "sysusers") + " WHERE uid = ?1");
  st.bind(1, int64_t{uid});
  std::string owner = st.step() ? storage::rtrimmed(st.text(0)) : std::string("dbo");
  return quoteIdent(storageObjectName(database, id, owner, storage::rtrimmed(name)));
}

int32_t ownerUid(sqlite3* db, const std::string& database, const std::string& owner) {
  auto u = findUser(db, database, owner.empty() ? std::string("dbo") : owner);
  if (!u) throw SqlError(15008, 16, "User '" + owner + "' does not exist in database '" + database + "'.");
  return u->uid;
}

// 2714 when (name, owner) is taken. Storage names follow object ids, so no SQLite name can be in
// the way of a free catalogue name.
void requireFreeName(sqlite3* db, const std::string& database, int32_t uid, const std::string& name) {
  // A #table's stored name carries the session's suffix; the executor checks the name as written.
  if (name.empty() || name[0] != '#') requireIdentifierLength(name);
  Stmt st(db, "SELECT name FROM " + sysTable(database, "sysobjects") + " WHERE name = ?1 AND uid = ?2");
  st.bind(1, name).bind(2, uid);
  bool taken = false;
  while (st.step()) taken = taken || storage::rtrimmed(st.text(0)) == name;
  if (taken) throw SqlError(2714, 16, "There is already an object named '" + name + "' in the database.");
}

// Writes the syscomments rows of `text` in 255-byte chunks that never split a UTF-8 character.
void writeComments(sqlite3* db, const std::string& database, int32_t id, const std::string& text) {
  size_t at = 0;
  int colid = 1;
  while (at < text.size() || colid == 1) {
    size_t n = std::min(kCommentChunk, text.size() - at);
    while (n > 0 && at + n < text.size() && (static_cast<unsigned char>(text[at + n]) & 0xC0) == 0x80) --n;
    insertSystemRow(db, database, "syscomments",
                    {{"id", int64_t{id}},
                     {"number", int64_t{0}},
                     {"colid", int64_t{colid++}},
                     {"texttype", int64_t{0}},
                     {"language", int64_t{0}},
                     {"text", text.substr(at, n)},
                     {"colid2", int64_t{0}}});
    at += n;
    if (n == 0) break;
  }
}

bool isVariable(const TypeDesc& t, bool nullable) {
  return nullable || t.type == SqlType::VarChar || t.type == SqlType::VarBinary || t.type == SqlType::Text ||
         t.type == SqlType::Image;
}

struct ColumnRow {
  std::string name;
  TypeDesc type;
  bool nullable;
  bool identity;
  int32_t userType;
  int32_t cdefault;
};

// syscolumns rows for a table or view; fixed-length columns get offsets, variable ones -1, -2 ...
void writeColumns(sqlite3* db, const std::string& database, int32_t id, const std::vector<ColumnRow>& cols,
                  int& minlen, int& maxlen) {
  int offset = 2, varOffset = -1, colid = 0;
  minlen = maxlen = 0;
  for (const ColumnRow& c : cols) requireIdentifierLength(c.name);
  for (const ColumnRow& c : cols) {
    bool variable = isVariable(c.type, c.nullable);
    bool numeric = c.type.type == SqlType::Numeric || c.type.type == SqlType::Decimal;
    int status = (c.nullable ? 0x08 : 0) | (c.identity ? 0x80 : 0);
    // A text or image column stores a 16-byte text pointer in the row, and that is its length.
    const bool blob = c.type.type == SqlType::Text || c.type.type == SqlType::Image;
    const int32_t length = blob ? 16 : c.type.length;
    insertSystemRow(db, database, "syscolumns",
                    {{"id", int64_t{id}},
                     {"number", int64_t{0}},
                     {"colid", int64_t{++colid}},
                     {"status", int64_t{status}},
                     {"type", int64_t{columnTypeCode(c.type, c.nullable)}},
                     {"length", int64_t{length}},
                     {"offset", int64_t{variable ? varOffset-- : offset}},
                     {"usertype", int64_t{c.userType ? c.userType : userTypeOf(c.type.type)}},
                     {"cdefault", int64_t{c.cdefault}},
                     {"domain", int64_t{0}},
                     {"name", c.name},
                     {"prec", numeric ? Value(int64_t{c.type.precision}) : Value()},
                     {"scale", numeric ? Value(int64_t{c.type.scale}) : Value()}});
    if (!variable) {
      offset += length;
      minlen += length;
    }
    maxlen += length;
  }
}

// The index's key colids as sysindexes.keys1 holds them: 16-bit little-endian, in key order.
Bytes keyBytes(const std::vector<int32_t>& colids) {
  Bytes b;
  for (int32_t c : colids) {
    b.push_back(static_cast<uint8_t>(c & 0xff));
    b.push_back(static_cast<uint8_t>((c >> 8) & 0xff));
  }
  return b;
}

void insertIndexRow(sqlite3* db, const std::string& database, int32_t tableId, const std::string& name,
                    int indid, int status, int status2, const std::vector<int32_t>& colids, int minlen,
                    int maxlen) {
  if (indid > 0) requireIdentifierLength(name);
  insertSystemRow(db, database, "sysindexes",
                  {{"name", name},
                   {"id", int64_t{tableId}},
                   {"indid", int64_t{indid}},
                   // The data row (heap or clustered index) names its table as the "OAM page":
                   // rowcnt(doampg) counts the table's rows, and index rows hold 0.
                   {"doampg", int64_t{indid <= 1 ? tableId : 0}},
                   {"segment", int64_t{1}},
                   {"status", int64_t{status}},
                   {"status2", int64_t{status2}},
                   // The columns are smallint: a very wide row reports the largest length they hold.
                   {"minlen", int64_t{std::min(minlen, 32767)}},
                   {"maxlen", int64_t{std::min(maxlen, 32767)}},
                   {"keycnt", int64_t{static_cast<int64_t>(colids.size())}},
                   {"keys1", colids.empty() ? Value() : Value(keyBytes(colids))},
                   {"crdate", currentDateTime()}});
}

void deleteRows(sqlite3* db, const std::string& database, const char* table, const char* column, int32_t id) {
  Stmt st(db, "DELETE FROM " + storage::systemTableOf(database, table, id) + " WHERE " + column + " = ?1");
  st.bind(1, id);
  st.run();
}

// True when the view `name` (quoted) just made in `schema` names tables of other files, which SQLite
// then looks for in the view's own file ("no such table: <schema>.<name>").
bool readsOtherDatabases(sqlite3* db, const std::string& schema, const std::string& name) {
  sqlite3_stmt* st = nullptr;
  std::string sql = "SELECT * FROM " + quoteIdent(schema) + "." + name + " LIMIT 0";
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  sqlite3_finalize(st);
  if (rc == SQLITE_OK) return false;
  std::string message = sqlite3_errmsg(db);
  return message.rfind("no such table: " + schema + ".", 0) == 0;
}

// Builds the SQLite index and its sysindexes row; `table` must already be in the catalogue.
IndexInfo addIndex(sqlite3* db, const TableInfo& table, const IndexSpec& details, std::string name,
                   bool fromConstraint) {
  std::vector<int32_t> colids;
  std::string cols;
  for (const std::string& c : details.columns) {
    const CatalogColumn* col = nullptr;
    for (const CatalogColumn& tc : table.columns) {
      if (tc.desc.name == c) col = &tc;
    }
    if (!col) throw SqlError(207, 16, "Invalid column name '" + c + "'.");
    if (std::find(colids.begin(), colids.end(), col->colid) != colids.end()) {
      throw SqlError(1903, 16, "Column name '" + c + "' appears more than once in the index key list.");
    }
    colids.push_back(col->colid);
    if (!cols.empty()) cols += ", ";
    cols += quoteIdent(col->sqliteName);
  }
  for (const IndexInfo& i : table.indexes) {
    if (i.name == name) {
      throw SqlError(1913, 16,
                     "There is already an index on table '" + table.name + "' named '" + name + "'.");
    }
    if (details.clustered && i.clustered) {
      throw SqlError(1902, 16,
                     "Cannot create more than one clustered index on table '" + table.name +
                         "'. Drop the existing clustered index '" + i.name + "' before creating another.");
    }
  }
  IndexInfo info;
  info.name = name;
  info.unique = details.unique || details.primaryKey;
  info.clustered = details.clustered;
  info.primaryKey = details.primaryKey;
  info.columns = details.columns;
  if (details.clustered) {
    info.indid = 1;
  } else {
    Stmt st(db, "SELECT max(indid) FROM " + sysTable(table.database, "sysindexes") +
                    " WHERE id = ?1 AND indid BETWEEN 2 AND 250");
    st.bind(1, table.id);
    info.indid = st.step() && !st.isNull(0) ? static_cast<int32_t>(st.integer(0)) + 1 : 2;
    if (info.indid > 250)
      throw SqlError(1910, 16,
                     "Cannot create more than 249 nonclustered indices on table '" + table.name + "'.");
  }
  info.sqliteName = quoteIdent(indexStorageName(storage::unquoteIdent(table.sqliteName), info.indid, name));
  // The index goes into the table's file; the table is named without a schema there.
  std::string sql = std::string("CREATE ") + (info.unique ? "UNIQUE " : "") + "INDEX " +
                    storage::objectSchemaPrefix(db, table.database, table.id) + info.sqliteName + " ON " +
                    table.sqliteName +
                    " (" + cols + ")";
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if ((rc & 0xff) == SQLITE_CONSTRAINT)
      throw SqlError(1505, 16, "Create unique index aborted on duplicate key.");
    storage::execSql(db, sql);  // rethrows SQLite's error in the server's terms
  }
  int minlen = 0, maxlen = 0;
  for (int32_t colid : colids) {
    const CatalogColumn& c = table.columns[static_cast<size_t>(colid - 1)];
    const bool blob = c.desc.type.type == SqlType::Text || c.desc.type.type == SqlType::Image;
    const int32_t length = blob ? 16 : c.desc.type.length;
    if (!isVariable(c.desc.type, c.desc.nullable)) minlen += length;
    maxlen += length;
  }
  int status = (info.unique ? kIndexUnique : 0) | (info.primaryKey ? kIndexPrimaryKey : 0) |
               (details.clustered ? kIndexClustered : 0);
  int status2 = fromConstraint ? kIndexStatus2Constraint : 0;
  if (details.clustered) {
    // The clustered index takes over the table's indid 0 row.
    Stmt del(db, "DELETE FROM " + storage::systemTableOf(table.database, "sysindexes", table.id) +
                     " WHERE id = ?1 AND indid = 0");
    del.bind(1, table.id);
    del.run();
  }
  insertIndexRow(db, table.database, table.id, name, info.indid, status, status2, colids, minlen, maxlen);
  return info;
}

}  // namespace

void requireIdentifierLength(const std::string& name) {
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20) throw SqlError(102, 15, "Incorrect syntax near '" + name + "'.");
  if (name.size() > kMaxIdentifierLength)
    throw SqlError(103, 15,
                   "The identifier that starts with '" + name.substr(0, kMaxIdentifierLength) +
                       "' is too long. Maximum length is " + std::to_string(kMaxIdentifierLength) + ".");
}

TableInfo createTable(sqlite3* db, const TableSpec& details) {
  requireDatabase(db, details.database);
  std::string owner = details.owner.empty() ? std::string("dbo") : details.owner;
  int32_t uid = ownerUid(db, details.database, owner);
  requireFreeName(db, details.database, uid, details.name);
  std::set<std::string> seen;
  int identities = 0;
  for (const ColumnSpec& c : details.columns) {
    if (!seen.insert(lower(c.name)).second) {
      throw SqlError(2705, 16,
                     "Column names in each table must be unique. Column name '" + c.name + "' in table '" +
                         details.name + "' is specified more than once.");
    }
    if (c.identity && ++identities > 1) {
      throw SqlError(2731, 16, "Table '" + details.name + "' cannot have more than one IDENTITY column.");
    }
  }
  int primaryKeys = 0;
  for (const IndexSpec& k : details.constraints) {
    if (k.primaryKey && ++primaryKeys > 1) {
      throw SqlError(1779, 16, "Table '" + details.name + "' already has a primary key defined on it.");
    }
    for (const std::string& col : k.columns) {
      bool found = std::any_of(details.columns.begin(), details.columns.end(),
                               [&](const ColumnSpec& c) { return c.name == col; });
      if (!found) throw SqlError(207, 16, "Invalid column name '" + col + "'.");
    }
  }
  // A #table is its session's own: an id of its own and a table in the connection's TEMP schema.
  const bool own = storage::isSessionObjectName(details.database, details.name);
  auto newId = [&] {
    return own ? storage::allocateSessionObjectId() : storage::allocateObjectId(db, details.database);
  };
  int32_t id = newId();
  std::string sqliteName = newStorageName(db, details.database, id, uid, details.name);
  std::string decl;
  for (const ColumnSpec& c : details.columns) {
    if (!decl.empty()) decl += ", ";
    decl += storage::sqliteColumnDecl(c.name, c.type, c.nullable && !c.identity);
  }
  storage::execSql(
      db, "CREATE TABLE " + storage::objectSchemaPrefix(db, details.database, id) + sqliteName + " (" + decl + ")");
  DateTime now = currentDateTime();
  insertSystemRow(db, details.database, "sysobjects",
                  {{"name", details.name},
                   {"id", int64_t{id}},
                   {"uid", int64_t{uid}},
                   {"type", std::string("U")},
                   {"sysstat", int64_t{kSysstatUserTable}},
                   {"crdate", now},
                   {"expdate", now}});
  std::vector<ColumnRow> rows;
  for (const ColumnSpec& c : details.columns) {
    int32_t cdefault = 0;
    if (c.defaultText) {
      // A column default is an object of its own (type 'D') whose text syscomments keeps.
      cdefault = newId();
      std::string dname = details.name + "_" + c.name + "_" + std::to_string(cdefault);
      insertSystemRow(db, details.database, "sysobjects",
                      {{"name", dname},
                       {"id", int64_t{cdefault}},
                       {"uid", int64_t{uid}},
                       {"type", std::string("D")},
                       {"sysstat", int64_t{kSysstatDefault}},
                       {"crdate", now},
                       {"expdate", now}});
      writeComments(db, details.database, cdefault, "DEFAULT " + *c.defaultText);
    }
    rows.push_back({c.name, c.type, c.nullable && !c.identity, c.identity, c.userType, cdefault});
  }
  int minlen = 0, maxlen = 0;
  writeColumns(db, details.database, id, rows, minlen, maxlen);
  bool clustered = std::any_of(details.constraints.begin(), details.constraints.end(),
                               [](const IndexSpec& k) { return k.clustered; });
  if (!clustered) insertIndexRow(db, details.database, id, details.name, 0, 0, 0, {}, minlen, maxlen);
  if (std::any_of(details.columns.begin(), details.columns.end(),
                  [](const ColumnSpec& c) { return c.identity; })) {
    Stmt st(db, "INSERT OR REPLACE INTO " + storage::objectCountersTable(db, details.database, id) +
                    " (db, object, next) VALUES (?1, ?2, 1)");
    st.bind(1, details.database).bind(2, id);
    st.run();
  }
  TableInfo table = *storage::loadTable(db, details.database, id);
  for (const IndexSpec& k : details.constraints) {
    IndexSpec s = k;
    s.unique = true;
    std::string name =
        k.name.empty() ? details.name + "_" + std::to_string(newId()) : k.name;
    table.indexes.push_back(addIndex(db, table, s, name, true));
  }
  return *storage::loadTable(db, details.database, id);
}

TableInfo addColumn(sqlite3* db, const TableInfo& table, const ColumnSpec& column, const Value& fill) {
  requireIdentifierLength(column.name);
  for (const CatalogColumn& c : table.columns) {
    if (lower(c.desc.name) == lower(column.name)) {
      throw SqlError(2705, 16,
                     "Column names in each table must be unique. Column name '" + column.name +
                         "' in table '" + table.name + "' is specified more than once.");
    }
  }
  // Rows already in the table need a value: a NOT NULL column without one cannot be added, and
  // neither can a second identity column.
  bool nullable = column.nullable && !column.identity;
  if (column.identity && table.identityColumn() >= 0)
    throw SqlError(2731, 16, "Table '" + table.name + "' cannot have more than one IDENTITY column.");
  if (!nullable && !column.identity && isNull(fill)) {
    throw SqlError(4997, 16,
                   "ALTER TABLE '" + table.name +
                       "' failed. Default clause is required in order to add non-NULL column '" +
                       column.name + "'.");
  }
  // SQLite adds a NOT NULL column only with a constant default; the executor enforces NOT NULL
  // on every write anyway, so the SQLite column allows NULL and the rows are filled here.
  storage::execSql(db, "ALTER TABLE " + table.sqliteName + " ADD COLUMN " +
                           storage::sqliteColumnDecl(column.name, column.type, true));
  if (column.identity) {
    // Existing rows are numbered in their storage order, and the counter continues after them.
    storage::execSql(db, "UPDATE " + table.sqliteName + " SET " + quoteIdent(column.name) + " = rowid");
    Stmt max(db, "SELECT coalesce(max(rowid), 0) + 1 FROM " + table.sqliteName);
    max.step();
    Stmt st(db, "INSERT OR REPLACE INTO " + storage::objectCountersTable(db, table.database, table.id) +
                    " (db, object, next) VALUES (?1, ?2, ?3)");
    st.bind(1, table.database).bind(2, table.id).bind(3, max.integer(0));
    st.run();
  } else if (!isNull(fill)) {
    Stmt up(db, "UPDATE " + table.sqliteName + " SET " + quoteIdent(column.name) + " = ?1");
    up.bind(1, fill);
    up.run();
  }
  int32_t cdefault = 0;
  if (column.defaultText) {
    cdefault = storage::isSessionObject(table.database, table.id) ? storage::allocateSessionObjectId()
                                                                  : storage::allocateObjectId(db, table.database);
    DateTime now = currentDateTime();
    insertSystemRow(db, table.database, "sysobjects",
                    {{"name", table.name + "_" + column.name + "_" + std::to_string(cdefault)},
                     {"id", int64_t{cdefault}},
                     {"uid", int64_t{table.uid}},
                     {"type", std::string("D")},
                     {"sysstat", int64_t{kSysstatDefault}},
                     {"crdate", now},
                     {"expdate", now}});
    writeComments(db, table.database, cdefault, "DEFAULT " + *column.defaultText);
  }
  // The new row of syscolumns: the next colid, after the existing fixed or variable part.
  bool variable = isVariable(column.type, nullable);
  bool numeric = column.type.type == SqlType::Numeric || column.type.type == SqlType::Decimal;
  const bool blob = column.type.type == SqlType::Text || column.type.type == SqlType::Image;
  const int32_t length = blob ? 16 : column.type.length;
  Stmt off(db,
           "SELECT coalesce(max(colid), 0), coalesce(min(CASE WHEN offset < 0 THEN offset END), 0), "
           "coalesce(max(CASE WHEN offset >= 0 THEN offset + length END), 2) FROM " +
               sysTable(table.database, "syscolumns") + " WHERE id = ?1 AND number = 0");
  off.bind(1, table.id);
  off.step();
  int64_t colid = off.integer(0) + 1;
  int64_t offset = variable ? off.integer(1) - 1 : off.integer(2);
  int status = (nullable ? 0x08 : 0) | (column.identity ? 0x80 : 0);
  insertSystemRow(db, table.database, "syscolumns",
                  {{"id", int64_t{table.id}},
                   {"number", int64_t{0}},
                   {"colid", colid},
                   {"status", int64_t{status}},
                   {"type", int64_t{columnTypeCode(column.type, nullable)}},
                   {"length", int64_t{length}},
                   {"offset", offset},
                   {"usertype", int64_t{column.userType ? column.userType : userTypeOf(column.type.type)}},
                   {"cdefault", int64_t{cdefault}},
                   {"domain", int64_t{0}},
                   {"name", column.name},
                   {"prec", numeric ? Value(int64_t{column.type.precision}) : Value()},
                   {"scale", numeric ? Value(int64_t{column.type.scale}) : Value()}});
  // The data row's lengths grow with the row.
  Stmt len(db, "UPDATE " + storage::systemTableOf(table.database, "sysindexes", table.id) +
                   " SET minlen = min(32767, minlen + ?2), maxlen = min(32767, maxlen + ?3) WHERE id = ?1 "
                   "AND indid IN (0, 1)");
  len.bind(1, table.id).bind(2, int64_t{variable ? 0 : length}).bind(3, int64_t{length});
  len.run();
  return *storage::loadTable(db, table.database, table.id);
}

void dropTable(sqlite3* db, const TableInfo& table) {
  // The other family's catalogue views have no catalogue rows of their own and are never dropped.
  if (table.owner == storage::kAnywhereOwner && storage::anywhereView(table.database, table.name))
    throw SqlError(3712, 16,
                   "Cannot drop the system catalogue view '" + table.owner + "." + table.name + "'.");
  // Column defaults go with the table.
  Stmt defs(db, "SELECT cdefault FROM " + sysTable(table.database, "syscolumns") +
                    " WHERE id = ?1 AND cdefault <> 0");
  defs.bind(1, table.id);
  std::vector<int32_t> defaults;
  while (defs.step()) defaults.push_back(static_cast<int32_t>(defs.integer(0)));
  for (int32_t d : defaults) {
    Stmt kind(db, "SELECT type FROM " + sysTable(table.database, "sysobjects") + " WHERE id = ?1");
    kind.bind(1, d);
    // Only defaults made for this table's columns; bound shared defaults (sp_bindefault) stay.
    if (kind.step() && storage::rtrimmed(kind.text(0)) == "D") {
      Stmt name(db, "SELECT name FROM " + sysTable(table.database, "sysobjects") + " WHERE id = ?1");
      name.bind(1, d);
      if (name.step() && storage::rtrimmed(name.text(0)).rfind(table.name + "_", 0) == 0) {
        deleteRows(db, table.database, "sysobjects", "id", d);
        deleteRows(db, table.database, "syscomments", "id", d);
      }
    }
  }
  // Triggers go with their table (a trigger's own row names the table in deltrig).
  {
    Stmt trig(db, "SELECT id FROM " + sysTable(table.database, "sysobjects") +
                      " WHERE type = 'TR' AND deltrig = ?1");
    trig.bind(1, table.id);
    std::vector<int32_t> triggers;
    while (trig.step()) triggers.push_back(static_cast<int32_t>(trig.integer(0)));
    for (int32_t t : triggers) {
      deleteRows(db, table.database, "syscomments", "id", t);
      deleteRows(db, table.database, "sysobjects", "id", t);
    }
  }
  if (table.type == "V") {
    // A view over other databases is a definition in its file and a TEMP view per connection
    // (other connections' copies are never reached again: the catalogue no longer names them).
    Stmt defined(db, "DELETE FROM " + storage::schemaPrefix(db, table.database) + storage::kViewsTable +
                         " WHERE name = ?1");
    defined.bind(1, storage::unquoteIdent(table.sqliteName));
    defined.run();
    if (sqlite3_changes(db) > 0)
      storage::execSql(db, "DROP VIEW IF EXISTS temp." + table.sqliteName);
    else
      storage::execSql(db, "DROP VIEW " + storage::schemaPrefix(db, table.database) + table.sqliteName);
  } else {
    storage::execSql(db, "DROP TABLE " + storage::objectSchemaPrefix(db, table.database, table.id) +
                             table.sqliteName);
  }
  deleteRows(db, table.database, "syscolumns", "id", table.id);
  deleteRows(db, table.database, "sysindexes", "id", table.id);
  deleteRows(db, table.database, "syscomments", "id", table.id);
  deleteRows(db, table.database, "sysprotects", "id", table.id);
  // Keys defined on the table, and foreign keys of other tables that point at it.
  deleteRows(db, table.database, "syskeys", "id", table.id);
  deleteRows(db, table.database, "syskeys", "depid", table.id);
  deleteRows(db, table.database, "sysobjects", "id", table.id);
  Stmt st(db, "DELETE FROM " + storage::objectCountersTable(db, table.database, table.id) +
                  " WHERE db = ?1 AND object = ?2");
  st.bind(1, table.database).bind(2, table.id);
  st.run();
}

IndexInfo createIndex(sqlite3* db, const TableInfo& table, const IndexSpec& details) {
  if (details.name.empty()) throw SqlError(102, 15, "Incorrect syntax near 'ON'.");
  return addIndex(db, table, details, details.name, false);
}

void dropIndex(sqlite3* db, const TableInfo& table, const std::string& indexName) {
  Stmt st(db, "SELECT indid, status2, name FROM " + sysTable(table.database, "sysindexes") +
                  " WHERE id = ?1 AND name = ?2 AND indid BETWEEN 1 AND 250");
  st.bind(1, table.id).bind(2, indexName);
  int64_t indid = -1, status2 = 0;
  while (st.step()) {
    if (storage::rtrimmed(st.text(2)) == indexName) {
      indid = st.integer(0);
      status2 = st.integer(1);
    }
  }
  if (indid < 0) {
    throw SqlError(3703, 11,
                   "Cannot drop the index '" + table.name + "." + indexName +
                       "', because it doesn't exist in the system catalogs.");
  }
  if (status2 & kIndexStatus2Constraint) {
    throw SqlError(3723, 16,
                   "An explicit DROP INDEX is not allowed on " + table.name + "." + indexName +
                       ". It is being used for PRIMARY KEY or UNIQUE constraint enforcement.");
  }
  // Under its name; an index of a table an earlier version made may also carry the older
  // "db.owner.table.index" name.
  const std::string tableName = storage::unquoteIdent(table.sqliteName);
  const std::string schema = storage::objectSchemaPrefix(db, table.database, table.id);
  std::string drop = "DROP INDEX IF EXISTS " + schema +
                     quoteIdent(indexStorageName(tableName, static_cast<int32_t>(indid), indexName));
  if (tableName == plainObjectName(table.database, table.owner, table.name))
    drop += "; DROP INDEX IF EXISTS " + schema + quoteIdent(tableName + "." + indexName);
  storage::execSql(db, drop);
  Stmt del(db, "DELETE FROM " + storage::systemTableOf(table.database, "sysindexes", table.id) +
                   " WHERE id = ?1 AND indid = ?2");
  del.bind(1, table.id).bind(2, indid);
  del.run();
  if (indid == 1) {
    // Without its clustered index the table is a heap again.
    int minlen = 0, maxlen = 0;
    for (const CatalogColumn& c : table.columns) {
      if (!isVariable(c.desc.type, c.desc.nullable)) minlen += c.desc.type.length;
      maxlen += c.desc.type.length;
    }
    insertIndexRow(db, table.database, table.id, table.name, 0, 0, 0, {}, minlen, maxlen);
  }
}

TableInfo createView(sqlite3* db, const ViewSpec& details) {
  requireDatabase(db, details.database);
  std::string owner = details.owner.empty() ? std::string("dbo") : details.owner;
  int32_t uid = ownerUid(db, details.database, owner);
  requireFreeName(db, details.database, uid, details.name);
  std::string cols;
  std::set<std::string> seen;
  for (const ColumnDesc& c : details.columns) {
    if (!seen.insert(lower(c.name)).second) {
      throw SqlError(4506, 16,
                     "Column names in each view must be unique. Column name '" + c.name + "' in view '" +
                         details.name + "' is specified more than once.");
    }
    if (!cols.empty()) cols += ", ";
    cols += quoteIdent(c.name);
  }
  int32_t id = storage::allocateObjectId(db, details.database);
  const std::string name = newStorageName(db, details.database, id, uid, details.name);
  const std::string schema = storage::schemaName(db, details.database);
  const std::string body = " (" + cols + ") AS " + details.sqliteSelect;
  storage::execSql(db, "CREATE VIEW " + quoteIdent(schema) + "." + name + body);
  if (readsOtherDatabases(db, schema, name)) {
    // SQLite binds the tables a view in a file names to that file: a view over other databases is
    // kept as its definition and made as a TEMP view on each connection that uses it.
    storage::execSql(db, "DROP VIEW " + quoteIdent(schema) + "." + name);
    Stmt keep(db, "INSERT INTO " + quoteIdent(schema) + "." + storage::kViewsTable +
                      " (name, definition) VALUES (?1, ?2)");
    keep.bind(1, storage::unquoteIdent(name)).bind(2, body);
    keep.run();
    storage::execSql(db, "CREATE TEMP VIEW " + name + body);
  }
  DateTime now = currentDateTime();
  insertSystemRow(db, details.database, "sysobjects",
                  {{"name", details.name},
                   {"id", int64_t{id}},
                   {"uid", int64_t{uid}},
                   {"type", std::string("V")},
                   {"sysstat", int64_t{kSysstatView}},
                   {"crdate", now},
                   {"expdate", now}});
  std::vector<ColumnRow> rows;
  for (const ColumnDesc& c : details.columns)
    rows.push_back({c.name, c.type, c.nullable, c.identity, c.userType, 0});
  int minlen = 0, maxlen = 0;
  writeColumns(db, details.database, id, rows, minlen, maxlen);
  writeComments(db, details.database, id, details.tsqlText);
  return *storage::loadTable(db, details.database, id);
}

void dropView(sqlite3* db, const TableInfo& view) {
  dropTable(db, view);
}

int32_t createTextObject(sqlite3* db, const TextObjectSpec& details) {
  requireDatabase(db, details.database);
  std::string owner = details.owner.empty() ? std::string("dbo") : details.owner;
  int32_t uid = ownerUid(db, details.database, owner);
  requireFreeName(db, details.database, uid, details.name);
  const bool trigger = details.type == "TR";
  const int sysstat = details.type == "R"    ? kSysstatRule
                      : details.type == "D"  ? kSysstatDefault
                      : details.type == "RI" ? kSysstatReferential
                                             : kSysstatTrigger;
  // A check constraint of a #table is its session's own, as the table is.
  const bool own = storage::isSessionObject(details.database, details.tableId) ||
                   storage::isSessionObjectName(details.database, details.name);
  int32_t id = own ? storage::allocateSessionObjectId() : storage::allocateObjectId(db, details.database);
  DateTime now = currentDateTime();
  insertSystemRow(db, details.database, "sysobjects",
                  {{"name", details.name},
                   {"id", int64_t{id}},
                   {"uid", int64_t{uid}},
                   {"type", details.type},
                   {"sysstat", int64_t{sysstat}},
                   {"crdate", now},
                   {"expdate", now},
                   {"deltrig", int64_t{trigger ? details.tableId : 0}}});
  writeComments(db, details.database, id, details.tsqlText);
  if (trigger) {
    for (auto [fires, column] :
         {std::pair{details.onInsert, "instrig"}, std::pair{details.onUpdate, "updtrig"},
          std::pair{details.onDelete, "deltrig"}}) {
      if (!fires) continue;
      Stmt up(db, "UPDATE " + storage::systemTableOf(details.database, "sysobjects", details.tableId) +
                      " SET " + column + " = ?2 WHERE id = ?1");
      up.bind(1, details.tableId).bind(2, id);
      up.run();
    }
  }
  return id;
}

namespace {

// The trimmed sysobjects.type of `id`, or empty.
std::string objectType(sqlite3* db, const std::string& database, int32_t id) {
  Stmt st(db, "SELECT type FROM " + sysTable(database, "sysobjects") + " WHERE id = ?1");
  st.bind(1, id);
  return st.step() ? storage::rtrimmed(st.text(0)) : std::string();
}

void bindObject(sqlite3* db, const std::string& database, int32_t objectId, int32_t tableId, int32_t colid,
                int32_t usertype, const char* kind) {
  const bool rule = std::string_view(kind) == "R";
  if (objectId != 0 && objectType(db, database, objectId) != kind) {
    throw SqlError(rule ? 15102 : 15103, 16,
                   "The object '" + std::to_string(objectId) + "' is not a " + (rule ? "rule." : "default."));
  }
  if (usertype > 0) {
    Stmt up(db, "UPDATE " + sysTable(database, "systypes") + " SET " + (rule ? "domain" : "tdefault") +
                    " = ?2 WHERE usertype = ?1");
    up.bind(1, usertype).bind(2, objectId);
    up.run();
    return;
  }
  Stmt up(db, "UPDATE " + storage::systemTableOf(database, "syscolumns", tableId) + " SET " +
                  (rule ? "domain" : "cdefault") + " = ?3 WHERE id = ?1 AND colid = ?2 AND number = 0");
  up.bind(1, tableId).bind(2, colid).bind(3, objectId);
  up.run();
}

}  // namespace

void bindRule(sqlite3* db, const std::string& database, int32_t objectId, int32_t tableId, int32_t colid,
              int32_t usertype) {
  bindObject(db, database, objectId, tableId, colid, usertype, "R");
}

void bindDefault(sqlite3* db, const std::string& database, int32_t objectId, int32_t tableId, int32_t colid,
                 int32_t usertype) {
  bindObject(db, database, objectId, tableId, colid, usertype, "D");
}

void dropTextObject(sqlite3* db, const std::string& database, int32_t id) {
  std::string type = objectType(db, database, id);
  if (type != "R" && type != "D" && type != "TR" && type != "RI") {
    throw SqlError(3701, 11,
                   "Cannot drop the object '" + std::to_string(id) +
                       "', because it doesn't exist in the system catalogs.");
  }
  if (type == "TR") {
    for (const char* column : {"instrig", "updtrig", "deltrig"}) {
      Stmt up(db, "UPDATE " + sysTable(database, "sysobjects") + " SET " + column + " = 0 WHERE " + column +
                      " = ?1 AND type <> 'TR'");
      up.bind(1, id);
      up.run();
    }
  } else if (type == "RI") {
    deleteRows(db, database, "sysreferences", "constrid", id);
  } else {
    const bool rule = type == "R";
    Stmt used(db, "SELECT 1 FROM " + sysTable(database, "syscolumns") + " WHERE " +
                      (rule ? "domain" : "cdefault") + " = ?1 UNION ALL SELECT 1 FROM " +
                      sysTable(database, "systypes") + " WHERE " + (rule ? "domain" : "tdefault") + " = ?1");
    used.bind(1, id);
    if (used.step()) {
      Stmt name(db, "SELECT name FROM " + sysTable(database, "sysobjects") + " WHERE id = ?1");
      name.bind(1, id);
      name.step();
      throw SqlError(3716, 16,
                     std::string("The ") + (rule ? "rule" : "default") + " '" +
                         storage::rtrimmed(name.text(0)) +
                         "' cannot be dropped because it is bound to one or more column.");
    }
  }
  deleteRows(db, database, "syscomments", "id", id);
  deleteRows(db, database, "sysobjects", "id", id);
}

int64_t nextIdentity(sqlite3* db, const TableInfo& table) {
  IdentityCounter counter(db, table);
  const int64_t next = counter.take();
  counter.flush();
  return next;
}

void noteIdentity(sqlite3* db, const TableInfo& table, int64_t value) {
  IdentityCounter counter(db, table);
  counter.note(value);
  counter.flush();
}

void IdentityCounter::load() {
  if (loaded_) return;
  Stmt sel(db_, "SELECT next FROM " + storage::objectCountersTable(db_, table_.database, table_.id) +
                    " WHERE db = ?1 AND object = ?2");
  sel.bind(1, table_.database).bind(2, table_.id);
  next_ = sel.step() ? sel.integer(0) : 1;
  loaded_ = true;
}

int64_t IdentityCounter::take() {
  load();
  moved_ = true;
  return next_++;
}

void IdentityCounter::note(int64_t value) {
  load();
  if (value + 1 <= next_) return;
  next_ = value + 1;
  moved_ = true;
}

void IdentityCounter::flush() {
  if (!moved_) return;
  Stmt up(db_, "INSERT OR REPLACE INTO " + storage::objectCountersTable(db_, table_.database, table_.id) +
                   " (db, object, next) VALUES (?1, ?2, ?3)");
  up.bind(1, table_.database).bind(2, table_.id).bind(3, next_);
  up.run();
  moved_ = false;
}

}  // namespace tabsrv
