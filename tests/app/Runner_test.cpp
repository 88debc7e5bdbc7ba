// The unattended runner, run in this process on the cases of runner.json:
// its command line, its exit statuses, both forms of its transcript, whole
// installations on a fresh demo shop, and its modes one after another, a
// dry run or a check leaving every file as it was.
#include "Runner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "Files_testing.h"
#include "Scenario.h"

namespace {

namespace fs = std::filesystem;
using Scenario::Results;
using Args = std::vector<std::string>;

// "exit N", the lines printed, then "stderr TEXT" if any.
Results Cli(Args args) {
  args.insert(args.begin(), "addtarnvel-cli");
  std::ostringstream out, err;
  Results results = {"exit " + std::to_string(App::Runner::Main(args, out, err))};
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) results.push_back(line);
  if (!err.str().empty()) results.push_back("stderr " + err.str());
  return results;
}

// Every file and folder below `folder` with its size, modification time and bytes.
std::string Listing(const fs::path& folder) {
  std::ostringstream out;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat info {};
    ::lstat(entry.path().c_str(), &info);
    out << entry.path().string() << " " << info.st_size << " " << info.st_mtim.tv_sec << "." << info.st_mtim.tv_nsec << " "
        << (entry.is_regular_file() ? std::hash<std::string>{}(TestSupport::ReadFile(entry.path().string())) : 0) << "\n";
  }
  return out.str();
}

const Scenario::Steps kSteps = {
    // cli ARGS...: the runner's results.
    {"cli", [](Scenario::Context&, const Args& a) { return Cli(a); }},
    // unchanged ARGS...: the same, and "a file changed" when the run
    // touched any file or folder of the case's folder.
    {"unchanged", [](Scenario::Context& c, const Args& a) {
       const std::string before = Listing(c.dir.Path());
       Results results = Cli(a);
       if (Listing(c.dir.Path()) != before) results.push_back("a file changed");
       return results;
     }},
    // waits MS: how long a folder lock and a file in use are waited for.
    {"waits", [](Scenario::Context&, const Args& a) {
       const std::chrono::milliseconds wait(std::stoi(a.at(0)));
       Files_::testing::SetWaits(wait, wait);
       return Results{};
     }},
};

TEST(Runner, Cases) { Scenario::RunFile(ATV_CASES_DIR "/runner.json", kSteps); }

}  // namespace
