// Conversions between the server's datatypes and the family's conversion errors. All error numbers
// and texts for conversions live in kConversionErrors below.
#include "server/types/convert.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "server/types/datetime.h"
#include "server/types/decimal.h"
#include "server/types/type_codes.h"

namespace tabsrv {
namespace {

struct ErrorRow {
  ConversionError which;
  int32_t number;
  uint8_t severity;
  // %k conversion kind ("implicit"/"explicit"), %f source type, %t target type, %v value text.
  std::string_view pattern;
};

constexpr ErrorRow kConversionErrors[] = {
    {ConversionError::Syntax, 249, 16, "Syntax error during %k conversion of %f value '%v' to a %t field."},
    {ConversionError::Overflow, 247, 16,
     "Arithmetic overflow during %k conversion of %f value '%v' to a %t field ."},
    {ConversionError::ImplicitNotAllowed, 257, 16,
     "Implicit conversion from datatype '%f' to '%t' is not allowed.  Use the CONVERT function to run this "
     "query."},
    {ConversionError::ExplicitNotAllowed, 529, 16,
     "Explicit conversion from datatype '%f' to '%t' is not allowed."},
    {ConversionError::DivideByZero, 3607, 16, "Divide by zero occurred."},
    {ConversionError::Scale, 241, 16, "Scale error during %k conversion of %f value '%v' to a %t field."},
};

std::string trimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

bool isIntegerType(SqlType t) {
  return t == SqlType::TinyInt || t == SqlType::SmallInt || t == SqlType::Int || t == SqlType::Bit;
}

std::string shortestDouble(double d, bool single) {
  char buf[64];
  std::to_chars_result r = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d))
                                  : std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

// Range of an integer target.
bool intFits(SqlType t, int64_t v) {
  switch (t) {
    case SqlType::TinyInt:
      return v >= 0 && v <= 255;
    case SqlType::SmallInt:
      return v >= -32768 && v <= 32767;
    case SqlType::Int:
      return v >= INT32_MIN && v <= INT32_MAX;
    default:
      return true;
  }
}

// The Value in the kind its declared type implies: canonical TEXT of a datetime or decimal column
// becomes DateTime/Decimal, an INTEGER result of a float expression becomes double ...
Value normalizeSource(const Value& v, const TypeDesc& from) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (isDateTimeType(from.type)) {
      if (auto dt = parseDateTime(*s)) return *dt;
    } else if (isExactNumericType(from.type) && !isIntegerType(from.type)) {
      if (auto d = parseDecimal(*s)) return *d;
    } else if (from.type == SqlType::Real || from.type == SqlType::Float) {
      char* end = nullptr;
      std::string t = trimBlanks(*s);
      double d = std::strtod(t.c_str(), &end);
      if (!t.empty() && end && *end == 0) return d;
    } else if (isIntegerType(from.type)) {
      if (auto d = parseDecimal(*s)) {
        if (auto i = decimalToInt(*d)) return *i;
      }
    }
  }
  return v;
}

SqlError syntaxError(ConversionKind kind, SqlType from, SqlType to, const Value& v) {
  return conversionError(ConversionError::Syntax, kind, from, to, valueMessageText(v));
}
SqlError overflowError(ConversionKind kind, SqlType from, SqlType to, const Value& v) {
  return conversionError(ConversionError::Overflow, kind, from, to, valueMessageText(v));
}

// Big-endian integer from the last 8 (or fewer) bytes, as binary -> int takes them.
int64_t intFromBytes(const Bytes& b, int width) {
  uint64_t r = 0;
  size_t start = b.size() > static_cast<size_t>(width) ? b.size() - width : 0;
  for (size_t i = start; i < b.size(); ++i) r = (r << 8) | b[i];
  // Sign-extend from `width` bytes when all of them were present.
  if (b.size() >= static_cast<size_t>(width) && width < 8 && (r >> (width * 8 - 1)) & 1)
    r |= ~0ull << (width * 8);
  return static_cast<int64_t>(r);
}

Bytes bytesFromInt(int64_t v, int width) {
  Bytes b(width);
  for (int i = width - 1; i >= 0; --i) {
    b[i] = static_cast<uint8_t>(v & 0xff);
    v >>= 8;
  }
  return b;
}

