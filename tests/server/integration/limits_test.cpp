// What one client can do to the server as a whole: guessing passwords is slowed and tells no
// login names, unknown SET options are errors, and one session's prepared statements and
// cursors, and the number of sessions sa may configure, are bounded with clear errors.
#include <ctpublic.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using tabtest::CtBatch;
using tabtest::CtClient;
using tabtest::ServerFixture;

int errorOf(const CtBatch& b) {
  const auto* e = b.firstError();
  return e ? e->number : 0;
}

std::string scalar(CtClient& c, const std::string& sql) {
  CtBatch b = c.run(sql);
  if (const auto* e = b.firstError()) return "error " + std::to_string(e->number) + ": " + e->text;
  for (const auto& set : b.sets)
    if (!set.rows.empty() && set.rows[0][0]) return *set.rows[0][0];
  return "<none>";
}

// Seconds one login attempt takes, and whether it got in.
std::pair<double, bool> timedLogin(const std::string& user, const std::string& password) {
  CtClient c;
  auto start = std::chrono::steady_clock::now();
  bool in = c.connect("DSQUERY", user, password);
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), in};
}

TEST(Limits, RepeatedFailedLoginsAreAnsweredEverMoreSlowlyButACorrectOneIsNot) {
  ServerFixture server;
  std::vector<double> failures;
  for (int i = 0; i < 7; ++i) {
    auto [seconds, in] = timedLogin(i % 2 ? "sa" : "nosuch", "wrong");
    ASSERT_FALSE(in);
    failures.push_back(seconds);
    std::printf("  failed login %d: %.3f s\n", i + 1, seconds);
  }
  // The first few cost only the password check; then the delay doubles from 0.1 s, so the
  // seventh waits 0.8 s on top of that check. A loaded machine makes every login slower but
  // never shortens a sleep, so the delay is compared as a difference, not a ratio.
  EXPECT_LT(failures[0] + 0.3, failures[6]);
  EXPECT_GE(failures[6], 0.75);
  auto [correct, in] = timedLogin("sa", "");
  std::printf("  correct login after them: %.3f s\n", correct);
  EXPECT_TRUE(in);
  EXPECT_LT(correct + 0.3, failures[6]);
  // The correct login forgot the failures.
  auto [again, in2] = timedLogin("sa", "wrong");
  EXPECT_FALSE(in2);
  EXPECT_LT(again + 0.3, failures[6]);
}

TEST(Limits, UnknownSetOptionsAreSyntaxErrorsAndStopTheBatch) {
  ServerFixture server;
  CtClient c;
  ASSERT_TRUE(c.connect());
  struct Case {
    const char* sql;
    int error;
  } cases[] = {
      {"set nonsense on", 102},
      {"set user 'dbo'", 102},
      {"set statistics nonsense on", 102},
      {"set nocount on", 0},
      {"set statistics io on", 0},
      {"set language us_english", 0},
      {"set char_convert off", 0},
      {"set transaction isolation level 1", 0},
  };
  for (const auto& k : cases) EXPECT_EQ(errorOf(c.run(k.sql)), k.error) << k.sql;
  // Like any syntax error, nothing of the batch runs.
  CtBatch b = c.run("select 1 set nonsense on select 2");
  EXPECT_EQ(errorOf(b), 102);
  EXPECT_TRUE(b.sets.empty());
}

TEST(Limits, SaCannotConfigureMoreSessionsThanTheServerServes) {
  ServerFixture server;
  CtClient sa;
  ASSERT_TRUE(sa.connect());
  // Above this the listener would refuse connections with resets instead of answering 1601.
  EXPECT_EQ(errorOf(sa.run("sp_configure 'number of user connections', 5000")), 5846);
  EXPECT_EQ(errorOf(sa.run("sp_configure 'number of user connections', 1984")), 0);
  EXPECT_EQ(scalar(sa, "select value from master..syscurconfigs where config = 162"), "1984");
}

// Prepares `count` statements on one command handle, keeping them; the server messages the
// prepares got.
std::vector<int> prepareMany(CtClient& c, int count, const std::string& prefix) {
  CS_COMMAND* cmd = nullptr;
  EXPECT_EQ(ct_cmd_alloc(c.connection(), &cmd), CS_SUCCEED);
  std::vector<int> numbers;
  for (int i = 0; i < count; ++i) {
    std::string id = prefix + std::to_string(i);
    char sql[] = "select 1";
    ct_dynamic(cmd, CS_PREPARE, id.data(), CS_NULLTERM, sql, CS_NULLTERM);
    ct_send(cmd);
    CS_INT type = 0;
    while (ct_results(cmd, &type) == CS_SUCCEED) {
    }
    for (const auto& m : c.takeMessages())
      if (m.fromServer && m.severity > 10) numbers.push_back(m.number);
  }
  ct_cmd_drop(cmd);
  return numbers;
}

TEST(Limits, OneSessionHoldsAtMostTheConfiguredPreparedStatementsAndCursors) {
  ServerFixture server;
  CtClient sa;
  ASSERT_TRUE(sa.connect());
  ASSERT_EQ(errorOf(sa.run("sp_configure 'session prepared statements', 16")), 0);
  ASSERT_EQ(errorOf(sa.run("sp_configure 'session open cursors', 16")), 0);
  CtClient c;
  ASSERT_TRUE(c.connect());
  // The 17th prepared statement is refused, clearly; the session goes on.
  EXPECT_EQ(prepareMany(c, 16, "p"), std::vector<int>{});
  EXPECT_EQ(prepareMany(c, 1, "q"), std::vector<int>{7410});
  EXPECT_EQ(scalar(c, "select 'still here'"), "still here");
  // Cursors: sixteen declared, the seventeenth refused until one is deallocated.
  std::string declare;
  for (int i = 0; i < 16; ++i) declare += "declare c" + std::to_string(i) + " cursor for select 1 ";
  ASSERT_EQ(errorOf(c.run(declare)), 0);
  CtBatch extra = c.run("declare c16 cursor for select 1");
  EXPECT_EQ(errorOf(extra), 7411);
  ASSERT_NE(extra.firstError(), nullptr);
  EXPECT_NE(extra.firstError()->text.find("session open cursors"), std::string::npos) << extra.firstError()->text;
  ASSERT_EQ(errorOf(c.run("deallocate cursor c0")), 0);
  EXPECT_EQ(errorOf(c.run("declare c16 cursor for select 1")), 0);
  // The limits are sa's to set, within their bounds.
  EXPECT_EQ(errorOf(sa.run("sp_configure 'session open cursors', 1")), 5846);
}

}  // namespace
