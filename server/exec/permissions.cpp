// The permission checks of a session: databases, object rights, the ownership chain, the password
// column and the system tables.
#include "server/exec/permissions.h"

#include <algorithm>
#include <set>

#include "server/core/message.h"
#include "server/storage/sql_util.h"
#include "server/types/sqlite_prepare.h"

namespace tabsrv {

namespace {

// Accesses made by the SQLite triggers that copy `inserted` and `deleted` rows.
constexpr std::string_view kCaptureTriggerPrefix = "tabulon_capture_";

// "allow updates to system tables" in sysconfigures.
constexpr const char* kAllowUpdates = "allow updates to system tables";

std::string columnText(sqlite3_stmt* st, int col) {
  const unsigned char* t = sqlite3_column_text(st, col);
  std::string s = t ? reinterpret_cast<const char*>(t) : "";
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// A public-readable object of the server's own: the system tables and the spt_ lookup tables.
bool systemCatalogue(const std::string& type, const std::string& name, int32_t uid) {
  return uid == 1 && (type == "S" || name.rfind("spt_", 0) == 0);
}

const char* verbOf(int action) {
  switch (action) {
    case SQLITE_INSERT:
      return "INSERT";
    case SQLITE_UPDATE:
      return "UPDATE";
    case SQLITE_DELETE:
      return "DELETE";
    default:
      return "SELECT";
  }
}

int32_t protectActionOf(int action) {
  switch (action) {
    case SQLITE_INSERT:
      return kActionInsert;
    case SQLITE_UPDATE:
      return kActionUpdate;
    case SQLITE_DELETE:
      return kActionDelete;
    default:
      return kActionSelect;
  }
}

}  // namespace

Permissions::Permissions(sqlite3* db, int32_t suid) : db_(db), suid_(suid) {
  sqlite3_set_authorizer(db_, &Permissions::authorize, this);
}

Permissions::~Permissions() {
  sqlite3_set_authorizer(db_, nullptr, nullptr);
}

int Permissions::authorize(void* self, int action, const char* a, const char* b, const char* dbName,
                           const char* via) {
  auto* p = static_cast<Permissions*>(self);
  if (!p->recording_) return SQLITE_OK;
  if (action != SQLITE_READ && action != SQLITE_INSERT && action != SQLITE_UPDATE && action != SQLITE_DELETE)
    return SQLITE_OK;
  // Temporary tables (trigger row copies) are the server's own.
  if (dbName && std::string_view(dbName) == "temp") return SQLITE_OK;
  if (!a) return SQLITE_OK;
  Access access{action, a, b && action != SQLITE_DELETE && action != SQLITE_INSERT ? b : "", via ? via : ""};
  for (const Access& seen : p->accesses_)
    if (seen.action == access.action && seen.table == access.table && seen.column == access.column &&
        seen.via == access.via)
      return SQLITE_OK;
  p->accesses_.push_back(std::move(access));
  return SQLITE_OK;
}

std::optional<Permissions::Object> Permissions::objectOf(const std::string& sqliteName) {
  if (auto it = objects_.find(sqliteName); it != objects_.end()) return it->second;
  std::optional<Object> found;
  std::string database;
  int32_t id = 0;
  if (parseStorageObjectName(sqliteName, database, id)) {
    // A table or view made by DDL: named by its database and object id.
    std::string sql = "SELECT o.name, u.name, o.type, o.uid FROM " +
                      sqliteObjectName(database, "dbo", "sysobjects") + " o LEFT JOIN " +
                      sqliteObjectName(database, "dbo", "sysusers") + " u ON u.uid = o.uid WHERE o.id = ?1";
    sqlite3_stmt* st = nullptr;
    if (prepareSql(db_, sql, &st) == SQLITE_OK) {
      sqlite3_bind_int(st, 1, id);
      if (sqlite3_step(st) == SQLITE_ROW)
        found = Object{database, columnText(st, 1),        columnText(st, 0), columnText(st, 2),
                       id,       sqlite3_column_int(st, 3)};
    }
    sqlite3_finalize(st);
    objects_[sqliteName] = found;
    return found;
  }
  for (const DatabaseInfo& d : listDatabases(db_)) {
    if (sqliteName.size() <= d.name.size() + 1 || sqliteName.compare(0, d.name.size(), d.name) != 0 ||
        sqliteName[d.name.size()] != '.')
      continue;
    std::string rest = sqliteName.substr(d.name.size() + 1);
    std::string sql = "SELECT o.id, o.uid, o.type FROM " + sqliteObjectName(d.name, "dbo", "sysobjects") +
                      " o JOIN " + sqliteObjectName(d.name, "dbo", "sysusers") +
                      " u ON u.uid = o.uid WHERE o.name = ?1 AND u.name = ?2";
    for (size_t dot = rest.find('.'); dot != std::string::npos && !found; dot = rest.find('.', dot + 1)) {
      std::string owner = rest.substr(0, dot), name = rest.substr(dot + 1);
      sqlite3_stmt* st = nullptr;
      if (prepareSql(db_, sql, &st) != SQLITE_OK) {
        sqlite3_finalize(st);
        break;
      }
      sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 2, owner.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(st) == SQLITE_ROW)
        found = Object{
            d.name, owner, name, columnText(st, 2), sqlite3_column_int(st, 0), sqlite3_column_int(st, 1)};
      sqlite3_finalize(st);
    }
    if (found) break;
  }
  objects_[sqliteName] = found;
  return found;
}

DbUser Permissions::requireUser(const std::string& database) {
  if (auto it = users_.find(database); it != users_.end() && it->second) return *it->second;
  auto user = findUserForLogin(db_, database, suid_);
  if (!user)
    throw SqlError(
        10351, 14,
        "Server user id " + std::to_string(suid_) + " is not a valid user in database '" + database + "'");
  users_[database] = user;
  return *user;
}

bool Permissions::holds(const Object& o, int32_t action) {
  if (privileged()) return true;
  DbUser user = requireUser(o.database);
  if (user.uid == o.uid) return true;
  if (chain_ && chain_->first == o.database && chain_->second == o.uid) return true;
  if (action == kActionSelect && systemCatalogue(o.type, o.name, o.uid)) return true;
  // The most specific row decides: the user's own, then its group's, then public's.
  std::string sql = "SELECT uid, protecttype FROM " + sqliteObjectName(o.database, "dbo", "sysprotects") +
                    " WHERE id = ?1 AND action = ?2 AND uid IN (?3, ?4, 0)";
  sqlite3_stmt* st = nullptr;
  // Per level (0 public, 1 group, 2 user): whether a grant and whether a revoke row is there.
  bool grants[3] = {false, false, false}, revokes[3] = {false, false, false};
  if (prepareSql(db_, sql, &st) == SQLITE_OK) {
    sqlite3_bind_int(st, 1, o.id);
    sqlite3_bind_int(st, 2, action);
    sqlite3_bind_int(st, 3, user.uid);
    sqlite3_bind_int(st, 4, user.gid);
    while (sqlite3_step(st) == SQLITE_ROW) {
      int uid = sqlite3_column_int(st, 0);
      int level = uid == user.uid ? 2 : uid == 0 ? 0 : 1;
      int type = sqlite3_column_int(st, 1);
      (type == 2 ? revokes : grants)[level] = true;
    }
  }
  bool granted = false;
  for (int level = 2; level >= 0; --level)
    if (grants[level] || revokes[level]) {
      granted = !revokes[level];
      break;
    }
  sqlite3_finalize(st);
  return granted;
}

bool Permissions::allowUpdates() {
  for (const ConfigParameter& c : configParameters(db_, kAllowUpdates))
    if (c.name == kAllowUpdates) return c.runValue != 0;
  return false;
}

void Permissions::deny(const char* verb, const Object& o) {
  throw SqlError(229, 14,
                 std::string(verb) + " permission denied on object " + o.name + ", database " + o.database +
                     ", owner " + o.owner + ".");
}

Permissions::Accesses Permissions::takeRecorded() {
  Accesses accesses = std::move(accesses_);
  accesses_.clear();
  return accesses;
}

void Permissions::check(std::string_view sql) {
  check(sql, takeRecorded());
}

void Permissions::check(std::string_view sql, const Accesses& recorded) {
  Accesses accesses = recorded;
  objects_.clear();
  users_.clear();
  // sa reads everything; only its writes to system tables are checked.
  if (privileged())
    accesses.erase(std::remove_if(accesses.begin(), accesses.end(),
                                  [](const Access& a) { return a.action == SQLITE_READ; }),
                   accesses.end());
  // SQLite reports a view's tables with the view that led to them, but once it has flattened a
  // view into the query it may also report a table as touched (no column, no view) and never
  // report the view itself. Such a touch of a table reached through some view is left to those
  // reads, unless the statement's own text names the table too (select count(*) from t, v where
  // v selects from t): the statement reads it then itself. A view that was never read on its own
  // is judged as if the statement named it.
  std::set<std::string> reachedThroughView, readViews;
  for (const Access& a : accesses)
    if (a.action == SQLITE_READ) {
      if (!a.via.empty()) reachedThroughView.insert(a.table);
      readViews.insert(a.table);
    }
  std::set<std::string> viewsChecked;
  for (const Access& a : accesses) {
    if (!a.via.empty() && a.via.rfind(kCaptureTriggerPrefix, 0) == 0) continue;
    auto o = objectOf(a.table);
    if (!o) continue;
    // #tables are private to the session that made them.
    if (o->database == "tempdb" && !o->name.empty() && o->name[0] == '#') continue;
    // A change through a view: the view's right decides, and covers a base table of its owner.
    if (through_ && a.via.empty() && a.table == through_->first) {
      if (auto view = objectOf(through_->second)) {
        if (!holds(*view, protectActionOf(a.action))) deny(verbOf(a.action), *view);
        if (view->database == o->database && view->uid == o->uid) {
          requireUser(o->database);
          continue;
        }
      }
    }
    if (a.action == SQLITE_READ) {
      if (a.column == "password" && o->database == "master" && o->name == "syslogins" && o->type == "S" &&
          !privileged())
        throw SqlError(230, 14,
                       "SELECT permission denied on column password of object syslogins, database master, "
                       "owner dbo.");
      if (a.via.empty() && a.column.empty() && reachedThroughView.count(a.table) &&
          sql.find(storage::quoteIdent(a.table)) == std::string_view::npos)
        continue;
      if (!a.via.empty()) {
        auto view = objectOf(a.via);
        if (view && !readViews.count(a.via) && viewsChecked.insert(a.via).second &&
            !holds(*view, kActionSelect))
          deny("SELECT", *view);
        // Read through a view of the same owner: the view's own right covers it.
        if (view && view->database == o->database && view->uid == o->uid) {
          requireUser(o->database);
          continue;
        }
      }
      if (!holds(*o, kActionSelect)) deny("SELECT", *o);
      continue;
    }
    if (o->type == "S") {
      if (!allowUpdates())
        throw SqlError(259, 16,
                       "Ad-hoc updates to system catalogs not enabled. A user with System Security Officer "
                       "(SSO) role must reconfigure system to allow this.");
      if (!privileged()) deny(verbOf(a.action), *o);
      continue;
    }
    if (!holds(*o, protectActionOf(a.action))) deny(verbOf(a.action), *o);
  }
}

void Permissions::requireOwner(const std::string& command, const std::string& database,
                               const std::string& owner, const std::string& name) {
  users_.clear();
  if (privileged()) return;
  DbUser user = requireUser(database);
  if (user.uid == 1 || user.name == owner) return;
  throw SqlError(
      10330, 14,
      command + " permission denied on object " + name + ", database " + database + ", owner " + owner + ".");
}

void Permissions::requireCreate(const std::string& database, int32_t action, const std::string& command) {
  users_.clear();
  if (privileged()) return;
  DbUser user = requireUser(database);
  if (user.uid == 1) return;
  // Statement permissions are the sysprotects rows of object 0; nobody owns that object.
  Object statement{database, "dbo", command, "", 0, -1};
  if (holds(statement, action)) return;
  throw SqlError(262, 14, command + " permission denied, database " + database + ", owner dbo.");
}

bool Permissions::ownsDatabase(const std::string& database) {
  users_.clear();
  if (privileged()) return true;
  auto user = findUserForLogin(db_, database, suid_);
  return user && user->uid == 1;
}

void Permissions::requireOwner(const std::string& command, const std::string& database, int32_t id) {
  if (privileged()) return;
  std::string sql = "SELECT o.name, u.name FROM " + sqliteObjectName(database, "dbo", "sysobjects") +
                    " o JOIN " + sqliteObjectName(database, "dbo", "sysusers") +
                    " u ON u.uid = o.uid WHERE o.id = ?1";
  sqlite3_stmt* st = nullptr;
  std::string name, owner;
  if (prepareSql(db_, sql, &st) == SQLITE_OK) {
    sqlite3_bind_int(st, 1, id);
    if (sqlite3_step(st) == SQLITE_ROW) {
      name = columnText(st, 0);
      owner = columnText(st, 1);
    }
  }
  sqlite3_finalize(st);
  requireOwner(command, database, owner, name);
}

void Permissions::requireExecute(const std::string& database, int32_t procId, const std::string& owner,
                                 const std::string& name) {
  users_.clear();
  if (privileged()) return;
  requireUser(database);
  auto ownerUser = findUser(db_, database, owner);
  Object o{database, owner, name, "P", procId, ownerUser ? ownerUser->uid : -1};
  if (!holds(o, kActionExecute)) deny("EXECUTE", o);
}

Permissions::Chain::Chain(Permissions& p, const std::string& database, const std::string& owner)
    : p_(p), previous_(p.chain_) {
  auto u = findUser(p.db_, database, owner);
  if (u)
    p_.chain_ = std::make_pair(database, u->uid);
  else
    p_.chain_.reset();
}

Permissions::Chain::Chain(Permissions& p, const std::string& database, int32_t ownerUid)
    : p_(p), previous_(p.chain_) {
  if (ownerUid >= 0)
    p_.chain_ = std::make_pair(database, ownerUid);
  else
    p_.chain_.reset();
}

Permissions::Chain::~Chain() {
  p_.chain_ = previous_;
}

}  // namespace tabsrv
