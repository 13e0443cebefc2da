// The trace lines a connection sends to the SQL monitor: login, "Connected", transaction
// statements and logout, only with Monitor on and an owner.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/access/connection/connection_support.h"
#include "tests/support/monitor_lines.h"

namespace {

// The monitor's lines under a window title of this process's own.
struct LineReceiver : tabtest::MonitorLines {
  LineReceiver() : MonitorLines(QStringLiteral("Stelvane-conn-%1").arg(::getpid())) {}
};

TEST(MonitorLinesTest, LoginTransactionsAndLogoutAreTraced) {
  LineReceiver rx;
  ASSERT_TRUE(rx.bound());
  TComponent owner;
  auto db = conntest::SaDatabase();
  db->Monitor = true;
  db->Connect();
  db->Disconnect();
  // Without an owner nothing is sent.
  EXPECT_TRUE(rx.LinesUntilEnd().empty());

  TQorixDatabase* owned = new TQorixDatabase(&owner);
  owned->LoginPrompt = false;
  owned->UserName = QStringLiteral("sa");
  owned->ShowDbMessages = TShowDbMessages{smDbErr};
  owned->Monitor = true;
  owned->Connect();
  owned->BeginTran(QStringLiteral("t1"));
  owned->CommitTran(QStringLiteral("t1"));
  owned->Disconnect();
  EXPECT_EQ(rx.LinesUntilEnd(), (std::vector<std::string>{
                                    "SQL Connect: UserName = sa, ServerName = DSQUERY, DbName = master",
                                    "Connected",
                                    "BEGIN TRAN t1",
                                    "COMMIT TRAN t1",
                                    "SQL DisConnect: UserName = sa, ServerName = DSQUERY, DbName = master",
                                }));
  owned->Monitor = false;
  owned->Connect();
  EXPECT_TRUE(rx.LinesUntilEnd().empty());
}

}  // namespace
