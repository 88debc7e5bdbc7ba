// Bad input tried: every case of zips.txt, chart_names.txt and
// chart_fields.txt runs one installation on a demo shop. Only the
// program's own statements may run: the host's tables, their rows and
// every other file stay as they were, unless the case installs the service,
// and each case ends with the message its outcome names.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <map>

#include "FaultSupport.h"

namespace {

namespace fs = std::filesystem;
using FaultSupport::Rows;
using FaultSupport::Shop;

const std::string kFailedBox = "Add Service: Failed to add TARN-VEL service...";
const std::string kDoneBox = "Add Service: TARN-VEL service was added successfully !";
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
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      text += raw[i];
      continue;
    }
    const char c = raw[++i];
    if (c == 't') text += '\t';
    else if (c == 'r') text += '\r';
    else if (c == 'n') text += '\n';
    else if (c == 'x' && i + 2 < raw.size() + 1) {
      text += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else text += c;
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

Snapshot Take(const Shop& shop) {
  const std::string zones = (shop.Program() / "TarnVel_Zones.mdb").string();
  auto program = FaultSupport::FolderContents(shop.Program());
  program.erase("TarnVel_Zones.mdb");
  return {FaultSupport::DatabaseText(shop.Host()),
          FaultSupport::FolderContents(shop.Folder()),
          program,
          FaultSupport::DatabaseText((shop.Program() / "TarnVel_Zones_Empty.mdb").string()),
          Tables(zones),
          Tables(shop.Host()),
          Rows(shop.Host(), kOtherServices),
          Rows(shop.Host(), kOtherButtons)};
}

void ExpectBox(const FaultSupport::Run& run, const std::string& start) {
  for (const auto& box : run.Boxes())
    if (box.starts_with(start)) return;
  ADD_FAILURE() << "no box starts with " << start << "\n" << run.Dump();
}

// A run that fails before the host database: the host folder, the host's
// tables and the program folder (but for the working zones database, which
// the run rebuilds) are as they were.
void ExpectNothingChanged(const Shop& shop, const Snapshot& before) {
  const auto after = Take(shop);
  EXPECT_EQ(after.host, before.host) << "the host database changed";
  EXPECT_EQ(after.hostFolder, before.hostFolder) << "the host folder changed";
  EXPECT_EQ(after.emptyZones, before.emptyZones);
  EXPECT_EQ(after.programFolder, before.programFolder) << "a file of the program folder changed";
}

// A run that installs: exactly the service's record and button are new,
// every other row is as it was, and the host folder holds the carrier's files.

void ExpectInstalled(const Shop& shop, const Snapshot& before) {
  EXPECT_EQ(Rows(shop.Host(), "Select count(*) From [Master] Where [Service] = 'TARNVEL-GND'"),
            std::vector<std::string>{"1"});
  EXPECT_EQ(Rows(shop.Host(), "Select count(*) From [Panel] Where [SV1] = 'TARNVEL-GND'"), std::vector<std::string>{"1"});
  EXPECT_EQ(Rows(shop.Host(), kOtherServices), before.otherServices);
  EXPECT_EQ(Rows(shop.Host(), kOtherButtons), before.otherButtons);
  EXPECT_EQ(Tables(shop.Host()), before.hostTables);
  EXPECT_EQ(Take(shop).emptyZones, before.emptyZones);
  EXPECT_EQ(FaultSupport::FolderContents(shop.Folder()).size(), 6u) << "the host database and the carrier's 5 files";
}

TEST(Corpus, OriginZips) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  const auto before = Take(shop);
  for (const auto& c : Load("zips.txt")) {
    SCOPED_TRACE(c.Name());
    const auto run = shop.RunCli(shop.Args(c.text));
    EXPECT_EQ(run.err, "");
    if (c.outcome == "added") {
      EXPECT_EQ(run.exitStatus, 0) << run.Dump();
      ExpectBox(run, kDoneBox);
      ExpectInstalled(shop, before);
      shop.Reset();
    } else if (c.outcome == "not-found") {
      EXPECT_EQ(run.exitStatus, 1) << run.Dump();
      ExpectBox(run, "AddTarnVel: " + c.text +
                         " zip-code was not found in the list of available zip-codes to this service.");
      ExpectBox(run, kFailedBox);
      EXPECT_EQ(run.Boxes().size(), 2u) << run.Dump();
      ExpectNothingChanged(shop, before);
    } else if (c.outcome == "cancelled") {
      EXPECT_EQ(run.exitStatus, 1) << run.Dump();
      EXPECT_EQ(run.Boxes(), std::vector<std::string>{kFailedBox});
      ExpectNothingChanged(shop, before);
    } else {
      ADD_FAILURE() << "unknown outcome";
    }
  }
}

