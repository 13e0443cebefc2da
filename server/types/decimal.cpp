// Exact decimal arithmetic on a 128-bit unscaled value: parsing, canonical text, rescaling with
// half-away-from-zero rounding and the range checks of numeric and money.
#include "server/types/decimal.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace tabsrv {
namespace {

using i128 = __int128;

// 10^38 - 1 is the largest magnitude numeric(38) holds.
i128 pow10(int n) {
  i128 r = 1;
  for (int i = 0; i < n; ++i) r *= 10;
  return r;
}

const i128 kMaxMagnitude = pow10(38) - 1;

i128 absolute(i128 v) {
  return v < 0 ? -v : v;
}

}  // namespace

std::optional<Decimal> parseDecimal(std::string_view text) {
  size_t i = 0, n = text.size();
  while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  while (n > i && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Money literals may carry a currency sign after the sign ("-$1.50") or before it ("$-1.50").
  if (i < n && text[i] == '$') {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  }
  i128 value = 0;
  int digits = 0, scale = 0;
  bool any = false, point = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      any = true;
      if (value == 0 && c == '0') {
        if (point) ++scale;
        continue;
      }
      if (++digits > 38) return std::nullopt;
      value = value * 10 + (c - '0');
      if (point) ++scale;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return std::nullopt;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNeg = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) expNeg = text[i++] == '-';
    if (i >= n) return std::nullopt;
    int exp = 0;
    for (; i < n && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
      exp = exp * 10 + (text[i] - '0');
      if (exp > 400) return std::nullopt;
    }
    if (expNeg) {
      scale += exp;
    } else {
      // Positive exponent: remove fraction digits first, then multiply.
      int take = exp < scale ? exp : scale;
      scale -= take;
      exp -= take;
      for (int k = 0; k < exp; ++k) {
        value *= 10;
        if (value > kMaxMagnitude) return std::nullopt;
      }
    }
  }
  if (i != n) return std::nullopt;
  if (scale > 38) {
    // More fraction digits than the type can hold: round them away.
    i128 div = pow10(scale - 38 > 38 ? 38 : scale - 38);
    i128 q = scale - 38 > 38 ? 0 : value / div;
    if (scale - 38 <= 38 && (value % div) * 2 >= div) ++q;
    return Decimal{negative ? -q : q, 38};
  }
  return Decimal{negative ? -value : value, static_cast<uint8_t>(scale)};
}

std::string formatDecimal(const Decimal& d) {
  i128 v = absolute(d.unscaled);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  if (d.scale > 0) {
    while (digits.size() <= d.scale) digits.insert(digits.begin(), '0');
    digits.insert(digits.end() - d.scale, '.');
  }
  if (d.unscaled < 0) digits.insert(digits.begin(), '-');
  return digits;
}

std::optional<Decimal> rescaleDecimal(const Decimal& d, int scale) {
  if (scale < 0 || scale > 38) return std::nullopt;
  i128 v = d.unscaled;
  int s = d.scale;
  while (s < scale) {
    if (absolute(v) > kMaxMagnitude / 10) return std::nullopt;
    v *= 10;
    ++s;
  }
  if (s > scale) {
    i128 divisor = pow10(s - scale);
    i128 q = v / divisor;
    i128 rem = absolute(v % divisor);
    if (rem * 2 >= divisor) q += v < 0 ? -1 : 1;
    v = q;
  }
  return Decimal{v, static_cast<uint8_t>(scale)};
}

