// The family's datatype hierarchy and the result types of operators and aggregates.
#include "server/exec/type_rules.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "server/types/convert.h"

namespace tabsrv {

TypeClass typeClass(SqlType t) {
  switch (t) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::Text:
      return TypeClass::String;
    case SqlType::Binary:
    case SqlType::VarBinary:
    case SqlType::Image:
      return TypeClass::Binary;
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
      return TypeClass::Integer;
    case SqlType::Bit:
      return TypeClass::Bit;
    case SqlType::Real:
    case SqlType::Float:
      return TypeClass::Approx;
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
      return TypeClass::DateTime;
    case SqlType::Money:
    case SqlType::SmallMoney:
      return TypeClass::Money;
    case SqlType::Numeric:
    case SqlType::Decimal:
      return TypeClass::Exact;
  }
  return TypeClass::String;
}

bool isStringType(SqlType t) {
  return typeClass(t) == TypeClass::String;
}

bool isArithmeticType(SqlType t) {
  switch (typeClass(t)) {
    case TypeClass::Integer:
    case TypeClass::Exact:
    case TypeClass::Money:
    case TypeClass::Approx:
    case TypeClass::Bit:
      return true;
    default:
      return false;
  }
}

int typeRank(SqlType t) {
  // The hierarchy from the top: float, datetime, smalldatetime, real, numeric, decimal, money,
  // smallmoney, int, smallint, tinyint, bit, text, varchar, char, varbinary, binary, image.
  switch (t) {
    case SqlType::Float:
      return 18;
    case SqlType::DateTime:
      return 17;
    case SqlType::SmallDateTime:
      return 16;
    case SqlType::Real:
      return 15;
    case SqlType::Numeric:
      return 14;
    case SqlType::Decimal:
      return 13;
    case SqlType::Money:
      return 12;
    case SqlType::SmallMoney:
      return 11;
    case SqlType::Int:
      return 10;
    case SqlType::SmallInt:
      return 9;
    case SqlType::TinyInt:
      return 8;
    case SqlType::Bit:
      return 7;
    case SqlType::Text:
      return 6;
    case SqlType::VarChar:
      return 5;
    case SqlType::Char:
      return 4;
    case SqlType::VarBinary:
      return 3;
    case SqlType::Binary:
      return 2;
    case SqlType::Image:
      return 1;
  }
  return 0;
}

TypeDesc fixedType(SqlType t) {
  TypeDesc d;
  d.type = t;
  d.length = fixedLength(t);
  switch (t) {
    case SqlType::Money:
      d.precision = 19;
      d.scale = 4;
      break;
    case SqlType::SmallMoney:
      d.precision = 10;
      d.scale = 4;
      break;
    case SqlType::Numeric:
    case SqlType::Decimal:
      d.precision = 18;
      d.scale = 0;
      d.length = numericLength(18);
      break;
    case SqlType::Text:
    case SqlType::Image:
      d.length = 2147483647;
      break;
    default:
      if (d.length == 0) d.length = 1;
      break;
  }
  return d;
}

std::pair<int, int> exactShape(const TypeDesc& t) {
  switch (t.type) {
    case SqlType::Bit:
      return {1, 0};
    case SqlType::TinyInt:
      return {3, 0};
    case SqlType::SmallInt:
      return {5, 0};
    case SqlType::Int:
      return {10, 0};
    case SqlType::Money:
      return {19, 4};
    case SqlType::SmallMoney:
      return {10, 4};
    default:
      return {t.precision, t.scale};
  }
}

static TypeDesc exactType(SqlType kind, int precision, int scale) {
  precision = std::clamp(precision, 1, 38);
  scale = std::clamp(scale, 0, precision);
  TypeDesc d;
  d.type = kind;
  d.precision = static_cast<uint8_t>(precision);
  d.scale = static_cast<uint8_t>(scale);
  d.length = numericLength(precision);
  return d;
}

TypeDesc numericType(int precision, int scale) {
  return exactType(SqlType::Numeric, precision, scale);
}

static const TypeDesc& higher(const TypeDesc& a, const TypeDesc& b) {
  return typeRank(a.type) >= typeRank(b.type) ? a : b;
}

