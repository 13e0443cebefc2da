// The memory dataset core: record layout, record buffers, GetRecord and stepping, posting,
// inserting, deleting, emptying, bookmarks, RecNo, field data and the Options checks.
#include "dataset/QxCustomMemDataSet.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <exception>

#include "dataset/QxDataSetErrors.h"

namespace {
int32_t ReadId(const char* p) {
  return qFromLittleEndian<int32_t>(reinterpret_cast<const uchar*>(p));
}
void WriteId(char* p, int32_t id) {
  qToLittleEndian<int32_t>(id, reinterpret_cast<uchar*>(p));
}
}  // namespace

TQxCustomMemDataSet::TQxCustomMemDataSet(TComponent* owner)
    : TDataSet(owner), aggregates_(this), masterLink_(this) {
  ObjectView = true;
  NestedDataSetClass = RegisteredNestedDataSetClass();
}

namespace {
TQxCustomMemDataSet::TNestedClass& NestedClassSlot() {
  static TQxCustomMemDataSet::TNestedClass maker;
  return maker;
}
}  // namespace

void TQxCustomMemDataSet::RegisterNestedDataSetClass(TNestedClass maker) {
  NestedClassSlot() = std::move(maker);
}

const TQxCustomMemDataSet::TNestedClass& TQxCustomMemDataSet::RegisteredNestedDataSetClass() {
  return NestedClassSlot();
}

TQxCustomMemDataSet::~TQxCustomMemDataSet() {
  // Close while the overrides still exist; the base destructor cannot call them.
  if (Active()) {
    try {
      Close();
    } catch (...) {
    }
  }
  aggregates_.Clear();
  masterLink_.SetDataSource(nullptr);
  if (scratch_) FreeRecordBuffer(scratch_);
}

void TQxCustomMemDataSet::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  CheckInactive();
  readOnly_ = value;
}

void TQxCustomMemDataSet::SetMasterSource(TDataSource* source) {
  if (source == masterLink_.DataSource()) return;
  if (source && source->DataSet() == this) DatabaseError(DbText::CircularDataLink, this);
  DataEvent(TDataEvent::dePropertyChange, 0);
  masterLink_.SetDataSource(source);
}

void TQxCustomMemDataSet::SetMasterFields(const QString& names) {
  if (names == masterLink_.FieldNames()) return;
  DataEvent(TDataEvent::dePropertyChange, 0);
  masterLink_.SetFieldNames(names);
}

void TQxCustomMemDataSet::SplitLinkFields() {
  SplitMasterFields();
  detailLinkFields_ = SplitFieldNames(indexFieldNames_);
}

void TQxCustomMemDataSet::SplitMasterFields() {
  masterLinkFields_ = SplitFieldNames(MasterFields());
}

// --- layout and buffers --------------------------------------------------------------------

bool TQxCustomMemDataSet::IsBlobLike(TFieldType type) {
  switch (type) {
    case ftVarBytes:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftDataSet:
      return true;
    default:
      return false;
  }
}

int TQxCustomMemDataSet::SlotWidth(TFieldType type, int size) {
  switch (type) {
    case ftString:
    case ftWideString:
      // A size too large for any record gives a width past the limit, never an overflow.
      return std::clamp(size, 0, kQxMaxRecordSize) + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftVarBytes:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftDataSet:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftLargeint:
      return 8;
    case ftGuid:
      return 38;
    // ftVariant's 4-byte slot cannot hold a variant: it is refused with the other types
    // rather than stored truncated.
    default:
      return 0;
  }
}

