// The server's resources stay bounded under what a client can do: the configured number of user
// connections, sockets closed as their sessions end, a batch larger than the server accepts
// refused with an error while the session goes on.
#include <dirent.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using tabtest::CtClient;
using tabtest::ServerFixture;

std::string scalar(CtClient& c, const std::string& sql) {
  auto batch = c.run(sql);
  if (const auto* e = batch.firstError()) return "error " + std::to_string(e->number) + ": " + e->text;
  if (batch.sets.empty() || batch.sets[0].rows.empty() || !batch.sets[0].rows[0][0]) return "<none>";
  return *batch.sets[0].rows[0][0];
}

// Sockets the server process has open.
int openSockets(pid_t pid) {
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = opendir(dir.c_str());
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) {
    char target[256] = {};
    std::string link = dir + "/" + e->d_name;
    ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
    if (len > 0 && std::string(target, static_cast<size_t>(len)).rfind("socket:", 0) == 0) ++n;
  }
  closedir(d);
  return n;
}

TEST(Resources, UserConnectionsAreCappedByTheConfiguredNumber) {
  ServerFixture server;
  CtClient sa;
  ASSERT_TRUE(sa.connect());
  EXPECT_EQ(scalar(sa,
                   "select c.value from master..syscurconfigs c, master..sysconfigures f "
                   "where c.config = f.config and f.name = 'number of user connections'"),
            "256");
  ASSERT_FALSE(sa.run("sp_configure 'number of user connections', 5").firstError());
  std::vector<std::unique_ptr<CtClient>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(std::make_unique<CtClient>());
    ASSERT_TRUE(clients.back()->connect()) << "session " << i + 2 << " of 5";
  }
  CtClient refused;
  std::string error;
  EXPECT_FALSE(refused.connect("DSQUERY", "sa", "", &error));
  bool sawCap = false;
  for (const auto& m : refused.takeMessages()) sawCap = sawCap || m.number == 1601;
  EXPECT_TRUE(sawCap || error.find("user connections") != std::string::npos) << error;
  // One session ends: its place is free again.
  clients.pop_back();
  CtClient next;
  bool connected = false;
  for (int i = 0; i < 50 && !connected; ++i) {
    connected = next.connect();
    if (!connected) usleep(20000);
  }
  EXPECT_TRUE(connected);
  EXPECT_EQ(scalar(next, "select 1"), "1");
  // sa raises the number and more sessions come in.
  ASSERT_FALSE(sa.run("sp_configure 'number of user connections', 10").firstError());
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<CtClient>());
    EXPECT_TRUE(clients.back()->connect());
  }
}

TEST(Resources, FinishedSessionsCloseTheirSocketsWithoutWaitingForTheNextConnection) {
  ServerFixture server;
  int before = openSockets(server.pid());
  ASSERT_GE(before, 1);
  for (int i = 0; i < 30; ++i) {
    CtClient c;
    ASSERT_TRUE(c.connect());
    EXPECT_EQ(scalar(c, "select 1"), "1");
  }
  int after = -1;
  for (int i = 0; i < 100; ++i) {
    after = openSockets(server.pid());
    if (after <= before) break;
    usleep(20000);
  }
  EXPECT_LE(after, before) << "sockets of ended sessions are still open";
}

TEST(Resources, BatchLargerThanTheServerAcceptsIsRefusedAndTheSessionGoesOn) {
  ServerFixture server;
  CtClient c;
  ASSERT_TRUE(c.connect());
  std::string big = "select datalength('" + std::string(17u << 20, 'x') + "')";
  auto batch = c.run(big);
  const auto* e = batch.firstError();
  ASSERT_TRUE(e != nullptr);
  EXPECT_EQ(e->number, 701);
  EXPECT_NE(e->text.find("larger than the 16777216 bytes"), std::string::npos) << e->text;
  EXPECT_EQ(scalar(c, "select 40 + 2"), "42");
  // Below the limit a large batch runs.
  EXPECT_EQ(scalar(c, "/* " + std::string(8u << 20, 'y') + " */ select 7"), "7");
}

}  // namespace
