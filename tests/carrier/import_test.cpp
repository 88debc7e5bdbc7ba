// The zone chart: finding it for the origin ZIP code, reading it line by
// line into the zone table, and the whole preparation of the working zones
// database with the operator's answer.
#include <optional>

#include "Carrier.h"
#include "CarrierTestSupport.h"

namespace {

using namespace CarrierTest;

const std::string kReadFailed = "Failed to read Tarn-Vel 'csv' file...";
const std::string kParseFailed = "Failed to parse read line from Tarn-Vel 'csv' file...";
const std::string kImportFailed = "Failed to import Tarn-Vel 'csv' file to Zone table...";

std::string ZipMapSql(const std::string& firstFileName) {
  return kZoneTableSql +
         "CREATE TABLE Zip2FileOfOrigin (LOZIP LONG, HIZIP LONG, FileName TEXT COLLATE NOCASE);"
         "INSERT INTO Zip2FileOfOrigin VALUES (1000, 1999, " + firstFileName + "), (5000, 5999, 'chart05');";
}

TEST_F(CarrierFixture, ZoneChartForZipFindsTheChartOfTheRange) {
  struct Case {
    const char* name;
    std::string zip;
    std::string fileNameSql;  // [FileName] of the range 1000-1999
    std::string fileName;     // empty: not found
  };
  const std::vector<Case> cases = {
      {"NameWithoutExtension", "1234", "'chart01'", "chart01.csv"},
      {"NameWithExtension", "1234", "'chart01.csv'", "chart01.csv"},
      {"UpperCaseExtensionIsNotOne", "1234", "'chart01.CSV'", "chart01.CSV.csv"},
      {"NameWithSpacesAround", "1234", "'  chart01  '", "chart01.csv"},
      {"NullName", "1234", "NULL", ".csv"},
      {"LeadingZeroComparesAsNumber", "01234", "'chart01'", "chart01.csv"},
      {"SpacesAroundZip", "  1234 ", "'chart01'", "chart01.csv"},
      {"TopOfOtherRange", "5999", "'chart01'", "chart05.csv"},
      {"OutsideEveryRange", "999", "'chart01'", ""},
      {"Letters", "abc", "'chart01'", ""},
      // Spliced as typed, these would pick a chart: every row, or 12345-6789 = 5556.
      {"SqlInZip", "1 Or 1=1", "'chart01'", ""},
      {"ZipPlusFour", "12345-6789", "'chart01'", ""},
      {"TenDigits", "0000001234", "'chart01'", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string db = File(std::string(c.name) + ".mdb");
    TestSupport::CreateDatabase(db, ZipMapSql(c.fileNameSql));
    std::string fileName = "stale";
    EXPECT_EQ(Carrier::ZoneChartForZip(db, c.zip, fileName), !c.fileName.empty());
    EXPECT_EQ(fileName, c.fileName);
  }
  const std::string noMap = File("NoMap.mdb");  // no [Zip2FileOfOrigin]: no, silently
  TestSupport::CreateDatabase(noMap, kZoneTableSql);
  std::string fileName;
  EXPECT_FALSE(Carrier::ZoneChartForZip(noMap, "1234", fileName));
  EXPECT_EQ(fileName, "");
  EXPECT_TRUE(ui.Events().empty());
}

TEST(SplitCsvLine, KeepsFieldsTwoToFourExactly) {
  struct Row {
    std::string line;
    bool ok;
    std::string fields;
  };
  for (const auto& r : std::vector<Row>{{"A,1000,1999,5,extra", true, "1000|1999|5"},
                                        {" a , b ,, c ", true, " b || c "},
                                        {"A,1,2", false, "||"},
                                        {"", false, "||"}}) {
    std::string f2 = "x", f3 = "x", f4 = "x", description = "x";
    std::int32_t number = -1;
    EXPECT_EQ(Carrier::SplitCsvLine(r.line, f2, f3, f4, description, number), r.ok) << r.line;
    EXPECT_EQ(f2 + "|" + f3 + "|" + f4 + description + std::to_string(number), r.fields + "0") << r.line;
  }
}

TEST_F(CarrierFixture, ImportZoneChartRowsBoxesAndStatus) {
  const std::string kHeader = "Origin,Low,High,Zone";
  struct Case {
    const char* name;
    std::optional<std::string> chart;  // nullopt: no chart file
    bool zoneTable, result;
    std::vector<std::string> rows, boxSentences, statusTexts;
  };
  const std::vector<Case> cases = {
      {"EmptyChart", "", true, true, {}, {}, {}},
      {"HeaderSkippedButShown", kHeader + "\r\nX,005,009,2\r\n", true, true, {"5|9|2"}, {},
       {"Importing zones: " + kHeader, "Importing zones: X,005,009,2"}},
      {"ThreeFieldLineStopsButSucceeds", "A,1,2,3\r\nB,4,5\r\nC,6,7,8\r\n", true, true, {"1|2|3"}, {kParseFailed},
       {"Importing zones: A,1,2,3"}},
      {"EmptyLineStops", "A,1,2,3\r\n\r\nC,6,7,8", true, true, {"1|2|3"}, {kParseFailed}, {"Importing zones: A,1,2,3"}},
      {"LfOnlyLines", "A,1,2,3\nB,4,5,6\n", true, true, {"1|2|3", "4|5|6"}, {},
       {"Importing zones: A,1,2,3", "Importing zones: B,4,5,6"}},
      {"Windows1252Shown", "Zon\xE9,Low,High,Zone\r\n", true, true, {}, {},
       {"Importing zones: Zon\xC3\xA9,Low,High,Zone"}},
      {"MissingChart", std::nullopt, true, false, {}, {kReadFailed}, {}},
      {"ZoneTableMissing", "A,1,2,3\r\n", false, false, {}, {kImportFailed}, {}},
      {"BadValueStopsAfterRowsBefore", "A,1,2,3\r\nB,4,5,x y\r\nC,6,7,8\r\n", true, false, {"1|2|3"},
       {kImportFailed}, {"Importing zones: A,1,2,3"}},
      {"SecondStatementRefused", "A,1,2,3\r\nB,4,5,6); DROP TABLE [Master]; --\r\n", true, false, {"1|2|3"},
       {kImportFailed}, {"Importing zones: A,1,2,3"}},
  };
  std::filesystem::create_directory(dir.Path() / "Data");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui.Clear();
    const std::string chart = File("Data/" + std::string(c.name) + ".csv"), zones = File(std::string(c.name) + ".mdb");
    if (c.chart) TestSupport::WriteFile(chart, *c.chart);
    TestSupport::CreateDatabase(zones, "CREATE TABLE Master (Service TEXT); INSERT INTO Master VALUES ('FEDEX-GND');" +
                                           (c.zoneTable ? kZoneTableSql : ""));
    EXPECT_EQ(Carrier::ImportZoneChart(chart, zones, "TARNVEL-GND"), c.result);
    if (c.zoneTable) {
      EXPECT_EQ(Rows(zones, "SELECT LOZIP, HIZIP, ZONE FROM [TARNVEL-GND] ORDER BY rowid"), c.rows);
    }
    EXPECT_EQ(Rows(zones, "SELECT Service FROM Master"), std::vector<std::string>{"FEDEX-GND"});
    std::vector<std::string> sentences;
    for (const auto& box : ui.EventsOf(UiEvent::Kind::Message)) {
      sentences.push_back(SentenceOf(box.text));
      EXPECT_EQ(box.title + "|" + std::to_string(box.style), kFailedTitle + "|48");
      // Only a malformed line has no error behind it.
      EXPECT_EQ(DescriptionOf(box.text).empty(), SentenceOf(box.text) == kParseFailed) << box.text;
    }
    EXPECT_EQ(sentences, c.boxSentences);
    EXPECT_EQ(StatusTexts(), c.statusTexts);
  }
}

// The chart's name comes from the database; it must not reach outside the
// Data folder.
TEST_F(CarrierFixture, ImportZoneChartRefusesPathsOutsideTheDataFolder) {
  std::filesystem::create_directories(dir.Path() / "Data" / "sub");
  for (const char* name : {"outside.csv", "Data/sub/inner.csv", "Data/sub\\inner.csv"})
    TestSupport::WriteFile(File(name), "A,1,2,3\r\n");
  const std::string zones = File("TarnVel_Zones.mdb");
  TestSupport::CreateDatabase(zones, kZoneTableSql);
  const std::string sep(1, Platform::AppInfo::PathSeparator());
  const std::string data = dir.Path().string() + sep + "Data" + sep;
  const std::string outside = File("outside.csv");
  const std::vector<std::pair<std::string, std::string>> refused = {
      {data + ".." + sep + "outside.csv", ".." + sep + "outside.csv"},
      {data + "sub" + sep + "inner.csv", "sub" + sep + "inner.csv"},
      {data + "sub\\inner.csv", "sub\\inner.csv"},
      {outside, outside},
  };
  for (const auto& [path, named] : refused) {
    SCOPED_TRACE(path);
    ui.Clear();
    EXPECT_FALSE(Carrier::ImportZoneChart(path, zones, "TARNVEL-GND"));
    EXPECT_NE(FailureDescription(kReadFailed).find("'" + named + "'"), std::string::npos);
  }
  EXPECT_TRUE(Rows(zones, "SELECT * FROM [TARNVEL-GND]").empty());
}

// The runs follow each other in one program folder: each starts afresh
// from the empty zones database, which itself never changes.
TEST_F(CarrierFixture, PrepareZoneDatabaseAsksFindsCopiesImports) {
  std::filesystem::create_directory(dir.Path() / "Data");
  TestSupport::WriteFile(File("Data/chart01.csv"), "Origin,Low,High,Zone\r\nA,100,199,2\r\n");
  TestSupport::WriteFile(File("Data/chart05.csv"), "A,500,599,5\r\n");
  const std::string empty = File("TarnVel_Zones_Empty.mdb"), zones = File("TarnVel_Zones.mdb");
  TestSupport::CreateDatabase(empty, ZipMapSql("'chart01'") + "INSERT INTO Zip2FileOfOrigin VALUES (7000, 7999, 'no');");
  const std::string kNotFound = " zip-code was not found in the list of available zip-codes to this service.";
  const struct {
    std::optional<std::string> zip;  // nullopt: Cancel
    bool result;
    std::vector<std::string> boxes;  // title|style|prompt, failure boxes cut to their sentence
    std::vector<std::string> rows;   // of the working zones database; "-" for no database
  } cases[] = {
      {std::nullopt, false, {}, {"-"}},
      {"", false, {}, {"-"}},
      {"abc", false, {"AddTarnVel|48|abc" + kNotFound}, {"-"}},
      {"1234", true, {}, {"100|199|2"}},
      {"5500", true, {}, {"500|599|5"}},
      {"7000", false, {kFailedTitle + "|48|" + kReadFailed}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zip.value_or("Cancel"));
    ui.Clear();
    ui.inputAnswers = {c.zip};
    EXPECT_EQ(Carrier::PrepareZoneDatabase("TARN-VEL", "TarnVel_Zones_Empty.mdb", "TarnVel_Zones.mdb", "TARNVEL-GND"),
              c.result);
    const auto inputs = ui.EventsOf(UiEvent::Kind::Input);
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].title, "Install TARN-VEL?");
    EXPECT_EQ(inputs[0].text,
              "This utility will install TARN-VEL service to your Mailvoro.\r\r\r\rPlease enter your zipcode of origin:");
    EXPECT_EQ(Boxes(), c.boxes);
    if (c.rows == std::vector<std::string>{"-"}) {
      EXPECT_FALSE(std::filesystem::exists(zones));
    } else {
      EXPECT_EQ(Rows(zones, "SELECT LOZIP, HIZIP, ZONE FROM [TARNVEL-GND]"), c.rows);
    }
  }
  EXPECT_TRUE(Rows(empty, "SELECT * FROM [TARNVEL-GND]").empty());
}

}  // namespace