int intWidth(SqlType t) {
  switch (t) {
    case SqlType::TinyInt:
    case SqlType::Bit:
      return 1;
    case SqlType::SmallInt:
      return 2;
    default:
      return 4;
  }
}

Value toInteger(const Value& v, SqlType from, const TypeDesc& to, ConversionKind kind) {
  int64_t r = 0;
  if (const auto* i = std::get_if<int64_t>(&v)) {
    r = *i;
  } else if (const auto* d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d) || std::fabs(*d) >= 9.2e18) throw overflowError(kind, from, to.type, v);
    r = static_cast<int64_t>(std::trunc(*d));
  } else if (const auto* dec = std::get_if<Decimal>(&v)) {
    // Money rounds to the nearest integer, numeric is truncated.
    std::optional<Decimal> whole = *dec;
    if (from == SqlType::Money || from == SqlType::SmallMoney) whole = rescaleDecimal(*dec, 0);
    auto i = whole ? decimalToInt(*whole) : std::nullopt;
    if (!i) throw overflowError(kind, from, to.type, v);
    r = *i;
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    std::string t = trimBlanks(*s);
    size_t k = 0;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
    if (k == t.size()) {
      if (t.empty()) return int64_t{0};  // '' converts to 0 as the family does
      throw syntaxError(kind, from, to.type, v);
    }
    for (size_t j = k; j < t.size(); ++j) {
      if (!std::isdigit(static_cast<unsigned char>(t[j]))) throw syntaxError(kind, from, to.type, v);
    }
    auto res = std::from_chars(t.data() + (t[0] == '+' ? 1 : 0), t.data() + t.size(), r);
    if (res.ec != std::errc()) throw overflowError(kind, from, to.type, v);
  } else if (const auto* b = std::get_if<Bytes>(&v)) {
    r = intFromBytes(*b, to.type == SqlType::Bit ? 1 : intWidth(to.type));
  } else {
    throw conversionError(kind == ConversionKind::Implicit ? ConversionError::ImplicitNotAllowed
                                                           : ConversionError::ExplicitNotAllowed,
                          kind, from, to.type);
  }
  if (to.type == SqlType::Bit) return int64_t{r != 0 ? 1 : 0};
  if (!intFits(to.type, r)) throw overflowError(kind, from, to.type, v);
  return r;
}

Value toFloat(const Value& v, SqlType from, const TypeDesc& to, ConversionKind kind) {
  double r = 0;
  if (const auto* i = std::get_if<int64_t>(&v)) {
    r = static_cast<double>(*i);
  } else if (const auto* d = std::get_if<double>(&v)) {
    r = *d;
  } else if (const auto* dec = std::get_if<Decimal>(&v)) {
    r = decimalToDouble(*dec);
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    std::string t = trimBlanks(*s);
    if (t.empty()) return 0.0;
    char* end = nullptr;
    r = std::strtod(t.c_str(), &end);
    if (end == t.c_str() || *end != 0 || t.find_first_of("xXnNiI") != std::string::npos) {
      throw syntaxError(kind, from, to.type, v);
    }
    if (!std::isfinite(r)) throw overflowError(kind, from, to.type, v);
  } else {
    throw conversionError(kind == ConversionKind::Implicit ? ConversionError::ImplicitNotAllowed
                                                           : ConversionError::ExplicitNotAllowed,
                          kind, from, to.type);
  }
  if (to.type == SqlType::Real) {
    if (std::isfinite(r) && std::fabs(r) > std::numeric_limits<float>::max())
      throw overflowError(kind, from, to.type, v);
    r = static_cast<double>(static_cast<float>(r));
  }
  return r;
}

// `d` with the digits below `scale` dropped; `lost` tells whether any of them was not zero.
Decimal truncateDecimal(const Decimal& d, int scale, bool& lost) {
  __int128 divisor = 1;
  for (int i = scale; i < d.scale; ++i) divisor *= 10;
  lost = d.unscaled % divisor != 0;
  return Decimal{d.unscaled / divisor, static_cast<uint8_t>(scale)};
}

