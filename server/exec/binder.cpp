// Binding and SQLite generation for expressions: names, literals, operators, functions, CASE,
// convert() and subqueries. Queries (FROM, select lists, UNION, ORDER BY) are in bind_query.cpp.
#include "server/exec/binder.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "server/exec/errors.h"
#include "server/exec/sysproc_support.h"
#include "server/exec/type_rules.h"
#include "server/tsql/parser.h"
#include "server/types/convert.h"
#include "server/types/datetime.h"
#include "server/types/decimal.h"
#include "server/types/functions.h"
#include "server/types/sqlite_prepare.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

bool equalsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string quoteText(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// The most terms one tx_concat call takes; SQLite allows 127 arguments per function.
constexpr int kMaxConcatTerms = 100;

// True when sql is `open` ... ")" and that last parenthesis closes the one `open` ends with
// (string literals and quoted names skipped), so the text really is one chain as a whole.
bool enclosedBy(const std::string& sql, std::string_view open) {
  if (sql.size() <= open.size() || sql.compare(0, open.size(), open) != 0 || sql.back() != ')') return false;
  int depth = 0;
  for (size_t i = open.size() - 1; i < sql.size(); ++i) {
    char c = sql[i];
    if (c == '\'' || c == '"') {
      size_t end = sql.find(c, i + 1);
      while (end != std::string::npos && end + 1 < sql.size() && sql[end + 1] == c) end = sql.find(c, end + 2);
      if (end == std::string::npos) return false;
      i = end;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      return i == sql.size() - 1;
    }
  }
  return false;
}

// "(a op b)" for a new chain, or the next term appended inside a's own chain of the same kind:
// "(a + b)" and c give "(a + b + c)", tx_concat(a, b) and c give tx_concat(a, b, c). SQLite reads
// a flat left-associative chain exactly as the nested form, without a parser stack level per term.
std::string joinChain(const BoundExpr& a, char kind, const char* open, const std::string& op,
                      const std::string& b, BoundExpr& out) {
  out.chain = kind;
  if (kind != 0 && a.chain == kind && (kind != 'c' || a.chainTerms < kMaxConcatTerms) && enclosedBy(a.sql, open)) {
    out.chainTerms = a.chainTerms + 1;
    return a.sql.substr(0, a.sql.size() - 1) + op + b + ")";
  }
  out.chainTerms = 2;
  return open + a.sql + op + b + ")";
}

// The most operands one t_exact call chains; SQLite allows 127 arguments per function.
constexpr int kMaxExactTerms = 60;

// True for the types whose arithmetic is exact decimal arithmetic (numeric, decimal, money).
bool isExactClass(const TypeDesc& t) {
  TypeClass c = typeClass(t.type);
  return c == TypeClass::Exact || c == TypeClass::Money;
}

// The step literal t_exact reads: operator, kind and result type, "'+n22,2'" for a numeric(22,2)
// sum, "'*m19,4'" for a money product.
std::string exactStep(char op, const TypeDesc& t) {
  char kind = t.type == SqlType::Money ? 'm' : t.type == SqlType::SmallMoney ? 's' : 'n';
  return "'" + std::string(1, op) + kind + std::to_string(t.precision) + "," + std::to_string(t.scale) + "'";
}

// Terms joined by " OR " (or " AND ") in balanced parentheses, a few levels deep however many
// terms there are: SQLite limits the depth of an expression tree, not its width.
std::string balancedJoin(const std::vector<std::string>& terms, size_t from, size_t to, const char* op) {
  if (to - from == 1) return terms[from];
  size_t mid = from + (to - from + 1) / 2;
  return "(" + balancedJoin(terms, from, mid, op) + op + balancedJoin(terms, mid, to, op) + ")";
}

}  // namespace

std::string balancedJoin(const std::vector<std::string>& terms, const char* op) {
  return terms.empty() ? std::string() : balancedJoin(terms, 0, terms.size(), op);
}

namespace {

// The comparison operator in SQLite spelling.
const char* comparisonSql(BinaryOp op) {
  switch (op) {
    case BinaryOp::Eq:
    case BinaryOp::OuterLeft:
    case BinaryOp::OuterRight:
      return "=";
    case BinaryOp::Ne:
      return "<>";
    case BinaryOp::Lt:
      return "<";
    case BinaryOp::Gt:
      return ">";
    case BinaryOp::Le:
      return "<=";
    case BinaryOp::Ge:
      return ">=";
    default:
      return "=";
  }
}

BoundExpr boolean(std::string sql, bool nullable = true) {
  BoundExpr b;
  b.sql = std::move(sql);
  b.type = makeType(SqlType::Bit);
  b.nullable = nullable;
  return b;
}

// The type of an argument list with NULL literals skipped (isnull(NULL, 'x') is a varchar).
TypeDesc commonOf(const std::vector<BoundExpr>& items) {
  const BoundExpr* first = nullptr;
  TypeDesc t;
  for (const auto& i : items) {
    if (i.isNullLiteral) continue;
    if (!first) {
      first = &i;
      t = i.type;
    } else {
      // case when x then 1 else 'a' end: the values must convert to one type. A variable or a
      // parameter marker keeps the conversion at run time it always had.
      if (!i.isVariable && !first->isVariable && !implicitlyComparable(t, i.type)) {
        const bool tLower = typeRank(t.type) < typeRank(i.type.type);
        throw conversionError(ConversionError::ImplicitNotAllowed, ConversionKind::Implicit,
                              tLower ? t.type : i.type.type, tLower ? i.type.type : t.type);
      }
      t = commonType(t, i.type);
    }
  }
  return first ? t : makeType(SqlType::Int);
}

}  // namespace

