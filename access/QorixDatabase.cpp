// TQorixDatabase: construction and destruction, Connect with its connection properties and
// after-login steps, Disconnect, the list operations, server options, transactions, the idle
// timer, DbParams, AssignSettings and the information queries.

#include "access/QorixDatabase.h"

#include <QPointer>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstring>

#include "access/QorixBase.h"
#include "access/QorixContext.h"
#include "access/QorixDirService.h"
#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/UiServices.h"

namespace {

TLoginDialogFunc& LoginDialog() {
  static TLoginDialogFunc dialog;
  return dialog;
}

// The "default" context a database created because none existed. Only that one is freed
// with the last database; a context the program placed itself (also one named "default")
// keeps living.
QPointer<TQorixContext>& CreatedContext() {
  static QPointer<TQorixContext> context;
  return context;
}

// Every live database, named or not (an unnamed one is in no list but holds the handle).
std::atomic<int> g_liveDatabases{0};

const QString kSybaseSqlServer = QStringLiteral("Sybase SQL Server");

// A regular T-SQL identifier: a letter, "_", "@" or "#" first, then letters, digits, "_",
// "$", "@" and "#", at most 30 characters ("pubs2", "#tmp", "tran_1").
bool IsRegularIdentifier(const QString& name) {
  if (name.isEmpty() || name.size() > 30) return false;
  const QChar first = name.front();
  if (!first.isLetter() && first != u'_' && first != u'@' && first != u'#') return false;
  for (QChar c : name)
    if (!c.isLetterOrNumber() && c != u'_' && c != u'$' && c != u'@' && c != u'#') return false;
  return true;
}

// Client-Library's CS_ASYNC_NOTIFS, which FreeTDS's headers lack (the facade keeps it as set).
constexpr CS_INT kCsAsyncNotifs = 9126;

// The login fields of the family's login record hold 30 bytes.
constexpr int kLoginFieldBytes = 30;

}  // namespace

namespace {

// The engines' AutoDb connections are databases of this class, named like any run-time one.
const bool kAutoFactoryInstalled = [] {
  AutoDatabaseFactory() = [](TComponent* owner) -> TQorixDatabaseBase* {
    auto* db = new TQorixDatabase(owner);
    db->SetName(TQorixDatabase::MakeDatabaseName());
    return db;
  };
  return true;
}();

}  // namespace

TLoginDialogFunc SetLoginDialog(TLoginDialogFunc dialog) {
  TLoginDialogFunc previous = std::move(LoginDialog());
  LoginDialog() = std::move(dialog);
  return previous;
}

// --- Construction ---------------------------------------------------------------------------

TQorixDatabase::TQorixDatabase(TComponent* owner) : TQorixDatabaseBase(owner) {
  IniFile = DefaultIniFile();
  bool empty;
  {
    std::lock_guard lock(RegistryLock());
    empty = ContextList().empty();
  }
  if (empty) {
    auto* context = new TQorixContext(nullptr);
    context->SetName(QStringLiteral("default"));
    CreatedContext() = context;
  }
  // Counted only once nothing below can fail: a constructor that throws runs no destructor.
  ++g_liveDatabases;
  // A directory that cannot be read leaves the list empty rather than failing the component.
  try {
    FillServerList();
  } catch (const Exception&) {
    ServerList.clear();
  }
  foundServers_ = ServerList;
  query_ = new TQorixEnhQuery(this);
}

TQorixDatabase::~TQorixDatabase() {
  // No events while destroying: the owner may be half gone.
  OnTimerDisConnect = nullptr;
  BeforeConnect = AfterConnect = BeforeDisConnect = AfterDisConnect = OnPwdExpired = nullptr;
  OnDbError = AfterDbError = OnDbMessage = AfterDbMessage = nullptr;
  delete idleTimer_;
  idleTimer_ = nullptr;
  // The internal query cancels and drops its command while the connection still exists.
  delete query_;
  query_ = nullptr;
  try {
    if (connected_) Disconnect();
  } catch (const Exception&) {
  }
  ReleaseConnection(false);
  UnregisterDatabase(this);
  if (--g_liveDatabases == 0 && CreatedContext()) {
    delete CreatedContext().data();
    CreatedContext() = nullptr;
  }
}

void TQorixDatabase::Loaded() {
  TQorixDatabaseBase::Loaded();
  ServerList = foundServers_;
}

void TQorixDatabase::SetName(const QString& name) {
  const QString old = Name();
  TQorixDatabaseBase::SetName(name);
  RegisterDatabase(this);
  std::lock_guard lock(RegistryLock());
  for (TComponent* c : DbAwareComponentList()) {
    if (auto* base = dynamic_cast<TQorixBase*>(c); base && base->DbName == old) base->DbName = name;
  }
}

