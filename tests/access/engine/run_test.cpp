// The engine's run and result loop against the local server: Open/Next over several results,
// ExecSQL delivering every result through events, MaxRows, NULLs, cancel and the errors.

#include <QDateTime>

#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/SysUtils.h"
#include "engine_fixture.h"

namespace {

class EngineRun : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    Exec(QStringLiteral("create table #dummy (a int)"));
  }
  // A table of N rows: id 1..N and a text.
  void MakeNumbers(const QString& table, int n) {
    Exec(QStringLiteral("create table ") + table + QStringLiteral(" (id int, name varchar(30) null)"));
    QString batch;
    for (int i = 1; i <= n; ++i)
      batch += QStringLiteral("insert into %1 values (%2, 'row %2')\n").arg(table).arg(i);
    Exec(batch);
  }
};

TEST_F(EngineRun, OpenNextYieldsOnlyTheFirstResultsRows) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select 1 as a union all select 2\nselect 'x' as b"));
  EXPECT_EQ(OpenRows(q), (QStringList{"1", "2"}));
  // The connection is usable at once afterwards.
  TQorixEnhQuery again;
  again.SetDatabase(db_.get());
  again.SetSQL(QStringLiteral("select 42"));
  EXPECT_EQ(OpenRows(again), (QStringList{"42"}));
}

TEST_F(EngineRun, ExecSqlDeliversEveryResultOfAScript) {
  MakeNumbers(QStringLiteral("script_t"), 3);
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  QStringList events;
  q.OnHeader = [&](TComponent*) { events << QStringLiteral("header %1").arg(q.ColumnCount()); };
  q.OnResultRow = [&](TComponent*) { events << QStringLiteral("row ") + q.GetFieldValue(1); };
  q.AfterCommand = [&](TComponent*) { events << QStringLiteral("command %1").arg(q.GetRowCount()); };
  q.SetSQL(QStringList{QStringLiteral("update script_t set name = 'u' where id > 1"),
                       QStringLiteral("select id from script_t order by id"),
                       QStringLiteral("select 'tail'")});
  EXPECT_EQ(q.ExecSQL(), 1);
  EXPECT_TRUE(events.contains(QStringLiteral("command 2"))) << events.join(", ").toStdString();
  const QStringList rows = events.filter(QStringLiteral("row "));
  EXPECT_EQ(rows, (QStringList{"row 1", "row 2", "row 3", "row tail"}));
  EXPECT_EQ(events.filter(QStringLiteral("header")).size(), 2);
  EXPECT_EQ(q.TotalRows() >= 2, true);
}

TEST_F(EngineRun, ComputeRowsReachTheirEvent) {
  MakeNumbers(QStringLiteral("compute_t"), 4);
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  QStringList computes;
  q.OnComputeRow = [&](TComponent*) { computes << q.GetComputeValue(1); };
  q.SetSQL(QStringLiteral("select id from compute_t order by id compute sum(id)"));
  q.ExecSQL();
  if (computes.isEmpty()) GTEST_SKIP() << "the server sends no compute rows yet";
  EXPECT_EQ(computes, (QStringList{"10"}));
}

TEST_F(EngineRun, MaxRowsStopsAfterThreeRowsWithOneEvent) {
  MakeNumbers(QStringLiteral("max_t"), 10);
  struct Case {
    const char* name;
    bool exec;
  } cases[] = {{"ExecSQL", true}, {"Open", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.MaxRows = 3;
    int rows = 0, maxEvents = 0;
    q.OnMaxRows = [&](TComponent*) { ++maxEvents; };
    q.SetSQL(QStringLiteral("select id from max_t order by id"));
    if (c.exec) {
      q.OnResultRow = [&](TComponent*) { ++rows; };
      q.ExecSQL();
    } else {
      q.Open();
      while (q.Next()) ++rows;
      q.Cancel(CS_CANCEL_ALL);
    }
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(maxEvents, 1);
    // The connection then works.
    TQorixEnhQuery after;
    after.SetDatabase(db_.get());
    after.SetSQL(QStringLiteral("select count(*) from max_t"));
    EXPECT_EQ(OpenRows(after), (QStringList{"10"}));
  }
}

TEST_F(EngineRun, MaxRowsZeroMeansNoLimit) {
  MakeNumbers(QStringLiteral("nolimit_t"), 10);
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  int rows = 0;
  q.OnResultRow = [&](TComponent*) { ++rows; };
  q.SetSQL(QStringLiteral("select id from nolimit_t"));
  q.ExecSQL();
  EXPECT_EQ(rows, 10);
}

TEST_F(EngineRun, NullAfterAValueReadsEmpty) {
  Exec(
      QStringLiteral("create table null_t (id int, v varchar(10) null, n int null)\n"
                     "insert null_t values (1, 'abc', 5)\ninsert null_t values (2, null, null)"));
  for (bool textImage : {false, true}) {
    SCOPED_TRACE(textImage ? "TextImage" : "bound");
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.TextImage = textImage;
    q.SetSQL(QStringLiteral("select v, n from null_t order by id"));
    EXPECT_EQ(OpenRows(q), (QStringList{"abc|5", "<null>|<null>"}));
  }
}

TEST_F(EngineRun, UpdateOnlyStatementHasNoRowsAndCountsAffectedRows) {
  MakeNumbers(QStringLiteral("upd_t"), 5);
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("update upd_t set name = 'z' where id <= 3"));
  q.Open();
  EXPECT_FALSE(q.Next());
  EXPECT_EQ(q.GetRowCount(), 3);
  q.Cancel(CS_CANCEL_ALL);
}

