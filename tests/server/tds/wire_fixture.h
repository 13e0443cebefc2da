// Test helpers that play the client's side of the wire: build login records and request packets
// as FreeTDS does, and split the server's reply bytes back into packets and tokens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/core/types.h"

namespace tabtest {

using tabsrv::Bytes;

// The fields FreeTDS fills into a login record.
struct LoginFields {
  std::string host = "testhost";
  std::string user = "sa";
  std::string password = "secret";
  std::string hostProcess = "4242";
  std::string appName = "tabtest";
  std::string serverName = "TEST";
  std::string language = "us_english";
  std::string packetSize = "512";
  bool capabilities = true;
};

// A 603-byte login record laid out at FreeTDS 1.3.17's offsets.
Bytes loginRecord(const LoginFields& fields = {});
// The record split into packets of `packetSize` bytes (type 2), the last with EOM.
Bytes loginPackets(const LoginFields& fields = {}, size_t packetSize = 512);
// A message of the given packet type split into packets.
Bytes packets(uint8_t type, const Bytes& data, size_t packetSize = 512);
// A type-15 message holding one LANGUAGE token.
Bytes languagePackets(const std::string& sql, size_t packetSize = 512, uint8_t status = 0);
// A type-15 message holding one OPTIONCMD token.
Bytes optionPackets(uint8_t command, uint8_t option, const Bytes& argument);
// The LOGOUT request `71 00`.
Bytes logoutPackets();
// A header-only attention packet.
Bytes attentionPacket();

// Request tokens as FreeTDS 1.3.17 builds them (token byte included), to be joined into one
// type-15 message with packets().
Bytes curDeclareToken(const std::string& name, const std::string& sql, uint8_t options = 1);
Bytes curRowsToken(const std::string& name, int32_t rows);
Bytes curOpenToken(const std::string& name);
Bytes curFetchToken(int32_t id, const std::string& name = {});
Bytes curCloseToken(int32_t id, bool deallocate);
// DYNAMIC with a 2-byte statement length; status 1 announces PARAMFMT + PARAMS.
Bytes dynamicToken(uint8_t type, uint8_t status, const std::string& id, const std::string& statement = {});
// DBRPC; options 2 announces PARAMFMT + PARAMS.
Bytes rpcToken(const std::string& name, bool withParams);

// One parameter for paramTokens(): the format entry's name, status (1 = output), type byte and
// type info, and the value bytes exactly as they go into PARAMS.
struct WireParam {
  std::string name;
  uint8_t status = 0;
  uint8_t type = 0;
  Bytes info;
  Bytes value;
};
// PARAMFMT (or PARAMFMT2 when wide) followed by PARAMS.
Bytes paramTokens(const std::vector<WireParam>& params, bool wide = false);

// One reply packet as the server framed it.
struct ReplyPacket {
  uint8_t type = 0;
  uint8_t status = 0;
  size_t length = 0;
  Bytes data;
};

// Splits server output into packets; a framing error fails the current test.
std::vector<ReplyPacket> splitPackets(const Bytes& output);
// The data of all packets joined.
Bytes joinData(const std::vector<ReplyPacket>& packets);

// One server token: its byte and its whole encoding (token byte included).
struct ReplyToken {
  uint8_t token = 0;
  Bytes bytes;
  uint16_t doneStatus() const;  // for DONE/DONEPROC/DONEINPROC
  int32_t doneCount() const;
  int32_t eedNumber() const;  // for EED
  std::string eedText() const;
  int32_t curInfoId() const;  // for CURINFO
  uint16_t curInfoStatus() const;
};

// Splits reply data into tokens, reading ROW values with the last ROWFMT (or PARAMS with the
// last PARAMFMT); an unknown token fails the current test.
std::vector<ReplyToken> splitTokens(const Bytes& data);
// Tokens of everything written so far.
std::vector<ReplyToken> replyTokens(const Bytes& output);
// The token bytes as a string such as "AD E2 E3 E3 E3 FD", for sequence checks.
std::string tokenSequence(const std::vector<ReplyToken>& tokens);
// Hex of bytes, "01 0a ff".
std::string hexBytes(const Bytes& bytes);

}  // namespace tabtest
