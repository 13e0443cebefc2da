// The T-SQL syntax tree the parser builds and the executor walks: expressions, table references
// and statements, each a node with a kind enum, a checked cast and toSql() printing it back in a
// normalized form (upper-case keywords, single spaces, parentheses only where precedence needs them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/types.h"

namespace tabsrv::tsql {

struct SelectStatement;
struct ExecuteStatement;

// Thrown by the checked casts when a node is not of the requested kind (a bug, never user input).
class AstCastError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

enum class ExprKind : uint8_t;
enum class TableRefKind : uint8_t;
enum class StatementKind : uint8_t;

// Throw AstCastError naming the node's kind and the kind asked for.
[[noreturn]] void throwAstCastError(ExprKind actual, ExprKind wanted);
[[noreturn]] void throwAstCastError(TableRefKind actual, TableRefKind wanted);
[[noreturn]] void throwAstCastError(StatementKind actual, StatementKind wanted);

// What every node of a family (expressions, table references, statements) shares: its kind,
// toSql(), is<T>() and the checked downcast as<T>(); `Kind` is the family's kind enum and each
// node type T names its own kind as T::kKind (see NodeOfKind).
template <class Kind>
class AstNode {
 public:
  explicit AstNode(Kind kind) : kind(kind) {}
  virtual ~AstNode() = default;
  AstNode(const AstNode&) = delete;
  AstNode& operator=(const AstNode&) = delete;

  const Kind kind;

  // Prints the node back as T-SQL.
  virtual std::string toSql() const = 0;

  // True when the node is a T.
  template <class T>
  bool is() const {
    return kind == T::kKind;
  }
  // Checked downcast; throws AstCastError on a kind mismatch.
  template <class T>
  T& as() {
    if (!is<T>()) throwAstCastError(kind, T::kKind);
    return static_cast<T&>(*this);
  }
  template <class T>
  const T& as() const {
    if (!is<T>()) throwAstCastError(kind, T::kKind);
    return static_cast<const T&>(*this);
  }
};

// The base of one node type: `struct LiteralExpr : NodeOfKind<Expr, ExprKind::Literal>` gets its
// kKind and a default constructor that hands the kind to the family's base.
template <class Base, auto K>
struct NodeOfKind : Base {
  static constexpr decltype(K) kKind = K;
  NodeOfKind() : Base(K) {}
};

// A possibly qualified object name: `t`, `owner.t`, `db..t`, `db.owner.t`, `#temp`.
// Empty parts were not written; names keep the case the user wrote.
struct ObjectName {
  std::string database;
  std::string owner;
  std::string name;

  bool empty() const { return name.empty(); }
  // Prints the name as written: `db..t` keeps its empty owner.
  std::string toSql() const;
};

// A datatype as written in DECLARE, CREATE TABLE, convert() and parameters.
// `name` is the normalized built-in name ("char", "varchar", "int", "float", "numeric" ...:
// nchar/nvarchar become char/varchar, integer becomes int, dec becomes decimal, double precision
// becomes float) or a user type name as written; `args` are the numbers in parentheses.
struct TypeName {
  std::string name;
  std::vector<int32_t> args;
  std::optional<SqlType> builtin;  // set for the built-in types, empty for user type names
  bool national = false;           // written nchar or nvarchar (stored as char or varchar)

  std::string toSql() const;
};

// The storage description of a built-in type with the family's defaults filled in
// (char → length 1, numeric → (18,0), float(n≤15) → real); nothing for a user type name.
std::optional<TypeDesc> builtinTypeDesc(const TypeName& type);

// ---------------------------------------------------------------------------------------------
// Expressions

// Every expression node kind.
enum class ExprKind : uint8_t {
  Literal,      // NULL, 12, 1.5, 1e5, $2.50, 'text', 0x0A
  ColumnRef,    // col, t.col, owner.t.col, db.owner.t.col
  Star,         // * or t.* in a select list
  Variable,     // @x
  Global,       // @@rowcount
  Unary,        // -x, +x, ~x, NOT x
  Binary,       // arithmetic, bitwise, comparison (including *= and =*), AND, OR
  Between,      // x [NOT] BETWEEN a AND b
  InList,       // x [NOT] IN (1, 2)
  InSubquery,   // x [NOT] IN (select ...)
  Like,         // x [NOT] LIKE p [ESCAPE e]
  IsNull,       // x IS [NOT] NULL
  Exists,       // EXISTS (select ...)
  Subquery,     // (select ...) as a scalar value
  Quantified,   // x > ANY (select ...), x = ALL (select ...)
  Case,         // simple and searched CASE
  Function,     // name(args), count(*), count(distinct x)
  Convert,      // convert(type, expr [, style])
  Placeholder,  // ? in a prepared statement's text
};

// The kind's name, for "not implemented" messages of switch dispatch.
const char* exprKindName(ExprKind kind);

// Base of every expression node.
class Expr : public AstNode<ExprKind> {
 public:
  using AstNode::AstNode;

