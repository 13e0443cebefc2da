// The mathematical built-ins: abs, sign, round, floor, ceiling, power, sqrt, exp, log, log10, pi,
// the trigonometric ones, degrees, radians, and str(). Integers stay integers, exact decimals stay
// exact (canonical TEXT), floats stay floats, so the binder's result type holds.
#include <cmath>
#include <cstdio>

#include "server/types/decimal.h"
#include "server/types/function_support.h"

namespace tabsrv::fn {
namespace {

SqlError domainError() {
  return SqlError(3622, 10, "Domain error occurred.");
}
SqlError overflow() {
  return SqlError(3606, 16, "Arithmetic overflow occurred.");
}

void absFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0])) return sqlite3_result_null(ctx);
    Number n = argNumber(a[0], "abs");
    if (n.kind == Number::Integer) {
      if (n.i == INT64_MIN) throw overflow();
      n.i = n.i < 0 ? -n.i : n.i;
    } else if (n.kind == Number::Real) {
      n.d = std::fabs(n.d);
    } else if (n.dec.unscaled < 0) {
      n.dec = negateDecimal(n.dec);
    }
    resultNumber(ctx, n);
  });
}

void signFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0])) return sqlite3_result_null(ctx);
    Number n = argNumber(a[0], "sign");
    int s = n.kind == Number::Integer ? (n.i > 0) - (n.i < 0)
            : n.kind == Number::Real  ? (n.d > 0) - (n.d < 0)
                                      : (n.dec.unscaled > 0) - (n.dec.unscaled < 0);
    if (n.kind == Number::Integer)
      n.i = s;
    else if (n.kind == Number::Real)
      n.d = s;
    else
      n.dec = *rescaleDecimal(decimalFromInt(s), n.dec.scale);
    resultNumber(ctx, n);
  });
}

// round(x, n): rounds half away from zero to n digits after the point (n < 0: before it) and
// keeps the value's scale: round(12.345, 2) is 12.350, round(1250, -2) is 1300.
void roundFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
    Number n = argNumber(a[0], "round");
    int64_t digits = argInt(a[1], "round");
    if (n.kind == Number::Real) {
      double f = std::pow(10.0, static_cast<double>(digits));
      n.d = std::round(n.d * f) / f;
      return resultNumber(ctx, n);
    }
    Decimal d = n.kind == Number::Integer ? decimalFromInt(n.i) : n.dec;
    int keep = d.scale;
    if (digits >= keep) return resultNumber(ctx, n);
    // Rounding to a negative position: shift left by scaling the value down first.
    Decimal r;
    if (digits >= 0) {
      auto t = rescaleDecimal(d, static_cast<int>(digits));
      if (!t) throw overflow();
      r = *t;
    } else {
      if (digits < -38) digits = -38;
      Decimal shifted{d.unscaled, static_cast<uint8_t>(d.scale)};
      // Interpret the value as having `-digits` more fraction digits, round those to 0, shift back.
      auto t = rescaleDecimal(Decimal{shifted.unscaled, static_cast<uint8_t>(d.scale - digits)}, 0);
      if (!t) throw overflow();
      __int128 m = 1;
      for (int64_t i = 0; i < -digits; ++i) m *= 10;
      r = Decimal{t->unscaled * m, 0};
    }
    auto back = rescaleDecimal(r, keep);
    if (!back) throw overflow();
    if (n.kind == Number::Integer) {
      auto i = decimalToInt(*back);
      if (!i) throw overflow();
      n.i = *i;
    } else {
      n.dec = *back;
    }
    resultNumber(ctx, n);
  });
}

template <bool Up>
void floorCeilFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0])) return sqlite3_result_null(ctx);
    Number n = argNumber(a[0], Up ? "ceiling" : "floor");
    if (n.kind == Number::Real) {
      n.d = Up ? std::ceil(n.d) : std::floor(n.d);
    } else if (n.kind == Number::Exact) {
      __int128 m = 1;
      for (int i = 0; i < n.dec.scale; ++i) m *= 10;
      __int128 q = n.dec.unscaled / m, rem = n.dec.unscaled % m;
      if (Up && rem > 0) ++q;
      if (!Up && rem < 0) --q;
      n.dec = Decimal{q, 0};
    }
    resultNumber(ctx, n);
  });
}

