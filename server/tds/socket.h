// The byte stream a session talks over: a TCP connection in the server, an in-memory pipe in
// tests. Reads wait with a timeout, writes send everything or report that the peer is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tabsrv::tds {

// The outcome of one read.
struct ReadResult {
  enum class Status { Data, Eof, Timeout, Error };
  Status status = Status::Eof;
  size_t bytes = 0;  // > 0 when status is Data
};

// A connected stream socket; one session thread uses it, except shutdown(), which any thread
// may call to wake a blocked read (server stop).
class Socket {
 public:
  virtual ~Socket() = default;
  // Reads up to n bytes, waiting at most timeoutMs (negative = no limit).
  virtual ReadResult read(uint8_t* buffer, size_t n, int timeoutMs) = 0;
  // Writes all n bytes; false when the peer has gone (reset, closed, shut down).
  virtual bool writeAll(const uint8_t* data, size_t n) = 0;
  // True when a read would not block (data or end of stream); never waits.
  virtual bool readable() = 0;
  // Ends both directions; blocked and later reads return Eof.
  virtual void shutdown() = 0;
  // The peer's address for the session log, e.g. "127.0.0.1:53422".
  virtual std::string peerAddress() const = 0;
};

}  // namespace tabsrv::tds
