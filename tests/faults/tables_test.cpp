// Faults an installation meets, one table per kind: broken inputs, refused places (read-only, full, in
// use) and odd places (WAL mode, links). A row lays out a shop, runs the built runner once and compares
// one line: exit status and "changed", the boxes' styles, the summary's items that say more than created,
// unchanged or ok, and the shop after ("as before", or "installed" as a first installation leaves it).
// Every row also holds: the summary tells the exit status; the program folder and files elsewhere never
// change; a run that changed nothing left every file of the shop as it was; no run holds 64 MiB; another
// program's transaction keeps its journal and commits. Then the places a row cannot lay out.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "Shop.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TestSupport::Shop;
using Setup = std::function<void(Shop&)>;

struct Row {
  std::string name;
  Setup setup;
  std::string expected;
  std::string args = "--yes --zip 10001 --program-folder $P $H";  // $P: the program folder, $H: the host
};

const std::string kCheck = "--verify --zip 10001 --program-folder $P $H";
const std::string kDryRun = "--dry-run " + Row{}.args;
const std::string kInstalled =
    "exit 0, changed; boxes 33 64; record added, button added, chart imported 179; installed";

// Another program: the sqlite3 shell runs `sql`, waits until it is ended (at most `seconds`) and then
// commits (a transaction "BEGIN ..." also adds a table [Held] of its own) or runs a last SELECT.
struct Held {
  std::string path;
  ino_t journal = 0;
  TestSupport::TempDir flags;
  TestSupport::Child child;
  int exit = -2;  // -2 while it runs
  void End() {
    if (exit != -2) return;
    TestSupport::WriteFile(flags.File("end"), "");
    exit = TestSupport::Wait(child).exitStatus;
  }
};
std::vector<std::unique_ptr<Held>> held;
std::vector<fs::path> mounted;

ino_t Inode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

void Hold(const fs::path& file, const std::string& sql, int seconds = 60) {
  auto& h = *held.emplace_back(std::make_unique<Held>());
  h.path = file.string();
  const bool begins = sql.starts_with("BEGIN");
  const std::string ready = h.flags.File("ready"),
                    wait = "touch " + ready + "; n=0; while [ ! -e " + h.flags.File("end") + " ] && [ $n -lt " +
                           std::to_string(seconds * 50) + " ]; do sleep 0.02; n=$((n + 1)); done";
  const std::string held = begins ? sql + "; CREATE TABLE [Held] ([n]); INSERT INTO [Held] VALUES (1)" : sql;
  h.child = TestSupport::Start({"sqlite3", "-bail", h.path, held, ".shell " + wait, begins ? "COMMIT" : "SELECT 1"},
                               h.flags.File("out"), h.flags.File("err"));
  for (int i = 0; i < 2000 && !fs::exists(ready); ++i) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(fs::exists(ready)) << "the other program's SQL did not run: " << sql;
  if (begins) h.journal = Inode(h.path + "-journal");
}

Setup Sql(const char* file, const std::string& sql) {
  return [=](Shop& s) { TestSupport::CreateDatabase((s.Root() / file).string(), sql); };
}
Setup Write(const char* file, const std::string& text) {
  return [=](Shop& s) { TestSupport::WriteFile((s.Root() / file).string(), text); };
}
Setup Chart(const std::string& text) {
  return Write("program/Data/TarnVel_100.csv", "Origin,LOZIP,HIZIP,ZONE\r\n" + text);
}
Setup Fifo(const char* file) {
  return [=](Shop& s) {
    fs::remove(s.Root() / file);
    ASSERT_EQ(::mkfifo((s.Root() / file).c_str(), 0600), 0);
  };
}
Setup Mode(const char* file, fs::perms mode) {
  return [=](Shop& s) { fs::permissions(s.Root() / file, mode); };
}
Setup Install(const Setup& then = nullptr) {
  return [=](Shop& s) {
    ASSERT_EQ(s.RunCli(s.Args()).exitStatus, 0);
    if (then) then(s);
  };
}
// A journal or a WAL left beside a copy of `file` by a writer that died: its sidecars copied beside `shop`.
Setup Leftover(const char* file, const char* shop, const std::string& sql, std::vector<const char*> sidecars) {
  return [=](Shop& s) {
    fs::copy_file(s.Root() / file, s.Root() / "scratch.mdb");
    if (!fs::exists(s.Root() / shop)) fs::copy_file(s.Root() / file, s.Root() / shop);
    Hold(s.Root() / "scratch.mdb", sql);
    for (const char* sidecar : sidecars)
      fs::copy_file(s.Root() / ("scratch.mdb" + std::string(sidecar)), s.Root() / (shop + std::string(sidecar)));
  };
}

