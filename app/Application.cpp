#include "Application.h"

#include "Carrier.h"

namespace App {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  try {
    Carrier::Attempt("", [&] { handled = QApplication::notify(receiver, event); });
  } catch (...) {
    // The failure box itself failed; there is nobody left to tell.
  }
  return handled;
}

}  // namespace App
