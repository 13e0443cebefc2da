// Measures how the local server's statements cost as a database's catalogue grows, each figure
// beside its reference in the same run, with min, median and max of several rounds:
//   create   CREATE TABLE in ten batches of [tables / 10] statements into one new database: the
//            time of each batch, and the last batch's against the first's (flat is 1)
//   inserts  batched inserts (one language batch of [inserts] single-row INSERTs into one table)
//            in that database of [tables] tables, vs the same batch in a database of 10 tables
// Usage: catalog_bench [tables] [inserts] [rounds] [figures]   (defaults 10000, 1000, 5 and both
// figures; the create figure always runs, as it makes the large database)
#include <cstdio>
#include <string>

#include "bench/support/figures.h"
#include "bench/support/local_server.h"
#include "tests/support/ct_client.h"

namespace {

using tabbench::Clock;
using tabbench::secondsSince;

// Makes `count` tables t0 ... in `database` in one batch per `perBatch`; the seconds of each batch.
tabbench::Figures createTables(tabtest::CtClient& c, const std::string& database, int count, int perBatch) {
  tabbench::Figures batches;
  for (int first = 0; first < count; first += perBatch) {
    std::string batch = "use " + database + " ";
    for (int i = first; i < first + perBatch && i < count; ++i)
      batch += "create table t" + std::to_string(i) + " (id int not null, name varchar(20) null, v int null) ";
    auto start = Clock::now();
    tabbench::check(c.run(batch), "create tables in " + database);
    batches.add(secondsSince(start));
  }
  return batches;
}

// Inserts per second of one batch of `inserts` single-row INSERTs into `database`..t5.
double batchedInserts(tabtest::CtClient& c, const std::string& database, int inserts, int round) {
  std::string batch = "use " + database + " ";
  for (int i = 0; i < inserts; ++i) {
    const std::string n = std::to_string(round * inserts + i);
    batch += "insert t5 values (" + n + ", 'row " + n + "', " + std::to_string(i % 97) + ") ";
  }
  auto start = Clock::now();
  tabbench::check(c.run(batch), "inserts into " + database);
  return inserts / secondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  const int tables = tabbench::intArgument(argc, argv, 1, 10000);
  const int inserts = tabbench::intArgument(argc, argv, 2, 1000);
  const int rounds = tabbench::intArgument(argc, argv, 3, 5);
  const tabbench::FigureList figures(argc, argv, 4);
  tabbench::localServer();
  tabtest::CtClient c;
  if (!c.connect()) return 2;
  std::printf("catalog_bench: %d tables, batches of %d inserts, %d rounds\n\n", tables, inserts, rounds);

  tabbench::check(c.run("create database wide"), "create database wide");
  tabbench::check(c.run("create database narrow"), "create database narrow");
  const int perBatch = tables >= 10 ? tables / 10 : 1;
  tabbench::Figures batches = createTables(c, "wide", tables, perBatch);
  for (size_t i = 0; i < batches.values.size(); ++i)
    std::printf("create     batch %2zu of %d CREATE TABLE: %.3f s\n", i + 1, perBatch, batches.values[i]);
  const double first = batches.values.front(), last = batches.values.back();
  std::printf("create     last batch vs first: %.3f s vs %.3f s, ratio %.2f (flat is 1)\n\n", last, first,
              first > 0 ? last / first : 0);
  createTables(c, "narrow", 10, 10);

  if (figures.wanted("inserts")) {
    int round = 0;
    tabbench::compare(
        "inserts", "ins/s", rounds, [&] { return batchedInserts(c, "wide", inserts, round++); },
        [&] { return batchedInserts(c, "narrow", inserts, round++); }, "10 tables");
  }
  tabbench::printLoadAverage();
  return 0;
}
