// TQorixGrid's component side: properties, the run from Execute to its end in the calling
// thread or on the Threadgrid worker, Stop, the batch cut and the events a background run
// hands to the GUI thread. The result loop is in QorixGridResults.cpp, the export in
// QorixGridExport.cpp.
#include "catalog/grid/QorixGrid.h"

#include <QLocale>
#include <QThread>
#include <QTime>
#include <algorithm>
#include <chrono>
#include <thread>

#include "access/QorixDatabase.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "catalog/grid/GridText.h"

using gridtext::TrimControls;

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
  grid_->SendAttention();
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
  if (inBackground_) Queue(ev);
  else ev(this);
}

void TQorixGrid::Queue(const TNotifyEvent& ev) {
  // Handlers may touch widgets: they run on the GUI thread, in firing order. By then the
  // worker has moved on and may have freed the buffers the event was about: each event
  // takes a copy of the state it was fired in (the texts are shared, not copied).
  auto state = std::make_shared<const TGridResultState>(live_);
  QMetaObject::invokeMethod(this, [this, ev, state] { Deliver(ev, state); }, Qt::QueuedConnection);
}

void TQorixGrid::Deliver(const TNotifyEvent& ev, const std::shared_ptr<const TGridResultState>& state) {
  shown_ = state;
  const TGridResultState* outer = std::exchange(handling_, state.get());
  // Nothing a handler raises crosses the event loop.
  GuardedCall([&] { ev(this); });
  handling_ = outer;
}

const TGridResultState& TQorixGrid::State() const {
  static const TGridResultState kNothingYet;
  if (QThread::currentThread() != thread()) return live_;
  if (handling_) return *handling_;
  if (inBackground_) return shown_ ? *shown_ : kNothingYet;
  return live_;
}

void TQorixGrid::SetLastError(const QString& text) {
  TQorixDiagTarget::SetLastError(text);
  live_.lastError = text;
}

void TQorixGrid::SetLastMessage(const QString& text) {
  TQorixDiagTarget::SetLastMessage(text);
  live_.lastMessage = text;
}

void TQorixGrid::SendAttention() {
  if (!connection_) return;
  LogMonitor(QStringLiteral("Open-Client: ct_cancel(CS_CANCEL_ATTN)"));
  ctlib::ct_cancel(connection_, nullptr, CS_CANCEL_ATTN);
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
    // ct_results keeps returning a row result while rows are pending: each result's rows are
    // read to their end. Not with FreeTDS's cancel of the current result, which also drops
    // the statement's compute formats, so that its next compute row ends the connection.
    CS_INT type = 0;
    while (ctlib::ct_results(command_, &type) == CS_SUCCEED)
      if (type == CS_ROW_RESULT || type == CS_CURSOR_RESULT || type == CS_COMPUTE_RESULT ||
          type == CS_PARAM_RESULT || type == CS_STATUS_RESULT)
        DrainRows();
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
  live_.returnStatus = 0;
  ClearResultState();
  shown_.reset();
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
        *diag[i] = [this, h](TComponent*) { Queue(h); };
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
  if (HeaderKept()) cells_.Edit([](TGridCellData& d) { d.SetRowCount(d.rowCount - 1); });
  if (inBackground_) model_->RequestRefresh();
  Fire(AfterExec);
  LogMonitor(QStringLiteral("Flow : ** End of EXECUTE **"));
}

void TQorixGrid::ThreadDone() {
  // GUI thread, after the worker's body returned.
  if (worker_) worker_->Join();
  if (stopTimer_) stopTimer_->stop();
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
      // Only the worker that was asked to stop: a later run's worker is never cancelled.
      if (!worker_ || !worker_->Running() || !worker_->Terminated() || worker_->Cancel()) stopTimer_->stop();
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
