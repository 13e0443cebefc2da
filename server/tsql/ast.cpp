// Printing the syntax tree back as normalized T-SQL, the checked-cast failures, kind names,
// the child walker and the built-in type defaults.
#include "server/tsql/ast.h"

#include <algorithm>
#include <cctype>

#include "server/tsql/lexer.h"

namespace tabsrv::tsql {

namespace {

// A regular identifier prints as it stands; anything else (spaces, leading digit ...) in brackets.
std::string ident(const std::string& name) {
  bool regular = !name.empty();
  for (size_t i = 0; i < name.size() && regular; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool letter = std::isalpha(c) || c == '_' || c >= 0x80;
    if (i == 0) {
      regular = letter || c == '#' || c == '@';
    } else {
      regular = letter || std::isdigit(c) || c == '#' || c == '@' || c == '$';
    }
  }
  if (regular) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!isReservedWord(lower)) return name;
  }
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  return out + "]";
}

std::string quoteString(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// A segment name as ON names it: a plain word as written, even a reserved one (`on default`);
// anything else as the string the generated index definitions use (`on 'log seg'`).
std::string segmentSql(const std::string& name) {
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && u != '_' && u != '#' && u != '$' && u < 0x80) return quoteString(name);
  }
  return name;
}

template <class T, class F>
std::string join(const std::vector<T>& items, F&& print, const char* sep = ", ") {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += sep;
    out += print(items[i]);
  }
  return out;
}

std::string joinExprs(const std::vector<ExprPtr>& items) {
  return join(items, [](const ExprPtr& e) { return e->toSql(); });
}

std::string joinIdents(const std::vector<std::string>& items) {
  return join(items, [](const std::string& s) { return ident(s); });
}

std::string joinTables(const std::vector<TableRefPtr>& items) {
  return join(items, [](const TableRefPtr& t) { return t->toSql(); });
}

std::string joinStatements(const std::vector<StatementPtr>& items) {
  return join(
      items, [](const StatementPtr& s) { return s->toSql(); }, " ");
}

// Binding strength used to decide where parentheses are needed (higher binds tighter):
// OR < AND < NOT < comparisons and predicates < + - & | ^ < * / % < unary - + ~ < primaries.
enum Prec { kOr = 1, kAnd, kNot, kCompare, kAdd, kMul, kUnary, kPrimary };

int precOf(const Expr& e) {
  switch (e.kind) {
    case ExprKind::Unary:
      return e.as<UnaryExpr>().op == UnaryOp::Not ? kNot : kUnary;
    case ExprKind::Binary:
      switch (e.as<BinaryExpr>().op) {
        case BinaryOp::Or:
          return kOr;
        case BinaryOp::And:
          return kAnd;
        case BinaryOp::Mul:
        case BinaryOp::Div:
        case BinaryOp::Mod:
          return kMul;
        case BinaryOp::Add:
        case BinaryOp::Sub:
        case BinaryOp::BitAnd:
        case BinaryOp::BitOr:
        case BinaryOp::BitXor:
          return kAdd;
        default:
          return kCompare;
      }
    case ExprKind::Between:
    case ExprKind::InList:
    case ExprKind::InSubquery:
    case ExprKind::Like:
    case ExprKind::IsNull:
    case ExprKind::Quantified:
      return kCompare;
    default:
      return kPrimary;
  }
}

// Prints e, in parentheses when it binds more loosely than `atLeast`.
std::string sub(const Expr& e, int atLeast) {
  std::string s = e.toSql();
  return precOf(e) < atLeast ? "(" + s + ")" : s;
}

const char* clusteringText(Clustering c) {
  switch (c) {
    case Clustering::Clustered:
      return " CLUSTERED";
    case Clustering::Nonclustered:
      return " NONCLUSTERED";
    default:
      return "";
  }
}

}  // namespace

std::string ObjectName::toSql() const {
  if (!database.empty())
    return ident(database) + "." + (owner.empty() ? "" : ident(owner)) + "." + ident(name);
  if (!owner.empty()) return ident(owner) + "." + ident(name);
  return ident(name);
}

std::string TypeName::toSql() const {
  std::string out = name;
  if (!args.empty()) out += "(" + join(args, [](int32_t n) { return std::to_string(n); }) + ")";
  return out;
}

