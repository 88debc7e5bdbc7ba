// A Ui that answers from a script and records every interaction, in order.
// Tests assert on its record; the unattended runner prints it. The window's
// own events (caption, path box, add button) are recorded through Record()
// by whoever plays the window.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Ui.h"

namespace Platform {

struct UiEvent {
  enum class Kind { Caption, Path, Enabled, Pointer, Input, Message, FileDialog, Status };
  Kind kind = Kind::Status;
  std::string title{};                // as shown: AppInfo::Title() for a box without its own
  std::string text{};                 // prompt, message, status, caption or path text
  int style = 0;                      // message box style value
  int answer = 0;                     // message box answer
  bool flag = false;                  // Enabled: the state; Pointer: busy
  std::optional<std::string> reply{}; // Input and FileDialog: the answer, nullopt when cancelled
};

class ScriptedUi final : public Ui {
 public:
  // Answers, taken in order. When a queue is empty: OK and Cancel boxes
  // answer `defaultQuestionAnswer`, inputs and dialogs cancel. OK-only
  // boxes always answer OK.
  std::deque<std::optional<std::string>> inputAnswers;
  std::deque<int> questionAnswers;
  std::deque<std::optional<std::string>> fileDialogAnswers;
  int defaultQuestionAnswer = kAnswerCancel;

  // Called after each event is recorded (the runner prints as it goes).
  std::function<void(const UiEvent&)> onEvent;
  // Called with each Progress call, which is no event of the record.
  std::function<void(const std::string& label, long long done, long long total)> onProgress;

  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  std::optional<std::string> InputBox(const std::string& prompt, const std::string& title) override;
  std::optional<std::string> OpenFileDialog(const std::string&, const std::string&, const std::string&,
                                            const std::string&) override;
  void Progress(const std::string& label, long long done, long long total) override;
  void SetBusy(bool busy) override;

  void Record(UiEvent event);
  const std::vector<UiEvent>& Events() const { return events_; }
  std::vector<UiEvent> EventsOf(UiEvent::Kind kind) const;
  void Clear() { events_.clear(); }

 private:
  void ShowStatus(const std::string& text) override;

  std::vector<UiEvent> events_;
};

}  // namespace Platform
