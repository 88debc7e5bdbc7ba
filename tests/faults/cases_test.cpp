// Broken inputs, unwritable files and folders, and links where the carrier's
// files go, as case files: each case lays out a shop, runs the built runner
// as a separate process and checks its boxes and what it left.
#include <gtest/gtest.h>

#include <fstream>

#include "FaultSupport.h"
#include "Scenario.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::map<std::string, std::string> snapshots;  // by path, for "same"
long lastPeakKb = 0;

std::map<std::string, std::string> Contents(const std::string& path) {
  if (fs::is_directory(path)) return FaultSupport::FolderContents(path);
  return {{"", TestSupport::ReadFile(path)}};
}

std::string Joined(const std::map<std::string, std::string>& contents) {
  std::string text;
  for (const auto& [name, value] : contents) text += name + "=" + value + "\n";
  return text;
}

const Scenario::Steps kSteps = {
    // run ARGS...: the built runner with --json and ARGS, in bounded time and
    // memory; gives "exit N", each box as "TITLE: TEXT", then "stderr TEXT" if any.
    {"run", [](Scenario::Context& c, const Args& a) {
       Args args{"--json"};
       args.insert(args.end(), a.begin(), a.end());
       const auto out = (c.dir.Path() / "run.out").string();
       const auto run = FaultSupport::Wait(FaultSupport::Start(FaultSupport::Cli(args), out, out + ".err"),
                                           {std::chrono::seconds(60), 512});
       lastPeakKb = run.peakKb;
       Scenario::Results results{"exit " + std::to_string(run.exitStatus)};
       for (const auto& box : run.Boxes()) results.push_back(box);
       if (!run.err.empty()) results.push_back("stderr " + run.err);
       return results;
     }},
    // peak: "small" when the last run held less than 64 MiB at once.
    {"peak", [](Scenario::Context&, const Args&) {
#if defined(__SANITIZE_ADDRESS__)
       return Scenario::Results{"small"};
#else
       return Scenario::Results{lastPeakKb < 64 * 1024 ? "small" : std::to_string(lastPeakKb) + " KiB"};
#endif
     }},
    // snap P, then same P: the names in file or folder P whose bytes (or
    // database rows) changed, "same" when none did.
    {"snap", [](Scenario::Context& c, const Args& a) {
       snapshots[c.Path(a.at(0))] = Joined(Contents(c.Path(a.at(0))));
       return Scenario::Results{};
     }},
    {"same", [](Scenario::Context& c, const Args& a) {
       const std::string now = Joined(Contents(c.Path(a.at(0))));
       return Scenario::Results{now == snapshots.at(c.Path(a.at(0))) ? "same" : "changed:\n" + now};
     }},
    // truncate P SIZE: keeps the first SIZE bytes of P; remove P: removes P and all it holds.
    {"truncate", [](Scenario::Context& c, const Args& a) {
       fs::resize_file(c.Path(a.at(0)), std::stoul(a.at(1)));
       return Scenario::Results{};
     }},
    {"remove", [](Scenario::Context& c, const Args& a) {
       fs::remove_all(c.Path(a.at(0)));
       return Scenario::Results{};
     }},
    // longline P HEAD MIB TAIL: HEAD, MIB MiB of "x", then TAIL, written a MiB at a time.
    {"longline", [](Scenario::Context& c, const Args& a) {
       std::ofstream file(c.Path(a.at(0)), std::ios::binary);
       file << a.at(1);
       for (int mib = std::stoi(a.at(2)); mib > 0; --mib) file << std::string(1 << 20, 'x');
       file << a.at(3);
       return Scenario::Results{};
     }},
    // cmp A B: "same" when the two files hold the same bytes.
    {"cmp", [](Scenario::Context& c, const Args& a) {
       return Scenario::Results{TestSupport::ReadFile(c.Path(a.at(0))) == TestSupport::ReadFile(c.Path(a.at(1))) ? "same" : "differs"};
     }},
};

TEST(Faults, Cases) {
  if (FaultSupport::BuiltProgramFolder().empty()) GTEST_SKIP() << "ATV_PROGRAM_DIR is not set";
  for (const char* file : {"broken.json", "refused.json", "links.json"}) {
    SCOPED_TRACE(file);
    Scenario::RunFile(std::string(ATV_CASES_DIR "/") + file, kSteps);
  }
}

}  // namespace
