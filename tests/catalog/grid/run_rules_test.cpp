// Rules of a run against the local server: the classic types' texts with NULLs after values,
// values longer than their buffer delivered cut instead of dropped, text and image past the
// connection's text size delivered whole, LumicDtFmt, MaxRows (inside a compute by too),
// separator lines without counts, counts with hidden computes, the fixed row under KeepHeader,
// the wait cursor after a failed run, the status line never in the fixed row, DisConnectAtEnd,
// the display width of a described column, and results wider than any fixed number of columns.
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <cstring>

#include "access/QorixExceptions.h"
#include "tests/catalog/grid/grid_fixture.h"
#include "tests/support/ct_client.h"

namespace {

using gridtest::Lines;
using gridtest::WaitUntil;

tabtest::CtClient& Client() {
  static tabtest::CtClient* client = [] {
    auto* c = new tabtest::CtClient;
    gridtest::Server();
    c->connect();
    c->run("use sample");
    return c;
  }();
  return *client;
}

void Setup(const char* sql) {
  const tabtest::CtBatch b = Client().run(sql);
  ASSERT_FALSE(b.firstError()) << sql << ": " << b.firstError()->text;
}

TQorixDatabase& Db() {
  static std::unique_ptr<TQorixDatabase> db = [] {
    auto d = gridtest::Connect(QStringLiteral("rulesdb"));
    Setup("create table grid_types (ti tinyint null, si smallint null, i int null, b bit not null, r real null, "
          "f float null, m money null, sm smallmoney null, n numeric(10,3) null, dt datetime null, "
          "sdt smalldatetime null, c char(5) null, v varchar(300) null, bn binary(3) null, vb varbinary(4) null, "
          "t text null, im image null)");
    Setup("insert grid_types values (255, -32768, 2147483647, 1, 1.5, 0.25, 12.34, -1.5, 3.142, "
          "'20240102 13:14:15.500', '20240102 13:14', 'ab', replicate('v', 250) + replicate('w', 50), 0x0a0b, 0x01ff, "
          "'some text', 0x0102)");
    Setup("insert grid_types values (NULL, NULL, NULL, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
          "NULL, NULL, NULL)");
    Setup("create table grid_ten (n int not null)");
    for (int i = 1; i <= 10; ++i) Setup(("insert grid_ten values (" + std::to_string(i) + ")").c_str());
    Setup("create procedure grid_ret as return 0");
    Setup("create procedure grid_neg as return -4");
    Setup("create table grid_grp (grp varchar(5) not null, amount int not null)");
    Setup("insert grid_grp values ('a', 10)");
    Setup("insert grid_grp values ('a', 20)");
    Setup("insert grid_grp values ('b', 5)");
    return d;
  }();
  return *db;
}

TEST(GridRun, ClassicTypesAndNullsAfterValues) {
  const struct {
    bool useNullString;
    QString nullText;
  } modes[] = {{false, QStringLiteral(" ")}, {true, QStringLiteral("(NULL)")}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.useNullString ? "NULLString" : "blank");
    TQorixGrid grid;
    grid.SetDatabase(&Db());
    grid.UseNULLString = mode.useNullString;
    grid.SetSQL(QStringLiteral("select ti, si, i, b, r, f, m, sm, n, dt, sdt, c, bn, vb, t, im from grid_types"));
    grid.Execute();
    const QStringList header = {" ", "ti", "si", "i", "b", "r", "f", "m", "sm", "n", "dt", "sdt", "c", "bn", "vb",
                                "t", "im"};
    const QStringList values = {"1", "255", "-32768", "2147483647", "1", "1.5", "0.25", "12.3400", "-1.5000",
                                "3.142", "Jan  2 2024 01:14PM", "Jan  2 2024 01:14PM", "ab", "0a0b", "01ff",
                                "some text", "0102"};
    QStringList nulls(17, mode.nullText);
    nulls[0] = QStringLiteral("2");
    nulls[4] = QStringLiteral("0");  // bit is never NULL
    for (int c = 0; c <= 16; ++c) {
      SCOPED_TRACE(header[c].toStdString());
      EXPECT_EQ(grid.Cell(c, 1), header[c]);
      EXPECT_EQ(grid.Cell(c, 2), values[c]);
      EXPECT_EQ(grid.Cell(c, 3), nulls[c]);
    }
    EXPECT_EQ(grid.Cell(1, 4), QStringLiteral("(2 rows affected)"));
    // Widths: at least the longest text of the column.
    EXPECT_GE(grid.ColWidth(10), 19 * TQorixGrid::kWidthFactor);
  }
}

