// INSERT, UPDATE, DELETE and TRUNCATE TABLE: values converted to the target columns' storage
// form, defaults and identity values filled in, `set rowcount` applied, each statement atomic.
#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>

#include "server/exec/errors.h"
#include "server/exec/permissions.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/triggers.h"
#include "server/exec/type_rules.h"
#include "server/tsql/parser.h"
#include "server/types/timestamp_value.h"
#include "server/types/type_codes.h"
#include "server/types/convert.h"
#include "server/types/sqlite_prepare.h"
#include "server/types/sqlite_value.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

SqlError notUpdatableView(const TableInfo& t) {
  return SqlError(4405, 16,
                  "View '" + t.name +
                      "' is not updatable because the FROM clause names multiple tables "
                      "or it is a view; update the underlying table.");
}

void refuseView(const TableInfo& t) {
  if (t.type == "V") throw notUpdatableView(t);
}

SqlError derivedField(const TableInfo& view) {
  return SqlError(4406, 16,
                  "Update or insert of view '" + view.name +
                      "' failed because it contains a derived or constant field.");
}

SqlError checkOptionFailed() {
  return SqlError(550, 16,
                  "The attempted insert or update failed because the target view was either created WITH "
                  "CHECK OPTION or spans another view created WITH CHECK OPTION. At least one resultant row "
                  "from the command would not qualify under the CHECK OPTION constraint.");
}

// The SQLite table name without its quotes, as the authorizer reports it.
std::string unquoted(const std::string& sqliteName) {
  if (sqliteName.size() >= 2 && sqliteName.front() == '"' && sqliteName.back() == '"')
    return sqliteName.substr(1, sqliteName.size() - 2);
  return sqliteName;
}

// Whether the SQLite query `sql` opens table `table` or one of its indexes, in any attached
// database. When that cannot be told the answer is yes.
bool readsTable(sqlite3* db, const std::string& sql, const std::string& table) {
  auto prepare = [db](const std::string& text) {
    sqlite3_stmt* st = nullptr;
    if (prepareSql(db, text, &st) != SQLITE_OK) {
      sqlite3_finalize(st);
      st = nullptr;
    }
    return st;
  };
  std::vector<std::string> schemas;
  if (sqlite3_stmt* st = prepare("SELECT name FROM pragma_database_list")) {
    while (sqlite3_step(st) == SQLITE_ROW)
      schemas.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
  }
  std::vector<int64_t> roots;
  for (const auto& schema : schemas) {
    sqlite3_stmt* st = prepare("SELECT rootpage FROM \"" + schema + "\".sqlite_master WHERE tbl_name = ?1");
    if (!st) return true;
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) roots.push_back(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
  }
  if (roots.empty()) return true;
  sqlite3_stmt* st = prepare("EXPLAIN " + sql);
  if (!st) return true;
  bool reads = false;
  while (!reads && sqlite3_step(st) == SQLITE_ROW) {
    const char* op = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    std::string opcode = op ? op : "";
    if (opcode == "OpenRead" || opcode == "OpenWrite" || opcode == "ReopenIdx")
      reads = std::find(roots.begin(), roots.end(), sqlite3_column_int64(st, 3)) != roots.end();
  }
  sqlite3_finalize(st);
  return reads;
}

SqlError nullNotAllowed(const std::string& column, const TableInfo& t) {
  return SqlError(233, 16, "The column " + column + " in table " + t.name + " does not allow null values.");
}

// The rowids an UPDATE or DELETE touches: the target's rows (as `alias`) that `where` selects with
// the other FROM items (`joins`, ", u AS t1 ...") joined in, at most `rowCount` of them when set.
std::string rowSelection(const TableInfo& t, const std::string& alias, const std::string& joins,
                         const std::string& where, int32_t rowCount) {
  return "SELECT " + alias + ".rowid FROM " + t.sqliteName + " AS " + alias + joins +
         (where.empty() ? "" : " WHERE " + where) + (rowCount > 0 ? " LIMIT " + std::to_string(rowCount) : "");
}

// What a change through a view changes: the view's one base table, its columns seen under the
// view's names, and the view's WHERE bound over the base table.
struct ViewTarget {
  TableInfo view;
  TableInfo base;
  std::vector<int> baseColumn;  // per view column: the base column it names, -1 when computed
  ScopeSource source;           // the view's columns as the statement sees them, over the base rows
  std::string where;            // the view's own condition on the base rows, or empty
  bool checkOption = false;
};

