// SELECT: TOP n, the select list (including `alias = expr` and `@var = expr`), INTO, FROM with
// comma joins, ANSI joins, derived tables and ignored lock/index hints, WHERE, GROUP BY [ALL],
// HAVING, UNION [ALL] with plain or parenthesised operands, ORDER BY, COMPUTE ... BY, FOR BROWSE
// and AT ISOLATION.
#include "server/tsql/parser_impl.h"

namespace tabsrv::tsql {

namespace {

// Words that follow a table name without being its alias: `from a left join b`, `from t holdlock`.
bool endsTableAlias(const Token& t) {
  return t.isWord("left") || t.isWord("right") || t.isWord("outer") || t.isWord("cross") ||
         t.isWord("full") || t.isWord("shared") || t.isWord("readpast");
}

}  // namespace

bool Parser::peekParenthesizedSelect(size_t ahead) const {
  size_t i = ahead;
  if (!peekSymbol("(", i)) return false;
  while (peekSymbol("(", i)) ++i;
  return peekWord("select", i);
}

// (select a from t order by a) as a UNION operand: a plain query keeps its core (the ORDER BY
// of an operand does not change the union's rows); one with its own UNION, TOP or COMPUTE
// becomes `select * from (query)` so that its grouping is kept.
SelectCore Parser::coreFromOperand(std::unique_ptr<SelectStatement> q) {
  if (q->unions.empty() && q->computes.empty() && !q->core.top && q->core.into.empty())
    return std::move(q->core);
  SelectCore core;
  SelectItem star;
  star.expr = std::make_unique<StarExpr>();
  core.items.push_back(std::move(star));
  auto d = std::make_unique<DerivedTableRef>();
  d->query = std::move(q);
  core.from.push_back(std::move(d));
  return core;
}

std::unique_ptr<SelectStatement> Parser::parseSelect() {
  NestingGuard guard(*this);
  auto s = std::make_unique<SelectStatement>();
  const Token& begin = peek();
  if (peekSymbol("(")) {
    // (select ...) union (select ...): the first operand keeps its own unions, which read
    // left to right like the ones that follow.
    next();
    auto first = parseSubqueryBody();
    if (!peekWord("union")) {
      // (select a from t) order by 1: clauses after the parenthesis apply to the whole query and
      // replace the ones written inside.
      bool outerClauses = (peekWord("order") && peekWord("by", 1)) || peekWord("compute") ||
                          (peekWord("for") && peekWord("browse", 1)) ||
                          (peekWord("at") && peekWord("isolation", 1));
      bool innerClauses =
          !first->orderBy.empty() || !first->computes.empty() || first->forBrowse || first->atIsolation >= 0;
      if (!outerClauses || !innerClauses) {
        s = std::move(first);
      } else {
        s->core = coreFromOperand(std::move(first));
      }
    } else if (first->orderBy.empty() && first->computes.empty() && !first->core.top) {
      s->core = std::move(first->core);
      s->unions = std::move(first->unions);
    } else {
      s->core = coreFromOperand(std::move(first));
    }
  } else {
    s->core = parseSelectCore();
  }
  while (peekWord("union")) {
    next();
    UnionPart u;
    u.all = acceptWord("all");
    if (peekSymbol("(")) {
      next();
      u.core = coreFromOperand(parseSubqueryBody());
    } else {
      u.core = parseSelectCore();
    }
    s->unions.push_back(std::move(u));
  }
  if (peekWord("order") && peekWord("by", 1)) {
    next();
    next();
    do {
      OrderItem o;
      o.expr = parseExpr();
      if (acceptWord("desc")) {
        o.descending = true;
      } else {
        acceptWord("asc");
      }
      s->orderBy.push_back(std::move(o));
    } while (acceptSymbol(","));
  }
  while (acceptWord("compute")) {
    ComputeClause c;
    do {
      c.aggregates.push_back(parseExpr());
    } while (acceptSymbol(","));
    if (acceptWord("by")) {
      do {
        c.by.push_back(parseExpr());
      } while (acceptSymbol(","));
    }
    s->computes.push_back(std::move(c));
  }
  if (peekWord("for") && peekWord("browse", 1)) {
    next();
    next();
    s->forBrowse = true;
  }
  if (peekWord("at") && peekWord("isolation", 1)) {
    // select ... at isolation read uncommitted: the level of this query only.
    next();
    next();
    static const struct {
      std::string_view first, second;
      int level;
    } kNamed[] = {{"read", "uncommitted", 0},
                  {"read", "committed", 1},
                  {"repeatable", "read", 2},
                  {"serializable", "", 3}};
    bool named = false;
    for (const auto& n : kNamed) {
      if (peekWord(n.first) && (n.second.empty() || peekWord(n.second, 1))) {
        next();
        if (!n.second.empty()) next();
        s->atIsolation = n.level;
        named = true;
        break;
      }
    }
    if (!named) {
      const Token& t = peek();
      if (t.type != TokenType::Integer || t.text.size() != 1 || t.text[0] < '0' || t.text[0] > '3')
        syntaxError();
      s->atIsolation = next().text[0] - '0';
    }
  }
  setRange(*s, begin);
  return s;
}

SelectCore Parser::parseSelectCore() {
  SelectCore core;
  expectWord("select");
  if (acceptWord("distinct")) {
    core.distinct = true;
  } else {
    acceptWord("all");
  }
  if (options_.top && peekWord("top") &&
      (peek(1).type == TokenType::Integer || peek(1).type == TokenType::Variable || peekSymbol("(", 1))) {
    // select top 10 ...: the row limit is a number, a variable or a parenthesised expression.
    next();
    core.top = parsePrimary();
  }
  parseSelectItems(core);
  if (acceptWord("into")) core.into = parseObjectName();
  if (acceptWord("from")) core.from = parseFromList();
  if (acceptWord("where")) core.where = parseCondition();
  if (peekWord("group") && peekWord("by", 1)) {
    next();
    next();
    core.groupByAll = acceptWord("all");
    do {
      core.groupBy.push_back(parseExpr());
    } while (acceptSymbol(","));
  }
  if (acceptWord("having")) core.having = parseCondition();
  return core;
}

void Parser::parseSelectItems(SelectCore& core) {
  do {
    SelectItem item;
    const Token& t = peek();
    if (t.isSymbol("*")) {
      next();
      item.expr = std::make_unique<StarExpr>();
    } else if (t.type == TokenType::Variable && peekSymbol("=", 1)) {
      // select @total = sum(price) from titles: assigns instead of returning a row.
      item.variable = next().text;
      next();
      item.expr = parseExpr();
    } else if ((isName(t) || t.type == TokenType::String) && peekSymbol("=", 1)) {
      // select "Total" = sum(price): the family's alias form.
      item.alias = next().text;
      next();
      item.expr = parseExpr();
    } else {
      item.expr = parseExpr();
      item.alias = parseOptionalAlias(false);
    }
    core.items.push_back(std::move(item));
  } while (acceptSymbol(","));
}

std::string Parser::parseOptionalAlias(bool tableAlias) {
  if (acceptWord("as")) {
    if (!tableAlias && peek().type == TokenType::String) return next().text;
    return expectName();
  }
  const Token& t = peek();
  if (t.type == TokenType::Bracketed) return next().text;
  if (!tableAlias && t.type == TokenType::String) return next().text;
  // A name followed by ':' is the next statement's label, not an alias; `at isolation` ends
  // the query.
  if (t.isWord("at") && peekWord("isolation", 1)) return {};
  if (isName(t) && !peekSymbol(":", 1) && !(tableAlias && endsTableAlias(t))) return next().text;
  return {};
}

std::vector<TableRefPtr> Parser::parseFromList() {
  std::vector<TableRefPtr> from;
  do {
    from.push_back(parseTableRef());
  } while (acceptSymbol(","));
  return from;
}

TableRefPtr Parser::parseTableRef() {
  NestingGuard guard(*this);
  TableRefPtr left = parseTablePrimary();
  for (;;) {
    JoinType type;
    if (acceptWord("inner")) {
      type = JoinType::Inner;
    } else if (peekWord("left") || peekWord("right")) {
      type = next().isWord("left") ? JoinType::Left : JoinType::Right;
      acceptWord("outer");
    } else if (peekWord("join")) {
      type = JoinType::Inner;
    } else {
      return left;
    }
    expectWord("join");
    auto j = std::make_unique<JoinTableRef>();
    j->type = type;
    j->left = std::move(left);
    j->right = parseTablePrimary();
    expectWord("on");
    j->on = parseCondition();
    left = std::move(j);
  }
}

TableRefPtr Parser::parseTablePrimary() {
  if (peekSymbol("(")) {
    next();
    if (peekWord("select")) {
      auto d = std::make_unique<DerivedTableRef>();
      d->query = parseSubqueryBody();
      d->alias = parseOptionalAlias(true);
      return d;
    }
    TableRefPtr inner = parseTableRef();
    expectSymbol(")");
    return inner;
  }
  auto n = std::make_unique<NamedTableRef>();
  n->name = parseObjectName();
  n->alias = parseOptionalAlias(true);
  skipTableHints();
  if (n->alias.empty()) {
    // from t (index t_ix) x: the hint may come before the alias too.
    n->alias = parseOptionalAlias(true);
    skipTableHints();
  }
  return n;
}

// holdlock, noholdlock, shared, readpast and (index i [prefetch n] [lru|mru]) change locking or
// plans only; the server accepts and ignores them.
void Parser::skipTableHints() {
  for (;;) {
    if (peekWord("holdlock") || peekWord("noholdlock") || peekWord("shared") || peekWord("readpast")) {
      next();
      continue;
    }
    if (peekSymbol("(") && (peekWord("index", 1) || peekWord("prefetch", 1) || peekWord("lru", 1) ||
                            peekWord("mru", 1) || peekWord("parallel", 1))) {
      next();
      while (!peekSymbol(")")) {
        if (atEnd() || peekSymbol("(")) syntaxError();
        next();
      }
      next();
      continue;
    }
    return;
  }
}

}  // namespace tabsrv::tsql