// The grid writes the texts of numbers and date-times itself; they must be the texts the
// client library gives for the same values bound as characters.
TEST(GridRun, NumberAndDateTimeTextsAreTheLibrarysOwn) {
  const std::string sql =
      "select n, -n * 123457 as i, convert(tinyint, n * 25) as ti, convert(smallint, -n * 3001) as si, "
      "n % 2 as b, n * 1.1e10 / 7 as f, convert(real, n / 3.0) as r, convert(float, -n) / 1e20 as tiny, "
      "convert(money, n * -123.4567) as m, convert(money, 922337203685477.5807 / n) as bigm, "
      "convert(smallmoney, n * 3.21) as sm, convert(numeric(20,5), n / 7.0) as n5, "
      "convert(numeric(38,0), 12345678901234567890123456789.0 * n) as n38, convert(numeric(4,4), n / 100.0) as frac, "
      "dateadd(mi, n * 137, '19991231 23:00') as dt, dateadd(ms, n * 3, '17530101') as early, "
      "convert(smalldatetime, dateadd(hh, n * 5, '20240229')) as sdt, "
      "case when n % 3 = 0 then convert(float, NULL) else n end as maybe "
      "from grid_ten order by n";
  Db();
  const tabtest::CtBatch ref = Client().run(sql);
  ASSERT_FALSE(ref.firstError()) << ref.firstError()->text;
  ASSERT_EQ(ref.sets.size(), 1u);
  const tabtest::CtResultSet& set = ref.sets[0];
  ASSERT_EQ(set.rows.size(), 10u);
  // On this library the grid writes every kind's texts itself (else the check below would
  // only compare the library with itself).
  for (int k = 1; k < static_cast<int>(valuetext::Kind::Count); ++k)
    EXPECT_TRUE(valuetext::Agrees(Db().ContextHandle(), static_cast<valuetext::Kind>(k))) << "kind " << k;
  for (bool selectOnly : {false, true}) {
    SCOPED_TRACE(selectOnly ? "cursor" : "language");
    TQorixGrid grid;
    grid.SetDatabase(&Db());
    grid.SelectOnly = selectOnly;
    grid.SetSQL(QString::fromStdString(sql));
    grid.Execute();
    for (size_t r = 0; r < set.rows.size(); ++r)
      for (size_t c = 0; c < set.columns.size(); ++c) {
        const auto& v = set.rows[r][c];
        EXPECT_EQ(grid.Cell(static_cast<int>(c) + 1, static_cast<int>(r) + 2),
                  v && !v->empty() ? QString::fromStdString(*v) : QStringLiteral(" "))
            << set.columns[c] << " of row " << r + 1;
      }
  }
}

