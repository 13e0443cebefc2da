// CheckDatabaseName: the check a component makes before it looks its database up by name.
#pragma once

#include <QString>

class TComponent;
class TQorixDatabaseBase;

// Raises EQxMissingException "Database or DbName required" (with Component's name) when
// Database is null and DbName blank, or "Could not find QorixDatabase component named '...'"
// (without a name) when Database is null and no database carries DbName; else nothing.
void CheckDatabaseName(const TQorixDatabaseBase* database, const QString& dbName,
                       const TComponent* component);
