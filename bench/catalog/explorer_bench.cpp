// Measures the explorer and the summary page on a database of many tables, each beside the plain
// model doing the same read in the same run:
//   explorer   expanding the "User Tables" folder in the widget and painting it (the listing
//              included), against the explorer model's own expansion with no widget
//   summary    the folder's summary page filled and painted in its widget, against the page
//              model's own fill
//   memory     the heap one widget expansion holds (the listing's nodes included) and one
//              summary page, beside what the model's own expansion holds
// Figures are tables per second over several rounds (min, median, max) and the ratio of the
// widget's rate to the model's; the seconds of the median round are printed beside them.
// Usage: explorer_bench [tables] [rounds]   (defaults 10000 and 5), on the offscreen platform
// unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>

#include "bench/support/figures.h"
#include "bench/support/local_server.h"
#include "catalog/views/QxListPageView.h"
#include "catalog/views/QxPgSummary.h"
#include "catalog/views/QxSvrExploreView.h"
#include "tests/support/sa_connection.h"

namespace {

using tabbench::Clock;
using tabbench::secondsSince;

const QString kDatabase = QStringLiteral("explorer_bench");
constexpr int kUserTables = 3;  // position of the "User Tables" folder

// The heap the program holds now, in megabytes (allocated blocks, mapped ones included), so a
// figure is what the measured objects hold whatever the allocator kept from earlier rounds.
double heapMegabytes() {
  const struct mallinfo2 m = mallinfo2();
  return double(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
}

// The explorer model's own expansion of the folder; returns seconds; MemoryMb gets the heap the
// listed nodes hold.
double modelExpand(TQorixDatabase& db, int tables, double* memoryMb = nullptr) {
  TQxSvrExplore tree;
  tree.SetDatabase(&db);
  tree.LoadServer(kDatabase);
  const double before = heapMegabytes();
  auto start = Clock::now();
  tree.NodeExpanding(tree.Item(0)->Child(kUserTables));
  const double s = secondsSince(start);
  if (memoryMb) *memoryMb = heapMegabytes() - before;
  if (tree.Item(0)->Child(kUserTables)->Count() != tables) {
    std::fprintf(stderr, "the model listed %d tables, not %d\n", tree.Item(0)->Child(kUserTables)->Count(), tables);
    std::exit(2);
  }
  return s;
}

// The widget expanding the database and the folder and painting it; returns seconds; MemoryMb
// gets the heap the view and the listed nodes hold.
double widgetExpand(TQorixDatabase& db, int tables, double* memoryMb) {
  TQxSvrExplore tree;
  tree.SetDatabase(&db);
  tree.LoadServer(kDatabase);
  TQxSvrExploreView view(&tree);
  view.resize(260, 700);
  view.show();
  QCoreApplication::processEvents();
  view.ExpandNode(tree.Item(0));
  view.repaint();
  const double before = heapMegabytes();
  auto start = Clock::now();
  view.ExpandNode(tree.Item(0)->Child(kUserTables));
  view.repaint();
  QCoreApplication::processEvents();
  const double s = secondsSince(start);
  if (memoryMb) *memoryMb = heapMegabytes() - before;
  if (view.model()->rowCount(view.IndexOf(tree.Item(0)->Child(kUserTables))) != tables) {
    std::fprintf(stderr, "the widget shows a folder of another size\n");
    std::exit(2);
  }
  return s;
}

// The summary page model's own fill of the folder; returns seconds.
double modelSummary(TQorixDatabase& db, int tables) {
  TQxPgSummary page;
  page.SetDatabase(&db);
  auto start = Clock::now();
  page.Show(kDatabase, okUserTable, QString());
  const double s = secondsSince(start);
  if (page.Contents().ItemCount() != tables) {
    std::fprintf(stderr, "the summary holds %d rows, not %d\n", page.Contents().ItemCount(), tables);
    std::exit(2);
  }
  return s;
}

// The summary page filled and painted in its widget; returns seconds.
double widgetSummary(TQorixDatabase& db, int tables, double* memoryMb) {
  TQxPgSummary page;
  page.SetDatabase(&db);
  TQxListPageView view(&page);
  view.resize(600, 700);
  view.show();
  QCoreApplication::processEvents();
  const double before = heapMegabytes();
  auto start = Clock::now();
  page.Show(kDatabase, okUserTable, QString());
  view.repaint();
  QCoreApplication::processEvents();
  const double s = secondsSince(start);
  if (memoryMb) *memoryMb = heapMegabytes() - before;
  if (view.topLevelItemCount() != tables) {
    std::fprintf(stderr, "the summary widget shows %d rows, not %d\n", view.topLevelItemCount(), tables);
    std::exit(2);
  }
  return s;
}

void printSeconds(const char* what, const tabbench::Comparison& c, int tables) {
  std::printf("%-10s seconds of the median round: widget %.3f, model %.3f\n\n", what, tables / c.ours.median(),
              tables / c.reference.median());
}

}  // namespace

int main(int argc, char** argv) {
  tabbench::defaultToOffscreen();
  QApplication app(argc, argv);
  const int tables = tabbench::intArgument(argc, argv, 1, 10000);
  const int rounds = tabbench::intArgument(argc, argv, 2, 5);
  tabbench::localServer();
  auto db = tabbench::connectSa(QStringLiteral("explorer_bench"));
  {
    auto start = Clock::now();
    tabtest::ExecSetup(*db, QStringLiteral("create database ") + kDatabase);
    db->SetDbName(kDatabase);
    for (int first = 0; first < tables; first += 500) {
      QString batch;
      for (int i = first; i < std::min(tables, first + 500); ++i)
        batch += QStringLiteral("create table table_%1 (id int not null, name varchar(20) null)\n").arg(i, 5, 10, QLatin1Char('0'));
      tabtest::ExecSetup(*db, batch);
    }
    db->SetDbName(QStringLiteral("sample"));
    std::printf("%d tables made in %.1f s; %d rounds\n\n", tables, secondsSince(start), rounds);
  }
  // The connection stays in sample, as the program's does while a DBA browses another database.
  double widgetMemory = 0, summaryMemory = 0;
  double modelMemory = 0;
  modelExpand(*db, tables, &modelMemory);
  const auto rate = [tables](double seconds) { return seconds > 0 ? tables / seconds : 0.0; };
  bool first = true;
  const tabbench::Comparison explorer = tabbench::compare(
      "explorer", "tables/s", rounds,
      [&] {
        const double s = widgetExpand(*db, tables, first ? &widgetMemory : nullptr);
        first = false;
        return rate(s);
      },
      [&] { return rate(modelExpand(*db, tables)); }, "model");
  printSeconds("explorer", explorer, tables);
  first = true;
  const tabbench::Comparison summary = tabbench::compare(
      "summary", "tables/s", rounds,
      [&] {
        const double s = widgetSummary(*db, tables, first ? &summaryMemory : nullptr);
        first = false;
        return rate(s);
      },
      [&] { return rate(modelSummary(*db, tables)); }, "model");
  printSeconds("summary", summary, tables);
  std::printf("memory     heap held after the first round's expansion: widget %.1f MB, model alone %.1f MB; "
              "summary page in its widget %.1f MB\n",
              widgetMemory, modelMemory, summaryMemory);
  tabbench::printLoadAverage();
  return 0;
}
