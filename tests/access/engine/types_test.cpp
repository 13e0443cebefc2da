// Every classic datatype read back through the engine, bound as text and column by column
// in TextImage mode, plus the column descriptions, LumicDtFmt and truncation-free wide values.

#include "engine_fixture.h"

namespace {

class EngineTypes : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    Exec(QStringLiteral(
        "create table #types_t (c char(5), vc varchar(10), b binary(3), vb varbinary(4), tx text null, "
        "im image null, ti tinyint, si smallint, i int, r real, f float, bt bit, dt datetime, "
        "sdt smalldatetime, m money, sm smallmoney, nu numeric(10,2), de decimal(8,3))\n"
        "insert #types_t values ('ab', 'hello', 0x0102, 0xabcd, 'long text', 0x0a0b, 200, -300, 123456, "
        "1.5, 2.25, 1, '2024-03-05 13:45:30.500', '2024-03-05 13:45', 12.3456, -1.5, 1234.56, -3.125)"));
  }
};

struct TypeCase {
  const char* column;
  const char* serverType;  // GetFieldTypeName in TextImage mode
  const char* text;
};

// The engine's three ways of reading rows: bound outside cursors, through a client cursor, and
// as text/image values.
struct ReadMode {
  const char* name;
  bool cursor, textImage;
};
const ReadMode kReadModes[] = {{"bound", false, false}, {"cursor", true, false}, {"TextImage", false, true}};

const TypeCase kTypes[] = {
    {"c", "char", "ab   "},
    {"vc", "char", "hello"},
    {"b", "binary", "010200"},
    {"vb", "binary", "abcd"},
    {"tx", "text", "long text"},
    {"im", "image", "0a0b"},
    {"ti", "tinyint", "200"},
    {"si", "smallint", "-300"},
    {"i", "int", "123456"},
    {"r", "real", "1.5"},
    {"f", "float", "2.25"},
    {"bt", "bit", "1"},
    {"dt", "datetime", "Mar  5 2024 01:45PM"},
    {"sdt", "smalldatetime", "Mar  5 2024 01:45PM"},
    {"m", "money", "12.3456"},
    {"sm", "smallmoney", "-1.5000"},
    {"nu", "numeric", "1234.56"},
    {"de", "decimal", "-3.125"},
};

TEST_F(EngineTypes, EveryClassicTypeReadsBackTheSameTextBoundAndByTextImage) {
  for (bool textImage : {false, true}) {
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.TextImage = textImage;
    q.SetSQL(QStringLiteral("select * from #types_t"));
    q.Open();
    ASSERT_TRUE(q.Next());
    ASSERT_EQ(q.ColumnCount(), static_cast<int>(std::size(kTypes)));
    for (int c = 1; c <= q.ColumnCount(); ++c) {
      const TypeCase& t = kTypes[c - 1];
      SCOPED_TRACE(std::string(textImage ? "TextImage " : "bound ") + t.column);
      EXPECT_EQ(q.GetFieldName(c), QString::fromLatin1(t.column));
      EXPECT_EQ(q.GetFieldValue(c), QString::fromLatin1(t.text));
      // Bound columns are described by their binding; TextImage keeps the server's type.
      EXPECT_EQ(q.GetFieldTypeName(c),
                textImage ? QString::fromLatin1(t.serverType) : QStringLiteral("char"));
    }
    EXPECT_FALSE(q.Next());
    q.Cancel(CS_CANCEL_ALL);
  }
}

// Integer and bit columns read outside a cursor are written out by the engine; inside a cursor
// and in TextImage mode FreeTDS's conversion gives the text: all three must agree, extremes
// and NULLs included.
TEST_F(EngineTypes, IntegerColumnsReadTheSameTextInEveryMode) {
  Exec(QStringLiteral(
      "create table int_modes_t (k int not null, ti tinyint null, si smallint null, i int null, bt bit not null)\n"
      "insert int_modes_t values (1, 0, -32768, -2147483648, 0)\n"
      "insert int_modes_t values (2, 255, 32767, 2147483647, 1)\n"
      "insert int_modes_t values (3, null, null, null, 0)\n"
      "insert int_modes_t values (4, 7, -1, 0, 1)"));
  const QStringList expected = {"1|0|-32768|-2147483648|0", "2|255|32767|2147483647|1",
                                "3|<null>|<null>|<null>|0", "4|7|-1|0|1"};
  for (const ReadMode& m : kReadModes) {
    SCOPED_TRACE(m.name);
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.IsCursor = m.cursor;
    q.ReadOnly = m.cursor;
    q.CurFetchRows = 3;
    q.TextImage = m.textImage;
    q.SetSQL(QStringLiteral("select k, ti, si, i, bt from int_modes_t order by k"));
    EXPECT_EQ(OpenRows(q), expected);
  }
  Exec(QStringLiteral("drop table int_modes_t"));
}

