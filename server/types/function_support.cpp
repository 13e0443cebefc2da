// Argument readers, UTF-8 helpers and the LIKE matcher shared by the t_* functions.
#include "server/types/function_support.h"

#include <cmath>
#include <cstdio>

#include "server/types/convert.h"
#include "server/types/datetime.h"
#include "server/types/decimal.h"

namespace tabsrv::fn {

int define(sqlite3* db, const char* name, int nargs, void (*fn)(sqlite3_context*, int, sqlite3_value**),
           bool deterministic, void* userData) {
  int flags = SQLITE_UTF8 | (deterministic ? SQLITE_DETERMINISTIC : 0);
  return sqlite3_create_function_v2(db, name, nargs, flags, userData, fn, nullptr, nullptr, nullptr);
}

std::string argText(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      return {};
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
      return valueToText(sqlite3_value_double(v), TypeDesc{SqlType::Float, 8, 0, 0});
    default: {
      const auto* p = static_cast<const char*>(sqlite3_value_blob(v));
      return std::string(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(v)));
    }
  }
}

static SqlError notNumber(sqlite3_value* v) {
  return conversionError(ConversionError::Syntax, ConversionKind::Implicit, SqlType::VarChar, SqlType::Int,
                         argText(v));
}

Number argNumber(sqlite3_value* v, std::string_view) {
  Number n;
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      n.kind = Number::Integer;
      n.i = sqlite3_value_int64(v);
      return n;
    case SQLITE_FLOAT:
      n.kind = Number::Real;
      n.d = sqlite3_value_double(v);
      return n;
    default: {
      auto d = parseDecimal(argText(v));
      if (!d) throw notNumber(v);
      n.kind = Number::Exact;
      n.dec = *d;
      return n;
    }
  }
}

void resultNumber(sqlite3_context* ctx, const Number& n) {
  switch (n.kind) {
    case Number::Integer:
      sqlite3_result_int64(ctx, n.i);
      break;
    case Number::Real:
      sqlite3_result_double(ctx, n.d);
      break;
    case Number::Exact: {
      std::string s = formatDecimal(n.dec);
      sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      break;
    }
  }
}

int64_t argInt(sqlite3_value* v, std::string_view function) {
  Number n = argNumber(v, function);
  if (n.kind == Number::Integer) return n.i;
  if (n.kind == Number::Real) return static_cast<int64_t>(std::trunc(n.d));
  auto i = decimalToInt(n.dec);
  if (!i) throw notNumber(v);
  return *i;
}

double argDouble(sqlite3_value* v, std::string_view function) {
  Number n = argNumber(v, function);
  if (n.kind == Number::Integer) return static_cast<double>(n.i);
  if (n.kind == Number::Real) return n.d;
  return decimalToDouble(n.dec);
}

DateTime argDateTime(sqlite3_value* v, std::string_view dateFormat) {
  std::string s = argText(v);
  auto dt = parseDateTime(s, dateFormat);
  if (!dt) {
    throw conversionError(ConversionError::Syntax, ConversionKind::Implicit, SqlType::VarChar,
                          SqlType::DateTime, s);
  }
  return *dt;
}

void resultText(sqlite3_context* ctx, const std::string& s, bool emptyIsNull) {
  if (s.empty() && emptyIsNull) {
    sqlite3_result_null(ctx);
    return;
  }
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

size_t utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

size_t utf8Offset(std::string_view s, size_t index) {
  size_t i = 0, chars = 0;
  while (i < s.size()) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (chars == index) return i;
      ++chars;
    }
    ++i;
  }
  return s.size();
}

namespace {

// Matches one character class "[...]" at pattern position p against c; advances p past it.
bool matchClass(std::string_view pat, size_t& p, char c, bool& ok) {
  size_t i = p + 1;
  bool negate = false;
  if (i < pat.size() && pat[i] == '^') {
    negate = true;
    ++i;
  }
  bool hit = false;
  size_t start = i;
  while (i < pat.size() && (pat[i] != ']' || i == start)) {
    if (i + 2 < pat.size() && pat[i + 1] == '-' && pat[i + 2] != ']') {
      if (c >= pat[i] && c <= pat[i + 2]) hit = true;
      i += 3;
    } else {
      if (c == pat[i]) hit = true;
      ++i;
    }
  }
  if (i >= pat.size()) {
    ok = false;  // no closing bracket: the '[' is an ordinary character
    return false;
  }
  ok = true;
  p = i + 1;
  return hit != negate;
}

bool likeFrom(std::string_view pat, size_t p, std::string_view text, size_t t) {
  while (p < pat.size()) {
    char pc = pat[p];
    if (pc == '%') {
      while (p < pat.size() && pat[p] == '%') ++p;
      if (p == pat.size()) return true;
      for (size_t k = t; k <= text.size(); ++k) {
        if (likeFrom(pat, p, text, k)) return true;
      }
      return false;
    }
    if (t >= text.size()) return false;
    if (pc == '_') {
      ++p;
      ++t;
      continue;
    }
    if (pc == '[') {
      size_t q = p;
      bool ok = false;
      bool hit = matchClass(pat, q, text[t], ok);
      if (ok) {
        if (!hit) return false;
        p = q;
        ++t;
        continue;
      }
    }
    if (pc != text[t]) return false;
    ++p;
    ++t;
  }
  return t == text.size();
}

}  // namespace

bool likeMatch(std::string_view pattern, std::string_view text) {
  return likeFrom(pattern, 0, text, 0);
}

}  // namespace tabsrv::fn
