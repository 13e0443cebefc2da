// TQxTable: the table dataset's SELECT, its index definitions and its master link.
#include "dataset/server/QxTable.h"

#include "access/QorixExceptions.h"
#include "dataset/DataSource.h"
#include "dataset/server/QxSqlLiterals.h"

TQxTable::TQxTable(TComponent* owner) : TQxUpdateDataSet(owner) {
  kind_ = dkTable;
  UseQorixCursor = true;
  ParamCheck = true;
  AbortOnNoCols = true;
  CachedUpdates = false;
  FetchIdentity = false;
  CheckDups = true;
  MasterLink().OnMasterChange = [this] { MasterChanged(); };
  MasterLink().OnMasterDisable = [this] { MasterDisabled(); };
}

void TQxTable::SetIndexName(const QString& name) {
  indexName_ = name.trimmed();
  keyFields_.clear();
  const TIndexDef* def = nullptr;
  if (!indexName_.isEmpty())
    def = IndexDefs().Find(indexName_);
  else if (DefaultIndex && IndexDefs().Count() > 0)
    def = IndexDefs().Items(0);
  if (def)
    for (const QString& f : def->Fields.split(QLatin1Char(';'), Qt::SkipEmptyParts)) keyFields_ << f.trimmed();
}

QString TQxTable::TableReference() const {
  return qxsql::QuoteName(selectDb_ + qualifier_ + tableName_);
}

QStringList TQxTable::KeyFieldNames() const {
  // The unique index's columns identify a row; a non-unique one does not.
  for (int i = 0; i < const_cast<TQxTable*>(this)->IndexDefs().Count(); ++i) {
    const TIndexDef* d = const_cast<TQxTable*>(this)->IndexDefs().Items(i);
    if (d->Options.testFlag(TIndexOption::ixUnique) || d->Options.testFlag(TIndexOption::ixPrimary))
      return d->Fields.split(QLatin1Char(';'), Qt::SkipEmptyParts);
  }
  return keyFields_;
}

QString TQxTable::LiveFilter() const {
  return qxsql::MarkerNames(filter_).isEmpty() ? filter_ : qxsql::SubstituteParams(filter_, params_);
}

void TQxTable::GetDetailLinkFields(QList<TField*>& masterFields, QList<TField*>& detailFields) {
  masterFields.clear();
  detailFields.clear();
  TDataSource* src = MasterSource();
  if (!src || !src->DataSet() || !src->DataSet()->Active() || MasterFields().trimmed().isEmpty()) return;
  for (const QString& name : SplitFieldNames(MasterFields())) masterFields << src->DataSet()->FieldByName(name);
  QString fields = IndexFieldNames();
  if (fields.trimmed().isEmpty() && !indexName_.isEmpty())
    if (const TIndexDef* d = IndexDefs().Find(indexName_)) fields = d->Fields;
  if (fields.trimmed().isEmpty())
    for (int i = 0; i < IndexDefs().Count() && fields.isEmpty(); ++i)
      if (IndexDefs().Items(i)->Options.testFlag(TIndexOption::ixPrimary)) fields = IndexDefs().Items(i)->Fields;
  for (const QString& name : SplitFieldNames(fields)) detailFields << FieldByName(name);
}

QString TQxTable::PSGetKeyFields() {
  if (!PrimeFields.isEmpty()) return PrimeFields.join(QLatin1Char(';'));
  if (!IsUserTable()) return QString();
  for (int i = 0; i < IndexDefs().Count(); ++i) {
    const TIndexDef* d = IndexDefs().Items(i);
    if (!d->Options.testFlag(TIndexOption::ixUnique) && !d->Options.testFlag(TIndexOption::ixPrimary)) continue;
    bool all = true;
    for (const QString& f : SplitFieldNames(d->Fields))
      if (!FindField(f)) all = false;
    if (all) return d->Fields;
  }
  return QString();
}

QList<TIndexDef*> TQxTable::PSGetIndexDefs(TIndexOptions types) {
  QList<TIndexDef*> out;
  for (int i = 0; i < IndexDefs().Count(); ++i)
    if ((IndexDefs().Items(i)->Options & types) == types) out << IndexDefs().Items(i);
  return out;
}

