// Binding and SQLite generation for queries: FROM items and joins (including the old outer-join
// operators *= and =*), select lists with * expansion, WHERE, GROUP BY, HAVING, UNION, ORDER BY.
#include <algorithm>
#include <set>
#include <utility>

#include "server/exec/binder.h"
#include "server/exec/errors.h"
#include "server/exec/type_rules.h"
#include "server/types/convert.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

// Splits a WHERE condition into its top-level AND terms.
void conjuncts(const Expr* e, std::vector<const Expr*>& out) {
  if (!e) return;
  if (e->is<BinaryExpr>() && e->as<BinaryExpr>().op == BinaryOp::And) {
    conjuncts(e->as<BinaryExpr>().left.get(), out);
    conjuncts(e->as<BinaryExpr>().right.get(), out);
    return;
  }
  out.push_back(e);
}

// The FROM items (by index) whose columns an expression mentions; -1 when a column belongs to
// an outer query or cannot be placed.
void itemsOf(const Expr& e, const Scope& scope, const std::vector<int>& itemOfSource, std::set<int>& out) {
  if (e.is<ColumnRefExpr>()) {
    const auto& c = e.as<ColumnRefExpr>();
    int hit = -1;
    for (size_t i = 0; i < scope.sources.size(); ++i) {
      const auto& s = scope.sources[i];
      if (!c.table.empty() && c.table.name != s.exposed && c.table.name != s.table) continue;
      for (const auto& col : s.columns)
        if (col.name == c.column) hit = itemOfSource[i];
    }
    out.insert(hit);
    return;
  }
  forEachChild(e, [&](const Expr& child) { itemsOf(child, scope, itemOfSource, out); });
}

ColumnDesc columnOf(const BoundExpr& b, const std::string& name) {
  ColumnDesc c;
  c.name = name;
  c.type = b.type;
  c.nullable = b.nullable;
  c.identity = b.identity;
  c.userType = userTypeOf(b.type.type);
  if (b.type.type == SqlType::Text || b.type.type == SqlType::Image) c.tableName = b.table;
  return c;
}

}  // namespace

std::string Binder::bindFromItem(const TableRef& ref, Scope& scope) {
  switch (ref.kind) {
    case TableRefKind::Named: {
      const auto& n = ref.as<NamedTableRef>();
      TableInfo t = resolveTable(n.name);
      std::string alias = newAlias();
      scope.sources.push_back(sourceFor(t, n.alias, alias));
      return t.sqliteName + " AS " + alias;
    }
    case TableRefKind::Derived: {
      const auto& d = ref.as<DerivedTableRef>();
      // A derived table sees nothing of the query around it.
      BoundQuery q = bindQuery(*d.query, nullptr);
      std::string alias = newAlias();
      ScopeSource s;
      s.exposed = d.alias;
      s.sqlAlias = alias;
      for (size_t i = 0; i < q.columns.size(); ++i) {
        ScopeColumn c;
        c.name = q.columns[i].name;
        c.type = q.columns[i].type;
        c.nullable = q.columns[i].nullable;
        c.sql = alias + ".\"c" + std::to_string(i + 1) + "\"";
        s.columns.push_back(std::move(c));
      }
      scope.sources.push_back(std::move(s));
      return "(" + q.sql + ") AS " + alias;
    }
    case TableRefKind::Join: {
      const auto& j = ref.as<JoinTableRef>();
      size_t before = scope.sources.size();
      std::string left = bindFromItem(*j.left, scope);
      size_t middle = scope.sources.size();
      std::string right = bindFromItem(*j.right, scope);
      // The columns of the side that may find no partner become nullable.
      if (j.type == JoinType::Left)
        for (size_t i = middle; i < scope.sources.size(); ++i)
          for (auto& c : scope.sources[i].columns) c.nullable = true;
      if (j.type == JoinType::Right)
        for (size_t i = before; i < middle; ++i)
          for (auto& c : scope.sources[i].columns) c.nullable = true;
      std::string on = j.on ? bindCondition(*j.on, scope).sql : "1";
      const char* kw = j.type == JoinType::Inner  ? " JOIN "
                       : j.type == JoinType::Left ? " LEFT JOIN "
                                                  : " RIGHT JOIN ";
      return "(" + left + kw + right + " ON " + on + ")";
    }
  }
  throw SqlError(102, 15, "Unsupported FROM item.");
}

