#include "catalog/grid/QorixGrid.h"

#include <QDateTime>
#include <QFile>
#include <QHeaderView>
#include <QLocale>
#include <QTime>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "access/QorixDatabase.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/SybType.h"

namespace {

bool IsBlankOrControl(QChar c) { return c.unicode() <= 32; }

QString TrimControls(const QString& s) {
  int b = 0, e = s.size();
  while (b < e && IsBlankOrControl(s[b])) ++b;
  while (e > b && IsBlankOrControl(s[e - 1])) --e;
  return s.mid(b, e - b);
}

QString OperatorName(CS_INT op) {
  switch (op) {
    case CS_OP_SUM: return QStringLiteral("sum");
    case CS_OP_AVG: return QStringLiteral("avg");
    case CS_OP_COUNT: return QStringLiteral("count");
    case CS_OP_MIN: return QStringLiteral("min");
    case CS_OP_MAX: return QStringLiteral("max");
    default: return {};
  }
}

const char* ResultName(CS_INT type) {
  switch (type) {
    case CS_ROW_RESULT: case CS_CURSOR_RESULT: return "CS_ROW_RESULT";
    case CS_COMPUTE_RESULT: return "CS_COMPUTE_RESULT";
    case CS_STATUS_RESULT: return "CS_STATUS_RESULT";
    case CS_PARAM_RESULT: return "CS_PARAM_RESULT";
    case CS_MSG_RESULT: return "CS_MSG_RESULT";
    case CS_COMPUTEFMT_RESULT: return "CS_COMPUTEFMT_RESULT";
    case CS_DESCRIBE_RESULT: return "CS_DESCRIBE_RESULT";
    case CS_ROWFMT_RESULT: return "CS_ROWFMT_RESULT";
    case CS_CMD_SUCCEED: return "CS_CMD_SUCCEED";
    case CS_CMD_DONE: return "CS_CMD_DONE";
    case CS_CMD_FAIL: return "CS_CMD_FAIL";
    default: return "ERROR";
  }
}

// Half to the even neighbour.
int RoundEven(double v) { return static_cast<int>(std::nearbyint(v)); }

}  // namespace

// ---------------------------------------------------------------- Threadgrid

Threadgrid::~Threadgrid() { Join(); }

void Threadgrid::Start() {
  running_.store(true);
  thread_ = std::thread([this] { Execute(); });
}

void Threadgrid::Join() {
  if (thread_.joinable()) thread_.join();
}

namespace {
long long SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
             .count() +
         1;
}
}  // namespace

void Threadgrid::EnterWait() { waitSince_.store(SteadyMs()); }

void Threadgrid::LeaveWait() { waitSince_.store(0); }

bool Threadgrid::Cancel() {
  // Only the attention, the library's cancel meant for use while another thread is inside a
  // call on the connection; nothing here touches the worker's command (in cursor mode the
  // worker closes the cursor itself when it sees the terminate request). A worker that has
  // waited this long inside one call is in FreeTDS's network wait, which takes the attention
  // over through its wake-up pipe.
  if (attentionSent_.load()) return true;
  const long long since = waitSince_.load();
  if (since == 0 || SteadyMs() - since < kAttentionAfterMs) return false;
  if (!grid_ || !grid_->connection_) return false;
  attentionSent_.store(true);
  ctlib::ct_cancel(grid_->connection_, nullptr, CS_CANCEL_ATTN);
  return true;
}