CS_CONTEXT* TQorixDatabase::GetContextHandle() {
  context_ = FindContextHandle(ContextName);
  if (!context_) DatabaseError(LoadResString(QorixRes::SErrorAllocatingContext));
  return context_;
}

// --- Connect --------------------------------------------------------------------------------

void TQorixDatabase::CheckMessages(bool raiseOnError) {
  if (!connection_) return;
  CS_SERVERMSG srv{};
  CS_CLIENTMSG cli{};
  ProcessDiagMessages(connection_, srv, cli, this, raiseOnError, MsgDialogs.Contains(mdEnhErr),
                      MsgDialogs.Contains(mdEnhMsg), ShowDbMessages.Contains(smDbMsg),
                      ShowDbMessages.Contains(smDbErr));
}

void TQorixDatabase::SetConProp(CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT length,
                                int failText) {
  if (ctlib::ct_con_props(connection_, action, property, buffer, length, nullptr) != CS_SUCCEED)
    throw EQorixException(LoadResString(failText));
}

void TQorixDatabase::ReleaseConnection(bool close) {
  if (!connection_) return;
  if (close)
    ctlib::ct_close(connection_, (ForceClose || ConProps.Contains(cpAsync)) ? CS_FORCE_CLOSE : CS_UNUSED);
  ClearDiagMessages(connection_);
  ctlib::ct_con_drop(connection_);
  connection_ = nullptr;
}

TQxLoginData TQorixDatabase::LoginData() const {
  TQxLoginData d;
  d.UserName = UserName;
  d.Password = Password;
  d.ServerName = ServerName;
  d.Rdbms = Rdbms;
  d.ServerList = ServerList;
  d.ServerPrompt = ServerPrompt;
  d.ServerShow = ServerShow;
  d.RdbmsPrompt = RdbmsPrompt;
  d.RdbmsShow = RdbmsShow;
  return d;
}

