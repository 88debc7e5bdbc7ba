#include "Files_.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "Files_testing.h"
#include "RunError.h"
#include "ScriptedUi.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::ReadFile;
using TestSupport::TempDir;
using TestSupport::WriteFile;

// Names in `folder` that look like copy temporaries.
std::vector<std::string> Temporaries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().find(".atv-tmp-") != std::string::npos)
      names.push_back(entry.path().filename().string());
  return names;
}

// The one box shown as "title|style|prompt", "" when none, "N boxes" else.
std::string BoxOf(const Platform::ScriptedUi& ui) {
  if (ui.Events().size() != 1) return ui.Events().empty() ? "" : std::to_string(ui.Events().size()) + " boxes";
  const auto& box = ui.Events()[0];
  return box.title + "|" + std::to_string(box.style) + "|" + box.text;
}

TEST(Files_, PathParts) {
  struct Case {
    const char* path;
    const char* lastPart;
    const char* folder;
  } cases[] = {
      {"/opt/Mailvoro/Mailvoro.mdb", "Mailvoro.mdb", "/opt/Mailvoro"},
      {"Mailvoro.mdb", "", "."},
      {"/opt/Mailvoro/", "", "/opt/Mailvoro"},
      {"/shop/shop", "shop", "/shop"},
      {"/Rates/rates", "rates", "/Rates"},
      {"shop/shop/shop", "shop", "shop/shop"},
      {"/Mailvoro.mdb", "Mailvoro.mdb", "/"},
      {"", "", "."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("path '") + c.path + "'");
    EXPECT_EQ(Files_::LastPathPart(c.path), c.lastPart);
    EXPECT_EQ(Files_::FolderOfPath(c.path), c.folder);
  }
}

TEST(Files_, LocateFileAnswersOnlyForOrdinaryFiles) {
  TempDir dir;
  WriteFile(dir.File("TarnVel.jpg"), "jpg");
  fs::create_symlink(dir.File("TarnVel.jpg"), dir.File("link.jpg"));
  fs::create_symlink(dir.File("gone.jpg"), dir.File("dangling.jpg"));
  const std::pair<std::string, bool> cases[] = {
      {dir.File("TarnVel.jpg"), true}, {dir.File("link.jpg"), true},   {dir.File("dangling.jpg"), false},
      {dir.Path().string(), false},    {dir.File("missing.jpg"), false}, {"", false},
  };
  for (const auto& [path, there] : cases) {
    SCOPED_TRACE(path);
    Platform::ScriptedUi ui;
    Platform::UiInstallation installed(ui);
    EXPECT_EQ(Files_::LocateFile(path, false), there);
    EXPECT_TRUE(ui.Events().empty());
    EXPECT_EQ(Files_::LocateFile(path, true), there);
    EXPECT_EQ(BoxOf(ui), there ? "" : "AddTarnVel|48|AddTarnVel has failed to locate the '" + path + "' file...");
  }
}

class CopyFileCheckedTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Files_::testing::SetCopyWriteFault({});
    Files_::testing::SetWaits(std::chrono::minutes(1), std::chrono::seconds(5));
  }

  // Copies with report on: "number: description" and the box shown.
  std::pair<std::string, std::string> Copy(const std::string& source, const std::string& destination) {
    Platform::ScriptedUi ui;
    Platform::UiInstallation installed(ui);
    std::string description = "stale";
    std::int32_t number = -1;
    const bool copied = Files_::CopyFileChecked(source, destination, description, number, true);
    EXPECT_EQ(copied, number == 0);
    return {std::to_string(number) + ": " + description, BoxOf(ui)};
  }
  void ExpectFailure(const std::string& source, const std::string& destination, const std::string& error) {
    EXPECT_EQ(Copy(source, destination),
              std::make_pair(error, "Can't Copy a File ...|64|AddTarnVel program has failed to copy file from:\r" +
                                        source + "\rto\r" + destination));
  }
  void ExpectSuccess(const std::string& source, const std::string& destination) {
    EXPECT_EQ(Copy(source, destination), std::make_pair(std::string("0: "), std::string()));
  }

  TempDir dir_;
};

