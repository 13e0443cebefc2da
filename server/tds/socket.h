// The byte stream a session talks over: a TCP connection in the server, an in-memory pipe in
// tests. Reads wait with a timeout, writes send everything or report that the peer is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tabsrv::tds {

// One piece of a gathered write.
struct WritePart {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

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
  // Writes the parts in order as one stream; false when the peer has gone. The default writes
  // them one by one; a socket that can gather them in one system call overrides it.
  virtual bool writeParts(const WritePart* parts, size_t count) {
    for (size_t i = 0; i < count; ++i)
      if (!writeAll(parts[i].data, parts[i].size)) return false;
    return true;
  }
  // True when a read would not block (data or end of stream); never waits.
  virtual bool readable() = 0;
  // Ends both directions; blocked and later reads return Eof.
  virtual void shutdown() = 0;
  // The peer's address for the session log, e.g. "127.0.0.1:53422".
  virtual std::string peerAddress() const = 0;
};

}  // namespace tabsrv::tds
