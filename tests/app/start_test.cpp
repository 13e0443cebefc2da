// The program's real start (StartMainWindow, what main() runs): the splash dialog and the
// maximised window, every stored setting written at quit and shown again at the next start,
// pane sizes kept when a session never showed them, and run options sent exactly as their
// buttons show them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QToolButton>
#include <mutex>

#include "access/QorixDatabase.h"
#include "access/ctlib/ctlib.h"
#include "app/StartUp.h"
#include "app/u_main.h"
#include "tests/app/app_support.h"

namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
  QDeadlineTimer until(ms);
  while (!done() && !until.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
  QApplication::processEvents();
  return done();
}

TStartOptions Options(const QString& ini, bool connect) {
  TStartOptions o;
  o.IniFile = ini;
  o.Connect = connect;
  if (connect) {
    o.HasServer = o.HasUser = true;
    o.ServerName = QStringLiteral("DSQUERY");
    o.UserName = QStringLiteral("sa");
  }
  return o;
}

// Starts the window as main() does and lets the start's queued last step run.
std::unique_ptr<Tf_main> Start(const TStartOptions& o) {
  apptest::Server();
  auto w = StartMainWindow(o);
  EXPECT_TRUE(WaitFor([&] { return w->Model().Restored() && (!o.Connect || w->Model().db().Connected()); }));
  return w;
}

// Presses the run-option buttons so that exactly the options in Down are down.
void SetButtons(Tf_main& w, const std::array<bool, kRunOptionCount>& down) {
  for (int i = 0; i < kRunOptionCount; ++i)
    if (w.RunOptionButton(i)->isChecked() != down[i]) w.RunOptionButton(i)->click();
}

std::array<bool, kRunOptionCount> Buttons(Tf_main& w) {
  std::array<bool, kRunOptionCount> out{};
  for (int i = 0; i < kRunOptionCount; ++i) out[i] = w.RunOptionButton(i)->isChecked();
  return out;
}

}  // namespace

TEST(StartTest, SplashMaximisedWindowAndFocus) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  apptest::Server();
  const TStartOptions o = Options(dir.filePath("Tabulon.ini"), true);
  auto w = StartMainWindow(o);
  // Before the event loop's first turn: the splash is up, 400 by 250, centred on the screen.
  QDialog* splash = w->SplashDialog();
  ASSERT_NE(splash, nullptr);
  EXPECT_TRUE(splash->isVisible());
  EXPECT_EQ(splash->size(), QSize(400, 250));
  EXPECT_EQ(splash->geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
  EXPECT_TRUE(w->windowState() & Qt::WindowMaximized);
  // Before any connection the left caption names the default database.
  EXPECT_EQ(w->findChild<QLabel*>("pan_left_top")->text(), QStringLiteral("   Database : master"));
  apptest::Shot(*splash, "start-splash");
  ASSERT_TRUE(WaitFor([&] { return w->Model().db().Connected(); }));
  // The activation took the splash down; connecting gave the SQL editor the focus.
  EXPECT_FALSE(splash->isVisible());
  EXPECT_EQ(w->focusWidget(), w->editor());
  // Every later activation takes it down too.
  splash->show();
  w->FormActivate();
  EXPECT_FALSE(splash->isVisible());
  apptest::Shot(*w, "start-maximised-connected");
  w->close();
}

TEST(StartTest, EveryStoredSettingComesBackAtTheNextStart) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  const QString ini = dir.filePath("Tabulon.ini");
  const std::array<bool, kRunOptionCount> first{true, false, true, false, true, false, true};
  const std::array<bool, kRunOptionCount> second{false, true, false, true, false, true, false};
  QFont sqlFont(QStringLiteral("DejaVu Sans Mono"), 13);
  QFont ddlFont(QStringLiteral("DejaVu Sans Mono"), 11, QFont::Bold);

  // Session 1, connected: every stored property is given a value other than its default.
  {
    auto w = Start(Options(ini, true));
    ASSERT_TRUE(w->Model().db().Connected());
    w->spl_main()->setSizes({313, w->spl_main()->width() - 313});

    w->spl_sql()->setSizes({222, w->spl_sql()->height() - 222});
    QApplication::processEvents();
    ASSERT_EQ(w->editor()->height(), 222);
    for (const char* a : {"a_options_word_wrap", "a_options_wrap_to_window", "a_options_create_backup"})
      w->Action(a)->trigger();
    w->editor()->setFont(sqlFont);
    w->text_editor()->setFont(ddlFont);
    SetButtons(*w, first);
    w->Model().db().Rdbms = QStringLiteral("SQLAnywhere");
    w->Model().db().ServerName = QStringLiteral("OTHER_SERVER");
    w->Model().db().UserName = QStringLiteral("alice");
    w->close();
  }
  const char* const buttonKeys[kRunOptionCount] = {
      "btn_run_opt_show_plan", "btn_run_opt_check_syntax", "btn_run_opt_force_plan", "btn_run_opt_stats_io",
      "btn_run_opt_stats_time", "btn_run_opt_non_ansi", "btn_run_opt_no_exec"};
  auto checkFile = [&](const std::array<bool, kRunOptionCount>& buttons) {
    QSettings s(ini, QSettings::IniFormat);
    s.beginGroup(QStringLiteral("Tf_main"));
    const std::pair<const char*, QVariant> expected[] = {
        {"db.Rdbms", "SQLAnywhere"},         {"db.ServerName", "OTHER_SERVER"},  {"db.UserName", "alice"},
        {"spl_main.Position", 313},          {"editor.Height", 222},             {"editor.WordWrap", true},
        {"Wordwrap.Checked", true},          {"editor.WrapToWindow", true},      {"editor.MakeBackup", true},
        {"WraptoWindow.Checked", true},      {"CreatebackupFile.Checked", true}, {"editor.FixedFont", sqlFont.toString()},
        {"text_editor.FixedFont", ddlFont.toString()}};
    for (const auto& [key, value] : expected) EXPECT_EQ(s.value(key).toString(), value.toString()) << key;
    for (int i = 0; i < kRunOptionCount; ++i)
      EXPECT_EQ(s.value(QString::fromLatin1(buttonKeys[i]) + ".Down").toBool(), buttons[i]) << buttonKeys[i];
    EXPECT_EQ(s.childKeys().size(), 20) << s.childKeys().join(' ').toStdString();
  };
  checkFile(first);

  // Session 2, never connected: everything shows as stored; quitting keeps the sizes of the
  // panes it never showed.
  {
    auto w = Start(Options(ini, false));
    TMainModel& m = w->Model();
    EXPECT_EQ(m.db().Rdbms, QStringLiteral("SQLAnywhere"));
    EXPECT_EQ(m.db().ServerName, QStringLiteral("OTHER_SERVER"));
    EXPECT_EQ(m.db().UserName, QStringLiteral("alice"));
    EXPECT_EQ(w->spl_main()->sizes().value(0), 313);
    for (const char* a : {"a_options_word_wrap", "a_options_wrap_to_window", "a_options_create_backup"})
      EXPECT_TRUE(w->Action(a)->isChecked()) << a;
    EXPECT_EQ(w->editor()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(w->editor()->font().toString(), sqlFont.toString());
    EXPECT_EQ(w->text_editor()->font().toString(), ddlFont.toString());
    EXPECT_EQ(Buttons(*w), first);
    SetButtons(*w, second);
    w->close();
  }
  checkFile(second);

  // Session 3: the SQL page shows the editor at its stored height once connected.
  {
    auto w = Start(Options(ini, true));
    ASSERT_TRUE(w->Model().db().Connected());
    EXPECT_EQ(w->editor()->height(), 222);
    EXPECT_EQ(Buttons(*w), second);
    w->close();
  }
}

