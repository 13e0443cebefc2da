// The dataset state machine, the buffer window (GetNextRecord/GetPriorRecord/Resync/MoveBy),
// editing, calculated and lookup fields, data events and the controls switch.
#include "dataset/DataSet.h"

#include <algorithm>

#include "dataset/DataSource.h"
#include "dataset/QxDataSetErrors.h"

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), fields_(this), fieldDefs_(this) {}

TDataSet::~TDataSet() {
  destroying_ = true;
  // Nested datasets read fields of this dataset: they let go before the fields are destroyed.
  const QList<TDataSet*> nested = nestedDataSets_;
  nestedDataSets_.clear();
  for (TDataSet* n : nested) n->DetachFromParent();
  // Descendants close themselves in their own destructors (InternalClose is theirs); what is
  // left here detaches the data sources, whose links hear that they went inactive, so that
  // nothing keeps pointers to this dataset's fields.
  const QList<TDataSource*> sources = dataSources_;
  for (TDataSource* ds : sources) ds->SetDataSet(nullptr);
  dataSources_.clear();
}

// --- open and close ------------------------------------------------------------------------

void TDataSet::SetActive(bool value) {
  // A dataset left opening (a nested dataset waiting for its parent) is not active, but
  // closing it must still end the wait.
  if (!value && state_ == TDataSetState::dsOpening) {
    if (!destroying_) DoBeforeClose();
    SetState(TDataSetState::dsInactive);
    CloseCursor();
    if (!destroying_) DoAfterClose();
    return;
  }
  if (value == Active()) return;
  if (value) {
    DoBeforeOpen();
    try {
      OpenCursor(false);
    } catch (...) {
      if (state_ != TDataSetState::dsOpening) {
        SetState(TDataSetState::dsInactive);
        CloseCursor();
      }
      throw;
    }
    if (state_ != TDataSetState::dsOpening) OpenCursorComplete();
  } else {
    if (!destroying_) DoBeforeClose();
    // Nested datasets show fields of this dataset's record: they close with it.
    const QList<TDataSet*> nested = nestedDataSets_;
    for (TDataSet* n : nested)
      if (nestedDataSets_.contains(n) && n->Active()) n->Close();
    SetState(TDataSetState::dsInactive);
    CloseCursor();
    if (!destroying_) DoAfterClose();
  }
}

void TDataSet::OpenCursor(bool infoQuery) {
  if (infoQuery)
    InternalInitFieldDefs();
  else if (state_ != TDataSetState::dsOpening)
    DoInternalOpen();
}

void TDataSet::OpenCursorComplete() {
  try {
    if (state_ == TDataSetState::dsOpening) DoInternalOpen();
  } catch (...) {
    state_ = TDataSetState::dsInactive;
    CloseCursor();
    throw;
  }
  if (internalOpenComplete_) {
    SetState(TDataSetState::dsBrowse);
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
  } else {
    SetState(TDataSetState::dsInactive);
    CloseCursor();
  }
}

void TDataSet::DoInternalOpen() {
  internalOpenComplete_ = false;
  // Default fields are made from the definitions when no data field was created beforehand.
  defaultFields_ = true;
  for (int i = 0; i < fields_.Count(); ++i)
    if (fields_.Fields(i)->FieldKind == TFieldKind::fkData) defaultFields_ = false;
  InternalOpen();
  internalOpenComplete_ = true;
  UpdateBufferCount();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  DoInternalClose();
  internalOpenComplete_ = false;
}

void TDataSet::DoInternalClose() {
  ClearBuffers();
  SetBufferCount(0);
  if (IsCursorOpen() || internalOpenComplete_) InternalClose();
}

void TDataSet::CheckActive() {
  if (!Active()) DatabaseError(DbText::DataSetClosed, this);
}

void TDataSet::CheckInactive() {
  if (Active()) DatabaseError(DbText::DataSetOpen, this);
}

// --- fields --------------------------------------------------------------------------------

void TDataSet::CreateFields() {
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    TFieldDef* def = fieldDefs_.Items(i);
    if (fields_.FindField(def->Name)) continue;
    std::unique_ptr<TField> f = CreateDataField(*def);
    if (!f) DatabaseError(QStringLiteral("Field '%1' is of an unknown type").arg(def->Name), this);
    f->FieldName = def->Name;
    f->Required = def->Required;
    fields_.Add(std::move(f));
  }
}

std::unique_ptr<TField> TDataSet::CreateDataField(const TFieldDef& def) {
  return CreateFieldForType(def.DataType, def.Size);
}

