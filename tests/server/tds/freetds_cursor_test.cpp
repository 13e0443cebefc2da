// Cursors and dynamic statements through FreeTDS's Client-Library against the in-process
// listener: the declare + rows + open answer sequence, fetches of CS_CURSOR_ROWS rows into bind
// arrays, close with dealloc, two cursors interleaved with language commands, and prepare /
// describe / execute / deallocate of a statement with parameters.
#include <ctpublic.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/server/tds/ct_results.h"
#include "tests/server/tds/freetds_fixture.h"

namespace {

using tabtest::CmdResults;
using tabtest::FreeTdsTest;

// A read-only cursor over the stub's "numbers N", fetched CS_CURSOR_ROWS rows at a time into
// bind arrays of that many rows (FreeTDS's ct_fetch fails when the two differ).
class Cursor {
 public:
  Cursor(CS_CONNECTION* con, const std::string& name, int count, int rows) : rows_(rows) {
    EXPECT_EQ(ct_cmd_alloc(con, &cmd_), CS_SUCCEED);
    std::string sql = "numbers " + std::to_string(count);
    EXPECT_EQ(ct_cursor(cmd_, CS_CURSOR_DECLARE, const_cast<char*>(name.c_str()), CS_NULLTERM,
                        const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_READ_ONLY),
              CS_SUCCEED);
    EXPECT_EQ(ct_cursor(cmd_, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, rows), CS_SUCCEED);
    EXPECT_EQ(ct_cursor(cmd_, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED), CS_SUCCEED);
    EXPECT_EQ(ct_send(cmd_), CS_SUCCEED);
    // Each cursor command has its own DONE; the rows come with CS_CURSOR_RESULT.
    openAnswers_ = tabtest::drainResults(cmd_, rows, true).sequence();
    numbers_.assign(static_cast<size_t>(rows), 0);
    words_.assign(static_cast<size_t>(rows) * 32, 0);
    lengths_.assign(static_cast<size_t>(rows) * 2, 0);
    CS_DATAFMT fmt;
    std::memset(&fmt, 0, sizeof(fmt));
    fmt.datatype = CS_INT_TYPE;
    fmt.count = rows;
    fmt.maxlength = sizeof(CS_INT);
    EXPECT_EQ(ct_bind(cmd_, 1, &fmt, numbers_.data(), lengths_.data(), nullptr), CS_SUCCEED);
    fmt.datatype = CS_CHAR_TYPE;
    fmt.format = CS_FMT_NULLTERM;
    fmt.maxlength = 32;
    EXPECT_EQ(ct_bind(cmd_, 2, &fmt, words_.data(), lengths_.data() + rows, nullptr), CS_SUCCEED);
  }
  ~Cursor() { ct_cmd_drop(cmd_); }

  // One ct_fetch: the rows it returned (empty at CS_END_DATA); `rc` gets its return code.
  std::vector<std::string> fetch(CS_RETCODE* rc = nullptr) {
    CS_INT got = 0;
    CS_RETCODE r = ct_fetch(cmd_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &got);
    if (rc) *rc = r;
    std::vector<std::string> out;
    if (r != CS_SUCCEED) return out;
    for (CS_INT i = 0; i < got; ++i) out.push_back(std::to_string(numbers_[i]) + "/" + &words_[i * 32]);
    return out;
  }
  // Fetches to CS_END_DATA and returns the rows each fetch gave.
  std::vector<size_t> fetchAll(std::vector<std::string>& rows) {
    std::vector<size_t> sizes;
    CS_RETCODE rc = CS_SUCCEED;
    for (;;) {
      auto got = fetch(&rc);
      if (rc != CS_SUCCEED) break;
      sizes.push_back(got.size());
      rows.insert(rows.end(), got.begin(), got.end());
    }
    EXPECT_EQ(rc, CS_END_DATA);
    return sizes;
  }
  // The results after CS_END_DATA, then close with dealloc and its results; `count` gets the
  // row count of the CMD_DONE after the last fetch.
  std::string finish(std::string* closeAnswers, int* count = nullptr) {
    CmdResults after = tabtest::drainResults(cmd_);
    if (count) *count = after.rowCounts.empty() ? -1 : after.rowCounts.back();
    std::string rest = after.sequence();
    EXPECT_EQ(ct_cursor(cmd_, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC),
              CS_SUCCEED);
    EXPECT_EQ(ct_send(cmd_), CS_SUCCEED);
    CmdResults closed = tabtest::drainResults(cmd_);
    EXPECT_EQ(closed.end, CS_END_RESULTS);
    *closeAnswers = closed.sequence();
    return rest;
  }
  CS_INT status() {
    CS_INT s = -1;
    EXPECT_EQ(ct_cmd_props(cmd_, CS_GET, CS_CUR_STATUS, &s, CS_UNUSED, nullptr), CS_SUCCEED);
    return s;
  }
  const std::string& openAnswers() const { return openAnswers_; }