BoundQuery Binder::bindCore(const SelectCore& core, const Scope* outer, bool namedColumns,
                            const std::vector<OrderItem>* orderBy, std::string* orderSql) {
  // An enclosing extended GROUP BY's aggregate capture does not reach into this query level.
  struct CaptureOff {
    std::vector<std::string>*& slot;
    std::vector<std::string>* saved;
    ~CaptureOff() { slot = saved; }
  } captureOff{aggregateCapture_, std::exchange(aggregateCapture_, nullptr)};
  // Literals become parameters in this level's WHERE terms only (a subquery of a WHERE term has
  // its own select list, GROUP BY and HAVING, whose literals stay in the text).
  struct WhereOff {
    bool& slot;
    bool saved;
    ~WhereOff() { slot = saved; }
  } whereOff{inWhere_, std::exchange(inWhere_, false)};
  Scope scope;
  scope.outer = outer;

  // FROM: each comma-separated item, remembering which sources it brought.
  std::vector<std::string> itemSql;
  std::vector<int> itemOfSource;
  for (const auto& ref : core.from) {
    itemSql.push_back(bindFromItem(*ref, scope));
    itemOfSource.resize(scope.sources.size(), static_cast<int>(itemSql.size() - 1));
  }

  // WHERE: the old outer joins `a.x *= b.y` turn b into a LEFT JOIN whose ON holds that term and
  // every other term about b alone (the family applies those before the join).
  std::vector<const Expr*> terms;
  conjuncts(core.where.get(), terms);
  std::vector<std::vector<const Expr*>> onTerms(itemSql.size());
  std::vector<bool> inner(itemSql.size(), false);
  std::vector<bool> used(terms.size(), false);
  for (size_t i = 0; i < terms.size(); ++i) {
    const Expr* t = terms[i];
    if (!t->is<BinaryExpr>()) continue;
    const auto& b = t->as<BinaryExpr>();
    if (b.op != BinaryOp::OuterLeft && b.op != BinaryOp::OuterRight) continue;
    std::set<int> l, r;
    itemsOf(*b.left, scope, itemOfSource, l);
    itemsOf(*b.right, scope, itemOfSource, r);
    const std::set<int>& innerSide = b.op == BinaryOp::OuterLeft ? r : l;
    if (innerSide.size() != 1 || *innerSide.begin() < 0) continue;
    int item = *innerSide.begin();
    inner[item] = true;
    onTerms[item].push_back(t);
    used[i] = true;
  }
  for (size_t i = 0; i < terms.size(); ++i) {
    if (used[i]) continue;
    std::set<int> items;
    itemsOf(*terms[i], scope, itemOfSource, items);
    if (items.size() == 1 && *items.begin() >= 0 && inner[*items.begin()]) {
      onTerms[*items.begin()].push_back(terms[i]);
      used[i] = true;
    }
  }
  for (size_t s = 0; s < scope.sources.size(); ++s)
    if (inner[itemOfSource[s]])
      for (auto& c : scope.sources[s].columns) c.nullable = true;

  std::string from;
  for (size_t i = 0; i < itemSql.size(); ++i)
    if (!inner[i]) from += (from.empty() ? "" : ", ") + itemSql[i];
  for (size_t i = 0; i < itemSql.size(); ++i) {
    if (!inner[i]) continue;
    std::vector<std::string> onSql;
    for (const Expr* t : onTerms[i]) onSql.push_back(bindCondition(*t, scope).sql);
    std::string on = balancedJoin(onSql, " AND ");
    // SQLite needs a left side; an outer join whose preserved side is missing joins onto nothing.
    from +=
        (from.empty() ? "(SELECT 1) AS tnil" : "") + std::string(" LEFT JOIN ") + itemSql[i] + " ON " + on;
  }

  // The select list, with * and t.* expanded in FROM order.
  BoundQuery q;
  std::string list;
  bool anyAssign = false, anyRetrieve = false;
  bool aggregateQuery = !core.groupBy.empty();
  // Per select-list column: its SQL, its alias and whether it holds an aggregate.
  std::vector<std::string> columnSql, columnAlias;
  std::vector<bool> columnAggregate;
  auto addColumn = [&](const BoundExpr& b, const std::string& name, const std::string& variable) {
    size_t n = q.columns.size() + 1;
    std::string alias = namedColumns ? quoteIdent(name.empty() ? "c" + std::to_string(n) : name)
                                     : "\"c" + std::to_string(n) + "\"";
    list += (list.empty() ? "" : ", ") + b.sql + " AS " + alias;
    columnSql.push_back(b.sql);
    columnAlias.push_back(alias);
    columnAggregate.push_back(b.hasAggregate);
    q.columns.push_back(columnOf(b, name));
    q.assignTo.push_back(variable);
    q.nullLiteral.push_back(b.isNullLiteral);
    if (b.hasAggregate) aggregateQuery = true;
  };
  for (const auto& item : core.items) {
    if (item.expr->is<StarExpr>()) {
      const auto& star = item.expr->as<StarExpr>();
      bool matched = false;
      for (const auto& src : scope.sources) {
        if (!star.table.empty() && star.table.name != src.exposed && star.table.name != src.table) continue;
        matched = true;
        for (const auto& c : src.columns) {
          BoundExpr b;
          b.sql = c.sql;
          b.type = c.type;
          b.nullable = c.nullable;
          b.identity = c.identity;
          b.isColumn = true;
          b.table = src.table;
          addColumn(b, c.name, {});
        }
      }
      if (!star.table.empty() && !matched) throw badColumnPrefix(star.table.toSql());
      if (star.table.empty() && scope.sources.empty())
        throw SqlError(263, 16, "Must specify table to select from.");
      anyRetrieve = true;
      continue;
    }
    BoundExpr b = bindExpr(*item.expr, scope);
    std::string name = item.alias.empty() ? (b.isColumn ? b.name : std::string()) : item.alias;
    if (!item.variable.empty()) {
      anyAssign = true;
      if (!ctx_.findVariable(item.variable)) throw mustDeclare(item.variable);
    } else {
      anyRetrieve = true;
    }
    addColumn(b, name, item.variable);
  }
  if (anyAssign && anyRetrieve)
    throw SqlError(141, 15,
                   "A SELECT statement that assigns a value to a variable must not be combined with "
                   "data-retrieval operations.");

  std::vector<std::string> whereTerms;
  for (size_t i = 0; i < terms.size(); ++i) {
    if (used[i]) continue;
    inWhere_ = literalParams_;
    BoundExpr c = bindCondition(*terms[i], scope);
    inWhere_ = false;
    if (c.hasAggregate)
      throw SqlError(147, 15,
                     "An aggregate may not appear in the WHERE clause unless it is in a subquery contained "
                     "in a HAVING clause or a select list, and the column being aggregated is an outer "
                     "reference.");
    whereTerms.push_back(std::move(c.sql));
  }
  std::string where = balancedJoin(whereTerms, " AND ");
  std::vector<std::string> groupSql;
  for (const auto& e : core.groupBy) groupSql.push_back(bindExpr(*e, scope).sql);
  std::string having = core.having ? bindCondition(*core.having, scope).sql : std::string();
  if (core.having) aggregateQuery = true;

  // The family's extended GROUP BY: a select-list column of this level's tables that is neither
  // grouped nor aggregated makes the query return every row, each with its group's aggregates.
  //   select type, title, sum(price) from titles group by type
  // runs as the rows of titles joined to the grouped query on the group's columns.
  bool extended = false;
  if (!groupSql.empty())
    for (size_t i = 0; i < columnSql.size() && !extended; ++i) {
      if (columnAggregate[i]) continue;
      if (std::find(groupSql.begin(), groupSql.end(), columnSql[i]) != groupSql.end()) continue;
      for (const auto& src : scope.sources)
        if (columnSql[i].find(src.sqlAlias + ".") != std::string::npos) extended = true;
    }
  std::string groupList;
  for (const auto& x : groupSql) groupList += (groupList.empty() ? "" : ", ") + x;
  std::string sql;
  if (extended) {
    // The select list again, each aggregate read from the grouped query `gq`.
    std::string gq = newAlias();
    std::vector<std::string> aggregates;
    std::vector<std::string> outerSql = columnSql;
    aggregateCapture_ = &aggregates;
    captureAlias_ = gq;
    for (size_t i = 0, item = 0; i < core.items.size(); ++i) {
      if (core.items[i].expr->is<StarExpr>()) {
        // A star stands for plain columns only; skip as many as it gave.
        for (const auto& src : scope.sources) {
          const auto& star = core.items[i].expr->as<StarExpr>();
          if (star.table.empty() || star.table.name == src.exposed || star.table.name == src.table)
            item += src.columns.size();
        }
        continue;
      }
      if (columnAggregate[item]) outerSql[item] = bindExpr(*core.items[i].expr, scope).sql;
      ++item;
    }
    aggregateCapture_ = nullptr;
    std::string inner, outer, join;
    for (size_t g = 0; g < groupSql.size(); ++g) {
      inner += (inner.empty() ? "" : ", ") + groupSql[g] + " AS \"g" + std::to_string(g + 1) + "\"";
      join += std::string(join.empty() ? "" : " AND ") + gq + ".\"g" + std::to_string(g + 1) + "\" IS " +
              groupSql[g];
    }
    for (size_t k = 0; k < aggregates.size(); ++k)
      inner += ", " + aggregates[k] + " AS \"a" + std::to_string(k + 1) + "\"";
    for (size_t i = 0; i < outerSql.size(); ++i)
      outer += (outer.empty() ? "" : ", ") + outerSql[i] + " AS " + columnAlias[i];
    std::string grouped = "SELECT " + inner + (from.empty() ? "" : " FROM " + from) +
                          (where.empty() ? "" : " WHERE " + where) + " GROUP BY " + groupList +
                          (having.empty() ? "" : " HAVING " + having);
    sql = std::string("SELECT ") + (core.distinct ? "DISTINCT " : "") + outer + " FROM " + from + ", (" + grouped +
          ") AS " + gq + " WHERE " + (where.empty() ? "" : "(" + where + ") AND ") + join;
  } else {
    sql = std::string("SELECT ") + (core.distinct ? "DISTINCT " : "") + list;
    if (!from.empty()) sql += " FROM " + from;
    if (!where.empty()) sql += " WHERE " + where;
    if (!groupList.empty()) sql += " GROUP BY " + groupList;
    if (!having.empty()) sql += " HAVING " + having;
  }
  // Without GROUP BY an aggregate query has exactly one row: count(*) over nothing is 0.
  if (aggregateQuery && core.groupBy.empty())
    for (auto& c : q.columns)
      if (c.type.type == SqlType::Int && c.nullable == false) c.nullable = false;

  if (orderBy && !orderBy->empty()) {
    std::string o;
    for (const auto& item : *orderBy) {
      std::string term;
      const Expr& e = *item.expr;
      if (e.is<LiteralExpr>() && e.as<LiteralExpr>().literal == LiteralKind::Integer) {
        long pos = std::strtol(e.as<LiteralExpr>().text.c_str(), nullptr, 10);
        if (pos < 1 || pos > static_cast<long>(q.columns.size()))
          throw SqlError(108, 16,
                         "The ORDER BY position number " + e.as<LiteralExpr>().text +
                             " is out of range of the number of items in the select list.");
        term = std::to_string(pos);
      } else if (e.is<ColumnRefExpr>() && e.as<ColumnRefExpr>().table.empty()) {
        // ORDER BY may name a select-list alias; a table column of that name comes second.
        const std::string& name = e.as<ColumnRefExpr>().column;
        for (size_t i = 0; i < core.items.size() && term.empty(); ++i)
          if (!core.items[i].alias.empty() && core.items[i].alias == name)
            for (size_t k = 0; k < q.columns.size(); ++k)
              if (q.columns[k].name == name) {
                term = std::to_string(k + 1);
                break;
              }
        if (term.empty()) term = bindExpr(e, scope).sql;
      } else {
        term = bindExpr(e, scope).sql;
      }
      o += (o.empty() ? "" : ", ") + term + (item.descending ? " DESC" : "");
    }
    *orderSql = " ORDER BY " + o;
  }
  q.sql = sql;
  return q;
}

