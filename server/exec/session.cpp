// The session's batch interpreter: parsing, statement dispatch, DONE and error handling, globals,
// cancellation through SQLite's progress and busy handlers, and the prepared-statement helper.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>

#include "server/types/timestamp_value.h"
#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_functions.h"
#include "server/exec/sql_statement.h"
#include "server/exec/type_rules.h"
#include "server/storage/database_files.h"
#include "server/storage/live_tables.h"
#include "server/tsql/parser.h"
#include "server/types/convert.h"
#include "server/types/datetime.h"
#include "server/types/sqlite_error.h"
#include "server/types/sqlite_prepare.h"
#include "server/types/sqlite_value.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

// ---- SqlStatement -------------------------------------------------------------------------------

SqlStatement::SqlStatement(SessionImpl& session, const std::string& sql, Access access) : session_(session) {
  if (session.describing_) throw Described{};
  const bool checked = access == Access::Checked && session.permissions_;
  StatementCache& kept = session.statements_;
  if ((kept_ = kept.take(sql, checked))) {
    stmt_ = kept_->statement;
    if (checked) {
      // The same accesses are allowed again while the catalogue and the permission context are as
      // they were at the last check (the count is read before the catalogue is).
      const uint64_t stamp = SessionImpl::catalogStamp();
      Permissions::Context context = session.permissions_->context();
      if (!kept_->allowed || kept_->allowed->first != stamp || !(kept_->allowed->second == context)) {
        kept_->allowed.reset();
        try {
          session.permissions_->check(sql, kept_->accesses);
        } catch (...) {
          release();
          throw;
        }
        kept_->allowed.emplace(stamp, std::move(context));
      }
    }
  } else {
    const uint64_t stamp = SessionImpl::catalogStamp();
    int rc = SQLITE_OK;
    Permissions::Accesses accesses;
    if (checked) {
      {
        Permissions::Recording recording(*session.permissions_);
        rc = prepareSql(session.db_, sql, &stmt_);
      }
      if (rc == SQLITE_OK) {
        accesses = session.permissions_->takeRecorded();
        try {
          session.permissions_->check(sql, accesses);
        } catch (...) {
          release();
          throw;
        }
      }
    } else {
      rc = prepareSql(session.db_, sql, &stmt_);
    }
    if (rc != SQLITE_OK) {
      release();
      fail(rc);
    }
    if ((kept_ = kept.keep(sql, checked, stmt_, std::move(accesses))) && checked)
      kept_->allowed.emplace(stamp, session.permissions_->context());
  }
  // A statement that writes must not run while a cursor's query holds the read snapshot.
  if (!sqlite3_stmt_readonly(stmt_) && session.cursorStreaming()) {
    try {
      session.spillCursors();
    } catch (...) {
      release();
      throw;
    }
  }
}

SqlStatement::~SqlStatement() {
  release();
}

void SqlStatement::release() {
  if (kept_)
    StatementCache::giveBack(kept_);
  else
    sqlite3_finalize(stmt_);
  kept_ = nullptr;
  stmt_ = nullptr;
}

void SqlStatement::bindAll(const std::vector<Value>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    int rc = bindValue(stmt_, static_cast<int>(i + 1), values[i]);
    if (rc != SQLITE_OK) fail(rc);
  }
}

bool SqlStatement::step() {
  int rc = sqlite3_step(stmt_);
  // The first step prepares the statement again after the connection's schema moved (a database
  // attached or let go); a database it names may need attaching again.
  if (!stepped_ && rc != SQLITE_ROW && rc != SQLITE_DONE && retryAfterMissingTable(session_.db_, rc)) {
    sqlite3_reset(stmt_);
    rc = sqlite3_step(stmt_);
  }
  stepped_ = true;
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  fail(rc);
}