void TQorixDatabase::Connect() {
  if (connected_) {
    GetContextHandle();
    return;
  }
  // Only a new login starts from the server's defaults; clearing the last-applied set on a
  // live session would make a later removal of an option go unsent.
  applied_ = TProcOptions();
  // A message of an earlier attempt must not count as this one's (expired password, error).
  pwdExpiredFired_ = false;
  SetLastServerMsg(CS_SERVERMSG{});
  SetLastError(QString());

  if (UseParams) ApplyDbParams(this, &Params);
  if (BeforeConnect) BeforeConnect(this);
  // The context is resolved only now, after DbParams may have named another one and a blank
  // name has become "default".
  if (ContextName.trimmed().isEmpty()) ContextName = QStringLiteral("default");
  if (dbName_.trimmed().isEmpty()) dbName_ = QStringLiteral("master");
  GetContextHandle();

  // The handle of an earlier, closed session is dropped before a new one is allocated.
  ReleaseConnection(false);
  if (ctlib::ct_con_alloc(context_, &connection_) != CS_SUCCEED) {
    connection_ = nullptr;
    throw EQorixException(LoadResString(QorixRes::SCtConAllocFailed));
  }
  ctlib::ct_diag(connection_, CS_INIT, CS_UNUSED, CS_UNUSED, nullptr);

  bool opened = false;  // a session exists on the handle (ct_connect succeeded or is pending)
  try {
    if (LoginPrompt) {
      TQxLoginData data = LoginData();
      const TLoginDialogFunc& dialog = LoginDialog();
      if (!dialog || !dialog(data)) {
        ReleaseConnection(false);
        return;
      }
      UserName = data.UserName;
      Password = data.Password;
      ServerName = data.ServerName;
      Rdbms = data.Rdbms;
    }
    connected_ = false;
    // Client-Library sends the machine's name when no host name is set; FreeTDS sends none.
    const QString hostName = HostName.isEmpty() ? QSysInfo::machineHostName() : HostName;
    const QByteArray user = UserName.toUtf8(), password = Password.toUtf8(), server = ServerName.toUtf8(),
                     app = AppName.left(30).toUtf8(), host = hostName.left(30).toUtf8();
    // The login record's fields hold 30 bytes; a longer name or password would be cut by the
    // library and log in as someone else (or fail for a reason nobody sees), so it is refused.
    if (user.size() > kLoginFieldBytes || password.size() > kLoginFieldBytes)
      DatabaseError(QStringLiteral("Login name or password longer than 30 characters"), this);

    CS_BOOL on = CS_TRUE;
    struct Flag {
      TConProp prop;
      CS_INT property;
      int text;
    };
    static const Flag kBefore[] = {
        {cpAnsiBinds, CS_ANSI_BINDS, QorixRes::SConPropAnsiBindsFailed},
        {cpAsync_Notifs, kCsAsyncNotifs, QorixRes::SConPropAsyncNotifsFailed},
        {cpBulk_Login, CS_BULK_LOGIN, QorixRes::SConPropBulkLoginFailed},
        {cpDiag_Timeout, CS_DIAG_TIMEOUT, QorixRes::SConPropDiagTimeoutFailed},
        {cpExtra_Inf, CS_EXTRA_INF, QorixRes::SConPropExtraInfFailed},
        {cpHidden_Keys, CS_HIDDEN_KEYS, QorixRes::SConPropHiddenKeysFailed},
    };
    for (const Flag& f : kBefore)
      if (ConProps.Contains(f.prop)) SetConProp(CS_SET, f.property, &on, CS_UNUSED, f.text);
    if (ConProps.Contains(cpLogin_Status)) {
      CS_INT status = 0;
      SetConProp(CS_GET, CS_LOGIN_STATUS, &status, CS_UNUSED, QorixRes::SConPropLoginStatusFailed);
    }
    if (ConProps.Contains(cpSec_Encryption))
      SetConProp(CS_SET, CS_SEC_ENCRYPTION, &on, CS_UNUSED, QorixRes::SConPropSecEncryptionFailed);
    if (ConProps.Contains(cpSec_Negotiate))
      SetConProp(CS_SET, CS_SEC_NEGOTIATE, &on, CS_UNUSED, QorixRes::SConPropSecNegotiateFailed);
    if (packetSize_ > 0) {
      CS_INT size = packetSize_;
      SetConProp(CS_SET, CS_PACKETSIZE, &size, CS_UNUSED, QorixRes::SConPropPacketSizeFailed);
    }
    if (ConProps.Contains(cpAsync)) {
      CS_INT io = CS_ASYNC_IO;
      SetConProp(CS_SET, CS_NETIO, &io, CS_UNUSED, QorixRes::SConPropAsyncIoFailed);
    }
    SetConProp(CS_SET, CS_USERNAME, const_cast<char*>(user.constData()), CS_NULLTERM,
               QorixRes::SConPropUserNameFailed);
    SetConProp(CS_SET, CS_PASSWORD, const_cast<char*>(password.constData()), CS_NULLTERM,
               QorixRes::SConPropPasswordFailed);
    SetConProp(CS_SET, CS_APPNAME, const_cast<char*>(app.constData()), CS_NULLTERM,
               QorixRes::SConPropAppNameFailed);
    SetConProp(CS_SET, CS_HOSTNAME, const_cast<char*>(host.constData()), CS_NULLTERM,
               QorixRes::SConPropHostNameFailed);

    MonitorLine(QStringLiteral("SQL Connect: UserName = ") + UserName + QStringLiteral(", ServerName = ") +
                ServerName + QStringLiteral(", DbName = ") + dbName_);

    if (RuntimeConfig.UseConfigFile) {
      if (RuntimeConfig.ConfigByServerName) {
        CS_BOOL t = CS_TRUE;
        ctlib::ct_con_props(connection_, CS_SET, 9157, &t, CS_UNUSED, nullptr);
      }
      if (RuntimeConfig.ConfigFile.isEmpty()) DatabaseError(LoadResString(QorixRes::SNoConfigFile), this);
      const QByteArray file = RuntimeConfig.ConfigFile.toLocal8Bit();
      ctlib::ct_con_props(connection_, CS_SET, 9156, const_cast<char*>(file.constData()), CS_NULLTERM,
                          nullptr);
      CS_BOOL t = CS_TRUE;
      ctlib::ct_con_props(connection_, CS_SET, 9155, &t, CS_UNUSED, nullptr);
    }

    const CS_RETCODE rc = ctlib::ct_connect(connection_, const_cast<char*>(server.constData()), CS_NULLTERM);
    opened = rc == CS_SUCCEED || rc == CS_PENDING;
    try {
      CheckMessages(ConnectError);
    } catch (const Exception&) {
      const int number = LastServerMsg().msgnumber;
      if ((number == 4022 || number == 7742) && OnPwdExpired) {
        pwdExpiredFired_ = true;
        OnPwdExpired(this);
      } else {
        throw;
      }
    }
    if (!opened) {
      // FreeTDS can fail a login (an unknown server name, a refused address) without any
      // message of error severity; the failure is still reported as one.
      if (LastError().isEmpty()) {
        const QString text = Format(LoadResString(QorixRes::SCannotLogin), {ServerName});
        SetLastError(text);
        if (ConnectError) DatabaseError(text, this);
      }
      ReleaseConnection(false);
      return;
    }
    if (ConProps.Contains(cpAsync)) {
      // This component never completes an asynchronous login: the started session is closed
      // instead of being left open behind a component that says it is not connected.
      ReleaseConnection(true);
      return;
    }

    MonitorLine(QStringLiteral("Connected"));
    connected_ = true;
    ++session_;
    connectTime_ = QDateTime::currentDateTime();
    lastActivity_ = connectTime_;

    char hostBuf[129] = {0};
    CS_INT outlen = 0;
    if (ctlib::ct_con_props(connection_, CS_GET, CS_HOSTNAME, hostBuf, 128, &outlen) == CS_SUCCEED)
      HostName = QString::fromUtf8(hostBuf, static_cast<qsizetype>(strnlen(hostBuf, 128)));
    if (!ConProps.Contains(cpConnect_Only)) {
      if (!dbName_.trimmed().isEmpty()) {
        const QString db = dbName_.trimmed();
        if (!IsRegularIdentifier(db))
          DatabaseError(QStringLiteral("Invalid database name '%1'").arg(db), this);
        RunExec(QStringLiteral("USE ") + db);
      }
      if (!InitString.trimmed().isEmpty()) RunExec(InitString);
    }
    RegisterDatabase(this);
    query_->Cancel(CS_CANCEL_ALL);
    ApplyProcOptions(ProcOptions);
  } catch (...) {
    // A failed login, a refused property or a failing "USE"/InitString leaves nothing half
    // set up: the session is closed and the handle dropped before the error passes on.
    connected_ = false;
    ReleaseConnection(opened);
    throw;
  }

  if (!pwdExpiredFired_ && LastServerMsg().msgnumber == 4022 && OnPwdExpired) {
    pwdExpiredFired_ = true;
    OnPwdExpired(this);
  }
  if (AfterConnect) AfterConnect(this);
  if (Rdbms == kSybaseSqlServer) SendOption(CS_OPT_TEXTSIZE, textSize_);
  SetTransLevel(transLevel_);
  SetDebugOptions(debugOptions_);
  SetRowCount(rowCount_);
}