TEST_F(EngineTypes, TrimResultsTrimsCharPadding) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.TrimResults = true;
  q.SetSQL(QStringLiteral("select c from #types_t"));
  q.Open();
  ASSERT_TRUE(q.Next());
  EXPECT_EQ(q.GetFieldValue(1), QStringLiteral("ab"));
  q.Cancel(CS_CANCEL_ALL);
}

TEST_F(EngineTypes, LumicDtFmtRewritesDateTimesInTextImageMode) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.TextImage = true;
  q.LumicDtFmt = true;
  q.SetSQL(QStringLiteral("select dt, vc from #types_t"));
  q.Open();
  ASSERT_TRUE(q.Next());
  const QString expected =
      QLocale().toString(QDate(2024, 3, 5), QLocale::ShortFormat) + QStringLiteral(" 13:45:00");
  EXPECT_EQ(q.GetFieldValue(1), expected);
  EXPECT_EQ(q.GetFieldValue(2), QStringLiteral("hello"));
  q.Cancel(CS_CANCEL_ALL);
}

TEST_F(EngineTypes, WideTextIsReadWholeUpToTheTextSize) {
  // A 5000-character text: the bound length comes from the session's text size, not from the
  // 2 GB maximum FreeTDS reports.
  Exec(QStringLiteral("create table #wide_t (t text null)\ninsert #wide_t values (replicate('x', 5000))"));
  for (bool textImage : {false, true}) {
    SCOPED_TRACE(textImage ? "TextImage" : "bound");
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.TextImage = textImage;
    q.SetSQL(QStringLiteral("select t from #wide_t"));
    q.Open();
    ASSERT_TRUE(q.Next());
    EXPECT_EQ(q.GetFieldValue(1).size(), 5000);
    q.Cancel(CS_CANCEL_ALL);
  }
}

TEST_F(EngineTypes, AValueLongerThanItsBindingIsDeliveredTruncated) {
  // The session's text size caps the binding; the row still arrives, cut at the cap.
  Exec(QStringLiteral(
      "create table #cut_t (id int, t text null)\ninsert #cut_t values (1, replicate('y', 500))\n"
      "insert #cut_t values (2, 'short')"));
  db_->textSize = 100;
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select id, t from #cut_t order by id"));
  EXPECT_EQ(OpenRows(q),
            (QStringList{QStringLiteral("1|") + QString(100, QLatin1Char('y')), QStringLiteral("2|short")}));
}

TEST_F(EngineTypes, ALongColumnNameIsCutToThirtyCharacters) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select 1 as abcdefghijabcdefghijabcdefghijabcdefghij"));
  q.Open();
  ASSERT_TRUE(q.Next());
  EXPECT_EQ(q.GetFieldName(1), QStringLiteral("abcdefghijabcdefghijabcdefghij"));
  EXPECT_EQ(q.GetFieldNameLength(1), 40);
  q.Cancel(CS_CANCEL_ALL);
}

}  // namespace

