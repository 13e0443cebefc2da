// The grid's view: a result of 1,800 rows and 21 columns scrolled down and right still shows
// the fixed row (the kept header) and the fixed column (the line numbers); the fixed row
// holds nothing without KeepHeader; dragging a column border in the fixed row resizes the
// column in the grid (what the fixed-width export pads to) only with goColSizing; the other
// options reach the view. Screenshots of the scrolled view go to the build folder.
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>

#include "tests/catalog/grid/grid_fixture.h"

namespace {

using gridtest::WaitUntil;

TQorixDatabase& Db() {
  static std::unique_ptr<TQorixDatabase> db = [] {
    auto d = gridtest::Connect(QStringLiteral("viewdb"));
    gridtest::Exec(*d, QStringLiteral("create table grid_view_digits (d int not null)"));
    for (int i = 0; i < 10; ++i) gridtest::Exec(*d, QStringLiteral("insert grid_view_digits values (%1)").arg(i));
    return d;
  }();
  return *db;
}

// 1,800 rows of 21 columns: n and twenty columns derived from it.
QString WideScript() {
  QStringList cols{QStringLiteral("n")};
  for (int k = 1; k <= 20; ++k)
    cols << (k % 2 ? QStringLiteral("n * %1 as c%1").arg(k)
                   : QStringLiteral("'value ' + convert(varchar(10), n + %1) as c%1").arg(k));
  return QStringLiteral("select ") + cols.join(QStringLiteral(", ")) +
         QStringLiteral(" from (select a.d + 10 * b.d + 100 * c.d + 1000 * e.d as n from grid_view_digits a, "
                        "grid_view_digits b, grid_view_digits c, grid_view_digits e) x where n < 1800 order by n");
}

// Runs Sql on the worker with View showing the grid, until the run has ended.
void RunShown(TQorixGrid& grid, TQorixGridView& view, const QString& sql) {
  bool done = false;
  grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { done = true; };
  grid.SetSQL(sql);
  grid.Execute();
  ASSERT_TRUE(WaitUntil([&] { return done; }, 20000));
  QApplication::processEvents();
  view.scrollToBottom();
  view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
  QApplication::processEvents();
}

TEST(GridView, FixedRowAndColumnStayWhileTheCellsScrollDownAndRight) {
  for (bool keepHeader : {true, false}) {
    SCOPED_TRACE(keepHeader ? "KeepHeader" : "header in the cells");
    TQorixGrid grid;
    grid.SetDatabase(&Db());
    grid.Background = true;
    grid.KeepHeader = keepHeader;
    TQorixGridView view(&grid);
    view.resize(720, 420);
    view.show();
    RunShown(grid, view, WideScript());
    QAbstractItemModel* m = view.model();
    ASSERT_EQ(grid.ColCount(), 22);
    ASSERT_GE(grid.RowCount(), 1800);

    // Scrolled to the bottom right: the cells shown are the last rows and columns...
    const int topRow = view.rowAt(0);
    const int leftCol = view.columnAt(0);
    EXPECT_GT(topRow, 1700);
    EXPECT_GT(leftCol, 5);
    // ...and both headers still stand at the view's edges.
    QHeaderView* top = view.horizontalHeader();
    QHeaderView* left = view.verticalHeader();
    ASSERT_TRUE(top->isVisible());
    ASSERT_TRUE(left->isVisible());
    EXPECT_EQ(top->geometry().top(), view.viewport()->geometry().top() - top->height());
    EXPECT_EQ(left->geometry().right() + 1, view.viewport()->geometry().left());
    EXPECT_EQ(left->width(), grid.ColWidth(0));
    // The fixed column labels the rows shown with their line numbers.
    const int lastDataRow = keepHeader ? 1800 : 1801;
    EXPECT_EQ(m->headerData(lastDataRow, Qt::Vertical).toString(), grid.Cell(0, lastDataRow));
    EXPECT_EQ(grid.Cell(0, lastDataRow), QStringLiteral("1800"));
    EXPECT_EQ(left->logicalIndexAt(0), topRow);
    EXPECT_EQ(m->headerData(topRow, Qt::Vertical).toString(), grid.Cell(0, topRow));
    // The fixed row labels the columns shown with the kept header, or stays empty.
    const QString name = m->headerData(leftCol, Qt::Horizontal).toString();
    if (keepHeader) EXPECT_EQ(name, QStringLiteral("c%1").arg(leftCol - 1));
    else EXPECT_EQ(name, QString());
    EXPECT_EQ(top->logicalIndexAt(0), leftCol);
    // Neither the fixed row nor the line numbers are drawn a second time among the cells.
    EXPECT_TRUE(view.isRowHidden(0));
    EXPECT_TRUE(view.isColumnHidden(0));
    EXPECT_FALSE(gridtest::Screenshot(view, keepHeader ? QStringLiteral("grid_wide_scrolled_keepheader")
                                                       : QStringLiteral("grid_wide_scrolled"))
                     .isEmpty());
  }
}

// Drags the right border of Col's section in the fixed row by Dx pixels.
void DragBorder(TQorixGridView& view, int col, int dx) {
  QHeaderView* h = view.horizontalHeader();
  const int x = h->sectionViewportPosition(col) + h->sectionSize(col) - 1;
  const QPoint from(x, h->height() / 2);
  QWidget* port = h->viewport();
  QTest::mouseMove(port, from);
  QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(port, from + QPoint(dx / 2, 0));
  QTest::mouseMove(port, from + QPoint(dx, 0));
  QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, from + QPoint(dx, 0));
  QApplication::processEvents();
}

