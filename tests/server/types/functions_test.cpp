// The t_* functions and the t_decimal collation, run through a plain in-memory SQLite connection
// with the functions registered, the way the generated SQL calls them.
#include "server/types/functions.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "server/types/sqlite_error.h"
#include "server/types/type_codes.h"

namespace tabsrv {
namespace {

class FunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    ASSERT_EQ(registerFunctions(db_), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db_); }

  // The single value of `expr` as text ("NULL" for NULL), or "error <number>: <text>".
  std::string eval(const std::string& expr) {
    sqlite3_stmt* st = nullptr;
    std::string sql = "SELECT " + expr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr);
    if (rc != SQLITE_OK) return "prepare failed: " + std::string(sqlite3_errmsg(db_));
    rc = sqlite3_step(st);
    std::string out;
    if (rc == SQLITE_ROW) {
      out = sqlite3_column_type(st, 0) == SQLITE_NULL
                ? "NULL"
                : reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    } else {
      SqlError e = errorFromSqlite(db_, rc);
      out = "error " + std::to_string(e.number()) + ": " + e.what();
    }
    sqlite3_finalize(st);
    return out;
  }

  struct Case {
    const char* name;
    const char* expr;
    const char* expected;
  };
  void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.expr), c.expected) << c.name << ": " << c.expr;
  }

  sqlite3* db_ = nullptr;
};

