// CREATE DATABASE and DROP DATABASE: run through the catalogue, refused inside a transaction (a
// trigger's included). Device and size clauses are accepted and ignored: every database is one
// SQLite file in the data directory's databases folder.
#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/storage/database_files.h"
#include "server/types/sqlite_error.h"

namespace tabsrv {

using namespace tsql;

void SessionImpl::runDatabaseCommand(bool create, const std::vector<std::string>& names) {
  const char* what = create ? "CREATE DATABASE" : "DROP DATABASE";
  setCommand(what);
  // A trigger runs inside the transaction of the statement that fired it.
  if (tranCount_ > 0 || !firingTables_.empty())
    throw SqlError(226, 16, std::string(what) + " command not allowed within multi-statement transaction.");
  for (const auto& name : names) {
    if (create) {
      if (id_.suid != 1) throw SqlError(262, 14, "CREATE DATABASE permission denied in database 'master'.");
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
  done(false, -1);
}

}  // namespace tabsrv
