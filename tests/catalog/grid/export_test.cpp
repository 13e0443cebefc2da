// Export of the cells in every format, all rows and a selected block, against golden files:
// the result holds the delimiters, quotes, line ends, markup characters and non-ASCII text an
// export has to carry. A file that cannot be written gives the error box and nothing raised.
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "tests/catalog/grid/grid_fixture.h"

namespace {

TQorixDatabase& Db() {
  static std::unique_ptr<TQorixDatabase> db = gridtest::Connect(QStringLiteral("exportdb"));
  return *db;
}

// Two rows whose texts need care in one format or another; the second row has a NULL and an
// empty text.
const QString kScript = QString::fromUtf8(
    "select 'a,b' as comma, 'say \"hi\"' as quote, 'one' + char(13) + char(10) + 'two' as lines, "
    "'<b>&amp;</b>' as markup, 'Grüße €' as text, 'x|y' as bar\r\n"
    "union all select 'tab\there', ' lead', 'lf' + char(10) + 'only', '&<>', convert(varchar(10), NULL), ''\r\n");

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

// The HTML title cell carries the time of the export; the golden file has "DATE" there.
QByteArray WithoutDate(QByteArray html) {
  QString s = QString::fromUtf8(html);
  s.replace(QRegularExpression(QStringLiteral("<BR>Date : [^<]*</FONT>")), QStringLiteral("<BR>Date : DATE</FONT>"));
  return s.toUtf8();
}

struct ExportCase {
  const char* golden;
  bool allRows;
  int format;
  QString delimiter;
};

TEST(GridExport, EachFormatOfAllRowsAndOfASelectionMatchesItsGoldenFile) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.SetSQL(kScript);
  grid.Execute();
  ASSERT_EQ(grid.Cell(1, 1), QStringLiteral("comma"));
  // The selection: the two data rows, columns quote to text.
  grid.Selection = TQorixGrid::TSelection{2, 2, 5, 3};
  const ExportCase cases[] = {
      {"all_fixed.txt", true, 0, {}},
      {"all_tab.txt", true, 1, {}},
      {"all_comma.csv", true, 2, {}},
      {"all_delimiter.txt", true, 5, QStringLiteral("|")},
      {"all.html", true, 6, {}},
      {"selected_fixed.txt", false, 0, {}},
      {"selected_tab.txt", false, 1, {}},
      {"selected_comma.csv", false, 2, {}},
      {"selected_delimiter.txt", false, 5, QStringLiteral(";")},
      {"selected.html", false, 6, {}},
  };
  QTemporaryDir dir;
  const bool update = qEnvironmentVariableIsSet("TABULON_UPDATE_GOLDEN");
  for (const ExportCase& c : cases) {
    SCOPED_TRACE(c.golden);
    const QString goldenPath = QStringLiteral(TABULON_GOLDEN_DIR "/") + QLatin1String(c.golden);
    const QString out = dir.filePath(QLatin1String(c.golden));
    grid.ExportToFile(c.allRows, c.format, out, c.delimiter);
    QByteArray got = ReadFile(out);
    if (c.format == 6) got = WithoutDate(got);
    if (update) {
      QFile g(goldenPath);
      ASSERT_TRUE(g.open(QIODevice::WriteOnly | QIODevice::Truncate));
      g.write(got);
      continue;
    }
    const QByteArray want = ReadFile(goldenPath);
    ASSERT_FALSE(want.isEmpty()) << "missing golden file " << goldenPath.toStdString();
    EXPECT_EQ(QString::fromUtf8(got), QString::fromUtf8(want));
  }
}

TEST(GridExport, UnknownFormatLeavesAnEmptyFileAndAFailedWriteShowsTheErrorBox) {
  TRecordingUiServices ui;
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.SetSQL(QStringLiteral("select 1 as one"));
  grid.Execute();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("three.txt"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old contents");
  }
  for (int format : {3, 4, 7, 255}) {
    grid.ExportToFile(true, format, path, QString());
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(ReadFile(path), QByteArray()) << format;
  }
  EXPECT_TRUE(ui.Events(TRecordingUiServices::Event::kMessageBox).empty());

  const QString bad = dir.filePath(QStringLiteral("no/such/folder/out.txt"));
  EXPECT_NO_THROW(grid.ExportToFile(true, 1, bad, QString()));
  const auto boxes = ui.Events(TRecordingUiServices::Event::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, QStringLiteral("Error Accessing File '%1'").arg(bad));
  EXPECT_EQ(boxes[0].caption, QStringLiteral("QorixGrid"));
  EXPECT_EQ(boxes[0].icon, TMsgBoxIcon::Stop);
}

}  // namespace
