// The provider operations of the server datasets against the local server: the transaction
// trio, statements run with and without a result set, one changed record applied through
// the update object (OLD_ values, the refusal when no row matches) and the reset.
#include "access/QorixExceptions.h"
#include "dataset/QxMemDataSet.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxQuery.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class ProviderTest : public ServerDataSetTest {
 protected:
  void MakeTable(const QString& table) {
    Exec(*check_, QStringLiteral("create table %1 (id int not null, name varchar(20) not null, qty int null, "
                                 "constraint %1_pk primary key (id))")
                      .arg(table));
    Exec(*check_, QStringLiteral("insert %1 values (1, 'a', 10) insert %1 values (2, 'b', 20) "
                                 "insert %1 values (3, 'c', 30)")
                      .arg(table));
  }
  QStringList Server(const QString& table) {
    return Rows(*check_, QStringLiteral("select id, name, qty from %1 order by id").arg(table));
  }
  // A one-record memory dataset of (id, name, qty) standing for a record's new or old values.
  static void Record(TQxMemDataSet& ds, const QVariantList& values) {
    ds.FieldDefs().Add(QStringLiteral("id"), ftInteger);
    ds.FieldDefs().Add(QStringLiteral("name"), ftString, 20);
    ds.FieldDefs().Add(QStringLiteral("qty"), ftInteger);
    ds.Open();
    ds.AppendRecord(values);
  }
  static TParams Values(const QVariantList& values) {
    TParams params;
    for (const QVariant& v : values) params.CreateParam(ftUnknown, QString(), ptUnknown).SetValue(v);
    return params;
  }
};

TEST_F(ProviderTest, TransactionTrioCommitsAndRollsBack) {
  MakeTable(QStringLiteral("pv_tran"));
  TQxQuery q;
  q.SetName(QStringLiteral("pv_tran_q"));
  q.DbName = QStringLiteral("db");
  EXPECT_TRUE(q.PSIsSQLSupported());
  EXPECT_TRUE(q.PSGetQuoteChar().isEmpty());
  q.PSStartTransaction();
  EXPECT_TRUE(q.PSInTransaction());
  EXPECT_TRUE(q.PSIsSQLBased());
  EXPECT_EQ(q.PSExecuteStatement(QStringLiteral("delete pv_tran where id > :Param0"), Values({1})), 2);
  q.PSEndTransaction(false);
  EXPECT_FALSE(q.PSInTransaction());
  EXPECT_EQ(Server(QStringLiteral("pv_tran")), QStringList({"1|a|10", "2|b|20", "3|c|30"}));
  q.PSStartTransaction();
  EXPECT_EQ(q.PSExecuteStatement(QStringLiteral("delete pv_tran where id > :Param0"), Values({2})), 1);
  q.PSEndTransaction(true);
  EXPECT_FALSE(q.PSInTransaction());
  EXPECT_EQ(Server(QStringLiteral("pv_tran")), QStringList({"1|a|10", "2|b|20"}));
  // A commit on a connection that has gone is refused, not reported as done.
  q.PSStartTransaction();
  db_->Disconnect();
  EXPECT_FALSE(q.PSInTransaction());
  EXPECT_FALSE(q.PSIsSQLBased());
  EXPECT_THROW(q.PSEndTransaction(true), EDatabaseError);
  EXPECT_NO_THROW(q.PSEndTransaction(false));
}

TEST_F(ProviderTest, StatementsWithAndWithoutResultSet) {
  MakeTable(QStringLiteral("pv_exec"));
  TQxQuery q;
  q.SetName(QStringLiteral("pv_exec_q"));
  q.DbName = QStringLiteral("db");
  // Unnamed parameters are Param0, Param1, ... and reach the text as literals: a quote in a
  // value stays inside its literal.
  EXPECT_EQ(q.PSExecuteStatement(QStringLiteral("update pv_exec set name = :Param1 where id >= :Param0"),
                                 Values({2, QStringLiteral("o'x")})),
            2);
  EXPECT_EQ(Server(QStringLiteral("pv_exec")), QStringList({"1|a|10", "2|o'x|20", "3|o'x|30"}));
  TParams named;
  named.CreateParam(ftInteger, QStringLiteral("low"), ptUnknown).SetValue(2);
  std::unique_ptr<TQxQuery> rows;
  q.PSExecuteStatement(QStringLiteral("select id, name from pv_exec where id >= :low order by id"), named, &rows);
  ASSERT_TRUE(rows);
  ASSERT_TRUE(rows->Active());
  QStringList got;
  for (rows->First(); !rows->Eof(); rows->Next())
    got << rows->FieldByName("id")->AsString() + "|" + rows->FieldByName("name")->AsString();
  EXPECT_EQ(got, QStringList({"2|o'x", "3|o'x"}));
  rows.reset();
  // A marker without a parameter is refused before anything is sent: it would write NULL.
  EXPECT_THROW(q.PSExecuteStatement(QStringLiteral("update pv_exec set qty = :missing where id = :Param0"), Values({1})),
               EDatabaseError);
  EXPECT_EQ(Server(QStringLiteral("pv_exec")), QStringList({"1|a|10", "2|o'x|20", "3|o'x|30"}));
  // A non-cursor dataset still reading its rows keeps the connection to itself.
  TQxQuery reader;
  reader.SetName(QStringLiteral("pv_reader"));
  reader.DbName = QStringLiteral("db");
  reader.UseQorixCursor = false;
  reader.SetSQL(QStringLiteral("select id from pv_exec order by id"));
  reader.Open();
  ASSERT_TRUE(reader.ResultsPending());
  EXPECT_THROW(q.PSExecuteStatement(QStringLiteral("delete pv_exec where id = :Param0"), Values({1})), Exception);
  reader.Last();
  EXPECT_EQ(reader.RecordCount(), 3);
  EXPECT_EQ(Server(QStringLiteral("pv_exec")).size(), 3);
}

