// The server's table of live sessions: one entry per spid with what master..sysprocesses shows
// (login, host, program, database, current command, blocking state). Shared by every session
// thread, so every access goes through one mutex and readers get copies.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tabsrv {

// One session as sysprocesses describes it.
struct ProcessInfo {
  int spid = 0;
  int suid = 0;
  std::string login;
  std::string host;
  std::string program;
  std::string hostProcess;
  std::string database;
  std::string command = "AWAITING COMMAND";
  std::string status = "sleeping";
  int blockedBy = 0;  // spid this session waits for, 0 when it waits for nobody
  int tranCount = 0;
  std::chrono::system_clock::time_point loginTime = std::chrono::system_clock::now();
};

// Allocates spids (the lowest free one, so numbers are reused after logout as the family does)
// and keeps the entries; it also remembers which spid holds the database's write lock.
class ProcessTable {
 public:
  // Registers a new session and returns its spid; `info.spid` is ignored.
  int add(ProcessInfo info);
  // Forgets a session; its spid becomes free again.
  void remove(int spid);
  // Changes one entry in place under the lock; does nothing when the spid is gone.
  void update(int spid, const std::function<void(ProcessInfo&)>& change);
  // A copy of one entry.
  std::optional<ProcessInfo> find(int spid) const;
  // A copy of every entry, ordered by spid.
  std::vector<ProcessInfo> snapshot() const;
  // Records that `spid` now holds (or, with 0, that nobody holds) the write transaction.
  void setWriter(int spid);
  // The spid holding the write transaction, 0 when none.
  int writer() const;

 private:
  mutable std::mutex mutex_;
  std::vector<ProcessInfo> entries_;  // ordered by spid
  int writer_ = 0;
};

}  // namespace tabsrv
