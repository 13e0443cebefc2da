// How soon the program answers where a user waits for it to stop or give up, each over several
// rounds beside a reference measured in the same run and the goal the figure is read against:
//   grid-stop    TQorixGrid::Stop during a 30 s `waitfor delay` and during a million-row select:
//                the Stop call itself (goal under 200 ms), and from Stop to the end of the run
//                (goal under 1 s) beside Client-Library's own attention on the same wait
//                (ct_cancel CS_CANCEL_ATTN while another thread waits in ct_results)
//   grid-destroy a running grid destroyed, which stops and joins its worker (goal under 1 s),
//                beside the same reference
//   timeout      a statement past a 1 s CS_TIMEOUT failing through TQorixEnhQuery (goal under
//                1.6 s), printed as the time past the limit beside the same reference
//   monitor      1,000 SQL-monitor lines with no monitor bound (goal under 500 ms) beside 1,000
//                sendto() of a frame of the same size to the same unbound name; 15 lines into a
//                bound monitor that never reads (goal under 1 s) beside the same lines into one
//                that reads them
//   server-stop  SIGTERM to a local server with 8 idle sessions until it has exited (goal under
//                2 s) beside a server with none
// Usage: latency_bench [rounds] [figures]   (defaults 5 and every figure; figures is a
// comma-separated list of the names above)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "access/QorixContext.h"
#include "access/QorixEnhQuery.h"
#include "access/Qorix_Components.h"
#include "access/SysUtils.h"
#include "access/ctlib/ctlib.h"
#include "bench/support/figures.h"
#include "bench/support/local_server.h"
#include "catalog/grid/QorixGrid.h"
#include "tests/support/ct_client.h"
#include "tests/support/sa_connection.h"
#include "tests/support/server_fixture.h"

namespace {

using tabbench::Clock;
using tabbench::Comparison;
using tabbench::Figures;

double msSince(Clock::time_point start) { return tabbench::secondsSince(start) * 1000; }

const QString kWait = QStringLiteral("waitfor delay '00:00:30'");
const QString kMillion = QStringLiteral(
    "select a.d + 10 * b.d + 100 * c.d + 1000 * e.d + 10000 * f.d + 100000 * g.d as n, "
    "'row text of some length' as t from digits a, digits b, digits c, digits e, digits f, digits g");

// Processes events until Done holds or Ms milliseconds passed; returns Done().
bool waitUntil(const std::function<bool()>& done, int ms = 60000) {
  const auto start = Clock::now();
  while (!done() && msSince(start) < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "latency_bench: %s\n", what);
  std::exit(2);
}

// Milliseconds from Client-Library's attention to the end of a 30 s wait that another thread
// is reading the results of, on a bare connection.
double bareCancelMs(tabtest::CtClient& client) {
  CS_COMMAND* cmd = nullptr;
  if (ctlib::ct_cmd_alloc(client.connection(), &cmd) != CS_SUCCEED) fail("ct_cmd_alloc failed");
  const std::string sql = kWait.toStdString();
  ctlib::ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED);
  if (ctlib::ct_send(cmd) != CS_SUCCEED) fail("ct_send of the wait failed");
  Clock::time_point ended;
  std::thread reader([&] {
    CS_INT type = 0;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
    }
    ended = Clock::now();
  });
  // FreeTDS sends no attention before the client has started reading the results.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const auto start = Clock::now();
  ctlib::ct_cancel(client.connection(), nullptr, CS_CANCEL_ATTN);
  reader.join();
  ctlib::ct_cmd_drop(cmd);
  return std::chrono::duration<double, std::milli>(ended - start).count();
}

