// The installation steps, called straight on databases and files made per case in a temporary folder (also the
// program folder) with a scripted Ui. What the operator saw is asserted by kind; the words, in the app's transcripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>

#include "AppInfo.h"
#include "Carrier.h"
#include "Files_.h"
#include "ScriptedUi.h"
#include "Shop.h"
#include "Ui.h"

namespace {

namespace fs = std::filesystem;
using Step = std::function<std::string(const std::string& path)>;  // "true", "false", "failed" or what it found

const auto kService = Carrier::Service("TARNVEL-GND", "TARN-VEL", "Tarn-Vel Ground", "TARN-VEL", "FEDEX-GND",
                                       "TarnVel_Zones_Empty.mdb", "TarnVel_Zones.mdb", "TarnVel_Services.mdb",
                                       "TarnVelEODManifest.rpt", "TarnVel.jpg", "TarnVel_Generic.lab");

std::string Join(const std::vector<std::string>& parts, const char* separator = "; ") {
  std::string joined;
  for (const auto& part : parts) joined += (joined.empty() ? "" : separator) + part;
  return joined;
}

std::string Rows(const std::string& path, const std::string& sql) { return Join(TestSupport::QueryRows(path, sql)); }

std::string Db(const std::string& path, const std::string& sql) {
  TestSupport::CreateDatabase(path, sql);
  return path;
}

// Writes `text` at `path`, making its folder.
void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  TestSupport::WriteFile(path.string(), text);
}

Platform::ScriptedUi& Ui() { return static_cast<Platform::ScriptedUi&>(Platform::CurrentUi()); }

// The step on a Run of kService (with that description) in the shop at the path, its files placed on success.
Step OnRun(bool (*step)(Carrier::Run&), const std::string& description = kService.description) {
  return [=](const std::string& host) {
    Carrier::Service service = kService;
    service.description = description;
    Carrier::Report report;
    Carrier::Run run(service, host, report);
    const bool done = step(run);
    if (done) run.Commit();
    return std::string(done ? "true" : "false");
  };
}

// AddCarrierService, the carrier's databases made beside the shop from `zones` and `rates`, the question answered.
Step Driver(const std::string& zones, const std::string& rates, int answer = 1) {
  return [=](const std::string& host) {
    Db(Files_::Beside(host, "TarnVel_Zones.mdb"), zones);
    Db(Files_::Beside(host, "TarnVel_Services.mdb"), rates);
    Ui().questionAnswers = {answer};
    return OnRun(Carrier::AddCarrierService)(host);
  };
}

Step Found(std::optional<bool> (*find)(const std::string&, const std::string&)) {
  return [=](const std::string& host) {
    const auto found = find("TARNVEL-GND", host);
    return std::string(!found ? "failed" : *found ? "true" : "false");
  };
}

Step Zip(const char* zip) {
  return [=](const std::string& map) { return Carrier::ZoneChartForZip(map, zip).value_or(""); };
}

// The chart `text` written at `name` beside the zones database (no file for nullptr), then imported into it.
Step Import(const char* name, const char* text = "A,1,2,3\r\n") {
  return [=](const std::string& zones) {
    if (text) Write(Files_::Beside(zones, name), text);
    Carrier::Report report;
    const bool done = Carrier::ImportZoneChart(Files_::Beside(zones, name), zones, "TARNVEL-GND", report);
    return std::string(done ? "true" : "false");
  };
}

// The step, answering the last status it showed without its leading words.
Step Shown(const Step& step) {
  return [=](const std::string& path) {
    step(path);
    return Ui().Events().back().text.substr(std::string(Carrier::kImportingZones).size());
  };
}

std::string KindOf(const Platform::UiEvent& e) {
  using Kind = Platform::UiEvent::Kind;
  return e.kind == Kind::Message ? "box" + std::to_string(e.style) : e.kind == Kind::Input ? "input" : "status";
}

// The files of the folder, each as " name=text".
std::string Listing(const std::string& folder) {
  std::string listing;
  for (const auto& [name, hash] : TestSupport::FolderContents(folder))
    listing += " " + name + "=" + TestSupport::ReadFile(folder + "/" + name);
  return listing;
}

