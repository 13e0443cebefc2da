// TDataSet: the dataset abstraction every dataset of the suite stands on. It owns the fields,
// the field definitions and a window of record buffers, runs the state machine (browse, edit,
// insert, ...), the Before/After events and the data events to data sources, and leaves record
// storage to descendants through the record-buffer contract (GetRecord, InternalPost, ...).
#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

#include "access/Classes.h"
#include "access/SysUtils.h"
#include "dataset/DataSetTypes.h"
#include "dataset/Field.h"
#include "dataset/MemoryStream.h"

class TDataSource;

// The dataset abstraction; descendants store the records.
class TDataSet : public TComponent {
 public:
  // A notification event taking the dataset.
  using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
  // OnFilterRecord: set accept to false to hide the record.
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;
  // OnPostError, OnEditError, OnDeleteError: choose what happens to the failed operation.
  using TDataSetErrorEvent = std::function<void(TDataSet&, EDatabaseError&, TDataAction& action)>;

  explicit TDataSet(TComponent* owner = nullptr);
  ~TDataSet() override;

  // True while the component is being read from its stored description (BeginLoading to
  // EndLoading of TComponent).
  bool Loading() const { return IsLoading(); }
  // True once this dataset's destructor has begun (earlier than TComponent's own flag).
  bool Destroying() const { return destroying_ || IsDestroying(); }

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;        // open and close
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;      // insert and edit
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;      // post and cancel
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;  // delete and scroll
  TDataSetNotifyEvent OnCalcFields;   // fills calculated fields of the record being calculated
  TDataSetNotifyEvent OnNewRecord;    // initialises a record just inserted or appended
  TFilterRecordEvent OnFilterRecord;  // record filter while Filtered is set
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;  // failed post, edit, delete
  bool AutoCalcFields = true;  // recalculate calculated fields when a data field changes
  bool ObjectView = false;     // nested fields are shown as such (kept for descendants)
  // Makes the nested dataset of one of this dataset's dataset fields, bound to that field
  // (TDataSetField::EnsureNestedDataSet); empty: such a field makes none.
  std::function<std::unique_ptr<TDataSet>(TDataSetField&)> NestedDataSetClass;

