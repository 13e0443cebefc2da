// TQxStoredProc against the local server: the parameter catalogue of both server families,
// calls by name and by position with output parameters and return status, and a procedure's
// rows as a dataset.
#include "access/QorixExceptions.h"
#include "dataset/server/QxStoredProc.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class StoredProcTest : public ServerDataSetTest {};

TEST_F(StoredProcTest, ParametersComeFromEitherFamilysCatalogue) {
  // A Sybase output parameter takes a value in and returns one; the SQLAnywhere catalogue's
  // flag marks an output parameter.
  const struct {
    const char* family;
    TParamType output;
  } cases[] = {{"Sybase SQL Server", ptInputOutput}, {"SQLAnywhere", ptOutput}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.family);
    db_->Rdbms = QString::fromUtf8(c.family);
    TQxStoredProc p;
    p.SetName(QStringLiteral("sp_cat"));
    p.DbName = QStringLiteral("db");
    p.SetStoredProcName(QStringLiteral("shop_order_count"));
    p.GetProcParams();
    ASSERT_EQ(p.Params().Count(), 3);
    EXPECT_EQ(p.Params()[0].Name, "@shop_id");
    EXPECT_EQ(p.Params()[0].DataType, ftString);
    EXPECT_EQ(p.Params()[0].ParamType, ptInput);
    EXPECT_EQ(p.Params()[1].Name, "@orders");
    EXPECT_EQ(p.Params()[1].DataType, ftInteger);
    EXPECT_EQ(p.Params()[1].ParamType, c.output);
    EXPECT_EQ(p.Params()[2].Name, "Result");
    EXPECT_EQ(p.Params()[2].ParamType, ptResult);
    // Either kind brings the procedure's value back, also when it was given none.
    p.Params()[0].SetValue(QStringLiteral("S001"));
    p.Params()[1].Clear();
    p.ExecProc();
    EXPECT_EQ(p.Params()[1].Value().toString(),
              Rows(*check_, QStringLiteral("select count(*) from orders where shop_id = 'S001'")).first());
  }
  db_->Rdbms = QStringLiteral("Sybase SQL Server");
}

