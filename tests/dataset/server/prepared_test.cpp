// Prepared statements: one bound value per marker occurrence, the day's last instant, text
// sent without a terminator, reuse with new values, and an open without cursor over the
// prepared statement.
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
