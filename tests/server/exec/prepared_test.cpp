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

}  // namespace
}  // namespace tabtest
