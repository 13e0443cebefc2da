// The listener over real loopback sockets: connections that never log in are closed after a short
// first-packet deadline and have a room of their own, so they can neither fill the server nor
// keep new logins out; logged-in sessions are never closed to make that room.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "server/tds/server.h"
#include "tests/server/tds/stub_engine.h"
#include "tests/server/tds/wire_fixture.h"

namespace {

using namespace std::chrono_literals;
using tabsrv::tds::Server;
using tabsrv::tds::ServerConfig;

// A raw client socket.
class Client {
 public:
  explicit Client(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { ::close(fd_); }
  bool connected() const { return connected_; }
  void send(const tabsrv::Bytes& b) { (void)::send(fd_, b.data(), b.size(), MSG_NOSIGNAL); }
  // True once the server has closed the connection (end of stream or reset), waiting at most
  // `wait`; bytes that arrive meanwhile are kept.
  bool closedWithin(std::chrono::milliseconds wait) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      uint8_t buffer[4096];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return true;
      received_.insert(received_.end(), buffer, buffer + n);
    }
    return false;
  }
  // Reads until a packet with the last-packet bit has come; the reply's bytes, or nothing.
  tabsrv::Bytes reply(std::chrono::milliseconds wait) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      size_t at = 0;
      while (received_.size() >= at + 8) {
        size_t length = (received_[at + 2] << 8) | received_[at + 3];
        if (length < 8 || received_.size() < at + length) break;
        if (received_[at + 1] & 1) return tabsrv::Bytes(received_.begin(), received_.begin() + at + length);
        at += length;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      uint8_t buffer[4096];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return {};
      received_.insert(received_.end(), buffer, buffer + n);
    }
    return {};
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  tabsrv::Bytes received_;
};

// True when a login reply carries a successful LOGINACK.
bool loggedIn(const tabsrv::Bytes& reply) {
  if (reply.empty()) return false;
  for (const auto& t : tabtest::replyTokens(reply))
    if (t.token == 0xAD) return t.bytes.size() > 3 && t.bytes[3] == 5;
  return false;
}

class Listener : public ::testing::Test {
 protected:
  void start(ServerConfig config) {
    server = std::make_unique<Server>(engine, [this](const std::string& line) {
      std::lock_guard lock(logMutex);
      log.push_back(line);
    }, config);
    server->start();
  }
  bool logged(const std::string& text) {
    std::lock_guard lock(logMutex);
    for (const auto& l : log)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
  // The log outlives the server, whose threads write to it until it has stopped.
  std::mutex logMutex;
  std::vector<std::string> log;
  tabtest::StubEngine engine;
  std::unique_ptr<Server> server;
};

TEST_F(Listener, ASilentConnectionIsClosedAfterTheFirstPacketDeadline) {
  ServerConfig config;
  config.connection.firstPacketTimeoutMs = 300;
  start(config);
  Client silent(server->port()), talking(server->port());
  ASSERT_TRUE(silent.connected() && talking.connected());
  auto startedAt = std::chrono::steady_clock::now();
  // The whole login still has its own, longer deadline: a client that has started keeps going.
  talking.send(tabtest::loginPackets());
  EXPECT_TRUE(loggedIn(talking.reply(5s)));
  // The login deadline is 30 s; the first packet's is far shorter.
  EXPECT_TRUE(silent.closedWithin(5s)) << "a silent connection was kept";
  const auto waited = std::chrono::steady_clock::now() - startedAt;
  EXPECT_GE(waited, 250ms);
  EXPECT_FALSE(talking.closedWithin(500ms)) << "a logged-in session was closed";
}

TEST_F(Listener, ConnectionsThatNeverLogInMakeRoomForNewLogins) {
  ServerConfig config;
  config.maxConnections = 10;  // six sessions and four logging in
  config.maxLoggingIn = 4;
  config.connection.firstPacketTimeoutMs = 20000;
  start(config);
  // Sessions already logged in are not counted, and never closed.
  std::vector<std::unique_ptr<Client>> sessions;
  for (int i = 0; i < 6; ++i) {
    sessions.push_back(std::make_unique<Client>(server->port()));
    sessions.back()->send(tabtest::loginPackets());
    ASSERT_TRUE(loggedIn(sessions.back()->reply(5s))) << "session " << i;
  }
  // A flood of connections that never say anything.
  std::vector<std::unique_ptr<Client>> silent;
  for (int i = 0; i < 12; ++i) {
    silent.push_back(std::make_unique<Client>(server->port()));
    ASSERT_TRUE(silent.back()->connected());
    std::this_thread::sleep_for(5ms);
  }
  // A new login still gets in, at once.
  Client late(server->port());
  late.send(tabtest::loginPackets());
  EXPECT_TRUE(loggedIn(late.reply(5s))) << "a new login was kept out by silent connections";
  // The oldest silent connections went to make room; the newest are still waiting.
  EXPECT_TRUE(silent.front()->closedWithin(2s));
  EXPECT_FALSE(silent.back()->closedWithin(200ms));
  EXPECT_TRUE(logged("connections still logging in"));
  for (auto& s : sessions) EXPECT_FALSE(s->closedWithin(10ms)) << "a logged-in session was closed";
}

}  // namespace