// The texts of every type read outside a cursor, extremes, fractions, NULLs and long values
// included, exactly as FreeTDS's character conversion wrote them; a cursor (whose columns
// FreeTDS converts to text) and TextImage mode must give the same texts.
TEST_F(EngineTypes, EveryTypeKeepsItsTextInEveryMode) {
  Exec(QStringLiteral(
      "create table texts_t (k int not null, r real null, f float null, m money null, sm smallmoney null, "
      "n2 numeric(12,2) null, de decimal(8,3) null, n0 numeric(38,0) null, nf numeric(38,10) null, "
      "n5 numeric(5,5) null, dt datetime null, sdt smalldatetime null, vc varchar(40) null, c char(3) null, "
      "vb varbinary(8) null, tx text null)\n"
      "insert texts_t values (1, 1.5, 2.25, 12.3456, -1.5, 1234.56, -3.125, 0, 0, 0, "
      "'2024-03-05 13:45:30.500', '2024-03-05 13:45', 'hello', 'ab', 0x00ff, 'x')\n"
      "insert texts_t values (2, 0.1, 0.1, 922337203685477.5807, 214748.3647, 9999999999.99, 99999.999, "
      "99999999999999999999999999999999999999, 1234567890123456789012345678.0123456789, 0.99999, "
      "'1753-01-01 00:00:00', '1900-01-01 00:00', '', ' ', 0x, '')\n"
      "insert texts_t values (3, -3.4e38, -1e300, -922337203685477.5808, -214748.3648, -0.05, -0.001, "
      "-12345678901234567890, -0.0000000001, 0.00001, '9999-12-31 23:59:59.997', '2079-06-06 23:59', "
      "'caf\u00e9 \u20ac', 'xyz', 0x0102030405060708, 'long text')\n"
      "insert texts_t values (4, 1e-38, 1.7976931348623157e308, 0.0001, 0.0001, 0.01, 0.5, 1, -1, 0.5, "
      "'2024-12-25 00:00:00', '2024-12-25 12:00', 'a  ', 'a', 0xabcdef, 'x  ')\n"
      "insert texts_t values (5, 16777217, 123456789.125, -0.0001, -0.0001, -1234.5, 12.0, 10, 0.0000000001, "
      "0.12345, '2024-01-09 12:00:00.003', '2024-01-09 00:01', 'tab\tand\nline', 'q', 0x10, 'y')\n"
      "insert texts_t values (6, 3, 1e-300, 1, 1, 100, -100, -1, 12.5, 0.1, "
      "'2000-02-29 23:59:59.000', '2000-02-29 11:59', 'Z', 'Z', 0xff, 'z')\n"
      "insert texts_t values (7, null, null, null, null, null, null, null, null, null, null, null, null, "
      "null, null, null)"));
  const QStringList expected = {
      "1|1.5|2.25|12.3456|-1.5000|1234.56|-3.125|0|0.0000000000|0.00000|Mar  5 2024 01:45PM|"
      "Mar  5 2024 01:45PM|hello|ab|00ff|x",
      "2|0.100000001|0.10000000000000001|922337203685477.5807|214748.3647|9999999999.99|99999.999|"
      "99999999999999999999999999999999999999|1234567890123456789012345678.0123456789|0.99999|"
      "Jan  1 1753 12:00AM|Jan  1 1900 12:00AM| | |00| ",
      "3|-3.39999995e+38|-1.0000000000000001e+300|-922337203685477.5808|-214748.3648|-0.05|-0.001|"
      "-12345678901234567890|-0.0000000001|0.00001|Dec 31 9999 11:59PM|Jun  6 2079 11:59PM|café €|xyz|"
      "0102030405060708|long text",
      "4|9.99999935e-39|1.7976931348623157e+308|0.0001|0.0001|0.01|0.500|1|-1.0000000000|0.50000|"
      "Dec 25 2024 12:00AM|Dec 25 2024 12:00PM|a|a|abcdef|x  ",
      "5|16777216|123456789.125|-0.0001|-0.0001|-1234.50|12.000|10|0.0000000001|0.12345|"
      "Jan  9 2024 12:00PM|Jan  9 2024 12:01AM|tab\tand\nline|q|10|y",
      "6|3|1e-300|1.0000|1.0000|100.00|-100.000|-1|12.5000000000|0.10000|Feb 29 2000 11:59PM|"
      "Feb 29 2000 11:59AM|Z|Z|ff|z",
      "7|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|"
      "<null>|<null>",
  };
  for (const ReadMode& m : kReadModes) {
    SCOPED_TRACE(m.name);
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.IsCursor = m.cursor;
    q.ReadOnly = m.cursor;
    q.CurFetchRows = 4;
    q.TextImage = m.textImage;
    q.SetSQL(QStringLiteral("select * from texts_t order by k"));
    EXPECT_EQ(OpenRows(q), expected);
    // Without the text column the rows arrive several to a fetch outside cursors.
    QStringList withoutText;
    for (const QString& row : expected) withoutText << row.left(row.lastIndexOf(QLatin1Char('|')));
    q.SetSQL(QStringLiteral(
        "select k, r, f, m, sm, n2, de, n0, nf, n5, dt, sdt, vc, c, vb from texts_t order by k"));
    EXPECT_EQ(OpenRows(q), withoutText);
  }
  Exec(QStringLiteral("drop table texts_t"));
}

