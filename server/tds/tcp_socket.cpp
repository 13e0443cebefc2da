// TCP sockets on Linux: poll() for read time limits, send() with MSG_NOSIGNAL so a client that
// vanishes mid-reply gives a failed write instead of SIGPIPE, and a self-pipe to wake accept().
#include "server/tds/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

namespace tabsrv::tds {

namespace {

std::string describeAddress(const sockaddr_in& addr) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

}  // namespace

TcpSocket::TcpSocket(int fd) : fd_(fd) {
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0 && addr.sin_family == AF_INET)
    peer_ = describeAddress(addr);
  else
    peer_ = "unknown";
}

TcpSocket::~TcpSocket() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

// Sessions polling at once, and how many may: with every core busy a polling session would only
// take a core from one that has work (eight sessions of short statements on eight cores run
// slower with each of them polling).
std::atomic<int> gPolling{0};
int pollingLimit() {
  static const int limit = std::max(1, static_cast<int>(std::thread::hardware_concurrency() / 4));
  return limit;
}

// How long the first read after a reply polls before it blocks. A client that sends its next
// request soon after reading the reply (a loop of short statements) finds the session thread
// still running instead of waking it, which costs a scheduler wake-up per request; an idle
// session pays this once per reply and then sleeps in recv(). TABULON_SPIN_US sets it in
// microseconds (0: never), for measuring what it gains.
std::chrono::nanoseconds spinTime() {
  static const std::chrono::nanoseconds time = [] {
    const char* env = std::getenv("TABULON_SPIN_US");
    return std::chrono::nanoseconds(env ? std::atol(env) * 1000 : 50000);
  }();
  return time;
}

}  // namespace

bool TcpSocket::spinForData(uint8_t* buffer, size_t n, ReadResult& result) {
  struct Polling {
    bool admitted = gPolling.fetch_add(1, std::memory_order_relaxed) < pollingLimit();
    ~Polling() { gPolling.fetch_sub(1, std::memory_order_relaxed); }
  } polling;
  if (!polling.admitted) return false;
  const auto until = std::chrono::steady_clock::now() + spinTime();
  const bool direct = n >= kBufferSize;
  do {
    if (shut_) {
      result = {ReadResult::Status::Eof, 0};
      return true;
    }
    ssize_t got = direct ? ::recv(fd_, buffer, n, MSG_DONTWAIT) : ::recv(fd_, buffer_, kBufferSize, MSG_DONTWAIT);
    if (got > 0) {
      if (direct) {
        result = {ReadResult::Status::Data, static_cast<size_t>(got)};
        return true;
      }
      size_t take = std::min(n, static_cast<size_t>(got));
      std::memcpy(buffer, buffer_, take);
      bufferedFrom_ = take;
      bufferedTo_ = static_cast<size_t>(got);
      result = {ReadResult::Status::Data, take};
      return true;
    }
    // End of stream and errors are left to the blocking read, which reports them.
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
  } while (std::chrono::steady_clock::now() < until);
  return false;
}

