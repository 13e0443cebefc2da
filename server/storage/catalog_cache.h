// Table descriptions kept between statements for one session's connection.
//
// Resolving a name reads sysdatabases, sysusers, sysobjects, syscolumns, sysindexes (and systypes
// and syscomments for user types and defaults), several statements per table per statement. The
// cache keeps each resolved description until the catalogue changes, which it learns from SQLite's
// hooks on its connection:
// - a write to a row of one of those tables marks the connection's transaction as changing the
//   catalogue; while that transaction is open the connection reads the catalogue directly (its own
//   uncommitted DDL, and what a rollback takes back, never enter the cache);
// - when such a transaction commits, a process-wide generation counter moves on, so every
//   session's cache drops what it holds at its next lookup. While the commit is under way (between
//   SQLite's commit hook and its WAL hook, which runs once the commit is visible to others) no
//   session uses or fills its cache, so none can keep a description older than what it reads.
// Every connection that writes the catalogue while sessions run must have a cache installed (each
// session has one); the server's start-up connections run before any session.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "server/storage/catalog.h"

namespace tabsrv {

class CatalogCache {
 public:
  // Installs the hooks on `db` (which must outlive the cache). Without WAL (a journal mode where
  // the hook that follows a commit never runs) the cache only ever reads through.
  explicit CatalogCache(sqlite3* db);
  ~CatalogCache();
  CatalogCache(const CatalogCache&) = delete;
  CatalogCache& operator=(const CatalogCache&) = delete;

  // tabsrv::resolveTable through the cache (only found tables are kept).
  std::optional<TableInfo> resolveTable(const ObjectRef& ref, const std::string& currentDb,
                                        const std::string& currentUser);
  // tabsrv::databaseExists through the cache.
  bool databaseExists(const std::string& name);

  // The process-wide count of committed catalogue changes.
  static uint64_t generation();

 private:
  // True when the cache may be used now; drops the entries of an older generation.
  bool usable();
  void endCommit();

  static void onUpdate(void* self, int op, const char* database, const char* table, sqlite3_int64 rowid);
  static int onCommit(void* self);
  static void onRollback(void* self);
  static int onWal(void* self, sqlite3* db, const char* database, int pages);

  sqlite3* db_;
  bool enabled_ = false;
  bool changing_ = false;    // the open transaction wrote catalogue rows
  bool committing_ = false;  // that transaction's commit is under way
  uint64_t generation_ = 0;  // the generation the entries belong to
  std::unordered_map<std::string, TableInfo> tables_;
  std::unordered_map<std::string, bool> databases_;
};

}  // namespace tabsrv
