// TQorixCustomQuery's run: the database check, the send step, the result loop, row fetching,
// Next, cancelling, the message check, owner routing and tracing. Columns, binding,
// parameters, cursors and prepared statements are in QorixQueryColumns.cpp.

#include <cxxabi.h>

#include <QDateTime>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include "access/QorixBase.h"
#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/SybType.h"

namespace {

// The class name of Component as written in the source ("TQorixDatabase"), for the owner
// routing that recognises owners by name.
QString ClassNameOf(const TComponent* component) {
  const char* mangled = typeid(*component).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  QString name = QString::fromLatin1(status == 0 && demangled ? demangled : mangled);
  std::free(demangled);
  return name;
}

}  // namespace

TAutoDatabaseFactory& AutoDatabaseFactory() {
  static TAutoDatabaseFactory factory;
  return factory;
}

// Names and ids made from clock digits alone collide within a millisecond and between
// engines, so each gets the next number of one process-wide counter appended.
QString TQorixCustomQuery::NextSerial() {
  static std::atomic<unsigned> counter{0};
  return QString::number(++counter);
}

QString TQorixCustomQuery::NewCursorName() {
  const QTime t = QTime::currentTime();
  return QString::number(t.hour()) + QString::number(t.minute()) + QString::number(t.second()) +
         QString::number(t.msec()) + QLatin1Char('_') + NextSerial();
}

TQorixCustomQuery::TQorixCustomQuery(TComponent* owner) : TComponent(owner) {
  SetShowDbMessages({smDbMsg, smDbErr});
}

TQorixCustomQuery::~TQorixCustomQuery() {
  try {
    CloseCommand();
  } catch (...) {
    // A destructor never raises; the connection reports its own state later.
  }
  DropCommand(command_);
  DropCommand(prepareCommand_);
  rowValues_.FreeBuffers();
  paramValues_.FreeBuffers();
  computeValues_.FreeBuffers();
  // The private connection is owned by the engine and destroyed with it by TComponent.
}

void TQorixCustomQuery::SetDatabase(TQorixDatabaseBase* database) {
  if (database_ == database) return;
  if (database_) RemoveFreeNotification(database_);
  database_ = database;
  if (database_) FreeNotification(database_);
}

void TQorixCustomQuery::SetAutoDb(bool value) {
  autoDb_ = value;
  if (value) UseDbParams = true;
}

void TQorixCustomQuery::SetMsgDialogs(const TMsgDialogs& value) {
  msgDialogs_ = value;
  flagEnhMsg_ = value.Contains(mdEnhMsg);
  flagEnhErr_ = value.Contains(mdEnhErr);
}

void TQorixCustomQuery::SetShowDbMessages(const TShowDbMessages& value) {
  showDbMessages_ = value;
  flagShowMsg_ = value.Contains(smDbMsg);
  flagShowErr_ = value.Contains(smDbErr);
}

void TQorixCustomQuery::SetSQL(const QStringList& lines) {
  if (lines.join(QLatin1Char('\n')) == SQLText()) return;
  sql_ = lines;
  SQLChanged();
}

void TQorixCustomQuery::AddSQL(const QString& line) {
  sql_.append(line);
  SQLChanged();
}

void TQorixCustomQuery::ClearSQL() {
  if (sql_.isEmpty()) return;
  sql_.clear();
  SQLChanged();
}

void TQorixCustomQuery::SQLChanged() {
  // The free-SQL engine: ":name" markers become "?" and create the parameter list.
  TParams parsed;
  textToPrepare_ = parsed.ParseSQL(SQLText(), true);
  parsed.AssignValues(params_);
  if (autoGetParams_) params_.Assign(parsed);
  for (int i = 0; i < params_.Count(); ++i) params_[i].ParamType = ptInput;
  baseText_ = SQLText();
}

