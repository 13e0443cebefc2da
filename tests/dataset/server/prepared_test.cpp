// Prepared statements: one bound value per marker occurrence, the day's last instant, text
// sent without a terminator, reuse with new values, an open without cursor over the prepared
// statement, the automatic preparation of such opens, untyped parameters bound as their values,
// and a prepared statement opened through a cursor.
#include <QDateTime>

#include "access/QorixExceptions.h"
#include "dataset/DataSource.h"
#include "dataset/server/QxQuery.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class PreparedTest : public ServerDataSetTest {};

TEST_F(PreparedTest, BoundValuesPerOccurrenceAndReuse) {
  Exec(*check_, QStringLiteral("create table p_rows (a int null, name varchar(20) null, b int null, at datetime null)"));
  TQxQuery q;
  q.SetName(QStringLiteral("p_ins"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("insert p_rows values (:a, :name, :a, :at)"));
  ASSERT_EQ(q.Params().Count(), 3);
  q.ParamByName("a").DataType = ftInteger;
  q.ParamByName("name").DataType = ftString;
  q.ParamByName("at").DataType = ftDateTime;
  q.Prepare();
  ASSERT_TRUE(q.Prepared());
  struct Row {
    int a;
    const char* name;
    QDateTime at;
  } rows[] = {{1, "abc", QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999))},
              {2, "it's", QDateTime(QDate(2000, 1, 1), QTime(12, 0, 0, 3))}};
  for (const Row& r : rows) {
    q.ParamByName("a").SetValue(r.a);
    q.ParamByName("name").SetValue(QString::fromUtf8(r.name));
    q.ParamByName("at").SetValue(r.at);
    q.ExecSQL();
    EXPECT_EQ(q.RowsAffected(), 1);
  }
  q.UnPrepare();
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(Rows(*check_, QStringLiteral("select a, name, datalength(name), b, convert(varchar(10), at, 112) "
                                         "from p_rows order by a")),
            QStringList({"1|abc|3|1|20261231", "2|it's|4|2|20000101"}));
}

TEST_F(PreparedTest, PreparedSelectOpensWithoutCursor) {
  TQxQuery q;
  q.SetName(QStringLiteral("p_sel"));
  q.DbName = QStringLiteral("db");
  q.UseQorixCursor = false;
  q.SetSQL(QStringLiteral("select book_id from books where genre = :g order by book_id"));
  q.ParamByName("g").DataType = ftString;
  q.ParamByName("g").SetValue(QStringLiteral("cooking"));
  q.Prepare();
  q.Open();
  QStringList ids;
  for (q.First(); !q.Eof(); q.Next()) ids << q.FieldByName("book_id")->AsString().trimmed();
  EXPECT_EQ(ids, Rows(*check_, QStringLiteral("select book_id from books where genre = 'cooking' order by book_id")));
  q.Close();
  q.UnPrepare();
}

