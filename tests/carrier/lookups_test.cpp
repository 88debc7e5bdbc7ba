// The four questions asked of the databases before anything changes: what
// each answers when the row is found, when it is not, and when the query
// cannot run (the host lookups then say yes, the carrier lookups no).
#include <functional>

#include "Carrier.h"
#include "CarrierTestSupport.h"

namespace {

using namespace CarrierTest;
using Lookup = std::function<bool(const std::string& value, const std::string& dbPath)>;

struct LookupCase {
  const char* name;
  Lookup lookup;
  std::string value;
  std::string sql;  // the database asked; empty: no file at all
  bool answer;
  bool failureBox;
};
void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

const std::string kMaster = "CREATE TABLE Master (Service TEXT COLLATE NOCASE, ACTAP SHORT);";
const std::string kZones = "CREATE TABLE [TARNVEL-GND] (LOZIP LONG, HIZIP LONG, ZONE SHORT);";
const std::string kRates = "CREATE TABLE [TARNVEL-GND] (LBS DOUBLE, Z2 CURRENCY);";

std::vector<LookupCase> Cases() {
  const Lookup inMaster = Carrier::ServiceInMaster;
  const Lookup inPanel = Carrier::ServiceInPanel;
  const Lookup zones = Carrier::TableHasZones;
  const Lookup rates = Carrier::TableHasRates;
  const std::string code = "TARNVEL-GND";
  return {
      {"MasterFound", inMaster, code, kMaster + "INSERT INTO Master VALUES ('TARNVEL-GND', 0);", true, false},
      {"MasterFoundOtherCase", inMaster, code, kMaster + "INSERT INTO Master VALUES ('tarnvel-gnd', 0);", true, false},
      {"MasterNotFound", inMaster, code, kMaster + "INSERT INTO Master VALUES ('FEDEX-GND', 0);", false, false},
      {"MasterTableMissing", inMaster, code, "CREATE TABLE Other (A LONG);", true, true},
      {"MasterApostropheInCode", inMaster, "O'NEIL", kMaster, true, true},
      {"MasterFileMissing", inMaster, code, "", true, true},
      {"PanelFoundOnSV7", inPanel, code, PanelTableSql() + "INSERT INTO Panel (PanelIndex, SV7) VALUES (3, 'TARNVEL-GND');",
       true, false},
      {"PanelNotFound", inPanel, code, PanelTableSql() + "INSERT INTO Panel (PanelIndex, SV1) VALUES (1, 'FEDEX-GND');",
       false, false},
      {"PanelColumnSV7Missing", inPanel, code,
       "CREATE TABLE Panel (PanelIndex SHORT, SV1 TEXT, SV2 TEXT, SV3 TEXT, SV4 TEXT, SV5 TEXT, SV6 TEXT);", true, true},
      {"PanelFileMissing", inPanel, code, "", true, true},
      {"ZonesWithRows", zones, code, kZones + "INSERT INTO [TARNVEL-GND] VALUES (0, 99999, 2);", true, false},
      {"ZonesEmptyTable", zones, code, kZones, true, false},
      {"ZonesTableMissing", zones, code, "CREATE TABLE Zip2FileOfOrigin (LOZIP LONG);", false, true},
      {"ZonesColumnMissing", zones, code, "CREATE TABLE [TARNVEL-GND] (LOZIP LONG);", false, true},
      {"ZonesFileMissing", zones, code, "", false, true},
      {"RatesWithRows", rates, code, kRates + "INSERT INTO [TARNVEL-GND] VALUES (1, 9.5);", true, false},
      {"RatesEmptyTable", rates, code, kRates, true, false},
      {"RatesTableMissing", rates, code, "CREATE TABLE Other (LBS LONG);", false, true},
      {"RatesFileMissing", rates, code, "", false, true},
  };
}

class Lookups : public CarrierFixture, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(Lookups, AnswerAndFailureBox) {
  const auto& c = GetParam();
  const std::string db = File("lookup.mdb");
  if (!c.sql.empty()) TestSupport::CreateDatabase(db, c.sql);

  EXPECT_EQ(c.lookup(c.value, db), c.answer);

  const auto boxes = ui.EventsOf(UiEvent::Kind::Message);
  ASSERT_EQ(boxes.size(), c.failureBox ? 1u : 0u);
  if (c.failureBox) {
    EXPECT_EQ(boxes[0].title, kFailedTitle);
    EXPECT_EQ(boxes[0].style, 48);
    EXPECT_EQ(SentenceOf(boxes[0].text), kFailedTitle);
    EXPECT_NE(DescriptionOf(boxes[0].text), "") << boxes[0].text;
  }
  EXPECT_TRUE(StatusTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(Carrier, Lookups, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
