// The engines' test bench: a test-only connection that logs in as sa through the facade, and a
// fixture that starts the local server once per suite and hands each test a connected one.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "access/QorixContext.h"
#include "access/QorixEnhQuery.h"
#include "access/QorixErrorHandling.h"
#include "access/Qorix_Components.h"
#include "tests/support/qt_printers.h"
#include "tests/support/server_fixture.h"


// A connection that logs in through the facade; it stands where TQorixDatabase will.
class TestDatabase : public TQorixDatabaseBase, public TQorixDiagTarget {
 public:
  explicit TestDatabase(TComponent* owner = nullptr) : TQorixDatabaseBase(owner) {}
  ~TestDatabase() override {
    Close();
    UnregisterDatabase(this);
  }
  void SetName(const QString& name) override {
    TQorixDatabaseBase::SetName(name);
    RegisterDatabase(this);
  }
  CS_CONTEXT* ContextHandle() const override { return ctx_; }
  CS_CONNECTION* ConnectionHandle() const override { return con_; }
  CS_CONTEXT* GetContextHandle() override {
    ctx_ = FindContextHandle(QStringLiteral("default"));
    return ctx_;
  }
  bool IsConnected() const override { return connected_; }
  void DoConnect() override {
    ++connectCalls;
    if (connected_) return;
    GetContextHandle();
    ctlib::ct_con_alloc(ctx_, &con_);
    ctlib::ct_diag(con_, CS_INIT, CS_UNUSED, CS_UNUSED, nullptr);
    ctlib::ct_con_props(con_, CS_SET, CS_USERNAME, const_cast<char*>("sa"), CS_NULLTERM, nullptr);
    ctlib::ct_con_props(con_, CS_SET, CS_PASSWORD, const_cast<char*>(password.c_str()), CS_NULLTERM, nullptr);
    ctlib::ct_con_props(con_, CS_SET, CS_APPNAME, const_cast<char*>("engine_tests"), CS_NULLTERM, nullptr);
    connected_ = ctlib::ct_connect(con_, const_cast<char*>(server.c_str()), CS_NULLTERM) == CS_SUCCEED;
    ClearDiagMessages(con_);
    if (!connected_) {
      ctlib::ct_con_drop(con_);
      con_ = nullptr;
    }
  }
  void Close() {
    if (!con_) return;
    ctlib::ct_close(con_, CS_FORCE_CLOSE);
    ctlib::ct_con_drop(con_);
    con_ = nullptr;
    connected_ = false;
  }
  QString GetServerName() const override { return QString::fromStdString(server); }
  QString GetRdbms() const override { return rdbms; }
  TProcOptions GetProcOptions() const override { return options; }
  void SetProcOptions(const TProcOptions& o) override { options = o; }
  int GetTextSize() const override { return textSize; }

  std::string server = "TABULON";
  std::string password;
  QString rdbms = QStringLiteral("Sybase SQL Server");
  TProcOptions options;
  int textSize = 32768;
  int connectCalls = 0;

 private:
  CS_CONTEXT* ctx_ = nullptr;
  CS_CONNECTION* con_ = nullptr;
  bool connected_ = false;
};

// An owner recognised by its class name: the catalogue component's stand-in receives the
// texts of the engines and queries it owns.
class TQorixObjInfo : public TComponent, public TQorixDiagTarget {};

// Starts the server once for the suite; each test gets a logged-in TestDatabase "testdb".
class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    try {
      fixture_ = new tabtest::ServerFixture();
    } catch (const std::exception& e) {
      skipReason_ = std::string("local server not available: ") + e.what();
    }
  }
  static void TearDownTestSuite() {
    delete fixture_;
    fixture_ = nullptr;
  }
  void SetUp() override {
    if (!fixture_) GTEST_SKIP() << skipReason_;
    ctx_ = std::make_unique<TQorixContext>();
    ctx_->SetName("enginectx");
    ctx_->SetIniFile(QString::fromStdString(fixture_->interfacesPath()));
    db_ = std::make_unique<TestDatabase>();
    db_->SetName(QStringLiteral("testdb"));
    db_->DoConnect();
    ASSERT_TRUE(db_->IsConnected()) << "login to the local server failed";
  }
  void TearDown() override {
    db_.reset();
    ctx_.reset();
  }

  // Runs Sql through a fresh engine with ExecSQL (setup statements).
  void Exec(const QString& sql) {
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.SetSQL(sql);
    q.ExecSQL();
  }

  // The rows of the first row result of Sql read through Open/Next, columns joined by "|".
  QStringList OpenRows(TQorixCustomQuery& q) {
    QStringList rows;
    q.Open();
    while (q.Next()) {
      QStringList cols;
      for (int c = 1; c <= q.ColumnCount(); ++c)
        cols << (q.FieldIsNull(c) ? QStringLiteral("<null>") : q.GetFieldValue(c));
      rows << cols.join(QLatin1Char('|'));
    }
    q.Cancel(CS_CANCEL_ALL);
    return rows;
  }

  static inline tabtest::ServerFixture* fixture_ = nullptr;
  static inline std::string skipReason_;
  std::unique_ptr<TQorixContext> ctx_;
  std::unique_ptr<TestDatabase> db_;
};
