// TQorixEnhQuery and TQorixStoredProc, and the reading of a return status and of output
// parameters that the result loop calls.

#include "access/QorixEnhQuery.h"

#include <cstring>

#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/SysUtils.h"

// ---- return status and output parameters ----

void TQorixCustomQuery::ReadReturnStatus() {
  MonitorLine(QStringLiteral("Flow : ** Start of obtaining Return Status **"));
  CS_INT status = 0;
  CS_INT copied = 0;
  CS_SMALLINT indicator = 0;
  CS_DATAFMT fmt{};
  if (ctlib::ct_describe(command_, 1, &fmt) == CS_SUCCEED) {
    CS_DATAFMT bind{};
    bind.datatype = CS_INT_TYPE;
    bind.format = CS_FMT_UNUSED;
    bind.maxlength = sizeof(CS_INT);
    bind.count = 1;
    ctlib::ct_bind(command_, 1, &bind, &status, &copied, &indicator);
  }
  CS_INT rows = 0;
  ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  returnStatus_ = status;
  MonitorLine(QStringLiteral("Open-Client: Return Status = ") + QString::number(status));
  for (int i = 0; i < params_.Count(); ++i)
    if (params_[i].ParamType == ptResult) params_[i].SetValue(status);
  if (OnReturnStatus) OnReturnStatus(this);
  if (AbortOnNegStatus && status < 0) {
    Cancel(CS_CANCEL_ALL);
    Abort();
  }
  DrainFetch();
  MonitorLine(QStringLiteral("Flow : ** End of obtaining Return Status **"));
  stopAfterStatus_ = true;
}

void TQorixCustomQuery::ReadReturnParams() {
  MonitorLine(QStringLiteral("Flow : ** Start of obtaining Return parameters **"));
  CS_INT n = 0;
  ctlib::ct_res_info(command_, CS_NUMDATA, &n, CS_UNUSED, nullptr);
  MonitorLine(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of parameters : ") +
              QString::number(n));
  BindParamColumns(n);
  CS_INT rows = 0;
  bool fetched = false;
  while (ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
    // Only the first row holds the values; later fetches would overwrite nothing useful.
    if (fetched) continue;
    fetched = true;
    for (int k = 0; k < paramValues_.Count(); ++k) {
      TCSRecordData* r = paramValues_.GetItem(k);
      r->Text = r->Indicator == CS_NULLDATA
                    ? QString()
                    : QString::fromUtf8(r->Buffer, static_cast<qsizetype>(strnlen(
                                                       r->Buffer, static_cast<size_t>(r->BufferLength + 1))));
    }
  }
  // Returned column k goes to the parameter of the same name, else to the k-th parameter
  // that returns a value (output and input-output alike: both are sent with CS_RETURN).
  std::vector<TParam*> returning;
  for (int i = 0; i < params_.Count(); ++i)
    if (params_[i].ParamType == ptOutput || params_[i].ParamType == ptInputOutput)
      returning.push_back(&params_[i]);
  for (int k = 0; k < paramValues_.Count(); ++k) {
    TCSRecordData* r = paramValues_.GetItem(k);
    TParam* target = nullptr;
    QString name = GetParamName(k + 1);
    if (name.startsWith(QLatin1Char('@'))) name.remove(0, 1);
    for (TParam* p : returning) {
      QString pn = p->Name;
      if (pn.startsWith(QLatin1Char('@'))) pn.remove(0, 1);
      if (!name.isEmpty() && pn.compare(name, Qt::CaseInsensitive) == 0) target = p;
    }
    if (!target && k < static_cast<int>(returning.size())) target = returning[static_cast<size_t>(k)];
    if (target) {
      if (r->Indicator == CS_NULLDATA)
        target->Clear();
      else
        target->SetValue(r->Text);
    }
    if (Monitor) {
      const TCSColumnData* f = paramFormats_.GetItem(k);
      MonitorLine(QStringLiteral("SQL Parameter Data Out: ") + QStringLiteral("Column = ") +
                  QString::number(k + 1) + QStringLiteral(", Parameter Name= ") + GetParamName(k + 1) +
                  QStringLiteral(", Type = ") + GetParamTypeName(k + 1) + QStringLiteral(", Precision = ") +
                  QString::number(f->Precision) + QStringLiteral(", Scale = ") + QString::number(f->Scale) +
                  QStringLiteral(", Data = ") + r->Text);
    }
    // The text stays readable through GetParamValue; only the bound buffer goes.
    r->FreeBuffers();
  }
  if (OnReturnParams) OnReturnParams(this);
  MonitorLine(QStringLiteral("Flow : ** End of obtaining Return parameters **"));
}

namespace {

// The "SQLAnywhere" family names its domains differently ("integer", "double", "long
// varchar"): the type name of the other family that means the same, for TypeNameToFieldType.
QString AnywhereDomainTypeName(const QString& domain) {
  static const struct {
    const char* domain;
    const char* type;
  } map[] = {{"integer", "int"},       {"double", "float"},       {"long varchar", "text"},
             {"long binary", "image"}, {"timestamp", "datetime"}, {"date", "datetime"},
             {"time", "datetime"},     {"unsigned int", "int"},   {"unsigned smallint", "int"}};
  const QString lower = domain.toLower();
  for (const auto& m : map)
    if (lower == QLatin1String(m.domain)) return QString::fromLatin1(m.type);
  return lower;
}

}  // namespace

// ---- TQorixEnhQuery ----

