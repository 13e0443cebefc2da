// Every classic datatype round-trips through the server and FreeTDS: a value stored into a column
// of that type and read back arrives unchanged, at its extremes too, and NULL arrives as NULL.
// Values are compared as FreeTDS converts them to text; dates are read natively and shown as ISO
// text with milliseconds, so the 1/300 s ticks are checked too.
#include <gtest/gtest.h>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

using tabtest::CtClient;
using tabtest::ServerFixture;

struct TypeCase {
  const char* name;
  const char* type;
  const char* literal;   // as written in the INSERT
  const char* expected;  // as FreeTDS renders it
};

const TypeCase kCases[] = {
    {"tinyint_min", "tinyint", "0", "0"},
    {"tinyint_max", "tinyint", "255", "255"},
    {"smallint_min", "smallint", "-32768", "-32768"},
    {"smallint_max", "smallint", "32767", "32767"},
    {"int_min", "int", "-2147483648", "-2147483648"},
    {"int_max", "int", "2147483647", "2147483647"},
    {"real", "real", "3.5", "3.5"},
    {"float_small", "float", "-0.125", "-0.125"},
    {"float_large", "float", "1e300", "1.0000000000000001e+300"},  // 17 digits: the same double
    {"bit_one", "bit", "1", "1"},
    {"bit_zero", "bit", "0", "0"},
    {"char_nullable", "char(5)", "'ab'", "ab"},  // a nullable char is stored as varchar: no padding
    {"varchar", "varchar(20)", "'hello world'", "hello world"},
    {"varchar_utf8", "varchar(20)", "'grüße'", "grüße"},
    {"varchar_long", "varchar(400)", "replicate('x', 400)", nullptr},
    {"binary", "binary(4)", "0x01020a0b", "01020a0b"},
    {"varbinary", "varbinary(10)", "0xdeadbeef", "deadbeef"},
    {"datetime_min", "datetime", "'1753-01-01 00:00:00.000'", "1753-01-01 00:00:00.000"},
    {"datetime_max", "datetime", "'9999-12-31 23:59:59.997'", "9999-12-31 23:59:59.997"},
    {"smalldatetime_min", "smalldatetime", "'1900-01-01 00:00'", "1900-01-01 00:00:00.000"},
    {"smalldatetime_max", "smalldatetime", "'2079-06-06 23:59'", "2079-06-06 23:59:00.000"},
    {"money_min", "money", "-922337203685477.5808", "-922337203685477.5808"},
    {"money_max", "money", "922337203685477.5807", "922337203685477.5807"},
    {"smallmoney_min", "smallmoney", "-214748.3648", "-214748.3648"},
    {"smallmoney_max", "smallmoney", "214748.3647", "214748.3647"},
    {"numeric_38", "numeric(38,0)", "99999999999999999999999999999999999999",
     "99999999999999999999999999999999999999"},
    {"numeric_scaled", "numeric(10,4)", "-123456.7891", "-123456.7891"},
    {"decimal", "decimal(18,2)", "1234567890123456.78", "1234567890123456.78"},
    {"text", "text", "'some text'", "some text"},
    {"image", "image", "0x00ff10", "00ff10"},
};

class TypeRoundTrip : public ::testing::TestWithParam<TypeCase> {
 protected:
  static void SetUpTestSuite() {
    server_ = new ServerFixture();
    client_ = new CtClient();
    ASSERT_TRUE(client_->connect());
    client_->setIsoDates(true);
  }
  static void TearDownTestSuite() {
    delete client_;
    delete server_;
  }
  static ServerFixture* server_;
  static CtClient* client_;
};
ServerFixture* TypeRoundTrip::server_ = nullptr;
CtClient* TypeRoundTrip::client_ = nullptr;

TEST_P(TypeRoundTrip, ValueAndNullArriveUnchanged) {
  const TypeCase& c = GetParam();
  const std::string table = std::string("sample..rt_") + c.name;
  auto created = client_->run("create table " + table + " (k int not null, v " + c.type + " null)");
  ASSERT_FALSE(created.firstError()) << created.firstError()->text;
  auto inserted = client_->run("insert " + table + " values (1, " + c.literal + ") insert " + table +
                               " values (2, null)");
  ASSERT_FALSE(inserted.firstError()) << inserted.firstError()->text;
  auto batch = client_->run("select v from " + table + " order by k");
  ASSERT_FALSE(batch.firstError()) << batch.firstError()->text;
  ASSERT_EQ(batch.sets.size(), 1u);
  ASSERT_EQ(batch.sets[0].rows.size(), 2u);
  ASSERT_TRUE(batch.sets[0].rows[0][0].has_value());
  const std::string expected = c.expected ? c.expected : std::string(400, 'x');
  EXPECT_EQ(*batch.sets[0].rows[0][0], expected);
  EXPECT_FALSE(batch.sets[0].rows[1][0].has_value()) << "NULL arrived as " << *batch.sets[0].rows[1][0];
}

TEST(TypeFormats, FixedCharIsPaddedAndCharCompareIgnoresTrailingBlanks) {
  ServerFixture server;
  CtClient c;
  ASSERT_TRUE(c.connect());
  ASSERT_FALSE(c.run("create table sample..fixed (v char(5) not null)").firstError());
  ASSERT_FALSE(c.run("insert sample..fixed values ('ab')").firstError());
  auto batch = c.run("select v, char_length(v) from sample..fixed where v = 'ab'");
  ASSERT_EQ(batch.sets.size(), 1u);
  ASSERT_EQ(batch.sets[0].rows.size(), 1u);
  EXPECT_EQ(*batch.sets[0].rows[0][0], "ab   ");
}

INSTANTIATE_TEST_SUITE_P(EveryClassicType, TypeRoundTrip, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TypeFormats, IntegerResultsAreNeverEightByteIntegers) {
  ServerFixture server;
  CtClient c;
  ASSERT_TRUE(c.connect());
  auto batch = c.run("select count(*), sum(dbid), 1 + 2 from master..sysdatabases");
  ASSERT_EQ(batch.sets.size(), 1u);
  for (int type : batch.sets[0].types) EXPECT_NE(type, 30 /* CS_BIGINT_TYPE */);
}

}  // namespace
