// Users and groups (sysusers), permissions (sysprotects), the documentary keys of syskeys, and
// DROP DATABASE's catalogue row. The system procedures (sp_adduser, sp_addgroup, sp_primarykey ...) and GRANT
// and REVOKE call these; each change happens on the session's connection, inside its transaction.
#include <algorithm>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"

namespace tabsrv {

using storage::Stmt;

namespace {

constexpr int32_t kFirstGroupId = 16384;
constexpr int32_t kFirstUserId = 3;  // 1 is dbo, 2 guest
constexpr int32_t kGroupSuid = -2;

std::string sysTable(const std::string& database, const char* table) {
  return sqliteObjectName(database, "dbo", table);
}

void requireFreeUserName(sqlite3* db, const std::string& database, const std::string& name) {
  requireIdentifierLength(name);
  if (findUser(db, database, name))
    throw SqlError(15023, 16, "A user or group named '" + name + "' already exists in the current database.");
}

DbUser requireGroup(sqlite3* db, const std::string& database, const std::string& group) {
  auto g = findUser(db, database, group);
  if (!g || g->uid != g->gid)
    throw SqlError(15009, 16, "The group '" + group + "' does not exist in the current database.");
  return *g;
}

DbUser requireUser(sqlite3* db, const std::string& database, const std::string& name) {
  auto u = findUser(db, database, name);
  if (!u) throw SqlError(15008, 16, "User '" + name + "' does not exist in the current database.");
  return *u;
}

int32_t nextId(sqlite3* db, const std::string& database, int32_t from, int32_t below) {
  Stmt st(db, "SELECT coalesce(max(uid) + 1, ?1) FROM " + sysTable(database, "sysusers") +
                  " WHERE uid >= ?1 AND uid < ?2");
  st.bind(1, int64_t{from}).bind(2, int64_t{below});
  st.step();
  return static_cast<int32_t>(st.integer(0));
}

void deleteProtects(sqlite3* db, const std::string& database, int32_t objectId, int32_t uid, int32_t action) {
  Stmt del(
      db, "DELETE FROM " + sysTable(database, "sysprotects") + " WHERE id = ?1 AND uid = ?2 AND action = ?3");
  del.bind(1, int64_t{objectId}).bind(2, int64_t{uid}).bind(3, int64_t{action});
  del.run();
}

void insertProtect(sqlite3* db, const std::string& database, int32_t objectId, int32_t uid, int32_t action,
                   int32_t protecttype, int32_t grantor) {
  storage::insertSystemRow(db, database, "sysprotects",
                           {{"id", int64_t{objectId}},
                            {"uid", int64_t{uid}},
                            {"action", int64_t{action}},
                            {"protecttype", int64_t{protecttype}},
                            {"grantor", int64_t{grantor}}});
}

}  // namespace

int32_t addGroup(sqlite3* db, const std::string& database, const std::string& name) {
  requireFreeUserName(db, database, name);
  int32_t gid = nextId(db, database, kFirstGroupId, 32768);
  storage::insertSystemRow(
      db, database, "sysusers",
      {{"suid", int64_t{kGroupSuid}}, {"uid", int64_t{gid}}, {"gid", int64_t{gid}}, {"name", name}});
  return gid;
}

int32_t addUser(sqlite3* db, const std::string& database, const std::string& name, int32_t suid,
                const std::string& group) {
  requireFreeUserName(db, database, name);
  DbUser g = requireGroup(db, database, group.empty() ? std::string("public") : group);
  Stmt taken(db, "SELECT 1 FROM " + sysTable(database, "sysusers") + " WHERE suid = ?1 AND uid <> gid");
  taken.bind(1, int64_t{suid});
  if (taken.step()) throw SqlError(15024, 16, "The login already has a user in the current database.");
  int32_t uid = nextId(db, database, kFirstUserId, kFirstGroupId);
  storage::insertSystemRow(
      db, database, "sysusers",
      {{"suid", int64_t{suid}}, {"uid", int64_t{uid}}, {"gid", int64_t{g.gid}}, {"name", name}});
  return uid;
}

void dropUser(sqlite3* db, const std::string& database, const std::string& name) {
  DbUser u = requireUser(db, database, name);
  if (u.uid <= 2 || name == "public") throw SqlError(15026, 16, "'" + name + "' cannot be dropped.");
  Stmt owns(db, "SELECT 1 FROM " + sysTable(database, "sysobjects") + " WHERE uid = ?1");
  owns.bind(1, int64_t{u.uid});
  if (owns.step()) throw SqlError(15183, 16, "User '" + name + "' owns objects and cannot be dropped.");
  if (u.uid == u.gid) {
    Stmt members(db, "SELECT 1 FROM " + sysTable(database, "sysusers") + " WHERE gid = ?1 AND uid <> gid");
    members.bind(1, int64_t{u.gid});
    if (members.step()) throw SqlError(15025, 16, "Group '" + name + "' has members and cannot be dropped.");
  }
  Stmt prot(db, "DELETE FROM " + sysTable(database, "sysprotects") + " WHERE uid = ?1");
  prot.bind(1, int64_t{u.uid});
  prot.run();
  Stmt del(db, "DELETE FROM " + sysTable(database, "sysusers") + " WHERE uid = ?1");
  del.bind(1, int64_t{u.uid});
  del.run();
}

void changeGroup(sqlite3* db, const std::string& database, const std::string& name,
                 const std::string& group) {
  DbUser u = requireUser(db, database, name);
  DbUser g = requireGroup(db, database, group);
  if (u.uid == u.gid)
    throw SqlError(15008, 16, "User '" + name + "' does not exist in the current database.");
  Stmt up(db, "UPDATE " + sysTable(database, "sysusers") + " SET gid = ?2 WHERE uid = ?1");
  up.bind(1, int64_t{u.uid}).bind(2, int64_t{g.gid});
  up.run();
}

void grantPermission(sqlite3* db, const std::string& database, int32_t objectId, int32_t uid, int32_t action,
                     int32_t grantor, bool withGrantOption) {
  deleteProtects(db, database, objectId, uid, action);
  insertProtect(db, database, objectId, uid, action, withGrantOption ? 0 : 1, grantor);
}

void revokePermission(sqlite3* db, const std::string& database, int32_t objectId, int32_t uid, int32_t action,
                      int32_t grantor) {
  deleteProtects(db, database, objectId, uid, action);
  if (uid == 0) return;
  Stmt pub(db, "SELECT 1 FROM " + sysTable(database, "sysprotects") +
                   " WHERE id = ?1 AND uid = 0 AND action = ?2 AND protecttype IN (0, 1)");
  pub.bind(1, int64_t{objectId}).bind(2, int64_t{action});
  if (pub.step()) insertProtect(db, database, objectId, uid, action, 2, grantor);
}

void addKey(sqlite3* db, const KeySpec& details) {
  if (details.colids.size() > 8 || details.depColids.size() > 8)
    throw SqlError(15414, 16, "Only 8 columns may be given.");
  if (details.type == 2 && details.colids.size() != details.depColids.size())
    throw SqlError(15416, 16, "The foreign key must have as many columns as the primary key.");
  if (details.type == 1) {
    Stmt pk(db, "SELECT 1 FROM " + sysTable(details.database, "syskeys") + " WHERE id = ?1 AND type = 1");
    pk.bind(1, int64_t{details.id});
    if (pk.step()) {
      Stmt name(db, "SELECT name FROM " + sysTable(details.database, "sysobjects") + " WHERE id = ?1");
      name.bind(1, int64_t{details.id});
      std::string table = name.step() ? storage::rtrimmed(name.text(0)) : std::to_string(details.id);
      throw SqlError(15412, 16, "Table '" + table + "' already has a primary key.");
    }
  }
  std::vector<std::pair<std::string, Value>> values = {
      {"id", int64_t{details.id}},
      {"type", int64_t{details.type}},
      {"depid", details.depid ? Value(int64_t{details.depid}) : Value()},
      {"keycnt", int64_t{static_cast<int64_t>(details.colids.size())}},
      {"size", int64_t{0}}};
  for (size_t i = 0; i < 8; ++i) {
    values.emplace_back("key" + std::to_string(i + 1),
                        i < details.colids.size() ? Value(int64_t{details.colids[i]}) : Value());
    values.emplace_back("depkey" + std::to_string(i + 1),
                        i < details.depColids.size() ? Value(int64_t{details.depColids[i]}) : Value());
  }
  storage::insertSystemRow(db, details.database, "syskeys", values);
}

void dropDatabase(sqlite3* db, const std::string& name) {
  for (const char* system : {"master", "model", "tempdb", "sybsystemprocs"}) {
    if (name == system)
      throw SqlError(3708, 16, "Cannot drop the database '" + name + "' because it is a system database.");
  }
  if (!databaseExists(db, name)) {
    throw SqlError(
        3701, 11, "Cannot drop the database '" + name + "' because it doesn't exist in the system catalogs.");
  }
  // The database's file goes once this transaction has committed (removeDatabaseFile): until
  // then a rollback keeps the database whole.
  Stmt row(db, "DELETE FROM " + sysTable("master", "sysdatabases") + " WHERE name = ?1");
  row.bind(1, name);
  row.run();
}

}  // namespace tabsrv
