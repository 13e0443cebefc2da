// Several sessions at once: uncommitted rows stay invisible to other sessions, a second writer
// waits for the first and proceeds after its commit (or fails clearly after its lock wait), and
// an attention stops a long batch within a second, leaving the connection usable.
#include <ctpublic.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using namespace std::chrono_literals;
using tabtest::CtClient;
using tabtest::ServerFixture;

std::string scalar(CtClient& c, const std::string& sql) {
  auto batch = c.run(sql);
  if (batch.sets.empty() || batch.sets[0].rows.empty() || !batch.sets[0].rows[0][0]) return "<none>";
  return *batch.sets[0].rows[0][0];
}

class Sessions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(a.connect());
    ASSERT_TRUE(b.connect());
    ASSERT_FALSE(
        a.run("create table sample..acct (id int not null primary key, amount int not null)").firstError());
    ASSERT_FALSE(
        a.run("insert sample..acct values (1, 100) insert sample..acct values (2, 200)").firstError());
  }
  ServerFixture server;
  CtClient a, b;
};

TEST_F(Sessions, UncommittedRowsAreInvisibleToOtherSessions) {
  ASSERT_FALSE(a.run("begin tran insert sample..acct values (3, 300)").firstError());
  EXPECT_EQ(scalar(a, "select count(*) from sample..acct"), "3");
  EXPECT_EQ(scalar(b, "select count(*) from sample..acct"), "2");
  ASSERT_FALSE(a.run("commit tran").firstError());
  EXPECT_EQ(scalar(b, "select count(*) from sample..acct"), "3");
  ASSERT_FALSE(a.run("begin tran delete sample..acct where id = 3 rollback tran").firstError());
  EXPECT_EQ(scalar(b, "select count(*) from sample..acct"), "3");
}

TEST_F(Sessions, SecondWriterWaitsAndProceedsAfterCommit) {
  ASSERT_FALSE(a.run("begin tran update sample..acct set amount = amount + 1 where id = 1").firstError());
  auto started = std::chrono::steady_clock::now();
  auto second = std::async(
      std::launch::async, [&] { return b.run("update sample..acct set amount = amount + 10 where id = 1"); });
  EXPECT_EQ(second.wait_for(500ms), std::future_status::timeout) << "the second writer did not wait";
  ASSERT_FALSE(a.run("commit tran").firstError());
  auto result = second.get();
  EXPECT_FALSE(result.firstError()) << result.firstError()->text;
  EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms);
  EXPECT_EQ(scalar(a, "select amount from sample..acct where id = 1"), "111");
}

TEST_F(Sessions, SecondWriterGetsAClearErrorAfterItsLockWait) {
  ASSERT_FALSE(a.run("begin tran update sample..acct set amount = 0 where id = 2").firstError());
  auto started = std::chrono::steady_clock::now();
  auto result = b.run("set lock wait 1 update sample..acct set amount = 5 where id = 2");
  auto waited = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(result.firstError() != nullptr);
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 10s);
  ASSERT_FALSE(a.run("rollback tran").firstError());
  EXPECT_EQ(scalar(b, "select amount from sample..acct where id = 2"), "200");
  EXPECT_FALSE(b.run("update sample..acct set amount = 5 where id = 2").firstError());
  EXPECT_EQ(scalar(a, "select amount from sample..acct where id = 2"), "5");
}

TEST_F(Sessions, AttentionStopsAWait) {
  // As the result grid does it: a worker waits in ct_results while another thread sends the
  // attention (FreeTDS sends none before the client has started reading results).
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(a.connection(), &cmd), CS_SUCCEED);
  char sql[] = "waitfor delay \"00:00:30\" select 1";
  ASSERT_EQ(ct_command(cmd, CS_LANG_CMD, sql, CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  auto reader = std::async(std::launch::async, [cmd] {
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    }
    return rc;
  });
  std::this_thread::sleep_for(300ms);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ATTN), CS_SUCCEED);
  // Unstopped, the wait would go on for 30 s.
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready) << "the batch was not stopped";
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  reader.get();
  ct_cmd_drop(cmd);
  EXPECT_EQ(scalar(a, "select 'after cancel'"), "after cancel");
}

}  // namespace