ReadResult TcpSocket::read(uint8_t* buffer, size_t n, int timeoutMs) {
  if (shut_) return {ReadResult::Status::Eof, 0};
  if (n == 0) return {ReadResult::Status::Data, 0};
  if (bufferedFrom_ < bufferedTo_) {
    size_t take = std::min(n, bufferedTo_ - bufferedFrom_);
    std::memcpy(buffer, buffer_ + bufferedFrom_, take);
    bufferedFrom_ += take;
    return {ReadResult::Status::Data, take};
  }
  if (std::exchange(wrote_, false) && spinTime().count() > 0) {
    ReadResult spun;
    if (spinForData(buffer, n, spun)) return spun;
  }
  // Without a time limit the recv() below blocks by itself (shutdown() wakes it); a limit needs
  // poll() first. Saving that call matters: it is a third of the system calls of a short request.
  pollfd p{fd_, POLLIN, 0};
  for (; timeoutMs >= 0;) {
    int rc = ::poll(&p, 1, timeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return {ReadResult::Status::Error, 0};
    if (rc == 0) return {ReadResult::Status::Timeout, 0};
    break;
  }
  // A large read goes straight to the caller; a small one takes whatever has arrived.
  const bool direct = n >= kBufferSize;
  for (;;) {
    ssize_t got = direct ? ::recv(fd_, buffer, n, 0) : ::recv(fd_, buffer_, kBufferSize, 0);
    if (got > 0) {
      if (direct) return {ReadResult::Status::Data, static_cast<size_t>(got)};
      size_t take = std::min(n, static_cast<size_t>(got));
      std::memcpy(buffer, buffer_, take);
      bufferedFrom_ = take;
      bufferedTo_ = static_cast<size_t>(got);
      return {ReadResult::Status::Data, take};
    }
    if (got == 0) return {ReadResult::Status::Eof, 0};
    if (errno == EINTR) continue;
    if (errno == ECONNRESET || errno == ENOTCONN || errno == ESHUTDOWN) return {ReadResult::Status::Eof, 0};
    return {ReadResult::Status::Error, 0};
  }
}

bool TcpSocket::writeAll(const uint8_t* data, size_t n) {
  wrote_ = true;
  while (n > 0) {
    ssize_t sent = ::send(fd_, data, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool TcpSocket::writeParts(const WritePart* parts, size_t count) {
  // sendmsg() gathers up to IOV_MAX pieces per call; a short write resumes inside the piece
  // where it stopped.
  constexpr size_t kMaxPieces = IOV_MAX < 256 ? IOV_MAX : 256;
  wrote_ = true;
  iovec pieces[kMaxPieces];
  size_t next = 0;       // the first part not yet handed to sendmsg
  size_t skip = 0;       // bytes of parts[next] already sent
  while (next < count) {
    size_t n = 0;
    for (size_t i = next; i < count && n < kMaxPieces; ++i) {
      const size_t from = i == next ? skip : 0;
      if (parts[i].size == from) continue;
      pieces[n].iov_base = const_cast<uint8_t*>(parts[i].data + from);
      pieces[n].iov_len = parts[i].size - from;
      ++n;
    }
    if (n == 0) return true;
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = n;
    ssize_t sent = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    size_t left = static_cast<size_t>(sent);
    while (next < count && left >= parts[next].size - skip) {
      left -= parts[next].size - skip;
      ++next;
      skip = 0;
    }
    skip += left;
  }
  return true;
}

bool TcpSocket::readable() {
  if (shut_ || bufferedFrom_ < bufferedTo_) return true;
  pollfd p{fd_, POLLIN, 0};
  int rc = ::poll(&p, 1, 0);
  return rc > 0;
}

void TcpSocket::shutdown() {
  shut_ = true;
  ::shutdown(fd_, SHUT_RDWR);
}

std::string TcpSocket::peerAddress() const {
  return peer_;
}

TcpListener::TcpListener(const std::string& address, int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
    ::close(fd_);
    throw std::runtime_error("not an IPv4 address: " + address);
  }
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, SOMAXCONN) != 0) {
    std::string why = std::strerror(errno);
    ::close(fd_);
    throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " + why);
  }
  socklen_t len = sizeof addr;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    ::close(fd_);
    throw std::runtime_error("pipe failed");
  }
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

TcpListener::~TcpListener() {
  close();
  ::close(fd_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

std::unique_ptr<TcpSocket> TcpListener::accept() {
  for (;;) {
    if (closed_) return nullptr;
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    int rc = ::poll(p, 2, -1);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return nullptr;
    if (closed_ || (p[1].revents & POLLIN)) return nullptr;
    if (!(p[0].revents & POLLIN)) continue;
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return std::make_unique<TcpSocket>(fd);
    // A client that reset before accept, or a short-lived lack of descriptors: keep listening.
    if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN || errno == EPROTO) continue;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // The pending connection stays readable: wait a little instead of spinning.
      ::poll(nullptr, 0, 50);
      continue;
    }
    return nullptr;
  }
}

void TcpListener::close() {
  if (closed_.exchange(true)) return;
  uint8_t b = 1;
  ssize_t rc = ::write(wakeWrite_, &b, 1);
  (void)rc;
}

}  // namespace tabsrv::tds
