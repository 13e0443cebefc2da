// bsqldb, the table `big` and the sa connection shared by the benchmarks against the local server.
#include "bench/support/local_server.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "bench/support/figures.h"
#include "tests/support/sa_connection.h"

namespace tabbench {

tabtest::ServerFixture& localServer() { return tabtest::SharedServer(); }

std::optional<double> bsqldbSeconds(const std::string& sql, const std::string& database) {
  localServer();
  // A file of its own per call, so two benchmarks running at once never read each other's query.
  char path[] = "/tmp/tabulon_bench_XXXXXX.sql";
  const int fd = mkstemps(path, 4);
  if (fd < 0) return std::nullopt;
  const std::string input = sql + "\ngo\n";
  const bool written = write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
  close(fd);
  std::optional<double> took;
  if (written) {
    const std::string cmd = "bsqldb -S DSQUERY -U sa -P '' -D " + database + " -i " + path +
                            " -o /dev/null -e /dev/null";
    const auto start = Clock::now();
    if (std::system(cmd.c_str()) == 0) took = secondsSince(start);
  }
  unlink(path);
  if (!took) std::fprintf(stderr, "bsqldb failed\n");
  return took;
}

void check(const tabtest::CtBatch& batch, const std::string& what) {
  if (batch.failed || batch.firstError()) {
    std::fprintf(stderr, "%s failed: %s\n", what.c_str(),
                 batch.firstError() ? batch.firstError()->text.c_str() : "(no message)");
    std::exit(2);
  }
}

void createBigTable(tabtest::CtClient& setup) {
  check(setup.run("create table digits (d int not null)"), "digits");
  for (int d = 0; d < 10; ++d) check(setup.run("insert digits values (" + std::to_string(d) + ")"), "digit");
  check(setup.run("create table big (id int not null, grp int not null, name varchar(20) not null, "
                  "code char(10) not null, ratio float not null, amount numeric(12,2) not null, "
                  "stamp datetime not null, price money not null, small smallint not null, "
                  "note varchar(60) not null)"),
        "create big");
}

void fillBigTable(tabtest::CtClient& setup, int rows) {
  check(setup.run("insert big select n, n % 1000, 'name ' + convert(varchar(12), n), "
                  "'c' + convert(varchar(9), n % 97), n * 0.25, convert(numeric(12,2), n % 100000) / 100, "
                  "dateadd(ss, n % 86400, '20240101'), convert(money, n % 5000), n % 30000, "
                  "'a somewhat longer text of row ' + convert(varchar(12), n) "
                  "from (select a.d + 10 * b.d + 100 * c.d + 1000 * e.d + 10000 * f.d + 100000 * g.d + "
                  "1000000 * h.d as n from digits a, digits b, digits c, digits e, digits f, digits g, "
                  "digits h) x where n < " +
                  std::to_string(rows)),
        "fill big");
}

std::unique_ptr<TQorixDatabase> connectSa(const QString& name, const QString& appName, int packetSize) {
  std::unique_ptr<TQorixDatabase> db = tabtest::SaDatabase(name, appName);
  if (packetSize > 0) db->SetPacketSize(packetSize);
  db->Connect();
  if (!db->Connected()) {
    std::fprintf(stderr, "login failed\n");
    std::exit(2);
  }
  db->SetDbName(QStringLiteral("sample"));
  return db;
}

}  // namespace tabbench
