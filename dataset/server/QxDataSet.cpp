// The server dataset core and its Client-Library command layer: connection resolution, the
// open prerequisites, the non-cursor rule, sending the statement (language command or
// read-only client cursor), describing and binding the result columns into field
// definitions, copying each fetched row into the record store, fetch on demand, closing and
// cancelling, and statements without result set.
#include "dataset/server/QxDataSet.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/SybType.h"
#include "dataset/QxDataSetErrors.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxNestedDataSet.h"
#include "dataset/server/QxQuery.h"
#include "dataset/server/QxSqlLiterals.h"
#include "dataset/server/QxStoredProc.h"

namespace {
QList<TQxCustomDataSet*>*& ListPtr() {
  static QList<TQxCustomDataSet*>* list = nullptr;
  return list;
}

std::atomic<int> g_serial{0};

constexpr int64_t kTimeStampEpochJd = 1721425;
constexpr int64_t kMSecsPerDay = 86400000;
const int64_t kDay1900 = QDate(1900, 1, 1).toJulianDay() - kTimeStampEpochJd;

// A text/image value larger than the text size never arrives: the buffer is that large.
int BlobBufferSize(const CS_DATAFMT& fmt, int textSize) {
  const int cap = std::max(textSize, 1);
  return fmt.maxlength > 0 ? std::min<int>(fmt.maxlength, cap) : cap;
}

// Characters of an exact column's text: 38 digits, sign and point, with room to spare.
constexpr int kExactTextSize = 44;

bool IsExactType(CS_INT datatype) {
  return datatype == CS_NUMERIC_TYPE || datatype == CS_DECIMAL_TYPE || datatype == CS_MONEY_TYPE ||
         datatype == CS_MONEY4_TYPE;
}

// What a command that failed in the Client-Library itself (no server answer) reports.
const QString kCommandLost = QStringLiteral("The command failed: the connection to the server was lost");

void WriteLE32(char* p, int32_t v) {
  qToLittleEndian<int32_t>(v, reinterpret_cast<uchar*>(p));
}
}  // namespace

// =====================================================================================
// TQxCustomDataSet: life cycle and properties
// =====================================================================================

TQxCustomDataSet::TQxCustomDataSet(TComponent* owner)
    : TQxBaseClientDataSet(owner), nestedFields_(std::make_unique<TQxNestedFieldList>(this)) {
  CachedUpdates = false;
  if (!ListPtr()) ListPtr() = new QList<TQxCustomDataSet*>();
}

TQxCustomDataSet::~TQxCustomDataSet() {
  // An open cursor cannot be closed while another dataset's rows hold the connection: that
  // dataset closes it once its rows are read or it closes, so neither the server's cursor nor
  // its client state is lost.
  if (Active() && cursorOpen_ && command_ && IsConnectedResolved()) {
    if (TQxCustomDataSet* reader = PendingReader(resolved_, this)) {
      reader->parkedCursors_.push_back(command_);
      command_ = nullptr;
      cursorOpen_ = false;
    }
  }
  if (Active()) {
    try {
      Close();
    } catch (...) {
    }
  }
  FreeColumns();
  if (prepared_) {
    try {
      UnPrepare();
    } catch (...) {
    }
  }
  if (command_) {
    try {
      DropCommand(command_);
    } catch (...) {
    }
  }
  CloseParkedCursors();
  delete liveQuery_;
  liveQuery_ = nullptr;
  if (ListPtr()) {
    ListPtr()->removeAll(this);
    if (ListPtr()->isEmpty()) {
      delete ListPtr();
      ListPtr() = nullptr;
    }
  }
}

void TQxCustomDataSet::SetName(const QString& name) {
  TQxBaseClientDataSet::SetName(name);
  if (!ListPtr()) ListPtr() = new QList<TQxCustomDataSet*>();
  if (!ListPtr()->contains(this)) ListPtr()->append(this);
}

void TQxCustomDataSet::Notification(TComponent* component, TOperation operation) {
  TQxBaseClientDataSet::Notification(component, operation);
  if (operation == TOperation::opRemove) {
    if (component == database_) database_ = nullptr;
    if (component == resolved_) {
      // The connection is gone with everything it held: unread rows are cut off (the next
      // read raises), the command handles are only dropped, a prepared statement is no more.
      rowsCutOff_ = resultsPending_ && moreRows_;
      moreRows_ = rowsCutOff_;
      resultsPending_ = rowsCutOff_;
      reachable_ = Store().Count();
      batchRows_ = batchPos_ = 0;
      cursorOpen_ = false;
      prepared_ = false;
      preparedAuto_ = false;
      statementId_.clear();
      occurrences_.clear();
      DropCommand(command_);
      std::vector<CS_COMMAND*> parked;
      parked.swap(parkedCursors_);
      for (CS_COMMAND* command : parked) DropCommand(command);
      resolved_ = nullptr;
    }
  }
}

void TQxCustomDataSet::SetDatabase(TQorixDatabase* database) {
  if (database == database_) return;
  database_ = database;
  if (database_) FreeNotification(database_);
}

void TQxCustomDataSet::SetAutoDb(bool value) {
  autoDb_ = value;
  if (value) UseDbParams = true;
}

const QList<TQxCustomDataSet*>& TQxCustomDataSet::DataSetList() {
  static const QList<TQxCustomDataSet*> empty;
  return ListPtr() ? *ListPtr() : empty;
}

TQxStoredProc* TQxCustomDataSet::FindStoredProc(const QString& name) {
  for (TQxCustomDataSet* d : DataSetList())
    if (d->Kind() == dkStoredProc && d->Name() == name) return static_cast<TQxStoredProc*>(d);
  return nullptr;
}

QString TQxCustomDataSet::TimeStampName() {
  const QTime t = QTime::currentTime();
  return QString::number(t.hour()) + QString::number(t.minute()) + QString::number(t.msec()) +
         QLatin1Char('_') + QString::number(++g_serial);
}

QString TQxCustomDataSet::NewStatementId() {
  return QStringLiteral("p") + QString::number(QTime::currentTime().msecsSinceStartOfDay()) +
         QLatin1Char('_') + QString::number(++g_serial);
}

void TQxCustomDataSet::MonitorTrace(const QString& line) const {
  if (!Monitor || !Owner()) return;
  SendToSqlMonitor(THandle(reinterpret_cast<uintptr_t>(Owner())), line);
}

// =====================================================================================
// Connection and prerequisites
// =====================================================================================

void TQxCustomDataSet::CheckDatabase() {
  if (IsLoading()) return;
  if (database_) {
    resolved_ = database_;
  } else if (!DbName.trimmed().isEmpty()) {
    resolved_ = TQorixDatabase::FindDatabase(DbName);
    // A name that finds no connection is refused here instead of failing later.
    if (!resolved_) RaiseMissingError(QxDsText::DatabaseNotFound.arg(DbName), nullptr);
  } else if (autoDb_ && privateDb_) {
    resolved_ = privateDb_.get();
  } else {
    RaiseMissingError(QxDsText::NeedDatabase, this);
  }
  if (resolved_) FreeNotification(resolved_);
}

void TQxCustomDataSet::OpenAutoDb() {
  if (!autoDb_) return;
  if (!privateDb_) {
    privateDb_ = std::make_unique<TQorixDatabase>();
    privateDb_->SetName(TQorixDatabase::MakeDatabaseName());
    privateDb_->ShowDbMessages = TShowDbMessages{smDbMsg, smDbErr};
    if (UseDbParams) TQorixDatabase::ApplyDbParams(privateDb_.get(), &AutoDbParams);
  } else if (UseDbParams) {
    TQorixDatabase::ApplyDbParams(privateDb_.get(), &AutoDbParams);
  }
}

void TQxCustomDataSet::DetectServerType() {
  if (!resolved_) return;
  if (resolved_->Rdbms == kRdbmsSybase)
    serverType_ = qstSybase;
  else if (resolved_->Rdbms == kRdbmsSqlAnywhere)
    serverType_ = qstAnywhere;
}

bool TQxCustomDataSet::ConnectionDead() const {
  if (!resolved_ || !resolved_->ConnectionHandle()) return false;
  CS_INT status = 0;
  return ctlib::ct_con_props(resolved_->ConnectionHandle(), CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr) ==
             CS_SUCCEED &&
         (status & CS_CONSTAT_DEAD);
}

bool TQxCustomDataSet::IsConnectedResolved() const {
  return resolved_ && resolved_->Connected() && resolved_->ConnectionHandle();
}

namespace {
// A connection's idle timer leaves the connection alone while a dataset still has rows to read
// on it.
const bool pendingRowsCheckSet = [] {
  TQorixDatabase::PendingRowsCheck() = [](const TQorixDatabase& db) {
    return TQxCustomDataSet::PendingReader(const_cast<TQorixDatabase*>(&db), nullptr) != nullptr;
  };
  return true;
}();

// Before a connection closes, the open cursors of the datasets on it are closed while the
// session is there: their client state is released only by a sent close. Not while a
// non-cursor dataset's rows are pending there (nothing may be sent into them).
const bool beforeCloseHookSet = [] {
  TQorixDatabase::BeforeCloseHook() = [](TQorixDatabase& db) {
    if (TQxCustomDataSet::PendingReader(&db, nullptr)) return;
    for (TQxCustomDataSet* d : TQxCustomDataSet::DataSetList()) d->CloseCursorBeforeDisconnect(&db);
  };
  return true;
}();
}  // namespace

void TQxCustomDataSet::CloseCursorBeforeDisconnect(TQorixDatabase* connection) {
  if (resolved_ != connection || !IsConnectedResolved() || SessionGone()) return;
  if (cursorOpen_ && command_) {
    cursorOpen_ = false;
    // The rows not read yet are cut off: the next read raises, as after any disconnect.
    SendCursorClose(command_);
  }
  std::vector<CS_COMMAND*> parked;
  parked.swap(parkedCursors_);
  for (CS_COMMAND* command : parked) {
    SendCursorClose(command);
    DropCommand(command);
  }
}

bool TQxCustomDataSet::SessionGone() const {
  return command_ && resolved_ && (!resolved_->Connected() || resolved_->SessionNumber() != session_);
}

void TQxCustomDataSet::ForgetGoneSession() {
  moreRows_ = false;
  resultsPending_ = false;
  reachable_ = Store().Count();
  batchRows_ = batchPos_ = 0;
  cursorOpen_ = false;
  DropCommand(command_);
  std::vector<CS_COMMAND*> parked;
  parked.swap(parkedCursors_);
  for (CS_COMMAND* command : parked) DropCommand(command);
}

void TQxCustomDataSet::FindConnection() {
  if (!resolved_) RaiseMissingError(QxDsText::NeedDatabase, this);
  if (!resolved_->Connected()) resolved_->Connect();
  if (!resolved_->Connected()) DatabaseError(QxDsText::CannotLogin.arg(resolved_->ServerName), this);
  resolved_->ResetIdleTimer();
}

void TQxCustomDataSet::ApplyMessageFlags() {}

void TQxCustomDataSet::CheckConnectionFree(TQorixDatabase* connection, const TQxCustomDataSet* except,
                                           const TComponent* component, bool cursorCommand) {
  if (const TQxCustomDataSet* d = PendingReader(connection, except))
    RaiseCursorError(QxDsText::NonCursorOpen.arg(d->Name() + QLatin1Char(' ')) + QStringLiteral("\n\n") +
                         (cursorCommand ? QxDsText::CursorAndNonCursor : QxDsText::OnlyOneNonCursor),
                     component);
}

