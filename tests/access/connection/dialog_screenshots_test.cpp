// Pictures of the access layer's dialogs as the offscreen platform draws them (the login dialog
// with and without its server box, the password change form), written to the build folder's
// screenshots for a person to look at; the test checks only that each picture was written.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include "access/QorixPwdChg.h"
#include "access/QxPasswordDlg.h"
#include "access/QxPwdChgDialog.h"

namespace {

QString Shot(QWidget& widget, const QString& name) {
  QDir().mkpath(QStringLiteral(TABULON_SHOT_DIR));
  const QString path = QStringLiteral(TABULON_SHOT_DIR "/") + name + QStringLiteral(".png");
  widget.grab().save(path);
  return path;
}

TEST(DialogScreenshots, LoginDialogAndPasswordChange) {
  TQxLoginData data;
  data.UserName = QStringLiteral("sa");
  data.Password = QStringLiteral("secret");
  data.ServerName = QStringLiteral("DSQUERY");
  data.ServerList = QStringList{QStringLiteral("DSQUERY"), QStringLiteral("TABULON")};
  TQxLoginData noServer = data;
  noServer.ServerShow = false;
  TQorixPwdChgForm form;
  form.e_login_name = QStringLiteral("sa");
  TQxPasswordDlg login(data);
  TQxPasswordDlg loginWithoutServer(noServer);
  TQorixF_PasswordChange change(form);
  const struct {
    QWidget* widget;
    const char* name;
  } shots[] = {
      {&login, "access_login_dialog"},
      {&loginWithoutServer, "access_login_dialog_without_server"},
      {&change, "access_password_change"},
  };
  for (const auto& s : shots) {
    s.widget->show();
    const QImage image(Shot(*s.widget, QString::fromLatin1(s.name)));
    EXPECT_FALSE(image.isNull()) << s.name;
  }
}

}  // namespace
