// Registration of the collation t_decimal, the conversion functions t_convert and t_assign and
// every built-in, and the table that tells the binder each built-in's SQLite name, argument
// counts and result type.
#include "server/types/functions.h"
#include "server/types/timestamp_value.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "server/types/convert.h"
#include "server/types/datetime.h"
#include "server/types/decimal.h"
#include "server/types/function_support.h"
#include "server/types/sqlite_value.h"
#include "server/types/type_codes.h"

namespace tabsrv {
namespace {

// t_decimal: numbers in exact order ('9.5' < '10.00'), numbers before other text, other text in
// byte order; a total order, so it is safe for indexes.
int decimalCollation(void*, int n1, const void* p1, int n2, const void* p2) {
  std::string_view a(static_cast<const char*>(p1), static_cast<size_t>(n1));
  std::string_view b(static_cast<const char*>(p2), static_cast<size_t>(n2));
  auto da = parseDecimal(a), db = parseDecimal(b);
  if (da && db) return compareDecimal(*da, *db);
  if (da) return -1;
  if (db) return 1;
  int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

SessionInfo* infoOf(sqlite3_context* ctx) {
  return static_cast<SessionInfo*>(sqlite3_user_data(ctx));
}

// The target type of t_convert/t_assign from its (typecode, length, precision, scale) arguments.
TypeDesc targetType(sqlite3_value** a) {
  int64_t code = sqlite3_value_int64(a[1]);
  int64_t length = sqlite3_value_int64(a[2]);
  int64_t prec = sqlite3_value_int64(a[3]);
  int64_t scale = sqlite3_value_int64(a[4]);
  auto t = typeFromCode(static_cast<int32_t>(code), static_cast<int32_t>(length), static_cast<int32_t>(prec),
                        static_cast<int32_t>(scale));
  if (!t) throw SqlError(243, 16, "Type code " + std::to_string(code) + " is not a defined system type.");
  if ((t->type == SqlType::Numeric || t->type == SqlType::Decimal) && prec == 0)
    *t = makeType(t->type, 0, 18, 0);
  // convert(varchar, x) without a length means 30 characters, as the family has it.
  bool sized = isCharacterType(t->type) || isBinaryType(t->type);
  if (sized && t->type != SqlType::Text && t->type != SqlType::Image && length <= 0) t->length = 30;
  return *t;
}

// The source type: the binder's type code when given, else the storage class's natural type.
TypeDesc sourceType(sqlite3_value* code, const Value& raw) {
  if (code && !fn::argNull(code)) {
    if (auto t = typeFromCode(static_cast<int32_t>(sqlite3_value_int64(code)), 0, 38, 0)) {
      if (isCharacterType(t->type) || isBinaryType(t->type)) t->length = 16384;
      if (t->type == SqlType::Numeric || t->type == SqlType::Decimal) {
        if (const auto* s = std::get_if<std::string>(&raw)) {
          if (auto d = parseDecimal(*s)) t->scale = d->scale;
        }
      }
      return *t;
    }
  }
  TypeDesc t = typeOfValue(raw);
  if (t.type == SqlType::Int) t.length = 8;
  return t;
}

// Money text for CONVERT styles: 1 adds thousands separators, 2 keeps four decimals.
std::string moneyText(const Decimal& d, int style) {
  auto r = rescaleDecimal(d, style == 2 ? 4 : 2);
  std::string s = formatDecimal(r ? *r : d);
  if (style != 1) return s;
  size_t point = s.find('.');
  size_t digitsStart = s[0] == '-' ? 1 : 0;
  std::string intPart = s.substr(digitsStart, point - digitsStart), grouped;
  for (size_t i = 0; i < intPart.size(); ++i) {
    if (i > 0 && (intPart.size() - i) % 3 == 0) grouped += ',';
    grouped += intPart[i];
  }
  return s.substr(0, digitsStart) + grouped + s.substr(point);
}

void convertFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  fn::guarded(ctx, [&] {
    TypeDesc to = targetType(a);
    Value raw = rawValueFromSqlite(a[0]);
    if (isNull(raw)) return sqlite3_result_null(ctx);
    TypeDesc from = sourceType(argc > 6 ? a[6] : nullptr, raw);
    int style = argc > 5 && !fn::argNull(a[5]) ? static_cast<int>(sqlite3_value_int64(a[5])) : -1;
    SessionInfo* info = infoOf(ctx);
    if (isCharacterType(to.type) && style >= 0 &&
        (isDateTimeType(from.type) || from.type == SqlType::Money || from.type == SqlType::SmallMoney)) {
      Value v = convertValue(raw, from, from, ConversionKind::Explicit);
      std::string s;
      if (const auto* dt = std::get_if<DateTime>(&v)) {
        auto t = formatDateTimeStyle(*dt, style);
        if (!t)
          throw SqlError(2558, 16,
                         "Invalid style " + std::to_string(style) + " for conversion to character.");
        s = *t;
      } else if (const auto* d = std::get_if<Decimal>(&v)) {
        s = moneyText(*d, style);
      }
      if (to.type != SqlType::Text && s.size() > static_cast<size_t>(to.length))
        s.resize(static_cast<size_t>(to.length));
      return fn::resultText(ctx, s, false);
    }
    Value v = convertValue(raw, from, to, ConversionKind::Explicit, info ? info->dateFormat : "mdy");
    if (to.type == SqlType::Char) {
      // CONVERT(char(n), ...) pads to n as a fixed-length value does.
      auto& s = std::get<std::string>(v);
      if (s.size() < static_cast<size_t>(to.length)) s.append(static_cast<size_t>(to.length) - s.size(), ' ');
    }
    resultValue(ctx, v);
  });
}

void assignFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  fn::guarded(ctx, [&] {
    TypeDesc to = targetType(a);
    Value raw = rawValueFromSqlite(a[0]);
    if (isNull(raw)) return sqlite3_result_null(ctx);
    bool nullable = argc > 5 && !fn::argNull(a[5]) ? sqlite3_value_int64(a[5]) != 0 : true;
    TypeDesc from = sourceType(argc > 6 ? a[6] : nullptr, raw);
    SessionInfo* info = infoOf(ctx);
    if (info && info->dateFormat != "mdy" && isDateTimeType(to.type) &&
        std::holds_alternative<std::string>(raw) && !isDateTimeType(from.type)) {
      raw = convertValue(raw, from, to, ConversionKind::Implicit, info->dateFormat);
      from = to;
    }
    resultValue(ctx, assignValue(raw, from, to, nullable, info ? info->implicitScaleLoss : ScaleLoss::Round));
  });
}

void isnullFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  sqlite3_result_value(ctx, fn::argNull(a[0]) ? a[1] : a[0]);
}

