// The carrier's files: prepared by the steps, put in place by the run just before the host database changes.
#include <algorithm>

#include "AppInfo.h"
#include "Carrier.h"
#include "DatabaseLocks.h"
#include "MsgBox_.h"
#include "RunError.h"

namespace Carrier {

using Platform::AppInfo::InProgramFolder;

struct Run::Staged {
  std::string source, destination;
  std::unique_ptr<Files_::StagedCopy> copy;
};

Run::Run(Service service, std::string hostDbPath, Report& report)
    : service_(std::move(service)),
      hostDbPath_(std::move(hostDbPath)),
      report_(report),
      lock_(Files_::FolderOfPath(hostDbPath_)) {}

Run::~Run() {
  // Not ended: placed files stay new, as after a later failure.
  try {
    End(true);
  } catch (...) {
  }
}

std::string Run::ShopPath(const std::string& name) const { return Files_::Beside(hostDbPath_, name); }

bool Run::CopyFailed(const std::string& source, const std::string& destination, const std::string& description) {
  MsgBox_::ShowCopyFailed(source, destination);
  report_.Tell({.name = Files_::NameOf(destination), .result = Result::Refused, .detail = description});
  return false;
}

bool Run::Stage(const std::string& source, const std::string& destination) {
  try {
    staged_.push_back({source, destination, std::make_unique<Files_::StagedCopy>(source, destination, Db::kDatabaseLocks)});
    return true;
  } catch (const Platform::RunError& error) {
    return CopyFailed(source, destination, error.Description());
  }
}

std::string Run::Prepared(const std::string& destination) const {
  for (const auto& staged : staged_)
    if (staged.destination == destination) return staged.copy->Path();
  return destination;
}

bool Run::Commit() {
  for (auto& staged : staged_) {
    try {
      staged.copy->Place();
    } catch (const Platform::RunError& error) {
      PutBack();
      return CopyFailed(staged.source, staged.destination, error.Description());
    }
  }
  committed_ = true;
  return true;
}

void Run::PutBack() {
  for (auto it = staged_.rbegin(); it != staged_.rend(); ++it) {
    try {
      it->copy->Restore();
    } catch (const Platform::RunError& error) {
      MsgBox_::ShowProcessFailed(error.Description(), "Failed to put back '" + it->destination + "'...", "");
    }
  }
}

void Run::End(bool hostChanged) {
  if (ended_) return;
  if (committed_ && !hostChanged) PutBack();
  for (auto& staged : staged_) {
    if (staged.copy->Placed()) staged.copy->Settle();
  }
  ended_ = true;
  TellFiles(committed_ ? "put back: the shop database was not changed"
                       : "not put in place: the run ended before the shop database was changed");
}

void Run::TellFiles(const char* notPlacedDetail) {
  auto& items = report_.Items();
  const auto told = [&](const std::string& name, Result result) {
    return std::any_of(items.begin(), items.end(), [&](const Item& i) { return i.name == name && i.result == result; });
  };
  for (const auto& staged : staged_) {
    const auto& copy = *staged.copy;
    Item item{.name = Files_::NameOf(staged.destination), .result = Result::Unchanged};
    if (told(item.name, Result::Refused)) continue;  // its copy failed where it was put in place
    if (copy.Placed()) item.result = copy.Replaces() ? Result::Replaced : Result::Created;
    else if (copy.Changes()) item.detail = notPlacedDetail;
    report_.Tell(std::move(item));
  }
  // A chart whose zones database changed nothing in the shop was not installed.
  const bool placedAny = std::any_of(staged_.begin(), staged_.end(), [](const Staged& s) { return s.copy->Placed(); });
  const bool changesAny = std::any_of(staged_.begin(), staged_.end(), [](const Staged& s) { return s.copy->Changes(); });
  const auto chart = std::find_if(items.begin(), items.end(), [](const Item& i) { return i.name == "chart"; });
  if (!placedAny && changesAny && chart != items.end() && chart->result == Result::Imported)
    *chart = {.name = "chart", .result = Result::None, .detail = chart->detail + "; not installed", .rows = chart->rows};
}

bool CheckCarrierDatabases(Run& run) {
  const Service& service = run.Installed();
  const std::string zonesSource = WorkingFile(service.zonesFile);
  const std::string servicesSource = InProgramFolder(service.servicesFile);
  if (!Files_::LocateFile(zonesSource, true)) return false;
  if (!Files_::LocateFile(servicesSource, true)) return false;
  return run.Stage(zonesSource, run.ShopPath(service.zonesFile)) &&
         run.Stage(servicesSource, run.ShopPath(service.servicesFile));
}

namespace {

bool InstallSupportFile(Run& run, const std::string& name) {
  const std::string source = InProgramFolder(name);
  return Files_::LocateFile(source, true) && run.Stage(source, run.ShopPath(name));
}

}  // namespace

bool InstallManifestReport(Run& run) { return InstallSupportFile(run, run.Installed().manifestReportFile); }
bool InstallLogo(Run& run) { return InstallSupportFile(run, run.Installed().logoFile); }
bool InstallLabelLayout(Run& run) { return InstallSupportFile(run, run.Installed().labelLayoutFile); }

}  // namespace Carrier
