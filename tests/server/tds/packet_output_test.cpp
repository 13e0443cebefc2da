// The output path: packet framing of gathered writes, TcpSocket's gathered write under short
// writes and a vanished peer, and rows encoded in place that leave nothing behind when a value
// cannot travel.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "server/tds/memory_socket.h"
#include "server/tds/packet_writer.h"
#include "server/tds/reply_writer.h"
#include "server/tds/tcp_socket.h"
#include "tests/server/tds/wire_fixture.h"

namespace {

using namespace tabsrv;
using namespace tabsrv::tds;

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

// Raw headers of server output: {status, length, packet number, spid} per packet.
struct Header {
  uint8_t status;
  size_t length;
  uint8_t number;
  uint16_t spid;
};

std::vector<Header> headers(const Bytes& out) {
  std::vector<Header> h;
  for (size_t at = 0; at + 8 <= out.size();) {
    size_t length = static_cast<size_t>(out[at + 2]) << 8 | out[at + 3];
    h.push_back({out[at + 1], length, out[at + 6], static_cast<uint16_t>(out[at + 4] << 8 | out[at + 5])});
    if (length < 8) break;
    at += length;
  }
  return h;
}

TEST(PacketOutput, GatheredPacketsAreFramedAtThePacketSize) {
  const size_t payload = 512 - 8;
  struct Case {
    size_t bytes;
    bool last;
    std::vector<size_t> lengths;  // packet lengths, header included
  } cases[] = {
      {0, true, {8}},
      {1, true, {9}},
      {payload - 1, false, {511}},
      {payload, true, {512}},
      {payload + 1, true, {512, 9}},
      {3 * payload + 7, false, {512, 512, 512, 15}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes << " bytes, last " << c.last);
    MemorySocket socket;
    PacketWriter writer(socket);
    writer.setSpid(0x1234);
    const Bytes data = pattern(c.bytes, 3);
    ASSERT_TRUE(writer.sendPackets(data.data(), data.size(), c.last));
    const Bytes out = socket.takeOutput();
    auto h = headers(out);
    ASSERT_EQ(h.size(), c.lengths.size());
    for (size_t i = 0; i < h.size(); ++i) {
      EXPECT_EQ(h[i].length, c.lengths[i]);
      EXPECT_EQ(h[i].number, i + 1);
      EXPECT_EQ(h[i].spid, 0x1234);
      EXPECT_EQ(h[i].status, c.last && i + 1 == h.size() ? 1 : 0);
    }
    EXPECT_EQ(tabtest::joinData(tabtest::splitPackets(out)), data);
  }
}

TEST(PacketOutput, PacketNumbersRunOnUntilTheMessageEndsAndWrapAt256) {
  MemorySocket socket;
  PacketWriter writer(socket);
  const Bytes data = pattern(504 * 200, 1);
  ASSERT_TRUE(writer.sendPackets(data.data(), data.size(), false));
  ASSERT_TRUE(writer.sendPackets(data.data(), data.size(), true));
  ASSERT_TRUE(writer.sendPackets(data.data(), 10, true));
  auto h = headers(socket.takeOutput());
  ASSERT_EQ(h.size(), 401u);
  EXPECT_EQ(h[199].number, 200);
  EXPECT_EQ(h[200].number, 201);
  EXPECT_EQ(h[255].number, 0);  // the 256th packet of the message
  EXPECT_EQ(h[256].number, 1);
  EXPECT_EQ(h[399].status, 1);
  EXPECT_EQ(h[400].number, 1);  // a new message starts again at 1
}

TEST(PacketOutput, WritesAfterAFailedWriteAreRefused) {
  MemorySocket socket;
  PacketWriter writer(socket);
  socket.failWrites();
  const Bytes data = pattern(2000, 0);
  EXPECT_FALSE(writer.sendPackets(data.data(), data.size(), true));
  EXPECT_FALSE(writer.healthy());
  EXPECT_FALSE(writer.sendMessage(data));
}

TEST(PacketOutput, TcpGatheredWriteSurvivesShortWrites) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  int small = 4096;
  setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  // Parts of many sizes, empty ones among them, more of them than one sendmsg takes.
  std::vector<Bytes> pieces;
  Bytes expected;
  for (int i = 0; i < 1500; ++i) {
    pieces.push_back(pattern(static_cast<size_t>((i * 37) % 1400), static_cast<uint8_t>(i)));
    expected.insert(expected.end(), pieces.back().begin(), pieces.back().end());
  }
  std::vector<WritePart> parts;
  for (const Bytes& p : pieces) parts.push_back({p.data(), p.size()});
  Bytes received;
  std::thread reader([&] {
    uint8_t buffer[777];
    while (received.size() < expected.size()) {
      ssize_t n = ::read(fds[1], buffer, sizeof buffer);
      if (n <= 0) break;
      received.insert(received.end(), buffer, buffer + n);
    }
  });
  {
    TcpSocket socket(fds[0]);
    EXPECT_TRUE(socket.writeParts(parts.data(), parts.size()));
    reader.join();
  }
  ::close(fds[1]);
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
}