void SqlStatement::reset() {
  stepped_ = false;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

void SqlStatement::fail(int rc) {
  if (session_.killed_ || (session_.sink_ && session_.sink_->cancelled())) throw Cancelled{};
  // A write the statement could not start: its transaction read the file before another session
  // committed there (snapshot too old), or the lock wait ended.
  if (rc == SQLITE_BUSY_SNAPSHOT) throw session_.deadlockError();
  if (isBusyCode(rc)) throw session_.lockWaitError(storage::waitingFor(session_.db_));
  SqlError e = errorFromSqlite(session_.db_, rc);
  if (e.number() == kCancelledErrorNumber) throw Cancelled{};
  if (e.number() == 515) {
    // SQLite's NOT NULL check ("... column 'c', table 'db.owner.t' ..."): the family reports 233.
    std::string text = e.what();
    auto quoted = [&text](size_t from, size_t& end) {
      size_t a = text.find('\'', from);
      size_t b = a == std::string::npos ? a : text.find('\'', a + 1);
      if (b == std::string::npos) return std::string();
      end = b + 1;
      return text.substr(a + 1, b - a - 1);
    };
    size_t end = 0;
    std::string column = quoted(0, end);
    std::string table = quoted(end, end);
    if (size_t dot = table.rfind('.'); dot != std::string::npos) table = table.substr(dot + 1);
    throw SqlError(233, 16, "The column " + column + " in table " + table + " does not allow null values.");
  }
  throw e;
}

// ---- StatementTransaction -----------------------------------------------------------------------

StatementTransaction::StatementTransaction(SessionImpl& session, const std::string& database)
    : session_(session) {
  if (session_.groupOpen_) session_.commitGroup();
  begin(database);
}

StatementTransaction::StatementTransaction(SessionImpl& session, const TableInfo& changed)
    : StatementTransaction(session, storage::isSessionObject(changed.database, changed.id) ? std::string()
                                                                                          : changed.database) {}

StatementTransaction::StatementTransaction(SessionImpl& session, const TableInfo& changed, Groupable)
    : session_(session) {
  const bool own = storage::isSessionObject(changed.database, changed.id);
  const std::string database = own ? std::string() : changed.database;
  const bool groupable = !own && !database.empty() && session_.canGroup();
  if (session_.groupOpen_) {
    // Another session waiting for the lock gets it now rather than at the end of the batch.
    if (groupable && database == session_.groupDatabase_ && !session_.processes_.blocks(session_.spid_))
      grouped_ = true;
    else
      session_.commitGroup();
  }
  if (!grouped_ && session_.groupLost_) throw GroupLost{};
  startsGroup_ = !grouped_ && groupable && session_.tranCount_ == 0;
  begin(database);
}

void StatementTransaction::begin(const std::string& database) {
  database_ = database;
  outermost_ = !grouped_ && session_.tranCount_ == 0;
  // From here no send may commit the group: the statement belongs to it. Nor may a kill
  // interrupt storage: a kill that came before is seen now, one that comes later waits for the
  // statement's end (see the session's interrupt).
  if (grouped_ || startsGroup_) {
    std::lock_guard lock(session_.interruptMutex_);
    if (session_.killed_) throw Cancelled{};
    session_.groupInFlight_ = true;
  }
  try {
    // Moving a cursor's rows aside may be cancelled: the statement then never began.
    session_.spillCursors();
    session_.execSql(outermost_ ? "BEGIN" : "SAVEPOINT tx_statement");
  } catch (...) {
    session_.groupInFlight_ = false;
    throw;
  }
  try {
    session_.lockDatabase(database);
  } catch (...) {
    Unwinding guard(session_);
    if (outermost_) {
      sqlite3_exec(session_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
      session_.processes_.releaseWriters(session_.spid_);
    } else {
      sqlite3_exec(session_.db_, "ROLLBACK TO tx_statement; RELEASE tx_statement", nullptr, nullptr, nullptr);
    }
    session_.groupInFlight_ = false;
    throw;
  }
}

void StatementTransaction::commit() {
  // The statement is no longer half way once its savepoint is released (or its group opened).
  struct Landed {
    SessionImpl& s;
    ~Landed() { s.groupInFlight_ = false; }
  } landed{session_};
  // A trigger's `rollback transaction` has already ended the statement's transaction.
  if (sqlite3_get_autocommit(session_.db_)) {
    open_ = false;
    if (grouped_) session_.loseGroup("the group's transaction ended with the statement");
    return;
  }
  if (outermost_) {
    // Never two databases in one commit (the destructor rolls the statement back).
    storage::requireOneDatabaseChanged(session_.db_);
    if (startsGroup_) {
      // The transaction stays open for the statements that follow; the reply keeps this one's
      // results until the group commits.
      open_ = false;
      session_.groupOpen_ = true;
      session_.groupDatabase_ = database_;
      if (session_.sink_) session_.sink_->markHeldOutput();
      return;
    }
    session_.execSql("COMMIT");
    session_.processes_.releaseWriters(session_.spid_);
  } else {
    session_.execSql("RELEASE tx_statement");
  }
  open_ = false;
}

StatementTransaction::~StatementTransaction() {
  if (!open_) return;
  struct Landed {
    SessionImpl& s;
    ~Landed() { s.groupInFlight_ = false; }
  } landed{session_};
  if (sqlite3_get_autocommit(session_.db_)) {
    // Storage undid the whole transaction (an I/O error, a full disk): a group went with it.
    if (grouped_) session_.loseGroup("the storage transaction was rolled back");
    return;
  }
  // The rollback itself must not be interrupted by the cancel that may have caused it.
  Unwinding guard(session_);
  if (outermost_) {
    sqlite3_exec(session_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
    session_.processes_.releaseWriters(session_.spid_);
  } else {
    sqlite3_exec(session_.db_, "ROLLBACK TO tx_statement; RELEASE tx_statement", nullptr, nullptr, nullptr);
  }
}

// ---- grouped autocommits -------------------------------------------------------------------

bool SessionImpl::canGroup() const {
  return groupingAllowed_ && tranCount_ == 0 && procDepth_ == 0 && firingTables_.empty() && !options_.chained &&
         sink_ && sink_->defersOutput();
}

void SessionImpl::commitGroup() {
  if (!groupOpen_) return;
  if (sqlite3_get_autocommit(db_)) {
    loseGroup("the group's transaction had ended");
    return;
  }
  Unwinding guard(*this);
  char* err = nullptr;
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, &err) != SQLITE_OK) {
    std::string why = err ? err : "the commit failed";
    sqlite3_free(err);
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    loseGroup(why);
    return;
  }
  // Only now may a kill interrupt storage again (an interrupted COMMIT would lose the group).
  groupOpen_ = false;
  processes_.releaseWriters(spid_);
}

void SessionImpl::loseGroup(const std::string& why) {
  groupOpen_ = false;
  processes_.releaseWriters(spid_);
  if (sink_) sink_->dropHeldOutput();
  groupLost_ = why;
}

bool SessionImpl::reportLostGroup() {
  if (!groupLost_) return false;
  std::string why = std::move(*groupLost_);
  groupLost_.reset();
  error_ = 3621;
  ++errorCount_;
  ServerMessage m = SqlError(3621, 16,
                             "Command has been aborted. The changes of the statements since the last "
                             "result sent were not written: " +
                                 why + ".")
                        .toMessage();
  sendMessage(m);
  done(true, -1);
  return true;
}

bool SessionImpl::GroupCommit::commitBeforeSend() {
  if (!session.groupOpen_) return true;
  // Not while a statement of the group is half way, nor while any statement is stepping (a
  // check for an attention can come from inside one): the commit waits for the next send.
  if (session.groupInFlight_) return false;
  for (sqlite3_stmt* st = sqlite3_next_stmt(session.db_, nullptr); st; st = sqlite3_next_stmt(session.db_, st))
    if (sqlite3_stmt_busy(st)) return false;
  session.commitGroup();
  return true;
}

// ---- SessionImpl --------------------------------------------------------------------------------

std::atomic<uint64_t> SessionImpl::catalogChanges_{0};

void SessionImpl::noteCatalogChange() {
  if (tranCount_ > 0) catalogChangedInTran_ = true;
  catalogChanges_.fetch_add(1, std::memory_order_acq_rel);
}

SessionImpl::SessionImpl(sqlite3* db, int spid, SessionIdentity identity, ProcessTable& processes)
    : db_(db), spid_(spid), id_(std::move(identity)), processes_(processes) {
  database_ = id_.database;
  user_ = id_.user;
  info_.database = database_;
  info_.user = user_;
  info_.uid = id_.uid;
  info_.login = id_.login;
  info_.suid = id_.suid;
  info_.host = id_.host;
  info_.program = id_.program;
  info_.spid = spid_;
  info_.tempTableName = [this](const std::string& name) { return tempTableName(name); };
  registerExecFunctions(db_, &info_);
  setSessionInfo(db_, &info_);
  permissions_ = std::make_unique<Permissions>(db_, id_.suid);
  catalogCache_ = std::make_unique<CatalogCache>(db_);
  // A blocked writer waits in 10 ms steps, gives up after the lock timeout or on a deadlock, and
  // stops at once when the client cancels or sa kills the session.
  sqlite3_busy_handler(
      db_, [](void* self, int count) { return static_cast<SessionImpl*>(self)->onBusy(count); }, this);
  sqlite3_progress_handler(
      db_, 2000, [](void* self) { return static_cast<SessionImpl*>(self)->onProgress(); }, this);
  storage::LockHooks hooks;
  hooks.wait = [this](const std::string& database, int attempt) {
    return waitForLock(database, attempt == 0);
  };
  hooks.failure = [this](const std::string& database) { return lockWaitError(database); };
  hooks.stale = [this](const std::string&) { return deadlockError(); };
  hooks.acquired = [this](const std::string& database) { processes_.setWriter(database, spid_); };
  hooks.keptStatement = [this](const std::string& sql) -> sqlite3_stmt* {
    sqlite3_stmt*& st = lockStatements_[sql];
    if (!st && sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      sqlite3_finalize(st);
      st = nullptr;
      lockStatements_.erase(sql);
    }
    return st;
  };
  storage::setLockHooks(db_, std::move(hooks));
  // kill: the session stops what it runs (its statement and any lock wait) and ends.
  processes_.setInterrupt(spid_, [this] {
    {
      // Interrupted, storage would undo an open group of autocommits and the statements in it
      // that finished: the session then stops at its next check, after the statement under way.
      std::lock_guard lock(interruptMutex_);
      killed_ = true;
      if (!groupOpen_ && !groupInFlight_) sqlite3_interrupt(db_);
    }
    std::lock_guard lock(terminateMutex_);
    if (terminate_) terminate_();
  });
}

void SessionImpl::setTerminator(std::function<void()> terminate) {
  std::lock_guard lock(terminateMutex_);
  terminate_ = std::move(terminate);
}

void SessionImpl::requireOwnerOf(const std::string& command, const TableInfo& t) {
  if (t.database == "tempdb" && !t.name.empty() && t.name[0] == '#') return;
  permissions_->requireOwner(command, t.database, t.owner, t.name);
}

SessionImpl::~SessionImpl() {
  // No kill reaches a session that is going.
  processes_.setInterrupt(spid_, nullptr);
  sink_ = nullptr;
  killed_ = false;
  // Cursors first: their statements and spill tables go before the transaction is undone.
  cursors_.clear();
  spill_.reset();
  // A session that ends with an open transaction rolls it back.
  rollbackAll();
  prepared_.clear();
  // The session's #tables are in its connection's TEMP schema and go as it closes.
  sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  statements_.clear();
  for (auto& [sql, st] : lockStatements_) sqlite3_finalize(st);
  lockStatements_.clear();
  permissions_.reset();
  catalogCache_.reset();
  sqlite3_close_v2(db_);
  processes_.remove(spid_);
}

std::string SessionImpl::databaseOf(const ObjectName& name) const {
  // A #table is the session's own, on its connection: no other session's lock stands in its way.
  if (!name.name.empty() && name.name[0] == '#') return std::string();
  if (!name.database.empty()) return name.database;
  return database_;
}

void SessionImpl::lockDatabase(const std::string& database) {
  if (database.empty()) return;
  // The open transaction holds the database's write lock already (every statement after its
  // first change there), and the process table names this session as its writer.
  if (database == lockedDatabase_ && !sqlite3_get_autocommit(db_) &&
      sqlite3_txn_state(db_, lockedSchema_.c_str()) == SQLITE_TXN_WRITE && processes_.writerOf(database) == spid_)
    return;
  // A database that is not there is the statement's own error to report. (No catalogue read
  // here: inside the transaction it would take a snapshot of master before its lock.)
  if (!storage::hasDatabaseFile(db_, database)) return;
  struct Awake {
    SessionImpl& s;
    ~Awake() {
      if (!s.waitedForLock_) return;
      s.waitedForLock_ = false;
      s.processes_.update(s.spid_, [](ProcessInfo& p) {
        if (p.status == "lock sleep") p.status = "running";
        p.blockedBy = 0;
        p.waitingFor.clear();
      });
    }
  } awake{*this};
  storage::lockForWrite(db_, database);
  lockedDatabase_ = database;
  lockedSchema_ = storage::schemaName(db_, database);
}

bool SessionImpl::waitForLock(const std::string& database, bool first) {
  auto now = std::chrono::steady_clock::now();
  if (first) {
    busySince_ = now;
    deadlock_ = false;
  }
  const int holder = processes_.writerOf(database);
  waitedForLock_ = true;
  processes_.update(spid_, [&](ProcessInfo& p) {
    if (first || p.status != "lock sleep") p.blockedSince = now;
    p.status = "lock sleep";
    p.blockedBy = holder;
    p.waitingFor = database;
  });
  if (killed_ || (sink_ && sink_->cancelled())) return false;
  if (processes_.closesCycle(spid_, database)) {
    deadlock_ = true;
    return false;
  }
  if (now - busySince_ > lockTimeout_) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return true;
}

int SessionImpl::onBusy(int count) {
  std::string database = storage::waitingFor(db_);
  if (database.empty()) database = database_;
  return waitForLock(database, count == 0) ? 1 : 0;
}

int SessionImpl::onProgress() {
  if (unwinding_) return 0;
  // Interrupted, SQLite would undo the whole group; a row of values is short, so an attention
  // or a kill waits for its end (the batch stops at the next check, and the group keeps what
  // finished).
  if (groupInFlight_) return 0;
  if (killed_) return 1;
  if (!sink_) return 0;
  if (interruptAfter_ && std::chrono::steady_clock::now() < *interruptAfter_) return 0;
  return sink_->cancelled() ? 1 : 0;
}

SqlError SessionImpl::deadlockError() const {
  return SqlError(1205, 13,
                  "Your server command (family id #0, process id #" + std::to_string(spid_) +
                      ") encountered a deadlock situation. Please re-run your command.");
}

SqlError SessionImpl::lockWaitError(const std::string& database) {
  if (killed_ || (sink_ && sink_->cancelled())) throw Cancelled{};
  if (deadlock_) return deadlockError();
  const std::string db = database.empty() ? database_ : database;
  const int holder = processes_.writerOf(db);
  std::optional<DatabaseInfo> info = findDatabase(db_, db);
  const bool session = lockTimeout_ != std::chrono::milliseconds(kDefaultLockWaitMs);
  return SqlError(12205, 17,
                  "Could not acquire a lock within the specified wait period. " +
                      std::string(session ? "SESSION" : "SERVER") + " level wait period=" +
                      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(lockTimeout_).count()) +
                      " seconds, spid=" + std::to_string(spid_) +
                      ", lock type=exclusive table, dbid=" + std::to_string(info ? info->dbid : 0) +
                      ", objid=0, pageno=0, rowno=0. Aborting the "
                      "transaction. The lock of database '" +
                      db + "' is held by spid " + std::to_string(holder) + ".");
}