void TQorixCustomQuery::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove) {
    if (component == database_) {
      // The connection is gone or going; its commands are only freed, never cancelled.
      DropCommand(command_);
      DropCommand(prepareCommand_);
      database_ = nullptr;
      prepared_ = false;
      cursorOpen_ = false;
      connection_ = nullptr;
    }
    if (component == privateDb_) privateDb_ = nullptr;
  }
}

// ---- diagnostics routing ----

void TQorixCustomQuery::RouteToOwner(int kind, const QString* text, const CS_SERVERMSG* msg) {
  TComponent* owner = Owner();
  if (!owner) return;
  const QString name = ClassNameOf(owner).toUpper();
  if (name != QLatin1String("TQORIXDATABASE") && name != QLatin1String("TQORIXOBJINFO")) return;
  auto* target = dynamic_cast<TQorixDiagTarget*>(owner);
  if (!target) return;
  if (kind == 0) target->SetLastError(*text);
  if (kind == 1) target->SetLastMessage(*text);
  if (kind == 2) target->SetLastServerMsg(*msg);
}

void TQorixCustomQuery::SetLastError(const QString& text) {
  TQorixDiagTarget::SetLastError(text);
  RouteToOwner(0, &text, nullptr);
}

void TQorixCustomQuery::SetLastMessage(const QString& text) {
  TQorixDiagTarget::SetLastMessage(text);
  RouteToOwner(1, &text, nullptr);
}

void TQorixCustomQuery::SetLastServerMsg(const CS_SERVERMSG& msg) {
  TQorixDiagTarget::SetLastServerMsg(msg);
  RouteToOwner(2, nullptr, &msg);
}

void TQorixCustomQuery::MonitorLine(const QString& text) const {
  if (!Monitor || !Owner()) return;
  SendToSqlMonitor(reinterpret_cast<THandle>(Owner()), text);
}

void TQorixCustomQuery::CheckMessages(bool raiseOnError) {
  if (!connection_ || !database_ || database_->ConnectionHandle() != connection_) return;
  const CS_SERVERMSG srv{};
  const CS_CLIENTMSG cli{};
  ProcessDiagMessages(connection_, srv, cli, this, raiseOnError && raiseOnError_, flagEnhErr_, flagEnhMsg_,
                      flagShowMsg_, flagShowErr_);
}

// ---- the run ----

void TQorixCustomQuery::CheckDatabase() {
  if (IsLoading()) return;
  if (database_) return;
  if (DbName.trimmed().isEmpty()) RaiseMissingError(LoadResString(QorixRes::SDatabaseOrDbNameRequired), this);
  SetDatabase(FindDatabase(DbName));
  // A name that finds nothing would leave the run without a connection: say so.
  if (!database_)
    RaiseMissingError(Format(LoadResString(QorixRes::SDatabaseComponentNotFound), {DbName}), nullptr);
}

int TQorixCustomQuery::Open() {
  // An AutoDb engine makes its own connection: it needs no DbName to find one.
  if (!autoDb_) CheckDatabase();
  if (autoDb_) {
    if (!privateDb_) {
      const TAutoDatabaseFactory& factory = AutoDatabaseFactory();
      if (!factory) RaiseMissingError(LoadResString(QorixRes::SDatabaseOrDbNameRequired), this);
      privateDb_ = factory(this);
      if (!privateDb_) RaiseMissingError(LoadResString(QorixRes::SDatabaseOrDbNameRequired), this);
      FreeNotification(privateDb_);
      DbName = privateDb_->Name();
    }
    if (UseDbParams) privateDb_->ApplyDbParams(AutoDbParams);
    // The private connection joins the database list only from its login on: link it
    // directly so the run never goes on without a connection.
    SetDatabase(privateDb_);
  }
  stopAfterStatus_ = false;
  SetBaseText();
  processAll_ = false;
  const int result = SQLExec();
  if (AfterExec) AfterExec(this);
  return result;
}

