// The login dialog: its state (caption, layout with and without the server box, the RDBMS
// choice, the focus rule, the answers) and the widget built from it on the offscreen platform.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "access/QxPasswordDlg.h"
#include "access/QxPasswordDlgState.h"
#include "tests/access/connection/connection_support.h"

namespace {

TQxLoginData Data() {
  TQxLoginData d;
  d.UserName = QStringLiteral("sa");
  d.Password = QStringLiteral("pw");
  d.ServerName = QStringLiteral("DSQUERY");
  d.Rdbms = QStringLiteral("Sybase SQL Server");
  d.ServerList = QStringList{QStringLiteral("TABULON"), QStringLiteral("DSQUERY")};
  return d;
}

TEST(LoginDialogStateTest, CaptionFollowsTheServer) {
  TQxLoginData d = Data();
  EXPECT_EQ(TQxPasswordDlgState(d).Caption, QStringLiteral("Login to DSQUERY"));
  d.ServerName.clear();
  TQxPasswordDlgState s(d);
  EXPECT_EQ(s.Caption, QStringLiteral("Login"));
  s.ServerTextChanged(QStringLiteral("TABULON"));
  EXPECT_EQ(s.Caption, QStringLiteral("Login to TABULON"));
  // Clearing the text keeps the last caption.
  s.ServerTextChanged(QString());
  EXPECT_EQ(s.Caption, QStringLiteral("Login to TABULON"));
}

TEST(LoginDialogStateTest, LayoutWithAndWithoutTheServerBox) {
  TQxPasswordDlgState full(Data());
  EXPECT_TRUE(full.ServerVisible);
  EXPECT_EQ(full.ClientWidth, 222);
  EXPECT_EQ(full.ClientHeight, 151);
  EXPECT_EQ(full.ServerTop, 10);
  EXPECT_EQ(full.UserNameTop, 36);
  EXPECT_EQ(full.PasswordTop, 62);
  EXPECT_EQ(full.RdbmsTop, 88);
  EXPECT_EQ(full.BevelHeight, 116);
  EXPECT_EQ(full.ButtonsTop, 120);

  TQxLoginData d = Data();
  d.ServerShow = false;
  TQxPasswordDlgState compact(d);
  EXPECT_FALSE(compact.ServerVisible);
  EXPECT_EQ(compact.FormHeight, 160);
  EXPECT_EQ(compact.UserNameTop, 10);
  EXPECT_EQ(compact.PasswordTop, 36);
  EXPECT_EQ(compact.RdbmsTop, 62);
  EXPECT_EQ(compact.UserNameLabelTop, 18);
  EXPECT_EQ(compact.PasswordLabelTop, 44);
  EXPECT_EQ(compact.RdbmsLabelTop, 70);
  EXPECT_EQ(compact.BevelHeight, 92);
  EXPECT_EQ(compact.ButtonsTop, 106);
}

TEST(LoginDialogStateTest, PromptAndShowSwitches) {
  TQxLoginData d = Data();
  d.ServerPrompt = false;
  d.RdbmsShow = false;
  d.RdbmsPrompt = false;
  TQxPasswordDlgState s(d);
  EXPECT_FALSE(s.ServerEnabled);
  EXPECT_TRUE(s.ServerVisible);
  EXPECT_FALSE(s.RdbmsVisible);
  EXPECT_FALSE(s.RdbmsEnabled);
}

TEST(LoginDialogStateTest, RdbmsSelectionAndAnswers) {
  TQxLoginData d = Data();
  EXPECT_EQ(TQxPasswordDlgState(d).RdbmsIndex, 0);
  d.Rdbms = QStringLiteral("SQLAnywhere");
  TQxPasswordDlgState s(d);
  EXPECT_EQ(s.RdbmsIndex, 1);
  EXPECT_EQ(s.ServerList, (QStringList{QStringLiteral("DSQUERY"), QStringLiteral("TABULON")}));
  s.UserName = QStringLiteral("bob");
  s.Password = QStringLiteral("new");
  s.ServerTextChanged(QStringLiteral("TABULON"));
  s.RdbmsIndex = 0;
  const TQxLoginData r = s.Result(d);
  EXPECT_EQ(r.UserName, QStringLiteral("bob"));
  EXPECT_EQ(r.Password, QStringLiteral("new"));
  EXPECT_EQ(r.ServerName, QStringLiteral("TABULON"));
  EXPECT_EQ(r.Rdbms, QStringLiteral("Sybase SQL Server"));
}

TEST(LoginDialogStateTest, FocusGoesToThePasswordOnceUserAndServerAreKnown) {
  struct Case {
    const char* name;
    QString user, server;
    bool serverShow;
    TQxPasswordDlgState::TFocus focus;
  };
  using F = TQxPasswordDlgState::TFocus;
  const Case cases[] = {
      {"both filled", QStringLiteral("sa"), QStringLiteral("DSQUERY"), true, F::Password},
      {"no user", QString(), QStringLiteral("DSQUERY"), true, F::Server},
      {"no server", QStringLiteral("sa"), QString(), true, F::Server},
      {"no server box", QString(), QStringLiteral("DSQUERY"), false, F::UserName},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TQxLoginData d = Data();
    d.UserName = c.user;
    d.ServerName = c.server;
    d.ServerShow = c.serverShow;
    EXPECT_EQ(TQxPasswordDlgState(d).InitialFocus(), c.focus);
  }
}

TEST(LoginDialogWidgetTest, ShowsTheStateAndReturnsTheAnswers) {
  TQxLoginData d = Data();
  d.ServerShow = false;
  TQxPasswordDlg dlg(d);
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Login to DSQUERY"));
  auto* server = dlg.findChild<QComboBox*>(QStringLiteral("server"));
  auto* user = dlg.findChild<QLineEdit*>(QStringLiteral("username"));
  auto* password = dlg.findChild<QLineEdit*>(QStringLiteral("Password"));
  ASSERT_TRUE(server && user && password);
  EXPECT_TRUE(server->isHidden());
  EXPECT_EQ(user->y(), 10);
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dlg.findChild<QPushButton*>(QStringLiteral("OKBtn"))->y(), 106);

