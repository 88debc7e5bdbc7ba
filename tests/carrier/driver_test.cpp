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
const std::string kNoZonesLine =
    "Cannot Add the Service|64|You need the new TARN-VEL 'TARNVEL-GND' service table to be added to your TARN-VEL "
    "Zones database to continue.";
const std::string kNoRatesLine =
    "Cannot Add the Service|64|You need the new TARN-VEL 'TARNVEL-GND' service table to be added to your TARN-VEL "
    "Services database to continue.";
const std::string kNoZones = kNoZonesLine + "\r\rPlease contact Mailvoro Support to update your TARN-VEL Zones database...";
const std::string kNoRates =
    kNoRatesLine + "\r\rPlease contact Mailvoro Support to update your TARN-VEL Services database...";
const std::string kLookupFailed = "Process has failed !|48|Process has failed !";
const std::string kMasterFailed = "Process has failed !|48|Failed to add TARN-VEL 'TARNVEL-GND' service to Master table...";

const std::string kMasterTable =
    "CREATE TABLE Master (Service TEXT COLLATE NOCASE, Carrier TEXT COLLATE NOCASE, ACTAP SHORT, AP SHORT,"
    " Notes MEMO);";
const std::string kTemplate = "INSERT INTO Master VALUES ('FEDEX-GND', 'FEDEX', 6, 6, 'Ground');";
const std::string kInstalled = "INSERT INTO Master VALUES ('TARNVEL-GND', 'TARN-VEL', 0, 0, NULL);";
const std::string kPanelRows = "INSERT INTO Panel (PanelIndex, SV1) VALUES (1, 'FEDEX-GND'), (2, NULL);";
const std::string kOnButton = "INSERT INTO Panel (PanelIndex, SV1, SV3) VALUES (3, 'FEDEX-GND', 'TARNVEL-GND');";

struct DriverCase {
  const char* name;
  std::string hostSql;
  bool zoneTable, rateTable;
  int answer;
  bool result;
  std::vector<std::string> boxes;   // title|style|sentence or text
  std::vector<std::string> master;  // Service|Carrier|ACTAP|AP by rowid
  std::vector<std::string> panel;   // PanelIndex|SV1|SV3 by rowid
};
void PrintTo(const DriverCase& c, std::ostream* os) { *os << c.name; }

class Driver : public CarrierFixture, public ::testing::WithParamInterface<DriverCase> {};

TEST_P(Driver, BranchesAndOutcome) {
  const auto& c = GetParam();
  const std::string host = File("Mailvoro.mdb"), zones = File("TarnVel_Zones.mdb"),
                    services = File("TarnVel_Services.mdb");
  TestSupport::CreateDatabase(host, kMasterTable + PanelTableSql() + c.hostSql);
  TestSupport::CreateDatabase(zones, c.zoneTable ? "CREATE TABLE [TARNVEL-GND] (LOZIP LONG, HIZIP LONG, ZONE SHORT);"
                                                 : "CREATE TABLE Zip2FileOfOrigin (LOZIP LONG);");
  TestSupport::CreateDatabase(services, c.rateTable ? "CREATE TABLE [TARNVEL-GND] (LBS DOUBLE);"
                                                    : "CREATE TABLE Other (LBS DOUBLE);");
  ui.questionAnswers.push_back(c.answer);

  EXPECT_EQ(Carrier::AddCarrierService("TARN-VEL", "Tarn-Vel Ground", "TARNVEL-GND", "TARN-VEL", "FEDEX-GND", host,
                                       zones, services),
            c.result);

  std::vector<std::string> boxes;
  for (const auto& box : ui.EventsOf(UiEvent::Kind::Message))
    boxes.push_back(box.title + "|" + std::to_string(box.style) + "|" + SentenceOf(box.text));
  EXPECT_EQ(boxes, c.boxes);
  EXPECT_EQ(Rows(host, "SELECT Service, Carrier, ACTAP, AP FROM Master ORDER BY rowid"), c.master);
  EXPECT_EQ(Rows(host, "SELECT PanelIndex, SV1, SV3 FROM Panel ORDER BY rowid"), c.panel);
}

