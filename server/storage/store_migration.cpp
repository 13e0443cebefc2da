// Copying an earlier build's single-file store into one file per database.
#include "server/storage/store_migration.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/storage/database_files.h"
#include "server/storage/sql_util.h"
#include "server/storage/store.h"
#include "server/storage/system_tables.h"
#include "server/types/functions.h"

namespace tabsrv::storage {
namespace {

// One entry of the old file's sqlite_master.
struct OldObject {
  std::string type;  // table, index, view
  std::string name;
  std::string table;  // the table an index belongs to
  std::string sql;
};

// The database an object of the old file belongs to: the longest database name its name starts
// with, followed by "." (the server's own tables, "sample.dbo.books" of older versions) or 0x1F
// (tables and views made by DDL). Empty when none.
std::string owningDatabase(const std::string& name, const std::vector<std::string>& databases) {
  std::string best;
  for (const std::string& d : databases) {
    if (name.size() > d.size() && name.compare(0, d.size(), d) == 0 &&
        (name[d.size()] == '.' || name[d.size()] == kIndexSeparator) && d.size() > best.size())
      best = d;
  }
  return best;
}

// The text after "CREATE VIEW <quoted name>" in a view's stored statement: " (cols) AS SELECT ...".
std::optional<std::string> viewBody(const std::string& sql) {
  const std::string head = "CREATE VIEW ";
  if (sql.rfind(head, 0) != 0 || sql.size() <= head.size() || sql[head.size()] != '"') return std::nullopt;
  for (size_t i = head.size() + 1; i < sql.size(); ++i) {
    if (sql[i] != '"') continue;
    if (i + 1 < sql.size() && sql[i + 1] == '"') {
      ++i;
      continue;
    }
    return sql.substr(i + 1);
  }
  return std::nullopt;
}

int64_t countRows(sqlite3* db, const std::string& schema, const std::string& table) {
  Stmt st(db, "SELECT count(*) FROM " + schema + "." + quoteIdent(table));
  st.step();
  return st.integer(0);
}

// The columns of a table as the old file declares them, in order.
std::vector<std::string> columnsOf(sqlite3* db, const std::string& table) {
  std::vector<std::string> out;
  Stmt st(db, "SELECT name FROM pragma_table_info(?1, 'old')");
  st.bind(1, table);
  while (st.step()) out.push_back(st.text(0));
  return out;
}

void copyDatabase(const std::string& oldPath, const std::string& folder, const std::string& database,
                  const std::vector<OldObject>& objects) {
  ConnectionPtr db(openDatabaseConnection(folder, database));
  sqlite3* n = db.get();
  {
    Stmt attach(n, "ATTACH DATABASE ?1 AS old");
    attach.bind(1, oldPath);
    attach.run();
  }
  execSql(n, "BEGIN");
  try {
    createInternalTables(n, database);
    {
      Stmt counters(n, std::string("INSERT INTO main.") + kCountersTable +
                           " SELECT db, object, next FROM old." + kCountersTable + " WHERE db = ?1");
      counters.bind(1, database);
      counters.run();
    }
    // Tables with their rows first, then their indexes, then views in the order they were made
    // (a view over another view comes after it).
    for (const OldObject& o : objects) {
      if (o.type != "table") continue;
      execSql(n, o.sql);
      std::string cols = "rowid";
      for (const std::string& c : columnsOf(n, o.name)) cols += ", " + quoteIdent(c);
      execSql(n, "INSERT INTO main." + quoteIdent(o.name) + " (" + cols + ") SELECT " + cols + " FROM old." +
                     quoteIdent(o.name));
    }
    for (const OldObject& o : objects)
      if (o.type == "index") execSql(n, o.sql);
    for (const OldObject& o : objects) {
      if (o.type != "view") continue;
      execSql(n, o.sql);
      sqlite3_stmt* probe = nullptr;
      std::string sql = "SELECT * FROM main." + quoteIdent(o.name) + " LIMIT 0";
      int rc = sqlite3_prepare_v2(n, sql.c_str(), -1, &probe, nullptr);
      sqlite3_finalize(probe);
      if (rc == SQLITE_OK || std::string(sqlite3_errmsg(n)).rfind("no such table: main.", 0) != 0) continue;
      // A view over other databases' tables: kept as its definition (see kViewsTable).
      auto body = viewBody(o.sql);
      if (!body) continue;
      execSql(n, "DROP VIEW main." + quoteIdent(o.name));
      Stmt keep(n, std::string("INSERT INTO main.") + kViewsTable + " (name, definition) VALUES (?1, ?2)");
      keep.bind(1, o.name).bind(2, *body);
      keep.run();
    }
    for (const OldObject& o : objects) {
      if (o.type != "table") continue;
      int64_t before = countRows(n, "old", o.name), after = countRows(n, "main", o.name);
      if (before != after)
        throw std::runtime_error("copy of " + o.name + " holds " + std::to_string(after) +
                                 " rows instead of " + std::to_string(before));
    }
    execSql(n, "COMMIT");
  } catch (...) {
    sqlite3_exec(n, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  execSql(n, "DETACH DATABASE old");
}

}  // namespace

void copySingleFileStore(const std::string& oldPath, const std::string& folder) {
  std::vector<std::string> databases;
  std::vector<OldObject> objects;
  {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(oldPath.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      std::string msg = raw ? sqlite3_errmsg(raw) : "cannot open";
      sqlite3_close_v2(raw);
      throw std::runtime_error("cannot open " + oldPath + ": " + msg);
    }
    ConnectionPtr old(raw);
    registerFunctions(raw);
    {
      Stmt st(raw, "SELECT name FROM " + sqliteObjectName("master", "dbo", "sysdatabases"));
      while (st.step()) databases.push_back(rtrimmed(st.text(0)));
    }
    Stmt st(raw,
            "SELECT type, name, tbl_name, sql FROM sqlite_master WHERE sql IS NOT NULL AND type IN ('table', "
            "'index', 'view') ORDER BY rowid");
    while (st.step()) objects.push_back({st.text(0), st.text(1), st.text(2), st.text(3)});
  }
  const std::string building = folder + ".copying";
  std::filesystem::remove_all(building);
  std::filesystem::create_directories(building);
  for (const std::string& d : databases) {
    std::vector<OldObject> own;
    for (const OldObject& o : objects)
      if (owningDatabase(o.type == "index" ? o.table : o.name, databases) == d) own.push_back(o);
    copyDatabase(oldPath, building, d, own);
  }
  std::filesystem::rename(building, folder);
}

}  // namespace tabsrv::storage