// A row's setups of more than one or two calls.
void BinaryChart(Shop& s) {
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(i % 256);
  Write("program/Data/TarnVel_100.csv", bytes)(s);
}
void LongLineChart(Shop& s) {
  std::ofstream chart(s.Program() / "Data/TarnVel_100.csv", std::ios::binary);
  chart << "Origin,LOZIP,HIZIP,ZONE\r\n";
  for (int mib = 0; mib < 100; ++mib) chart << std::string(1 << 20, 'x');
  chart << ",100,199,5\r\nA,200,299,6\r\n";
}
void FullDisk(Shop& s) {
  const std::string host = TestSupport::ReadFile(s.Host());
  if (::mount("tmpfs", s.Folder().c_str(), "tmpfs", 0, "size=48k") != 0) GTEST_SKIP() << "needs CAP_SYS_ADMIN";
  mounted.push_back(s.Folder());
  TestSupport::WriteFile(s.Host(), host);
  TestSupport::WriteFile(s.Zones(), "the old zones database");
}
void WalInUse(Shop& s) {
  Sql("shop/Mailvoro.mdb", "PRAGMA journal_mode=WAL")(s);
  Hold(s.Host(), "SELECT count(*) FROM [Master]");
}
// Another program that reads the host in a transaction for a second.
void ReaderForASecond(Shop& s) { Hold(s.Host(), "SELECT 1; BEGIN; SELECT count(*) FROM [Master]", 1); }
void CopyInUse(Shop& s) {
  fs::copy_file(s.Program() / "TarnVel_Services.mdb", s.Folder() / "TarnVel_Services.mdb");
  Hold(s.Folder() / "TarnVel_Services.mdb", "BEGIN IMMEDIATE");
}
void ReadOnlyCopy(Shop& s) {
  fs::copy_file(s.Program() / "TarnVel.jpg", s.Folder() / "TarnVel.jpg");
  Mode("shop/TarnVel.jpg", fs::perms(0444))(s);
}

void LinkElsewhere(Shop& s, const std::string& name) {
  fs::create_directory(s.Root() / "elsewhere");
  TestSupport::WriteFile((s.Root() / "elsewhere" / name).string(), "a file of another program");
  TestSupport::WriteFile((s.Root() / "elsewhere" / (name + "-journal")).string(), "its journal");
  fs::create_symlink(s.Root() / "elsewhere" / name, s.Folder() / name);
}

// A carrier database in the shop that is a link to a database another program writes.
void LinkInUse(Shop& s) {
  const fs::path target = s.Root() / "elsewhere" / "TarnVel_Services.mdb";
  fs::create_directory(target.parent_path());
  fs::copy_file(s.Program() / "TarnVel_Services.mdb", target);
  fs::create_symlink(target, s.Folder() / "TarnVel_Services.mdb");
  Hold(target, "BEGIN IMMEDIATE");
}

const std::string kRollback =
    "DROP TABLE [TARNVEL-GND]; CREATE TABLE [TARNVEL-GND] ([LOZIP] LONG UNIQUE ON CONFLICT ROLLBACK, [HIZIP] LONG, "
    "[ZONE] SHORT)";
const std::string kHot =
    "PRAGMA cache_size=2; BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50) ";

