// The unattended runner: the window's logic without a window. It plays the
// window with the scripted Ui, answering the boxes from its options, or runs
// one of its other modes, and prints every interaction as it happens
// (addtarnvel-cli --help tells the whole of it).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "Transcript.h"

namespace App::Runner {

// Exit statuses.
inline constexpr int kExitSucceeded = 0;  // ended with the success box; --verify: every item holds
inline constexpr int kExitFailed = 1;     // the failure box or "Process has failed !"; --verify: not all hold
inline constexpr int kExitUsage = 2;      // bad command line; the usage went to `err`
inline constexpr int kExitDisabled = 3;   // no ordinary file at the path: the add button stayed disabled
inline constexpr int kExitNoTranscript = 4;  // the events could not all be written to `out`

// Runs `addtarnvel-cli` with `args` (the program's name first). Events go
// to `out`, flushed as they happen; usage errors and the reasons for a
// failure (a path that names no file, a file the shop refused, a ZIP code
// that cannot be one) to `err`. The transcript is the run's record: when a
// line of it cannot be written, the run still ends, one line on `err` says
// so, and the status is kExitNoTranscript whatever the outcome. Answers the
// exit status. Never throws.
int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Output& output = {});

}  // namespace App::Runner
