// The main window's text rules: name parts, the run text of a selection, the padded lines
// copy and print take from grid cells, and the record edit window's field captions.
#include <gtest/gtest.h>

#include "app/AppText.h"

using namespace apptext;

TEST(AppTextTest, NameParts) {
  struct Case { const char* text; const char* object; const char* owner; };
  for (const Case& c : {Case{"dbo.books", "books", "dbo"}, Case{"books", "books", ""},
                        Case{"books.ix_title.x", "ix_title.x", "books"}, Case{"", "", ""}}) {
    EXPECT_EQ(ObjectNamePart(c.text), QString::fromLatin1(c.object)) << c.text;
    EXPECT_EQ(OwnerNamePart(c.text), QString::fromLatin1(c.owner)) << c.text;
  }
}

TEST(AppTextTest, SelectionKeepsColumnsAndLongLines) {
  const QStringList lines{QStringLiteral("abcdselect 1"), QStringLiteral("from t where x = 1")};
  // A selection from column 5 of the first line (offset 4) to offset 7 of the second.
  TSelection sel{0, 4, 1, 7};
  EXPECT_EQ(SelectedText(lines, sel), QStringLiteral("    select 1\r\nfrom t \r\n"));
  // A line far past 1,024 characters is taken whole.
  const QString longLine = QStringLiteral("select '") + QString(5000, QLatin1Char('x')) + QStringLiteral("'");
  EXPECT_EQ(SelectedText({longLine}, TSelection{0, 0, 0, int(longLine.size())}), longLine + QStringLiteral("\r\n"));
}

TEST(AppTextTest, BlankText) {
  EXPECT_TRUE(IsBlankText(QStringLiteral("  \r\n\t \n")));
  EXPECT_TRUE(IsBlankText(QString()));
  EXPECT_FALSE(IsBlankText(QStringLiteral(" \n go")));
}

TEST(AppTextTest, CellLinePadsToColumnWidths) {
  struct Case { const char* name; QStringList cells; std::vector<int> widths; int points; QString line; };
  const Case cases[] = {
      {"padded to width + 1", {"ab", "c"}, {80, 80}, 8, QStringLiteral("ab") + QString(9, ' ') + "c"},
      {"empty cell gets no padding", {"", "c"}, {80, 80}, 8, QStringLiteral("c")},
      {"too long runs into the next", {"abcdef", "c"}, {16, 80}, 8, QStringLiteral("abcdefc")},
      {"half rounds to even", {"a", "b"}, {20, 80}, 8, QStringLiteral("a  b")},  // 2.5 -> 2
      {"another half rounds up to even", {"a", "b"}, {28, 80}, 8, QStringLiteral("a    b")},  // 3.5 -> 4
  };
  for (const Case& c : cases) EXPECT_EQ(CellLine(c.cells, c.widths, c.points), c.line) << c.name;
}

TEST(AppTextTest, FieldCaption) {
  EXPECT_EQ(FieldCaption(QStringLiteral("first_name")), QStringLiteral("First Name"));
  EXPECT_EQ(FieldCaption(QStringLiteral("unit__price")), QStringLiteral("Unit  Price"));
  EXPECT_EQ(FieldCaption(QStringLiteral("_x9_é")), QStringLiteral(" X9 é"));
  EXPECT_EQ(FieldCaption(QString()), QString());
}