// clang-format off
const std::vector<Row> kBroken = {
    {"an empty host file", Write("shop/Mailvoro.mdb", ""), "exit 1; boxes 33 48 48 16; record unreadable, button unreadable, chart none 179; as before"},
    {"a truncated host file", [](Shop& s) { fs::resize_file(s.Host(), 4096); }, "exit 1; boxes 33 48 48 16; record unreadable, button unreadable, chart none 179; as before; host unreadable"},
    {"a host path that names a folder", [](Shop& s) { fs::remove(s.Host()); fs::create_directory(s.Host()); }, "exit 3; boxes; as before; host unreadable"},
    {"Master without Service", Sql("shop/Mailvoro.mdb", "ALTER TABLE [Master] RENAME COLUMN [Service] TO [Code]"), "exit 1, changed; boxes 33 48 16; record unreadable, button added, chart imported 179"},
    {"Panel without PanelIndex", Sql("shop/Mailvoro.mdb", "ALTER TABLE [Panel] RENAME COLUMN [PanelIndex] TO [Number]"), "exit 1, changed; boxes 33 48 16; record added, button refused, chart imported 179"},
    {"Panel without SV7", Sql("shop/Mailvoro.mdb", "ALTER TABLE [Panel] RENAME COLUMN [SV7] TO [SV8]"), "exit 1, changed; boxes 33 48 16; record added, button unreadable, chart imported 179"},
    {"text in PanelIndex", Sql("shop/Mailvoro.mdb", "INSERT INTO [Panel] ([PanelIndex], [SV1]) VALUES ('ten', 'KSTL-GND')"), "exit 1, changed; boxes 33 48 16; record added, button refused, chart imported 179"},
    {"text in a number of the template service", Sql("shop/Mailvoro.mdb", "UPDATE [Master] SET [MinCharge] = 'none' WHERE [Service] = 'FEDEX-GND'"), "exit 1, changed; boxes 33 48 16; record refused, button added, chart imported 179"},
    {"an insert into Master that a trigger ignores", Sql("shop/Mailvoro.mdb", "CREATE TRIGGER [Ignored] BEFORE INSERT ON [Master] BEGIN SELECT RAISE(IGNORE); END"), "exit 1, changed; boxes 33 48 16; record refused, button added, chart imported 179"},
    {"no Data folder", [](Shop& s) { fs::remove_all(s.Program() / "Data"); }, "exit 1; boxes 48 16; chart refused 0; as before"},
    {"no rate table", Sql("program/TarnVel_Services.mdb", "DROP TABLE [TARNVEL-GND]"), "exit 1; boxes 48 64 16; chart none 179; as before"},
    {"a chart of binary bytes", BinaryChart, "exit 0, changed; boxes 48 33 64; record added, button added, chart imported 0"},
    {"a chart with a 100 MB line", LongLineChart, "exit 1; boxes 48 16; chart refused 0; as before"},
    {"a chart with a query in a field", Chart("A,100,199,5\r\nA,200,299,(WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT max(x) FROM c)\r\n"), "exit 1; boxes 48 16; chart refused 1; as before"},
    {"a zone table that rolls back a repeated LOZIP", [](Shop& s) { Sql("program/TarnVel_Zones_Empty.mdb", kRollback)(s); Chart("A,100,199,5\r\nA,200,299,6\r\nA,100,399,9\r\nA,400,499,7\r\n")(s); }, "exit 1; boxes 48 16; chart refused 2; as before"},
    {"a hot journal beside the shop's zones database", Leftover("program/TarnVel_Zones_Empty.mdb", "shop/TarnVel_Zones.mdb", kHot + "INSERT INTO [TARNVEL-GND] SELECT 1, 2, randomblob(3000) FROM n", {"-journal"}), "exit 0, changed; boxes 33 64; record added, button added, TarnVel_Zones.mdb replaced, chart imported 179; installed"},
    {"a WAL beside the shop's zones database", Leftover("program/TarnVel_Zones_Empty.mdb", "shop/TarnVel_Zones.mdb", "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; INSERT INTO [TARNVEL-GND] VALUES (1, 2, 9)", {"-wal", "-shm"}), "exit 0, changed; boxes 33 64; record added, button added, TarnVel_Zones.mdb replaced, chart imported 179; installed"},
    {"a FIFO under a carrier file's name", Fifo("shop/TarnVel.jpg"), "exit 1; boxes 64 16; TarnVel.jpg refused, chart none 179; TarnVel.jpg mode 600; as before"},
    {"a check with a FIFO under a carrier file's name", Install(Fifo("shop/TarnVel.jpg")), "exit 1; boxes; TarnVel.jpg differs; TarnVel.jpg mode 600; as before", kCheck},
    {"a removal with a FIFO under a carrier file's name", Install(Fifo("shop/TarnVel.jpg")), "exit 0, changed; boxes 33 64; record removed, button removed, TarnVel_Zones.mdb removed, TarnVel_Services.mdb removed, TarnVelEODManifest.rpt removed, TarnVel.jpg kept, TarnVel_Generic.lab removed; TarnVel.jpg mode 600", "--remove --yes $H"},
    {"a check with a hot journal beside the host", Install(Leftover("shop/Mailvoro.mdb", "shop/Mailvoro.mdb", "PRAGMA cache_size=2; CREATE TABLE [Big] ([x]); " + kHot + "INSERT INTO [Big] SELECT randomblob(2000) FROM n", {"-journal"})), "exit 1; boxes; record unreadable, button unreadable; as before", kCheck},
    {"a check of a carrier database changed in the shop", Install(Sql("shop/TarnVel_Services.mdb", "CREATE VIEW [Rates] AS SELECT [LBS] FROM [TARNVEL-GND]")), "exit 1; boxes; TarnVel_Services.mdb differs; as before", kCheck},
    {"an installation over a carrier database changed in the shop", Install(Sql("shop/TarnVel_Services.mdb", "CREATE VIEW [Rates] AS SELECT [LBS] FROM [TARNVEL-GND]")), "exit 0, changed; boxes 33 64; TarnVel_Services.mdb replaced, chart imported 179; installed"},
    {"a check of a zone table that is a view over an endless query", Install(Sql("shop/TarnVel_Zones.mdb", "DROP TABLE [TARNVEL-GND]; CREATE VIEW [TARNVEL-GND] AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n AS [LOZIP], n AS [HIZIP], n AS [ZONE] FROM r")), "exit 1; boxes; TarnVel_Zones.mdb differs; as before", kCheck},
    {"a dry run beside a sparse logo of 1 GiB", Install([](Shop& s) { fs::resize_file(s.Folder() / "TarnVel.jpg", 1 << 30); }), "exit 0, changed; boxes 33 64; TarnVel.jpg replaced, chart imported 179; as before", kDryRun},
    {"a check of a sparse logo of 1 GiB", Install([](Shop& s) { fs::resize_file(s.Folder() / "TarnVel.jpg", 1 << 30); }), "exit 1; boxes; TarnVel.jpg differs; as before", kCheck},
};
// clang-format on

