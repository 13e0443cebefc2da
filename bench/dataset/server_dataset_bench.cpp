// Measures how fast a server dataset stores a result beside bsqldb reading the same query to
// /dev/null, both against one local server started by this run, and prints rows/s of each
// with min, median and max of several rounds and the ratio ours/bsqldb.
//   cursor   TQxQuery with its client cursor (FetchRows 250), opened and scrolled to the end
//   direct   TQxQuery without cursor, the same
// Usage: server_dataset_bench [rows] [rounds]   (defaults 200000 and 3)
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bench/support/figures.h"
#include "bench/support/local_server.h"
#include "dataset/server/QxQuery.h"
#include "tests/support/sa_connection.h"

namespace {

const char* kQuery = "select id, grp, name, ratio, stamp, price from bench_rows";

double datasetRate(bool cursor, int rows) {
  TQxQuery q;
  q.SetName(QStringLiteral("bench_q"));
  q.DbName = QStringLiteral("bench");
  q.UseQorixCursor = cursor;
  q.FetchRows = 250;
  q.SetSQL(QString::fromLatin1(kQuery));
  const auto start = tabbench::Clock::now();
  q.Open();
  q.Last();
  const double rate = q.Store().Count() / tabbench::secondsSince(start);
  if (q.Store().Count() != rows) std::fprintf(stderr, "stored %d of %d rows\n", q.Store().Count(), rows);
  return rate;
}

double bsqldbRate(int rows) {
  const std::optional<double> took = tabbench::bsqldbSeconds(kQuery);
  return took ? rows / *took : 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rows = tabbench::intArgument(argc, argv, 1, 200000);
  const int rounds = std::max(1, tabbench::intArgument(argc, argv, 2, 3));
  std::unique_ptr<TQorixDatabase> db = tabbench::connectSa(QStringLiteral("bench"));
  tabtest::ExecSetup(*db, QStringLiteral("create table bench_digits (d int not null)"));
  for (int d = 0; d < 10; ++d) tabtest::ExecSetup(*db, QStringLiteral("insert bench_digits values (%1)").arg(d));
  tabtest::ExecSetup(*db, QStringLiteral("create table bench_rows (id int not null, grp int not null, name "
                                         "varchar(20) not null, ratio float not null, stamp datetime not null, "
                                         "price money not null)"));
  tabtest::ExecSetup(*db, QStringLiteral("insert bench_rows select n, n % 1000, 'name ' + convert(varchar(12), n), "
                                         "n * 0.25, dateadd(ss, n % 86400, '20240101'), convert(money, n % 5000) "
                                         "from (select a.d + 10 * b.d + 100 * c.d + 1000 * e.d + 10000 * f.d + "
                                         "100000 * g.d as n from bench_digits a, bench_digits b, bench_digits c, "
                                         "bench_digits e, bench_digits f, bench_digits g) x where n < %1")
                              .arg(rows));
  std::printf("server dataset rows into the store, %d rows of 6 columns, %d rounds\n\n", rows, rounds);
  tabbench::compare("cursor", "rows/s", rounds, [&] { return datasetRate(true, rows); },
                    [&] { return bsqldbRate(rows); }, "bsqldb");
  tabbench::compare("direct", "rows/s", rounds, [&] { return datasetRate(false, rows); },
                    [&] { return bsqldbRate(rows); }, "bsqldb");
  tabbench::printLoadAverage();
  return 0;
}
