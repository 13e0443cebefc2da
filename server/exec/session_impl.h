// The executor's Session: one login's connection, current database, options, transaction count,
// globals and the batch interpreter that runs statements and writes their results to a sink.
// Statement kinds are implemented in exec_*.cpp files; this header is shared by all of them.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/core/session.h"
#include "server/exec/cursor_rows.h"
#include "server/exec/binder.h"
#include "server/exec/permissions.h"
#include "server/exec/process_table.h"
#include "server/exec/statement_cache.h"
#include "server/exec/statement_shapes.h"
#include "server/storage/catalog.h"
#include "server/storage/session_tables.h"
#include "server/storage/catalog_cache.h"
#include "server/storage/catalog_procedures.h"
#include "server/tsql/ast.h"
#include "server/tsql/parser.h"
#include "server/types/functions.h"

namespace tabsrv {

// Thrown inside the executor when the client's attention arrived; the batch stops quietly.
struct Cancelled {};
// A group of autocommits was lost: the batch reports it and ends (see SessionImpl::canGroup).
struct GroupLost {};

// Thrown while a prepared statement is described, where its SQL would start to run.
struct Described {};

// Thrown by ROLLBACK TRIGGER inside a trigger body: it unwinds to the statement that fired the
// (outermost) trigger, whose own statement transaction then undoes the statement and the
// trigger's work; `message` is the error of WITH RAISERROR, sent for that statement.
struct TriggerRolledBack {
  std::optional<ServerMessage> message;
};

// A system procedure the executor answers itself, and its parameters (name, declared type) in order.
struct BuiltinProcedure {
  std::string name;
  std::vector<std::pair<std::string, std::string>> params;
};
// Every such procedure; sybsystemprocs holds a catalogue entry for each (engine start-up).
const std::vector<BuiltinProcedure>& builtinProcedures();
// The one named `name` (any case), or nullptr.
const BuiltinProcedure* findBuiltinProcedure(const std::string& name);

// The bytes SQLite's b-trees of a table (or a database) take: the rows, the indexes and the free
// room inside their pages (sp_spaceused, sp_helpdb).
struct SpaceUsed {
  int64_t data = 0;
  int64_t index = 0;
  int64_t unused = 0;
  int64_t reserved() const { return data + index + unused; }
};

// One result set of a procedure run for INSERT ... EXECUTE.
struct CollectedSet {
  std::vector<ColumnDesc> columns;
  std::vector<std::vector<Value>> rows;
};

// A rule bound to a column, or a CHECK constraint of a table, ready to test rows against.
struct RowRule {
  int column = -1;            // the column a rule is bound to (index in TableInfo::columns); -1 for a CHECK
  std::string name;           // the rule's or constraint's name, for the error
  tsql::StatementPtr statement;  // the parsed text that owns `condition`
  const tsql::Expr* condition = nullptr;
};

// A declared foreign key as the DML paths test it: the referencing (child) table's columns and the
// referenced (parent) table's key columns, as SQLite names, pair by pair.
struct ForeignKey {
  std::string name;      // the constraint's name, for the error
  std::string database;  // both tables' database
  std::string childName, parentName;
  std::string childSql, parentSql;  // quoted SQLite table names
  std::vector<std::string> childColumns, parentColumns;  // quoted SQLite column names
  std::vector<int> childIndexes, parentIndexes;          // positions in TableInfo::columns
  std::string definition;  // "child FOREIGN KEY (a, b) REFERENCES parent(x, y)", for sp_helpconstraint
};

// The foreign keys a table declares (`outgoing`) and those that reference it (`incoming`, its own
// self-references included), read once per catalogue stamp.
struct TableReferences {
  uint64_t stamp = 0;
  std::vector<ForeignKey> outgoing;
  std::vector<ForeignKey> incoming;
};

// The old key values of the parent rows a DELETE or UPDATE changes, per incoming foreign key:
// after the statement no child row may name a key no parent row has any more.
class ParentKeys {
 public:
  ParentKeys() = default;
  ~ParentKeys();
  ParentKeys(const ParentKeys&) = delete;
  ParentKeys& operator=(const ParentKeys&) = delete;
  struct Keys {
    const ForeignKey* key = nullptr;
    std::vector<std::vector<sqlite3_value*>> rows;  // owned copies
  };
  std::vector<Keys> keys;
};

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
// The table an UPDATE or DELETE changes and the other tables of its FROM list (exec_dml.cpp).
struct ChangeTarget;

// What an INSERT ... VALUES keeps for its table and column list from one statement to the next
// (every statement of a batch inserting into one table, a procedure's insert called again, a
// prepared insert executed again): the resolved table, the target column of each value, the row
// rules, the trigger and the SQLite INSERT. It holds while the catalogue is unchanged (`stamp`)
// and for the database and user it was made for; `planned` is false when such statements take
// the full path (a view, a column list that does not fit), which reports their errors.
struct InsertPlan {
  InsertPlan();
  ~InsertPlan();
  uint64_t stamp = 0;
  std::string database;
  std::string user;
  bool planned = false;
  TableInfo table;
  std::vector<int> targets;   // column index per value
  int identityColumn = -1;
  bool explicitIdentity = false;
  std::vector<RowRule> rules;
  std::shared_ptr<const TableReferences> references;  // null when the table declares none
  int32_t triggerId = 0;
  std::string insertSql;
};

// A prepared batch as parsed once.
struct PreparedBatch {
  std::vector<tsql::StatementPtr> statements;
  bool quotedIdentifiers = false;
};

// A stored procedure as a session last called it: where its name led, its parsed text, the types
// of its parameters and its owner (for the ownership chain), and the permission context of the
// last EXECUTE check that let the session run it. It holds while the catalogue is unchanged
// (`stamp`) and for the database and user it was looked up from.
struct KeptProcedure {
  uint64_t stamp = 0;
  std::string database;
  std::string user;
  ProcedureInfo proc;
  bool systemProcedure = false;  // sp_ of sybsystemprocs or master: everyone may run it
  bool builtin = false;          // answered by the server itself
  bool namesLiveTables = false;  // the text names sysprocesses or syslocks
  std::shared_ptr<const std::vector<tsql::StatementPtr>> statements;  // parsed when first run
  std::optional<std::vector<TypeDesc>> paramTypes;
  std::optional<int32_t> ownerUid;  // -1: the owner is no user of the database
  std::optional<Permissions::Context> executeAllowed;
};

class SessionImpl : public Session, public BindContext {
 public:
  // Takes ownership of `db`; the spid is already registered in `processes`.
  SessionImpl(sqlite3* db, int spid, SessionIdentity identity, ProcessTable& processes);
  ~SessionImpl() override;