// power(x, y): the type of x; integer powers are computed exactly where they fit.
void powerFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
    Number x = argNumber(a[0], "power");
    double y = argDouble(a[1], "power");
    double xd = x.kind == Number::Integer ? static_cast<double>(x.i)
                : x.kind == Number::Real  ? x.d
                                          : decimalToDouble(x.dec);
    double r = std::pow(xd, y);
    if (std::isnan(r)) throw domainError();
    if (x.kind == Number::Integer) {
      if (!std::isfinite(r) || std::fabs(r) >= 9.2e18) throw overflow();
      x.i = static_cast<int64_t>(std::trunc(r));
    } else if (x.kind == Number::Real) {
      if (!std::isfinite(r)) throw overflow();
      x.d = r;
    } else {
      auto d = decimalFromDouble(r, x.dec.scale);
      if (!d) throw overflow();
      x.dec = *d;
    }
    resultNumber(ctx, x);
  });
}

template <double (*F)(double), bool PositiveOnly, bool NonNegative>
void floatFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0])) return sqlite3_result_null(ctx);
    double x = argDouble(a[0], "math");
    if ((PositiveOnly && x <= 0) || (NonNegative && x < 0)) throw domainError();
    double r = F(x);
    if (std::isnan(r)) throw domainError();
    // exp(1000): a float past the largest one is an overflow, never an infinity.
    if (!std::isfinite(r)) throw overflow();
    sqlite3_result_double(ctx, r);
  });
}

double degreesOf(double r) {
  return r * 180.0 / M_PI;
}
double radiansOf(double d) {
  return d * M_PI / 180.0;
}

void piFn(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_double(ctx, M_PI);
}

void atn2Fn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
    sqlite3_result_double(ctx, std::atan2(argDouble(a[0], "atn2"), argDouble(a[1], "atn2")));
  });
}

// str(x [, length [, decimals]]): x right-justified in `length` characters (default 10) with
// `decimals` digits (default 0), rounded; '*' repeated when it does not fit.
void strFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0])) return sqlite3_result_null(ctx);
    int64_t length = argc > 1 && !argNull(a[1]) ? argInt(a[1], "str") : 10;
    int64_t decimals = argc > 2 && !argNull(a[2]) ? argInt(a[2], "str") : 0;
    if (length <= 0 || length > 255 || decimals < 0) return sqlite3_result_null(ctx);
    if (decimals > 16) decimals = 16;
    Number n = argNumber(a[0], "str");
    std::string digits;
    if (n.kind == Number::Exact || n.kind == Number::Integer) {
      Decimal d = n.kind == Number::Integer ? decimalFromInt(n.i) : n.dec;
      auto r = rescaleDecimal(d, static_cast<int>(decimals));
      digits = r ? formatDecimal(*r) : std::string();
    } else {
      char buf[512];
      std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(decimals), n.d);
      digits = buf;
    }
    if (static_cast<int64_t>(digits.size()) > length) {
      // Drop fraction digits before giving up.
      size_t point = digits.find('.');
      if (point != std::string::npos && static_cast<int64_t>(point) <= length) {
        digits.resize(static_cast<size_t>(length));
        if (digits.back() == '.') digits.pop_back();
      } else {
        digits = std::string(static_cast<size_t>(length), '*');
      }
    }
    std::string out(static_cast<size_t>(length) - digits.size(), ' ');
    resultText(ctx, out + digits, false);
  });
}

}  // namespace

int registerMathFunctions(sqlite3* db) {
  struct Def {
    const char* name;
    int nargs;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  static constexpr Def kDefs[] = {
      {"t_abs", 1, absFn},
      {"t_sign", 1, signFn},
      {"t_round", 2, roundFn},
      {"t_floor", 1, floorCeilFn<false>},
      {"t_ceiling", 1, floorCeilFn<true>},
      {"t_power", 2, powerFn},
      {"t_sqrt", 1, floatFn<std::sqrt, false, true>},
      {"t_exp", 1, floatFn<std::exp, false, false>},
      {"t_log", 1, floatFn<std::log, true, false>},
      {"t_log10", 1, floatFn<std::log10, true, false>},
      {"t_sin", 1, floatFn<std::sin, false, false>},
      {"t_cos", 1, floatFn<std::cos, false, false>},
      {"t_tan", 1, floatFn<std::tan, false, false>},
      {"t_asin", 1, floatFn<std::asin, false, false>},
      {"t_acos", 1, floatFn<std::acos, false, false>},
      {"t_atan", 1, floatFn<std::atan, false, false>},
      {"t_degrees", 1, floatFn<degreesOf, false, false>},
      {"t_radians", 1, floatFn<radiansOf, false, false>},
      {"t_atn2", 2, atn2Fn},
      {"t_pi", 0, piFn},
      {"t_str", 1, strFn},
      {"t_str", 2, strFn},
      {"t_str", 3, strFn},
  };
  for (const Def& d : kDefs) {
    if (int rc = define(db, d.name, d.nargs, d.fn); rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

}  // namespace tabsrv::fn
