// Wire codes of TDS 5.0 (packet types, tokens, DONE status bits) and the two byte helpers the
// protocol layer builds and parses tokens with. Multi-byte values are little-endian on the wire
// except the packet header's length, which is big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/types.h"
#include "server/tds/protocol_error.h"

namespace tabsrv::tds {

// The first byte of every packet header.
enum class PacketType : uint8_t {
  Query = 1,  // raw SQL text
  Login = 2,
  Reply = 4,  // everything the server sends
  Attention = 6,
  Bulk = 7,
  Normal = 15,  // tokenised requests
};

// Token bytes the server reads or writes.
enum class Token : uint8_t {
  CurClose = 0x80,
  CurDelete = 0x81,
  CurFetch = 0x82,
  CurInfo = 0x83,
  CurOpen = 0x84,
  CurUpdate = 0x85,
  CurDeclare = 0x86,
  Language = 0x21,
  Dynamic2 = 0x62,
  Logout = 0x71,
  ReturnStatus = 0x79,
  OptionCmd = 0xA6,
  AltName = 0xA7,
  AltFmt = 0xA8,
  AltRow = 0xD3,
  LoginAck = 0xAD,
  Row = 0xD1,
  Params = 0xD7,
  ParamFmt2 = 0x20,
  Capability = 0xE2,
  EnvChange = 0xE3,
  Eed = 0xE5,
  DbRpc = 0xE6,
  Dynamic = 0xE7,
  ParamFmt = 0xEC,
  RowFmt = 0xEE,
  Done = 0xFD,
  DoneProc = 0xFE,
  DoneInProc = 0xFF,
};

// Bits of a DONE token's status word.
namespace done_status {
inline constexpr uint16_t kMore = 0x01;
inline constexpr uint16_t kError = 0x02;
inline constexpr uint16_t kInTransaction = 0x04;
inline constexpr uint16_t kCount = 0x10;
inline constexpr uint16_t kAttention = 0x20;
}  // namespace done_status

// The size of a packet header; every packet starts with one.
inline constexpr size_t kHeaderSize = 8;

// Appends little-endian values to a byte vector.
class ByteWriter {
 public:
  explicit ByteWriter(Bytes& out) : out_(out) {}
  void u8(uint8_t v) { out_.push_back(v); }
  void u16(uint16_t v) {
    out_.push_back(static_cast<uint8_t>(v));
    out_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
  void u16be(uint16_t v) {
    out_.push_back(static_cast<uint8_t>(v >> 8));
    out_.push_back(static_cast<uint8_t>(v));
  }
  void bytes(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
  }
  void text(std::string_view s) { bytes(s.data(), s.size()); }
  // A text with a 1-byte length in front, cut to 255 bytes.
  void text8(std::string_view s) {
    s = s.substr(0, 255);
    u8(static_cast<uint8_t>(s.size()));
    text(s);
  }
  // The current size, for filling in a length later with patch16().
  size_t size() const { return out_.size(); }
  void patch16(size_t at, uint16_t v) {
    out_[at] = static_cast<uint8_t>(v);
    out_[at + 1] = static_cast<uint8_t>(v >> 8);
  }

 private:
  Bytes& out_;
};

// Reads little-endian values from untrusted bytes; every read is bounds-checked and a short read
// throws ProtocolError, so no length taken from the wire is ever trusted.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteReader(const Bytes& b) : data_(b.data()), size_(b.size()) {}

  size_t remaining() const { return size_ - pos_; }
  size_t position() const { return pos_; }
  bool atEnd() const { return pos_ >= size_; }

  uint8_t u8() {
    need(1);
    return data_[pos_++];
  }
  uint8_t peek() const {
    if (atEnd()) throw ProtocolError(ProtocolError::Kind::BadPacket, "token data ends early");
    return data_[pos_];
  }
  uint16_t u16() {
    need(2);
    uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t u32() {
    need(4);
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data_[pos_ + i];
    pos_ += 4;
    return v;
  }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  std::string text(size_t n) {
    need(n);
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  void skip(size_t n) {
    need(n);
    pos_ += n;
  }
  // A reader over the next n bytes (one token's body); this reader moves past them.
  ByteReader sub(size_t n) {
    need(n);
    ByteReader r(data_ + pos_, n);
    pos_ += n;
    return r;
  }

 private:
  void need(size_t n) const {
    if (n > remaining()) throw ProtocolError(ProtocolError::Kind::BadPacket, "token data ends early");
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace tabsrv::tds