std::optional<TypeDesc> builtinTypeDesc(const TypeName& type) {
  if (!type.builtin) return std::nullopt;
  TypeDesc d;
  d.type = *type.builtin;
  auto arg = [&](size_t i, int32_t dflt) { return i < type.args.size() ? type.args[i] : dflt; };
  switch (d.type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::Binary:
    case SqlType::VarBinary:
      d.length = arg(0, 1);
      break;
    case SqlType::Text:
    case SqlType::Image:
      d.length = 2147483647;
      break;
    case SqlType::Float:
      // float(p) with a precision below 16 is stored as a 4-byte real.
      if (!type.args.empty() && type.args[0] < 16) d.type = SqlType::Real;
      d.length = fixedLength(d.type);
      break;
    case SqlType::Numeric:
    case SqlType::Decimal: {
      d.precision = static_cast<uint8_t>(arg(0, 18));
      d.scale = static_cast<uint8_t>(arg(1, 0));
      d.length = numericLength(d.precision);
      break;
    }
    default:
      d.length = fixedLength(d.type);
      break;
  }
  return d;
}

const char* tableRefKindName(TableRefKind kind) {
  switch (kind) {
    case TableRefKind::Named:
      return "a named table";
    case TableRefKind::Derived:
      return "a derived table";
    case TableRefKind::Join:
      return "a join";
  }
  return "a table reference";
}

const char* exprKindName(ExprKind kind) {
  switch (kind) {
    case ExprKind::Literal:
      return "literal";
    case ExprKind::ColumnRef:
      return "column reference";
    case ExprKind::Star:
      return "*";
    case ExprKind::Variable:
      return "variable";
    case ExprKind::Global:
      return "global variable";
    case ExprKind::Unary:
      return "unary operator";
    case ExprKind::Binary:
      return "binary operator";
    case ExprKind::Between:
      return "BETWEEN";
    case ExprKind::InList:
      return "IN list";
    case ExprKind::InSubquery:
      return "IN subquery";
    case ExprKind::Like:
      return "LIKE";
    case ExprKind::IsNull:
      return "IS NULL";
    case ExprKind::Exists:
      return "EXISTS";
    case ExprKind::Subquery:
      return "subquery";
    case ExprKind::Quantified:
      return "ANY/ALL";
    case ExprKind::Case:
      return "CASE";
    case ExprKind::Function:
      return "function call";
    case ExprKind::Convert:
      return "convert";
    case ExprKind::Placeholder:
      return "parameter marker";
  }
  return "expression";
}

const char* statementKindName(StatementKind kind) {
  switch (kind) {
    case StatementKind::Select:
      return "SELECT";
    case StatementKind::Insert:
      return "INSERT";
    case StatementKind::Update:
      return "UPDATE";
    case StatementKind::Delete:
      return "DELETE";
    case StatementKind::Truncate:
      return "TRUNCATE TABLE";
    case StatementKind::CreateTable:
      return "CREATE TABLE";
    case StatementKind::AlterTable:
      return "ALTER TABLE";
    case StatementKind::Drop:
      return "DROP";
    case StatementKind::CreateIndex:
      return "CREATE INDEX";
    case StatementKind::DropIndex:
      return "DROP INDEX";
    case StatementKind::CreateView:
      return "CREATE VIEW";
    case StatementKind::Use:
      return "USE";
    case StatementKind::Set:
      return "SET";
    case StatementKind::Transaction:
      return "transaction statement";
    case StatementKind::Declare:
      return "DECLARE";
    case StatementKind::If:
      return "IF";
    case StatementKind::While:
      return "WHILE";
    case StatementKind::Break:
      return "BREAK";
    case StatementKind::Continue:
      return "CONTINUE";
    case StatementKind::Block:
      return "BEGIN...END";
    case StatementKind::Return:
      return "RETURN";
    case StatementKind::Goto:
      return "GOTO";
    case StatementKind::Label:
      return "label";
    case StatementKind::Print:
      return "PRINT";
    case StatementKind::Raiserror:
      return "RAISERROR";
    case StatementKind::Waitfor:
      return "WAITFOR";
    case StatementKind::Kill:
      return "KILL";
    case StatementKind::Maintenance:
      return "maintenance";
    case StatementKind::CreateDatabase:
      return "CREATE DATABASE";
    case StatementKind::DropDatabase:
      return "DROP DATABASE";
    case StatementKind::Execute:
      return "EXECUTE";
    case StatementKind::CreateProcedure:
      return "CREATE PROCEDURE";
    case StatementKind::CreateTrigger:
      return "CREATE TRIGGER";
    case StatementKind::CreateRule:
      return "CREATE RULE";
    case StatementKind::CreateDefault:
      return "CREATE DEFAULT";
    case StatementKind::Grant:
      return "GRANT/REVOKE";
    case StatementKind::DeclareCursor:
      return "DECLARE CURSOR";
    case StatementKind::OpenCursor:
      return "OPEN";
    case StatementKind::FetchCursor:
      return "FETCH";
    case StatementKind::CloseCursor:
      return "CLOSE";
    case StatementKind::DeallocateCursor:
      return "DEALLOCATE CURSOR";
    case StatementKind::ReadText:
      return "READTEXT";
    case StatementKind::WriteText:
      return "WRITETEXT";
  }
  return "statement";
}

