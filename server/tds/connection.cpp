// The protocol handler of one session. The login reply is LOGINACK, CAPABILITY, ENVCHANGE
// (database, charset utf8, packet size), DONE; a failed login is EED 4002, LOGINACK status 6,
// DONE, then a wait for the client's LOGOUT. After that every message is one request whose
// reply ends in exactly one final DONE, and every attention gets one DONE(ATTN).
#include "server/tds/connection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "server/core/message.h"
#include "server/tds/login_record.h"
#include "server/tds/option_command.h"
#include "server/tds/param_reader.h"
#include "server/tds/tokens.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

namespace {

ServerMessage loginFailedMessage() {
  return ServerMessage{kLoginFailedNumber, 1, 14, "Login failed.", "", 1};
}

ServerMessage errorMessage(int32_t number, std::string text) {
  return ServerMessage{number, 1, 16, std::move(text), "", 1};
}

std::string hex(uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", b);
  return text;
}

}  // namespace

Connection::Connection(Socket& socket, Engine& engine, LogFn log, ConnectionSettings settings,
                       const std::atomic<bool>* stopping)
    : socket_(socket),
      engine_(engine),
      log_(std::move(log)),
      settings_(settings),
      stopping_(stopping),
      reader_(socket, ReaderLimits{65535, settings.maxMessage, settings.packetTimeoutMs}),
      writer_(socket) {}

Connection::~Connection() = default;

void Connection::log(const std::string& line) const {
  if (log_) log_(line);
}

ReplyWriter Connection::newReply() {
  return ReplyWriter(
      writer_, serverName_, session_ ? &session_->options() : nullptr, [this] { return pollAttention(); },
      settings_.attentionPollMs);
}

std::string Connection::run() {
  std::string reason;
  try {
    serverName_ = engine_.serverName();
    if (!login()) {
      reason = "login failed";
    } else {
      for (;;) {
        Message message = reader_.readMessage(-1);
        if (message.oversized) {
          refuseOversized(message);
          continue;
        }
        if (handleMessage(message) == Next::Logout) break;
      }
      reason = "logout";
    }
  } catch (const ProtocolError& e) {
    reason = e.logText();
  } catch (const std::exception& e) {
    reason = std::string("error: ") + e.what();
  } catch (...) {
    reason = "error: unknown exception";
  }
  if (stopping_ && stopping_->load() && reason != "logout") reason = "server shutdown";
  try {
    session_.reset();
  } catch (...) {
    // A session that fails to close must not take the thread down with it.
  }
  if (spid_ != 0)
    log("session " + std::to_string(spid_) + " end: " + reason);
  else
    log("connection from " + socket_.peerAddress() + " end: " + reason);
  return reason;
}

void Connection::refuseOversized(const Message& message) {
  log("session " + std::to_string(spid_) + ": request of " + std::to_string(message.size) +
      " bytes refused (limit " + std::to_string(settings_.maxMessage) + ")");
  ReplyWriter reply = newReply();
  reply.message(ServerMessage{kRequestTooLargeNumber, 1, 17,
                              "There is not enough procedure cache to run this procedure, trigger, or SQL "
                              "batch. The request of " +
                                  std::to_string(message.size) + " bytes is larger than the " +
                                  std::to_string(settings_.maxMessage) + " bytes this server accepts.",
                              "", 1});
  reply.done(DoneKind::Done, true, -1);
  reply.finish();
  checkAfterReply(reply);
}