 private:
  CS_COMMAND* cmd_ = nullptr;
  int rows_;
  std::string openAnswers_;
  std::vector<CS_INT> numbers_;
  std::vector<char> words_;
  std::vector<CS_INT> lengths_;
};

std::vector<std::string> expectedRows(int n) {
  std::vector<std::string> rows;
  for (int i = 1; i <= n; ++i) rows.push_back(std::to_string(i) + "/row " + std::to_string(i));
  return rows;
}

TEST_F(FreeTdsTest, CursorDeclareRowsOpenFetchAndCloseWithDealloc) {
  auto client = connected();
  const int before = tabtest::liveCursors();
  for (int rows : {1, 3, 50}) {
    SCOPED_TRACE("cursor rows " + std::to_string(rows));
    Cursor cursor(client->connection(), "c_rows", 7, rows);
    EXPECT_EQ(cursor.openAnswers(), "CMD_SUCCEED CMD_DONE CMD_SUCCEED CMD_DONE CURSOR");
    EXPECT_EQ(cursor.status(), CS_CURSTAT_OPEN | CS_CURSTAT_RDONLY | CS_CURSTAT_ROWCOUNT);
    std::vector<std::string> got;
    std::vector<size_t> sizes = cursor.fetchAll(got);
    EXPECT_EQ(got, expectedRows(7));
    // Every fetch but the last is full.
    ASSERT_FALSE(sizes.empty());
    for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], static_cast<size_t>(rows));
    std::string closed;
    int count = -1;
    EXPECT_EQ(cursor.finish(&closed, &count), "CMD_SUCCEED CMD_DONE");
    EXPECT_EQ(count, 7);  // the last, empty fetch's DONE carries the cursor's total
    EXPECT_EQ(closed, "CMD_SUCCEED CMD_DONE");
    EXPECT_EQ(cursor.status(), CS_CURSTAT_NONE);
  }
  EXPECT_EQ(tabtest::liveCursors(), before);
  EXPECT_FALSE(client->run("select @@spid").failed);
}

TEST_F(FreeTdsTest, TwoCursorsAndLanguageCommandsInterleaveOnOneConnection) {
  auto client = connected();
  Cursor one(client->connection(), "c_one", 5, 1);
  Cursor fifty(client->connection(), "c_fifty", 120, 50);
  EXPECT_EQ(one.openAnswers(), "CMD_SUCCEED CMD_DONE CMD_SUCCEED CMD_DONE CURSOR");
  EXPECT_EQ(fifty.openAnswers(), "CMD_SUCCEED CMD_DONE CMD_SUCCEED CMD_DONE CURSOR");
  std::vector<std::string> a, b;
  for (int round = 0; round < 10; ++round) {
    auto x = one.fetch();
    a.insert(a.end(), x.begin(), x.end());
    auto y = fifty.fetch();
    b.insert(b.end(), y.begin(), y.end());
    // A language command between fetches neither disturbs nor sees the cursors.
    tabtest::CtBatch batch = client->run("multi");
    EXPECT_FALSE(batch.failed);
    EXPECT_EQ(batch.rowCounts, (std::vector<int>{2, 5, 1}));
  }
  EXPECT_EQ(a, expectedRows(5));
  EXPECT_EQ(b, expectedRows(120));
  std::string closed;
  one.finish(&closed);
  EXPECT_EQ(closed, "CMD_SUCCEED CMD_DONE");
  fifty.finish(&closed);
  EXPECT_EQ(closed, "CMD_SUCCEED CMD_DONE");
}

TEST_F(FreeTdsTest, CursorOverAMissingTableFailsItsCommands) {
  auto client = connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->connection(), &cmd), CS_SUCCEED);
  ASSERT_EQ(ct_cursor(cmd, CS_CURSOR_DECLARE, const_cast<char*>("c_bad"), CS_NULLTERM,
                      const_cast<char*>("select * from nosuch"), CS_NULLTERM, CS_READ_ONLY),
            CS_SUCCEED);
  ASSERT_EQ(ct_cursor(cmd, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED), CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  CmdResults r = tabtest::drainResults(cmd);
  EXPECT_EQ(r.sequence(), "CMD_FAIL CMD_DONE CMD_FAIL CMD_DONE");
  ct_cmd_drop(cmd);
  EXPECT_FALSE(client->run("select @@spid").failed);
}

