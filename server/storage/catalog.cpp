// Name resolution and catalogue reads: databases, users, and a table's or view's description
// built from sysobjects, syscolumns, sysindexes and syscomments.
#include "server/storage/catalog.h"

#include <algorithm>
#include <cctype>

#include "server/core/message.h"
#include "server/storage/anywhere_views.h"
#include "server/storage/catalog_internal.h"
#include "server/storage/database_files.h"
#include "server/storage/session_tables.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using storage::quoteIdent;
using storage::rtrimmed;
using storage::Stmt;

std::string plainObjectName(const std::string& database, const std::string& owner, const std::string& name) {
  return database + "." + owner + "." + name;
}

std::string plainIndexName(const std::string& database, const std::string& owner, const std::string& table,
                           const std::string& index) {
  return plainIndexName(plainObjectName(database, owner, table), index);
}

std::string plainIndexName(const std::string& tablePlainName, const std::string& index) {
  return tablePlainName + kIndexSeparator + index;
}

std::string storageObjectName(const std::string& database, int32_t id, const std::string& owner,
                              const std::string& name) {
  return database + kIndexSeparator + std::to_string(id) + kIndexSeparator + owner + "." + name;
}

std::string indexStorageName(const std::string& tablePlainName, int32_t indid, const std::string& index) {
  std::string database;
  int32_t id = 0;
  if (!parseStorageObjectName(tablePlainName, database, id)) return plainIndexName(tablePlainName, index);
  return tablePlainName + kIndexSeparator + std::to_string(indid) + kIndexSeparator + index;
}

bool parseStorageObjectName(const std::string& plainName, std::string& database, int32_t& id) {
  size_t first = plainName.find(kIndexSeparator);
  if (first == std::string::npos || first == 0) return false;
  size_t second = plainName.find(kIndexSeparator, first + 1);
  if (second == std::string::npos || second == first + 1 || second - first > 11) return false;
  int64_t value = 0;
  for (size_t i = first + 1; i < second; ++i) {
    char c = plainName[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > INT32_MAX) return false;
  database = plainName.substr(0, first);
  id = static_cast<int32_t>(value);
  return true;
}

std::string sqliteObjectName(const std::string& database, const std::string& owner, const std::string& name) {
  // tempdb's system tables that hold rows of the sessions' #tables are read and written through
  // the connection's view that adds the session's own rows.
  if (owner == "dbo") return storage::quoteIdent(systemTableReadName(database, name));
  return storage::quoteIdent(plainObjectName(database, owner, name));
}

int TableInfo::identityColumn() const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].identity) return static_cast<int>(i);
  }
  return -1;
}