bool Connection::login() {
  // The whole login, however slowly its bytes come, has loginTimeoutMs; and a login record is
  // small, so a large one is not buffered.
  reader_.setDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.loginTimeoutMs));
  reader_.setMessageLimits(settings_.maxLoginMessage, settings_.maxLoginMessage);
  // A connection that says nothing is closed soon: it would hold a thread and a place of those
  // still logging in.
  Message message = reader_.readMessage(std::min(settings_.firstPacketTimeoutMs, settings_.loginTimeoutMs));
  if (message.oversized)
    throw ProtocolError(ProtocolError::Kind::BadPacket,
                        "login record larger than " + std::to_string(settings_.maxLoginMessage) + " bytes");
  if (message.type != PacketType::Login)
    throw ProtocolError(ProtocolError::Kind::BadPacket, "expected a login record, got packet type " +
                                                            std::to_string(static_cast<int>(message.type)));
  LoginRecord record = parseLoginRecord(message.data);
  record.request.peerAddress = socket_.peerAddress();
  const LoginRequest& request = record.request;

  LoginOutcome outcome;
  try {
    outcome = engine_.login(request);
  } catch (const SqlError& e) {
    outcome.failure = e.toMessage();
  } catch (const std::exception& e) {
    log("login of '" + request.user + "' failed in the engine: " + e.what());
  }

  if (!outcome.session) {
    ServerMessage failure = outcome.failure.value_or(loginFailedMessage());
    log("login failed for user '" + request.user + "' from " + request.peerAddress + ": " + failure.text);
    {
      ReplyWriter reply(writer_, serverName_, nullptr);
      reply.message(failure);
      reply.token(encodeLoginAck(false));
      reply.done(DoneKind::Done, false, -1);
      reply.finish();
    }
    // FreeTDS answers the failure with a LOGOUT and waits for a DONE before it gives up.
    try {
      Message next = reader_.readMessage(settings_.logoutWaitMs);
      if (next.type == PacketType::Normal && !next.data.empty() &&
          next.data[0] == static_cast<uint8_t>(Token::Logout))
        writer_.sendMessage(encodeDone(DoneKind::Done, 0, 0));
    } catch (const ProtocolError&) {
      // The client closed or said something else: either way the connection ends here.
    }
    return false;
  }

  reader_.setDeadline(std::nullopt);
  reader_.setMessageLimits(settings_.maxMessage, std::max(settings_.maxMessage, settings_.maxDiscard));
  session_ = std::move(outcome.session);
  spid_ = session_->spid();
  // kill <spid>: the socket closes, so a session waiting for its client ends as well.
  session_->setTerminator([this] { socket_.shutdown(); });
  if (loggedIn_) loggedIn_();
  writer_.setSpid(static_cast<uint16_t>(spid_));
  log("session " + std::to_string(spid_) + " start: user=" + request.user + " host=" + request.host +
      " program=" + request.appName + " process=" + request.hostProcess + " peer=" + request.peerAddress);

  const int packetSize = request.packetSize;
  {
    ReplyWriter reply(writer_, serverName_, nullptr);
    reply.token(encodeLoginAck(true));
    reply.token(
        encodeCapability(grantedRequestCaps(record.requestCaps), grantedResponseCaps(record.responseCaps)));
    reply.envChange(EnvChange::Database, session_->currentDatabase(), "");
    reply.envChange(EnvChange::Charset, "utf8", "");
    reply.envChange(EnvChange::PacketSize, std::to_string(packetSize), "512");
    reply.done(DoneKind::Done, false, -1);
    if (!reply.finish()) throw ProtocolError(ProtocolError::Kind::ClientClosed, "write failed");
  }
  writer_.setPacketSize(static_cast<size_t>(packetSize));
  reader_.setMaxPacket(static_cast<size_t>(packetSize));
  return true;
}

Connection::Next Connection::handleMessage(const Message& message) {
  switch (message.type) {
    case PacketType::Attention:
      // Nothing is running: the reply was already complete, but the client still waits for
      // the acknowledgement and discards everything before it.
      if (!writer_.sendMessage(encodeDone(DoneKind::Done, done_status::kAttention, 0)))
        throw ProtocolError(ProtocolError::Kind::ClientClosed, "write failed");
      return Next::Continue;
    case PacketType::Query: {
      // Raw SQL text (FreeTDS sends it only for emulated prepared statements): a language batch.
      ReplyWriter reply = newReply();
      runBatch(std::string_view(reinterpret_cast<const char*>(message.data.data()), message.data.size()),
               reply);
      reply.finish();
      checkAfterReply(reply);
      return Next::Continue;
    }
    case PacketType::Bulk: {
      ReplyWriter reply = newReply();
      rejectRequest("Bulk data", reply);
      reply.finish();
      checkAfterReply(reply);
      return Next::Continue;
    }
    case PacketType::Normal: {
      if (message.data.empty()) throw ProtocolError(ProtocolError::Kind::BadPacket, "empty request");
      ReplyWriter reply = newReply();
      Next next = handleTokens(message.data, reply);
      reply.finish();
      checkAfterReply(reply);
      return next;
    }
    default:
      throw ProtocolError(ProtocolError::Kind::BadPacket,
                          "packet type " + std::to_string(static_cast<int>(message.type)) + " after login");
  }
}

Connection::Next Connection::handleTokens(const Bytes& data, ReplyWriter& reply) {
  ByteReader in(data);
  while (!in.atEnd()) {
    const uint8_t token = in.u8();
    switch (static_cast<Token>(token)) {
      case Token::Language:
        handleLanguage(in, reply);
        break;
      case Token::OptionCmd:
        handleOption(in, reply);
        break;
      case Token::Logout:
        // `71 00`: the option byte is optional for other clients.
        if (!in.atEnd()) in.u8();
        reply.done(DoneKind::Done, false, -1);
        return Next::Logout;
      case Token::DbRpc:
        handleRpc(in, reply);
        break;
      case Token::Dynamic:
        handleDynamic(in, reply, false);
        break;
      case Token::Dynamic2:
        handleDynamic(in, reply, true);
        break;
      case Token::CurDeclare:
        handleCursorDeclare(in, reply);
        break;
      case Token::CurInfo:
        handleCursorInfo(in, reply);
        break;
      case Token::CurOpen:
        handleCursorOpen(in, reply);
        break;
      case Token::CurFetch:
        handleCursorFetch(in, reply);
        break;
      case Token::CurClose:
        handleCursorClose(in, reply);
        break;
      case Token::CurDelete:
      case Token::CurUpdate:
        // FreeTDS never sends these (positioned changes go as "... where current of c").
        in.skip(in.u16());
        if (paramsFollow(in)) readParams(in);
        rejectRequest("Positioned cursor commands", reply);
        break;
      default:
        throw ProtocolError(ProtocolError::Kind::BadPacket, "unknown request token " + hex(token));
    }
  }
  return Next::Continue;
}

