// Conversions between the server's datatypes: implicit (assignment, comparison) and explicit
// (CONVERT), with the family's conversion errors, and a Value's text as the family shows it.
// Every conversion error raised anywhere in the server comes from the table in convert.cpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/core/message.h"
#include "server/core/types.h"

namespace tabsrv {

// Implicit: assignment to a column or variable, mixed-type comparison. Explicit: CONVERT().
enum class ConversionKind { Implicit, Explicit };

// The family's conversion errors (number, severity, message pattern); see convert.cpp.
enum class ConversionError {
  Syntax,    // 249 "Syntax error during implicit conversion of VARCHAR value 'abc' to a INT field."
  Overflow,  // 247 "Arithmetic overflow during implicit conversion of INT value '300' to a TINYINT field ."
  ImplicitNotAllowed,  // 257 "Implicit conversion from datatype 'VARCHAR' to 'INT' is not allowed.  Use the
                       // CONVERT function to run this query."
  ExplicitNotAllowed,  // 529 "Explicit conversion from datatype 'DATETIME' to 'INT' is not allowed."
  DivideByZero,        // 3607 "Divide by zero occurred."
  Scale,               // 241 "Scale error during implicit conversion of NUMERIC value '1.238' to a NUMERIC field."
};

// What an implicit conversion of an exact value (numeric, decimal, money) into a numeric or
// decimal of a smaller scale does with the digits it cannot keep, as `set arithabort
// numeric_truncation` says: Error (on, the family's default) raises 241 when any of them is not
// zero, Truncate (off) drops them. Round is for the server's own conversions of computed values,
// and explicit conversions (CONVERT) always round.
enum class ScaleLoss { Error, Truncate, Round };

// Builds the SqlError for a conversion failure. `valueText` is the value as written in the message.
SqlError conversionError(ConversionError which, ConversionKind kind, SqlType from, SqlType to,
                         std::string_view valueText = {});

// The type a Value's kind suggests when nothing better is known: int64 -> int, double -> float,
// Decimal -> numeric(38, scale), DateTime -> datetime, string -> varchar, Bytes -> varbinary.
TypeDesc typeOfValue(const Value& v);

// Converts `v` (of type `from`) to `to`, giving the Value kind of `to` (see types.h). NULL stays
// NULL. Character targets are truncated to the target length (char is not padded here; see
// assignValue); numerics are range-checked and rounded to the target scale; text is parsed for
// numbers and dates. Throws SqlError (249, 247, 257, 529) as the family does.
// Money (and smallmoney) into an integer type rounds half away from zero ($4.50 is 5); numeric
// and decimal are truncated. `scaleLoss` applies to implicit conversions only.
Value convertValue(const Value& v, const TypeDesc& from, const TypeDesc& to,
                   ConversionKind kind = ConversionKind::Implicit, std::string_view dateFormat = "mdy",
                   ScaleLoss scaleLoss = ScaleLoss::Round);

// Same, with `from` taken from the Value's kind (typeOfValue).
Value convertValue(const Value& v, const TypeDesc& to, ConversionKind kind = ConversionKind::Implicit);

// The conversion into a column's storage form: convertValue, then char(n) padded with blanks to n,
// '' into char/varchar stored as ' ' (the family keeps no empty strings), binary(n) padded with
// zero bytes when NOT NULL, smalldatetime rounded to the minute.
Value assignValue(const Value& v, const TypeDesc& from, const TypeDesc& to, bool nullable = true,
                  ScaleLoss scaleLoss = ScaleLoss::Round);

// True when an implicit conversion from `from` to `to` is allowed (char -> int is, as the family
// parses text in assignments; datetime -> int is not).
bool implicitConversionAllowed(SqlType from, SqlType to);
bool explicitConversionAllowed(SqlType from, SqlType to);

// A value as text the way the family converts it to varchar: ints in decimal, money with two
// decimals ("12.35"), numeric with its scale, float shortest ("1.5", "1e+20"), datetime in style 0
// ("Jan  1 2000 10:00AM"), binary as lower-case hex without 0x.
std::string valueToText(const Value& v, const TypeDesc& type);

// Short text of a value for error messages ('abc', '300', '12.50').
std::string valueMessageText(const Value& v);

// Hex text of bytes ("0a1b") and parsing "0x0A1B" / "0A1B" back; nothing on odd digits.
std::string bytesToHex(const Bytes& b);
std::optional<Bytes> bytesFromHex(std::string_view text);

}  // namespace tabsrv