// The step on a shop in the folder "shop" beside the path, the carrier's `files` in the program folder ("work": the
// working copy of the zones): its answer, then the shop folder after it.
Step Copy(bool (*step)(Carrier::Run&), const std::vector<std::pair<std::string, std::string>>& files) {
  return [=](const std::string& path) {
    const std::string shop = Files_::Beside(path, "shop");
    fs::create_directories(shop);
    for (const auto& [name, text] : files)
      Write(name == "work" ? Carrier::WorkingFile("TarnVel_Zones.mdb") : Files_::Beside(path, name), text);
    const std::string answer = OnRun(step)(shop + "/Mailvoro.mdb");
    return answer + Listing(shop);
  };
}

bool SupportFiles(Carrier::Run& run) {
  return Carrier::InstallManifestReport(run) && Carrier::InstallLogo(run) && Carrier::InstallLabelLayout(run);
}

class Steps : public testing::Test {
 protected:
  Steps() { Platform::AppInfo::SetProgramFolder(dir.Path().string()); }

  // What the operator saw: "box<style>", "input" or "status", a run of one kind as "status*6".
  std::string Kinds() const {
    const auto& events = ui.Events();
    std::vector<std::string> runs;
    for (auto it = events.begin(); it != events.end();) {
      const auto end = std::find_if(it, events.end(), [&](const auto& e) { return KindOf(e) != KindOf(*it); });
      runs.push_back(KindOf(*it) + (end - it > 1 ? "*" + std::to_string(end - it) : ""));
      it = end;
    }
    return Join(runs, " ");
  }

  TestSupport::TempDir dir;
  Platform::ScriptedUi ui;
  Platform::UiInstallation installed{ui};
};

// A shop's [Master] and [Panel] as the driver reads them, and the carrier's tables.
const std::string kPanel =
    "CREATE TABLE Panel (PanelIndex LONG, BD1 TEXT, SV1 TEXT COLLATE NOCASE, SV2 TEXT, SV3 TEXT, SV4 TEXT, SV5 TEXT,"
    " SV6 TEXT, SV7 TEXT COLLATE NOCASE, Domestic SHORT, Icon SHORT, Message TEXT, ForeColor LONG, BackColor LONG);";
const std::string kHost = "CREATE TABLE Master (Service TEXT COLLATE NOCASE, ACTAP SHORT, AP SHORT, Notes MEMO);" +
                          kPanel + "INSERT INTO Master VALUES ('FEDEX-GND', 6, 6, 'Ground');";
const std::string kInstalled = "INSERT INTO Master VALUES ('TARNVEL-GND', 0, 0, NULL);";
const std::string kButtons = "INSERT INTO Panel (PanelIndex, SV1) VALUES (1, 'FEDEX-GND'), (2, NULL);";
const std::string kOnButton = "INSERT INTO Panel (PanelIndex, SV1, SV3) VALUES (3, 'FEDEX-GND', 'TARNVEL-GND');";
const char* const kHostRows = "SELECT Service, ACTAP, AP FROM Master UNION ALL SELECT PanelIndex, SV1, SV3 FROM Panel";
const std::string kOld = "FEDEX-GND|6|6; ";
const std::string kNew = kOld + "TARNVEL-GND|40|40; ";
const std::string kTwo = "1|FEDEX-GND|NULL; 2|NULL|NULL";
const std::string kThree = kTwo + "; 3|TARNVEL-GND|NULL";
const std::string kZones = "CREATE TABLE [TARNVEL-GND] (LOZIP LONG, HIZIP LONG, ZONE SHORT);";
const std::string kRates = "CREATE TABLE [TARNVEL-GND] (LBS DOUBLE);";
const std::string kOther = "CREATE TABLE IF NOT EXISTS Other (A LONG);";

