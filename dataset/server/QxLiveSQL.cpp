// Live updates: the INSERT, UPDATE and DELETE a server dataset sends for the current record
// when it is not in cached-update mode, the WHERE clause of the record's values before the
// change, and the one-row check. Values reach the text as typed literals only.
#include <QVariant>

#include <functional>

#include "access/QorixExceptions.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxDataSet.h"
#include "dataset/server/QxSqlLiterals.h"

namespace {
bool IsBlobType(TFieldType t) {
  return t == ftBlob || t == ftMemo || t == ftGraphic || t == ftFmtMemo;
}
bool IsByteBlob(TFieldType t) {
  return t == ftBlob || t == ftGraphic;
}
bool IsObjectType(TFieldType t) {
  return t == ftBytes || t == ftVarBytes || IsBlobType(t) || t == ftDataSet;
}
bool SameValue(const QVariant& a, const QVariant& b) {
  if (a.isNull() != b.isNull()) return false;
  if (a.isNull()) return true;
  return a == b;
}
}  // namespace

void TQxCustomDataSet::CheckPendingForLive() {
  // A closed dataset has no record to send: say so, not something else.
  if (!Active()) RaiseNotOpenError(QxDsText::ClosedDataSet, this);
  if (kind_ == dkStoredProc || (!UseQorixCursor && resultsPending_))
    RaiseResultsPendingError(QxDsText::PendingLive, this);
}

void TQxCustomDataSet::AfterPostChange() {
  if (!CachedUpdates && Log().Active()) Log().EmptyDataSet();
}

void TQxCustomDataSet::AfterLogChange() {
  if (!CachedUpdates && Log().Active()) Log().EmptyDataSet();
}

void TQxCustomDataSet::DoAfterDelete() {
  // The log is emptied through the internal hook first, so a user's AfterDelete handler
  // cannot keep it from happening.
  AfterLogChange();
  TQxBaseClientDataSet::DoAfterDelete();
}

void TQxCustomDataSet::DoAfterPost() {
  // As for deletes: the log is emptied before the user's AfterPost handler runs.
  AfterPostChange();
  TQxBaseClientDataSet::DoAfterPost();
}

void TQxCustomDataSet::WriteRecordAt(TRecordBuffer buffer, int index) {
  if (LiveMode() && !CachedUpdates) ExecUpdateSQL();
  TQxBaseClientDataSet::WriteRecordAt(buffer, index);
}

void TQxCustomDataSet::InsertRecordAt(int index, TRecordBuffer buffer) {
  if (LiveMode() && !CachedUpdates) {
    ExecInsertSQL();
    // The identity column is never sent, so the server chose the row's id: the record takes
    // it whatever FetchIdentity says, or an edit or delete of the new row (whose WHERE names
    // the id) would find no row until the next refresh.
    if (!identityColumn_.isEmpty() && identity_ >= 0) StoreIdentity(identity_);
  }
  TQxBaseClientDataSet::InsertRecordAt(index, buffer);
}

void TQxCustomDataSet::StoreIdentity(int64_t value) {
  identity_ = value;
  if (TField* f = FindField(identityColumn_)) {
    const bool ro = f->ReadOnly;
    f->ReadOnly = false;
    f->SetValue(QVariant(qlonglong(value)));
    f->ReadOnly = ro;
  }
}

namespace {
// The first 30 bytes of Text's UTF-8 form, cut before a character that would not fit whole: what
// the server's CONVERT(VARCHAR, column) of a text column answers.
QString ConvertedPrefix(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  if (utf8.size() > 30) {
    int n = 30;
    while (n > 0 && (uchar(utf8[n]) & 0xC0) == 0x80) --n;
    utf8.truncate(n);
  }
  return QString::fromUtf8(utf8);
}
bool IsTextBlob(TFieldType t) {
  return t == ftMemo || t == ftFmtMemo;
}
// Text as a LIKE pattern that matches exactly that text: the wildcards %, _ and [ stand in
// brackets as themselves.
QString ExactLikePattern(const QString& text) {
  QString out;
  out.reserve(text.size() + 8);
  for (const QChar c : text) {
    if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('['))
      out += QLatin1Char('[') + c + QLatin1Char(']');
    else
      out += c;
  }
  return out;
}
}  // namespace

