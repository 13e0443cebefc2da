// Reads client messages: 8-byte packet headers, packets joined until the end-of-message bit.
// Every limit is checked before a byte is buffered, so a hostile length never allocates.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "server/core/types.h"
#include "server/tds/socket.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

// One client message: its packet type and the joined data of its packets.
struct Message {
  PacketType type = PacketType::Normal;
  Bytes data;
  // The message was larger than maxMessage: its packets were read to the end and discarded
  // (data is empty), so the session can answer with an error and go on. `size` is how many
  // bytes it had.
  bool oversized = false;
  size_t size = 0;
};

// Limits and timeouts the reader enforces.
struct ReaderLimits {
  size_t maxPacket = 65535;       // the negotiated packet size after login
  size_t maxMessage = 16u << 20;  // joined size of one message
  int packetTimeoutMs = 30000;    // silence allowed once a packet has started
  // An oversized message is read to its end and discarded up to this many bytes in all; past
  // that the session ends (a client that never ends its message must not hold a thread).
  size_t maxDiscard = 64u << 20;
};

// Reads whole messages from one socket.
class PacketReader {
 public:
  PacketReader(Socket& socket, ReaderLimits limits) : socket_(socket), limits_(limits) {}

  // Reads the next message, waiting up to idleTimeoutMs for its first byte (negative = forever).
  // Throws ProtocolError: ClientClosed at end of stream between messages, BadPacket for a broken
  // packet, one longer than the packet size, or a message past maxDiscard; Timeout when the first
  // byte does not come in time or the deadline passes. A message past maxMessage comes back
  // with `oversized` set.
  Message readMessage(int idleTimeoutMs);
  // Reads one packet whose first byte is known to be waiting (an attention during a reply).
  Message readPacket();

  void setMaxPacket(size_t size) { limits_.maxPacket = size; }
  void setMessageLimits(size_t maxMessage, size_t maxDiscard) {
    limits_.maxMessage = maxMessage;
    limits_.maxDiscard = maxDiscard;
  }
  // Every read ends by `deadline` whatever the per-read timeouts say (the whole login must come
  // in time, however slowly its bytes drip); nothing clears it.
  void setDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) { deadline_ = deadline; }
  const ReaderLimits& limits() const { return limits_; }

 private:
  // Fills buffer with exactly n bytes; `first` marks the read that may end cleanly.
  void readExact(uint8_t* buffer, size_t n, int timeoutMs, bool first);
  // Reads one packet header and appends its body to `into` (or discards it once `into` is
  // oversized), returning the header's type and status.
  void readOnePacket(int firstTimeoutMs, bool messageStart, uint8_t& type, uint8_t& status, Message& into);

  Socket& socket_;
  ReaderLimits limits_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
};

}  // namespace tabsrv::tds
