// The catalogue code's statement wrapper.
#include "server/storage/sql_util.h"

#include "server/types/sqlite_error.h"
#include "server/types/sqlite_prepare.h"
#include "server/types/sqlite_value.h"

namespace tabsrv::storage {

Stmt::Stmt(sqlite3* db, std::string_view sql) : db_(db) {
  int rc = prepareSql(db, sql, &stmt_);
  if (rc != SQLITE_OK) {
    SqlError e = errorFromSqlite(db, rc);
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    throw e;
  }
}

Stmt::~Stmt() {
  sqlite3_finalize(stmt_);
}

Stmt& Stmt::bind(int index, const Value& v) {
  bindValue(stmt_, index, v);
  return *this;
}

bool Stmt::step() {
  int rc = sqlite3_step(stmt_);
  // A first step prepares the statement again when the schema moved (a database attached or
  // let go); a database it needs may have to be attached again.
  if (!stepped_ && rc != SQLITE_ROW && rc != SQLITE_DONE && retryAfterMissingTable(db_, rc)) {
    sqlite3_reset(stmt_);
    rc = sqlite3_step(stmt_);
  }
  stepped_ = true;
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw errorFromSqlite(db_, rc);
}

void Stmt::run() {
  while (step()) {
  }
}

void Stmt::reset() {
  stepped_ = false;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool Stmt::isNull(int col) const {
  return sqlite3_column_type(stmt_, col) == SQLITE_NULL;
}
int64_t Stmt::integer(int col) const {
  return sqlite3_column_int64(stmt_, col);
}

std::string Stmt::text(int col) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
  return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
}

Bytes Stmt::blob(int col) const {
  const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, col));
  int n = sqlite3_column_bytes(stmt_, col);
  return p ? Bytes(p, p + n) : Bytes();
}

void execSql(sqlite3* db, const std::string& sql) {
  std::string_view rest(sql);
  while (!rest.empty()) {
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    int rc = prepareSql(db, rest, &st, &tail);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(st);
      throw errorFromSqlite(db, rc);
    }
    rest = tail ? rest.substr(static_cast<size_t>(tail - rest.data())) : std::string_view();
    if (!st) continue;  // blanks or a comment
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
      SqlError e = errorFromSqlite(db, rc);
      sqlite3_finalize(st);
      throw e;
    }
    sqlite3_finalize(st);
  }
}

std::string quoteIdent(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string unquoteIdent(std::string_view quoted) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return std::string(quoted);
  std::string name;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    name += quoted[i];
    if (quoted[i] == '"' && quoted[i + 1] == '"') ++i;
  }
  return name;
}

std::string rtrimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace tabsrv::storage
