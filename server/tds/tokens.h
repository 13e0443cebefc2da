// Encoders for the server's non-data tokens: LOGINACK, CAPABILITY, ENVCHANGE, DONE, EED,
// RETURNSTATUS and the OPTIONCMD answer. Each returns the whole token, token byte included.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/core/message.h"
#include "server/core/session.h"
#include "server/core/types.h"

namespace tabsrv::tds {

// The product name and version the LOGINACK reports: "SQL Server" 15.0.0.0 (top bit clear, so
// FreeTDS does not take it for a Microsoft server).
inline constexpr std::string_view kProductName = "SQL Server";
inline constexpr uint8_t kProductVersion[4] = {15, 0, 0, 0};

// LOGINACK with status 5 (success) or 6 (failure); its length is exactly 10 + name length.
Bytes encodeLoginAck(bool success);
// CAPABILITY with the request (type 1) block before the response (type 2) block.
Bytes encodeCapability(const Bytes& request, const Bytes& response);
// The capabilities the server grants for what the client asked: the client's arrays (or
// FreeTDS's defaults when it sent none) with PROTO_DYNPROC (48), WIDETABLE (59) and the
// unsigned, date, time and big datetime parameter types (61-63, 71, 72, 93, 94) cleared.
Bytes grantedRequestCaps(const Bytes& requested);
Bytes grantedResponseCaps(const Bytes& requested);
// Tests whether capability bit n is set in an array (bit n lives in byte len-1-n/8).
bool capabilityBit(const Bytes& caps, int bit);
// ENVCHANGE with one change.
Bytes encodeEnvChange(EnvChange type, std::string_view newValue, std::string_view oldValue);
// DONE, DONEPROC or DONEINPROC.
Bytes encodeDone(DoneKind kind, uint16_t status, int32_t rowCount);
// EED for a server message; the sqlstate is picked from the number and severity.
Bytes encodeEed(const ServerMessage& message, std::string_view serverName);
// The sqlstate an EED carries: 28000 for a failed login, 01000 for information, ZZZZZ else.
std::string sqlStateFor(const ServerMessage& message);
// RETURNSTATUS.
Bytes encodeReturnStatus(int32_t status);
// Cursor status bits a CURINFO reports (CS_CUR_STATUS reads them unchanged).
namespace cursor_status {
inline constexpr uint16_t kDeclared = 0x01;
inline constexpr uint16_t kOpen = 0x02;
inline constexpr uint16_t kClosed = 0x04;
inline constexpr uint16_t kReadOnly = 0x08;
inline constexpr uint16_t kUpdatable = 0x10;
inline constexpr uint16_t kRowCount = 0x20;
inline constexpr uint16_t kDeallocated = 0x40;
}  // namespace cursor_status
// CURINFO command codes.
inline constexpr uint8_t kCursorSetRows = 1;
inline constexpr uint8_t kCursorInquire = 2;
inline constexpr uint8_t kCursorInform = 3;
// CURINFO as the server sends it: the id (never 0, so no name), command 3 (inform), the status
// and, when given, the row count. FreeTDS reads the count only when exactly 4 bytes remain,
// so the length is exact.
Bytes encodeCurInfo(int32_t cursorId, uint16_t status, std::optional<int32_t> rowCount = std::nullopt);
// The DYNAMIC acknowledgement (type 0x20): its length is exactly 3 + id length.
Bytes encodeDynamicAck(std::string_view id);
// OPTIONCMD with command 4 (info): argLength must be 0, 1 or 4.
Bytes encodeOptionInfo(uint8_t option, int argLength, int32_t value);

}  // namespace tabsrv::tds
