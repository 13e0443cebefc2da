// Prepared statements: one bound value per marker occurrence, the day's last instant, text
// sent without a terminator, reuse with new values, and an open without cursor over the
// prepared statement.
#include <QDateTime>

#include "access/QorixExceptions.h"
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
