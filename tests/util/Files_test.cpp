#include "Files_.h"

#include <sys/mount.h>

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
using Platform::UiEvent;
using TestSupport::ReadFile;
using TestSupport::TempDir;
using TestSupport::WriteFile;

// "number: description" of the run-time error `action` raises, or "none".
std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Platform::RunError& e) {
    return std::to_string(e.Number()) + ": " + e.Description();
  }
  return "none";
}

// Names in `folder` that look like copy temporaries.
std::vector<std::string> Temporaries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().find(".atv-tmp-") != std::string::npos)
      names.push_back(entry.path().filename().string());
  return names;
}

std::optional<std::string> ContentOf(const std::string& path) {
  if (!fs::exists(path)) return std::nullopt;
  return ReadFile(path);
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
      {"/srv/Mailvoro/", "", "/srv/Mailvoro"},
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
  struct Case {
    const char* name;
    std::string path;
    bool there;
  } cases[] = {
      {"File", dir.File("TarnVel.jpg"), true},
      {"LinkToFile", dir.File("link.jpg"), true},
      {"DanglingLink", dir.File("dangling.jpg"), false},
      {"Folder", dir.Path().string(), false},
      {"Missing", dir.File("missing.jpg"), false},
      {"Empty", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Platform::ScriptedUi ui;
    Platform::UiInstallation installed(ui);
    EXPECT_EQ(Files_::LocateFile(c.path, false), c.there);
    EXPECT_TRUE(ui.Events().empty());
    EXPECT_EQ(Files_::LocateFile(c.path, true), c.there);
    if (c.there) {
      EXPECT_TRUE(ui.Events().empty());
      continue;
    }
    ASSERT_EQ(ui.Events().size(), 1u);
    EXPECT_EQ(ui.Events()[0].text, "AddTarnVel has failed to locate the '" + c.path + "' file...");
    EXPECT_EQ(ui.Events()[0].title, "AddTarnVel");
    EXPECT_EQ(ui.Events()[0].style, 48);
  }
}

class CopyFileCheckedTest : public ::testing::Test {
 protected:
  void TearDown() override { Files_::testing::SetCopyWriteFault({}); }

  // Copies with report on; checks the outputs and the one box shown.
  void ExpectFailure(const std::string& source, const std::string& destination, std::int32_t number,
                     const std::string& description) {
    Platform::ScriptedUi ui;
    Platform::UiInstallation installed(ui);
    std::string errorDescription = "stale";
    std::int32_t errorNumber = -1;
    EXPECT_FALSE(Files_::CopyFileChecked(source, destination, errorDescription, errorNumber, true));
    EXPECT_EQ(std::to_string(errorNumber) + ": " + errorDescription, std::to_string(number) + ": " + description);
    ASSERT_EQ(ui.Events().size(), 1u);
    EXPECT_EQ(ui.Events()[0].text,
              "AddTarnVel program has failed to copy file from:\r" + source + "\rto\r" + destination);
    EXPECT_EQ(ui.Events()[0].title, "Can't Copy a File ...");
    EXPECT_EQ(ui.Events()[0].style, 64);
  }

  // Copies with report on and expects success without any box.
  void ExpectSuccess(const std::string& source, const std::string& destination) {
    Platform::ScriptedUi ui;
    Platform::UiInstallation installed(ui);
    std::string errorDescription = "stale";
    std::int32_t errorNumber = -1;
    EXPECT_TRUE(Files_::CopyFileChecked(source, destination, errorDescription, errorNumber, true));
    EXPECT_EQ(std::to_string(errorNumber) + ": " + errorDescription, "0: ");
    EXPECT_TRUE(ui.Events().empty());
  }

  TempDir dir_;
};

// The tests run as root, which the file system alone lets write anywhere;
// read-only marks must hold all the same.
TEST_F(CopyFileCheckedTest, RefusedCopiesLeaveTheDestinationAsItWas) {
  WriteFile(dir_.File("TarnVel.jpg"), "new logo");
  struct Case {
    const char* name;
    std::function<void()> setUp;
    std::string source;
    std::string destination;
    std::int32_t number;
    std::string description;
    std::optional<std::string> destinationAfter;
  } cases[] = {
      {"MissingSource", [&] { WriteFile(dir_.File("shop/a.jpg"), "old"); }, dir_.File("x/TarnVel.jpg"),
       dir_.File("shop/a.jpg"), 53, "File not found: '" + dir_.File("x/TarnVel.jpg") + "'.", "old"},
      {"MissingDestinationFolder", [] {}, dir_.File("TarnVel.jpg"), dir_.File("nowhere/TarnVel.jpg"), 76,
       "Path not found: '" + dir_.File("nowhere") + "'.", std::nullopt},
      {"ReadOnlyDestination",
       [&] {
         WriteFile(dir_.File("shop/TarnVel.jpg"), "old");
         fs::permissions(dir_.File("shop/TarnVel.jpg"), fs::perms::owner_read | fs::perms::group_read);
       },
       dir_.File("TarnVel.jpg"), dir_.File("shop/TarnVel.jpg"), 70,
       "Permission denied: '" + dir_.File("shop/TarnVel.jpg") + "' is read-only.", "old"},
      {"ReadOnlyFolder",
       [&] {
         fs::create_directory(dir_.File("locked"));
         fs::permissions(dir_.File("locked"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                         fs::perm_options::remove);
       },
       dir_.File("TarnVel.jpg"), dir_.File("locked/TarnVel.jpg"), 70,
       "Permission denied: '" + dir_.File("locked") + "' is read-only.", std::nullopt},
  };
  fs::create_directory(dir_.File("shop"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.setUp();
    ExpectFailure(c.source, c.destination, c.number, c.description);
    EXPECT_EQ(ContentOf(c.destination), c.destinationAfter);
    if (fs::is_directory(Files_::FolderOfPath(c.destination))) {
      EXPECT_TRUE(Temporaries(Files_::FolderOfPath(c.destination)).empty());
    }
  }
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

  ExpectSuccess(dir_.File("TarnVel.jpg"), dir_.File("shop/New.jpg"));
  EXPECT_EQ(ReadFile(dir_.File("shop/New.jpg")), "new logo");

  // A link stays a link; the file it names gets the data.
  fs::create_symlink(dir_.File("shop/New.jpg"), dir_.File("link.jpg"));
  WriteFile(dir_.File("Other.jpg"), "other logo");
  ExpectSuccess(dir_.File("Other.jpg"), dir_.File("link.jpg"));
  EXPECT_TRUE(fs::is_symlink(dir_.File("link.jpg")));
  EXPECT_EQ(ReadFile(dir_.File("shop/New.jpg")), "other logo");
}

TEST_F(CopyFileCheckedTest, CopyOntoItselfKeepsTheFile) {
  WriteFile(dir_.File("TarnVel.jpg"), "logo");
  ExpectSuccess(dir_.File("TarnVel.jpg"), dir_.File("TarnVel.jpg"));
  EXPECT_EQ(ReadFile(dir_.File("TarnVel.jpg")), "logo");
}

TEST_F(CopyFileCheckedTest, WriteFailingMidwayLeavesOldDestination) {
  const std::size_t chunk = Files_::testing::CopyChunkSize();
  fs::create_directory(dir_.File("shop"));
  WriteFile(dir_.File("big.mdb"), std::string(3 * chunk + 17, 'n'));
  WriteFile(dir_.File("shop/big.mdb"), "old database");
  Files_::testing::SetCopyWriteFault([chunk](std::uint64_t written) { return written >= 2 * chunk ? ENOSPC : 0; });
  ExpectFailure(dir_.File("big.mdb"), dir_.File("shop/big.mdb"), 61,
                "Disk full: '" + dir_.File("shop/big.mdb") + "' could not be written.");
  EXPECT_EQ(ReadFile(dir_.File("shop/big.mdb")), "old database");

  Files_::testing::SetCopyWriteFault([chunk](std::uint64_t written) { return written >= chunk ? EIO : 0; });
  ExpectFailure(dir_.File("big.mdb"), dir_.File("shop/fresh.mdb"), 57,
                "Device I/O error: '" + dir_.File("shop/fresh.mdb") + "'.");
  EXPECT_FALSE(fs::exists(dir_.File("shop/fresh.mdb")));
  EXPECT_TRUE(Temporaries(dir_.File("shop")).empty());
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
  ExpectFailure(dir_.File("Zones.mdb"), dir_.File("small/Zones.mdb"), 61,
                "Disk full: '" + dir_.File("small/Zones.mdb") + "' could not be written.");
  EXPECT_EQ(ReadFile(dir_.File("small/Zones.mdb")), "old zones");
  EXPECT_TRUE(Temporaries(dir_.File("small")).empty());
}

TEST(Files_, InputFileLineEndings) {
  TempDir dir;
  const std::string longLine(100000, 'x');
  struct Case {
    const char* name;
    std::string content;
    std::vector<std::string> lines;
  } cases[] = {
      {"Cr", "a\rb\r", {"a", "b"}},
      {"Lf", "a\nb\n", {"a", "b"}},
      {"CrLf", "a\r\nb\r\n", {"a", "b"}},
      {"Mixed", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"EmptyLinesCr", "a\r\rb", {"a", "", "b"}},
      {"EmptyLinesLf", "\n\n", {"", ""}},
      {"NoFinalTerminator", "10001,10099,3", {"10001,10099,3"}},
      {"EmptyFile", "", {}},
      {"LongLine", longLine + "\r\nend", {longLine, "end"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File("chart.csv"), c.content);
    Files_::InputFile file;
    file.Open(dir.File("chart.csv"));
    std::vector<std::string> lines;
    while (!file.AtEnd()) lines.push_back(file.ReadLine());
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(ErrorOf([&] { file.ReadLine(); }), "62: Input past end of file: '" + dir.File("chart.csv") + "'.");
    EXPECT_TRUE(Files_::CloseFile(file));
    EXPECT_FALSE(file.IsOpen());
  }
}

TEST(Files_, InputFileOpenFailures) {
  TempDir dir;
  Files_::InputFile file;
  EXPECT_EQ(ErrorOf([&] { file.Open(dir.File("Data/missing.csv")); }),
            "53: File not found: '" + dir.File("Data/missing.csv") + "'.");
  EXPECT_EQ(ErrorOf([&] { file.Open(dir.Path().string()); }),
            "75: Path/File access error: '" + dir.Path().string() + "' is a folder.");
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(Files_::CloseFile(file));
}

}  // namespace
