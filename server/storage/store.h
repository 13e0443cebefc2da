// The server's storage: one SQLite file (WAL) per database in the data directory's "databases"
// folder. On first start it creates master, model, tempdb, sybsystemprocs and sample with their
// system tables and the sa login; a data directory of an earlier build (every database in one
// file, tabulon.db) is copied into that layout at its first start here. Afterwards it hands each
// session a connection of its own.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

namespace tabsrv {

// The one file of earlier builds inside the data directory (kept, no longer used, once copied).
constexpr const char* kSingleStoreFileName = "tabulon.db";

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

  // The data directory and the folder of the database files.
  const std::string& directory() const { return dir_; }
  std::string databasesFolder() const;

  // True when this open copied an earlier build's single file into the per-database layout.
  bool migrated() const { return migrated_; }

  // A new connection for one session over master's file (the other databases attach as they are
  // needed): WAL, synchronous=NORMAL, foreign keys off, the collation and every t_* function
  // registered, and the default busy handler (wait up to kDefaultBusyTimeoutMs). The executor may
  // replace the busy handler with sqlite3_busy_handler to make a blocked writer cancellable. The
  // caller owns the connection (sqlite3_close_v2). Throws std::runtime_error when SQLite refuses.
  sqlite3* openConnection() const;

  // openConnection wrapped in an owning pointer.
  ConnectionPtr connect() const { return ConnectionPtr(openConnection()); }

  // How long the default busy handler waits for a lock.
  static constexpr int kDefaultBusyTimeoutMs = 10000;

 private:
  Store(std::string dir, bool fresh, bool migrated)
      : dir_(std::move(dir)), fresh_(fresh), migrated_(migrated) {}
  std::string dir_;
  bool fresh_;
  bool migrated_;
};

}  // namespace tabsrv
