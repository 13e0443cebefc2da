// The program's application object: an exception raised by an event's handler is shown (the
// silent abort is not) and delivery goes on; nothing ends the program.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>

#include "access/SysUtils.h"
#include "access/UiServices.h"
#include "app/TabulonApplication.h"

namespace {
// Raises what it is told to from its event handler.
class Thrower : public QObject {
 public:
  std::function<void()> raise;
  int delivered = 0;
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    ++delivered;
    raise();
    return true;
  }
};
}  // namespace

TEST(ApplicationTest, TitledTabulonWithNothingAddedToWindowCaptions) {
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Tabulon"));
  // A display name set on the application is what the X11 platform appends to every window
  // caption; an unset one follows the application's name, so renaming the application shows
  // whether one was set.
  QCoreApplication::setApplicationName(QStringLiteral("renamed"));
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("renamed"));
  QCoreApplication::setApplicationName(QStringLiteral("Tabulon"));
}

TEST(ApplicationTest, ExceptionsUnderEventsAreShownNotFatal) {
  ASSERT_NE(dynamic_cast<TTabulonApplication*>(QCoreApplication::instance()), nullptr);
  struct Case {
    const char* name;
    std::function<void()> raise;
    const char* shown;  // the start of the text shown, null for nothing
  };
  const Case cases[] = {
      {"suite exception", [] { throw Exception(QStringLiteral("Record changed by another user")); }, "Record changed"},
      {"standard exception", [] { throw std::runtime_error("bad alloc of a cell"); }, "bad alloc"},
      {"silent abort", [] { Abort(); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRecordingUiServices ui;
    Thrower t;
    t.raise = c.raise;
    // Sent directly and posted through the event loop alike.
    QEvent sent(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&t, &sent));
    QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(t.delivered, 2);
    const auto boxes = ui.Events(TRecordingUiServices::Event::kMessageBox);
    ASSERT_EQ(boxes.size(), c.shown ? 2u : 0u);
    for (const auto& b : boxes) EXPECT_TRUE(b.text.startsWith(QLatin1String(c.shown))) << b.text.toStdString();
  }
}
