// Replies to RPC, cursor, dynamic-statement and parameterised language requests, byte for
// byte over the in-memory socket with the stub engine: token order, exact CURINFO and DYNAMIC
// lengths, cursor status bits, DONE bits and counts, compute tokens and the text size cut.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "server/tds/connection.h"
#include "server/tds/memory_socket.h"
#include "server/tds/reply_writer.h"
#include "tests/server/tds/stub_engine.h"
#include "tests/server/tds/wire_fixture.h"

namespace {

using namespace tabsrv;
using namespace tabsrv::tds;
using tabtest::ReplyToken;
using tabtest::WireParam;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// An INTN value as FreeTDS sends CS_INT parameters: length 4, then the value.
Bytes intValue(int32_t v) {
  Bytes b = {4};
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  return b;
}

ColumnDesc intColumn(const std::string& name) {
  ColumnDesc c;
  c.name = name;
  c.type = TypeDesc{SqlType::Int, 4};
  return c;
}

// A LANGUAGE token (4-byte length, status, text).
Bytes languageToken(const std::string& sql, uint8_t status = 0) {
  Bytes b = {0x21};
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>((sql.size() + 1) >> (8 * i)));
  b.push_back(status);
  b.insert(b.end(), sql.begin(), sql.end());
  return b;
}

uint32_t le32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                               (static_cast<uint32_t>(b[at + 3]) << 24));
}

// Runs a session over the given requests (login first, logout last) and returns the replies,
// one token list per request, the login's and the logout's left out.
std::vector<std::vector<ReplyToken>> replies(const std::vector<Bytes>& requests) {
  MemorySocket socket;
  tabtest::StubEngine engine;
  Bytes input = tabtest::loginPackets();
  for (const Bytes& r : requests) input = concat({input, tabtest::packets(15, r)});
  input = concat({input, tabtest::logoutPackets()});
  socket.feed(input);
  socket.closeInput();
  Connection connection(socket, engine, {});
  EXPECT_EQ(connection.run(), "logout");
  std::vector<std::vector<ReplyToken>> out(1);
  auto tokens = tabtest::replyTokens(socket.takeOutput());
  // Each reply ends with the one DONE that lacks MORE.
  for (const ReplyToken& t : tokens) {
    out.back().push_back(t);
    if (t.token >= 0xFD && !(t.doneStatus() & 0x01)) out.emplace_back();
  }
  out.pop_back();          // the empty list after the logout's DONE
  out.pop_back();          // the logout
  out.erase(out.begin());  // the login
  EXPECT_EQ(out.size(), requests.size());
  out.resize(requests.size());
  return out;
}

std::vector<uint16_t> doneStatuses(const std::vector<ReplyToken>& tokens) {
  std::vector<uint16_t> s;
  for (const auto& t : tokens)
    if (t.token >= 0xFD) s.push_back(t.doneStatus());
  return s;
}

TEST(CursorRequests, DeclareRowsOpenFetchCloseAnswerAsFreeTdsExpects) {
  const int before = tabtest::liveCursors();
  auto r = replies({
      concat({tabtest::curDeclareToken("c1", "numbers 5"), tabtest::curRowsToken("c1", 2),
              tabtest::curOpenToken("c1")}),
      tabtest::curFetchToken(0, "c1"),
      tabtest::curFetchToken(0, "c1"),
      tabtest::curFetchToken(0, "c1"),
      tabtest::curFetchToken(0, "c1"),
      tabtest::curCloseToken(100, false),
      tabtest::curCloseToken(100, true),
  });
  // Each cursor command gets its own DONE; only the last lacks MORE.
  const auto& open = r[0];
  ASSERT_EQ(tabtest::tokenSequence(open), "83 FD 83 FD 83 EE FD");
  EXPECT_EQ(doneStatuses(open), (std::vector<uint16_t>{0x01, 0x01, 0x00}));
  // CURINFO: id, command 3, status, and the row count only after set rows (length 11, else 7).
  EXPECT_EQ(tabtest::hexBytes(open[0].bytes), "83 07 00 64 00 00 00 03 0d 00");
  EXPECT_EQ(tabtest::hexBytes(open[2].bytes), "83 0b 00 64 00 00 00 03 2d 00 02 00 00 00");
  EXPECT_EQ(open[4].curInfoStatus(), 0x2A);  // open, read-only, row count set

  // Fetches: at most 2 rows, no ROWFMT; the empty one carries the total.
  EXPECT_EQ(tabtest::tokenSequence(r[1]), "D1 D1 FD");
  EXPECT_EQ(r[1].back().doneCount(), 2);
  EXPECT_EQ(tabtest::tokenSequence(r[2]), "D1 D1 FD");
  EXPECT_EQ(tabtest::tokenSequence(r[3]), "D1 FD");
  EXPECT_EQ(tabtest::tokenSequence(r[4]), "FD");
  EXPECT_EQ(r[4].back().doneStatus(), 0x10);
  EXPECT_EQ(r[4].back().doneCount(), 5);

  ASSERT_EQ(tabtest::tokenSequence(r[5]), "83 FD");
  EXPECT_EQ(r[5][0].curInfoStatus(), 0x2D);  // declared and closed again
  ASSERT_EQ(tabtest::tokenSequence(r[6]), "83 FD");
  EXPECT_EQ(r[6][0].curInfoStatus(), 0x44);  // closed and deallocated
  EXPECT_EQ(tabtest::liveCursors(), before);
}

