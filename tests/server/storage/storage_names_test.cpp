// Storage names of tables, views and indexes never collide, whatever the catalogue names are (dots,
// case, names an earlier version left in the file); a data directory written under the earlier
// naming ("db.owner.name" tables and views, "db.owner.table<0x1F>index" or "db.owner.table.index"
// indexes) still opens with its rows, and its objects are still used and dropped.
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/storage/sql_util.h"
#include "server/types/type_codes.h"
#include "tests/server/storage/store_fixture.h"

namespace tabsrv {
namespace {

TableInfo makeTable(sqlite3* db, const std::string& name, const std::string& owner = "dbo") {
  TableSpec s;
  s.database = "sample";
  s.owner = owner;
  s.name = name;
  ColumnSpec a;
  a.name = "a";
  a.type = makeType(SqlType::Int);
  a.nullable = true;
  s.columns = {a};
  return createTable(db, s);
}

IndexSpec index(const std::string& name, bool unique = false) {
  IndexSpec i;
  i.name = name;
  i.columns = {"a"};
  i.unique = unique;
  return i;
}

int errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const SqlError& e) {
    return e.number();
  }
  return 0;
}

std::string plain(const TableInfo& t) {
  return storage::unquoteIdent(t.sqliteName);
}

std::string literal(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}

using StorageNames = test::StoreTest;

TEST_F(StorageNames, NamesThatMeetUnderDotsOrCaseAreDifferentObjects) {
  // Each pair wrote one SQLite name under the "db.owner.name" naming.
  int32_t suid = addLogin(db(), "dotted", "secret-pass");
  addUser(db(), "sample", "dbo.x", suid);
  struct Pair {
    const char* label;
    std::string firstOwner, firstName, secondOwner, secondName;
  };
  const Pair pairs[] = {
      {"dotted owner", "dbo", "x.t", "dbo.x", "t"},
      {"case", "dbo", "Canary", "dbo", "canary"},
      {"dotted name", "dbo", "canary.x", "dbo", "CANARY.X"},
  };
  int value = 0;
  for (const Pair& p : pairs) {
    SCOPED_TRACE(p.label);
    TableInfo first, second;
    ASSERT_EQ(errorOf([&] { first = makeTable(db(), p.firstName, p.firstOwner); }), 0);
    ASSERT_EQ(errorOf([&] { second = makeTable(db(), p.secondName, p.secondOwner); }), 0);
    EXPECT_NE(first.sqliteName, second.sqliteName);
    rows("INSERT INTO " + first.sqliteName + " VALUES (" + std::to_string(++value) + ")");
    EXPECT_EQ(rows("SELECT count(*) FROM " + second.sqliteName), (std::vector<std::string>{"0"}));
    // Each resolves to itself, and dropping one leaves the other.
    EXPECT_EQ(resolveTable(db(), {"sample", p.secondOwner, p.secondName}, "sample", "dbo")->id, second.id);
    dropTable(db(), *resolveTable(db(), {"sample", p.secondOwner, p.secondName}, "sample", "dbo"));
    EXPECT_EQ(rows("SELECT a FROM " + first.sqliteName), (std::vector<std::string>{std::to_string(value)}));
  }
  // A name is still taken by itself.
  EXPECT_EQ(errorOf([&] { makeTable(db(), "Canary"); }), 2714);
}