  int spid() const override { return spid_; }
  std::string currentDatabase() const override { return database_; }
  SessionOptions& options() override { return options_; }
  void executeLanguage(std::string_view sql, ResultSink& sink) override;
  void setTerminator(std::function<void()> terminate) override;

  // BindContext
  sqlite3* connection() override { return db_; }
  const std::string& databaseName() const override { return database_; }
  const std::string& userName() const override { return user_; }
  Variable* findVariable(const std::string& name) override;
  std::optional<std::pair<Value, TypeDesc>> global(const std::string& name) override;
  std::string tempTableName(const std::string& name) const override;
  bool ansiNull() const override { return options_.ansiNull; }
  // Not while a cursor streams: the connection reads the snapshot that cursor began with, and
  // a description read from it must not be kept as the current one.
  CatalogCache* catalogCache() override { return cursorStreaming() ? nullptr : catalogCache_.get(); }

  // The parse options of every batch and stored text this executor runs.
  static tsql::ParseOptions parseOptions();

  // The open transaction count (@@trancount).
  int tranCount() const { return tranCount_; }

  // Cursors (exec_cursors.cpp): rows stream from the cursor's query as they are fetched, and move
  // to a spill file before the session writes (cursor_rows.h).
  int32_t declareCursor(const std::string& name, const std::string& sql, bool forUpdate,
                        const std::vector<ParamValue>& params) override;
  void setCursorRows(int32_t id, int32_t rows) override;
  std::vector<ColumnDesc> openCursor(int32_t id, ResultSink& sink) override;
  std::vector<std::vector<Value>> fetchCursor(int32_t id, int32_t maxRows, ResultSink& sink) override;
  int32_t cursorRowCount(int32_t id) override;
  void closeCursor(int32_t id, bool deallocate) override;

  // Prepared statements (exec_prepared.cpp): described at prepare, run with `?` values.
  PreparedDescription prepareStatement(const std::string& id, const std::string& sql) override;
  void executePrepared(const std::string& id, const std::vector<ParamValue>& params,
                       ResultSink& sink) override;
  void deallocatePrepared(const std::string& id) override;
  std::pair<Value, TypeDesc> placeholder(int index, const TypeDesc* hint) override;
  // How many statements this session has prepared and not deallocated.
  size_t preparedCount() const { return prepared_.size(); }

