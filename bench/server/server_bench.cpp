// Measures the local server and the command engine against references run on the same machine
// in the same process run, and prints each figure as a ratio with min, median and max of several
// rounds:
//   emit      rows/s of a 10-column select read by bsqldb to /dev/null, vs SQLite stepping the
//             same rows (every column as text) through its C API on a copy of the same data
//   emit-cpu  the same select as rows per second of the server's own CPU time, vs SQLite's rows
//             per second of CPU time: what the server spends per row whatever the client's speed
//             (bsqldb, a single-threaded client, bounds the wall-clock figure above)
//   point     point selects/s on one session and on eight, vs SQLite in-process
//   roundtrip `select 1` round trip vs a loopback TCP echo of the same bytes
//   prepared  prepared inserts in one transaction vs SQLite prepared inserts
//   engine    TQorixEnhQuery reading every row as text vs bsqldb to /dev/null
//   memory    the server's peak resident memory while INSERT ... SELECT copies the big table
//   engine-big the same read over a connection that asked for a larger packet size (bsqldb keeps
//             its default packets)
// Usage: server_bench [rows] [rounds] [packet] [figures]   (defaults 1000000, 3, 8192 and every
// figure; figures is a comma-separated list of the names above, the memory figure always runs)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "access/ctlib/ctlib.h"
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

// Runs `ours` and `reference` alternately `rounds` times; each returns a rate (higher is better).
void compare(const char* name, const char* unit, int rounds, const std::function<double()>& ours,
             const std::function<double()>& reference, const char* referenceName) {
  Figures a, b, ratio;
  for (int i = 0; i < rounds; ++i) {
    double x = ours();
    double y = reference();
    a.values.push_back(x);
    b.values.push_back(y);
    ratio.values.push_back(y > 0 ? x / y : 0);
  }
  std::printf("%-10s %-9s ours   min %12.0f  median %12.0f  max %12.0f\n", name, unit, a.min(), a.median(), a.max());
  std::printf("%-10s %-9s %-6.6s min %12.0f  median %12.0f  max %12.0f\n", "", unit, referenceName, b.min(),
              b.median(), b.max());
  std::printf("%-10s ratio ours/%s  min %.3f  median %.3f  max %.3f\n\n", "", referenceName, ratio.min(),
              ratio.median(), ratio.max());
  std::fflush(stdout);
}

void check(const tabtest::CtBatch& batch, const std::string& what) {
  if (batch.failed || batch.firstError()) {
    std::fprintf(stderr, "%s failed: %s\n", what.c_str(),
                 batch.firstError() ? batch.firstError()->text.c_str() : "(no message)");
    std::exit(2);
  }
}

// The big table's rows as both the server and the SQLite copy compute them from a row number n.
// Values are stored the way the server stores them: numbers natively, money and numeric as
// decimal text, datetime as fixed text.
const char* kServerFill =
    "insert big select n, n % 1000, 'name ' + convert(varchar(12), n), 'c' + convert(varchar(9), n % 97), "
    "n * 0.25, convert(numeric(12,2), n % 100000) / 100, dateadd(ss, n % 86400, '20240101'), "
    "convert(money, n % 5000), n % 30000, 'a somewhat longer text of row ' + convert(varchar(12), n) "
    "from (select a.d + 10 * b.d + 100 * c.d + 1000 * e.d + 10000 * f.d + 100000 * g.d + "
    "1000000 * h.d as n from digits a, digits b, digits c, digits e, digits f, digits g, digits h) x "
    "where n < ";

const char* kCreate =
    "create table big (id int not null, grp int not null, name varchar(20) not null, code char(10) not null, "
    "ratio float not null, amount numeric(12,2) not null, stamp datetime not null, price money not null, "
    "small smallint not null, note varchar(60) not null)";

