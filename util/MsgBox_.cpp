#include "MsgBox_.h"

#include "AppInfo.h"
#include "Ui.h"

namespace MsgBox_ {
namespace {

// The information box of a failed file operation; the caller has the error.
void Tell(const std::string& text, const std::string& title) {
  try {
    Platform::CurrentUi().MsgBox(text, Platform::kMbOkOnly + Platform::kMbInformation, title);
  } catch (...) {
  }
}

}  // namespace

void ShowProcessFailed(const std::string& errorDescription, const std::string& messageText,
                       const std::string& title) {
  const std::string fallback = "Process has failed !";
  Platform::CurrentUi().MsgBox((messageText.empty() ? fallback : messageText) +
                                   "\r\rThe following error has occurred:\r" + errorDescription,
                               Platform::kMbOkOnly + Platform::kMbExclamation, title.empty() ? fallback : title);
}

void ShowCopyFailed(const std::string& source, const std::string& destination) {
  Tell(Platform::AppInfo::Title() + " program has failed to copy file from:\r" + source + "\rto\r" + destination,
       "Can't Copy a File ...");
}

void ShowRemoveFailed(const std::string& path) {
  Tell(Platform::AppInfo::Title() + " program has failed to remove the file:\r" + path, "Can't Remove a File ...");
}

}  // namespace MsgBox_