void TQorixDatabase::SetConnected(bool value) {
  if (value)
    Connect();
  else
    Disconnect();
}

void TQorixDatabase::Disconnect() {
  if (BeforeDisConnect) BeforeDisConnect(this);
  lastActivity_ = QDateTime::currentDateTime();
  if (connected_) {
    if (BeforeCloseHook()) {
      try {
        BeforeCloseHook()(*this);
      } catch (...) {
      }
    }
    CancelCommands();
    connected_ = false;
    inTransaction_ = false;
    ctlib::ct_close(connection_, (ForceClose || ConProps.Contains(cpAsync)) ? CS_FORCE_CLOSE : CS_UNUSED);
    MonitorLine(QStringLiteral("SQL DisConnect: UserName = ") + UserName + QStringLiteral(", ServerName = ") +
                ServerName + QStringLiteral(", DbName = ") + dbName_);
  }
  if (AfterDisConnect) AfterDisConnect(this);
}

// --- List operations and small helpers -------------------------------------------------------

TQorixDatabase* TQorixDatabase::FindDatabase(const QString& name) {
  return dynamic_cast<TQorixDatabase*>(::FindDatabase(name));
}

QString TQorixDatabase::MakeDatabaseName() {
  return MakeDatabaseName(QDateTime::currentDateTime());
}

QString TQorixDatabase::MakeDatabaseName(const QDateTime& at) {
  // Clock digits alone repeat within a millisecond and run together ambiguously (day 1 at
  // 11:00 and day 11 at 1:00 both give "1110..."); a process-wide counter behind an
  // underscore keeps every name unique.
  static std::atomic<unsigned> counter{0};
  const QDate d = at.date();
  const QTime t = at.time();
  return QStringLiteral("db_%1%2%3%4%5_%6")
      .arg(d.day())
      .arg(t.hour())
      .arg(t.minute())
      .arg(t.second())
      .arg(t.msec())
      .arg(++counter);
}

void TQorixDatabase::CancelCommands() {
  if (connection_ && connected_) ctlib::ct_cancel(connection_, nullptr, CS_CANCEL_ALL);
}

bool TQorixDatabase::PingConnection() {
  if (!connection_) return false;
  try {
    bool got = false;
    RunRead(QStringLiteral("SELECT 1"), true, &got);
  } catch (const Exception&) {
  }
  CS_INT status = 0;
  if (ctlib::ct_con_props(connection_, CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr) != CS_SUCCEED)
    return false;
  return status == CS_CONSTAT_CONNECTED;
}

void TQorixDatabase::MonitorLine(const QString& text) {
  if (Monitor && Owner()) SendToSqlMonitor(reinterpret_cast<THandle>(Owner()), text);
}

void TQorixDatabase::FillServerList() {
  TQorixDirService service;
  service.ContextName = ContextName;
  const QStringList names = service.GetServerNames();
  ServerList = names;
  ServerList.sort();
}

void TQorixDatabase::CheckConnected() {
  if (!connected_) DatabaseError(LoadResString(QorixRes::SDatabaseClosed), this);
}