// Resolves a view for INSERT, UPDATE or DELETE (the base rows take the SQL alias `alias`). A view
// is updatable when it selects from one table, without DISTINCT, TOP, GROUP BY, aggregates or
// UNION; other views are refused with 4405.
ViewTarget resolveViewTarget(sqlite3* db, Binder& binder, const TableInfo& view, const std::string& alias,
                             const tsql::ParseOptions& options) {
  ViewTarget vt;
  vt.view = view;
  auto text = objectText(db, view.database, view.id);
  if (!text) throw notUpdatableView(view);
  auto statements = parseBatch(*text, options);
  if (statements.empty() || !statements[0]->is<CreateViewStatement>()) throw notUpdatableView(view);
  const auto& cv = statements[0]->as<CreateViewStatement>();
  const SelectStatement& q = *cv.query;
  const SelectCore& core = q.core;
  if (!q.unions.empty() || core.distinct || core.top || !core.groupBy.empty() || core.groupByAll || core.having ||
      core.from.size() != 1 || !core.from[0]->is<NamedTableRef>())
    throw notUpdatableView(view);
  for (const auto& item : core.items)
    if (item.expr->is<FunctionExpr>() && isAggregateName(item.expr->as<FunctionExpr>().name))
      throw notUpdatableView(view);
  const auto& from = core.from[0]->as<NamedTableRef>();
  // The view's names are resolved as its owner wrote them, in the view's database.
  ObjectName baseName = from.name;
  if (baseName.database.empty() && baseName.name[0] != '#') baseName.database = view.database;
  if (baseName.owner.empty()) {
    ObjectName owned = baseName;
    owned.owner = view.owner;
    try {
      vt.base = binder.resolveTable(owned);
    } catch (const SqlError&) {
      vt.base = binder.resolveTable(baseName);
    }
  } else {
    vt.base = binder.resolveTable(baseName);
  }
  if (vt.base.type == "V") throw notUpdatableView(view);
  vt.checkOption = cv.withCheckOption;

  Scope baseScope;
  baseScope.sources.push_back(Binder::sourceFor(vt.base, from.alias, alias));
  vt.source = Binder::sourceFor(view, {}, alias);
  // Each view column in order: a plain column of the base table, or an expression over its row.
  size_t k = 0;
  auto take = [&](int baseIndex, const std::string& sql) {
    if (k >= vt.source.columns.size()) throw notUpdatableView(view);
    vt.baseColumn.push_back(baseIndex);
    vt.source.columns[k].sql = sql;
    if (baseIndex >= 0) vt.source.columns[k].identity = vt.base.columns[static_cast<size_t>(baseIndex)].identity;
    ++k;
  };
  for (const auto& item : core.items) {
    if (item.expr->is<StarExpr>()) {
      for (size_t i = 0; i < vt.base.columns.size(); ++i)
        take(static_cast<int>(i), alias + "." + Binder::quoteIdent(vt.base.columns[i].sqliteName));
      continue;
    }
    if (item.expr->is<ColumnRefExpr>()) {
      const CatalogColumn* c = vt.base.findColumn(item.expr->as<ColumnRefExpr>().column);
      if (c) {
        take(static_cast<int>(c - vt.base.columns.data()), alias + "." + Binder::quoteIdent(c->sqliteName));
        continue;
      }
    }
    take(-1, "(" + binder.bindCondition(*item.expr, baseScope).sql + ")");
  }
  if (k != vt.source.columns.size()) throw notUpdatableView(view);
  if (core.where) vt.where = binder.bindCondition(*core.where, baseScope).sql;
  return vt;
}

// A T-SQL condition joined to the view's own.
std::string bothConditions(const std::string& where, const ViewTarget* vt) {
  if (!vt || vt->where.empty()) return where;
  if (where.empty()) return "(" + vt->where + ")";
  return "(" + where + ") AND (" + vt->where + ")";
}

// The tables and ON conditions of an UPDATE's or DELETE's FROM list with its inner joins spelled
// out: `from t join u on t.id = u.id` reads as `from t, u where t.id = u.id`. False for an item
// that is neither a table nor an inner join of tables (an outer join, a derived table).
bool flattenInnerJoins(const std::vector<TableRefPtr>& from, std::vector<const NamedTableRef*>& tables,
                       std::vector<const Expr*>& conditions) {
  std::function<bool(const TableRef&)> add = [&](const TableRef& ref) {
    if (ref.is<NamedTableRef>()) {
      tables.push_back(&ref.as<NamedTableRef>());
      return true;
    }
    if (!ref.is<JoinTableRef>()) return false;
    const auto& j = ref.as<JoinTableRef>();
    if (j.type != JoinType::Inner || !add(*j.left) || !add(*j.right)) return false;
    if (j.on) conditions.push_back(j.on.get());
    return true;
  };
  for (const auto& ref : from)
    if (!add(*ref)) return false;
  return true;
}

// `where` and the ON conditions of the FROM list's joins, bound in `scope`.
std::string withJoinConditions(std::string where, Binder& binder, const std::vector<const Expr*>& conditions,
                               const Scope& scope) {
  for (const Expr* on : conditions) {
    std::string c = binder.bindCondition(*on, scope).sql;
    where = where.empty() ? "(" + c + ")" : "(" + where + ") AND (" + c + ")";
  }
  return where;
}

}  // namespace

