// What the desktop-program tests share: one local server, a model logged in as sa, a grid
// stand-in whose run stays in progress until the test ends it, and the screenshot writer.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

#include "access/QorixDatabase.h"
#include "access/UiServices.h"
#include "app/MainModel.h"
#include "tests/support/sa_connection.h"

namespace apptest {

inline tabtest::ServerFixture& Server() { return tabtest::SharedServer(); }

// Writes W's picture as Name.png into the build folder's screenshots.
inline void Shot(QWidget& w, const QString& name) {
  EXPECT_TRUE(w.grab().save(QDir(QStringLiteral(TABULON_SHOT_DIR)).filePath(name + QStringLiteral(".png"))));
}

// Makes Connect log in as sa through the login dialog's function (the user pressed OK).
class SaLogin {
 public:
  explicit SaLogin(const QString& password = QString()) {
    Server();
    previous_ = SetLoginDialog([this, password](TQxLoginData& d) {
      ++shown;
      d.UserName = QStringLiteral("sa");
      d.Password = password;
      d.ServerName = QStringLiteral("DSQUERY");
      return true;
    });
  }
  ~SaLogin() { SetLoginDialog(previous_); }
  int shown = 0;

 private:
  TLoginDialogFunc previous_;
};

// A result grid whose run stays in progress until Finish; records what the model asked.
class PendingGrid : public TResultGridComponent {
 public:
  explicit PendingGrid(TQorixDatabase* dbGrid) : dbGrid_(dbGrid) {}
  void SetSQL(const QString& text) override { sql_ = text; }
  QString SQL() const override { return sql_; }
  void Execute() override {
    ++executed;
    active_ = true;
  }
  bool Active() const override { return active_; }
  void Stop() override { ++stopped; }
  void StopAndWait() override {
    ++stoppedAndWaited;
    gridConnectedAtStop = dbGrid_->Connected();
    Finish();
  }
  std::vector<QStringList> Cells() const override { return cells; }
  std::vector<int> ColumnWidths() const override { return widths; }
  int FontPointSize() const override { return 8; }
  void ClearCell(int r, int c) override { cells[r][c].clear(); }
  void ExportToFile(bool, int, const QString&, const QString&) override {}
  // Ends the run as the worker would: AfterExec, then the end on the main thread.
  void Finish(const QString& error = QString(), const QString& message = QString()) {
    if (!active_) return;
    active_ = false;
    if (AfterExec) AfterExec();
    if (OnThreadTerminate) OnThreadTerminate(error, message);
  }
  int executed = 0, stopped = 0, stoppedAndWaited = 0;
  bool gridConnectedAtStop = false;
  std::vector<QStringList> cells;
  std::vector<int> widths;

 private:
  TQorixDatabase* dbGrid_;
  QString sql_;
  bool active_ = false;
};

}  // namespace apptest
