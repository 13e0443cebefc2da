// The server's table of live sessions: one entry per spid with what master..sysprocesses shows
// (login, host, program, database, current command, blocking state). Shared by every session
// thread, so every access goes through one mutex and readers get copies.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
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
  std::string waitingFor;  // the database whose write lock it waits for, empty when none
  std::chrono::steady_clock::time_point blockedSince{};
  int tranCount = 0;
  std::chrono::system_clock::time_point loginTime = std::chrono::system_clock::now();
};

// Allocates spids (the lowest free one, so numbers are reused after logout as the family does)
// and keeps the entries; it also remembers which spid holds each database's write lock, and how
// to interrupt each session (kill).
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
  // Records that `spid`'s transaction now holds the write lock of `database`.
  void setWriter(const std::string& database, int spid);
  // Forgets every write lock of `spid` (its transaction ended).
  void releaseWriters(int spid);
  // The spid holding the write lock of `database`, 0 when none.
  int writerOf(const std::string& database) const;
  // Every held write lock: database and spid, ordered by database.
  std::vector<std::pair<std::string, int>> writers() const;
  // True when `spid` waiting for `database` closes a cycle of waits: the holder of `database`
  // waits (directly or through others) for a lock `spid` holds.
  bool closesCycle(int spid, const std::string& database) const;
  // True when some session waits for a lock `spid` holds.
  bool blocks(int spid) const;

  // How to interrupt a session (set by the session itself; cleared before it goes).
  void setInterrupt(int spid, std::function<void()> interrupt);
  // Interrupts session `spid`: false when there is no such session.
  bool interrupt(int spid);

 private:
  int writerOfLocked(const std::string& database) const;
  mutable std::mutex mutex_;
  std::vector<ProcessInfo> entries_;  // ordered by spid
  std::map<std::string, int> writers_;
  std::map<int, std::function<void()>> interrupts_;
};

}  // namespace tabsrv