// clang-format off
const std::vector<Row> kRefused = {
    {"a host database marked read-only", Mode("shop/Mailvoro.mdb", fs::perms(0444)), "exit 1; boxes 33 48 48 16; record refused, button refused, chart none 179; Mailvoro.mdb mode 444; as before"},
    {"a host folder marked read-only", Mode("shop", fs::perms(0555)), "exit 1; boxes 64 16; TarnVel_Zones.mdb refused, chart imported 179; as before"},
    {"a program folder nobody may write", [](Shop& s) { Mode("program/TarnVel_Zones_Empty.mdb", fs::perms(0444))(s); Mode("program", fs::perms(0555))(s); }, kInstalled},
    {"a carrier file in the shop marked read-only", ReadOnlyCopy, "exit 1; boxes 64 16; TarnVel.jpg refused, chart none 179; TarnVel.jpg mode 444; as before"},
    {"an old carrier file in the shop kept private", [](Shop& s) { Write("shop/TarnVel.jpg", "old")(s); Mode("shop/TarnVel.jpg", fs::perms(0600))(s); }, "exit 0, changed; boxes 33 64; record added, button added, TarnVel.jpg replaced, chart imported 179; TarnVel.jpg mode 600; installed"},
    {"a leftover of a copy that was ended", Write("shop/.TarnVel.jpg.atv-tmp-0123456789abcdef", "half a logo"), kInstalled},
    {"a Cancel on an installed service", Install(), "exit 1; boxes 33 16; chart none 128; as before", "--zip 90210 --program-folder $P $H"},
    {"a full disk", FullDisk, "exit 1; boxes 64 16; TarnVel_Zones.mdb refused, chart imported 179; as before"},
    {"another program reading the host for a second", ReaderForASecond, kInstalled},
    {"another program writing the host throughout", [](Shop& s) { Hold(s.Host(), "BEGIN IMMEDIATE"); }, "exit 1; boxes 33 48 48 16; record refused, button refused, chart none 179; as before"},
    {"another program locking the host throughout", [](Shop& s) { Hold(s.Host(), "BEGIN EXCLUSIVE"); }, "exit 1; boxes 33 48 48 16; record unreadable, button unreadable, chart none 179; as before"},
    {"another program writing the shop's services database", CopyInUse, "exit 1; boxes 64 16; TarnVel_Services.mdb refused, chart none 179; as before"},
    {"a dry run while another program locks the host", [](Shop& s) { Hold(s.Host(), "BEGIN EXCLUSIVE"); }, "exit 1; boxes 48; as before", kDryRun},
};
// clang-format on

