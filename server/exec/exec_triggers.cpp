// CREATE TRIGGER tr ON t FOR INSERT, UPDATE, DELETE AS body: the trigger is kept as a sysobjects
// 'TR' object whose text syscomments holds, and the table's instrig/updtrig/deltrig name it.
// Firing: once per statement, after the rows changed and before the statement commits.
#include <algorithm>
#include <cctype>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/triggers.h"
#include "server/storage/database_files.h"

namespace tabsrv {

using namespace tsql;

void SessionImpl::runCreateTrigger(const CreateTriggerStatement& s) {
  Binder binder(*this);
  TableInfo t = binder.resolveTable(s.table);
  if (t.type != "U")
    throw SqlError(2108, 16, "Cannot create a trigger on '" + t.name + "': it is not a user table.");
  requireOwnerOf("CREATE TRIGGER", t);
  TextObjectSpec details;
  details.tableId = t.id;
  details.onInsert = s.onInsert;
  details.onUpdate = s.onUpdate;
  details.onDelete = s.onDelete;
  ObjectName name = s.name;
  // A trigger lives in its table's database.
  if (name.database.empty()) name.database = t.database;
  createTextObjectFor(s, name, "TR", details);
}

namespace {

// Tells the temp tables of nested firings apart.
int nextCaptureNumber() {
  static thread_local int counter = 0;
  return ++counter;
}

}  // namespace

std::optional<bool> SessionImpl::columnUpdated(const std::string& column) {
  if (!triggerColumns_) return std::nullopt;
  auto it = triggerColumns_->find(column);
  if (it == triggerColumns_->end()) {
    for (auto i = triggerColumns_->begin(); i != triggerColumns_->end(); ++i)
      if (std::equal(i->first.begin(), i->first.end(), column.begin(), column.end(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
          }))
        return i->second;
    throw SqlError(207, 16, "Invalid column name '" + column + "'.");
  }
  return it->second;
}

std::optional<TableInfo> SessionImpl::pseudoTable(const std::string& name) {
  auto it = pseudoTables_.find(name);
  if (it == pseudoTables_.end()) return std::nullopt;
  return it->second;
}

int32_t TriggerFiring::triggerFor(SessionImpl& session, const TableInfo& table, Event event) {
  if (table.type != "U" || table.name.empty() || table.name[0] == '#') return 0;
  const char* column = event == Event::Insert ? "instrig" : event == Event::Update ? "updtrig" : "deltrig";
  SqlStatement q(session,
                 std::string("SELECT ") + column + " FROM " +
                     sqliteObjectName(table.database, "dbo", "sysobjects") + " WHERE id = ?",
                 SqlStatement::Access::Internal);
  q.bindAll({Value(static_cast<int64_t>(table.id))});
  return q.step() ? sqlite3_column_int(q.get(), 0) : 0;
}

TriggerFiring::TriggerFiring(SessionImpl& session, const TableInfo& table, Event event,
                             std::optional<int32_t> knownTrigger)
    : session_(session), event_(event) {
  // A trigger does not fire itself again through its own table (self-recursion is off).
  if (session_.firingTables_.count(table.id)) return;
  triggerId_ = knownTrigger ? *knownTrigger : triggerFor(session, table, event);
  if (triggerId_ == 0) return;
  table_ = table;
  int n = nextCaptureNumber();
  inserted_ = Binder::quoteIdent("tabulon_inserted_" + std::to_string(n));
  deleted_ = Binder::quoteIdent("tabulon_deleted_" + std::to_string(n));
  for (const auto& target : {inserted_, deleted_})
    session_.execSql("CREATE TEMP TABLE " + target + " AS SELECT * FROM " + table.sqliteName + " WHERE 0");
  // SQLite's own row triggers copy each changed row; unqualified names in a temp trigger's body
  // resolve to the temp tables.
  auto copy = [&](const std::string& prefix) {
    std::string list;
    for (const auto& c : table.columns)
      list += (list.empty() ? "" : ", ") + prefix + Binder::quoteIdent(c.sqliteName);
    return list;
  };
  auto capture = [&](const std::string& when, const std::string& body) {
    std::string name = Binder::quoteIdent("tabulon_capture_" + std::to_string(n) + "_" + when);
    session_.execSql("CREATE TEMP TRIGGER " + name + " AFTER " + when + " ON " +
                     storage::schemaPrefix(session_.db_, table.database) + table.sqliteName + " BEGIN " +
                     body + " END");
    captureTriggers_.push_back(name);
  };
  if (event == Event::Insert) capture("INSERT", "INSERT INTO " + inserted_ + " SELECT " + copy("NEW.") + ";");
  if (event == Event::Delete) capture("DELETE", "INSERT INTO " + deleted_ + " SELECT " + copy("OLD.") + ";");
  if (event == Event::Update)
    capture("UPDATE", "INSERT INTO " + deleted_ + " SELECT " + copy("OLD.") + "; INSERT INTO " + inserted_ +
                          " SELECT " + copy("NEW.") + ";");
}

void TriggerFiring::stopCapture() {
  for (const auto& name : captureTriggers_)
    sqlite3_exec(session_.db_, ("DROP TRIGGER IF EXISTS temp." + name).c_str(), nullptr, nullptr, nullptr);
  captureTriggers_.clear();
}

void TriggerFiring::cleanUp() {
  if (triggerId_ == 0) return;
  stopCapture();
  for (const auto& target : {inserted_, deleted_})
    sqlite3_exec(session_.db_, ("DROP TABLE IF EXISTS temp." + target).c_str(), nullptr, nullptr, nullptr);
  triggerId_ = 0;
}

TriggerFiring::~TriggerFiring() {
  cleanUp();
}

bool TriggerFiring::fire(int32_t rows) {
  if (triggerId_ == 0) return false;
  stopCapture();
  SessionImpl& s = session_;
  auto text = objectText(s.db_, table_->database, triggerId_);
  if (!text) return false;
  std::string name;
  {
    SqlStatement q(
        s, "SELECT name FROM " + sqliteObjectName(table_->database, "dbo", "sysobjects") + " WHERE id = ?",
        SqlStatement::Access::Internal);
    q.bindAll({Value(static_cast<int64_t>(triggerId_))});
    if (q.step()) name = reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 0));
  }
  auto statements = parseBatch(*text, SessionImpl::parseOptions());
  if (statements.empty() || !statements[0]->is<CreateTriggerStatement>()) return false;
  const auto& body = statements[0]->as<CreateTriggerStatement>().body;

  auto pseudo = [&](const std::string& pseudoName, const std::string& sqliteName) {
    TableInfo p = *table_;
    p.name = pseudoName;
    p.id = -1;
    p.sqliteName = sqliteName;
    p.indexes.clear();
    return p;
  };
  // The body runs like a procedure of its own: its variables, @@nestlevel, messages naming it.
  struct Frame {
    SessionImpl& s;
    std::map<std::string, Variable> variables;
    std::map<std::string, TableInfo> pseudo;
    std::optional<std::map<std::string, bool>> columns;
    int depth;
    int32_t procId;
    std::string procName, label;
    std::optional<int32_t> returnValue;
    std::string_view batch;
    std::string database, user;
    int32_t table;
    explicit Frame(SessionImpl& session, int32_t tableId)
        : s(session),
          variables(std::move(session.variables_)),
          pseudo(std::move(session.pseudoTables_)),
          columns(std::move(session.triggerColumns_)),
          depth(session.procDepth_),
          procId(session.procId_),
          procName(session.procName_),
          label(session.gotoLabel_),
          returnValue(session.returnValue_),
          batch(session.batch_),
          database(session.database_),
          user(session.user_),
          table(tableId) {
      s.firingTables_.insert(table);
    }
    ~Frame() {
      s.variables_ = std::move(variables);
      s.pseudoTables_ = std::move(pseudo);
      s.triggerColumns_ = std::move(columns);
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
      s.firingTables_.erase(table);
    }
  } frame(s, table_->id);
  if (table_->database != s.database_) {
    // A trigger's names are those of its table's database, whichever database the statement
    // that fired it was run from.
    DbUser u = s.permissions_->requireUser(table_->database);
    s.database_ = table_->database;
    s.user_ = u.name;
    s.info_.database = s.database_;
    s.info_.user = s.user_;
  }
  // The body works with the rights of the table's owner over the owner's objects.
  Permissions::Chain chain(*s.permissions_, table_->database, table_->owner);
  s.variables_.clear();
  s.gotoLabel_.clear();
  s.returnValue_.reset();
  s.pseudoTables_ = {{"inserted", pseudo("inserted", inserted_)}, {"deleted", pseudo("deleted", deleted_)}};
  s.triggerColumns_.emplace();
  for (size_t i = 0; i < table_->columns.size(); ++i) {
    bool set = i < columnsSet_.size() ? columnsSet_[i] : event_ == Event::Insert;
    (*s.triggerColumns_)[table_->columns[i].desc.name] = set;
  }
  ++s.procDepth_;
  s.procId_ = triggerId_;
  s.procName_ = name;
  s.batch_ = *text;
  s.rowCount_ = rows;

  // Inside a trigger @@trancount is at least 1: the statement's own transaction counts, so a
  // `rollback transaction` in the body undoes the statement (and any transaction around it).
  bool counted = s.tranCount_ == 0;
  if (counted) s.tranCount_ = 1;
  Flow flow = Flow::Next;
  try {
    flow = s.runList(body);
  } catch (...) {
    s.dropCursorsAbove(s.procDepth_ - 1);
    if (counted && s.tranCount_ > 0) s.tranCount_ = 0;
    throw;
  }
  s.dropCursorsAbove(s.procDepth_ - 1);
  bool rolledBack = sqlite3_get_autocommit(s.db_) != 0;
  if (flow == Flow::Abort && !rolledBack) {
    // An error that stops the body leaves nothing of the statement behind.
    s.rollbackAll();
    rolledBack = true;
  }
  if (counted && s.tranCount_ > 0) s.tranCount_ = 0;
  if (rolledBack) s.triggerAbort_ = true;
  // The pseudo-tables go inside the statement's transaction, before it commits.
  cleanUp();
  return rolledBack;
}

}  // namespace tabsrv