TEST(PacketOutput, TcpGatheredWriteToAClosedPeerFails) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  ::close(fds[1]);
  TcpSocket socket(fds[0]);
  const Bytes data = pattern(100, 0);
  WritePart parts[] = {{data.data(), data.size()}, {data.data(), 10}};
  EXPECT_FALSE(socket.writeParts(parts, 2));  // no SIGPIPE either
}

ColumnDesc intColumn() {
  ColumnDesc c;
  c.name = "n";
  c.type = TypeDesc{SqlType::Int, 4};
  c.nullable = false;
  return c;
}

TEST(PacketOutput, ARowThatCannotTravelLeavesNothingBehind) {
  struct Case {
    const char* name;
    bool afterDone;  // the bad row comes right after a DONE the writer still holds
    std::string sequence;
    std::vector<uint16_t> doneStatuses;
  } cases[] = {
      {"between rows", false, "EE D1 D1 FD", {0x10}},
      {"after a held done", true, "EE D1 FD", {0x10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySocket socket;
    PacketWriter writer(socket);
    SessionOptions options;
    ReplyWriter reply(writer, "SRV", &options);
    reply.rowFormat({intColumn()});
    reply.row({int64_t{1}});
    if (c.afterDone) reply.done(DoneKind::Done, false, 1);
    EXPECT_THROW(reply.row({std::monostate{}}), std::invalid_argument);
    EXPECT_THROW(reply.row({std::string("not a number")}), std::invalid_argument);
    if (!c.afterDone) {
      reply.row({int64_t{2}});
      reply.done(DoneKind::Done, false, 2);
    }
    ASSERT_TRUE(reply.finish());
    auto tokens = tabtest::replyTokens(socket.takeOutput());
    EXPECT_EQ(tabtest::tokenSequence(tokens), c.sequence);
    std::vector<uint16_t> statuses;
    for (const auto& t : tokens)
      if (t.token == 0xFD) statuses.push_back(t.doneStatus());
    EXPECT_EQ(statuses, c.doneStatuses);
  }
}

TEST(PacketOutput, RowsAcrossManyPacketsArriveWholeAndInOrder) {
  for (size_t packetSize : {512u, 4096u, 65535u}) {
    SCOPED_TRACE(packetSize);
    MemorySocket socket;
    PacketWriter writer(socket);
    writer.setPacketSize(packetSize);
    SessionOptions options;
    ReplyWriter reply(writer, "SRV", &options);
    ColumnDesc text;
    text.name = "t";
    text.type = TypeDesc{SqlType::VarChar, 255};
    text.nullable = true;
    reply.rowFormat({intColumn(), text});
    for (int i = 0; i < 5000; ++i)
      reply.row({int64_t{i}, std::string(static_cast<size_t>(i % 200), static_cast<char>('a' + i % 26))});
    reply.done(DoneKind::Done, false, 5000);
    ASSERT_TRUE(reply.finish());
    auto packets = tabtest::splitPackets(socket.takeOutput());
    for (size_t i = 0; i + 1 < packets.size(); ++i) ASSERT_EQ(packets[i].length, packetSize);
    auto tokens = tabtest::splitTokens(tabtest::joinData(packets));
    ASSERT_EQ(tokens.size(), 5002u);
    for (int i = 0; i < 5000; i += 997) {
      const Bytes& row = tokens[static_cast<size_t>(i) + 1].bytes;
      ASSERT_GE(row.size(), 6u);
      EXPECT_EQ(row[1] | row[2] << 8 | row[3] << 16 | row[4] << 24, i);
      const size_t length = i % 200 == 0 ? 1 : static_cast<size_t>(i % 200);  // empty goes as one space
      EXPECT_EQ(row[5], length);
    }
  }
}

}  // namespace
