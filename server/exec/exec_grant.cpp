// GRANT and REVOKE of object permissions (select, insert, update, delete, execute, all) and of
// the statement permissions (create table, view, procedure, rule, default) to users, groups and
// public, kept in the database's sysprotects through the catalogue (statement permissions as the
// rows of object 0). "grant all on t to bob" expands to the four table actions; on a procedure
// it means execute; "grant all to bob" without an object means the five statement permissions. A
// privilege that is not one of its kind is refused by the parser as a syntax error.
#include <algorithm>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"

namespace tabsrv {

using namespace tsql;

namespace {

// The sysprotects actions one written privilege stands for on an object that is (or is not) a
// procedure.
std::vector<int32_t> actionsOf(const std::string& privilege, bool procedure) {
  if (privilege == "all" || privilege == "all privileges") {
    if (procedure) return {kActionExecute};
    return {kActionSelect, kActionInsert, kActionUpdate, kActionDelete};
  }
  if (privilege == "execute" || privilege == "exec") {
    if (!procedure) throw SqlError(4611, 16, "EXECUTE permission can be granted only on procedures.");
    return {kActionExecute};
  }
  int32_t action = 0;
  if (privilege == "select")
    action = kActionSelect;
  else if (privilege == "insert")
    action = kActionInsert;
  else if (privilege == "update")
    action = kActionUpdate;
  else if (privilege == "delete")
    action = kActionDelete;
  else if (privilege == "references")
    action = kActionReferences;
  else
    throw notSupported("The permission '" + privilege + "'");
  if (procedure) throw SqlError(4611, 16, "Only EXECUTE permission can be granted on procedures.");
  return {action};
}

// The statement permission a written privilege names ("create table" ...), or all of them.
std::vector<int32_t> statementActionsOf(const std::string& privilege) {
  if (privilege == "all" || privilege == "all privileges")
    return {kActionCreateTable, kActionCreateView, kActionCreateProcedure, kActionCreateRule,
            kActionCreateDefault};
  if (privilege == "create table") return {kActionCreateTable};
  if (privilege == "create view") return {kActionCreateView};
  if (privilege == "create procedure" || privilege == "create proc") return {kActionCreateProcedure};
  if (privilege == "create rule") return {kActionCreateRule};
  if (privilege == "create default") return {kActionCreateDefault};
  throw notSupported("The statement permission '" + privilege + "'");
}

}  // namespace

// GRANT/REVOKE create table ... TO names: in the current database, by its owner (or sa).
void SessionImpl::runStatementGrant(const GrantStatement& s) {
  const std::string& database = database_;
  if (!permissions_->ownsDatabase(database))
    throw SqlError(10330, 14,
                   std::string(s.revoke ? "REVOKE" : "GRANT") + " permission denied, database " + database +
                       ": only its owner grants and revokes statement permissions.");
  std::vector<int32_t> actions;
  for (const auto& p : s.privileges)
    for (int32_t a : statementActionsOf(p))
      if (std::find(actions.begin(), actions.end(), a) == actions.end()) actions.push_back(a);
  std::vector<int32_t> uids;
  for (const auto& g : s.grantees) {
    if (g == "public") {
      uids.push_back(0);
      continue;
    }
    auto u = findUser(db_, database, g);
    if (!u) throw SqlError(15008, 16, "User '" + g + "' does not exist in the current database.");
    uids.push_back(u->uid);
  }
  StatementTransaction tx(*this, database);
  for (int32_t uid : uids)
    for (int32_t a : actions) {
      if (s.revoke)
        revokePermission(db_, database, 0, uid, a, 1);
      else
        grantPermission(db_, database, 0, uid, a, 1);
    }
  tx.commit();
  done(false, -1);
}

void SessionImpl::runGrant(const GrantStatement& s) {
  setCommand(s.revoke ? "REVOKE" : "GRANT");
  if (s.object.name.empty()) return runStatementGrant(s);
  // Column-level permissions would widen to the whole object here, so they are refused.
  if (!s.columns.empty()) throw notSupported("A column permission");
  const std::string database = s.object.database.empty() ? database_ : s.object.database;
  if (!databaseExists(db_, database)) throw unknownDatabase(database);
  ObjectRef ref{database, s.object.owner, s.object.name};
  auto objectId = resolveObjectId(db_, ref, database_, user_);
  if (!objectId) throw objectNotFound(s.object.toSql());
  permissions_->requireOwner(s.revoke ? "REVOKE" : "GRANT", database, *objectId);
  bool procedure = false;
  {
    SqlStatement q(
        *this, "SELECT trim(type) FROM " + sqliteObjectName(database, "dbo", "sysobjects") + " WHERE id = ?",
        SqlStatement::Access::Internal);
    q.bindAll({Value(static_cast<int64_t>(*objectId))});
    if (q.step()) {
      const unsigned char* type = sqlite3_column_text(q.get(), 0);
      procedure = type && std::string(reinterpret_cast<const char*>(type)) == "P";
    }
  }
  std::vector<int32_t> actions;
  for (const auto& p : s.privileges)
    for (int32_t a : actionsOf(p, procedure))
      if (std::find(actions.begin(), actions.end(), a) == actions.end()) actions.push_back(a);
  std::vector<int32_t> uids;
  for (const auto& g : s.grantees) {
    if (g == "public") {
      uids.push_back(0);
      continue;
    }
    auto u = findUser(db_, database, g);
    if (!u) throw SqlError(15008, 16, "User '" + g + "' does not exist in the current database.");
    uids.push_back(u->uid);
  }
  auto me = findUser(db_, database, user_);
  int32_t grantor = me ? me->uid : 1;
  StatementTransaction tx(*this, database);
  for (int32_t uid : uids)
    for (int32_t a : actions) {
      if (s.revoke)
        revokePermission(db_, database, *objectId, uid, a, grantor);
      else
        grantPermission(db_, database, *objectId, uid, a, grantor, s.withGrantOption);
    }
  tx.commit();
  done(false, -1);
}

}  // namespace tabsrv
