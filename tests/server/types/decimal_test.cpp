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

struct ArithmeticCase {
  const char* name;
  char op;
  const char* a;
  const char* b;
  int scale;
  DecimalRounding rounding;
  const char* result;  // "overflow" / "zero" for the failures
};

TEST(Decimal, ArithmeticIsExactAtEveryScale) {
  const auto T = DecimalRounding::Truncate;
  const auto R = DecimalRounding::HalfAwayFromZero;
  const ArithmeticCase cases[] = {
      {"sum_past_double", '+', "123456789012345678.91", "0.01", 2, T, "123456789012345678.92"},
      {"difference_changes_sign", '-', "0.1", "0.3", 4, T, "-0.2000"},
      {"product_of_38_digits", '*', "9999999999999999999", "9999999999999999999", 0, T,
       "99999999999999999980000000000000000001"},
      {"product_too_wide", '*', "99999999999999999999", "99999999999999999999", 0, T, "overflow"},
      {"product_truncated", '*', "1.23456789", "1.1", 4, T, "1.3580"},
      {"product_rounded", '*', "-0.0005", "0.1", 4, R, "-0.0001"},
      {"quotient_truncated", '/', "2", "3", 6, T, "0.666666"},
      {"quotient_rounded", '/', "2", "3", 6, R, "0.666667"},
      {"quotient_negative", '/', "-2", "3", 6, T, "-0.666666"},
      {"quotient_of_wide_divisor", '/', "1", "0.00000000000000000000000000000000000003", 0, T,
       "33333333333333333333333333333333333333"},
      {"quotient_wide_numerator", '/', "99999999999999999999999999999999999999", "7", 0, T,
       "14285714285714285714285714285714285714"},
      {"quotient_overflow", '/', "99999999999999999999999999999999999999", "0.1", 0, T, "overflow"},
      {"divide_by_zero", '/', "1", "0.00", 2, T, "zero"},
      {"remainder_sign_of_dividend", '%', "-10.5", "3", 1, T, "-1.5"},
      {"remainder_by_zero", '%', "1", "0", 0, T, "zero"},
      {"sum_at_38_digits", '+', "99999999999999999999999999999999999998", "1", 0, T,
       "99999999999999999999999999999999999999"},
      {"sum_past_38_digits", '+', "99999999999999999999999999999999999999", "1", 0, T, "overflow"},
      {"scales_aligned", '+', "0.00000000000000000000000000000000000001", "1", 38, T, "overflow"},
      {"negative_zero_is_zero", '*', "-0.001", "0.001", 2, T, "0.00"},
  };
  for (const auto& c : cases) {
    auto a = parseDecimal(c.a), b = parseDecimal(c.b);
    ASSERT_TRUE(a && b) << c.name;
    DecimalResult r = decimalArithmetic(c.op, *a, *b, c.scale, c.rounding);
    std::string got = r.status == DecimalStatus::Overflow       ? "overflow"
                      : r.status == DecimalStatus::DivideByZero ? "zero"
                                                                : formatDecimal(r.value);
    EXPECT_EQ(got, c.result) << c.name;
  }
}

}  // namespace
}  // namespace tabsrv
