// datetime arithmetic on (days since 1900-01-01, 1/300 s ticks): the civil calendar, the family's
// input formats, the canonical text and the CONVERT styles.
#include "server/types/datetime.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace tabsrv {
namespace {

constexpr std::string_view kMonths[] = {"January",   "February", "March",    "April",
                                        "May",       "June",     "July",     "August",
                                        "September", "October",  "November", "December"};
constexpr std::string_view kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};

// Days from 1970-01-01 (Howard Hinnant's civil algorithm) shifted to 1900-01-01.
constexpr int32_t kEpochShift = 25567;  // days from 1900-01-01 to 1970-01-01

bool isLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

char lowerChar(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// A token of a date text: a number (with its digit count), a word, or a separator character.
struct Token {
  enum Kind { Number, Word, Sep } kind;
  std::string text;
  int value = 0;
};

std::vector<Token> tokenize(std::string_view s, bool& ok) {
  std::vector<Token> out;
  ok = true;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      size_t j = i;
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      Token t{Token::Number, std::string(s.substr(i, j - i))};
      if (t.text.size() > 9) {
        ok = false;
        return out;
      }
      t.value = std::stoi(t.text);
      out.push_back(t);
      i = j;
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      size_t j = i;
      while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j]))) ++j;
      std::string w;
      for (size_t k = i; k < j; ++k) w += lowerChar(s[k]);
      out.push_back(Token{Token::Word, w});
      i = j;
    } else if (c == '-' || c == '/' || c == '.' || c == ':' || c == ',') {
      out.push_back(Token{Token::Sep, std::string(1, c)});
      ++i;
    } else {
      ok = false;
      return out;
    }
  }
  return out;
}

int monthFromWord(const std::string& w) {
  if (w.size() < 3) return 0;
  for (int m = 0; m < 12; ++m) {
    std::string full;
    for (char c : kMonths[m]) full += lowerChar(c);
    if (full.compare(0, w.size(), w) == 0) return m + 1;
  }
  return 0;
}

int fullYear(const Token& t) {
  if (t.text.size() <= 2) return t.value < 50 ? 2000 + t.value : 1900 + t.value;
  return t.value;
}

bool validDate(int y, int m, int d) {
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m);
}

// Parses the time part starting at tokens[i]: hh[:mm[:ss[.fff|:fff]]][AM|PM] or hh AM|PM.
bool parseTime(const std::vector<Token>& t, size_t i, DateParts& p) {
  if (i >= t.size()) return true;
  if (t[i].kind != Token::Number) return false;
  p.hour = t[i].value;
  ++i;
  bool hasColon = false;
  int frac = 0, fracDigits = 0;
  bool fracIsMs = false;
  if (i + 1 < t.size() + 1 && i < t.size() && t[i].kind == Token::Sep && t[i].text == ":") {
    hasColon = true;
    if (i + 1 >= t.size() || t[i + 1].kind != Token::Number) return false;
    p.minute = t[i + 1].value;
    i += 2;
    if (i < t.size() && t[i].kind == Token::Sep && t[i].text == ":") {
      if (i + 1 >= t.size() || t[i + 1].kind != Token::Number) return false;
      p.second = t[i + 1].value;
      i += 2;
      if (i < t.size() && t[i].kind == Token::Sep && (t[i].text == "." || t[i].text == ":")) {
        if (i + 1 >= t.size() || t[i + 1].kind != Token::Number) return false;
        // '.5' is half a second; ':5' is 5 milliseconds, as the family reads them.
        fracIsMs = t[i].text == ":";
        frac = t[i + 1].value;
        fracDigits = static_cast<int>(t[i + 1].text.size());
        i += 2;
      }
    }
  }
  if (i < t.size() && t[i].kind == Token::Word) {
    const std::string& w = t[i].text;
    if (w != "am" && w != "pm") return false;
    if (p.hour < 1 || p.hour > 12) return false;
    if (w == "am" && p.hour == 12) p.hour = 0;
    if (w == "pm" && p.hour != 12) p.hour += 12;
    ++i;
  } else if (!hasColon) {
    return false;
  }
  if (i != t.size()) return false;
  if (p.hour > 23 || p.minute > 59 || p.second > 59) return false;
  if (fracIsMs) {
    if (frac > 999) return false;
    p.millisecond = frac;
  } else if (fracDigits > 0) {
    // Keep three digits, rounding the fourth.
    long long v = frac;
    int d = fracDigits;
    while (d > 4) {
      v /= 10;
      --d;
    }
    if (d == 4) {
      v = (v + 5) / 10;
    } else {
      while (d < 3) {
        v *= 10;
        ++d;
      }
    }
    p.millisecond = static_cast<int>(v);
  }
  return true;
}

