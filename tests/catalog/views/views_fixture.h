// What the view tests share: one local server for the program, a connection component that
// logs in as sa to the sample database without the login dialog, a statement runner for set-up,
// and the place screenshots are written to.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QWidget>
#include <memory>
#include <ostream>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "tests/support/qt_printers.h"
#include "tests/support/sa_connection.h"

namespace viewtest {

// The server every test of this program talks to, started on first use.
inline tabtest::ServerFixture& Server() { return tabtest::SharedServer(); }

// A connection named Name that logs in as sa and uses Database.
inline std::unique_ptr<TQorixDatabase> Connect(const QString& name = QStringLiteral("db"),
                                               const QString& database = QStringLiteral("sample"),
                                               const QString& rdbms = QStringLiteral("Sybase SQL Server")) {
  return tabtest::ConnectAsSa(name, {QStringLiteral("views_tests"), database, rdbms, TShowDbMessages{smDbErr}});
}

// Runs Sql on Db and reads every result (set-up statements).
inline void Exec(TQorixDatabaseBase& db, const QString& sql) { tabtest::ExecSetup(db, sql); }

// The rows of Sql on Db, columns trimmed and joined by "|".
inline QStringList Rows(TQorixDatabaseBase& db, const QString& sql) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.TrimResults = true;
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

// Writes Widget's picture to the build folder's screenshots/Name.png; returns the path.
inline QString Screenshot(QWidget& widget, const QString& name) {
  QDir().mkpath(QStringLiteral(TABULON_SHOT_DIR));
  const QString path = QStringLiteral(TABULON_SHOT_DIR) + QLatin1Char('/') + name + QStringLiteral(".png");
  widget.grab().save(path);
  return path;
}

}  // namespace viewtest
