// The zone chart: finding it for the origin ZIP code, reading it line by
// line into the zone table, and the whole preparation of the working zones
// database with the operator's answer.
#include <optional>

#include "Carrier.h"
#include "CarrierTestSupport.h"

namespace {

using namespace CarrierTest;

const std::string kZoneTable = "CREATE TABLE [TARNVEL-GND] (LOZIP LONG, HIZIP LONG, ZONE SHORT);";
const std::string kReadFailed = "Failed to read Tarn-Vel 'csv' file...";
const std::string kParseFailed = "Failed to parse read line from Tarn-Vel 'csv' file...";
const std::string kImportFailed = "Failed to import Tarn-Vel 'csv' file to Zone table...";

std::string ZipMapSql(const std::string& firstFileName) {
  return kZoneTable +
         "CREATE TABLE Zip2FileOfOrigin (LOZIP LONG, HIZIP LONG, FileName TEXT COLLATE NOCASE);"
         "INSERT INTO Zip2FileOfOrigin VALUES (1000, 1999, " + firstFileName + ");"
         "INSERT INTO Zip2FileOfOrigin VALUES (5000, 5999, 'chart05');";
}

// ZoneChartForZip.

struct ChartCase {
  const char* name;
  std::string zip;
  std::string fileNameSql;  // [FileName] of the range 1000-1999
  bool found;
  std::string fileName;
};
void PrintTo(const ChartCase& c, std::ostream* os) { *os << c.name; }

class ChartForZip : public CarrierFixture, public ::testing::WithParamInterface<ChartCase> {};

TEST_P(ChartForZip, FindsTheChartOfTheRange) {
  const auto& c = GetParam();
  const std::string db = File("TarnVel_Zones_Empty.mdb");
  TestSupport::CreateDatabase(db, ZipMapSql(c.fileNameSql));
  std::string fileName = "stale";
  EXPECT_EQ(Carrier::ZoneChartForZip(db, c.zip, fileName), c.found);
  EXPECT_EQ(fileName, c.fileName);
  EXPECT_TRUE(ui.Events().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Carrier, ChartForZip,
    ::testing::ValuesIn(std::vector<ChartCase>{
        {"NameWithoutExtension", "1234", "'chart01'", true, "chart01.csv"},
        {"NameWithExtension", "1234", "'chart01.csv'", true, "chart01.csv"},
        {"UpperCaseExtensionIsNotOne", "1234", "'chart01.CSV'", true, "chart01.CSV.csv"},
        {"NameWithSpacesAround", "1234", "'  chart01  '", true, "chart01.csv"},
        {"EmptyName", "1234", "''", true, ".csv"},
        {"NullName", "1234", "NULL", true, ".csv"},
        {"LeadingZeroComparesAsNumber", "01234", "'chart01'", true, "chart01.csv"},
        {"SpacesAroundZip", "  1234 ", "'chart01'", true, "chart01.csv"},
        {"OtherRange", "5999", "'chart01'", true, "chart05.csv"},
        {"OutsideEveryRange", "999", "'chart01'", false, ""},
        {"Letters", "abc", "'chart01'", false, ""},
        {"SingleSpace", " ", "'chart01'", false, ""},
        // Spliced as typed, these would pick a chart: every row, or 12345-6789 = 5556.
        {"SqlInZip", "1 Or 1=1", "'chart01'", false, ""},
        {"ZipPlusFour", "12345-6789", "'chart01'", false, ""},
        {"TenDigits", "0000001234", "'chart01'", false, ""},
        {"InnerSpace", "12 34", "'chart01'", false, ""},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CarrierFixture, ZoneChartForZipWithoutMapTableAnswersFalseSilently) {
  const std::string db = File("TarnVel_Zones_Empty.mdb");
  TestSupport::CreateDatabase(db, kZoneTable);
  std::string fileName;
  EXPECT_FALSE(Carrier::ZoneChartForZip(db, "1234", fileName));
  EXPECT_EQ(fileName, "");
  EXPECT_TRUE(ui.Events().empty());
}

// SplitCsvLine.

TEST(SplitCsvLine, KeepsFieldsTwoToFourExactly) {
  struct Row {
    std::string line;
    bool ok;
    std::string f2, f3, f4;
  };
  for (const auto& r : std::vector<Row>{{"A,1000,1999,5,extra", true, "1000", "1999", "5"},
                                        {" a , b ,, c ", true, " b ", "", " c "},
                                        {",,,", true, "", "", ""},
                                        {"A,1,2", false, "", "", ""},
                                        {"", false, "", "", ""}}) {
    std::string f2 = "x", f3 = "x", f4 = "x", description = "x";
    std::int32_t number = -1;
    EXPECT_EQ(Carrier::SplitCsvLine(r.line, f2, f3, f4, description, number), r.ok) << r.line;
    EXPECT_EQ(f2 + "|" + f3 + "|" + f4, r.f2 + "|" + r.f3 + "|" + r.f4) << r.line;
    EXPECT_EQ(description, "");
    EXPECT_EQ(number, 0);
  }
}

// ImportZoneChart.

struct ImportCase {
  const char* name;
  std::optional<std::string> chart;  // nullopt: no chart file
  bool zoneTable;
  bool result;
  std::vector<std::string> rows;
  std::vector<std::string> boxSentences;
  std::vector<std::string> statusTexts;
};
void PrintTo(const ImportCase& c, std::ostream* os) { *os << c.name; }

class ImportChart : public CarrierFixture, public ::testing::WithParamInterface<ImportCase> {};

TEST_P(ImportChart, RowsBoxesAndStatus) {
  const auto& c = GetParam();
  std::filesystem::create_directory(dir.Path() / "Data");
  const std::string chart = File("Data/chart01.csv");
  if (c.chart) TestSupport::WriteFile(chart, *c.chart);
  const std::string zones = File("TarnVel_Zones.mdb");
  TestSupport::CreateDatabase(zones, std::string("CREATE TABLE Master (Service TEXT);"
                                                 "INSERT INTO Master VALUES ('FEDEX-GND');") +
                                         (c.zoneTable ? kZoneTable : ""));

  EXPECT_EQ(Carrier::ImportZoneChart(chart, zones, "TARNVEL-GND"), c.result);

  if (c.zoneTable) {
    EXPECT_EQ(Rows(zones, "SELECT LOZIP, HIZIP, ZONE FROM [TARNVEL-GND] ORDER BY rowid"), c.rows);
  }
  EXPECT_EQ(Rows(zones, "SELECT Service FROM Master"), std::vector<std::string>{"FEDEX-GND"});
  const auto boxes = ui.EventsOf(UiEvent::Kind::Message);
  std::vector<std::string> sentences;
  for (const auto& box : boxes) {
    sentences.push_back(SentenceOf(box.text));
    EXPECT_EQ(box.title, kFailedTitle);
    EXPECT_EQ(box.style, 48);
    if (SentenceOf(box.text) == kParseFailed) {
      EXPECT_EQ(DescriptionOf(box.text), "");
    } else {
      EXPECT_NE(DescriptionOf(box.text), "") << box.text;
    }
  }
  EXPECT_EQ(sentences, c.boxSentences);
  EXPECT_EQ(StatusTexts(), c.statusTexts);
}

const std::string kHeader = "Origin,Low,High,Zone";

INSTANTIATE_TEST_SUITE_P(
    Carrier, ImportChart,
    ::testing::ValuesIn(std::vector<ImportCase>{
        {"EmptyChart", "", true, true, {}, {}, {}},
        {"HeaderSkippedButShown", kHeader + "\r\nX,005,009,2\r\n", true, true, {"5|9|2"}, {},
         {"Importing zones: " + kHeader, "Importing zones: X,005,009,2"}},
        {"FifthFieldIgnored", "A,1000,1999,5,extra\r\n", true, true, {"1000|1999|5"}, {},
         {"Importing zones: A,1000,1999,5,extra"}},
        {"ThreeFieldLineStopsButSucceeds", "A,1,2,3\r\nB,4,5\r\nC,6,7,8\r\n", true, true, {"1|2|3"}, {kParseFailed},
         {"Importing zones: A,1,2,3"}},
        {"EmptyLineStops", "A,1,2,3\r\n\r\nC,6,7,8", true, true, {"1|2|3"}, {kParseFailed},
         {"Importing zones: A,1,2,3"}},
        {"LastCrLfMakesNoExtraLine", "A,1,2,3\r\nB,4,5,6\r\n", true, true, {"1|2|3", "4|5|6"}, {},
         {"Importing zones: A,1,2,3", "Importing zones: B,4,5,6"}},
        {"CrOnlyLines", "A,1,2,3\rB,4,5,6", true, true, {"1|2|3", "4|5|6"}, {},
         {"Importing zones: A,1,2,3", "Importing zones: B,4,5,6"}},
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
    }),
    [](const auto& info) { return std::string(info.param.name); });

// The chart's name comes from the database; it must not reach outside the
// Data folder.
TEST_F(CarrierFixture, ImportZoneChartRefusesPathsOutsideTheDataFolder) {
  std::filesystem::create_directories(dir.Path() / "Data" / "sub");
  TestSupport::WriteFile(File("outside.csv"), "A,1,2,3\r\n");
  TestSupport::WriteFile(File("Data/sub/inner.csv"), "A,1,2,3\r\n");
  TestSupport::WriteFile(File("Data/sub\\inner.csv"), "A,1,2,3\r\n");
  const std::string zones = File("TarnVel_Zones.mdb");
  TestSupport::CreateDatabase(zones, kZoneTable);
  const std::string sep(1, Platform::AppInfo::PathSeparator());
  const std::string data = dir.Path().string() + sep + "Data" + sep;
  const std::string outside = File("outside.csv");
  const std::vector<std::pair<std::string, std::string>> refused = {
      {data + ".." + sep + "outside.csv", ".." + sep + "outside.csv"},
      {data + "sub" + sep + "inner.csv", "sub" + sep + "inner.csv"},
      {data + "sub\\inner.csv", "sub\\inner.csv"},
      {data + "..", ".."},
      {outside, outside},
  };
  for (const auto& [path, named] : refused) {
    ui.Clear();
    EXPECT_FALSE(Carrier::ImportZoneChart(path, zones, "TARNVEL-GND")) << path;
    const auto prompts = Prompts();
    ASSERT_EQ(prompts.size(), 1u) << path;
    EXPECT_EQ(SentenceOf(prompts[0]), kReadFailed);
    EXPECT_NE(DescriptionOf(prompts[0]).find("'" + named + "'"), std::string::npos) << prompts[0];
  }
  EXPECT_TRUE(Rows(zones, "SELECT * FROM [TARNVEL-GND]").empty());
}

// PrepareZoneDatabase.

struct PrepareCase {
  const char* name;
  std::optional<std::string> zip;  // nullopt: Cancel
  std::string fileNameSql;
  bool result;
  std::vector<std::string> prompts;  // whole prompts, or the sentence of a failure box
  std::vector<std::string> rows;     // of the working zones database; "-" for no database
};
void PrintTo(const PrepareCase& c, std::ostream* os) { *os << c.name; }

class Prepare : public CarrierFixture, public ::testing::WithParamInterface<PrepareCase> {};

TEST_P(Prepare, AsksFindsCopiesImports) {
  const auto& c = GetParam();
  std::filesystem::create_directory(dir.Path() / "Data");
  TestSupport::WriteFile(File("Data/chart01.csv"), "Origin,Low,High,Zone\r\nA,100,199,2\r\n");
  TestSupport::WriteFile(File("Data/chart05.csv"), "A,500,599,5\r\n");
  TestSupport::WriteFile(File("outside.csv"), "A,1,2,3\r\n");
  TestSupport::WriteFile(File("Data/sub\\chart.csv"), "A,1,2,3\r\n");
  TestSupport::CreateDatabase(File("TarnVel_Zones_Empty.mdb"), ZipMapSql(c.fileNameSql));
  ui.inputAnswers.push_back(c.zip);

  EXPECT_EQ(Carrier::PrepareZoneDatabase("TARN-VEL", "TarnVel_Zones_Empty.mdb", "TarnVel_Zones.mdb", "TARNVEL-GND"),
            c.result);

  const auto inputs = ui.EventsOf(UiEvent::Kind::Input);
  ASSERT_EQ(inputs.size(), 1u);
  EXPECT_EQ(inputs[0].title, "Install TARN-VEL?");
  EXPECT_EQ(inputs[0].text,
            "This utility will install TARN-VEL service to your Mailvoro.\r\r\r\rPlease enter your zipcode of origin:");
  std::vector<std::string> prompts;
  for (const auto& box : ui.EventsOf(UiEvent::Kind::Message))
    prompts.push_back(box.title == kFailedTitle ? SentenceOf(box.text) : box.title + "|" + std::to_string(box.style) +
                                                                               "|" + box.text);
  EXPECT_EQ(prompts, c.prompts);
  const std::string zones = File("TarnVel_Zones.mdb");
  if (c.rows == std::vector<std::string>{"-"}) {
    EXPECT_FALSE(std::filesystem::exists(zones));
  } else {
    EXPECT_EQ(Rows(zones, "SELECT LOZIP, HIZIP, ZONE FROM [TARNVEL-GND]"), c.rows);
  }
}

const std::string kNotFound = " zip-code was not found in the list of available zip-codes to this service.";

INSTANTIATE_TEST_SUITE_P(
    Carrier, Prepare,
    ::testing::ValuesIn(std::vector<PrepareCase>{
        {"ZipInRange", "1234", "'chart01'", true, {}, {"100|199|2"}},
        {"ZipInOtherRange", "5000", "'chart01'", true, {}, {"500|599|5"}},
        {"Cancel", std::nullopt, "'chart01'", false, {}, {"-"}},
        {"EmptyText", "", "'chart01'", false, {}, {"-"}},
        {"Letters", "abc", "'chart01'", false, {"AddTarnVel|48|abc" + kNotFound}, {"-"}},
        {"SingleSpace", " ", "'chart01'", false, {"AddTarnVel|48| " + kNotFound}, {"-"}},
        {"SqlInZip", "1 Or 1=1", "'chart01'", false, {"AddTarnVel|48|1 Or 1=1" + kNotFound}, {"-"}},
        {"MissingChart", "1234", "'nochart'", false, {kReadFailed}, {}},
        {"ChartNameLeavesDataFolder", "1234", "'../outside'", false, {kReadFailed}, {}},
        {"ChartNameWithBackslash", "1234", "'sub\\chart'", false, {kReadFailed}, {}},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CarrierFixture, PrepareZoneDatabaseStartsEachRunAfresh) {
  std::filesystem::create_directory(dir.Path() / "Data");
  TestSupport::WriteFile(File("Data/chart01.csv"), "A,100,199,2\r\n");
  TestSupport::WriteFile(File("Data/chart05.csv"), "A,500,599,5\r\n");
  TestSupport::CreateDatabase(File("TarnVel_Zones_Empty.mdb"), ZipMapSql("'chart01'"));
  ui.inputAnswers = {"1500", "5500"};
  for (int run = 0; run < 2; ++run)
    EXPECT_TRUE(Carrier::PrepareZoneDatabase("TARN-VEL", "TarnVel_Zones_Empty.mdb", "TarnVel_Zones.mdb",
                                             "TARNVEL-GND"));
  EXPECT_EQ(Rows(File("TarnVel_Zones.mdb"), "SELECT LOZIP, HIZIP, ZONE FROM [TARNVEL-GND]"),
            std::vector<std::string>{"500|599|5"});
  EXPECT_TRUE(Rows(File("TarnVel_Zones_Empty.mdb"), "SELECT * FROM [TARNVEL-GND]").empty());
}

}  // namespace