void SessionImpl::checkCancel() {
  if (killed_ || (sink_ && sink_->cancelled())) throw Cancelled{};
}

void SessionImpl::setCommand(const std::string& command) {
  int tc = tranCount_;
  processes_.update(spid_, [&](ProcessInfo& p) {
    p.command = command;
    p.status = command == "AWAITING COMMAND" ? "recv sleep" : "running";
    p.blockedBy = 0;
    p.waitingFor.clear();
    p.tranCount = tc;
  });
}

void SessionImpl::noteLiveTables(std::string_view text) {
  if (!liveTables_) liveTables_ = namesLiveTables(text);
}

bool SessionImpl::namesLiveTables(std::string_view text) {
  // "sysprocesses" or "syslocks" in any case.
  auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  for (size_t i = 0; i + 8 <= text.size(); ++i) {
    if (lower(text[i]) != 's' || lower(text[i + 1]) != 'y' || lower(text[i + 2]) != 's') continue;
    for (std::string_view rest : {std::string_view("processes"), std::string_view("locks")}) {
      if (i + 3 + rest.size() > text.size()) continue;
      bool same = true;
      for (size_t k = 0; k < rest.size() && same; ++k) same = lower(text[i + 3 + k]) == rest[k];
      if (same) return true;
    }
  }
  return false;
}

