// The login dialog's layout rules, caption and focus rule.

#include "access/QxPasswordDlgState.h"

TQxPasswordDlgState::TQxPasswordDlgState(const TQxLoginData& data) {
  Caption =
      data.ServerName.isEmpty() ? QStringLiteral("Login") : QStringLiteral("Login to ") + data.ServerName;
  ServerEnabled = data.ServerPrompt;
  RdbmsVisible = data.RdbmsShow;
  RdbmsEnabled = data.RdbmsPrompt;
  if (!data.ServerShow) {
    // Without the server box everything moves up one row.
    ServerVisible = false;
    UserNameTop = 10;
    PasswordTop = 36;
    RdbmsTop = 62;
    UserNameLabelTop = 18;
    PasswordLabelTop = 44;
    RdbmsLabelTop = 70;
    BevelHeight = 92;
    FormHeight = 160;
    ButtonsTop = 106;
    ClientHeight = 136;
  }
  UserName = data.UserName;
  Password = data.Password;
  ServerName = data.ServerName;
  ServerList = data.ServerList;
  ServerList.sort();
  RdbmsIndex = data.Rdbms == QStringLiteral("SQLAnywhere") ? 1 : 0;
}

void TQxPasswordDlgState::ServerTextChanged(const QString& text) {
  ServerName = text;
  if (!text.isEmpty()) Caption = QStringLiteral("Login to ") + text;
}

TQxPasswordDlgState::TFocus TQxPasswordDlgState::InitialFocus() const {
  if (!UserName.isEmpty() && !ServerName.isEmpty()) return TFocus::Password;
  if (ServerVisible && ServerEnabled) return TFocus::Server;
  return TFocus::UserName;
}

TQxLoginData TQxPasswordDlgState::Result(const TQxLoginData& original) const {
  TQxLoginData d = original;
  d.UserName = UserName;
  d.Password = Password;
  d.ServerName = ServerName;
  d.Rdbms = RdbmsItems.value(RdbmsIndex, RdbmsItems.front());
  return d;
}
