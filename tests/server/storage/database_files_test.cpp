// Each database is a file of its own: names that hold characters a file name cannot get files of
// their own, names that differ only in case are refused, and one connection reaches more databases than
// SQLite attaches at once, letting go of the ones it no longer uses.
#include "server/storage/database_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/storage/sql_util.h"
#include "server/types/type_codes.h"
#include "tests/server/storage/store_fixture.h"

namespace tabsrv {
namespace {

using DatabaseFiles = test::StoreTest;

int errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const SqlError& e) {
    return e.number();
  }
  return 0;
}

TableInfo makeTable(sqlite3* db, const std::string& database, int value) {
  TableSpec s;
  s.database = database;
  s.owner = "dbo";
  s.name = "t";
  ColumnSpec a;
  a.name = "a";
  a.type = makeType(SqlType::Int);
  s.columns = {a};
  TableInfo t = createTable(db, s);
  storage::execSql(db, "INSERT INTO " + t.sqliteName + " VALUES (" + std::to_string(value) + ")");
  return t;
}

TEST_F(DatabaseFiles, NamesThatFileSystemsOrSqliteWouldMixUpGetFilesOfTheirOwn) {
  struct Case {
    const char* database;
    const char* file;
  } cases[] = {
      {"Sales", "^sales.db"}, {"a.b", "a%2Eb.db"}, {"my db", "my%20db.db"},
      {"x/y", "x%2Fy.db"},    {"main", "main.db"}, {"b\xC3\xA4r", "b%C3%A4r.db"},
  };
  // A name that differs from another only in case is refused: SQLite's table names (which
  // start with the database's) do not tell case apart.
  EXPECT_EQ(databaseFileName("SALES"), "^s^a^l^e^s.db");
  int value = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.database);
    EXPECT_EQ(databaseFileName(c.database), c.file);
    createDatabase(db(), c.database);
    makeTable(db(), c.database, ++value);
    EXPECT_TRUE(std::filesystem::exists(dir_ / kDatabaseFolder / c.file));
  }
  for (const char* other : {"sales", "SALES", "MAIN"})
    EXPECT_EQ(errorOf([&] { createDatabase(db(), other); }), 1801);
  // Each reads back its own row, from a fresh connection too.
  ConnectionPtr other = store_->connect();
  value = 0;
  for (const Case& c : cases) {
    ++value;
    auto t = resolveTable(other.get(), {c.database, "dbo", "t"}, "master", "dbo");
    ASSERT_TRUE(t) << c.database;
    EXPECT_EQ(test::queryRows(other.get(), "SELECT a FROM " + t->sqliteName),
              std::vector<std::string>{std::to_string(value)})
        << c.database;
  }
}

TEST_F(DatabaseFiles, AConnectionReachesMoreDatabasesThanSqliteAttachesAtOnce) {
  const int databases = sqlite3_limit(db(), SQLITE_LIMIT_ATTACHED, -1) + 4;
  std::vector<TableInfo> tables;
  for (int i = 0; i < databases; ++i) {
    createDatabase(db(), "d" + std::to_string(i));
    tables.push_back(makeTable(db(), "d" + std::to_string(i), i));
  }
  // Twice round, so every database is let go of and attached again at least once.
  ConnectionPtr other = store_->connect();
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < databases; ++i)
      EXPECT_EQ(test::queryRows(other.get(), "SELECT a FROM " + tables[i].sqliteName),
                std::vector<std::string>{std::to_string(i)})
          << "d" << i;
  EXPECT_LE(storage::openDatabases(other.get()).size(),
            static_cast<size_t>(sqlite3_limit(db(), SQLITE_LIMIT_ATTACHED, -1)) + 1);
  // One statement over more databases than fit is refused with 10356, not a crash nor a missing table.
  std::string all;
  for (const TableInfo& t : tables)
    all += (all.empty() ? "SELECT a FROM " : " UNION ALL SELECT a FROM ") + t.sqliteName;
  EXPECT_EQ(errorOf([&] { storage::Stmt(other.get(), all).step(); }), 10356);
}

TEST_F(DatabaseFiles, ALockedDatabaseIsNotLetGoOfAndNotChangedBesideAnother) {
  createDatabase(db(), "one");
  createDatabase(db(), "two");
  TableInfo a = makeTable(db(), "one", 1), b = makeTable(db(), "two", 2);
  storage::execSql(db(), "BEGIN");
  storage::lockForWrite(db(), "one");
  storage::lockForWrite(db(), "tempdb");
  EXPECT_EQ(storage::lockedDatabases(db()), (std::vector<std::string>{"one", "tempdb"}));
  EXPECT_EQ(errorOf([&] { storage::lockForWrite(db(), "two"); }), 3917);
  // A write that got past the check is caught before the commit.
  storage::execSql(db(), "INSERT INTO " + b.sqliteName + " VALUES (3)");
  EXPECT_EQ(errorOf([&] { storage::requireOneDatabaseChanged(db()); }), 3917);
  storage::execSql(db(), "ROLLBACK");
  EXPECT_TRUE(storage::lockedDatabases(db()).empty());
  EXPECT_EQ(rows("SELECT count(*) FROM " + b.sqliteName), std::vector<std::string>{"1"});
}

}  // namespace
}  // namespace tabsrv
