// Prepared statements through the Session interface: `?` markers typed by their context,
// result columns described without running anything, execution with converted values, ids.
#include <gtest/gtest.h>

#include "recording_sink.h"
#include "server/types/type_codes.h"

namespace tabtest {
namespace {

using tabsrv::ParamValue;
using tabsrv::SqlType;
using tabsrv::Value;

class Prepared : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    run("create table p (id int not null, name char(8) not null, price money null)\n"
        "insert p values (1, 'apple', $1.5) insert p values (2, 'pear', $2) insert p values (3, 'plum', "
        "null)");
  }
  static ParamValue text(const std::string& v) {
    ParamValue p;
    p.format.type = tabsrv::makeType(SqlType::VarChar, static_cast<int32_t>(v.size()));
    p.value = v;
    return p;
  }
  static ParamValue integer(int64_t v) {
    ParamValue p;
    p.format.type = tabsrv::makeType(SqlType::Int);
    p.value = v;
    return p;
  }
  RecordingSink execute(const std::string& id, const std::vector<ParamValue>& params) {
    RecordingSink sink;
    session_->executePrepared(id, params, sink);
    return sink;
  }
};

TEST_F(Prepared, MarkersTakeTheTypesOfTheirContext) {
  auto d = session_->prepareStatement(
      "s1", "select id, name from p where id > ? and name like ? and price between ? and ?");
  ASSERT_EQ(d.inputs.size(), 4u);
  EXPECT_EQ(d.inputs[0].type.type, SqlType::Int);
  EXPECT_EQ(d.inputs[1].type.type, SqlType::Char);
  EXPECT_EQ(d.inputs[1].type.length, 8);
  EXPECT_EQ(d.inputs[2].type.type, SqlType::Money);
  EXPECT_EQ(d.inputs[3].type.type, SqlType::Money);
  ASSERT_EQ(d.outputs.size(), 2u);
  EXPECT_EQ(d.outputs[1].name, "name");
  auto ins = session_->prepareStatement("s2", "insert p (price, id, name) values (?, ?, ?)");
  ASSERT_EQ(ins.inputs.size(), 3u);
  EXPECT_EQ(ins.inputs[0].type.type, SqlType::Money);
  EXPECT_EQ(ins.inputs[1].type.type, SqlType::Int);
  EXPECT_TRUE(ins.outputs.empty());
  auto up = session_->prepareStatement("s3", "update p set price = ? where ? = id");
  EXPECT_EQ(up.inputs.at(0).type.type, SqlType::Money);
  EXPECT_EQ(up.inputs.at(1).type.type, SqlType::Int);
}

TEST_F(Prepared, PrepareRunsNothing) {
  session_->prepareStatement("ins", "insert p values (?, ?, ?) delete p");
  EXPECT_EQ(scalar("select count(*) from p"), "3");
}

TEST_F(Prepared, ExecutesManyTimesWithDifferentValues) {
  session_->prepareStatement("q", "select name from p where id >= ? order by id");
  struct Case {
    const char* name;
    int64_t from;
    size_t rows;
  };
  for (const Case& c : {Case{"All", 1, 3}, Case{"LastTwo", 2, 2}, Case{"None", 9, 0}}) {
    SCOPED_TRACE(c.name);
    RecordingSink s = execute("q", {integer(c.from)});
    ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
    ASSERT_EQ(s.sets.size(), 1u);
    EXPECT_EQ(s.sets[0].rows.size(), c.rows);
  }
  // A text value converts to the marker's int type.
  RecordingSink s = execute("q", {text("3")});
  ASSERT_EQ(s.sets.size(), 1u);
  ASSERT_EQ(s.sets[0].rows.size(), 1u);
  EXPECT_EQ(show(s.sets[0].rows[0][0]), "plum    ");
}

TEST_F(Prepared, WritesThroughMarkers) {
  session_->prepareStatement("ins", "insert p values (?, ?, ?)");
  EXPECT_EQ(execute("ins", {integer(4), text("fig"), text("3.25")}).errorNumbers(), std::vector<int>{});
  EXPECT_EQ(scalar("select convert(varchar(10), price) from p where id = 4"), "3.25");
}

