// The recursive-descent parser's shared state, used only inside server/tsql: the token cursor,
// the family's syntax errors and one method per grammar rule. The rules live in parse_expr.cpp,
// parse_select.cpp, parse_dml.cpp, parse_ddl.cpp and parse_control.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/core/message.h"
#include "server/tsql/ast.h"
#include "server/tsql/lexer.h"
#include "server/tsql/parser.h"

namespace tabsrv::tsql {

// The word in lower case (ASCII letters only; names keep their case elsewhere).
std::string lowerCase(std::string_view s);

// How deep expressions, statements and table references may nest. Each level costs a few stack
// frames; the limit keeps a hostile batch ("((((...") from overflowing a session thread's stack.
constexpr int kMaxNesting = 256;
// How tall an expression tree may grow. Operator chains (`1 + 1 + ... + 1`) are built in a loop
// rather than by recursion, so the nesting guard does not see them; every later walk of the tree
// (binder, generator, SQLite's own 1000-level expression limit) does, so they are measured.
constexpr int kMaxExpressionHeight = 400;

// Each parseX method parses the rule X from the current token, leaves the cursor after it and
// throws SqlError (102/156) at the first token that does not fit.
class Parser {
 public:
  explicit Parser(std::string_view sql, ParseOptions options = {});
  // From the batch's tokens, as tokenize() made them with options.quotedIdentifiers.
  Parser(std::string_view sql, ParseOptions options, std::vector<Token> tokens);

  // The whole batch.
  std::vector<StatementPtr> parseBatch();

  // --- token cursor
  const Token& peek(size_t ahead = 0) const;
  const Token& next();  // consumes and returns the current token
  bool atEnd() const { return peek().type == TokenType::End; }
  bool peekWord(std::string_view lowerWord, size_t ahead = 0) const { return peek(ahead).isWord(lowerWord); }
  bool peekSymbol(std::string_view sym, size_t ahead = 0) const { return peek(ahead).isSymbol(sym); }
  bool acceptWord(std::string_view lowerWord);
  bool acceptSymbol(std::string_view sym);
  void expectWord(std::string_view lowerWord);
  void expectSymbol(std::string_view sym);
  // True when the token is a name: a non-reserved word or a [bracketed] name.
  bool isName(const Token& t) const;
  // Consumes a name (see isName) or fails with a syntax error.
  std::string expectName();
  // Throws 102/156 for the current token (or the last one when the batch ended).
  [[noreturn]] void syntaxError() const;

  // Throws 191 when e is taller than kMaxExpressionHeight.
  void checkHeight(const Expr& e) const;
  // Counts one nesting level for the lifetime of the guard; throws 191 past kMaxNesting.
  class NestingGuard {
   public:
    explicit NestingGuard(Parser& p);
    ~NestingGuard() { --p_.depth_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

   private:
    Parser& p_;
  };

  // --- names, types
  ObjectName parseObjectName();
  TypeName parseTypeName();
  std::vector<std::string> parseNameList();  // ( a, b, c )
  int32_t parseIntegerArg();

  // --- expressions (parse_expr.cpp)
  // A value (a select-list item, an argument, an assigned value ...): a comparison, LIKE, BETWEEN,
  // IN, IS NULL, EXISTS, NOT, AND or OR in it is a syntax error ("select 'a' like 'b'"), except
  // inside a subquery or a searched CASE's WHEN.
  ExprPtr parseExpr();
  // A search condition (WHERE, HAVING, ON, IF, WHILE, CHECK, a rule, a searched CASE's WHEN).
  ExprPtr parseCondition();
  ExprPtr parseOr();
  ExprPtr parseAnd();
  ExprPtr parseNot();
  ExprPtr parsePredicate();
  ExprPtr parseAdditive();
  ExprPtr parseMultiplicative();
  ExprPtr parseUnary();
  ExprPtr parsePrimary();
  ExprPtr parseCase();
  ExprPtr parseFunctionCall(std::string name);
  // True when the current token can start an expression.
  bool startsExpression() const;

