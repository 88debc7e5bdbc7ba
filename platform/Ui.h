// The seam between the program and the window system: message boxes, the
// input box, the open-file dialog, the status panel and the busy pointer.
// One Ui is installed for the process; the core reaches it through
// CurrentUi(). The Qt Ui lives in app/, the scripted one in ScriptedUi.h.
#pragma once

#include <optional>
#include <string>

namespace Platform {

// Message box style values: one button set plus one icon.
inline constexpr int kMbOkOnly = 0;
inline constexpr int kMbOkCancel = 1;
inline constexpr int kMbCritical = 16;
inline constexpr int kMbQuestion = 32;
inline constexpr int kMbExclamation = 48;
inline constexpr int kMbInformation = 64;

// Message box answers.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;

class Ui {
 public:
  virtual ~Ui() = default;

  // Shows a modal message box and answers kAnswerOk or kAnswerCancel.
  // `prompt` breaks lines at each CR. An empty `title` means the box has no
  // title of its own and shows AppInfo::Title().
  virtual int MsgBox(const std::string& prompt, int style, const std::string& title) = 0;

  // Shows a modal one-line input box that starts empty. Answers the typed
  // text on OK and nullopt on Cancel (callers that want the classic
  // behaviour take value_or("")).
  virtual std::optional<std::string> InputBox(const std::string& prompt, const std::string& title) = 0;

  // Shows the open-file dialog with one filter entry: `filterDescription`,
  // which ends with its only pattern in parentheses, "(`filterPattern`)".
  // `fileName` is the dialog's file name, kept by the caller for the
  // dialog's life. Answers the chosen full path, or nullopt when the user
  // cancelled.
  virtual std::optional<std::string> OpenFileDialog(const std::string& title,
                                                    const std::string& filterDescription,
                                                    const std::string& filterPattern,
                                                    const std::string& fileName) = 0;

  // Replaces the text of the status panel; it is shown at once.
  void SetStatusText(const std::string& text) {
    status_ = text;
    ShowStatus(status_);
  }
  std::string StatusText() const { return status_; }

  // Tells how far a long step has come: `done` of the `total` items of the
  // work `label` names (`total` is -1 while it is not known). The status
  // text set next, if any, says the same in words; a Ui that shows only the
  // status leaves this as it is.
  virtual void Progress(const std::string& /*label*/, long long /*done*/, long long /*total*/) {}

  // Shows the busy pointer for all windows of the program, or the default one.
  virtual void SetBusy(bool busy) = 0;

 protected:
  // Shows the status text SetStatusText has just kept.
  virtual void ShowStatus(const std::string& text) = 0;

 private:
  std::string status_;
};

// The installed Ui; while none is, a silent Ui that answers OK to every
// box and Cancel to every input and dialog.
Ui& CurrentUi();

// Shows the busy pointer while it lives, on every path out of a scope.
class BusyPointer {
 public:
  BusyPointer() { CurrentUi().SetBusy(true); }
  ~BusyPointer() { CurrentUi().SetBusy(false); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
};

// Installs a Ui for the life of a scope and restores the previous one.
class UiInstallation {
 public:
  explicit UiInstallation(Ui& ui);
  ~UiInstallation();
  UiInstallation(const UiInstallation&) = delete;
  UiInstallation& operator=(const UiInstallation&) = delete;

 private:
  Ui* previous_;
};

}  // namespace Platform
