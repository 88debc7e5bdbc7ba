#include "ScriptedUi.h"

#include "AppInfo.h"

namespace Platform {
namespace {

// The next scripted answer, or `otherwise` when the script has none left.
template <typename Answer>
Answer Next(std::deque<Answer>& answers, Answer otherwise) {
  if (answers.empty()) return otherwise;
  Answer answer = std::move(answers.front());
  answers.pop_front();
  return answer;
}

}  // namespace

int ScriptedUi::MsgBox(const std::string& prompt, int style, const std::string& title) {
  const int answer = (style & 0x0F) == kMbOkCancel ? Next(questionAnswers, defaultQuestionAnswer) : kAnswerOk;
  Record({.kind = UiEvent::Kind::Message, .title = AppInfo::BoxTitle(title), .text = prompt, .style = style,
          .answer = answer});
  return answer;
}

std::optional<std::string> ScriptedUi::InputBox(const std::string& prompt, const std::string& title) {
  auto answer = Next(inputAnswers, {});
  Record({.kind = UiEvent::Kind::Input, .title = AppInfo::BoxTitle(title), .text = prompt, .reply = answer});
  return answer;
}

std::optional<std::string> ScriptedUi::OpenFileDialog(const std::string& title, const std::string& filterDescription,
                                                      const std::string& filterPattern, const std::string&) {
  auto answer = Next(fileDialogAnswers, {});
  Record({.kind = UiEvent::Kind::FileDialog, .title = title, .text = filterDescription + "|" + filterPattern,
          .reply = answer});
  return answer;
}

void ScriptedUi::ShowStatus(const std::string& text) { Record({.kind = UiEvent::Kind::Status, .text = text}); }

void ScriptedUi::Progress(const std::string& label, long long done, long long total) {
  if (onProgress) onProgress(label, done, total);
}

void ScriptedUi::SetBusy(bool busy) { Record({.kind = UiEvent::Kind::Pointer, .flag = busy}); }

void ScriptedUi::Record(UiEvent event) {
  events_.push_back(std::move(event));
  if (onEvent) onEvent(events_.back());
}

std::vector<UiEvent> ScriptedUi::EventsOf(UiEvent::Kind kind) const {
  std::vector<UiEvent> out;
  for (const auto& e : events_)
    if (e.kind == kind) out.push_back(e);
  return out;
}

}  // namespace Platform