// The same rows in a plain SQLite file, made with a recursive CTE.
void makeSqliteCopy(sqlite3* db, int rows) {
  sqlite3_exec(db,
               "CREATE TABLE big (id INTEGER, grp INTEGER, name TEXT, code TEXT, ratio REAL, amount TEXT, "
               "stamp TEXT, price TEXT, small INTEGER, note TEXT)",
               nullptr, nullptr, nullptr);
  std::string sql =
      "WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n + 1 < " + std::to_string(rows) +
      ") INSERT INTO big SELECT n, n % 1000, 'name ' || n, substr('c' || (n % 97) || '          ', 1, 10), "
      "n * 0.25, printf('%.2f', (n % 100000) / 100.0), "
      "strftime('%Y-%m-%d %H:%M:%S.000', '2024-01-01', '+' || (n % 86400) || ' seconds'), "
      "printf('%.4f', n % 5000), n % 30000, 'a somewhat longer text of row ' || n FROM s";
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite copy: %s\n", err);
    std::exit(2);
  }
  sqlite3_exec(db, "CREATE UNIQUE INDEX big_id ON big(id)", nullptr, nullptr, nullptr);
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// User plus system CPU time of process `pid` so far (clock-tick resolution, 10 ms here).
double processCpuSeconds(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t close = all.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(all.substr(close + 1));
  std::string field;
  double utime = 0, stime = 0;
  // After the command name come the state (field 3) and, as fields 14 and 15, utime and stime.
  for (int n = 3; n <= 15 && rest >> field; ++n) {
    if (n == 14) utime = std::atof(field.c_str());
    if (n == 15) stime = std::atof(field.c_str());
  }
  return (utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// SQLite stepping every row of the big table with every column as text; rows per second of wall
// time, or of this thread's CPU time when `cpu` is set.
double sqliteScan(sqlite3* db, bool cpu = false) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM big", -1, &st, nullptr);
  auto start = Clock::now();
  const double cpuStart = threadCpuSeconds();
  long rows = 0;
  size_t bytes = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    for (int c = 0; c < 10; ++c) {
      const unsigned char* t = sqlite3_column_text(st, c);
      bytes += t ? static_cast<size_t>(sqlite3_column_bytes(st, c)) : 0;
    }
    ++rows;
  }
  double rate = rows / (cpu ? threadCpuSeconds() - cpuStart : seconds(start));
  sqlite3_finalize(st);
  return bytes ? rate : 0;
}

// bsqldb reading `sql` to /dev/null; returns rows/s.
double bsqldbRate(const std::string& sql, int rows) {
  static const std::string input = "/tmp/server_bench_query.sql";
  {
    std::ofstream f(input);
    f << sql << "\ngo\n";
  }
  auto start = Clock::now();
  std::string cmd = "bsqldb -S DSQUERY -U sa -P '' -D sample -i " + input + " -o /dev/null -e /dev/null";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "bsqldb failed\n");
    return 0;
  }
  return rows / seconds(start);
}

double pointSelects(int sessions, int rows, double duration) {
  std::atomic<long> done{0};
  std::vector<std::thread> threads;
  for (int s = 0; s < sessions; ++s) {
    threads.emplace_back([&, s] {
      tabtest::CtClient client;
      if (!client.connect()) return;
      client.run("use sample");
      unsigned seed = 12345u + s;
      auto start = Clock::now();
      long n = 0;
      while (seconds(start) < duration) {
        seed = seed * 1103515245u + 12345u;
        client.run("select name from big where id = " + std::to_string(seed % rows));
        ++n;
      }
      done += n;
    });
  }
  for (auto& t : threads) t.join();
  return done / duration;
}

double sqlitePointSelects(sqlite3* db, int rows, double duration) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM big WHERE id = ?", -1, &st, nullptr);
  unsigned seed = 12345u;
  auto start = Clock::now();
  long n = 0;
  while (seconds(start) < duration) {
    seed = seed * 1103515245u + 12345u;
    sqlite3_bind_int(st, 1, static_cast<int>(seed % rows));
    while (sqlite3_step(st) == SQLITE_ROW) sqlite3_column_text(st, 0);
    sqlite3_reset(st);
    ++n;
  }
  sqlite3_finalize(st);
  return n / duration;
}

