// Encodes column formats and values for FreeTDS 1.3.17 as TDS5.md §3 lists them. The rules
// that matter to the client: fixed types cannot be NULL (nullable columns go out as INTN,
// FLTN, MONEYN, DATETIMN, BITN), length 0 means NULL for every length-prefixed type (so an
// empty string is sent as one space), and a numeric value is exactly numericBytes(p) long.
#include "server/tds/data_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace tabsrv::tds {

namespace {

constexpr int kMaxPrecision = 38;
constexpr int32_t kMaxBlobLength = std::numeric_limits<int32_t>::max();

bool isOneByteLength(WireType t) {
  switch (t) {
    case WireType::Char:
    case WireType::VarChar:
    case WireType::Binary:
    case WireType::VarBinary:
    case WireType::IntN:
    case WireType::FloatN:
    case WireType::MoneyN:
    case WireType::DateTimeN:
    case WireType::BitN:
      return true;
    default:
      return false;
  }
}

bool isLong(WireType t) {
  return t == WireType::LongChar || t == WireType::LongBinary;
}
bool isBlob(WireType t) {
  return t == WireType::Text || t == WireType::Image;
}
bool isNumeric(WireType t) {
  return t == WireType::Numeric || t == WireType::Decimal;
}

uint8_t statusBits(const ColumnDesc& c) {
  uint8_t s = 0;
  if (c.hidden) s |= 0x01;
  if (c.key) s |= 0x02;
  if (c.updatable) s |= 0x10;
  if (c.nullable) s |= 0x20;
  if (c.identity) s |= 0x40;
  return s;
}

void encodeTypeInfo(ByteWriter& w, const ColumnDesc& c, const WireFormat& f) {
  w.u8(static_cast<uint8_t>(f.type));
  if (isOneByteLength(f.type)) {
    w.u8(static_cast<uint8_t>(f.maxLength));
  } else if (isLong(f.type)) {
    w.i32(f.maxLength);
  } else if (isBlob(f.type)) {
    w.i32(f.maxLength);
    std::string_view table = std::string_view(c.tableName).substr(0, 255);
    w.u16(static_cast<uint16_t>(table.size()));
    w.text(table);
  } else if (isNumeric(f.type)) {
    w.u8(static_cast<uint8_t>(f.maxLength));
    w.u8(f.precision);
    w.u8(f.scale);
  }
}

// ROWFMT and PARAMFMT share one layout: length(2), count(2), then per column name, status,
// user type, type and type info, and an empty locale.
Bytes encodeFormatToken(Token token, const std::vector<ColumnDesc>& columns) {
  Bytes body;
  ByteWriter w(body);
  w.u16(static_cast<uint16_t>(columns.size()));
  for (const ColumnDesc& c : columns) {
    WireFormat f = wireFormatFor(c);
    w.text8(c.name);
    w.u8(statusBits(c));
    w.i32(c.userType);
    encodeTypeInfo(w, c, f);
    w.u8(0);
  }
  Bytes out;
  ByteWriter o(out);
  if (body.size() <= 0xFFFF) {
    o.u8(static_cast<uint8_t>(token));
    o.u16(static_cast<uint16_t>(body.size()));
    o.bytes(body.data(), body.size());
    return out;
  }
  if (token != Token::RowFmt) throw std::invalid_argument("parameter format too large");
  // ROWFMT2 (0x61) has a 4-byte length; its columns carry label, catalog, owner, table, name.
  Bytes wide;
  ByteWriter v(wide);
  v.u16(static_cast<uint16_t>(columns.size()));
  for (const ColumnDesc& c : columns) {
    WireFormat f = wireFormatFor(c);
    v.text8(c.name);
    v.text8("");
    v.text8("");
    v.text8(c.tableName);
    v.text8(c.name);
    v.u32(statusBits(c));
    v.i32(c.userType);
    encodeTypeInfo(v, c, f);
    v.u8(0);
  }
  o.u8(0x61);
  o.u32(static_cast<uint32_t>(wide.size()));
  o.bytes(wide.data(), wide.size());
  return out;
}

[[noreturn]] void mismatch(const ColumnDesc& c, const char* why) {
  throw std::invalid_argument("value for column '" + c.name + "' " + why);
}

// 10^0 .. 10^38, computed once: money and numeric values rescale and check their precision per
// value.
struct PowersOfTen {
  __int128 value[kMaxPrecision + 1];
  constexpr PowersOfTen() : value() {
    value[0] = 1;
    for (int i = 1; i <= kMaxPrecision; ++i) value[i] = value[i - 1] * 10;
  }
};
constexpr PowersOfTen kPowersOfTen;

__int128 pow10(int n) {
  if (n <= 0) return 1;
  if (n <= kMaxPrecision) return kPowersOfTen.value[n];
  __int128 v = kPowersOfTen.value[kMaxPrecision];
  for (int i = kMaxPrecision; i < n; ++i) v *= 10;
  return v;
}

// Little-endian fixed-size values written with one append each.
void put16(ByteWriter& w, uint16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  w.bytes(b, sizeof b);
}
void put32(ByteWriter& w, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
  w.bytes(b, sizeof b);
}
void put32x2(ByteWriter& w, uint32_t first, uint32_t second) {
  const uint8_t b[8] = {static_cast<uint8_t>(first),       static_cast<uint8_t>(first >> 8),
                        static_cast<uint8_t>(first >> 16), static_cast<uint8_t>(first >> 24),
                        static_cast<uint8_t>(second),      static_cast<uint8_t>(second >> 8),
                        static_cast<uint8_t>(second >> 16), static_cast<uint8_t>(second >> 24)};
  w.bytes(b, sizeof b);
}

// Rescales an exact decimal, rounding half away from zero.
__int128 rescale(const Decimal& d, int scale) {
  if (scale >= d.scale) return d.unscaled * pow10(scale - d.scale);
  __int128 div = pow10(d.scale - scale);
  __int128 q = d.unscaled / div;
  __int128 r = d.unscaled % div;
  if (r < 0) r = -r;
  if (r * 2 >= div) q += d.unscaled < 0 ? -1 : 1;
  return q;
}

int64_t asInteger(const ColumnDesc& c, const Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  if (auto* d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d) || std::fabs(*d) > 9.2e18) mismatch(c, "is out of range");
    return static_cast<int64_t>(*d);
  }
  if (auto* m = std::get_if<Decimal>(&v)) {
    __int128 q = m->unscaled / pow10(m->scale);
    if (q > std::numeric_limits<int64_t>::max() || q < std::numeric_limits<int64_t>::min())
      mismatch(c, "is out of range");
    return static_cast<int64_t>(q);
  }
  mismatch(c, "is not a number");
}

