// The grid's events and column accessors: every accessor read from every event of a
// background run gives what the same event of a foreground run gives (the worker has moved
// on by the time a queued handler runs), the accessors' values for rows, computes, return
// parameters and long column names, the type names of codes inside and outside the shared
// table, and CurFetchRows rows per cursor fetch.
#include <algorithm>

#include "access/ctlib/RecordingLibrary.h"
#include "tests/catalog/grid/grid_fixture.h"

namespace {

using gridtest::Lines;
using gridtest::WaitUntil;

TQorixDatabase& Db() {
  static std::unique_ptr<TQorixDatabase> db = [] {
    auto d = gridtest::Connect(QStringLiteral("eventsdb"));
    gridtest::Exec(*d, QStringLiteral("create table grid_ev (id int not null, grp varchar(5) not null, "
                                      "amount int not null, note varchar(20) null)"));
    QStringList values;
    for (int i = 1; i <= 300; ++i)
      gridtest::Exec(*d, QStringLiteral("insert grid_ev values (%1, '%2', %3, %4)")
                             .arg(i)
                             .arg(i % 3 == 0 ? QStringLiteral("c") : i % 2 ? QStringLiteral("a") : QStringLiteral("b"))
                             .arg(i * 7 % 100)
                             .arg(i % 5 == 0 ? QStringLiteral("NULL") : QStringLiteral("'note %1'").arg(i)));
    gridtest::Exec(*d, QStringLiteral("create procedure grid_ev_proc @x int, @y varchar(10) output as\n"
                                      "begin\n  select @y = 'got ' + convert(varchar(5), @x)\n  return -2\nend"));
    return d;
  }();
  return *db;
}

// Three result sets of different shapes, a compute by, a procedure's status and OUTPUT
// parameter, and a column name longer than 30 characters.
const QString kScript = QStringLiteral(
    "select id, grp, note from grid_ev order by id\r\n"
    "select grp, amount from grid_ev where id <= 12 order by grp compute sum(amount), max(amount) by grp\r\n"
    "declare @out varchar(10)\r\n"
    "exec grid_ev_proc 5, @out output\r\n"
    "select 'x' as a_column_name_that_is_longer_than_thirty, 1.5 as r\r\n"
    "print 'a message'\r\n"
    "raiserror 20002 'an error'\r\n"
    "select 1 as last\r\n");

// Everything the accessors say, as one line per event.
QString Snapshot(const char* event, const TQorixGrid& g) {
  QStringList parts{QLatin1String(event)};
  for (int c = 1; c <= g.ColumnCount(); ++c)
    parts << QStringLiteral("col%1=%2/%3/%4/%5/%6")
                 .arg(c)
                 .arg(g.ColumnText(c), g.ColumnName(c))
                 .arg(g.ColumnNameLength(c))
                 .arg(g.ColumnTypeName(c))
                 .arg(g.ColumnIsNull(c));
  for (int c = 1; c <= g.ComputeColumnCount(); ++c)
    parts << QStringLiteral("cmp%1=%2/%3/%4/%5/%6")
                 .arg(c)
                 .arg(g.ComputeText(c))
                 .arg(g.ComputeColumnId(c))
                 .arg(g.ComputeColumnName(c), g.ComputeTypeName(c), g.ComputeOperatorName(c));
  for (int c = 1; c <= g.ParamCount(); ++c)
    parts << QStringLiteral("par%1=%2/%3/%4").arg(c).arg(g.ParamName(c), g.ParamTypeName(c), g.ParamText(c));
  parts << QStringLiteral("status=%1").arg(g.ReturnStatus());
  parts << QStringLiteral("error=[%1] message=[%2]").arg(g.LastError(), g.LastMessage());
  // Reading past the result is answered, never a fault.
  parts << g.ColumnText(g.ColumnCount() + 1) + g.ComputeText(99) + g.ParamName(0);
  return parts.join(QLatin1Char(' '));
}

void Record(TQorixGrid& g, QStringList& out) {
  g.BeforeCommand = [&](TComponent*) { out << Snapshot("BeforeCommand", g); };
  g.OnHeader = [&](TComponent*) { out << Snapshot("OnHeader", g); };
  g.OnResultRow = [&](TComponent*) { out << Snapshot("OnResultRow", g); };
  g.OnComputeRow = [&](TComponent*) { out << Snapshot("OnComputeRow", g); };
  g.OnReturnStatus = [&](TComponent*) { out << Snapshot("OnReturnStatus", g); };
  g.OnReturnParams = [&](TComponent*) { out << Snapshot("OnReturnParams", g); };
  g.AfterCommand = [&](TComponent*) { out << Snapshot("AfterCommand", g); };
  g.AfterExec = [&](TComponent*) { out << Snapshot("AfterExec", g); };
  g.OnDbError = [&](TComponent*) { out << Snapshot("OnDbError", g); };
  g.OnDbMessage = [&](TComponent*) { out << Snapshot("OnDbMessage", g); };
}

QStringList RunScript(bool background) {
  TRecordingUiServices ui;
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.Background = background;
  grid.RaiseOnError = false;
  QStringList events;
  Record(grid, events);
  bool ended = false;
  grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { ended = true; };
  grid.SetSQL(kScript);
  grid.Execute();
  if (background) {
    EXPECT_TRUE(WaitUntil([&] { return ended; }));
  }
  // Handlers queued before the end have all run by now.
  QCoreApplication::processEvents();
  return events;
}

TEST(GridEvents, EveryAccessorFromEveryEventReadsWhatTheForegroundRunReads) {
  const QStringList foreground = RunScript(false);
  ASSERT_GT(foreground.size(), 300);
  const auto has = [&](const char* what) {
    return std::any_of(foreground.begin(), foreground.end(), [&](const QString& e) { return e.contains(what); });
  };
  ASSERT_TRUE(has("OnDbMessage") && has("a message")) << "the script's message was not seen";
  ASSERT_TRUE(has("OnDbError") && has("an error")) << "the script's error was not seen";
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    const QStringList background = RunScript(true);
    ASSERT_EQ(background.size(), foreground.size());
    for (int i = 0; i < foreground.size(); ++i) {
      ASSERT_EQ(background[i], foreground[i]) << "event " << i;
    }
  }
}

