// One login's open transaction stalls only writers of the database it changes: what a second
// session can do meanwhile (each case timed), who a blocked session waits for (sysprocesses,
// sp_who, syslocks), kill, deadlocks between two databases, and the one-database rule of a
// transaction.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "tests/server/integration/batch_answers.h"
#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using namespace std::chrono_literals;
using tabtest::CtBatch;
using tabtest::errorOf;
using tabtest::errorText;
using tabtest::scalar;
using tabtest::CtClient;
using tabtest::ServerFixture;

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Waits until `done` or the deadline; false on timeout.
template <typename F>
bool eventually(F done, std::chrono::milliseconds deadline = 10s) {
  auto until = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class Concurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sa.connect());
    const char* setup[] = {
        "create database shop",
        "create database books",
        "sp_addlogin ann, 'ann-secret1', shop",
        "sp_addlogin bob, 'bob-secret1', shop",
        "create table shop..orders (a int not null)",
        "create table shop..other (a int not null)",
        "create table books..titles (a int not null)",
        "create table tempdb..shared (a int not null)",
        "grant insert, select on tempdb..shared to public",
        "use shop",
        "sp_adduser ann",
        "sp_adduser bob",
        "grant insert, select, delete on orders to public",
        "grant insert, select on other to public",
        "use books",
        "sp_adduser ann",
        "sp_adduser bob",
        "grant insert, select on titles to public",
        "use master",
    };
    for (const char* sql : setup) ASSERT_EQ(errorOf(sa.run(sql)), 0) << sql << ": " << errorText(sa.run(sql));
    ASSERT_TRUE(ann.connect("DSQUERY", "ann", "ann-secret1"));
    ASSERT_TRUE(bob.connect("DSQUERY", "bob", "bob-secret1"));
    annSpid = scalar(ann, "select @@spid");
    bobSpid = scalar(bob, "select @@spid");
  }

  ServerFixture server;
  CtClient sa, ann, bob;
  std::string annSpid, bobSpid;
};

TEST_F(Concurrency, AnIdleTransactionStallsOnlyWritersOfItsOwnDatabase) {
  ASSERT_EQ(errorOf(ann.run("begin tran insert orders values (1)")), 0);
  struct Case {
    const char* what;
    CtClient* client;
    const char* sql;
    int error;       // the error the case ends with, 0 for none
    double atLeast;  // seconds it must wait at least
    double atMost;   // the default lock wait is 30 s, far above these
  } cases[] = {
      {"another table of its database waits, then names the holder", &bob,
       "insert shop..other values (1)", 12205, 0.9, 8},
      {"a table of another database", &bob, "insert books..titles values (1)", 0, 0, 5},
      {"a transaction in another database", &bob, "begin tran insert books..titles values (2) commit tran", 0,
       0, 5},
      {"a #table", &bob, "create table #t (a int not null) insert #t values (1) drop table #t", 0, 0, 5},
      {"a table of tempdb", &bob, "insert tempdb..shared values (1)", 0, 0, 5},
      {"sa adds a login (master)", &sa, "sp_addlogin carl, 'carl-secret1'", 0, 0, 5},
      {"sa changes the configuration (master)", &sa, "sp_configure 'allow updates to system tables', 0", 0, 0,
       5},
      {"reading the table it holds", &bob, "select count(*) from shop..orders", 0, 0, 5},
      {"sp_who lists the sessions", &bob, "exec sp_who", 0, 0, 5},
      {"sp_lock lists the held lock", &bob, "exec sp_lock", 0, 0, 5},
      {"a procedure reads the held database's catalogue", &bob, "exec sp_help orders", 0, 0, 5},
      {"sa makes a database (master)", &sa, "create database third", 0, 0, 5},
      {"sa grants in the held database's catalogue", &sa, "grant select on shop..other to bob", 12205, 0.9, 8},
  };
  for (const Case& c : cases) {
    auto start = std::chrono::steady_clock::now();
    CtBatch b = c.client->run(c.error == 12205 ? std::string("set lock wait 1 ") + c.sql : std::string(c.sql));
    const double took = secondsSince(start);
    std::printf("  %-62s %6.3f s  error %d\n", c.what, took, errorOf(b));
    EXPECT_EQ(errorOf(b), c.error) << c.what << ": " << errorText(b);
    EXPECT_GE(took, c.atLeast) << c.what;
    EXPECT_LT(took, c.atMost) << c.what;
    if (c.error == 12205) {
      EXPECT_NE(errorText(b).find("held by spid " + annSpid), std::string::npos) << errorText(b);
    }
  }
  {
    // A new login whose default database is the held one.
    auto start = std::chrono::steady_clock::now();
    CtClient late;
    const bool in = late.connect("DSQUERY", "bob", "bob-secret1");
    const double took = secondsSince(start);
    std::printf("  %-62s %6.3f s  %s\n", "a new login into the held database", took, in ? "in" : "refused");
    EXPECT_TRUE(in);
    EXPECT_LT(took, 5);
    EXPECT_EQ(scalar(late, "select db_name()"), "shop");
  }
  // The reader saw only committed rows; the holder still has its own.
  EXPECT_EQ(scalar(bob, "select count(*) from shop..orders"), "0");
  EXPECT_EQ(scalar(ann, "select count(*) from orders"), "1");
  ASSERT_EQ(errorOf(ann.run("commit tran")), 0);
  EXPECT_EQ(scalar(bob, "select count(*) from shop..orders"), "1");
  EXPECT_EQ(scalar(bob, "select count(*) from books..titles"), "2");
}

