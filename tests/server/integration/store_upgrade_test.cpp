// A data directory made by an earlier build (every database in one file, tabulon.db) opens with
// every row: the server copies it into one file per database at its first start, keeps the old
// file, and adds the system tables' indexes. The old file is rebuilt from a dump of a directory
// that build made (tests/server/storage/data/single_file_store_setup.sql is what was run there),
// with one more committed row left only in its write-ahead log, as a killed server leaves it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "server/types/functions.h"
#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

#ifndef TABULON_SOURCE_DIR
#error "TABULON_SOURCE_DIR must name the source tree"
#endif

namespace {

using tabtest::CtBatch;
using tabtest::CtClient;
using tabtest::ServerFixture;
namespace fs = std::filesystem;

std::string scalar(CtClient& c, const std::string& sql) {
  CtBatch b = c.run(sql);
  if (const auto* e = b.firstError()) return "error " + std::to_string(e->number) + ": " + e->text;
  for (const auto& set : b.sets)
    if (!set.rows.empty() && set.rows[0][0]) return *set.rows[0][0];
  return "<none>";
}

std::vector<std::string> rows(CtClient& c, const std::string& sql) {
  std::vector<std::string> out;
  CtBatch b = c.run(sql);
  if (const auto* e = b.firstError()) return {"error " + std::to_string(e->number) + ": " + e->text};
  for (const auto& set : b.sets)
    for (const auto& r : set.rows) out.push_back(tabtest::formatRow(r));
  return out;
}

std::string readDump() {
  const std::string path =
      std::string(TABULON_SOURCE_DIR) + "/tests/server/storage/data/single_file_store.sql.gz";
  FILE* in = ::popen(("gzip -dc '" + path + "'").c_str(), "r");
  if (!in) return {};
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
  ::pclose(in);
  return text;
}

sqlite3* openOld(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return nullptr;
  tabsrv::registerFunctions(db);
  return db;
}

// Writes the earlier build's single file into `dir`: the dump, in WAL mode as that build kept it,
// then one committed row that only the write-ahead log holds (a child process commits and ends
// without closing, as kill -9 would leave it).
void writeSingleFileStore(const std::string& dir) {
  const std::string path = dir + "/tabulon.db";
  std::string dump = readDump();
  ASSERT_GT(dump.size(), 100000u) << "the dump could not be read";
  sqlite3* db = openOld(path);
  ASSERT_TRUE(db);
  ASSERT_EQ(sqlite3_exec(db, dump.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr), SQLITE_OK);
  // sample..counts was made by DDL: its SQLite name carries its object id.
  std::string counts;
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(
                db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE 'sample_%dbo.counts'",
                -1, &st, nullptr),
            SQLITE_OK);
  if (sqlite3_step(st) == SQLITE_ROW) counts = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  ASSERT_FALSE(counts.empty());
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* w = openOld(path);
    const std::string insert =
        "PRAGMA wal_autocheckpoint = 0; INSERT INTO \"" + counts + "\" VALUES ('late', 3)";
    ::_exit(sqlite3_exec(w, insert.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : 1);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the late row was not written";
  ASSERT_TRUE(fs::exists(path + "-wal"));
  ASSERT_GT(fs::file_size(path + "-wal"), 0u);
}

// The names of the SQLite indexes in one database file.
std::vector<std::string> indexesOf(const std::string& file) {
  std::vector<std::string> names;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return names;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'index'", -1, &st, nullptr) ==
      SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string n = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      names.push_back(n.substr(n.rfind('\x1f') + 1));
    }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return names;
}

