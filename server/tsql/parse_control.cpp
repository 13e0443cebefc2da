// Statement dispatch and the batch-language statements: DECLARE, IF/ELSE, WHILE, BEGIN...END,
// BREAK, CONTINUE, RETURN, GOTO and labels, PRINT, RAISERROR, WAITFOR, USE, SET options and
// SET @v = expr, the transaction statements and the cursor statements (DECLARE CURSOR, OPEN,
// FETCH, CLOSE, DEALLOCATE).
#include <set>

#include "server/tsql/parser_impl.h"

namespace tabsrv::tsql {

StatementPtr Parser::parseStatement() {
  NestingGuard guard(*this);
  const Token& begin = peek();
  bool first = firstStatement_;
  firstStatement_ = false;
  StatementPtr s;
  const Token& t = begin;
  if (peekParenthesizedSelect()) {
    // (select a from t) union (select b from u)
    s = parseSelect();
    setRange(*s, begin);
    return s;
  }
  if (t.type != TokenType::Word) syntaxError();
  if (t.isWord("select")) {
    s = parseSelect();
  } else if (t.isWord("insert")) {
    s = parseInsert();
  } else if (t.isWord("update") && peekWord("statistics", 1)) {
    next();
    next();
    auto m = std::make_unique<MaintenanceStatement>();
    m->action = MaintenanceAction::UpdateStatistics;
    m->table = parseObjectName();
    if (isName(peek())) m->index = expectName();
    s = std::move(m);
  } else if (t.isWord("checkpoint")) {
    next();
    auto m = std::make_unique<MaintenanceStatement>();
    m->action = MaintenanceAction::Checkpoint;
    s = std::move(m);
  } else if (t.isWord("update")) {
    s = parseUpdate();
  } else if (t.isWord("delete")) {
    s = parseDelete();
  } else if (t.isWord("truncate")) {
    s = parseTruncate();
  } else if (t.isWord("create")) {
    s = parseCreate();
  } else if (t.isWord("drop")) {
    s = parseDrop();
  } else if (t.isWord("alter")) {
    s = parseAlter();
  } else if (t.isWord("use")) {
    s = parseUse();
  } else if (t.isWord("set")) {
    s = parseSet();
  } else if (t.isWord("begin")) {
    s = parseBeginOrBlock();
  } else if (t.isWord("commit") || t.isWord("rollback") || t.isWord("save")) {
    s = parseTransaction();
  } else if (t.isWord("declare")) {
    s = parseDeclare();
  } else if (t.isWord("if")) {
    s = parseIf();
  } else if (t.isWord("while")) {
    s = parseWhile();
  } else if (t.isWord("break")) {
    next();
    s = std::make_unique<BreakStatement>();
  } else if (t.isWord("continue")) {
    next();
    s = std::make_unique<ContinueStatement>();
  } else if (t.isWord("return")) {
    s = parseReturn();
  } else if (t.isWord("goto")) {
    next();
    auto g = std::make_unique<GotoStatement>();
    g->label = expectName();
    s = std::move(g);
  } else if (t.isWord("print")) {
    s = parsePrint();
  } else if (t.isWord("raiserror")) {
    s = parseRaiserror();
  } else if (t.isWord("readtext") || t.isWord("writetext")) {
    s = parseTextStatement();
  } else if (t.isWord("waitfor")) {
    s = parseWaitfor();
  } else if (t.isWord("kill") &&
             (peek(1).type == TokenType::Integer || peek(1).type == TokenType::Variable)) {
    next();
    auto k = std::make_unique<KillStatement>();
    k->spid = parseExpr();
    s = std::move(k);
  } else if (t.isWord("exec") || t.isWord("execute")) {
    s = parseExecute(true);
  } else if (options_.cursors && t.isWord("open")) {
    s = parseOpenCursor();
  } else if (options_.cursors && t.isWord("fetch")) {
    s = parseFetch();
  } else if (options_.cursors && t.isWord("close")) {
    s = parseCloseCursor();
  } else if (options_.cursors && t.isWord("deallocate")) {
    s = parseDeallocate();
  } else if (t.isWord("grant") || t.isWord("revoke")) {
    s = parseGrant(t.isWord("revoke"));
  } else if (isName(t) && peekSymbol(":", 1)) {
    auto l = std::make_unique<LabelStatement>();
    l->label = next().text;
    next();
    s = std::move(l);
  } else if (first && isName(t)) {
    // A batch may start with a bare procedure call: `sp_who` or `sp_help titles`.
    s = parseExecute(false);
  } else {
    syntaxError();
  }
  setRange(*s, begin);
  return s;
}

std::vector<StatementPtr> Parser::parseStatementsToEnd() {
  std::vector<StatementPtr> body;
  while (!atEnd()) {
    body.push_back(parseStatement());
    while (acceptSymbol(";")) {
    }
  }
  return body;
}

StatementPtr Parser::parseDeclare() {
  expectWord("declare");
  // declare c cursor for ... (or declare c scroll cursor ...); `declare a int` stays an error at 'a'.
  if (options_.cursors && (peek().type == TokenType::Word || peek().type == TokenType::Bracketed) &&
      (peekWord("cursor", 1) || peekWord("insensitive", 1) || peekWord("semi_sensitive", 1) ||
       peekWord("sensitive", 1) || peekWord("scroll", 1) || peekWord("no", 1) || peekWord("dynamic", 1) ||
       peekWord("unique", 1) || peekWord("release_locks_on_close", 1)))
    return parseDeclareCursor();
  auto s = std::make_unique<DeclareStatement>();
  do {
    if (peek().type != TokenType::Variable || peek().text.size() < 2) syntaxError();
    VariableDecl v;
    v.name = next().text;
    acceptWord("as");
    v.type = parseTypeName();
    s->variables.push_back(std::move(v));
  } while (acceptSymbol(","));
  return s;
}

StatementPtr Parser::parseIf() {
  expectWord("if");
  auto s = std::make_unique<IfStatement>();
  s->condition = parseCondition();
  if (atEnd()) syntaxError();
  s->thenBranch = parseStatement();
  if (acceptWord("else")) {
    if (atEnd()) syntaxError();
    s->elseBranch = parseStatement();
  }
  return s;
}

StatementPtr Parser::parseWhile() {
  expectWord("while");
  auto s = std::make_unique<WhileStatement>();
  s->condition = parseCondition();
  if (atEnd()) syntaxError();
  s->body = parseStatement();
  return s;
}

// BEGIN TRAN[SACTION] [name] starts a transaction; any other BEGIN opens a block up to END.
StatementPtr Parser::parseBeginOrBlock() {
  if (peekWord("tran", 1) || peekWord("transaction", 1)) return parseTransaction();
  expectWord("begin");
  auto s = std::make_unique<BlockStatement>();
  while (!peekWord("end")) {
    if (atEnd()) syntaxError();
    s->statements.push_back(parseStatement());
    while (acceptSymbol(";")) {
    }
  }
  next();
  return s;
}

StatementPtr Parser::parseTransaction() {
  auto s = std::make_unique<TransactionStatement>();
  const Token& verb = next();
  if (verb.isWord("begin")) {
    s->action = TranAction::Begin;
  } else if (verb.isWord("commit")) {
    s->action = TranAction::Commit;
  } else if (verb.isWord("rollback")) {
    s->action = TranAction::Rollback;
    if (acceptWord("trigger")) {
      s->action = TranAction::RollbackTrigger;
      if (acceptWord("with")) {
        if (!peekWord("raiserror")) syntaxError();
        s->raiserror = parseRaiserror();
        // Its message carries the line of the rollback, as a raiserror of its own would.
        s->raiserror->line = verb.line;
      }
      return s;
    }
  } else {
    s->action = TranAction::Save;
  }
  bool tranWord = acceptWord("tran") || acceptWord("transaction");
  if (!tranWord && (s->action == TranAction::Commit || s->action == TranAction::Rollback))
    tranWord = acceptWord("work");
  if ((s->action == TranAction::Begin || s->action == TranAction::Save) && !tranWord) syntaxError();
  if (isName(peek()) && !peekSymbol(":", 1)) {
    s->name = next().text;
  } else if (s->action == TranAction::Save) {
    syntaxError();
  }
  return s;
}

StatementPtr Parser::parseUse() {
  expectWord("use");
  auto s = std::make_unique<UseStatement>();
  s->database = expectName();
  return s;
}

// SET option value. Multi-word options: statistics io|time, transaction isolation level N,
// identity_insert table on|off, arithabort|arithignore [arith_overflow|numeric_truncation].
StatementPtr Parser::parseSet() {
  expectWord("set");
  if (peek().type == TokenType::Variable) {
    // set @n = @n + 1: the same assignment as select @n = @n + 1.
    if (peek().text.size() < 2) syntaxError();
    auto q = std::make_unique<SelectStatement>();
    q->writtenAsSet = true;
    SelectItem item;
    item.variable = next().text;
    expectSymbol("=");
    item.expr = parseExpr();
    q->core.items.push_back(std::move(item));
    return q;
  }
  auto s = std::make_unique<SetStatement>();
  if (peek().type != TokenType::Word) syntaxError();
  // The options the server knows (some of them accepted and without effect here); any other word
  // is a syntax error, as the family's parser makes it.
  static const std::set<std::string, std::less<>> kOptions = {
      "rowcount",    "textsize",       "nocount",        "fmtonly",         "parseonly",
      "noexec",      "chained",        "ansinull",       "quoted_identifier", "arithabort",
      "arithignore", "showplan",       "forceplan",      "statistics",      "transaction",
      "datefirst",   "dateformat",     "lock",           "identity_insert", "language",
      "char_convert", "clientname",    "clienthostname", "clientapplname",  "string_rtruncation",
      "ansi_permissions", "fipsflagger", "flushmessage", "self_recursion",  "nodata",
      "proc_return_status", "offsets", "procid", "cursor"};
  if (!kOptions.count(lowerCase(peek().text))) syntaxError();
  s->option = lowerCase(next().text);
  if (s->option == "statistics") {
    if (peek().type != TokenType::Word) syntaxError();
    static const std::set<std::string, std::less<>> kStatistics = {"io", "time", "subquerycache", "plancost"};
    if (!kStatistics.count(lowerCase(peek().text))) syntaxError();
    s->option += " " + lowerCase(next().text);
  } else if (s->option == "transaction") {
    expectWord("isolation");
    expectWord("level");
    s->option = "transaction isolation level";
    // The named levels map to the family's numbers 0-3.
    static const struct {
      std::string_view first, second;
      const char* level;
    } kNamed[] = {{"read", "uncommitted", "0"},
                  {"read", "committed", "1"},
                  {"repeatable", "read", "2"},
                  {"serializable", "", "3"}};
    for (const auto& n : kNamed) {
      if (peekWord(n.first) && (n.second.empty() || peekWord(n.second, 1))) {
        next();
        if (!n.second.empty()) next();
        auto l = std::make_unique<LiteralExpr>();
        l->literal = LiteralKind::Integer;
        l->text = n.level;
        s->value = n.level;
        s->valueExpr = std::move(l);
        return s;
      }
    }
    if (peek().type != TokenType::Integer) syntaxError();
  } else if (s->option == "lock") {
    // set lock wait [n] | set lock nowait: the option is "lock wait" (value: seconds, empty for
    // no limit) or "lock nowait".
    if (acceptWord("nowait")) {
      s->option = "lock nowait";
      return s;
    }
    expectWord("wait");
    s->option = "lock wait";
    if (peek().type == TokenType::Integer) takeValue(*s);
    return s;
  } else if (s->option == "cursor") {
    // set cursor rows n for c: how many rows one FETCH of c returns.
    expectWord("rows");
    s->option = "cursor rows";
    if (peek().type != TokenType::Integer && peek().type != TokenType::Variable) syntaxError();
    takeValue(*s);
    expectWord("for");
    s->cursor = expectName();
    return s;
  } else if (s->option == "identity_insert") {
    s->table = parseObjectName();
  } else if ((s->option == "arithabort" || s->option == "arithignore") &&
             (peekWord("arith_overflow") || peekWord("numeric_truncation"))) {
    s->option += " " + lowerCase(next().text);
  }
  if (peek().type == TokenType::Word)
    s->value = lowerCase(next().text);
  else
    takeValue(*s);
  return s;
}

// The value of SET that is a number, a string or a variable: its text and its expression.
void Parser::takeValue(SetStatement& s) {
  const Token& v = peek();
  switch (v.type) {
    case TokenType::Integer:
    case TokenType::String: {
      auto l = std::make_unique<LiteralExpr>();
      l->literal = v.type == TokenType::Integer ? LiteralKind::Integer : LiteralKind::String;
      l->text = v.text;
      s.value = next().text;
      s.valueExpr = std::move(l);
      break;
    }
    case TokenType::Variable: {
      auto var = std::make_unique<VariableExpr>();
      var->name = v.text;
      s.value = next().text;
      s.valueExpr = std::move(var);
      break;
    }
    default:
      syntaxError();
  }
}

StatementPtr Parser::parsePrint() {
  expectWord("print");
  auto s = std::make_unique<PrintStatement>();
  s->format = parseExpr();
  while (acceptSymbol(",")) s->args.push_back(parseExpr());
  return s;
}

// READTEXT t.col ptr offset size [HOLDLOCK] [USING BYTES | CHARS | CHARACTERS] and
// WRITETEXT t.col ptr [WITH LOG] data; the table may be owner.t or db.owner.t (db..t too).
StatementPtr Parser::parseTextStatement() {
  bool read = next().isWord("readtext");
  std::vector<std::string> parts{expectName()};
  while (parts.size() < 4 && acceptSymbol(".")) {
    if (peekSymbol(".") && parts.size() == 1) {
      parts.emplace_back();  // db..t.col
      continue;
    }
    parts.push_back(expectName());
  }
  if (parts.size() < 2) syntaxError();
  std::string column = parts.back();
  parts.pop_back();
  ObjectName table;
  table.name = parts.back();
  parts.pop_back();
  if (!parts.empty()) table.owner = parts.back(), parts.pop_back();
  if (!parts.empty()) table.database = parts.back();
  if (read) {
    auto s = std::make_unique<ReadTextStatement>();
    s->table = std::move(table);
    s->column = std::move(column);
    s->pointer = parsePrimary();
    s->offset = parseUnary();
    s->size = parseUnary();
    acceptWord("holdlock");
    if (acceptWord("using")) {
      if (acceptWord("chars") || acceptWord("characters"))
        s->chars = true;
      else
        expectWord("bytes");
    }
    return s;
  }
  auto s = std::make_unique<WriteTextStatement>();
  s->table = std::move(table);
  s->column = std::move(column);
  s->pointer = parsePrimary();
  if (acceptWord("with")) {
    expectWord("log");
    s->withLog = true;
  }
  s->data = parseExpr();
  return s;
}

// RAISERROR 50001 'text %1!', @arg  or  RAISERROR 50001 @message.
StatementPtr Parser::parseRaiserror() {
  expectWord("raiserror");
  auto s = std::make_unique<RaiserrorStatement>();
  s->number = parseExpr();
  if (peek().type == TokenType::String || peek().type == TokenType::Variable) s->message = parseExpr();
  while (acceptSymbol(",")) s->args.push_back(parseExpr());
  return s;
}

StatementPtr Parser::parseWaitfor() {
  expectWord("waitfor");
  auto s = std::make_unique<WaitforStatement>();
  if (acceptWord("delay")) {
    s->delay = true;
  } else if (acceptWord("time")) {
    s->delay = false;
  } else {
    syntaxError();
  }
  s->value = parseExpr();
  return s;
}

StatementPtr Parser::parseReturn() {
  expectWord("return");
  auto s = std::make_unique<ReturnStatement>();
  // A name followed by ':' is the label of the next statement.
  if (startsExpression() && !(isName(peek()) && peekSymbol(":", 1))) s->value = parseExpr();
  return s;
}

// DECLARE c [INSENSITIVE|SEMI_SENSITIVE|SENSITIVE] [SCROLL|NO SCROLL|DYNAMIC SCROLL] CURSOR
// FOR select [FOR READ ONLY | FOR UPDATE [OF a, b]]; DECLARE is already consumed.
StatementPtr Parser::parseDeclareCursor() {
  auto s = std::make_unique<DeclareCursorStatement>();
  s->name = expectName();
  for (;;) {
    if (acceptWord("insensitive")) {
      s->insensitive = true;
    } else if (acceptWord("semi_sensitive") || acceptWord("sensitive") || acceptWord("unique") ||
               acceptWord("release_locks_on_close")) {
    } else if (acceptWord("scroll")) {
      s->scroll = true;
    } else if ((peekWord("no") || peekWord("dynamic")) && peekWord("scroll", 1)) {
      s->scroll = next().isWord("dynamic");
      next();
    } else {
      break;
    }
  }
  expectWord("cursor");
  expectWord("for");
  if (!peekWord("select") && !peekParenthesizedSelect()) syntaxError();
  s->query = parseSelect();
  if (acceptWord("for")) {
    if (acceptWord("read")) {
      // for read only
      expectWord("only");
      s->use = CursorUse::ReadOnly;
    } else {
      expectWord("update");
      s->use = CursorUse::Update;
      if (acceptWord("of")) {
        do {
          s->updateColumns.push_back(expectName());
        } while (acceptSymbol(","));
      }
    }
  }
  return s;
}

StatementPtr Parser::parseOpenCursor() {
  expectWord("open");
  auto s = std::make_unique<OpenCursorStatement>();
  s->name = expectName();
  return s;
}

// FETCH [direction [FROM]] c [INTO @a, ...]; a bare name after FETCH is the cursor even when it
// spells a direction word, as long as no cursor name follows it.
StatementPtr Parser::parseFetch() {
  expectWord("fetch");
  auto s = std::make_unique<FetchCursorStatement>();
  static const struct {
    std::string_view word;
    FetchDirection direction;
    bool offset;
  } kDirections[] = {
      {"next", FetchDirection::Next, false},        {"prior", FetchDirection::Prior, false},
      {"first", FetchDirection::First, false},      {"last", FetchDirection::Last, false},
      {"absolute", FetchDirection::Absolute, true}, {"relative", FetchDirection::Relative, true}};
  for (const auto& d : kDirections) {
    if (!peekWord(d.word)) continue;
    // `fetch next c` or `fetch next from c`, but `fetch next` alone fetches from a cursor "next".
    const Token& after = peek(1);
    bool directionWord = d.offset ? after.type == TokenType::Integer || after.type == TokenType::Variable ||
                                        after.isSymbol("-") || after.isSymbol("+") || after.isSymbol("(")
                                  : isName(after) || after.isWord("from");
    if (!directionWord) break;
    next();
    s->direction = d.direction;
    if (d.offset) s->offset = parseAdditive();
    acceptWord("from");
    break;
  }
  if (s->direction == FetchDirection::Next) acceptWord("from");
  s->name = expectName();
  if (acceptWord("into")) {
    do {
      if (peek().type != TokenType::Variable || peek().text.size() < 2) syntaxError();
      s->into.push_back(next().text);
    } while (acceptSymbol(","));
  }
  return s;
}

StatementPtr Parser::parseCloseCursor() {
  expectWord("close");
  auto s = std::make_unique<CloseCursorStatement>();
  s->name = expectName();
  return s;
}

StatementPtr Parser::parseDeallocate() {
  expectWord("deallocate");
  acceptWord("cursor");
  auto s = std::make_unique<DeallocateCursorStatement>();
  s->name = expectName();
  return s;
}

}  // namespace tabsrv::tsql