TQorixEnhQuery::TQorixEnhQuery(TComponent* owner) : TQorixCustomQuery(owner) {
  commandMode_ = TCommandMode::Language;
}

// ---- TQorixStoredProc ----

TQorixStoredProc::TQorixStoredProc(TComponent* owner) : TQorixCustomQuery(owner) {
  commandMode_ = TCommandMode::Rpc;
  IsCursor = false;
  ReadOnly = false;
}

void TQorixStoredProc::SQLChanged() {
  if (storedProcName_.isEmpty()) {
    TQorixCustomQuery::SQLChanged();
    return;
  }
  if (IsLoading()) return;
  textToPrepare_ = SQLText();
}

void TQorixStoredProc::SetBaseText() {
  const QString own = OwnSQLText();
  baseText_ = own.isEmpty() ? storedProcName_.trimmed() : own;
}

void TQorixStoredProc::SetStoredProcName(const QString& value) {
  if (IsLoading()) {
    storedProcName_ = value;
    return;
  }
  if (value == storedProcName_) return;
  CheckDatabase();
  storedProcName_ = value;
  if (!Database() || !Database()->IsConnected()) return;
  if (autoGetParams_) {
    params_.Clear();
    GetProcParams();
  }
  textToPrepare_ = storedProcName_;
}

int TQorixStoredProc::ExecProc() {
  CheckDatabase();
  TCursorGuard cursor(ExecCursor, UseExecCursor);
  stopAfterStatus_ = false;
  baseText_ = storedProcName_.trimmed();
  processAll_ = true;
  Monitor = true;
  return SQLExec();
}

QStringList TQorixStoredProc::ProcParamsSQL(const QString& procName) const {
  // The name is spliced as a literal: its quote characters are doubled, so no name can end
  // the literal and run as SQL.
  QStringList lines;
  QString quotedDouble = procName;
  quotedDouble.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  QString quotedSingle = procName;
  quotedSingle.replace(QLatin1Char('\''), QStringLiteral("''"));
  if (ServerType() != stSqlAnywhere) {
    lines << QStringLiteral("SELECT c.name,");
    lines << QStringLiteral(" t.name,");
    lines << QStringLiteral(" c.length");
    lines << QStringLiteral(" FROM syscolumns c,");
    lines << QStringLiteral(" systypes t");
    lines << QStringLiteral(" WHERE c.usertype = t.usertype");
    lines << QStringLiteral(" AND c.id = object_id (\"") + quotedDouble + QStringLiteral("\")");
    lines << QStringLiteral(" AND c.number = 1");
    lines << QStringLiteral(" ORDER BY colid ASC");
  } else {
    // The parameter's type is its domain's name; the parameter id is only its position.
    lines << QStringLiteral("select distinct a.parm_name,");
    lines << QStringLiteral(" d.domain_name,");
    lines << QStringLiteral(" a.width,");
    lines << QStringLiteral(" a.parm_mode_out,");
    lines << QStringLiteral(" a.parm_id");
    lines << QStringLiteral(" from SYSPROCPARM a,");
    lines << QStringLiteral(" SYSPROCEDURE c,");
    lines << QStringLiteral(" SYSDOMAIN d");
    lines << QStringLiteral(" where a.parm_type = 0");
    lines << QStringLiteral(" and a.proc_id = c.proc_id");
    lines << QStringLiteral(" and a.domain_id = d.domain_id");
    lines << QStringLiteral(" and c.proc_name = '") + quotedSingle + QStringLiteral("'");
    lines << QStringLiteral(" order by a.parm_id");
  }
  return lines;
}

void TQorixStoredProc::GetProcParams() {
  if (storedProcName_.trimmed().isEmpty())
    DatabaseError(LoadResString(QorixRes::SMissingStoredProcName), this);
  // The dialect comes from this connection, not from whatever the last run talked to.
  GetServerType();
  const int dot = storedProcName_.indexOf(QLatin1Char('.'));
  const QString procName = (dot >= 0 ? storedProcName_.mid(dot + 1) : storedProcName_).trimmed();
  TQorixEnhQuery query;
  query.SetDatabase(Database());
  query.DbName = DbName;
  query.IsCursor = true;
  query.ReadOnly = true;
  query.SetShowDbMessages(ShowDbMessages());
  const bool anywhere = ServerType() == stSqlAnywhere;
  query.SetSQL(ProcParamsSQL(procName));
  // The catalogue text holds no parameter markers: nothing is prepared.
  query.Params().Clear();
  try {
    query.Open();
    MonitorLine(query.SQLText());
    while (query.Next()) {
      const QString name = query.GetFieldValue(1).trimmed();
      QString typeName = query.GetFieldValue(2).trimmed();
      if (anywhere) typeName = AnywhereDomainTypeName(typeName);
      TFieldType type = TypeNameToFieldType(typeName);
      // A numeric or decimal parameter keeps its exact value: it is sent as a numeric, never
      // as the float its field type would send.
      if (typeName == QLatin1String("numeric") || typeName == QLatin1String("decimal")) type = ftBCD;
      TParamType paramType = ptInput;
      if (anywhere && query.GetFieldValue(4) == QLatin1String("Y")) paramType = ptOutput;
      params_.CreateParam(type, name, paramType);
    }
  } catch (...) {
    query.Cancel(CS_CANCEL_ALL);
    throw;
  }
  query.Cancel(CS_CANCEL_ALL);
  if (query.GetRowCount() == 0) params_.Clear();
  params_.CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
}