// A prepared batch is a batch of its own at prepare and at each execute: the variables it
// declares are its own (the last batch's @n is not), and a money value given for a marker of no
// type of its own keeps its four decimals.
TEST_F(Prepared, EachExecuteIsABatchOfItsOwnAndMoneyKeepsItsDigits) {
  run("declare @n int select @n = 1");
  session_->prepareStatement("v", "declare @n int select @n = ? select @n * 2");
  for (int64_t n : {3, 5}) {
    RecordingSink s = execute("v", {integer(n)});
    ASSERT_EQ(s.errorNumbers(), std::vector<int>{}) << n;
    ASSERT_EQ(s.sets.size(), 1u);
    EXPECT_EQ(show(s.sets[0].rows.at(0)[0]), std::to_string(n * 2));
  }
  ParamValue money;
  money.format.type = tabsrv::makeType(SqlType::Money);
  money.value = tabsrv::Decimal{12345678, 4};
  const struct {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"select ?", "1234.5678"},
      {"declare @m money select @m = ? select @m", "1234.5678"},
      {"select convert(money, ?)", "1234.5678"},
  };
  int k = 0;
  for (const auto& c : cases) {
    std::string id = "m" + std::to_string(++k);
    session_->prepareStatement(id, c.sql);
    RecordingSink s = execute(id, {money});
    ASSERT_EQ(s.errorNumbers(), std::vector<int>{}) << c.sql;
    ASSERT_FALSE(s.sets.empty()) << c.sql;
    EXPECT_EQ(show(s.sets.back().rows.at(0)[0]), c.expected) << c.sql;
  }
}

TEST_F(Prepared, IdsAreCheckedAndDeallocateForgets) {
  session_->prepareStatement("x", "select ?");
  EXPECT_THROW(session_->prepareStatement("x", "select 1"), tabsrv::SqlError);
  EXPECT_THROW(execute("x", {}), tabsrv::SqlError);  // one value missing
  session_->deallocatePrepared("x");
  EXPECT_THROW(execute("x", {integer(1)}), tabsrv::SqlError);
  EXPECT_THROW(session_->deallocatePrepared("x"), tabsrv::SqlError);
  // Another session has its own ids.
  auto other = login();
  other->prepareStatement("x", "select 1");
}

TEST_F(Prepared, AFailingPrepareLeavesNothingBehind) {
  EXPECT_THROW(session_->prepareStatement("bad", "select nosuch from p where id = ?"), tabsrv::SqlError);
  EXPECT_THROW(execute("bad", {integer(1)}), tabsrv::SqlError);
  // Markers outside a prepared statement are a syntax error, and a describe changes no option.
  EXPECT_EQ(run("select ?").errorNumbers(), std::vector<int>{102});
  session_->prepareStatement("opts", "set nocount on select 1");
  EXPECT_FALSE(session_->options().noCount);
  // In chained mode too the result columns are described.
  run("set chained on");
  EXPECT_EQ(session_->prepareStatement("chained", "select id from p where id = ?").outputs.size(), 1u);
}

TEST_F(Prepared, TextMarkersKeepTheWholeValue) {
  // Described beside a one-character literal or a char(8) column, a concatenated marker still
  // carries every character it is given.
  const struct {
    const char* sql;
    const char* value;
    const char* expected;
  } cases[] = {
      {"select ? + '|'", "a longer text", "a longer text|"},
      {"select '<' + ?", "abcdefghijkl", "<abcdefghijkl"},
      {"select name + ? from p where id = 1", "-and-more-text", "apple   -and-more-text"},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string id = "t" + std::to_string(++n);
    session_->prepareStatement(id, c.sql);
    RecordingSink s = execute(id, {text(c.value)});
    ASSERT_FALSE(s.sets.empty()) << c.sql;
    EXPECT_EQ(show(s.sets.back().rows.at(0)[0]), c.expected) << c.sql;
  }
}

