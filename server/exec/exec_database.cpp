// CREATE DATABASE name [ON ...] [LOG ON ...] and DROP DATABASE a [, b]: the ones a batch starts with
// are recognised from their tokens (the statement parser has no form for them) and run through the
// catalogue, then the rest of the batch runs. Device and size clauses are accepted and ignored: every database is one
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

// Skips `dev [= size] {, dev [= size]}` of an ON or LOG ON clause; false when none is there.
bool skipDevices(const std::vector<Token>& tokens, size_t& i) {
  bool any = false;
  while (isName(tokens[i]) || tokens[i].type == TokenType::String) {
    any = true;
    ++i;
    if (tokens[i].isSymbol("=")) {
      ++i;
      if (tokens[i].type == TokenType::End) return false;
      ++i;
    }
    if (!tokens[i].isSymbol(",")) break;
    ++i;
  }
  return any;
}

// The database statements a batch starts with, and where the rest of the batch begins (the text's
// size when nothing follows); nothing when it does not start with one.
struct DatabaseBatch {
  std::vector<DatabaseCommand> commands;
  size_t rest = 0;
};
std::optional<DatabaseBatch> databaseCommands(std::string_view sql) {
  std::vector<Token> tokens;
  try {
    tokens = tokenize(sql);
  } catch (const SqlError&) {
    return std::nullopt;
  }
  DatabaseBatch batch;
  size_t i = 0;
  while (tokens[i].type != TokenType::End) {
    if (tokens[i].isSymbol(";")) {
      ++i;
      continue;
    }
    bool create = tokens[i].isWord("create");
    if (!(create || tokens[i].isWord("drop")) || !tokens[i + 1].isWord("database")) break;
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
      // ON default = 10, dev2 = 5 LOG ON logdev = 2 WITH OVERRIDE FOR LOAD: accepted and ignored
      // (every database is one file); whatever follows is the batch's next statement.
      if (tokens[i].isWord("on")) {
        ++i;
        if (!skipDevices(tokens, i)) return std::nullopt;
      }
      if (tokens[i].isWord("log") && tokens[i + 1].isWord("on")) {
        i += 2;
        if (!skipDevices(tokens, i)) return std::nullopt;
      }
      if (tokens[i].isWord("with") && tokens[i + 1].isWord("override")) i += 2;
      if (tokens[i].isWord("for") && tokens[i + 1].isWord("load")) i += 2;
    }
    batch.commands.push_back(std::move(c));
  }
  if (batch.commands.empty()) return std::nullopt;
  batch.rest = tokens[i].type == TokenType::End ? sql.size() : tokens[i].begin;
  return batch;
}

}  // namespace

bool SessionImpl::runDatabaseBatch(std::string_view sql) {
  auto batch = databaseCommands(sql);
  if (!batch) return false;
  // The statements after them are parsed first: a syntax error anywhere stops the whole batch
  // before anything runs, as in any other batch.
  const std::string_view rest = sql.substr(batch->rest);
  if (rest.find_first_not_of(" \t\r\n;") != std::string_view::npos && !databaseCommands(rest)) {
    try {
      ParseOptions options = parseOptions();
      options.quotedIdentifiers = options_.quotedIdentifier;
      parseBatch(rest, options);
    } catch (const SqlError& e) {
      error_ = e.number();
      sendMessage(e.toMessage());
      sink_->done(DoneKind::Done, true, -1);
      return true;
    }
  }
  ResultSink& sink = *sink_;
  {
    CatalogChange change(*this);
    try {
      runDatabaseCommands(batch->commands);
    } catch (const Cancelled&) {
      // The protocol layer answers the attention.
      return true;
    }
  }
  if (rest.find_first_not_of(" \t\r\n;") != std::string_view::npos) runBatch(rest, sink, {});
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