void throwAstCastError(ExprKind actual, ExprKind wanted) {
  throw AstCastError(std::string("expression is a ") + exprKindName(actual) + ", not a " +
                     exprKindName(wanted));
}

void throwAstCastError(TableRefKind actual, TableRefKind wanted) {
  throw AstCastError(std::string("table reference is ") + tableRefKindName(actual) + ", not " +
                     tableRefKindName(wanted));
}

void throwAstCastError(StatementKind actual, StatementKind wanted) {
  throw AstCastError(std::string("statement is ") + statementKindName(actual) + ", not " +
                     statementKindName(wanted));
}

// Out of line because SelectStatement is incomplete in the header.
InSubqueryExpr::InSubqueryExpr() = default;
InSubqueryExpr::~InSubqueryExpr() = default;
ExistsExpr::ExistsExpr() = default;
ExistsExpr::~ExistsExpr() = default;
SubqueryExpr::SubqueryExpr() = default;
SubqueryExpr::~SubqueryExpr() = default;
QuantifiedExpr::QuantifiedExpr() = default;
QuantifiedExpr::~QuantifiedExpr() = default;
DerivedTableRef::DerivedTableRef() = default;
DerivedTableRef::~DerivedTableRef() = default;
InsertStatement::InsertStatement() = default;
InsertStatement::~InsertStatement() = default;
DeclareCursorStatement::DeclareCursorStatement() = default;
DeclareCursorStatement::~DeclareCursorStatement() = default;

// ---------------------------------------------------------------------------------------------
// Expressions

const char* binaryOpText(BinaryOp op) {
  switch (op) {
    case BinaryOp::Add:
      return "+";
    case BinaryOp::Sub:
      return "-";
    case BinaryOp::Mul:
      return "*";
    case BinaryOp::Div:
      return "/";
    case BinaryOp::Mod:
      return "%";
    case BinaryOp::BitAnd:
      return "&";
    case BinaryOp::BitOr:
      return "|";
    case BinaryOp::BitXor:
      return "^";
    case BinaryOp::Eq:
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
    case BinaryOp::OuterLeft:
      return "*=";
    case BinaryOp::OuterRight:
      return "=*";
    case BinaryOp::And:
      return "AND";
    case BinaryOp::Or:
      return "OR";
  }
  return "?";
}

bool isComparison(BinaryOp op) {
  switch (op) {
    case BinaryOp::Eq:
    case BinaryOp::Ne:
    case BinaryOp::Lt:
    case BinaryOp::Gt:
    case BinaryOp::Le:
    case BinaryOp::Ge:
    case BinaryOp::OuterLeft:
    case BinaryOp::OuterRight:
      return true;
    default:
      return false;
  }
}

bool isAggregateName(std::string_view n) {
  return n == "count" || n == "sum" || n == "avg" || n == "min" || n == "max";
}

std::string LiteralExpr::toSql() const {
  switch (literal) {
    case LiteralKind::Null:
      return "NULL";
    case LiteralKind::String:
      return quoteString(text);
    case LiteralKind::Money:
      return "$" + text;
    case LiteralKind::Binary:
      return "0x" + text;
    default:
      return text;
  }
}

std::string ColumnRefExpr::toSql() const {
  return table.empty() ? ident(column) : table.toSql() + "." + ident(column);
}

