// PRINT lines from the local server reach the diagnostics' message text one line each,
// whether or not the server ends each text with its own line end.

#include <QRegularExpression>

#include "engine_fixture.h"

namespace {

using PrintLines = EngineTest;

// A target that keeps what the diagnostics store.
class PrintTarget : public TComponent, public TQorixDiagTarget {};

TEST_F(PrintLines, PrintLinesOfOneBatchStayLinesOfTheirOwn) {
  // The batch's results are read to the end first, so one diagnostics call sees every line.
  CS_CONNECTION* con = db_->ConnectionHandle();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ctlib::ct_cmd_alloc(con, &cmd), CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_command(cmd, CS_LANG_CMD, "print 'first line'\nprint 'second line'\nprint 'third'",
                              CS_NULLTERM, CS_UNUSED),
            CS_SUCCEED);
  ClearDiagMessages(con);
  ASSERT_EQ(ctlib::ct_send(cmd), CS_SUCCEED);
  CS_INT type = 0;
  while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
  }
  PrintTarget target;
  ProcessDiagMessages(con, CS_SERVERMSG{}, CS_CLIENTMSG{}, &target, false, false, false, false, false);
  ctlib::ct_cmd_drop(cmd);
  const QString text = target.LastMessage();
  EXPECT_TRUE(text.startsWith(QStringLiteral("Server   : "))) << text.toStdString();
  EXPECT_TRUE(text.contains(
      QRegularExpression(QStringLiteral("\\nfirst line\\r?\\nsecond line\\r?\\nthird\\r?\\n?$"))))
      << text.toStdString();
}

// Through an engine each call's messages are delivered with it: every line still arrives.
TEST_F(PrintLines, AnEngineDeliversEveryLine) {
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  QStringList seen;
  q.OnDbMessage = [&](TComponent*) { seen << q.LastMessage(); };
  q.SetSQL(QStringLiteral("print 'first line'\nprint 'second line'"));
  q.ExecSQL();
  const QString all = seen.join(QString());
  EXPECT_TRUE(all.contains(QStringLiteral("first line"))) << all.toStdString();
  EXPECT_TRUE(all.contains(QStringLiteral("second line"))) << all.toStdString();
  EXPECT_FALSE(all.contains(QStringLiteral("first linesecond line")));
}

}  // namespace
