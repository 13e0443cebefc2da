// Opening the data directory: first-start creation of every system database and the sa login, the
// copy of an earlier build's single file, the start-up upkeep of each database, and the
// per-session connections.
#include "server/storage/store.h"

#include <filesystem>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "server/core/message.h"
#include "server/storage/anywhere_views.h"
#include "server/storage/catalog.h"
#include "server/storage/catalog_internal.h"
#include "server/storage/database_files.h"
#include "server/storage/password_hash.h"
#include "server/storage/sample_script.h"
#include "server/storage/sql_util.h"
#include "server/storage/store_migration.h"
#include "server/storage/system_tables.h"
#include "server/types/datetime.h"
#include "server/types/functions.h"
#include "server/types/type_codes.h"

namespace tabsrv {
namespace {

// The databases of a fresh server: name, dbid, and whether guest may enter.
struct InitialDatabase {
  const char* name;
  int dbid;
  bool guest;
};
constexpr InitialDatabase kInitialDatabases[] = {
    {"master", 1, true},
    {"tempdb", 2, true},
    {"model", 3, false},
    {"sample", 4, false},
    {"sybsystemprocs", 31513, true},
};

// The sample's users and groups, made before its script so that tables can belong to them: the
// group editors and the user clerk in it, with a login whose password nobody knows (sa sets one
// with sp_password before anyone can use it).
void createSampleUsers(sqlite3* db) {
  addGroup(db, "sample", "editors");
  std::random_device random;
  std::string password;
  for (int i = 0; i < 24; ++i) password += static_cast<char>('a' + random() % 26);
  int32_t clerk = addLogin(db, "clerk", password, "sample", "Shop Clerk");
  addUser(db, "sample", "clerk", clerk, "editors");
}

void createServer(sqlite3* db) {
  for (const InitialDatabase& d : kInitialDatabases) storage::createSystemTables(db, d.name, 1, d.guest);
  DateTime now = currentDateTime();
  for (const InitialDatabase& d : kInitialDatabases) {
    storage::insertSystemRow(db, "master", "sysdatabases",
                             {{"name", std::string(d.name)},
                              {"dbid", int64_t{d.dbid}},
                              {"suid", int64_t{1}},
                              {"status", int64_t{0}},
                              {"version", int64_t{1}},
                              {"crdate", now},
                              {"dumptrdate", now}});
  }
  storage::fillServerTables(db);
  storage::insertSystemRow(db, "master", "syslogins",
                           {{"suid", int64_t{1}},
                            {"status", int64_t{0}},
                            {"accdate", now},
                            {"dbname", std::string("master")},
                            {"name", std::string("sa")},
                            {"password", storage::hashPassword("")},
                            {"pwdate", now}});
  // The sample's user datatypes and users come before its script runs: the tables use them.
  createUserType(db, {"sample", "phone_t", makeType(SqlType::VarChar, 12), false, false, 1});
  createUserType(db, {"sample", "zip_t", makeType(SqlType::Char, 5), true, false, 1});
  createSampleUsers(db);
}

// Runs `work` in one transaction on `db` (BEGIN, not IMMEDIATE: the start-up connection is the
// only one, and IMMEDIATE would lock every attached file).
template <typename Work>
void inTransaction(sqlite3* db, Work work) {
  storage::execSql(db, "BEGIN");
  try {
    work();
    storage::execSql(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// tempdb starts empty on every start, as the family's does: temporary tables of sessions that
// ended with the last run would otherwise linger and block names.
void clearTempdb(sqlite3* db) {
  std::vector<int32_t> ids;
  {
    storage::Stmt st(db, "SELECT id FROM " + sqliteObjectName("tempdb", "dbo", "sysobjects") +
                             " WHERE type IN ('U', 'V') ORDER BY type DESC");
    while (st.step()) ids.push_back(static_cast<int32_t>(st.integer(0)));
  }
  if (ids.empty()) return;
  inTransaction(db, [&] {
    for (int32_t id : ids) {
      if (auto t = storage::loadTable(db, "tempdb", id)) dropTable(db, *t);
    }
  });
}

std::vector<std::string> databaseNames(sqlite3* db) {
  std::vector<std::string> names;
  storage::Stmt st(db, "SELECT name FROM " + sqliteObjectName("master", "dbo", "sysdatabases"));
  while (st.step()) names.push_back(storage::rtrimmed(st.text(0)));
  return names;
}

// What every start does to each database, one transaction per database (each is its own file):
// this version's catalogue views of the other family, the system tables' indexes, and master's
// configuration defaults raised from an earlier version's.
void refreshDatabases(sqlite3* db) {
  inTransaction(db, [&] { storage::raiseEarlierDefaults(db); });
  for (const std::string& name : databaseNames(db)) {
    // A database whose file is gone (removed by hand) is left alone: the others still start, and
    // statements naming it fail with 911.
    if (!storage::hasDatabaseFile(db, name)) continue;
    inTransaction(db, [&] {
      storage::createInternalTables(db, name);
      storage::ensureSystemTables(db, name);
      storage::replaceAnywhereViews(db, name);
      storage::ensureSystemIndexes(db, name);
    });
  }
}

// Makes a fresh server in `folder` (every database's file, then the sa login and the sample's
// users): built under a temporary name and renamed at the end, so a crash during first start
// leaves nothing half made and the next start simply creates everything again.
void createFresh(const std::string& folder) {
  const std::string building = folder + ".new";
  std::filesystem::remove_all(building);
  std::filesystem::create_directories(building);
  {
    ConnectionPtr db(storage::openDatabaseConnection(building, "master"));
    // Files are made outside the transaction: a file turns to WAL only outside one.
    for (const InitialDatabase& d : kInitialDatabases)
      if (std::string_view(d.name) != "master") storage::attachNewDatabase(db.get(), d.name);
    inTransaction(db.get(), [&] { createServer(db.get()); });
  }
  std::filesystem::rename(building, folder);
}

}  // namespace

std::string Store::databasesFolder() const {
  return dir_ + "/" + kDatabaseFolder;
}

std::unique_ptr<Store> Store::open(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw std::runtime_error("cannot create data directory " + dir + ": " + ec.message());
  const std::string folder = dir + "/" + kDatabaseFolder;
  const bool layout = std::filesystem::exists(folder + "/" + databaseFileName("master"));
  const bool single = !layout && std::filesystem::exists(dir + "/" + kSingleStoreFileName);
  bool fresh = false;
  try {
    if (single) {
      storage::copySingleFileStore(dir + "/" + kSingleStoreFileName, folder);
    } else if (!layout) {
      createFresh(folder);
      fresh = true;
    }
    if (!fresh && !std::filesystem::exists(folder + "/" + databaseFileName("tempdb"))) {
      // tempdb holds nothing that outlives a start: a lost file is simply made again.
      ConnectionPtr temp(storage::openDatabaseConnection(folder, "tempdb"));
      inTransaction(temp.get(), [&] { storage::createSystemTables(temp.get(), "tempdb", 1, true); });
    }
    ConnectionPtr db(storage::openDatabaseConnection(folder, "master"));
    if (!fresh) {
      refreshDatabases(db.get());
      clearTempdb(db.get());
    }
  } catch (const SqlError& e) {
    throw std::runtime_error("cannot initialise " + folder + ": " + e.what());
  }
  return std::unique_ptr<Store>(new Store(dir, fresh, single));
}

sqlite3* Store::openConnection() const {
  return storage::openDatabaseConnection(databasesFolder(), "master");
}

}  // namespace tabsrv
