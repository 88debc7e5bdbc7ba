#include "Application.h"

#include <exception>

#include "MsgBox_.h"

namespace App {
namespace {

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

}  // namespace App
