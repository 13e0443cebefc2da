// COMPUTE and COMPUTE BY through the Session interface: the compute formats after the row
// format (operator, operand column, BY list), and each compute row right after its group.
#include <gtest/gtest.h>

#include "recording_sink.h"

namespace tabtest {
namespace {

class Compute : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    run("create table sale (kind varchar(5) not null, qty int not null, price money not null)\n"
        "insert sale values ('a', 1, $1.5) insert sale values ('a', 3, $2) insert sale values ('b', 5, $10)\n"
        "insert sale values ('c', 2, $4) insert sale values ('c', 4, $6)");
  }
};

TEST_F(Compute, GrandTotalsFollowTheRows) {
  RecordingSink s =
      run("select kind, qty, price from sale order by kind, qty compute sum(qty), max(price), count(kind)");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(s.events, (std::vector<std::string>{"rowfmt", "altfmt 1", "row", "row", "row", "row", "row",
                                                "altrow 1", "done"}));
  ASSERT_EQ(s.computeFormats.size(), 1u);
  const auto& f = s.computeFormats[0];
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].op, 0x4D);
  EXPECT_EQ(f[0].operand, 2);
  EXPECT_EQ(f[1].op, 0x52);
  EXPECT_EQ(f[1].operand, 3);
  EXPECT_EQ(f[1].desc.type.type, tabsrv::SqlType::Money);
  EXPECT_EQ(f[2].op, 0x4B);
  EXPECT_TRUE(s.computeByLists[0].empty());
  ASSERT_EQ(s.computeRows.size(), 1u);
  EXPECT_EQ(show(s.computeRows[0][0]), "15");
  EXPECT_EQ(show(s.computeRows[0][1], f[1].desc.type), "10.00");
  EXPECT_EQ(show(s.computeRows[0][2]), "5");
  // Five rows and the compute row: "(6 rows affected)", as the family counts.
  EXPECT_EQ(s.dones.back().count, 6);
}

TEST_F(Compute, ByGroupsReportAfterEachGroupInnermostFirst) {
  RecordingSink s =
      run("select kind, qty from sale order by kind, qty\n"
          "compute avg(qty), min(qty) by kind\n"
          "compute sum(qty)");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(s.events,
            (std::vector<std::string>{"rowfmt", "altfmt 1", "altfmt 2", "row", "row", "altrow 1", "row",
                                      "altrow 1", "row", "row", "altrow 1", "altrow 2", "done"}));
  EXPECT_EQ(s.computeByLists[0], std::vector<uint8_t>{1});
  ASSERT_EQ(s.computeRows.size(), 4u);
  EXPECT_EQ(show(s.computeRows[0][0]) + "/" + show(s.computeRows[0][1]), "2/1");
  EXPECT_EQ(show(s.computeRows[1][0]) + "/" + show(s.computeRows[1][1]), "5/5");
  EXPECT_EQ(show(s.computeRows[2][0]) + "/" + show(s.computeRows[2][1]), "3/2");
  EXPECT_EQ(show(s.computeRows[3][0]), "15");
}

TEST_F(Compute, ClauseColumnsMustBeInTheSelectList) {
  EXPECT_EQ(run("select kind from sale compute sum(qty)").errorNumbers(), std::vector<int>{8120});
  EXPECT_EQ(run("select kind, qty from sale order by kind compute sum(qty) by price").errorNumbers(),
            std::vector<int>{8120});
  // A WHERE that matches nothing: no groups, the grand total still reports.
  RecordingSink none = run("select qty from sale where qty > 99 compute count(qty)");
  ASSERT_EQ(none.computeRows.size(), 1u);
  EXPECT_EQ(show(none.computeRows[0][0]), "0");
}

}  // namespace
}  // namespace tabtest