QString TQxCustomDataSet::BuildWhereClause() {
  if (!FindLogEntry()) RaiseDataSetError(QxDsText::RecordChanged, this);
  QString text = QStringLiteral(" WHERE 1=1");
  QStringList columns;
  QStringList keys = KeyFieldNames();
  if (keys.isEmpty()) keys = PrimeFields;
  for (QString& k : keys) k = k.trimmed();
  if (UpdateMode == upWhereKeyOnly) {
    if (keys.isEmpty()) DatabaseError(QxDsText::KeyOnlyNoKeys, this);
    for (const QString& k : keys) {
      TField* f = FindField(k);
      if (!f || f->FieldKind != TFieldKind::fkData || IsByteBlob(f->DataType()) || f->DataType() == ftDataSet)
        continue;
      columns << f->FieldName;
    }
  } else {
    // With upWhereChanged the row is still named: by its key columns when the dataset knows
    // them, else by every column, besides the changed ones.
    const bool changedOnly = UpdateMode == upWhereChanged && !keys.isEmpty();
    for (int i = 0; i < FieldCount(); ++i) {
      TField* f = Fields().Fields(i);
      if (f->FieldKind != TFieldKind::fkData || f->FieldNo() < 1) continue;
      // Image and byte values are not compared (the rows-affected check stands in for
      // them); text is, by its first characters and its length.
      if (IsObjectType(f->DataType()) && !IsTextBlob(f->DataType())) continue;
      if (changedOnly && !keys.contains(f->FieldName, Qt::CaseInsensitive)) {
        TField* old = Log().FindField(f->FieldName);
        if (old && SameValue(old->Value(), f->Value())) continue;
      }
      columns << f->FieldName;
    }
  }
  for (const QString& c : columns) {
    TField* f = FindField(c);
    TField* old = Log().FindField(c);
    const QVariant v = old ? old->Value() : f->Value();
    const QString name = qxsql::QuotePart(c);
    if (v.isNull()) {
      text += QStringLiteral(" AND ") + name + QStringLiteral(" IS NULL");
    } else if (IsTextBlob(f->DataType())) {
      // Another user's change of a text value shows in its first characters or its length;
      // one further in, that keeps the length, only in the whole text: a text longer than
      // the compared start is matched whole with LIKE as well.
      const QString value = v.toString();
      const QString prefix = ConvertedPrefix(value);
      // A text read up to the TextSize is the start of a longer one, as long as it or longer.
      const int size = int(value.toUtf8().size());
      const bool cut = size >= textSize_;
      text += QStringLiteral(" AND CONVERT(VARCHAR, ") + name + QStringLiteral(")=") +
              qxsql::Literal(ftString, prefix) + QStringLiteral(" AND DATALENGTH(") + name +
              (cut ? QStringLiteral(")>=") : QStringLiteral(")=")) + QString::number(size);
      if (prefix.size() < value.size() && !cut)
        text += QStringLiteral(" AND ") + name + QStringLiteral(" LIKE ") +
                qxsql::Literal(ftString, ExactLikePattern(value));
    } else {
      text += QStringLiteral(" AND ") + name + QLatin1Char('=') + qxsql::Literal(f->DataType(), v);
    }
  }
  return text;
}

bool TQxCustomDataSet::CountMatchingRecords() {
  const QString table = TableReference();
  if (table.trimmed().isEmpty()) RaiseBadSQLError(QxDsText::MissingTableName, this);
  const QString where = BuildWhereClause();
  const int savedMax = MaxRows;
  MaxRows = 0;
  QStringList row;
  try {
    TCursorGuard cursor(ExecCursor, UseExecCursor);
    row = QueryRow(QStringLiteral("SELECT COUNT(*) FROM ") + table + where);
  } catch (...) {
    MaxRows = savedMax;
    throw;
  }
  MaxRows = savedMax;
  const QString text = row.isEmpty() ? QStringLiteral("0") : row.first();
  bool ok = false;
  const int count = text.toInt(&ok);
  if (!ok) DatabaseError(QxDsText::CharToInt, this);
  MonitorTrace(QStringLiteral("SQL Data Out: - Count : ") + text);
  if (count == 0) RaiseDataSetError(QxDsText::NoRecordFound, this);
  if (count > 1) RaiseDataSetError(QxDsText::MultipleRecords, this);
  return true;
}