TEST(GridRun, LongValuesAreDeliveredWhole_OrCutToTheirBuffer_NeverDropped) {
  const struct {
    const char* name;
    QString sql;
    int length;       // the cell text's length
    QString prefix;
  } cases[] = {
      {"varchar(300)", QStringLiteral("select v from grid_types where v is not null"), 300, QStringLiteral("vvvv")},
      {"text of 500", QStringLiteral("select convert(text, replicate('t', 250)) + replicate('u', 250) as t"), 500,
       QStringLiteral("tttt")},
      // 600 bytes are 1200 hex digits, more than the 1024 a binary column is shown with.
      {"varbinary(600)", QStringLiteral("select convert(varbinary(600), replicate('a', 250) + replicate('b', 250) + "
                                        "replicate('c', 100)) as b"),
       1024, QStringLiteral("6161")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TQorixGrid grid;
    grid.SetDatabase(&Db());
    grid.SetSQL(c.sql);
    grid.Execute();
    const QString cell = grid.Cell(1, 2);
    EXPECT_GE(cell.size(), c.length);
    EXPECT_LE(cell.size(), c.length + 2);
    EXPECT_TRUE(cell.startsWith(c.prefix)) << cell.left(20).toStdString();
    EXPECT_EQ(grid.Cell(0, 2), QStringLiteral("1"));
    EXPECT_EQ(grid.Cell(1, 3), QStringLiteral("(1 rows affected)"));
  }
}

// LumicDtFmt shows a date-time as the host does (short date, then long time, the time left off
// at midnight), never with the client's time zone: the value has none. Other columns keep
// their texts.
TEST(GridRun, LumicDtFmtShowsTheHostsDateAndTimeWithoutAZone) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.LumicDtFmt = true;
  grid.SetSQL(QStringLiteral("select convert(datetime, '20240102 13:14') as dt, convert(smalldatetime, '20240102') as "
                             "sdt, convert(datetime, NULL) as nul, 'Jan  2 2024  1:14PM' as txt"));
  grid.Execute();
  const QLocale loc;
  const QString date = loc.toString(QDate(2024, 1, 2), QLocale::ShortFormat);
  const QString dt = grid.Cell(1, 2);
  ASSERT_TRUE(dt.startsWith(date + QLatin1Char(' '))) << dt.toStdString();
  QString timeFormat = loc.timeFormat(QLocale::LongFormat);
  timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
  EXPECT_EQ(loc.toTime(dt.mid(date.size() + 1), timeFormat.trimmed()), QTime(13, 14)) << dt.toStdString();
  EXPECT_FALSE(dt.contains(QStringLiteral("UTC")) || dt.contains(QTimeZone::systemTimeZone().abbreviation(
                                                                      QDateTime::currentDateTime())))
      << dt.toStdString();
  EXPECT_EQ(grid.Cell(2, 2), date);
  EXPECT_EQ(grid.Cell(3, 2), QStringLiteral(" "));
  EXPECT_EQ(grid.Cell(4, 2), QStringLiteral("Jan  2 2024  1:14PM"));
}

// A script that raises the session's text size gets its text and image values whole, though
// the grid sized their buffers from the connection's text size (32,768 bytes).
TEST(GridRun, TextAndImagePastTheConnectionsTextSizeComeWhole) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.RaiseOnError = false;
  grid.SetSQL(QString::fromUtf8(
      "set textsize 200000\r\n"
      "create table #grid_long (t text null, i image null)\r\n"
      "insert #grid_long values (replicate('a', 250) + 'ü', 0x01fe)\r\n"
      "declare @n int select @n = 0 while @n < 8 begin update #grid_long set t = t + t, i = i + i "
      "select @n = @n + 1 end\r\n"
      "select t, convert(image, t) as ti, i, 'after' as x from #grid_long\r\n"
      "set textsize 32768\r\ndrop table #grid_long"));
  grid.Execute();
  int row = -1;
  for (int r = 0; r < grid.RowCount(); ++r)
    if (grid.Cell(1, r) == QLatin1String("t")) row = r + 1;
  ASSERT_GT(row, 0) << grid.LastError().toStdString();
  // 256 copies of 250 a's and a two-byte ü: 64,512 bytes.
  const QString text = QString(QString(250, QLatin1Char('a')) + QString::fromUtf8("ü")).repeated(256);
  EXPECT_EQ(grid.Cell(1, row).size(), text.size());
  EXPECT_EQ(grid.Cell(1, row), text);
  EXPECT_EQ(grid.Cell(2, row), QString::fromLatin1(text.toUtf8().toHex()));
  EXPECT_EQ(grid.Cell(3, row), QStringLiteral("01fe").repeated(256));
  EXPECT_EQ(grid.Cell(4, row), QStringLiteral("after"));
  EXPECT_EQ(grid.Cell(1, row + 1), QStringLiteral("(1 rows affected)"));
}