TQxCustomDataSet* TQxCustomDataSet::PendingReader(TQorixDatabase* connection, const TQxCustomDataSet* except) {
  if (!connection) return nullptr;
  // The connection itself is compared: two names for one connection share its result stream.
  for (TQxCustomDataSet* d : DataSetList()) {
    if (d == except || d->UseQorixCursor || !d->Active() || !d->resultsPending_) continue;
    // Rows of an ended session hold nothing on the connection any more.
    if (d->resolved_ == connection && !d->SessionGone()) return d;
  }
  return nullptr;
}

void TQxCustomDataSet::CheckNonCursorOpen() {
  CheckConnectionFree(resolved_, this, this, false);
}

void TQxCustomDataSet::CheckCursorOpen() {
  CheckConnectionFree(resolved_, this, this, true);
}

void TQxCustomDataSet::CheckOpenPrerequisites() {
  OpenAutoDb();
  CheckDatabase();
  rowCounter_ = 0;
  Blobs().ResetNextId();
  resultsPending_ = true;
  nextBookmarkId_ = 1;
  textSize_ = resolved_ ? resolved_->TextSize() : 32768;
  DetectServerType();
  if (UseQorixCursor)
    CheckCursorOpen();
  else
    CheckNonCursorOpen();
  lastServerMsg_ = CS_SERVERMSG{};
  if (resolved_ && resolved_->ProcOptions.Contains(poNoExec)) DatabaseError(QxDsText::NoExec, this);
  moreRows_ = true;
  currentIndex_ = -1;
  columnList_.clear();
  columnNames_.clear();
  if (!Active()) FindConnection();
}

void TQxCustomDataSet::CheckDiag() {
  if (!IsConnectedResolved()) return;
  const CS_SERVERMSG srv{};
  const CS_CLIENTMSG cli{};
  ProcessDiagMessages(resolved_->ConnectionHandle(), srv, cli, this, true, MsgDialogs.Contains(mdEnhErr),
                      MsgDialogs.Contains(mdEnhMsg), ShowDbMessages.Contains(smDbMsg),
                      ShowDbMessages.Contains(smDbErr));
}

// =====================================================================================
// Command handles
// =====================================================================================

void TQxCustomDataSet::AllocCommand(CS_COMMAND*& command) {
  // Every command of the datasets starts here: none is sent while a non-cursor dataset's rows
  // hold the connection. A new command on the dataset's own handle replaces its own result;
  // any other command waits for the dataset's own unread rows too.
  CheckConnectionFree(resolved_, &command == &command_ ? this : nullptr, this, false);
  if (command) DropCommand(command);
  MonitorTrace(QStringLiteral("Open-Client: ct_cmd_alloc"));
  if (ctlib::ct_cmd_alloc(resolved_->ConnectionHandle(), &command) != CS_SUCCEED) {
    command = nullptr;
    CheckDiag();
    DatabaseError(QStringLiteral("Command allocation failed"), this);
  }
  if (&command == &command_) session_ = resolved_->SessionNumber();
}

void TQxCustomDataSet::DropCommand(CS_COMMAND*& command) {
  if (!command) return;
  MonitorTrace(QStringLiteral("Open-Client: ct_cmd_drop"));
  ctlib::ct_cmd_drop(command);
  command = nullptr;
}

void TQxCustomDataSet::CancelCommand(CS_COMMAND* command, CS_INT type) {
  if (!command || !IsConnectedResolved()) return;
  // Only this command is cancelled: other datasets on the connection keep their results.
  if (type == CS_CANCEL_ALL && cursorOpen_ && kind_ != dkStoredProc && serverType_ == qstAnywhere)
    type = CS_CANCEL_CURRENT;
  ctlib::ct_cancel(nullptr, command, type);
  if (type != CS_CANCEL_ALL) {
    CS_INT ignored = 0;
    while (ctlib::ct_results(command, &ignored) == CS_SUCCEED) {
    }
  }
  ClearDiagMessages(resolved_->ConnectionHandle());
}

void TQxCustomDataSet::ReadOutResult(CS_COMMAND* command) {
  CS_INT rows = 0;
  CS_RETCODE rc;
  do {
    rc = ctlib::ct_fetch(command, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  } while (rc == CS_SUCCEED || rc == CS_ROW_FAIL);
}

void TQxCustomDataSet::CloseCursor(CS_COMMAND* command) {
  if (command == command_ && SessionGone()) {
    ForgetGoneSession();
    return;
  }
  if (!command || !cursorOpen_ || !IsConnectedResolved()) {
    cursorOpen_ = false;
    return;
  }
  cursorOpen_ = false;
  SendCursorClose(command);
}

void TQxCustomDataSet::SendCursorClose(CS_COMMAND* command) {
  // What is left of the current fetch is read, not cancelled: after a CS_CANCEL_ALL of a sent
  // command FreeTDS keeps a cancel pending and answers the next ct_send, the close, with
  // CS_CANCELED without sending it. The cursor would stay open on the server, and the
  // client's cursor state, which only a sent close with dealloc releases (ct_cmd_drop does
  // not), would be lost with the command handle.
  CS_INT ignored = 0;
  ctlib::ct_cancel(nullptr, command, CS_CANCEL_CURRENT);
  while (ctlib::ct_results(command, &ignored) == CS_SUCCEED) ctlib::ct_cancel(nullptr, command, CS_CANCEL_CURRENT);
  // A cursor the server never declared (its declare failed: a syntax error, an unknown
  // table) has no id; a close of it would go out naming cursor 0, which the server answers by
  // aborting the connection's next commands. Nothing is sent for it.
  CS_INT id = -1;
  if (ctlib::ct_cmd_props(command, CS_GET, CS_CUR_ID, &id, CS_UNUSED, nullptr) == CS_SUCCEED && id == 0) {
    // A dealloc alone of a cursor the server never knew is done by the library itself, and
    // frees the client's cursor state.
    if (ctlib::ct_cursor(command, CS_CURSOR_DEALLOC, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED) ==
            CS_SUCCEED &&
        ctlib::ct_send(command) == CS_SUCCEED)
      while (ctlib::ct_results(command, &ignored) == CS_SUCCEED) {
      }
    ClearDiagMessages(resolved_->ConnectionHandle());
    return;
  }
  // Close with dealloc releases the cursor; FreeTDS then refuses a separate dealloc, so none
  // follows, and a failing close is tolerated.
  if (ctlib::ct_cursor(command, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC) == CS_SUCCEED) {
    CS_RETCODE rc = ctlib::ct_send(command);
    // A whole-command cancel made before (a failed open) is cleaned up by that first send,
    // which sends nothing: the close goes with the second.
    if (rc == CS_CANCELED) rc = ctlib::ct_send(command);
    if (rc == CS_SUCCEED)
      while (ctlib::ct_results(command, &ignored) == CS_SUCCEED) {
      }
  }
  MonitorTrace(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_DEALLOC)"));
  ClearDiagMessages(resolved_->ConnectionHandle());
}

void TQxCustomDataSet::CloseParkedCursors() {
  std::vector<CS_COMMAND*> parked;
  parked.swap(parkedCursors_);
  for (CS_COMMAND* command : parked) {
    if (IsConnectedResolved() && !Destroying()) SendCursorClose(command);
    DropCommand(command);
  }
}

void TQxCustomDataSet::FreeColumns() {
  columns_.clear();
}

// =====================================================================================
// Open, describe, fetch
// =====================================================================================

void TQxCustomDataSet::InternalOpen() {
  BuildCommandText();
  if (kind_ != dkTable) CheckOpenPrerequisites();
  TCursorGuard cursor(ExecCursor, UseExecCursor);
  // A server dataset's records come from its statement only.
  Store().Clear();
  Blobs().Clear();
  Blobs().ResetNextId();
  recordCount_ = 0;
  currentIndex_ = -1;
  nextBookmarkId_ = 1;
  try {
    // A statement with parameters read without cursor is prepared for this open: its values
    // are then bound, and the markers stay in the text.
    if (AutoPrepareDue()) AutoPrepare();
    SubstituteParamValues();
    AllocCommand(command_);
    RunQuery(true);
    work_.assign(size_t(RecordSize()), 0);
    ClearKeyBuffer();
  } catch (...) {
    CancelCommand(command_, CS_CANCEL_ALL);
    CloseCursor(command_);
    DropCommand(command_);
    resultsPending_ = false;
    AutoUnprepareQuietly();
    throw;
  }
  reachable_ = 1000;
  CreateLogFields();
  // The log is rebuilt empty: changes of an earlier open name records that are gone, and
  // must never reach the server.
  if (Log().Active()) Log().EmptyDataSet();
  // The first row is read at once, so that an empty result shows as empty at open.
  FetchUntil(0);
}

std::unique_ptr<TField> TQxCustomDataSet::CreateDataField(const TFieldDef& def) {
  const int index = def.FieldNo() - 1;
  if (index >= 0 && index < int(exactTypes_.size()) && exactTypes_[size_t(index)] != ftUnknown &&
      def.DataType == ftString)
    return std::make_unique<TExactNumberField>(exactTypes_[size_t(index)], def.Size);
  return TQxBaseClientDataSet::CreateDataField(def);
}

void TQxCustomDataSet::RunQuery(bool describe) {
  const QString text = commandText_;
  if (text.trimmed().isEmpty()) RaiseBadSQLError(QxDsText::InvalidSQL, this);
  QByteArray utf8 = text.toUtf8();
  lastResultType_ = 0;
  batchRows_ = batchPos_ = 0;
  negativeStatus_ = false;
  hasBlobColumns_ = false;
  rowsPerFetch_ = UseQorixCursor ? std::max(1, FetchRows) : 1;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (UseQorixCursor) {
      cursorName_ = Name() + TimeStampName() + QStringLiteral("_rcr");
      QByteArray name = cursorName_.toUtf8();
      MonitorTrace(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_DECLARE)"));
      if (ctlib::ct_cursor(command_, CS_CURSOR_DECLARE, name.data(), CS_NULLTERM, utf8.data(), CS_NULLTERM,
                           CS_READ_ONLY) != CS_SUCCEED)
        CheckDiag();
      MonitorTrace(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_ROWS) - Rows : ") +
                   QString::number(rowsPerFetch_));
      ctlib::ct_cursor(command_, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, rowsPerFetch_);
      MonitorTrace(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_OPEN)"));
      ctlib::ct_cursor(command_, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED);
      cursorOpen_ = true;
    } else if (prepared_) {
      cursorName_.clear();
      QByteArray id = statementId_.toUtf8();
      MonitorTrace(QStringLiteral("Open-Client: ct_dynamic(CS_EXECUTE)"));
      ctlib::ct_dynamic(command_, CS_EXECUTE, id.data(), CS_NULLTERM, nullptr, CS_UNUSED);
      BindParams(command_);
    } else if (!rpcName_.isEmpty()) {
      // A procedure is called as a remote procedure: its output parameters come back.
      cursorName_.clear();
      MonitorTrace(QStringLiteral("Open-Client: ct_command(CS_RPC_CMD)"));
      SendProcCall(command_);
    } else {
      cursorName_.clear();
      MonitorTrace(QStringLiteral("Open-Client: ct_command(CS_LANG_CMD)"));
      ctlib::ct_command(command_, CS_LANG_CMD, utf8.constData(), CS_NULLTERM, CS_UNUSED);
    }
    MonitorTrace(QStringLiteral("SQL Execute : ") + text);
    SendCommand(command_);
    // Walk to the first row (or cursor) result.
    bool found = false;
    bool failed = false;
    CS_RETCODE rc;
    for (;;) {
      MonitorTrace(QStringLiteral("Open-Client: ct_results"));
      rc = ctlib::ct_results(command_, &lastResultType_);
      try {
        CheckDiag();
      } catch (const EDatabaseError&) {
        // A cursor over a procedure whose parameters do not match is told in plain words.
        if (lastServerMsg_.msgnumber == 7726 && lastServerMsg_.severity == 16)
          DatabaseError(QStringLiteral("The cursor and stored procedure does not have the same number of "
                                       "parameters. Check the stored procedure and paramaters"),
                        this);
        throw;
      }
      if (rc != CS_SUCCEED) break;
      if (lastResultType_ == CS_ROW_RESULT || lastResultType_ == CS_CURSOR_RESULT) {
        found = true;
        break;
      }
      if (lastResultType_ == CS_CMD_FAIL) failed = true;
      if (lastResultType_ == CS_STATUS_RESULT || lastResultType_ == CS_PARAM_RESULT ||
          lastResultType_ == CS_COMPUTE_RESULT)
        ReadProcResult(command_, lastResultType_);
    }
    if (failed && !found) {
      const QString msg = LastError().isEmpty() ? QStringLiteral("The statement failed") : LastError();
      DatabaseError(msg, this);
    }
    if (!found && rc == CS_FAIL) DatabaseError(kCommandLost, this);
    // A procedure that refused with a negative return status before any rows: the silent
    // abort (its messages were reported as they came).
    if (!found && negativeStatus_) {
      negativeStatus_ = false;
      resultsPending_ = false;
      moreRows_ = false;
      Abort();
    }
    if (!found) {
      resultsPending_ = false;
      moreRows_ = false;
      if (AbortOnNoCols || rc != CS_END_RESULTS) DatabaseError(QxDsText::NoColumns, this);
      FieldDefs().Clear();
      return;
    }
    if (describe) DescribeAndBindFields();
    // A result with text or image columns is read one row per fetch: each row's buffers
    // are as large as the text size.
    bool hasBlob = false;
    for (const Column& c : columns_)
      if (c.fieldNo > 0 && (c.type == ftMemo || c.type == ftBlob)) hasBlob = true;
    if (UseQorixCursor && hasBlob && rowsPerFetch_ > 1 && attempt == 0) {
      CloseCursor(command_);
      rowsPerFetch_ = 1;
      continue;
    }
    break;
  }
  BindColumns();
}

