// The family's type codes and names, and the mapping between them and TypeDesc.
#include "server/types/type_codes.h"

#include <algorithm>
#include <cctype>

namespace tabsrv {
namespace {

struct TypeRow {
  SqlType type;
  int32_t code;
  int32_t usertype;
  int32_t length;  // fixed length, or the default for variable-length types
  std::string_view name;
  std::string_view messageName;
};

// One row per SqlType, in the enum's order.
constexpr TypeRow kTypes[] = {
    {SqlType::Char, kCodeChar, kUserChar, 1, "char", "CHAR"},
    {SqlType::VarChar, kCodeVarChar, kUserVarChar, 1, "varchar", "VARCHAR"},
    {SqlType::Binary, kCodeBinary, kUserBinary, 1, "binary", "BINARY"},
    {SqlType::VarBinary, kCodeVarBinary, kUserVarBinary, 1, "varbinary", "VARBINARY"},
    {SqlType::Text, kCodeText, kUserText, 16, "text", "TEXT"},
    {SqlType::Image, kCodeImage, kUserImage, 16, "image", "IMAGE"},
    {SqlType::TinyInt, kCodeTinyInt, kUserTinyInt, 1, "tinyint", "TINYINT"},
    {SqlType::SmallInt, kCodeSmallInt, kUserSmallInt, 2, "smallint", "SMALLINT"},
    {SqlType::Int, kCodeInt, kUserInt, 4, "int", "INT"},
    {SqlType::Real, kCodeReal, kUserReal, 4, "real", "REAL"},
    {SqlType::Float, kCodeFloat, kUserFloat, 8, "float", "FLOAT"},
    {SqlType::Bit, kCodeBit, kUserBit, 1, "bit", "BIT"},
    {SqlType::DateTime, kCodeDateTime, kUserDateTime, 8, "datetime", "DATETIME"},
    {SqlType::SmallDateTime, kCodeSmallDateTime, kUserSmallDateTime, 4, "smalldatetime", "SMALLDATETIME"},
    {SqlType::Money, kCodeMoney, kUserMoney, 8, "money", "MONEY"},
    {SqlType::SmallMoney, kCodeSmallMoney, kUserSmallMoney, 4, "smallmoney", "SMALLMONEY"},
    {SqlType::Numeric, kCodeNumeric, kUserNumeric, 0, "numeric", "NUMERIC"},
    {SqlType::Decimal, kCodeDecimal, kUserDecimal, 0, "decimal", "DECIMAL"},
};

const TypeRow& row(SqlType t) {
  return kTypes[static_cast<int>(t)];
}

std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

}  // namespace

int32_t typeCode(SqlType type) {
  return row(type).code;
}

int32_t columnTypeCode(const TypeDesc& type, bool nullable) {
  if (!nullable) return typeCode(type.type);
  switch (type.type) {
    case SqlType::Char:
      return kCodeVarChar;
    case SqlType::Binary:
      return kCodeVarBinary;
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
      return kCodeIntN;
    case SqlType::Real:
    case SqlType::Float:
      return kCodeFloatN;
    case SqlType::Money:
    case SqlType::SmallMoney:
      return kCodeMoneyN;
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
      return kCodeDateTimeN;
    case SqlType::Numeric:
      return kCodeNumericN;
    case SqlType::Decimal:
      return kCodeDecimalN;
    default:
      return typeCode(type.type);
  }
}

int32_t userTypeOf(SqlType type) {
  return row(type).usertype;
}

int32_t systemUserTypeOf(std::string_view name) {
  std::string n;
  for (char ch : name) {
    if (ch == ' ' || ch == '\t') {
      if (!n.empty() && n.back() != ' ') n += ' ';
    } else {
      n += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
  }
  while (!n.empty() && n.back() == ' ') n.pop_back();
  if (n == "nchar" || n == "national char" || n == "national character") return kUserNChar;
  if (n == "nvarchar" || n == "national varchar" || n == "nchar varying" || n == "national char varying" ||
      n == "national character varying")
    return kUserNVarChar;
  if (n == "sysname") return kUserSysname;
  if (n == "timestamp") return kUserTimestamp;
  return 0;
}

TypeDesc makeType(SqlType type, int32_t length, uint8_t precision, uint8_t scale) {
  TypeDesc d;
  d.type = type;
  const TypeRow& r = row(type);
  switch (type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::Binary:
    case SqlType::VarBinary:
      d.length = length > 0 ? length : 1;
      break;
    case SqlType::Text:
    case SqlType::Image:
      d.length = 16;
      break;
    case SqlType::Numeric:
    case SqlType::Decimal:
      d.precision = precision > 0 ? precision : 18;
      d.scale = scale;
      d.length = numericLength(d.precision);
      break;
    default:
      d.length = r.length;
      break;
  }
  return d;
}

std::optional<TypeDesc> typeFromCode(int32_t code, int32_t length, int32_t precision, int32_t scale) {
  auto p = static_cast<uint8_t>(precision);
  auto s = static_cast<uint8_t>(scale);
  switch (code) {
    case kCodeIntN:
      if (length == 1) return makeType(SqlType::TinyInt);
      if (length == 2) return makeType(SqlType::SmallInt);
      return makeType(SqlType::Int);
    case kCodeFloatN:
      return makeType(length == 4 ? SqlType::Real : SqlType::Float);
    case kCodeMoneyN:
      return makeType(length == 4 ? SqlType::SmallMoney : SqlType::Money);
    case kCodeDateTimeN:
      return makeType(length == 4 ? SqlType::SmallDateTime : SqlType::DateTime);
    case kCodeNumericN:
      return makeType(SqlType::Numeric, 0, p, s);
    case kCodeDecimalN:
      return makeType(SqlType::Decimal, 0, p, s);
    default:
      break;
  }
  for (const TypeRow& r : kTypes) {
    if (r.code == code) return makeType(r.type, length, p, s);
  }
  return std::nullopt;
}

std::optional<TypeDesc> typeFromUserType(int32_t usertype, int32_t length, int32_t precision, int32_t scale) {
  auto p = static_cast<uint8_t>(precision);
  auto s = static_cast<uint8_t>(scale);
  switch (usertype) {
    case kUserIntN:
      return typeFromCode(kCodeIntN, length);
    case kUserFloatN:
      return typeFromCode(kCodeFloatN, length);
    case kUserDateTimeN:
      return typeFromCode(kCodeDateTimeN, length);
    case kUserMoneyN:
      return typeFromCode(kCodeMoneyN, length);
    case kUserSysname:
      return makeType(SqlType::VarChar, length > 0 ? length : 30);
    case kUserNChar:
      return makeType(SqlType::Char, length);
    case kUserNVarChar:
      return makeType(SqlType::VarChar, length);
    case kUserDecimalN:
      return makeType(SqlType::Decimal, 0, p, s);
    case kUserNumericN:
      return makeType(SqlType::Numeric, 0, p, s);
    case kUserTimestamp:
      return makeType(SqlType::VarBinary, 8);
    default:
      break;
  }
  for (const TypeRow& r : kTypes) {
    if (r.usertype == usertype) return makeType(r.type, length, p, s);
  }
  return std::nullopt;
}

std::string_view typeName(SqlType type) {
  return row(type).name;
}
std::string_view typeMessageName(SqlType type) {
  return row(type).messageName;
}

std::string typeSql(const TypeDesc& type) {
  std::string s(typeName(type.type));
  switch (type.type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::Binary:
    case SqlType::VarBinary:
      s += "(" + std::to_string(type.length) + ")";
      break;
    case SqlType::Numeric:
    case SqlType::Decimal:
      s += "(" + std::to_string(type.precision) + "," + std::to_string(type.scale) + ")";
      break;
    default:
      break;
  }
  return s;
}

std::optional<TypeDesc> typeFromName(std::string_view name, int32_t length, int32_t precision,
                                     int32_t scale) {
  std::string n = lower(name);
  // Collapse inner blanks so "double  precision" matches.
  std::string c;
  for (char ch : n) {
    if (ch == ' ' || ch == '\t') {
      if (!c.empty() && c.back() != ' ') c += ' ';
    } else {
      c += ch;
    }
  }
  while (!c.empty() && c.back() == ' ') c.pop_back();
  struct Alias {
    std::string_view name;
    SqlType type;
  };
  static constexpr Alias kAliases[] = {
      {"integer", SqlType::Int},
      {"dec", SqlType::Decimal},
      {"double precision", SqlType::Float},
      {"character", SqlType::Char},
      {"char varying", SqlType::VarChar},
      {"character varying", SqlType::VarChar},
      {"nchar", SqlType::Char},
      {"nvarchar", SqlType::VarChar},
      {"national char", SqlType::Char},
      {"national character", SqlType::Char},
      {"national varchar", SqlType::VarChar},
  };
  std::optional<SqlType> t;
  for (const TypeRow& r : kTypes) {
    if (r.name == c) t = r.type;
  }
  for (const Alias& a : kAliases) {
    if (a.name == c) t = a.type;
  }
  if (c == "sysname") return makeType(SqlType::VarChar, 30);
  if (c == "timestamp") return makeType(SqlType::VarBinary, 8);
  if (!t) return std::nullopt;
  // float(p) with fewer than 16 digits of precision is the family's real.
  if (*t == SqlType::Float && precision > 0 && precision < 16) return makeType(SqlType::Real);
  if (*t == SqlType::Numeric || *t == SqlType::Decimal) {
    int p = precision > 0 ? precision : 18;
    int s = scale > 0 ? scale : 0;
    return makeType(*t, 0, static_cast<uint8_t>(p), static_cast<uint8_t>(s));
  }
  return makeType(*t, length > 0 ? length : 1);
}

bool isCharacterType(SqlType t) {
  return t == SqlType::Char || t == SqlType::VarChar || t == SqlType::Text;
}
bool isBinaryType(SqlType t) {
  return t == SqlType::Binary || t == SqlType::VarBinary || t == SqlType::Image;
}
bool isExactNumericType(SqlType t) {
  switch (t) {
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
    case SqlType::Bit:
    case SqlType::Numeric:
    case SqlType::Decimal:
    case SqlType::Money:
    case SqlType::SmallMoney:
      return true;
    default:
      return false;
  }
}
bool isNumericType(SqlType t) {
  return isExactNumericType(t) || t == SqlType::Real || t == SqlType::Float;
}
bool isDateTimeType(SqlType t) {
  return t == SqlType::DateTime || t == SqlType::SmallDateTime;
}

}  // namespace tabsrv
