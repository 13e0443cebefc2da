// The engines against the protocol layer's stub engine, in-process over real FreeTDS: the
// stub answers cursors over "numbers N", the procedures two_in_one_out and minus_one, batches
// with compute rows and procedure replies, and prepared statements over "numbers".
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "access/QorixContext.h"
#include "access/QorixEnhQuery.h"
#include "server/tds/server.h"
#include "tests/access/engine/engine_fixture.h"
#include "tests/server/tds/stub_engine.h"

class StubEngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine_ = new tabtest::StubEngine;
    server_ = new tabsrv::tds::Server(*engine_, [](const std::string&) {});
    server_->start();
    dir_ = std::filesystem::temp_directory_path() / ("engine-stub-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    std::ofstream conf(dir_ / "freetds.conf", std::ios::trunc);
    conf << "[global]\n\n[STUB]\n\thost = 127.0.0.1\n\tport = " << server_->port()
         << "\n\ttds version = 5.0\n\tclient charset = UTF-8\n";
    conf.close();
    setenv("FREETDSCONF", (dir_ / "freetds.conf").c_str(), 1);
    unsetenv("SYBASE");
  }
  static void TearDownTestSuite() {
    server_->stop();
    delete server_;
    delete engine_;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void SetUp() override {
    ctx_ = std::make_unique<TQorixContext>();
    ctx_->SetName("stubctx");
    db_ = std::make_unique<TestDatabase>();
    db_->server = "STUB";
    db_->password = "secret";
    db_->SetName(QStringLiteral("stubdb"));
    db_->DoConnect();
    ASSERT_TRUE(db_->IsConnected()) << "login to the stub server failed";
  }
  void TearDown() override {
    db_.reset();
    ctx_.reset();
  }
  // Rows of Q's first row result through Open/Next, columns joined by "|".
  static QStringList Rows(TQorixCustomQuery& q) {
    QStringList rows;
    q.Open();
    while (q.Next()) {
      QStringList cols;
      for (int c = 1; c <= q.ColumnCount(); ++c) cols << q.GetFieldValue(c);
      rows << cols.join(QLatin1Char('|'));
    }
    q.Cancel(CS_CANCEL_ALL);
    return rows;
  }

  static inline tabtest::StubEngine* engine_ = nullptr;
  static inline tabsrv::tds::Server* server_ = nullptr;
  static inline std::filesystem::path dir_;
  std::unique_ptr<TQorixContext> ctx_;
  std::unique_ptr<TestDatabase> db_;
};
