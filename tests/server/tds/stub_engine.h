// A stand-in Engine for protocol tests: fixed logins and a session that answers a few known
// batches with fixed results, so the protocol layer is tested without the executor.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "server/core/session.h"

namespace tabtest {

// The result set every type test reads: one column per classic type with its extreme value.
std::vector<tabsrv::ColumnDesc> typeColumns(bool nullable);
std::vector<tabsrv::Value> typeValues();

// How many "waitfor" and "slowrows" batches (in any session) saw cancelled() turn true.
int cancelledWaits();
// "stuck" batches run until releaseStuck(true), never looking at cancelled(); how many run now.
void releaseStuck(bool released);
int stuckRunning();
// Prepared statements and declared cursors alive in all stub sessions together.
int livePrepared();
int liveCursors();

// Answers batches by their text:
//   contains "select @@spid" -> one INT row with the spid (FreeTDS's login batch)
//   "types" / "nulls"        -> typeColumns() with typeValues() / with every value NULL
//   "stuck"                  -> runs until releaseStuck(true), ignoring cancels
//   "waitfor"                -> waits up to 10 s, checking sink.cancelled() between 1 ms naps
//   "slowrows"               -> a row, then the same wait, then a second row
//   "error"                  -> EED 208 and DONE(ERROR)
//   "print"                  -> a severity-0 message and DONE
//   "multi"                  -> rows + DONE(MORE|COUNT 2), DONE(COUNT 5), rows + DONE(COUNT 1)
//   "sqlerror" / "throw"     -> throws SqlError 102 / std::runtime_error
//   "bigrows N"              -> N rows of one varchar(200) column
//   "nodone"                 -> a row result without any DONE
//   "set textsize N"         -> sets the session's text size
//   "bigtext N"              -> one row: a text and an image of N bytes (the image with NULs),
//                               see bigText()/bigImage()
//   contains "@@version"     -> one varchar row with a version text
//   "exec_proc"              -> a procedure's reply: a row, DONEINPROC, status 5, @out = 42,
//                               DONEPROC
//   "compute"                -> rows of (grp, val) with COMPUTE SUM(val), MAX(val) BY grp
//   anything else            -> DONE with no count
// RPC: "two_in_one_out" (@a int, @b varchar, @out int output) -> a row (@a, @b), status 5 and
// @out = @a * 2; "minus_one" -> status -1; "echo" -> a row of every input value and every
// output parameter sent back unchanged, status 0; "fails_after_status" -> status -6, then a
// SqlError 2601; anything else -> the default (2812).
// Language with parameters: one row holding every parameter, named after it.
// Cursors over "numbers N" (rows n = 1..N and the word "row n"), materialised at open.
// Prepared statements over "numbers where ? < n and n <= ?" (any count of `?`, each an int
// bound); any other text is an insert-like statement without result columns that counts one
// row; "bad" fails to prepare with 102.
class StubSession : public tabsrv::Session {
 public:
  explicit StubSession(int spid) : spid_(spid) {}
  ~StubSession() override;
  int spid() const override { return spid_; }
  std::string currentDatabase() const override { return "master"; }
  tabsrv::SessionOptions& options() override { return options_; }
  void executeLanguage(std::string_view sql, tabsrv::ResultSink& sink) override;
  void executeRpc(const std::string& procName, std::vector<tabsrv::ParamValue>& params,
                  tabsrv::ResultSink& sink) override;
  void executeLanguageWithParams(std::string_view sql, const std::vector<tabsrv::ParamValue>& params,
                                 tabsrv::ResultSink& sink) override;
  int32_t declareCursor(const std::string& name, const std::string& sql, bool forUpdate,
                        const std::vector<tabsrv::ParamValue>& params) override;
  void setCursorRows(int32_t id, int32_t rows) override;
  std::vector<tabsrv::ColumnDesc> openCursor(int32_t id, tabsrv::ResultSink& sink) override;
  std::vector<std::vector<tabsrv::Value>> fetchCursor(int32_t id, int32_t maxRows,
                                                       tabsrv::ResultSink& sink) override;
  int32_t cursorRowCount(int32_t id) override;
  void closeCursor(int32_t id, bool deallocate) override;
  tabsrv::PreparedDescription prepareStatement(const std::string& id, const std::string& sql) override;
  void executePrepared(const std::string& id, const std::vector<tabsrv::ParamValue>& params,
                       tabsrv::ResultSink& sink) override;
  void deallocatePrepared(const std::string& id) override;

  // The cursor fetches seen, as the maxRows each asked for.
  const std::vector<int32_t>& fetchSizes() const { return fetchSizes_; }

 private:
  struct Cursor {
    std::string name;
    int count = 0;  // rows the query yields
    int32_t rows = 1;
    bool open = false;
    std::vector<std::vector<tabsrv::Value>> pending;
    int32_t fetched = 0;
  };
  Cursor& cursor(int32_t id);

  int spid_;
  tabsrv::SessionOptions options_;
  std::map<int32_t, Cursor> cursors_;
  int32_t nextCursor_ = 100;
  struct Prepared {
    size_t marks = 0;   // number of `?`
    bool rows = false;  // a select over "numbers" (else an insert-like statement)
  };
  std::map<std::string, Prepared> prepared_;
  std::vector<int32_t> fetchSizes_;
};

// The values "bigtext N" returns.
std::string bigText(size_t n);
tabsrv::Bytes bigImage(size_t n);

// Logins: sa with password "secret", and "longpw" with a 40-character password.
class StubEngine : public tabsrv::Engine {
 public:
  static const char* longPassword() { return "0123456789abcdefghijklmnopqrstuvwxyzABCD"; }
  std::string serverName() const override { return "STUBSRV"; }
  tabsrv::LoginOutcome login(const tabsrv::LoginRequest& request) override;

  // Every login request seen, for tests that check what the record carried.
  std::vector<tabsrv::LoginRequest> requests();

 private:
  std::mutex mutex_;
  std::vector<tabsrv::LoginRequest> requests_;
  std::atomic<int> nextSpid_{10};
};

}  // namespace tabtest
