// The connection's own store of #tables and the TEMP views of tempdb's system tables that show
// them beside tempdb's own rows (see the header).
#include "server/storage/session_tables.h"

#include <atomic>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/storage/database_files.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"

namespace tabsrv::storage {
namespace {

// tempdb's system tables whose rows belong to an object (by their id column): isSessionSplitTable.
constexpr const char* kSplitTables[] = {"sysobjects", "sysindexes", "syscolumns",
                                        "syscomments", "sysprotects", "syskeys"};

// The session's own copy of tempdb's `table`: "#tempdb.dbo.sysobjects" in temp. The name ends in
// ".sysobjects" as the shared table's does, so the catalogue cache sees its changes.
std::string ownTableName(const std::string& table) {
  return "#" + plainObjectName("tempdb", "dbo", table);
}

constexpr char kOwnCounters[] = "#tempdb.tabulon_counters";

std::atomic<int32_t> gNextSessionObjectId{kSessionObjectIdBase};

// The statements that make the view of `table`, the session's copy and the triggers that send
// each written row to the copy (a session's object) or to tempdb's table.
std::string viewSql(const SysTableDef& def) {
  const std::string table = def.name;
  const std::string shared = quoteIdent(plainObjectName("tempdb", "dbo", table));
  const std::string own = quoteIdent(ownTableName(table));
  const std::string view = quoteIdent(sessionViewName(table));
  const std::string base = std::to_string(kSessionObjectIdBase);
  std::string decl, cols, newValues, assign, matchOld;
  for (const SysColumnDef& c : def.columns) {
    const std::string q = quoteIdent(c.name);
    const std::string sep = cols.empty() ? "" : ", ";
    decl += sep + sqliteColumnDecl(c.name, parseColumnType(c.type).type, c.nullable);
    cols += sep + q;
    newValues += sep + "NEW." + q;
    assign += sep + q + " = NEW." + q;
    matchOld += " AND " + q + " IS OLD." + q;
  }
  const std::string ownRow = "NEW.\"id\" >= " + base;
  const std::string ownOld = "OLD.\"id\" >= " + base;
  std::string sql = "CREATE TEMP TABLE " + own + " (" + decl + ");\n";
  for (const SystemIndexDef& i : systemIndexes()) {
    if (table != i.table) continue;
    sql += "CREATE INDEX temp." + quoteIdent(plainIndexName(ownTableName(table), i.name)) + " ON " + own + " (" +
           i.columns + ");\n";
  }
  // The names inside are not qualified: a TEMP view or trigger finds tempdb's table in whichever
  // schema holds tempdb on this connection (main or an attachment; SQLite does not allow a
  // qualified name as the target of a trigger's statement).
  sql += "CREATE TEMP VIEW " + view + " AS SELECT " + cols + " FROM " + shared + " UNION ALL SELECT " + cols +
         " FROM " + own + ";\n";
  sql += "CREATE TEMP TRIGGER " + quoteIdent(sessionViewName(table) + "\x1finsert") + " INSTEAD OF INSERT ON " +
         view + " BEGIN INSERT INTO " + own + " (" + cols + ") SELECT " + newValues + " WHERE " + ownRow +
         "; INSERT INTO " + shared + " (" + cols + ") SELECT " + newValues + " WHERE NOT coalesce(" + ownRow +
         ", 0); END;\n";
  sql += "CREATE TEMP TRIGGER " + quoteIdent(sessionViewName(table) + "\x1fupdate") + " INSTEAD OF UPDATE ON " +
         view + " BEGIN UPDATE " + own + " SET " + assign + " WHERE " + ownOld + matchOld + "; UPDATE " + shared +
         " SET " + assign + " WHERE NOT coalesce(" + ownOld + ", 0)" + matchOld + "; END;\n";
  sql += "CREATE TEMP TRIGGER " + quoteIdent(sessionViewName(table) + "\x1f" "delete") + " INSTEAD OF DELETE ON " +
         view + " BEGIN DELETE FROM " + own + " WHERE " + ownOld + matchOld + "; DELETE FROM " + shared +
         " WHERE NOT coalesce(" + ownOld + ", 0)" + matchOld + "; END;\n";
  return sql;
}

// Every statement that makes the connection's store, built once.
const std::string& installSql() {
  static const std::string sql = [] {
    std::string s;
    for (const char* table : kSplitTables) s += viewSql(*findSystemTable(table));
    s += "CREATE TEMP TABLE " + quoteIdent(kOwnCounters) +
         " (db TEXT NOT NULL, object INTEGER NOT NULL, next INTEGER NOT NULL, PRIMARY KEY (db, object));\n";
    return s;
  }();
  return sql;
}

}  // namespace

int32_t allocateSessionObjectId() {
  return gNextSessionObjectId.fetch_add(1, std::memory_order_relaxed);
}

std::string sessionViewName(const std::string& table) {
  return systemTableReadName("tempdb", table);
}

std::string systemTableOf(const std::string& database, const std::string& table, int32_t objectId) {
  if (!isSessionSplitTable(database, table)) return sqliteObjectName(database, "dbo", table);
  return quoteIdent(isSessionObject(database, objectId) ? ownTableName(table)
                                                       : plainObjectName(database, "dbo", table));
}

TableInfo changedRowsOf(TableInfo t) {
  if (t.type == "S" && t.owner == "dbo" && isSessionSplitTable(t.database, t.name))
    t.sqliteName = quoteIdent(plainObjectName(t.database, "dbo", t.name));
  return t;
}

std::string objectSchemaPrefix(sqlite3* db, const std::string& database, int32_t id) {
  if (isSessionObject(database, id)) return "temp.";
  return schemaPrefix(db, database);
}

std::string objectCountersTable(sqlite3* db, const std::string& database, int32_t id) {
  if (isSessionObject(database, id)) return "temp." + quoteIdent(kOwnCounters);
  return countersTable(db, database);
}

bool makeSessionTablesFor(sqlite3* db, std::string_view missing) {
  if (missing.size() < 8 || missing.substr(0, 7) != "tempdb." || missing.find('\x1f') == std::string_view::npos)
    return false;
  bool known = false;
  for (const char* t : kSplitTables) known = known || missing == sessionViewName(t);
  if (!known) return false;
  // Made here while the statement that needs them waits; when some of it is there already (it
  // cannot be, short of a failed earlier attempt), the savepoint takes all of it back.
  if (sqlite3_exec(db, "SAVEPOINT session_tables", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  if (sqlite3_exec(db, installSql().c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(db, "ROLLBACK TO session_tables; RELEASE session_tables", nullptr, nullptr, nullptr);
    return false;
  }
  return sqlite3_exec(db, "RELEASE session_tables", nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace tabsrv::storage
