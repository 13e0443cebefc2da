// Hostile input: a table of malformed, truncated and oversized packets, and thousands of
// random bit flips of a real login and language exchange. Every case must end only its own
// session with a logged reason, quickly, and leave well-framed output behind.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>

#include "server/tds/connection.h"
#include "server/tds/memory_socket.h"
#include "tests/server/tds/stub_engine.h"
#include "tests/server/tds/wire_fixture.h"

namespace {

using namespace tabsrv;
using namespace tabsrv::tds;

ConnectionSettings quickSettings() {
  ConnectionSettings s;
  s.loginTimeoutMs = 200;
  s.packetTimeoutMs = 100;
  s.logoutWaitMs = 100;
  s.maxMessage = 64 * 1024;
  s.maxDiscard = 96 * 1024;
  return s;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Outcome {
  std::string reason;
  std::vector<std::string> log;
  Bytes output;
};

Outcome run(const Bytes& input) {
  MemorySocket socket;
  tabtest::StubEngine engine;
  socket.feed(input);
  socket.closeInput();
  Outcome o;
  Connection connection(
      socket, engine, [&](const std::string& l) { o.log.push_back(l); }, quickSettings());
  o.reason = connection.run();
  o.output = socket.takeOutput();
  return o;
}

TEST(Robustness, MalformedPacketsEndTheSessionWithAReason) {
  const Bytes login = tabtest::loginPackets();
  Bytes shortLogin = tabtest::loginRecord();
  shortLogin.resize(200);
  Bytes manyPackets;
  for (int i = 0; i < 200; ++i)
    manyPackets = concat({manyPackets, Bytes{15, 0, 0x02, 0x00, 0, 0, 0, 0}, Bytes(504, 0x21)});
  struct Case {
    const char* name;
    Bytes input;
    const char* reason;  // prefix of the end reason
  } cases[] = {
      {"unknown packet type", {9, 1, 0, 8, 0, 0, 0, 0}, "bad packet: unknown packet type 9"},
      {"length below the header", {2, 1, 0, 4, 0, 0, 0, 0}, "bad packet: packet length 4 below 8"},
      {"truncated header", {2, 1, 0}, "bad packet: stream ends inside a packet"},
      {"truncated body", {2, 1, 0, 100, 0, 0, 0, 0, 1, 2, 3}, "bad packet: stream ends inside a packet"},
      {"request before login", tabtest::languagePackets("select 1"), "bad packet: expected a login record"},
      {"login record too short", tabtest::packets(2, shortLogin), "bad packet: login record of 200 bytes"},
      {"packet above the packet size",
       concat({login, Bytes{15, 1, 0x08, 0x00, 0, 0, 0, 0}, Bytes(2040, 0x21)}),
       "bad packet: packet length 2048 above the packet size 512"},
      {"type changes inside a message",
       concat({login, Bytes{15, 0, 0, 9, 0, 0, 0, 0, 0x21}, Bytes{2, 1, 0, 8, 0, 0, 0, 0}}),
       "bad packet: packet type changes"},
      // A request past the cap is read on and dropped, up to a second cap that ends the session.
      {"message over both caps", concat({login, manyPackets}), "bad packet: message larger than 98304 bytes"},
      {"login record over its cap", tabtest::packets(2, Bytes(64 * 1024, 0)),
       "bad packet: message larger than 8192 bytes"},
      {"language length past the message",
       concat({login, tabtest::packets(15, {0x21, 0xff, 0xff, 0xff, 0x7f, 0x00, 's'})}),
       "bad packet: language token length"},
      {"unknown request token", concat({login, tabtest::packets(15, {0x55, 0x00})}),
       "bad packet: unknown request token 0x55"},
      {"option length disagrees",
       concat({login, tabtest::packets(15, {0xA6, 0x04, 0x00, 0x01, 0x15, 0x02, 0x01})}),
       "bad packet: option argument length"},
      {"rpc length past the message", concat({login, tabtest::packets(15, {0xE6, 0xff, 0x00, 0x01})}),
       "bad packet: rpc token length 255"},
      {"empty request", concat({login, tabtest::packets(15, {})}), "bad packet: empty request"},
      {"login again", concat({login, login}), "bad packet: packet type 2 after login"},
      {"silence before the login", {}, "client closed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o = run(c.input);
    EXPECT_EQ(o.reason.rfind(c.reason, 0), 0u) << o.reason;
    ASSERT_FALSE(o.log.empty());
    EXPECT_NE(o.log.back().find(o.reason), std::string::npos);
    tabtest::splitPackets(o.output);
  }
}

// Requests of the RPC, cursor and dynamic families whose lengths or parameters do not hold
// together: each ends the session with its reason, and nothing runs half-read.
TEST(Robustness, MalformedRequestTokensEndTheSessionWithAReason) {
  using tabtest::WireParam;
  const Bytes login = tabtest::loginPackets();
  const Bytes intParams = tabtest::paramTokens({{"@a", 0, 0x26, {4}, {4, 1, 0, 0, 0}}});
  auto request = [&](const Bytes& tokens) {
    return concat(
        {login, tabtest::packets(15, tokens), tabtest::languagePackets("multi"), tabtest::logoutPackets()});
  };
  auto patched = [](Bytes b, size_t at, uint8_t v) {
    b[at] = v;
    return b;
  };
  Bytes declareWithTail = tabtest::curDeclareToken("c", "numbers 3");
  declareWithTail[1] += 1;
  declareWithTail.push_back(0x00);
  Bytes rowsWithTail = tabtest::curRowsToken("c", 2);
  rowsWithTail[1] += 1;
  rowsWithTail.push_back(0x00);
  Bytes dynamic2 = {0x62, 0xff, 0xff, 0x00, 0x00, 0x01, 0x00};
  struct Case {
    const char* name;
    Bytes input;
    const char* reason;
  } cases[] = {
      {"rpc announces parameters that are missing", request(tabtest::rpcToken("echo", true)),
       "bad packet: rpc token announces parameters"},
      {"rpc name past its token", request({0xE6, 0x03, 0x00, 0x05, 'a', 0x00}),
       "bad packet: token data ends early"},
      {"rpc token longer than its fields", request({0xE6, 0x05, 0x00, 0x01, 'a', 0x00, 0x00, 0x00}),
       "bad packet: rpc token length disagrees"},
      {"rpc parameters cut inside a value",
       request(concat({tabtest::rpcToken("echo", true), Bytes(intParams.begin(), intParams.end() - 2)})),
       "bad packet: token data ends early"},
      {"parameter of an unknown type",
       request(concat({tabtest::rpcToken("echo", true), tabtest::paramTokens({{"@a", 0, 0x99, {}, {}}})})),
       "bad packet: unknown parameter type 0x99"},
      {"language announces parameters that are missing", request({0x21, 0x02, 0x00, 0x00, 0x00, 0x01, 'x'}),
       "bad packet: language token announces parameters"},
      {"parameter values without a format", request(concat({{0xD7}, Bytes{4, 1, 0, 0, 0}})),
       "bad packet: unknown request token 0xD7"},
      {"cursor declare past the message",
       request(patched(tabtest::curDeclareToken("c", "numbers 3"), 1, 0x7f)),
       "bad packet: cursor declare token length"},
      {"cursor declare statement past its token",
       request(patched(tabtest::curDeclareToken("c", "numbers 3"), 7, 0x40)),
       "bad packet: token data ends early"},
      {"cursor declare with bytes left over", request(declareWithTail),
       "bad packet: cursor declare token length disagrees"},
      {"cursor rows with bytes left over",
       request(concat({tabtest::curDeclareToken("c", "numbers 3"), rowsWithTail})),
       "bad packet: cursor info token length disagrees"},
      {"cursor fetch token too short", request({0x82, 0x02, 0x00, 0x00, 0x00}),
       "bad packet: cursor fetch token length 2"},
      {"cursor open announces parameters that are missing",
       request(concat(
           {tabtest::curDeclareToken("c", "numbers 3"), patched(tabtest::curOpenToken("c"), 9, 0x01)})),
       "bad packet: cursor open announces parameters"},
      {"cursor close cut short", request({0x80, 0x05, 0x00, 0x64, 0x00}),
       "bad packet: cursor close token length"},
      {"dynamic past the message", request(patched(tabtest::dynamicToken(1, 0, "s1", "select 1"), 1, 0x7f)),
       "bad packet: dynamic token length"},
      {"dynamic announces parameters that are missing", request(tabtest::dynamicToken(2, 1, "s1")),
       "bad packet: dynamic token announces parameters"},
      {"dynamic statement past its token",
       request(patched(tabtest::dynamicToken(1, 0, "s1", "select 1"), 8, 0x40)),
       "bad packet: token data ends early"},
      {"dynamic2 past the message", request(dynamic2), "bad packet: dynamic token length"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o = run(c.input);
    EXPECT_EQ(o.reason.rfind(c.reason, 0), 0u) << o.reason;
    ASSERT_FALSE(o.log.empty());
    EXPECT_NE(o.log.back().find(o.reason), std::string::npos);
    tabtest::splitPackets(o.output);
  }
}

TEST(Robustness, RandomBitFlipsInProcedureCursorAndDynamicRequests) {
  const Bytes exchange =
      concat({tabtest::loginPackets(),
              tabtest::packets(
                  15, concat({tabtest::rpcToken("echo", true),
                              tabtest::paramTokens({{"@a", 1, 0x26, {4}, {4, 1, 0, 0, 0}},
                                                    {"@b", 0, 0x27, {10}, {2, 'h', 'i'}},
                                                    {"@c", 0, 0x6C, {6, 10, 2}, {6, 0, 0, 0, 0, 1, 2}}})})),
              tabtest::packets(15, concat({tabtest::curDeclareToken("c", "numbers 4"),
                                           tabtest::curRowsToken("c", 2), tabtest::curOpenToken("c")})),
              tabtest::packets(15, tabtest::curFetchToken(0, "c")),
              tabtest::packets(15, tabtest::curCloseToken(100, true)),
              tabtest::packets(15, tabtest::dynamicToken(1, 0, "s1", "numbers where ? < n and n <= ?")),
              tabtest::packets(15, concat({tabtest::dynamicToken(2, 1, "s1"),
                                           tabtest::paramTokens({{"", 0, 0x26, {4}, {4, 0, 0, 0, 0}},
                                                                 {"", 0, 0x26, {4}, {4, 2, 0, 0, 0}}})})),
              tabtest::packets(15, tabtest::dynamicToken(4, 0, "s1")), tabtest::logoutPackets()});
  std::mt19937 random(20261210);
  std::uniform_int_distribution<size_t> position(0, exchange.size() - 1);
  std::uniform_int_distribution<int> bit(0, 7), flips(1, 3);
  std::map<std::string, int> reasons;
  for (int i = 0; i < 2000; ++i) {
    Bytes input = exchange;
    int n = flips(random);
    for (int k = 0; k < n; ++k) input[position(random)] ^= static_cast<uint8_t>(1u << bit(random));
    auto start = std::chrono::steady_clock::now();
    Outcome o = run(input);
    // The session's own limits (200 ms login, 100 ms packet and logout wait) end any case in a few
    // hundred ms; a case that fell back on a default limit would take 5 s or more.
    ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000)) << "case " << i;
    ASSERT_FALSE(o.reason.empty()) << "case " << i;
    tabtest::splitPackets(o.output);
    if (::testing::Test::HasFailure()) FAIL() << "case " << i << " ended with " << o.reason;
    ++reasons[o.reason.substr(0, o.reason.find(':'))];
  }
  EXPECT_GT(reasons["logout"], 200);
  EXPECT_GT(reasons["bad packet"], 200);
}

TEST(Robustness, RandomBitFlipsNeverCrashOrHang) {
  const Bytes exchange =
      concat({tabtest::loginPackets(), tabtest::languagePackets("types"), tabtest::optionPackets(3, 2, {}),
              tabtest::languagePackets("multi"), tabtest::logoutPackets()});
  std::mt19937 random(20240611);
  std::uniform_int_distribution<size_t> position(0, exchange.size() - 1);
  std::uniform_int_distribution<int> bit(0, 7), flips(1, 4);
  // As above: the session's own limits end a case in a few hundred ms, a default one takes 5 s or more.
  const auto slowest = std::chrono::milliseconds(3000);
  std::map<std::string, int> reasons;
  for (int i = 0; i < 3000; ++i) {
    Bytes input = exchange;
    int n = flips(random);
    for (int k = 0; k < n; ++k) input[position(random)] ^= static_cast<uint8_t>(1u << bit(random));
    auto start = std::chrono::steady_clock::now();
    Outcome o = run(input);
    auto took = std::chrono::steady_clock::now() - start;
    ASSERT_LT(took, slowest) << "case " << i;
    ASSERT_FALSE(o.reason.empty()) << "case " << i;
    ASSERT_FALSE(o.log.empty()) << "case " << i;
    tabtest::splitPackets(o.output);
    if (::testing::Test::HasFailure()) FAIL() << "case " << i << " ended with " << o.reason;
    ++reasons[o.reason.substr(0, o.reason.find(':'))];
  }
  // The flips must reach every stage: most sessions still log out, many hit a bad packet.
  EXPECT_GT(reasons["logout"], 300);
  EXPECT_GT(reasons["bad packet"], 200);
}

}  // namespace