void TDataSet::DestroyFields() {
  for (int i = fields_.Count() - 1; i >= 0; --i) {
    TField* f = fields_.Fields(i);
    if (f->FieldKind == TFieldKind::fkData) fields_.Remove(f);
  }
}

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  for (int i = 0; i < fields_.Count(); ++i) {
    TField* f = fields_.Fields(i);
    if (!binding) {
      f->fieldNo_ = 0;
      f->offset_ = 0;
      continue;
    }
    if (f->FieldKind == TFieldKind::fkData) {
      const int def = fieldDefs_.IndexOf(f->FieldName);
      if (def < 0) DatabaseError(DbText::FieldNotFound.arg(f->FieldName), this);
      f->fieldNo_ = def + 1;
      if (f->DataType() != fieldDefs_.Items(def)->DataType && !f->KeepsOwnType()) {
        // A BCD definition opens as a float in the memory datasets; a field made for the
        // old type follows the definition.
        f->dataType_ = fieldDefs_.Items(def)->DataType;
      }
    } else {
      f->fieldNo_ = 0;
      // The lookup dataset may go first: it then tells this one, which forgets it.
      if (f->FieldKind == TFieldKind::fkLookup && f->LookupDataSet) FreeNotification(f->LookupDataSet);
      if (f->Calculated()) {
        f->offset_ = calcFieldsSize_;
        calcFieldsSize_ += f->DataSize() + 1;
      }
    }
  }
}

void TDataSet::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  for (int i = 0; i < fields_.Count(); ++i)
    if (fields_.Fields(i)->LookupDataSet == component) fields_.Fields(i)->LookupDataSet = nullptr;
}

QList<TField*> TDataSet::GetFieldList(const QString& names) const {
  QList<TField*> out;
  for (const QString& n : SplitFieldNames(names)) out << FieldByName(n);
  return out;
}

QVariant TDataSet::FieldValues(const QString& names) const {
  const QList<TField*> list = GetFieldList(names);
  if (list.size() == 1) return list.first()->Value();
  QVariantList values;
  for (TField* f : list) values << f->Value();
  return values;
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  bool any = calcFieldsSize_ > 0;
  if (!any) return;
  const TDataSetState saved = SetTempState(TDataSetState::dsCalcFields);
  TRecordBuffer savedCalc = calcBuffer_;
  calcBuffer_ = buffer;
  try {
    ClearCalcFields(buffer);
    for (int i = 0; i < fields_.Count(); ++i)
      if (fields_.Fields(i)->FieldKind == TFieldKind::fkLookup) CalculateLookup(fields_.Fields(i));
    DoOnCalcFields();
  } catch (...) {
    calcBuffer_ = savedCalc;
    RestoreState(saved);
    throw;
  }
  calcBuffer_ = savedCalc;
  RestoreState(saved);
}

void TDataSet::CalculateLookup(TField* field) {
  if (!field->LookupDataSet || !field->LookupDataSet->Active()) return;
  const QVariant key = FieldValues(field->KeyFields);
  const QVariant value = field->LookupDataSet->Lookup(field->LookupKeyFields, key, field->LookupResultField);
  if (!value.isNull()) field->SetValue(value);
}

void TDataSet::UpdateCalcFields(TField* field) {
  if (calcFieldsSize_ == 0 || !AutoCalcFields || !field || field->FieldKind != TFieldKind::fkData) return;
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  GetCalcFields(ActiveBuffer());
}

// --- state ---------------------------------------------------------------------------------

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  ++contentVersion_;
  DataEvent(TDataEvent::deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  const TDataSetState old = state_;
  state_ = value;
  ++disableCount_;
  return old;
}

void TDataSet::RestoreState(TDataSetState value) {
  state_ = value;
  --disableCount_;
}

void TDataSet::SetFiltered(bool value) {
  if (filtered_ == value) return;
  filtered_ = value;
  ++contentVersion_;
  if (Active()) {
    CheckBrowseMode();
    First();
  }
}

bool TDataSet::FilterAccepts(TRecordBuffer buffer) {
  if (!OnFilterRecord) return true;
  bool accept = true;
  const TDataSetState saved = SetTempState(TDataSetState::dsFilter);
  TRecordBuffer savedFilter = filterBuffer_;
  filterBuffer_ = buffer;
  try {
    OnFilterRecord(*this, accept);
  } catch (...) {
    filterBuffer_ = savedFilter;
    RestoreState(saved);
    throw;
  }
  filterBuffer_ = savedFilter;
  RestoreState(saved);
  return accept;
}