// One ct_dynamic command sent and read.
CmdResults dynamic(CS_COMMAND* cmd, CS_INT type, const char* id, const char* sql,
                   const std::vector<CS_INT>& params = {}) {
  EXPECT_EQ(ct_dynamic(cmd, type, const_cast<char*>(id), CS_NULLTERM, const_cast<char*>(sql),
                       sql ? CS_NULLTERM : CS_UNUSED),
            CS_SUCCEED);
  for (CS_INT v : params) {
    CS_DATAFMT fmt;
    std::memset(&fmt, 0, sizeof(fmt));
    fmt.datatype = CS_INT_TYPE;
    fmt.status = CS_INPUTVALUE;
    EXPECT_EQ(ct_param(cmd, &fmt, &v, CS_UNUSED, 0), CS_SUCCEED);
  }
  EXPECT_EQ(ct_send(cmd), CS_SUCCEED);
  CmdResults r;
  CS_INT result = 0;
  CS_RETCODE rc;
  while ((rc = ct_results(cmd, &result)) == CS_SUCCEED) {
    r.answers.push_back(tabtest::resultName(result));
    if (result == CS_DESCRIBE_RESULT) {
      // Describe answers from the prepare reply's formats: keep the column types.
      tabtest::CtResultSet set;
      CS_INT n = 0;
      EXPECT_EQ(ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr), CS_SUCCEED);
      for (CS_INT i = 1; i <= n; ++i) {
        CS_DATAFMT fmt;
        std::memset(&fmt, 0, sizeof(fmt));
        EXPECT_EQ(ct_describe(cmd, i, &fmt), CS_SUCCEED);
        set.types.push_back(fmt.datatype);
        set.columns.emplace_back(fmt.name, fmt.namelen > 0 ? static_cast<size_t>(fmt.namelen) : 0);
      }
      r.sets.push_back(set);
    } else if (result == CS_ROW_RESULT) {
      tabtest::CtResultSet set;
      EXPECT_EQ(tabtest::fetchAll(cmd, set), CS_END_DATA);
      r.sets.push_back(set);
    }
  }
  r.end = rc;
  return r;
}

TEST_F(FreeTdsTest, PreparedSelectRunsThreeTimesAndDeallocLeavesNothing) {
  auto client = connected();
  const int before = tabtest::livePrepared();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->connection(), &cmd), CS_SUCCEED);
  CmdResults prepared = dynamic(cmd, CS_PREPARE, "s1", "select n, word from numbers where ? < n and n <= ?");
  EXPECT_EQ(prepared.sequence(), "CMD_SUCCEED CMD_DONE");
  EXPECT_EQ(prepared.end, CS_END_RESULTS);
  EXPECT_EQ(tabtest::livePrepared(), before + 1);

  CmdResults inputs = dynamic(cmd, CS_DESCRIBE_INPUT, "s1", nullptr);
  ASSERT_EQ(inputs.sequence(), "DESCRIBE CMD_DONE");
  EXPECT_EQ(inputs.sets.at(0).types, (std::vector<int>{CS_INT_TYPE, CS_INT_TYPE}));
  CmdResults outputs = dynamic(cmd, CS_DESCRIBE_OUTPUT, "s1", nullptr);
  ASSERT_EQ(outputs.sequence(), "DESCRIBE CMD_DONE");
  EXPECT_EQ(outputs.sets.at(0).columns, (std::vector<std::string>{"n", "word"}));
  EXPECT_EQ(outputs.sets.at(0).types, (std::vector<int>{CS_INT_TYPE, CS_CHAR_TYPE}));

  const struct {
    CS_INT lo, hi;
    std::vector<std::string> rows;
  } runs[] = {{0, 2, {"1 | row 1", "2 | row 2"}}, {4, 5, {"5 | row 5"}}, {7, 7, {}}};
  for (const auto& run : runs) {
    SCOPED_TRACE(std::to_string(run.lo) + ".." + std::to_string(run.hi));
    CmdResults r = dynamic(cmd, CS_EXECUTE, "s1", nullptr, {run.lo, run.hi});
    ASSERT_EQ(r.sequence(), "ROW CMD_DONE");
    std::vector<std::string> rows;
    for (const auto& row : r.sets.at(0).rows) rows.push_back(tabtest::formatRow(row));
    EXPECT_EQ(rows, run.rows);
  }
  CmdResults dealloc = dynamic(cmd, CS_DEALLOC, "s1", nullptr);
  EXPECT_EQ(dealloc.sequence(), "CMD_SUCCEED CMD_DONE");
  EXPECT_EQ(tabtest::livePrepared(), before);
  ct_cmd_drop(cmd);
  EXPECT_FALSE(client->run("select @@spid").failed);
}

