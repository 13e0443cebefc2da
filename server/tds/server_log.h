// The server's log: time-stamped lines appended to a file (DIR/server.log) and echoed to
// stderr, safe to call from every session thread.
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
  explicit ServerLog(const std::string& path, bool echoToStderr = true);
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
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool echo_;
};

}  // namespace tabsrv::tds
