// The runner's transcript: each event on a line as it happens, readable by
// a person or as a JSON object whose keys keep a fixed order. On a terminal
// the readable form draws each long step's Progress calls on one line that
// counts up, rewritten in place (a count and a bar, or a spinner while the
// total is not known), instead of the status that follows each call and
// tells the same in words, and shows a line break in a box as one.
#pragma once

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>

#include "ScriptedUi.h"

namespace App::Runner {

// What `out` is. A terminal gets the terminal form unless --json is given;
// anything else (a file, a pipe) gets one line per event.
struct Output {
  bool terminal = false;
  int columns = 80;      // the terminal's width; a progress line stays shorter
  bool unicode = false;  // the terminal shows UTF-8: a bar of blocks, a braille spinner
};

// `text` with each line break (CR LF, CR or LF) shown as " / ".
std::string OneLine(const std::string& text);
// OneLine(text), cut after `columns` columns with "..." when `text` is longer.
std::string Clipped(const std::string& text, std::size_t columns);

class Transcript {
 public:
  Transcript(std::ostream& out, bool json, const Output& output);
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  void Event(const Platform::UiEvent& event);
  // `done` of `total` (-1 while not known) of the work `label` names; the
  // status that comes next tells the same.
  void Progress(const std::string& label, long long done, long long total);
  // A whole line (the summary).
  void Line(const std::string& line);
  // Whether a line could not be written.
  bool Lost() const { return lost_; }

 private:
  struct Count {
    std::string label;
    long long done = 0;
    long long total = -1;
  };

  void Write(const std::string& text);
  // Leaves the progress line in its last state and ends it.
  void EndProgress(bool stopped);
  void Draw(const std::string& text);
  std::string Rendered(bool stopped) const;

  std::ostream& out_;
  const bool json_;
  const bool live_;
  const bool unicode_;
  const std::size_t width_;  // the longest progress line that does not wrap
  bool lost_ = false;
  bool counted_ = false;  // a Progress call came since the last event
  std::optional<Count> progress_;
  std::size_t drawn_ = 0;  // the columns of the progress line on the screen; 0 before its first draw
  std::chrono::steady_clock::time_point drawnAt_{};
  unsigned frame_ = 0;
};

}  // namespace App::Runner
