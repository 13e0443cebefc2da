// The seam between the protocol layer and the executor: the login request, the per-session
// options, the sink that results are written to, and the Engine/Session pair that runs SQL.
// The protocol layer owns sockets and tokens; the executor owns SQL, storage and sessions' state.
#pragma once

#include <cstdint>
#include <functional>
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

  bool operator==(const SessionOptions&) const = default;
};

enum class DoneKind : uint8_t { Done, DoneInProc, DoneProc };

enum class EnvChange : uint8_t { Database = 1, Language = 2, Charset = 3, PacketSize = 4 };

// One parameter of an RPC, a parameterised language command, a cursor or a prepared statement:
// its name ("@x", "@P1", or empty when positional), its wire format, its value and whether the
// client wants it back (CS_RETURN).
struct ParamValue {
  std::string name;
  ColumnDesc format;
  Value value;
  bool output = false;
};

// One column of a COMPUTE clause: its format, the aggregate operator as the wire codes it
// (0x4B count, 0x4D sum, 0x4F avg, 0x51 min, 0x52 max) and its operand, the 1-based select-list
// column the aggregate reads.
struct ComputeColumn {
  ColumnDesc desc;
  uint8_t op = 0;
  uint8_t operand = 0;
};

// What a prepared statement takes and returns: its `?` parameters and its result columns.
struct PreparedDescription {
  std::vector<ColumnDesc> inputs;
  std::vector<ColumnDesc> outputs;
};

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
  // Declares compute `id` of the current result set (after rowFormat(), before its rows):
  // one entry per aggregate, and the 1-based select-list columns of its BY list.
  virtual void computeFormat(uint16_t id, const std::vector<ComputeColumn>& columns,
                             const std::vector<uint8_t>& byList) {
    (void)id, (void)columns, (void)byList;
  }
  // One compute row for compute `id`, one value per compute column, after the rows it sums.
  virtual void computeRow(uint16_t id, const std::vector<Value>& values) { (void)id, (void)values; }

  // Work the executor has done but not yet committed, whose results wait in the sink. A sink that
  // holds tokens back and sends them later (defersOutput) asks commitBeforeSend() before any of
  // its bytes leave, so the client never hears of a change before it is committed; a sink that
  // hands results on at once keeps the defaults, and the executor then commits as it goes.
  class HeldWork {
   public:
    virtual ~HeldWork() = default;
    // Commits the held work; false when that cannot be done now (a statement is half way), and
    // the sink then keeps its bytes a little longer.
    virtual bool commitBeforeSend() = 0;
  };
  virtual bool defersOutput() const { return false; }
  void setHeldWork(HeldWork* work) { heldWork_ = work; }
  // Marks where the output of newly held work begins; dropHeldOutput() takes back everything
  // after the mark (the held work was lost and its statements must not be reported done).
  virtual void markHeldOutput() {}
  virtual void dropHeldOutput() {}

 protected:
  bool readyToSend() { return !heldWork_ || heldWork_->commitBeforeSend(); }

 private:
  HeldWork* heldWork_ = nullptr;
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
  // Called once the reply to a request has gone out: work that need not delay the reply.
  virtual void afterReply() {}

  // How to end the session's connection when sa kills the session (`kill spid`): the protocol
  // layer closes its socket, so a session waiting for its client ends too. Called from another
  // session's thread.
  virtual void setTerminator(std::function<void()> terminate) { (void)terminate; }

  // Runs a stored procedure called by RPC. Rows go out as usual, each statement ending with
  // done(DoneInProc ...); then returnStatus(), outputParams() for the output parameters and a
  // final done(DoneProc ...). The writer keeps the status and parameters next to that DONEPROC.
  virtual void executeRpc(const std::string& procName, std::vector<ParamValue>& params, ResultSink& sink) {
    (void)procName, (void)params, (void)sink;
    throw SqlError(2812, 16, "Remote procedure calls are not supported by this server.");
  }
  // Runs a language batch whose `?` placeholders the client turned into @P1, @P2 ... with their
  // values in `params`.
  virtual void executeLanguageWithParams(std::string_view sql, const std::vector<ParamValue>& params,
                                         ResultSink& sink) {
    (void)sql, (void)params, (void)sink;
    throw SqlError(2812, 16, "Parameters on language commands are not supported by this server.");
  }

  // Cursors. Ids are per session and never 0; the executor keeps each cursor's state.
  // Declares a cursor over `sql` and returns its id. `forUpdate` comes from the declare options
  // or from a trailing "for update" (FreeTDS declares every cursor read-only).
  virtual int32_t declareCursor(const std::string& name, const std::string& sql, bool forUpdate,
                                const std::vector<ParamValue>& params) {
    (void)name, (void)sql, (void)forUpdate, (void)params;
    throw SqlError(2812, 16, "Cursors are not supported by this server.");
  }
  // Sets how many rows one fetch returns (1 until set).
  virtual void setCursorRows(int32_t id, int32_t rows) {
    (void)id, (void)rows;
    throw SqlError(2812, 16, "Cursors are not supported by this server.");
  }
  // Opens the cursor: starts its query and returns its columns. `sink` takes the messages the
  // open raises and is asked whether the client cancelled (the open then fails quietly).
  virtual std::vector<ColumnDesc> openCursor(int32_t id, ResultSink& sink) {
    (void)id, (void)sink;
    throw SqlError(2812, 16, "Cursors are not supported by this server.");
  }
  // The next rows of an open cursor, at most maxRows of them; empty once none are left. `sink`
  // as for openCursor.
  virtual std::vector<std::vector<Value>> fetchCursor(int32_t id, int32_t maxRows, ResultSink& sink) {
    (void)id, (void)maxRows, (void)sink;
    throw SqlError(2812, 16, "Cursors are not supported by this server.");
  }
  // How many rows the open cursor has handed out so far.
  virtual int32_t cursorRowCount(int32_t id) {
    (void)id;
    return 0;
  }
  // Closes the cursor; with `deallocate` its declaration goes too. FreeTDS sends a dealloc of
  // an already closed cursor as close-with-deallocate, which must succeed.
  virtual void closeCursor(int32_t id, bool deallocate) {
    (void)id, (void)deallocate;
    throw SqlError(2812, 16, "Cursors are not supported by this server.");
  }

  // Dynamic (prepared) statements, named by the client's id; ids are per session.
  // Prepares `sql` (with `?` placeholders) and describes its parameters and result columns.
  virtual PreparedDescription prepareStatement(const std::string& id, const std::string& sql) {
    (void)id, (void)sql;
    throw SqlError(2812, 16, "Dynamic statements are not supported by this server.");
  }
  // Runs a prepared statement with positional parameter values; results as for a batch.
  virtual void executePrepared(const std::string& id, const std::vector<ParamValue>& params,
                               ResultSink& sink) {
    (void)id, (void)params, (void)sink;
    throw SqlError(2812, 16, "Dynamic statements are not supported by this server.");
  }
  // Forgets a prepared statement.
  virtual void deallocatePrepared(const std::string& id) {
    (void)id;
    throw SqlError(2812, 16, "Dynamic statements are not supported by this server.");
  }
};

// Connections the server serves at once: logged-in sessions (at most kMostSessions, the highest
// value "number of user connections" takes) and connections still logging in (kMostLoggingIn,
// so silent connections never take the sessions' room).
inline constexpr int kMostSessions = 1984;
inline constexpr int kMostLoggingIn = 64;

// The configuration parameters of the per-session limits (sp_configure).
inline constexpr const char* kSessionPreparedStatements = "session prepared statements";
inline constexpr const char* kSessionOpenCursors = "session open cursors";

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
