// The executor's SQLite user functions (tx_*); errors travel in the "tsqlerr:" convention.
#include "server/exec/sql_functions.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "server/core/message.h"
#include "server/types/sqlite_error.h"

namespace tabsrv {
namespace {

// With arithabort arith_overflow off and arithignore on, these give NULL quietly.
void divideByZero(sqlite3_context* ctx) {
  if (arithmeticErrorsAreNull(static_cast<const SessionInfo*>(sqlite3_user_data(ctx))))
    return sqlite3_result_null(ctx);
  resultSqlError(ctx, SqlError(3607, 16, "Divide by zero occurred."));
}
void overflow(sqlite3_context* ctx) {
  if (arithmeticErrorsAreNull(static_cast<const SessionInfo*>(sqlite3_user_data(ctx))))
    return sqlite3_result_null(ctx);
  resultSqlError(ctx, SqlError(3606, 16, "Arithmetic overflow occurred."));
}

// tx_div(a, b, integer): `integer` is 1 when the bound result type is an integer type, so
// 7 / 2 gives 3 while 7 / 2.0 gives 3.5 even when SQLite sees both as INTEGER.
void txDiv(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  bool integer = argc > 2 && sqlite3_value_int(argv[2]) != 0;
  if (integer) {
    int64_t a = sqlite3_value_int64(argv[0]), b = sqlite3_value_int64(argv[1]);
    if (sqlite3_value_numeric_type(argv[0]) == SQLITE_FLOAT)
      a = static_cast<int64_t>(sqlite3_value_double(argv[0]));
    if (sqlite3_value_numeric_type(argv[1]) == SQLITE_FLOAT)
      b = static_cast<int64_t>(sqlite3_value_double(argv[1]));
    if (b == 0) return divideByZero(ctx);
    if (a == std::numeric_limits<int64_t>::min() && b == -1) return overflow(ctx);
    sqlite3_result_int64(ctx, a / b);
    return;
  }
  double b = sqlite3_value_double(argv[1]);
  if (b == 0.0) return divideByZero(ctx);
  const double q = sqlite3_value_double(argv[0]) / b;
  if (!std::isfinite(q)) return overflow(ctx);
  sqlite3_result_double(ctx, q);
}

// tx_float(x, real): x, a float sum, difference or product, unless it overflowed its type (an
// infinity, or past real's range when `real` is 1): 1e308 * 10 is an overflow as for the
// other numeric types.
void txFloat(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) != SQLITE_FLOAT) return sqlite3_result_value(ctx, argv[0]);
  const double x = sqlite3_value_double(argv[0]);
  const bool real = sqlite3_value_int(argv[1]) != 0;
  if (!std::isfinite(x) || (real && std::fabs(x) > std::numeric_limits<float>::max())) return overflow(ctx);
  sqlite3_result_double(ctx, x);
}

// tx_mod(a, b, integer): the remainder with the sign of `a`, as T-SQL's % has it.
void txMod(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  bool integer = argc > 2 && sqlite3_value_int(argv[2]) != 0;
  if (integer) {
    int64_t a = sqlite3_value_int64(argv[0]), b = sqlite3_value_int64(argv[1]);
    if (b == 0) return divideByZero(ctx);
    if (b == -1) {
      sqlite3_result_int64(ctx, 0);
      return;
    }
    sqlite3_result_int64(ctx, a % b);
    return;
  }
  double b = sqlite3_value_double(argv[1]);
  if (b == 0.0) return divideByZero(ctx);
  sqlite3_result_double(ctx, std::fmod(sqlite3_value_double(argv[0]), b));
}

// tx_concat(a, b, ...): 'abc' + NULL is 'abc' in this family; only NULL + NULL is NULL.
// Binaries stay binary, anything else is text. A chain a + b + c is one call with every term.
void txConcat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  bool allNull = true, blob = true;
  for (int i = 0; i < argc; ++i) {
    int t = sqlite3_value_type(argv[i]);
    allNull = allNull && t == SQLITE_NULL;
    blob = blob && (t == SQLITE_BLOB || t == SQLITE_NULL);
  }
  if (allNull) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string out;
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) continue;
    const void* p =
        blob ? sqlite3_value_blob(argv[i]) : static_cast<const void*>(sqlite3_value_text(argv[i]));
    int n = sqlite3_value_bytes(argv[i]);
    if (p && n > 0) out.append(static_cast<const char*>(p), static_cast<size_t>(n));
  }
  if (blob)
    sqlite3_result_blob64(ctx, out.data(), out.size(), SQLITE_TRANSIENT);
  else
    sqlite3_result_text64(ctx, out.data(), out.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void txXor(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]) ^ sqlite3_value_int64(argv[1]));
}

std::u32string decodeUtf8(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 0;
    char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    size_t j = 1;
    for (; j <= static_cast<size_t>(extra) && i + j < s.size(); ++j)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + j]) & 0x3F);
    out.push_back(cp);
    i += j;
  }
  return out;
}

// One element of a LIKE pattern; every kind but Star matches exactly one character.
struct LikeToken {
  enum Kind { Literal, Any, Set, Star } kind = Literal;
  char32_t ch = 0;
  std::vector<std::pair<char32_t, char32_t>> ranges;
  bool negated = false;

