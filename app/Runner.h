// The unattended runner: the window's logic without a window. It loads the
// form, types the host database path into the path box, presses the add
// button when it is enabled, answers the boxes from its options, and prints
// every interaction as it happens, for a person or as JSON Lines.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "ScriptedUi.h"

namespace App::Runner {

// Exit statuses.
inline constexpr int kExitSucceeded = 0;  // ended with the success box
inline constexpr int kExitFailed = 1;     // ended with the failure box or "Process has failed !"
inline constexpr int kExitUsage = 2;      // bad command line; the usage went to `err`
inline constexpr int kExitDisabled = 3;   // the add button stayed disabled
inline constexpr int kExitNoTranscript = 4;  // the events could not all be written to `out`

// Runs `addtarnvel-cli` with `args` (the program's name first). Events go
// to `out`, one line each, flushed as they happen; usage errors to `err`.
// The transcript is the run's record: when a line of it cannot be written,
// the run still ends, one line on `err` says so, and the status is
// kExitNoTranscript whatever the outcome. Answers the exit status. Never
// throws.
int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// One event as a line without its line end: readable by a person (a CR
// shown as " / "), or a JSON object whose keys keep a fixed order.
std::string FormatEvent(const Platform::UiEvent& event, bool json);

}  // namespace App::Runner