void TQxTable::GetIndexInfo() {
  IndexDefs().Clear();
  MonitorTrace(QStringLiteral("Flow : ** Start of obtaining index **"));
  QString sql;
  if (serverType_ == qstAnywhere) {
    // The family's own catalogue; its index rows carry no unique or primary flag. The object
    // name is the part after the owner.
    const int dot = tableName_.indexOf(QLatin1Char('.'));
    const QString object = dot >= 0 ? tableName_.mid(dot + 1).trimmed() : tableName_;
    sql = QStringLiteral("SELECT index_name, si.index_id, status = 1, column_name FROM SYSTABLE st, SYSIXCOL sic, "
                         "SYSCOLUMN sc, SYSINDEX si WHERE st.table_id = sc.table_id AND si.table_id = sc.table_id "
                         "AND si.index_id = sic.index_id AND sc.table_id = sic.table_id AND sc.column_id = "
                         "sic.column_id AND st.table_name = ") +
          qxsql::Literal(ftString, object) + QStringLiteral(" ORDER BY si.index_id, sic.sequence");
  } else {
    const QString object = qxsql::Literal(ftString, selectDb_ + qualifier_ + tableName_);
    const QString db = qxsql::QuotePart(selectDb_);
    const QString col = QStringLiteral("INDEX_COL(") + object + QStringLiteral(", x.indid, c.colid)");
    sql = QStringLiteral("SELECT x.name, x.indid, x.status, ") + col + QStringLiteral(" FROM ") + db +
          QStringLiteral("..sysindexes x, ") + db + QStringLiteral("..syscolumns c WHERE x.id = object_id(") + object +
          QStringLiteral(") AND x.indid BETWEEN 1 AND 254 AND c.id = x.id AND c.colid <= x.keycnt AND ") + col +
          QStringLiteral(" IS NOT NULL ORDER BY x.indid, c.colid");
  }
  std::vector<QStringList> rows;
  try {
    rows = QueryRows(sql);
  } catch (const EAbort&) {
    return;
  }
  QString current;
  TIndexDef* def = nullptr;
  for (const QStringList& r : rows) {
    if (r.size() < 4) continue;
    if (!def || r[0] != current) {
      current = r[0];
      TIndexOptions options;
      const int status = r[2].toInt();
      if (status & 2) options |= TIndexOption::ixUnique;
      if (status & 16) options |= TIndexOption::ixPrimary;
      def = IndexDefs().Add(current, QString(), options);
    }
    def->Fields = def->Fields.isEmpty() ? r[3] : def->Fields + QLatin1Char(';') + r[3];
  }
  if (IndexDefs().Count() > 0) DefChanged();
  MonitorTrace(QStringLiteral("Flow : ** End of obtaining index **"));
}

bool TQxTable::IsUserTable() {
  CheckDatabase();
  FindConnection();
  if (serverType_ != qstSybase) return true;
  const QString object = qxsql::Literal(ftString, ResolvedConnection()->DbName() + qualifier_ + tableName_);
  const QStringList row = QueryRow(QStringLiteral("SELECT type FROM ") + qxsql::QuotePart(ResolvedConnection()->DbName()) +
                                   QStringLiteral("..sysobjects WHERE id = object_id(") + object + QLatin1Char(')'));
  return !row.isEmpty() && row.first().trimmed() == QLatin1String("U");
}

QString TQxTable::BuildMasterWhere() {
  const QStringList detail = IndexFieldNames().split(QLatin1Char(';'), Qt::SkipEmptyParts);
  const QStringList master = MasterFields().split(QLatin1Char(';'), Qt::SkipEmptyParts);
  QStringList parts;
  for (int i = 0; i < std::min(detail.size(), master.size()); ++i)
    parts << qxsql::QuotePart(detail[i].trimmed()) + QStringLiteral(" = :") + master[i].trimmed();
  return parts.isEmpty() ? QString() : QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
}

QString TQxTable::BuildSelectSQL(bool withMaster) {
  QString text = QStringLiteral("SELECT ") + (ColumnList().isEmpty() ? QStringLiteral("*") : ColumnList()) +
                 QStringLiteral(" FROM ") + TableReference();
  QString connector = QStringLiteral(" WHERE ");
  if (withMaster && MasterSource() && !MasterFields().isEmpty()) {
    const QString where = BuildMasterWhere();
    if (!where.isEmpty()) {
      text += where;
      connector = QStringLiteral(" AND ");
    }
  }
  if (Filtered() && !filter_.trimmed().isEmpty()) text += connector + QLatin1Char('(') + filter_.trimmed() + QLatin1Char(')');
  if (!SelectOptions.GroupBy.isEmpty()) text += QStringLiteral(" GROUP BY ") + SelectOptions.GroupBy;
  if (!SelectOptions.Having.isEmpty()) text += QStringLiteral(" HAVING ") + SelectOptions.Having;
  if (!SelectOptions.OrderBy.isEmpty()) {
    text += QStringLiteral(" ORDER BY ") + SelectOptions.OrderBy;
  } else if ((DefaultIndex || !indexName_.isEmpty()) && !keyFields_.isEmpty()) {
    QStringList quoted;
    for (const QString& k : keyFields_) quoted << qxsql::QuotePart(k);
    text += QStringLiteral(" ORDER BY ") + quoted.join(QLatin1Char(',')) + QStringLiteral(" ASC");
  }
  return text;
}

