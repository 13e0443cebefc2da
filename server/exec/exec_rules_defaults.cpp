// CREATE RULE / CREATE DEFAULT as objects of their own (sysobjects 'R' / 'D', the statement text in
// syscomments) and DROP RULE / DEFAULT / TRIGGER. Binding them to columns is sp_bindrule's and
// sp_bindefault's business; a bound rule or default refuses DROP (3716, from the catalogue).
#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"

namespace tabsrv {

using namespace tsql;

void SessionImpl::createTextObjectFor(const Statement& s, const ObjectName& name, const std::string& type,
                                      TextObjectSpec details) {
  details.database = name.database.empty() ? database_ : name.database;
  details.owner = name.owner.empty() ? user_ : name.owner;
  details.name = name.name;
  details.type = type;
  details.tsqlText = std::string(s.sourceText(batch_));
  if (!databaseExists(db_, details.database)) throw unknownDatabase(details.database);
  // Rules and defaults need the statement permission; a trigger belongs to its table's owner.
  if (type == "R") permissions_->requireCreate(details.database, kActionCreateRule, "CREATE RULE");
  if (type == "D") permissions_->requireCreate(details.database, kActionCreateDefault, "CREATE DEFAULT");
  permissions_->requireOwner(type == "TR"  ? "CREATE TRIGGER"
                             : type == "R" ? "CREATE RULE"
                                           : "CREATE DEFAULT",
                             details.database, details.owner, details.name);
  StatementTransaction tx(*this, details.database);
  createTextObject(db_, details);
  tx.commit();
  done(false, -1);
}

void SessionImpl::runCreateRule(const CreateRuleStatement& s) {
  setCommand("CREATE RULE");
  createTextObjectFor(s, s.name, "R", {});
}

void SessionImpl::runCreateDefault(const CreateDefaultStatement& s) {
  setCommand("CREATE DEFAULT");
  createTextObjectFor(s, s.name, "D", {});
}

void SessionImpl::runDropTextObject(const DropStatement& s) {
  const char* what = s.object == DropObject::Rule      ? "rule"
                     : s.object == DropObject::Default ? "default"
                                                       : "trigger";
  const char* type = s.object == DropObject::Rule ? "R" : s.object == DropObject::Default ? "D" : "TR";
  StatementTransaction tx(*this, databaseOf(s.names.front()));
  for (const auto& name : s.names) {
    const std::string database = name.database.empty() ? database_ : name.database;
    std::optional<int32_t> id;
    if (databaseExists(db_, database))
      id = resolveObjectId(db_, ObjectRef{database, name.owner, name.name}, database_, user_);
    // DROP RULE of a table (or DROP TRIGGER of a rule) must not remove the other kind of object.
    bool matches = false;
    if (id) {
      SqlStatement q(
          *this,
          "SELECT trim(type) FROM " + sqliteObjectName(database, "dbo", "sysobjects") + " WHERE id = ?",
          SqlStatement::Access::Internal);
      q.bindAll({Value(static_cast<int64_t>(*id))});
      if (q.step()) {
        const unsigned char* t = sqlite3_column_text(q.get(), 0);
        matches = t && std::string(reinterpret_cast<const char*>(t)) == type;
      }
    }
    if (!matches)
      throw SqlError(3701, 11,
                     std::string("Cannot drop the ") + what + " '" + name.toSql() +
                         "', because it doesn't exist in the system catalogs.");
    permissions_->requireOwner(std::string("DROP ") + (type[0] == 'R'   ? "RULE"
                                                       : type[0] == 'D' ? "DEFAULT"
                                                                        : "TRIGGER"),
                               database, *id);
    lockDatabase(database);
    dropTextObject(db_, database, *id);
  }
  tx.commit();
  done(false, -1);
}

namespace {

// The default bound to user type `usertype` of `database` (0: none).
int64_t typeDefault(SessionImpl& session, const std::string& database, int32_t usertype) {
  SqlStatement st(session,
                  "SELECT tdefault FROM " + sqliteObjectName(database, "dbo", "systypes") + " WHERE usertype = ?1",
                  SqlStatement::Access::Internal);
  st.bindAll({Value{int64_t{usertype}}});
  return st.step() ? sqlite3_column_int64(st.get(), 0) : 0;
}

}  // namespace

void SessionImpl::inheritTypeDefaults(const std::string& database, int32_t tableId) {
  // Each column of a user type that has a default, the column none of its own.
  std::vector<std::pair<int64_t, int64_t>> inherit;
  {
    SqlStatement st(*this,
                    "SELECT c.colid, t.tdefault FROM " + sqliteObjectName(database, "dbo", "syscolumns") + " c, " +
                        sqliteObjectName(database, "dbo", "systypes") +
                        " t WHERE c.id = ?1 AND c.number = 0 AND c.cdefault = 0 AND c.usertype >= 100 AND "
                        "t.usertype = c.usertype AND t.tdefault <> 0",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{int64_t{tableId}}});
    while (st.step()) inherit.emplace_back(sqlite3_column_int64(st.get(), 0), sqlite3_column_int64(st.get(), 1));
  }
  for (const auto& [colid, defaultId] : inherit) {
    SqlStatement up(*this,
                    "UPDATE " + sqliteObjectName(database, "dbo", "syscolumns") +
                        " SET cdefault = ?3 WHERE id = ?1 AND colid = ?2 AND number = 0",
                    SqlStatement::Access::Internal);
    up.bindAll({Value{int64_t{tableId}}, Value{colid}, Value{defaultId}});
    up.step();
  }
}

void SessionImpl::bindTypeDefault(int32_t defaultId, int32_t usertype, bool futureonly) {
  const int64_t previous = typeDefault(*this, database_, usertype);
  bindDefault(db_, database_, defaultId, 0, 0, usertype);
  if (futureonly) return;
  // The table columns of the type follow it: those without a default (on a bind) and those that
  // had the type's default; a default bound to the column itself stays.
  SqlStatement up(*this,
                  "UPDATE " + sqliteObjectName(database_, "dbo", "syscolumns") +
                      " SET cdefault = ?2 WHERE usertype = ?1 AND number = 0 AND (cdefault = ?3 OR (cdefault = 0 "
                      "AND ?2 <> 0)) AND id IN (SELECT id FROM " +
                      sqliteObjectName(database_, "dbo", "sysobjects") + " WHERE type = 'U')",
                  SqlStatement::Access::Internal);
  up.bindAll({Value{int64_t{usertype}}, Value{int64_t{defaultId}}, Value{previous == 0 ? int64_t{-1} : previous}});
  up.step();
}

}  // namespace tabsrv