// A loopback echo server answering each request of `request` bytes with `reply` bytes, as the
// server answers a `select 1` language packet with its reply packet.
class EchoServer {
 public:
  EchoServer(size_t request, size_t reply) : request_(request), reply_(reply) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    ::listen(listen_, 1);
    thread_ = std::thread([this] {
      int c = accept(listen_, nullptr, nullptr);
      int one = 1;
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::vector<char> in(request_), out(reply_, 'x');
      const double cpu = threadCpuSeconds();
      long trips = 0;
      for (;;) {
        size_t got = 0;
        while (got < request_) {
          ssize_t r = recv(c, in.data() + got, request_ - got, 0);
          if (r <= 0) {
            close(c);
            micros_ = trips ? (threadCpuSeconds() - cpu) / trips * 1e6 : 0;
            return;
          }
          got += static_cast<size_t>(r);
        }
        if (send(c, out.data(), reply_, 0) <= 0) break;
        ++trips;
      }
      close(c);
    });
  }
  ~EchoServer() {
    join();
    close(listen_);
  }
  // Waits for the echo thread, which ends once the client has closed its socket.
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  // The echo thread's CPU time per answered request, in microseconds, once it has ended.
  double micros() const { return micros_; }

 private:
  size_t request_, reply_;
  double micros_ = 0;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
};

double gEchoClientMicros = 0, gEchoServerMicros = 0;

double echoRoundTrips(size_t request, size_t reply, double duration) {
  EchoServer echo(request, reply);
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(echo.port()));
  connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::vector<char> out(request, 'q'), in(reply);
  const double cpu = threadCpuSeconds();
  auto start = Clock::now();
  long n = 0;
  while (seconds(start) < duration) {
    send(s, out.data(), request, 0);
    size_t got = 0;
    while (got < reply) {
      ssize_t r = recv(s, in.data() + got, reply - got, 0);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    ++n;
  }
  const double wall = seconds(start);
  gEchoClientMicros = (threadCpuSeconds() - cpu) / n * 1e6;
  close(s);
  echo.join();
  gEchoServerMicros = echo.micros();
  return n / wall;
}

// CPU time spent per round trip by this client thread and by the server, in microseconds, from
// the last selectOneRoundTrips() call.
double gClientMicros = 0, gServerMicros = 0;

// `select 1` through Client-Library the way a lean client runs it: send, bind the one column on
// its row result, fetch, and read on to the end of the results.
double selectOneRoundTrips(double duration, pid_t server) {
  tabtest::CtClient client;
  client.connect();
  CS_COMMAND* cmd = nullptr;
  ctlib::ct_cmd_alloc(client.connection(), &cmd);
  char sql[] = "select 1";
  CS_INT value = 0;
  const double cpu = threadCpuSeconds();
  const double serverCpu = processCpuSeconds(server);
  auto start = Clock::now();
  long n = 0;
  while (seconds(start) < duration) {
    ctlib::ct_command(cmd, CS_LANG_CMD, sql, CS_NULLTERM, CS_UNUSED);
    if (ctlib::ct_send(cmd) != CS_SUCCEED) {
      std::fprintf(stderr, "select 1 failed\n");
      std::exit(2);
    }
    CS_INT type;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      if (type != CS_ROW_RESULT) continue;
      CS_DATAFMT fmt{};
      fmt.datatype = CS_INT_TYPE;
      fmt.maxlength = sizeof value;
      fmt.count = 1;
      ctlib::ct_bind(cmd, 1, &fmt, &value, nullptr, nullptr);
      while (ctlib::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr) == CS_SUCCEED) {
      }
    }
    ++n;
  }
  const double wall = seconds(start);
  gClientMicros = (threadCpuSeconds() - cpu) / n * 1e6;
  gServerMicros = (processCpuSeconds(server) - serverCpu) / n * 1e6;
  ctlib::ct_cmd_drop(cmd);
  if (value != 1) {
    std::fprintf(stderr, "select 1 returned %d\n", value);
    std::exit(2);
  }
  return n / wall;
}

