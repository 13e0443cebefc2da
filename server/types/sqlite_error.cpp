// Encoding server errors through sqlite3_result_error and decoding them, plus SQLite's own
// constraint and lock failures, into the family's errors.
#include "server/types/sqlite_error.h"

#include <charconv>
#include <optional>

#include "server/types/sqlite_prepare.h"

namespace tabsrv {
namespace {

// Splits SQLite's constraint detail "db.owner.t.col[, db.owner.t.col2]" into table and first column.
void splitTableColumn(std::string_view detail, std::string& table, std::string& column) {
  std::string_view first = detail.substr(0, detail.find(", "));
  size_t dot = first.rfind('.');
  if (dot == std::string_view::npos) {
    table = std::string(first);
    return;
  }
  table = std::string(first.substr(0, dot));
  column = std::string(first.substr(dot + 1));
}

// A table's SQLite name as the family writes it: "db.owner.name". Tables made by DDL are stored
// as "db<0x1F>id<0x1F>owner.name"; the server's own keep "db.owner.name".
std::string readableName(const std::string& stored) {
  size_t first = stored.find('\x1f');
  size_t second = first == std::string::npos ? first : stored.find('\x1f', first + 1);
  if (second == std::string::npos) return stored;
  return stored.substr(0, first) + "." + stored.substr(second + 1);
}

// The object name part of "db.owner.name".
std::string lastPart(const std::string& qualified) {
  size_t dot = qualified.rfind('.');
  return dot == std::string::npos ? qualified : qualified.substr(dot + 1);
}

// The name of the unique index (as the family knows it) over the table's columns listed in a UNIQUE
// failure message; the SQLite index is named "db.owner.table.index".
std::string findUniqueIndex(sqlite3* db, const std::string& table, std::string_view columns) {
  if (!db) return {};
  // The pragma looks for the table in every attached database file.
  std::string sql =
      "SELECT name FROM pragma_index_list(?1) WHERE \"unique\" = 1 AND name LIKE ?2 ESCAPE '\\'";
  sqlite3_stmt* st = nullptr;
  if (prepareSql(db, sql, &st) != SQLITE_OK) return {};
  std::string pattern;
  for (char c : table) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  pattern += "_%";
  sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, pattern.c_str(), -1, SQLITE_TRANSIENT);
  std::string found;
  // Several unique indexes: pick the one whose columns match the failure's column list.
  std::string wanted(columns);
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    std::string cols;
    sqlite3_stmt* info = nullptr;
    std::string q = "SELECT name FROM pragma_index_info(?1) ORDER BY seqno";
    if (prepareSql(db, q, &info) == SQLITE_OK) {
      sqlite3_bind_text(info, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      while (sqlite3_step(info) == SQLITE_ROW) {
        if (!cols.empty()) cols += ", ";
        cols += table + "." + reinterpret_cast<const char*>(sqlite3_column_text(info, 0));
      }
      sqlite3_finalize(info);
    }
    // "table<0x1F>...", or "table.index" as earlier versions named it.
    if (name.size() <= table.size() || (name[table.size()] != '\x1f' && name[table.size()] != '.')) continue;
    // A table with a storage name numbers its indexes: "table<0x1F>indid<0x1F>index".
    if (found.empty() || cols == wanted) {
      found = name.substr(table.size() + 1);
      if (size_t sep = found.rfind('\x1f'); sep != std::string::npos) found = found.substr(sep + 1);
    }
    if (cols == wanted) break;
  }
  sqlite3_finalize(st);
  return found;
}

// SQLite's own texts that a user's statement can cause, as the family reports them. The names in
// them are SQLite names ("sample.dbo.t", possibly with a "main." in front): only the object's own
// name is shown.
std::optional<SqlError> familyError(std::string_view message) {
  auto after = [&](std::string_view prefix) -> std::optional<std::string> {
    if (message.rfind(prefix, 0) != 0) return std::nullopt;
    return std::string(message.substr(prefix.size()));
  };
  if (auto name = after("no such table: "))
    return SqlError(208, 16,
                    lastPart(*name) +
                        " not found. Specify owner.objectname or use sp_help to check whether the object "
                        "exists (sp_help may produce lots of output).");
  if (auto name = after("no such view: ")) return SqlError(208, 16, lastPart(*name) + " not found.");
  if (auto name = after("no such column: "))
    return SqlError(207, 16, "Invalid column name '" + lastPart(*name) + "'.");
  if (auto name = after("ambiguous column name: "))
    return SqlError(209, 16, "Ambiguous column name " + lastPart(*name));
  if (auto name = after("no such function: "))
    return SqlError(14216, 16,
                    "Function '" + *name +
                        "' not found. If this is a SQLJ function or SQL function, use sp_help to check "
                        "whether the object exists (sp_help may produce lots of output).");
  if (message == "parser stack overflow" || message.rfind("Expression tree is too large", 0) == 0 ||
      message == "too many terms in compound SELECT" || message.rfind("too many FROM clause terms", 0) == 0 ||
      message == "LIKE or GLOB pattern too complex" || message == "too many SQL variables" ||
      message.rfind("too many arguments on function", 0) == 0 || message.rfind("too many columns", 0) == 0)
    return SqlError(191, 15,
                    "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
                    "into smaller queries.");
  if (message == "integer overflow") return SqlError(3606, 16, "Arithmetic overflow occurred.");
  if (message == "string or blob too big")
    return SqlError(1131, 17, "The value is too large for the server to hold.");
  if (message == "database or disk is full")
    return SqlError(1105, 17,
                    "Can't allocate space for the object because the disk holding the database is full.");
  if (message.find("ORDER BY term out of range") != std::string_view::npos)
    return SqlError(
        108, 15, "The ORDER BY position number is out of range of the number of items in the select-list.");
  return std::nullopt;
}

}  // namespace