std::string Binder::quoteIdent(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string Binder::literalSql(const Value& v) {
  switch (v.index()) {
    case 0:
      return "NULL";
    case 1:
      return std::to_string(std::get<int64_t>(v));
    case 2: {
      double d = std::get<double>(v);
      if (!std::isfinite(d)) return "NULL";
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", d);
      std::string s = buf;
      // Keep it REAL inside SQLite: 2 would be read back as an INTEGER.
      if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
      return s;
    }
    case 3:
      return quoteText(formatDecimal(std::get<Decimal>(v)));
    case 4:
      return quoteText(formatDateTime(std::get<DateTime>(v)));
    case 5:
      return quoteText(std::get<std::string>(v));
    case 6: {
      static const char* hex = "0123456789ABCDEF";
      std::string out = "X'";
      for (uint8_t b : std::get<Bytes>(v)) {
        out += hex[b >> 4];
        out += hex[b & 15];
      }
      return out + "'";
    }
  }
  return "NULL";
}

std::string Binder::addParam(const Value& v) {
  params_.push_back(v);
  return "?" + std::to_string(params_.size());
}

namespace {

// The value SQLite gives the literal `token` when it is exactly one integer, string or blob
// literal as literalSql and quoteText write them; nothing for anything else (a REAL, whose text
// SQLite may round differently, NULL, an expression).
std::optional<Value> literalTokenValue(const std::string& token) {
  if (token.empty()) return std::nullopt;
  const char first = token[0];
  if (first == '-' || std::isdigit(static_cast<unsigned char>(first))) {
    const size_t digits = first == '-' ? 1 : 0;
    // At most 18 digits: always an INTEGER for SQLite, never a REAL.
    if (token.size() == digits || token.size() - digits > 18) return std::nullopt;
    for (size_t i = digits; i < token.size(); ++i)
      if (!std::isdigit(static_cast<unsigned char>(token[i]))) return std::nullopt;
    // Written as std::to_string writes it (no leading zeros, no "-0"): SQLite reads the same integer.
    if (token[digits] == '0' && token.size() > digits + 1) return std::nullopt;
    if (token == "-0") return std::nullopt;
    return Value{static_cast<int64_t>(std::strtoll(token.c_str(), nullptr, 10))};
  }
  if (first == '\'' && token.size() >= 2 && token.back() == '\'') {
    std::string text;
    for (size_t i = 1; i + 1 < token.size(); ++i) {
      const char c = token[i];
      if (c == '\0') return std::nullopt;
      if (c == '\'') {
        // Inside the literal a quote is always doubled; a lone one ends it early.
        if (i + 2 >= token.size() || token[i + 1] != '\'') return std::nullopt;
        ++i;
      }
      text += c;
    }
    return Value{std::move(text)};
  }
  if (first == 'X' && token.size() >= 3 && token[1] == '\'' && token.back() == '\'' && token.size() % 2 == 1) {
    Bytes bytes;
    auto nibble = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    for (size_t i = 2; i + 1 < token.size(); i += 2) {
      const int hi = nibble(token[i]), lo = nibble(token[i + 1]);
      if (hi < 0 || lo < 0) return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    // An empty X'' stays as it is: a zero-length blob parameter is bound as a blob too, but
    // there is nothing to gain.
    if (bytes.empty()) return std::nullopt;
    return Value{std::move(bytes)};
  }
  return std::nullopt;
}

}  // namespace

std::string Binder::comparedLiteral(const std::string& token, const BoundExpr* from) {
  if (!inWhere_) return token;
  std::optional<Value> v = literalTokenValue(token);
  if (!v) return token;
  std::string param = addParam(*v);
  // A parameter is recorded as the literal's only when it holds the literal's own SQL, as is
  // or quoted: then another value of the same type gives the parameter literalParam() makes.
  if (uses_ && from && from->literal && from->literal->token >= 0) {
    const bool asIs = token == from->sql;
    if (asIs || token == quoteText(from->sql))
      uses_->params.push_back({from->literal->token, params_.size() - 1, !asIs, from->type});
  }
  return param;
}

bool LiteralUses::onlyParams(int32_t token) const {
  if (token < 0 || static_cast<size_t>(token) >= bound.size() || bound[static_cast<size_t>(token)] == 0)
    return false;
  int made = 0;
  for (const Param& p : params)
    if (p.token == token) ++made;
  return made == bound[static_cast<size_t>(token)];
}

std::optional<Value> Binder::literalParam(LiteralKind kind, const std::string& text, const TypeDesc& type,
                                          bool quoted) {
  LiteralExpr e;
  e.literal = kind;
  e.text = text;
  if (kind == LiteralKind::Binary) e.bytes = decodeHex(text);
  BoundExpr b;
  try {
    b = bindLiteralValue(e);
  } catch (const SqlError&) {
    return std::nullopt;
  }
  if (b.type.type != type.type || b.type.length != type.length || b.type.precision != type.precision ||
      b.type.scale != type.scale)
    return std::nullopt;
  return literalTokenValue(quoted ? quoteText(b.sql) : b.sql);
}

// The source type code t_convert/t_assign need when the storage form alone is ambiguous: a
// datetime or money travels as TEXT. Other values describe themselves (NULL: read the value).
static std::string sourceCode(const TypeDesc& t) {
  switch (t.type) {
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
    case SqlType::Money:
    case SqlType::SmallMoney:
    case SqlType::Numeric:
    case SqlType::Decimal:
      // A numeric travels as decimal text: convert(int, 12.7) must read it as a number, not as
      // a string (which only converts when it spells an integer).
      return std::to_string(typeCode(t.type));
    default:
      return "NULL";
  }
}

std::string Binder::assignSql(const BoundExpr& expr, const TypeDesc& type, bool nullable) {
  return "t_assign(" + expr.sql + ", " + std::to_string(typeCode(type.type)) + ", " +
         std::to_string(type.length) + ", " + std::to_string(type.precision) + ", " +
         std::to_string(type.scale) + ", " + (nullable ? "1" : "0") + ", " + sourceCode(expr.type) + ")";
}

TypeDesc resolveTypeName(BindContext& ctx, const TypeName& type) {
  if (auto d = builtinTypeDesc(type)) return *d;
  // A user-defined type: its row in systypes of the current database gives the base type.
  std::string sql = "SELECT type, length, prec, scale FROM " +
                    sqliteObjectName(ctx.databaseName(), "dbo", "systypes") + " WHERE name = ?1";
  sqlite3_stmt* st = nullptr;
  std::optional<TypeDesc> found;
  if (prepareSql(ctx.connection(), sql, &st) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, type.name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW)
      found = typeFromCode(sqlite3_column_int(st, 0), sqlite3_column_int(st, 1), sqlite3_column_int(st, 2),
                           sqlite3_column_int(st, 3));
  }
  sqlite3_finalize(st);
  if (!found) throw SqlError(2715, 16, "Can't find type '" + type.name + "'.");
  return *found;
}

std::optional<std::pair<int32_t, bool>> userTypeOf(BindContext& ctx, const TypeName& type) {
  if (builtinTypeDesc(type)) return std::nullopt;
  std::string sql = "SELECT usertype, allownulls FROM " +
                    sqliteObjectName(ctx.databaseName(), "dbo", "systypes") +
                    " WHERE name = ?1 AND usertype >= 100";
  sqlite3_stmt* st = nullptr;
  std::optional<std::pair<int32_t, bool>> found;
  if (prepareSql(ctx.connection(), sql, &st) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, type.name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW)
      found = std::make_pair(sqlite3_column_int(st, 0), sqlite3_column_int(st, 1) != 0);
  }
  sqlite3_finalize(st);
  return found;
}

TableInfo Binder::resolveTable(const ObjectName& name) {
  if (name.database.empty() && name.owner.empty())
    if (auto pseudo = ctx_.pseudoTable(name.name)) return *pseudo;
  ObjectRef ref{name.database, name.owner, name.name};
  if (!name.name.empty() && name.name[0] == '#') {
    ref.database = "tempdb";
    ref.name = ctx_.tempTableName(name.name);
  }
  CatalogCache* cache = ctx_.catalogCache();
  if (!ref.database.empty() &&
      !(cache ? cache->databaseExists(ref.database) : databaseExists(ctx_.connection(), ref.database)))
    throw unknownDatabase(ref.database);
  auto t = cache ? cache->resolveTable(ref, ctx_.databaseName(), ctx_.userName())
                 : tabsrv::resolveTable(ctx_.connection(), ref, ctx_.databaseName(), ctx_.userName());
  if (!t) throw objectNotFound(name.toSql());
  if (!name.name.empty() && name.name[0] == '#') t->name = name.name;
  return std::move(*t);
}

ScopeSource Binder::sourceFor(const TableInfo& table, const std::string& alias, const std::string& sqlAlias) {
  ScopeSource s;
  s.exposed = alias.empty() ? table.name : alias;
  s.table = table.name;
  s.owner = table.owner;
  s.database = table.database;
  s.sqlAlias = sqlAlias;
  for (const auto& c : table.columns) {
    ScopeColumn sc;
    sc.name = c.desc.name;
    sc.type = c.desc.type;
    sc.nullable = c.desc.nullable;
    sc.identity = c.identity || c.desc.identity;
    sc.sql = sqlAlias + "." + quoteIdent(c.sqliteName);
    s.columns.push_back(std::move(sc));
  }
  return s;
}

BoundExpr Binder::bindCondition(const Expr& expr, const Scope& scope) {
  return bindExpr(expr, scope);
}

