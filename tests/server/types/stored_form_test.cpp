// Reading datetime and exact-decimal columns from their stored text: the direct reader of the
// canonical forms must give exactly what the general conversion gives (the same Value, or the
// same error), at the range bounds, on rounding edges and on text in any other form.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <variant>

#include "server/types/convert.h"
#include "server/types/datetime.h"
#include "server/types/decimal.h"
#include "server/types/sqlite_value.h"
#include "server/types/type_codes.h"

namespace tabsrv {
namespace {

// A read's outcome: the Value, or the number of the error it raised.
struct Outcome {
  Value value;
  int32_t error = 0;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

std::string describe(const Outcome& o) {
  if (o.error) return "error " + std::to_string(o.error);
  if (auto* d = std::get_if<Decimal>(&o.value)) return "decimal " + formatDecimal(*d);
  if (auto* t = std::get_if<DateTime>(&o.value))
    return "datetime " + std::to_string(t->days) + "/" + std::to_string(t->ticks);
  return "value kind " + std::to_string(o.value.index());
}

// The text as the column reader sees it: stored as TEXT in SQLite and read back as `type`, into
// a Value that held something else before (as a reused row slot does).
Outcome readStored(const std::string& text, const TypeDesc& type) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT ?1", -1, &st, nullptr);
  sqlite3_bind_text(st, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  Outcome o;
  o.value = std::string("previous row");
  if (sqlite3_step(st) == SQLITE_ROW) {
    try {
      readColumnValue(st, 0, type, o.value);
    } catch (const SqlError& e) {
      o = Outcome{Value(), e.number()};
    }
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return o;
}

// The general conversion of the same text, as every stored value was read before.
Outcome convertGeneral(const std::string& text, const TypeDesc& type) {
  try {
    return Outcome{convertValue(Value(text), type, type, ConversionKind::Implicit), 0};
  } catch (const SqlError& e) {
    return Outcome{Value(), e.number()};
  }
}

struct Case {
  const char* text;
  TypeDesc type;
  bool canonical;  // the direct reader takes it (otherwise it declines and the general one decides)
};

void expectSameAsGeneral(const Case& c) {
  SCOPED_TRACE(std::string("'") + c.text + "' as " + std::to_string(static_cast<int>(c.type.type)));
  Outcome general = convertGeneral(c.text, c.type);
  Outcome stored = readStored(c.text, c.type);
  EXPECT_EQ(stored, general) << describe(stored) << " vs " << describe(general);
  if (isDateTimeType(c.type.type)) {
    std::optional<DateTime> direct = parseStoredDateTime(c.text);
    EXPECT_EQ(direct.has_value(), c.canonical);
    if (direct) {
      EXPECT_EQ(direct, parseDateTime(c.text));
    }
  } else {
    std::optional<Decimal> direct = parseStoredDecimal(c.text);
    EXPECT_EQ(direct.has_value(), c.canonical);
    if (direct) {
      EXPECT_EQ(direct, parseDecimal(c.text));
    }
  }
}

TEST(StoredForms, DateTimeTextReadsAsTheGeneralParserReadsIt) {
  const TypeDesc dt = makeType(SqlType::DateTime);
  const TypeDesc sdt = makeType(SqlType::SmallDateTime);
  const Case cases[] = {
      {"1753-01-01 00:00:00.000", dt, true},   // lowest datetime
      {"1752-12-31 23:59:59.997", dt, true},   // one tick below: out of range
      {"9999-12-31 23:59:59.997", dt, true},   // highest datetime
      {"9999-12-31 23:59:59.998", dt, true},   // still the last tick of the day
      {"9999-12-31 23:59:59.999", dt, true},   // rounds into year 10000: out of range
      {"1900-01-01 00:00:00.000", dt, true},   // day 0
      {"2024-01-01 00:00:00.000", dt, true},   // midnight
      {"2000-01-01 23:59:59.997", dt, true},   // last tick before midnight
      {"2024-02-29 12:34:56.789", dt, true},   // leap day, millisecond rounding to ticks
      {"2023-02-29 00:00:00.000", dt, false},   // no such day
      {"2024-13-01 00:00:00.000", dt, false},   // no such month
      {"2024-01-01 24:00:00.000", dt, false},   // no such hour
      {"2024-01-01 00:60:00.000", dt, false},   // no such minute
      {"0001-01-01 00:00:00.000", dt, true},   // a valid date far out of range
      {"2024-01-01", dt, false},
      {"2024-01-01 10:00", dt, false},
      {" 2024-01-01 00:00:00.000", dt, false},
      {"2024-01-01T00:00:00.000", dt, false},
      {"2024/01/01 00:00:00.000", dt, false},
      {"2024-01-01 00:00:00.0000", dt, false},
      {"Jan  1 2024 10:00AM", dt, false},
      {"20240101", dt, false},
      {"", dt, false},
      {"not a date at all here!", dt, false},
      {"1900-01-01 00:00:00.000", sdt, true},  // lowest smalldatetime
      {"2079-06-06 23:59:00.000", sdt, true},  // highest smalldatetime
      {"2079-06-06 23:59:29.998", sdt, true},  // rounds down: still in range
      {"2079-06-06 23:59:30.000", sdt, true},  // rounds up past the end: out of range
      {"1899-12-31 23:59:30.000", sdt, true},  // rounds up onto the first minute
      {"1899-12-31 23:59:29.997", sdt, true},  // rounds down: out of range
      {"2024-05-05 12:30:29.998", sdt, true},
      {"2024-05-05 12:30:29.999", sdt, true},
      {"2024-05-05 23:59:59.997", sdt, true},  // rounds into the next day
      {"2024-05-05 12:30", sdt, false},
  };
  for (const Case& c : cases) expectSameAsGeneral(c);
}

TEST(StoredForms, DecimalTextReadsAsTheGeneralParserReadsIt) {
  const TypeDesc n38 = makeType(SqlType::Numeric, 0, 38, 0);
  const TypeDesc n38s38 = makeType(SqlType::Decimal, 0, 38, 38);
  const TypeDesc n12 = makeType(SqlType::Numeric, 0, 12, 2);
  const TypeDesc n10 = makeType(SqlType::Numeric, 0, 10, 4);
  const TypeDesc n0 = makeType(SqlType::Numeric, 0, 0, 0);  // precision unset: 18
  const TypeDesc money = makeType(SqlType::Money);
  const TypeDesc small = makeType(SqlType::SmallMoney);
  const Case cases[] = {
      {"99999999999999999999999999999999999999", n38, true},
      {"-99999999999999999999999999999999999999", n38, true},
      {"100000000000000000000000000000000000000", n38, false},  // 39 digits: overflow
      {"0.000000000000000000000000000000000000001", n38s38, false},  // 39 fraction digits: rounded
      {"123456789012345678", n38, true},                        // 18 digits: the narrow sum
      {"1234567890123456789", n38, true},                       // 19 digits: the wide sum
      {"0", n38, true},
      {"-0", n38, true},
      {"0.12345678901234567890123456789012345678", n38s38, true},
      {"-0.00000000000000000000000000000000000001", n38s38, true},
      {"12.34", n12, true},
      {"-0.50", n12, true},
      {"0.00", n12, true},
      {"-0.00", n12, true},
      {"0012.30", n12, true},  // leading zeros
      {"0000000000000000000000000000000000000012.30", n12, true},  // leading zeros do not count
      {"9999999999.99", n12, true},                                 // all 12 digits
      {"-9999999999.99", n12, true},
      {"10000000000.00", n12, true},  // does not fit: overflow
      {"7", n12, true},               // scale 0 stored, scale 2 column
      {"1.5", n10, true},
      {"1.23456", n10, true},  // rounds to the column's scale
      {"-1.23455", n10, true},
      {"999999.99995", n10, true},  // rounds past the precision: overflow
      {"999999999999999999", n0, true},
      {"1000000000000000000", n0, true},
      {"922337203685477.5807", money, true},
      {"-922337203685477.5808", money, true},
      {"922337203685477.5808", money, true},  // overflow
      {"12.5", money, true},
      {"3.00005", money, true},
      {"214748.3647", small, true},
      {"-214748.3648", small, true},
      {"214748.3648", small, true},  // overflow
      {"", n12, false},
      {" 12.34", n12, false},
      {"12.34 ", n12, false},
      {"+12.34", n12, false},
      {"$12.34", money, false},
      {"1e3", n12, false},
      {"1.5E-2", n10, false},
      {".5", n12, false},
      {"5.", n12, false},
      {"-", n12, false},
      {"1.2.3", n12, false},
      {"--1", n12, false},
      {"12a", n12, false},
  };
  for (const Case& c : cases) expectSameAsGeneral(c);
}

TEST(StoredForms, ReusedRowSlotTakesEachKindInTurn) {
  // One Value read column after column, as a row loop reuses it: each read leaves only the new value.
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT 'a fairly long text that is not stored inline', NULL, 'b', 5, 2.5", -1, &st,
                     nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  Value slot;
  readColumnValue(st, 0, makeType(SqlType::VarChar, 60), slot);
  EXPECT_EQ(std::get<std::string>(slot), "a fairly long text that is not stored inline");
  readColumnValue(st, 2, makeType(SqlType::VarChar, 60), slot);
  EXPECT_EQ(std::get<std::string>(slot), "b");
  readColumnValue(st, 1, makeType(SqlType::VarChar, 60), slot);
  EXPECT_TRUE(isNull(slot));
  readColumnValue(st, 3, makeType(SqlType::Money), slot);
  EXPECT_EQ(std::get<Decimal>(slot), (Decimal{50000, 4}));
  readColumnValue(st, 4, makeType(SqlType::Float), slot);
  EXPECT_EQ(std::get<double>(slot), 2.5);
  readColumnValue(st, 4, makeType(SqlType::Real), slot);
  EXPECT_EQ(std::get<double>(slot), 2.5);
  sqlite3_finalize(st);
  sqlite3_close(db);
}

}  // namespace
}  // namespace tabsrv
