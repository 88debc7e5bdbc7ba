// The installation driver, and what every step shares: the service, the report and Attempt.
#include <algorithm>

#include "Carrier.h"
#include "MsgBox_.h"
#include "Ui.h"

namespace Carrier {
namespace {

bool CheckServiceTables(const Service& service, const std::string& zonesDbPath, const std::string& servicesDbPath) {
  const bool zones = TableHasZones(service.code, zonesDbPath);
  if (zones && TableHasRates(service.code, servicesDbPath)) return true;
  const std::string& carrier = service.carrierName;
  const std::string kind = zones ? "Services" : "Zones";
  Platform::CurrentUi().MsgBox("You need the new " + carrier + " '" + service.code + "' service table to be added to your " +
                                   carrier + " " + kind + " database to continue.\r\rPlease contact Mailvoro Support to update your " +
                                   carrier + " " + kind + " database...",
                               Platform::kMbOkOnly | Platform::kMbInformation, "Cannot Add the Service");
  return false;
}

}  // namespace

std::vector<std::string> Service::ShopFiles() const {
  return {zonesFile, servicesFile, manifestReportFile, logoFile, labelLayoutFile};
}

const char* Word(Result result) {
  static const char* const kWords[] = {"added",   "extended", "created", "replaced",   "removed",  "cleared", "unchanged", "kept",
                                       "refused", "unreadable", "imported", "none", "ok", "missing", "differs"};
  return kWords[static_cast<int>(result)];
}

bool Changed(const std::vector<Item>& items) {
  return std::any_of(items.begin(), items.end(), [](const Item& item) { return item.result <= Result::Cleared; });
}

void Report::Tell(Item item) {
  const auto same = std::find_if(items_.begin(), items_.end(), [&](const Item& i) { return i.name == item.name; });
  if (same != items_.end()) *same = std::move(item);
  else items_.push_back(std::move(item));
}

std::optional<std::string> Attempt(const std::string& failureText, const std::function<void()>& body) {
  std::string description;
  try {
    body();
    return std::nullopt;
  } catch (const std::exception& error) {
    description = error.what();
  } catch (...) {
    description = "An unexpected error has occurred.";
  }
  MsgBox_::ShowProcessFailed(description, failureText, "");
  return description;
}

bool AddCarrierService(Run& run) {
  const Service& service = run.Installed();
  const std::string& hostDbPath = run.HostDbPath();
  bool masterResult = false;
  bool panelResult = false;
  bool hostChanged = false;
  // The databases take their places once the operator agrees, so that the record is never without them.
  if (CheckServiceTables(service, run.Prepared(run.ShopPath(service.zonesFile)),
                         run.Prepared(run.ShopPath(service.servicesFile))) &&
      Platform::CurrentUi().MsgBox("Would you like to add " + service.type + " '" + service.code +
                                       "' service to your Mailvoro ?",
                                   Platform::kMbOkCancel | Platform::kMbQuestion,
                                   "New " + service.carrierName + " Service is Available!") == Platform::kAnswerOk &&
      run.Commit()) {
    // A lookup that could not tell leaves its half alone, and the half fails: nothing is added twice.
    const auto inMaster = ServiceInMaster(service.code, hostDbPath);
    if (!inMaster) run.Told().Tell({.name = "record", .result = Result::Unreadable, .detail = "the [Master] lookup failed"});
    masterResult = inMaster && (*inMaster ? AddZone6(run) : AddServiceToMaster(run));
    const auto inPanel = ServiceInPanel(service.code, hostDbPath);
    if (!inPanel) run.Told().Tell({.name = "button", .result = Result::Unreadable, .detail = "the [Panel] lookup failed"});
    if (inPanel && *inPanel) run.Told().Tell({.name = "button", .result = Result::Unchanged});
    const bool added = inPanel && !*inPanel && AddServiceToPanel(run);
    panelResult = inPanel && (*inPanel || added);
    hostChanged = masterResult || added;
  }
  // The files stay only where the host database changed.
  run.End(hostChanged);
  return masterResult && panelResult;
}

}  // namespace Carrier