double asDouble(const ColumnDesc& c, const Value& v) {
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  if (auto* m = std::get_if<Decimal>(&v)) return static_cast<double>(m->unscaled) / std::pow(10.0, m->scale);
  mismatch(c, "is not a number");
}

// The value as unscaled × 10^-scale.
__int128 asScaled(const ColumnDesc& c, const Value& v, int scale) {
  if (auto* m = std::get_if<Decimal>(&v)) return rescale(*m, scale);
  if (auto* i = std::get_if<int64_t>(&v)) return static_cast<__int128>(*i) * pow10(scale);
  if (auto* d = std::get_if<double>(&v)) {
    double scaled = std::round(*d * std::pow(10.0, scale));
    if (!std::isfinite(scaled) || std::fabs(scaled) > 1e37) mismatch(c, "is out of range");
    return static_cast<__int128>(scaled);
  }
  mismatch(c, "is not a number");
}

std::string_view asText(const ColumnDesc& c, const Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  if (auto* b = std::get_if<Bytes>(&v)) return {reinterpret_cast<const char*>(b->data()), b->size()};
  mismatch(c, "is not a string");
}

const DateTime& asDateTime(const ColumnDesc& c, const Value& v) {
  if (auto* d = std::get_if<DateTime>(&v)) return *d;
  mismatch(c, "is not a date");
}

void putInteger(ByteWriter& w, const ColumnDesc& c, int64_t v, int size) {
  switch (size) {
    case 1:
      if (v < 0 || v > 255) mismatch(c, "is out of range for tinyint");
      w.u8(static_cast<uint8_t>(v));
      break;
    case 2:
      if (v < -32768 || v > 32767) mismatch(c, "is out of range for smallint");
      put16(w, static_cast<uint16_t>(v));
      break;
    default:
      if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        mismatch(c, "is out of range for int");
      put32(w, static_cast<uint32_t>(static_cast<int32_t>(v)));
      break;
  }
}

void putFloat(ByteWriter& w, double v, int size) {
  if (size == 4) {
    float f = static_cast<float>(v);
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put32(w, bits);
  } else {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    put32x2(w, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32));
  }
}

