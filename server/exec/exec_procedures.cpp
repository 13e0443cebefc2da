// Stored procedures: CREATE/DROP PROCEDURE, EXEC from a batch (positional, @name = value and
// OUTPUT arguments, return status into a variable, exec('dynamic sql')), procedure calls by RPC
// and language commands whose @P1 ... parameters arrive with the command.
#include <algorithm>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/sysproc_support.h"
#include "server/exec/type_rules.h"
#include "server/storage/database_files.h"
#include "server/tsql/parser.h"
#include "server/types/convert.h"
#include "server/types/sqlite_error.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

// The family's nesting limit for procedures calling procedures.
constexpr int kMaxNesting = 16;
// The status a procedure returns when a statement of it failed and it set none itself
// ("miscellaneous user error").
constexpr int32_t kStatusUserError = -6;

SqlError procedureNotFound(const std::string& name) {
  return SqlError(
      2812, 16,
      "Stored procedure '" + name +
          "' not found. Specify owner.objectname or use sp_help to check whether the object exists "
          "(sp_help may produce lots of output).");
}

}  // namespace

ObjectName splitDottedName(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  ObjectName n;
  n.name = parts.back();
  if (parts.size() >= 2) n.owner = parts[parts.size() - 2];
  if (parts.size() >= 3) n.database = parts[parts.size() - 3];
  return n;
}

void SessionImpl::runCreateProcedure(const CreateProcedureStatement& s) {
  ProcedureSpec details;
  details.database = s.name.database.empty() ? database_ : s.name.database;
  details.owner = s.name.owner.empty() ? user_ : s.name.owner;
  details.name = s.name.name;
  if (!s.name.database.empty() && s.name.database != database_)
    throw SqlError(2786, 16, "Procedures can only be created in the current database ('" + database_ + "').");
  std::set<std::string> seen;
  for (const ProcParam& p : s.params) {
    if (!seen.insert(p.name).second)
      throw SqlError(
          2735, 16,
          "The parameter name '" + p.name + "' is used more than once in the procedure's parameter list.");
    details.params.push_back({p.name, resolveTypeName(*this, p.type), p.output});
  }
  details.text = std::string(s.sourceText(batch_));
  permissions_->requireCreate(details.database, kActionCreateProcedure, "CREATE PROCEDURE");
  permissions_->requireOwner("CREATE PROCEDURE", details.database, details.owner, details.name);
  StatementTransaction tx(*this, details.database);
  createProcedure(db_, details);
  tx.commit();
  done(false, -1);
}

void SessionImpl::runDropProcedure(const DropStatement& s) {
  StatementTransaction tx(*this, databaseOf(s.names.front()));
  for (const auto& name : s.names) {
    auto proc = resolveProcedure(db_, ObjectRef{name.database, name.owner, name.name}, database_, user_);
    if (!proc)
      throw SqlError(3701, 11,
                     "Cannot drop the procedure '" + name.toSql() +
                         "', because it doesn't exist in the system catalogs.");
    permissions_->requireOwner("DROP PROCEDURE", proc->database, proc->owner, proc->name);
    lockDatabase(proc->database);
    dropProcedure(db_, *proc);
  }
  tx.commit();
  done(false, -1);
}

