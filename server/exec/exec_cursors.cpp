// Cursors, declared by the client's cursor commands or by DECLARE CURSOR in a batch: OPEN runs
// the query to its first row and each fetch steps it on (cursor_rows.h), so a cursor's memory
// does not grow with its result; writes in between (even through the cursor) never disturb a
// fetch, since the rest of the rows moves to a spill file first. FETCH in a batch, @@sqlstatus
// and WHERE CURRENT OF.
#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/types/convert.h"
#include "server/types/sqlite_error.h"
#include "server/types/sqlite_value.h"

namespace tabsrv {

using namespace tsql;

namespace {

constexpr int32_t kCursorExists = 16915;
constexpr int32_t kCursorNotFound = 16916;
constexpr int32_t kCursorNotOpen = 16917;
constexpr int32_t kCursorAlreadyOpen = 16918;
constexpr int32_t kCursorReadOnly = 16919;
constexpr int32_t kNoCurrentRow = 16920;

// The cursor's query: its SELECT, whether FOR UPDATE was written, checked to be one SELECT
// without COMPUTE or INTO (a cursor has one row format, and its rows go to the client).
std::unique_ptr<DeclareCursorStatement> parseCursorQuery(const std::string& name, const std::string& sql) {
  auto notOneSelect = [&] {
    return SqlError(102, 15, "The query of cursor '" + name + "' must be one SELECT statement.");
  };
  std::vector<StatementPtr> parsed;
  try {
    parsed = parseBatch("declare c cursor for " + sql, SessionImpl::parseOptions());
  } catch (const SqlError&) {
    // Text that is sound on its own (an UPDATE, a SELECT and more) is refused for what it is,
    // not with a syntax error at its first word.
    std::vector<StatementPtr> alone;
    try {
      alone = parseBatch(sql, SessionImpl::parseOptions());
    } catch (const SqlError&) {
    }
    if (!alone.empty() && (alone.size() != 1 || !alone[0]->is<SelectStatement>())) throw notOneSelect();
    throw;
  }
  if (parsed.size() != 1 || !parsed[0]->is<DeclareCursorStatement>()) throw notOneSelect();
  std::unique_ptr<DeclareCursorStatement> cursor(static_cast<DeclareCursorStatement*>(parsed[0].release()));
  if (!cursor->query->computes.empty())
    throw SqlError(102, 15, "The query of cursor '" + name + "' cannot have a COMPUTE clause.");
  if (!cursor->query->core.into.empty())
    throw SqlError(102, 15, "The query of cursor '" + name + "' cannot have an INTO clause.");
  return cursor;
}

}  // namespace

ParseOptions SessionImpl::parseOptions() {
  ParseOptions o;
  o.cursors = true;
  o.top = true;
  return o;
}

SessionImpl::CursorState& SessionImpl::cursorById(int32_t id) {
  auto it = cursors_.find(id);
  if (it == cursors_.end())
    throw SqlError(kCursorNotFound, 16, "The cursor with id " + std::to_string(id) + " does not exist.");
  return it->second;
}

int32_t SessionImpl::cursorIdByName(const std::string& name) {
  for (const auto& [id, c] : cursors_)
    if (c.name == name) return id;
  throw SqlError(kCursorNotFound, 16, "A cursor with the name '" + name + "' does not exist.");
}

int32_t SessionImpl::declareCursor(const std::string& name, const std::string& sql, bool forUpdate,
                                   const std::vector<ParamValue>& params) {
  for (const auto& [id, c] : cursors_)
    if (c.name == name)
      throw SqlError(kCursorExists, 16, "A cursor with the name '" + name + "' already exists.");
  requireSessionRoom(kSessionOpenCursors, cursors_.size());
  auto parsed = parseCursorQuery(name, sql);  // a syntax error fails the declare, not the open
  CursorState c;
  c.name = name;
  c.sql = sql;
  c.forUpdate = forUpdate || parsed->use == CursorUse::Update;
  c.params = params;
  c.depth = procDepth_;
  int32_t id = nextCursorId_++;
  cursors_[id] = std::move(c);
  return id;
}

void SessionImpl::setCursorRows(int32_t id, int32_t rows) {
  cursorById(id).rowsPerFetch = std::max(1, rows);
}

namespace {

// Runs a cursor request of the client (outside any batch) with `sink` as the session's sink:
// an attention that stops it becomes an error the reply drops, since the reply then ends with
// the attention's acknowledgement.
template <class Work>
auto onClientRequest(ResultSink*& current, ResultSink& sink, Work&& work) {
  struct Scope {
    ResultSink*& current;
    ResultSink* previous;
    ~Scope() { current = previous; }
  } scope{current, current};
  current = &sink;
  try {
    return work();
  } catch (const Cancelled&) {
    throw SqlError(kCancelledErrorNumber, 0, "Query was cancelled.");
  }
}

}  // namespace

std::vector<ColumnDesc> SessionImpl::openCursor(int32_t id, ResultSink& sink) {
  return onClientRequest(sink_, sink, [&] {
    setCommand("OPEN CURSOR");
    struct Idle {
      SessionImpl& s;
      ~Idle() { s.setCommand("AWAITING COMMAND"); }
    } idle{*this};
    CursorState& c = cursorById(id);
    openCursorRows(c);
    return c.columns;
  });
}

void SessionImpl::openCursorRows(CursorState& c) {
  if (c.open) throw SqlError(kCursorAlreadyOpen, 16, "The cursor '" + c.name + "' is already open.");
  auto parsed = parseCursorQuery(c.name, c.sql);
  const SelectStatement& query = *parsed->query;
  // A cursor over master..sysprocesses reads the sessions as they are at open.
  bool live = liveTables_;
  liveTables_ = false;
  noteLiveTables(c.sql);
  if (liveTables_) refreshLive();
  liveTables_ = live || liveTables_;

  // The cursor's parameters are variables while its query binds.
  std::map<std::string, Variable> saved = variables_;
  for (size_t i = 0; i < c.params.size(); ++i) {
    std::string n = c.params[i].name.empty() ? "@P" + std::to_string(i + 1) : c.params[i].name;
    if (n[0] != '@') n = "@" + n;
    variables_[n] = Variable{c.params[i].format.type, c.params[i].value};
  }
  struct Restore {
    std::map<std::string, Variable>& target;
    std::map<std::string, Variable>& saved;
    ~Restore() { target = std::move(saved); }
  } restore{variables_, saved};

  Binder binder(*this);
  BoundQuery q = binder.bindQuery(query, nullptr);
  std::string sql = q.sql;
  // A cursor over exactly one table, without DISTINCT, grouping or UNION, can change that table's
  // rows through WHERE CURRENT OF: it reads each row's rowid along with the row.
  bool trackRows = false;
  std::optional<TableInfo> table;
  if (query.core.from.size() == 1 && query.core.from[0]->is<NamedTableRef>() && !query.core.distinct &&
      query.core.groupBy.empty() && !query.core.having && query.unions.empty() &&
      sql.rfind("SELECT ", 0) == 0 && sql.find(" AS t0") != std::string::npos) {
    table = binder.resolveTable(query.core.from[0]->as<NamedTableRef>().name);
    bool aggregate = false;
    for (const auto& item : query.core.items)
      if (item.expr && item.expr->kind == ExprKind::Function) aggregate = true;
    if (table->type == "U" && !aggregate) {
      trackRows = true;
      sql = "SELECT t0.rowid, " + sql.substr(7);
    }
  }
  auto st = std::make_unique<SqlStatement>(*this, sql);
  st->bindAll(binder.params());
  auto rows = std::make_unique<CursorRows>(std::move(st));
  // The query runs to its first row now (a cancel stops it here: the cursor stays closed).
  rows->start();
  c.rows = std::move(rows);
  c.columns = q.columns;
  c.tracksRows = trackRows;
  c.currentRowid.reset();
  if (trackRows) {
    c.tableId = table->id;
    c.tableDatabase = table->database;
  }
  c.next = 0;
  c.open = true;
}

std::vector<std::vector<Value>> SessionImpl::fetchCursor(int32_t id, int32_t maxRows, ResultSink& sink) {
  return onClientRequest(sink_, sink, [&] { return fetchRows(cursorById(id), maxRows); });
}

std::vector<std::vector<Value>> SessionImpl::fetchRows(CursorState& c, int32_t maxRows) {
  if (!c.open)
    throw SqlError(559, 16,
                   "Attempt to use a cursor '" + c.name +
                       "' which is not open.  Use the system stored procedure sp_cursorinfo for more information.");
  // The attention is looked at between rows. An interrupt inside a step would leave the query
  // unable to go on from where it stood, so a step is interrupted only once it has run for a
  // while (a long scan to the next match).
  StepGrace grace(*this);
  std::vector<std::vector<Value>> out;
  const int offset = c.tracksRows ? 1 : 0;
  while (static_cast<int32_t>(out.size()) < std::max(1, maxRows)) {
    checkCancel();
    grace.renew();
    if (!c.rows->next()) {
      c.currentRowid.reset();
      break;
    }
    sqlite3_stmt* row = c.rows->current();
    std::vector<Value> values;
    values.reserve(c.columns.size());
    for (size_t i = 0; i < c.columns.size(); ++i)
      values.push_back(columnValue(row, static_cast<int>(i) + offset, c.columns[i].type));
    if (c.tracksRows) c.currentRowid = sqlite3_column_int64(row, 0);
    ++c.next;
    out.push_back(std::move(values));
  }
  return out;
}

int32_t SessionImpl::cursorRowCount(int32_t id) {
  auto it = cursors_.find(id);
  return it == cursors_.end() ? 0 : static_cast<int32_t>(it->second.next);
}

void SessionImpl::closeCursor(int32_t id, bool deallocate) {
  CursorState& c = cursorById(id);
  if (!c.open && !deallocate) throw SqlError(kCursorNotOpen, 16, "The cursor '" + c.name + "' is not open.");
  c.open = false;
  c.rows.reset();
  c.currentRowid.reset();
  c.next = 0;
  if (deallocate) cursors_.erase(id);
}

void SessionImpl::dropCursorsAbove(int depth) {
  std::erase_if(cursors_, [depth](const auto& entry) { return entry.second.depth > depth; });
}

bool SessionImpl::cursorStreaming() const {
  for (const auto& [id, c] : cursors_)
    if (c.rows && c.rows->streaming()) return true;
  return false;
}

void SessionImpl::spillCursors(bool cancellable) {
  for (auto& [id, c] : cursors_) {
    if (!c.rows || !c.rows->streaming()) continue;
    if (!spill_) spill_ = std::make_unique<SpillFile>();
    // As for a fetch: the attention between rows, inside a step only once it has run for a while.
    StepGrace grace(*this);
    std::optional<Unwinding> noInterrupts;
    if (!cancellable) noInterrupts.emplace(*this);
    c.rows->spill(*spill_, [&](int64_t moved) {
      if (cancellable && moved % 256 == 0) checkCancel();
      grace.renew();
    });
  }
}

std::string SessionImpl::currentOfCondition(const std::string& name, const TableInfo& t,
                                            const std::string& alias) {
  CursorState& c = cursorById(cursorIdByName(name));
  if (!c.open) throw SqlError(kCursorNotOpen, 16, "The cursor '" + c.name + "' is not open.");
  if (!c.forUpdate || !c.tracksRows || c.tableId != t.id || c.tableDatabase != t.database)
    throw SqlError(kCursorReadOnly, 16,
                   "The cursor '" + c.name + "' cannot change table '" + t.name +
                       "': it is read only or does not read that table.");
  if (!c.currentRowid)
    throw SqlError(kNoCurrentRow, 16, "The cursor '" + c.name + "' is not positioned on a row.");
  return alias + ".rowid = " + std::to_string(*c.currentRowid);
}

void SessionImpl::runDeclareCursor(const DeclareCursorStatement& s) {
  std::string sql = s.query->toSql();
  declareCursor(s.name, sql, s.use == CursorUse::Update, {});
  done(false, -1);
}

void SessionImpl::runFetch(const FetchCursorStatement& s) {
  if (s.direction != FetchDirection::Next) throw notSupported("FETCH in a direction other than NEXT");
  int32_t id = cursorIdByName(s.name);
  CursorState& c = cursorById(id);
  // FETCH INTO takes one row; to the client, as many as set cursor rows says.
  std::vector<std::vector<Value>> rows;
  try {
    rows = fetchRows(c, s.into.empty() ? c.rowsPerFetch : 1);
  } catch (const SqlError&) {
    // @@sqlstatus 1: the fetch failed.
    sqlStatus_ = 1;
    throw;
  }
  sqlStatus_ = rows.empty() ? 2 : 0;
  if (!s.into.empty()) {
    if (s.into.size() != c.columns.size())
      throw SqlError(16924, 16,
                     "Cursorfetch: The number of variables declared in the INTO list must match that of "
                     "selected rows.");
    if (!rows.empty())
      for (size_t i = 0; i < s.into.size(); ++i) assignVariable(s.into[i], rows[0][i], c.columns[i].type);
    rowCount_ = static_cast<int32_t>(c.next);
    error_ = 0;
    done(false, -1);
    return;
  }
  sink_->rowFormat(c.columns);
  for (const auto& r : rows) sink_->row(r);
  rowCount_ = static_cast<int32_t>(c.next);
  error_ = 0;
  done(false, static_cast<int32_t>(rows.size()));
}

}  // namespace tabsrv
