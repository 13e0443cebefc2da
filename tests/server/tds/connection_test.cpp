// Sessions over the in-memory socket with the stub engine: the login reply byte for byte,
// a failed login, option command replies, requests that are refused, logout and attention.
#include "server/tds/connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "server/tds/memory_socket.h"
#include "tests/server/tds/stub_engine.h"
#include "tests/server/tds/wire_fixture.h"

namespace {

using namespace tabsrv;
using namespace tabsrv::tds;
using tabtest::ReplyToken;

ConnectionSettings quickSettings() {
  ConnectionSettings s;
  s.loginTimeoutMs = 500;
  s.packetTimeoutMs = 200;
  s.logoutWaitMs = 200;
  return s;
}

struct SessionRun {
  std::string reason;
  std::vector<ReplyToken> tokens;
  std::vector<std::string> log;
};

// Feeds the whole input, ends it, and runs the session to its end.
SessionRun runSession(const Bytes& input, ConnectionSettings settings = quickSettings()) {
  MemorySocket socket;
  tabtest::StubEngine engine;
  SessionRun run;
  socket.feed(input);
  socket.closeInput();
  Connection connection(
      socket, engine, [&](const std::string& l) { run.log.push_back(l); }, settings);
  run.reason = connection.run();
  run.tokens = tabtest::replyTokens(socket.takeOutput());
  return run;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<ReplyToken> after(const std::vector<ReplyToken>& tokens, size_t n) {
  return std::vector<ReplyToken>(tokens.begin() + static_cast<std::ptrdiff_t>(n), tokens.end());
}

TEST(Connection, LoginReplyIsWhatFreeTdsExpects) {
  tabtest::LoginFields f;
  f.packetSize = "2048";
  SessionRun run = runSession(concat({tabtest::loginPackets(f), tabtest::logoutPackets()}));
  EXPECT_EQ(run.reason, "logout");
  ASSERT_EQ(tabtest::tokenSequence(run.tokens), "AD E2 E3 E3 E3 FD FD");
  // LOGINACK: length 10 + name, status 5, TDS 5.0, "SQL Server", version 15.0.0.0.
  EXPECT_EQ(tabtest::hexBytes(run.tokens[0].bytes),
            "ad 14 00 05 05 00 00 00 0a 53 51 4c 20 53 65 72 76 65 72 0f 00 00 00");
  // CAPABILITY: the client's request with PROTO_DYNPROC (48), WIDETABLE (59) and the
  // parameter types past the classic ones (61-63, 71, 72, 93, 94) cleared.
  EXPECT_EQ(tabtest::hexBytes(Bytes(run.tokens[1].bytes.begin() + 3, run.tokens[1].bytes.begin() + 19)),
            "01 0e 00 00 00 08 80 01 00 0e 6d 7f ff ff ff fe");
  EXPECT_EQ(tabtest::hexBytes(run.tokens[2].bytes), "e3 09 00 01 06 6d 61 73 74 65 72 00");
  EXPECT_EQ(tabtest::hexBytes(run.tokens[3].bytes), "e3 07 00 03 04 75 74 66 38 00");
  EXPECT_EQ(tabtest::hexBytes(run.tokens[4].bytes), "e3 0a 00 04 04 32 30 34 38 03 35 31 32");
  EXPECT_EQ(run.tokens[5].doneStatus(), 0);
  ASSERT_FALSE(run.log.empty());
  EXPECT_NE(run.log.front().find("start: user=sa host=testhost program=tabtest process=4242 peer=memory"),
            std::string::npos);
  EXPECT_NE(run.log.back().find("end: logout"), std::string::npos);
}

TEST(Connection, FailedLoginSendsEedThenFailedAckAndAnswersTheLogout) {
  tabtest::LoginFields f;
  f.password = "nope";
  SessionRun run = runSession(concat({tabtest::loginPackets(f), tabtest::logoutPackets()}));
  EXPECT_EQ(run.reason, "login failed");
  ASSERT_EQ(tabtest::tokenSequence(run.tokens), "E5 AD FD FD");
  EXPECT_EQ(run.tokens[0].eedNumber(), 4002);
  EXPECT_EQ(run.tokens[0].eedText(), "Login failed.");
  EXPECT_EQ(run.tokens[1].bytes[3], 6);
}

TEST(Connection, OptionCommandsAnswerAsTheClientReads) {
  struct Case {
    const char* name;
    uint8_t command, option;
    Bytes argument;
    const char* sequence;
    const char* info;  // the OPTIONCMD answer, when there is one
    uint16_t done;
  } cases[] = {
      {"set nocount", 1, 21, {1}, "FD", nullptr, 0},
      {"list nocount", 3, 21, {}, "A6 FD", "a6 04 00 04 15 01 00", 0},
      {"list textsize", 3, 2, {}, "A6 FD", "a6 07 00 04 02 04 00 80 00 00", 0},
      {"set textsize", 1, 2, {0x00, 0x10, 0x00, 0x00}, "FD", nullptr, 0},
      {"list dateformat", 3, 7, {}, "A6 FD", "a6 04 00 04 07 01 01", 0},
      {"bad isolation", 1, 8, {9}, "E5 FD", nullptr, 0x02},
      {"unknown option list", 3, 99, {}, "A6 FD", "a6 03 00 04 63 00", 0},
      {"unknown option set", 1, 99, {1}, "FD", nullptr, 0},
      {"ansiperm without argument", 1, 0, {}, "FD", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionRun run =
        runSession(concat({tabtest::loginPackets(), tabtest::optionPackets(c.command, c.option, c.argument),
                           tabtest::logoutPackets()}));
    EXPECT_EQ(run.reason, "logout");
    auto reply = after(run.tokens, 6);
    ASSERT_GE(reply.size(), 1u);
    reply.pop_back();  // the logout's DONE
    EXPECT_EQ(tabtest::tokenSequence(reply), c.sequence);
    if (c.info) {
      EXPECT_EQ(tabtest::hexBytes(reply[0].bytes), c.info);
    }
    EXPECT_EQ(reply.back().doneStatus(), c.done);
  }
}

TEST(Connection, RefusedRequestsFailAloneAndTheSessionGoesOn) {
  struct Case {
    const char* name;
    Bytes request;
    int32_t number;
    uint8_t doneToken;
  } cases[] = {
      // The stub leaves unknown procedures to Session's default implementation.
      {"rpc the session does not serve",
       tabtest::packets(15, {0xE6, 0x09, 0x00, 0x06, 's', 'p', '_', 'w', 'h', 'o', 0x00, 0x00}), 2812, 0xFE},
      {"close of an unknown cursor", tabtest::packets(15, {0x80, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01}),
       557, 0xFD},
      {"fetch of an unknown cursor name",
       tabtest::packets(15, {0x82, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 'c', 0x01}), 557, 0xFD},
      {"execute of an unknown statement",
       tabtest::packets(15, {0xE7, 0x07, 0x00, 0x02, 0x00, 0x02, 's', '1', 0x00, 0x00}), 7901, 0xFD},
      {"positioned delete", tabtest::packets(15, {0x81, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}), 2812,
       0xFD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionRun run = runSession(concat(
        {tabtest::loginPackets(), c.request, tabtest::languagePackets("multi"), tabtest::logoutPackets()}));
    EXPECT_EQ(run.reason, "logout");
    auto reply = after(run.tokens, 6);
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ(reply[0].eedNumber(), c.number);
    EXPECT_EQ(reply[1].token, c.doneToken);
    EXPECT_EQ(reply[1].doneStatus(), 0x02);
    EXPECT_EQ(tabtest::tokenSequence(after(reply, 2)), "EE D1 D1 FD FD EE D1 FD FD");
  }
}

TEST(Connection, ReplyWithoutDoneStillEndsWithAFinalDone) {
  SessionRun run = runSession(
      concat({tabtest::loginPackets(), tabtest::languagePackets("nodone"), tabtest::logoutPackets()}));
  EXPECT_EQ(tabtest::tokenSequence(after(run.tokens, 6)), "EE D1 FD FD");
  EXPECT_EQ(run.tokens[8].doneStatus(), 0);
}

TEST(Connection, AttentionWhenIdleIsAcknowledged) {
  SessionRun run =
      runSession(concat({tabtest::loginPackets(), tabtest::attentionPacket(), tabtest::logoutPackets()}));
  EXPECT_EQ(run.reason, "logout");
  auto reply = after(run.tokens, 6);
  ASSERT_EQ(reply.size(), 2u);
  EXPECT_EQ(reply[0].doneStatus(), 0x20);
}

TEST(Connection, AttentionCrossingAShortReplyGetsOneAttentionDoneAndTheSessionStaysInStep) {
  // The attention is already waiting when the request starts; a reply this short may go out
  // whole before the attention is read. Either way exactly one DONE(ATTN) follows the first
  // request, and the next request is answered normally after it.
  SessionRun run = runSession(concat({tabtest::loginPackets(), tabtest::languagePackets("multi"),
                                      tabtest::attentionPacket(), tabtest::languagePackets("multi"),
                                      tabtest::logoutPackets()}));
  EXPECT_EQ(run.reason, "logout");
  auto reply = after(run.tokens, 6);
  size_t attentions = 0, at = 0;
  for (size_t i = 0; i < reply.size(); ++i)
    if (reply[i].token == 0xFD && (reply[i].doneStatus() & 0x20)) ++attentions, at = i;
  ASSERT_EQ(attentions, 1u);
  auto rest = after(reply, at + 1);
  EXPECT_EQ(tabtest::tokenSequence(rest), "EE D1 D1 FD FD EE D1 FD FD");
  for (size_t i = 0; i < at; ++i) EXPECT_FALSE(reply[i].token == 0xFD && (reply[i].doneStatus() & 0x20));
}

TEST(Connection, AttentionDuringABatchStopsItWithOneAttentionDone) {
  MemorySocket socket;
  tabtest::StubEngine engine;
  Connection connection(socket, engine, {}, quickSettings());
  std::string reason;
  std::thread session([&] { reason = connection.run(); });
  socket.feed(tabtest::loginPackets());
  ASSERT_TRUE(socket.waitForOutput(1, 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  socket.takeOutput();
  socket.feed(tabtest::languagePackets("waitfor"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto start = std::chrono::steady_clock::now();
  socket.feed(tabtest::attentionPacket());
  // Unread, the attention would leave the stub's wait running for 30 s.
  EXPECT_TRUE(socket.waitForOutput(9, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  socket.feed(tabtest::logoutPackets());
  socket.closeInput();
  session.join();
  EXPECT_EQ(reason, "logout");
  auto tokens = tabtest::replyTokens(socket.takeOutput());
  ASSERT_EQ(tabtest::tokenSequence(tokens), "FD FD");
  EXPECT_EQ(tokens[0].doneStatus(), 0x20);
}

TEST(Connection, ClientWritesFailingEndTheSessionAsClosed) {
  MemorySocket socket;
  tabtest::StubEngine engine;
  // The client resets the connection while a long result streams out, at a fixed point of it: a
  // reset from another thread could come only after the whole reply on a loaded machine, and the
  // session would then rightly wait for the next request.
  socket.feed(concat({tabtest::loginPackets(), tabtest::languagePackets("bigrows 20000")}));
  socket.failWritesAfter(20000);
  Connection connection(socket, engine, {}, quickSettings());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(connection.run(), "client closed");
  // A session that does not see the failed writes waits for the next request without end.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(Connection, RequestOverTheCapIsRefusedAndTheSessionGoesOn) {
  ConnectionSettings settings = quickSettings();
  settings.maxMessage = 64 * 1024;
  const std::string big = "select '" + std::string(70 * 1024, 'x') + "'";
  SessionRun run = runSession(concat({tabtest::loginPackets(), tabtest::languagePackets(big),
                                      tabtest::languagePackets("multi"), tabtest::logoutPackets()}),
                              settings);
  EXPECT_EQ(run.reason, "logout");
  auto reply = after(run.tokens, 6);
  ASSERT_GE(reply.size(), 2u);
  EXPECT_EQ(reply[0].eedNumber(), kRequestTooLargeNumber);
  EXPECT_EQ(reply[1].token, 0xFD);
  EXPECT_EQ(reply[1].doneStatus(), 0x02);
  EXPECT_EQ(tabtest::tokenSequence(after(reply, 2)), "EE D1 D1 FD FD EE D1 FD FD");
  bool logged = false;
  for (const auto& line : run.log) logged = logged || line.find("refused (limit 65536)") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST(Connection, LoginHasOneDeadlineHoweverSlowlyItsBytesCome) {
  ConnectionSettings settings = quickSettings();
  settings.loginTimeoutMs = 400;
  settings.packetTimeoutMs = 300;  // each byte comes well inside this
  MemorySocket socket;
  tabtest::StubEngine engine;
  std::atomic<bool> stop{false};
  const Bytes login = tabtest::loginPackets();
  std::thread drip([&] {
    for (size_t i = 0; i < login.size() && !stop; ++i) {
      socket.feed(Bytes{login[i]});
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  std::vector<std::string> log;
  Connection connection(
      socket, engine, [&](const std::string& l) { log.push_back(l); }, settings);
  auto start = std::chrono::steady_clock::now();
  std::string reason = connection.run();
  auto took = std::chrono::steady_clock::now() - start;
  stop = true;
  drip.join();
  EXPECT_EQ(reason, "timeout: login not complete in time");
  // A deadline restarted by each byte or packet would let the drip go on for about 30 s.
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_GE(took, std::chrono::milliseconds(350));
}

}  // namespace
