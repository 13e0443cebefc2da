// The change log's rule and its callers around edit, insert, delete, post and cancel.
#include "dataset/QxAuditDataSet.h"

#include "dataset/QxDataSetErrors.h"

namespace {
// A log field name that no data column uses: the name itself, else with "_" appended.
QString UniqueName(const TFieldDefs& defs, QString name) {
  while (defs.IndexOf(name) >= 0) name += QLatin1Char('_');
  return name;
}
}  // namespace

TQxAuditDataSet::TQxAuditDataSet(TComponent* owner) : TQxCustomMemDataSet(owner) {
  log_ = new TQxCustomMemDataSet(this);
  log_->SetName(QStringLiteral("OLD_") + Name());
  log_->StoreDefs = true;
  // The log's records are this dataset's plus "Delta", "Bookmark" and "SavePoint".
  log_->RecordLimit = kQxMaxRecordSize + 3 * (4 + 1);
}

TQxAuditDataSet::~TQxAuditDataSet() {
  try {
    if (log_->Active()) log_->EmptyDataSet();
  } catch (...) {
  }
}

void TQxAuditDataSet::SetName(const QString& name) {
  TQxCustomMemDataSet::SetName(name);
  log_->SetName(QStringLiteral("OLD_") + name);
}

TField* TQxAuditDataSet::LogDeltaField() const {
  const int n = log_->FieldDefs().Count();
  return n >= 3 ? log_->Fields().FieldByNumber(n - 2) : nullptr;
}

TField* TQxAuditDataSet::LogBookmarkField() const {
  const int n = log_->FieldDefs().Count();
  return n >= 3 ? log_->Fields().FieldByNumber(n - 1) : nullptr;
}

TField* TQxAuditDataSet::LogSavePointField() const {
  const int n = log_->FieldDefs().Count();
  return n >= 3 ? log_->Fields().FieldByNumber(n) : nullptr;
}

void TQxAuditDataSet::CreateLogFields() {
  if (log_->Active()) log_->Close();
  log_->CopyStructure(*this);
  TFieldDefs& defs = log_->FieldDefs();
  defs.Add(UniqueName(defs, QStringLiteral("Delta")), ftInteger);
  defs.Add(UniqueName(defs, QStringLiteral("Bookmark")), ftInteger);
  defs.Add(UniqueName(defs, QStringLiteral("SavePoint")), ftInteger);
  log_->Open();
}

int32_t TQxAuditDataSet::CurrentBookmarkId() {
  return IdOfBookmark(Bookmark());
}

bool TQxAuditDataSet::FindLogEntry() {
  if (!log_->Active() || !LogBookmarkField()) return false;
  return log_->Locate(LogBookmarkField()->FieldName, CurrentBookmarkId(), {});
}

void TQxAuditDataSet::DropLastLogEntry() {
  if (log_->Active() && log_->RecordCount() > 0 && !log_->Eof()) log_->Delete();
}

void TQxAuditDataSet::LogChange(int32_t kind) {
  if ((kind == ukModify || kind == ukDelete) && FindLogEntry()) {
    if (kind == ukModify) return;
    if (LogDeltaField()->AsInteger() == ukInsert) {
      // Inserted since the last apply and now deleted: the two cancel out.
      deleteUndo_ = DeleteUndo::Reappend;
      deleteRowValues_.clear();
      for (int i = 0; i < log_->FieldCount(); ++i) deleteRowValues_ << log_->Fields().Fields(i)->Value();
      log_->Delete();
    } else {
      deleteUndo_ = DeleteUndo::RestoreDelta;
      deleteRow_ = log_->Bookmark();
      deleteOldDelta_ = LogDeltaField()->AsInteger();
      log_->Edit();
      LogDeltaField()->SetAsInteger(ukDelete);
      log_->Post();
    }
    return;
  }
  // Descendants build the log when they open; a bare audit dataset has nobody to do that, so
  // its log is built here on first use instead of being written without its own fields.
  if (!log_->Active() && log_->FieldDefs().Count() >= 3) log_->Open();
  if (!log_->Active() || !LogBookmarkField()) CreateLogFields();
  const int32_t id = kind == ukInsert ? NextBookmarkId() : CurrentBookmarkId();
  log_->Append();
  try {
    for (int i = 0; i < FieldCount(); ++i) {
      TField* f = Fields().Fields(i);
      if (f->FieldKind != TFieldKind::fkData || f->FieldNo() < 1) continue;
      // Same name, but only among the log's data columns (its own three come after them).
      TField* target = log_->Fields().FieldByNumber(f->FieldNo());
      if (!target || target->FieldName.compare(f->FieldName, Qt::CaseInsensitive) != 0)
        target = log_->FindField(f->FieldName);
      if (target && target != LogDeltaField() && target != LogBookmarkField() &&
          target != LogSavePointField())
        target->SetValue(f->Value());
    }
    LogBookmarkField()->SetAsInteger(id);
    LogDeltaField()->SetAsInteger(kind);
    LogSavePointField()->SetAsInteger(0);
    log_->Post();
  } catch (...) {
    log_->Cancel();
    throw;
  }
  operationRow_ = log_->Bookmark();
  if (kind == ukDelete) {
    deleteUndo_ = DeleteUndo::DropAppended;
    deleteRow_ = operationRow_;
  }
}

