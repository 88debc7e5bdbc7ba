// The host database held by another program, read-only files and folders,
// and a full disk: each installation ends with the message that says what
// is wrong, exits 1, and changes nothing it did not reach.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "FaultSupport.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::string_literals;
using FaultSupport::DatabaseText;
using FaultSupport::FolderContents;

using FaultSupport::kCopyBox;
using FaultSupport::kFailedBox;
using FaultSupport::Rows;

// Holds a write transaction on `path` from its construction for `hold`.
class WriteLock {
 public:
  WriteLock(const std::string& path, std::chrono::milliseconds hold) {
    std::promise<bool> taken;
    auto takenFuture = taken.get_future();
    thread_ = std::thread([path, hold, taken = std::move(taken)]() mutable {
      sqlite3* db = nullptr;
      const bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                      sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE [Panel] SET [Icon] = [Icon]", nullptr, nullptr,
                                   nullptr) == SQLITE_OK;
      taken.set_value(ok);
      if (ok) std::this_thread::sleep_for(hold);
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db);
    });
    taken_ = takenFuture.get();
  }
  ~WriteLock() { thread_.join(); }
  bool Taken() const { return taken_; }

 private:
  std::thread thread_;
  bool taken_ = false;
};

TEST(HostInUse, ShortLockIsWaitedOutLongLockFailsAfterTheWait) {
  FaultSupport::Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  const std::string inUse = "The database '" + shop.Host() + "' is in use by another program; try again when it is closed.";

  // Runs while another program holds the host for `hold`.
  auto runLocked = [&](std::chrono::seconds hold) {
    WriteLock lock(shop.Host(), hold);
    EXPECT_TRUE(lock.Taken());
    return shop.RunCli(shop.Args());
  };
  auto run = runLocked(std::chrono::seconds(1));
  EXPECT_EQ(run.exitStatus, 0) << run.Dump();
  EXPECT_TRUE(run.StartsBox(FaultSupport::kDoneBox)) << run.Dump();
  EXPECT_EQ(Rows(shop.Host(), "Select count(*) From [Master] Where [Service] = 'TARNVEL-GND'"), std::vector{"1"s});

  shop.Reset();
  const char kMaster[] = "Select * From [Master] Order By [Service]", kPanel[] = "Select * From [Panel] Order By [PanelIndex]";
  const auto masterBefore = Rows(shop.Host(), kMaster), panelBefore = Rows(shop.Host(), kPanel);
  const auto started = Clock::now();
  run = runLocked(std::chrono::seconds(10));
  EXPECT_EQ(run.exitStatus, 1) << run.Dump();
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(4900)) << "the run must wait for the lock first";
  EXPECT_TRUE(run.StartsBox("Process has failed !: Failed to add TARN-VEL 'TARNVEL-GND' service to Master table...\r\r"
                            "The following error has occurred:\r" + inUse))
      << run.Dump();
  EXPECT_EQ(run.Boxes().back(), kFailedBox);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(FaultSupport::IntegrityCheck(shop.Host()), "ok");
  EXPECT_EQ(Rows(shop.Host(), kMaster), masterBefore) << "no service record while the database is in use";
  // The [Panel] half runs whatever the [Master] half returned, and its own
  // wait may outlast the lock: it then adds the service's one button.
  const auto panelAfter = Rows(shop.Host(), kPanel);
  EXPECT_LE(panelAfter.size(), panelBefore.size() + 1);
  for (std::size_t i = 0; i < panelBefore.size() && i < panelAfter.size(); ++i) EXPECT_EQ(panelAfter[i], panelBefore[i]);
}

struct RefusedCase {
  const char* name;
  std::function<void(FaultSupport::Shop&)> refuse;  // makes the file or folder unwritable
  std::string boxStart;                             // "title: text" of the box that says why
  std::string description;                          // part of a box's text naming the cause
  bool copiesRefused;  // the carrier's files never reach the host folder
  bool zonesKept;      // the working zones database could not be replaced
};

TEST(ReadOnly, FilesAndFoldersThatCannotBeWrittenChangeNothing) {
  auto noWriting = [](const fs::path& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  };
  const std::vector<RefusedCase> cases = {
      {"host database marked read-only", [&](auto& s) { noWriting(s.Host()); },
       "Process has failed !: Failed to add TARN-VEL 'TARNVEL-GND' service to Master table...",
       "is read-only; the change was not saved.", false, false},
      {"host folder marked read-only", [&](auto& s) { noWriting(s.Folder()); }, kCopyBox, "TarnVel_Zones.mdb", true,
       false},
      {"working zones database marked read-only", [&](auto& s) { noWriting(s.Zones()); },
       kCopyBox, "TarnVel_Zones.mdb", true, true},
      {"program folder marked read-only", [&](auto& s) { noWriting(s.Program()); }, kCopyBox, "TarnVel_Zones.mdb",
       true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FaultSupport::Shop shop;
    if (!shop.Ready()) GTEST_SKIP() << shop.Why();
    c.refuse(shop);
    const auto hostBefore = DatabaseText(shop.Host());
    const auto programBefore = FolderContents(shop.Program());
    const auto folderBefore = FolderContents(shop.Folder());

    const auto run = shop.RunCli(shop.Args());
    EXPECT_EQ(run.exitStatus, 1) << run.Dump();
    EXPECT_TRUE(run.StartsBox(c.boxStart) && run.Mentions(c.description)) << run.Dump();
    ASSERT_FALSE(run.Boxes().empty());
    EXPECT_EQ(run.Boxes().back(), kFailedBox);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(DatabaseText(shop.Host()), hostBefore);
    if (c.copiesRefused) { EXPECT_EQ(FolderContents(shop.Folder()), folderBefore) << "no file may reach the host folder"; }
    if (c.zonesKept) { EXPECT_EQ(FolderContents(shop.Program()), programBefore) << "nor may a temporary file stay"; }
  }
}

// A size-limited file system mounted over a folder for the life of the object.
class SmallDisk {
 public:
  SmallDisk(const fs::path& folder, const std::string& size) : folder_(folder) {
    fs::create_directories(folder);
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    if (!mounted_) why_ = std::strerror(errno);
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  const std::string& Why() const { return why_; }

 private:
  fs::path folder_;
  bool mounted_ = false;
  std::string why_;
};

TEST(DiskFull, CopyIntoTheHostFolderKeepsTheOldFileAndLeavesNoTemporary) {
  FaultSupport::Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  const fs::path folder = shop.Root() / "full";
  // Room for the host database and the old zones database, not for the new one.
  SmallDisk disk(folder, "48k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a size-limited tmpfs (" << disk.Why() << "); needs CAP_SYS_ADMIN";
  const std::string host = (folder / "Mailvoro.mdb").string();
  fs::copy_file(shop.Host(), host);
  TestSupport::WriteFile((folder / "TarnVel_Zones.mdb").string(), "the old zones database");
  ASSERT_LT(fs::space(folder).available, fs::file_size(shop.Zones()));
  const auto before = FolderContents(folder);

  const auto run = shop.RunCli(shop.Args("10001", host));
  EXPECT_EQ(run.exitStatus, 1) << run.Dump();
  EXPECT_EQ(run.Boxes(), (std::vector{kCopyBox + "\r" + shop.Zones() + "\rto\r" + (folder / "TarnVel_Zones.mdb").string(),
                                      kFailedBox}));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(FolderContents(folder), before) << "the old file stays and no temporary file is left";
}

}  // namespace
