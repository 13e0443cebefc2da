// The server as a process: first start lays out the data directory, SIGTERM stops it cleanly,
// committed rows survive a restart and a kill, rows of a transaction open at a kill do not,
// bad logins and bad bytes on the wire end only their own session.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using tabtest::CtClient;
using tabtest::ServerFixture;

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string scalar(CtClient& c, const std::string& sql) {
  auto batch = c.run(sql);
  if (batch.sets.empty() || batch.sets[0].rows.empty() || !batch.sets[0].rows[0][0]) return "<none>";
  return *batch.sets[0].rows[0][0];
}

TEST(ServerProcess, FreshDataDirectoryHoldsTheSystemAndSampleDatabases) {
  ServerFixture server;
  CtClient c;
  std::string error;
  ASSERT_TRUE(c.connect("DSQUERY", "sa", "", &error)) << error;
  auto batch = c.run("select name from master..sysdatabases order by name");
  ASSERT_EQ(batch.sets.size(), 1u) << (batch.firstError() ? batch.firstError()->text : "");
  std::vector<std::string> names;
  for (auto& row : batch.sets[0].rows) names.push_back(*row[0]);
  for (const char* db : {"master", "model", "sample", "sybsystemprocs", "tempdb"})
    EXPECT_NE(std::find(names.begin(), names.end(), db), names.end()) << db;
  EXPECT_TRUE(std::filesystem::exists(server.dataDir()));
}

TEST(ServerProcess, SigtermStopsCleanlyAndTheLogNamesEachSession) {
  ServerFixture server;
  {
    CtClient c;
    ASSERT_TRUE(c.connect());
    EXPECT_EQ(scalar(c, "select 1"), "1");
  }
  EXPECT_EQ(server.stop(), 0);
  std::string log = readFile(server.dataDir() + "/server.log");
  EXPECT_NE(log.find("sa"), std::string::npos) << log;
  EXPECT_NE(log.find("logout"), std::string::npos) << log;
}

TEST(ServerProcess, CommittedRowsSurviveRestartAndKillButOpenTransactionsDoNot) {
  ServerFixture server;
  {
    CtClient c;
    ASSERT_TRUE(c.connect());
    ASSERT_FALSE(c.run("create table sample..kept (id int not null, note varchar(20) null)").firstError());
    ASSERT_FALSE(c.run("insert sample..kept values (1, 'committed')").firstError());
  }
  ASSERT_EQ(server.stop(), 0);
  server.start();
  {
    CtClient c;
    ASSERT_TRUE(c.connect());
    EXPECT_EQ(scalar(c, "select note from sample..kept where id = 1"), "committed");
    ASSERT_FALSE(c.run("insert sample..kept values (2, 'also committed')").firstError());
    CtClient open;
    ASSERT_TRUE(open.connect());
    ASSERT_FALSE(
        open.run("begin tran insert sample..kept values (3, 'open') select @@trancount").firstError());
    server.kill();
  }
  server.start();
  CtClient c;
  ASSERT_TRUE(c.connect());
  EXPECT_EQ(scalar(c, "select count(*) from sample..kept"), "2");
  EXPECT_EQ(scalar(c, "select count(*) from sample..kept where id = 3"), "0");
}

TEST(ServerProcess, BadPasswordGets4002AndNoSession) {
  ServerFixture server;
  CtClient bad;
  std::string error;
  EXPECT_FALSE(bad.connect("DSQUERY", "sa", "wrong", &error));
  EXPECT_NE(error.find("4002"), std::string::npos) << error;
  CtClient unknown;
  EXPECT_FALSE(unknown.connect("DSQUERY", "nobody", "", &error));
  CtClient good;
  ASSERT_TRUE(good.connect());
  EXPECT_EQ(scalar(good, "select 1"), "1");
}

// Raw bytes on a fresh TCP connection: the server must drop that connection and keep serving.
int rawConnect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    close(fd);
    return -1;
  }
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  return fd;
}

TEST(ServerProcess, GarbageOnTheWireEndsOnlyThatConnection) {
  ServerFixture server;
  CtClient steady;
  ASSERT_TRUE(steady.connect());
  std::mt19937 rng(42);
  const std::vector<std::vector<uint8_t>> cases = {
      {},                                                // connect and close
      {0x02},                                            // truncated header
      {0x02, 0x01, 0x00, 0x04, 0, 0, 0, 0},              // length shorter than the header
      {0x02, 0x01, 0xff, 0xff, 0, 0, 0, 0, 1, 2, 3},     // length far beyond what follows
      {0x63, 0x01, 0x00, 0x08, 0, 0, 0, 0},              // unknown packet type
      {0x0f, 0x01, 0x00, 0x0a, 0, 0, 0, 0, 0x21, 0xff},  // request before login
  };
  for (const auto& bytes : cases) {
    int fd = rawConnect(server.port());
    ASSERT_GE(fd, 0);
    if (!bytes.empty()) {
      ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    shutdown(fd, SHUT_WR);
    char buf[256];
    while (read(fd, buf, sizeof(buf)) > 0) {
    }
    close(fd);
  }
  for (int i = 0; i < 50; ++i) {
    std::vector<uint8_t> bytes(8 + rng() % 600);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    bytes[0] = (i % 2) ? 0x02 : 0x0f;
    int fd = rawConnect(server.port());
    ASSERT_GE(fd, 0);
    (void)!write(fd, bytes.data(), bytes.size());
    shutdown(fd, SHUT_WR);
    char buf[256];
    while (read(fd, buf, sizeof(buf)) > 0) {
    }
    close(fd);
  }
  ASSERT_TRUE(server.running());
  EXPECT_EQ(scalar(steady, "select 40 + 2"), "42");
  CtClient fresh;
  EXPECT_TRUE(fresh.connect());
}

TEST(ServerProcess, FreeTdsCommandLineClientRunsAQuery) {
  ServerFixture server;
  std::string script = server.dataDir() + "/../tsql-input.sql";
  {
    std::ofstream in(script);
    in << "select 'from-tsql', 6 * 7\ngo\nexit\n";
  }
  std::string command = "tsql -S DSQUERY -U sa -P '' -o q < " + script + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof(buf), pipe)) output.append(buf, n);
  pclose(pipe);
  EXPECT_NE(output.find("from-tsql"), std::string::npos) << output;
  EXPECT_NE(output.find("42"), std::string::npos) << output;
}

}  // namespace
