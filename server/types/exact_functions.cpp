// Exact arithmetic on numeric, decimal and money values inside SQLite: the chain function
// t_exact, the comparison t_exact_cmp, the fit t_exact_fit and the aggregate t_exact_sum. Values
// arrive as canonical decimal TEXT (or INTEGER) and leave as canonical TEXT, so nothing passes
// through floating point.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "server/types/decimal.h"
#include "server/types/function_support.h"

namespace tabsrv::fn {
namespace {

SqlError arithmeticOverflow() {
  return SqlError(3606, 16, "Arithmetic overflow occurred.");
}

// One step's result type, spelt by the binder as "<op><kind><precision>,<scale>": op is one of
// + - * / % (or '=' for a plain fit), kind 'n' for numeric/decimal (digits dropped by
// truncation), 'm' for money and 's' for smallmoney (rounded, range of the money type).
struct StepType {
  char op = '=';
  char kind = 'n';
  int precision = 38;
  int scale = 0;
};

StepType parseStep(sqlite3_value* v) {
  std::string text = argText(v);
  StepType t;
  if (text.size() < 2) throw SqlError(7900, 16, "bad exact arithmetic step '" + text + "'");
  t.op = text[0];
  t.kind = text[1];
  if (std::sscanf(text.c_str() + 2, "%d,%d", &t.precision, &t.scale) != 2)
    throw SqlError(7900, 16, "bad exact arithmetic step '" + text + "'");
  if (t.kind != 'n') t.scale = 4;
  return t;
}

// An operand as an exact value; a REAL (a float that met an exact type) keeps its 15 significant digits.
Decimal argExact(sqlite3_value* v) {
  Number n = argNumber(v, "arithmetic");
  if (n.kind == Number::Exact) return n.dec;
  if (n.kind == Number::Integer) return decimalFromInt(n.i);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", n.d);
  auto d = parseDecimal(buf);
  if (!d) throw arithmeticOverflow();
  return *d;
}

// Checks `d` against the step's type: its precision for numerics, the range for money.
void checkFits(const Decimal& d, const StepType& t) {
  bool ok = t.kind == 'm'   ? fitsMoney(d)
            : t.kind == 's' ? fitsSmallMoney(d)
                            : fitsPrecision(d, t.precision, t.scale);
  if (!ok) throw arithmeticOverflow();
}

Decimal applyStep(const Decimal& a, const Decimal& b, const StepType& t) {
  DecimalRounding rounding = t.kind == 'n' ? DecimalRounding::Truncate : DecimalRounding::HalfAwayFromZero;
  DecimalResult r = decimalArithmetic(t.op, a, b, t.scale, rounding);
  if (r.status == DecimalStatus::DivideByZero) throw SqlError(3607, 16, "Divide by zero occurred.");
  if (r.status == DecimalStatus::Overflow) throw arithmeticOverflow();
  checkFits(r.value, t);
  return r.value;
}

// Runs an exact function's body; an overflow or zero divisor gives NULL when the session's
// arithabort/arithignore settings say so, else the error.
template <typename Body>
void arithmetic(sqlite3_context* ctx, Body&& body) {
  try {
    body();
  } catch (const SqlError& e) {
    if ((e.number() == 3606 || e.number() == 3607) &&
        arithmeticErrorsAreNull(static_cast<const SessionInfo*>(sqlite3_user_data(ctx))))
      return sqlite3_result_null(ctx);
    resultSqlError(ctx, e);
  } catch (const std::exception& e) {
    resultSqlError(ctx, SqlError(7900, 16, e.what()));
  }
}

void resultDecimal(sqlite3_context* ctx, const Decimal& d) {
  std::string s = formatDecimal(d);
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// t_exact(a, step1, b, step2, c ...): ((a step1 b) step2 c) ..., each step at its own result
// type, so `v + 0.01 * 3` and long chains keep the scale every intermediate has. NULL anywhere
// gives NULL.
void exactFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, [&] {
    for (int i = 0; i < argc; i += 2)
      if (argNull(argv[i])) return sqlite3_result_null(ctx);
    Decimal acc = argExact(argv[0]);
    for (int i = 1; i + 1 < argc; i += 2) acc = applyStep(acc, argExact(argv[i + 1]), parseStep(argv[i]));
    resultDecimal(ctx, acc);
  });
}

// t_exact_fit(x, step): x brought to the step's type ('=' step), e.g. an aggregate's result.
void exactFitFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  arithmetic(ctx, [&] {
    if (argNull(argv[0])) return sqlite3_result_null(ctx);
    StepType t = parseStep(argv[1]);
    t.op = '+';
    resultDecimal(ctx, applyStep(argExact(argv[0]), Decimal{}, t));
  });
}

// t_exact_cmp(a, b): -1, 0 or 1 by exact value; NULL when either is NULL.
void exactCmpFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  guarded(ctx, [&] {
    if (argNull(argv[0]) || argNull(argv[1])) return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, compareDecimal(argExact(argv[0]), argExact(argv[1])));
  });
}

// t_exact_sum(x): the exact sum at the largest scale seen; NULL over no non-NULL values. SQLite's
// aggregate context is only 8-byte aligned, so the 128-bit total is copied in and out of it.
struct SumState {
  bool any;
  bool failed;
  unsigned char total[sizeof(Decimal)];
};

Decimal sumTotal(const SumState& s) {
  Decimal d;
  if (s.any) std::memcpy(static_cast<void*>(&d), s.total, sizeof d);
  return d;
}

void sumStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* s = static_cast<SumState*>(sqlite3_aggregate_context(ctx, sizeof(SumState)));
  if (!s) return sqlite3_result_error_nomem(ctx);
  if (s->failed || argNull(argv[0])) return;
  guarded(ctx, [&] {
    Decimal x = argExact(argv[0]);
    Decimal total = sumTotal(*s);
    int scale = std::max<int>(total.scale, x.scale);
    DecimalResult r = decimalArithmetic('+', total, x, scale, DecimalRounding::Truncate);
    if (r.status != DecimalStatus::Ok) {
      s->failed = true;
      throw arithmeticOverflow();
    }
    std::memcpy(s->total, static_cast<const void*>(&r.value), sizeof r.value);
    s->any = true;
  });
}

void sumFinal(sqlite3_context* ctx) {
  auto* s = static_cast<SumState*>(sqlite3_aggregate_context(ctx, 0));
  if (!s || !s->any || s->failed) return sqlite3_result_null(ctx);
  resultDecimal(ctx, sumTotal(*s));
}

}  // namespace

int registerExactFunctions(sqlite3* db, SessionInfo* info) {
  int rc = define(db, "t_exact", -1, exactFn, true, info);
  if (rc == SQLITE_OK) rc = define(db, "t_exact_fit", 2, exactFitFn, true, info);
  if (rc == SQLITE_OK) rc = define(db, "t_exact_cmp", 2, exactCmpFn);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "t_exact_sum", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, nullptr,
                                 sumStep, sumFinal);
  return rc;
}

}  // namespace tabsrv::fn
