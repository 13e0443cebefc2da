// Procedures through real FreeTDS: rows, return status (negative too) and output parameters by
// RPC and by EXEC, in the order Client-Library reports them, and parameters of the classic types.
#include <gtest/gtest.h>

#include "tests/support/server_fixture.h"
#include "wire_support.h"

namespace tabtest {
namespace {

class ProceduresWire : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.connect());
    ASSERT_FALSE(client
                     .run("create table t (a int not null, b varchar(10) null)\n"
                          "insert t values (1, 'one') insert t values (2, 'two') insert t values (3, null)")
                     .firstError());
    ASSERT_FALSE(client
                     .run("create procedure pick @lo int, @hi int, @n int output as\n"
                          "  select a, b from t where a between @lo and @hi order by a\n"
                          "  select @n = @@rowcount\n"
                          "  return 5")
                     .firstError());
  }
  ServerFixture server;
  CtClient client;
};

const CtResultSet* setOf(const CtBatch& b, CtSetKind kind) {
  for (const auto& s : b.sets)
    if (s.kind == kind) return &s;
  return nullptr;
}

TEST_F(ProceduresWire, RpcReturnsRowsOutputAndStatus) {
  std::vector<std::string> trace;
  CtBatch b =
      callRpc(client, "pick",
              {{"@lo", CS_INT_TYPE, "1"}, {"@hi", CS_INT_TYPE, "2"}, {"@n", CS_INT_TYPE, "0", true}}, &trace);
  ASSERT_FALSE(b.failed);
  ASSERT_EQ(b.firstError(), nullptr) << b.firstError()->text;
  EXPECT_EQ(trace, (std::vector<std::string>{"ROW", "CMD_DONE", "STATUS", "PARAM", "SUCCEED", "CMD_DONE"}));
  ASSERT_TRUE(b.returnStatus);
  EXPECT_EQ(*b.returnStatus, 5);
  const CtResultSet* rows = setOf(b, CtSetKind::Rows);
  ASSERT_NE(rows, nullptr);
  ASSERT_EQ(rows->rows.size(), 2u);
  EXPECT_EQ(formatRow(rows->rows[1]), "2 | two");
  const CtResultSet* params = setOf(b, CtSetKind::Params);
  ASSERT_NE(params, nullptr);
  ASSERT_EQ(params->rows.size(), 1u);
  EXPECT_EQ(params->columns.at(0), "@n");
  EXPECT_EQ(*params->rows[0][0], "2");
}

TEST_F(ProceduresWire, ExecReturnsTheSameRowsOutputAndStatus) {
  CtBatch b = client.run("declare @n int exec pick 2, 3, @n output select @n");
  ASSERT_EQ(b.firstError(), nullptr);
  ASSERT_TRUE(b.returnStatus);
  EXPECT_EQ(*b.returnStatus, 5);
  ASSERT_EQ(b.sets.size(), 4u);
  EXPECT_EQ(b.sets[0].rows.size(), 2u);
  EXPECT_EQ(b.sets[1].kind, CtSetKind::Status);
  EXPECT_EQ(b.sets[2].kind, CtSetKind::Params);
  EXPECT_EQ(*b.sets[2].rows.at(0).at(0), "2");
  EXPECT_EQ(*b.sets[3].rows.at(0).at(0), "2");
}

TEST_F(ProceduresWire, NegativeStatusArrivesNegative) {
  ASSERT_FALSE(client.run("create proc minus_one as return -1").firstError());
  CtBatch byRpc = callRpc(client, "minus_one", {});
  ASSERT_TRUE(byRpc.returnStatus);
  EXPECT_EQ(*byRpc.returnStatus, -1);
  CtBatch byExec = client.run("exec minus_one");
  ASSERT_TRUE(byExec.returnStatus);
  EXPECT_EQ(*byExec.returnStatus, -1);
}

TEST_F(ProceduresWire, RpcErrorsFailTheCommand) {
  std::vector<std::string> trace;
  CtBatch b = callRpc(client, "nosuch", {}, &trace);
  ASSERT_NE(b.firstError(), nullptr);
  EXPECT_EQ(b.firstError()->number, 2812);
  EXPECT_EQ(trace, (std::vector<std::string>{"FAIL", "CMD_DONE"}));
  // The connection is still usable.
  EXPECT_FALSE(client.run("select 1").firstError());
}

