// The server's storage: one SQLite file (tabulon.db, WAL) in the data directory. On first start it
// creates master, model, tempdb, sybsystemprocs and sample with their system tables and the sa
// login; afterwards it hands each session a connection of its own.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

namespace tabsrv {

// File name of the database inside the data directory.
constexpr const char* kStoreFileName = "tabulon.db";

// Closes a connection from Store::openConnection.
struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
// An owned connection.
using ConnectionPtr = std::unique_ptr<sqlite3, ConnectionCloser>;

// The data directory's SQLite file. Thread-safe: sessions on different threads each call
// openConnection.
class Store {
 public:
  // Opens `dir` (creating the directory and the file with every system database when missing).
  // Every later open starts with an empty tempdb (its user tables and views are dropped).
  // Throws std::runtime_error when the directory or file cannot be opened or created.
  static std::unique_ptr<Store> open(const std::string& dir);

  // True when this open created the file (the executor then runs the sample script).
  bool freshlyCreated() const { return fresh_; }

  // The data directory and the database file's path.
  const std::string& directory() const { return dir_; }
  std::string filePath() const;

  // A new connection for one session: WAL, synchronous=NORMAL, foreign keys off, the collation
  // and every t_* function registered, and the default busy handler (wait up to
  // kDefaultBusyTimeoutMs). The executor may replace the busy handler with sqlite3_busy_handler
  // to make a blocked writer cancellable. The caller owns the connection (sqlite3_close_v2).
  // Throws std::runtime_error when SQLite refuses.
  sqlite3* openConnection() const;

  // openConnection wrapped in an owning pointer.
  ConnectionPtr connect() const { return ConnectionPtr(openConnection()); }

  // How long the default busy handler waits for a lock.
  static constexpr int kDefaultBusyTimeoutMs = 10000;

 private:
  Store(std::string dir, bool fresh) : dir_(std::move(dir)), fresh_(fresh) {}
  std::string dir_;
  bool fresh_;
};

}  // namespace tabsrv
