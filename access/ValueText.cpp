#include "access/ValueText.h"

#include <array>
#include <charconv>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace valuetext {

int64_t MillisecondsOfTicks(int64_t ticks) {
  // 10 * ticks / 3 leaves a remainder of 0, 1 or 2 thirds: adding one third before the
  // division rounds the two-thirds case up and never reaches a half.
  return ticks <= 0 ? 0 : (ticks * 10 + 1) / 3;
}

int64_t TicksOfMilliseconds(int64_t milliseconds) {
  return milliseconds <= 0 ? 0 : (milliseconds * 3 + 5) / 10;
}

namespace {

char* WriteUnsigned(char* out, unsigned long long v) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  while (n) *out++ = digits[--n];
  return out;
}

char* WriteTwo(char* out, unsigned v, char pad) {
  *out++ = v >= 10 ? static_cast<char>('0' + v / 10) : pad;
  *out++ = static_cast<char>('0' + v % 10);
  return out;
}

// The month abbreviations (0 to 11) and the AM and PM marks (12, 13) as strftime writes them
// in the C library's current locale.
const std::vector<std::string>& DateNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n(14);
    std::tm tm{};
    tm.tm_year = 124;
    tm.tm_mday = 1;
    char buf[64];
    for (int m = 0; m < 12; ++m) {
      tm.tm_mon = m;
      n[static_cast<size_t>(m)].assign(buf, std::strftime(buf, sizeof buf, "%b", &tm));
    }
    for (int h = 0; h < 2; ++h) {
      tm.tm_hour = h * 12;
      n[static_cast<size_t>(12 + h)].assign(buf, std::strftime(buf, sizeof buf, "%p", &tm));
    }
    return n;
  }();
  return names;
}

char* WriteName(char* out, const std::string& name) {
  std::memcpy(out, name.data(), name.size());
  return out + name.size();
}

// A day count since 1900-01-01 and minutes of the day in the conversion's default form,
// "Mar  5 2024 01:45PM".
char* WriteDateTime(char* out, long days, unsigned minutes) {
  // Civil date by the proleptic Gregorian calendar, from days since 1970-01-01.
  const long z = days - 25567 + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long year = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  const auto& names = DateNames();
  out = WriteName(out, names[month - 1]);
  *out++ = ' ';
  out = WriteTwo(out, day, ' ');
  *out++ = ' ';
  if (year < 0) {
    *out++ = '-';
    year = -year;
  }
  out = WriteUnsigned(out, static_cast<unsigned long long>(year));
  *out++ = ' ';
  const unsigned hour = minutes / 60;
  out = WriteTwo(out, (hour + 11) % 12 + 1, '0');
  *out++ = ':';
  out = WriteTwo(out, minutes % 60, '0');
  return WriteName(out, names[hour >= 12 ? 13 : 12]);
}

// Four decimals of a money value's ten-thousandths.
char* WriteMoney(char* out, long long v) {
  unsigned long long n = static_cast<unsigned long long>(v);
  if (v < 0) {
    *out++ = '-';
    n = 0ull - n;
  }
  out = WriteUnsigned(out, n / 10000);
  *out++ = '.';
  const unsigned f = static_cast<unsigned>(n % 10000);
  out = WriteTwo(out, f / 100, '0');
  return WriteTwo(out, f % 100, '0');
}

// The bytes of a numeric of this precision, sign byte included; 0 above 38 digits.
int NumericBytes(int precision) {
  if (precision < 1 || precision > 38) return 0;
  unsigned __int128 limit = 1;
  for (int i = 0; i < precision; ++i) limit *= 10;
  int bytes = 0;
  for (unsigned __int128 span = 1; span < limit && bytes < 16; span <<= 8) ++bytes;
  return bytes + 1;
}

// What each kind is checked with: signs, zero, fractions, extremes, both halves of the day.
struct Probe {
  CS_INT type;
  std::string bytes;
  int precision = 0, scale = 0;
};

template <class T>
Probe Make(CS_INT type, const T& v, int precision = 0, int scale = 0) {
  return {type, std::string(reinterpret_cast<const char*>(&v), sizeof v), precision, scale};
}