bool isTimeStart(const std::vector<Token>& t, size_t i) {
  if (i >= t.size() || t[i].kind != Token::Number) return false;
  if (i + 1 < t.size() && t[i + 1].kind == Token::Sep && t[i + 1].text == ":") return true;
  return i + 1 < t.size() && t[i + 1].kind == Token::Word && (t[i + 1].text == "am" || t[i + 1].text == "pm");
}

// Orders three numbers by the session's dateformat ("mdy" ...) into y, m, d.
void orderParts(std::string_view fmt, const Token& a, const Token& b, const Token& c, int& y, int& m,
                int& d) {
  const Token* tk[3] = {&a, &b, &c};
  y = m = d = 0;
  for (int i = 0; i < 3; ++i) {
    char f = i < static_cast<int>(fmt.size()) ? lowerChar(fmt[i]) : "mdy"[i];
    if (f == 'y')
      y = fullYear(*tk[i]);
    else if (f == 'm')
      m = tk[i]->value;
    else
      d = tk[i]->value;
  }
}

}  // namespace

int32_t daysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int>(doe) - 719468 + kEpochShift;
}

void civilFromDays(int32_t days, int& year, int& month, int& day) {
  int z = days - kEpochShift + 719468;
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int y = static_cast<int>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = y + (month <= 2);
}

uint32_t ticksFromMilliseconds(int64_t ms) {
  return static_cast<uint32_t>((ms * 3 + 5) / 10);
}
int millisecondsFromTicks(uint32_t ticks) {
  return static_cast<int>((static_cast<uint64_t>(ticks) * 10 + 1) / 3);
}

DateTime makeDateTime(const DateParts& p) {
  DateTime dt;
  dt.days = daysFromCivil(p.year, p.month, p.day);
  int64_t ticks = (static_cast<int64_t>(p.hour) * 3600 + p.minute * 60 + p.second) * 300 +
                  ticksFromMilliseconds(p.millisecond);
  return addTicks(dt, ticks);
}

DateParts splitDateTime(const DateTime& dt) {
  DateParts p;
  civilFromDays(dt.days, p.year, p.month, p.day);
  uint32_t secs = dt.ticks / 300;
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>(secs / 60 % 60);
  p.second = static_cast<int>(secs % 60);
  p.millisecond = millisecondsFromTicks(dt.ticks % 300);
  return p;
}

DateTime addTicks(const DateTime& dt, int64_t ticks) {
  int64_t total = static_cast<int64_t>(dt.ticks) + ticks;
  int64_t days = total / kTicksPerDay;
  int64_t rem = total % kTicksPerDay;
  if (rem < 0) {
    rem += kTicksPerDay;
    --days;
  }
  return DateTime{static_cast<int32_t>(dt.days + days), static_cast<uint32_t>(rem)};
}

std::optional<DateTime> parseStoredDateTime(std::string_view text) {
  // 'YYYY-MM-DD HH:MM:SS.mmm': digits everywhere but the six separator positions.
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd.ddd";
  if (text.size() != sizeof kShape - 1) return std::nullopt;
  int digit[23];
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (kShape[i] == 'd') {
      if (c < '0' || c > '9') return std::nullopt;
      digit[i] = c - '0';
    } else if (c != kShape[i]) {
      return std::nullopt;
    }
  }
  auto number = [&](size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) v = v * 10 + digit[i];
    return v;
  };
  DateParts p;
  p.year = number(0, 4);
  p.month = number(5, 2);
  p.day = number(8, 2);
  p.hour = number(11, 2);
  p.minute = number(14, 2);
  p.second = number(17, 2);
  p.millisecond = number(20, 3);
  if (!validDate(p.year, p.month, p.day) || p.hour > 23 || p.minute > 59 || p.second > 59) return std::nullopt;
  return makeDateTime(p);
}

