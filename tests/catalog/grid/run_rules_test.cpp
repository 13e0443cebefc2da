// Rules of a run against the local server: the classic types' texts with NULLs after values,
// values longer than their buffer delivered cut instead of dropped, MaxRows, the wait cursor
// after a failed run, the status line never in the fixed row, DisConnectAtEnd, and results
// wider than any fixed number of columns.
#include "access/QorixExceptions.h"
#include "tests/catalog/grid/grid_fixture.h"
#include "tests/support/ct_client.h"

namespace {

using gridtest::Lines;
using gridtest::WaitUntil;

void Setup(const char* sql) {
  static tabtest::CtClient* client = [] {
    auto* c = new tabtest::CtClient;
    gridtest::Server();
    c->connect();
    c->run("use sample");
    return c;
  }();
  const tabtest::CtBatch b = client->run(sql);
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