void TQxCustomDataSet::ReadProcResult(CS_COMMAND* command, CS_INT type) {
  // Without a handler of its own a dataset does not keep status or parameter rows; a
  // negative status (a procedure run by a query's text refused) is noted all the same.
  CS_INT status = 0;
  CS_INT len = 0;
  CS_SMALLINT ind = 0;
  if (type == CS_STATUS_RESULT) {
    CS_DATAFMT fmt{};
    fmt.datatype = CS_INT_TYPE;
    fmt.maxlength = sizeof(CS_INT);
    fmt.count = 1;
    ctlib::ct_bind(command, 1, &fmt, &status, &len, &ind);
  }
  CS_INT rows = 0;
  while (ctlib::ct_fetch(command, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
  }
  if (type == CS_STATUS_RESULT && kind_ != dkTable) negativeStatus_ = ind != -1 && status < 0;
}

TFieldType TQxCustomDataSet::FieldTypeOf(const CS_DATAFMT& fmt) {
  switch (fmt.datatype) {
    case CS_CHAR_TYPE:
    case CS_VARCHAR_TYPE:
    case CS_LONGCHAR_TYPE:
    case CS_UNICHAR_TYPE:
    case CS_UNIQUE_TYPE:
      return ftString;
    case CS_USHORT_TYPE:
    case CS_USMALLINT_TYPE:
      return ftInteger;
    case CS_UINT_TYPE:
    case CS_UBIGINT_TYPE:
    case CS_LONG_TYPE:
      return ftLargeint;
    case CS_BIGDATETIME_TYPE:
    case CS_BIGTIME_TYPE:
      return ftDateTime;
    case CS_XML_TYPE:
      return ftMemo;
    case CS_TINYINT_TYPE:
    case CS_SMALLINT_TYPE:
      return ftSmallint;
    case CS_INT_TYPE:
      return ftInteger;
    case CS_BIGINT_TYPE:
      return ftLargeint;
    case CS_BIT_TYPE:
      return ftBoolean;
    case CS_REAL_TYPE:
    case CS_FLOAT_TYPE:
    case CS_NUMERIC_TYPE:
    case CS_DECIMAL_TYPE:
      return ftFloat;
    case CS_MONEY_TYPE:
    case CS_MONEY4_TYPE:
      return ftCurrency;
    case CS_DATETIME_TYPE:
    case CS_DATETIME4_TYPE:
    case CS_DATE_TYPE:
    case CS_TIME_TYPE:
      return ftDateTime;
    case CS_BINARY_TYPE:
    case CS_VARBINARY_TYPE:
    case CS_LONGBINARY_TYPE:
      return ftVarBytes;
    case CS_TEXT_TYPE:
    case CS_UNITEXT_TYPE:
      return ftMemo;
    case CS_IMAGE_TYPE:
      return ftBlob;
    default:
      return ftUnknown;
  }
}

void TQxCustomDataSet::DescribeAndBindFields() {
  CS_INT count = 0;
  if (ctlib::ct_res_info(command_, CS_NUMDATA, &count, CS_UNUSED, nullptr) != CS_SUCCEED) count = 0;
  CheckDiag();
  if (AbortOnNoCols && count <= 0) DatabaseError(QxDsText::NoColumns, this);
  MonitorTrace(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : ") +
               QString::number(count));
  columns_.clear();
  DescribeColumns(command_, count, columns_);
  hasBlobColumns_ = false;
  for (const Column& c : columns_)
    if (c.described.datatype == CS_BINARY_TYPE || c.described.datatype == CS_TEXT_TYPE ||
        c.described.datatype == CS_IMAGE_TYPE)
      hasBlobColumns_ = true;
  InitFieldDefsFromColumns();
  if (!Active()) OpenMemoryCursor();
}

void TQxCustomDataSet::SendCommand(CS_COMMAND* command) {
  if (ctlib::ct_send(command) != CS_SUCCEED) {
    CheckDiag();
    DatabaseError(LastError().isEmpty() ? QStringLiteral("The statement could not be sent") : LastError(), this);
  }
  CheckDiag();
}

void TQxCustomDataSet::DescribeColumns(CS_COMMAND* command, CS_INT count, std::vector<Column>& out) {
  out.resize(size_t(std::max(0, count)));
  int fieldNo = 0;
  for (int n = 1; n <= count; ++n) {
    Column& c = out[size_t(n - 1)];
    if (ctlib::ct_describe(command, n, &c.described) != CS_SUCCEED) break;
    c.type = FieldTypeOf(c.described);
    c.exact = IsExactType(c.described.datatype);
    if (c.type == ftUnknown) {
      const QString name = QString::fromUtf8(c.described.name, std::max<CS_INT>(0, c.described.namelen));
      const QString msg = QxDsText::UnsupportedType.arg(name.trimmed());
      if (!TypeErrCont) RaiseNotSupportedError(msg, this);
      if (TypeErrShow) UiServices().MessageBox(msg, QStringLiteral("Warning"), TMsgBoxIcon::Warning);
      continue;
    }
    c.fieldNo = ++fieldNo;
  }
}

void TQxCustomDataSet::InitFieldDefsFromColumns() {
  FieldDefs().Clear();
  exactTypes_.clear();
  identityColumn_.clear();
  QStringList names;
  for (size_t i = 0; i < columns_.size(); ++i) {
    Column& c = columns_[i];
    if (c.fieldNo == 0) continue;
    QString name = QString::fromUtf8(c.described.name, std::max<CS_INT>(0, c.described.namelen)).trimmed();
    if (name.isEmpty()) name = QStringLiteral("COLUMN") + QString::number(i + 1);
    // Two result columns of one name (a join) stay two fields.
    QString unique = name;
    for (int k = 1; FieldDefs().IndexOf(unique) >= 0; ++k) unique = name + QLatin1Char('_') + QString::number(k);
    c.size = c.type == ftString ? std::max<CS_INT>(c.described.datatype == CS_UNIQUE_TYPE ? 36 : 1, c.described.maxlength) : 0;
    const bool required =
        SQLOptions.Contains(soCheckFieldRequired) && !(c.described.status & CS_CANBENULL);
    if (c.exact) {
      // The value is kept as the server's decimal text: a double would change it.
      c.size = kExactTextSize;
      TFieldDef* def = FieldDefs().Add(unique, ftString, c.size, required);
      def->Precision = c.described.precision;
      exactTypes_.resize(size_t(FieldDefs().Count()), ftUnknown);
      exactTypes_.back() = c.type;
    } else {
      FieldDefs().Add(unique, c.type, c.size, required);
    }
    if ((c.described.status & CS_IDENTITY) && identityColumn_.isEmpty()) identityColumn_ = unique;
    names << unique;
  }
  nestedFields_->AddFieldDefs(FieldDefs());
  columnList_ = names.join(QStringLiteral(", "));
  columnNames_ = names.join(QLatin1Char(';'));
}

void TQxCustomDataSet::BindColumns() {
  const int rows = rowsPerFetch_;
  for (size_t i = 0; i < columns_.size(); ++i) {
    Column& c = columns_[i];
    CS_DATAFMT& b = c.bind;
    b = CS_DATAFMT{};
    b.format = CS_FMT_UNUSED;
    b.count = rows;
    b.locale = nullptr;
    switch (c.exact ? ftBCD : c.type) {
      case ftBCD:
        // Exact numbers arrive as their decimal text.
        b.datatype = CS_CHAR_TYPE;
        b.format = CS_FMT_NULLTERM;
        b.maxlength = 96;
        break;
      case ftString:
        b.datatype = CS_CHAR_TYPE;
        b.format = CS_FMT_NULLTERM;
        // Room for the text in the client's character set (a unique identifier as text) and
        // its terminator.
        b.maxlength = std::max<CS_INT>(40, c.described.maxlength) * 4 + 1;
        break;
      case ftSmallint:
        b.datatype = CS_SMALLINT_TYPE;
        b.maxlength = 2;
        break;
      case ftInteger:
        b.datatype = CS_INT_TYPE;
        b.maxlength = 4;
        break;
      case ftLargeint:
        b.datatype = CS_BIGINT_TYPE;
        b.maxlength = 8;
        break;
      case ftBoolean:
        b.datatype = CS_BIT_TYPE;
        b.maxlength = 1;
        break;
      case ftFloat:
      case ftCurrency:
        b.datatype = CS_FLOAT_TYPE;
        b.maxlength = 8;
        break;
      case ftDateTime:
        b.datatype = CS_DATETIME_TYPE;
        b.maxlength = sizeof(CS_DATETIME);
        break;
      case ftVarBytes:
        b.datatype = CS_BINARY_TYPE;
        b.maxlength = std::max<CS_INT>(1, c.described.maxlength);
        break;
      case ftMemo:
        // Unicode text and XML arrive converted to the client's character set.
        b.datatype = c.described.datatype == CS_TEXT_TYPE ? CS_TEXT_TYPE : CS_CHAR_TYPE;
        b.maxlength = BlobBufferSize(c.described, textSize_);
        break;
      case ftBlob:
        b.datatype = CS_IMAGE_TYPE;
        b.maxlength = BlobBufferSize(c.described, textSize_);
        break;
      default:
        b.datatype = CS_CHAR_TYPE;
        b.format = CS_FMT_NULLTERM;
        b.maxlength = std::max<CS_INT>(1, c.described.maxlength) * 4 + 1;
        break;
    }
    c.buffer.assign(size_t(b.maxlength) * size_t(rows), 0);
    c.copied.assign(size_t(rows), 0);
    c.indicator.assign(size_t(rows), 0);
    // Every column is bound (skipped ones too): FreeTDS fetches nothing for a cursor whose
    // bind count differs between columns.
    if (ctlib::ct_bind(command_, int(i + 1), &b, c.buffer.data(), c.copied.data(), c.indicator.data()) !=
        CS_SUCCEED)
      CheckDiag();
    if (c.fieldNo > 0)
      MonitorTrace(QStringLiteral("Open-Client: ct_bind - Column Name : ") +
                   QString::fromUtf8(c.described.name, std::max<CS_INT>(0, c.described.namelen)));
  }
}

CS_RETCODE TQxCustomDataSet::FetchRow() {
  if (rowsCutOff_) {
    rowsCutOff_ = false;
    moreRows_ = false;
    resultsPending_ = false;
    DatabaseError(QStringLiteral("The connection was closed before all rows were read"), this);
  }
  if (!moreRows_ || !command_) return CS_END_DATA;
  // Rows cut off by a disconnect are an error, never a shorter result.
  if (SessionGone()) {
    ForgetGoneSession();
    DatabaseError(QStringLiteral("The connection was closed before all rows were read"), this);
  }
  // A cursor's next rows (and its close) are commands of their own on the connection.
  const bool sends = batchPos_ >= batchRows_ || (MaxRows >= 1 && Store().Count() >= MaxRows);
  if (cursorOpen_ && sends) CheckCursorOpen();
  if (MaxRows >= 1 && Store().Count() >= MaxRows) {
    FinishFetching();
    return CS_END_DATA;
  }
  if (batchPos_ < batchRows_) {
    ++batchPos_;
    if (hasBlobColumns_) MonitorTrace(QStringLiteral("Flow : ** Fetch Blob Data **"));
    return CS_SUCCEED;
  }
  MonitorTrace(QStringLiteral("Open-Client: ct_fetch"));
  CS_INT rows = 0;
  const CS_RETCODE rc = ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  if (rc == CS_SUCCEED || rc == CS_ROW_FAIL) {
    if (rc == CS_ROW_FAIL) {
      // A value that did not fit is an error, not a silently shortened record.
      CheckDiag();
      FinishFetching();
      DatabaseError(LastError().isEmpty() ? QStringLiteral("A row could not be read completely") : LastError(),
                    this);
    }
    batchRows_ = std::max<CS_INT>(1, rows);
    batchPos_ = 1;
    // A row of a result with binary, text or image columns carries their values too.
    if (hasBlobColumns_) MonitorTrace(QStringLiteral("Flow : ** Fetch Blob Data **"));
    return CS_SUCCEED;
  }
  try {
    CheckDiag();
  } catch (...) {
    FinishFetching();
    throw;
  }
  // Anything but the end of the rows cuts them off: an error, never a shorter result. A cursor
  // fetch on a dead connection answers "end of data" too, so the connection is asked.
  if (rc != CS_END_DATA || ConnectionDead()) {
    moreRows_ = false;
    resultsPending_ = false;
    reachable_ = Store().Count();
    batchRows_ = batchPos_ = 0;
    if (cursorOpen_) {
      cursorOpen_ = false;
      // The close (sent when the connection still lives) releases the client's cursor state.
      SendCursorClose(command_);
    } else {
      CancelCommand(command_, CS_CANCEL_ALL);
    }
    CloseParkedCursors();
    DatabaseError(QStringLiteral("The rows could not all be read: the connection to the server was lost"), this);
  }
  FinishFetching();
  // A procedure's negative return status, read after its rows, is its refusal: the silent
  // abort, once the rows read are stored and the statement is finished.
  if (negativeStatus_) {
    negativeStatus_ = false;
    Abort();
  }
  return rc;
}

void TQxCustomDataSet::FinishFetching() {
  moreRows_ = false;
  resultsPending_ = false;
  reachable_ = Store().Count();
  batchRows_ = batchPos_ = 0;
  EndResults();
  CloseParkedCursors();
  // A preparation made for this open has served once the rows are read.
  AutoUnprepareQuietly();
}

void TQxCustomDataSet::EndResults() {
  if (!command_) return;
  if (SessionGone()) {
    ForgetGoneSession();
    return;
  }
  if (cursorOpen_) {
    CloseCursor(command_);
    return;
  }
  if (!IsConnectedResolved()) return;
  // Read what follows the rows (counts, a procedure's status and output parameters); a
  // further row result of a batch is passed over.
  CS_INT type = 0;
  for (int guard = 0; guard < 10000; ++guard) {
    const CS_RETCODE rc = ctlib::ct_results(command_, &type);
    if (rc != CS_SUCCEED) break;
    if (type == CS_STATUS_RESULT || type == CS_PARAM_RESULT)
      ReadProcResult(command_, type);
    else if (type == CS_ROW_RESULT || type == CS_COMPUTE_RESULT || type == CS_CURSOR_RESULT)
      ReadOutResult(command_);
  }
  ctlib::ct_cancel(nullptr, command_, CS_CANCEL_ALL);
  try {
    CheckDiag();
  } catch (...) {
  }
}

void TQxCustomDataSet::TraceColumnOut(const Column& c, bool isNull, const char* slot) const {
  QString data;
  if (isNull) {
    data = QStringLiteral("NULL");
  } else if (c.exact) {
    data = QString::fromLatin1(slot, int(strnlen(slot, size_t(c.size))));
  } else {
    switch (c.type) {
      case ftString:
        data = QString::fromUtf8(slot, int(strnlen(slot, size_t(c.size))));
        break;
      case ftBoolean:
        data = slot[0] ? QStringLiteral("True") : QStringLiteral("False");
        break;
      case ftSmallint: {
        int16_t v;
        std::memcpy(&v, slot, 2);
        data = QString::number(v);
        break;
      }
      case ftInteger: {
        int32_t v;
        std::memcpy(&v, slot, 4);
        data = QString::number(v);
        break;
      }
      case ftLargeint: {
        int64_t v;
        std::memcpy(&v, slot, 8);
        data = QString::number(v);
        break;
      }
      case ftFloat:
      case ftCurrency: {
        double v;
        std::memcpy(&v, slot, 8);
        data = QString::number(v, 'g', QLocale::FloatingPointShortest);
        break;
      }
      case ftDateTime:
        data = c.described.datatype == CS_DATETIME4_TYPE ? QStringLiteral("<SmallDateTime>") : QStringLiteral("<DateTime>");
        break;
      default:
        data = QStringLiteral("(BLOB)");
        break;
    }
  }
  MonitorTrace(QStringLiteral("SQL Data Out: Column = ") + QString::number(c.fieldNo) + QStringLiteral(", Name = ") +
               QString::fromUtf8(c.described.name, std::max<CS_INT>(0, c.described.namelen)) +
               QStringLiteral(", Type = ") + CSDataTypeName(c.described.datatype) + QStringLiteral(", Precision = ") +
               QString::number(c.described.precision) + QStringLiteral(", Scale = ") +
               QString::number(c.described.scale) + QStringLiteral(", Data = ") + data);
}

void TQxCustomDataSet::LoadRowIntoRecord() {
  const int row = std::max(0, batchPos_ - 1);
  ++rowCounter_;
  const int size = RecordSize();
  if (int(work_.size()) != size) work_.assign(size_t(size), 0);
  std::fill(work_.begin(), work_.end(), 0);
  char* rec = work_.data();
  WriteLE32(rec, rowCounter_);
  for (const Column& c : columns_) {
    if (c.fieldNo == 0) continue;
    const int off = FieldOffset(c.fieldNo);
    if (off < 0) continue;
    const int width = SlotWidth(c.exact ? ftString : c.type, c.size);
    const CS_SMALLINT ind = c.indicator[size_t(row)];
    const bool isNull = ind == -1;
    const char* src = c.buffer.data() + size_t(row) * size_t(c.bind.maxlength);
    const CS_INT len = std::clamp<CS_INT>(c.copied[size_t(row)], 0, c.bind.maxlength);
    char* slot = rec + off;
    if (!isNull && c.exact) {
      const QByteArray text = CanonicalDecimal(QString::fromLatin1(src, int(strnlen(src, size_t(c.bind.maxlength)))))
                                  .toLatin1()
                                  .left(c.size);
      std::memcpy(slot, text.constData(), size_t(text.size()));
    } else if (!isNull) {
      switch (c.type) {
        case ftString: {
          QByteArray text(src, int(strnlen(src, size_t(c.bind.maxlength))));
          if (TrimResults) text = text.trimmed();
          // Cut at the slot without splitting a UTF-8 sequence.
          int n = int(std::min<qsizetype>(text.size(), c.size));
          if (n < text.size())
            while (n > 0 && (uchar(text[n]) & 0xC0) == 0x80) --n;
          std::memcpy(slot, text.constData(), size_t(n));
          break;
        }
        case ftSmallint:
        case ftInteger:
        case ftLargeint:
        case ftFloat:
        case ftCurrency:
          std::memcpy(slot, src, size_t(width));
          break;
        case ftBoolean: {
          const int16_t v = src[0] ? -1 : 0;
          std::memcpy(slot, &v, 2);
          break;
        }
        case ftDateTime: {
          CS_DATETIME dt;
          std::memcpy(&dt, src, sizeof dt);
          const double stamp =
              double((kDay1900 + dt.dtdays) * kMSecsPerDay + qxsql::TicksToMsecs(dt.dttime));
          std::memcpy(slot, &stamp, 8);
          break;
        }
        case ftVarBytes:
        case ftMemo:
        case ftBlob: {
          // The value's own bytes, as long as it is.
          TMemoryStream value;
          value.LoadFromBytes(QByteArray(src, len));
          const int32_t id = Blobs().AddBlob(&value, c.fieldNo);
          WriteLE32(slot, id);
          break;
        }
        default:
          break;
      }
    }
    slot[width] = isNull ? 1 : 0;
    if (Monitor && Owner()) TraceColumnOut(c, isNull, slot);
  }
  // The declared dataset fields follow the columns; a fetched row holds no value for them.
  for (int n = FieldDefs().Count(); n > 0 && FieldDefs().Items(n - 1)->DataType == ftDataSet; --n) {
    const int off = FieldOffset(n);
    if (off >= 0) rec[off + SlotWidth(ftDataSet, 0)] = 1;
  }
  Store().AddRecord(nextBookmarkId_);
  Store().WriteRecord(rec, Store().Count() - 1);
  ++nextBookmarkId_;
  ++recordCount_;
  reachable_ = Store().Count();
}

int TQxCustomDataSet::FetchUntil(int index) {
  if (index < Store().Count()) return 0;
  TCursorGuard cursor(ExecCursor, UseExecCursor);
  CS_RETCODE rc = 0;
  while (index >= Store().Count()) {
    rc = FetchRow();
    if (rc != CS_SUCCEED) {
      reachable_ = Store().Count();
      return 0;
    }
    LoadRowIntoRecord();
  }
  return rc;
}

int TQxCustomDataSet::FetchAll() {
  if (!Active()) RaiseNotOpenError(QxDsText::ClosedDataSet, this);
  TCursorGuard cursor(ExecCursor, UseExecCursor);
  int n = 0;
  while (FetchRow() == CS_SUCCEED) {
    LoadRowIntoRecord();
    ++n;
  }
  reachable_ = Store().Count();
  Resync({});
  return n;
}

int TQxCustomDataSet::FetchRowsCount(int count) {
  if (!Active()) RaiseNotOpenError(QxDsText::ClosedDataSet, this);
  int n = 0;
  while (n < count && FetchRow() == CS_SUCCEED) {
    LoadRowIntoRecord();
    ++n;
  }
  return n;
}

void TQxCustomDataSet::DoAfterOpen() {
  if (SQLOptions.Contains(soAutoFetchAll)) {
    while (FetchRow() == CS_SUCCEED) LoadRowIntoRecord();
    reachable_ = Store().Count();
  }
  TQxBaseClientDataSet::DoAfterOpen();
}

void TQxCustomDataSet::DoBeforeInsert() {
  // The change log names the new record by the bookmark id it is going to get; a row fetched
  // on demand while the insert is open would take that id. The pending rows are read first.
  if (resultsPending_) {
    TCursorGuard cursor(ExecCursor, UseExecCursor);
    while (FetchRow() == CS_SUCCEED) LoadRowIntoRecord();
  }
  TQxBaseClientDataSet::DoBeforeInsert();
}

TGetResult TQxCustomDataSet::CheckCurrent(TGetResult result) {
  return currentIndex_ >= 0 && currentIndex_ < Store().Count() ? result : TGetResult::grError;
}

TGetResult TQxCustomDataSet::StepNext(TGetResult result) {
  // While rows are pending the step may go one past the stored records: RecordAvailable
  // then fetches the row that is to stand there.
  const int limit = resultsPending_ ? Store().Count() + 1 : Store().Count();
  // A cursor's next fetch is refused before the step, so the dataset stays where it stands.
  if (cursorOpen_ && currentIndex_ + 1 == Store().Count() && currentIndex_ + 1 < limit && batchPos_ >= batchRows_)
    CheckCursorOpen();
  if (currentIndex_ + 1 >= limit) {
    currentIndex_ = Store().Count();
    return TGetResult::grEOF;
  }
  ++currentIndex_;
  return result;
}

TGetResult TQxCustomDataSet::StepPrior(TGetResult result) {
  if (UniDirectional && currentIndex_ <= Store().Count() - BufferCount())
    RaiseUniDirError(QxDsText::UniDirectional, this);
  if (currentIndex_ < 1) {
    currentIndex_ = -1;
    return TGetResult::grBOF;
  }
  --currentIndex_;
  return result;
}

bool TQxCustomDataSet::RecordAvailable(TRecordBuffer) {
  if (currentIndex_ < Store().Count()) return true;
  FetchUntil(currentIndex_);
  if (currentIndex_ < Store().Count()) return true;
  currentIndex_ = Store().Count();
  return false;
}

void TQxCustomDataSet::InternalLast() {
  TCursorGuard cursor(ExecCursor, UseExecCursor);
  try {
    while (FetchRow() == CS_SUCCEED) LoadRowIntoRecord();
  } catch (const EAbort&) {
    // A refusal read after the rows (a negative return status) leaves them all stored.
    reachable_ = Store().Count();
    currentIndex_ = Store().Count();
    throw;
  }
  if (resultsPending_) FinishFetching();
  reachable_ = Store().Count();
  currentIndex_ = Store().Count();
}

void TQxCustomDataSet::InternalDelete() {
  // One more row is read first, so the number of stored records stays what the grid shows.
  FetchUntil(Store().Count());
  if (LiveMode() && !CachedUpdates) ExecDeleteSQL();
  TQxBaseClientDataSet::InternalDelete();
}

void TQxCustomDataSet::DoBeforeClose() {
  if (cursorOpen_ && command_ && !Destroying() && IsConnectedResolved()) CheckCursorOpen();
  TQxBaseClientDataSet::DoBeforeClose();
}

void TQxCustomDataSet::InternalClose() {
  rowsCutOff_ = false;
  work_.clear();
  keyBuffer_.clear();
  savedKey_.clear();
  Blobs().Clear();
  if (!Destroying()) {
    if (cursorOpen_)
      CloseCursor(command_);
    else
      CancelCommand(command_, CS_CANCEL_ALL);
  }
  if (command_) DropCommand(command_);
  CloseParkedCursors();
  FreeColumns();
  resultsPending_ = false;
  moreRows_ = false;
  cursorOpen_ = false;
  if (!Destroying()) AutoUnprepareQuietly();
  blockReadSize_ = 0;
  packetRecords_ = 0;
  TQxBaseClientDataSet::InternalClose();
  Store().Clear();
  recordCount_ = 0;
  currentIndex_ = -1;
}

void TQxCustomDataSet::Requery() {
  CheckActive();
  DisableControls();
  try {
    RerunQuery();
    First();
  } catch (...) {
    EnableControls();
    throw;
  }
  Resync({});
  EnableControls();
}

// Drops the rows read so far and whatever the command still has pending, then sends the
// statement again and reads its first rows. After a failed send nothing is pending.
void TQxCustomDataSet::RerunQuery() {
  // A dataset whose connection component was destroyed finds one again (or says why not)
  // before anything is dropped.
  if (!resolved_) {
    CheckDatabase();
    FindConnection();
  }
  rowsCutOff_ = false;
  // Refused before anything is dropped or sent: the dataset keeps its rows.
  if (UseQorixCursor)
    CheckCursorOpen();
  else
    CheckNonCursorOpen();
  if (Log().Active()) Log().EmptyDataSet();
  if (cursorOpen_)
    CloseCursor(command_);
  else
    CancelCommand(command_, CS_CANCEL_ALL);
  CloseParkedCursors();
  resultsPending_ = false;
  moreRows_ = false;
  // A statement prepared automatically for the first run was unprepared when its rows ended:
  // its text still holds the markers, so it is prepared again (nothing is pending now).
  if (AutoPrepareDue()) AutoPrepare();
  Store().Clear();
  Blobs().Clear();
  Blobs().ResetNextId();
  recordCount_ = 0;
  currentIndex_ = -1;
  nextBookmarkId_ = 1;
  rowCounter_ = 0;
  moreRows_ = true;
  resultsPending_ = true;
  TCursorGuard cursor(ExecCursor, UseExecCursor);
  try {
    AllocCommand(command_);
    RunQuery(false);
  } catch (...) {
    resultsPending_ = false;
    moreRows_ = false;
    AutoUnprepareQuietly();
    throw;
  }
  reachable_ = 1000;
  FetchUntil(0);
}

void TQxCustomDataSet::InternalRefresh() {
  if (Log().Active() && CachedUpdates && Log().RecordCount() > 0)
    // Pending cached changes would lose their records: they are applied or cancelled first.
    RaiseDataSetError(QStringLiteral("The dataset has cached changes; apply or cancel them before a refresh"), this);
  RerunQuery();
}

void TQxCustomDataSet::CancelAll() {
  // The connection is found even before the dataset ever opened.
  CheckDatabase();
  if (!IsConnectedResolved()) return;
  CheckNonCursorOpen();
  ctlib::ct_cancel(resolved_->ConnectionHandle(), nullptr, CS_CANCEL_ALL);
  ClearDiagMessages(resolved_->ConnectionHandle());
}

void TQxCustomDataSet::CancelUpdates() {
  CheckActive();
  if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) Cancel();
  if (!Log().Active() || Log().RecordCount() == 0) return;
  // The records show what the server holds again; nothing of the log is sent.
  DisableControls();
  try {
    RerunQuery();
    First();
  } catch (...) {
    EnableControls();
    throw;
  }
  if (Log().Active()) Log().EmptyDataSet();
  Resync({});
  EnableControls();
}

