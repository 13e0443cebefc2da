// Autocommitted statements of one batch share a storage transaction (a group) and commit before
// the client hears of them: what each statement's failure leaves, what other sessions see while
// the batch runs, how soon a second writer gets the lock, and what survives the server being
// killed right after the reply. Every outcome is read back through a second connection.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using namespace std::chrono_literals;
using tabtest::CtBatch;
using tabtest::CtClient;
using tabtest::ServerFixture;

int errorOf(const CtBatch& b) {
  const auto* e = b.firstError();
  return e ? e->number : 0;
}

std::string scalar(CtClient& c, const std::string& sql) {
  CtBatch b = c.run(sql);
  if (const auto* e = b.firstError()) return "error " + std::to_string(e->number) + ": " + e->text;
  for (const auto& set : b.sets)
    if (!set.rows.empty() && set.rows[0][0]) return *set.rows[0][0];
  return "<none>";
}

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

}  // namespace
