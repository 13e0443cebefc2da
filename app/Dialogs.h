// The smaller windows as thin views over their state classes: Tf_export, Tf_results_info,
// Tf_sybinfo, the about box TAboutBox, the SQL open dialog TStOpenDialog and the scratch pad.
#pragma once

#include <QDialog>
#include <QPixmap>

#include "app/DialogStates.h"
#include "app/SystemInfo.h"

class QLineEdit;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QComboBox;
class QRadioButton;
class QAbstractButton;
class QTreeWidget;

// "Export": format and range buttons, the delimiter edit; State() holds the answer.
class Tf_export : public QDialog {
 public:
  explicit Tf_export(QWidget* parent = nullptr);
  TExportState& State() { return state_; }
  QRadioButton* FormatButton(int format) const { return formats_[format]; }
  QLineEdit* DelimiterEdit() const { return e_char_; }

 private:
  void Sync();
  TExportState state_;
  QRadioButton* formats_[5] = {};
  QRadioButton* chk_selected_ = nullptr;
  QLineEdit* e_char_ = nullptr;
  QLabel* delimLabel_ = nullptr;
};

// The splash dialog shown while the program starts: 400 by 250, the program's name and version.
class TSplashDialog : public QDialog {
 public:
  explicit TSplashDialog(QWidget* parent = nullptr);
};

// "Results Information".
class Tf_results_info : public QDialog {
 public:
  explicit Tf_results_info(const TResultsInfo& info, QWidget* parent = nullptr);
};

// "Sybase Info for " + server.
class Tf_sybinfo : public QDialog {
 public:
  explicit Tf_sybinfo(const TSybInfo& info, QWidget* parent = nullptr);
};

// The program's logo, Size pixels square.
QPixmap LogoPixmap(int size);

// "About Qorix Tabulon" with the system information.
class TAboutBox : public QDialog {
 public:
  explicit TAboutBox(const TSystemInfo& info, QWidget* parent = nullptr);
};

// "Open": folder list, file name, type and preview over TOpenDialogState.
class TStOpenDialog : public QDialog {
 public:
  explicit TStOpenDialog(const QString& folder = QString(), QWidget* parent = nullptr);
  TOpenDialogState& State() { return state_; }
  // Refills the list from the state.
  void Reload();
  QListWidget* List() const { return lv_files_; }
  QLineEdit* FileNameEd() const { return fileNameEd_; }
  QPlainTextEdit* Preview() const { return preview_; }
  // The folder combo ("Look in:"), the details list and the four buttons.
  QComboBox* FolderCombo() const { return folderCb_; }
  QTreeWidget* DetailsList() const { return lv_details_; }
  QAbstractButton* Button(const QString& name) const;
  // "&Open" pressed.
  void OpenClick();
  // An entry of the list was selected.
  void ItemSelected(const QString& name);

 protected:
  // Each showing applies the selected file type and reads the folder again, so files made or
  // removed since the last Open are listed as they are now.
  void showEvent(QShowEvent* event) override;

 private:
  TOpenDialogState state_;
  QComboBox* folderCb_ = nullptr;
  QListWidget* lv_files_ = nullptr;
  QTreeWidget* lv_details_ = nullptr;
  QLineEdit* fileNameEd_ = nullptr;
  QComboBox* typeCb_ = nullptr;
  QPlainTextEdit* preview_ = nullptr;
};

// "Qorix Tabulon scratch pad": a word-wrapping memo.
class TScratchPadDlg : public QDialog {
 public:
  explicit TScratchPadDlg(QWidget* parent = nullptr);
};

// "Qorix Tabulon": a calculator over TCalculatorState.
class TCalculatorDlg : public QDialog {
 public:
  explicit TCalculatorDlg(QWidget* parent = nullptr);
  TCalculatorState& State() { return state_; }
  // Presses a key and shows the display.
  void Press(const QString& key);

 private:
  TCalculatorState state_;
  QLineEdit* display_ = nullptr;
};
