// Bad input tried: every case of zips.txt, chart_names.txt and
// chart_fields.txt runs one installation on a demo shop and ends with the
// boxes its outcome names. Only the program's own statements may run: a
// case that installs changes no row but the service's record and button,
// any other leaves the host folder, the host database and the program
// folder (but for the working zones database, which each run rebuilds) as
// they were; the working zones database keeps the empty one's tables.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>

#include "Shop.h"

namespace {

using TestSupport::Rows;
using TestSupport::Shop;
using Texts = std::vector<std::string>;

struct Case {
  int line;
  std::string outcome;
  std::string text;
  std::string Name() const { return "line " + std::to_string(line) + " (" + outcome + "): " + text.substr(0, 80); }
};

std::string Unescape(const std::string& raw) {
  if (raw.starts_with("@repeat ")) {
    std::size_t end = 0;
    const int count = std::stoi(raw.substr(8), &end);
    const std::string unit = Unescape(raw.substr(8 + end + 1));
    std::string text;
    for (int i = 0; i < count; ++i) text += unit;
    return text;
  }
  std::string text;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i] == '\\' && i + 1 < raw.size() ? raw[++i] : '\0';
    if (c == 'x' && i + 2 <= raw.size()) {
      text += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      text += c == '\0' ? raw[i] : c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
  }
  return text;
}

std::vector<Case> Load(const std::string& name) {
  std::ifstream in(std::string(ATV_CORPUS_DIR) + "/" + name, std::ios::binary);
  std::vector<Case> cases;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const auto tab = line.find('\t');
    if (tab == std::string::npos) {
      ADD_FAILURE() << name << " line " << number << " has no TAB";
      continue;
    }
    cases.push_back({number, line.substr(0, tab), Unescape(line.substr(tab + 1))});
  }
  EXPECT_FALSE(cases.empty()) << name << " holds no case";
  return cases;
}

// The boxes a case must show, in order, each as "START" or "START*PART" of
// its "title: text"; and the zone rows it leaves ("" when not checked).
std::pair<Texts, std::string> Expected(const std::string& file, const Case& c) {
  const std::string question = "New TARN-VEL Service is Available!: ", done = "Add Service: TARN-VEL service was added successfully !",
                    failed = "Add Service: Failed to add TARN-VEL service...", step = "Process has failed !: Failed to ",
                    read = step + "read Tarn-Vel 'csv' file...*";
  if (c.outcome.starts_with("rows ")) return {{question, done}, c.outcome.substr(5)};
  const std::map<std::string, std::pair<Texts, std::string>> outcomes = {
      {"added", {{question, done}, ""}},
      {"parse", {{step + "parse read line from Tarn-Vel 'csv' file...", question, done}, "0"}},
      {"cancelled", {{failed}, ""}},
      {"not-found", {{"AddTarnVel: " + c.text + " zip-code was not found in the list of available zip-codes", failed}, ""}},
      {"missing", {{read + "File not found: ", failed}, "0"}},
      {"unreadable", {{read + "Path/File access error: ", failed}, "0"}},
      {"refused", {{file == "chart_names.txt" ? read + "is not a plain file name"
                                              : step + "import Tarn-Vel 'csv' file to Zone table...",
                    failed},
                   "0"}},
  };
  const auto found = outcomes.find(c.outcome);
  if (found == outcomes.end()) ADD_FAILURE() << "unknown outcome";
  return found == outcomes.end() ? std::pair<Texts, std::string>{{"(unknown outcome)"}, ""} : found->second;
}

// Each box as it fits its pattern, or as it is.
Texts Fitted(const Texts& boxes, const Texts& patterns) {
  Texts out;
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const std::string pattern = i < patterns.size() ? patterns[i] : "";
    const auto star = pattern.find('*');
    const bool fits = boxes[i].starts_with(pattern.substr(0, star)) &&
                      (star == std::string::npos || boxes[i].find(pattern.substr(star + 1), star) != std::string::npos);
    out.push_back(fits ? pattern : boxes[i].substr(0, 300));
  }
  return out;
}

// What a case may change, and how.
struct Snapshot {
  std::string host, emptyZones;
  std::map<std::string, std::string> hostFolder, programFolder;  // less the working zones database
  Texts others;  // the host's tables, and its rows other than the service's
};

