// Logins (master..syslogins with salted PBKDF2 password hashes) and database creation.
#include <unistd.h>

#include <cstdio>

#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/storage/database_files.h"
#include "server/storage/password_hash.h"
#include "server/storage/sql_util.h"
#include "server/storage/store.h"
#include "server/storage/system_tables.h"
#include "server/types/datetime.h"

namespace tabsrv {

using storage::rtrimmed;
using storage::Stmt;

namespace {

std::string loginsTable() {
  return sqliteObjectName("master", "dbo", "syslogins");
}

// A hash no login holds, checked instead of a login's when the name is unknown: a wrong name then
// costs as much as a wrong password, so timing tells no names apart.
const Bytes& standInHash() {
  static const Bytes hash = storage::hashPassword("no login has this password: " + std::to_string(::getpid()));
  return hash;
}

}  // namespace

std::optional<int32_t> checkLogin(sqlite3* db, const std::string& user, const std::string& password) {
  // Made by the first login of any name, so the first unknown name does not pay for it alone.
  const Bytes& standIn = standInHash();
  Stmt st(db, "SELECT suid, password, name FROM " + loginsTable() + " WHERE name = ?1");
  st.bind(1, user);
  while (st.step()) {
    // Login names match exactly (the RTRIM collation would accept 'sa  ').
    if (rtrimmed(st.text(2)) != user) continue;
    Bytes stored = st.isNull(1) ? Bytes() : st.blob(1);
    if (stored.empty()) {
      storage::verifyPassword(standIn, password);
      return std::nullopt;
    }
    if (!storage::verifyPassword(stored, password)) return std::nullopt;
    auto suid = static_cast<int32_t>(st.integer(0));
    if (storage::needsRehash(stored)) {
      // A hash of an older form is replaced now that the password is known. A failure here
      // (another session holding the write lock past the busy timeout) leaves the old hash for
      // the next login and does not refuse this one.
      try {
        Stmt up(db, "UPDATE " + loginsTable() + " SET password = ?1 WHERE suid = ?2 AND password = ?3");
        up.bind(1, storage::hashPassword(password)).bind(2, suid).bind(3, Value(stored));
        up.run();
      } catch (const SqlError&) {
      }
    }
    return suid;
  }
  storage::verifyPassword(standIn, password);
  return std::nullopt;
}

std::optional<std::string> loginDefaultDatabase(sqlite3* db, int32_t suid) {
  Stmt st(db, "SELECT dbname FROM " + loginsTable() + " WHERE suid = ?1");
  st.bind(1, suid);
  if (!st.step()) return std::nullopt;
  std::string name = st.isNull(0) ? std::string() : rtrimmed(st.text(0));
  return name.empty() ? std::string("master") : name;
}

std::optional<std::string> loginName(sqlite3* db, int32_t suid) {
  Stmt st(db, "SELECT name FROM " + loginsTable() + " WHERE suid = ?1");
  st.bind(1, suid);
  if (!st.step()) return std::nullopt;
  return rtrimmed(st.text(0));
}

bool setPassword(sqlite3* db, const std::string& user, const std::string& newPassword) {
  Stmt st(db, "UPDATE " + loginsTable() + " SET password = ?1, pwdate = ?2 WHERE name = ?3");
  st.bind(1, storage::hashPassword(newPassword)).bind(2, Value(currentDateTime())).bind(3, user);
  st.run();
  return sqlite3_changes(db) > 0;
}

int32_t addLogin(sqlite3* db, const std::string& user, const std::string& password,
                 const std::string& defaultDatabase, const std::string& fullName) {
  Stmt exists(db, "SELECT name FROM " + loginsTable() + " WHERE name = ?1");
  exists.bind(1, user);
  while (exists.step()) {
    if (rtrimmed(exists.text(0)) == user) {
      throw SqlError(17262, 16, "A user with the specified login name already exists.");
    }
  }
  Stmt next(db, "SELECT coalesce(max(suid), 0) + 1 FROM " + loginsTable());
  next.step();
  auto suid = static_cast<int32_t>(next.integer(0));
  DateTime now = currentDateTime();
  storage::insertSystemRow(db, "master", "syslogins",
                           {{"suid", int64_t{suid}},
                            {"status", int64_t{0}},
                            {"accdate", now},
                            {"dbname", defaultDatabase.empty() ? std::string("master") : defaultDatabase},
                            {"name", user},
                            {"password", storage::hashPassword(password)},
                            {"pwdate", now},
                            {"fullname", fullName.empty() ? Value() : Value(fullName)}});
  return suid;
}

void createDatabase(sqlite3* db, const std::string& name, int32_t ownerSuid) {
  requireIdentifierLength(name);
  if (databaseExists(db, name)) throw SqlError(1801, 16, "Database '" + name + "' already exists.");
  // SQLite tells table names apart only ignoring case, and every table name starts with its
  // database's: "Sales" beside "sales" would read and write the other's tables.
  {
    Stmt same(db, "SELECT name FROM " + sqliteObjectName("master", "dbo", "sysdatabases") +
                      " WHERE lower(rtrim(name)) = lower(?1)");
    same.bind(1, name);
    if (same.step())
      throw SqlError(1801, 16,
                     "Database '" + rtrimmed(same.text(0)) + "' already exists; the name '" + name +
                         "' differs from it only in case.");
  }
  Stmt next(db, "SELECT coalesce(max(dbid), 0) + 1 FROM " +
                    sqliteObjectName("master", "dbo", "sysdatabases") + " WHERE dbid < 31000");
  next.step();
  int64_t dbid = next.integer(0);
  // The new file is made and filled on a connection of its own (its own transaction), before the
  // sysdatabases row makes it a database: until then nobody reaches it, and a file that a failed
  // attempt left behind is replaced.
  const std::string folder = storage::databasesFolder(db);
  const std::string path = folder + "/" + databaseFileName(name);
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  {
    ConnectionPtr file(storage::openDatabaseConnection(folder, name));
    storage::execSql(file.get(), "BEGIN");
    try {
      storage::createSystemTables(file.get(), name, ownerSuid, false);
      storage::execSql(file.get(), "COMMIT");
    } catch (...) {
      sqlite3_exec(file.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }
  storage::noteDatabaseFilesChanged();
  DateTime now = currentDateTime();
  storage::insertSystemRow(db, "master", "sysdatabases",
                           {{"name", name},
                            {"dbid", dbid},
                            {"suid", int64_t{ownerSuid}},
                            {"status", int64_t{0}},
                            {"version", int64_t{1}},
                            {"crdate", now},
                            {"dumptrdate", now}});
}

}  // namespace tabsrv
