// BEGIN/COMMIT/ROLLBACK/SAVE TRANSACTION over the session's SQLite connection.
// The outermost BEGIN TRAN locks nothing: each statement that changes a database first takes that
// database's write lock (StatementTransaction, lockDatabase), and keeps it to the end of the
// transaction; a second session's write to the same database waits until then, writes to other
// databases go on. A transaction changes one database besides tempdb (the second is refused, and
// a COMMIT that would still commit two rolls back instead): each database is a file of its own
// and WAL files commit one by one. Readers outside transactions keep reading the last committed
// state (WAL). Nested BEGINs only count. KILL ends another session, whose transaction rolls back.
#include <chrono>
#include <thread>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/storage/database_files.h"
#include "server/types/convert.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

std::string savepointName(const std::string& name) {
  return Binder::quoteIdent("u_" + name);
}

// A trigger's `inserted` and `deleted` rows are TEMP tables made inside the statement's
// transaction (TriggerFiring); a `rollback transaction` in the body would drop them while the rest
// of the body still reads them. Their definitions and rows are kept across the rollback.
struct KeptPseudoTable {
  std::string create;
  std::string insert;
  int columns = 0;
  std::vector<std::vector<sqlite3_value*>> rows;
};

std::vector<KeptPseudoTable> keepPseudoTables(sqlite3* db) {
  std::vector<KeptPseudoTable> kept;
  sqlite3_stmt* list = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT name, sql FROM temp.sqlite_master WHERE type = 'table' AND "
                         "(name LIKE 'tabulon\\_inserted\\_%' ESCAPE '\\' OR name LIKE "
                         "'tabulon\\_deleted\\_%' ESCAPE '\\')",
                         -1, &list, nullptr) != SQLITE_OK) {
    sqlite3_finalize(list);
    return kept;
  }
  while (sqlite3_step(list) == SQLITE_ROW) {
    KeptPseudoTable t;
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(list, 0));
    // The schema keeps a TEMP table's text as "CREATE TABLE ...": made again, it must be TEMP.
    std::string create = reinterpret_cast<const char*>(sqlite3_column_text(list, 1));
    if (create.rfind("CREATE TABLE ", 0) != 0) continue;
    t.create = "CREATE TEMP TABLE " + create.substr(13);
    const std::string quoted = "temp.\"" + name + "\"";
    sqlite3_stmt* rows = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT * FROM " + quoted).c_str(), -1, &rows, nullptr) == SQLITE_OK) {
      t.columns = sqlite3_column_count(rows);
      while (sqlite3_step(rows) == SQLITE_ROW) {
        std::vector<sqlite3_value*> r;
        for (int i = 0; i < t.columns; ++i) r.push_back(sqlite3_value_dup(sqlite3_column_value(rows, i)));
        t.rows.push_back(std::move(r));
      }
    }
    sqlite3_finalize(rows);
    std::string marks;
    for (int i = 0; i < t.columns; ++i) marks += i ? ", ?" : "?";
    t.insert = "INSERT INTO " + quoted + " VALUES (" + marks + ")";
    kept.push_back(std::move(t));
  }
  sqlite3_finalize(list);
  return kept;
}

void restorePseudoTables(sqlite3* db, std::vector<KeptPseudoTable>& kept) {
  for (KeptPseudoTable& t : kept) {
    // TEMP schema: the session's own, no lock of any database.
    if (sqlite3_exec(db, t.create.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
      sqlite3_stmt* ins = nullptr;
      if (sqlite3_prepare_v2(db, t.insert.c_str(), -1, &ins, nullptr) == SQLITE_OK) {
        for (const auto& r : t.rows) {
          for (int i = 0; i < t.columns; ++i) sqlite3_bind_value(ins, i + 1, r[static_cast<size_t>(i)]);
          sqlite3_step(ins);
          sqlite3_reset(ins);
        }
      }
      sqlite3_finalize(ins);
    }
    for (auto& r : t.rows)
      for (sqlite3_value* v : r) sqlite3_value_free(v);
    t.rows.clear();
  }
}

}  // namespace

void SessionImpl::beginTransaction(const std::string& name) {
  if (tranCount_ == 0) {
    spillCursors();
    execSql("BEGIN");
    tranName_ = name;
    savepoints_.clear();
  }
  ++tranCount_;
  tranState_ = 0;
  int tc = tranCount_;
  processes_.update(spid_, [tc](ProcessInfo& p) { p.tranCount = tc; });
}

