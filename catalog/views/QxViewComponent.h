// What the list views, the explorer tree and the two pages share: the database link that clears
// itself when the connection goes away, the message settings and diagnostics events they hand
// on to their private engines, the wait cursor settings, and the connection check.
#pragma once

#include <QString>

#include "access/Classes.h"
#include "access/QorixEnhQuery.h"
#include "access/QorixErrorHandling.h"
#include "access/Qorix_Components.h"
#include "access/UiServices.h"

// A database-bound view model (no widget code).
class TQxViewComponent : public TComponent, public TQorixDiagTarget {
 public:
  explicit TQxViewComponent(TComponent* owner = nullptr) : TComponent(owner) {}
  ~TQxViewComponent() override { SetDatabase(nullptr); }

  // Free text, no behaviour.
  QString About;
  // Trace lines to the SQL monitor (stored; handed on where an engine runs).
  bool Monitor = false;
  // The component name of the connection to find when Database is not linked.
  QString DbName;
  // The cursor shown while the component talks to the server.
  TCursor ExecCursor = crSQLWait;
  // Whether ExecCursor is shown.
  bool UseExecCursor = true;
  // Rich windows for messages and errors.
  const TMsgDialogs& MsgDialogs() const { return msgDialogs_; }
  void SetMsgDialogs(const TMsgDialogs& value) { msgDialogs_ = value; }
  // Show messages, show errors.
  TShowDbMessages ShowDbMessages{smDbMsg, smDbErr};

  // The linked connection, or null.
  TQorixDatabaseBase* Database() const { return database_; }
  // Links Database (null unlinks); the link clears itself when that database is destroyed.
  void SetDatabase(TQorixDatabaseBase* database);
  // Forgets Database when it is destroyed.
  void Notification(TComponent* component, TOperation operation) override;

  // Outside loading, with no Database: finds it by DbName. A blank DbName raises "Database or
  // DbName required" naming this component; a DbName no connection carries raises "Could not
  // find QorixDatabase component named '...'" instead of going on without a connection.
  void CheckDatabase();

 protected:
  // Copies the message settings and the four events into Query, with Database and DbName.
  void HandOn(TQorixCustomQuery& query) const;

 private:
  TQorixDatabaseBase* database_ = nullptr;
  TMsgDialogs msgDialogs_;
};