  // Execute through the installed login function: the user edits the boxes and presses OK.
  InstallLoginDialog();
  QTimer::singleShot(0, [] {
    ASSERT_NE(QxPasswordDlg, nullptr);
    QxPasswordDlg->findChild<QLineEdit*>(QStringLiteral("Password"))->setText(QStringLiteral("typed"));
    QxPasswordDlg->findChild<QComboBox*>(QStringLiteral("server"))->setEditText(QStringLiteral("TABULON"));
    EXPECT_EQ(QxPasswordDlg->windowTitle(), QStringLiteral("Login to TABULON"));
    QxPasswordDlg->findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
  });
  TQxLoginData answer = Data();
  EXPECT_TRUE(TQxPasswordDlg::Execute(answer));
  EXPECT_EQ(answer.Password, QStringLiteral("typed"));
  EXPECT_EQ(answer.ServerName, QStringLiteral("TABULON"));
  EXPECT_EQ(QxPasswordDlg, nullptr);

  QTimer::singleShot(0, [] { QxPasswordDlg->findChild<QPushButton*>(QStringLiteral("CancelBtn"))->click(); });
  TQxLoginData cancelled = Data();
  EXPECT_FALSE(TQxPasswordDlg::Execute(cancelled));
  EXPECT_EQ(cancelled.Password, QStringLiteral("pw"));
  SetLoginDialog(nullptr);
}

TEST(LoginDialogWidgetTest, ConnectShowsTheDialogAndLogsInWithItsAnswers) {
  auto db = conntest::SaDatabase(QStringLiteral("dlgdb"));
  db->LoginPrompt = true;
  db->UserName = QStringLiteral("nobody");
  InstallLoginDialog();
  QString caption;
  QTimer::singleShot(0, [&] {
    ASSERT_NE(QxPasswordDlg, nullptr);
    caption = QxPasswordDlg->windowTitle();
    QxPasswordDlg->findChild<QLineEdit*>(QStringLiteral("username"))->setText(QStringLiteral("sa"));
    QxPasswordDlg->findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
  });
  db->Connect();
  SetLoginDialog(nullptr);
  EXPECT_EQ(caption, QStringLiteral("Login to DSQUERY"));
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(db->UserName, QStringLiteral("sa"));
}

}  // namespace