void TQxTable::SetFilter(const QString& text) {
  if (ParamCheck && !Loading()) {
    // One parameter per distinct marker of the filter; the values of same-named parameters
    // are kept.
    TParams fresh;
    for (const QString& name : qxsql::MarkerNames(text)) {
      TParam& p = fresh.CreateParam(ftUnknown, name, ptInput);
      if (const TParam* old = params_.FindParam(name)) {
        p.DataType = old->DataType;
        p.SetValue(old->Value());
      }
    }
    params_.Assign(fresh);
  }
  filter_ = text;
}

void TQxTable::SubstituteMarkers() {
  const QStringList names = qxsql::MarkerNames(commandText_);
  if (names.isEmpty()) return;
  TDataSet* master = masterActive_ && MasterSource() ? MasterSource()->DataSet() : nullptr;
  QStringList masterNames;
  if (master)
    for (const QString& m : MasterFields().split(QLatin1Char(';'), Qt::SkipEmptyParts)) masterNames << m.trimmed();
  TParams values;
  for (const QString& name : names) {
    if (masterNames.contains(name, Qt::CaseInsensitive)) {
      TParam& p = values.CreateParam(ftUnknown, name, ptInput);
      if (TField* f = master->FindField(name)) {
        p.DataType = f->DataType();
        p.SetValue(f->Value());
      }
    } else if (const TParam* given = params_.FindParam(name)) {
      TParam& p = values.CreateParam(given->DataType, name, ptInput);
      p.SetValue(given->Value());
    }
    // A marker with neither a master field nor a parameter is refused by the substitution.
  }
  commandText_ = qxsql::SubstituteParams(commandText_, values);
}

void TQxTable::ResolveTableName() {
  qualifier_ = tableName_.contains(QLatin1Char('.')) ? QStringLiteral(".") : QStringLiteral("..");
  selectDb_ = ResolvedConnection()->DbName();
  if (tableName_.trimmed().isEmpty()) DatabaseError(QxDsText::MissingTableName, this);
}

void TQxTable::PrepareFieldDefsText() {
  CheckOpenPrerequisites();
  ResolveTableName();
  commandText_ = QStringLiteral("SELECT * FROM ") + TableReference() +
                 QStringLiteral(" WHERE 1=0 /* initial select to obtain columns */");
}

void TQxTable::InternalOpen() {
  CheckOpenPrerequisites();
  if (ResolvedConnection() && ResolvedConnection()->Connected() && !ResolvedConnection()->PingConnection()) {
    ResolvedConnection()->Disconnect();
    ResolvedConnection()->Connect();
  }
  ResolveTableName();
  SetIndexName(indexName_);
  if (DefaultIndex) GetIndexInfo();
  SetIndexName(indexName_);
  commandText_ = QStringLiteral("SELECT * FROM ") + TableReference() +
                 QStringLiteral(" WHERE 1=0 /* initial select to obtain columns */");
  ObtainColumns();
  masterActive_ = MasterSource() && MasterSource()->DataSet() && MasterSource()->DataSet()->Active();
  commandText_ = BuildSelectSQL(masterActive_);
  SubstituteMarkers();
  TQxUpdateDataSet::InternalOpen();
}

void TQxTable::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  masterActive_ = MasterSource() && MasterSource()->DataSet() && MasterSource()->DataSet()->Active();
  commandText_ = BuildSelectSQL(masterActive_);
  SubstituteMarkers();
  Requery();
}

void TQxTable::MasterDisabled() {
  if (!Active()) return;
  masterActive_ = false;
  commandText_ = BuildSelectSQL(false);
  SubstituteMarkers();
  Requery();
}

void TQxTable::DoOnNewRecord() {
  if (FetchMasterKeyValues && MasterSource() && MasterSource()->DataSet()) {
    const QStringList detail = IndexFieldNames().split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const QStringList master = MasterFields().split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (int i = 0; i < std::min(detail.size(), master.size()); ++i) {
      TField* m = MasterSource()->DataSet()->FindField(master[i].trimmed());
      TField* d = FindField(detail[i].trimmed());
      if (m && d) d->SetValue(m->Value());
    }
  }
  TQxUpdateDataSet::DoOnNewRecord();
}
