// Definitions: CREATE TABLE (columns, column and table constraints), ALTER TABLE ADD,
// CREATE INDEX, CREATE VIEW, CREATE PROCEDURE/TRIGGER/RULE/DEFAULT, CREATE/DROP DATABASE,
// DROP ..., GRANT/REVOKE.
#include <algorithm>

#include "server/tsql/parser_impl.h"

namespace tabsrv::tsql {

StatementPtr Parser::parseCreate() {
  expectWord("create");
  if (peekWord("table")) return parseCreateTable();
  if (peekWord("unique") || peekWord("clustered") || peekWord("nonclustered") || peekWord("index")) {
    return parseCreateIndex();
  }
  if (peekWord("view")) return parseCreateView();
  if (peekWord("proc") || peekWord("procedure")) return parseCreateProcedure();
  if (peekWord("trigger")) return parseCreateTrigger();
  if (peekWord("database")) return parseCreateDatabase();
  if (acceptWord("rule")) {
    auto s = std::make_unique<CreateRuleStatement>();
    s->name = parseObjectName();
    expectWord("as");
    s->condition = parseCondition();
    return s;
  }
  if (acceptWord("default")) {
    auto s = std::make_unique<CreateDefaultStatement>();
    s->name = parseObjectName();
    expectWord("as");
    s->value = parseExpr();
    return s;
  }
  syntaxError();
}

// Segment names may be words the family reserves (`on default`) or strings (`on 'default'`,
// as generated index definitions write them).
static std::string segmentName(Parser& p) {
  TokenType type = p.peek().type;
  if (type != TokenType::Word && type != TokenType::Bracketed && type != TokenType::String) p.syntaxError();
  return p.next().text;
}

StatementPtr Parser::parseCreateTable() {
  expectWord("table");
  auto s = std::make_unique<CreateTableStatement>();
  s->table = parseObjectName();
  expectSymbol("(");
  do {
    parseTableElement(s->columns, s->constraints);
  } while (acceptSymbol(","));
  expectSymbol(")");
  // lock datarows|datapages|allpages only chooses a locking scheme.
  if (peekWord("lock") && peek(1).type == TokenType::Word) {
    next();
    next();
  }
  if (acceptWord("on")) s->segment = segmentName(*this);
  return s;
}

void Parser::parseTableElement(std::vector<ColumnDef>& columns, std::vector<Constraint>& constraints) {
  if (peekWord("constraint") || peekWord("primary") || peekWord("unique") || peekWord("foreign") ||
      peekWord("check")) {
    std::string name;
    if (acceptWord("constraint")) name = expectName();
    constraints.push_back(parseConstraintBody(std::move(name), true));
  } else {
    columns.push_back(parseColumnDef());
  }
}

// The part of a constraint after its optional CONSTRAINT name. Table-level key constraints
// list their columns; a column-level REFERENCES is a foreign key on that column.
Constraint Parser::parseConstraintBody(std::string name, bool tableLevel) {
  Constraint c;
  c.name = std::move(name);
  if (peekWord("primary") || peekWord("unique")) {
    if (acceptWord("primary")) {
      expectWord("key");
      c.kind = ConstraintKind::PrimaryKey;
    } else {
      next();
      c.kind = ConstraintKind::Unique;
    }
    if (acceptWord("clustered")) {
      c.clustering = Clustering::Clustered;
    } else if (acceptWord("nonclustered")) {
      c.clustering = Clustering::Nonclustered;
    }
    if (tableLevel || peekSymbol("(")) {
      expectSymbol("(");
      do {
        c.columns.push_back(expectName());
        if (!acceptWord("asc")) acceptWord("desc");
      } while (acceptSymbol(","));
      expectSymbol(")");
    }
    return c;
  }
  if (tableLevel && acceptWord("foreign")) {
    expectWord("key");
    c.kind = ConstraintKind::ForeignKey;
    c.columns = parseNameList();
    expectWord("references");
    c.refTable = parseObjectName();
    if (peekSymbol("(")) c.refColumns = parseNameList();
    return c;
  }
  if (acceptWord("references")) {
    c.kind = ConstraintKind::ForeignKey;
    c.refTable = parseObjectName();
    if (peekSymbol("(")) c.refColumns = parseNameList();
    return c;
  }
  if (acceptWord("check")) {
    c.kind = ConstraintKind::Check;
    expectSymbol("(");
    c.check = parseCondition();
    expectSymbol(")");
    return c;
  }
  syntaxError();
}

// name type, then NULL, NOT NULL, IDENTITY, DEFAULT expr and constraints in any order.
ColumnDef Parser::parseColumnDef() {
  ColumnDef col;
  col.name = expectName();
  col.type = parseTypeName();
  for (;;) {
    if (acceptWord("null")) {
      col.nullability = Nullability::Null;
    } else if (acceptWord("not")) {
      expectWord("null");
      col.nullability = Nullability::NotNull;
    } else if (acceptWord("identity")) {
      col.identity = true;
    } else if (acceptWord("default")) {
      col.defaultValue = parseExpr();
    } else if (acceptWord("constraint")) {
      std::string name = expectName();
      col.constraints.push_back(parseConstraintBody(std::move(name), false));
    } else if (peekWord("primary") || peekWord("unique") || peekWord("references") || peekWord("check")) {
      col.constraints.push_back(parseConstraintBody({}, false));
    } else {
      return col;
    }
  }
}

StatementPtr Parser::parseCreateIndex() {
  auto s = std::make_unique<CreateIndexStatement>();
  s->unique = acceptWord("unique");
  if (acceptWord("clustered")) {
    s->clustering = Clustering::Clustered;
  } else if (acceptWord("nonclustered")) {
    s->clustering = Clustering::Nonclustered;
  }
  expectWord("index");
  s->name = expectName();
  expectWord("on");
  s->table = parseObjectName();
  expectSymbol("(");
  do {
    IndexColumn c;
    c.name = expectName();
    if (acceptWord("desc")) {
      c.descending = true;
    } else {
      acceptWord("asc");
    }
    s->columns.push_back(std::move(c));
  } while (acceptSymbol(","));
  expectSymbol(")");
  if (acceptWord("with")) {
    // with fillfactor = 80, ignore_dup_key: kept as written words.
    do {
      if (peek().type != TokenType::Word) syntaxError();
      std::string option = next().text;
      if (acceptSymbol("=")) {
        if (peek().type != TokenType::Integer && peek().type != TokenType::Word) syntaxError();
        option += " = " + next().text;
      }
      s->withOptions.push_back(std::move(option));
    } while (acceptSymbol(","));
  }
  if (acceptWord("on")) s->segment = segmentName(*this);
  return s;
}

StatementPtr Parser::parseCreateView() {
  expectWord("view");
  auto s = std::make_unique<CreateViewStatement>();
  s->view = parseObjectName();
  if (peekSymbol("(")) s->columns = parseNameList();
  expectWord("as");
  s->query = parseSelect();
  if (acceptWord("with")) {
    expectWord("check");
    expectWord("option");
    s->withCheckOption = true;
  }
  return s;
}

StatementPtr Parser::parseCreateProcedure() {
  next();  // proc | procedure
  auto s = std::make_unique<CreateProcedureStatement>();
  s->name = parseObjectName();
  if (peekSymbol(";") && peek(1).type == TokenType::Integer) {
    next();
    next();
  }
  bool parens = acceptSymbol("(");
  if (peek().type == TokenType::Variable) {
    do {
      ProcParam p;
      if (peek().type != TokenType::Variable || peek().text.size() < 2) syntaxError();
      p.name = next().text;
      acceptWord("as");
      p.type = parseTypeName();
      if (acceptSymbol("=")) p.defaultValue = parseExpr();
      p.output = acceptWord("output") || acceptWord("out");
      s->params.push_back(std::move(p));
    } while (acceptSymbol(","));
  }
  if (parens) expectSymbol(")");
  if (acceptWord("with")) {
    expectWord("recompile");
    s->withRecompile = true;
  }
  expectWord("as");
  s->body = parseStatementsToEnd();
  return s;
}

StatementPtr Parser::parseCreateTrigger() {
  expectWord("trigger");
  auto s = std::make_unique<CreateTriggerStatement>();
  s->name = parseObjectName();
  expectWord("on");
  s->table = parseObjectName();
  expectWord("for");
  do {
    if (acceptWord("insert")) {
      s->onInsert = true;
    } else if (acceptWord("update")) {
      s->onUpdate = true;
    } else if (acceptWord("delete")) {
      s->onDelete = true;
    } else {
      syntaxError();
    }
  } while (acceptSymbol(","));
  expectWord("as");
  s->body = parseStatementsToEnd();
  return s;
}

StatementPtr Parser::parseDrop() {
  expectWord("drop");
  if (peekWord("database")) return parseDropDatabase();
  if (acceptWord("index")) {
    auto s = std::make_unique<DropIndexStatement>();
    do {
      std::vector<std::string> parts{expectName()};
      while (parts.size() < 4 && acceptSymbol(".")) parts.push_back(expectName());
      if (parts.size() < 2) syntaxError();
      IndexRef r;
      r.index = parts.back();
      parts.pop_back();
      r.table.name = parts.back();
      parts.pop_back();
      if (!parts.empty()) r.table.owner = parts.back(), parts.pop_back();
      if (!parts.empty()) r.table.database = parts.back();
      s->indexes.push_back(std::move(r));
    } while (acceptSymbol(","));
    return s;
  }
  auto s = std::make_unique<DropStatement>();
  if (acceptWord("table")) {
    s->object = DropObject::Table;
  } else if (acceptWord("view")) {
    s->object = DropObject::View;
  } else if (acceptWord("proc") || acceptWord("procedure")) {
    s->object = DropObject::Procedure;
  } else if (acceptWord("trigger")) {
    s->object = DropObject::Trigger;
  } else if (acceptWord("rule")) {
    s->object = DropObject::Rule;
  } else if (acceptWord("default")) {
    s->object = DropObject::Default;
  } else {
    syntaxError();
  }
  do {
    s->names.push_back(parseObjectName());
  } while (acceptSymbol(","));
  return s;
}

StatementPtr Parser::parseCreateDatabase() {
  expectWord("database");
  auto s = std::make_unique<CreateDatabaseStatement>();
  s->name = expectName();
  if (acceptWord("on")) s->devices = parseDatabaseDevices();
  if (peekWord("log") && peekWord("on", 1)) {
    next();
    next();
    s->logDevices = parseDatabaseDevices();
  }
  if (acceptWord("with")) {
    expectWord("override");
    s->withOverride = true;
  }
  if (acceptWord("for")) {
    expectWord("load");
    s->forLoad = true;
  }
  return s;
}

// A device is a name, the reserved word DEFAULT (the server's default devices) or a string;
// its size a number of megabytes or a string with a unit ('10M').
std::vector<DatabaseDevice> Parser::parseDatabaseDevices() {
  std::vector<DatabaseDevice> list;
  do {
    DatabaseDevice d;
    if (acceptWord("default")) {
      d.name = "default";
    } else if (peek().type == TokenType::String) {
      d.name = next().text;
    } else {
      d.name = expectName();
    }
    if (acceptSymbol("=")) {
      if (peek().type != TokenType::Integer && peek().type != TokenType::String) syntaxError();
      d.size = parsePrimary();
    }
    list.push_back(std::move(d));
  } while (acceptSymbol(","));
  return list;
}

StatementPtr Parser::parseDropDatabase() {
  expectWord("database");
  auto s = std::make_unique<DropDatabaseStatement>();
  do {
    s->names.push_back(expectName());
  } while (acceptSymbol(","));
  return s;
}

StatementPtr Parser::parseAlter() {
  expectWord("alter");
  expectWord("table");
  auto s = std::make_unique<AlterTableStatement>();
  s->table = parseObjectName();
  if (acceptWord("drop")) {
    expectWord("constraint");
    s->dropConstraint = expectName();
    return s;
  }
  expectWord("add");
  do {
    parseTableElement(s->addColumns, s->addConstraints);
  } while (acceptSymbol(","));
  return s;
}

// GRANT select, update (price) ON titles TO public; GRANT create table TO mary;
// REVOKE [GRANT OPTION FOR] ... FROM ... [CASCADE].
StatementPtr Parser::parseGrant(bool revoke) {
  next();
  auto s = std::make_unique<GrantStatement>();
  s->revoke = revoke;
  if (revoke && peekWord("grant") && peekWord("option", 1) && peekWord("for", 2)) {
    next();
    next();
    next();
  }
  // Where each written privilege stands (for "create x", at x): one that is not a permission of
  // its kind is a syntax error there, as "grant create trigger to mary" fails near 'trigger'.
  std::vector<size_t> written;
  if (acceptWord("all")) {
    s->privileges.push_back("all");
    written.push_back(pos_ - 1);
    acceptWord("privileges");
  } else {
    do {
      if (peek().type != TokenType::Word) syntaxError();
      written.push_back(pos_);
      std::string privilege = lowerCase(next().text);
      if (privilege == "create") {
        if (peek().type != TokenType::Word) syntaxError();
        written.back() = pos_;
        privilege += " " + lowerCase(next().text);
      } else if (privilege == "exec") {
        privilege = "execute";
      }
      s->privileges.push_back(std::move(privilege));
      if (peekSymbol("(")) s->columns = parseNameList();
    } while (acceptSymbol(","));
  }
  const size_t afterPrivileges = pos_;
  const bool onObject = acceptWord("on");
  static const std::vector<std::string> kObjectPrivileges = {"all",    "select", "insert",    "update",
                                                             "delete", "execute", "references"};
  static const std::vector<std::string> kStatementPrivileges = {
      "all",         "create database", "create default", "create procedure", "create proc",
      "create rule", "create table",    "create view"};
  const auto& known = onObject ? kObjectPrivileges : kStatementPrivileges;
  for (size_t i = 0; i < s->privileges.size(); ++i) {
    if (std::find(known.begin(), known.end(), s->privileges[i]) != known.end()) continue;
    // "grant select to mary" lacks its ON: the family stops at the TO.
    const bool objectPrivilege =
        std::find(kObjectPrivileges.begin(), kObjectPrivileges.end(), s->privileges[i]) != kObjectPrivileges.end();
    pos_ = objectPrivilege ? afterPrivileges : written[i];
    syntaxError();
  }
  if (!onObject) pos_ = afterPrivileges;
  if (onObject) {
    s->object = parseObjectName();
    if (peekSymbol("(")) s->columns = parseNameList();
  }
  if (!acceptWord("to") && !acceptWord("from")) syntaxError();
  do {
    s->grantees.push_back(expectName());
  } while (acceptSymbol(","));
  if (!revoke && peekWord("with")) {
    next();
    expectWord("grant");
    expectWord("option");
    s->withGrantOption = true;
  }
  if (revoke) acceptWord("cascade");
  return s;
}

}  // namespace tabsrv::tsql