// Result types for the table.
TypeDesc intType(const std::vector<TypeDesc>&) {
  return makeType(SqlType::Int);
}
TypeDesc smallintType(const std::vector<TypeDesc>&) {
  return makeType(SqlType::SmallInt);
}
TypeDesc floatType(const std::vector<TypeDesc>&) {
  return makeType(SqlType::Float);
}
TypeDesc datetimeType(const std::vector<TypeDesc>&) {
  return makeType(SqlType::DateTime);
}
TypeDesc sameAsFirst(const std::vector<TypeDesc>& a) {
  return a.empty() ? makeType(SqlType::Int) : a[0];
}
TypeDesc name30(const std::vector<TypeDesc>&) {
  return makeType(SqlType::VarChar, 30);
}
TypeDesc varchar255(const std::vector<TypeDesc>&) {
  return makeType(SqlType::VarChar, 255);
}
TypeDesc char1(const std::vector<TypeDesc>&) {
  return makeType(SqlType::Char, 1);
}
TypeDesc char4(const std::vector<TypeDesc>&) {
  return makeType(SqlType::Char, 4);
}

// A character function's result keeps the argument's length as varchar (binary stays binary).
// str_replace's result: the source's length, grown by what each possible replacement adds
// ((s / p) * (r - p) + s when the replacement is longer), at most 16384.
TypeDesc strReplaceType(const std::vector<TypeDesc>& a) {
  if (a.size() < 3) return makeType(SqlType::VarChar, 255);
  int64_t s = a[0].length, p = std::max<int32_t>(a[1].length, 1), r = a[2].length;
  int64_t length = r - p <= 0 ? s : (s / p) * (r - p) + s;
  length = std::clamp<int64_t>(length, 1, 16384);
  return makeType(isBinaryType(a[0].type) ? SqlType::VarBinary : SqlType::VarChar, static_cast<int32_t>(length));
}

TypeDesc char8(const std::vector<TypeDesc>&) {
  return makeType(SqlType::VarChar, 8);
}

