// Users, groups, permissions and keys as sysusers, sysprotects and syskeys keep them, and DROP
// DATABASE taking everything of a database and nothing of another.
#include <functional>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/types/type_codes.h"
#include "tests/server/storage/store_fixture.h"

namespace tabsrv {
namespace {

int errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const SqlError& e) {
    return e.number();
  }
  return 0;
}

TableInfo makeTable(sqlite3* db, const std::string& database, const std::string& name,
                    const std::string& owner = "dbo") {
  TableSpec s;
  s.database = database;
  s.owner = owner;
  s.name = name;
  ColumnSpec a;
  a.name = "a";
  a.type = makeType(SqlType::Int);
  ColumnSpec b;
  b.name = "b";
  b.type = makeType(SqlType::Char, 4);
  s.columns = {a, b};
  return createTable(db, s);
}

using Security = test::StoreTest;

TEST_F(Security, GroupsAndUsersAsTheExplorerListsThem) {
  // model has only dbo and public: sample already has the users of the sample database.
  int32_t editors = addGroup(db(), "model", "editors");
  int32_t mary = addUser(db(), "model", "mary", 7, "editors");
  int32_t joe = addUser(db(), "model", "joe", 8);
  EXPECT_EQ(editors, 16384);
  EXPECT_EQ(mary, 3);
  EXPECT_EQ(joe, 4);
  // The explorer's folders: groups are gid = uid, users gid <> uid.
  EXPECT_EQ(rows("SELECT name FROM \"model.dbo.sysusers\" WHERE gid = uid ORDER BY name"),
            (std::vector<std::string>{"editors", "public"}));
  EXPECT_EQ(rows("SELECT a.name, b.name FROM \"model.dbo.sysusers\" a, \"model.dbo.sysusers\" b WHERE a.gid "
                 "<> a.uid "
                 "AND b.uid = a.gid ORDER BY a.name"),
            (std::vector<std::string>{"dbo | public", "joe | public", "mary | editors"}));
  changeGroup(db(), "model", "joe", "editors");
  EXPECT_EQ(findUser(db(), "model", "joe")->gid, editors);
  // A user found for its login in that database.
  EXPECT_EQ(findUserForLogin(db(), "model", 7)->name, "mary");

  struct Case {
    const char* name;
    std::function<void()> call;
    int number;
  };
  makeTable(db(), "model", "marys", "mary");
  const Case cases[] = {
      {"group name taken by a user", [&] { addGroup(db(), "model", "mary"); }, 15023},
      {"user name taken by a group", [&] { addUser(db(), "model", "editors", 9); }, 15023},
      {"login already a user", [&] { addUser(db(), "model", "mary2", 7); }, 15024},
      {"unknown group", [&] { addUser(db(), "model", "ann", 9, "nosuch"); }, 15009},
      {"a user is not a group", [&] { addUser(db(), "model", "ann", 9, "joe"); }, 15009},
      {"owner of objects", [&] { dropUser(db(), "model", "mary"); }, 15183},
      {"group with members", [&] { dropUser(db(), "model", "editors"); }, 15025},
      {"dbo", [&] { dropUser(db(), "model", "dbo"); }, 15026},
      {"public", [&] { dropUser(db(), "model", "public"); }, 15026},
      {"unknown user", [&] { dropUser(db(), "model", "nobody"); }, 15008},
      {"change group of unknown user", [&] { changeGroup(db(), "model", "nobody", "public"); }, 15008},
  };
  for (const Case& c : cases) EXPECT_EQ(errorOf(c.call), c.number) << c.name;

  dropUser(db(), "model", "joe");
  EXPECT_FALSE(findUser(db(), "model", "joe"));
}

