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
};

}  // namespace App