std::vector<Row> Places() {
  // clang-format off
  std::vector<Row> rows = {
      {"a host database in WAL mode open in another program", WalInUse, "exit 0, changed; boxes 33 64; record added, button added, chart imported 179; installed; host in WAL"},
      {"a dry run on a host database in WAL mode open in another program", Install(WalInUse), "exit 0; boxes 33 64; chart imported 179; as before; host in WAL", kDryRun},
      {"a check of a host database in WAL mode open in another program", Install(WalInUse), "exit 0; boxes; as before; host in WAL", kCheck},
  };
  // clang-format on
  rows.push_back({"a link to a carrier database another program writes", LinkInUse,
                  "exit 1; boxes 64 16; TarnVel_Services.mdb refused, chart none 179; as before"});
  for (const std::string& name : TestSupport::kCopiedFiles) {
    const std::string linked = "exit 0, changed; boxes 33 64; record added, button added, " + name +
                               " replaced, chart imported 179; installed";
    rows.push_back({name + " a link to a file elsewhere", [name](Shop& s) { LinkElsewhere(s, name); }, linked});
    rows.push_back({name + " a link to the shop database",
                    [name](Shop& s) { fs::create_symlink(s.Host(), s.Folder() / name); }, linked});
  }
  return rows;
}

// The first installation of the demo shop, as Installed() tells it.
const std::map<std::string, std::string>& FirstInstallation() {
  static const auto parts = [shop = std::make_unique<Shop>()] {
    shop->RunCli(shop->Args());
    return TestSupport::Installed(shop->Host(), shop->Program());
  }();
  return parts;
}

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class Faults : public testing::TestWithParam<Row> {
 protected:
  Faults() { ::umask(022); }  // what the runner and SQLite make is 0644; other modes are named
  void TearDown() override {
    for (auto& h : std::exchange(held, {})) h->End();
    for (const auto& folder : std::exchange(mounted, {})) ::umount2(folder.c_str(), MNT_DETACH);
    for (const auto& folder : {shop_.Folder(), shop_.Program()})
      fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
  }
  Shop shop_;
};

std::string Outcome(const Shop& shop, const TestSupport::Run& run, bool asBefore) {
  std::ostringstream out;
  const auto summary = run.Summary();
  out << "exit " << run.exitStatus << (summary.value("changed", false) ? ", changed" : "") << "; boxes";
  for (const auto& e : run.events)
    if (e.value("event", "") == "message") out << " " << e.value("style", 0);
  const char* separator = "; ";
  for (const auto& item : summary.value("items", nlohmann::json::array())) {
    const std::string result = item.value("result", "");
    if (result == "created" || result == "unchanged" || result == "ok") continue;
    out << std::exchange(separator, ", ") << item.value("item", "") << " " << result;
    if (item.contains("rows")) out << " " << item["rows"];
  }
  bool only = true;  // nothing in the folder but the service's files and the host's own journal or WAL
  for (const auto& entry : fs::directory_iterator(shop.Folder())) {
    const std::string name = entry.path().filename();
    const auto& files = TestSupport::kCopiedFiles;
    only = only && (name.starts_with("Mailvoro.mdb") || std::count(files.begin(), files.end(), name));
    const auto mode = static_cast<int>(entry.symlink_status().permissions() & fs::perms::all);
    if (!entry.is_symlink() && !entry.is_directory() && mode != 0644)
      out << "; " << name << " mode " << std::oct << mode << std::dec;
  }
  if (asBefore)
    out << "; as before";
  else if (only && TestSupport::Installed(shop.Host(), shop.Program()) == FirstInstallation())
    out << "; installed";
  if (TestSupport::Value(shop.Host(), "PRAGMA integrity_check") != "ok") out << "; host unreadable";
  if (TestSupport::Value(shop.Host(), "PRAGMA journal_mode") == "wal") out << "; host in WAL";
  return out.str();
}

