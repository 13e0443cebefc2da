// Autocommitted statements of one batch share a storage transaction (a group) and commit before
// the client hears of them: what each statement's failure leaves, what other sessions see while
// the batch runs, how soon a second writer gets the lock, and what survives the server being
// killed right after the reply. Every outcome is read back through a second connection.
#include <ctpublic.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "tests/server/integration/batch_answers.h"
#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"
#include "tests/support/tcp_proxy.h"

namespace {

using namespace std::chrono_literals;
using tabtest::CtBatch;
using tabtest::errorOf;
using tabtest::scalar;
using tabtest::CtClient;
using tabtest::ServerFixture;

// The values of column a of `table`, in order, as "1 2 3".
std::string values(CtClient& c, const std::string& table) {
  CtBatch b = c.run("select a from " + table + " order by a");
  if (const auto* e = b.firstError()) return "error " + std::to_string(e->number);
  std::string out;
  for (const auto& set : b.sets)
    for (const auto& row : set.rows) out += (out.empty() ? "" : " ") + row[0].value_or("NULL");
  return out;
}

std::string inserts(const std::string& table, int from, int to) {
  std::string sql;
  for (int i = from; i <= to; ++i) sql += "insert " + table + " values (" + std::to_string(i) + ")\n";
  return sql;
}

class GroupedCommits : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writer.connect());
    ASSERT_TRUE(reader.connect());
    for (const char* sql : {
             "create database shop",
             "create table shop..t (a int not null)",
             "create unique index t_a on shop..t (a)",
             "create table shop..u (a int not null)",
             "create table shop..other (a int not null)",
             "create table shop..audit (a int not null)",
         })
      ASSERT_EQ(errorOf(writer.run(sql)), 0) << sql;
    ASSERT_EQ(errorOf(writer.run("use shop")), 0);
    ASSERT_EQ(errorOf(writer.run("create trigger u_no on u for insert as\n"
                                 "insert audit select a from inserted\n"
                                 "if exists (select 1 from inserted where a < 0) rollback transaction")),
              0);
    ASSERT_EQ(errorOf(reader.run("use shop")), 0);
  }

  ServerFixture server;
  CtClient writer, reader;
};

