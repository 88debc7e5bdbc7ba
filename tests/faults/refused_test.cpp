// A database of the shop held by another program and a full disk: each
// installation ends with the message that says what is wrong, exits 1, and
// changes nothing it did not reach (read-only files are rows of
// refused.json, journals left by a killed writer rows of broken.json).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "Shop.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::string_literals;
using TestSupport::FolderContents;

using TestSupport::kCopyBox;
using TestSupport::kFailedBox;

// Another program holding a transaction open on a database of the shop,
// with a table of its own made in it.
struct HeldCase {
  const char* name;
  const char* file;    // in the shop folder
  const char* begin;   // "BEGIN IMMEDIATE" (others may read) or "BEGIN EXCLUSIVE"
  int holdSeconds;     // then it commits; kUntilAFailure, kThroughTheRun
  int exitStatus;
  std::string boxStart, cause;  // the box that says why the run failed, and a part of its text
};
constexpr int kUntilAFailure = 0, kThroughTheRun = -1;
const std::string kLookupBox = "Process has failed !: Process has failed !\r\rThe following error has occurred:\r";
const std::string kMasterBox = "Process has failed !: Failed to add TARN-VEL 'TARNVEL-GND' service to Master table...";
const char kInUse[] = "is in use by another program; try again when it is closed.";

// A short hold is waited out; a long one makes the change wait in vain; a
// lookup that cannot read makes its half fail rather than guess; a carrier
// database in use is not replaced under its writer.
TEST(InUse, AnotherProgramsTransactionIsWaitedForOrRefusedAndKept) {
  const std::vector<HeldCase> cases = {
      {"host written for a second", "Mailvoro.mdb", "BEGIN IMMEDIATE", 1, 0, "", ""},
      {"host written for 10 s", "Mailvoro.mdb", "BEGIN IMMEDIATE", 10, 1, kMasterBox, kInUse},
      {"host locked until a lookup fails", "Mailvoro.mdb", "BEGIN EXCLUSIVE", kUntilAFailure, 1, kLookupBox, kInUse},
      {"shop's services database written", "TarnVel_Services.mdb", "BEGIN IMMEDIATE", kThroughTheRun, 1, kCopyBox,
       "TarnVel_Services.mdb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestSupport::Shop shop;
    if (!shop.Ready()) GTEST_SKIP() << shop.Why();
    const std::string path = (shop.Folder() / c.file).string(), out = (shop.Root() / "held.out").string();
    if (!fs::exists(path)) fs::copy_file(shop.Program() / c.file, path);
    TestSupport::Holder holder(path, c.begin + "; CREATE TABLE [Held] ([n] INTEGER); INSERT INTO [Held] VALUES (1)"s);
    ASSERT_EQ(holder.Error(), "");
    auto inode = [](const std::string& file) {
      struct stat info {};
      return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
    };
    const auto journal = inode(path + "-journal");
    ASSERT_NE(journal, 0u) << "the other program's journal";

    const auto child = TestSupport::Start(TestSupport::Cli(shop.Args()), out, out + ".err");
    std::string committed;
    if (c.holdSeconds != kThroughTheRun) {
      const auto until = Clock::now() + std::chrono::seconds(c.holdSeconds == kUntilAFailure ? 60 : c.holdSeconds);
      auto released = [&] {
        const std::string transcript = TestSupport::ReadFile(out);
        return transcript.find("\"busy\":false") != std::string::npos ||
               (c.holdSeconds == kUntilAFailure && transcript.find("Process has failed !") != std::string::npos);
      };
      while (Clock::now() < until && !released()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      committed = holder.End();
    }
    const auto run = TestSupport::Wait(child);
    if (c.holdSeconds == kThroughTheRun) {
      EXPECT_EQ(inode(path + "-journal"), journal) << "the other program's journal was taken away";
      committed = holder.End();
    }
    EXPECT_EQ(committed, "not an error") << "the other program's commit";
    EXPECT_EQ(TestSupport::Value(path, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(TestSupport::Value(path, "Select count(*) From [Held]"), "1") << "the other program's row";

    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.Dump();
    // A refused copy says why on standard error; nothing else goes there.
    EXPECT_TRUE(run.err.empty() || run.err.find(c.cause) != std::string::npos) << run.err;
    ASSERT_FALSE(run.Boxes().empty()) << run.Dump();
    EXPECT_EQ(run.Boxes().back(), c.exitStatus == 0 ? TestSupport::kDoneBox : kFailedBox) << run.Dump();
    EXPECT_TRUE(c.exitStatus == 0 || (run.StartsBox(c.boxStart) && run.Mentions(c.cause))) << run.Dump();
    EXPECT_EQ(TestSupport::Value(shop.Host(), "Select count(*) From [Master] Where [Service] = 'TARNVEL-GND'"),
              c.exitStatus == 0 ? "1" : "0")
        << "a service record only when the run could tell that none was there";
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
  TestSupport::Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  const fs::path folder = shop.Root() / "full";
  // Room for the host database and the old zones database, not for the new one.
  SmallDisk disk(folder, "48k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a size-limited tmpfs (" << disk.Why() << "); needs CAP_SYS_ADMIN";
  const std::string host = (folder / "Mailvoro.mdb").string();
  fs::copy_file(shop.Host(), host);
  TestSupport::WriteFile((folder / "TarnVel_Zones.mdb").string(), "the old zones database");
  // The zones database with the chart of 10001 takes 40 KiB.
  ASSERT_LT(fs::space(folder).available, 40960u);
  const auto before = FolderContents(folder);

  const auto run = shop.RunCli(shop.Args("10001", host));
  EXPECT_EQ(run.exitStatus, 1) << run.Dump();
  ASSERT_EQ(run.Boxes().size(), 2u) << run.Dump();
  EXPECT_TRUE(run.Boxes()[0].starts_with(kCopyBox) &&
              run.Boxes()[0].ends_with("TarnVel_Zones.mdb\rto\r" + (folder / "TarnVel_Zones.mdb").string()))
      << run.Dump();
  EXPECT_EQ(run.Boxes()[1], kFailedBox);
  EXPECT_TRUE(run.err.find("TarnVel_Zones.mdb: Disk full") != std::string::npos) << run.err;
  EXPECT_EQ(FolderContents(folder), before) << "the old file stays and no temporary file is left";
}

}  // namespace