void TQxCustomDataSet::InLiveTransaction(bool ownTranWanted, const std::function<void()>& change,
                                         const std::function<void()>& confirm) {
  // The transaction's begin is sent before the change: both wait for another dataset's
  // pending rows.
  CheckNonCursorOpen();
  const bool inTran = resolved_ && resolved_->InTransaction();
  const bool ownTran = resolved_ && !inTran && ownTranWanted;
  if (ownTran) resolved_->BeginTran();
  try {
    change();
    // A trigger can roll the transaction back without an error: the change is not there.
    if ((ownTran || inTran) && resolved_->GetTranCount() == 0)
      RaiseDataSetError(QxDsText::TransactionLost, this);
    if (confirm) confirm();
  } catch (...) {
    // A failed change never leaves its own transaction open, nor a change of more rows than
    // the record stands for; the connection's transaction flag is read again, since the server
    // may have ended the transaction itself.
    if (resolved_ && resolved_->Connected()) {
      try {
        if (ownTran && resolved_->GetTranCount() > 0) resolved_->RollbackTran();
        resolved_->RefreshTransactionState();
      } catch (...) {
      }
    }
    throw;
  }
  if (ownTran) resolved_->CommitTran();
}

void TQxCustomDataSet::RunLiveStatement(const QString& text, bool requireOneRow) {
  lastStatement_ = text;
  MonitorTrace(text);
  // A statement that must change one row runs in a transaction of its own even without
  // soUseTransaction: a refused change of several rows is rolled back, never left committed.
  int rows = -1;
  rowsAffected_ = -1;
  InLiveTransaction(
      SQLOptions.Contains(soUseTransaction) || requireOneRow,
      [&] {
        ExecDirect(text, rows);
        rowsAffected_ = rows;
      },
      [&] {
        if (requireOneRow && rows == 0) RaiseDataSetError(QxDsText::RecordChanged, this);
        if (requireOneRow && rows > 1) RaiseDataSetError(QxDsText::MultipleRecords, this);
        // A statement whose count never came was not confirmed by the server.
        if (requireOneRow && rows < 0) RaiseDataSetError(QxDsText::NoRowCount, this);
      });
  MonitorTrace(QStringLiteral("Open-Client: RowCount : ") + QString::number(rows));
}

void TQxCustomDataSet::RunLiveStoredProc(int kind) {
  if (!updateObject_) RaiseDataSetError(QxDsText::NoUpdateObject, this);
  const TQxUpdateStoredProcs& sp = updateObject_->UpdateStoredProcs;
  const QString name = kind == ukModify ? sp.ModifyStoredProc : kind == ukInsert ? sp.InsertStoredProc : sp.DeleteStoredProc;
  lastStatement_ = QStringLiteral("EXEC ") + name;
  InLiveTransaction(SQLOptions.Contains(soUseTransaction), [&] { ApplyByStoredProc(name, kind); });
}