TEST(CursorRequests, TwoCursorsKeepTheirOwnRowsAndFailuresStayWithTheirCommand) {
  auto r = replies({
      concat({tabtest::curDeclareToken("a", "numbers 3"), tabtest::curOpenToken("a")}),
      concat({tabtest::curDeclareToken("b", "numbers 2"), tabtest::curRowsToken("b", 5),
              tabtest::curOpenToken("b")}),
      tabtest::curFetchToken(0, "a"),
      tabtest::curFetchToken(0, "b"),
      tabtest::curFetchToken(0, "a"),
      // A second declaration of "a", a fetch before the open and an unknown table each fail alone.
      concat({tabtest::curDeclareToken("a", "numbers 1"), tabtest::curDeclareToken("x", "nosuch")}),
      concat({tabtest::curCloseToken(100, true), tabtest::curFetchToken(0, "a")}),
  });
  EXPECT_EQ(tabtest::tokenSequence(r[0]), "83 FD 83 EE FD");
  EXPECT_EQ(r[1][0].curInfoId(), 101);
  EXPECT_EQ(tabtest::tokenSequence(r[2]), "D1 FD");  // rows not set: one per fetch
  EXPECT_EQ(tabtest::tokenSequence(r[3]), "D1 D1 FD");
  EXPECT_EQ(tabtest::tokenSequence(r[4]), "D1 FD");
  ASSERT_EQ(tabtest::tokenSequence(r[5]), "E5 FD E5 FD");
  EXPECT_EQ(r[5][0].eedNumber(), 558);
  EXPECT_EQ(r[5][2].eedNumber(), 208);
  EXPECT_EQ(doneStatuses(r[5]), (std::vector<uint16_t>{0x03, 0x02}));
  ASSERT_EQ(tabtest::tokenSequence(r[6]), "83 FD E5 FD");
  EXPECT_EQ(r[6][2].eedNumber(), 557);  // "a" is gone after close with dealloc
}