std::pair<Value, TypeDesc> SessionImpl::columnDefault(const CatalogColumn& c) {
  if (!c.defaultText || c.defaultText->empty()) return {Value{}, c.desc.type};
  // The default is kept as T-SQL text; it is bound afresh so getdate() gives the time of the insert.
  // A column's own DEFAULT keeps its expression; a default bound with sp_bindefault keeps the
  // whole "create default d as expr" statement.
  const std::string& text = *c.defaultText;
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start != std::string::npos && text.size() - start >= 6 &&
      std::equal(text.begin() + static_cast<std::ptrdiff_t>(start), text.begin() + static_cast<std::ptrdiff_t>(start) + 6,
                 "create", [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; })) {
    auto statements = parseBatch(text, parseOptions());
    if (!statements.empty() && statements[0]->is<CreateDefaultStatement>())
      return evaluate(*statements[0]->as<CreateDefaultStatement>().value);
  }
  auto statements = parseBatch("select " + *c.defaultText);
  const auto& sel = statements.at(0)->as<SelectStatement>();
  return evaluate(*sel.core.items.at(0).expr);
}

void SessionImpl::assignVariable(const std::string& name, const Value& v, const TypeDesc& from) {
  Variable* var = findVariable(name);
  if (!var) throw mustDeclare(name);
  var->value = padFixedChar(
      convertValue(v, from, var->type, ConversionKind::Implicit, options_.dateFormat, info_.implicitScaleLoss),
      var->type);
}

void SessionImpl::insertRow(const TableInfo& t, const std::vector<int>& targets,
                            const std::vector<TypeDesc>& sourceTypes, int identityCol,
                            const std::vector<RowRule>& rules, SqlStatement& ins, const std::vector<Value>& r,
                            Value& lastIdentity, IdentityCounter& identities) {
  std::vector<Value> values(t.columns.size());
  std::vector<bool> given(t.columns.size(), false);
  for (size_t k = 0; k < targets.size(); ++k) {
    const CatalogColumn& c = t.columns[targets[k]];
    values[targets[k]] = assignValue(r[k], sourceTypes[k], c.desc.type, c.desc.nullable, info_.implicitScaleLoss);
    given[targets[k]] = true;
  }
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const CatalogColumn& c = t.columns[i];
    if (static_cast<int>(i) == identityCol) {
      if (given[i] && !isNull(values[i])) {
        identities.note(std::get<int64_t>(convertValue(values[i], c.desc.type, makeType(SqlType::Int))));
      } else {
        values[i] = Value{identities.take()};
        values[i] = convertValue(values[i], makeType(SqlType::Int), c.desc.type);
      }
      // @@identity is a numeric(38,0) whatever the identity column's own type.
      if (auto* n = std::get_if<int64_t>(&values[i])) lastIdentity = Decimal{*n, 0};
      if (auto* n = std::get_if<Decimal>(&values[i])) lastIdentity = *n;
      continue;
    }
    if (c.desc.userType == kUserTimestamp && (!given[i] || isNull(values[i]))) {
      // The server fills a timestamp column: a new value for every row it writes.
      values[i] = nextTimestamp();
      continue;
    }
    if (!given[i]) {
      auto [dv, dt] = columnDefault(c);
      values[i] = assignValue(dv, dt, c.desc.type, c.desc.nullable);
    }
    if (isNull(values[i]) && !c.desc.nullable) throw nullNotAllowed(c.desc.name, t);
  }
  verifyRow(t, rules, values, nullptr);
  ins.reset();
  ins.bindAll(values);
  ins.step();
}