void SessionImpl::refreshLive() {
  // The copies are rewritten in place: a cursor still reading one keeps the rows it began with.
  if (cursorStreaming()) spillCursors();
  std::vector<ProcessInfo> snapshot = processes_.snapshot();
  std::vector<std::pair<std::string, int>> writers = processes_.writers();
  std::map<std::string, int32_t> dbids;
  auto dbidOf = [&](const std::string& name) {
    auto it = dbids.find(name);
    if (it != dbids.end()) return it->second;
    std::optional<DatabaseInfo> d = findDatabase(db_, name);
    return dbids[name] = d ? d->dbid : 1;
  };
  std::vector<LiveProcess> live;
  std::vector<LiveLock> locks;
  const auto now = std::chrono::steady_clock::now();
  for (const ProcessInfo& p : snapshot) {
    LiveProcess l;
    l.spid = p.spid;
    l.kpid = p.spid;
    // The session asking is the one running this statement (its own state is set as it starts).
    l.status = p.spid == spid_ ? "running" : p.status;
    l.suid = p.suid;
    l.hostname = p.host;
    l.programName = p.program;
    l.hostProcess = p.hostProcess;
    l.cmd = p.spid == spid_ ? "SELECT" : p.command;
    l.blocked = p.blockedBy;
    if (p.blockedBy != 0)
      l.timeBlocked = static_cast<int32_t>(
          std::chrono::duration_cast<std::chrono::seconds>(now - p.blockedSince).count());
    l.dbid = dbidOf(p.database.empty() ? "master" : p.database);
    l.loginName = p.login;
    if (p.spid == spid_) l.tranName = tranName_;
    // Login time in local time, as getdate() shows it.
    std::time_t tt = std::chrono::system_clock::to_time_t(p.loginTime);
    std::tm local{};
    localtime_r(&tt, &local);
    l.loggedIn = makeDateTime(DateParts{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                        local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, 0});
    live.push_back(std::move(l));
  }
  for (const auto& [database, writer] : writers) {
    // SQLite locks a whole database file: each writer holds one exclusive lock per database it
    // changes, blocking when another session waits for that database.
    LiveLock w;
    w.spid = writer;
    bool blocks = false;
    for (const ProcessInfo& p : snapshot)
      if (p.blockedBy == writer && p.waitingFor == database) blocks = true;
    w.type = kLockExTable + (blocks ? kLockBlocking : 0);
    w.dbid = dbidOf(database);
    locks.push_back(w);
  }
  refreshLiveTables(db_, live, locks);
}

void SessionImpl::done(bool error, int32_t count) {
  if (sink_)
    sink_->done(procDepth_ > 0 ? DoneKind::DoneInProc : DoneKind::Done, error, options_.noCount ? -1 : count);
}

void SessionImpl::sendMessage(const ServerMessage& m) {
  if (!sink_) return;
  if (procDepth_ > 0 && m.procedure.empty()) {
    ServerMessage inProc = m;
    inProc.procedure = procName_;
    sink_->message(inProc);
    return;
  }
  sink_->message(m);
}

void SessionImpl::execSql(const std::string& sql) {
  SqlStatement st(*this, sql);
  while (st.step()) {
  }
}

Variable* SessionImpl::findVariable(const std::string& name) {
  auto it = variables_.find(name);
  return it == variables_.end() ? nullptr : &it->second;
}

std::string SessionImpl::tempTableName(const std::string& name) const {
  // The innermost one: a procedure's own #t hides its caller's #t of the same name.
  const std::string base = tempTableStoredName(name, spid_);
  for (int level = procDepth_; level >= 1; --level) {
    std::string leveled = base + "_" + std::to_string(level);
    if (tempTables_.count(leveled)) return leveled;
  }
  return base;
}

std::string SessionImpl::newTempTableName(const std::string& name) const {
  const std::string base = tempTableStoredName(name, spid_);
  auto made = tempTableDepth_.find(base);
  if (made == tempTableDepth_.end() || made->second >= procDepth_) return base;
  // A caller's #table has the name: this level's own table may have it too (a second one of
  // this level is refused as the name's owner would be).
  return base + "_" + std::to_string(procDepth_);
}