TEST_F(FreeTdsTest, FailedPrepareAndDeallocFailTheirCommands) {
  auto client = connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->connection(), &cmd), CS_SUCCEED);
  client->takeMessages();
  CmdResults prepared = dynamic(cmd, CS_PREPARE, "s_bad", "select bad syntax");
  EXPECT_EQ(prepared.sequence(), "CMD_FAIL CMD_DONE");
  EXPECT_EQ(prepared.end, CS_END_RESULTS);
  // The statement never existed on the server: its dealloc fails too.
  EXPECT_EQ(dynamic(cmd, CS_DEALLOC, "s_bad", nullptr).sequence(), "CMD_FAIL CMD_DONE");
  ct_cmd_drop(cmd);
  EXPECT_FALSE(client->run("select @@spid").failed);
}

TEST_F(FreeTdsTest, PrepareWithoutParametersDescribesNoInputs) {
  auto client = connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->connection(), &cmd), CS_SUCCEED);
  EXPECT_EQ(dynamic(cmd, CS_PREPARE, "s0", "select n, word from numbers").sequence(), "CMD_SUCCEED CMD_DONE");
  // The empty PARAMFMT keeps ct_describe from reading a missing format.
  CmdResults inputs = dynamic(cmd, CS_DESCRIBE_INPUT, "s0", nullptr);
  ASSERT_EQ(inputs.sequence(), "DESCRIBE CMD_DONE");
  EXPECT_TRUE(inputs.sets.at(0).types.empty());
  CmdResults r = dynamic(cmd, CS_EXECUTE, "s0", nullptr);
  ASSERT_EQ(r.sequence(), "ROW CMD_DONE");
  EXPECT_EQ(r.sets.at(0).rows.size(), 3u);
  EXPECT_EQ(dynamic(cmd, CS_DEALLOC, "s0", nullptr).sequence(), "CMD_SUCCEED CMD_DONE");
  ct_cmd_drop(cmd);
}

TEST_F(FreeTdsTest, PreparedStatementWithoutResultColumns) {
  auto client = connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->connection(), &cmd), CS_SUCCEED);
  EXPECT_EQ(dynamic(cmd, CS_PREPARE, "s_ins", "insert into t values (?)").sequence(), "CMD_SUCCEED CMD_DONE");
  // The prepare reply's ROWFMT has no columns, so describe output finds none.
  CmdResults outputs = dynamic(cmd, CS_DESCRIBE_OUTPUT, "s_ins", nullptr);
  ASSERT_EQ(outputs.sequence(), "DESCRIBE CMD_DONE");
  EXPECT_TRUE(outputs.sets.at(0).types.empty());
  for (CS_INT v : {1, 2}) {
    CS_INT count = -1;
    EXPECT_EQ(ct_dynamic(cmd, CS_EXECUTE, const_cast<char*>("s_ins"), CS_NULLTERM, nullptr, CS_UNUSED),
              CS_SUCCEED);
    CS_DATAFMT fmt;
    std::memset(&fmt, 0, sizeof(fmt));
    fmt.datatype = CS_INT_TYPE;
    fmt.status = CS_INPUTVALUE;
    EXPECT_EQ(ct_param(cmd, &fmt, &v, CS_UNUSED, 0), CS_SUCCEED);
    EXPECT_EQ(ct_send(cmd), CS_SUCCEED);
    std::vector<std::string> answers;
    CS_INT type = 0;
    while (ct_results(cmd, &type) == CS_SUCCEED) {
      answers.push_back(tabtest::resultName(type));
      if (type == CS_CMD_DONE) ct_res_info(cmd, CS_ROW_COUNT, &count, CS_UNUSED, nullptr);
    }
    EXPECT_EQ(answers, (std::vector<std::string>{"CMD_SUCCEED", "CMD_DONE"}));
    EXPECT_EQ(count, 1);
  }
  EXPECT_EQ(dynamic(cmd, CS_DEALLOC, "s_ins", nullptr).sequence(), "CMD_SUCCEED CMD_DONE");
  ct_cmd_drop(cmd);
  EXPECT_FALSE(client->run("select @@spid").failed);
}

}  // namespace
