// Block reads over a result of more than a thousand rows, field definitions learned without
// opening, and the parameters rebuilt from a table's filter and from a changed SQL text.
#include <limits>

#include "dataset/DataSource.h"
#include "dataset/server/QxQuery.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class BlockReadTest : public ServerDataSetTest {
 protected:
  // Rows 0..Count-1 of (id, name) in Table.
  void MakeRows(const QString& table, int count) {
    Exec(*check_, QStringLiteral("create table %1_digits (n int not null)").arg(table));
    QString digits;
    for (int i = 0; i < 10; ++i) digits += QStringLiteral("insert %1_digits values (%2) ").arg(table).arg(i);
    Exec(*check_, digits);
    Exec(*check_, QStringLiteral("create table %1 (id int not null, name varchar(20) not null)").arg(table));
    Exec(*check_, QStringLiteral("insert %1 select a.n * 1000 + b.n * 100 + c.n * 10 + d.n, 'row ' + "
                                 "convert(varchar(10), a.n * 1000 + b.n * 100 + c.n * 10 + d.n) from %1_digits a, "
                                 "%1_digits b, %1_digits c, %1_digits d where a.n * 1000 + b.n * 100 + c.n * 10 + d.n < %2")
                      .arg(table)
                      .arg(count));
    ASSERT_EQ(Rows(*check_, QStringLiteral("select count(*) from %1").arg(table)), QStringList({QString::number(count)}));
  }
};

TEST_F(BlockReadTest, PacketsCarryEveryRowAndAreReadOnlyWhenUsedUp) {
  MakeRows(QStringLiteral("blk_rows"), 1234);
  for (bool cursor : {true, false}) {
    SCOPED_TRACE(cursor ? "client cursor" : "no cursor");
    TQxQuery q;
    q.SetName(QStringLiteral("blk_q"));
    q.DbName = QStringLiteral("db");
    q.UseQorixCursor = cursor;
    q.FetchRows = 40;
    q.SetSQL(QStringLiteral("select id, name from blk_rows order by id"));
    q.Open();
    TDataSource src;
    src.SetDataSet(&q);
    int notified = 0;
    src.OnDataChange = [&](TDataSource&, TField*) { ++notified; };
    const int atOpen = q.Store().Count();
    q.SetBlockReadSize(100);
    EXPECT_EQ(q.State(), TDataSetState::dsBlockRead);
    EXPECT_EQ(q.Store().Count(), atOpen + 100);
    notified = 0;
    int n = 0;
    bool inOrder = true;
    std::vector<int> packets;
    int stored = q.Store().Count();
    while (!q.Eof()) {
      if (q.FieldByName("id")->AsInteger() != n || q.FieldByName("name")->AsString() != QStringLiteral("row %1").arg(n))
        inOrder = false;
      ++n;
      const int before = q.RecNo();
      q.BlockReadNext();
      if (q.Store().Count() != stored) {
        // A packet is read only once the last stored record has been reached.
        EXPECT_EQ(before, stored);
        packets.push_back(q.Store().Count() - stored);
        stored = q.Store().Count();
      }
    }
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(n, 1234);
    EXPECT_EQ(notified, 0) << "block reading moved the data sources";
    ASSERT_FALSE(packets.empty());
    for (size_t i = 0; i + 1 < packets.size(); ++i) EXPECT_EQ(packets[i], 100) << "packet " << i;
    EXPECT_LE(packets.back(), 100);
    EXPECT_FALSE(q.ResultsPending());
    q.SetBlockReadSize(0);
    EXPECT_EQ(q.State(), TDataSetState::dsBrowse);
    EXPECT_GT(notified, 0) << "leaving the block read shows the data sources where the dataset stands";
    EXPECT_EQ(q.FieldByName("id")->AsInteger(), 1233);
    EXPECT_EQ(q.RecordCount(), 1234);
  }
}

