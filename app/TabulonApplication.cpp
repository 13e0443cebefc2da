// The application object (see TabulonApplication.h).
#include "app/TabulonApplication.h"

#include "access/UiServices.h"

TTabulonApplication::TTabulonApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The application's title. No display name is set: the X11 platform would append one to
  // every window caption ("Qorix Tabulon - not connected - Tabulon"), and the captions are
  // the window's own texts.
  setApplicationName(QStringLiteral("Tabulon"));
}

bool TTabulonApplication::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  GuardedCall([&] { handled = QApplication::notify(receiver, event); });
  return handled;
}
