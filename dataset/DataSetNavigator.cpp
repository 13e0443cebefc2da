// The navigator's enabling rules (the class library's: movement by Bof/Eof, modification by
// CanModify and the editing state) and the operation behind each button.
#include "dataset/DataSetNavigator.h"

TDataSetNavigator::TDataSetNavigator() : link_(this) {}

TDataSetNavigator::~TDataSetNavigator() {
  OnStateChanged = nullptr;
  link_.SetDataSource(nullptr);
}

void TDataSetNavigator::SetDataSource(TDataSource* source) {
  link_.SetDataSource(source);
  Changed();
}

void TDataSetNavigator::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Changed();
}

bool TDataSetNavigator::ButtonEnabled(TNavigateBtn button) const {
  TDataSet* ds = link_.DataSet();
  if (!enabled_ || !ds || !link_.Active()) return false;
  const bool canModify = ds->CanModify() && !link_.ReadOnly;
  switch (button) {
    case TNavigateBtn::nbFirst:
    case TNavigateBtn::nbPrior:
      return !ds->Bof();
    case TNavigateBtn::nbNext:
    case TNavigateBtn::nbLast:
      return !ds->Eof();
    case TNavigateBtn::nbInsert:
      return canModify;
    case TNavigateBtn::nbDelete:
      return canModify && !(ds->Bof() && ds->Eof());
    case TNavigateBtn::nbEdit:
      return canModify && !link_.Editing();
    case TNavigateBtn::nbPost:
    case TNavigateBtn::nbCancel:
      return canModify && link_.Editing();
    case TNavigateBtn::nbRefresh:
      return true;
  }
  return false;
}

unsigned TDataSetNavigator::EnabledMask() const {
  unsigned mask = 0;
  for (int i = 0; i < kNavigateBtnCount; ++i)
    if (ButtonEnabled(TNavigateBtn(i))) mask |= 1u << i;
  return mask;
}

void TDataSetNavigator::Changed() {
  const unsigned mask = EnabledMask();
  if (mask == lastMask_) return;
  lastMask_ = mask;
  if (OnStateChanged) OnStateChanged();
}

void TDataSetNavigator::BtnClick(TNavigateBtn button) {
  TDataSet* ds = link_.DataSet();
  if (!ds || !ButtonEnabled(button)) return;
  if (BeforeAction) BeforeAction(button);
  switch (button) {
    case TNavigateBtn::nbFirst:
      ds->First();
      break;
    case TNavigateBtn::nbPrior:
      ds->Prior();
      break;
    case TNavigateBtn::nbNext:
      ds->Next();
      break;
    case TNavigateBtn::nbLast:
      ds->Last();
      break;
    case TNavigateBtn::nbInsert:
      ds->Insert();
      break;
    case TNavigateBtn::nbDelete:
      if (ConfirmDelete && OnConfirm && !OnConfirm(kDeleteRecordQuestion)) return;
      ds->Delete();
      break;
    case TNavigateBtn::nbEdit:
      ds->Edit();
      break;
    case TNavigateBtn::nbPost:
      ds->Post();
      break;
    case TNavigateBtn::nbCancel:
      ds->Cancel();
      break;
    case TNavigateBtn::nbRefresh:
      ds->Refresh();
      break;
  }
  if (OnClick) OnClick(button);
}
