// CREATE DATABASE name [ON ...] [LOG ON ...] and DROP DATABASE a [, b]: batches of only these
// statements are recognised from their tokens (the statement parser has no form for them) and run
// through the catalogue. Device and size clauses are accepted and ignored: every database is one
// SQLite file in the data directory's databases folder.
#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/storage/database_files.h"
#include "server/tsql/lexer.h"
#include "server/types/sqlite_error.h"

namespace tabsrv {

using namespace tsql;

namespace {

bool isName(const Token& t) {
  return t.type == TokenType::Word || t.type == TokenType::Bracketed;
}

// The batch's database statements, or nothing when it holds anything else (a clause is then
// left for the parser to report).
std::optional<std::vector<DatabaseCommand>> databaseCommands(std::string_view sql) {
  std::vector<Token> tokens;
  try {
    tokens = tokenize(sql);
  } catch (const SqlError&) {
    return std::nullopt;
  }
  std::vector<DatabaseCommand> commands;
  size_t i = 0;
  while (tokens[i].type != TokenType::End) {
    if (tokens[i].isSymbol(";")) {
      ++i;
      continue;
    }
    bool create = tokens[i].isWord("create");
    if (!(create || tokens[i].isWord("drop")) || !tokens[i + 1].isWord("database")) return std::nullopt;
    DatabaseCommand c;
    c.create = create;
    c.line = tokens[i].line;
    i += 2;
    while (true) {
      if (!isName(tokens[i])) return std::nullopt;
      c.names.push_back(tokens[i].text);
      ++i;
      if (create || !tokens[i].isSymbol(",")) break;
      ++i;
    }
    if (create) {
      // ON default = 10, dev2 = 5 LOG ON logdev = 2 [WITH OVERRIDE] [FOR LOAD]: skipped.
      while (tokens[i].type != TokenType::End && !tokens[i].isSymbol(";") &&
             !((tokens[i].isWord("create") || tokens[i].isWord("drop")) && tokens[i + 1].isWord("database")))
        ++i;
    }
    commands.push_back(std::move(c));
  }
  if (commands.empty()) return std::nullopt;
  return commands;
}

}  // namespace

bool SessionImpl::runDatabaseBatch(std::string_view sql) {
  auto commands = databaseCommands(sql);
  if (!commands) return false;
  CatalogChange change(*this);
  try {
    runDatabaseCommands(*commands);
  } catch (const Cancelled&) {
    // The protocol layer answers the attention.
  }
  return true;
}

void SessionImpl::runDatabaseCommands(const std::vector<DatabaseCommand>& commands) {
  for (const auto& c : commands) {
    try {
      checkCancel();
      setCommand(c.create ? "CREATE DATABASE" : "DROP DATABASE");
      const char* what = c.create ? "CREATE DATABASE" : "DROP DATABASE";
      if (tranCount_ > 0)
        throw SqlError(226, 16,
                       std::string(what) + " command not allowed within multi-statement transaction.");
      for (const auto& name : c.names) {
        if (c.create) {
          if (id_.suid != 1)
            throw SqlError(262, 14, "CREATE DATABASE permission denied in database 'master'.");
          if (name.size() > 30)
            throw SqlError(103, 15,
                           "The identifier that starts with '" + name.substr(0, 30) +
                               "' is too long. Maximum length is 30.");
          // Under master's write lock, so two sessions never make the same database.
          StatementTransaction tx(*this, "master");
          createDatabase(db_, name, id_.suid);
          tx.commit();
          continue;
        }
        auto info = findDatabase(db_, name);
        // Only sa and the database's owner may drop it; others learn no more than that.
        if (info && id_.suid != 1 && info->suid != id_.suid)
          throw SqlError(262, 14, "DROP DATABASE permission denied in database '" + name + "'.");
        // In use: some session's current database, or a transaction holds its write lock.
        bool inUse = database_ == name || processes_.writerOf(name) != 0;
        for (const auto& p : processes_.snapshot())
          if (p.spid != spid_ && p.database == name) inUse = true;
        if (info && inUse)
          throw SqlError(3702, 16, "Cannot drop the database '" + name + "' because it is currently in use.");
        StatementTransaction tx(*this, "master");
        dropDatabase(db_, name);
        tx.commit();
        // Once the row is gone for good, so is the file; other sessions let go of it at their
        // next batch.
        storage::removeDatabaseFile(db_, name);
      }
      error_ = 0;
      rowCount_ = 0;
      done(false, -1);
    } catch (SqlError& e) {
      if (e.number() == kCancelledErrorNumber) throw Cancelled{};
      e.setLine(static_cast<uint16_t>(c.line));
      error_ = e.number();
      ++errorCount_;
      sendMessage(e.toMessage());
      done(true, -1);
    }
  }
}

}  // namespace tabsrv