void TQxAuditDataSet::LogModify() {
  loggedAlready_ = FindLogEntry();
  operationRow_.clear();
  LogChange(ukModify);
  if (loggedAlready_) operationRow_.clear();
}

void TQxAuditDataSet::LogDelete() {
  if (Options.testFlag(TQxMemOption::opDisableDeletes))
    RaiseDisabledError(QxText(QxMsg::DeleteNotAllowed), this);
  TQxCustomMemDataSet::DoBeforeDelete();
  deleteUndo_ = DeleteUndo::None;
  LogChange(ukDelete);
}

void TQxAuditDataSet::CancelLogEntry() {
  // Drop the row this edit or insert made, wherever the log's cursor stands now.
  if (!loggedAlready_ && !operationRow_.isEmpty() && log_->Active()) {
    try {
      log_->GotoBookmark(operationRow_);
      log_->Delete();
    } catch (const EQxBookmarkException&) {
      // Already gone (an apply removed it): nothing to drop.
    }
  }
  operationRow_.clear();
  loggedAlready_ = false;
}

void TQxAuditDataSet::DoBeforeEdit() {
  TQxCustomMemDataSet::DoBeforeEdit();
  LogModify();
}

void TQxAuditDataSet::DoBeforeInsert() {
  TQxCustomMemDataSet::DoBeforeInsert();
  NotifyBeforeInsert();
}

void TQxAuditDataSet::DoAfterInsert() {
  TQxCustomMemDataSet::DoAfterInsert();
  loggedAlready_ = false;
  operationRow_.clear();
  LogChange(ukInsert);
}

void TQxAuditDataSet::DoBeforeDelete() {
  LogDelete();
}

void TQxAuditDataSet::DoDeleteFailed() {
  try {
    switch (deleteUndo_) {
      case DeleteUndo::DropAppended:
        log_->GotoBookmark(deleteRow_);
        log_->Delete();
        break;
      case DeleteUndo::RestoreDelta:
        log_->GotoBookmark(deleteRow_);
        log_->Edit();
        LogDeltaField()->SetAsInteger(deleteOldDelta_);
        log_->Post();
        break;
      case DeleteUndo::Reappend:
        log_->AppendRecord(deleteRowValues_);
        break;
      case DeleteUndo::None:
        break;
    }
  } catch (...) {
  }
  deleteUndo_ = DeleteUndo::None;
}

void TQxAuditDataSet::DoAfterPost() {
  TQxCustomMemDataSet::DoAfterPost();
  operationRow_.clear();
  loggedAlready_ = false;
  AfterPostChange();
}

void TQxAuditDataSet::DoAfterCancel() {
  TQxCustomMemDataSet::DoAfterCancel();
  CancelLogEntry();
}

void TQxAuditDataSet::InternalOpen() {
  TQxCustomMemDataSet::InternalOpen();
  loggedAlready_ = false;
}

void TQxAuditDataSet::InternalClose() {
  if (log_->Active()) {
    if (EmptyOnClose) log_->EmptyDataSet();
    log_->Close();
  }
  if (EmptyOnClose) log_->FieldDefs().Clear();
  TQxCustomMemDataSet::InternalClose();
}

void TQxAuditDataSet::EmptyDataSet() {
  TQxCustomMemDataSet::EmptyDataSet();
  if (log_->Active()) log_->EmptyDataSet();
}
