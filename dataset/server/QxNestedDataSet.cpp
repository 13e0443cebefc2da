// The nested dataset's binding to its parent field: opening (at once or after the parent),
// reloading on the parent's scrolls, writing back on the parent's check-browse-mode, and the
// parent edit a nested change starts. Also the nested-field list of the server datasets.
#include "dataset/server/QxNestedDataSet.h"

#include "dataset/QxDataSetErrors.h"

namespace {
// Enables controls again on every way out of a scope.
struct ControlsGuard {
  explicit ControlsGuard(TDataSet* ds) : ds_(ds) { ds_->DisableControls(); }
  ~ControlsGuard() { ds_->EnableControls(); }
  TDataSet* ds_;
};
// Memory datasets make their nested datasets of this class.
const bool nestedClassRegistered = [] {
  TQxCustomMemDataSet::RegisterNestedDataSetClass([](TDataSetField& field) {
    auto made = std::make_unique<TQxNestedDataSet>();
    made->SetDataSetField(&field);
    return std::unique_ptr<TDataSet>(std::move(made));
  });
  return true;
}();
}  // namespace

TQxNestedDataSet::TQxNestedDataSet(TComponent* owner) : TQxBaseClientDataSet(owner) {
  StoreDefs = true;
  EmptyOnClose = true;
}

TQxNestedDataSet::~TQxNestedDataSet() {
  // Close while this class's overrides still run (a parent in edit is posted then).
  try {
    Close();
  } catch (...) {
  }
  LeaveWaitingList();
  try {
    SetDataSetField(nullptr);
  } catch (...) {
  }
}

void TQxNestedDataSet::CheckDataSetField() {
  if (!dataSetField_ || !parent_) RaiseDataSetError(QxText(QxMsg::DataSetFieldUndefined), this);
}

void TQxNestedDataSet::LeaveWaitingList() {
  if (parent_ && !parent_->Destroying()) parent_->WaitingNested().removeAll(this);
}

void TQxNestedDataSet::SetDataSetField(TDataSetField* field) {
  if (field == dataSetField_) return;
  LeaveWaitingList();
  if (State() != TDataSetState::dsInactive) Close();
  TQxCustomMemDataSet* parent = nullptr;
  if (field) {
    parent = dynamic_cast<TQxCustomMemDataSet*>(field->DataSet());
    if (!parent || parent == this) RaiseDataSetError(QxText(QxMsg::DataSetFieldUndefined), this);
    if (field->NestedDataSet() && field->NestedDataSet() != this) field->NestedDataSet()->DetachFromParent();
  }
  if (dataSetField_) dataSetField_->SetNestedDataSet(nullptr);
  if (parent_ && !parent_->Destroying()) parent_->NestedDataSets().removeAll(this);
  dataSetField_ = field;
  parent_ = parent;
  if (dataSetField_) {
    dataSetField_->SetNestedDataSet(this);
    if (!parent_->NestedDataSets().contains(this)) parent_->NestedDataSets().append(this);
  }
}

void TQxNestedDataSet::DetachFromParent() {
  // The parent may be half destroyed: nothing of it is touched unless it is still whole.
  TQxCustomMemDataSet* parent = parent_;
  if (parent && !parent->Destroying()) {
    parent->NestedDataSets().removeAll(this);
    parent->WaitingNested().removeAll(this);
  }
  if (dataSetField_ && dataSetField_->NestedDataSet() == this) dataSetField_->SetNestedDataSet(nullptr);
  dataSetField_ = nullptr;
  parent_ = nullptr;
  if (State() != TDataSetState::dsInactive) {
    try {
      Close();
    } catch (...) {
    }
  }
}

bool TQxNestedDataSet::ParentFieldHasData() {
  if (!parent_ || !dataSetField_) return false;
  switch (parent_->State()) {
    case TDataSetState::dsBrowse:
    case TDataSetState::dsEdit:
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsFilter:
    case TDataSetState::dsNewValue:
    case TDataSetState::dsOldValue:
    case TDataSetState::dsCurValue:
    case TDataSetState::dsBlockRead:
    case TDataSetState::dsInternalCalc:
      return !dataSetField_->IsNull();
    default:
      return false;
  }
}

void TQxNestedDataSet::LoadFromParent() {
  CheckDataSetField();
  ControlsGuard controls(this);
  parent_->CheckActive();
  TMemoryStream* value = ParentFieldHasData() ? parent_->BlobValueStream(dataSetField_) : nullptr;
  if (value && value->Size() > 0) {
    LoadFromStream(*value);
  } else if (Active()) {
    EmptyDataSet();
  }
  dirty_ = false;
}