// The tests run as root, which the file system alone lets write anywhere;
// read-only marks must hold all the same. A write failing part-way (`fault`
// after the first chunk) leaves the old file, or none, and no temporary.
TEST_F(CopyFileCheckedTest, RefusedCopiesLeaveTheDestinationAsItWas) {
  const std::size_t chunk = Files_::testing::CopyChunkSize();
  WriteFile(dir_.File("TarnVel.jpg"), "new logo");
  WriteFile(dir_.File("big.mdb"), std::string(3 * chunk + 17, 'n'));
  fs::create_directory(dir_.File("shop"));
  WriteFile(dir_.File("shop/TarnVel.jpg"), "old");
  fs::permissions(dir_.File("shop/TarnVel.jpg"), fs::perms::owner_read | fs::perms::group_read);
  WriteFile(dir_.File("shop/big.mdb"), "old database");
  fs::create_directory(dir_.File("locked"));
  fs::permissions(dir_.File("locked"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const struct {
    const char* name;
    std::string source, destination, error;
    std::optional<std::string> destinationAfter;
    int fault = 0;
  } cases[] = {
      {"MissingSource", dir_.File("x/TarnVel.jpg"), dir_.File("shop/TarnVel.jpg"),
       "53: File not found: '" + dir_.File("x/TarnVel.jpg") + "'.", "old"},
      {"MissingDestinationFolder", dir_.File("TarnVel.jpg"), dir_.File("nowhere/TarnVel.jpg"),
       "76: Path not found: '" + dir_.File("nowhere") + "'.", std::nullopt},
      {"ReadOnlyDestination", dir_.File("TarnVel.jpg"), dir_.File("shop/TarnVel.jpg"),
       "70: Permission denied: '" + dir_.File("shop/TarnVel.jpg") + "' is read-only.", "old"},
      {"ReadOnlyFolder", dir_.File("TarnVel.jpg"), dir_.File("locked/TarnVel.jpg"),
       "70: Permission denied: '" + dir_.File("locked") + "' is read-only.", std::nullopt},
      {"DiskFullMidway", dir_.File("big.mdb"), dir_.File("shop/big.mdb"),
       "61: Disk full: '" + dir_.File("shop/big.mdb") + "' could not be written.", "old database", ENOSPC},
      {"DeviceErrorMidway", dir_.File("big.mdb"), dir_.File("shop/fresh.mdb"),
       "57: Device I/O error: '" + dir_.File("shop/fresh.mdb") + "'.", std::nullopt, EIO},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Files_::testing::SetCopyWriteFault([chunk, fault = c.fault](std::uint64_t n) { return n >= chunk ? fault : 0; });
    ExpectFailure(c.source, c.destination, c.error);
    EXPECT_EQ(fs::exists(c.destination) ? std::optional(ReadFile(c.destination)) : std::nullopt, c.destinationAfter);
  }
  EXPECT_TRUE(Temporaries(dir_.File("shop")).empty() && Temporaries(dir_.File("locked")).empty());
}

TEST_F(CopyFileCheckedTest, OverwriteKeepsModeAndSweepsStaleTemporaries) {
  fs::create_directory(dir_.File("shop"));
  WriteFile(dir_.File("TarnVel.jpg"), "new logo");
  WriteFile(dir_.File("shop/TarnVel.jpg"), "old");
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(dir_.File("shop/TarnVel.jpg"), mode);
  // Left by a copy that was killed, and one belonging to another file.
  WriteFile(dir_.File("shop/.TarnVel.jpg.atv-tmp-0123456789abcdef"), "half");
  WriteFile(dir_.File("shop/.Other.jpg.atv-tmp-0123456789abcdef"), "other");

  ExpectSuccess(dir_.File("TarnVel.jpg"), dir_.File("shop/TarnVel.jpg"));
  EXPECT_EQ(ReadFile(dir_.File("shop/TarnVel.jpg")), "new logo");
  EXPECT_EQ(fs::status(dir_.File("shop/TarnVel.jpg")).permissions(), mode);
  EXPECT_EQ(Temporaries(dir_.File("shop")), std::vector<std::string>{".Other.jpg.atv-tmp-0123456789abcdef"});

  // A link is replaced itself; the file it names, and a journal beside
  // that, are never written.
  fs::create_symlink(dir_.File("shop/TarnVel.jpg"), dir_.File("link.jpg"));
  WriteFile(dir_.File("shop/TarnVel.jpg-journal"), "their journal");
  WriteFile(dir_.File("Other.jpg"), "other logo");
  ExpectSuccess(dir_.File("Other.jpg"), dir_.File("link.jpg"));
  EXPECT_FALSE(fs::is_symlink(dir_.File("link.jpg")));
  EXPECT_EQ(ReadFile(dir_.File("link.jpg")), "other logo");
  EXPECT_EQ(ReadFile(dir_.File("shop/TarnVel.jpg")), "new logo");
  EXPECT_EQ(ReadFile(dir_.File("shop/TarnVel.jpg-journal")), "their journal");

  ExpectSuccess(dir_.File("Other.jpg"), dir_.File("Other.jpg"));  // onto itself
  EXPECT_EQ(ReadFile(dir_.File("Other.jpg")), "other logo");
}

// A file descriptor holding a lock on a byte range of `path`, as another
// program holding the database engine's locks would.
struct HeldLock {
  HeldLock(const std::string& path, off_t start) : fd(::open(path.c_str(), O_RDWR)) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_start = start;
    lock.l_len = 1;
    EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0) << path;
  }
  ~HeldLock() { ::close(fd); }
  int fd;
};

