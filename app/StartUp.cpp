// The program's start sequence (see StartUp.h).
#include "app/StartUp.h"

#include <QTimer>

#include "access/QorixDatabase.h"
#include "app/MainModel.h"
#include "app/u_main.h"

std::unique_ptr<Tf_main> StartMainWindow(const TStartOptions& options) {
  auto window = std::make_unique<Tf_main>(options.IniFile.isEmpty() ? TMainSettings::DefaultIniFile() : options.IniFile);
  window->ShowAtStart();
  Tf_main* w = window.get();
  QTimer::singleShot(0, w, [w, options] { FinishStart(*w, options); });
  return window;
}

void FinishStart(Tf_main& window, const TStartOptions& options) {
  // The settings come first: the window system may not activate the window at all (no window
  // manager, the offscreen platform), and the command line's names must win over the stored ones.
  window.FormActivate();
  TMainModel& m = window.Model();
  if (options.HasServer) m.db().ServerName = options.ServerName;
  if (options.HasUser) m.db().UserName = options.UserName;
  if (options.HasPassword) m.db().Password = options.Password;
  if (!options.Connect) return;
  m.db().LoginPrompt = false;
  m.Guarded([&] { m.Connect(); });
  m.db().LoginPrompt = true;
}