void TQxNestedDataSet::FlushToParent() {
  // A closed nested dataset holds nothing to write: saving it would blank the parent's value.
  if (!Active() || !dirty_ || !parent_ || !dataSetField_) return;
  const TDataSetState st = parent_->State();
  if (st != TDataSetState::dsEdit && st != TDataSetState::dsInsert) return;
  ControlsGuard controls(this);
  parent_->CheckActive();
  // Written through a scratch stream and stored as a destroyed blob stream would store it, so
  // that the parent's cancel puts the old value back.
  TMemoryStream image;
  SaveToStream(image);
  parent_->StoreBlobValue(dataSetField_, image, true);
  dirty_ = false;
}

void TQxNestedDataSet::EnsureParentEditing() {
  if (parent_ && parent_->State() == TDataSetState::dsBrowse) parent_->Edit();
}

void TQxNestedDataSet::OpenCursor(bool infoQuery) {
  CheckDataSetField();
  if (parent_->Active()) {
    SetState(TDataSetState::dsInactive);
    LoadFromParent();
    TQxBaseClientDataSet::OpenCursor(infoQuery);
    return;
  }
  if (!parent_->WaitingNested().contains(this)) parent_->WaitingNested().append(this);
  SetState(TDataSetState::dsOpening);
}

void TQxNestedDataSet::CheckActive() {
  // The parent opens this dataset when it opens itself; nothing here can make that happen
  // sooner, so a wait would never end by itself.
  if (State() == TDataSetState::dsOpening) DatabaseError(DbText::WaitingForParent, this);
  TQxBaseClientDataSet::CheckActive();
}

void TQxNestedDataSet::DoBeforeClose() {
  TQxBaseClientDataSet::DoBeforeClose();
  LeaveWaitingList();
  if (parent_ && !parent_->Destroying() &&
      (parent_->State() == TDataSetState::dsEdit || parent_->State() == TDataSetState::dsInsert))
    parent_->Post();
}

void TQxNestedDataSet::DoAfterOpen() {
  if (Active()) TQxBaseClientDataSet::DoAfterOpen();
}

void TQxNestedDataSet::DoAfterScroll() {
  if (Active()) TQxBaseClientDataSet::DoAfterScroll();
}

void TQxNestedDataSet::DoBeforeEdit() {
  EnsureParentEditing();
  TQxBaseClientDataSet::DoBeforeEdit();
}

void TQxNestedDataSet::DoBeforeInsert() {
  EnsureParentEditing();
  TQxBaseClientDataSet::DoBeforeInsert();
}

void TQxNestedDataSet::DoBeforeDelete() {
  EnsureParentEditing();
  TQxBaseClientDataSet::DoBeforeDelete();
}

void TQxNestedDataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (event == TDataEvent::deParentScroll && Active()) LoadFromParent();
  TQxBaseClientDataSet::DataEvent(event, info);
}

void TQxNestedDataSet::InternalOpen() {
  TQxBaseClientDataSet::InternalOpen();
  CreateLogFields();
}

void TQxNestedDataSet::InternalClose() {
  TQxBaseClientDataSet::InternalClose();
  dirty_ = false;
}

void TQxNestedDataSet::DoAfterPost() {
  dirty_ = true;
  TQxBaseClientDataSet::DoAfterPost();
}

void TQxNestedDataSet::DoAfterDelete() {
  dirty_ = true;
  TQxBaseClientDataSet::DoAfterDelete();
}

void TQxNestedDataSet::EmptyDataSet() {
  TQxBaseClientDataSet::EmptyDataSet();
  dirty_ = true;
}

// --- the nested-field list -----------------------------------------------------------------

void TQxNestedFieldItem::SetActive(bool value) {
  if (value && FieldName.trimmed().isEmpty()) throw EQxDataSetException(QxText(QxMsg::NoFieldNameAssigned));
  active_ = value;
}

TQxNestedFieldItem& TQxNestedFieldList::Add() {
  items_.push_back(std::make_unique<TQxNestedFieldItem>(this));
  return *items_.back();
}

void TQxNestedFieldList::Delete(int index) {
  items_.erase(items_.begin() + index);
}

void TQxNestedFieldList::AddFieldDefs(TFieldDefs& defs) const {
  for (const auto& item : items_)
    if (item->Active()) defs.Add(item->FieldName.left(30), ftDataSet, 0);
}
