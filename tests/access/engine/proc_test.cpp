// Stored procedures through TQorixStoredProc (RPC with input, output and result parameters,
// by name and by number, return status with and without AbortOnNegStatus, GetProcParams)
// and statements with ":name" parameters through the prepared-statement path.

#include "access/QorixExceptions.h"
#include "access/SysUtils.h"
#include "engine_fixture.h"

namespace {

bool NotSupported(const TQorixDiagTarget& t) {
  return t.LastError().contains(QStringLiteral("not supported by this server"));
}

class EngineProc : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    const QString n = QString::number(serial_++);
    proc_ = QStringLiteral("io_proc") + n;
    neg_ = QStringLiteral("neg_proc") + n;
    try {
      Exec(QStringLiteral(
               "create procedure %1 @a int, @b varchar(20), @out int output, @txt varchar(30) output as\n"
               "begin\n select @a * 2 as doubled, @b as echoed\n select @out = @a + 1\n"
               " select @txt = @b + '!'\n return 5\nend")
               .arg(proc_));
      Exec(QStringLiteral("create procedure %1 as\nbegin\n select 'before' as t\n return -1\nend").arg(neg_));
      procs_ = true;
    } catch (const Exception& e) {
      procsMissing_ = e.Message().toStdString();
    }
  }
  // The parameter list of proc_, as GetProcParams would make it.
  void FillParams(TQorixStoredProc& p) {
    p.Params().Clear();
    p.Params().CreateParam(ftInteger, QStringLiteral("@a"), ptInput).SetValue(20);
    p.Params().CreateParam(ftString, QStringLiteral("@b"), ptInput).SetValue(QStringLiteral("it's"));
    p.Params().CreateParam(ftInteger, QStringLiteral("@out"), ptOutput);
    p.Params().CreateParam(ftString, QStringLiteral("@txt"), ptOutput);
    p.Params().CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
  }
  static inline int serial_ = 0;
  QString proc_, neg_;
  bool procs_ = false;  // the server could create the two procedures
  std::string procsMissing_;
};

TEST_F(EngineProc, InputOutputAndResultParametersByNameAndByNumber) {
  if (!procs_) GTEST_SKIP() << "the server cannot create procedures yet: " << procsMissing_;
  for (TParamBindMode mode : {pbByName, pbByNumber}) {
    SCOPED_TRACE(mode == pbByName ? "by name" : "by number");
    TQorixStoredProc p;
    p.SetDatabase(db_.get());
    p.SetAutoGetParams(false);
    p.SetStoredProcName(proc_);
    p.ParamBindMode = mode;
    FillParams(p);
    QStringList rows;
    int statusEvents = 0, paramEvents = 0;
    p.OnResultRow = [&](TComponent*) { rows << p.GetFieldValue(1) + QLatin1Char('|') + p.GetFieldValue(2); };
    p.OnReturnStatus = [&](TComponent*) { ++statusEvents; };
    p.OnReturnParams = [&](TComponent*) { ++paramEvents; };
    try {
      p.ExecProc();
    } catch (const Exception&) {
      if (NotSupported(p)) GTEST_SKIP() << "the server does not run procedures by RPC yet";
      throw;
    }
    EXPECT_EQ(rows, (QStringList{"40|it's"}));
    EXPECT_EQ(statusEvents, 1);
    EXPECT_EQ(p.ReturnStatus(), 5);
    EXPECT_EQ(p.Params().ParamByName(QStringLiteral("Result")).AsInteger(), 5);
    // Output parameters are kept even though they arrive after the status.
    EXPECT_EQ(paramEvents, 1);
    EXPECT_EQ(p.Params().ParamByName(QStringLiteral("@out")).AsString(), QStringLiteral("21"));
    EXPECT_EQ(p.Params().ParamByName(QStringLiteral("@txt")).AsString(), QStringLiteral("it's!"));
  }
}

