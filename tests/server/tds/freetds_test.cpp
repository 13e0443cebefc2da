// End-to-end protocol tests through FreeTDS's Client-Library: the listener runs in-process on
// a free loopback port over the stub engine, and a freetds.conf entry [TEST] points at it.
#include <ctpublic.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "server/tds/server.h"
#include "tests/server/tds/freetds_fixture.h"
#include "tests/server/tds/stub_engine.h"
#include "tests/support/ct_client.h"

namespace fs = std::filesystem;
using tabtest::CtBatch;
using tabtest::CtClient;
using tabtest::FreeTdsTest;
using tabtest::LogCapture;
using tabtest::writeConfig;

namespace {

TEST_F(FreeTdsTest, LoginRunsTheSpidBatchAndLogsTheSession) {
  auto client = connected();
  CtBatch batch = client->run("select @@spid");
  ASSERT_EQ(batch.sets.size(), 1u);
  ASSERT_EQ(batch.sets[0].rows.size(), 1u);
  int spid = std::stoi(*batch.sets[0].rows[0][0]);
  EXPECT_GE(spid, 10);
  EXPECT_TRUE(log_->waitFor("session " + std::to_string(spid) + " start: user=sa"));
  client->close();
  EXPECT_TRUE(log_->waitFor("session " + std::to_string(spid) + " end: logout"));
}

// What Client-Library reports for each column of the stub's "types" result.
struct TypeCase {
  const char* column;
  int datatype;
  const char* text;
};

const TypeCase kTypeCases[] = {
    {"c_char", CS_CHAR_TYPE, "ab"},
    {"c_varchar", CS_CHAR_TYPE, "héllo"},
    {"c_binary", CS_BINARY_TYPE, "010203"},
    {"c_varbinary", CS_BINARY_TYPE, "dead"},
    {"c_tinyint", CS_TINYINT_TYPE, "255"},
    {"c_smallint", CS_SMALLINT_TYPE, "-32768"},
    {"c_int", CS_INT_TYPE, "-2147483648"},
    {"c_real", CS_REAL_TYPE, "1.5"},
    {"c_float", CS_FLOAT_TYPE, "-2.2500000000000002e+100"},
    {"c_bit", CS_BIT_TYPE, "1"},
    {"c_datetime", CS_DATETIME_TYPE, "Jan  1 2000 01:00AM"},
    {"c_smalldatetime", CS_DATETIME4_TYPE, "Jan  2 2000 01:30AM"},
    {"c_money", CS_MONEY_TYPE, "-922337203685477.5808"},
    {"c_smallmoney", CS_MONEY4_TYPE, "-214748.3648"},
    {"c_numeric", CS_NUMERIC_TYPE, "-123456.78"},
    {"c_decimal", CS_DECIMAL_TYPE, "99999999999999999999999999999999999999"},
    {"c_text", CS_TEXT_TYPE, "some text"},
    {"c_image", CS_IMAGE_TYPE, "00ff"},
    {"c_longchar", CS_CHAR_TYPE, nullptr},          // 600 x
    {"c_longbinary", CS_LONGBINARY_TYPE, nullptr},  // 300 x 7f
};

TEST_F(FreeTdsTest, EveryClassicTypeArrivesWithItsValue) {
  auto client = connected();
  CtBatch batch = client->run("types");
  ASSERT_FALSE(batch.failed);
  ASSERT_EQ(batch.sets.size(), 1u);
  const auto& set = batch.sets[0];
  ASSERT_EQ(set.columns.size(), std::size(kTypeCases));
  ASSERT_EQ(set.rows.size(), 1u);
  for (size_t i = 0; i < std::size(kTypeCases); ++i) {
    const TypeCase& c = kTypeCases[i];
    SCOPED_TRACE(c.column);
    EXPECT_EQ(set.columns[i], c.column);
    EXPECT_EQ(set.types[i], c.datatype);
    ASSERT_TRUE(set.rows[0][i].has_value());
    if (c.text) {
      EXPECT_EQ(*set.rows[0][i], c.text);
    }
  }
  EXPECT_EQ(*set.rows[0][18], std::string(600, 'x'));
  std::string hex;
  for (int i = 0; i < 300; ++i) hex += "7f";
  EXPECT_EQ(*set.rows[0][19], hex);
}

TEST_F(FreeTdsTest, NullsOfEveryTypeReadThroughTheIndicator) {
  auto client = connected();
  CtBatch batch = client->run("nulls");
  ASSERT_FALSE(batch.failed);
  ASSERT_EQ(batch.sets.size(), 1u);
  const auto& set = batch.sets[0];
  ASSERT_EQ(set.rows.size(), 1u);
  for (size_t i = 0; i < std::size(kTypeCases); ++i) {
    SCOPED_TRACE(kTypeCases[i].column);
    // The nullable wire types (INTN, FLTN, MONEYN, DATETIMN, BITN) keep the column's type.
    EXPECT_EQ(set.types[i], kTypeCases[i].datatype);
    EXPECT_FALSE(set.rows[0][i].has_value());
  }
}

TEST_F(FreeTdsTest, BadPasswordGets4002AndConnectFails) {
  CtClient client;
  std::string error;
  EXPECT_FALSE(client.connect("TEST", "sa", "wrong", &error));
  auto messages = client.takeMessages();
  bool found = false;
  for (const auto& m : messages) {
    if (m.fromServer && m.number == 4002 && m.severity == 14 && m.text == "Login failed.") found = true;
  }
  EXPECT_TRUE(found) << error;
  EXPECT_TRUE(log_->waitFor("login failed for user 'sa'"));
}

TEST_F(FreeTdsTest, PasswordLongerThanThirtyBytesLogsIn) {
  CtClient client;
  std::string error;
  EXPECT_TRUE(client.connect("TEST", "longpw", tabtest::StubEngine::longPassword(), &error)) << error;
}

TEST_F(FreeTdsTest, DoneTokensGiveEachStatementItsResultAndCount) {
  auto client = connected();
  CtBatch batch = client->run("multi");
  ASSERT_FALSE(batch.failed);
  ASSERT_EQ(batch.sets.size(), 2u);
  EXPECT_EQ(batch.sets[0].rows.size(), 2u);
  EXPECT_EQ(batch.sets[1].rows.size(), 1u);
  EXPECT_EQ(batch.rowCounts, (std::vector<int>{2, 5, 1}));
}

TEST_F(FreeTdsTest, ErrorsAndPrintsReachTheMessageCallback) {
  auto client = connected();
  CtBatch error = client->run("error");
  EXPECT_TRUE(error.failed);
  ASSERT_EQ(error.messages.size(), 1u);
  EXPECT_EQ(error.messages[0].number, 208);
  EXPECT_EQ(error.messages[0].severity, 16);
  EXPECT_EQ(error.messages[0].line, 3);

  CtBatch print = client->run("print");
  EXPECT_FALSE(print.failed);
  ASSERT_EQ(print.messages.size(), 1u);
  EXPECT_EQ(print.messages[0].number, 0);
  EXPECT_EQ(print.messages[0].text, "hello");

  CtBatch syntax = client->run("sqlerror");
  EXPECT_TRUE(syntax.failed);
  ASSERT_EQ(syntax.messages.size(), 1u);
  EXPECT_EQ(syntax.messages[0].number, 102);

  // An executor that throws something else fails the batch, not the session.
  CtBatch thrown = client->run("throw");
  EXPECT_TRUE(thrown.failed);
  ASSERT_EQ(thrown.messages.size(), 1u);
  EXPECT_EQ(thrown.messages[0].number, tabsrv::tds::kAbortedNumber);
  EXPECT_FALSE(client->run("select @@spid").failed);
}

TEST_F(FreeTdsTest, RequestsThatAreNotServedYetFailWithoutEndingTheSession) {
  auto client = connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->connection(), &cmd), CS_SUCCEED);
  ASSERT_EQ(ct_command(cmd, CS_RPC_CMD, const_cast<char*>("sp_who"), CS_NULLTERM, CS_NO_RECOMPILE),
            CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  CS_INT type = 0;
  bool failed = false;
  while (ct_results(cmd, &type) == CS_SUCCEED)
    if (type == CS_CMD_FAIL) failed = true;
  ct_cmd_drop(cmd);
  EXPECT_TRUE(failed);
  EXPECT_FALSE(client->run("select @@spid").failed);
}

