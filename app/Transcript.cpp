#include "Transcript.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>
#include <utility>

namespace App::Runner {
namespace {

using Platform::UiEvent;

// Line breaks as the readable form shows them: on one line, or on a
// terminal as line breaks, the lines after the first indented.
const char kOnOneLine[] = " / ";
const char kOnTerminal[] = "\n  ";

// Replaces each line break (CR LF, CR or LF) with `lineBreak`.
std::string Broken(const std::string& text, const char* lineBreak) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += lineBreak;
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Json(const UiEvent& e) {
  using Json = nlohmann::ordered_json;
  const auto line = [](const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); };
  const Json reply = e.reply ? Json(*e.reply) : Json(nullptr);
  switch (e.kind) {
    case UiEvent::Kind::Caption: return line({{"event", "caption"}, {"text", e.text}});
    case UiEvent::Kind::Path: return line({{"event", "path"}, {"text", e.text}});
    case UiEvent::Kind::Enabled: return line({{"event", "enabled"}, {"value", e.flag}});
    case UiEvent::Kind::Pointer: return line({{"event", "pointer"}, {"busy", e.flag}});
    case UiEvent::Kind::Input:
      return line({{"event", "input"}, {"title", e.title}, {"prompt", e.text}, {"answer", reply}});
    case UiEvent::Kind::Message:
      return line(
          {{"event", "message"}, {"title", e.title}, {"text", e.text}, {"style", e.style}, {"answer", e.answer}});
    case UiEvent::Kind::FileDialog:
      return line({{"event", "dialog"}, {"title", e.title}, {"filter", e.text}, {"answer", reply}});
    case UiEvent::Kind::Status: return line({{"event", "status"}, {"text", e.text}});
  }
  return {};
}

std::string Readable(const UiEvent& e, const char* lineBreak) {
  const auto text = [&](const std::string& t) { return Broken(t, lineBreak); };
  const std::string reply = e.reply ? std::string("\"") + text(*e.reply) + "\"" : "(cancelled)";
  switch (e.kind) {
    case UiEvent::Kind::Caption: return "Caption: " + text(e.text);
    case UiEvent::Kind::Path: return "Path: " + text(e.text);
    case UiEvent::Kind::Enabled: return std::string("Add button: ") + (e.flag ? "enabled" : "disabled");
    case UiEvent::Kind::Pointer: return std::string("Pointer: ") + (e.flag ? "busy" : "default");
    case UiEvent::Kind::Input:
      return "Input box \"" + text(e.title) + "\": " + text(e.text) + " -> " + reply;
    case UiEvent::Kind::Message:
      return "Message box \"" + text(e.title) + "\": " + text(e.text) + " -> " +
             (e.answer == Platform::kAnswerOk ? "OK" : "Cancel");
    case UiEvent::Kind::FileDialog:
      return "File dialog \"" + text(e.title) + "\" (" + e.text + ") -> " + reply;
    case UiEvent::Kind::Status: return "Status: " + text(e.text);
  }
  return {};
}

// `text` with the control characters a terminal would act on (other than
// the line breaks put in) shown as ^X, so that a name or a line of a file
// can never move the cursor or retitle the window.
std::string Visible(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\t') {
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      out += '^';
      out += static_cast<char>(c ^ 0x40);
    } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      out += '?';  // a C1 control in UTF-8
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The columns `text` takes: one per code point (the texts drawn on a
// progress line are ASCII apart from the bar and the spinner).
std::size_t Columns(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

// The first `columns` columns of `text`, never cutting a code point.
std::string FirstColumns(const std::string& text, std::size_t columns) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80 && seen++ == columns) return text.substr(0, i);
  }
  return text;
}

// 1204 as "1,204".
std::string Grouped(long long number) {
  std::string digits = std::to_string(number), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-') out += ',';
    out += digits[i];
  }
  return out;
}

constexpr auto kRedraw = std::chrono::milliseconds(80);
constexpr std::size_t kBarCells = 20;

std::string Bar(long long count, long long total, bool unicode) {
  // Nothing to do is all done.
  const long long eighths = total > 0 ? std::clamp(count, 0LL, total) * kBarCells * 8 / total : kBarCells * 8;
  const auto full = static_cast<std::size_t>(eighths / 8), part = static_cast<std::size_t>(eighths % 8);
  if (!unicode) return std::string("[") + std::string(full, '#') + std::string(kBarCells - full, ' ') + "]";
  static const char* const kParts[] = {"", "▏", "▎", "▍", "▌", "▋", "▊", "▉"};
  std::string bar = "▕";
  for (std::size_t i = 0; i < full; ++i) bar += "█";
  bar += kParts[part];
  bar += std::string(kBarCells - full - (part ? 1 : 0), ' ');
  return bar + "▏";
}