TEST_F(EngineProc, TwoExecProcCallsInARowBothDeliverAllRows) {
  if (!procs_) GTEST_SKIP() << "the server cannot create procedures yet: " << procsMissing_;
  TQorixStoredProc p;
  p.SetDatabase(db_.get());
  p.SetAutoGetParams(false);
  p.SetStoredProcName(proc_);
  FillParams(p);
  int rows = 0;
  p.OnResultRow = [&](TComponent*) { ++rows; };
  try {
    p.ExecProc();
  } catch (const Exception&) {
    if (NotSupported(p)) GTEST_SKIP() << "the server does not run procedures by RPC yet";
    throw;
  }
  p.ExecProc();
  EXPECT_EQ(rows, 2);
}

TEST_F(EngineProc, NegativeStatusGoesOnOrAbortsSilently) {
  if (!procs_) GTEST_SKIP() << "the server cannot create procedures yet: " << procsMissing_;
  struct Case {
    const char* name;
    bool abortOnNeg;
  } cases[] = {{"AbortOnNegStatus off", false}, {"AbortOnNegStatus on", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TQorixStoredProc p;
    p.SetDatabase(db_.get());
    p.SetAutoGetParams(false);
    p.SetStoredProcName(neg_);
    p.Params().CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
    p.AbortOnNegStatus = c.abortOnNeg;
    int statusEvents = 0;
    p.OnReturnStatus = [&](TComponent*) { ++statusEvents; };
    bool aborted = false;
    try {
      p.ExecProc();
    } catch (const EAbort&) {
      aborted = true;
    } catch (const Exception&) {
      if (NotSupported(p)) GTEST_SKIP() << "the server does not run procedures by RPC yet";
      throw;
    }
    EXPECT_EQ(aborted, c.abortOnNeg);
    EXPECT_EQ(statusEvents, 1);
    EXPECT_EQ(p.Params().ParamByName(QStringLiteral("Result")).AsInteger(), -1);
    // Either way the connection is usable afterwards.
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.SetSQL(QStringLiteral("select 9"));
    EXPECT_EQ(OpenRows(q), (QStringList{"9"}));
  }
}

TEST_F(EngineProc, ExecSqlScriptDeliversTheStatusOfAnExecutedProcedure) {
  if (!procs_) GTEST_SKIP() << "the server cannot create procedures yet: " << procsMissing_;
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  int status = 0;
  QStringList rows;
  q.OnReturnStatus = [&](TComponent*) { status = q.ReturnStatus(); };
  q.OnResultRow = [&](TComponent*) { rows << q.GetFieldValue(1); };
  q.SetSQL(QStringLiteral("exec %1\nselect 'after'").arg(neg_));
  q.ExecSQL();
  EXPECT_EQ(status, -1);
  EXPECT_EQ(rows.first(), QStringLiteral("before"));
}

TEST_F(EngineProc, GetProcParamsReadsTheCatalogueOfEitherFamily) {
  if (!procs_) GTEST_SKIP() << "the server cannot create procedures yet: " << procsMissing_;
  struct Case {
    const char* family;
    TParamType outType;  // only the "SQLAnywhere" catalogue says which are output
  } cases[] = {{"Sybase SQL Server", ptInput}, {"SQLAnywhere", ptOutput}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family);
    db_->rdbms = QString::fromLatin1(c.family);
    TQorixStoredProc p;
    p.SetDatabase(db_.get());
    try {
      p.SetStoredProcName(QStringLiteral("dbo.") + proc_);  // AutoGetParams reads them at once
    } catch (const Exception& e) {
      if (e.Message().contains(QStringLiteral("not supported by this server")))
        GTEST_SKIP() << "the server does not answer cursor commands yet";
      throw;
    }
    // A fresh engine takes the family from its connection before it reads.
    EXPECT_EQ(p.ServerType(), c.outType == ptOutput ? stSqlAnywhere : stSybaseSqlServer);
    const TParams& params = p.Params();
    ASSERT_EQ(params.Count(), 5);
    const QStringList names{"@a", "@b", "@out", "@txt", "Result"};
    const TFieldType types[] = {ftInteger, ftString, ftInteger, ftString, ftInteger};
    const TParamType kinds[] = {ptInput, ptInput, c.outType, c.outType, ptResult};
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(params[i].Name, names[i]);
      EXPECT_EQ(params[i].DataType, types[i]) << i;
      EXPECT_EQ(params[i].ParamType, kinds[i]) << i;
    }
  }
}

