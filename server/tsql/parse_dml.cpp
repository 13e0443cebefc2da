// INSERT (VALUES, DEFAULT VALUES, SELECT or EXEC source; INTO optional), UPDATE and DELETE with
// the family's extra FROM clause and WHERE CURRENT OF, TRUNCATE TABLE, and EXEC[UTE] with
// positional, named and OUTPUT arguments.
#include "server/tsql/parser_impl.h"

namespace tabsrv::tsql {

StatementPtr Parser::parseInsert() {
  expectWord("insert");
  auto s = std::make_unique<InsertStatement>();
  acceptWord("into");
  s->table = parseObjectName();
  if (peekSymbol("(") && !peekParenthesizedSelect()) s->columns = parseNameList();
  if (peekWord("default") && peekWord("values", 1)) {
    next();
    next();
    s->defaultValues = true;
  } else if (acceptWord("values")) {
    expectSymbol("(");
    do {
      s->values.push_back(parseExpr());
    } while (acceptSymbol(","));
    expectSymbol(")");
    s->hasValues = true;
  } else if (peekWord("select")) {
    s->select = parseSelect();
  } else if (peekParenthesizedSelect()) {
    s->select = parseSelect();
  } else if (peekWord("exec") || peekWord("execute")) {
    s->execute = parseExecute(true);
  } else {
    syntaxError();
  }
  return s;
}

StatementPtr Parser::parseUpdate() {
  expectWord("update");
  auto s = std::make_unique<UpdateStatement>();
  s->table = parseObjectName();
  expectWord("set");
  do {
    Assignment a;
    if (peek().type == TokenType::Variable) {
      // update t set @old = price, price = price * 2: a variable picks up a value.
      a.column = next().text;
    } else {
      std::vector<std::string> parts{expectName()};
      while (parts.size() < 4 && acceptSymbol(".")) parts.push_back(expectName());
      a.column = parts.back();
      parts.pop_back();
      if (!parts.empty()) a.table.name = parts.back(), parts.pop_back();
      if (!parts.empty()) a.table.owner = parts.back(), parts.pop_back();
      if (!parts.empty()) a.table.database = parts.back();
    }
    expectSymbol("=");
    a.value = parseExpr();
    s->assignments.push_back(std::move(a));
  } while (acceptSymbol(","));
  if (acceptWord("from")) s->from = parseFromList();
  if (acceptWord("where")) {
    if (!parseCurrentOf(s->currentOf)) s->where = parseCondition();
  }
  return s;
}

StatementPtr Parser::parseDelete() {
  expectWord("delete");
  auto s = std::make_unique<DeleteStatement>();
  acceptWord("from");
  s->table = parseObjectName();
  if (acceptWord("from")) s->from = parseFromList();
  if (acceptWord("where")) {
    if (!parseCurrentOf(s->currentOf)) s->where = parseCondition();
  }
  return s;
}

// CURRENT OF c after WHERE: the row the cursor stands on.
bool Parser::parseCurrentOf(std::string& cursor) {
  if (!options_.cursors || !peekWord("current") || !peekWord("of", 1)) return false;
  next();
  next();
  cursor = expectName();
  return true;
}

StatementPtr Parser::parseTruncate() {
  expectWord("truncate");
  expectWord("table");
  auto s = std::make_unique<TruncateStatement>();
  s->table = parseObjectName();
  return s;
}

// EXEC [@ret =] proc [[@p =] value [OUTPUT], ...]. A bare word argument is a string:
// `sp_help titles` passes 'titles'.
std::unique_ptr<ExecuteStatement> Parser::parseExecute(bool keyword) {
  const Token& begin = peek();
  if (keyword) next();
  auto s = std::make_unique<ExecuteStatement>();
  if (keyword && acceptSymbol("(")) {
    s->dynamicSql = parseExpr();
    expectSymbol(")");
    setRange(*s, begin);
    return s;
  }
  if (peek().type == TokenType::Variable && peekSymbol("=", 1)) {
    s->returnVariable = next().text;
    next();
  }
  s->procedure = parseObjectName();
  // `exec p;2` names the procedure's group member; the number is not kept.
  if (peekSymbol(";") && peek(1).type == TokenType::Integer) {
    next();
    next();
  }
  auto startsArg = [&] {
    const Token& t = peek();
    if (t.type == TokenType::Word) return isName(t) || t.isWord("null");
    if (t.type == TokenType::Symbol) return t.text == "-" || t.text == "+" || t.text == "(";
    return t.type != TokenType::End;
  };
  if (startsArg()) {
    do {
      ExecArg arg;
      if (peek().type == TokenType::Variable && peekSymbol("=", 1)) {
        arg.name = next().text;
        next();
      }
      if (isName(peek()) && !peekSymbol("(", 1) && !peekSymbol(".", 1)) {
        auto l = std::make_unique<LiteralExpr>();
        l->literal = LiteralKind::String;
        l->text = next().text;
        arg.value = std::move(l);
      } else {
        arg.value = parseExpr();
      }
      arg.output = acceptWord("output") || acceptWord("out");
      s->args.push_back(std::move(arg));
    } while (acceptSymbol(","));
  }
  setRange(*s, begin);
  return s;
}

}  // namespace tabsrv::tsql