TEST_P(Faults, Holds) {
  if (!shop_.Ready()) GTEST_SKIP() << shop_.Why();
  const Row& row = GetParam();
  row.setup(shop_);
  if (IsSkipped() || HasFatalFailure()) return;
  std::vector<std::string> args{"--json"};
  std::istringstream words(row.args);
  for (std::string word; words >> word;)
    args.push_back(word == "$P" ? shop_.Program().string() : word == "$H" ? shop_.Host() : word);
  const auto folders = [&] {
    return std::vector{TestSupport::FolderContents(shop_.Folder()), TestSupport::FolderContents(shop_.Program()),
                       TestSupport::FolderContents(shop_.Root() / "elsewhere")};
  };
  const auto before = folders();
  const auto run = shop_.RunCli(args);
  const auto after = folders();
  for (auto& h : held) {
    if (h->journal == 0) continue;
    EXPECT_EQ(Inode(h->path + "-journal"), h->journal) << "the other program's journal was taken";
    h->End();
    EXPECT_EQ(h->exit, 0) << "the other program's commit";
    EXPECT_EQ(TestSupport::Value(h->path, "Select count(*) From [Held]"), "1") << "the other program's row";
  }
  const auto summary = run.Summary();
  EXPECT_TRUE(summary.value("changed", false) || after[0] == before[0]) << "the shop changed, the run says not";
  EXPECT_EQ(after[1], before[1]) << "the program folder changed";
  EXPECT_EQ(after[2], before[2]) << "a file elsewhere changed";
  EXPECT_EQ(summary.value("exit", run.exitStatus), run.exitStatus);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(run.peakKb, 64 * 1024);
#endif
  EXPECT_EQ(Outcome(shop_, run, after[0] == before[0]), row.expected) << run.Dump();
}

INSTANTIATE_TEST_SUITE_P(Broken, Faults, testing::ValuesIn(kBroken), TestSupport::RowName);
INSTANTIATE_TEST_SUITE_P(Refused, Faults, testing::ValuesIn(kRefused), TestSupport::RowName);
INSTANTIATE_TEST_SUITE_P(Places, Faults, testing::ValuesIn(Places()), TestSupport::RowName);

// Paths of 4,000 bytes: an installation completes there and a check reads it.
TEST(Places, LongPaths) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  ASSERT_EQ(shop.RunCli(shop.Args()).exitStatus, 0);
  const auto done = TestSupport::Installed(shop.Host(), shop.Program());
  for (const bool deepShop : {true, false}) {
    SCOPED_TRACE(deepShop ? "a shop path of 4,000 bytes" : "a program folder path of 4,000 bytes");
    shop.Reset();
    fs::path deep = shop.Root() / "deep";
    for (const std::size_t length = deepShop ? 4000 - 13 : 4000; deep.string().size() + 1 < length;)
      deep /= std::string(std::min<std::size_t>(200, length - deep.string().size() - 1), 'd');
    fs::create_directories(deep.parent_path());
    fs::rename(deepShop ? shop.Folder() : shop.Program(), deep);
    const std::string host = deepShop ? (deep / "Mailvoro.mdb").string() : shop.Host();
    const std::string program = deepShop ? shop.Program().string() : deep.string();
    EXPECT_EQ(shop.RunCli(shop.Args("10001", host, program)).exitStatus, 0);
    auto verify = shop.Args("10001", host, program);
    verify.insert(verify.begin(), "--verify");
    EXPECT_EQ(shop.RunCli(verify).exitStatus, 0) << "the check reads what the installation wrote";
    fs::rename(deep, deepShop ? shop.Folder() : shop.Program());  // back where SQLite reads it
    EXPECT_EQ(TestSupport::Installed(shop.Host(), shop.Program()), done);
    fs::remove_all(shop.Root() / "deep");
  }
}

// The private folders of runs in `temporary` (named once locked).
std::vector<std::string> PrivateFolders(const fs::path& temporary) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(temporary))
    if (entry.path().filename().string().starts_with("addtarnvel-")) names.push_back(entry.path().filename());
  return names;
}

TEST(Places, AnEndedDryRunLeavesNoPrivateCopy) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  std::string chart = "Origin,LOZIP,HIZIP,ZONE\r\n";  // long enough to be ended part-way
  for (int i = 0; i < 200000; ++i) chart += "1," + std::to_string(i) + "," + std::to_string(i) + ",5\r\n";
  TestSupport::WriteFile((shop.Program() / "Data" / "TarnVel_100.csv").string(), chart);
  const fs::path temporary = shop.Root() / "tmp";
  fs::create_directory(temporary);
  ::setenv("TMPDIR", temporary.c_str(), 1);
  auto args = shop.Args();
  args.insert(args.begin(), "--dry-run");
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGKILL}) {
    SCOPED_TRACE(strsignal(signal));
    const auto child = TestSupport::Start(TestSupport::Cli(args), (shop.Root() / "out").string(), "/dev/null");
    for (int wait = 0; wait < 2000 && PrivateFolders(temporary).size() < 2; ++wait) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(PrivateFolders(temporary).size(), 2u) << "the run's working and dry-run folders";
    ::kill(child.pid, signal);
    TestSupport::Wait(child);
    // A run killed outright leaves them to the next run of the same user.
    if (signal == SIGKILL) shop.RunCli({"--dry-run", "--remove", shop.Host()});
    EXPECT_EQ(PrivateFolders(temporary), std::vector<std::string>{});
  }
  ::unsetenv("TMPDIR");
}

