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

#include "ScriptedUi.h"

namespace App::Runner {

// Exit statuses.
inline constexpr int kExitSucceeded = 0;  // ended with the success box; --verify: every item holds
inline constexpr int kExitFailed = 1;     // the failure box or "Process has failed !"; --verify: not all hold
inline constexpr int kExitUsage = 2;      // bad command line; the usage went to `err`
inline constexpr int kExitDisabled = 3;   // no ordinary file at the path: the add button stayed disabled
inline constexpr int kExitNoTranscript = 4;  // the events could not all be written to `out`

// What `out` is. A terminal gets the terminal form unless --json is given:
// the chart import and the service settings each count up on one line that
// is rewritten in place, and a line break in a box's text is shown as one.
// Anything else (a file, a pipe) gets one line per event.
struct Output {
  bool terminal = false;
  int columns = 80;      // the terminal's width; a progress line stays shorter
  bool unicode = false;  // the terminal shows UTF-8: a bar of blocks, a braille spinner
};

// Runs `addtarnvel-cli` with `args` (the program's name first). Events go
// to `out`, flushed as they happen; usage errors and the reasons for a
// failure (a path that names no file, a file the shop refused, a ZIP code
// that cannot be one) to `err`. The transcript is the run's record: when a
// line of it cannot be written, the run still ends, one line on `err` says
// so, and the status is kExitNoTranscript whatever the outcome. Answers the
// exit status. Never throws.
int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Output& output = {});

// One event as a line without its line end: readable by a person (a CR
// shown as " / "), or a JSON object whose keys keep a fixed order.
std::string FormatEvent(const Platform::UiEvent& event, bool json);

}  // namespace App::Runner
