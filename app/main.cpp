// AddTarnVel: opens the window; everything else happens in its handlers.
#include <iostream>

#include "Application.h"
#include "QtUi.h"
#include "frmMain.h"

int main(int argc, char** argv) {
  if (!App::Application::HasDisplay()) {
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