std::optional<std::pair<Value, TypeDesc>> SessionImpl::global(const std::string& name) {
  auto intValue = [](int64_t v) { return std::make_pair(Value{v}, makeType(SqlType::Int)); };
  auto text = [](const std::string& s) {
    return std::make_pair(Value{s},
                          makeType(SqlType::VarChar, std::max<int32_t>(1, static_cast<int32_t>(s.size()))));
  };
  if (name == "@@rowcount") return intValue(rowCount_);
  if (name == "@@error") return intValue(error_);
  if (name == "@@trancount") return intValue(tranCount_);
  if (name == "@@spid") return std::make_pair(Value{int64_t{spid_}}, makeType(SqlType::SmallInt));
  if (name == "@@identity") {
    // 0 until this session inserts into a table with an identity column.
    return std::make_pair(isNull(identity_) ? Value{Decimal{0, 0}} : identity_, numericType(38, 0));
  }
  if (name == "@@servername") return text(id_.serverName);
  if (name == "@@version") {
    // The release's own banner: the same on every build, so clients and tests can rely on it.
    return text("Tabulon SQL Server/15.0/Tabulon local server/Linux/OPT/2026-12");
  }
  if (name == "@@textsize") return intValue(options_.textSize);
  if (name == "@@isolation") return intValue(options_.isolation);
  if (name == "@@tranchained") return intValue(options_.chained ? 1 : 0);
  if (name == "@@transtate") return intValue(tranState_);
  if (name == "@@nestlevel") return intValue(procDepth_);
  if (name == "@@procid") return intValue(procId_);
  if (name == "@@sqlstatus") return intValue(sqlStatus_);
  if (name == "@@langid") return intValue(0);
  if (name == "@@language") return text("us_english");
  if (name == "@@char_convert") return intValue(0);
  if (name == "@@client_csname") return text("utf8");
  if (name == "@@max_connections") return intValue(100);
  if (name == "@@maxcharlen") return intValue(4);
  if (name == "@@datefirst") return intValue(options_.dateFirst);
  if (name == "@@options") return intValue(0);
  // The timestamp value most recently written into a timestamp column.
  if (name == "@@dbts") return std::make_pair(Value{lastTimestamp()}, makeType(SqlType::VarBinary, 8));
  return std::nullopt;
}

std::pair<Value, TypeDesc> SessionImpl::evaluate(const Expr& e) {
  Binder b(*this);
  Scope scope;
  BoundExpr x = b.bindExpr(e, scope);
  SqlStatement st(*this, "SELECT " + x.sql);
  st.bindAll(b.params());
  Value v;
  if (st.step()) v = columnValue(st.get(), 0, x.type);
  return {v, x.type};
}

bool SessionImpl::evaluateCondition(const Expr& e) {
  Binder b(*this);
  Scope scope;
  BoundExpr x = b.bindCondition(e, scope);
  SqlStatement st(*this, "SELECT CASE WHEN " + x.sql + " THEN 1 ELSE 0 END");
  st.bindAll(b.params());
  return st.step() && sqlite3_column_int(st.get(), 0) == 1;
}

void SessionImpl::beginChainedIfNeeded() {
  if (options_.chained && tranCount_ == 0) beginTransaction({});
}

void SessionImpl::executeLanguage(std::string_view sql, ResultSink& sink) {
  runBatch(sql, sink, {});
}