BoundExpr Binder::bindLiteral(const LiteralExpr& e, std::optional<Value>* value) {
  BoundExpr b = bindLiteralValue(e, value);
  if (uses_ && e.token >= 0) {
    if (uses_->bound.size() <= static_cast<size_t>(e.token)) uses_->bound.resize(static_cast<size_t>(e.token) + 1);
    ++uses_->bound[static_cast<size_t>(e.token)];
    b.literal = &e;
  }
  return b;
}

BoundExpr Binder::bindLiteralValue(const LiteralExpr& e, std::optional<Value>* value) {
  BoundExpr b;
  b.nullable = false;
  // The value the literal's SQL computes, read back as its type (see bindPlainValue).
  auto computes = [value](Value v) {
    if (value) *value = std::move(v);
  };
  switch (e.literal) {
    case LiteralKind::Null:
      b.sql = "NULL";
      b.type = makeType(SqlType::Int);
      b.nullable = true;
      b.isNullLiteral = true;
      computes(Value{});
      break;
    case LiteralKind::Integer: {
      errno = 0;
      char* end = nullptr;
      long long v = std::strtoll(e.text.c_str(), &end, 10);
      if (errno == 0 && v >= std::numeric_limits<int32_t>::min() &&
          v <= std::numeric_limits<int32_t>::max()) {
        b.sql = std::to_string(v);
        b.type = makeType(SqlType::Int);
        computes(Value{static_cast<int64_t>(v)});
      } else {
        // Too big for an int: the family makes it a numeric with as many digits.
        auto d = parseDecimal(e.text);
        if (!d)
          throw SqlError(1007, 15,
                         "The number '" + e.text + "' is out of the range for numeric representation.");
        int digits = std::max(1, decimalDigits(*d));
        b.type = numericType(digits, 0);
        b.sql = quoteText(formatDecimal(*d));
        if (digits <= 38 && d->scale == 0) computes(Value{*d});
      }
      break;
    }
    case LiteralKind::Decimal:
    case LiteralKind::Money: {
      auto d = parseDecimal(e.text);
      if (!d)
        throw SqlError(1007, 15,
                       "The number '" + e.text + "' is out of the range for numeric representation.");
      if (e.literal == LiteralKind::Money) {
        auto r = rescaleDecimal(*d, 4);
        if (!r || !fitsMoney(*r))
          throw SqlError(1007, 15, "The number '" + e.text + "' is out of the range for money.");
        b.type = makeType(SqlType::Money);
        b.sql = quoteText(formatDecimal(*r));
        computes(Value{*r});
      } else {
        int digits = std::max<int>(decimalDigits(*d), d->scale + 1);
        b.type = numericType(std::min(digits, 38), d->scale);
        b.sql = quoteText(formatDecimal(*d));
        if (digits <= 38) computes(Value{*d});
      }
      break;
    }
    case LiteralKind::Float: {
      b.type = makeType(SqlType::Float);
      const double v = std::strtod(e.text.c_str(), nullptr);
      b.sql = literalSql(Value{v});
      if (std::isfinite(v)) computes(Value{v});
      break;
    }
    case LiteralKind::String:
      b.type = makeType(SqlType::VarChar, std::max<int32_t>(1, static_cast<int32_t>(e.text.size())));
      // The family has no empty string: '' is one blank ('abc' + '' + 'def' is 'abc def').
      b.sql = quoteText(e.text.empty() ? std::string(" ") : e.text);
      computes(Value{e.text.empty() ? std::string(" ") : e.text});
      break;
    case LiteralKind::Binary:
      b.type = makeType(SqlType::VarBinary, std::max<int32_t>(1, static_cast<int32_t>(e.bytes.size())));
      b.sql = literalSql(Value{e.bytes});
      computes(Value{e.bytes});
      break;
  }
  return b;
}

bool Binder::isPlainValue(const Expr& expr) {
  switch (expr.kind) {
    case ExprKind::Literal:
    case ExprKind::Variable:
    case ExprKind::Placeholder:
      return true;
    case ExprKind::Unary: {
      // -12, -1.5, -$2: a negative literal (as bindExpr reads it).
      const auto& u = expr.as<UnaryExpr>();
      if (u.op != UnaryOp::Negate || u.operand->kind != ExprKind::Literal) return false;
      const auto& lit = u.operand->as<LiteralExpr>();
      return (lit.literal == LiteralKind::Integer || lit.literal == LiteralKind::Decimal ||
              lit.literal == LiteralKind::Money) &&
             !lit.text.empty() && lit.text[0] != '-';
    }
    default:
      return false;
  }
}

std::optional<PlainValue> Binder::bindPlainValue(const Expr& expr, const TypeDesc* hint) {
  PlainValue p;
  switch (expr.kind) {
    case ExprKind::Literal:
    case ExprKind::Unary: {
      if (!isPlainValue(expr)) return std::nullopt;
      LiteralExpr negative;
      const LiteralExpr* lit = nullptr;
      if (expr.kind == ExprKind::Unary) {
        const auto& operand = expr.as<UnaryExpr>().operand->as<LiteralExpr>();
        negative.literal = operand.literal;
        negative.text = "-" + operand.text;
        lit = &negative;
      } else {
        lit = &expr.as<LiteralExpr>();
      }
      std::optional<Value> value;
      BoundExpr b = bindLiteral(*lit, &value);
      if (!value) return std::nullopt;
      p.value = std::move(*value);
      p.type = b.type;
      p.isNullLiteral = b.isNullLiteral;
      return p;
    }
    case ExprKind::Variable: {
      const auto& name = expr.as<VariableExpr>().name;
      if (noVariables_) throw SqlError(7351, 16, "Local or global variables not allowed in view definition.");
      Variable* v = ctx_.findVariable(name);
      if (!v) throw mustDeclare(name);
      p.value = v->value;
      p.type = v->type;
      return p;
    }
    case ExprKind::Placeholder: {
      auto [value, type] = ctx_.placeholder(expr.as<PlaceholderExpr>().index, hint);
      p.value = std::move(value);
      p.type = type;
      return p;
    }
    default:
      return std::nullopt;
  }
}

BoundExpr Binder::bindColumn(const ColumnRefExpr& e, const Scope& scope) {
  for (const Scope* s = &scope; s; s = s->outer) {
    const ScopeSource* foundSource = nullptr;
    const ScopeColumn* found = nullptr;
    bool prefixMatched = false;
    // syb_identity names the identity column, whatever it is called (when no column has that name).
    const bool identityAlias = equalsNoCase(e.column, "syb_identity");
    auto consider = [&](const ScopeSource& src, bool exact) {
      for (const auto& c : src.columns) {
        if (exact ? c.name == e.column : equalsNoCase(c.name, e.column) || (identityAlias && c.identity)) {
          if (found && foundSource != &src) throw ambiguousColumn(e.column);
          if (!found) {
            found = &c;
            foundSource = &src;
          }
          break;
        }
      }
    };
    for (int pass = 0; pass < 2 && !found; ++pass) {
      for (const auto& src : s->sources) {
        if (!e.table.empty()) {
          bool match = e.table.name == src.exposed || (src.exposed != src.table && e.table.name == src.table);
          if (match && !e.table.owner.empty() && e.table.owner != src.owner) match = false;
          if (match && !e.table.database.empty() && e.table.database != src.database) match = false;
          if (!match) continue;
          prefixMatched = true;
        }
        consider(src, pass == 0);
      }
    }
    if (found) {
      BoundExpr b;
      b.sql = found->sql;
      b.type = found->type;
      b.nullable = found->nullable;
      b.isColumn = true;
      b.identity = found->identity;
      b.name = found->name;
      b.table = foundSource->table;
      b.source = foundSource;
      return b;
    }
    if (prefixMatched) throw invalidColumn(e.column);
  }
  if (!e.table.empty()) {
    bool anyPrefix = false;
    for (const Scope* s = &scope; s; s = s->outer)
      for (const auto& src : s->sources)
        if (e.table.name == src.exposed || e.table.name == src.table) anyPrefix = true;
    if (!anyPrefix) throw badColumnPrefix(e.table.toSql());
  }
  throw invalidColumn(e.column);
}

