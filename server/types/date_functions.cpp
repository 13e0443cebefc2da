// The date built-ins: getdate, dateadd, datediff, datepart, datename. The datepart argument
// arrives as text ('yy', 'month' ...) and dates as canonical TEXT ('2000-01-31 10:00:00.000').
// datediff counts boundaries crossed, as the family does: datediff(yy, 'Dec 31 1999', 'Jan 1 2000') is 1.
#include <cctype>
#include <string>

#include "server/types/datetime.h"
#include "server/types/function_support.h"

namespace tabsrv::fn {
namespace {

struct PartName {
  std::string_view name;
  std::string_view canonical;
};

constexpr PartName kParts[] = {
    {"year", "year"},
    {"yy", "year"},
    {"yyyy", "year"},
    {"quarter", "quarter"},
    {"qq", "quarter"},
    {"q", "quarter"},
    {"month", "month"},
    {"mm", "month"},
    {"m", "month"},
    {"dayofyear", "dayofyear"},
    {"dy", "dayofyear"},
    {"y", "dayofyear"},
    {"day", "day"},
    {"dd", "day"},
    {"d", "day"},
    {"week", "week"},
    {"wk", "week"},
    {"ww", "week"},
    {"weekday", "weekday"},
    {"dw", "weekday"},
    {"hour", "hour"},
    {"hh", "hour"},
    {"minute", "minute"},
    {"mi", "minute"},
    {"n", "minute"},
    {"second", "second"},
    {"ss", "second"},
    {"s", "second"},
    {"millisecond", "millisecond"},
    {"ms", "millisecond"},
};

SqlError badPart(const std::string& p) {
  return SqlError(155, 15, "'" + p + "' is not a recognized datepart option.");
}

std::string_view partOf(sqlite3_value* v) {
  std::string p = argText(v);
  std::string_view c = canonicalDatePart(p);
  if (c.empty()) throw badPart(p);
  return c;
}

int dateFirstOf(sqlite3_context* ctx) {
  auto* info = static_cast<SessionInfo*>(sqlite3_user_data(ctx));
  return info ? info->dateFirst : 7;
}

std::string_view dateFormatOf(sqlite3_context* ctx) {
  auto* info = static_cast<SessionInfo*>(sqlite3_user_data(ctx));
  return info ? std::string_view(info->dateFormat) : std::string_view("mdy");
}

void resultDateTime(sqlite3_context* ctx, const DateTime& dt) {
  std::string s = formatDateTime(dt);
  sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void getdateFn(sqlite3_context* ctx, int, sqlite3_value**) {
  resultDateTime(ctx, currentDateTime());
}

DateTime addMonths(const DateTime& dt, int64_t months) {
  DateParts p = splitDateTime(dt);
  int64_t total = static_cast<int64_t>(p.year) * 12 + (p.month - 1) + months;
  if (total < 0 || total > 9999 * 12 + 11)
    throw SqlError(517, 16, "Adding a value to a 'datetime' column caused overflow.");
  p.year = static_cast<int>(total / 12);
  p.month = static_cast<int>(total % 12) + 1;
  // Jan 31 + 1 month is Feb 28 (29): keep the day within the new month.
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (p.year % 4 == 0 && p.year % 100 != 0) || p.year % 400 == 0;
  int last = p.month == 2 && leap ? 29 : kDays[p.month - 1];
  if (p.day > last) p.day = last;
  DateTime r{daysFromCivil(p.year, p.month, p.day), dt.ticks};
  return r;
}

void dateaddFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1]) || argNull(a[2])) return sqlite3_result_null(ctx);
    std::string_view part = partOf(a[0]);
    int64_t n = argInt(a[1], "dateadd");
    DateTime dt = argDateTime(a[2], dateFormatOf(ctx));
    DateTime r;
    constexpr int64_t kLimit = 4000000000000LL;
    if (n > kLimit || n < -kLimit)
      throw SqlError(517, 16, "Adding a value to a 'datetime' column caused overflow.");
    if (part == "year")
      r = addMonths(dt, n * 12);
    else if (part == "quarter")
      r = addMonths(dt, n * 3);
    else if (part == "month")
      r = addMonths(dt, n);
    else if (part == "day" || part == "dayofyear" || part == "weekday")
      r = addTicks(dt, n * kTicksPerDay);
    else if (part == "week")
      r = addTicks(dt, n * 7 * static_cast<int64_t>(kTicksPerDay));
    else if (part == "hour")
      r = addTicks(dt, n * 3600 * 300);
    else if (part == "minute")
      r = addTicks(dt, n * 60 * 300);
    else if (part == "second")
      r = addTicks(dt, n * 300);
    else
      r = addTicks(dt, (n * 3 + (n >= 0 ? 5 : -5)) / 10);  // milliseconds to ticks, rounded
    if (!fitsDateTime(r)) throw SqlError(517, 16, "Adding a value to a 'datetime' column caused overflow.");
    resultDateTime(ctx, r);
  });
}

