// Measures the local server and the command engine against references run on the same machine
// in the same process run, and prints each figure as a ratio with min, median and max of several
// rounds:
//   emit      rows/s of a 10-column select read by bsqldb to /dev/null, vs SQLite stepping the
//             same rows (every column as text) through its C API on a copy of the same data
//   emit-cpu  the same select as rows per second of the server's own CPU time, vs SQLite's rows
//             per second of CPU time: what the server spends per row whatever the client's speed
//             (bsqldb, a single-threaded client, bounds the wall-clock figure above)
//   emit-raw  the same select drained by the bench's own bare TDS client (no Client-Library: it
//             reads packets to the end of the reply and only walks the tokens, checking that every
//             row arrived and the final DONE counts them), with the [packet] size and with
//             512-byte packets, vs SQLite as for emit; labelled emit-raw/<packet size>
//   point     point selects/s on one session and on eight, vs SQLite in-process; with the
//             server's CPU time per select on one session
//   spin      point selects on one session and on eight against this server and against a
//             second one started with TABULON_SPIN_US=0 (a session blocks in recv() as soon as
//             its reply is sent), round by round, one session's beside SQLite in-process in the
//             same rounds; with each server's CPU time per select and over 10 s with one
//             connected, idle client. With TABULON_PAIR_SERVER naming another server executable
//             (an earlier build), the second server is that one, started as it starts
//   point-count rounds x 1,000 point selects on one session, a fixed amount of work (for the
//             server's instruction count under callgrind: run it with N and 2N and subtract)
//   roundtrip `select 1` through Client-Library (send, bind, fetch, read to the end) vs a loopback
//             TCP echo of the same bytes; with the CPU time per trip of both sides, and as
//             roundtrip-p50 the median time of one trip of each; roundtrip-replay-p50 the same
//             trip through Client-Library to a proxy that answers it at once with the server's
//             reply bytes (what Client-Library costs with a server that takes no time), beside
//             the echo, and our trip beside that one
//   roundtrip-raw the same `select 1` sent by the bare client the way the echo client works (one
//             send, recv until the packet with the end-of-message bit), vs an echo of exactly the
//             request and reply sizes that client saw; with the CPU time per trip of both sides
//   prepared  prepared inserts in one transaction vs SQLite prepared inserts, with the CPU time
//             per insert of the client and the server
//   batch     one language batch of single-row INSERTs with literal values (each statement
//             committing on its own) vs SQLite prepared inserts in one transaction, and as
//             batch-vs-autocommit vs SQLite prepared inserts that each commit on their own
//   batch-tran the same batch inside begin tran ... commit tran
//   rpc       RPCs of a procedure inserting one row vs prepared executes of the same insert,
//             both in one transaction, one round trip each
//   engine    TQorixEnhQuery reading every row as text vs bsqldb to /dev/null
//   memory    the server's peak resident memory while INSERT ... SELECT copies the big table
//   engine-big the same read over a connection that asked for a larger packet size (bsqldb keeps
//             its default packets)
// Usage: server_bench [rows] [rounds] [packet] [figures]   (defaults 1000000, 3, 8192 and every
// figure; figures is a comma-separated list of the names above, the memory figure always runs)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "access/ctlib/ctlib.h"
#include "bench/support/figures.h"
#include "bench/support/local_server.h"
#include "tests/support/ct_client.h"
#include "tests/support/tds_column_shape.h"

namespace {

using tabbench::check;
using tabbench::Clock;
using tabbench::compare;
using tabbench::Figures;
using tabbench::processCpuSeconds;
using tabbench::threadCpuSeconds;

using tabbench::secondsSince;

// The rows of the server's table `big` (tabbench::fillBigTable) in a plain SQLite file, made
// from the row number n with a recursive CTE and stored the way the server stores them: numbers
// natively, money and numeric as decimal text, datetime as fixed text.
void makeSqliteCopy(sqlite3* db, int rows) {
  sqlite3_exec(db,
               "CREATE TABLE big (id INTEGER, grp INTEGER, name TEXT, code TEXT, ratio REAL, amount TEXT, "
               "stamp TEXT, price TEXT, small INTEGER, note TEXT)",
               nullptr, nullptr, nullptr);
  std::string sql =
      "WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n + 1 < " + std::to_string(rows) +
      ") INSERT INTO big SELECT n, n % 1000, 'name ' || n, substr('c' || (n % 97) || '          ', 1, 10), "
      "n * 0.25, printf('%.2f', (n % 100000) / 100.0), "
      "strftime('%Y-%m-%d %H:%M:%S.000', '2024-01-01', '+' || (n % 86400) || ' seconds'), "
      "printf('%.4f', n % 5000), n % 30000, 'a somewhat longer text of row ' || n FROM s";
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite copy: %s\n", err);
    std::exit(2);
  }
  sqlite3_exec(db, "CREATE UNIQUE INDEX big_id ON big(id)", nullptr, nullptr, nullptr);
}

// SQLite stepping every row of the big table with every column as text; rows per second of wall
// time, or of this thread's CPU time when `cpu` is set.
double sqliteScan(sqlite3* db, bool cpu = false) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM big", -1, &st, nullptr);
  auto start = Clock::now();
  const double cpuStart = threadCpuSeconds();
  long rows = 0;
  size_t bytes = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    for (int c = 0; c < 10; ++c) {
      const unsigned char* t = sqlite3_column_text(st, c);
      bytes += t ? static_cast<size_t>(sqlite3_column_bytes(st, c)) : 0;
    }
    ++rows;
  }
  double rate = rows / (cpu ? threadCpuSeconds() - cpuStart : secondsSince(start));
  sqlite3_finalize(st);
  return bytes ? rate : 0;
}

// bsqldb reading `sql` to /dev/null; returns rows/s.
double bsqldbRate(const std::string& sql, int rows) {
  const std::optional<double> took = tabbench::bsqldbSeconds(sql);
  return took ? rows / *took : 0;
}

// The server's CPU time per select of the last pointSelects() call given the server's pid, in
// microseconds.
double gPointServerMicros = 0;

double pointSelects(int sessions, int rows, double duration, pid_t server = 0,
                    const std::string& serverName = "DSQUERY") {
  const double serverCpu = server ? processCpuSeconds(server) : 0;
  std::atomic<long> done{0};
  std::vector<std::thread> threads;
  for (int s = 0; s < sessions; ++s) {
    threads.emplace_back([&, s] {
      tabtest::CtClient client;
      if (!client.connect(serverName)) return;
      client.run("use sample");
      unsigned seed = 12345u + s;
      auto start = Clock::now();
      long n = 0;
      while (secondsSince(start) < duration) {
        seed = seed * 1103515245u + 12345u;
        client.run("select name from big where id = " + std::to_string(seed % rows));
        ++n;
      }
      done += n;
    });
  }
  for (auto& t : threads) t.join();
  if (server && done > 0) gPointServerMicros = (processCpuSeconds(server) - serverCpu) / done * 1e6;
  return done / duration;
}

double sqlitePointSelects(sqlite3* db, int rows, double duration) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM big WHERE id = ?", -1, &st, nullptr);
  unsigned seed = 12345u;
  auto start = Clock::now();
  long n = 0;
  while (secondsSince(start) < duration) {
    seed = seed * 1103515245u + 12345u;
    sqlite3_bind_int(st, 1, static_cast<int>(seed % rows));
    while (sqlite3_step(st) == SQLITE_ROW) sqlite3_column_text(st, 0);
    sqlite3_reset(st);
    ++n;
  }
  sqlite3_finalize(st);
  return n / duration;
}

