// Values across the SQLite boundary (binding, reading back as a type) and server errors encoded in
// SQLite messages or raised by SQLite itself.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "server/types/datetime.h"
#include "server/types/decimal.h"
#include "server/types/sqlite_error.h"
#include "server/types/sqlite_value.h"
#include "server/types/type_codes.h"

namespace tabsrv {
namespace {

// Binds `v`, selects it back and reads it as `type`.
Value roundTrip(const Value& v, const TypeDesc& type, int* storageClass = nullptr) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT ?1", -1, &st, nullptr);
  bindValue(st, 1, v);
  Value out;
  if (sqlite3_step(st) == SQLITE_ROW) {
    if (storageClass) *storageClass = sqlite3_column_type(st, 0);
    out = columnValue(st, 0, type);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

TEST(SqliteValue, CanonicalFormsRoundTrip) {
  int cls = 0;
  Value d = roundTrip(Decimal{-123400, 4}, makeType(SqlType::Numeric, 0, 10, 4), &cls);
  EXPECT_EQ(cls, SQLITE_TEXT);  // decimals travel as canonical text, never as REAL
  EXPECT_EQ(std::get<Decimal>(d), (Decimal{-123400, 4}));
  DateTime when = *parseDateTime("2001-02-03 04:05:06.007");
  EXPECT_EQ(std::get<DateTime>(roundTrip(when, makeType(SqlType::DateTime), &cls)), when);
  EXPECT_EQ(cls, SQLITE_TEXT);
  EXPECT_EQ(std::get<int64_t>(roundTrip(int64_t{-7}, makeType(SqlType::Int))), -7);
  EXPECT_EQ(std::get<std::string>(roundTrip(std::string("a b "), makeType(SqlType::Char, 4))), "a b ");
  Bytes empty;
  EXPECT_EQ(std::get<Bytes>(roundTrip(empty, makeType(SqlType::VarBinary, 4), &cls)), empty);
  EXPECT_EQ(cls, SQLITE_BLOB);  // an empty binary is not NULL
  EXPECT_TRUE(isNull(roundTrip(Value(), makeType(SqlType::Int))));
}

TEST(SqliteValue, ComputedResultsConvertToTheBoundType) {
  // A numeric expression that SQLite computed as REAL or INTEGER comes back as the bound type.
  EXPECT_EQ(formatDecimal(std::get<Decimal>(roundTrip(2.5, makeType(SqlType::Numeric, 0, 10, 2)))), "2.50");
  EXPECT_EQ(formatDecimal(std::get<Decimal>(roundTrip(int64_t{3}, makeType(SqlType::Money)))), "3.0000");
  EXPECT_DOUBLE_EQ(std::get<double>(roundTrip(int64_t{3}, makeType(SqlType::Float))), 3.0);
  EXPECT_THROW(roundTrip(std::string("x"), makeType(SqlType::DateTime)), SqlError);
}

TEST(SqliteError, DecodesEncodedServerErrors) {
  SqlError original(3607, 16, "Divide by zero occurred.");
  SqlError e = errorFromMessage(SQLITE_ERROR, encodeSqlError(original));
  EXPECT_EQ(e.number(), 3607);
  EXPECT_EQ(e.severity(), 16);
  EXPECT_STREQ(e.what(), "Divide by zero occurred.");
  // A text holding colons survives.
  e = errorFromMessage(SQLITE_ERROR, "tsqlerr:249:16:value 'a:b' bad");
  EXPECT_STREQ(e.what(), "value 'a:b' bad");
}

TEST(SqliteError, MapsSqliteFailures) {
  struct Case {
    const char* name;
    int rc;
    const char* message;
    int32_t number;
    int severity;
  } cases[] = {
      {"busy", SQLITE_BUSY, "database is locked", 12205, 17},
      {"locked_shared_cache", SQLITE_LOCKED_SHAREDCACHE, "database table is locked", 12205, 17},
      {"interrupted", SQLITE_INTERRUPT, "interrupted", kCancelledErrorNumber, 0},
      {"not_null", SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: sample.dbo.t.c", 515, 16},
      {"unique_without_db", SQLITE_CONSTRAINT_UNIQUE,
       "UNIQUE constraint failed: sample.dbo.t.a, sample.dbo.t.b", 2601, 14},
      // SQLite's own texts a statement can cause, in the family's numbers.
      {"no such table", SQLITE_ERROR, "no such table: main.sample.dbo.gone", 208, 16},
      {"no such column", SQLITE_ERROR, "no such column: t.c9", 207, 16},
      {"ambiguous column", SQLITE_ERROR, "ambiguous column name: a", 209, 16},
      {"no such function", SQLITE_ERROR, "no such function: frob", 14216, 16},
      {"parser stack", SQLITE_ERROR, "parser stack overflow", 191, 15},
      {"expression depth", SQLITE_ERROR, "Expression tree is too large (maximum depth 1000)", 191, 15},
      {"compound select", SQLITE_ERROR, "too many terms in compound SELECT", 191, 15},
      {"variables", SQLITE_RANGE, "too many SQL variables", 191, 15},
      {"integer overflow", SQLITE_ERROR, "integer overflow", 3606, 16},
      {"too big", SQLITE_TOOBIG, "string or blob too big", 1131, 17},
      {"disk full", SQLITE_FULL, "database or disk is full", 1105, 17},
      {"other", SQLITE_CORRUPT, "database disk image is malformed", 7900, 16},
  };
  for (const auto& c : cases) {
    SqlError e = errorFromMessage(c.rc, c.message);
    EXPECT_EQ(e.number(), c.number) << c.name;
    EXPECT_EQ(e.severity(), c.severity) << c.name;
  }
  EXPECT_STREQ(
      errorFromMessage(SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: sample.dbo.t.c").what(),
      "Attempt to insert NULL value into column 'c', table 'sample.dbo.t'; column does not allow nulls. "
      "Update fails.");
  // Only the object's own name of a SQLite name is shown.
  EXPECT_EQ(std::string(errorFromMessage(SQLITE_ERROR, "no such table: main.sample.dbo.gone").what())
                .rfind("gone not found.", 0),
            0u);
  EXPECT_STREQ(errorFromMessage(SQLITE_ERROR, "no such column: t.c9").what(), "Invalid column name 'c9'.");
  EXPECT_TRUE(isBusyCode(SQLITE_BUSY_SNAPSHOT));
  EXPECT_FALSE(isBusyCode(SQLITE_CONSTRAINT));
}

}  // namespace
}  // namespace tabsrv