void TQxCustomDataSet::EmptyDataSet() {
  TQxBaseClientDataSet::EmptyDataSet();
  // Unread rows without cursor are cancelled: left in the connection's stream they would
  // still hold it while the dataset no longer counts as reading. (An open cursor holds
  // nothing between fetches; it is closed with the dataset.)
  if (resultsPending_ && !cursorOpen_ && command_) {
    CancelCommand(command_, CS_CANCEL_ALL);
    CloseParkedCursors();
  }
  resultsPending_ = false;
  moreRows_ = false;
  if (Active()) lastServerMsg_ = CS_SERVERMSG{};
}

bool TQxCustomDataSet::Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options) {
  TCursorGuard cursor(ExecCursor, UseExecCursor);
  return TQxBaseClientDataSet::Locate(keyFields, keyValues, options);
}

bool TQxCustomDataSet::ObtainColumns() {
  CheckDatabase();
  MonitorTrace(QStringLiteral("Flow : ** Start of obtaining columns **"));
  if (commandText_.trimmed().isEmpty()) RaiseBadSQLError(QxDsText::InvalidSQL, this);
  FindConnection();
  // The probe sends the statement, describes its first row result and cancels it before any
  // row is read.
  CS_COMMAND* cmd = nullptr;
  AllocCommand(cmd);
  QStringList names;
  bool ok = false;
  try {
    QByteArray utf8 = commandText_.toUtf8();
    ctlib::ct_command(cmd, CS_LANG_CMD, utf8.constData(), CS_NULLTERM, CS_UNUSED);
    if (ctlib::ct_send(cmd) != CS_SUCCEED) CheckDiag();
    CheckDiag();
    CS_INT type = 0;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      CheckDiag();
      if (type == CS_ROW_RESULT) {
        CS_INT count = 0;
        ctlib::ct_res_info(cmd, CS_NUMDATA, &count, CS_UNUSED, nullptr);
        for (int n = 1; n <= count; ++n) {
          CS_DATAFMT fmt{};
          ctlib::ct_describe(cmd, n, &fmt);
          if (FieldTypeOf(fmt) == ftUnknown && TypeErrCont) continue;
          QString name = QString::fromUtf8(fmt.name, std::max<CS_INT>(0, fmt.namelen)).trimmed();
          names << name;
        }
        ok = true;
        break;
      }
    }
    CheckDiag();
  } catch (...) {
    ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    DropCommand(cmd);
    throw;
  }
  ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
  ClearDiagMessages(resolved_->ConnectionHandle());
  DropCommand(cmd);
  if (ok && AbortOnNoCols && names.isEmpty()) DatabaseError(QxDsText::NoColumns, this);
  QStringList quoted;
  for (const QString& n : names) quoted << qxsql::QuotePart(n);
  columnList_ = quoted.join(QStringLiteral(", "));
  columnNames_ = names.join(QLatin1Char(';'));
  if (ok) MonitorTrace(QStringLiteral("Flow : ** End of obtaining columns **"));
  return ok;
}

