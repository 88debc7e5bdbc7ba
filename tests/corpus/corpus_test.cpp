// Bad input tried: every case of zips.txt, chart_names.txt and
// chart_fields.txt runs one installation on a demo shop. Only the
// program's own statements may run: the host's tables, their rows and
// every other file stay as they were, unless the case installs the service,
// and each case ends with the message its outcome names.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <map>

#include "FaultSupport.h"

namespace {

using FaultSupport::kDoneBox;
using FaultSupport::kFailedBox;
using FaultSupport::Rows;
using Outcome = FaultSupport::Run;
using FaultSupport::Shop;
using Texts = std::vector<std::string>;

const std::string kReadBox = "Process has failed !: Failed to read Tarn-Vel 'csv' file...\r\rThe following error has occurred:\r";
const std::string kImportBox =
    "Process has failed !: Failed to import Tarn-Vel 'csv' file to Zone table...\r\rThe following error has occurred:\r";
const std::string kParseBox =
    "Process has failed !: Failed to parse read line from Tarn-Vel 'csv' file...\r\rThe following error has occurred:\r";

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

// What a case may not change.
struct Snapshot {
  std::string host;
  std::map<std::string, std::string> hostFolder;
  std::map<std::string, std::string> programFolder;  // less the working zones database
  std::string emptyZones;
  std::vector<std::string> zoneTables;
  std::vector<std::string> hostTables;
  std::vector<std::string> otherServices;
  std::vector<std::string> otherButtons;
};

std::vector<std::string> Tables(const std::string& path) {
  return Rows(path, "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name");
}

const char kOtherServices[] = "Select * From [Master] Where [Service] <> 'TARNVEL-GND' Order By [Service]";
const char kOtherButtons[] =
    "Select * From [Panel] Where [SV1] Is Null Or [SV1] <> 'TARNVEL-GND' Order By [PanelIndex]";

std::string EmptyZones(const Shop& shop) { return (shop.Program() / "TarnVel_Zones_Empty.mdb").string(); }

Snapshot Take(const Shop& shop) {
  auto program = FaultSupport::FolderContents(shop.Program());
  program.erase("TarnVel_Zones.mdb");
  return {FaultSupport::DatabaseText(shop.Host()),        FaultSupport::FolderContents(shop.Folder()),
          program,                                         FaultSupport::DatabaseText(EmptyZones(shop)),
          Tables(shop.Zones()),                            Tables(shop.Host()),
          Rows(shop.Host(), kOtherServices),               Rows(shop.Host(), kOtherButtons)};
}

// A case that installs: exactly the service's record and button are new,
// every other row is as it was, and the host folder holds the carrier's
// files. The shop is made afresh for the next case.
void ExpectAdded(Shop& shop, const Outcome& run, const Snapshot& before) {
  EXPECT_EQ(run.exitStatus, 0) << run.Dump();
  EXPECT_TRUE(run.StartsBox(kDoneBox)) << run.Dump();
  EXPECT_EQ(Rows(shop.Host(), "Select count(*) From [Master] Where [Service] = 'TARNVEL-GND'"), Texts{"1"});
  EXPECT_EQ(Rows(shop.Host(), "Select count(*) From [Panel] Where [SV1] = 'TARNVEL-GND'"), Texts{"1"});
  EXPECT_EQ(Rows(shop.Host(), kOtherServices), before.otherServices);
  EXPECT_EQ(Rows(shop.Host(), kOtherButtons), before.otherButtons);
  EXPECT_EQ(Tables(shop.Host()), before.hostTables);
  EXPECT_EQ(Take(shop).emptyZones, before.emptyZones);
  EXPECT_EQ(FaultSupport::FolderContents(shop.Folder()).size(), 6u) << "the host database and the carrier's 5 files";
  shop.Reset();
}

// A case that fails before the host database: exit 1, each of `boxStarts`
// starts a box, and the host folder, the host's tables and the program
// folder (but for the working zones database, which the run rebuilds) are
// as they were.
void ExpectFailed(const Shop& shop, const Outcome& run, const Snapshot& before, const Texts& boxStarts) {
  EXPECT_EQ(run.exitStatus, 1) << run.Dump();
  for (const auto& start : boxStarts) EXPECT_TRUE(run.StartsBox(start)) << start << "\n" << run.Dump();
  const auto after = Take(shop);
  EXPECT_EQ(after.host, before.host) << "the host database changed";
  EXPECT_EQ(after.hostFolder, before.hostFolder) << "the host folder changed";
  EXPECT_EQ(after.emptyZones, before.emptyZones);
  EXPECT_EQ(after.programFolder, before.programFolder) << "a file of the program folder changed";
}

// Runs every case of `file` on one shop: `prepare` sets the case up and
// answers the ZIP code to give, `check`
// judges the run against what the shop held before it.
void RunCases(const std::string& file, const std::function<std::string(Shop&, const Case&)>& prepare,
              const std::function<void(Shop&, const Case&, const Outcome&, const Snapshot&)>& check) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  for (const auto& c : Load(file)) {
    SCOPED_TRACE(c.Name());
    const std::string zip = prepare(shop, c);
    const auto before = Take(shop);
    const auto run = shop.RunCli(shop.Args(zip));
    EXPECT_EQ(run.err, "");
    check(shop, c, run, before);
  }
}

