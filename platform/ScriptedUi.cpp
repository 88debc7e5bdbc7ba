#include "ScriptedUi.h"

#include "AppInfo.h"

namespace Platform {

int ScriptedUi::MsgBox(const std::string& prompt, int style, const std::string& title) {
  int answer = kAnswerOk;
  if ((style & 0x0F) == kMbOkCancel) {
    answer = defaultQuestionAnswer;
    if (!questionAnswers.empty()) {
      answer = questionAnswers.front();
      questionAnswers.pop_front();
    }
  }
  UiEvent event{UiEvent::Kind::Message};
  event.title = title.empty() ? AppInfo::Title() : title;
  event.text = prompt;
  event.style = style;
  event.answer = answer;
  Record(std::move(event));
  return answer;
}

std::optional<std::string> ScriptedUi::InputBox(const std::string& prompt, const std::string& title) {
  std::optional<std::string> answer;
  if (!inputAnswers.empty()) {
    answer = inputAnswers.front();
    inputAnswers.pop_front();
  }
  UiEvent event{UiEvent::Kind::Input};
  event.title = title.empty() ? AppInfo::Title() : title;
  event.text = prompt;
  event.reply = answer;
  Record(std::move(event));
  return answer;
}

std::optional<std::string> ScriptedUi::OpenFileDialog(const std::string& title, const std::string& filterDescription,
                                                      const std::string& filterPattern, const std::string&) {
  std::optional<std::string> answer;
  if (!fileDialogAnswers.empty()) {
    answer = fileDialogAnswers.front();
    fileDialogAnswers.pop_front();
  }
  UiEvent event{UiEvent::Kind::FileDialog};
  event.title = title;
  event.text = filterDescription + "|" + filterPattern;
  event.reply = answer;
  Record(std::move(event));
  return answer;
}

void ScriptedUi::SetStatusText(const std::string& text) {
  status_ = text;
  UiEvent event{UiEvent::Kind::Status};
  event.text = text;
  Record(std::move(event));
}

void ScriptedUi::SetBusy(bool busy) {
  UiEvent event{UiEvent::Kind::Pointer};
  event.flag = busy;
  Record(std::move(event));
}

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