  // Counts changes to what statements are planned from (tables, columns, indexes, rules, defaults,
  // triggers, permissions, users), by any session; a plan made at one count holds until it moves.
  static uint64_t catalogStamp() { return catalogChanges_.load(std::memory_order_acquire); }
  // Moves the count. Statements that may change the catalogue move it before and after they run,
  // and so do COMMIT and ROLLBACK: other sessions see a change only once its transaction ends.
  void noteCatalogChange();

  // Procedures called by RPC and language commands with parameters (exec_procedures.cpp).
  void executeRpc(const std::string& procName, std::vector<ParamValue>& params, ResultSink& sink) override;
  void executeLanguageWithParams(std::string_view sql, const std::vector<ParamValue>& params,
                                 ResultSink& sink) override;

 private:
  friend class SqlStatement;
  friend class StatementTransaction;
  friend struct Unwinding;
  friend struct StepGrace;

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
  // Notes whether SQL about to run names master..sysprocesses or master..syslocks.
  void noteLiveTables(std::string_view text);
  static bool namesLiveTables(std::string_view text);
  // Copies the live sessions and the write lock into this connection's sysprocesses/syslocks.
  void refreshLive();

  // One cursor: its declaration, and once open its columns and rows. An updatable cursor over
  // one table reads each row's rowid along with it (its query's column 0), so WHERE CURRENT OF
  // can name the row it stands on.
  struct CursorState {
    std::string name;
    std::string sql;  // the SELECT, possibly with FOR UPDATE / FOR READ ONLY
    bool forUpdate = false;
    std::vector<ParamValue> params;
    int32_t rowsPerFetch = 1;
    bool open = false;
    std::vector<ColumnDesc> columns;
    std::unique_ptr<CursorRows> rows;  // while open
    bool tracksRows = false;           // column 0 of the query is the rowid
    std::optional<int64_t> currentRowid;  // the row the cursor stands on
    int32_t tableId = 0;
    std::string tableDatabase;
    size_t next = 0;  // rows handed out so far
    int depth = 0;    // @@nestlevel where it was declared: a procedure's cursors go when it ends
  };
  // The cursor with `id`; throws 16916 when there is none.
  CursorState& cursorById(int32_t id);
  // The id of the cursor named `name`; throws 16916 when there is none.
  int32_t cursorIdByName(const std::string& name);
  // Starts the query of a declared cursor (OPEN in a batch and the client's cursor open).
  void openCursorRows(CursorState& c);
  // The next rows of an open cursor, at most maxRows; throws 559 when it is not open.
  std::vector<std::vector<Value>> fetchRows(CursorState& c, int32_t maxRows);
  // Moves the rows that open cursors' queries have not produced yet to the spill file: called
  // before the session writes, begins, saves or rolls back a transaction, so that no cursor holds
  // a read snapshot across a change (and each cursor keeps the rows it began to read).
  // `cancellable`: the client's attention may stop it (the rows moved so far stay moved).
  void spillCursors(bool cancellable = true);
  // True while some cursor's query still steps (the connection then reads its snapshot).
  bool cursorStreaming() const;
  // Closes and deallocates the cursors declared deeper than @@nestlevel `depth` (by the
  // procedures and triggers that have ended).
  void dropCursorsAbove(int depth);
  // The SQL condition `alias.rowid = n` for the row cursor `name` stands on, checked against `t`.
  std::string currentOfCondition(const std::string& name, const TableInfo& t, const std::string& alias);
  void runDeclareCursor(const tsql::DeclareCursorStatement& s);
  void runFetch(const tsql::FetchCursorStatement& s);

  // Runs a batch with `preset` variables already declared (the @P1 ... of a parameterised command).
  // `parsed`, when given, is `sql` already parsed and checked.
  // A kept parse of this language batch text, or null; keepBatch stores one (short texts only)
  // and returns it shared.
  std::shared_ptr<const std::vector<tsql::StatementPtr>> keptBatch(std::string_view sql);
  std::shared_ptr<const std::vector<tsql::StatementPtr>> keepBatch(std::string_view sql,
                                                                   std::vector<tsql::StatementPtr> statements);
  void runBatch(std::string_view sql, ResultSink& sink, std::map<std::string, Variable> preset,
                const std::vector<tsql::StatementPtr>* parsed = nullptr);