// A database in use is never replaced, nor its journal or WAL removed;
// left-overs nobody holds go with the old file; so do temporaries no live
// copy holds, and only those.
TEST_F(CopyFileCheckedTest, DestinationsInUseAndLeftovers) {
  Files_::testing::SetWaits(std::chrono::milliseconds(200), std::chrono::milliseconds(200));
  WriteFile(dir_.File("new.mdb"), "new");
  const std::string shop = dir_.File("Services.mdb");
  const struct {
    const char* name;
    const char* lockedFile;  // beside the destination, locked as by a user of the database
    off_t lockedByte;
    bool refused;
  } cases[] = {
      {"a reader or writer holds the file", "", 0x40000002, true},
      {"a WAL connection is open", "-shm", 128, true},
      {"nobody holds anything", nullptr, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(shop, "old");
    for (const char* suffix : {"-journal", "-wal", "-shm"}) WriteFile(shop + suffix, "stale");
    WriteFile(dir_.File(".Services.mdb.atv-tmp-live"), "live");
    WriteFile(dir_.File(".Services.mdb.atv-tmp-dead"), "dead");
    HeldLock live(dir_.File(".Services.mdb.atv-tmp-live"), 0);
    std::optional<HeldLock> user;
    if (c.lockedFile) user.emplace(shop + c.lockedFile, c.lockedByte);
    if (c.refused) {
      ExpectFailure(dir_.File("new.mdb"), shop, "70: Permission denied: '" + shop + "' is in use by another program.");
    } else {
      ExpectSuccess(dir_.File("new.mdb"), shop);
    }
    EXPECT_EQ(ReadFile(shop), c.refused ? "old" : "new");
    for (const char* suffix : {"-journal", "-wal", "-shm"}) EXPECT_EQ(fs::exists(shop + suffix), c.refused) << suffix;
    using Names = std::vector<std::string>;
    auto left = Temporaries(dir_.Path());
    std::sort(left.begin(), left.end());
    const Names expected = c.refused ? Names{".Services.mdb.atv-tmp-dead", ".Services.mdb.atv-tmp-live"}
                                     : Names{".Services.mdb.atv-tmp-live"};
    EXPECT_EQ(left, expected);
    fs::remove(dir_.File(".Services.mdb.atv-tmp-dead"));
  }
}

// The working zones database of a program folder an operator may not add
// files to is written over in place; any other copy there is refused.
TEST_F(CopyFileCheckedTest, ScratchInPlaceWhereTheFolderTakesNoNewFile) {
  fs::create_directory(dir_.File("program"));
  WriteFile(dir_.File("Empty.mdb"), "empty zones");
  WriteFile(dir_.File("program/Zones.mdb"), "last run's zones");
  fs::permissions(dir_.File("program"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  std::string description;
  std::int32_t number = 0;
  EXPECT_TRUE(Files_::CopyFileChecked(dir_.File("Empty.mdb"), dir_.File("program/Zones.mdb"), description, number,
                                      false, Files_::CopyMode::ScratchInPlace))
      << description;
  EXPECT_EQ(ReadFile(dir_.File("program/Zones.mdb")), "empty zones");
  ExpectFailure(dir_.File("Empty.mdb"), dir_.File("program/Zones.mdb"),
                "70: Permission denied: '" + dir_.File("program") + "' is read-only.");
}

TEST_F(CopyFileCheckedTest, FullFileSystemLeavesOldDestination) {
  fs::create_directory(dir_.File("small"));
  if (::mount("tmpfs", dir_.File("small").c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  struct Unmount {
    std::string folder;
    ~Unmount() { ::umount(folder.c_str()); }
  } unmount{dir_.File("small")};
  WriteFile(dir_.File("small/Zones.mdb"), "old zones");
  WriteFile(dir_.File("Zones.mdb"), std::string(256 * 1024, 'z'));
  ExpectFailure(dir_.File("Zones.mdb"), dir_.File("small/Zones.mdb"),
                "61: Disk full: '" + dir_.File("small/Zones.mdb") + "' could not be written.");
  EXPECT_EQ(ReadFile(dir_.File("small/Zones.mdb")), "old zones");
  EXPECT_TRUE(Temporaries(dir_.File("small")).empty());
}

// "number: description" of the run-time error `action` raises, or "none".
std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Platform::RunError& e) {
    return std::to_string(e.Number()) + ": " + e.Description();
  }
  return "none";
}

TEST(Files_, InputFileLineEndingsAndFailures) {
  TempDir dir;
  const std::string longLine(100000, 'x'), chart = dir.File("chart.csv");
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a\rb\r", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"a\r\rb", {"a", "", "b"}},
      {"\n\n", {"", ""}},
      {"", {}},
      {longLine + "\r\nend", {longLine, "end"}},
  };
  for (const auto& [content, expected] : cases) {
    SCOPED_TRACE(content.substr(0, 20));
    WriteFile(chart, content);
    Files_::InputFile file;
    file.Open(chart);
    std::vector<std::string> lines;
    while (!file.AtEnd()) lines.push_back(file.ReadLine());
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(ErrorOf([&] { file.ReadLine(); }), "62: Input past end of file: '" + chart + "'.");
    EXPECT_TRUE(Files_::CloseFile(file));
    EXPECT_FALSE(file.IsOpen());
  }
  // Nothing a chart may be makes the reading wait or grow without bound.
  ::mkfifo(dir.File("fifo.csv").c_str(), 0600);
  fs::create_symlink("/dev/zero", dir.File("zero.csv"));
  WriteFile(dir.File("long.csv"), "1," + std::string(Files_::kMostLineBytes, '9') + "\r\n");
  const std::pair<std::string, std::string> failures[] = {
      {dir.File("Data/missing.csv"), "53: File not found: '" + dir.File("Data/missing.csv") + "'."},
      {dir.Path().string(), "75: Path/File access error: '" + dir.Path().string() + "' is a folder."},
      {dir.File("fifo.csv"), "75: Path/File access error: '" + dir.File("fifo.csv") + "' is not an ordinary file."},
      {dir.File("zero.csv"), "75: Path/File access error: '" + dir.File("zero.csv") + "' is not an ordinary file."},
      {dir.File("long.csv"), "75: Path/File access error: '" + dir.File("long.csv") +
                                 "' holds a line longer than 1048576 bytes."},
  };
  for (const auto& [path, error] : failures) {
    Files_::InputFile file;
    EXPECT_EQ(ErrorOf([&] {
                file.Open(path);
                file.ReadLine();
              }),
              error);
    EXPECT_TRUE(Files_::CloseFile(file));
    EXPECT_FALSE(file.IsOpen());
  }
}

// Installations into one folder take turns; the same process may take the
// lock again; a wait ends with an error that names the folder.
TEST(Files_, FolderLockIsExclusiveAmongProcesses) {
  TempDir dir;
  Platform::ScriptedUi ui;
  Platform::UiInstallation installed(ui);
  Files_::testing::SetWaits(std::chrono::milliseconds(300), std::chrono::milliseconds(300));
  {
    Files_::FolderLock first(dir.Path().string());
    Files_::FolderLock again(dir.Path().string());
    const int other = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
  }
  const int holder = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(ErrorOf([&] { Files_::FolderLock waiting(dir.Path().string()); }),
            "70: Permission denied: another installation is working in '" + dir.Path().string() +
                "' and did not finish within a minute; try again when it has.");
  ::close(holder);
  ASSERT_FALSE(ui.Events().empty());
  EXPECT_EQ(ui.Events()[0].text, "Waiting for another installation in '" + dir.Path().string() + "' to finish...");
  Files_::testing::SetWaits(std::chrono::minutes(1), std::chrono::seconds(5));
}

}  // namespace

// A removal keeps the rules of a copy's destination: never a link, never a
// database in use, and leftovers nobody holds go with the file.
TEST_F(CopyFileCheckedTest, RemovalKeepsTheRulesOfACopy) {
  Files_::testing::SetWaits(std::chrono::milliseconds(200), std::chrono::milliseconds(200));
  fs::create_directory(dir_.File("shop"));
  const std::string path = dir_.File("shop/TarnVel_Services.mdb"), outside = dir_.File("outside.mdb");
  const std::string inUse = "70: Permission denied: '" + path + "' is in use by another program.";
  const struct {
    const char* name;
    const char* kind;        // what is at the path: file, readonly, link or none
    const char* lockedFile;  // beside it, locked as by a user of the database
    off_t lockedByte;
    std::string error;       // empty: removed
  } cases[] = {
      {"nobody holds anything", "file", nullptr, 0, ""},
      {"a reader or writer holds the file", "file", "", 0x40000002, inUse},
      {"a WAL connection is open", "file", "-shm", 128, inUse},
      {"a link to a file outside", "link", nullptr, 0, "75: Path/File access error: '" + path + "' is a symbolic link."},
      {"read-only", "readonly", nullptr, 0, "70: Permission denied: '" + path + "' is read-only."},
      {"nothing there", "none", nullptr, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(outside, "outside");
    const std::string kind = c.kind;
    if (kind == "link") fs::create_symlink(outside, path);
    if (kind == "file" || kind == "readonly") WriteFile(path, "database");
    if (kind == "file")
      for (const char* suffix : {"-journal", "-wal", "-shm"}) WriteFile(path + suffix, "stale");
    if (kind == "readonly") fs::permissions(path, fs::perms::owner_read);
    std::optional<HeldLock> user;
    if (c.lockedFile) user.emplace(path + c.lockedFile, c.lockedByte);
    Platform::ScriptedUi ui;
    Platform::UiInstallation installed(ui);
    std::string description = "stale";
    std::int32_t number = -1;
    EXPECT_EQ(Files_::RemoveFileChecked(path, description, number, true), c.error.empty());
    EXPECT_EQ(std::to_string(number) + ": " + description, c.error.empty() ? "0: " : c.error);
    EXPECT_EQ(BoxOf(ui), c.error.empty() ? "" : "Can't Remove a File ...|64|AddTarnVel program has failed to remove the file:\r" + path);
    EXPECT_EQ(fs::exists(fs::symlink_status(path)), !c.error.empty());
    for (const char* suffix : {"-journal", "-wal", "-shm"})
      EXPECT_EQ(fs::exists(path + suffix), kind == "file" && !c.error.empty()) << suffix;
    EXPECT_EQ(ReadFile(outside), "outside");
    user.reset();
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(path + suffix);
  }
}