// [Master] as a shop has it: the service's columns in other letter cases and types, and the template's own.
const std::string kMaster59 =
    "CREATE TABLE Master ([Shipper#] LONG, carrier TEXT(20), Type TEXT, Service TEXT COLLATE NOCASE, [Zone-Tbl] TEXT,"
    " Description TEXT, POSDEPT TEXT, upscode TEXT, ServiceIndicator TEXT, ServiceIcon MEMO, Canada YESNO,"
    " ACTCOD SHORT, COD LONG, ACTDELC SHORT, ACK SHORT, ACTDELSIG SHORT, [ACK-S] SHORT, ACTFuel SHORT, Fuel BYTE,"
    " RETAIL YESNO, ACTDVBASE LONG, DVRateUpTo SHORT, DVRateUpToCost SHORT, DVRateUpToCharge SHORT, ACTDVINC LONG,"
    " ACTDECVAL DOUBLE, DV CURRENCY, ABResCost SHORT, ABResCharge SHORT, UseDimWeight YESNO, SaturdayDelivery YESNO,"
    " SaturdayPickup YESNO, FreightService YESNO, ResidentialService YESNO, LetterExpress YESNO, PopupEnabled YESNO,"
    " DontRequireConsignee YESNO, DontRequireShipper YESNO, Disabled YESNO, Kiosk YESNO, AIR YESNO, ABSATRED SHORT,"
    " ABSATPURED SHORT, ABSATBLACK SHORT, ABSATPUBLACK SHORT, ABCANUpToCostAP SHORT, ABCANUpToChargeAP SHORT,"
    " ABBlackResCost SHORT, ABBlackResCharge SHORT, actap SHORT, AP LONG, Notes MEMO, Created DATETIME, Priority BYTE,"
    " Rate CURRENCY, Weight DOUBLE, Counter LONG, Label TEXT, Unused TEXT);";
const std::string kTemplate59 =
    "INSERT INTO Master VALUES (17, 'FEDEX', 'FEDEX', 'FEDEX-GND', 'FEDEX-ZONES', 'FedEx Ground', 'FEDEX', 'FG', 'X',"
    " 'fedex.bmp', -1, 1, 1, 1, 1, 1, 1, 1, 1, -1, 1, 1, 1, 1, 1, 0.25, 0.25, 1, 1, -1, -1, -1, -1, -1, -1, -1, -1,"
    " -1, -1, -1, -1, 1, 1, 1, 1, 1, 1, 1, 1, 6, 6, 'Ships on weekdays', '2009-01-02 03:04:05', 3, 1.2345, 2.25,"
    " 70000, 'Ground', NULL);";
const char* const kNewRecord =
    "SELECT (SELECT COUNT(*) FROM Master WHERE [Shipper#] = 17), * FROM Master WHERE Service = 'TARNVEL-GND'";
const char* const kButton = "SELECT (SELECT COUNT(*) FROM Panel), * FROM Panel WHERE SV1 = 'TARNVEL-GND'";
const std::string kZone6 = "CREATE TABLE Master (Service TEXT COLLATE NOCASE, ACTAP SHORT, AP LONG);";
const std::string kMap =
    "CREATE TABLE Zip2FileOfOrigin (LOZIP LONG, HIZIP LONG, FileName TEXT);"
    "INSERT INTO Zip2FileOfOrigin VALUES (1000, 1999, 'chart01'), (2000, 2999, 'chart02.csv'), (3000, 3999,"
    " 'chart03.CSV'), (4000, 4999, '  chart04  '), (5000, 5999, 'chart05'), (6000, 6999, NULL);";
const char* const kChart = "Data/chart.csv";
const char* const kZoneRows = "SELECT * FROM [TARNVEL-GND]";
const std::string kNoNine =
    "CREATE TRIGGER NoNine BEFORE INSERT ON [TARNVEL-GND] WHEN NEW.ZONE = 9 BEGIN SELECT RAISE(ROLLBACK, 'no'); END;";
std::string Ground(const std::string& indexes) {
  return kPanel + "INSERT INTO Panel (PanelIndex) SELECT value FROM json_each('[" + indexes + "]');";
}