TEST_F(ProviderTest, UpdateRecordThroughTheUpdateObject) {
  MakeTable(QStringLiteral("pv_upd"));
  TQorixUpdateSQL upd;
  upd.ModifySQL = QStringList{
      QStringLiteral("update pv_upd set id = :id, name = :name, qty = :qty where id = :OLD_id and name = :OLD_name")};
  upd.InsertSQL = QStringList{QStringLiteral("insert pv_upd (id, name, qty) values (:id, :name, :qty)")};
  upd.DeleteSQL = QStringList{QStringLiteral("delete pv_upd where id = :id")};
  TQxQuery q;
  q.SetName(QStringLiteral("pv_upd_q"));
  q.DbName = QStringLiteral("db");
  q.SetUpdateObject(&upd);

  TQxMemDataSet changed, before;
  Record(changed, {1, QStringLiteral("a'2"), 11});
  Record(before, {1, QStringLiteral("a"), 10});
  // Without cached updates the update object is not used.
  EXPECT_FALSE(q.PSUpdateRecord(ukModify, changed, &before));
  EXPECT_EQ(Server(QStringLiteral("pv_upd")), QStringList({"1|a|10", "2|b|20", "3|c|30"}));

  q.CachedUpdates = true;
  EXPECT_TRUE(q.PSUpdateRecord(ukModify, changed, &before));
  EXPECT_EQ(Server(QStringLiteral("pv_upd")), QStringList({"1|a'2|11", "2|b|20", "3|c|30"}));
  // The same change again: the old values match no row any more.
  try {
    q.PSUpdateRecord(ukModify, changed, &before);
    ADD_FAILURE() << "a change that matched no row was accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("Record changed by another user"))) << e.Message().toStdString();
  }
  EXPECT_EQ(Server(QStringLiteral("pv_upd")), QStringList({"1|a'2|11", "2|b|20", "3|c|30"}));

  // A deletion names its row by the old values; an insertion writes NULL where it is NULL.
  TQxMemDataSet gone, goneBefore;
  Record(gone, {99, QStringLiteral("x"), 0});
  Record(goneBefore, {2, QStringLiteral("b"), 20});
  EXPECT_TRUE(q.PSUpdateRecord(ukDelete, gone, &goneBefore));
  TQxMemDataSet added;
  Record(added, {4, QStringLiteral("d"), QVariant()});
  EXPECT_TRUE(q.PSUpdateRecord(ukInsert, added));
  EXPECT_EQ(Server(QStringLiteral("pv_upd")), QStringList({"1|a'2|11", "3|c|30", "4|d|<null>"}));

  // OnUpdateRecord decides alone; only uaApplied counts as applied.
  std::vector<TQxUpdateKind> seen;
  TUpdateAction answer = uaApplied;
  q.OnUpdateRecord = [&](TDataSet& delta, TQxUpdateKind kind, TUpdateAction& action) {
    EXPECT_EQ(&delta, &changed);
    seen.push_back(kind);
    action = answer;
  };
  EXPECT_TRUE(q.PSUpdateRecord(ukModify, changed, &before));
  answer = uaSkip;
  EXPECT_FALSE(q.PSUpdateRecord(ukDelete, changed, &before));
  EXPECT_EQ(seen, std::vector<TQxUpdateKind>({ukModify, ukDelete}));
  EXPECT_EQ(Server(QStringLiteral("pv_upd")), QStringList({"1|a'2|11", "3|c|30", "4|d|<null>"}));

  const EDatabaseError failure(QStringLiteral("boom"));
  const EUpdateError first = q.PSGetUpdateException(failure, nullptr);
  EXPECT_EQ(first.Message(), "boom");
  EXPECT_EQ(first.PreviousError, 0);
  const EUpdateError coded(QStringLiteral("earlier"), 7, 0);
  EXPECT_EQ(q.PSGetUpdateException(failure, &coded).PreviousError, 7);
}

TEST_F(ProviderTest, ResetReopensWithWhatTheServerHoldsNow) {
  MakeTable(QStringLiteral("pv_reset"));
  TQxQuery q;
  q.SetName(QStringLiteral("pv_reset_q"));
  q.DbName = QStringLiteral("db");
  q.SetSQL(QStringLiteral("select id from pv_reset order by id"));
  q.PSReset();
  ASSERT_TRUE(q.Active());
  q.Last();
  EXPECT_EQ(q.RecordCount(), 3);
  Exec(*check_, QStringLiteral("insert pv_reset values (4, 'd', 40)"));
  q.PSReset();
  q.Last();
  EXPECT_EQ(q.RecordCount(), 4);
  EXPECT_EQ(q.FieldByName("id")->AsInteger(), 4);
}