TEST_F(EngineProc, TheCatalogueQueryListsTheParametersInBothDialects) {
  if (!procs_) GTEST_SKIP() << "the server cannot create procedures yet: " << procsMissing_;
  struct Case {
    const char* family;
    QStringList expected;
  } cases[] = {
      {"Sybase SQL Server", {"@a|int", "@b|varchar", "@out|int", "@txt|varchar"}},
      {"SQLAnywhere", {"@a|integer|N", "@b|varchar|N", "@out|integer|Y", "@txt|varchar|Y"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family);
    db_->rdbms = QString::fromLatin1(c.family);
    TQorixStoredProc p;
    p.SetDatabase(db_.get());
    p.GetServerType();
    // Run here as a plain statement: the same text that GetProcParams reads through a cursor.
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.SetSQL(p.ProcParamsSQL(proc_));
    q.Open();
    QStringList rows;
    while (q.Next()) {
      QString row = q.GetFieldValue(1).trimmed() + QLatin1Char('|') + q.GetFieldValue(2).trimmed();
      if (p.ServerType() == stSqlAnywhere) row += QLatin1Char('|') + q.GetFieldValue(4).trimmed();
      rows << row;
    }
    q.Cancel(CS_CANCEL_ALL);
    EXPECT_EQ(rows, c.expected);
    // A name with quotes stays inside its literal: the query runs and finds nothing.
    q.SetSQL(p.ProcParamsSQL(QStringLiteral("x\") drop table nothing_here -- ' or 1=1 --")));
    q.Open();
    EXPECT_FALSE(q.Next());
    q.Cancel(CS_CANCEL_ALL);
  }
}

TEST_F(EngineProc, GetProcParamsNeedsAName) {
  TQorixStoredProc p;
  p.SetName(QStringLiteral("sp1"));
  p.SetDatabase(db_.get());
  try {
    p.GetProcParams();
    FAIL() << "no name raised nothing";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("sp1: Missing StoredProcName property"));
  }
}

TEST_F(EngineProc, ANameWithQuotesCannotBreakOutOfTheCatalogueQuery) {
  TQorixStoredProc p;
  p.SetDatabase(db_.get());
  p.SetShowDbMessages({smDbMsg, smDbErr});
  // Spliced unescaped, this name would end the literal and run a second statement.
  try {
    p.SetStoredProcName(QStringLiteral("x\") drop table nothing_here --"));
  } catch (const Exception& e) {
    if (e.Message().contains(QStringLiteral("not supported by this server")))
      GTEST_SKIP() << "the server does not answer cursor commands yet";
    ADD_FAILURE() << e.what();
  }
  ASSERT_EQ(p.Params().Count(), 1);
  EXPECT_EQ(p.Params()[0].Name, QStringLiteral("Result"));
}

TEST_F(EngineProc, OpenWithParametersReturnsTheirRows) {
  Exec(
      QStringLiteral("create table #pt (id int, name varchar(10))\ninsert #pt values (1, 'a')\n"
                     "insert #pt values (2, 'b')\ninsert #pt values (3, 'c')"));
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select id from #pt where id >= :lo and name <> :skip order by id"));
  ASSERT_EQ(q.Params().Count(), 2);
  q.Params()[0].DataType = ftInteger;
  q.Params()[0].SetValue(2);
  q.Params()[1].DataType = ftString;
  q.Params()[1].SetValue(QStringLiteral("c"));
  QStringList rows;
  try {
    rows = OpenRows(q);
  } catch (const Exception&) {
    if (NotSupported(q)) GTEST_SKIP() << "the server does not run prepared statements yet";
    throw;
  }
  EXPECT_EQ(rows, (QStringList{"2"}));
  EXPECT_FALSE(q.Prepared());
}

