// The trace a run sends to the SQL monitor with Monitor on and an owner: the lines of a run
// with a result set, a compute by, a procedure's status and OUTPUT parameter, in their order
// and with their exact texts; nothing without an owner or with Monitor off.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "tests/catalog/grid/grid_fixture.h"

namespace {

// Binds the monitor's socket under a window title of this process and collects its lines.
class MonitorReceiver {
 public:
  MonitorReceiver() {
    SetSqlMonitorWindow(QStringLiteral("tf_main"), QStringLiteral("GridMonitor%1").arg(::getpid()));
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const std::string name = SqlMonitorSocketName();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr),
           static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size()));
    timeval tv{0, 100000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    // The socket queues only a few datagrams: a reader empties it while the grid runs.
    reader_ = std::thread([this] {
      char buf[70000];
      while (!stop_) {
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 16) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        lines_ << QString::fromUtf8(buf + 16, static_cast<qsizetype>(strnlen(buf + 16, static_cast<size_t>(n - 16))));
      }
    });
  }
  ~MonitorReceiver() {
    stop_ = true;
    reader_.join();
    ::close(fd_);
  }
  // The lines received until the socket stayed quiet for a moment.
  QStringList Lines() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(lines_, {});
  }

 private:
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::mutex mutex_;
  QStringList lines_;
};

TQorixDatabase& Db() {
  static std::unique_ptr<TQorixDatabase> db = [] {
    auto d = gridtest::Connect(QStringLiteral("monitordb"));
    gridtest::Exec(*d, QStringLiteral("create table grid_mon (grp char(1) not null, amount int not null)"));
    gridtest::Exec(*d, QStringLiteral("insert grid_mon values ('a', 10)"));
    gridtest::Exec(*d, QStringLiteral("insert grid_mon values ('a', 20)"));
    gridtest::Exec(*d, QStringLiteral("create procedure grid_mon_proc @y int output as select @y = 42 return 3"));
    return d;
  }();
  return *db;
}

const QString kScript = QStringLiteral(
    "select grp, amount from grid_mon order by grp compute sum(amount)\r\n"
    "declare @y int\r\n"
    "exec grid_mon_proc @y output");

// True when Want's lines appear in Lines in this order (other lines between them).
::testing::AssertionResult InOrder(const QStringList& lines, const QStringList& want) {
  qsizetype at = 0;
  for (const QString& w : want) {
    const qsizetype found = lines.indexOf(w, at);
    if (found < 0)
      return ::testing::AssertionFailure() << "missing after line " << at << ": " << w.toStdString() << "\nin:\n"
                                           << lines.join(QLatin1Char('\n')).toStdString();
    at = found + 1;
  }
  return ::testing::AssertionSuccess();
}

TEST(GridMonitor, TraceOfARunHasTheLinesInOrder) {
  MonitorReceiver monitor;
  TComponent owner;
  auto* grid = new TQorixGrid(&owner);
  grid->SetDatabase(&Db());
  grid->Monitor = true;
  grid->SetSQL(kScript);
  grid->Execute();
  const QStringList lines = monitor.Lines();
  EXPECT_TRUE(InOrder(
      lines,
      {
          QStringLiteral("Flow : ** Start of EXECUTE **"),
          QStringLiteral("SQL : ") + kScript,
          QStringLiteral("SQL Execute: ") + kScript + QLatin1Char('\r'),
          QStringLiteral("CS_SUCCEED"),
          QStringLiteral("CS_ROW_RESULT"),
          QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : 2"),
          QStringLiteral("Open-Client: ct_bind - Column Name : grp"),
          QStringLiteral("Open-Client: ct_bind - Column Name : amount"),
          QStringLiteral("Open-Client: ct_fetch"),
          QStringLiteral("SQL Data Out: Column = 1, Name = grp, Type = char, Precision = 0, Scale = 0, Data = a"),
          QStringLiteral("SQL Data Out: Column = 2, Name = amount, Type = int, Precision = 0, Scale = 0, Data = 20"),
          QStringLiteral("CS_END_DATA"),
          QStringLiteral("CS_COMPUTE_RESULT"),
          QStringLiteral("Open-Client: ct_res_info(CS_NUM_COMPUTES) - Number of Computes : 1"),
          QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns in Compute : 1"),
          QStringLiteral("Open-Client: ct_bind (Compute) - Column Name : sum"),
          QStringLiteral("SQL Compute Data Out: Column = 1, Select-Column Name= amount, Type = int, Precision = 0, "
                         "Scale = 0, Agg Function = sum, Data = 30"),
          QStringLiteral("CS_CMD_DONE"),
          // Two rows and the compute row, as the server family counts them.
          QStringLiteral("Open-Client: ct_res_info(CS_ROW_COUNT) - Number of rows : 3"),
          QStringLiteral("CS_STATUS_RESULT"),
          QStringLiteral("Flow : ** Start of obtaining Return Status **"),
          QStringLiteral("Open-Client: Return Status = 3"),
          QStringLiteral("Open-Client: Return Status = 3"),
          QStringLiteral("Flow : ** End of obtaining Return Status **"),
          QStringLiteral("Flow : ** Start of obtaining Return parameters **"),
          QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of parameters : 1"),
          QStringLiteral("Open-Client: ct_bind - Column Name : @y"),
          QStringLiteral("SQL Parameter Data Out: Column = 1, Parameter Name= @y, Type = int, Precision = 0, "
                         "Scale = 0, Data = 42"),
          QStringLiteral("Flow : ** End of obtaining Return parameters **"),
          QStringLiteral("Flow : ** End of EXECUTE **"),
      }));
  EXPECT_EQ(grid->Cell(1, 2), QStringLiteral("a"));

  // Nothing without an owner or with Monitor off.
  for (bool owned : {false, true}) {
    SCOPED_TRACE(owned ? "Monitor off" : "no owner");
    TQorixGrid lonely;
    TQorixGrid* g = owned ? new TQorixGrid(&owner) : &lonely;
    g->SetDatabase(&Db());
    g->Monitor = !owned;
    g->SetSQL(QStringLiteral("select 1 as one"));
    g->Execute();
    EXPECT_EQ(monitor.Lines(), QStringList());
  }
}

}  // namespace