TEST_F(FunctionsTest, DecimalCollationOrdersNumbersExactly) {
  ASSERT_EQ(sqlite3_exec(
                db_,
                "CREATE TABLE m (v TEXT COLLATE t_decimal);"
                "INSERT INTO m VALUES ('10.00'), ('9.5'), ('-2'), ('-10.25'), ('0.001'), ('abc'), ('9.50');"
                "CREATE INDEX m_v ON m (v);",
                nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db_, "SELECT group_concat(v, ' ') FROM (SELECT v FROM m ORDER BY v)", -1, &st,
                               nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  std::string order = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  // Equal numbers of different scale sort together; text that is not a number comes last.
  EXPECT_TRUE(order == "-10.25 -2 0.001 9.5 9.50 10.00 abc" || order == "-10.25 -2 0.001 9.50 9.5 10.00 abc")
      << order;
  check({{"equal_across_scales", "(SELECT count(*) FROM m WHERE v = '9.5')", "2"},
         {"range_uses_numeric_order", "(SELECT count(*) FROM m WHERE v > '9.9' AND v < 'a')", "1"}});
}

TEST_F(FunctionsTest, AssignConvertsToColumnStorage) {
  check({
      {"char_padded", "'[' || t_assign('ab', 47, 5, 0, 0, 0) || ']'", "[ab   ]"},
      {"varchar_truncated", "t_assign('abcdef', 39, 3, 0, 0)", "abc"},
      {"empty_varchar", "'[' || t_assign('', 39, 10, 0, 0) || ']'", "[ ]"},
      {"numeric_rounded", "t_assign(12.345, 63, 5, 5, 2)", "12.35"},
      {"numeric_from_text", "t_assign('-0.5', 108, 5, 5, 2)", "-0.50"},
      {"numeric_overflow", "t_assign(1234.5, 63, 5, 5, 2)",
       "error 247: Arithmetic overflow during implicit conversion of FLOAT value '1234.5' to a NUMERIC field "
       "."},
      {"int_range", "t_assign(70000, 52, 2, 0, 0)",
       "error 247: Arithmetic overflow during implicit conversion of INT value '70000' to a SMALLINT field "
       "."},
      {"intn_by_length", "t_assign(300, 38, 1, 0, 0)",
       "error 247: Arithmetic overflow during implicit conversion of INT value '300' to a TINYINT field ."},
      {"text_to_int_syntax", "t_assign('x1', 56, 4, 0, 0)",
       "error 249: Syntax error during implicit conversion of VARCHAR value 'x1' to a INT field."},
      {"datetime_parsed", "t_assign('Jan 5 2001 3:04PM', 61, 8, 0, 0)", "2001-01-05 15:04:00.000"},
      {"smalldatetime_rounded", "t_assign('2001-01-05 15:04:31', 58, 4, 0, 0)", "2001-01-05 15:05:00.000"},
      {"money_scale_four", "t_assign('12.5', 60, 8, 0, 0)", "12.5000"},
      {"null_passes", "t_assign(NULL, 56, 4, 0, 0)", "NULL"},
      {"datetime_source_to_varchar", "t_assign('2001-01-05 15:04:00.000', 39, 30, 0, 0, 1, 61)",
       "Jan  5 2001  3:04PM"},
  });
}

TEST_F(FunctionsTest, ConvertWithStyles) {
  check({
      {"int_to_varchar", "t_convert(42, 39, 10, 0, 0)", "42"},
      {"varchar_without_length_is_30", "length(t_convert(t_replicate('x', 40), 39, 0, 0, 0))", "30"},
      {"char_pads", "'[' || t_convert('ab', 47, 4, 0, 0) || ']'", "[ab  ]"},
      {"text_to_int", "t_convert(' 17', 56, 4, 0, 0)", "17"},
      {"explicit_syntax", "t_convert('x', 56, 4, 0, 0)",
       "error 249: Syntax error during explicit conversion of VARCHAR value 'x' to a INT field."},
      {"style_101", "t_convert('2004-03-07 14:05:09.120', 39, 20, 0, 0, 101, 61)", "03/07/2004"},
      {"style_0_default", "t_convert('2004-03-07 14:05:09.120', 39, 30, 0, 0, NULL, 61)",
       "Mar  7 2004  2:05PM"},
      {"style_109", "t_convert('2004-03-07 14:05:09.120', 39, 30, 0, 0, 109, 61)",
       "Mar  7 2004  2:05:09:120PM"},
      {"style_truncated_to_length", "t_convert('2004-03-07 14:05:09.120', 47, 6, 0, 0, 112, 61)", "200403"},
      {"money_style_1", "t_convert('1234567.5', 39, 20, 0, 0, 1, 60)", "1,234,567.50"},
      {"money_default", "t_convert('12.3456', 39, 20, 0, 0, 0, 60)", "12.35"},
      {"to_numeric", "t_convert('3.14159', 63, 0, 5, 3)", "3.142"},
      {"to_datetime", "t_convert('20040307', 61, 8, 0, 0)", "2004-03-07 00:00:00.000"},
      {"datetime_to_int_refused", "t_convert('2004-03-07 00:00:00.000', 56, 4, 0, 0, NULL, 61)",
       "error 529: Explicit conversion from datatype 'DATETIME' to 'INT' is not allowed."},
      {"to_float", "t_convert('1e3', 62, 8, 0, 0)", "1000.0"},
      {"to_bit", "t_convert(5, 50, 1, 0, 0)", "1"},
  });
}

TEST_F(FunctionsTest, StringFunctions) {
  check({
      {"substring", "t_substring('abcdef', 2, 3)", "bcd"},
      {"substring_start_before_one", "t_substring('abc', 0, 2)", "a"},
      {"substring_past_end", "t_substring('abc', 4, 1)", "NULL"},
      {"substring_utf8", "t_substring('h\xc3\xa9llo', 2, 2)", "\xc3\xa9l"},
      {"char_length_utf8", "t_char_length('h\xc3\xa9llo')", "5"},
      {"datalength_bytes", "t_datalength('h\xc3\xa9llo')", "6"},
      {"datalength_int", "t_datalength(5)", "4"},
      {"datalength_null", "t_datalength(NULL)", "NULL"},
      {"upper", "t_upper('MixEd 1')", "MIXED 1"},
      {"lower", "t_lower('MixEd 1')", "mixed 1"},
      {"ltrim", "t_ltrim('  a b ')", "a b "},
      {"rtrim", "t_rtrim('  a b  ')", "  a b"},
      {"rtrim_all_blanks_is_null", "t_rtrim('   ')", "NULL"},
      {"space", "'[' || t_space(3) || ']'", "[   ]"},
      {"space_zero", "t_space(0)", "NULL"},
      {"replicate", "t_replicate('ab', 3)", "ababab"},
      {"replicate_zero", "t_replicate('ab', 0)", "NULL"},
      {"ascii", "t_ascii('A')", "65"},
      {"ascii_empty", "t_ascii('')", "NULL"},
      {"char", "t_char(66)", "B"},
      {"char_out_of_range", "t_char(256)", "NULL"},
      {"stuff", "t_stuff('abcdef', 2, 3, 'XY')", "aXYef"},
      {"stuff_delete", "t_stuff('abcdef', 2, 3, NULL)", "aef"},
      {"stuff_bad_start", "t_stuff('abc', 5, 1, 'x')", "NULL"},
      {"charindex", "t_charindex('cd', 'abcdcd')", "3"},
      {"charindex_from", "t_charindex('cd', 'abcdcd', 4)", "5"},
      {"charindex_missing", "t_charindex('zz', 'abc')", "0"},
      {"patindex", "t_patindex('%[0-9]%', 'ab3c')", "3"},
      {"patindex_underscore", "t_patindex('%b_d%', 'abcd')", "2"},
      {"patindex_anchored", "t_patindex('ab%', 'xab')", "0"},
      {"patindex_none", "t_patindex('%z%', 'abc')", "0"},
      {"reverse", "t_reverse('ab\xc3\xa9')",
       "\xc3\xa9"
       "ba"},
      {"right", "t_right('abcdef', 2)", "ef"},
      {"right_longer", "t_right('ab', 5)", "ab"},
      {"isnull", "t_isnull(NULL, 'x')", "x"},
      {"isnull_keeps", "t_isnull('a', 'x')", "a"},
  });
}

TEST_F(FunctionsTest, MathFunctions) {
  check({
      {"abs_int", "t_abs(-5)", "5"},
      {"abs_decimal", "t_abs('-1.50')", "1.50"},
      {"sign", "t_sign(-3.5)", "-1.0"},
      {"round_decimal_keeps_scale", "t_round('12.345', 2)", "12.350"},
      {"round_negative_position", "t_round(1250, -2)", "1300"},
      {"round_half_away", "t_round('-2.5', 0)", "-3.0"},
      {"round_float", "t_round(2.675, 1)", "2.7"},
      {"floor_decimal", "t_floor('-1.5')", "-2"},
      {"ceiling_decimal", "t_ceiling('1.01')", "2"},
      {"floor_int", "t_floor(7)", "7"},
      {"power_int", "t_power(2, 10)", "1024"},
      {"power_float", "t_power(2.0, 0.5)", "1.4142135623731"},
      {"sqrt", "t_sqrt(16)", "4.0"},
      {"sqrt_negative", "t_sqrt(-1)", "error 3622: Domain error occurred."},
      {"log_zero", "t_log(0)", "error 3622: Domain error occurred."},
      {"pi", "round(t_pi(), 5)", "3.14159"},
      {"str_default", "'[' || t_str(123.456) || ']'", "[       123]"},
      {"str_decimals", "t_str('123.456', 8, 2)", "  123.46"},
      {"str_too_long", "t_str(123456, 3)", "***"},
      {"not_a_number", "t_abs('x')",
       "error 249: Syntax error during implicit conversion of VARCHAR value 'x' to a INT field."},
  });
}

TEST_F(FunctionsTest, DateFunctions) {
  check({
      {"dateadd_day", "t_dateadd('dd', 1, '1999-12-31 10:00:00.000')", "2000-01-01 10:00:00.000"},
      {"dateadd_month_end", "t_dateadd('mm', 1, '2000-01-31')", "2000-02-29 00:00:00.000"},
      {"dateadd_year_leap", "t_dateadd('year', 1, '2000-02-29')", "2001-02-28 00:00:00.000"},
      {"dateadd_quarter", "t_dateadd('qq', -1, '2000-05-15')", "2000-02-15 00:00:00.000"},
      {"dateadd_hours", "t_dateadd('hh', 36, '2000-01-01')", "2000-01-02 12:00:00.000"},
      {"dateadd_ms", "t_dateadd('ms', 10, '2000-01-01')", "2000-01-01 00:00:00.010"},
      {"dateadd_overflow", "t_dateadd('yy', 9000, '2000-01-01')",
       "error 517: Adding a value to a 'datetime' column caused overflow."},
      {"datediff_year_boundary", "t_datediff('yy', 'Dec 31 1999', 'Jan 1 2000')", "1"},
      {"datediff_month", "t_datediff('month', '2000-01-31', '2000-02-01')", "1"},
      {"datediff_days_negative", "t_datediff('dd', '2000-01-10', '2000-01-01')", "-9"},
      {"datediff_hour_boundary", "t_datediff('hh', '2000-01-01 10:59', '2000-01-01 11:00')", "1"},
      {"datediff_week", "t_datediff('wk', '2000-01-01', '2000-01-02')", "1"},  // Saturday to Sunday
      {"datediff_minutes", "t_datediff('mi', '2000-01-01 10:00', '2000-01-01 12:30')", "150"},
      {"datepart_year", "t_datepart('yy', '2004-03-07 14:05:09.120')", "2004"},
      {"datepart_quarter", "t_datepart('qq', '2004-03-07')", "1"},
      {"datepart_dayofyear", "t_datepart('dy', '2004-03-07')", "67"},
      {"datepart_weekday_sunday", "t_datepart('dw', '2004-03-07')", "1"},
      {"datepart_week", "t_datepart('wk', '2004-01-04')", "2"},
      {"datepart_ms", "t_datepart('ms', '2004-03-07 14:05:09.123')", "123"},
      {"datename_month", "t_datename('mm', '2004-03-07')", "March"},
      {"datename_weekday", "t_datename('dw', '2004-03-07')", "Sunday"},
      {"datename_day", "t_datename('dd', '2004-03-07')", "7"},
      {"bad_part", "t_datepart('fortnight', '2004-03-07')",
       "error 155: 'fortnight' is not a recognized datepart option."},
      {"bad_date", "t_datepart('yy', 'soon')",
       "error 249: Syntax error during implicit conversion of VARCHAR value 'soon' to a DATETIME field."},
      {"getdate_is_canonical", "length(t_getdate()) = 23 AND t_getdate() > '2020'", "1"},
  });
}

TEST_F(FunctionsTest, SessionFunctionsReadSessionInfo) {
  check({{"default_user", "t_user_name()", "dbo"}, {"default_db", "t_db_name()", "master"}});
  SessionInfo info;
  info.database = "sample";
  info.user = "clerk";
  info.login = "clerk_login";
  info.host = "till-3";
  info.dateFormat = "dmy";
  ASSERT_EQ(setSessionInfo(db_, &info), SQLITE_OK);
  check({{"user", "t_user_name()", "clerk"},
         {"db", "t_db_name()", "sample"},
         {"login", "t_suser_name()", "clerk_login"},
         {"host", "t_host_name()", "till-3"},
         {"dateformat_applies", "t_assign('31/12/1999', 61, 8, 0, 0)", "1999-12-31 00:00:00.000"},
         // Without catalogue tables the lookups find nothing rather than failing.
         {"object_id_without_catalogue", "t_object_id('t')", "NULL"}});
  info.database = "other";  // the session changes it on USE; the functions read it live
  check({{"db_follows", "t_db_name()", "other"}});
}

TEST(BuiltinTable, BinderLookups) {
  const BuiltinFunction* f = findBuiltin("SUBSTRING");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->sqliteName, "t_substring");
  EXPECT_EQ(f->minArgs, 3);
  TypeDesc r = f->resultType({makeType(SqlType::Char, 20), makeType(SqlType::Int), makeType(SqlType::Int)});
  EXPECT_EQ(r.type, SqlType::VarChar);
  EXPECT_EQ(r.length, 20);
  const BuiltinFunction* conv = findBuiltin("convert");
  ASSERT_NE(conv, nullptr);
  EXPECT_EQ(conv->firstArg, ArgKind::DataType);
  EXPECT_EQ(conv->resultType({makeType(SqlType::Numeric, 0, 10, 2), makeType(SqlType::VarChar, 5)}).scale, 2);
  EXPECT_EQ(findBuiltin("datediff")->firstArg, ArgKind::DatePart);
  EXPECT_EQ(findBuiltin("left"), nullptr);
  EXPECT_EQ(canonicalDatePart("YYYY"), "year");
  EXPECT_EQ(canonicalDatePart("dw"), "weekday");
  EXPECT_EQ(canonicalDatePart("nope"), "");
  // Every entry names a function that a registered connection really has.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(registerFunctions(db), SQLITE_OK);
  for (const BuiltinFunction& b : builtinFunctions()) {
    std::string sql =
        "SELECT count(*) FROM pragma_function_list WHERE name = '" + std::string(b.sqliteName) + "'";
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_GT(sqlite3_column_int(st, 0), 0) << b.sqliteName;
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
}

}  // namespace
}  // namespace tabsrv
