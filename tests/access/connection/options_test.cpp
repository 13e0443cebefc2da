// Server options, the three options sent as SQL, debug switches, transactions end to end and
// the idle timer, against the local server through real FreeTDS.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <thread>

#include "access/QorixExceptions.h"
#include "tests/access/connection/connection_support.h"
#include "tests/support/ct_client.h"

using conntest::OptionRecorder;
using conntest::SaDatabase;
using conntest::SessionValue;

namespace {

// Spins the event loop until Done or Ms milliseconds have passed.
template <class F>
bool WaitFor(F done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

TEST(ProcOptionsTest, OnlyChangedMembersAreSent) {
  auto db = SaDatabase();
  db->Connect();
  OptionRecorder rec;
  db->ApplyProcOptions(TProcOptions{poNoCount, poChainXActs});
  EXPECT_EQ(rec.OptionNumbers(), (std::vector<CS_INT>{5025, 5021}));
  EXPECT_EQ(SessionValue(*db, QStringLiteral("select @@tranchained")), QStringLiteral("1"));
  rec.options.clear();
  db->ApplyProcOptions(TProcOptions{poNoCount, poChainXActs});
  EXPECT_TRUE(rec.options.empty());
  // Dropping one member sends it once, as false.
  db->ApplyProcOptions(TProcOptions{poNoCount});
  ASSERT_EQ(rec.options.size(), 1u);
  EXPECT_EQ(rec.options[0], std::make_pair(CS_INT{5025}, CS_INT{CS_FALSE}));
  EXPECT_EQ(SessionValue(*db, QStringLiteral("select @@tranchained")), QStringLiteral("0"));
  EXPECT_EQ(db->ProcOptions, TProcOptions{poNoCount});
}

TEST(ProcOptionsTest, SqlAnywhereGetsOnlyAnsiNullAndQuotedIdent) {
  auto db = SaDatabase();
  db->Rdbms = QStringLiteral("SQLAnywhere");
  db->Connect();
  OptionRecorder rec;
  db->ApplyProcOptions(TProcOptions{poShowPlan, poQuotedIdent});
  EXPECT_EQ(rec.OptionNumbers(), (std::vector<CS_INT>{5035}));
  rec.options.clear();
  db->ApplyProcOptions(TProcOptions{poAnsiNull, poNoCount, poChainXActs, poStatsIo, poQuotedIdent});
  EXPECT_EQ(rec.OptionNumbers(), (std::vector<CS_INT>{5034}));
  // Row count is a "Sybase SQL Server" option only.
  rec.options.clear();
  db->SetRowCount(5);
  EXPECT_TRUE(rec.options.empty());
}

TEST(ProcOptionsTest, OptionsAreSentAgainAfterAReconnect) {
  auto db = SaDatabase();
  db->ProcOptions = TProcOptions{poChainXActs};
  db->Connect();
  db->Disconnect();
  OptionRecorder rec;
  db->Connect();
  const auto sent = rec.OptionNumbers();
  EXPECT_NE(std::find(sent.begin(), sent.end(), 5025), sent.end());
  EXPECT_EQ(SessionValue(*db, QStringLiteral("select @@tranchained")), QStringLiteral("1"));
}

TEST(ProcOptionsTest, ConnectOnALiveSessionKeepsTheAppliedSet) {
  auto db = SaDatabase();
  db->ProcOptions = TProcOptions{poChainXActs};
  db->Connect();
  db->Connect();
  EXPECT_EQ(db->AppliedProcOptions(), TProcOptions{poChainXActs});
  db->ApplyProcOptions(TProcOptions{});
  EXPECT_EQ(SessionValue(*db, QStringLiteral("select @@tranchained")), QStringLiteral("0"));
}

TEST(ProcOptionsTest, RefusedOptionsGoAsSqlAndReachTheSession) {
  auto db = SaDatabase();
  db->Connect();
  struct Case {
    const char* name;
    std::function<void()> set;
    QString query;
    QString expected;
  };
  const Case cases[] = {
      {"text size", [&] { db->SetTextSize(1234); }, QStringLiteral("select @@textsize"),
       QStringLiteral("1234")},
      {"isolation 3", [&] { db->SetTransLevel(tlLevel3); }, QStringLiteral("select @@isolation"),
       QStringLiteral("3")},
      {"isolation 1 stays 1", [&] { db->SetTransLevel(tlLevel1); }, QStringLiteral("select @@isolation"),
       QStringLiteral("1")},
      {"isolation 0", [&] { db->SetTransLevel(tlLevel0); }, QStringLiteral("select @@isolation"),
       QStringLiteral("0")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.set();
    EXPECT_EQ(SessionValue(*db, c.query), c.expected);
  }
  // A row count of 2 limits a five-row answer to two rows.
  db->SetRowCount(2);
  EXPECT_EQ(conntest::SessionRowCount(*db, QStringLiteral("select name from master..sysdatabases")), 2);
  db->SetRowCount(0);
}

// A value the option cannot take is refused with an error the connection reports, and the
// property and the session keep what they had.
TEST(ProcOptionsTest, AnIllegalValueIsReportedAndChangesNothing) {
  auto db = SaDatabase();
  db->Connect();
  db->SetRowCount(2);
  db->SetTextSize(1234);
  const struct {
    const char* name;
    std::function<void()> set;
    std::function<int()> property;
    int kept;
  } cases[] = {
      {"row count", [&] { db->SetRowCount(-1); }, [&] { return db->RowCount(); }, 2},
      {"text size", [&] { db->SetTextSize(-1); }, [&] { return db->TextSize(); }, 1234},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    db->SetLastError(QString());
    c.set();
    EXPECT_EQ(c.property(), c.kept);
    EXPECT_TRUE(db->LastError().contains(QLatin1String("An illegal value of -1")))
        << db->LastError().toStdString();
  }
  EXPECT_EQ(SessionValue(*db, QStringLiteral("select @@textsize")), QStringLiteral("1234"));
  EXPECT_EQ(conntest::SessionRowCount(*db, QStringLiteral("select name from master..sysdatabases")), 2);
  db->SetRowCount(0);
}

TEST(ProcOptionsTest, SettersOnlyStoreWhileDisconnected) {
  auto db = SaDatabase();
  OptionRecorder rec;
  db->SetTransLevel(tlLevel3);
  db->SetTextSize(100);
  db->SetRowCount(3);
  db->ApplyProcOptions(TProcOptions{poNoCount});
  EXPECT_TRUE(rec.options.empty());
  EXPECT_EQ(db->TransLevel(), tlLevel3);
  EXPECT_EQ(db->TextSize(), 100);
  EXPECT_EQ(db->RowCount(), 3);
  EXPECT_EQ(db->ProcOptions, TProcOptions{poNoCount});
}

TEST(DebugOptionsTest, SwitchesAreSentOnlyWithDebugAndAFile) {
  auto db = SaDatabase();
  OptionRecorder rec;
  db->SetDebugOptions(TDebugOptions{doError});
  EXPECT_TRUE(rec.debugCalls.empty());
  db->Debug = true;
  db->DebugFile = QString::fromStdString(conntest::Server().dataDir()) + QStringLiteral("/../ctdebug.log");
  db->SetDebugOptions(TDebugOptions{doError, doNetwork});
  ASSERT_EQ(rec.debugCalls.size(), 8u);
  EXPECT_EQ(rec.debugCalls[0].first, CS_SET_DBG_FILE);
  const std::vector<std::pair<CS_INT, CS_INT>> flags(rec.debugCalls.begin() + 1, rec.debugCalls.end());
  EXPECT_EQ(flags, (std::vector<std::pair<CS_INT, CS_INT>>{{CS_CLEAR_FLAG, 1},
                                                           {CS_CLEAR_FLAG, 64},
                                                           {CS_SET_FLAG, 4},
                                                           {CS_CLEAR_FLAG, 8},
                                                           {CS_SET_FLAG, 256},
                                                           {CS_CLEAR_FLAG, 128},
                                                           {CS_CLEAR_FLAG, 32}}));
  db->SetDebugOptions(TDebugOptions{});
}

// The debug file is named by its whole path, also with blanks and non-ASCII letters in it,
// and the trace goes to exactly that file.
TEST(DebugOptionsTest, TheTraceGoesToTheNamedFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QString::fromUtf8("trace dir ü/ct débug.log"));
  ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
  auto db = SaDatabase();
  db->Connect();
  db->Debug = true;
  db->DebugFile = path;
  db->SetDebugOptions(TDebugOptions{doAll});
  SessionValue(*db, QStringLiteral("select 1"));
  db->SetDebugOptions(TDebugOptions{});
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  EXPECT_TRUE(f.readAll().contains("ct_send"));
  const QStringList others = QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files);
  EXPECT_EQ(others, QStringList{QFileInfo(path).fileName()});
}

TEST(TransactionTest, CommitKeepsAndRollbackDiscardsTheRows) {
  auto db = SaDatabase();
  db->SetDbName(QStringLiteral("sample"));
  db->Connect();
  SessionValue(*db, QStringLiteral("create table conn_tx (a int)"));
  EXPECT_FALSE(db->InTransaction());

  db->BeginTran();
  EXPECT_TRUE(db->InTransaction());
  EXPECT_EQ(db->GetTranCount(), 1);
  SessionValue(*db, QStringLiteral("insert into conn_tx values (1)"));
  db->RollbackTran();
  EXPECT_FALSE(db->InTransaction());
  EXPECT_EQ(db->GetTranCount(), 0);
  EXPECT_EQ(SessionValue(*db, QStringLiteral("select count(*) from conn_tx")), QStringLiteral("0"));

  db->BeginTran(QStringLiteral("t1"));
  SessionValue(*db, QStringLiteral("insert into conn_tx values (2)"));
  db->CommitTran(QStringLiteral("t1"));
  EXPECT_FALSE(db->InTransaction());
  // Another session sees the committed row.
  tabtest::CtClient other;
  ASSERT_TRUE(other.connect());
  const tabtest::CtBatch b = other.run("select count(*) from sample..conn_tx");
  ASSERT_EQ(b.sets.size(), 1u);
  EXPECT_EQ(b.sets[0].rows.at(0).at(0).value_or(""), "1");
  SessionValue(*db, QStringLiteral("drop table conn_tx"));
}

TEST(TransactionTest, TransactionNamesMustBeIdentifiers) {
  auto db = SaDatabase();
  db->Connect();
  EXPECT_THROW(db->BeginTran(QStringLiteral("t1 select 1")), EDatabaseError);
  EXPECT_THROW(db->BeginTran(QStringLiteral("x'; drop table y --")), EDatabaseError);
  EXPECT_EQ(db->GetTranCount(), 0);
  EXPECT_FALSE(db->InTransaction());
}

TEST(TransactionTest, ClosedDatabaseRefusesTransactions) {
  auto db = SaDatabase();
  try {
    db->CommitTran();
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("db_test: Cannot perform this operation on a closed database"));
  }
  EXPECT_EQ(db->GetTranCount(), 0);
}

