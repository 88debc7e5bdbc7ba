// The installation steps, called straight on databases and files made per case in a temporary folder (also the
// program folder) with a scripted Ui. What the operator saw is asserted by kind; the words, in the app's transcripts.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "AppInfo.h"
#include "Carrier.h"
#include "Files_testing.h"
#include "ScriptedUi.h"
#include "Shop.h"
#include "Ui.h"

namespace {

namespace fs = std::filesystem;
using Step = std::function<std::string(const std::string& path)>;  // "true", "false" or "failed"

const Carrier::Service kService = {"TARNVEL-GND", "TARN-VEL", "Tarn-Vel Ground", "TARN-VEL", "FEDEX-GND",
                                   "TarnVel_Zones_Empty.mdb", "TarnVel_Zones.mdb", "TarnVel_Services.mdb",
                                   "TarnVelEODManifest.rpt", "TarnVel.jpg", "TarnVel_Generic.lab"};

// The step on a Run of kService (with that description) in the shop at the path, its files placed on success.
Step OnRun(bool (*step)(Carrier::Run&), const std::string& description = kService.description) {
  return [=](const std::string& host) {
    Carrier::Service service = kService;
    service.description = description;
    Carrier::Report report;
    Carrier::Run run(service, host, report);
    const bool done = step(run);
    if (done && run.Commit()) run.End(true);
    return std::string(done ? "true" : "false");
  };
}

Step Found(std::optional<bool> (*find)(const std::string&, const std::string&)) {
  return [=](const std::string& host) {
    const auto found = find("TARNVEL-GND", host);
    return std::string(!found ? "failed" : *found ? "true" : "false");
  };
}
Step Zip(const char* zip) { return [=](const std::string& map) { return Carrier::ZoneChartForZip(map, zip).value_or(""); }; }
bool SupportFiles(Carrier::Run& r) { return Carrier::InstallManifestReport(r) && Carrier::InstallLogo(r) && Carrier::InstallLabelLayout(r); }

// A table's row is shown by its name, in the output and in the CTest names of its cases.
template <class Row>
std::ostream& operator<<(std::ostream& os, const Row& row) requires requires { row.name; } { return os << row.name; }

class Steps : public testing::Test {
 protected:
  Steps() { Platform::AppInfo::SetProgramFolder(dir.Path().string()); }

  std::string Db(const std::string& name, const std::string& sql) const {
    return TestSupport::CreateDatabase(dir.File(name), sql), dir.File(name);
  }
  // Writes `text` at `name` ("work:NAME": the working copy of NAME), making its folder.
  void Write(const std::string& name, const std::string& text) const {
    const fs::path path = name.starts_with("work:") ? Carrier::WorkingFile(name.substr(5)) : dir.File(name);
    fs::create_directories(path.parent_path());
    TestSupport::WriteFile(path.string(), text);
  }
  // A query's rows, "; " between them.
  std::string Rows(const std::string& path, const std::string& sql) const {
    std::string joined;
    for (const auto& row : TestSupport::QueryRows(path, sql)) joined += (joined.empty() ? "" : "; ") + row;
    return joined;
  }
  // What the operator saw: "box<style>", "input" or "status", a run of one kind as "status*6".
  std::string Kinds() const {
    using Kind = Platform::UiEvent::Kind;
    std::string kinds, last;
    int run = 0;
    for (std::size_t i = 0; i <= ui.Events().size(); ++i) {
      const auto* e = i < ui.Events().size() ? &ui.Events()[i] : nullptr;
      const std::string kind = !e ? "" : e->kind == Kind::Message ? "box" + std::to_string(e->style)
                                       : e->kind == Kind::Input ? "input" : e->kind == Kind::Status ? "status" : "other";
      if (kind == last && ++run) continue;
      if (run) kinds += (kinds.empty() ? "" : " ") + last + (run > 1 ? "*" + std::to_string(run) : "");
      last = kind, run = 1;
    }
    return kinds;
  }

