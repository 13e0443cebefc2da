// Exact decimals (the Decimal of server/core/types.h): parsing, the canonical text kept inside
// SQLite, rescaling with rounding, comparison and the precision/range checks of numeric,
// decimal, money and smallmoney.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/core/types.h"

namespace tabsrv {

// Largest precision of numeric/decimal.
constexpr int kMaxDecimalPrecision = 38;

// Parses "12", "-12.340", "+.5", "1e3", "$12.5", "1.5E-2" (blanks around allowed). The scale is the
// number of fraction digits written (an exponent is applied exactly). Nothing on bad text or when
// the value needs more than 38 digits.
std::optional<Decimal> parseDecimal(std::string_view text);

// Reads only the canonical text formatDecimal writes ('-'? digits, then '.' and digits), at most 38
// digits in all, without blanks, signs other than a leading '-', currency signs or exponents; the
// same result as parseDecimal on that form. Nothing for any other text, so callers fall back to
// parseDecimal.
std::optional<Decimal> parseStoredDecimal(std::string_view text);

// The canonical text: exactly `scale` fraction digits, '-' only for negatives, no '+', no exponent,
// at least one digit before the point ("0.50", "-12.3400", "7").
std::string formatDecimal(const Decimal& d);

// Rescales to `scale`, rounding half away from zero when digits are dropped. Nothing on overflow
// of the 38-digit range.
std::optional<Decimal> rescaleDecimal(const Decimal& d, int scale);

// Number of digits of the unscaled value (0 has one digit).
int decimalDigits(const Decimal& d);

// True when `d`, once rescaled to `scale`, fits numeric(precision, scale).
bool fitsPrecision(const Decimal& d, int precision, int scale);

// Three-way exact comparison across scales: -1, 0, 1.
int compareDecimal(const Decimal& a, const Decimal& b);

// Converts from/to binary types. toDecimal of a double keeps up to `scale` digits (rounded);
// nothing for NaN/infinite or out-of-range values.
Decimal decimalFromInt(int64_t v);
std::optional<Decimal> decimalFromDouble(double v, int scale);
double decimalToDouble(const Decimal& d);
// The integer part (truncated toward zero); nothing when it does not fit 64 bits.
std::optional<int64_t> decimalToInt(const Decimal& d);

// Arithmetic with the exact result scale (add/sub: max scale; mul: sum of scales); nothing on
// overflow.
std::optional<Decimal> addDecimal(const Decimal& a, const Decimal& b);
std::optional<Decimal> subtractDecimal(const Decimal& a, const Decimal& b);
std::optional<Decimal> multiplyDecimal(const Decimal& a, const Decimal& b);
Decimal negateDecimal(const Decimal& d);

// How an arithmetic result drops the digits below its scale.
enum class DecimalRounding { Truncate, HalfAwayFromZero };
// Outcome of decimalArithmetic.
enum class DecimalStatus { Ok, Overflow, DivideByZero };
struct DecimalResult {
  DecimalStatus status = DecimalStatus::Ok;
  Decimal value;
};

// `a op b` for op '+', '-', '*', '/' or '%' (the remainder takes the sign of a), computed exactly
// on operands of any scale and brought to `scale` (0..38) with `rounding`: 2.0 / 3 at scale 6 is
// 0.666666 truncated. Overflow when the result needs more than 38 digits.
DecimalResult decimalArithmetic(char op, const Decimal& a, const Decimal& b, int scale, DecimalRounding rounding);

// Money ranges (scale 4): money is a 64-bit count of 1/10000, smallmoney a 32-bit one.
bool fitsMoney(const Decimal& d);
bool fitsSmallMoney(const Decimal& d);

}  // namespace tabsrv