TEST(GridEvents, AccessorsOfRowsComputesParametersAndLongNames) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  QStringList seen;
  grid.OnComputeRow = [&](TComponent*) {
    if (!seen.isEmpty()) return;
    for (int c = 1; c <= grid.ComputeColumnCount(); ++c)
      seen << QStringLiteral("%1 %2 %3 %4 %5")
                  .arg(grid.ComputeOperatorName(c))
                  .arg(grid.ComputeColumnId(c))
                  .arg(grid.ComputeColumnName(c), grid.ComputeTypeName(c), grid.ComputeText(c));
  };
  grid.OnReturnParams = [&](TComponent*) {
    seen << QStringLiteral("%1 %2 %3").arg(grid.ParamName(1), grid.ParamTypeName(1), grid.ParamText(1));
  };
  grid.OnReturnStatus = [&](TComponent*) { seen << QStringLiteral("status %1").arg(grid.ReturnStatus()); };
  grid.OnResultRow = [&](TComponent*) {
    if (!grid.ColumnName(1).startsWith(QLatin1String("a_col"))) return;
    seen << QStringLiteral("%1 %2 %3 %4")
                .arg(grid.ColumnName(1))
                .arg(grid.ColumnNameLength(1))
                .arg(grid.ColumnTypeName(2), grid.ColumnText(2));
  };
  grid.SetSQL(QStringLiteral("select grp, amount from grid_ev where id in (1, 5, 7) order by grp "
                             "compute sum(amount), max(amount) by grp\r\n") +
              kScript.section(QStringLiteral("\r\n"), 2, 4));
  grid.Execute();
  EXPECT_EQ(seen, (QStringList{
                      // Ids 1, 5 and 7 are all of group a: amounts 7, 35 and 49.
                      QStringLiteral("sum 2 amount int 91"),
                      QStringLiteral("max 2 amount int 49"),
                      QStringLiteral("status -2"),
                      // The library describes a varchar as char.
                      QStringLiteral("@y char got 5"),
                      // The name is cut to 30 characters; its length is the library's.
                      QStringLiteral("a_column_name_that_is_longer_t 40 numeric 1.5"),
                  }));
}