  // One argument of a procedure call: by position (empty name) or @name, its value and type,
  // and whether the caller wants the value back.
  struct CallArg {
    std::string name;
    Value value;
    TypeDesc type;
    bool output = false;
  };
  // What a procedure call leaves: its return status, and per declared parameter its name, type,
  // final value and whether it is an OUTPUT parameter.
  struct CallResult {
    int32_t status = 0;
    std::vector<ProcedureParameter> params;
    std::vector<Value> values;
    std::vector<int> paramOfArg;  // per argument: the index of the parameter it was given for
    bool tranCountChanged = false;  // the procedure ended with another @@trancount (266 was sent)
  };
  // The procedure `name` leads to from the current database and user (kept from an earlier call
  // while the catalogue is unchanged), or null when the catalogue holds none of that name.
  std::shared_ptr<KeptProcedure> keptProcedure(const tsql::ObjectName& name);
  // Runs procedure `name` with `args`; the body's statements end with DONEINPROC. Throws SqlError
  // 2812 for an unknown procedure, 201 for a missing parameter.
  CallResult callProcedure(const tsql::ObjectName& name, const std::vector<CallArg>& args);
  // Runs a built-in system procedure (sp_password, sp_addtype, sp_addgroup, sp_adduser, sp_who,
  // sp_helptext) into `result`; false when `name` is none of them (exec_sysprocs.cpp).
  bool runSystemProcedure(const std::string& name, const std::vector<CallArg>& args, CallResult& result);
  // The reporting procedures (exec_sysprocs_help.cpp); each throws SqlError for the caller to
  // report as a system procedure does.
  void spHelp(const std::optional<std::string>& objname);
  void spHelpIndex(const std::string& objname);
  void spHelpConstraint(const std::string& objname);
  void spHelpProtect(const std::optional<std::string>& name, const std::optional<std::string>& username);
  void spSpaceUsed(const std::optional<std::string>& objname, bool listIndexes);
  void spHelpDb(const std::optional<std::string>& dbname);
  void spRename(const std::string& objname, const std::string& newname);
  // A table of the current database named as a procedure argument; 17460 for another database,
  // 17461 when there is no such table.
  std::optional<TableInfo> tableOfCurrentDatabase(const std::string& objname);
  // What every table of `database` (the system tables included) takes.
  SpaceUsed databaseSpace(const std::string& database);
  void runCreateProcedure(const tsql::CreateProcedureStatement& s);
  void runDropProcedure(const tsql::DropStatement& s);
  void runExecute(const tsql::ExecuteStatement& s);
  // Runs EXEC keeping its result sets instead of sending them; messages still go out.
  std::vector<CollectedSet> collectExecute(const tsql::ExecuteStatement& s);

  // Statements (exec_select.cpp, exec_dml.cpp, exec_ddl.cpp, exec_control.cpp, transactions.cpp).
  void runSelect(const tsql::SelectStatement& s);
  // Runs a bound select: its rows, or the assignment of its last row's values.
  void runBoundSelect(const BoundQuery& q, const std::vector<Value>& params);
  // Whether this batch may run from a kept shape or be kept as one (see statement_shapes.h).
  bool shapesUsable(const std::map<std::string, Variable>& preset) const;
  // Whether a kept shape was made for the session as it is now.
  bool shapeHolds(const KeptShape& shape) const;
 public:
  // How many batches ran from a kept shape so far (tests read it).
  uint64_t shapesRun() const { return shapesRun_; }

