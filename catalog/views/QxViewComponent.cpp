// The shared database link and connection check of the view models.

#include "catalog/views/QxViewComponent.h"

#include "access/Qorix_DbCheck.h"

void TQxViewComponent::SetDatabase(TQorixDatabaseBase* database) {
  if (database == database_) return;
  if (database_) RemoveFreeNotification(database_);
  database_ = database;
  if (database_) FreeNotification(database_);
}

void TQxViewComponent::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == database_) database_ = nullptr;
}

void TQxViewComponent::CheckDatabase() {
  if (IsLoading() || database_) return;
  // Raises for a blank DbName and for a DbName that names no connection.
  CheckDatabaseName(nullptr, DbName, this);
  SetDatabase(FindDatabase(DbName));
}

void TQxViewComponent::HandOn(TQorixCustomQuery& query) const {
  query.SetMsgDialogs(msgDialogs_);
  query.SetShowDbMessages(ShowDbMessages);
  query.OnDbError = OnDbError;
  query.AfterDbError = AfterDbError;
  query.OnDbMessage = OnDbMessage;
  query.AfterDbMessage = AfterDbMessage;
  query.DbName = DbName;
  query.SetDatabase(database_);
}
