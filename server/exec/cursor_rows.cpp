// Cursor rows: the stepping query, the spill file and the order in which a cursor hands out
// rows once some of them were spilled (the spilled ones first: they came before the query's rest).
#include "server/exec/cursor_rows.h"

#include "server/exec/sql_statement.h"
#include "server/types/sqlite_error.h"

namespace tabsrv {

// ---- SpillFile ----------------------------------------------------------------------------------

SpillFile::SpillFile() {
  // An empty file name is a private temporary database, deleted when it closes.
  int rc = sqlite3_open_v2("", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    SqlError e = errorFromSqlite(db_, rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw e;
  }
  // Nothing here has to survive a crash; a small cache keeps the memory bounded, the rest is
  // the temporary file's.
  exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -2048; "
       "PRAGMA temp_store = FILE");
}

SpillFile::~SpillFile() {
  sqlite3_close_v2(db_);
}

void SpillFile::exec(const std::string& sql) {
  char* error = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string text = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    throw SqlError(7900, 16, "Cursor spill file: " + text);
  }
}

std::string SpillFile::createTable(int columns) {
  std::string name = "rows" + std::to_string(++tables_);
  // Columns without a declared type keep each value exactly as the query produced it.
  std::string sql = "CREATE TABLE " + name + " (seq INTEGER PRIMARY KEY";
  for (int i = 0; i < columns; ++i) sql += ", c" + std::to_string(i);
  exec(sql + ")");
  return name;
}

void SpillFile::dropTable(const std::string& name) {
  sqlite3_exec(db_, ("DROP TABLE IF EXISTS " + name).c_str(), nullptr, nullptr, nullptr);
}

// ---- CursorRows ---------------------------------------------------------------------------------

CursorRows::CursorRows(std::unique_ptr<SqlStatement> query)
    : query_(std::move(query)), columns_(query_->columnCount()) {}

CursorRows::~CursorRows() {
  closeReader();
  if (file_ && !table_.empty()) file_->dropTable(table_);
}

void CursorRows::start() {
  if (!query_ || primed_) return;
  try {
    primed_ = query_->step();
  } catch (...) {
    // An interrupted or failed first step leaves the statement to be run again from the start.
    sqlite3_reset(query_->get());
    throw;
  }
  if (!primed_) query_.reset();
}

bool CursorRows::stepQuery() {
  try {
    return query_->step();
  } catch (const Cancelled&) {
    query_.reset();
    interrupted_ = true;
    throw;
  } catch (...) {
    // A failed statement would start again from its first row: the cursor ends here instead.
    query_.reset();
    throw;
  }
}

void CursorRows::openReader() {
  if (reader_) return;
  std::string sql = "SELECT ";
  for (int i = 0; i < columns_; ++i) sql += (i ? ", c" : "c") + std::to_string(i);
  sql += " FROM " + table_ + " WHERE seq > ?1 ORDER BY seq";
  int rc = sqlite3_prepare_v2(file_->db(), sql.c_str(), -1, &reader_, nullptr);
  if (rc != SQLITE_OK) throw SqlError(7900, 16, std::string("Cursor spill file: ") + sqlite3_errmsg(file_->db()));
  sqlite3_bind_int64(reader_, 1, read_);
}

void CursorRows::closeReader() {
  sqlite3_finalize(reader_);
  reader_ = nullptr;
}

bool CursorRows::next() {
  current_ = nullptr;
  if (read_ < spilled_) {
    openReader();
    int rc = sqlite3_step(reader_);
    if (rc != SQLITE_ROW) throw SqlError(7900, 16, std::string("Cursor spill file: ") + sqlite3_errmsg(file_->db()));
    ++read_;
    current_ = reader_;
    return true;
  }
  if (spillError_) {
    SqlError e = *spillError_;
    spillError_.reset();
    throw e;
  }
  if (interrupted_)
    throw SqlError(3621, 16,
                   "The cursor's query was interrupted by a cancel in the middle of a row; close the "
                   "cursor and open it again.");
  if (!query_) return false;
  if (primed_) {
    primed_ = false;
  } else if (!stepQuery()) {
    query_.reset();
    return false;
  }
  current_ = query_->get();
  return true;
}

void CursorRows::spill(SpillFile& file, const std::function<void(int64_t)>& beforeStep) {
  if (!query_) return;
  if (!file_) {
    file_ = &file;
    table_ = file.createTable(columns_);
  }
  // The reader must not step while rows are added behind it; it is made again at the next read.
  closeReader();
  current_ = nullptr;
  std::string sql = "INSERT INTO " + table_ + " VALUES (?1";
  for (int i = 0; i < columns_; ++i) sql += ", ?" + std::to_string(i + 2);
  sql += ")";
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(file.db(), sql.c_str(), -1, &insert, nullptr) != SQLITE_OK)
    throw SqlError(7900, 16, std::string("Cursor spill file: ") + sqlite3_errmsg(file.db()));
  struct Finish {
    SpillFile& file;
    sqlite3_stmt* insert;
    ~Finish() {
      sqlite3_finalize(insert);
      sqlite3_exec(file.db(), "COMMIT", nullptr, nullptr, nullptr);
    }
  } finish{file, insert};
  file.exec("BEGIN");
  auto copyCurrent = [&] {
    sqlite3_stmt* q = query_->get();
    sqlite3_bind_int64(insert, 1, spilled_ + 1);
    for (int i = 0; i < columns_; ++i) sqlite3_bind_value(insert, i + 2, sqlite3_column_value(q, i));
    if (sqlite3_step(insert) != SQLITE_DONE)
      throw SqlError(7900, 16, std::string("Cursor spill file: ") + sqlite3_errmsg(file.db()));
    sqlite3_reset(insert);
    ++spilled_;
  };
  if (primed_) {
    copyCurrent();
    primed_ = false;
  }
  for (int64_t n = 0;; ++n) {
    beforeStep(n);
    bool row = false;
    try {
      row = stepQuery();
    } catch (const SqlError& e) {
      // The row that fails is raised when the cursor gets to it, not by the statement that
      // made the cursor spill.
      spillError_ = e;
    }
    if (!row) {
      query_.reset();
      return;
    }
    copyCurrent();
  }
}

}  // namespace tabsrv