Value toDecimal(const Value& v, SqlType from, const TypeDesc& to, ConversionKind kind, ScaleLoss scaleLoss) {
  int scale = to.type == SqlType::Money || to.type == SqlType::SmallMoney ? 4 : to.scale;
  std::optional<Decimal> d;
  if (const auto* i = std::get_if<int64_t>(&v)) {
    d = rescaleDecimal(decimalFromInt(*i), scale);
  } else if (const auto* f = std::get_if<double>(&v)) {
    d = decimalFromDouble(*f, scale);
  } else if (const auto* dec = std::get_if<Decimal>(&v); dec && dec->scale > scale &&
                                                          kind == ConversionKind::Implicit &&
                                                          scaleLoss != ScaleLoss::Round &&
                                                          (to.type == SqlType::Numeric || to.type == SqlType::Decimal)) {
    bool lost = false;
    d = truncateDecimal(*dec, scale, lost);
    if (lost && scaleLoss == ScaleLoss::Error)
      throw conversionError(ConversionError::Scale, kind, from, to.type, valueMessageText(v));
  } else if (const auto* dec = std::get_if<Decimal>(&v)) {
    d = rescaleDecimal(*dec, scale);
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    std::string t = trimBlanks(*s);
    if (t.empty()) {
      d = Decimal{0, static_cast<uint8_t>(scale)};
    } else {
      auto p = parseDecimal(t);
      if (!p) {
        // A valid number beyond 38 digits is an overflow, anything else a syntax error.
        char* end = nullptr;
        std::strtod(t.c_str(), &end);
        if (end && *end == 0) throw overflowError(kind, from, to.type, v);
        throw syntaxError(kind, from, to.type, v);
      }
      d = rescaleDecimal(*p, scale);
    }
  } else if (const auto* b = std::get_if<Bytes>(&v);
             b && (to.type == SqlType::Money || to.type == SqlType::SmallMoney)) {
    d = Decimal{intFromBytes(*b, to.type == SqlType::Money ? 8 : 4), 4};
  } else {
    throw conversionError(kind == ConversionKind::Implicit ? ConversionError::ImplicitNotAllowed
                                                           : ConversionError::ExplicitNotAllowed,
                          kind, from, to.type);
  }
  if (!d) throw overflowError(kind, from, to.type, v);
  bool fits = to.type == SqlType::Money        ? fitsMoney(*d)
              : to.type == SqlType::SmallMoney ? fitsSmallMoney(*d)
                                               : fitsPrecision(*d, to.precision ? to.precision : 18, scale);
  if (!fits) throw overflowError(kind, from, to.type, v);
  return *d;
}

Value toDateTime(const Value& v, SqlType from, const TypeDesc& to, ConversionKind kind,
                 std::string_view dateFormat) {
  DateTime dt;
  if (const auto* d = std::get_if<DateTime>(&v)) {
    dt = *d;
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    auto p = parseDateTime(*s, dateFormat);
    if (!p) throw syntaxError(kind, from, to.type, v);
    dt = *p;
  } else {
    throw conversionError(kind == ConversionKind::Implicit ? ConversionError::ImplicitNotAllowed
                                                           : ConversionError::ExplicitNotAllowed,
                          kind, from, to.type);
  }
  if (to.type == SqlType::SmallDateTime) {
    dt = roundToMinute(dt);
    if (!fitsSmallDateTime(dt)) throw overflowError(kind, from, to.type, v);
  } else if (!fitsDateTime(dt)) {
    throw overflowError(kind, from, to.type, v);
  }
  return dt;
}

Value toCharacter(const Value& v, const TypeDesc& from, const TypeDesc& to) {
  std::string s = valueToText(v, from);
  if (to.type != SqlType::Text && to.length > 0 && s.size() > static_cast<size_t>(to.length)) {
    s.resize(static_cast<size_t>(to.length));
  }
  return s;
}

