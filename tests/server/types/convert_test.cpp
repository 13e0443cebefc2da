// Conversions between the server's types, with the family's error numbers and texts, and the
// assignment into a column's storage form.
#include "server/types/convert.h"

#include <gtest/gtest.h>

#include "server/types/decimal.h"
#include "server/types/type_codes.h"

namespace tabsrv {
namespace {

// The text form of a converted value (decimal canonical, datetime canonical) for comparisons.
std::string shown(const Value& v) {
  if (const auto* d = std::get_if<Decimal>(&v)) return formatDecimal(*d);
  return valueMessageText(v);
}

struct ConvertCase {
  const char* name;
  Value in;
  TypeDesc from;
  TypeDesc to;
  const char* out;  // expected text when it converts
  int32_t error;    // expected error number otherwise
};

TEST(Convert, ImplicitConversionsAndErrors) {
  const TypeDesc vc = makeType(SqlType::VarChar, 30);
  const ConvertCase cases[] = {
      {"text_to_int", std::string(" 42 "), vc, makeType(SqlType::Int), "42", 0},
      {"text_to_int_syntax", std::string("abc"), vc, makeType(SqlType::Int), nullptr, 249},
      {"decimal_text_to_int_syntax", std::string("1.5"), vc, makeType(SqlType::Int), nullptr, 249},
      {"int_to_tinyint_overflow", int64_t{300}, makeType(SqlType::Int), makeType(SqlType::TinyInt), nullptr,
       247},
      {"negative_tinyint", int64_t{-1}, makeType(SqlType::Int), makeType(SqlType::TinyInt), nullptr, 247},
      {"smallint_edge", int64_t{-32768}, makeType(SqlType::Int), makeType(SqlType::SmallInt), "-32768", 0},
      {"int_overflow", int64_t{2147483648LL}, makeType(SqlType::Int), makeType(SqlType::Int), nullptr, 247},
      {"bit_from_nonzero", int64_t{7}, makeType(SqlType::Int), makeType(SqlType::Bit), "1", 0},
      {"float_truncates_to_int", 2.9, makeType(SqlType::Float), makeType(SqlType::Int), "2", 0},
      {"numeric_rounds", std::string("12.345"), vc, makeType(SqlType::Numeric, 0, 5, 2), "12.35", 0},
      {"numeric_overflow", std::string("1234.5"), vc, makeType(SqlType::Numeric, 0, 5, 2), nullptr, 247},
      {"numeric_syntax", std::string("12,5"), vc, makeType(SqlType::Numeric, 0, 5, 2), nullptr, 249},
      {"int_to_numeric", int64_t{7}, makeType(SqlType::Int), makeType(SqlType::Numeric, 0, 5, 2), "7.00", 0},
      {"money_scale", std::string("$1.5"), vc, makeType(SqlType::Money), "1.5000", 0},
      {"smallmoney_overflow", std::string("214748.3648"), vc, makeType(SqlType::SmallMoney), nullptr, 247},
      {"datetime_from_text", std::string("Jan 2 2003"), vc, makeType(SqlType::DateTime),
       "2003-01-02 00:00:00.000", 0},
      {"datetime_syntax", std::string("yesterday"), vc, makeType(SqlType::DateTime), nullptr, 249},
      {"datetime_range", std::string("1700-01-01"), vc, makeType(SqlType::DateTime), nullptr, 247},
      {"smalldatetime_rounds", std::string("2000-01-01 10:00:40"), vc, makeType(SqlType::SmallDateTime),
       "2000-01-01 10:01:00.000", 0},
      {"smalldatetime_range", std::string("2079-06-07"), vc, makeType(SqlType::SmallDateTime), nullptr, 247},
      {"datetime_to_int_not_allowed", DateTime{0, 0}, makeType(SqlType::DateTime), makeType(SqlType::Int),
       nullptr, 257},
      {"int_to_datetime_not_allowed", int64_t{1}, makeType(SqlType::Int), makeType(SqlType::DateTime),
       nullptr, 257},
      {"varchar_truncates", std::string("abcdef"), vc, makeType(SqlType::VarChar, 3), "abc", 0},
      {"money_to_varchar", Decimal{123450, 4}, makeType(SqlType::Money), vc, "12.35", 0},
      {"numeric_to_varchar", Decimal{5, 1}, makeType(SqlType::Numeric, 0, 5, 3), vc, "0.500", 0},
      {"datetime_to_varchar", DateTime{36524, 300 * 3600 * 14}, makeType(SqlType::DateTime), vc,
       "Jan  1 2000  2:00PM", 0},
      {"float_to_varchar", 1.5, makeType(SqlType::Float), vc, "1.5", 0},
      {"bytes_to_varchar", Bytes{0x0a, 0xff}, makeType(SqlType::VarBinary, 2), vc, "0aff", 0},
      {"text_to_varbinary", std::string("AB"), vc, makeType(SqlType::VarBinary, 10), "0x4142", 0},
      {"null_stays_null", Value(), vc, makeType(SqlType::Int), "NULL", 0},
  };
  for (const auto& c : cases) {
    try {
      Value v = convertValue(c.in, c.from, c.to);
      EXPECT_EQ(c.error, 0) << c.name << " converted to " << shown(v);
      if (c.out) {
        EXPECT_EQ(shown(v), c.out) << c.name;
      }
    } catch (const SqlError& e) {
      EXPECT_EQ(e.number(), c.error) << c.name << ": " << e.what();
    }
  }
}

TEST(Convert, MessagesCarryTheFamilyTexts) {
  struct Case {
    const char* name;
    Value in;
    TypeDesc from;
    TypeDesc to;
    ConversionKind kind;
    const char* text;
  } cases[] = {
      {"syntax_implicit", std::string("abc"), makeType(SqlType::VarChar, 3), makeType(SqlType::Int),
       ConversionKind::Implicit,
       "Syntax error during implicit conversion of VARCHAR value 'abc' to a INT field."},
      {"syntax_explicit", std::string("abc"), makeType(SqlType::VarChar, 3), makeType(SqlType::Int),
       ConversionKind::Explicit,
       "Syntax error during explicit conversion of VARCHAR value 'abc' to a INT field."},
      {"overflow", int64_t{300}, makeType(SqlType::Int), makeType(SqlType::TinyInt), ConversionKind::Implicit,
       "Arithmetic overflow during implicit conversion of INT value '300' to a TINYINT field ."},
      {"implicit_not_allowed", DateTime{}, makeType(SqlType::DateTime), makeType(SqlType::Int),
       ConversionKind::Implicit,
       "Implicit conversion from datatype 'DATETIME' to 'INT' is not allowed.  Use the CONVERT function to "
       "run this "
       "query."},
      {"explicit_not_allowed", DateTime{}, makeType(SqlType::DateTime), makeType(SqlType::Money),
       ConversionKind::Explicit, "Explicit conversion from datatype 'DATETIME' to 'MONEY' is not allowed."},
  };
  for (const auto& c : cases) {
    try {
      convertValue(c.in, c.from, c.to, c.kind);
      ADD_FAILURE() << c.name << " converted";
    } catch (const SqlError& e) {
      EXPECT_STREQ(e.what(), c.text) << c.name;
      EXPECT_EQ(e.severity(), 16) << c.name;
    }
  }
}

TEST(Convert, AssignmentStorageForms) {
  struct Case {
    const char* name;
    Value in;
    TypeDesc to;
    bool nullable;
    const char* stored;
  } cases[] = {
      {"not_null_char_padded", std::string("ab"), makeType(SqlType::Char, 5), false, "ab   "},
      {"char_truncated", std::string("abcdefg"), makeType(SqlType::Char, 5), false, "abcde"},
      {"nullable_char_trimmed", std::string("ab  "), makeType(SqlType::Char, 5), true, "ab"},
      {"varchar_trailing_blanks_dropped", std::string("ab  "), makeType(SqlType::VarChar, 5), true, "ab"},
      {"empty_varchar_is_a_blank", std::string(""), makeType(SqlType::VarChar, 5), true, " "},
      {"empty_char_is_blanks", std::string(""), makeType(SqlType::Char, 3), false, "   "},
      {"binary_padded", Bytes{1}, makeType(SqlType::Binary, 3), false, "0x010000"},
      {"numeric_scale", std::string("1.005"), makeType(SqlType::Numeric, 0, 6, 2), true, "1.01"},
  };
  for (const auto& c : cases) {
    Value v = assignValue(c.in, typeOfValue(c.in), c.to, c.nullable);
    EXPECT_EQ(shown(v), c.stored) << c.name;
  }
}

TEST(Convert, HexRoundTrip) {
  EXPECT_EQ(bytesFromHex("0x0A1b"), (std::optional<Bytes>(Bytes{0x0a, 0x1b})));
  EXPECT_FALSE(bytesFromHex("0x123"));
  EXPECT_FALSE(bytesFromHex("zz"));
  EXPECT_EQ(bytesToHex(Bytes{0, 0xab}), "00ab");
}

}  // namespace
}  // namespace tabsrv