// Each session's #tables are its own: a transaction that made or filled one, or that holds
// tempdb's writer, keeps no other session from its #tables, and #table work holds up no writer of
// tempdb. `set lock wait 1` turns a wait that should not happen into error 12205 within a second.
TEST_F(Concurrency, ATransactionWithATempTableStallsNoOtherSessionsTempTables) {
  struct Holder {
    const char* what;
    const char* begin;
  } holders[] = {
      {"created and filled a #table", "begin tran create table #held (a int not null) insert #held values (1)"},
      {"filled a #table made before", "create table #kept (a int not null) begin tran insert #kept values (1)"},
      {"dropped a #table", "create table #gone (a int not null) begin tran drop table #gone"},
      {"wrote a table of tempdb", "begin tran insert tempdb..shared values (1)"},
  };
  struct Case {
    const char* what;
    const char* sql;
    bool waitsForTempdbWriter;  // only a table of tempdb itself waits for tempdb's writer
  } cases[] = {
      {"creates, fills, reads and drops a #table",
       "create table #t (a int not null, b varchar(10) null) insert #t values (1, 'x') "
       "select count(*) from #t drop table #t",
       false},
      {"a #table with an identity, an index and a default",
       "create table #i (n numeric(5,0) identity, a int default 3 not null) create index ix on #i (a) "
       "insert #i (a) values (1) insert #i (a) values (2) select max(n) from #i drop table #i",
       false},
      {"select into a #table", "select name into #names from sysobjects drop table #names", false},
      {"a #table in a transaction of its own",
       "begin tran create table #x (a int not null) insert #x values (1) commit tran drop table #x", false},
      {"a table of tempdb", "insert tempdb..shared values (2)", true},
  };
  for (const Holder& h : holders) {
    ASSERT_EQ(errorOf(ann.run(h.begin)), 0) << h.what << ": " << errorText(ann.run("select 1"));
    const bool holdsTempdb = std::string(h.begin).find("tempdb..") != std::string::npos;
    for (const Case& c : cases) {
      auto start = std::chrono::steady_clock::now();
      CtBatch b = bob.run(std::string("set lock wait 1 ") + c.sql);
      const double took = secondsSince(start);
      const bool waits = holdsTempdb && c.waitsForTempdbWriter;
      std::printf("  ann %-28s bob %-52s %6.3f s  error %d\n", h.what, c.what, took, errorOf(b));
      EXPECT_EQ(errorOf(b), waits ? 12205 : 0) << h.what << " / " << c.what << ": " << errorText(b);
      if (!waits) {
        EXPECT_LT(took, 0.9) << h.what << " / " << c.what;
      }
    }
    ASSERT_EQ(errorOf(ann.run("rollback tran")), 0) << h.what;
    // What ann did in the transaction is gone; a #table made before it stays.
    EXPECT_EQ(errorOf(ann.run("select * from #held")), 208) << h.what;
    ann.run("if object_id('#kept') is not null drop table #kept");
  }
  // Each session saw only its own #tables.
  EXPECT_EQ(scalar(sa, "select count(*) from tempdb..sysobjects where name like '#%'"), "0");
  EXPECT_EQ(scalar(sa, "select count(*) from tempdb..shared"), "3");
}

