// The context's MaxConnect bounds the connections open at once: one past the limit is refused
// with the library's text, and closing one makes room again.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "access/QorixContext.h"
#include "access/QorixExceptions.h"
#include "tests/access/connection/connection_support.h"

using conntest::SaDatabase;

namespace {

const char* const kLimitText = "The maximum number of connections have already been opened";

TEST(ConnectionLimit, AConnectionPastMaxConnectIsRefusedUntilOneCloses) {
  auto a = SaDatabase(QStringLiteral("db_a"));
  auto b = SaDatabase(QStringLiteral("db_b"));
  auto c = SaDatabase(QStringLiteral("db_c"));
  a->Connect();
  ASSERT_TRUE(a->Connected());
  a->SetMaxConnect(2);
  EXPECT_EQ(a->MaxConnect(), 2);
  b->Connect();
  EXPECT_TRUE(b->Connected());
  try {
    c->Connect();
    ADD_FAILURE() << "a third connection opened under MaxConnect 2";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.Message().contains(QLatin1String(kLimitText))) << e.Message().toStdString();
  }
  EXPECT_FALSE(c->Connected());
  EXPECT_EQ(c->ConnectionHandle(), nullptr);
  // Without ConnectError the text is stored.
  c->ConnectError = false;
  c->Connect();
  EXPECT_FALSE(c->Connected());
  EXPECT_TRUE(c->LastError().contains(QLatin1String(kLimitText))) << c->LastError().toStdString();
  a->Disconnect();
  c->ConnectError = true;
  c->Connect();
  EXPECT_TRUE(c->Connected());
  // Raising the limit lets the first one back in.
  c->SetMaxConnect(3);
  a->Connect();
  EXPECT_TRUE(a->Connected());
  c->SetMaxConnect(25);
}

// Logins started at the same moment on one context count against MaxConnect while they are
// under way: eight threads racing for two free slots open two connections.
TEST(ConnectionLimit, LoginsAtTheSameTimeStayWithinMaxConnect) {
  conntest::Server();
  TQorixContext ctx;
  ctx.SetName(QStringLiteral("racectx"));
  ctx.SetMaxConnect(2);
  constexpr int kThreads = 8;
  std::vector<CS_CONNECTION*> cons(kThreads, nullptr);
  for (CS_CONNECTION*& con : cons) {
    ASSERT_EQ(ctlib::ct_con_alloc(ctx.Handle(), &con), CS_SUCCEED);
    ctlib::ct_diag(con, CS_INIT, CS_UNUSED, CS_UNUSED, nullptr);
    ctlib::ct_con_props(con, CS_SET, CS_USERNAME, const_cast<char*>("sa"), CS_NULLTERM, nullptr);
    ctlib::ct_con_props(con, CS_SET, CS_PASSWORD, const_cast<char*>(""), CS_NULLTERM, nullptr);
  }
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<int> opened(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      ++ready;
      while (!go) std::this_thread::yield();
      opened[i] = ctlib::ct_connect(cons[i], const_cast<char*>("DSQUERY"), CS_NULLTERM) == CS_SUCCEED;
    });
  while (ready < kThreads) std::this_thread::yield();
  go = true;
  for (std::thread& t : threads) t.join();
  int count = 0;
  for (int ok : opened) count += ok;
  EXPECT_EQ(count, 2);
  for (int i = 0; i < kThreads; ++i) {
    if (opened[i]) ctlib::ct_close(cons[i], CS_UNUSED);
    ctlib::ct_con_drop(cons[i]);
  }
}

}  // namespace