TEST_F(Security, GrantAndRevokeKeepOneRowPerUserAndAction) {
  TableInfo t = makeTable(db(), "model", "books");
  int32_t mary = addUser(db(), "model", "mary", 7);
  const std::string protects =
      "SELECT uid, action, protecttype FROM \"model.dbo.sysprotects\" WHERE id = " + std::to_string(t.id) +
      " ORDER BY uid, action";
  grantPermission(db(), "model", t.id, 0, kActionSelect, 1);
  grantPermission(db(), "model", t.id, mary, kActionUpdate, 1);
  grantPermission(db(), "model", t.id, mary, kActionUpdate, 1, true);
  EXPECT_EQ(rows(protects), (std::vector<std::string>{"0 | 193 | 1", "3 | 197 | 0"}));
  // Revoking from mary what public holds leaves a revoke row; revoking her own grant removes it.
  revokePermission(db(), "model", t.id, mary, kActionSelect, 1);
  revokePermission(db(), "model", t.id, mary, kActionUpdate, 1);
  EXPECT_EQ(rows(protects), (std::vector<std::string>{"0 | 193 | 1", "3 | 193 | 2"}));
  // Dropping the user takes its rows; dropping the table takes the rest.
  dropUser(db(), "model", "mary");
  EXPECT_EQ(rows(protects), (std::vector<std::string>{"0 | 193 | 1"}));
  dropTable(db(), t);
  EXPECT_EQ(rows(protects), std::vector<std::string>{});
}

TEST_F(Security, KeysAsTheKeyReadersJoinThem) {
  TableInfo books = makeTable(db(), "sample", "books");
  TableInfo orders = makeTable(db(), "sample", "orders");
  addKey(db(), {"sample", 1, books.id, 0, {2, 1}, {}});
  addKey(db(), {"sample", 2, orders.id, books.id, {2, 1}, {2, 1}});
  EXPECT_EQ(rows("SELECT type, keycnt, key1, key2, coalesce(key3, 'NULL'), coalesce(depid, 'NULL') FROM "
                 "\"sample.dbo.syskeys\" ORDER BY type"),
            (std::vector<std::string>{"1 | 2 | 2 | 1 | NULL | NULL",
                                      "2 | 2 | 2 | 1 | NULL | " + std::to_string(books.id)}));
  EXPECT_EQ(errorOf([&] { addKey(db(), {"sample", 1, books.id, 0, {1}, {}}); }), 15412);
  EXPECT_EQ(errorOf([&] { addKey(db(), {"sample", 2, orders.id, books.id, {1}, {1, 2}}); }), 15416);
  EXPECT_EQ(errorOf([&] {
              addKey(db(), {"sample", 3, orders.id, 0, {1, 2, 1, 2, 1, 2, 1, 2, 1}, {}});
            }),
            15414);
  // The primary key's table takes its own key and the foreign keys pointing at it.
  dropTable(db(), books);
  EXPECT_EQ(rows("SELECT count(*) FROM \"sample.dbo.syskeys\""), (std::vector<std::string>{"0"}));
}

TEST_F(Security, DropDatabaseTakesOnlyItsOwnObjects) {
  createDatabase(db(), "shop");
  createDatabase(db(), "shop.archive");
  makeTable(db(), "shop", "stock");
  makeTable(db(), "shop.archive", "stock");
  dropDatabase(db(), "shop");
  storage::removeDatabaseFile(db(), "shop");
  EXPECT_FALSE(databaseExists(db(), "shop"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / kDatabaseFolder / databaseFileName("shop")));
  EXPECT_TRUE(std::filesystem::exists(dir_ / kDatabaseFolder / databaseFileName("shop.archive")));
  EXPECT_TRUE(resolveTable(db(), {"shop.archive", "dbo", "stock"}, "master", "dbo"));
  EXPECT_EQ(rows("SELECT count(*) FROM \"shop.archive.SYS.SYSTABLE\" WHERE table_name = 'stock'"),
            (std::vector<std::string>{"1"}));
  // The name is free again.
  createDatabase(db(), "shop");
  EXPECT_FALSE(resolveTable(db(), {"shop", "dbo", "stock"}, "master", "dbo"));

  EXPECT_EQ(errorOf([&] { dropDatabase(db(), "nosuch"); }), 3701);
  for (const char* system : {"master", "model", "tempdb", "sybsystemprocs"})
    EXPECT_EQ(errorOf([&] { dropDatabase(db(), system); }), 3708) << system;
}

using TextObjects = test::StoreTest;

