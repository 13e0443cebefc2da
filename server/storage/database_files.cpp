// The per-database files: names, opening, attaching on demand, and the write locks of a
// transaction (see the header).
#include "server/storage/database_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "server/storage/session_tables.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"
#include "server/types/functions.h"
#include "server/types/sqlite_error.h"
#include "server/types/sqlite_prepare.h"

namespace tabsrv {

std::string databaseFileName(const std::string& database) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : database) {
    auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
      out += static_cast<char>(c);
    } else if (c >= 'A' && c <= 'Z') {
      out += '^';
      out += static_cast<char>(c - 'A' + 'a');
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out + ".db";
}

SqlError crossDatabaseWrite(const std::string& written, const std::string& refused) {
  return SqlError(3917, 16,
                  "This transaction has changed database '" + written +
                      "' and cannot also change database '" + refused +
                      "': a transaction changes one database besides tempdb. Commit it before changing '" +
                      refused + "'.");
}

namespace storage {
namespace {

// One attached file.
struct Attached {
  std::string database;
  std::string schema;
  dev_t device = 0;
  ino_t inode = 0;
  uint64_t lastUse = 0;
  bool synchronousSet = false;  // PRAGMA synchronous = NORMAL done (not possible inside a transaction)
};

// What the storage layer keeps per connection: its folder, what is attached and the session's hooks.
struct ConnectionState {
  std::string folder;
  std::string mainDatabase;
  dev_t mainDevice = 0;
  ino_t mainInode = 0;
  std::vector<Attached> attached;
  uint64_t uses = 0;
  // `uses` when the statement being prepared first missed a table: the files attached for it
  // since then stay attached while its misses are resolved.
  uint64_t statementStart = 0;
  uint64_t filesGeneration = 0;
  LockHooks hooks;
  std::string waitingFor;
};

std::mutex gStatesMutex;
std::unordered_map<sqlite3*, std::shared_ptr<ConnectionState>> gStates;
std::atomic<uint64_t> gFilesGeneration{0};

std::shared_ptr<ConnectionState> stateOf(sqlite3* db) {
  std::lock_guard lock(gStatesMutex);
  auto it = gStates.find(db);
  return it == gStates.end() ? nullptr : it->second;
}

// SQLite calls this when the connection closes (the function below is deleted with it).
void forgetConnection(void* db) {
  std::lock_guard lock(gStatesMutex);
  gStates.erase(static_cast<sqlite3*>(db));
}

void noOp(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_null(ctx);
}

std::string filePath(const ConnectionState& s, const std::string& database) {
  return s.folder + "/" + databaseFileName(database);
}

std::string schemaFor(const std::string& database) {
  std::string file = databaseFileName(database);
  return "~" + file.substr(0, file.size() - 3);
}

bool identify(const std::string& path, dev_t& device, ino_t& inode) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  device = st.st_dev;
  inode = st.st_ino;
  return true;
}

// Runs one statement outside the catalogue's wrappers (ATTACH, DETACH, pragmas).
int runRaw(sqlite3* db, const std::string& sql, const std::vector<std::string>& params = {}) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    for (size_t i = 0; i < params.size(); ++i)
      sqlite3_bind_text(st, static_cast<int>(i + 1), params[i].c_str(), -1, SQLITE_TRANSIENT);
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  sqlite3_finalize(st);
  return rc;
}

[[noreturn]] void unknownDatabase(const std::string& database) {
  throw SqlError(911, 11,
                 "Attempt to locate entry in sysdatabases for database '" + database +
                     "' by name failed - no entry found under that name. Make sure that the name is entered "
                     "properly.");
}

