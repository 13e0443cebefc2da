// TQorixF_PasswordChange: the "Password Change Dialog" form, a thin Qt view of
// TQorixPwdChgForm (current, new and confirmed password, login name, OK and Cancel).
#pragma once

#include <QDialog>

#include "access/QorixPwdChg.h"

class QLineEdit;

// The password-change form widget.
class TQorixF_PasswordChange : public QDialog {
 public:
  // Builds the boxes over Form, captioned with its Caption.
  explicit TQorixF_PasswordChange(TQorixPwdChgForm& form, QWidget* parent = nullptr);

  // OK: copies the boxes into the form and runs the change; an error keeps the dialog open.
  void OKBtnClick();

 private:
  TQorixPwdChgForm& form_;
  QLineEdit* curr_ = nullptr;
  QLineEdit* new_ = nullptr;
  QLineEdit* conf_ = nullptr;
  QLineEdit* login_ = nullptr;
};

// Makes TQxPwdChgDialog::Execute show TQorixF_PasswordChange.
void InstallPasswordChangeForm();
