// Expression rules, loosest first: OR, AND, NOT, comparisons and predicates (BETWEEN, IN, LIKE,
// IS NULL, EXISTS, ANY/ALL), + - & | ^, * / %, unary - + ~, then primaries (literals, names,
// variables, `?` markers, function calls, convert, CASE, subqueries).
#include "server/tsql/parser_impl.h"

namespace tabsrv::tsql {

namespace {

template <class T>
std::unique_ptr<T> makeBinaryLike(BinaryOp op, ExprPtr left, ExprPtr right) {
  auto b = std::make_unique<T>();
  b->op = op;
  b->left = std::move(left);
  b->right = std::move(right);
  return b;
}

// Comparison symbols; "!<" (not less) is ">=" and "!>" is "<=".
bool comparisonOp(const Token& t, BinaryOp& op) {
  if (t.type != TokenType::Symbol) return false;
  static const struct {
    std::string_view sym;
    BinaryOp op;
  } kOps[] = {{"=", BinaryOp::Eq},         {"<>", BinaryOp::Ne},        {"!=", BinaryOp::Ne},
              {"<", BinaryOp::Lt},         {">", BinaryOp::Gt},         {"<=", BinaryOp::Le},
              {">=", BinaryOp::Ge},        {"!<", BinaryOp::Ge},        {"!>", BinaryOp::Le},
              {"*=", BinaryOp::OuterLeft}, {"=*", BinaryOp::OuterRight}};
  for (const auto& o : kOps) {
    if (t.text == o.sym) {
      op = o.op;
      return true;
    }
  }
  return false;
}

// Joins terms with an associative operator (AND, OR) as a balanced tree, so that a generated
// `a = 1 or a = 2 or ...` of thousands of terms is only a few levels deep for every tree walk
// after the parser and for SQLite's own expression depth limit.
ExprPtr balancedChain(BinaryOp op, std::vector<ExprPtr>& terms, size_t from, size_t to) {
  if (to - from == 1) return std::move(terms[from]);
  size_t mid = from + (to - from + 1) / 2;
  return makeBinaryLike<BinaryExpr>(op, balancedChain(op, terms, from, mid), balancedChain(op, terms, mid, to));
}

ExprPtr balancedChain(BinaryOp op, std::vector<ExprPtr> terms) {
  return balancedChain(op, terms, 0, terms.size());
}

}  // namespace

Bytes decodeHex(const std::string& digits) {
  // An odd number of digits reads as if a leading 0 were written: 0xABC is 0x0ABC.
  std::string d = digits.size() % 2 ? "0" + digits : digits;
  Bytes out;
  for (size_t i = 0; i < d.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(d.substr(i, 2), nullptr, 16)));
  return out;
}

