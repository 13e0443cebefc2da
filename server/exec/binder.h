// The binder and generator: resolves every name of a T-SQL expression or query through the
// catalogue, types it by the family's rules and writes the SQLite SQL that computes it.
// A bound query carries its SQLite text, the values of its ?N parameters and its result columns.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/core/message.h"
#include "server/core/types.h"
#include "server/storage/catalog.h"
#include "server/storage/catalog_cache.h"
#include "server/tsql/ast.h"

namespace tabsrv {

// An expression after binding: its SQLite text and its type.
struct BoundExpr {
  std::string sql;
  TypeDesc type;
  bool nullable = true;
  bool isColumn = false;       // a plain column: SQLite applies the column's affinity and collation
  bool isNullLiteral = false;  // the literal NULL
  bool isVariable = false;     // a @variable (NULL compares equal to NULL with ansinull off)
  bool hasAggregate = false;   // contains count/sum/avg/min/max of this query level
  bool identity = false;       // a plain reference to an identity column
  // Set when sql is "(a + b - c)", "(a * b)" or "tx_concat(a, b, c)": a chain of that operator
  // (+ for both + and -) that the next term of the same chain joins inside the parentheses, so
  // that a long chain stays flat for SQLite's parser instead of opening one parenthesis per term.
  char chain = 0;
  int chainTerms = 0;  // how many terms that chain joins
  std::string name;            // the result column's name when it heads a select list item
  std::string table;           // the table a plain column belongs to (text/image formats name it)
  const struct ScopeSource* source = nullptr;  // a plain column's FROM item (while its scope lives)
  // The statement's own literal this is, as bound, while the binder records literals (see
  // LiteralUses).
  const tsql::LiteralExpr* literal = nullptr;
};

// What binding did with the literals written in the statement's text, by token index
// (LiteralExpr::token): how often each was bound, and the parameters made of it. A literal
// bound only into parameters can take another value without any other change to the SQL:
// the same SQL runs with those parameters set from the new value.
struct LiteralUses {
  struct Param {
    int32_t token = 0;
    size_t index = 0;     // into params()
    bool quoted = false;  // the parameter holds the literal's SQL quoted as text (compared as text)
    TypeDesc type;        // the literal's type
  };
  std::vector<int> bound;  // per token index
  std::vector<Param> params;
  // Whether every binding of the literal at `token` made a parameter.
  bool onlyParams(int32_t token) const;
};

// Terms joined by `op` (" AND ", " OR ") in balanced parentheses: a few levels deep however many
// terms there are, since SQLite limits the depth of an expression tree, not its width.
std::string balancedJoin(const std::vector<std::string>& terms, const char* op);

// One column visible in a FROM clause.
struct ScopeColumn {
  std::string name;
  TypeDesc type;
  bool nullable = true;
  bool identity = false;
  std::string sql;  // how the generated SQL names it: t0."title"
};

// One item of a FROM clause: a table, view or derived table.
struct ScopeSource {
  std::string exposed;  // the alias, or the table's own name
  std::string table;    // the object's name (empty for a derived table)
  std::string owner;
  std::string database;
  std::string sqlAlias;  // t0, t1 ...
  std::vector<ScopeColumn> columns;
};

// The names a query level sees; `outer` is the enclosing query for correlated subqueries.
struct Scope {
  std::vector<ScopeSource> sources;
  const Scope* outer = nullptr;
};

// A local variable of a batch.
struct Variable {
  TypeDesc type;
  Value value;
};

// What the binder needs from the session.
class BindContext {
 public:
  virtual ~BindContext() = default;
  // The session's connection (catalogue reads run on it).
  virtual sqlite3* connection() = 0;
  virtual const std::string& databaseName() const = 0;
  virtual const std::string& userName() const = 0;
  // The declared variable, or nullptr.
  virtual Variable* findVariable(const std::string& name) = 0;
  // The value and type of a global (@@rowcount ...); nothing for an unknown one.
  virtual std::optional<std::pair<Value, TypeDesc>> global(const std::string& name) = 0;
  // The name a #temp table is stored under for this session.
  virtual std::string tempTableName(const std::string& name) const = 0;
  // set ansinull: false means `x = NULL` is true for a NULL x.
  virtual bool ansiNull() const = 0;
  // The value and type of the `?` marker `index` of a prepared statement. `hint` is the type the
  // marker's context suggests (the column it is compared with or assigned to), or null. Outside
  // a prepared statement there are no markers.
  virtual std::pair<Value, TypeDesc> placeholder(int index, const TypeDesc* hint) {
    (void)index, (void)hint;
    throw SqlError(102, 15, "Incorrect syntax near '?'.");
  }
  // The session's cache of table descriptions, or nullptr to read the catalogue each time.
  virtual CatalogCache* catalogCache() { return nullptr; }
  // A table only a trigger body sees (`inserted`, `deleted`), or nothing.
  virtual std::optional<TableInfo> pseudoTable(const std::string& name) {
    (void)name;
    return std::nullopt;
  }
  // Inside a trigger body, update(column): whether the statement that fired it set the column
  // (throws 207 for a column its table lacks); nothing outside a trigger.
  virtual std::optional<bool> columnUpdated(const std::string& column) {
    (void)column;
    return std::nullopt;
  }
};

// A bound SELECT: SQLite text, parameters and the result columns as the client sees them.
struct BoundQuery {
  std::string sql;
  std::vector<ColumnDesc> columns;
  std::vector<std::string> assignTo;  // per column: the @variable of `select @v = expr`, or empty
  std::vector<bool> nullLiteral;      // per column: the literal NULL in every branch so far
};

// One value of INSERT ... VALUES that is bound without SQL of its own: a literal (a negative
// number included), a @variable or a `?` marker, with the value the SQL generated for it would
// compute (a variable's and a marker's value is in its type's canonical form already, which SQLite
// gives back as it is).
struct PlainValue {
  Value value;
  TypeDesc type;
  bool isNullLiteral = false;
};

// Binds one statement's expressions and queries; the parameters it collects belong to the SQL
// it generates, so a Binder lives for one statement.
class Binder {
 public:
  explicit Binder(BindContext& context) : ctx_(context) {}

