// An in-memory Socket for tests: bytes fed by the test (from any thread) are what the session
// reads, and everything the session writes is kept for the test to decode.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "server/core/types.h"
#include "server/tds/socket.h"

namespace tabsrv::tds {

// A socket whose peer is the test itself.
class MemorySocket : public Socket {
 public:
  // Queues bytes for the session to read.
  void feed(const Bytes& data);
  // Ends the input: once the queued bytes are read, reads return Eof (the client closed).
  void closeInput();
  // Everything written so far, and takes it out of the socket.
  Bytes takeOutput();
  // Waits until at least n bytes have been written (or timeoutMs passed); true when they have.
  bool waitForOutput(size_t n, int timeoutMs);
  // Makes every later write fail, as when the client has reset the connection.
  void failWrites();
  // Makes writes fail once `bytes` have been written in all: a reset at a known point of a reply.
  void failWritesAfter(size_t bytes);

  ReadResult read(uint8_t* buffer, size_t n, int timeoutMs) override;
  bool writeAll(const uint8_t* data, size_t n) override;
  bool readable() override;
  void shutdown() override;
  std::string peerAddress() const override { return "memory"; }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<uint8_t> input_;
  Bytes output_;
  bool inputClosed_ = false;
  bool shut_ = false;
  bool failWrites_ = false;
  size_t written_ = 0;
  size_t failAfter_ = SIZE_MAX;
};

}  // namespace tabsrv::tds