// =====================================================================================
// Statements without result set
// =====================================================================================

QStringList TQxCustomDataSet::QueryRow(const QString& text) {
  const std::vector<QStringList> rows = QueryRows(text);
  return rows.empty() ? QStringList() : rows.front();
}

std::vector<QStringList> TQxCustomDataSet::QueryRows(const QString& text) {
  CS_COMMAND* cmd = nullptr;
  AllocCommand(cmd);
  std::vector<QStringList> all;
  bool gotRow = false;
  try {
    QByteArray utf8 = text.toUtf8();
    MonitorTrace(QStringLiteral("SQL Execute: ") + text);
    ctlib::ct_command(cmd, CS_LANG_CMD, utf8.constData(), CS_NULLTERM, CS_UNUSED);
    SendCommand(cmd);
    CS_INT type = 0;
    bool failed = false;
    CS_RETCODE rc;
    while ((rc = ctlib::ct_results(cmd, &type)) == CS_SUCCEED) {
      CheckDiag();
      if (type == CS_CMD_FAIL) failed = true;
      if (type != CS_ROW_RESULT) continue;
      CS_INT count = 0;
      ctlib::ct_res_info(cmd, CS_NUMDATA, &count, CS_UNUSED, nullptr);
      std::vector<std::vector<char>> bufs(size_t(std::max(0, count)));
      std::vector<CS_INT> lens(size_t(std::max(0, count)));
      std::vector<CS_SMALLINT> inds(size_t(std::max(0, count)));
      for (int n = 1; n <= count; ++n) {
        CS_DATAFMT fmt{};
        ctlib::ct_describe(cmd, n, &fmt);
        CS_DATAFMT b{};
        b.datatype = CS_CHAR_TYPE;
        b.format = CS_FMT_NULLTERM;
        b.maxlength = 512;
        b.count = 1;
        bufs[size_t(n - 1)].assign(513, 0);
        ctlib::ct_bind(cmd, n, &b, bufs[size_t(n - 1)].data(), &lens[size_t(n - 1)], &inds[size_t(n - 1)]);
      }
      CS_INT rows = 0;
      CS_RETCODE frc;
      while ((frc = ctlib::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows)) == CS_SUCCEED) {
        gotRow = true;
        QStringList values;
        for (int n = 0; n < count; ++n)
          values << (inds[size_t(n)] == -1 ? QString() : QString::fromUtf8(bufs[size_t(n)].data()).trimmed());
        all.push_back(values);
      }
      if (frc != CS_END_DATA) {
        CheckDiag();
        DatabaseError(kCommandLost, this);
      }
    }
    CheckDiag();
    if (rc == CS_FAIL) DatabaseError(kCommandLost, this);
    if (failed && !gotRow)
      DatabaseError(LastError().isEmpty() ? QStringLiteral("The statement failed") : LastError(), this);
  } catch (...) {
    ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    DropCommand(cmd);
    throw;
  }
  ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
  DropCommand(cmd);
  return all;
}

