// TQxStoredProc: a stored procedure as a dataset (its first result set) or as a call without
// result set (ExecProc). Both send a remote procedure call that binds the input and output
// parameters and read the return status and the output values, each in its own type; a
// cursor open sends an EXEC with input values as literals (a cursor takes no output).
#include "dataset/server/QxStoredProc.h"

#include <QDateTime>
#include <cstring>

#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "dataset/server/QxSqlLiterals.h"

namespace {
// The field type of a parameter's type name in either family's catalogue.
TFieldType ParamTypeOf(const QString& typeName) {
  static const struct {
    const char* name;
    TFieldType type;
  } extra[] = {{"integer", ftInteger},      {"double", ftFloat},        {"long varchar", ftMemo},
               {"long binary", ftBlob},     {"timestamp", ftDateTime},  {"date", ftDateTime},
               {"time", ftDateTime},        {"unsigned int", ftInteger}, {"unsigned smallint", ftInteger},
               {"nchar", ftString},
               {"nvarchar", ftString},      {"tinyint", ftSmallint},    {"bigint", ftLargeint}};
  const QString lower = typeName.trimmed().toLower();
  // Exact numbers are kept as decimal text and sent as numeric, never through a double.
  if (lower == QLatin1String("numeric") || lower == QLatin1String("decimal")) return ftBCD;
  const TFieldType t = TypeNameToFieldType(lower);
  if (t != ftUnknown) return t;
  for (const auto& e : extra)
    if (lower == QLatin1String(e.name)) return e.type;
  return ftString;
}
}  // namespace

TQxStoredProc::TQxStoredProc(TComponent* owner) : TQxCustomDataSet(owner) {
  kind_ = dkStoredProc;
  UseQorixCursor = false;
}

void TQxStoredProc::SetStoredProcName(const QString& name) {
  const QString trimmed = name.trimmed();
  if (trimmed == procName_) return;
  CheckInactive();
  procName_ = trimmed;
  if (IsLoading() || !AutoGetParams || procName_.isEmpty()) return;
  // Only a connection that is there and connected is asked; otherwise the parameters wait
  // for GetProcParams.
  TQorixDatabase* db = Database();
  if (!db && !DbName.trimmed().isEmpty()) db = TQorixDatabase::FindDatabase(DbName);
  if (db && db->Connected()) GetProcParams();
}

void TQxStoredProc::PSSetCommandText(const QString& text) {
  if (!text.trimmed().isEmpty()) SetStoredProcName(text);
}

void TQxStoredProc::PSSetParams(const TParams& params) {
  if (params.Count() == 0) return;
  params_.Assign(params);
  Close();
}

bool TQxStoredProc::ObtainColumns() {
  BuildCommandText();
  return TQxCustomDataSet::ObtainColumns();
}

void TQxStoredProc::GetProcParams() {
  if (procName_.isEmpty()) DatabaseError(QStringLiteral("Missing StoredProcName property"), this);
  CheckDatabase();
  FindConnection();
  DetectServerType();
  const int dot = procName_.lastIndexOf(QLatin1Char('.'));
  const QString bare = dot >= 0 ? procName_.mid(dot + 1) : procName_;
  QString sql;
  if (serverType_ == qstAnywhere) {
    // The type is the parameter's domain; the direction is its own flag.
    sql = QStringLiteral("SELECT a.parm_name, d.domain_name, a.width, a.parm_mode_out FROM SYSPROCPARM a, "
                         "SYSPROCEDURE c, SYSDOMAIN d WHERE a.parm_type = 0 AND a.proc_id = c.proc_id AND "
                         "a.domain_id = d.domain_id AND c.proc_name = ") +
          qxsql::Literal(ftString, bare) + QStringLiteral(" ORDER BY a.parm_id");
  } else {
    // The output flag is the column status bit 0x40.
    sql = QStringLiteral("SELECT c.name, t.name, c.length, CASE WHEN (c.status & 64) <> 0 THEN 'Y' ELSE 'N' END "
                         "FROM syscolumns c, systypes t WHERE c.usertype = t.usertype AND c.id = object_id(") +
          qxsql::Literal(ftString, procName_) + QStringLiteral(") AND c.number = 1 ORDER BY c.colid");
  }
  const std::vector<QStringList> rows = QueryRows(sql);
  params_.Clear();
  for (const QStringList& r : rows) {
    if (r.size() < 4) continue;
    QString name = r[0];
    if (!name.startsWith(QLatin1Char('@'))) name.prepend(QLatin1Char('@'));
    // An output parameter of the Sybase family's catalogue takes a value in and returns one
    // (its output flag is the column status bit); the SQLAnywhere family's flag marks an
    // output parameter.
    const bool out = r[3] == QLatin1String("Y");
    const TParamType dir = !out ? ptInput : serverType_ == qstAnywhere ? ptOutput : ptInputOutput;
    params_.CreateParam(ParamTypeOf(r[1]), name, dir);
  }
  params_.CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
}

