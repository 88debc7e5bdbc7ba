#include "Application.h"

#include <cstdlib>
#include <exception>

#include "MsgBox_.h"

namespace App {
namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

void ShowFailure(const std::string& description) {
  try {
    MsgBox_::ShowProcessFailed(description, "", "");
  } catch (...) {
    // The box itself failed; there is nobody left to tell.
  }
}

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {  // a RunError's what() is its description
    ShowFailure(e.what());
  } catch (...) {
    ShowFailure("An unexpected error has occurred.");
  }
  return false;
}

bool Application::HasDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM");
#else
  return true;
#endif
}

}  // namespace App
