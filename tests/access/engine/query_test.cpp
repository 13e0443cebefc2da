// TQorixQuery against the local server: the first row current after Execute, rows of every
// row result, Active, the status and compute flags, errors and the owner's message texts.

#include "access/QorixExceptions.h"
#include "access/QorixQuery.h"
#include "access/SysUtils.h"
#include "engine_fixture.h"

namespace {

using QueryComponent = EngineTest;

QStringList AllRows(TQorixQuery& q) {
  QStringList rows;
  while (q.NextRow()) rows << q.GetFieldValue(1);
  return rows;
}

TEST_F(QueryComponent, ExecuteThenNextRowReadsEveryRowResult) {
  TQorixQuery q;
  q.SetDatabase(db_.get());
  int headers = 0;
  q.OnHeader = [&](TComponent* sender) {
    EXPECT_EQ(sender, &q);
    ++headers;
  };
  q.Sql = QStringLiteral("select 'a' union all select 'b'\nselect 'c'");
  EXPECT_EQ(q.Execute(), CS_SUCCEED);
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(AllRows(q), (QStringList{"a", "b", "c"}));
  EXPECT_EQ(headers, 2);
  EXPECT_TRUE(q.RowsSeen());
  // Setting Active again keeps the handle; a new Execute runs on the same connection.
  q.SetActive(true);
  q.Sql = QStringLiteral("select 'd'");
  q.Execute();
  EXPECT_EQ(AllRows(q), (QStringList{"d"}));
}

TEST_F(QueryComponent, AStatementWithoutRowsAndTheErrors) {
  TQorixQuery q;
  q.SetName(QStringLiteral("qq"));
  q.SetDatabase(db_.get());
  q.Sql = QStringLiteral("create table #qc (a int)\ninsert #qc values (1)");
  q.Execute();
  EXPECT_FALSE(q.NextRow());
  q.Sql = QStringLiteral("  ");
  try {
    q.Execute();
    FAIL() << "blank SQL ran";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("qq: No SQL statement available"));
  }
  TQorixQuery none;
  none.Sql = QStringLiteral("select 1");
  EXPECT_THROW(none.Execute(), EQxMissingException);
  none.SetDbName(QStringLiteral("testdb"));
  none.Execute();
  EXPECT_EQ(AllRows(none), (QStringList{"1"}));
}

TEST_F(QueryComponent, MessagesReachAnOwnerKnownByClassName) {
  TQorixObjInfo owner;
  auto* q = new TQorixQuery(&owner);
  q->SetDatabase(db_.get());
  q->ShowDbMessages = {};
  q->Sql = QStringLiteral("print 'query says hi'");
  q->Execute();
  EXPECT_TRUE(q->LastMessage().contains(QStringLiteral("query says hi")));
  EXPECT_TRUE(owner.LastMessage().contains(QStringLiteral("query says hi")));
}

TEST_F(QueryComponent, MaxRowsLimitsTheRun) {
  Exec(
      QStringLiteral("create table #qm (id int)\ninsert #qm values (1)\ninsert #qm values (2)\n"
                     "insert #qm values (3)\ninsert #qm values (4)"));
  TQorixQuery q;
  q.SetDatabase(db_.get());
  q.MaxRows = 2;
  int maxEvents = 0;
  q.OnMaxRows = [&](TComponent*) { ++maxEvents; };
  q.Sql = QStringLiteral("select id from #qm order by id");
  q.Execute();
  EXPECT_EQ(AllRows(q), (QStringList{"1", "2"}));
  EXPECT_EQ(maxEvents, 1);
}

}  // namespace
