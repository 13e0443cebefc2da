// Login record parsing: the fields FreeTDS fills in, passwords past the 30-byte field, length
// bytes that claim more than their field holds, and records too short to parse.
#include "server/tds/login_record.h"

#include <gtest/gtest.h>

#include "server/tds/protocol_error.h"
#include "tests/server/tds/wire_fixture.h"

namespace {

using tabsrv::Bytes;
using tabsrv::tds::parseLoginRecord;
using tabtest::LoginFields;

TEST(LoginRecord, ReadsEveryFieldFreeTdsSends) {
  LoginFields f;
  f.packetSize = "2048";
  auto rec = parseLoginRecord(tabtest::loginRecord(f));
  EXPECT_EQ(rec.request.host, "testhost");
  EXPECT_EQ(rec.request.user, "sa");
  EXPECT_EQ(rec.request.password, "secret");
  EXPECT_EQ(rec.request.hostProcess, "4242");
  EXPECT_EQ(rec.request.appName, "tabtest");
  EXPECT_EQ(rec.request.serverName, "TEST");
  EXPECT_EQ(rec.request.language, "us_english");
  EXPECT_EQ(rec.request.charset, "");
  EXPECT_EQ(rec.request.packetSize, 2048);
  EXPECT_EQ(rec.libraryName, "CT-Library");
  EXPECT_EQ(tabtest::hexBytes(rec.requestCaps), "00 00 60 08 81 81 e8 0f 6d 7f ff ff ff fe");
  EXPECT_EQ(rec.responseCaps.size(), 14u);
}

TEST(LoginRecord, PasswordsComeFromTheRemoteBlockWhenLong) {
  struct Case {
    const char* name;
    std::string password;
  } cases[] = {
      {"empty", ""},
      {"short", "pw"},
      {"thirty", std::string(30, 'a')},
      {"thirty-one", std::string(31, 'b')},
      {"max", std::string(253, 'c')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoginFields f;
    f.password = c.password;
    EXPECT_EQ(parseLoginRecord(tabtest::loginRecord(f)).request.password, c.password);
  }
}

TEST(LoginRecord, LengthBytesNeverReachPastTheirField) {
  Bytes rec = tabtest::loginRecord();
  rec[61] = 200;  // user name length claims 200 bytes of a 30-byte field
  rec[30] = 255;  // host name too
  rec[563] = 99;  // packet size text
  auto parsed = parseLoginRecord(rec);
  EXPECT_EQ(parsed.request.user, "sa");  // stops at the NUL padding within the field
  EXPECT_LE(parsed.request.host.size(), 30u);
  EXPECT_EQ(parsed.request.packetSize, 512);
  rec[61] = 200;
  std::fill(rec.begin() + 31, rec.begin() + 61, 'u');
  EXPECT_EQ(parseLoginRecord(rec).request.user, std::string(30, 'u'));
}

TEST(LoginRecord, PacketSizeIsKeptWithinLimits) {
  struct Case {
    const char* text;
    int expected;
  } cases[] = {{"512", 512}, {"2048", 2048}, {"100", 512}, {"99999", 65535}, {"", 512}, {"abc", 512}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    LoginFields f;
    f.packetSize = c.text;
    EXPECT_EQ(parseLoginRecord(tabtest::loginRecord(f)).request.packetSize, c.expected);
  }
}

TEST(LoginRecord, ShortRecordIsABadPacketAndMissingCapabilitiesAreFine) {
  Bytes rec = tabtest::loginRecord();
  rec.resize(300);
  EXPECT_THROW(parseLoginRecord(rec), tabsrv::tds::ProtocolError);
  LoginFields f;
  f.capabilities = false;
  Bytes noCaps = tabtest::loginRecord(f);
  noCaps.resize(568);
  EXPECT_TRUE(parseLoginRecord(noCaps).requestCaps.empty());
}

}  // namespace