// A bare TDS 5.0 client of the bench's own: logs in with a 603-byte login record, sends
// language requests in one send() and reads replies packet by packet up to the packet whose
// header carries the end-of-message bit. read() walks a reply token by token as it streams in,
// so a reply that is cut short, reports an error or carries fewer rows than its DONE says
// cannot pass for a fast one; readRaw() only frames packets, for round trips whose replies the
// caller checks.
class RawClient {
 public:
  // What one reply carried.
  struct Reply {
    size_t bytes = 0;  // every byte received, packet headers included
    size_t packets = 0;
    long rows = 0;         // ROW tokens
    int loginStatus = -1;  // LOGINACK status (5 success), -1 when none came
    int packetSize = 0;    // ENVCHANGE packet size, 0 when none came
    int errorNumber = 0;   // the first message of severity above 10
    std::string errorText;
    bool done = false;        // the reply ended in a DONE without MORE
    uint16_t doneStatus = 0;  // of the last DONE
    int32_t doneCount = 0;
    std::string fault;  // a framing or token fault; empty when the reply was well formed
    bool ok() const { return fault.empty() && errorNumber == 0 && done && !(doneStatus & 0x02); }
  };

  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }

  // Connects to the server on loopback `port` and logs in as sa asking for `packetSize`; the
  // login reply must carry a LOGINACK saying success.
  bool connect(int port, int packetSize, std::string* error) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      *error = "cannot connect to port " + std::to_string(port);
      return false;
    }
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // The login record always travels in 512-byte packets; the size asked for applies after it.
    std::vector<uint8_t> request = frame(2, loginRecord(packetSize), 512);
    if (!sendAll(request)) {
      *error = "login send failed";
      return false;
    }
    Reply r = read();
    if (!r.fault.empty() || r.loginStatus != 5 || !r.done) {
      *error = !r.fault.empty() ? r.fault
               : r.errorNumber  ? "login refused: " + r.errorText
                                : "login reply without a successful LOGINACK (status " +
                                     std::to_string(r.loginStatus) + ")";
      return false;
    }
    packetSize_ = r.packetSize > 0 ? r.packetSize : 512;
    return true;
  }

  int packetSize() const { return packetSize_; }

  // A language request for `sql`, framed in the granted packet size.
  std::vector<uint8_t> languageRequest(const std::string& sql) const {
    std::vector<uint8_t> d = {0x21};
    put32(d, static_cast<uint32_t>(sql.size() + 1));
    d.push_back(0);
    d.insert(d.end(), sql.begin(), sql.end());
    return frame(15, d, static_cast<size_t>(packetSize_));
  }

  bool sendAll(const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
      ssize_t n = send(fd_, bytes.data() + at, bytes.size() - at, 0);
      if (n <= 0) return false;
      at += static_cast<size_t>(n);
    }
    return true;
  }

  // Reads one reply up to its end-of-message packet, walking its tokens.
  Reply read() {
    Reply r;
    tokens_.clear();
    tokenAt_ = 0;
    shapes_.clear();
    bool last = false;
    while (!last) {
      uint8_t header[8];
      if (!recvExactly(header, sizeof header)) {
        r.fault = "connection closed inside a reply";
        return r;
      }
      const size_t length = size_t(header[2]) << 8 | header[3];
      if (header[0] != 4 || length < 8) {
        r.fault = "bad reply packet header (type " + std::to_string(header[0]) + ", length " +
                  std::to_string(length) + ")";
        return r;
      }
      last = header[1] & 0x01;
      const size_t old = tokens_.size();
      tokens_.resize(old + length - 8);
      if (!recvExactly(tokens_.data() + old, length - 8)) {
        r.fault = "connection closed inside a packet";
        return r;
      }
      r.bytes += length;
      ++r.packets;
      walk(r);
      if (!r.fault.empty()) return r;
      // Keep only the unfinished token's bytes.
      if (tokenAt_ > 0) {
        tokens_.erase(tokens_.begin(), tokens_.begin() + static_cast<std::ptrdiff_t>(tokenAt_));
        tokenAt_ = 0;
      }
    }
    if (!tokens_.empty()) r.fault = "reply ended inside a token";
    return r;
  }

  // Reads the bytes of one reply up to its end-of-message packet without looking at its tokens,
  // as a client that only waits for the answer does; returns their count, 0 on a framing fault.
  // The bytes stay in raw() until the next call.
  size_t readRaw() {
    if (bufAt_ != bufEnd_) return 0;  // nothing may be left over from an earlier reply
    size_t have = 0, packetAt = 0;    // packetAt: the first packet not yet complete
    for (;;) {
      while (have - packetAt >= 8) {
        const size_t length = size_t(raw_[packetAt + 2]) << 8 | raw_[packetAt + 3];
        if (raw_[packetAt] != 4 || length < 8) return 0;
        if (have - packetAt < length) break;
        packetAt += length;
        if (raw_[packetAt - length + 1] & 0x01) return packetAt == have ? have : 0;
      }
      if (raw_.size() - have < 65536) raw_.resize(raw_.size() * 2);
      ssize_t n = recv(fd_, raw_.data() + have, raw_.size() - have, 0);
      if (n <= 0) return 0;
      have += static_cast<size_t>(n);
    }
  }
  const uint8_t* raw() const { return raw_.data(); }

  // Walks reply bytes as read by readRaw().
  Reply walkRaw(const uint8_t* bytes, size_t size) {
    Reply r;
    tokens_.clear();
    tokenAt_ = 0;
    shapes_.clear();
    for (size_t at = 0; at + 8 <= size;) {
      const size_t length = size_t(bytes[at + 2]) << 8 | bytes[at + 3];
      if (length < 8 || at + length > size) break;
      tokens_.insert(tokens_.end(), bytes + at + 8, bytes + at + length);
      r.bytes += length;
      ++r.packets;
      at += length;
    }
    walk(r);
    if (r.fault.empty() && tokenAt_ != tokens_.size()) r.fault = "reply ended inside a token";
    return r;
  }

 private:
  static void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  static uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
  static uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
  }

  // Splits `data` into packets of `packetSize` bytes of packet type `type`, the last with EOM.
  static std::vector<uint8_t> frame(uint8_t type, const std::vector<uint8_t>& data, size_t packetSize) {
    std::vector<uint8_t> out;
    const size_t payload = packetSize - 8;
    size_t at = 0;
    uint8_t number = 1;
    do {
      const size_t n = std::min(payload, data.size() - at);
      const size_t length = n + 8;
      const bool last = at + n == data.size();
      out.insert(out.end(),
                 {type, uint8_t(last ? 1 : 0), uint8_t(length >> 8), uint8_t(length), 0, 0, number++, 0});
      out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                 data.begin() + static_cast<std::ptrdiff_t>(at + n));
      at += n;
    } while (at < data.size());
    return out;
  }

  // The login record: name fields of 30 bytes plus a length byte, the remote-password block,
  // the TDS and program versions, the packet size as text and the capability token.
  static std::vector<uint8_t> loginRecord(int packetSize) {
    std::vector<uint8_t> rec(603, 0);
    auto field = [&](size_t offset, const std::string& value, size_t width) {
      const size_t n = std::min(value.size(), width);
      std::copy(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n),
                rec.begin() + static_cast<std::ptrdiff_t>(offset));
      rec[offset + width] = static_cast<uint8_t>(n);
    };
    field(0, "server_bench", 30);                     // host
    field(31, "sa", 30);                              // user
    field(62, "", 30);                                // password (empty)
    field(93, std::to_string(getpid()), 30);          // host process
    const uint8_t orders[] = {3, 1, 6, 10, 9, 1, 1};  // int2, int4, char, float, date, use-db, dump/load
    std::copy(std::begin(orders), std::end(orders), rec.begin() + 124);
    field(140, "server_bench", 30);  // application
    field(171, "DSQUERY", 30);       // server entry
    rec[457] = 2;                    // remote-password block: empty password
    rec[458] = 5;                    // TDS 5.0
    field(462, "CT-Library", 10);
    rec[473] = 5;
    rec[478] = 0x0D;
    rec[479] = 0x11;
    field(480, "us_english", 30);
    rec[556] = 1;
    field(557, std::to_string(packetSize), 6);
    // CAPABILITY: request bytes as Client-Library sends them, no response bits.
    const uint8_t caps[] = {0xE2, 0x20, 0x00, 0x01, 0x0E, 0x00, 0x00, 0x60, 0x08, 0x81, 0x81,
                            0xE8, 0x0F, 0x6D, 0x7F, 0xFF, 0xFF, 0xFF, 0xFE, 0x02, 0x0E};
    std::copy(std::begin(caps), std::end(caps), rec.begin() + 568);
    return rec;
  }

  bool recvExactly(uint8_t* to, size_t n) {
    while (n > 0) {
      if (bufAt_ == bufEnd_) {
        ssize_t got = recv(fd_, buf_.data(), buf_.size(), 0);
        if (got <= 0) return false;
        bufAt_ = 0;
        bufEnd_ = static_cast<size_t>(got);
      }
      const size_t take = std::min(n, bufEnd_ - bufAt_);
      std::memcpy(to, buf_.data() + bufAt_, take);
      bufAt_ += take;
      to += take;
      n -= take;
    }
    return true;
  }

  // Reads ROWFMT (wide = false) or ROWFMT2 columns from `body` of `length` bytes.
  bool readFormat(const uint8_t* body, size_t length, bool wide) {
    shapes_.clear();
    if (length < 2) return false;
    const uint16_t count = le16(body);
    size_t at = 2;
    for (int i = 0; i < count; ++i) {
      const int names = wide ? 5 : 1;  // label, catalog, owner, table, column; or the name
      for (int k = 0; k < names; ++k) {
        if (at >= length) return false;
        at += 1 + body[at];
      }
      at += (wide ? 4 : 1) + 4;  // status, user type
      tabtest::ColumnShape s;
      if (!tabtest::readColumnShape(body, length, at, s) || at >= length) return false;
      at += 1 + body[at];  // locale
      if (at > length) return false;
      shapes_.push_back(s);
    }
    return at == length;
  }

  // Consumes every whole token in tokens_ from tokenAt_ on.
  void walk(Reply& r) {
    const uint8_t* p = tokens_.data();
    const size_t end = tokens_.size();
    while (tokenAt_ < end) {
      if (r.done) {
        r.fault = "tokens after the final DONE";
        return;
      }
      size_t at = tokenAt_;
      const uint8_t token = p[at++];
      switch (token) {
        case 0xD1: {  // ROW: values laid out by the last format
          if (shapes_.empty()) {
            r.fault = "ROW without a row format";
            return;
          }
          for (const tabtest::ColumnShape& s : shapes_) {
            if (s.lengthBytes == 0) {
              at += s.fixedSize;
            } else if (s.lengthBytes == 1) {
              if (at >= end) return;
              at += 1 + p[at];
            } else if (s.lengthBytes == 4) {
              if (at + 4 > end) return;
              at += 4 + le32(p + at);
            } else {
              if (at >= end) return;
              const uint8_t pointer = p[at++];
              if (pointer) {
                at += pointer + 8;
                if (at + 4 > end) return;
                at += 4 + le32(p + at);
              }
            }
          }
          if (at > end) return;
          ++r.rows;
          break;
        }
        case 0xFD:
        case 0xFE:
        case 0xFF: {  // DONE, DONEPROC, DONEINPROC
          if (at + 8 > end) return;
          r.doneStatus = le16(p + at);
          r.doneCount = static_cast<int32_t>(le32(p + at + 4));
          at += 8;
          if (token == 0xFD && !(r.doneStatus & 0x01)) r.done = true;
          break;
        }
        case 0x79:  // RETURNSTATUS
          at += 4;
          if (at > end) return;
          break;
        case 0x61:
        case 0x20: {  // ROWFMT2, PARAMFMT2: 4-byte length
          if (at + 4 > end) return;
          const size_t length = le32(p + at);
          if (at + 4 + length > end) return;
          if (token == 0x61 && !readFormat(p + at + 4, length, true)) {
            r.fault = "row format this client cannot read";
            return;
          }
          at += 4 + length;
          break;
        }
        case 0xEE:
        case 0xE5:
        case 0xAD:
        case 0xE3:
        case 0xE2:
        case 0xA9:
        case 0xA7:
        case 0xA8:
        case 0xAA:
        case 0xAB:
        case 0xEC:
        case 0xE7: {  // tokens with a 2-byte length
          if (at + 2 > end) return;
          const size_t length = le16(p + at);
          if (at + 2 + length > end) return;
          const uint8_t* body = p + at + 2;
          if (token == 0xEE && !readFormat(body, length, false)) {
            r.fault = "row format this client cannot read";
            return;
          }
          if (token == 0xAD && length >= 1) r.loginStatus = body[0];
          if (token == 0xE3 && length >= 2 && body[0] == 4)
            r.packetSize = std::atoi(std::string(reinterpret_cast<const char*>(body + 2), body[1]).c_str());
          if (token == 0xE5 && length >= 6 && body[5] > 10 && r.errorNumber == 0) {
            r.errorNumber = static_cast<int>(le32(body));
            // number, state, severity, sqlstate, status, transaction state, then the text.
            size_t t = 6 + 1 + body[6] + 1 + 2;
            if (t + 2 <= length) {
              const size_t n = std::min<size_t>(le16(body + t), length - t - 2);
              r.errorText.assign(reinterpret_cast<const char*>(body + t + 2), n);
            }
          }
          at += 2 + length;
          break;
        }
        default:
          char hex[8];
          std::snprintf(hex, sizeof hex, "0x%02X", token);
          r.fault = std::string("unknown token ") + hex;
          return;
      }
      tokenAt_ = at;
    }
  }

  int fd_ = -1;
  int packetSize_ = 512;
  std::vector<uint8_t> buf_ = std::vector<uint8_t>(1 << 18);
  size_t bufAt_ = 0, bufEnd_ = 0;
  std::vector<uint8_t> tokens_;  // reply data not yet walked
  size_t tokenAt_ = 0;
  std::vector<tabtest::ColumnShape> shapes_;
  std::vector<uint8_t> raw_ = std::vector<uint8_t>(1 << 17);
};

