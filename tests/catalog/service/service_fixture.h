// What the catalogue service tests share: one local server for the program, a connection
// component that logs in as sa without the login dialog, a statement runner for set-up and a
// row reader for checks.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <memory>
#include <ostream>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "tests/support/server_fixture.h"

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << "{\"" << list.join(QStringLiteral("\", \"")).toStdString() << "\"}";
}

namespace svctest {

inline tabtest::ServerFixture& Server() {
  static std::unique_ptr<tabtest::ServerFixture> server = std::make_unique<tabtest::ServerFixture>();
  return *server;
}

// A connection named Name that logs in as sa, uses Database and declares family Rdbms.
inline std::unique_ptr<TQorixDatabase> Connect(const QString& name, const QString& database = QStringLiteral("sample"),
                                               const QString& rdbms = QStringLiteral("Sybase SQL Server")) {
  Server();
  auto db = std::make_unique<TQorixDatabase>();
  db->SetName(name);
  db->LoginPrompt = false;
  db->UserName = QStringLiteral("sa");
  db->Password = QString();
  db->ServerName = QStringLiteral("DSQUERY");
  db->AppName = QStringLiteral("service_tests");
  db->Rdbms = rdbms;
  db->ShowDbMessages = TShowDbMessages{smDbErr};
  db->Connect();
  if (db->Connected() && !database.isEmpty()) db->SetDbName(database);
  return db;
}

// Runs Sql on Db and reads every result.
inline void Exec(TQorixDatabaseBase& db, const QString& sql) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.SetShowDbMessages(TShowDbMessages{});
  q.SetSQL(sql);
  q.ExecSQL();
}

// The rows of Sql on Db, columns joined by "|" (trimmed unless Trim is false).
inline QStringList Rows(TQorixDatabaseBase& db, const QString& sql, bool trim = true) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.TrimResults = trim;
  q.SetSQL(sql);
  QStringList rows;
  q.Open();
  while (q.Next()) {
    QStringList cols;
    for (int c = 1; c <= q.ColumnCount(); ++c) cols << q.GetFieldValue(c);
    rows << cols.join(QLatin1Char('|'));
  }
  q.Cancel(CS_CANCEL_ALL);
  return rows;
}

}  // namespace svctest
