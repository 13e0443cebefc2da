// The packet writer: header = type 4, status (1 on the last packet), big-endian length, spid,
// packet number (counting from 1 within a message, wrapping at 256) and window 0.
#include "server/tds/packet_writer.h"

#include <algorithm>

#include "server/tds/wire.h"

namespace tabsrv::tds {

void PacketWriter::setPacketSize(size_t size) {
  packetSize_ = std::clamp<size_t>(size, 512, 65535);
}

bool PacketWriter::sendPacket(const uint8_t* data, size_t n, bool last) {
  if (!healthy_) return false;
  n = std::min(n, payloadSize());
  Bytes packet;
  packet.reserve(kHeaderSize + n);
  ByteWriter w(packet);
  w.u8(static_cast<uint8_t>(PacketType::Reply));
  w.u8(last ? 1 : 0);
  w.u16be(static_cast<uint16_t>(kHeaderSize + n));
  w.u16be(spid_);
  w.u8(packetNumber_);
  w.u8(0);
  w.bytes(data, n);
  packetNumber_ = last ? 1 : static_cast<uint8_t>(packetNumber_ + 1);
  healthy_ = socket_.writeAll(packet.data(), packet.size());
  return healthy_;
}

bool PacketWriter::sendMessage(const Bytes& message) {
  size_t at = 0;
  do {
    size_t n = std::min(payloadSize(), message.size() - at);
    bool last = at + n >= message.size();
    if (!sendPacket(message.data() + at, n, last)) return false;
    at += n;
  } while (at < message.size());
  return true;
}

}  // namespace tabsrv::tds