int decimalDigits(const Decimal& d) {
  i128 v = absolute(d.unscaled);
  int n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

bool fitsPrecision(const Decimal& d, int precision, int scale) {
  auto r = rescaleDecimal(d, scale);
  if (!r) return false;
  return absolute(r->unscaled) < pow10(precision);
}

int compareDecimal(const Decimal& a, const Decimal& b) {
  if ((a.unscaled < 0) != (b.unscaled < 0)) return a.unscaled < 0 ? -1 : 1;
  // Bring both to the larger scale; when that overflows, compare integer parts, then fractions.
  int s = a.scale > b.scale ? a.scale : b.scale;
  auto ra = rescaleDecimal(a, s);
  auto rb = rescaleDecimal(b, s);
  if (ra && rb) return ra->unscaled < rb->unscaled ? -1 : (ra->unscaled > rb->unscaled ? 1 : 0);
  // Overflow: compare integer parts first, then the remainders at full precision via long double.
  i128 ia = a.unscaled / pow10(a.scale), ib = b.unscaled / pow10(b.scale);
  if (ia != ib) return ia < ib ? -1 : 1;
  long double fa =
      static_cast<long double>(a.unscaled % pow10(a.scale)) / static_cast<long double>(pow10(a.scale));
  long double fb =
      static_cast<long double>(b.unscaled % pow10(b.scale)) / static_cast<long double>(pow10(b.scale));
  return fa < fb ? -1 : (fa > fb ? 1 : 0);
}

Decimal decimalFromInt(int64_t v) {
  return Decimal{static_cast<i128>(v), 0};
}

std::optional<Decimal> decimalFromDouble(double v, int scale) {
  if (!std::isfinite(v)) return std::nullopt;
  if (std::fabs(v) >= 1e38) return std::nullopt;
  // %.*f prints the double's exact binary value rounded to the requested digits.
  char buf[128];
  std::snprintf(buf, sizeof buf, "%.*f", scale, v);
  auto d = parseDecimal(buf);
  if (!d) return std::nullopt;
  return rescaleDecimal(*d, scale);
}

double decimalToDouble(const Decimal& d) {
  return static_cast<double>(static_cast<long double>(d.unscaled) / static_cast<long double>(pow10(d.scale)));
}

std::optional<int64_t> decimalToInt(const Decimal& d) {
  i128 q = d.unscaled / pow10(d.scale);
  if (q > INT64_MAX || q < INT64_MIN) return std::nullopt;
  return static_cast<int64_t>(q);
}

std::optional<Decimal> addDecimal(const Decimal& a, const Decimal& b) {
  int s = a.scale > b.scale ? a.scale : b.scale;
  auto ra = rescaleDecimal(a, s), rb = rescaleDecimal(b, s);
  if (!ra || !rb) return std::nullopt;
  i128 r = ra->unscaled + rb->unscaled;
  if (absolute(r) > kMaxMagnitude) return std::nullopt;
  return Decimal{r, static_cast<uint8_t>(s)};
}

std::optional<Decimal> subtractDecimal(const Decimal& a, const Decimal& b) {
  return addDecimal(a, negateDecimal(b));
}

std::optional<Decimal> multiplyDecimal(const Decimal& a, const Decimal& b) {
  i128 x = absolute(a.unscaled), y = absolute(b.unscaled);
  if (x != 0 && y > kMaxMagnitude / x) return std::nullopt;
  i128 r = a.unscaled * b.unscaled;
  int s = a.scale + b.scale;
  if (s <= 38) return Decimal{r, static_cast<uint8_t>(s)};
  // More than 38 fraction digits: round the excess away.
  i128 div = pow10(s - 38);
  i128 q = r / div;
  if (absolute(r % div) * 2 >= div) q += r < 0 ? -1 : 1;
  return Decimal{q, 38};
}

Decimal negateDecimal(const Decimal& d) {
  return Decimal{-d.unscaled, d.scale};
}

bool fitsMoney(const Decimal& d) {
  auto r = rescaleDecimal(d, 4);
  return r && r->unscaled >= INT64_MIN && r->unscaled <= INT64_MAX;
}

bool fitsSmallMoney(const Decimal& d) {
  auto r = rescaleDecimal(d, 4);
  return r && r->unscaled >= INT32_MIN && r->unscaled <= INT32_MAX;
}

}  // namespace tabsrv
