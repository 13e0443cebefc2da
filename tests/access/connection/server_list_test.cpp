// The set-up with only freetds.conf (FREETDSCONF, no SYBASE): a new connection component offers
// the servers of that file, and one of them logs in by its name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "access/QorixContext.h"
#include "tests/access/connection/connection_support.h"

using conntest::SaDatabase;

namespace {

TEST(ServerListTest, WithoutAnInterfacesFileTheFreeTdsServersAreOffered) {
  conntest::Server();  // writes freetds.conf with DSQUERY and TABULON and names it in FREETDSCONF
  const char* sybase = std::getenv("SYBASE");
  const std::string saved = sybase ? sybase : "";
  unsetenv("SYBASE");
  {
    auto db = SaDatabase();
    EXPECT_EQ(db->ServerList, (QStringList{"DSQUERY", "TABULON"}));
    db->ServerName = QStringLiteral("TABULON");
    db->Connect();
    EXPECT_TRUE(db->Connected());
  }
  if (!saved.empty()) setenv("SYBASE", saved.c_str(), 1);
}

}  // namespace
