// The SQLite statements a session keeps prepared between uses, by their SQL text. The executor
// generates the same SQL again and again (a table's INSERT, the catalogue reads of its rules and
// triggers, `SELECT 1`, BEGIN and COMMIT): a kept statement is bound and stepped again instead of
// being prepared again. SQLite itself prepares a kept statement again when the schema it was
// prepared against has changed; what a statement checked against the session's permissions may
// touch is decided again whenever the catalogue or the permission context moved (SqlStatement).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "server/exec/permissions.h"

namespace tabsrv {

class StatementCache {
 public:
  // One kept statement: idle, or in use by one SqlStatement.
  struct Entry {
    sqlite3_stmt* statement = nullptr;
    bool inUse = false;
    uint64_t lastUse = 0;
    // A checked statement: what SQLite touched while it was prepared, and the catalogue stamp and
    // permission context of the last check that let it run.
    Permissions::Accesses accesses;
    std::optional<std::pair<uint64_t, Permissions::Context>> allowed;
  };

  // The most statements kept, and the longest text kept (a long one-off script is not worth it).
  static constexpr size_t kCapacity = 256;
  static constexpr size_t kLongestText = 4096;

  StatementCache() = default;
  ~StatementCache() { clear(); }
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // The idle statement kept for `sql` (checked against permissions or not), now in use; null
  // when there is none.
  Entry* take(const std::string& sql, bool checked);
  // Keeps `statement`, just prepared from `sql` and in use by the caller, with what it touched;
  // null when it is not kept (too long, or that text is kept already), and the caller finalizes
  // it itself.
  Entry* keep(const std::string& sql, bool checked, sqlite3_stmt* statement, Permissions::Accesses accesses);
  // A statement is idle again: reset, its bindings cleared.
  static void giveBack(Entry* entry);
  // Finalizes every kept statement; none may be in use.
  void clear();
  size_t size() const { return checked_.size() + internal_.size(); }

 private:
  using Map = std::unordered_map<std::string, std::unique_ptr<Entry>>;
  // Drops the older half of the idle statements.
  void makeRoom();
  Map checked_, internal_;
  uint64_t uses_ = 0;
};

}  // namespace tabsrv