  // --- queries (parse_select.cpp)
  std::unique_ptr<SelectStatement> parseSelect();
  SelectCore parseSelectCore();
  void parseSelectItems(SelectCore& core);
  std::vector<TableRefPtr> parseFromList();
  TableRefPtr parseTableRef();
  TableRefPtr parseTablePrimary();
  std::string parseOptionalAlias(bool tableAlias);
  void skipTableHints();
  // A subquery inside parentheses whose '(' is already consumed; consumes the ')'.
  std::unique_ptr<SelectStatement> parseSubqueryBody();
  // True when the tokens from `ahead` are one or more '(' followed by SELECT.
  bool peekParenthesizedSelect(size_t ahead = 0) const;
  // The SELECT of a UNION operand written in parentheses, as one SelectCore.
  SelectCore coreFromOperand(std::unique_ptr<SelectStatement> q);

  // --- data manipulation (parse_dml.cpp)
  StatementPtr parseInsert();
  StatementPtr parseUpdate();
  StatementPtr parseDelete();
  StatementPtr parseTruncate();
  // CURRENT OF c (WHERE already consumed) into `cursor`; false when the WHERE holds a condition.
  bool parseCurrentOf(std::string& cursor);
  std::unique_ptr<ExecuteStatement> parseExecute(bool keyword);

  // --- definitions (parse_ddl.cpp)
  StatementPtr parseCreate();
  StatementPtr parseCreateTable();
  StatementPtr parseCreateIndex();
  StatementPtr parseCreateView();
  StatementPtr parseCreateProcedure();
  StatementPtr parseCreateTrigger();
  StatementPtr parseDrop();
  // CREATE DATABASE after CREATE, DROP DATABASE after DROP; `dev [= size] {, ...}` of ON / LOG ON.
  StatementPtr parseCreateDatabase();
  StatementPtr parseDropDatabase();
  std::vector<DatabaseDevice> parseDatabaseDevices();
  StatementPtr parseAlter();
  StatementPtr parseGrant(bool revoke);
  void parseTableElement(std::vector<ColumnDef>& columns, std::vector<Constraint>& constraints);
  ColumnDef parseColumnDef();
  Constraint parseConstraintBody(std::string name, bool tableLevel);

  // --- control flow, variables, session (parse_control.cpp)
  StatementPtr parseStatement();
  StatementPtr parseDeclare();
  StatementPtr parseIf();
  StatementPtr parseWhile();
  StatementPtr parseBeginOrBlock();
  StatementPtr parseTransaction();
  StatementPtr parseSet();
  StatementPtr parseUse();
  StatementPtr parsePrint();
  StatementPtr parseRaiserror();
  StatementPtr parseTextStatement();
  void takeValue(SetStatement& s);
  StatementPtr parseWaitfor();
  StatementPtr parseReturn();
  // DECLARE c CURSOR FOR ..., after DECLARE; OPEN, FETCH, CLOSE, DEALLOCATE.
  StatementPtr parseDeclareCursor();
  StatementPtr parseOpenCursor();
  StatementPtr parseFetch();
  StatementPtr parseCloseCursor();
  StatementPtr parseDeallocate();
  // Records a statement's first line and text range; `begin` is its first token.
  void setRange(Statement& s, const Token& begin) const;
  // Statements to the end of the batch (a procedure or trigger body).
  std::vector<StatementPtr> parseStatementsToEnd();

 private:
  std::string_view sql_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
  int depth_ = 0;
  // True while a search condition is being parsed (see parseCondition), false within a value.
  bool conditions_ = false;
  // Sets conditions_ for the lifetime of the guard.
  class ConditionMode {
   public:
    ConditionMode(Parser& p, bool conditions) : p_(p), saved_(p.conditions_) { p.conditions_ = conditions; }
    ~ConditionMode() { p_.conditions_ = saved_; }
    ConditionMode(const ConditionMode&) = delete;
    ConditionMode& operator=(const ConditionMode&) = delete;

   private:
    Parser& p_;
    bool saved_;
  };
  // True when the next token continues a predicate (= < LIKE BETWEEN IN IS NOT LIKE ...) or
  // joins conditions (AND, OR).
  bool atConditionOperator() const;
  size_t lastEnd_ = 0;          // end of the last consumed token: where the current statement's text ends
  bool firstStatement_ = true;  // a bare procedure name may start only the batch's first statement
  int placeholders_ = 0;        // `?` markers met so far: the next one's bind position
  ParseOptions options_;        // the opt-in syntax accepted by this parse
};

}  // namespace tabsrv::tsql