  // State and activity.
  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != TDataSetState::dsInactive && state_ != TDataSetState::dsOpening; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // No record in the buffers.
  bool IsEmpty() const { return activeRecord_ >= recordCount_; }
  // The record being edited has changed fields.
  bool Modified() const { return modified_; }
  // Edits are allowed.
  bool CanModify() const { return GetCanModify(); }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value);

  // Navigation.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int distance);
  int RecordCount() const { return const_cast<TDataSet*>(this)->GetRecordCount(); }
  int RecNo() const { return const_cast<TDataSet*>(this)->GetRecNo(); }
  void SetRecNo(int value) { DoSetRecNo(value); }
  // The active record's bookmark, empty when there is none.
  TBookmark Bookmark();
  // Goes to a bookmark (same as GotoBookmark).
  void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark);
  virtual int CompareBookmarks(const TBookmark& first, const TBookmark& second);
  // Re-reads the records around the cursor.
  void Refresh();
  void Resync(TResyncMode mode);

  // Editing.
  void Edit();
  void Insert();
  void Append();
  // Post and Cancel also end the key-setting state (dsSetKey): Post keeps the edited key
  // values, Cancel restores those from before (InternalPostKey, InternalCancelKey).
  void Post();
  void Cancel();
  void Delete();
  // Appends (or inserts) a record with the values in data-field order and posts it.
  void AppendRecord(const QVariantList& values);
  void InsertRecord(const QVariantList& values);
  // Posts a modified edit, cancels an unmodified one.
  void CheckBrowseMode();
  // Asks data links to write their pending control values into the record.
  void UpdateRecord();

  // Fields.
  TFields& Fields() { return fields_; }
  const TFields& Fields() const { return fields_; }
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(const QString& name) const { return fields_.FindField(name); }
  TField* FieldByName(const QString& name) const { return fields_.FieldByName(name); }
  // The fields of a ";"-separated list; raises for a name that is not a field.
  QList<TField*> GetFieldList(const QString& names) const;
  // One field's value, or a list of values for several ";"-separated names.
  QVariant FieldValues(const QString& names) const;
  // Fields were made from the definitions at open (and are destroyed at close).
  bool DefaultFields() const { return defaultFields_; }
  // Bytes of the calculated-field area of a record buffer.
  int CalcFieldsSize() const { return calcFieldsSize_; }

  // Searching.
  virtual bool Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options);
  virtual QVariant Lookup(const QString& keyFields, const QVariant& keyValues, const QString& resultFields);
  virtual bool FindRecord(bool restart, bool goForward);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }

  // A stream over a blob-like field's value in the active record; nullptr when unsupported.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);

  // Data-aware controls.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ != 0; }
  // A scan: an observer walks the records with controls disabled and comes back to the record
  // it started on. EndScan's change notification arrives while Scanning() still holds, so
  // other observers that cache rows can tell it from a real change.
  void BeginScan() {
    ++scanDepth_;
    DisableControls();
  }
  void EndScan();
  bool Scanning() const { return scanDepth_ > 0; }
  // Grows whenever what the dataset shows may have changed (a state change, a delete, a new
  // filter, a refresh, a load); pure movement leaves it. Observers caching rows compare it.
  uint64_t ContentVersion() const { return contentVersion_; }
  // Announces a change of content the dataset cannot see itself (a new OnFilterRecord handler).
  void ContentChanged() { ++contentVersion_; }
  // The active buffer's bookmark flag: bfEOF for an appended record, bfInserted (or bfBOF in
  // an empty dataset) for an inserted one, bfCurrent for a stored record.
  TBookmarkFlag ActiveBookmarkFlag() {
    return buffers_.empty() || recordCount_ == 0 ? TBookmarkFlag::bfBOF : GetBookmarkFlag(ActiveBuffer());
  }
  // The record buffer window: its size, the active buffer's index and the buffered records.
  int BufferCount() const { return bufferCount_; }
  int ActiveRecord() const { return activeRecord_; }
  int BufferedRecordCount() const { return recordCount_; }
  // Moves the active buffer inside the window (data links reading other rows do this).
  void SetActiveRecord(int index) { activeRecord_ = index; }
  // The master data source of a detail dataset, nullptr otherwise.
  virtual TDataSource* GetDataSource() const { return nullptr; }
  // Sends a data event to this dataset's data sources, links and nested datasets.
  virtual void DataEvent(TDataEvent event, intptr_t info);
  // Nested datasets whose dataset field belongs to this dataset.
  QList<TDataSet*>& NestedDataSets() { return nestedDataSets_; }
  // Told by the parent when the dataset field this nested dataset reads goes away (the parent
  // destroys its fields or itself): drop every link to the parent without calling into it.
  virtual void DetachFromParent() {}

  // Field data access (native forms); used by TField.
  virtual bool GetFieldData(const TField* field, void* buffer) = 0;
  virtual void SetFieldData(TField* field, const void* buffer) = 0;

  // A lookup dataset being destroyed is dropped from the lookup fields that read it.
  void Notification(TComponent* component, TOperation operation) override;

  // Raises "Cannot perform this operation on a closed dataset" when inactive.
  virtual void CheckActive();
  // Raises "Cannot perform this operation on an open dataset" when active.
  void CheckInactive();

 protected:
  // Record-buffer contract.
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) = 0;
  virtual int GetRecordSize() = 0;
  virtual TBookmark GetBookmarkData(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append) = 0;
  virtual void InternalClose() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  virtual void InternalHandleException() {}
  virtual void InternalInitFieldDefs() {}
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  virtual void InternalOpen() = 0;
  virtual void InternalPost() = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalRefresh() {}
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }
  virtual void DoSetRecNo(int) {}
  virtual bool GetCanModify() const { return true; }
  // Initialises a fresh record: InternalInitRecord, cleared calculated fields, bfInserted.
  virtual void InitRecord(TRecordBuffer buffer);
  virtual void ClearCalcFields(TRecordBuffer) {}

  // Event dispatchers (descendants add checks around them).
  virtual void DoBeforeOpen() { Fire(BeforeOpen); }
  virtual void DoAfterOpen() { Fire(AfterOpen); }
  virtual void DoBeforeClose() { Fire(BeforeClose); }
  virtual void DoAfterClose() { Fire(AfterClose); }
  virtual void DoBeforeInsert() { Fire(BeforeInsert); }
  virtual void DoAfterInsert() { Fire(AfterInsert); }
  virtual void DoBeforeEdit() { Fire(BeforeEdit); }
  virtual void DoAfterEdit() { Fire(AfterEdit); }
  virtual void DoBeforePost() { Fire(BeforePost); }
  virtual void DoAfterPost() { Fire(AfterPost); }
  virtual void DoBeforeCancel() { Fire(BeforeCancel); }
  virtual void DoAfterCancel() { Fire(AfterCancel); }
  virtual void DoBeforeDelete() { Fire(BeforeDelete); }
  virtual void DoAfterDelete() { Fire(AfterDelete); }
  virtual void DoBeforeScroll() { Fire(BeforeScroll); }
  virtual void DoAfterScroll() { Fire(AfterScroll); }
  virtual void DoOnNewRecord() { Fire(OnNewRecord); }
  // A delete failed after BeforeDelete ran (descendants undo what they prepared for it).
  virtual void DoDeleteFailed() {}
  virtual void DoOnCalcFields() { Fire(OnCalcFields); }

  // Opening and closing.
  virtual void OpenCursor(bool infoQuery);
  virtual void CloseCursor();
  // Finishes an open that OpenCursor left in the opening state.
  void OpenCursorComplete();
  void DoInternalOpen();
  void DoInternalClose();

  // The key-setting state: BeginKeyState leaves browse mode (an edit is posted first) and
  // enters dsSetKey, where field reads and writes address the dataset's key values;
  // EndKeyState returns to browse and tells the data links.
  void BeginKeyState();
  void EndKeyState();
  // What Post and Cancel do in dsSetKey before the state ends (nothing without key values).
  virtual void InternalPostKey() {}
  virtual void InternalCancelKey() {}
  // State changes; the temporary ones do not notify.
  void SetState(TDataSetState value);
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState value);
  void SetModified(bool value) { modified_ = value; }
  void SetBookmarkSize(int size) { bookmarkSize_ = size; }
  int BookmarkSize() const { return bookmarkSize_; }
  void SetDefaultFields(bool value) { defaultFields_ = value; }

  // Fields from definitions and their binding to the record layout.
  void CreateFields();
  // The field made for a definition that has no field yet (the field class of its type).
  virtual std::unique_ptr<TField> CreateDataField(const TFieldDef& def);
  void DestroyFields();
  void BindFields(bool binding);

  // Calculated fields of a buffer (runs OnCalcFields in the calculated-fields state).
  void GetCalcFields(TRecordBuffer buffer);
  TRecordBuffer CalcBuffer() const { return calcBuffer_; }

  // Buffer window operations.
  TRecordBuffer ActiveBuffer() const { return buffers_.empty() ? nullptr : buffers_[activeRecord_]; }
  TRecordBuffer TempBuffer() const { return buffers_[recordCount_]; }
  TRecordBuffer Buffer(int index) const { return buffers_[index]; }
  void ClearBuffers();
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void MoveBuffer(int curIndex, int newIndex);
  void SetCurrentRecord(int index);
  void CursorPosChanged() { currentRecord_ = -1; }
  void UpdateCursorPos();
  void SetBufferCount(int value);
  // Sizes the window for the widest data link.
  void UpdateBufferCount();
  // The record filter of GetRecord: OnFilterRecord in the filter state over buffer.
  bool FilterAccepts(TRecordBuffer buffer);
  TRecordBuffer FilterBuffer() const { return filterBuffer_; }

 private:
  friend class TDataSource;
  friend class TDataLink;
  friend class TField;
  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(*this);
  }
  void BeginInsertAppend();
  void EndInsertAppend();
  // Runs a record operation, offering its failure to the error event (retry, abort, fail).
  void CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& errorEvent);
  void CheckCanModify();
  void UpdateCalcFields(TField* field);
  void CalculateLookup(TField* field);
  void SetFieldsFromValues(const QVariantList& values);

  TFields fields_;
  TFieldDefs fieldDefs_;
  QList<TDataSource*> dataSources_;
  QList<TDataSet*> nestedDataSets_;
  std::vector<TRecordBuffer> buffers_;
  int bufferCount_ = 0;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  int currentRecord_ = -1;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool filtered_ = false;
  bool destroying_ = false;
  bool defaultFields_ = false;
  bool internalOpenComplete_ = false;
  TDataSetState state_ = TDataSetState::dsInactive;
  TDataSetState disableState_ = TDataSetState::dsInactive;
  TDataEvent enableEvent_ = TDataEvent::deDataSetChange;
  int disableCount_ = 0;
  int scanDepth_ = 0;
  uint64_t contentVersion_ = 0;
  int calcFieldsSize_ = 0;
  int bookmarkSize_ = 0;
  TRecordBuffer calcBuffer_ = nullptr;
  TRecordBuffer filterBuffer_ = nullptr;
};
