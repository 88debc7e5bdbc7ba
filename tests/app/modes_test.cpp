// The runner's modes on demo shops, run after run as modes.txt lists them:
// each run's exit status and summary line, and that a dry run or a check
// leaves every file of the shop and of the program folder as it was (size,
// modification time, bytes), the folders' own times included.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AppInfo.h"
#include "Runner.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string Listing(const fs::path& folder) {
  std::ostringstream out;
  struct stat info {};
  for (const auto& path : {folder, folder / "program", folder / "shop"}) {
    ::lstat(path.c_str(), &info);
    out << path.filename().string() << "/ " << info.st_mtim.tv_sec << "." << info.st_mtim.tv_nsec << "\n";
  }
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_directory() || entry.is_symlink()) continue;
    ::lstat(entry.path().c_str(), &info);
    out << entry.path().lexically_relative(folder).string() << " " << info.st_size << " " << info.st_mtim.tv_sec << "."
        << info.st_mtim.tv_nsec << " " << std::hash<std::string>{}(TestSupport::ReadFile(entry.path().string())) << "\n";
  }
  return out.str();
}

TEST(RunnerModes, RunsOfModesTxt) {
  const char* programDir = std::getenv("ATV_PROGRAM_DIR");
  if (!programDir) GTEST_SKIP() << "ATV_PROGRAM_DIR is not set";
  const fs::path bin = programDir;
  const std::string demoSql = TestSupport::ReadFile(ATV_SOURCE_DIR "/data/demo-shop.sql");
  std::ifstream table(ATV_SOURCE_DIR "/tests/app/modes.txt");
  std::unique_ptr<TestSupport::TempDir> dir;
  fs::path shop, program;
  std::string host;
  int lineNumber = 0;
  for (std::string line; std::getline(table, line);) {
    ++lineNumber;
    SCOPED_TRACE("modes.txt:" + std::to_string(lineNumber) + ": " + line);
    if (line.empty() || line[0] == '#') continue;
    if (line == "fresh") {
      dir = std::make_unique<TestSupport::TempDir>();
      shop = dir->Path() / "shop", program = dir->Path() / "program", host = (shop / "Mailvoro.mdb").string();
      fs::create_directories(shop);
      fs::create_directories(program);
      for (const char* name : {"TarnVel_Zones_Empty.mdb", "TarnVel_Services.mdb", "TarnVel_Zones.mdb",
                               "TarnVelEODManifest.rpt", "TarnVel.jpg", "TarnVel_Generic.lab"})
        fs::copy_file(bin / name, program / name);
      fs::create_directory_symlink(bin / "Data", program / "Data");
      TestSupport::CreateDatabase(host, demoSql);
      continue;
    }
    const auto colon = line.find(": ");
    const std::string verb = line.substr(0, colon), rest = colon == std::string::npos ? "" : line.substr(colon + 2);
    if (verb == "sql") {
      TestSupport::CreateDatabase(host, rest);
    } else if (verb == "write") {
      const auto space = rest.find(' ');
      TestSupport::WriteFile((shop / rest.substr(0, space)).string(), rest.substr(space + 1));
    } else if (verb == "chmod") {
      fs::permissions(shop / rest.substr(4), static_cast<fs::perms>(std::stoi(rest.substr(0, 3), nullptr, 8)));
    } else if (verb == "rows") {
      const auto arrow = rest.find(" => ");
      std::string rows;
      for (const auto& row : TestSupport::QueryRows(host, rest.substr(0, arrow))) rows += (rows.empty() ? "" : " ") + row;
      EXPECT_EQ(rows, rest.substr(arrow + 4));
    } else {
      // ARGUMENTS => EXIT SUMMARY
      const auto arrow = line.find(" => ");
      ASSERT_NE(arrow, std::string::npos);
      std::vector<std::string> args = {"addtarnvel-cli", "--program-folder", program.string()};
      std::istringstream words(line.substr(0, arrow));
      for (std::string word; words >> word;) args.push_back(word);
      args.push_back(host);
      const bool readOnly = line.find("--dry-run") < arrow || line.find("--verify") < arrow;
      const std::string before = Listing(dir->Path());
      std::ostringstream out, err;
      const int status = App::Runner::Main(args, out, err);
      if (readOnly) {
        EXPECT_EQ(Listing(dir->Path()), before) << "a dry run or a check changed a file";
      }
      std::string summary = out.str().substr(out.str().rfind("Summary: ") + 9);
      summary.pop_back();
      for (auto at = summary.find(shop.string()); at != std::string::npos; at = summary.find(shop.string()))
        summary.replace(at, shop.string().size(), "${SHOP}");
      EXPECT_EQ(std::to_string(status) + " " + summary, line.substr(arrow + 4)) << err.str();
    }
  }
  EXPECT_GT(lineNumber, 0) << "modes.txt was not read";
}

}  // namespace
