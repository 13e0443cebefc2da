// Export rules on cells laid out by hand (no server): the first exported row with and without
// KeepHeader, the fixed-width padding from the column widths, empty cells and blank lines in
// the delimited formats, HTML's "<BR>" for an empty cell, and the cell store's reads after
// every kind of write.
#include <functional>

#include "tests/catalog/grid/grid_fixture.h"

namespace {

// A grid whose cells are Rows (row 0 is the fixed row), with column widths Widths in pixels.
void Lay(TQorixGrid& grid, const std::vector<QStringList>& rows, const std::vector<int>& widths) {
  grid.Cells().Edit([&](TGridCellData& d) {
    int cols = 0;
    for (const QStringList& r : rows) cols = std::max(cols, static_cast<int>(r.size()));
    d.SetColCount(cols);
    d.SetRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
      for (int c = 0; c < rows[r].size(); ++c) d.SetCell(c, r, rows[r][c]);
    for (int c = 0; c < static_cast<int>(widths.size()); ++c) d.SetColWidth(c, widths[c]);
  });
}

QString Text(const TQorixGrid& g, bool all, int format, const QString& delimiter = {}) {
  return QString::fromUtf8(g.ExportText(all, format, delimiter));
}

struct RuleCase {
  const char* name;
  std::vector<QStringList> rows;
  std::vector<int> widths;
  bool keepHeader;
  bool allRows;
  TQorixGrid::TSelection selection;
  int format;
  QString delimiter;
  QString want;
};

TEST(GridExportRules, RowsColumnsAndPaddingFollowTheCells) {
  const QString crlf = QStringLiteral("\r\n");
  const std::vector<QStringList> ab = {{"", "", ""}, {" ", "a", "b"}, {"1", "1", "2"}};
  const RuleCase cases[] = {
      {"tab, rows from row 1", ab, {13, 64, 64}, false, true, {}, 1, {}, "a\tb" + crlf + "1\t2" + crlf},
      {"keep header: rows from row 0", {{"", "h", "k"}, {"1", "x", "y"}}, {13, 64, 64}, true, true, {}, 1, {},
       "h\tk" + crlf + "x\ty" + crlf},
      {"chosen delimiter of three characters", ab, {13, 64, 64}, false, true, {}, 5, QStringLiteral(" | "),
       "a | b" + crlf + "1 | 2" + crlf},
      {"fixed width pads to the width plus one", {{"", "", ""}, {"1", "ab", "c"}}, {13, 27, 18}, false, true, {}, 0,
       {}, "ab  c" + crlf},
      {"fixed width: widths in characters to the nearest integer", {{"", "", ""}, {"1", "ab", "c"}}, {13, 22, 18}, false, true, {},
       0, {}, "ab c" + crlf},  // 22/9 = 2.44 -> 2
      {"fixed width: an empty cell adds nothing", {{"", "", "", ""}, {"1", "", "c", "d"}}, {13, 27, 27, 9}, false,
       true, {}, 0, {}, "c   d" + crlf},
      {"fixed width: a single blank counts as a text", {{"", "", ""}, {"1", " ", "c"}}, {13, 27, 9}, false, true, {},
       0, {}, "    c" + crlf},
      {"fixed width of a selection starts at its left column", {{"", "", "", ""}, {"1", "a", "bb", "c"}},
       {13, 27, 27, 9}, false, false, {2, 1, 3, 1}, 0, {}, "bb  c" + crlf},
      {"delimited: trimmed fields, blank line gives separators only", {{"", "", ""}, {" ", " a ", "\tb"}, {"", "", ""}},
       {13, 64, 64}, false, true, {}, 2, {}, "a,b" + crlf + "," + crlf},
      {"selection block only", {{"", "", "", ""}, {" ", "a", "b", "c"}, {"1", "1", "2", "3"}, {"2", "4", "5", "6"}},
       {13, 64, 64, 64}, false, false, {2, 2, 3, 3}, 1, {}, "2\t3" + crlf + "5\t6" + crlf},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.name);
    TQorixGrid grid;
    Lay(grid, c.rows, c.widths);
    grid.KeepHeader = c.keepHeader;
    grid.Selection = c.selection;
    EXPECT_EQ(Text(grid, c.allRows, c.format, c.delimiter), c.want);
  }
  // KeepHeader without ShowHeader keeps no header in the fixed row: rows from row 1.
  TQorixGrid grid;
  Lay(grid, ab, {13, 64, 64});
  grid.SetShowHeader(false);
  grid.KeepHeader = true;
  EXPECT_EQ(Text(grid, true, 1), "a\tb" + crlf + "1\t2" + crlf);
}

