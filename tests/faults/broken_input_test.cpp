// Broken inputs: host files that are no database, host tables without the
// columns the steps use or with text where a number is read, charts that
// are missing, garbled or endless, and journals left beside the databases
// a run replaces. Each run ends with the message that says what is wrong,
// and changes nothing it did not reach.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
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
const std::string kImportBox = "Process has failed !: Failed to import Tarn-Vel 'csv' file to Zone table...";
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
       {kLookupBox, kLookupBox, kFailedBox}, "is not a database (it is empty)."},
      {"truncated host file",
       [](Shop& s) { fs::resize_file(s.Host(), 4096); }, 1, {kLookupBox, kLookupBox, kFailedBox},
       "is not a database, or it is damaged."},
      {"host path names a folder", [](Shop& s) { fs::remove(s.Host()); fs::create_directory(s.Host()); }, 3, {}, ""},
      {"host file is not a database", [](Shop& s) { TestSupport::WriteFile(s.Host(), "Price list\r\nGround,5.00\r\n"); },
       1, {kLookupBox, kLookupBox, kFailedBox}, "is not a database, or it is damaged."},
      {"[Master] without [Service]",
       Sql("ALTER TABLE [Master] RENAME COLUMN [Service] TO [ServiceCode]"), 1,
       {kLookupBox, kFailedBox}, "The column 'Service' does not exist", true},
      {"[Panel] without [PanelIndex]",
       Sql("ALTER TABLE [Panel] RENAME COLUMN [PanelIndex] TO [PanelNumber]"), 1,
       {kPanelBox, kFailedBox}, "PanelIndex", true},
      // A lookup that fails adds nothing to its table, and the run fails.
      {"[Panel] without [SV7]", Sql("ALTER TABLE [Panel] RENAME COLUMN [SV7] TO [SV8]"), 1,
       {kLookupBox, kFailedBox}, "The column 'SV7' does not exist", true},
      {"text in [Panel].[PanelIndex]",
       Sql("INSERT INTO [Panel] ([PanelIndex], [SV1]) VALUES ('ten', 'KSTL-GND')"), 1,
       {kPanelBox, kFailedBox}, "Type mismatch", true},
      {"text in a number column of the template service",
       Sql("UPDATE [Master] SET [MinCharge] = 'none' WHERE [Service] = 'FEDEX-GND'"), 1,
       {kMasterBox, kFailedBox}, "MinCharge", true},
      {"an insert into [Master] that a trigger ignores",
       Sql("CREATE TRIGGER [Ignored] BEFORE INSERT ON [Master] BEGIN SELECT RAISE(IGNORE); END"), 1,
       {kMasterBox, kFailedBox}, "", true},
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
    EXPECT_EQ(run.err.empty(), c.exitStatus != 3) << run.err;  // a disabled add button is said on stderr
    EXPECT_EQ(InOrder(run.Boxes(), c.boxStarts), c.boxStarts) << run.Dump();
    EXPECT_TRUE(c.description.empty() || run.Mentions(c.description)) << "no box names " << c.description << "\n" << run.Dump();
    if (c.hostChanged) {  // only the half the failure did not reach may have changed it
      EXPECT_EQ(FaultSupport::IntegrityCheck(shop.Host()), "ok");
    } else {
      EXPECT_EQ(HostFile(shop), hostBefore) << "the host database must stay as it was";
    }
  }
}

