// Reads the parameters a client sends with an RPC, a parameterised language command, a cursor
// or a prepared-statement execute: a PARAMFMT (or PARAMFMT2) token describing them, then one
// PARAMS token with their values, decoded into ParamValues for the executor.
#pragma once

#include <vector>

#include "server/core/session.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

// True when the next byte starts a parameter format (PARAMFMT or PARAMFMT2).
bool paramsFollow(const ByteReader& in);

// Reads PARAMFMT/PARAMFMT2 and the PARAMS token after it. Throws ProtocolError for a
// malformed or truncated pair, a wire type this server does not know, or a value that does
// not fit its format; the reader is left after the PARAMS token.
std::vector<ParamValue> readParams(ByteReader& in);

}  // namespace tabsrv::tds
