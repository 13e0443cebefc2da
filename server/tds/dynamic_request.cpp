// Dynamic (prepared) statements: DYNAMIC prepare answers with the acknowledgement, a PARAMFMT
// for the `?` parameters and a ROWFMT for the result columns (describe input/output read them
// from this reply; FreeTDS crashes describing input without a PARAMFMT, so one always goes,
// empty if need be); execute takes positional PARAMFMT + PARAMS; deallocate is acknowledged.
#include <cctype>
#include <string>
#include <vector>

#include "server/tds/connection.h"
#include "server/tds/data_format.h"
#include "server/tds/param_reader.h"
#include "server/tds/tokens.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

namespace {

// DYNAMIC operation types.
constexpr uint8_t kDynPrepare = 0x01;
constexpr uint8_t kDynExecute = 0x02;
constexpr uint8_t kDynDeallocate = 0x04;
constexpr uint8_t kDynExecImmediate = 0x08;
// DYNAMIC status bit: PARAMFMT and PARAMS follow the token.
constexpr uint8_t kDynHasParams = 0x01;

bool startsWithWord(std::string_view s, size_t& at, std::string_view word) {
  while (at < s.size() && std::isspace(static_cast<unsigned char>(s[at]))) ++at;
  if (s.size() - at < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[at + i])) != word[i]) return false;
  size_t end = at + word.size();
  if (end < s.size() && !std::isspace(static_cast<unsigned char>(s[end]))) return false;
  at = end;
  return true;
}

}  // namespace

// With PROTO_DYNPROC a client sends "create proc <id> as <sql>"; the statement is the <sql>.
std::string preparedText(std::string_view statement, std::string_view id) {
  size_t at = 0;
  if (!startsWithWord(statement, at, "create")) return std::string(statement);
  if (!startsWithWord(statement, at, "proc") && !startsWithWord(statement, at, "procedure"))
    return std::string(statement);
  while (at < statement.size() && std::isspace(static_cast<unsigned char>(statement[at]))) ++at;
  if (statement.substr(at, id.size()) != id) return std::string(statement);
  at += id.size();
  if (!startsWithWord(statement, at, "as")) return std::string(statement);
  while (at < statement.size() && std::isspace(static_cast<unsigned char>(statement[at]))) ++at;
  return std::string(statement.substr(at));
}

void Connection::handleDynamic(ByteReader& in, ReplyWriter& reply, bool wideLength) {
  const uint32_t length = wideLength ? in.u32() : in.u16();
  if (length < 3 || length > in.remaining())
    throw ProtocolError(ProtocolError::Kind::BadPacket,
                        "dynamic token length " + std::to_string(length) + " does not fit its message");
  ByteReader body = in.sub(length);
  const uint8_t type = body.u8();
  const uint8_t status = body.u8();
  std::string id = body.text(body.u8());
  std::string statement;
  if (!body.atEnd()) statement = body.text(wideLength ? body.u32() : body.u16());
  if (!body.atEnd())
    throw ProtocolError(ProtocolError::Kind::BadPacket, "dynamic token length disagrees with its statement");
  std::vector<ParamValue> params;
  if (status & kDynHasParams) {
    if (!paramsFollow(in))
      throw ProtocolError(ProtocolError::Kind::BadPacket,
                          "dynamic token announces parameters that do not follow");
    params = readParams(in);
  }

  switch (type) {
    case kDynPrepare: {
      PreparedDescription description;
      Bytes inputFormat;
      // A failure ends with DONEPROC(ERROR): FreeTDS answers any DONE of a prepare or
      // deallocate with CMD_SUCCEED, error bit or not, but a failed DONEPROC with CMD_FAIL.
      if (!guarded(reply, DoneKind::DoneProc, [&] {
            description = session_->prepareStatement(id, preparedText(statement, id));
            inputFormat = encodeParamFormat(description.inputs);
          }))
        return;
      reply.token(encodeDynamicAck(id));
      reply.token(inputFormat);
      reply.rowFormat(description.outputs);
      reply.done(DoneKind::Done, false, -1);
      return;
    }
    case kDynExecute:
      reply.guardEmptyFinalResult();
      guarded(reply, DoneKind::Done, [&] { session_->executePrepared(id, params, reply); });
      return;
    case kDynDeallocate:
      if (!guarded(reply, DoneKind::DoneProc, [&] { session_->deallocatePrepared(id); })) return;
      reply.token(encodeDynamicAck(id));
      reply.done(DoneKind::Done, false, -1);
      return;
    case kDynExecImmediate:
      runBatch(statement, reply);
      return;
    default:
      reply.message(ServerMessage{
          kNotSupportedNumber, 1, 16,
          "Dynamic statement operation " + std::to_string(type) + " is not supported by this server.", "",
          1});
      reply.done(DoneKind::Done, true, -1);
  }
}

}  // namespace tabsrv::tds
