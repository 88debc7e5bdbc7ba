// Bad input tried: each line of zips.txt, chart_names.txt and chart_fields.txt (OUTCOME<TAB>INPUT) is an installation
// on a demo shop of its own that ends as the outcome says and changes no row but the service's (a failed one nothing).
// The fuzz targets' seeds and kept regression inputs replayed through the targets' checks, in every build.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "FuzzChecks.h"
#include "Shop.h"
#include "Ui.h"

namespace {

using namespace TestSupport;
namespace fs = std::filesystem;

// "\xHH" is the byte HH; "@repeat N TEXT" is TEXT N times.
std::string Unescape(const std::string& raw) {
  std::string text;
  if (std::size_t end = 0; raw.starts_with("@repeat ")) {
    for (int i = std::stoi(raw.substr(8), &end); i > 0; --i) text += Unescape(raw.substr(8 + end + 1));
    return text;
  }
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const bool hex = raw.compare(i, 2, "\\x") == 0 && i + 3 < raw.size();
    text += hex ? static_cast<char>(std::stoi(raw.substr(i + 2, 2), nullptr, 16)) : raw[i];
    i += hex ? 3 : 0;
  }
  return text;
}

struct Case {
  std::string name, file, outcome, text;
};

// Every case of the three corpora, named by its file, line, outcome and input.
std::vector<Case> Load() {
  std::vector<Case> cases;
  for (const std::string file : {"zips.txt", "chart_names.txt", "chart_fields.txt"}) {
    std::ifstream in(ATV_CORPUS_DIR "/" + file, std::ios::binary);
    if (!in) cases.push_back({file + " is missing", file, "(no file)", ""});
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      if (line.empty() || line[0] == '#') continue;
      const std::string outcome = line.substr(0, line.find('\t')),
                        raw = line.substr(std::min(outcome.size() + 1, line.size()));
      const std::string name = file.substr(0, file.find('.')) + " line " + std::to_string(number);
      cases.push_back({name + " " + outcome + " " + raw.substr(0, 40), file, outcome, Unescape(raw)});
    }
  }
  return cases;
}

// Exit status, boxes' styles, chart rows ("": no chart; "*": any); "rows N" is "added" with N chart rows.
struct Outcome {
  int exit;
  std::vector<int> styles;
  std::string chartRows;
};
const int kAsk = Platform::kMbQuestion | Platform::kMbOkCancel, kInfo = Platform::kMbInformation;
const int kWarn = Platform::kMbExclamation, kStop = Platform::kMbCritical;
// clang-format off
const std::map<std::string, Outcome> kOutcomes = {
    {"added",      {0, {kAsk, kInfo}, "*"}},
    {"parse",      {0, {kWarn, kAsk, kInfo}, "0"}},
    {"not-found",  {1, {kWarn, kStop}, ""}},
    {"cancelled",  {1, {kStop}, ""}},
    {"missing",    {1, {kWarn, kStop}, "0"}},
    {"unreadable", {1, {kWarn, kStop}, "0"}},
    {"refused",    {1, {kWarn, kStop}, "0"}},
};
// clang-format on

const char kTables[] = "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name";

// A demo shop of its own and a program folder: a lighter stand-in for Shop whose charts are hard links to the
// build's (copies where links cannot be made), so that the many cases copy no chart; a case unlinks what it changes.
struct Place {
  TempDir dir;
  fs::path built = BuiltProgramFolder(), program = dir.Path() / "program", folder = dir.Path() / "shop";
  std::string host = (folder / "Mailvoro.mdb").string(), zones = (folder / "TarnVel_Zones.mdb").string();
  std::string empty = (program / "TarnVel_Zones_Empty.mdb").string(),
              chart = (program / "Data/TarnVel_100.csv").string();
  Place() {
    for (const auto& made : {program, folder}) fs::create_directories(made);
    std::error_code e;
    fs::copy(built / "Data", program / "Data", fs::copy_options::recursive | fs::copy_options::create_hard_links, e);
    if (e) fs::copy(built / "Data", program / "Data", fs::copy_options::recursive);
    for (const char* name : {"TarnVel_Zones_Empty.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt", "TarnVel.jpg",
                             "TarnVel_Generic.lab"})
      fs::copy_file(built / name, program / name);
    CreateDatabase(host, ReadFile(ATV_SOURCE_DIR "/data/demo-shop.sql"));
  }
  // What no case changes: the program folder, the host's tables and the rows not the service's.
  std::vector<std::string> Others() const {
    std::vector<std::string> rows;
    for (const auto& [name, digest] : FolderContents(program)) rows.push_back(name + " " + digest);
    for (const char* sql : {kTables, "Select * From [Master] Where [Service] <> 'TARNVEL-GND' Order By [Service]",
                            "Select * From [Panel] Where [SV1] Is Null Or [SV1] <> 'TARNVEL-GND' Order By 1"})
      for (auto& row : Rows(host, sql)) rows.push_back(std::move(row));
    return rows;
  }
  auto Shop() const { return std::pair(DatabaseText(host), FolderContents(folder)); }
};

