// Exact decimal arithmetic on a 128-bit unscaled value: parsing, canonical text, rescaling with
// half-away-from-zero rounding and the range checks of numeric and money.
#include "server/types/decimal.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

namespace tabsrv {
namespace {

using i128 = __int128;

// Powers of ten up to 10^38, computed once: rescaling and the precision checks run per value.
struct PowersOfTen {
  i128 value[39];
  constexpr PowersOfTen() : value() {
    value[0] = 1;
    for (int i = 1; i < 39; ++i) value[i] = value[i - 1] * 10;
  }
};
constexpr PowersOfTen kPowersOfTen;

i128 pow10(int n) {
  if (n <= 0) return 1;
  if (n <= 38) return kPowersOfTen.value[n];
  i128 r = kPowersOfTen.value[38];
  for (int i = 38; i < n; ++i) r *= 10;
  return r;
}

// 10^38 - 1 is the largest magnitude numeric(38) holds.

const i128 kMaxMagnitude = pow10(38) - 1;

i128 absolute(i128 v) {
  return v < 0 ? -v : v;
}

}  // namespace

std::optional<Decimal> parseStoredDecimal(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  // Up to 38 digits after the leading zeros: 18 accumulate in 64 bits, the rest in 128.
  uint64_t low = 0;
  i128 value = 0;
  int digits = 0, scale = 0;
  bool any = false, point = false, wide = false;
  const char* firstDigit = p;
  for (; p < end; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      any = true;
      if (digits == 0 && c == '0') {
        if (point) ++scale;
        continue;
      }
      if (++digits > 38) return std::nullopt;
      if (!wide && digits > 18) {
        wide = true;
        value = low;
      }
      if (wide)
        value = value * 10 + (c - '0');
      else
        low = low * 10 + static_cast<uint64_t>(c - '0');
      if (point) ++scale;
    } else if (c == '.' && !point && p != firstDigit && p + 1 < end) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  // More than 38 fraction digits need the general parser's rounding.
  if (!any || scale > 38) return std::nullopt;
  if (!wide) value = low;
  return Decimal{negative ? -value : value, static_cast<uint8_t>(scale)};
}

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

namespace {

// An unsigned integer of any size in 32-bit limbs, least significant first: room for the
// intermediate values of decimal arithmetic (a 38-digit value times 10^76 and the like).
struct Big {
  std::vector<uint32_t> limbs;