int TQorixCustomQuery::ExecSQL() {
  CheckDatabase();
  stopAfterStatus_ = false;
  SetBaseText();
  processAll_ = true;
  int result = 0;
  try {
    result = SQLExec();
  } catch (...) {
    Cancel(CS_CANCEL_ALL);
    throw;
  }
  Cancel(CS_CANCEL_ALL);
  if (AfterExec) AfterExec(this);
  return result;
}

void TQorixCustomQuery::ResetRunState() {
  TQorixDiagTarget::SetLastMessage(QString());
  TQorixDiagTarget::SetLastError(QString());
  TQorixDiagTarget::SetLastServerMsg(CS_SERVERMSG{});
  computeColumnCount_ = 0;
  if (!prepared_) cursorName_ = NewCursorName() + QStringLiteral("cur1");
  returnStatus_ = 0;
  rowPending_ = resultsPending_ = resultsEnded_ = atEndData_ = cursorOpening_ = false;
  SetShowDbMessages(showDbMessages_);
  hasRows_ = false;
  rowCount_ = totalRows_ = rowsFetched_ = 0;
  history_.clear();
  historyPos_ = 0;
  cursorBatchRows_ = cursorBatchPos_ = 0;
  deferredFetch_ = CS_SUCCEED;
}

int TQorixCustomQuery::SQLExec() {
  CheckDatabase();
  if (!database_) return 0;
  database_->ResetIdleTimer();
  if (AutoConnect && !database_->IsConnected()) {
    database_->DoConnect();
    if (!database_->IsConnected())
      DatabaseError(Format(LoadResString(QorixRes::SCannotLogin), {database_->GetServerName()}), nullptr);
  }
  GetServerType();
  // A statement kept prepared by the previous Open is released before anything else runs.
  if (prepared_) UnPrepare();
  ReleaseRowBuffers();
  columnCount_ = 0;
  history_.clear();
  ResetRunState();
  if (SendText().trimmed().isEmpty()) DatabaseError(LoadResString(QorixRes::SNoSQLStatement), this);
  if (!database_->IsConnected()) return 0;
  commandNumber_ = 0;
  CheckParamTypes();
  AllocCommand(command_);
  // Parameters go with a prepared statement, except through a cursor (declared over the text
  // with the values as quoted literals) and for procedures (bound to the RPC).
  if (!params_.IsEmpty() && !prepared_ && StoredProcName().trimmed().isEmpty() && !IsCursor) Prepare();

  int result = 0;
  if (BeforeExec) BeforeExec(this);
  rowPending_ = false;
  resultsPending_ = true;
  try {
    // The cancel ahead of the send must not release the statement about to be executed.
    sending_ = true;
    result = ExecuteCommand(SendText());
    sending_ = false;
    if (processAll_) ProcessResults();
  } catch (...) {
    sending_ = false;
    if (prepared_) UnPrepare();
    throw;
  }
  // Open keeps the statement until its rows are read: unpreparing cancels what is pending.
  if (prepared_ && processAll_) UnPrepare();
  MonitorLine(QStringLiteral("Flow : ** End of SQLExec **"));
  return result;
}

QString TQorixCustomQuery::SendText() const {
  return baseText_.isEmpty() && StoredProcName().isEmpty() ? SQLText() : baseText_;
}

void TQorixCustomQuery::DropCommand(CS_COMMAND*& command) {
  if (!command) return;
  // Safe also after the connection was dropped: FreeTDS then only frees the command.
  ctlib::ct_cmd_drop(command);
  command = nullptr;
}

bool TQorixCustomQuery::CommandAlive(CS_COMMAND* command) const {
  if (!command || !database_) return false;
  CS_CONNECTION* parent = nullptr;
  if (ctlib::ct_cmd_props(command, CS_GET, CS_PARENT_HANDLE, &parent, CS_UNUSED, nullptr) != CS_SUCCEED)
    return false;
  return parent && parent == database_->ConnectionHandle();
}

