// master..sysprocesses and master..syslocks as other sessions see them while those sessions are
// alive: one row per connected session with its login, program and database, a writer waiting on
// another's open transaction marked as blocked by that spid, and the holder's lock listed.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <thread>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using namespace std::chrono_literals;
using tabtest::CtBatch;
using tabtest::CtClient;
using tabtest::ServerFixture;

std::string scalar(CtClient& c, const std::string& sql) {
  CtBatch batch = c.run(sql);
  if (batch.sets.empty() || batch.sets[0].rows.empty() || !batch.sets[0].rows[0][0]) return "<none>";
  return *batch.sets[0].rows[0][0];
}

// The rows of the first result set, each formatted "a | b | ...".
std::vector<std::string> rows(CtClient& c, const std::string& sql) {
  CtBatch batch = c.run(sql);
  std::vector<std::string> out;
  if (const auto* e = batch.firstError()) out.push_back("error: " + e->text);
  if (!batch.sets.empty())
    for (const auto& r : batch.sets[0].rows) out.push_back(tabtest::formatRow(r));
  return out;
}

class LiveState : public ::testing::Test {
 protected:
  ServerFixture server;
  CtClient a, b, c;
};

TEST_F(LiveState, EachSessionShowsItsLoginProgramAndDatabase) {
  ASSERT_TRUE(a.connect("DSQUERY", "sa", "", nullptr, "first_app"));
  ASSERT_FALSE(a.run("sp_addlogin watcher, 'Secret12', sample").firstError());
  ASSERT_FALSE(a.run("use sample exec sp_adduser watcher").firstError());
  ASSERT_TRUE(b.connect("DSQUERY", "watcher", "Secret12", nullptr, "second_app"));
  ASSERT_TRUE(c.connect("DSQUERY", "sa", "", nullptr, "third_app"));
  std::string sa = scalar(a, "select @@spid"), sb = scalar(b, "select @@spid"),
              sc = scalar(c, "select @@spid");
  EXPECT_NE(sa, sb);
  EXPECT_NE(sb, sc);

  // Asked from the third session: every row is another session's state, not a copy of its own.
  std::map<std::string, std::string> bySpid;
  for (const std::string& r :
       rows(c,
            "select spid, suser_name(suid), program_name, db_name(dbid), blocked, rtrim(status), rtrim(cmd) "
            "from master..sysprocesses"))
    bySpid[r.substr(0, r.find(' '))] = r;
  ASSERT_EQ(bySpid.size(), 3u);
  EXPECT_EQ(bySpid[sa], sa + " | sa | first_app | sample | 0 | recv sleep | AWAITING COMMAND");
  EXPECT_EQ(bySpid[sb], sb + " | watcher | second_app | sample | 0 | recv sleep | AWAITING COMMAND");
  // The asking session is running the statement that reads the table.
  EXPECT_EQ(bySpid[sc], sc + " | sa | third_app | master | 0 | running | SELECT");

  // A session that logs out is gone from the next read.
  b.close();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(scalar(c, "select count(*) from master..sysprocesses"), "2");
  EXPECT_EQ(scalar(c, "select count(*) from master..syslocks"), "0");
}

TEST_F(LiveState, AWaitingWriterShowsWhoBlocksIt) {
  ASSERT_TRUE(a.connect());
  ASSERT_TRUE(b.connect());
  ASSERT_TRUE(c.connect());
  ASSERT_FALSE(a.run("create table sample..acct (id int not null, amount int not null)").firstError());
  ASSERT_FALSE(a.run("insert sample..acct values (1, 100)").firstError());
  std::string holder = scalar(a, "select @@spid"), waiter = scalar(b, "select @@spid");

  ASSERT_FALSE(a.run("begin tran update sample..acct set amount = amount + 1 where id = 1").firstError());
  // Before anybody waits, the holder's lock is there but blocks nobody.
  EXPECT_EQ(rows(c, "select spid, type from master..syslocks"), std::vector<std::string>{holder + " | 1"});

  auto second = std::async(
      std::launch::async, [&] { return b.run("update sample..acct set amount = amount + 10 where id = 1"); });
  std::string blocked = "0";
  for (auto until = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < until;) {
    blocked = scalar(c, "select blocked from master..sysprocesses where spid = " + waiter);
    if (blocked != "0") break;
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(blocked, holder);
  EXPECT_EQ(scalar(c, "select rtrim(status) from master..sysprocesses where spid = " + waiter), "lock sleep");
  // The holder's lock now blocks someone: Ex_table plus the blocking flag.
  EXPECT_EQ(rows(c, "select spid, type from master..syslocks"), std::vector<std::string>{holder + " | 257"});
  CtBatch locks = c.run("sp_lock");
  ASSERT_FALSE(locks.sets.empty());
  ASSERT_EQ(locks.sets[0].rows.size(), 1u);
  EXPECT_EQ(locks.sets[0].rows[0][1], holder);
  EXPECT_EQ(locks.sets[0].rows[0][2], "Ex_table-blk");
  EXPECT_EQ(second.wait_for(0ms), std::future_status::timeout) << "the second writer did not wait";

  ASSERT_FALSE(a.run("commit tran").firstError());
  CtBatch result = second.get();
  EXPECT_FALSE(result.firstError()) << result.firstError()->text;
  EXPECT_EQ(scalar(c, "select amount from sample..acct where id = 1"), "111");
  EXPECT_EQ(scalar(c, "select count(*) from master..sysprocesses where blocked <> 0"), "0");
  EXPECT_EQ(scalar(c, "select count(*) from master..syslocks"), "0");
}

// A login cannot be dropped while it is connected; once it has logged out (and has no user left
// in any database) it goes, and can no longer log in. Only sa may change the configuration.
TEST_F(LiveState, ALoginInUseIsNotDropped) {
  ASSERT_TRUE(a.connect());
  ASSERT_FALSE(a.run("sp_addlogin visitor, 'Visit123'").firstError());
  ASSERT_TRUE(b.connect("DSQUERY", "visitor", "Visit123"));

  CtBatch config = b.run("sp_configure 'number of locks', 6000");
  ASSERT_TRUE(config.firstError() != nullptr);
  EXPECT_EQ(config.firstError()->number, 10305);
  EXPECT_EQ(scalar(a, "select value from master..sysconfigures where name = 'number of locks'"), "5000");

  CtBatch refused = a.run("sp_droplogin visitor");
  ASSERT_TRUE(refused.firstError() != nullptr);
  EXPECT_EQ(refused.firstError()->text, "Login 'visitor' is currently logged in and cannot be dropped.");
  EXPECT_EQ(refused.returnStatus, 1);
  b.close();
  std::this_thread::sleep_for(200ms);
  CtBatch dropped = a.run("sp_droplogin visitor");
  EXPECT_FALSE(dropped.firstError()) << dropped.firstError()->text;
  EXPECT_EQ(dropped.returnStatus, 0);
  CtClient again;
  EXPECT_FALSE(again.connect("DSQUERY", "visitor", "Visit123"));
}

}  // namespace