TEST_F(StorageNames, ATableNamedLikeAnIndexAndTheIndexLiveTogether) {
  // Table first, then the index whose storage name an earlier version gave the table.
  TableInfo canary = makeTable(db(), "canary");
  makeTable(db(), "canary.x");
  EXPECT_EQ(errorOf([&] { createIndex(db(), canary, index("x")); }), 0);
  // Index first, then the table.
  EXPECT_EQ(errorOf([&] { createIndex(db(), canary, index("y")); }), 0);
  EXPECT_EQ(errorOf([&] { makeTable(db(), "canary.y"); }), 0);
  canary = *resolveTable(db(), {"sample", "dbo", "canary"}, "sample", "dbo");
  EXPECT_EQ(errorOf([&] { dropIndex(db(), canary, "x"); }), 0);
  EXPECT_EQ(errorOf([&] { dropIndex(db(), canary, "y"); }), 0);
  EXPECT_EQ(rows("SELECT count(*) FROM " + schemaTable("sample") +
                 " WHERE type = 'index' AND tbl_name = " + literal(plain(canary))),
            (std::vector<std::string>{"0"}));
  EXPECT_TRUE(resolveTable(db(), {"sample", "dbo", "canary.x"}, "sample", "dbo"));
  EXPECT_TRUE(resolveTable(db(), {"sample", "dbo", "canary.y"}, "sample", "dbo"));
}

TEST_F(StorageNames, IndexNamesThatDifferOnlyInCaseAreTwoIndexes) {
  TableSpec s;
  s.database = "sample";
  s.owner = "dbo";
  s.name = "pairs";
  ColumnSpec a, b;
  a.name = "a";
  b.name = "b";
  a.type = b.type = makeType(SqlType::Int);
  a.nullable = b.nullable = true;
  s.columns = {a, b};
  TableInfo t = createTable(db(), s);
  IndexSpec upper = index("IX", true), lower = index("ix", true);
  lower.columns = {"b"};
  ASSERT_EQ(errorOf([&] { createIndex(db(), t, upper); }), 0);
  t = *resolveTable(db(), {"sample", "dbo", "pairs"}, "sample", "dbo");
  ASSERT_EQ(errorOf([&] { createIndex(db(), t, lower); }), 0);
  rows("INSERT INTO " + t.sqliteName + " VALUES (1, 1)");
  // Each duplicate names its own index.
  try {
    storage::execSql(db(), "INSERT INTO " + t.sqliteName + " VALUES (2, 1)");
    ADD_FAILURE() << "duplicate accepted";
  } catch (const SqlError& e) {
    EXPECT_STREQ(e.what(), "Attempt to insert duplicate key row in object 'pairs' with unique index 'ix'");
  }
  try {
    storage::execSql(db(), "INSERT INTO " + t.sqliteName + " VALUES (1, 2)");
    ADD_FAILURE() << "duplicate accepted";
  } catch (const SqlError& e) {
    EXPECT_STREQ(e.what(), "Attempt to insert duplicate key row in object 'pairs' with unique index 'IX'");
  }
  t = *resolveTable(db(), {"sample", "dbo", "pairs"}, "sample", "dbo");
  EXPECT_EQ(errorOf([&] { dropIndex(db(), t, "ix"); }), 0);
  EXPECT_EQ(errorOf([&] { storage::execSql(db(), "INSERT INTO " + t.sqliteName + " VALUES (2, 1)"); }), 0);
  EXPECT_EQ(errorOf([&] { dropIndex(db(), t, "IX"); }), 0);
  EXPECT_EQ(rows("SELECT count(*) FROM " + schemaTable("sample") +
                 " WHERE type = 'index' AND tbl_name = " + literal(plain(t))),
            (std::vector<std::string>{"0"}));
}

TEST_F(StorageNames, NamesWithControlCharactersAreRefused) {
  EXPECT_EQ(errorOf([&] { makeTable(db(), std::string("a") + kIndexSeparator + "b"); }), 102);
  TableInfo t = makeTable(db(), "plain");
  EXPECT_EQ(errorOf([&] { createIndex(db(), t, index(std::string("i\n"))); }), 102);
}

