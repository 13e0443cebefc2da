// Data sources and data links: event fan-out from a dataset to its observers, each link's
// record window, and the master link of detail datasets.
#include "dataset/DataSource.h"

#include <algorithm>

TDataSource::~TDataSource() {
  const QList<TDataLink*> links = links_;
  for (TDataLink* link : links) link->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_) dataset_->dataSources_.removeAll(this);
  dataset_ = dataset;
  if (dataset_) {
    dataset_->dataSources_.append(this);
    dataset_->UpdateBufferCount();
  }
  SetState(dataset_ && enabled_ ? dataset_->State() : TDataSetState::dsInactive);
  NotifyLinks(TDataEvent::deUpdateState, 0);
}

void TDataSource::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  SetState(dataset_ && enabled_ ? dataset_->State() : TDataSetState::dsInactive);
  NotifyLinks(TDataEvent::deUpdateState, 0);
}

void TDataSource::Edit() {
  if (AutoEdit && dataset_ && dataset_->State() == TDataSetState::dsBrowse) dataset_->Edit();
}

void TDataSource::AddLink(TDataLink* link) {
  links_.append(link);
  if (dataset_) dataset_->UpdateBufferCount();
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.removeAll(link);
  if (dataset_ && !dataset_->Destroying()) dataset_->UpdateBufferCount();
}

void TDataSource::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  if (OnStateChange) OnStateChange(*this);
}

void TDataSource::NotifyLinks(TDataEvent event, intptr_t info) {
  const QList<TDataLink*> links = links_;
  for (TDataLink* link : links)
    if (links_.contains(link)) link->DataEvent(event, info);
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (!enabled_) return;
  if (event == TDataEvent::deUpdateState) {
    SetState(dataset_ ? dataset_->State() : TDataSetState::dsInactive);
    NotifyLinks(event, info);
    return;
  }
  if (state_ == TDataSetState::dsInactive) return;
  NotifyLinks(event, info);
  switch (event) {
    case TDataEvent::deFieldChange:
      if (OnDataChange) OnDataChange(*this, reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deRecordChange:
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case TDataEvent::deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

TDataLink::~TDataLink() {
  // A derived link's overrides are gone by now: detach without calling them.
  if (dataSource_) dataSource_->RemoveLink(this);
  dataSource_ = nullptr;
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_) dataSource_->RemoveLink(this);
  dataSource_ = source;
  if (dataSource_) dataSource_->AddLink(this);
  UpdateState();
}

void TDataLink::SetBufferCount(int value) {
  if (value == bufferCount_) return;
  bufferCount_ = std::max(1, value);
  if (TDataSet* ds = DataSet()) ds->UpdateBufferCount();
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  if (!ds) return 0;
  return ds->ActiveRecord() - firstRecord_;
}

void TDataLink::SetActiveRecord(int value) {
  if (TDataSet* ds = DataSet()) ds->SetActiveRecord(value + firstRecord_);
}

int TDataLink::RecordCount() const {
  TDataSet* ds = DataSet();
  if (!ds) return 0;
  return std::clamp(ds->BufferedRecordCount() - firstRecord_, 0, bufferCount_);
}

bool TDataLink::Edit() {
  if (!ReadOnly && dataSource_) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  if (updating_) return;
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  switch (event) {
    case TDataEvent::deUpdateState:
      UpdateState();
      break;
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (active_ && !updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange: {
      if (!active_) break;
      TDataSet* ds = DataSet();
      int count = 0;
      if (ds->State() != TDataSetState::dsSetKey) {
        // Keep the dataset's active record inside this link's window.
        const int act = ds->ActiveRecord();
        const int first = firstRecord_ + int(info);
        const int last = first + bufferCount_ - 1;
        if (act > last)
          count = act - last;
        else if (act < first)
          count = act - first;
        firstRecord_ = std::max(0, first + count);
      }
      if (event == TDataEvent::deDataSetChange)
        DataSetChanged();
      else if (event == TDataEvent::deDataSetScroll)
        DataSetScrolled(count);
      else
        LayoutChanged();
      break;
    }
    case TDataEvent::deUpdateRecord:
      if (active_) UpdateRecord();
      break;
    case TDataEvent::deCheckBrowseMode:
      if (active_) CheckBrowseMode();
      break;
    default:
      break;
  }
}

void TDataLink::UpdateState() {
  TDataSet* ds = DataSet();
  SetActive(dataSource_ && dataSource_->Enabled() && ds && ds->Active());
  SetEditing(active_ && dataSource_ &&
             (dataSource_->State() == TDataSetState::dsEdit ||
              dataSource_->State() == TDataSetState::dsInsert ||
              dataSource_->State() == TDataSetState::dsSetKey));
}

void TDataLink::SetActive(bool value) {
  if (active_ == value) return;
  active_ = value;
  if (value) firstRecord_ = 0;
  ActiveChanged();
}

void TDataLink::SetEditing(bool value) {
  if (editing_ == value) return;
  editing_ = value;
  EditingChanged();
}

void TFieldDataLink::SetFieldName(const QString& name) {
  if (name == fieldName_) return;
  fieldName_ = name;
  UpdateField();
}

void TFieldDataLink::UpdateField() {
  TDataSet* ds = DataSet();
  TField* f = Active() && ds && !fieldName_.isEmpty() ? ds->FieldByName(fieldName_) : nullptr;
  if (f != field_) {
    field_ = f;
    UpdateFieldEditing();
    RecordChanged(nullptr);
  }
}

bool TFieldDataLink::CanModify() const {
  TDataSet* ds = DataSet();
  return !ReadOnly && field_ && ds && !field_->ReadOnly && field_->FieldKind == TFieldKind::fkData &&
         ds->CanModify();
}

void TFieldDataLink::UpdateFieldEditing() {
  const bool value = Editing() && CanModify();
  if (value == fieldEditing_) return;
  fieldEditing_ = value;
  modified_ = false;
  if (OnEditingChange) OnEditingChange(*this);
}

bool TFieldDataLink::Edit() {
  if (CanModify()) TDataLink::Edit();
  return fieldEditing_;
}

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange(*this);
}

void TFieldDataLink::EditingChanged() {
  UpdateFieldEditing();
}

void TFieldDataLink::LayoutChanged() {
  UpdateField();
}

void TFieldDataLink::RecordChanged(TField* field) {
  if (field && field != field_) return;
  if (OnDataChange) OnDataChange(*this);
  modified_ = false;
}

void TFieldDataLink::UpdateData() {
  if (!modified_) return;
  if (field_ && OnUpdateData) OnUpdateData(*this);
  modified_ = false;
}

void TMasterDataLink::SetFieldNames(const QString& names) {
  if (names == fieldNames_) return;
  fieldNames_ = names;
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) {
    if (!fieldNames_.isEmpty()) fields_ = DataSet()->GetFieldList(fieldNames_);
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (detail_ && detail_->Active()) detail_->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField* field) {
  TDataSet* ds = DataSet();
  if (!ds || DataSource()->State() == TDataSetState::dsSetKey || !ds->Active()) return;
  if (field && !fields_.contains(field)) return;
  if (OnMasterChange) OnMasterChange();
}
