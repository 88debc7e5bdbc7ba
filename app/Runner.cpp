#include "Runner.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "AppInfo.h"
#include "Carrier.h"
#include "Files_.h"
#include "MainForm.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "Removal.h"
#include "ShopState.h"
#include "Ui.h"

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

// Replaces each line break (CR LF, CR or LF) with " / ".
std::string OneLine(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += " / ";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Reply(const std::optional<std::string>& reply) {
  return reply ? "\"" + OneLine(*reply) + "\"" : std::string("(cancelled)");
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

std::string Readable(const UiEvent& e) {
  switch (e.kind) {
    case UiEvent::Kind::Caption: return "Caption: " + OneLine(e.text);
    case UiEvent::Kind::Path: return "Path: " + OneLine(e.text);
    case UiEvent::Kind::Enabled: return std::string("Add button: ") + (e.flag ? "enabled" : "disabled");
    case UiEvent::Kind::Pointer: return std::string("Pointer: ") + (e.flag ? "busy" : "default");
    case UiEvent::Kind::Input:
      return "Input box \"" + OneLine(e.title) + "\": " + OneLine(e.text) + " -> " + Reply(e.reply);
    case UiEvent::Kind::Message:
      return "Message box \"" + OneLine(e.title) + "\": " + OneLine(e.text) + " -> " +
             (e.answer == Platform::kAnswerOk ? "OK" : "Cancel");
    case UiEvent::Kind::FileDialog:
      return "File dialog \"" + OneLine(e.title) + "\" (" + e.text + ") -> " + Reply(e.reply);
    case UiEvent::Kind::Status: return "Status: " + OneLine(e.text);
  }
  return {};
}

const char kFooter[] =
    "The window loads with its default path, HOST_DB_PATH is typed into the path box, and the add\n"
    "button is pressed when it is enabled. Each message box, input box, status text and change of\n"
    "the window is printed on one line as it happens.\n"
    "\n"
    "Modes (the default installs):\n"
    "  --dry-run  runs the installation (or with --remove the removal) on a private copy of the shop\n"
    "             and tells what it would change; no byte or time stamp of the shop changes. The\n"
    "             exit status is the one the real run would end with.\n"
    "  --verify   checks item by item that the service is installed as an installation leaves it;\n"
    "             with --zip, also that the shop's zone table holds exactly that ZIP code's chart.\n"
    "             Changes no byte or time stamp.\n"
    "  --remove   after a confirmation (--yes answers OK) takes out the service's [Master] records,\n"
    "             its [Panel] buttons (a row it alone fills goes, elsewhere only its button is\n"
    "             cleared), then the carrier's files beside HOST_DB_PATH.\n"
    "\n"
    "Every run ends with one summary line: the mode, the outcome, whether anything changed\n"
    "(\"changed\" is true exactly when a byte of the shop changed), and an item for what each step\n"
    "did to the [Master] record, the [Panel] button, each of the five files and the zone chart:\n"
    "  Summary: install succeeded, changed; record added; button added (PanelIndex 5); ...\n"
    "  {\"event\":\"summary\",\"mode\":\"install\",\"dry_run\":false,\"outcome\":\"succeeded\",\"exit\":0,\n"
    "   \"changed\":true,\"items\":[{\"item\":\"record\",\"result\":\"added\"},...]}\n"
    "Results that change the shop: added, extended (with \"changes\": column, old, new), created,\n"
    "replaced, removed, cleared; that do not: unchanged, kept, refused, unreadable (with a \"detail\"\n"
    "saying why); the chart: imported, none; for --verify: ok, missing, differs, unreadable.\n"
    "The carrier's files take their places beside the shop database only when the run changes it.\n"
    "\n"
    "Exit status:\n"
    "  0  the service was added or removed (the success box); --verify: it is installed\n"
    "  1  the run failed (the failure box or \"Process has failed !\"); --verify: it is not\n"
    "  2  usage error\n"
    "  3  HOST_DB_PATH names no file (the add button stayed disabled)\n"
    "  4  the transcript could not be written (a full disk, a closed pipe): the run has no record\n"
    "\n"
    "Examples:\n"
    "  addtarnvel-cli --zip 10001 --yes --json /srv/shop/Mailvoro.mdb\n"
    "  addtarnvel-cli --dry-run --zip 10001 --yes /srv/shop/Mailvoro.mdb\n"
    "  addtarnvel-cli --remove --yes /srv/shop/Mailvoro.mdb";

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
    nlohmann::ordered_json j = {{"item", item.name}, {"result", item.result}};
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
    line += "; " + item.name + " " + item.result + (detail.empty() ? "" : " (" + OneLine(detail) + ")");
  }
  return line;
}

