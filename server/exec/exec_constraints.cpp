// Row integrity: CHECK constraints kept as constraint objects of their table, the rules bound to
// columns (or to their user datatypes), and the test of a new or changed row against them
// (548 for a CHECK constraint, 552 for a rule; the statement then changes nothing).
#include <functional>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/table_status.h"
#include "server/tsql/parser.h"

namespace tabsrv {

using namespace tsql;

namespace {

// sysobjects.sysstat2 marks a CHECK constraint object (type 'R', its table in deltrig).
constexpr int64_t kCheckConstraintStat2 = 0x2000;

// The binder's view of the session while a rule is tested: every @variable is the value.
class RuleContext : public BindContext {
 public:
  RuleContext(BindContext& inner, Variable value) : inner_(inner), value_(std::move(value)) {}
  sqlite3* connection() override { return inner_.connection(); }
  const std::string& databaseName() const override { return inner_.databaseName(); }
  const std::string& userName() const override { return inner_.userName(); }
  Variable* findVariable(const std::string&) override { return &value_; }
  std::optional<std::pair<Value, TypeDesc>> global(const std::string& name) override {
    return inner_.global(name);
  }
  std::string tempTableName(const std::string& name) const override { return inner_.tempTableName(name); }
  bool ansiNull() const override { return inner_.ansiNull(); }
  CatalogCache* catalogCache() override { return inner_.catalogCache(); }

