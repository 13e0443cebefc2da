// The login dialog's plain state: caption, which boxes show and where they sit, the initial
// focus and the answers, computed from a connection's login data. TQxPasswordDlg
// (QxPasswordDlg.h) only shows it; tests drive it headless.
#pragma once

#include <QString>
#include <QStringList>

#include "access/QorixDatabase.h"

// The login dialog's state.
class TQxPasswordDlgState {
 public:
  // The controls that can take the focus first.
  enum class TFocus { Server, UserName, Password };

  // Lays the dialog out for Data (the connection's LoginData()).
  explicit TQxPasswordDlgState(const TQxLoginData& data);

  // "Login", or "Login to " + the server name.
  QString Caption;
  // The client area (222 by 151; 160 high as a form without the server box).
  int ClientWidth = 222;
  int ClientHeight = 151;
  // The form's outer height when the server box is hidden (0: the client area decides).
  int FormHeight = 0;
  // The server combo: shown, enabled, top; its label's top.
  bool ServerVisible = true;
  bool ServerEnabled = true;
  int ServerTop = 10;
  int ServerLabelTop = 18;
  // The user name and password edits and their labels.
  int UserNameTop = 36;
  int UserNameLabelTop = 44;
  int PasswordTop = 62;
  int PasswordLabelTop = 70;
  // The list-only RDBMS combo and its label.
  bool RdbmsVisible = true;
  bool RdbmsEnabled = true;
  int RdbmsTop = 88;
  int RdbmsLabelTop = 96;
  // The bevel around the fields and the two buttons' top.
  int BevelHeight = 116;
  int ButtonsTop = 120;

  // The texts the boxes hold.
  QString UserName;
  QString Password;
  QString ServerName;
  // The server names the combo lists, sorted.
  QStringList ServerList;
  // The RDBMS items and the selected one (1 for "SQLAnywhere", else 0).
  QStringList RdbmsItems{QStringLiteral("Sybase SQL Server"), QStringLiteral("SQLAnywhere")};
  int RdbmsIndex = 0;

  // The server text changed: a non-empty text becomes the caption's server.
  void ServerTextChanged(const QString& text);
  // Where the focus goes when the dialog is activated: the password once user and server are
  // filled in, else the first box that takes input.
  TFocus InitialFocus() const;
  // The answers as the connection takes them back.
  TQxLoginData Result(const TQxLoginData& original) const;
};
