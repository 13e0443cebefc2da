// What one client can do to the server as a whole: guessing passwords is slowed and tells no
// login names, unknown SET options are errors, and one session's prepared statements and
// cursors, and the number of sessions sa may configure, are bounded with clear errors.
#include <ctpublic.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/integration/batch_answers.h"
#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using tabtest::CtBatch;
using tabtest::errorOf;
using tabtest::scalar;
using tabtest::CtClient;
using tabtest::ServerFixture;
using namespace std::chrono_literals;

// Seconds one login attempt takes, and whether it got in.
std::pair<double, bool> timedLogin(const std::string& user, const std::string& password) {
  CtClient c;
  auto start = std::chrono::steady_clock::now();
  bool in = c.connect("DSQUERY", user, password);
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), in};
}

TEST(Limits, RepeatedFailedLoginsAreAnsweredEverMoreSlowlyButACorrectOneIsNot) {
  ServerFixture server;
  {
    CtClient sa;
    ASSERT_TRUE(sa.connect());
    ASSERT_EQ(errorOf(sa.run("exec sp_addlogin guesser, 'guesser-pw1'")), 0);
  }
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
  // The guesser logs in with a login of its own between guesses: that is not slowed, and it does
  // not make the next guesses at other logins fast again.
  auto [own, ownIn] = timedLogin("guesser", "guesser-pw1");
  EXPECT_TRUE(ownIn);
  EXPECT_LT(own + 0.3, failures[6]);
  auto [guess, guessIn] = timedLogin("sa", "wrong");
  std::printf("  own login %.3f s, the next guess %.3f s\n", own, guess);
  EXPECT_FALSE(guessIn);
  EXPECT_GE(guess, 0.75);
}

TEST(Limits, ACorrectLoginForgetsItsOwnFailedAttempts) {
  ServerFixture server;
  double last = 0;
  for (int i = 0; i < 7; ++i) {
    auto [seconds, in] = timedLogin("sa", "mistyped");
    ASSERT_FALSE(in);
    last = seconds;
  }
  EXPECT_GE(last, 0.75);
  auto [correct, in] = timedLogin("sa", "");
  EXPECT_TRUE(in);
  EXPECT_LT(correct + 0.3, last);
  // The mistakes are forgotten: the next one is answered at once.
  auto [again, in2] = timedLogin("sa", "mistyped");
  std::printf("  last failure %.3f s, correct login %.3f s, next failure %.3f s\n", last, correct, again);
  EXPECT_FALSE(in2);
  EXPECT_LT(again + 0.3, last);
}

// Guesses sent side by side on several connections: once a name has failed a few times, its
// attempts have their passwords checked one per delay, so the right password sent beside a guess
// is not answered before the guess's turn is over; one whose turn is too far off is turned away
// unchecked and at once (no thread is kept waiting for it). Another name from the same address is
// not slowed.
TEST(Limits, GuessesSentSideBySideAtOneNameAreCheckedOneAfterAnother) {
  ServerFixture server;
  {
    CtClient sa;
    ASSERT_TRUE(sa.connect());
    ASSERT_EQ(errorOf(sa.run("exec sp_addlogin target, 'target-pw1'")), 0);
  }
  {
    // A pool of connections logging in at once with the right password is not paced.
    std::vector<std::future<std::pair<double, bool>>> pool;
    for (int i = 0; i < 12; ++i)
      pool.push_back(std::async(std::launch::async, [] { return timedLogin("target", "target-pw1"); }));
    for (auto& f : pool) {
      auto [took, in] = f.get();
      EXPECT_TRUE(in);
      EXPECT_LT(took, 2.0);
    }
  }
  for (int i = 0; i < 6; ++i) ASSERT_FALSE(timedLogin("target", "wrong").second);
  // A guess takes its turn (the next one is 0.8 s later) and is answered after its delay.
  auto guess = std::async(std::launch::async, [] { return timedLogin("target", "wrong-again"); });
  std::this_thread::sleep_for(300ms);
  auto other = std::async(std::launch::async, [] { return timedLogin("sa", ""); });
  auto [right, rightIn] = timedLogin("target", "target-pw1");
  auto [otherTook, otherIn] = other.get();
  auto [guessTook, guessIn] = guess.get();
  std::printf("  guess %.3f s, the right password beside it %.3f s, another login %.3f s\n", guessTook, right,
              otherTook);
  EXPECT_FALSE(guessIn);
  EXPECT_TRUE(rightIn);
  EXPECT_TRUE(otherIn);
  // The right password waited for the guess's turn to pass (0.5 s after it was sent), more than
  // the correct login of another name took, which waited for nothing.
  EXPECT_GE(right, 0.4);
  EXPECT_LT(otherTook + 0.3, right);

  // The name has failed 7 times and then logged in, which forgot them: build the count up again
  // to the longest delay, then send three at once. The first two get turns 3 s apart; the third
  // would wait more than 3 s and is turned away without its password being checked, right
  // though it is.
  for (int i = 0; i < 8; ++i) ASSERT_FALSE(timedLogin("target", "wrong").second);
  auto first = std::async(std::launch::async, [] { return timedLogin("target", "wrong"); });
  std::this_thread::sleep_for(300ms);
  auto second = std::async(std::launch::async, [] { return timedLogin("target", "wrong"); });
  std::this_thread::sleep_for(300ms);
  auto [third, thirdIn] = timedLogin("target", "target-pw1");
  std::printf("  third of a burst: %.3f s, %s\n", third, thirdIn ? "let in" : "turned away");
  EXPECT_FALSE(thirdIn);
  // Turned away at once: no thread waits for a turn that far off.
  EXPECT_LT(third, 2.0);
  EXPECT_FALSE(first.get().second);
  EXPECT_FALSE(second.get().second);
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
      // A known option with a value it does not take is refused too, and changes nothing.
      {"set dateformat xyz", 2741},
      {"set dateformat DMY", 0},
  };
  for (const auto& k : cases) EXPECT_EQ(errorOf(c.run(k.sql)), k.error) << k.sql;
  EXPECT_EQ(scalar(c, "set dateformat nonsense select convert(char(11), convert(datetime, '01/02/03'), 106)"),
            "error 2741: SET DATEFORMAT date order 'nonsense' not supported.");
  EXPECT_EQ(scalar(c, "select convert(char(11), convert(datetime, '01/02/03'), 106)"), "01 Feb 2003");
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