void TQorixCustomQuery::ForgetOrphans() {
  // A disconnect drops the connection but leaves its commands behind, detached; cancelling
  // one of them would dereference the missing connection inside FreeTDS.
  if (command_ && !CommandAlive(command_)) {
    DropCommand(command_);
    cursorOpen_ = false;
    rowPending_ = resultsPending_ = false;
    resultsEnded_ = true;
  }
  if (prepareCommand_ && !CommandAlive(prepareCommand_)) {
    DropCommand(prepareCommand_);
    prepared_ = false;
  }
  connection_ = database_ ? database_->ConnectionHandle() : nullptr;
}

void TQorixCustomQuery::AllocCommand(CS_COMMAND*& command) {
  ForgetOrphans();
  if (command && command == command_) Cancel(CS_CANCEL_ALL);
  if (command) {
    MonitorLine(QStringLiteral("Open-Client: ct_cmd_drop"));
    DropCommand(command);
  }
  connection_ = database_->ConnectionHandle();
  context_ = database_->ContextHandle();
  if (ctlib::ct_cmd_alloc(connection_, &command) != CS_SUCCEED) {
    command = nullptr;
    CheckMessages(true);
    DatabaseError(LoadResString(QorixRes::SCommandFailed), this);
  }
}

void TQorixCustomQuery::CloseCommand() {
  ForgetOrphans();
  CloseCursor();
  if (database_ && database_->IsConnected() && command_) {
    Cancel(CS_CANCEL_ALL);
    if (prepared_) UnPrepare();
    MonitorLine(QStringLiteral("Open-Client: ct_cmd_drop"));
    DropCommand(command_);
  }
}

int TQorixCustomQuery::ExecuteCommand(const QString& text) {
  Cancel(CS_CANCEL_ALL);
  try {
    QByteArray utf8 = text.toUtf8();
    if (IsCursor) {
      const CS_INT option = ReadOnly ? CS_READ_ONLY : CS_FOR_UPDATE;
      // FreeTDS implements neither a cursor on a prepared statement nor parameters on cursor
      // commands: the cursor is declared over the text with the values as quoted literals.
      if (!params_.IsEmpty()) utf8 = ParamsAsLiterals().toUtf8();
      QByteArray name = cursorName_.toUtf8();
      MonitorLine(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_DECLARE)"));
      ctlib::ct_cursor(command_, CS_CURSOR_DECLARE, name.data(), CS_NULLTERM, utf8.data(), CS_NULLTERM,
                       option);
      CheckMessages(true);
      // A blob column cannot be bound as an array: TextImage reads one row per fetch.
      cursorRowsPerFetch_ = TextImage ? 1 : std::max(1, CurFetchRows);
      MonitorLine(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_ROWS)"));
      ctlib::ct_cursor(command_, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, cursorRowsPerFetch_);
      ctlib::ct_cursor(command_, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED);
      CheckMessages(true);
      MonitorLine(QStringLiteral("SQL Execute: ") + text);
      if (ctlib::ct_send(command_) != CS_SUCCEED) {
        CheckMessages(true);
        DatabaseError(LoadResString(QorixRes::SCommandFailed), this);
      }
      cursorOpen_ = true;
      CheckMessages(true);
      // The declare, rows and open acknowledgements come ahead of the cursor's rows; the
      // result loop skips them instead of counting four blind ct_results calls.
      cursorOpening_ = true;
    } else if (prepared_) {
      QByteArray id = sentStatementId_.toUtf8();
      ctlib::ct_dynamic(command_, CS_EXECUTE, id.data(), CS_NULLTERM, nullptr, CS_UNUSED);
      CheckMessages(true);
      BindParams(command_);
      MonitorLine(QStringLiteral("SQL Execute: ") + text);
      ctlib::ct_send(command_);
      CheckMessages(true);
    } else if (commandMode_ == TCommandMode::Rpc) {
      MonitorLine(QStringLiteral("SQL Execute: ") + text);
      const QString own = OwnSQLText();
      if (own.isEmpty()) {
        QByteArray name = text.trimmed().toUtf8();
        ctlib::ct_command(command_, CS_RPC_CMD, name.constData(), CS_NULLTERM, CS_NO_RECOMPILE);
        CheckMessages(true);
        BindParams(command_);
      } else {
        QByteArray own8 = own.toUtf8();
        ctlib::ct_command(command_, CS_LANG_CMD, own8.constData(), CS_NULLTERM, CS_UNUSED);
      }
      CheckMessages(true);
      ctlib::ct_send(command_);
      CheckMessages(true);
    } else {
      ctlib::ct_command(command_, CS_LANG_CMD, utf8.constData(), CS_NULLTERM, CS_UNUSED);
      CheckMessages(true);
      ctlib::ct_send(command_);
      CheckMessages(true);
      MonitorLine(QStringLiteral("SQL Execute: ") + text);
    }
  } catch (...) {
    Cancel(CS_CANCEL_ALL);
    throw;
  }
  // The cancel ahead of the send ended the previous run's results, not this one's.
  resultsPending_ = true;
  resultsEnded_ = false;
  return 1;
}