void SessionImpl::runInsert(const InsertStatement& s) {
  if (std::shared_ptr<InsertPlan> plan = insertPlan(s))
    if (runPlannedInsert(plan, s)) return;
  beginChainedIfNeeded();
  Binder binder(*this);
  TableInfo t = binder.resolveTable(s.table);
  // Through a view the row goes to its base table; every view column must be a plain column.
  std::optional<ViewTarget> vt;
  std::optional<Permissions::ThroughView> through;
  std::string viewAlias;
  std::vector<int> targets;
  if (t.type == "V") {
    viewAlias = binder.newAlias();
    vt = resolveViewTarget(db_, binder, t, viewAlias, parseOptions());
    for (int b : vt->baseColumn)
      if (b < 0) throw derivedField(t);
    if (!s.columns.empty()) {
      for (const auto& name : s.columns) {
        const CatalogColumn* c = t.findColumn(name);
        if (!c) throw invalidColumn(name);
        targets.push_back(vt->baseColumn[static_cast<size_t>(c - t.columns.data())]);
      }
    } else {
      for (int b : vt->baseColumn)
        if (!vt->base.columns[static_cast<size_t>(b)].identity) targets.push_back(b);
    }
    if (permissions_) through.emplace(*permissions_, unquoted(vt->base.sqliteName), unquoted(t.sqliteName));
    t = vt->base;
  } else if (!s.columns.empty()) {
    for (const auto& name : s.columns) {
      const CatalogColumn* c = t.findColumn(name);
      if (!c) throw invalidColumn(name);
      targets.push_back(static_cast<int>(c - t.columns.data()));
    }
  } else {
    // The target columns: the list given, or every column but the identity.
    for (size_t i = 0; i < t.columns.size(); ++i)
      if (!t.columns[i].identity) targets.push_back(static_cast<int>(i));
  }
  int identityCol = t.identityColumn();
  bool explicitIdentity = false;
  for (int i : targets)
    if (i == identityCol) explicitIdentity = true;
  if (explicitIdentity && !identityInsert_.count(t.id))
    throw SqlError(584, 16,
                   "Explicit value specified for identity field in table '" + t.name +
                       "' when 'SET IDENTITY_INSERT' is OFF.");

  // INSERT ... SELECT streams its source rows into the target as they are read; only a source that
  // reads the target itself is read completely first, so `insert t select * from t` sees no new rows.
  std::string sourceSql;
  std::vector<TypeDesc> sourceTypes;
  std::vector<std::vector<Value>> executed;
  if (s.execute) {
    // insert t exec p: every result set of the procedure must fit the target columns; its rows
    // are converted to the columns' types here, so each set may have its own.
    for (auto& set : collectExecute(*s.execute)) {
      if (set.columns.size() != targets.size())
        throw SqlError(
            213, 16,
            "Insert error: column name or number of supplied values does not match table definition.");
      for (auto& r : set.rows) {
        for (size_t k = 0; k < targets.size(); ++k)
          r[k] = convertValue(r[k], set.columns[k].type, t.columns[targets[k]].desc.type,
                              ConversionKind::Implicit, options_.dateFormat, info_.implicitScaleLoss);
        executed.push_back(std::move(r));
      }
    }
    for (int i : targets) sourceTypes.push_back(t.columns[i].desc.type);
  } else if (s.select) {
    BoundQuery q = binder.bindQuery(*s.select, nullptr);
    sourceSql = q.sql;
    for (const auto& c : q.columns) sourceTypes.push_back(c.type);
  } else {
    Scope scope;
    for (const auto& e : s.values) {
      // A NULL literal (and a `?` marker) takes the type of the column it goes into.
      size_t k = sourceTypes.size();
      BoundExpr b =
          binder.bindHinted(*e, scope, k < targets.size() ? &t.columns[targets[k]].desc.type : nullptr);
      sourceSql += (sourceSql.empty() ? "SELECT " : ", ") + b.sql;
      sourceTypes.push_back(b.isNullLiteral && k < targets.size() ? t.columns[targets[k]].desc.type : b.type);
    }
  }
  if (sourceTypes.size() != targets.size())
    throw SqlError(213, 16,
                   "Insert error: column name or number of supplied values does not match table definition.");

  // '5' into an int column is refused as the family does (257): character data needs convert().
  if (!s.execute)
    for (size_t k = 0; k < targets.size(); ++k) {
      const TypeDesc& to = t.columns[targets[k]].desc.type;
      if (!storableImplicitly(sourceTypes[k].type, to.type))
        throw conversionError(ConversionError::ImplicitNotAllowed, ConversionKind::Implicit, sourceTypes[k].type,
                              to.type);
    }
  std::vector<std::vector<Value>> rows = std::move(executed);
  // A source that reads the target (directly, through a view or a subquery) is read first.
  bool streamed = s.select && !readsTable(db_, sourceSql, unquoted(t.sqliteName));
  auto readRow = [&](SqlStatement& src) {
    std::vector<Value> r;
    r.reserve(sourceTypes.size());
    for (size_t i = 0; i < sourceTypes.size(); ++i)
      r.push_back(columnValue(src.get(), static_cast<int>(i), sourceTypes[i]));
    return r;
  };
  if (!s.execute && !streamed) {
    SqlStatement src(*this, sourceSql);
    src.bindAll(binder.params());
    while (src.step()) {
      checkCancel();
      rows.push_back(readRow(src));
      if (options_.rowCount > 0 && static_cast<int32_t>(rows.size()) >= options_.rowCount) break;
    }
  }

  std::string cols, marks;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    cols += (i ? ", " : "") + Binder::quoteIdent(t.columns[i].sqliteName);
    marks += (i ? ", ?" : "?") + std::to_string(i + 1);
  }
  const int32_t trigger = TriggerFiring::triggerFor(*this, t, TriggerFiring::Event::Insert);
  std::optional<StatementTransaction> tx;
  // One row of values: short, so it may join the batch's group of autocommits.
  if (trigger == 0 && !s.select && !s.execute)
    tx.emplace(*this, t, StatementTransaction::Groupable::Yes);
  else
    tx.emplace(*this, t);
  TriggerFiring firing(*this, t, TriggerFiring::Event::Insert, trigger);
  SqlStatement ins(*this, "INSERT INTO " + t.sqliteName + " (" + cols + ") VALUES (" + marks + ")");
  std::vector<RowRule> rules = rowRules(t);
  // The new rows' foreign keys are tested once all are in: a row may name another of them.
  std::shared_ptr<const TableReferences> references = referencesOf(t);
  const bool childKeys = references && !references->outgoing.empty();
  std::vector<int64_t> added;
  // WITH CHECK OPTION: every new row must be one the view selects.
  std::optional<SqlStatement> qualifies;
  if (vt && vt->checkOption && !vt->where.empty())
    qualifies.emplace(*this,
                      "SELECT 1 FROM " + t.sqliteName + " AS " + viewAlias + " WHERE " + viewAlias +
                          ".rowid = ?1 AND (" + vt->where + ")",
                      SqlStatement::Access::Internal);
  Value lastIdentity;
  IdentityCounter identities(db_, t);
  int32_t inserted = 0;
  auto insertRow = [&](const std::vector<Value>& r) {
    this->insertRow(t, targets, sourceTypes, identityCol, rules, ins, r, lastIdentity, identities);
    if (childKeys) added.push_back(sqlite3_last_insert_rowid(db_));
    if (qualifies) {
      qualifies->reset();
      qualifies->bindAll({Value{static_cast<int64_t>(sqlite3_last_insert_rowid(db_))}});
      if (!qualifies->step()) throw checkOptionFailed();
    }
    ++inserted;
  };
  if (streamed) {
    // Opened inside the statement's transaction, so a failure on any row keeps none of them.
    SqlStatement src(*this, sourceSql);
    src.bindAll(binder.params());
    while ((options_.rowCount <= 0 || inserted < options_.rowCount) && src.step()) {
      checkCancel();
      insertRow(readRow(src));
    }
  } else {
    for (const auto& r : rows) {
      checkCancel();
      insertRow(r);
    }
  }
  identities.flush();
  if (childKeys) checkChildRows(*references, added, nullptr);
  std::vector<bool> given(t.columns.size(), false);
  for (int i : targets) given[static_cast<size_t>(i)] = true;
  firing.setColumnsSet(std::move(given));
  // A trigger that rolled the transaction back leaves nothing inserted.
  if (firing.fire(inserted)) inserted = 0;
  tx->commit();
  // An insert into a table without an identity column sets @@identity to 0.
  if (identityCol < 0)
    identity_ = Decimal{0, 0};
  else if (!isNull(lastIdentity))
    identity_ = lastIdentity;
  rowCount_ = inserted;
  done(false, rowCount_);
}

