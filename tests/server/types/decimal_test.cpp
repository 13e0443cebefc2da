// Decimal parsing, canonical text, rounding and precision checks.
#include "server/types/decimal.h"

#include <gtest/gtest.h>

namespace tabsrv {
namespace {

struct ParseCase {
  const char* name;
  const char* input;
  const char* canonical;  // nullptr: parse fails
};

TEST(Decimal, ParsesAndFormatsCanonically) {
  const ParseCase cases[] = {
      {"integer", "12", "12"},
      {"keeps_written_scale", "-12.340", "-12.340"},
      {"leading_point", "+.5", "0.5"},
      {"exponent", "1.5E-2", "0.015"},
      {"positive_exponent", "1.25e3", "1250"},
      {"money_sign", "$12.5", "12.5"},
      {"negative_money", "-$1.50", "-1.50"},
      {"blanks", "  7  ", "7"},
      {"zero_fraction", "0.000", "0.000"},
      {"max_digits", "99999999999999999999999999999999999999", "99999999999999999999999999999999999999"},
      {"too_many_digits", "999999999999999999999999999999999999999", nullptr},
      {"letters", "12a", nullptr},
      {"empty", "", nullptr},
      {"lone_sign", "-", nullptr},
  };
  for (const auto& c : cases) {
    auto d = parseDecimal(c.input);
    if (!c.canonical) {
      EXPECT_FALSE(d) << c.name;
      continue;
    }
    ASSERT_TRUE(d) << c.name;
    EXPECT_EQ(formatDecimal(*d), c.canonical) << c.name;
  }
}

TEST(Decimal, RescaleRoundsHalfAwayFromZero) {
  struct Case {
    const char* name;
    const char* in;
    int scale;
    const char* out;
  } cases[] = {
      {"up", "1.235", 2, "1.24"},    {"down", "1.234", 2, "1.23"},  {"negative", "-1.235", 2, "-1.24"},
      {"widen", "1.5", 4, "1.5000"}, {"to_integer", "2.5", 0, "3"}, {"small_negative", "-0.004", 2, "0.00"},
  };
  for (const auto& c : cases) {
    auto r = rescaleDecimal(*parseDecimal(c.in), c.scale);
    ASSERT_TRUE(r) << c.name;
    EXPECT_EQ(formatDecimal(*r), c.out) << c.name;
  }
}

TEST(Decimal, PrecisionAndMoneyRanges) {
  EXPECT_TRUE(fitsPrecision(*parseDecimal("999.99"), 5, 2));
  EXPECT_FALSE(fitsPrecision(*parseDecimal("999.995"), 5, 2));  // rounds to 1000.00
  EXPECT_FALSE(fitsPrecision(*parseDecimal("1000"), 5, 2));
  EXPECT_TRUE(fitsMoney(*parseDecimal("922337203685477.5807")));
  EXPECT_FALSE(fitsMoney(*parseDecimal("922337203685477.5808")));
  EXPECT_TRUE(fitsMoney(*parseDecimal("-922337203685477.5808")));
  EXPECT_TRUE(fitsSmallMoney(*parseDecimal("214748.3647")));
  EXPECT_FALSE(fitsSmallMoney(*parseDecimal("214748.3648")));
  EXPECT_TRUE(fitsSmallMoney(*parseDecimal("-214748.3648")));
}

TEST(Decimal, ComparesAcrossScales) {
  EXPECT_EQ(compareDecimal(*parseDecimal("9.5"), *parseDecimal("10.00")), -1);
  EXPECT_EQ(compareDecimal(*parseDecimal("1.50"), *parseDecimal("1.5")), 0);
  EXPECT_EQ(compareDecimal(*parseDecimal("-2"), *parseDecimal("-10")), 1);
  // Scales that cannot be aligned within 38 digits still compare.
  EXPECT_EQ(compareDecimal(*parseDecimal("99999999999999999999999999999999999999"),
                           *parseDecimal("0.00000000000000000000000000000000000001")),
            1);
}

TEST(Decimal, ArithmeticKeepsExactScale) {
  EXPECT_EQ(formatDecimal(*addDecimal(*parseDecimal("0.1"), *parseDecimal("0.20"))), "0.30");
  EXPECT_EQ(formatDecimal(*multiplyDecimal(*parseDecimal("1.5"), *parseDecimal("-2.25"))), "-3.375");
  EXPECT_FALSE(multiplyDecimal(*parseDecimal("99999999999999999999"), *parseDecimal("99999999999999999999")));
  EXPECT_EQ(*decimalToInt(*parseDecimal("-7.9")), -7);
  EXPECT_EQ(formatDecimal(*decimalFromDouble(0.1, 3)), "0.100");
}

}  // namespace
}  // namespace tabsrv
