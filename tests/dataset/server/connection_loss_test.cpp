// A connection lost under a dataset (the network cut through a proxy between the client and the
// server): rows cut off mid-fetch, a statement on the dead connection, a live post and a cached
// apply cut half way. Each raises, nothing counts as done that the server did not do, and the
// changes not applied stay in the change log. A second connection reads the server back.
#include <atomic>

#include "access/QorixExceptions.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxQuery.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"
#include "tests/support/tcp_proxy.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class ConnectionLossTest : public ServerDataSetTest {
 protected:
  void SetUp() override {
    ServerDataSetTest::SetUp();
    if (IsSkipped()) return;
    proxy_ = std::make_unique<tabtest::TcpProxy>(dstest::Server().port());
    static std::atomic<int> serial{0};
    const std::string entry = "PROXY" + std::to_string(++serial);
    tabtest::AddServerEntry(dstest::Server().configPath(), dstest::Server().interfacesPath(), entry, proxy_->port());
    cut_ = tabtest::SaDatabase(QStringLiteral("cut"));
    cut_->ServerName = QString::fromStdString(entry);
    cut_->Rdbms = QStringLiteral("Sybase SQL Server");
    cut_->Connect();
    ASSERT_TRUE(cut_->Connected());
    cut_->SetDbName(QStringLiteral("sample"));
  }
  void TearDown() override {
    cut_.reset();
    proxy_.reset();
    ServerDataSetTest::TearDown();
  }
  void MakeTable(const QString& name, int rows) {
    Exec(*check_, QStringLiteral("if object_id('%1') is not null drop table %1").arg(name));
    Exec(*check_, QStringLiteral("create table %1 (id int not null, name varchar(40) not null, "
                                 "constraint %1_pk primary key (id))")
                      .arg(name));
    QString batch;
    for (int i = 1; i <= rows; ++i) {
      batch += QStringLiteral("insert %1 values (%2, 'row %2 of the table, padded') ").arg(name).arg(i);
      if (i % 100 == 0 || i == rows) {
        Exec(*check_, batch);
        batch.clear();
      }
    }
  }
  std::unique_ptr<tabtest::TcpProxy> proxy_;
  std::unique_ptr<TQorixDatabase> cut_;
};

// Rows cut off mid-fetch raise, for a cursor (each batch its own round trip) and for a plain
// result (the rows still in the network): never a shorter result that looks complete.
TEST_F(ConnectionLossTest, RowsCutOffMidFetchRaise) {
  MakeTable(QStringLiteral("cl_fetch"), 3000);
  for (bool cursor : {true, false}) {
    SCOPED_TRACE(cursor ? "cursor" : "language command");
    TQxQuery q;
    q.SetName(QStringLiteral("q_cut"));
    q.DbName = QStringLiteral("cut");
    q.UseQorixCursor = cursor;
    q.FetchRows = 10;
    q.SetSQL(QStringLiteral("select id, name from cl_fetch order by id"));
    if (cursor) {
      q.Open();
      for (int i = 0; i < 5; ++i) q.Next();
      proxy_->CutAll();
    } else {
      // The cut comes while the result is still on its way.
      proxy_->CutAfterTargetBytes(20000);
      q.Open();
    }
    bool raised = false;
    try {
      while (!q.Eof()) q.Next();
    } catch (const Exception&) {
      raised = true;
    }
    EXPECT_TRUE(raised) << "the rows ended at " << q.RecordCount() << " without an error";
    EXPECT_LT(q.RecordCount(), 3000);
    try {
      q.Close();
    } catch (const Exception&) {
    }
    cut_->Disconnect();
    cut_->Connect();
    ASSERT_TRUE(cut_->Connected());
    cut_->SetDbName(QStringLiteral("sample"));
  }
}

// A statement on a cut connection raises, and RowsAffected does not keep an earlier count.
TEST_F(ConnectionLossTest, StatementOnACutConnectionRaises) {
  MakeTable(QStringLiteral("cl_exec"), 3);
  TQxQuery q;
  q.SetName(QStringLiteral("q_exec"));
  q.DbName = QStringLiteral("cut");
  q.SetSQL(QStringLiteral("update cl_exec set name = 'x' where id <= 2"));
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 2);
  proxy_->CutAll();
  q.SetSQL(QStringLiteral("update cl_exec set name = 'y'"));
  EXPECT_THROW(q.ExecSQL(), Exception);
  EXPECT_NE(q.RowsAffected(), 2);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from cl_exec where name = 'y'")), QStringList({"0"}));
}

