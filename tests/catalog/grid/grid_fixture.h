// What the grid tests share: one local server for the program, a connection component that
// logs in as sa to the sample database, a statement runner for set-up, helpers that read the
// grid's cells as lines and wait for a background run, and the screenshot folder.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <ostream>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "catalog/grid/QorixGrid.h"
#include "tests/support/server_fixture.h"

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << "{\"" << list.join(QStringLiteral("\", \"")).toStdString() << "\"}";
}

namespace gridtest {

inline tabtest::ServerFixture& Server() {
  static std::unique_ptr<tabtest::ServerFixture> server = std::make_unique<tabtest::ServerFixture>();
  return *server;
}

inline std::unique_ptr<TQorixDatabase> Connect(const QString& name = QStringLiteral("db"),
                                               const QString& database = QStringLiteral("sample")) {
  Server();
  auto db = std::make_unique<TQorixDatabase>();
  db->SetName(name);
  db->LoginPrompt = false;
  db->UserName = QStringLiteral("sa");
  db->Password = QString();
  db->ServerName = QStringLiteral("DSQUERY");
  db->AppName = QStringLiteral("grid_tests");
  db->Rdbms = QStringLiteral("Sybase SQL Server");
  db->ShowDbMessages = TShowDbMessages{};
  db->Connect();
  if (db->Connected() && !database.isEmpty()) db->SetDbName(database);
  return db;
}

// Runs Sql on Db and reads every result (set-up statements).
inline void Exec(TQorixDatabaseBase& db, const QString& sql) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.SetShowDbMessages(TShowDbMessages{});
  q.SetSQL(sql);
  q.ExecSQL();
}

// Each grid row from First on as its cells from column 0 joined by "|", trailing empty cells
// left off.
inline QStringList Lines(const TQorixGrid& g, int first = 0) {
  QStringList out;
  for (int r = first; r < g.RowCount(); ++r) {
    QStringList cells;
    for (int c = 0; c < g.ColCount(); ++c) cells << g.Cell(c, r);
    while (!cells.isEmpty() && cells.last().isEmpty()) cells.removeLast();
    out << cells.join(QLatin1Char('|'));
  }
  return out;
}

// Processes events until Done holds or Ms milliseconds passed; returns Done().
inline bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

inline QString Screenshot(QWidget& widget, const QString& name) {
  QDir().mkpath(QStringLiteral(TABULON_SHOT_DIR));
  const QString path = QStringLiteral(TABULON_SHOT_DIR) + QLatin1Char('/') + name + QStringLiteral(".png");
  widget.grab().save(path);
  return path;
}

}  // namespace gridtest