void TQxCustomMemDataSet::ComputeRecordLayout() {
  slots_.clear();
  int offset = 4;
  std::vector<std::pair<TFieldType, int>> layout;
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    TFieldDef* def = FieldDefs().Items(i);
    const int width = SlotWidth(def->DataType, def->Size);
    if (width == 0) RaiseNotSupportedError(QxFormat(QxText(QxMsg::UnsupportedFieldType), def->Name), this);
    // Summed in 64 bits: widths near the limit must not wrap the offsets around.
    const int64_t end = int64_t(offset) + width + 1;
    if (end > RecordLimit) {
      slots_.clear();
      RaiseNotSupportedError(DbText::RecordTooLarge.arg(RecordSizeOf(FieldDefs())).arg(RecordLimit), this);
    }
    slots_.push_back({offset, width, def->DataType});
    layout.emplace_back(def->DataType,
                        def->DataType == ftString || def->DataType == ftWideString ? def->Size : 0);
    offset += width + 1;
  }
  recordSize_ = offset;
  bookmarkOffset_ = recordSize_;
  calcOffset_ = recordSize_ + 8;
  // Records laid out for another structure would be misread: a store holding them is emptied.
  if (store_.Count() > 0 && layout != storeLayout_) {
    blobs_.ResetNextId();
    blobs_.Clear();
    store_.Clear();
    recordCount_ = 0;
    currentIndex_ = -1;
    nextBookmarkId_ = 1;
  }
  storeLayout_ = std::move(layout);
  store_.RecordSize = recordSize_;
}

int64_t TQxCustomMemDataSet::RecordSizeOf(const TFieldDefs& defs) {
  int64_t size = 4;
  for (int i = 0; i < defs.Count(); ++i) {
    const TFieldDef* def = defs.Items(i);
    const TFieldType type = def->DataType == ftBCD ? ftFloat : def->DataType;
    const bool text = type == ftString || type == ftWideString;
    size += (text ? int64_t(std::max(0, def->Size)) + 1 : SlotWidth(type, def->Size)) + 1;
  }
  return size;
}

int TQxCustomMemDataSet::FieldOffset(int fieldNo) const {
  if (fieldNo < 1 || fieldNo > int(slots_.size())) return -1;
  return slots_[fieldNo - 1].Offset;
}

TRecordBuffer TQxCustomMemDataSet::AllocRecordBuffer() {
  const size_t n = size_t(recordSize_) + 8 + size_t(CalcFieldsSize());
  TRecordBuffer b = new char[n];
  std::memset(b, 0, n);
  return b;
}

void TQxCustomMemDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

void TQxCustomMemDataSet::OpenMemoryCursor() {
  currentIndex_ = -1;
  if (store_.Count() == 0) nextBookmarkId_ = 1;
  SetBookmarkSize(4);
  for (int i = 0; i < FieldDefs().Count(); ++i)
    if (FieldDefs().Items(i)->DataType == ftBCD) FieldDefs().Items(i)->DataType = ftFloat;
  if (DefaultFields()) {
    CheckDefinitionNames(FieldDefs());
    CreateFields();
  }
  BindFields(true);
  ComputeRecordLayout();
  if (scratch_) FreeRecordBuffer(scratch_);
  scratch_ = AllocRecordBuffer();
  cursorOpen_ = FieldCount() > 0;
}

void TQxCustomMemDataSet::InternalOpen() {
  OpenMemoryCursor();
}

void TQxCustomMemDataSet::InternalClose() {
  if (EmptyOnClose) {
    blobs_.Clear();
    EmptyDataSet();
  }
  currentIndex_ = -1;
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  cursorOpen_ = false;
  blobUndo_.clear();
}

// --- GetRecord and stepping ----------------------------------------------------------------

TGetResult TQxCustomMemDataSet::CheckCurrent(TGetResult result) {
  return currentIndex_ >= 0 && currentIndex_ < RecordCount() ? result : TGetResult::grError;
}

TGetResult TQxCustomMemDataSet::StepNext(TGetResult result) {
  if (currentIndex_ < RecordCount() - 1) {
    ++currentIndex_;
    return result;
  }
  return TGetResult::grEOF;
}

TGetResult TQxCustomMemDataSet::StepPrior(TGetResult result) {
  if (currentIndex_ > 0) {
    --currentIndex_;
    return result;
  }
  currentIndex_ = -1;
  return TGetResult::grBOF;
}

bool TQxCustomMemDataSet::RecordAvailable(TRecordBuffer) {
  return true;
}

void TQxCustomMemDataSet::ReadRecordAt(TRecordBuffer buffer, int index) {
  store_.ReadRecord(buffer, index);
}

void TQxCustomMemDataSet::WriteRecordAt(TRecordBuffer buffer, int index) {
  store_.WriteRecord(buffer, index);
}