  static Big of(unsigned __int128 v) {
    Big b;
    for (; v; v >>= 32) b.limbs.push_back(static_cast<uint32_t>(v));
    return b;
  }
  bool zero() const { return limbs.empty(); }
  void trim() {
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
  }
  void mulSmall(uint32_t m) {
    uint64_t carry = 0;
    for (auto& l : limbs) {
      uint64_t x = uint64_t{l} * m + carry;
      l = static_cast<uint32_t>(x);
      carry = x >> 32;
    }
    if (carry) limbs.push_back(static_cast<uint32_t>(carry));
    trim();
  }
  void mulPow10(int n) {
    for (; n > 0; n -= 9) mulSmall(n >= 9 ? 1000000000u : static_cast<uint32_t>(pow10(n)));
  }
  // Divides by m in place and returns the remainder.
  uint32_t divSmall(uint32_t m) {
    uint64_t rem = 0;
    for (size_t i = limbs.size(); i-- > 0;) {
      uint64_t x = (rem << 32) | limbs[i];
      limbs[i] = static_cast<uint32_t>(x / m);
      rem = x % m;
    }
    trim();
    return static_cast<uint32_t>(rem);
  }
  size_t bits() const {
    if (limbs.empty()) return 0;
    size_t n = (limbs.size() - 1) * 32;
    for (uint32_t top = limbs.back(); top; top >>= 1) ++n;
    return n;
  }
  bool bit(size_t i) const { return (limbs[i / 32] >> (i % 32)) & 1u; }
  void setBit(size_t i) {
    if (limbs.size() <= i / 32) limbs.resize(i / 32 + 1, 0);
    limbs[i / 32] |= 1u << (i % 32);
  }
  void shiftLeftOne() {
    uint32_t carry = 0;
    for (auto& l : limbs) {
      uint32_t next = l >> 31;
      l = (l << 1) | carry;
      carry = next;
    }
    if (carry) limbs.push_back(carry);
  }
};

int compareBig(const Big& a, const Big& b) {
  if (a.limbs.size() != b.limbs.size()) return a.limbs.size() < b.limbs.size() ? -1 : 1;
  for (size_t i = a.limbs.size(); i-- > 0;)
    if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
  return 0;
}

Big addBig(const Big& a, const Big& b) {
  Big r;
  uint64_t carry = 0;
  for (size_t i = 0; i < std::max(a.limbs.size(), b.limbs.size()); ++i) {
    uint64_t x = carry + (i < a.limbs.size() ? a.limbs[i] : 0) + (i < b.limbs.size() ? b.limbs[i] : 0);
    r.limbs.push_back(static_cast<uint32_t>(x));
    carry = x >> 32;
  }
  if (carry) r.limbs.push_back(static_cast<uint32_t>(carry));
  r.trim();
  return r;
}

// a - b for a >= b.
Big subtractBig(const Big& a, const Big& b) {
  Big r = a;
  int64_t borrow = 0;
  for (size_t i = 0; i < r.limbs.size(); ++i) {
    int64_t x = int64_t{r.limbs[i]} - borrow - (i < b.limbs.size() ? int64_t{b.limbs[i]} : 0);
    borrow = x < 0;
    r.limbs[i] = static_cast<uint32_t>(x + (borrow ? (int64_t{1} << 32) : 0));
  }
  r.trim();
  return r;
}

Big multiplyBig(const Big& a, const Big& b) {
  Big r;
  r.limbs.assign(a.limbs.size() + b.limbs.size(), 0);
  for (size_t i = 0; i < a.limbs.size(); ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.limbs.size(); ++j) {
      uint64_t x = uint64_t{a.limbs[i]} * b.limbs[j] + r.limbs[i + j] + carry;
      r.limbs[i + j] = static_cast<uint32_t>(x);
      carry = x >> 32;
    }
    r.limbs[i + b.limbs.size()] += static_cast<uint32_t>(carry);
  }
  r.trim();
  return r;
}

// Quotient and remainder of n / d (d not zero), by binary long division.
std::pair<Big, Big> divideBig(const Big& n, const Big& d) {
  Big q, r;
  for (size_t i = n.bits(); i-- > 0;) {
    r.shiftLeftOne();
    if (n.bit(i)) {
      if (r.limbs.empty()) r.limbs.push_back(0);
      r.limbs[0] |= 1u;
    }
    if (compareBig(r, d) >= 0) {
      r = subtractBig(r, d);
      q.setBit(i);
    }
  }
  q.trim();
  return {q, r};
}

// A signed exact value: magnitude × 10^-scale.
struct Exact {
  bool negative = false;
  Big magnitude;
  int scale = 0;
};

Exact exactOf(const Decimal& d) {
  return Exact{d.unscaled < 0, Big::of(static_cast<unsigned __int128>(absolute(d.unscaled))), d.scale};
}

// Brings x to `scale`, dropping digits with `rounding`; Overflow past 38 digits.
DecimalResult finish(Exact x, int scale, DecimalRounding rounding) {
  if (x.scale < scale) {
    x.magnitude.mulPow10(scale - x.scale);
  } else if (x.scale > scale) {
    int drop = x.scale - scale;
    bool roundUp = false;
    if (drop > 1) {
      // Everything below the last dropped digit only decides a tie, which half-away does not have.
      for (int k = drop - 1; k > 0; k -= 9) x.magnitude.divSmall(k >= 9 ? 1000000000u : static_cast<uint32_t>(pow10(k)));
    }
    uint32_t last = x.magnitude.divSmall(10);
    roundUp = rounding == DecimalRounding::HalfAwayFromZero && last >= 5;
    if (roundUp) x.magnitude = addBig(x.magnitude, Big::of(1));
  }
  DecimalResult r;
  if (compareBig(x.magnitude, Big::of(static_cast<unsigned __int128>(kMaxMagnitude))) > 0) {
    r.status = DecimalStatus::Overflow;
    return r;
  }
  i128 v = 0;
  for (size_t i = x.magnitude.limbs.size(); i-- > 0;) v = (v << 32) | x.magnitude.limbs[i];
  r.value = Decimal{x.negative && v != 0 ? -v : v, static_cast<uint8_t>(scale)};
  return r;
}

// Both operands at their common (larger) scale.
void align(Exact& a, Exact& b) {
  if (a.scale < b.scale) {
    a.magnitude.mulPow10(b.scale - a.scale);
    a.scale = b.scale;
  } else if (b.scale < a.scale) {
    b.magnitude.mulPow10(a.scale - b.scale);
    b.scale = a.scale;
  }
}

}  // namespace

DecimalResult decimalArithmetic(char op, const Decimal& da, const Decimal& db, int scale,
                                DecimalRounding rounding) {
  if (scale < 0) scale = 0;
  if (scale > 38) scale = 38;
  Exact a = exactOf(da), b = exactOf(db);
  switch (op) {
    case '-':
      b.negative = !b.negative;
      [[fallthrough]];
    case '+': {
      align(a, b);
      Exact r;
      r.scale = a.scale;
      if (a.negative == b.negative) {
        r.magnitude = addBig(a.magnitude, b.magnitude);
        r.negative = a.negative;
      } else if (compareBig(a.magnitude, b.magnitude) >= 0) {
        r.magnitude = subtractBig(a.magnitude, b.magnitude);
        r.negative = a.negative;
      } else {
        r.magnitude = subtractBig(b.magnitude, a.magnitude);
        r.negative = b.negative;
      }
      return finish(r, scale, rounding);
    }
    case '*': {
      Exact r{a.negative != b.negative, multiplyBig(a.magnitude, b.magnitude), a.scale + b.scale};
      return finish(r, scale, rounding);
    }
    case '/': {
      if (b.magnitude.zero()) return DecimalResult{DecimalStatus::DivideByZero, {}};
      // q = a / b with one digit more than `scale`, which finish() rounds or drops:
      // (ma × 10^-sa) / (mb × 10^-sb) = (ma × 10^(k) / mb) × 10^-(scale + 1), k = scale + 1 - sa + sb.
      int k = scale + 1 - a.scale + b.scale;
      Big n = a.magnitude, d = b.magnitude;
      if (k >= 0)
        n.mulPow10(k);
      else
        d.mulPow10(-k);
      Exact r{a.negative != b.negative, divideBig(n, d).first, scale + 1};
      return finish(r, scale, rounding);
    }
    case '%': {
      if (b.magnitude.zero()) return DecimalResult{DecimalStatus::DivideByZero, {}};
      align(a, b);
      Exact r{a.negative, divideBig(a.magnitude, b.magnitude).second, a.scale};
      return finish(r, scale, rounding);
    }
    default:
      return DecimalResult{DecimalStatus::Overflow, {}};
  }
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
