// The context's TimeOut on statements: a statement that outlives it fails with the timeout
// text soon after the limit, and the connection stays usable for the next statement.

#include <chrono>

#include "access/QorixExceptions.h"
#include "access/SysUtils.h"
#include "engine_fixture.h"

namespace {

using StatementTimeout = EngineTest;

const char* const kTimeoutText = "Read from the server has timed out";

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct TimeoutCase {
  const char* name;
  const char* sql;
  bool openFirst;  // read the rows ahead of the wait through Open/Next
};

// The limit is set after the connection opened: it must reach the open connection.
TEST_F(StatementTimeout, AStatementPastTheLimitFailsSoonAndTheConnectionGoesOn) {
  const TimeoutCase cases[] = {
      {"a wait alone, ExecSQL", "waitfor delay '00:00:20'", false},
      {"a wait after a row result, Open/Next", "select 1\nwaitfor delay '00:00:20'\nselect 2", true},
  };
  ctx_->SetTimeOut(1);
  for (const TimeoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.SetSQL(QString::fromLatin1(c.sql));
    const auto start = std::chrono::steady_clock::now();
    QString error;
    try {
      if (c.openFirst) {
        q.Open();
        ASSERT_TRUE(q.Next());
        EXPECT_EQ(q.GetFieldValue(1), QStringLiteral("1"));
        while (q.Next()) {
        }
      } else {
        q.ExecSQL();
      }
    } catch (const Exception& e) {
      error = e.Message();
    }
    const double took = SecondsSince(start);
    EXPECT_TRUE(error.contains(QLatin1String(kTimeoutText))) << error.toStdString();
    // A limit not applied, or a cancel the server leaves waiting, lets the wait run its 20 s.
    EXPECT_LT(took, 5.0) << "the statement ran past its limit";
    EXPECT_GE(took, 0.9);
    // The same connection runs the next statement.
    TQorixEnhQuery next;
    next.SetDatabase(db_.get());
    next.SetSQL(QStringLiteral("select 42"));
    EXPECT_EQ(OpenRows(next), (QStringList{"42"}));
  }
}

// The facade alone: the waiting ct_results fails with an error-level client message, the
// connection is not dead, and the command is ready for another send.
TEST_F(StatementTimeout, TheFacadeFailsTheWaitingCallAndKeepsTheConnection) {
  ctx_->SetTimeOut(1);
  CS_CONNECTION* con = db_->ConnectionHandle();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ctlib::ct_cmd_alloc(con, &cmd), CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_command(cmd, CS_LANG_CMD, "waitfor delay '00:00:03'", CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_send(cmd), CS_SUCCEED);
  ClearDiagMessages(con);
  CS_INT type = 0;
  EXPECT_EQ(ctlib::ct_results(cmd, &type), CS_FAIL);
  CS_INT n = 0;
  ctlib::ct_diag(con, CS_STATUS, CS_CLIENTMSG_TYPE, CS_UNUSED, &n);
  ASSERT_GE(n, 1);
  CS_CLIENTMSG msg{};
  ctlib::ct_diag(con, CS_GET, CS_CLIENTMSG_TYPE, n, &msg);
  EXPECT_GT(msg.severity, 2);
  EXPECT_NE(std::string(msg.msgstring).find(kTimeoutText), std::string::npos) << msg.msgstring;
  CS_INT status = 0;
  ASSERT_EQ(ctlib::ct_con_props(con, CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_FALSE(status & CS_CONSTAT_DEAD);
  ClearDiagMessages(con);
  // Back to a long limit: the same command runs the next statement to its end.
  ctx_->SetTimeOut(60);
  ASSERT_EQ(ctlib::ct_command(cmd, CS_LANG_CMD, "select 7", CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_send(cmd), CS_SUCCEED);
  CS_RETCODE rc;
  bool rows = false;
  while ((rc = ctlib::ct_results(cmd, &type)) == CS_SUCCEED)
    if (type == CS_ROW_RESULT) {
      rows = true;
      ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT);
    }
  EXPECT_TRUE(rows);
  EXPECT_EQ(rc, CS_END_RESULTS);
  EXPECT_EQ(ctlib::ct_cmd_drop(cmd), CS_SUCCEED);
}

}  // namespace

namespace {

// A connection that set a CS_TIMEOUT of its own keeps it when the context's changes.
TEST_F(StatementTimeout, AConnectionsOwnTimeoutIsKept) {
  CS_CONNECTION* con = db_->ConnectionHandle();
  CS_INT own = 10;
  ASSERT_EQ(ctlib::ct_con_props(con, CS_SET, CS_TIMEOUT, &own, CS_UNUSED, nullptr), CS_SUCCEED);
  ctx_->SetTimeOut(1);
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("waitfor delay '00:00:02'\nselect 5"));
  EXPECT_EQ(OpenRows(q), (QStringList{"5"})) << q.LastError().toStdString();
}

}  // namespace

#include "access/QorixQuery.h"

namespace {

// Every way of reading rows fails the call that outlived the limit with the timeout text,
// keeps the rows read before the wait whole, and leaves the connection usable. TextImage reads
// the row's columns with ct_get_data after the fetch that timed out while looking past the row.
TEST_F(StatementTimeout, EveryReadModeFailsWithTheTimeoutTextAndKeepsTheRowsBefore) {
  enum Mode { kBound, kTextImage, kQuery, kQueryTextImage, kCursor };
  const char* const waitBetween =
      "select 1, 'one', convert(text, 'first text')\nwaitfor delay '00:00:05'\nselect 2, 'two', "
      "convert(text, 'x')";
  const struct {
    const char* name;
    Mode mode;
    const char* sql;
    QStringList rowsBefore;
  } cases[] = {
      {"bound columns", kBound, waitBetween, {"1|one|first text"}},
      // ct_get_data cannot read a row whose fetch timed out: the fetch fails instead.
      {"TextImage", kTextImage, waitBetween, {}},
      {"the query component", kQuery, waitBetween, {"1|one|first text"}},
      {"the query component in TextImage", kQueryTextImage, waitBetween, {}},
      // A cursor takes one SELECT: one that counts far longer than the limit (its open runs it).
      {"a client cursor", kCursor,
       "select count(*) from master..syscolumns a, master..syscolumns b, master..syscolumns c, "
       "master..syscolumns d",
       {}},
  };
  ctx_->SetTimeOut(1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QStringList rows;
    QString error, lastError;
    const auto start = std::chrono::steady_clock::now();
    if (c.mode == kQuery || c.mode == kQueryTextImage) {
      TQorixQuery q;
      q.SetDatabase(db_.get());
      q.TextImage = c.mode == kQueryTextImage;
      q.Sql = QString::fromLatin1(c.sql);
      try {
        q.Execute();
        while (q.NextRow()) {
          QStringList cols;
          for (int i = 1; i <= q.ColumnCount(); ++i)
            cols << (q.FieldIsNull(i) ? "<null>" : q.GetFieldValue(i));
          rows << cols.join(QLatin1Char('|'));
        }
      } catch (const Exception& e) {
        error = e.Message();
      }
      lastError = q.LastError();
    } else {
      TQorixEnhQuery q;
      q.SetDatabase(db_.get());
      q.TextImage = c.mode == kTextImage;
      q.IsCursor = q.ReadOnly = c.mode == kCursor;
      q.SetSQL(QString::fromLatin1(c.sql));
      try {
        q.Open();
        while (q.Next()) {
          QStringList cols;
          for (int i = 1; i <= q.ColumnCount(); ++i)
            cols << (q.FieldIsNull(i) ? "<null>" : q.GetFieldValue(i));
          rows << cols.join(QLatin1Char('|'));
        }
      } catch (const Exception& e) {
        error = e.Message();
      }
      lastError = q.LastError();
    }
    const double took = SecondsSince(start);
    EXPECT_EQ(rows, c.rowsBefore);
    EXPECT_TRUE(error.contains(QLatin1String(kTimeoutText))) << "raised: " << error.toStdString();
    EXPECT_TRUE(lastError.contains(QLatin1String(kTimeoutText))) << "LastError: " << lastError.toStdString();
    EXPECT_LT(took, 3.5) << "the statement ran past its limit";
    TQorixEnhQuery next;
    next.SetDatabase(db_.get());
    next.SetSQL(QStringLiteral("select 42, 'after'"));
    EXPECT_EQ(OpenRows(next), (QStringList{"42|after"}));
  }
}

}  // namespace
