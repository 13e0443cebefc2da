// The SQL-monitor channel: a receiver bound to the monitor's socket gets the exact frames,
// from any thread; without a receiver a thousand lines cost no noticeable time.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "access/Qorix_Components.h"
#include "tests/support/monitor_lines.h"

namespace {

// Binds the abstract socket the channel sends to and reads frames from it.
class MonitorReceiver {
 public:
  MonitorReceiver() : fd_(tabtest::BindMonitorSocket({2, 0})) {}
  ~MonitorReceiver() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool bound() const { return fd_ >= 0; }
  // The next frame, or empty after two seconds.
  std::string Next() {
    char buf[70000];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

 private:
  int fd_ = -1;
};

std::string Frame(uint64_t sender, const std::string& line) {
  std::string f;
  auto put = [&](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put(99, 4);
  put(line.size() + 1, 4);
  put(sender, 8);
  f += line;
  f.push_back('\0');
  return f;
}

// Each test talks to a window title of its own, so parallel test processes never meet.
class Monitor : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    SetSqlMonitorWindow("tf_main", QStringLiteral("Stelvane-%1-%2").arg(::getpid()).arg(info->name()));
  }
  void TearDown() override { SetSqlMonitorWindow("tf_main", "Stelvane"); }
};

TEST_F(Monitor, DefaultNamesTheMonitorWindow) {
  SetSqlMonitorWindow("tf_main", "Stelvane");
  EXPECT_EQ(SqlMonitorSocketName(), "tabulon-sqlmonitor/tf_main/Stelvane");
}

TEST_F(Monitor, ReceiverGetsExactFrames) {
  MonitorReceiver rx;
  ASSERT_TRUE(rx.bound());
  const struct {
    uint64_t sender;
    QString text;
    std::string utf8;
  } rows[] = {
      {0x1234, "Open-Client: ct_fetch", "Open-Client: ct_fetch"},
      {0, "Flow : ** Start of EXECUTE **", "Flow : ** Start of EXECUTE **"},
      {7, "", ""},
      {0xFFFFFFFFFFFFull, QString::fromUtf8("SQL Execute: select 'Zürich'"), "SQL Execute: select 'Zürich'"}};
  for (const auto& row : rows) {
    SendToSqlMonitor(row.sender, row.text);
    EXPECT_EQ(rx.Next(), Frame(row.sender, row.utf8)) << row.utf8;
  }
}

// Lines over 60000 bytes are cut before the character that would cross the limit, never
// inside it, so the monitor always gets valid UTF-8.
TEST_F(Monitor, LongLinesAreCutBetweenCharacters) {
  MonitorReceiver rx;
  ASSERT_TRUE(rx.bound());
  const std::string ascii59999(59999, 'a');
  const std::string ascii59998(59998, 'a');
  const struct {
    const char* name;
    std::string line;
    std::string sent;
  } rows[] = {
      {"exactly the limit", std::string(60000, 'a'), std::string(60000, 'a')},
      {"ascii past the limit", std::string(60005, 'a'), std::string(60000, 'a')},
      {"two-byte character across the limit", ascii59999 + "\xC3\xBC" + "tail", ascii59999},
      {"three-byte character across the limit", ascii59998 + "\xE2\x82\xAC" + "tail", ascii59998},
      {"four-byte character across the limit", ascii59998 + "\xF0\x9F\x98\x80" + "tail", ascii59998},
      {"character ending at the limit", ascii59998 + "\xC3\xBC" + "tail", ascii59998 + "\xC3\xBC"},
  };
  for (const auto& row : rows) {
    SendToSqlMonitor(1, QString::fromStdString(row.line));
    EXPECT_EQ(rx.Next(), Frame(1, row.sent)) << row.name;
  }
}

TEST_F(Monitor, SafeFromAnyThread) {
  MonitorReceiver rx;
  ASSERT_TRUE(rx.bound());
  // Four threads send at once while the monitor reads. Every frame that arrives is whole and
  // is one of the lines sent, none twice. A line may be dropped when the reader falls behind
  // for longer than the sender's grace period (a loaded machine), so the count is not exact.
  std::set<std::string> expected;
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 25; ++i)
      expected.insert(Frame(static_cast<uint64_t>(t), "t" + std::to_string(t) + " line " + std::to_string(i)));
  std::set<std::string> seen;
  std::vector<std::string> stray;
  std::atomic<bool> sendersDone{false};
  std::thread reader([&] {
    while (seen.size() < expected.size()) {
      const std::string f = rx.Next();
      if (f.empty()) break;
      if (!expected.count(f) || !seen.insert(f).second) stray.push_back(f);
      if (sendersDone && seen.size() + stray.size() >= expected.size()) break;
    }
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 25; ++i) SendToSqlMonitor(t, QStringLiteral("t%1 line %2").arg(t).arg(i));
    });
  for (auto& th : threads) th.join();
  sendersDone = true;
  reader.join();
  EXPECT_TRUE(stray.empty()) << stray.size() << " frames torn, foreign or repeated";
  EXPECT_GE(seen.size(), expected.size() / 2) << "most lines reach a reading monitor";
}

TEST_F(Monitor, WithoutReceiverLinesAreDroppedQuickly) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) SendToSqlMonitor(1, QStringLiteral("SQL Execute: select %1").arg(i));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // A line that waited out the full-queue grace (20 ms) would cost 20 s here; a blocking send hangs.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 5000);
}

TEST_F(Monitor, StalledMonitorDelaysALineOnlyBriefly) {
  MonitorReceiver rx;  // bound, never read
  ASSERT_TRUE(rx.bound());
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 15; ++i) SendToSqlMonitor(1, QStringLiteral("line %1").arg(i));
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  // The lines past the full queue (it holds about ten) wait out the 20 ms grace each; a send that
  // waits for the reader, or a grace of a second, ends far past the bound.
  EXPECT_LT(ms, 5000) << "a full monitor queue must not hold the caller";
  EXPECT_FALSE(rx.Next().empty()) << "what fitted in the queue arrived";
}

}  // namespace
