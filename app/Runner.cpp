#include "Runner.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <optional>
#include <ostream>
#include <variant>

#include "AppInfo.h"
#include "Carrier.h"
#include "Files_.h"
#include "MainForm.h"
#include "MsgBox_.h"
#include "Options.h"
#include "RunError.h"
#include "Removal.h"
#include "ShopState.h"
#include "Summary.h"
#include "Ui.h"

namespace App::Runner {
namespace {

using Platform::UiEvent;

// The window as the runner plays it: every change is recorded as an event.
class RecordingView final : public FormView {
 public:
  RecordingView(Platform::ScriptedUi& ui, const std::string& initialPath) : ui_(ui), path_(initialPath) {
    ui_.Record({.kind = UiEvent::Kind::Path, .text = path_});
  }
  void Attach(MainForm& form) { form_ = &form; }

  void SetCaption(const std::string& text) override { ui_.Record({.kind = UiEvent::Kind::Caption, .text = text}); }
  std::string PathText() const override { return path_; }
  void SetPathText(const std::string& text) override {
    path_ = text;
    ui_.Record({.kind = UiEvent::Kind::Path, .text = path_});
    if (form_) form_->txtPath_Change();
  }
  void SetAddEnabled(bool enabled) override {
    enabled_ = enabled;
    ui_.Record({.kind = UiEvent::Kind::Enabled, .flag = enabled});
  }
  bool AddEnabled() const override { return enabled_; }

 private:
  Platform::ScriptedUi& ui_;
  MainForm* form_ = nullptr;
  std::string path_;
  bool enabled_ = true;  // the add button is enabled at design time
};

// The modes, each answering the exit status.

// Plays the window: loads the form, types the path, presses the add button.
// The steps tell what they do as they do it.
int Install(Platform::ScriptedUi& ui, const std::string& hostDbPath, std::vector<ShopState::Item>& items) {
  RecordingView view(ui, Platform::AppInfo::DefaultHostDbPath());
  MainForm form(view);
  view.Attach(form);
  form.Form_Load();
  view.SetPathText(hostDbPath);
  const int status = !view.AddEnabled()                                       ? kExitDisabled
                     : form.cmdAddService_Click() == AddOutcome::Succeeded ? kExitSucceeded
                                                                           : kExitFailed;
  items = form.Told();
  return status;
}

// The removal with the outcome told as the add command tells its own.
int Remove(const Carrier::Service& service, const std::string& hostDbPath, std::vector<ShopState::Item>& items) {
  if (!Files_::LocateFile(hostDbPath, false)) return kExitDisabled;
  const Platform::BusyPointer busy;
  const bool removed = Removal::Remove(service, hostDbPath, items);
  ShowOutcome(removed, service.carrierName + " service was removed successfully !",
              "Failed to remove " + service.carrierName + " service...", "Remove Service");
  return removed ? kExitSucceeded : kExitFailed;
}

int Verify(const Carrier::Service& service, const Options& options, std::vector<ShopState::Item>& items) {
  items = ShopState::Verify(service, options.hostDbPath, options.zip.value_or(""));
  const bool installed =
      std::all_of(items.begin(), items.end(), [](const ShopState::Item& item) { return item.result == Carrier::Result::Ok; });
  return installed ? kExitSucceeded : kExitFailed;
}

// A dry run's private copy of the shop, or none when the shop names no
// file (the run then ends as the real one would) or cannot be copied (told
// in the failure box; false).
bool CopyForDryRun(const Carrier::Service& service, const std::string& hostDbPath,
                   std::optional<ShopState::PrivateCopy>& copy) {
  if (!Files_::LocateFile(hostDbPath, false)) return true;
  try {
    copy.emplace(service, hostDbPath);
    return true;
  } catch (const Platform::RunError& e) {
    MsgBox_::ShowProcessFailed(e.Description(), "The shop could not be copied for a dry run...", "");
    return false;
  }
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Output& output) {
  const auto parsed = ParseOptions(args, out, err);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  const Options& options = std::get<Options>(parsed);
  if (options.programFolder) Platform::AppInfo::SetProgramFolder(*options.programFolder);

  // The scripted window: it answers from the options, and its events go to
  // the transcript as they happen, naming the shop's own files on a dry run.
  Transcript transcript(out, options.json, output);
  std::optional<ShopState::PrivateCopy> privateCopy;
  const auto real = [&](std::string text) { return privateCopy ? privateCopy->RealPaths(std::move(text)) : text; };
  Platform::ScriptedUi ui;
  if (options.zip) ui.inputAnswers.push_back(*options.zip);
  ui.defaultQuestionAnswer = options.yes ? Platform::kAnswerOk : Platform::kAnswerCancel;
  // Printed events are dropped at once, so a long chart import keeps
  // memory flat. Record() touches the event no more after this returns.
  ui.onEvent = [&](const UiEvent& event) {
    UiEvent shown = event;
    shown.text = real(shown.text);
    shown.title = real(shown.title);
    if (shown.reply) shown.reply = real(*shown.reply);
    transcript.Event(shown);
    ui.Clear();
  };
  ui.onProgress = std::bind_front(&Transcript::Progress, &transcript);
  Platform::UiInstallation installation(ui);

  const Carrier::Service service = InstalledService();
  const auto shopFiles = service.ShopFiles();
  Summary summary{.mode = options.verify ? "verify" : options.remove ? "remove" : "install", .dryRun = options.dryRun};
  if (options.verify) {
    summary.status = Verify(service, options, summary.items);
  } else if (!options.dryRun || CopyForDryRun(service, options.hostDbPath, privateCopy)) {
    const std::string target = privateCopy ? privateCopy->HostDbPath() : options.hostDbPath;
    summary.status = options.remove ? Remove(service, target, summary.items) : Install(ui, target, summary.items);
  }
  if (!options.verify) Settle(summary, shopFiles);
  transcript.Line(real(SummaryLine(summary, options.json)));
  // A dry run's texts name the shop's own files, not those of its copy.
  for (const auto& reason : Reasons(summary, options, shopFiles)) err << kProgramName << ": " << real(reason) << '\n';
  if (!transcript.Lost()) return summary.status;
  err << kProgramName << ": the transcript could not be written; the run ended with status " << summary.status
      << " but has no record\n";
  return kExitNoTranscript;
}

}  // namespace

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