// One ct_results and its message check; an exception cancels the command first.
#define QX_RESULTS(ret)                              \
  do {                                               \
    ret = ctlib::ct_results(command_, &resultType_); \
    try {                                            \
      CheckMessages(true);                           \
    } catch (...) {                                  \
      if (prepared_) UnPrepare();                    \
      Cancel(CS_CANCEL_ALL);                         \
      throw;                                         \
    }                                                \
  } while (0)

int TQorixCustomQuery::ProcessResults() {
  int result = 0;
  // After CS_END_DATA the loop goes on through the following results (row counts,
  // AfterCommand, the next row result's header and first row) but reports no row: the
  // iterative form of a loop that used to recurse once per further result set.
  bool passedEndData = false;
  if (resultsEnded_ || !command_) return 0;
  CS_RETCODE ret;
  QX_RESULTS(ret);
  while (ret == CS_SUCCEED) {
    result = 1;
    MonitorLine(QStringLiteral("CS_SUCCEED"));
    if (cursorOpening_ && (resultType_ == CS_CMD_SUCCEED || resultType_ == CS_CMD_DONE)) {
      QX_RESULTS(ret);
      continue;
    }
    switch (resultType_) {
      case CS_CMD_DONE: {
        MonitorLine(QStringLiteral("CS_CMD_DONE"));
        if (!IsCursor) {
          CS_INT count = -1;
          if (ctlib::ct_res_info(command_, CS_ROW_COUNT, &count, CS_UNUSED, nullptr) == CS_SUCCEED &&
              count >= 0) {
            rowCount_ = count;
            totalRows_ += count;
          }
        }
        MonitorLine(QStringLiteral("Open-Client: ct_res_info(CS_ROW_COUNT) - Number of rows : ") +
                    QString::number(rowCount_));
        if (AfterCommand) AfterCommand(this);
        if (!TextImage) ReleaseRowBuffers();
        result = 0;
        break;
      }
      case CS_CMD_SUCCEED: {
        MonitorLine(QStringLiteral("CS_CMD_SUCCEED"));
        CS_INT count = -1;
        // No extra ct_results for a count of -1: it would swallow a status or parameter result.
        if (ctlib::ct_res_info(command_, CS_ROW_COUNT, &count, CS_UNUSED, nullptr) == CS_SUCCEED &&
            count >= 0) {
          rowCount_ = count;
          totalRows_ += count;
        }
        hasRows_ = false;
        if (!KeepHistory) columnCount_ = 0;
        if (AfterCommand) AfterCommand(this);
        break;
      }
      case CS_CMD_FAIL: {
        MonitorLine(QStringLiteral("CS_CMD_FAIL"));
        const int number = LastServerMsg().msgnumber;
        if (number == 4022 || number == 7742) return result;
        hasRows_ = false;
        Cancel(CS_CANCEL_ALL);
        DatabaseError(LoadResString(QorixRes::SCommandFailed), this);
      }
      case CS_ROW_RESULT:
      case CS_CURSOR_RESULT: {
        cursorOpening_ = false;
        MonitorLine(QStringLiteral("CS_ROW_RESULT"));
        hasRows_ = true;
        // FreeTDS answers CS_CMD_NUMBER with nothing useful: the engine counts row results.
        ++commandNumber_;
        CS_INT count = 0;
        ctlib::ct_res_info(command_, CS_NUMDATA, &count, CS_UNUSED, nullptr);
        columnCount_ = count;
        MonitorLine(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : ") +
                    QString::number(count));
        ReadOrderByColumns();
        if (!TextImage) BindResultColumns(count);
        if (processAll_) {
          while (FetchRow() == 1) {
          }
          if (resultsEnded_) return 0;
          break;
        }
        const int r = FetchRow();
        if (resultsEnded_) return 0;
        if (atEndData_) {
          passedEndData = true;
          break;
        }
        return passedEndData && !acrossResults_ ? 0 : r;
      }
      case CS_STATUS_RESULT:
        MonitorLine(QStringLiteral("CS_STATUS_RESULT"));
        ReadReturnStatus();
        break;
      case CS_PARAM_RESULT:
        MonitorLine(QStringLiteral("CS_PARAM_RESULT"));
        // Output parameters are read wherever they arrive, before or after the status.
        ReadReturnParams();
        break;
      case CS_COMPUTE_RESULT:
        MonitorLine(QStringLiteral("CS_COMPUTE_RESULT"));
        HandleComputeResult();
        break;
      case CS_MSG_RESULT:
        MonitorLine(QStringLiteral("CS_MSG_RESULT"));
        DrainFetch();
        break;
      case CS_DESCRIBE_RESULT:
        MonitorLine(QStringLiteral("CS_DESCRIBE_RESULT"));
        DrainFetch();
        break;
      case CS_COMPUTEFMT_RESULT:
        DrainFetch();
        break;
      case CS_ROWFMT_RESULT:
        MonitorLine(QStringLiteral("CS_ROWFMT_RESULT"));
        break;
      default:
        MonitorLine(QStringLiteral("ERROR"));
        break;
    }
    if (resultsEnded_ || !command_) return passedEndData ? 0 : result;
    QX_RESULTS(ret);
  }
  resultsEnded_ = true;
  return passedEndData ? 0 : result;
}

