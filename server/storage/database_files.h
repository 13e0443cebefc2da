// The databases' files: each database (master, tempdb, model, sybsystemprocs and every user
// database) is one SQLite file in the data directory's "databases" folder, so that a writer of
// one database never waits for the transaction of another. A session's connection opens master's
// file as its main schema and attaches another database's file when a statement first needs it.
// SQLite names of tables, views and indexes carry their database's name, so one name is never in
// two files and statements name tables without a schema; only CREATE and the schema lookups name
// the schema (schemaName).
//
// Write locks: SQLite has one writer per file. Inside a transaction a statement takes the write
// lock of the database it changes before it reads anything there (lockForWrite): a lock taken
// after the transaction has read the file would fail at once when another writer holds it, and
// for good once that writer has committed (the transaction's snapshot is then stale). A
// transaction changes one database at most (tempdb aside): WAL files commit one by one, so two
// databases could not be changed atomically across a crash; the second one is refused.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/core/message.h"

namespace tabsrv {

// The folder of the database files inside the data directory.
constexpr const char* kDatabaseFolder = "databases";

// The file name of `database` in that folder: lower-case letters, digits and '_' as they are,
// an upper-case letter as '^' and the letter in lower case (file systems and SQLite's schema names
// may not tell cases apart), every other byte as %XX; then ".db". "Sales" is "^sales.db".
std::string databaseFileName(const std::string& database);

// The error of a second database changed by one transaction.
SqlError crossDatabaseWrite(const std::string& written, const std::string& refused);

namespace storage {

// What the session decides while a lock is held by another connection.
struct LockHooks {
  // Called before each new attempt on the write lock of `database` (attempt counts from 0);
  // false stops waiting (the lock wait is over, the client cancelled, a deadlock was found).
  std::function<bool(const std::string& database, int attempt)> wait;
  // The error of a wait that stopped; SqlError 12205 when unset.
  std::function<SqlError(const std::string& database)> failure;
  // The error of a transaction whose snapshot of `database` is older than its last commit, so it
  // can no longer change it; SqlError 1205 when unset.
  std::function<SqlError(const std::string& database)> stale;
  // This connection's transaction now holds the write lock of `database`.
  std::function<void(const std::string& database)> acquired;
  // A statement of `sql` that the connection's owner keeps prepared (reset, nothing bound), or
  // null to prepare one for this use; lockForWrite resets it after use and never finalizes it.
  std::function<sqlite3_stmt*(const std::string& sql)> keptStatement;
};

// Opens one database file with the server's settings: WAL (set on a new file, kept by the file),
// synchronous=NORMAL, foreign keys and automatic indexes off, the collations and t_* functions,
// the default busy handler. `databases` is the folder and `mainDatabase` the database whose file
// this is; statements on the connection attach the folder's other files as they need them.
// Throws std::runtime_error when SQLite refuses.
sqlite3* openDatabaseConnection(const std::string& databases, const std::string& mainDatabase);

// The plain schema name `database` has on `db` ("main" for the connection's own file), attaching
// its file first when needed. Throws SqlError 911 when the database has no file, 10356 when the
// connection holds as many databases as SQLite allows and none can be let go.
std::string schemaName(sqlite3* db, const std::string& database);
// The same, quoted and followed by a dot: "\"~sample\"." for statements that create objects.
std::string schemaPrefix(sqlite3* db, const std::string& database);
// True when `database` is attached to `db` (or is its main database).
bool isAttached(sqlite3* db, const std::string& database);
// True when `database` has a file in `db`'s folder (read without a statement, so inside a
// transaction it takes no snapshot of any file).
bool hasDatabaseFile(sqlite3* db, const std::string& database);
// The databases `db` has open, its main database first.
std::vector<std::string> openDatabases(sqlite3* db);

// The folder of `db`'s database files.
std::string databasesFolder(sqlite3* db);

// Creates the file of a new database in the connection's folder (replacing a file a failed earlier
// attempt left there) and attaches it to `db`; the caller fills it. Throws SqlError when SQLite
// refuses.
void attachNewDatabase(sqlite3* db, const std::string& database);
// Detaches `database` from `db` (when attached) and removes its file: a dropped database's file.
void removeDatabaseFile(sqlite3* db, const std::string& database);
// Every connection of the process lets go of files that were removed or replaced since it
// attached them at its next refreshAttachments.
void noteDatabaseFilesChanged();
// Detaches the files of databases dropped (or dropped and made again) since they were attached,
// where the connection's transaction does not use them.
void refreshAttachments(sqlite3* db);

// Installs the session's lock hooks on `db`.
void setLockHooks(sqlite3* db, LockHooks hooks);
// The database whose lock `db` is waiting for now, or empty.
std::string waitingFor(sqlite3* db);

// Inside a transaction: takes the write lock of `database` before the statement touches it,
// waiting through the hooks while another connection holds it. Outside a transaction nothing is
// done (a statement then takes its lock itself). Throws crossDatabaseWrite when the transaction
// has already changed another database (tempdb aside), the hooks' errors when the wait stops or
// the snapshot is stale.
void lockForWrite(sqlite3* db, const std::string& database);
// The databases the open transaction has taken write locks on.
std::vector<std::string> lockedDatabases(sqlite3* db);
// Before a COMMIT: throws crossDatabaseWrite when the transaction changed two databases besides
// tempdb (the caller then rolls it back instead).
void requireOneDatabaseChanged(sqlite3* db);

}  // namespace storage
}  // namespace tabsrv