void TQxCustomDataSet::ReadExecResults(CS_COMMAND* cmd, int& count, bool& failed, CS_RETCODE& rc) {
  CS_INT type = 0;
  for (;;) {
    MonitorTrace(QStringLiteral("Open-Client: ct_results"));
    rc = ctlib::ct_results(cmd, &type);
    CheckDiag();
    if (rc != CS_SUCCEED) break;
    switch (type) {
      case CS_CMD_SUCCEED:
      case CS_CMD_DONE: {
        if (type == CS_CMD_SUCCEED) MonitorTrace(QStringLiteral("CS_CMD_SUCCEED"));
        CS_INT n = -1;
        if (ctlib::ct_res_info(cmd, CS_ROW_COUNT, &n, CS_UNUSED, nullptr) == CS_SUCCEED && n >= 0) {
          count = n;
          MonitorTrace(QStringLiteral("Open-Client: ct_res_info(CS_ROW_COUNT) - RowCount : ") + QString::number(n));
        }
        break;
      }
      case CS_CMD_FAIL:
        failed = true;
        break;
      case CS_ROW_RESULT:
      case CS_CURSOR_RESULT:
      case CS_COMPUTE_RESULT:
      case CS_STATUS_RESULT:
      case CS_PARAM_RESULT: {
        // A row naming ROWCNT (and IDENT) reports the statement's count (and identity).
        CS_INT cols = 0;
        ctlib::ct_res_info(cmd, CS_NUMDATA, &cols, CS_UNUSED, nullptr);
        std::vector<std::vector<char>> bufs(size_t(std::max(0, cols)));
        std::vector<CS_INT> lens(size_t(std::max(0, cols)));
        std::vector<CS_SMALLINT> inds(size_t(std::max(0, cols)));
        QStringList names;
        for (int n = 1; n <= cols; ++n) {
          CS_DATAFMT fmt{};
          ctlib::ct_describe(cmd, n, &fmt);
          names << QString::fromUtf8(fmt.name, std::max<CS_INT>(0, fmt.namelen)).trimmed();
          CS_DATAFMT b{};
          b.datatype = CS_CHAR_TYPE;
          b.format = CS_FMT_NULLTERM;
          b.maxlength = 256;
          b.count = 1;
          bufs[size_t(n - 1)].assign(257, 0);
          ctlib::ct_bind(cmd, n, &b, bufs[size_t(n - 1)].data(), &lens[size_t(n - 1)], &inds[size_t(n - 1)]);
        }
        CS_INT rows = 0;
        while (ctlib::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
          if (cols >= 1 && names.value(0).compare(QLatin1String("ROWCNT"), Qt::CaseInsensitive) == 0) {
            count = QString::fromUtf8(bufs[0].data()).trimmed().toInt();
            MonitorTrace(QStringLiteral("Open-Client: RowCount : ") + QString::number(count));
          }
          if (cols >= 2 && names.value(1).compare(QLatin1String("IDENT"), Qt::CaseInsensitive) == 0)
            execIdentity_ = QString::fromUtf8(bufs[1].data()).trimmed().toLongLong();
          // A procedure's negative return status is its refusal (a table's statements run
          // none of their own).
          if (type == CS_STATUS_RESULT && cols >= 1 && kind_ != dkTable && inds[0] != -1)
            negativeStatus_ = QString::fromUtf8(bufs[0].data()).trimmed().toInt() < 0;
        }
        break;
      }
      default:
        break;
    }
  }
  CheckDiag();
}

bool TQxCustomDataSet::ExecDirect(const QString& text, int& rowsAffected) {
  CS_COMMAND* cmd = nullptr;
  AllocCommand(cmd);
  TCursorGuard cursor(ExecCursor, UseExecCursor);
  int count = -1;
  bool failed = false;
  CS_RETCODE rc = CS_SUCCEED;
  execIdentity_ = -1;
  negativeStatus_ = false;
  try {
    MonitorTrace(QStringLiteral("SQL Execute: ") + text);
    if (prepared_) {
      QByteArray id = statementId_.toUtf8();
      MonitorTrace(QStringLiteral("Open-Client: ct_dynamic(CS_EXECUTE)"));
      ctlib::ct_dynamic(cmd, CS_EXECUTE, id.data(), CS_NULLTERM, nullptr, CS_UNUSED);
      CheckDiag();
      BindParams(cmd);
    } else {
      QByteArray utf8 = text.toUtf8();
      ctlib::ct_command(cmd, CS_LANG_CMD, utf8.constData(), CS_NULLTERM, CS_UNUSED);
    }
    SendCommand(cmd);
    ReadExecResults(cmd, count, failed, rc);
  } catch (...) {
    negativeStatus_ = false;
    ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    DropCommand(cmd);
    throw;
  }
  ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
  DropCommand(cmd);
  rowsAffected = count;
  if (failed) {
    // The server's own message was reported already; the caller still learns of the failure.
    if (!LastError().isEmpty()) DatabaseError(LastError(), this);
    Abort();
  }
  // A command the library could not complete (a lost connection) did not run.
  if (rc == CS_FAIL) DatabaseError(kCommandLost, this);
  // A procedure that answered with a negative return status refused: the silent abort (its
  // messages were reported as they came).
  if (negativeStatus_) {
    negativeStatus_ = false;
    Abort();
  }
  return true;
}

void TQxCustomDataSet::Prepare() {
  MonitorTrace(QStringLiteral("Flow : ** Start of Prepare ** "));
  if (prepared_) UnPrepare();
  CheckDatabase();
  FindConnection();
  DetectServerType();
  BuildCommandText();
  // Markers are found by the rules of the literal substitution: never inside a string, a
  // bracketed name or a comment.
  QStringList names;
  const QString text = qxsql::PositionalMarkers(commandText_, names);
  occurrences_.clear();
  for (const QString& name : names) {
    if (!params_.FindParam(name)) DatabaseError(QStringLiteral("Parameter '%1' not found").arg(name), this);
    occurrences_ << name;
  }
  statementId_ = NewStatementId();
  CS_COMMAND* cmd = nullptr;
  AllocCommand(cmd);
  try {
    QByteArray id = statementId_.toUtf8();
    QByteArray utf8 = text.toUtf8();
    MonitorTrace(QStringLiteral("Open-Client: ct_dynamic(CS_PREPARE)"));
    ctlib::ct_dynamic(cmd, CS_PREPARE, id.data(), CS_NULLTERM, utf8.data(), CS_NULLTERM);
    if (ctlib::ct_send(cmd) != CS_SUCCEED) CheckDiag();
    CheckDiag();
    CS_INT type = 0;
    bool failed = false;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      CheckDiag();
      if (type == CS_CMD_FAIL) failed = true;
    }
    CheckDiag();
    if (failed) DatabaseError(LastError().isEmpty() ? QStringLiteral("The statement could not be prepared") : LastError(), this);
  } catch (...) {
    ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    DropCommand(cmd);
    throw;
  }
  DropCommand(cmd);
  prepared_ = true;
  MonitorTrace(QStringLiteral("Flow : ** End of Prepare **"));
}

void TQxCustomDataSet::UnPrepare() {
  if (!prepared_) return;
  MonitorTrace(QStringLiteral("Flow : ** Start of UnPrepare **"));
  if (Active() && (kind_ == dkStoredProc || (!UseQorixCursor && resultsPending_)))
    RaiseResultsPendingError(CachedUpdates ? QxDsText::PendingCached : QxDsText::PendingLive, this);
  // Refused while the statement is still known as prepared, so a later UnPrepare frees it.
  if (IsConnectedResolved()) CheckNonCursorOpen();
  prepared_ = false;
  preparedAuto_ = false;
  if (IsConnectedResolved()) {
    CS_COMMAND* cmd = nullptr;
    AllocCommand(cmd);
    QByteArray id = statementId_.toUtf8();
    MonitorTrace(QStringLiteral("Open-Client: ct_dynamic(CS_DEALLOC) - UnPrepare"));
    CS_INT type = 0;
    if (ctlib::ct_dynamic(cmd, CS_DEALLOC, id.data(), CS_NULLTERM, nullptr, CS_UNUSED) == CS_SUCCEED &&
        ctlib::ct_send(cmd) == CS_SUCCEED)
      while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      }
    ClearDiagMessages(resolved_->ConnectionHandle());
    DropCommand(cmd);
  }
  statementId_.clear();
  occurrences_.clear();
  MonitorTrace(QStringLiteral("Flow : ** End of UnPrepare **"));
}

bool TQxCustomDataSet::AutoPrepareDue() const {
  // Only a query's SELECT read without cursor: a cursor takes literals, and other statements
  // (a procedure call) keep theirs.
  return AutoPrepareOn && !prepared_ && kind_ == dkQuery && !UseQorixCursor && params_.Count() > 0 &&
         commandText_.trimmed().left(6).compare(QLatin1String("SELECT"), Qt::CaseInsensitive) == 0 &&
         !qxsql::MarkerNames(commandText_).isEmpty();
}

void TQxCustomDataSet::AutoPrepare() {
  if (!AutoPrepareOn || prepared_) return;
  CheckDatabase();
  Prepare();
  preparedAuto_ = true;
}

