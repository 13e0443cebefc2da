// The server's log: time-stamped lines appended to a file (DIR/server.log) and echoed to
// stderr, safe to call from every session thread. The file is rotated by size: once it reaches
// its cap it becomes server.log.1 (server.log.1 becomes .2 ...), and the oldest one goes.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "server/tds/connection.h"

namespace tabsrv::tds {

// A line-oriented, thread-safe log.
class ServerLog {
 public:
  // Opens (appends to) `path`; an empty path logs to stderr only. Throws std::runtime_error
  // when the file cannot be opened.
  explicit ServerLog(const std::string& path, bool echoToStderr = true, size_t maxBytes = kDefaultMaxBytes,
                     int keep = kDefaultKeep);

  static constexpr size_t kDefaultMaxBytes = 8u << 20;
  static constexpr int kDefaultKeep = 3;
  ~ServerLog();
  ServerLog(const ServerLog&) = delete;
  ServerLog& operator=(const ServerLog&) = delete;

  // Writes one line with a time stamp.
  void write(const std::string& line);
  // A LogFn that writes to this log (which must outlive it).
  LogFn sink() {
    return [this](const std::string& line) { write(line); };
  }

 private:
  // Renames the full file away and opens a new one (under mutex_).
  void rotate();

  std::mutex mutex_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool echo_;
  size_t maxBytes_;
  int keep_;
  size_t size_ = 0;
};

}  // namespace tabsrv::tds