// Makes room for one more attachment: lets go of the least recently used file that neither the
// transaction (SQLite refuses a file a running statement reads) nor the statement being prepared
// (the files used after `keepFrom`) uses; 10356 when there is none.
void makeRoom(sqlite3* db, ConnectionState& s, uint64_t keepFrom) {
  const size_t limit = static_cast<size_t>(sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, -1));
  if (s.attached.size() < limit) return;
  std::vector<size_t> order(s.attached.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return s.attached[a].lastUse < s.attached[b].lastUse; });
  for (size_t i : order) {
    const Attached& a = s.attached[i];
    if (a.lastUse > keepFrom) continue;
    if (sqlite3_txn_state(db, a.schema.c_str()) != SQLITE_TXN_NONE) continue;
    if (runRaw(db, "DETACH DATABASE ?1", {a.schema}) == SQLITE_OK) {
      s.attached.erase(s.attached.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
  throw SqlError(10356, 16,
                 "Too many databases are in use on this connection at once (at most " +
                     std::to_string(limit + 1) +
                     ", master included). End the open transaction or use fewer databases in one statement.");
}

bool setSynchronous(sqlite3* db, const std::string& schema) {
  return sqlite3_get_autocommit(db) &&
         runRaw(db, "PRAGMA " + quoteIdent(schema) + ".synchronous = NORMAL") == SQLITE_OK;
}

// Attaches the file of `database` (creating it when `create`), keeping the files used after
// `keepFrom`; returns its schema name.
std::string attach(sqlite3* db, ConnectionState& s, const std::string& database, bool create,
                   uint64_t keepFrom = UINT64_MAX) {
  std::string path = filePath(s, database);
  if (!create && !std::filesystem::exists(path)) unknownDatabase(database);
  makeRoom(db, s, keepFrom);
  std::string schema = schemaFor(database);
  if (create) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  }
  int rc = runRaw(db, "ATTACH DATABASE ?1 AS ?2", {path, schema});
  if (rc != SQLITE_OK) throw errorFromSqlite(db, rc);
  if (create) runRaw(db, "PRAGMA " + quoteIdent(schema) + ".journal_mode = WAL");
  Attached a;
  a.database = database;
  a.schema = schema;
  // SQLite's default for a WAL file syncs at every commit; NORMAL (as for master's file) only at
  // checkpoints. It cannot be set inside a transaction: then the next refreshAttachments does.
  a.synchronousSet = setSynchronous(db, schema);
  a.lastUse = ++s.uses;
  identify(path, a.device, a.inode);
  s.attached.push_back(a);
  return schema;
}

Attached* findAttached(ConnectionState& s, const std::string& database) {
  for (Attached& a : s.attached)
    if (a.database == database) return &a;
  return nullptr;
}

// Makes the TEMP view `name` from the definition `schema`'s file keeps (views over other
// databases); false when the file keeps none of that name.
bool makeTempView(sqlite3* db, const std::string& schema, const std::string& name) {
  sqlite3_stmt* st = nullptr;
  std::string sql = "SELECT definition FROM " + quoteIdent(schema) + "." + kViewsTable + " WHERE name = ?1";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return false;
  }
  sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  std::string definition;
  if (sqlite3_step(st) == SQLITE_ROW) definition = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  if (definition.empty()) return false;
  return runRaw(db, "CREATE TEMP VIEW IF NOT EXISTS " + quoteIdent(name) + definition) == SQLITE_OK;
}

// The missing-table resolver: "no such table: <name>" where <name> starts with the name of a
// database whose file is not attached yet ("sample.dbo.t", "sample<0x1F>1000004<0x1F>dbo.t").
bool attachForMissingTable(sqlite3* db, std::string_view message, bool firstTry) {
  constexpr std::string_view kPrefix = "no such table: ";
  if (message.rfind(kPrefix, 0) != 0) return false;
  std::string name(message.substr(kPrefix.size()));
  // tempdb's system tables as this connection sees them, with its #tables.
  if (makeSessionTablesFor(db, name)) return true;
  auto s = stateOf(db);
  if (!s) return false;
  if (firstTry) s->statementStart = s->uses;
  // The longest database name first: "sample.x" before "sample".
  for (size_t end = name.size(); end-- > 1;) {
    if (name[end] != '.' && name[end] != '\x1f') continue;
    std::string database = name.substr(0, end);
    std::string schema;
    if (database == s->mainDatabase) {
      schema = "main";
    } else if (Attached* a = findAttached(*s, database)) {
      a->lastUse = ++s->uses;
      schema = a->schema;
    }
    if (!schema.empty()) {
      // Attached already: maybe a view over other databases this connection has not made yet.
      if (makeTempView(db, schema, name)) return true;
      continue;
    }
    if (!std::filesystem::exists(filePath(*s, database))) continue;
    try {
      attach(db, *s, database, false, s->statementStart);
      return true;
    } catch (const SqlError& e) {
      // The statement needs more databases at once than the connection holds (10356): say so
      // rather than that its table does not exist.
      refuseMissingTable(db, e);
      return false;
    }
  }
  return false;
}