  // The height of the tree below this node, filled in on first use by exprHeight().
  mutable int height = 0;
};

using ExprPtr = std::unique_ptr<Expr>;

// What kind of constant a LiteralExpr holds.
enum class LiteralKind : uint8_t { Null, Integer, Decimal, Float, Money, String, Binary };

// A constant. `text` holds the number as written (money without its '$', e.g. "12.34"),
// the decoded content of a string (quotes removed, doubled quotes undone), or the hex digits
// of a binary without "0x"; `bytes` holds a binary's decoded value.
struct LiteralExpr : NodeOfKind<Expr, ExprKind::Literal> {
  LiteralKind literal = LiteralKind::Null;
  std::string text;
  Bytes bytes;
  // The index of the constant's token in its batch's tokens (tokenize()); -1 for NULL and for a
  // literal made by the parser or the binder rather than written.
  int32_t token = -1;
  std::string toSql() const override;
};

// A column reference; `table` is empty for an unqualified column.
struct ColumnRefExpr : NodeOfKind<Expr, ExprKind::ColumnRef> {
  ObjectName table;
  std::string column;
  std::string toSql() const override;
};

// `*` (table empty) or `t.*` in a select list.
struct StarExpr : NodeOfKind<Expr, ExprKind::Star> {
  ObjectName table;
  std::string toSql() const override;
};

// A local variable; `name` includes the '@'.
struct VariableExpr : NodeOfKind<Expr, ExprKind::Variable> {
  std::string name;
  std::string toSql() const override;
};

// A global variable; `name` includes the "@@" and is lower-cased ("@@rowcount").
struct GlobalExpr : NodeOfKind<Expr, ExprKind::Global> {
  std::string name;
  std::string toSql() const override;
};

// Prefix operators.
enum class UnaryOp : uint8_t { Negate, Plus, BitNot, Not };

// -x, +x, ~x, NOT x.
struct UnaryExpr : NodeOfKind<Expr, ExprKind::Unary> {
  UnaryOp op = UnaryOp::Negate;
  ExprPtr operand;
  std::string toSql() const override;
};

// Binary operators. `!=` is read as Ne, `!<` as Ge and `!>` as Le.
// OuterLeft is `*=` (all rows of the left side), OuterRight is `=*`.
enum class BinaryOp : uint8_t {
  Add,
  Sub,
  Mul,
  Div,
  Mod,
  BitAnd,
  BitOr,
  BitXor,
  Eq,
  Ne,
  Lt,
  Gt,
  Le,
  Ge,
  OuterLeft,
  OuterRight,
  And,
  Or,
};

// The operator's T-SQL spelling ("+", "<>", "*=", "AND" ...).
const char* binaryOpText(BinaryOp op);
// True for = <> < > <= >= *= =*.
bool isComparison(BinaryOp op);

// left op right.
struct BinaryExpr : NodeOfKind<Expr, ExprKind::Binary> {
  BinaryOp op = BinaryOp::Eq;
  ExprPtr left;
  ExprPtr right;
  std::string toSql() const override;
};

// operand [NOT] BETWEEN low AND high.
struct BetweenExpr : NodeOfKind<Expr, ExprKind::Between> {
  ExprPtr operand;
  ExprPtr low;
  ExprPtr high;
  bool negated = false;
  std::string toSql() const override;
};

// operand [NOT] IN (v1, v2, ...).
struct InListExpr : NodeOfKind<Expr, ExprKind::InList> {
  ExprPtr operand;
  std::vector<ExprPtr> list;
  bool negated = false;
  std::string toSql() const override;
};

// operand [NOT] IN (select ...).
struct InSubqueryExpr : NodeOfKind<Expr, ExprKind::InSubquery> {
  InSubqueryExpr();
  ~InSubqueryExpr() override;
  ExprPtr operand;
  std::unique_ptr<SelectStatement> query;
  bool negated = false;
  std::string toSql() const override;
};

// operand [NOT] LIKE pattern [ESCAPE escape].
struct LikeExpr : NodeOfKind<Expr, ExprKind::Like> {
  ExprPtr operand;
  ExprPtr pattern;
  ExprPtr escape;  // null when there is no ESCAPE
  bool negated = false;
  std::string toSql() const override;
};

// operand IS [NOT] NULL.
struct IsNullExpr : NodeOfKind<Expr, ExprKind::IsNull> {
  ExprPtr operand;
  bool negated = false;
  std::string toSql() const override;
};

// EXISTS (select ...); NOT EXISTS is a UnaryExpr Not around it.
struct ExistsExpr : NodeOfKind<Expr, ExprKind::Exists> {
  ExistsExpr();
  ~ExistsExpr() override;
  std::unique_ptr<SelectStatement> query;
  std::string toSql() const override;
};

// (select ...) used as a value.
struct SubqueryExpr : NodeOfKind<Expr, ExprKind::Subquery> {
  SubqueryExpr();
  ~SubqueryExpr() override;
  std::unique_ptr<SelectStatement> query;
  std::string toSql() const override;
};

// left op ANY|SOME|ALL (select ...); SOME is read as ANY.
struct QuantifiedExpr : NodeOfKind<Expr, ExprKind::Quantified> {
  QuantifiedExpr();
  ~QuantifiedExpr() override;
  ExprPtr left;
  BinaryOp op = BinaryOp::Eq;  // a comparison
  bool all = false;            // ALL, otherwise ANY
  std::unique_ptr<SelectStatement> query;
  std::string toSql() const override;
};

// One WHEN ... THEN ... arm of a CASE.
struct CaseWhen {
  ExprPtr when;
  ExprPtr then;
};

// CASE [operand] WHEN ... THEN ... [ELSE ...] END; operand is null for the searched form.
struct CaseExpr : NodeOfKind<Expr, ExprKind::Case> {
  ExprPtr operand;
  std::vector<CaseWhen> whens;
  ExprPtr elseValue;  // null when there is no ELSE
  std::string toSql() const override;
};

// A function call: built-ins, aggregates, coalesce/nullif. `name` is lower-cased;
// count(*) has `star` set and no args; count(distinct x) has `distinct` set.
struct FunctionExpr : NodeOfKind<Expr, ExprKind::Function> {
  std::string name;
  std::vector<ExprPtr> args;
  bool distinct = false;
  bool star = false;
  std::string toSql() const override;
};

// True for count, sum, avg, min, max.
bool isAggregateName(std::string_view lowerName);

// convert(type, value [, style]).
struct ConvertExpr : NodeOfKind<Expr, ExprKind::Convert> {
  TypeName type;
  ExprPtr value;
  ExprPtr style;  // null when not given
  std::string toSql() const override;
};

// A parameter marker `?` of a statement prepared through ct_dynamic; `index` counts the
// markers of the batch from 0 in text order, which is the order their values are bound.
struct PlaceholderExpr : NodeOfKind<Expr, ExprKind::Placeholder> {
  int index = 0;
  std::string toSql() const override;
};

// Calls fn on each direct child expression of e (not into subqueries, which are statements).
void forEachChild(const Expr& e, const std::function<void(const Expr&)>& fn);

// The number of expression levels from e down to its deepest leaf (1 for a leaf), cached on
// each node so that a chain being built costs one step per new node.
int exprHeight(const Expr& e);

// ---------------------------------------------------------------------------------------------
// Table references (FROM clauses)

// The kinds of FROM clause items.
enum class TableRefKind : uint8_t { Named, Derived, Join };

// The kind's name, for cast errors.
const char* tableRefKindName(TableRefKind kind);

// Base of the FROM clause items.
class TableRef : public AstNode<TableRefKind> {
 public:
  using AstNode::AstNode;
};

using TableRefPtr = std::unique_ptr<TableRef>;

// A table or view by name, with an optional alias. Lock and index hints
// (holdlock, noholdlock, shared, (index i)) are accepted and dropped.
struct NamedTableRef : NodeOfKind<TableRef, TableRefKind::Named> {
  ObjectName name;
  std::string alias;
  std::string toSql() const override;
};

// (select ...) alias.
struct DerivedTableRef : NodeOfKind<TableRef, TableRefKind::Derived> {
  DerivedTableRef();
  ~DerivedTableRef() override;
  std::unique_ptr<SelectStatement> query;
  std::string alias;
  std::string toSql() const override;
};

// ANSI join types; the old *= and =* operators stay comparisons in WHERE.
enum class JoinType : uint8_t { Inner, Left, Right };

// left [INNER|LEFT [OUTER]|RIGHT [OUTER]] JOIN right ON condition.
struct JoinTableRef : NodeOfKind<TableRef, TableRefKind::Join> {
  JoinType type = JoinType::Inner;
  TableRefPtr left;
  TableRefPtr right;
  ExprPtr on;
  std::string toSql() const override;
};

// ---------------------------------------------------------------------------------------------
// Statements

// Every statement the parser produces.
enum class StatementKind : uint8_t {
  Select,
  Insert,
  Update,
  Delete,
  Truncate,
  CreateTable,
  AlterTable,
  Drop,
  CreateIndex,
  DropIndex,
  CreateView,
  Use,
  Set,
  Transaction,
  Declare,
  If,
  While,
  Break,
  Continue,
  Block,
  Return,
  Goto,
  Label,
  Print,
  Raiserror,
  Waitfor,
  Execute,
  CreateProcedure,
  CreateTrigger,
  CreateRule,
  CreateDefault,
  Grant,
  DeclareCursor,
  OpenCursor,
  FetchCursor,
  CloseCursor,
  DeallocateCursor,
  ReadText,
  WriteText,
  Kill,
  Maintenance,
  CreateDatabase,
  DropDatabase,
};

// The kind's name, for "not implemented" messages of switch dispatch.
const char* statementKindName(StatementKind kind);

// Base of every statement. `line` is the 1-based line of its first token in the batch;
// [sourceBegin, sourceEnd) is its byte range in the batch text (the view or procedure text
// that syscomments keeps is sourceText(batch) of the CREATE statement).
class Statement : public AstNode<StatementKind> {
 public:
  using AstNode::AstNode;

