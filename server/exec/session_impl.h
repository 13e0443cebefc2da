// The executor's Session: one login's connection, current database, options, transaction count,
// globals and the batch interpreter that runs statements and writes their results to a sink.
// Statement kinds are implemented in exec_*.cpp files; this header is shared by all of them.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/session.h"
#include "server/exec/binder.h"
#include "server/exec/process_table.h"
#include "server/storage/catalog.h"
#include "server/tsql/ast.h"
#include "server/types/functions.h"

namespace tabsrv {

// Thrown inside the executor when the client's attention arrived; the batch stops quietly.
struct Cancelled {};

// Where a statement leaves the flow of its batch.
enum class Flow { Next, Break, Continue, Return, Goto, Abort };

// Who a session is: filled by the Engine at login.
struct SessionIdentity {
  int suid = 1;
  std::string login = "sa";
  std::string database = "master";
  std::string user = "dbo";
  int uid = 1;
  std::string host;
  std::string program;
  std::string serverName = "TABULON";
};

// A prepared SQLite statement that throws the server's errors; finalized on destruction.
class SqlStatement;

class SessionImpl : public Session, public BindContext {
 public:
  // Takes ownership of `db`; the spid is already registered in `processes`.
  SessionImpl(sqlite3* db, int spid, SessionIdentity identity, ProcessTable& processes);
  ~SessionImpl() override;

  int spid() const override { return spid_; }
  std::string currentDatabase() const override { return database_; }
  SessionOptions& options() override { return options_; }
  void executeLanguage(std::string_view sql, ResultSink& sink) override;

  // BindContext
  sqlite3* connection() override { return db_; }
  const std::string& databaseName() const override { return database_; }
  const std::string& userName() const override { return user_; }
  Variable* findVariable(const std::string& name) override;
  std::optional<std::pair<Value, TypeDesc>> global(const std::string& name) override;
  std::string tempTableName(const std::string& name) const override;
  bool ansiNull() const override { return options_.ansiNull; }

  // The open transaction count (@@trancount).
  int tranCount() const { return tranCount_; }

 private:
  friend class SqlStatement;
  friend class StatementTransaction;
  friend struct Unwinding;

  // Interpreter core (session.cpp).
  Flow runList(const std::vector<tsql::StatementPtr>& list);
  Flow runStatement(const tsql::Statement& s);
  Flow dispatch(const tsql::Statement& s);
  void checkCancel();
  void done(bool error, int32_t count);
  void sendMessage(const ServerMessage& m);
  // Evaluates an expression with no FROM clause to a value of its bound type.
  std::pair<Value, TypeDesc> evaluate(const tsql::Expr& e);
  // Evaluates a condition (IF, WHILE) to true/false.
  bool evaluateCondition(const tsql::Expr& e);
  // Runs SQL that returns no rows (BEGIN, COMMIT, SAVEPOINT ...).
  void execSql(const std::string& sql);
  void beginChainedIfNeeded();
  void setCommand(const std::string& command);

  // Statements (exec_select.cpp, exec_dml.cpp, exec_ddl.cpp, exec_control.cpp, transactions.cpp).
  void runSelect(const tsql::SelectStatement& s);
  void runSelectInto(const tsql::SelectStatement& s);
  void runInsert(const tsql::InsertStatement& s);
  void runUpdate(const tsql::UpdateStatement& s);
  void runDelete(const tsql::DeleteStatement& s);
  void runTruncate(const tsql::TruncateStatement& s);
  void runCreateTable(const tsql::CreateTableStatement& s);
  void runAlterTable(const tsql::AlterTableStatement& s);
  void runDrop(const tsql::DropStatement& s);
  void runCreateIndex(const tsql::CreateIndexStatement& s);
  void runDropIndex(const tsql::DropIndexStatement& s);
  void runCreateView(const tsql::CreateViewStatement& s);
  void runUse(const tsql::UseStatement& s);
  void runSet(const tsql::SetStatement& s);
  void runDeclare(const tsql::DeclareStatement& s);
  void runPrint(const tsql::PrintStatement& s);
  void runRaiserror(const tsql::RaiserrorStatement& s);
  void runWaitfor(const tsql::WaitforStatement& s);
  void runTransaction(const tsql::TransactionStatement& s);
  // Assigns a value (of type `from`) to a declared variable, converting it to the variable's type.
  void assignVariable(const std::string& name, const Value& v, const TypeDesc& from);
  // A value's text for PRINT and RAISERROR arguments.
  std::string printText(const Value& v, const TypeDesc& type);
  // The column default of a table column evaluated now (getdate() ...), or NULL when none.
  std::pair<Value, TypeDesc> columnDefault(const CatalogColumn& c);
  // Where a #table of this session is stored and whether it is one of ours.
  void rememberTempTable(const std::string& storedName) { tempTables_.insert(storedName); }
  void dropTempTables();

  // Transactions (transactions.cpp).
  void beginTransaction(const std::string& name);
  void commitTransaction();
  void rollbackTransaction(const std::string& name);
  void saveTransaction(const std::string& name);
  void rollbackAll();
  void noteWriter(bool holding);

  int onBusy(int count);
  int onProgress();

  sqlite3* db_;
  int spid_;
  SessionIdentity id_;
  ProcessTable& processes_;
  std::string database_;
  std::string user_;
  SessionOptions options_;
  SessionInfo info_;
  ResultSink* sink_ = nullptr;
  std::string_view batch_;

  int tranCount_ = 0;
  std::vector<std::string> savepoints_;  // user savepoints of the open transaction
  std::string tranName_;                 // name of the outermost BEGIN TRAN
  int32_t rowCount_ = 0;                 // @@rowcount
  int32_t error_ = 0;                    // @@error
  Value identity_;                       // @@identity
  std::map<std::string, Variable> variables_;
  std::set<std::string> tempTables_;  // stored names of our #tables in tempdb
  std::set<int32_t> identityInsert_;  // object ids with set identity_insert on
  std::string gotoLabel_;
  std::chrono::steady_clock::time_point busySince_;
  std::chrono::milliseconds lockTimeout_{30000};
  bool unwinding_ = false;  // rolling back: cancels are not honoured until it is done
};

// Marks a session as rolling back for its lifetime (progress-handler cancels are ignored).
struct Unwinding {
  explicit Unwinding(SessionImpl& s) : session(s), previous(s.unwinding_) { s.unwinding_ = true; }
  ~Unwinding() { session.unwinding_ = previous; }
  SessionImpl& session;
  bool previous;
};

}  // namespace tabsrv
