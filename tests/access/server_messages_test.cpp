// The facade against the local server through real FreeTDS: names resolved through the
// interfaces file, TDS 5.0, and two connections on the "default" context, one of them on a
// worker thread, each seeing exactly its own PRINT and RAISERROR messages over thousands of
// batches; plus a failed login reported through the diagnostics routine.

#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <memory>
#include <thread>

#include "access/QorixContext.h"
#include "access/QorixErrorHandling.h"
#include "access/UiServices.h"
#include "access/ctlib/ctlib.h"
#include "tests/support/server_fixture.h"

namespace {

class Target : public TComponent, public TQorixDiagTarget {
 public:
  explicit Target(bool lineAllowed = true) : lineAllowed_(lineAllowed) {}
  bool DiagLineAllowed() const override { return lineAllowed_; }

 private:
  bool lineAllowed_;
};

// Sends one language batch and reads every result; false when a call failed outright.
bool Run(CS_CONNECTION* con, CS_COMMAND* cmd, const std::string& sql) {
  if (ctlib::ct_command(cmd, CS_LANG_CMD, sql.c_str(), CS_NULLTERM, CS_UNUSED) != CS_SUCCEED) return false;
  if (ctlib::ct_send(cmd) != CS_SUCCEED) return false;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = ctlib::ct_results(cmd, &type)) == CS_SUCCEED) {
    if (type == CS_ROW_RESULT || type == CS_STATUS_RESULT || type == CS_COMPUTE_RESULT)
      ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT);
  }
  (void)con;
  return rc == CS_END_RESULTS;
}

class ServerMessages : public ::testing::Test {
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
    ctx_->SetName("ctx");
    ctx_->SetIniFile(QString::fromStdString(fixture_->interfacesPath()));
  }
  void TearDown() override {
    for (CS_CONNECTION* con : cons_) {
      ctlib::ct_close(con, CS_FORCE_CLOSE);
      ctlib::ct_con_drop(con);
    }
    ctx_.reset();
  }

  // Allocates an inline-mode connection on the default context and logs in as sa.
  CS_CONNECTION* Connect(const char* password, CS_RETCODE* result = nullptr, const char* server = "TABULON") {
    CS_CONNECTION* con = nullptr;
    EXPECT_EQ(ctlib::ct_con_alloc(FindContextHandle("default"), &con), CS_SUCCEED);
    EXPECT_EQ(ctlib::ct_diag(con, CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);
    ctlib::ct_con_props(con, CS_SET, CS_USERNAME, const_cast<char*>("sa"), CS_NULLTERM, nullptr);
    ctlib::ct_con_props(con, CS_SET, CS_PASSWORD, const_cast<char*>(password), CS_NULLTERM, nullptr);
    ctlib::ct_con_props(con, CS_SET, CS_APPNAME, const_cast<char*>("access_tests"), CS_NULLTERM, nullptr);
    const CS_RETCODE rc = ctlib::ct_connect(con, const_cast<char*>(server), CS_NULLTERM);
    if (result) *result = rc;
    cons_.push_back(con);
    return con;
  }

  static tabtest::ServerFixture* fixture_;
  static std::string skipReason_;
  std::unique_ptr<TQorixContext> ctx_;
  std::vector<CS_CONNECTION*> cons_;
};

tabtest::ServerFixture* ServerMessages::fixture_ = nullptr;
std::string ServerMessages::skipReason_;