void Threadgrid::Execute() {
  try {
    grid_->RunBatches();
  } catch (...) {
    // Nothing raises on the worker (RaiseOnError is off); whatever does ends the run.
  }
  grid_->FinishRun();
  running_.store(false);
  QMetaObject::invokeMethod(grid_, [g = grid_] { g->ThreadDone(); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- construction

TQorixGrid::TQorixGrid(TComponent* owner) : TComponent(owner) {
  model_ = new TGridCellModel(&cells_, this);
}

TQorixGrid::~TQorixGrid() {
  if (worker_) {
    StopAndJoin();
    worker_.reset();
  }
  cursorGuard_.reset();
  DropCommand();
  rowRecs_.FreeBuffers();
  paramRecs_.FreeBuffers();
  compRecs_.FreeBuffers();
  if (database_) RemoveFreeNotification(database_);
}

void TQorixGrid::Loaded() {
  TComponent::Loaded();
  active_.store(false);
}

void TQorixGrid::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == database_) {
    // A connection going away during a run: the worker must be gone first.
    if (worker_) StopAndJoin();
    DropCommand();
    database_ = nullptr;
    if (component == ownDatabase_) ownDatabase_ = nullptr;
  }
}

void TQorixGrid::SetDatabase(TQorixDatabaseBase* database) {
  if (database == database_) return;
  if (database_) RemoveFreeNotification(database_);
  database_ = database;
  if (database_) FreeNotification(database_);
}

void TQorixGrid::SetDbName(const QString& name) {
  dbName_ = name;
  if (!Active()) ResetCommand();
}

void TQorixGrid::SetActive(bool value) {
  if (IsLoading()) return;
  if (value) {
    if (Active()) return;
    ResetCommand();
    if (database_) database_->DoConnect();
    Execute();
  } else {
    if (worker_ && worker_->Running()) {
      Stop();
      WaitForWorker();
    }
    CancelResults();
    DropCommand();
  }
  active_.store(value);
}

// ---------------------------------------------------------------- helpers

void TQorixGrid::Diag() {
  ProcessDiagMessages(connection_, srvMsg_, cliMsg_, this, RaiseOnError, MsgDialogs.Contains(mdEnhMsg),
                      MsgDialogs.Contains(mdEnhErr), ShowDbMessages.Contains(smDbMsg),
                      ShowDbMessages.Contains(smDbErr));
}

void TQorixGrid::Fire(const TNotifyEvent& ev) {
  if (!ev) return;
  if (inBackground_) {
    // Handlers may touch widgets: they run on the GUI thread, in firing order.
    QMetaObject::invokeMethod(this, [this, ev] { ev(this); }, Qt::QueuedConnection);
  } else {
    ev(this);
  }
}

void TQorixGrid::LogMonitor(const QString& line) {
  if (!Monitor || !Owner()) return;
  SendToSqlMonitor(reinterpret_cast<THandle>(Owner()), line);
}

bool TQorixGrid::StopRequested() const { return inBackground_ && worker_ && worker_->Terminated(); }

void TQorixGrid::RestoreCursor() { cursorGuard_.reset(); }

void TQorixGrid::CheckDatabase() {
  if (IsLoading() || database_) return;
  if (!dbName_.trimmed().isEmpty()) {
    SetDatabase(FindDatabase(dbName_));
    return;
  }
  if (!autoDb_) RaiseMissingError(LoadResString(QorixRes::SDatabaseOrDbNameRequired), this);
}

void TQorixGrid::DropCommand() {
  if (!command_) return;
  LogMonitor(QStringLiteral("Open-Client: ct_cmd_drop"));
  ctlib::ct_cmd_drop(command_);
  command_ = nullptr;
}

int TQorixGrid::CursorStatus() {
  CS_INT status = 0;
  if (!command_ || ctlib::ct_cmd_props(command_, CS_GET, CS_CUR_STATUS, &status, CS_UNUSED, nullptr) != CS_SUCCEED)
    return 0;
  return status;
}

void TQorixGrid::CloseCursor() {
  if (!cursorMode_ || !command_) return;
  const int status = CursorStatus();
  CS_INT type = 0;
  if (status & CS_CURSTAT_OPEN) {
    ctlib::ct_cursor(command_, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC);
  } else if (status & CS_CURSTAT_DECLARED) {
    ctlib::ct_cursor(command_, CS_CURSOR_DEALLOC, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED);
  } else {
    return;
  }
  if (ctlib::ct_send(command_) == CS_SUCCEED)
    while (ctlib::ct_results(command_, &type) == CS_SUCCEED)
      if (type == CS_ROW_RESULT || type == CS_CURSOR_RESULT) ctlib::ct_cancel(nullptr, command_, CS_CANCEL_CURRENT);
  ClearDiagMessages(connection_);
}

void TQorixGrid::CancelResults() {
  if (!command_) return;
  CloseCursor();
  if (!database_) return;
  if (serverType_ == 1) {
    // ct_results keeps returning a row result while rows are pending; cancel those instead
    // of reading them.
    CS_INT type = 0;
    while (ctlib::ct_results(command_, &type) == CS_SUCCEED)
      if (type == CS_ROW_RESULT || type == CS_CURSOR_RESULT || type == CS_COMPUTE_RESULT ||
          type == CS_PARAM_RESULT || type == CS_STATUS_RESULT)
        ctlib::ct_cancel(nullptr, command_, CS_CANCEL_CURRENT);
    ctlib::ct_cancel(nullptr, command_, CS_CANCEL_CURRENT);
  } else {
    ctlib::ct_cancel(nullptr, command_, CS_CANCEL_ALL);
  }
}

void TQorixGrid::ResetCommand() {
  CancelResults();
  DropCommand();
  if (database_) {
    context_ = database_->ContextHandle();
    connection_ = database_->ConnectionHandle();
    if (connection_) ctlib::ct_cmd_alloc(connection_, &command_);
  }
}

// ---------------------------------------------------------------- batches

// A terminator counts when it directly follows a blank or a line feed and is directly
// followed by the line end: CR (a CR LF line) or, for text with bare LF line ends, LF. The
// earliest of these forms is taken at each step. The forms are found in the script itself,
// without regard to case but character for character: a lower-cased copy can be longer than
// the script ("İ" lower-cases to two characters) and would move every cut after it.
QStringList TQorixGrid::SplitScript(const QString& sql, const QString& terminator) {
  QStringList out;
  const QString tcr = (terminator + QLatin1Char('\r')).left(30);
  const QString tlf = (terminator + QLatin1Char('\n')).left(30);
  const QString s = sql + QLatin1Char('\r');
  const QString forms[4] = {QLatin1Char(' ') + tcr, QLatin1Char('\n') + tcr, QLatin1Char(' ') + tlf,
                            QLatin1Char('\n') + tlf};
  qsizetype pos = 0, start = 0;
  bool found = false;
  for (;;) {
    qsizetype m = -1;
    for (const QString& f : forms) {
      const qsizetype at = s.indexOf(f, pos, Qt::CaseInsensitive);
      if (at >= 0 && (m < 0 || at < m)) m = at;
    }
    if (m < 0) break;
    found = true;
    qsizetype end = m;
    if (s[m] == QLatin1Char('\n') && end > start && s[end - 1] == QLatin1Char('\r')) --end;
    out << s.mid(start, std::max<qsizetype>(0, end - start));
    start = m + 1 + tcr.size();
    pos = start;
  }
  if (!found) return {s};
  const QString tail = s.mid(start);
  if (!TrimControls(tail).isEmpty()) out << tail;
  return out;
}

void TQorixGrid::SplitBatches() { batches_ = SplitScript(sql_, CodeTerminator); }

// ---------------------------------------------------------------- run

int TQorixGrid::Execute() {
  if (worker_ && (worker_->Running() || threadDonePending_))
    DatabaseError(QStringLiteral("A run is already in progress"), this);
  worker_.reset();
  CheckDatabase();
  if (autoDb_) {
    if (!ownDatabase_) {
      const TAutoDatabaseFactory& factory = AutoDatabaseFactory();
      if (factory) ownDatabase_ = factory(this);
      if (ownDatabase_) {
        dbName_ = ownDatabase_->Name();
        if (UseDbParams) ownDatabase_->ApplyDbParams(AutoDbParams);
      }
    } else if (UseDbParams) {
      ownDatabase_->ApplyDbParams(AutoDbParams);
    }
    if (ownDatabase_) SetDatabase(ownDatabase_);
  }
  if (!database_) RaiseMissingError(LoadResString(QorixRes::SDatabaseOrDbNameRequired), this);
  if (database_->GetRdbms() == QLatin1String("Sybase SQL Server")) serverType_ = 0;
  else if (database_->GetRdbms() == QLatin1String("SQLAnywhere")) serverType_ = 1;
  database_->ResetIdleTimer();
  if (AutoConnect && !database_->IsConnected()) {
    database_->DoConnect();
    if (!database_->IsConnected()) {
      const QString text = Format(LoadResString(QorixRes::SCannotLogin), {database_->GetServerName()});
      if (!RaiseOnError) {
        UiServices().MessageBox(text, kCtLibraryError, TMsgBoxIcon::Stop);
        return 0;
      }
      DatabaseError(text);
    }
  }
  SetLastMessage(QString());
  SetLastError(QString());
  SetLastServerMsg(CS_SERVERMSG{});
  numComputes_ = 0;
  const QTime now = QTime::currentTime();
  static std::atomic<int> cursorCounter{0};
  cursorName_ = QString::number(now.hour()) + QString::number(now.minute()) + QString::number(now.second()) +
                QString::number(now.msec()) + QStringLiteral("_cur") + QString::number(++cursorCounter);
  returnStatus_ = 0;
  active_.store(true);
  LogMonitor(QStringLiteral("Flow : ** Start of EXECUTE **"));
  if (SelectOnly) cursorMode_ = true;
  runRows_ = setRows_ = rowCount_ = 0;
  if (TrimControls(sql_).isEmpty()) DatabaseError(LoadResString(QorixRes::SNoSQLStatement), this);
  ResetCommand();
  if (!database_->IsConnected() || !command_) return 0;
  textSizeCap_ = std::max(1, database_->GetTextSize());
  Fire(BeforeExec);
  ResetGrid();
  SplitBatches();
  LogMonitor(QStringLiteral("SQL : ") + sql_);
  cursorGuard_ = std::make_unique<TCursorGuard>(ExecCursor, UseExecCursor);
  if (Background) {
    RaiseOnError = false;
    inBackground_ = true;
    // The diagnostics routine fires these on the worker; their handlers run queued.
    TNotifyEvent* diag[4] = {&OnDbError, &AfterDbError, &OnDbMessage, &AfterDbMessage};
    for (int i = 0; i < 4; ++i) {
      savedDiag_[i] = *diag[i];
      if (savedDiag_[i]) {
        TNotifyEvent h = savedDiag_[i];
        *diag[i] = [this, h](TComponent*) {
          QMetaObject::invokeMethod(this, [this, h] { h(this); }, Qt::QueuedConnection);
        };
      }
    }
    worker_ = std::make_unique<Threadgrid>(this);
    threadDonePending_ = true;
    worker_->Start();
    return 0;
  }
  inBackground_ = false;
  try {
    RunBatches();
  } catch (...) {
    // The run stays active as the caller left it, but the wait cursor never sticks.
    RestoreCursor();
    model_->Refresh();
    throw;
  }
  FinishRun();
  model_->Refresh();
  return 0;
}

void TQorixGrid::RunBatches() {
  for (const QString& batch : std::as_const(batches_)) {
    if (StopRequested()) break;
    sql_ = batch;
    currentBatch_ = batch;
    numComputes_ = 0;
    LogMonitor(QStringLiteral("SQL Execute: ") + sql_);
    SendBatch();
    ProcessResults();
    EndBatch();
    curCols_ = 0;
    if (inBackground_) model_->RequestRefresh();
  }
}

void TQorixGrid::FinishRun() {
  if (ShowCompleteMsg) WriteCompleteMsg();
  else cells_.Edit([](TGridCellData& d) { d.SetRowCount(d.rowCount - 2); });
  active_.store(false);
  if (!inBackground_) RestoreCursor();
  if (KeepHeader) cells_.Edit([](TGridCellData& d) { d.SetRowCount(d.rowCount - 1); });
  if (inBackground_) model_->RequestRefresh();
  Fire(AfterExec);
  LogMonitor(QStringLiteral("Flow : ** End of EXECUTE **"));
}

void TQorixGrid::ThreadDone() {
  // GUI thread, after the worker's body returned.
  if (worker_) worker_->Join();
  inBackground_ = false;
  TNotifyEvent* diag[4] = {&OnDbError, &AfterDbError, &OnDbMessage, &AfterDbMessage};
  for (int i = 0; i < 4; ++i) *diag[i] = savedDiag_[i];
  RestoreCursor();
  if (DisConnectAtEnd && database_) {
    // Only now, with the worker gone, may the connection be closed.
    DropCommand();
    if (auto* db = dynamic_cast<TQorixDatabase*>(database_)) db->Disconnect();
  }
  active_.store(false);
  threadDonePending_ = false;
  model_->Refresh();
  if (OnThreadTerminate) OnThreadTerminate(worker_.get(), LastError(), LastMessage());
}

void TQorixGrid::Stop() {
  if (!worker_ || !worker_->Running()) return;
  worker_->Terminate();
  if (worker_->Cancel()) return;
  // The worker sees the request after the row at hand; should it instead be waiting for the
  // server, the attention follows once that wait has lasted long enough.
  if (!stopTimer_) {
    stopTimer_ = new QTimer(this);
    stopTimer_->setInterval(20);
    QObject::connect(stopTimer_, &QTimer::timeout, this, [this] {
      if (!worker_ || !worker_->Running() || worker_->Cancel()) stopTimer_->stop();
    });
  }
  stopTimer_->start();
}

void TQorixGrid::StopAndJoin() {
  if (!worker_) return;
  if (worker_->Running()) {
    worker_->Terminate();
    while (worker_->Running()) {
      worker_->Cancel();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  worker_->Join();
}

void TQorixGrid::WaitForWorker() {
  if (!worker_) return;
  // A stop already requested is carried through while waiting.
  if (worker_->Terminated()) StopAndJoin();
  worker_->Join();
  if (threadDonePending_) ThreadDone();
}

// ---------------------------------------------------------------- one batch

void TQorixGrid::ResetGrid() {
  widestLineNum_ = 0;
  widths_.assign(1, 10);
  headerToFixedRow_ = false;
  countWritten_ = false;
  cells_.Edit([&](TGridCellData& d) {
    int wp = d.fixedRows > 0 ? d.fixedRows - 1 : 0;
    d.ClearFrom(wp);
    d.rowCount = 2;
    d.colCount = 2;
    if (KeepHeader && showHeader_ && d.fixedRows == 0) d.fixedRows = 1;
    writePos_ = (KeepHeader && showHeader_) ? d.fixedRows - 1 : d.fixedRows;
    largestCols_ = 1;
    d.SetRowCount(d.fixedRows + 1);
    d.SetColWidth(0, 13);
    d.widths.resize(1);
  });
}

void TQorixGrid::SendBatch() {
  const QByteArray text = sql_.toUtf8();
  if (!cursorMode_) {
    ctlib::ct_command(command_, CS_LANG_CMD, text.constData(), CS_NULLTERM, CS_UNUSED);
    Diag();
    ctlib::ct_send(command_);
    Diag();
    return;
  }
  QByteArray name = cursorName_.toUtf8();
  LogMonitor(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_DECLARE)"));
  ctlib::ct_cursor(command_, CS_CURSOR_DECLARE, name.data(), CS_NULLTERM, const_cast<char*>(text.constData()),
                   CS_NULLTERM, CS_READ_ONLY);
  LogMonitor(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_ROWS)"));
  // FreeTDS fetches a cursor only when the bind count equals the cursor rows; the grid binds
  // one row at a time, so it asks for one row per fetch whatever CurFetchRows says.
  ctlib::ct_cursor(command_, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, 1);
  ctlib::ct_cursor(command_, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED);
  LogMonitor(QStringLiteral("SQL Execute: ") + sql_);
  ctlib::ct_send(command_);
  Diag();
  // The results before the cursor's rows (declare, rows, open) carry nothing for the grid;
  // the result loop passes them by type instead of skipping a fixed number blindly.
}

void TQorixGrid::EndBatch() {
  CloseCursor();
  rowRecs_.FreeBuffers();
  if (database_ && database_->IsConnected()) CancelResults();
  ClearDiagMessages(connection_);
}

void TQorixGrid::DrainRows() {
  CS_INT rows = 0;
  while (ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
  }
}

bool TQorixGrid::ProcessResults() {
  bool ok = true;
  Fire(BeforeCommand);
  cursorSeen_ = false;
  CS_INT type = 0;
  auto next = [&]() {
    if (inBackground_ && worker_) worker_->EnterWait();
    const CS_RETCODE r = ctlib::ct_results(command_, &type);
    if (inBackground_ && worker_) worker_->LeaveWait();
    try {
      Diag();
    } catch (...) {
      CancelResults();
      throw;
    }
    return r;
  };
  CS_RETCODE ret = next();
  while (ret == CS_SUCCEED) {
    if (StopRequested()) break;
    LogMonitor(QStringLiteral("CS_SUCCEED"));
    LogMonitor(QString::fromLatin1(ResultName(type)));
    if (std::exchange(skipDone_, false) && type == CS_CMD_DONE) {
      ret = next();
      continue;
    }
    switch (type) {
      case CS_ROW_RESULT:
      case CS_CURSOR_RESULT: {
        resultFlag_ = true;
        if (type == CS_CURSOR_RESULT) cursorSeen_ = true;
        rowRecs_.FreeBuffers();
        CS_INT n = 0;
        ctlib::ct_res_info(command_, CS_NUMDATA, &n, CS_UNUSED, nullptr);
        LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : ") + QString::number(n));
        curCols_ = n;
        BindColumns(n, rowRecs_, rowCols_, rowFmts_, true);
        WriteHeader(n);
        for (;;) {
          const FetchResult f = FetchRow();
          if (f == FetchResult::Stop) break;
          if (f == FetchResult::MaxRows) {
            // The rest of this result set is not wanted: cancel it, so its rows are neither
            // left pending nor read as new result sets.
            ctlib::ct_cancel(nullptr, command_, CS_CANCEL_CURRENT);
            break;
          }
          if (StopRequested()) break;
        }
        break;
      }
      case CS_COMPUTE_RESULT:
        HandleCompute();
        break;
      case CS_STATUS_RESULT:
        WriteReturnStatus();
        break;
      case CS_PARAM_RESULT:
        HandleReturnParams();
        break;
      case CS_MSG_RESULT:
      case CS_COMPUTEFMT_RESULT:
      case CS_DESCRIBE_RESULT:
        DrainRows();
        break;
      case CS_ROWFMT_RESULT:
        break;
      case CS_CMD_SUCCEED: {
        CS_INT c = -1;
        ctlib::ct_res_info(command_, CS_ROW_COUNT, &c, CS_UNUSED, nullptr);
        if (c >= 0) rowCount_ = c;
        // A statement without a count (declare, set, print, a procedure's end) gets no
        // separator line: the done result that follows its success is passed over. A done
        // result only, so a row result there is still laid out.
        skipDone_ = c < 0;
        resultFlag_ = false;
        curCols_ = 0;
        Fire(AfterCommand);
        break;
      }
      case CS_CMD_DONE: {
        CS_INT c = -1;
        if (!cursorMode_) {
          ctlib::ct_res_info(command_, CS_ROW_COUNT, &c, CS_UNUSED, nullptr);
          if (c >= 0) rowCount_ = c;
        } else if (cursorSeen_) {
          c = rowCount_;
        }
        LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_ROW_COUNT) - Number of rows : ") +
                   QString::number(rowCount_));
        // A result set cut off at MaxRows has its count line already; the server's count of
        // the whole statement would contradict it.
        if (c >= 0 && !countWritten_) WriteRowCount();
        // The separator follows every statement with a result set, counted or not (set
        // nocount on): a status line after it takes this line, not the last row's.
        cells_.Edit([&](TGridCellData& d) { d.SetRowCount(d.rowCount + 1); });
        ++writePos_;
        if (rowCount_ == 0)
          for (int i = 0; i < rowRecs_.Count(); ++i) rowRecs_.GetItem(i)->Text.clear();
        if (cursorMode_) rowCount_ = 0;
        cursorSeen_ = false;
        countWritten_ = false;
        // The statement's computes do not reduce the next statement's count.
        numComputes_ = 0;
        Fire(AfterCommand);
        break;
      }
      case CS_CMD_FAIL:
        resultFlag_ = false;
        ok = false;
        if (RaiseOnError) {
          CancelResults();
          DatabaseError(LoadResString(QorixRes::SCommandFailed), this);
        }
        break;
      default:
        ok = false;
        break;
    }
    if (StopRequested()) break;
    ret = next();
  }
  return ok;
}

// ---------------------------------------------------------------- columns

int TQorixGrid::ColumnDisplayWidth(const CS_DATAFMT& fmt) {
  const int maxLen = std::max<CS_INT>(0, fmt.maxlength);
  const int limit = maxLen >= 1024 ? maxLen : 1024;
  int w = 12;
  switch (fmt.datatype) {
    case CS_CHAR_TYPE: case CS_VARCHAR_TYPE: case CS_TEXT_TYPE: case CS_LONGCHAR_TYPE:
      w = std::min(maxLen, limit);
      break;
    case CS_IMAGE_TYPE:
    case CS_BINARY_TYPE: case CS_VARBINARY_TYPE: case CS_LONGBINARY_TYPE:
      w = static_cast<int>(std::min<qint64>(2LL * maxLen + 2, fmt.datatype == CS_IMAGE_TYPE ? 2LL * maxLen + 2 : limit));
      break;
    case CS_TINYINT_TYPE: case CS_BIT_TYPE: w = 3; break;
    case CS_SMALLINT_TYPE: w = 6; break;
    case CS_INT_TYPE: w = 11; break;
    case CS_BIGINT_TYPE: case CS_UBIGINT_TYPE: w = 20; break;
    case CS_REAL_TYPE: case CS_FLOAT_TYPE: case CS_MONEY_TYPE: case CS_MONEY4_TYPE: w = 24; break;
    case CS_DATETIME_TYPE: case CS_DATETIME4_TYPE: case CS_DATE_TYPE: case CS_TIME_TYPE:
    case CS_BIGDATETIME_TYPE: case CS_BIGTIME_TYPE: w = 30; break;
    case CS_NUMERIC_TYPE: case CS_DECIMAL_TYPE: w = 79; break;
    default: w = 12; break;
  }
  const int nameLen = fmt.namelen > 0 ? static_cast<int>(strnlen(fmt.name, sizeof fmt.name)) : 0;
  return std::max(w, nameLen);
}

bool TQorixGrid::BindColumns(int n, TCSRecordDataManager& recs, TCSColumnDataManager& cols,
                             std::vector<CS_DATAFMT>& fmts, bool header) {
  recs.FreeBuffers();
  recs.AddRecords(n);
  cols.Clear();
  cols.AddColumns(n);
  fmts.assign(static_cast<size_t>(n), CS_DATAFMT{});
  for (int i = 1; i <= n; ++i) {
    CS_DATAFMT fmt{};
    if (ctlib::ct_describe(command_, i, &fmt) != CS_SUCCEED) return false;
    fmts[static_cast<size_t>(i - 1)] = fmt;
    // Text and image values come as long as the session's text size allows, never the
    // server's nominal 2 GB; an image shows as hex (2 characters a byte plus "0x").
    CS_DATAFMT sized = fmt;
    if (fmt.datatype == CS_TEXT_TYPE || fmt.datatype == CS_IMAGE_TYPE)
      sized.maxlength = std::min<CS_INT>(fmt.maxlength, textSizeCap_);
    const int size = ColumnDisplayWidth(sized) + 2;
    TCSRecordData* rec = recs.GetItem(i - 1);
    rec->AllocBuffer(size);
    rec->BufferLength = size - 2;
    CS_DATAFMT bind{};
    bind.datatype = CS_CHAR_TYPE;
    // Bound by copied length: a NUL-terminated bind of a value that fills the buffer makes
    // FreeTDS fail the whole row.
    bind.format = CS_FMT_UNUSED;
    bind.count = 1;
    bind.maxlength = size;
    ctlib::ct_bind(command_, i, &bind, rec->Buffer, &rec->CopiedLength, &rec->Indicator);
    if (header) LogMonitor(QStringLiteral("Open-Client: ct_bind - Column Name : ") + QString::fromUtf8(fmt.name));
    cols.SetDataFmt(i - 1, fmt);
    cols.GetItem(i - 1)->MaxLength = size;
    cols.GetItem(i - 1)->DataType = fmt.datatype;
  }
  if (header) Fire(OnHeader);
  return true;
}

QString TQorixGrid::BufferText(const TCSRecordData* rec) const {
  // A NULL leaves the buffer as the previous row left it: the indicator decides.
  if (rec->Indicator == -1 || !rec->Buffer) return {};
  const int len = std::clamp<int>(rec->CopiedLength, 0, rec->BufferLength + 2);
  int n = static_cast<int>(strnlen(rec->Buffer, static_cast<size_t>(len)));
  return QString::fromUtf8(rec->Buffer, n);
}

QString TQorixGrid::ColumnText(int col) const {
  const QString& t = rowRecs_.GetItem(col - 1)->Text;
  return TrimResults ? t.trimmed() : t;
}

QString TQorixGrid::ColumnName(int col) const { return rowCols_.GetItem(col - 1)->Name; }

QString TQorixGrid::ColumnTypeName(int col) const { return CSDataTypeName(rowCols_.GetItem(col - 1)->DataType); }

bool TQorixGrid::ColumnIsNull(int col) const {
  const TCSRecordData* r = rowRecs_.GetItem(col - 1);
  return r->Indicator == -1 || r->Text.isEmpty();
}

QString TQorixGrid::ComputeText(int col) const {
  const QString& t = compRecs_.GetItem(col - 1)->Text;
  return TrimResults ? t.trimmed() : t;
}

QString TQorixGrid::ComputeOperatorName(int col) const { return OperatorName(compCols_.GetItem(col - 1)->Operator); }

QString TQorixGrid::ParamName(int col) const { return paramCols_.GetItem(col - 1)->Name; }

QString TQorixGrid::ParamText(int col) const { return paramRecs_.GetItem(col - 1)->Text; }

// ---------------------------------------------------------------- cells

void TQorixGrid::WriteHeader(int n) {
  setRows_ = 0;
  largestCols_ = std::max(largestCols_, n);
  lineNum_ = 1;
  cells_.Edit([&](TGridCellData& d) {
    d.SetColCount(largestCols_ + 1);
    if (!showHeader_) return;
    int total = 0;
    for (int c = 1; c <= n; ++c) total += rowCols_.GetItem(c - 1)->Name.size();
    // The first header of a KeepHeader run goes into the fixed row even when a status line
    // came first.
    const bool toFixedRow = headerToFixedRow_ && total > 0;
    if (toFixedRow) headerToFixedRow_ = false;
    const int row = toFixedRow ? 0 : writePos_;
    d.SetCell(0, row, QStringLiteral(" "));
    for (int c = 1; c <= n; ++c) {
      const QString name = rowCols_.GetItem(c - 1)->Name;
      d.SetCell(c, row, name);
      if (c >= static_cast<int>(widths_.size())) widths_.resize(static_cast<size_t>(c) + 1, 10);
      if (d.ColWidth(c) < name.size() * kWidthFactor || widths_[c] < name.size() * kWidthFactor) {
        const int w = std::max(d.ColWidth(c), static_cast<int>(name.size()) * kWidthFactor);
        d.SetColWidth(c, w);
        widths_[c] = std::max(widths_[c], w);
      }
    }
    if (total > 0 && !toFixedRow) {
      d.SetRowCount(d.rowCount + 1);
      ++writePos_;
    }
  });
}

QString TQorixGrid::DateTimeText(const QString& text) const {
  CS_DATAFMT src{}, dst{};
  const QByteArray bytes = text.toUtf8();
  src.datatype = CS_CHAR_TYPE;
  src.maxlength = bytes.size();
  dst.datatype = CS_DATETIME_TYPE;
  dst.maxlength = 8;
  CS_DATETIME dt{};
  CS_INT len = 0;
  if (ctlib::cs_convert(context_, &src, const_cast<char*>(bytes.constData()), &dst, &dt, &len) != CS_SUCCEED)
    return text;
  const QDateTime v = DateTimeFrom1900(dt.dtdays, static_cast<qint64>(dt.dttime / 300) * 1000);
  const QLocale loc;
  QString s = loc.toString(v.date(), QLocale::ShortFormat);
  if (v.time() != QTime(0, 0)) s += QLatin1Char(' ') + loc.toString(v.time(), QLocale::LongFormat);
  return s;
}

TQorixGrid::FetchResult TQorixGrid::FetchRow() {
  CS_INT rows = 0;
  if (inBackground_ && worker_) worker_->EnterWait();
  const CS_RETCODE r = ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  if (inBackground_ && worker_) worker_->LeaveWait();
  const int n = rowRecs_.Count();
  // A value that does not fit its buffer makes FreeTDS report CS_ROW_FAIL after copying what
  // fits: the row is shown with the cut value rather than dropped.
  if (r != CS_SUCCEED && r != CS_ROW_FAIL) {
    if (r == CS_END_DATA) LogMonitor(QStringLiteral("CS_END_DATA"));
    return FetchResult::Stop;
  }
  for (int c = 0; c < n; ++c) rowRecs_.GetItem(c)->Text = BufferText(rowRecs_.GetItem(c));
  if (Monitor)
    for (int c = 1; c <= n; ++c)
      LogMonitor(QStringLiteral("SQL Data Out: Column = %1, Name = %2, Type = %3, Precision = %4, Scale = %5, Data = %6")
                     .arg(c).arg(ColumnName(c), ColumnTypeName(c))
                     .arg(rowCols_.GetItem(c - 1)->Precision).arg(rowCols_.GetItem(c - 1)->Scale)
                     .arg(ColumnText(c)));
  if (LumicDtFmt)
    for (int c = 1; c <= n; ++c) {
      const QString tn = ColumnTypeName(c);
      TCSRecordData* rec = rowRecs_.GetItem(c - 1);
      if ((tn == QLatin1String("datetime") || tn == QLatin1String("smalldatetime")) && !rec->Text.trimmed().isEmpty())
        rec->Text = DateTimeText(rec->Text);
    }
  if (cursorMode_) ++rowCount_;
  ++runRows_;
  ++setRows_;
  QString texts[1];
  (void)texts;
  // The row's cells are made before the lock is taken; under it they are only moved in.
  std::vector<QString> cellTexts(static_cast<size_t>(n) + 1);
  std::vector<int> lens(static_cast<size_t>(n));
  for (int c = 1; c <= n; ++c) {
    QString t = ColumnText(c);
    lens[c - 1] = t.size();
    if (ColumnIsNull(c) && UseNULLString) t = NULLString;
    if (t.isEmpty()) t = QStringLiteral(" ");
    cellTexts[static_cast<size_t>(c)] = std::move(t);
  }
  QString num = QStringLiteral(" ");
  if (ShowLineNum && writePos_ > 0) num = QString::number(lineNum_);
  if (static_cast<int>(widths_.size()) <= n) widths_.resize(static_cast<size_t>(n) + 1, 10);
  for (int c = 1; c <= n; ++c) {
    const int need = lens[c - 1] * kWidthFactor;
    if (need > widths_[c]) widths_[c] = need;
  }
  cells_.Edit([&](TGridCellData& d) {
    if (num.size() > widestLineNum_) {
      widestLineNum_ = num.size();
      d.SetColWidth(0, widestLineNum_ * kWidthFactor + 5);
    }
    cellTexts[0] = std::move(num);
    d.SetRow(writePos_, std::move(cellTexts));
    ++writePos_;
    d.SetRowCount(d.rowCount + 1);
    ++lineNum_;
    largestCols_ = std::max(largestCols_, n);
    d.SetColCount(largestCols_ + 1);
    for (int c = 1; c <= largestCols_ && c < static_cast<int>(widths_.size()); ++c)
      if (d.ColWidth(c) < widths_[c]) d.SetColWidth(c, widths_[c]);
  });
  if (inBackground_) model_->RequestRefresh();
  Fire(OnResultRow);
  if (MaxRows > 0 && runRows_ >= MaxRows) {
    Fire(OnMaxRows);
    rowCount_ = setRows_;
    WriteRowCount();
    countWritten_ = true;
    return FetchResult::MaxRows;
  }
  return FetchResult::Continue;
}

void TQorixGrid::WriteRowCount() {
  if (!ShowRowCount) return;
  const int shown = (!ShowComputes && numComputes_ > 0) ? rowCount_ - numComputes_ : rowCount_;
  const QString line = QStringLiteral("(") + QString::number(shown) + QStringLiteral(" rows affected)");
  const QString first = QStringLiteral("(") + QString::number(rowCount_ - numComputes_) + QStringLiteral(" rows affected)");
  cells_.Edit([&](TGridCellData& d) {
    if (d.ColWidth(1) < first.size() * kWidthFactor) d.SetColWidth(1, static_cast<int>(first.size()) * kWidthFactor);
    if (widths_.size() < 2) widths_.resize(2, 10);
    widths_[1] = std::max(widths_[1], d.ColWidth(1));
    d.SetCell(1, writePos_, line);
    d.SetRowCount(d.rowCount + 1);
    ++writePos_;
  });
}

void TQorixGrid::HandleCompute() {
  // The number of computes the row-count line takes off with ShowComputes off: the library's
  // count of the statement's compute clauses (the facade reads them from the statement).
  CS_INT computes = 0;
  if (ctlib::ct_res_info(command_, CS_NUM_COMPUTES, &computes, CS_UNUSED, nullptr) == CS_SUCCEED)
    numComputes_ = computes;
  LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_NUM_COMPUTES) - Number of Computes : ") +
             QString::number(numComputes_));
  CS_INT m = 0;
  ctlib::ct_res_info(command_, CS_NUMDATA, &m, CS_UNUSED, nullptr);
  LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns in Compute : ") + QString::number(m));
  compCols_n_ = m;
  if (m <= 0) {
    DrainRows();
    return;
  }
  BindColumns(m, compRecs_, paramCols_ /*scratch*/, compFmts_, false);
  compCols_.Clear();
  compCols_.AddColumns(m);
  for (int i = 1; i <= m; ++i) {
    CS_INT v = 0;
    ctlib::ct_compute_info(command_, CS_COMP_OP, i, &v, CS_UNUSED, nullptr);
    compCols_.GetItem(i - 1)->Operator = v;
    v = 0;
    ctlib::ct_compute_info(command_, CS_COMP_COLID, i, &v, CS_UNUSED, nullptr);
    compCols_.GetItem(i - 1)->ColumnId = v;
  }
  paramCols_.Clear();
  resultFlag_ = true;
  CS_INT rows = 0;
  const CS_RETCODE r = ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  if (r == CS_SUCCEED || r == CS_ROW_FAIL) {
    for (int i = 0; i < m; ++i) compRecs_.GetItem(i)->Text = BufferText(compRecs_.GetItem(i));
    if (ShowComputes) {
      cells_.Edit([&](TGridCellData& d) {
        for (int i = 1; i <= m; ++i) {
          const int col = std::max<CS_INT>(1, compCols_.GetItem(i - 1)->ColumnId);
          const QString op = ComputeOperatorName(i);
          if (col >= static_cast<int>(widths_.size())) widths_.resize(static_cast<size_t>(col) + 1, 10);
          d.SetCell(col, writePos_, op);
          if (d.ColWidth(col) < op.size() * kWidthFactor) d.SetColWidth(col, static_cast<int>(op.size()) * kWidthFactor);
          d.SetRowCount(d.rowCount + 1);
          ++writePos_;
          QString t = ComputeText(i);
          if (d.ColWidth(col) < t.size() * kWidthFactor) d.SetColWidth(col, static_cast<int>(t.size()) * kWidthFactor);
          if (t.isEmpty()) t = QStringLiteral(" ");
          d.SetCell(col, writePos_, t);
          widths_[col] = std::max(widths_[col], d.ColWidth(col));
          d.SetRowCount(d.rowCount + 1);
          ++writePos_;
          if (col > largestCols_) {
            largestCols_ = col;
            d.SetColCount(largestCols_ + 1);
          }
        }
      });
    }
    if (Monitor)
      for (int i = 1; i <= m; ++i)
        LogMonitor(QStringLiteral("SQL Compute Data Out: Column = %1, Select-Column Name= %2, Type = %3, Agg Function = %4, Data = %5")
                       .arg(i).arg(compCols_.GetItem(i - 1)->ColumnId <= rowCols_.Count() && compCols_.GetItem(i - 1)->ColumnId > 0
                                       ? ColumnName(compCols_.GetItem(i - 1)->ColumnId) : QString())
                       .arg(CSDataTypeName(compFmts_[i - 1].datatype), ComputeOperatorName(i), ComputeText(i)));
    Fire(OnComputeRow);
    DrainRows();
  }
  compRecs_.FreeBuffers();
}