// One background run of Sql on a fresh grid, stopped once rows came (WaitForRows) or after
// 400 ms: the Stop call and Stop to the end of the run, in milliseconds.
struct StopRound {
  double call = 0, toEnd = 0;
};
StopRound gridStop(TQorixDatabase& db, const QString& sql, bool waitForRows) {
  TQorixGrid grid;
  grid.SetDatabase(&db);
  grid.Background = true;
  bool ended = false;
  grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { ended = true; };
  grid.SetSQL(sql);
  grid.Execute();
  if (waitForRows) {
    if (!waitUntil([&] { return grid.RowCount() > 1000; })) fail("no rows came");
  } else {
    waitUntil([] { return false; }, 400);
  }
  if (!grid.Active()) fail("the run ended before Stop");
  StopRound r;
  const auto start = Clock::now();
  grid.Stop();
  r.call = msSince(start);
  if (!waitUntil([&] { return ended && !grid.Active(); })) fail("Stop did not end the run");
  r.toEnd = msSince(start);
  return r;
}

// Milliseconds to destroy a grid running a 30 s wait.
double gridDestroy(TQorixDatabase& db) {
  auto grid = std::make_unique<TQorixGrid>();
  grid->SetDatabase(&db);
  grid->Background = true;
  grid->SetSQL(kWait);
  grid->Execute();
  waitUntil([] { return false; }, 400);
  const auto start = Clock::now();
  grid.reset();
  const double ms = msSince(start);
  QCoreApplication::processEvents();
  return ms;
}

// Seconds until a statement waiting 20 s fails on Db, whose context's limit is 1 s.
double timeoutSeconds(TQorixDatabase& db) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.SetShowDbMessages(TShowDbMessages{});
  q.SetSQL(QStringLiteral("waitfor delay '00:00:20'"));
  const auto start = Clock::now();
  QString error;
  try {
    q.ExecSQL();
  } catch (const Exception& e) {
    error = e.Message();
  }
  const double s = tabbench::secondsSince(start);
  // Through TQorixDatabase the error raised is the server's abort of the cancelled wait.
  if (error.isEmpty()) fail("the statement did not fail at its limit");
  return s;
}

// The monitor's abstract socket address for the current window title.
sockaddr_un monitorAddress(socklen_t* length) {
  const std::string name = SqlMonitorSocketName();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return addr;
}

// Milliseconds for 1,000 monitor lines with nothing bound to the monitor's name.
double monitorUnboundMs() {
  const auto start = Clock::now();
  for (int i = 0; i < 1000; ++i) SendToSqlMonitor(1, QStringLiteral("SQL Execute: select %1").arg(i));
  return msSince(start);
}

// The same count of sendto() of a frame of the same size to the same unbound name.
double rawUnboundMs() {
  socklen_t length = 0;
  const sockaddr_un addr = monitorAddress(&length);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const std::vector<char> frame(16 + std::strlen("SQL Execute: select 999") + 1, 'x');
  const auto start = Clock::now();
  for (int i = 0; i < 1000; ++i)
    ::sendto(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr),
             length);
  const double ms = msSince(start);
  ::close(fd);
  return ms;
}

// Milliseconds for 15 monitor lines into a monitor bound to the name, which reads them when
// Reading is set and never otherwise.
double monitorBoundMs(bool reading) {
  socklen_t length = 0;
  const sockaddr_un addr = monitorAddress(&length);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0) fail("cannot bind the monitor name");
  timeval tv{0, 200000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::atomic<bool> stop{false};
  std::thread reader;
  if (reading)
    reader = std::thread([&] {
      char buf[70000];
      while (!stop) ::recv(fd, buf, sizeof buf, 0);
    });
  const auto start = Clock::now();
  for (int i = 0; i < 15; ++i) SendToSqlMonitor(1, QStringLiteral("line %1").arg(i));
  const double ms = msSince(start);
  stop = true;
  if (reader.joinable()) reader.join();
  ::close(fd);
  return ms;
}