// --- the buffer window ---------------------------------------------------------------------

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  recordCount_ = 1;
  activeRecord_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  TRecordBuffer b = buffers_[curIndex];
  buffers_.erase(buffers_.begin() + curIndex);
  buffers_.insert(buffers_.begin() + newIndex, b);
}

void TDataSet::SetCurrentRecord(int index) {
  if (currentRecord_ == index) return;
  switch (GetBookmarkFlag(buffers_[index])) {
    case TBookmarkFlag::bfCurrent:
    case TBookmarkFlag::bfInserted:
      InternalSetToRecord(buffers_[index]);
      break;
    case TBookmarkFlag::bfBOF:
      InternalFirst();
      break;
    case TBookmarkFlag::bfEOF:
      InternalLast();
      break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = TGetMode::gmNext;
  if (recordCount_ > 0) {
    SetCurrentRecord(recordCount_ - 1);
    // An insert whose record sits in the last buffer already holds the cursor's record.
    if (state_ == TDataSetState::dsInsert && currentRecord_ == activeRecord_ &&
        GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfCurrent)
      mode = TGetMode::gmCurrent;
  }
  const bool ok = GetRecord(buffers_[recordCount_], mode, true) == TGetResult::grOK;
  if (ok) {
    if (recordCount_ == 0)
      ActivateBuffers();
    else if (recordCount_ < bufferCount_)
      ++recordCount_;
    else
      MoveBuffer(0, recordCount_);
    currentRecord_ = recordCount_ - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  const bool ok = GetRecord(buffers_[recordCount_], TGetMode::gmPrior, true) == TGetResult::grOK;
  if (ok) {
    if (recordCount_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(recordCount_, 0);
      if (recordCount_ < bufferCount_) {
        ++recordCount_;
        ++activeRecord_;
      }
    }
    currentRecord_ = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++n;
  return n;
}

void TDataSet::SetBufferCount(int value) {
  if (value == bufferCount_ && (value == 0 || int(buffers_.size()) == value + 1)) return;
  if (value < bufferCount_ && recordCount_ > 0) {
    // Keep the active record inside the smaller window: drop buffers from the top first.
    const int drop = std::max(0, activeRecord_ - (value - 1));
    for (int i = 0; i < drop; ++i) MoveBuffer(0, int(buffers_.size()) - 1);
    activeRecord_ -= drop;
    recordCount_ -= drop;
    if (recordCount_ > value) recordCount_ = value;
  }
  const size_t want = value > 0 ? size_t(value) + 1 : 0;
  while (buffers_.size() > want) {
    TRecordBuffer b = buffers_.back();
    buffers_.pop_back();
    FreeRecordBuffer(b);
  }
  while (buffers_.size() < want) buffers_.push_back(AllocRecordBuffer());
  bufferCount_ = value;
  if (value == 0) {
    ClearBuffers();
    return;
  }
  if (activeRecord_ >= value) activeRecord_ = value - 1;
  if (recordCount_ > 0 && state_ != TDataSetState::dsInactive) {
    GetNextRecords();
    if (recordCount_ < bufferCount_) GetPriorRecords();
  } else if (recordCount_ == 0 && internalOpenComplete_ &&
             (state_ == TDataSetState::dsInactive || state_ == TDataSetState::dsOpening ||
              state_ == TDataSetState::dsBrowse)) {
    // The first window of a cursor just opened: AfterOpen handlers (and nested datasets opened
    // there) read the first record, not an empty buffer.
    GetNextRecords();
  }
}

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen() && !internalOpenComplete_) return;
  int wanted = 1;
  for (TDataSource* src : dataSources_)
    for (TDataLink* link : src->links_) wanted = std::max(wanted, link->BufferCount());
  SetBufferCount(wanted);
}

void TDataSet::Resync(TResyncMode mode) {
  if (mode.testFlag(TResyncModeFlag::rmExact)) {
    CursorPosChanged();
    if (GetRecord(buffers_[recordCount_], TGetMode::gmCurrent, true) != TGetResult::grOK)
      DatabaseError(DbText::RecordNotFound, this);
  } else if (GetRecord(buffers_[recordCount_], TGetMode::gmCurrent, false) != TGetResult::grOK &&
             GetRecord(buffers_[recordCount_], TGetMode::gmNext, false) != TGetResult::grOK &&
             GetRecord(buffers_[recordCount_], TGetMode::gmPrior, false) != TGetResult::grOK) {
    ClearBuffers();
    DataEvent(TDataEvent::deDataSetChange, 0);
    return;
  }
  int count = mode.testFlag(TResyncModeFlag::rmCenter) ? (bufferCount_ - 1) / 2 : activeRecord_;
  MoveBuffer(recordCount_, 0);
  ActivateBuffers();
  // GetRecord above left the cursor on the record now in buffer 0.
  currentRecord_ = 0;
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  DataEvent(TDataEvent::deDataSetChange, 0);
}

// --- navigation ----------------------------------------------------------------------------

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  DataEvent(TDataEvent::deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  eof_ = true;
  DataEvent(TDataEvent::deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int result = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    const int oldCount = recordCount_;
    int scroll = 0;
    auto finish = [&] {
      if (recordCount_ != oldCount)
        DataEvent(TDataEvent::deDataSetChange, 0);
      else
        DataEvent(TDataEvent::deDataSetScroll, scroll);
    };
    try {
      while (distance > 0) {
        if (activeRecord_ < recordCount_ - 1) {
          ++activeRecord_;
        } else {
          const int shift = recordCount_ < bufferCount_ ? 0 : 1;
          if (GetNextRecord()) {
            scroll -= shift;
          } else {
            eof_ = true;
            break;
          }
        }
        --distance;
        ++result;
      }
      while (distance < 0) {
        if (activeRecord_ > 0) {
          --activeRecord_;
        } else {
          const int shift = recordCount_ < bufferCount_ ? 0 : 1;
          if (GetPriorRecord()) {
            scroll += shift;
          } else {
            bof_ = true;
            break;
          }
        }
        ++distance;
        --result;
      }
    } catch (...) {
      finish();
      throw;
    }
    finish();
    DoAfterScroll();
  }
  return result;
}

TBookmark TDataSet::Bookmark() {
  if ((state_ == TDataSetState::dsBrowse || state_ == TDataSetState::dsEdit ||
       state_ == TDataSetState::dsInsert) &&
      !IsEmpty() && GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfCurrent)
    return GetBookmarkData(ActiveBuffer());
  return {};
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.isEmpty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark);
  Resync(TResyncModeFlag::rmExact | TResyncModeFlag::rmCenter);
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark&) {
  return false;
}