Value toBinary(const Value& v, const TypeDesc& from, const TypeDesc& to, ConversionKind kind) {
  Bytes b;
  if (const auto* s = std::get_if<std::string>(&v)) {
    b.assign(s->begin(), s->end());
  } else if (const auto* bytes = std::get_if<Bytes>(&v)) {
    b = *bytes;
  } else if (const auto* i = std::get_if<int64_t>(&v)) {
    b = bytesFromInt(*i, intWidth(from.type));
  } else if (const auto* dec = std::get_if<Decimal>(&v);
             dec && (from.type == SqlType::Money || from.type == SqlType::SmallMoney)) {
    auto r = rescaleDecimal(*dec, 4);
    b = bytesFromInt(static_cast<int64_t>(r ? r->unscaled : 0), from.type == SqlType::Money ? 8 : 4);
  } else {
    throw conversionError(kind == ConversionKind::Implicit ? ConversionError::ImplicitNotAllowed
                                                           : ConversionError::ExplicitNotAllowed,
                          kind, from.type, to.type);
  }
  if (to.type != SqlType::Image && to.length > 0 && b.size() > static_cast<size_t>(to.length)) {
    b.resize(static_cast<size_t>(to.length));
  }
  return b;
}

}  // namespace

SqlError conversionError(ConversionError which, ConversionKind kind, SqlType from, SqlType to,
                         std::string_view valueText) {
  for (const ErrorRow& r : kConversionErrors) {
    if (r.which != which) continue;
    std::string text;
    for (size_t i = 0; i < r.pattern.size(); ++i) {
      if (r.pattern[i] == '%' && i + 1 < r.pattern.size()) {
        char c = r.pattern[++i];
        if (c == 'k')
          text += kind == ConversionKind::Implicit ? "implicit" : "explicit";
        else if (c == 'f')
          text += typeMessageName(from);
        else if (c == 't')
          text += typeMessageName(to);
        else if (c == 'v')
          text += valueText;
        continue;
      }
      text += r.pattern[i];
    }
    return SqlError(r.number, r.severity, text);
  }
  return SqlError(249, 16, "Conversion failed.");
}

TypeDesc typeOfValue(const Value& v) {
  switch (v.index()) {
    case 1:
      return makeType(SqlType::Int);
    case 2:
      return makeType(SqlType::Float);
    case 3: {
      const Decimal& d = std::get<Decimal>(v);
      return makeType(SqlType::Numeric, 0, 38, d.scale);
    }
    case 4:
      return makeType(SqlType::DateTime);
    case 5: {
      const auto& s = std::get<std::string>(v);
      return makeType(SqlType::VarChar, s.empty() ? 1 : static_cast<int32_t>(s.size()));
    }
    case 6: {
      const auto& b = std::get<Bytes>(v);
      return makeType(SqlType::VarBinary, b.empty() ? 1 : static_cast<int32_t>(b.size()));
    }
    default:
      return makeType(SqlType::VarChar, 1);
  }
}

bool explicitConversionAllowed(SqlType from, SqlType to) {
  // datetime and numbers do not convert into each other, in either direction; nor do binaries
  // and datetimes, or text/image and anything but character/binary types.
  bool fromNum = isNumericType(from), toNum = isNumericType(to);
  if ((isDateTimeType(from) && toNum) || (fromNum && isDateTimeType(to))) return false;
  if ((isDateTimeType(from) && isBinaryType(to)) || (isBinaryType(from) && isDateTimeType(to))) return false;
  if ((from == SqlType::Real || from == SqlType::Float) && isBinaryType(to)) return false;
  if (isBinaryType(from) && (to == SqlType::Real || to == SqlType::Float)) return false;
  if ((from == SqlType::Text || from == SqlType::Image) && !isCharacterType(to) && !isBinaryType(to))
    return false;
  if ((to == SqlType::Text || to == SqlType::Image) && !isCharacterType(from) && !isBinaryType(from))
    return false;
  return true;
}

bool implicitConversionAllowed(SqlType from, SqlType to) {
  return explicitConversionAllowed(from, to);
}

