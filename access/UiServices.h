// The user-interface services the access layer and its users call instead of widgets: message
// boxes, the beep, the CT-Library message window, the screen cursor. The program installs
// the Qt implementation (QtUiServices.h); tests install the recording one below.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A colour in the class library's encoding: 0x00BBGGRR, or a system colour 0xFF0000NN.
using TColor = uint32_t;
// The system colour of button faces (the message window's bottom panel for messages).
inline constexpr TColor clBtnFace = 0xFF00000F;
// The dark red of the bottom panel of the "CT-Library error" window (blue 39, green 06, red 99).
inline constexpr TColor clQorixErrorPanel = 0x00390699;

// The icon of a message box.
enum class TMsgBoxIcon { None, Information, Warning, Stop, Question };

// Screen cursors by the class library's numbers; crSQLWait shows as a busy cursor.
enum TCursor : int { crDefault = 0, crArrow = -2, crHourGlass = -11, crSQLWait = -17 };

// The services every visible reaction goes through.
class TUiServices {
 public:
  virtual ~TUiServices() = default;
  // True on the thread that may open windows (the GUI thread).
  virtual bool IsGuiThread() const;
  // Shows a modal message box with an OK button.
  virtual void MessageBox(const QString& text, const QString& caption, TMsgBoxIcon icon) = 0;
  // Sounds the default beep.
  virtual void Beep() = 0;
  // Shows the Tf_qorix_message window modally with Caption, Text and the bottom panel in Color.
  virtual void ShowQorixMessage(const QString& caption, const QString& text, TColor panelColor) = 0;
  // Shows Cursor as the screen cursor.
  virtual void SetScreenCursor(TCursor cursor) = 0;
};

// The services in use (a silent one until the program or a test installs another).
TUiServices& UiServices();
// Installs Services (null restores the silent one); returns the previous.
TUiServices* SetUiServices(TUiServices* services);

// Shows a cursor for its lifetime and restores the previous one afterwards, also when the
// guarded operation fails; the screen cursor is a process-wide stack of these.
class TCursorGuard {
 public:
  // Pushes Cursor when Enabled (a component's UseExecCursor) and on the GUI thread.
  explicit TCursorGuard(TCursor cursor, bool enabled = true);
  ~TCursorGuard();
  TCursorGuard(const TCursorGuard&) = delete;
  TCursorGuard& operator=(const TCursorGuard&) = delete;

 private:
  bool pushed_ = false;
};

// The screen cursor currently shown (crDefault with no guard active).
TCursor ScreenCursor();

// The guard every slot and action handler runs through, so exceptions never cross the Qt
// event loop: runs Action; EAbort is ignored, any other exception is shown as the class
// library's default handler would (ShowException). False when Action raised.
bool GuardedCall(const std::function<void()>& action);
// The class library's default report of an exception text: a stop box captioned with the
// application title, with a full stop added when the text ends in a character above ".".
void ShowException(const QString& message);

// Records every call for tests; installs itself for its lifetime.
class TRecordingUiServices : public TUiServices {
 public:
  // One recorded call.
  struct Event {
    enum Kind { kMessageBox, kBeep, kQorixMessage, kCursor };
    Kind kind = kMessageBox;
    QString caption;
    QString text;
    TMsgBoxIcon icon = TMsgBoxIcon::None;
    TColor color = 0;
    TCursor cursor = crDefault;
    std::thread::id thread;
  };

  TRecordingUiServices() : previous_(SetUiServices(this)) {}
  ~TRecordingUiServices() override { SetUiServices(previous_); }
  TRecordingUiServices(const TRecordingUiServices&) = delete;
  TRecordingUiServices& operator=(const TRecordingUiServices&) = delete;

  // The GUI thread is the thread that created the recorder, unless a test says otherwise.
  bool IsGuiThread() const override { return std::this_thread::get_id() == guiThread_; }
  void MessageBox(const QString& text, const QString& caption, TMsgBoxIcon icon) override;
  void Beep() override;
  void ShowQorixMessage(const QString& caption, const QString& text, TColor panelColor) override;
  void SetScreenCursor(TCursor cursor) override;

  // A copy of the calls recorded so far.
  std::vector<Event> Events() const;
  // The recorded calls of one kind.
  std::vector<Event> Events(Event::Kind kind) const;
  // Forgets the recorded calls.
  void Clear();
  // Makes another thread count as the GUI thread.
  void SetGuiThread(std::thread::id id) { guiThread_ = id; }

 private:
  void Add(Event e);
  TUiServices* previous_;
  std::thread::id guiThread_ = std::this_thread::get_id();
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};
