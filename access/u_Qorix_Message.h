// Tf_qorix_message: the "CT-Library error" / "CT-Library message" window the diagnostics
// routine shows: a tool bar (copy, select all, print), the text box and an OK button on a
// bottom panel whose colour tells errors from messages.
#pragma once

#include <QDialog>

#include "access/UiServices.h"

class QFrame;
class QPushButton;
class QTextEdit;
class QToolButton;

// The message window form.
class Tf_qorix_message : public QDialog {
 public:
  // Builds the form: dialog border, client area 393 by 252, caption "CT-Library message".
  explicit Tf_qorix_message(QWidget* parent = nullptr);

  // Puts Text into the text box.
  void SetText(const QString& text);
  // Colours the bottom panel (clBtnFace for messages, the dark red for errors).
  void SetPanelColor(TColor color);
  // The title printed documents carry.
  static QString DocumentTitle() { return QStringLiteral("Morvane - CT-Library message"); }
  // Prints the text to the default printer under DocumentTitle.
  void Print();

  QToolButton* btn_copy;
  QToolButton* btn_selectall;
  QToolButton* btn_print;
  QTextEdit* m_message;
  QFrame* pn_bottom;
  QPushButton* btn_close;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Closes the form when it loses activation, as the original window did.
  void changeEvent(QEvent* event) override;
};

// The Qt colour of a class-library colour (system colours from the application palette).
QColor ToQColor(TColor color);
