// The packet reader. Hard rules: a header's length must lie in 8..maxPacket, the packet type
// must be one a client sends, every packet of a message keeps the first one's type, and the
// joined message stays under maxMessage (a larger one is read to its end, discarded and reported
// as oversized). Any other breach ends the session (ProtocolError).
#include "server/tds/packet_reader.h"

#include <algorithm>
#include <string>

namespace tabsrv::tds {

namespace {

bool isClientPacketType(uint8_t type) {
  switch (static_cast<PacketType>(type)) {
    case PacketType::Query:
    case PacketType::Login:
    case PacketType::Attention:
    case PacketType::Bulk:
    case PacketType::Normal:
      return true;
    default:
      return false;
  }
}

}  // namespace

void PacketReader::readExact(uint8_t* buffer, size_t n, int timeoutMs, bool first) {
  size_t got = 0;
  while (got < n) {
    int wait = got == 0 ? timeoutMs : limits_.packetTimeoutMs;
    bool deadlineBound = false;
    if (deadline_) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - std::chrono::steady_clock::now())
              .count();
      if (left <= 0) throw ProtocolError(ProtocolError::Kind::Timeout, "login not complete in time");
      if (wait < 0 || left < wait) {
        wait = static_cast<int>(left);
        deadlineBound = true;
      }
    }
    ReadResult r = socket_.read(buffer + got, n - got, wait);
    if (r.status == ReadResult::Status::Timeout && deadlineBound)
      throw ProtocolError(ProtocolError::Kind::Timeout, "login not complete in time");
    switch (r.status) {
      case ReadResult::Status::Data:
        got += r.bytes;
        break;
      case ReadResult::Status::Eof:
        if (first && got == 0) throw ProtocolError(ProtocolError::Kind::ClientClosed, "end of stream");
        throw ProtocolError(ProtocolError::Kind::BadPacket, "stream ends inside a packet");
      case ReadResult::Status::Timeout:
        if (first && got == 0) throw ProtocolError(ProtocolError::Kind::Timeout, "no request in time");
        throw ProtocolError(ProtocolError::Kind::BadPacket, "client fell silent inside a packet");
      case ReadResult::Status::Error:
        throw ProtocolError(ProtocolError::Kind::ClientClosed, "socket error");
    }
    // Only the very first byte of a message may end the stream cleanly.
    first = false;
  }
}

void PacketReader::readOnePacket(int firstTimeoutMs, bool messageStart, uint8_t& type, uint8_t& status,
                                 Message& message) {
  Bytes& into = message.data;
  uint8_t header[kHeaderSize];
  readExact(header, kHeaderSize, messageStart ? firstTimeoutMs : limits_.packetTimeoutMs, messageStart);
  type = header[0];
  status = header[1];
  size_t length = (static_cast<size_t>(header[2]) << 8) | header[3];
  if (!isClientPacketType(type))
    throw ProtocolError(ProtocolError::Kind::BadPacket, "unknown packet type " + std::to_string(type));
  if (length < kHeaderSize)
    throw ProtocolError(ProtocolError::Kind::BadPacket,
                        "packet length " + std::to_string(length) + " below 8");
  if (length > limits_.maxPacket)
    throw ProtocolError(ProtocolError::Kind::BadPacket, "packet length " + std::to_string(length) +
                                                            " above the packet size " +
                                                            std::to_string(limits_.maxPacket));
  size_t body = length - kHeaderSize;
  if (!message.oversized && into.size() + body > limits_.maxMessage) {
    message.oversized = true;
    message.size = into.size();
    Bytes().swap(into);
  }
  if (message.oversized) {
    message.size += body;
    if (message.size > limits_.maxDiscard)
      throw ProtocolError(ProtocolError::Kind::BadPacket,
                          "message larger than " + std::to_string(limits_.maxDiscard) + " bytes");
    uint8_t scratch[4096];
    for (size_t left = body; left > 0;) {
      size_t n = std::min(left, sizeof scratch);
      readExact(scratch, n, limits_.packetTimeoutMs, false);
      left -= n;
    }
    return;
  }
  size_t at = into.size();
  into.resize(at + body);
  if (body > 0) readExact(into.data() + at, body, limits_.packetTimeoutMs, false);
}

Message PacketReader::readMessage(int idleTimeoutMs) {
  Message message;
  uint8_t type = 0;
  uint8_t status = 0;
  readOnePacket(idleTimeoutMs, true, type, status, message);
  message.type = static_cast<PacketType>(type);
  // An attention is header-only and stands alone, whatever its status byte says.
  while (!(status & 0x01) && message.type != PacketType::Attention) {
    uint8_t nextType = 0;
    readOnePacket(limits_.packetTimeoutMs, false, nextType, status, message);
    if (nextType != type)
      throw ProtocolError(ProtocolError::Kind::BadPacket, "packet type changes inside a message");
  }
  return message;
}

Message PacketReader::readPacket() {
  Message message;
  uint8_t type = 0;
  uint8_t status = 0;
  readOnePacket(limits_.packetTimeoutMs, true, type, status, message);
  message.type = static_cast<PacketType>(type);
  return message;
}

}  // namespace tabsrv::tds