std::vector<Probe> Probes(Kind kind) {
  std::vector<Probe> out;
  switch (kind) {
    case Kind::Int:
      for (CS_INT v : {0, -1, 7, 2147483647, -2147483647 - 1}) out.push_back(Make(CS_INT_TYPE, v));
      break;
    case Kind::Float:
      for (CS_FLOAT v : {2.25, 0.1, -1e300, 123456789.125, 0.0, 1e-5, 1e17, 1.0 / 3})
        out.push_back(Make(CS_FLOAT_TYPE, v));
      break;
    case Kind::Real:
      for (CS_REAL v : {1.5f, 0.1f, -3.4e38f, 16777216.0f, 1e-5f}) out.push_back(Make(CS_REAL_TYPE, v));
      break;
    case Kind::Money:
      for (long long v : {123456LL, -15000LL, 0LL, 1LL, -9223372036854775807LL - 1}) {
        CS_MONEY m;
        m.mnyhigh = static_cast<CS_INT>(v >> 32);
        m.mnylow = static_cast<CS_UINT>(v & 0xffffffffu);
        out.push_back(Make(CS_MONEY_TYPE, m));
      }
      break;
    case Kind::Money4:
      for (CS_INT v : {123456, -15000, 0, -2147483647 - 1}) {
        CS_MONEY4 m;
        m.mny4 = v;
        out.push_back(Make(CS_MONEY4_TYPE, m));
      }
      break;
    case Kind::Numeric: {
      // 1234.56 as numeric(12,2), -0.05 as numeric(5,3), 0 as numeric(38,10).
      CS_NUMERIC a{};
      a.precision = 12;
      a.scale = 2;
      a.array[3] = 0x01;
      a.array[4] = 0xE2;
      a.array[5] = 0x40;
      out.push_back(Make(CS_NUMERIC_TYPE, a, 12, 2));
      CS_NUMERIC b{};
      b.precision = 5;
      b.scale = 3;
      b.array[0] = 1;
      b.array[3] = 50;
      out.push_back(Make(CS_NUMERIC_TYPE, b, 5, 3));
      CS_NUMERIC c{};
      c.precision = 38;
      c.scale = 10;
      out.push_back(Make(CS_NUMERIC_TYPE, c, 38, 10));
      break;
    }
    case Kind::DateTime:
      // 2024-03-05 13:45:30.5, 1900-01-01 00:00, 1999-12-25 12:07, 1753-01-01 09:59:59.997.
      for (auto [d, t] : {std::pair<CS_INT, CS_INT>{45354, 14857650}, {0, 0}, {36517, 12960000 + 2100},
                          {-53690, 10799999}}) {
        CS_DATETIME v;
        v.dtdays = d;
        v.dttime = t;
        out.push_back(Make(CS_DATETIME_TYPE, v));
      }
      break;
    case Kind::DateTime4:
      for (auto [d, m] : {std::pair<int, int>{45354, 825}, {0, 0}, {65535, 1439}, {36517, 720}}) {
        CS_DATETIME4 v;
        v.days = static_cast<CS_USHORT>(d);
        v.minutes = static_cast<CS_USHORT>(m);
        out.push_back(Make(CS_DATETIME4_TYPE, v));
      }
      break;
    default:
      break;
  }
  return out;
}

}  // namespace

Kind KindOf(CS_INT datatype) {
  switch (datatype) {
    case CS_TINYINT_TYPE: case CS_SMALLINT_TYPE: case CS_INT_TYPE: case CS_BIT_TYPE: return Kind::Int;
    case CS_FLOAT_TYPE: return Kind::Float;
    case CS_REAL_TYPE: return Kind::Real;
    case CS_MONEY_TYPE: return Kind::Money;
    case CS_MONEY4_TYPE: return Kind::Money4;
    case CS_NUMERIC_TYPE: case CS_DECIMAL_TYPE: return Kind::Numeric;
    case CS_DATETIME_TYPE: return Kind::DateTime;
    case CS_DATETIME4_TYPE: return Kind::DateTime4;
    default: return Kind::Text;
  }
}

CS_INT BoundType(Kind kind, CS_INT serverType) { return kind == Kind::Int ? CS_INT_TYPE : serverType; }

int BoundSize(Kind kind) {
  switch (kind) {
    case Kind::Int: return sizeof(CS_INT);
    case Kind::Float: return sizeof(CS_FLOAT);
    case Kind::Real: return sizeof(CS_REAL);
    case Kind::Money: return sizeof(CS_MONEY);
    case Kind::Money4: return sizeof(CS_MONEY4);
    case Kind::Numeric: return sizeof(CS_NUMERIC);
    case Kind::DateTime: return sizeof(CS_DATETIME);
    case Kind::DateTime4: return sizeof(CS_DATETIME4);
    default: return 0;
  }
}