TEST_F(TextObjects, TriggersNameTheirTableAndTheTableNamesThem) {
  TableInfo orders = makeTable(db(), "sample", "orders");
  int32_t ins = createTextObject(
      db(), {"sample", "dbo", "orders_ins", "TR",
             "create trigger orders_ins on orders for insert as print 'x'", orders.id, true, false, false});
  int32_t upd = createTextObject(db(), {"sample", "dbo", "orders_upd", "TR",
                                        "create trigger orders_upd on orders for update, delete as print 'y'",
                                        orders.id, false, true, true});
  const std::string row = "SELECT instrig, updtrig, deltrig FROM \"sample.dbo.sysobjects\" WHERE id = " +
                          std::to_string(orders.id);
  EXPECT_EQ(rows(row), (std::vector<std::string>{std::to_string(ins) + " | " + std::to_string(upd) + " | " +
                                                 std::to_string(upd)}));
  // The explorer's trigger folder and the definition reader.
  EXPECT_EQ(rows("SELECT name, deltrig FROM \"sample.dbo.sysobjects\" WHERE type = 'TR' ORDER BY name"),
            (std::vector<std::string>{"orders_ins | " + std::to_string(orders.id),
                                      "orders_upd | " + std::to_string(orders.id)}));
  EXPECT_EQ(objectText(db(), "sample", ins), "create trigger orders_ins on orders for insert as print 'x'");
  EXPECT_EQ(
      errorOf([&] {
        createTextObject(db(), {"sample", "dbo", "orders_ins", "TR", "x", orders.id, true, false, false});
      }),
      2714);

  dropTextObject(db(), "sample", upd);
  EXPECT_EQ(rows(row), (std::vector<std::string>{std::to_string(ins) + " | 0 | 0"}));
  // The table takes its remaining trigger with it.
  dropTable(db(), orders);
  EXPECT_EQ(rows("SELECT count(*) FROM \"sample.dbo.sysobjects\" WHERE type = 'TR'"),
            (std::vector<std::string>{"0"}));
  EXPECT_EQ(rows("SELECT count(*) FROM \"sample.dbo.syscomments\" WHERE id = " + std::to_string(ins)),
            (std::vector<std::string>{"0"}));
}

TEST_F(TextObjects, RulesAndDefaultsBindToColumnsAndTypesAndStayWhileBound) {
  TableInfo books = makeTable(db(), "sample", "books");
  int32_t rule = createTextObject(db(), {"sample", "dbo", "qty_rule", "R", "create rule qty_rule as @q > 0"});
  int32_t def =
      createTextObject(db(), {"sample", "dbo", "code_default", "D", "create default code_default as 'NONE'"});
  bindRule(db(), "sample", rule, books.id, 1);
  bindDefault(db(), "sample", def, books.id, 2);
  bindRule(db(), "sample", rule, 0, 0, 100);  // phone_t
  EXPECT_EQ(
      rows("SELECT colid, domain, cdefault FROM \"sample.dbo.syscolumns\" WHERE id = " +
           std::to_string(books.id) + " ORDER BY colid"),
      (std::vector<std::string>{"1 | " + std::to_string(rule) + " | 0", "2 | 0 | " + std::to_string(def)}));
  EXPECT_EQ(rows("SELECT domain FROM \"sample.dbo.systypes\" WHERE name = 'phone_t'"),
            (std::vector<std::string>{std::to_string(rule)}));

  struct Case {
    const char* name;
    std::function<void()> call;
    int number;
  };
  const Case cases[] = {
      {"a default is not a rule", [&] { bindRule(db(), "sample", def, books.id, 1); }, 15102},
      {"a rule is not a default", [&] { bindDefault(db(), "sample", rule, books.id, 1); }, 15103},
      {"rule still bound", [&] { dropTextObject(db(), "sample", rule); }, 3716},
      {"default still bound", [&] { dropTextObject(db(), "sample", def); }, 3716},
      {"a table is not dropped this way", [&] { dropTextObject(db(), "sample", books.id); }, 3701},
  };
  for (const Case& c : cases) EXPECT_EQ(errorOf(c.call), c.number) << c.name;

  bindRule(db(), "sample", 0, books.id, 1);
  bindRule(db(), "sample", 0, 0, 0, 100);
  dropTextObject(db(), "sample", rule);
  EXPECT_EQ(rows("SELECT count(*) FROM \"sample.dbo.sysobjects\" WHERE name = 'qty_rule'"),
            (std::vector<std::string>{"0"}));
}

}  // namespace
}  // namespace tabsrv