std::string StarExpr::toSql() const {
  return table.empty() ? "*" : table.toSql() + ".*";
}

std::string VariableExpr::toSql() const {
  return name;
}

std::string GlobalExpr::toSql() const {
  return name;
}

std::string UnaryExpr::toSql() const {
  if (op == UnaryOp::Not) return "NOT " + sub(*operand, kNot);
  const char* sign = op == UnaryOp::Negate ? "-" : op == UnaryOp::Plus ? "+" : "~";
  // "- -1" must not print as "--1", which would start a comment.
  if (operand->is<UnaryExpr>()) return std::string(sign) + "(" + operand->toSql() + ")";
  return sign + sub(*operand, kUnary);
}

std::string BinaryExpr::toSql() const {
  int p = precOf(*this);
  // Comparisons do not chain, so both sides must bind tighter; the others are left-associative,
  // and AND and OR are associative, so a right operand of the same operator needs no parentheses.
  int leftMin = p == kCompare ? p + 1 : p;
  int rightMin = p == kOr || p == kAnd ? p : p + 1;
  return sub(*left, leftMin) + " " + binaryOpText(op) + " " + sub(*right, rightMin);
}

std::string BetweenExpr::toSql() const {
  return sub(*operand, kAdd) + (negated ? " NOT BETWEEN " : " BETWEEN ") + sub(*low, kAdd) + " AND " +
         sub(*high, kAdd);
}

std::string InListExpr::toSql() const {
  return sub(*operand, kAdd) + (negated ? " NOT IN (" : " IN (") + joinExprs(list) + ")";
}

std::string InSubqueryExpr::toSql() const {
  return sub(*operand, kAdd) + (negated ? " NOT IN (" : " IN (") + query->toSql() + ")";
}

std::string LikeExpr::toSql() const {
  std::string out = sub(*operand, kAdd) + (negated ? " NOT LIKE " : " LIKE ") + sub(*pattern, kAdd);
  if (escape) out += " ESCAPE " + sub(*escape, kAdd);
  return out;
}

std::string IsNullExpr::toSql() const {
  return sub(*operand, kAdd) + (negated ? " IS NOT NULL" : " IS NULL");
}

std::string ExistsExpr::toSql() const {
  return "EXISTS (" + query->toSql() + ")";
}

std::string SubqueryExpr::toSql() const {
  return "(" + query->toSql() + ")";
}

std::string QuantifiedExpr::toSql() const {
  return sub(*left, kAdd) + " " + binaryOpText(op) + (all ? " ALL (" : " ANY (") + query->toSql() + ")";
}

std::string CaseExpr::toSql() const {
  std::string out = "CASE";
  if (operand) out += " " + operand->toSql();
  for (const CaseWhen& w : whens) out += " WHEN " + w.when->toSql() + " THEN " + w.then->toSql();
  if (elseValue) out += " ELSE " + elseValue->toSql();
  return out + " END";
}

std::string FunctionExpr::toSql() const {
  if (star) return name + "(*)";
  return name + "(" + (distinct ? "DISTINCT " : "") + joinExprs(args) + ")";
}

std::string PlaceholderExpr::toSql() const {
  return "?";
}

std::string ConvertExpr::toSql() const {
  std::string out = "convert(" + type.toSql() + ", " + value->toSql();
  if (style) out += ", " + style->toSql();
  return out + ")";
}

int exprHeight(const Expr& e) {
  if (e.height == 0) {
    int below = 0;
    forEachChild(e, [&](const Expr& child) { below = std::max(below, exprHeight(child)); });
    e.height = below + 1;
  }
  return e.height;
}

