// The family's datatype codes: systypes.type / syscolumns.type codes, the usertype numbers of the
// built-in types, their names, and the mapping between those codes and TypeDesc.
// These codes are what t_assign and t_convert receive as their `typecode` argument.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/core/types.h"

namespace tabsrv {

// systypes.type codes of the fixed types and of their nullable ("N") variants.
enum TypeCode : int32_t {
  kCodeImage = 34,
  kCodeText = 35,
  kCodeVarBinary = 37,
  kCodeIntN = 38,
  kCodeVarChar = 39,
  kCodeBinary = 45,
  kCodeChar = 47,
  kCodeTinyInt = 48,
  kCodeBit = 50,
  kCodeSmallInt = 52,
  kCodeDecimal = 55,
  kCodeInt = 56,
  kCodeSmallDateTime = 58,
  kCodeReal = 59,
  kCodeMoney = 60,
  kCodeDateTime = 61,
  kCodeFloat = 62,
  kCodeNumeric = 63,
  kCodeDecimalN = 106,
  kCodeNumericN = 108,
  kCodeFloatN = 109,
  kCodeMoneyN = 110,
  kCodeDateTimeN = 111,
  kCodeSmallMoney = 122,
};

// systypes.usertype numbers of the built-in types (user-defined types start at 100).
enum UserTypeCode : int32_t {
  kUserChar = 1,
  kUserVarChar = 2,
  kUserBinary = 3,
  kUserVarBinary = 4,
  kUserTinyInt = 5,
  kUserSmallInt = 6,
  kUserInt = 7,
  kUserFloat = 8,
  kUserNumeric = 10,
  kUserMoney = 11,
  kUserDateTime = 12,
  kUserIntN = 13,
  kUserFloatN = 14,
  kUserDateTimeN = 15,
  kUserBit = 16,
  kUserMoneyN = 17,
  kUserSysname = 18,
  kUserText = 19,
  kUserImage = 20,
  kUserSmallMoney = 21,
  kUserSmallDateTime = 22,
  kUserReal = 23,
  kUserNChar = 24,
  kUserNVarChar = 25,
  kUserDecimal = 26,
  kUserDecimalN = 27,
  kUserNumericN = 28,
  kUserTimestamp = 80,
};

// The fixed (NOT NULL) systypes.type code of a type: 56 for int, 47 for char ...
int32_t typeCode(SqlType type);

// The syscolumns.type code a column of this type gets: nullable columns use the N-variant
// (int null -> 38, char null -> 39, binary null -> 37, numeric null -> 108 ...).
int32_t columnTypeCode(const TypeDesc& type, bool nullable);

// The built-in usertype of a type: 7 for int, 1 for char, 2 for varchar ...
int32_t userTypeOf(SqlType type);

// The usertype of a built-in type name that is stored as another type: nchar 24, nvarchar 25,
// sysname 18, timestamp 80 (their columns keep it in syscolumns); 0 for any other name.
int32_t systemUserTypeOf(std::string_view name);

// The type a code stands for; N-variants take their width from `length` (38 with length 2 is
// smallint, 109 with length 4 is real ...). Nothing for an unknown code.
std::optional<TypeDesc> typeFromCode(int32_t code, int32_t length, int32_t precision = 0, int32_t scale = 0);

// The type of a built-in usertype (1..28, 80); nothing for user-defined types (>= 100).
std::optional<TypeDesc> typeFromUserType(int32_t usertype, int32_t length, int32_t precision = 0,
                                         int32_t scale = 0);

// The lower-case type name as systypes.name has it: "int", "varchar", "smalldatetime" ...
std::string_view typeName(SqlType type);

// The upper-case name used in conversion messages: "INT", "VARCHAR", "DATETIME" ...
std::string_view typeMessageName(SqlType type);

// The type written as T-SQL: "varchar(10)", "numeric(10,2)", "int".
std::string typeSql(const TypeDesc& type);

// Looks a type name up (case-insensitive, "integer", "dec", "double precision", "character",
// "sysname" accepted); length/precision/scale are applied where the type has them and the
// family's defaults used where they are omitted (-1): char -> 1, numeric -> (18,0).
std::optional<TypeDesc> typeFromName(std::string_view name, int32_t length = -1, int32_t precision = -1,
                                     int32_t scale = -1);

// True for char, varchar and text; binary, varbinary and image; the numeric types; datetimes.
bool isCharacterType(SqlType type);
bool isBinaryType(SqlType type);
bool isExactNumericType(SqlType type);  // int types, bit, numeric, decimal, money, smallmoney
bool isNumericType(SqlType type);       // exact ones plus real and float
bool isDateTimeType(SqlType type);

// A TypeDesc with the fixed length of the type filled in (int -> 4, datetime -> 8, money -> 8 ...).
TypeDesc makeType(SqlType type, int32_t length = 0, uint8_t precision = 0, uint8_t scale = 0);

}  // namespace tabsrv