// Sets the chart file name of the range that holds 10001.
void SetChartName(const Shop& shop, const std::string& name) {
  sqlite3* db = nullptr;
  const std::string path = (shop.Program() / "TarnVel_Zones_Empty.mdb").string();
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
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
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  for (const auto& c : Load("chart_names.txt")) {
    SCOPED_TRACE(c.Name());
    SetChartName(shop, c.text);
    const auto before = Take(shop);
    const auto run = shop.RunCli(shop.Args());
    EXPECT_EQ(run.err, "");
    if (c.outcome == "added") {
      EXPECT_EQ(run.exitStatus, 0) << run.Dump();
      ExpectBox(run, kDoneBox);
      ExpectInstalled(shop, before);
      shop.Reset();
    } else if (c.outcome == "refused" || c.outcome == "missing" || c.outcome == "unreadable") {
      EXPECT_EQ(run.exitStatus, 1) << run.Dump();
      ExpectBox(run, kReadBox);
      ExpectBox(run, kFailedBox);
      const std::string named = c.outcome == "refused"   ? "is not a plain file name"
                                : c.outcome == "missing" ? "File not found: "
                                                         : "Path/File access error: ";
      bool found = named.empty();
      for (const auto& box : run.Boxes()) found = found || box.find(named) != std::string::npos;
      EXPECT_TRUE(found) << run.Dump();
      ExpectNothingChanged(shop, before);
      EXPECT_EQ(Rows((shop.Program() / "TarnVel_Zones.mdb").string(), "Select count(*) From [TARNVEL-GND]"),
                std::vector<std::string>{"0"});
    } else {
      ADD_FAILURE() << "unknown outcome";
    }
  }
}

TEST(Corpus, ChartFields) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  const std::string chart = (shop.Program() / "Data" / "TarnVel_100.csv").string();
  const std::string zones = (shop.Program() / "TarnVel_Zones.mdb").string();
  for (const auto& c : Load("chart_fields.txt")) {
    SCOPED_TRACE(c.Name());
    TestSupport::WriteFile(chart, "Origin,LOZIP,HIZIP,ZONE\r\n" + c.text + "\r\n");
    const auto before = Take(shop);
    const auto run = shop.RunCli(shop.Args());
    EXPECT_EQ(run.err, "");
    // Whatever the line held, the zones database keeps its tables and its
    // map of charts.
    EXPECT_EQ(Tables(zones), before.zoneTables);
    EXPECT_EQ(Rows(zones, "Select count(*) From [Zip2FileOfOrigin]"),
              Rows((shop.Program() / "TarnVel_Zones_Empty.mdb").string(), "Select count(*) From [Zip2FileOfOrigin]"));
    if (c.outcome.starts_with("rows ") || c.outcome == "parse") {
      EXPECT_EQ(run.exitStatus, 0) << run.Dump();
      ExpectBox(run, kDoneBox);
      if (c.outcome == "parse") ExpectBox(run, kParseBox);
      const std::string rows = c.outcome == "parse" ? "0" : c.outcome.substr(5);
      EXPECT_EQ(Rows(zones, "Select count(*) From [TARNVEL-GND]"), std::vector<std::string>{rows});
      ExpectInstalled(shop, before);
      shop.Reset();
    } else if (c.outcome == "refused") {
      EXPECT_EQ(run.exitStatus, 1) << run.Dump();
      ExpectBox(run, kImportBox);
      ExpectBox(run, kFailedBox);
      EXPECT_EQ(Rows(zones, "Select count(*) From [TARNVEL-GND]"), std::vector<std::string>{"0"});
      ExpectNothingChanged(shop, before);
    } else {
      ADD_FAILURE() << "unknown outcome";
    }
  }
}

}  // namespace