// The rows of tempdb's own file whose name starts with '#': its sysobjects rows and its SQLite
// tables, read from the file itself while the server runs.
int tempRowsInTempdbFile(const std::string& dataDir) {
  sqlite3* db = nullptr;
  const std::string path = dataDir + "/databases/tempdb.db";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return -1;
  }
  int count = -1;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT (SELECT count(*) FROM \"tempdb.dbo.sysobjects\" WHERE name LIKE '#%') + "
                         "(SELECT count(*) FROM sqlite_master WHERE name LIKE '%#%')",
                         -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    count = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return count;
}

TEST_F(Concurrency, EachSessionsTempTablesAreItsOwnAndGoWithItsConnection) {
  const char* make = "create table #t (a int not null, b varchar(10) null) create index ix on #t (a)";
  ASSERT_EQ(errorOf(ann.run(make)), 0);
  ASSERT_EQ(errorOf(bob.run(make)), 0);
  ASSERT_EQ(errorOf(ann.run("insert #t values (1, 'ann')")), 0);
  ASSERT_EQ(errorOf(bob.run("begin tran insert #t values (2, 'bob') insert #t values (3, 'bob')")), 0);
  // Each reads its own #t, and tempdb's catalogue shows each its own #t only.
  EXPECT_EQ(scalar(ann, "select min(b) + str(count(*), 2) from #t"), "ann 1");
  EXPECT_EQ(scalar(bob, "select min(b) + str(count(*), 2) from #t"), "bob 2");
  for (CtClient* c : {&ann, &bob}) {
    EXPECT_EQ(scalar(*c,
                     "select count(*) from tempdb..sysobjects o, tempdb..syscolumns c, tempdb..sysindexes i "
                     "where o.id = object_id('tempdb..#t') and c.id = o.id and i.id = o.id and i.indid = 2 "
                     "and o.name like '#t%'"),
              "2");
  }
  // None of it is in tempdb's file.
  EXPECT_EQ(tempRowsInTempdbFile(server.dataDir()), 0);
  // bob is killed inside its transaction: ann's #t stays; bob's goes with its connection.
  const std::string killed = bobSpid;
  ASSERT_EQ(errorOf(sa.run("kill " + killed)), 0);
  ASSERT_TRUE(eventually([&] {
    return scalar(sa, "select count(*) from master..sysprocesses where spid = " + killed) == "0";
  }));
  EXPECT_EQ(scalar(ann, "select count(*) from #t"), "1");
  CtClient bob2;
  ASSERT_TRUE(bob2.connect("DSQUERY", "bob", "bob-secret1"));
  EXPECT_EQ(scalar(bob2, "select isnull(object_id('#t'), 0)"), "0");
  // ann logs out: a new session of ann has no #t, and may make one of the same name again.
  ann.close();
  CtClient ann2;
  ASSERT_TRUE(ann2.connect("DSQUERY", "ann", "ann-secret1"));
  EXPECT_EQ(scalar(ann2, "select isnull(object_id('#t'), 0)"), "0");
  EXPECT_EQ(errorOf(ann2.run(make)), 0);
  EXPECT_EQ(tempRowsInTempdbFile(server.dataDir()), 0);
}