void SessionImpl::runBatch(std::string_view sql, ResultSink& sink, std::map<std::string, Variable> preset,
                           const std::vector<StatementPtr>* parsed) {
  sink_ = &sink;
  batch_ = sql;
  // Databases dropped (or made again) by other sessions since the last batch are let go of.
  if (tranCount_ == 0) storage::refreshAttachments(db_);
  variables_ = std::move(preset);
  procDepth_ = 0;
  procId_ = 0;
  procName_.clear();
  gotoLabel_.clear();
  liveTables_ = false;
  triggerAbort_ = false;
  noteLiveTables(sql);
  // A select sent again with other constants runs the SQL its shape was bound to.
  std::optional<TextShape> shape;
  std::shared_ptr<const KeptShape> shaped;
  std::optional<std::vector<Value>> shapedParams;
  if (!parsed && shapesUsable(variables_)) {
    shape = shapeOf(sql, options_.quotedIdentifier);
    if (shape && (shaped = shapes_.find(shape->key))) {
      if (shapeHolds(*shaped)) shapedParams = rebind(*shaped, *shape);
      if (!shapedParams) shaped.reset();
    }
  }
  std::shared_ptr<const std::vector<StatementPtr>> kept;
  if (shaped)
    kept = shaped->statements;
  else if (!parsed)
    kept = keptBatch(sql);
  // What runs: the caller's parse, a kept one, or this text parsed now (then kept).
  const std::vector<StatementPtr>* list = parsed ? parsed : kept.get();
  if (!list) try {
    ParseOptions batchOptions = parseOptions();
    // set quoted_identifier on (from an earlier batch): "name" is an identifier.
    batchOptions.quotedIdentifiers = options_.quotedIdentifier;
    std::vector<StatementPtr> own =
        shape ? parseBatch(sql, batchOptions, shape->tokens) : parseBatch(sql, batchOptions);
    // CREATE PROCEDURE, VIEW, TRIGGER, RULE and DEFAULT each need a batch of their own.
    for (size_t i = 1; i < own.size(); ++i) {
      const char* what = nullptr;
      switch (own[i]->kind) {
        case StatementKind::CreateProcedure: what = "PROCEDURE"; break;
        case StatementKind::CreateView: what = "VIEW"; break;
        case StatementKind::CreateTrigger: what = "TRIGGER"; break;
        case StatementKind::CreateRule: what = "RULE"; break;
        case StatementKind::CreateDefault: what = "DEFAULT"; break;
        default: break;
      }
      if (what)
        throw SqlError(111, 15, std::string("CREATE ") + what + " must be the first command in a query batch.");
    }
    kept = keepBatch(sql, std::move(own));
    list = kept.get();
  } catch (const SqlError& e) {
    // A syntax error anywhere stops the whole batch before anything runs.
    error_ = e.number();
    sendMessage(e.toMessage());
    sink.done(DoneKind::Done, true, -1);
    sink_ = nullptr;
    return;
  }
  if (options_.parseOnly) {
    // Only SET statements run (so "set parseonly off" still works).
    for (const auto& s : *list)
      if (s->is<SetStatement>()) runStatement(*s);
    sink_ = nullptr;
    return;
  }
  // A batch of one plain SELECT not run from a shape records its binding, to be kept by shape.
  ShapeRecording recording;
  std::optional<KeptShape> toKeep;
  if (shape && !shaped && list->size() == 1 && list->front()->is<SelectStatement>()) {
    const auto& select = list->front()->as<SelectStatement>();
    if (select.computes.empty() && select.core.into.empty()) {
      toKeep.emplace();
      toKeep->stamp = catalogStamp();
      toKeep->database = database_;
      toKeep->user = user_;
      if (permissions_) toKeep->context = permissions_->context();
      toKeep->options = options_;
      shapeRecording_ = &recording;
    }
  }
  if (shaped) {
    preBound_ = PreBound{&shaped->bound.query, &*shapedParams};
    ++shapesRun_;
  }
  // A batch of several statements may group its autocommits (one alone gains nothing).
  struct Grouping {
    SessionImpl& s;
    Grouping(SessionImpl& session, bool allowed) : s(session) {
      s.groupingAllowed_ = allowed;
      if (allowed) s.sink_->setHeldWork(&s.groupCommit_);
    }
    ~Grouping() {
      // Whatever ended the batch (its end, an attention, a kill), the statements that finished
      // stay done, as each would have committed on its own.
      s.commitGroup();
      s.groupingAllowed_ = false;
      if (s.sink_) s.sink_->setHeldWork(nullptr);
    }
  };
  try {
    Grouping grouping(*this, list->size() > 1 && sink.defersOutput());
    runList(*list);
  } catch (const Cancelled&) {
    // The protocol layer answers the attention; what the statement changed is undone.
  }
  preBound_.reset();
  shapeRecording_ = nullptr;
  const auto assigns = [](const BoundQuery& q) { return !q.assignTo.empty() && !q.assignTo[0].empty(); };
  if (toKeep && recording.bound && !assigns(recording.bound->query)) {
    // Kept as bound for the session as it was; a constant bound into parameters only may
    // differ next time, every other one must be written the same.
    KeptShape& k = *toKeep;
    k.statements = kept;
    k.tokens = std::move(shape->tokens);
    k.variable.assign(k.tokens.size(), false);
    for (size_t i = 0; i < k.tokens.size(); ++i)
      k.variable[i] = isConstantToken(k.tokens[i].type) && recording.uses.onlyParams(static_cast<int32_t>(i));
    for (const LiteralUses::Param& p : recording.uses.params)
      if (p.token >= 0 && static_cast<size_t>(p.token) < k.tokens.size() && k.variable[static_cast<size_t>(p.token)])
        k.slots.push_back(p);
    k.bound = std::move(*recording.bound);
    shapes_.keep(std::move(shape->key), std::make_shared<const KeptShape>(std::move(k)));
  }
  reportLostGroup();
  setCommand("AWAITING COMMAND");
  sink_ = nullptr;
  // A long batch's statements (100,000 INSERTs hold some hundred megabytes of tree) are freed
  // after its reply has gone out rather than before its last DONE.
  if (kept && kept.use_count() == 1 && kept->size() > 64) retiredBatch_ = std::move(kept);
}

bool SessionImpl::shapesUsable(const std::map<std::string, Variable>& preset) const {
  return preset.empty() && !describing_ && !markersSet_ && !liveTables_ && procDepth_ == 0 && !options_.parseOnly &&
         !options_.noExec && !options_.fmtOnly;
}

bool SessionImpl::shapeHolds(const KeptShape& shape) const {
  return shape.stamp == catalogStamp() && shape.database == database_ && shape.user == user_ &&
         (!permissions_ || shape.context == permissions_->context()) && shape.options == options_;
}

std::shared_ptr<const std::vector<StatementPtr>> SessionImpl::keptBatch(std::string_view sql) {
  for (size_t i = parsedBatches_.size(); i-- > 0;) {
    const ParsedBatch& b = parsedBatches_[i];
    if (b.quotedIdentifiers != options_.quotedIdentifier || b.text != sql) continue;
    std::rotate(parsedBatches_.begin() + static_cast<std::ptrdiff_t>(i),
                parsedBatches_.begin() + static_cast<std::ptrdiff_t>(i) + 1, parsedBatches_.end());
    return parsedBatches_.back().statements;
  }
  return nullptr;
}

std::shared_ptr<const std::vector<StatementPtr>> SessionImpl::keepBatch(std::string_view sql,
                                                                         std::vector<StatementPtr> statements) {
  auto shared = std::make_shared<const std::vector<StatementPtr>>(std::move(statements));
  // Short texts only: a long script is rarely sent twice and would hold its tree for nothing.
  constexpr size_t kKeptBatches = 8, kLongestKeptText = 2048;
  if (sql.size() > kLongestKeptText) return shared;
  if (parsedBatches_.size() == kKeptBatches) parsedBatches_.erase(parsedBatches_.begin());
  parsedBatches_.push_back({std::string(sql), options_.quotedIdentifier, shared});
  return shared;
}

Flow SessionImpl::runList(const std::vector<StatementPtr>& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    checkCancel();
    Flow f = runStatement(*list[i]);
    if (triggerAbort_) {
      // A trigger rolled the transaction back: the rest of the batch does not run.
      if (procDepth_ == 0) triggerAbort_ = false;
      return Flow::Abort;
    }
    if (f == Flow::Goto) {
      // GOTO jumps to a label of this statement list; an unknown label goes up a level.
      size_t k = 0;
      for (; k < list.size(); ++k)
        if (list[k]->is<LabelStatement>() && list[k]->as<LabelStatement>().label == gotoLabel_) break;
      if (k == list.size()) return f;
      gotoLabel_.clear();
      i = k;
      continue;
    }
    if (f != Flow::Next) return f;
  }
  return Flow::Next;
}