void TQxCustomDataSet::ExecInsertSQL() {
  CheckPendingForLive();
  // The update object's procedures apply the record instead of the statements.
  if (SQLOptions.Contains(soUseStoredProcsForUpdates)) {
    RunLiveStoredProc(ukInsert);
    return;
  }
  MonitorTrace(QStringLiteral("Flow : ** Start of INSERT **"));
  QStringList names, values;
  for (int i = 0; i < FieldCount(); ++i) {
    TField* f = Fields().Fields(i);
    if (f->FieldKind != TFieldKind::fkData || f->FieldNo() < 1 || f->DataType() == ftDataSet) continue;
    if (f->ReadOnly && !IsBlobType(f->DataType())) continue;
    if (!identityColumn_.isEmpty() && f->FieldName == identityColumn_) continue;
    // A NULL column is left to the server's default; an empty string is a value.
    const QVariant v = f->Value();
    if (v.isNull()) continue;
    names << qxsql::QuotePart(f->FieldName);
    values << qxsql::Literal(f->DataType(), v);
  }
  if (names.isEmpty()) DatabaseError(QStringLiteral("The record holds no value to insert"), this);
  const QString text = QStringLiteral("INSERT ") + TableReference() + QLatin1Char('(') +
                       names.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
                       values.join(QStringLiteral(", ")) + QLatin1Char(')');
  RunLiveStatement(text, true);
  if (!identityColumn_.isEmpty()) {
    identity_ = GetIdentityValue();
    MonitorTrace(QStringLiteral("SQL Data Out: - Identity Value : ") + QString::number(identity_));
  }
  MonitorTrace(QStringLiteral("Flow : ** End of INSERT **"));
}

bool TQxCustomDataSet::ExecUpdateSQL() {
  CheckPendingForLive();
  MonitorTrace(QStringLiteral("Flow : ** Start of UPDATE **"));
  if (!FindLogEntry()) RaiseDataSetError(QxDsText::RecordChanged, this);
  QStringList sets;
  for (int i = 0; i < FieldCount(); ++i) {
    TField* f = Fields().Fields(i);
    if (f->FieldKind != TFieldKind::fkData || f->FieldNo() < 1) continue;
    if (f->ReadOnly && !IsBlobType(f->DataType())) continue;
    if (IsObjectType(f->DataType()) && !IsBlobType(f->DataType()) && f->DataType() != ftVarBytes) continue;
    if (!identityColumn_.isEmpty() && f->FieldName == identityColumn_) continue;
    TField* old = Log().FindField(f->FieldName);
    // Values are compared, not texts: an empty string differs from NULL.
    if (old && SameValue(old->Value(), f->Value())) continue;
    // A text or image read only in part would be written back without the rest.
    if (auto* oldBlob = dynamic_cast<TBlobField*>(old);
        oldBlob && IsBlobType(f->DataType()) && !old->IsNull() && oldBlob->AsBytes().size() >= textSize_)
      RaiseDataSetError(QxDsText::TextReadCut.arg(f->FieldName).arg(textSize_), this);
    sets << qxsql::QuotePart(f->FieldName) + QLatin1Char('=') + qxsql::Literal(f->DataType(), f->Value());
  }
  if (sets.isEmpty()) {
    MonitorTrace(QStringLiteral("Flow : ** End of UPDATE **"));
    return false;
  }
  if (SQLOptions.Contains(soUseStoredProcsForUpdates)) {
    RunLiveStoredProc(ukModify);
    Blobs().SetAllModified(false);
    return true;
  }
  QString where = BuildWhereClause();
  if (CheckDups) CountMatchingRecords();
  // A filtered dataset changes only rows its filter shows.
  const QString filter = LiveFilter().trimmed();
  if (Filtered() && !filter.isEmpty()) where += QStringLiteral(" AND (") + filter + QLatin1Char(')');
  const QString text =
      QStringLiteral("UPDATE ") + TableReference() + QStringLiteral(" SET ") + sets.join(QStringLiteral(", ")) + where;
  RunLiveStatement(text, true);
  Blobs().SetAllModified(false);
  MonitorTrace(QStringLiteral("Flow : ** End of UPDATE **"));
  return true;
}

void TQxCustomDataSet::ExecDeleteSQL() {
  CheckPendingForLive();
  if (SQLOptions.Contains(soUseStoredProcsForUpdates)) {
    RunLiveStoredProc(ukDelete);
    return;
  }
  MonitorTrace(QStringLiteral("Flow : ** Start of DELETE **"));
  const QString where = BuildWhereClause();
  if (CheckDups) CountMatchingRecords();
  RunLiveStatement(QStringLiteral("DELETE ") + TableReference() + where, true);
  MonitorTrace(QStringLiteral("Flow : ** End of DELETE **"));
}
