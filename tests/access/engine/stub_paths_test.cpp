// Cursors, stored procedures, output parameters, compute rows and prepared statements through
// the engine, over real FreeTDS against the protocol layer's stub engine.

#include "access/QorixExceptions.h"
#include "access/SysUtils.h"
#include "tests/access/engine/stub_fixture.h"

namespace {

using EngineStub = StubEngineTest;

TEST_F(EngineStub, CursorReturnsEveryRowAtEachRowsPerFetch) {
  for (int rows : {1, 10, 50, 100}) {
    SCOPED_TRACE(rows);
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.IsCursor = true;
    q.ReadOnly = true;
    q.CurFetchRows = rows;
    q.SetSQL(QStringLiteral("select n, word from numbers 237"));
    const QStringList got = Rows(q);
    ASSERT_EQ(got.size(), 237);
    EXPECT_EQ(got.first(), QStringLiteral("1|row 1"));
    EXPECT_EQ(got[99], QStringLiteral("100|row 100"));
    EXPECT_EQ(got.last(), QStringLiteral("237|row 237"));
    EXPECT_EQ(q.GetRowCount(), 237);
    // Closed and deallocated on the server.
    EXPECT_EQ(tabtest::liveCursors(), 0);
  }
}

TEST_F(EngineStub, TwoCursorsInterleaveWithALanguageCommand) {
  TQorixEnhQuery a, b, lang;
  for (TQorixEnhQuery* q : {&a, &b}) {
    q->SetDatabase(db_.get());
    q->IsCursor = true;
    q->ReadOnly = true;
    q->CurFetchRows = 7;
  }
  a.SetSQL(QStringLiteral("select n from numbers 20"));
  b.SetSQL(QStringLiteral("select n from numbers 37"));
  lang.SetDatabase(db_.get());
  QStringList fromA, fromB;
  // Each cursor's open is answered by its first Next; then the connection is free again.
  a.Open();
  ASSERT_TRUE(a.Next());
  fromA << a.GetFieldValue(1);
  b.Open();
  ASSERT_TRUE(b.Next());
  fromB << b.GetFieldValue(1);
  for (int step = 0; step < 60; ++step) {
    if (a.Next()) fromA << a.GetFieldValue(1);
    if (b.Next()) fromB << b.GetFieldValue(1);
    if (step % 5 == 0) {
      lang.SetSQL(QStringLiteral("bigrows 2"));
      EXPECT_EQ(Rows(lang).size(), 2);
    }
  }
  a.Cancel(CS_CANCEL_ALL);
  b.Cancel(CS_CANCEL_ALL);
  ASSERT_EQ(fromA.size(), 20);
  ASSERT_EQ(fromB.size(), 37);
  EXPECT_EQ(fromA.last(), QStringLiteral("20"));
  EXPECT_EQ(fromB.last(), QStringLiteral("37"));
  EXPECT_EQ(tabtest::liveCursors(), 0);
}

TEST_F(EngineStub, CursorMaxRowsAndEarlyCancelCloseTheCursor) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.IsCursor = true;
  q.ReadOnly = true;
  q.MaxRows = 3;
  int maxEvents = 0;
  q.OnMaxRows = [&](TComponent*) { ++maxEvents; };
  q.SetSQL(QStringLiteral("select n from numbers 500"));
  EXPECT_EQ(Rows(q).size(), 3);
  EXPECT_EQ(maxEvents, 1);
  EXPECT_EQ(tabtest::liveCursors(), 0);
  q.MaxRows = 0;
  q.Open();
  ASSERT_TRUE(q.Next());
  q.Cancel(CS_CANCEL_ALL);
  EXPECT_EQ(tabtest::liveCursors(), 0);
  q.SetSQL(QStringLiteral("select n from numbers 4"));
  EXPECT_EQ(Rows(q).size(), 4);
}

