// A small prepared-statement wrapper for the catalogue code: bind by position, step, read columns.
// Failures throw the server error errorFromSqlite gives. Internal to tabsrv_storage.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

#include "server/core/types.h"

namespace tabsrv::storage {

// One prepared statement, finalized on destruction.
class Stmt {
 public:
  Stmt(sqlite3* db, std::string_view sql);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  // Binds in canonical form (1-based); returns *this for chaining.
  Stmt& bind(int index, const Value& v);
  Stmt& bind(int index, const std::string& s) { return bind(index, Value(s)); }
  Stmt& bind(int index, const char* s) { return bind(index, Value(std::string(s))); }
  Stmt& bind(int index, int64_t v) { return bind(index, Value(v)); }
  Stmt& bind(int index, int32_t v) { return bind(index, Value(static_cast<int64_t>(v))); }

  // Steps once: true for a row, false when done; throws on error.
  bool step();
  // Steps to the end, ignoring rows.
  void run();
  void reset();

  bool isNull(int col) const;
  int64_t integer(int col) const;
  std::string text(int col) const;  // trailing blanks kept
  Bytes blob(int col) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  bool stepped_ = false;
};

// Runs SQL text without results (several statements allowed); throws on error.
void execSql(sqlite3* db, const std::string& sql);

// Quotes an identifier for SQLite: "a""b".
std::string quoteIdent(std::string_view name);
// The name inside a quoteIdent result (a text without the outer quotes comes back as it is).
std::string unquoteIdent(std::string_view quoted);

// Text without trailing blanks (names read from char columns).
std::string rtrimmed(std::string s);

}  // namespace tabsrv::storage