TypeDesc varcharOfFirst(const std::vector<TypeDesc>& a) {
  if (a.empty()) return makeType(SqlType::VarChar, 255);
  const TypeDesc& t = a[0];
  if (isBinaryType(t.type)) return makeType(SqlType::VarBinary, t.type == SqlType::Image ? 16384 : t.length);
  if (isCharacterType(t.type)) return makeType(SqlType::VarChar, t.type == SqlType::Text ? 16384 : t.length);
  return makeType(SqlType::VarChar, 255);
}
TypeDesc strType(const std::vector<TypeDesc>&) {
  return makeType(SqlType::Char, 10);
}
TypeDesc dateaddType(const std::vector<TypeDesc>& a) {
  return a.size() > 2 && isDateTimeType(a[2].type) ? a[2] : makeType(SqlType::DateTime);
}
TypeDesc floorType(const std::vector<TypeDesc>& a) {
  if (a.empty()) return makeType(SqlType::Int);
  if (a[0].type == SqlType::Numeric || a[0].type == SqlType::Decimal)
    return makeType(a[0].type, 0, a[0].precision, 0);
  if (isCharacterType(a[0].type)) return makeType(SqlType::Float);
  return a[0];
}
TypeDesc mathOfFirst(const std::vector<TypeDesc>& a) {
  if (a.empty() || isCharacterType(a[0].type) || !isNumericType(a[0].type)) return makeType(SqlType::Float);
  if (a[0].type == SqlType::Bit || a[0].type == SqlType::TinyInt || a[0].type == SqlType::SmallInt)
    return makeType(SqlType::Int);
  return a[0];
}
TypeDesc isnullType(const std::vector<TypeDesc>& a) {
  // The first argument's type, widened to hold the second's value where both are character.
  if (a.size() < 2) return sameAsFirst(a);
  TypeDesc t = a[0];
  if (isCharacterType(t.type) && isCharacterType(a[1].type)) t.length = std::max(t.length, a[1].length);
  return t;
}

const std::vector<BuiltinFunction>& table() {
  static const std::vector<BuiltinFunction> kTable = {
      {"convert", "t_convert", 2, 3, ArgKind::DataType, sameAsFirst, true},
      {"isnull", "t_isnull", 2, 2, ArgKind::Value, isnullType, true},
      {"substring", "t_substring", 3, 3, ArgKind::Value, varcharOfFirst, true},
      {"char_length", "t_char_length", 1, 1, ArgKind::Value, intType, true},
      {"datalength", "t_datalength", 1, 1, ArgKind::Value, intType, true},
      {"upper", "t_upper", 1, 1, ArgKind::Value, varcharOfFirst, true},
      {"lower", "t_lower", 1, 1, ArgKind::Value, varcharOfFirst, true},
      {"ltrim", "t_ltrim", 1, 1, ArgKind::Value, varcharOfFirst, true},
      {"rtrim", "t_rtrim", 1, 1, ArgKind::Value, varcharOfFirst, true},
      {"space", "t_space", 1, 1, ArgKind::Value, varchar255, true},
      {"replicate", "t_replicate", 2, 2, ArgKind::Value, varchar255, true},
      {"ascii", "t_ascii", 1, 1, ArgKind::Value, intType, true},
      {"char", "t_char", 1, 1, ArgKind::Value, char1, true},
      {"stuff", "t_stuff", 4, 4, ArgKind::Value, varchar255, true},
      {"charindex", "t_charindex", 2, 3, ArgKind::Value, intType, true},
      {"patindex", "t_patindex", 2, 2, ArgKind::Value, intType, true},
      {"reverse", "t_reverse", 1, 1, ArgKind::Value, varcharOfFirst, true},
      {"soundex", "t_soundex", 1, 1, ArgKind::Value, char4, true},
      {"difference", "t_difference", 2, 2, ArgKind::Value, intType, true},
      {"right", "t_right", 2, 2, ArgKind::Value, varcharOfFirst, true},
      {"str_replace", "t_str_replace", 3, 3, ArgKind::Value, strReplaceType, true},
      {"hextoint", "t_hextoint", 1, 1, ArgKind::Value, intType, true},
      {"inttohex", "t_inttohex", 1, 1, ArgKind::Value, char8, true},
      {"getdate", "t_getdate", 0, 0, ArgKind::Value, datetimeType, false},
      {"dateadd", "t_dateadd", 3, 3, ArgKind::DatePart, dateaddType, true},
      {"datediff", "t_datediff", 3, 3, ArgKind::DatePart, intType, true},
      {"datepart", "t_datepart", 2, 2, ArgKind::DatePart, intType, true},
      {"datename", "t_datename", 2, 2, ArgKind::DatePart, name30, true},
      {"abs", "t_abs", 1, 1, ArgKind::Value, mathOfFirst, true},
      {"sign", "t_sign", 1, 1, ArgKind::Value, mathOfFirst, true},
      {"round", "t_round", 2, 2, ArgKind::Value, mathOfFirst, true},
      {"floor", "t_floor", 1, 1, ArgKind::Value, floorType, true},
      {"ceiling", "t_ceiling", 1, 1, ArgKind::Value, floorType, true},
      {"power", "t_power", 2, 2, ArgKind::Value, mathOfFirst, true},
      {"sqrt", "t_sqrt", 1, 1, ArgKind::Value, floatType, true},
      {"exp", "t_exp", 1, 1, ArgKind::Value, floatType, true},
      {"log", "t_log", 1, 1, ArgKind::Value, floatType, true},
      {"log10", "t_log10", 1, 1, ArgKind::Value, floatType, true},
      {"pi", "t_pi", 0, 0, ArgKind::Value, floatType, true},
      {"sin", "t_sin", 1, 1, ArgKind::Value, floatType, true},
      {"cos", "t_cos", 1, 1, ArgKind::Value, floatType, true},
      {"tan", "t_tan", 1, 1, ArgKind::Value, floatType, true},
      {"asin", "t_asin", 1, 1, ArgKind::Value, floatType, true},
      {"acos", "t_acos", 1, 1, ArgKind::Value, floatType, true},
      {"atan", "t_atan", 1, 1, ArgKind::Value, floatType, true},
      {"atn2", "t_atn2", 2, 2, ArgKind::Value, floatType, true},
      {"degrees", "t_degrees", 1, 1, ArgKind::Value, floatType, true},
      {"radians", "t_radians", 1, 1, ArgKind::Value, floatType, true},
      {"str", "t_str", 1, 3, ArgKind::Value, strType, true},
      {"user_name", "t_user_name", 0, 1, ArgKind::Value, name30, false},
      {"user_id", "t_user_id", 0, 1, ArgKind::Value, intType, false},
      {"suser_name", "t_suser_name", 0, 1, ArgKind::Value, name30, false},
      {"suser_id", "t_suser_id", 0, 1, ArgKind::Value, intType, false},
      {"db_name", "t_db_name", 0, 1, ArgKind::Value, name30, false},
      {"db_id", "t_db_id", 0, 1, ArgKind::Value, smallintType, false},
      {"host_name", "t_host_name", 0, 0, ArgKind::Value, name30, false},
      {"object_id", "t_object_id", 1, 1, ArgKind::Value, intType, false},
      {"object_name", "t_object_name", 1, 2, ArgKind::Value, name30, false},
      {"col_name", "t_col_name", 2, 3, ArgKind::Value, name30, false},
      {"col_length", "t_col_length", 2, 2, ArgKind::Value, intType, false},
      {"index_col", "t_index_col", 3, 4, ArgKind::Value, name30, false},
      {"rowcnt", "t_rowcnt", 1, 1, ArgKind::Value, intType, false},
      {"trim", "t_trim", 1, 1, ArgKind::Value, varcharOfFirst, true},
  };
  return kTable;
}

