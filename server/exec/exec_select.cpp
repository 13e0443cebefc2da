// SELECT: result sets with the binder's column formats, `set rowcount`, fmtonly, assignment
// selects (`select @v = x from t`: the last row wins, no result set) and SELECT INTO.
#include <functional>
#include <utility>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/type_rules.h"
#include "server/types/convert.h"
#include "server/types/sqlite_value.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

// Integer results computed by SQLite in 64 bits must still fit the bound type.
void checkIntegerRange(const Value& v, const TypeDesc& t) {
  if (!std::holds_alternative<int64_t>(v)) return;
  int64_t x = std::get<int64_t>(v);
  int64_t lo = 0, hi = 0;
  switch (t.type) {
    case SqlType::Int:
      lo = INT32_MIN;
      hi = INT32_MAX;
      break;
    case SqlType::SmallInt:
      lo = INT16_MIN;
      hi = INT16_MAX;
      break;
    case SqlType::TinyInt:
      lo = 0;
      hi = 255;
      break;
    default:
      return;
  }
  if (x < lo || x > hi) throw SqlError(3606, 16, "Arithmetic overflow occurred.");
}

}  // namespace

void SessionImpl::runSelect(const SelectStatement& s) {
  if (!s.computes.empty()) return runSelectWithCompute(s);
  beginChainedIfNeeded();
  // A batch run from a kept shape comes bound; a batch that may be kept records its binding.
  const std::optional<PreBound> pre = std::exchange(preBound_, std::nullopt);
  ShapeRecording* recording = std::exchange(shapeRecording_, nullptr);
  if (pre) return runBoundSelect(*pre->query, *pre->params);
  Binder binder(*this);
  // The same select with other constants in its WHERE reuses the kept SQLite statement.
  binder.setLiteralParams(true);
  if (recording) binder.recordLiterals(&recording->uses);
  BoundQuery q = binder.bindQuery(s, nullptr);
  binder.recordLiterals(nullptr);
  if (recording) recording->bound = BoundSelect{q, binder.params()};
  runBoundSelect(q, binder.params());
}

void SessionImpl::runBoundSelect(const BoundQuery& q, const std::vector<Value>& params) {
  bool assignment = !q.assignTo.empty() && !q.assignTo[0].empty();
  if (options_.fmtOnly) {
    if (!assignment) sink_->rowFormat(q.columns);
    done(false, -1);
    return;
  }
  SqlStatement st(*this, q.sql);
  st.bindAll(params);
  int32_t rows = 0;
  if (assignment) {
    // Every row is read; the variables keep the values of the last one.
    std::vector<Value> last;
    while (st.step()) {
      checkCancel();
      last.clear();
      for (size_t i = 0; i < q.columns.size(); ++i)
        last.push_back(columnValue(st.get(), static_cast<int>(i), q.columns[i].type));
      ++rows;
      if (options_.rowCount > 0 && rows >= options_.rowCount) break;
    }
    if (!last.empty())
      for (size_t i = 0; i < q.columns.size(); ++i) assignVariable(q.assignTo[i], last[i], q.columns[i].type);
    rowCount_ = rows;
    done(false, rows);
    return;
  }
  sink_->rowFormat(q.columns);
  // One row of Values reused for every row: a text column keeps its string's storage.
  std::vector<Value> row(q.columns.size());
  while (!(options_.rowCount > 0 && rows >= options_.rowCount) && st.step()) {
    checkCancel();
    for (size_t i = 0; i < q.columns.size(); ++i) {
      readColumnValue(st.get(), static_cast<int>(i), q.columns[i].type, row[i]);
      checkIntegerRange(row[i], q.columns[i].type);
    }
    sink_->row(row);
    ++rows;
  }
  rowCount_ = rows;
  done(false, rows);
}

