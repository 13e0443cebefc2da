// Procedures through the Session interface: the token order of EXEC and RPC replies (DONEINPROC
// inside, RETURNSTATUS, output parameters, DONEPROC), argument matching and status on errors.
#include <gtest/gtest.h>

#include "recording_sink.h"
#include "server/types/type_codes.h"

namespace tabtest {
namespace {

using tabsrv::DoneKind;
using tabsrv::ParamValue;
using tabsrv::SqlType;
using tabsrv::Value;

class Procedures : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    run("create table t (a int not null, b varchar(10) null)\n"
        "insert t values (1, 'one') insert t values (2, 'two') insert t values (3, null)");
    run("create procedure pick @lo int, @hi int = 2, @n int output as\n"
        "  select a, b from t where a between @lo and @hi order by a\n"
        "  select @n = @@rowcount\n"
        "  return 5");
  }

  static ParamValue param(const std::string& name, Value v, SqlType type, bool output = false) {
    ParamValue p;
    p.name = name;
    p.format.name = name;
    p.format.type = tabsrv::makeType(type, type == SqlType::VarChar ? 10 : 0);
    p.value = std::move(v);
    p.output = output;
    return p;
  }

  RecordingSink rpc(const std::string& proc, std::vector<ParamValue> params) {
    RecordingSink sink;
    session_->executeRpc(proc, params, sink);
    return sink;
  }
};

TEST_F(Procedures, RpcRepliesWithRowsStatusOutputThenDoneProc) {
  RecordingSink s =
      rpc("pick", {param("@lo", Value{int64_t{1}}, SqlType::Int),
                   param("@hi", Value{int64_t{3}}, SqlType::Int), param("@n", Value{}, SqlType::Int, true)});
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(s.events, (std::vector<std::string>{"rowfmt", "row", "row", "row", "doneinproc", "doneinproc",
                                                "status 5", "params", "doneproc"}));
  ASSERT_EQ(s.outputFormats.size(), 1u);
  EXPECT_EQ(s.outputFormats[0].name, "@n");
  EXPECT_EQ(s.outputFormats[0].type.type, SqlType::Int);
  EXPECT_EQ(show(s.outputValues[0]), "3");
}

TEST_F(Procedures, RpcPositionalParametersAndDefaults) {
  RecordingSink s =
      rpc("dbo.pick", {param("", Value{int64_t{2}}, SqlType::Int), param("", Value{}, SqlType::Int, true)});
  // The second positional value fills @hi (no OUTPUT there, so it goes back as sent); @n is missing.
  EXPECT_EQ(s.errorNumbers(), std::vector<int>{201});
  EXPECT_EQ(s.events.back(), "doneproc");
  RecordingSink named =
      rpc("pick", {param("@n", Value{}, SqlType::Int, true), param("@lo", Value{int64_t{2}}, SqlType::Int)});
  ASSERT_EQ(named.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(named.sets.size(), 1u);
  EXPECT_EQ(named.sets[0].rows.size(), 1u);  // @hi defaults to 2
  EXPECT_EQ(show(named.outputValues.at(0)), "1");
}

TEST_F(Procedures, RpcToAnUnknownProcedureFailsWithDoneProc) {
  RecordingSink s = rpc("nosuch", {});
  EXPECT_EQ(s.errorNumbers(), std::vector<int>{2812});
  EXPECT_EQ(s.events, std::vector<std::string>{"doneproc"});
  ASSERT_EQ(s.dones.size(), 1u);
  EXPECT_TRUE(s.dones[0].error);
}

TEST_F(Procedures, LanguageExecEndsWithStatusAndDoneProcOnlyForTheOutermostCall) {
  run("create proc inner_p as select 1 return 3");
  run("create proc outer_p as exec inner_p select 2");
  RecordingSink s = run("exec outer_p select 9");
  EXPECT_EQ(s.events, (std::vector<std::string>{"rowfmt", "row", "doneinproc", "rowfmt", "row", "doneinproc",
                                                "status 0", "doneproc", "rowfmt", "row", "done"}));
}

TEST_F(Procedures, LanguageExecSendsOutputValuesBeforeDoneProc) {
  RecordingSink s = run("declare @n int exec pick 1, 3, @n output select @n");
  EXPECT_EQ(s.events,
            (std::vector<std::string>{"done", "rowfmt", "row", "row", "row", "doneinproc", "doneinproc",
                                      "status 5", "params", "doneproc", "rowfmt", "row", "done"}));
  ASSERT_EQ(s.outputFormats.size(), 1u);
  EXPECT_EQ(s.outputFormats[0].name, "@n");
  EXPECT_EQ(show(s.outputValues.at(0)), "3");
  EXPECT_EQ(show(s.sets.back().rows.at(0).at(0)), "3");
}

TEST_F(Procedures, StatusOfAFailedStatementWithoutReturnIsNegative) {
  run("create proc bad as select convert(int, 'x')");
  run("create proc explicit_status as select convert(int, 'x') return 7");
  RecordingSink s = run("exec bad");
  EXPECT_EQ(s.statuses, std::vector<int32_t>{-6});
  EXPECT_EQ(run("exec explicit_status").statuses, std::vector<int32_t>{7});
  RecordingSink into = run("declare @r int exec @r = bad select @r");
  ASSERT_FALSE(into.sets.empty());
  EXPECT_EQ(show(into.sets.back().rows.at(0).at(0)), "-6");
}

TEST_F(Procedures, ErrorsInsideCarryTheProcedureName) {
  run("create proc noisy as raiserror 20001 'inside'");
  RecordingSink s = run("exec noisy");
  ASSERT_EQ(s.messages.size(), 1u);
  EXPECT_EQ(s.messages[0].procedure, "noisy");
}

TEST_F(Procedures, ArgumentMistakes) {
  struct Case {
    const char* name;
    const char* sql;
    int error;
  };
  const Case cases[] = {
      {"TooManyArguments", "declare @n int exec pick 1, 2, @n output, 4", 8144},
      {"UnknownName", "exec pick @lo = 1, @zz = 2", 8145},
      {"PositionalAfterNamed", "declare @n int exec pick @lo = 1, @n output", 119},
      {"OutputOnAConstant", "exec pick 1, 2, 3 output", 179},
      {"MissingRequired", "exec pick @hi = 3", 201},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run(c.sql).errorNumbers(), std::vector<int>{c.error});
  }
}

