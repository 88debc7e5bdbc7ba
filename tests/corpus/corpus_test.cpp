// Bad input tried: each line of zips.txt, chart_names.txt and chart_fields.txt (OUTCOME<TAB>INPUT) is a
// case, one installation by the built runner on a demo shop of its own that ends as the outcome says: exit
// status, the boxes' styles, the summary's chart rows. Only the program's own statements run: a case that
// installs changes no row but the service's record and button, any other leaves the shop folder and database
// as they were; none changes the program folder; the shop's zones database has the empty one's tables.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "Shop.h"
#include "Ui.h"

namespace {

using namespace TestSupport;
namespace fs = std::filesystem;

// "\t \r \n \\ \xHH" escapes; "@repeat N TEXT" is TEXT N times.
std::string Unescape(const std::string& raw) {
  std::string text;
  if (std::size_t end = 0; raw.starts_with("@repeat ")) {
    for (int i = std::stoi(raw.substr(8), &end); i > 0; --i) text += Unescape(raw.substr(8 + end + 1));
    return text;
  }
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i] == '\\' && i + 1 < raw.size() ? raw[++i] : '\0';
    const bool hex = c == 'x' && i + 2 < raw.size();
    text += c == '\0'  ? raw[i]
            : hex      ? static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16))
            : c == 't' ? '\t'
            : c == 'r' ? '\r'
            : c == 'n' ? '\n'
                       : c;
    i += hex ? 2 : 0;
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
    int number = 0;
    for (std::string line; std::getline(in, line);) {
      if (++number, line.empty() || line[0] == '#') continue;
      const auto tab = line.find('\t');
      const std::string outcome = tab == std::string::npos ? "(no TAB)" : line.substr(0, tab),
                        raw = line.substr(tab + 1);
      cases.push_back(
          {file.substr(0, file.find('.')) + " line " + std::to_string(number) + " " + outcome + " " + raw.substr(0, 40),
           file, outcome, Unescape(raw)});
    }
  }
  return cases;
}

// A run's exit status, its boxes' styles in order, its summary's chart rows ("": no chart; "*": any).
struct Outcome {
  int exit;
  std::vector<int> styles;
  std::string chartRows;
};

Outcome Expected(const std::string& outcome) {
  using namespace Platform;
  const int question = kMbQuestion | kMbOkCancel;
  const Outcome added{0, {question, kMbInformation}, "*"}, failed{1, {kMbExclamation, kMbCritical}, "0"};
  if (outcome.starts_with("rows ")) return {0, added.styles, outcome.substr(5)};
  const std::map<std::string, Outcome> outcomes = {{"added", added},
                                                   {"parse", {0, {kMbExclamation, question, kMbInformation}, "0"}},
                                                   {"not-found", {1, failed.styles, ""}},
                                                   {"cancelled", {1, {kMbCritical}, ""}},
                                                   {"missing", failed},
                                                   {"unreadable", failed},
                                                   {"refused", failed}};
  const auto found = outcomes.find(outcome);
  return found == outcomes.end() ? Outcome{-2, {}, "(unknown outcome)"} : found->second;
}

const char kTables[] = "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name";