// Money and numeric parameters arrive exactly as given, whichever way parameters travel (a
// remote procedure call by name and by number with the types GetProcParams reads, a prepared
// statement, a cursor's literals): the largest money value and a numeric of 20 digits would
// be rounded by a double. A value that is no number is refused before anything is sent. (The
// prepared statement reads only the numeric back: the local server types a marker it cannot
// describe as varchar, and money becomes text with two decimals there.)
TEST_F(EngineProc, MoneyAndNumericParametersKeepEveryDigit) {
  if (!procs_) GTEST_SKIP() << "the server cannot create procedures yet: " << procsMissing_;
  const QString proc = QStringLiteral("exact_proc") + QString::number(serial_++);
  Exec(QStringLiteral("create procedure %1 @n numeric(20,4), @m money as\n"
                      "select convert(varchar(40), @n), convert(varchar(40), convert(numeric(19,4), @m))")
           .arg(proc));
  const QString n = QStringLiteral("1234567890123456.1234"), m = QStringLiteral("922337203685477.5807");
  const QString expected = n + QLatin1Char('|') + m;
  const char* const select =
      "select convert(varchar(40), convert(numeric(20,4), :n)), "
      "convert(varchar(40), convert(numeric(19,4), convert(money, :m)))";
  enum Way { kRpcByName, kRpcByNumber, kPrepared, kCursor };
  const struct {
    const char* name;
    Way way;
  } ways[] = {{"RPC by name", kRpcByName},
              {"RPC by number", kRpcByNumber},
              {"prepared statement", kPrepared},
              {"cursor", kCursor}};
  for (const auto& w : ways) {
    for (bool bad : {false, true}) {
      SCOPED_TRACE(std::string(w.name) + (bad ? ", not a number" : ""));
      const QString nValue = bad ? QStringLiteral("12,5") : n;
      QString got, error;
      try {
        if (w.way == kRpcByName || w.way == kRpcByNumber) {
          TQorixStoredProc p;
          p.SetDatabase(db_.get());
          p.ParamBindMode = w.way == kRpcByName ? pbByName : pbByNumber;
          p.SetStoredProcName(proc);
          ASSERT_EQ(p.Params().Count(), 3);
          EXPECT_EQ(p.Params()[0].DataType, ftBCD);
          EXPECT_EQ(p.Params()[1].DataType, ftCurrency);
          p.Params()[0].SetValue(nValue);
          p.Params()[1].SetValue(m);
          p.OnResultRow = [&](TComponent*) {
            got = p.GetFieldValue(1) + QLatin1Char('|') + p.GetFieldValue(2);
          };
          p.ExecProc();
        } else {
          TQorixEnhQuery q;
          q.SetDatabase(db_.get());
          q.IsCursor = q.ReadOnly = w.way == kCursor;
          q.SetSQL(QString::fromLatin1(select));
          ASSERT_EQ(q.Params().Count(), 2);
          q.Params()[0].DataType = ftBCD;
          q.Params()[0].SetValue(nValue);
          q.Params()[1].DataType = ftCurrency;
          q.Params()[1].SetValue(m);
          got = OpenRows(q).join(QLatin1Char(','));
        }
      } catch (const Exception& e) {
        error = e.Message();
      }
      if (bad) {
        EXPECT_TRUE(error.contains(QLatin1String("'12,5' is not a valid numeric value")))
            << error.toStdString();
        EXPECT_TRUE(got.isEmpty()) << got.toStdString();
      } else if (w.way == kPrepared) {
        EXPECT_TRUE(got.startsWith(n + QLatin1Char('|'))) << got.toStdString() << error.toStdString();
      } else {
        EXPECT_EQ(got, expected) << error.toStdString();
      }
      TQorixEnhQuery after;
      after.SetDatabase(db_.get());
      after.SetSQL(QStringLiteral("select 3"));
      EXPECT_EQ(OpenRows(after), (QStringList{"3"}));
    }
  }
}

TEST_F(EngineProc, AParameterOfUnknownTypeIsRefusedByName) {
  TQorixEnhQuery q;
  q.SetName(QStringLiteral("pq"));
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select :what"));
  q.Params()[0].SetValue(QStringLiteral("x"));
  q.Params()[0].DataType = ftUnknown;
  try {
    q.ExecSQL();
    FAIL() << "an untyped parameter was sent";
  } catch (const EDatabaseError& e) {
    // Refused before anything is sent.
    EXPECT_EQ(e.Message(), QStringLiteral("pq: Parameter \"what\" has an Unknown data type"));
  }
  q.Params()[0].DataType = ftBlob;
  try {
    q.ExecSQL();
    FAIL() << "a blob parameter was sent";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("pq: Datatype of parameter \"what\" not supported!"));
  }
}

}  // namespace