Flow SessionImpl::runStatement(const Statement& s) {
  if (options_.noExec && !s.is<SetStatement>()) return Flow::Next;
  // Only an INSERT may join an open group of autocommits (its transaction decides whether it
  // can); every other statement sees the group committed.
  if (groupOpen_ && !s.is<InsertStatement>()) commitGroup();
  if (groupLost_) {
    reportLostGroup();
    return Flow::Abort;
  }
  try {
    return dispatch(s);
  } catch (const GroupLost&) {
    reportLostGroup();
    return Flow::Abort;
  } catch (SqlError& e) {
    if (e.number() == kCancelledErrorNumber) throw Cancelled{};
    e.setLine(static_cast<uint16_t>(s.line));
    // A statement that failed changed no rows: @@rowcount says 0, not the count before it.
    rowCount_ = 0;
    error_ = e.number();
    ++errorCount_;
    sendMessage(e.toMessage());
    done(true, -1);
    if (e.number() == 1205 || e.number() == 12205) {
      // A lock wait that ended, or a deadlock: the transaction is rolled back, and a deadlock
      // victim's batch ends.
      if (tranCount_ > 0) rollbackAll();
      if (e.number() == 1205) {
        if (procDepth_ > 0) triggerAbort_ = true;
        return Flow::Abort;
      }
      return Flow::Next;
    }
    if (options_.arithAbort && isArithmeticError(e)) {
      // set arithabort arith_overflow on (the default): an overflow or a zero divisor rolls the
      // transaction back and ends the batch, procedure callers included.
      if (tranCount_ > 0) rollbackAll();
      if (procDepth_ > 0) triggerAbort_ = true;
      return Flow::Abort;
    }
    if (tranCount_ > 0) tranState_ = 2;
    return abortsBatch(e) ? Flow::Abort : Flow::Next;
  } catch (const TriggerRolledBack& r) {
    // Inside an outer trigger the statement that fired that one goes too.
    if (!firingTables_.empty()) throw;
    // This statement fired the trigger: its statement transaction has undone it already.
    rowCount_ = 0;
    if (tranCount_ > 0) tranState_ = 2;
    if (r.message) {
      error_ = r.message->number;
      ++errorCount_;
      sendMessage(*r.message);
      done(true, -1);
    } else {
      error_ = 0;
      done(false, 0);
    }
    return Flow::Next;
  } catch (const Cancelled&) {
    throw;
  } catch (const std::exception& e) {
    // A fault below the executor (storage, a broken invariant) ends the batch with an error
    // instead of taking the session down.
    error_ = 7900;
    ++errorCount_;
    sendMessage(ServerMessage{
        7900, 1, 16, std::string("Internal error: ") + e.what(), {}, static_cast<uint16_t>(s.line)});
    done(true, -1);
    return Flow::Abort;
  }
}

namespace {

// Whether a statement may change what statements are planned from: everything but reading and
// writing rows, control flow, variables, options and cursors.
bool changesCatalog(const Statement& s) {
  switch (s.kind) {
    case StatementKind::Select:
      return !s.as<SelectStatement>().core.into.empty();
    case StatementKind::Insert:
    case StatementKind::Update:
    case StatementKind::Delete:
    case StatementKind::Set:
    case StatementKind::Declare:
    case StatementKind::If:
    case StatementKind::While:
    case StatementKind::Break:
    case StatementKind::Continue:
    case StatementKind::Block:
    case StatementKind::Return:
    case StatementKind::Goto:
    case StatementKind::Label:
    case StatementKind::Print:
    case StatementKind::Raiserror:
    case StatementKind::Waitfor:
    case StatementKind::Kill:
    case StatementKind::Maintenance:
    case StatementKind::DeclareCursor:
    case StatementKind::OpenCursor:
    case StatementKind::FetchCursor:
    case StatementKind::CloseCursor:
    case StatementKind::DeallocateCursor:
    case StatementKind::ReadText:
    case StatementKind::WriteText:
    // A transaction's end moves the count itself when the transaction changed the catalogue.
    case StatementKind::Transaction:
    // What is planned for one database is kept for it (plans name their database).
    case StatementKind::Use:
      return false;
    default:
      return true;
  }
}

// The database a statement changes, when its text names it: inside a transaction its write lock
// is taken before the statement reads anything there (see lockDatabase).
std::optional<ObjectName> changedObject(const Statement& s) {
  switch (s.kind) {
    case StatementKind::Select:
      if (s.as<SelectStatement>().core.into.name.empty()) return std::nullopt;
      return s.as<SelectStatement>().core.into;
    case StatementKind::Insert:
      return s.as<InsertStatement>().table;
    case StatementKind::Update:
      return s.as<UpdateStatement>().table;
    case StatementKind::Delete:
      return s.as<DeleteStatement>().table;
    case StatementKind::Truncate:
      return s.as<TruncateStatement>().table;
    case StatementKind::CreateTable:
      return s.as<CreateTableStatement>().table;
    case StatementKind::AlterTable:
      return s.as<AlterTableStatement>().table;
    case StatementKind::CreateIndex:
      return s.as<CreateIndexStatement>().table;
    case StatementKind::CreateView:
      return s.as<CreateViewStatement>().view;
    case StatementKind::Drop:
      if (s.as<DropStatement>().names.empty()) return std::nullopt;
      return s.as<DropStatement>().names.front();
    default:
      return std::nullopt;
  }
}

}  // namespace