// A socket listening for one connection on a free loopback port, which goes into `port`.
int listenOnLoopback(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  ::listen(fd, 1);
  return fd;
}

// A loopback echo server answering each request of `request` bytes with `reply` bytes, as the
// server answers a `select 1` language packet with its reply packet.
class EchoServer {
 public:
  EchoServer(size_t request, size_t reply) : request_(request), reply_(reply) {
    listen_ = listenOnLoopback(&port_);
    thread_ = std::thread([this] {
      int c = accept(listen_, nullptr, nullptr);
      int one = 1;
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::vector<char> in(request_), out(reply_, 'x');
      const double cpu = threadCpuSeconds();
      long trips = 0;
      for (;;) {
        size_t got = 0;
        while (got < request_) {
          ssize_t r = recv(c, in.data() + got, request_ - got, 0);
          if (r <= 0) {
            close(c);
            micros_ = trips ? (threadCpuSeconds() - cpu) / trips * 1e6 : 0;
            return;
          }
          got += static_cast<size_t>(r);
        }
        if (send(c, out.data(), reply_, 0) <= 0) break;
        ++trips;
      }
      close(c);
    });
  }
  ~EchoServer() {
    join();
    close(listen_);
  }
  // Waits for the echo thread, which ends once the client has closed its socket.
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  // The echo thread's CPU time per answered request, in microseconds, once it has ended.
  double micros() const { return micros_; }

