// TQorixBase: the non-visual ancestor of the catalogue service, the update-SQL component and
// the password-change component: a database link cleared when that database goes away, the
// message settings and diagnostics events, and membership of DbAwareComponentList.
#pragma once

#include <QString>

#include "access/Classes.h"
#include "access/QorixErrorHandling.h"
#include "access/Qorix_Components.h"
#include "access/UiServices.h"

// A database-bound component.
class TQorixBase : public TComponent, public TQorixDiagTarget {
 public:
  // ShowDbMessages [smDbMsg, smDbErr], UseExecCursor on, ExecCursor crSQLWait.
  explicit TQorixBase(TComponent* owner = nullptr);
  // Leaves DbAwareComponentList.
  ~TQorixBase() override;

  // Joins DbAwareComponentList (once) under the new name.
  void SetName(const QString& name) override;
  // Clears Database when that database is destroyed.
  void Notification(TComponent* component, TOperation operation) override;

  // Free text, no behaviour.
  QString About;
  // Rich windows for messages and errors.
  TMsgDialogs MsgDialogs;
  // Show messages, show errors.
  TShowDbMessages ShowDbMessages{smDbMsg, smDbErr};
  // Trace lines to the SQL monitor.
  bool Monitor = false;
  // The name of the database to find when Database is not linked.
  QString DbName;
  // The cursor shown while the component talks to the server.
  TCursor ExecCursor = crSQLWait;
  // Whether ExecCursor is shown.
  bool UseExecCursor = true;

  // The linked connection, or null.
  TQorixDatabaseBase* Database() const { return database_; }
  // Links Database (null unlinks); the link clears itself when that database is destroyed.
  void SetDatabase(TQorixDatabaseBase* database);

  // Unless loading, and only while Database is null: finds Database by DbName (it may stay
  // null), or raises EQxMissingException "Database or DbName required" when DbName is blank.
  void CheckDatabase();

  // The four diagnostics flags of this component's settings, for ProcessDiagMessages.
  bool EnhErr() const { return MsgDialogs.Contains(mdEnhErr); }
  bool EnhMsg() const { return MsgDialogs.Contains(mdEnhMsg); }
  bool ShowMsg() const { return ShowDbMessages.Contains(smDbMsg); }
  bool ShowErr() const { return ShowDbMessages.Contains(smDbErr); }

 private:
  TQorixDatabaseBase* database_ = nullptr;
};
