// Dynamic statements through Client-Library: prepare, describe input and output, execute three
// times with different values, deallocate; the server really prepares (no client emulation).
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/server_fixture.h"
#include "wire_support.h"

namespace tabtest {
namespace {

class PreparedWire : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.connect());
    ASSERT_FALSE(
        client
            .run("create table w (id int not null, word varchar(10) not null)\n"
                 "insert w values (1, 'one') insert w values (2, 'two') insert w values (3, 'three')")
            .firstError());
    ASSERT_EQ(ct_cmd_alloc(client.connection(), &cmd), CS_SUCCEED);
  }
  void TearDown() override { ct_cmd_drop(cmd); }

  CtBatch dynamic(CS_INT op, const char* id, const char* sql, std::vector<std::string>* trace,
                  const std::vector<CS_INT>& values = {}) {
    client.takeMessages();
    CtBatch failed;
    failed.failed = true;
    if (ct_dynamic(cmd, op, const_cast<char*>(id), CS_NULLTERM, const_cast<char*>(sql),
                   sql ? CS_NULLTERM : CS_UNUSED) != CS_SUCCEED)
      return failed;
    std::vector<CS_INT> copy = values;
    for (auto& v : copy) {
      CS_DATAFMT fmt{};
      fmt.datatype = CS_INT_TYPE;
      fmt.maxlength = sizeof(CS_INT);
      fmt.status = CS_INPUTVALUE;
      if (ct_param(cmd, &fmt, &v, sizeof(v), 0) != CS_SUCCEED) return failed;
    }
    if (ct_send(cmd) != CS_SUCCEED) return failed;
    CtBatch b = readResults(cmd, trace);
    b.messages = client.takeMessages();
    return b;
  }

  ServerFixture server;
  CtClient client;
  CS_COMMAND* cmd = nullptr;
};

TEST_F(PreparedWire, PrepareDescribeExecuteThreeTimesAndDeallocate) {
  std::vector<std::string> trace;
  CtBatch prep =
      dynamic(CS_PREPARE, "pick", "select id, word from w where id >= ? and id <= ? order by id", &trace);
  ASSERT_EQ(prep.firstError(), nullptr) << prep.firstError()->text;
  EXPECT_EQ(trace, (std::vector<std::string>{"SUCCEED", "CMD_DONE"}));

  // Describe input: two int parameters; describe output: the two result columns.
  ASSERT_EQ(ct_dynamic(cmd, CS_DESCRIBE_INPUT, const_cast<char*>("pick"), CS_NULLTERM, nullptr, CS_UNUSED),
            CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  CS_INT type = 0, count = 0;
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  ASSERT_EQ(type, CS_DESCRIBE_RESULT);
  ASSERT_EQ(ct_res_info(cmd, CS_NUMDATA, &count, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(count, 2);
  CS_DATAFMT fmt{};
  ASSERT_EQ(ct_describe(cmd, 1, &fmt), CS_SUCCEED);
  EXPECT_EQ(fmt.datatype, CS_INT_TYPE);
  while (ct_results(cmd, &type) == CS_SUCCEED) {
  }
  ASSERT_EQ(ct_dynamic(cmd, CS_DESCRIBE_OUTPUT, const_cast<char*>("pick"), CS_NULLTERM, nullptr, CS_UNUSED),
            CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  ASSERT_EQ(type, CS_DESCRIBE_RESULT);
  ASSERT_EQ(ct_res_info(cmd, CS_NUMDATA, &count, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(count, 2);
  while (ct_results(cmd, &type) == CS_SUCCEED) {
  }

  struct Case {
    CS_INT lo, hi;
    std::vector<std::string> rows;
  };
  for (const Case& c : {Case{1, 2, {"1 | one", "2 | two"}}, Case{3, 3, {"3 | three"}},
                        Case{2, 9, {"2 | two", "3 | three"}}}) {
    CtBatch b = dynamic(CS_EXECUTE, "pick", nullptr, nullptr, {c.lo, c.hi});
    ASSERT_EQ(b.firstError(), nullptr) << b.firstError()->text;
    ASSERT_EQ(b.sets.size(), 1u);
    std::vector<std::string> rows;
    for (const auto& r : b.sets[0].rows) rows.push_back(formatRow(r));
    EXPECT_EQ(rows, c.rows);
  }

  CtBatch dealloc = dynamic(CS_DEALLOC, "pick", nullptr, nullptr);
  EXPECT_EQ(dealloc.firstError(), nullptr);
  CtBatch again = dynamic(CS_EXECUTE, "pick", nullptr, nullptr, {1, 2});
  EXPECT_TRUE(again.failed || again.firstError());
  // The server forgot the id too: preparing it again is no duplicate.
  CtBatch reprepare = dynamic(CS_PREPARE, "pick", "select 1", nullptr);
  EXPECT_EQ(reprepare.firstError(), nullptr);
}

TEST_F(PreparedWire, CreateProcPrefixIsPreparedToo) {
  CtBatch prep =
      dynamic(CS_PREPARE, "named", "create proc named as select word from w where id = ?", nullptr);
  ASSERT_EQ(prep.firstError(), nullptr) << prep.firstError()->text;
  CtBatch b = dynamic(CS_EXECUTE, "named", nullptr, nullptr, {2});
  ASSERT_EQ(b.firstError(), nullptr);
  ASSERT_EQ(b.sets.size(), 1u);
  EXPECT_EQ(formatRow(b.sets[0].rows.at(0)), "two");
}

// A prepared batch that declares a variable runs again and again: each execute is a batch with
// variables of its own.
TEST_F(PreparedWire, ABatchThatDeclaresAVariableRunsEveryTime) {
  const char* texts[] = {
      "declare @n int select @n = ? select @n * 2",
      "create proc twice2 as declare @n int select @n = ? select @n * 2",
      "declare @n int, @m int select @n = ?, @m = 2 select @n * @m",
  };
  int k = 0;
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    std::string id = "twice" + std::to_string(++k);
    CtBatch prep = dynamic(CS_PREPARE, id.c_str(), text, nullptr);
    ASSERT_EQ(prep.firstError(), nullptr) << prep.firstError()->text;
    for (CS_INT n : {3, 5, 7}) {
      CtBatch b = dynamic(CS_EXECUTE, id.c_str(), nullptr, nullptr, {n});
      ASSERT_EQ(b.firstError(), nullptr) << n << ": " << b.firstError()->text;
      ASSERT_EQ(b.sets.size(), 1u);
      EXPECT_EQ(formatRow(b.sets[0].rows.at(0)), std::to_string(n * 2));
    }
  }
}

}  // namespace
}  // namespace tabtest
