// The rows of one open cursor, handed out one at a time. They come straight from the cursor's
// query, a SQLite statement on the session's connection that steps as the client fetches, so a
// cursor's memory does not grow with its result. Before the session changes data or ends a
// transaction, the rows the query has not produced yet move to a spill file (a private temporary
// SQLite database): the cursor still hands out the rows as they were when it began to read, and
// no write of the session meets the read snapshot the stepping query holds.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "server/core/message.h"

namespace tabsrv {

class SqlStatement;

// A session's private temporary database for spilled cursor rows, opened on first use. SQLite
// keeps it in a small page cache and writes the rest to a temporary file it deletes on close.
class SpillFile {
 public:
  SpillFile();
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  sqlite3* db() const { return db_; }
  // Creates an empty table for `columns` values per row (plus a sequence number) and returns its name.
  std::string createTable(int columns);
  // Drops a table createTable made.
  void dropTable(const std::string& name);
  // Runs SQL that returns nothing; throws SqlError on failure.
  void exec(const std::string& sql);

 private:
  sqlite3* db_ = nullptr;
  int64_t tables_ = 0;
};

class CursorRows {
 public:
  // `query` is the cursor's statement, bound and not stepped yet.
  explicit CursorRows(std::unique_ptr<SqlStatement> query);
  ~CursorRows();
  CursorRows(const CursorRows&) = delete;
  CursorRows& operator=(const CursorRows&) = delete;

  // Runs the query to its first row, so that its errors and its wait (a sort, an aggregate, a
  // long scan to the first match) belong to the open. Throws what the step throws.
  void start();
  // Moves to the next row; false once every row was handed out. Throws the query's error when
  // the row it would produce fails (for a spilled query, where the spill met it). A step the
  // client's attention interrupted throws Cancelled; the query cannot go on from there, so
  // every later call throws 3621.
  bool next();
  // The statement whose current result row is the row next() moved to.
  sqlite3_stmt* current() const { return current_; }
  // True while the query statement still holds rows (and with them a read snapshot).
  bool streaming() const { return query_ != nullptr; }
  // Moves every row the query has not handed out into `file`. `beforeStep` runs before each
  // step of the query with the number of rows moved so far and may throw (a cancel): the rows
  // moved so far stay in the file, the rest stay with the query.
  void spill(SpillFile& file, const std::function<void(int64_t)>& beforeStep);

 private:
  // Steps the query once; a step that throws ends the query (an interrupted one for good).
  bool stepQuery();
  void openReader();
  void closeReader();

  std::unique_ptr<SqlStatement> query_;
  int columns_ = 0;
  bool primed_ = false;  // query_ stands on a row not handed out yet
  sqlite3_stmt* current_ = nullptr;

  SpillFile* file_ = nullptr;
  std::string table_;
  int64_t spilled_ = 0;  // rows in the spill table, numbered 1..spilled_
  int64_t read_ = 0;     // spilled rows handed out
  sqlite3_stmt* reader_ = nullptr;
  std::optional<SqlError> spillError_;  // the query's failure met while spilling, raised in turn
  bool interrupted_ = false;            // a step was interrupted: the rows after it are gone
};

}  // namespace tabsrv
