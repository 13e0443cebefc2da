// The core rules every server dataset shares: the process-wide list, refusals before anything
// is sent, unidirectional reading, fetching everything at open, and update procedures of the
// update object.
#include "access/QorixExceptions.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxQuery.h"
#include "dataset/server/QxStoredProc.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

TEST(DataSetList, OneEntryPerDatasetWhateverItsNames) {
  const int before = TQxCustomDataSet::DataSetList().size();
  {
    TQxStoredProc p;
    p.SetName(QStringLiteral("list_a"));
    p.SetName(QStringLiteral("list_b"));
    EXPECT_EQ(TQxCustomDataSet::DataSetList().size(), before + 1);
    EXPECT_EQ(TQxCustomDataSet::FindStoredProc(QStringLiteral("list_b")), &p);
    EXPECT_EQ(TQxCustomDataSet::FindStoredProc(QStringLiteral("list_a")), nullptr);
    TQxQuery q;
    q.SetName(QStringLiteral("list_q"));
    EXPECT_EQ(TQxCustomDataSet::FindStoredProc(QStringLiteral("list_q")), nullptr);
  }
  EXPECT_EQ(TQxCustomDataSet::DataSetList().size(), before);
}

TEST(DataSetNames, CursorNamesAndStatementIdsNeverRepeat) {
  QSet<QString> seen;
  for (int i = 0; i < 1000; ++i) {
    EXPECT_FALSE(seen.contains(TQxCustomDataSet::TimeStampName()));
    seen.insert(TQxCustomDataSet::TimeStampName());
    const QString id = TQxCustomDataSet::NewStatementId();
    EXPECT_TRUE(id.startsWith('p'));
    EXPECT_FALSE(seen.contains(id));
    seen.insert(id);
  }
}

class CoreTest : public ServerDataSetTest {};

TEST_F(CoreTest, RefusalsComeBeforeAnythingIsSent) {
  TQxQuery q;
  q.SetName(QStringLiteral("core_q"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select 1 as one"));
  EXPECT_THROW(q.FetchAll(), EQxNotOpenException);
  db_->ProcOptions.Include(poNoExec);
  try {
    q.Open();
    FAIL() << "opened with poNoExec";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.Message().contains("ProcOptions of poNoExec is not allowed"));
  }
  db_->ProcOptions.Exclude(poNoExec);
  q.SetSQL(QStringLiteral("   "));
  EXPECT_THROW(q.Open(), EQxBadSQLException);
  TQxTable t;
  t.SetName(QStringLiteral("core_t"));
  t.DbName = QStringLiteral("db");
  EXPECT_THROW(t.Open(), EDatabaseError);  // no table name
}

TEST_F(CoreTest, UniDirectionalRefusesGoingBackAndAutoFetchReadsAll) {
  TQxQuery q;
  q.SetName(QStringLiteral("core_uni"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select order_no from orders order by order_no"));
  q.UniDirectional = true;
  q.Open();
  q.Next();
  q.Next();
  EXPECT_THROW(q.Prior(), EQxUniDirException);
  q.Close();
  q.UniDirectional = false;
  q.SQLOptions.Include(soAutoFetchAll);
  q.Open();
  EXPECT_FALSE(q.ResultsPending());
  EXPECT_EQ(QString::number(q.Store().Count()), Rows(*check_, QStringLiteral("select count(*) from orders")).first());
}

TEST_F(CoreTest, UpdateProceduresApplyCachedChanges) {
  Exec(*check_, QStringLiteral("create table c_proc (id int not null, name varchar(20) null, "
                               "constraint c_proc_pk primary key (id)) insert c_proc values (1, 'one') "
                               "insert c_proc values (2, 'two')"));
  Exec(*check_, QStringLiteral("create procedure c_proc_mod @name varchar(20), @OLD_id int as "
                               "update c_proc set name = @name where id = @OLD_id"));
  Exec(*check_, QStringLiteral("create procedure c_proc_del @OLD_id int as delete c_proc where id = @OLD_id"));
  TQxStoredProc mod, del;
  mod.SetName(QStringLiteral("sp_c_mod"));
  del.SetName(QStringLiteral("sp_c_del"));
  for (TQxStoredProc* p : {&mod, &del}) p->DbName = QStringLiteral("db");
  mod.SetStoredProcName(QStringLiteral("c_proc_mod"));
  del.SetStoredProcName(QStringLiteral("c_proc_del"));
  mod.GetProcParams();
  del.GetProcParams();
  TQorixUpdateSQL upd;
  upd.UpdateStoredProcs.UseStoredProcs = true;
  upd.UpdateStoredProcs.ModifyStoredProc = QStringLiteral("sp_c_mod");
  upd.UpdateStoredProcs.DeleteStoredProc = QStringLiteral("sp_c_del");
  TQxTable t;
  t.SetName(QStringLiteral("c_proc_ds"));
  t.DbName = QStringLiteral("db");
  t.SetTableName(QStringLiteral("c_proc"));
  t.CachedUpdates = true;
  t.SetUpdateObject(&upd);
  t.Open();
  t.First();
  t.Edit();
  t.FieldByName("name")->SetAsString(QStringLiteral("uno"));
  t.Post();
  t.Next();
  t.Delete();
  t.ApplyUpdates();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, name from c_proc order by id")), QStringList({"1|uno"}));
  EXPECT_EQ(t.Log().RecordCount(), 0);
  // A procedure component that does not exist is named in the refusal.
  upd.UpdateStoredProcs.ModifyStoredProc = QStringLiteral("sp_missing");
  t.First();
  t.Edit();
  t.FieldByName("name")->SetAsString(QStringLiteral("x"));
  t.Post();
  try {
    t.ApplyUpdates();
    FAIL();
  } catch (const EQxDataSetException& e) {
    EXPECT_TRUE(e.Message().contains("No 'TQxStoredProc' component named 'sp_missing' can be found"));
  }
  EXPECT_EQ(t.Log().RecordCount(), 1);
}
