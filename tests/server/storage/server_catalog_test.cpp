// The catalogue beyond tables and views: the other family's SYS views over the same rows, the
// fixed server tables (devices, configuration, spt_values, spt_datatype_info), rowcnt, and the
// per-connection live copies of sysprocesses and syslocks.
#include <sqlite3.h>

#include <functional>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/storage/live_tables.h"
#include "server/types/functions.h"
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

// sample.dbo.book_writers: a two-column primary key in a different order from the columns, a
// nullable money column and a nonclustered index whose keys run backwards.
TableInfo makeBookWriters(sqlite3* db) {
  TableSpec s;
  s.database = "sample";
  s.owner = "dbo";
  s.name = "book_writers";
  s.columns = {col("note", makeType(SqlType::VarChar, 20), true), col("book_id", makeType(SqlType::Char, 6)),
               col("writer_id", makeType(SqlType::Int)), col("fee", makeType(SqlType::Money), true),
               col("share", makeType(SqlType::Numeric, 0, 5, 2))};
  IndexSpec pk;
  pk.name = "bw_pk";
  pk.columns = {"writer_id", "book_id"};
  pk.primaryKey = true;
  pk.clustered = true;
  s.constraints.push_back(pk);
  TableInfo t = createTable(db, s);
  IndexSpec ix;
  ix.name = "bw_fee";
  ix.columns = {"fee", "note"};
  createIndex(db, t, ix);
  return *resolveTable(db, {"sample", "dbo", "book_writers"}, "sample", "dbo");
}

int errorNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const SqlError& e) {
    return e.number();
  }
  return 0;
}

using AnywhereViews = test::StoreTest;

TEST_F(AnywhereViews, DescribeTablesColumnsAndIndexesFromTheSameRows) {
  TableInfo t = makeBookWriters(db());
  const std::string id = std::to_string(t.id);
  EXPECT_EQ(
      rows("SELECT table_name, table_type, creator FROM \"sample.SYS.SYSTABLE\" WHERE table_id = " + id),
      (std::vector<std::string>{"book_writers | BASE | 1"}));
  // pkey follows the key columns, not the column order; money is numeric(19,4) with its named type.
  EXPECT_EQ(rows("SELECT column_id, column_name, pkey, nulls, domain_id, width, scale, "
                 "coalesce(user_type, 'NULL') FROM \"sample.SYS.SYSCOLUMN\" WHERE table_id = " +
                 id + " ORDER BY column_id"),
            (std::vector<std::string>{
                "1 | note | N | Y | 9 | 20 | 0 | NULL", "2 | book_id | Y | N | 7 | 6 | 0 | NULL",
                "3 | writer_id | Y | N | 2 | 4 | 0 | NULL", "4 | fee | N | Y | 3 | 19 | 4 | 11",
                "5 | share | N | N | 3 | 5 | 2 | NULL"}));
  EXPECT_EQ(rows("SELECT index_id, index_name, \"unique\" FROM \"sample.SYS.SYSINDEX\" WHERE table_id = " +
                 id + " ORDER BY index_id"),
            (std::vector<std::string>{"1 | bw_pk | U", "2 | bw_fee | N"}));
  // Key columns in key order, as the index was declared.
  EXPECT_EQ(
      rows("SELECT x.index_id, x.sequence, c.column_name FROM \"sample.SYS.SYSIXCOL\" x, "
           "\"sample.SYS.SYSCOLUMN\" c WHERE c.table_id = x.table_id AND c.column_id = x.column_id AND "
           "x.table_id = " +
           id + " ORDER BY x.index_id, x.sequence"),
      (std::vector<std::string>{"1 | 0 | writer_id", "1 | 1 | book_id", "2 | 0 | fee", "2 | 1 | note"}));
  EXPECT_EQ(rows("SELECT d.domain_name FROM \"sample.SYS.SYSUSERTYPE\" u, \"sample.SYS.SYSDOMAIN\" d WHERE "
                 "u.domain_id = d.domain_id AND u.type_name = 'money'"),
            (std::vector<std::string>{"numeric"}));

  dropIndex(db(), t, "bw_fee");
  EXPECT_EQ(rows("SELECT count(*) FROM \"sample.SYS.SYSIXCOL\" WHERE table_id = " + id),
            (std::vector<std::string>{"2"}));
  dropTable(db(), *resolveTable(db(), {"sample", "dbo", "book_writers"}, "sample", "dbo"));
  for (const char* view : {"SYSTABLE", "SYSCOLUMN", "SYSINDEX", "SYSIXCOL"}) {
    EXPECT_EQ(rows(std::string("SELECT count(*) FROM \"sample.SYS.") + view + "\" WHERE table_id = " + id),
              (std::vector<std::string>{"0"}))
        << view;
  }
}