void forEachChild(const Expr& e, const std::function<void(const Expr&)>& fn) {
  auto visit = [&](const ExprPtr& p) {
    if (p) fn(*p);
  };
  switch (e.kind) {
    case ExprKind::Literal:
    case ExprKind::ColumnRef:
    case ExprKind::Star:
    case ExprKind::Variable:
    case ExprKind::Global:
    case ExprKind::Exists:
    case ExprKind::Subquery:
    case ExprKind::Placeholder:
      return;
    case ExprKind::Unary:
      visit(e.as<UnaryExpr>().operand);
      return;
    case ExprKind::Binary:
      visit(e.as<BinaryExpr>().left);
      visit(e.as<BinaryExpr>().right);
      return;
    case ExprKind::Between: {
      const auto& b = e.as<BetweenExpr>();
      visit(b.operand);
      visit(b.low);
      visit(b.high);
      return;
    }
    case ExprKind::InList:
      visit(e.as<InListExpr>().operand);
      for (const ExprPtr& x : e.as<InListExpr>().list) visit(x);
      return;
    case ExprKind::InSubquery:
      visit(e.as<InSubqueryExpr>().operand);
      return;
    case ExprKind::Like: {
      const auto& l = e.as<LikeExpr>();
      visit(l.operand);
      visit(l.pattern);
      visit(l.escape);
      return;
    }
    case ExprKind::IsNull:
      visit(e.as<IsNullExpr>().operand);
      return;
    case ExprKind::Quantified:
      visit(e.as<QuantifiedExpr>().left);
      return;
    case ExprKind::Case: {
      const auto& c = e.as<CaseExpr>();
      visit(c.operand);
      for (const CaseWhen& w : c.whens) {
        visit(w.when);
        visit(w.then);
      }
      visit(c.elseValue);
      return;
    }
    case ExprKind::Function:
      for (const ExprPtr& x : e.as<FunctionExpr>().args) visit(x);
      return;
    case ExprKind::Convert:
      visit(e.as<ConvertExpr>().value);
      visit(e.as<ConvertExpr>().style);
      return;
  }
  throw AstCastError(std::string("forEachChild: unknown expression kind ") + exprKindName(e.kind));
}

// ---------------------------------------------------------------------------------------------
// Table references

std::string NamedTableRef::toSql() const {
  return name.toSql() + (alias.empty() ? "" : " " + ident(alias));
}

std::string DerivedTableRef::toSql() const {
  return "(" + query->toSql() + ")" + (alias.empty() ? "" : " " + ident(alias));
}

std::string JoinTableRef::toSql() const {
  const char* j = type == JoinType::Inner  ? " INNER JOIN "
                  : type == JoinType::Left ? " LEFT JOIN "
                                           : " RIGHT JOIN ";
  // A join on the right-hand side needs parentheses to keep its grouping.
  std::string r = right->is<JoinTableRef>() ? "(" + right->toSql() + ")" : right->toSql();
  return left->toSql() + j + r + " ON " + on->toSql();
}

// ---------------------------------------------------------------------------------------------
// Statements

std::string SelectCore::toSql() const {
  std::string out = distinct ? "SELECT DISTINCT " : "SELECT ";
  if (top) out += "TOP " + top->toSql() + " ";
  out += join(items, [](const SelectItem& it) {
    if (!it.variable.empty()) return it.variable + " = " + it.expr->toSql();
    return it.expr->toSql() + (it.alias.empty() ? "" : " AS " + ident(it.alias));
  });
  if (!into.empty()) out += " INTO " + into.toSql();
  if (!from.empty()) out += " FROM " + joinTables(from);
  if (where) out += " WHERE " + where->toSql();
  if (!groupBy.empty()) out += std::string(" GROUP BY ") + (groupByAll ? "ALL " : "") + joinExprs(groupBy);
  if (having) out += " HAVING " + having->toSql();
  return out;
}

std::string SelectStatement::toSql() const {
  if (writtenAsSet && core.items.size() == 1)
    return "SET " + core.items[0].variable + " = " + core.items[0].expr->toSql();
  std::string out = core.toSql();
  for (const UnionPart& u : unions) out += (u.all ? " UNION ALL " : " UNION ") + u.core.toSql();
  if (!orderBy.empty()) {
    out += " ORDER BY " +
           join(orderBy, [](const OrderItem& o) { return o.expr->toSql() + (o.descending ? " DESC" : ""); });
  }
  for (const ComputeClause& c : computes) {
    out += " COMPUTE " + joinExprs(c.aggregates);
    if (!c.by.empty()) out += " BY " + joinExprs(c.by);
  }
  if (forBrowse) out += " FOR BROWSE";
  if (atIsolation >= 0) out += " AT ISOLATION " + std::to_string(atIsolation);
  return out;
}

