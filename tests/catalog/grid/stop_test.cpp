// Background runs and Stop: a long wait, a million-row select, a compute by and a long cursor
// open stop at once on either server family, the grid runs again afterwards, the attention
// alone cancels one statement, a second Execute during a run is refused, and a grid destroyed
// during a run stops and joins its worker first.
#include <QElapsedTimer>

#include "access/QorixExceptions.h"
#include "tests/catalog/grid/grid_fixture.h"

namespace {

using gridtest::Lines;
using gridtest::WaitUntil;

// Ten digit rows; six of them crossed give a million rows.
TQorixDatabase& Db() {
  static std::unique_ptr<TQorixDatabase> db = [] {
    auto d = gridtest::Connect(QStringLiteral("stopdb"));
    gridtest::Exec(*d, QStringLiteral("create table grid_digits (d int not null)"));
    for (int i = 0; i < 10; ++i) gridtest::Exec(*d, QStringLiteral("insert grid_digits values (%1)").arg(i));
    return d;
  }();
  return *db;
}

const QString kMillion = QStringLiteral(
    "select a.d + 10 * b.d + 100 * c.d + 1000 * e.d + 10000 * f.d + 100000 * g.d as n, "
    "'row text of some length' as t from grid_digits a, grid_digits b, grid_digits c, grid_digits e, "
    "grid_digits f, grid_digits g");

// The same server and tables reached as the other server family ("SQLAnywhere"), whose grid
// reads out what a batch has pending instead of cancelling it.
TQorixDatabase& AnywhereDb() {
  static std::unique_ptr<TQorixDatabase> db = [] {
    Db();
    tabtest::SaConnection how;
    how.appName = QStringLiteral("grid_tests");
    how.rdbms = QStringLiteral("SQLAnywhere");
    return tabtest::ConnectAsSa(QStringLiteral("stopanywhere"), how);
  }();
  return *db;
}

// Ten million rows, and a hundred thousand in groups of ten thousand with a compute row after
// each.
const QString kTenMillion = QStringLiteral(
    "select a.d + 10 * b.d + 100 * c.d + 1000 * e.d + 10000 * f.d + 100000 * g.d + 1000000 * h.d as n "
    "from grid_digits a, grid_digits b, grid_digits c, grid_digits e, grid_digits f, grid_digits g, grid_digits h");
const QString kComputeBy = QStringLiteral(
    "select f.d as k, a.d + 10 * b.d + 100 * c.d + 1000 * e.d as n from grid_digits a, grid_digits b, "
    "grid_digits c, grid_digits e, grid_digits f order by f.d compute count(f.d) by f.d");

struct StopCase {
  const char* name;
  QString sql;
  bool waitForRows;  // stop once rows arrive, else after a short pause
  bool selectOnly = false;
  bool anywhere = false;  // on the "SQLAnywhere" connection
};

// The waits last 30 s, so a Stop that does not reach the server shows far past every bound.
TEST(GridStop, StopEndsLongRunsAndTheGridRunsAgain) {
  const StopCase cases[] = {
      {"waitfor", QStringLiteral("waitfor delay '00:00:30'"), false},
      {"million rows", kMillion, true},
      {"waitfor in a later batch", QStringLiteral("select 1 as one\ngo\nwaitfor delay '00:00:30'\ngo\nselect 2 as two"),
       false},
      {"million rows through a cursor", kMillion, true, true},
      {"compute by", kComputeBy, true},
      {"SQLAnywhere: ten million rows", kTenMillion, true, false, true},
      {"SQLAnywhere: compute by", kComputeBy, true, false, true},
      {"SQLAnywhere: million rows through a cursor", kMillion, true, true, true},
      {"SQLAnywhere: waitfor", QStringLiteral("waitfor delay '00:00:30'"), false, false, true},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    TQorixGrid grid;
    grid.SetDatabase(c.anywhere ? &AnywhereDb() : &Db());
    grid.Background = true;
    grid.SelectOnly = c.selectOnly;
    int terminated = 0;
    grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { ++terminated; };
    grid.SetSQL(c.sql);
    QElapsedTimer run;
    run.start();
    grid.Execute();
    ASSERT_TRUE(grid.Active());
    if (c.waitForRows) ASSERT_TRUE(WaitUntil([&] { return grid.RowCount() > 1000; }));
    else WaitUntil([] { return false; }, 400);
    ASSERT_TRUE(grid.Active()) << "the run ended before Stop";
    QElapsedTimer stop;
    stop.start();
    grid.Stop();
    EXPECT_LT(stop.elapsed(), 2000) << "Stop itself blocks";
    ASSERT_TRUE(WaitUntil([&] { return terminated == 1 && !grid.Active(); }, 5000));
    EXPECT_LT(stop.elapsed(), 5000) << "from Stop to the end of the run";
    EXPECT_LT(run.elapsed(), 15000);
    if (c.waitForRows) {
      EXPECT_LT(grid.RowCount(), 1000000);
    }

    // The same grid and connection run the next script in full.
    grid.SetSQL(QStringLiteral("select 42 as answer"));
    grid.Execute();
    ASSERT_TRUE(WaitUntil([&] { return terminated == 2 && !grid.Active(); }));
    EXPECT_EQ(Lines(grid, 1).mid(0, 3), (QStringList{QStringLiteral(" |answer"), QStringLiteral("1|42"),
                                                     QStringLiteral("|(1 rows affected)")}))
        << grid.LastError().toStdString();
  }
}

TEST(GridStop, SendAttentionCancelsOnlyTheStatementTheWorkerWaitsFor) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.Background = true;
  int terminated = 0;
  grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { ++terminated; };
  grid.SetSQL(QStringLiteral("waitfor delay '00:00:30'\ngo\nselect 2 as two"));
  QElapsedTimer t;
  t.start();
  grid.Execute();
  WaitUntil([] { return false; }, 300);
  ASSERT_TRUE(grid.Active());
  grid.SendAttention();
  ASSERT_TRUE(WaitUntil([&] { return terminated == 1; }, 10000));
  EXPECT_LT(t.elapsed(), 5000);
  // No stop was asked for: the next batch ran.
  EXPECT_TRUE(Lines(grid, 1).contains(QStringLiteral("1|2"))) << Lines(grid, 0).join('/').toStdString();
}

