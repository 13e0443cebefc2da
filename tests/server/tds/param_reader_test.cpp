// Parameter decoding: every classic type as clients put it on the wire (FreeTDS's N types,
// other clients' fixed types, a 2-byte BITN boolean, an empty string sent as one space), NULLs,
// the output flag, PARAMFMT2, and the malformed forms that must end the session.
#include "server/tds/param_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/server/tds/wire_fixture.h"

namespace {

using namespace tabsrv;
using namespace tabsrv::tds;
using tabtest::WireParam;

std::vector<ParamValue> decode(const Bytes& bytes) {
  ByteReader in(bytes);
  EXPECT_TRUE(paramsFollow(in));
  std::vector<ParamValue> params = readParams(in);
  EXPECT_TRUE(in.atEnd());
  return params;
}

Bytes le(uint64_t v, int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return b;
}

Bytes withLen(const Bytes& v) {
  Bytes b = {static_cast<uint8_t>(v.size())};
  b.insert(b.end(), v.begin(), v.end());
  return b;
}

Bytes doubleBytes(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return le(bits, 8);
}

struct TypeCase {
  const char* name;
  WireParam param;
  SqlType type;
  int32_t length;
  Value value;
};

TEST(ParamReader, EveryClassicTypeDecodesToItsValue) {
  const Bytes ptr(16, 0xAB), stamp(8, 0xCD);
  auto blob = [&](const std::string& data) {
    Bytes b = {16};
    b.insert(b.end(), ptr.begin(), ptr.end());
    b.insert(b.end(), stamp.begin(), stamp.end());
    Bytes n = le(data.size(), 4);
    b.insert(b.end(), n.begin(), n.end());
    b.insert(b.end(), data.begin(), data.end());
    return b;
  };
  const TypeCase cases[] = {
      {"intn 4",
       {"@a", 0, 0x26, {4}, withLen(le(static_cast<uint32_t>(-7), 4))},
       SqlType::Int,
       4,
       int64_t{-7}},
      {"intn 2",
       {"@a", 0, 0x26, {2}, withLen(le(static_cast<uint16_t>(-32768), 2))},
       SqlType::SmallInt,
       2,
       int64_t{-32768}},
      {"intn 1", {"@a", 0, 0x26, {1}, withLen({255})}, SqlType::TinyInt, 1, int64_t{255}},
      {"intn 8 as numeric(19)",
       {"@a", 0, 0x26, {8}, withLen(le(static_cast<uint64_t>(-5000000000LL), 8))},
       SqlType::Numeric,
       9,
       Decimal{-5000000000LL, 0}},
      {"intn NULL keeps its size", {"@a", 0, 0x26, {2}, {0}}, SqlType::SmallInt, 2, std::monostate{}},
      {"fixed int", {"@a", 0, 0x38, {}, le(0x7fffffff, 4)}, SqlType::Int, 4, int64_t{0x7fffffff}},
      {"fixed smallint", {"@a", 0, 0x34, {}, le(0xffff, 2)}, SqlType::SmallInt, 2, int64_t{-1}},
      {"fixed bit", {"@a", 0, 0x32, {}, {1}}, SqlType::Bit, 1, int64_t{1}},
      {"bitn, two bytes", {"@a", 0, 0x68, {1}, {1, 1}}, SqlType::Bit, 1, int64_t{1}},
      {"bitn NULL", {"@a", 0, 0x68, {1}, {0}}, SqlType::Bit, 1, std::monostate{}},
      {"fltn 8", {"@a", 0, 0x6D, {8}, withLen(doubleBytes(-2.5e100))}, SqlType::Float, 8, -2.5e100},
      {"fltn 4", {"@a", 0, 0x6D, {4}, withLen({0x00, 0x00, 0xC0, 0x3F})}, SqlType::Real, 4, 1.5},
      // money: high word first: -1.0000 = -10000 = 0xFFFFFFFF_FFFFD8F0.
      {"moneyn 8",
       {"@a", 0, 0x6E, {8}, withLen({0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0xD8, 0xFF, 0xFF})},
       SqlType::Money,
       8,
       Decimal{-10000, 4}},
      {"moneyn 4", {"@a", 0, 0x6E, {4}, withLen(le(123456, 4))}, SqlType::SmallMoney, 4, Decimal{123456, 4}},
      {"datetimn 8",
       {"@a", 0, 0x6F, {8}, withLen({0x9C, 0x8E, 0x00, 0x00, 0x96, 0x3F, 0x10, 0x00})},
       SqlType::DateTime,
       8,
       DateTime{36508, 1064854}},
      {"datetimn 4",
       {"@a", 0, 0x6F, {4}, withLen({0x9D, 0x8E, 0x5A, 0x00})},
       SqlType::SmallDateTime,
       4,
       DateTime{36509, 90 * 18000}},
      {"numeric negative",
       {"@a", 0, 0x6C, {6, 10, 2}, {6, 1, 0x00, 0x00, 0xBC, 0x61, 0x4E}},
       SqlType::Numeric,
       6,
       Decimal{-12345678, 2}},
      {"decimal NULL", {"@a", 0, 0x6A, {17, 38, 0}, {0}}, SqlType::Decimal, 17, std::monostate{}},
      {"char at its max length",
       {"@a", 0, 0x2F, {5}, withLen({'a', 'b'})},
       SqlType::Char,
       5,
       std::string("ab")},
      {"varchar utf-8",
       {"@b", 0, 0x27, {20}, withLen({'h', 0xC3, 0xA9})},
       SqlType::VarChar,
       20,
       std::string("h\xC3\xA9")},
      {"empty string as one space", {"@b", 0, 0x27, {30}, {1, ' '}}, SqlType::VarChar, 30, std::string(" ")},
      {"varchar NULL", {"@b", 0, 0x27, {30}, {0}}, SqlType::VarChar, 30, std::monostate{}},
      {"binary", {"@c", 0, 0x2D, {3}, withLen({0, 1, 2})}, SqlType::Binary, 3, Bytes{0, 1, 2}},
      {"varbinary", {"@c", 0, 0x25, {10}, withLen({0xDE, 0xAD})}, SqlType::VarBinary, 10, Bytes{0xDE, 0xAD}},
      {"longchar",
       {"@d", 0, 0xAF, le(1000, 4),
        [] {
          Bytes b = le(300, 4);
          b.insert(b.end(), 300, 'x');
          return b;
        }()},
       SqlType::VarChar,
       1000,
       std::string(300, 'x')},
      {"longbinary NULL", {"@d", 0, 0xE1, le(1000, 4), le(0, 4)}, SqlType::VarBinary, 1000, std::monostate{}},
      {"text",
       {"@t", 0, 0x23, {0xFF, 0xFF, 0xFF, 0x7F, 0, 0}, blob("some text")},
       SqlType::Text,
       0x7fffffff,
       std::string("some text")},
      {"image with NULs",
       {"@i", 0, 0x22, {0xFF, 0xFF, 0xFF, 0x7F, 0, 0}, blob(std::string("\0\1\0", 3))},
       SqlType::Image,
       0x7fffffff,
       Bytes{0, 1, 0}},
      {"text NULL",
       {"@t", 0, 0x23, {0xFF, 0xFF, 0xFF, 0x7F, 0, 0}, {0}},
       SqlType::Text,
       0x7fffffff,
       std::monostate{}},
  };
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto params = decode(tabtest::paramTokens({c.param}));
    ASSERT_EQ(params.size(), 1u);
    EXPECT_EQ(params[0].name, c.param.name);
    EXPECT_EQ(params[0].format.name, c.param.name);
    EXPECT_EQ(params[0].format.type.type, c.type);
    EXPECT_EQ(params[0].format.type.length, c.length);
    EXPECT_TRUE(params[0].format.nullable);
    EXPECT_FALSE(params[0].output);
    EXPECT_TRUE(params[0].value == c.value);
  }
}

