// First-start creation of the system databases, reopening, and persistence of committed work.
#include "server/storage/store.h"

#include <unistd.h>

#include "server/storage/catalog.h"
#include "server/storage/sql_util.h"
#include "tests/server/storage/store_fixture.h"

namespace tabsrv {
namespace {

using test::StoreTest;

TEST_F(StoreTest, FirstStartCreatesTheSystemDatabases) {
  EXPECT_TRUE(store_->freshlyCreated());
  EXPECT_EQ(rows("SELECT name, dbid FROM \"master.dbo.sysdatabases\" ORDER BY name"),
            (std::vector<std::string>{"master | 1", "model | 3", "sample | 4", "sybsystemprocs | 31513",
                                      "tempdb | 2"}));
  EXPECT_EQ(rows("PRAGMA journal_mode"), std::vector<std::string>{"wal"});
}

TEST_F(StoreTest, EveryDatabaseDescribesItsSystemTables) {
  for (const char* dbname : {"master", "model", "tempdb", "sybsystemprocs", "sample"}) {
    std::string d = dbname;
    auto tables = rows("SELECT name FROM \"" + d + ".dbo.sysobjects\" WHERE type = 'S' ORDER BY name");
    std::vector<std::string> expected = {"syscolumns", "syscomments", "sysindexes", "syskeys",  "sysobjects",
                                         "sysprotects", "sysreferences", "syssegments", "systypes", "sysusers"};
    if (d == "master") {
      expected = {"syscolumns", "syscomments", "sysconfigures", "syscurconfigs", "sysdatabases",
                  "sysdevices", "sysindexes",  "syskeys",       "syslocks",      "syslogins",
                  "sysobjects", "sysprocesses", "sysprotects",  "sysreferences", "syssegments", "systypes",
                  "sysusers"};
    }
    EXPECT_EQ(tables, expected) << d;
    // The spt_ lookup tables are dbo's user tables, each only where the family keeps it; their
    // syscolumns are checked with the rest.
    auto lookups =
        rows("SELECT name FROM \"" + d + ".dbo.sysobjects\" WHERE type = 'U' AND substr(name, 1, 4) = 'spt_'");
    std::vector<std::string> expectedLookups;
    if (d == "master") expectedLookups = {"spt_values"};
    if (d == "sybsystemprocs") expectedLookups = {"spt_datatype_info"};
    EXPECT_EQ(lookups, expectedLookups) << d;
    expected.insert(expected.end(), expectedLookups.begin(), expectedLookups.end());
    // syscolumns matches the real SQLite table, column by column, in order.
    for (const std::string& t : expected) {
      auto described =
          rows("SELECT c.name FROM \"" + d + ".dbo.syscolumns\" c, \"" + d +
               ".dbo.sysobjects\" o WHERE o.id = c.id AND o.name = '" + t + "' ORDER BY c.colid");
      auto actual = rows("SELECT name FROM pragma_table_info('" + d + ".dbo." + t + "') ORDER BY cid");
      EXPECT_EQ(described, actual) << d << "." << t;
    }
    EXPECT_EQ(rows("SELECT name, uid, gid FROM \"" + d +
                   ".dbo.sysusers\" WHERE name IN ('dbo', 'public') ORDER BY uid"),
              (std::vector<std::string>{"public | 0 | 0", "dbo | 1 | 0"}))
        << d;
  }
}

TEST_F(StoreTest, SystemTypesUseTheFamilyCodes) {
  EXPECT_EQ(
      rows("SELECT name, usertype, type FROM \"sample.dbo.systypes\" WHERE name IN "
           "('char','varchar','int','intn','numeric','decimal','money','smallmoney','datetime','sysname','"
           "bit')"
           " ORDER BY usertype"),
      (std::vector<std::string>{"char | 1 | 47", "varchar | 2 | 39", "int | 7 | 56", "numeric | 10 | 63",
                                "money | 11 | 60", "datetime | 12 | 61", "intn | 13 | 38", "bit | 16 | 50",
                                "sysname | 18 | 39", "smallmoney | 21 | 122", "decimal | 26 | 55"}));
}

TEST_F(StoreTest, CharColumnsArePaddedInStorage) {
  // sysobjects.type is char(2) NOT NULL: 'S' is kept as 'S ', and compares equal to 'S'.
  EXPECT_EQ(rows("SELECT '[' || type || ']' FROM \"master.dbo.sysobjects\" WHERE name = 'sysobjects' AND "
                 "type = 'S'"),
            std::vector<std::string>{"[S ]"});
}

TEST_F(StoreTest, ReopenKeepsCommittedWorkAndDropsOpenTransactions) {
  TableSpec details;
  details.database = "sample";
  details.owner = "dbo";
  details.name = "kept";
  ColumnSpec a;
  a.name = "a";
  a.type = TypeDesc{SqlType::Int, 4, 0, 0};
  details.columns.push_back(a);
  const std::string kept = createTable(db(), details).sqliteName;
  ASSERT_EQ(sqlite3_exec(db(), ("INSERT INTO " + kept + " VALUES (1)").c_str(), nullptr, nullptr, nullptr),
            SQLITE_OK);
  // A second session's open transaction never commits.
  ConnectionPtr other = store_->connect();
  ASSERT_NO_THROW(storage::execSql(other.get(), "BEGIN; INSERT INTO " + kept + " VALUES (2)"));
  other.reset();
  db_.reset();
  store_.reset();

  store_ = Store::open(dir_.string());
  EXPECT_FALSE(store_->freshlyCreated());
  db_ = store_->connect();
  EXPECT_EQ(rows("SELECT a FROM " + kept), std::vector<std::string>{"1"});
  EXPECT_TRUE(resolveTable(db(), {"sample", "", "kept"}, "master", "dbo"));
}

TEST_F(StoreTest, RestartEmptiesTempdb) {
  TableSpec details;
  details.database = "tempdb";
  details.owner = "dbo";
  details.name = "#scratch";
  ColumnSpec a;
  a.name = "a";
  a.type = TypeDesc{SqlType::Int, 4, 0, 0};
  details.columns.push_back(a);
  const std::string scratch = storage::unquoteIdent(createTable(db(), details).sqliteName);
  details.database = "sample";
  details.name = "stays";
  createTable(db(), details);
  db_.reset();
  store_.reset();

  store_ = Store::open(dir_.string());
  db_ = store_->connect();
  EXPECT_FALSE(resolveTable(db(), {"", "", "#scratch"}, "master", "dbo"));
  EXPECT_EQ(rows("SELECT count(*) FROM " + schemaTable("tempdb") + " WHERE tbl_name = '" + scratch + "'"),
            std::vector<std::string>{"0"});
  EXPECT_TRUE(resolveTable(db(), {"sample", "", "stays"}, "master", "dbo"));
  // tempdb's own system tables are untouched.
  EXPECT_TRUE(resolveTable(db(), {"tempdb", "", "sysobjects"}, "master", "dbo"));
}

TEST_F(StoreTest, SessionsConnectAndReadWhileAnotherWrites) {
  ASSERT_EQ(sqlite3_exec(db(), "BEGIN IMMEDIATE; UPDATE \"master.dbo.syslogins\" SET totcpu = 5", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  ConnectionPtr other = store_->connect();  // must not need the writer's lock
  EXPECT_EQ(test::queryRows(other.get(), "SELECT totcpu FROM \"master.dbo.syslogins\" WHERE name = 'sa'"),
            std::vector<std::string>{"0"});
  ASSERT_EQ(sqlite3_exec(db(), "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(test::queryRows(other.get(), "SELECT totcpu FROM \"master.dbo.syslogins\" WHERE name = 'sa'"),
            std::vector<std::string>{"5"});
}

TEST_F(StoreTest, ConnectionsHaveTheFunctionsAndCollation) {
  EXPECT_EQ(rows("SELECT t_upper('abc'), '10.5' < '9' COLLATE t_decimal"),
            std::vector<std::string>{"ABC | 0"});
}

TEST_F(StoreTest, ReopenAddsTheParametersAnEarlierVersionLacked) {
  rows("DELETE FROM \"master.dbo.sysconfigures\" WHERE config IN (166, 167)");
  rows("DELETE FROM \"master.dbo.syscurconfigs\" WHERE config IN (166, 167)");
  rows("UPDATE \"master.dbo.syscurconfigs\" SET maximum_value = 2147483647 WHERE config = 162");
  ASSERT_TRUE(configParameters(db(), "session open cursors").empty());
  db_.reset();
  store_.reset();
  store_ = Store::open(dir_.string());
  db_ = store_->connect();
  for (const char* name : {"session prepared statements", "session open cursors"}) {
    auto p = configParameters(db(), name);
    ASSERT_EQ(p.size(), 1u) << name;
    EXPECT_GT(p[0].runValue, 0) << name;
  }
  EXPECT_EQ(configParameters(db(), "number of user connections").at(0).maximum, 1984);
}

TEST_F(StoreTest, ReopenRaisesTheEarlierDefaultNumberOfUserConnections) {
  // An earlier version stored 25 as the default; 256 replaces it where it was never changed.
  struct Case {
    const char* label;
    int stored;
    int afterReopen;
  };
  const Case cases[] = {{"earlier default", 25, 256},
                        {"set by sp_configure", 40, 40},
                        {"above what this version serves", 5000, 1984}};
  const std::string read =
      "SELECT b.value, c.value, rtrim(c.defvalue) FROM \"master.dbo.sysconfigures\" b, "
      "\"master.dbo.syscurconfigs\" "
      "c WHERE b.config = 162 AND c.config = 162";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string value = std::to_string(c.stored);
    rows("UPDATE \"master.dbo.sysconfigures\" SET value = " + value + " WHERE config = 162");
    rows("UPDATE \"master.dbo.syscurconfigs\" SET value = " + value + ", defvalue = '25' WHERE config = 162");
    db_.reset();
    store_.reset();
    store_ = Store::open(dir_.string());
    db_ = store_->connect();
    const std::string after = std::to_string(c.afterReopen);
    EXPECT_EQ(rows(read), (std::vector<std::string>{after + " | " + after + " | 256"}));
    EXPECT_EQ(configParameters(db(), "number of user connections").at(0).runValue, c.afterReopen);
  }
  // A value chosen under this version stays, whatever it is.
  setConfigValue(db(), "number of user connections", 25);
  db_.reset();
  store_.reset();
  store_ = Store::open(dir_.string());
  db_ = store_->connect();
  EXPECT_EQ(rows(read), (std::vector<std::string>{"25 | 25 | 256"}));
}

TEST(StoreOpen, UnusableDirectoryThrows) {
  EXPECT_THROW(Store::open("/proc/tabsrv-no-such-dir/data"), std::runtime_error);
}

TEST_F(StoreTest, ALostDatabaseFileDoesNotKeepTheOthersFromStarting) {
  createDatabase(db(), "gone");
  db_.reset();
  store_.reset();
  for (const char* d : {"gone", "tempdb"})
    for (const char* suffix : {"", "-wal", "-shm"})
      std::filesystem::remove(dir_ / kDatabaseFolder / (databaseFileName(d) + suffix));
  ASSERT_NO_THROW(store_ = Store::open(dir_.string()));
  db_ = store_->connect();
  // tempdb is made again, empty; the lost database cannot be opened, and the rest reads on.
  EXPECT_TRUE(resolveTable(db(), {"tempdb", "", "sysobjects"}, "master", "dbo"));
  EXPECT_EQ(rows("SELECT count(*) FROM \"tempdb.dbo.sysusers\" WHERE name = 'guest'"),
            std::vector<std::string>{"1"});
  int error = 0;
  try {
    resolveTable(db(), {"gone", "", "sysobjects"}, "master", "dbo");
  } catch (const SqlError& e) {
    error = e.number();
  }
  EXPECT_EQ(error, 926);
  EXPECT_TRUE(resolveTable(db(), {"sample", "", "sysobjects"}, "master", "dbo"));
}

}  // namespace
}  // namespace tabsrv
