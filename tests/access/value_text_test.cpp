// The texts the engines and the grid write for values bound in their own types: the same
// text FreeTDS's character conversion gives, for values past the ones the check uses.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "access/ValueText.h"

namespace {

using valuetext::Kind;

template <class T>
std::string Bytes(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

CS_MONEY Money(long long v) {
  CS_MONEY m;
  m.mnyhigh = static_cast<CS_INT>(v >> 32);
  m.mnylow = static_cast<CS_UINT>(v & 0xffffffffu);
  return m;
}

CS_NUMERIC Numeric(int precision, int scale, bool negative, unsigned long long magnitude) {
  CS_NUMERIC n{};
  n.precision = static_cast<CS_BYTE>(precision);
  n.scale = static_cast<CS_BYTE>(scale);
  n.array[0] = negative ? 1 : 0;
  // Big-endian magnitude in the bytes a numeric of this precision takes.
  int bytes = 0;
  for (
      unsigned __int128 span = 1, limit =
                                      [&] {
                                        unsigned __int128 l = 1;
                                        for (int i = 0; i < precision; ++i) l *= 10;
                                        return l;
                                      }();
      span < limit && bytes < 16; span <<= 8)
    ++bytes;
  for (int i = bytes; i >= 1; --i, magnitude >>= 8) n.array[i] = static_cast<CS_BYTE>(magnitude & 0xff);
  return n;
}

CS_DATETIME DateTime(CS_INT days, CS_INT ticks) {
  CS_DATETIME d;
  d.dtdays = days;
  d.dttime = ticks;
  return d;
}

CS_DATETIME4 DateTime4(int days, int minutes) {
  CS_DATETIME4 d;
  d.days = static_cast<CS_USHORT>(days);
  d.minutes = static_cast<CS_USHORT>(minutes);
  return d;
}

TEST(ValueText, WritesFreeTdsTextsOfEveryKind) {
  CS_CONTEXT* ctx = nullptr;
  ASSERT_EQ(ctlib::cs_ctx_alloc(CS_VERSION_110, &ctx), CS_SUCCEED);
  const struct {
    const char* name;
    Kind kind;
    CS_INT type;  // the bound type
    std::string bytes;
    const char* text;  // in the C locale
    int precision = 0, scale = 0;
  } cases[] = {
      {"int", Kind::Int, CS_INT_TYPE, Bytes(CS_INT{-42}), "-42"},
      {"int min", Kind::Int, CS_INT_TYPE, Bytes(CS_INT{INT_MIN}), "-2147483648"},
      {"float third", Kind::Float, CS_FLOAT_TYPE, Bytes(CS_FLOAT{1.0 / 3}), "0.33333333333333331"},
      {"float large", Kind::Float, CS_FLOAT_TYPE, Bytes(CS_FLOAT{-1.5e100}), "-1.4999999999999999e+100"},
      {"float whole", Kind::Float, CS_FLOAT_TYPE, Bytes(CS_FLOAT{100.0}), "100"},
      {"real", Kind::Real, CS_REAL_TYPE, Bytes(CS_REAL{0.2f}), "0.200000003"},
      {"real max", Kind::Real, CS_REAL_TYPE, Bytes(CS_REAL{3.4028235e38f}), "3.40282347e+38"},
      {"money cents", Kind::Money, CS_MONEY_TYPE, Bytes(Money(-1)), "-0.0001"},
      {"money max", Kind::Money, CS_MONEY_TYPE, Bytes(Money(LLONG_MAX)), "922337203685477.5807"},
      {"money4", Kind::Money4, CS_MONEY4_TYPE, Bytes(CS_MONEY4{-2147483647}), "-214748.3647"},
      {"numeric", Kind::Numeric, CS_NUMERIC_TYPE, Bytes(Numeric(10, 4, true, 12345)), "-1.2345", 10, 4},
      {"numeric all scale", Kind::Numeric, CS_NUMERIC_TYPE, Bytes(Numeric(3, 3, false, 5)), "0.005", 3, 3},
      {"numeric no scale", Kind::Numeric, CS_NUMERIC_TYPE,
       Bytes(Numeric(18, 0, false, 999999999999999999ull)), "999999999999999999", 18, 0},
      {"datetime noon", Kind::DateTime, CS_DATETIME_TYPE, Bytes(DateTime(45354, 12 * 3600 * 300)),
       "Mar  5 2024 12:00PM"},
      {"datetime midnight", Kind::DateTime, CS_DATETIME_TYPE, Bytes(DateTime(36890, 0)),
       "Jan  1 2001 12:00AM"},
      {"datetime last", Kind::DateTime, CS_DATETIME_TYPE, Bytes(DateTime(2958463, 25919999)),
       "Dec 31 9999 11:59PM"},
      {"datetime leap day", Kind::DateTime, CS_DATETIME_TYPE, Bytes(DateTime(36583, 300 * 60)),
       "Feb 29 2000 12:01AM"},
      {"smalldatetime", Kind::DateTime4, CS_DATETIME4_TYPE, Bytes(DateTime4(65535, 1439)),
       "Jun  6 2079 11:59PM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    char out[128];
    const char* end = valuetext::Write(c.kind, c.bytes.data(), out);
    ASSERT_NE(end, nullptr);
    const std::string ours(out, static_cast<size_t>(end - out));
    EXPECT_EQ(ours, c.text);
    EXPECT_EQ(ours, valuetext::Convert(ctx, c.type, c.bytes.data(), static_cast<int>(c.bytes.size()),
                                       c.precision, c.scale));
  }
  // Values the writer leaves to FreeTDS.
  CS_NUMERIC wide{};
  wide.precision = 39;
  EXPECT_EQ(valuetext::Write(Kind::Numeric, &wide, nullptr), nullptr);
  const CS_DATETIME before = DateTime(0, -1);
  char out[128];
  EXPECT_EQ(valuetext::Write(Kind::DateTime, &before, out), nullptr);
  EXPECT_EQ(valuetext::Write(Kind::Text, "x", out), nullptr);
  ctlib::cs_ctx_drop(ctx);
}

// A datetime's 1/300-second ticks shown as milliseconds the way the server family shows them
// (ticks * 10 / 3 rounded half up), and back to the same tick count.
TEST(ValueText, TicksRoundToTheFamilysMilliseconds) {
  struct Case {
    const char* name;
    int64_t ticks;
    int64_t milliseconds;
  };
  const Case cases[] = {
      {"no ticks", 0, 0},
      {"one tick", 1, 3},
      {"two ticks round up", 2, 7},
      {"three ticks", 3, 10},
      {"last tick of a second", 299, 997},
      {"first tick of a second", 300, 1000},
      {"second and a third", 301, 1003},
      {"last tick of a day", 86400 * 300 - 1, 86399997},
      {"negative counts as none", -5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(valuetext::MillisecondsOfTicks(c.ticks), c.milliseconds);
    if (c.ticks >= 0) {
      EXPECT_EQ(valuetext::TicksOfMilliseconds(c.milliseconds), c.ticks);
    }
  }
  // Every tick of a second reaches the same tick again, and every millisecond the nearest tick.
  for (int64_t t = 0; t < 300; ++t) EXPECT_EQ(valuetext::TicksOfMilliseconds(valuetext::MillisecondsOfTicks(t)), t) << t;
  for (int64_t ms = 0; ms < 1000; ++ms)
    EXPECT_LE(std::abs(valuetext::MillisecondsOfTicks(valuetext::TicksOfMilliseconds(ms)) - ms), 2) << ms;
  // Half a tick (5 ms is 1.5 ticks) goes up.
  EXPECT_EQ(valuetext::TicksOfMilliseconds(5), 2);
}

}  // namespace
