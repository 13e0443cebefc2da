// The password change: the confirmation rule, what Execute reports (the sent password, whose
// login changed), the form widget staying open on an error, and the change end to end on the
// local server (skipped while the server has no sp_password and sp_addlogin).
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/QorixPwdChg.h"
#include "access/QxPwdChgDialog.h"
#include "access/UiServices.h"
#include "tests/access/connection/connection_support.h"
#include "tests/support/ct_client.h"

namespace {

const QString kNotConfirmed = QStringLiteral(
    "The new password was not correctly confirmed. Be sure that the confirmation password exactly matches "
    "the "
    "new password");

TEST(PasswordFormTest, ConfirmationMustMatchAfterTrimming) {
  TQorixPwdChgForm form;
  form.e_new_password = QStringLiteral("secret1");
  form.e_conf_password = QStringLiteral("secret2");
  try {
    form.OKBtnClick();
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), kNotConfirmed);
  }
  EXPECT_TRUE(form.SentNewPassword().isEmpty());
}

TEST(PasswordFormTest, FormCarriesTheFourStoredParameters) {
  TQorixPwdChgForm form;
  TQorixStoredProc& p = form.sproc();
  EXPECT_EQ(p.GetStoredProcName(), QStringLiteral("sp_password"));
  ASSERT_EQ(p.Params().Count(), 4);
  EXPECT_EQ(p.Params()[0].Name, QStringLiteral("caller_passwd"));
  EXPECT_EQ(p.Params()[1].Name, QStringLiteral("new_passwd"));
  EXPECT_EQ(p.Params()[2].Name, QStringLiteral("login_name"));
  EXPECT_EQ(p.Params()[3].Name, QStringLiteral("Result"));
  EXPECT_EQ(p.Params()[3].ParamType, ptResult);
}

TEST(PasswordDialogTest, CancelReturnsFalseAndKeepsNewPassword) {
  TQorixDatabase db;
  db.SetName(QStringLiteral("pwdb"));
  TQxPwdChgDialog dlg;
  dlg.SetDatabase(&db);
  QString caption;
  TPwdChgFormFunc previous = SetPasswordChangeForm([&](TQorixPwdChgForm& form) {
    caption = form.Caption;
    return false;
  });
  dlg.Title = QStringLiteral("Change it");
  EXPECT_FALSE(dlg.Execute());
  SetPasswordChangeForm(previous);
  EXPECT_EQ(caption, QStringLiteral("Change it"));
  EXPECT_TRUE(dlg.NewPassword().isEmpty());
}

TEST(PasswordDialogTest, WithoutDatabaseOrDbNameExecuteRaises) {
  TQxPwdChgDialog dlg;
  EXPECT_THROW(dlg.Execute(), EQxMissingException);
}

TEST(PasswordDialogTest, MismatchKeepsTheFormOpenWithTheMessageShown) {
  TRecordingUiServices ui;
  TQorixPwdChgForm form;
  TQorixF_PasswordChange widget(form);
  widget.findChild<QLineEdit*>(QStringLiteral("e_new_password"))->setText(QStringLiteral("abc"));
  widget.findChild<QLineEdit*>(QStringLiteral("e_conf_password"))->setText(QStringLiteral("abd"));
  widget.show();
  widget.findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
  EXPECT_TRUE(widget.isVisible());
  EXPECT_EQ(widget.result(), 0);
  const auto boxes = ui.Events(TRecordingUiServices::Event::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kNotConfirmed + u'.');
  EXPECT_EQ(widget.findChild<QLineEdit*>(QStringLiteral("e_new_password"))->echoMode(), QLineEdit::Password);
  EXPECT_EQ(widget.findChild<QLineEdit*>(QStringLiteral("e_login_name"))->echoMode(), QLineEdit::Normal);
}

