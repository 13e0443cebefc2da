// The tests' side of the SQL monitor: a datagram socket bound to the monitor's name, and a
// receiver that reads every line on a thread of its own, as the monitor window does (the socket
// queues only a few datagrams unread, so a sender past them would drop lines).
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QString>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "access/Qorix_Components.h"

namespace tabtest {

// A datagram socket bound to the monitor's current name (the abstract socket the monitor window
// binds), receiving with `timeout`; -1 when the name is already bound.
inline int BindMonitorSocket(timeval timeout) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const std::string name = SqlMonitorSocketName();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) != 0) {
    ::close(fd);
    return -1;
  }
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return fd;
}

// Binds the monitor's socket under `title` (a window title of the test's own, so parallel test
// processes never meet) and collects each frame's line; the title goes back to the default after.
class MonitorLines {
 public:
  explicit MonitorLines(const QString& title) {
    SetSqlMonitorWindow(QStringLiteral("tf_main"), title);
    fd_ = BindMonitorSocket({0, 100000});
    if (fd_ < 0) return;
    reader_ = std::thread([this] {
      std::vector<char> buf(70000);
      while (!stop_) {
        const ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
        // A frame is a 16-byte header and the line's UTF-8 text ended by a NUL.
        if (n <= 16) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.emplace_back(buf.data() + 16, strnlen(buf.data() + 16, static_cast<size_t>(n - 16)));
      }
    });
  }
  ~MonitorLines() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) ::close(fd_);
    SetSqlMonitorWindow(QStringLiteral("tf_main"), QStringLiteral("Stelvane"));
  }
  MonitorLines(const MonitorLines&) = delete;
  MonitorLines& operator=(const MonitorLines&) = delete;

  bool bound() const { return fd_ >= 0; }

  // The lines received until the socket stayed quiet for a moment, taken out of the receiver.
  QStringList Lines() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::lock_guard<std::mutex> lock(mutex_);
    QStringList out;
    for (const std::string& line : lines_) out << QString::fromStdString(line);
    lines_.clear();
    return out;
  }

  // The lines received up to the sentinel "end" this receiver sends itself (waiting at most 10 s
  // for it), taken out of the receiver.
  std::vector<std::string> LinesUntilEnd() {
    SendToSqlMonitor(0, QStringLiteral("end"));
    for (int i = 0; i < 1000; ++i) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto end = std::find(lines_.begin(), lines_.end(), std::string("end"));
        if (end != lines_.end()) {
          std::vector<std::string> out(lines_.begin(), end);
          lines_.erase(lines_.begin(), end + 1);
          return out;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the monitor's end line never came";
    return {};
  }

 private:
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace tabtest