 private:
  size_t request_, reply_;
  double micros_ = 0;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
};

double gEchoClientMicros = 0, gEchoServerMicros = 0;

// The median of the per-trip times of the last echoRoundTrips() or selectOneRoundTrips() call, in
// microseconds.
double gEchoP50Micros = 0, gP50Micros = 0;

// The median of `trips` (seconds per trip) in microseconds.
double medianMicros(std::vector<double>& trips) {
  if (trips.empty()) return 0;
  std::nth_element(trips.begin(), trips.begin() + static_cast<std::ptrdiff_t>(trips.size() / 2), trips.end());
  return trips[trips.size() / 2] * 1e6;
}

double echoRoundTrips(size_t request, size_t reply, double duration) {
  EchoServer echo(request, reply);
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(echo.port()));
  connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::vector<char> out(request, 'q'), in(reply);
  std::vector<double> trips;
  trips.reserve(200000);
  const double cpu = threadCpuSeconds();
  auto start = Clock::now();
  long n = 0;
  while (secondsSince(start) < duration) {
    const auto tripStart = Clock::now();
    send(s, out.data(), request, 0);
    size_t got = 0;
    while (got < reply) {
      ssize_t r = recv(s, in.data() + got, reply - got, 0);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    trips.push_back(secondsSince(tripStart));
    ++n;
  }
  const double wall = secondsSince(start);
  gEchoClientMicros = (threadCpuSeconds() - cpu) / n * 1e6;
  gEchoP50Micros = medianMicros(trips);
  close(s);
  echo.join();
  gEchoServerMicros = echo.micros();
  return n / wall;
}

// A loopback proxy in front of the server for one Client-Library connection: it relays the login
// and every request to the server, except `request` (the bytes of one language packet): the first
// time it relays that one too and keeps the server's reply, and from then on it answers it itself
// at once with those bytes. A round trip through it costs what Client-Library and the kernel cost
// with a server that spends no time at all on the statement.
class ReplayProxy {
 public:
  ReplayProxy(int serverPort, std::vector<uint8_t> request) : request_(std::move(request)) {
    listen_ = listenOnLoopback(&port_);
    thread_ = std::thread([this, serverPort] { serve(serverPort); });
  }
  ~ReplayProxy() {
    if (thread_.joinable()) thread_.join();
    close(listen_);
  }
  int port() const { return port_; }
  // Requests answered from the kept reply.
  long replayed() const { return replayed_; }

 private:
  // One message (packets up to the one with the end-of-message bit) read from `fd` into `out`;
  // false when the connection closed.
  static bool readMessage(int fd, std::vector<uint8_t>& out) {
    out.clear();
    for (;;) {
      const size_t at = out.size();
      out.resize(at + 8);
      if (!recvAll(fd, out.data() + at, 8)) return false;
      const size_t length = size_t(out[at + 2]) << 8 | out[at + 3];
      if (length < 8) return false;
      out.resize(at + length);
      if (!recvAll(fd, out.data() + at + 8, length - 8)) return false;
      if (out[at + 1] & 0x01) return true;
    }
  }
  static bool recvAll(int fd, uint8_t* to, size_t n) {
    while (n > 0) {
      ssize_t r = recv(fd, to, n, 0);
      if (r <= 0) return false;
      to += r;
      n -= static_cast<size_t>(r);
    }
    return true;
  }
  static bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  void serve(int serverPort) {
    const int client = accept(listen_, nullptr, nullptr);
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(serverPort));
    int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (client >= 0 && server >= 0 && ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::vector<uint8_t> in, reply, kept;
      while (readMessage(client, in)) {
        if (!kept.empty() && in == request_) {
          if (!sendAll(client, kept)) break;
          ++replayed_;
          continue;
        }
        if (!sendAll(server, in) || !readMessage(server, reply) || !sendAll(client, reply)) break;
        if (in == request_) kept = reply;
      }
    }
    if (server >= 0) close(server);
    if (client >= 0) close(client);
  }

  std::vector<uint8_t> request_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<long> replayed_{0};
  std::thread thread_;
};

// Adds the server entry `name` for loopback `port` to the configuration files the fixture wrote.
void addServerEntry(const tabtest::ServerFixture& fixture, const std::string& name, int port) {
  if (FILE* conf = std::fopen(fixture.configPath().c_str(), "a")) {
    std::fprintf(conf, "[%s]\n\thost = 127.0.0.1\n\tport = %d\n\ttds version = 5.0\n\tclient charset = UTF-8\n\n",
                 name.c_str(), port);
    std::fclose(conf);
  }
  if (FILE* ifile = std::fopen(fixture.interfacesPath().c_str(), "a")) {
    std::fprintf(ifile, "%s\n\tmaster tcp ether 127.0.0.1 %d\n\tquery tcp ether 127.0.0.1 %d\n\n", name.c_str(), port,
                 port);
    std::fclose(ifile);
  }
}

// The server's process id, for its CPU time.
pid_t gServerPid = 0;
// CPU time spent per round trip (or per prepared insert) by this client thread and by the server,
// in microseconds, from the last selectOneRoundTrips() or preparedInserts() call.
double gClientMicros = 0, gServerMicros = 0;

// `select 1` through Client-Library the way a lean client runs it: send, bind the one column on
// its row result, fetch, and read on to the end of the results.
double selectOneRoundTrips(double duration, pid_t server, const std::string& serverName = "DSQUERY") {
  tabtest::CtClient client;
  if (!client.connect(serverName)) {
    std::fprintf(stderr, "cannot connect to %s\n", serverName.c_str());
    std::exit(2);
  }
  CS_COMMAND* cmd = nullptr;
  ctlib::ct_cmd_alloc(client.connection(), &cmd);
  char sql[] = "select 1";
  CS_INT value = 0;
  std::vector<double> trips;
  trips.reserve(200000);
  const double cpu = threadCpuSeconds();
  const double serverCpu = processCpuSeconds(server);
  auto start = Clock::now();
  long n = 0;
  while (secondsSince(start) < duration) {
    const auto tripStart = Clock::now();
    ctlib::ct_command(cmd, CS_LANG_CMD, sql, CS_NULLTERM, CS_UNUSED);
    if (ctlib::ct_send(cmd) != CS_SUCCEED) {
      std::fprintf(stderr, "select 1 failed\n");
      std::exit(2);
    }
    CS_INT type;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      if (type != CS_ROW_RESULT) continue;
      CS_DATAFMT fmt{};
      fmt.datatype = CS_INT_TYPE;
      fmt.maxlength = sizeof value;
      fmt.count = 1;
      ctlib::ct_bind(cmd, 1, &fmt, &value, nullptr, nullptr);
      while (ctlib::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr) == CS_SUCCEED) {
      }
    }
    trips.push_back(secondsSince(tripStart));
    ++n;
  }
  const double wall = secondsSince(start);
  gClientMicros = (threadCpuSeconds() - cpu) / n * 1e6;
  gServerMicros = (processCpuSeconds(server) - serverCpu) / n * 1e6;
  gP50Micros = medianMicros(trips);
  ctlib::ct_cmd_drop(cmd);
  if (value != 1) {
    std::fprintf(stderr, "select 1 returned %d\n", value);
    std::exit(2);
  }
  return n / wall;
}