TEST(GridRun, MaxRowsEndsTheResultSetAndLeavesNothingPending) {
  for (bool background : {false, true}) {
    SCOPED_TRACE(background ? "background" : "foreground");
    TQorixGrid grid;
    grid.SetDatabase(&Db());
    grid.Background = background;
    grid.MaxRows = 5;
    int maxRows = 0, terminated = 0;
    grid.OnMaxRows = [&](TComponent*) { ++maxRows; };
    grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { ++terminated; };
    grid.SetSQL(QStringLiteral("select n from grid_ten order by n\r\nselect n * 10 as m from grid_ten order by n"));
    grid.Execute();
    if (background) {
      ASSERT_TRUE(WaitUntil([&] { return terminated == 1; }));
    }
    const QStringList lines = Lines(grid, 1);
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ(lines.mid(0, 7), (QStringList{" |n", "1|1", "2|2", "3|3", "4|4", "5|5", "|(5 rows affected)"}));
    // The second result set shows its header, one row and its count; no row of either set
    // comes back as a result set of its own.
    EXPECT_EQ(lines.count(QStringLiteral(" |n")), 1);
    EXPECT_EQ(lines.count(QStringLiteral(" |m")), 1);
    EXPECT_TRUE(lines.contains(QStringLiteral("1|10")));
    EXPECT_FALSE(lines.contains(QStringLiteral("2|20")));
    EXPECT_FALSE(lines.contains(QStringLiteral("6|6")));
    EXPECT_EQ(lines.last(), QStringLiteral("|Execution Completed"));
    EXPECT_EQ(maxRows, 2);
    // The connection is free for the next command.
    TQorixGrid next;
    next.SetDatabase(&Db());
    next.SetSQL(QStringLiteral("select count(*) as c from grid_ten"));
    next.Execute();
    EXPECT_EQ(next.Cell(1, 2), QStringLiteral("10"));
  }
}

// A result cut at MaxRows is read to its end rather than cancelled: FreeTDS's cancel of the
// current result also drops the compute formats, and the compute row that follows then ends
// the connection. Each case on a connection of its own, of either server family.
TEST(GridRun, MaxRowsInsideAComputeByKeepsTheConnectionServing) {
  Db();
  const QString script = QStringLiteral(
      "select grp, amount from grid_grp order by grp compute sum(amount) by grp\r\nselect 'next' as n");
  const struct {
    const char* name;
    int maxRows;
    QStringList lines;  // from row 1
  } cases[] = {
      {"cut in the first group", 1,
       {" |grp|amount", "1|a|10", "|(1 rows affected)", "||sum", "||30", " |grp|amount", "1|b|5",
        "|(1 rows affected)", "||sum", "||5", "", " |n", "1|next", "|(1 rows affected)", "", "|Execution Completed"}},
      {"cut at the first group's last row", 2,
       {" |grp|amount", "1|a|10", "2|a|20", "|(2 rows affected)", "||sum", "||30", " |grp|amount", "1|b|5",
        "|(1 rows affected)", "||sum", "||5", "", " |n", "1|next", "|(1 rows affected)", "", "|Execution Completed"}},
  };
  for (const auto& c : cases) {
    for (const char* rdbms : {"Sybase SQL Server", "SQLAnywhere"}) {
      for (bool background : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + ", " + rdbms + (background ? ", background" : ", foreground"));
        tabtest::SaConnection how;
        how.appName = QStringLiteral("grid_tests");
        how.rdbms = QLatin1String(rdbms);
        auto db = tabtest::ConnectAsSa(QStringLiteral("maxrows_compute"), how);
        ASSERT_TRUE(db->Connected());
        TQorixGrid grid;
        grid.SetDatabase(db.get());
        grid.RaiseOnError = false;
        grid.Background = background;
        grid.MaxRows = c.maxRows;
        int terminated = 0;
        grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { ++terminated; };
        grid.SetSQL(script);
        grid.Execute();
        if (background) {
          ASSERT_TRUE(WaitUntil([&] { return terminated == 1; }));
        }
        EXPECT_EQ(Lines(grid, 1), c.lines);
        EXPECT_EQ(grid.LastError(), QString());
        TQorixGrid next;
        next.SetDatabase(db.get());
        next.RaiseOnError = false;
        next.SetSQL(QStringLiteral("select 'alive' as a"));
        next.Execute();
        EXPECT_EQ(next.Cell(1, 2), QStringLiteral("alive")) << next.LastError().toStdString();
      }
    }
  }
}

