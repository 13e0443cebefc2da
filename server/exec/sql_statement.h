// A prepared SQLite statement owned by a session: binds parameters in canonical form, steps,
// and turns SQLite failures into server errors (or a quiet stop when the client cancelled). The
// statement comes from the session's kept statements when its text was prepared before.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "server/core/types.h"
#include "server/exec/session_impl.h"
#include "server/exec/statement_cache.h"

namespace tabsrv {

class SqlStatement {
 public:
  // Statements generated from a user's T-SQL are checked against the session's permissions;
  // the server's own catalogue reads are not.
  enum class Access { Checked, Internal };
  // Prepares `sql` on the session's connection; throws SqlError (or Cancelled), including the
  // permission errors of Permissions::check for a checked statement.
  SqlStatement(SessionImpl& session, const std::string& sql, Access access = Access::Checked);
  ~SqlStatement();
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  // Binds ?1..?N from `values`.
  void bindAll(const std::vector<Value>& values);
  // Steps once: true when a row is ready, false when done; throws on failure.
  bool step();
  // Resets for another run with new bindings.
  void reset();
  // The raw statement for column reads.
  sqlite3_stmt* get() const { return stmt_; }
  int columnCount() const { return sqlite3_column_count(stmt_); }

 private:
  [[noreturn]] void fail(int rc);
  // Gives the statement back to the session's kept statements, or finalizes it.
  void release();
  SessionImpl& session_;
  sqlite3_stmt* stmt_ = nullptr;
  StatementCache::Entry* kept_ = nullptr;  // the kept statement stmt_ is, or null
  bool stepped_ = false;
};

// Statement atomicity for statements that write: outside a transaction a BEGIN, inside one a
// savepoint; either way the write lock of `database`, the one the statement changes, is taken
// before the statement reads it (so a second writer waits for the lock up front instead of failing
// half way). Without commit() the destructor undoes the statement's changes only.
class StatementTransaction {
 public:
  StatementTransaction(SessionImpl& session, const std::string& database);
  // For a statement that changes table or view `changed`: no lock for a #table, which is the
  // session's own.
  StatementTransaction(SessionImpl& session, const TableInfo& changed);
  // For a single-row INSERT into `changed` when no trigger fires for it: outside a transaction,
  // it may join the batch's group of autocommits (see SessionImpl::canGroup).
  enum class Groupable { Yes };
  StatementTransaction(SessionImpl& session, const TableInfo& changed, Groupable);
  ~StatementTransaction();
  StatementTransaction(const StatementTransaction&) = delete;
  StatementTransaction& operator=(const StatementTransaction&) = delete;
  // Keeps the statement's changes.
  void commit();

 private:
  void begin(const std::string& database);
  SessionImpl& session_;
  bool outermost_ = false;
  bool open_ = true;
  bool grouped_ = false;     // a savepoint inside the open group
  bool startsGroup_ = false;  // outermost, and its commit leaves the transaction open as a group
  std::string database_;
};

}  // namespace tabsrv
