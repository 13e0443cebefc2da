// TQxQuery and its parents TQxUpdateDataSet and TQxQueryDataSet.
#include "dataset/server/QxQuery.h"

#include <QSet>

#include "access/QorixExceptions.h"
#include "dataset/DataSource.h"
#include "dataset/QorixSQLParser.h"
#include "dataset/server/QxSqlLiterals.h"

TQxUpdateDataSet::TQxUpdateDataSet(TComponent* owner) : TQxCustomDataSet(owner) {
  FetchMasterKeyValues = false;
  SQLOptions = TSQLOptions{soUseTransaction, soUseTransactionOnCache};
}

TQxQueryDataSet::TQxQueryDataSet(TComponent* owner) : TQxUpdateDataSet(owner) {}

void TQxQueryDataSet::SetSQL(const QStringList& lines) {
  if (lines == sql_) return;
  if (Active()) Close();
  // The statement prepared for the old text must never run for the new one.
  if (Prepared()) UnPrepare();
  sql_ = lines;
  // While the stored description is read the parameters come from it (ParamData), whatever
  // order the two properties are read in.
  if (!ParamCheck || IsLoading()) return;
  // One parameter per distinct marker; the values of same-named parameters are kept.
  TParams fresh;
  for (const QString& name : qxsql::MarkerNames(SQLText())) fresh.CreateParam(ftUnknown, name, ptInput);
  for (int i = 0; i < fresh.Count(); ++i)
    if (const TParam* old = params_.FindParam(fresh[i].Name)) {
      fresh[i].DataType = old->DataType;
      fresh[i].SetValue(old->Value());
    }
  params_.Assign(fresh);
}

void TQxQueryDataSet::SetDataSource(TDataSource* source) {
  // Refused when the new master is this dataset or follows it through its own masters.
  QSet<const TDataSet*> seen;
  for (TDataSet* ds = source ? source->DataSet() : nullptr; ds && !seen.contains(ds);) {
    if (ds == this) RaiseDataSetError(QxDsText::CircularLinks, this);
    seen.insert(ds);
    const auto* mem = dynamic_cast<const TQxCustomMemDataSet*>(ds);
    TDataSource* up = mem ? mem->MasterSource() : nullptr;
    ds = up ? up->DataSet() : nullptr;
  }
  SetMasterSource(source);
}

TQxQuery::TQxQuery(TComponent* owner) : TQxQueryDataSet(owner) {
  kind_ = dkQuery;
  MasterLink().OnMasterChange = [this] { MasterChanged(); };
  MasterLink().OnMasterDisable = [this] {};
}

TQxQuery::~TQxQuery() {
  MasterLink().OnMasterChange = nullptr;
  MasterLink().OnMasterDisable = nullptr;
}

QString TQxQuery::TableReference() const {
  return qxsql::QuoteName(updateTable_);
}

void TQxQuery::BuildCommandText() {
  commandText_ = SQLText();
  if (Filtered() && !Filter.trimmed().isEmpty()) commandText_ += QStringLiteral(" WHERE ") + Filter.trimmed();
}

void TQxQuery::SubstituteParamValues() {
  ParamsFromMaster();
  // A statement prepared (or to be prepared automatically) that is read without cursor binds
  // its values; a cursor takes literals.
  if (!UseQorixCursor && (Prepared() || AutoPrepareDue())) return;
  commandText_ = qxsql::SubstituteParams(commandText_, params_);
}

void TQxQuery::ParamsFromMaster() {
  TDataSource* src = MasterSource();
  if (!src || !src->DataSet() || !src->DataSet()->Active()) return;
  for (int i = 0; i < params_.Count(); ++i) {
    TParam& p = params_[i];
    // A value the program bound explicitly stays.
    if (p.Bound) continue;
    if (TField* f = src->DataSet()->FindField(p.Name)) {
      p.DataType = f->DataType();
      p.SetValue(f->Value());
    }
  }
}

void TQxQuery::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  BuildCommandText();
  SubstituteParamValues();
  Requery();
}

void TQxQuery::InternalOpen() {
  const bool wasCursor = UseQorixCursor;
  if (UseQorixCursor && !SQLText().trimmed().left(6).startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive))
    UseQorixCursor = false;
  updatable_ = true;
  live_ = false;
  try {
    if (RequestLive) PrepareLiveUpdate();
    TQxQueryDataSet::InternalOpen();
  } catch (...) {
    UseQorixCursor = wasCursor;
    throw;
  }
}

void TQxQuery::PrepareLiveUpdate() {
  TQorixSQLParser parser;
  parser.SetSQL(SQLText());
  parser.Parse();
  updatable_ = false;
  if (parser.StatementKind() == 7) {
    live_ = false;
    return;
  }
  if (parser.Tables().isEmpty()) {
    live_ = false;
    return;
  }
  live_ = true;
  if (parser.HasExpression()) DatabaseError(QxDsText::TableReadOnly.arg(parser.Tables().first()), this);
  updateTable_ = parser.Tables().first();
  updatable_ = true;
}

bool TQxQuery::GetCanModify() const {
  return TQxQueryDataSet::GetCanModify() && (live_ || CachedUpdates);
}

void TQxQuery::DoOnNewRecord() {
  if (FetchMasterKeyValues && MasterSource() && MasterSource()->DataSet())
    for (int i = 0; i < params_.Count(); ++i)
      if (TField* m = MasterSource()->DataSet()->FindField(params_[i].Name))
        if (TField* d = FindField(params_[i].Name)) d->SetValue(m->Value());
  TQxQueryDataSet::DoOnNewRecord();
}

QString TQxQuery::PSGetTableName() const {
  TQorixSQLParser parser;
  parser.SetSQL(SQLText());
  parser.Parse();
  return parser.Tables().isEmpty() ? QString() : parser.Tables().first();
}

QString TQxQuery::PSGetKeyFields() const {
  return PrimeFields.join(QLatin1Char(';'));
}
