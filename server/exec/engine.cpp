// The Engine: opening the store, logging in (4002 on failure), spid allocation through the
// process table, the sample database on first start and createEngine.
#include "server/exec/engine.h"

#include <sstream>
#include <thread>

#include "server/exec/session_impl.h"
#include "server/storage/catalog.h"
#include "server/storage/sample_script.h"
#include "server/types/sqlite_prepare.h"

namespace tabsrv {

namespace {

constexpr const char* kUserConnections = "number of user connections";

// Collects what a script's batches report, for the log.
class ScriptSink : public ResultSink {
 public:
  std::vector<std::string> errors;
  void rowFormat(const std::vector<ColumnDesc>&) override {}
  void row(const std::vector<Value>&) override {}
  void message(const ServerMessage& m) override {
    if (m.severity > 10)
      errors.push_back(std::to_string(m.number) + ": " + m.text + " (line " + std::to_string(m.line) + ")");
  }
  void done(DoneKind, bool, int32_t) override {}
  void returnStatus(int32_t) override {}
  void outputParams(const std::vector<ColumnDesc>&, const std::vector<Value>&) override {}
  void envChange(EnvChange, const std::string&, const std::string&) override {}
  bool cancelled() override { return false; }
};

// Splits a script at lines that hold only "go" (any case, blanks around).
std::vector<std::string> splitBatches(std::string_view script) {
  std::vector<std::string> out;
  std::string current, line;
  std::istringstream in{std::string(script)};
  while (std::getline(in, line)) {
    std::string t = line;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
    size_t b = 0;
    while (b < t.size() && std::isspace(static_cast<unsigned char>(t[b]))) ++b;
    t = t.substr(b);
    if (t.size() == 2 && std::tolower(static_cast<unsigned char>(t[0])) == 'g' &&
        std::tolower(static_cast<unsigned char>(t[1])) == 'o') {
      out.push_back(current);
      current.clear();
    } else {
      current += line + "\n";
    }
  }
  if (current.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(current);
  return out;
}

}  // namespace

EngineImpl::EngineImpl(const EngineConfig& config) : config_(config) {
  store_ = Store::open(config_.dataDir);
  if (store_->migrated())
    log("copied the databases of " + config_.dataDir + "/" + kSingleStoreFileName + " into " +
        store_->databasesFolder() + "; the old file is kept and no longer used");
  clearTempdb();
  installSystemProcedures();
  if (store_->freshlyCreated()) {
    auto errors = runScript(sampleDatabaseScript(), std::string(kSampleDatabase));
    for (const auto& e : errors) log("sample database: " + e);
  }
}

void EngineImpl::installSystemProcedures() {
  ConnectionPtr db = store_->connect();
  if (!databaseExists(db.get(), "sybsystemprocs")) return;
  std::string script;
  for (const BuiltinProcedure& p : builtinProcedures()) {
    if (resolveProcedure(db.get(), ObjectRef{"sybsystemprocs", "dbo", p.name}, "sybsystemprocs", "dbo")) continue;
    std::string params;
    for (const auto& [name, type] : p.params) params += (params.empty() ? "\n  " : ",\n  ") + name + " " + type + " = null";
    script += "create procedure " + p.name + params +
              "\nas\n/* Built into the server: the server answers it itself. */\nreturn 0\ngo\n";
  }
  if (script.empty()) return;
  for (const auto& e : runScript(script, "sybsystemprocs")) log("system procedures: " + e);
}

void EngineImpl::log(const std::string& line) const {
  if (config_.log) config_.log(line);
}

void EngineImpl::clearTempdb() {
  // #tables of sessions that ended with the last server process are gone with them.
  ConnectionPtr db = store_->connect();
  std::vector<std::pair<std::string, std::string>> names;
  sqlite3_stmt* st = nullptr;
  std::string sql = "SELECT o.name, u.name FROM " + sqliteObjectName("tempdb", "dbo", "sysobjects") +
                    " o JOIN " + sqliteObjectName("tempdb", "dbo", "sysusers") +
                    " u ON u.uid = o.uid WHERE o.name LIKE '#%' AND o.type = 'U'";
  if (prepareSql(db.get(), sql, &st) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW)
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                         reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
  }
  sqlite3_finalize(st);
  for (const auto& [name, owner] : names) {
    auto t = resolveTable(db.get(), ObjectRef{"tempdb", owner, name}, "tempdb", "dbo");
    if (!t) continue;
    try {
      sqlite3_exec(db.get(), "BEGIN", nullptr, nullptr, nullptr);
      dropTable(db.get(), *t);
      sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
    } catch (const std::exception& e) {
      sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      log(std::string("could not drop leftover ") + name + ": " + e.what());
    }
  }
}

std::vector<std::string> EngineImpl::runScript(std::string_view script, const std::string& database) {
  SessionIdentity id;
  id.database = databaseExists(store_->connect().get(), database) ? database : "master";
  id.serverName = config_.serverName;
  ProcessInfo info;
  info.login = "sa";
  info.suid = 1;
  info.database = id.database;
  int spid = processes_.add(info);
  ScriptSink sink;
  {
    SessionImpl session(store_->openConnection(), spid, id, processes_);
    for (const auto& batch : splitBatches(script)) session.executeLanguage(batch, sink);
  }
  return sink.errors;
}

LoginOutcome EngineImpl::login(const LoginRequest& request) {
  LoginOutcome out;
  // Guesses at one name beyond the first few wait their turn before their password is checked;
  // one whose turn is too far off is refused as a failed login at once, its password unchecked
  // (it tells nothing, and costs neither a hash nor a waiting thread).
  auto wait = throttle_.turn(request.peerAddress, request.user);
  if (!wait) {
    out.failure = ServerMessage{4002, 1, 14, "Login failed.", {}, 1};
    log("login for '" + request.user + "' from " + request.peerAddress +
        " refused unchecked: too many attempts at it are waiting");
    return out;
  }
  std::this_thread::sleep_for(*wait);
  sqlite3* db = store_->openConnection();
  auto suid = checkLogin(db, request.user, request.password);
  if (!suid) {
    sqlite3_close_v2(db);
    out.failure = ServerMessage{4002, 1, 14, "Login failed.", {}, 1};
    log("login failed for '" + request.user + "' from " + request.peerAddress);
    // Repeated failures from one address are answered ever more slowly (this session's thread
    // waits; nobody else does).
    std::this_thread::sleep_for(throttle_.failed(request.peerAddress, request.user));
    return out;
  }
  throttle_.succeeded(request.peerAddress, request.user);
  SessionIdentity id;
  id.suid = *suid;
  id.login = loginName(db, *suid).value_or(request.user);
  id.host = request.host;
  id.program = request.appName;
  id.serverName = config_.serverName;
  // The login's default database when it exists and the login is a user there; else master.
  std::string dbname = loginDefaultDatabase(db, *suid).value_or("master");
  auto user = databaseExists(db, dbname) ? findUserForLogin(db, dbname, *suid) : std::nullopt;
  if (!user) {
    dbname = "master";
    user = findUserForLogin(db, dbname, *suid);
  }
  id.database = dbname;
  id.user = user ? user->name : "guest";
  id.uid = user ? user->uid : 2;
  ProcessInfo info;
  info.suid = id.suid;
  info.login = id.login;
  info.host = request.host;
  info.program = request.appName;
  info.hostProcess = request.hostProcess;
  info.database = dbname;
  int spid = 0;
  {
    // Sessions beyond the configured "number of user connections" are refused as the family
    // refuses them; sa raises the number with sp_configure.
    std::lock_guard admit(admitMutex_);
    int32_t allowed = 0;
    for (const ConfigParameter& p : configParameters(db, kUserConnections))
      if (p.name == kUserConnections) allowed = p.runValue;
    if (allowed > 0 && processes_.snapshot().size() >= static_cast<size_t>(allowed)) {
      sqlite3_close_v2(db);
      out.failure =
          ServerMessage{1601,
                        1,
                        17,
                        "There are not enough 'user connections' available to start a new process. "
                        "Retry when there are fewer active users, or ask your System Administrator to "
                        "reconfigure the server with more user connections.",
                        {},
                        1};
      log("login of '" + request.user + "' refused: " + std::to_string(allowed) + " user connections in use");
      return out;
    }
    spid = processes_.add(info);
  }
  out.session = std::make_unique<SessionImpl>(db, spid, id, processes_);
  return out;
}

std::unique_ptr<Engine> createEngine(const EngineConfig& config) {
  return std::make_unique<EngineImpl>(config);
}

}  // namespace tabsrv