Value convertValue(const Value& v, const TypeDesc& from, const TypeDesc& to, ConversionKind kind,
                   std::string_view dateFormat, ScaleLoss scaleLoss) {
  if (isNull(v)) return v;
  bool allowed = kind == ConversionKind::Implicit ? implicitConversionAllowed(from.type, to.type)
                                                  : explicitConversionAllowed(from.type, to.type);
  if (!allowed) {
    throw conversionError(kind == ConversionKind::Implicit ? ConversionError::ImplicitNotAllowed
                                                           : ConversionError::ExplicitNotAllowed,
                          kind, from.type, to.type);
  }
  Value src = normalizeSource(v, from);
  switch (to.type) {
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
    case SqlType::Bit:
      return toInteger(src, from.type, to, kind);
    case SqlType::Real:
    case SqlType::Float:
      return toFloat(src, from.type, to, kind);
    case SqlType::Numeric:
    case SqlType::Decimal:
    case SqlType::Money:
    case SqlType::SmallMoney:
      return toDecimal(src, from.type, to, kind, scaleLoss);
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
      return toDateTime(src, from.type, to, kind, dateFormat);
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::Text:
      return toCharacter(src, from, to);
    case SqlType::Binary:
    case SqlType::VarBinary:
    case SqlType::Image:
      return toBinary(src, from, to, kind);
  }
  return src;
}

Value convertValue(const Value& v, const TypeDesc& to, ConversionKind kind) {
  return convertValue(v, typeOfValue(v), to, kind);
}

Value assignValue(const Value& v, const TypeDesc& from, const TypeDesc& to, bool nullable, ScaleLoss scaleLoss) {
  Value r = convertValue(v, from, to, ConversionKind::Implicit, "mdy", scaleLoss);
  if (auto* s = std::get_if<std::string>(&r)) {
    if (to.type == SqlType::Char && !nullable) {
      if (s->size() < static_cast<size_t>(to.length))
        s->append(static_cast<size_t>(to.length) - s->size(), ' ');
    } else if (to.type == SqlType::Char || to.type == SqlType::VarChar) {
      // Variable-length character data keeps no trailing blanks, and never becomes empty.
      size_t e = s->find_last_not_of(' ');
      s->erase(e == std::string::npos ? 0 : e + 1);
      if (s->empty()) *s = " ";
    }
  } else if (auto* b = std::get_if<Bytes>(&r)) {
    if (to.type == SqlType::Binary && !nullable && b->size() < static_cast<size_t>(to.length)) {
      b->resize(static_cast<size_t>(to.length), 0);
    }
  }
  return r;
}

std::string valueToText(const Value& v, const TypeDesc& type) {
  Value n = normalizeSource(v, type);
  switch (n.index()) {
    case 0:
      return {};
    case 1:
      return std::to_string(std::get<int64_t>(n));
    case 2:
      return shortestDouble(std::get<double>(n), type.type == SqlType::Real);
    case 3: {
      const Decimal& d = std::get<Decimal>(n);
      if (type.type == SqlType::Money || type.type == SqlType::SmallMoney) {
        auto r = rescaleDecimal(d, 2);
        return formatDecimal(r ? *r : d);
      }
      if (type.type == SqlType::Numeric || type.type == SqlType::Decimal) {
        auto r = rescaleDecimal(d, type.scale);
        return formatDecimal(r ? *r : d);
      }
      return formatDecimal(d);
    }
    case 4:
      return *formatDateTimeStyle(std::get<DateTime>(n), 0);
    case 5:
      return std::get<std::string>(n);
    case 6:
      return bytesToHex(std::get<Bytes>(n));
  }
  return {};
}

std::string valueMessageText(const Value& v) {
  switch (v.index()) {
    case 1:
      return std::to_string(std::get<int64_t>(v));
    case 2:
      return shortestDouble(std::get<double>(v), false);
    case 3:
      return formatDecimal(std::get<Decimal>(v));
    case 4:
      return formatDateTime(std::get<DateTime>(v));
    case 5:
      return std::get<std::string>(v);
    case 6:
      return "0x" + bytesToHex(std::get<Bytes>(v));
    default:
      return "NULL";
  }
}

std::string bytesToHex(const Bytes& b) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(b.size() * 2);
  for (uint8_t c : b) {
    s += kHex[c >> 4];
    s += kHex[c & 15];
  }
  return s;
}

std::optional<Bytes> bytesFromHex(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes b;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    b.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return b;
}

}  // namespace tabsrv
