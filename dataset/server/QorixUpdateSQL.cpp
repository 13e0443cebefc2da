// The update object and the server datasets' link to it.
#include "dataset/server/QorixUpdateSQL.h"

TQorixUpdateSQL::TQorixUpdateSQL(TComponent* owner) : TComponent(owner) {
  for (auto& q : queries_) q = std::make_unique<TQxQuery>();
}

TQorixUpdateSQL::~TQorixUpdateSQL() = default;

void TQorixUpdateSQL::SetDatabase(TQorixDatabase* database) {
  database_ = database;
  if (database_) FreeNotification(database_);
}

void TQorixUpdateSQL::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == database_) database_ = nullptr;
}

const QStringList& TQorixUpdateSQL::GetSQL(int kind) const {
  return kind == 0 ? ModifySQL : kind == 1 ? InsertSQL : DeleteSQL;
}

TQxQuery& TQorixUpdateSQL::Query(int kind) {
  return *queries_[std::clamp(kind, 0, 2)];
}

void TQorixUpdateSQL::PrepareQueries() {
  for (auto& q : queries_) {
    q->SetDatabase(database_);
    q->DbName = DbName;
    q->Monitor = Monitor;
    q->ShowDbMessages = ShowDbMessages;
    q->MsgDialogs = MsgDialogs;
  }
}

void TQxCustomDataSet::PrepareUpdateObject() {
  // An update object that names no connection runs on the dataset's own.
  if (!updateObject_->Database() && updateObject_->DbName.trimmed().isEmpty()) {
    updateObject_->SetDatabase(resolved_ ? resolved_ : database_);
    updateObject_->DbName = DbName;
  }
}