InsertPlan::InsertPlan() = default;
InsertPlan::~InsertPlan() = default;

namespace {

// The insert plans a session keeps at most (past it they are made again as needed).
constexpr size_t kKeptInsertPlans = 64;

// What an insert plan is kept by: the table name and the column list as the statement writes them.
std::string insertPlanKey(const InsertStatement& s) {
  std::string key;
  for (const std::string* part : {&s.table.database, &s.table.owner, &s.table.name}) {
    key += *part;
    key += '\x1f';
  }
  key += std::to_string(s.values.size());
  for (const std::string& c : s.columns) {
    key += '\x1f';
    key += c;
  }
  return key;
}

}  // namespace

std::shared_ptr<InsertPlan> SessionImpl::insertPlan(const InsertStatement& s) {
  // A describe only binds (its `?` markers learn their types on the full path).
  if (describing_ || s.execute || s.select || s.values.empty()) return nullptr;
  for (const auto& e : s.values)
    if (!Binder::isPlainValue(*e)) return nullptr;
  std::string key = insertPlanKey(s);
  // The count is read before the catalogue: a change made while the plan is made moves it again.
  const uint64_t stamp = catalogStamp();
  if (auto it = insertPlans_.find(key); it != insertPlans_.end()) {
    const InsertPlan& kept = *it->second;
    if (kept.stamp == stamp && kept.database == database_ && kept.user == user_)
      return kept.planned ? it->second : nullptr;
    insertPlans_.erase(it);
  }
  auto plan = std::make_shared<InsertPlan>();
  plan->stamp = stamp;
  plan->database = database_;
  plan->user = user_;
  try {
    Binder binder(*this);
    TableInfo t = binder.resolveTable(s.table);
    // Views take the full path; so do column lists that do not fit, which it reports.
    bool fits = t.type != "V";
    if (fits && !s.columns.empty()) {
      for (const auto& name : s.columns) {
        const CatalogColumn* c = t.findColumn(name);
        if (!c) {
          fits = false;
          break;
        }
        plan->targets.push_back(static_cast<int>(c - t.columns.data()));
      }
    } else if (fits) {
      for (size_t i = 0; i < t.columns.size(); ++i)
        if (!t.columns[i].identity) plan->targets.push_back(static_cast<int>(i));
    }
    if (fits && plan->targets.size() == s.values.size()) {
      plan->identityColumn = t.identityColumn();
      for (int i : plan->targets)
        if (i == plan->identityColumn) plan->explicitIdentity = true;
      plan->rules = rowRules(t);
      plan->references = referencesOf(t);
      plan->triggerId = TriggerFiring::triggerFor(*this, t, TriggerFiring::Event::Insert);
      std::string cols, marks;
      for (size_t i = 0; i < t.columns.size(); ++i) {
        cols += (i ? ", " : "") + Binder::quoteIdent(t.columns[i].sqliteName);
        marks += (i ? ", ?" : "?") + std::to_string(i + 1);
      }
      plan->insertSql = "INSERT INTO " + t.sqliteName + " (" + cols + ") VALUES (" + marks + ")";
      plan->table = std::move(t);
      plan->planned = true;
    }
  } catch (const SqlError&) {
    // The full path reports the error (a table that is not there ...); nothing is kept, so the
    // next statement looks again.
    return nullptr;
  }
  if (insertPlans_.size() >= kKeptInsertPlans) insertPlans_.clear();
  insertPlans_.emplace(std::move(key), plan);
  return plan->planned ? plan : nullptr;
}

