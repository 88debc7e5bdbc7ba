// The unattended runner: the window's logic without a window. It loads the
// form, types the host database path into the path box, presses the add
// button when it is enabled, answers the boxes from its options, and prints
// every interaction as it happens, for a person or as JSON Lines. Its other
// modes plan an installation or a removal on a private copy of the shop,
// check the installed service, or remove it (ShopState). Every run ends with
// one summary line: the outcome, whether anything changed, and each item.
// On a terminal the readable form keeps a run of progress statuses on one
// line that counts up, and shows a line break in a box as one.
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
