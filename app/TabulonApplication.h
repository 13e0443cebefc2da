// TTabulonApplication: the program's application object. Every event it delivers runs through
// the suite's exception guard, so an exception raised under any Qt event (a view's row change,
// a timer, a key press) is shown as the class library's default handler would show it, or
// ignored when it is the silent abort, and never ends the program.
#pragma once

#include <QApplication>

class TTabulonApplication : public QApplication {
 public:
  TTabulonApplication(int& argc, char** argv);
  // Delivers Event through the guard; false when its handler raised.
  bool notify(QObject* receiver, QEvent* event) override;
};
