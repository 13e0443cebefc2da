// The password change: TQorixPwdChgForm, the plain logic of the "Password Change Dialog" form
// (the four boxes, the confirmation check and "sp_password" through its stored-procedure
// engine), and TQxPwdChgDialog, the component that binds that form to a database and shows it.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "access/QorixBase.h"

class TQorixStoredProc;

// The form's state and its OK handler; the widget (QxPwdChgDialog.h) only shows the boxes.
class TQorixPwdChgForm : public TComponent {
 public:
  // Creates the "sp_password" engine with its four stored parameters.
  explicit TQorixPwdChgForm(TComponent* owner = nullptr);
  ~TQorixPwdChgForm() override;

  // The form's caption.
  QString Caption = QStringLiteral("Password Change Dialog");
  // The four boxes as typed.
  QString e_curr_password;
  QString e_new_password;
  QString e_conf_password;
  QString e_login_name;

  // The engine that runs "sp_password".
  TQorixStoredProc& sproc() const { return *sproc_; }

  // Runs the change: a confirmation that differs from the new password (both trimmed) raises
  // the database error and the form stays open; a server error raises too. True once the
  // server accepted the change (the form then closes with OK).
  bool OKBtnClick();
  // The new password as it was sent (trimmed); empty before a successful change.
  const QString& SentNewPassword() const { return sent_; }

 private:
  std::unique_ptr<TQorixStoredProc> sproc_;
  QString sent_;
};

// Shows Form modally; true when it closed with OK. The widget library installs the real one.
using TPwdChgFormFunc = std::function<bool(TQorixPwdChgForm& form)>;
// Installs the function Execute shows the form with; returns the previous.
TPwdChgFormFunc SetPasswordChangeForm(TPwdChgFormFunc show);

// The password-change component.
class TQxPwdChgDialog : public TQorixBase {
 public:
  explicit TQxPwdChgDialog(TComponent* owner = nullptr);

  // The form's caption.
  QString Title = QStringLiteral("Password Change Dialog");
  // The new password after a successful change: the text that was sent (trimmed).
  const QString& NewPassword() const { return newPassword_; }
  // True when the last successful change was for the connection's own login (blank login
  // name, or the connection's UserName): only then does the connection's Password change.
  bool OwnLoginChanged() const { return ownLogin_; }

  // Shows the form bound to Database; true when the password was changed.
  bool Execute();

 private:
  QString newPassword_;
  bool ownLogin_ = false;
};