// Runs a batch on a raw connection and counts the rows of its results.
int countRows(CS_CONNECTION* con, const char* sql) {
  CS_COMMAND* cmd = nullptr;
  if (ct_cmd_alloc(con, &cmd) != CS_SUCCEED) return -1;
  int rows = 0;
  if (ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql), CS_NULLTERM, CS_UNUSED) == CS_SUCCEED &&
      ct_send(cmd) == CS_SUCCEED) {
    CS_INT type = 0;
    while (ct_results(cmd, &type) == CS_SUCCEED) {
      if (type != CS_ROW_RESULT) continue;
      char buffer[256];
      CS_INT length = 0;
      CS_DATAFMT fmt{};
      fmt.datatype = CS_CHAR_TYPE;
      fmt.format = CS_FMT_NULLTERM;
      fmt.maxlength = sizeof buffer;
      fmt.count = 1;
      ct_bind(cmd, 1, &fmt, buffer, &length, nullptr);
      while (ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr) == CS_SUCCEED) ++rows;
    }
  }
  ct_cmd_drop(cmd);
  return rows;
}

TEST_F(FreeTdsTest, RequestedPacketSizeIsGrantedAndUsed) {
  CS_CONTEXT* ctx = nullptr;
  ASSERT_EQ(cs_ctx_alloc(CS_VERSION_100, &ctx), CS_SUCCEED);
  ASSERT_EQ(ct_init(ctx, CS_VERSION_100), CS_SUCCEED);
  CS_CONNECTION* con = nullptr;
  ASSERT_EQ(ct_con_alloc(ctx, &con), CS_SUCCEED);
  ct_con_props(con, CS_SET, CS_USERNAME, const_cast<char*>("sa"), CS_NULLTERM, nullptr);
  ct_con_props(con, CS_SET, CS_PASSWORD, const_cast<char*>("secret"), CS_NULLTERM, nullptr);
  CS_INT size = 2048;
  ct_con_props(con, CS_SET, CS_PACKETSIZE, &size, CS_UNUSED, nullptr);
  ASSERT_EQ(ct_connect(con, const_cast<char*>("TEST"), CS_NULLTERM), CS_SUCCEED);
  CS_INT granted = 0;
  ct_con_props(con, CS_GET, CS_PACKETSIZE, &granted, CS_UNUSED, nullptr);
  EXPECT_EQ(granted, 2048);
  // A reply much longer than one packet arrives whole in 2048-byte packets.
  EXPECT_EQ(countRows(con, "bigrows 500"), 500);
  ct_close(con, CS_UNUSED);
  ct_con_drop(con);
  ct_exit(ctx, CS_FORCE_EXIT);
  cs_ctx_drop(ctx);
}

