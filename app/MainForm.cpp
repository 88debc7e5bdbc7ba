#include "MainForm.h"

#include <exception>

#include "AppInfo.h"
#include "Carrier.h"
#include "Files_.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "Ui.h"

namespace App {
namespace {

// The carrier and the service this program installs, handed down to the
// steps as arguments.
const std::string kCarrierName = "TARN-VEL";
const std::string kServiceType = "TARN-VEL";
const std::string kServiceCode = "TARNVEL-GND";
const std::string kServiceDescription = "Tarn-Vel Ground";
const std::string kTemplateService = "FEDEX-GND";
const std::string kEmptyZonesFile = "TarnVel_Zones_Empty.mdb";
const std::string kZonesFile = "TarnVel_Zones.mdb";
const std::string kServicesFile = "TarnVel_Services.mdb";
const std::string kManifestReportFile = "TarnVelEODManifest.rpt";
const std::string kLogoFile = "TarnVel.jpg";
const std::string kLabelLayoutFile = "TarnVel_Generic.lab";

const std::string kCaption = "Add TARN-VEL Service ";
const std::string kDialogTitle = "Locate Mailvoro.mdb";
const std::string kDialogFilterDescription = "Mailvoro Database (Mailvoro.mdb)";
const std::string kDialogFilterPattern = "Mailvoro.mdb";

const std::string kAddServiceTitle = "Add Service";
const std::string kSucceededText = "TARN-VEL service was added successfully !";
const std::string kSucceededStatus = "Finished successfully !";
const std::string kFailedText = "Failed to add TARN-VEL service...";
const std::string kProcessFailedText = "Failed to add the service...";

}  // namespace

ShopState::Service InstalledService() {
  return {kCarrierName, kServiceType,  kServiceCode, kEmptyZonesFile,
          kZonesFile,   kServicesFile, {kManifestReportFile, kLogoFile, kLabelLayoutFile}};
}

void ShowOutcome(bool succeeded, const std::string& succeededText, const std::string& failedText,
                 const std::string& title) {
  auto& ui = Platform::CurrentUi();
  ui.SetStatusText(succeeded ? kSucceededStatus : failedText);
  ui.MsgBox(succeeded ? succeededText : failedText,
            Platform::kMbOkOnly + (succeeded ? Platform::kMbInformation : Platform::kMbCritical), title);
}

void MainForm::Form_Load() {
  view_.SetAddEnabled(Files_::LocateFile(view_.PathText(), false));
  if (!view_.AddEnabled()) view_.SetPathText("");
  view_.SetCaption(kCaption + Platform::AppInfo::VersionText());
}

void MainForm::txtPath_Change() { view_.SetAddEnabled(Files_::LocateFile(view_.PathText(), false)); }

void MainForm::cmdCD_Click() {
  // Any failure of the dialog ends the handler silently and leaves the
  // path box as it was; so does Cancel.
  try {
    auto chosen = Platform::CurrentUi().OpenFileDialog(kDialogTitle, kDialogFilterDescription,
                                                       kDialogFilterPattern, dialogFileName_);
    if (!chosen) return;
    dialogFileName_ = *chosen;
    view_.SetPathText(dialogFileName_);
  } catch (...) {
  }
}

bool MainForm::AddService() {
  const std::string hostDbPath = view_.PathText();
  const std::string hostFolder = Files_::FolderOfPath(hostDbPath);
  const std::string folder = hostFolder + Platform::AppInfo::PathSeparator();
  const std::string zonesDbPath = folder + kZonesFile;
  const std::string servicesDbPath = folder + kServicesFile;
  // One installation at a time into one shop's folder; the carrier's files
  // take their places only when the host database changes.
  const Carrier::Run run(hostFolder);

  const bool added =
      Carrier::PrepareZoneDatabase(kCarrierName, kEmptyZonesFile, kZonesFile, kServiceCode) &&
      Carrier::CheckCarrierDatabases(zonesDbPath, servicesDbPath) &&
      Carrier::InstallManifestReport(folder + kManifestReportFile) &&
      Carrier::InstallLogo(folder + kLogoFile) && Carrier::InstallLabelLayout(folder + kLabelLayoutFile) &&
      Carrier::AddCarrierService(kServiceType, kServiceDescription, kServiceCode, kCarrierName, kTemplateService,
                                 hostDbPath, zonesDbPath, servicesDbPath);

  ShowOutcome(added, kSucceededText, kFailedText, kAddServiceTitle);
  return added;
}

AddOutcome MainForm::cmdAddService_Click() {
  try {
    // The failure box is shown before the pointer is restored, as the
    // outcome boxes are: the guard ends with this scope.
    Platform::BusyPointer busy;
    try {
      return AddService() ? AddOutcome::Succeeded : AddOutcome::Failed;
    } catch (const Platform::RunError& e) {
      MsgBox_::ShowProcessFailed(e.Description(), kProcessFailedText, "");
    } catch (const std::exception& e) {
      MsgBox_::ShowProcessFailed(e.what(), kProcessFailedText, "");
    } catch (...) {
      MsgBox_::ShowProcessFailed("An unexpected error has occurred.", kProcessFailedText, "");
    }
  } catch (...) {
    // Even the failure box failed; nothing more can be told.
  }
  return AddOutcome::ProcessFailed;
}

}  // namespace App