void putMoney(ByteWriter& w, const ColumnDesc& c, const Value& v, int size) {
  __int128 units = asScaled(c, v, 4);
  if (size == 4) {
    if (units < std::numeric_limits<int32_t>::min() || units > std::numeric_limits<int32_t>::max())
      mismatch(c, "is out of range for smallmoney");
    put32(w, static_cast<uint32_t>(static_cast<int32_t>(units)));
    return;
  }
  if (units < std::numeric_limits<int64_t>::min() || units > std::numeric_limits<int64_t>::max())
    mismatch(c, "is out of range for money");
  // money: the high 32 bits first, then the low 32 bits, each little-endian.
  auto u = static_cast<uint64_t>(static_cast<int64_t>(units));
  put32x2(w, static_cast<uint32_t>(u >> 32), static_cast<uint32_t>(u));
}

void putDateTime(ByteWriter& w, const ColumnDesc& c, const DateTime& d, int size) {
  if (size == 8) {
    put32x2(w, static_cast<uint32_t>(d.days), d.ticks);
    return;
  }
  // smalldatetime: unsigned days since 1900-01-01 and minutes since midnight, rounded.
  int64_t days = d.days;
  int64_t minutes = (static_cast<int64_t>(d.ticks) + 9000) / 18000;
  if (minutes >= 1440) {
    minutes -= 1440;
    ++days;
  }
  if (days < 0 || days > 65535) mismatch(c, "is out of range for smalldatetime");
  put32(w, static_cast<uint32_t>(days) | static_cast<uint32_t>(minutes) << 16);
}

void putNumeric(ByteWriter& w, const ColumnDesc& c, const WireFormat& f, const Value& v) {
  __int128 scaled = asScaled(c, v, f.scale);
  bool negative = scaled < 0;
  unsigned __int128 magnitude = negative ? -static_cast<unsigned __int128>(scaled) : scaled;
  if (magnitude >= static_cast<unsigned __int128>(pow10(f.precision)))
    mismatch(c, "does not fit its precision");
  // Length, sign, then the magnitude big-endian in maxLength - 1 bytes (16 for precision 38).
  const int n = f.maxLength - 1;
  if (n < 1 || n > 16) mismatch(c, "has a numeric length beyond 38 digits");
  uint8_t b[2 + 16];
  b[0] = static_cast<uint8_t>(f.maxLength);
  b[1] = negative ? 1 : 0;
  for (int i = 0; i < n; ++i) b[2 + i] = static_cast<uint8_t>(magnitude >> (8 * (n - 1 - i)));
  w.bytes(b, static_cast<size_t>(2 + n));
}

