// TQxAuditDataSet: a memory dataset that records every modification, insertion and deletion
// in an inner memory dataset, the change log, holding per changed record its values from
// before the first change, the kind of change ("Delta") and the record's bookmark id.
#pragma once

#include "dataset/QxCustomMemDataSet.h"

// Kinds of change in the log's "Delta" field.
enum TQxUpdateKind : int32_t { ukModify = 0, ukInsert = 1, ukDelete = 2 };

// The memory dataset with a change log.
class TQxAuditDataSet : public TQxCustomMemDataSet {
 public:
  explicit TQxAuditDataSet(TComponent* owner = nullptr);
  ~TQxAuditDataSet() override;
  bool CachedUpdates = true;  // changes wait in the log until applied
  void SetName(const QString& name) override;

  // The change log: the data fields, then "Delta", "Bookmark" and "SavePoint".
  TQxCustomMemDataSet& Log() { return *log_; }
  // The log's own three fields, addressed by position so that data columns of the same
  // names never stand in for them.
  TField* LogDeltaField() const;
  TField* LogBookmarkField() const;
  TField* LogSavePointField() const;

  // The change log's operations, in slot order.
  virtual void LogModify();
  virtual void LogDelete();
  virtual void NotifyBeforeInsert() {}
  virtual void CancelLogEntry();
  virtual void AfterPostChange() {}
  virtual void AfterLogChange() {}

  // Gives the log this dataset's structure plus the three fields and opens it.
  void CreateLogFields();
  // The logging rule for a change of kind (TQxUpdateKind).
  void LogChange(int32_t kind);
  // Puts the log on the row of the current record; answers whether one exists.
  bool FindLogEntry();
  // Deletes the log's current row (when the log is open, not empty and not past its end).
  void DropLastLogEntry();
  void EmptyDataSet() override;

 protected:
  void DoBeforeEdit() override;
  void DoAfterEdit() override { TQxCustomMemDataSet::DoAfterEdit(); }
  void DoBeforeInsert() override;
  void DoAfterInsert() override;
  void DoBeforeDelete() override;
  void DoAfterPost() override;
  void DoAfterCancel() override;
  void DoDeleteFailed() override;
  void InternalOpen() override;
  void InternalClose() override;

 private:
  int32_t CurrentBookmarkId();
  // Undo of the log change a delete made, for a delete that then fails.
  enum class DeleteUndo { None, DropAppended, RestoreDelta, Reappend };
  TQxCustomMemDataSet* log_;
  bool loggedAlready_ = false;
  TBookmark operationRow_;  // the log row made for the edit or insert in progress
  DeleteUndo deleteUndo_ = DeleteUndo::None;
  TBookmark deleteRow_;
  int32_t deleteOldDelta_ = 0;
  QVariantList deleteRowValues_;
};