std::optional<DateTime> parseDateTime(std::string_view text, std::string_view dateFormat) {
  bool ok = true;
  std::vector<Token> t = tokenize(text, ok);
  if (!ok) return std::nullopt;
  DateParts p;
  if (t.empty()) return makeDateTime(p);  // '' is 1900-01-01 00:00
  // 'YYYY-MM-DDTHH:MM:SS': split the 'T' off a word token "t".
  size_t timeAt = t.size();
  bool haveDate = false;
  int y = 1900, m = 1, d = 1;
  if (isTimeStart(t, 0)) {
    timeAt = 0;
  } else if (t[0].kind == Token::Number && t[0].text.size() == 8) {
    // YYYYMMDD
    y = t[0].value / 10000;
    m = t[0].value / 100 % 100;
    d = t[0].value % 100;
    haveDate = true;
    timeAt = 1;
  } else if (t[0].kind == Token::Number && t[0].text.size() == 6 && (t.size() == 1 || isTimeStart(t, 1))) {
    // YYMMDD
    Token yy{Token::Number, t[0].text.substr(0, 2), t[0].value / 10000};
    y = fullYear(yy);
    m = t[0].value / 100 % 100;
    d = t[0].value % 100;
    haveDate = true;
    timeAt = 1;
  } else if (t.size() >= 5 && t[0].kind == Token::Number && t[1].kind == Token::Sep &&
             t[2].kind == Token::Number && t[3].kind == Token::Sep && t[4].kind == Token::Number &&
             t[1].text == t[3].text && t[1].text != ":" && t[1].text != ",") {
    if (t[0].text.size() == 4) {
      // ISO order: YYYY-MM-DD, YYYY/MM/DD, YYYY.MM.DD
      y = t[0].value;
      m = t[2].value;
      d = t[4].value;
    } else {
      orderParts(dateFormat, t[0], t[2], t[4], y, m, d);
      if (t[4].text.size() == 4 && dateFormat.size() == 3 && dateFormat[2] != 'y') return std::nullopt;
    }
    haveDate = true;
    timeAt = 5;
    if (timeAt < t.size() && t[timeAt].kind == Token::Word && t[timeAt].text.size() > 1 &&
        t[timeAt].text[0] == 't') {
      return std::nullopt;
    }
    if (timeAt < t.size() && t[timeAt].kind == Token::Word && t[timeAt].text == "t") ++timeAt;
  } else if (t.size() >= 3 && t[0].kind == Token::Word && monthFromWord(t[0].text) &&
             t[1].kind == Token::Number) {
    // 'Jan 1 2000', 'Jan 1, 2000', 'January 01 2000 10:00AM'
    m = monthFromWord(t[0].text);
    d = t[1].value;
    size_t i = 2;
    if (i < t.size() && t[i].kind == Token::Sep && t[i].text == ",") ++i;
    if (i >= t.size() || t[i].kind != Token::Number || isTimeStart(t, i)) return std::nullopt;
    y = fullYear(t[i]);
    haveDate = true;
    timeAt = i + 1;
  } else if (t.size() >= 3 && t[0].kind == Token::Number && t[1].kind == Token::Word &&
             monthFromWord(t[1].text) && t[2].kind == Token::Number) {
    // '1 Jan 2000'
    d = t[0].value;
    m = monthFromWord(t[1].text);
    y = fullYear(t[2]);
    haveDate = true;
    timeAt = 3;
  } else if (t.size() >= 3 && t[0].kind == Token::Word && monthFromWord(t[0].text) &&
             t[1].kind == Token::Number && t[1].text.size() == 4) {
    return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (haveDate) {
    if (!validDate(y, m, d)) return std::nullopt;
    p.year = y;
    p.month = m;
    p.day = d;
  }
  if (timeAt < t.size()) {
    std::vector<Token> rest(t.begin() + static_cast<long>(timeAt), t.end());
    if (!parseTime(rest, 0, p)) return std::nullopt;
  }
  return makeDateTime(p);
}

bool fitsDateTime(const DateTime& dt) {
  return dt.days >= daysFromCivil(1753, 1, 1) && dt.days <= daysFromCivil(9999, 12, 31);
}

bool fitsSmallDateTime(const DateTime& dt) {
  return dt.days >= 0 && dt.days <= daysFromCivil(2079, 6, 6);
}

DateTime roundToMinute(const DateTime& dt) {
  // 29.998 s and less round down, 29.999 s and more up; in ticks 29.999 s is already 30.000 s.
  uint32_t minuteTicks = 60 * 300;
  uint32_t within = dt.ticks % minuteTicks;
  DateTime r{dt.days, dt.ticks - within};
  if (within >= 30 * 300) r = addTicks(r, minuteTicks);
  return r;
}

std::string formatDateTime(const DateTime& dt) {
  DateParts p = splitDateTime(dt);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour,
                p.minute, p.second, p.millisecond);
  return buf;
}

