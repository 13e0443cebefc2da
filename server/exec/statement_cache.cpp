// The session's kept SQLite statements (see the header).
#include "server/exec/statement_cache.h"

#include <algorithm>
#include <vector>

namespace tabsrv {

StatementCache::Entry* StatementCache::take(const std::string& sql, bool checked) {
  Map& map = checked ? checked_ : internal_;
  auto it = map.find(sql);
  if (it == map.end() || it->second->inUse) return nullptr;
  Entry* e = it->second.get();
  e->inUse = true;
  e->lastUse = ++uses_;
  return e;
}

StatementCache::Entry* StatementCache::keep(const std::string& sql, bool checked, sqlite3_stmt* statement,
                                            Permissions::Accesses accesses) {
  if (sql.size() > kLongestText || !statement) return nullptr;
  Map& map = checked ? checked_ : internal_;
  if (map.count(sql)) return nullptr;
  if (size() >= kCapacity) makeRoom();
  auto e = std::make_unique<Entry>();
  e->statement = statement;
  e->inUse = true;
  e->lastUse = ++uses_;
  e->accesses = std::move(accesses);
  Entry* kept = e.get();
  map.emplace(sql, std::move(e));
  return kept;
}

void StatementCache::giveBack(Entry* entry) {
  sqlite3_reset(entry->statement);
  sqlite3_clear_bindings(entry->statement);
  entry->inUse = false;
}

void StatementCache::makeRoom() {
  std::vector<uint64_t> uses;
  for (const Map* map : {&checked_, &internal_})
    for (const auto& [sql, e] : *map)
      if (!e->inUse) uses.push_back(e->lastUse);
  if (uses.empty()) return;
  auto middle = uses.begin() + static_cast<std::ptrdiff_t>(uses.size() / 2);
  std::nth_element(uses.begin(), middle, uses.end());
  const uint64_t newestDropped = *middle;
  for (Map* map : {&checked_, &internal_})
    for (auto it = map->begin(); it != map->end();) {
      if (!it->second->inUse && it->second->lastUse <= newestDropped) {
        sqlite3_finalize(it->second->statement);
        it = map->erase(it);
      } else {
        ++it;
      }
    }
}

void StatementCache::clear() {
  for (Map* map : {&checked_, &internal_}) {
    for (auto& [sql, e] : *map) sqlite3_finalize(e->statement);
    map->clear();
  }
}

}  // namespace tabsrv