 private:
  void runSelectInto(const tsql::SelectStatement& s);
  // SELECT ... COMPUTE agg(col) [BY a, b]: rows with their compute rows after each group
  // (exec_compute.cpp).
  void runSelectWithCompute(const tsql::SelectStatement& s);
  void runInsert(const tsql::InsertStatement& s);
  // The kept plan of an INSERT ... VALUES whose values are all literals, variables or `?`
  // markers, made afresh when the catalogue moved; null for any other insert.
  std::shared_ptr<InsertPlan> insertPlan(const tsql::InsertStatement& s);
  // Runs `s` by its plan; false (before anything ran) when a value needs the full path.
  bool runPlannedInsert(const std::shared_ptr<InsertPlan>& plan, const tsql::InsertStatement& s);
  // Fills in identity, defaults and NOT NULL checks for one row of `sourceTypes` values going to
  // `targets` of `t`, tests its rules and inserts it with `ins`; notes the identity value.
  void insertRow(const TableInfo& t, const std::vector<int>& targets, const std::vector<TypeDesc>& sourceTypes,
                 int identityCol, const std::vector<RowRule>& rules, SqlStatement& ins,
                 const std::vector<Value>& r, Value& lastIdentity, IdentityCounter& identities);
  // Resolves what an UPDATE or DELETE (`statement`) of `table` with `from` changes into `out`.
  void resolveChangeTarget(Binder& binder, const tsql::ObjectName& table, const std::vector<tsql::TableRefPtr>& from,
                           const char* statement, ChangeTarget& out);
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
  // The message RAISERROR sends (numbers below 20000 are refused with 2732).
  ServerMessage raiserrorMessage(const tsql::RaiserrorStatement& s);
  void runWaitfor(const tsql::WaitforStatement& s);
  // READTEXT and WRITETEXT (exec_text.cpp): the table, text or image column and row a pointer
  // names, checked against the statement's table and column (7113, 7123).
  struct TextTarget {
    TableInfo table;
    const CatalogColumn* column = nullptr;
    int64_t rowid = 0;
    Value pointer;
  };
  TextTarget resolveTextTarget(const tsql::ObjectName& table, const std::string& column, const tsql::Expr& pointer,
                               const char* verb);
  void runReadText(const tsql::ReadTextStatement& s);
  void runWriteText(const tsql::WriteTextStatement& s);
  void runTransaction(const tsql::TransactionStatement& s);
  // KILL spid (transactions.cpp): sa ends another session; it rolls back and goes.
  void runKill(const tsql::KillStatement& s);
  void runMaintenance(const tsql::MaintenanceStatement& s);
  // GRANT / REVOKE on an object (exec_grant.cpp).
  void runGrant(const tsql::GrantStatement& s);
  void runStatementGrant(const tsql::GrantStatement& s);
  // CREATE RULE / DEFAULT and DROP RULE / DEFAULT / TRIGGER (exec_rules_defaults.cpp).
  void runCreateRule(const tsql::CreateRuleStatement& s);
  void runCreateDefault(const tsql::CreateDefaultStatement& s);
  void runDropTextObject(const tsql::DropStatement& s);
  // Stores a rule, default or trigger object with the statement's text.
  void createTextObjectFor(const tsql::Statement& s, const tsql::ObjectName& name, const std::string& type,
                           TextObjectSpec details);
  // CREATE TRIGGER (exec_triggers.cpp).
  void runCreateTrigger(const tsql::CreateTriggerStatement& s);
  friend class TriggerFiring;
  // CREATE DATABASE a / DROP DATABASE a, b (exec_database.cpp): sa creates; sa or the owner drops.
  void runDatabaseCommand(bool create, const std::vector<std::string>& names);
  // BindContext: `inserted` / `deleted` while a trigger body runs.
  std::optional<TableInfo> pseudoTable(const std::string& name) override;
  // BindContext: update(col) while a trigger body runs.
  std::optional<bool> columnUpdated(const std::string& column) override;
  // Assigns a value (of type `from`) to a declared variable, converting it to the variable's type.
  void assignVariable(const std::string& name, const Value& v, const TypeDesc& from);
  // A value's text for PRINT and RAISERROR arguments.
  std::string printText(const Value& v, const TypeDesc& type);
  // Row integrity (exec_constraints.cpp). Keeps the CHECK constraints of a new table (`columns[k]`
  // names the column a column constraint belongs to, empty for a table constraint).
  // Columns of user types of table `tableId` without a default of their own take their type's.
  void inheritTypeDefaults(const std::string& database, int32_t tableId);
  // sp_bindefault / sp_unbindefault (defaultId 0) of a user type: the type's default and, unless
  // futureonly, the table columns of that type that have no default or had the type's.
  void bindTypeDefault(int32_t defaultId, int32_t usertype, bool futureonly);
  void createCheckConstraints(const TableInfo& t, const std::vector<const tsql::Constraint*>& checks,
                              const std::vector<std::string>& columns);
  // ALTER TABLE t DROP CONSTRAINT name of a CHECK constraint (3701 when there is none).
  void dropConstraint(const TableInfo& t, const std::string& name);
  // Removes a table's CHECK constraint objects (DROP TABLE).
  void dropCheckConstraints(const TableInfo& t);
  // Keeps the FOREIGN KEY constraints of table `t` (`columns[k]` names the column a column
  // constraint belongs to): an 'RI' object and a sysreferences row each, after checking the
  // referenced table and key. With `existingRows`, the rows already in `t` must satisfy them.
  void createForeignKeys(const TableInfo& t, const std::vector<const tsql::Constraint*>& keys,
                         const std::vector<std::string>& columns, bool existingRows);
  // DROP TABLE: refused (3712) while another table's foreign key references `t`; else removes the
  // foreign keys `t` declares.
  void dropForeignKeys(const TableInfo& t);
  // After a foreign key of `database` was dropped: table `table` loses status bit `bit` (it
  // declares a key, or is referenced by one) unless a sysreferences row still says so through
  // `column` (tableid or reftabid).
  void unmarkUnlessReferenced(const std::string& database, const char* column, int32_t table, int64_t bit);
  // The foreign keys of `t` in both directions, or null when there are none (kept per stamp).
  std::shared_ptr<const TableReferences> referencesOf(const TableInfo& t);
  // Each foreign key of `r` (changed by the UPDATE's `changed` columns, all with none) must find
  // the parent row of each child row `rowids` names; throws 547.
  void checkChildRows(const TableReferences& r, const std::vector<int64_t>& rowids,
                      const std::vector<bool>* changed);
  // The keys the parent rows `pick` selects hold now, for the incoming foreign keys whose columns
  // `changed` touches (all with none).
  void captureParentKeys(const TableReferences& r, const std::string& pick, const std::vector<Value>& params,
                         const std::vector<bool>* changed, ParentKeys& out);
  // After the statement: no child row may name a captured key no parent row has; throws 547.
  void checkParentKeys(const ParentKeys& keys);
  // The rules and CHECK constraints rows of `t` must pass.
  std::vector<RowRule> rowRules(const TableInfo& t);
  // Tests a full row (storage values in column order); `changed` limits the rules tested to the
  // columns an UPDATE sets (CHECK constraints are always tested). Throws 552 or 548.
  void verifyRow(const TableInfo& t, const std::vector<RowRule>& rules, const std::vector<Value>& row,
                 const std::vector<bool>* changed);
  // The column default of a table column evaluated now (getdate() ...), or NULL when none.
  std::pair<Value, TypeDesc> columnDefault(const CatalogColumn& c);
  // Where a #table of this session is stored and whether it is one of ours.
  void rememberTempTable(const std::string& storedName) {
    tempTables_.insert(storedName);
    tempTableDepth_[storedName] = procDepth_;
  }
  // The stored name a new #table `name` gets: the session's name for it, or, inside a procedure
  // while a caller's #table holds that name, one of the procedure's nesting level.
  std::string newTempTableName(const std::string& name) const;
  // Forgets a #table of the session that was dropped.
  void forgetTempTable(const std::string& storedName) {
    tempTables_.erase(storedName);
    tempTableDepth_.erase(storedName);
  }
  // createTable for a #table: a taken name is refused under the name the user wrote.
  TableInfo createTempTable(const TableSpec& details, const std::string& name);
  // Drops the session's #tables that are not in `before` (those a procedure created).
  void dropTempTablesCreatedSince(const std::set<std::string>& before);