// Exits when a reply of the bare client is not what `sql` should have produced.
void checkRaw(const RawClient::Reply& r, const std::string& sql, long rows) {
  std::string wrong;
  if (!r.fault.empty())
    wrong = r.fault;
  else if (r.errorNumber)
    wrong = "error " + std::to_string(r.errorNumber) + ": " + r.errorText;
  else if (!r.ok())
    wrong = "the reply did not end in a DONE without error";
  else if (r.rows != rows || !(r.doneStatus & 0x10) || r.doneCount != rows)
    wrong = std::to_string(r.rows) + " rows, DONE count " + std::to_string(r.doneCount) + ", " +
            std::to_string(rows) + " expected";
  if (!wrong.empty()) {
    std::fprintf(stderr, "bare client, %s: %s\n", sql.c_str(), wrong.c_str());
    std::exit(2);
  }
}

// Bytes and packets of the last reply rawEmit() read.
size_t gRawEmitBytes = 0, gRawEmitPackets = 0;

// The big table drained by the bare client over a connection that asked for `packetSize`; rows/s
// from the send to the end of the reply (the login is not timed). `granted` gets the packet size
// the server granted.
double rawEmit(int port, int packetSize, int rows, int* granted) {
  RawClient client;
  std::string error;
  if (!client.connect(port, packetSize, &error)) {
    std::fprintf(stderr, "bare client login: %s\n", error.c_str());
    std::exit(2);
  }
  *granted = client.packetSize();
  const std::string sql = "select * from sample..big";
  const std::vector<uint8_t> request = client.languageRequest(sql);
  auto start = Clock::now();
  if (!client.sendAll(request)) {
    std::fprintf(stderr, "bare client: send failed\n");
    std::exit(2);
  }
  RawClient::Reply r = client.read();
  const double wall = secondsSince(start);
  checkRaw(r, sql, rows);
  gRawEmitBytes = r.bytes;
  gRawEmitPackets = r.packets;
  return rows / wall;
}

// Request and reply sizes of one `select 1` trip of the bare client, and the CPU time per trip
// of the bare client's thread and of the server, in microseconds, from the last
// rawSelectOneRoundTrips() call.
size_t gRawRequestBytes = 0, gRawReplyBytes = 0;
double gRawClientMicros = 0, gRawServerMicros = 0;

// `select 1` sent by the bare client as the echo client sends its bytes: one send, then recv
// until the packet with the end-of-message bit. The first reply is walked and checked; every
// later one must have the same bytes or pass the same check.
double rawSelectOneRoundTrips(int port, double duration, pid_t server) {
  RawClient client;
  std::string error;
  if (!client.connect(port, 512, &error)) {
    std::fprintf(stderr, "bare client login: %s\n", error.c_str());
    std::exit(2);
  }
  const std::string sql = "select 1";
  const std::vector<uint8_t> request = client.languageRequest(sql);
  auto trip = [&] {
    if (!client.sendAll(request)) return size_t(0);
    return client.readRaw();
  };
  auto verify = [&](size_t size) {
    RawClient::Reply r = client.walkRaw(client.raw(), size);
    checkRaw(r, sql, 1);
  };
  const size_t size = trip();
  if (size == 0) {
    std::fprintf(stderr, "bare client: select 1 reply broken\n");
    std::exit(2);
  }
  verify(size);
  const std::vector<uint8_t> reference(client.raw(), client.raw() + size);
  gRawRequestBytes = request.size();
  gRawReplyBytes = size;
  const double cpu = threadCpuSeconds();
  const double serverCpu = processCpuSeconds(server);
  auto start = Clock::now();
  long n = 0;
  while (secondsSince(start) < duration) {
    const size_t got = trip();
    if (got != size || std::memcmp(client.raw(), reference.data(), size) != 0) {
      if (got == 0) {
        std::fprintf(stderr, "bare client: select 1 reply broken\n");
        std::exit(2);
      }
      verify(got);
    }
    ++n;
  }
  const double wall = secondsSince(start);
  gRawClientMicros = (threadCpuSeconds() - cpu) / n * 1e6;
  gRawServerMicros = (processCpuSeconds(server) - serverCpu) / n * 1e6;
  return n / wall;
}

// An empty table `pins` in the sample database, for the prepared and RPC inserts.
void newPinsTable(tabtest::CtClient& client) {
  check(client.run("use sample"), "use");
  check(client.run("if object_id('pins') is not null drop table pins"), "drop");
  check(client.run("create table pins (id int not null, name varchar(30) not null)"), "create");
}

// Prepared inserts through the facade: one dynamic statement executed `count` times in one
// transaction.
double preparedInserts(int count) {
  tabtest::CtClient client;
  client.connect();
  newPinsTable(client);
  check(client.run("begin tran"), "begin");
  CS_COMMAND* cmd = nullptr;
  ctlib::ct_cmd_alloc(client.connection(), &cmd);
  auto drain = [&] {
    CS_INT type;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
    }
  };
  char id[] = "pins_stmt";
  char sql[] = "insert pins values (?, ?)";
  ctlib::ct_dynamic(cmd, CS_PREPARE, id, CS_NULLTERM, sql, CS_NULLTERM);
  ctlib::ct_send(cmd);
  drain();
  const double cpu = threadCpuSeconds();
  const double serverCpu = processCpuSeconds(gServerPid);
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    ctlib::ct_dynamic(cmd, CS_EXECUTE, id, CS_NULLTERM, nullptr, CS_UNUSED);
    CS_DATAFMT fmt{};
    fmt.datatype = CS_INT_TYPE;
    fmt.status = CS_INPUTVALUE;
    fmt.maxlength = sizeof(CS_INT);
    CS_INT value = i;
    ctlib::ct_param(cmd, &fmt, &value, sizeof value, 0);
    CS_DATAFMT tfmt{};
    tfmt.datatype = CS_CHAR_TYPE;
    tfmt.status = CS_INPUTVALUE;
    tfmt.maxlength = 30;
    std::string name = "row " + std::to_string(i);
    ctlib::ct_param(cmd, &tfmt, name.data(), static_cast<CS_INT>(name.size()), 0);
    if (ctlib::ct_send(cmd) != CS_SUCCEED) {
      std::fprintf(stderr, "prepared insert failed at %d\n", i);
      std::exit(2);
    }
    drain();
  }
  double rate = count / secondsSince(start);
  gClientMicros = (threadCpuSeconds() - cpu) / count * 1e6;
  gServerMicros = (processCpuSeconds(gServerPid) - serverCpu) / count * 1e6;
  ctlib::ct_dynamic(cmd, CS_DEALLOC, id, CS_NULLTERM, nullptr, CS_UNUSED);
  ctlib::ct_send(cmd);
  drain();
  ctlib::ct_cmd_drop(cmd);
  tabtest::CtBatch rows = client.run("select count(*) from pins");
  check(client.run("commit"), "commit");
  if (rows.sets.empty() || rows.sets[0].rows.empty() || *rows.sets[0].rows[0][0] != std::to_string(count)) {
    std::fprintf(stderr, "prepared inserts stored a wrong number of rows\n");
    std::exit(2);
  }
  return rate;
}