TEST_F(FreeTdsTest, CancelAttnStopsALongBatchAndTheConnectionGoesOn) {
  auto client = connected();
  int before = tabtest::cancelledWaits();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->connection(), &cmd), CS_SUCCEED);
  ASSERT_EQ(ct_command(cmd, CS_LANG_CMD, const_cast<char*>("slowrows"), CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  // The first row arrives while the batch is still running.
  CS_INT type = 0;
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  ASSERT_EQ(type, CS_ROW_RESULT);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ATTN), CS_SUCCEED);
  CS_RETCODE rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr);
  while (rc == CS_SUCCEED) rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr);
  EXPECT_EQ(rc, CS_CANCELED);
  EXPECT_EQ(ct_results(cmd, &type), CS_END_RESULTS);
  // Without the attention the stub's second row would come after 30 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ct_cmd_drop(cmd);
  EXPECT_EQ(tabtest::cancelledWaits(), before + 1);
  CtBatch next = client->run("select @@spid");
  EXPECT_FALSE(next.failed);
  EXPECT_EQ(next.sets.size(), 1u);
}

TEST_F(FreeTdsTest, CancelAfterTheReplyWasCompleteIsAcknowledged) {
  auto client = connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->connection(), &cmd), CS_SUCCEED);
  ASSERT_EQ(ct_command(cmd, CS_LANG_CMD, const_cast<char*>("multi"), CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  // The whole reply is on the wire before the attention goes out.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ALL), CS_SUCCEED);
  // An attention the server leaves unanswered holds ct_cancel without end.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ct_cmd_drop(cmd);
  CtBatch next = client->run("multi");
  EXPECT_FALSE(next.failed);
  EXPECT_EQ(next.rowCounts, (std::vector<int>{2, 5, 1}));
}

TEST_F(FreeTdsTest, OptionCommandsSetAndListSessionOptions) {
  auto client = connected();
  CS_CONNECTION* con = client->connection();
  CS_BOOL on = CS_TRUE, got = CS_FALSE;
  EXPECT_EQ(ct_options(con, CS_SET, CS_OPT_NOCOUNT, &on, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(ct_options(con, CS_GET, CS_OPT_NOCOUNT, &got, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(got, CS_TRUE);
  // With nocount on, DONE carries no count.
  EXPECT_TRUE(client->run("multi").rowCounts.empty());
  EXPECT_EQ(ct_options(con, CS_CLEAR, CS_OPT_NOCOUNT, &on, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(ct_options(con, CS_GET, CS_OPT_NOCOUNT, &got, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(got, CS_FALSE);

  EXPECT_EQ(ct_options(con, CS_SET, CS_OPT_ANSINULL, &on, CS_UNUSED, nullptr), CS_SUCCEED);
  got = CS_FALSE;
  EXPECT_EQ(ct_options(con, CS_GET, CS_OPT_ANSINULL, &got, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(got, CS_TRUE);

  CS_INT day = CS_OPT_MONDAY, gotDay = 0;
  EXPECT_EQ(ct_options(con, CS_SET, CS_OPT_DATEFIRST, &day, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(ct_options(con, CS_GET, CS_OPT_DATEFIRST, &gotDay, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(gotDay, CS_OPT_MONDAY);

  CS_INT format = CS_OPT_FMTDMY, gotFormat = 0;
  EXPECT_EQ(ct_options(con, CS_SET, CS_OPT_DATEFORMAT, &format, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(ct_options(con, CS_GET, CS_OPT_DATEFORMAT, &gotFormat, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(gotFormat, CS_OPT_FMTDMY);
  // The connection still runs batches after the option traffic.
  EXPECT_FALSE(client->run("select @@spid").failed);
}

TEST_F(FreeTdsTest, StopEndsLiveSessionsPromptly) {
  tabtest::StubEngine engine;
  LogCapture log;
  tabsrv::tds::Server server(engine, log.sink());
  server.start();
  writeConfig(dir_ / "second", server.port());
  {
    CtClient client;
    std::string error;
    ASSERT_TRUE(client.connect("TEST", "sa", "secret", &error)) << error;
    auto start = std::chrono::steady_clock::now();
    server.stop();
    // A session that is not woken keeps stop() waiting without end.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(log.waitFor("end: server shutdown"));
    EXPECT_EQ(server.activeConnections(), 0u);
    client.close();
  }
  writeConfig(dir_, server_->port());
}

TEST_F(FreeTdsTest, StopGivesUpOnAStuckSessionAtItsDeadline) {
  tabtest::StubEngine engine;
  LogCapture log;
  tabtest::releaseStuck(false);
  {
    tabsrv::tds::Server server(engine, log.sink());
    server.start();
    writeConfig(dir_ / "second", server.port());
    CtClient client;
    std::string error;
    ASSERT_TRUE(client.connect("TEST", "sa", "secret", &error)) << error;
    std::thread caller([&] { client.run("stuck"); });
    for (int i = 0; i < 500 && tabtest::stuckRunning() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(tabtest::stuckRunning(), 1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(server.stop(std::chrono::milliseconds(300)));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(290));
    // Past its deadline stop() would wait for the stuck batch, which never ends by itself.
    EXPECT_LT(took, std::chrono::seconds(5));
    caller.join();
    client.close();
    // The stuck thread was left behind; let it finish before the engine and the log go.
    tabtest::releaseStuck(true);
    EXPECT_TRUE(log.waitFor("end: server shutdown"));
    for (int i = 0; i < 200 && tabtest::stuckRunning() != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  writeConfig(dir_, server_->port());
}

}  // namespace