std::shared_ptr<KeptProcedure> SessionImpl::keptProcedure(const ObjectName& name) {
  std::string key = name.database + '\x1f' + name.owner + '\x1f' + name.name;
  // The count is read before the catalogue: a change made while the procedure is read moves it.
  const uint64_t stamp = catalogStamp();
  if (auto it = procedures_.find(key); it != procedures_.end()) {
    const KeptProcedure& k = *it->second;
    if (k.stamp == stamp && k.database == database_ && k.user == user_) return it->second;
    procedures_.erase(it);
  }
  ObjectRef ref{name.database, name.owner, name.name};
  auto proc = resolveProcedure(db_, ref, database_, user_);
  // sp_ procedures not found in the current database come from sybsystemprocs, then master.
  if (!proc && name.database.empty() && name.name.rfind("sp_", 0) == 0) {
    for (const char* db : {"sybsystemprocs", "master"}) {
      ref.database = db;
      proc = resolveProcedure(db_, ref, database_, user_);
      if (proc) break;
    }
  }
  if (!proc) return nullptr;
  auto k = std::make_shared<KeptProcedure>();
  k->stamp = stamp;
  k->database = database_;
  k->user = user_;
  // The system procedures of sybsystemprocs and master are everyone's; others need EXECUTE.
  k->systemProcedure = proc->name.rfind("sp_", 0) == 0 &&
                       (proc->database == "sybsystemprocs" || proc->database == "master") && proc->owner == "dbo";
  k->builtin = k->systemProcedure && findBuiltinProcedure(proc->name);
  k->namesLiveTables = namesLiveTables(proc->text);
  k->proc = std::move(*proc);
  constexpr size_t kKeptProcedures = 64;
  if (procedures_.size() >= kKeptProcedures) procedures_.clear();
  procedures_.emplace(std::move(key), k);
  return k;
}