TEST_F(EngineRun, CancelInTheMiddleOfALargeResultLeavesTheConnectionUsable) {
  MakeNumbers(QStringLiteral("big_t"), 300);
  // Draining pending rows with ct_results never ends on FreeTDS: both families must cancel.
  for (const char* family : {"Sybase SQL Server", "SQLAnywhere"}) {
    SCOPED_TRACE(family);
    db_->rdbms = QString::fromLatin1(family);
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.SetSQL(QStringLiteral("select a.id, a.name from big_t a, big_t b where b.id <= 20"));
    q.Open();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(q.Next());
    q.Cancel(CS_CANCEL_ALL);
    q.SetSQL(QStringLiteral("select count(*) from big_t"));
    EXPECT_EQ(OpenRows(q), (QStringList{"300"}));
  }
}

TEST_F(EngineRun, ADisconnectWithRowsPendingLeavesTheEngineUsable) {
  MakeNumbers(QStringLiteral("drop_t"), 50);
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select id from drop_t"));
  q.Open();
  ASSERT_TRUE(q.Next());
  // The connection goes away under the engine: its command must not be cancelled through it.
  db_->Close();
  q.Cancel(CS_CANCEL_ALL);
  db_->DoConnect();
  ASSERT_TRUE(db_->IsConnected());
  q.SetSQL(QStringLiteral("select 11"));
  EXPECT_EQ(OpenRows(q), (QStringList{"11"}));
  // Destroyed with rows pending and its connection gone.
  auto* pending = new TQorixEnhQuery;
  pending->SetDatabase(db_.get());
  pending->SetSQL(QStringLiteral("select 1 union all select 2"));
  pending->Open();
  ASSERT_TRUE(pending->Next());
  db_->Close();
  delete pending;
}

TEST_F(EngineRun, KeptRowsAreServedAgainAfterARewind) {
  MakeNumbers(QStringLiteral("hist_t"), 4);
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.KeepHistory = true;
  q.SetSQL(QStringLiteral("select id, name from hist_t where id <= 3 order by id"));
  q.Open();
  QStringList first, again;
  while (q.Next()) first << q.GetFieldValue(1);
  EXPECT_EQ(q.HistoryCount(), 3);
  q.RewindHistory();
  while (q.Next()) again << q.GetFieldValue(1) + QLatin1Char('|') + q.GetFieldValue(2);
  q.Cancel(CS_CANCEL_ALL);
  EXPECT_EQ(first, (QStringList{"1", "2", "3"}));
  EXPECT_EQ(again, (QStringList{"1|row 1", "2|row 2", "3|row 3"}));
  // A new run starts an empty history.
  q.SetSQL(QStringLiteral("select 1"));
  q.Open();
  EXPECT_EQ(q.HistoryCount(), 0);
  q.Cancel(CS_CANCEL_ALL);
}

TEST_F(EngineRun, ErrorsBeforeAndDuringTheRun) {
  TQorixEnhQuery q;
  q.SetName(QStringLiteral("q1"));
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("   "));
  try {
    q.ExecSQL();
    FAIL() << "blank SQL ran";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("q1: No SQL statement available"));
  }
  q.SetSQL(QStringLiteral("select * from no_such_table_here"));
  EXPECT_THROW(q.ExecSQL(), Exception);
  EXPECT_FALSE(q.LastError().isEmpty());
  // After a server error the next statement runs.
  q.SetSQL(QStringLiteral("select 7"));
  EXPECT_EQ(OpenRows(q), (QStringList{"7"}));

  TQorixEnhQuery none;
  none.SetSQL(QStringLiteral("select 1"));
  EXPECT_THROW(none.Open(), EQxMissingException);
  none.DbName = QStringLiteral("nobody_by_this_name");
  try {
    none.Open();
    FAIL() << "an unknown DbName ran";
  } catch (const EQxMissingException& e) {
    EXPECT_EQ(e.Message(),
              QStringLiteral("Could not find QorixDatabase component named 'nobody_by_this_name'"));
  }
  none.DbName = QStringLiteral("testdb");
  EXPECT_EQ(OpenRows(none), (QStringList{"1"}));
}

TEST_F(EngineRun, AnErrorWithoutShowErrorsEndsSilentlyAndKeepsItsText) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetShowDbMessages({smDbMsg});
  int errors = 0;
  q.OnDbError = [&](TComponent*) { ++errors; };
  q.SetSQL(QStringLiteral("select * from no_table_silently"));
  EXPECT_THROW(q.ExecSQL(), EAbort);
  EXPECT_EQ(errors, 1);
  EXPECT_TRUE(q.LastError().contains(QStringLiteral("no_table_silently")));
  EXPECT_EQ(q.LastServerMsg().msgnumber, 208);
  q.SetSQL(QStringLiteral("select 8"));
  EXPECT_EQ(OpenRows(q), (QStringList{"8"}));
}

TEST_F(EngineRun, MessagesReachTheEngine) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetShowDbMessages({});
  int messages = 0;
  q.OnDbMessage = [&](TComponent*) { ++messages; };
  q.SetSQL(QStringLiteral("print 'hello engine'"));
  q.ExecSQL();
  EXPECT_GE(messages, 1);
  EXPECT_TRUE(q.LastMessage().contains(QStringLiteral("hello engine")));
}

TEST_F(EngineRun, AutoConnectLogsInAndAClosedConnectionWithoutItReturnsZero) {
  db_->Close();
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.AutoConnect = false;
  q.SetSQL(QStringLiteral("select 1"));
  EXPECT_EQ(q.Open(), 0);
  q.AutoConnect = true;
  EXPECT_EQ(OpenRows(q), (QStringList{"1"}));
  db_->Close();
  db_->password = "wrong";
  try {
    q.Open();
    FAIL() << "a failed login ran";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Cannot login to server 'TABULON'"));
  }
}

}  // namespace