TEST_F(AnywhereViews, ResolveUnderSysOrUnqualifiedButNeverShadowATable) {
  struct Case {
    const char* name;
    ObjectRef ref;
    bool found;
  };
  const Case cases[] = {
      {"unqualified", {"", "", "SYSTABLE"}, true},
      {"SYS owner", {"", "SYS", "SYSINDEX"}, true},
      {"case-insensitive", {"sample", "sys", "syscolumn"}, true},
      {"other database", {"master", "SYS", "SYSPROCPARM"}, true},
      {"dbo owner", {"", "dbo", "SYSTABLE"}, false},
      {"unknown view", {"", "SYS", "SYSNOTHING"}, false},
  };
  for (const Case& c : cases) {
    auto t = resolveTable(db(), c.ref, "sample", "dbo");
    EXPECT_EQ(t.has_value(), c.found) << c.name;
    if (!t) continue;
    EXPECT_EQ(t->type, "V") << c.name;
    EXPECT_FALSE(t->columns.empty()) << c.name;
    // The binder reads the SQLite view the description names.
    EXPECT_EQ(rows("SELECT count(*) >= 0 FROM " + t->sqliteName), (std::vector<std::string>{"1"})) << c.name;
  }
  // A real table of that name comes first for an unqualified name.
  TableSpec s;
  s.database = "sample";
  s.owner = "dbo";
  s.name = "SYSTABLE";
  s.columns = {col("a", makeType(SqlType::Int))};
  createTable(db(), s);
  EXPECT_EQ(resolveTable(db(), {"", "", "SYSTABLE"}, "sample", "dbo")->owner, "dbo");
  EXPECT_EQ(resolveTable(db(), {"", "SYS", "SYSTABLE"}, "sample", "dbo")->owner, "SYS");
}

TEST_F(AnywhereViews, AreNeverDropped) {
  auto view = resolveTable(db(), {"", "", "SYSTABLE"}, "sample", "dbo");
  ASSERT_TRUE(view);
  EXPECT_EQ(errorNumber([&] { dropView(db(), *view); }), 3712);
  EXPECT_EQ(rows("SELECT count(*) FROM " + schemaTable("sample") + " WHERE name = 'sample.SYS.SYSTABLE'"),
            (std::vector<std::string>{"1"}));
}

TEST_F(AnywhereViews, ExistInADatabaseCreatedLater) {
  createDatabase(db(), "newdb");
  EXPECT_EQ(rows("SELECT count(*) FROM \"newdb.SYS.SYSTABLE\" WHERE table_name = 'sysobjects'"),
            (std::vector<std::string>{"1"}));
}