void TQxCustomDataSet::AutoUnprepare() {
  if (!preparedAuto_) return;
  preparedAuto_ = false;
  UnPrepare();
}

void TQxCustomDataSet::AutoUnprepareQuietly() {
  if (!preparedAuto_) return;
  try {
    AutoUnprepare();
  } catch (...) {
    prepared_ = false;
    statementId_.clear();
    occurrences_.clear();
  }
}

void TQxCustomDataSet::BindParams(CS_COMMAND* command) {
  // Every "?" of the prepared text gets the value of the parameter its marker named: a name
  // used twice is bound twice.
  for (const QString& name : occurrences_) {
    const TParam* p = params_.FindParam(name);
    if (!p) DatabaseError(QStringLiteral("Parameter '%1' not found").arg(name), this);
    BindParam(command, *p, QByteArray(), CS_INPUTVALUE);
  }
}

void TQxCustomDataSet::BindParam(CS_COMMAND* command, const TParam& param, const QByteArray& bindName,
                                 CS_INT status) {
  const TParam* p = &param;
  const QString& name = param.Name;
  MonitorTrace(QStringLiteral("Bind Params : ") + name + QStringLiteral(" = ") +
               (param.IsNull() ? QStringLiteral("NULL") : param.AsString()));
  {
    CS_DATAFMT fmt{};
    fmt.status = status;
    fmt.namelen = 0;
    if (!bindName.isEmpty()) {
      std::memcpy(fmt.name, bindName.constData(), size_t(std::min<qsizetype>(bindName.size(), CS_MAX_NAME - 1)));
      fmt.namelen = CS_INT(std::min<qsizetype>(bindName.size(), CS_MAX_NAME - 1));
    }
    fmt.count = 1;
    CS_SMALLINT indicator = p->IsNull() ? CS_SMALLINT(-1) : CS_SMALLINT(0);
    QByteArray data;
    TFieldType type = p->DataType;
    // A parameter of no declared type is sent as its value's own type, as its literal would be.
    if (type == ftUnknown) {
      switch (p->Value().typeId()) {
        case QMetaType::Bool:
          type = ftBoolean;
          break;
        case QMetaType::Int:
        case QMetaType::Short:
        case QMetaType::UShort:
          type = ftInteger;
          break;
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
          type = ftLargeint;
          break;
        case QMetaType::Double:
        case QMetaType::Float:
          type = ftFloat;
          break;
        case QMetaType::QDateTime:
        case QMetaType::QDate:
        case QMetaType::QTime:
          type = ftDateTime;
          break;
        case QMetaType::QByteArray:
          type = ftVarBytes;
          break;
        default:
          type = ftString;
          break;
      }
    }
    switch (type) {
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc: {
        fmt.datatype = CS_INT_TYPE;
        const CS_INT v = CS_INT(p->Value().toLongLong());
        data = QByteArray(reinterpret_cast<const char*>(&v), sizeof v);
        break;
      }
      case ftBoolean: {
        // TDS 5.0 has no nullable bit: a NULL goes as a NULL integer, which the server
        // converts (a NULL bit ends the process inside the client library).
        if (indicator == -1) {
          fmt.datatype = CS_INT_TYPE;
          break;
        }
        fmt.datatype = CS_BIT_TYPE;
        const CS_BIT v = p->Value().toBool() ? 1 : 0;
        data = QByteArray(reinterpret_cast<const char*>(&v), sizeof v);
        break;
      }
      case ftLargeint:
      case ftCurrency:
      case ftBCD: {
        // Exact numbers go as numeric, digit for digit (a double would change them; a 64-bit
        // integer past 2^53 too).
        const QString text = indicator == -1 ? QString()
                             : p->Value().typeId() == QMetaType::Double || p->Value().typeId() == QMetaType::Float
                                 ? DecimalOfDouble(p->Value().toDouble())
                                 : CanonicalDecimal(p->Value().toString());
        if (indicator != -1 && text.isNull())
          DatabaseError(QStringLiteral("Parameter '%1' holds no number").arg(name), this);
        const qsizetype point = text.indexOf(QLatin1Char('.'));
        CS_DATAFMT src{};
        src.datatype = CS_CHAR_TYPE;
        src.format = CS_FMT_NULLTERM;
        QByteArray chars = text.toLatin1();
        src.maxlength = CS_INT(chars.size());
        fmt.datatype = CS_NUMERIC_TYPE;
        fmt.precision = 38;  // the servers' largest numeric
        fmt.scale = point < 0 ? 0 : CS_INT(text.size() - point - 1);
        fmt.maxlength = sizeof(CS_NUMERIC);
        CS_NUMERIC value{};
        if (indicator != -1) {
          CS_DATAFMT dest = fmt;
          CS_INT len = 0;
          if (ctlib::cs_convert(resolved_ ? resolved_->ContextHandle() : nullptr, &src, chars.data(), &dest, &value,
                                &len) != CS_SUCCEED)
            DatabaseError(QStringLiteral("Parameter '%1' does not fit a numeric value").arg(name), this);
        }
        data = QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
        break;
      }
      case ftFloat: {
        fmt.datatype = CS_FLOAT_TYPE;
        const CS_FLOAT v = p->Value().toDouble();
        data = QByteArray(reinterpret_cast<const char*>(&v), sizeof v);
        break;
      }
      case ftDate:
      case ftTime:
      case ftDateTime: {
        fmt.datatype = CS_DATETIME_TYPE;
        QDateTime dt = p->Value().toDateTime();
        if (p->Value().typeId() == QMetaType::QDate) dt = QDateTime(p->Value().toDate(), QTime(0, 0));
        // A time of day stands on the server's first day, 1 January 1900.
        if (p->Value().typeId() == QMetaType::QTime) dt = QDateTime(QDate(1900, 1, 1), p->Value().toTime());
        if (indicator != -1 && !dt.isValid()) DatabaseError(QStringLiteral("Parameter '%1' holds no valid date and time").arg(name), this);
        CS_DATETIME v{};
        if (indicator != -1) {
          v.dtdays = CS_INT(dt.date().toJulianDay() - QDate(1900, 1, 1).toJulianDay());
          v.dttime = qxsql::TimeToTicks(dt.time().msecsSinceStartOfDay());
        }
        data = QByteArray(reinterpret_cast<const char*>(&v), sizeof v);
        break;
      }
      case ftBytes:
      case ftVarBytes:
      case ftBlob:
      case ftGraphic:
        data = p->Value().toByteArray();
        fmt.datatype = data.size() > 255 ? CS_LONGBINARY_TYPE : CS_BINARY_TYPE;
        break;
      default: {
        QString text = p->Value().toString();
        const qsizetype nul = text.indexOf(QChar(0));
        if (nul >= 0) text.truncate(nul);
        // The text's own bytes, without a terminator.
        data = text.toUtf8();
        fmt.datatype = data.size() > 255 ? CS_LONGCHAR_TYPE : CS_CHAR_TYPE;
        break;
      }
    }
    fmt.maxlength = std::max<CS_INT>(1, CS_INT(data.size()));
    // An output value comes back in a buffer as large as its type allows.
    if (status == CS_RETURN && (fmt.datatype == CS_CHAR_TYPE || fmt.datatype == CS_LONGCHAR_TYPE ||
                                fmt.datatype == CS_BINARY_TYPE || fmt.datatype == CS_LONGBINARY_TYPE))
      fmt.maxlength = std::max<CS_INT>(fmt.maxlength, 255);
    if (ctlib::ct_param(command, &fmt, indicator == -1 ? nullptr : data.data(),
                        indicator == -1 ? 0 : CS_INT(data.size()), indicator) != CS_SUCCEED)
      CheckDiag();
  }
}

void TQxCustomDataSet::ExecSQL() {
  CheckDatabase();
  lastServerMsg_ = CS_SERVERMSG{};
  DetectServerType();
  FindConnection();
  BuildCommandText();
  const QString text = prepared_ ? commandText_ : qxsql::SubstituteParams(commandText_, params_);
  int rows = -1;
  // A failed run leaves no earlier count behind.
  rowsAffected_ = -1;
  try {
    ExecDirect(text, rows);
  } catch (...) {
    AutoUnprepareQuietly();
    throw;
  }
  rowsAffected_ = rows;
  lastStatement_ = text;
  if (AfterExec) AfterExec(this);
  // A preparation made automatically for an open is not kept by a statement run.
  AutoUnprepareQuietly();
}

int64_t TQxCustomDataSet::GetIdentityValue() {
  if (!IsConnectedResolved()) return -1;
  const QStringList row = QueryRow(QStringLiteral("SELECT @@IDENTITY"));
  const QString text = row.isEmpty() ? QStringLiteral("0") : row.first();
  bool ok = false;
  // A numeric identity may come with a decimal point ("7.0" or "7").
  const double d = text.toDouble(&ok);
  if (!ok) DatabaseError(QxDsText::CharToInt, this);
  MonitorTrace(QStringLiteral("SQL Data Out: - Identity Value : ") + text);
  return int64_t(d);
}

void TQxCustomDataSet::ApplyUpdates() {
  CheckDatabase();
  if (!updateObject_) RaiseDataSetError(QxDsText::NoUpdateObject, this);
  if (!Active()) RaiseNotOpenError(QxDsText::ClosedDataSet, this);
  if (!CachedUpdates) RaiseDataSetError(QxDsText::NotCached, this);
  if (!UseQorixCursor && resultsPending_) RaiseResultsPendingError(QxDsText::PendingCached, this);
  TQxBaseClientDataSet::ApplyUpdates();
}

// =====================================================================================
// Key values (dsSetKey)
// =====================================================================================

namespace {
bool HoldsBlob(TFieldType t) {
  return t == ftVarBytes || t == ftBlob || t == ftMemo || t == ftGraphic || t == ftFmtMemo || t == ftDataSet;
}
}  // namespace

void TQxCustomDataSet::ClearKeyBuffer() {
  keyBuffer_.assign(size_t(std::max(0, RecordSize())), 0);
  for (int n = 1; n <= FieldDefs().Count(); ++n) {
    const TFieldDef* def = FieldDefs().Items(n - 1);
    const int off = FieldOffset(n);
    const int width = SlotWidth(def->DataType, def->Size);
    if (off >= 0 && off + width < int(keyBuffer_.size())) keyBuffer_[size_t(off + width)] = 1;
  }
}

void TQxCustomDataSet::SetKey() {
  CheckActive();
  BeginKeyState();
  savedKey_ = keyBuffer_;
  ClearKeyBuffer();
  DataEvent(TDataEvent::deDataSetChange, 0);
}

void TQxCustomDataSet::EditKey() {
  CheckActive();
  BeginKeyState();
  savedKey_ = keyBuffer_;
  DataEvent(TDataEvent::deDataSetChange, 0);
}

void TQxCustomDataSet::InternalPostKey() {
  savedKey_.clear();
}

void TQxCustomDataSet::InternalCancelKey() {
  if (savedKey_.size() == keyBuffer_.size()) keyBuffer_ = savedKey_;
  savedKey_.clear();
}

