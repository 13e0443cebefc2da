// The application object (see TabulonApplication.h).
#include "app/TabulonApplication.h"

#include "access/UiServices.h"

TTabulonApplication::TTabulonApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Tabulon"));
  setApplicationDisplayName(QStringLiteral("Tabulon"));
}

bool TTabulonApplication::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  GuardedCall([&] { handled = QApplication::notify(receiver, event); });
  return handled;
}