SessionImpl::CallResult SessionImpl::callProcedure(const ObjectName& name, const std::vector<CallArg>& args) {
  if (procDepth_ >= kMaxNesting)
    throw SqlError(217, 16, "Maximum stored procedure nesting level exceeded (limit 16).");
  // Held for the whole call: a body that drops or changes its own procedure still runs the text
  // it began with.
  std::shared_ptr<KeptProcedure> kept = keptProcedure(name);
  if (!kept) {
    // The system procedures the catalogue does not hold are built in (they may change it).
    CallResult builtin;
    CatalogChange change(*this);
    if (name.database.empty() && runSystemProcedure(name.name, args, builtin)) return builtin;
    throw procedureNotFound(name.toSql());
  }
  const ProcedureInfo* proc = &kept->proc;
  if (!kept->systemProcedure) {
    // The decision holds while the caller's ownership chain is as it was (and the catalogue is,
    // as the kept procedure itself holds only that long).
    Permissions::Context context = permissions_->context();
    if (!kept->executeAllowed || !(*kept->executeAllowed == context)) {
      permissions_->requireExecute(proc->database, proc->id, proc->owner, proc->name);
      kept->executeAllowed = std::move(context);
    }
  }
  if (kept->builtin) {
    // Its catalogue entry names it; the server answers it itself.
    CallResult builtin;
    CatalogChange change(*this);
    runSystemProcedure(proc->name, args, builtin);
    return builtin;
  }
  if (kept->namesLiveTables) liveTables_ = true;
  if (!kept->statements) {
    auto stored = std::make_shared<std::vector<StatementPtr>>(parseBatch(proc->text, parseOptions()));
    if (stored->empty() || !(*stored)[0]->is<CreateProcedureStatement>())
      throw SqlError(7900, 16, "The stored text of procedure '" + proc->name + "' is damaged.");
    kept->statements = std::move(stored);
  }
  const auto& def = (*kept->statements)[0]->as<CreateProcedureStatement>();

  CallResult result;
  std::vector<const CallArg*> argFor(def.params.size(), nullptr);
  size_t position = 0;
  bool named = false;
  for (const CallArg& a : args) {
    int index = -1;
    if (a.name.empty()) {
      if (named)
        throw SqlError(
            119, 15,
            "Must pass parameter number " + std::to_string(position + 1) +
                " and subsequent parameters as '@name = value'. After the form '@name = value' has "
                "been used, all subsequent parameters must be passed in the form '@name = value'.");
      if (position >= def.params.size())
        throw SqlError(8144, 16, "Procedure " + proc->name + " has too many arguments specified.");
      index = static_cast<int>(position++);
    } else {
      named = true;
      for (size_t i = 0; i < def.params.size(); ++i)
        if (def.params[i].name == a.name) index = static_cast<int>(i);
      if (index < 0)
        throw SqlError(8145, 16, a.name + " is not a parameter for procedure " + proc->name + ".");
    }
    argFor[index] = &a;
    result.paramOfArg.push_back(index);
  }

  // The procedure runs with its own variables, in its own database, and puts everything back
  // however it ends.
  struct Frame {
    SessionImpl& s;
    std::map<std::string, Variable> variables;
    int depth;
    int32_t procId;
    std::string procName, label, database, user;
    std::optional<int32_t> returnValue;
    std::string_view batch;
    explicit Frame(SessionImpl& session)
        : s(session),
          variables(std::move(session.variables_)),
          depth(session.procDepth_),
          procId(session.procId_),
          procName(session.procName_),
          label(session.gotoLabel_),
          database(session.database_),
          user(session.user_),
          returnValue(session.returnValue_),
          batch(session.batch_) {}
    ~Frame() {
      s.variables_ = std::move(variables);
      s.procDepth_ = depth;
      s.procId_ = procId;
      s.procName_ = procName;
      s.gotoLabel_ = label;
      s.returnValue_ = returnValue;
      s.batch_ = batch;
      s.database_ = database;
      s.user_ = user;
      s.info_.database = database;
      s.info_.user = user;
    }
  } frame(*this);
  variables_.clear();
  gotoLabel_.clear();
  returnValue_.reset();
  if (proc->database != database_) {
    // The login runs a procedure of another database as its user there (or as guest).
    DbUser u = permissions_->requireUser(proc->database);
    database_ = proc->database;
    user_ = u.name;
    info_.database = database_;
    info_.user = user_;
  }
  // The body works with the rights of the procedure's owner over the owner's objects.
  if (!kept->ownerUid) {
    auto owner = findUser(db_, proc->database, proc->owner);
    kept->ownerUid = owner ? owner->uid : -1;
  }
  Permissions::Chain chain(*permissions_, proc->database, *kept->ownerUid);

  // The parameters' types, user types of the procedure's database included.
  if (!kept->paramTypes) {
    std::vector<TypeDesc> types;
    for (const ProcParam& p : def.params) types.push_back(resolveTypeName(*this, p.type));
    kept->paramTypes = std::move(types);
  }
  for (size_t i = 0; i < def.params.size(); ++i) {
    const ProcParam& p = def.params[i];
    const TypeDesc& type = (*kept->paramTypes)[i];
    variables_[p.name] = Variable{type, Value{}};
    if (const CallArg* a = argFor[i]) {
      variables_[p.name].value = padFixedChar(
          convertValue(a->value, a->type, type, ConversionKind::Implicit, options_.dateFormat, info_.implicitScaleLoss),
          type);
    } else if (p.defaultValue) {
      auto [v, t] = evaluate(*p.defaultValue);
      variables_[p.name].value =
          padFixedChar(convertValue(v, t, type, ConversionKind::Implicit, options_.dateFormat), type);
    } else {
      throw SqlError(
          201, 16,
          "Procedure '" + proc->name + "' expects parameter '" + p.name + "', which was not supplied.");
    }
    result.params.push_back({p.name, type, p.output});
  }

  ++procDepth_;
  procId_ = proc->id;
  procName_ = proc->name;
  batch_ = proc->text;
  int errorsBefore = errorCount_;
  // The #tables the body creates are its own: they go when it ends, however it ends.
  const std::set<std::string> tempTablesBefore = tempTables_;
  const int tranCountBefore = tranCount_;
  try {
    runList(def.body);
  } catch (...) {
    dropCursorsAbove(procDepth_ - 1);
    try {
      Unwinding unwinding(*this);
      spillCursors(false);
      dropTempTablesCreatedSince(tempTablesBefore);
    } catch (...) {
      // They go with the session then.
    }
    throw;
  }
  // Its cursors and #tables are the procedure's own.
  dropCursorsAbove(procDepth_ - 1);
  dropTempTablesCreatedSince(tempTablesBefore);
  if (tranCount_ != tranCountBefore) {
    // A procedure ends with the transaction count it began with, or the caller is told.
    result.tranCountChanged = true;
    error_ = 266;
    sendMessage(ServerMessage{266, 2, 16,
                              "Transaction count after EXECUTE indicates that a COMMIT or ROLLBACK TRAN is "
                              "missing. Previous count = " +
                                  std::to_string(tranCountBefore) +
                                  ", Current count = " + std::to_string(tranCount_) + ".",
                              proc->name, 1});
  }
  if (returnValue_)
    result.status = *returnValue_;
  else if (errorCount_ != errorsBefore)
    result.status = kStatusUserError;
  for (const ProcedureParameter& p : result.params) result.values.push_back(variables_[p.name].value);
  return result;
}