// A query's SELECT with parameters read without cursor is prepared for its open: the values
// travel bound (the text keeps its markers), the preparation ends with the rows or the close,
// and a rerun or a master's move prepares again. A statement prepared by the program stays
// prepared; a cursor, or the automatic preparation switched off, takes literals.
TEST_F(PreparedTest, ParametersReadWithoutCursorArePreparedForTheOpen) {
  auto ids = [](TDataSet& ds) {
    QStringList out;
    for (ds.First(); !ds.Eof(); ds.Next()) out << ds.Fields().Fields(0)->AsString().trimmed();
    return out;
  };
  const QString sql = QStringLiteral("select order_no from orders where qty >= :q order by order_no");
  TQxQuery q;
  q.SetName(QStringLiteral("p_auto"));
  q.DbName = QStringLiteral("db");
  q.UseQorixCursor = false;
  q.FetchRows = 1;
  q.SetSQL(sql);
  q.ParamByName("q").DataType = ftInteger;
  q.ParamByName("q").SetValue(10);
  q.Open();
  EXPECT_TRUE(q.Prepared());
  EXPECT_TRUE(q.PreparedAutomatically());
  EXPECT_TRUE(q.CommandText().contains(":q")) << q.CommandText().toStdString();
  EXPECT_EQ(ids(q), Rows(*check_, QStringLiteral("select order_no from orders where qty >= 10 order by order_no")));
  // The rows are read: the preparation is undone.
  EXPECT_FALSE(q.ResultsPending());
  EXPECT_FALSE(q.Prepared());
  // A rerun prepares again and binds the values the parameters hold now.
  q.ParamByName("q").SetValue(5);
  q.Refresh();
  EXPECT_TRUE(q.Prepared());
  EXPECT_EQ(ids(q), Rows(*check_, QStringLiteral("select order_no from orders where qty >= 5 order by order_no")));
  // Closed with rows unread, the preparation ends too, and the connection is free.
  q.Close();
  q.Open();
  ASSERT_TRUE(q.ResultsPending());
  q.Close();
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(Rows(*db_, QStringLiteral("select count(*) from orders where qty >= 5")).size(), 1);

  // Prepared by the program: kept over the end of the rows and the close.
  q.Prepare();
  q.Open();
  EXPECT_FALSE(q.PreparedAutomatically());
  q.Last();
  q.Close();
  EXPECT_TRUE(q.Prepared());
  q.UnPrepare();

  // Through a cursor, or with the automatic preparation off, the values are literals.
  struct Case {
    const char* name;
    bool cursor;
    bool autoPrepare;
  } cases[] = {{"cursor", true, true}, {"no automatic preparation", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TQxQuery l;
    l.SetName(QStringLiteral("p_literal"));
    l.DbName = QStringLiteral("db");
    l.UseQorixCursor = c.cursor;
    l.AutoPrepareOn = c.autoPrepare;
    l.SetSQL(sql);
    l.ParamByName("q").DataType = ftInteger;
    l.ParamByName("q").SetValue(5);
    l.Open();
    EXPECT_FALSE(l.Prepared());
    EXPECT_TRUE(l.CommandText().contains(">= 5")) << l.CommandText().toStdString();
    EXPECT_EQ(ids(l), Rows(*check_, QStringLiteral("select order_no from orders where qty >= 5 order by order_no")));
  }

  // A detail read without cursor follows its master through its prepared statement.
  TQxQuery master, detail;
  master.SetName(QStringLiteral("p_shops"));
  detail.SetName(QStringLiteral("p_shop_orders"));
  master.DbName = detail.DbName = QStringLiteral("db");
  master.SetSQL(QStringLiteral("select shop_id from shops order by shop_id"));
  TDataSource src;
  src.SetDataSet(&master);
  detail.UseQorixCursor = false;
  detail.SetSQL(QStringLiteral("select order_no from orders where shop_id = :shop_id order by order_no"));
  detail.SetDataSource(&src);
  master.Open();
  master.Last();
  detail.Open();
  int checked = 0;
  for (master.First(); !master.Eof(); master.Next(), ++checked) {
    const QString shop = master.FieldByName("shop_id")->AsString().trimmed();
    EXPECT_EQ(ids(detail),
              Rows(*check_, QStringLiteral("select order_no from orders where shop_id = '%1' order by order_no").arg(shop)))
        << shop.toStdString();
  }
  EXPECT_GE(checked, 2);
}

// Parameters given only a value (no declared type) find their row whether they travel bound
// (a prepared statement read without cursor) or as literals (a cursor): each goes as its
// value's own type, a 64-bit integer past 2^53 digit for digit, a date-time with its
// milliseconds.
TEST_F(PreparedTest, UntypedParametersTravelAsTheirValues) {
  Exec(*check_, QStringLiteral("create table p_untyped (id numeric(19,0) not null, at datetime null, flag bit not null, "
                               "r float null, name varchar(10) null) "
                               "insert p_untyped values (9007199254740993, '2023-01-05 10:15:00.003', 1, 0.5, 'match') "
                               "insert p_untyped values (9007199254740992, '2023-01-05 10:15:00.000', 1, 0.5, 'near')"));
  for (bool cursor : {false, true}) {
    SCOPED_TRACE(cursor ? "cursor, literals" : "prepared, bound");
    TQxQuery q;
    q.SetName(QStringLiteral("p_untyped_q"));
    q.DbName = QStringLiteral("db");
    q.UseQorixCursor = cursor;
    q.SetSQL(QStringLiteral("select name from p_untyped where id = :id and at = :at and flag = :flag and r = :r "
                            "and name like :n"));
    q.ParamByName("id").SetValue(qlonglong(9007199254740993LL));
    q.ParamByName("at").SetValue(QDateTime(QDate(2023, 1, 5), QTime(10, 15, 0, 3)));
    q.ParamByName("flag").SetValue(true);
    q.ParamByName("r").SetValue(0.5);
    q.ParamByName("n").SetValue(QStringLiteral("m%"));
    q.Open();
    EXPECT_EQ(q.Prepared(), !cursor);
    QStringList names;
    for (q.First(); !q.Eof(); q.Next()) names << q.FieldByName("name")->AsString();
    EXPECT_EQ(names, QStringList({"match"}));
  }
}

// A statement the program prepared and then opens through a cursor is read as a cursor over its
// text with the parameters' current values as literals (the client library declares no cursor
// over a prepared statement): each open shows the rows of the values it was given.
TEST_F(PreparedTest, APreparedStatementOpensThroughACursorWithItsCurrentValues) {
  TQxQuery q;
  q.SetName(QStringLiteral("p_cursor"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select book_id from books where price > :p order by book_id"));
  q.ParamByName("p").DataType = ftCurrency;
  q.Prepare();
  for (const char* price : {"19.99", "5"}) {
    SCOPED_TRACE(price);
    q.ParamByName("p").SetValue(QString::fromUtf8(price));
    q.Open();
    EXPECT_FALSE(q.CursorName().isEmpty());
    QStringList ids;
    for (q.First(); !q.Eof(); q.Next()) ids << q.FieldByName("book_id")->AsString().trimmed();
    EXPECT_EQ(ids, Rows(*check_, QStringLiteral("select book_id from books where price > %1 order by book_id").arg(price)));
    q.Close();
  }
  EXPECT_TRUE(q.Prepared());
  q.UnPrepare();
}
