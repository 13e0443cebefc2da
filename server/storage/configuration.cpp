// The configuration parameters of master..sysconfigures and syscurconfigs as sp_configure reads
// and sets them: names are matched whole first, then as parts of names, ignoring case.
#include <cctype>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/storage/sql_util.h"

namespace tabsrv {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<ConfigParameter> allParameters(sqlite3* db) {
  storage::Stmt st(db,
                   "SELECT b.config, b.name, g.name, b.value, c.value, c.defvalue, c.minimum_value, "
                   "c.maximum_value FROM " +
                       sqliteObjectName("master", "dbo", "sysconfigures") + " b JOIN " +
                       sqliteObjectName("master", "dbo", "syscurconfigs") +
                       " c ON c.config = b.config LEFT JOIN " +
                       sqliteObjectName("master", "dbo", "sysconfigures") +
                       " g ON g.config = b.parent WHERE b.config >= 100 ORDER BY b.name");
  std::vector<ConfigParameter> out;
  while (st.step()) {
    ConfigParameter p;
    p.config = static_cast<int32_t>(st.integer(0));
    p.name = storage::rtrimmed(st.text(1));
    p.group = st.isNull(2) ? std::string() : storage::rtrimmed(st.text(2));
    p.value = static_cast<int32_t>(st.integer(3));
    p.runValue = static_cast<int32_t>(st.integer(4));
    p.defaultValue = st.isNull(5) ? std::string() : storage::rtrimmed(st.text(5));
    p.minimum = static_cast<int32_t>(st.integer(6));
    p.maximum = static_cast<int32_t>(st.integer(7));
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace

std::vector<ConfigParameter> configParameters(sqlite3* db, const std::string& pattern) {
  std::vector<ConfigParameter> all = allParameters(db);
  if (pattern.empty()) return all;
  std::string want = lower(pattern);
  for (const ConfigParameter& p : all) {
    if (lower(p.name) == want) return {p};
  }
  std::vector<ConfigParameter> out;
  for (const ConfigParameter& p : all) {
    if (lower(p.name).find(want) != std::string::npos) out.push_back(p);
  }
  return out;
}

ConfigParameter setConfigValue(sqlite3* db, const std::string& name, int32_t value) {
  std::vector<ConfigParameter> found = configParameters(db, name);
  if (name.empty() || found.empty())
    throw SqlError(15123, 16, "Configuration option '" + name + "' does not exist.");
  if (found.size() > 1) throw SqlError(15125, 16, "Configuration option '" + name + "' is not unique.");
  ConfigParameter p = found.front();
  if (value < p.minimum || value > p.maximum) {
    throw SqlError(5846, 16,
                   "Illegal value '" + std::to_string(value) + "' specified for configuration option '" +
                       p.name + "'. The legal values are between '" + std::to_string(p.minimum) + "' and '" +
                       std::to_string(p.maximum) + "'.");
  }
  for (const char* table : {"sysconfigures", "syscurconfigs"}) {
    storage::Stmt up(
        db, "UPDATE " + sqliteObjectName("master", "dbo", table) + " SET value = ?2 WHERE config = ?1");
    up.bind(1, int64_t{p.config}).bind(2, int64_t{value});
    up.run();
  }
  p.value = p.runValue = value;
  return p;
}

}  // namespace tabsrv
