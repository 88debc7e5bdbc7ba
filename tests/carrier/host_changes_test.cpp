// The three changes to the host database: the new [Panel] row, the new
// [Master] record cloned from the template service, and zone 6 of an
// existing record. Each is checked straight in the file, with the boxes
// and status texts the operator saw.
#include <optional>
#include <sstream>

#include "Carrier.h"
#include "CarrierTestSupport.h"

namespace {

using namespace CarrierTest;

const std::string kPanelFailed = "Failed to add TARN-VEL 'TARNVEL-GND' service to Panel table...";
const std::string kMasterFailed = "Failed to add TARN-VEL 'TARNVEL-GND' service to Master table...";

TEST_F(CarrierFixture, AddServiceToPanelAppendsOneRowAfterTheHighestIndex) {
  const auto ground = [](const std::string& index) {
    return "INSERT INTO Panel (PanelIndex, BD1, SV1) VALUES (" + index + ", 'Ground', 'FEDEX-GND');";
  };
  const struct {
    const char* name;
    std::string rowsSql, description;
    std::string newIndex;             // of the new row; empty: none is added
    std::optional<std::string> box = std::nullopt;  // a text the box's description holds
  } cases[] = {
      {"AfterOneToFive", ground("3") + ground("1") + ground("5") + ground("2") + ground("4"), "Tarn-Vel Ground", "6"},
      {"NullIndexCountsAsZero", ground("NULL"), "Tarn-Vel Ground", "1"},
      {"EmptyTable", "", "Tarn-Vel Ground", ""},
      {"ApostropheInDescription", ground("1"), "Tarn-Vel's Ground", "", ""},
      {"IndexOverflows", ground("2147483647"), "Tarn-Vel Ground", "", "Overflow"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui.Clear();
    const std::string host = File(std::string(c.name) + ".mdb");
    TestSupport::CreateDatabase(host, PanelTableSql() + c.rowsSql);
    const std::string others = "SELECT * FROM Panel WHERE SV1 IS NOT 'TARNVEL-GND' ORDER BY rowid";
    const auto before = Rows(host, others);
    EXPECT_EQ(Carrier::AddServiceToPanel(c.description, "TARNVEL-GND", "TARN-VEL", host), !c.newIndex.empty());
    EXPECT_EQ(Rows(host, "SELECT PanelIndex, BD1, SV1, Domestic, Icon, Message, ForeColor, BackColor, SV2, SV7"
                         " FROM Panel WHERE SV1 = 'TARNVEL-GND'"),
              c.newIndex.empty() ? std::vector<std::string>{}
                                 : std::vector<std::string>{c.newIndex + "|Tarn-Vel Ground|TARNVEL-GND|1|4|Domestic|0|"
                                                                         "-2147483633|NULL|NULL"});
    EXPECT_EQ(Rows(host, others), before);
    if (c.box) {
      const std::string description = FailureDescription(kPanelFailed);
      EXPECT_NE(description.find(*c.box), std::string::npos) << description;
      // Only the overflow is also written to the status panel.
      EXPECT_EQ(StatusTexts(), c.box->empty() ? std::vector<std::string>{} : std::vector<std::string>{description});
    } else {
      EXPECT_TRUE(ui.Events().empty());
    }
  }
  // Without [Panel] at all, the box carries the database's error.
  ui.Clear();
  TestSupport::CreateDatabase(File("Mailvoro.mdb"), "CREATE TABLE Master (Service TEXT);");
  EXPECT_FALSE(Carrier::AddServiceToPanel("Tarn-Vel Ground", "TARNVEL-GND", "TARN-VEL", File("Mailvoro.mdb")));
  EXPECT_NE(FailureDescription(kPanelFailed).find("Panel"), std::string::npos);
}

// A [Master] as wide and as mixed as the host's: every override column in
// some letter case and type, and columns of its own that are copied.
struct MasterColumn {
  std::string name, type, templateValue, expected;
};

std::vector<MasterColumn> MasterColumns() {
  std::vector<MasterColumn> columns;
  const auto add = [&](const std::string& list) {  // "name,type,template value,expected|..."
    std::istringstream entries(list);
    for (std::string entry; std::getline(entries, entry, '|');) {
      std::istringstream fields(entry);
      MasterColumn c;
      std::getline(fields, c.name, ',');
      std::getline(fields, c.type, ',');
      std::getline(fields, c.templateValue, ',');
      std::getline(fields, c.expected);
      if (c.type.starts_with("TEXT")) c.type += " COLLATE NOCASE";
      columns.push_back(c);
    }
  };
  const auto yesNo = [&](std::initializer_list<const char*> names) {
    for (const char* name : names) columns.push_back({name, "YESNO", "-1", "0"});
  };
  add("Shipper#,LONG,17,0|carrier,TEXT(20),'FEDEX',TARN-VEL|Type,TEXT,'FEDEX',TARN-VEL|Service,TEXT,'FEDEX-GND',"
      "TARNVEL-GND|Zone-Tbl,TEXT,'FEDEX-ZONES',TARNVEL-GND|Description,TEXT,'FedEx Ground',TARN-VEL|"
      "POSDEPT,TEXT,'FEDEX',TARN-VEL|upscode,TEXT,'FG',SP|ServiceIndicator,TEXT,'X',|ServiceIcon,MEMO,'fedex.bmp',");
  yesNo({"Canada"});
  add("ACTCOD,SHORT,1,7|COD,LONG,1,7|ACTDELC,SHORT,1,2|ACK,SHORT,1,2|ACTDELSIG,SHORT,1,2|ACK-S,SHORT,1,2|"
      "ACTFuel,SHORT,1,4|Fuel,BYTE,1,4");
  yesNo({"RETAIL"});
  add("ACTDVBASE,LONG,1,100|DVRateUpTo,SHORT,1,0|DVRateUpToCost,SHORT,1,0|DVRateUpToCharge,SHORT,1,0|"
      "ACTDVINC,LONG,1,100|ACTDECVAL,DOUBLE,0.25,0.5|DV,CURRENCY,0.25,0.5|ABResCost,SHORT,1,0|ABResCharge,SHORT,1,0");
  yesNo({"UseDimWeight", "SaturdayDelivery", "SaturdayPickup", "FreightService", "ResidentialService", "LetterExpress",
         "PopupEnabled", "DontRequireConsignee", "DontRequireShipper", "Disabled", "Kiosk", "AIR"});
  add("ABSATRED,SHORT,1,25|ABSATPURED,SHORT,1,25|ABSATBLACK,SHORT,1,30|ABSATPUBLACK,SHORT,1,30|"
      "ABCANUpToCostAP,SHORT,1,34|ABCANUpToChargeAP,SHORT,1,34|ABBlackResCost,SHORT,1,38|ABBlackResCharge,SHORT,1,38|"
      "actap,SHORT,6,40|AP,LONG,6,40|"
      // The host's own columns, copied from the template.
      "Notes,MEMO,'Ships on weekdays',Ships on weekdays|Created,DATETIME,'2009-01-02 03:04:05',2009-01-02 03:04:05|"
      "Priority,BYTE,3,3|Rate,CURRENCY,1.2345,1.2345|Weight,DOUBLE,2.25,2.25|Counter,LONG,70000,70000|"
      "Label,TEXT,'Ground',Ground|Unused,TEXT,NULL,NULL");
  return columns;
}

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

class Master : public CarrierFixture {
 protected:
  bool Add() { return Carrier::AddServiceToMaster("TARN-VEL", "TARNVEL-GND", "TARN-VEL", "FEDEX-GND", host); }
  std::vector<std::string> NewRecords() const {
    return Rows(host, "SELECT * FROM Master WHERE Service = 'TARNVEL-GND'");
  }
  std::string host = File("Mailvoro.mdb");
  std::vector<MasterColumn> columns = MasterColumns();
};

// The template is there twice: still one new record, the template untouched.
TEST_F(Master, ClonesTheTemplateWithTheOverrides) {
  ASSERT_EQ(columns.size(), 59u);
  TestSupport::CreateDatabase(host, MasterSql(columns, 2));
  EXPECT_TRUE(Add());
  std::string expected;
  for (std::size_t i = 0; i < columns.size(); ++i) expected += (i ? "|" : "") + columns[i].expected;
  EXPECT_EQ(NewRecords(), std::vector<std::string>{expected});
  EXPECT_EQ(Rows(host, "SELECT COUNT(*) FROM Master WHERE Service = 'FEDEX-GND' AND [Shipper#] = 17"),
            std::vector<std::string>{"2"});
  EXPECT_TRUE(Prompts().empty());
  std::vector<std::string> status;
  for (std::size_t i = 0; i < columns.size(); ++i)
    status.push_back("Adding service settings " + std::to_string(i) + " of 59");
  status.push_back("Finished adding service successfully!");
  EXPECT_EQ(StatusTexts(), status);
}

TEST_F(Master, FailuresLeaveNoRecord) {
  auto upsShort = columns;
  upsShort[7].type = "SHORT";
  upsShort[7].templateValue = "1";
  const struct {
    const char* name;
    std::string sql;
    std::string named;  // a text the description must hold
    bool statusIsDescription;
  } rows[] = {
      {"MissingTemplate", MasterSql(columns, 0), "no current record", true},
      {"ValueNotConvertible", MasterSql(upsShort, 1), "upscode", true},
      {"NoMasterTable", "CREATE TABLE Other (A LONG);", "Master", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove(host);
    ui.Clear();
    TestSupport::CreateDatabase(host, r.sql);
    EXPECT_FALSE(Add());
    const std::string description = FailureDescription(kMasterFailed);
    EXPECT_NE(description.find(r.named), std::string::npos) << description;
    const auto status = StatusTexts();
    EXPECT_EQ(status.empty() ? "" : status.back(), r.statusIsDescription ? description : "");
    if (r.sql.starts_with("CREATE TABLE Master")) {
      EXPECT_TRUE(NewRecords().empty());
    }
  }
}

TEST_F(CarrierFixture, AddZone6SetsEveryRecordOfTheService) {
  struct Row {
    const char* name;
    std::string rowsSql;
    int runs;
    std::vector<std::string> after;
  };
  const std::vector<Row> rows = {
      {"SeveralRecords", "('TARNVEL-GND', 0, 0), ('FEDEX-GND', 1, 1), ('tarnvel-gnd', 5, NULL)", 1,
       {"TARNVEL-GND|40|40", "FEDEX-GND|1|1", "tarnvel-gnd|40|40"}},
      {"Twice", "('TARNVEL-GND', 0, 0)", 2, {"TARNVEL-GND|40|40"}},
      {"NoRecord", "('FEDEX-GND', 1, 1)", 1, {"FEDEX-GND|1|1"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string host = File(std::string(r.name) + ".mdb");
    TestSupport::CreateDatabase(host, "CREATE TABLE Master (Service TEXT COLLATE NOCASE, ACTAP SHORT, AP LONG);"
                                      "INSERT INTO Master VALUES " + r.rowsSql + ";");
    ui.Clear();
    for (int run = 0; run < r.runs; ++run)
      EXPECT_TRUE(Carrier::AddZone6("TARN-VEL", "OTHER-CODE", "TARN-VEL", "FEDEX-GND", host));
    EXPECT_EQ(Rows(host, "SELECT * FROM Master ORDER BY rowid"), r.after);
    EXPECT_TRUE(Prompts().empty());
    EXPECT_EQ(StatusTexts().front(), "Adding new zone# 6 ...");
    EXPECT_EQ(StatusTexts().back(), "Finished adding new Zone# 6 successfully!");
  }
  // Without [ACTAP], the box carries the database's error and nothing changes.
  const std::string host = File("Mailvoro.mdb");
  TestSupport::CreateDatabase(host, "CREATE TABLE Master (Service TEXT, AP LONG);"
                                    "INSERT INTO Master VALUES ('TARNVEL-GND', 0);");
  ui.Clear();
  EXPECT_FALSE(Carrier::AddZone6("TARN-VEL", "TARNVEL-GND", "TARN-VEL", "FEDEX-GND", host));
  EXPECT_NE(FailureDescription("Failed to add new Zone# 6 to Master table...").find("ACTAP"), std::string::npos);
  EXPECT_EQ(StatusTexts(), std::vector<std::string>{"Adding new zone# 6 ..."});
  EXPECT_EQ(Rows(host, "SELECT * FROM Master"), std::vector<std::string>{"TARNVEL-GND|0"});
}

}  // namespace