std::optional<TypeDesc> arithmeticType(ArithOp op, const TypeDesc& a, const TypeDesc& b) {
  if (!isArithmeticType(a.type) || !isArithmeticType(b.type)) return std::nullopt;
  TypeClass ca = typeClass(a.type), cb = typeClass(b.type);
  if (ca == TypeClass::Approx || cb == TypeClass::Approx)
    return fixedType(a.type == SqlType::Float || b.type == SqlType::Float ? SqlType::Float : SqlType::Real);
  if (ca == TypeClass::Exact || cb == TypeClass::Exact) {
    auto [p1, s1] = exactShape(a);
    auto [p2, s2] = exactShape(b);
    SqlType kind =
        (a.type == SqlType::Numeric || b.type == SqlType::Numeric) ? SqlType::Numeric : SqlType::Decimal;
    switch (op) {
      case ArithOp::Add:
      case ArithOp::Sub:
      case ArithOp::Mod: {
        int s = std::max(s1, s2);
        return exactType(kind, std::max(p1 - s1, p2 - s2) + s + 1, s);
      }
      case ArithOp::Mul:
        return exactType(kind, p1 + p2 + 1, std::min(s1 + s2, 38));
      case ArithOp::Div: {
        int s = std::max(6, s1 + p2 + 1);
        int p = p1 - s1 + s2 + s;
        if (p > 38) s = std::max(std::min(s, 6), s - (p - 38));
        return exactType(kind, p, s);
      }
    }
  }
  if (ca == TypeClass::Money || cb == TypeClass::Money)
    return fixedType(a.type == SqlType::Money || b.type == SqlType::Money ? SqlType::Money
                                                                          : SqlType::SmallMoney);
  // Integers and bits: the higher of the two, with bit arithmetic giving int.
  TypeDesc r = fixedType(higher(a, b).type);
  if (r.type == SqlType::Bit) r = fixedType(SqlType::Int);
  return r;
}

TypeDesc concatType(const TypeDesc& a, const TypeDesc& b) {
  bool binary = typeClass(a.type) == TypeClass::Binary;
  TypeDesc d;
  d.type = binary ? SqlType::VarBinary : SqlType::VarChar;
  if (a.type == SqlType::Text || b.type == SqlType::Text) d.type = SqlType::Text;
  if (a.type == SqlType::Image || b.type == SqlType::Image) d.type = SqlType::Image;
  d.length = static_cast<int32_t>(std::min<int64_t>(int64_t{a.length} + b.length, 65535));
  if (d.type == SqlType::Text || d.type == SqlType::Image) d.length = 2147483647;
  return d;
}

TypeDesc commonType(const TypeDesc& a, const TypeDesc& b) {
  TypeClass ca = typeClass(a.type), cb = typeClass(b.type);
  if (ca == cb && (ca == TypeClass::String || ca == TypeClass::Binary)) {
    TypeDesc d = higher(a, b);
    d.length = std::max(a.length, b.length);
    return d;
  }
  if (ca == TypeClass::Exact || cb == TypeClass::Exact) {
    if (isArithmeticType(a.type) && isArithmeticType(b.type) && ca != TypeClass::Approx &&
        cb != TypeClass::Approx) {
      auto [p1, s1] = exactShape(a);
      auto [p2, s2] = exactShape(b);
      int s = std::max(s1, s2);
      SqlType kind = (a.type == SqlType::Numeric || b.type == SqlType::Numeric || ca != cb)
                         ? SqlType::Numeric
                         : SqlType::Decimal;
      if (ca == TypeClass::Exact && cb == TypeClass::Exact) kind = higher(a, b).type;
      return exactType(kind, std::max(p1 - s1, p2 - s2) + s, s);
    }
  }
  return higher(a, b);
}

bool implicitlyComparable(const TypeDesc& a, const TypeDesc& b) {
  TypeClass ca = typeClass(a.type), cb = typeClass(b.type);
  bool na = isArithmeticType(a.type), nb = isArithmeticType(b.type);
  if (na && nb) return true;
  if (ca == cb) return true;
  // Character data converts implicitly to dates and binaries, never to numbers.
  auto charPair = [&](TypeClass x, TypeClass y) { return (ca == x && cb == y) || (ca == y && cb == x); };
  if (charPair(TypeClass::String, TypeClass::DateTime)) return true;
  if (charPair(TypeClass::String, TypeClass::Binary)) return true;
  if ((ca == TypeClass::Binary && nb) || (cb == TypeClass::Binary && na)) return true;
  return false;
}

TypeDesc sumType(const TypeDesc& t) {
  switch (typeClass(t.type)) {
    case TypeClass::Integer:
    case TypeClass::Bit:
      return fixedType(SqlType::Int);
    case TypeClass::Exact:
      return exactType(t.type, 38, t.scale);
    case TypeClass::Money:
      return fixedType(SqlType::Money);
    case TypeClass::Approx:
      return fixedType(SqlType::Float);
    default:
      return t;
  }
}

TypeDesc avgType(const TypeDesc& t) {
  return sumType(t);
}

bool storableImplicitly(SqlType from, SqlType to) {
  if (isStringType(from) && isArithmeticType(to)) return false;
  return implicitConversionAllowed(from, to);
}

Value padFixedChar(Value v, const TypeDesc& t) {
  if (t.type != SqlType::Char) return v;
  if (auto* s = std::get_if<std::string>(&v); s && static_cast<int32_t>(s->size()) < t.length)
    s->append(static_cast<size_t>(t.length) - s->size(), ' ');
  return v;
}

}  // namespace tabsrv