// A cursor opens by running its query to its first row; a count over a hundred million rows
// that tests each of them keeps the open busy for some 25 seconds, far beyond the bound, unless
// the server sees the attention while it opens the cursor.
TEST(GridStop, StopDuringALongCursorOpenEndsTheRun) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.Background = true;
  grid.SelectOnly = true;
  int terminated = 0;
  grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { ++terminated; };
  grid.SetSQL(QStringLiteral("select count(*) as n from grid_digits a, grid_digits b, grid_digits c, grid_digits e, "
                             "grid_digits f, grid_digits g, grid_digits h, grid_digits i "
                             "where (a.d * 7 + b.d * 3 + c.d + e.d * 11 + f.d + g.d * 5 + h.d + i.d) % 13 = 4"));
  grid.Execute();
  WaitUntil([] { return false; }, 500);
  ASSERT_TRUE(grid.Active()) << "the cursor opened at once";
  QElapsedTimer stop;
  stop.start();
  grid.Stop();
  ASSERT_TRUE(WaitUntil([&] { return terminated == 1; }, 60000));
  EXPECT_LT(stop.elapsed(), 5000) << "from Stop to the end of the run";
  // The connection serves the next run.
  grid.SelectOnly = false;
  grid.SetSQL(QStringLiteral("select 42 as answer"));
  grid.Execute();
  ASSERT_TRUE(WaitUntil([&] { return terminated == 2; }));
  EXPECT_EQ(grid.Cell(1, 2), QStringLiteral("42"));
}

// The stop request's cancel belongs to the run it stopped: a run started from that run's end
// event, and waiting for the server, runs to its end.
TEST(GridStop, ARunStartedAtTheEndOfAStoppedRunIsNotCancelled) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.Background = true;
  int terminated = 0;
  QElapsedTimer second;
  grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) {
    if (++terminated > 1) return;
    grid.SetSQL(QStringLiteral("waitfor delay '00:00:01'\nselect 1 as one"));
    second.start();
    grid.Execute();
  };
  grid.SetSQL(kMillion);
  grid.Execute();
  ASSERT_TRUE(WaitUntil([&] { return grid.RowCount() > 1000; }));
  grid.Stop();
  ASSERT_TRUE(WaitUntil([&] { return terminated == 2; }, 20000));
  EXPECT_GE(second.elapsed(), 900) << "the wait was cut short";
  EXPECT_TRUE(Lines(grid, 1).contains(QStringLiteral("1|1"))) << Lines(grid, 0).join('/').toStdString();
}

TEST(GridStop, SecondExecuteDuringARunIsRefused) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.Background = true;
  int terminated = 0;
  grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { ++terminated; };
  grid.SetSQL(QStringLiteral("waitfor delay '00:00:10'"));
  grid.Execute();
  Threadgrid* first = grid.Worker();
  grid.SetSQL(QStringLiteral("select 1"));
  EXPECT_THROW(grid.Execute(), EDatabaseError);
  EXPECT_EQ(grid.Worker(), first) << "the refused run replaced the worker";
  EXPECT_TRUE(grid.Active());
  grid.Stop();
  ASSERT_TRUE(WaitUntil([&] { return terminated == 1; }, 3000));
  EXPECT_FALSE(grid.Active());
}

TEST(GridStop, DestroyingARunningGridStopsAndJoinsItsWorker) {
  const StopCase cases[] = {
      {"waitfor", QStringLiteral("waitfor delay '00:00:30'"), false},
      {"million rows", kMillion, true},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto grid = std::make_unique<TQorixGrid>();
    grid->SetDatabase(&Db());
    grid->Background = true;
    bool called = false;
    grid->OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { called = true; };
    grid->SetSQL(c.sql);
    grid->Execute();
    if (c.waitForRows) ASSERT_TRUE(WaitUntil([&] { return grid->RowCount() > 100; }));
    else WaitUntil([] { return false; }, 300);
    QElapsedTimer t;
    t.start();
    grid.reset();
    EXPECT_LT(t.elapsed(), 5000);
    // Queued calls of the destroyed grid must not run.
    WaitUntil([] { return false; }, 100);
    EXPECT_FALSE(called);
    // The connection serves the next command.
    TQorixGrid next;
    next.SetDatabase(&Db());
    next.SetSQL(QStringLiteral("select 7 as seven"));
    next.Execute();
    EXPECT_EQ(next.Cell(1, 2), QStringLiteral("7"));
  }
}

}  // namespace
