// The trace lines a connection sends to the SQL monitor: login, "Connected", transaction
// statements and logout, only with Monitor on and an owner.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/access/connection/connection_support.h"

namespace {

// Binds the monitor's socket (under a window title of this test's own) and reads lines.
class LineReceiver {
 public:
  LineReceiver() {
    SetSqlMonitorWindow(QStringLiteral("tf_main"), QStringLiteral("Stelvane-conn-%1").arg(::getpid()));
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const std::string name = SqlMonitorSocketName();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr),
                    static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0;
    timeval tv{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~LineReceiver() {
    ::close(fd_);
    SetSqlMonitorWindow(QStringLiteral("tf_main"), QStringLiteral("Stelvane"));
  }
  bool bound() const { return bound_; }
  // The lines up to (not including) the sentinel "end".
  std::vector<std::string> LinesUntilEnd() {
    SendToSqlMonitor(0, QStringLiteral("end"));
    std::vector<std::string> lines;
    char buf[70000];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 16) break;
      std::string line(buf + 16, static_cast<size_t>(n) - 17);
      if (line == "end") break;
      lines.push_back(line);
    }
    return lines;
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

TEST(MonitorLinesTest, LoginTransactionsAndLogoutAreTraced) {
  LineReceiver rx;
  ASSERT_TRUE(rx.bound());
  TComponent owner;
  auto db = conntest::SaDatabase();
  db->Monitor = true;
  db->Connect();
  db->Disconnect();
  // Without an owner nothing is sent.
  EXPECT_TRUE(rx.LinesUntilEnd().empty());

  TQorixDatabase* owned = new TQorixDatabase(&owner);
  owned->LoginPrompt = false;
  owned->UserName = QStringLiteral("sa");
  owned->ShowDbMessages = TShowDbMessages{smDbErr};
  owned->Monitor = true;
  owned->Connect();
  owned->BeginTran(QStringLiteral("t1"));
  owned->CommitTran(QStringLiteral("t1"));
  owned->Disconnect();
  EXPECT_EQ(rx.LinesUntilEnd(), (std::vector<std::string>{
                                    "SQL Connect: UserName = sa, ServerName = DSQUERY, DbName = master",
                                    "Connected",
                                    "BEGIN TRAN t1",
                                    "COMMIT TRAN t1",
                                    "SQL DisConnect: UserName = sa, ServerName = DSQUERY, DbName = master",
                                }));
  owned->Monitor = false;
  owned->Connect();
  EXPECT_TRUE(rx.LinesUntilEnd().empty());
}

}  // namespace