// SQLite prepared inserts into a WAL file with synchronous = NORMAL (the server's settings); with
// `eachCommits` every insert is its own transaction, as each statement of the batch figure is.
double sqlitePreparedInserts(int count, bool eachCommits = false) {
  sqlite3* db = nullptr;
  std::string path = "/tmp/server_bench_inserts.db";
  std::remove(path.c_str());
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "CREATE TABLE pins (id INTEGER NOT NULL, name TEXT NOT NULL)", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO pins VALUES (?, ?)", -1, &st, nullptr);
  auto start = Clock::now();
  if (!eachCommits) sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    std::string name = "row " + std::to_string(i);
    sqlite3_bind_int(st, 1, i);
    sqlite3_bind_text(st, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  if (!eachCommits) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  double rate = count / secondsSince(start);
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::remove(path.c_str());
  return rate;
}

// One language batch of `count` single-row INSERT statements with literal values into a new
// table, sent at once (no round trip between statements) and read to its last DONE; inserts per
// second from the send to the end of the reply. With `inTransaction` the batch is wrapped in
// begin tran ... commit tran, else each statement commits on its own.
double batchInserts(int count, bool inTransaction) {
  tabtest::CtClient client;
  client.connect();
  check(client.run("use sample"), "use");
  check(client.run("if object_id('bins') is not null drop table bins"), "drop");
  check(client.run("create table bins (id int not null, name varchar(30) not null, grp smallint null)"),
        "create");
  std::string batch = inTransaction ? "begin tran\n" : "";
  batch.reserve(static_cast<size_t>(count) * 48);
  for (int i = 0; i < count; ++i)
    batch += "insert bins values (" + std::to_string(i) + ", 'row " + std::to_string(i) + "', " +
             std::to_string(i % 97) + ")\n";
  if (inTransaction) batch += "commit tran\n";
  auto start = Clock::now();
  tabtest::CtBatch done = client.run(batch);
  const double rate = count / secondsSince(start);
  check(done, "batch of inserts");
  if (done.rowCounts.size() < static_cast<size_t>(count)) {
    std::fprintf(stderr, "batch of inserts: %zu row counts for %d statements\n", done.rowCounts.size(), count);
    std::exit(2);
  }
  tabtest::CtBatch rows = client.run("select count(*), sum(convert(numeric(18,0), id)) from bins");
  const std::string sum = std::to_string(static_cast<long long>(count) * (count - 1) / 2);
  if (rows.sets.empty() || rows.sets[0].rows.empty() || *rows.sets[0].rows[0][0] != std::to_string(count) ||
      *rows.sets[0].rows[0][1] != sum) {
    std::fprintf(stderr, "the batch of inserts stored wrong rows\n");
    std::exit(2);
  }
  return rate;
}

// Calls of the procedure `pins_add @id, @name` (which inserts one row into pins) through
// Client-Library RPCs, `count` of them in one transaction, one round trip each: the same work and
// trips as preparedInserts(), through the procedure path.
double rpcInserts(int count) {
  tabtest::CtClient client;
  client.connect();
  newPinsTable(client);
  check(client.run("if object_id('pins_add') is not null drop procedure pins_add"), "drop procedure");
  check(client.run("create procedure pins_add @id int, @name varchar(30) as insert pins values (@id, @name)"),
        "create procedure");
  check(client.run("begin tran"), "begin");
  CS_COMMAND* cmd = nullptr;
  ctlib::ct_cmd_alloc(client.connection(), &cmd);
  const double cpu = threadCpuSeconds();
  const double serverCpu = processCpuSeconds(gServerPid);
  char proc[] = "pins_add";
  char idName[] = "@id", nameName[] = "@name";
  bool failed = false;
  auto start = Clock::now();
  for (int i = 0; i < count && !failed; ++i) {
    ctlib::ct_command(cmd, CS_RPC_CMD, proc, CS_NULLTERM, CS_NO_RECOMPILE);
    CS_DATAFMT fmt{};
    std::memcpy(fmt.name, idName, sizeof idName);
    fmt.namelen = CS_NULLTERM;
    fmt.datatype = CS_INT_TYPE;
    fmt.status = CS_INPUTVALUE;
    fmt.maxlength = sizeof(CS_INT);
    CS_INT value = i;
    ctlib::ct_param(cmd, &fmt, &value, sizeof value, 0);
    CS_DATAFMT tfmt{};
    std::memcpy(tfmt.name, nameName, sizeof nameName);
    tfmt.namelen = CS_NULLTERM;
    tfmt.datatype = CS_CHAR_TYPE;
    tfmt.status = CS_INPUTVALUE;
    tfmt.maxlength = 30;
    std::string name = "row " + std::to_string(i);
    ctlib::ct_param(cmd, &tfmt, name.data(), static_cast<CS_INT>(name.size()), 0);
    if (ctlib::ct_send(cmd) != CS_SUCCEED) failed = true;
    CS_INT type;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED)
      if (type == CS_CMD_FAIL) failed = true;
  }
  double rate = count / secondsSince(start);
  gClientMicros = (threadCpuSeconds() - cpu) / count * 1e6;
  gServerMicros = (processCpuSeconds(gServerPid) - serverCpu) / count * 1e6;
  ctlib::ct_cmd_drop(cmd);
  tabtest::CtBatch rows = client.run("select count(*) from pins");
  check(client.run("commit"), "commit");
  if (failed || rows.sets.empty() || rows.sets[0].rows.empty() || *rows.sets[0].rows[0][0] != std::to_string(count)) {
    std::fprintf(stderr, "the procedure calls stored a wrong number of rows\n");
    std::exit(2);
  }
  return rate;
}