// --- The connection's own SQL ---------------------------------------------------------------

void TQorixDatabase::PrepareInternalQuery(bool cursor) {
  TQorixEnhQuery& q = *query_;
  q.SetMsgDialogs(MsgDialogs);
  q.SetShowDbMessages(ShowDbMessages);
  q.OnDbError = OnDbError;
  q.AfterDbError = AfterDbError;
  q.OnDbMessage = OnDbMessage;
  q.AfterDbMessage = AfterDbMessage;
  // The connection's own SQL never logs in by itself (a ping or the idle timer on a closed
  // connection must not open one).
  q.AutoConnect = false;
  q.IsCursor = cursor;
  q.SetReadOnly(true);
  q.SetDatabase(this);
}

void TQorixDatabase::RunExec(const QString& sql, bool cursor) {
  if (!connection_) return;
  TBusyGuard busy(this);
  PrepareInternalQuery(cursor);
  query_->SetSQL(sql);
  query_->ExecSQL();
}

QString TQorixDatabase::RunRead(const QString& sql, bool cursor, bool* gotRow) {
  *gotRow = false;
  if (!connection_) return QString();
  TBusyGuard busy(this);
  PrepareInternalQuery(cursor);
  TQorixEnhQuery& q = *query_;
  q.SetSQL(sql);
  QString value;
  try {
    q.Open();
    while (q.Next()) {
      if (!*gotRow) value = q.FieldIsNull(1) ? QString() : q.GetFieldValue(1);
      *gotRow = true;
    }
  } catch (...) {
    q.Cancel(CS_CANCEL_ALL);
    throw;
  }
  q.Cancel(CS_CANCEL_ALL);
  return value;
}

// --- Database switch ------------------------------------------------------------------------

void TQorixDatabase::SetDbName(const QString& name) {
  if (connected_ && !name.trimmed().isEmpty()) {
    const QString db = name.trimmed();
    if (!IsRegularIdentifier(db)) DatabaseError(QStringLiteral("Invalid database name '%1'").arg(db), this);
    RunExec(QStringLiteral("USE ") + db);
  }
  dbName_ = name;
}

// --- Server options -------------------------------------------------------------------------

bool TQorixDatabase::SendOption(CS_INT option, CS_INT value) {
  if (!connection_ || !connected_) return true;
  const bool sent = ctlib::ct_options(connection_, CS_SET, option, &value, CS_UNUSED, nullptr) == CS_SUCCEED;
  // A refused option leaves its messages queued; they belong to this call, not the next.
  CheckMessages(false);
  return sent;
}

void TQorixDatabase::ApplyProcOptions(TProcOptions options) {
  struct Entry {
    TProcOption member;
    CS_INT option;
    bool allServers;
  };
  static const Entry kOptions[] = {
      {poAnsiNull, 5034, true},     {poAnsiPerm, 5036, false},   {poArithIgnore, 5015, false},
      {poFormatOnly, 5024, false},  {poArithAbort, 5017, false}, {poFipsFlag, 5027, false},
      {poChainXActs, 5025, false},  {poForcePlan, 5023, false},  {poNoCount, 5021, false},
      {poParseOnly, 5018, false},   {poStatsIo, 5004, false},    {poStatsTime, 5003, false},
      {poTruncIgnore, 5016, false}, {poNoExec, 5014, false},     {poShowPlan, 5013, false},
      {poQuotedIdent, 5035, true},  {poStrRTrunc, 5037, false},
  };
  const bool ss = Rdbms == kSybaseSqlServer;
  if (connection_ && connected_) {
    for (const Entry& e : kOptions) {
      if (options.Contains(e.member) == applied_.Contains(e.member)) continue;
      if (!e.allServers && !ss) continue;
      CS_BOOL value = options.Contains(e.member) ? CS_TRUE : CS_FALSE;
      // A refused option (another command has results pending) stays as it was applied.
      if (ctlib::ct_options(connection_, CS_SET, e.option, &value, CS_UNUSED, nullptr) != CS_SUCCEED) {
        if (applied_.Contains(e.member))
          options.Include(e.member);
        else
          options.Exclude(e.member);
      }
    }
    CheckMessages(false);
  }
  ProcOptions = options;
  applied_ = options;
}

// A value the server refused leaves the property as it was.
void TQorixDatabase::SetTransLevel(TTransLevel level) {
  const CS_INT value = level == tlLevel0 ? 0 : level == tlLevel3 ? 3 : 1;
  if (connected_ && !SendOption(CS_OPT_ISOLATION, value)) return;
  transLevel_ = level;
}

void TQorixDatabase::SetTextSize(int size) {
  if (connected_ && !SendOption(CS_OPT_TEXTSIZE, size)) return;
  textSize_ = size;
}

