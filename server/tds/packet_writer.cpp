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
  return sendPackets(data, std::min(n, payloadSize()), last);
}

bool PacketWriter::sendPackets(const uint8_t* data, size_t n, bool last) {
  if (!healthy_) return false;
  const size_t payload = payloadSize();
  const size_t packets = n == 0 ? 1 : (n + payload - 1) / payload;
  headers_.resize(packets * kHeaderSize);
  parts_.clear();
  for (size_t i = 0; i < packets; ++i) {
    const size_t at = i * payload;
    const size_t size = std::min(payload, n - at);
    const bool final = i + 1 == packets && last;
    uint8_t* h = headers_.data() + i * kHeaderSize;
    const size_t length = kHeaderSize + size;
    h[0] = static_cast<uint8_t>(PacketType::Reply);
    h[1] = final ? 1 : 0;
    h[2] = static_cast<uint8_t>(length >> 8);
    h[3] = static_cast<uint8_t>(length);
    h[4] = static_cast<uint8_t>(spid_ >> 8);
    h[5] = static_cast<uint8_t>(spid_);
    h[6] = packetNumber_;
    h[7] = 0;
    packetNumber_ = final ? 1 : static_cast<uint8_t>(packetNumber_ + 1);
    parts_.push_back({h, kHeaderSize});
    if (size > 0) parts_.push_back({data + at, size});
  }
  healthy_ = socket_.writeParts(parts_.data(), parts_.size());
  return healthy_;
}

bool PacketWriter::sendMessage(const Bytes& message) {
  return sendPackets(message.data(), message.size(), true);
}

}  // namespace tabsrv::tds
