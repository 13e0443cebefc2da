// What the component tests share to reach the local server: the one server of the test
// program, a connection component that logs in as sa without the login dialog, and a statement
// runner for set-up.
#pragma once

#include <QString>
#include <memory>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "tests/support/server_fixture.h"

namespace tabtest {

// The server every test of this program talks to, started on first use and stopped at exit.
inline ServerFixture& SharedServer() {
  static std::unique_ptr<ServerFixture> server = std::make_unique<ServerFixture>();
  return *server;
}

// How ConnectAsSa sets the connection up.
struct SaConnection {
  QString appName = QStringLiteral("tests");
  QString database = QStringLiteral("sample");  // blank keeps the login's default database
  QString rdbms = QStringLiteral("Sybase SQL Server");  // blank leaves the component's default
  TShowDbMessages messages{};
};

// A connection component named Name, set to log in as sa (empty password) to the test server
// without the login dialog, not yet connected; a blank AppName keeps the component's own.
inline std::unique_ptr<TQorixDatabase> SaDatabase(const QString& name, const QString& appName = QString(),
                                                  TShowDbMessages messages = {}) {
  SharedServer();
  auto db = std::make_unique<TQorixDatabase>();
  db->SetName(name);
  db->LoginPrompt = false;
  db->UserName = QStringLiteral("sa");
  db->Password = QString();
  db->ServerName = QStringLiteral("DSQUERY");
  if (!appName.isEmpty()) db->AppName = appName;
  db->ShowDbMessages = messages;
  return db;
}

// A connection component named Name, logged in as sa (check Connected()).
inline std::unique_ptr<TQorixDatabase> ConnectAsSa(const QString& name, const SaConnection& how = {}) {
  auto db = SaDatabase(name, how.appName, how.messages);
  if (!how.rdbms.isEmpty()) db->Rdbms = how.rdbms;
  db->Connect();
  if (db->Connected() && !how.database.isEmpty()) db->SetDbName(how.database);
  return db;
}

// Runs Sql on Db and reads every result (set-up statements; errors raise).
inline void ExecSetup(TQorixDatabaseBase& db, const QString& sql) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.SetShowDbMessages(TShowDbMessages{});
  q.SetSQL(sql);
  q.ExecSQL();
}

}  // namespace tabtest
