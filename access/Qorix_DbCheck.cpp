// The database-name check.

#include "access/Qorix_DbCheck.h"

#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/Qorix_Components.h"

void CheckDatabaseName(const TQorixDatabaseBase* database, const QString& dbName,
                       const TComponent* component) {
  if (database) return;
  if (dbName.trimmed().isEmpty())
    RaiseMissingError(LoadResString(QorixRes::SDatabaseOrDbNameRequired), component);
  if (!FindDatabase(dbName))
    RaiseMissingError(Format(LoadResString(QorixRes::SDatabaseComponentNotFound), {dbName}), nullptr);
}