// Prepared inserts through the facade: one dynamic statement executed `count` times in one
// transaction.
double preparedInserts(int count) {
  tabtest::CtClient client;
  client.connect();
  check(client.run("use sample"), "use");
  check(client.run("if object_id('pins') is not null drop table pins"), "drop");
  check(client.run("create table pins (id int not null, name varchar(30) not null)"), "create");
  check(client.run("begin tran"), "begin");
  CS_COMMAND* cmd = nullptr;
  ctlib::ct_cmd_alloc(client.connection(), &cmd);
  auto drain = [&] {
    CS_INT type;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
    }
  };
  char id[] = "pins_stmt";
  char sql[] = "insert pins values (?, ?)";
  ctlib::ct_dynamic(cmd, CS_PREPARE, id, CS_NULLTERM, sql, CS_NULLTERM);
  ctlib::ct_send(cmd);
  drain();
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    ctlib::ct_dynamic(cmd, CS_EXECUTE, id, CS_NULLTERM, nullptr, CS_UNUSED);
    CS_DATAFMT fmt{};
    fmt.datatype = CS_INT_TYPE;
    fmt.status = CS_INPUTVALUE;
    fmt.maxlength = sizeof(CS_INT);
    CS_INT value = i;
    ctlib::ct_param(cmd, &fmt, &value, sizeof value, 0);
    CS_DATAFMT tfmt{};
    tfmt.datatype = CS_CHAR_TYPE;
    tfmt.status = CS_INPUTVALUE;
    tfmt.maxlength = 30;
    std::string name = "row " + std::to_string(i);
    ctlib::ct_param(cmd, &tfmt, name.data(), static_cast<CS_INT>(name.size()), 0);
    if (ctlib::ct_send(cmd) != CS_SUCCEED) {
      std::fprintf(stderr, "prepared insert failed at %d\n", i);
      std::exit(2);
    }
    drain();
  }
  double rate = count / seconds(start);
  ctlib::ct_dynamic(cmd, CS_DEALLOC, id, CS_NULLTERM, nullptr, CS_UNUSED);
  ctlib::ct_send(cmd);
  drain();
  ctlib::ct_cmd_drop(cmd);
  tabtest::CtBatch rows = client.run("select count(*) from pins");
  check(client.run("commit"), "commit");
  if (rows.sets.empty() || rows.sets[0].rows.empty() || *rows.sets[0].rows[0][0] != std::to_string(count)) {
    std::fprintf(stderr, "prepared inserts stored a wrong number of rows\n");
    std::exit(2);
  }
  return rate;
}

double sqlitePreparedInserts(int count) {
  sqlite3* db = nullptr;
  std::string path = "/tmp/server_bench_inserts.db";
  std::remove(path.c_str());
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "CREATE TABLE pins (id INTEGER NOT NULL, name TEXT NOT NULL)", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO pins VALUES (?, ?)", -1, &st, nullptr);
  auto start = Clock::now();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    std::string name = "row " + std::to_string(i);
    sqlite3_bind_int(st, 1, i);
    sqlite3_bind_text(st, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  double rate = count / seconds(start);
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::remove(path.c_str());
  return rate;
}

double engineRead(TQorixDatabase& db, int rows) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.SetSQL(QStringLiteral("select * from sample..big"));
  auto start = Clock::now();
  // Open sends the statement; each Next moves to the following row, the first one included.
  q.Open();
  long n = 0;
  size_t chars = 0;
  while (q.Next()) {
    for (int c = 1; c <= q.ColumnCount(); ++c) chars += static_cast<size_t>(q.GetFieldValue(c).size());
    ++n;
  }
  double rate = n / seconds(start);
  if (n != rows || chars == 0) std::fprintf(stderr, "engine read %ld rows of %d\n", n, rows);
  return rate;
}