double engineRead(TQorixDatabase& db, int rows) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.SetSQL(QStringLiteral("select * from sample..big"));
  auto start = Clock::now();
  // Open sends the statement; each Next moves to the following row, the first one included.
  q.Open();
  long n = 0;
  size_t chars = 0;
  while (q.Next()) {
    for (int c = 1; c <= q.ColumnCount(); ++c) chars += static_cast<size_t>(q.GetFieldValue(c).size());
    ++n;
  }
  double rate = n / secondsSince(start);
  if (n != rows || chars == 0) std::fprintf(stderr, "engine read %ld rows of %d\n", n, rows);
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rows = tabbench::intArgument(argc, argv, 1, 1000000);
  const int rounds = tabbench::intArgument(argc, argv, 2, 3);
  const int packet = tabbench::intArgument(argc, argv, 3, 8192);
  const tabbench::FigureList figures(argc, argv, 4);
  auto wanted = [&](const char* name) { return figures.wanted(name); };
  const double window = 2.0;  // seconds per throughput sample

  tabtest::ServerFixture& server = tabbench::localServer();
  gServerPid = server.pid();
  std::printf("server_bench: %d rows x 10 columns, %d rounds, %u cores\n\n", rows, rounds,
              std::thread::hardware_concurrency());

  {
    tabtest::CtClient setup;
    if (!setup.connect()) return 2;
    check(setup.run("use sample"), "use");
    tabbench::createBigTable(setup);
    long before = tabbench::residentKilobytes(server.pid());
    auto start = Clock::now();
    tabbench::fillBigTable(setup, rows);
    double fill = secondsSince(start);
    long peak = tabbench::peakResidentKilobytes(server.pid());
    std::printf("memory     INSERT ... SELECT of %d rows: %.1f s, server resident before %ld KB, peak %ld KB "
                "(growth %ld KB)\n\n",
                rows, fill, before, peak, peak - before);
    check(setup.run("create unique index big_id on big(id)"), "index");
  }

  sqlite3* copy = nullptr;
  std::string copyPath = "/tmp/server_bench_copy.db";
  std::remove(copyPath.c_str());
  sqlite3_open(copyPath.c_str(), &copy);
  if (wanted("emit") || wanted("emit-cpu") || wanted("emit-raw") || wanted("point") || wanted("spin"))
    makeSqliteCopy(copy, rows);

  if (wanted("emit")) compare("emit", "rows/s", rounds, [&] { return bsqldbRate("select * from big", rows); },
          [&] { return sqliteScan(copy); }, "sqlite");
  if (wanted("emit-cpu"))
    compare("emit-cpu", "rows/cpu-s", rounds,
            [&] {
              const double before = processCpuSeconds(server.pid());
              bsqldbRate("select * from big", rows);
              const double used = processCpuSeconds(server.pid()) - before;
              return used > 0 ? rows / used : 0;
            },
            [&] { return sqliteScan(copy, true); }, "sqlite");

  // The same select drained by the bare client, once with the packet size asked for and, when
  // that is larger, once with the default 512-byte packets.
  if (wanted("emit-raw")) {
    std::vector<int> sizes = {packet};
    if (packet != 512) sizes.push_back(512);
    for (int size : sizes) {
      int granted = 0;
      const std::string label = "emit-raw/" + std::to_string(size);
      compare(
          label.c_str(), "rows/s", rounds, [&] { return rawEmit(server.port(), size, rows, &granted); },
          [&] { return sqliteScan(copy); }, "sqlite");
      std::printf(
          "%-10s packet size asked %d, granted %d; %zu bytes in %zu packets, all %d rows and a DONE "
          "counting them\n\n",
          label.c_str(), size, granted, gRawEmitBytes, gRawEmitPackets, rows);
    }
  }

  if (wanted("point")) {
    Figures serverCpu, sqliteMicros;
    compare(
        "point-1", "sel/s", rounds,
        [&] {
          const double rate = pointSelects(1, rows, window, server.pid());
          serverCpu.add(gPointServerMicros);
          return rate;
        },
        [&] {
          const double rate = sqlitePointSelects(copy, rows, window);
          sqliteMicros.add(rate > 0 ? 1e6 / rate : 0);
          return rate;
        },
        "sqlite");
    // What the server itself spends per select (the round trip's own share included), whatever
    // the client's and the machine's speed; SQLite's is the time of one in-process select.
    std::printf("point-1    server CPU per select (median): %.1f us; SQLite in-process %.1f us per select\n\n",
                serverCpu.median(), sqliteMicros.median());
  }
  if (wanted("spin")) {
    // A second server whose sessions never poll before blocking, with the same table; the
    // fixture points FreeTDS at itself, so the shared server's files are put back and name it.
    const std::string config = server.configPath();
    const std::string interfacesDir = server.interfacesPath().substr(0, server.interfacesPath().rfind('/'));
    const char* pairServer = std::getenv("TABULON_PAIR_SERVER");
    const std::string otherName = pairServer ? "other" : "no spin";
    const std::string ownServer = tabtest::ServerFixture::serverPath();
    if (pairServer)
      setenv("TABULON_SERVER", pairServer, 1);
    else
      setenv("TABULON_SPIN_US", "0", 1);
    tabtest::ServerFixture plain;
    unsetenv("TABULON_SPIN_US");
    setenv("TABULON_SERVER", ownServer.c_str(), 1);
    setenv("FREETDSCONF", config.c_str(), 1);
    setenv("SYBASE", interfacesDir.c_str(), 1);
    addServerEntry(server, "NOSPIN", plain.port());
    {
      tabtest::CtClient setup;
      if (!setup.connect("NOSPIN")) return 2;
      check(setup.run("use sample"), "use");
      tabbench::createBigTable(setup);
      tabbench::fillBigTable(setup, rows);
      check(setup.run("create unique index big_id on big(id)"), "index");
    }
    for (int sessions : {1, 8}) {
      tabbench::Comparison c, oursVsSqlite, otherVsSqlite;
      Figures spinCpu, plainCpu;
      for (int i = 0; i < rounds; ++i) {
        const double spun = pointSelects(sessions, rows, window, server.pid());
        spinCpu.add(gPointServerMicros);
        const double blocked = pointSelects(sessions, rows, window, plain.pid(), "NOSPIN");
        plainCpu.add(gPointServerMicros);
        c.add(spun, blocked);
        if (sessions == 1) {
          const double sqlite = sqlitePointSelects(copy, rows, window);
          oursVsSqlite.add(spun, sqlite);
          otherVsSqlite.add(blocked, sqlite);
        }
      }
      const std::string label = "spin-" + std::to_string(sessions);
      tabbench::printComparison(label, "sel/s", c, otherName);
      std::printf("%-10s server CPU per select (median): %.1f us; %s %.1f us\n\n", label.c_str(), spinCpu.median(),
                  otherName.c_str(), plainCpu.median());
      if (sessions == 1) {
        tabbench::printComparison(label + "/sqlite", "sel/s", oursVsSqlite, "sqlite");
        tabbench::printComparison(label + "/" + otherName + "/sqlite", "sel/s", otherVsSqlite, "sqlite");
        std::printf("\n");
      }
    }
    // What an idle session costs: one client connected and silent for 10 s after its last reply.
    for (int i = 0; i < 2; ++i) {
      const bool spinning = i == 0;
      tabtest::CtClient idle;
      if (!idle.connect(spinning ? "DSQUERY" : "NOSPIN")) return 2;
      check(idle.run("select name from sample..big where id = 1"), "idle select");
      const pid_t pid = spinning ? server.pid() : plain.pid();
      const double before = processCpuSeconds(pid);
      std::this_thread::sleep_for(std::chrono::seconds(10));
      std::printf("spin-idle  server CPU over 10 s with one idle client: %.3f s (%s)\n", processCpuSeconds(pid) - before,
                  spinning ? "this server" : otherName.c_str());
    }
    std::printf("\n");
  }
  if (figures.named("point-count")) {
    const long count = 1000L * rounds;
    tabtest::CtClient client;
    if (!client.connect()) return 2;
    check(client.run("use sample"), "use");
    const double before = processCpuSeconds(server.pid());
    unsigned seed = 12345u;
    auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
      seed = seed * 1103515245u + 12345u;
      client.run("select name from big where id = " + std::to_string(seed % rows));
    }
    const double took = secondsSince(start);
    std::printf("point-count %ld point selects in %.2f s (%.0f sel/s), server CPU %.1f us per select\n\n", count,
                took, count / took, (processCpuSeconds(server.pid()) - before) / count * 1e6);
  }
  if (wanted("point")) {
    Figures scale;
    for (int i = 0; i < rounds; ++i) {
      double one = pointSelects(1, rows, window);
      double eight = pointSelects(8, rows, window);
      scale.add(one > 0 ? eight / one : 0);
      std::printf("point-8    1 session %8.0f sel/s, 8 sessions %8.0f sel/s\n", one, eight);
    }
    std::printf("point-8    scaling 8 vs 1  min %.2f  median %.2f  max %.2f\n\n", scale.min(), scale.median(),
                scale.max());
  }

  // A `select 1` language packet is 8 header bytes + token, length and status (6) + 8 characters;
  // its reply (header, row format, row, DONE) is 35 bytes.
  if (wanted("roundtrip")) {
    Figures client, serverCpu, echoClient, echoServer;
    tabbench::Comparison latency;
    double p50 = 0;
    compare("roundtrip", "trips/s", rounds,
            [&] {
              double rate = selectOneRoundTrips(window, server.pid());
              client.add(gClientMicros);
              serverCpu.add(gServerMicros);
              p50 = gP50Micros;
              return rate;
            },
            [&] {
              double rate = echoRoundTrips(22, 35, window);
              echoClient.add(gEchoClientMicros);
              echoServer.add(gEchoServerMicros);
              latency.add(p50, gEchoP50Micros);
              return rate;
            },
            "echo");
    std::printf("roundtrip  CPU per trip (median): client %.1f us, server %.1f us; echo client %.1f us, "
                "echo server %.1f us\n\n",
                client.median(), serverCpu.median(), echoClient.median(), echoServer.median());
    // The median time of one trip, round by round: lower is better (goal: at most 1.25 x the echo).
    tabbench::printComparison("roundtrip-p50", "us/trip", latency, "echo", 1, "goal: ratio <= 1.25");
    // The same trip through Client-Library to a proxy that answers it at once with the server's
    // reply bytes, beside the echo: the least any server's trip can take through Client-Library.
    tabbench::Comparison replayed, againstReplay;
    Figures replayClient;
    const std::vector<uint8_t> selectOne = {0x0F, 0x01, 0x00, 0x16, 0x00, 0x00, 0x00, 0x00, 0x21, 0x09, 0x00,
                                            0x00, 0x00, 0x00, 's',  'e',  'l',  'e',  'c',  't',  ' ',  '1'};
    for (int i = 0; i < rounds; ++i) {
      double replayP50 = 0;
      {
        ReplayProxy proxy(server.port(), selectOne);
        addServerEntry(server, "REPLAY" + std::to_string(i), proxy.port());
        selectOneRoundTrips(window, server.pid(), "REPLAY" + std::to_string(i));
        replayP50 = gP50Micros;
        replayClient.add(gClientMicros);
        if (proxy.replayed() == 0) {
          std::fprintf(stderr, "the replaying proxy answered no select 1 itself\n");
          std::exit(2);
        }
      }
      selectOneRoundTrips(window, server.pid());
      const double ours = gP50Micros;
      echoRoundTrips(22, 35, window);
      replayed.add(replayP50, gEchoP50Micros);
      againstReplay.add(ours, replayP50);
    }
    tabbench::printComparison("roundtrip-replay-p50", "us/trip", replayed, "echo", 1,
                              "Client-Library to a proxy replaying the reply at once");
    tabbench::printComparison("roundtrip-p50-vs-replay", "us/trip", againstReplay, "replay", 1);
    std::printf("roundtrip-replay CPU per trip (median): Client-Library client %.1f us\n\n", replayClient.median());
  }

  // The same `select 1` from the bare client, against an echo of exactly its request and reply
  // sizes.
  if (wanted("roundtrip-raw")) {
    Figures client, serverCpu, echoClient, echoServer;
    compare(
        "roundtrip-raw", "trips/s", rounds,
        [&] {
          double rate = rawSelectOneRoundTrips(server.port(), window, server.pid());
          client.add(gRawClientMicros);
          serverCpu.add(gRawServerMicros);
          return rate;
        },
        [&] {
          double rate = echoRoundTrips(gRawRequestBytes, gRawReplyBytes, window);
          echoClient.add(gEchoClientMicros);
          echoServer.add(gEchoServerMicros);
          return rate;
        },
        "echo");
    std::printf(
        "roundtrip-raw %zu request bytes, %zu reply bytes; CPU per trip (median): client %.1f us, "
        "server %.1f us; echo client %.1f us, echo server %.1f us\n\n",
        gRawRequestBytes, gRawReplyBytes, client.median(), serverCpu.median(), echoClient.median(),
        echoServer.median());
  }

  const int inserts = std::min(rows, 100000);
  if (wanted("prepared")) {
    // Each execute is one request and one reply: the round trip bounds the rate, so the CPU each
    // side spends per insert is printed beside it.
    Figures client, serverCpu;
    compare("prepared", "ins/s", rounds,
            [&] {
              double rate = preparedInserts(inserts);
              client.add(gClientMicros);
              serverCpu.add(gServerMicros);
              return rate;
            },
            [&] { return sqlitePreparedInserts(inserts); }, "sqlite");
    std::printf("prepared   CPU per insert (median): client %.1f us, server %.1f us\n\n", client.median(),
                serverCpu.median());
  }

  // One batch of single-row INSERTs: no round trips, so the server's own cost per statement is
  // what is measured (goal: at least 100,000 statements per second).
  const int batchCount = std::min(rows, 100000);
  for (bool inTransaction : {false, true}) {
    const char* label = inTransaction ? "batch-tran" : "batch";
    if (!wanted(label)) continue;
    if (inTransaction) {
      compare(label, "ins/s", rounds, [&] { return batchInserts(batchCount, inTransaction); },
              [&] { return sqlitePreparedInserts(batchCount); }, "sqlite");
      continue;
    }
    // Each statement commits on its own: beside SQLite's inserts in one transaction and beside
    // SQLite's inserts that each commit on their own (what a commit alone costs SQLite).
    tabbench::Comparison inOne, eachOwn;
    for (int i = 0; i < rounds; ++i) {
      const double ours = batchInserts(batchCount, false);
      inOne.add(ours, sqlitePreparedInserts(batchCount));
      eachOwn.add(ours, sqlitePreparedInserts(batchCount, true));
    }
    tabbench::printComparison(label, "ins/s", inOne, "sqlite", 0, "goal: ours >= 100000");
    tabbench::printComparison("batch-vs-autocommit", "ins/s", eachOwn, "sqlite autocommit");
  }

  // The same inserts and round trips as `prepared`, each an RPC of a procedure that inserts the
  // row; paired round by round with the prepared executes (goal: a ratio of at least 1).
  if (wanted("rpc")) {
    const int calls = std::min(rows, 20000);
    Figures client, serverCpu, preparedClient, preparedServer;
    compare("rpc", "calls/s", rounds,
            [&] {
              double rate = rpcInserts(calls);
              client.add(gClientMicros);
              serverCpu.add(gServerMicros);
              return rate;
            },
            [&] {
              double rate = preparedInserts(calls);
              preparedClient.add(gClientMicros);
              preparedServer.add(gServerMicros);
              return rate;
            },
            "prepared");
    std::printf("rpc        CPU per call (median): client %.1f us, server %.1f us; prepared execute: client %.1f us, "
                "server %.1f us\n\n",
                client.median(), serverCpu.median(), preparedClient.median(), preparedServer.median());
  }

  if (wanted("engine")) {
    std::unique_ptr<TQorixDatabase> db = tabbench::connectSa(QStringLiteral("bench"));
    compare("engine", "rows/s", rounds, [&] { return engineRead(*db, rows); },
            [&] { return bsqldbRate("select * from big", rows); }, "bsqldb");
  }
  if (wanted("engine-big")) {
    std::unique_ptr<TQorixDatabase> db = tabbench::connectSa(QStringLiteral("bench-big-packets"), QString(), packet);
    std::printf("engine-big packet size asked %d, granted %d\n", packet, db->PacketSize());
    compare("engine-big", "rows/s", rounds, [&] { return engineRead(*db, rows); },
            [&] { return bsqldbRate("select * from big", rows); }, "bsqldb");
  }

  sqlite3_close(copy);
  std::remove(copyPath.c_str());
  tabbench::printLoadAverage();
  return 0;
}