bool has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(StoreUpgrade, ADataDirectoryOfTheSingleFileLayoutOpensWithEveryRow) {
  ServerFixture server;
  server.stop();
  const std::string data = server.dataDir();
  fs::remove_all(data);
  fs::create_directories(data);
  writeSingleFileStore(data);
  const auto oldSize = fs::file_size(data + "/tabulon.db");
  server.start();

  CtClient sa;
  ASSERT_TRUE(sa.connect());
  struct Case {
    const char* what;
    const char* sql;
    std::vector<std::string> rows;
  } cases[] = {
      {"a user database's rows, exact money values",
       "select id, name, price from shop..items order by id",
       {"1 | apple | 1.2500", "2 | pear | 2.5000", "3 | plum | 0.7500", "4 | kiwi | 3.0000"}},
      {"text values and NULLs", "select n, body from shop..notes order by n", {"1 | first note", "2 | NULL"}},
      {"a view of its own database", "select name from shop..cheap order by name", {"apple", "plum"}},
      {"a view over another database", "select count(*) from shop..with_titles", {"0"}},
      {"what the trigger wrote", "select count(*) from shop..audit", {"1"}},
      {"the sample's own rows",
       "select count(*) from sample..books",
       {scalar(sa, "select count(*) from sample..books")}},
      {"a row only the write-ahead log held",
       "select k, v from sample..counts order by v",
       {"a | 1", "b | 2", "late | 3"}},
      {"users and grants",
       "select count(*) from shop..sysprotects p, shop..sysusers u where p.uid = u.uid and u.name = 'ann'",
       {"1"}},
      {"tempdb starts empty", "select count(*) from tempdb..sysobjects where name = 'scratch'", {"0"}},
  };
  for (const Case& c : cases) EXPECT_EQ(rows(sa, c.sql), c.rows) << c.what;
  EXPECT_NE(scalar(sa, "select count(*) from sample..books"), "0");

  // What the copied catalogue still does: the identity goes on, the unique index holds, the
  // trigger fires, the procedure runs, the login's password and rights work.
  EXPECT_EQ(rows(sa, "insert shop..items (name, price) values ('fig', 1.00) select @@identity"),
            std::vector<std::string>{"5"});
  EXPECT_EQ(scalar(sa, "select count(*) from shop..audit"), "2");
  CtBatch duplicate = sa.run("insert shop..items (name, price) values ('apple', 9)");
  ASSERT_TRUE(duplicate.firstError());
  EXPECT_EQ(duplicate.firstError()->number, 2601);
  EXPECT_EQ(rows(sa, "use shop declare @n int exec item_count @n output select @n").back(), "5");
  // The old database gained the table of foreign keys: a new one is kept and enforced.
  EXPECT_EQ(scalar(sa, "select count(*) from shop..sysreferences"), "0");
  ASSERT_FALSE(sa.run("create table shop..item_notes (item int not null references shop..items (id))").firstError());
  EXPECT_EQ(scalar(sa, "select count(*) from shop..sysreferences"), "1");
  EXPECT_EQ(scalar(sa, "insert shop..item_notes values (99)").substr(0, 9), "error 547");
  CtClient ann;
  ASSERT_TRUE(ann.connect("DSQUERY", "ann", "secret12"));
  EXPECT_EQ(scalar(ann, "select count(*) from shop..items"), "5");
  EXPECT_EQ(scalar(ann, "delete shop..items").substr(0, 9), "error 229");
  ann.close();
  sa.close();

  // The old file is kept as it was, beside one file per database with its system indexes.
  server.stop();
  EXPECT_EQ(fs::file_size(data + "/tabulon.db"), oldSize);
  for (const char* d : {"master", "tempdb", "model", "sample", "sybsystemprocs", "shop"}) {
    const std::string file = data + "/databases/" + d + ".db";
    ASSERT_TRUE(fs::exists(file)) << file;
    auto indexes = indexesOf(file);
    for (const char* index : {"csysobjects", "ncsysobjects", "csyscolumns", "csysindexes", "csyscomments"})
      EXPECT_TRUE(has(indexes, index)) << d << " lacks " << index;
  }
  EXPECT_TRUE(has(indexesOf(data + "/databases/master.db"), "csysdatabases"));
  EXPECT_TRUE(has(indexesOf(data + "/databases/master.db"), "ncsyslogins"));

  // The next start opens the per-database files and leaves the old one alone.
  server.start();
  ASSERT_TRUE(sa.connect());
  EXPECT_EQ(scalar(sa, "select count(*) from shop..items"), "5");
  EXPECT_EQ(scalar(sa, "select count(*) from sample..counts"), "3");
}

}  // namespace
