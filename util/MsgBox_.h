// The one failure message box through which a step reports that it failed,
// together with the underlying error's description.
#pragma once

#include <string>

namespace MsgBox_ {

// Shows, under `title` (or "Process has failed !" when it is empty), the
// exclamation box: `messageText` (or "Process has failed !" when empty),
// two CRs, "The following error has occurred:", one CR, then
// `errorDescription` unchanged. Returns when the box is closed.
void ShowProcessFailed(const std::string& errorDescription, const std::string& messageText,
                       const std::string& title);

}  // namespace MsgBox_
