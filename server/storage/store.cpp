// Opening the data directory's SQLite file: first-start creation of every system database and the
// sa login in one transaction, and the per-session connections.
#include "server/storage/store.h"

#include <filesystem>
#include <mutex>
#include <random>
#include <stdexcept>
#include <vector>

#include "server/core/message.h"
#include "server/storage/anywhere_views.h"
#include "server/storage/catalog.h"
#include "server/storage/catalog_internal.h"
#include "server/storage/password_hash.h"
#include "server/storage/sample_script.h"
#include "server/storage/sql_util.h"
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

// Process-wide SQLite settings, made once before the library initialises itself. SQLite's memory
// statistics take one global mutex on every allocation, which serialises all sessions; nothing
// here reads those statistics. When SQLite was already initialised (a test that opened another
// database first), the call is refused and the defaults stay, which is only slower.
void configureLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

// Each connection belongs to one session and is used by one thread at a time (it may be opened on
// the accepting thread and then handed to the session's thread); attention only sets a flag that
// the progress handler reads, so SQLite's per-connection mutex is not needed.
sqlite3* openFile(const std::string& path) {
  configureLibraryOnce();
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    throw std::runtime_error("cannot open " + path + ": " + msg);
  }
  sqlite3_extended_result_codes(db, 1);
  return db;
}

// `setWal` only for the opening connection: WAL is a property of the file and stays, and asking
// for it again from a session would need a lock while another session may be writing.
void configure(sqlite3* db, bool setWal) {
  sqlite3_busy_timeout(db, Store::kDefaultBusyTimeoutMs);
  // WAL lets readers run beside the one writer; NORMAL keeps committed transactions across a
  // killed process (only a power loss may drop the last ones).
  if (setWal) storage::execSql(db, "PRAGMA journal_mode = WAL");
  storage::execSql(db, "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = OFF;");
  // SQLite's automatic (transient) join indexes compare blank-padded char values without the
  // columns' RTRIM collation: "spt_values.type = 'E'" in a join finds no row although 'E ' is
  // stored. Joins over these tables are small enough to run without them.
  storage::execSql(db, "PRAGMA automatic_index = OFF");
  if (int rc = registerFunctions(db); rc != SQLITE_OK) {
    throw std::runtime_error(std::string("cannot register functions: ") + sqlite3_errstr(rc));
  }
}

bool isInitialized(sqlite3* db) {
  storage::Stmt st(db, "SELECT 1 FROM sqlite_master WHERE name = 'master.dbo.sysdatabases'");
  return st.step();
}

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
  storage::createCountersTable(db);
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
  storage::execSql(db, "BEGIN IMMEDIATE");
  try {
    for (int32_t id : ids) {
      if (auto t = storage::loadTable(db, "tempdb", id)) dropTable(db, *t);
    }
    storage::execSql(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// Configuration defaults of an earlier version raised to this version's, in one transaction.
void raiseDefaults(sqlite3* db) {
  storage::execSql(db, "BEGIN IMMEDIATE");
  try {
    storage::raiseEarlierDefaults(db);
    storage::execSql(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// The other family's catalogue views of every database, made again as this server defines them.
void refreshAnywhereViews(sqlite3* db) {
  std::vector<std::string> names;
  {
    storage::Stmt st(db, "SELECT name FROM " + sqliteObjectName("master", "dbo", "sysdatabases"));
    while (st.step()) names.push_back(storage::rtrimmed(st.text(0)));
  }
  storage::execSql(db, "BEGIN IMMEDIATE");
  try {
    for (const std::string& name : names) storage::replaceAnywhereViews(db, name);
    storage::execSql(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace

std::string Store::filePath() const {
  return dir_ + "/" + kStoreFileName;
}

std::unique_ptr<Store> Store::open(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw std::runtime_error("cannot create data directory " + dir + ": " + ec.message());
  std::string path = dir + "/" + kStoreFileName;
  sqlite3* db = openFile(path);
  bool fresh = false;
  try {
    configure(db, true);
    if (!isInitialized(db)) {
      // One transaction: a crash during first start leaves nothing half made, and the next start
      // simply creates everything again.
      storage::execSql(db, "BEGIN IMMEDIATE");
      try {
        createServer(db);
        storage::execSql(db, "COMMIT");
      } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
      fresh = true;
    } else {
      raiseDefaults(db);
      clearTempdb(db);
      refreshAnywhereViews(db);
    }
  } catch (const SqlError& e) {
    sqlite3_close_v2(db);
    throw std::runtime_error("cannot initialise " + path + ": " + e.what());
  } catch (...) {
    sqlite3_close_v2(db);
    throw;
  }
  sqlite3_close_v2(db);
  return std::unique_ptr<Store>(new Store(dir, fresh));
}

sqlite3* Store::openConnection() const {
  sqlite3* db = openFile(filePath());
  try {
    configure(db, false);
  } catch (const SqlError& e) {
    sqlite3_close_v2(db);
    throw std::runtime_error(std::string("cannot configure a connection: ") + e.what());
  } catch (...) {
    sqlite3_close_v2(db);
    throw;
  }
  return db;
}

}  // namespace tabsrv
