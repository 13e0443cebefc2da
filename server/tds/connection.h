// One client connection from the first byte to the last: the login, then each request message
// dispatched to its handler (language with and without parameters, RPC, cursors, dynamic
// statements, option command, logout, attention), until the session ends.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/session.h"
#include "server/tds/packet_reader.h"
#include "server/tds/packet_writer.h"
#include "server/tds/reply_writer.h"
#include "server/tds/socket.h"

namespace tabsrv::tds {

// Receives one log line at a time.
using LogFn = std::function<void(const std::string&)>;

// Timeouts and limits of a connection.
struct ConnectionSettings {
  int loginTimeoutMs = 30000;     // from accept to a complete login record
  int firstPacketTimeoutMs = 5000;  // from accept to the login record's first byte
  int packetTimeoutMs = 30000;    // silence allowed inside a packet
  int logoutWaitMs = 5000;        // after a failed login, how long to wait for the LOGOUT
  size_t maxMessage = 16u << 20;  // joined size of one request; a larger one is refused (701)
  size_t maxLoginMessage = 8192;  // the login record with its capabilities (about 600 bytes)
  size_t maxDiscard = 64u << 20;  // an oversized request is read and dropped up to this size
  int attentionPollMs = 1;        // how often cancelled() looks at the socket
};

// Message numbers this layer raises itself.
inline constexpr int32_t kLoginFailedNumber = 4002;
inline constexpr int32_t kNotSupportedNumber = 2812;
inline constexpr int32_t kBadOptionNumber = 5864;
inline constexpr int32_t kAbortedNumber = 3621;
inline constexpr int32_t kRequestTooLargeNumber = 701;

// The statement of a DYNAMIC prepare: the text after "create proc <id> as " when a client that
// was granted PROTO_DYNPROC put that prefix in front, else the text unchanged.
std::string preparedText(std::string_view statement, std::string_view id);

// True when a cursor's statement ends in "for update [of ...]" (outside literals and comments):
// FreeTDS declares every cursor read-only, so the text is what says a cursor is for update.
bool declaresForUpdate(std::string_view sql);

// Runs one session over a connected socket.
class Connection {
 public:
  // `stopping`, when given, turns the end reason into "server shutdown" once it is set.
  Connection(Socket& socket, Engine& engine, LogFn log, ConnectionSettings settings = {},
             const std::atomic<bool>* stopping = nullptr);
  ~Connection();

  // Serves the connection until it ends and returns the end reason as logged ("logout",
  // "client closed", "bad packet: <why>", "login failed", "server shutdown" ...). Never throws.
  std::string run();
  // The session's spid once logged in, else 0.
  int spid() const { return spid_; }
  // Called once the login has succeeded (the listener stops counting it as logging in).
  void onLoggedIn(std::function<void()> loggedIn) { loggedIn_ = std::move(loggedIn); }

 private:
  enum class Next { Continue, Logout };

  bool login();
  // Answers a request that was larger than maxMessage with error 701; the session goes on.
  void refuseOversized(const Message& message);
  Next handleMessage(const Message& message);
  Next handleTokens(const Bytes& data, ReplyWriter& reply);
  void handleLanguage(ByteReader& in, ReplyWriter& reply);
  void handleOption(ByteReader& in, ReplyWriter& reply);
  void handleRpc(ByteReader& in, ReplyWriter& reply);
  void handleDynamic(ByteReader& in, ReplyWriter& reply, bool wideLength);
  void handleCursorDeclare(ByteReader& in, ReplyWriter& reply);
  void handleCursorInfo(ByteReader& in, ReplyWriter& reply);
  void handleCursorOpen(ByteReader& in, ReplyWriter& reply);
  void handleCursorFetch(ByteReader& in, ReplyWriter& reply);
  void handleCursorClose(ByteReader& in, ReplyWriter& reply);
  // Runs `work` against the session; a SqlError (or any other failure of the executor) becomes
  // an EED and a DONE of `kind` with the error bit. Returns false when it failed.
  bool guarded(ReplyWriter& reply, DoneKind kind, const std::function<void()>& work);
  void rejectRequest(std::string_view what, ReplyWriter& reply);
  void runBatch(std::string_view sql, ReplyWriter& reply);
  // Raises what the attention watch saw instead of an attention, and a failed write.
  void checkAfterReply(const ReplyWriter& reply);
  AttentionPoll pollAttention();
  ReplyWriter newReply();
  void log(const std::string& line) const;

  Socket& socket_;
  Engine& engine_;
  LogFn log_;
  ConnectionSettings settings_;
  const std::atomic<bool>* stopping_;
  PacketReader reader_;
  PacketWriter writer_;
  std::unique_ptr<Session> session_;
  std::string serverName_;
  std::optional<ProtocolError> inputError_;

  // What the protocol keeps of each declared cursor; the executor keeps its rows.
  struct CursorState {
    std::string name;
    bool forUpdate = false;
    bool rowsSet = false;
    bool open = false;
    int32_t rows = 1;
    std::vector<ColumnDesc> columns;
    uint16_t status() const;
  };
  // Finds the cursor a token names: by id, or by name when the id is 0. Throws SqlError.
  int32_t cursorFor(ByteReader& token, int32_t id);
  std::map<int32_t, CursorState> cursors_;
  // Why the latest declarations of names the session does not hold were refused: a command that
  // names such a cursor (the rows and open FreeTDS sends along with the declare) gives that reason.
  std::map<std::string, SqlError> refusedDeclares_;
  int spid_ = 0;
  std::function<void()> loggedIn_;
};

}  // namespace tabsrv::tds
