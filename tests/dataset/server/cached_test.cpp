// Cached updates through TQorixUpdateSQL: what reaches the server when one of five changes
// fails, with and without a transaction, and what stays in the change log.
#include "access/QorixExceptions.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

namespace {
void SeekName(TDataSet& t, const QString& name) {
  t.First();
  while (!t.Eof() && t.FieldByName("name")->AsString() != name) t.Next();
  ASSERT_FALSE(t.Eof()) << name.toStdString();
}
}  // namespace

class CachedTest : public ServerDataSetTest {
 protected:
  void MakeTable(const QString& table) {
    Exec(*check_, QStringLiteral("create table %1 (id int not null, name varchar(20) not null, qty int null, "
                                 "constraint %1_pk primary key (id))")
                      .arg(table));
    for (int i = 1; i <= 5; ++i)
      Exec(*check_, QStringLiteral("insert %1 values (%2, 'n%2', %2)").arg(table).arg(i));
  }
  void Setup(TQxTable& t, TQorixUpdateSQL& upd, const QString& table) {
    upd.ModifySQL = QStringList{QStringLiteral("update %1 set id = :id, name = :name, qty = :qty where id = :OLD_id").arg(table)};
    upd.InsertSQL = QStringList{QStringLiteral("insert %1 (id, name, qty) values (:id, :name, :qty)").arg(table)};
    upd.DeleteSQL = QStringList{QStringLiteral("delete %1 where id = :OLD_id").arg(table)};
    t.DbName = QStringLiteral("db");
    t.SetTableName(table);
    t.CachedUpdates = true;
    t.SetUpdateObject(&upd);
    t.Open();
  }
  // Five changes; the third inserts a key that exists already, so the server refuses it.
  void FiveChanges(TQxTable& t) {
    SeekName(t, "n1");
    t.Edit();
    t.FieldByName("qty")->SetValue(100);
    t.Post();
    t.Append();
    t.FieldByName("id")->SetValue(10);
    t.FieldByName("name")->SetAsString(QStringLiteral("ten"));
    t.Post();
    t.Append();
    t.FieldByName("id")->SetValue(3);
    t.FieldByName("name")->SetAsString(QStringLiteral("dup"));
    t.Post();
    SeekName(t, "n4");
    t.Delete();
    SeekName(t, "n5");
    t.Edit();
    t.FieldByName("name")->SetAsString(QStringLiteral("five"));
    t.Post();
  }
  QStringList Server(const QString& table) {
    return Rows(*check_, QStringLiteral("select id, name, qty from %1 order by id").arg(table));
  }
  // The log's rows as "delta:name" (an insertion logs the record as it was inserted: empty).
  static QStringList LogRows(TQxTable& t) {
    QStringList out;
    TQxCustomMemDataSet& log = t.Log();
    for (log.First(); !log.Eof(); log.Next())
      out << QString::number(t.LogDeltaField()->AsInteger()) + ":" + log.FieldByName("name")->AsString();
    return out;
  }
};

TEST_F(CachedTest, PostingSendsNothingUntilApply) {
  MakeTable(QStringLiteral("c_none"));
  TQxTable t;
  t.SetName(QStringLiteral("c_none_ds"));
  TQorixUpdateSQL upd;
  Setup(t, upd, QStringLiteral("c_none"));
  const QStringList before = Server(QStringLiteral("c_none"));
  FiveChanges(t);
  EXPECT_EQ(Server(QStringLiteral("c_none")), before);
  EXPECT_EQ(LogRows(t), QStringList({"0:n1", "1:", "1:", "2:n4", "0:n5"}));
}

TEST_F(CachedTest, WithoutTransactionTheAppliedRowsLeaveTheLog) {
  const QString table = QStringLiteral("c_plain");
  MakeTable(table);
  TQxTable t;
  t.SetName(QStringLiteral("c_plain_ds"));
  TQorixUpdateSQL upd;
  t.SQLOptions.Exclude(soUseTransactionOnCache);
  Setup(t, upd, table);
  FiveChanges(t);
  EXPECT_ANY_THROW(t.ApplyUpdates());
  // The first two are applied once and gone from the log; the failing one and the rest wait.
  EXPECT_EQ(Server(table), QStringList({"1|n1|100", "2|n2|2", "3|n3|3", "4|n4|4", "5|n5|5", "10|ten|<null>"}));
  EXPECT_EQ(LogRows(t), QStringList({"1:", "2:n4", "0:n5"}));
  // Corrected, the rest applies and the log is empty.
  SeekName(t, "dup");
  t.Edit();
  t.FieldByName("id")->SetValue(30);
  t.Post();
  t.ApplyUpdates();
  EXPECT_EQ(Server(table), QStringList({"1|n1|100", "2|n2|2", "3|n3|3", "5|five|5", "10|ten|<null>", "30|dup|<null>"}));
  EXPECT_EQ(t.Log().RecordCount(), 0);
}