TEST_F(Procedures, NestingStopsAtSixteenLevels) {
  run("create proc deep @n int as\n"
      "  if @n > 0 begin select @n = @n - 1 exec deep @n end");
  EXPECT_EQ(run("exec deep 10").errorNumbers(), std::vector<int>{});
  std::vector<int> errors = run("exec deep 20").errorNumbers();
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], 217);
}

TEST_F(Procedures, CatalogueKeepsTextAndParameters) {
  EXPECT_EQ(scalar("select type from sysobjects where name = 'pick'"), "P ");
  EXPECT_EQ(scalar("select count(*) from syscolumns c, sysobjects o where c.id = o.id and o.name = 'pick'"),
            "3");
  EXPECT_EQ(scalar("select c.name from syscolumns c, sysobjects o where c.id = o.id and o.name = 'pick' "
                   "and c.status & 64 = 64"),
            "@n");
  EXPECT_EQ(scalar("select count(*) from syscomments c, sysobjects o where c.id = o.id and o.name = 'pick'"),
            "1");
  run("drop procedure pick");
  EXPECT_EQ(scalar("select count(*) from syscolumns c where not exists (select 1 from sysobjects o where "
                   "o.id = c.id)"),
            "0");
}

TEST_F(Procedures, ParameterisedLanguageCommandSeesItsValues) {
  RecordingSink s;
  std::vector<ParamValue> params = {param("@P1", Value{int64_t{2}}, SqlType::Int),
                                    param("@P2", Value{std::string("two")}, SqlType::VarChar)};
  session_->executeLanguageWithParams("select a from t where a = @P1 and b = @P2", params, s);
  ASSERT_EQ(s.sets.size(), 1u);
  ASSERT_EQ(s.sets[0].rows.size(), 1u);
  EXPECT_EQ(show(s.sets[0].rows[0][0]), "2");
}

TEST_F(EngineTest, NegativeLiteralsKeepTheirExactMinimum) {
  run("create table m (v money not null, i int not null)");
  EXPECT_EQ(run("insert m values (-922337203685477.5808, -2147483648)").errorNumbers(), std::vector<int>{});
  EXPECT_EQ(scalar("select convert(varchar(30), v) from m"), "-922337203685477.58");
  EXPECT_EQ(scalar("select i from m"), "-2147483648");
}

}  // namespace
}  // namespace tabtest