// The carrier's charts garbled, endless, not numbers, or refused by the
// zone table: the import stops at the first line it cannot take and says
// so, at once and in bounded memory; the rows before that line stay.
TEST(BrokenInput, GarbledCharts) {
  using Lay = std::function<void(const Shop&, const std::string& chart)>;
  struct ChartCase {
    const char* name;
    Lay lay;
    int exitStatus;
    std::vector<std::string> boxStarts;
    std::size_t zoneRows;
    std::vector<std::string> namesField = {};  // one of these is in a box
  };
  const std::string header = "Origin,LOZIP,HIZIP,ZONE\r\n";
  auto text = [](const std::string& chart) -> Lay {
    return [chart](const Shop&, const std::string& path) { TestSupport::WriteFile(path, chart); };
  };
  // A zone table that rolls the import back at its third data line.
  auto refusing = [&](const std::string& table) -> Lay {
    return [=](const Shop& s, const std::string& path) {
      TestSupport::CreateDatabase((s.Program() / "TarnVel_Zones_Empty.mdb").string(), "DROP TABLE [TARNVEL-GND];" + table);
      TestSupport::WriteFile(path, header + "A,100,199,5\r\nA,200,299,6\r\nA,100,399,9\r\nA,400,499,7\r\n");
    };
  };
  const std::string zoneTable = "CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG, [HIZIP] LONG, [ZONE] SHORT);";
  std::string binary;
  for (int round = 0; round < 16; ++round)
    for (int byte = 0; byte < 256; ++byte) binary += static_cast<char>(byte);
  const std::vector<ChartCase> cases = {
      // A malformed line ends the import without failing it; the rows before it stand.
      {"binary bytes", text(binary), 0, {kParseBox, kDoneBox}, 0},
      {"a 100 MB line",
       [&](const Shop&, const std::string& path) {
         std::ofstream chart(path, std::ios::binary);
         chart << header;
         for (int mb = 0; mb < 100; ++mb) chart << std::string(1 << 20, 'x');
         chart << ",100,199,5\r\nA,200,299,6\r\n";
       },
       1, {kReadBox, kFailedBox}, 0},
      {"a FIFO", [](const Shop&, const std::string& path) { ::mkfifo(path.c_str(), 0644); }, 1, {kReadBox, kFailedBox}, 0},
      {"a link to /dev/zero", [](const Shop&, const std::string& path) { fs::create_symlink("/dev/zero", path); }, 1,
       {kReadBox, kFailedBox}, 0},
      {"text in field 3", text(header + "A,100,199,5\r\nA,200,two,6\r\n"), 1, {kImportBox, kFailedBox}, 1,
       {"HIZIP", "field 3"}},
      {"a query in field 4",
       text(header + "A,100,199,5\r\nA,200,299,(WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT max(x) FROM c)\r\n"),
       1, {kImportBox, kFailedBox}, 1, {"ZONE", "field 4"}},
      {"zone table rolling back a repeated LOZIP",
       refusing("CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG UNIQUE ON CONFLICT ROLLBACK, [HIZIP] LONG, [ZONE] SHORT)"), 1,
       {kImportBox, kFailedBox}, 2},
      {"zone table with a trigger rolling back zone 9",
       refusing(zoneTable + "CREATE TRIGGER [No9] BEFORE INSERT ON [TARNVEL-GND] WHEN NEW.[ZONE] = 9 "
                            "BEGIN SELECT RAISE(ROLLBACK, 'zone 9 is refused'); END"),
       1, {kImportBox, kFailedBox}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Shop shop;
    if (!shop.Ready()) GTEST_SKIP() << shop.Why();
    const std::string chart = (shop.Program() / "Data" / "TarnVel_100.csv").string();
    fs::remove(chart);
    c.lay(shop, chart);
    const auto run = shop.RunCli(shop.Args(), {std::chrono::seconds(30), 512});
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.Dump();
    EXPECT_EQ(run.err, "");
    // and the question, when the run gets that far
    EXPECT_EQ(run.Boxes().size(), c.boxStarts.size() + (c.exitStatus == 0 ? 1 : 0)) << run.Dump();
    EXPECT_EQ(InOrder(run.Boxes(), c.boxStarts), c.boxStarts) << run.Dump();
    EXPECT_TRUE(c.namesField.empty() || run.Mentions(c.namesField[0]) || run.Mentions(c.namesField[1])) << run.Dump();
    EXPECT_EQ(shop.ZoneRows(), std::to_string(c.zoneRows));
    if (c.zoneRows > 0) { EXPECT_FALSE(run.Mentions("nothing was changed")) << run.Dump(); }
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(run.peakKb, 64 * 1024) << "KiB at the most";
#endif
  }
}

// A journal or WAL left beside a database that the run replaces, by a
// killed writer of the working zones database or of an older copy in the
// shop folder: removed, and nothing of it played back into the new file.
TEST(BrokenInput, LeftoversBesideReplacedDatabases) {
  struct LeftoverCase {
    const char* name;
    const char* file;  // under the test's folder
    const char* mode;  // the writer's journal mode
    std::string sql;   // its work: committed, then (for a hot journal) an open transaction
  };
  std::string hot = "PRAGMA cache_size=2;";
  for (int i = 0; i < 40; ++i) hot += "INSERT INTO [TARNVEL-GND] ([LOZIP], [HIZIP], [ZONE]) VALUES (1, 2, 3);";
  // The spilled pages of an open transaction make the journal needed to undo them.
  hot += "BEGIN;";
  for (int i = 0; i < 50; ++i) hot += "INSERT INTO [TARNVEL-GND] ([LOZIP], [HIZIP], [ZONE]) VALUES (1, 2, randomblob(3000));";
  const std::vector<LeftoverCase> cases = {
      {"hot journal beside the working zones database", "program/TarnVel_Zones.mdb", "DELETE", hot},
      {"hot journal beside the shop's zones database", "shop/TarnVel_Zones.mdb", "DELETE", hot},
      {"WAL of 1,000 zone rows beside the shop's zones database", "shop/TarnVel_Zones.mdb", "WAL",
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
       "INSERT INTO [TARNVEL-GND] SELECT i, i, 9 FROM n"},
      {"WAL of an old rate table beside the shop's services database", "shop/TarnVel_Services.mdb", "WAL",
       "DELETE FROM [TARNVEL-GND] WHERE [LBS] > 1; UPDATE [TARNVEL-GND] SET [ZONE2] = 0.01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Shop shop;
    if (!shop.Ready()) GTEST_SKIP() << shop.Why();
    const fs::path target = shop.Root() / c.file, source = shop.Program() / target.filename();
    const std::string scratch = (shop.Root() / "scratch.mdb").string();
    fs::copy_file(source, scratch);
    if (!fs::exists(target)) fs::copy_file(source, target);
    {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open_v2(scratch.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
      const std::string work = "PRAGMA journal_mode=" + std::string(c.mode) + "; PRAGMA wal_autocheckpoint=0;" + c.sql;
      EXPECT_EQ(sqlite3_exec(db, work.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
      for (const char* suffix : {"-journal", "-wal", "-shm"})
        if (fs::exists(scratch + suffix)) fs::copy_file(scratch + suffix, target.string() + suffix);
      sqlite3_close(db);
    }

    const auto run = shop.RunCli(shop.Args());
    EXPECT_EQ(run.exitStatus, 0) << run.Dump();
    for (const char* suffix : {"-journal", "-wal", "-shm"}) EXPECT_FALSE(fs::exists(target.string() + suffix)) << suffix;
    if (target != source) { EXPECT_EQ(TestSupport::ReadFile(target.string()), TestSupport::ReadFile(source.string())); }
    EXPECT_EQ(FaultSupport::IntegrityCheck(target.string()), "ok");
    EXPECT_EQ(FaultSupport::DatabaseText(target.string()), FaultSupport::DatabaseText(source.string()));
    EXPECT_EQ(shop.ZoneRows(), "179") << "the chart's rows, once";
  }
}

}  // namespace
