// COMPUTE and COMPUTE BY: the rows of the query go out as usual and, after the last row of each
// group, one compute row per clause (`select type, price from titles order by type compute
// sum(price) by type`). Each clause's aggregates are computed by SQLite over the query's own
// rows, grouped by the clause's BY columns, and merged into the row stream by group key.
#include <algorithm>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/types/convert.h"
#include "server/types/sqlite_value.h"

namespace tabsrv {

using namespace tsql;

namespace {

// The wire codes of the aggregate operators.
uint8_t operatorCode(const std::string& lowerName) {
  if (lowerName == "count") return 0x4B;
  if (lowerName == "sum") return 0x4D;
  if (lowerName == "avg") return 0x4F;
  if (lowerName == "min") return 0x51;
  if (lowerName == "max") return 0x52;
  return 0;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// One COMPUTE clause: its wire id, BY columns (0-based select-list positions), aggregate
// formats, the results per group key and the key of the group now streaming.
struct Clause {
  uint16_t id = 0;
  std::vector<int> by;
  std::vector<ComputeColumn> columns;
  std::map<std::string, std::vector<Value>> results;
  std::optional<std::string> current;
};

// A group key: the texts of the BY values (NULL apart from every text).
std::string keyOf(const std::vector<Value>& row, const std::vector<int>& by,
                  const std::vector<ColumnDesc>& cols) {
  std::string key;
  for (int i : by) {
    const Value& v = row[static_cast<size_t>(i)];
    key += isNull(v) ? std::string("\x01N") : "\x01V" + valueToText(v, cols[static_cast<size_t>(i)].type);
  }
  return key;
}

}  // namespace

void SessionImpl::runSelectWithCompute(const SelectStatement& s) {
  if (!s.core.into.empty()) throw SqlError(102, 15, "COMPUTE cannot be used with SELECT INTO.");
  beginChainedIfNeeded();
  Binder binder(*this);
  BoundQuery q = binder.bindQuery(s, nullptr);
  if (!q.assignTo.empty() && !q.assignTo[0].empty())
    throw SqlError(102, 15, "COMPUTE cannot be used with a SELECT that assigns variables.");
  const size_t queryParams = binder.params().size();

  // Where an expression of a COMPUTE clause is in the select list (0-based).
  auto position = [&](const Expr& e, size_t clause, size_t item) -> int {
    if (e.kind == ExprKind::ColumnRef) {
      const std::string& name = e.as<ColumnRefExpr>().column;
      for (size_t i = 0; i < q.columns.size(); ++i)
        if (q.columns[i].name == name) return static_cast<int>(i);
    }
    bool star = false;
    for (const auto& it : s.core.items) star = star || !it.expr || it.expr->kind == ExprKind::Star;
    if (!star) {
      std::string text = lower(e.toSql());
      for (size_t i = 0; i < s.core.items.size(); ++i)
        if (lower(s.core.items[i].expr->toSql()) == text) return static_cast<int>(i);
    }
    throw SqlError(8120, 16,
                   "COMPUTE clause #" + std::to_string(clause + 1) + ", expression #" +
                       std::to_string(item + 1) + " is not in the select list.");
  };

  // The query's rows as a derived table whose columns are c1 .. cN.
  Scope derived;
  ScopeSource src;
  src.exposed = "q";
  src.sqlAlias = "q";
  for (size_t i = 0; i < q.columns.size(); ++i)
    src.columns.push_back({"c" + std::to_string(i + 1), q.columns[i].type, q.columns[i].nullable, false,
                           "q.\"c" + std::to_string(i + 1) + "\""});
  derived.sources.push_back(src);

  std::vector<Clause> clauses;
  for (size_t k = 0; k < s.computes.size(); ++k) {
    const ComputeClause& cc = s.computes[k];
    Clause c;
    c.id = static_cast<uint16_t>(k + 1);
    for (size_t b = 0; b < cc.by.size(); ++b) c.by.push_back(position(*cc.by[b], k, b));
    std::string groupSql;
    for (int b : c.by)
      groupSql += (groupSql.empty() ? "" : ", ") + std::string("q.\"c") + std::to_string(b + 1) + "\"";
    std::string aggSql;
    for (size_t a = 0; a < cc.aggregates.size(); ++a) {
      const Expr& e = *cc.aggregates[a];
      if (e.kind != ExprKind::Function || !operatorCode(lower(e.as<FunctionExpr>().name)))
        throw SqlError(
            8121, 16,
            "COMPUTE clause #" + std::to_string(k + 1) + " may only hold sum, count, avg, min and max.");
      const auto& f = e.as<FunctionExpr>();
      if (f.args.size() != 1 || f.star)
        throw SqlError(8121, 16, "COMPUTE aggregates take one select-list column.");
      int operand = position(*f.args[0], k, a);
      FunctionExpr rewritten;
      rewritten.name = f.name;
      rewritten.distinct = f.distinct;
      auto ref = std::make_unique<ColumnRefExpr>();
      ref->column = "c" + std::to_string(operand + 1);
      rewritten.args.push_back(std::move(ref));
      BoundExpr bound = binder.bindExpr(rewritten, derived);
      ComputeColumn col;
      col.desc.type = bound.type;
      col.desc.nullable = true;
      col.op = operatorCode(lower(f.name));
      col.operand = static_cast<uint8_t>(operand + 1);
      c.columns.push_back(col);
      aggSql += (aggSql.empty() ? "" : ", ") + bound.sql;
    }
    // One row per group: the BY values, then the aggregates.
    std::string sql = "SELECT " + (groupSql.empty() ? "" : groupSql + ", ") + aggSql + " FROM (" + q.sql +
                      ") AS q" + (groupSql.empty() ? "" : " GROUP BY " + groupSql);
    if (!options_.fmtOnly) {
      SqlStatement st(*this, sql);
      st.bindAll(binder.params());
      while (st.step()) {
        checkCancel();
        std::vector<Value> byValues(q.columns.size());
        for (size_t b = 0; b < c.by.size(); ++b)
          byValues[static_cast<size_t>(c.by[b])] =
              columnValue(st.get(), static_cast<int>(b), q.columns[static_cast<size_t>(c.by[b])].type);
        std::vector<Value> values;
        for (size_t a = 0; a < c.columns.size(); ++a)
          values.push_back(columnValue(st.get(), static_cast<int>(c.by.size() + a), c.columns[a].desc.type));
        c.results[keyOf(byValues, c.by, q.columns)] = std::move(values);
      }
    }
    clauses.push_back(std::move(c));
  }

  sink_->rowFormat(q.columns);
  for (const Clause& c : clauses) {
    std::vector<uint8_t> by;
    for (int b : c.by) by.push_back(static_cast<uint8_t>(b + 1));
    sink_->computeFormat(c.id, c.columns, by);
  }
  if (options_.fmtOnly) {
    done(false, -1);
    return;
  }
  // At a group's end the innermost clauses (longest BY lists) report first, the grand total last.
  std::vector<Clause*> order;
  for (Clause& c : clauses) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(),
                   [](const Clause* a, const Clause* b) { return a->by.size() > b->by.size(); });
  // The statement's row count counts compute rows as well, as the family does: five rows in two
  // groups of `compute sum(price) by type` are "(7 rows affected)".
  int32_t rows = 0;
  auto flush = [&](Clause& c) {
    if (!c.current) return;
    auto it = c.results.find(*c.current);
    if (it != c.results.end()) {
      sink_->computeRow(c.id, it->second);
      ++rows;
    }
    c.current.reset();
  };

  SqlStatement st(*this, q.sql);
  std::vector<Value> params(binder.params().begin(),
                            binder.params().begin() + static_cast<long>(queryParams));
  st.bindAll(params);
  std::vector<Value> row;
  while (st.step()) {
    checkCancel();
    row.clear();
    for (size_t i = 0; i < q.columns.size(); ++i)
      row.push_back(columnValue(st.get(), static_cast<int>(i), q.columns[i].type));
    // A changed BY key ends that clause's group, inner clauses first.
    for (Clause* c : order) {
      if (c->by.empty()) continue;
      std::string key = keyOf(row, c->by, q.columns);
      if (c->current && *c->current != key) flush(*c);
    }
    for (Clause* c : order) {
      if (!c->current) c->current = keyOf(row, c->by, q.columns);
    }
    sink_->row(row);
    ++rows;
  }
  // After the last row every group ends; a clause without BY reports even for no rows.
  for (Clause* c : order) {
    if (c->by.empty() && !c->current) c->current = std::string();
    flush(*c);
  }
  rowCount_ = rows;
  done(false, rows);
}

}  // namespace tabsrv
