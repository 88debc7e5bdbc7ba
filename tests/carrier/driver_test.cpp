// The installation driver's branches, from the operator's point of view:
// which boxes appear, in which order, and what ends up in [Master] and
// [Panel]. Also the carrier's files on their way to the host folder.
#include <functional>

#include "Carrier.h"
#include "CarrierTestSupport.h"

namespace {

using namespace CarrierTest;

const std::string kQuestion = "New TARN-VEL Service is Available!|33|"
                              "Would you like to add TARN-VEL 'TARNVEL-GND' service to your Mailvoro ?";
std::string CannotAdd(const std::string& database) {
  return "Cannot Add the Service|64|You need the new TARN-VEL 'TARNVEL-GND' service table to be added to your TARN-VEL " +
         database + " database to continue.\r\rPlease contact Mailvoro Support to update your TARN-VEL " + database +
         " database...";
}
const std::string kLookupFailed = "Process has failed !|48|Process has failed !";
const std::string kMasterFailed = "Process has failed !|48|Failed to add TARN-VEL 'TARNVEL-GND' service to Master table...";

TEST_F(CarrierFixture, DriverBranchesAndOutcome) {
  const std::string kTemplate = "INSERT INTO Master VALUES ('FEDEX-GND', 'FEDEX', 6, 6, 'Ground');";
  const std::string kInstalled = "INSERT INTO Master VALUES ('TARNVEL-GND', 'TARN-VEL', 0, 0, NULL);";
  const std::string kPanelRows = "INSERT INTO Panel (PanelIndex, SV1) VALUES (1, 'FEDEX-GND'), (2, NULL);";
  const std::string kOnButton = "INSERT INTO Panel (PanelIndex, SV1, SV3) VALUES (3, 'FEDEX-GND', 'TARNVEL-GND');";
  const std::vector<std::string> kPanelBefore = {"1|FEDEX-GND|NULL", "2|NULL|NULL"},
                                 kPanelAdded = {"1|FEDEX-GND|NULL", "2|NULL|NULL", "3|TARNVEL-GND|NULL"},
                                 kMasterBefore = {"FEDEX-GND|FEDEX|6|6"},
                                 kMasterAdded = {"FEDEX-GND|FEDEX|6|6", "TARNVEL-GND|TARN-VEL|40|40"};
  struct Case {
    const char* name;
    std::string hostSql;
    bool zoneTable, rateTable;
    int answer;
    bool result;
    std::vector<std::string> boxes;   // title|style|sentence or text
    std::vector<std::string> master;  // Service|Carrier|ACTAP|AP by rowid
    std::vector<std::string> panel;   // PanelIndex|SV1|SV3 by rowid
  };
  const std::vector<Case> cases = {
      {"FirstInstall", kTemplate + kPanelRows, true, true, 1, true, {kQuestion}, kMasterAdded, kPanelAdded},
      {"SecondInstall", kTemplate + kInstalled + kOnButton, true, true, 1, true, {kQuestion}, kMasterAdded,
       {"3|FEDEX-GND|TARNVEL-GND"}},
      {"InMasterOnNoButton", kTemplate + kInstalled + kPanelRows, true, true, 1, true, {kQuestion}, kMasterAdded,
       kPanelAdded},
      {"MasterFailsPanelStillAdded", kPanelRows, true, true, 1, false, {kQuestion, kMasterFailed}, {}, kPanelAdded},
      {"OnButtonButNotInMaster", kTemplate + kOnButton, true, true, 1, true, {kQuestion}, kMasterAdded,
       {"3|FEDEX-GND|TARNVEL-GND"}},
      {"BothTablesMissing", kTemplate + kPanelRows, false, false, 1, false,
       {kLookupFailed, CannotAdd("Zones")}, kMasterBefore, kPanelBefore},
      {"RateTableMissing", kTemplate + kPanelRows, true, false, 1, false,
       {kLookupFailed, CannotAdd("Services")}, kMasterBefore, kPanelBefore},
      {"CancelAtQuestion", kTemplate + kPanelRows, true, true, 2, false, {kQuestion}, kMasterBefore, kPanelBefore},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui.Clear();
    const std::string host = File(std::string(c.name) + ".mdb"), zones = File(std::string(c.name) + "_Zones.mdb"),
                      services = File(std::string(c.name) + "_Services.mdb");
    TestSupport::CreateDatabase(host, "CREATE TABLE Master (Service TEXT COLLATE NOCASE, Carrier TEXT COLLATE NOCASE,"
                                      " ACTAP SHORT, AP SHORT, Notes MEMO);" + PanelTableSql() + c.hostSql);
    TestSupport::CreateDatabase(zones, c.zoneTable ? kZoneTableSql : "CREATE TABLE Zip2FileOfOrigin (LOZIP LONG);");
    TestSupport::CreateDatabase(services, std::string("CREATE TABLE ") + (c.rateTable ? "[TARNVEL-GND]" : "Other") +
                                              " (LBS DOUBLE);");
    ui.questionAnswers = {c.answer};
    EXPECT_EQ(Carrier::AddCarrierService("TARN-VEL", "Tarn-Vel Ground", "TARNVEL-GND", "TARN-VEL", "FEDEX-GND", host,
                                         zones, services),
              c.result);
    EXPECT_EQ(Boxes(), c.boxes);
    EXPECT_EQ(Rows(host, "SELECT Service, Carrier, ACTAP, AP FROM Master ORDER BY rowid"), c.master);
    EXPECT_EQ(Rows(host, "SELECT PanelIndex, SV1, SV3 FROM Panel ORDER BY rowid"), c.panel);
  }
}

TEST_F(CarrierFixture, CarrierFilesGoToTheHostFolder) {
  struct Row {
    const char* name;
    std::vector<std::string> present;  // in the program folder
    std::function<bool(const std::string& hostFolder)> install;
    bool result;
    std::vector<std::string> copied;
    std::string missing;  // the file the box names
  };
  const auto databases = [](const std::string& h) {
    return Carrier::CheckCarrierDatabases(h + "/TarnVel_Zones.mdb", h + "/TarnVel_Services.mdb");
  };
  const std::vector<Row> rows = {
      {"BothDatabases", {"TarnVel_Zones.mdb", "TarnVel_Services.mdb"}, databases, true,
       {"TarnVel_Zones.mdb", "TarnVel_Services.mdb"}, ""},
      {"ServicesMissingCopiesNothing", {"TarnVel_Zones.mdb"}, databases, false, {}, "TarnVel_Services.mdb"},
      {"LogoMissing", {}, [](const std::string& h) { return Carrier::InstallLogo(h + "/TarnVel.jpg"); }, false, {},
       "TarnVel.jpg"},
      {"LabelLayoutOverwritten", {"TarnVel_Generic.lab"},
       [](const std::string& h) {
         TestSupport::WriteFile(h + "/TarnVel_Generic.lab", "old");
         return Carrier::InstallLabelLayout(h + "/TarnVel_Generic.lab");
       },
       true, {"TarnVel_Generic.lab"}, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TestSupport::TempDir program, host;
    Platform::AppInfo::SetProgramFolder(program.Path().string());
    for (const auto& name : r.present) TestSupport::WriteFile(program.File(name), "content of " + name);
    ui.Clear();
    EXPECT_EQ(r.install(host.Path().string()), r.result);
    for (const auto& name : r.copied) EXPECT_EQ(TestSupport::ReadFile(host.File(name)), "content of " + name);
    EXPECT_EQ(std::filesystem::is_empty(host.Path()), r.copied.empty());
    EXPECT_EQ(Prompts(), r.missing.empty() ? std::vector<std::string>{}
                                           : std::vector<std::string>{"AddTarnVel has failed to locate the '" +
                                                                      program.File(r.missing) + "' file..."});
  }
}

}  // namespace
