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
#include "tests/support/qt_printers.h"
#include "tests/support/sa_connection.h"

namespace gridtest {

inline tabtest::ServerFixture& Server() { return tabtest::SharedServer(); }

inline std::unique_ptr<TQorixDatabase> Connect(const QString& name = QStringLiteral("db"),
                                               const QString& database = QStringLiteral("sample")) {
  return tabtest::ConnectAsSa(name, {QStringLiteral("grid_tests"), database});
}

// Runs Sql on Db and reads every result (set-up statements).
inline void Exec(TQorixDatabaseBase& db, const QString& sql) { tabtest::ExecSetup(db, sql); }

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
