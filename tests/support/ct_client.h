// A small Client-Library client for tests and the command-line query tool: connects through
// FreeTDS pinned to TDS 5.0, runs a language batch and returns every result set as text,
// with the server and client messages, row counts and return status of the batch.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct _cs_context;
struct _cs_connection;

namespace tabtest {

// One server or client message as the callbacks received it.
struct CtMessage {
  bool fromServer = true;
  int number = 0;
  int severity = 0;
  int state = 0;
  int line = 0;
  std::string text;
  std::string procedure;
};

// What kind of result a set of rows came from.
enum class CtSetKind { Rows, Compute, Status, Params };

// One result set: column names, Client-Library datatypes and rows (nullopt = NULL),
// every value converted to CS_CHAR by the client library.
struct CtResultSet {
  CtSetKind kind = CtSetKind::Rows;
  std::vector<std::string> columns;
  std::vector<int> types;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

// Everything one batch produced.
struct CtBatch {
  std::vector<CtResultSet> sets;
  std::vector<CtMessage> messages;
  std::vector<int> rowCounts;        // one per CMD_DONE that carried a count
  std::optional<int> returnStatus;
  bool failed = false;               // a CS_CMD_FAIL result or a failed call
  bool canceled = false;
  // The first message with severity above 10, if any.
  const CtMessage* firstError() const;
};

// A connection with its own context, so clients on different threads never share state.
class CtClient {
 public:
  CtClient();
  ~CtClient();
  CtClient(const CtClient&) = delete;
  CtClient& operator=(const CtClient&) = delete;

  // Logs in to the named server entry; false with `error` filled on failure.
  bool connect(const std::string& server = "DSQUERY", const std::string& user = "sa",
               const std::string& password = "", std::string* error = nullptr,
               const std::string& appName = "tabtest");
  // Runs a language batch and reads all of its results.
  CtBatch run(const std::string& sql);
  // Prepares `sql` (with ? markers) as a dynamic statement, describes its input and releases it
  // again; false with `error` filled when the server refuses it. `inputs` gets the number of
  // input parameters the server described.
  bool prepare(const std::string& sql, int* inputs, std::string* error);
  // Closes the connection (a no-op when not connected).
  void close();
  bool connected() const { return connection_ != nullptr; }

  // Reads datetime columns natively and shows them as 'YYYY-MM-DD HH:MM:SS.mmm' instead of the
  // client library's default text, which drops seconds and milliseconds.
  void setIsoDates(bool on) { isoDates_ = on; }

  // Messages that arrived outside run() (at login, for example); cleared by the call.
  std::vector<CtMessage> takeMessages();

  _cs_context* context() const { return context_; }
  _cs_connection* connection() const { return connection_; }

  // Messages are routed here by the callbacks.
  void addMessage(CtMessage message) { messages_.push_back(std::move(message)); }

 private:
  _cs_context* context_ = nullptr;
  _cs_connection* connection_ = nullptr;
  std::vector<CtMessage> messages_;
  bool isoDates_ = false;
};

// Renders a row as the script runner shows it: values joined by " | ", NULL as "NULL".
std::string formatRow(const std::vector<std::optional<std::string>>& row);

}  // namespace tabtest
