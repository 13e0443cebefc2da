// What must hold whatever the program around the datasets does: a live query edits its one
// table, DML through a live query's ExecSQL runs, a user's throwing AfterPost handler does not
// keep the log from being emptied, a server error inside the dataset's own transaction leaves
// none open, and closing one cursor dataset leaves another on the same connection reading.
#include "access/QorixExceptions.h"
#include "dataset/server/QxQuery.h"
#include "dataset/server/QxStoredProc.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class RobustnessTest : public ServerDataSetTest {};

TEST_F(RobustnessTest, LiveQueryEditsItsTableAndExecSQLRunsDML) {
  Exec(*check_, QStringLiteral("create table r_live (id int not null, name varchar(10) null, "
                               "constraint r_live_pk primary key (id)) insert r_live values (1, 'a')"));
  TQxQuery q;
  q.SetName(QStringLiteral("r_live_q"));
  q.DbName = QStringLiteral("db");
  q.RequestLive = true;
  q.SetSQL(QStringLiteral("select id, name from r_live"));
  q.Open();
  EXPECT_TRUE(q.IsLive());
  EXPECT_EQ(q.UpdatableTable(), "r_live");
  q.Edit();
  q.FieldByName("name")->SetAsString(QStringLiteral("b"));
  q.Post();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select name from r_live")), QStringList({"b"}));
  q.Close();
  q.SetSQL(QStringLiteral("update r_live set name = 'c' where id = 1"));
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 1);
  // An expression in the select list makes a live request fail before anything is sent.
  q.SetSQL(QStringLiteral("select id, upper(name) from r_live"));
  EXPECT_THROW(q.Open(), EDatabaseError);
}