// Plays the window: loads the form, types the path, presses the add button.
int InstallService(Platform::ScriptedUi& ui, const std::string& hostDbPath) {
  RecordingView view(ui, Platform::AppInfo::DefaultHostDbPath());
  MainForm form(view);
  view.Attach(form);
  form.Form_Load();
  view.SetPathText(hostDbPath);
  if (!view.AddEnabled()) return kExitDisabled;
  return form.cmdAddService_Click() == AddOutcome::Succeeded ? kExitSucceeded : kExitFailed;
}

// The removal with the outcome told as the add command tells its own.
int RemoveService(const ShopState::Service& service, const std::string& hostDbPath,
                  std::vector<ShopState::Item>& items) {
  if (!Files_::LocateFile(hostDbPath, false)) return kExitDisabled;
  const Platform::BusyPointer busy;
  const bool removed = Removal::Remove(service, hostDbPath, items);
  ShowOutcome(removed, service.carrierName + " service was removed successfully !",
              "Failed to remove " + service.carrierName + " service...", "Remove Service");
  return removed ? kExitSucceeded : kExitFailed;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
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

  Platform::ScriptedUi ui;
  if (*zipOption) ui.inputAnswers.push_back(zip);
  ui.defaultQuestionAnswer = yes ? Platform::kAnswerOk : Platform::kAnswerCancel;
  // A dry run works on a private copy; its transcript names the real files.
  std::optional<ShopState::PrivateCopy> privateCopy;
  const auto real = [&](std::string text) { return privateCopy ? privateCopy->RealPaths(std::move(text)) : text; };
  // Printed events are dropped at once, so a long chart import keeps
  // memory flat. Record() touches the event no more after this returns.
  bool transcriptLost = false;
  const auto print = [&](const std::string& line) {
    out << line << '\n';
    out.flush();
    transcriptLost = transcriptLost || !out;
  };
  ui.onEvent = [&](const UiEvent& event) {
    if (privateCopy) {
      UiEvent shown = event;
      shown.text = privateCopy->RealPaths(shown.text);
      shown.title = privateCopy->RealPaths(shown.title);
      if (shown.reply) shown.reply = privateCopy->RealPaths(*shown.reply);
      print(FormatEvent(shown, json));
    } else {
      print(FormatEvent(event, json));
    }
    ui.Clear();
  };
  Platform::UiInstallation installation(ui);

  const ShopState::Service service = InstalledService();
  Summary summary;
  summary.mode = verify ? "verify" : remove ? "remove" : "install";
  summary.dryRun = dryRun;
  if (verify) {
    summary.items = ShopState::Verify(service, hostDbPath, *zipOption ? zip : "");
    const bool installed = std::all_of(summary.items.begin(), summary.items.end(),
                                       [](const ShopState::Item& item) { return item.result == "ok"; });
    summary.status = installed ? kExitSucceeded : kExitFailed;
  } else {
    // The steps tell what they do as they do it.
    Carrier::Report report;
    try {
      std::string target = hostDbPath;
      if (dryRun && Files_::LocateFile(hostDbPath, false)) {
        privateCopy.emplace(service, hostDbPath);
        target = privateCopy->HostDbPath();
      }
      summary.status = remove ? RemoveService(service, target, report.Items()) : InstallService(ui, target);
    } catch (const Platform::RunError& e) {
      MsgBox_::ShowProcessFailed(e.Description(), "The shop could not be copied for a dry run...", "");
    }
    summary.items = std::move(report.Items());
    // Told in the order the steps ran; shown as the shop holds them: the
    // record, the button, the files, then the chart.
    const auto files = service.ShopFiles();
    const auto rank = [&](const ShopState::Item& item) {
      if (item.name == "record") return 0;
      if (item.name == "button") return 1;
      const auto file = std::find(files.begin(), files.end(), item.name);
      return file != files.end() ? 2 + static_cast<int>(file - files.begin()) : 99;
    };
    std::stable_sort(summary.items.begin(), summary.items.end(),
                     [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
    summary.changed = Carrier::Changed(summary.items);
  }
  print(real(json ? SummaryJson(summary) : SummaryReadable(summary)));
  const int status = summary.status;
  if (status == kExitDisabled) {
    err << kProgramName << ": the add button stays disabled: '" << hostDbPath << "' names no file\n";
  } else if (status == kExitFailed && !verify && !remove && !*zipOption) {
    err << kProgramName << ": the ZIP code question was cancelled: no --zip was given\n";
  }
  if (!transcriptLost) return status;
  err << kProgramName << ": the transcript could not be written; the run ended with status " << status
      << " but has no record\n";
  return kExitNoTranscript;
}

}  // namespace

std::string FormatEvent(const UiEvent& event, bool json) { return json ? Json(event) : Readable(event); }

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    return Run(args, out, err);
  } catch (const std::exception& e) {
    err << kProgramName << ": " << e.what() << '\n';
  } catch (...) {
    err << kProgramName << ": an unexpected error has occurred\n";
  }
  return kExitFailed;
}

}  // namespace App::Runner
