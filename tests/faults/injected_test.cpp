// One installation on a fresh demo shop, and one removal from an installed
// one, killed (SIGKILL) or failed (EIO, ENOSPC) at a call of each system
// call that writes, names or opens a file, one fault per run, injected with
// strace. Whatever the fault, every database stays whole, no part of the
// service is half made or half removed, the carrier's files are there as
// long as the shop's records use them, a failed call that left the shop
// database as it was left every file of the shop so too, a run that says
// it succeeded did, and the rerun completes. ./test tries every Kth call (ATV_FAULT_STRIDE; by
// default about 30 calls a run, 4 under the sanitizers);
// tests/faults/exhaustive.sh tries every one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <set>
#include <sstream>

#include "Shop.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::Installed;
using Parts = std::map<std::string, std::string>;

const std::vector<std::string> kCalls = {"write",    "pwrite64", "fsync",     "fdatasync", "rename",
                                         "renameat", "renameat2", "unlink",   "unlinkat",  "openat"};
const std::vector<std::string> kFaults = {"signal=KILL", "error=EIO", "error=ENOSPC"};

// About how many points ./test tries, to stay within a few minutes.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSampledPoints = 4;
#else
constexpr int kSampledPoints = 30;
#endif

std::vector<std::string> Traced(const std::vector<std::string>& options, const std::vector<std::string>& args) {
  // Not --seccomp-bpf: strace 6.1 then injects nothing into a followed process.
  std::vector<std::string> argv = {"strace", "-f", "-qq"};
#if defined(__SANITIZE_ADDRESS__)
  // The leak check at exit needs ptrace, which strace holds.
  argv.insert(argv.end(), {"-E", "ASAN_OPTIONS=detect_leaks=0:exitcode=86"});
#endif
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back("--");
  for (const auto& arg : TestSupport::Cli(args)) argv.push_back(arg);
  return argv;
}

// How often an undisturbed run makes each of kCalls.
std::map<std::string, int> CountCalls(const TestSupport::Shop& shop, const std::vector<std::string>& args) {
  std::string calls;
  for (const auto& call : kCalls) calls += (calls.empty() ? "" : ",") + call;
  const std::string summary = (shop.Root() / "calls").string();
  const auto run = TestSupport::Wait(TestSupport::Start(
      Traced({"-c", "-U", "name,calls", "-o", summary, "-e", "trace=" + calls}, args),
      (shop.Root() / "count.out").string(), (shop.Root() / "count.err").string()));
  std::map<std::string, int> counts;
  if (run.exitStatus != 0) return counts;
  std::istringstream table(TestSupport::ReadFile(summary));
  for (std::string line; std::getline(table, line);) {
    std::istringstream row(line);
    std::string name;
    int count = 0;
    if (row >> name >> count && name != "total") counts[name] = count;
  }
  return counts;
}