// A live post on a cut connection is refused and the edit stays to be posted again.
TEST_F(ConnectionLossTest, LivePostOnACutConnectionKeepsTheEdit) {
  MakeTable(QStringLiteral("cl_live"), 3);
  for (bool checkDups : {true, false}) {
    SCOPED_TRACE(checkDups);
    TQxTable t;
    t.SetName(QStringLiteral("tb_live_cut"));
    t.DbName = QStringLiteral("cut");
    t.SetTableName(QStringLiteral("cl_live"));
    t.CheckDups = checkDups;
    t.Open();
    t.Last();
    t.First();
    proxy_->CutAll();
    t.Edit();
    t.FieldByName("name")->SetAsString(QStringLiteral("lost?"));
    try {
      t.Post();
      ADD_FAILURE() << "posted on a cut connection";
    } catch (const Exception& e) {
      EXPECT_FALSE(e.Message().contains(QStringLiteral("No record found"))) << e.Message().toStdString();
    }
    EXPECT_EQ(t.State(), TDataSetState::dsEdit);
    t.Cancel();
    EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from cl_live where name = 'lost?'")), QStringList({"0"}));
    try {
      t.Close();
    } catch (const Exception&) {
    }
    cut_->Disconnect();
    cut_->Connect();
    cut_->SetDbName(QStringLiteral("sample"));
  }
}

// A cached apply cut after its first statement: without a transaction the first change is on
// the server and out of the log, the rest stay in the log; with one nothing is on the server and
// every change stays. After a new login the same apply finishes the job.
TEST_F(ConnectionLossTest, CachedApplyCutHalfWayKeepsWhatWasNotApplied) {
  for (bool tran : {false, true}) {
    SCOPED_TRACE(tran ? "in a transaction" : "without transaction");
    MakeTable(QStringLiteral("cl_cached"), 4);
    TQorixUpdateSQL upd;
    upd.SetDatabase(cut_.get());
    upd.ModifySQL = QStringList{QStringLiteral("update cl_cached set name = :name where id = :OLD_id")};
    TQxTable t;
    t.SetName(QStringLiteral("tb_cached_cut"));
    t.DbName = QStringLiteral("cut");
    t.SetTableName(QStringLiteral("cl_cached"));
    t.CachedUpdates = true;
    t.SQLOptions = tran ? TSQLOptions{soUseTransactionOnCache} : TSQLOptions{};
    t.SetUpdateObject(&upd);
    t.Open();
    for (t.First(); !t.Eof(); t.Next()) {
      t.Edit();
      t.FieldByName("name")->SetAsString(QStringLiteral("applied %1").arg(t.FieldByName("id")->AsInteger()));
      t.Post();
    }
    ASSERT_EQ(t.Log().RecordCount(), 4);
    bool cutDone = false;
    t.AfterCachedRecPost = [&](TDataSet&, int) {
      if (!cutDone) proxy_->CutAll();
      cutDone = true;
    };
    EXPECT_THROW(t.ApplyUpdates(), Exception);
    const int onServer =
        Rows(*check_, QStringLiteral("select count(*) from cl_cached where name like 'applied%'")).first().toInt();
    EXPECT_EQ(onServer, tran ? 0 : 1);
    EXPECT_EQ(t.Log().RecordCount(), 4 - onServer);
    // Nothing is lost: a new login applies what is left.
    t.AfterCachedRecPost = nullptr;
    cut_->Disconnect();
    cut_->Connect();
    ASSERT_TRUE(cut_->Connected());
    cut_->SetDbName(QStringLiteral("sample"));
    t.ApplyUpdates();
    EXPECT_EQ(t.Log().RecordCount(), 0);
    EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from cl_cached where name like 'applied%'")),
              QStringList({"4"}));
  }
}