void TQorixCustomQuery::ReadOrderByColumns() {
  orderByColumns_.clear();
  CS_INT count = 0;
  if (ctlib::ct_res_info(command_, CS_NUMORDERCOLS, &count, CS_UNUSED, nullptr) != CS_SUCCEED || count <= 0)
    return;
  std::vector<CS_INT> columns(static_cast<size_t>(count));
  CS_INT length = 0;
  if (ctlib::ct_res_info(command_, CS_ORDERBY_COLS, columns.data(), count * static_cast<CS_INT>(sizeof(CS_INT)),
                         &length) != CS_SUCCEED)
    return;
  orderByColumns_.assign(columns.begin(), columns.end());
}

void TQorixCustomQuery::DrainFetch() {
  CS_INT rows = 0;
  while (ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
  }
}

int TQorixCustomQuery::FetchRow() {
  atEndData_ = false;
  MonitorLine(QStringLiteral("Open-Client: ct_fetch"));
  int result = 0;
  CS_RETCODE ret;
  const bool arrays = (IsCursor || batched_) && !TextImage;
  bool truncated = false;
  if (arrays && cursorBatchPos_ < cursorBatchRows_) {
    ret = CS_SUCCEED;  // the next row of the batch already fetched
    truncated = batched_ && cursorBatchPos_ == batchFailedRow_;
  } else if (deferredFetch_ != CS_SUCCEED) {
    // The rows read before the fetch failed are out: now it fails.
    ret = deferredFetch_;
    deferredFetch_ = CS_SUCCEED;
    cursorBatchRows_ = cursorBatchPos_ = 0;
  } else {
    CS_INT rowsRead = 0;
    ret = ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rowsRead);
    batchFailedRow_ = -1;
    if (batched_ && !TextImage) {
      // FreeTDS stops an array at a row that failed to convert: the rows before it and that
      // row are delivered. A fetch that ends or fails after some rows keeps its answer for the
      // next call.
      if (ret == CS_ROW_FAIL) {
        batchFailedRow_ = rowsRead;
        cursorBatchRows_ = rowsRead + 1;
      } else if (ret == CS_SUCCEED) {
        cursorBatchRows_ = std::max<CS_INT>(rowsRead, 1);
      } else if (rowsRead > 0) {
        deferredFetch_ = ret;
        ret = CS_SUCCEED;
        cursorBatchRows_ = rowsRead;
      } else {
        cursorBatchRows_ = 0;
      }
      truncated = batchFailedRow_ == 0;
    } else {
      cursorBatchRows_ = (ret == CS_SUCCEED || ret == CS_ROW_FAIL) ? std::max<CS_INT>(rowsRead, 1) : 0;
      truncated = ret == CS_ROW_FAIL;
    }
    cursorBatchPos_ = 0;
  }
  // A row that failed only by truncation is delivered truncated rather than dropped.
  if (ret == CS_ROW_FAIL) ret = CS_SUCCEED;
  if (ret == CS_SUCCEED) {
    if (!TextImage) CopyRowTexts();
    if (truncated && !TextImage && !IsCursor) ReadTruncatedColumns();
    if (arrays) ++cursorBatchPos_;
    result = 1;
    if (TextImage && !FetchTextImage(columnCount_)) {
      // The row's columns could not be read (a statement timeout cancels the command while
      // its row is in hand): the queued error is raised before anything else clears it, and
      // the row is not handed out with values it does not have.
      try {
        CheckMessages(true);
      } catch (...) {
        Cancel(CS_CANCEL_ALL);
        throw;
      }
      Cancel(CS_CANCEL_ALL);
      rowPending_ = false;
      atEndData_ = true;
      return 0;
    }
    if (LumicDtFmt) ApplyLumicDtFmt();
    TraceRow();
    if (IsCursor) {
      ++rowCount_;
      ++totalRows_;
    }
    rowPending_ = true;
    if (MaxRows >= 1 && rowsFetched_ >= MaxRows) {
      // Once, then cancel: without it ExecSQL would report the limit for every row left.
      if (OnMaxRows) OnMaxRows(this);
      rowPending_ = resultsPending_ = false;
      if (IsCursor) {
        --rowCount_;
        --totalRows_;
      }
      Cancel(CS_CANCEL_ALL);
      resultsEnded_ = true;
      return 0;
    }
    ++rowsFetched_;
    if (KeepHistory) AppendHistoryRow();
    if (OnResultRow) OnResultRow(this);
    if (stopAfterStatus_) {
      Cancel(CS_CANCEL_ALL);
      resultsEnded_ = true;
      result = 0;
    }
    return result;
  }
  if (ret == CS_END_DATA) {
    MonitorLine(QStringLiteral("CS_END_DATA"));
    rowPending_ = false;
    atEndData_ = true;
    return 0;
  }
  // CS_FAIL, CS_CANCELED and anything else end the row result.
  try {
    CheckMessages(true);
  } catch (...) {
    Cancel(CS_CANCEL_ALL);
    throw;
  }
  rowPending_ = false;
  atEndData_ = true;
  return 0;
}

