// The three changes to the host database: the new [Panel] row, the new
// [Master] record cloned from the template service, and zone 6 of an
// existing record. Each is checked straight in the file, with the boxes
// and status texts the operator saw.
#include "Carrier.h"
#include "CarrierTestSupport.h"

namespace {

using namespace CarrierTest;

const std::string kPanelFailed = "Failed to add TARN-VEL 'TARNVEL-GND' service to Panel table...";
const std::string kMasterFailed = "Failed to add TARN-VEL 'TARNVEL-GND' service to Master table...";
const std::string kZone6Failed = "Failed to add new Zone# 6 to Master table...";

// AddServiceToPanel.

struct PanelCase {
  const char* name;
  std::string rowsSql;
  std::string description;
  bool result;
  std::vector<std::string> newRows;  // rows with SV1 = the service
  std::string boxDescription;        // "" = no box; "*" = any description
  bool statusIsDescription;
};
void PrintTo(const PanelCase& c, std::ostream* os) { *os << c.name; }

class Panel : public CarrierFixture, public ::testing::WithParamInterface<PanelCase> {};

TEST_P(Panel, AppendsOneRowAfterTheHighestIndex) {
  const auto& c = GetParam();
  const std::string host = File("Mailvoro.mdb");
  TestSupport::CreateDatabase(host, PanelTableSql() + c.rowsSql);
  const auto before = Rows(host, "SELECT * FROM Panel WHERE SV1 IS NOT 'TARNVEL-GND' ORDER BY rowid");

  EXPECT_EQ(Carrier::AddServiceToPanel(c.description, "TARNVEL-GND", "TARN-VEL", host), c.result);

  EXPECT_EQ(Rows(host, "SELECT PanelIndex, BD1, SV1, Domestic, Icon, Message, ForeColor, BackColor, SV2, SV7"
                       " FROM Panel WHERE SV1 = 'TARNVEL-GND'"),
            c.newRows);
  EXPECT_EQ(Rows(host, "SELECT * FROM Panel WHERE SV1 IS NOT 'TARNVEL-GND' ORDER BY rowid"), before);
  const auto boxes = ui.EventsOf(UiEvent::Kind::Message);
  ASSERT_EQ(boxes.size(), c.boxDescription.empty() ? 0u : 1u);
  if (!c.boxDescription.empty()) {
    EXPECT_EQ(boxes[0].title, kFailedTitle);
    EXPECT_EQ(SentenceOf(boxes[0].text), kPanelFailed);
    if (c.boxDescription != "*") {
      EXPECT_EQ(DescriptionOf(boxes[0].text), c.boxDescription);
    }
  }
  EXPECT_EQ(StatusTexts(), c.statusIsDescription ? std::vector<std::string>{DescriptionOf(boxes.at(0).text)}
                                                 : std::vector<std::string>{});
}

std::string PanelRows(const std::vector<std::string>& indices) {
  std::string sql;
  for (const auto& index : indices)
    sql += "INSERT INTO Panel (PanelIndex, BD1, SV1) VALUES (" + index + ", 'Ground', 'FEDEX-GND');";
  return sql;
}

const std::string kNewRowTail = "|Tarn-Vel Ground|TARNVEL-GND|1|4|Domestic|0|-2147483633|NULL|NULL";

INSTANTIATE_TEST_SUITE_P(
    Carrier, Panel,
    ::testing::ValuesIn(std::vector<PanelCase>{
        {"AfterOneToFive", PanelRows({"3", "1", "5", "2", "4"}), "Tarn-Vel Ground", true, {"6" + kNewRowTail}, "", false},
        {"NullIndexCountsAsZero", PanelRows({"NULL"}), "Tarn-Vel Ground", true, {"1" + kNewRowTail}, "", false},
        {"EmptyTable", "", "Tarn-Vel Ground", false, {}, "", false},
        {"ApostropheInDescription", PanelRows({"1"}), "Tarn-Vel's Ground", false, {}, "*", false},
        {"IndexOverflows", "INSERT INTO Panel (PanelIndex) VALUES (2147483647);", "Tarn-Vel Ground", false, {},
         "Overflow", true},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CarrierFixture, AddServiceToPanelWithoutPanelTableShowsTheDatabaseError) {
  const std::string host = File("Mailvoro.mdb");
  TestSupport::CreateDatabase(host, "CREATE TABLE Master (Service TEXT);");
  EXPECT_FALSE(Carrier::AddServiceToPanel("Tarn-Vel Ground", "TARNVEL-GND", "TARN-VEL", host));
  const auto prompts = Prompts();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(SentenceOf(prompts[0]), kPanelFailed);
  EXPECT_NE(DescriptionOf(prompts[0]).find("Panel"), std::string::npos) << prompts[0];
  EXPECT_TRUE(StatusTexts().empty());
}

// AddServiceToMaster.

// A [Master] as wide and as mixed as the host's: every override column in
// some letter case and type, and columns of its own that are copied.
struct MasterColumn {
  std::string name, type, templateValue, expected;
};

const std::vector<MasterColumn> kMasterColumns = {
    {"Shipper#", "LONG", "17", "0"}, {"carrier", "TEXT(20) COLLATE NOCASE", "'FEDEX'", "TARN-VEL"},
    {"Type", "TEXT COLLATE NOCASE", "'FEDEX'", "TARN-VEL"},
    {"Service", "TEXT COLLATE NOCASE", "'FEDEX-GND'", "TARNVEL-GND"},
    {"Zone-Tbl", "TEXT COLLATE NOCASE", "'FEDEX-ZONES'", "TARNVEL-GND"},
    {"Description", "TEXT COLLATE NOCASE", "'FedEx Ground'", "TARN-VEL"},
    {"POSDEPT", "TEXT COLLATE NOCASE", "'FEDEX'", "TARN-VEL"}, {"upscode", "TEXT COLLATE NOCASE", "'FG'", "SP"},
    {"ServiceIndicator", "TEXT COLLATE NOCASE", "'X'", ""}, {"ServiceIcon", "MEMO", "'fedex.bmp'", ""},
    {"Canada", "YESNO", "-1", "0"}, {"ACTCOD", "SHORT", "1", "7"}, {"COD", "LONG", "1", "7"},
    {"ACTDELC", "SHORT", "1", "2"}, {"ACK", "SHORT", "1", "2"}, {"ACTDELSIG", "SHORT", "1", "2"},
    {"ACK-S", "SHORT", "1", "2"}, {"ACTFuel", "SHORT", "1", "4"}, {"Fuel", "BYTE", "1", "4"},
    {"RETAIL", "YESNO", "-1", "0"}, {"ACTDVBASE", "LONG", "1", "100"}, {"DVRateUpTo", "SHORT", "1", "0"},
    {"DVRateUpToCost", "SHORT", "1", "0"}, {"DVRateUpToCharge", "SHORT", "1", "0"}, {"ACTDVINC", "LONG", "1", "100"},
    {"ACTDECVAL", "DOUBLE", "0.25", "0.5"}, {"DV", "CURRENCY", "0.25", "0.5"}, {"ABResCost", "SHORT", "1", "0"},
    {"ABResCharge", "SHORT", "1", "0"}, {"UseDimWeight", "YESNO", "-1", "0"},
    {"SaturdayDelivery", "YESNO", "-1", "0"}, {"SaturdayPickup", "YESNO", "-1", "0"},
    {"FreightService", "YESNO", "-1", "0"}, {"ResidentialService", "YESNO", "-1", "0"},
    {"LetterExpress", "YESNO", "-1", "0"}, {"PopupEnabled", "YESNO", "-1", "0"},
    {"DontRequireConsignee", "YESNO", "-1", "0"}, {"DontRequireShipper", "YESNO", "-1", "0"},
    {"Disabled", "YESNO", "-1", "0"}, {"Kiosk", "YESNO", "-1", "0"}, {"AIR", "YESNO", "-1", "0"},
    {"ABSATRED", "SHORT", "1", "25"}, {"ABSATPURED", "SHORT", "1", "25"}, {"ABSATBLACK", "SHORT", "1", "30"},
    {"ABSATPUBLACK", "SHORT", "1", "30"}, {"ABCANUpToCostAP", "SHORT", "1", "34"},
    {"ABCANUpToChargeAP", "SHORT", "1", "34"}, {"ABBlackResCost", "SHORT", "1", "38"},
    {"ABBlackResCharge", "SHORT", "1", "38"}, {"actap", "SHORT", "6", "40"}, {"AP", "LONG", "6", "40"},
    {"Notes", "MEMO", "'Ships on weekdays'", "Ships on weekdays"},
    {"Created", "DATETIME", "'2009-01-02 03:04:05'", "2009-01-02 03:04:05"}, {"Priority", "BYTE", "3", "3"},
    {"Rate", "CURRENCY", "1.2345", "1.2345"}, {"Weight", "DOUBLE", "2.25", "2.25"},
    {"Counter", "LONG", "70000", "70000"}, {"Label", "TEXT COLLATE NOCASE", "'Ground'", "Ground"},
    {"Unused", "TEXT COLLATE NOCASE", "NULL", "NULL"},
};

std::string MasterSql(const std::vector<MasterColumn>& columns, int templateRecords) {
  std::string create = "CREATE TABLE Master (", values;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    create += (i ? ", [" : "[") + columns[i].name + "] " + columns[i].type;
    values += (i ? ", " : "") + columns[i].templateValue;
  }
  std::string sql = create + ");";
  for (int i = 0; i < templateRecords; ++i) sql += "INSERT INTO Master VALUES (" + values + ");";
  return sql;
}

std::string Joined(const std::vector<MasterColumn>& columns) {
  std::string row;
  for (std::size_t i = 0; i < columns.size(); ++i) row += (i ? "|" : "") + columns[i].expected;
  return row;
}

class Master : public CarrierFixture {
 protected:
  bool Add(const std::string& templateService = "FEDEX-GND") {
    return Carrier::AddServiceToMaster("TARN-VEL", "TARNVEL-GND", "TARN-VEL", templateService, host);
  }
  std::vector<std::string> NewRecords() const {
    return Rows(host, "SELECT * FROM Master WHERE Service = 'TARNVEL-GND'");
  }
  std::string host = File("Mailvoro.mdb");
};

TEST_F(Master, ClonesTheTemplateWithTheOverrides) {
  ASSERT_GE(kMasterColumns.size(), 57u);
  TestSupport::CreateDatabase(host, MasterSql(kMasterColumns, 1));
  EXPECT_TRUE(Add());

  EXPECT_EQ(NewRecords(), std::vector<std::string>{Joined(kMasterColumns)});
  EXPECT_EQ(Rows(host, "SELECT COUNT(*) FROM Master WHERE Service = 'FEDEX-GND' AND [Shipper#] = 17"),
            std::vector<std::string>{"1"});
  EXPECT_TRUE(Prompts().empty());
  std::vector<std::string> status;
  const std::string n = std::to_string(kMasterColumns.size());
  for (std::size_t i = 0; i < kMasterColumns.size(); ++i)
    status.push_back("Adding service settings " + std::to_string(i) + " of " + n);
  status.push_back("Finished adding service successfully!");
  EXPECT_EQ(StatusTexts(), status);
}

TEST_F(Master, TemplateTwiceAddsOneRecord) {
  TestSupport::CreateDatabase(host, MasterSql(kMasterColumns, 2));
  EXPECT_TRUE(Add());
  EXPECT_EQ(NewRecords().size(), 1u);
  EXPECT_EQ(Rows(host, "SELECT COUNT(*) FROM Master"), std::vector<std::string>{"3"});
}

TEST_F(Master, FailuresLeaveNoRecord) {
  struct Row {
    const char* name;
    std::string sql;
    std::string templateService;
    std::string named;  // a text the description must hold
    bool statusIsDescription;
  };
  auto upsShort = kMasterColumns;
  upsShort[7].type = "SHORT";
  upsShort[7].templateValue = "1";
  const std::vector<Row> rows = {
      {"MissingTemplate", MasterSql(kMasterColumns, 0), "FEDEX-GND", "", true},
      {"ApostropheInTemplateCode", MasterSql(kMasterColumns, 1), "FEDEX'GND", "", false},
      {"ValueNotConvertible", MasterSql(upsShort, 1), "FEDEX-GND", "upscode", true},
      {"NoMasterTable", "CREATE TABLE Other (A LONG);", "FEDEX-GND", "Master", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove(host);
    ui.Clear();
    TestSupport::CreateDatabase(host, r.sql);
    EXPECT_FALSE(Add(r.templateService));
    const auto boxes = ui.EventsOf(UiEvent::Kind::Message);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, kFailedTitle);
    EXPECT_EQ(boxes[0].style, 48);
    EXPECT_EQ(SentenceOf(boxes[0].text), kMasterFailed);
    const std::string description = DescriptionOf(boxes[0].text);
    EXPECT_NE(description, "");
    EXPECT_NE(description.find(r.named), std::string::npos) << description;
    auto status = StatusTexts();
    if (r.statusIsDescription) {
      ASSERT_FALSE(status.empty());
      EXPECT_EQ(status.back(), description);
    } else {
      EXPECT_TRUE(status.empty());
    }
    if (r.sql.find("CREATE TABLE Master") != std::string::npos) {
      EXPECT_TRUE(NewRecords().empty());
    }
  }
}

TEST_F(Master, MissingTemplateStopsAtTheFirstCopiedColumn) {
  TestSupport::CreateDatabase(host, MasterSql(kMasterColumns, 0));
  EXPECT_FALSE(Add());
  // Columns 0 to 50 are all overrides; column 51 is the first read from the
  // template, and there is no current record to read it from.
  const auto status = StatusTexts();
  ASSERT_EQ(status.size(), 53u);
  EXPECT_EQ(status[51], "Adding service settings 51 of 59");
  EXPECT_EQ(status[52], DescriptionOf(Prompts().at(0)));
}

// AddZone6.

TEST_F(CarrierFixture, AddZone6SetsEveryRecordOfTheService) {
  struct Row {
    const char* name;
    std::string rowsSql;
    int runs;
    std::vector<std::string> after;
  };
  const std::string create = "CREATE TABLE Master (Service TEXT COLLATE NOCASE, ACTAP SHORT, AP LONG);";
  const std::vector<Row> rows = {
      {"OneRecord", "INSERT INTO Master VALUES ('TARNVEL-GND', 0, 0), ('FEDEX-GND', 1, 1);", 1,
       {"TARNVEL-GND|40|40", "FEDEX-GND|1|1"}},
      {"Twice", "INSERT INTO Master VALUES ('TARNVEL-GND', 0, 0);", 2, {"TARNVEL-GND|40|40"}},
      {"NoRecord", "INSERT INTO Master VALUES ('FEDEX-GND', 1, 1);", 1, {"FEDEX-GND|1|1"}},
      {"SeveralRecords", "INSERT INTO Master VALUES ('TARNVEL-GND', 0, 0), ('tarnvel-gnd', 5, NULL);", 1,
       {"TARNVEL-GND|40|40", "tarnvel-gnd|40|40"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string host = File(std::string(r.name) + ".mdb");
    TestSupport::CreateDatabase(host, create + r.rowsSql);
    ui.Clear();
    for (int run = 0; run < r.runs; ++run)
      EXPECT_TRUE(Carrier::AddZone6("TARN-VEL", "OTHER-CODE", "TARN-VEL", "FEDEX-GND", host));
    EXPECT_EQ(Rows(host, "SELECT * FROM Master ORDER BY rowid"), r.after);
    EXPECT_TRUE(Prompts().empty());
    EXPECT_EQ(StatusTexts().back(), "Finished adding new Zone# 6 successfully!");
    EXPECT_EQ(StatusTexts().front(), "Adding new zone# 6 ...");
  }
}

TEST_F(CarrierFixture, AddZone6WithoutActapColumnShowsTheDatabaseError) {
  const std::string host = File("Mailvoro.mdb");
  TestSupport::CreateDatabase(host, "CREATE TABLE Master (Service TEXT, AP LONG);"
                                    "INSERT INTO Master VALUES ('TARNVEL-GND', 0);");
  EXPECT_FALSE(Carrier::AddZone6("TARN-VEL", "TARNVEL-GND", "TARN-VEL", "FEDEX-GND", host));
  const auto boxes = ui.EventsOf(UiEvent::Kind::Message);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, kFailedTitle);
  EXPECT_EQ(SentenceOf(boxes[0].text), kZone6Failed);
  EXPECT_NE(DescriptionOf(boxes[0].text).find("ACTAP"), std::string::npos) << boxes[0].text;
  EXPECT_EQ(StatusTexts(), std::vector<std::string>{"Adding new zone# 6 ..."});
  EXPECT_EQ(Rows(host, "SELECT * FROM Master"), std::vector<std::string>{"TARNVEL-GND|0"});
}

}  // namespace
