// Measures how fast a server dataset stores a result beside bsqldb reading the same query to
// /dev/null, both against one local server started by this run, and prints rows/s of each
// with min, median and max of several rounds and the ratio ours/bsqldb.
//   cursor   TQxQuery with its client cursor (FetchRows 250), opened and scrolled to the end
//   direct   TQxQuery without cursor, the same
// Usage: server_dataset_bench [rows] [rounds]   (defaults 200000 and 3)
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "dataset/server/QxQuery.h"
#include "tests/support/server_fixture.h"

namespace {
using Clock = std::chrono::steady_clock;
double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct Figures {
  std::vector<double> v;
  double min() const { return *std::min_element(v.begin(), v.end()); }
  double max() const { return *std::max_element(v.begin(), v.end()); }
  double median() const {
    std::vector<double> s = v;
    std::sort(s.begin(), s.end());
    return s[s.size() / 2];
  }
};

const char* kQuery = "select id, grp, name, ratio, stamp, price from bench_rows";

void exec(TQorixDatabase& db, const QString& sql) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.SetSQL(sql);
  q.ExecSQL();
}

double datasetRate(bool cursor, int rows) {
  TQxQuery q;
  q.SetName(QStringLiteral("bench_q"));
  q.DbName = QStringLiteral("bench");
  q.UseQorixCursor = cursor;
  q.FetchRows = 250;
  q.SetSQL(QString::fromLatin1(kQuery));
  const auto start = Clock::now();
  q.Open();
  q.Last();
  const double rate = q.Store().Count() / seconds(start);
  if (q.Store().Count() != rows) std::fprintf(stderr, "stored %d of %d rows\n", q.Store().Count(), rows);
  return rate;
}

double bsqldbRate(int rows) {
  const std::string input = "/tmp/server_dataset_bench.sql";
  {
    std::ofstream f(input);
    f << kQuery << "\ngo\n";
  }
  const auto start = Clock::now();
  const std::string cmd = "bsqldb -S DSQUERY -U sa -P '' -D sample -i " + input + " -o /dev/null -e /dev/null";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "bsqldb failed\n");
    return 0;
  }
  return rows / seconds(start);
}

void compare(const char* name, int rounds, const std::function<double()>& ours, const std::function<double()>& ref) {
  Figures a, b, r;
  for (int i = 0; i < rounds; ++i) {
    const double x = ours();
    const double y = ref();
    a.v.push_back(x);
    b.v.push_back(y);
    r.v.push_back(y > 0 ? x / y : 0);
  }
  std::printf("%-8s rows/s ours   min %10.0f  median %10.0f  max %10.0f\n", name, a.min(), a.median(), a.max());
  std::printf("%-8s rows/s bsqldb min %10.0f  median %10.0f  max %10.0f\n", "", b.min(), b.median(), b.max());
  std::printf("%-8s ratio ours/bsqldb  min %.3f  median %.3f  max %.3f\n\n", "", r.min(), r.median(), r.max());
  std::fflush(stdout);
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 200000;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  tabtest::ServerFixture server;
  TQorixDatabase db;
  db.SetName(QStringLiteral("bench"));
  db.LoginPrompt = false;
  db.UserName = QStringLiteral("sa");
  db.ServerName = QStringLiteral("DSQUERY");
  db.ShowDbMessages = TShowDbMessages{};
  db.Connect();
  if (!db.Connected()) {
    std::fprintf(stderr, "login failed\n");
    return 2;
  }
  db.SetDbName(QStringLiteral("sample"));
  exec(db, QStringLiteral("create table bench_digits (d int not null)"));
  for (int d = 0; d < 10; ++d) exec(db, QStringLiteral("insert bench_digits values (%1)").arg(d));
  exec(db, QStringLiteral("create table bench_rows (id int not null, grp int not null, name varchar(20) not null, "
                          "ratio float not null, stamp datetime not null, price money not null)"));
  exec(db, QStringLiteral("insert bench_rows select n, n % 1000, 'name ' + convert(varchar(12), n), n * 0.25, "
                          "dateadd(ss, n % 86400, '20240101'), convert(money, n % 5000) from (select a.d + 10 * b.d "
                          "+ 100 * c.d + 1000 * e.d + 10000 * f.d + 100000 * g.d as n from bench_digits a, "
                          "bench_digits b, bench_digits c, bench_digits e, bench_digits f, bench_digits g) x "
                          "where n < %1")
                   .arg(rows));
  std::printf("server dataset rows into the store, %d rows of 6 columns, %d rounds\n\n", rows, rounds);
  compare("cursor", rounds, [&] { return datasetRate(true, rows); }, [&] { return bsqldbRate(rows); });
  compare("direct", rounds, [&] { return datasetRate(false, rows); }, [&] { return bsqldbRate(rows); });
  return 0;
}