// The procedures that write master's logins and configuration do not run inside a transaction, so
// no login can keep master's write lock (and every password change, login and configuration change
// of the server waiting) by leaving a transaction open.
TEST_F(Concurrency, NoTransactionHoldsMastersLoginsOrConfiguration) {
  struct Case {
    CtClient* client;
    const char* sql;
  } cases[] = {
      {&ann, "exec sp_password 'ann-secret1', 'ann-secret2'"},
      {&sa, "exec sp_addlogin dora, 'dora-secret1'"},
      {&sa, "exec sp_droplogin bob"},
      {&sa, "exec sp_configure 'allow updates to system tables', 0"},
  };
  for (const Case& c : cases) {
    CtBatch b = c.client->run(std::string("begin tran ") + c.sql);
    EXPECT_EQ(errorOf(b), 17260) << c.sql << ": " << errorText(b);
    EXPECT_EQ(scalar(*c.client, "select @@trancount"), "1") << c.sql;
    // Nothing of master is held: sa's next login change does not wait.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf(sa.run(c.client == &sa ? "select 1" : "exec sp_addlogin erin, 'erin-secret1'")), 0);
    EXPECT_LT(secondsSince(start), 5) << c.sql;
    ASSERT_EQ(errorOf(c.client->run("rollback tran")), 0);
  }
  // Outside a transaction they run.
  EXPECT_EQ(errorOf(ann.run("exec sp_password 'ann-secret1', 'ann-secret2'")), 0);
  EXPECT_EQ(scalar(sa, "select count(*) from master..syslogins where name in ('bob', 'erin')"), "2");
}

TEST_F(Concurrency, ABlockedSessionShowsItsBlockerAndKillRollsTheBlockerBack) {
  ASSERT_EQ(errorOf(ann.run("begin tran insert orders values (1)")), 0);
  auto blocked = std::async(std::launch::async, [&] {
    auto start = std::chrono::steady_clock::now();
    CtBatch b = bob.run("insert shop..other values (2)");
    return std::make_pair(b, secondsSince(start));
  });
  ASSERT_TRUE(eventually([&] {
    return scalar(sa, "select blocked from master..sysprocesses where spid = " + bobSpid) == annSpid;
  })) << "bob is not shown blocked by ann";
  // sp_who: blk_spid is the seventh column.
  CtBatch who = sa.run("sp_who " + bobSpid);
  ASSERT_FALSE(who.sets.empty());
  ASSERT_EQ(who.sets[0].rows.size(), 1u);
  EXPECT_EQ(who.sets[0].rows[0][6].value_or(""), annSpid);
  EXPECT_EQ(who.sets[0].rows[0][2].value_or(""), "lock sleep");
  // ann's lock is in shop and blocks.
  EXPECT_EQ(scalar(sa,
                   "select count(*) from master..syslocks l, master..sysdatabases d where l.dbid = d.dbid "
                   "and d.name = 'shop' and l.spid = " +
                       annSpid + " and l.type = 257"),
            "1");
  ASSERT_EQ(blocked.wait_for(0s), std::future_status::timeout);

  auto start = std::chrono::steady_clock::now();
  CtBatch killed = sa.run("kill " + annSpid);
  EXPECT_EQ(errorOf(killed), 0) << errorText(killed);
  ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready) << "bob still waits after the kill";
  auto [bobBatch, bobWaited] = blocked.get();
  EXPECT_EQ(errorOf(bobBatch), 0) << errorText(bobBatch);
  std::printf("  bob waited %.3f s, %.3f s after the kill\n", bobWaited, secondsSince(start));
  // ann's insert was rolled back, and ann's connection is gone.
  EXPECT_EQ(scalar(sa, "select count(*) from shop..orders"), "0");
  EXPECT_EQ(scalar(sa, "select count(*) from master..sysprocesses where spid = " + annSpid), "0");
  CtBatch after = ann.run("select 1");
  EXPECT_TRUE(after.failed || after.sets.empty()) << "ann's connection still answers";
}

