// The program's start: the main window shown maximised with its splash dialog, and the
// command line's log-in once the saved settings are in. main() runs exactly this, and the
// tests run it too, so what they check is the order the program really starts in.
#pragma once

#include <QString>
#include <memory>

class Tf_main;

// What the command line asks of the start.
struct TStartOptions {
  QString IniFile;  // empty: the default settings file
  QString ServerName, UserName, Password;
  bool HasServer = false, HasUser = false, HasPassword = false;
  // Log in at start without the login dialog.
  bool Connect = false;
};

// Creates the main window, shows it maximised with the splash dialog up, and queues the start's
// last step for the event loop's first turn: the window's activation (the splash taken down,
// the saved settings restored, unless the window system activated the window already), then the
// command line's server, user and password over the restored ones, then the log-in when asked.
std::unique_ptr<Tf_main> StartMainWindow(const TStartOptions& options);

// The start's last step (what the queued call runs).
void FinishStart(Tf_main& window, const TStartOptions& options);
