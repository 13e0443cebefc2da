// The Qt implementation of the user-interface services: real message boxes, the beep, the
// Tf_qorix_message window and the override cursor. The program installs it at start-up.
#pragma once

#include "access/UiServices.h"

// Shows real widgets; calls from threads other than the GUI thread show nothing.
class TQtUiServices : public TUiServices {
 public:
  void MessageBox(const QString& text, const QString& caption, TMsgBoxIcon icon) override;
  void Beep() override;
  void ShowQorixMessage(const QString& caption, const QString& text, TColor panelColor) override;
  void SetScreenCursor(TCursor cursor) override;
};
