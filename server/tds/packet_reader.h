// Reads client messages: 8-byte packet headers, packets joined until the end-of-message bit.
// Every limit is checked before a byte is buffered, so a hostile length never allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "server/core/types.h"
#include "server/tds/socket.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

// One client message: its packet type and the joined data of its packets.
struct Message {
  PacketType type = PacketType::Normal;
  Bytes data;
};

// Limits and timeouts the reader enforces.
struct ReaderLimits {
  size_t maxPacket = 65535;       // the negotiated packet size after login
  size_t maxMessage = 16u << 20;  // joined size of one message
  int packetTimeoutMs = 30000;    // silence allowed once a packet has started
};

// Reads whole messages from one socket.
class PacketReader {
 public:
  PacketReader(Socket& socket, ReaderLimits limits) : socket_(socket), limits_(limits) {}

  // Reads the next message, waiting up to idleTimeoutMs for its first byte (negative = forever).
  // Throws ProtocolError: ClientClosed at end of stream between messages, BadPacket for a broken
  // or oversized packet, Timeout when the first byte does not come in time.
  Message readMessage(int idleTimeoutMs);
  // Reads one packet whose first byte is known to be waiting (an attention during a reply).
  Message readPacket();

  void setMaxPacket(size_t size) { limits_.maxPacket = size; }
  const ReaderLimits& limits() const { return limits_; }

 private:
  // Fills buffer with exactly n bytes; `first` marks the read that may end cleanly.
  void readExact(uint8_t* buffer, size_t n, int timeoutMs, bool first);
  // Reads one packet header and body into `into`, returning the header's type and status.
  void readOnePacket(int firstTimeoutMs, bool messageStart, uint8_t& type, uint8_t& status, Bytes& into);

  Socket& socket_;
  ReaderLimits limits_;
};

}  // namespace tabsrv::tds