void Connection::handleLanguage(ByteReader& in, ReplyWriter& reply) {
  const uint32_t length = in.u32();
  if (length < 1 || length > in.remaining())
    throw ProtocolError(ProtocolError::Kind::BadPacket,
                        "language token length " + std::to_string(length) + " does not fit its message");
  const uint8_t status = in.u8();
  std::string sql = in.text(length - 1);
  if (status & 0x01) {
    // ct_param on a language command: `?` became @P1, @P2 ... and PARAMFMT + PARAMS follow.
    if (!paramsFollow(in))
      throw ProtocolError(ProtocolError::Kind::BadPacket,
                          "language token announces parameters that do not follow");
    std::vector<ParamValue> params = readParams(in);
    guarded(reply, DoneKind::Done, [&] { session_->executeLanguageWithParams(sql, params, reply); });
    return;
  }
  runBatch(sql, reply);
}

void Connection::handleOption(ByteReader& in, ReplyWriter& reply) {
  const uint16_t length = in.u16();
  if (length < 3 || length > in.remaining())
    throw ProtocolError(ProtocolError::Kind::BadPacket,
                        "option token length " + std::to_string(length) + " does not fit its message");
  OptionRequest request;
  request.command = in.u8();
  request.option = in.u8();
  const uint8_t argLength = in.u8();
  if (argLength != length - 3)
    throw ProtocolError(
        ProtocolError::Kind::BadPacket,
        "option argument length " + std::to_string(argLength) + " disagrees with the token length");
  std::string arg = in.text(argLength);
  request.argument.assign(arg.begin(), arg.end());
  OptionAnswer answer = applyOption(request, session_->options());
  if (answer.error) {
    reply.message(errorMessage(kBadOptionNumber, answer.errorText));
    reply.done(DoneKind::Done, true, -1);
    return;
  }
  if (answer.hasInfo) reply.token(encodeOptionInfo(request.option, answer.infoLength, answer.infoValue));
  reply.done(DoneKind::Done, false, -1);
}

void Connection::rejectRequest(std::string_view what, ReplyWriter& reply) {
  reply.message(errorMessage(kNotSupportedNumber, std::string(what) + " are not supported by this server."));
  reply.done(DoneKind::Done, true, -1);
}

void Connection::runBatch(std::string_view sql, ReplyWriter& reply) {
  guarded(reply, DoneKind::Done, [&] { session_->executeLanguage(sql, reply); });
}

bool Connection::guarded(ReplyWriter& reply, DoneKind kind, const std::function<void()>& work) {
  try {
    work();
    return true;
  } catch (const ProtocolError&) {
    throw;
  } catch (const SqlError& e) {
    reply.message(e.toMessage());
    reply.done(kind, true, -1);
  } catch (const std::exception& e) {
    // The executor's fault, not the client's: report it, keep the session.
    log("session " + std::to_string(spid_) + ": batch failed: " + e.what());
    reply.message(errorMessage(kAbortedNumber, std::string("Command has been aborted: ") + e.what()));
    reply.done(kind, true, -1);
  }
  return false;
}

void Connection::checkAfterReply(const ReplyWriter& reply) {
  if (session_) session_->afterReply();
  if (inputError_) {
    ProtocolError e = *inputError_;
    inputError_.reset();
    throw e;
  }
  if (reply.brokenInput())
    throw ProtocolError(ProtocolError::Kind::BadPacket, "request sent while a reply was pending");
  if (reply.writeFailed()) throw ProtocolError(ProtocolError::Kind::ClientClosed, "write failed");
}

AttentionPoll Connection::pollAttention() {
  if (!socket_.readable()) return AttentionPoll::Nothing;
  try {
    Message packet = reader_.readPacket();
    if (packet.type == PacketType::Attention) return AttentionPoll::Attention;
    inputError_ = ProtocolError(ProtocolError::Kind::BadPacket, "request sent while a reply was pending");
  } catch (const ProtocolError& e) {
    inputError_ = e;
  }
  return AttentionPoll::Broken;
}

}  // namespace tabsrv::tds
