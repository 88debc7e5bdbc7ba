#include "MsgBox_.h"

#include "Ui.h"

namespace MsgBox_ {

void ShowProcessFailed(const std::string& errorDescription, const std::string& messageText,
                       const std::string& title) {
  static const std::string kFallback = "Process has failed !";
  const std::string& text = messageText.empty() ? kFallback : messageText;
  const std::string& boxTitle = title.empty() ? kFallback : title;
  Platform::CurrentUi().MsgBox(text + "\r\r" + "The following error has occurred:" + "\r" + errorDescription,
                               Platform::kMbOkOnly + Platform::kMbExclamation, boxTitle);
}

}  // namespace MsgBox_
