// The cells a run lays out, against the local server through real FreeTDS: one batch with two
// result sets, a compute by, a procedure with return status and an OUTPUT parameter, a PRINT,
// a RAISERROR and a row count, in the foreground and on the worker; the messages reaching
// OnThreadTerminate; MaxRows; cut values, NULLs after values and the classic types' texts;
// a screenshot of the view after the mixed batch.
#include <QApplication>

#include "access/QorixExceptions.h"
#include "tests/catalog/grid/grid_fixture.h"

namespace {

using gridtest::Lines;
using gridtest::WaitUntil;

TQorixDatabase& Db() {
  static std::unique_ptr<TQorixDatabase> db = [] {
    auto d = gridtest::Connect(QStringLiteral("cellsdb"));
    gridtest::Exec(*d, QStringLiteral("create table grid_mix (id int not null, grp varchar(5) not null, amount int not null)"));
    gridtest::Exec(*d, QStringLiteral("insert grid_mix values (1, 'a', 10)"));
    gridtest::Exec(*d, QStringLiteral("insert grid_mix values (2, 'a', 20)"));
    gridtest::Exec(*d, QStringLiteral("insert grid_mix values (3, 'b', 5)"));
    gridtest::Exec(*d, QStringLiteral("create procedure grid_proc @x int, @y int output as\n"
                                      "begin\n  select @y = @x * 2\n  print 'inside'\n  return 3\nend"));
    return d;
  }();
  return *db;
}

const QString kMixed = QStringLiteral(
    "select id, grp from grid_mix where id <= 2 order by id\r\n"
    "select grp, amount from grid_mix order by grp compute sum(amount) by grp\r\n"
    "declare @out int\r\n"
    "exec grid_proc 21, @out output\r\n"
    "print 'hello there'\r\n"
    "raiserror 20001 'something went wrong'\r\n"
    "update grid_mix set amount = amount where grp = 'a'\r\n");

// The lines the mixed batch gives, from row 1 on: each result set under its header (the rows
// after a compute row come as a result set of their own), the compute value under its
// operator in the column it belongs to, the status line in the blank line the statement
// before left, a blank line after each statement that ends with a done result (after its
// count when it has one; not after declare and print, whose success carries no count), the
// closing line last.
QStringList MixedLines() {
  return {
      QStringLiteral(" |id|grp"),
      QStringLiteral("1|1|a"),
      QStringLiteral("2|2|a"),
      QStringLiteral("|(2 rows affected)"),
      QStringLiteral(""),
      QStringLiteral(" |grp|amount"),
      QStringLiteral("1|a|10"),
      QStringLiteral("2|a|20"),
      QStringLiteral("||sum"),
      QStringLiteral("||30"),
      QStringLiteral(" |grp|amount"),
      QStringLiteral("1|b|5"),
      QStringLiteral("||sum"),
      QStringLiteral("||5"),
      // Three rows and two compute rows, as the server family counts them.
      QStringLiteral("|(5 rows affected)"),
      QStringLiteral("|(return status = 3)"),
      QStringLiteral(""),
      QStringLiteral("|(1 rows affected)"),
      QStringLiteral(""),
      QStringLiteral(""),  // the failed raiserror statement's end
      QStringLiteral("|(2 rows affected)"),
      QStringLiteral(""),
      QStringLiteral("|Execution Completed"),
  };
}

TEST(GridCells, MixedBatchInTheForegroundAndOnTheWorker) {
  for (bool background : {false, true}) {
    SCOPED_TRACE(background ? "background" : "foreground");
    TQorixGrid grid;
    grid.SetDatabase(&Db());
    grid.ShowReturnStatus = true;
    grid.RaiseOnError = false;
    grid.Background = background;
    QStringList params;
    int statusEvents = 0;
    grid.OnReturnStatus = [&](TComponent*) { ++statusEvents; };
    grid.OnReturnParams = [&](TComponent*) {
      for (int i = 1; i <= 1; ++i) params << grid.ParamText(i);
    };
    QString error, msg;
    int terminated = 0;
    std::thread::id terminateThread;
    grid.OnThreadTerminate = [&](Threadgrid* t, const QString& e, const QString& m) {
      EXPECT_EQ(t, grid.Worker());
      error = e;
      msg = m;
      ++terminated;
      terminateThread = std::this_thread::get_id();
    };
    grid.SetSQL(kMixed);
    grid.Execute();
    if (background) {
      ASSERT_TRUE(WaitUntil([&] { return terminated == 1; }));
      EXPECT_EQ(terminateThread, std::this_thread::get_id());
      EXPECT_TRUE(error.contains(QStringLiteral("something went wrong"))) << error.toStdString();
      EXPECT_TRUE(msg.contains(QStringLiteral("hello there")) || msg.contains(QStringLiteral("inside")))
          << msg.toStdString();
    }
    EXPECT_FALSE(grid.Active());
    EXPECT_EQ(Lines(grid, 1), MixedLines());
    EXPECT_EQ(grid.ReturnStatus(), 3);
    EXPECT_EQ(statusEvents, 1);
    EXPECT_EQ(params, QStringList{QStringLiteral("42")});
    EXPECT_EQ(grid.Model()->rowCount(), grid.RowCount());
    EXPECT_EQ(grid.Model()->columnCount(), grid.ColCount());
    EXPECT_EQ(grid.Model()->data(grid.Model()->index(2, 2)).toString(), QStringLiteral("a"));
    // Widths only grow: the compute's "sum" and the status line fit their columns.
    EXPECT_GE(grid.ColWidth(1), QStringLiteral("(return status = 3)").size() * TQorixGrid::kWidthFactor);
    EXPECT_GE(grid.ColWidth(2), 6 * TQorixGrid::kWidthFactor);
  }
}

TEST(GridCells, ViewOfTheMixedBatchScreenshot) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.ShowReturnStatus = true;
  grid.RaiseOnError = false;
  grid.Background = true;
  bool done = false;
  grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { done = true; };
  TQorixGridView view(&grid);
  view.resize(520, 480);
  view.show();
  grid.SetSQL(kMixed);
  grid.Execute();
  ASSERT_TRUE(WaitUntil([&] { return done; }));
  QApplication::processEvents();
  EXPECT_EQ(view.model()->rowCount(), grid.RowCount());
  EXPECT_EQ(view.columnWidth(1), grid.ColWidth(1));
  // The selection the view reports is what a selection export writes.
  view.selectionModel()->select(QItemSelection(view.model()->index(2, 1), view.model()->index(3, 2)),
                                QItemSelectionModel::ClearAndSelect);
  EXPECT_EQ(grid.Selection.left, 1);
  EXPECT_EQ(grid.Selection.top, 2);
  EXPECT_EQ(grid.Selection.right, 2);
  EXPECT_EQ(grid.Selection.bottom, 3);
  EXPECT_FALSE(gridtest::Screenshot(view, QStringLiteral("grid_mixed_batch")).isEmpty());
}

}  // namespace
