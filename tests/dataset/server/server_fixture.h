// What the server-dataset tests share: one local server for the program, connections that log
// in as sa to the sample database, a statement runner and a row reader for set-up and checks
// (both through the command engine, so they see the server independently of the datasets).
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <memory>
#include <ostream>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "tests/support/qt_printers.h"
#include "tests/support/sa_connection.h"

namespace dstest {

inline tabtest::ServerFixture& Server() { return tabtest::SharedServer(); }

// A connection named Name, logged in as sa, using the sample database.
inline std::unique_ptr<TQorixDatabase> Connect(const QString& name) {
  // The family is left as the component has it.
  return tabtest::ConnectAsSa(name, {QStringLiteral("dataset_server_tests"), QStringLiteral("sample"), QString()});
}

// Runs Sql on Db and reads every result.
inline void Exec(TQorixDatabaseBase& db, const QString& sql) { tabtest::ExecSetup(db, sql); }

// The rows of Sql on Db, columns trimmed and joined by "|" (NULL as "<null>").
inline QStringList Rows(TQorixDatabaseBase& db, const QString& sql) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.TrimResults = true;
  q.SetSQL(sql);
  QStringList rows;
  q.Open();
  while (q.Next()) {
    QStringList cols;
    for (int c = 1; c <= q.ColumnCount(); ++c) cols << (q.FieldIsNull(c) ? QStringLiteral("<null>") : q.GetFieldValue(c));
    rows << cols.join(QLatin1Char('|'));
  }
  q.Cancel(CS_CANCEL_ALL);
  return rows;
}

// Two connections: "db" for the datasets and "check" for reading the server back.
class ServerDataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    try {
      Server();
    } catch (const std::exception& e) {
      GTEST_SKIP() << "local server not available: " << e.what();
    }
    db_ = Connect(QStringLiteral("db"));
    check_ = Connect(QStringLiteral("check"));
    ASSERT_TRUE(db_->Connected() && check_->Connected()) << "login to the local server failed";
  }
  void TearDown() override {
    check_.reset();
    db_.reset();
  }
  std::unique_ptr<TQorixDatabase> db_;
  std::unique_ptr<TQorixDatabase> check_;
};

}  // namespace dstest