void configureConnection(sqlite3* db, bool newFile) {
  sqlite3_busy_timeout(db, 10000);
  // WAL lets readers run beside the one writer; NORMAL keeps committed transactions across a
  // killed process (only a power loss may drop the last ones). WAL is a property of the file:
  // asking for it again from every session would need a lock while another session may write.
  if (newFile) execSql(db, "PRAGMA journal_mode = WAL");
  execSql(db, "PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = OFF;");
  // SQLite's automatic (transient) join indexes compare blank-padded char values without the
  // columns' RTRIM collation: "spt_values.type = 'E'" in a join finds no row although 'E ' is
  // stored. Joins over these tables are small enough to run without them.
  execSql(db, "PRAGMA automatic_index = OFF");
  if (int rc = registerFunctions(db); rc != SQLITE_OK)
    throw std::runtime_error(std::string("cannot register functions: ") + sqlite3_errstr(rc));
}

// Process-wide SQLite settings, made once before the library initialises itself. SQLite's memory
// statistics take one global mutex on every allocation, which serialises all sessions; nothing
// here reads those statistics. When SQLite was already initialised (a test that opened another
// database first), the call is refused and the defaults stay, which is only slower.
void configureLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    setMissingTableResolver(&attachForMissingTable);
  });
}

}  // namespace

sqlite3* openDatabaseConnection(const std::string& databases, const std::string& mainDatabase) {
  configureLibraryOnce();
  const std::string path = databases + "/" + databaseFileName(mainDatabase);
  const bool newFile = !std::filesystem::exists(path);
  sqlite3* db = nullptr;
  // Each connection belongs to one session and is used by one thread at a time (it may be opened
  // on the accepting thread and then handed to the session's thread); attention only sets a flag
  // that the progress handler reads, so SQLite's per-connection mutex is not needed.
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    throw std::runtime_error("cannot open " + path + ": " + msg);
  }
  sqlite3_extended_result_codes(db, 1);
  auto state = std::make_shared<ConnectionState>();
  state->folder = databases;
  state->mainDatabase = mainDatabase;
  state->filesGeneration = gFilesGeneration.load();
  identify(path, state->mainDevice, state->mainInode);
  {
    std::lock_guard lock(gStatesMutex);
    gStates[db] = state;
  }
  // The state goes when SQLite deletes this function, which it does as the connection closes.
  sqlite3_create_function_v2(db, "t_connection_state", 0, SQLITE_UTF8, db, &noOp, nullptr, nullptr,
                             &forgetConnection);
  try {
    configureConnection(db, newFile);
  } catch (const SqlError& e) {
    sqlite3_close_v2(db);
    throw std::runtime_error("cannot configure a connection to " + path + ": " + e.what());
  } catch (...) {
    sqlite3_close_v2(db);
    throw;
  }
  return db;
}

std::string schemaName(sqlite3* db, const std::string& database) {
  auto s = stateOf(db);
  if (!s || database == s->mainDatabase) return "main";
  if (Attached* a = findAttached(*s, database)) {
    a->lastUse = ++s->uses;
    return a->schema;
  }
  return attach(db, *s, database, false);
}

std::string schemaPrefix(sqlite3* db, const std::string& database) {
  return quoteIdent(schemaName(db, database)) + ".";
}

bool isAttached(sqlite3* db, const std::string& database) {
  auto s = stateOf(db);
  if (!s) return database == "master";
  return database == s->mainDatabase || findAttached(*s, database) != nullptr;
}

bool hasDatabaseFile(sqlite3* db, const std::string& database) {
  auto s = stateOf(db);
  if (!s) return database == "master";
  if (database == s->mainDatabase || findAttached(*s, database)) return true;
  return std::filesystem::exists(filePath(*s, database));
}

std::vector<std::string> openDatabases(sqlite3* db) {
  auto s = stateOf(db);
  if (!s) return {"master"};
  std::vector<std::string> out{s->mainDatabase};
  for (const Attached& a : s->attached) out.push_back(a.database);
  return out;
}

std::string databasesFolder(sqlite3* db) {
  auto s = stateOf(db);
  if (!s) throw std::runtime_error("connection without database files");
  return s->folder;
}

void attachNewDatabase(sqlite3* db, const std::string& database) {
  auto s = stateOf(db);
  if (!s) throw std::runtime_error("connection without database files");
  if (findAttached(*s, database) || database == s->mainDatabase)
    throw SqlError(1801, 16, "Database '" + database + "' already exists.");
  attach(db, *s, database, true);
}

void removeDatabaseFile(sqlite3* db, const std::string& database) {
  auto s = stateOf(db);
  if (!s) return;
  if (Attached* a = findAttached(*s, database)) {
    if (runRaw(db, "DETACH DATABASE ?1", {a->schema}) == SQLITE_OK)
      s->attached.erase(s->attached.begin() + (a - s->attached.data()));
  }
  const std::string path = filePath(*s, database);
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  noteDatabaseFilesChanged();
}

