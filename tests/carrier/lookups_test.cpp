// The four questions asked of the databases before anything changes: what
// each answers when the row is found, when it is not, and when the query
// cannot run (the host lookups then say yes, the carrier lookups no).
#include <functional>

#include "Carrier.h"
#include "CarrierTestSupport.h"

namespace {

using namespace CarrierTest;
using Lookup = std::function<bool(const std::string& value, const std::string& dbPath)>;

TEST_F(CarrierFixture, LookupsAnswerAndFailureBox) {
  const Lookup inMaster = Carrier::ServiceInMaster, inPanel = Carrier::ServiceInPanel, zones = Carrier::TableHasZones,
               rates = Carrier::TableHasRates;
  const std::string master = "CREATE TABLE Master (Service TEXT COLLATE NOCASE, ACTAP SHORT);";
  struct Case {
    const char* name;
    Lookup lookup;
    std::string value;
    std::string sql;  // the database asked; empty: no file at all
    bool answer, failureBox;
  };
  const std::vector<Case> cases = {
      {"MasterFoundOtherCase", inMaster, "TARNVEL-GND", master + "INSERT INTO Master VALUES ('tarnvel-gnd', 0);", true,
       false},
      {"MasterNotFound", inMaster, "TARNVEL-GND", master + "INSERT INTO Master VALUES ('FEDEX-GND', 0);", false, false},
      {"MasterTableMissing", inMaster, "TARNVEL-GND", "CREATE TABLE Other (A LONG);", true, true},
      {"MasterFileMissing", inMaster, "TARNVEL-GND", "", true, true},
      {"PanelFoundOnSV7", inPanel, "TARNVEL-GND",
       PanelTableSql() + "INSERT INTO Panel (PanelIndex, SV7) VALUES (3, 'TARNVEL-GND');", true, false},
      {"PanelNotFound", inPanel, "TARNVEL-GND", PanelTableSql(), false, false},
      {"PanelColumnSV7Missing", inPanel, "TARNVEL-GND", "CREATE TABLE Panel (PanelIndex SHORT, SV1 TEXT);", true, true},
      {"ZonesEmptyTable", zones, "TARNVEL-GND", kZoneTableSql, true, false},
      {"ZonesTableMissing", zones, "TARNVEL-GND", "CREATE TABLE Zip2FileOfOrigin (LOZIP LONG);", false, true},
      {"RatesEmptyTable", rates, "TARNVEL-GND", "CREATE TABLE [TARNVEL-GND] (LBS DOUBLE, Z2 CURRENCY);", true, false},
      {"RatesFileMissing", rates, "TARNVEL-GND", "", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui.Clear();
    const std::string db = File(std::string(c.name) + ".mdb");
    if (!c.sql.empty()) TestSupport::CreateDatabase(db, c.sql);
    EXPECT_EQ(c.lookup(c.value, db), c.answer);
    if (c.failureBox) {
      EXPECT_NE(FailureDescription(kFailedTitle), "");
    } else {
      EXPECT_TRUE(ui.Events().empty());
    }
    EXPECT_TRUE(StatusTexts().empty());
  }
}

}  // namespace