void SessionImpl::runExecute(const ExecuteStatement& s) {
  if (s.dynamicSql) {
    // exec ('select ...'): the text runs as a batch of its own, without the caller's variables.
    auto [v, t] = evaluate(*s.dynamicSql);
    std::string text = isNull(v) ? std::string() : valueToText(v, t);
    if (namesLiveTables(text)) liveTables_ = true;
    std::vector<StatementPtr> statements = parseBatch(text, parseOptions());
    auto saved = std::move(variables_);
    std::string_view savedBatch = batch_;
    variables_.clear();
    batch_ = text;
    try {
      runList(statements);
    } catch (...) {
      variables_ = std::move(saved);
      batch_ = savedBatch;
      throw;
    }
    variables_ = std::move(saved);
    batch_ = savedBatch;
    return;
  }
  std::vector<CallArg> args;
  for (const ExecArg& a : s.args) {
    CallArg c;
    c.name = a.name;
    c.output = a.output;
    if (a.output && a.value->kind != ExprKind::Variable)
      throw SqlError(179, 15, "Cannot use the OUTPUT option when passing a constant to a stored procedure.");
    auto [v, t] = evaluate(*a.value);
    c.value = v;
    c.type = t;
    args.push_back(std::move(c));
  }
  bool outermost = procDepth_ == 0;
  CallResult r = callProcedure(s.procedure, args);
  for (size_t i = 0; i < s.args.size(); ++i) {
    if (!s.args[i].output) continue;
    int p = r.paramOfArg[i];
    if (!r.params[p].output) continue;
    assignVariable(s.args[i].value->as<VariableExpr>().name, r.values[p], r.params[p].type);
  }
  if (!s.returnVariable.empty())
    assignVariable(s.returnVariable, Value{int64_t{r.status}}, makeType(SqlType::Int));
  error_ = r.tranCountChanged ? 266 : 0;
  if (outermost && sink_) {
    // As by RPC, the client also gets the OUTPUT values (DBD::Sybase reads them as a parameter
    // result of `exec p @x = @v output`).
    sink_->returnStatus(r.status);
    std::vector<ColumnDesc> formats;
    std::vector<Value> values;
    for (size_t i = 0; i < s.args.size(); ++i) {
      int p = r.paramOfArg[i];
      if (!s.args[i].output || !r.params[p].output) continue;
      ColumnDesc d;
      d.name = r.params[p].name;
      d.type = r.params[p].type;
      formats.push_back(d);
      values.push_back(r.values[p]);
    }
    if (!formats.empty()) sink_->outputParams(formats, values);
    sink_->done(DoneKind::DoneProc, false, -1);
  }
}