Flow SessionImpl::dispatch(const Statement& s) {
  // Each statement of SQL that names sysprocesses or syslocks sees the sessions as they are now.
  if (liveTables_ && !describing_) refreshLive();
  if (tranCount_ > 0 && !describing_)
    if (auto changed = changedObject(s)) lockDatabase(databaseOf(*changed));
  std::optional<CatalogChange> change;
  if (changesCatalog(s)) change.emplace(*this);
  switch (s.kind) {
    case StatementKind::Select:
      setCommand("SELECT");
      if (!s.as<SelectStatement>().core.into.empty())
        runSelectInto(s.as<SelectStatement>());
      else
        runSelect(s.as<SelectStatement>());
      break;
    case StatementKind::Insert:
      setCommand("INSERT");
      runInsert(s.as<InsertStatement>());
      break;
    case StatementKind::Update:
      setCommand("UPDATE");
      runUpdate(s.as<UpdateStatement>());
      break;
    case StatementKind::Delete:
      setCommand("DELETE");
      runDelete(s.as<DeleteStatement>());
      break;
    case StatementKind::Truncate:
      setCommand("TRUNCATE TABLE");
      runTruncate(s.as<TruncateStatement>());
      break;
    case StatementKind::CreateTable:
      setCommand("CREATE TABLE");
      runCreateTable(s.as<CreateTableStatement>());
      break;
    case StatementKind::AlterTable:
      setCommand("ALTER TABLE");
      runAlterTable(s.as<AlterTableStatement>());
      break;
    case StatementKind::Drop:
      setCommand("DROP");
      runDrop(s.as<DropStatement>());
      break;
    case StatementKind::CreateIndex:
      setCommand("CREATE INDEX");
      runCreateIndex(s.as<CreateIndexStatement>());
      break;
    case StatementKind::DropIndex:
      setCommand("DROP INDEX");
      runDropIndex(s.as<DropIndexStatement>());
      break;
    case StatementKind::CreateView:
      setCommand("CREATE VIEW");
      runCreateView(s.as<CreateViewStatement>());
      break;
    case StatementKind::Use:
      runUse(s.as<UseStatement>());
      break;
    case StatementKind::Set:
      runSet(s.as<SetStatement>());
      break;
    case StatementKind::Transaction:
      runTransaction(s.as<TransactionStatement>());
      break;
    case StatementKind::Declare:
      runDeclare(s.as<DeclareStatement>());
      break;
    case StatementKind::If: {
      const auto& i = s.as<IfStatement>();
      setCommand("COND");
      bool yes = evaluateCondition(*i.condition);
      error_ = 0;
      if (yes) return runStatement(*i.thenBranch);
      if (i.elseBranch) return runStatement(*i.elseBranch);
      return Flow::Next;
    }
    case StatementKind::While: {
      const auto& w = s.as<WhileStatement>();
      while (true) {
        checkCancel();
        setCommand("COND");
        if (!evaluateCondition(*w.condition)) break;
        Flow f = runStatement(*w.body);
        if (f == Flow::Break) break;
        if (f == Flow::Continue || f == Flow::Next) continue;
        return f;
      }
      return Flow::Next;
    }
    case StatementKind::Break:
      return Flow::Break;
    case StatementKind::Continue:
      return Flow::Continue;
    case StatementKind::Block:
      return runList(s.as<BlockStatement>().statements);
    case StatementKind::Return: {
      const auto& r = s.as<ReturnStatement>();
      if (r.value) {
        auto [v, t] = evaluate(*r.value);
        Value n = convertValue(v, t, makeType(SqlType::Int));
        returnValue_ = isNull(n) ? 0 : static_cast<int32_t>(std::get<int64_t>(n));
      }
      return Flow::Return;
    }
    case StatementKind::Goto:
      gotoLabel_ = s.as<GotoStatement>().label;
      return Flow::Goto;
    case StatementKind::Label:
      return Flow::Next;
    case StatementKind::Print:
      runPrint(s.as<PrintStatement>());
      break;
    case StatementKind::Raiserror:
      runRaiserror(s.as<RaiserrorStatement>());
      return Flow::Next;
    case StatementKind::Waitfor:
      setCommand("WAITFOR");
      runWaitfor(s.as<WaitforStatement>());
      break;
    case StatementKind::Execute:
      setCommand("EXECUTE");
      runExecute(s.as<ExecuteStatement>());
      return Flow::Next;
    case StatementKind::CreateProcedure:
      setCommand("CREATE PROCEDURE");
      runCreateProcedure(s.as<CreateProcedureStatement>());
      break;
    case StatementKind::DeclareCursor:
      runDeclareCursor(s.as<DeclareCursorStatement>());
      break;
    case StatementKind::OpenCursor:
      setCommand("OPEN CURSOR");
      openCursorRows(cursorById(cursorIdByName(s.as<OpenCursorStatement>().name)));
      done(false, -1);
      break;
    case StatementKind::FetchCursor:
      setCommand("FETCH CURSOR");
      runFetch(s.as<FetchCursorStatement>());
      return Flow::Next;
    case StatementKind::CloseCursor:
      closeCursor(cursorIdByName(s.as<CloseCursorStatement>().name), false);
      done(false, -1);
      break;
    case StatementKind::DeallocateCursor:
      closeCursor(cursorIdByName(s.as<DeallocateCursorStatement>().name), true);
      done(false, -1);
      break;
    case StatementKind::CreateTrigger:
      setCommand("CREATE TRIGGER");
      runCreateTrigger(s.as<CreateTriggerStatement>());
      break;
    case StatementKind::CreateRule:
      runCreateRule(s.as<CreateRuleStatement>());
      break;
    case StatementKind::CreateDefault:
      runCreateDefault(s.as<CreateDefaultStatement>());
      break;
    case StatementKind::Grant:
      runGrant(s.as<GrantStatement>());
      break;
    case StatementKind::Kill:
      setCommand("KILL");
      runKill(s.as<KillStatement>());
      break;
    case StatementKind::CreateDatabase:
      runDatabaseCommand(true, {s.as<CreateDatabaseStatement>().name});
      break;
    case StatementKind::DropDatabase:
      runDatabaseCommand(false, s.as<DropDatabaseStatement>().names);
      break;
    case StatementKind::Maintenance:
      setCommand(s.as<MaintenanceStatement>().action == MaintenanceAction::Checkpoint ? "CHECKPOINT"
                                                                                      : "UPDATE STATISTICS");
      runMaintenance(s.as<MaintenanceStatement>());
      break;
    case StatementKind::ReadText:
      setCommand("READTEXT");
      runReadText(s.as<ReadTextStatement>());
      return Flow::Next;
    case StatementKind::WriteText:
      setCommand("WRITETEXT");
      runWriteText(s.as<WriteTextStatement>());
      break;
    default:
      throw notSupported(std::string("The statement ") + statementKindName(s.kind));
  }
  error_ = 0;
  // A change that succeeded inside a transaction: @@transtate 0 again.
  switch (s.kind) {
    case StatementKind::Insert:
    case StatementKind::Update:
    case StatementKind::Delete:
    case StatementKind::Truncate:
      if (tranCount_ > 0) tranState_ = 0;
      break;
    default:
      break;
  }
  // Statements that touch no rows (SET, USE, PRINT, transactions, DDL) leave @@rowcount at 0;
  // DECLARE leaves it alone.
  switch (s.kind) {
    case StatementKind::Select:
    case StatementKind::Insert:
    case StatementKind::Update:
    case StatementKind::Delete:
    case StatementKind::Declare:
      break;
    default:
      rowCount_ = 0;
  }
  return Flow::Next;
}

}  // namespace tabsrv