TEST_F(BlockReadTest, LargestSizeReadsSixtyFourKilobytesOfRecords) {
  MakeRows(QStringLiteral("blk_big"), 5000);
  TQxQuery q;
  q.SetName(QStringLiteral("blk_big_q"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select id, name from blk_big order by id"));
  q.Open();
  const int atOpen = q.Store().Count();
  const int perPacket = 65536 / q.RecordSize();
  ASSERT_GT(perPacket, 1);
  ASSERT_LT(atOpen + perPacket, 5000);
  q.SetBlockReadSize(std::numeric_limits<int32_t>::max());
  EXPECT_EQ(q.Store().Count(), atOpen + perPacket);
  EXPECT_TRUE(q.ResultsPending());
  q.SetBlockReadSize(0);
  q.Last();
  EXPECT_EQ(q.Store().Count(), 5000);
  // Closing ends the block read: the same size starts it again after the next open.
  q.SetBlockReadSize(std::numeric_limits<int32_t>::max());
  q.Close();
  q.Open();
  EXPECT_EQ(q.State(), TDataSetState::dsBrowse);
  q.SetBlockReadSize(std::numeric_limits<int32_t>::max());
  EXPECT_EQ(q.State(), TDataSetState::dsBlockRead);
  EXPECT_EQ(q.Store().Count(), atOpen + perPacket);
}

TEST_F(BlockReadTest, FieldDefinitionsWithoutOpeningOrReadingRows) {
  MakeRows(QStringLiteral("fd_rows"), 300);
  {
    TQxTable t;
    t.SetName(QStringLiteral("fd_table"));
    t.DbName = QStringLiteral("db");
    t.SetTableName(QStringLiteral("fd_rows"));
    t.InitFieldDefs();
    EXPECT_FALSE(t.Active());
    EXPECT_FALSE(t.ResultsPending());
    EXPECT_EQ(t.Store().Count(), 0);
    ASSERT_EQ(t.FieldDefs().Count(), 2);
    EXPECT_EQ(t.FieldDefs().Items(0)->Name, "id");
    EXPECT_EQ(t.FieldDefs().Items(0)->DataType, ftInteger);
    EXPECT_EQ(t.FieldDefs().Items(1)->Name, "name");
    EXPECT_EQ(t.FieldDefs().Items(1)->DataType, ftString);
    EXPECT_EQ(t.FieldDefs().Items(1)->Size, 20);
    // Nothing was left pending on the connection: other statements and an open run freely.
    EXPECT_EQ(Rows(*db_, QStringLiteral("select count(*) from fd_rows")), QStringList({"300"}));
    t.Open();
    t.Last();
    EXPECT_EQ(t.RecordCount(), 300);
  }
  {
    // A non-cursor query: its result stream is cancelled, so a second non-cursor dataset on
    // the same connection may open at once.
    TQxQuery q;
    q.SetName(QStringLiteral("fd_query"));
    q.DbName = QStringLiteral("db");
    q.UseQorixCursor = false;
    q.SetSQL(QStringLiteral("select name, id * 2 as twice from fd_rows where id >= :low"));
    q.ParamByName(QStringLiteral("low")).SetValue(10);
    q.InitFieldDefs();
    EXPECT_FALSE(q.Active());
    ASSERT_EQ(q.FieldDefs().Count(), 2);
    EXPECT_EQ(q.FieldDefs().Items(0)->Name, "name");
    EXPECT_EQ(q.FieldDefs().Items(1)->Name, "twice");
    TQxQuery other;
    other.SetName(QStringLiteral("fd_other"));
    other.DbName = QStringLiteral("db");
    other.UseQorixCursor = false;
    other.SetSQL(QStringLiteral("select id from fd_rows order by id"));
    EXPECT_NO_THROW(other.Open());
    EXPECT_EQ(other.FieldByName("id")->AsInteger(), 0);
  }
  {
    TQxTable t;
    t.SetName(QStringLiteral("fd_blank"));
    t.DbName = QStringLiteral("db");
    try {
      t.InitFieldDefs();
      ADD_FAILURE() << "a blank table name was accepted";
    } catch (const EDatabaseError& e) {
      EXPECT_TRUE(e.Message().contains(QStringLiteral("Missing TableName property"))) << e.Message().toStdString();
    }
    EXPECT_FALSE(t.ResultsPending());
  }
}

TEST_F(BlockReadTest, ParametersFollowTheSqlTextAndTheTableFilter) {
  MakeRows(QStringLiteral("pc_rows"), 50);
  TQxQuery q;
  q.SetName(QStringLiteral("pc_query"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select id from pc_rows where id >= :low and id < :high"));
  ASSERT_EQ(q.Params().Count(), 2);
  q.ParamByName(QStringLiteral("low")).SetValue(5);
  q.ParamByName(QStringLiteral("high")).SetValue(8);
  q.Open();
  q.Last();
  EXPECT_EQ(q.RecordCount(), 3);
  // A new text: the parameter of the same name keeps its value, the dropped one goes, the
  // new one comes, and the open dataset is closed.
  q.SetSQL(QStringLiteral("select id from pc_rows where id >= :low and name <> :skip order by id"));
  EXPECT_FALSE(q.Active());
  ASSERT_EQ(q.Params().Count(), 2);
  EXPECT_EQ(q.Params()[0].Name, "low");
  EXPECT_EQ(q.Params()[0].Value().toInt(), 5);
  EXPECT_EQ(q.Params()[1].Name, "skip");
  EXPECT_EQ(q.Params().FindParam(QStringLiteral("high")), nullptr);
  q.ParamByName(QStringLiteral("skip")).SetValue(QStringLiteral("row 6"));
  q.Open();
  q.Last();
  EXPECT_EQ(q.RecordCount(), 44);
  q.Close();
  // Without ParamCheck the list stays as it is.
  q.ParamCheck = false;
  q.SetSQL(QStringLiteral("select id from pc_rows where id = :other"));
  EXPECT_EQ(q.Params().Count(), 2);

  TQxTable t;
  t.SetName(QStringLiteral("pc_table"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("pc_rows"));
  t.SetFilter(QStringLiteral("id between :first and :last"));
  ASSERT_EQ(t.Params().Count(), 2);
  t.ParamByName(QStringLiteral("first")).SetValue(10);
  t.ParamByName(QStringLiteral("last")).SetValue(12);
  t.SetFilter(QStringLiteral("id between :first and :last and name <> 'row 11'"));
  EXPECT_EQ(t.Params()[0].Value().toInt(), 10) << "a rebuilt filter keeps the values";
  t.SetFiltered(true);
  t.Open();
  QStringList ids;
  for (t.First(); !t.Eof(); t.Next()) ids << t.FieldByName("id")->AsString();
  EXPECT_EQ(ids, QStringList({"10", "12"}));
  // A value with a quote reaches the server as a literal, never as SQL text.
  t.Close();
  t.SetFilter(QStringLiteral("name = :name"));
  t.ParamByName(QStringLiteral("name")).SetValue(QStringLiteral("row 1' or 'x' = 'x"));
  t.Open();
  EXPECT_TRUE(t.IsEmpty());
}