bool SessionImpl::runPlannedInsert(const std::shared_ptr<InsertPlan>& plan, const InsertStatement& s) {
  const TableInfo& t = plan->table;
  // Each value as the full path computes it, without SQL of its own.
  Binder binder(*this);
  const size_t n = plan->targets.size();
  std::vector<Value> row(n);
  std::vector<TypeDesc> sourceTypes(n);
  beginChainedIfNeeded();
  if (plan->explicitIdentity && !identityInsert_.count(t.id))
    throw SqlError(584, 16,
                   "Explicit value specified for identity field in table '" + t.name +
                       "' when 'SET IDENTITY_INSERT' is OFF.");
  std::vector<PlainValue> values;
  values.reserve(n);
  for (size_t k = 0; k < n; ++k) {
    std::optional<PlainValue> v = binder.bindPlainValue(*s.values[k], &t.columns[plan->targets[k]].desc.type);
    if (!v) return false;
    values.push_back(std::move(*v));
  }
  for (size_t k = 0; k < n; ++k) {
    const TypeDesc& to = t.columns[plan->targets[k]].desc.type;
    PlainValue& v = values[k];
    // A NULL literal takes the type of the column it goes into.
    sourceTypes[k] = v.isNullLiteral ? to : v.type;
    // '5' into an int column is refused as the family does (257): character data needs convert().
    if (!storableImplicitly(sourceTypes[k].type, to.type))
      throw conversionError(ConversionError::ImplicitNotAllowed, ConversionKind::Implicit, sourceTypes[k].type,
                            to.type);
    row[k] = std::move(v.value);
  }
  checkCancel();
  Value lastIdentity;
  bool rolledBack = false;
  try {
    std::optional<StatementTransaction> tx;
    if (plan->triggerId == 0)
      tx.emplace(*this, t, StatementTransaction::Groupable::Yes);
    else
      tx.emplace(*this, t);
    TriggerFiring firing(*this, t, TriggerFiring::Event::Insert, plan->triggerId);
    SqlStatement ins(*this, plan->insertSql);
    IdentityCounter identities(db_, t);
    insertRow(t, plan->targets, sourceTypes, plan->identityColumn, plan->rules, ins, row, lastIdentity, identities);
    if (plan->references && !plan->references->outgoing.empty())
      checkChildRows(*plan->references, {sqlite3_last_insert_rowid(db_)}, nullptr);
    identities.flush();
    std::vector<bool> given(t.columns.size(), false);
    for (int i : plan->targets) given[static_cast<size_t>(i)] = true;
    firing.setColumnsSet(std::move(given));
    if (firing.fire(1)) rolledBack = true;
    tx->commit();
  } catch (...) {
    // A failed insert plans afresh next time: the failure may come from a catalogue the plan no
    // longer matches.
    std::string key = insertPlanKey(s);
    if (auto it = insertPlans_.find(key); it != insertPlans_.end() && it->second == plan) insertPlans_.erase(it);
    throw;
  }
  if (plan->identityColumn < 0)
    identity_ = Decimal{0, 0};
  else if (!isNull(lastIdentity))
    identity_ = lastIdentity;
  rowCount_ = rolledBack ? 0 : 1;
  done(false, rowCount_);
  return true;
}

// What an UPDATE or DELETE changes: the table it names (or, through a view, the view's base table
// and the view's rows), its alias, and the other tables of its FROM list with their join conditions.
struct ChangeTarget {
  TableInfo named;  // the table or view the statement names
  TableInfo t;      // the table whose rows change
  std::string alias;
  Scope scope;
  std::optional<ViewTarget> vt;
  std::optional<Permissions::ThroughView> through;
  std::string fromSql;  // the other tables of the FROM list, "t2 AS a2, t3 AS a3"
  std::vector<const Expr*> joinConditions;
};