TEST_F(EngineStub, DescribeColumnsReadsTheCursorsFormat) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select n, word from numbers 5"));
  EXPECT_EQ(q.GetFieldName(1), QStringLiteral("n"));
  EXPECT_EQ(q.GetFieldName(2), QStringLiteral("word"));
  EXPECT_EQ(q.GetFieldMaxLength(2), 20);
  EXPECT_TRUE(q.IsCursor);
  EXPECT_TRUE(q.ReadOnly);
  EXPECT_EQ(tabtest::liveCursors(), 0);
}

// The stub's two_in_one_out: a row (@a, @b), status 5 and @out = @a * 2.
void FillTwoInOneOut(TQorixStoredProc& p) {
  p.Params().Clear();
  p.Params().CreateParam(ftInteger, QStringLiteral("@a"), ptInput).SetValue(20);
  p.Params().CreateParam(ftString, QStringLiteral("@b"), ptInput).SetValue(QStringLiteral("it's"));
  p.Params().CreateParam(ftInteger, QStringLiteral("@out"), ptOutput);
  p.Params().CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
}

TEST_F(EngineStub, ProcedureByNameAndByNumberWithOutputAndResult) {
  for (TParamBindMode mode : {pbByName, pbByNumber}) {
    SCOPED_TRACE(mode == pbByName ? "by name" : "by number");
    TQorixStoredProc p;
    p.SetDatabase(db_.get());
    p.SetAutoGetParams(false);
    p.SetStoredProcName(QStringLiteral("two_in_one_out"));
    p.ParamBindMode = mode;
    FillTwoInOneOut(p);
    QStringList rows;
    int statusEvents = 0, paramEvents = 0;
    p.OnResultRow = [&](TComponent*) { rows << p.GetFieldValue(1) + QLatin1Char('|') + p.GetFieldValue(2); };
    p.OnReturnStatus = [&](TComponent*) { ++statusEvents; };
    p.OnReturnParams = [&](TComponent*) { ++paramEvents; };
    p.ExecProc();
    EXPECT_EQ(rows, (QStringList{"20|it's"}));
    EXPECT_EQ(statusEvents, 1);
    EXPECT_EQ(p.ReturnStatus(), 5);
    EXPECT_EQ(p.Params().ParamByName(QStringLiteral("Result")).AsInteger(), 5);
    // The output value arrives after the status and is kept.
    EXPECT_EQ(paramEvents, 1);
    EXPECT_EQ(p.Params().ParamByName(QStringLiteral("@out")).AsString(), QStringLiteral("40"));
    // A second call delivers everything again.
    rows.clear();
    p.ExecProc();
    EXPECT_EQ(rows, (QStringList{"20|it's"}));
  }
}

TEST_F(EngineStub, NegativeStatusGoesOnOrAbortsSilently) {
  struct Case {
    const char* name;
    bool abortOnNeg;
  } cases[] = {{"AbortOnNegStatus off", false}, {"AbortOnNegStatus on", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TQorixStoredProc p;
    p.SetDatabase(db_.get());
    p.SetAutoGetParams(false);
    p.SetStoredProcName(QStringLiteral("minus_one"));
    p.Params().CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
    p.AbortOnNegStatus = c.abortOnNeg;
    int statusEvents = 0;
    p.OnReturnStatus = [&](TComponent*) { ++statusEvents; };
    bool aborted = false;
    try {
      p.ExecProc();
    } catch (const EAbort&) {
      aborted = true;
    }
    EXPECT_EQ(aborted, c.abortOnNeg);
    EXPECT_EQ(statusEvents, 1);
    EXPECT_EQ(p.Params().ParamByName(QStringLiteral("Result")).AsInteger(), -1);
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.SetSQL(QStringLiteral("bigrows 1"));
    EXPECT_EQ(Rows(q).size(), 1);
  }
}

TEST_F(EngineStub, ExecSqlDeliversRowsStatusAndOutputOfAProcedureReply) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  QStringList events;
  q.OnResultRow = [&](TComponent*) { events << QStringLiteral("row ") + q.GetFieldValue(1); };
  q.OnReturnStatus = [&](TComponent*) { events << QStringLiteral("status %1").arg(q.ReturnStatus()); };
  q.OnReturnParams = [&](TComponent*) { events << QStringLiteral("param ") + q.GetParamValue(1); };
  q.SetSQL(QStringLiteral("exec_proc"));
  q.ExecSQL();
  EXPECT_EQ(events, (QStringList{"row 21", "status 5", "param 42"}));
  EXPECT_EQ(q.GetParamName(1), QStringLiteral("@out"));
}

