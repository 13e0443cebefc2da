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

}  // namespace tabsrv