  // Binds an expression in `scope`; throws SqlError (207, 209, 137, 257 ...).
  BoundExpr bindExpr(const tsql::Expr& expr, const Scope& scope);
  // Binds `expr`; a `?` marker takes `hint` as the type its context gives it.
  BoundExpr bindHinted(const tsql::Expr& expr, const Scope& scope, const TypeDesc* hint);
  // Whether `expr` is a literal (a negative number included), a @variable or a `?` marker.
  static bool isPlainValue(const tsql::Expr& expr);
  // Binds such an expression to its value and type as bindHinted does (a `?` marker takes `hint`,
  // an undeclared variable throws 137 ...); nothing for a literal whose value the SQL alone gives
  // (a float out of range, a number of more than 38 digits), which is bound as SQL instead.
  std::optional<PlainValue> bindPlainValue(const tsql::Expr& expr, const TypeDesc* hint);
  // Binds a boolean condition (WHERE, IF, WHILE): the same, checked for aggregates.
  BoundExpr bindCondition(const tsql::Expr& expr, const Scope& scope);
  // Binds a full query. Result columns are named "c1".."cN" in the SQL unless `namedColumns`
  // (views), which names them as the client sees them.
  BoundQuery bindQuery(const tsql::SelectStatement& query, const Scope* outer, bool namedColumns = false);
  // Resolves a table or view name; throws 208 when it does not exist, 911 for a bad database.
  TableInfo resolveTable(const tsql::ObjectName& name);
  // A scope source over a resolved table, its columns named `<sqlAlias>."col"`.
  static ScopeSource sourceFor(const TableInfo& table, const std::string& alias, const std::string& sqlAlias);
  // The parameter values of the generated SQL (?1 .. ?N), in canonical storage form.
  const std::vector<Value>& params() const { return params_; }
  // Adds a parameter and returns its placeholder ("?3").
  std::string addParam(const Value& v);
  // A fresh SQL alias for a FROM item (t0, t1 ...).
  std::string newAlias() { return "t" + std::to_string(aliasCounter_++); }
  // When set, variables are refused (view definitions cannot hold them).
  void setNoVariables(bool on) { noVariables_ = on; }
  // When set (SELECT INTO), identity(precision) in the select list is the new table's identity
  // column; it binds to NULL of type numeric(precision, 0) and is filled in by the insert.
  void setIdentityFunction(bool on) { identityFunction_ = on; }
  // When set, a literal compared in a WHERE clause (col = 5, col < 'b', IN lists, BETWEEN) becomes
  // a ?N parameter of the same SQLite value, so that a statement repeated with other constants
  // has the same SQL text and reuses the session's kept SQLite statement. Only for statements that
  // bind params() when they run (never for SQL stored in the schema, such as a view's).
  void setLiteralParams(bool on) { literalParams_ = on; }
  // Records into `uses` (null: stops) what becomes of the statement's literals.
  void recordLiterals(LiteralUses* uses) { uses_ = uses; }
  // The parameter value a literal of `kind` written as `text` (a token's text) gets where a
  // recorded parameter of `type` (quoted as recorded) was made of another literal; nothing when
  // this one would not be bound the same way (another type, a value no parameter holds, an
  // error), so the statement must be bound again.
  static std::optional<Value> literalParam(tsql::LiteralKind kind, const std::string& text, const TypeDesc& type,
                                           bool quoted);