const std::vector<std::string> kPanelBefore = {"1|FEDEX-GND|NULL", "2|NULL|NULL"};
std::vector<std::string> Plus(std::vector<std::string> rows, const std::string& row) {
  rows.push_back(row);
  return rows;
}

INSTANTIATE_TEST_SUITE_P(
    Carrier, Driver,
    ::testing::ValuesIn(std::vector<DriverCase>{
        {"FirstInstall", kTemplate + kPanelRows, true, true, 1, true, {kQuestion},
         {"FEDEX-GND|FEDEX|6|6", "TARNVEL-GND|TARN-VEL|40|40"}, Plus(kPanelBefore, "3|TARNVEL-GND|NULL")},
        {"SecondInstall", kTemplate + kInstalled + kOnButton, true, true, 1, true, {kQuestion},
         {"FEDEX-GND|FEDEX|6|6", "TARNVEL-GND|TARN-VEL|40|40"}, {"3|FEDEX-GND|TARNVEL-GND"}},
        {"InMasterOnNoButton", kTemplate + kInstalled + kPanelRows, true, true, 1, true, {kQuestion},
         {"FEDEX-GND|FEDEX|6|6", "TARNVEL-GND|TARN-VEL|40|40"}, Plus(kPanelBefore, "3|TARNVEL-GND|NULL")},
        {"MasterFailsPanelStillAdded", kPanelRows, true, true, 1, false, {kQuestion, kMasterFailed}, {},
         Plus(kPanelBefore, "3|TARNVEL-GND|NULL")},
        {"OnButtonButNotInMaster", kTemplate + kOnButton, true, true, 1, true, {kQuestion},
         {"FEDEX-GND|FEDEX|6|6", "TARNVEL-GND|TARN-VEL|40|40"}, {"3|FEDEX-GND|TARNVEL-GND"}},
        {"BothTablesMissing", kTemplate + kPanelRows, false, false, 1, false, {kLookupFailed, kNoZonesLine},
         {"FEDEX-GND|FEDEX|6|6"}, kPanelBefore},
        {"RateTableMissing", kTemplate + kPanelRows, true, false, 1, false, {kLookupFailed, kNoRatesLine},
         {"FEDEX-GND|FEDEX|6|6"}, kPanelBefore},
        {"CancelAtQuestion", kTemplate + kPanelRows, true, true, 2, false, {kQuestion}, {"FEDEX-GND|FEDEX|6|6"},
         kPanelBefore},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// The exact texts of the two "Cannot Add the Service" boxes (the table
// above compares only their first line).
TEST_F(CarrierFixture, CheckServiceTablesNamesTheMissingDatabase) {
  const std::string zones = File("z.mdb"), services = File("s.mdb");
  TestSupport::CreateDatabase(zones, "CREATE TABLE [TARNVEL-GND] (ZONE SHORT);");
  TestSupport::CreateDatabase(services, "CREATE TABLE Other (LBS DOUBLE);");
  EXPECT_FALSE(Carrier::CheckServiceTables("TARNVEL-GND", "TARN-VEL", zones, services));
  EXPECT_FALSE(Carrier::CheckServiceTables("TARNVEL-GND", "TARN-VEL", File("none.mdb"), services));
  const auto boxes = ui.EventsOf(UiEvent::Kind::Message);
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[1].title + "|" + std::to_string(boxes[1].style) + "|" + boxes[1].text, kNoRates);
  EXPECT_EQ(boxes[3].title + "|" + std::to_string(boxes[3].style) + "|" + boxes[3].text, kNoZones);
}

// The carrier's files.

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
      {"Manifest", {"TarnVelEODManifest.rpt"},
       [](const std::string& h) { return Carrier::InstallManifestReport(h + "/TarnVelEODManifest.rpt"); }, true,
       {"TarnVelEODManifest.rpt"}, ""},
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
    if (r.copied.empty()) {
      EXPECT_TRUE(std::filesystem::is_empty(host.Path()));
    }
    const auto prompts = Prompts();
    if (r.missing.empty()) {
      EXPECT_TRUE(prompts.empty());
    } else {
      EXPECT_EQ(prompts, std::vector<std::string>{"AddTarnVel has failed to locate the '" + program.File(r.missing) +
                                                  "' file..."});
    }
  }
}

}  // namespace