TEST_F(CachedTest, WithTransactionAFailureUndoesEverythingAndKeepsTheLog) {
  const QString table = QStringLiteral("c_tran");
  MakeTable(table);
  TQxTable t;
  t.SetName(QStringLiteral("c_tran_ds"));
  TQorixUpdateSQL upd;
  Setup(t, upd, table);
  ASSERT_TRUE(t.SQLOptions.Contains(soUseTransactionOnCache));
  const QStringList before = Server(table);
  FiveChanges(t);
  EXPECT_ANY_THROW(t.ApplyUpdates());
  EXPECT_EQ(Server(table), before);
  EXPECT_EQ(LogRows(t), QStringList({"0:n1", "1:", "1:", "2:n4", "0:n5"}));
  EXPECT_FALSE(db_->InTransaction());
  SeekName(t, "dup");
  t.Edit();
  t.FieldByName("id")->SetValue(30);
  t.Post();
  t.ApplyUpdates();
  EXPECT_EQ(Server(table), QStringList({"1|n1|100", "2|n2|2", "3|n3|3", "5|five|5", "10|ten|<null>", "30|dup|<null>"}));
  EXPECT_EQ(t.Log().RecordCount(), 0);
}

TEST_F(CachedTest, AChangeThatMatchesNoRowStaysInTheLog) {
  const QString table = QStringLiteral("c_gone");
  MakeTable(table);
  TQxTable t;
  t.SetName(QStringLiteral("c_gone_ds"));
  TQorixUpdateSQL upd;
  Setup(t, upd, table);
  SeekName(t, "n2");
  t.Edit();
  t.FieldByName("qty")->SetValue(7);
  t.Post();
  Exec(*check_, QStringLiteral("delete c_gone where id = 2"));
  try {
    t.ApplyUpdates();
    FAIL() << "an update of no row was taken as applied";
  } catch (const Exception& e) {
    EXPECT_TRUE(e.Message().contains("Record changed by another user")) << e.Message().toStdString();
  }
  EXPECT_EQ(LogRows(t), QStringList({"0:n2"}));
}

TEST_F(CachedTest, SkippedRowsStayAndTheRestCommits) {
  const QString table = QStringLiteral("c_skip");
  MakeTable(table);
  TQxTable t;
  t.SetName(QStringLiteral("c_skip_ds"));
  TQorixUpdateSQL upd;
  Setup(t, upd, table);
  SeekName(t, "n1");
  t.Edit();
  t.FieldByName("qty")->SetValue(11);
  t.Post();
  SeekName(t, "n2");
  t.Edit();
  t.FieldByName("qty")->SetValue(22);
  t.Post();
  // The handler skips the last row: the first is still applied and committed.
  t.OnUpdateRecord = [](TDataSet& ds, TQxUpdateKind, TUpdateAction& action) {
    action = ds.FieldByName("name")->AsString() == "n2" ? uaSkip : uaRetry;
  };
  t.ApplyUpdates();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select qty from c_skip where id in (1, 2) order by id")),
            QStringList({"11", "2"}));
  EXPECT_EQ(LogRows(t), QStringList({"0:n2"}));
  EXPECT_FALSE(db_->InTransaction());
}