  // Transactions (transactions.cpp).
  void beginTransaction(const std::string& name);
  void commitTransaction();
  void rollbackTransaction(const std::string& name);
  void saveTransaction(const std::string& name);
  void rollbackAll();

  // Grouped autocommits (session.cpp). In a batch of several statements sent by a client whose
  // replies the writer holds back (ResultSink::defersOutput), consecutive single-row INSERT
  // statements outside a transaction, on one database and on tables without an insert trigger,
  // share one storage transaction: each runs in a savepoint of its own (a failure
  // undoes that statement only) and the group commits before any of the reply's bytes leave for
  // the client, before any other kind of statement, when another session waits for the lock,
  // and at the end of the batch. So no statement is reported done before it is committed, and
  // a commit per statement (a WAL write and its locks) becomes one per group.
  bool canGroup() const;
  // Frees the statements of the last long batch (kept until its reply has gone out).
  void afterReply() override { retiredBatch_.reset(); }
  std::shared_ptr<const std::vector<tsql::StatementPtr>> retiredBatch_;
  // Commits the open group; a group that was lost (its commit failed, or storage undid it
  // after an I/O error) takes its statements' results back out of the reply and is reported
  // by reportLostGroup().
  void commitGroup();
  void loseGroup(const std::string& why);
  // Sends the error of a lost group (once); true when there was one.
  bool reportLostGroup();
  struct GroupCommit : ResultSink::HeldWork {
    SessionImpl& session;
    explicit GroupCommit(SessionImpl& s) : session(s) {}
    bool commitBeforeSend() override;
  };
  GroupCommit groupCommit_{*this};
  bool groupingAllowed_ = false;  // the batch being run may group its autocommits
  // Both read by a kill from another thread: groupInFlight_ turns true only under
  // interruptMutex_, and groupOpen_ only while groupInFlight_ is.
  std::atomic<bool> groupOpen_{false};      // a group's transaction is open
  std::atomic<bool> groupInFlight_{false};  // a statement of the group (or its first) is half way
  std::string groupDatabase_;
  std::optional<std::string> groupLost_;  // why the last group was lost, until reported