// The run completes; exit 4 and one line on standard error say its record is lost.
TEST(Places, ATranscriptToAFullDevice) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  const auto run =
      TestSupport::Wait(TestSupport::Start(TestSupport::Cli(shop.Args()), "/dev/full", (shop.Root() / "err").string()));
  EXPECT_EQ(run.exitStatus, 4);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(TestSupport::Installed(shop.Host(), shop.Program()), FirstInstallation());
}

// Two to four installations at once: from one program folder into two shops, from separate program folders
// into one shop (also while another program writes to the shop database), both crossed, and past a user who
// may only read. Every run succeeds, and each shop ends exactly as the same runs one after another leave
// it. ./test runs a few rounds (ATV_ROUNDS); exhaustive.sh 20.
struct Case {
  const char* name;
  int shops, programs, runs;  // run i installs into shop i % shops from program folder i % programs
  bool writer = false;        // another program writes to the first shop's database meanwhile
  bool crossed = false;       // shop k lies in program folder k + 1
  bool reader = false;        // a user who may only read holds a lock on every folder and file it can open
};
const char* const kZips[] = {"10001", "90210"};
const char* const kCharts[] = {"TarnVel_100.csv", "TarnVel_902.csv"};
#if defined(__SANITIZE_ADDRESS__)
constexpr int kChartRows = 2000, kDefaultRounds = 1;
#else
constexpr int kChartRows = 20000, kDefaultRounds = 2;
#endif

// Adds a row to a table of its own, one transaction at a time, until the file $2 appears; then tells how many.
const char kWriter[] =
    "sqlite3 \"$1\" 'CREATE TABLE [Writer] ([n] INTEGER)' && touch \"$2.started\" || exit 1; n=0; "
    "until [ -e \"$2\" ]; do sqlite3 -cmd '.timeout 60000' \"$1\" 'INSERT INTO [Writer] VALUES (1)' || exit 1; "
    "n=$((n + 1)); done; echo $n >&2";

// Every file of a shop folder: a database as its tables and rows, any other file as its size and hash.
std::map<std::string, std::string> ShopText(const fs::path& folder) {
  auto contents = TestSupport::FolderContents(folder);
  for (auto& [name, text] : contents)
    if (name.ends_with(".mdb")) text = TestSupport::DatabaseText((folder / name).string());
  return contents;
}

// The user nobody, holding an exclusive flock on each of its arguments (as anyone may with a descriptor open
// for reading) until ended.
const char kReader[] = "for f; do exec {fd}<\"$f\" && flock -xn $fd || exit 1; done; echo locked; exec sleep 150";

class Concurrent : public testing::TestWithParam<Case> {};