TGetResult TQxCustomMemDataSet::StepFor(TGetMode mode) {
  switch (mode) {
    case TGetMode::gmCurrent:
      return CheckCurrent(TGetResult::grOK);
    case TGetMode::gmNext:
      return StepNext(TGetResult::grOK);
    default:
      return StepPrior(TGetResult::grOK);
  }
}

TGetResult TQxCustomMemDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) {
  if (RecordCount() < 1) return TGetResult::grEOF;
  for (;;) {
    TGetResult result = StepFor(mode);
    if (result == TGetResult::grError && doCheck) throw EQxDataSetException(QxText(QxMsg::NoRecords));
    if (result != TGetResult::grOK) return result;
    if (!RecordAvailable(buffer)) return TGetResult::grEOF;
    ReadRecordAt(buffer, currentIndex_);
    WriteId(buffer + bookmarkOffset_, store_.BookmarkAt(currentIndex_));
    buffer[bookmarkOffset_ + 4] = char(TBookmarkFlag::bfCurrent);
    GetCalcFields(buffer);
    const bool accepted = !Filtered() || FilterAccepts(buffer);
    if (accepted) return TGetResult::grOK;
    if (mode == TGetMode::gmCurrent) return TGetResult::grError;
  }
}

// --- bookmarks -----------------------------------------------------------------------------

TBookmark TQxCustomMemDataSet::BookmarkOfId(int32_t id) {
  TBookmark b(4, '\0');
  WriteId(b.data(), id);
  return b;
}

int32_t TQxCustomMemDataSet::IdOfBookmark(const TBookmark& bookmark) {
  return bookmark.size() >= 4 ? ReadId(bookmark.constData()) : 0;
}

TBookmark TQxCustomMemDataSet::GetBookmarkData(TRecordBuffer buffer) {
  return TBookmark(buffer + bookmarkOffset_, 4);
}

void TQxCustomMemDataSet::SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) {
  WriteId(buffer + bookmarkOffset_, bookmark.isEmpty() ? 0 : IdOfBookmark(bookmark));
}

TBookmarkFlag TQxCustomMemDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return TBookmarkFlag(uint8_t(buffer[bookmarkOffset_ + 4]));
}

void TQxCustomMemDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[bookmarkOffset_ + 4] = char(flag);
}

bool TQxCustomMemDataSet::BookmarkValid(const TBookmark& bookmark) {
  return !bookmark.isEmpty() && IdOfBookmark(bookmark) >= 0;
}

int TQxCustomMemDataSet::CompareBookmarks(const TBookmark& first, const TBookmark& second) {
  if (first.isEmpty() && second.isEmpty()) return 0;
  if (first.isEmpty()) return 1;
  if (second.isEmpty()) return -1;
  const int64_t d = int64_t(IdOfBookmark(first)) - IdOfBookmark(second);
  return d < 0 ? -1 : d > 0 ? 1 : 0;
}

void TQxCustomMemDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  if (store_.Count() == 0) return;
  const int32_t id = IdOfBookmark(bookmark);
  const int i = store_.IndexOfBookmark(id);
  if (i < 0) RaiseBookmarkError(QxFormat(QxText(QxMsg::BookmarkNotFound), QString::number(id)), this);
  currentIndex_ = i;
}

void TQxCustomMemDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  InternalGotoBookmark(GetBookmarkData(buffer));
}

// --- records -------------------------------------------------------------------------------

void TQxCustomMemDataSet::InternalInitRecord(TRecordBuffer buffer) {
  for (const Slot& s : slots_) {
    std::memset(buffer + s.Offset, 0, s.Width);
    buffer[s.Offset + s.Width] = 1;
  }
}

void TQxCustomMemDataSet::InitRecord(TRecordBuffer buffer) {
  TDataSet::InitRecord(buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfInserted);
  buffer[bookmarkOffset_ + 5] = 2;
  blobUndo_.clear();
}

void TQxCustomMemDataSet::ClearCalcFields(TRecordBuffer buffer) {
  if (CalcFieldsSize() > 0) std::memset(buffer + calcOffset_, 0, CalcFieldsSize());
}

void TQxCustomMemDataSet::AppendEmptyRecord() {
  store_.AddRecord(-1);
  ++recordCount_;
}