  TestSupport::TempDir dir;
  Platform::ScriptedUi ui;
  Platform::UiInstallation installed{ui};
};

template <class Row>
class Table : public Steps, public testing::WithParamInterface<Row> {};

// AddCarrierService on a shop holding the SQL `host`, the carrier's databases beside it.
const std::string kPanel =
    "CREATE TABLE Panel (PanelIndex LONG, BD1 TEXT COLLATE NOCASE, SV1 TEXT COLLATE NOCASE, SV2 TEXT COLLATE NOCASE,"
    " SV3 TEXT COLLATE NOCASE, SV4 TEXT COLLATE NOCASE, SV5 TEXT COLLATE NOCASE, SV6 TEXT COLLATE NOCASE,"
    " SV7 TEXT COLLATE NOCASE, Domestic SHORT, Icon SHORT, Message TEXT COLLATE NOCASE, ForeColor LONG, BackColor LONG);";
const std::string kHost =
    "CREATE TABLE Master (Service TEXT COLLATE NOCASE, Carrier TEXT COLLATE NOCASE, ACTAP SHORT, AP SHORT, Notes MEMO);" + kPanel;
const std::string kTemplate = "INSERT INTO Master VALUES ('FEDEX-GND', 'FEDEX', 6, 6, 'Ground');";
const std::string kInstalled = "INSERT INTO Master VALUES ('TARNVEL-GND', 'TARN-VEL', 0, 0, NULL);";
const std::string kTwoRows = "INSERT INTO Panel (PanelIndex, SV1) VALUES (1, 'FEDEX-GND'), (2, NULL);";
const std::string kOnButton = "INSERT INTO Panel (PanelIndex, SV1, SV3) VALUES (3, 'FEDEX-GND', 'TARNVEL-GND');";
const std::string kZones = "CREATE TABLE [TARNVEL-GND] (LOZIP LONG, HIZIP LONG, ZONE SHORT);";
const std::string kRates = "CREATE TABLE [TARNVEL-GND] (LBS DOUBLE);";
const std::string kNoTable = "CREATE TABLE Other (LBS DOUBLE);";
const char* const kOnlyTemplate = "FEDEX-GND|FEDEX|6|6";
const char* const kBoth = "FEDEX-GND|FEDEX|6|6; TARNVEL-GND|TARN-VEL|40|40";
const char* const kTwoButtons = "1|FEDEX-GND|NULL; 2|NULL|NULL";
const char* const kNewButton = "1|FEDEX-GND|NULL; 2|NULL|NULL; 3|TARNVEL-GND|NULL";

struct DriverRow { const char* name; std::string host, zones, rates; int answer; bool result; const char *master, *panel, *kinds; };
const DriverRow kDriverRows[] = {
    {"a first installation adds the record and the button", kTemplate + kTwoRows, kZones, kRates, 1, true, kBoth, kNewButton, "box33 status*6"},
    {"a second installation sets zone 6 and adds no button", kTemplate + kInstalled + kOnButton, kZones, kRates, 1, true, kBoth, "3|FEDEX-GND|TARNVEL-GND", "box33 status*2"},
    {"a record without a button gets zone 6 and a new button", kTemplate + kInstalled + kTwoRows, kZones, kRates, 1, true, kBoth, kNewButton, "box33 status*2"},
    {"a button without a record gets a new record and no button", kTemplate + kOnButton, kZones, kRates, 1, true, kBoth, "3|FEDEX-GND|TARNVEL-GND", "box33 status*6"},
    {"without the template the record fails and the button is added", kTwoRows, kZones, kRates, 1, false, "", kNewButton, "box33 status*5 box48 status"},
    {"Cancel at the question changes nothing", kTemplate + kTwoRows, kZones, kRates, 2, false, kOnlyTemplate, kTwoButtons, "box33"},
    {"without the zone table nothing is asked nor changed", kTemplate + kTwoRows, kNoTable, kRates, 1, false, kOnlyTemplate, kTwoButtons, "box48 box64"},
    {"without the rate table nothing is asked nor changed", kTemplate + kTwoRows, kZones, kNoTable, 1, false, kOnlyTemplate, kTwoButtons, "box48 box64"},
};

using Driver = Table<DriverRow>;
TEST_P(Driver, Holds) {
  const DriverRow& row = GetParam();
  const std::string host = Db("host.mdb", kHost + row.host);
  Db("TarnVel_Zones.mdb", row.zones);
  Db("TarnVel_Services.mdb", row.rates);
  ui.questionAnswers = {row.answer};
  EXPECT_EQ(OnRun(Carrier::AddCarrierService)(host), row.result ? "true" : "false");
  EXPECT_EQ(Rows(host, "SELECT Service, Carrier, ACTAP, AP FROM Master ORDER BY rowid"), row.master);
  EXPECT_EQ(Rows(host, "SELECT PanelIndex, SV1, SV3 FROM Panel ORDER BY rowid"), row.panel);
  EXPECT_EQ(Kinds(), row.kinds);
}
INSTANTIATE_TEST_SUITE_P(Rows, Driver, testing::ValuesIn(kDriverRows), TestSupport::RowName);

// Without either table the rates are not looked up: the operator sees exactly what a missing zone table shows.
TEST_F(Steps, BothTablesMissingShowOnlyTheZonesBox) {
  const std::string host = Db("host.mdb", kHost + kTemplate + kTwoRows), before = TestSupport::ReadFile(host);
  Db("TarnVel_Zones.mdb", kNoTable);
  std::vector<std::string> seen[2];
  for (const std::string& rates : {kRates, kNoTable}) {
    fs::remove(dir.File("TarnVel_Services.mdb"));
    Db("TarnVel_Services.mdb", rates);
    EXPECT_EQ(OnRun(Carrier::AddCarrierService)(host), "false");
    for (const auto& e : ui.Events()) seen[rates == kNoTable].push_back(std::to_string(e.style) + e.title + "|" + e.text);
    ui.Clear();
  }
  EXPECT_EQ(seen[1].size(), 2u);  // the lookup's box and the zones box: no rates box
  EXPECT_EQ(seen[1], seen[0]);
  EXPECT_EQ(TestSupport::ReadFile(host), before);
}

// The carrier's files, from the program folder (the working copy for the zones) to the shop folder "host".
struct FilesRow { const char* name; std::vector<std::pair<std::string, std::string>> files; bool (*step)(Carrier::Run&); bool result; const char *host, *kinds; };
const FilesRow kFilesRows[] = {
    {"the carrier databases are copied beside the shop", {{"work:TarnVel_Zones.mdb", "zones"}, {"TarnVel_Services.mdb", "services"}}, Carrier::CheckCarrierDatabases, true, "TarnVel_Services.mdb=services TarnVel_Zones.mdb=zones", ""},
    {"one carrier database missing copies neither", {{"work:TarnVel_Zones.mdb", "zones"}}, Carrier::CheckCarrierDatabases, false, "", "box48"},
    {"a support file missing copies none", {{"TarnVel.jpg", "logo"}, {"TarnVel_Generic.lab", "layout"}}, SupportFiles, false, "", "box48"},
    {"the label layout replaces the shop's old one", {{"TarnVelEODManifest.rpt", "report"}, {"TarnVel.jpg", "logo"}, {"TarnVel_Generic.lab", "new"}, {"host/TarnVel_Generic.lab", "old"}}, SupportFiles, true, "TarnVel.jpg=logo TarnVelEODManifest.rpt=report TarnVel_Generic.lab=new", ""},
};

using Files = Table<FilesRow>;
TEST_P(Files, Holds) {
  fs::create_directories(dir.File("host"));
  for (const auto& [name, text] : GetParam().files) Write(name, text);
  EXPECT_EQ(OnRun(GetParam().step)(dir.File("host/Mailvoro.mdb")), GetParam().result ? "true" : "false");
  std::string host;
  for (const auto& [name, hash] : TestSupport::FolderContents(dir.File("host")))
    host += (host.empty() ? "" : " ") + name + "=" + TestSupport::ReadFile(dir.File("host/" + name));
  EXPECT_EQ(host, GetParam().host);
  EXPECT_EQ(Kinds(), GetParam().kinds);
}
INSTANTIATE_TEST_SUITE_P(Rows, Files, testing::ValuesIn(kFilesRows), TestSupport::RowName);

// A shop database another program is using is not replaced; the copy box says so and nothing is placed.
TEST_F(Steps, AShopDatabaseInUseIsNotReplaced) {
  Write("work:TarnVel_Zones.mdb", "zones");
  Write("TarnVel_Services.mdb", "services");
  fs::create_directories(dir.File("host"));
  const std::string held = Db("host/TarnVel_Services.mdb", kRates), before = TestSupport::ReadFile(held);
  Files_::testing::SetWaits(std::chrono::minutes(1), std::chrono::milliseconds(200));
  TestSupport::Holder holder(held, "BEGIN IMMEDIATE; INSERT INTO [TARNVEL-GND] VALUES (1);");
  ASSERT_EQ(holder.Error(), "");
  EXPECT_EQ(OnRun(Carrier::CheckCarrierDatabases)(dir.File("host/Mailvoro.mdb")), "false");
  EXPECT_EQ(Kinds(), "box64");
  EXPECT_EQ(TestSupport::ReadFile(held), before);
  EXPECT_FALSE(fs::exists(dir.File("host/TarnVel_Zones.mdb")));
}

// The steps on one database made from `sql` (the host's lookups and changes, the chart's lookup), then `query`.
const std::string kMaster59 = "CREATE TABLE Master ([Shipper#] LONG, [carrier] TEXT(20) COLLATE NOCASE, [Type] TEXT COLLATE NOCASE, [Service] TEXT COLLATE NOCASE, [Zone-Tbl] TEXT COLLATE NOCASE, [Description] TEXT COLLATE NOCASE, [POSDEPT] TEXT COLLATE NOCASE, [upscode] TEXT COLLATE NOCASE, [ServiceIndicator] TEXT COLLATE NOCASE, [ServiceIcon] MEMO, [Canada] YESNO, [ACTCOD] SHORT, [COD] LONG, [ACTDELC] SHORT, [ACK] SHORT, [ACTDELSIG] SHORT, [ACK-S] SHORT, [ACTFuel] SHORT, [Fuel] BYTE, [RETAIL] YESNO, [ACTDVBASE] LONG, [DVRateUpTo] SHORT, [DVRateUpToCost] SHORT, [DVRateUpToCharge] SHORT, [ACTDVINC] LONG, [ACTDECVAL] DOUBLE, [DV] CURRENCY, [ABResCost] SHORT, [ABResCharge] SHORT, [UseDimWeight] YESNO, [SaturdayDelivery] YESNO, [SaturdayPickup] YESNO, [FreightService] YESNO, [ResidentialService] YESNO, [LetterExpress] YESNO, [PopupEnabled] YESNO, [DontRequireConsignee] YESNO, [DontRequireShipper] YESNO, [Disabled] YESNO, [Kiosk] YESNO, [AIR] YESNO, [ABSATRED] SHORT, [ABSATPURED] SHORT, [ABSATBLACK] SHORT, [ABSATPUBLACK] SHORT, [ABCANUpToCostAP] SHORT, [ABCANUpToChargeAP] SHORT, [ABBlackResCost] SHORT, [ABBlackResCharge] SHORT, [actap] SHORT, [AP] LONG, [Notes] MEMO, [Created] DATETIME, [Priority] BYTE, [Rate] CURRENCY, [Weight] DOUBLE, [Counter] LONG, [Label] TEXT COLLATE NOCASE, [Unused] TEXT COLLATE NOCASE);";
const std::string kTemplate59 = "INSERT INTO Master VALUES (17, 'FEDEX', 'FEDEX', 'FEDEX-GND', 'FEDEX-ZONES', 'FedEx Ground', 'FEDEX', 'FG', 'X', 'fedex.bmp', -1, 1, 1, 1, 1, 1, 1, 1, 1, -1, 1, 1, 1, 1, 1, 0.25, 0.25, 1, 1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 1, 1, 1, 1, 1, 1, 1, 6, 6, 'Ships on weekdays', '2009-01-02 03:04:05', 3, 1.2345, 2.25, 70000, 'Ground', NULL);";
const char* const kNewRecord = "SELECT (SELECT COUNT(*) FROM Master WHERE [Shipper#] = 17), * FROM Master WHERE Service = 'TARNVEL-GND'";
const char* const kButton = "SELECT (SELECT COUNT(*) FROM Panel), PanelIndex, BD1, SV1, Domestic, Icon, Message, ForeColor, BackColor, SV2, SV7 FROM Panel WHERE SV1 = 'TARNVEL-GND'";
const std::string kGround = "INSERT INTO Panel (PanelIndex, BD1, SV1) VALUES ";
const std::string kZone6 = "CREATE TABLE Master (Service TEXT COLLATE NOCASE, ACTAP SHORT, AP LONG);";
const std::string kOther = "CREATE TABLE Other (A LONG);";
const char* const kTables = "SELECT COUNT(*) FROM sqlite_schema";

std::string UpsCodeShort(std::string sql = kMaster59 + kTemplate59) { return sql.replace(sql.find("[upscode] TEXT"), 14, "[upscode] SHORT"); }
const std::string kMap = "CREATE TABLE Zip2FileOfOrigin (LOZIP LONG, HIZIP LONG, FileName TEXT COLLATE NOCASE);"
    "INSERT INTO Zip2FileOfOrigin VALUES (1000, 1999, 'chart01'), (2000, 2999, 'chart02.csv'), (3000, 3999, 'chart03.CSV'),"
    " (4000, 4999, '  chart04  '), (5000, 5999, 'chart05'), (6000, 6999, NULL);";
struct OneDbRow { const char* name; std::string sql; Step step; const char *result, *kinds, *query = kTables, *rows = "1"; };
const OneDbRow kOneDbRows[] = {
    {"a new button follows the highest PanelIndex", kPanel + kGround + "(3, 'G', 'FEDEX-GND'), (1, 'G', 'FEDEX-GND'), (5, 'G', 'FEDEX-GND'), (2, 'G', 'FEDEX-GND'), (4, 'G', 'FEDEX-GND');", OnRun(Carrier::AddServiceToPanel), "true", "", kButton, "6|6|Tarn-Vel Ground|TARNVEL-GND|1|4|Domestic|0|-2147483633|NULL|NULL"},
    {"a Null PanelIndex counts as 0", kPanel + kGround + "(NULL, 'G', 'FEDEX-GND');", OnRun(Carrier::AddServiceToPanel), "true", "", kButton, "2|1|Tarn-Vel Ground|TARNVEL-GND|1|4|Domestic|0|-2147483633|NULL|NULL"},
    {"no button is added without a row to follow", kPanel, OnRun(Carrier::AddServiceToPanel), "false", "", "SELECT * FROM Panel", ""},
    {"a description the statement refuses adds no button", kPanel + kGround + "(1, 'G', 'FEDEX-GND');", OnRun(Carrier::AddServiceToPanel, "Tarn-Vel's Ground"), "false", "box48", "SELECT PanelIndex FROM Panel", "1"},
    {"a PanelIndex past the largest number adds no button", kPanel + kGround + "(2147483647, 'G', 'FEDEX-GND');", OnRun(Carrier::AddServiceToPanel), "false", "box48 status", "SELECT PanelIndex FROM Panel", "2147483647"},
    {"the new record is the template's with the service's values in any letter case and type", kMaster59 + kTemplate59 + kTemplate59, OnRun(Carrier::AddServiceToMaster), "true", "status*60", kNewRecord, "2|0|TARN-VEL|TARN-VEL|TARNVEL-GND|TARNVEL-GND|TARN-VEL|TARN-VEL|SP|||0|7|7|2|2|2|2|4|4|0|100|0|0|0|100|0.5|0.5|0|0|0|0|0|0|0|0|0|0|0|0|0|0|25|25|30|30|34|34|38|38|40|40|Ships on weekdays|2009-01-02 03:04:05|3|1.2345|2.25|70000|Ground|NULL"},
    {"without the template no record is made", kMaster59, OnRun(Carrier::AddServiceToMaster), "false", "status*52 box48 status", "SELECT COUNT(*) FROM Master", "0"},
    {"a value a column cannot take leaves no record", UpsCodeShort(), OnRun(Carrier::AddServiceToMaster), "false", "status*8 box48 status", "SELECT COUNT(*) FROM Master", "1"},
    {"no Master table", kOther, OnRun(Carrier::AddServiceToMaster), "false", "box48"},
    {"zone 6 is set on every record of the service in any letter case", kZone6 + "INSERT INTO Master VALUES ('TARNVEL-GND', 0, 0), ('FEDEX-GND', 1, 1), ('tarnvel-gnd', 5, NULL);", OnRun(Carrier::AddZone6), "true", "status*2", "SELECT * FROM Master ORDER BY rowid", "TARNVEL-GND|40|40; FEDEX-GND|1|1; tarnvel-gnd|40|40"},
    {"zone 6 without its column changes nothing", "CREATE TABLE Master (Service TEXT, AP LONG); INSERT INTO Master VALUES ('TARNVEL-GND', 0);", OnRun(Carrier::AddZone6), "false", "status box48", "SELECT * FROM Master", "TARNVEL-GND|0"},
    {"the record is found in any letter case", kZone6 + "INSERT INTO Master VALUES ('tarnvel-gnd', 0, 0);", Found(Carrier::ServiceInMaster), "true", "", "SELECT * FROM Master", "tarnvel-gnd|0|0"},
    {"a record lookup that fails is no answer", kOther, Found(Carrier::ServiceInMaster), "failed", "box48"},
    {"the service is found on the seventh button", kPanel + "INSERT INTO Panel (PanelIndex, SV7) VALUES (3, 'TARNVEL-GND');", Found(Carrier::ServiceInPanel), "true", "", "SELECT PanelIndex, SV7 FROM Panel", "3|TARNVEL-GND"},
    {"a button lookup that fails is no answer", "CREATE TABLE Panel (PanelIndex SHORT, SV1 TEXT, SV2 TEXT, SV3 TEXT, SV4 TEXT, SV5 TEXT, SV6 TEXT);", Found(Carrier::ServiceInPanel), "failed", "box48"},
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
};

using OneDatabase = Table<OneDbRow>;
TEST_P(OneDatabase, Holds) {
  const std::string host = Db("host.mdb", GetParam().sql);
  EXPECT_EQ(GetParam().step(host), GetParam().result);
  EXPECT_EQ(Rows(host, GetParam().query), GetParam().rows);
  EXPECT_EQ(Kinds(), GetParam().kinds);
}
INSTANTIATE_TEST_SUITE_P(Rows, OneDatabase, testing::ValuesIn(kOneDbRows), TestSupport::RowName);

// The chart at `path` (no file for nullptr) imported into a working database with `sql` added.
struct ChartRow { const char *name, *path, *text; std::string sql; bool result; const char *rows, *kinds, *shown = nullptr; };
const char* const kChart = "Data/chart.csv";
const ChartRow kChartRows[] = {
    {"an empty chart imports nothing", kChart, "", "", true, "", ""},
    {"a line is shown in UTF-8", kChart, "Zon\xE9 \x80,L,H,Z\r\n", "", true, "", "status", "Zon\xC3\xA9 \xE2\x82\xAC,L,H,Z"},
    {"a header is passed over and zeros may lead", kChart, "Origin,Low,High,Zone\r\nX,005,009,2\r\n", "", true, "5|9|2", "status*2"},
    {"lines may end in LF alone", kChart, "A,1,2,3\nB,4,5,6\n", "", true, "1|2|3; 4|5|6", "status*2"},
    {"a short line ends the chart and keeps the rows before", kChart, "A,1,2,3\r\nB,4,5\r\nC,6,7,8\r\n", "", true, "1|2|3", "status box48"},
    {"a field that is not a number fails the chart there", kChart, "A,1,2,3\r\nB,4,5,x y\r\nC,6,7,8\r\n", "", false, "1|2|3", "status box48"},
    {"a line never runs as SQL", kChart, "A,1,2,3\r\nB,4,5,6); DROP TABLE [Master]; --\r\n", "", false, "1|2|3", "status box48"},
    {"a refused INSERT fails the chart and keeps the rows before", kChart, "A,1,2,3\r\nB,4,5,9\r\nC,6,7,8\r\n",
     "CREATE TRIGGER NoNine BEFORE INSERT ON [TARNVEL-GND] WHEN NEW.ZONE = 9 BEGIN SELECT RAISE(ROLLBACK, 'no'); END;", false, "1|2|3", "status box48"},
    {"a missing chart fails", "Data/missing.csv", nullptr, "", false, "", "box48"},
    {"a name leading out of the Data folder is refused", "Data/../outside.csv", "A,1,2,3\r\n", "", false, "", "box48"},
    {"a name with a backslash is refused", "Data/sub\\inner.csv", "A,1,2,3\r\n", "", false, "", "box48"},
    {"a chart outside the Data folder is refused", "outside.csv", "A,1,2,3\r\n", "", false, "", "box48"},
};

using ImportZoneChart = Table<ChartRow>;
TEST_P(ImportZoneChart, Holds) {
  const ChartRow& row = GetParam();
  if (row.text) Write(row.path, row.text);
  const std::string zones = Db("zones.mdb", kZones + "CREATE TABLE Master (Service TEXT); INSERT INTO Master VALUES ('X');" + row.sql);
  Carrier::Report report;
  EXPECT_EQ(Carrier::ImportZoneChart(dir.File(row.path), zones, "TARNVEL-GND", report), row.result);
  EXPECT_EQ(Rows(zones, "SELECT * FROM [TARNVEL-GND] ORDER BY rowid"), row.rows);
  EXPECT_EQ(Rows(zones, "SELECT * FROM Master"), "X");
  EXPECT_EQ(Kinds(), row.kinds);
  EXPECT_TRUE(!row.shown || ui.Events().back().text.ends_with(row.shown)) << ui.Events().back().text;  // read as Windows-1252
}
INSTANTIATE_TEST_SUITE_P(Rows, ImportZoneChart, testing::ValuesIn(kChartRows), TestSupport::RowName);

// Each run asks for the ZIP code and makes the working zones database afresh from the empty one, which, like
// the rest of the program folder, never changes.
TEST_F(Steps, EachRunStartsFromTheEmptyZonesDatabase) {
  Write("Data/chart01.csv", "Origin,Low,High,Zone\r\nA,100,199,2\r\n");
  Write("Data/chart05.csv", "A,500,599,5\r\n");
  Db("TarnVel_Zones_Empty.mdb", kZones + "CREATE TABLE Zip2FileOfOrigin (LOZIP LONG, HIZIP LONG, FileName TEXT);"
      "INSERT INTO Zip2FileOfOrigin VALUES (1000, 1999, 'chart01'), (5000, 5999, 'chart05'), (7000, 7999, 'no');");
  const auto program = TestSupport::FolderContents(dir.Path());
  const struct { std::optional<std::string> zip; const char *result, *rows, *kinds; } runs[] = {
      {std::nullopt, "false", nullptr, "input"}, {"", "false", nullptr, "input"}, {"abc", "false", nullptr, "input box48"},
      {"1234", "true", "100|199|2", "input status*2"}, {"5500", "true", "500|599|5", "input status"}, {"7000", "false", "", "input box48"}};
  fs::remove(Carrier::WorkingFile("TarnVel_Zones.mdb"));
  for (const auto& run : runs) {
    ui.inputAnswers = {run.zip};
    EXPECT_EQ(OnRun(Carrier::PrepareZoneDatabase)(dir.File("Mailvoro.mdb")), run.result) << run.zip.value_or("(cancel)");
    if (run.rows) EXPECT_EQ(Rows(Carrier::WorkingFile("TarnVel_Zones.mdb"), "SELECT * FROM [TARNVEL-GND]"), run.rows);
    else EXPECT_FALSE(fs::exists(Carrier::WorkingFile("TarnVel_Zones.mdb")));
    EXPECT_EQ(Kinds(), run.kinds);
    ui.Clear();
  }
  EXPECT_EQ(TestSupport::FolderContents(dir.Path()), program);
}

}  // namespace