  // The per-session limits (session_limits.cpp): throws when the session already holds `held`
  // of what configuration parameter `parameter` limits (kSessionPreparedStatements,
  // kSessionOpenCursors).
  void requireSessionRoom(const char* parameter, size_t held);

  // Locks (session.cpp). The database whose write lock a change of `name` takes: its own, none for
  // a #name (the session's own table, on its connection), else the current one.
  std::string databaseOf(const tsql::ObjectName& name) const;
  // Takes the write lock of `database` for the open transaction before a statement changes it
  // (nothing outside a transaction or for a database that does not exist); see database_files.h.
  void lockDatabase(const std::string& database);
  // One step of waiting for `database`'s write lock held by another session: false once the wait
  // is over (the lock wait passed, the client cancelled, the session was killed, or the wait would
  // close a cycle of waits).
  bool waitForLock(const std::string& database, bool first);
  // 1205, for the deadlock victim and for a transaction whose snapshot is too old to change a
  // database another session has changed since it read it.
  SqlError deadlockError() const;
  // 12205 naming the session that holds `database`'s lock (or 1205 after a deadlock); throws
  // Cancelled when the wait ended for a cancel or a kill.
  SqlError lockWaitError(const std::string& database);

  int onBusy(int count);
  int onProgress();

  sqlite3* db_;
  int spid_;
  SessionIdentity id_;
  // What the login may do; removed before the connection closes.
  std::unique_ptr<Permissions> permissions_;
  std::unique_ptr<CatalogCache> catalogCache_;
  // The SQLite statements kept prepared between uses (SqlStatement takes and gives them back).
  StatementCache statements_;
  // Language batches of one SELECT by shape, and the select the running batch takes from one
  // (runSelect binds nothing then).
  ShapeCache shapes_;
  struct PreBound {
    const BoundQuery* query = nullptr;
    const std::vector<Value>* params = nullptr;
  };
  std::optional<PreBound> preBound_;
  // While a batch's one SELECT is bound for the first time: what its binding made, for keeping.
  struct ShapeRecording {
    LiteralUses uses;
    std::optional<BoundSelect> bound;
  };
  ShapeRecording* shapeRecording_ = nullptr;
  uint64_t shapesRun_ = 0;
  // The statements that take a database's write lock, by text (storage::LockHooks).
  std::unordered_map<std::string, sqlite3_stmt*> lockStatements_;
  // The database whose write lock lockDatabase took last, and its schema on the connection.
  std::string lockedDatabase_, lockedSchema_;
  bool waitedForLock_ = false;  // waitForLock ran since lockDatabase began
  // DDL on an existing object is its owner's (Permissions::requireOwner); #tables are the session's.
  void requireOwnerOf(const std::string& command, const TableInfo& t);
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
  int errorCount_ = 0;                   // errors raised so far (a procedure's status -6)
  Value identity_;                       // @@identity
  std::map<std::string, Variable> variables_;
  std::set<std::string> tempTables_;  // stored names of our #tables in tempdb
  std::map<std::string, int> tempTableDepth_;  // the nesting level each of them was made at
  std::set<int32_t> identityInsert_;  // object ids with set identity_insert on
  std::string gotoLabel_;
  std::chrono::steady_clock::time_point busySince_;
  static constexpr int kDefaultLockWaitMs = 30000;
  std::chrono::milliseconds lockTimeout_{kDefaultLockWaitMs};
  bool deadlock_ = false;            // the last lock wait stopped on a cycle of waits
  std::atomic<bool> killed_{false};  // sa killed the session: stop and end
  std::mutex terminateMutex_;
  std::mutex interruptMutex_;  // a kill's interrupt against a statement joining a group
  std::function<void()> terminate_;  // ends the session's connection (set by the protocol layer)
  // A prepared statement: its text and what prepare described; its parsed batch when the text
  // can run from it.
  struct Prepared {
    std::string sql;
    PreparedDescription description;
    std::vector<bool> untyped;  // per marker: met in no context that gave it a type
    std::shared_ptr<PreparedBatch> batch;
  };
  std::map<std::string, Prepared> prepared_;
  // The last few language batches parsed, by text and quoted_identifier setting: a client that
  // sends the same text again runs the kept statements (they hold positions, not copies, of the
  // text, and running them changes nothing in them). Shared, so that a batch run from inside
  // another cannot free the statements the outer one is running.
  struct ParsedBatch {
    std::string text;
    bool quotedIdentifiers = false;
    std::shared_ptr<const std::vector<tsql::StatementPtr>> statements;
  };
  std::vector<ParsedBatch> parsedBatches_;  // least recently used first
  // The insert plans, by table name and column list as written.
  std::unordered_map<std::string, std::shared_ptr<InsertPlan>> insertPlans_;
  // The foreign keys of the tables the session changed, by database and table id.
  std::unordered_map<std::string, std::shared_ptr<const TableReferences>> references_;
  // The procedures called, by name as written.
  std::unordered_map<std::string, std::shared_ptr<KeptProcedure>> procedures_;
  // A statement of the open transaction changed the catalogue: its COMMIT or ROLLBACK moves the
  // catalogue count again (other sessions see the change only then).
  bool catalogChangedInTran_ = false;
  static std::atomic<uint64_t> catalogChanges_;
  bool describing_ = false;                          // SQL is bound but never run
  std::map<int, TypeDesc> describedTypes_;           // marker types found while describing
  std::vector<std::pair<Value, TypeDesc>> markers_;  // marker values of the running statement
  bool markersSet_ = false;
  std::unique_ptr<SpillFile> spill_;  // opened when a cursor first spills; outlives the cursors
  std::map<int32_t, CursorState> cursors_;
  int32_t nextCursorId_ = 1;
  int32_t sqlStatus_ = 0;                          // @@sqlstatus: 0 a row was fetched, 2 no more rows
  int procDepth_ = 0;                              // @@nestlevel: procedures being run
  int32_t procId_ = 0;                             // @@procid of the innermost one
  std::string procName_;                           // its name, for messages raised inside it
  std::optional<int32_t> returnValue_;             // RETURN n of the innermost procedure
  bool unwinding_ = false;                         // rolling back: cancels are not honoured until it is done
  // While a cursor steps its query: the progress handler interrupts a step only after this time.
  std::optional<std::chrono::steady_clock::time_point> interruptAfter_;
  bool liveTables_ = false;                        // the running SQL reads sysprocesses or syslocks
  std::map<std::string, TableInfo> pseudoTables_;  // `inserted`/`deleted` of the running trigger
  // Per column of the running trigger's table: whether the firing statement set it (update()).
  std::optional<std::map<std::string, bool>> triggerColumns_;
  // @@transtate: 0 a transaction is open and its last change succeeded, 1 the last transaction
  // committed, 2 the last statement inside the open transaction failed (the transaction goes
  // on), 3 the last transaction was rolled back.
  int tranState_ = 1;
  std::set<int32_t> firingTables_;                 // tables whose trigger is running (no recursion)
  bool triggerAbort_ = false;  // a trigger rolled back or failed: the rest of the batch is skipped
};

// Marks a session as rolling back for its lifetime (progress-handler cancels are ignored).
struct Unwinding {
  explicit Unwinding(SessionImpl& s) : session(s), previous(s.unwinding_) { s.unwinding_ = true; }
  ~Unwinding() { session.unwinding_ = previous; }
  SessionImpl& session;
  bool previous;
};

// Lets a cursor's query steps be interrupted by a cancel only once they have run for kGrace, for
// its lifetime; renew() starts the grace of the next step.
struct StepGrace {
  static constexpr std::chrono::milliseconds kGrace{100};
  explicit StepGrace(SessionImpl& s) : session(s), previous(s.interruptAfter_) { renew(); }
  ~StepGrace() { session.interruptAfter_ = previous; }
  void renew() { session.interruptAfter_ = std::chrono::steady_clock::now() + kGrace; }
  SessionImpl& session;
  std::optional<std::chrono::steady_clock::time_point> previous;
};

// Moves the catalogue count before and after something that may change the catalogue, whether it
// succeeds or not.
struct CatalogChange {
  explicit CatalogChange(SessionImpl& s) : session(s) { session.noteCatalogChange(); }
  ~CatalogChange() { session.noteCatalogChange(); }
  CatalogChange(const CatalogChange&) = delete;
  CatalogChange& operator=(const CatalogChange&) = delete;
  SessionImpl& session;
};

}  // namespace tabsrv