std::string encodeSqlError(const SqlError& e) {
  return std::string(kSqlErrorPrefix) + std::to_string(e.number()) + ":" + std::to_string(e.severity()) +
         ":" + e.what();
}

void resultSqlError(sqlite3_context* ctx, const SqlError& e) {
  std::string m = encodeSqlError(e);
  sqlite3_result_error(ctx, m.c_str(), static_cast<int>(m.size()));
}

bool isBusyCode(int rc) {
  int primary = rc & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

static SqlError decode(sqlite3* db, int rc, std::string_view message) {
  size_t at = message.find(kSqlErrorPrefix);
  if (at != std::string_view::npos) {
    std::string_view rest = message.substr(at + kSqlErrorPrefix.size());
    int number = 0, severity = 16;
    auto r1 = std::from_chars(rest.data(), rest.data() + rest.size(), number);
    if (r1.ec == std::errc() && r1.ptr < rest.data() + rest.size() && *r1.ptr == ':') {
      const char* p = r1.ptr + 1;
      auto r2 = std::from_chars(p, rest.data() + rest.size(), severity);
      if (r2.ec == std::errc() && r2.ptr < rest.data() + rest.size() && *r2.ptr == ':') {
        std::string text(r2.ptr + 1, rest.data() + rest.size());
        return SqlError(number, static_cast<uint8_t>(severity), text);
      }
    }
  }
  int primary = rc & 0xff;
  if (primary == SQLITE_INTERRUPT) return SqlError(kCancelledErrorNumber, 0, "Query was cancelled.");
  if (isBusyCode(rc)) return SqlError(12205, 17, "Could not acquire a lock within the specified wait.");
  if (primary == SQLITE_CONSTRAINT) {
    constexpr std::string_view kUnique = "UNIQUE constraint failed: ";
    constexpr std::string_view kNotNull = "NOT NULL constraint failed: ";
    if (message.rfind(kUnique, 0) == 0) {
      std::string_view detail = message.substr(kUnique.size());
      std::string table, column;
      splitTableColumn(detail, table, column);
      std::string index = findUniqueIndex(db, table, detail);
      return SqlError(2601, 14,
                      "Attempt to insert duplicate key row in object '" + lastPart(table) +
                          "' with unique index '" + index + "'");
    }
    if (message.rfind(kNotNull, 0) == 0) {
      std::string table, column;
      splitTableColumn(message.substr(kNotNull.size()), table, column);
      return SqlError(515, 16,
                      "Attempt to insert NULL value into column '" + column + "', table '" +
                          readableName(table) + "'; column does not allow nulls. Update fails.");
    }
  }
  if (auto mapped = familyError(message)) return *mapped;
  return SqlError(7900, 16, std::string(message));
}

SqlError errorFromMessage(int rc, std::string_view message) {
  return decode(nullptr, rc, message);
}

SqlError errorFromSqlite(sqlite3* db, int rc) {
  // Copy the text first: looking the index up runs statements that overwrite it.
  const char* m = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  std::string message = m ? m : "";
  // A table of a database the connection could not attach: the reason, not "not found".
  if (db && message.rfind("no such table: ", 0) == 0)
    if (auto refusal = takeMissingTableRefusal(db)) return *refusal;
  return decode(db, rc, message);
}

}  // namespace tabsrv