int64_t floorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

void datediffFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1]) || argNull(a[2])) return sqlite3_result_null(ctx);
    std::string_view part = partOf(a[0]);
    DateTime d1 = argDateTime(a[1], dateFormatOf(ctx)), d2 = argDateTime(a[2], dateFormatOf(ctx));
    DateParts p1 = splitDateTime(d1), p2 = splitDateTime(d2);
    int64_t t1 = static_cast<int64_t>(d1.days) * kTicksPerDay + d1.ticks;
    int64_t t2 = static_cast<int64_t>(d2.days) * kTicksPerDay + d2.ticks;
    int64_t r = 0;
    if (part == "year")
      r = p2.year - p1.year;
    else if (part == "quarter")
      r = (p2.year * 4 + (p2.month - 1) / 3) - (p1.year * 4 + (p1.month - 1) / 3);
    else if (part == "month")
      r = (p2.year * 12 + p2.month) - (p1.year * 12 + p1.month);
    else if (part == "day" || part == "dayofyear" || part == "weekday")
      r = d2.days - d1.days;
    else if (part == "week") {
      // Weeks start on Sunday; 1900-01-01 was a Monday, so day 6 (Jan 7) was the first Sunday.
      r = floorDiv(d2.days + 1, 7) - floorDiv(d1.days + 1, 7);
    } else if (part == "hour")
      r = floorDiv(t2, 3600 * 300) - floorDiv(t1, 3600 * 300);
    else if (part == "minute")
      r = floorDiv(t2, 60 * 300) - floorDiv(t1, 60 * 300);
    else if (part == "second")
      r = floorDiv(t2, 300) - floorDiv(t1, 300);
    else {
      int64_t ms1 = static_cast<int64_t>(d1.days) * 86400000 + (d1.ticks / 300) * 1000 + p1.millisecond;
      int64_t ms2 = static_cast<int64_t>(d2.days) * 86400000 + (d2.ticks / 300) * 1000 + p2.millisecond;
      r = ms2 - ms1;
    }
    if (r > INT32_MAX || r < INT32_MIN)
      throw SqlError(535, 16, "Difference of two datetime fields caused overflow at runtime.");
    sqlite3_result_int64(ctx, r);
  });
}

int64_t partValue(std::string_view part, const DateTime& dt, int dateFirst) {
  DateParts p = splitDateTime(dt);
  if (part == "year") return p.year;
  if (part == "quarter") return (p.month - 1) / 3 + 1;
  if (part == "month") return p.month;
  if (part == "dayofyear") return dayOfYear(dt);
  if (part == "day") return p.day;
  if (part == "week") {
    // Week 1 holds Jan 1; weeks begin on Sunday.
    int32_t jan1 = daysFromCivil(p.year, 1, 1);
    return floorDiv(dt.days + 1, 7) - floorDiv(jan1 + 1, 7) + 1;
  }
  if (part == "weekday") return weekdayOf(dt, dateFirst);
  if (part == "hour") return p.hour;
  if (part == "minute") return p.minute;
  if (part == "second") return p.second;
  return p.millisecond;
}

void datepartFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
    std::string_view part = partOf(a[0]);
    sqlite3_result_int64(ctx, partValue(part, argDateTime(a[1], dateFormatOf(ctx)), dateFirstOf(ctx)));
  });
}

void datenameFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
    std::string_view part = partOf(a[0]);
    DateTime dt = argDateTime(a[1], dateFormatOf(ctx));
    std::string s;
    if (part == "month")
      s = monthName(splitDateTime(dt).month);
    else if (part == "weekday")
      s = weekdayName(weekdayOf(dt, 7));
    else
      s = std::to_string(partValue(part, dt, dateFirstOf(ctx)));
    resultText(ctx, s);
  });
}

}  // namespace

std::string_view canonicalDatePartImpl(std::string_view name) {
  std::string n;
  for (char c : name) {
    if (!std::isspace(static_cast<unsigned char>(c)))
      n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  for (const PartName& p : kParts) {
    if (p.name == n) return p.canonical;
  }
  return {};
}

int registerDateFunctions(sqlite3* db, SessionInfo* info) {
  int rc = define(db, "t_getdate", 0, getdateFn, false, info);
  if (rc == SQLITE_OK) rc = define(db, "t_dateadd", 3, dateaddFn, false, info);
  if (rc == SQLITE_OK) rc = define(db, "t_datediff", 3, datediffFn, false, info);
  if (rc == SQLITE_OK) rc = define(db, "t_datepart", 2, datepartFn, false, info);
  if (rc == SQLITE_OK) rc = define(db, "t_datename", 2, datenameFn, false, info);
  return rc;
}

}  // namespace tabsrv::fn
