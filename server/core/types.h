// Datatypes, column descriptions and values shared by every layer of the local server.
// A Value travels from the executor to the protocol writer; its kind matches the column's type
// (see the table on Value). The storage representation inside SQLite is documented here too,
// because the generator, the catalogue and the built-in functions must all agree on it.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tabsrv {

// The classic server datatypes, in the order the catalogue lists them.
enum class SqlType : uint8_t {
  Char, VarChar, Binary, VarBinary, Text, Image,
  TinyInt, SmallInt, Int, Real, Float, Bit,
  DateTime, SmallDateTime, Money, SmallMoney, Numeric, Decimal,
};

// A datatype with its size: length in bytes (the maximum for char/binary/text/image),
// precision and scale for numeric/decimal.
struct TypeDesc {
  SqlType type = SqlType::Int;
  int32_t length = 4;
  uint8_t precision = 0;
  uint8_t scale = 0;
};

// One column of a result set (or a parameter of an output-parameter result).
struct ColumnDesc {
  std::string name;
  TypeDesc type;
  bool nullable = true;
  bool identity = false;
  bool updatable = false;
  bool key = false;
  bool hidden = false;
  int32_t userType = 0;   // systypes.usertype of the column's type
  std::string tableName;  // for text/image formats: the table the column belongs to
};

using Bytes = std::vector<uint8_t>;

// A point in time: days since 1900-01-01 (negative before) and 1/300-second ticks since midnight.
struct DateTime {
  int32_t days = 0;
  uint32_t ticks = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// An exact decimal: unscaled × 10^-scale. Money travels as a Decimal (any scale; the writer rescales).
struct Decimal {
  __int128 unscaled = 0;
  uint8_t scale = 0;
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

// A value as the executor hands it to the protocol writer.
//   integer types, bit          -> int64_t
//   real, float                 -> double
//   numeric, decimal, money(s)  -> Decimal
//   datetime, smalldatetime     -> DateTime
//   char, varchar, text         -> std::string (UTF-8)
//   binary, varbinary, image    -> Bytes
//   NULL                        -> std::monostate
//
// Inside SQLite every table column holds its type's canonical form:
//   integer types, bit          -> INTEGER
//   real, float                 -> REAL
//   char, varchar, text         -> TEXT, column declared COLLATE RTRIM (trailing blanks ignored)
//   binary, varbinary, image    -> BLOB
//   datetime, smalldatetime     -> TEXT 'YYYY-MM-DD HH:MM:SS.mmm' (mmm derived from the 1/300 s tick)
//   numeric, decimal, money(s)  -> TEXT canonical decimal ('-12.3400': exactly `scale` fraction
//                                  digits, no exponent, no '+'), column declared COLLATE t_decimal
// Computed expressions may come back from SQLite as INTEGER or REAL; the executor converts them
// to the expression's bound type.
using Value = std::variant<std::monostate, int64_t, double, Decimal, DateTime, std::string, Bytes>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// Bytes a value of a fixed-length type takes (tinyint and bit 1 ... float, datetime, money 8);
// 0 for the types whose length is declared (char, binary, text, numeric ...).
inline int32_t fixedLength(SqlType t) {
  switch (t) {
    case SqlType::TinyInt:
    case SqlType::Bit:
      return 1;
    case SqlType::SmallInt:
      return 2;
    case SqlType::Int:
    case SqlType::Real:
    case SqlType::SmallDateTime:
    case SqlType::SmallMoney:
      return 4;
    case SqlType::Float:
    case SqlType::DateTime:
    case SqlType::Money:
      return 8;
    default:
      return 0;
  }
}

// Bytes a numeric or decimal of this precision (1 to 38) takes, on disk and on the wire: a sign
// byte plus as many bytes as 10^precision has bits (precision 10 -> 6, 18 -> 9, 38 -> 17).
inline int32_t numericLength(int precision) {
  if (precision < 1) precision = 1;
  if (precision > 38) precision = 38;
  unsigned __int128 v = 1;
  for (int i = 0; i < precision; ++i) v *= 10;
  int32_t bits = 0;
  for (; v; v >>= 1) ++bits;
  return 1 + (bits + 7) / 8;
}

}  // namespace tabsrv
