// What the connection tests share: one local server for the whole program, a database set up
// to log in as sa without the dialog, a reader of values from a database's own session, and
// a facade recorder of the options a connection sends.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "access/QorixDatabase.h"
#include "access/ctlib/ctlib.h"
#include "tests/support/sa_connection.h"

namespace conntest {

// The server every test of this program talks to, started on first use.
inline tabtest::ServerFixture& Server() { return tabtest::SharedServer(); }

// A database that logs in as sa (empty password) to DSQUERY without the login dialog.
// Errors reach the tests as exceptions and stored texts, never as windows.
inline std::unique_ptr<TQorixDatabase> SaDatabase(const QString& name = QStringLiteral("db_test")) {
  return tabtest::SaDatabase(name, QString(), TShowDbMessages{smDbErr});
}

// The first column of the first row Sql returns on Db's own session (empty for NULL or none);
// read through the facade on a command of its own so the component's code is not involved.
inline QString SessionValue(TQorixDatabase& db, const QString& sql) {
  CS_CONNECTION* con = db.ConnectionHandle();
  if (!con) return QStringLiteral("<no connection>");
  CS_COMMAND* cmd = nullptr;
  if (ctlib::ct_cmd_alloc(con, &cmd) != CS_SUCCEED) return QStringLiteral("<no command>");
  const QByteArray text = sql.toUtf8();
  ctlib::ct_command(cmd, CS_LANG_CMD, text.constData(), CS_NULLTERM, CS_UNUSED);
  QString value;
  bool have = false;
  if (ctlib::ct_send(cmd) == CS_SUCCEED) {
    CS_INT type = 0;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      if (type != CS_ROW_RESULT) continue;
      char buf[1024] = {0};
      CS_INT copied = 0;
      CS_SMALLINT ind = 0;
      CS_DATAFMT fmt{};
      fmt.datatype = CS_CHAR_TYPE;
      fmt.format = CS_FMT_NULLTERM;
      fmt.maxlength = sizeof buf;
      fmt.count = 1;
      ctlib::ct_bind(cmd, 1, &fmt, buf, &copied, &ind);
      CS_INT rows = 0;
      while (ctlib::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
        if (!have) value = ind == -1 ? QString() : QString::fromUtf8(buf).trimmed();
        have = true;
      }
    }
  }
  ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
  ctlib::ct_cmd_drop(cmd);
  ClearDiagMessages(con);
  return value;
}

// The number of rows the row results of Sql hold, read on Db's own session.
inline int SessionRowCount(TQorixDatabase& db, const QString& sql) {
  CS_CONNECTION* con = db.ConnectionHandle();
  CS_COMMAND* cmd = nullptr;
  if (!con || ctlib::ct_cmd_alloc(con, &cmd) != CS_SUCCEED) return -1;
  const QByteArray text = sql.toUtf8();
  ctlib::ct_command(cmd, CS_LANG_CMD, text.constData(), CS_NULLTERM, CS_UNUSED);
  int count = 0;
  if (ctlib::ct_send(cmd) == CS_SUCCEED) {
    CS_INT type = 0;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      if (type != CS_ROW_RESULT) continue;
      CS_INT rows = 0;
      while (ctlib::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) ++count;
    }
  }
  ctlib::ct_cmd_drop(cmd);
  ClearDiagMessages(con);
  return count;
}

// Records every ct_options and ct_debug call (option or operation, value or flag) and passes
// it on to the real facade.
class OptionRecorder : public ctlib::Library {
 public:
  OptionRecorder() : previous_(ctlib::SetCurrent(this)) {}
  ~OptionRecorder() override { ctlib::SetCurrent(previous_); }
  OptionRecorder(const OptionRecorder&) = delete;
  OptionRecorder& operator=(const OptionRecorder&) = delete;

  CS_RETCODE ct_options(CS_CONNECTION* con, CS_INT action, CS_INT option, CS_VOID* param, CS_INT paramlen,
                        CS_INT* outlen) override {
    {
      std::lock_guard lock(mutex_);
      if (action == CS_SET) options.emplace_back(option, param ? *static_cast<CS_INT*>(param) : 0);
    }
    return Library::ct_options(con, action, option, param, paramlen, outlen);
  }
  CS_RETCODE ct_debug(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_INT operation, CS_INT flag, CS_CHAR* filename,
                      CS_INT fnamelen) override {
    debugCalls.emplace_back(operation, flag);
    return Library::ct_debug(ctx, con, operation, flag, filename, fnamelen);
  }
  CS_RETCODE ct_connect(CS_CONNECTION* con, CS_CHAR* servername, CS_INT snamelen) override {
    const CS_RETCODE rc = Library::ct_connect(con, servername, snamelen);
    if (afterConnect) afterConnect(con);
    return rc;
  }
  CS_RETCODE ct_con_props(CS_CONNECTION* con, CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT buflen,
                          CS_INT* outlen) override {
    conProps.emplace_back(action, property);
    if (property == failProperty) return CS_FAIL;
    return Library::ct_con_props(con, action, property, buffer, buflen, outlen);
  }
  CS_RETCODE ct_con_alloc(CS_CONTEXT* ctx, CS_CONNECTION** con) override {
    if (failAlloc) return CS_FAIL;
    const CS_RETCODE rc = Library::ct_con_alloc(ctx, con);
    if (rc == CS_SUCCEED) ++allocated;
    return rc;
  }
  CS_RETCODE ct_con_drop(CS_CONNECTION* con) override {
    ++dropped;
    return Library::ct_con_drop(con);
  }

  // The option numbers sent, in order.
  std::vector<CS_INT> OptionNumbers() const {
    std::vector<CS_INT> out;
    for (auto& [o, v] : options) out.push_back(o);
    return out;
  }

  std::vector<std::pair<CS_INT, CS_INT>> options;
  std::vector<std::pair<CS_INT, CS_INT>> debugCalls;
  std::function<void(CS_CONNECTION*)> afterConnect;
  // Every ct_con_props call (action, property); FailProperty's calls fail.
  std::vector<std::pair<CS_INT, CS_INT>> conProps;
  CS_INT failProperty = 0;
  bool failAlloc = false;
  int allocated = 0;
  int dropped = 0;

 private:
  std::mutex mutex_;
  ctlib::Library* previous_;
};

}  // namespace conntest
