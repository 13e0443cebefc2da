// The resolver hook behind prepareSql and retryAfterMissingTable.
#include "server/types/sqlite_prepare.h"

#include <atomic>
#include <string>

namespace tabsrv {
namespace {

std::atomic<MissingTableResolver> gResolver{nullptr};

// Each try attaches one database the statement names and keeps it attached, so a statement over
// as many databases as a connection holds needs that many tries (and one more finds it needs too
// many); the bound only guards against a resolver that keeps answering true.
constexpr int kMostAttachesPerStatement = 32;

// The refusal of the latest unresolved "no such table" on this thread's connection, with the
// failure's text: it explains only that failure. A connection is used by one thread at a time.
struct Refusal {
  sqlite3* db = nullptr;
  std::string message;
  std::optional<SqlError> error;
};
thread_local Refusal tRefusal;

bool resolve(sqlite3* db, bool firstTry) {
  if (tRefusal.db == db) tRefusal = {};
  MissingTableResolver resolver = gResolver.load(std::memory_order_acquire);
  return resolver && resolver(db, sqlite3_errmsg(db), firstTry);
}

}  // namespace

void setMissingTableResolver(MissingTableResolver resolver) {
  gResolver.store(resolver, std::memory_order_release);
}

void refuseMissingTable(sqlite3* db, const SqlError& error) {
  tRefusal.db = db;
  tRefusal.message = sqlite3_errmsg(db);
  tRefusal.error = error;
}

std::optional<SqlError> takeMissingTableRefusal(sqlite3* db) {
  if (tRefusal.db != db || tRefusal.message != sqlite3_errmsg(db)) return std::nullopt;
  std::optional<SqlError> error = std::move(tRefusal.error);
  tRefusal = {};
  return error;
}

int prepareSql(sqlite3* db, std::string_view sql, sqlite3_stmt** out, const char** tail) {
  int rc = SQLITE_OK;
  for (int attempt = 0;; ++attempt) {
    *out = nullptr;
    rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), out, tail);
    if (rc != SQLITE_ERROR || attempt == kMostAttachesPerStatement || !resolve(db, attempt == 0)) return rc;
    sqlite3_finalize(*out);
  }
}

bool retryAfterMissingTable(sqlite3* db, int rc) {
  return (rc & 0xff) == SQLITE_ERROR && resolve(db, true);
}

}  // namespace tabsrv
