// Broken inputs: host files that are no database, host tables without the
// columns the steps use or with text where a number is read, and charts
// that are missing or garbled. Each run ends with the message that says
// what is wrong, and changes nothing it did not reach.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

#include "FaultSupport.h"

namespace {

namespace fs = std::filesystem;
using FaultSupport::kDoneBox;
using FaultSupport::kFailedBox;
using FaultSupport::Shop;
const std::string kLookupBox = "Process has failed !: Process has failed !\r\rThe following error has occurred:\r";
const std::string kMasterBox = "Process has failed !: Failed to add TARN-VEL 'TARNVEL-GND' service to Master table...";
const std::string kPanelBox = "Process has failed !: Failed to add TARN-VEL 'TARNVEL-GND' service to Panel table...";
const std::string kZone6Box = "Process has failed !: Failed to add new Zone# 6 to Master table...";
const std::string kReadBox = "Process has failed !: Failed to read Tarn-Vel 'csv' file...";
const std::string kParseBox =
    "Process has failed !: Failed to parse read line from Tarn-Vel 'csv' file...\r\rThe following error has occurred:\r";

// Changes the host database with `sql`.
std::function<void(Shop&)> Sql(const std::string& sql) {
  return [sql](Shop& s) { TestSupport::CreateDatabase(s.Host(), sql); };
}

struct BrokenCase {
  const char* name;
  std::function<void(Shop&)> breakIt;
  int exitStatus;
  std::vector<std::string> boxStarts;  // in order; each starts one box ("title: text")
  std::string description;             // in one of the boxes
  bool hostChanged = false;            // the failure comes after a change the run could make
};

// `starts` as found in `boxes`, in order; one not found is marked "(missing)".
std::vector<std::string> InOrder(const std::vector<std::string>& boxes, const std::vector<std::string>& starts) {
  std::vector<std::string> found;
  std::size_t b = 0;
  for (const auto& start : starts) {
    while (b < boxes.size() && !boxes[b].starts_with(start)) ++b;
    found.push_back(b < boxes.size() ? start : "(missing) " + start);
    if (b < boxes.size()) ++b;
  }
  return found;
}

std::string HostFile(const Shop& shop) { return FaultSupport::FolderContents(shop.Folder())["Mailvoro.mdb"]; }

TEST(BrokenInput, EndsWithTheMessageThatSaysWhatIsWrong) {
  const std::vector<BrokenCase> cases = {
      {"empty host file", [](Shop& s) { TestSupport::WriteFile(s.Host(), ""); }, 1,
       {kLookupBox, kZone6Box, kLookupBox, kFailedBox}, "is not a database (it is empty)."},
      {"truncated host file",
       [](Shop& s) { fs::resize_file(s.Host(), 4096); }, 1, {kLookupBox, kZone6Box, kLookupBox, kFailedBox},
       "is not a database, or it is damaged."},
      {"host path names a folder", [](Shop& s) { fs::remove(s.Host()); fs::create_directory(s.Host()); }, 3, {}, ""},
      {"host file is not a database", [](Shop& s) { TestSupport::WriteFile(s.Host(), "Price list\r\nGround,5.00\r\n"); },
       1, {kLookupBox, kZone6Box, kLookupBox, kFailedBox}, "is not a database, or it is damaged."},
      {"[Master] without [Service]",
       Sql("ALTER TABLE [Master] RENAME COLUMN [Service] TO [ServiceCode]"), 1,
       {kLookupBox, kZone6Box, kFailedBox}, "The column 'Service' does not exist", true},
      {"[Panel] without [PanelIndex]",
       Sql("ALTER TABLE [Panel] RENAME COLUMN [PanelIndex] TO [PanelNumber]"), 1,
       {kPanelBox, kFailedBox}, "PanelIndex", true},
      // A [Panel] lookup that fails counts as "already on a button", so the
      // run goes on to its end without a new button.
      {"[Panel] without [SV7]", Sql("ALTER TABLE [Panel] RENAME COLUMN [SV7] TO [SV8]"), 0,
       {kLookupBox, kDoneBox}, "The column 'SV7' does not exist", true},
      {"text in [Panel].[PanelIndex]",
       Sql("INSERT INTO [Panel] ([PanelIndex], [SV1]) VALUES ('ten', 'KSTL-GND')"), 1,
       {kPanelBox, kFailedBox}, "Type mismatch", true},
      {"text in a number column of the template service",
       Sql("UPDATE [Master] SET [MinCharge] = 'none' WHERE [Service] = 'FEDEX-GND'"), 1,
       {kMasterBox, kFailedBox}, "MinCharge", true},
      {"no Data folder", [](Shop& s) { fs::remove_all(s.Program() / "Data"); }, 1, {kReadBox, kFailedBox},
       "TarnVel_100.csv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Shop shop;
    if (!shop.Ready()) GTEST_SKIP() << shop.Why();
    c.breakIt(shop);
    const auto hostBefore = HostFile(shop);

    const auto run = shop.RunCli(shop.Args());
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.Dump();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(InOrder(run.Boxes(), c.boxStarts), c.boxStarts) << run.Dump();
    EXPECT_TRUE(c.description.empty() || run.Mentions(c.description)) << "no box names " << c.description << "\n" << run.Dump();
    if (c.hostChanged) {  // only the half the failure did not reach may have changed it
      EXPECT_EQ(FaultSupport::IntegrityCheck(shop.Host()), "ok");
    } else {
      EXPECT_EQ(HostFile(shop), hostBefore) << "the host database must stay as it was";
    }
  }
}

// The carrier's charts garbled: the import stops at the first line it
// cannot read, and says so.
TEST(BrokenInput, GarbledCharts) {
  struct ChartCase {
    const char* name;
    std::string chart;
    int exitStatus;
    std::vector<std::string> boxStarts;
    std::size_t zoneRows;
  };
  std::string binary;
  for (int round = 0; round < 16; ++round)
    for (int byte = 0; byte < 256; ++byte) binary += static_cast<char>(byte);
  const std::string longLine = std::string(10 * 1024 * 1024, 'x') + ",100,199,5\r\n";
  const std::vector<ChartCase> cases = {
      // A malformed line ends the import without failing it; the rows before it stand.
      {"binary bytes", binary, 0, {kParseBox, kDoneBox}, 0},
      {"a 10 MB line", "Origin,LOZIP,HIZIP,ZONE\r\n" + longLine + "A,200,299,6\r\n", 0, {kDoneBox}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Shop shop;
    if (!shop.Ready()) GTEST_SKIP() << shop.Why();
    TestSupport::WriteFile((shop.Program() / "Data" / "TarnVel_100.csv").string(), c.chart);
    const auto run = shop.RunCli(shop.Args());
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.Dump();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.Boxes().size(), c.boxStarts.size() + 1) << run.Dump();  // and the question
    EXPECT_EQ(InOrder(run.Boxes(), c.boxStarts), c.boxStarts) << run.Dump();
    EXPECT_EQ(shop.ZoneRows(), std::to_string(c.zoneRows));
  }
}

// A killed import leaves a rollback journal beside the working zones
// database. The next run replaces the database; the old journal must not
// be played back into the new one.
TEST(BrokenInput, JournalLeftBesideTheWorkingZonesDatabase) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  const std::string zones = shop.Zones();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(zones.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    // Rows of a first import, then a second one under way: the journal
    // holds the pages as they were after the first.
    std::string sql = "PRAGMA journal_mode=DELETE;";
    for (int i = 0; i < 40; ++i) sql += "INSERT INTO [TARNVEL-GND] ([LOZIP], [HIZIP], [ZONE]) VALUES (1, 2, 3);";
    // A small cache spills the second import's pages into the file, so the
    // journal is complete and needed to undo them.
    ASSERT_EQ(sqlite3_exec(db, (sql + "PRAGMA cache_size=2; BEGIN;").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    for (int i = 0; i < 50; ++i)
      sqlite3_exec(db, "INSERT INTO [TARNVEL-GND] ([LOZIP], [HIZIP], [ZONE]) VALUES (1, 2, randomblob(3000))", nullptr,
                   nullptr, nullptr);
    ASSERT_TRUE(fs::exists(zones + "-journal"));
    ASSERT_NE(TestSupport::ReadFile(zones + "-journal").substr(0, 4), std::string(4, '\0')) << "not a hot journal";
    fs::copy_file(zones + "-journal", shop.Root() / "stale-journal");
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  fs::copy_file(shop.Root() / "stale-journal", zones + "-journal", fs::copy_options::overwrite_existing);

  const auto run = shop.RunCli(shop.Args());
  EXPECT_EQ(run.exitStatus, 0) << run.Dump();
  EXPECT_FALSE(fs::exists(zones + "-journal"));
  EXPECT_EQ(FaultSupport::IntegrityCheck(zones), "ok");
  EXPECT_EQ(shop.ZoneRows(), "179") << "the chart's rows, once";
}

}  // namespace
