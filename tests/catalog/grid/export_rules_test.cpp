// Export rules on cells laid out by hand (no server): the first exported row with and without
// KeepHeader, the fixed-width padding from the column widths, empty cells and blank lines in
// the delimited formats, and HTML's "<BR>" for an empty cell.
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
