// Export of the cells in every format, all rows and a selected block, against golden files:
// the result holds the delimiters, quotes, line ends, markup characters and non-ASCII text an
// export has to carry. Each delimited file read back by Python's csv module and the HTML page
// by its HTML parser (in the character set the page declares) gives back every cell. A file
// that cannot be written gives the error box and nothing raised.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
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
    "'<b>&amp;</b>' as markup, 'Grüße €' as text, 'x|y' as bar, '\"start\" of it' as qstart\r\n"
    "union all select 'tab\there', ' lead', 'lf' + char(10) + 'only', '&<>', convert(varchar(10), NULL), '', "
    "'\"'\r\n");

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

// Reads an exported file as a standard reader does and prints its records as JSON: a
// delimited file through csv with the export's separator, an HTML page through html.parser
// after decoding it in the charset its META declares (as a browser's prescan finds it; the
// web's default windows-1252 without one), keeping the cells of its last table.
const char* kReader = R"PY(
import csv, json, re, sys
from html.parser import HTMLParser
path, kind, sep = sys.argv[1], sys.argv[2], sys.argv[3]
if kind == "csv":
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f, delimiter=sep))
else:
    raw = open(path, "rb").read()
    m = re.search(rb'charset=["\']?([A-Za-z0-9_-]+)', raw[:1024], re.I)
    text = raw.decode(m.group(1).decode() if m else "windows-1252")
    class Cells(HTMLParser):
        def __init__(self):
            super().__init__(convert_charrefs=True)
            self.tables, self.cell = [], None
        def handle_starttag(self, tag, attrs):
            if tag == "table": self.tables.append([])
            elif tag == "tr": self.tables[-1].append([])
            elif tag == "td": self.cell = ""
        def handle_endtag(self, tag):
            if tag == "td":
                self.tables[-1][-1].append(self.cell)
                self.cell = None
        def handle_data(self, data):
            if self.cell is not None: self.cell += data
    p = Cells()
    p.feed(text)
    rows = [r for r in p.tables[-1]]
print(json.dumps(rows))
)PY";

std::vector<QStringList> ReadBack(const QString& path, const char* kind, const QString& sep) {
  QProcess py;
  py.start(QStringLiteral("python3"), {QStringLiteral("-c"), QLatin1String(kReader), path, QLatin1String(kind), sep});
  if (!py.waitForFinished(20000) || py.exitCode() != 0) {
    ADD_FAILURE() << "python3 failed: " << py.readAllStandardError().toStdString();
    return {};
  }
  std::vector<QStringList> rows;
  for (const QJsonValue& r : QJsonDocument::fromJson(py.readAllStandardOutput()).array()) {
    QStringList fields;
    for (const QJsonValue& f : r.toArray()) fields << f.toString();
    rows.push_back(fields);
  }
  return rows;
}

TEST(GridExport, EachFormatReadBackByAStandardReaderGivesBackEveryCell) {
  ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
      << "the re-import check needs python3 (Debian package python3)";
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.SetSQL(kScript);
  grid.Execute();
  // What every reader must give back: the exported cells of rows 1 on, columns 1 on, as the
  // export trims them (blanks and control characters at either end); the HTML page writes an
  // empty cell as a line break, which reads back as nothing.
  std::vector<QStringList> want;
  for (int r = 1; r < grid.RowCount(); ++r) {
    QStringList row;
    for (int c = 1; c < grid.ColCount(); ++c) {
      QString t = grid.Cell(c, r);
      while (!t.isEmpty() && t.front().unicode() <= 32) t.remove(0, 1);
      while (!t.isEmpty() && t.back().unicode() <= 32) t.chop(1);
      row << t;
    }
    want.push_back(row);
  }
  ASSERT_EQ(want[1][6], QStringLiteral("\"start\" of it"));
  ASSERT_EQ(want[2][6], QStringLiteral("\""));
  const struct {
    const char* name;
    int format;
    QString delimiter;  // also the reader's separator
    const char* kind;
  } cases[] = {
      {"tab", 1, QStringLiteral("\t"), "csv"},
      {"comma", 2, QStringLiteral(","), "csv"},
      {"chosen delimiter ;", 5, QStringLiteral(";"), "csv"},
      {"chosen delimiter |", 5, QStringLiteral("|"), "csv"},
      {"html", 6, QStringLiteral("-"), "html"},
  };
  QTemporaryDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = dir.filePath(QStringLiteral("export_%1").arg(c.format));
    grid.ExportToFile(true, c.format, path, c.delimiter);
    const std::vector<QStringList> got = ReadBack(path, c.kind, c.delimiter);
    EXPECT_EQ(got.size(), want.size());
    for (size_t r = 0; r < std::min(got.size(), want.size()); ++r) EXPECT_EQ(got[r], want[r]) << "record " << r;
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