const CatalogColumn* TableInfo::findColumn(const std::string& n) const {
  for (const CatalogColumn& c : columns) {
    if (c.desc.name == n) return &c;
  }
  auto lower = [](std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  std::string ln = lower(n);
  for (const CatalogColumn& c : columns) {
    if (lower(c.desc.name) == ln) return &c;
  }
  return nullptr;
}

// --- databases ---------------------------------------------------------------------------------

static std::string sysTable(const std::string& database, const char* table) {
  return sqliteObjectName(database, "dbo", table);
}

std::optional<DatabaseInfo> findDatabase(sqlite3* db, const std::string& name) {
  Stmt st(db, "SELECT name, dbid, suid FROM " + sysTable("master", "sysdatabases") + " WHERE name = ?1");
  st.bind(1, name);
  if (!st.step()) return std::nullopt;
  return DatabaseInfo{rtrimmed(st.text(0)), static_cast<int32_t>(st.integer(1)),
                      static_cast<int32_t>(st.integer(2))};
}

std::optional<DatabaseInfo> findDatabase(sqlite3* db, int32_t dbid) {
  Stmt st(db, "SELECT name, dbid, suid FROM " + sysTable("master", "sysdatabases") + " WHERE dbid = ?1");
  st.bind(1, dbid);
  if (!st.step()) return std::nullopt;
  return DatabaseInfo{rtrimmed(st.text(0)), static_cast<int32_t>(st.integer(1)),
                      static_cast<int32_t>(st.integer(2))};
}

bool databaseExists(sqlite3* db, const std::string& name) {
  // Names compare exactly: the RTRIM collation of sysname would also match 'master ' otherwise.
  auto d = findDatabase(db, name);
  return d && d->name == name;
}

std::vector<DatabaseInfo> listDatabases(sqlite3* db) {
  Stmt st(db, "SELECT name, dbid, suid FROM " + sysTable("master", "sysdatabases") + " ORDER BY name");
  std::vector<DatabaseInfo> out;
  while (st.step()) {
    out.push_back(
        {rtrimmed(st.text(0)), static_cast<int32_t>(st.integer(1)), static_cast<int32_t>(st.integer(2))});
  }
  return out;
}

// --- users -------------------------------------------------------------------------------------

static std::optional<DbUser> userWhere(sqlite3* db, const std::string& database, const std::string& where,
                                       const Value& param) {
  Stmt st(db, "SELECT uid, suid, gid, name FROM " + sysTable(database, "sysusers") + " WHERE " + where);
  st.bind(1, param);
  if (!st.step()) return std::nullopt;
  return DbUser{static_cast<int32_t>(st.integer(0)), static_cast<int32_t>(st.integer(1)),
                static_cast<int32_t>(st.integer(2)), rtrimmed(st.text(3))};
}

std::optional<DbUser> findUser(sqlite3* db, const std::string& database, const std::string& name) {
  if (!databaseExists(db, database)) return std::nullopt;
  return userWhere(db, database, "name = ?1", name);
}

std::optional<DbUser> findUserForLogin(sqlite3* db, const std::string& database, int32_t suid) {
  auto info = findDatabase(db, database);
  if (!info || info->name != database) return std::nullopt;
  // sa and the database's owner act as dbo everywhere.
  if (suid == 1 || suid == info->suid) return userWhere(db, database, "uid = ?1", int64_t{1});
  if (auto u = userWhere(db, database, "suid = ?1", int64_t{suid})) return u;
  return userWhere(db, database, "name = ?1", std::string("guest"));
}

// --- objects -----------------------------------------------------------------------------------

namespace {

// The type of a syscolumns row: built-in usertypes map directly; user-defined types (>= 100) go
// through their systypes row to the base type code.
TypeDesc columnTypeAsStored(sqlite3* db, const std::string& database, int32_t usertype, int32_t type,
                            int32_t length, int32_t prec, int32_t scale) {
  if (usertype < 100) {
    if (auto t = typeFromUserType(usertype, length, prec, scale)) return *t;
  } else {
    Stmt st(db, "SELECT type FROM " + sysTable(database, "systypes") + " WHERE usertype = ?1");
    st.bind(1, usertype);
    if (st.step()) type = static_cast<int32_t>(st.integer(0));
  }
  if (auto t = typeFromCode(type, length, prec, scale)) return *t;
  return makeType(SqlType::VarChar, length);
}

// syscolumns holds 16 (the text pointer's size) as the length of a text or image column, as the
// family does; the column itself holds values of any length.
TypeDesc columnType(sqlite3* db, const std::string& database, int32_t usertype, int32_t type, int32_t length,
                    int32_t prec, int32_t scale) {
  TypeDesc t = columnTypeAsStored(db, database, usertype, type, length, prec, scale);
  if (t.type == SqlType::Text || t.type == SqlType::Image) t.length = 2147483647;
  return t;
}

// Strips the "DEFAULT " prefix kept in a column default's syscomments text.
std::string defaultExpression(std::string text) {
  std::string_view v(text);
  size_t i = 0;
  while (i < v.size() && v[i] == ' ') ++i;
  if (v.size() - i >= 7) {
    std::string head(v.substr(i, 7));
    for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (head == "DEFAULT") {
      i += 7;
      while (i < v.size() && v[i] == ' ') ++i;
      return std::string(v.substr(i));
    }
  }
  return text;
}

}  // namespace

namespace storage {

bool schemaHas(sqlite3* db, const std::string& database, const std::string& plainName, bool view) {
  const std::string schema = schemaName(db, database);
  // A table: SQLite's own schema lookup, a hash probe without a statement (it refuses views).
  if (!view)
    return sqlite3_table_column_metadata(db, schema.c_str(), plainName.c_str(), nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr) == SQLITE_OK;
  // A view reading other databases is kept as a definition and made as a TEMP view where used.
  Stmt defined(db, "SELECT 1 FROM " + quoteIdent(schema) + "." + kViewsTable + " WHERE name = ?1");
  defined.bind(1, plainName);
  if (defined.step()) return true;
  Stmt st(db, "SELECT 1 FROM " + quoteIdent(schema) + ".sqlite_master WHERE type = 'view' AND name = ?1");
  st.bind(1, plainName);
  return st.step();
}

std::string storedName(sqlite3* db, const std::string& database, const TableInfo& t) {
  // The server's own tables keep their readable names (tempdb's are read with the session's rows).
  if (t.type == "S") return storage::unquoteIdent(sqliteObjectName(database, t.owner, t.name));
  std::string current = storageObjectName(database, t.id, t.owner, t.name);
  // A session's #table is in its connection's TEMP schema, and no earlier version made one.
  if (storage::isSessionObject(database, t.id)) return current;
  const bool view = t.type == "V";
  if (schemaHas(db, database, current, view)) return current;
  // Made by an earlier version, which named tables and views "db.owner.name".
  std::string earlier = plainObjectName(database, t.owner, t.name);
  if (schemaHas(db, database, earlier, view)) return earlier;
  return current;
}

// Loads the description of object `id` in `database` (a table or view); nothing when absent.
std::optional<TableInfo> loadTable(sqlite3* db, const std::string& database, int32_t id) {
  Stmt obj(db, "SELECT o.name, o.uid, o.type, u.name FROM " + sysTable(database, "sysobjects") +
                   " o LEFT JOIN " + sysTable(database, "sysusers") + " u ON u.uid = o.uid WHERE o.id = ?1");
  obj.bind(1, id);
  if (!obj.step()) return std::nullopt;
  TableInfo t;
  t.database = database;
  t.name = rtrimmed(obj.text(0));
  t.uid = static_cast<int32_t>(obj.integer(1));
  t.type = rtrimmed(obj.text(2));
  t.owner = obj.isNull(3) ? std::string("dbo") : rtrimmed(obj.text(3));
  t.id = id;
  t.sqliteName = storage::quoteIdent(storedName(db, database, t));
  Stmt cols(db, "SELECT colid, name, type, length, prec, scale, usertype, status, cdefault FROM " +
                    sysTable(database, "syscolumns") + " WHERE id = ?1 AND number = 0 ORDER BY colid");
  cols.bind(1, id);
  while (cols.step()) {
    CatalogColumn c;
    c.colid = static_cast<int32_t>(cols.integer(0));
    c.desc.name = rtrimmed(cols.text(1));
    c.sqliteName = c.desc.name;
    int32_t status = static_cast<int32_t>(cols.integer(7));
    c.desc.type = columnType(db, database, static_cast<int32_t>(cols.integer(6)),
                             static_cast<int32_t>(cols.integer(2)), static_cast<int32_t>(cols.integer(3)),
                             static_cast<int32_t>(cols.integer(4)), static_cast<int32_t>(cols.integer(5)));
    c.desc.nullable = (status & 0x08) != 0;
    c.identity = (status & 0x80) != 0;
    c.desc.identity = c.identity;
    c.desc.userType = static_cast<int32_t>(cols.integer(6));
    c.desc.tableName = t.name;
    int64_t cdefault = cols.integer(8);
    if (cdefault != 0) {
      if (auto text = objectText(db, database, static_cast<int32_t>(cdefault)))
        c.defaultText = defaultExpression(*text);
    }
    t.columns.push_back(std::move(c));
  }
  Stmt idx(db, "SELECT name, indid, status, keys1 FROM " + sysTable(database, "sysindexes") +
                   " WHERE id = ?1 AND indid BETWEEN 1 AND 250 ORDER BY indid");
  idx.bind(1, id);
  while (idx.step()) {
    IndexInfo i;
    i.name = rtrimmed(idx.text(0));
    i.indid = static_cast<int32_t>(idx.integer(1));
    int64_t status = idx.integer(2);
    i.unique = (status & 2) != 0;
    i.primaryKey = (status & 0x800) != 0;
    i.clustered = i.indid == 1;
    Bytes keys = idx.blob(3);
    for (size_t k = 0; k + 1 < keys.size(); k += 2) {
      int colid = keys[k] | (keys[k + 1] << 8);
      for (const CatalogColumn& c : t.columns) {
        if (c.colid == colid) i.columns.push_back(c.desc.name);
      }
    }
    i.sqliteName =
        storage::quoteIdent(indexStorageName(storage::unquoteIdent(t.sqliteName), i.indid, i.name));
    t.indexes.push_back(std::move(i));
  }
  return t;
}

// The uids to try for an unqualified name: the current user's, then dbo's.
std::vector<int32_t> candidateOwners(sqlite3* db, const std::string& database, const std::string& owner,
                                     const std::string& currentUser) {
  std::vector<int32_t> uids;
  if (!owner.empty()) {
    if (auto u = userWhere(db, database, "name = ?1", owner)) uids.push_back(u->uid);
    return uids;
  }
  if (auto u = userWhere(db, database, "name = ?1", currentUser)) uids.push_back(u->uid);
  if (std::find(uids.begin(), uids.end(), 1) == uids.end()) uids.push_back(1);
  return uids;
}

void requireDatabaseFile(sqlite3* db, const std::string& database) {
  if (!hasDatabaseFile(db, database))
    throw SqlError(926, 14,
                   "Database '" + database + "' cannot be opened: its file is missing from the data directory.");
}

std::string effectiveDatabase(const ObjectRef& ref, const std::string& currentDb) {
  if (!ref.database.empty()) return ref.database;
  if (!ref.name.empty() && ref.name[0] == '#') return "tempdb";
  return currentDb;
}

}  // namespace storage

std::optional<int32_t> resolveObjectId(sqlite3* db, const ObjectRef& ref, const std::string& currentDb,
                                       const std::string& currentUser) {
  std::string database = storage::effectiveDatabase(ref, currentDb);
  if (ref.name.empty() || !databaseExists(db, database)) return std::nullopt;
  storage::requireDatabaseFile(db, database);
  for (int32_t uid : storage::candidateOwners(db, database, ref.owner, currentUser)) {
    Stmt st(db, "SELECT id, name FROM " + sysTable(database, "sysobjects") + " WHERE name = ?1 AND uid = ?2");
    st.bind(1, ref.name).bind(2, uid);
    while (st.step()) {
      if (rtrimmed(st.text(1)) == ref.name) return static_cast<int32_t>(st.integer(0));
    }
  }
  return std::nullopt;
}

std::optional<TableInfo> resolveTable(sqlite3* db, const ObjectRef& ref, const std::string& currentDb,
                                      const std::string& currentUser) {
  std::string database = storage::effectiveDatabase(ref, currentDb);
  if (ref.name.empty() || !databaseExists(db, database)) return std::nullopt;
  storage::requireDatabaseFile(db, database);
  for (int32_t uid : storage::candidateOwners(db, database, ref.owner, currentUser)) {
    Stmt st(db, "SELECT id, name FROM " + sysTable(database, "sysobjects") +
                    " WHERE name = ?1 AND uid = ?2 AND type IN ('U', 'S', 'V')");
    st.bind(1, ref.name).bind(2, uid);
    while (st.step()) {
      if (rtrimmed(st.text(1)) == ref.name)
        return storage::loadTable(db, database, static_cast<int32_t>(st.integer(0)));
    }
  }
  // The other family's catalogue views: SYS.SYSTABLE, or SYSTABLE when no table has that name.
  bool sysOwner = ref.owner.size() == 3 && std::toupper(static_cast<unsigned char>(ref.owner[0])) == 'S' &&
                  std::toupper(static_cast<unsigned char>(ref.owner[1])) == 'Y' &&
                  std::toupper(static_cast<unsigned char>(ref.owner[2])) == 'S';
  if (ref.owner.empty() || sysOwner) return storage::anywhereView(database, ref.name);
  return std::nullopt;
}

std::optional<std::string> objectText(sqlite3* db, const std::string& database, int32_t objectId) {
  Stmt st(db, "SELECT text FROM " + sysTable(database, "syscomments") +
                  " WHERE id = ?1 ORDER BY number, colid2, colid");
  st.bind(1, objectId);
  std::optional<std::string> out;
  while (st.step()) {
    if (!out) out.emplace();
    *out += st.text(0);
  }
  return out;
}

}  // namespace tabsrv