const char kOtherServices[] = "Select * From [Master] Where [Service] <> 'TARNVEL-GND' Order By [Service]";
const char kOtherButtons[] =
    "Select * From [Panel] Where [SV1] Is Null Or [SV1] <> 'TARNVEL-GND' Order By [PanelIndex]";
const char kTables[] = "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name";

std::string EmptyZones(const Shop& shop) { return (shop.Program() / "TarnVel_Zones_Empty.mdb").string(); }

Snapshot Take(const Shop& shop) {
  Snapshot s{TestSupport::DatabaseText(shop.Host()), TestSupport::DatabaseText(EmptyZones(shop)),
             TestSupport::FolderContents(shop.Folder()), TestSupport::FolderContents(shop.Program()), {}};
  s.programFolder.erase("TarnVel_Zones.mdb");
  for (const char* sql : {kTables, kOtherServices, kOtherButtons})
    for (auto& row : Rows(shop.Host(), sql)) s.others.push_back(std::move(row));
  return s;
}

// Runs every case of `file` on one shop; `prepare` sets the case up and
// answers the ZIP code to give.
void RunCases(const std::string& file, const std::function<std::string(Shop&, const Case&)>& prepare) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  for (const auto& c : Load(file)) {
    SCOPED_TRACE(c.Name());
    const std::string zip = prepare(shop, c);
    const auto before = Take(shop);
    const auto run = shop.RunCli(shop.Args(zip));
    const auto [boxes, zoneRows] = Expected(file, c);
    const bool added = boxes.back() == "Add Service: TARN-VEL service was added successfully !";
    EXPECT_EQ(run.exitStatus, added ? 0 : 1) << run.Dump();
    // The only line on standard error a ZIP code may bring: what a ZIP code is.
    EXPECT_TRUE(run.err.empty() || run.err.starts_with("addtarnvel-cli: a ZIP code is five digits")) << run.err;
    EXPECT_EQ(Fitted(run.Boxes(), boxes), boxes);
    if (!zoneRows.empty()) {
      EXPECT_EQ(run.ChartRows(), zoneRows);
    }
    if (std::filesystem::exists(shop.Zones())) {
      EXPECT_EQ(Rows(shop.Zones(), kTables), Rows(EmptyZones(shop), kTables));
    }
    const auto after = Take(shop);
    EXPECT_EQ(after.emptyZones, before.emptyZones);
    EXPECT_EQ(after.programFolder, before.programFolder) << "a file of the program folder changed";
    if (!added) {
      EXPECT_EQ(after.host, before.host) << "the host database changed";
      EXPECT_EQ(after.hostFolder, before.hostFolder) << "the host folder changed";
      continue;
    }
    EXPECT_EQ(after.others, before.others) << "a row not the service's changed";
    EXPECT_EQ(Rows(shop.Host(), "Select count(*) From [Master] Where [Service] = 'TARNVEL-GND'"), Texts{"1"});
    EXPECT_EQ(Rows(shop.Host(), "Select count(*) From [Panel] Where [SV1] = 'TARNVEL-GND'"), Texts{"1"});
    EXPECT_EQ(after.hostFolder.size(), 6u) << "the host database and the carrier's 5 files";
    shop.Reset();
  }
}

TEST(Corpus, OriginZips) {
  RunCases("zips.txt", [](Shop&, const Case& c) { return c.text; });
}

// The chart file name of the range that holds 10001 is the case's text.
TEST(Corpus, ChartNames) {
  RunCases("chart_names.txt", [](Shop& shop, const Case& c) {
    std::string quoted;
    for (const char ch : c.text) quoted += ch == '\'' ? std::string("''") : std::string(1, ch);
    TestSupport::CreateDatabase(EmptyZones(shop), "UPDATE [Zip2FileOfOrigin] SET [FileName] = '" + quoted +
                                                      "' WHERE 10001 BETWEEN [LOZIP] AND [HIZIP];");
    return std::string("10001");
  });
}

// The chart of 10001 is a line of column titles and the case's line.
TEST(Corpus, ChartFields) {
  RunCases("chart_fields.txt", [](Shop& shop, const Case& c) {
    TestSupport::WriteFile((shop.Program() / "Data" / "TarnVel_100.csv").string(),
                           "Origin,LOZIP,HIZIP,ZONE\r\n" + c.text + "\r\n");
    return std::string("10001");
  });
}

}  // namespace