  // `expr` converted for storage in a column of `type` (t_assign around it).
  static std::string assignSql(const BoundExpr& expr, const TypeDesc& type, bool nullable);
  // A Value written as an SQLite literal in canonical form.
  static std::string literalSql(const Value& v);
  // An identifier quoted for SQLite.
  static std::string quoteIdent(const std::string& name);

 private:
  struct From {
    std::string sql;
  };
  // `value`, when given, gets the literal's value as its SQL computes it, where that is known.
  BoundExpr bindLiteral(const tsql::LiteralExpr& e, std::optional<Value>* value = nullptr);
  // The same without recording the literal's use.
  static BoundExpr bindLiteralValue(const tsql::LiteralExpr& e, std::optional<Value>* value = nullptr);
  BoundExpr bindColumn(const tsql::ColumnRefExpr& e, const Scope& scope);
  BoundExpr bindBinary(const tsql::BinaryExpr& e, const Scope& scope);
  BoundExpr bindFunction(const tsql::FunctionExpr& e, const Scope& scope);
  BoundExpr bindConvert(const tsql::ConvertExpr& e, const Scope& scope);
  BoundExpr bindCase(const tsql::CaseExpr& e, const Scope& scope);
  BoundExpr compare(tsql::BinaryOp op, const BoundExpr& a, const BoundExpr& b);
  // `token` as a comparison operand: a ?N parameter holding its value when it is one SQLite
  // literal that binds to exactly that value (an integer, a quoted string, a blob) and literals
  // of this WHERE clause are parameters; otherwise `token` itself.
  std::string comparedLiteral(const std::string& token, const BoundExpr* from = nullptr);
  BoundExpr subquery(const tsql::SelectStatement& q, const Scope& scope, bool requireOneColumn);
  // The FROM clause of one query level: fills the scope's sources and returns the SQL text.
  std::string bindFromItem(const tsql::TableRef& ref, Scope& scope);
  BoundQuery bindCore(const tsql::SelectCore& core, const Scope* outer, bool namedColumns,
                      const std::vector<tsql::OrderItem>* orderBy, std::string* orderSql);

  BindContext& ctx_;
  std::vector<Value> params_;
  int aliasCounter_ = 0;
  bool noVariables_ = false;
  bool identityFunction_ = false;
  bool literalParams_ = false;
  LiteralUses* uses_ = nullptr;
  bool inWhere_ = false;  // binding the terms of a WHERE clause (not its subqueries' other clauses)
  int aggregateDepth_ = 0;
  // While an extended GROUP BY rebinds its select list: each aggregate's SQL goes here and the
  // expression reads it back as <captureAlias_>."aN" from the grouped query.
  std::vector<std::string>* aggregateCapture_ = nullptr;
  std::string captureAlias_;
};

// Converts a SqlType + sizes into the type a TypeName stands for, resolving user types through
// systypes of the current database; throws 2715 "Can't find type '<name>'." when unknown.
TypeDesc resolveTypeName(BindContext& ctx, const tsql::TypeName& type);
// A user type's systypes usertype and allownulls in the current database; nothing for a built-in.
std::optional<std::pair<int32_t, bool>> userTypeOf(BindContext& ctx, const tsql::TypeName& type);

}  // namespace tabsrv