std::string InsertStatement::toSql() const {
  std::string out = "INSERT INTO " + table.toSql();
  if (!columns.empty()) out += " (" + joinIdents(columns) + ")";
  if (select) return out + " " + select->toSql();
  if (execute) return out + " " + execute->toSql();
  if (defaultValues) return out + " DEFAULT VALUES";
  return out + " VALUES (" + joinExprs(values) + ")";
}

std::string UpdateStatement::toSql() const {
  std::string out = "UPDATE " + table.toSql() + " SET ";
  out += join(assignments, [](const Assignment& a) {
    std::string target = a.table.empty() ? ident(a.column) : a.table.toSql() + "." + ident(a.column);
    return target + " = " + a.value->toSql();
  });
  if (!from.empty()) out += " FROM " + joinTables(from);
  if (where) out += " WHERE " + where->toSql();
  if (!currentOf.empty()) out += " WHERE CURRENT OF " + ident(currentOf);
  return out;
}

std::string DeleteStatement::toSql() const {
  std::string out = "DELETE FROM " + table.toSql();
  if (!from.empty()) out += " FROM " + joinTables(from);
  if (where) out += " WHERE " + where->toSql();
  if (!currentOf.empty()) out += " WHERE CURRENT OF " + ident(currentOf);
  return out;
}

std::string TruncateStatement::toSql() const {
  return "TRUNCATE TABLE " + table.toSql();
}

std::string Constraint::toSql() const {
  std::string out = name.empty() ? "" : "CONSTRAINT " + ident(name) + " ";
  switch (kind) {
    case ConstraintKind::PrimaryKey:
    case ConstraintKind::Unique:
      out += kind == ConstraintKind::PrimaryKey ? "PRIMARY KEY" : "UNIQUE";
      out += clusteringText(clustering);
      if (!columns.empty()) out += " (" + joinIdents(columns) + ")";
      return out;
    case ConstraintKind::ForeignKey:
      if (!columns.empty()) out += "FOREIGN KEY (" + joinIdents(columns) + ") ";
      out += "REFERENCES " + refTable.toSql();
      if (!refColumns.empty()) out += " (" + joinIdents(refColumns) + ")";
      return out;
    case ConstraintKind::Check:
      return out + "CHECK (" + check->toSql() + ")";
  }
  return out;
}

std::string ColumnDef::toSql() const {
  std::string out = ident(name) + " " + type.toSql();
  if (identity) out += " IDENTITY";
  if (nullability == Nullability::Null) out += " NULL";
  if (nullability == Nullability::NotNull) out += " NOT NULL";
  if (defaultValue) out += " DEFAULT " + defaultValue->toSql();
  for (const Constraint& c : constraints) out += " " + c.toSql();
  return out;
}

std::string CreateTableStatement::toSql() const {
  std::string out = "CREATE TABLE " + table.toSql() + " (";
  out += join(columns, [](const ColumnDef& c) { return c.toSql(); });
  for (const Constraint& c : constraints) out += ", " + c.toSql();
  out += ")";
  if (!segment.empty()) out += " ON " + segmentSql(segment);
  return out;
}

std::string AlterTableStatement::toSql() const {
  if (!dropConstraint.empty()) return "ALTER TABLE " + table.toSql() + " DROP CONSTRAINT " + ident(dropConstraint);
  std::string out = "ALTER TABLE " + table.toSql() + " ADD ";
  std::vector<std::string> parts;
  for (const ColumnDef& c : addColumns) parts.push_back(c.toSql());
  for (const Constraint& c : addConstraints) parts.push_back(c.toSql());
  return out + join(parts, [](const std::string& s) { return s; });
}

std::string DropStatement::toSql() const {
  static const char* const kWords[] = {"TABLE", "VIEW", "PROCEDURE", "TRIGGER", "RULE", "DEFAULT"};
  return std::string("DROP ") + kWords[static_cast<int>(object)] + " " +
         join(names, [](const ObjectName& n) { return n.toSql(); });
}

std::string CreateIndexStatement::toSql() const {
  std::string out = std::string("CREATE ") + (unique ? "UNIQUE " : "");
  std::string cl = clusteringText(clustering);
  if (!cl.empty()) out += cl.substr(1) + " ";
  out += "INDEX " + ident(name) + " ON " + table.toSql() + " (";
  out += join(columns, [](const IndexColumn& c) { return ident(c.name) + (c.descending ? " DESC" : ""); });
  out += ")";
  if (!withOptions.empty()) out += " WITH " + join(withOptions, [](const std::string& s) { return s; });
  if (!segment.empty()) out += " ON " + segmentSql(segment);
  return out;
}