QString TQxStoredProc::CallText() const {
  QString text = QStringLiteral("EXEC ") + qxsql::QuoteName(procName_);
  QStringList args;
  int position = 0;
  for (int i = 0; i < params_.Count(); ++i) {
    const TParam& p = params_[i];
    if (p.ParamType == ptResult) continue;
    const QString lit = qxsql::Literal(p);
    if (ParamBindMode == pbByName) {
      QString name = p.Name.startsWith(QLatin1Char('@')) ? p.Name : QLatin1Char('@') + p.Name;
      args << qxsql::QuotePart(name) + QStringLiteral(" = ") + lit;
    } else {
      args << lit;
    }
    ++position;
  }
  if (!args.isEmpty()) text += QLatin1Char(' ') + args.join(QStringLiteral(", "));
  return text;
}

void TQxStoredProc::BuildCommandText() {
  if (procName_.isEmpty()) DatabaseError(QStringLiteral("Missing StoredProcName property"), this);
  for (int i = 0; i < params_.Count(); ++i)
    if (params_[i].ParamType == ptOutput || params_[i].ParamType == ptInputOutput)
      if (UseQorixCursor) DatabaseError(QxDsText::ProcCursorInputOnly, this);
  // The text is what a cursor sends and what the monitor shows; without cursor the call goes
  // as a remote procedure call. A SQL text replaces the call.
  if (!SQLText().trimmed().isEmpty()) {
    commandText_ = SQLText().trimmed();
    rpcName_.clear();
    return;
  }
  commandText_ = CallText();
  rpcName_ = UseQorixCursor ? QString() : procName_;
}

void TQxStoredProc::BindCall(CS_COMMAND* command) {
  QByteArray name = procName_.toUtf8();
  ctlib::ct_command(command, CS_RPC_CMD, name.data(), CS_NULLTERM, CS_UNUSED);
  for (int i = 0; i < params_.Count(); ++i) {
    const TParam& p = params_[i];
    if (p.ParamType == ptResult) continue;
    const bool returned = p.ParamType == ptOutput || p.ParamType == ptInputOutput;
    QByteArray bindName;
    if (ParamBindMode == pbByName)
      bindName = (p.Name.startsWith(QLatin1Char('@')) ? p.Name : QLatin1Char('@') + p.Name).toUtf8();
    TParam sent(p);
    // TDS 5.0 has no nullable bit: a NULL bit goes as a NULL integer (a NULL bit ends the
    // process inside the client library).
    if (sent.DataType == ftBoolean && sent.IsNull()) sent.DataType = ftInteger;
    if (sent.DataType == ftUnknown) sent.DataType = ftString;
    // An output parameter given no value goes as an empty text or a zero of its type.
    if (p.ParamType == ptOutput && sent.IsNull()) {
      switch (sent.DataType) {
        case ftString:
        case ftFixedChar:
        case ftWideString:
          sent.SetValue(QStringLiteral(""));
          break;
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftLargeint:
        case ftFloat:
        case ftCurrency:
        case ftBCD:
          sent.SetValue(0);
          break;
        default:
          break;
      }
    }
    BindParam(command, sent, bindName, returned ? CS_RETURN : CS_INPUTVALUE);
  }
}