class Corpus : public testing::TestWithParam<Case> {};

TEST_P(Corpus, EndsAsItsOutcomeSays) {
  const Case& c = GetParam();
  const Place p;
  if (c.file == "chart_names.txt") {  // the chart of the range that holds 10001 is the case's text
    const std::string name = "'" + std::regex_replace(c.text, std::regex("'"), "''") + "'";
    CreateDatabase(p.empty, "UPDATE Zip2FileOfOrigin SET FileName = " + name + " WHERE 10001 BETWEEN LOZIP AND HIZIP");
  } else if (c.file == "chart_fields.txt") {  // the chart of 10001 is a line of column titles and the case's line
    fs::remove(p.chart);
    WriteFile(p.chart, "Origin,LOZIP,HIZIP,ZONE\r\n" + c.text + "\r\n");
  }
  const auto others = p.Others();
  const auto shop = p.Shop();
  const auto run = Wait(Start(Cli({"--json", "--yes", "--zip", c.file == "zips.txt" ? c.text : "10001",
                                   "--program-folder", p.program.string(), p.host}),
                              p.dir.File("out"), p.dir.File("err")));
  const Outcome want = c.outcome.starts_with("rows ") ? Outcome{0, {kAsk, kInfo}, c.outcome.substr(5)}
                                                      : kOutcomes.at(c.outcome);  // throws on an unknown outcome
  std::vector<int> styles;
  for (const auto& e : run.events)
    if (e.value("event", "") == "message") styles.push_back(e.value("style", -1));
  EXPECT_EQ(run.exitStatus, want.exit) << run.Dump();
  EXPECT_EQ(styles, want.styles) << run.Dump();
  EXPECT_TRUE(want.chartRows == "*" || run.ChartRows() == want.chartRows) << run.ChartRows();
  EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;  // at most: what a ZIP code is
  EXPECT_TRUE(!fs::exists(p.zones) || Rows(p.zones, kTables) == Rows(p.empty, kTables));
  EXPECT_EQ(p.Others(), others) << "the program folder or a row not the service's changed";
  EXPECT_TRUE(run.exitStatus == 0 || p.Shop() == shop) << "a run that failed changed the shop";
  if (run.exitStatus != 0) return;
  EXPECT_EQ(p.Shop().second.size(), 6u) << "the host database and the carrier's 5 files";
  EXPECT_EQ(Value(p.zones, "SELECT COUNT(*) FROM [TARNVEL-GND]"), run.ChartRows());
  EXPECT_EQ(Value(p.host, "Select count(*) From [Master] Join [Panel] On [SV1] = [Service] And [SV1] = 'TARNVEL-GND'"),
            "1");
}

INSTANTIATE_TEST_SUITE_P(Lines, Corpus, testing::ValuesIn(Load()), RowName);

TEST(FuzzReplay, SeedsAndRegressionsOfEveryTarget) {
  const TempDir dir;
  for (const std::string target : {"translate_sql", "chart_line"}) {
    int inputs = 0;
    for (const char* kind : {"seeds", "regressions"}) {
      std::error_code none;  // a target without regressions
      for (const auto& entry : fs::directory_iterator(fs::path(ATV_FUZZ_DIR) / kind / target, none)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        SCOPED_TRACE(entry.path().string());
        const std::string bytes = ReadFile(entry.path().string());
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        if (target == "chart_line") FuzzChecks::ChartLines(dir.File("chart.csv"), data, bytes.size());
        if (target == "translate_sql") FuzzChecks::TranslateSql(data, bytes.size());
        ++inputs;
      }
    }
    EXPECT_GT(inputs, 0) << target << " has no input";
  }
}

}  // namespace