TEST(CursorRequests, ForUpdateIsReadFromTheStatement) {
  struct Case {
    const char* name;
    const char* sql;
    bool forUpdate;
  } cases[] = {
      {"read-only select", "select a from t", false},
      {"for update", "select a from t for update", true},
      {"for update of columns", "select a, b from t\nFOR  UPDATE OF b", true},
      {"for read only", "select a from t for read only", false},
      {"inside a literal", "select a from t where b = ' for update'", false},
      {"inside a comment", "select a from t -- for update", false},
      {"a column named update_date", "select a from t for update_date", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(declaresForUpdate(c.sql), c.forUpdate);
  }
  // The declare reply's status says updatable for such a cursor.
  auto r = replies({tabtest::curDeclareToken("u", "select n from numbers 3 for update")});
  ASSERT_EQ(tabtest::tokenSequence(r[0]), "83 FD");
  EXPECT_EQ(r[0][0].curInfoStatus(), 0x15);  // declared, closed, updatable
}

TEST(DynamicRequests, PrepareExecuteDeallocate) {
  const int before = tabtest::livePrepared();
  const std::string sql = "select n from numbers where ? < n and n <= ?";
  auto exec = [](int lo, int hi) {
    return concat(
        {tabtest::dynamicToken(0x02, 0x01, "s1"),
         tabtest::paramTokens({{"", 0, 0x26, {4}, intValue(lo)}, {"", 0, 0x26, {4}, intValue(hi)}})});
  };
  auto r = replies({
      tabtest::dynamicToken(0x01, 0, "s1", sql),
      exec(0, 2),
      exec(3, 6),
      exec(7, 7),
      tabtest::dynamicToken(0x04, 0, "s1"),
      tabtest::dynamicToken(0x01, 0, "s2", "bad"),
      exec(0, 1),
  });
  ASSERT_EQ(tabtest::tokenSequence(r[0]), "E7 EC EE FD");
  // The acknowledgement's length is exactly 3 + id length.
  EXPECT_EQ(tabtest::hexBytes(r[0][0].bytes), "e7 05 00 20 00 02 73 31");
  EXPECT_EQ(r[0][1].bytes[3], 2);  // two input parameters
  EXPECT_EQ(tabtest::tokenSequence(r[1]), "EE D1 D1 FD");
  EXPECT_EQ(tabtest::tokenSequence(r[2]), "EE D1 D1 D1 FD");
  EXPECT_EQ(r[2].back().doneCount(), 3);
  // No rows: the result's DONE becomes DONEINPROC and a final DONE follows, or ct_fetch blocks.
  ASSERT_EQ(tabtest::tokenSequence(r[3]), "EE FF FD");
  EXPECT_EQ(r[3][1].doneStatus(), 0x11);
  EXPECT_EQ(r[3][2].doneStatus(), 0x10);
  EXPECT_EQ(r[3][2].doneCount(), 0);
  EXPECT_EQ(tabtest::hexBytes(r[4][0].bytes), "e7 05 00 20 00 02 73 31");
  EXPECT_EQ(tabtest::tokenSequence(r[4]), "E7 FD");
  // A failed prepare sends no acknowledgement and ends with DONEPROC(ERROR); an execute after
  // dealloc fails.
  ASSERT_EQ(tabtest::tokenSequence(r[5]), "E5 FE");
  EXPECT_EQ(r[5][1].doneStatus(), 0x02);
  EXPECT_EQ(r[5][0].eedNumber(), 102);
  ASSERT_EQ(tabtest::tokenSequence(r[6]), "E5 FD");
  EXPECT_EQ(r[6].back().doneStatus(), 0x02);
  EXPECT_EQ(tabtest::livePrepared(), before);
}

TEST(DynamicRequests, PrepareTextLosesTheCreateProcPrefixOnly) {
  struct Case {
    const char* name;
    const char* statement;
    const char* id;
    const char* expected;
  } cases[] = {
      {"plain", "select 1", "s1", "select 1"},
      {"prefixed", "create proc s1 as select ?", "s1", "select ?"},
      {"prefix in other case", "CREATE PROCEDURE s1 AS select 1", "s1", "select 1"},
      {"another id", "create proc s2 as select 1", "s1", "create proc s2 as select 1"},
      {"a real create proc", "create proc p as select 1", "s1", "create proc p as select 1"},
      {"id without as", "create proc s1 select 1", "s1", "create proc s1 select 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(preparedText(c.statement, c.id), c.expected);
  }
}

TEST(RpcRequests, ProcedureRepliesKeepStatusAndParametersNextToDoneProc) {
  auto rpc = [](const std::string& name, const Bytes& params) {
    return concat({tabtest::rpcToken(name, !params.empty()), params});
  };
  auto r = replies({
      rpc("two_in_one_out", tabtest::paramTokens({{"@a", 0, 0x26, {4}, intValue(21)},
                                                  {"@b", 0, 0x27, {30}, {2, 'h', 'i'}},
                                                  {"@out", 1, 0x26, {4}, {0}}})),
      rpc("minus_one", {}),
      rpc("nosuch", {}),
  });
  ASSERT_EQ(tabtest::tokenSequence(r[0]), "EE D1 FF 79 EC D7 FE");
  EXPECT_EQ(r[0][2].doneStatus(), 0x11);  // DONEINPROC: MORE | COUNT
  EXPECT_EQ(tabtest::hexBytes(r[0][3].bytes), "79 05 00 00 00");
  EXPECT_EQ(tabtest::hexBytes(r[0][5].bytes), "d7 04 2a 00 00 00");  // @out = 42
  EXPECT_EQ(r[0][6].doneStatus(), 0x00);
  EXPECT_EQ(tabtest::hexBytes(r[1][0].bytes), "79 ff ff ff ff");
  ASSERT_EQ(tabtest::tokenSequence(r[2]), "E5 FE");
  EXPECT_EQ(r[2][0].eedNumber(), 2812);
  EXPECT_EQ(r[2][1].doneStatus(), 0x02);
}

TEST(RpcRequests, LanguageParametersReachTheSession) {
  Bytes lang = languageToken("select @P1, @P2", 1);
  auto r = replies({concat(
      {lang, tabtest::paramTokens({{"@P1", 0, 0x26, {4}, intValue(7)}, {"@P2", 0, 0x27, {10}, {0}}})})});
  ASSERT_EQ(tabtest::tokenSequence(r[0]), "EE D1 FD");
  // The stub echoes the values: 7, then a NULL varchar.
  const Bytes& row = r[0][1].bytes;
  EXPECT_EQ(tabtest::hexBytes(Bytes(row.begin() + 1, row.end())), "04 07 00 00 00 00");
}

TEST(ReplyWriterOrder, StatusAndParametersGoDirectlyBeforeTheirDone) {
  struct Case {
    const char* name;
    std::function<void(ReplyWriter&)> run;
    const char* sequence;
  } cases[] = {
      {"parameters before the status",
       [](ReplyWriter& w) {
         w.outputParams({intColumn("@x")}, {int64_t{1}});
         w.returnStatus(3);
         w.done(DoneKind::DoneProc, false, -1);
       },
       "79 EC D7 FE"},
      {"a message after the status",
       [](ReplyWriter& w) {
         w.returnStatus(3);
         w.message(ServerMessage{0, 1, 0, "late print", "", 1});
         w.done(DoneKind::DoneProc, false, -1);
       },
       "E5 79 FE"},
      {"status after the last done",
       [](ReplyWriter& w) {
         w.done(DoneKind::DoneProc, false, -1);
         w.returnStatus(3);
       },
       "79 FE"},
      {"no done at all", [](ReplyWriter& w) { w.returnStatus(-1); }, "79 FD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySocket socket;
    PacketWriter writer(socket);
    ReplyWriter reply(writer, "S", nullptr);
    c.run(reply);
    reply.finish();
    auto tokens = tabtest::replyTokens(socket.takeOutput());
    EXPECT_EQ(tabtest::tokenSequence(tokens), c.sequence);
    EXPECT_EQ(tokens.back().doneStatus() & 0x01, 0);
  }
}

TEST(ComputeRows, AltNameAndAltFmtFollowTheRowFormatAndAltRowsFollowTheirRows) {
  auto r = replies({languageToken("compute")});
  ASSERT_EQ(tabtest::tokenSequence(r[0]), "EE A7 A8 D1 D1 D3 D1 D3 FD");
  // ALTNAME: id 1, two empty names. ALTFMT: id 1, two columns (sum and max of column 2, INTN 4),
  // BY list of one column, column 1.
  EXPECT_EQ(tabtest::hexBytes(r[0][1].bytes), "a7 04 00 01 00 00 00");
  EXPECT_EQ(tabtest::hexBytes(r[0][2].bytes),
            "a8 17 00 01 00 02 4d 02 00 00 00 00 26 04 00 52 02 00 00 00 00 26 04 00 01 01");
  EXPECT_EQ(tabtest::hexBytes(r[0][5].bytes), "d3 01 00 04 1e 00 00 00 04 14 00 00 00");
}

TEST(ComputeRows, ComputesThatFreeTdsCannotReadAreRefused) {
  struct Case {
    const char* name;
    std::vector<ComputeColumn> columns;
    std::vector<uint8_t> byList;
  } cases[] = {
      {"operand 0", {{intColumn(""), 0x4D, 0}}, {}},
      {"operand past the select list", {{intColumn(""), 0x4D, 3}}, {}},
      {"BY column past the select list", {{intColumn(""), 0x4B, 1}}, {3}},
      {"no columns", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySocket socket;
    PacketWriter writer(socket);
    ReplyWriter reply(writer, "S", nullptr);
    reply.rowFormat({intColumn("a"), intColumn("b")});
    EXPECT_THROW(reply.computeFormat(1, c.columns, c.byList), std::invalid_argument);
    // Nothing of the refused compute went out.
    reply.finish();
    EXPECT_EQ(tabtest::tokenSequence(tabtest::replyTokens(socket.takeOutput())), "EE FD");
  }
  MemorySocket socket;
  PacketWriter writer(socket);
  ReplyWriter reply(writer, "S", nullptr);
  EXPECT_THROW(reply.computeFormat(1, {{ColumnDesc{}, 0x4D, 1}}, {}), std::invalid_argument);
  reply.rowFormat({intColumn("a")});
  EXPECT_THROW(reply.computeRow(2, {int64_t{1}}), std::invalid_argument);
}

TEST(TextValues, TheSessionTextSizeCutsTextAndImage) {
  auto r = replies(
      {languageToken("bigtext 100000"), languageToken("set textsize 1000"), languageToken("bigtext 100000")});
  auto lengths = [](const ReplyToken& row) {
    // ROW: token, then per column pointer length 16, pointer, timestamp, length, data.
    uint32_t text = le32(row.bytes, 1 + 1 + 16 + 8);
    uint32_t image = le32(row.bytes, 1 + 1 + 16 + 8 + 4 + text + 1 + 16 + 8);
    return std::make_pair(text, image);
  };
  ASSERT_EQ(tabtest::tokenSequence(r[0]), "EE D1 FD");
  EXPECT_EQ(lengths(r[0][1]), std::make_pair(32768u, 32768u));  // the session's default
  ASSERT_EQ(tabtest::tokenSequence(r[2]), "EE D1 FD");
  EXPECT_EQ(lengths(r[2][1]), std::make_pair(1000u, 1000u));
}

}  // namespace
