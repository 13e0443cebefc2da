// The server's TCP socket over real loopback connections: the first read after a reply polls for
// the next request a short while before it blocks, and whatever happens in that while or after it
// (the request, the client leaving, a server stop, a read's time limit) is reported as a read
// that blocks at once reports it.
#include "server/tds/tcp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using tabsrv::tds::ReadResult;
using tabsrv::tds::TcpListener;
using tabsrv::tds::TcpSocket;

// A connected pair: the server's TcpSocket and the client's plain descriptor.
struct Pair {
  TcpListener listener{"127.0.0.1", 0};
  std::unique_ptr<TcpSocket> server;
  int client = -1;

  Pair() {
    client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(listener.port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    server = listener.accept();
  }
  ~Pair() {
    if (client >= 0) ::close(client);
  }
  // The server sends a reply and the client reads it, as before the next request.
  void reply() {
    const uint8_t bytes[] = {0xFD, 0, 0};
    ASSERT_TRUE(server->writeAll(bytes, sizeof bytes));
    uint8_t got[3];
    ASSERT_EQ(::recv(client, got, sizeof got, MSG_WAITALL), 3);
  }
  void send(const std::string& text) { ASSERT_EQ(::send(client, text.data(), text.size(), 0), ssize_t(text.size())); }
};

double secondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The request that follows a reply, sent at once (inside the polling) or later (after it), is
// read whole, in reads of the sizes asked for, and a read with nothing buffered blocks for the rest.
TEST(TcpSocket, TheRequestAfterAReplyIsReadWhenItComesAtOnceOrLater) {
  for (auto delay : {0ms, 5ms, 300ms}) {
    SCOPED_TRACE(delay.count());
    Pair p;
    p.reply();
    std::thread client([&] {
      std::this_thread::sleep_for(delay);
      p.send("0123456789");
    });
    uint8_t buffer[16] = {};
    ReadResult r = p.server->read(buffer, 4, -1);
    ASSERT_EQ(r.status, ReadResult::Status::Data);
    ASSERT_EQ(r.bytes, 4u);
    std::string got(reinterpret_cast<char*>(buffer), 4);
    while (got.size() < 10) {
      r = p.server->read(buffer, sizeof buffer, -1);
      ASSERT_EQ(r.status, ReadResult::Status::Data);
      got.append(reinterpret_cast<char*>(buffer), r.bytes);
    }
    EXPECT_EQ(got, "0123456789");
    client.join();
  }
}

// What ends a read after a reply, at once or after the polling: the client closing, a server stop
// from another thread (shutdown), or the read's own time limit.
TEST(TcpSocket, AReadAfterAReplyEndsOnCloseStopAndItsTimeLimit) {
  enum class End { Close, Stop, Limit };
  const struct {
    const char* name;
    End end;
    std::chrono::milliseconds after;
    int timeoutMs;
    ReadResult::Status expected;
  } cases[] = {
      {"client closes at once", End::Close, 0ms, -1, ReadResult::Status::Eof},
      {"client closes later", End::Close, 200ms, -1, ReadResult::Status::Eof},
      {"server stops at once", End::Stop, 0ms, -1, ReadResult::Status::Eof},
      {"server stops later", End::Stop, 200ms, -1, ReadResult::Status::Eof},
      {"the time limit", End::Limit, 0ms, 100, ReadResult::Status::Timeout},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    p.reply();
    const auto start = std::chrono::steady_clock::now();
    auto read = std::async(std::launch::async, [&] {
      uint8_t buffer[8];
      return p.server->read(buffer, sizeof buffer, c.timeoutMs).status;
    });
    std::this_thread::sleep_for(c.after);
    if (c.end == End::Close) {
      ::close(p.client);
      p.client = -1;
    } else if (c.end == End::Stop) {
      p.server->shutdown();
    }
    // A read that stays blocked fails here instead of hanging the test.
    ASSERT_EQ(read.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(read.get(), c.expected);
    if (c.end == End::Limit) {
      EXPECT_GE(secondsSince(start), 0.09);
    }
  }
}

}  // namespace
