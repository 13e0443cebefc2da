// A hostile or merely large batch against the real server: statements too deep for any tree walk
// are refused with the family's error while the session and the server go on; long generated
// IN and OR lists run.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using tabtest::CtClient;
using tabtest::ServerFixture;

std::string scalar(CtClient& c, const std::string& sql) {
  auto batch = c.run(sql);
  if (const auto* e = batch.firstError()) return "error " + std::to_string(e->number) + ": " + e->text;
  if (batch.sets.empty() || batch.sets[0].rows.empty() || !batch.sets[0].rows[0][0]) return "<none>";
  return *batch.sets[0].rows[0][0];
}

std::string chain(int terms, const std::string& term, const std::string& op) {
  std::string s = term;
  for (int i = 1; i < terms; ++i) s += op + term;
  return s;
}

class LargeStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(c.connect());
    ASSERT_FALSE(c.run("create table sample..nums (a int not null, s varchar(10) null)").firstError());
    std::string fill;
    for (int i = 1; i <= 20; ++i) fill += "insert sample..nums values (" + std::to_string(i) + ", 'x') ";
    ASSERT_FALSE(c.run(fill).firstError());
  }
  ServerFixture server;
  CtClient c;
};

TEST_F(LargeStatements, TooDeepChainsAreRefusedAndTheSessionGoesOn) {
  const std::string cases[] = {
      "select " + chain(5000, "1", " + "),
      "select " + chain(5000, "'a'", " + "),
      "select " + chain(5000, "2", " * "),
      "select " + std::string(5000, '(') + "1" + std::string(5000, ')'),
      "select " + chain(5000, "-", " ") + "1",
      "if " + chain(5000, "1", " + ") + " = 1 print 'x'",
      chain(5000, "begin", " ") + " select 1 " + chain(5000, "end", " "),
      chain(5000, "if 1 = 1", " ") + " select 1",
      "select " + chain(5000, "(select", " ") + " 1" + std::string(5000, ')'),
      "select 1 where " + chain(5000, "exists (select 1 where", " ") + " 1 = 1" + std::string(5000, ')'),
  };
  for (const auto& sql : cases) {
    auto batch = c.run(sql);
    const auto* e = batch.firstError();
    ASSERT_TRUE(e != nullptr) << sql.substr(0, 40);
    EXPECT_EQ(e->number, 191) << sql.substr(0, 40) << ": " << e->text;
    EXPECT_EQ(scalar(c, "select 40 + 2"), "42");
  }
  CtClient other;
  ASSERT_TRUE(other.connect());
  EXPECT_EQ(scalar(other, "select count(*) from sample..nums"), "20");
}

TEST_F(LargeStatements, LongChainsBelowTheLimitWork) {
  EXPECT_EQ(scalar(c, chain(200, "begin", " ") + " select 7 " + chain(200, "end", " ")), "7");
  EXPECT_EQ(scalar(c, chain(200, "if 1 = 1", " ") + " select 8"), "8");
  EXPECT_EQ(scalar(c, "select " + chain(399, "1", " + ")), "399");
  EXPECT_EQ(scalar(c, "select " + chain(300, "1", " - ")), "-298");
  EXPECT_EQ(scalar(c, "select " + chain(30, "2", " * ")), "1073741824");
  EXPECT_EQ(scalar(c, "select datalength(" + chain(300, "'ab'", " + ") + ")"), "600");
  EXPECT_EQ(scalar(c, "select " + chain(100, "a", " + ") + " from sample..nums where a = 3"), "300");
  // A chain over a column keeps the family's concatenation with NULL: only NULL + NULL is NULL.
  EXPECT_EQ(scalar(c, "select 'a' + null + s + 'b' from sample..nums where a = 1"), "axb");
}

TEST_F(LargeStatements, GeneratedOrAndInListsOfTenThousandTermsWork) {
  std::string ors, ands, in;
  for (int i = 1; i <= 10000; ++i) {
    ors += (i > 1 ? " or a = " : "a = ") + std::to_string(i * 2);
    ands += (i > 1 ? " and a <> " : "a <> ") + std::to_string(i * 2);
    in += (i > 1 ? ", " : "") + std::to_string(i * 2);
  }
  EXPECT_EQ(scalar(c, "select count(*) from sample..nums where " + ors), "10");
  EXPECT_EQ(scalar(c, "select count(*) from sample..nums where " + ands), "10");
  EXPECT_EQ(scalar(c, "select count(*) from sample..nums where a in (" + in + ")"), "10");
  EXPECT_EQ(scalar(c, "select count(*) from sample..nums where a not in (" + in + ")"), "10");
  EXPECT_EQ(scalar(c, "if 3 in (" + in + ", 3) select 'yes' else select 'no'"), "yes");
}

}  // namespace