struct LayoutCase {
  const char* name;
  QString sql;
  std::function<void(TQorixGrid&)> set;
  QStringList lines;  // from row 0
};

TEST(GridRun, SeparatorsCountsAndTheFixedRow) {
  const LayoutCase cases[] = {
      // Without counts every statement with a result set still ends in a blank line, which
      // the status line of the next statement takes.
      {"set nocount on: blank line after the result, status in it",
       QStringLiteral("set nocount on\r\nselect n from grid_ten where n <= 2 order by n\r\nexec grid_neg\r\n"
                      "select n from grid_ten where n = 3\r\nset nocount off"),
       [](TQorixGrid& g) { g.ShowReturnStatus = true; },
       {"", " |n", "1|1", "2|2", "|(return status = -4)", "", " |n", "1|3", "", "|Execution Completed"}},
      // With computes hidden the count loses the statement's compute clauses (the library's
      // CS_NUM_COMPUTES), not its compute rows. The server counts compute rows with the rows.
      {"ShowComputes off, one compute clause of two rows",
       QStringLiteral("select grp, amount from grid_grp order by grp compute sum(amount) by grp"),
       [](TQorixGrid& g) { g.ShowComputes = false; },
       {"", " |grp|amount", "1|a|10", "2|a|20", " |grp|amount", "1|b|5", "|(4 rows affected)", "",
        "|Execution Completed"}},
      {"ShowComputes off, two compute clauses",
       QStringLiteral("select grp, amount from grid_grp order by grp compute sum(amount) by grp compute count(amount)"),
       [](TQorixGrid& g) { g.ShowComputes = false; },
       {"", " |grp|amount", "1|a|10", "2|a|20", " |grp|amount", "1|b|5", "|(4 rows affected)", "",
        "|Execution Completed"}},
      {"ShowComputes off: the next statement's count is whole",
       QStringLiteral("select grp, amount from grid_grp where grp = 'b' compute sum(amount)\r\n"
                      "select n from grid_ten where n <= 2 order by n"),
       [](TQorixGrid& g) { g.ShowComputes = false; },
       {"", " |grp|amount", "1|b|5", "|(1 rows affected)", "", " |n", "1|1", "2|2", "|(2 rows affected)", "",
        "|Execution Completed"}},
      // The row limit's count line is the only one of the statement.
      {"MaxRows 5 of 10", QStringLiteral("select n from grid_ten order by n"), [](TQorixGrid& g) { g.MaxRows = 5; },
       {"", " |n", "1|1", "2|2", "3|3", "4|4", "5|5", "|(5 rows affected)", "", "|Execution Completed"}},
      // KeepHeader: the fixed row holds the first header, whatever line came before it.
      {"KeepHeader, a procedure first",
       QStringLiteral("exec grid_ret\r\nselect n from grid_ten where n <= 2 order by n"),
       [](TQorixGrid& g) {
         g.KeepHeader = true;
         g.ShowReturnStatus = true;
       },
       {" |n", "|(return status = 0)", "", "1|1", "2|2", "|(2 rows affected)", "", "|Execution Completed"}},
      {"KeepHeader, a counted statement first",
       QStringLiteral("update grid_ten set n = n where n <= 4\r\nselect n from grid_ten where n <= 2 order by n"),
       [](TQorixGrid& g) { g.KeepHeader = true; },
       {" |n", "|(4 rows affected)", "", "1|1", "2|2", "|(2 rows affected)", "", "|Execution Completed"}},
      {"KeepHeader, a result without column names first",
       QStringLiteral("select 7\r\nselect n from grid_ten where n <= 2 order by n"),
       [](TQorixGrid& g) { g.KeepHeader = true; },
       {" |n", "1|7", "|(1 rows affected)", "", "1|1", "2|2", "|(2 rows affected)", "", "|Execution Completed"}},
      // KeepHeader without ShowHeader keeps no header: the lines start below the fixed row and
      // none is lost at the end.
      {"KeepHeader set after ShowHeader off", QStringLiteral("select n from grid_ten where n <= 2 order by n"),
       [](TQorixGrid& g) {
         g.SetShowHeader(false);
         g.KeepHeader = true;
       },
       {"", "1|1", "2|2", "|(2 rows affected)", "", "|Execution Completed"}},
      {"KeepHeader, a select first",
       QStringLiteral("select n from grid_ten where n <= 2 order by n\r\nexec grid_ret"),
       [](TQorixGrid& g) {
         g.KeepHeader = true;
         g.ShowReturnStatus = true;
       },
       {" |n", "1|1", "2|2", "|(2 rows affected)", "|(return status = 0)", "", "|Execution Completed"}},
  };
  for (const LayoutCase& c : cases) {
    for (bool background : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (background ? ", background" : ", foreground"));
      TQorixGrid grid;
      grid.SetDatabase(&Db());
      grid.RaiseOnError = false;
      grid.Background = background;
      c.set(grid);
      int terminated = 0;
      grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) { ++terminated; };
      grid.SetSQL(c.sql);
      grid.Execute();
      if (background) {
        ASSERT_TRUE(WaitUntil([&] { return terminated == 1; }));
      }
      EXPECT_EQ(Lines(grid, 0), c.lines);
    }
  }
}