void noteDatabaseFilesChanged() {
  gFilesGeneration.fetch_add(1, std::memory_order_acq_rel);
}

void refreshAttachments(sqlite3* db) {
  auto s = stateOf(db);
  if (!s) return;
  for (Attached& a : s->attached)
    if (!a.synchronousSet) a.synchronousSet = setSynchronous(db, a.schema);
  const uint64_t generation = gFilesGeneration.load(std::memory_order_acquire);
  if (generation == s->filesGeneration) return;
  bool all = true;
  for (size_t i = s->attached.size(); i-- > 0;) {
    Attached& a = s->attached[i];
    dev_t device = 0;
    ino_t inode = 0;
    if (identify(filePath(*s, a.database), device, inode) && device == a.device && inode == a.inode) continue;
    if (sqlite3_txn_state(db, a.schema.c_str()) != SQLITE_TXN_NONE ||
        runRaw(db, "DETACH DATABASE ?1", {a.schema}) != SQLITE_OK) {
      all = false;
      continue;
    }
    s->attached.erase(s->attached.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (all) s->filesGeneration = generation;
}

void setLockHooks(sqlite3* db, LockHooks hooks) {
  if (auto s = stateOf(db)) s->hooks = std::move(hooks);
}

std::string waitingFor(sqlite3* db) {
  auto s = stateOf(db);
  return s ? s->waitingFor : std::string();
}

std::vector<std::string> lockedDatabases(sqlite3* db) {
  std::vector<std::string> out;
  auto s = stateOf(db);
  if (!s) {
    if (sqlite3_txn_state(db, "main") == SQLITE_TXN_WRITE) out.push_back("master");
    return out;
  }
  if (sqlite3_txn_state(db, "main") == SQLITE_TXN_WRITE) out.push_back(s->mainDatabase);
  for (const Attached& a : s->attached)
    if (sqlite3_txn_state(db, a.schema.c_str()) == SQLITE_TXN_WRITE) out.push_back(a.database);
  return out;
}

void requireOneDatabaseChanged(sqlite3* db) {
  std::string first;
  for (const std::string& d : lockedDatabases(db)) {
    if (d == "tempdb") continue;
    if (first.empty())
      first = d;
    else
      throw crossDatabaseWrite(first, d);
  }
}

void lockForWrite(sqlite3* db, const std::string& database) {
  if (sqlite3_get_autocommit(db)) return;
  auto s = stateOf(db);
  const std::string schema = schemaName(db, database);
  const int state = sqlite3_txn_state(db, schema.c_str());
  if (state == SQLITE_TXN_WRITE) return;
  if (database != "tempdb") {
    for (const std::string& d : lockedDatabases(db))
      if (d != "tempdb" && d != database) throw crossDatabaseWrite(d, database);
  }
  LockHooks none;
  const LockHooks& hooks = s ? s->hooks : none;
  // A write that changes nothing takes the file's write lock (every file has the counters table).
  std::string sql = "UPDATE " + quoteIdent(schema) + ".tabulon_counters SET next = next WHERE 0";
  sqlite3_stmt* st = hooks.keptStatement ? hooks.keptStatement(sql) : nullptr;
  const bool kept = st != nullptr;
  int rc = SQLITE_OK;
  if (!kept) {
    rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(st);
      throw errorFromSqlite(db, rc);
    }
  }
  if (s) s->waitingFor = database;
  struct Clear {
    std::shared_ptr<ConnectionState> s;
    sqlite3_stmt* st;
    bool kept;
    ~Clear() {
      if (kept)
        sqlite3_reset(st);
      else
        sqlite3_finalize(st);
      if (s) s->waitingFor.clear();
    }
  } clear{s, st, kept};
  for (int attempt = 0;; ++attempt) {
    rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc == SQLITE_DONE) break;
    if (rc == SQLITE_BUSY_SNAPSHOT) {
      if (hooks.stale) throw hooks.stale(database);
      throw SqlError(1205, 13,
                     "Your server command encountered a deadlock situation. Please re-run your command.");
    }
    if (!isBusyCode(rc)) throw errorFromSqlite(db, rc);
    // With no snapshot of the file yet, SQLite's busy handler has already waited; with one, SQLite
    // does not wait (a writer may have to let go of its snapshot), so the wait is done here.
    if (state == SQLITE_TXN_NONE || !hooks.wait || !hooks.wait(database, attempt)) {
      if (hooks.failure) throw hooks.failure(database);
      throw errorFromSqlite(db, rc);
    }
  }
  if (hooks.acquired) hooks.acquired(database);
}

}  // namespace storage
}  // namespace tabsrv