TEST_F(Concurrency, KillIsSasAloneAndNamesOnlyLiveOtherSessions) {
  const std::string saSpid = scalar(sa, "select @@spid");
  struct Case {
    CtClient* client;
    std::string sql;
    int error;
  } cases[] = {
      {&ann, "kill " + bobSpid, 10353},
      {&sa, "kill " + saSpid, 6104},
      {&sa, "kill 999", 6106},
      {&sa, "kill 0", 6106},
  };
  for (const Case& c : cases) EXPECT_EQ(errorOf(c.client->run(c.sql)), c.error) << c.sql;
  EXPECT_EQ(scalar(bob, "select 'bob is still here'"), "bob is still here");
}

TEST_F(Concurrency, ATransactionChangesOneDatabaseBesidesTempdb) {
  ASSERT_EQ(errorOf(sa.run("begin tran insert shop..other values (5)")), 0);
  CtBatch second = sa.run("insert books..titles values (5)");
  EXPECT_EQ(errorOf(second), 3917) << errorText(second);
  EXPECT_NE(errorText(second).find("'shop'"), std::string::npos) << errorText(second);
  EXPECT_EQ(scalar(sa, "select @@trancount"), "1");
  EXPECT_EQ(errorOf(sa.run(
                "insert tempdb..shared values (5) create table #w (a int not null) insert #w values (5)")),
            0);
  ASSERT_EQ(errorOf(sa.run("commit tran")), 0);
  EXPECT_EQ(scalar(bob, "select count(*) from shop..other where a = 5"), "1");
  EXPECT_EQ(scalar(bob, "select count(*) from books..titles where a = 5"), "0");
  EXPECT_EQ(scalar(bob, "select count(*) from tempdb..shared where a = 5"), "1");
  // A trigger's write to another database is refused the same way (its own statement stands, as
  // after any failed statement of a trigger body).
  ASSERT_EQ(
      errorOf(sa.run("create trigger other_ins on shop..other for insert as insert books..titles select a "
                     "from inserted")),
      0);
  CtBatch fired = sa.run("insert shop..other values (6)");
  EXPECT_EQ(errorOf(fired), 3917) << errorText(fired);
  EXPECT_EQ(scalar(bob, "select count(*) from shop..other where a = 6"), "1");
  EXPECT_EQ(scalar(bob, "select count(*) from books..titles where a = 6"), "0");
}

TEST_F(Concurrency, TwoTransactionsWaitingForEachOtherEndInADeadlockNotALockWait) {
  // A transaction changes one database besides tempdb, so a cycle of waits goes through tempdb:
  // ann holds shop and wants tempdb, bob holds tempdb and wants shop.
  ASSERT_EQ(errorOf(ann.run("begin tran insert shop..other values (1)")), 0);
  ASSERT_EQ(errorOf(bob.run("begin tran insert tempdb..shared values (1)")), 0);
  auto start = std::chrono::steady_clock::now();
  auto annWaits = std::async(std::launch::async, [&] { return ann.run("insert tempdb..shared values (2)"); });
  ASSERT_EQ(annWaits.wait_for(300ms), std::future_status::timeout) << "ann did not wait for bob";
  CtBatch bobs = bob.run("insert shop..other values (2)");
  CtBatch anns = annWaits.get();
  const double took = secondsSince(start);
  std::printf("  deadlock resolved after %.3f s\n", took);
  // One of them is the victim (its transaction rolled back), the other goes on; well before the
  // 30 s lock wait.
  EXPECT_LT(took, 10);
  EXPECT_EQ((errorOf(anns) == 1205) + (errorOf(bobs) == 1205), 1)
      << "ann: " << errorText(anns) << " bob: " << errorText(bobs);
  EXPECT_EQ(errorOf(anns) + errorOf(bobs), 1205);
  CtClient& survivor = errorOf(anns) == 1205 ? bob : ann;
  CtClient& victim = errorOf(anns) == 1205 ? ann : bob;
  EXPECT_EQ(scalar(victim, "select @@trancount"), "0");
  ASSERT_EQ(errorOf(survivor.run("commit tran")), 0);
  // The survivor's two rows are there, none of the victim's.
  EXPECT_EQ(scalar(sa, "select count(*) from shop..other"), "1");
  EXPECT_EQ(scalar(sa, "select count(*) from tempdb..shared"), "1");
}