namespace {

// The t_convert target arguments of a datetime or smalldatetime.
std::string dateTimeTarget(const TypeDesc& t) {
  return t.type == SqlType::SmallDateTime ? std::to_string(kCodeSmallDateTime) + ", 4, 0, 0"
                                          : std::to_string(kCodeDateTime) + ", 8, 0, 0";
}

}  // namespace

// The SQL of exact value `x` as the approximate type `approx` it is compared with. Against a
// real it is rounded to real as a stored real was: a real column holding 0.1 equals 0.1.
// `sql` is x's SQL as the comparison writes it (a constant of a WHERE clause as its parameter).
static std::string approximateSide(const std::string& sql, const BoundExpr& x, const TypeDesc& approx) {
  if (approx.type == SqlType::Real)
    return "t_convert(" + sql + ", " + std::to_string(kCodeReal) + ", 4, 0, 0, 0, " + sourceCode(x.type) + ")";
  return "CAST(" + sql + " AS REAL)";
}

BoundExpr Binder::compare(BinaryOp op, const BoundExpr& a, const BoundExpr& b) {
  if (!a.isNullLiteral && !b.isNullLiteral && !implicitlyComparable(a.type, b.type)) {
    bool aLower = typeRank(a.type.type) < typeRank(b.type.type);
    throw conversionError(ConversionError::ImplicitNotAllowed, ConversionKind::Implicit,
                          aLower ? a.type.type : b.type.type, aLower ? b.type.type : a.type.type);
  }
  TypeClass ca = typeClass(a.type.type), cb = typeClass(b.type.type);
  // A stored exact column against a constant or variable compares under the column's t_decimal
  // collation (the constant as text), which keeps its index usable (see below).
  const bool exact = !a.isNullLiteral && !b.isNullLiteral && (isExactClass(a.type) || isExactClass(b.type)) &&
                     ca != TypeClass::Approx && cb != TypeClass::Approx;
  auto constant = [](const BoundExpr& x) {
    return !x.isColumn && !x.sql.empty() &&
           (x.sql[0] == '\'' || x.sql[0] == '?' || std::isdigit(static_cast<unsigned char>(x.sql[0])) ||
            (x.sql[0] == '-' && x.sql.size() > 1 && std::isdigit(static_cast<unsigned char>(x.sql[1]))));
  };
  auto asText = [this](const BoundExpr& x) {
    return x.sql[0] == '?' ? x.sql + " COLLATE t_decimal"
                           : comparedLiteral(x.sql[0] == '\'' ? x.sql : quoteText(x.sql), &x) + " COLLATE t_decimal";
  };
  const bool storedA = a.isColumn && !a.table.empty() && isExactClass(a.type);
  const bool storedB = b.isColumn && !b.table.empty() && isExactClass(b.type);
  const bool textB = exact && storedA && constant(b);
  const bool textA = exact && !textB && storedB && constant(a);
  // Each operand's SQL is written once: a literal made a parameter is added once.
  std::string left = textA ? asText(a) : a.isNullLiteral ? a.sql : comparedLiteral(a.sql, &a);
  std::string right = textB ? asText(b) : b.isNullLiteral ? b.sql : comparedLiteral(b.sql, &b);
  if (a.isNullLiteral || b.isNullLiteral || textA || textB) {
    // nothing to convert
  } else if (ca == TypeClass::DateTime && cb == TypeClass::String) {
    // The string becomes the other side's type: against a smalldatetime it is rounded to the
    // minute as a stored value is ('04:05:29' equals a smalldatetime of 04:05).
    right = "t_convert(" + right + ", " + dateTimeTarget(a.type) + ")";
  } else if (cb == TypeClass::DateTime && ca == TypeClass::String) {
    left = "t_convert(" + left + ", " + dateTimeTarget(b.type) + ")";
  } else if (ca == TypeClass::String && cb == TypeClass::String) {
    // Trailing blanks do not count: 'abc' = 'abc  '.
    right = "(" + right + ") COLLATE RTRIM";
  } else if (ca == TypeClass::Approx && isExactClass(b.type)) {
    // float against an exact value compares as float. The exact side is decimal text, which
    // SQLite orders after every number unless a column's affinity converts it: @f < 0.6 would
    // be true for any @f.
    right = approximateSide(right, b, a.type);
  } else if (cb == TypeClass::Approx && isExactClass(a.type)) {
    left = approximateSide(left, a, b.type);
  }
  bool nullEquality =
      !ctx_.ansiNull() && (a.isNullLiteral || b.isNullLiteral || a.isVariable || b.isVariable);
  if (exact && !textA && !textB) {
    // Anything but a stored exact column against a constant goes through t_exact_cmp: SQLite
    // would otherwise turn decimal text into a REAL and lose digits.
    if (!(storedA && storedB)) {
      std::string cmp = "t_exact_cmp(" + left + ", " + right + ") " + comparisonSql(op) + " 0";
      // With ansinull off a NULL variable equals NULL: `@v = NULL` is true.
      if (nullEquality && op == BinaryOp::Eq)
        cmp = "coalesce(" + cmp + ", " + left + " IS NULL AND " + right + " IS NULL)";
      else if (nullEquality && op == BinaryOp::Ne)
        cmp = "coalesce(" + cmp + ", " + left + " IS NOT NULL OR " + right + " IS NOT NULL)";
      BoundExpr r = boolean("(" + cmp + ")");
      r.hasAggregate = a.hasAggregate || b.hasAggregate;
      return r;
    }
  }
  std::string opSql = comparisonSql(op);
  if (nullEquality && (op == BinaryOp::Eq || op == BinaryOp::Ne))
    opSql = op == BinaryOp::Eq ? "IS" : "IS NOT";
  BoundExpr r = boolean("(" + left + " " + opSql + " " + right + ")");
  r.hasAggregate = a.hasAggregate || b.hasAggregate;
  return r;
}

BoundExpr Binder::bindHinted(const Expr& expr, const Scope& scope, const TypeDesc* hint) {
  if (expr.kind != ExprKind::Placeholder) return bindExpr(expr, scope);
  auto [value, type] = ctx_.placeholder(expr.as<PlaceholderExpr>().index, hint);
  BoundExpr b;
  b.sql = addParam(value);
  b.type = type;
  b.nullable = true;
  b.isVariable = true;
  return b;
}

