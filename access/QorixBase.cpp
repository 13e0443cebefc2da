// TQorixBase: list membership, the database link and CheckDatabase.

#include "access/QorixBase.h"

#include "access/QorixExceptions.h"
#include "access/QorixResources.h"

TQorixBase::TQorixBase(TComponent* owner) : TComponent(owner) {}

TQorixBase::~TQorixBase() {
  UnregisterComponent(DbAwareComponentList(), this);
  SetDatabase(nullptr);
}

void TQorixBase::SetName(const QString& name) {
  TComponent::SetName(name);
  RegisterComponent(DbAwareComponentList(), this);
}

void TQorixBase::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == database_) database_ = nullptr;
}

void TQorixBase::SetDatabase(TQorixDatabaseBase* database) {
  if (database == database_) return;
  if (database_) RemoveFreeNotification(database_);
  database_ = database;
  if (database_) FreeNotification(database_);
}

void TQorixBase::CheckDatabase() {
  if (IsLoading() || database_) return;
  if (!DbName.trimmed().isEmpty())
    SetDatabase(FindDatabase(DbName));
  else
    RaiseMissingError(LoadResString(QorixRes::SDatabaseOrDbNameRequired), this);
}
