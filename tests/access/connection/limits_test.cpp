// The context's MaxConnect bounds the connections open at once: one past the limit is refused
// with the library's text, and closing one makes room again.
#include <gtest/gtest.h>

#include "access/QorixContext.h"
#include "access/QorixExceptions.h"
#include "tests/access/connection/connection_support.h"

using conntest::SaDatabase;

namespace {

const char* const kLimitText = "The maximum number of connections have already been opened";

TEST(ConnectionLimit, AConnectionPastMaxConnectIsRefusedUntilOneCloses) {
  auto a = SaDatabase(QStringLiteral("db_a"));
  auto b = SaDatabase(QStringLiteral("db_b"));
  auto c = SaDatabase(QStringLiteral("db_c"));
  a->Connect();
  ASSERT_TRUE(a->Connected());
  a->SetMaxConnect(2);
  EXPECT_EQ(a->MaxConnect(), 2);
  b->Connect();
  EXPECT_TRUE(b->Connected());
  try {
    c->Connect();
    ADD_FAILURE() << "a third connection opened under MaxConnect 2";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.Message().contains(QLatin1String(kLimitText))) << e.Message().toStdString();
  }
  EXPECT_FALSE(c->Connected());
  EXPECT_EQ(c->ConnectionHandle(), nullptr);
  // Without ConnectError the text is stored.
  c->ConnectError = false;
  c->Connect();
  EXPECT_FALSE(c->Connected());
  EXPECT_TRUE(c->LastError().contains(QLatin1String(kLimitText))) << c->LastError().toStdString();
  a->Disconnect();
  c->ConnectError = true;
  c->Connect();
  EXPECT_TRUE(c->Connected());
  // Raising the limit lets the first one back in.
  c->SetMaxConnect(3);
  a->Connect();
  EXPECT_TRUE(a->Connected());
  c->SetMaxConnect(25);
}

}  // namespace
