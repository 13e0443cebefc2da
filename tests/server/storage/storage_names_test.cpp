// Storage names of tables and indexes never collide, whatever the catalogue names are; indexes an
// earlier version stored under the old naming are still used and dropped.
#include <functional>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/types/type_codes.h"
#include "tests/server/storage/store_fixture.h"

namespace tabsrv {
namespace {

TableInfo makeTable(sqlite3* db, const std::string& name) {
  TableSpec s;
  s.database = "sample";
  s.owner = "dbo";
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

using StorageNames = test::StoreTest;

TEST_F(StorageNames, ATableNamedLikeAnIndexAndTheIndexLiveTogether) {
  // Table first, then the index whose old storage name was the table's.
  TableInfo canary = makeTable(db(), "canary");
  makeTable(db(), "canary.x");
  EXPECT_EQ(errorOf([&] { createIndex(db(), canary, index("x")); }), 0);
  // Index first, then the table.
  EXPECT_EQ(errorOf([&] { createIndex(db(), canary, index("y")); }), 0);
  EXPECT_EQ(errorOf([&] { makeTable(db(), "canary.y"); }), 0);
  EXPECT_EQ(rows("SELECT count(*) FROM sqlite_master WHERE tbl_name IN ('sample.dbo.canary.x', "
                 "'sample.dbo.canary.y') AND type = 'table'"),
            (std::vector<std::string>{"2"}));
  canary = *resolveTable(db(), {"sample", "dbo", "canary"}, "sample", "dbo");
  EXPECT_EQ(errorOf([&] { dropIndex(db(), canary, "x"); }), 0);
  EXPECT_EQ(errorOf([&] { dropIndex(db(), canary, "y"); }), 0);
  EXPECT_EQ(
      rows("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND tbl_name = 'sample.dbo.canary'"),
      (std::vector<std::string>{"0"}));
  EXPECT_TRUE(resolveTable(db(), {"sample", "dbo", "canary.x"}, "sample", "dbo"));
}

TEST_F(StorageNames, IndexesOfTheOldNamingAreStillDropped) {
  TableInfo t = makeTable(db(), "legacy");
  createIndex(db(), t, index("old_ix", true));
  // As an earlier version stored it: "<db>.<owner>.<table>.<index>".
  rows("DROP INDEX \"" + plainIndexName("sample", "dbo", "legacy", "old_ix") + "\"");
  rows("CREATE UNIQUE INDEX \"sample.dbo.legacy.old_ix\" ON \"sample.dbo.legacy\" (a)");
  t = *resolveTable(db(), {"sample", "dbo", "legacy"}, "sample", "dbo");
  EXPECT_EQ(errorOf([&] { dropIndex(db(), t, "old_ix"); }), 0);
  EXPECT_EQ(
      rows("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND tbl_name = 'sample.dbo.legacy'"),
      (std::vector<std::string>{"0"}));
}

TEST_F(StorageNames, NamesWithControlCharactersAreRefused) {
  EXPECT_EQ(errorOf([&] { makeTable(db(), std::string("a") + kIndexSeparator + "b"); }), 102);
  TableInfo t = makeTable(db(), "plain");
  EXPECT_EQ(errorOf([&] { createIndex(db(), t, index(std::string("i\n"))); }), 102);
}

}  // namespace
}  // namespace tabsrv