bool TQorixCustomQuery::ConnectionGone() const {
  return !database_ || !database_->IsConnected() || !command_ || !CommandAlive(command_);
}

int TQorixCustomQuery::NextRow() {
  if (KeepHistory && historyPos_ < static_cast<int>(history_.size()) && ReadHistoryRow()) return 1;
  // Rows cut off by a disconnect (or by the connection's destruction) are an error, never a
  // shorter result; rows already in the engine's arrays are not handed out either.
  if (resultsPending_ && ConnectionGone()) {
    rowPending_ = resultsPending_ = false;
    resultsEnded_ = true;
    cursorOpen_ = false;
    cursorBatchRows_ = cursorBatchPos_ = 0;
    deferredFetch_ = CS_SUCCEED;
    if (database_) ForgetOrphans();
    DatabaseError(QStringLiteral("The connection was closed before all rows were read"), this);
  }
  if (rowPending_ && resultsPending_) {
    int r = FetchRow();
    if (atEndData_) {
      // Consumes the following results; their first row is reported only across results.
      const int further = ProcessResults();
      r = acrossResults_ ? further : 0;
    }
    if (stopAfterStatus_ && r != 1) {
      Cancel(CS_CANCEL_ALL);
      r = 0;
    }
    if (r != 1) rowPending_ = resultsPending_ = false;
    return r;
  }
  if (!resultsPending_) return 0;
  int r = ProcessResults();
  if (stopAfterStatus_) {
    Cancel(CS_CANCEL_ALL);
    r = 0;
  }
  if (r != 1) rowPending_ = resultsPending_ = false;
  return r;
}

