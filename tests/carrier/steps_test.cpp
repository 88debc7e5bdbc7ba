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

const Scenario::Steps kSteps = {
    {"AddCarrierService", BoolStep<8>(Carrier::AddCarrierService)},
    {"CheckCarrierDatabases", BoolStep<2>(Carrier::CheckCarrierDatabases)},
    {"InstallLogo", BoolStep<1>(Carrier::InstallLogo)},
    {"InstallLabelLayout", BoolStep<1>(Carrier::InstallLabelLayout)},
    {"ServiceInMaster", BoolStep<2>(Carrier::ServiceInMaster)},
    {"ServiceInPanel", BoolStep<2>(Carrier::ServiceInPanel)},
    {"TableHasZones", BoolStep<2>(Carrier::TableHasZones)},
    {"TableHasRates", BoolStep<2>(Carrier::TableHasRates)},
    {"ImportZoneChart", BoolStep<3>(Carrier::ImportZoneChart)},
    {"PrepareZoneDatabase", BoolStep<4>(Carrier::PrepareZoneDatabase)},
    {"AddServiceToPanel", BoolStep<4>(Carrier::AddServiceToPanel)},
    {"AddServiceToMaster", BoolStep<5>(Carrier::AddServiceToMaster)},
    {"AddZone6", BoolStep<5>(Carrier::AddZone6)},
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
       std::string fileName = "stale";
       const bool found = Carrier::ZoneChartForZip(a.at(0), a.at(1), fileName);
       return Results{found ? "true" : "false", fileName};
     }},
};

TEST(CarrierSteps, Lookups) { Scenario::RunFile(ATV_CASES_DIR "/lookups.json", kSteps); }
TEST(CarrierSteps, ZoneChart) { Scenario::RunFile(ATV_CASES_DIR "/zone_chart.json", kSteps); }
TEST(CarrierSteps, HostChanges) { Scenario::RunFile(ATV_CASES_DIR "/host_changes.json", kSteps); }
TEST(CarrierSteps, Driver) { Scenario::RunFile(ATV_CASES_DIR "/driver.json", kSteps); }

}  // namespace
