#include "Runner.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <sstream>
#include <string_view>

#include "AppInfo.h"
#include "Carrier.h"
#include "Files_.h"
#include "MainForm.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "Removal.h"
#include "ShopState.h"
#include "Ui.h"
#include "Variant.h"

namespace App::Runner {
namespace {

using Platform::UiEvent;

const char kProgramName[] = "addtarnvel-cli";

// The window as the runner plays it: every change is recorded as an event.
class RecordingView final : public FormView {
 public:
  RecordingView(Platform::ScriptedUi& ui, const std::string& initialPath) : ui_(ui), path_(initialPath) {
    Record(UiEvent::Kind::Path, path_);
  }
  void Attach(MainForm& form) { form_ = &form; }

  void SetCaption(const std::string& caption) override { Record(UiEvent::Kind::Caption, caption); }
  std::string PathText() const override { return path_; }
  void SetPathText(const std::string& text) override {
    path_ = text;
    Record(UiEvent::Kind::Path, path_);
    if (form_) form_->txtPath_Change();
  }
  void SetAddEnabled(bool enabled) override {
    enabled_ = enabled;
    UiEvent event{};
    event.kind = UiEvent::Kind::Enabled;
    event.flag = enabled;
    ui_.Record(std::move(event));
  }
  bool AddEnabled() const override { return enabled_; }

 private:
  void Record(UiEvent::Kind kind, const std::string& text) {
    UiEvent event{};
    event.kind = kind;
    event.text = text;
    ui_.Record(std::move(event));
  }

