// A result of 100,000 rows: the open reads only the first rows, scrolling to the end fetches
// the rest on demand, and every row arrives once and in order.
#include "dataset/DataSetModel.h"
#include "dataset/server/QxQuery.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class LargeResultTest : public ServerDataSetTest {};

TEST_F(LargeResultTest, HundredThousandRowsScrollToTheEndOnDemand) {
  Exec(*check_, QStringLiteral("create table big_ten (n int not null)"));
  Exec(*check_, QStringLiteral("insert big_ten values (0) insert big_ten values (1) insert big_ten values (2) "
                               "insert big_ten values (3) insert big_ten values (4) insert big_ten values (5) "
                               "insert big_ten values (6) insert big_ten values (7) insert big_ten values (8) "
                               "insert big_ten values (9)"));
  Exec(*check_, QStringLiteral("create table big_rows (id int not null, name varchar(20) not null)"));
  Exec(*check_, QStringLiteral("insert big_rows select a.n * 10000 + b.n * 1000 + c.n * 100 + d.n * 10 + e.n, "
                               "'row ' + convert(varchar(10), a.n * 10000 + b.n * 1000 + c.n * 100 + d.n * 10 + e.n) "
                               "from big_ten a, big_ten b, big_ten c, big_ten d, big_ten e"));
  ASSERT_EQ(Rows(*check_, QStringLiteral("select count(*) from big_rows")), QStringList({"100000"}));
  for (bool cursor : {true, false}) {
    SCOPED_TRACE(cursor ? "client cursor" : "no cursor");
    TQxQuery q;
    q.SetName(QStringLiteral("big_q"));
    q.DbName = QStringLiteral("db");
    q.UseQorixCursor = cursor;
    q.FetchRows = 250;
    q.SetSQL(QStringLiteral("select id, name from big_rows order by id"));
    q.Open();
    EXPECT_LE(q.Store().Count(), 250);
    int n = 0;
    bool inOrder = true;
    for (q.First(); !q.Eof(); q.Next()) {
      if (q.Fields().Fields(0)->AsInteger() != n) inOrder = false;
      ++n;
    }
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(n, 100000);
    EXPECT_EQ(q.Store().Count(), 100000);
    EXPECT_FALSE(q.ResultsPending());
    q.Last();
    EXPECT_EQ(q.FieldByName("name")->AsString(), "row 99999");
  }
}

TEST_F(LargeResultTest, ItemModelFetchesInBatches) {
  Exec(*check_, QStringLiteral("create table model_rows (id int not null)"));
  QString batch;
  for (int i = 0; i < 300; ++i) batch += QStringLiteral("insert model_rows values (%1) ").arg(i);
  Exec(*check_, batch);
  TQxQuery q;
  q.SetName(QStringLiteral("model_q"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select id from model_rows order by id"));
  q.Open();
  TDataSource src;
  src.SetDataSet(&q);
  TDataSetModel model;
  model.SetDataSource(&src);
  int guard = 0;
  while (model.canFetchMore(QModelIndex()) && guard++ < 1000) model.fetchMore(QModelIndex());
  EXPECT_EQ(model.rowCount(), 300);
  EXPECT_EQ(model.data(model.index(299, 0)).toString(), "299");
}
