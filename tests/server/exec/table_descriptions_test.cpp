// Table descriptions a session keeps between statements: every change to a table, by the session
// itself or by another one, shows in the next statement; what a rollback takes back never does;
// one session's #tables stay its own.
#include <gtest/gtest.h>

#include "recording_sink.h"

namespace tabtest {
namespace {

// The column names of the first result set of `sink`, joined with commas; the error numbers when
// the batch failed.
std::string shape(const RecordingSink& sink) {
  if (!sink.errorNumbers().empty()) return "error " + std::to_string(sink.errorNumbers()[0]);
  if (sink.sets.empty()) return "no result";
  std::string out;
  for (const auto& c : sink.sets[0].columns) out += (out.empty() ? "" : ",") + c.name;
  return out;
}

class TableDescriptions : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    other_ = login();
    run("create table t (a int not null)\ninsert t values (1)");
    // Both sessions have described t before anything changes.
    ASSERT_EQ(shape(run("select * from t")), "a");
    ASSERT_EQ(shape(run("select * from t", other_.get())), "a");
  }
  void TearDown() override {
    // A session ends before the engine it belongs to.
    other_.reset();
    EngineTest::TearDown();
  }
  std::unique_ptr<tabsrv::Session> other_;
};

TEST_F(TableDescriptions, ChangesByAnotherSessionShowAtOnce) {
  struct Step {
    const char* ddl;       // run by the other session
    const char* expected;  // what `select * from t` shows the first session next
  };
  const Step steps[] = {
      {"alter table t add b int null", "a,b"},
      {"drop table t", "error 208"},
      {"create table t (x varchar(5) not null, y int null, z int null)", "x,y,z"},
      {"drop table t\ncreate table t (only int null)", "only"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.ddl);
    ASSERT_EQ(run(s.ddl, other_.get()).errorNumbers(), std::vector<int>{});
    EXPECT_EQ(shape(run("select * from t")), s.expected);
  }
}

TEST_F(TableDescriptions, AnotherSessionsCommittedTransactionShowsOnlyOnCommit) {
  run("begin tran\nalter table t add b int null", other_.get());
  // The other session sees its own change; the first reads the committed catalogue (and waits for
  // nothing: it only reads).
  EXPECT_EQ(shape(run("select * from t", other_.get())), "a,b");
  EXPECT_EQ(shape(run("select * from t")), "a");
  run("commit tran", other_.get());
  EXPECT_EQ(shape(run("select * from t")), "a,b");
}

TEST_F(TableDescriptions, RolledBackDdlIsNotKept) {
  struct Case {
    const char* name;
    const char* inside;    // run inside the transaction, then rolled back
    const char* query;     // checked inside and after
    const char* during;    // what it shows inside the transaction
    const char* after;     // and after the rollback, on both sessions
    const char* rollback;  // the statement that takes the change back
  };
  const Case cases[] = {
      {"create", "create table fresh (c int null)", "select * from fresh", "c", "error 208", "rollback tran"},
      {"alter", "alter table t add b int null", "select * from t", "a,b", "a", "rollback tran"},
      {"drop", "drop table t", "select * from t", "error 208", "a", "rollback tran"},
      {"recreate", "drop table t\ncreate table t (n int null, m int null)", "select * from t", "n,m", "a",
       "rollback tran"},
      {"savepoint", "save tran s\nalter table t add b int null", "select * from t", "a,b", "a",
       "rollback tran s\ncommit tran"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(run(std::string("begin tran\n") + c.inside).errorNumbers(), std::vector<int>{});
    EXPECT_EQ(shape(run(c.query)), c.during);
    ASSERT_EQ(run(c.rollback).errorNumbers(), std::vector<int>{});
    EXPECT_EQ(scalar("select @@trancount"), "0");
    EXPECT_EQ(shape(run(c.query)), c.after);
    EXPECT_EQ(shape(run(c.query, other_.get())), c.after);
  }
}

TEST_F(TableDescriptions, FailedStatementLeavesTheTableAsItWas) {
  // The column clashes, so the ALTER's transaction rolls back.
  EXPECT_FALSE(run("alter table t add a int null").errorNumbers().empty());
  EXPECT_EQ(shape(run("select * from t")), "a");
  EXPECT_EQ(shape(run("select * from t", other_.get())), "a");
}

TEST_F(TableDescriptions, DefaultBoundByAnotherSessionFillsTheNextInsert) {
  run("alter table t add q int null");
  ASSERT_EQ(shape(run("select * from t")), "a,q");
  run("insert t (a) values (2)");
  ASSERT_EQ(run("create default seven as 7", other_.get()).errorNumbers(), std::vector<int>{});
  ASSERT_EQ(run("exec sp_bindefault seven, 't.q'", other_.get()).errorNumbers(), std::vector<int>{});
  run("insert t (a) values (3)");
  EXPECT_EQ(scalar("select isnull(q, 0) from t where a = 2"), "0");
  EXPECT_EQ(scalar("select q from t where a = 3"), "7");
}

TEST_F(TableDescriptions, TempTablesStayWithTheirSession) {
  run("create table #mine (a int null, b int null)");
  EXPECT_EQ(shape(run("select * from #mine")), "a,b");
  EXPECT_EQ(shape(run("select * from #mine", other_.get())), "error 208");
  run("create table #mine (z int null)", other_.get());
  EXPECT_EQ(shape(run("select * from #mine", other_.get())), "z");
  EXPECT_EQ(shape(run("select * from #mine")), "a,b");
  run("drop table #mine");
  EXPECT_EQ(shape(run("select * from #mine")), "error 208");
  EXPECT_EQ(shape(run("select * from #mine", other_.get())), "z");
}

TEST_F(TableDescriptions, DroppedDatabaseIsNoLongerFound) {
  run("create database extra");
  run("create table extra..u (k int null)");
  EXPECT_EQ(shape(run("select * from extra..u")), "k");
  ASSERT_EQ(run("drop database extra", other_.get()).errorNumbers(), std::vector<int>{});
  EXPECT_EQ(shape(run("select * from extra..u")), "error 911");
}

}  // namespace
}  // namespace tabtest