std::string DropIndexStatement::toSql() const {
  return "DROP INDEX " +
         join(indexes, [](const IndexRef& i) { return i.table.toSql() + "." + ident(i.index); });
}

std::string CreateViewStatement::toSql() const {
  std::string out = "CREATE VIEW " + view.toSql();
  if (!columns.empty()) out += " (" + joinIdents(columns) + ")";
  out += " AS " + query->toSql();
  if (withCheckOption) out += " WITH CHECK OPTION";
  return out;
}

std::string UseStatement::toSql() const {
  return "USE " + ident(database);
}

std::string SetStatement::toSql() const {
  if (!cursor.empty()) return "SET CURSOR ROWS " + (valueExpr ? valueExpr->toSql() : value) + " FOR " + ident(cursor);
  std::string out = "SET " + option;
  if (!table.empty()) out += " " + table.toSql();
  if (valueExpr) return out + " " + valueExpr->toSql();
  return value.empty() ? out : out + " " + value;
}

std::string TransactionStatement::toSql() const {
  if (action == TranAction::RollbackTrigger)
    return raiserror ? "ROLLBACK TRIGGER WITH " + raiserror->toSql() : "ROLLBACK TRIGGER";
  static const char* const kWords[] = {"BEGIN", "COMMIT", "ROLLBACK", "SAVE"};
  std::string out = std::string(kWords[static_cast<int>(action)]) + " TRANSACTION";
  return name.empty() ? out : out + " " + ident(name);
}

std::string DeclareStatement::toSql() const {
  return "DECLARE " + join(variables, [](const VariableDecl& v) { return v.name + " " + v.type.toSql(); });
}

std::string IfStatement::toSql() const {
  std::string out = "IF " + condition->toSql() + " " + thenBranch->toSql();
  if (elseBranch) out += " ELSE " + elseBranch->toSql();
  return out;
}

std::string WhileStatement::toSql() const {
  return "WHILE " + condition->toSql() + " " + body->toSql();
}

std::string BreakStatement::toSql() const {
  return "BREAK";
}

std::string ContinueStatement::toSql() const {
  return "CONTINUE";
}

std::string BlockStatement::toSql() const {
  return statements.empty() ? "BEGIN END" : "BEGIN " + joinStatements(statements) + " END";
}

std::string ReturnStatement::toSql() const {
  return value ? "RETURN " + value->toSql() : "RETURN";
}

std::string GotoStatement::toSql() const {
  return "GOTO " + label;
}

std::string LabelStatement::toSql() const {
  return label + ":";
}

std::string PrintStatement::toSql() const {
  std::string out = "PRINT " + format->toSql();
  if (!args.empty()) out += ", " + joinExprs(args);
  return out;
}

std::string RaiserrorStatement::toSql() const {
  std::string out = "RAISERROR " + number->toSql();
  if (message) out += " " + message->toSql();
  if (!args.empty()) out += ", " + joinExprs(args);
  return out;
}

std::string WaitforStatement::toSql() const {
  return std::string(delay ? "WAITFOR DELAY " : "WAITFOR TIME ") + value->toSql();
}

std::string KillStatement::toSql() const {
  return "KILL " + spid->toSql();
}

std::string MaintenanceStatement::toSql() const {
  if (action == MaintenanceAction::Checkpoint) return "CHECKPOINT";
  return "UPDATE STATISTICS " + table.toSql() + (index.empty() ? "" : " " + ident(index));
}

std::string CreateDatabaseStatement::toSql() const {
  auto devicesSql = [](const std::vector<DatabaseDevice>& list) {
    return join(list, [](const DatabaseDevice& d) {
      return segmentSql(d.name) + (d.size ? " = " + d.size->toSql() : "");
    });
  };
  std::string out = "CREATE DATABASE " + ident(name);
  if (!devices.empty()) out += " ON " + devicesSql(devices);
  if (!logDevices.empty()) out += " LOG ON " + devicesSql(logDevices);
  if (withOverride) out += " WITH OVERRIDE";
  if (forLoad) out += " FOR LOAD";
  return out;
}