TEST(GridExportRules, HtmlCellsAreEscapedAndEmptyOnesAreABreak) {
  TQorixGrid grid;
  Lay(grid, {{"", "", "", ""}, {"1", " ", "<a&b>", ""}}, {13, 64, 64, 64});
  const QString html = Text(grid, true, 6);
  const QString cell = QStringLiteral("<TD ALIGN=LEFT VALIGN=top><FONT FACE=\"ARIAL\" SIZE=2>%1</FONT></TD>\r\n");
  EXPECT_TRUE(html.contains(QStringLiteral("<TR>\r\n") + cell.arg(QStringLiteral("<BR>")) +
                            cell.arg(QStringLiteral("&lt;a&amp;b&gt;")) + cell.arg(QStringLiteral("<BR>")) +
                            QStringLiteral("</TR>\r\n")))
      << html.toStdString();
  EXPECT_TRUE(html.startsWith(QStringLiteral("<HTML>\r\n<HEAD><META HTTP-EQUIV=\"Content-Type\" "
                                             "CONTENT=\"text/html; charset=UTF-8\"></HEAD>\r\n<P>\r\n</TABLE>\r\n")))
      << html.left(120).toStdString();
  EXPECT_TRUE(html.endsWith(QStringLiteral("</TABLE>\r\n</HTML>\r\n")));
}

TEST(GridCellStore, CellsReadBackAfterEveryKindOfWrite) {
  const QChar end(TGridCellData::kCellEnd);
  auto joined = [&](const QStringList& cells) {
    QString s;
    for (const QString& c : cells) s += c + end;
    return s;
  };
  const struct {
    const char* name;
    std::function<void(TGridCellData&)> write;
    QStringList row2;  // cells 0 to 4 of row 2
  } cases[] = {
      {"a row", [&](TGridCellData& d) { d.SetRow(2, joined({"1", "a", "", "c"}), 4); }, {"1", "a", "", "c", ""}},
      {"a cell past the row's end", [&](TGridCellData& d) { d.SetCell(3, 2, QStringLiteral("x")); },
       {"", "", "", "x", ""}},
      {"a cell inside a row, longer and shorter",
       [&](TGridCellData& d) {
         d.SetRow(2, joined({"1", "a", "b", "c"}), 4);
         d.SetCell(1, 2, QStringLiteral("longer text"));
         d.SetCell(2, 2, QString());
       },
       {"1", "longer text", "", "c", ""}},
      {"a shorter row keeps the cells after it",
       [&](TGridCellData& d) {
         d.SetRow(2, joined({"1", "a", "b", "c", "d"}), 5);
         d.SetRow(2, joined({"2", "z"}), 2);
       },
       {"2", "z", "b", "c", "d"}},
      {"a cell's NUL becomes a blank", [&](TGridCellData& d) { d.SetCell(1, 2, QStringLiteral("a") + end + "b"); },
       {"", "a b", "", "", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TGridCellStore store;
    store.Edit([&](TGridCellData& d) { c.write(d); });
    QStringList got;
    for (int col = 0; col < 5; ++col) got << store.Cell(col, 2);
    EXPECT_EQ(got, c.row2);
    EXPECT_EQ(store.Cell(0, 1), QString());
    EXPECT_EQ(store.Cell(0, 3), QString());
    EXPECT_EQ(store.Cell(-1, 2), QString());
  }
}

TEST(GridCellStore, RowCountNeverDropsBelowTheFixedRowsPlusOne) {
  const struct {
    int fixed, set, want;
  } cases[] = {{1, 0, 2}, {1, -3, 2}, {1, 1, 2}, {1, 5, 5}, {2, 2, 3}, {0, 0, 1}};
  for (const auto& c : cases) {
    TGridCellStore store;
    store.Edit([&](TGridCellData& d) {
      d.fixedRows = c.fixed;
      d.SetRowCount(c.set);
    });
    EXPECT_EQ(store.RowCount(), c.want) << c.fixed << " fixed, " << c.set << " set";
  }
  // Widths are kept for any number of columns.
  TGridCellStore store;
  store.Edit([](TGridCellData& d) {
    d.SetColCount(2000);
    d.SetColWidth(1999, 77);
  });
  EXPECT_EQ(store.ColWidth(1999), 77);
  EXPECT_EQ(store.ColWidth(1500), TGridCellStore::kDefaultColWidth);
}

}  // namespace