namespace {

// True for the nodes that are conditions rather than values: comparisons, AND, OR, NOT and the
// predicates.
bool isCondition(const Expr& e) {
  switch (e.kind) {
    case ExprKind::Binary: {
      BinaryOp op = e.as<BinaryExpr>().op;
      return isComparison(op) || op == BinaryOp::And || op == BinaryOp::Or;
    }
    case ExprKind::Unary:
      return e.as<UnaryExpr>().op == UnaryOp::Not;
    case ExprKind::Between:
    case ExprKind::InList:
    case ExprKind::InSubquery:
    case ExprKind::Like:
    case ExprKind::IsNull:
    case ExprKind::Exists:
    case ExprKind::Quantified:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool Parser::startsExpression() const {
  const Token& t = peek();
  switch (t.type) {
    case TokenType::Integer:
    case TokenType::Decimal:
    case TokenType::Float:
    case TokenType::Money:
    case TokenType::String:
    case TokenType::Binary:
    case TokenType::Variable:
    case TokenType::Global:
    case TokenType::Bracketed:
      return true;
    case TokenType::Symbol:
      return t.text == "(" || t.text == "-" || t.text == "+" || t.text == "~" || t.text == "?";
    case TokenType::Word:
      return isName(t) || t.isWord("null") || t.isWord("case") || t.isWord("convert") || t.isWord("not") ||
             t.isWord("exists");
    default:
      return false;
  }
}

bool Parser::atConditionOperator() const {
  BinaryOp op;
  if (comparisonOp(peek(), op)) return true;
  for (const char* word : {"like", "between", "in", "is", "and", "or"})
    if (peekWord(word)) return true;
  return peekWord("not") && (peekWord("between", 1) || peekWord("in", 1) || peekWord("like", 1));
}

ExprPtr Parser::parseExpr() {
  ConditionMode mode(*this, false);
  NestingGuard guard(*this);
  ExprPtr value = parseAdditive();
  // "select 'a' like 'b'": the family refuses a predicate where a value belongs, at its operator.
  if (atConditionOperator()) syntaxError();
  return value;
}

ExprPtr Parser::parseCondition() {
  ConditionMode mode(*this, true);
  return parseOr();
}

ExprPtr Parser::parseOr() {
  NestingGuard guard(*this);
  std::vector<ExprPtr> terms;
  terms.push_back(parseAnd());
  while (acceptWord("or")) terms.push_back(parseAnd());
  return balancedChain(BinaryOp::Or, std::move(terms));
}

ExprPtr Parser::parseAnd() {
  std::vector<ExprPtr> terms;
  terms.push_back(parseNot());
  while (acceptWord("and")) terms.push_back(parseNot());
  return balancedChain(BinaryOp::And, std::move(terms));
}

ExprPtr Parser::parseNot() {
  if (acceptWord("not")) {
    NestingGuard guard(*this);
    auto u = std::make_unique<UnaryExpr>();
    u->op = UnaryOp::Not;
    u->operand = parseNot();
    return u;
  }
  return parsePredicate();
}

ExprPtr Parser::parsePredicate() {
  if (acceptWord("exists")) {
    expectSymbol("(");
    auto e = std::make_unique<ExistsExpr>();
    e->query = parseSubqueryBody();
    return e;
  }
  ExprPtr left = parseAdditive();
  // "(a = 1) = 1": a parenthesised condition only joins others through AND and OR.
  if (isCondition(*left) && !peekWord("and") && !peekWord("or") && atConditionOperator()) syntaxError();
  // The other operands are values: "a = (b = 1)" fails at the second '='.
  ConditionMode operands(*this, false);
  BinaryOp op;
  if (comparisonOp(peek(), op)) {
    next();
    if (peekWord("any") || peekWord("some") || peekWord("all")) {
      auto q = std::make_unique<QuantifiedExpr>();
      q->all = next().isWord("all");
      expectSymbol("(");
      q->left = std::move(left);
      q->op = op;
      q->query = parseSubqueryBody();
      return q;
    }
    return makeBinaryLike<BinaryExpr>(op, std::move(left), parseAdditive());
  }
  // "default 'x' not null" in a column definition: NOT only belongs here before BETWEEN/IN/LIKE.
  bool negated = false;
  if (peekWord("not") && (peekWord("between", 1) || peekWord("in", 1) || peekWord("like", 1))) {
    next();
    negated = true;
  }
  if (acceptWord("between")) {
    auto b = std::make_unique<BetweenExpr>();
    b->operand = std::move(left);
    b->negated = negated;
    b->low = parseAdditive();
    expectWord("and");
    b->high = parseAdditive();
    return b;
  }
  if (acceptWord("in")) {
    expectSymbol("(");
    if (peekWord("select")) {
      auto in = std::make_unique<InSubqueryExpr>();
      in->operand = std::move(left);
      in->negated = negated;
      in->query = parseSubqueryBody();
      return in;
    }
    auto in = std::make_unique<InListExpr>();
    in->operand = std::move(left);
    in->negated = negated;
    do {
      in->list.push_back(parseExpr());
    } while (acceptSymbol(","));
    expectSymbol(")");
    return in;
  }
  if (acceptWord("like")) {
    auto l = std::make_unique<LikeExpr>();
    l->operand = std::move(left);
    l->negated = negated;
    l->pattern = parseAdditive();
    if (acceptWord("escape")) l->escape = parseAdditive();
    return l;
  }
  if (acceptWord("is")) {
    auto n = std::make_unique<IsNullExpr>();
    n->operand = std::move(left);
    n->negated = acceptWord("not");
    expectWord("null");
    return n;
  }
  return left;
}

ExprPtr Parser::parseAdditive() {
  ExprPtr left = parseMultiplicative();
  for (;;) {
    BinaryOp op;
    if (peekSymbol("+")) {
      op = BinaryOp::Add;
    } else if (peekSymbol("-")) {
      op = BinaryOp::Sub;
    } else if (peekSymbol("&")) {
      op = BinaryOp::BitAnd;
    } else if (peekSymbol("|")) {
      op = BinaryOp::BitOr;
    } else if (peekSymbol("^")) {
      op = BinaryOp::BitXor;
    } else {
      return left;
    }
    // "(a = 1) + 1": a condition is no operand of arithmetic.
    if (isCondition(*left)) syntaxError();
    next();
    ConditionMode operand(*this, false);
    left = makeBinaryLike<BinaryExpr>(op, std::move(left), parseMultiplicative());
    checkHeight(*left);
  }
}

ExprPtr Parser::parseMultiplicative() {
  ExprPtr left = parseUnary();
  for (;;) {
    BinaryOp op;
    if (peekSymbol("*")) {
      op = BinaryOp::Mul;
    } else if (peekSymbol("/")) {
      op = BinaryOp::Div;
    } else if (peekSymbol("%")) {
      op = BinaryOp::Mod;
    } else {
      return left;
    }
    if (isCondition(*left)) syntaxError();
    next();
    ConditionMode operand(*this, false);
    left = makeBinaryLike<BinaryExpr>(op, std::move(left), parseUnary());
    checkHeight(*left);
  }
}

ExprPtr Parser::parseUnary() {
  UnaryOp op;
  if (peekSymbol("-")) {
    op = UnaryOp::Negate;
  } else if (peekSymbol("+")) {
    op = UnaryOp::Plus;
  } else if (peekSymbol("~")) {
    op = UnaryOp::BitNot;
  } else {
    return parsePrimary();
  }
  next();
  NestingGuard guard(*this);
  ConditionMode operand(*this, false);
  auto u = std::make_unique<UnaryExpr>();
  u->op = op;
  u->operand = parseUnary();
  return u;
}

std::unique_ptr<SelectStatement> Parser::parseSubqueryBody() {
  if (!peekWord("select") && !peekParenthesizedSelect()) syntaxError();
  auto q = parseSelect();
  expectSymbol(")");
  return q;
}

ExprPtr Parser::parsePrimary() {
  const Token& t = peek();
  auto literal = [&](LiteralKind kind) {
    auto l = std::make_unique<LiteralExpr>();
    l->literal = kind;
    l->token = static_cast<int32_t>(pos_);
    l->text = next().text;
    if (kind == LiteralKind::Binary) l->bytes = decodeHex(l->text);
    return l;
  };
  switch (t.type) {
    case TokenType::Integer:
      return literal(LiteralKind::Integer);
    case TokenType::Decimal:
      return literal(LiteralKind::Decimal);
    case TokenType::Float:
      return literal(LiteralKind::Float);
    case TokenType::Money:
      return literal(LiteralKind::Money);
    case TokenType::String:
      return literal(LiteralKind::String);
    case TokenType::Binary:
      return literal(LiteralKind::Binary);
    case TokenType::Variable: {
      if (t.text.size() < 2) syntaxError();
      auto v = std::make_unique<VariableExpr>();
      v->name = next().text;
      return v;
    }
    case TokenType::Global: {
      if (t.text.size() < 3) syntaxError();
      auto g = std::make_unique<GlobalExpr>();
      g->name = lowerCase(next().text);
      return g;
    }
    case TokenType::Symbol:
      if (t.text == "(") {
        next();
        if (peekWord("select")) {
          auto s = std::make_unique<SubqueryExpr>();
          s->query = parseSubqueryBody();
          return s;
        }
        // Within a condition the parentheses may group conditions: "where (a = 1 or b = 2)".
        ExprPtr inner = conditions_ ? parseOr() : parseExpr();
        expectSymbol(")");
        return inner;
      }
      if (t.text == "?") {
        // insert t values (?, ?): markers of a dynamic statement, bound in text order.
        next();
        auto m = std::make_unique<PlaceholderExpr>();
        m->index = placeholders_++;
        return m;
      }
      syntaxError();
    case TokenType::Word:
      if (t.isWord("null")) {
        next();
        return std::make_unique<LiteralExpr>();
      }
      if (t.isWord("case")) {
        next();
        return parseCase();
      }
      if (t.isWord("convert")) {
        next();
        expectSymbol("(");
        auto c = std::make_unique<ConvertExpr>();
        c->type = parseTypeName();
        expectSymbol(",");
        c->value = parseExpr();
        if (acceptSymbol(",")) c->style = parseExpr();
        expectSymbol(")");
        return c;
      }
      // update(col) inside a trigger tells whether the statement set that column.
      if (t.isWord("update") && peekSymbol("(", 1)) {
        next();
        next();
        return parseFunctionCall("update");
      }
      // identity(8) in the select list of SELECT INTO.
      if (t.isWord("identity") && peekSymbol("(", 1)) {
        next();
        next();
        return parseFunctionCall("identity");
      }
      break;
    default:
      break;
  }
  if (!isName(t)) syntaxError();
  if (t.type == TokenType::Word && peekSymbol("(", 1)) {
    std::string name = lowerCase(next().text);
    next();
    return parseFunctionCall(std::move(name));
  }
  // col, t.col, owner.t.col, db.owner.t.col, db..t.col, and t.* for select lists.
  std::vector<std::string> parts;
  parts.push_back(next().text);
  bool star = false;
  while (peekSymbol(".") && parts.size() < 4 && !star) {
    next();
    if (peekSymbol(".") && parts.size() == 1) {
      parts.emplace_back();
      continue;
    }
    if (peekSymbol("*")) {
      next();
      star = true;
      break;
    }
    parts.push_back(expectName());
  }
  ObjectName table;
  size_t tableParts = star ? parts.size() : parts.size() - 1;
  if (tableParts >= 1) table.name = parts[tableParts - 1];
  if (tableParts >= 2) table.owner = parts[tableParts - 2];
  if (tableParts >= 3) table.database = parts[tableParts - 3];
  if (tableParts > 3 || (tableParts == 2 && table.owner.empty())) syntaxError();
  if (star) {
    auto s = std::make_unique<StarExpr>();
    s->table = std::move(table);
    return s;
  }
  if (parts.back().empty()) syntaxError();
  auto c = std::make_unique<ColumnRefExpr>();
  c->table = std::move(table);
  c->column = parts.back();
  return c;
}

// After "name(": count(*), count(distinct x), f(), f(a, b).
ExprPtr Parser::parseFunctionCall(std::string name) {
  auto f = std::make_unique<FunctionExpr>();
  f->name = std::move(name);
  if (f->name == "count" && peekSymbol("*")) {
    next();
    f->star = true;
    expectSymbol(")");
    return f;
  }
  if (acceptWord("distinct")) {
    f->distinct = true;
  } else {
    acceptWord("all");
  }
  if (!acceptSymbol(")")) {
    do {
      f->args.push_back(parseExpr());
    } while (acceptSymbol(","));
    expectSymbol(")");
  }
  return f;
}

// After CASE: the simple form (CASE x WHEN 1 THEN ...) or the searched one (CASE WHEN a > 1 ...).
ExprPtr Parser::parseCase() {
  auto c = std::make_unique<CaseExpr>();
  if (!peekWord("when")) c->operand = parseExpr();
  if (!peekWord("when")) syntaxError();
  while (acceptWord("when")) {
    CaseWhen w;
    w.when = c->operand ? parseExpr() : parseCondition();
    expectWord("then");
    w.then = parseExpr();
    c->whens.push_back(std::move(w));
  }
  if (acceptWord("else")) c->elseValue = parseExpr();
  expectWord("end");
  return c;
}

}  // namespace tabsrv::tsql
