// Client-Library cursors against the server: the replies to declare + rows + open, fetches of
// 1 and 50 rows, two cursors and language commands interleaved on one connection, the total row
// count after the last fetch, and close with deallocate; a cursor over ten million rows that
// the server does not hold, and a Stop while a cursor opens or fetches.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <thread>

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

  // Reads the open's results on another thread, sends the attention there after `wait` and
  // returns how long the open took to end after it; the answers go to trace.
  std::chrono::milliseconds cancelOpenAfter(std::chrono::milliseconds wait) {
    auto reader = std::async(std::launch::async, [this] { return open(); });
    return cancelAfter(wait, reader);
  }
  // The same for fetches: fetches until a fetch fails or ends; `rows` gets what arrived.
  std::chrono::milliseconds cancelFetchesAfter(std::chrono::milliseconds wait, std::vector<std::string>& rows) {
    auto reader = std::async(std::launch::async, [this, &rows] {
      while (fetch(rows) > 0) {
      }
      return true;
    });
    return cancelAfter(wait, reader);
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
  // The fault this guards against is a reader that never returns: the bound is far above any
  // answer to an attention, and the reader is left to the test's end when it does not return.
  std::chrono::milliseconds cancelAfter(std::chrono::milliseconds wait, std::future<bool>& reader) {
    std::this_thread::sleep_for(wait);
    auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(ct_cancel(nullptr, cmd_, CS_CANCEL_ATTN), CS_SUCCEED);
    if (reader.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << "the attention did not stop the cursor";
      return std::chrono::milliseconds::max();
    }
    reader.get();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
  }
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

// The server's resident memory at its peak so far, in kB.
long peakResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  ADD_FAILURE() << "no VmHWM for the server";
  return 0;
}

// Tables of 10 (d10), 10,000 (big_a, i = 1..10000) and 1,000 (big_b) rows.
void makeBigTables(CtClient& client) {
  CtBatch made = client.run(
      "create table d10 (i int not null)\n"
      "insert d10 values (0) insert d10 values (1) insert d10 values (2) insert d10 values (3) "
      "insert d10 values (4) insert d10 values (5) insert d10 values (6) insert d10 values (7) "
      "insert d10 values (8) insert d10 values (9)\n"
      "create table big_a (i int not null)\n"
      "insert big_a select a.i * 1000 + b.i * 100 + c.i * 10 + d.i + 1 from d10 a, d10 b, d10 c, d10 d\n"
      "create table big_b (i int not null)\n"
      "insert big_b select a.i * 100 + b.i * 10 + c.i + 1 from d10 a, d10 b, d10 c");
  ASSERT_EQ(made.firstError(), nullptr) << made.firstError()->text;
}

TEST_F(CursorsWire, ACursorOverTenMillionRowsHoldsNoneOfThemInMemory) {
  makeBigTables(client);
  const long before = peakResidentKb(server.pid());
  Cursor c(client.connection(), "big", "select x.i, y.i from big_a x, big_b y", 50);
  ASSERT_TRUE(c.open());
  std::vector<std::string> rows;
  ASSERT_EQ(c.fetch(rows), 50);
  ASSERT_EQ(c.fetch(rows), 50);
  EXPECT_EQ(rows.size(), 100u);
  EXPECT_TRUE(c.closeAndDeallocate());
  // Ten million rows held as values would take well over a gigabyte; streamed, the server's
  // peak grows by its page cache and buffers at most.
  const long grownKb = peakResidentKb(server.pid()) - before;
  EXPECT_LT(grownKb, 64 * 1024) << "the server's peak grew by " << grownKb << " kB";
  EXPECT_FALSE(client.run("select 1").firstError());
}