void TQxCustomMemDataSet::InsertRecordAt(int index, TRecordBuffer buffer) {
  index = std::clamp(index, 0, store_.Count());
  store_.InsertItem(index, nextBookmarkId_);
  // The image goes where the item went (not to whatever the cursor points at), and the
  // cursor follows it so that the post's resync finds the new record.
  store_.WriteRecord(buffer, index);
  currentIndex_ = index;
  ++nextBookmarkId_;
  ++recordCount_;
}

void TQxCustomMemDataSet::InternalAddRecord(TRecordBuffer buffer, bool append) {
  if (append) currentIndex_ = recordCount_;
  const int index = std::clamp(currentIndex_, 0, store_.Count());
  store_.InsertItem(index, nextBookmarkId_);
  store_.WriteRecord(buffer, index);
  currentIndex_ = index;
  ++nextBookmarkId_;
  ++recordCount_;
}

int32_t TQxCustomMemDataSet::GetStoredFieldData(int recNo, TField* field) {
  if (currentIndex_ < 0 || store_.Count() == 0 || recNo > recordCount_ || !field) return 0;
  const int off = FieldOffset(field->FieldNo());
  if (off < 0) return 0;
  return store_.ReadRecordPart(currentIndex_, off, std::min(4, slots_[field->FieldNo() - 1].Width));
}

void TQxCustomMemDataSet::CheckNestedValues() {
  for (int i = 0; i < FieldCount(); ++i) {
    auto* field = dynamic_cast<TDataSetField*>(Fields().Fields(i));
    if (!field || field->FieldNo() < 1 || field->IsNull()) continue;
    auto* nested = dynamic_cast<TQxCustomMemDataSet*>(field->NestedDataSet());
    if (!nested || !nested->Active()) continue;
    const int32_t id = GetBlobId(field);
    const TMemoryStream* value = id >= 0 ? blobs_.ValueStream(id, field->FieldNo()) : nullptr;
    if (!value || value->Size() == 0) continue;
    if (!nested->HoldsLayoutOf(value->Bytes(), nested->FieldDefs()))
      RaiseNotValidError(QxText(QxMsg::SourceNotValid), this);
  }
}

void TQxCustomMemDataSet::InternalPost() {
  CheckActive();
  if (constraints_.Count() > 0) CheckConstraints();
  // A nested value the open nested dataset cannot load would be stored, then refused on
  // every scroll onto this record: it is refused here, while the record can still be fixed.
  if (!NestedDataSets().isEmpty()) CheckNestedValues();
  if (currentIndex_ < 0) currentIndex_ = 0;
  if (State() == TDataSetState::dsEdit) {
    WriteRecordAt(ActiveBuffer(), currentIndex_);
  } else if (State() == TDataSetState::dsInsert) {
    // An appended record is posted at the end whatever the cursor did meanwhile; an inserted
    // one goes before the record it was inserted at.
    const bool append = GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfEOF;
    InsertRecordAt(append ? recordCount_ : currentIndex_, ActiveBuffer());
  }
  blobUndo_.clear();
}

void TQxCustomMemDataSet::InternalCancel() {
  UndoBlobWrites();
}

void TQxCustomMemDataSet::DoAfterCancel() {
  TDataSet::DoAfterCancel();
}

void TQxCustomMemDataSet::InternalDelete() {
  if (currentIndex_ < 0) currentIndex_ = 0;
  if (currentIndex_ >= store_.Count()) return;
  for (int i = int(slots_.size()) - 1; i >= 0; --i) {
    if (!IsBlobLike(slots_[i].Type)) continue;
    const int32_t id = store_.ReadRecordPart(currentIndex_, slots_[i].Offset, 4);
    blobs_.DeleteBlob(id, i + 1);
  }
  store_.Delete(currentIndex_);
  --recordCount_;
  if (recordCount_ == 0)
    currentIndex_ = -1;
  else if (currentIndex_ >= recordCount_)
    currentIndex_ = recordCount_ - 1;
}

void TQxCustomMemDataSet::EmptyDataSet() {
  const bool active = Active();
  if (active) {
    Cancel();
    First();
  }
  DisableControls();
  blobs_.ResetNextId();
  blobs_.Clear();
  recordCount_ = 0;
  currentIndex_ = -1;
  store_.Clear();
  nextBookmarkId_ = 1;
  blobUndo_.clear();
  ContentChanged();
  if (active) Resync({});
  EnableControls();
}