// Renames every table, view and index made by DDL to the names an earlier version gave them, as a
// data directory of that version holds them: tables and views "db.owner.name", indexes
// "db.owner.table<0x1F>index". `dottedIndexes` take the oldest "db.owner.table.index" form.
void writeEarlierNaming(sqlite3* db, const std::set<std::string>& dottedIndexes) {
  // Everything is in sample's file; statements that create name it.
  const std::string schema = storage::schemaPrefix(db, "sample");
  auto inSchema = [&](std::string sql) {
    for (const char* kind : {"INDEX ", "VIEW "})
      if (size_t at = sql.find(kind); at != std::string::npos)
        return sql.insert(at + std::strlen(kind), schema);
    return sql;
  };
  std::map<std::string, std::string> renamed;  // storage name -> earlier name, tables and views
  struct Entry {
    std::string type, name, table, sql;
  };
  std::vector<Entry> entries;
  for (const std::string& row : test::queryRows(
           db,
           "SELECT type || char(30) || name || char(30) || tbl_name || char(30) || coalesce(sql, '') "
           "FROM " +
               schema +
               "sqlite_master WHERE type IN ('table', 'view', 'index') AND instr(tbl_name, "
               "char(31)) > 0")) {
    Entry e;
    size_t a = row.find('\x1e'), b = row.find('\x1e', a + 1), c = row.find('\x1e', b + 1);
    e.type = row.substr(0, a);
    e.name = row.substr(a + 1, b - a - 1);
    e.table = row.substr(b + 1, c - b - 1);
    e.sql = row.substr(c + 1);
    if (e.type != "index") {
      std::string database;
      int32_t id = 0;
      ASSERT_TRUE(parseStorageObjectName(e.name, database, id)) << e.name;
      renamed[e.name] = database + "." + e.name.substr(e.name.find('\x1f', database.size() + 1) + 1);
    }
    entries.push_back(std::move(e));
  }
  auto rewrite = [&](std::string sql) {
    for (const auto& [now, earlier] : renamed) {
      const std::string from = storage::quoteIdent(now), to = storage::quoteIdent(earlier);
      for (size_t at = sql.find(from); at != std::string::npos; at = sql.find(from, at + to.size()))
        sql.replace(at, from.size(), to);
    }
    return sql;
  };
  storage::execSql(db, "BEGIN");
  // Views first (SQLite keeps their text), then tables (their data moves with them), then
  // indexes under their earlier names, then the views again over the renamed tables.
  for (const Entry& e : entries)
    if (e.type == "view") storage::execSql(db, "DROP VIEW " + storage::quoteIdent(e.name));
  for (const Entry& e : entries)
    if (e.type == "table")
      storage::execSql(db, "ALTER TABLE " + storage::quoteIdent(e.name) + " RENAME TO " +
                               storage::quoteIdent(renamed[e.name]));
  for (const Entry& e : entries) {
    if (e.type != "index" || e.sql.empty()) continue;
    // "table<0x1F>indid<0x1F>index" now; the earlier naming kept no indid.
    std::string indexName = e.name.substr(e.name.rfind('\x1f') + 1);
    std::string earlier = renamed[e.table] + (dottedIndexes.count(indexName) ? "." : "\x1f") + indexName;
    std::string sql = rewrite(e.sql);
    sql.replace(sql.find(storage::quoteIdent(e.name)), storage::quoteIdent(e.name).size(),
                storage::quoteIdent(earlier));
    storage::execSql(db, "DROP INDEX " + storage::quoteIdent(e.name));
    storage::execSql(db, inSchema(sql));
  }
  for (const Entry& e : entries) {
    if (e.type != "view") continue;
    std::string sql = e.sql;
    const std::string own = storage::quoteIdent(e.name);
    sql.replace(sql.find(own), own.size(), storage::quoteIdent(renamed[e.name]));
    storage::execSql(db, inSchema(rewrite(sql)));
  }
  storage::execSql(db, "COMMIT");
  EXPECT_EQ(test::queryRows(
                db, "SELECT count(*) FROM " + schema + "sqlite_master WHERE instr(tbl_name, char(31)) > 0"),
            (std::vector<std::string>{"0"}));
}

