// Parameter decoding. FreeTDS sends CS_INT/SMALLINT/TINYINT as INTN, FLOAT/REAL as FLTN,
// DATETIME as DATETIMN, MONEY as MONEYN, BIT as fixed BIT, CHAR as CHAR with length = maxlength;
// other clients send the fixed types and BITN (a length byte and a value: two bytes). A length
// of 0 is NULL for every length-prefixed type, so an empty string arrives as one space.
#include "server/tds/param_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "server/tds/data_format.h"

namespace tabsrv::tds {

namespace {

// Wire types clients use that the row writer never sends.
constexpr uint8_t kInt8 = 0xBF;

[[noreturn]] void bad(const std::string& why) {
  throw ProtocolError(ProtocolError::Kind::BadPacket, why);
}

// How one parameter's value is laid out.
struct ParamShape {
  uint8_t type = 0;
  int lengthBytes = 0;  // 0 fixed, 1, 4, or -1 for text/image
  size_t fixedSize = 0;
  int32_t maxLength = 0;
  uint8_t precision = 0;
  uint8_t scale = 0;
};

TypeDesc typeFor(const ParamShape& s, size_t length) {
  auto len = static_cast<int32_t>(length);
  switch (s.type) {
    case 0x30:
      return {SqlType::TinyInt, 1};
    case 0x34:
      return {SqlType::SmallInt, 2};
    case 0x38:
      return {SqlType::Int, 4};
    case kInt8:
      return {SqlType::Numeric, 9, 19, 0};
    case 0x26:
      if (length == 1) return {SqlType::TinyInt, 1};
      if (length == 2) return {SqlType::SmallInt, 2};
      if (length == 4) return {SqlType::Int, 4};
      return {SqlType::Numeric, 9, 19, 0};
    case 0x32:
    case 0x68:
      return {SqlType::Bit, 1};
    case 0x3B:
      return {SqlType::Real, 4};
    case 0x3E:
      return {SqlType::Float, 8};
    case 0x6D:
      return length == 4 ? TypeDesc{SqlType::Real, 4} : TypeDesc{SqlType::Float, 8};
    case 0x3C:
      return {SqlType::Money, 8};
    case 0x7A:
      return {SqlType::SmallMoney, 4};
    case 0x6E:
      return length == 4 ? TypeDesc{SqlType::SmallMoney, 4} : TypeDesc{SqlType::Money, 8};
    case 0x3D:
      return {SqlType::DateTime, 8};
    case 0x3A:
      return {SqlType::SmallDateTime, 4};
    case 0x6F:
      return length == 4 ? TypeDesc{SqlType::SmallDateTime, 4} : TypeDesc{SqlType::DateTime, 8};
    case 0x6C:
      return {SqlType::Numeric, len, s.precision, s.scale};
    case 0x6A:
      return {SqlType::Decimal, len, s.precision, s.scale};
    case 0x2F:
      return {SqlType::Char, len};
    case 0x27:
    case 0xAF:
      return {SqlType::VarChar, len};
    case 0x2D:
      return {SqlType::Binary, len};
    case 0x25:
    case 0xE1:
      return {SqlType::VarBinary, len};
    case 0x23:
      return {SqlType::Text, len};
    case 0x22:
      return {SqlType::Image, len};
    default:
      bad("unknown parameter type");
  }
}

// Reads one format entry: name, status, user type, type, type info, locale.
ParamValue readFormat(ByteReader& in, bool wide, ParamShape& shape) {
  ParamValue p;
  p.name = in.text(in.u8());
  uint32_t status = wide ? in.u32() : in.u8();
  p.output = (status & 0x01) != 0;
  p.format.userType = in.i32();
  shape.type = in.u8();
  switch (shape.type) {
    case 0x30:
    case 0x32:
      shape.fixedSize = 1;
      break;
    case 0x34:
      shape.fixedSize = 2;
      break;
    case 0x38:
    case 0x3B:
    case 0x3A:
    case 0x7A:
      shape.fixedSize = 4;
      break;
    case 0x3E:
    case 0x3D:
    case 0x3C:
    case kInt8:
      shape.fixedSize = 8;
      break;
    case 0x26:
    case 0x68:
    case 0x6D:
    case 0x6E:
    case 0x6F:
    case 0x2F:
    case 0x27:
    case 0x2D:
    case 0x25:
      shape.lengthBytes = 1;
      shape.maxLength = in.u8();
      break;
    case 0x6C:
    case 0x6A:
      shape.lengthBytes = 1;
      shape.maxLength = in.u8();
      shape.precision = in.u8();
      shape.scale = in.u8();
      if (shape.precision < 1 || shape.precision > 38 || shape.scale > shape.precision)
        bad("numeric parameter with precision " + std::to_string(shape.precision) + " and scale " +
            std::to_string(shape.scale));
      break;
    case 0xAF:
    case 0xE1:
      shape.lengthBytes = 4;
      shape.maxLength = in.i32();
      break;
    case 0x23:
    case 0x22:
      shape.lengthBytes = -1;
      shape.maxLength = in.i32();
      in.skip(in.u16());  // table name
      break;
    default: {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", shape.type);
      bad(std::string("unknown parameter type ") + hex);
    }
  }
  in.skip(in.u8());  // locale
  return p;
}

int64_t signedLe(const std::string& b) {
  uint64_t v = 0;
  for (size_t i = b.size(); i-- > 0;) v = (v << 8) | static_cast<uint8_t>(b[i]);
  if (b.size() < 8 && b.size() > 0 && (static_cast<uint8_t>(b.back()) & 0x80))
    v |= ~uint64_t{0} << (8 * b.size());
  return static_cast<int64_t>(v);
}

uint64_t unsignedLe(const std::string& b, size_t at, size_t n) {
  uint64_t v = 0;
  for (size_t i = n; i-- > 0;) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

Value decodeMoney(const std::string& b) {
  if (b.size() == 4) return Decimal{signedLe(b), 4};
  // money: the high 32 bits first, then the low 32 bits.
  uint64_t high = unsignedLe(b, 0, 4), low = unsignedLe(b, 4, 4);
  return Decimal{static_cast<int64_t>((high << 32) | low), 4};
}

Value decodeDateTime(const std::string& b) {
  if (b.size() == 4)
    return DateTime{static_cast<int32_t>(unsignedLe(b, 0, 2)),
                    static_cast<uint32_t>(unsignedLe(b, 2, 2)) * 18000};
  return DateTime{static_cast<int32_t>(unsignedLe(b, 0, 4)), static_cast<uint32_t>(unsignedLe(b, 4, 4))};
}

Value decodeFloat(const std::string& b) {
  if (b.size() == 4) {
    float f;
    std::memcpy(&f, b.data(), 4);
    return static_cast<double>(f);
  }
  double d;
  uint64_t bits = unsignedLe(b, 0, 8);
  std::memcpy(&d, &bits, 8);
  return d;
}

Value decodeNumeric(const std::string& b, const ParamShape& s) {
  // A sign byte (0 positive, 1 negative), then the magnitude big-endian.
  unsigned __int128 magnitude = 0;
  for (size_t i = 1; i < b.size(); ++i) {
    if (magnitude >> 120) bad("numeric parameter does not fit 38 digits");
    magnitude = (magnitude << 8) | static_cast<uint8_t>(b[i]);
  }
  unsigned __int128 limit = 1;
  for (int i = 0; i < 38; ++i) limit *= 10;
  if (magnitude >= limit) bad("numeric parameter does not fit 38 digits");
  auto v = static_cast<__int128>(magnitude);
  return Decimal{b[0] ? -v : v, s.scale};
}

// Checks the length of a fixed-size value inside a length-prefixed type.
void expectSize(const std::string& b, std::initializer_list<size_t> sizes, const char* what) {
  for (size_t n : sizes)
    if (b.size() == n) return;
  bad(std::string(what) + " parameter of " + std::to_string(b.size()) + " bytes");
}

Value decodeValue(ByteReader& in, const ParamShape& s, size_t& length) {
  std::string b;
  if (s.lengthBytes == 0) {
    b = in.text(s.fixedSize);
  } else if (s.lengthBytes == 1) {
    b = in.text(in.u8());
    if (b.empty()) return std::monostate{};
  } else if (s.lengthBytes == 4) {
    uint32_t n = in.u32();
    if (n > in.remaining()) bad("parameter value runs past the message");
    b = in.text(n);
    if (b.empty()) return std::monostate{};
  } else {
    // text/image: pointer length (0 = NULL), pointer, timestamp, length, data.
    uint8_t pointer = in.u8();
    if (pointer == 0) return std::monostate{};
    in.skip(pointer);
    in.skip(8);
    uint32_t n = in.u32();
    if (n > in.remaining()) bad("parameter value runs past the message");
    b = in.text(n);
  }
  length = b.size();
  switch (s.type) {
    case 0x30:
      return int64_t{static_cast<uint8_t>(b[0])};
    case 0x34:
    case 0x38:
      return signedLe(b);
    case kInt8:
      return Decimal{signedLe(b), 0};
    case 0x26:
      expectSize(b, {1, 2, 4, 8}, "integer");
      if (b.size() == 1) return int64_t{static_cast<uint8_t>(b[0])};
      if (b.size() == 8) return Decimal{signedLe(b), 0};
      return signedLe(b);
    case 0x32:
    case 0x68:
      expectSize(b, {1}, "bit");
      return int64_t{b[0] != 0 ? 1 : 0};
    case 0x3B:
    case 0x3E:
    case 0x6D:
      expectSize(b, {4, 8}, "float");
      return decodeFloat(b);
    case 0x3C:
    case 0x7A:
    case 0x6E:
      expectSize(b, {4, 8}, "money");
      return decodeMoney(b);
    case 0x3D:
    case 0x3A:
    case 0x6F:
      expectSize(b, {4, 8}, "datetime");
      return decodeDateTime(b);
    case 0x6C:
    case 0x6A:
      if (b.size() < 2) bad("numeric parameter of " + std::to_string(b.size()) + " bytes");
      return decodeNumeric(b, s);
    case 0x2F:
    case 0x27:
    case 0xAF:
    case 0x23:
      return b;
    default:
      return Bytes(b.begin(), b.end());
  }
}

}  // namespace

bool paramsFollow(const ByteReader& in) {
  if (in.atEnd()) return false;
  uint8_t t = in.peek();
  return t == static_cast<uint8_t>(Token::ParamFmt) || t == static_cast<uint8_t>(Token::ParamFmt2);
}

std::vector<ParamValue> readParams(ByteReader& in) {
  const uint8_t token = in.u8();
  const bool wide = token == static_cast<uint8_t>(Token::ParamFmt2);
  if (token != static_cast<uint8_t>(Token::ParamFmt) && !wide) bad("expected a parameter format");
  const size_t length = wide ? in.u32() : in.u16();
  if (length > in.remaining() || length < 2)
    bad("parameter format length " + std::to_string(length) + " does not fit its message");
  const size_t end = in.position() + length;
  const uint16_t count = in.u16();
  std::vector<ParamValue> params;
  std::vector<ParamShape> shapes;
  for (uint16_t i = 0; i < count; ++i) {
    if (in.position() >= end) bad("parameter format ends before its parameters");
    ParamShape shape;
    params.push_back(readFormat(in, wide, shape));
    shapes.push_back(shape);
  }
  if (in.position() != end) bad("parameter format length disagrees with its parameters");
  if (in.atEnd() || in.u8() != static_cast<uint8_t>(Token::Params))
    bad("parameter format without parameter values");
  for (size_t i = 0; i < params.size(); ++i) {
    size_t valueLength = 0;
    params[i].value = decodeValue(in, shapes[i], valueLength);
    // A NULL of a length-prefixed type has no length of its own: describe it by its format.
    size_t described = shapes[i].lengthBytes == 0 ? shapes[i].fixedSize
                       : isNull(params[i].value) || shapes[i].lengthBytes != 1 || shapes[i].type == 0x2F ||
                               shapes[i].type == 0x27 || shapes[i].type == 0x2D || shapes[i].type == 0x25
                           ? static_cast<size_t>(std::max<int32_t>(shapes[i].maxLength, 1))
                           : valueLength;
    if (shapes[i].type == 0x6C || shapes[i].type == 0x6A)
      described = static_cast<size_t>(numericBytes(shapes[i].precision));
    params[i].format.name = params[i].name;
    params[i].format.type = typeFor(shapes[i], described);
    params[i].format.nullable = true;
  }
  return params;
}

}  // namespace tabsrv::tds