TEST(Corpus, OriginZips) {
  RunCases(
      "zips.txt", [](Shop&, const Case& c) { return c.text; },
      [](Shop& shop, const Case& c, const Outcome& run, const Snapshot& before) {
        if (c.outcome == "added") return ExpectAdded(shop, run, before);
        if (c.outcome == "not-found") {
          ExpectFailed(shop, run, before,
                       {"AddTarnVel: " + c.text +
                            " zip-code was not found in the list of available zip-codes to this service.",
                        kFailedBox});
          EXPECT_EQ(run.Boxes().size(), 2u) << run.Dump();
        } else if (c.outcome == "cancelled") {
          ExpectFailed(shop, run, before, {});
          EXPECT_EQ(run.Boxes(), Texts{kFailedBox});
        } else {
          ADD_FAILURE() << "unknown outcome";
        }
      });
}

// Sets the chart file name of the range that holds 10001.
void SetChartName(const Shop& shop, const std::string& name) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(EmptyZones(shop).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE [Zip2FileOfOrigin] SET [FileName] = ? WHERE 10001 BETWEEN [LOZIP] AND [HIZIP]",
                               -1, &statement, nullptr),
            SQLITE_OK);
  sqlite3_bind_text(statement, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

TEST(Corpus, ChartNames) {
  const std::map<std::string, std::string> named = {
      {"refused", "is not a plain file name"}, {"missing", "File not found: "}, {"unreadable", "Path/File access error: "}};
  RunCases(
      "chart_names.txt",
      [](Shop& shop, const Case& c) {
        SetChartName(shop, c.text);
        return std::string("10001");
      },
      [&](Shop& shop, const Case& c, const Outcome& run, const Snapshot& before) {
        if (c.outcome == "added") return ExpectAdded(shop, run, before);
        ASSERT_TRUE(named.contains(c.outcome)) << "unknown outcome";
        ExpectFailed(shop, run, before, {kReadBox, kFailedBox});
        EXPECT_TRUE(run.Mentions(named.at(c.outcome))) << run.Dump();
        EXPECT_EQ(shop.ZoneRows(), "0");
      });
}

TEST(Corpus, ChartFields) {
  RunCases(
      "chart_fields.txt",
      [](Shop& shop, const Case& c) {
        TestSupport::WriteFile((shop.Program() / "Data" / "TarnVel_100.csv").string(),
                               "Origin,LOZIP,HIZIP,ZONE\r\n" + c.text + "\r\n");
        return std::string("10001");
      },
      [](Shop& shop, const Case& c, const Outcome& run, const Snapshot& before) {
        // Whatever the line held, the zones database keeps its tables and its
        // map of charts.
        const char kCharts[] = "Select count(*) From [Zip2FileOfOrigin]";
        EXPECT_EQ(Tables(shop.Zones()), before.zoneTables);
        EXPECT_EQ(Rows(shop.Zones(), kCharts), Rows(EmptyZones(shop), kCharts));
        if (c.outcome.starts_with("rows ") || c.outcome == "parse") {
          EXPECT_TRUE(c.outcome != "parse" || run.StartsBox(kParseBox)) << run.Dump();
          EXPECT_EQ(shop.ZoneRows(), c.outcome == "parse" ? "0" : c.outcome.substr(5));
          ExpectAdded(shop, run, before);
        } else if (c.outcome == "refused") {
          ExpectFailed(shop, run, before, {kImportBox, kFailedBox});
          EXPECT_EQ(shop.ZoneRows(), "0");
        } else {
          ADD_FAILURE() << "unknown outcome";
        }
      });
}

}  // namespace