void SessionImpl::commitTransaction() {
  if (tranCount_ == 0) throw commitWithoutBegin();
  if (tranCount_ == 1) {
    try {
      storage::requireOneDatabaseChanged(db_);
    } catch (const SqlError&) {
      rollbackAll();
      throw;
    }
    execSql("COMMIT");
    processes_.releaseWriters(spid_);
    savepoints_.clear();
    tranState_ = 1;
  }
  --tranCount_;
  if (tranCount_ == 0 && catalogChangedInTran_) {
    // Other sessions see the transaction's catalogue changes from now on.
    catalogChangedInTran_ = false;
    noteCatalogChange();
  }
  int tc = tranCount_;
  processes_.update(spid_, [tc](ProcessInfo& p) { p.tranCount = tc; });
}

void SessionImpl::rollbackTransaction(const std::string& name) {
  if (tranCount_ == 0) throw rollbackWithoutBegin();
  // A rollback ends the queries cursors are stepping (SQLite aborts them): their rows move first.
  spillCursors();
  if (!name.empty() && name != tranName_) {
    // ROLLBACK TRAN savepoint: back to the savepoint; the transaction stays open.
    for (auto it = savepoints_.rbegin(); it != savepoints_.rend(); ++it) {
      if (*it == name) {
        execSql("ROLLBACK TO " + savepointName(name));
        savepoints_.erase(it.base(), savepoints_.end());
        // What the undone part changed in the catalogue is gone again.
        if (catalogChangedInTran_) noteCatalogChange();
        return;
      }
    }
    throw SqlError(6401, 16,
                   "Cannot rollback " + name + " - no transaction or savepoint of that name found.");
  }
  rollbackAll();
}

void SessionImpl::saveTransaction(const std::string& name) {
  if (tranCount_ == 0) throw SqlError(628, 16, "SAVE TRANSACTION can only be used inside a transaction.");
  execSql("SAVEPOINT " + savepointName(name));
  savepoints_.push_back(name);
}

void SessionImpl::rollbackAll() {
  if (tranCount_ > 0) {
    try {
      spillCursors(false);
    } catch (const std::exception&) {
      // The rollback goes on; a cursor whose rows could not move reports it at its next fetch.
    }
  }
  Unwinding guard(*this);
  std::vector<KeptPseudoTable> pseudo;
  if (tranCount_ > 0 && !firingTables_.empty()) pseudo = keepPseudoTables(db_);
  if (tranCount_ > 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  restorePseudoTables(db_, pseudo);
  if (tranCount_ > 0) tranState_ = 3;
  // What the transaction changed in the catalogue is undone.
  if (tranCount_ > 0 && catalogChangedInTran_) noteCatalogChange();
  catalogChangedInTran_ = false;
  processes_.releaseWriters(spid_);
  tranCount_ = 0;
  savepoints_.clear();
  tranName_.clear();
  processes_.update(spid_, [](ProcessInfo& p) { p.tranCount = 0; });
}

void SessionImpl::runKill(const KillStatement& s) {
  if (id_.suid != 1)
    throw SqlError(
        10353, 14,
        "You must have the following role(s) to execute this command/procedure: 'sa_role' . Please "
        "contact a user with the appropriate role for help.");
  auto [value, type] = evaluate(*s.spid);
  Value n = convertValue(value, type, makeType(SqlType::Int));
  const int64_t spid = isNull(n) ? 0 : std::get<int64_t>(n);
  if (spid == spid_) throw SqlError(6104, 16, "You cannot use KILL to kill your own process.");
  if (spid <= 0 || !processes_.interrupt(static_cast<int>(spid)))
    throw SqlError(6106, 16, "Process id " + std::to_string(spid) + " is not an active process id.");
  // The killed session stops what it runs, rolls its transaction back and ends; KILL returns once
  // it has gone (its locks with it), or after a few seconds.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (processes_.find(static_cast<int>(spid)) && std::chrono::steady_clock::now() < until) {
    checkCancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  done(false, -1);
}

void SessionImpl::runTransaction(const TransactionStatement& s) {
  switch (s.action) {
    case TranAction::Begin:
      beginTransaction(s.name);
      break;
    case TranAction::Commit:
      commitTransaction();
      break;
    case TranAction::Rollback:
      rollbackTransaction(s.name);
      break;
    case TranAction::Save:
      saveTransaction(s.name);
      break;
    case TranAction::RollbackTrigger:
      if (!firingTables_.empty()) {
        // The statement that fired the trigger and all the trigger did go; the rest of the
        // trigger does not run.
        TriggerRolledBack rolledBack;
        if (s.raiserror) {
          rolledBack.message = raiserrorMessage(s.raiserror->as<RaiserrorStatement>());
          if (rolledBack.message->procedure.empty()) rolledBack.message->procedure = procName_;
        }
        throw rolledBack;
      }
      // Outside a trigger it is ignored, unless a transaction is open: then the transaction is
      // rolled back and the batch ends.
      if (tranCount_ > 0) {
        rollbackAll();
        done(false, -1);
        triggerAbort_ = true;
        return;
      }
      break;
  }
  done(false, -1);
}

}  // namespace tabsrv