void SessionImpl::resolveChangeTarget(Binder& binder, const ObjectName& table, const std::vector<TableRefPtr>& from,
                                      const char* statement, ChangeTarget& out) {
  out.t = storage::changedRowsOf(binder.resolveTable(table));
  out.named = out.t;
  out.alias = binder.newAlias();
  // Through a view the statement sees the view's columns and changes the base rows it selects.
  if (out.t.type == "V") {
    out.vt = resolveViewTarget(db_, binder, out.t, out.alias, parseOptions());
    out.scope.sources.push_back(out.vt->source);
    if (permissions_)
      out.through.emplace(*permissions_, unquoted(out.vt->base.sqliteName), unquoted(out.t.sqliteName));
    out.t = out.vt->base;
  } else {
    out.scope.sources.push_back(Binder::sourceFor(out.t, {}, out.alias));
  }
  // `update t set ... from t, u where ...`: the FROM item naming the target is the target itself.
  std::vector<const NamedTableRef*> fromTables;
  if (!flattenInnerJoins(from, fromTables, out.joinConditions))
    throw notSupported(std::string(statement) + " with an outer join or a derived table in its FROM");
  for (const NamedTableRef* ref : fromTables) {
    const auto& n = *ref;
    TableInfo other = binder.resolveTable(n.name);
    if (other.id == out.named.id && other.database == out.named.database) {
      if (!n.alias.empty()) out.scope.sources[0].exposed = n.alias;
      continue;
    }
    std::string a = binder.newAlias();
    out.scope.sources.push_back(Binder::sourceFor(other, n.alias, a));
    out.fromSql += (out.fromSql.empty() ? "" : ", ") + other.sqliteName + " AS " + a;
  }
}

void SessionImpl::runUpdate(const UpdateStatement& s) {
  beginChainedIfNeeded();
  Binder binder(*this);
  ChangeTarget target;
  resolveChangeTarget(binder, s.table, s.from, "UPDATE", target);
  const TableInfo& named = target.named;
  const TableInfo& t = target.t;
  const std::string& alias = target.alias;
  Scope& scope = target.scope;
  const std::optional<ViewTarget>& vt = target.vt;
  const std::string& fromSql = target.fromSql;
  const std::vector<const Expr*>& joinConditions = target.joinConditions;

  std::string sets;
  std::vector<bool> changed(t.columns.size(), false);
  for (const auto& a : s.assignments) {
    if (!a.column.empty() && a.column[0] == '@') throw notSupported("Assigning a variable in UPDATE");
    const CatalogColumn* c = nullptr;
    if (vt) {
      const CatalogColumn* v = named.findColumn(a.column);
      if (!v) throw invalidColumn(a.column);
      int b = vt->baseColumn[static_cast<size_t>(v - named.columns.data())];
      if (b < 0) throw derivedField(named);
      c = &t.columns[static_cast<size_t>(b)];
    } else {
      c = t.findColumn(a.column);
      if (!c) throw invalidColumn(a.column);
    }
    if (c->identity)
      throw SqlError(4406, 16, "Column '" + c->desc.name + "' is an identity column and cannot be updated.");
    BoundExpr v = binder.bindHinted(*a.value, scope, &c->desc.type);
    if (!v.isNullLiteral && !storableImplicitly(v.type.type, c->desc.type.type))
      throw conversionError(ConversionError::ImplicitNotAllowed, ConversionKind::Implicit, v.type.type,
                            c->desc.type.type);
    if (v.isNullLiteral && !c->desc.nullable) throw nullNotAllowed(c->desc.name, t);
    changed[static_cast<size_t>(c - t.columns.data())] = true;
    sets += (sets.empty() ? "" : ", ") + Binder::quoteIdent(c->sqliteName) + " = " +
            Binder::assignSql(v, c->desc.type, c->desc.nullable);
  }
  // Every row an UPDATE changes gets a new value in its timestamp column.
  for (const CatalogColumn& c : t.columns)
    if (c.desc.userType == kUserTimestamp && !changed[static_cast<size_t>(&c - t.columns.data())])
      sets += ", " + Binder::quoteIdent(c.sqliteName) + " = t_timestamp()";
  std::string where = !s.currentOf.empty() ? currentOfCondition(s.currentOf, t, alias)
                      : s.where            ? binder.bindCondition(*s.where, scope).sql
                                           : "";
  where = bothConditions(withJoinConditions(where, binder, joinConditions, scope), vt ? &*vt : nullptr);
  std::string sql = "UPDATE " + t.sqliteName + " AS " + alias + " SET " + sets;
  if (!fromSql.empty()) sql += " FROM " + fromSql;
  std::string cond = where;
  std::string pick = rowSelection(t, alias, fromSql.empty() ? "" : ", " + fromSql, where, options_.rowCount);
  // set rowcount limits the rows an UPDATE touches.
  if (options_.rowCount > 0) cond = alias + ".rowid IN (" + pick + ")";
  if (!cond.empty()) sql += " WHERE " + cond;
  StatementTransaction tx(*this, t);
  TriggerFiring firing(*this, t, TriggerFiring::Event::Update);
  std::vector<RowRule> rules = rowRules(t);
  std::vector<int64_t> touched;
  bool checkView = vt && vt->checkOption && !vt->where.empty();
  // Foreign keys: the changed rows' own keys must find their parents afterwards, and a parent key
  // changed may not leave child rows behind (its old values are noted first).
  std::shared_ptr<const TableReferences> references = referencesOf(t);
  bool childKeys = false;
  ParentKeys parentKeys;
  if (references) {
    for (const ForeignKey& k : references->outgoing)
      for (int i : k.childIndexes) childKeys = childKeys || changed[static_cast<size_t>(i)];
    captureParentKeys(*references, pick, binder.params(), &changed, parentKeys);
  }
  if (!rules.empty() || checkView || childKeys) {
    // The rows are noted before they change, so their new values can be tested afterwards.
    SqlStatement q(*this, "SELECT DISTINCT rowid FROM (" + pick + ")", SqlStatement::Access::Internal);
    q.bindAll(binder.params());
    while (q.step()) touched.push_back(sqlite3_column_int64(q.get(), 0));
  }
  SqlStatement st(*this, sql);
  st.bindAll(binder.params());
  while (st.step()) {
  }
  int32_t rows = sqlite3_changes(db_);
  if (!rules.empty()) {
    std::string cols;
    for (size_t i = 0; i < t.columns.size(); ++i) cols += (i ? ", " : "") + Binder::quoteIdent(t.columns[i].sqliteName);
    SqlStatement row(*this, "SELECT " + cols + " FROM " + t.sqliteName + " WHERE rowid = ?1",
                     SqlStatement::Access::Internal);
    for (int64_t id : touched) {
      row.reset();
      row.bindAll({Value{id}});
      if (!row.step()) continue;
      std::vector<Value> values;
      for (size_t i = 0; i < t.columns.size(); ++i)
        values.push_back(columnValue(row.get(), static_cast<int>(i), t.columns[i].desc.type));
      verifyRow(t, rules, values, &changed);
    }
  }
  if (childKeys) checkChildRows(*references, touched, &changed);
  checkParentKeys(parentKeys);
  if (checkView) {
    // WITH CHECK OPTION: no changed row may leave the view.
    SqlStatement qualifies(*this,
                           "SELECT 1 FROM " + t.sqliteName + " AS " + alias + " WHERE " + alias +
                               ".rowid = ?1 AND (" + vt->where + ")",
                           SqlStatement::Access::Internal);
    for (int64_t id : touched) {
      qualifies.reset();
      qualifies.bindAll({Value{id}});
      if (!qualifies.step()) throw checkOptionFailed();
    }
  }
  firing.setColumnsSet(changed);
  if (firing.fire(rows)) rows = 0;
  tx.commit();
  rowCount_ = rows;
  done(false, rows);
}

