// The program's application object: a QApplication that stops every
// exception at the door of the event loop and shows it in the failure box.
#pragma once

#include <QApplication>

namespace App {

class Application final : public QApplication {
 public:
  Application(int& argc, char** argv);

  // Delivers the event; an exception thrown by a handler is shown with
  // MsgBox_::ShowProcessFailed and goes no further.
  bool notify(QObject* receiver, QEvent* event) override;

  // False when the window would have no display to open on: on X11 and
  // Wayland systems, neither DISPLAY nor WAYLAND_DISPLAY is set and
  // QT_QPA_PLATFORM names no other platform. Call it before construction.
  static bool HasDisplay();
};

}  // namespace App
