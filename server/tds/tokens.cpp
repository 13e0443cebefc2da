// Token encoders. Lengths are computed from what is written, never from a constant, and every
// text field is cut to what its length prefix can hold.
#include "server/tds/tokens.h"

#include <algorithm>
#include <stdexcept>

#include "server/tds/wire.h"

namespace tabsrv::tds {

namespace {

// What FreeTDS 1.3.17's Client-Library requests at login, used when a record carries none.
const Bytes kDefaultRequest = {0x00, 0x00, 0x60, 0x08, 0x81, 0x81, 0xe8,
                               0x0f, 0x6d, 0x7f, 0xff, 0xff, 0xff, 0xfe};
const Bytes kDefaultResponse = {0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,
                                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

// Capability bits the server turns off: PROTO_DYNPROC makes prepare arrive as "create proc";
// WIDETABLE makes the client send PARAMFMT2, which this server does not read.
constexpr int kProtoDynProc = 48;
constexpr int kWideTable = 59;
// Parameter types outside the classic set: with these bits cleared FreeTDS sends CS_UINT,
// CS_DATE, CS_TIME, CS_BIGDATETIME and CS_BIGTIME parameters as INT and DATETIME instead of
// types the parameter reader does not know (which would end the session).
constexpr int kNewParamTypes[] = {61, 62, 63, 71, 72, 93, 94};

void clearBit(Bytes& caps, int bit) {
  size_t byte = static_cast<size_t>(bit / 8);
  if (byte < caps.size()) caps[caps.size() - 1 - byte] &= static_cast<uint8_t>(~(1u << (bit % 8)));
}

}  // namespace

Bytes encodeLoginAck(bool success) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::LoginAck));
  w.u16(static_cast<uint16_t>(10 + kProductName.size()));
  w.u8(success ? 5 : 6);
  w.bytes("\x05\x00\x00\x00", 4);
  w.u8(static_cast<uint8_t>(kProductName.size()));
  w.text(kProductName);
  w.bytes(kProductVersion, 4);
  return out;
}

Bytes encodeCapability(const Bytes& request, const Bytes& response) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::Capability));
  w.u16(static_cast<uint16_t>(4 + request.size() + response.size()));
  w.u8(1);
  w.u8(static_cast<uint8_t>(request.size()));
  w.bytes(request.data(), request.size());
  w.u8(2);
  w.u8(static_cast<uint8_t>(response.size()));
  w.bytes(response.data(), response.size());
  return out;
}

Bytes grantedRequestCaps(const Bytes& requested) {
  Bytes caps = requested.empty() || requested.size() > 32 ? kDefaultRequest : requested;
  clearBit(caps, kProtoDynProc);
  clearBit(caps, kWideTable);
  for (int bit : kNewParamTypes) clearBit(caps, bit);
  return caps;
}

Bytes grantedResponseCaps(const Bytes& requested) {
  return requested.empty() || requested.size() > 32 ? kDefaultResponse : requested;
}

bool capabilityBit(const Bytes& caps, int bit) {
  size_t byte = static_cast<size_t>(bit / 8);
  if (byte >= caps.size()) return false;
  return (caps[caps.size() - 1 - byte] >> (bit % 8)) & 1;
}

Bytes encodeEnvChange(EnvChange type, std::string_view newValue, std::string_view oldValue) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::EnvChange));
  size_t at = w.size();
  w.u16(0);
  w.u8(static_cast<uint8_t>(type));
  w.text8(newValue);
  w.text8(oldValue);
  w.patch16(at, static_cast<uint16_t>(w.size() - at - 2));
  return out;
}

Bytes encodeDone(DoneKind kind, uint16_t status, int32_t rowCount) {
  Bytes out;
  ByteWriter w(out);
  Token t = kind == DoneKind::Done       ? Token::Done
            : kind == DoneKind::DoneProc ? Token::DoneProc
                                         : Token::DoneInProc;
  w.u8(static_cast<uint8_t>(t));
  w.u16(status);
  w.u16(0);
  w.i32(rowCount);
  return out;
}

std::string sqlStateFor(const ServerMessage& m) {
  if (m.number == 4002) return "28000";
  if (m.severity <= 10) return "01000";
  return "ZZZZZ";
}

Bytes encodeEed(const ServerMessage& m, std::string_view serverName) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::Eed));
  size_t at = w.size();
  w.u16(0);
  w.i32(m.number);
  w.u8(m.state);
  w.u8(m.severity);
  w.text8(sqlStateFor(m));
  w.u8(0);   // no extended data follows
  w.u16(0);  // transaction state
  std::string_view server = std::string_view(serverName).substr(0, 255);
  std::string_view proc = std::string_view(m.procedure).substr(0, 255);
  // The token length is 2 bytes: cut the text so the whole token fits.
  size_t room = 0xFFFF - (w.size() - at - 2) - 2 - (1 + server.size()) - (1 + proc.size()) - 2;
  std::string_view text = std::string_view(m.text).substr(0, room);
  w.u16(static_cast<uint16_t>(text.size()));
  w.text(text);
  w.text8(server);
  w.text8(proc);
  w.u16(m.line);
  w.patch16(at, static_cast<uint16_t>(w.size() - at - 2));
  return out;
}

Bytes encodeReturnStatus(int32_t status) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::ReturnStatus));
  w.i32(status);
  return out;
}

Bytes encodeCurInfo(int32_t cursorId, uint16_t status, std::optional<int32_t> rowCount) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::CurInfo));
  w.u16(static_cast<uint16_t>(rowCount ? 11 : 7));
  w.i32(cursorId);
  w.u8(kCursorInform);
  w.u16(status);
  if (rowCount) w.i32(*rowCount);
  return out;
}

Bytes encodeDynamicAck(std::string_view id) {
  // FreeTDS keeps at most 30 characters of an id; it sent no more, so none are cut here.
  id = id.substr(0, 255);
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::Dynamic));
  w.u16(static_cast<uint16_t>(3 + id.size()));
  w.u8(0x20);
  w.u8(0);
  w.text8(id);
  return out;
}

Bytes encodeOptionInfo(uint8_t option, int argLength, int32_t value) {
  if (argLength != 0 && argLength != 1 && argLength != 4)
    throw std::invalid_argument("option argument length must be 0, 1 or 4");
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::OptionCmd));
  w.u16(static_cast<uint16_t>(3 + argLength));
  w.u8(4);
  w.u8(option);
  w.u8(static_cast<uint8_t>(argLength));
  if (argLength == 1) w.u8(static_cast<uint8_t>(value));
  if (argLength == 4) w.i32(value);
  return out;
}

}  // namespace tabsrv::tds