bool TQxCustomDataSet::GetFieldData(const TField* field, void* buffer) {
  if (State() != TDataSetState::dsSetKey || !field || field->FieldKind != TFieldKind::fkData || field->FieldNo() < 1)
    return TQxBaseClientDataSet::GetFieldData(field, buffer);
  const int n = field->FieldNo();
  if (n > FieldDefs().Count() || keyBuffer_.empty()) return false;
  const TFieldDef* def = FieldDefs().Items(n - 1);
  if (HoldsBlob(def->DataType)) return false;
  const int off = FieldOffset(n);
  const int width = SlotWidth(def->DataType, def->Size);
  if (off < 0 || off + width >= int(keyBuffer_.size())) return false;
  const bool hasValue = keyBuffer_[size_t(off + width)] == 0;
  if (buffer && hasValue) std::memcpy(buffer, keyBuffer_.data() + off, size_t(width));
  return hasValue;
}

void TQxCustomDataSet::SetFieldData(TField* field, const void* buffer) {
  if (State() != TDataSetState::dsSetKey || !field || field->FieldKind != TFieldKind::fkData || field->FieldNo() < 1) {
    TQxBaseClientDataSet::SetFieldData(field, buffer);
    return;
  }
  const int n = field->FieldNo();
  if (n > FieldDefs().Count() || keyBuffer_.empty()) return;
  const TFieldDef* def = FieldDefs().Items(n - 1);
  if (HoldsBlob(def->DataType)) DatabaseError(QStringLiteral("Field '%1' cannot be a key value").arg(field->FieldName), this);
  const int off = FieldOffset(n);
  const int width = SlotWidth(def->DataType, def->Size);
  if (off < 0 || off + width >= int(keyBuffer_.size())) return;
  if (buffer) std::memcpy(keyBuffer_.data() + off, buffer, size_t(width));
  keyBuffer_[size_t(off + width)] = buffer ? 0 : 1;
  DataEvent(TDataEvent::deFieldChange, reinterpret_cast<intptr_t>(field));
}

bool TQxCustomDataSet::GotoKey() {
  CheckBrowseMode();
  CheckActive();
  // The key values as the fields read them in the key-setting state.
  QStringList names = KeyFieldNames();
  if (names.isEmpty()) names = PrimeFields;
  QStringList used;
  QVariantList values;
  const TDataSetState old = SetTempState(TDataSetState::dsSetKey);
  try {
    for (int i = 0; i < FieldCount(); ++i) {
      TField* f = Fields().Fields(i);
      if (f->FieldKind != TFieldKind::fkData || f->FieldNo() < 1) continue;
      const bool isKey = names.isEmpty() ? !f->IsNull() : names.contains(f->FieldName, Qt::CaseInsensitive);
      if (!isKey) continue;
      used << f->FieldName;
      values << f->Value();
    }
  } catch (...) {
    RestoreState(old);
    throw;
  }
  RestoreState(old);
  if (used.isEmpty()) return false;
  return Locate(used.join(QLatin1Char(';')), used.size() == 1 ? values.first() : QVariant(values), {});
}

// =====================================================================================
// Block reads
// =====================================================================================

void TQxCustomDataSet::SetBlockReadSize(int size) {
  if (size == blockReadSize_) return;
  if (size < 1) {
    blockReadSize_ = 0;
    packetRecords_ = 0;
    if (State() == TDataSetState::dsBlockRead) {
      SetState(TDataSetState::dsBrowse);
      // The data sources saw none of the moves: they are shown where the dataset stands now.
      Resync({});
    }
    return;
  }
  if (State() == TDataSetState::dsSetKey) {
    blockReadSize_ = size;
    return;
  }
  CheckBrowseMode();
  blockReadSize_ = size;
  packetRecords_ =
      size == std::numeric_limits<int32_t>::max() ? std::max(1, 65536 / std::max(1, RecordSize())) : size;
  SetState(TDataSetState::dsBlockRead);
  if (resultsPending_) {
    TCursorGuard cursor(ExecCursor, UseExecCursor);
    FetchRowsCount(packetRecords_);
  }
}

void TQxCustomDataSet::BlockReadNext() {
  CheckActive();
  UpdateCursorPos();
  // The packet is used up when the next record is not stored yet: the next packet is read
  // in one go, so the moves through it need no round trip.
  if (packetRecords_ > 0 && resultsPending_ && currentIndex_ + 1 >= Store().Count()) {
    TCursorGuard cursor(ExecCursor, UseExecCursor);
    FetchRowsCount(packetRecords_);
    }
  Next();
}

// =====================================================================================
// Field definitions without rows
// =====================================================================================

void TQxCustomDataSet::InitFieldDefs() {
  if (Active()) return;
  // Nothing stays pending: the statement is cancelled before its rows are read.
  try {
    PrepareFieldDefsText();
  } catch (...) {
    resultsPending_ = false;
    moreRows_ = false;
    throw;
  }
  resultsPending_ = false;
  moreRows_ = false;
  DescribeWithoutRows();
}

void TQxCustomDataSet::PrepareFieldDefsText() {
  BuildCommandText();
  CheckOpenPrerequisites();
  SubstituteParamValues();
}

void TQxCustomDataSet::DescribeWithoutRows() {
  // A prepared text still holds its markers: the probe takes the values as literals.
  const QString text = qxsql::MarkerNames(commandText_).isEmpty() ? commandText_
                                                                  : qxsql::SubstituteParams(commandText_, params_);
  if (text.trimmed().isEmpty()) RaiseBadSQLError(QxDsText::InvalidSQL, this);
  CS_COMMAND* cmd = nullptr;
  AllocCommand(cmd);
  std::vector<Column> described;
  bool found = false;
  try {
    TCursorGuard cursor(ExecCursor, UseExecCursor);
    QByteArray utf8 = text.toUtf8();
    MonitorTrace(QStringLiteral("SQL Execute : ") + text);
    ctlib::ct_command(cmd, CS_LANG_CMD, utf8.constData(), CS_NULLTERM, CS_UNUSED);
    SendCommand(cmd);
    CS_INT type = 0;
    bool failed = false;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      CheckDiag();
      if (type == CS_CMD_FAIL) failed = true;
      if (type == CS_STATUS_RESULT || type == CS_PARAM_RESULT || type == CS_COMPUTE_RESULT)
        ReadProcResult(cmd, type);
      if (type != CS_ROW_RESULT) continue;
      found = true;
      CS_INT count = 0;
      if (ctlib::ct_res_info(cmd, CS_NUMDATA, &count, CS_UNUSED, nullptr) != CS_SUCCEED) count = 0;
      DescribeColumns(cmd, count, described);
      break;
    }
    CheckDiag();
    if (failed && !found)
      DatabaseError(LastError().isEmpty() ? QStringLiteral("The statement failed") : LastError(), this);
  } catch (...) {
    ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    ClearDiagMessages(resolved_->ConnectionHandle());
    DropCommand(cmd);
    throw;
  }
  // The rows (and any later result) are never read.
  ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
  ClearDiagMessages(resolved_->ConnectionHandle());
  DropCommand(cmd);
  if (!found || described.empty()) {
    FieldDefs().Clear();
    if (AbortOnNoCols) DatabaseError(QxDsText::NoColumns, this);
    return;
  }
  columns_ = std::move(described);
  InitFieldDefsFromColumns();
  columns_.clear();
}

// =====================================================================================
// Provider operations
// =====================================================================================

void TQxCustomDataSet::PSStartTransaction() {
  CheckDatabase();
  FindConnection();
  CheckNonCursorOpen();
  resolved_->BeginTran(QString());
}

void TQxCustomDataSet::PSEndTransaction(bool commit) {
  CheckDatabase();
  if (!IsConnectedResolved()) {
    // The server has ended the transaction with the connection: a commit did not happen.
    if (commit) DatabaseError(QStringLiteral("The transaction cannot be committed: not connected"), this);
    return;
  }
  CheckNonCursorOpen();
  if (commit)
    resolved_->CommitTran(QString());
  else
    resolved_->RollbackTran(QString());
}

bool TQxCustomDataSet::PSInTransaction() const {
  TQorixDatabase* db = resolved_ ? resolved_ : database_;
  if (!db || !db->Connected() || !db->ConnectionHandle()) return false;
  return db->InTransaction();
}

bool TQxCustomDataSet::PSIsSQLBased() const {
  TQorixDatabase* db = resolved_ ? resolved_ : database_;
  return db && db->Connected() && db->ConnectionHandle();
}

int TQxCustomDataSet::PSExecuteStatement(const QString& sql, const TParams& params,
                                         std::unique_ptr<TQxQuery>* resultSet) {
  CheckDatabase();
  FindConnection();
  // The connection's result stream must be free: a non-cursor dataset still reading its
  // rows would get this statement's results mixed into them.
  CheckNonCursorOpen();
  if (!UseQorixCursor && resultsPending_ && Active())
    RaiseResultsPendingError(QxDsText::PendingLive, this);
  TParams given(params);
  for (int i = 0; i < given.Count(); ++i) {
    if (given[i].Name.isEmpty()) given[i].Name = QStringLiteral("Param") + QString::number(i);
    given[i].ParamType = ptInput;
  }
  auto query = std::make_unique<TQxQuery>();
  query->SetDatabase(resolved_);
  query->ShowDbMessages = ShowDbMessages;
  query->MsgDialogs = MsgDialogs;
  query->Monitor = Monitor;
  query->TrimResults = TrimResults;
  query->ParamCheck = true;
  query->SetSQL(sql);
  // Every marker takes the given parameter of its name: a marker without one would write
  // NULL where the caller meant a value.
  for (int i = 0; i < query->Params().Count(); ++i) {
    TParam& p = query->Params()[i];
    const TParam* source = given.FindParam(p.Name);
    if (!source) DatabaseError(QStringLiteral("Parameter '%1' not found").arg(p.Name), this);
    p.DataType = source->DataType;
    p.ParamType = ptInput;
    p.SetValue(source->Value());
  }
  if (resultSet) {
    query->Open();
    const int rows = query->RowsAffected();
    *resultSet = std::move(query);
    return rows;
  }
  query->ExecSQL();
  return query->RowsAffected();
}

EUpdateError TQxCustomDataSet::PSGetUpdateException(const Exception& e, const EUpdateError* previous) const {
  return EUpdateError(e.Message(), 0, previous ? previous->ErrorCode : 0);
}

void TQxCustomDataSet::PSReset() {
  if (Active()) Close();
  Open();
}

bool TQxCustomDataSet::PSUpdateRecord(TQxUpdateKind kind, TDataSet& delta, TDataSet* oldValues) {
  if (OnUpdateRecord) {
    TUpdateAction action = uaFail;
    OnUpdateRecord(delta, kind, action);
    return action == uaApplied;
  }
  if (!updateObject_ || !CachedUpdates) return false;
  const QString sql = updateObject_->GetSQL(kind).join(QLatin1Char('\n'));
  if (sql.trimmed().isEmpty()) return false;
  TDataSet& old = oldValues ? *oldValues : delta;
  TParams params;
  for (const QString& name : qxsql::MarkerNames(sql)) {
    TParam& p = params.CreateParam(ftUnknown, name, ptInput);
    TField* f = delta.FindField(name);
    bool takeOld = kind == ukDelete;
    QString fieldName = name;
    if (!f && name.startsWith(QLatin1String("OLD_"), Qt::CaseInsensitive)) {
      fieldName = name.mid(4);
      takeOld = true;
    }
    TField* source = takeOld ? old.FindField(fieldName) : f;
    if (!source) DatabaseError(QStringLiteral("Field '%1' not found").arg(fieldName), this);
    p.DataType = source->DataType();
    p.SetValue(source->Value());
  }
  if (PSExecuteStatement(sql, params) == 0) DatabaseError(QxDsText::RecordChanged, this);
  return true;
}