// A facade that describes the columns of row results with the datatype codes a test names,
// the rest as the library does: codes no server here sends.
class DescribedAs : public ctlib::Library {
 public:
  explicit DescribedAs(std::vector<CS_INT> codes) : codes_(std::move(codes)), previous_(ctlib::SetCurrent(this)) {}
  ~DescribedAs() override { ctlib::SetCurrent(previous_); }
  CS_RETCODE ct_describe(CS_COMMAND* cmd, CS_INT item, CS_DATAFMT* fmt) override {
    const CS_RETCODE r = Library::ct_describe(cmd, item, fmt);
    if (r == CS_SUCCEED && item >= 1 && item <= static_cast<CS_INT>(codes_.size()) && fmt->datatype == CS_CHAR_TYPE)
      fmt->datatype = codes_[static_cast<size_t>(item - 1)];
    return r;
  }

 private:
  std::vector<CS_INT> codes_;
  ctlib::Library* previous_;
};

TEST(GridEvents, TypeNamesOfCodesInsideAndOutsideTheTable) {
  const struct {
    CS_INT code;
    const char* name;
  } cases[] = {{CS_CHAR_TYPE, "char"}, {CS_VARCHAR_TYPE, "varchar"}, {22, "sensitivity_boundry"}, {23, "unknown"},
               {24, "unknown"}, {-1, "illegal"}, {25, "unknown/illegal"}, {30, "unknown/illegal"},
               {-2, "unknown/illegal"}};
  std::vector<CS_INT> codes;
  QStringList columns, want;
  for (const auto& c : cases) {
    codes.push_back(c.code);
    columns << QStringLiteral("'v' as c%1").arg(columns.size() + 1);
    want << QLatin1String(c.name);
  }
  DescribedAs described(codes);
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  QStringList names;
  grid.OnResultRow = [&](TComponent*) {
    for (int c = 1; c <= grid.ColumnCount(); ++c) names << grid.ColumnTypeName(c);
  };
  grid.SetSQL(QStringLiteral("select ") + columns.join(QStringLiteral(", ")));
  grid.Execute();
  EXPECT_EQ(names, want);
  EXPECT_EQ(grid.Cell(static_cast<int>(codes.size()), 2), QStringLiteral("v"));
}

TEST(GridEvents, CursorFetchesCurFetchRowsRowsAtATime) {
  const struct {
    int curFetchRows;
    int fetches;  // 25 rows, and the fetch that finds the end
  } cases[] = {{1, 26}, {10, 4}, {7, 5}, {25, 2}, {100, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.curFetchRows);
    TQorixGrid grid;
    grid.SetDatabase(&Db());
    grid.SelectOnly = true;
    grid.CurFetchRows = c.curFetchRows;
    grid.SetSQL(QStringLiteral("select id, note from grid_ev where id <= 25 order by id"));
    ctlib::RecordingLibrary calls;
    grid.Execute();
    EXPECT_EQ(calls.Count("ct_fetch"), c.fetches);
    const QStringList lines = Lines(grid, 1);
    ASSERT_EQ(lines.size(), 29) << lines.join(QLatin1Char('/')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral(" |id|note"));
    for (int i = 1; i <= 25; ++i)
      EXPECT_EQ(lines[i], i % 5 == 0 ? QStringLiteral("%1|%1| ").arg(i) : QStringLiteral("%1|%1|note %1").arg(i));
    EXPECT_EQ(lines[26], QStringLiteral("|(25 rows affected)"));
  }
}

}  // namespace