// A prepared insert run over and over keeps everything a table asks of a row: identity, column
// defaults, CHECK constraints, rules, NOT NULL and the trigger; a refused row leaves nothing, and
// the next execute works.
TEST_F(Prepared, RepeatedInsertsKeepTheTableRules) {
  run("create table logged (n int not null)\n"
      "create table orders2 (id numeric(8,0) identity, qty int not null check (qty < 100), "
      "code varchar(4) null, note varchar(10) default 'none' null)\n"
      "create unique index orders2_code on orders2 (code)");
  run("create rule code_rule2 as @c like 'A%'");
  run("exec sp_bindrule code_rule2, 'orders2.code'");
  run("create trigger orders2_ins on orders2 for insert as insert logged select qty from inserted");
  session_->prepareStatement("ins", "insert orders2 (qty, code) values (?, ?)");
  const struct {
    int64_t qty;
    const char* code;  // null for NULL
    int error;         // 0 when the row goes in
  } cases[] = {
      {1, "A1", 0},  {100, "A2", 548}, {2, "B1", 552}, {3, "A3", 0},   {4, "A1", 2601},
      {5, nullptr, 0}, {6, "A6", 0},   {7, "A7", 0},   {200, "A8", 548}, {8, "A8", 0},
  };
  int stored = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.qty);
    ParamValue code = text(c.code ? c.code : "");
    if (!c.code) code.value = Value{};
    RecordingSink s = execute("ins", {integer(c.qty), code});
    if (c.error) {
      EXPECT_EQ(s.errorNumbers(), std::vector<int>{c.error});
      continue;
    }
    ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
    ++stored;
    EXPECT_EQ(scalar("select @@identity"), std::to_string(stored));
  }
  EXPECT_EQ(scalar("select count(*) from orders2"), std::to_string(stored));
  EXPECT_EQ(scalar("select count(*) from logged"), std::to_string(stored));
  EXPECT_EQ(scalar("select count(*) from orders2 where note = 'none'"), std::to_string(stored));
  // The identity values run on without gaps from refused rows being reused twice.
  EXPECT_EQ(scalar("select count(distinct id) from orders2"), std::to_string(stored));
  EXPECT_EQ(scalar("select sum(n) from logged"), "30");

  // Inside a transaction a refused row undoes only itself.
  run("begin tran");
  EXPECT_EQ(execute("ins", {integer(9), text("A9")}).errorNumbers(), std::vector<int>{});
  EXPECT_EQ(execute("ins", {integer(10), text("A9")}).errorNumbers(), std::vector<int>{2601});
  EXPECT_EQ(execute("ins", {integer(11), text("A11")}).errorNumbers(), std::vector<int>{});
  run("commit");
  EXPECT_EQ(scalar("select count(*) from orders2 where qty in (9, 10, 11)"), "2");
  EXPECT_EQ(scalar("select count(*) from logged where n in (9, 10, 11)"), "2");
}

// An explicit identity value needs identity_insert at each execute, not only the first.
TEST_F(Prepared, IdentityInsertIsCheckedAtEachExecute) {
  run("create table ids (id int identity, v int not null)");
  run("set identity_insert ids on");
  session_->prepareStatement("ins", "insert ids (id, v) values (?, ?)");
  run("set identity_insert ids off");
  EXPECT_EQ(execute("ins", {integer(10), integer(1)}).errorNumbers(), std::vector<int>{584});
  run("set identity_insert ids on");
  EXPECT_EQ(execute("ins", {integer(10), integer(2)}).errorNumbers(), std::vector<int>{});
  run("set identity_insert ids off");
  EXPECT_EQ(execute("ins", {integer(11), integer(3)}).errorNumbers(), std::vector<int>{584});
  run("insert ids (v) values (4)");
  EXPECT_EQ(scalar("select max(id) from ids"), "11");
}