TEST(PasswordChangeServerTest, ChangedPasswordLogsInAndTheOldOneIsRefused) {
  conntest::Server();
  tabtest::CtClient admin;
  ASSERT_TRUE(admin.connect());
  ASSERT_FALSE(admin.run("exec sp_addlogin 'pwchange1', 'oldpass1'").failed);

  auto db = conntest::SaDatabase(QStringLiteral("pwchg"));
  db->UserName = QStringLiteral("pwchange1");
  db->Password = QStringLiteral("oldpass1");
  db->Connect();
  TQxPwdChgDialog dlg;
  dlg.SetDatabase(db.get());
  SetPasswordChangeForm([](TQorixPwdChgForm& form) {
    form.e_curr_password = QStringLiteral("oldpass1");
    // A trailing blank on the new password only: both are trimmed before they are compared.
    form.e_new_password = QStringLiteral("newpass2 ");
    form.e_conf_password = QStringLiteral("newpass2");
    return form.OKBtnClick();
  });
  EXPECT_TRUE(dlg.Execute());
  SetPasswordChangeForm(nullptr);
  EXPECT_EQ(dlg.NewPassword(), QStringLiteral("newpass2"));
  EXPECT_TRUE(dlg.OwnLoginChanged());
  db->Disconnect();

  db->Password = dlg.NewPassword();
  EXPECT_NO_THROW(db->Connect());
  EXPECT_TRUE(db->Connected());
  db->Disconnect();
  db->Password = QStringLiteral("oldpass1");
  db->ConnectError = false;
  db->Connect();
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->LastServerMsg().msgnumber, 4002);
}

TEST(PasswordChangeServerTest, WrongCurrentPasswordKeepsTheFormOpen) {
  conntest::Server();
  auto db = conntest::SaDatabase(QStringLiteral("pwchg2"));
  db->Connect();
  TRecordingUiServices ui;
  TQorixPwdChgForm form;
  form.sproc().SetDatabase(db.get());
  form.sproc().SetShowDbMessages(TShowDbMessages{smDbErr});
  TQorixF_PasswordChange widget(form);
  widget.findChild<QLineEdit*>(QStringLiteral("e_curr_password"))
      ->setText(QStringLiteral("not-the-password"));
  widget.findChild<QLineEdit*>(QStringLiteral("e_new_password"))->setText(QStringLiteral("x1"));
  widget.findChild<QLineEdit*>(QStringLiteral("e_conf_password"))->setText(QStringLiteral("x1"));
  widget.show();
  widget.findChild<QPushButton*>(QStringLiteral("OKBtn"))->click();
  EXPECT_TRUE(widget.isVisible());
  EXPECT_TRUE(form.SentNewPassword().isEmpty());
  // sa keeps its empty password.
  tabtest::CtClient check;
  EXPECT_TRUE(check.connect());
}

TEST(PasswordChangeServerTest, AnotherLoginsChangeIsNotTheOwnLogin) {
  conntest::Server();
  tabtest::CtClient admin;
  ASSERT_TRUE(admin.connect());
  ASSERT_FALSE(admin.run("exec sp_addlogin 'pwchange3', 'first333'").failed);
  auto db = conntest::SaDatabase(QStringLiteral("pwchg3"));
  db->Connect();
  TQxPwdChgDialog dlg;
  dlg.SetDatabase(db.get());
  SetPasswordChangeForm([](TQorixPwdChgForm& form) {
    form.e_curr_password = QString();
    form.e_new_password = QStringLiteral("second33");
    form.e_conf_password = QStringLiteral("second33");
    form.e_login_name = QStringLiteral("pwchange3");
    return form.OKBtnClick();
  });
  EXPECT_TRUE(dlg.Execute());
  SetPasswordChangeForm(nullptr);
  EXPECT_FALSE(dlg.OwnLoginChanged());
  tabtest::CtClient other;
  EXPECT_TRUE(other.connect("DSQUERY", "pwchange3", "second33"));
}

}  // namespace