namespace {

// Keeps the rows of a procedure for INSERT ... EXECUTE; messages and cancels go to the client's
// sink, DONEs and the return status stay here.
class CollectingSink : public ResultSink {
 public:
  explicit CollectingSink(ResultSink& outer) : outer_(outer) {}
  std::vector<CollectedSet> sets;
  void rowFormat(const std::vector<ColumnDesc>& columns) override { sets.push_back({columns, {}}); }
  void row(const std::vector<Value>& values) override { sets.back().rows.push_back(values); }
  void message(const ServerMessage& msg) override { outer_.message(msg); }
  void done(DoneKind, bool, int32_t) override {}
  void returnStatus(int32_t) override {}
  void outputParams(const std::vector<ColumnDesc>&, const std::vector<Value>&) override {}
  void envChange(EnvChange type, const std::string& now, const std::string& old) override {
    outer_.envChange(type, now, old);
  }
  bool cancelled() override { return outer_.cancelled(); }

 private:
  ResultSink& outer_;
};

}  // namespace

std::vector<CollectedSet> SessionImpl::collectExecute(const ExecuteStatement& s) {
  ResultSink* outer = sink_;
  CollectingSink collect(*outer);
  sink_ = &collect;
  try {
    runExecute(s);
  } catch (...) {
    sink_ = outer;
    throw;
  }
  sink_ = outer;
  return std::move(collect.sets);
}

void SessionImpl::executeRpc(const std::string& procName, std::vector<ParamValue>& params, ResultSink& sink) {
  // What a procedure changes in the catalogue moves the count: its statements do, and so do the
  // built-in system procedures (sp_bindrule, sp_adduser ...), in callProcedure.
  sink_ = &sink;
  if (tranCount_ == 0) storage::refreshAttachments(db_);
  batch_ = {};
  variables_.clear();
  triggerAbort_ = false;
  procDepth_ = 0;
  procId_ = 0;
  procName_.clear();
  setCommand("EXECUTE");
  std::vector<CallArg> args;
  for (const ParamValue& p : params) args.push_back({p.name, p.value, p.format.type, p.output});
  try {
    CallResult r = callProcedure(splitDottedName(procName), args);
    sink.returnStatus(r.status);
    std::vector<ColumnDesc> formats;
    std::vector<Value> values;
    for (size_t i = 0; i < params.size(); ++i) {
      if (!params[i].output) continue;
      int p = r.paramOfArg[i];
      // A parameter the procedure does not declare OUTPUT goes back as the caller sent it.
      if (r.params[p].output) params[i].value = r.values[p];
      ColumnDesc d;
      d.name = r.params[p].name;
      d.type = r.params[p].output ? r.params[p].type : params[i].format.type;
      d.nullable = true;
      formats.push_back(d);
      values.push_back(params[i].value);
    }
    if (!formats.empty()) sink.outputParams(formats, values);
    sink.done(DoneKind::DoneProc, false, -1);
  } catch (const SqlError& e) {
    if (e.number() != kCancelledErrorNumber) {
      error_ = e.number();
      ++errorCount_;
      sendMessage(e.toMessage());
      sink.done(DoneKind::DoneProc, true, -1);
    }
  } catch (const Cancelled&) {
    // The protocol layer answers the attention.
  } catch (const std::exception& e) {
    // A fault below the executor fails this call, not the session.
    error_ = 7900;
    ++errorCount_;
    sendMessage(ServerMessage{7900, 1, 16, std::string("Internal error: ") + e.what(), {}, 1});
    sink.done(DoneKind::DoneProc, true, -1);
  }
  setCommand("AWAITING COMMAND");
  sink_ = nullptr;
}

void SessionImpl::executeLanguageWithParams(std::string_view sql, const std::vector<ParamValue>& params,
                                            ResultSink& sink) {
  std::map<std::string, Variable> preset;
  for (size_t i = 0; i < params.size(); ++i) {
    std::string name = params[i].name.empty() ? "@P" + std::to_string(i + 1) : params[i].name;
    if (name[0] != '@') name = "@" + name;
    preset[name] = Variable{params[i].format.type, params[i].value};
  }
  runBatch(sql, sink, std::move(preset));
}

}  // namespace tabsrv