 private:
  BindContext& inner_;
  Variable value_;
};

// The condition of a stored "CHECK (expr)" text or "create rule r as expr" statement.
StatementPtr parseCondition(const std::string& text, bool rule, const ExprPtr** condition) {
  std::vector<StatementPtr> statements;
  if (rule) {
    statements = parseBatch(text, SessionImpl::parseOptions());
    if (statements.empty() || !statements[0]->is<CreateRuleStatement>()) return nullptr;
    *condition = &statements[0]->as<CreateRuleStatement>().condition;
  } else {
    size_t open = text.find('(');
    if (open == std::string::npos) return nullptr;
    statements = parseBatch("select 1 where " + text.substr(open), SessionImpl::parseOptions());
    if (statements.empty() || !statements[0]->is<SelectStatement>()) return nullptr;
    *condition = &statements[0]->as<SelectStatement>().core.where;
  }
  return std::move(statements[0]);
}

}  // namespace

void SessionImpl::createCheckConstraints(const TableInfo& t, const std::vector<const Constraint*>& checks,
                                         const std::vector<std::string>& columns) {
  for (size_t k = 0; k < checks.size(); ++k) {
    const Constraint& c = *checks[k];
    TextObjectSpec details;
    details.database = t.database;
    details.owner = t.owner;
    // An unnamed constraint is named after its table, column and its own object id, as the family
    // does. The id is known only once the object exists: it is made under a name no identifier
    // spells and renamed below (another number, such as the table's id plus one, is a column
    // default's id as well: `c int default 1 check (c > 0)` would name both objects alike).
    details.name = !c.name.empty() ? c.name : " unnamed check " + std::to_string(k);
    details.type = "R";
    details.tableId = t.id;
    details.tsqlText = "CHECK (" + c.check->toSql() + ")";
    // The condition must make sense for the table's columns before it is kept.
    Binder binder(*this);
    Scope scope;
    scope.sources.push_back(Binder::sourceFor(t, {}, binder.newAlias()));
    binder.bindCondition(*c.check, scope);
    int32_t id = createTextObject(db_, details);
    const std::string name =
        !c.name.empty() ? c.name
                        : t.name.substr(0, 10) + "_" + (columns[k].empty() ? "check" : columns[k].substr(0, 10)) +
                              "_" + std::to_string(id);
    SqlStatement link(*this,
                      "UPDATE " + storage::systemTableOf(t.database, "sysobjects", id) +
                          " SET deltrig = ?1, sysstat2 = ?2, name = ?4 WHERE id = ?3",
                      SqlStatement::Access::Internal);
    link.bindAll({Value{int64_t{t.id}}, Value{kCheckConstraintStat2}, Value{int64_t{id}}, Value{name}});
    link.step();
    if (k == 0) {
      // The table's first CHECK constraint; one added later by ALTER TABLE leaves it.
      SqlStatement first(*this,
                         "UPDATE " + storage::systemTableOf(t.database, "sysobjects", t.id) +
                             " SET ckfirst = ?1 WHERE id = ?2 AND coalesce(ckfirst, 0) = 0",
                         SqlStatement::Access::Internal);
      first.bindAll({Value{int64_t{id}}, Value{int64_t{t.id}}});
      first.step();
    }
  }
}

void SessionImpl::dropConstraint(const TableInfo& t, const std::string& name) {
  const std::string sysobjects = sqliteObjectName(t.database, "dbo", "sysobjects");
  std::optional<int32_t> id;
  {
    SqlStatement q(*this,
                   "SELECT id FROM " + sysobjects +
                       " WHERE ((type = 'R' AND (sysstat2 & ?2) <> 0) OR type = 'RI') AND deltrig = ?1 AND "
                       "rtrim(name) = ?3",
                   SqlStatement::Access::Internal);
    q.bindAll({Value{int64_t{t.id}}, Value{kCheckConstraintStat2}, Value{name}});
    if (q.step()) id = sqlite3_column_int(q.get(), 0);
  }
  if (!id) {
    for (const IndexInfo& i : t.indexes)
      if (i.name == name) throw notSupported("Dropping the PRIMARY KEY or UNIQUE constraint '" + name + "'");
    throw SqlError(3701, 11,
                   "Cannot drop the constraint '" + name + "', because it doesn't exist in the system catalogs.");
  }
  // A foreign key: the table it referenced, whose mark (and this table's) may go with it.
  const std::string refs = sqliteObjectName(t.database, "dbo", "sysreferences");
  std::optional<int32_t> parent;
  {
    SqlStatement q(*this, "SELECT reftabid FROM " + refs + " WHERE constrid = ?1", SqlStatement::Access::Internal);
    q.bindAll({Value{int64_t{*id}}});
    if (q.step()) parent = sqlite3_column_int(q.get(), 0);
  }
  dropTextObject(db_, t.database, *id);
  if (parent) {
    // The marks stay while another key of the same kind stands.
    unmarkUnlessReferenced(t.database, "tableid", t.id, kStat2ForeignKey);
    unmarkUnlessReferenced(t.database, "reftabid", *parent, kStat2Referential);
  }
  // The table's first CHECK constraint, if that was the one dropped, is the next one it has.
  SqlStatement first(*this,
                     "UPDATE " + storage::systemTableOf(t.database, "sysobjects", t.id) +
                         " SET ckfirst = coalesce((SELECT min(id) FROM " + sysobjects +
                         " WHERE type = 'R' AND deltrig = ?1 AND (sysstat2 & ?2) <> 0), 0) WHERE id = ?1 AND "
                         "ckfirst = ?3",
                     SqlStatement::Access::Internal);
  first.bindAll({Value{int64_t{t.id}}, Value{kCheckConstraintStat2}, Value{int64_t{*id}}});
  first.step();
}

void SessionImpl::dropCheckConstraints(const TableInfo& t) {
  std::vector<int32_t> ids;
  {
    SqlStatement q(*this,
                   "SELECT id FROM " + sqliteObjectName(t.database, "dbo", "sysobjects") +
                       " WHERE type = 'R' AND deltrig = ?1 AND (sysstat2 & ?2) <> 0",
                   SqlStatement::Access::Internal);
    q.bindAll({Value{int64_t{t.id}}, Value{kCheckConstraintStat2}});
    while (q.step()) ids.push_back(sqlite3_column_int(q.get(), 0));
  }
  for (int32_t id : ids) dropTextObject(db_, t.database, id);
}

std::vector<RowRule> SessionImpl::rowRules(const TableInfo& t) {
  std::vector<RowRule> rules;
  auto load = [&](int32_t objectId, int column) {
    auto text = objectText(db_, t.database, objectId);
    if (!text) return;
    RowRule r;
    r.column = column;
    const ExprPtr* condition = nullptr;
    r.statement = parseCondition(*text, column >= 0, &condition);
    if (!r.statement || !condition || !*condition) return;
    r.condition = condition->get();
    SqlStatement name(
        *this,
        "SELECT rtrim(name) FROM " + sqliteObjectName(t.database, "dbo", "sysobjects") + " WHERE id = ?1",
        SqlStatement::Access::Internal);
    name.bindAll({Value{int64_t{objectId}}});
    if (name.step()) r.name = reinterpret_cast<const char*>(sqlite3_column_text(name.get(), 0));
    rules.push_back(std::move(r));
  };
  if (t.type != "U") return rules;
  // Rules: the column's own binding, else its user datatype's.
  {
    std::vector<std::pair<int32_t, int>> bound;
    SqlStatement q(
        *this,
        "SELECT c.colid, CASE WHEN c.domain <> 0 THEN c.domain ELSE coalesce(ty.domain, 0) END FROM " +
            sqliteObjectName(t.database, "dbo", "syscolumns") + " c LEFT JOIN " +
            sqliteObjectName(t.database, "dbo", "systypes") +
            " ty ON ty.usertype = c.usertype AND c.usertype >= 100 WHERE c.id = ?1 AND c.number = 0",
        SqlStatement::Access::Internal);
    q.bindAll({Value{int64_t{t.id}}});
    while (q.step()) {
      int32_t colid = sqlite3_column_int(q.get(), 0), rule = sqlite3_column_int(q.get(), 1);
      if (rule == 0) continue;
      for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].colid == colid) bound.emplace_back(rule, static_cast<int>(i));
    }
    for (auto [rule, column] : bound) load(rule, column);
  }
  std::vector<int32_t> checks;
  {
    SqlStatement q(*this,
                   "SELECT id FROM " + sqliteObjectName(t.database, "dbo", "sysobjects") +
                       " WHERE type = 'R' AND deltrig = ?1 AND (sysstat2 & ?2) <> 0 ORDER BY id",
                   SqlStatement::Access::Internal);
    q.bindAll({Value{int64_t{t.id}}, Value{kCheckConstraintStat2}});
    while (q.step()) checks.push_back(sqlite3_column_int(q.get(), 0));
  }
  for (int32_t id : checks) load(id, -1);
  return rules;
}

