// TQxQuery against the local server: open and describe, rows copied into the store, fetch on
// demand, parameters as literals, the non-cursor rule, statements without result set, and a
// master/detail pair.
#include <QDateTime>

#include "access/QorixExceptions.h"
#include "dataset/DataSource.h"
#include "dataset/server/QxQuery.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Rows;
using dstest::ServerDataSetTest;

namespace {
QStringList Column(TDataSet& ds, const QString& name) {
  QStringList out;
  ds.First();
  while (!ds.Eof()) {
    TField* f = ds.FieldByName(name);
    out << (f->IsNull() ? QStringLiteral("<null>") : f->AsString().trimmed());
    ds.Next();
  }
  return out;
}
}  // namespace

class QueryTest : public ServerDataSetTest {};

TEST_F(QueryTest, OpensDescribesAndStoresEveryType) {
  TQxQuery q;
  q.SetName(QStringLiteral("q_types"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select book_id, title, price, advance, pages, published, notes from books order by book_id"));
  q.Open();
  ASSERT_TRUE(q.Active());
  struct Expect {
    const char* name;
    TFieldType type;
  } fields[] = {{"book_id", ftString}, {"title", ftString}, {"price", ftCurrency}, {"advance", ftFloat},
                {"pages", ftSmallint}, {"published", ftDateTime}, {"notes", ftString}};
  ASSERT_EQ(q.FieldCount(), 7);
  for (const Expect& e : fields) {
    TField* f = q.FindField(QString::fromUtf8(e.name));
    ASSERT_NE(f, nullptr) << e.name;
    EXPECT_EQ(f->DataType(), e.type) << e.name;
  }
  // The dataset's values equal what the engine reads as text.
  const QStringList expected = Rows(*check_, QStringLiteral("select book_id, title, pages from books order by book_id"));
  QStringList got;
  q.First();
  while (!q.Eof()) {
    got << q.FieldByName("book_id")->AsString().trimmed() + "|" + q.FieldByName("title")->AsString() + "|" +
               (q.FieldByName("pages")->IsNull() ? QStringLiteral("<null>") : q.FieldByName("pages")->AsString());
    q.Next();
  }
  EXPECT_EQ(got, expected);
  EXPECT_FALSE(q.ResultsPending());
}

TEST_F(QueryTest, RowsArriveOnDemandAndMaxRowsBoundsThem) {
  TQxQuery q;
  q.SetName(QStringLiteral("q_demand"));
  q.DbName = QStringLiteral("db");
  q.FetchRows = 2;
  q.SetSQL(QStringLiteral("select order_no from orders order by order_no"));
  q.Open();
  const int total = Rows(*check_, QStringLiteral("select order_no from orders")).size();
  ASSERT_GT(total, 3);
  EXPECT_LT(q.Store().Count(), total);
  EXPECT_TRUE(q.ResultsPending());
  q.Last();
  EXPECT_EQ(q.Store().Count(), total);
  EXPECT_FALSE(q.ResultsPending());
  q.Close();
  q.MaxRows = 3;
  q.Open();
  q.Last();
  EXPECT_EQ(q.Store().Count(), 3);
  EXPECT_EQ(q.RecordCount(), 3);
}

TEST_F(QueryTest, ParametersBecomeTypedLiterals) {
  TQxQuery q;
  q.SetName(QStringLiteral("q_params"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select book_id from books where genre = :genre or title = :title or genre = :GENRE order by book_id"));
  ASSERT_EQ(q.Params().Count(), 2);
  q.ParamByName("genre").DataType = ftString;
  q.ParamByName("genre").SetValue(QStringLiteral("cooking"));
  q.ParamByName("title").DataType = ftString;
  q.ParamByName("title").SetValue(QStringLiteral("no ' such -- title"));
  q.Open();
  EXPECT_EQ(Column(q, "book_id"),
            Rows(*check_, QStringLiteral("select book_id from books where genre = 'cooking' order by book_id")));
  EXPECT_FALSE(q.RecordCount() == 0);
  // Setting the same text keeps the parameters and their values.
  q.SetSQL(q.SQL());
  EXPECT_EQ(q.ParamByName("genre").Value().toString(), "cooking");
}

// The parameters as the stored description keeps them ("ParamData"): every kind of value reads
// back as it was written, the SQL text read from a description keeps the parameters read
// with it whatever the order, and the query then opens with them. Text that is no parameter
// data is refused and the parameters stay.
TEST_F(QueryTest, ParameterDataIsStoredAndReadBack) {
  struct Case {
    const char* name;
    TFieldType type;
    TParamType direction;
    QVariant value;
  } cases[] = {
      {"text", ftString, ptInput, QStringLiteral("it's \"quoted\"\n\u00e9")},
      {"money", ftCurrency, ptInput, QStringLiteral("922337203685477.5807")},
      {"count", ftInteger, ptInput, 2147483647},
      {"big", ftLargeint, ptInput, qlonglong(9007199254740993LL)},
      {"ratio", ftFloat, ptInput, 0.1},
      {"flag", ftBoolean, ptInput, false},
      {"when", ftDateTime, ptInput, QDateTime(QDate(1753, 1, 1), QTime(23, 59, 59, 997))},
      {"day", ftDate, ptInput, QDate(9999, 12, 31)},
      {"clock", ftTime, ptInput, QTime(0, 0, 0, 3)},
      {"bytes", ftVarBytes, ptInput, QByteArray("\x00\xff\x10", 3)},
      {"@out", ftInteger, ptInputOutput, QVariant()},
      {"Result", ftInteger, ptResult, QVariant()},
  };
  TQxQuery written;
  for (const Case& c : cases) written.Params().CreateParam(c.type, QString::fromUtf8(c.name), c.direction).SetValue(c.value);
  written.Params()[0].Bound = true;
  const QString data = written.ParamData();

  TQxQuery read;
  read.SetName(QStringLiteral("q_paramdata"));
  read.DbName = QStringLiteral("db");
  // As a stored description is read: the parameters first, then the text (and the other way).
  for (bool paramsFirst : {true, false}) {
    SCOPED_TRACE(paramsFirst ? "parameters read first" : "text read first");
    read.BeginLoading();
    if (paramsFirst) read.SetParamData(data);
    read.SetSQL(paramsFirst ? QStringLiteral("select 1 where 1 = :count") : QStringLiteral("select 2 where 2 = :count"));
    if (!paramsFirst) read.SetParamData(data);
    read.EndLoading();
    ASSERT_EQ(read.Params().Count(), int(std::size(cases)));
    for (int i = 0; i < read.Params().Count(); ++i) {
      const TParam& p = read.Params()[i];
      SCOPED_TRACE(cases[i].name);
      EXPECT_EQ(p.Name, QString::fromUtf8(cases[i].name));
      EXPECT_EQ(p.DataType, cases[i].type);
      EXPECT_EQ(p.ParamType, cases[i].direction);
      EXPECT_EQ(p.Value(), cases[i].value);
      EXPECT_EQ(p.Value().typeId(), cases[i].value.typeId());
      EXPECT_EQ(p.Bound, i == 0);
    }
    EXPECT_EQ(read.ParamData(), data);
  }
  // The query runs with the parameters it was given.
  read.SetSQL(QStringLiteral("select order_no from orders where qty < :count"));
  read.ParamByName("count").SetValue(5);
  read.Open();
  EXPECT_EQ(Column(read, "order_no"), Rows(*check_, QStringLiteral("select order_no from orders where qty < 5")));
  read.Close();

  for (const char* bad : {"", "{}", "[1]", R"([{"Name":"a","DataType":"ftNothing","ParamType":"ptInput"}])",
                          R"([{"Name":"a","DataType":"ftInteger","ParamType":"ptInput","Value":{"Kind":"int","Text":"x"}}])"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(read.SetParamData(QString::fromUtf8(bad)), EQxDataSetException);
    EXPECT_EQ(read.Params().Count(), 1);
  }
}

TEST_F(QueryTest, NonCursorDatasetsShareNoConnection) {
  TQxQuery a, b, c;
  a.SetName(QStringLiteral("nc_a"));
  b.SetName(QStringLiteral("nc_b"));
  c.SetName(QStringLiteral("nc_c"));
  for (TQxQuery* q : {&a, &b, &c}) {
    q->DbName = QStringLiteral("db");
    q->SetSQL(QStringLiteral("select order_no from orders"));
  }
  a.UseQorixCursor = false;
  b.UseQorixCursor = false;
  // A second name for the same connection is still the same connection.
  c.DbName.clear();
  c.SetDatabase(db_.get());
  a.Open();
  ASSERT_TRUE(a.ResultsPending());
  try {
    b.Open();
    FAIL() << "second non-cursor dataset opened";
  } catch (const EQxCursorException& e) {
    EXPECT_TRUE(QString(e.Message()).contains("A non-cursor dataset 'nc_a ' is already open")) << e.Message().toStdString();
    EXPECT_TRUE(QString(e.Message()).contains("Only one non-cursor dataset"));
  }
  EXPECT_THROW(c.Open(), EQxCursorException);
  a.Last();
  b.Open();
  EXPECT_TRUE(b.Active());
  b.Last();
  c.Open();
  EXPECT_TRUE(c.Active());
}

TEST_F(QueryTest, ExecSQLCountsRowsAndLeavesTextAlone) {
  dstest::Exec(*check_, QStringLiteral("create table q_exec (id int not null, name varchar(20) null)"));
  dstest::Exec(*check_, QStringLiteral("insert q_exec values (1, 'a') insert q_exec values (2, 'b') insert q_exec values (3, 'c')"));
  TQxQuery q;
  q.SetName(QStringLiteral("q_exec_ds"));
  q.DbName = QStringLiteral("db");
  const QString sql = QStringLiteral("update q_exec set name = :name where id >= :id");
  q.SetSQL(sql);
  q.ParamByName("name").DataType = ftString;
  q.ParamByName("name").SetValue(QStringLiteral("x'y"));
  q.ParamByName("id").DataType = ftInteger;
  q.ParamByName("id").SetValue(2);
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 2);
  EXPECT_EQ(q.SQLText(), sql);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, name from q_exec order by id")),
            QStringList({"1|a", "2|x'y", "3|x'y"}));
  // A statement the server refuses raises; nothing is reported as success.
  q.SetSQL(QStringLiteral("update no_such_table set a = 1"));
  EXPECT_ANY_THROW(q.ExecSQL());
}

// A procedure run by a query's text that answers with a negative return status refused:
// ExecSQL, the open and the end of the rows end in the silent abort; a status of 0 or more
// changes nothing. The connection serves the next statement either way.
TEST_F(QueryTest, ANegativeReturnStatusIsTheSilentAbort) {
  dstest::Exec(*check_, QStringLiteral("create table q_neg (n int null)"));
  dstest::Exec(*check_, QStringLiteral("create procedure q_neg_p @s int, @rows int as "
                                       "insert q_neg values (@s) "
                                       "if @rows = 1 select n from q_neg "
                                       "return @s"));
  const struct {
    int status;
    bool aborts;
  } cases[] = {{-3, true}, {0, false}, {5, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    dstest::Exec(*check_, QStringLiteral("delete q_neg"));
    TQxQuery q;
    q.SetName(QStringLiteral("q_neg_ds"));
    q.DbName = QStringLiteral("db");
    q.SetSQL(QStringLiteral("exec q_neg_p %1, 0").arg(c.status));
    if (c.aborts)
      EXPECT_THROW(q.ExecSQL(), EAbort);
    else
      EXPECT_NO_THROW(q.ExecSQL());
    // Without rows.
    q.SetSQL(QStringLiteral("exec q_neg_p %1, 0").arg(c.status));
    q.AbortOnNoCols = false;
    if (c.aborts)
      EXPECT_THROW(q.Open(), EAbort);
    else
      EXPECT_NO_THROW(q.Open());
    q.Close();
    // With rows: they are read, then the status ends the fetch.
    q.UseQorixCursor = false;
    q.SetSQL(QStringLiteral("exec q_neg_p %1, 1").arg(c.status));
    ASSERT_NO_THROW(q.Open());
    if (c.aborts)
      EXPECT_THROW(q.Last(), EAbort);
    else
      EXPECT_NO_THROW(q.Last());
    EXPECT_FALSE(q.ResultsPending());
    EXPECT_EQ(q.RecordCount(), 3);
    q.Close();
    EXPECT_EQ(Rows(*db_, QStringLiteral("select count(*) from q_neg")), QStringList({"3"}));
  }
}

TEST_F(QueryTest, MissingConnectionNamesAreRefused) {
  TQxQuery q;
  q.SetName(QStringLiteral("q_noconn"));
  q.SetSQL(QStringLiteral("select 1"));
  EXPECT_THROW(q.Open(), EQxMissingException);
  q.DbName = QStringLiteral("nowhere");
  try {
    q.Open();
    FAIL();
  } catch (const EQxMissingException& e) {
    EXPECT_TRUE(QString(e.Message()).contains("Could not find QorixDatabase component named 'nowhere'"));
  }
}

TEST_F(QueryTest, DetailQueryFollowsItsMaster) {
  TQxQuery master, detail;
  master.SetName(QStringLiteral("m_shops"));
  detail.SetName(QStringLiteral("d_orders"));
  master.DbName = detail.DbName = QStringLiteral("db");
  master.SetSQL(QStringLiteral("select shop_id from shops order by shop_id"));
  TDataSource src;
  src.SetDataSet(&master);
  detail.SetSQL(QStringLiteral("select order_no from orders where shop_id = :shop_id order by order_no"));
  detail.SetDataSource(&src);
  master.Open();
  detail.Open();
  master.First();
  int checked = 0;
  while (!master.Eof()) {
    const QString shop = master.FieldByName("shop_id")->AsString().trimmed();
    EXPECT_EQ(Column(detail, "order_no"),
              Rows(*check_, QStringLiteral("select order_no from orders where shop_id = '%1' order by order_no").arg(shop)))
        << shop.toStdString();
    ++checked;
    master.Next();
  }
  EXPECT_GE(checked, 2);
}

// A master link that would lead back to the dataset through its masters is refused; a
// parameter the program bound keeps its value whatever the master shows.
TEST_F(QueryTest, MasterLinksRefuseCirclesAndKeepBoundParameters) {
  TQxQuery a, b, c;
  TDataSource srcA, srcB, srcC;
  srcA.SetDataSet(&a);
  srcB.SetDataSet(&b);
  srcC.SetDataSet(&c);
  b.SetDataSource(&srcA);
  c.SetDataSource(&srcB);
  for (TDataSource* back : {&srcA, &srcB, &srcC}) {
    try {
      a.SetDataSource(back);
      ADD_FAILURE() << "a circular link was taken";
    } catch (const EQxDataSetException& e) {
      EXPECT_TRUE(QString(e.Message()).contains(QStringLiteral("Circular datalinks are not allowed")));
    }
    EXPECT_EQ(a.DataSource(), nullptr);
  }
  c.SetDataSource(&srcA);  // a second detail of the same master is no circle
  EXPECT_EQ(c.DataSource(), &srcA);

  TQxQuery master, detail;
  master.SetName(QStringLiteral("m_shops_b"));
  detail.SetName(QStringLiteral("d_orders_b"));
  master.DbName = detail.DbName = QStringLiteral("db");
  master.SetSQL(QStringLiteral("select shop_id from shops order by shop_id"));
  TDataSource src;
  src.SetDataSet(&master);
  detail.SetSQL(QStringLiteral("select order_no from orders where shop_id = :shop_id order by order_no"));
  detail.SetDataSource(&src);
  TParam& shop = detail.ParamByName(QStringLiteral("shop_id"));
  shop.DataType = ftString;
  shop.SetValue(QStringLiteral("S002"));
  shop.Bound = true;
  master.Open();
  detail.Open();
  const QStringList s002 =
      Rows(*check_, QStringLiteral("select order_no from orders where shop_id = 'S002' order by order_no"));
  for (master.First(); !master.Eof(); master.Next()) EXPECT_EQ(Column(detail, "order_no"), s002);
}

TEST_F(QueryTest, NonAsciiTextFillsItsColumnWithoutLoss) {
  dstest::Exec(*check_, QString::fromUtf8("create table q_utf (s varchar(12) null) insert q_utf values ('äöüßéç')"));
  TQxQuery q;
  q.SetName(QStringLiteral("q_utf_ds"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select s from q_utf"));
  q.Open();
  EXPECT_EQ(q.FieldByName("s")->AsString(), QString::fromUtf8("äöüßéç"));
}

TEST_F(QueryTest, DescribeEdgeCases) {
  dstest::Exec(*check_, QStringLiteral("create table q_desc (a char(4) not null, m smallmoney null, n int null) "
                                       "insert q_desc values ('ab', $1.50, null)"));
  TQxQuery q;
  q.SetName(QStringLiteral("q_desc_ds"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select a, m, n, 1 + 1 from q_desc"));
  q.Open();
  // An unnamed column is named after its position; nothing is required without the option.
  ASSERT_EQ(q.FieldCount(), 4);
  EXPECT_EQ(q.Fields().Fields(3)->FieldName, "COLUMN4");
  EXPECT_EQ(q.FieldByName("a")->AsString(), "ab  ");
  EXPECT_DOUBLE_EQ(q.FieldByName("m")->AsFloat(), 1.5);
  EXPECT_TRUE(q.FieldByName("n")->IsNull());
  EXPECT_FALSE(q.FieldDefs().Find("a")->Required);
  q.Close();
  q.TrimResults = true;
  q.SQLOptions.Include(soCheckFieldRequired);
  q.Open();
  EXPECT_EQ(q.FieldByName("a")->AsString(), "ab");
  EXPECT_TRUE(q.FieldDefs().Find("a")->Required);
  EXPECT_FALSE(q.FieldDefs().Find("n")->Required);
}

// The provider operations of a query: a new text, new parameters (closing the dataset), a run.
TEST_F(QueryTest, ProviderOperationsSetTextParametersAndRun) {
  dstest::Exec(*check_, QStringLiteral("create table q_ps (id int not null, v int null) insert q_ps values (1, 1)"));
  TQxQuery q;
  q.SetName(QStringLiteral("q_ps"));
  q.DbName = QStringLiteral("db");
  q.PSSetCommandText(QStringLiteral("select v from q_ps where id = :id"));
  ASSERT_EQ(q.PSGetParams().Count(), 1);
  q.PSSetCommandText(QString());  // an empty text changes nothing
  EXPECT_EQ(q.SQLText(), "select v from q_ps where id = :id");
  q.ParamByName(QStringLiteral("id")).SetValue(1);
  q.Open();
  TParams given;
  given.CreateParam(ftInteger, QStringLiteral("id"), ptInput).SetValue(2);
  q.PSSetParams(given);
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(q.ParamByName(QStringLiteral("id")).Value().toInt(), 2);
  q.PSSetCommandText(QStringLiteral("update q_ps set v = 5 where id = :id"));
  q.ParamByName(QStringLiteral("id")).DataType = ftInteger;
  q.ParamByName(QStringLiteral("id")).SetValue(1);
  q.PSExecute();
  EXPECT_EQ(q.RowsAffected(), 1);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select v from q_ps")), QStringList({"5"}));
}