// What changes between two executes, in this session or another, is seen by the next one: the
// insert is planned again for the table as it is now, or refused when it no longer fits.
TEST_F(Prepared, InsertsFollowTheTableAsItIsNow) {
  run("create table shape (a int not null, b varchar(10) not null)");
  auto other = login();
  session_->prepareStatement("named", "insert shape (a, b) values (?, ?)");
  session_->prepareStatement("all", "insert shape values (?, ?)");
  auto good = [&](const char* id, int64_t a) {
    return execute(id, {integer(a), text("r" + std::to_string(a))}).errorNumbers();
  };
  ASSERT_EQ(good("named", 1), std::vector<int>{});
  ASSERT_EQ(good("all", 2), std::vector<int>{});
  const std::vector<int> ok;
  const struct {
    const char* change;  // run by the other session
    bool mine;           // run by this session instead
    std::vector<int> named, all;
    const char* check;  // a query whose single value must be "1" after the executes
  } cases[] = {
      {"alter table shape add c int default 7 null", false, ok, {213},
       "select count(*) from shape where a = 3 and c = 7"},
      {"drop table shape create table shape (b varchar(10) not null, a int not null)", true, ok, {257},
       "select count(*) from shape where a = 5 and b = 'r5'"},
      {"create trigger shape_ins on shape for insert as update shape set b = 'fired' "
       "where a in (select a from inserted)",
       false, ok, {257}, "select count(*) from shape where a = 7 and b = 'fired'"},
      {"drop table shape", false, {208}, {208}, "select count(*) from sysobjects where name = 'shape'"},
      {"create table shape (a int not null, b varchar(10) not null, d int not null)", false, {233}, {213},
       "select 1 - count(*) from shape"},
      {"drop table shape create table shape (a int not null, b varchar(10) not null)", true, ok, ok,
       "select count(*) - 1 from shape"},
  };
  int64_t next = 3;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    RecordingSink changed = run(c.change, c.mine ? nullptr : other.get());
    ASSERT_EQ(changed.errorNumbers(), std::vector<int>{});
    EXPECT_EQ(good("named", next), c.named);
    EXPECT_EQ(good("all", next + 1), c.all);
    next += 2;
    if (std::string(c.change) == "drop table shape")
      EXPECT_EQ(scalar(c.check), "0");
    else
      EXPECT_EQ(scalar(c.check), "1");
  }
}

// Two sessions executing their own prepared insert into one table, turn about, and a rule bound
// by one of them between executes holds for the other's next row.
TEST_F(Prepared, SessionsExecuteTheirOwnInserts) {
  run("create table shared (who int not null, n int not null)");
  auto other = login();
  session_->prepareStatement("ins", "insert shared values (?, ?)");
  other->prepareStatement("ins", "insert shared values (?, ?)");
  for (int64_t n = 0; n < 20; ++n) {
    tabsrv::Session& s = n % 2 ? *other : *session_;
    RecordingSink sink;
    s.executePrepared("ins", {integer(n % 2), integer(n)}, sink);
    ASSERT_EQ(sink.errorNumbers(), std::vector<int>{});
  }
  EXPECT_EQ(scalar("select count(*) from shared where who = 0"), "10");
  EXPECT_EQ(scalar("select count(*) from shared where who = 1"), "10");
  run("create rule small as @n < 100", other.get());
  run("exec sp_bindrule small, 'shared.n'", other.get());
  EXPECT_EQ(execute("ins", {integer(0), integer(100)}).errorNumbers(), std::vector<int>{552});
  EXPECT_EQ(execute("ins", {integer(0), integer(99)}).errorNumbers(), std::vector<int>{});
  // A rule bound and rolled back in a transaction does not stay.
  run("begin tran exec sp_unbindrule 'shared.n' rollback tran", other.get());
  EXPECT_EQ(execute("ins", {integer(0), integer(100)}).errorNumbers(), std::vector<int>{552});
  run("exec sp_unbindrule 'shared.n'", other.get());
  EXPECT_EQ(execute("ins", {integer(0), integer(100)}).errorNumbers(), std::vector<int>{});
}

}  // namespace
}  // namespace tabtest
