// Column formats and values byte for byte: one row per classic type with extremes and NULLs,
// the numeric byte counts, and values that cannot travel as their column's type.
#include "server/tds/data_format.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/server/tds/wire_fixture.h"

namespace {

using namespace tabsrv;
using namespace tabsrv::tds;

ColumnDesc col(SqlType type, int32_t length, bool nullable, uint8_t precision = 0, uint8_t scale = 0) {
  ColumnDesc c;
  c.type = TypeDesc{type, length, precision, scale};
  c.nullable = nullable;
  return c;
}

// The format entry of a column (without the ROWFMT header) and one value, as hex.
std::string formatHex(const ColumnDesc& c) {
  Bytes token = encodeRowFormat({c});
  return tabtest::hexBytes(Bytes(token.begin() + 5, token.end()));
}

std::string valueHex(const ColumnDesc& c, const Value& v, int32_t textSize = 32768) {
  Bytes row = encodeRow({c}, {wireFormatFor(c)}, {v}, ValueContext{textSize, 1});
  return tabtest::hexBytes(Bytes(row.begin() + 1, row.end()));
}

struct EncodingCase {
  const char* name;
  ColumnDesc column;
  Value value;
  const char* format;  // name length, status, user type, type, type info, locale
  const char* bytes;
  int32_t textSize = 32768;
};

const char* kTextPointer = "10 54 42 4c 4e 50 54 52 00 01 00 00 00 00 00 00 00 54 42 4c 4e 53 54 4d 50";

TEST(DataFormat, EveryClassicTypeEncodesAsTheClientReadsIt) {
  ColumnDesc textCol = col(SqlType::Text, 0, true);
  textCol.tableName = "t";
  const EncodingCase cases[] = {
      {"int", col(SqlType::Int, 4, false), int64_t{-2}, "00 00 00 00 00 00 38 00", "fe ff ff ff"},
      {"int min", col(SqlType::Int, 4, false), int64_t{-2147483647 - 1}, "00 00 00 00 00 00 38 00",
       "00 00 00 80"},
      {"intn", col(SqlType::Int, 4, true), int64_t{7}, "00 20 00 00 00 00 26 04 00", "04 07 00 00 00"},
      {"intn null", col(SqlType::Int, 4, true), std::monostate{}, "00 20 00 00 00 00 26 04 00", "00"},
      {"tinyint max", col(SqlType::TinyInt, 1, false), int64_t{255}, "00 00 00 00 00 00 30 00", "ff"},
      {"smallint min", col(SqlType::SmallInt, 2, true), int64_t{-32768}, "00 20 00 00 00 00 26 02 00",
       "02 00 80"},
      {"real", col(SqlType::Real, 4, false), 1.5, "00 00 00 00 00 00 3b 00", "00 00 c0 3f"},
      {"floatn", col(SqlType::Float, 8, true), -2.0, "00 20 00 00 00 00 6d 08 00",
       "08 00 00 00 00 00 00 00 c0"},
      {"bit", col(SqlType::Bit, 1, false), int64_t{1}, "00 00 00 00 00 00 32 00", "01"},
      {"bitn", col(SqlType::Bit, 1, true), int64_t{0}, "00 20 00 00 00 00 68 01 00", "01 00"},
      {"datetime", col(SqlType::DateTime, 8, false), DateTime{1, 300}, "00 00 00 00 00 00 3d 00",
       "01 00 00 00 2c 01 00 00"},
      {"datetime before 1900", col(SqlType::DateTime, 8, false), DateTime{-1, 0}, "00 00 00 00 00 00 3d 00",
       "ff ff ff ff 00 00 00 00"},
      {"smalldatetimen", col(SqlType::SmallDateTime, 4, true), DateTime{2, 18000},
       "00 20 00 00 00 00 6f 04 00", "04 02 00 01 00"},
      {"money", col(SqlType::Money, 8, false), Decimal{12345, 2}, "00 00 00 00 00 00 3c 00",
       "00 00 00 00 44 d6 12 00"},
      {"money negative", col(SqlType::Money, 8, false), Decimal{-1, 0}, "00 00 00 00 00 00 3c 00",
       "ff ff ff ff f0 d8 ff ff"},
      {"smallmoneyn", col(SqlType::SmallMoney, 4, true), Decimal{10001, 4}, "00 20 00 00 00 00 6e 04 00",
       "04 11 27 00 00"},
      {"numeric(10,2)", col(SqlType::Numeric, 0, true, 10, 2), Decimal{-12345, 2},
       "00 20 00 00 00 00 6c 06 0a 02 00", "06 01 00 00 00 30 39"},
      {"decimal rounds", col(SqlType::Decimal, 0, false, 5, 0), Decimal{15, 1},
       "00 00 00 00 00 00 6a 04 05 00 00", "04 00 00 00 02"},
      {"numeric null", col(SqlType::Numeric, 0, true, 18, 4), std::monostate{},
       "00 20 00 00 00 00 6c 09 12 04 00", "00"},
      {"varchar", col(SqlType::VarChar, 10, true), std::string("ab"), "00 20 00 00 00 00 27 0a 00",
       "02 61 62"},
      {"varchar empty", col(SqlType::VarChar, 10, true), std::string(), "00 20 00 00 00 00 27 0a 00",
       "01 20"},
      {"varchar null", col(SqlType::VarChar, 10, true), std::monostate{}, "00 20 00 00 00 00 27 0a 00", "00"},
      {"char cut", col(SqlType::Char, 3, false), std::string("abcdef"), "00 00 00 00 00 00 2f 03 00",
       "03 61 62 63"},
      {"varbinary empty", col(SqlType::VarBinary, 4, false), Bytes{}, "00 00 00 00 00 00 25 04 00", "01 00"},
      {"longchar", col(SqlType::VarChar, 300, true), std::string("x"), "00 20 00 00 00 00 af 2c 01 00 00 00",
       "01 00 00 00 78"},
      {"longchar null", col(SqlType::VarChar, 300, true), std::monostate{},
       "00 20 00 00 00 00 af 2c 01 00 00 00", "00 00 00 00"},
      {"longbinary", col(SqlType::Binary, 256, false), Bytes{0xab}, "00 00 00 00 00 00 e1 00 01 00 00 00",
       "01 00 00 00 ab"},
      {"text", textCol, std::string("hi"), "00 20 00 00 00 00 23 ff ff ff 7f 01 00 74 00", nullptr},
      {"text null", textCol, std::monostate{}, "00 20 00 00 00 00 23 ff ff ff 7f 01 00 74 00", "00"},
      {"text cut to textsize", textCol, std::string("hello"), "00 20 00 00 00 00 23 ff ff ff 7f 01 00 74 00",
       nullptr, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(formatHex(c.column), c.format);
    std::string got = valueHex(c.column, c.value, c.textSize);
    if (c.bytes) {
      EXPECT_EQ(got, c.bytes);
    } else {
      std::string tail = c.textSize == 3 ? " 03 00 00 00 68 65 6c" : " 02 00 00 00 68 69";
      EXPECT_EQ(got, std::string(kTextPointer) + tail);
    }
  }
}

TEST(DataFormat, NumericLengthFollowsPrecision) {
  const std::pair<int, int> cases[] = {{1, 2}, {2, 2}, {3, 3}, {9, 5}, {10, 6}, {18, 9}, {19, 9}, {38, 17}};
  for (auto [precision, bytes] : cases)
    EXPECT_EQ(numericBytes(precision), bytes) << "precision " << precision;
}

TEST(DataFormat, ValuesThatCannotTravelAreRefused) {
  struct Case {
    const char* name;
    ColumnDesc column;
    Value value;
  } cases[] = {
      {"string for int", col(SqlType::Int, 4, true), std::string("abc")},
      {"tinyint overflow", col(SqlType::TinyInt, 1, false), int64_t{256}},
      {"int overflow", col(SqlType::Int, 4, false), int64_t{1} << 40},
      {"smalldatetime before 1900", col(SqlType::SmallDateTime, 4, false), DateTime{-1, 0}},
      {"numeric past precision", col(SqlType::Numeric, 0, false, 3, 0), Decimal{1000, 0}},
      {"null in not null int", col(SqlType::Int, 4, false), std::monostate{}},
      {"number for datetime", col(SqlType::DateTime, 8, false), int64_t{1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(valueHex(c.column, c.value), std::invalid_argument);
  }
  ColumnDesc a = col(SqlType::Int, 4, false);
  EXPECT_THROW(encodeRow({a, a}, {wireFormatFor(a), wireFormatFor(a)}, {int64_t{1}}, {}),
               std::invalid_argument);
}

TEST(DataFormat, StatusBitsAndNamesOfTheFormat) {
  ColumnDesc c = col(SqlType::Int, 4, false);
  c.name = "id";
  c.identity = true;
  c.key = true;
  c.updatable = true;
  c.hidden = true;
  c.userType = 7;
  Bytes token = encodeRowFormat({c});
  // EE, length, count 1, "id", status 0x40|0x10|0x02|0x01, user type 7, INT4, locale.
  EXPECT_EQ(tabtest::hexBytes(token), "ee 0c 00 01 00 02 69 64 53 07 00 00 00 38 00");
}

}  // namespace