std::string Convert(CS_CONTEXT* context, CS_INT type, const void* data, int length, int precision, int scale) {
  CS_DATAFMT src{}, dst{};
  src.datatype = type;
  src.maxlength = length;
  src.precision = precision;
  src.scale = scale;
  dst.datatype = CS_CHAR_TYPE;
  dst.format = CS_FMT_UNUSED;
  dst.maxlength = 128;
  char out[160];
  CS_INT len = 0;
  if (!context ||
      ctlib::cs_convert(context, &src, const_cast<void*>(data), &dst, out, &len) != CS_SUCCEED || len < 0)
    return {};
  return std::string(out, static_cast<size_t>(std::min<CS_INT>(len, 128)));
}

bool Agrees(CS_CONTEXT* context, Kind kind) {
  if (!context || kind == Kind::Text || kind >= Kind::Count) return false;
  static std::mutex mutex;
  static std::map<CS_CONTEXT*, std::array<uint8_t, static_cast<size_t>(Kind::Count)>> states;
  std::lock_guard lock(mutex);
  uint8_t& state = states[context][static_cast<size_t>(kind)];
  if (state == 0) {
    bool agrees = true;
    for (const Probe& p : Probes(kind)) {
      char out[128];
      char* end = Write(kind, p.bytes.data(), out);
      const std::string theirs =
          Convert(context, p.type, p.bytes.data(), static_cast<int>(p.bytes.size()), p.precision, p.scale);
      if (!end || theirs.empty() || std::string(out, static_cast<size_t>(end - out)) != theirs) {
        agrees = false;
        break;
      }
    }
    state = agrees ? 1 : 2;
  }
  return state == 1;
}

char* Write(Kind kind, const void* data, char* out) {
  switch (kind) {
    case Kind::Int: {
      CS_INT v;
      std::memcpy(&v, data, sizeof v);
      if (v < 0) *out++ = '-';
      return WriteUnsigned(out, v < 0 ? 0ull - static_cast<unsigned long long>(static_cast<long long>(v))
                                      : static_cast<unsigned long long>(v));
    }
    case Kind::Float: {
      CS_FLOAT v;
      std::memcpy(&v, data, sizeof v);
      const auto r = std::to_chars(out, out + 64, static_cast<double>(v), std::chars_format::general, 17);
      return r.ec == std::errc() ? r.ptr : nullptr;
    }
    case Kind::Real: {
      CS_REAL v;
      std::memcpy(&v, data, sizeof v);
      const auto r = std::to_chars(out, out + 64, static_cast<double>(v), std::chars_format::general, 9);
      return r.ec == std::errc() ? r.ptr : nullptr;
    }
    case Kind::Money: {
      CS_MONEY m;
      std::memcpy(&m, data, sizeof m);
      const uint64_t high = static_cast<uint32_t>(m.mnyhigh);
      return WriteMoney(out, static_cast<long long>((high << 32) | m.mnylow));
    }
    case Kind::Money4: {
      CS_MONEY4 m;
      std::memcpy(&m, data, sizeof m);
      return WriteMoney(out, m.mny4);
    }
    case Kind::Numeric: {
      CS_NUMERIC num;
      std::memcpy(&num, data, sizeof num);
      const int bytes = NumericBytes(num.precision);
      if (bytes == 0 || num.scale > num.precision) return nullptr;
      unsigned __int128 mag = 0;
      for (int i = 1; i < bytes; ++i) mag = (mag << 8) | num.array[i];
      if (num.array[0] == 1) *out++ = '-';
      char digits[48];
      int n = 0;
      while (mag) {
        digits[n++] = static_cast<char>('0' + static_cast<int>(mag % 10));
        mag /= 10;
      }
      const int scale = num.scale;
      if (n == 0) {
        *out++ = '0';
        if (scale) {
          *out++ = '.';
          for (int i = 0; i < scale; ++i) *out++ = '0';
        }
        return out;
      }
      if (n <= scale) {
        *out++ = '0';
        *out++ = '.';
        for (int i = n; i < scale; ++i) *out++ = '0';
      }
      for (int i = n; i > 0; --i) {
        *out++ = digits[i - 1];
        if (i - 1 == scale && i - 1 > 0) *out++ = '.';
      }
      return out;
    }
    case Kind::DateTime: {
      CS_DATETIME dt;
      std::memcpy(&dt, data, sizeof dt);
      if (dt.dttime < 0) return nullptr;
      return WriteDateTime(out, dt.dtdays, static_cast<unsigned>(dt.dttime / 300 / 60));
    }
    case Kind::DateTime4: {
      CS_DATETIME4 dt;
      std::memcpy(&dt, data, sizeof dt);
      return WriteDateTime(out, dt.days, dt.minutes);
    }
    default:
      return nullptr;
  }
}

}  // namespace valuetext
