// Measures the result grid against FreeTDS's bsqldb on the same machine in the same run:
//   rows/s   a 10-column select laid into the grid's cells by its background worker (from
//            Execute to OnThreadTerminate, the view showing the grid), vs bsqldb reading the
//            same query to /dev/null; printed as min, median and max of several rounds and
//            as the ratio of the two times
//   gui gap  the longest time between two GUI-thread timer events while the worker runs,
//            beside the same measure while bsqldb runs and the GUI thread has nothing to do
// Usage: grid_bench [rows] [rounds]   (defaults 100000 and 5); GRID_BENCH_NO_VIEW=1 leaves the view
// hidden, which shows how much of the gap is painting
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "bench/support/figures.h"
#include "bench/support/local_server.h"
#include "catalog/grid/QorixGrid.h"
#include "tests/support/ct_client.h"

namespace {

using tabbench::Clock;
using tabbench::Figures;

const char* kQuery = "select * from big";

// bsqldb reading the query to /dev/null; returns seconds.
double bsqldbSeconds() {
  const std::optional<double> took = tabbench::bsqldbSeconds(kQuery);
  if (!took) std::exit(2);
  return *took;
}

struct GridRound {
  double seconds = 0;
  double longestGapMs = 0;
  double longestRefreshMs = 0;
  int refreshes = 0;
  int cellRows = 0;
};

// The longest gap between 1 ms timer events on the GUI thread while Running() holds.
double longestGapWhile(const std::function<bool()>& running) {
  QElapsedTimer sinceTick;
  qint64 longest = 0;
  QTimer ticker;
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longest = std::max(longest, sinceTick.nsecsElapsed());
    sinceTick.restart();
  });
  sinceTick.start();
  ticker.start();
  while (running()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  return longest / 1e6;
}

// One background run of the query on Grid, the event loop running meanwhile.
GridRound gridRound(TQorixGrid& grid) {
  GridRound out;
  bool done = false;
  grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { done = true; };
  QElapsedTimer refresh;
  const int refreshesBefore = grid.Model()->RefreshCount();
  QMetaObject::Connection c1 = QObject::connect(grid.Model(), &QAbstractItemModel::rowsAboutToBeInserted,
                                                [&] { refresh.start(); });
  QMetaObject::Connection c2 = QObject::connect(grid.Model(), &TGridCellModel::Refreshed, [&] {
    if (refresh.isValid()) out.longestRefreshMs = std::max(out.longestRefreshMs, refresh.nsecsElapsed() / 1e6);
    refresh.invalidate();
  });
  grid.SetSQL(QString::fromLatin1(kQuery));
  auto start = Clock::now();
  grid.Execute();
  out.longestGapMs = longestGapWhile([&] { return !done; });
  out.seconds = tabbench::secondsSince(start);
  QObject::disconnect(c1);
  QObject::disconnect(c2);
  out.refreshes = grid.Model()->RefreshCount() - refreshesBefore;
  out.cellRows = grid.RowCount();
  return out;
}

// bsqldb run on a thread while the GUI thread only measures its timer gaps: the machine's
// own gap under the same load.
double bsqldbWithGap(double& gapMs) {
  std::atomic<bool> running{true};
  double secs = 0;
  std::thread t([&] {
    secs = bsqldbSeconds();
    running.store(false);
  });
  gapMs = longestGapWhile([&] { return running.load(); });
  t.join();
  return secs;
}

}  // namespace

int main(int argc, char** argv) {
  tabbench::defaultToOffscreen();
  QApplication app(argc, argv);
  const int rows = tabbench::intArgument(argc, argv, 1, 100000);
  const int rounds = tabbench::intArgument(argc, argv, 2, 5);

  tabbench::localServer();
  std::printf("grid_bench: %d rows x 10 columns, %d rounds, %u cores\n\n", rows, rounds,
              std::thread::hardware_concurrency());
  {
    tabtest::CtClient setup;
    if (!setup.connect()) return 2;
    tabbench::check(setup.run("use sample"), "use");
    tabbench::createBigTable(setup);
    tabbench::fillBigTable(setup, rows);
  }

  std::unique_ptr<TQorixDatabase> db = tabbench::connectSa(QStringLiteral("bench"), QStringLiteral("grid_bench"));

  TQorixGrid grid;
  grid.SetDatabase(db.get());
  grid.Background = true;
  TQorixGridView view(&grid);
  view.resize(900, 600);
  if (!qEnvironmentVariableIsSet("GRID_BENCH_NO_VIEW")) view.show();

  Figures gridRate, refRate, timeRatio, gaps, refGaps, refreshMs;
  int refreshes = 0;
  for (int i = 0; i < rounds; ++i) {
    const GridRound g = gridRound(grid);
    double refGap = 0;
    const double ref = bsqldbWithGap(refGap);
    if (g.cellRows < rows) {
      std::fprintf(stderr, "the grid holds %d rows, expected at least %d\n", g.cellRows, rows);
      return 2;
    }
    gridRate.add(rows / g.seconds);
    refRate.add(rows / ref);
    timeRatio.add(g.seconds / ref);
    gaps.add(g.longestGapMs);
    refGaps.add(refGap);
    refreshMs.add(g.longestRefreshMs);
    refreshes += g.refreshes;
  }
  tabbench::printFigures("grid      rows/s ", gridRate, 0);
  tabbench::printFigures("bsqldb    rows/s ", refRate, 0);
  tabbench::printFigures("time grid/bsqldb ", timeRatio, 3, 0, "   (goal at most 1.5)");
  tabbench::printFigures("gui gap   ms     ", gaps, 1, 0, "   (goal under 50)");
  tabbench::printFigures("  idle    ms     ", refGaps, 1, 0, "   (GUI thread idle while bsqldb runs)");
  tabbench::printFigures("  refresh ms     ", refreshMs, 1, 0,
                         "   (longest model refresh; " + std::to_string(refreshes) + " refreshes in all)");
  tabbench::printLoadAverage();
  return 0;
}