int TDataSet::CompareBookmarks(const TBookmark&, const TBookmark&) {
  return 0;
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  ++contentVersion_;
  Resync({});
}

// --- editing -------------------------------------------------------------------------------

void TDataSet::CheckCanModify() {
  if (!CanModify()) DatabaseError(DbText::DataSetReadOnly, this);
}

void TDataSet::CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& errorEvent) {
  for (;;) {
    try {
      UpdateCursorPos();
      (this->*operation)();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = TDataAction::daFail;
      if (errorEvent) errorEvent(*this, e, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) Abort();
    } catch (Exception& e) {
      // The suite's usage exceptions are not database errors, but the error events see them
      // through the same channel so that a handler can retry or abort.
      if (!errorEvent) throw;
      EDatabaseError wrapped(e.Message());
      TDataAction action = TDataAction::daFail;
      errorEvent(*this, wrapped, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) Abort();
    }
  }
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfInserted);
}

void TDataSet::Edit() {
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  CheckOperation(&TDataSet::InternalEdit, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(TDataSetState::dsEdit);
  DataEvent(TDataEvent::deRecordChange, 0);
  DoAfterEdit();
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(TDataSetState::dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    SetState(TDataSetState::dsBrowse);
    Resync({});
    throw;
  }
  modified_ = false;
  DataEvent(TDataEvent::deDataSetChange, 0);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  const TBookmark oldCurrent = Bookmark();
  MoveBuffer(recordCount_, activeRecord_);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (recordCount_ == 0)
    SetBookmarkFlag(buffer, TBookmarkFlag::bfBOF);
  else
    SetBookmarkData(buffer, oldCurrent);
  if (recordCount_ < bufferCount_) ++recordCount_;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfEOF);
  recordCount_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::BeginKeyState() {
  CheckBrowseMode();
  SetState(TDataSetState::dsSetKey);
}

void TDataSet::EndKeyState() {
  SetState(TDataSetState::dsBrowse);
  DataEvent(TDataEvent::deDataSetChange, 0);
}

void TDataSet::Post() {
  if (state_ == TDataSetState::dsSetKey) {
    UpdateRecord();
    InternalPostKey();
    EndKeyState();
    return;
  }
  UpdateRecord();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  DoBeforePost();
  CheckOperation(&TDataSet::InternalPost, OnPostError);
  SetState(TDataSetState::dsBrowse);
  Resync({});
  DoAfterPost();
}

void TDataSet::Cancel() {
  if (state_ == TDataSetState::dsSetKey) {
    InternalCancelKey();
    EndKeyState();
    return;
  }
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  DoBeforeCancel();
  const bool scrollEvents = state_ == TDataSetState::dsInsert;
  if (scrollEvents) DoBeforeScroll();
  UpdateCursorPos();
  InternalCancel();
  SetState(TDataSetState::dsBrowse);
  Resync({});
  DoAfterCancel();
  if (scrollEvents) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) {
    Cancel();
    return;
  }
  // A dataset that cannot be changed refuses a delete as it refuses an edit or an insert.
  CheckCanModify();
  if (recordCount_ == 0) DatabaseError(DbText::DataSetEmpty, this);
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  DoBeforeDelete();
  try {
    DoBeforeScroll();
    CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
  } catch (...) {
    DoDeleteFailed();
    throw;
  }
  ++contentVersion_;
  SetState(TDataSetState::dsBrowse);
  Resync({});
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::SetFieldsFromValues(const QVariantList& values) {
  // Values go to the data fields in order; calculated and aggregate fields take none.
  int v = 0;
  for (int i = 0; i < fields_.Count() && v < values.size(); ++i) {
    TField* f = fields_.Fields(i);
    if (f->FieldKind != TFieldKind::fkData) continue;
    f->SetValue(values[v++]);
  }
}

void TDataSet::AppendRecord(const QVariantList& values) {
  Append();
  try {
    SetFieldsFromValues(values);
    Post();
  } catch (...) {
    Cancel();
    throw;
  }
}

void TDataSet::InsertRecord(const QVariantList& values) {
  Insert();
  try {
    SetFieldsFromValues(values);
    Post();
  } catch (...) {
    Cancel();
    throw;
  }
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  switch (state_) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      UpdateRecord();
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case TDataSetState::dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::UpdateRecord() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert &&
      state_ != TDataSetState::dsSetKey)
    DatabaseError(DbText::NotEditing, this);
  DataEvent(TDataEvent::deUpdateRecord, 0);
}