// Milliseconds from SIGTERM to the exit of a fresh server with Sessions idle sessions.
double serverStopMs(int sessions) {
  tabtest::ServerFixture server;
  std::vector<std::unique_ptr<tabtest::CtClient>> clients;
  for (int i = 0; i < sessions; ++i) {
    clients.push_back(std::make_unique<tabtest::CtClient>());
    if (!clients.back()->connect()) fail("a session could not log in");
  }
  const auto start = Clock::now();
  server.stop();
  return msSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  tabbench::defaultToOffscreen();
  QApplication app(argc, argv);
  const int rounds = std::max(1, tabbench::intArgument(argc, argv, 1, 5));
  const tabbench::FigureList figures(argc, argv, 2);
  auto wanted = [&](const char* name) { return figures.wanted(name); };

  tabbench::localServer();
  std::printf("latency_bench: %d rounds, %u cores\n\n", rounds, std::thread::hardware_concurrency());
  tabtest::CtClient bare;
  if (!bare.connect()) fail("the bare connection could not log in");
  tabbench::check(bare.run("use sample"), "use");
  tabbench::createBigTable(bare);

  std::unique_ptr<TQorixDatabase> db = tabbench::connectSa(QStringLiteral("bench"), QStringLiteral("latency_bench"));

  if (wanted("grid-stop")) {
    for (const bool million : {false, true}) {
      Figures call;
      Comparison end;
      for (int i = 0; i < rounds; ++i) {
        const StopRound r = gridStop(*db, million ? kMillion : kWait, million);
        call.add(r.call);
        end.add(r.toEnd, bareCancelMs(bare));
      }
      const std::string name = million ? "grid-stop/rows" : "grid-stop/wait";
      tabbench::printFigures(name + " Stop call ms   ", call, 1, 0, "   (goal under 200)");
      tabbench::printComparison(name, "ms", end, "ctlib", 1, "(goal under 1000, Stop to the end of the run)");
    }
  }

  if (wanted("grid-destroy")) {
    Comparison c;
    for (int i = 0; i < rounds; ++i) {
      const double ours = gridDestroy(*db);
      c.add(ours, bareCancelMs(bare));
    }
    tabbench::printComparison("grid-destroy", "ms", c, "ctlib", 1, "(goal under 1000)");
  }

  if (wanted("timeout")) {
    // A context of its own, so the 1 s limit holds only for this connection.
    TQorixContext context;
    context.SetName(QStringLiteral("bench_timeout"));
    std::unique_ptr<TQorixDatabase> limited = tabtest::SaDatabase(QStringLiteral("bench_limited"));
    limited->ContextName = context.ContextName();
    limited->Connect();
    if (!limited->Connected()) fail("the limited connection could not log in");
    context.SetTimeOut(1);
    Figures took;
    Comparison past;
    for (int i = 0; i < rounds; ++i) {
      const double s = timeoutSeconds(*limited);
      took.add(s * 1000);
      past.add((s - 1.0) * 1000, bareCancelMs(bare));
    }
    tabbench::printFigures("timeout   failed after ms    ", took, 1, 0, "   (goal under 1600, limit 1000)");
    tabbench::printComparison("timeout", "ms", past, "ctlib", 1, "(time past the limit)");
    limited.reset();
  }

  if (wanted("monitor")) {
    SetSqlMonitorWindow(QStringLiteral("tf_main"), QStringLiteral("latency-bench-%1").arg(::getpid()));
    Comparison unbound, stalled;
    for (int i = 0; i < rounds; ++i) {
      const double ours = monitorUnboundMs();
      unbound.add(ours, rawUnboundMs());
      const double full = monitorBoundMs(false);
      stalled.add(full, monitorBoundMs(true));
    }
    tabbench::printComparison("monitor/unbound", "ms", unbound, "sendto", 2,
                              "(goal under 500 for 1,000 lines)");
    tabbench::printComparison("monitor/stalled", "ms", stalled, "read", 2,
                              "(goal under 1000 for 15 lines; each past the full queue waits 20 ms)");
  }

  if (wanted("server-stop")) {
    // Last: each server started here takes the DSQUERY entry over.
    Comparison c;
    for (int i = 0; i < rounds; ++i) {
      const double ours = serverStopMs(8);
      c.add(ours, serverStopMs(0));
    }
    tabbench::printComparison("server-stop", "ms", c, "idle", 1, "(goal under 2000 with 8 sessions)");
  }

  tabbench::printLoadAverage();
  return 0;
}
