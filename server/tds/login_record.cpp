// Login record parsing at FreeTDS 1.3.17's offsets. Each name field is N bytes plus a length
// byte; the remote-password block at 202 holds (server name length = 0, password length,
// password) and is where passwords longer than the 30-byte field survive.
#include "server/tds/login_record.h"

#include <algorithm>
#include <charconv>

#include "server/tds/protocol_error.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

namespace {

// Offsets of the record's fields.
constexpr size_t kHostName = 0, kUserName = 31, kPassword = 62, kHostProcess = 93;
constexpr size_t kAppName = 140, kServerName = 171, kRemotePassword = 202;
constexpr size_t kProgramName = 462, kLanguage = 480, kCharset = 525, kPacketSize = 557;
constexpr size_t kCapabilities = 568;
// The record must reach the packet size's length byte.
constexpr size_t kMinimumSize = kPacketSize + 7;

// A name field of `width` bytes at `offset` whose length byte follows it.
std::string field(const Bytes& d, size_t offset, size_t width) {
  size_t len = std::min<size_t>(d[offset + width], width);
  std::string s(reinterpret_cast<const char*>(d.data() + offset), len);
  // Some clients pad with NULs and count them: stop at the first one.
  if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
}

void parseCapabilities(const Bytes& d, LoginRecord& rec) {
  if (d.size() <= kCapabilities || d[kCapabilities] != static_cast<uint8_t>(Token::Capability)) return;
  ByteReader r(d.data() + kCapabilities + 1, d.size() - kCapabilities - 1);
  try {
    size_t length = r.u16();
    size_t end = r.position() + std::min(length, r.remaining());
    while (r.position() + 2 <= end) {
      uint8_t type = r.u8();
      uint8_t n = r.u8();
      if (r.position() + n > end) break;
      std::string bytes = r.text(n);
      Bytes& target = type == 1 ? rec.requestCaps : rec.responseCaps;
      if (type == 1 || type == 2) target.assign(bytes.begin(), bytes.end());
    }
  } catch (const ProtocolError&) {
    // A cut capability token leaves the defaults in place; the login itself is still good.
  }
}

}  // namespace

LoginRecord parseLoginRecord(const Bytes& d) {
  if (d.size() < kMinimumSize)
    throw ProtocolError(ProtocolError::Kind::BadPacket,
                        "login record of " + std::to_string(d.size()) + " bytes is too short");
  LoginRecord rec;
  LoginRequest& q = rec.request;
  q.host = field(d, kHostName, 30);
  q.user = field(d, kUserName, 30);
  q.password = field(d, kPassword, 30);
  q.hostProcess = field(d, kHostProcess, 30);
  q.appName = field(d, kAppName, 30);
  q.serverName = field(d, kServerName, 30);
  // Remote password block: byte 0 server-name length, byte 1 password length, then the password.
  size_t serverLen = d[kRemotePassword];
  size_t longLen = d[kRemotePassword + 1];
  if (serverLen == 0 && longLen > 0 && longLen <= 253)
    q.password.assign(reinterpret_cast<const char*>(d.data() + kRemotePassword + 2), longLen);
  rec.libraryName = field(d, kProgramName, 10);
  q.language = field(d, kLanguage, 30);
  q.charset = field(d, kCharset, 30);
  std::string size = field(d, kPacketSize, 6);
  int requested = 0;
  std::from_chars(size.data(), size.data() + size.size(), requested);
  q.packetSize = negotiatePacketSize(requested);
  parseCapabilities(d, rec);
  return rec;
}

int negotiatePacketSize(int requested) {
  if (requested <= 0) return 512;
  return std::clamp(requested, 512, 65535);
}

}  // namespace tabsrv::tds