TEST_P(Concurrent, EndsAsOneAfterAnother) {
  const Case& c = GetParam();
  TestSupport::Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  if (c.reader && ::geteuid() != 0) GTEST_SKIP() << "needs root to run a process as nobody";
  if (c.reader) fs::permissions(shop.Root(), fs::perms(0755));
  // Long charts, unlike each other, keep the runs busy long enough to meet.
  for (int k = 0; k < 2; ++k) {
    std::string chart = "Origin,LOZIP,HIZIP,ZONE\r\n";
    for (int i = 0; i < kChartRows; ++i)
      chart += "1," + std::to_string(5 * i + k) + "," + std::to_string(5 * i + k + 4) + "," +
               std::to_string(2 + (i + k) % 7) + "\r\n";
    TestSupport::WriteFile((shop.Program() / "Data" / kCharts[k]).string(), chart);
  }
  std::vector<fs::path> programs = {shop.Program()}, folders;
  for (int p = 1; p < c.programs; ++p)
    fs::copy(shop.Program(), programs.emplace_back(shop.Root() / ("program" + std::to_string(p))),
             fs::copy_options::recursive);
  for (int k = 0; k < c.shops; ++k)
    folders.push_back(c.crossed ? programs[(k + 1) % c.programs] : shop.Root() / ("shop" + std::to_string(k)));
  auto freshShops = [&] {
    for (const auto& folder : folders) {
      if (c.crossed) fs::remove(folder / "TarnVel_Zones.mdb");
      if (!c.crossed) fs::remove_all(folder);
      fs::create_directories(folder);
      fs::copy_file(shop.Host(), folder / "Mailvoro.mdb", fs::copy_options::overwrite_existing);
    }
  };
  auto start = [&](int i) {
    const std::string host = (folders[i % c.shops] / "Mailvoro.mdb").string(), out = shop.Root() / std::to_string(i);
    const auto args = shop.Args(kZips[i % c.shops], host, programs[i % c.programs]);
    return TestSupport::Start(TestSupport::Cli(args), out + ".out", out + ".err");
  };
  freshShops();
  for (int i = 0; i < c.runs; ++i) ASSERT_EQ(TestSupport::Wait(start(i)).exitStatus, 0) << "run " << i << " alone";
  std::vector<std::map<std::string, std::string>> expected;
  for (const auto& folder : folders) expected.push_back(ShopText(folder));

  const char* roundsText = std::getenv("ATV_ROUNDS");
  for (int round = 0, rounds = roundsText ? std::atoi(roundsText) : kDefaultRounds; round < rounds; ++round) {
    freshShops();
    std::optional<TestSupport::Child> reader;
    if (c.reader) {
      std::vector<std::string> argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "bash",
                                       "-c",      kReader,         "reader",        programs[0]};
      argv.insert(argv.end(), folders.begin(), folders.end());
      for (std::size_t i = 8, n = argv.size(); i < n; ++i)  // from programs[0], every entry too
        for (const auto& entry : fs::directory_iterator(argv[i])) argv.push_back(entry.path());
      const std::string out = shop.Root() / "reader";
      reader = TestSupport::Start(argv, out, "/dev/null");
      for (int wait = 0; wait < 2000 && TestSupport::ReadFile(out).empty(); ++wait) std::this_thread::sleep_for(5ms);
      ASSERT_EQ(TestSupport::ReadFile(out), "locked\n") << "the reader could not lock every folder and file";
    }
    const std::string host = (folders[0] / "Mailvoro.mdb").string(), stop = (shop.Root() / "stop").string();
    std::optional<TestSupport::Child> writer;
    if (c.writer) {
      fs::remove(stop);
      writer = TestSupport::Start({"sh", "-c", kWriter, "writer", host, stop}, stop + ".out", stop + ".err");
      for (int wait = 0; wait < 2000 && !fs::exists(stop + ".started"); ++wait) std::this_thread::sleep_for(5ms);
      fs::remove(stop + ".started");
    }
    std::vector<TestSupport::Child> children;
    for (int i = 0; i < c.runs; ++i) children.push_back(start(i));
    std::string problems;
    for (int i = 0; i < c.runs; ++i) {
      const auto run = TestSupport::Wait(children[i]);
      if (run.exitStatus != 0) problems += "run " + std::to_string(i) + " failed: " + run.Dump();
      // A run that waited for the shop's lock said so in the status panel.
      for (const auto& event : run.events)
        if (c.reader && event.value("event", "") == "status" && event.value("text", "").starts_with("Waiting"))
          problems += "run " + std::to_string(i) + " waited for the reader\n";
    }
    if (reader && ::kill(reader->pid, SIGKILL) == 0) TestSupport::Wait(*reader);
    if (writer) {
      TestSupport::WriteFile(stop, "");
      const auto wrote = TestSupport::Wait(*writer);
      const std::string rows = TestSupport::Value(host, "Select count(*) From [Writer]");
      if (wrote.exitStatus != 0 || wrote.err != rows + "\n")
        problems += "the other program: " + wrote.err + " committed, " + rows + " rows\n";
      TestSupport::Rows(host, "DROP TABLE [Writer]");
    }
    for (std::size_t k = 0; k < folders.size(); ++k)
      if (ShopText(folders[k]) != expected[k]) problems += "shop " + std::to_string(k) + " differs\n";
    ASSERT_EQ(problems, "") << "round " << round;
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Concurrent, testing::ValuesIn(std::vector<Case>{
    {"one program folder, two shops", 2, 1, 2},
    {"one shop, three program folders", 1, 3, 3},
    {"one shop, three program folders, its database written meanwhile", 1, 3, 3, true},
    {"two shops, each from two program folders", 2, 2, 4},
    {"two shops, each in the other's program folder", 2, 2, 2, false, true},
    {"one program folder, two shops, every folder and file locked by a user who may only read them", 2, 1, 2, false, false, true},
}), TestSupport::RowName);
// clang-format on

}  // namespace