long peakKilobytes(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

long currentKilobytes(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const int packet = argc > 3 ? std::atoi(argv[3]) : 8192;
  const std::string figures = argc > 4 ? "," + std::string(argv[4]) + "," : std::string();
  auto wanted = [&](const char* name) {
    return figures.empty() || figures.find("," + std::string(name) + ",") != std::string::npos;
  };
  const double window = 2.0;  // seconds per throughput sample

  tabtest::ServerFixture server;
  std::printf("server_bench: %d rows x 10 columns, %d rounds, %u cores\n\n", rows, rounds,
              std::thread::hardware_concurrency());

  {
    tabtest::CtClient setup;
    if (!setup.connect()) return 2;
    check(setup.run("use sample"), "use");
    check(setup.run("create table digits (d int not null)"), "digits");
    for (int d = 0; d < 10; ++d) check(setup.run("insert digits values (" + std::to_string(d) + ")"), "digit");
    check(setup.run(kCreate), "create big");
    long before = currentKilobytes(server.pid());
    auto start = Clock::now();
    check(setup.run(std::string(kServerFill) + std::to_string(rows)), "fill big");
    double fill = seconds(start);
    long peak = peakKilobytes(server.pid());
    std::printf("memory     INSERT ... SELECT of %d rows: %.1f s, server resident before %ld KB, peak %ld KB "
                "(growth %ld KB)\n\n",
                rows, fill, before, peak, peak - before);
    check(setup.run("create unique index big_id on big(id)"), "index");
  }

  sqlite3* copy = nullptr;
  std::string copyPath = "/tmp/server_bench_copy.db";
  std::remove(copyPath.c_str());
  sqlite3_open(copyPath.c_str(), &copy);
  if (wanted("emit") || wanted("emit-cpu") || wanted("point")) makeSqliteCopy(copy, rows);

  if (wanted("emit")) compare("emit", "rows/s", rounds, [&] { return bsqldbRate("select * from big", rows); },
          [&] { return sqliteScan(copy); }, "sqlite");
  if (wanted("emit-cpu"))
    compare("emit-cpu", "rows/cpu-s", rounds,
            [&] {
              const double before = processCpuSeconds(server.pid());
              bsqldbRate("select * from big", rows);
              const double used = processCpuSeconds(server.pid()) - before;
              return used > 0 ? rows / used : 0;
            },
            [&] { return sqliteScan(copy, true); }, "sqlite");

  if (wanted("point")) compare("point-1", "sel/s", rounds, [&] { return pointSelects(1, rows, window); },
          [&] { return sqlitePointSelects(copy, rows, window); }, "sqlite");
  if (wanted("point")) {
    Figures scale;
    for (int i = 0; i < rounds; ++i) {
      double one = pointSelects(1, rows, window);
      double eight = pointSelects(8, rows, window);
      scale.values.push_back(one > 0 ? eight / one : 0);
      std::printf("point-8    1 session %8.0f sel/s, 8 sessions %8.0f sel/s\n", one, eight);
    }
    std::printf("point-8    scaling 8 vs 1  min %.2f  median %.2f  max %.2f\n\n", scale.min(), scale.median(),
                scale.max());
  }

  // A `select 1` language packet is 8 header bytes + token, length and status (6) + 8 characters;
  // its reply (row format, row, DONE) is about 40 bytes.
  if (wanted("roundtrip")) {
    Figures client, serverCpu, echoClient, echoServer;
    compare("roundtrip", "trips/s", rounds,
            [&] {
              double rate = selectOneRoundTrips(window, server.pid());
              client.values.push_back(gClientMicros);
              serverCpu.values.push_back(gServerMicros);
              return rate;
            },
            [&] {
              double rate = echoRoundTrips(22, 40, window);
              echoClient.values.push_back(gEchoClientMicros);
              echoServer.values.push_back(gEchoServerMicros);
              return rate;
            },
            "echo");
    std::printf("roundtrip  CPU per trip (median): client %.1f us, server %.1f us; echo client %.1f us, "
                "echo server %.1f us\n\n",
                client.median(), serverCpu.median(), echoClient.median(), echoServer.median());
  }

  const int inserts = std::min(rows, 100000);
  if (wanted("prepared")) compare("prepared", "ins/s", rounds, [&] { return preparedInserts(inserts); },
          [&] { return sqlitePreparedInserts(inserts); }, "sqlite");

  if (wanted("engine")) {
    TQorixDatabase db;
    db.SetName(QStringLiteral("bench"));
    db.LoginPrompt = false;
    db.UserName = QStringLiteral("sa");
    db.ServerName = QStringLiteral("DSQUERY");
    db.Connect();
    db.SetDbName(QStringLiteral("sample"));
    compare("engine", "rows/s", rounds, [&] { return engineRead(db, rows); },
            [&] { return bsqldbRate("select * from big", rows); }, "bsqldb");
  }
  if (wanted("engine-big")) {
    TQorixDatabase db;
    db.SetName(QStringLiteral("bench-big-packets"));
    db.LoginPrompt = false;
    db.UserName = QStringLiteral("sa");
    db.ServerName = QStringLiteral("DSQUERY");
    db.SetPacketSize(packet);
    db.Connect();
    db.SetDbName(QStringLiteral("sample"));
    std::printf("engine-big packet size asked %d, granted %d\n", packet, db.PacketSize());
    compare("engine-big", "rows/s", rounds, [&] { return engineRead(db, rows); },
            [&] { return bsqldbRate("select * from big", rows); }, "bsqldb");
  }

  sqlite3_close(copy);
  std::remove(copyPath.c_str());
  return 0;
}
