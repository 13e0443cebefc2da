// The silent default services, the cursor stack and the recording services for tests.

#include "access/UiServices.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>

#include "access/SysUtils.h"

namespace {

// Used until the program installs its own: shows nothing, so headless code never blocks.
class TSilentUiServices : public TUiServices {
 public:
  void MessageBox(const QString&, const QString&, TMsgBoxIcon) override {}
  void Beep() override {}
  void ShowQorixMessage(const QString&, const QString&, TColor) override {}
  void SetScreenCursor(TCursor) override {}
};

TSilentUiServices g_silent;
std::atomic<TUiServices*> g_services{nullptr};

std::mutex g_cursorMutex;
std::vector<TCursor> g_cursorStack;

}  // namespace

bool TUiServices::IsGuiThread() const {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

TUiServices& UiServices() {
  TUiServices* s = g_services.load(std::memory_order_acquire);
  return s ? *s : g_silent;
}

TUiServices* SetUiServices(TUiServices* services) {
  return g_services.exchange(services, std::memory_order_acq_rel);
}

TCursorGuard::TCursorGuard(TCursor cursor, bool enabled) {
  if (!enabled || !UiServices().IsGuiThread()) return;
  {
    std::lock_guard lock(g_cursorMutex);
    g_cursorStack.push_back(cursor);
  }
  pushed_ = true;
  UiServices().SetScreenCursor(cursor);
}

TCursorGuard::~TCursorGuard() {
  if (!pushed_) return;
  TCursor restore;
  {
    std::lock_guard lock(g_cursorMutex);
    g_cursorStack.pop_back();
    restore = g_cursorStack.empty() ? crDefault : g_cursorStack.back();
  }
  UiServices().SetScreenCursor(restore);
}

TCursor ScreenCursor() {
  std::lock_guard lock(g_cursorMutex);
  return g_cursorStack.empty() ? crDefault : g_cursorStack.back();
}

void ShowException(const QString& message) {
  QString text = message;
  if (!text.isEmpty() && text.back() > u'.') text += u'.';
  QString title = QCoreApplication::applicationName();
  if (title.isEmpty()) title = QStringLiteral("Tabulon");
  UiServices().MessageBox(text, title, TMsgBoxIcon::Stop);
}

bool GuardedCall(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const EAbort&) {
    return false;
  } catch (const Exception& e) {
    ShowException(e.Message());
  } catch (const std::exception& e) {
    ShowException(QString::fromUtf8(e.what()));
  }
  return false;
}

void TRecordingUiServices::Add(Event e) {
  e.thread = std::this_thread::get_id();
  std::lock_guard lock(mutex_);
  events_.push_back(std::move(e));
}

void TRecordingUiServices::MessageBox(const QString& text, const QString& caption, TMsgBoxIcon icon) {
  Event e;
  e.kind = Event::kMessageBox;
  e.caption = caption;
  e.text = text;
  e.icon = icon;
  Add(std::move(e));
}

void TRecordingUiServices::Beep() {
  Event e;
  e.kind = Event::kBeep;
  Add(std::move(e));
}

void TRecordingUiServices::ShowQorixMessage(const QString& caption, const QString& text, TColor panelColor) {
  Event e;
  e.kind = Event::kQorixMessage;
  e.caption = caption;
  e.text = text;
  e.color = panelColor;
  Add(std::move(e));
}

void TRecordingUiServices::SetScreenCursor(TCursor cursor) {
  Event e;
  e.kind = Event::kCursor;
  e.cursor = cursor;
  Add(std::move(e));
}

std::vector<TRecordingUiServices::Event> TRecordingUiServices::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<TRecordingUiServices::Event> TRecordingUiServices::Events(Event::Kind kind) const {
  std::vector<Event> out;
  std::lock_guard lock(mutex_);
  for (const Event& e : events_)
    if (e.kind == kind) out.push_back(e);
  return out;
}

void TRecordingUiServices::Clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}