std::optional<std::string> formatDateTimeStyle(const DateTime& dt, int style) {
  DateParts p = splitDateTime(dt);
  bool century = style >= 100;
  int base = century ? style - 100 : style;
  char yy[8];
  if (century || base == 0 || base == 9) {
    std::snprintf(yy, sizeof yy, "%04d", p.year);
  } else {
    std::snprintf(yy, sizeof yy, "%02d", p.year % 100);
  }
  char buf[64];
  int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
  const char* ampm = p.hour < 12 ? "AM" : "PM";
  std::string mon(monthAbbrev(p.month));
  switch (base) {
    case 0:
      std::snprintf(buf, sizeof buf, "%s %2d %s %2d:%02d%s", mon.c_str(), p.day, yy, h12, p.minute, ampm);
      break;
    case 1:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%s", p.month, p.day, yy);
      break;
    case 2:
      std::snprintf(buf, sizeof buf, "%s.%02d.%02d", yy, p.month, p.day);
      break;
    case 3:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%s", p.day, p.month, yy);
      break;
    case 4:
      std::snprintf(buf, sizeof buf, "%02d.%02d.%s", p.day, p.month, yy);
      break;
    case 5:
      std::snprintf(buf, sizeof buf, "%02d-%02d-%s", p.day, p.month, yy);
      break;
    case 6:
      std::snprintf(buf, sizeof buf, "%02d %s %s", p.day, mon.c_str(), yy);
      break;
    case 7:
      std::snprintf(buf, sizeof buf, "%s %02d, %s", mon.c_str(), p.day, yy);
      break;
    case 8:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
      break;
    case 9:
      std::snprintf(buf, sizeof buf, "%s %2d %s %2d:%02d:%02d:%03d%s", mon.c_str(), p.day, yy, h12, p.minute,
                    p.second, p.millisecond, ampm);
      break;
    case 10:
      std::snprintf(buf, sizeof buf, "%02d-%02d-%s", p.month, p.day, yy);
      break;
    case 11:
      std::snprintf(buf, sizeof buf, "%s/%02d/%02d", yy, p.month, p.day);
      break;
    case 12:
      std::snprintf(buf, sizeof buf, "%s%02d%02d", yy, p.month, p.day);
      break;
    default:
      return std::nullopt;
  }
  return std::string(buf);
}

DateTime currentDateTime() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t tt = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&tt, &local);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  DateParts p{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
              local.tm_hour,        local.tm_min,     local.tm_sec > 59 ? 59 : local.tm_sec,
              static_cast<int>(ms)};
  return makeDateTime(p);
}

int weekdayOf(const DateTime& dt, int dateFirst) {
  // 1900-01-01 was a Monday: Sunday-based index 0..6.
  int sundayBased = ((dt.days % 7) + 7 + 1) % 7;  // 0 = Sunday
  // With datefirst 7 Sunday is 1; datefirst 1 makes Monday 1.
  int first = dateFirst % 7;  // 7 -> 0 (Sunday)
  return ((sundayBased - first) % 7 + 7) % 7 + 1;
}

int dayOfYear(const DateTime& dt) {
  int y, m, d;
  civilFromDays(dt.days, y, m, d);
  return dt.days - daysFromCivil(y, 1, 1) + 1;
}

std::string_view monthName(int month) {
  return month >= 1 && month <= 12 ? kMonths[month - 1] : "";
}
std::string_view monthAbbrev(int month) {
  return monthName(month).substr(0, 3);
}
std::string_view weekdayName(int weekday) {
  return weekday >= 1 && weekday <= 7 ? kWeekdays[weekday - 1] : "";
}

}  // namespace tabsrv
