// The trace a run sends to the SQL monitor with Monitor on and an owner: the lines of a run
// with a result set, a compute by, a procedure's status and OUTPUT parameter, in their order
// and with their exact texts; nothing without an owner or with Monitor off.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "tests/catalog/grid/grid_fixture.h"
#include "tests/support/monitor_lines.h"

namespace {

// The monitor's lines under a window title of this process's own.
struct MonitorReceiver : tabtest::MonitorLines {
  MonitorReceiver() : MonitorLines(QStringLiteral("GridMonitor%1").arg(::getpid())) {}
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