bool TQorixCustomQuery::Next() {
  const bool ok = NextRow() == 1;
  if (stopAfterStatus_ && !ok) Cancel(CS_CANCEL_ALL);
  return ok;
}

void TQorixCustomQuery::CancelCommand(CS_COMMAND* command) {
  if (!command || !connection_) return;
  // Draining ct_results with rows pending never ends on FreeTDS (it answers the row result
  // again), so both families cancel instead of draining.
  ctlib::ct_cancel(nullptr, command, CS_CANCEL_ALL);
  ClearDiagMessages(connection_);
}

void TQorixCustomQuery::Cancel(int cancelType) {
  if (!database_ || !command_) return;
  ForgetOrphans();
  if (!command_ || !connection_) return;
  CloseCursor();
  ctlib::ct_cancel(nullptr, command_, cancelType == CS_CANCEL_CURRENT ? CS_CANCEL_ALL : cancelType);
  ClearDiagMessages(connection_);
  rowPending_ = false;
  resultsPending_ = false;
  resultsEnded_ = true;
  cursorBatchRows_ = cursorBatchPos_ = 0;
  deferredFetch_ = CS_SUCCEED;
  // A statement kept prepared for Open's rows is released once they are given up.
  if (prepared_ && !processAll_ && !sending_) UnPrepare();
}

void TQorixCustomQuery::GetServerType() {
  CheckDatabase();
  if (!database_) return;
  const QString rdbms = database_->GetRdbms();
  if (rdbms == kRdbmsSybase)
    serverType_ = stSybaseSqlServer;
  else if (rdbms == kRdbmsSqlAnywhere)
    serverType_ = stSqlAnywhere;
}

TFieldType TypeNameToFieldType(const QString& n) {
  if (n == QLatin1String("char") || n == QLatin1String("varchar")) return ftString;
  if (n == QLatin1String("binary") || n == QLatin1String("varbinary")) return ftVarBytes;
  if (n == QLatin1String("text")) return ftMemo;
  if (n == QLatin1String("image")) return ftBlob;
  if (n == QLatin1String("tinyint") || n == QLatin1String("smallint")) return ftSmallint;
  if (n == QLatin1String("int")) return ftInteger;
  if (n == QLatin1String("real") || n == QLatin1String("float") || n == QLatin1String("numeric") ||
      n == QLatin1String("decimal"))
    return ftFloat;
  if (n == QLatin1String("bit")) return ftBoolean;
  if (n == QLatin1String("datetime") || n == QLatin1String("smalldatetime")) return ftDateTime;
  if (n == QLatin1String("money") || n == QLatin1String("smallmoney")) return ftCurrency;
  return ftUnknown;
}
