// The installation steps, each called straight on databases and files made
// for the case. The cases are the JSON files beside this one. A step of a
// run works on a Run of the service below in the shop HOST; what it
// prepared is put in place when it succeeds.
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
                                   {"TarnVelEODManifest.rpt", "TarnVel.jpg", "TarnVel_Generic.lab"}};

Results OnRun(const Carrier::Service& service, const std::string& host, bool (*step)(Carrier::Run&)) {
  Carrier::Report report;
  Carrier::Run run(service, host, report);
  const bool done = step(run);
  if (done && run.Commit()) run.End(true);
  return Scenario::Bool(done);
}

// STEP CODE PATH: "true", "false", or "failed" when the query failed.
Scenario::Steps::mapped_type Found(std::optional<bool> (*find)(const std::string&, const std::string&)) {
  return [find](Scenario::Context&, const Args& a) {
    const auto found = find(a.at(0), a.at(1));
    return Results{found ? Scenario::Bool(*found)[0] : "failed"};
  };
}

// STEP HOST.
Scenario::Steps::mapped_type RunStep(bool (*step)(Carrier::Run&)) {
  return [step](Scenario::Context&, const Args& a) { return OnRun(kService, a.at(0), step); };
}

const Scenario::Steps kSteps = {
    // AddCarrierService TYPE DESCRIPTION CODE CARRIER TEMPLATE HOST ZONES SERVICES
    {"AddCarrierService",
     [](Scenario::Context&, const Args& a) {
       Carrier::Service s = kService;
       s.type = a.at(0), s.description = a.at(1), s.code = a.at(2), s.carrierName = a.at(3), s.templateService = a.at(4);
       s.zonesFile = Files_::NameOf(a.at(6)), s.servicesFile = Files_::NameOf(a.at(7));
       return OnRun(s, a.at(5), Carrier::AddCarrierService);
     }},
    {"CheckCarrierDatabases", RunStep(Carrier::CheckCarrierDatabases)},
    {"InstallSupportFiles", RunStep(Carrier::InstallSupportFiles)},
    {"FindInMaster", Found(Carrier::FindInMaster)},
    {"FindInPanel", Found(Carrier::FindInPanel)},
    {"TableHasZones", BoolStep<2>(Carrier::TableHasZones)},
    {"TableHasRates", BoolStep<2>(Carrier::TableHasRates)},
    {"ImportZoneChart",
     [](Scenario::Context&, const Args& a) {
       Carrier::Report report;
       return Scenario::Bool(Carrier::ImportZoneChart(a.at(0), a.at(1), a.at(2), report));
     }},
    {"PrepareZoneDatabase", RunStep(Carrier::PrepareZoneDatabase)},
    // AddServiceToPanel DESCRIPTION CODE CARRIER HOST
    {"AddServiceToPanel",
     [](Scenario::Context&, const Args& a) {
       Carrier::Service s = kService;
       s.description = a.at(0), s.code = a.at(1), s.carrierName = a.at(2);
       return OnRun(s, a.at(3), Carrier::AddServiceToPanel);
     }},
    // AddServiceToMaster TYPE CODE CARRIER TEMPLATE HOST
    {"AddServiceToMaster",
     [](Scenario::Context&, const Args& a) {
       Carrier::Service s = kService;
       s.type = a.at(0), s.code = a.at(1), s.carrierName = a.at(2), s.templateService = a.at(3);
       return OnRun(s, a.at(4), Carrier::AddServiceToMaster);
     }},
    {"AddZone6", RunStep(Carrier::AddZone6)},
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