void SessionImpl::runDelete(const DeleteStatement& s) {
  beginChainedIfNeeded();
  Binder binder(*this);
  ChangeTarget target;
  resolveChangeTarget(binder, s.table, s.from, "DELETE", target);
  const TableInfo& t = target.t;
  const std::string& alias = target.alias;
  Scope& scope = target.scope;
  const std::optional<ViewTarget>& vt = target.vt;
  const std::string fromSql = target.fromSql.empty() ? "" : ", " + target.fromSql;
  const std::vector<const Expr*>& joinConditions = target.joinConditions;
  std::string where = !s.currentOf.empty() ? currentOfCondition(s.currentOf, t, alias)
                      : s.where            ? binder.bindCondition(*s.where, scope).sql
                                           : "";
  where = bothConditions(withJoinConditions(where, binder, joinConditions, scope), vt ? &*vt : nullptr);
  std::string sql = "DELETE FROM " + t.sqliteName + " AS " + alias;
  const std::string pick = rowSelection(t, alias, fromSql, where, options_.rowCount);
  if (!fromSql.empty() || options_.rowCount > 0) {
    sql += " WHERE " + alias + ".rowid IN (" + pick + ")";
  } else if (!where.empty()) {
    sql += " WHERE " + where;
  }
  StatementTransaction tx(*this, t);
  TriggerFiring firing(*this, t, TriggerFiring::Event::Delete);
  // A parent row may not go while a child row (not deleted with it) names its key.
  ParentKeys parentKeys;
  if (std::shared_ptr<const TableReferences> references = referencesOf(t))
    captureParentKeys(*references, pick, binder.params(), nullptr, parentKeys);
  SqlStatement st(*this, sql);
  st.bindAll(binder.params());
  while (st.step()) {
  }
  int32_t rows = sqlite3_changes(db_);
  checkParentKeys(parentKeys);
  if (firing.fire(rows)) rows = 0;
  tx.commit();
  rowCount_ = rows;
  done(false, rows);
}

void SessionImpl::runTruncate(const TruncateStatement& s) {
  Binder binder(*this);
  TableInfo t = binder.resolveTable(s.table);
  refuseView(t);
  requireOwnerOf("TRUNCATE TABLE", t);
  StatementTransaction tx(*this, t);
  ParentKeys parentKeys;
  if (std::shared_ptr<const TableReferences> references = referencesOf(t))
    captureParentKeys(*references, "SELECT rowid FROM " + t.sqliteName, {}, nullptr, parentKeys);
  execSql("DELETE FROM " + t.sqliteName);
  checkParentKeys(parentKeys);
  tx.commit();
  rowCount_ = 0;
  done(false, -1);
}

}  // namespace tabsrv
