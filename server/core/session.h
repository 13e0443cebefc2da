// The seam between the protocol layer and the executor: the login request, the per-session
// options, the sink that results are written to, and the Engine/Session pair that runs SQL.
// The protocol layer owns sockets and tokens; the executor owns SQL, storage and sessions' state.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/message.h"
#include "server/core/types.h"

namespace tabsrv {

// What the client's login record carries.
struct LoginRequest {
  std::string host;
  std::string user;
  std::string password;
  std::string hostProcess;
  std::string appName;
  std::string serverName;
  std::string language;
  std::string charset;
  int packetSize = 512;
  std::string peerAddress;  // the client's socket address, for the session log
};

// Options a session carries; set by the option command and by SET statements alike.
struct SessionOptions {
  int32_t rowCount = 0;       // 0 = no limit
  int32_t textSize = 32768;   // bytes of text/image sent per value
  bool noCount = false;
  bool fmtOnly = false;
  bool parseOnly = false;
  bool noExec = false;
  bool chained = false;
  bool ansiNull = false;
  bool quotedIdentifier = false;
  bool arithAbort = true;
  bool arithIgnore = false;
  bool showPlan = false;
  bool forcePlan = false;
  bool statIo = false;
  bool statTime = false;
  int isolation = 1;          // 0, 1, 2 or 3
  int dateFirst = 7;
  std::string dateFormat = "mdy";
};

enum class DoneKind : uint8_t { Done, DoneInProc, DoneProc };

enum class EnvChange : uint8_t { Database = 1, Language = 2, Charset = 3, PacketSize = 4 };

// Where the executor writes a batch's results. The writer keeps the last DONE back until the
// next token (or the end of the reply), so the executor never decides the MORE bit.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  // Starts a result set; rows follow until the next done().
  virtual void rowFormat(const std::vector<ColumnDesc>& columns) = 0;
  virtual void row(const std::vector<Value>& values) = 0;
  virtual void message(const ServerMessage& msg) = 0;
  // Ends a statement. `error` sets the error bit; rowCount < 0 means the count is not valid.
  virtual void done(DoneKind kind, bool error, int32_t rowCount) = 0;
  virtual void returnStatus(int32_t status) = 0;
  // Output parameters of a procedure: their formats and values.
  virtual void outputParams(const std::vector<ColumnDesc>& params, const std::vector<Value>& values) = 0;
  virtual void envChange(EnvChange type, const std::string& newValue, const std::string& oldValue) = 0;
  // True once the client has sent an attention; the executor stops at the next check.
  // Cheap enough to call between rows and inside waits.
  virtual bool cancelled() = 0;
};

// One logged-in session: its own SQLite connection, current database, options and state.
class Session {
 public:
  virtual ~Session() = default;
  virtual int spid() const = 0;
  virtual std::string currentDatabase() const = 0;
  virtual SessionOptions& options() = 0;
  // Runs a language batch (several statements); every statement ends with sink.done(...).
  virtual void executeLanguage(std::string_view sql, ResultSink& sink) = 0;
};

// The result of a login: a session, or the message that explains the failure (4002 ...).
struct LoginOutcome {
  std::unique_ptr<Session> session;
  std::optional<ServerMessage> failure;
};

// The server as a whole: storage, logins and the table of live sessions.
class Engine {
 public:
  virtual ~Engine() = default;
  virtual std::string serverName() const = 0;
  virtual LoginOutcome login(const LoginRequest& request) = 0;
};

}  // namespace tabsrv
