// Writes server replies as type-4 packets no longer than the negotiated packet size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/core/types.h"
#include "server/tds/socket.h"

namespace tabsrv::tds {

// Frames reply bytes into packets; the last packet of a message carries the end-of-message bit.
class PacketWriter {
 public:
  explicit PacketWriter(Socket& socket) : socket_(socket) {}

  // The packet size including the header (512..65535).
  void setPacketSize(size_t size);
  size_t packetSize() const { return packetSize_; }
  // Bytes of data one packet holds.
  size_t payloadSize() const { return packetSize_ - 8; }
  // The spid written into every header.
  void setSpid(uint16_t spid) { spid_ = spid; }

  // Sends up to payloadSize() bytes as one packet; false once the peer is gone.
  bool sendPacket(const uint8_t* data, size_t n, bool last);
  // Sends n bytes as consecutive packets of payloadSize() bytes (the final one shorter, and at
  // least one packet even for n = 0) in one gathered write, without copying the data; the
  // final packet ends the message when `last` is set. False once the peer is gone.
  bool sendPackets(const uint8_t* data, size_t n, bool last);
  // Sends a whole message, split at the packet size.
  bool sendMessage(const Bytes& message);
  // False after any failed write: the client has gone.
  bool healthy() const { return healthy_; }

 private:
  Socket& socket_;
  size_t packetSize_ = 512;
  uint16_t spid_ = 0;
  uint8_t packetNumber_ = 1;
  bool healthy_ = true;
  // Reused between calls: the headers and the pieces of the gathered write.
  std::vector<uint8_t> headers_;
  std::vector<WritePart> parts_;
};

}  // namespace tabsrv::tds