// Longest prefix of s, at most n bytes, that does not end inside a UTF-8 sequence.
std::string_view cutUtf8(std::string_view s, size_t n) {
  if (s.size() <= n) return s;
  size_t end = n;
  while (end > 0 && (static_cast<uint8_t>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

void encodeValue(ByteWriter& w, const ColumnDesc& c, const WireFormat& f, const Value& v,
                 const ValueContext& ctx, size_t column) {
  const bool null = isNull(v);
  const bool character =
      c.type.type == SqlType::Char || c.type.type == SqlType::VarChar || c.type.type == SqlType::Text;
  if (null && !f.nullable && !isOneByteLength(f.type) && !isLong(f.type) && !isBlob(f.type) &&
      !isNumeric(f.type))
    mismatch(c, "is NULL in a NOT NULL column");
  switch (f.type) {
    case WireType::Int1:
      return putInteger(w, c, asInteger(c, v), 1);
    case WireType::Int2:
      return putInteger(w, c, asInteger(c, v), 2);
    case WireType::Int4:
      return putInteger(w, c, asInteger(c, v), 4);
    case WireType::Bit:
      return w.u8(asInteger(c, v) != 0 ? 1 : 0);
    case WireType::Real:
      return putFloat(w, asDouble(c, v), 4);
    case WireType::Float:
      return putFloat(w, asDouble(c, v), 8);
    case WireType::Money:
      return putMoney(w, c, v, 8);
    case WireType::Money4:
      return putMoney(w, c, v, 4);
    case WireType::DateTime:
      return putDateTime(w, c, asDateTime(c, v), 8);
    case WireType::DateTime4:
      return putDateTime(w, c, asDateTime(c, v), 4);
    case WireType::IntN:
    case WireType::BitN:
    case WireType::FloatN:
    case WireType::MoneyN:
    case WireType::DateTimeN: {
      if (null) return w.u8(0);
      int size = f.maxLength;
      w.u8(static_cast<uint8_t>(size));
      if (f.type == WireType::IntN) return putInteger(w, c, asInteger(c, v), size);
      if (f.type == WireType::BitN) return w.u8(asInteger(c, v) != 0 ? 1 : 0);
      if (f.type == WireType::FloatN) return putFloat(w, asDouble(c, v), size);
      if (f.type == WireType::MoneyN) return putMoney(w, c, v, size);
      return putDateTime(w, c, asDateTime(c, v), size);
    }
    case WireType::Numeric:
    case WireType::Decimal:
      if (null) return w.u8(0);
      return putNumeric(w, c, f, v);
    case WireType::Char:
    case WireType::VarChar:
    case WireType::Binary:
    case WireType::VarBinary:
    case WireType::LongChar:
    case WireType::LongBinary: {
      const bool longType = isLong(f.type);
      if (null) return longType ? w.i32(0) : w.u8(0);
      std::string_view s = asText(c, v);
      size_t limit = static_cast<size_t>(f.maxLength);
      s = character ? cutUtf8(s, limit) : s.substr(0, limit);
      // Length 0 reads as NULL: an empty string goes out as one space (one zero byte for binary).
      static const char kSpace = ' ', kZero = '\0';
      if (s.empty()) s = std::string_view(character ? &kSpace : &kZero, 1);
      if (longType)
        w.i32(static_cast<int32_t>(s.size()));
      else
        w.u8(static_cast<uint8_t>(s.size()));
      return w.text(s);
    }
    case WireType::Text:
    case WireType::Image: {
      if (null) return w.u8(0);
      std::string_view s = asText(c, v);
      size_t limit = ctx.textSize > 0 ? static_cast<size_t>(ctx.textSize) : 32768;
      s = character ? cutUtf8(s, limit) : s.substr(0, limit);
      // A text pointer unique per row and column, and a timestamp; writetext hands both back.
      w.u8(16);
      w.text("TBLNPTR");
      w.u8(static_cast<uint8_t>(column));
      for (int i = 0; i < 8; ++i) w.u8(static_cast<uint8_t>(ctx.rowNumber >> (8 * i)));
      w.text("TBLNSTMP");
      w.i32(static_cast<int32_t>(s.size()));
      return w.text(s);
    }
  }
  mismatch(c, "has an unknown wire type");
}

}  // namespace

int numericBytes(int precision) { return numericLength(std::clamp(precision, 1, kMaxPrecision)); }

WireFormat wireFormatFor(const ColumnDesc& c) {
  WireFormat f;
  f.nullable = c.nullable;
  const bool n = c.nullable;
  const int32_t length = std::max<int32_t>(c.type.length, 1);
  switch (c.type.type) {
    case SqlType::Char:
      f.type = length <= 255 ? WireType::Char : WireType::LongChar;
      f.maxLength = length;
      break;
    case SqlType::VarChar:
      f.type = length <= 255 ? WireType::VarChar : WireType::LongChar;
      f.maxLength = length;
      break;
    case SqlType::Binary:
      f.type = length <= 255 ? WireType::Binary : WireType::LongBinary;
      f.maxLength = length;
      break;
    case SqlType::VarBinary:
      f.type = length <= 255 ? WireType::VarBinary : WireType::LongBinary;
      f.maxLength = length;
      break;
    case SqlType::Text:
    case SqlType::Image:
      f.type = c.type.type == SqlType::Text ? WireType::Text : WireType::Image;
      f.maxLength = c.type.length > 0 ? c.type.length : kMaxBlobLength;
      break;
    case SqlType::TinyInt:
      f.type = n ? WireType::IntN : WireType::Int1;
      f.maxLength = n ? 1 : 0;
      break;
    case SqlType::SmallInt:
      f.type = n ? WireType::IntN : WireType::Int2;
      f.maxLength = n ? 2 : 0;
      break;
    case SqlType::Int:
      f.type = n ? WireType::IntN : WireType::Int4;
      f.maxLength = n ? 4 : 0;
      break;
    case SqlType::Real:
      f.type = n ? WireType::FloatN : WireType::Real;
      f.maxLength = n ? 4 : 0;
      break;
    case SqlType::Float:
      f.type = n ? WireType::FloatN : WireType::Float;
      f.maxLength = n ? 8 : 0;
      break;
    case SqlType::Bit:
      f.type = n ? WireType::BitN : WireType::Bit;
      f.maxLength = n ? 1 : 0;
      break;
    case SqlType::DateTime:
      f.type = n ? WireType::DateTimeN : WireType::DateTime;
      f.maxLength = n ? 8 : 0;
      break;
    case SqlType::SmallDateTime:
      f.type = n ? WireType::DateTimeN : WireType::DateTime4;
      f.maxLength = n ? 4 : 0;
      break;
    case SqlType::Money:
      f.type = n ? WireType::MoneyN : WireType::Money;
      f.maxLength = n ? 8 : 0;
      break;
    case SqlType::SmallMoney:
      f.type = n ? WireType::MoneyN : WireType::Money4;
      f.maxLength = n ? 4 : 0;
      break;
    case SqlType::Numeric:
    case SqlType::Decimal:
      f.type = c.type.type == SqlType::Numeric ? WireType::Numeric : WireType::Decimal;
      f.precision = static_cast<uint8_t>(std::clamp<int>(c.type.precision, 1, kMaxPrecision));
      f.scale = std::min(c.type.scale, f.precision);
      f.maxLength = numericBytes(f.precision);
      break;
  }
  return f;
}

Bytes encodeRowFormat(const std::vector<ColumnDesc>& columns) {
  return encodeFormatToken(Token::RowFmt, columns);
}

Bytes encodeParamFormat(const std::vector<ColumnDesc>& params) {
  return encodeFormatToken(Token::ParamFmt, params);
}

void encodeValues(ByteWriter& out, const std::vector<ColumnDesc>& columns,
                  const std::vector<WireFormat>& formats, const std::vector<Value>& values,
                  const ValueContext& context) {
  if (values.size() != columns.size() || formats.size() != columns.size())
    throw std::invalid_argument("row has " + std::to_string(values.size()) + " values for " +
                                std::to_string(columns.size()) + " columns");
  for (size_t i = 0; i < columns.size(); ++i) encodeValue(out, columns[i], formats[i], values[i], context, i);
}

Bytes encodeRow(const std::vector<ColumnDesc>& columns, const std::vector<WireFormat>& formats,
                const std::vector<Value>& values, const ValueContext& context) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::Row));
  encodeValues(w, columns, formats, values, context);
  return out;
}

