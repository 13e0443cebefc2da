// The login dialog's widgets: absolute positions as the state gives them, bold labels, the
// caption following the server text and the focus rule on activation.

#include "access/QxPasswordDlg.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

TQxPasswordDlg* QxPasswordDlg = nullptr;

namespace {

QLabel* BoldLabel(const QString& text, QWidget* buddy, int top, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  label->setBuddy(buddy);
  label->move(12, top);
  return label;
}

}  // namespace

TQxPasswordDlg::TQxPasswordDlg(const TQxLoginData& data, QWidget* parent) : QDialog(parent), state_(data) {
  setObjectName(QStringLiteral("QxPasswordDlg"));
  setWindowTitle(state_.Caption);
  setFixedSize(state_.ClientWidth, state_.ClientHeight);
  // The fixed client area was laid out for an 8-point form font: at the platform's larger
  // default, "Sybase SQL Server" would not fit its box.
  QFont formFont = font();
  formFont.setPointSizeF(8);
  setFont(formFont);

  // The boxes start after the widest bold label and run to the bevel's right edge.
  QFont bold = formFont;
  bold.setBold(true);
  const QFontMetrics boldMetrics(bold);
  int labelWidth = 0;
  for (const char* l : {"Server", "Login", "Password", "Rdbms"})
    labelWidth = std::max(labelWidth, boldMetrics.horizontalAdvance(QString::fromLatin1(l)));
  const int left = std::min(12 + labelWidth + 6, 88);
  const int width = state_.ClientWidth - 10 - left;

  auto* bevel = new QFrame(this);
  bevel->setObjectName(QStringLiteral("Bevel1"));
  bevel->setFrameShape(QFrame::Box);
  bevel->setGeometry(4, 4, state_.ClientWidth - 8, state_.BevelHeight);

  server_ = new QComboBox(this);
  server_->setObjectName(QStringLiteral("server"));
  server_->setEditable(true);
  server_->addItems(state_.ServerList);
  server_->setEditText(state_.ServerName);
  server_->setGeometry(left, state_.ServerTop, width, 21);
  server_->setEnabled(state_.ServerEnabled);
  QLabel* serverLabel = BoldLabel(QStringLiteral("&Server"), server_, state_.ServerLabelTop - 8, this);
  server_->setVisible(state_.ServerVisible);
  serverLabel->setVisible(state_.ServerVisible);

  username_ = new QLineEdit(state_.UserName, this);
  username_->setObjectName(QStringLiteral("username"));
  username_->setGeometry(left, state_.UserNameTop, width, 21);
  BoldLabel(QStringLiteral("&Login"), username_, state_.UserNameLabelTop - 8, this);

  password_ = new QLineEdit(state_.Password, this);
  password_->setObjectName(QStringLiteral("Password"));
  password_->setEchoMode(QLineEdit::Password);
  password_->setGeometry(left, state_.PasswordTop, width, 21);
  BoldLabel(QStringLiteral("&Password"), password_, state_.PasswordLabelTop - 8, this);

  rdbms_ = new QComboBox(this);
  rdbms_->setObjectName(QStringLiteral("rdbms"));
  rdbms_->addItems(state_.RdbmsItems);
  rdbms_->setCurrentIndex(state_.RdbmsIndex);
  rdbms_->setGeometry(left, state_.RdbmsTop, width, 21);
  rdbms_->setEnabled(state_.RdbmsEnabled);
  QLabel* rdbmsLabel = BoldLabel(QStringLiteral("&Rdbms"), rdbms_, state_.RdbmsLabelTop - 8, this);
  rdbms_->setVisible(state_.RdbmsVisible);
  rdbmsLabel->setVisible(state_.RdbmsVisible);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKBtn"));
  ok->setDefault(true);
  ok->setGeometry(62, state_.ButtonsTop, 75, 25);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("CancelBtn"));
  cancel->setGeometry(141, state_.ButtonsTop, 75, 25);

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(server_, &QComboBox::editTextChanged, this, [this](const QString& text) {
    state_.ServerTextChanged(text);
    setWindowTitle(state_.Caption);
  });
  connect(username_, &QLineEdit::textChanged, this, [this](const QString& t) { state_.UserName = t; });
  connect(password_, &QLineEdit::textChanged, this, [this](const QString& t) { state_.Password = t; });
  connect(rdbms_, &QComboBox::currentIndexChanged, this, [this](int i) { state_.RdbmsIndex = i; });
}

void TQxPasswordDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  switch (state_.InitialFocus()) {
    case TQxPasswordDlgState::TFocus::Password:
      password_->setFocus();
      break;
    case TQxPasswordDlgState::TFocus::Server:
      server_->setFocus();
      break;
    case TQxPasswordDlgState::TFocus::UserName:
      username_->setFocus();
      break;
  }
}

bool TQxPasswordDlg::Execute(TQxLoginData& data) {
  TQxPasswordDlg dlg(data);
  QxPasswordDlg = &dlg;
  // The result is read before the dialog goes away.
  const bool ok = dlg.exec() == QDialog::Accepted;
  QxPasswordDlg = nullptr;
  if (ok) data = dlg.State().Result(data);
  return ok;
}

void InstallLoginDialog() {
  SetLoginDialog([](TQxLoginData& data) { return TQxPasswordDlg::Execute(data); });
}
