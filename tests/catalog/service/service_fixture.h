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
#include "tests/support/qt_printers.h"
#include "tests/support/sa_connection.h"

namespace svctest {

inline tabtest::ServerFixture& Server() { return tabtest::SharedServer(); }

// A connection named Name that logs in as sa, uses Database and declares family Rdbms.
inline std::unique_ptr<TQorixDatabase> Connect(const QString& name, const QString& database = QStringLiteral("sample"),
                                               const QString& rdbms = QStringLiteral("Sybase SQL Server")) {
  return tabtest::ConnectAsSa(name, {QStringLiteral("service_tests"), database, rdbms, TShowDbMessages{smDbErr}});
}

// Runs Sql on Db and reads every result.
inline void Exec(TQorixDatabaseBase& db, const QString& sql) { tabtest::ExecSetup(db, sql); }

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
