// The boxes through which a step reports that it failed: the failure box with
// the underlying error's description, and those of a failed copy or removal.
#pragma once

#include <string>

namespace MsgBox_ {

// Shows, under `title` (or "Process has failed !" when it is empty), the
// exclamation box: `messageText` (or "Process has failed !" when empty),
// two CRs, "The following error has occurred:", one CR, then
// `errorDescription` unchanged. Returns when the box is closed.
void ShowProcessFailed(const std::string& errorDescription, const std::string& messageText,
                       const std::string& title);

// Shows the information box "Can't Copy a File ..." naming `source` and
// `destination`, or "Can't Remove a File ..." naming `path`. Never throw.
void ShowCopyFailed(const std::string& source, const std::string& destination);
void ShowRemoveFailed(const std::string& path);

}  // namespace MsgBox_
