// The password-change form's widgets and its OK button, run through the exception guard so
// a mismatch or a server error is shown and the form stays open.

#include "access/QxPwdChgDialog.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "access/UiServices.h"

TQorixF_PasswordChange::TQorixF_PasswordChange(TQorixPwdChgForm& form, QWidget* parent)
    : QDialog(parent), form_(form) {
  setObjectName(QStringLiteral("QorixF_PasswordChange"));
  setWindowTitle(form_.Caption);
  setFixedSize(222, 151);
  // The fixed client area was laid out for an 8-point form font (as the login dialog's).
  QFont formFont = font();
  formFont.setPointSizeF(8);
  setFont(formFont);
  auto* bevel = new QFrame(this);
  bevel->setFrameShape(QFrame::Box);
  bevel->setGeometry(4, 4, 214, 112);
  const QString labels[] = {QStringLiteral("Current password:"), QStringLiteral("New password:"),
                            QStringLiteral("Confirm password:"), QStringLiteral("Login name:")};
  // The boxes start after the widest label, so no label runs under its box whatever the font.
  int labelWidth = 0;
  for (const QString& l : labels) labelWidth = std::max(labelWidth, fontMetrics().horizontalAdvance(l));
  const int editLeft = std::min(10 + labelWidth + 6, 140);
  auto edit = [&](const char* name, const QString& label, int top, bool secret) {
    auto* l = new QLabel(label, this);
    l->move(10, top + 3);
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(editLeft, top, 212 - editLeft, 21);
    if (secret) e->setEchoMode(QLineEdit::Password);
    l->setBuddy(e);
    return e;
  };
  curr_ = edit("e_curr_password", labels[0], 10, true);
  new_ = edit("e_new_password", labels[1], 36, true);
  conf_ = edit("e_conf_password", labels[2], 62, true);
  login_ = edit("e_login_name", labels[3], 88, false);
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
