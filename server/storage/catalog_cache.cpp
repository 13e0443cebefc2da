// The per-session cache of table descriptions and the hooks that keep it true (see the header).
#include "server/storage/catalog_cache.h"

#include <atomic>
#include <cstring>

namespace tabsrv {
namespace {

// Committed catalogue changes so far, and commits of catalogue changes under way, of every
// connection of the process.
std::atomic<uint64_t> gGeneration{0};
std::atomic<int> gCommitting{0};

// SQLite checkpoints the WAL after a commit once it holds this many pages; a connection's own WAL
// hook replaces that, so the hook does it itself.
constexpr int kCheckpointPages = 1000;

// The most descriptions a session keeps; past it the cache starts again.
constexpr size_t kMaxEntries = 512;

// The tables a resolved description is read from (sysdatabases for the database check).
bool describesTables(const char* table) {
  const char* dot = table ? std::strrchr(table, '.') : nullptr;
  if (!dot) return false;
  const char* t = dot + 1;
  for (const char* name :
       {"sysobjects", "syscolumns", "sysindexes", "systypes", "syscomments", "sysusers", "sysdatabases"}) {
    if (std::strcmp(t, name) == 0) return true;
  }
  return false;
}

bool walMode(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  bool wal = false;
  if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* mode = sqlite3_column_text(st, 0);
    wal = mode && sqlite3_stricmp(reinterpret_cast<const char*>(mode), "wal") == 0;
  }
  sqlite3_finalize(st);
  return wal;
}

std::string cacheKey(const ObjectRef& ref, const std::string& currentDb, const std::string& currentUser) {
  std::string key;
  key.reserve(ref.database.size() + ref.owner.size() + ref.name.size() + currentDb.size() + currentUser.size() + 4);
  for (const std::string* part : {&ref.database, &ref.owner, &ref.name, &currentDb}) {
    key += *part;
    key += kIndexSeparator;
  }
  key += currentUser;
  return key;
}

}  // namespace

CatalogCache::CatalogCache(sqlite3* db) : db_(db), enabled_(walMode(db)) {
  generation_ = gGeneration.load();
  sqlite3_update_hook(db_, &CatalogCache::onUpdate, this);
  sqlite3_commit_hook(db_, &CatalogCache::onCommit, this);
  sqlite3_rollback_hook(db_, &CatalogCache::onRollback, this);
  sqlite3_wal_hook(db_, &CatalogCache::onWal, this);
}

CatalogCache::~CatalogCache() {
  if (committing_) endCommit();
  sqlite3_update_hook(db_, nullptr, nullptr);
  sqlite3_commit_hook(db_, nullptr, nullptr);
  sqlite3_rollback_hook(db_, nullptr, nullptr);
  sqlite3_wal_autocheckpoint(db_, kCheckpointPages);
}

uint64_t CatalogCache::generation() { return gGeneration.load(); }

void CatalogCache::endCommit() {
  // The new catalogue is visible to every connection now: the generation moves on first, so a
  // session that sees no commit under way also sees the new generation.
  gGeneration.fetch_add(1);
  gCommitting.fetch_sub(1);
  committing_ = false;
  changing_ = false;
}

bool CatalogCache::usable() {
  if (!enabled_) return false;
  if ((committing_ || changing_) && sqlite3_get_autocommit(db_)) {
    // The transaction ended without the hook that follows its commit (nothing was written to the
    // WAL): count it as a change all the same.
    if (!committing_) gCommitting.fetch_add(1);
    committing_ = true;
    endCommit();
  }
  if (changing_ || gCommitting.load() > 0) return false;
  uint64_t g = gGeneration.load();
  if (g != generation_) {
    tables_.clear();
    databases_.clear();
    generation_ = g;
  }
  return true;
}

std::optional<TableInfo> CatalogCache::resolveTable(const ObjectRef& ref, const std::string& currentDb,
                                                    const std::string& currentUser) {
  if (!usable()) return tabsrv::resolveTable(db_, ref, currentDb, currentUser);
  std::string key = cacheKey(ref, currentDb, currentUser);
  if (auto it = tables_.find(key); it != tables_.end()) return it->second;
  auto t = tabsrv::resolveTable(db_, ref, currentDb, currentUser);
  // A catalogue change committed while it was read moves the generation on, and the next lookup
  // drops it.
  if (t) {
    if (tables_.size() >= kMaxEntries) tables_.clear();
    tables_.emplace(std::move(key), *t);
  }
  return t;
}

bool CatalogCache::databaseExists(const std::string& name) {
  if (!usable()) return tabsrv::databaseExists(db_, name);
  if (auto it = databases_.find(name); it != databases_.end()) return it->second;
  bool exists = tabsrv::databaseExists(db_, name);
  if (databases_.size() >= kMaxEntries) databases_.clear();
  databases_.emplace(name, exists);
  return exists;
}

void CatalogCache::onUpdate(void* self, int, const char*, const char* table, sqlite3_int64) {
  if (describesTables(table)) static_cast<CatalogCache*>(self)->changing_ = true;
}

int CatalogCache::onCommit(void* self) {
  auto* cache = static_cast<CatalogCache*>(self);
  if (cache->changing_ && !cache->committing_) {
    cache->committing_ = true;
    gCommitting.fetch_add(1);
  }
  return 0;
}

void CatalogCache::onRollback(void* self) {
  auto* cache = static_cast<CatalogCache*>(self);
  // Nothing of the transaction became visible: no other session's cache is touched.
  if (cache->committing_) {
    gCommitting.fetch_sub(1);
    cache->committing_ = false;
  }
  cache->changing_ = false;
}

int CatalogCache::onWal(void* self, sqlite3* db, const char* database, int pages) {
  auto* cache = static_cast<CatalogCache*>(self);
  if (cache->committing_) cache->endCommit();
  if (pages >= kCheckpointPages) sqlite3_wal_checkpoint(db, database);
  return SQLITE_OK;
}

}  // namespace tabsrv
