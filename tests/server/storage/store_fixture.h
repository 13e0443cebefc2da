// A fresh data directory with an opened Store and one connection, removed afterwards; and a helper
// that runs a query and returns its rows as text.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "server/storage/database_files.h"
#include "server/storage/store.h"
#include "server/types/sqlite_prepare.h"

namespace tabsrv::test {

// Rows of a query, each value as text ("NULL" for NULL, blobs as hex), columns joined by " | ".
inline std::vector<std::string> queryRows(sqlite3* db, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3_stmt* st = nullptr;
  // As the server prepares: a database the query names is attached when first needed.
  if (tabsrv::prepareSql(db, sql, &st) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
    return rows;
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string r;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      if (i) r += " | ";
      if (sqlite3_column_type(st, i) == SQLITE_NULL) {
        r += "NULL";
      } else if (sqlite3_column_type(st, i) == SQLITE_BLOB) {
        const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(st, i));
        static const char kHex[] = "0123456789abcdef";
        for (int k = 0; k < sqlite3_column_bytes(st, i); ++k) {
          r += kHex[p[k] >> 4];
          r += kHex[p[k] & 15];
        }
      } else {
        r += reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      }
    }
    rows.push_back(r);
  }
  sqlite3_finalize(st);
  return rows;
}

// A Store over a temporary directory.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tabsrv-storage-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    store_ = Store::open(dir_.string());
    db_ = store_->connect();
  }
  void TearDown() override {
    db_.reset();
    store_.reset();
    std::filesystem::remove_all(dir_);
  }
  sqlite3* db() { return db_.get(); }
  // The SQLite schema table of `database`'s own file, for statements: "\"~sample\".sqlite_master".
  std::string schemaTable(const std::string& database) {
    return storage::schemaPrefix(db(), database) + "sqlite_master";
  }
  std::vector<std::string> rows(const std::string& sql) { return queryRows(db(), sql); }

  std::filesystem::path dir_;
  std::unique_ptr<Store> store_;
  ConnectionPtr db_;
};

}  // namespace tabsrv::test