// --- RecNo ---------------------------------------------------------------------------------

int TQxCustomMemDataSet::GetRecNo() {
  CheckActive();
  UpdateCursorPos();
  if (!Filtered()) return currentIndex_ + 1;
  if (IsEmpty() || currentIndex_ < 0) return 0;
  const int saved = currentIndex_;
  int count = 0;
  const TDataSetState st = SetTempState(TDataSetState::dsBrowse);
  try {
    currentIndex_ = -1;
    while (GetRecord(scratch_, TGetMode::gmNext, false) == TGetResult::grOK) {
      ++count;
      if (currentIndex_ >= saved) break;
    }
  } catch (...) {
    currentIndex_ = saved;
    RestoreState(st);
    throw;
  }
  currentIndex_ = saved;
  RestoreState(st);
  return count;
}

void TQxCustomMemDataSet::DoSetRecNo(int value) {
  CheckBrowseMode();
  if (value < 1) return;
  const int saved = currentIndex_;
  if (!Filtered()) {
    if (value > recordCount_) return;
    currentIndex_ = value - 1;
  } else {
    currentIndex_ = -1;
    int n = 0;
    bool found = false;
    while (GetRecord(scratch_, TGetMode::gmNext, false) == TGetResult::grOK)
      if (++n == value) {
        found = true;
        break;
      }
    if (!found) {
      currentIndex_ = saved;
      return;
    }
  }
  // The buffers follow the new position, so fields show the record RecNo names.
  DoBeforeScroll();
  const int target = currentIndex_;
  currentIndex_ = target;
  Resync(TResyncModeFlag::rmCenter);
  DoAfterScroll();
}

// --- field data ----------------------------------------------------------------------------

TRecordBuffer TQxCustomMemDataSet::ActiveRecordBuffer() const {
  switch (State()) {
    case TDataSetState::dsBrowse:
    case TDataSetState::dsBlockRead:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      return ActiveBuffer();
    case TDataSetState::dsCalcFields:
      return CalcBuffer();
    case TDataSetState::dsFilter:
      return FilterBuffer();
    default:
      return nullptr;
  }
}

bool TQxCustomMemDataSet::GetFieldData(const TField* field, void* buffer) {
  TRecordBuffer rec = ActiveRecordBuffer();
  if (!rec || !field) return false;
  if (field->FieldKind == TFieldKind::fkData && field->FieldNo() >= 1) {
    const int n = field->FieldNo();
    if (n > int(slots_.size())) return false;
    const Slot& s = slots_[n - 1];
    const bool hasValue = rec[s.Offset + s.Width] == 0;
    if (!buffer) return hasValue;
    if (!hasValue) return false;
    if (IsBlobLike(s.Type)) return false;
    std::memcpy(buffer, rec + s.Offset, s.Width);
    return true;
  }
  if (field->Calculated()) {
    const char* p = rec + calcOffset_ + field->Offset();
    // Whether a calculated value exists is its has-value byte, with or without a destination.
    if (p[0] == 0) return false;
    if (buffer) std::memcpy(buffer, p + 1, field->DataSize());
    return true;
  }
  return false;
}

void TQxCustomMemDataSet::SetFieldData(TField* field, const void* buffer) {
  switch (State()) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsSetKey:
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsFilter:
    case TDataSetState::dsNewValue:
    case TDataSetState::dsInternalCalc:
      break;
    default:
      RaiseNoModeError(QxText(QxMsg::NotEditOrInsertMode), this);
  }
  TRecordBuffer rec = ActiveRecordBuffer();
  if (!rec || !field) return;
  if (field->FieldKind == TFieldKind::fkData && field->FieldNo() >= 1) {
    const int n = field->FieldNo();
    if (n > int(slots_.size())) return;
    const Slot& s = slots_[n - 1];
    if (buffer) std::memcpy(rec + s.Offset, buffer, s.Width);
    rec[s.Offset + s.Width] = buffer ? 0 : 1;
  } else if (field->Calculated()) {
    char* p = rec + calcOffset_ + field->Offset();
    p[0] = buffer ? 1 : 0;
    if (buffer) std::memcpy(p + 1, buffer, field->DataSize());
  } else {
    return;
  }
  DataEvent(TDataEvent::deFieldChange, reinterpret_cast<intptr_t>(field));
}