TEST(GridRun, WaitCursorNeverSticksAfterAFailedRun) {
  TRecordingUiServices ui;
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.SetSQL(QStringLiteral(" \r\n\t"));
  try {
    grid.Execute();
    ADD_FAILURE() << "a blank script ran";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("No SQL statement available"));
  }
  EXPECT_TRUE(grid.Active());
  EXPECT_EQ(ScreenCursor(), crDefault);

  grid.SetSQL(QStringLiteral("select * from no_such_table"));
  EXPECT_ANY_THROW(grid.Execute());
  EXPECT_EQ(ScreenCursor(), crDefault);

  // The grid runs again after both.
  grid.SetSQL(QStringLiteral("select 5 as five"));
  grid.Execute();
  EXPECT_EQ(grid.Cell(1, 2), QStringLiteral("5"));
  EXPECT_FALSE(grid.Active());
  EXPECT_EQ(ScreenCursor(), crDefault);
}

TEST(GridRun, StatusLineOfAFirstStatementStaysOutOfTheFixedRow) {
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.ShowReturnStatus = true;
  grid.SetSQL(QStringLiteral("exec grid_ret"));
  grid.Execute();
  EXPECT_EQ(grid.Cell(1, 0), QString());
  EXPECT_TRUE(Lines(grid, 1).contains(QStringLiteral("|(return status = 0)"))) << Lines(grid, 0).join('/').toStdString();
}