TEST_F(EngineStub, ComputeRowsReachTheirEventBetweenTheRows) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  QStringList events;
  q.OnResultRow = [&](TComponent*) { events << q.GetFieldValue(1) + QLatin1Char('/') + q.GetFieldValue(2); };
  q.OnComputeRow = [&](TComponent*) {
    events << QStringLiteral("compute ") + q.GetComputeValue(1) + QLatin1Char('/') + q.GetComputeValue(2);
  };
  q.SetSQL(QStringLiteral("select grp, val from t order by grp compute sum(val), max(val) by grp"));
  q.ExecSQL();
  EXPECT_EQ(events, (QStringList{"1/10", "1/20", "compute 30/20", "2/5", "compute 5/5"}));
}

TEST_F(EngineStub, OpenWithParametersKeepsThePreparedStatementUntilTheRowsAreRead) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select n, word from numbers where :lo < n and n <= :hi"));
  ASSERT_EQ(q.Params().Count(), 2);
  q.Params()[0].DataType = ftInteger;
  q.Params()[0].SetValue(2);
  q.Params()[1].DataType = ftInteger;
  q.Params()[1].SetValue(5);
  EXPECT_EQ(Rows(q), (QStringList{"3|row 3", "4|row 4", "5|row 5"}));
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(tabtest::livePrepared(), 0);
  // ExecSQL prepares, runs and deallocates in one go.
  int rows = 0;
  q.OnResultRow = [&](TComponent*) { ++rows; };
  q.Params()[1].SetValue(10);
  q.ExecSQL();
  EXPECT_EQ(rows, 8);
  EXPECT_EQ(tabtest::livePrepared(), 0);
}

TEST_F(EngineStub, TwoEnginesPrepareOnOneConnectionWithoutSharingAnId) {
  TQorixEnhQuery a, b;
  for (TQorixEnhQuery* q : {&a, &b}) {
    q->SetDatabase(db_.get());
    q->SetSQL(QStringLiteral("select n from numbers where :lo < n and n <= :hi"));
    q->Params()[0].DataType = ftInteger;
    q->Params()[1].DataType = ftInteger;
    q->Params()[0].SetValue(0);
  }
  a.Params()[1].SetValue(2);
  b.Params()[1].SetValue(3);
  // A's rows are read to their end (a plain result cannot share the connection), but its
  // statement stays prepared until its Cancel: both statements live side by side.
  QStringList fromA, fromB;
  a.Open();
  while (a.Next()) fromA << a.GetFieldValue(1);
  b.Open();
  EXPECT_EQ(tabtest::livePrepared(), 2);
  while (b.Next()) fromB << b.GetFieldValue(1);
  a.Cancel(CS_CANCEL_ALL);
  b.Cancel(CS_CANCEL_ALL);
  EXPECT_EQ(fromA, (QStringList{"1", "2"}));
  EXPECT_EQ(fromB, (QStringList{"1", "2", "3"}));
  EXPECT_EQ(tabtest::livePrepared(), 0);
}

TEST_F(EngineStub, LargeTextAndImageAreReadWholeInTextImageMode) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.TextImage = true;
  q.SetSQL(QStringLiteral("set textsize 200000"));
  q.ExecSQL();
  q.SetSQL(QStringLiteral("bigtext 100000"));
  q.Open();
  ASSERT_TRUE(q.Next());
  EXPECT_EQ(q.GetFieldValue(1).toUtf8().size(), 100000);
  EXPECT_EQ(q.GetFieldValue(2).size(), 200000);  // hex, two characters a byte
  q.Cancel(CS_CANCEL_ALL);
}

}  // namespace