  int line = 1;
  size_t sourceBegin = 0;
  size_t sourceEnd = 0;

  // The statement's original text, cut from the batch it was parsed from.
  std::string_view sourceText(std::string_view batch) const {
    return batch.substr(sourceBegin, sourceEnd - sourceBegin);
  }
};

using StatementPtr = std::unique_ptr<Statement>;

// One item of a select list. Exactly one form applies:
//   expr [AS] alias / alias = expr   → expr, alias (alias empty when none was given)
//   @var = expr                      → variable ("@var"), expr
//   * / t.*                          → expr is a StarExpr
struct SelectItem {
  ExprPtr expr;
  std::string alias;
  std::string variable;
};

// One SELECT without UNION, ORDER BY and COMPUTE.
struct SelectCore {
  bool distinct = false;
  ExprPtr top;  // TOP n: at most n rows; null when not written
  std::vector<SelectItem> items;
  ObjectName into;                // empty unless SELECT ... INTO table
  std::vector<TableRefPtr> from;  // comma-separated items; joins nest inside one item
  ExprPtr where;
  std::vector<ExprPtr> groupBy;
  bool groupByAll = false;
  ExprPtr having;

  std::string toSql() const;
};

// UNION [ALL] followed by another select.
struct UnionPart {
  bool all = false;
  SelectCore core;
};

// ORDER BY item: an expression or a position (an integer literal).
struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

// COMPUTE agg(x) [, agg(y)] [BY a, b]; each aggregate is a FunctionExpr.
struct ComputeClause {
  std::vector<ExprPtr> aggregates;
  std::vector<ExprPtr> by;
};

// A full query: also used for subqueries, derived tables, INSERT ... SELECT and views.
struct SelectStatement : NodeOfKind<Statement, StatementKind::Select> {
  SelectCore core;
  std::vector<UnionPart> unions;
  std::vector<OrderItem> orderBy;
  std::vector<ComputeClause> computes;
  bool forBrowse = false;
  int atIsolation = -1;       // AT ISOLATION level as 0-3 (named levels too); -1 when not written
  bool writtenAsSet = false;  // SET @v = expr: one variable item and nothing else
  std::string toSql() const override;
};

// INSERT [INTO] t [(cols)] VALUES (...) | select | EXEC ...; exactly one source is set.
struct InsertStatement : NodeOfKind<Statement, StatementKind::Insert> {
  InsertStatement();
  ~InsertStatement() override;
  ObjectName table;
  std::vector<std::string> columns;
  std::vector<ExprPtr> values;  // VALUES row (may be empty only when another source is set)
  bool hasValues = false;
  std::unique_ptr<SelectStatement> select;
  std::unique_ptr<ExecuteStatement> execute;
  bool defaultValues = false;  // INSERT t DEFAULT VALUES: every column takes its default
  std::string toSql() const override;
};

// col = expr in UPDATE ... SET; `column` may be qualified (t.col) or a variable (@v).
struct Assignment {
  ObjectName table;    // qualifier of the column, usually empty
  std::string column;  // column name or "@var"
  ExprPtr value;
};

// UPDATE t SET ... [FROM ...] [WHERE ...].
struct UpdateStatement : NodeOfKind<Statement, StatementKind::Update> {
  ObjectName table;
  std::vector<Assignment> assignments;
  std::vector<TableRefPtr> from;
  ExprPtr where;
  std::string currentOf;  // WHERE CURRENT OF c: the cursor's name (then `where` is null)
  std::string toSql() const override;
};

// DELETE [FROM] t [FROM ...] [WHERE ...].
struct DeleteStatement : NodeOfKind<Statement, StatementKind::Delete> {
  ObjectName table;
  std::vector<TableRefPtr> from;
  ExprPtr where;
  std::string currentOf;  // WHERE CURRENT OF c: the cursor's name (then `where` is null)
  std::string toSql() const override;
};

// TRUNCATE TABLE t.
struct TruncateStatement : NodeOfKind<Statement, StatementKind::Truncate> {
  ObjectName table;
  std::string toSql() const override;
};

// Kinds of column and table constraints.
enum class ConstraintKind : uint8_t { PrimaryKey, Unique, ForeignKey, Check };
// CLUSTERED / NONCLUSTERED as written; Default when neither was.
enum class Clustering : uint8_t { Default, Clustered, Nonclustered };

// A column or table constraint. For a column constraint `columns` is empty (it applies to its
// column); a column's REFERENCES t(c) is a ForeignKey.
struct Constraint {
  std::string name;  // CONSTRAINT name, empty when not given
  ConstraintKind kind = ConstraintKind::PrimaryKey;
  Clustering clustering = Clustering::Default;
  std::vector<std::string> columns;
  ObjectName refTable;
  std::vector<std::string> refColumns;
  ExprPtr check;
  std::string toSql() const;
};

// NULL / NOT NULL as written; Default leaves the choice to the server.
enum class Nullability : uint8_t { Default, Null, NotNull };

// One column of CREATE TABLE / ALTER TABLE ADD.
struct ColumnDef {
  std::string name;
  TypeName type;
  Nullability nullability = Nullability::Default;
  bool identity = false;
  ExprPtr defaultValue;  // null when there is no DEFAULT
  std::vector<Constraint> constraints;
  std::string toSql() const;
};

// CREATE TABLE t (columns, constraints) [ON segment].
struct CreateTableStatement : NodeOfKind<Statement, StatementKind::CreateTable> {
  ObjectName table;
  std::vector<ColumnDef> columns;
  std::vector<Constraint> constraints;
  std::string segment;
  std::string toSql() const override;
};

// ALTER TABLE t ADD col ... [, col ...] (and table constraints).
struct AlterTableStatement : NodeOfKind<Statement, StatementKind::AlterTable> {
  ObjectName table;
  std::vector<ColumnDef> addColumns;
  std::vector<Constraint> addConstraints;
  std::string dropConstraint;  // ALTER TABLE t DROP CONSTRAINT name (then nothing is added)
  std::string toSql() const override;
};

// What DROP removes.
enum class DropObject : uint8_t { Table, View, Procedure, Trigger, Rule, Default };

// DROP TABLE|VIEW|PROC[EDURE]|TRIGGER|RULE|DEFAULT a [, b ...].
struct DropStatement : NodeOfKind<Statement, StatementKind::Drop> {
  DropObject object = DropObject::Table;
  std::vector<ObjectName> names;
  std::string toSql() const override;
};

// One key column of CREATE INDEX.
struct IndexColumn {
  std::string name;
  bool descending = false;
};

// CREATE [UNIQUE] [CLUSTERED|NONCLUSTERED] INDEX i ON t (cols) [WITH ...] [ON segment];
// the WITH options (fillfactor, ignore_dup_key ...) are kept as written words.
struct CreateIndexStatement : NodeOfKind<Statement, StatementKind::CreateIndex> {
  bool unique = false;
  Clustering clustering = Clustering::Default;
  std::string name;
  ObjectName table;
  std::vector<IndexColumn> columns;
  std::vector<std::string> withOptions;
  std::string segment;
  std::string toSql() const override;
};

// One `t.i` (or `owner.t.i`) of DROP INDEX.
struct IndexRef {
  ObjectName table;
  std::string index;
};

// DROP INDEX t.i [, ...].
struct DropIndexStatement : NodeOfKind<Statement, StatementKind::DropIndex> {
  std::vector<IndexRef> indexes;
  std::string toSql() const override;
};

// CREATE VIEW v [(cols)] AS select [WITH CHECK OPTION].
struct CreateViewStatement : NodeOfKind<Statement, StatementKind::CreateView> {
  ObjectName view;
  std::vector<std::string> columns;
  std::unique_ptr<SelectStatement> query;
  bool withCheckOption = false;
  std::string toSql() const override;
};

// USE db.
struct UseStatement : NodeOfKind<Statement, StatementKind::Use> {
  std::string database;
  std::string toSql() const override;
};

// SET option value. `option` is lower-cased with single spaces: "rowcount", "nocount",
// "statistics io", "transaction isolation level", "identity_insert", "arithabort" or
// "arithabort numeric_truncation" (the sub-option kept when written), or any other word.
// Named isolation levels (read committed, serializable ...) arrive as their numbers 0-3.
// `value` is the value word lower-cased ("on", "off", "mdy", "10"); `valueExpr` is set when the
// value is a number or a variable (set rowcount @n); `table` is set for identity_insert and
// `cursor` for "cursor rows" (SET CURSOR ROWS n FOR c).
struct SetStatement : NodeOfKind<Statement, StatementKind::Set> {
  std::string option;
  std::string value;
  ExprPtr valueExpr;
  ObjectName table;
  std::string cursor;  // set cursor rows n for c: the cursor
  std::string toSql() const override;
};

// The transaction statements.
enum class TranAction : uint8_t { Begin, Commit, Rollback, Save, RollbackTrigger };

// BEGIN TRAN [name], COMMIT [TRAN|WORK] [name], ROLLBACK [TRAN|WORK] [name], SAVE TRAN name,
// ROLLBACK TRIGGER [WITH RAISERROR ...].
struct TransactionStatement : NodeOfKind<Statement, StatementKind::Transaction> {
  TranAction action = TranAction::Begin;
  std::string name;      // transaction or savepoint name, empty when not given
  StatementPtr raiserror;  // the RaiserrorStatement of ROLLBACK TRIGGER WITH RAISERROR, else null
  std::string toSql() const override;
};

// One variable of DECLARE.
struct VariableDecl {
  std::string name;  // with '@'
  TypeName type;
};

// DECLARE @a int, @b varchar(10).
struct DeclareStatement : NodeOfKind<Statement, StatementKind::Declare> {
  std::vector<VariableDecl> variables;
  std::string toSql() const override;
};

// IF cond stmt [ELSE stmt].
struct IfStatement : NodeOfKind<Statement, StatementKind::If> {
  ExprPtr condition;
  StatementPtr thenBranch;
  StatementPtr elseBranch;  // null when there is no ELSE
  std::string toSql() const override;
};

// WHILE cond stmt.
struct WhileStatement : NodeOfKind<Statement, StatementKind::While> {
  ExprPtr condition;
  StatementPtr body;
  std::string toSql() const override;
};

// BREAK.
struct BreakStatement : NodeOfKind<Statement, StatementKind::Break> {
  std::string toSql() const override;
};

// CONTINUE.
struct ContinueStatement : NodeOfKind<Statement, StatementKind::Continue> {
  std::string toSql() const override;
};

// BEGIN ... END.
struct BlockStatement : NodeOfKind<Statement, StatementKind::Block> {
  std::vector<StatementPtr> statements;
  std::string toSql() const override;
};

// RETURN [expr].
struct ReturnStatement : NodeOfKind<Statement, StatementKind::Return> {
  ExprPtr value;  // null for a bare RETURN
  std::string toSql() const override;
};

// GOTO label.
struct GotoStatement : NodeOfKind<Statement, StatementKind::Goto> {
  std::string label;
  std::string toSql() const override;
};

// label: (a jump target).
struct LabelStatement : NodeOfKind<Statement, StatementKind::Label> {
  std::string label;
  std::string toSql() const override;
};

// PRINT format [, arg ...]; `format` is a string, a variable or an expression, with %1! ...
// placeholders filled from `args`.
struct PrintStatement : NodeOfKind<Statement, StatementKind::Print> {
  ExprPtr format;
  std::vector<ExprPtr> args;
  std::string toSql() const override;
};

// RAISERROR number [message] [, arg ...]; message is a string or variable, null when omitted.
struct RaiserrorStatement : NodeOfKind<Statement, StatementKind::Raiserror> {
  ExprPtr number;
  ExprPtr message;
  std::vector<ExprPtr> args;
  std::string toSql() const override;
};

// WAITFOR DELAY 'hh:mm:ss' | TIME 'hh:mm:ss'.
struct WaitforStatement : NodeOfKind<Statement, StatementKind::Waitfor> {
  bool delay = true;  // DELAY, otherwise TIME
  ExprPtr value;
  std::string toSql() const override;
};

// KILL spid: ends another session (sa only).
struct KillStatement : NodeOfKind<Statement, StatementKind::Kill> {
  ExprPtr spid;
  std::string toSql() const override;
};

// One device of CREATE DATABASE's ON or LOG ON list: `dev [= size]`.
struct DatabaseDevice {
  std::string name;  // as written: a device name, `default`, or a quoted name
  ExprPtr size;      // megabytes, an integer or a string such as '10M'; null when not written
};

// CREATE DATABASE name [ON dev [= size] [, ...]] [LOG ON dev [= size] [, ...]] [WITH OVERRIDE]
// [FOR LOAD]. Every database is one file here, so the devices and options are kept for printing only.
struct CreateDatabaseStatement : NodeOfKind<Statement, StatementKind::CreateDatabase> {
  std::string name;
  std::vector<DatabaseDevice> devices;     // ON ...
  std::vector<DatabaseDevice> logDevices;  // LOG ON ...
  bool withOverride = false;
  bool forLoad = false;
  std::string toSql() const override;
};

// DROP DATABASE a [, b ...].
struct DropDatabaseStatement : NodeOfKind<Statement, StatementKind::DropDatabase> {
  std::vector<std::string> names;
  std::string toSql() const override;
};

// What a maintenance statement asks for.
enum class MaintenanceAction : uint8_t { UpdateStatistics, Checkpoint };

// UPDATE STATISTICS table [index] and CHECKPOINT.
struct MaintenanceStatement : NodeOfKind<Statement, StatementKind::Maintenance> {
  MaintenanceAction action = MaintenanceAction::Checkpoint;
  ObjectName table;   // UPDATE STATISTICS only
  std::string index;  // empty: every index of the table
  std::string toSql() const override;
};

// One argument of EXEC: positional (name empty) or @p = value, optionally OUTPUT.
struct ExecArg {
  std::string name;  // "@p" or empty
  ExprPtr value;
  bool output = false;
};

// EXEC[UTE] [@ret =] proc [args]; also a bare procedure call as the first statement of a batch.
struct ExecuteStatement : NodeOfKind<Statement, StatementKind::Execute> {
  std::string returnVariable;  // "@ret" or empty
  ObjectName procedure;
  std::vector<ExecArg> args;
  ExprPtr dynamicSql;  // exec ('select ' + @cols + ' from t'): text to run as a batch; no procedure then
  std::string toSql() const override;
};

// One parameter of CREATE PROCEDURE.
struct ProcParam {
  std::string name;  // with '@'
  TypeName type;
  ExprPtr defaultValue;  // null when none
  bool output = false;
};

// CREATE PROC[EDURE] name [params] [WITH RECOMPILE] AS body; the body runs to the end of the batch.
struct CreateProcedureStatement : NodeOfKind<Statement, StatementKind::CreateProcedure> {
  ObjectName name;
  std::vector<ProcParam> params;
  bool withRecompile = false;
  std::vector<StatementPtr> body;
  std::string toSql() const override;
};

// CREATE TRIGGER name ON t FOR INSERT, UPDATE, DELETE AS body (to the end of the batch).
struct CreateTriggerStatement : NodeOfKind<Statement, StatementKind::CreateTrigger> {
  ObjectName name;
  ObjectName table;
  bool onInsert = false;
  bool onUpdate = false;
  bool onDelete = false;
  std::vector<StatementPtr> body;
  std::string toSql() const override;
};

// CREATE RULE r AS expr (the expression uses a @variable for the value).
struct CreateRuleStatement : NodeOfKind<Statement, StatementKind::CreateRule> {
  ObjectName name;
  ExprPtr condition;
  std::string toSql() const override;
};

// CREATE DEFAULT d AS expr.
struct CreateDefaultStatement : NodeOfKind<Statement, StatementKind::CreateDefault> {
  ObjectName name;
  ExprPtr value;
  std::string toSql() const override;
};

// GRANT/REVOKE privileges [ON object [(cols)]] TO|FROM grantees [WITH GRANT OPTION].
// Privileges are lower-cased ("select", "all", "create table"); `object` is empty for a
// command grant (grant create table to bob).
struct GrantStatement : NodeOfKind<Statement, StatementKind::Grant> {
  bool revoke = false;
  std::vector<std::string> privileges;
  ObjectName object;
  std::vector<std::string> columns;
  std::vector<std::string> grantees;
  bool withGrantOption = false;
  std::string toSql() const override;
};

// What a cursor declaration allows: FOR READ ONLY, FOR UPDATE [OF cols], or neither written.
enum class CursorUse : uint8_t { Default, ReadOnly, Update };

// DECLARE c [INSENSITIVE|SEMI_SENSITIVE] [SCROLL|NO SCROLL] CURSOR FOR select
// [FOR READ ONLY | FOR UPDATE [OF a, b]].
struct DeclareCursorStatement : NodeOfKind<Statement, StatementKind::DeclareCursor> {
  DeclareCursorStatement();
  ~DeclareCursorStatement() override;
  std::string name;
  bool scroll = false;       // SCROLL (also SQL Anywhere's DYNAMIC SCROLL): any fetch direction
  bool insensitive = false;  // INSENSITIVE: rows as they were at OPEN
  std::unique_ptr<SelectStatement> query;
  CursorUse use = CursorUse::Default;
  std::vector<std::string> updateColumns;  // FOR UPDATE OF a, b; empty: every column
  std::string toSql() const override;
};

// OPEN c.
struct OpenCursorStatement : NodeOfKind<Statement, StatementKind::OpenCursor> {
  std::string name;
  std::string toSql() const override;
};

// Where FETCH moves: NEXT unless written otherwise; ABSOLUTE and RELATIVE take an offset.
enum class FetchDirection : uint8_t { Next, Prior, First, Last, Absolute, Relative };

// FETCH [NEXT|PRIOR|FIRST|LAST|ABSOLUTE n|RELATIVE n] [FROM] c [INTO @a, @b].
struct FetchCursorStatement : NodeOfKind<Statement, StatementKind::FetchCursor> {
  std::string name;
  FetchDirection direction = FetchDirection::Next;
  ExprPtr offset;                 // ABSOLUTE/RELATIVE only
  std::vector<std::string> into;  // "@a" ...; empty: the row goes to the client
  std::string toSql() const override;
};

// CLOSE c.
struct CloseCursorStatement : NodeOfKind<Statement, StatementKind::CloseCursor> {
  std::string name;
  std::string toSql() const override;
};

// DEALLOCATE [CURSOR] c.
struct DeallocateCursorStatement : NodeOfKind<Statement, StatementKind::DeallocateCursor> {
  std::string name;
  std::string toSql() const override;
};

// READTEXT t.col pointer offset size [HOLDLOCK] [USING BYTES|CHARS|CHARACTERS].
struct ReadTextStatement : NodeOfKind<Statement, StatementKind::ReadText> {
  ObjectName table;
  std::string column;
  ExprPtr pointer;
  ExprPtr offset;
  ExprPtr size;  // 0: everything from the offset on
  bool chars = false;  // USING CHARS: offset and size count characters, not bytes
  std::string toSql() const override;
};

// WRITETEXT t.col pointer [WITH LOG] data.
struct WriteTextStatement : NodeOfKind<Statement, StatementKind::WriteText> {
  ObjectName table;
  std::string column;
  ExprPtr pointer;
  bool withLog = false;
  ExprPtr data;
  std::string toSql() const override;
};

}  // namespace tabsrv::tsql