void SessionImpl::verifyRow(const TableInfo& t, const std::vector<RowRule>& rules,
                            const std::vector<Value>& row, const std::vector<bool>* changed) {
  for (const RowRule& r : rules) {
    if (r.column >= 0 && changed && !(*changed)[static_cast<size_t>(r.column)]) continue;
    std::string sql;
    std::vector<Value> params;
    if (r.column >= 0) {
      // A rule sees the column's new value through its @variable.
      const CatalogColumn& c = t.columns[static_cast<size_t>(r.column)];
      RuleContext ctx(*this, Variable{c.desc.type, row[static_cast<size_t>(r.column)]});
      Binder binder(ctx);
      BoundExpr x = binder.bindCondition(*r.condition, Scope{});
      sql = x.sql;
      params = binder.params();
    } else {
      // A CHECK constraint sees the row's values as its columns.
      Binder binder(*this);
      Scope scope;
      ScopeSource source = Binder::sourceFor(t, {}, "t0");
      for (size_t i = 0; i < source.columns.size() && i < row.size(); ++i)
        source.columns[i].sql = Binder::literalSql(row[i]);
      scope.sources.push_back(std::move(source));
      BoundExpr x = binder.bindCondition(*r.condition, scope);
      sql = x.sql;
      params = binder.params();
    }
    // Only a false condition fails: an unknown one (a NULL value) passes.
    SqlStatement st(*this, "SELECT CASE WHEN " + sql + " THEN 1 WHEN NOT " + sql + " THEN 0 END",
                    SqlStatement::Access::Internal);
    st.bindAll(params);
    if (!st.step() || sqlite3_column_type(st.get(), 0) == SQLITE_NULL || sqlite3_column_int(st.get(), 0) != 0)
      continue;
    if (r.column >= 0)
      throw SqlError(552, 16,
                     "A column insert or update conflicts with a rule bound to the column. The command is "
                     "aborted. The conflict occured in database '" +
                         t.database + "', table '" + t.name + "', rule '" + r.name + "', column '" +
                         t.columns[static_cast<size_t>(r.column)].desc.name + "'.");
    throw SqlError(548, 16,
                   "Check constraint violation occurred, dbname = '" + t.database + "', table name = '" +
                       t.name + "', constraint name = '" + r.name + "'.");
  }
}

}  // namespace tabsrv