TEST_F(StorageNames, ADataDirectoryOfTheEarlierNamingOpensWithItsRows) {
  TableInfo legacy = makeTable(db(), "legacy");
  createIndex(db(), legacy, index("legacy_a", true));
  createIndex(db(), legacy, index("x"));
  for (int i = 1; i <= 3; ++i)
    rows("INSERT INTO " + legacy.sqliteName + " VALUES (" + std::to_string(i) + ")");
  ViewSpec v;
  v.database = "sample";
  v.owner = "dbo";
  v.name = "legacy_v";
  v.sqliteSelect = "SELECT a FROM " + legacy.sqliteName + " WHERE a > 1";
  v.tsqlText = "create view legacy_v as select a from legacy where a > 1";
  ColumnDesc a;
  a.name = "a";
  a.type = makeType(SqlType::Int);
  a.nullable = true;
  v.columns = {a};
  createView(db(), v);
  writeEarlierNaming(db(), {"x"});

  db_.reset();
  store_.reset();
  store_ = Store::open(dir_.string());
  db_ = store_->connect();
  legacy = *resolveTable(db(), {"sample", "dbo", "legacy"}, "sample", "dbo");
  EXPECT_EQ(legacy.sqliteName, "\"sample.dbo.legacy\"");
  EXPECT_EQ(rows("SELECT a FROM " + legacy.sqliteName + " ORDER BY a"),
            (std::vector<std::string>{"1", "2", "3"}));
  TableInfo view = *resolveTable(db(), {"sample", "dbo", "legacy_v"}, "sample", "dbo");
  EXPECT_EQ(rows("SELECT a FROM " + view.sqliteName + " ORDER BY a"), (std::vector<std::string>{"2", "3"}));
  // Its unique index still holds, under its name.
  EXPECT_EQ(errorOf([&] { storage::execSql(db(), "INSERT INTO " + legacy.sqliteName + " VALUES (2)"); }),
            2601);
  // An index the earlier naming called "sample.dbo.legacy.x" does not block a table "legacy.x".
  ASSERT_EQ(rows("SELECT count(*) FROM " + schemaTable("sample") + " WHERE name = 'sample.dbo.legacy.x'"),
            (std::vector<std::string>{"1"}));
  TableInfo dotted;
  ASSERT_EQ(errorOf([&] { dotted = makeTable(db(), "legacy.x"); }), 0);
  rows("INSERT INTO " + dotted.sqliteName + " VALUES (9)");
  // New indexes of the old table sit beside the old ones; every kind is dropped.
  EXPECT_EQ(errorOf([&] { createIndex(db(), legacy, index("fresh")); }), 0);
  legacy = *resolveTable(db(), {"sample", "dbo", "legacy"}, "sample", "dbo");
  for (const char* name : {"x", "legacy_a", "fresh"})
    EXPECT_EQ(errorOf([&] { dropIndex(db(), legacy, name); }), 0) << name;
  EXPECT_EQ(rows("SELECT count(*) FROM " + schemaTable("sample") +
                 " WHERE type = 'index' AND tbl_name = 'sample.dbo.legacy'"),
            (std::vector<std::string>{"0"}));
  EXPECT_EQ(errorOf([&] { dropView(db(), view); }), 0);
  EXPECT_EQ(errorOf([&] { dropTable(db(), legacy); }), 0);
  EXPECT_EQ(rows("SELECT count(*) FROM " + schemaTable("sample") + " WHERE name LIKE 'sample.dbo.legacy%'"),
            (std::vector<std::string>{"0"}));
  EXPECT_EQ(rows("SELECT a FROM " + dotted.sqliteName), (std::vector<std::string>{"9"}));
  // Dropping the database takes objects of both namings: its file goes.
  dropDatabase(db(), "sample");
  storage::removeDatabaseFile(db(), "sample");
  EXPECT_FALSE(std::filesystem::exists(dir_ / kDatabaseFolder / databaseFileName("sample")));
}

}  // namespace
}  // namespace tabsrv
