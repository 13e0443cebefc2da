// Input-output parameters and TQorixQuery's cursor and compute paths, over real FreeTDS
// against the protocol layer's stub engine.

#include "access/QorixQuery.h"
#include "access/SysUtils.h"
#include "tests/access/engine/stub_fixture.h"

namespace {

using EngineStubMore = StubEngineTest;

TEST_F(EngineStubMore, InputOutputAndNullOutputParametersComeBack) {
  // The stub's "echo" sends every output parameter back unchanged.
  TQorixStoredProc p;
  p.SetDatabase(db_.get());
  p.SetAutoGetParams(false);
  p.SetStoredProcName(QStringLiteral("echo"));
  p.ParamBindMode = pbByName;
  p.Params().CreateParam(ftInteger, QStringLiteral("@in"), ptInput).SetValue(1);
  p.Params().CreateParam(ftInteger, QStringLiteral("@both"), ptInputOutput).SetValue(7);
  p.Params().CreateParam(ftString, QStringLiteral("@text"), ptInputOutput).SetValue(QStringLiteral("kept"));
  p.Params().CreateParam(ftInteger, QStringLiteral("@none"), ptInputOutput);
  p.Params().CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
  p.ExecProc();
  EXPECT_EQ(p.Params().ParamByName(QStringLiteral("@both")).AsString(), QStringLiteral("7"));
  EXPECT_EQ(p.Params().ParamByName(QStringLiteral("@text")).AsString(), QStringLiteral("kept"));
  EXPECT_TRUE(p.Params().ParamByName(QStringLiteral("@none")).IsNull());
  EXPECT_EQ(p.Params().ParamByName(QStringLiteral("@in")).AsInteger(), 1);
  EXPECT_EQ(p.Params().ParamByName(QStringLiteral("Result")).AsInteger(), 0);
}

TEST_F(EngineStubMore, QueryComponentReadsACursorAndComputeRows) {
  TQorixQuery q;
  q.SetDatabase(db_.get());
  q.IsCursor = true;
  q.ReadOnly = true;
  q.CurFetchRows = 4;
  q.Sql = QStringLiteral("select n from numbers 9");
  q.Execute();
  QStringList rows;
  while (q.NextRow()) rows << q.GetFieldValue(1);
  EXPECT_EQ(rows.size(), 9);
  EXPECT_EQ(tabtest::liveCursors(), 0);

  q.IsCursor = false;
  int computes = 0;
  q.OnComputeRow = [&](TComponent* sender) {
    EXPECT_EQ(sender, &q);
    ++computes;
  };
  q.Sql = QStringLiteral("select grp, val from t order by grp compute sum(val), max(val) by grp");
  q.Execute();
  rows.clear();
  while (q.NextRow()) rows << q.GetFieldValue(2);
  EXPECT_EQ(rows, (QStringList{"10", "20", "5"}));
  EXPECT_EQ(computes, 2);
  EXPECT_TRUE(q.ComputeRowSeen());
}

TEST_F(EngineStubMore, QueryComponentReadsAProcedureReplyAndFreesTheConnection) {
  TQorixQuery q;
  q.SetDatabase(db_.get());
  q.AbortOnNegStatus = true;
  q.Sql = QStringLiteral("exec_proc");  // a row, status 5 and an output value
  q.Execute();
  while (q.NextRow()) {
  }
  EXPECT_TRUE(q.ReturnStatusSeen());
  EXPECT_EQ(q.ReturnStatus(), 5);
  // The connection is free for the next statement at once.
  TQorixEnhQuery next;
  next.SetDatabase(db_.get());
  next.SetSQL(QStringLiteral("bigrows 3"));
  EXPECT_EQ(Rows(next).size(), 3);
}

}  // namespace
