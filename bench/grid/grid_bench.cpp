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
#include <functional>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "access/QorixDatabase.h"
#include "catalog/grid/QorixGrid.h"
#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct Figures {
  std::vector<double> values;
  double min() const { return *std::min_element(values.begin(), values.end()); }
  double max() const { return *std::max_element(values.begin(), values.end()); }
  double median() const {
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
};

void check(const tabtest::CtBatch& batch, const std::string& what) {
  if (batch.failed || batch.firstError()) {
    std::fprintf(stderr, "%s failed: %s\n", what.c_str(),
                 batch.firstError() ? batch.firstError()->text.c_str() : "(no message)");
    std::exit(2);
  }
}

const char* kCreate =
    "create table big (id int not null, grp int not null, name varchar(20) not null, code char(10) not null, "
    "ratio float not null, amount numeric(12,2) not null, stamp datetime not null, price money not null, "
    "small smallint not null, note varchar(60) not null)";

const char* kFill =
    "insert big select n, n % 1000, 'name ' + convert(varchar(12), n), 'c' + convert(varchar(9), n % 97), "
    "n * 0.25, convert(numeric(12,2), n % 100000) / 100, dateadd(ss, n % 86400, '20240101'), "
    "convert(money, n % 5000), n % 30000, 'a somewhat longer text of row ' + convert(varchar(12), n) "
    "from (select a.d + 10 * b.d + 100 * c.d + 1000 * e.d + 10000 * f.d + 100000 * g.d + "
    "1000000 * h.d as n from digits a, digits b, digits c, digits e, digits f, digits g, digits h) x "
    "where n < ";

const char* kQuery = "select * from big";

// bsqldb reading the query to /dev/null; returns seconds.
double bsqldbSeconds() {
  static const std::string input = "/tmp/grid_bench_query.sql";
  {
    std::ofstream f(input);
    f << kQuery << "\ngo\n";
  }
  auto start = Clock::now();
  std::string cmd = "bsqldb -S DSQUERY -U sa -P '' -D sample -i " + input + " -o /dev/null -e /dev/null";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "bsqldb failed\n");
    std::exit(2);
  }
  return seconds(start);
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
  out.seconds = seconds(start);
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
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;

  tabtest::ServerFixture server;
  std::printf("grid_bench: %d rows x 10 columns, %d rounds, %u cores\n\n", rows, rounds,
              std::thread::hardware_concurrency());
  {
    tabtest::CtClient setup;
    if (!setup.connect()) return 2;
    check(setup.run("use sample"), "use");
    check(setup.run("create table digits (d int not null)"), "digits");
    for (int d = 0; d < 10; ++d) check(setup.run("insert digits values (" + std::to_string(d) + ")"), "digit");
    check(setup.run(kCreate), "create big");
    check(setup.run(std::string(kFill) + std::to_string(rows)), "fill big");
  }

  TQorixDatabase db;
  db.SetName(QStringLiteral("bench"));
  db.LoginPrompt = false;
  db.UserName = QStringLiteral("sa");
  db.ServerName = QStringLiteral("DSQUERY");
  db.AppName = QStringLiteral("grid_bench");
  db.ShowDbMessages = TShowDbMessages{};
  db.Connect();
  if (!db.Connected()) {
    std::fprintf(stderr, "login failed\n");
    return 2;
  }
  db.SetDbName(QStringLiteral("sample"));

  TQorixGrid grid;
  grid.SetDatabase(&db);
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
    gridRate.values.push_back(rows / g.seconds);
    refRate.values.push_back(rows / ref);
    timeRatio.values.push_back(g.seconds / ref);
    gaps.values.push_back(g.longestGapMs);
    refGaps.values.push_back(refGap);
    refreshMs.values.push_back(g.longestRefreshMs);
    refreshes += g.refreshes;
  }
  std::printf("grid      rows/s  min %10.0f  median %10.0f  max %10.0f\n", gridRate.min(), gridRate.median(),
              gridRate.max());
  std::printf("bsqldb    rows/s  min %10.0f  median %10.0f  max %10.0f\n", refRate.min(), refRate.median(),
              refRate.max());
  std::printf("time grid/bsqldb  min %10.3f  median %10.3f  max %10.3f   (goal at most 1.5)\n", timeRatio.min(),
              timeRatio.median(), timeRatio.max());
  std::printf("gui gap   ms      min %10.1f  median %10.1f  max %10.1f   (goal under 50)\n", gaps.min(),
              gaps.median(), gaps.max());
  std::printf("  idle    ms      min %10.1f  median %10.1f  max %10.1f   (GUI thread idle while bsqldb runs)\n",
              refGaps.min(), refGaps.median(), refGaps.max());
  std::printf("  refresh ms      min %10.1f  median %10.1f  max %10.1f   (longest model refresh; %d refreshes "
              "in all)\n",
              refreshMs.min(), refreshMs.median(), refreshMs.max(), refreshes);
  std::printf("load average at the end: ");
  std::fflush(stdout);
  std::system("cut -d' ' -f1-3 /proc/loadavg");
  return 0;
}