// The parts of `now` that are neither as `before` nor as `done`: a half
// made installation.
std::string HalfMade(const Parts& before, const Parts& now, const Parts& done) {
  std::string half;
  for (const auto& [part, value] : now)
    if (value != before.at(part) && value != done.at(part)) half += part + " is \"" + value + "\"; ";
  return half;
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

TEST(Injected, EveryFaultLeavesWholeDataAndARerunCompletes) {
  TestSupport::Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
  // A temporary folder of the runs' own: the private folders other tests make
  // at the same time would change how many calls a run's sweep makes.
  const fs::path temporary = shop.Root() / "tmp";
  fs::create_directory(temporary);
  ::setenv("TMPDIR", temporary.c_str(), 1);
  for (const bool removal : {false, true}) {
    SCOPED_TRACE(removal ? "removal" : "installation");
    const auto started = std::chrono::steady_clock::now();
    auto args = shop.Args();
    if (removal) args.insert(args.begin(), "--remove");
    // The shop a run starts from: the demo shop, with the service for a removal.
    const auto prepare = [&] {
      shop.Reset();
      if (removal) shop.RunCli(shop.Args());
    };
    prepare();
    const Parts before = Installed(shop.Host(), shop.Program());
    const auto reference = shop.RunCli(args);
    ASSERT_EQ(reference.exitStatus, 0) << reference.Dump();
    const Parts done = Installed(shop.Host(), shop.Program());
    const auto shopNames = Names(shop.Folder()), programNames = Names(shop.Program());
    prepare();
    const auto counts = CountCalls(shop, args);
    ASSERT_FALSE(counts.empty()) << "strace could not count the calls of a run";
    std::vector<std::pair<std::string, int>> all;  // each call of each traced system call, in turn
    for (const auto& [call, count] : counts)
      for (int n = 1; n <= count; ++n) all.emplace_back(call, n);
    const char* strideText = std::getenv("ATV_FAULT_STRIDE");
    const std::size_t stride = std::max(1, strideText ? std::atoi(strideText) : static_cast<int>(all.size()) / kSampledPoints);

    std::vector<std::string> problems;
    int points = 0;
    for (std::size_t point = stride / 2; point < all.size(); point += stride) {
      const auto& [call, n] = all[point];
      ++points;
      for (const auto& fault : kFaults) {
        const std::string where = call + " #" + std::to_string(n) + " " + fault + ": ";
        prepare();
        const auto run = TestSupport::Wait(TestSupport::Start(
            Traced({"-o", "/dev/null", "-e", "trace=" + call, "--inject=" + call + ":" + fault + ":when=" + std::to_string(n)},
                   args),
            (shop.Root() / "run.out").string(), (shop.Root() / "run.err").string()));
#if defined(__SANITIZE_ADDRESS__)
        // A fault in the sanitizer's own start-up stops it before the program runs.
        if (run.err.find("SanitizerTool: CHECK failed") != std::string::npos) continue;
#endif
        std::string problem;
        for (const std::string name : {"Mailvoro.mdb", "TarnVel_Zones.mdb", "TarnVel_Services.mdb"}) {
          const std::string path = (shop.Folder() / name).string();
          const std::string whole = fs::exists(path) ? TestSupport::Value(path, "PRAGMA integrity_check") : "ok";
          if (whole != "ok") problem += name + " is damaged: " + whole + "; ";
        }
        const Parts now = Installed(shop.Host(), shop.Program());
        problem += HalfMade(before, now, done);
        for (const auto& [part, value] : now)
          if (part.find('.') != std::string::npos && value != "same" && !now.at("master").empty())
            problem += part + " is " + value + " while the service's record uses it; ";
        // Nothing of the shop changes unless its database does. A failed call
        // is put right by the run itself; a kill between the renames that
        // put the files in place cannot be, and the rerun completes it.
        const bool hostAsBefore = now.at("master") == before.at("master") && now.at("buttons") == before.at("buttons");
        if (fault != kFaults[0] && hostAsBefore)
          for (const auto& [part, value] : now)
            if (part != "panel rows" && value != before.at(part))
              problem += part + " is \"" + value + "\" though the shop database did not change; ";
        // Exit 4 says only that the transcript could not be written.
        const bool claimed = run.exitStatus == 0 || run.StartsBox(TestSupport::kDoneBox);
        if (claimed && now != done) problem += "said it succeeded but did not finish; ";
        if (run.exitStatus == 1 && run.StartsBox(TestSupport::kDoneBox)) problem += "showed the success box and exited 1; ";
        if (fault == kFaults[0] && run.exitStatus != -1) problem += "was not killed; ";
        // Killed, done, failed, the transcript lost, or a library the loader could not open.
        if (!std::set{-1, 0, 1, 4, 127}.contains(run.exitStatus)) problem += "exited " + std::to_string(run.exitStatus) + "; ";

        const auto rerun = shop.RunCli(args);
        if (rerun.exitStatus != 0) problem += "the rerun failed: " + rerun.Dump();
        if (Installed(shop.Host(), shop.Program()) != done) problem += "the rerun did not finish; ";
        if (Names(shop.Folder()) != shopNames || Names(shop.Program()) != programNames)
          problem += "files were left behind; ";
        if (!problem.empty()) problems.push_back(where + problem + "\n    faulted run: " + run.Dump());
      }
    }

    std::ostringstream report;
    report << (removal ? "removal" : "installation") << " calls:";
    for (const auto& [call, count] : counts) report << " " << call << " " << count;
    report << "; every " << stride << ". call: " << points << " points, " << points * kFaults.size() << " faulted runs in "
           << std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count()
           << " s; " << problems.size() << " with problems";
    std::cout << report.str() << std::endl;
    std::string first;
    for (std::size_t i = 0; i < problems.size() && i < 10; ++i) first += problems[i] + "\n";
    EXPECT_TRUE(problems.empty()) << report.str() << "\n" << first;
  }
}

}  // namespace
