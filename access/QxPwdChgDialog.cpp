// The password-change form's widgets and its OK button, run through the exception guard so
// a mismatch or a server error is shown and the form stays open.

#include "access/QxPwdChgDialog.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "access/UiServices.h"

TQorixF_PasswordChange::TQorixF_PasswordChange(TQorixPwdChgForm& form, QWidget* parent)
    : QDialog(parent), form_(form) {
  setObjectName(QStringLiteral("QorixF_PasswordChange"));
  setWindowTitle(form_.Caption);
  setFixedSize(222, 151);
  auto* bevel = new QFrame(this);
  bevel->setFrameShape(QFrame::Box);
  bevel->setGeometry(4, 4, 214, 112);
  auto edit = [this](const char* name, const QString& label, int top, bool secret) {
    auto* l = new QLabel(label, this);
    l->move(10, top + 3);
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(112, top, 100, 21);
    if (secret) e->setEchoMode(QLineEdit::Password);
    l->setBuddy(e);
    return e;
  };
  curr_ = edit("e_curr_password", QStringLiteral("Current password:"), 10, true);
  new_ = edit("e_new_password", QStringLiteral("New password:"), 36, true);
  conf_ = edit("e_conf_password", QStringLiteral("Confirm password:"), 62, true);
  login_ = edit("e_login_name", QStringLiteral("Login name:"), 88, false);
  curr_->setText(form_.e_curr_password);
  new_->setText(form_.e_new_password);
  conf_->setText(form_.e_conf_password);
  login_->setText(form_.e_login_name);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKBtn"));
  ok->setDefault(true);
  ok->setGeometry(62, 120, 75, 25);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("CancelBtn"));
  cancel->setGeometry(141, 120, 75, 25);
  connect(ok, &QPushButton::clicked, this, &TQorixF_PasswordChange::OKBtnClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TQorixF_PasswordChange::OKBtnClick() {
  form_.e_curr_password = curr_->text();
  form_.e_new_password = new_->text();
  form_.e_conf_password = conf_->text();
  form_.e_login_name = login_->text();
  GuardedCall([this] {
    if (form_.OKBtnClick()) accept();
  });
}

void InstallPasswordChangeForm() {
  SetPasswordChangeForm([](TQorixPwdChgForm& form) {
    TQorixF_PasswordChange dlg(form);
    return dlg.exec() == QDialog::Accepted;
  });
}
