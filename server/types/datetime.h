// datetime and smalldatetime: parsing the family's input formats, the canonical text kept inside
// SQLite ('YYYY-MM-DD HH:MM:SS.mmm'), the 1/300-second tick, ranges, calendar parts, and the
// CONVERT styles for datetime to character.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/core/types.h"

namespace tabsrv {

// Ticks in one day (1/300 s).
constexpr uint32_t kTicksPerDay = 300u * 86400u;

// A datetime split into calendar and clock fields; millisecond derived from the tick.
struct DateParts {
  int year = 1900, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Days since 1900-01-01 of a proleptic Gregorian date (negative before).
int32_t daysFromCivil(int year, int month, int day);
// The calendar date of a day number.
void civilFromDays(int32_t days, int& year, int& month, int& day);

// Milliseconds <-> ticks: ms 3 -> tick 1, tick 2 -> 7 ms (the family shows .000 .003 .007 .010).
uint32_t ticksFromMilliseconds(int64_t ms);
int millisecondsFromTicks(uint32_t ticks);

// Builds a DateTime from fields (no range check); fields must be valid.
DateTime makeDateTime(const DateParts& parts);
DateParts splitDateTime(const DateTime& dt);

// Parses the family's input formats: 'YYYY-MM-DD[ HH:MM[:SS[.mmm]]]', 'YYYY-MM-DDTHH:MM:SS',
// 'YYYYMMDD [time]', 'Jan 1 2000 10:00AM', '1 Jan 2000', 'mm/dd/yyyy' ('mm-dd-yy', 'mm.dd.yyyy'),
// time alone ('10:30', '10:30:15.5', '10PM') on 1900-01-01, and '' as 1900-01-01 00:00.
// `dateFormat` is the session's "set dateformat" order for numeric dates ("mdy", "dmy", "ymd" ...).
// Nothing on text that is not a date; range is not checked here.
std::optional<DateTime> parseDateTime(std::string_view text, std::string_view dateFormat = "mdy");

// Reads only the canonical text 'YYYY-MM-DD HH:MM:SS.mmm' (what formatDateTime writes and SQLite
// keeps), without the general tokenizer; the same result as parseDateTime on that form. Nothing for
// any other text, so callers fall back to parseDateTime.
std::optional<DateTime> parseStoredDateTime(std::string_view text);

// Range checks: datetime 1753-01-01 .. 9999-12-31 23:59:59.997, smalldatetime 1900-01-01 .. 2079-06-06 23:59.
bool fitsDateTime(const DateTime& dt);
bool fitsSmallDateTime(const DateTime& dt);

// Rounds to the minute as smalldatetime does (29.998 s and less down, 29.999 s and more up).
DateTime roundToMinute(const DateTime& dt);

// The canonical text 'YYYY-MM-DD HH:MM:SS.mmm'.
std::string formatDateTime(const DateTime& dt);

// The text of CONVERT(char, dt, style): styles 0-12 (two-digit year) and 100-112; 0/100 is
// 'Jan  1 2000 10:00AM', 9/109 'Jan  1 2000 10:00:00:000AM'. Nothing for an unknown style.
std::optional<std::string> formatDateTimeStyle(const DateTime& dt, int style);

// Adds whole days / ticks with carry between them.
DateTime addTicks(const DateTime& dt, int64_t ticks);

// Current local time as a DateTime (getdate()).
DateTime currentDateTime();

// Weekday 1..7 with Sunday = 1 for datefirst 7 (the family's default); day of year 1..366.
int weekdayOf(const DateTime& dt, int dateFirst = 7);
int dayOfYear(const DateTime& dt);

// English month names for datename and style 0: "January", and the three-letter "Jan".
std::string_view monthName(int month);
std::string_view monthAbbrev(int month);
std::string_view weekdayName(int weekday);  // 1 = Sunday

}  // namespace tabsrv