void TQorixGrid::WriteReturnStatus() {
  LogMonitor(QStringLiteral("Flow : ** Start of obtaining Return Status **"));
  CS_DATAFMT fmt{};
  statusValue_ = 0;
  CS_INT copied = 0;
  CS_SMALLINT ind = 0;
  if (ctlib::ct_describe(command_, 1, &fmt) == CS_SUCCEED) {
    fmt.format = CS_FMT_UNUSED;
    fmt.datatype = CS_INT_TYPE;
    fmt.maxlength = sizeof(CS_INT);
    fmt.count = 1;
    ctlib::ct_bind(command_, 1, &fmt, &statusValue_, &copied, &ind);
  }
  CS_INT rows = 0;
  ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  returnStatus_ = statusValue_;
  LogMonitor(QStringLiteral("Open-Client: Return Status = ") + QString::number(returnStatus_));
  if (ShowReturnStatus) {
    cells_.Edit([&](TGridCellData& d) {
      // The line takes the blank separator line the previous command left, but never a
      // fixed row or a line that holds something. With KeepHeader a status before any
      // header leaves the fixed row to the first header.
      const int firstOut = d.fixedRows;
      if (writePos_ < firstOut) {
        d.SetRowCount(d.rowCount + (firstOut - writePos_));
        writePos_ = firstOut;
        headerToFixedRow_ = KeepHeader && showHeader_;
      }
      bool up = writePos_ - 1 >= firstOut && d.Cell(1, writePos_ - 1).isEmpty() && d.Cell(0, writePos_ - 1).isEmpty();
      if (up) --writePos_;
      else d.SetRowCount(d.rowCount + 1);
      d.SetCell(1, writePos_, QStringLiteral("(return status = ") + QString::number(returnStatus_) + QLatin1Char(')'));
      d.SetRowCount(d.rowCount + 1);
      writePos_ += 2;
    });
  }
  LogMonitor(QStringLiteral("Open-Client: Return Status = ") + QString::number(returnStatus_));
  Fire(OnReturnStatus);
  if (AbortOnNegStatus && returnStatus_ < 0 && RaiseOnError) {
    CancelResults();
    throw EAbort();
  }
  DrainRows();
  LogMonitor(QStringLiteral("Flow : ** End of obtaining Return Status **"));
}