// --- events --------------------------------------------------------------------------------

void TQxCustomMemDataSet::DoBeforeInsert() {
  if (Options.testFlag(TQxMemOption::opDisableInserts))
    RaiseDisabledError(QxText(QxMsg::InsertNotAllowed), this);
  TDataSet::DoBeforeInsert();
}

void TQxCustomMemDataSet::DoBeforeDelete() {
  if (Options.testFlag(TQxMemOption::opDisableDeletes))
    RaiseDisabledError(QxText(QxMsg::DeleteNotAllowed), this);
  TDataSet::DoBeforeDelete();
}

void TQxCustomMemDataSet::DoBeforeEdit() {
  if (Options.testFlag(TQxMemOption::opDisableEdits)) RaiseDisabledError(QxText(QxMsg::EditNotAllowed), this);
  blobUndo_.clear();
  TDataSet::DoBeforeEdit();
}

void TQxCustomMemDataSet::DoBeforeScroll() {
  if (scrollEvents_ && Active()) TDataSet::DoBeforeScroll();
}

void TQxCustomMemDataSet::DoAfterScroll() {
  if (scrollEvents_ && Active()) TDataSet::DoAfterScroll();
}

void TQxCustomMemDataSet::DoAfterOpen() {
  TDataSet::DoAfterOpen();
  if (!Active()) return;
  const QList<TDataSet*> waiting = waitingNested_;
  waitingNested_.clear();
  // Every waiting nested dataset gets its chance; the first failure is raised afterwards.
  std::exception_ptr failure;
  for (TDataSet* nested : waiting) {
    try {
      nested->Open();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  Resync({});
  if (failure) std::rethrow_exception(failure);
}

void TQxCustomMemDataSet::DataEvent(TDataEvent event, intptr_t info) {
  TDataSet::DataEvent(event, info);
  if (event == TDataEvent::deCheckBrowseMode) {
    const QList<TDataSet*> nested = NestedDataSets();
    for (TDataSet* n : nested)
      if (auto* mem = dynamic_cast<TQxCustomMemDataSet*>(n)) mem->FlushToParent();
  }
}

// --- constraints ---------------------------------------------------------------------------

void TQxCustomMemDataSet::CheckConstraints() {
  for (int i = 0; i < constraints_.Count(); ++i) {
    const TQorixConstraintItem& c = constraints_.Items(i);
    const QVariant v = FieldByName(c.FieldName)->Value();
    // A null on either side compares as unordered: only "<>" holds then, and two nulls are equal.
    const QPartialOrdering ord = QVariant::compare(v, c.Value);
    const bool bothNull = v.isNull() && c.Value.isNull();
    bool ok = false;
    if (c.Operator == QLatin1String("="))
      ok = bothNull || ord == QPartialOrdering::Equivalent;
    else if (c.Operator == QLatin1String("<"))
      ok = ord == QPartialOrdering::Less;
    else if (c.Operator == QLatin1String(">"))
      ok = ord == QPartialOrdering::Greater;
    else if (c.Operator == QLatin1String("<="))
      ok = ord == QPartialOrdering::Less || ord == QPartialOrdering::Equivalent;
    else if (c.Operator == QLatin1String(">="))
      ok = ord == QPartialOrdering::Greater || ord == QPartialOrdering::Equivalent;
    else if (c.Operator == QLatin1String("<>"))
      ok = !bothNull && ord != QPartialOrdering::Equivalent;
    if (!ok) RaiseNotValidError(c.ErrorMessage, this);
  }
}

// --- structure -----------------------------------------------------------------------------

void TQxCustomMemDataSet::CopyStructure(TDataSet& source) {
  const bool wasActive = Active();
  if (wasActive) {
    EmptyDataSet();
    Close();
  }
  FieldDefs().Assign(source.FieldDefs());
  if (wasActive) Open();
}

void TQxCustomMemDataSet::CheckDefinitionNames(const TFieldDefs& defs) {
  for (int i = 0; i < defs.Count(); ++i)
    if (const TField* f = FindField(defs.Items(i)->Name); f && f->FieldKind != TFieldKind::fkData)
      DatabaseError(DbText::DuplicateFieldName.arg(defs.Items(i)->Name), this);
}
