// The 603-byte TDS 5.0 login record: the fields the session needs, the requested packet size
// and the client's capability arrays.
#pragma once

#include "server/core/session.h"
#include "server/core/types.h"

namespace tabsrv::tds {

// A parsed login record.
struct LoginRecord {
  LoginRequest request;     // peerAddress is left for the caller
  std::string libraryName;  // "CT-Library" from FreeTDS's Client-Library
  Bytes requestCaps;        // capability type 1 (empty when the record carries none)
  Bytes responseCaps;       // capability type 2
};

// Parses a login message's data. Name fields are cut to their width whatever their length byte
// says; a password longer than 30 bytes is read from the remote-password block. Throws
// ProtocolError (BadPacket) when the record is too short to hold the fixed fields.
LoginRecord parseLoginRecord(const Bytes& data);

// The packet size to use for a client that asked for `requested` (0 = it did not say).
int negotiatePacketSize(int requested);

}  // namespace tabsrv::tds