TEST(IdleTimerTest, TimerFollowsIdleTime) {
  auto db = SaDatabase();
  db->SetIdleTime(5);
  ASSERT_NE(db->IdleTimer(), nullptr);
  EXPECT_EQ(db->IdleTimer()->interval(), 300000);
  EXPECT_TRUE(db->IdleTimer()->isActive());
  db->SetIdleTime(0);
  EXPECT_EQ(db->IdleTimer(), nullptr);
}

TEST(IdleTimerTest, IdleConnectionIsDisconnected) {
  auto db = SaDatabase();
  db->Connect();
  int fired = 0;
  db->OnTimerDisConnect = [&](TComponent*) { ++fired; };
  db->SetIdleTime(1);
  db->IdleTimer()->setInterval(50);
  db->IdleTimer()->start();
  EXPECT_TRUE(WaitFor([&] { return !db->Connected(); }, 3000));
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(db->IdleTimer()->isActive());
}

TEST(IdleTimerTest, ActivityOnAWorkerThreadRestartsTheTimer) {
  auto db = SaDatabase();
  db->Connect();
  db->SetIdleTime(1);
  db->IdleTimer()->setInterval(300);
  db->IdleTimer()->start();
  // A worker that keeps reporting activity for longer than one interval holds the timer off.
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop) {
      db->ResetIdleTimer();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  WaitFor([] { return false; }, 700);
  stop = true;
  worker.join();
  EXPECT_TRUE(db->Connected());
  EXPECT_TRUE(WaitFor([&] { return !db->Connected(); }, 3000));
}