void TQorixDatabase::SetRowCount(int count) {
  if (connected_ && Rdbms == kSybaseSqlServer && !SendOption(CS_OPT_ROWCOUNT, count)) return;
  rowCount_ = count;
}

int TQorixDatabase::PacketSize() {
  if (connected_ && connection_) {
    CS_INT size = 0;
    if (ctlib::ct_con_props(connection_, CS_GET, CS_PACKETSIZE, &size, CS_UNUSED, nullptr) == CS_SUCCEED)
      packetSize_ = size;
  }
  return packetSize_;
}

void TQorixDatabase::SetDebugOptions(TDebugOptions options) {
  debugOptions_ = options;
  if (DebugFile.isEmpty() || !Debug) return;
  QByteArray file = DebugFile.toLocal8Bit();
  ctlib::ct_debug(context_, connection_, CS_SET_DBG_FILE, CS_UNUSED, file.data(), CS_NULLTERM);
  struct Entry {
    TDebugOption member;
    CS_INT flag;
  };
  static const Entry kFlags[] = {{doAll, 1},       {doApi_States, 64}, {doError, 4},           {doMem, 8},
                                 {doNetwork, 256}, {doDiag, 128},      {doProtocol_States, 32}};
  for (const Entry& e : kFlags)
    ctlib::ct_debug(context_, connection_, options.Contains(e.member) ? CS_SET_FLAG : CS_CLEAR_FLAG, e.flag,
                    nullptr, CS_UNUSED);
}

// --- Context properties ----------------------------------------------------------------------

QString TQorixDatabase::Language() const {
  TQorixContext* c = FindContext(ContextName);
  return c ? c->Language() : QString();
}
void TQorixDatabase::SetLanguage(const QString& value) {
  if (TQorixContext* c = FindContext(ContextName)) c->SetLanguage(value);
}
QString TQorixDatabase::SortOrder() const {
  TQorixContext* c = FindContext(ContextName);
  return c ? c->SortOrder() : QString();
}
void TQorixDatabase::SetSortOrder(const QString& value) {
  if (TQorixContext* c = FindContext(ContextName)) c->SetSortOrder(value);
}
QString TQorixDatabase::CharSet() const {
  TQorixContext* c = FindContext(ContextName);
  return c ? c->CharSet() : QString();
}
void TQorixDatabase::SetCharSet(const QString& value) {
  if (TQorixContext* c = FindContext(ContextName)) c->SetCharSet(value);
}
int TQorixDatabase::MaxConnect() const {
  TQorixContext* c = FindContext(ContextName);
  return c ? c->MaxConnect() : 0;
}
void TQorixDatabase::SetMaxConnect(int value) {
  if (TQorixContext* c = FindContext(ContextName)) c->SetMaxConnect(value);
}
int TQorixDatabase::TimeOut() const {
  TQorixContext* c = FindContext(ContextName);
  return c ? c->TimeOut() : 0;
}
void TQorixDatabase::SetTimeOut(int value) {
  if (value < 1) throw EQorixException(LoadResString(QorixRes::SInvalidTimeOut));
  if (TQorixContext* c = FindContext(ContextName)) c->SetTimeOut(value);
}
QString TQorixDatabase::GetQorixVersion() const {
  TQorixContext* c = FindContext(ContextName);
  return c ? c->QorixVersion() : QString();
}

// --- Transactions and information -----------------------------------------------------------

void TQorixDatabase::RunTransaction(const QString& verb, const QString& name) {
  CheckConnected();
  // "COMMIT TRAN " + a name a caller typed would run whatever follows the name; only an
  // identifier (or nothing) goes into the statement.
  const QString n = name.trimmed();
  if (!n.isEmpty() && !IsRegularIdentifier(n))
    DatabaseError(QStringLiteral("Invalid transaction name '%1'").arg(n), this);
  const QString sql = verb + QStringLiteral(" TRAN ") + n;
  try {
    RunExec(sql);
  } catch (...) {
    // A refused COMMIT or ROLLBACK (the transaction ended on the server already) leaves the
    // flag telling the server's truth.
    try {
      inTransaction_ = connected_ && GetTranCount() > 0;
    } catch (...) {
    }
    throw;
  }
  MonitorLine(sql);
  inTransaction_ = GetTranCount() > 0;
}

void TQorixDatabase::BeginTran(const QString& name) {
  RunTransaction(QStringLiteral("BEGIN"), name);
}
void TQorixDatabase::CommitTran(const QString& name) {
  RunTransaction(QStringLiteral("COMMIT"), name);
}
void TQorixDatabase::RollbackTran(const QString& name) {
  RunTransaction(QStringLiteral("ROLLBACK"), name);
}