TEST_F(ServerMessages, ConnectsThroughTheInterfacesFileWithTds50) {
  // A name only the interfaces file knows: freetds.conf cannot be what resolved it.
  QTemporaryDir dir;
  const QString path = dir.filePath("interfaces");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("ONLYIFILE\n\tquery tcp ether 127.0.0.1 %1\n").arg(fixture_->port()).toUtf8());
  }
  ctx_->SetIniFile(path);
  CS_RETCODE rc;
  CS_CONNECTION* con = Connect("", &rc, "ONLYIFILE");
  ASSERT_EQ(rc, CS_SUCCEED);
  CS_INT version = 0;
  ASSERT_EQ(ctlib::ct_con_props(con, CS_GET, CS_TDS_VERSION, &version, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(version, CS_TDS_50);
  CS_BOOL status = CS_FALSE;
  ctlib::ct_con_props(con, CS_GET, CS_LOGIN_STATUS, &status, CS_UNUSED, nullptr);
  EXPECT_EQ(status, CS_TRUE);
  char server[64] = {0};
  ctlib::ct_con_props(con, CS_GET, CS_SERVERNAME, server, sizeof server, nullptr);
  EXPECT_STREQ(server, "ONLYIFILE");
  // Resolving by address must not leave FreeTDS's "server name not found" behind.
  CS_INT clientMsgs = -1;
  ctlib::ct_diag(con, CS_STATUS, CS_CLIENTMSG_TYPE, CS_UNUSED, &clientMsgs);
  EXPECT_EQ(clientMsgs, 0);
}

TEST_F(ServerMessages, NameMissingFromTheInterfacesFileFallsBackToFreetdsConf) {
  QTemporaryDir dir;
  const QString empty = dir.filePath("interfaces");
  QFile(empty).open(QIODevice::WriteOnly);
  ctx_->SetIniFile(empty);
  CS_RETCODE rc;
  CS_CONNECTION* con = Connect("", &rc);
  EXPECT_EQ(rc, CS_SUCCEED) << "freetds.conf names TABULON too";
  CS_INT version = 0;
  ctlib::ct_con_props(con, CS_GET, CS_TDS_VERSION, &version, CS_UNUSED, nullptr);
  EXPECT_EQ(version, CS_TDS_50);
}

TEST_F(ServerMessages, FailedLoginIsReportedWithoutLinePart) {
  CS_RETCODE rc;
  CS_CONNECTION* con = Connect("definitely-wrong", &rc);
  ASSERT_NE(rc, CS_SUCCEED);
  Target db(false);
  CS_SERVERMSG srv{};
  CS_CLIENTMSG cli{};
  TRecordingUiServices ui;
  ProcessDiagMessages(con, srv, cli, &db, false, false, false, false, false);
  EXPECT_TRUE(db.LastError().contains("Message  : ")) << db.LastError().toStdString();
  EXPECT_FALSE(db.LastError().contains("Line     : ")) << db.LastError().toStdString();
}

// Runs Iterations batches of PRINT + RAISERROR tagged with Tag on Con and checks that every
// call's messages are its own, through the diagnostics routine; returns the mismatches.
int MessageLoop(CS_CONNECTION* con, const std::string& tag, int iterations, std::string* firstProblem) {
  CS_COMMAND* cmd = nullptr;
  if (ctlib::ct_cmd_alloc(con, &cmd) != CS_SUCCEED) {
    *firstProblem = "ct_cmd_alloc failed";
    return iterations;
  }
  Target target;
  int problems = 0;
  for (int i = 0; i < iterations; ++i) {
    const std::string printed = tag + " print " + std::to_string(i);
    const std::string raised = tag + " error " + std::to_string(i);
    ClearDiagMessages(con);
    Run(con, cmd, "print '" + printed + "' raiserror 20001 '" + raised + "'");
    target.SetLastError(QString());
    target.SetLastMessage(QString());
    CS_INT count = 0;
    ctlib::ct_diag(con, CS_STATUS, CS_SERVERMSG_TYPE, CS_UNUSED, &count);
    CS_SERVERMSG srv{};
    CS_CLIENTMSG cli{};
    // Not raising: the error is stored and the routine returns; windows would be skipped on
    // the worker anyway.
    ProcessDiagMessages(con, srv, cli, &target, false, false, false, false, false);
    const bool ok = count == 2 && target.LastMessage().contains(QString::fromStdString(printed)) &&
                    target.LastError().contains(QString::fromStdString(raised)) &&
                    target.LastError().contains("Message  : 20001");
    if (!ok) {
      if (!problems)
        *firstProblem = tag + " #" + std::to_string(i) + ": count " + std::to_string(count) + ", message [" +
                        target.LastMessage().toStdString() + "], error [" + target.LastError().toStdString() +
                        "]";
      ++problems;
    }
  }
  ctlib::ct_cmd_drop(cmd);
  return problems;
}

TEST_F(ServerMessages, TwoConnectionsOnOneContextEachSeeOnlyTheirOwnMessages) {
  CS_RETCODE rcA, rcB;
  CS_CONNECTION* a = Connect("", &rcA);
  CS_CONNECTION* b = Connect("", &rcB);
  ASSERT_EQ(rcA, CS_SUCCEED);
  ASSERT_EQ(rcB, CS_SUCCEED);
  ClearDiagMessages(a);
  ClearDiagMessages(b);
  constexpr int kIterations = 2500;
  std::string problemA, problemB;
  int mismatchesB = -1;
  std::thread worker([&] { mismatchesB = MessageLoop(b, "B", kIterations, &problemB); });
  const int mismatchesA = MessageLoop(a, "A", kIterations, &problemA);
  worker.join();
  EXPECT_EQ(mismatchesA, 0) << problemA;
  EXPECT_EQ(mismatchesB, 0) << problemB;
}

}  // namespace
