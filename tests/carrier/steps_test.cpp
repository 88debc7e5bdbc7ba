// The installation steps, each called straight on databases and files made
// for the case. The cases are the JSON files beside this one.
#include <gtest/gtest.h>

#include <filesystem>

#include "Carrier.h"
#include "Scenario.h"

namespace {

using Scenario::BoolStep;
using Scenario::Results;
using Args = std::vector<std::string>;

const Carrier::Service kService = {"TARNVEL-GND", "TARN-VEL", "Tarn-Vel Ground", "TARN-VEL", "FEDEX-GND",
                                   "TarnVel_Zones_Empty.mdb", "TarnVel_Zones.mdb", "TarnVel_Services.mdb",
                                   "TarnVelEODManifest.rpt", "TarnVel.jpg", "TarnVel_Generic.lab"};

// STEP HOST [DESCRIPTION]: the step on a Run of kService (with that
// description) in the shop HOST; what it prepared is put in place when it succeeds.
Scenario::Steps::mapped_type OnRun(bool (*step)(Carrier::Run&)) {
  return [step](Scenario::Context&, const Args& a) {
    Carrier::Service service = kService;
    if (a.size() > 1) service.description = a[1];
    Carrier::Report report;
    Carrier::Run run(service, a.at(0), report);
    const bool done = step(run);
    if (done && run.Commit()) run.End(true);
    return Scenario::Bool(done);
  };
}

// STEP CODE PATH: "true", "false", or "failed" when the query failed.
auto Found(std::optional<bool> (*find)(const std::string&, const std::string&)) {
  return [find](Scenario::Context&, const Args& a) {
    const auto found = find(a.at(0), a.at(1));
    return Results{!found ? "failed" : *found ? "true" : "false"};
  };
}

const Scenario::Steps kSteps = {
    {"AddCarrierService", OnRun(Carrier::AddCarrierService)},
    {"CheckCarrierDatabases", OnRun(Carrier::CheckCarrierDatabases)},
    {"InstallSupportFiles", OnRun(+[](Carrier::Run& run) {
       return Carrier::InstallManifestReport(run) && Carrier::InstallLogo(run) && Carrier::InstallLabelLayout(run);
     })},
    {"ServiceInMaster", Found(Carrier::ServiceInMaster)},
    {"ServiceInPanel", Found(Carrier::ServiceInPanel)},
    {"TableHasZones", BoolStep<2>(Carrier::TableHasZones)},
    {"TableHasRates", BoolStep<2>(Carrier::TableHasRates)},
    {"ImportZoneChart",
     [](Scenario::Context&, const Args& a) {
       Carrier::Report report;
       return Scenario::Bool(Carrier::ImportZoneChart(a.at(0), a.at(1), a.at(2), report));
     }},
    {"PrepareZoneDatabase", OnRun(Carrier::PrepareZoneDatabase)},
    {"AddServiceToPanel", OnRun(Carrier::AddServiceToPanel)},
    {"AddServiceToMaster", OnRun(Carrier::AddServiceToMaster)},
    {"AddZone6", OnRun(Carrier::AddZone6)},
    // ToWorking FILE NAME / FromWorking NAME FILE: the working copy of NAME
    // set from FILE, or copied out to FILE.
    {"ToWorking",
     [](Scenario::Context&, const Args& a) {
       std::filesystem::copy_file(a.at(0), Carrier::WorkingFile(a.at(1)), std::filesystem::copy_options::overwrite_existing);
       return Results{};
     }},
    {"FromWorking",
     [](Scenario::Context&, const Args& a) {
       std::error_code ec;
       std::filesystem::copy_file(Carrier::WorkingFile(a.at(0)), a.at(1), std::filesystem::copy_options::overwrite_existing, ec);
       return Results{};
     }},
    {"ZoneChartForZip",
     [](Scenario::Context&, const Args& a) {
       const auto fileName = Carrier::ZoneChartForZip(a.at(0), a.at(1));
       return Results{fileName ? "true" : "false", fileName.value_or("")};
     }},
};

TEST(CarrierSteps, Lookups) { Scenario::RunFile(ATV_CASES_DIR "/lookups.json", kSteps); }
TEST(CarrierSteps, ZoneChart) { Scenario::RunFile(ATV_CASES_DIR "/zone_chart.json", kSteps); }
TEST(CarrierSteps, HostChanges) { Scenario::RunFile(ATV_CASES_DIR "/host_changes.json", kSteps); }
TEST(CarrierSteps, Driver) { Scenario::RunFile(ATV_CASES_DIR "/driver.json", kSteps); }

}  // namespace