BoundExpr Binder::bindBinary(const BinaryExpr& e, const Scope& scope) {
  // `col = ?`, `? < col`: a marker takes the type of the other side.
  // Beside a string in `+` (a concatenation) the marker is a string of its own length, not the
  // other operand's: ? + '|' must not make the marker varchar(1).
  auto hintFor = [&](const BoundExpr& other) -> const TypeDesc* {
    if (e.op == BinaryOp::Add && isStringType(other.type.type)) return nullptr;
    return &other.type;
  };
  BoundExpr a, b;
  if (e.left->kind == ExprKind::Placeholder && e.right->kind != ExprKind::Placeholder) {
    b = bindExpr(*e.right, scope);
    a = bindHinted(*e.left, scope, hintFor(b));
  } else {
    a = bindExpr(*e.left, scope);
    b = bindHinted(*e.right, scope, hintFor(a));
  }
  // `status & 0x80`, `status & 0x80 = 0x80`: a binary constant beside an integer counts as the int
  // it spells (its last four bytes), so bitwise operators and comparisons work on flag words.
  auto binaryAsInt = [](const Expr& x, BoundExpr& bound) {
    if (!x.is<LiteralExpr>() || x.as<LiteralExpr>().literal != LiteralKind::Binary) return;
    const Bytes& bytes = x.as<LiteralExpr>().bytes;
    uint32_t v = 0;
    size_t from = bytes.size() > 4 ? bytes.size() - 4 : 0;
    for (size_t i = from; i < bytes.size(); ++i) v = (v << 8) | bytes[i];
    bound.type = makeType(SqlType::Int);
    bound.sql = std::to_string(static_cast<int32_t>(v));
  };
  if (e.op != BinaryOp::Add && e.op != BinaryOp::And && e.op != BinaryOp::Or) {
    if (typeClass(a.type.type) == TypeClass::Integer) binaryAsInt(*e.right, b);
    if (typeClass(b.type.type) == TypeClass::Integer) binaryAsInt(*e.left, a);
  }
  BoundExpr r;
  r.nullable = a.nullable || b.nullable;
  r.hasAggregate = a.hasAggregate || b.hasAggregate;
  auto arith = [&](ArithOp op, const char* sqlOp) {
    if (a.isNullLiteral || b.isNullLiteral) {
      r.type = a.isNullLiteral ? b.type : a.type;
      r.sql = "NULL";
      return;
    }
    auto t = arithmeticType(op, a.type, b.type);
    // 'a' - 'b', getdate() - getdate(): no conversion would help, the operator has no meaning
    // for the type.
    if (!t && typeClass(a.type.type) == typeClass(b.type.type) && !isArithmeticType(a.type.type))
      throw SqlError(403, 16,
                     std::string("Invalid operator for datatype op: ") + sqlOp +
                         " type: " + std::string(typeMessageName(a.type.type)));
    if (!t) {
      bool aLower = typeRank(a.type.type) < typeRank(b.type.type);
      throw conversionError(ConversionError::ImplicitNotAllowed, ConversionKind::Implicit,
                            aLower ? a.type.type : b.type.type, aLower ? b.type.type : a.type.type);
    }
    r.type = *t;
    // With set arithignore a zero divisor or an overflow gives NULL.
    if (op == ArithOp::Div || op == ArithOp::Mod || isExactClass(*t)) r.nullable = true;
    if (isExactClass(*t)) {
      // Exact arithmetic: one t_exact call per chain of steps, each step with its own result type.
      char c = op == ArithOp::Add ? '+' : op == ArithOp::Sub ? '-' : op == ArithOp::Mul ? '*' : op == ArithOp::Div ? '/' : '%';
      std::string step = exactStep(c, *t);
      r.chain = 'x';
      if (a.chain == 'x' && a.chainTerms < kMaxExactTerms && enclosedBy(a.sql, "t_exact(")) {
        r.chainTerms = a.chainTerms + 1;
        r.sql = a.sql.substr(0, a.sql.size() - 1) + ", " + step + ", " + b.sql + ")";
      } else {
        r.chainTerms = 2;
        r.sql = "t_exact(" + a.sql + ", " + step + ", " + b.sql + ")";
      }
      return;
    }
    bool integer = typeClass(t->type) == TypeClass::Integer;
    if (op == ArithOp::Div)
      r.sql = "tx_div(" + a.sql + ", " + b.sql + ", " + (integer ? "1" : "0") + ")";
    else if (op == ArithOp::Mod)
      r.sql = "tx_mod(" + a.sql + ", " + b.sql + ", " + (integer ? "1" : "0") + ")";
    else if (typeClass(t->type) != TypeClass::Approx)
      r.sql = joinChain(a, op == ArithOp::Mul ? '*' : op == ArithOp::Add || op == ArithOp::Sub ? '+' : 0,
                        "(", std::string(" ") + sqlOp + " ", b.sql, r);
    else {
      // SQLite's float arithmetic overflows to an infinity: tx_float checks the chain's result,
      // so it fails as 3606. The chain stays flat inside the check: "tx_float((a * b * c), 0)".
      const std::string close = t->type == SqlType::Real ? ", 1)" : ", 0)";
      const char kind = op == ArithOp::Mul ? 'F' : 'f';
      BoundExpr inner = a;
      if (a.chain == kind && a.sql.rfind("tx_float(", 0) == 0 && a.sql.size() > 9 + close.size() &&
          a.sql.compare(a.sql.size() - close.size(), close.size(), close) == 0) {
        inner.sql = a.sql.substr(9, a.sql.size() - 9 - close.size());
        inner.chain = op == ArithOp::Mul ? '*' : '+';
      } else {
        inner.chain = 0;
      }
      r.sql = "tx_float(" +
              joinChain(inner, op == ArithOp::Mul ? '*' : '+', "(", std::string(" ") + sqlOp + " ", b.sql, r) +
              close;
      r.chain = kind;
      r.nullable = true;
    }
  };
  switch (e.op) {
    case BinaryOp::Add: {
      TypeClass ca = typeClass(a.type.type), cb = typeClass(b.type.type);
      bool strA = ca == TypeClass::String || a.isNullLiteral,
           strB = cb == TypeClass::String || b.isNullLiteral;
      bool binA = ca == TypeClass::Binary || a.isNullLiteral,
           binB = cb == TypeClass::Binary || b.isNullLiteral;
      if ((strA && strB && (ca == TypeClass::String || cb == TypeClass::String)) ||
          (binA && binB && (ca == TypeClass::Binary || cb == TypeClass::Binary))) {
        r.type = concatType(a.isNullLiteral ? b.type : a.type, b.isNullLiteral ? a.type : b.type);
        r.sql = joinChain(a, 'c', "tx_concat(", ", ", b.sql, r);
        r.nullable = a.nullable && b.nullable;
        return r;
      }
      arith(ArithOp::Add, "+");
      return r;
    }
    case BinaryOp::Sub:
      arith(ArithOp::Sub, "-");
      return r;
    case BinaryOp::Mul:
      arith(ArithOp::Mul, "*");
      return r;
    case BinaryOp::Div:
      arith(ArithOp::Div, "/");
      return r;
    case BinaryOp::Mod:
      arith(ArithOp::Mod, "%");
      return r;
    case BinaryOp::BitAnd:
    case BinaryOp::BitOr:
    case BinaryOp::BitXor: {
      auto t = arithmeticType(ArithOp::Add, a.type, b.type);
      if (!t || typeClass(t->type) != TypeClass::Integer)
        throw SqlError(403, 16,
                       std::string("Invalid operator for datatype op: ") + binaryOpText(e.op) +
                           " type: " + std::string(typeMessageName(a.type.type)));
      r.type = *t;
      if (e.op == BinaryOp::BitXor)
        r.sql = "tx_xor(" + a.sql + ", " + b.sql + ")";
      else
        r.sql = "(" + a.sql + (e.op == BinaryOp::BitAnd ? " & " : " | ") + b.sql + ")";
      return r;
    }
    case BinaryOp::And:
    case BinaryOp::Or: {
      BoundExpr x = boolean("(" + a.sql + (e.op == BinaryOp::And ? " AND " : " OR ") + b.sql + ")");
      x.hasAggregate = r.hasAggregate;
      return x;
    }
    default:
      return compare(e.op, a, b);
  }
}

BoundExpr Binder::subquery(const SelectStatement& q, const Scope& scope, bool requireOneColumn) {
  BoundQuery bq = bindQuery(q, &scope);
  if (requireOneColumn && bq.columns.size() != 1)
    throw SqlError(116, 15,
                   "Only one expression can be specified in the select list when the subquery is not "
                   "introduced with EXISTS.");
  BoundExpr b;
  b.sql = "(" + bq.sql + ")";
  if (!bq.columns.empty()) b.type = bq.columns[0].type;
  b.nullable = true;
  return b;
}

