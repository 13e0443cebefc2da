// datetime parsing of the family's input formats, ticks, ranges and CONVERT styles.
#include "server/types/datetime.h"

#include <gtest/gtest.h>

namespace tabsrv {
namespace {

TEST(DateTime, ParsesInputFormats) {
  struct Case {
    const char* name;
    const char* input;
    const char* canonical;  // nullptr: not a date
  } cases[] = {
      {"iso", "2000-01-31 10:20:30.123", "2000-01-31 10:20:30.123"},
      {"iso_date_only", "1999-12-31", "1999-12-31 00:00:00.000"},
      {"iso_t", "2000-01-31T10:20:30", "2000-01-31 10:20:30.000"},
      {"compact", "20000131", "2000-01-31 00:00:00.000"},
      {"compact_time", "20000131 23:59", "2000-01-31 23:59:00.000"},
      {"month_name", "Jan 1 2000 10:00AM", "2000-01-01 10:00:00.000"},
      {"month_name_pm", "Feb 29 2000 12:30PM", "2000-02-29 12:30:00.000"},
      {"midnight_am", "Mar 3 2001 12:15AM", "2001-03-03 00:15:00.000"},
      {"month_full_comma", "December 25, 2010", "2010-12-25 00:00:00.000"},
      {"day_month_year", "1 Jan 2000", "2000-01-01 00:00:00.000"},
      {"slashes_mdy", "12/31/1999", "1999-12-31 00:00:00.000"},
      {"two_digit_year", "01/02/49", "2049-01-02 00:00:00.000"},
      {"two_digit_year_19", "01/02/50", "1950-01-02 00:00:00.000"},
      {"time_alone", "10:30:15", "1900-01-01 10:30:15.000"},
      {"time_half_second", "10:30:15.5", "1900-01-01 10:30:15.500"},
      {"time_colon_ms", "10:30:15:5", "1900-01-01 10:30:15.007"},
      {"time_pm_only", "10PM", "1900-01-01 22:00:00.000"},
      {"empty_is_1900", "", "1900-01-01 00:00:00.000"},
      {"not_a_leap_day", "1900-02-29", nullptr},
      {"bad_month", "2000-13-01", nullptr},
      {"words", "abc", nullptr},
      {"bad_hour", "2000-01-01 25:00", nullptr},
  };
  for (const auto& c : cases) {
    auto dt = parseDateTime(c.input);
    if (!c.canonical) {
      EXPECT_FALSE(dt) << c.name;
      continue;
    }
    ASSERT_TRUE(dt) << c.name;
    EXPECT_EQ(formatDateTime(*dt), c.canonical) << c.name;
  }
}

TEST(DateTime, DmyDateFormat) {
  auto dt = parseDateTime("31/12/1999", "dmy");
  ASSERT_TRUE(dt);
  EXPECT_EQ(formatDateTime(*dt), "1999-12-31 00:00:00.000");
}

TEST(DateTime, MillisecondsRoundToTicks) {
  struct Case {
    int ms;
    int shown;
  } cases[] = {{0, 0}, {1, 0}, {2, 3}, {3, 3}, {5, 7}, {6, 7}, {7, 7}, {9, 10}, {998, 997}, {999, 1000}};
  for (const auto& c : cases) {
    DateTime dt = makeDateTime(DateParts{2000, 1, 1, 0, 0, 0, c.ms});
    int64_t total = static_cast<int64_t>(dt.days - daysFromCivil(2000, 1, 1)) * 86400000 +
                    millisecondsFromTicks(dt.ticks);
    EXPECT_EQ(total, c.shown) << c.ms;
  }
  // .999 carries into the next second.
  EXPECT_EQ(formatDateTime(*parseDateTime("1999-12-31 23:59:59.999")), "2000-01-01 00:00:00.000");
}

TEST(DateTime, RangesAndMinuteRounding) {
  EXPECT_TRUE(fitsDateTime(*parseDateTime("1753-01-01")));
  EXPECT_FALSE(fitsDateTime(*parseDateTime("1752-12-31")));
  EXPECT_TRUE(fitsDateTime(*parseDateTime("9999-12-31 23:59:59.997")));
  EXPECT_TRUE(fitsSmallDateTime(*parseDateTime("2079-06-06 23:59")));
  EXPECT_FALSE(fitsSmallDateTime(*parseDateTime("2079-06-07")));
  EXPECT_FALSE(fitsSmallDateTime(*parseDateTime("1899-12-31")));
  EXPECT_EQ(formatDateTime(roundToMinute(*parseDateTime("2000-01-01 10:00:29.998"))),
            "2000-01-01 10:00:00.000");
  EXPECT_EQ(formatDateTime(roundToMinute(*parseDateTime("2000-01-01 10:00:29.999"))),
            "2000-01-01 10:01:00.000");
  EXPECT_EQ(formatDateTime(roundToMinute(*parseDateTime("2000-01-01 23:59:45"))), "2000-01-02 00:00:00.000");
}

TEST(DateTime, ConvertStyles) {
  DateTime dt = *parseDateTime("2004-03-07 14:05:09.120");
  struct Case {
    int style;
    const char* text;
  } cases[] = {
      {0, "Mar  7 2004  2:05PM"},
      {100, "Mar  7 2004  2:05PM"},
      {1, "03/07/04"},
      {101, "03/07/2004"},
      {2, "04.03.07"},
      {102, "2004.03.07"},
      {3, "07/03/04"},
      {103, "07/03/2004"},
      {4, "07.03.04"},
      {104, "07.03.2004"},
      {5, "07-03-04"},
      {105, "07-03-2004"},
      {6, "07 Mar 04"},
      {106, "07 Mar 2004"},
      {7, "Mar 07, 04"},
      {107, "Mar 07, 2004"},
      {8, "14:05:09"},
      {108, "14:05:09"},
      {9, "Mar  7 2004  2:05:09:120PM"},
      {109, "Mar  7 2004  2:05:09:120PM"},
      {10, "03-07-04"},
      {110, "03-07-2004"},
      {11, "04/03/07"},
      {111, "2004/03/07"},
      {12, "040307"},
      {112, "20040307"},
  };
  for (const auto& c : cases) {
    auto s = formatDateTimeStyle(dt, c.style);
    ASSERT_TRUE(s) << c.style;
    EXPECT_EQ(*s, c.text) << c.style;
  }
  EXPECT_FALSE(formatDateTimeStyle(dt, 13));
}

TEST(DateTime, CalendarAroundEpoch) {
  EXPECT_EQ(daysFromCivil(1900, 1, 1), 0);
  EXPECT_EQ(daysFromCivil(1899, 12, 31), -1);
  int y, m, d;
  civilFromDays(daysFromCivil(1753, 1, 1), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 17530101);
  // 1900-01-01 was a Monday: weekday 2 with Sunday first.
  EXPECT_EQ(weekdayOf(DateTime{0, 0}), 2);
  EXPECT_EQ(weekdayOf(DateTime{0, 0}, 1), 1);
  EXPECT_EQ(dayOfYear(*parseDateTime("2000-12-31")), 366);
}

}  // namespace
}  // namespace tabsrv