void SessionImpl::runSelectInto(const SelectStatement& s) {
  Binder binder(*this);
  binder.setIdentityFunction(true);
  BoundQuery q = binder.bindQuery(s, nullptr);
  const ObjectName& into = s.core.into;
  // The select-list columns that are identity(n): their values are numbered 1, 2, 3 ... below.
  std::vector<bool> numbered(q.columns.size(), false);
  int identities = 0;
  for (size_t i = 0, col = 0; i < s.core.items.size() && col < q.columns.size(); ++i) {
    const Expr& e = *s.core.items[i].expr;
    if (e.is<StarExpr>()) {
      col = q.columns.size();  // a star's columns are plain ones; an identity() after it is refused
      continue;
    }
    if (e.is<FunctionExpr>() && e.as<FunctionExpr>().name == "identity") {
      numbered[col] = true;
      ++identities;
    }
    ++col;
  }
  if (identities > 1) throw SqlError(2739, 16, "A table can have only one identity column.");
  // A source identity column selected as it stands stays an identity column of the new table,
  // as on the family's servers, unless another column is numbered with identity(), the column is
  // selected twice, or the select joins, unions, groups or aggregates.
  int inherited = -1;
  bool plainSource = identities == 0 && s.unions.empty() && s.core.from.size() == 1 &&
                     s.core.from[0]->is<NamedTableRef>() && s.core.groupBy.empty() && !s.core.groupByAll &&
                     !s.core.having;
  // An aggregate anywhere in the select list (not inside a subquery) makes it an aggregate query.
  std::function<bool(const Expr&)> aggregates = [&](const Expr& e) {
    if (e.is<FunctionExpr>() && isAggregateName(e.as<FunctionExpr>().name)) return true;
    bool found = false;
    forEachChild(e, [&](const Expr& child) { found = found || aggregates(child); });
    return found;
  };
  for (const auto& item : s.core.items)
    if (aggregates(*item.expr)) plainSource = false;
  for (size_t i = 0; plainSource && i < q.columns.size(); ++i) {
    if (!q.columns[i].identity) continue;
    if (inherited >= 0) {
      inherited = -1;
      break;
    }
    inherited = static_cast<int>(i);
  }
  TableSpec details;
  bool temp = !into.name.empty() && into.name[0] == '#';
  details.database = temp ? "tempdb" : (into.database.empty() ? database_ : into.database);
  details.owner = temp ? "dbo" : (into.owner.empty() ? user_ : into.owner);
  details.name = temp ? newTempTableName(into.name) : into.name;
  if (!databaseExists(db_, details.database)) throw unknownDatabase(details.database);
  if (!temp) {
    permissions_->requireCreate(details.database, kActionCreateTable, "CREATE TABLE");
    permissions_->requireOwner("CREATE TABLE", details.database, details.owner, details.name);
  }
  for (size_t i = 0; i < q.columns.size(); ++i) {
    const ColumnDesc& c = q.columns[i];
    if (c.name.empty())
      throw SqlError(
          166, 15,
          "SELECT INTO requires a name for column " + std::to_string(i + 1) + " of the select list.");
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = c.type;
    cs.nullable = c.nullable;
    if (numbered[i] || static_cast<int>(i) == inherited) {
      cs.identity = true;
      cs.nullable = false;
    }
    details.columns.push_back(std::move(cs));
  }
  StatementTransaction tx(*this, temp ? std::string() : details.database);
  TableInfo t = temp ? createTempTable(details, into.name) : createTable(db_, details);
  std::string cols, sel;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    cols += (i ? ", " : "") + Binder::quoteIdent(t.columns[i].sqliteName);
    BoundExpr e;
    e.sql = numbered[i] ? std::string("row_number() OVER ()") : "q.\"c" + std::to_string(i + 1) + "\"";
    e.type = numbered[i] ? makeType(SqlType::Int) : q.columns[i].type;
    sel += (i ? ", " : "") + Binder::assignSql(e, t.columns[i].desc.type, t.columns[i].desc.nullable);
  }
  std::string sql =
      "INSERT INTO " + t.sqliteName + " (" + cols + ") SELECT " + sel + " FROM (" + q.sql + ") AS q";
  if (options_.rowCount > 0) sql += " LIMIT " + std::to_string(options_.rowCount);
  SqlStatement st(*this, sql);
  st.bindAll(binder.params());
  st.step();
  int32_t rows = sqlite3_changes(db_);
  // The next insert continues after the numbered rows.
  if (identities > 0 && rows > 0) noteIdentity(db_, t, rows);
  if (inherited >= 0 && rows > 0) {
    // The copied values stay; the next insert continues after the largest.
    // (A numeric identity may be stored as decimal text: compare numbers, not texts.)
    SqlStatement top(*this, "SELECT max(CAST(" +
                                Binder::quoteIdent(t.columns[static_cast<size_t>(inherited)].sqliteName) +
                                " AS INTEGER)) FROM " + t.sqliteName);
    if (top.step() && sqlite3_column_type(top.get(), 0) != SQLITE_NULL)
      noteIdentity(db_, t, sqlite3_column_int64(top.get(), 0));
  }
  tx.commit();
  if (temp) rememberTempTable(details.name);
  rowCount_ = rows;
  done(false, rows);
}

}  // namespace tabsrv
