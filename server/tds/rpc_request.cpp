// The RPC request: DBRPC (procedure name and options), then PARAMFMT + PARAMS when option bit 2
// says parameters follow. The executor answers with rows (each ended by DONEINPROC), the return
// status, the output parameters and DONEPROC; an error ends the reply with DONEPROC(ERROR).
#include <string>
#include <vector>

#include "server/tds/connection.h"
#include "server/tds/param_reader.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

namespace {

// DBRPC option bit: PARAMFMT and PARAMS follow the token.
constexpr uint16_t kRpcHasParams = 0x02;

}  // namespace

void Connection::handleRpc(ByteReader& in, ReplyWriter& reply) {
  const uint16_t length = in.u16();
  if (length < 3 || length > in.remaining())
    throw ProtocolError(ProtocolError::Kind::BadPacket,
                        "rpc token length " + std::to_string(length) + " does not fit its message");
  ByteReader body = in.sub(length);
  std::string name = body.text(body.u8());
  const uint16_t options = body.u16();
  if (!body.atEnd())
    throw ProtocolError(ProtocolError::Kind::BadPacket, "rpc token length disagrees with its name");
  std::vector<ParamValue> params;
  if (options & kRpcHasParams) {
    if (!paramsFollow(in))
      throw ProtocolError(ProtocolError::Kind::BadPacket,
                          "rpc token announces parameters that do not follow");
    params = readParams(in);
  }
  if (name.empty()) {
    reply.message(ServerMessage{2812, 1, 16, "Stored procedure '' not found.", "", 1});
    reply.done(DoneKind::DoneProc, true, -1);
    return;
  }
  guarded(reply, DoneKind::DoneProc, [&] { session_->executeRpc(name, params, reply); });
}

}  // namespace tabsrv::tds