// --- searching (descendants implement them) ------------------------------------------------

bool TDataSet::Locate(const QString&, const QVariant&, TLocateOptions) {
  return false;
}

QVariant TDataSet::Lookup(const QString&, const QVariant&, const QString&) {
  return {};
}

bool TDataSet::FindRecord(bool, bool) {
  return false;
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) {
  return nullptr;
}

// --- data events and controls --------------------------------------------------------------

void TDataSet::DisableControls() {
  if (disableCount_ == 0) {
    disableState_ = state_;
    enableEvent_ = TDataEvent::deDataSetChange;
  }
  ++disableCount_;
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ != 0) return;
  if (disableState_ != state_) DataEvent(TDataEvent::deUpdateState, 0);
  if (disableState_ != TDataSetState::dsInactive && state_ != TDataSetState::dsInactive)
    DataEvent(enableEvent_, 0);
}

void TDataSet::EndScan() {
  try {
    EnableControls();
  } catch (...) {
    --scanDepth_;
    throw;
  }
  --scanDepth_;
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  switch (event) {
    case TDataEvent::deFieldChange: {
      TField* f = reinterpret_cast<TField*>(info);
      if (f && (f->FieldKind == TFieldKind::fkData || f->FieldKind == TFieldKind::fkInternalCalc))
        modified_ = true;
      if (f && state_ != TDataSetState::dsCalcFields) f->Change();
      UpdateCalcFields(f);
      break;
    }
    case TDataEvent::deCheckBrowseMode:
      for (TDataSet* nested : nestedDataSets_)
        if (nested->Active()) nested->CheckBrowseMode();
      break;
    default:
      break;
  }
  if (!ControlsDisabled() && state_ != TDataSetState::dsBlockRead) {
    const QList<TDataSource*> sources = dataSources_;
    for (TDataSource* src : sources) src->DataEvent(event, info);
    if (event == TDataEvent::deDataSetChange || event == TDataEvent::deDataSetScroll) {
      const QList<TDataSet*> nested = nestedDataSets_;
      for (TDataSet* n : nested)
        if (n->Active()) n->DataEvent(TDataEvent::deParentScroll, 0);
    }
  } else if ((event == TDataEvent::deUpdateState && state_ == TDataSetState::dsInactive) ||
             event == TDataEvent::deLayoutChange) {
    enableEvent_ = TDataEvent::deLayoutChange;
  }
}
