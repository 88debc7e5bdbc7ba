// AddTarnVel: opens the window; everything else happens in its handlers.
#include <cstdlib>
#include <iostream>

#include "Application.h"
#include "QtUi.h"
#include "frmMain.h"

namespace {

// False when the window would have no display to open on: on X11 and
// Wayland systems, neither DISPLAY nor WAYLAND_DISPLAY is set and
// QT_QPA_PLATFORM names no other platform.
bool HasDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
#else
  return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay()) {
    std::cerr << "AddTarnVel cannot open its window because there is no display "
                 "(neither DISPLAY nor WAYLAND_DISPLAY is set).\n";
    return 1;
  }
  App::Application application(argc, argv);
  App::QtUi ui;
  Platform::UiInstallation installation(ui);
  App::frmMain window;
  ui.SetWindow(&window);
  ui.SetStatusPanel(window.StatusPanel());
  window.show();
  return application.exec();
}