Bytes encodeComputeNames(uint16_t id, const std::vector<ComputeColumn>& columns) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::AltName));
  size_t at = w.size();
  w.u16(0);
  w.u16(id);
  for (const ComputeColumn& c : columns) w.text8(c.desc.name);
  if (out.size() - at - 2 > 0xFFFF) throw std::invalid_argument("compute names too long");
  w.patch16(at, static_cast<uint16_t>(out.size() - at - 2));
  return out;
}

Bytes encodeComputeFormat(uint16_t id, const std::vector<ComputeColumn>& columns,
                          const std::vector<uint8_t>& byList) {
  if (columns.empty() || columns.size() > 255 || byList.size() > 255)
    throw std::invalid_argument("a compute needs 1 to 255 columns and at most 255 BY columns");
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::AltFmt));
  size_t at = w.size();
  w.u16(0);
  w.u16(id);
  w.u8(static_cast<uint8_t>(columns.size()));
  for (const ComputeColumn& c : columns) {
    // FreeTDS dereferences the operand's select-list column: it must name a real one.
    if (c.operand == 0) throw std::invalid_argument("compute column without an operand");
    w.u8(c.op);
    w.u8(c.operand);
    w.i32(c.desc.userType);
    encodeTypeInfo(w, c.desc, wireFormatFor(c.desc));
    w.u8(0);
  }
  w.u8(static_cast<uint8_t>(byList.size()));
  for (uint8_t b : byList) w.u8(b);
  if (out.size() - at - 2 > 0xFFFF) throw std::invalid_argument("compute format too long");
  w.patch16(at, static_cast<uint16_t>(out.size() - at - 2));
  return out;
}

Bytes encodeComputeRow(uint16_t id, const std::vector<ColumnDesc>& columns,
                       const std::vector<WireFormat>& formats, const std::vector<Value>& values,
                       const ValueContext& context) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::AltRow));
  w.u16(id);
  encodeValues(w, columns, formats, values, context);
  return out;
}

Bytes encodeParams(const std::vector<ColumnDesc>& params, const std::vector<WireFormat>& formats,
                   const std::vector<Value>& values, const ValueContext& context) {
  Bytes out;
  ByteWriter w(out);
  w.u8(static_cast<uint8_t>(Token::Params));
  encodeValues(w, params, formats, values, context);
  return out;
}

}  // namespace tabsrv::tds