TEST_F(CachedTest, ApplyIsRefusedWithoutItsPrerequisites) {
  MakeTable(QStringLiteral("c_pre"));
  TQxTable t;
  t.SetName(QStringLiteral("c_pre_ds"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("c_pre"));
  EXPECT_THROW(t.ApplyUpdates(), EQxDataSetException);  // no update object
  TQorixUpdateSQL upd;
  t.SetUpdateObject(&upd);
  EXPECT_THROW(t.ApplyUpdates(), EQxNotOpenException);
  t.Open();
  EXPECT_THROW(t.ApplyUpdates(), EQxDataSetException);  // not cached
}

TEST_F(CachedTest, PostErrorHandlerRetriesOrAbortsTheRow) {
  const QString table = QStringLiteral("c_retry");
  MakeTable(table);
  TQxTable t;
  t.SetName(QStringLiteral("c_retry_ds"));
  TQorixUpdateSQL upd;
  Setup(t, upd, table);
  SeekName(t, "n1");
  t.Edit();
  t.FieldByName("id")->SetValue(2);  // the key exists: the server refuses it
  t.Post();
  // Abort: silent, nothing applied, the change kept.
  t.OnPostError = [](TDataSet&, EDatabaseError&, TDataAction& action) { action = TDataAction::daAbort; };
  EXPECT_THROW(t.ApplyUpdates(), EAbort);
  EXPECT_EQ(LogRows(t), QStringList({"0:n1"}));
  // Retry after the handler corrected the record: the same row runs again and succeeds.
  int calls = 0;
  t.OnPostError = [&calls](TDataSet& ds, EDatabaseError&, TDataAction& action) {
    ++calls;
    ds.Edit();
    ds.FieldByName("id")->SetValue(20);
    ds.Post();
    action = TDataAction::daRetry;
  };
  t.ApplyUpdates();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, name from c_retry where name = 'n1'")), QStringList({"20|n1"}));
  EXPECT_EQ(t.Log().RecordCount(), 0);
}

// Changes discarded by a reopen or by CancelUpdates never reach the server: a later apply finds
// an empty log, and the records show the server's values.
TEST_F(CachedTest, DiscardedChangesNeverReachTheServer) {
  for (bool reopen : {true, false}) {
    SCOPED_TRACE(reopen ? "close and open" : "CancelUpdates");
    const QString table = reopen ? QStringLiteral("c_discard1") : QStringLiteral("c_discard2");
    MakeTable(table);
    TQxTable t;
    t.SetName(QStringLiteral("tb_") + table);
    TQorixUpdateSQL upd;
    Setup(t, upd, table);
    const QStringList start = Server(table);
    FiveChanges(t);
    // An edit left open goes too.
    SeekName(t, "n2");
    t.Edit();
    t.FieldByName("qty")->SetValue(-1);
    if (reopen) {
      t.Cancel();
      t.Close();
      t.Open();
    } else {
      t.CancelUpdates();
    }
    EXPECT_EQ(t.Log().RecordCount(), 0);
    QStringList shown;
    for (t.First(); !t.Eof(); t.Next())
      shown << t.FieldByName("id")->AsString() + "|" + t.FieldByName("name")->AsString() + "|" +
                   t.FieldByName("qty")->AsString();
    EXPECT_EQ(shown, start);
    ASSERT_NO_THROW(t.ApplyUpdates());
    EXPECT_EQ(Server(table), start);
    // The dataset goes on working: a new change is applied alone.
    SeekName(t, "n3");
    t.Delete();
    t.ApplyUpdates();
    EXPECT_EQ(Server(table).size(), 4);
  }
}

// A trigger that rolls the apply's transaction back without an error: nothing is counted as
// applied, no later change runs outside the transaction, every change stays in the log, the
// controls work again, and once the cause is gone the apply goes through.
TEST_F(CachedTest, ATriggersSilentRollbackKeepsEveryChange) {
  MakeTable(QStringLiteral("c_trig"));
  Exec(*check_, QStringLiteral("create trigger c_trig_upd on c_trig for update as "
                               "if exists (select 1 from inserted where name = 'silent') rollback transaction"));
  TQxTable t;
  t.SetName(QStringLiteral("tb_c_trig"));
  TQorixUpdateSQL upd;
  Setup(t, upd, QStringLiteral("c_trig"));
  t.SQLOptions = TSQLOptions{soUseTransactionOnCache};
  const QStringList start = Server(QStringLiteral("c_trig"));
  for (const char* name : {"n1", "n2", "n3"}) {
    SeekName(t, QString::fromUtf8(name));
    t.Edit();
    t.FieldByName("name")->SetAsString(QString::fromUtf8(name) == QLatin1String("n2") ? QStringLiteral("silent")
                                                                                        : QStringLiteral("x") + name);
    t.Post();
  }
  EXPECT_THROW(t.ApplyUpdates(), Exception);
  EXPECT_EQ(Server(QStringLiteral("c_trig")), start);
  EXPECT_EQ(t.Log().RecordCount(), 3);
  EXPECT_FALSE(t.ControlsDisabled());
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(db_->GetTranCount(), 0);
  SeekName(t, "silent");
  t.Edit();
  t.FieldByName("name")->SetAsString(QStringLiteral("xn2"));
  t.Post();
  t.ApplyUpdates();
  EXPECT_EQ(t.Log().RecordCount(), 0);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select name from c_trig where id <= 3 order by id")),
            QStringList({"xn1", "xn2", "xn3"}));
}

// Without the apply's transaction each statement stands alone: a trigger's silent rollback
// of the second change leaves the server without it and reports no row changed, so the apply
// stops there. The first change is applied and leaves the log; the refused one and the one
// after it stay, and the server holds exactly what the log no longer does.
TEST_F(CachedTest, WithoutTransactionATriggersSilentRollbackStopsAtItsRow) {
  MakeTable(QStringLiteral("c_trig1"));
  Exec(*check_, QStringLiteral("create trigger c_trig1_upd on c_trig1 for update as "
                               "if exists (select 1 from inserted where name = 'silent') rollback transaction"));
  TQxTable t;
  t.SetName(QStringLiteral("tb_c_trig1"));
  TQorixUpdateSQL upd;
  Setup(t, upd, QStringLiteral("c_trig1"));
  t.SQLOptions = TSQLOptions{};
  for (const char* name : {"n1", "n2", "n3"}) {
    SeekName(t, QString::fromUtf8(name));
    t.Edit();
    t.FieldByName("name")->SetAsString(QString::fromUtf8(name) == QLatin1String("n2") ? QStringLiteral("silent")
                                                                                        : QStringLiteral("x") + name);
    t.Post();
  }
  EXPECT_THROW(t.ApplyUpdates(), Exception);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select name from c_trig1 where id <= 3 order by id")),
            QStringList({"xn1", "n2", "n3"}));
  EXPECT_EQ(LogRows(t), QStringList({"0:n2", "0:n3"}));
  EXPECT_EQ(db_->GetTranCount(), 0);
  EXPECT_FALSE(db_->InTransaction());
}