// A demo shop of the case's own, and a program folder of copies of the carrier's files and of links to the
// build's charts (copies where links cannot be made); a case replaces the link it changes by a file.
struct Place {
  TempDir dir;
  fs::path built = BuiltProgramFolder(), program = dir.Path() / "program", folder = dir.Path() / "shop";
  std::string host = (folder / "Mailvoro.mdb").string(), zones = (folder / "TarnVel_Zones.mdb").string();
  std::string empty = (program / "TarnVel_Zones_Empty.mdb").string();
  std::string chart = (program / "Data/TarnVel_100.csv").string();
  Place() {
    for (const auto& made : {program, folder}) fs::create_directories(made);
    for (const char* name : {"TarnVel_Zones_Empty.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt", "TarnVel.jpg",
                             "TarnVel_Generic.lab"})
      fs::copy_file(built / name, program / name);
    std::error_code e;
    fs::copy(built / "Data", program / "Data", fs::copy_options::recursive | fs::copy_options::create_hard_links, e);
    if (e) fs::copy(built / "Data", program / "Data", fs::copy_options::recursive);
    CreateDatabase(host, ReadFile(ATV_SOURCE_DIR "/data/demo-shop.sql"));
  }
  // What a case may change: the host database and folder; never the program folder, tables or others' rows.
  struct Snapshot {
    std::string host;
    std::map<std::string, std::string> folder;
    std::vector<std::string> others;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot Take() const {
    Snapshot s{DatabaseText(host), FolderContents(folder), {}};
    for (const auto& [name, digest] : FolderContents(program)) s.others.push_back(name + " " + digest);
    for (const char* sql : {kTables, "Select * From [Master] Where [Service] <> 'TARNVEL-GND' Order By [Service]",
                            "Select * From [Panel] Where [SV1] Is Null Or [SV1] <> 'TARNVEL-GND' Order By 1"})
      for (auto& row : Rows(host, sql)) s.others.push_back(std::move(row));
    return s;
  }
};

class Corpus : public testing::TestWithParam<Case> {};

TEST_P(Corpus, EndsAsItsOutcomeSays) {
  const Case& c = GetParam();
  const Place p;
  if (c.file == "chart_names.txt") {  // the chart of the range that holds 10001 is the case's text
    const std::string name = std::regex_replace(c.text, std::regex("'"), "''");
    CreateDatabase(p.empty,
                   "UPDATE Zip2FileOfOrigin SET FileName = '" + name + "' WHERE 10001 BETWEEN LOZIP AND HIZIP");
  } else if (c.file == "chart_fields.txt") {  // the chart of 10001 is a line of column titles and the case's line
    fs::remove(p.chart);
    WriteFile(p.chart, "Origin,LOZIP,HIZIP,ZONE\r\n" + c.text + "\r\n");
  }
  const auto before = p.Take();
  const auto run = Wait(Start(Cli({"--json", "--yes", "--zip", c.file == "zips.txt" ? c.text : "10001",
                                   "--program-folder", p.program.string(), p.host}),
                              p.dir.File("out"), p.dir.File("err")));
  const Outcome want = Expected(c.outcome);
  std::vector<int> styles;
  for (const auto& e : run.events)
    if (e.value("event", "") == "message") styles.push_back(e.value("style", -1));
  EXPECT_EQ(run.exitStatus, want.exit) << run.Dump();
  EXPECT_EQ(styles, want.styles) << run.Dump();
  EXPECT_TRUE(want.chartRows == "*" || run.ChartRows() == want.chartRows) << run.ChartRows();
  EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;  // at most: what a ZIP code is
  if (fs::exists(p.zones)) {
    EXPECT_EQ(Rows(p.zones, kTables), Rows(p.empty, kTables));
  }
  const auto after = p.Take();
  EXPECT_TRUE(run.exitStatus == 0 || after == before) << "the shop or the program folder changed";
  if (run.exitStatus != 0) return;
  EXPECT_EQ(after.others, before.others) << "the program folder or a row not the service's changed";
  EXPECT_EQ(after.folder.size(), 6u) << "the host database and the carrier's 5 files";
  EXPECT_EQ(Value(p.zones, "SELECT COUNT(*) FROM [TARNVEL-GND]"), run.ChartRows());
  EXPECT_EQ(Value(p.host,
                  "Select (Select count(*) From [Master] Where [Service] = 'TARNVEL-GND'), "
                  "(Select count(*) From [Panel] Where [SV1] = 'TARNVEL-GND')"),
            "1|1");
}

INSTANTIATE_TEST_SUITE_P(Lines, Corpus, testing::ValuesIn(Load()), RowName);

}  // namespace
