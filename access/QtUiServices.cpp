// Message boxes owned by the active window, the message window shown modally, the cursor.

#include "access/QtUiServices.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>

#include "access/u_Qorix_Message.h"

void TQtUiServices::MessageBox(const QString& text, const QString& caption, TMsgBoxIcon icon) {
  if (!IsGuiThread()) return;
  QMessageBox::Icon qicon = QMessageBox::NoIcon;
  switch (icon) {
    case TMsgBoxIcon::Information:
      qicon = QMessageBox::Information;
      break;
    case TMsgBoxIcon::Warning:
      qicon = QMessageBox::Warning;
      break;
    case TMsgBoxIcon::Stop:
      qicon = QMessageBox::Critical;
      break;
    case TMsgBoxIcon::Question:
      qicon = QMessageBox::Question;
      break;
    case TMsgBoxIcon::None:
      break;
  }
  QMessageBox box(qicon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

void TQtUiServices::Beep() {
  if (IsGuiThread()) QApplication::beep();
}

void TQtUiServices::ShowQorixMessage(const QString& caption, const QString& text, TColor panelColor) {
  if (!IsGuiThread()) return;
  Tf_qorix_message form(QApplication::activeWindow());
  form.setWindowTitle(caption);
  form.SetText(text);
  form.SetPanelColor(panelColor);
  form.exec();
}

void TQtUiServices::SetScreenCursor(TCursor cursor) {
  if (!IsGuiThread()) return;
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  switch (cursor) {
    case crDefault:
      break;
    case crArrow:
      QApplication::setOverrideCursor(Qt::ArrowCursor);
      break;
    case crHourGlass:
      QApplication::setOverrideCursor(Qt::WaitCursor);
      break;
    case crSQLWait:
      QApplication::setOverrideCursor(Qt::BusyCursor);
      break;
  }
}
