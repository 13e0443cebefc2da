// master..sysprocesses and master..syslocks as each session sees them: the executor passes the
// live sessions and locks, and they land in connection-private TEMP tables that shadow the
// (empty) shared tables of the same name, so reading them never takes a lock on the file.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/core/types.h"

namespace tabsrv {

// One live session, as a sysprocesses row shows it.
struct LiveProcess {
  int32_t spid = 0;
  int32_t kpid = 0;    // the session thread's number
  std::string status;  // "running", "sleeping", "lock sleep", "recv sleep" ...
  int32_t suid = 0;
  std::string hostname;     // at most 10 characters are kept, as the column holds
  std::string programName;  // at most 16
  std::string hostProcess;  // at most 8
  std::string cmd;          // "AWAITING COMMAND", "SELECT", "INSERT" ... at most 16
  int32_t cpu = 0;
  int32_t physicalIo = 0;
  int32_t memusage = 0;
  int32_t blocked = 0;  // spid of the session this one waits for, 0 when none
  int32_t dbid = 1;
  int32_t uid = 1;
  int32_t gid = 0;
  std::string tranName;     // empty: NULL
  int32_t timeBlocked = 0;  // seconds waited so far
  int32_t networkPacketSize = 512;
  std::string loginName;  // clientname
  std::optional<DateTime> loggedIn;
  std::string ipAddress;
};

// One lock of an open transaction, as a syslocks row shows it.
struct LiveLock {
  int32_t spid = 0;
  int32_t type = 1;  // spt_values type 'L': 1 Ex_table, 2 Sh_table, ...; +256 when blocking
  int32_t id = 0;    // sysobjects.id of the table
  int32_t dbid = 0;
  int32_t page = 0;
  std::string lockClass;  // "Non Cursor Lock"
};

// The syslocks lock-type numbers (spt_values type 'L').
constexpr int32_t kLockExTable = 1;
constexpr int32_t kLockShTable = 2;
constexpr int32_t kLockExIntent = 3;
constexpr int32_t kLockShIntent = 4;
constexpr int32_t kLockBlocking = 256;

// Replaces this connection's view of master..sysprocesses and master..syslocks with `processes`
// and `locks`. Call it on the session's own connection before a statement that reads either table;
// other connections are not affected. Throws SqlError when SQLite refuses.
void refreshLiveTables(sqlite3* db, const std::vector<LiveProcess>& processes,
                       const std::vector<LiveLock>& locks);

}  // namespace tabsrv
