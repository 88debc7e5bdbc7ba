#include "MainForm.h"

#include "AppInfo.h"
#include "Carrier.h"
#include "Files_.h"
#include "Ui.h"

namespace App {

Carrier::Service InstalledService() {
  return {.code = "TARNVEL-GND",
          .type = "TARN-VEL",
          .description = "Tarn-Vel Ground",
          .carrierName = "TARN-VEL",
          .templateService = "FEDEX-GND",
          .emptyZonesFile = "TarnVel_Zones_Empty.mdb",
          .zonesFile = "TarnVel_Zones.mdb",
          .servicesFile = "TarnVel_Services.mdb",
          .manifestReportFile = "TarnVelEODManifest.rpt",
          .logoFile = "TarnVel.jpg",
          .labelLayoutFile = "TarnVel_Generic.lab"};
}

void ShowOutcome(bool succeeded, const std::string& succeededText, const std::string& failedText,
                 const std::string& title) {
  auto& ui = Platform::CurrentUi();
  ui.SetStatusText(succeeded ? "Finished successfully !" : failedText);
  ui.MsgBox(succeeded ? succeededText : failedText,
            Platform::kMbOkOnly + (succeeded ? Platform::kMbInformation : Platform::kMbCritical), title);
}

void MainForm::Form_Load() {
  view_.SetAddEnabled(Files_::LocateFile(view_.PathText(), false));
  if (!view_.AddEnabled()) view_.SetPathText("");
  view_.SetCaption("Add TARN-VEL Service " + Platform::AppInfo::VersionText());
}

void MainForm::txtPath_Change() { view_.SetAddEnabled(Files_::LocateFile(view_.PathText(), false)); }

void MainForm::cmdCD_Click() {
  // Any failure of the dialog, like Cancel, leaves the path box as it was.
  try {
    auto chosen = Platform::CurrentUi().OpenFileDialog("Locate Mailvoro.mdb", "Mailvoro Database (Mailvoro.mdb)",
                                                       "Mailvoro.mdb", dialogFileName_);
    if (!chosen) return;
    dialogFileName_ = *chosen;
    view_.SetPathText(dialogFileName_);
  } catch (...) {
  }
}

bool MainForm::AddService() {
  told_.Items().clear();
  Carrier::Run run(InstalledService(), view_.PathText(), told_);
  const bool added = Carrier::PrepareZoneDatabase(run) && Carrier::CheckCarrierDatabases(run) &&
                     Carrier::InstallManifestReport(run) && Carrier::InstallLogo(run) &&
                     Carrier::InstallLabelLayout(run) && Carrier::AddCarrierService(run);
  ShowOutcome(added, "TARN-VEL service was added successfully !", "Failed to add TARN-VEL service...", "Add Service");
  return added;
}

AddOutcome MainForm::cmdAddService_Click() {
  try {
    // The failure box is shown before the pointer is restored, as the outcome boxes are.
    Platform::BusyPointer busy;
    auto outcome = AddOutcome::ProcessFailed;
    Carrier::Attempt("Failed to add the service...",
                     [&] { outcome = AddService() ? AddOutcome::Succeeded : AddOutcome::Failed; });
    return outcome;
  } catch (...) {
    // Even the failure box failed; nothing more can be told.
  }
  return AddOutcome::ProcessFailed;
}

}  // namespace App