TEST(IdleTimerTest, IdleSqlKeepsTheConnectionOpen) {
  auto db = SaDatabase();
  db->Connect();
  db->IdleSQL = QStringLiteral("select 1");
  db->SetIdleTime(1);
  db->IdleTimerTick();
  EXPECT_TRUE(db->Connected());
  EXPECT_TRUE(db->IdleTimer()->isActive());
}

TEST(IdleTimerTest, NeverDisconnectsWhileAStatementRuns) {
  auto db = SaDatabase();
  db->Connect();
  db->SetIdleTime(1);
  db->IdleTimer()->setInterval(20);
  db->IdleTimer()->start();
  std::atomic<bool> started{false}, finished{false}, connectedAtEnd{false};
  QString result;
  // A worker runs a statement on the connection (as the result grid's worker does) while the
  // timer keeps ticking on the main thread.
  std::thread worker([&] {
    TQorixDatabase::TBusyGuard busy(db.get());
    started = true;
    result = SessionValue(*db, QStringLiteral("waitfor delay '00:00:01' select 42"));
    connectedAtEnd = db->Connected();
    finished = true;
  });
  while (!started) std::this_thread::yield();
  WaitFor([&] { return finished.load(); }, 5000);
  worker.join();
  EXPECT_EQ(result, QStringLiteral("42"));
  EXPECT_TRUE(connectedAtEnd);
  // Afterwards the connection is idle again and the next tick closes it.
  EXPECT_TRUE(WaitFor([&] { return !db->Connected(); }, 3000));
}

}  // namespace
