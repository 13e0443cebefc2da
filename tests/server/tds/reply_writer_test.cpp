// The reply writer: MORE on every DONE but the last, DONE(0) when a reply ends without one,
// nocount, packet framing at the packet size, and what an attention leaves on the wire.
#include "server/tds/reply_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "server/tds/memory_socket.h"
#include "tests/server/tds/wire_fixture.h"

namespace {

using namespace tabsrv;
using namespace tabsrv::tds;

struct Wire {
  MemorySocket socket;
  PacketWriter writer{socket};
  SessionOptions options;
};

ColumnDesc intColumn() {
  ColumnDesc c;
  c.name = "n";
  c.type = TypeDesc{SqlType::Int, 4};
  c.nullable = false;
  return c;
}

// DONE statuses of a reply in order.
std::vector<uint16_t> doneStatuses(const std::vector<tabtest::ReplyToken>& tokens) {
  std::vector<uint16_t> s;
  for (const auto& t : tokens)
    if (t.token >= 0xFD) s.push_back(t.doneStatus());
  return s;
}

TEST(ReplyWriter, MoreBitOnEveryDoneButTheLast) {
  struct Case {
    const char* name;
    std::function<void(ReplyWriter&)> run;
    std::vector<uint16_t> statuses;
  } cases[] = {
      {"one statement", [](ReplyWriter& r) { r.done(DoneKind::Done, false, 3); }, {0x10}},
      {"three statements",
       [](ReplyWriter& r) {
         r.done(DoneKind::Done, false, 1);
         r.done(DoneKind::Done, true, -1);
         r.done(DoneKind::Done, false, 2);
       },
       {0x11, 0x03, 0x10}},
      {"message after the last done",
       [](ReplyWriter& r) {
         r.done(DoneKind::Done, false, -1);
         r.message(ServerMessage{0, 1, 0, "late", "", 1});
       },
       {0x01, 0x00}},
      {"no done at all", [](ReplyWriter& r) { r.returnStatus(0); }, {0x00}},
      {"procedure",
       [](ReplyWriter& r) {
         r.done(DoneKind::DoneInProc, false, 4);
         r.returnStatus(0);
         r.done(DoneKind::DoneProc, false, -1);
       },
       {0x11, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Wire w;
    ReplyWriter reply(w.writer, "SRV", &w.options);
    c.run(reply);
    ASSERT_TRUE(reply.finish());
    auto packets = tabtest::splitPackets(w.socket.takeOutput());
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.back().status, 1);
    EXPECT_EQ(doneStatuses(tabtest::splitTokens(tabtest::joinData(packets))), c.statuses);
  }
}

TEST(ReplyWriter, NoCountDropsTheCountBit) {
  Wire w;
  w.options.noCount = true;
  ReplyWriter reply(w.writer, "SRV", &w.options);
  reply.done(DoneKind::Done, false, 5);
  reply.finish();
  auto tokens = tabtest::replyTokens(w.socket.takeOutput());
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens[0].doneStatus(), 0);
  EXPECT_EQ(tokens[0].doneCount(), 0);
}

// A memory socket that counts the writes it is handed.
class CountingSocket : public MemorySocket {
 public:
  bool writeParts(const WritePart* parts, size_t count) override {
    ++writes;
    return MemorySocket::writeParts(parts, count);
  }
  int writes = 0;
};

TEST(ReplyWriter, LongRepliesAreSplitAtThePacketSizeAndSentInBatches) {
  CountingSocket socket;
  PacketWriter writer(socket);
  SessionOptions options;
  writer.setPacketSize(512);
  ReplyWriter reply(writer, "SRV", &options);
  reply.rowFormat({intColumn()});
  // 20,000 rows of 5 bytes: about 200 packets.
  for (int i = 0; i < 20000; ++i) reply.row({int64_t{i}});
  reply.done(DoneKind::Done, false, 20000);
  reply.finish();
  auto packets = tabtest::splitPackets(socket.takeOutput());
  ASSERT_GT(packets.size(), 190u);
  for (size_t i = 0; i + 1 < packets.size(); ++i) {
    EXPECT_EQ(packets[i].length, 512u);
    EXPECT_EQ(packets[i].status, 0);
  }
  EXPECT_EQ(packets.back().status, 1);
  // The full packets went out a batch at a time, not one write each.
  EXPECT_LE(socket.writes, static_cast<int>(100000 / ReplyWriter::kSendBatch) + 2);
  auto tokens = tabtest::splitTokens(tabtest::joinData(packets));
  ASSERT_EQ(tokens.size(), 20002u);
  for (int i : {0, 9999, 19999}) {
    SCOPED_TRACE(i);
    const auto& row = tokens[static_cast<size_t>(i) + 1];
    ASSERT_EQ(row.token, 0xD1);
    ASSERT_EQ(row.bytes.size(), 5u);
    int32_t v = 0;
    std::memcpy(&v, row.bytes.data() + 1, 4);
    EXPECT_EQ(v, i);
  }
}

TEST(ReplyWriter, AttentionDropsTheUnsentRestAndEndsWithOneAttentionDone) {
  Wire w;
  bool attention = false;
  ReplyWriter reply(
      w.writer, "SRV", &w.options,
      [&] { return attention ? AttentionPoll::Attention : AttentionPoll::Nothing; }, 0);
  reply.rowFormat({intColumn()});
  // 10,000 rows of 5 bytes: a batch of packets is out, the last one cut inside a row token.
  for (int i = 0; i < 10000; ++i) reply.row({int64_t{i}});
  EXPECT_FALSE(reply.cancelled());
  attention = true;
  EXPECT_TRUE(reply.cancelled());
  reply.row({int64_t{1}});
  reply.done(DoneKind::Done, false, 10001);
  reply.finish();
  auto tokens = tabtest::replyTokens(w.socket.takeOutput());
  ASSERT_FALSE(tokens.empty());
  EXPECT_EQ(tokens.back().token, 0xFD);
  EXPECT_EQ(tokens.back().doneStatus(), 0x20);
  // Whole tokens only, the rows already sent but fewer than written, and no other DONE.
  EXPECT_GT(tokens.size(), 1000u);
  EXPECT_LT(tokens.size(), 10002u);
  EXPECT_EQ(doneStatuses(tokens).size(), 1u);
}

TEST(ReplyWriter, SlowBatchesSendEarlyResultsAtTheNextCheck) {
  Wire w;
  ReplyWriter reply(
      w.writer, "SRV", &w.options, [] { return AttentionPoll::Nothing; }, 0);
  reply.rowFormat({intColumn()});
  reply.row({int64_t{1}});
  EXPECT_TRUE(w.socket.takeOutput().empty());
  std::this_thread::sleep_for(ReplyWriter::kStaleFlush + std::chrono::milliseconds(10));
  reply.cancelled();
  auto packets = tabtest::splitPackets(w.socket.takeOutput());
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].status, 0);
  EXPECT_EQ(tabtest::tokenSequence(tabtest::splitTokens(packets[0].data)), "EE D1");
}