TEST_F(ProceduresWire, ParametersOfClassicTypesGoBothWays) {
  ASSERT_FALSE(
      client
          .run("create proc echo @i int output, @c varchar(20) output, @f float output, @b bit output\n"
               "as select @i = @i + 1, @c = @c + '!', @f = @f * 2, @b = 1 - @b")
          .firstError());
  CtBatch b = callRpc(client, "echo",
                      {{"@i", CS_INT_TYPE, "41", true},
                       {"@c", CS_CHAR_TYPE, "hi", true},
                       {"@f", CS_FLOAT_TYPE, "1.25", true},
                       {"@b", CS_BIT_TYPE, "0", true}});
  ASSERT_EQ(b.firstError(), nullptr) << b.firstError()->text;
  const CtResultSet* params = setOf(b, CtSetKind::Params);
  ASSERT_NE(params, nullptr);
  ASSERT_EQ(params->rows.size(), 1u);
  EXPECT_EQ(formatRow(params->rows[0]), "42 | hi! | 2.5 | 1");
  // NULLs in, NULLs out.
  CtBatch n = callRpc(client, "echo",
                      {{"@i", CS_INT_TYPE, std::nullopt, true},
                       {"@c", CS_CHAR_TYPE, std::nullopt, true},
                       {"@f", CS_FLOAT_TYPE, std::nullopt, true},
                       {"@b", CS_BIT_TYPE, "1", true}});
  ASSERT_EQ(n.firstError(), nullptr) << n.firstError()->text;
  params = setOf(n, CtSetKind::Params);
  ASSERT_NE(params, nullptr);
  // NULL + '!' is '!' in this family: concatenation skips a NULL operand.
  EXPECT_EQ(formatRow(params->rows.at(0)), "NULL | ! | NULL | 0");
}

TEST_F(ProceduresWire, TextValuesConvertToEveryDeclaredType) {
  ASSERT_FALSE(
      client
          .run("create proc kinds @d datetime output, @m money output, @n numeric(10,3) output,\n"
               "  @s smallint output, @t tinyint output, @r real output, @v varbinary(4) output,\n"
               "  @c char(3) output\n"
               "as select @d = dateadd(day, 1, @d), @m = @m * 2, @n = @n + 0.001, @s = -@s, @t = @t + 1,\n"
               "  @r = @r / 2, @v = @v + 0x01, @c = upper(@c)")
          .firstError());
  struct Case {
    const char* name;
    std::vector<RpcParam> params;
    const char* expected;
  };
  const Case cases[] = {
      {"Values",
       {{"@d", CS_CHAR_TYPE, "Jan 31 2024 10:00AM", true},
        {"@m", CS_CHAR_TYPE, "12.34", true},
        {"@n", CS_CHAR_TYPE, "-1.5", true},
        {"@s", CS_INT_TYPE, "300", true},
        {"@t", CS_INT_TYPE, "254", true},
        {"@r", CS_FLOAT_TYPE, "3", true},
        {"@v", CS_BINARY_TYPE, "\xab", true},
        {"@c", CS_CHAR_TYPE, "ab", true}},
       // The char(3) parameter holds 'ab ' and comes back blank-padded.
       "Feb  1 2024 10:00AM | 24.6800 | -1.499 | -300 | 255 | 1.5 | ab01 | AB "},
      {"Nulls",
       {{"@d", CS_CHAR_TYPE, std::nullopt, true},
        {"@m", CS_CHAR_TYPE, std::nullopt, true},
        {"@n", CS_CHAR_TYPE, std::nullopt, true},
        {"@s", CS_INT_TYPE, std::nullopt, true},
        {"@t", CS_INT_TYPE, std::nullopt, true},
        {"@r", CS_FLOAT_TYPE, std::nullopt, true},
        {"@v", CS_BINARY_TYPE, std::nullopt, true},
        {"@c", CS_CHAR_TYPE, std::nullopt, true}},
       // NULL + 0x01 is 0x01: concatenation skips a NULL operand.
       "NULL | NULL | NULL | NULL | NULL | NULL | 01 | NULL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CtBatch b = callRpc(client, "kinds", c.params);
    ASSERT_EQ(b.firstError(), nullptr) << b.firstError()->text;
    const CtResultSet* params = setOf(b, CtSetKind::Params);
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(formatRow(params->rows.at(0)), c.expected);
  }
}

}  // namespace
}  // namespace tabtest