TEST_F(RobustnessTest, ThrowingAfterPostHandlerLeavesTheLogEmpty) {
  Exec(*check_, QStringLiteral("create table r_hook (id int not null, v int null, constraint r_hook_pk primary key (id)) "
                               "insert r_hook values (1, 1)"));
  TQxTable t;
  t.SetName(QStringLiteral("r_hook_ds"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("r_hook"));
  t.Open();
  t.AfterPost = [](TDataSet&) { throw Exception(QStringLiteral("handler failed")); };
  t.Edit();
  t.FieldByName("v")->SetValue(2);
  EXPECT_ANY_THROW(t.Post());
  EXPECT_EQ(t.Log().RecordCount(), 0);
  t.AfterPost = nullptr;
  // The next edit is compared with the values the server now holds.
  t.Edit();
  t.FieldByName("v")->SetValue(3);
  t.Post();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select v from r_hook")), QStringList({"3"}));
}

TEST_F(RobustnessTest, ServerErrorInsideItsOwnTransactionRollsBack) {
  Exec(*check_, QStringLiteral("create table r_err (id int not null, v int not null, constraint r_err_pk primary key (id)) "
                               "insert r_err values (1, 1) insert r_err values (2, 2)"));
  TQxTable t;
  t.SetName(QStringLiteral("r_err_ds"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("r_err"));
  t.Open();
  t.Edit();
  t.FieldByName("id")->SetValue(2);  // the key exists: the server refuses the update
  EXPECT_ANY_THROW(t.Post());
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, v from r_err order by id")), QStringList({"1|1", "2|2"}));
  t.Cancel();
}

TEST_F(RobustnessTest, ClosingOneCursorLeavesTheOtherReading) {
  TQxQuery a, b;
  a.SetName(QStringLiteral("r_cur_a"));
  b.SetName(QStringLiteral("r_cur_b"));
  for (TQxQuery* q : {&a, &b}) {
    q->DbName = QStringLiteral("db");
    q->FetchRows = 2;
    q->SetSQL(QStringLiteral("select order_no from orders order by order_no"));
  }
  a.Open();
  b.Open();
  ASSERT_TRUE(a.ResultsPending() && b.ResultsPending());
  a.Close();
  int n = 0;
  for (b.First(); !b.Eof(); b.Next()) ++n;
  EXPECT_EQ(QString::number(n), Rows(*check_, QStringLiteral("select count(*) from orders")).first());
  TQxTable t;
  t.SetName(QStringLiteral("r_user"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("books"));
  EXPECT_TRUE(t.IsUserTable());
  t.SetTableName(QStringLiteral("sysobjects"));
  EXPECT_FALSE(t.IsUserTable());
}

// After any failed open the connection runs the next statement normally: a dataset (cursor or
// not) and a statement on the same connection work, and the failed dataset opens once its text
// is corrected.
TEST_F(RobustnessTest, AFailedOpenLeavesTheConnectionUsable) {
  struct Case {
    const char* name;
    const char* sql;
  } cases[] = {
      {"syntax error", "select from where books"},
      {"unknown table", "select * from no_such_table"},
      {"unknown column", "select no_such_column from books"},
      {"conversion error", "select convert(int, title) from books"},
  };
  for (const Case& c : cases) {
    for (bool cursor : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (cursor ? " cursor" : " language"));
      TQxQuery bad;
      bad.SetName(QStringLiteral("r_bad"));
      bad.DbName = QStringLiteral("db");
      bad.UseQorixCursor = cursor;
      bad.SetSQL(QString::fromUtf8(c.sql));
      bool raised = false;
      try {
        bad.Open();
        bad.Last();
      } catch (const Exception&) {
        raised = true;
      }
      EXPECT_TRUE(raised);
      for (bool nextCursor : {true, false}) {
        TQxQuery good;
        good.SetName(QStringLiteral("r_good"));
        good.DbName = QStringLiteral("db");
        good.UseQorixCursor = nextCursor;
        good.SetSQL(QStringLiteral("select count(*) from books"));
        ASSERT_NO_THROW(good.Open());
        EXPECT_EQ(good.Fields().Fields(0)->AsString(), Rows(*check_, QStringLiteral("select count(*) from books")).first());
      }
      TQxQuery exec;
      exec.SetName(QStringLiteral("r_exec"));
      exec.DbName = QStringLiteral("db");
      exec.SetSQL(QStringLiteral("update books set pages = pages where book_id = 'BK1001'"));
      ASSERT_NO_THROW(exec.ExecSQL());
      EXPECT_EQ(exec.RowsAffected(), 1);
      bad.Close();
      bad.SetSQL(QStringLiteral("select book_id from books"));
      ASSERT_NO_THROW(bad.Open());
      EXPECT_FALSE(bad.IsEmpty());
    }
  }
}

// A NULL bit parameter reaches the server as NULL (it ended the process inside the client
// library): through a prepared statement and through a procedure call.
TEST_F(RobustnessTest, NullBitParametersAreSentAsNull) {
  Exec(*check_, QStringLiteral("create table r_bit (id int not null, flag bit not null)"
                               " insert r_bit values (1, 1) insert r_bit values (2, 0)"));
  Exec(*check_, QStringLiteral("create procedure r_bit_count @b bit = null, @n int output as "
                               "select @n = count(*) from r_bit where flag = isnull(@b, flag)"));
  for (bool null : {true, false}) {
    SCOPED_TRACE(null ? "NULL" : "a value");
    TQxQuery q;
    q.SetName(QStringLiteral("r_bit_q"));
    q.DbName = QStringLiteral("db");
    q.SetSQL(QStringLiteral("update r_bit set flag = isnull(:b, flag) where id = 1"));
    q.ParamByName(QStringLiteral("b")).DataType = ftBoolean;
    q.ParamByName(QStringLiteral("b")).SetValue(null ? QVariant() : QVariant(false));
    q.Prepare();
    ASSERT_NO_THROW(q.ExecSQL());
    EXPECT_EQ(q.RowsAffected(), 1);
    q.UnPrepare();
    EXPECT_EQ(Rows(*check_, QStringLiteral("select flag from r_bit where id = 1")), QStringList({null ? "1" : "0"}));
    Exec(*check_, QStringLiteral("update r_bit set flag = 1 where id = 1"));

    TQxStoredProc p;
    p.SetName(QStringLiteral("r_bit_p"));
    p.DbName = QStringLiteral("db");
    p.SetStoredProcName(QStringLiteral("r_bit_count"));
    p.GetProcParams();
    p.ParamByName(QStringLiteral("@b")).SetValue(null ? QVariant() : QVariant(false));
    ASSERT_NO_THROW(p.ExecProc());
    EXPECT_EQ(p.ParamByName(QStringLiteral("@n")).Value().toInt(), null ? 2 : 1);
  }
}

// Refresh (and a reopen) of a dataset whose connection component was destroyed raises a clear
// error instead of reaching through a dangling connection; with a connection again it works.
TEST_F(RobustnessTest, RefreshAfterTheConnectionWasDestroyedRaises) {
  for (bool cursor : {true, false}) {
    SCOPED_TRACE(cursor ? "cursor" : "language");
    auto gone = dstest::Connect(QStringLiteral("r_gone"));
    ASSERT_TRUE(gone->Connected());
    TQxQuery q;
    q.SetName(QStringLiteral("r_gone_q"));
    q.SetDatabase(gone.get());
    q.UseQorixCursor = cursor;
    q.SetSQL(QStringLiteral("select order_no from orders"));
    q.Open();
    gone.reset();
    EXPECT_THROW(q.Refresh(), Exception);
    EXPECT_THROW(q.Next(), Exception);
    q.Close();
    q.SetDatabase(db_.get());
    ASSERT_NO_THROW(q.Open());
    q.Last();
    EXPECT_EQ(q.RecordCount(), Rows(*check_, QStringLiteral("select count(*) from orders")).first().toInt());
  }
}

// A procedure or batch whose rows are followed by compute rows (select ... compute by) is read
// as a dataset or run for its status, and the connection runs the next statement: the rows the
// dataset does not keep, compute rows among them, are read out rather than cancelled one result
// at a time, which would leave the client without the compute formats for the next compute row.
TEST_F(RobustnessTest, ComputeRowsAfterTheRowsLeaveTheConnectionUsable) {
  Exec(*check_, QStringLiteral("create procedure r_comp as "
                               "select genre, book_id from books order by genre compute count(book_id) by genre "
                               "select 1 return 3"));
  const QStringList ids = Rows(*check_, QStringLiteral("select genre, book_id from books order by genre"));
  ASSERT_GT(ids.size(), 2);
  const QString batch = QStringLiteral("select genre, book_id from books order by genre "
                                       "compute count(book_id) by genre select 1");
  enum Way { ProcOpen, ProcExec, QueryExec, QueryBatch };
  for (Way way : {ProcOpen, ProcExec, QueryExec, QueryBatch}) {
    for (int fetchRows : {1, 2, 1000}) {
      // With two rows a batch, the dataset is closed before it read them all.
      SCOPED_TRACE(testing::Message() << "way " << way << " fetch " << fetchRows);
      {
        TQxStoredProc p;
        TQxQuery q;
        if (way == ProcOpen || way == ProcExec) {
          p.SetName(QStringLiteral("r_comp_p"));
          p.DbName = QStringLiteral("db");
          p.FetchRows = fetchRows;
          p.SetStoredProcName(QStringLiteral("r_comp"));
          p.GetProcParams();
        } else {
          q.SetName(QStringLiteral("r_comp_q"));
          q.DbName = QStringLiteral("db");
          q.FetchRows = fetchRows;
          q.UseQorixCursor = false;
          q.SetSQL(way == QueryExec ? QStringLiteral("exec r_comp") : batch);
        }
        TQxCustomDataSet& ds = way == ProcOpen || way == ProcExec ? static_cast<TQxCustomDataSet&>(p) : q;
        try {
          if (way == ProcExec) {
            p.ExecProc();
            EXPECT_EQ(p.ReturnStatus(), 3);
          } else {
            ds.Open();
            EXPECT_EQ(ds.FieldByName(QStringLiteral("book_id"))->AsString().trimmed(),
                      ids.first().section(QLatin1Char('|'), 1));
            if (fetchRows != 2) ds.Last();
            ds.Close();
          }
        } catch (const Exception& e) {
          ADD_FAILURE() << e.Message().toStdString();
        }
      }
      TQxQuery next;
      next.SetName(QStringLiteral("r_comp_next"));
      next.DbName = QStringLiteral("db");
      next.SetSQL(QStringLiteral("select count(*) from books"));
      ASSERT_NO_THROW(next.Open());
      EXPECT_EQ(next.Fields().Fields(0)->AsString(), Rows(*check_, QStringLiteral("select count(*) from books")).first());
    }
  }
}

// A query that is not live and not cached sends nothing for a change: an edit, an insert and a
// delete are all refused, and the rows shown stay the server's.
TEST_F(RobustnessTest, AQueryThatIsNotLiveRefusesEveryChange) {
  TQxQuery q;
  q.SetName(QStringLiteral("r_ro"));
  q.DbName = QStringLiteral("db");
  q.RequestLive = false;
  q.SetSQL(QStringLiteral("select order_no from orders order by order_no"));
  q.Open();
  const QString first = q.FieldByName(QStringLiteral("order_no"))->AsString();
  EXPECT_THROW(q.Edit(), Exception);
  EXPECT_THROW(q.Append(), Exception);
  EXPECT_THROW(q.Delete(), Exception);
  q.Last();
  EXPECT_EQ(q.RecordCount(), Rows(*check_, QStringLiteral("select count(*) from orders")).first().toInt());
  q.First();
  EXPECT_EQ(q.FieldByName(QStringLiteral("order_no"))->AsString(), first);
}
