// TQxStoredProc: a stored procedure as a dataset (its first result set) or as a call without
// result set (ExecProc). The call without result set goes through the command engine's remote
// procedure call, which binds input and output parameters and reads the return status; the
// dataset's open sends an EXEC with input values as literals (a cursor or language command
// takes no output parameters).
#include "dataset/server/QxStoredProc.h"

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
               {"numeric", ftFloat},        {"decimal", ftFloat},       {"nchar", ftString},
               {"nvarchar", ftString},      {"tinyint", ftSmallint},    {"bigint", ftLargeint}};
  const QString lower = typeName.trimmed().toLower();
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
    const TParamType dir = r[3] == QLatin1String("Y") ? ptInputOutput : ptInput;
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
  commandText_ = CallText();
}

void TQxStoredProc::ReadProcResult(CS_COMMAND* command, CS_INT type) {
  if (type != CS_STATUS_RESULT) {
    TQxCustomDataSet::ReadProcResult(command, type);
    return;
  }
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
  if (TParam* r = params_.FindParam(QStringLiteral("Result"))) r->SetValue(status);
}

void TQxStoredProc::ExecProc() {
  if (procName_.isEmpty()) DatabaseError(QStringLiteral("Missing StoredProcName property"), this);
  CheckDatabase();
  FindConnection();
  DetectServerType();
  // The call is sent on the connection: not while rows of a non-cursor dataset (this one's
  // own too) are pending there.
  CheckConnectionFree(ResolvedConnection(), nullptr, this, false);
  // A failed call leaves no earlier count behind.
  rowsAffected_ = -1;
  TQorixStoredProc engine;
  engine.SetDatabase(ResolvedConnection());
  engine.SetShowDbMessages(ShowDbMessages);
  engine.SetMsgDialogs(MsgDialogs);
  engine.SetAutoGetParams(false);
  engine.ParamBindMode = ParamBindMode;
  engine.SetStoredProcName(procName_);
  engine.Params().Clear();
  for (int i = 0; i < params_.Count(); ++i) {
    const TParam& p = params_[i];
    // TDS 5.0 has no nullable bit: a NULL bit goes as a NULL integer (a NULL bit ends the
    // process inside the client library).
    const TFieldType type = p.DataType == ftBoolean && p.IsNull() ? ftInteger : p.DataType;
    TParam& e = engine.Params().CreateParam(type, p.Name, p.ParamType);
    e.SetValue(p.Value());
  }
  engine.ExecProc();
  // Output values come back by name; the return status goes to "Result".
  for (int i = 0; i < params_.Count(); ++i) {
    TParam& p = params_[i];
    if (p.ParamType == ptOutput || p.ParamType == ptInputOutput)
      if (const TParam* e = engine.Params().FindParam(p.Name)) p.SetValue(TrimResults && e->Value().typeId() == QMetaType::QString ? QVariant(e->Value().toString().trimmed()) : e->Value());
  }
  returnStatus_ = engine.ReturnStatus();
  if (TParam* r = params_.FindParam(QStringLiteral("Result"))) r->SetValue(returnStatus_);
  rowsAffected_ = engine.GetRowCount();
  if (AfterExec) AfterExec(this);
}
