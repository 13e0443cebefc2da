// Cached updates: applying the change log row by row through the update object's queries or
// stored procedures, optionally inside one transaction, so that every change is applied once
// and every change not applied stays in the log.
#include <QSet>

#include "access/QorixExceptions.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxDataSet.h"
#include "dataset/server/QxSqlLiterals.h"
#include "dataset/server/QxStoredProc.h"

TQxBaseClientDataSet::TQxBaseClientDataSet(TComponent* owner) : TQxAuditDataSet(owner) {}

TQxBaseClientDataSet::~TQxBaseClientDataSet() = default;

void TQxBaseClientDataSet::SetUpdateObject(TQorixUpdateSQL* object) {
  updateObject_ = object;
  if (object) FreeNotification(object);
}

void TQxBaseClientDataSet::Notification(TComponent* component, TOperation operation) {
  TQxAuditDataSet::Notification(component, operation);
  if (operation == TOperation::opRemove && component == updateObject_) updateObject_ = nullptr;
}

void TQxBaseClientDataSet::EmptyLog() {
  if (Log().Active()) Log().EmptyDataSet();
}

// Each kind runs the update object's query of that kind; a failure hands the query's last
// server message to this dataset before it reaches the caller.
bool TQxBaseClientDataSet::ApplyModify() {
  return ApplyThroughQuery(ukModify);
}
bool TQxBaseClientDataSet::ApplyInsert() {
  return ApplyThroughQuery(ukInsert);
}
bool TQxBaseClientDataSet::ApplyDelete() {
  return ApplyThroughQuery(ukDelete);
}

bool TQxBaseClientDataSet::ApplyThroughQuery(int kind) {
  TQxQuery& query = updateObject_->Query(kind);
  try {
    RunUpdateQuery(query, kind);
  } catch (...) {
    SetLastServerMessage(query.DataSetServerMsg());
    throw;
  }
  return true;
}

TQorixDatabase* TQxBaseClientDataSet::UpdateConnection() {
  TQorixDatabase* db = updateObject_->Database();
  if (!db && !updateObject_->DbName.trimmed().isEmpty()) db = TQorixDatabase::FindDatabase(updateObject_->DbName);
  if (!db) RaiseMissingError(QxDsText::NeedDatabase, this);
  if (!db->Connected()) db->Connect();
  if (!db->Connected()) DatabaseError(QxDsText::CannotLogin.arg(db->ServerName), this);
  return db;
}

QVariant TQxBaseClientDataSet::OldValue(const QString& name) {
  if (TField* f = Log().FindField(name)) return f->Value();
  return QVariant();
}

void TQxBaseClientDataSet::RunUpdateQuery(TQxQuery& query, int kind) {
  updateObject_->PrepareQueries();
  query.TrimResults = TrimResults;
  query.SetSQL(updateObject_->GetSQL(kind));
  // Each parameter takes the dataset's field of its name; OLD_name takes the value before
  // the change (a deletion takes every value from the log).
  for (int i = 0; i < query.Params().Count(); ++i) {
    TParam& p = query.Params()[i];
    p.ParamType = ptInput;
    const bool old = p.Name.startsWith(QLatin1String("OLD_"), Qt::CaseInsensitive);
    const QString fieldName = old ? p.Name.mid(4) : p.Name;
    TField* f = FindField(fieldName);
    if (!f) DatabaseError(QStringLiteral("Field '%1' not found").arg(fieldName), this);
    p.DataType = f->DataType();
    p.SetValue(old || kind == ukDelete ? OldValue(fieldName) : f->Value());
  }
  // Blob values go into the text as literals like every other value; an unbalanced double
  // quote is refused only in text, never in binary data.
  for (int i = 0; i < query.Params().Count(); ++i) {
    const TParam& p = query.Params()[i];
    if ((p.DataType == ftMemo || p.DataType == ftFmtMemo) && !p.IsNull() &&
        p.Value().toString().count(QLatin1Char('"')) % 2 != 0)
      RaiseDataSetError(QxDsText::UnbalancedQuotes, this);
  }
  query.ExecSQL();
  rowsAffected_ = query.RowsAffected();
  // A statement that changed no row did not apply the change: it stays in the log.
  if (rowsAffected_ == 0) DatabaseError(QxDsText::RecordChanged, this);
  // Nor did one whose count never came (the server did not confirm it).
  if (rowsAffected_ < 0) DatabaseError(QxDsText::NoRowCount, this);
  if (kind == ukInsert) identity_ = query.LastIdentity();
}

bool TQxBaseClientDataSet::ApplyByStoredProc(const QString& procName, int kind) {
  TQxStoredProc* proc = TQxCustomDataSet::FindStoredProc(procName);
  if (!proc) RaiseDataSetError(QxDsText::NoComponent.arg(QStringLiteral("TQxStoredProc"), procName), this);
  const bool byName = updateObject_->UpdateStoredProcs.ParamByName;
  int position = 0;
  for (int i = 0; i < proc->Params().Count(); ++i) {
    TParam& p = proc->Params()[i];
    if (p.ParamType != ptInput && p.ParamType != ptInputOutput) continue;
    QString name = p.Name;
    if (name.startsWith(QLatin1Char('@'))) name = name.mid(1);
    const bool old = name.startsWith(QLatin1String("OLD_"));
    if (byName) {
      const QString fieldName = old ? name.mid(4) : name;
      p.SetValue(old || kind == ukDelete ? OldValue(fieldName) : FieldByName(fieldName)->Value());
    } else if (position < FieldCount()) {
      TField* f = Fields().Fields(position);
      p.SetValue(old || kind == ukDelete ? OldValue(f->FieldName) : f->Value());
    }
    ++position;
  }
  proc->ExecProc();
  rowsAffected_ = proc->RowsAffected();
  return true;
}

