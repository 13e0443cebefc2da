// The TCP implementation of Socket and the loopback listening socket the server accepts on.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "server/tds/socket.h"

namespace tabsrv::tds {

// A connected TCP socket; owns and closes the descriptor.
class TcpSocket : public Socket {
 public:
  explicit TcpSocket(int fd);
  ~TcpSocket() override;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  ReadResult read(uint8_t* buffer, size_t n, int timeoutMs) override;
  bool writeAll(const uint8_t* data, size_t n) override;
  bool writeParts(const WritePart* parts, size_t count) override;
  bool readable() override;
  void shutdown() override;
  std::string peerAddress() const override;

 private:
  // Bytes received but not yet read: a packet's header and body usually arrive together and are
  // taken with one recv() instead of one per piece.
  static constexpr size_t kBufferSize = 4096;
  uint8_t buffer_[kBufferSize];
  size_t bufferedFrom_ = 0;
  size_t bufferedTo_ = 0;

  // Polls for the next request for a short while before blocking, after a reply was sent:
  // false when nothing came in that time (ReadResult filled in otherwise).
  bool spinForData(uint8_t* buffer, size_t n, ReadResult& result);
  // Whether the last call was a write: the first read after a reply spins before it blocks.
  bool wrote_ = false;

  int fd_;
  std::atomic<bool> shut_{false};
  std::string peer_;
};

// A listening socket bound to one address; accept() waits until a client connects or close().
class TcpListener {
 public:
  // Binds and listens; port 0 picks a free port. Throws std::runtime_error on failure.
  TcpListener(const std::string& address, int port);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // The bound port.
  int port() const { return port_; }
  // The next connection, or nullptr once close() was called (or on a fatal error).
  std::unique_ptr<TcpSocket> accept();
  // Wakes a blocked accept() and stops accepting; safe from another thread.
  void close();

 private:
  int fd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  int port_ = 0;
  std::atomic<bool> closed_{false};
};

}  // namespace tabsrv::tds