TEST(GridRun, DisConnectAtEndClosesOnlyAfterABackgroundRun) {
  for (bool background : {false, true}) {
    SCOPED_TRACE(background ? "background" : "foreground");
    auto db = gridtest::Connect(QStringLiteral("closing"));
    TQorixGrid grid;
    grid.SetDatabase(db.get());
    grid.Background = background;
    grid.DisConnectAtEnd = true;
    bool connectedAtTerminate = true;
    int terminated = 0;
    grid.OnThreadTerminate = [&](Threadgrid*, const QString&, const QString&) {
      connectedAtTerminate = db->Connected();
      ++terminated;
    };
    grid.SetSQL(QStringLiteral("select 1 as one"));
    grid.Execute();
    if (background) {
      EXPECT_TRUE(db->Connected()) << "closed while the worker runs";
      ASSERT_TRUE(WaitUntil([&] { return terminated == 1; }));
      EXPECT_FALSE(connectedAtTerminate);
    }
    EXPECT_EQ(db->Connected(), !background);
    EXPECT_EQ(grid.Cell(1, 2), QStringLiteral("1"));
  }
}

// The display width (characters) a column's buffer is sized from, by its described type and
// length, never below its name's length.
TEST(GridRun, ColumnDisplayWidthFollowsTheDescribedColumn) {
  const struct {
    CS_INT type;
    CS_INT maxLength;
    const char* name;
    int width;
  } cases[] = {
      {CS_INT_TYPE, 4, "a", 11},
      {CS_CHAR_TYPE, 300, "v", 300},           // a varchar(300), described as char
      {CS_BINARY_TYPE, 10, "b", 22},           // a varbinary(10): two digits a byte and two more
      {CS_DATETIME_TYPE, 8, "d", 30},
      {CS_DATETIME4_TYPE, 4, "d", 30},
      {CS_TINYINT_TYPE, 1, "t", 3},
      {CS_BIT_TYPE, 1, "b", 3},
      {CS_SMALLINT_TYPE, 2, "s", 6},
      {CS_FLOAT_TYPE, 8, "f", 24},
      {CS_MONEY4_TYPE, 4, "m", 24},
      {CS_NUMERIC_TYPE, 35, "n", 79},
      {CS_CHAR_TYPE, 1500, "c", 1500},         // the limit is the length itself from 1024 on
      {CS_BINARY_TYPE, 600, "b", 1024},        // 1202 digits, cut to the limit
      {CS_INT_TYPE, 4, "a_much_longer_column_name", 25},
  };
  for (const auto& c : cases) {
    CS_DATAFMT fmt{};
    fmt.datatype = c.type;
    fmt.maxlength = c.maxLength;
    std::strncpy(fmt.name, c.name, sizeof fmt.name - 1);
    fmt.namelen = static_cast<CS_INT>(std::strlen(c.name));
    EXPECT_EQ(TQorixGrid::ColumnDisplayWidth(fmt), c.width) << c.type << " of " << c.maxLength << " named " << c.name;
  }
}

TEST(GridRun, ResultsWiderThanFiveHundredColumns) {
  QStringList cols;
  for (int i = 1; i <= 620; ++i) cols << QStringLiteral("%1 as column_number_%1").arg(i);
  TQorixGrid grid;
  grid.SetDatabase(&Db());
  grid.SetSQL(QStringLiteral("select ") + cols.join(QStringLiteral(", ")));
  grid.Execute();
  EXPECT_EQ(grid.ColCount(), 621);
  EXPECT_EQ(grid.Cell(620, 1), QStringLiteral("column_number_620"));
  EXPECT_EQ(grid.Cell(620, 2), QStringLiteral("620"));
  EXPECT_EQ(grid.ColWidth(620), 17 * TQorixGrid::kWidthFactor);
}

}  // namespace