// Rows read several to a fetch: every row once and in order, NULLs in place, the row limit
// stopping inside an array with the connection usable at once, the kept history and a second
// result of the same batch.
class EngineBatches : public EngineTypes {
 protected:
  void SetUp() override {
    EngineTypes::SetUp();
    if (IsSkipped()) return;
    Exec(QStringLiteral(
        "create table #dig (d int not null)\n"
        "insert #dig values (0)\ninsert #dig values (1)\ninsert #dig values (2)\ninsert #dig values (3)\n"
        "insert #dig values (4)\ninsert #dig values (5)\ninsert #dig values (6)\ninsert #dig values (7)\n"
        "insert #dig values (8)\ninsert #dig values (9)\n"
        "create table #many (k int not null, v varchar(12) null, f float null, dt datetime null)\n"
        "insert #many select a.d * 100 + b.d * 10 + c.d, "
        "case when (a.d * 100 + b.d * 10 + c.d) % 7 = 0 then null else 'v' + convert(varchar(5), c.d) end, "
        "case when (a.d * 100 + b.d * 10 + c.d) % 5 = 0 then null else (a.d * 100 + b.d * 10 + c.d) * 0.5 end, "
        "dateadd(mi, a.d * 100 + b.d * 10 + c.d, '20240101') from #dig a, #dig b, #dig c"));
  }
  static QString Expected(int k) {
    const QString v = k % 7 == 0 ? QStringLiteral("<null>") : QStringLiteral("v") + QString::number(k % 10);
    const QString f = k % 5 == 0 ? QStringLiteral("<null>") : QString::number(k * 0.5, 'g', 17);
    return QString::number(k) + QLatin1Char('|') + v + QLatin1Char('|') + f;
  }
};

TEST_F(EngineBatches, EveryRowArrivesOnceInOrderWithItsNulls) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select k, v, f from #many order by k"));
  const QStringList rows = OpenRows(q);
  ASSERT_EQ(rows.size(), 1000);
  for (int k = 0; k < 1000; k += 37) EXPECT_EQ(rows[k], Expected(k));
  EXPECT_EQ(rows.last(), Expected(999));
  // A cursor converts every value in FreeTDS: the same rows.
  TQorixEnhQuery c;
  c.SetDatabase(db_.get());
  c.IsCursor = c.ReadOnly = true;
  c.CurFetchRows = 25;
  c.SetSQL(QStringLiteral("select k, v, f, dt from #many order by k"));
  q.SetSQL(c.SQLText());
  EXPECT_EQ(OpenRows(q), OpenRows(c));
}

TEST_F(EngineBatches, TheLastRowStaysReadableAfterTheRowsEnd) {
  // Its values are read only after the result is done and its bound values released.
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select k, v, f, dt from #many where k between 997 and 998 order by k"));
  q.Open();
  int rows = 0;
  while (q.Next()) ++rows;
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(q.GetFieldValue(1), QStringLiteral("998"));
  EXPECT_EQ(q.GetFieldValue(3), QStringLiteral("499"));
  EXPECT_EQ(q.GetFieldValue(4), QStringLiteral("Jan  1 2024 04:38PM"));
}

TEST_F(EngineBatches, TheRowLimitStopsInsideAnArrayAndTheConnectionGoesOn) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.MaxRows = 70;
  int limits = 0;
  q.OnMaxRows = [&](TComponent*) { ++limits; };
  q.SetSQL(QStringLiteral("select k, v, f from #many order by k"));
  const QStringList rows = OpenRows(q);
  ASSERT_EQ(rows.size(), 70);
  EXPECT_EQ(rows.last(), Expected(69));
  EXPECT_EQ(limits, 1);
  TQorixEnhQuery next;
  next.SetDatabase(db_.get());
  next.SetSQL(QStringLiteral("select count(*) from #many"));
  EXPECT_EQ(OpenRows(next), QStringList{QStringLiteral("1000")});
}

TEST_F(EngineBatches, HistoryAndASecondResultSeeEveryRow) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.KeepHistory = true;
  int rows = 0;
  QString last;
  q.OnResultRow = [&](TComponent*) {
    ++rows;
    last = q.GetFieldValue(1);
  };
  q.SetSQL(QStringLiteral(
      "select k, f from #many where k < 150 order by k\nselect k from #many where k > 996 order by k"));
  q.ExecSQL();
  EXPECT_EQ(rows, 153);
  EXPECT_EQ(last, QStringLiteral("999"));
  EXPECT_EQ(q.HistoryCount(), 153);
}