void TQorixGrid::HandleReturnParams() {
  LogMonitor(QStringLiteral("Flow : ** Start of obtaining Return parameters **"));
  CS_INT p = 0;
  ctlib::ct_res_info(command_, CS_NUMDATA, &p, CS_UNUSED, nullptr);
  LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of parameters : ") + QString::number(p));
  BindColumns(p, paramRecs_, paramCols_, paramFmts_, false);
  CS_INT rows = 0;
  CS_RETCODE r;
  while ((r = ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows)) == CS_SUCCEED || r == CS_ROW_FAIL)
    for (int i = 0; i < p; ++i) paramRecs_.GetItem(i)->Text = BufferText(paramRecs_.GetItem(i));
  if (Monitor)
    for (int i = 1; i <= p; ++i)
      LogMonitor(QStringLiteral("SQL Parameter Data Out: Column = %1, Parameter Name= %2, Type = %3, Data = %4")
                     .arg(i).arg(ParamName(i), CSDataTypeName(paramFmts_[i - 1].datatype), ParamText(i)));
  Fire(OnReturnParams);
  LogMonitor(QStringLiteral("Flow : ** End of obtaining Return parameters **"));
}

void TQorixGrid::WriteCompleteMsg() {
  cells_.Edit([&](TGridCellData& d) {
    if (d.ColWidth(1) < CompleteMsg.size() * kWidthFactor)
      d.SetColWidth(1, static_cast<int>(CompleteMsg.size()) * kWidthFactor);
    d.SetCell(1, writePos_, CompleteMsg);
  });
}