void TQxStoredProc::ReadOutputParams(CS_COMMAND* command) {
  MonitorTrace(QStringLiteral("Flow : ** Start of obtaining Return parameters **"));
  CS_INT count = 0;
  ctlib::ct_res_info(command, CS_NUMDATA, &count, CS_UNUSED, nullptr);
  MonitorTrace(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of parameters : ") + QString::number(count));
  struct Out {
    CS_DATAFMT fmt{};
    bool dateTime = false;
    std::vector<char> buffer;
    CS_INT length = 0;
    CS_SMALLINT indicator = 0;
  };
  std::vector<Out> outs(size_t(std::max(0, count)));
  for (int n = 1; n <= count; ++n) {
    Out& o = outs[size_t(n - 1)];
    ctlib::ct_describe(command, n, &o.fmt);
    CS_DATAFMT b{};
    b.count = 1;
    o.dateTime = o.fmt.datatype == CS_DATETIME_TYPE || o.fmt.datatype == CS_DATETIME4_TYPE;
    if (o.dateTime) {
      // A date-time keeps its seconds and milliseconds: it is read as one, not as text.
      b.datatype = CS_DATETIME_TYPE;
      b.maxlength = sizeof(CS_DATETIME);
    } else {
      b.datatype = CS_CHAR_TYPE;
      b.format = CS_FMT_NULLTERM;
      b.maxlength = std::max<CS_INT>(64, o.fmt.maxlength * 4 + 1);
    }
    o.buffer.assign(size_t(b.maxlength) + 1, 0);
    ctlib::ct_bind(command, n, &b, o.buffer.data(), &o.length, &o.indicator);
  }
  CS_INT rows = 0;
  bool fetched = false;
  while (ctlib::ct_fetch(command, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) fetched = true;
  if (!fetched) {
    MonitorTrace(QStringLiteral("Flow : ** End of obtaining Return parameters **"));
    return;
  }
  std::vector<TParam*> returning;
  for (int i = 0; i < params_.Count(); ++i)
    if (params_[i].ParamType == ptOutput || params_[i].ParamType == ptInputOutput) returning.push_back(&params_[i]);
  auto bare = [](QString n) { return n.startsWith(QLatin1Char('@')) ? n.mid(1) : n; };
  for (int k = 0; k < count; ++k) {
    const Out& o = outs[size_t(k)];
    const QString column = bare(QString::fromUtf8(o.fmt.name, std::max<CS_INT>(0, o.fmt.namelen)).trimmed());
    TParam* target = nullptr;
    for (TParam* p : returning)
      if (!column.isEmpty() && bare(p->Name).compare(column, Qt::CaseInsensitive) == 0) target = p;
    if (!target && k < int(returning.size())) target = returning[size_t(k)];
    if (!target) continue;
    if (o.indicator == -1) {
      target->Clear();
      continue;
    }
    if (o.dateTime) {
      CS_DATETIME dt;
      std::memcpy(&dt, o.buffer.data(), sizeof dt);
      const QDate day = QDate(1900, 1, 1).addDays(dt.dtdays);
      target->SetValue(QDateTime(day, QTime::fromMSecsSinceStartOfDay(qxsql::TicksToMsecs(dt.dttime))));
      continue;
    }
    QString text = QString::fromUtf8(o.buffer.data());
    if (TrimResults) text = text.trimmed();
    switch (target->DataType) {
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc:
        target->SetValue(text.trimmed().toInt());
        break;
      case ftLargeint:
        target->SetValue(text.trimmed().toLongLong());
        break;
      case ftBoolean:
        target->SetValue(text.trimmed() == QLatin1String("1"));
        break;
      case ftFloat:
      case ftCurrency:
      case ftBCD: {
        // Exact numbers stay text; a float becomes a double.
        const bool exact = o.fmt.datatype == CS_NUMERIC_TYPE || o.fmt.datatype == CS_DECIMAL_TYPE ||
                           o.fmt.datatype == CS_MONEY_TYPE || o.fmt.datatype == CS_MONEY4_TYPE;
        if (exact)
          target->SetValue(CanonicalDecimal(text));
        else
          target->SetValue(text.trimmed().toDouble());
        break;
      }
      default:
        target->SetValue(text);
        break;
    }
  }
  for (const TParam* p : returning)
    MonitorTrace(QStringLiteral("SQL Parameter Data Out: , Parameter Name= ") + p->Name + QStringLiteral(", Data = ") +
                 (p->IsNull() ? QStringLiteral("NULL") : p->AsString()));
  MonitorTrace(QStringLiteral("Flow : ** End of obtaining Return parameters **"));
}

void TQxStoredProc::ReadProcResult(CS_COMMAND* command, CS_INT type) {
  if (type == CS_PARAM_RESULT) {
    ReadOutputParams(command);
    if (OnReturnParams) OnReturnParams(this);
    return;
  }
  if (type != CS_STATUS_RESULT) {
    TQxCustomDataSet::ReadProcResult(command, type);
    return;
  }
  MonitorTrace(QStringLiteral("Flow : ** Start of obtaining Return status **"));
  CS_INT status = 0;
  CS_DATAFMT fmt{};
  fmt.datatype = CS_INT_TYPE;
  fmt.maxlength = sizeof(CS_INT);
  fmt.count = 1;
  CS_INT len = 0;
  CS_SMALLINT ind = 0;
  ctlib::ct_bind(command, 1, &fmt, &status, &len, &ind);
  CS_INT rows = 0;
  while (ctlib::ct_fetch(command, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
  }
  returnStatus_ = status;
  MonitorTrace(QStringLiteral("Result : ") + QString::number(status));
  if (TParam* r = params_.FindParam(QStringLiteral("Result"))) r->SetValue(status);
  if (OnReturnStatus) OnReturnStatus(this);
  // An open or a fetch that meets a negative status ends in the silent abort once the
  // results are read (ExecProc tests the status itself).
  negativeStatus_ = status < 0;
  MonitorTrace(QStringLiteral("Flow : ** End of obtaining Return status **"));
}

void TQxStoredProc::ExecProc() {
  if (procName_.isEmpty() && SQLText().trimmed().isEmpty()) DatabaseError(QStringLiteral("Missing StoredProcName property"), this);
  CheckDatabase();
  FindConnection();
  DetectServerType();
  // The call is sent on the connection: not while rows of a non-cursor dataset (this one's
  // own too) are pending there.
  CheckConnectionFree(ResolvedConnection(), nullptr, this, false);
  // A failed call leaves no earlier count or status behind.
  rowsAffected_ = -1;
  returnStatus_ = 0;
  SetLastServerMessage(CS_SERVERMSG{});
  CS_COMMAND* cmd = nullptr;
  AllocCommand(cmd);
  int count = -1;
  bool failed = false;
  CS_RETCODE rc = CS_SUCCEED;
  try {
    TCursorGuard cursor(ExecCursor, UseExecCursor);
    const QString sql = SQLText().trimmed();
    MonitorTrace(QStringLiteral("SQL Execute: ") + (sql.isEmpty() ? CallText() : sql));
    if (sql.isEmpty()) {
      BindCall(cmd);
    } else {
      QByteArray utf8 = sql.toUtf8();
      ctlib::ct_command(cmd, CS_LANG_CMD, utf8.constData(), CS_NULLTERM, CS_UNUSED);
    }
    CheckDiag();
    if (ctlib::ct_send(cmd) != CS_SUCCEED) {
      CheckDiag();
      DatabaseError(LastError().isEmpty() ? QStringLiteral("The procedure call could not be sent") : LastError(), this);
    }
    CheckDiag();
    CS_INT type = 0;
    while ((rc = ctlib::ct_results(cmd, &type)) == CS_SUCCEED) {
      CheckDiag();
      switch (type) {
        case CS_CMD_SUCCEED:
        case CS_CMD_DONE: {
          CS_INT n = -1;
          if (ctlib::ct_res_info(cmd, CS_ROW_COUNT, &n, CS_UNUSED, nullptr) == CS_SUCCEED && n >= 0) count = n;
          break;
        }
        case CS_CMD_FAIL:
          failed = true;
          break;
        case CS_STATUS_RESULT:
        case CS_PARAM_RESULT:
          ReadProcResult(cmd, type);
          break;
        case CS_ROW_RESULT:
        case CS_COMPUTE_RESULT:
        case CS_CURSOR_RESULT:
          // ExecProc keeps no rows; they are read out (compute rows may follow).
          ReadOutResult(cmd);
          break;
        default:
          break;
      }
    }
    CheckDiag();
  } catch (...) {
    negativeStatus_ = false;
    ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    DropCommand(cmd);
    throw;
  }
  ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
  DropCommand(cmd);
  negativeStatus_ = false;
  if (failed) DatabaseError(LastError().isEmpty() ? QStringLiteral("The procedure call failed") : LastError(), this);
  if (rc == CS_FAIL) DatabaseError(QStringLiteral("The command failed: the connection to the server was lost"), this);
  rowsAffected_ = count;
  // A negative return status is the procedure's refusal: the call ends in the silent abort,
  // once the status and the output values have arrived (and their events have seen them);
  // the procedure's own messages were reported as they came.
  if (returnStatus_ < 0) Abort();
  if (AfterExec) AfterExec(this);
}