  bool matches(char32_t c) const {
    switch (kind) {
      case Literal:
        return c == ch;
      case Any:
        return true;
      case Set: {
        bool in = false;
        for (auto [lo, hi] : ranges)
          if (c >= lo && c <= hi) in = true;
        return in != negated;
      }
      case Star:
        return false;
    }
    return false;
  }
};

std::vector<LikeToken> tokenize(const std::u32string& p, char32_t escape) {
  std::vector<LikeToken> out;
  for (size_t i = 0; i < p.size(); ++i) {
    LikeToken t;
    char32_t c = p[i];
    if (escape && c == escape && i + 1 < p.size()) {
      t.ch = p[++i];
    } else if (c == '%') {
      t.kind = LikeToken::Star;
    } else if (c == '_') {
      t.kind = LikeToken::Any;
    } else if (c == '[') {
      size_t close = p.find(']', i + 2);  // "[]]" keeps a ']' as its first member
      if (close == std::u32string::npos) {
        t.ch = c;  // an unclosed '[' is an ordinary character
      } else {
        t.kind = LikeToken::Set;
        size_t j = i + 1;
        if (p[j] == '^') {
          t.negated = true;
          ++j;
        }
        for (; j < close; ++j) {
          if (j + 2 < close && p[j + 1] == '-')
            t.ranges.emplace_back(p[j], p[j + 2]), j += 2;
          else
            t.ranges.emplace_back(p[j], p[j]);
        }
        i = close;
      }
    } else {
      t.ch = c;
    }
    out.push_back(std::move(t));
  }
  return out;
}

void txLike(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
  auto text = [](sqlite3_value* v) {
    const unsigned char* p = sqlite3_value_text(v);
    return std::string_view(reinterpret_cast<const char*>(p ? p : reinterpret_cast<const unsigned char*>("")),
                            static_cast<size_t>(sqlite3_value_bytes(v)));
  };
  char32_t escape = 0;
  if (argc > 2) {
    auto e = decodeUtf8(text(argv[2]));
    if (e.size() != 1) {
      resultSqlError(ctx, SqlError(7707, 16, "The ESCAPE clause of LIKE must be a single character."));
      return;
    }
    escape = e[0];
  }
  sqlite3_result_int(ctx, likeMatch(text(argv[0]), text(argv[1]), escape) ? 1 : 0);
}

// tx_single(x): the aggregate behind a subquery used as a value. One row gives its value, none
// gives NULL, and a second row is error 512, where SQLite alone would quietly take the first.
struct SingleState {
  int64_t rows;
  sqlite3_value* value;
};

void singleStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* s = static_cast<SingleState*>(sqlite3_aggregate_context(ctx, sizeof(SingleState)));
  if (!s) return sqlite3_result_error_nomem(ctx);
  if (++s->rows == 2) {
    resultSqlError(ctx, SqlError(512, 16,
                                 "Subquery returned more than 1 value.  This is illegal when the subquery "
                                 "follows =, !=, <, <= , >, >=, or when the subquery is used as an expression."));
    return;
  }
  if (s->rows == 1) s->value = sqlite3_value_dup(argv[0]);
}

void singleFinal(sqlite3_context* ctx) {
  auto* s = static_cast<SingleState*>(sqlite3_aggregate_context(ctx, 0));
  if (!s || !s->value) return sqlite3_result_null(ctx);
  if (s->rows == 1) sqlite3_result_value(ctx, s->value);
  sqlite3_value_free(s->value);
  s->value = nullptr;
}

}  // namespace

bool likeMatch(std::string_view value, std::string_view pattern, char32_t escape) {
  std::u32string v = decodeUtf8(value);
  std::u32string p = decodeUtf8(pattern);
  if (p.empty() || p.back() != ' ')
    while (!v.empty() && v.back() == ' ') v.pop_back();
  std::vector<LikeToken> tokens = tokenize(p, escape);
  // Wildcard matching with one backtrack point: every non-star token eats one character,
  // so resuming after the latest star is enough.
  size_t vi = 0, ti = 0, starT = std::string::npos, starV = 0;
  while (vi < v.size()) {
    if (ti < tokens.size() && tokens[ti].kind == LikeToken::Star) {
      starT = ti++;
      starV = vi;
    } else if (ti < tokens.size() && tokens[ti].matches(v[vi])) {
      ++ti;
      ++vi;
    } else if (starT != std::string::npos) {
      ti = starT + 1;
      vi = ++starV;
    } else {
      return false;
    }
  }
  while (ti < tokens.size() && tokens[ti].kind == LikeToken::Star) ++ti;
  return ti == tokens.size();
}

int registerExecFunctions(sqlite3* db, SessionInfo* info) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc = sqlite3_create_function(db, "tx_div", 3, flags, info, txDiv, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_create_function(db, "tx_mod", 3, flags, info, txMod, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_create_function(db, "tx_float", 2, flags, info, txFloat, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "tx_concat", -1, flags, nullptr, txConcat, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_create_function(db, "tx_xor", 2, flags, nullptr, txXor, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "tx_like", 2, flags, nullptr, txLike, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "tx_like", 3, flags, nullptr, txLike, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "tx_single", 1, flags, nullptr, nullptr, singleStep, singleFinal);
  if (rc == SQLITE_OK) rc = registerTextPointerFunction(db);
  return rc;
}

}  // namespace tabsrv