namespace {

// TOP n as SQLite's LIMIT: a whole number, NULL or below zero is no row at all.
std::string limitSql(Binder& binder, const Expr& top, const Scope* outer) {
  if (top.is<LiteralExpr>() && top.as<LiteralExpr>().literal == LiteralKind::Integer)
    return " LIMIT " + top.as<LiteralExpr>().text;
  Scope scope;
  scope.outer = outer;
  BoundExpr n = binder.bindExpr(top, scope);
  if (!isExactNumericType(n.type.type)) throw SqlError(102, 15, "Incorrect syntax near 'top'.");
  return " LIMIT coalesce(max(0, CAST((" + n.sql + ") AS INTEGER)), 0)";
}

}  // namespace

BoundQuery Binder::bindQuery(const SelectStatement& query, const Scope* outer, bool namedColumns) {
  std::string orderSql;
  bool single = query.unions.empty();
  BoundQuery q = bindCore(query.core, outer, namedColumns, single ? &query.orderBy : nullptr, &orderSql);
  // TOP of a UNION's member limits that member's rows; of a single query, its ordered rows.
  std::string limit = query.core.top ? limitSql(*this, *query.core.top, outer) : "";
  if (!single && !limit.empty()) q.sql = "SELECT * FROM (" + q.sql + limit + ")";
  for (const auto& u : query.unions) {
    std::string dummy;
    BoundQuery other = bindCore(u.core, outer, false, nullptr, &dummy);
    if (u.core.top) other.sql = "SELECT * FROM (" + other.sql + limitSql(*this, *u.core.top, outer) + ")";
    if (other.columns.size() != q.columns.size())
      throw SqlError(205, 16,
                     "All queries in a SQL statement containing a UNION operator must have an equal number "
                     "of expressions in their target lists.");
    for (size_t i = 0; i < q.columns.size(); ++i) {
      // A NULL takes the type of the other branch: select 'a' union all select NULL is a varchar.
      if (q.nullLiteral[i])
        q.columns[i].type = other.columns[i].type;
      else if (!other.nullLiteral[i]) {
        // select 1 union select 'a': the branches' values must convert to one type.
        const TypeDesc& a = q.columns[i].type;
        const TypeDesc& b = other.columns[i].type;
        if (!implicitlyComparable(a, b)) {
          const bool aLower = typeRank(a.type) < typeRank(b.type);
          throw conversionError(ConversionError::ImplicitNotAllowed, ConversionKind::Implicit,
                                aLower ? a.type : b.type, aLower ? b.type : a.type);
        }
        q.columns[i].type = commonType(a, b);
      }
      q.nullLiteral[i] = q.nullLiteral[i] && other.nullLiteral[i];
      q.columns[i].nullable = q.columns[i].nullable || other.columns[i].nullable;
      q.columns[i].identity = false;
    }
    q.sql += (u.all ? " UNION ALL " : " UNION ") + other.sql;
  }
  if (!single && !query.orderBy.empty()) {
    std::string o;
    for (const auto& item : query.orderBy) {
      const Expr& e = *item.expr;
      size_t pos = 0;
      if (e.is<LiteralExpr>() && e.as<LiteralExpr>().literal == LiteralKind::Integer) {
        pos = std::strtoul(e.as<LiteralExpr>().text.c_str(), nullptr, 10);
      } else if (e.is<ColumnRefExpr>()) {
        for (size_t k = 0; k < q.columns.size() && !pos; ++k)
          if (q.columns[k].name == e.as<ColumnRefExpr>().column) pos = k + 1;
      }
      if (pos < 1 || pos > q.columns.size())
        throw SqlError(104, 15,
                       "Order-by items must appear in the select list if the statement contains a UNION "
                       "operator.");
      o += (o.empty() ? "" : ", ") + std::to_string(pos) + (item.descending ? " DESC" : "");
    }
    orderSql = " ORDER BY " + o;
  }
  for (auto& c : q.columns) c.userType = userTypeOf(c.type.type);
  q.sql += orderSql;
  if (single) q.sql += limit;
  return q;
}

}  // namespace tabsrv
