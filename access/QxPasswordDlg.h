// TQxPasswordDlg: the login dialog ("Login", server, login, password and RDBMS boxes, OK and
// Cancel), a thin Qt view of TQxPasswordDlgState. InstallLoginDialog makes Connect show it.
#pragma once

#include <QDialog>

#include "access/QxPasswordDlgState.h"

class QComboBox;
class QLineEdit;
class QLabel;
class QFrame;
class QPushButton;

// The login dialog widget.
class TQxPasswordDlg : public QDialog {
 public:
  // Builds the controls for Data, laid out as the state says.
  explicit TQxPasswordDlg(const TQxLoginData& data, QWidget* parent = nullptr);

  // The state the widget shows (updated from the boxes as the user types).
  const TQxPasswordDlgState& State() const { return state_; }
  // Shows the dialog modally on Data; true for OK, with the answers written into Data.
  static bool Execute(TQxLoginData& data);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TQxPasswordDlgState state_;
  QComboBox* server_ = nullptr;
  QLineEdit* username_ = nullptr;
  QLineEdit* password_ = nullptr;
  QComboBox* rdbms_ = nullptr;
};

// The dialog while it is shown, else null.
extern TQxPasswordDlg* QxPasswordDlg;

// Makes TQorixDatabase::Connect show TQxPasswordDlg for its login prompt.
void InstallLoginDialog();
