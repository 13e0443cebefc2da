// The resolver hook behind prepareSql and retryAfterMissingTable.
#include "server/types/sqlite_prepare.h"

#include <atomic>

namespace tabsrv {
namespace {

std::atomic<MissingTableResolver> gResolver{nullptr};

// A statement names few databases; each try attaches one of them.
constexpr int kMostAttachesPerStatement = 8;

bool resolve(sqlite3* db) {
  MissingTableResolver resolver = gResolver.load(std::memory_order_acquire);
  return resolver && resolver(db, sqlite3_errmsg(db));
}

}  // namespace

void setMissingTableResolver(MissingTableResolver resolver) {
  gResolver.store(resolver, std::memory_order_release);
}

int prepareSql(sqlite3* db, std::string_view sql, sqlite3_stmt** out, const char** tail) {
  int rc = SQLITE_OK;
  for (int attempt = 0;; ++attempt) {
    *out = nullptr;
    rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), out, tail);
    if (rc != SQLITE_ERROR || attempt == kMostAttachesPerStatement || !resolve(db)) return rc;
    sqlite3_finalize(*out);
  }
}

bool retryAfterMissingTable(sqlite3* db, int rc) {
  return (rc & 0xff) == SQLITE_ERROR && resolve(db);
}

}  // namespace tabsrv