TEST_F(AnywhereViews, AFileFromAnOlderServerGetsTodaysViewsOnOpen) {
  // An older server's SYSCOLUMN, without the "default" column, in sample and in a later database.
  createDatabase(db(), "newdb");
  for (const char* d : {"sample", "newdb"}) {
    const std::string view = std::string("\"") + d + ".SYS.SYSCOLUMN\"";
    ASSERT_EQ(sqlite3_exec(db(),
                           ("DROP VIEW " + view + "; CREATE VIEW " + storage::schemaPrefix(db(), d) + view +
                            " AS SELECT 1 AS table_id, 1 AS column_id")
                               .c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  db_.reset();
  store_.reset();
  store_ = Store::open(dir_.string());
  db_ = store_->connect();
  for (const char* d : {"sample", "newdb"}) {
    SCOPED_TRACE(d);
    EXPECT_EQ(rows(std::string("SELECT c.\"default\" FROM \"") + d + ".SYS.SYSCOLUMN\" c, \"" + d +
                   ".dbo.sysobjects\" o WHERE o.id = c.table_id AND o.name = 'sysobjects' AND c.column_id = 1"),
              (std::vector<std::string>{"NULL"}));
  }
}

using ServerTables = test::StoreTest;

TEST_F(ServerTables, EveryTypeOfSystypesHasExactlyOneDatatypeInfoRow) {
  // The column readers join systypes.type = spt_datatype_info.ss_dtype; a missing row drops a
  // column and a duplicate doubles it.
  EXPECT_EQ(rows("SELECT t.name, count(d.ss_dtype) FROM \"sample.dbo.systypes\" t LEFT JOIN "
                 "\"sybsystemprocs.dbo.spt_datatype_info\" d ON d.ss_dtype = t.type GROUP BY t.usertype "
                 "HAVING count(d.ss_dtype) <> 1"),
            std::vector<std::string>{});
}

TEST_F(ServerTables, LookupValuesDevicesAndConfiguration) {
  EXPECT_EQ(rows("SELECT number, name FROM \"master.dbo.spt_values\" WHERE type = 'K' ORDER BY number"),
            (std::vector<std::string>{"1 | primary", "2 | foreign", "3 | common"}));
  // The one 'E' row with number 1 (page size): joined once by the row count readers.
  EXPECT_EQ(rows("SELECT count(*), max(low) FROM \"master.dbo.spt_values\" WHERE type = 'E' AND number = 1"),
            (std::vector<std::string>{"1 | 2048"}));
  // Dump devices are the ones with status bit 16, disks the ones with bit 2.
  EXPECT_EQ(rows("SELECT name FROM \"master.dbo.sysdevices\" WHERE status & 16 = 16 ORDER BY name"),
            (std::vector<std::string>{"tapedump1", "tapedump2"}));
  EXPECT_EQ(rows("SELECT name FROM \"master.dbo.sysdevices\" WHERE status & 2 = 2 ORDER BY name"),
            (std::vector<std::string>{"master", "sysprocsdev"}));
  // Every parameter hangs from an existing group and has its current row.
  EXPECT_EQ(
      rows("SELECT p.name FROM \"master.dbo.sysconfigures\" p WHERE p.config >= 100 AND (NOT EXISTS "
           "(SELECT 1 FROM \"master.dbo.sysconfigures\" g WHERE g.config = p.parent AND g.config < 100) "
           "OR NOT EXISTS (SELECT 1 FROM \"master.dbo.syscurconfigs\" c WHERE c.config = p.config))"),
      std::vector<std::string>{});
  EXPECT_EQ(
      rows("SELECT c.value, c.defvalue FROM \"master.dbo.sysconfigures\" p, \"master.dbo.syscurconfigs\" c "
           "WHERE c.config = p.config AND p.name = 'number of user connections'"),
      (std::vector<std::string>{"256 | 256"}));
}

TEST_F(ServerTables, RowcntCountsTheTableOfADataRow) {
  TableInfo t = makeBookWriters(db());
  for (int i = 1; i <= 3; ++i) {
    ASSERT_EQ(sqlite3_exec(db(),
                           ("INSERT INTO " + t.sqliteName + " (book_id, writer_id, share) VALUES ('B', " +
                            std::to_string(i) + ", '1')")
                               .c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  SessionInfo info;
  info.database = "sample";
  ASSERT_EQ(setSessionInfo(db(), &info), SQLITE_OK);
  // The clustered key's row counts the table; the nonclustered index's row adds nothing, so the
  // readers' sum over every sysindexes row of a table is its row count.
  EXPECT_EQ(rows("SELECT indid, t_rowcnt(doampg) FROM \"sample.dbo.sysindexes\" WHERE id = " +
                 std::to_string(t.id) + " ORDER BY indid"),
            (std::vector<std::string>{"1 | 3", "2 | 0"}));
  ASSERT_EQ(setSessionInfo(db(), nullptr), SQLITE_OK);
}

TEST_F(ServerTables, CharComparisonsHoldInsideJoins) {
  // A padded char(2) column compared with a shorter literal, in a join SQLite could speed up
  // with a transient index: every row of the other table pairs with the one 'E' row.
  auto indexes = rows("SELECT count(*) FROM \"sample.dbo.sysindexes\"");
  EXPECT_EQ(
      rows(
          "SELECT count(*) FROM \"sample.dbo.sysindexes\" i, \"master.dbo.spt_values\" d WHERE d.type = 'E'"),
      indexes);
}

TEST_F(ServerTables, ConfigureReadsAndSetsByWholeOrPartialName) {
  auto connections = configParameters(db(), "Number Of User Connections");
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0].group, "Memory Use");
  EXPECT_EQ(connections[0].value, 256);
  // "number of open" names two parameters: listed both, refused for a change.
  auto open = configParameters(db(), "number of open");
  ASSERT_EQ(open.size(), 2u);
  EXPECT_EQ(open[0].name, "number of open databases");
  EXPECT_EQ(configParameters(db()).size(), configParameters(db(), "").size());

  ConfigParameter set = setConfigValue(db(), "user connections", 40);
  EXPECT_EQ(set.name, "number of user connections");
  EXPECT_EQ(
      rows(
          "SELECT b.value, c.value FROM \"master.dbo.sysconfigures\" b, \"master.dbo.syscurconfigs\" c WHERE "
          "b.config = c.config AND b.name = 'number of user connections'"),
      (std::vector<std::string>{"40 | 40"}));
  struct Case {
    const char* name;
    const char* parameter;
    int32_t value;
    int number;
  };
  const Case cases[] = {
      {"unknown", "no such option", 1, 15123},
      {"a group is not a parameter", "Memory Use", 1, 15123},
      {"ambiguous", "number of open", 20, 15125},
      {"below the minimum", "number of user connections", 1, 5846},
      {"above the maximum", "tcp no delay", 2, 5846},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(errorNumber([&] { setConfigValue(db(), c.parameter, c.value); }), c.number) << c.name;
  }
  EXPECT_EQ(configParameters(db(), "number of user connections")[0].value, 40);
}

TEST_F(ServerTables, TheSampleHasItsUsersAndTypesBeforeItsScript) {
  EXPECT_EQ(
      rows("SELECT usertype, name FROM \"sample.dbo.systypes\" WHERE usertype >= 100 ORDER BY usertype"),
      (std::vector<std::string>{"100 | phone_t", "101 | zip_t"}));
  auto clerk = findUser(db(), "sample", "clerk");
  ASSERT_TRUE(clerk);
  EXPECT_EQ(clerk->gid, findUser(db(), "sample", "editors")->gid);
  EXPECT_EQ(loginName(db(), clerk->suid), std::optional<std::string>("clerk"));
  // Nobody knows the sample login's password until sa sets one.
  for (const char* guess : {"", "clerk", "sample"}) EXPECT_FALSE(checkLogin(db(), "clerk", guess)) << guess;
}

using UserTypes = test::StoreTest;

TEST_F(UserTypes, NumberedFrom100AndRefusedWhileInUse) {
  int32_t first = createUserType(db(), {"model", "phone_t", makeType(SqlType::VarChar, 12), false, false, 1});
  int32_t second =
      createUserType(db(), {"model", "amount_t", makeType(SqlType::Numeric, 0, 9, 2), true, true, 1});
  EXPECT_EQ(first, 100);
  EXPECT_EQ(second, 101);
  // A nullable type is stored with the nullable type code, as columns of it are.
  EXPECT_EQ(
      rows("SELECT name, type, length, prec, scale, allownulls, ident FROM \"model.dbo.systypes\" WHERE "
           "usertype >= 100 ORDER BY usertype"),
      (std::vector<std::string>{"phone_t | 39 | 12 | NULL | NULL | 0 | 0",
                                "amount_t | 108 | 5 | 9 | 2 | 1 | 1"}));
  struct Case {
    const char* name;
    std::function<void()> call;
    int number;
  };
  const Case cases[] = {
      {"taken by a user type",
       [&] {
         createUserType(db(), {"model", "phone_t", makeType(SqlType::Int), false, false, 1});
       },
       17331},
      {"taken by a built-in",
       [&] {
         createUserType(db(), {"model", "money", makeType(SqlType::Int), false, false, 1});
       },
       17331},
      {"unknown database",
       [&] {
         createUserType(db(), {"nodb", "x_t", makeType(SqlType::Int), false, false, 1});
       },
       911},
      {"drop unknown", [&] { dropUserType(db(), "model", "nothing_t"); }, 17332},
      {"drop built-in", [&] { dropUserType(db(), "model", "varchar"); }, 17332},
  };
  for (const Case& c : cases) EXPECT_EQ(errorNumber(c.call), c.number) << c.name;

  TableSpec s;
  s.database = "model";
  s.owner = "dbo";
  s.name = "contacts";
  ColumnSpec phone = col("phone", makeType(SqlType::VarChar, 12));
  phone.userType = first;
  s.columns = {phone};
  TableInfo t = createTable(db(), s);
  EXPECT_EQ(errorNumber([&] { dropUserType(db(), "model", "phone_t"); }), 17333);
  dropTable(db(), t);
  dropUserType(db(), "model", "phone_t");
  EXPECT_EQ(rows("SELECT name FROM \"model.dbo.systypes\" WHERE usertype >= 100"),
            (std::vector<std::string>{"amount_t"}));
}

using AddColumn = test::StoreTest;

TEST_F(AddColumn, AppendsAColumnAndFillsTheRowsThere) {
  TableSpec s;
  s.database = "sample";
  s.owner = "dbo";
  s.name = "stock";
  s.columns = {col("shop_id", makeType(SqlType::Char, 4)), col("qty", makeType(SqlType::SmallInt), true)};
  TableInfo t = createTable(db(), s);
  for (const char* shop : {"S001", "S002"}) {
    ASSERT_EQ(
        sqlite3_exec(db(), ("INSERT INTO " + t.sqliteName + " (shop_id) VALUES ('" + shop + "')").c_str(),
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
  }
  const std::string heapLengths =
      "SELECT minlen, maxlen FROM \"sample.dbo.sysindexes\" WHERE indid = 0 AND id = " + std::to_string(t.id);
  EXPECT_EQ(rows(heapLengths), (std::vector<std::string>{"4 | 6"}));

  t = addColumn(db(), t, col("note", makeType(SqlType::VarChar, 30), true));
  ColumnSpec region = col("region", makeType(SqlType::Char, 2));
  region.defaultText = "'EU'";
  t = addColumn(db(), t, region, std::string("EU"));
  ColumnSpec seq = col("seq", makeType(SqlType::Numeric, 0, 10, 0));
  seq.identity = true;
  t = addColumn(db(), t, seq);

  ASSERT_EQ(t.columns.size(), 5u);
  EXPECT_EQ(t.columns[3].defaultText, "'EU'");
  EXPECT_TRUE(t.columns[4].identity);
  EXPECT_EQ(rows("SELECT colid, name, status, offset FROM \"sample.dbo.syscolumns\" WHERE id = " +
                 std::to_string(t.id) + " ORDER BY colid"),
            (std::vector<std::string>{"1 | shop_id | 0 | 2", "2 | qty | 8 | -1", "3 | note | 8 | -2",
                                      "4 | region | 0 | 6", "5 | seq | 128 | 8"}));
  EXPECT_EQ(
      rows("SELECT shop_id, coalesce(note, 'NULL'), region, seq FROM " + t.sqliteName + " ORDER BY shop_id"),
      (std::vector<std::string>{"S001 | NULL | EU | 1", "S002 | NULL | EU | 2"}));
  EXPECT_EQ(nextIdentity(db(), t), 3);
  EXPECT_EQ(rows(heapLengths), (std::vector<std::string>{"12 | 44"}));
  EXPECT_EQ(
      rows("SELECT column_name, nulls FROM \"sample.SYS.SYSCOLUMN\" WHERE column_id = 4 AND table_id = " +
           std::to_string(t.id)),
      (std::vector<std::string>{"region | N"}));

  struct Case {
    const char* name;
    ColumnSpec column;
    int number;
  };
  ColumnSpec secondIdentity = col("seq2", makeType(SqlType::Int));
  secondIdentity.identity = true;
  const Case cases[] = {
      {"NOT NULL without a value for the rows", col("city", makeType(SqlType::VarChar, 20)), 4997},
      {"name taken, other case", col("NOTE", makeType(SqlType::Int), true), 2705},
      {"second identity", secondIdentity, 2731},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(errorNumber([&] { addColumn(db(), t, c.column); }), c.number) << c.name;
  }
  EXPECT_EQ(resolveTable(db(), {"sample", "dbo", "stock"}, "sample", "dbo")->columns.size(), 5u);
}

using LiveTables = test::StoreTest;

TEST_F(LiveTables, EachConnectionSeesWhatItWasGiven) {
  LiveProcess a;
  a.spid = 1;
  a.suid = 1;
  a.status = "running";
  a.cmd = "SELECT";
  a.hostname = "a-very-long-host-name";
  a.programName = "tabulon";
  LiveProcess b;
  b.spid = 2;
  b.suid = 1;
  b.status = "lock sleep";
  b.cmd = "UPDATE";
  b.blocked = 1;
  b.timeBlocked = 4;
  LiveLock l;
  l.spid = 1;
  l.type = kLockExTable;
  l.id = 1000002;
  l.dbid = 4;
  LiveLock w = l;
  w.spid = 2;
  w.type = kLockExIntent + kLockBlocking;
  refreshLiveTables(db(), {a, b}, {l, w});

  // Unqualified, as every generated statement names it: the connection's own copy.
  EXPECT_EQ(rows("SELECT spid, rtrim(status), cmd, blocked, coalesce(time_blocked, 'NULL'), hostname FROM "
                 "\"master.dbo.sysprocesses\" ORDER BY spid"),
            (std::vector<std::string>{"1 | running | SELECT | 0 | NULL | a-very-lon",
                                      "2 | lock sleep | UPDATE | 1 | 4 | NULL"}));
  EXPECT_EQ(
      rows("SELECT l.spid, v.name, l.class FROM \"master.dbo.syslocks\" l, \"master.dbo.spt_values\" v WHERE "
           "v.type = 'L' AND v.number = l.type ORDER BY l.spid"),
      (std::vector<std::string>{"1 | Ex_table | Non Cursor Lock", "2 | Ex_intent-blk | Non Cursor Lock"}));

  // Another connection has not been given anything; the shared tables stay empty.
  ConnectionPtr other = store_->connect();
  EXPECT_EQ(test::queryRows(other.get(), "SELECT count(*) FROM \"master.dbo.sysprocesses\""),
            (std::vector<std::string>{"0"}));
  EXPECT_EQ(rows("SELECT count(*) FROM main.\"master.dbo.sysprocesses\""), (std::vector<std::string>{"0"}));

  // A second refresh replaces the rows instead of adding to them.
  refreshLiveTables(db(), {b}, {});
  EXPECT_EQ(rows("SELECT spid FROM \"master.dbo.sysprocesses\""), (std::vector<std::string>{"2"}));
  EXPECT_EQ(rows("SELECT count(*) FROM \"master.dbo.syslocks\""), (std::vector<std::string>{"0"}));
}

TEST_F(LiveTables, RefreshWorksInsideAnOpenWriteTransactionOfAnotherConnection) {
  // A session blocked behind another's write transaction must still be able to list the
  // processes: the TEMP copy needs no lock on the shared file.
  ConnectionPtr writer = store_->connect();
  ASSERT_EQ(sqlite3_exec(writer.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(db(), 0);
  LiveProcess p;
  p.spid = 5;
  refreshLiveTables(db(), {p}, {});
  EXPECT_EQ(rows("SELECT spid FROM \"master.dbo.sysprocesses\""), (std::vector<std::string>{"5"}));
  sqlite3_exec(writer.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace
}  // namespace tabsrv