std::string DropDatabaseStatement::toSql() const {
  return "DROP DATABASE " + joinIdents(names);
}

std::string ExecuteStatement::toSql() const {
  std::string out = "EXECUTE ";
  if (dynamicSql) return out + "(" + dynamicSql->toSql() + ")";
  if (!returnVariable.empty()) out += returnVariable + " = ";
  out += procedure.toSql();
  if (!args.empty()) {
    out += " " + join(args, [](const ExecArg& a) {
             return (a.name.empty() ? "" : a.name + " = ") + a.value->toSql() + (a.output ? " OUTPUT" : "");
           });
  }
  return out;
}

std::string CreateProcedureStatement::toSql() const {
  std::string out = "CREATE PROCEDURE " + name.toSql();
  if (!params.empty()) {
    out += " " + join(params, [](const ProcParam& p) {
             std::string s = p.name + " " + p.type.toSql();
             if (p.defaultValue) s += " = " + p.defaultValue->toSql();
             return p.output ? s + " OUTPUT" : s;
           });
  }
  if (withRecompile) out += " WITH RECOMPILE";
  return out + " AS " + joinStatements(body);
}

std::string CreateTriggerStatement::toSql() const {
  std::vector<std::string> events;
  if (onInsert) events.push_back("INSERT");
  if (onUpdate) events.push_back("UPDATE");
  if (onDelete) events.push_back("DELETE");
  return "CREATE TRIGGER " + name.toSql() + " ON " + table.toSql() + " FOR " +
         join(events, [](const std::string& s) { return s; }) + " AS " + joinStatements(body);
}

std::string CreateRuleStatement::toSql() const {
  return "CREATE RULE " + name.toSql() + " AS " + condition->toSql();
}

std::string CreateDefaultStatement::toSql() const {
  return "CREATE DEFAULT " + name.toSql() + " AS " + value->toSql();
}

std::string GrantStatement::toSql() const {
  std::string out =
      std::string(revoke ? "REVOKE " : "GRANT ") + join(privileges, [](const std::string& s) { return s; });
  if (!object.empty()) {
    out += " ON " + object.toSql();
    if (!columns.empty()) out += " (" + joinIdents(columns) + ")";
  }
  out += std::string(revoke ? " FROM " : " TO ") + joinIdents(grantees);
  if (withGrantOption) out += " WITH GRANT OPTION";
  return out;
}

// ---------------------------------------------------------------------------------------------
// Cursors

std::string DeclareCursorStatement::toSql() const {
  std::string out = "DECLARE " + ident(name);
  if (insensitive) out += " INSENSITIVE";
  if (scroll) out += " SCROLL";
  out += " CURSOR FOR " + query->toSql();
  if (use == CursorUse::ReadOnly) out += " FOR READ ONLY";
  if (use == CursorUse::Update) {
    out += " FOR UPDATE";
    if (!updateColumns.empty()) out += " OF " + joinIdents(updateColumns);
  }
  return out;
}

std::string OpenCursorStatement::toSql() const {
  return "OPEN " + ident(name);
}

std::string FetchCursorStatement::toSql() const {
  static const char* const kDirection[] = {"NEXT", "PRIOR", "FIRST", "LAST", "ABSOLUTE", "RELATIVE"};
  std::string out = "FETCH ";
  if (direction != FetchDirection::Next) {
    out += kDirection[static_cast<int>(direction)];
    if (offset) out += " " + offset->toSql();
    out += " FROM ";
  }
  out += ident(name);
  if (!into.empty()) out += " INTO " + join(into, [](const std::string& v) { return v; });
  return out;
}

std::string CloseCursorStatement::toSql() const {
  return "CLOSE " + ident(name);
}

std::string DeallocateCursorStatement::toSql() const {
  return "DEALLOCATE CURSOR " + ident(name);
}

std::string ReadTextStatement::toSql() const {
  std::string out = "READTEXT " + table.toSql() + "." + ident(column) + " " + pointer->toSql() + " " +
                    offset->toSql() + " " + size->toSql();
  return chars ? out + " USING CHARS" : out;
}

std::string WriteTextStatement::toSql() const {
  return "WRITETEXT " + table.toSql() + "." + ident(column) + " " + pointer->toSql() +
         (withLog ? " WITH LOG " : " ") + data->toSql();
}

}  // namespace tabsrv::tsql