namespace {
// Records the server options sent (option code, value) and passes every call on.
class OptionRecorder : public ctlib::Library {
 public:
  OptionRecorder() : previous_(ctlib::SetCurrent(this)) {}
  ~OptionRecorder() override { ctlib::SetCurrent(previous_); }
  CS_RETCODE ct_options(CS_CONNECTION* con, CS_INT action, CS_INT option, CS_VOID* param, CS_INT paramlen,
                        CS_INT* outlen) override {
    if (action == CS_SET && param) {
      std::lock_guard lock(mutex_);
      sent.emplace_back(option, *static_cast<CS_BOOL*>(param) == CS_TRUE);
    }
    return Library::ct_options(con, action, option, param, paramlen, outlen);
  }
  std::vector<std::pair<CS_INT, bool>> Sent() {
    std::lock_guard lock(mutex_);
    return sent;
  }

 private:
  ctlib::Library* previous_;
  std::mutex mutex_;
  std::vector<std::pair<CS_INT, bool>> sent;
};
}  // namespace

TEST(StartTest, RunOptionsSentAreWhatTheButtonsShow) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  const QString ini = dir.filePath("Tabulon.ini");
  {
    // Stored by an earlier session: show plan and statistics I/O down.
    QSettings s(ini, QSettings::IniFormat);
    s.setValue("Tf_main/btn_run_opt_show_plan.Down", true);
    s.setValue("Tf_main/btn_run_opt_stats_io.Down", true);
  }
  OptionRecorder recorder;
  auto w = Start(Options(ini, true));
  ASSERT_TRUE(w->Model().db_grid().Connected());
  // The option code each button drives, in TRunOption order.
  const CS_INT codes[kRunOptionCount] = {5013, 5018, 5023, 5004, 5003, 5027, 5014};
  std::map<CS_INT, bool> onServer;  // the connection starts with every option off
  const std::array<bool, kRunOptionCount> rounds[] = {
      {true, false, false, true, false, false, false},  // as restored, untouched
      {false, false, false, false, false, false, false},
      {true, true, true, true, true, true, true},
      {false, true, false, false, true, false, false},
  };
  for (size_t r = 0; r < std::size(rounds); ++r) {
    SCOPED_TRACE(r);
    if (r > 0) SetButtons(*w, rounds[r]);
    EXPECT_EQ(Buttons(*w), rounds[r]);
    const size_t before = recorder.Sent().size();
    w->editor()->setPlainText(QStringLiteral("select 1"));
    w->Action("a_sql_run")->trigger();
    ASSERT_TRUE(WaitFor([&] { return !w->Model().Grid()->Active(); }));
    const auto sent = recorder.Sent();
    int showPlanAt = -1, noExecAt = -1;
    for (size_t i = before; i < sent.size(); ++i) {
      onServer[sent[i].first] = sent[i].second;
      if (sent[i].first == 5013) showPlanAt = int(i);
      if (sent[i].first == 5014) noExecAt = int(i);
    }
    for (int i = 0; i < kRunOptionCount; ++i) EXPECT_EQ(onServer[codes[i]], rounds[r][i]) << "option " << codes[i];
    // Show plan reaches the server before no exec.
    if (showPlanAt >= 0 && noExecAt >= 0) EXPECT_LT(showPlanAt, noExecAt);
  }
  w->close();
}