TEST_F(Concurrency, ATransactionThatReadBeforeAnotherSessionCommittedIsRolledBackAtItsWrite) {
  // Each transaction reads its database as it was when it first read it; once another session
  // has committed there, writing would lose that change, so the write fails as a deadlock victim.
  ASSERT_EQ(errorOf(ann.run("begin tran select count(*) from shop..orders")), 0);
  ASSERT_EQ(errorOf(bob.run("insert shop..orders values (1)")), 0);
  CtBatch write = ann.run("insert shop..orders values (2)");
  EXPECT_EQ(errorOf(write), 1205) << errorText(write);
  EXPECT_EQ(scalar(ann, "select @@trancount"), "0");
  EXPECT_EQ(scalar(ann, "select count(*) from shop..orders"), "1");
  // Locked before it read: a transaction that writes first never meets this.
  ASSERT_EQ(errorOf(ann.run("begin tran insert shop..orders values (3)")), 0);
  auto other = std::async(std::launch::async, [&] { return bob.run("insert shop..orders values (4)"); });
  ASSERT_EQ(errorOf(ann.run("select count(*) from shop..orders insert shop..orders values (5) commit tran")),
            0);
  EXPECT_EQ(errorOf(other.get()), 0);
  EXPECT_EQ(scalar(sa, "select count(*) from shop..orders"), "4");
}

TEST_F(Concurrency, AViewOverAnotherDatabaseIsReadFromEveryConnection) {
  // Each database is a file of its own: a view over another database's table is made on each
  // connection that uses it.
  ASSERT_EQ(errorOf(sa.run("insert books..titles values (7) insert books..titles values (8)")), 0);
  ASSERT_EQ(errorOf(sa.run("use shop")), 0);
  ASSERT_EQ(errorOf(sa.run("create view far as select a from books..titles where a > 7")), 0);
  ASSERT_EQ(errorOf(sa.run("grant select on far to public")), 0);
  EXPECT_EQ(scalar(sa, "select count(*) from far"), "1");
  EXPECT_EQ(scalar(bob, "select a from shop..far"), "8");
  CtClient late;
  ASSERT_TRUE(late.connect("DSQUERY", "bob", "bob-secret1"));
  EXPECT_EQ(scalar(late, "select count(*) from shop..far"), "1");
  ASSERT_EQ(errorOf(sa.run("drop view far")), 0);
  EXPECT_EQ(errorOf(late.run("select count(*) from shop..far")), 208);
  ASSERT_EQ(errorOf(sa.run("create view far as select a from books..titles")), 0);
  ASSERT_EQ(errorOf(sa.run("grant select on far to public")), 0);
  EXPECT_EQ(scalar(late, "select count(*) from shop..far"), "2");
}

TEST_F(Concurrency, ADatabaseDroppedAndMadeAgainIsNotReadFromItsOldFile) {
  CtClient sa2;
  ASSERT_TRUE(sa2.connect());
  ASSERT_EQ(errorOf(sa.run("create database scratch")), 0);
  ASSERT_EQ(errorOf(sa.run("create table scratch..t (a int not null) insert scratch..t values (1)")), 0);
  EXPECT_EQ(scalar(sa2, "select count(*) from scratch..t"), "1");
  ASSERT_EQ(errorOf(sa.run("drop database scratch")), 0);
  EXPECT_EQ(errorOf(sa2.run("select count(*) from scratch..t")), 911);
  ASSERT_EQ(errorOf(sa.run("create database scratch")), 0);
  ASSERT_EQ(errorOf(sa.run("create table scratch..t (a int not null)")), 0);
  EXPECT_EQ(scalar(sa2, "select count(*) from scratch..t"), "0");
  ASSERT_EQ(errorOf(sa2.run("insert scratch..t values (2)")), 0);
  EXPECT_EQ(scalar(sa, "select a from scratch..t"), "2");
}

}  // namespace
