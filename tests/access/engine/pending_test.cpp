// Two commands on one connection: while one still has rows to read, a second send is refused
// with a clear error instead of receiving the first one's rows, and both stay usable.

#include "access/QorixExceptions.h"
#include "access/SysUtils.h"
#include "engine_fixture.h"

namespace {

using PendingResults = EngineTest;

const char* const kPendingText = "another command structure has results pending";

TEST_F(PendingResults, ASecondEngineIsRefusedWhileTheFirstHasRowsAndBothGoOn) {
  TQorixEnhQuery a;
  a.SetDatabase(db_.get());
  a.SetSQL(QStringLiteral("select 1 union all select 2 union all select 3"));
  a.Open();
  ASSERT_TRUE(a.Next());
  EXPECT_EQ(a.GetFieldValue(1), QStringLiteral("1"));

  TQorixEnhQuery b;
  b.SetDatabase(db_.get());
  b.SetSQL(QStringLiteral("select 42"));
  try {
    b.Open();
    ADD_FAILURE() << "the second send was accepted; next value " << (b.Next() ? b.GetFieldValue(1).toStdString() : "");
  } catch (const Exception& e) {
    EXPECT_TRUE(e.Message().contains(QLatin1String(kPendingText))) << e.Message().toStdString();
  }
  // The first engine still reads its own rows, to the end.
  QStringList rest;
  while (a.Next()) rest << a.GetFieldValue(1);
  EXPECT_EQ(rest, (QStringList{"2", "3"}));
  // Once they are read, the second engine runs.
  EXPECT_EQ(OpenRows(b), (QStringList{"42"}));
}

TEST_F(PendingResults, CancellingOrDroppingTheFirstFreesTheConnection) {
  TQorixEnhQuery b;
  b.SetDatabase(db_.get());
  b.SetSQL(QStringLiteral("select 42"));
  {
    TQorixEnhQuery a;
    a.SetDatabase(db_.get());
    a.SetSQL(QStringLiteral("select 1 union all select 2"));
    a.Open();
    ASSERT_TRUE(a.Next());
    a.Cancel(CS_CANCEL_ALL);
    EXPECT_EQ(OpenRows(b), (QStringList{"42"}));
    a.Open();
    ASSERT_TRUE(a.Next());
  }  // destroyed with a row unread
  EXPECT_EQ(OpenRows(b), (QStringList{"42"}));
}

// The facade alone: the refusal reaches the connection's inline messages as an error.
TEST_F(PendingResults, TheFacadeRefusesTheSendAndQueuesAnError) {
  CS_CONNECTION* con = db_->ConnectionHandle();
  CS_COMMAND* first = nullptr;
  CS_COMMAND* second = nullptr;
  ASSERT_EQ(ctlib::ct_cmd_alloc(con, &first), CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_cmd_alloc(con, &second), CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_command(first, CS_LANG_CMD, "select 1", CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  ASSERT_EQ(ctlib::ct_send(first), CS_SUCCEED);
  ClearDiagMessages(con);
  ASSERT_EQ(ctlib::ct_command(second, CS_LANG_CMD, "select 2", CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  EXPECT_EQ(ctlib::ct_send(second), CS_FAIL);
  CS_INT n = 0;
  ctlib::ct_diag(con, CS_STATUS, CS_CLIENTMSG_TYPE, CS_UNUSED, &n);
  ASSERT_EQ(n, 1);
  CS_CLIENTMSG msg{};
  ctlib::ct_diag(con, CS_GET, CS_CLIENTMSG_TYPE, 1, &msg);
  EXPECT_GT(msg.severity, 2);
  EXPECT_NE(std::string(msg.msgstring).find(kPendingText), std::string::npos) << msg.msgstring;
  CS_INT opt = 100;
  EXPECT_EQ(ctlib::ct_options(con, CS_SET, CS_OPT_ROWCOUNT, &opt, CS_UNUSED, nullptr), CS_FAIL);
  // Reading the first command to its end lifts the refusal.
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = ctlib::ct_results(first, &type)) == CS_SUCCEED)
    if (type == CS_ROW_RESULT) ctlib::ct_cancel(nullptr, first, CS_CANCEL_CURRENT);
  EXPECT_EQ(rc, CS_END_RESULTS);
  ClearDiagMessages(con);
  EXPECT_EQ(ctlib::ct_send(second), CS_SUCCEED);
  // Dropping a command with results unread cancels it first.
  EXPECT_EQ(ctlib::ct_cmd_drop(second), CS_SUCCEED);
  EXPECT_EQ(ctlib::ct_send(first), CS_SUCCEED);
  EXPECT_EQ(ctlib::ct_cancel(nullptr, first, CS_CANCEL_ALL), CS_SUCCEED);
  EXPECT_EQ(ctlib::ct_cmd_drop(first), CS_SUCCEED);
}

}  // namespace