TEST_F(GroupedCommits, EachStatementKeepsItsOwnOutcome) {
  struct Case {
    const char* name;
    const char* batch;
    const char* t;      // what shop..t holds afterwards
    const char* u;      // and shop..u
    const char* audit;  // and what the trigger wrote
    int error;          // the batch's first error
  } cases[] = {
      {"a duplicate in the middle fails alone", "insert t values (1)\ninsert t values (2)\ninsert t values (1)\n"
                                                "insert t values (3)",
       "1 2 3", "", "", 2601},
      {"a failed update leaves the inserts before and after",
       "insert t values (1)\ninsert t values (2)\nupdate t set a = 1 where a = 2\ninsert t values (4)", "1 2 4", "",
       "", 2601},
      {"a table with a trigger commits the group first and keeps its trigger's work",
       "insert t values (1)\ninsert u values (5)\ninsert t values (2)", "1 2", "5", "5", 0},
      {"a trigger's rollback ends the batch and keeps the statements before it",
       "insert t values (1)\ninsert t values (2)\ninsert u values (-1)\ninsert t values (3)", "1 2", "", "", 0},
      {"a zero divisor ends the batch and keeps the statements before it",
       "insert t values (1)\ninsert t values (2)\ninsert t values (1/0)\ninsert t values (3)", "1 2", "", "", 3607},
      {"a rolled-back transaction after the group undoes only its own work",
       "insert t values (1)\ninsert t values (2)\nbegin tran\ninsert t values (3)\nrollback tran\ninsert t values (4)",
       "1 2 4", "", "", 0},
      {"a delete and an update commit the group first", "insert t values (1)\ninsert t values (2)\ninsert t values (3)\n"
                                        "delete t where a = 2\nupdate t set a = 30 where a = 3",
       "1 30", "", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(errorOf(writer.run("delete t delete u delete audit")), 0);
    CtBatch b = writer.run(c.batch);
    EXPECT_EQ(errorOf(b), c.error) << (b.firstError() ? b.firstError()->text : "");
    EXPECT_EQ(values(reader, "t"), c.t);
    EXPECT_EQ(values(reader, "u"), c.u);
    EXPECT_EQ(values(reader, "audit"), c.audit);
    // No transaction is left open behind the batch.
    EXPECT_EQ(scalar(writer, "select @@trancount"), "0");
  }
}

TEST_F(GroupedCommits, StatementsInsideTheGroupSeeNoTransaction) {
  CtBatch b = writer.run("insert t values (1)\ninsert t values (2)\nselect @@trancount\ninsert t values (3)");
  ASSERT_EQ(errorOf(b), 0);
  ASSERT_FALSE(b.sets.empty());
  EXPECT_EQ(b.sets[0].rows.at(0).at(0).value_or("NULL"), "0");
  // One count per statement, as without grouping.
  EXPECT_EQ(b.rowCounts, (std::vector<int>{1, 1, 1, 1}));
}

TEST_F(GroupedCommits, OtherSessionsSeeTheGroupBeforeTheBatchMovesOn) {
  // The waitfor is not an insert: the statements before it are committed while it waits.
  auto batch = std::async(std::launch::async, [&] {
    return writer.run(inserts("t", 1, 500) + "waitfor delay '00:00:03'\n" + inserts("t", 501, 600));
  });
  EXPECT_TRUE([&] {
    const auto until = std::chrono::steady_clock::now() + 2500ms;
    while (std::chrono::steady_clock::now() < until) {
      if (scalar(reader, "select count(*) from t") == "500") return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }()) << "the rows of the statements before the waitfor were not visible while it ran";
  CtBatch b = batch.get();
  EXPECT_EQ(errorOf(b), 0);
  EXPECT_EQ(scalar(reader, "select count(*) from t"), "600");
}

TEST_F(GroupedCommits, ASecondWriterGetsTheLockWithoutWaitingForTheBatch) {
  // A long batch of autocommitted inserts holds the database's write lock only between two of
  // its statements: another session's insert waits for one statement, not for the batch.
  const std::string big = inserts("t", 1, 150000);
  CtClient second;
  ASSERT_TRUE(second.connect());
  auto start = std::chrono::steady_clock::now();
  auto batch = std::async(std::launch::async, [&] {
    CtBatch b = writer.run(big);
    return std::make_pair(std::move(b), std::chrono::steady_clock::now());
  });
  // Wait until the batch is under way (its first rows are visible).
  while (scalar(reader, "select count(*) from t") == "0" && std::chrono::steady_clock::now() - start < 20s)
    std::this_thread::sleep_for(5ms);
  CtBatch other = second.run("insert shop..other values (1)");
  const auto otherDone = std::chrono::steady_clock::now();
  auto [b, batchDone] = batch.get();
  EXPECT_EQ(errorOf(other), 0);
  EXPECT_EQ(errorOf(b), 0);
  EXPECT_LT(otherDone, batchDone) << "the second writer waited for the whole batch";
  EXPECT_EQ(scalar(reader, "select count(*) from t"), "150000");
  EXPECT_EQ(values(reader, "other"), "1");
}

TEST_F(GroupedCommits, WhatTheReplyReportedSurvivesAKilledServer) {
  CtBatch b = writer.run(inserts("t", 1, 5000));
  ASSERT_EQ(errorOf(b), 0);
  ASSERT_EQ(b.rowCounts.size(), 5000u);
  writer.close();
  reader.close();
  server.kill();
  server.start();
  CtClient after;
  ASSERT_TRUE(after.connect());
  EXPECT_EQ(scalar(after, "select count(*) from shop..t"), "5000");
}


// Waits up to `bound` for `done` to hold.
template <typename F>
bool eventually(F done, std::chrono::milliseconds bound = 20000ms) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

std::string rows(CtClient& c, const std::string& sql) {
  CtBatch b = c.run(sql);
  if (const auto* e = b.firstError()) return "error " + std::to_string(e->number) + ": " + e->text;
  std::string out;
  for (const auto& set : b.sets)
    for (const auto& row : set.rows) out += (out.empty() ? "" : " | ") + tabtest::formatRow(row);
  return out;
}

TEST_F(GroupedCommits, StatementsBetweenAndInsideGroupsBehaveAsIfEachCommittedAlone) {
  // Session options, identities, views, other databases, #tables, constraints, rules and
  // defaults, text and image, cursors, procedures and exec() among grouped inserts.
  for (const char* sql : {
           "create table shop..idt (id numeric(10,0) identity, a int not null)",
           "create table shop..chk (a int not null check (a > 0))",
           "create table shop..narrow (s varchar(5) not null)",
           "create table shop..tx (a int not null, t text null, i image null)",
           "create table tempdb..tt (a int not null)",
           "create view shop..tv as select a from shop..t where a < 100 with check option",
           "create rule shop..r_small as @v < 100",
           "create default shop..d_seven as 7",
           "create table shop..ruled (a int not null, b int null)",
       })
    ASSERT_EQ(errorOf(writer.run(sql)), 0) << sql;
  ASSERT_EQ(errorOf(writer.run("use shop exec sp_bindrule 'r_small', 'ruled.a' exec sp_bindefault 'd_seven', 'ruled.b'")), 0);
  ASSERT_EQ(errorOf(writer.run("create proc p_ins as insert t values (50)")), 0);
  struct Case {
    const char* name;
    const char* batch;
    const char* check;  // read back through the reader
    const char* want;
    const char* result = nullptr;  // the batch's own first result set, when given
  } cases[] = {
      {"identity", "insert idt (a) values (1)\ninsert idt (a) values (2)\ninsert idt (a) values (3)\nselect @@identity, @@rowcount, @@error",
       "select id, a from idt order by id", "1 | 1 | 2 | 2 | 3 | 3", "3 | 1 | 0"},
      {"@@error of a failed insert in the group",
       "insert t values (1)\ninsert t values (1)\nselect @@error\ninsert t values (2)", "select a from t order by a", "1 | 2",
       "2601"},
      {"identity after failed", "insert idt (a) values (1)\ninsert idt (a) values (null)\ninsert idt (a) values (3)",
       "select a from idt order by id", "1 | 3"},
      {"identity_insert", "insert idt (a) values (1)\nset identity_insert idt on\ninsert idt (id, a) values (100, 2)\nset identity_insert idt off\ninsert idt (a) values (3)",
       "select id, a from idt where id >= 100 order by id", "100 | 2 | 101 | 3"},
      {"chained", "insert t values (1)\nset chained on\ninsert t values (2)\nrollback\ninsert t values (3)\ncommit\nset chained off\ninsert t values (4)",
       "select a from t order by a", "1 | 3 | 4"},
      {"nocount", "set nocount on\ninsert t values (1)\ninsert t values (1)\ninsert t values (2)\nset nocount off", "select a from t order by a", "1 | 2"},
      {"rowcount", "set rowcount 1\ninsert t values (1)\ninsert t values (2)\nset rowcount 0", "select a from t order by a", "1 | 2"},
      {"view check option", "insert tv values (1)\ninsert tv values (200)\ninsert tv values (2)", "select a from t order by a", "1 | 2"},
      {"tempdb alternating", "insert tempdb..tt values (1)\ninsert t values (1)\ninsert tempdb..tt values (2)\ninsert t values (2)\ninsert tempdb..tt values (3)",
       "select (select count(*) from tempdb..tt), (select count(*) from t)", "3 | 2"},
      {"#table", "create table #x (a int not null)\ninsert #x values (1)\ninsert t values (1)\ninsert #x values (2)\ninsert t values (2)\ninsert t select count(*) + 10 from #x",
       "select a from t order by a", "1 | 2 | 12"},
      {"check", "insert chk values (1)\ninsert chk values (-1)\ninsert chk values (2)", "select a from chk order by a", "1 | 2"},
      {"rule and default", "insert ruled (a) values (1)\ninsert ruled (a) values (500)\ninsert ruled (a) values (2)", "select a, b from ruled order by a", "1 | 7 | 2 | 7"},
      {"truncation", "insert narrow values ('abc')\ninsert narrow values ('abcdefghij')\ninsert narrow values ('xy')", "select s from narrow order by s", "abc | abcde | xy"},
      {"text image", "insert tx values (1, 'hello', 0x0102)\ninsert tx values (2, null, null)\ninsert tx values (3, 'world', 0xff)",
       "select a, convert(varchar(10), t), convert(varbinary(4), i) from tx order by a", "1 | hello | 0102 | 2 | NULL | NULL | 3 | world | ff"},
      {"cursor", "insert t values (1)\ninsert t values (2)\ndeclare c cursor for select a from t\nopen c\ninsert t values (3)\nfetch c\ninsert t values (4)\nfetch c\nclose c\ndeallocate cursor c\ninsert t values (5)",
       "select a from t order by a", "1 | 2 | 3 | 4 | 5"},
      {"proc and exec", "insert t values (1)\nexec p_ins\ninsert t values (2)\nexec('insert t values (3) insert t values (3) insert t values (4)')\ninsert t values (5)",
       "select a from t order by a", "1 | 2 | 3 | 4 | 5 | 50"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(errorOf(reader.run("delete t delete idt delete chk delete narrow delete tx delete tempdb..tt delete ruled")), 0);
    CtBatch b = writer.run(c.batch);
    std::string messages;
    for (const auto& m : b.messages) messages += std::to_string(m.number) + ": " + m.text + "\n";
    EXPECT_EQ(rows(reader, c.check), c.want) << messages;
    if (c.result) {
      ASSERT_FALSE(b.sets.empty());
      EXPECT_EQ(tabtest::formatRow(b.sets[0].rows.at(0)), c.result);
    }
    EXPECT_EQ(scalar(writer, "select @@trancount"), "0");
  }
}

// After a batch of inserts 1..n into shop..t stopped half way: the rows kept are 1..k with no
// gap (every statement that finished, none half done), and at least every one the client was
// told of.
void expectAPrefixOfTheBatch(CtClient& reader, int reported) {
  const std::string kept = scalar(reader, "select count(*) from shop..t");
  EXPECT_EQ(scalar(reader, "select isnull(max(a), 0) from shop..t"), kept);
  EXPECT_GE(std::stoi(kept), reported) << "a statement the client was told of is not there";
}

TEST_F(GroupedCommits, AnAttentionKeepsEveryStatementThatFinished) {
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(writer.connection(), &cmd), CS_SUCCEED);
  std::string sql = inserts("shop..t", 1, 150000);
  ASSERT_EQ(ct_command(cmd, CS_LANG_CMD, sql.data(), CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  std::atomic<int> reported{0};
  auto results = std::async(std::launch::async, [cmd, &reported] {
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED)
      if (type == CS_CMD_DONE) ++reported;
    return rc;
  });
  ASSERT_TRUE(eventually([&] { return scalar(reader, "select count(*) from t") != "0"; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ATTN), CS_SUCCEED);
  ASSERT_EQ(results.wait_for(20s), std::future_status::ready) << "the batch was not stopped";
  results.get();
  ct_cmd_drop(cmd);
  EXPECT_LT(std::stoi(scalar(reader, "select count(*) from t")), 150000) << "the attention stopped nothing";
  expectAPrefixOfTheBatch(reader, reported.load());
  // The session goes on as before: no transaction left open, and its next batch is grouped
  // and committed as usual.
  EXPECT_EQ(scalar(writer, "select @@trancount"), "0");
  EXPECT_EQ(errorOf(writer.run("insert u values (5)\ninsert t values (-1)\ninsert t values (-2)")), 0);
  EXPECT_EQ(scalar(reader, "select count(*) from t where a < 0"), "2");
}

TEST_F(GroupedCommits, ALostClientConnectionKeepsEveryStatementThatFinished) {
  tabtest::TcpProxy proxy(server.port());
  tabtest::AddServerEntry(server.configPath(), server.interfacesPath(), "CUTTABLE", proxy.port());
  CtClient victim;
  ASSERT_TRUE(victim.connect("CUTTABLE"));
  const std::string spid = scalar(victim, "select @@spid");
  const std::string big = inserts("shop..t", 1, 150000);
  auto batch = std::async(std::launch::async, [&] { return victim.run(big); });
  ASSERT_TRUE(eventually([&] { return scalar(reader, "select count(*) from t") != "0"; }));
  std::this_thread::sleep_for(50ms);
  proxy.CutAll();
  CtBatch b = batch.get();
  ASSERT_TRUE(eventually(
      [&] { return scalar(reader, "select count(*) from master..sysprocesses where spid = " + spid) == "0"; }));
  expectAPrefixOfTheBatch(reader, static_cast<int>(b.rowCounts.size()));
}

TEST_F(GroupedCommits, AKilledSessionKeepsEveryStatementThatFinished) {
  // sa kills the session in the middle of a long batch: the kill must not interrupt a statement
  // of the group half way (storage would undo the whole group with it). Several rounds, as the
  // kill lands at a random point.
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(errorOf(reader.run("delete t")), 0);
    CtClient victim;
    ASSERT_TRUE(victim.connect());
    const std::string spid = scalar(victim, "select @@spid");
    const std::string big = inserts("shop..t", 1, 150000);
    auto batch = std::async(std::launch::async, [&] { return victim.run(big); });
    ASSERT_TRUE(eventually([&] { return scalar(reader, "select count(*) from t") != "0"; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 37 * round));
    ASSERT_EQ(errorOf(reader.run("kill " + spid)), 0);
    CtBatch b = batch.get();
    ASSERT_TRUE(eventually(
        [&] { return scalar(reader, "select count(*) from master..sysprocesses where spid = " + spid) == "0"; }));
    EXPECT_LT(std::stoi(scalar(reader, "select count(*) from t")), 150000) << "the kill stopped nothing";
    expectAPrefixOfTheBatch(reader, static_cast<int>(b.rowCounts.size()));
  }
}

// Sends `sql`, sends an attention `after` later, and returns how long the batch took to stop.
std::chrono::milliseconds stopAfter(CtClient& client, std::string sql, std::chrono::milliseconds after) {
  CS_COMMAND* cmd = nullptr;
  if (ct_cmd_alloc(client.connection(), &cmd) != CS_SUCCEED) return std::chrono::milliseconds::max();
  ct_command(cmd, CS_LANG_CMD, sql.data(), CS_NULLTERM, CS_UNUSED);
  ct_send(cmd);
  auto results = std::async(std::launch::async, [cmd] {
    CS_INT type = 0;
    while (ct_results(cmd, &type) == CS_SUCCEED) {
    }
  });
  std::this_thread::sleep_for(after);
  const auto sent = std::chrono::steady_clock::now();
  ct_cancel(nullptr, cmd, CS_CANCEL_ATTN);
  if (results.wait_for(30s) != std::future_status::ready) std::abort();  // the batch never stopped
  results.get();
  ct_cmd_drop(cmd);
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
}

TEST_F(GroupedCommits, AnAttentionWhileAnInsertMovesACursorsRowsAsideLeavesTheSessionStoppable) {
  // A grouped insert first moves an open cursor's remaining rows aside; an attention during that
  // move stops the insert before it began, and later statements can still be stopped.
  ASSERT_EQ(errorOf(writer.run("create table d10 (i int not null)\n"
                               "insert d10 values (0) insert d10 values (1) insert d10 values (2) insert d10 values (3) "
                               "insert d10 values (4) insert d10 values (5) insert d10 values (6) insert d10 values (7) "
                               "insert d10 values (8) insert d10 values (9)\n"
                               "create table big (i int not null)\n"
                               "insert big select a.i * 100 + b.i * 10 + c.i from d10 a, d10 b, d10 c")),
            0);
  ASSERT_EQ(errorOf(writer.run("declare streamed cursor for select x.i, y.i, z.i from big x, big y, d10 z\n"
                               "open streamed\nfetch streamed")),
            0);
  EXPECT_LT(stopAfter(writer, "insert t values (1)\ninsert t values (2)", 300ms), 5s);
  EXPECT_EQ(values(reader, "t"), "");
  // Unstopped, this runs for minutes.
  EXPECT_LT(stopAfter(writer, "select count(*) from big x, big y, big z where x.i + y.i = z.i + 5", 300ms), 5s)
      << "an attention no longer stops the session's statements";
  EXPECT_EQ(errorOf(writer.run("insert t values (1)\ninsert t values (2)")), 0);
  EXPECT_EQ(values(reader, "t"), "1 2");
}

TEST_F(GroupedCommits, OtherSessionsWorkOnTheTableWhileALongBatchRuns) {
  // Each of these, from another session during a long batch of inserts into t, waits for one
  // statement of the batch at most, not for the batch.
  const char* others[] = {
      "select count(*) from shop..t",
      "exec sp_lock",
      "exec sp_who",
      "insert shop..t values (-1)",
      "create index t_again on shop..t (a)",
      "alter table shop..other add b int null",
      "update shop..t set a = -a where a = 1",
  };
  CtClient second;
  ASSERT_TRUE(second.connect());
  for (const char* other : others) {
    SCOPED_TRACE(other);
    ASSERT_EQ(errorOf(reader.run("delete t")), 0);
    auto batch = std::async(std::launch::async, [&] {
      CtBatch b = writer.run(inserts("shop..t", 1, 150000));
      return std::make_pair(std::move(b), std::chrono::steady_clock::now());
    });
    ASSERT_TRUE(eventually([&] { return scalar(reader, "select count(*) from t") != "0"; }));
    CtBatch o = second.run(other);
    const auto otherDone = std::chrono::steady_clock::now();
    auto [b, batchDone] = batch.get();
    EXPECT_EQ(errorOf(o), 0) << (o.firstError() ? o.firstError()->text : "");
    EXPECT_EQ(errorOf(b), 0) << (b.firstError() ? b.firstError()->text : "");
    EXPECT_LT(otherDone, batchDone) << "the other session waited for the whole batch";
    EXPECT_EQ(scalar(reader, "select count(*) from t where a > 1"), "149999");
  }
}

}  // namespace