  Platform::ScriptedUi& ui_;
  MainForm* form_ = nullptr;
  std::string path_;
  bool enabled_ = true;  // the add button is enabled at design time
};

// Line breaks as the readable form shows them: on one line, or on a
// terminal as line breaks, the lines after the first indented.
const char kOnOneLine[] = " / ";
const char kOnTerminal[] = "\n  ";

// Replaces each line break (CR LF, CR or LF) with `lineBreak`.
std::string OneLine(const std::string& text, const char* lineBreak = kOnOneLine) {
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

std::string Reply(const std::optional<std::string>& reply, const char* lineBreak) {
  return reply ? "\"" + OneLine(*reply, lineBreak) + "\"" : std::string("(cancelled)");
}

std::string Json(const UiEvent& e) {
  nlohmann::ordered_json j;
  auto nullable = [](const std::optional<std::string>& s) { return s ? nlohmann::ordered_json(*s) : nlohmann::ordered_json(nullptr); };
  switch (e.kind) {
    case UiEvent::Kind::Caption: j = {{"event", "caption"}, {"text", e.text}}; break;
    case UiEvent::Kind::Path: j = {{"event", "path"}, {"text", e.text}}; break;
    case UiEvent::Kind::Enabled: j = {{"event", "enabled"}, {"value", e.flag}}; break;
    case UiEvent::Kind::Pointer: j = {{"event", "pointer"}, {"busy", e.flag}}; break;
    case UiEvent::Kind::Input:
      j = {{"event", "input"}, {"title", e.title}, {"prompt", e.text}, {"answer", nullable(e.reply)}};
      break;
    case UiEvent::Kind::Message:
      j = {{"event", "message"}, {"title", e.title}, {"text", e.text}, {"style", e.style}, {"answer", e.answer}};
      break;
    case UiEvent::Kind::FileDialog:
      j = {{"event", "dialog"}, {"title", e.title}, {"filter", e.text}, {"answer", nullable(e.reply)}};
      break;
    case UiEvent::Kind::Status: j = {{"event", "status"}, {"text", e.text}}; break;
  }
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Readable(const UiEvent& e, const char* lineBreak = kOnOneLine) {
  const auto text = [&](const std::string& t) { return OneLine(t, lineBreak); };
  switch (e.kind) {
    case UiEvent::Kind::Caption: return "Caption: " + text(e.text);
    case UiEvent::Kind::Path: return "Path: " + text(e.text);
    case UiEvent::Kind::Enabled: return std::string("Add button: ") + (e.flag ? "enabled" : "disabled");
    case UiEvent::Kind::Pointer: return std::string("Pointer: ") + (e.flag ? "busy" : "default");
    case UiEvent::Kind::Input:
      return "Input box \"" + text(e.title) + "\": " + text(e.text) + " -> " + Reply(e.reply, lineBreak);
    case UiEvent::Kind::Message:
      return "Message box \"" + text(e.title) + "\": " + text(e.text) + " -> " +
             (e.answer == Platform::kAnswerOk ? "OK" : "Cancel");
    case UiEvent::Kind::FileDialog:
      return "File dialog \"" + text(e.title) + "\" (" + e.text + ") -> " + Reply(e.reply, lineBreak);
    case UiEvent::Kind::Status: return "Status: " + text(e.text);
  }
  return {};
}

// The terminal form.

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

// A status that tells progress: a line of the zone chart read ("Importing
// zones: LINE", the total not known in advance), or item I (from 0) of N
// being done ("LABEL I of N").
struct Tick {
  std::string label;
  std::optional<long long> item{};  // I
  long long total = -1;             // N; -1 when not known
  bool zoneRow = false;             // a chart line that is a row of the zone table
};

// A chart line the import stores, by the import's own rule: its second
// field is a number (the header's is a column name).
bool IsZoneRow(std::string_view line) {
  const auto fields = Carrier::SplitCsvLine(std::string(line));
  return fields && fields->IsRow();
}

std::optional<long long> Count(std::string_view digits) {
  if (digits.empty() || digits.size() > 15 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  return std::stoll(std::string(digits));
}

std::optional<Tick> ProgressOf(const std::string& status) {
  const std::string_view text = status;
  if (text.starts_with(Carrier::kImportingZones)) {
    return Tick{.label = "Importing zones", .zoneRow = IsZoneRow(text.substr(sizeof Carrier::kImportingZones - 1))};
  }
  if (!text.starts_with(Carrier::kAddingSettings)) return std::nullopt;
  const std::string_view count = text.substr(sizeof Carrier::kAddingSettings - 1);
  const auto of = count.find(" of ");
  if (of == std::string_view::npos) return std::nullopt;
  const auto item = Count(count.substr(0, of)), total = Count(count.substr(of + 4));
  if (!item || !total || *item >= *total) return std::nullopt;
  return Tick{.label = "Adding service settings", .item = item, .total = *total};
}

// The transcript as it is written: a line per event; or on a terminal, a
// run of progress statuses of one kind on one line rewritten in place (a
// count and a bar, or a spinner while the total is not known), then the
// line's last state left standing before the next whole line.
class Transcript {
 public:
  Transcript(std::ostream& out, bool json, const Output& output)
      : out_(out), json_(json), live_(output.terminal && !json), unicode_(output.unicode),
        width_(static_cast<std::size_t>(std::max(output.columns, 20)) - 1) {}
  ~Transcript() {
    try {
      EndProgress(false);
    } catch (...) {
      // Ending the line is only for the eye; nothing may escape a destructor.
    }
  }
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  void Event(const UiEvent& event) {
    if (!live_) return Write(FormatEvent(event, json_) + '\n');
    if (event.kind == UiEvent::Kind::Status) {
      if (auto tick = ProgressOf(event.text)) return Advance(*tick);
    }
    // A box with a warning or a failure ends a count that never got to its end.
    const int icon = event.style & 0x70;
    EndProgress(event.kind == UiEvent::Kind::Message &&
                (icon == Platform::kMbCritical || icon == Platform::kMbExclamation));
    // A line of a box ends where its text does: an empty one stays empty,
    // without the indent of its neighbours.
    std::string text;
    for (const char c : Visible(Readable(event, kOnTerminal))) {
      if (c == '\n')
        while (!text.empty() && text.back() == ' ') text.pop_back();
      text += c;
    }
    Write(text + '\n');
  }

  // A whole line (the summary).
  void Line(const std::string& line) {
    EndProgress(false);
    Write((live_ ? Visible(line) : line) + '\n');
  }

  bool Lost() const { return lost_; }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kRedraw = std::chrono::milliseconds(80);
  static constexpr std::size_t kBarCells = 20;

  struct Progress {
    std::string label;
    long long count = 0;
    long long total = -1;
  };

  void Write(const std::string& text) {
    out_ << text;
    out_.flush();
    lost_ = lost_ || !out_;
  }

  void Advance(const Tick& tick) {
    if (progress_ && progress_->label != tick.label) EndProgress(false);
    if (!progress_) {
      progress_ = Progress{.label = tick.label};
      drawn_ = 0;
    }
    if (tick.item) {
      progress_->count = *tick.item + 1;
      progress_->total = tick.total;
    } else if (tick.zoneRow) {
      ++progress_->count;
    }
    const auto now = Clock::now();
    if (drawn_ == 0 || now - drawnAt_ >= kRedraw) {
      Draw(Rendered(false, false));
      drawnAt_ = now;
    }
  }

  // Leaves the progress line in its last state and ends it.
  void EndProgress(bool stopped) {
    if (!progress_) return;
    Draw(Rendered(true, stopped));
    Write("\n");
    progress_.reset();
  }

  void Draw(const std::string& text) {
    const std::size_t columns = Columns(text);
    Write("\r" + text + std::string(drawn_ > columns ? drawn_ - columns : 0, ' '));
    drawn_ = std::max<std::size_t>(columns, 1);
    ++frame_;
  }

  std::string Bar(long long count, long long total) const {
    const long long eighths = total > 0 ? std::clamp(count, 0LL, total) * kBarCells * 8 / total : 0;
    const auto full = static_cast<std::size_t>(eighths / 8), part = static_cast<std::size_t>(eighths % 8);
    if (!unicode_) return "[" + std::string(full, '#') + std::string(kBarCells - full, ' ') + "]";
    static const char* const kParts[] = {"", "▏", "▎", "▍", "▌", "▋", "▊", "▉"};
    std::string bar = "▕";
    for (std::size_t i = 0; i < full; ++i) bar += "█";
    bar += kParts[part];
    bar += std::string(kBarCells - full - (part ? 1 : 0), ' ');
    return bar + "▏";
  }

  std::string Spinner() const {
    static const char* const kBraille[] = {"⠋", "⠙", "⠹", "⠸", "⠼", "⠴", "⠦", "⠧", "⠇", "⠏"};
    static const char* const kAscii[] = {"|", "/", "-", "\\"};
    return unicode_ ? kBraille[frame_ % 10] : kAscii[frame_ % 4];
  }

  // The line: the label, the count (of the total), then the bar or the
  // spinner when they fit. A count whose total was not known ends as its
  // own total, or "stopped" when a failure ended it.
  std::string Rendered(bool done, bool stopped) const {
    const Progress& p = *progress_;
    const std::string count = Grouped(p.count);
    std::string text = p.label + "  ", tail;
    if (p.total >= 0) {
      const std::string total = Grouped(p.total);
      text += std::string(total.size() - std::min(total.size(), count.size()), ' ') + count + " / " + total;
      tail = Bar(p.count, p.total);
    } else if (!done) {
      text += count;
      tail = Spinner();
    } else if (stopped) {
      text += count + " (stopped)";
    } else {
      text += count + " / " + count;
      tail = Bar(1, 1);
    }
    if (!tail.empty() && Columns(text) + 1 + Columns(tail) <= width_) return text + " " + tail;
    return FirstColumns(text, width_);
  }

  std::ostream& out_;
  const bool json_;
  const bool live_;
  const bool unicode_;
  const std::size_t width_;  // the longest progress line that does not wrap
  bool lost_ = false;
  std::optional<Progress> progress_;
  std::size_t drawn_ = 0;  // the columns of the progress line on the screen; 0 before its first draw
  Clock::time_point drawnAt_{};
  unsigned frame_ = 0;
};

// The help: one option a paragraph (its names, then what it does, indented
// far enough that help2man takes each for an option of the manual page),
// then the footer, every line within kHelpWidth columns.
constexpr std::size_t kHelpWidth = 79;
const std::string kDescriptionIndent(20, ' ');

const char kFooter[] =
    "The window loads with its default path, HOST_DB_PATH is typed into the path\n"
    "box, and the add button is pressed when it is enabled. Each message box, input\n"
    "box, status text and change of the window is printed on one line as it\n"
    "happens. On a terminal (without --json) the chart import and the service\n"
    "settings each count up on one line instead, and a line break in a box's text\n"
    "is shown as one.\n"
    "\n"
    "Modes (the default installs):\n"
    "  --dry-run  runs the installation (or with --remove the removal) on a\n"
    "             private copy of the shop and tells what it would change; no byte\n"
    "             or time stamp of the shop changes. The exit status is the one\n"
    "             the real run would end with.\n"
    "  --verify   checks item by item that the service is installed as an\n"
    "             installation leaves it; with --zip, also that the shop's zone\n"
    "             table holds exactly that ZIP code's chart. Changes no byte or\n"
    "             time stamp.\n"
    "  --remove   after a confirmation (--yes answers OK) takes out the service's\n"
    "             [Master] records, its [Panel] buttons (a row it alone fills goes,\n"
    "             elsewhere only its button is cleared), then the carrier's files\n"
    "             beside HOST_DB_PATH.\n"
    "\n"
    "Every run ends with one summary line: the mode, the outcome, whether anything\n"
    "changed (\"changed\" is true exactly when a byte of the shop changed), and an\n"
    "item for what each step did to the [Master] record, the [Panel] button, each\n"
    "of the five files and the zone chart, such as\n"
    "  Summary: install succeeded, changed; record added; ...\n"
    "or with --json\n"
    "  {\"event\":\"summary\",\"mode\":\"install\",...,\"items\":[...]}\n"
    "Results that change the shop: added, extended (with \"changes\": column, old,\n"
    "new), created, replaced, removed, cleared; that do not: unchanged, kept,\n"
    "refused, unreadable (with a \"detail\" saying why); the chart: imported, none;\n"
    "for --verify: ok, missing, differs, unreadable. The carrier's files take their\n"
    "places beside the shop database only when the run changes it.\n"
    "\n"
    "Standard error says why a run could not start or failed: a HOST_DB_PATH that\n"
    "is no file, the system's reason for each file the shop refused (with the user\n"
    "the run works as), a --zip that cannot be a ZIP code.\n"
    "\n"
    "Exit status:\n"
    "  0  the service was added or removed (the success box); --verify: it is\n"
    "     installed\n"
    "  1  the run failed (the failure box or \"Process has failed !\"); --verify: it\n"
    "     is not\n"
    "  2  usage error\n"
    "  3  HOST_DB_PATH does not exist or is no ordinary file (the add button stays\n"
    "     disabled)\n"
    "  4  the transcript could not be written (a full disk, a closed pipe): the run\n"
    "     has no record\n"
    "\n"
    "Examples:\n"
    "  $ addtarnvel-cli --zip 10001 --yes --json /srv/Mailvoro.mdb\n"
    "  $ addtarnvel-cli --dry-run --zip 10001 --yes /srv/Mailvoro.mdb\n"
    "  $ addtarnvel-cli --remove --yes /srv/Mailvoro.mdb";

// `text` in lines of at most kHelpWidth columns, each indented by `indent`.
std::string Wrapped(const std::string& text, const std::string& indent) {
  std::string out, line;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!line.empty() && indent.size() + line.size() + 1 + word.size() > kHelpWidth) {
      out += indent + line + '\n';
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return line.empty() ? out : out + indent + line + '\n';
}

// "-h, --help", "--zip TEXT" or the argument's name.
std::string Names(const CLI::Option& option) {
  if (!option.nonpositional()) return option.get_name(true);
  std::string names;
  for (const auto& name : option.get_snames()) names += (names.empty() ? "-" : ", -") + name;
  for (const auto& name : option.get_lnames()) names += (names.empty() ? "--" : ", --") + name;
  const std::string type = option.get_type_name();
  return type.empty() ? names : names + " " + type;
}

// What an option does, with the options it cannot go with.
std::string Description(const CLI::Option& option) {
  std::string text = option.get_description();
  if (option.get_required()) text += " (required)";
  std::vector<std::string> excluded;
  for (const CLI::Option* other : option.get_excludes()) excluded.push_back(other->get_name());
  std::sort(excluded.begin(), excluded.end());
  for (std::size_t i = 0; i < excluded.size(); ++i)
    text += (i == 0 ? " (not with " : i + 1 == excluded.size() ? " or " : ", ") + excluded[i];
  return excluded.empty() ? text : text + ")";
}

std::string Help(const CLI::App* app) {
  std::string help = "Usage: " + app->get_name() + " [OPTIONS] HOST_DB_PATH\n\n" + Wrapped(app->get_description(), "");
  for (const bool arguments : {true, false}) {
    help += arguments ? "\nArguments:\n" : "\nOptions:\n";
    for (const CLI::Option* option : app->get_options()) {
      if (option->nonpositional() == arguments) continue;
      help += Wrapped(Names(*option), "  ") + Wrapped(Description(*option), kDescriptionIndent);
    }
  }
  return help + '\n' + app->get_footer() + '\n';
}

// What a run did, for its summary line.
struct Summary {
  std::string mode;
  bool dryRun = false;
  int status = kExitFailed;
  bool changed = false;
  std::vector<ShopState::Item> items;
};

std::string Outcome(int status) {
  return status == kExitSucceeded ? "succeeded" : status == kExitDisabled ? "no-file" : "failed";
}

std::string SummaryJson(const Summary& summary) {
  nlohmann::ordered_json items = nlohmann::ordered_json::array();
  for (const auto& item : summary.items) {
    nlohmann::ordered_json j = {{"item", item.name}, {"result", Carrier::Word(item.result)}};
    if (!item.detail.empty()) j["detail"] = item.detail;
    if (item.rows >= 0) j["rows"] = item.rows;
    for (const auto& change : item.changes)
      j["changes"].push_back({{"column", change.column}, {"old", change.before}, {"new", change.after}});
    items.push_back(std::move(j));
  }
  const nlohmann::ordered_json j = {{"event", "summary"},          {"mode", summary.mode},
                                    {"dry_run", summary.dryRun},   {"outcome", Outcome(summary.status)},
                                    {"exit", summary.status},      {"changed", summary.changed},
                                    {"items", std::move(items)}};
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string SummaryReadable(const Summary& summary) {
  std::string line = "Summary: " + summary.mode + (summary.dryRun ? " (dry run) " : " ") + Outcome(summary.status) +
                     (summary.changed ? ", changed" : ", unchanged");
  for (const auto& item : summary.items) {
    std::string detail = item.detail;
    for (const auto& change : item.changes)
      detail += (detail.empty() ? "" : ", ") + change.column + " " + change.before + " -> " + change.after;
    if (item.rows >= 0) detail += (detail.empty() ? "" : ", ") + std::to_string(item.rows) + " rows";
    line += "; " + item.name + " " + Carrier::Word(item.result) + (detail.empty() ? "" : " (" + OneLine(detail) + ")");
  }
  return line;
}

// Why the add button stayed disabled, in the runner's words.
std::string WhyNoFile(const std::string& path) {
  if (path.empty()) return "no shop database was named (HOST_DB_PATH is empty)";
  const std::string quoted = "'" + OneLine(path) + "'";
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    struct stat link {};
    if (error == ENOENT && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
      return quoted + " is a symbolic link to a file that does not exist";
    if (error == ENOENT || error == ENOTDIR) return quoted + " does not exist";
    return quoted + " cannot be looked at: " + std::strerror(error);
  }
  if (S_ISDIR(info.st_mode)) return quoted + " is a folder";
  if (!S_ISREG(info.st_mode)) return quoted + " is not an ordinary file";
  return quoted + " could not be found when the run looked";  // it has come since
}

// The effective user, by its name in the local user list when it has one
// there (a lookup through the name services could wait on the network).
std::string EffectiveUser() {
  const std::string uid = std::to_string(::geteuid());
  try {
    Files_::InputFile users;
    users.Open("/etc/passwd");
    while (!users.AtEnd()) {
      const std::string line = users.ReadLine();  // NAME:PASSWORD:UID:...
      const auto first = line.find(':'), second = line.find(':', first + 1);
      if (first != std::string::npos && second != std::string::npos &&
          line.compare(second + 1, uid.size() + 1, uid + ":") == 0)
        return line.substr(0, first);
    }
  } catch (const Platform::RunError&) {
  }
  return "uid " + uid;
}

// Why the shop refused a file: the error's own text, and for a permission
// the user the run works as, who must be let write there.
std::string WhyRefused(const std::string& detail) {
  std::string reason = detail.empty() ? std::string("refused") : OneLine(detail);
  if (reason.ends_with('.') && !reason.ends_with("..")) reason.pop_back();
  // "Permission denied: 'PATH'" or "... 'PATH' is read-only"; not a file
  // in use by another program, which no permission would let through.
  if (reason.starts_with("Permission denied: '") && (reason.ends_with("'") || reason.ends_with("' is read-only")))
    reason += " (running as " + EffectiveUser() + "; the shop's folder and files must be writable by this user)";
  return reason;
}

// Whether `zip`, with the blanks around it that the lookup drops, is five digits.
bool IsZipCode(const std::string& zip) {
  const std::string digits = Db::TrimSpaces(zip);
  return digits.size() == 5 && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Plays the window: loads the form, types the path, presses the add button.
int InstallService(Platform::ScriptedUi& ui, const std::string& hostDbPath, std::vector<ShopState::Item>& items) {
  RecordingView view(ui, Platform::AppInfo::DefaultHostDbPath());
  MainForm form(view);
  view.Attach(form);
  form.Form_Load();
  view.SetPathText(hostDbPath);
  if (!view.AddEnabled()) return kExitDisabled;
  const AddOutcome outcome = form.cmdAddService_Click();
  items = form.Told();
  return outcome == AddOutcome::Succeeded ? kExitSucceeded : kExitFailed;
}

// The removal with the outcome told as the add command tells its own.
int RemoveService(const Carrier::Service& service, const std::string& hostDbPath,
                  std::vector<ShopState::Item>& items) {
  if (!Files_::LocateFile(hostDbPath, false)) return kExitDisabled;
  const Platform::BusyPointer busy;
  const bool removed = Removal::Remove(service, hostDbPath, items);
  ShowOutcome(removed, service.carrierName + " service was removed successfully !",
              "Failed to remove " + service.carrierName + " service...", "Remove Service");
  return removed ? kExitSucceeded : kExitFailed;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Output& output) {
  CLI::App app{"Adds the TARN-VEL service to a Mailvoro shop database without a window.", kProgramName};
  std::string zip;
  bool yes = false;
  bool json = false;
  bool dryRun = false;
  bool verify = false;
  bool remove = false;
  std::string programFolder;
  std::string hostDbPath;
  auto* zipOption = app.add_option("--zip", zip, "Answer the ZIP code question with TEXT (else it is cancelled)")
                        ->type_name("TEXT");
  app.add_flag("--yes", yes, "Answer OK to the confirmation question (else Cancel)");
  app.add_flag("--json", json, "Print the events as JSON Lines");
  auto* dryRunOption = app.add_flag("--dry-run", dryRun, "Only tell what the run would change");
  auto* removeOption = app.add_flag("--remove", remove, "Take the service out of the shop");
  app.add_flag("--verify", verify, "Check that the service is installed; change nothing")
      ->excludes(dryRunOption)
      ->excludes(removeOption);
  auto* folderOption =
      app.add_option("--program-folder", programFolder,
                     "Folder of the carrier's files (default: the folder of this program)")
          ->type_name("DIR")
          ->check(CLI::Validator(CLI::ExistingDirectory).description(""));
  app.add_option("HOST_DB_PATH", hostDbPath, "The shop's Mailvoro database")->required()->type_name("");
  app.set_version_flag("--version",
                       std::string(kProgramName) + " " + Platform::AppInfo::VersionText());
  app.footer(kFooter);
  app.formatter_fn([](const CLI::App* help, const std::string&, CLI::AppFormatMode) { return Help(help); });

  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  if (argv.empty()) argv.push_back(kProgramName);
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e, out, err);  // --help, --version
    err << kProgramName << ": " << e.what() << "\n\n" << app.help();
    return kExitUsage;
  }

  if (*folderOption) Platform::AppInfo::SetProgramFolder(programFolder);

  Transcript transcript(out, json, output);
  Platform::ScriptedUi ui;
  if (*zipOption) ui.inputAnswers.push_back(zip);
  ui.defaultQuestionAnswer = yes ? Platform::kAnswerOk : Platform::kAnswerCancel;
  // A dry run works on a private copy; its transcript names the real files.
  std::optional<ShopState::PrivateCopy> privateCopy;
  const auto real = [&](std::string text) { return privateCopy ? privateCopy->RealPaths(std::move(text)) : text; };
  // Printed events are dropped at once, so a long chart import keeps
  // memory flat. Record() touches the event no more after this returns.
  ui.onEvent = [&](const UiEvent& event) {
    if (privateCopy) {
      UiEvent shown = event;
      shown.text = privateCopy->RealPaths(shown.text);
      shown.title = privateCopy->RealPaths(shown.title);
      if (shown.reply) shown.reply = privateCopy->RealPaths(*shown.reply);
      transcript.Event(shown);
    } else {
      transcript.Event(event);
    }
    ui.Clear();
  };
  Platform::UiInstallation installation(ui);

  const Carrier::Service service = InstalledService();
  Summary summary;
  summary.mode = verify ? "verify" : remove ? "remove" : "install";
  summary.dryRun = dryRun;
  const auto shopFiles = service.ShopFiles();
  if (verify) {
    summary.items = ShopState::Verify(service, hostDbPath, *zipOption ? zip : "");
    const bool installed = std::all_of(summary.items.begin(), summary.items.end(),
                                       [](const ShopState::Item& item) { return item.result == Carrier::Result::Ok; });
    summary.status = installed ? kExitSucceeded : kExitFailed;
  } else {
    std::string target = hostDbPath;
    bool copied = true;
    if (dryRun && Files_::LocateFile(hostDbPath, false)) {
      try {
        privateCopy.emplace(service, hostDbPath);
        target = privateCopy->HostDbPath();
      } catch (const Platform::RunError& e) {
        MsgBox_::ShowProcessFailed(e.Description(), "The shop could not be copied for a dry run...", "");
        copied = false;
      }
    }
    if (copied && remove) {
      summary.status = RemoveService(service, target, summary.items);
    } else if (copied) {
      // The steps tell what they do as they do it.
      summary.status = InstallService(ui, target, summary.items);
    }
    // Told in the order the steps ran; shown as the shop holds them: the
    // record, the button, the files, then the chart.
    const auto rank = [&](const ShopState::Item& item) {
      if (item.name == "record") return 0;
      if (item.name == "button") return 1;
      const auto file = std::find(shopFiles.begin(), shopFiles.end(), item.name);
      return file != shopFiles.end() ? 2 + static_cast<int>(file - shopFiles.begin()) : 99;
    };
    std::stable_sort(summary.items.begin(), summary.items.end(),
                     [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
    summary.changed = Carrier::Changed(summary.items);
  }
  transcript.Line(real(json ? SummaryJson(summary) : SummaryReadable(summary)));
  const int status = summary.status;
  if (status == kExitDisabled) {
    err << kProgramName << ": " << WhyNoFile(hostDbPath) << '\n';
  } else if (status == kExitFailed && !verify && !remove && !*zipOption) {
    err << kProgramName << ": the ZIP code question was cancelled: no --zip was given\n";
  }
  for (const auto& item : summary.items) {
    if (item.result == Carrier::Result::Refused && std::find(shopFiles.begin(), shopFiles.end(), item.name) != shopFiles.end())
      err << kProgramName << ": " << item.name << ": " << real(WhyRefused(item.detail)) << '\n';
  }
  // A ZIP code of another form may still be found (010001 is 10001), so
  // only a run that failed says what a ZIP code is.
  if (*zipOption && !remove && status == kExitFailed && !IsZipCode(zip))
    err << kProgramName << ": a ZIP code is five digits, such as 10001 (--zip '"
        << (Columns(zip) > 40 ? FirstColumns(OneLine(zip), 40) + "..." : OneLine(zip)) << "' is not one)\n";
  if (!transcript.Lost()) return status;
  err << kProgramName << ": the transcript could not be written; the run ended with status " << status
      << " but has no record\n";
  return kExitNoTranscript;
}

}  // namespace

std::string FormatEvent(const UiEvent& event, bool json) { return json ? Json(event) : Readable(event); }

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Output& output) {
  try {
    return Run(args, out, err, output);
  } catch (const std::exception& e) {
    err << kProgramName << ": " << e.what() << '\n';
  } catch (...) {
    err << kProgramName << ": an unexpected error has occurred\n";
  }
  return kExitFailed;
}

}  // namespace App::Runner