BoundExpr Binder::bindCase(const CaseExpr& e, const Scope& scope) {
  std::optional<BoundExpr> operand;
  if (e.operand) operand = bindExpr(*e.operand, scope);
  std::vector<BoundExpr> results;
  std::string sql = "CASE";
  bool agg = operand && operand->hasAggregate;
  for (const auto& w : e.whens) {
    BoundExpr cond =
        operand ? compare(BinaryOp::Eq, *operand, bindExpr(*w.when, scope)) : bindExpr(*w.when, scope);
    BoundExpr then = bindExpr(*w.then, scope);
    agg = agg || cond.hasAggregate || then.hasAggregate;
    sql += " WHEN " + cond.sql + " THEN " + then.sql;
    results.push_back(std::move(then));
  }
  bool nullable = !e.elseValue;
  if (e.elseValue) {
    BoundExpr other = bindExpr(*e.elseValue, scope);
    sql += " ELSE " + other.sql;
    results.push_back(std::move(other));
  }
  sql += " END";
  BoundExpr r;
  r.sql = "(" + sql + ")";
  r.type = commonOf(results);
  r.hasAggregate = agg;
  r.nullable = nullable;
  for (const auto& x : results) r.nullable = r.nullable || x.nullable;
  return r;
}

BoundExpr Binder::bindConvert(const ConvertExpr& e, const Scope& scope) {
  TypeDesc to = resolveTypeName(ctx_, e.type);
  // convert(varchar, x) without a length takes 30 characters, as the family does.
  if (e.type.args.empty() && (to.type == SqlType::Char || to.type == SqlType::VarChar ||
                              to.type == SqlType::Binary || to.type == SqlType::VarBinary))
    to.length = 30;
  BoundExpr v = bindExpr(*e.value, scope);
  if (!v.isNullLiteral && !explicitConversionAllowed(v.type.type, to.type))
    throw conversionError(ConversionError::ExplicitNotAllowed, ConversionKind::Explicit, v.type.type,
                          to.type);
  std::string style = "0";
  if (e.style) style = bindExpr(*e.style, scope).sql;
  BoundExpr r;
  r.sql = "t_convert(" + v.sql + ", " + std::to_string(typeCode(to.type)) + ", " + std::to_string(to.length) +
          ", " + std::to_string(to.precision) + ", " + std::to_string(to.scale) + ", " + style + ", " +
          sourceCode(v.type) + ")";
  r.type = to;
  r.nullable = v.nullable;
  r.hasAggregate = v.hasAggregate;
  return r;
}