TEST_F(CursorsWire, StopDuringALongOpenEndsItAndTheConnectionGoesOn) {
  makeBigTables(client);
  // The first row of this count is 10^11 joined rows away.
  Cursor slow(client.connection(), "slow", "select count(*) from big_a x, big_a y, big_b z", 1);
  EXPECT_LT(slow.cancelOpenAfter(std::chrono::milliseconds(300)), std::chrono::seconds(5));
  CtBatch after = client.run("select count(*) from big_b");
  ASSERT_EQ(after.firstError(), nullptr) << after.firstError()->text;
  EXPECT_EQ(*after.sets.at(0).rows.at(0).at(0), "1000");
  // The stopped cursor is declared and closed: another cursor opens and reads normally.
  Cursor next(client.connection(), "after_stop", "select i from big_b where i <= 3 order by i", 5);
  ASSERT_TRUE(next.open());
  std::vector<std::string> rows;
  EXPECT_EQ(next.fetch(rows), 3);
  EXPECT_EQ(rows, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_TRUE(next.closeAndDeallocate());
}

TEST_F(CursorsWire, StopDuringALongFetchEndsItAndTheConnectionGoesOn) {
  makeBigTables(client);
  // The first 100 rows come at once; the next one waits for a count of 10^11 joined rows.
  Cursor slow(client.connection(), "gap",
              "select i from big_a where i <= 100 or (select count(*) from big_a x, big_a y, big_b z) < 0", 50);
  ASSERT_TRUE(slow.open());
  std::vector<std::string> rows;
  EXPECT_LT(slow.cancelFetchesAfter(std::chrono::milliseconds(500), rows), std::chrono::seconds(5));
  EXPECT_LE(rows.size(), 100u);
  slow.finish();
  EXPECT_TRUE(slow.closeAndDeallocate());
  CtBatch after = client.run("select count(*) from big_b");
  ASSERT_EQ(after.firstError(), nullptr) << after.firstError()->text;
  EXPECT_EQ(*after.sets.at(0).rows.at(0).at(0), "1000");
}

// A language batch run on another thread, stopped with an attention after `wait`: how long the
// batch took to end after it (the bound is the same as for the cursor commands above); `canceled`
// tells whether the client saw the batch canceled rather than ended.
std::chrono::milliseconds stopBatchAfter(CtClient& client, const std::string& sql, std::chrono::milliseconds wait,
                                         bool& canceled) {
  // The command is this thread's own, sent before the reader starts: an attention through the
  // connection would walk its list of commands while the reader allocates or drops one.
  CS_COMMAND* cmd = nullptr;
  EXPECT_EQ(ct_cmd_alloc(client.connection(), &cmd), CS_SUCCEED);
  std::string text = sql;
  EXPECT_EQ(ct_command(cmd, CS_LANG_CMD, text.data(), CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  EXPECT_EQ(ct_send(cmd), CS_SUCCEED);
  auto reader = std::async(std::launch::async, [cmd] {
    bool failed = false;
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
      if (type == CS_CMD_FAIL) failed = true;
      if (type == CS_ROW_RESULT || type == CS_CURSOR_RESULT || type == CS_COMPUTE_RESULT) {
        CS_INT rows = 0;
        while (ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
        }
      }
    }
    return rc == CS_CANCELED || rc != CS_END_RESULTS || failed;
  });
  std::this_thread::sleep_for(wait);
  auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ATTN), CS_SUCCEED);
  if (reader.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the attention did not stop the batch";
    std::abort();  // the reader still uses the command
  }
  canceled = reader.get();
  ct_cmd_drop(cmd);
  for (const auto& m : client.takeMessages()) EXPECT_LE(m.severity, 10) << m.text;
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
}

TEST_F(CursorsWire, StopDuringALanguageCursorsSortOrItsCopyEndsIt) {
  makeBigTables(client);
  struct Case {
    const char* name;
    const char* setup;  // runs to its end first
    const char* stopped;
  };
  const Case cases[] = {
      // The rows of an ORDER BY cursor are sorted when it opens: 10^7 of them here.
      {"sorting open", "declare sorted cursor for select x.i, y.i from big_a x, big_b y order by x.i + y.i desc",
       "open sorted"},
      // A write while a cursor streams first moves the cursor's remaining rows aside.
      {"copy before a write",
       "create table w (i int)\n"
       "declare streamed cursor for select x.i, y.i from big_a x, big_b y\n"
       "open streamed\n"
       "fetch streamed",
       "insert w values (1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CtBatch setup = client.run(c.setup);
    ASSERT_EQ(setup.firstError(), nullptr) << setup.firstError()->text;
    bool canceled = false;
    EXPECT_LT(stopBatchAfter(client, c.stopped, std::chrono::milliseconds(300), canceled), std::chrono::seconds(5));
    EXPECT_TRUE(canceled);
    CtBatch after = client.run("select count(*) from big_b");
    ASSERT_EQ(after.firstError(), nullptr) << after.firstError()->text;
    EXPECT_EQ(*after.sets.at(0).rows.at(0).at(0), "1000");
  }
}

TEST_F(CursorsWire, ABadQueryFailsTheDeclare) {
  Cursor c(client.connection(), "bad", "select nosuch from n", 1);
  EXPECT_FALSE(c.open());
  EXPECT_FALSE(client.run("select 1").firstError());
}

// A cursor's query is one SELECT without COMPUTE or INTO: anything else is refused at the declare
// with the reason, and the rows and open sent with it repeat that reason (a "cursor not found"
// there would hide it); nothing of the text runs, and the connection goes on.
TEST_F(CursorsWire, AQueryThatIsNotOneSelectIsRefusedWithItsReason) {
  struct Case {
    const char* sql;
    const char* reason;
  } cases[] = {
      {"select i from n where i < 3 select sq from n where i < 3", "must be one SELECT statement"},
      {"update n set sq = 0 where i = 1", "must be one SELECT statement"},
      {"select i, sq from n where i < 5 order by i compute sum(sq)", "COMPUTE"},
      {"select i, sq from n where i < 5 order by i compute sum(sq) by i", "COMPUTE"},
      {"select i into #copy from n", "INTO"},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    client.takeMessages();
    {
      Cursor cursor(client.connection(), "refused" + std::to_string(++k), c.sql, 5);
      EXPECT_FALSE(cursor.open());
      cursor.finish();
    }
    std::vector<CtMessage> messages = client.takeMessages();
    ASSERT_FALSE(messages.empty());
    for (const CtMessage& m : messages) {
      if (!m.fromServer) continue;
      EXPECT_NE(m.number, 557) << m.text;
      EXPECT_NE(m.text.find(c.reason), std::string::npos) << m.text;
    }
    CtBatch after = client.run("select sq from n where i = 1 select object_id('#copy')");
    ASSERT_EQ(after.firstError(), nullptr) << after.firstError()->text;
    EXPECT_EQ(*after.sets.at(0).rows.at(0).at(0), "1");
    EXPECT_FALSE(after.sets.at(1).rows.at(0).at(0).has_value());
  }
}

}  // namespace
}  // namespace tabtest
