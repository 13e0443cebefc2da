// The built-in system procedures through the Session interface where a second login is needed:
// sp_password by sa for another login, and what a login that is not sa may and may not change.
#include <gtest/gtest.h>

#include "recording_sink.h"

namespace tabtest {
namespace {

using PasswordChange = EngineTest;

TEST_F(PasswordChange, SaSetsAnotherLoginsPasswordAndTheLoginUsesIt) {
  RecordingSink s = run("sp_password null, 'clerkpw1', clerk");
  EXPECT_EQ(s.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(s.messages.size(), 1u);
  EXPECT_EQ(s.messages[0].text, "Password correctly set.");
  EXPECT_EQ(loginAs("clerk", "wrong"), nullptr);
  auto clerk = loginAs("clerk", "clerkpw1");
  ASSERT_NE(clerk, nullptr);

  // The clerk may not touch sa's password, and needs its own current one for its own.
  EXPECT_EQ(run("sp_password 'clerkpw1', 'mine', 'sa'", clerk.get()).errorNumbers(), std::vector<int>{10305});
  EXPECT_EQ(run("sp_password 'nope', 'clerkpw2'", clerk.get()).errorNumbers(), std::vector<int>{10316});
  EXPECT_NE(loginAs("clerk", "clerkpw1"), nullptr);
  EXPECT_EQ(run("sp_password 'clerkpw1', 'clerkpw2', ''", clerk.get()).errorNumbers(), std::vector<int>{});
  EXPECT_EQ(loginAs("clerk", "clerkpw1"), nullptr);
  EXPECT_NE(loginAs("clerk", "clerkpw2"), nullptr);
  // sa's own password is still empty.
  EXPECT_NE(loginAs("sa", ""), nullptr);
}

TEST_F(PasswordChange, RefusedCallReturnsStatusOneAndTheBatchGoesOn) {
  RecordingSink s = run("declare @rc int exec @rc = sp_password 'bad', 'x' select @rc");
  EXPECT_EQ(s.errorNumbers(), std::vector<int>{10316});
  ASSERT_FALSE(s.sets.empty());
  EXPECT_EQ(show(s.sets.back().rows.at(0).at(0), s.sets.back().columns.at(0).type), "1");
}

}  // namespace
}  // namespace tabtest
