// Values in and out of SQLite in the canonical storage forms (see server/core/types.h).
#include "server/types/sqlite_value.h"

#include <string>
#include <string_view>

#include "server/types/convert.h"
#include "server/types/datetime.h"
#include "server/types/decimal.h"

namespace tabsrv {

Value rawValueFromSqlite(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return static_cast<int64_t>(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      return sqlite3_value_double(value);
    case SQLITE_TEXT: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(value));
      return std::string(p, static_cast<size_t>(sqlite3_value_bytes(value)));
    }
    case SQLITE_BLOB: {
      const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(value));
      int n = sqlite3_value_bytes(value);
      return Bytes(p, p + n);
    }
    default:
      return std::monostate{};
  }
}

namespace {

bool isCharacter(SqlType t) {
  return t == SqlType::Char || t == SqlType::VarChar || t == SqlType::Text;
}

// The general reading: the stored value converted from its storage class to `type`.
Value convertedValue(sqlite3_value* value, const TypeDesc& type) {
  Value raw = rawValueFromSqlite(value);
  if (isNull(raw)) return raw;
  // The stored form is the type's canonical one; name the source by the storage class so that
  // TEXT of a datetime/decimal column parses and INTEGER/REAL results convert exactly.
  TypeDesc from = type;
  if (std::holds_alternative<int64_t>(raw))
    from = TypeDesc{SqlType::Int, 4, 0, 0};
  else if (std::holds_alternative<double>(raw))
    from = TypeDesc{SqlType::Float, 8, 0, 0};
  else if (std::holds_alternative<Bytes>(raw))
    from = TypeDesc{SqlType::VarBinary, 255, 0, 0};
  else if (std::holds_alternative<std::string>(raw) && isCharacter(type.type))
    return raw;
  if (std::holds_alternative<int64_t>(raw) && (type.type == SqlType::Int || type.type == SqlType::SmallInt ||
                                               type.type == SqlType::TinyInt || type.type == SqlType::Bit)) {
    return raw;
  }
  if (from.type == SqlType::Int && std::get<int64_t>(raw) > INT32_MAX) from.length = 8;
  return convertValue(raw, from, type, ConversionKind::Implicit);
}

// TEXT of a datetime or exact-decimal column in its canonical stored form, read without the
// general parsers and with the same range checks as the conversion. False when the text is in
// another form or out of range: the general conversion then reads it (or reports the error).
bool storedText(std::string_view text, const TypeDesc& type, Value& out) {
  switch (type.type) {
    case SqlType::DateTime:
    case SqlType::SmallDateTime: {
      std::optional<DateTime> dt = parseStoredDateTime(text);
      if (!dt) return false;
      if (type.type == SqlType::SmallDateTime) {
        DateTime r = roundToMinute(*dt);
        if (!fitsSmallDateTime(r)) return false;
        out = r;
      } else {
        if (!fitsDateTime(*dt)) return false;
        out = *dt;
      }
      return true;
    }
    case SqlType::Numeric:
    case SqlType::Decimal:
    case SqlType::Money:
    case SqlType::SmallMoney: {
      std::optional<Decimal> d = parseStoredDecimal(text);
      if (!d) return false;
      const bool money = type.type == SqlType::Money || type.type == SqlType::SmallMoney;
      const int scale = money ? 4 : type.scale;
      if (d->scale != scale) {
        d = rescaleDecimal(*d, scale);
        if (!d) return false;
      }
      const bool fits = type.type == SqlType::Money        ? fitsMoney(*d)
                        : type.type == SqlType::SmallMoney ? fitsSmallMoney(*d)
                                                           : fitsPrecision(*d, type.precision ? type.precision : 18, scale);
      if (!fits) return false;
      out = *d;
      return true;
    }
    default:
      return false;
  }
}

// Reads `value` as `type` into `out`: the common cases (integers of integer columns, floats of
// float columns, text of character columns, canonical datetime and decimal text) directly, the
// rest through the general conversion.
void readValue(sqlite3_value* value, const TypeDesc& type, Value& out) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      out = std::monostate{};
      return;
    case SQLITE_INTEGER:
      if (type.type == SqlType::Int || type.type == SqlType::SmallInt || type.type == SqlType::TinyInt ||
          type.type == SqlType::Bit) {
        out = static_cast<int64_t>(sqlite3_value_int64(value));
        return;
      }
      break;
    case SQLITE_FLOAT:
      if (type.type == SqlType::Float) {
        out = sqlite3_value_double(value);
        return;
      }
      break;
    case SQLITE_TEXT: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(value));
      std::string_view text(p, static_cast<size_t>(sqlite3_value_bytes(value)));
      if (isCharacter(type.type)) {
        if (auto* s = std::get_if<std::string>(&out))
          s->assign(text);
        else
          out.emplace<std::string>(text);
        return;
      }
      if (storedText(text, type, out)) return;
      break;
    }
    default:
      break;
  }
  out = convertedValue(value, type);
}

}  // namespace

Value valueFromSqlite(sqlite3_value* value, const TypeDesc& type) {
  Value v;
  readValue(value, type, v);
  return v;
}

Value columnValue(sqlite3_stmt* stmt, int column, const TypeDesc& type) {
  return valueFromSqlite(sqlite3_column_value(stmt, column), type);
}

void readColumnValue(sqlite3_stmt* stmt, int column, const TypeDesc& type, Value& out) {
  readValue(sqlite3_column_value(stmt, column), type, out);
}

int bindValue(sqlite3_stmt* stmt, int index, const Value& v) {
  switch (v.index()) {
    case 1:
      return sqlite3_bind_int64(stmt, index, std::get<int64_t>(v));
    case 2:
      return sqlite3_bind_double(stmt, index, std::get<double>(v));
    case 3: {
      std::string s = formatDecimal(std::get<Decimal>(v));
      return sqlite3_bind_text(stmt, index, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    case 4: {
      std::string s = formatDateTime(std::get<DateTime>(v));
      return sqlite3_bind_text(stmt, index, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    case 5: {
      const auto& s = std::get<std::string>(v);
      return sqlite3_bind_text(stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    case 6: {
      const auto& b = std::get<Bytes>(v);
      // A zero-length blob still binds as a blob, not NULL.
      return sqlite3_bind_blob(stmt, index, b.empty() ? "" : static_cast<const void*>(b.data()),
                               static_cast<int>(b.size()), SQLITE_TRANSIENT);
    }
    default:
      return sqlite3_bind_null(stmt, index);
  }
}

void resultValue(sqlite3_context* ctx, const Value& v) {
  switch (v.index()) {
    case 1:
      sqlite3_result_int64(ctx, std::get<int64_t>(v));
      break;
    case 2:
      sqlite3_result_double(ctx, std::get<double>(v));
      break;
    case 3: {
      std::string s = formatDecimal(std::get<Decimal>(v));
      sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      break;
    }
    case 4: {
      std::string s = formatDateTime(std::get<DateTime>(v));
      sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      break;
    }
    case 5: {
      const auto& s = std::get<std::string>(v);
      sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      break;
    }
    case 6: {
      const auto& b = std::get<Bytes>(v);
      sqlite3_result_blob(ctx, b.empty() ? "" : static_cast<const void*>(b.data()),
                          static_cast<int>(b.size()), SQLITE_TRANSIENT);
      break;
    }
    default:
      sqlite3_result_null(ctx);
      break;
  }
}

}  // namespace tabsrv