std::string Spinner(unsigned frame, bool unicode) {
  static const char* const kBraille[] = {"⠋", "⠙", "⠹", "⠸", "⠼", "⠴", "⠦", "⠧", "⠇", "⠏"};
  static const char* const kAscii[] = {"|", "/", "-", "\\"};
  return unicode ? kBraille[frame % 10] : kAscii[frame % 4];
}

}  // namespace

std::string OneLine(const std::string& text) { return Broken(text, kOnOneLine); }

std::string Clipped(const std::string& text, std::size_t columns) {
  return Columns(text) > columns ? FirstColumns(OneLine(text), columns) + "..." : OneLine(text);
}

Transcript::Transcript(std::ostream& out, bool json, const Output& output)
    : out_(out), json_(json), live_(output.terminal && !json), unicode_(output.unicode),
      width_(static_cast<std::size_t>(std::max(output.columns, 20)) - 1) {}

Transcript::~Transcript() {
  try {
    EndProgress(false);
  } catch (...) {
    // Ending the line is only for the eye; nothing may escape a destructor.
  }
}

void Transcript::Event(const UiEvent& event) {
  if (!live_) return Write((json_ ? Json(event) : Readable(event, kOnOneLine)) + '\n');
  // A status right after a Progress call tells the same in words: the count stands for it.
  if (std::exchange(counted_, false) && event.kind == UiEvent::Kind::Status) return;
  // A box with a warning or a failure ends a count that never got to its end.
  const int icon = event.style & 0x70;
  EndProgress(event.kind == UiEvent::Kind::Message &&
              (icon == Platform::kMbCritical || icon == Platform::kMbExclamation));
  // A line of a box ends where its text does: an empty one stays empty,
  // without the indent of its neighbours. (Not a pattern: its repeat would
  // take a stack frame for each blank of the operator's text.)
  std::string text;
  for (const char c : Visible(Readable(event, kOnTerminal))) {
    if (c == '\n')
      while (!text.empty() && text.back() == ' ') text.pop_back();
    text += c;
  }
  Write(text + '\n');
}

void Transcript::Progress(const std::string& label, long long done, long long total) {
  if (!live_) return;
  counted_ = true;
  if (progress_ && progress_->label != label) EndProgress(false);
  progress_ = Count{.label = label, .done = done, .total = total};
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ > 0 && now - drawnAt_ < kRedraw) return;
  Draw(Rendered(false));
  drawnAt_ = now;
}

void Transcript::Line(const std::string& line) {
  EndProgress(false);
  Write((live_ ? Visible(line) : line) + '\n');
}

void Transcript::Write(const std::string& text) {
  out_ << text;
  out_.flush();
  lost_ = lost_ || !out_;
}

void Transcript::EndProgress(bool stopped) {
  if (!progress_) return;
  // A count whose total was not known ends as its own total.
  if (progress_->total < 0 && !stopped) progress_->total = progress_->done;
  Draw(Rendered(stopped));
  Write("\n");
  progress_.reset();
  drawn_ = 0;
}

void Transcript::Draw(const std::string& text) {
  const std::size_t columns = Columns(text);
  Write("\r" + text + std::string(drawn_ > columns ? drawn_ - columns : 0, ' '));
  drawn_ = std::max<std::size_t>(columns, 1);
  ++frame_;
}

// The line: the label, the count (of the total), then the bar or the
// spinner when they fit; "stopped" for a count without a total that a
// failure ended.
std::string Transcript::Rendered(bool stopped) const {
  const Count& p = *progress_;
  const std::string count = Grouped(p.done);
  std::string text = p.label + "  ", tail;
  if (p.total >= 0) {
    const std::string total = Grouped(p.total);
    text += std::string(total.size() - std::min(total.size(), count.size()), ' ') + count + " / " + total;
    tail = Bar(p.done, p.total, unicode_);
  } else if (stopped) {
    text += count + " (stopped)";
  } else {
    text += count;
    tail = Spinner(frame_, unicode_);
  }
  if (!tail.empty() && Columns(text) + 1 + Columns(tail) <= width_) return text + " " + tail;
  return FirstColumns(text, width_);
}

}  // namespace App::Runner