// A negative return status is the procedure's refusal, met while the dataset opens or reads
// its rows too: the silent abort, after OnReturnStatus has seen it. Rows read before it stay,
// the connection runs the next statement.
TEST_F(StoredProcTest, ANegativeStatusEndsOpenAndFetchInTheSilentAbort) {
  Exec(*check_, QStringLiteral("create procedure p_neg @mode int as "
                               "if @mode = 1 select book_id from books order by book_id "
                               "if @mode = 2 select book_id from books where 1 = 0 "
                               "return -4"));
  const int books = Rows(*check_, QStringLiteral("select count(*) from books")).first().toInt();
  const struct {
    const char* name;
    int mode;
    bool opens;  // the rows come before the status: the open succeeds, the end of the rows aborts
  } cases[] = {{"rows, then the status", 1, true}, {"empty result, then the status", 2, false},
               {"no result set at all", 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TQxStoredProc p;
    p.SetName(QStringLiteral("sp_neg"));
    p.DbName = QStringLiteral("db");
    p.SetStoredProcName(QStringLiteral("p_neg"));
    p.ParamByName(QStringLiteral("@mode")).SetValue(c.mode);
    int seen = 0;
    p.OnReturnStatus = [&](TComponent*) { seen = p.Params().ParamByName("Result").Value().toInt(); };
    if (c.opens) {
      ASSERT_NO_THROW(p.Open());
      EXPECT_TRUE(p.ResultsPending());
      EXPECT_THROW(p.Last(), EAbort);
      EXPECT_TRUE(p.Active());
      EXPECT_FALSE(p.ResultsPending());
      EXPECT_EQ(p.RecordCount(), books);
      int n = 0;
      for (p.First(); !p.Eof(); p.Next()) ++n;
      EXPECT_EQ(n, books);
    } else {
      EXPECT_THROW(p.Open(), EAbort);
      EXPECT_FALSE(p.Active());
    }
    EXPECT_EQ(seen, -4);
    EXPECT_EQ(p.ReturnStatus(), -4);
    p.Close();
    // Nothing is left pending: the connection serves the next statement, and a status that
    // is not negative opens normally.
    EXPECT_EQ(Rows(*db_, QStringLiteral("select count(*) from books")).first().toInt(), books);
    p.SetStoredProcName(QStringLiteral("books_by_genre"));
    p.GetProcParams();
    p.Params()[0].SetValue(QStringLiteral("cooking"));
    ASSERT_NO_THROW(p.Open());
    EXPECT_NO_THROW(p.Last());
  }
}

TEST_F(StoredProcTest, OutputParametersAndReturnStatusByNameAndByNumber) {
  Exec(*check_, QStringLiteral("create procedure p_status @x int, @y int output as select @y = @x * 2 return @x + 1"));
  const QString orders = Rows(*check_, QStringLiteral("select count(*) from orders where shop_id = 'S001'")).first();
  for (TParamBindMode mode : {pbByName, pbByNumber}) {
    SCOPED_TRACE(mode == pbByName ? "by name" : "by number");
    TQxStoredProc p;
    p.SetName(QStringLiteral("sp_exec"));
    p.DbName = QStringLiteral("db");
    p.ParamBindMode = mode;
    p.SetStoredProcName(QStringLiteral("shop_order_count"));
    p.GetProcParams();
    p.Params()[0].SetValue(QStringLiteral("S001"));
    p.ExecProc();
    EXPECT_EQ(p.Params()[1].Value().toString(), orders);
    EXPECT_EQ(p.ReturnStatus(), 0);

    p.SetStoredProcName(QStringLiteral("p_status"));
    p.GetProcParams();
    p.Params()[0].SetValue(20);
    p.ExecProc();
    EXPECT_EQ(p.Params()[1].Value().toInt(), 40);
    EXPECT_EQ(p.ReturnStatus(), 21);
    EXPECT_EQ(p.Params().ParamByName("Result").Value().toInt(), 21);

    // A negative status ends the call in the silent abort, after the events have seen the
    // status and the output value; AfterExec does not run.
    int seenStatus = 0;
    bool afterExec = false;
    p.OnReturnStatus = [&](TComponent*) { seenStatus = p.Params().ParamByName("Result").Value().toInt(); };
    p.AfterExec = [&](TComponent*) { afterExec = true; };
    p.Params()[0].SetValue(-6);
    EXPECT_THROW(p.ExecProc(), EAbort);
    EXPECT_EQ(seenStatus, -5);
    EXPECT_EQ(p.Params()[1].Value().toInt(), -12);
    EXPECT_FALSE(afterExec);
    // The next call starts afresh.
    p.Params()[0].SetValue(1);
    p.ExecProc();
    EXPECT_EQ(p.ReturnStatus(), 2);
    EXPECT_TRUE(afterExec);
  }
}

TEST_F(StoredProcTest, RowsOfAProcedureOpenAsADataset) {
  TQxStoredProc p;
  p.SetName(QStringLiteral("sp_rows"));
  p.DbName = QStringLiteral("db");
  p.SetStoredProcName(QStringLiteral("books_by_genre"));
  p.GetProcParams();
  p.Params()[0].SetValue(QStringLiteral("cooking"));
  p.Open();
  QStringList ids;
  for (p.First(); !p.Eof(); p.Next()) ids << p.FieldByName("book_id")->AsString().trimmed();
  EXPECT_EQ(ids, Rows(*check_, QStringLiteral("select book_id from books where genre = 'cooking' order by book_id")));
  EXPECT_FALSE(p.ResultsPending());
  EXPECT_EQ(p.ReturnStatus(), 0);
  // A procedure dataset sends no live statements: an edit, an insert or a delete that could
  // never reach the server is refused at once, not kept as if it were saved.
  p.First();
  const QString first = p.FieldByName("book_id")->AsString();
  EXPECT_THROW(p.Edit(), Exception);
  EXPECT_THROW(p.Append(), Exception);
  EXPECT_THROW(p.Delete(), Exception);
  EXPECT_EQ(p.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(p.RecordCount(), ids.size());
  EXPECT_EQ(p.FieldByName("book_id")->AsString(), first);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from books where title = 'x'")), QStringList({"0"}));
  // In cached mode the changes stay in the log until they are applied; the apply of a
  // procedure's rows has no table to write to and says so, keeping the change.
  p.Close();
  p.CachedUpdates = true;
  p.Open();
  p.Edit();
  p.FieldByName("title")->SetAsString(QStringLiteral("x"));
  ASSERT_NO_THROW(p.Post());
  EXPECT_EQ(p.Log().RecordCount(), 1);
  EXPECT_THROW(p.ApplyUpdates(), Exception);
  EXPECT_EQ(p.Log().RecordCount(), 1);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from books where title = 'x'")), QStringList({"0"}));
}

// Opened without cursor, a procedure is a remote procedure call too: its rows fill the dataset
// and its output parameters and status arrive (the events tell when), each value in its type.
TEST_F(StoredProcTest, OpenReturnsOutputParametersAndStatus) {
  Exec(*check_, QStringLiteral("create procedure p_rows_out @genre char(12), @n int output, @top money output, "
                               "@last datetime output as "
                               "select book_id from books where genre = @genre order by book_id "
                               "select @n = count(*), @top = max(price), @last = max(published) from books "
                               "where genre = @genre return 7"));
  TQxStoredProc p;
  p.SetName(QStringLiteral("sp_rows_out"));
  p.DbName = QStringLiteral("db");
  p.SetStoredProcName(QStringLiteral("p_rows_out"));
  p.GetProcParams();
  int statusEvents = 0, paramEvents = 0;
  p.OnReturnStatus = [&](TComponent*) { ++statusEvents; };
  p.OnReturnParams = [&](TComponent*) { ++paramEvents; };
  p.ParamByName(QStringLiteral("@genre")).SetValue(QStringLiteral("cooking"));
  p.Open();
  p.Last();
  const QStringList expect =
      Rows(*check_, QStringLiteral("select count(*), convert(varchar(30), convert(numeric(19,4), max(price))), "
                                   "convert(varchar(30), max(published), 109) from books where genre = 'cooking'"));
  ASSERT_EQ(expect.size(), 1);
  const QStringList cols = expect.first().split(QLatin1Char('|'));
  EXPECT_EQ(p.RecordCount(), cols[0].toInt());
  EXPECT_EQ(p.ParamByName(QStringLiteral("@n")).Value().toInt(), cols[0].toInt());
  EXPECT_EQ(CanonicalDecimal(p.ParamByName(QStringLiteral("@top")).Value().toString()), CanonicalDecimal(cols[1]));
  EXPECT_EQ(p.ParamByName(QStringLiteral("@last")).Value().toDateTime(),
            QDateTime(QDate(2011, 5, 18), QTime(0, 0)));
  EXPECT_EQ(p.ReturnStatus(), 7);
  EXPECT_EQ(statusEvents, 1);
  EXPECT_EQ(paramEvents, 1);
}

// AutoGetParams reads the parameters when the name changes (only then); a SQL text replaces
// the call; the provider operations run, rename and take parameters.
TEST_F(StoredProcTest, AutoParametersSqlTextAndProviderOperations) {
  TQxStoredProc p;
  p.SetName(QStringLiteral("sp_auto"));
  p.DbName = QStringLiteral("db");
  p.SetStoredProcName(QStringLiteral("shop_order_count"));
  ASSERT_EQ(p.Params().Count(), 3);
  p.Params()[0].SetValue(QStringLiteral("S001"));
  p.SetStoredProcName(QStringLiteral(" shop_order_count "));  // the same name: values stay
  EXPECT_EQ(p.Params()[0].Value().toString(), "S001");
  p.PSExecute();
  EXPECT_EQ(p.Params()[1].Value().toString(),
            Rows(*check_, QStringLiteral("select count(*) from orders where shop_id = 'S001'")).first());
  EXPECT_TRUE(p.PSGetTableName().isEmpty());
  p.PSSetCommandText(QStringLiteral("books_by_genre"));
  EXPECT_EQ(p.StoredProcName(), "books_by_genre");
  EXPECT_EQ(p.Params().Count(), 2);
  // Renaming an open dataset is refused.
  p.Params()[0].SetValue(QStringLiteral("novel"));
  p.Open();
  EXPECT_THROW(p.SetStoredProcName(QStringLiteral("shop_order_count")), Exception);
  p.Close();
  // A SQL text is sent instead of the call.
  p.SQL = QStringList{QStringLiteral("select book_id from books where genre = 'travel'")};
  p.Open();
  QStringList ids;
  for (p.First(); !p.Eof(); p.Next()) ids << p.FieldByName("book_id")->AsString().trimmed();
  EXPECT_EQ(ids, Rows(*check_, QStringLiteral("select book_id from books where genre = 'travel'")));
  p.Close();
  // PSSetParams takes a non-empty list and closes.
  TParams other;
  other.CreateParam(ftString, QStringLiteral("@genre"), ptInput).SetValue(QStringLiteral("x"));
  p.Open();
  p.PSSetParams(other);
  EXPECT_FALSE(p.Active());
  EXPECT_EQ(p.Params().Count(), 1);
}

// A numeric or decimal parameter is exact: its value reaches the procedure and comes back as an
// output parameter digit for digit (it went as a double, which changes most such values).
TEST_F(StoredProcTest, NumericParametersTravelExactly) {
  Exec(*check_, QStringLiteral("create table sp_num (n numeric(38,10) null)"));
  Exec(*check_, QStringLiteral("create procedure sp_num_put @n numeric(38,10), @d decimal(20,4) output as "
                               "insert sp_num values (@n) select @d = @n"));
  TQxStoredProc p;
  p.SetName(QStringLiteral("sp_num_p"));
  p.DbName = QStringLiteral("db");
  p.SetStoredProcName(QStringLiteral("sp_num_put"));
  p.GetProcParams();
  EXPECT_EQ(p.ParamByName(QStringLiteral("@n")).DataType, ftBCD);
  EXPECT_EQ(p.ParamByName(QStringLiteral("@d")).DataType, ftBCD);
  const struct {
    const char* in;
    const char* stored;
    const char* out;
  } cases[] = {
      {"19.99", "19.9900000000", "19.99"},
      {"1234567890123456.7891", "1234567890123456.7891000000", "1234567890123456.7891"},
      {"-0.0001", "-0.0001000000", "-0.0001"},
      {"9999999999999999.9999", "9999999999999999.9999000000", "9999999999999999.9999"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    Exec(*check_, QStringLiteral("delete sp_num"));
    p.ParamByName(QStringLiteral("@n")).SetValue(QString::fromLatin1(c.in));
    ASSERT_NO_THROW(p.ExecProc());
    EXPECT_EQ(Rows(*check_, QStringLiteral("select convert(varchar(60), n) from sp_num")),
              QStringList({QString::fromLatin1(c.stored)}));
    EXPECT_EQ(CanonicalDecimal(p.ParamByName(QStringLiteral("@d")).Value().toString()), QString::fromLatin1(c.out));
  }
}