TEST(ReplyWriter, EedCarriesTheMessageAndServerName) {
  Wire w;
  ReplyWriter reply(w.writer, "SRV", &w.options);
  reply.message(ServerMessage{208, 2, 16, "t not found.", "p", 9});
  reply.finish();
  auto tokens = tabtest::replyTokens(w.socket.takeOutput());
  ASSERT_EQ(tabtest::tokenSequence(tokens), "E5 FD");
  // number, state, severity, sqlstate, status, transtate, text, server, procedure, line.
  EXPECT_EQ(tabtest::hexBytes(tokens[0].bytes),
            "e5 25 00 d0 00 00 00 02 10 05 5a 5a 5a 5a 5a 00 00 00 0c 00 74 20 6e 6f 74 20 66 6f 75 6e 64 2e "
            "03 53 52 56 01 70 09 00");
}

}  // namespace

// Work held back by the executor: the writer asks it to commit before any byte leaves, keeps its
// bytes while it says "not now", and takes back the output of work that was lost.
struct FakeHeldWork : ResultSink::HeldWork {
  MemorySocket* socket = nullptr;
  bool ready = true;
  int commits = 0;
  size_t outputAtFirstCommit = SIZE_MAX;
  bool commitBeforeSend() override {
    if (!ready) return false;
    if (commits++ == 0) outputAtFirstCommit = socket->takeOutput().size();
    return true;
  }
};

TEST(ReplyWriter, HeldWorkCommitsBeforeItsResultsLeave) {
  struct Case {
    const char* name;
    bool slow;  // the results wait past the stale-flush time and go out at a check
  } cases[] = {{"full packets", false}, {"a stale flush", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wire w;
    ReplyWriter reply(
        w.writer, "SRV", &w.options, [] { return AttentionPoll::Nothing; }, 0);
    FakeHeldWork work;
    work.socket = &w.socket;
    reply.setHeldWork(&work);
    work.ready = false;
    const int statements = c.slow ? 3 : 10000;
    for (int i = 0; i < statements; ++i) reply.done(DoneKind::Done, false, 1);
    if (c.slow) std::this_thread::sleep_for(ReplyWriter::kStaleFlush + std::chrono::milliseconds(10));
    reply.cancelled();
    // A statement is half way: nothing goes out, however much waits.
    EXPECT_TRUE(w.socket.takeOutput().empty());
    EXPECT_EQ(work.commits, 0);
    work.ready = true;
    reply.done(DoneKind::Done, false, 1);
    if (c.slow) std::this_thread::sleep_for(ReplyWriter::kStaleFlush + std::chrono::milliseconds(10));
    reply.cancelled();
    reply.finish();
    EXPECT_GE(work.commits, 1);
    EXPECT_EQ(work.outputAtFirstCommit, 0u) << "bytes left before the commit";
  }
}

TEST(ReplyWriter, LostHeldWorkTakesBackItsStatementsOnly) {
  Wire w;
  ReplyWriter reply(w.writer, "SRV", &w.options);
  reply.done(DoneKind::Done, false, 7);  // committed before the held work began
  reply.markHeldOutput();
  reply.done(DoneKind::Done, false, 1);
  reply.done(DoneKind::Done, false, 1);
  reply.dropHeldOutput();
  reply.message(ServerMessage{3621, 1, 16, "lost", "", 1});
  reply.done(DoneKind::Done, true, -1);
  reply.finish();
  auto tokens = tabtest::replyTokens(w.socket.takeOutput());
  EXPECT_EQ(tabtest::tokenSequence(tokens), "FD E5 FD");
  ASSERT_EQ(doneStatuses(tokens).size(), 2u);
  EXPECT_EQ(doneStatuses(tokens)[0], 0x11);  // the count 7, MORE
  EXPECT_EQ(doneStatuses(tokens)[1], 0x02);  // the error, last
}