int TQorixDatabase::GetTranCount() {
  if (!connected_) return 0;
  bool got = false;
  const QString v = RunRead(QStringLiteral("SELECT @@trancount"), false, &got);
  if (!got) return 0;
  bool ok = false;
  const int n = v.trimmed().toInt(&ok);
  if (!ok) DatabaseError(QStringLiteral("'%1' is not a valid integer value").arg(v), this);
  return n;
}

void TQorixDatabase::RefreshTransactionState() {
  inTransaction_ = connected_ && GetTranCount() > 0;
}

QString TQorixDatabase::GetServerVersion() {
  if (!connected_) return QString();
  bool got = false;
  return RunRead(QStringLiteral("SELECT DbVersion=@@version"), true, &got);
}

// --- Idle timer -----------------------------------------------------------------------------

void TQorixDatabase::SetIdleTime(int minutes) {
  idleTime_ = minutes;
  if (IsLoading()) return;
  if (minutes < 1) {
    delete idleTimer_;
    idleTimer_ = nullptr;
    return;
  }
  if (!idleTimer_) {
    idleTimer_ = new QTimer();
    QObject::connect(idleTimer_, &QTimer::timeout, [this] { GuardedCall([this] { IdleTimerTick(); }); });
  }
  idleTimer_->setInterval(minutes * 60000);
  idleTimer_->start();
}

void TQorixDatabase::ResetIdleTimer() {
  if (!idleTimer_) return;
  if (QThread::currentThread() != idleTimer_->thread()) {
    // An engine on the result grid's worker counts as activity too, but a timer may only be
    // restarted on its own thread: the restart is queued there (and dropped with the timer).
    QMetaObject::invokeMethod(
        idleTimer_, [this] { ResetIdleTimer(); }, Qt::QueuedConnection);
    return;
  }
  if (!idleTimer_->isActive()) return;
  lastActivity_ = QDateTime::currentDateTime();
  idleTimer_->stop();
  idleTimer_->start();
}

void TQorixDatabase::IdleTimerTick() {
  // A statement in flight (the result grid's worker, the connection's own SQL) is activity:
  // the tick is skipped and the timer keeps running. So are rows a dataset has not read yet:
  // IdleSQL would be sent into them and a disconnect would cut them off.
  if (IsBusy()) return;
  if (PendingRowsCheck() && PendingRowsCheck()(*this)) return;
  if (!IdleSQL.trimmed().isEmpty()) {
    try {
      RunExec(IdleSQL, true);
    } catch (const Exception&) {
    }
    return;
  }
  Disconnect();
  if (idleTimer_) idleTimer_->stop();
  if (OnTimerDisConnect) OnTimerDisConnect(this);
}

// --- DbParams and settings ------------------------------------------------------------------

bool TQorixDatabase::SplitKeyValue(const QString& line, QString& key, QString& value) {
  const qsizetype eq = line.indexOf(u'=');
  if (eq < 0) return false;
  key = line.left(eq).toUpper().trimmed();
  value = line.mid(eq + 1).trimmed();
  return true;
}

namespace {

// The class library's StrToInt: decimal or $hex, raising its conversion error otherwise.
int StrToInt(const QString& v) {
  bool ok = false;
  const int n = v.startsWith(u'$') ? v.mid(1).toInt(&ok, 16) : v.toInt(&ok, 10);
  if (!ok) throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(v));
  return n;
}

// Booleans take the integer's lowest byte ("1" true, "0" and "256" false).
bool StrToBool(const QString& v) {
  return (StrToInt(v) & 0xFF) != 0;
}

using TParamSetter = void (*)(TQorixDatabase&, const QString&);

