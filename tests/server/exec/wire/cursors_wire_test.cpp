// Client-Library cursors against the server: the replies to declare + rows + open, fetches of
// 1 and 50 rows, two cursors and language commands interleaved on one connection, the total row
// count after the last fetch, and close with deallocate.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/server_fixture.h"
#include "wire_support.h"

namespace tabtest {
namespace {

// One Client-Library cursor with its columns bound as text arrays of `rows` entries.
class Cursor {
 public:
  Cursor(CS_CONNECTION* con, const std::string& name, const std::string& sql, CS_INT rows) : rows_(rows) {
    ct_cmd_alloc(con, &cmd_);
    ok_ = ct_cursor(cmd_, CS_CURSOR_DECLARE, const_cast<char*>(name.c_str()), CS_NULLTERM,
                    const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_READ_ONLY) == CS_SUCCEED &&
          ct_cursor(cmd_, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, rows) == CS_SUCCEED &&
          ct_cursor(cmd_, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED) == CS_SUCCEED &&
          ct_send(cmd_) == CS_SUCCEED;
  }
  ~Cursor() { ct_cmd_drop(cmd_); }

  // Reads results up to the cursor result and binds its columns; the ct_results answers go to trace.
  bool open() {
    CS_INT type = 0;
    while (ok_ && ct_results(cmd_, &type) == CS_SUCCEED) {
      trace.push_back(type == CS_CMD_SUCCEED     ? "SUCCEED"
                      : type == CS_CMD_DONE      ? "CMD_DONE"
                      : type == CS_CURSOR_RESULT ? "CURSOR"
                                                 : "OTHER " + std::to_string(type));
      if (type == CS_CURSOR_RESULT) return bind();
      if (type == CS_CMD_FAIL) return false;
    }
    return false;
  }

  // One ct_fetch: the rows it delivered (0 at the end).
  CS_INT fetch(std::vector<std::string>& into) {
    CS_INT got = 0;
    CS_RETCODE rc = ct_fetch(cmd_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &got);
    if (rc == CS_END_DATA) return 0;
    if (rc != CS_SUCCEED) return -1;
    for (CS_INT r = 0; r < got; ++r) {
      std::string row;
      for (size_t c = 0; c < buffers_.size(); ++c)
        row += (c ? " | " : "") + std::string(&buffers_[c][static_cast<size_t>(r) * kWidth]);
      into.push_back(row);
    }
    return got;
  }

  // After END_DATA: the rest of the results and the row count the last DONE carried.
  CS_INT finish() {
    CS_INT type = 0, count = -1;
    while (ct_results(cmd_, &type) == CS_SUCCEED) {
      trace.push_back(type == CS_CMD_SUCCEED ? "SUCCEED" : type == CS_CMD_DONE ? "CMD_DONE" : "OTHER");
      if (type == CS_CMD_DONE) ct_res_info(cmd_, CS_ROW_COUNT, &count, CS_UNUSED, nullptr);
    }
    return count;
  }

  // Closes and deallocates; true when the server agreed.
  bool closeAndDeallocate() {
    if (ct_cursor(cmd_, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC) != CS_SUCCEED ||
        ct_send(cmd_) != CS_SUCCEED)
      return false;
    CS_INT type = 0;
    bool failed = false;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd_, &type)) == CS_SUCCEED) failed = failed || type == CS_CMD_FAIL;
    return !failed && rc == CS_END_RESULTS;
  }

  std::vector<std::string> trace;

 private:
  static constexpr size_t kWidth = 64;
  bool bind() {
    CS_INT count = 0;
    ct_res_info(cmd_, CS_NUMDATA, &count, CS_UNUSED, nullptr);
    buffers_.assign(static_cast<size_t>(count), std::vector<char>(kWidth * static_cast<size_t>(rows_)));
    lengths_.assign(static_cast<size_t>(count), std::vector<CS_INT>(static_cast<size_t>(rows_)));
    indicators_.assign(static_cast<size_t>(count), std::vector<CS_SMALLINT>(static_cast<size_t>(rows_)));
    for (CS_INT i = 0; i < count; ++i) {
      CS_DATAFMT fmt{};
      fmt.datatype = CS_CHAR_TYPE;
      fmt.format = CS_FMT_NULLTERM;
      fmt.maxlength = kWidth;
      fmt.count = rows_;
      if (ct_bind(cmd_, i + 1, &fmt, buffers_[i].data(), lengths_[i].data(), indicators_[i].data()) !=
          CS_SUCCEED)
        return false;
    }
    return true;
  }
  CS_COMMAND* cmd_ = nullptr;
  CS_INT rows_;
  bool ok_ = false;
  std::vector<std::vector<char>> buffers_;
  std::vector<std::vector<CS_INT>> lengths_;
  std::vector<std::vector<CS_SMALLINT>> indicators_;
};