BoundExpr Binder::bindFunction(const FunctionExpr& e, const Scope& scope) {
  const std::string& name = e.name;
  if (isAggregateName(name)) {
    if (aggregateDepth_ > 0)
      throw SqlError(130, 16,
                     "Cannot perform an aggregate function on an expression containing an aggregate or a "
                     "subquery.");
    BoundExpr r;
    r.hasAggregate = true;
    if (e.star) {
      r.sql = "count(*)";
      r.type = makeType(SqlType::Int);
      r.nullable = false;
      if (aggregateCapture_) {
        aggregateCapture_->push_back(r.sql);
        r.sql = captureAlias_ + ".\"a" + std::to_string(aggregateCapture_->size()) + "\"";
      }
      return r;
    }
    if (e.args.size() != 1) throw wrongArgumentCount(name, 1);
    ++aggregateDepth_;
    BoundExpr a = bindExpr(*e.args[0], scope);
    --aggregateDepth_;
    std::string distinct = e.distinct ? "DISTINCT " : "";
    if (name == "count") {
      r.sql = "count(" + distinct + a.sql + ")";
      r.type = makeType(SqlType::Int);
      r.nullable = false;
    } else if (name == "sum" || name == "avg") {
      if (!isArithmeticType(a.type.type))
        throw SqlError(409, 16,
                       "The " + name + " operation cannot take a " +
                           std::string(typeMessageName(a.type.type)) + " datatype as an argument.");
      r.type = name == "sum" ? sumType(a.type) : avgType(a.type);
      bool integer = typeClass(r.type.type) == TypeClass::Integer;
      if (isExactClass(r.type) && name == "sum")
        r.sql = "t_exact_fit(t_exact_sum(" + distinct + a.sql + "), " + exactStep('=', r.type) + ")";
      else if (isExactClass(r.type))
        // The exact sum divided by the count at the result's scale (truncated, money rounded).
        r.sql = "t_exact(t_exact_sum(" + distinct + a.sql + "), " + exactStep('/', r.type) + ", count(" + distinct +
                a.sql + "))";
      else if (name == "sum")
        r.sql = "sum(" + distinct + a.sql + ")";
      else
        // avg of an int column is an int: the sum divided by the count, truncated.
        r.sql = integer ? "CAST(avg(" + distinct + a.sql + ") AS INTEGER)" : "avg(" + distinct + a.sql + ")";
    } else if (isExactClass(a.type)) {
      // min/max in exact order: canonical text under the t_decimal collation.
      std::string value = a.isColumn ? a.sql : "t_exact_fit(" + a.sql + ", " + exactStep('=', a.type) + ")";
      r.sql = name + "(" + value + " COLLATE t_decimal)";
      r.type = a.type;
    } else {
      r.sql = name + "(" + a.sql + ")";
      r.type = a.type;
    }
    if (aggregateCapture_) {
      aggregateCapture_->push_back(r.sql);
      r.sql = captureAlias_ + ".\"a" + std::to_string(aggregateCapture_->size()) + "\"";
    }
    return r;
  }

  if (name == "identity") {
    // select identity(8) as id, ... into t: only SELECT INTO makes an identity column.
    long precision = 0;
    if (identityFunction_ && e.args.size() == 1 && e.args[0]->is<LiteralExpr>() &&
        e.args[0]->as<LiteralExpr>().literal == LiteralKind::Integer)
      precision = std::strtol(e.args[0]->as<LiteralExpr>().text.c_str(), nullptr, 10);
    if (precision < 1 || precision > 38) throw SqlError(102, 15, "Incorrect syntax near 'identity'.");
    BoundExpr r;
    r.sql = "NULL";
    r.type = numericType(static_cast<int>(precision), 0);
    r.nullable = false;
    r.identity = true;
    return r;
  }
  std::vector<BoundExpr> args;
  if (name == "isnull" || name == "coalesce" || name == "nullif") {
    // isnull(?, flag): a parameter marker takes the type of the first other argument.
    std::vector<std::optional<BoundExpr>> bound(e.args.size());
    std::optional<TypeDesc> hint;
    for (size_t i = 0; i < e.args.size(); ++i) {
      if (e.args[i]->kind == ExprKind::Placeholder) continue;
      bound[i] = bindExpr(*e.args[i], scope);
      if (!hint && !bound[i]->isNullLiteral) hint = bound[i]->type;
    }
    for (size_t i = 0; i < e.args.size(); ++i)
      args.push_back(bound[i] ? std::move(*bound[i]) : bindHinted(*e.args[i], scope, hint ? &*hint : nullptr));
    if (name == "isnull" && args.size() != 2) throw wrongArgumentCount(name, 2);
    if (name == "nullif" && args.size() != 2) throw wrongArgumentCount(name, 2);
    if (args.empty()) throw wrongArgumentCount(name, 2);
    BoundExpr r;
    r.type = name == "nullif" ? args[0].type : commonOf(args);
    std::string sql = (name == "nullif" ? "nullif(" : "coalesce(");
    r.nullable = true;
    bool allNullable = true;
    for (size_t i = 0; i < args.size(); ++i) {
      sql += (i ? ", " : "") + args[i].sql;
      allNullable = allNullable && args[i].nullable;
      r.hasAggregate = r.hasAggregate || args[i].hasAggregate;
    }
    r.sql = sql + ")";
    r.nullable = name == "nullif" || allNullable;
    return r;
  }

  if (name == "datalength" && e.args.size() == 1) {
    // A fixed-length type takes its own length (int 4, datetime 8, numeric by its precision),
    // whatever form SQLite keeps it in; character and binary values their bytes.
    BoundExpr a = bindExpr(*e.args[0], scope);
    int32_t fixed = fixedLength(a.type.type);
    if (a.type.type == SqlType::Numeric || a.type.type == SqlType::Decimal)
      fixed = numericLength(a.type.precision ? a.type.precision : 18);
    BoundExpr r;
    r.type = makeType(SqlType::Int);
    r.hasAggregate = a.hasAggregate;
    r.sql = fixed > 0 && !a.isNullLiteral
                ? "(CASE WHEN " + a.sql + " IS NULL THEN NULL ELSE " + std::to_string(fixed) + " END)"
                : "t_datalength(" + a.sql + ")";
    return r;
  }

  if (name == "textptr") {
    // textptr(col): the pointer readtext and writetext take to one row's text or image value
    // (NULL while the value is NULL).
    if (e.args.size() != 1 || !e.args[0]->is<ColumnRefExpr>()) throw wrongArgumentCount(name, 1);
    BoundExpr column = bindExpr(*e.args[0], scope);
    if (column.type.type != SqlType::Text && column.type.type != SqlType::Image)
      throw SqlError(7113, 16, "textptr needs a text or image column; '" + column.name + "' is not one.");
    const ScopeSource* src = column.source;
    std::optional<TableInfo> t;
    if (src && !src->table.empty()) {
      tsql::ObjectName n;
      n.database = src->database;
      n.owner = src->owner;
      n.name = src->table;
      t = resolveTable(n);
    }
    if (!t || t->type != "U" || !t->findColumn(column.name))
      throw SqlError(7113, 16, "textptr needs a column of a table; '" + column.name + "' is not one.");
    std::optional<DatabaseInfo> d = findDatabase(ctx_.connection(), t->database);
    BoundExpr r;
    r.sql = "tx_textptr(" + std::to_string(d ? d->dbid : 0) + ", " + std::to_string(t->id) + ", " +
            std::to_string(t->findColumn(column.name)->colid) + ", " + src->sqlAlias + ".rowid, " + column.sql + ")";
    r.type = makeType(SqlType::VarBinary, 16);
    r.hasAggregate = column.hasAggregate;
    return r;
  }

  if (name == "textvalid") {
    // textvalid('table.column', pointer): 1 while the pointer names a row of that column whose
    // value is not NULL, else 0.
    if (e.args.size() != 2) throw wrongArgumentCount(name, 2);
    const Expr& target = *e.args[0];
    if (!target.is<LiteralExpr>() || target.as<LiteralExpr>().literal != LiteralKind::String)
      throw SqlError(7113, 16, "textvalid needs the column as a string 'table.column'.");
    const std::string& spelled = target.as<LiteralExpr>().text;
    size_t dot = spelled.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == spelled.size())
      throw SqlError(7113, 16, "textvalid needs the column as a string 'table.column'; '" + spelled + "' is not one.");
    TableInfo t = resolveTable(splitDottedName(spelled.substr(0, dot)));
    const CatalogColumn* c = t.findColumn(spelled.substr(dot + 1));
    if (!c) throw invalidColumn(spelled.substr(dot + 1));
    if (t.type != "U" || (c->desc.type.type != SqlType::Text && c->desc.type.type != SqlType::Image))
      throw SqlError(7113, 16, "textvalid needs a text or image column of a table; '" + spelled + "' is not one.");
    BoundExpr pointer = bindExpr(*e.args[1], scope);
    std::optional<DatabaseInfo> d = findDatabase(ctx_.connection(), t.database);
    BoundExpr r;
    r.sql = "(SELECT count(*) FROM " + t.sqliteName + " WHERE rowid = tx_text_row(" + std::to_string(d ? d->dbid : 0) +
            ", " + std::to_string(t.id) + ", " + std::to_string(c->colid) + ", " + pointer.sql + ") AND " +
            quoteIdent(c->sqliteName) + " IS NOT NULL)";
    r.type = makeType(SqlType::Int);
    r.hasAggregate = pointer.hasAggregate;
    return r;
  }

  if (name == "update") {
    // if update(col) in a trigger body: a constant for the firing statement.
    if (e.args.size() != 1 || !e.args[0]->is<ColumnRefExpr>() || !e.args[0]->as<ColumnRefExpr>().table.empty())
      throw SqlError(102, 15, "Incorrect syntax near 'update'.");
    std::optional<bool> set = ctx_.columnUpdated(e.args[0]->as<ColumnRefExpr>().column);
    if (!set) throw SqlError(102, 15, "Incorrect syntax near 'update': update() tests a column only in a trigger.");
    return boolean(*set ? "1" : "0", false);
  }

  const BuiltinFunction* fn = findBuiltin(name);
  if (!fn) throw unknownFunction(name);
  int n = static_cast<int>(e.args.size());
  if (n < fn->minArgs || n > fn->maxArgs) throw wrongArgumentCount(name, fn->minArgs);
  std::vector<TypeDesc> types;
  std::string sql = std::string(fn->sqliteName) + "(";
  BoundExpr r;
  for (int i = 0; i < n; ++i) {
    std::string argSql;
    if (i == 0 && fn->firstArg == ArgKind::DatePart) {
      // dateadd(mm, ...): the part is a bare word (or a string); pass its canonical name.
      std::string word;
      const Expr& a = *e.args[0];
      if (a.is<ColumnRefExpr>() && a.as<ColumnRefExpr>().table.empty())
        word = a.as<ColumnRefExpr>().column;
      else if (a.is<LiteralExpr>() && a.as<LiteralExpr>().literal == LiteralKind::String)
        word = a.as<LiteralExpr>().text;
      std::string_view part = canonicalDatePart(word);
      if (part.empty()) throw SqlError(155, 15, "'" + word + "' is not a recognized " + name + " option.");
      argSql = quoteText(part);
      types.push_back(makeType(SqlType::VarChar, static_cast<int32_t>(part.size())));
    } else {
      BoundExpr a = bindExpr(*e.args[i], scope);
      r.hasAggregate = r.hasAggregate || a.hasAggregate;
      argSql = a.sql;
      types.push_back(a.type);
    }
    sql += (i ? ", " : "") + argSql;
  }
  r.sql = sql + ")";
  r.type = fn->resultType(types);
  r.nullable = true;
  return r;
}

