// The master/detail link of TQxMemDataSet: the link's filter, installed while the master is
// open and taken away (with the user's own filter put back) when it closes.
#include "dataset/QxMemDataSet.h"

TQxMemDataSet::TQxMemDataSet(TComponent* owner) : TQxAuditDataSet(owner) {
  StoreDefs = true;
  MasterLink().OnMasterChange = [this] { MasterChanged(); };
  MasterLink().OnMasterDisable = [this] { MasterDisabled(); };
}

TQxMemDataSet::~TQxMemDataSet() {
  if (Active()) {
    try {
      Close();
    } catch (...) {
    }
  }
}

bool TQxMemDataSet::TestLink() const {
  TDataSource* src = GetDataSource();
  return src && src->DataSet() && src->DataSet()->Active();
}

void TQxMemDataSet::InstallLink() {
  if (linked_) return;
  linked_ = true;
  savedFilter_ = OnFilterRecord;
  OnFilterRecord = [this](TDataSet& ds, bool& accept) { LinkFilterRecord(ds, accept); };
}

void TQxMemDataSet::InternalOpen() {
  TQxAuditDataSet::InternalOpen();
  // The link's notifications reach this dataset only once it is open.
  if (TestLink()) InstallLink();
  SplitLinkFields();
  CreateLogFields();
}

void TQxMemDataSet::InternalClose() {
  if (linked_) {
    linked_ = false;
    OnFilterRecord = savedFilter_;
  }
  TQxAuditDataSet::InternalClose();
}

void TQxMemDataSet::LinkFilterRecord(TDataSet&, bool& accept) {
  accept = true;
  if (!linked_) return;
  TDataSet* master = GetDataSource() ? GetDataSource()->DataSet() : nullptr;
  if (!master) return;
  const QStringList& detail = DetailLinkFields();
  const QStringList& masters = MasterLinkFields();
  for (int i = 0; i < detail.size() && accept; ++i) {
    const QVariant mine = FieldByName(detail[i])->Value();
    const QVariant theirs = master->FieldByName(masters.value(i))->Value();
    accept = mine.isNull() || theirs.isNull()
                 ? mine.isNull() && theirs.isNull()
                 : QVariant::compare(mine, theirs) == QPartialOrdering::Equivalent;
  }
}

void TQxMemDataSet::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  if (!linked_ && TestLink()) InstallLink();
  SplitLinkFields();
  // Another master record selects other detail records.
  ContentChanged();
  First();
}

void TQxMemDataSet::MasterDisabled() {
  DataEvent(TDataEvent::dePropertyChange, 0);
  if (linked_) {
    linked_ = false;
    OnFilterRecord = savedFilter_;
  }
  ContentChanged();
  if (Active()) First();
}