class CursorsWire : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.connect());
    ASSERT_FALSE(client
                     .run("create table n (i int not null, sq int not null)\n"
                          "declare @i int select @i = 1\n"
                          "while @i <= 120 begin insert n values (@i, @i * @i) select @i = @i + 1 end")
                     .firstError());
  }
  ServerFixture server;
  CtClient client;
};

TEST_F(CursorsWire, DeclareRowsOpenRepliesAsClientLibraryExpects) {
  Cursor c(client.connection(), "c1", "select i from n where i <= 3 order by i", 1);
  ASSERT_TRUE(c.open());
  EXPECT_EQ(c.trace, (std::vector<std::string>{"SUCCEED", "CMD_DONE", "SUCCEED", "CMD_DONE", "CURSOR"}));
  std::vector<std::string> rows;
  while (c.fetch(rows) > 0) {
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"1", "2", "3"}));
  // The DONE of the last, empty fetch carries the cursor's total.
  EXPECT_EQ(c.finish(), 3);
  EXPECT_TRUE(c.closeAndDeallocate());
}

TEST_F(CursorsWire, TwoCursorsAndLanguageCommandsInterleave) {
  Cursor one(client.connection(), "by_one", "select i from n order by i", 1);
  ASSERT_TRUE(one.open());
  std::vector<std::string> first, second;
  ASSERT_EQ(one.fetch(first), 1);
  Cursor fifty(client.connection(), "by_fifty", "select i, sq from n where i > 60 order by i desc", 50);
  ASSERT_TRUE(fifty.open());
  EXPECT_EQ(fifty.fetch(second), 50);
  // A write and a read between fetches: the cursors read what was there at open.
  CtBatch b = client.run("delete n where i > 100 select count(*) from n");
  ASSERT_EQ(b.firstError(), nullptr) << b.firstError()->text;
  EXPECT_EQ(*b.sets.at(0).rows.at(0).at(0), "100");
  // Alternate between the cursors until both are at their end.
  bool oneDone = false, fiftyDone = false;
  while (!oneDone || !fiftyDone) {
    if (!oneDone) {
      CS_INT got = one.fetch(first);
      ASSERT_GE(got, 0);
      if (got == 0) {
        oneDone = true;
        EXPECT_EQ(one.finish(), 120);
      }
    }
    if (!fiftyDone) {
      CS_INT got = fifty.fetch(second);
      ASSERT_GE(got, 0);
      if (got == 0) {
        fiftyDone = true;
        EXPECT_EQ(fifty.finish(), 60);
      }
    }
  }
  ASSERT_EQ(first.size(), 120u);
  EXPECT_EQ(first[119], "120");
  ASSERT_EQ(second.size(), 60u);
  EXPECT_EQ(second[0], "120 | 14400");
  EXPECT_EQ(second[59], "61 | 3721");
  EXPECT_TRUE(one.closeAndDeallocate());
  EXPECT_TRUE(fifty.closeAndDeallocate());
  EXPECT_FALSE(client.run("select 1").firstError());
}

TEST_F(CursorsWire, ABadQueryFailsTheDeclare) {
  Cursor c(client.connection(), "bad", "select nosuch from n", 1);
  EXPECT_FALSE(c.open());
  EXPECT_FALSE(client.run("select 1").firstError());
}

}  // namespace
}  // namespace tabtest
