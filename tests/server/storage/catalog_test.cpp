// The catalogue API: tables, indexes and views created and dropped with sysobjects, syscolumns,
// sysindexes and syscomments kept in step; name resolution; identity counters; logins.
#include "server/storage/catalog.h"

#include "server/core/message.h"
#include "server/storage/sql_util.h"
#include "server/types/functions.h"
#include "server/types/sqlite_error.h"
#include "server/types/type_codes.h"
#include "tests/server/storage/store_fixture.h"

namespace tabsrv {
namespace {

ColumnSpec col(const std::string& name, TypeDesc type, bool nullable = false) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.nullable = nullable;
  return c;
}

// A books table: identity key, NOT NULL char, nullable numeric, varchar with a default.
TableSpec booksSpec() {
  TableSpec s;
  s.database = "sample";
  s.owner = "dbo";
  s.name = "books";
  ColumnSpec id = col("book_id", makeType(SqlType::Int));
  id.identity = true;
  s.columns = {id, col("code", makeType(SqlType::Char, 6)),
               col("price", makeType(SqlType::Numeric, 0, 8, 2), true),
               col("title", makeType(SqlType::VarChar, 40))};
  s.columns[3].defaultText = "'untitled'";
  IndexSpec pk;
  pk.name = "books_pk";
  pk.columns = {"book_id"};
  pk.primaryKey = true;
  pk.clustered = true;
  s.constraints.push_back(pk);
  return s;
}

class CatalogTest : public test::StoreTest {
 protected:
  // Runs SQL and returns the server error it raises (number 0 when it succeeds).
  SqlError errorOf(const std::string& sql) {
    int rc = sqlite3_exec(db(), sql.c_str(), nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? SqlError(0, 0, "") : errorFromSqlite(db(), rc);
  }
  template <typename F>
  SqlError thrown(F&& f) {
    try {
      f();
    } catch (const SqlError& e) {
      return e;
    }
    ADD_FAILURE() << "no SqlError thrown";
    return SqlError(0, 0, "");
  }
};

TEST_F(CatalogTest, CreateTableWritesTheCatalogue) {
  TableInfo t = createTable(db(), booksSpec());
  EXPECT_EQ(t.type, "U");
  // Stored under its object id, named for people reading the file.
  EXPECT_EQ(t.sqliteName, "\"sample\x1f" + std::to_string(t.id) + "\x1f" + "dbo.books\"");
  EXPECT_GT(t.id, 0);
  EXPECT_EQ(rows("SELECT type, sysstat, uid FROM \"sample.dbo.sysobjects\" WHERE name = 'books'"),
            std::vector<std::string>{"U  | 3 | 1"});
  // colid contiguous; status 0x08 nullable, 0x80 identity; N-type code for the nullable numeric.
  EXPECT_EQ(
      rows("SELECT colid, name, status, type, length, usertype, prec, scale FROM \"sample.dbo.syscolumns\" "
           "WHERE id = " +
           std::to_string(t.id) + " ORDER BY colid"),
      (std::vector<std::string>{
          "1 | book_id | 128 | 56 | 4 | 7 | NULL | NULL", "2 | code | 0 | 47 | 6 | 1 | NULL | NULL",
          "3 | price | 8 | 108 | 5 | 10 | 8 | 2", "4 | title | 0 | 39 | 40 | 2 | NULL | NULL"}));
  // The clustered primary key replaces the heap row.
  EXPECT_EQ(rows("SELECT name, indid, status, keycnt, keys1 FROM \"sample.dbo.sysindexes\" WHERE id = " +
                 std::to_string(t.id)),
            std::vector<std::string>{"books_pk | 1 | 2066 | 1 | 0100"});
  SessionInfo info;
  info.database = "sample";
  ASSERT_EQ(setSessionInfo(db(), &info), SQLITE_OK);
  EXPECT_EQ(rows("SELECT t_index_col('books', 1, 1), t_object_id('dbo.books') = " + std::to_string(t.id)),
            std::vector<std::string>{"book_id | 1"});
  // The default is an object of type 'D' with its text in syscomments.
  EXPECT_EQ(rows("SELECT o.type, c.text FROM \"sample.dbo.syscolumns\" s, \"sample.dbo.sysobjects\" o, "
                 "\"sample.dbo.syscomments\" c WHERE s.id = " +
                 std::to_string(t.id) + " AND s.name = 'title' AND o.id = s.cdefault AND c.id = o.id"),
            std::vector<std::string>{"D  | DEFAULT 'untitled'"});

  ASSERT_EQ(t.columns.size(), 4u);
  EXPECT_TRUE(t.columns[0].identity);
  EXPECT_FALSE(t.columns[0].desc.nullable);
  EXPECT_TRUE(t.columns[2].desc.nullable);
  EXPECT_EQ(t.columns[2].desc.type.type, SqlType::Numeric);
  EXPECT_EQ(t.columns[2].desc.type.precision, 8);
  EXPECT_EQ(t.columns[2].desc.type.scale, 2);
  EXPECT_EQ(t.columns[1].desc.type.type, SqlType::Char);
  EXPECT_EQ(t.columns[1].desc.type.length, 6);
  EXPECT_EQ(t.columns[3].defaultText, std::optional<std::string>("'untitled'"));
  EXPECT_EQ(t.identityColumn(), 0);
  ASSERT_EQ(t.indexes.size(), 1u);
  EXPECT_TRUE(t.indexes[0].primaryKey);
  EXPECT_EQ(t.indexes[0].columns, std::vector<std::string>{"book_id"});
}

TEST_F(CatalogTest, ResolveFollowsTheFamilyNameRules) {
  createTable(db(), booksSpec());
  struct Case {
    const char* name;
    ObjectRef ref;
    const char* currentDb;
    bool found;
  } cases[] = {
      {"unqualified_in_current_db", {"", "", "books"}, "sample", true},
      {"other_current_db", {"", "", "books"}, "master", false},
      {"db_dot_dot_name", {"sample", "", "books"}, "master", true},
      {"full_name", {"sample", "dbo", "books"}, "tempdb", true},
      {"wrong_owner", {"sample", "guest", "books"}, "sample", false},
      {"case_sensitive", {"sample", "", "BOOKS"}, "sample", false},
      {"unknown_db", {"nosuch", "", "books"}, "sample", false},
      {"system_table", {"", "", "sysobjects"}, "model", true},
      {"trailing_blank_is_not_a_match", {"sample", "", "books "}, "sample", false},
  };
  for (const auto& c : cases) {
    auto t = resolveTable(db(), c.ref, c.currentDb, "dbo");
    EXPECT_EQ(t.has_value(), c.found) << c.name;
  }
  auto sys = resolveTable(db(), {"", "", "sysobjects"}, "model", "dbo");
  ASSERT_TRUE(sys);
  EXPECT_EQ(sys->type, "S");
  EXPECT_EQ(sys->id, 1);
}

TEST_F(CatalogTest, TempNamesLiveInTempdb) {
  TableSpec s;
  s.database = "tempdb";
  s.owner = "dbo";
  s.name = "#work";
  s.columns = {col("a", makeType(SqlType::Int))};
  createTable(db(), s);
  auto t = resolveTable(db(), {"", "", "#work"}, "sample", "dbo");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->database, "tempdb");
}

TEST_F(CatalogTest, DropTableRemovesEveryCatalogueRow) {
  TableInfo t = createTable(db(), booksSpec());
  IndexSpec ix;
  ix.name = "books_title";
  ix.columns = {"title"};
  createIndex(db(), t, ix);
  t = *resolveTable(db(), {"sample", "dbo", "books"}, "sample", "dbo");
  std::string before = rows("SELECT count(*) FROM \"sample.dbo.sysobjects\"")[0];
  dropTable(db(), t);
  std::string id = std::to_string(t.id);
  for (const char* table : {"syscolumns", "sysindexes", "syscomments"}) {
    EXPECT_EQ(rows("SELECT count(*) FROM \"sample.dbo." + std::string(table) + "\" WHERE id = " + id)[0], "0")
        << table;
  }
  // The table and its column default are gone, nothing else.
  EXPECT_EQ(std::stoi(rows("SELECT count(*) FROM \"sample.dbo.sysobjects\"")[0]), std::stoi(before) - 2);
  EXPECT_EQ(rows("SELECT count(*) FROM " + schemaTable("sample") + " WHERE tbl_name = '" +
                 storage::unquoteIdent(t.sqliteName) + "'")[0],
            "0");
  EXPECT_FALSE(resolveTable(db(), {"sample", "", "books"}, "sample", "dbo"));
  // The name is free again.
  EXPECT_NO_THROW(createTable(db(), booksSpec()));
}

TEST_F(CatalogTest, CreateTableErrors) {
  createTable(db(), booksSpec());
  struct Case {
    const char* name;
    TableSpec details;
    int32_t number;
  };
  TableSpec dupColumn = booksSpec();
  dupColumn.name = "other";
  dupColumn.columns.push_back(col("Code", makeType(SqlType::Int)));
  TableSpec twoPk = booksSpec();
  twoPk.name = "other2";
  twoPk.constraints.push_back(twoPk.constraints[0]);
  twoPk.constraints[1].name = "second_pk";
  twoPk.constraints[1].clustered = false;
  TableSpec badKey = booksSpec();
  badKey.name = "other3";
  badKey.constraints[0].columns = {"nosuch"};
  TableSpec badDb = booksSpec();
  badDb.database = "nosuch";
  TableSpec twoIdentities = booksSpec();
  twoIdentities.name = "other4";
  twoIdentities.columns[1].identity = true;
  Case cases[] = {
      {"name_taken", booksSpec(), 2714},   {"duplicate_column", dupColumn, 2705},
      {"second_primary_key", twoPk, 1779}, {"constraint_on_unknown_column", badKey, 207},
      {"unknown_database", badDb, 911},    {"two_identity_columns", twoIdentities, 2731},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(thrown([&] { createTable(db(), c.details); }).number(), c.number) << c.name;
  }
  EXPECT_EQ(thrown([&] { createTable(db(), booksSpec()); }).what(),
            std::string("There is already an object named 'books' in the database."));
}

TEST_F(CatalogTest, IndexesEnforceAndMapErrors) {
  TableInfo t = createTable(db(), booksSpec());
  IndexSpec code;
  code.name = "books_code";
  code.columns = {"code"};
  code.unique = true;
  IndexInfo info = createIndex(db(), t, code);
  EXPECT_EQ(info.indid, 2);
  EXPECT_EQ(rows("SELECT indid, status FROM \"sample.dbo.sysindexes\" WHERE name = 'books_code'"),
            std::vector<std::string>{"2 | 2"});
  ASSERT_EQ(errorOf("INSERT INTO " + t.sqliteName + " VALUES (1, 'AB    ', NULL, 'x')").number(), 0);
  SqlError dup = errorOf("INSERT INTO " + t.sqliteName + " VALUES (2, 'AB    ', NULL, 'y')");
  EXPECT_EQ(dup.number(), 2601);
  EXPECT_EQ(dup.severity(), 14);
  EXPECT_STREQ(dup.what(),
               "Attempt to insert duplicate key row in object 'books' with unique index 'books_code'");
  EXPECT_STREQ(errorOf("INSERT INTO " + t.sqliteName + " VALUES (1, 'CD    ', NULL, 'z')").what(),
               "Attempt to insert duplicate key row in object 'books' with unique index 'books_pk'");
  SqlError null = errorOf("INSERT INTO " + t.sqliteName + " VALUES (3, NULL, NULL, 'z')");
  EXPECT_EQ(null.number(), 515);
  EXPECT_STREQ(
      null.what(),
      "Attempt to insert NULL value into column 'code', table 'sample.dbo.books'; column does not allow "
      "nulls. Update fails.");

  t = *resolveTable(db(), {"sample", "", "books"}, "sample", "dbo");
  EXPECT_EQ(thrown([&] { createIndex(db(), t, code); }).number(), 1913);
  IndexSpec clustered;
  clustered.name = "books_second";
  clustered.columns = {"title"};
  clustered.clustered = true;
  EXPECT_EQ(thrown([&] { createIndex(db(), t, clustered); }).number(), 1902);
  IndexSpec badColumn;
  badColumn.name = "books_bad";
  badColumn.columns = {"nosuch"};
  EXPECT_EQ(thrown([&] { createIndex(db(), t, badColumn); }).number(), 207);
  // Existing duplicates stop a unique index.
  ASSERT_EQ(errorOf("INSERT INTO " + t.sqliteName + " VALUES (5, 'EF    ', NULL, 'x')").number(), 0);
  IndexSpec titles;
  titles.name = "books_title";
  titles.columns = {"title"};
  titles.unique = true;
  EXPECT_EQ(thrown([&] { createIndex(db(), t, titles); }).number(), 1505);

  EXPECT_EQ(thrown([&] { dropIndex(db(), t, "nosuch"); }).number(), 3703);
  EXPECT_EQ(thrown([&] { dropIndex(db(), t, "books_pk"); }).number(), 3723);
  dropIndex(db(), t, "books_code");
  EXPECT_EQ(rows("SELECT count(*) FROM \"sample.dbo.sysindexes\" WHERE name = 'books_code'")[0], "0");
  EXPECT_EQ(errorOf("INSERT INTO " + t.sqliteName + " VALUES (6, 'AB    ', NULL, 'y')").number(), 0);
}

TEST_F(CatalogTest, DroppingTheClusteredIndexRestoresTheHeapRow) {
  TableSpec s;
  s.database = "sample";
  s.owner = "dbo";
  s.name = "plain";
  s.columns = {col("a", makeType(SqlType::Int)), col("b", makeType(SqlType::VarChar, 10), true)};
  TableInfo t = createTable(db(), s);
  std::string id = std::to_string(t.id);
  EXPECT_EQ(rows("SELECT name, indid FROM \"sample.dbo.sysindexes\" WHERE id = " + id),
            std::vector<std::string>{"plain | 0"});
  IndexSpec c;
  c.name = "plain_a";
  c.columns = {"a"};
  c.clustered = true;
  createIndex(db(), t, c);
  EXPECT_EQ(rows("SELECT name, indid FROM \"sample.dbo.sysindexes\" WHERE id = " + id),
            std::vector<std::string>{"plain_a | 1"});
  t = *resolveTable(db(), {"sample", "", "plain"}, "sample", "dbo");
  dropIndex(db(), t, "plain_a");
  EXPECT_EQ(rows("SELECT name, indid FROM \"sample.dbo.sysindexes\" WHERE id = " + id),
            std::vector<std::string>{"plain | 0"});
}

TEST_F(CatalogTest, ViewsKeepTheirTextAndColumns) {
  TableInfo books = createTable(db(), booksSpec());
  ViewSpec v;
  v.database = "sample";
  v.owner = "dbo";
  v.name = "cheap_books";
  v.sqliteSelect = "SELECT \"title\", \"price\" FROM " + books.sqliteName + " WHERE \"price\" < 10";
  // Longer than one syscomments row, with a multi-byte character across the 255-byte boundary.
  v.tsqlText = "create view cheap_books as select title, price from books where price < 10 /*" +
               std::string(180, 'x') + "\xc3\xa9" + std::string(300, 'y') + "*/";
  ColumnDesc title;
  title.name = "title";
  title.type = makeType(SqlType::VarChar, 40);
  title.nullable = false;
  ColumnDesc price;
  price.name = "price";
  price.type = makeType(SqlType::Numeric, 0, 8, 2);
  v.columns = {title, price};
  TableInfo t = createView(db(), v);
  EXPECT_EQ(t.type, "V");
  EXPECT_EQ(objectText(db(), "sample", t.id), v.tsqlText);
  EXPECT_EQ(rows("SELECT count(*) FROM \"sample.dbo.syscomments\" WHERE id = " + std::to_string(t.id))[0],
            "3");
  EXPECT_EQ(rows("SELECT colid, name, status FROM \"sample.dbo.syscolumns\" WHERE id = " +
                 std::to_string(t.id) + " ORDER BY colid"),
            (std::vector<std::string>{"1 | title | 0", "2 | price | 8"}));
  auto resolved = resolveTable(db(), {"", "", "cheap_books"}, "sample", "dbo");
  ASSERT_TRUE(resolved);
  EXPECT_EQ(resolved->columns.size(), 2u);
  EXPECT_EQ(thrown([&] { createView(db(), v); }).number(), 2714);
  dropView(db(), t);
  EXPECT_FALSE(resolveTable(db(), {"", "", "cheap_books"}, "sample", "dbo"));
  EXPECT_EQ(rows("SELECT count(*) FROM \"sample.dbo.syscomments\" WHERE id = " + std::to_string(t.id))[0],
            "0");
}

TEST_F(CatalogTest, IdentityValuesAreNeverReused) {
  TableInfo t = createTable(db(), booksSpec());
  EXPECT_EQ(nextIdentity(db(), t), 1);
  EXPECT_EQ(nextIdentity(db(), t), 2);
  noteIdentity(db(), t, 10);  // an explicit insert of 10
  EXPECT_EQ(nextIdentity(db(), t), 11);
  noteIdentity(db(), t, 5);  // lower explicit values leave the counter alone
  EXPECT_EQ(nextIdentity(db(), t), 12);
  // Each table counts on its own, and a re-created table starts again.
  dropTable(db(), t);
  t = createTable(db(), booksSpec());
  EXPECT_EQ(nextIdentity(db(), t), 1);
}

TEST_F(CatalogTest, ObjectIdsAreUniquePerDatabase) {
  TableInfo a = createTable(db(), booksSpec());
  TableSpec s = booksSpec();
  s.name = "books2";
  s.constraints[0].name = "books2_pk";
  TableInfo b = createTable(db(), s);
  EXPECT_NE(a.id, b.id);
  EXPECT_EQ(rows("SELECT count(*) - count(DISTINCT id) FROM \"sample.dbo.sysobjects\"")[0], "0");
}

TEST_F(CatalogTest, DatabasesAndUsers) {
  EXPECT_TRUE(databaseExists(db(), "sample"));
  EXPECT_FALSE(databaseExists(db(), "Sample"));
  EXPECT_EQ(listDatabases(db()).size(), 5u);
  createDatabase(db(), "extra");
  EXPECT_TRUE(databaseExists(db(), "extra"));
  EXPECT_EQ(findDatabase(db(), "extra")->dbid, 5);
  EXPECT_EQ(thrown([&] { createDatabase(db(), "extra"); }).number(), 1801);
  EXPECT_TRUE(resolveTable(db(), {"extra", "dbo", "sysobjects"}, "master", "dbo"));

  EXPECT_EQ(findUserForLogin(db(), "sample", 1)->name, "dbo");
  int32_t suid = addLogin(db(), "reader", "secret", "sample");
  // No user in sample and no guest there; guest in master.
  EXPECT_FALSE(findUserForLogin(db(), "sample", suid));
  EXPECT_EQ(findUserForLogin(db(), "master", suid)->name, "guest");
}

TEST_F(CatalogTest, LoginsCheckSaltedHashes) {
  EXPECT_EQ(checkLogin(db(), "sa", ""), std::optional<int32_t>(1));
  EXPECT_FALSE(checkLogin(db(), "sa", "x"));
  EXPECT_FALSE(checkLogin(db(), "SA", ""));
  EXPECT_FALSE(checkLogin(db(), "nobody", ""));
  int32_t suid = addLogin(db(), "cashier", "pw1", "sample", "Shop Clerk");
  EXPECT_GT(suid, 1);
  EXPECT_EQ(checkLogin(db(), "cashier", "pw1"), std::optional<int32_t>(suid));
  EXPECT_EQ(loginDefaultDatabase(db(), suid), std::optional<std::string>("sample"));
  EXPECT_EQ(loginName(db(), suid), std::optional<std::string>("cashier"));
  EXPECT_EQ(thrown([&] { addLogin(db(), "cashier", "x"); }).number(), 17262);
  EXPECT_TRUE(setPassword(db(), "cashier", "pw2"));
  EXPECT_FALSE(checkLogin(db(), "cashier", "pw1"));
  EXPECT_TRUE(checkLogin(db(), "cashier", "pw2"));
  EXPECT_FALSE(setPassword(db(), "nobody", "x"));
  // The password column holds a salted hash, never the password; equal passwords hash differently.
  addLogin(db(), "clerk2", "pw2");
  auto stored = rows("SELECT hex(password) FROM \"master.dbo.syslogins\" WHERE name IN ('clerk', 'clerk2')");
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_NE(stored[0], stored[1]);
  EXPECT_EQ(stored[0].size(), 110u);  // 55 bytes: "PB2", iterations, salt, key
}

}  // namespace
}  // namespace tabsrv