// A step on a database made from `sql`: what it answered, what the operator saw, and the rows of `query` after it.
struct Row {
  const char* name;
  std::string sql;
  Step step;
  std::string result, kinds, query = "", rows = "";
};
std::ostream& operator<<(std::ostream& os, const Row& row) { return os << row.name; }  // a case by its name
// clang-format off
const Row kRows[] = {
    // AddCarrierService, with the carrier's databases beside the shop.
    {"a first installation adds the record and the button", kHost + kButtons, Driver(kZones, kRates), "true", "box33 status*5", kHostRows, kNew + kThree},
    {"a second installation sets zone 6 and adds no button", kHost + kInstalled + kOnButton, Driver(kZones, kRates), "true", "box33 status*2", kHostRows, kNew + "3|FEDEX-GND|TARNVEL-GND"},
    {"without the template the record fails and the button is added", kHost + "DELETE FROM Master;" + kButtons, Driver(kZones, kRates), "false", "box33 status*4 box48 status", kHostRows, kThree},
    {"Cancel at the question changes nothing", kHost + kButtons, Driver(kZones, kRates, 2), "false", "box33", kHostRows, kOld + kTwo},
    {"without the zone table nothing is asked nor changed", kHost + kButtons, Driver(kOther, kRates), "false", "box48 box64", kHostRows, kOld + kTwo},
    {"without the rate table nothing is asked nor changed", kHost + kButtons, Driver(kZones, kOther), "false", "box48 box64", kHostRows, kOld + kTwo},
    {"without either table only the zones box is shown", kHost + kButtons, Driver(kOther, kOther), "false", "box48 box64", kHostRows, kOld + kTwo},
    // The host's lookups and changes.
    {"a new button follows the highest PanelIndex", Ground("3, 1, 5, 2, 4"), OnRun(Carrier::AddServiceToPanel), "true", "", kButton, "6|6|Tarn-Vel Ground|TARNVEL-GND|NULL|NULL|NULL|NULL|NULL|NULL|1|4|Domestic|0|-2147483633"},
    {"a Null PanelIndex counts as 0", Ground("null"), OnRun(Carrier::AddServiceToPanel), "true", "", kButton, "2|1|Tarn-Vel Ground|TARNVEL-GND|NULL|NULL|NULL|NULL|NULL|NULL|1|4|Domestic|0|-2147483633"},
    {"no button is added without a row to follow", kPanel, OnRun(Carrier::AddServiceToPanel), "false", "", "SELECT * FROM Panel", ""},
    {"a description the statement refuses adds no button", Ground("1"), OnRun(Carrier::AddServiceToPanel, "Tarn-Vel's Ground"), "false", "box48", "SELECT PanelIndex FROM Panel", "1"},
    {"a PanelIndex past the largest number adds no button", Ground("2147483647"), OnRun(Carrier::AddServiceToPanel), "false", "box48 status", "SELECT PanelIndex FROM Panel", "2147483647"},
    {"the new record is the template's with the service's values in any letter case and type", kMaster59 + kTemplate59 + kTemplate59, OnRun(Carrier::AddServiceToMaster), "true", "status*60", kNewRecord, "2|0|TARN-VEL|TARN-VEL|TARNVEL-GND|TARNVEL-GND|TARN-VEL|TARN-VEL|SP|||0|7|7|2|2|2|2|4|4|0|100|0|0|0|100|0.5|0.5|0|0|0|0|0|0|0|0|0|0|0|0|0|0|25|25|30|30|34|34|38|38|40|40|Ships on weekdays|2009-01-02 03:04:05|3|1.2345|2.25|70000|Ground|NULL"},
    {"without the template no record is made", kMaster59, OnRun(Carrier::AddServiceToMaster), "false", "status*52 box48 status", "SELECT COUNT(*) FROM Master", "0"},
    {"a value a column cannot take leaves no record", "CREATE TABLE Master (Service TEXT, upscode SHORT); INSERT INTO Master VALUES ('FEDEX-GND', 1);", OnRun(Carrier::AddServiceToMaster), "false", "status*2 box48 status", "SELECT COUNT(*) FROM Master", "1"},
    {"no Master table", kOther, OnRun(Carrier::AddServiceToMaster), "false", "box48"},
    {"zone 6 is set on every record of the service in any letter case", kZone6 + "INSERT INTO Master VALUES ('TARNVEL-GND', 0, 0), ('FEDEX-GND', 1, 1), ('tarnvel-gnd', 5, NULL);", OnRun(Carrier::AddZone6), "true", "status*2", "SELECT * FROM Master", "TARNVEL-GND|40|40; FEDEX-GND|1|1; tarnvel-gnd|40|40"},
    {"zone 6 without its column changes nothing", "CREATE TABLE Master (Service TEXT, AP LONG); INSERT INTO Master VALUES ('TARNVEL-GND', 0);", OnRun(Carrier::AddZone6), "false", "status box48", "SELECT * FROM Master", "TARNVEL-GND|0"},
    {"the record is found in any letter case", kZone6 + "INSERT INTO Master VALUES ('tarnvel-gnd', 0, 0);", Found(Carrier::ServiceInMaster), "true", ""},
    {"a record lookup that fails is no answer", kOther, Found(Carrier::ServiceInMaster), "failed", "box48"},
    {"the service is found on the seventh button", kPanel + "INSERT INTO Panel (PanelIndex, SV7) VALUES (3, 'TARNVEL-GND');", Found(Carrier::ServiceInPanel), "true", ""},
    {"a button lookup that fails is no answer", "CREATE TABLE Panel (PanelIndex SHORT, SV1 TEXT);", Found(Carrier::ServiceInPanel), "failed", "box48"},
    // ZoneChartForZip: the chart of an origin ZIP code, looked up silently ("" for none).
    {"the low end of a range in nine digits", kMap, Zip("000001000"), "chart01.csv", ""},
    {"the high end of a range", kMap, Zip("5999"), "chart05.csv", ""},
    {"a name ending in csv gets no second ending", kMap, Zip("2345"), "chart02.csv", ""},
    {"the ending is matched in its letter case", kMap, Zip("3456"), "chart03.CSV.csv", ""},
    {"the name is trimmed", kMap, Zip("4567"), "chart04.csv", ""},
    {"a Null name is the bare ending", kMap, Zip("6789"), ".csv", ""},
    {"spaces around a code inside a range", kMap, Zip("  1234 "), "chart01.csv", ""},
    {"a code in no range", kMap, Zip("999"), "", ""},
    {"ten digits", kMap, Zip("0000001234"), "", ""},
    {"anything but digits never reaches the query", kMap, Zip("1 Or 1=1"), "", ""},
    {"no map table is no chart", kZones, Zip("1234"), "", ""},
    // ImportZoneChart: the chart, read as Windows-1252, into the working zones database.
    {"an empty chart imports nothing", kZones, Import(kChart, ""), "true", "", kZoneRows, ""},
    {"a line is shown in UTF-8", kZones, Shown(Import(kChart, "Zon\xE9 \x80,L,H,Z\r\n")), "Zon\xC3\xA9 \xE2\x82\xAC,L,H,Z", "status", kZoneRows, ""},
    {"a header is passed over and zeros may lead", kZones, Import(kChart, "Origin,Low,High,Zone\r\nX,005,009,2\r\n"), "true", "status*2", kZoneRows, "5|9|2"},
    {"lines may end in LF alone", kZones, Import(kChart, "A,1,2,3\nB,4,5,6\n"), "true", "status*2", kZoneRows, "1|2|3; 4|5|6"},
    {"a short line ends the chart and keeps the rows before", kZones, Import(kChart, "A,1,2,3\r\nB,4,5\r\nC,6,7,8\r\n"), "true", "status box48", kZoneRows, "1|2|3"},
    {"a field that is not a number fails the chart there and never runs as SQL", kZones + "CREATE TABLE Master (A); INSERT INTO Master VALUES ('X');", Import(kChart, "A,1,2,3\r\nB,4,5,6); DROP TABLE Master; --\r\nC,6,7,8\r\n"), "false", "status box48", "SELECT * FROM [TARNVEL-GND], Master", "1|2|3|X"},
    {"a refused INSERT fails the chart and keeps the rows before", kZones + kNoNine, Import(kChart, "A,1,2,3\r\nB,4,5,9\r\nC,6,7,8\r\n"), "false", "status box48", kZoneRows, "1|2|3"},
    {"a missing chart fails", kZones, Import("Data/missing.csv", nullptr), "false", "box48", kZoneRows, ""},
    {"a name leading out of the Data folder is refused", kZones, Import("Data/../outside.csv"), "false", "box48", kZoneRows, ""},
    {"a name with a backslash is refused", kZones, Import("Data/sub\\inner.csv"), "false", "box48", kZoneRows, ""},
    {"a chart outside the Data folder is refused", kZones, Import("outside.csv"), "false", "box48", kZoneRows, ""},
    // The carrier's files, from the program folder to the shop's.
    {"the carrier databases are copied beside the shop", "", Copy(Carrier::CheckCarrierDatabases, {{"work", "zones"}, {"TarnVel_Services.mdb", "services"}}), "true TarnVel_Services.mdb=services TarnVel_Zones.mdb=zones", ""},
    {"one carrier database missing copies neither", "", Copy(Carrier::CheckCarrierDatabases, {{"work", "zones"}}), "false", "box48"},
    {"a support file missing copies none", "", Copy(SupportFiles, {{"TarnVel.jpg", "logo"}, {"TarnVel_Generic.lab", "layout"}}), "false", "box48"},
    {"the label layout replaces the shop's old one", "", Copy(SupportFiles, {{"TarnVelEODManifest.rpt", "report"}, {"TarnVel.jpg", "logo"}, {"TarnVel_Generic.lab", "new"}, {"shop/TarnVel_Generic.lab", "old"}}), "true TarnVel.jpg=logo TarnVelEODManifest.rpt=report TarnVel_Generic.lab=new", ""},
};
// clang-format on