int registerContextFunctions(sqlite3* db, SessionInfo* info) {
  int rc = SQLITE_OK;
  for (int n = 5; n <= 7 && rc == SQLITE_OK; ++n) rc = fn::define(db, "t_convert", n, convertFn, false, info);
  for (int n = 5; n <= 7 && rc == SQLITE_OK; ++n) rc = fn::define(db, "t_assign", n, assignFn, false, info);
  if (rc == SQLITE_OK) rc = fn::registerDateFunctions(db, info);
  if (rc == SQLITE_OK) rc = fn::registerSessionFunctions(db, info);
  if (rc == SQLITE_OK) rc = fn::registerExactFunctions(db, info);
  return rc;
}

}  // namespace

int registerFunctions(sqlite3* db) {
  int rc = sqlite3_create_collation_v2(db, "t_decimal", SQLITE_UTF8, nullptr, decimalCollation, nullptr);
  if (rc == SQLITE_OK) rc = fn::define(db, "t_isnull", 2, isnullFn);
  if (rc == SQLITE_OK) rc = fn::registerStringFunctions(db);
  if (rc == SQLITE_OK) rc = fn::registerMathFunctions(db);
  if (rc == SQLITE_OK) rc = registerTimestampFunction(db);
  if (rc == SQLITE_OK) rc = registerContextFunctions(db, nullptr);
  return rc;
}

int setSessionInfo(sqlite3* db, SessionInfo* info) {
  return registerContextFunctions(db, info);
}

const BuiltinFunction* findBuiltin(std::string_view tsqlName) {
  std::string n;
  for (char c : tsqlName) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const BuiltinFunction& f : table()) {
    if (f.tsqlName == n) return &f;
  }
  return nullptr;
}

const std::vector<BuiltinFunction>& builtinFunctions() {
  return table();
}

std::string_view canonicalDatePart(std::string_view name) {
  return fn::canonicalDatePartImpl(name);
}

}  // namespace tabsrv