// ---------------------------------------------------------------- export

QByteArray TQorixGrid::ExportText(bool allRows, int format, const QString& delimiter) const {
  int top, bottom, left, right;
  cells_.Read([&](const TGridCellData& d) {
    if (allRows) {
      top = KeepHeader ? 0 : 1;
      bottom = d.rowCount - 1;
      left = 1;
      right = d.colCount - 1;
    } else {
      top = Selection.top;
      bottom = Selection.bottom;
      left = Selection.left;
      right = Selection.right;
    }
  });
  QString out;
  const QString crlf = QStringLiteral("\r\n");
  // A field that would break its record is quoted as RFC 4180 does (inner quotes doubled):
  // in the comma format when it holds the comma, a quote or a line end; in the TAB and
  // chosen-delimiter formats when it holds the separator or a line end.
  auto quoted = [](const QString& s) {
    QString q = s;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
  };
  auto breaksLine = [](const QString& s) { return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r')); };
  if (format == 1 || format == 2 || format == 5) {
    const QString sep = format == 1 ? QStringLiteral("\t") : format == 2 ? QStringLiteral(",") : delimiter;
    for (int r = top; r <= bottom; ++r) {
      QStringList fields;
      for (int c = left; c <= right; ++c) {
        const QString t = TrimControls(Cell(c, r));
        const bool quote = breaksLine(t) || (!sep.isEmpty() && t.contains(sep)) ||
                           (format == 2 && t.contains(QLatin1Char('"')));
        fields << (quote ? quoted(t) : t);
      }
      out += fields.join(sep) + crlf;
    }
  } else if (format == 0) {
    for (int r = top; r <= bottom; ++r) {
      QString line = Cell(left, r);
      QString prev = line;
      int w = RoundEven(static_cast<double>(ColWidth(left)) / kWidthFactor);
      for (int c = left + 1; c <= right; ++c) {
        if (!prev.isEmpty()) {
          const int pad = w - static_cast<int>(prev.size()) + 1;
          if (pad > 0) line += QString(pad, QLatin1Char(' '));
        }
        const QString t = Cell(c, r);
        line += t;
        prev = t;
        w = RoundEven(static_cast<double>(ColWidth(c)) / kWidthFactor);
      }
      out += line + crlf;
    }
  } else if (format == 6) {
    QString server = database_ ? database_->GetServerName() : QString();
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale loc;
    QString when = loc.toString(now.date(), QLocale::ShortFormat);
    if (now.time() != QTime(0, 0)) when += QLatin1Char(' ') + loc.toString(now.time(), QLocale::LongFormat);
    for (const char* l : {"<HTML>", "<P>", "</TABLE>", "<TABLE WIDTH=100% CELLPADDING=1 BORDER=2>", "<TR>"})
      out += QString::fromLatin1(l) + crlf;
    out += QStringLiteral("<TD BGCOLOR=#ccccff><FONT FACE=\"ARIAL\" SIZE=3>Server : ") + server.toHtmlEscaped() +
           QStringLiteral("<BR>Date : ") + when.toHtmlEscaped() + QStringLiteral("</FONT></TD>") + crlf;
    for (const char* l : {"</TR>", "</TABLE>", "", "<TABLE CELLPADDING=2 WIDTH=100% BORDER=2>"})
      out += QString::fromLatin1(l) + crlf;
    for (int r = top; r <= bottom; ++r) {
      out += QStringLiteral("<TR>") + crlf;
      for (int c = left; c <= right; ++c) {
        const QString t = TrimControls(Cell(c, r));
        out += QStringLiteral("<TD ALIGN=LEFT VALIGN=top><FONT FACE=\"ARIAL\" SIZE=2>") +
               (t.isEmpty() ? QStringLiteral("<BR>") : t.toHtmlEscaped()) + QStringLiteral("</FONT></TD>") + crlf;
      }
      out += QStringLiteral("</TR>") + crlf;
    }
    out += QStringLiteral("</TABLE>") + crlf + QStringLiteral("</HTML>") + crlf;
  }
  return out.toUtf8();
}

void TQorixGrid::ExportToFile(bool allRows, int format, const QString& fileName, const QString& delimiter) {
  const QByteArray text = ExportText(allRows, format, delimiter);
  QFile f(fileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size() || !f.flush()) {
    UiServices().MessageBox(Format(LoadResString(QorixRes::SErrorAccessingFile), {fileName}), QStringLiteral("QorixGrid"),
                            TMsgBoxIcon::Stop);
  }
}

// ---------------------------------------------------------------- view

TQorixGridView::TQorixGridView(TQorixGrid* grid, QWidget* parent) : QTableView(parent), grid_(grid) {
  setModel(grid->Model());
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(20);
  QFont f(QStringLiteral("Courier"));
  f.setStyleHint(QFont::TypeWriter);
  f.setPointSize(9);
  setFont(f);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  connect(grid->Model(), &TGridCellModel::Refreshed, this, [this] { ApplyWidths(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    const QModelIndexList sel = selectionModel()->selectedIndexes();
    if (sel.isEmpty()) return;
    TQorixGrid::TSelection s{sel.first().column(), sel.first().row(), sel.first().column(), sel.first().row()};
    for (const QModelIndex& i : sel) {
      s.left = std::min(s.left, i.column());
      s.right = std::max(s.right, i.column());
      s.top = std::min(s.top, i.row());
      s.bottom = std::max(s.bottom, i.row());
    }
    grid_->Selection = s;
  });
  ApplyWidths();
}

void TQorixGridView::ApplyWidths() {
  const int n = grid_->Model()->columnCount();
  for (int c = 0; c < n; ++c) setColumnWidth(c, grid_->ColWidth(c));
}