class OneDatabase : public Steps, public testing::WithParamInterface<Row> {};
TEST_P(OneDatabase, Holds) {
  const std::string path = Db(dir.File("host.mdb"), GetParam().sql);
  EXPECT_EQ(GetParam().step(path), GetParam().result);
  EXPECT_EQ(GetParam().query.empty() ? "" : Rows(path, GetParam().query), GetParam().rows);
  EXPECT_EQ(Kinds(), GetParam().kinds);
}
INSTANTIATE_TEST_SUITE_P(Rows, OneDatabase, testing::ValuesIn(kRows), TestSupport::RowName);

// Without either table the rates are not looked up: the operator sees exactly what a missing zone table shows.
TEST_F(Steps, BothTablesMissingShowOnlyTheZonesBox) {
  std::vector<std::string> seen[2];
  for (const std::string& rates : {kOther, kRates}) {
    EXPECT_EQ(Driver(kOther, rates)(Db(dir.File("host.mdb"), "")), "false");
    for (const auto& e : ui.Events()) seen[rates == kRates].push_back(std::to_string(e.style) + e.title + e.text);
    ui.Clear();
  }
  EXPECT_EQ(seen[0], seen[1]);
}

// Each run asks for the ZIP code and makes the working zones afresh from the empty ones, which never change.
TEST_F(Steps, EachRunStartsFromTheEmptyZonesDatabase) {
  Write(dir.File("Data/chart01.csv"), "Origin,Low,High,Zone\r\nA,100,199,2\r\n");
  Write(dir.File("Data/chart05.csv"), "A,500,599,5\r\n");
  Db(dir.File("TarnVel_Zones_Empty.mdb"), kZones + kMap);
  const auto program = TestSupport::FolderContents(dir.Path());
  const struct {
    const char *zip, *result, *rows, *kinds;
  } runs[] = {{"", "false", nullptr, "input"},
              {"abc", "false", nullptr, "input box48"},
              {"1234", "true", "100|199|2", "input status*2"},
              {"5500", "true", "500|599|5", "input status"},
              {"6000", "false", "", "input box48"}};
  const std::string working = Carrier::WorkingFile("TarnVel_Zones.mdb");
  fs::remove(working);
  for (const auto& run : runs) {
    ui.inputAnswers = {run.zip};
    EXPECT_EQ(OnRun(Carrier::PrepareZoneDatabase)(dir.File("Mailvoro.mdb")), run.result) << run.zip;
    EXPECT_EQ(run.rows ? Rows(working, kZoneRows) : std::to_string(fs::exists(working)), run.rows ? run.rows : "0");
    EXPECT_EQ(Kinds(), run.kinds);
    ui.Clear();
  }
  EXPECT_EQ(TestSupport::FolderContents(dir.Path()), program);
}

}  // namespace