BoundExpr Binder::bindExpr(const Expr& expr, const Scope& scope) {
  switch (expr.kind) {
    case ExprKind::Literal:
      return bindLiteral(expr.as<LiteralExpr>());
    case ExprKind::ColumnRef:
      return bindColumn(expr.as<ColumnRefExpr>(), scope);
    case ExprKind::Star:
      throw SqlError(102, 15, "Incorrect syntax near '*'.");
    case ExprKind::Variable: {
      const auto& name = expr.as<VariableExpr>().name;
      if (noVariables_) throw SqlError(7351, 16, "Local or global variables not allowed in view definition.");
      Variable* v = ctx_.findVariable(name);
      if (!v) throw mustDeclare(name);
      BoundExpr b;
      b.sql = addParam(v->value);
      b.type = v->type;
      b.nullable = true;
      b.isVariable = true;
      return b;
    }
    case ExprKind::Placeholder:
      return bindHinted(expr, scope, nullptr);
    case ExprKind::Global: {
      const auto& name = expr.as<GlobalExpr>().name;
      auto g = ctx_.global(name);
      if (!g) throw mustDeclare(name);
      BoundExpr b;
      b.sql = literalSql(g->first);
      b.type = g->second;
      b.nullable = isNull(g->first);
      b.isNullLiteral = false;
      return b;
    }
    case ExprKind::Unary: {
      const auto& u = expr.as<UnaryExpr>();
      if (u.op == UnaryOp::Negate && u.operand->kind == ExprKind::Literal) {
        // -2147483648 and -922337203685477.5808 are literals of their own: negating the positive
        // one would overflow the type (or go through REAL and lose the last digits).
        const auto& lit = u.operand->as<LiteralExpr>();
        if ((lit.literal == LiteralKind::Integer || lit.literal == LiteralKind::Decimal ||
             lit.literal == LiteralKind::Money) &&
            !lit.text.empty() && lit.text[0] != '-') {
          LiteralExpr negative;
          negative.literal = lit.literal;
          negative.text = "-" + lit.text;
          return bindLiteral(negative);
        }
      }
      BoundExpr a = bindExpr(*u.operand, scope);
      BoundExpr r = a;
      r.isColumn = false;
      r.isVariable = false;
      r.identity = false;
      r.name.clear();
      switch (u.op) {
        case UnaryOp::Negate:
          if (!isArithmeticType(a.type.type) && !a.isNullLiteral)
            throw SqlError(
                403, 16,
                "Invalid operator for datatype op: - type: " + std::string(typeMessageName(a.type.type)));
          r.sql = isExactClass(a.type) ? "t_exact(0, " + exactStep('-', a.type) + ", " + a.sql + ")"
                                       : "(-" + a.sql + ")";
          if (r.type.type == SqlType::Bit || r.type.type == SqlType::TinyInt) r.type = makeType(SqlType::Int);
          break;
        case UnaryOp::Plus:
          break;
        case UnaryOp::BitNot:
          r.sql = "(~" + a.sql + ")";
          break;
        case UnaryOp::Not:
          r = boolean("(NOT " + a.sql + ")");
          r.hasAggregate = a.hasAggregate;
          break;
      }
      return r;
    }
    case ExprKind::Binary:
      return bindBinary(expr.as<BinaryExpr>(), scope);
    case ExprKind::Between: {
      const auto& b = expr.as<BetweenExpr>();
      BoundExpr x = bindExpr(*b.operand, scope);
      BoundExpr lo = compare(BinaryOp::Ge, x, bindHinted(*b.low, scope, &x.type));
      BoundExpr hi = compare(BinaryOp::Le, x, bindHinted(*b.high, scope, &x.type));
      BoundExpr r = boolean("(" + lo.sql + " AND " + hi.sql + ")");
      if (b.negated) r.sql = "(NOT " + r.sql + ")";
      r.hasAggregate = lo.hasAggregate || hi.hasAggregate;
      return r;
    }
    case ExprKind::InList: {
      const auto& in = expr.as<InListExpr>();
      BoundExpr x = bindExpr(*in.operand, scope);
      std::vector<std::string> terms;
      bool agg = x.hasAggregate;
      for (const auto& item : in.list) {
        BoundExpr v = bindHinted(*item, scope, &x.type);
        // `x in (NULL)` never matches, whatever ansinull says: where compare() lets NULL equal
        // NULL (ansinull off, a NULL or a variable on either side), x must not be NULL. (Decided
        // from the operands, not the text, which a string literal holding " IS " also matches.)
        const bool nullEquality =
            !ctx_.ansiNull() && (x.isNullLiteral || v.isNullLiteral || x.isVariable || v.isVariable);
        BoundExpr c = compare(BinaryOp::Eq, x, v);
        if (nullEquality) c.sql = "(" + c.sql + " AND " + x.sql + " IS NOT NULL)";
        agg = agg || c.hasAggregate;
        terms.push_back(std::move(c.sql));
      }
      std::string sql = balancedJoin(terms, " OR ");
      BoundExpr r = boolean(in.negated ? "(NOT (" + sql + "))" : "(" + sql + ")");
      r.hasAggregate = agg;
      return r;
    }
    case ExprKind::InSubquery: {
      const auto& in = expr.as<InSubqueryExpr>();
      BoundExpr x = bindExpr(*in.operand, scope);
      BoundExpr q = subquery(*in.query, scope, true);
      std::string left = x.sql;
      if (isStringType(x.type.type)) left = "(" + left + " COLLATE RTRIM)";
      BoundExpr r = boolean("(" + left + (in.negated ? " NOT IN " : " IN ") + q.sql + ")");
      r.hasAggregate = x.hasAggregate;
      return r;
    }
    case ExprKind::Like: {
      const auto& l = expr.as<LikeExpr>();
      BoundExpr x = bindExpr(*l.operand, scope);
      BoundExpr p = bindHinted(*l.pattern, scope, &x.type);
      std::string sql = "tx_like(" + x.sql + ", " + p.sql;
      if (l.escape) sql += ", " + bindExpr(*l.escape, scope).sql;
      sql += ")";
      BoundExpr r = boolean(l.negated ? "(NOT " + sql + ")" : sql);
      r.hasAggregate = x.hasAggregate;
      return r;
    }
    case ExprKind::IsNull: {
      const auto& n = expr.as<IsNullExpr>();
      BoundExpr x = bindExpr(*n.operand, scope);
      BoundExpr r = boolean("(" + x.sql + (n.negated ? " IS NOT NULL)" : " IS NULL)"), false);
      r.hasAggregate = x.hasAggregate;
      return r;
    }
    case ExprKind::Exists: {
      BoundQuery q = bindQuery(*expr.as<ExistsExpr>().query, &scope);
      return boolean("(EXISTS (" + q.sql + "))", false);
    }
    case ExprKind::Subquery: {
      // A subquery used as a value must give at most one row (512 otherwise).
      BoundExpr b = subquery(*expr.as<SubqueryExpr>().query, scope, true);
      b.sql = "(SELECT tx_single(\"c1\") FROM " + b.sql + ")";
      return b;
    }
    case ExprKind::Quantified: {
      const auto& q = expr.as<QuantifiedExpr>();
      BoundExpr x = bindExpr(*q.left, scope);
      BoundQuery bq = bindQuery(*q.query, &scope);
      if (bq.columns.size() != 1)
        throw SqlError(116, 15,
                       "Only one expression can be specified in the select list when the subquery is not "
                       "introduced with EXISTS.");
      std::string alias = newAlias();
      BoundExpr inner;
      inner.sql = alias + ".\"c1\"";
      inner.type = bq.columns[0].type;
      inner.isColumn = true;
      BoundExpr c = compare(q.op, x, inner);
      // x > ALL (q): no row of q fails the comparison; x > ANY (q): some row passes it.
      std::string sql =
          q.all ? "(NOT EXISTS (SELECT 1 FROM (" + bq.sql + ") AS " + alias + " WHERE NOT " + c.sql + "))"
                : "(EXISTS (SELECT 1 FROM (" + bq.sql + ") AS " + alias + " WHERE " + c.sql + "))";
      return boolean(sql);
    }
    case ExprKind::Case:
      return bindCase(expr.as<CaseExpr>(), scope);
    case ExprKind::Function:
      return bindFunction(expr.as<FunctionExpr>(), scope);
    case ExprKind::Convert:
      return bindConvert(expr.as<ConvertExpr>(), scope);
    default:
      break;
  }
  throw SqlError(102, 15, std::string("Expression not supported: ") + exprKindName(expr.kind));
}

}  // namespace tabsrv
