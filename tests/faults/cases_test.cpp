// Broken inputs, leftover journals, unwritable files and folders, links
// where the carrier's files go and host databases in WAL mode, as case
// files: each case lays out a shop, runs the built runner as a separate
// process and checks its boxes and what it left.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "Shop.h"
#include "Scenario.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::map<std::string, std::string> snapshots;  // by path, for "same"
long lastPeakKb = 0;
std::string lastChartRows;
Scenario::Results lastItems;
std::vector<std::unique_ptr<TestSupport::Holder>> holders;

std::map<std::string, std::string> Contents(const std::string& path) {
  if (fs::is_directory(path)) return TestSupport::FolderContents(path);
  return {{"", TestSupport::ReadFile(path)}};
}

std::string Joined(const std::map<std::string, std::string>& contents) {
  std::string text;
  for (const auto& [name, value] : contents) text += name + "=" + value + "\n";
  return text;
}

const Scenario::Steps kSteps = {
    // run [>OUT] ARGS...: the built runner with --json and ARGS (its output to
    // OUT), in bounded time and memory; gives "exit N", each box as
    // "TITLE: TEXT", then each line on standard error as "stderr LINE".
    {"run", [](Scenario::Context& c, const Args& a) {
       const bool redirected = !a.empty() && a[0].starts_with(">");
       Args args{"--json"};
       args.insert(args.end(), a.begin() + (redirected ? 1 : 0), a.end());
       const auto out = redirected ? a[0].substr(1) : (c.dir.Path() / "run.out").string();
       const auto err = (c.dir.Path() / "run.err").string();
       const auto run = TestSupport::Wait(TestSupport::Start(TestSupport::Cli(args), out, err),
                                           {std::chrono::seconds(60), 512});
       lastPeakKb = run.peakKb;
       lastChartRows = run.ChartRows();
       lastItems.clear();
       if (!run.events.empty() && run.events.back().value("event", "") == "summary")
         for (const auto& item : run.events.back()["items"])
           lastItems.push_back(item.value("item", "") + " " + item.value("result", ""));
       Scenario::Results results{"exit " + std::to_string(run.exitStatus)};
       for (const auto& box : run.Boxes()) results.push_back(box);
       std::istringstream lines(run.err);
       for (std::string line; std::getline(lines, line);) results.push_back("stderr " + line);
       return results;
     }},
    // items: each item of the last run's summary as "NAME RESULT".
    {"items", [](Scenario::Context&, const Args&) { return lastItems; }},
    // chart: the rows the last run's summary says its chart import stored.
    {"chart", [](Scenario::Context&, const Args&) { return Scenario::Results{lastChartRows}; }},
    // hold DB SQL: another program's connection that ran SQL, open until the test ends.
    {"hold", [](Scenario::Context& c, const Args& a) {
       const auto& holder = holders.emplace_back(std::make_unique<TestSupport::Holder>(c.Path(a.at(0)), a.at(1)));
       return holder->Error().empty() ? Scenario::Results{} : Scenario::Results{"exception: " + holder->Error()};
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
  if (TestSupport::BuiltProgramFolder().empty()) GTEST_SKIP() << "ATV_PROGRAM_DIR is not set";
  for (const char* file : {"broken.json", "refused.json", "places.json"}) {
    SCOPED_TRACE(file);
    Scenario::RunFile(std::string(ATV_CASES_DIR "/") + file, kSteps);
  }
}

}  // namespace