TEST(GridView, ColumnsResizeByDraggingOnlyWithColumnSizing) {
  for (bool sizing : {true, false}) {
    SCOPED_TRACE(sizing ? "goColSizing" : "no goColSizing");
    TQorixGrid grid;
    grid.SetDatabase(&Db());
    if (!sizing) grid.Options.Exclude(TGridOption::goColSizing);
    TQorixGridView view(&grid);
    view.resize(600, 300);
    view.show();
    grid.SetSQL(QStringLiteral("select 'ab' as x, 'c' as y"));
    grid.Execute();
    QApplication::processEvents();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const int before = grid.ColWidth(1);
    ASSERT_EQ(view.columnWidth(1), before);
    DragBorder(view, 1, 45);
    const int want = sizing ? before + 45 : before;
    EXPECT_EQ(view.columnWidth(1), want);
    EXPECT_EQ(grid.ColWidth(1), want);
    // The width stays through the model's next refresh and is what the fixed-width export
    // pads the column to (its width in characters plus one).
    grid.Model()->Refresh();
    EXPECT_EQ(view.columnWidth(1), want);
    const int chars = static_cast<int>(std::nearbyint(double(want) / TQorixGrid::kWidthFactor));
    EXPECT_EQ(QString::fromUtf8(grid.ExportText(true, 0, {})).section(QStringLiteral("\r\n"), 1, 1),
              QStringLiteral("ab") + QString(chars - 1, QLatin1Char(' ')) + QStringLiteral("c"));
  }
}

TEST(GridView, OptionsReachTheView) {
  const struct {
    TGridOption option;
    std::function<bool(const TQorixGridView&)> on;
  } cases[] = {
      {TGridOption::goRangeSelect,
       [](const TQorixGridView& v) { return v.selectionMode() == QAbstractItemView::ContiguousSelection; }},
      {TGridOption::goRowSelect,
       [](const TQorixGridView& v) { return v.selectionBehavior() == QAbstractItemView::SelectRows; }},
      {TGridOption::goRowSizing,
       [](const TQorixGridView& v) { return v.verticalHeader()->sectionResizeMode(1) == QHeaderView::Interactive; }},
      {TGridOption::goColSizing,
       [](const TQorixGridView& v) { return v.horizontalHeader()->sectionResizeMode(1) == QHeaderView::Interactive; }},
      {TGridOption::goTabs, [](const TQorixGridView& v) { return v.tabKeyNavigation(); }},
      {TGridOption::goThumbTracking, [](const TQorixGridView& v) { return v.verticalScrollBar()->hasTracking(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.option));
    for (bool included : {true, false}) {
      TQorixGrid grid;
      if (included) grid.Options.Include(c.option);
      else grid.Options.Exclude(c.option);
      TQorixGridView view(&grid);
      EXPECT_EQ(c.on(view), included);
    }
  }
  // The default row height and the lines.
  TQorixGrid grid;
  TQorixGridView view(&grid);
  EXPECT_EQ(view.verticalHeader()->defaultSectionSize(), 20);
  EXPECT_TRUE(view.showGrid());
  grid.Options.Exclude(TGridOption::goVertLine).Exclude(TGridOption::goHorzLine);
  view.ApplyOptions();
  EXPECT_FALSE(view.showGrid());
}

}  // namespace