TEST(ParamReader, NamesOutputFlagsAndOrderSurvive) {
  const std::vector<WireParam> params = {
      {"@a", 0, 0x26, {4}, withLen(le(1, 4))},
      {"", 0, 0x27, {10}, withLen({'x'})},
      {"@out", 1, 0x26, {4}, {0}},
  };
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "PARAMFMT2" : "PARAMFMT");
    auto decoded = decode(tabtest::paramTokens(params, wide));
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_EQ(decoded[0].name, "@a");
    EXPECT_EQ(decoded[1].name, "");
    EXPECT_EQ(decoded[2].name, "@out");
    EXPECT_FALSE(decoded[0].output);
    EXPECT_TRUE(decoded[2].output);
    EXPECT_TRUE(decoded[0].value == Value(int64_t{1}));
    EXPECT_TRUE(decoded[1].value == Value(std::string("x")));
    EXPECT_TRUE(isNull(decoded[2].value));
  }
}

TEST(ParamReader, MalformedParametersAreProtocolErrors) {
  const Bytes good = tabtest::paramTokens({{"@a", 0, 0x26, {4}, withLen(le(1, 4))}});
  auto cut = [&](size_t n) { return Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)); };
  Bytes longFormat = good;
  longFormat[1] = 0x40;  // format length past the message
  Bytes shortFormat = good;
  shortFormat[1] -= 1;  // format length ends inside the last entry
  Bytes noValues = good;
  noValues[good.size() - 6] = 0xD1;  // ROW instead of PARAMS
  struct Case {
    const char* name;
    Bytes bytes;
    const char* what;
  } cases[] = {
      {"cut inside the format", cut(8), "does not fit"},
      {"cut before the values", cut(good.size() - 6), "without parameter values"},
      {"cut inside a value", cut(good.size() - 2), "ends early"},
      {"format length past the message", longFormat, "does not fit"},
      {"format length disagrees", shortFormat, "disagrees"},
      {"no PARAMS token", noValues, "without parameter values"},
      {"unknown type", tabtest::paramTokens({{"@a", 0, 0x99, {}, {}}}), "unknown parameter type 0x99"},
      {"numeric precision 0", tabtest::paramTokens({{"@a", 0, 0x6C, {1, 0, 0}, {0}}}), "precision 0"},
      {"numeric scale above precision", tabtest::paramTokens({{"@a", 0, 0x6C, {2, 2, 3}, {0}}}), "scale 3"},
      {"intn of three bytes", tabtest::paramTokens({{"@a", 0, 0x26, {4}, {3, 1, 2, 3}}}),
       "integer parameter of 3"},
      {"numeric wider than 38 digits",
       tabtest::paramTokens({{"@a", 0, 0x6C, {17, 38, 0}, withLen(Bytes(20, 0xFF))}}), "38 digits"},
      {"longchar length past the message", tabtest::paramTokens({{"@a", 0, 0xAF, le(10, 4), le(1000000, 4)}}),
       "runs past"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ByteReader in(c.bytes);
    try {
      readParams(in);
      ADD_FAILURE() << "no error";
    } catch (const ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.what), std::string::npos) << e.what();
    }
  }
}

}  // namespace
