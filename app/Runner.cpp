#include "Runner.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <nlohmann/json.hpp>
#include <ostream>

#include "AppInfo.h"
#include "MainForm.h"

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
    "Exit status:\n"
    "  0  the service was added (the success box)\n"
    "  1  the installation failed (the failure box or \"Process has failed !\")\n"
    "  2  usage error\n"
    "  3  the add button stayed disabled (HOST_DB_PATH names no file)\n"
    "  4  the transcript could not be written (a full disk, a closed pipe): the run has no record\n"
    "\n"
    "Example:\n"
    "  addtarnvel-cli --zip 10001 --yes --json /srv/shop/Mailvoro.mdb";

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CLI::App app{"Adds the TARN-VEL service to a Mailvoro shop database without a window.", kProgramName};
  std::string zip;
  bool yes = false;
  bool json = false;
  std::string programFolder;
  std::string hostDbPath;
  auto* zipOption = app.add_option("--zip", zip, "Answer the ZIP code question with TEXT (else it is cancelled)")
                        ->type_name("TEXT");
  app.add_flag("--yes", yes, "Answer OK to the confirmation question (else Cancel)");
  app.add_flag("--json", json, "Print the events as JSON Lines");
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
  // Printed events are dropped at once, so a long chart import keeps
  // memory flat. Record() touches the event no more after this returns.
  bool transcriptLost = false;
  ui.onEvent = [&](const UiEvent& event) {
    out << FormatEvent(event, json) << '\n';
    out.flush();
    transcriptLost = transcriptLost || !out;
    ui.Clear();
  };
  Platform::UiInstallation installation(ui);

  RecordingView view(ui, Platform::AppInfo::DefaultHostDbPath());
  MainForm form(view);
  view.Attach(form);
  form.Form_Load();
  view.SetPathText(hostDbPath);
  int status = kExitSucceeded;
  if (!view.AddEnabled()) {
    err << kProgramName << ": the add button stays disabled: '" << hostDbPath << "' names no file\n";
    status = kExitDisabled;
  } else if (form.cmdAddService_Click() != AddOutcome::Succeeded) {
    if (!*zipOption) err << kProgramName << ": the ZIP code question was cancelled: no --zip was given\n";
    status = kExitFailed;
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