// What each DbParams key sets, matched exactly after upper-casing and trimming.
const std::pair<const char16_t*, TParamSetter> kDbParamKeys[] = {
    {u"DBNAME", [](TQorixDatabase& d, const QString& v) { d.SetDbName(v); }},
    {u"PASSWORD", [](TQorixDatabase& d, const QString& v) { d.Password = v; }},
    {u"USERNAME", [](TQorixDatabase& d, const QString& v) { d.UserName = v; }},
    {u"CONTEXTNAME", [](TQorixDatabase& d, const QString& v) { d.ContextName = v; }},
    {u"SERVERNAME", [](TQorixDatabase& d, const QString& v) { d.ServerName = v; }},
    {u"DEBUGFILE", [](TQorixDatabase& d, const QString& v) { d.DebugFile = v; }},
    {u"LANGUAGE", [](TQorixDatabase& d, const QString& v) { d.SetLanguage(v); }},
    {u"INIFILE", [](TQorixDatabase& d, const QString& v) { d.IniFile = v; }},
    {u"SORTORDER", [](TQorixDatabase& d, const QString& v) { d.SetSortOrder(v); }},
    {u"CHARSET", [](TQorixDatabase& d, const QString& v) { d.SetCharSet(v); }},
    {u"RDBMS", [](TQorixDatabase& d, const QString& v) { d.Rdbms = v; }},
    {u"APPNAME", [](TQorixDatabase& d, const QString& v) { d.AppName = v; }},
    {u"HOSTNAME", [](TQorixDatabase& d, const QString& v) { d.HostName = v; }},
    {u"MONITOR", [](TQorixDatabase& d, const QString& v) { d.Monitor = StrToBool(v); }},
    {u"RDBMSPROMPT", [](TQorixDatabase& d, const QString& v) { d.RdbmsPrompt = StrToBool(v); }},
    {u"RDBMSSHOW", [](TQorixDatabase& d, const QString& v) { d.RdbmsShow = StrToBool(v); }},
    {u"EMULATEASE", [](TQorixDatabase& d, const QString& v) { d.EmulateASE = StrToBool(v); }},
    {u"DEBUG", [](TQorixDatabase& d, const QString& v) { d.Debug = StrToBool(v); }},
    {u"LOGINPROMPT", [](TQorixDatabase& d, const QString& v) { d.LoginPrompt = StrToBool(v); }},
    {u"SERVERPROMPT", [](TQorixDatabase& d, const QString& v) { d.ServerPrompt = StrToBool(v); }},
    {u"SERVERSHOW", [](TQorixDatabase& d, const QString& v) { d.ServerShow = StrToBool(v); }},
    {u"CONNECTERROR", [](TQorixDatabase& d, const QString& v) { d.ConnectError = StrToBool(v); }},
    {u"FORCECLOSE", [](TQorixDatabase& d, const QString& v) { d.ForceClose = StrToBool(v); }},
    {u"ABORTONPWDEXP", [](TQorixDatabase& d, const QString& v) { d.AbortOnPwdExp = StrToBool(v); }},
    {u"MAXCONNECT", [](TQorixDatabase& d, const QString& v) { d.SetMaxConnect(StrToInt(v)); }},
    {u"TIMEOUT", [](TQorixDatabase& d, const QString& v) { d.SetTimeOut(StrToInt(v)); }},
    {u"PACKETSIZE", [](TQorixDatabase& d, const QString& v) { d.SetPacketSize(StrToInt(v)); }},
    {u"TEXTSIZE", [](TQorixDatabase& d, const QString& v) { d.SetTextSize(StrToInt(v)); }},
};

}  // namespace

void TQorixDatabase::ApplyDbParams(TQorixDatabase* database, const QStringList* params) {
  if (!params) DatabaseError(LoadResString(QorixRes::SMissingDbParams));
  if (!database) DatabaseError(LoadResString(QorixRes::SDatabaseNameMissing));
  for (const QString& line : *params) {
    QString key, value;
    if (!SplitKeyValue(line, key, value)) continue;
    for (const auto& [name, set] : kDbParamKeys) {
      if (key != QStringView(name)) continue;
      set(*database, value);
      break;
    }
  }
}

void TQorixDatabase::AssignSettings(const TQorixDatabase& source) {
  MsgDialogs = source.MsgDialogs;
  ShowDbMessages = source.ShowDbMessages;
  EmulateASE = source.EmulateASE;
  Monitor = source.Monitor;
  Debug = source.Debug;
  DebugFile = source.DebugFile;
  SetDebugOptions(source.DebugOptions());
  IniFile = source.IniFile;
  if (const int n = source.MaxConnect(); n > 0) SetMaxConnect(n);
  if (const int n = source.TimeOut(); n > 0) SetTimeOut(n);
  if (const QString s = source.SortOrder(); !s.isEmpty()) SetSortOrder(s);
  if (const QString s = source.CharSet(); !s.isEmpty()) SetCharSet(s);
  Rdbms = source.Rdbms;
  AppName = source.AppName;
  HostName = source.HostName;
  Password = source.Password;
  UserName = source.UserName;
  SetDbName(source.DbName());
  ContextName = source.ContextName;
  ServerName = source.ServerName;
  LoginPrompt = source.LoginPrompt;
  ServerPrompt = source.ServerPrompt;
  ServerShow = source.ServerShow;
  RdbmsShow = source.RdbmsShow;
  ConnectError = source.ConnectError;
  ServerList = source.ServerList;
  ConProps = source.ConProps;
  SetTransLevel(source.TransLevel());
  ProcOptions = source.ProcOptions;
  SetPacketSize(source.packetSize_);
  ForceClose = source.ForceClose;
  SetTextSize(source.TextSize());
  SetRowCount(source.RowCount());
  Params = source.Params;
  UseParams = source.UseParams;
  InitString = source.InitString;
  AbortOnPwdExp = source.AbortOnPwdExp;
  SetIdleTime(source.IdleTime());
  IdleSQL = source.IdleSQL;
  RuntimeConfig.Assign(source.RuntimeConfig);
}
