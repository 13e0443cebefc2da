// Smaller wrong results of statements and parameters: a changed text unprepares, a time
// parameter stands on the server's first day, markers beside bracketed names are counted
// right, the server message of a failure is kept, a failed run leaves no old row count, a
// datetime output parameter keeps its seconds and milliseconds, and operations on a closed
// dataset say that it is closed.
#include <QDateTime>

#include "access/QorixExceptions.h"
#include "dataset/server/QxQuery.h"
#include "dataset/server/QxStoredProc.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class StatementFaultsTest : public ServerDataSetTest {
 protected:
  std::unique_ptr<TQxQuery> Query(const QString& sql) {
    auto q = std::make_unique<TQxQuery>();
    q->SetName(QStringLiteral("q_faults"));
    q->DbName = QStringLiteral("db");
    q->SetSQL(sql);
    return q;
  }
};

TEST_F(StatementFaultsTest, ChangingTheTextUnprepares) {
  Exec(*check_, QStringLiteral("create table f_prep (id int not null, v int null) insert f_prep values (1, 1) "
                               "insert f_prep values (2, 2)"));
  auto q = Query(QStringLiteral("delete f_prep where id = :id"));
  q->ParamByName(QStringLiteral("id")).DataType = ftInteger;
  q->ParamByName(QStringLiteral("id")).SetValue(1);
  q->Prepare();
  ASSERT_TRUE(q->Prepared());
  q->SetSQL(QStringLiteral("update f_prep set v = 10 where id = :id"));
  EXPECT_FALSE(q->Prepared());
  q->ParamByName(QStringLiteral("id")).DataType = ftInteger;
  q->ParamByName(QStringLiteral("id")).SetValue(1);
  q->ExecSQL();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, v from f_prep order by id")), QStringList({"1|10", "2|2"}));
}

// Values bound to a prepared statement and written as literals reach the server alike.
TEST_F(StatementFaultsTest, TimeAndBracketedNamesInPreparedStatements) {
  // Made through a dataset: the set-up runner would take ":b" for a marker.
  Query(QStringLiteral("create table f_time (id int not null, [a:b] int null, at datetime null)"))->ExecSQL();
  for (bool prepared : {true, false}) {
    SCOPED_TRACE(prepared ? "prepared" : "literals");
    Exec(*check_, QStringLiteral("delete f_time"));
    auto q = Query(QStringLiteral("insert f_time (id, [a:b], at) values (:id, :v, :at)"));
    ASSERT_EQ(q->Params().Count(), 3);
    q->ParamByName(QStringLiteral("id")).DataType = ftInteger;
    q->ParamByName(QStringLiteral("id")).SetValue(1);
    q->ParamByName(QStringLiteral("v")).DataType = ftInteger;
    q->ParamByName(QStringLiteral("v")).SetValue(7);
    q->ParamByName(QStringLiteral("at")).DataType = ftTime;
    q->ParamByName(QStringLiteral("at")).SetValue(QTime(13, 45, 30, 500));
    if (prepared) q->Prepare();
    ASSERT_NO_THROW(q->ExecSQL());
    EXPECT_EQ(Rows(*check_, QStringLiteral("select id, convert(varchar(30), at, 109), * from f_time")).value(0),
              "1|Jan  1 1900  1:45:30:500PM|1|7|Jan  1 1900 01:45PM");
  }
}

TEST_F(StatementFaultsTest, AFailureKeepsItsServerMessageAndNoOldCount) {
  Exec(*check_, QStringLiteral("create table f_count (id int not null) insert f_count values (1) insert f_count values (2)"));
  auto q = Query(QStringLiteral("update f_count set id = id"));
  q->ExecSQL();
  EXPECT_EQ(q->RowsAffected(), 2);
  EXPECT_EQ(q->DataSetServerMsg().msgnumber, 0);
  q->SetSQL(QStringLiteral("update no_such_table set id = 1"));
  EXPECT_THROW(q->ExecSQL(), Exception);
  EXPECT_EQ(q->RowsAffected(), -1);
  EXPECT_EQ(q->DataSetServerMsg().msgnumber, 208);
}

TEST_F(StatementFaultsTest, DatetimeOutputParameterKeepsSecondsAndMilliseconds) {
  Exec(*check_, QStringLiteral("create procedure f_when @at datetime output as "
                               "select @at = '2024-02-29 13:45:30.500'"));
  TQxStoredProc p;
  p.SetName(QStringLiteral("sp_when"));
  p.DbName = QStringLiteral("db");
  p.SetStoredProcName(QStringLiteral("f_when"));
  p.GetProcParams();
  p.ExecProc();
  const QVariant value = p.ParamByName(QStringLiteral("@at")).Value();
  const QDateTime at = value.toDateTime();
  EXPECT_EQ(at, QDateTime(QDate(2024, 2, 29), QTime(13, 45, 30, 500))) << at.toString(Qt::ISODateWithMs).toStdString();
}

// Each operation on a closed dataset says the dataset is closed.
TEST_F(StatementFaultsTest, ClosedDatasetsSaySo) {
  TQxTable t;
  t.SetName(QStringLiteral("tb_closed"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("books"));
  TQxStoredProc p;
  p.SetName(QStringLiteral("sp_closed"));
  p.DbName = QStringLiteral("db");
  p.SetStoredProcName(QStringLiteral("books_by_genre"));
  for (TQxCustomDataSet* d : {static_cast<TQxCustomDataSet*>(&t), static_cast<TQxCustomDataSet*>(&p)}) {
    SCOPED_TRACE(d->Name().toStdString());
    for (int op = 0; op < 3; ++op) {
      try {
        if (op == 0) d->ExecUpdateSQL();
        if (op == 1) d->ExecDeleteSQL();
        if (op == 2) d->ExecInsertSQL();
        ADD_FAILURE() << "no error for operation " << op;
      } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QxDsText::ClosedDataSet)) << op << ": " << e.Message().toStdString();
      }
    }
  }
}