void TQxBaseClientDataSet::ApplyUpdates() {
  CheckActive();
  if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) Post();
  if (!Log().Active() || Log().RecordCount() == 0) return;
  if (!updateObject_) RaiseDataSetError(QxDsText::NoUpdateObject, this);
  PrepareUpdateObject();
  TQorixDatabase* db = UpdateConnection();
  // Nothing is applied while another dataset's rows are pending on the update connection:
  // the transaction's begin and the statements would be sent into them.
  TQxCustomDataSet::CheckConnectionFree(db, dynamic_cast<const TQxCustomDataSet*>(this), this, false);
  const bool useTran = SQLOptions.Contains(soUseTransactionOnCache);
  if (useTran) db->BeginTran();
  const TBookmark here = Bookmark();
  DisableControls();
  scrollEvents_ = false;
  QList<TBookmark> applied;  // log rows applied inside the transaction
  bool ok = false;
  try {
    Log().First();
    while (!Log().Eof()) {
      const int kind = LogDeltaField()->AsInteger();
      const int32_t id = LogBookmarkField()->AsInteger();
      bool done = false;
      bool skip = false;
      if (OnUpdateRecord) {
        TUpdateAction action = uaFail;
        if (kind != ukDelete) GotoBookmark(BookmarkOfId(id));
        OnUpdateRecord(*this, TQxUpdateKind(kind), action);
        switch (action) {
          case uaFail:
            RaiseDataSetError(QxDsText::ReadOnlyTable, this);
          case uaAbort:
            Abort();
          case uaSkip:
            skip = true;
            break;
          case uaApplied:
            done = true;
            break;
          case uaRetry:
            break;
        }
      }
      if (skip) {
        Log().Next();
        continue;
      }
      if (!done) {
        const bool procs = updateObject_->UpdateStoredProcs.UseStoredProcs;
        if (!procs && updateObject_->GetSQL(kind).join(QLatin1Char('\n')).trimmed().isEmpty())
          RaiseBadSQLError(QxDsText::NoSQL, this);
        if (kind != ukDelete) GotoBookmark(BookmarkOfId(id));
        for (;;) {
          try {
            if (procs) {
              const TQxUpdateStoredProcs& sp = updateObject_->UpdateStoredProcs;
              done = ApplyByStoredProc(kind == ukModify   ? sp.ModifyStoredProc
                                       : kind == ukInsert ? sp.InsertStoredProc
                                                          : sp.DeleteStoredProc,
                                       kind);
            } else if (kind == ukModify) {
              done = ApplyModify();
            } else if (kind == ukInsert) {
              done = ApplyInsert();
            } else {
              done = ApplyDelete();
            }
          } catch (EDatabaseError& e) {
            TDataAction action = TDataAction::daFail;
            if (OnPostError) OnPostError(*this, e, action);
            if (action == TDataAction::daRetry) continue;
            if (action == TDataAction::daAbort) Abort();
            throw;
          }
          break;
        }
        if (done && kind == ukInsert && FetchIdentityOn() && HasIdentityField()) {
          Edit();
          StoreIdentity(identity_);
          // The identity is the server's own value: posting it must not log a change.
          const bool cached = CachedUpdates;
          Post();
          CachedUpdates = cached;
          if (FindLogEntry() && LogDeltaField()->AsInteger() == ukModify && LogBookmarkField()->AsInteger() == id)
            DropLastLogEntry();
          Log().Locate(LogBookmarkField()->FieldName, id, {});
        }
        // The dataset stands on the applied record (a deletion leaves it where it was).
        const int recNo = RecNo();
        if (kind == ukModify && AfterCachedRecPost) AfterCachedRecPost(*this, recNo);
        if (kind == ukInsert && AfterCachedRecInsert) AfterCachedRecInsert(*this, recNo);
        if (kind == ukDelete && AfterCachedRecDelete) AfterCachedRecDelete(*this, recNo);
      }
      if (useTran) {
        // A trigger may have rolled the transaction back without an error: what was applied
        // is gone, and what follows would run outside any transaction.
        if (done && db->GetTranCount() == 0) DatabaseError(QxDsText::TransactionLost, this);
        applied << Log().Bookmark();
        Log().Next();
      } else {
        Log().Delete();
      }
    }
    // The commit belongs to the apply: when it fails, every change stays in the log.
    if (useTran) db->CommitTran();
    ok = true;
  } catch (...) {
    scrollEvents_ = true;
    if (useTran) {
      try {
        if (db->Connected() && db->GetTranCount() > 0) db->RollbackTran();
        db->RefreshTransactionState();
      } catch (...) {
      }
    }
    try {
      if (BookmarkValid(here)) GotoBookmark(here);
    } catch (...) {
    }
    EnableControls();
    throw;
  }
  scrollEvents_ = true;
  if (useTran && ok) {
    // Only what was applied leaves the log; a skipped row stays for the next apply.
    for (const TBookmark& b : applied) {
      try {
        Log().GotoBookmark(b);
        Log().Delete();
      } catch (...) {
      }
    }
  }
  try {
    GotoBookmark(here);
  } catch (...) {
  }
  EnableControls();
}
