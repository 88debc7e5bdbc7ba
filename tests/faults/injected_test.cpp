// One installation on a fresh demo shop and one removal from an installed one, killed (SIGKILL) or failed
// (EIO, ENOSPC) at a call of each system call that writes, names or opens a file, one fault per run,
// injected with strace. Whatever the fault, every database stays whole, no part of the service is half made
// or half removed, the carrier's files are there while the shop's record uses them, a failed call that left
// the shop database as it was left every file of the shop so too, a run that says it succeeded did, and the
// rerun completes and leaves nothing behind. ./test tries every Kth call (ATV_FAULT_STRIDE; by default about
// 30 calls a run, 4 under the sanitizers); exhaustive.sh tries every one.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>
#include <sstream>

#include "Shop.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::Installed;
using Parts = std::map<std::string, std::string>;

const std::string kCalls = "write,pwrite64,fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat,openat";
const std::vector<std::string> kFaults = {"signal=KILL", "error=EIO", "error=ENOSPC"};
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSampledPoints = 4;
#else
constexpr int kSampledPoints = 30;
#endif

TestSupport::Run Traced(const TestSupport::Shop& shop, const std::vector<std::string>& options,
                        const std::vector<std::string>& args) {
  // Not --seccomp-bpf: strace 6.1 then injects nothing into a followed process.
  std::vector<std::string> argv = {"strace", "-f", "-qq"};
#if defined(__SANITIZE_ADDRESS__)
  argv.insert(argv.end(), {"-E", "ASAN_OPTIONS=detect_leaks=0:exitcode=86"});  // the leak check needs ptrace
#endif
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back("--");
  for (const auto& arg : TestSupport::Cli(args)) argv.push_back(arg);
  return TestSupport::Wait(
      TestSupport::Start(argv, (shop.Root() / "run.out").string(), (shop.Root() / "run.err").string()));
}

// Each call of kCalls an undisturbed run makes, in turn: {name, n}.
std::vector<std::pair<std::string, int>> Calls(const TestSupport::Shop& shop, const std::vector<std::string>& args) {
  const std::string summary = (shop.Root() / "calls").string();
  std::vector<std::pair<std::string, int>> all;
  if (Traced(shop, {"-c", "-S", "name", "-U", "name,calls", "-o", summary, "-e", "trace=" + kCalls}, args).exitStatus)
    return all;
  std::istringstream table(TestSupport::ReadFile(summary));
  for (std::string line, name; std::getline(table, line);)
    if (int count = 0; std::istringstream(line) >> name >> count && name != "total")
      for (int n = 1; n <= count; ++n) all.emplace_back(name, n);
  return all;
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
  // A temporary folder of the runs' own: other tests' private folders would change the calls a sweep makes.
  fs::create_directory(shop.Root() / "tmp");
  ::setenv("TMPDIR", (shop.Root() / "tmp").c_str(), 1);
  for (const bool removal : {false, true}) {
    SCOPED_TRACE(removal ? "removal" : "installation");
    auto args = shop.Args();
    if (removal) args.insert(args.begin(), "--remove");
    const auto prepare = [&] {
      shop.Reset();
      if (removal) shop.RunCli(shop.Args());
    };
    prepare();
    const Parts before = Installed(shop.Host(), shop.Program());
    ASSERT_EQ(shop.RunCli(args).exitStatus, 0);
    const Parts done = Installed(shop.Host(), shop.Program());
    const auto shopNames = Names(shop.Folder()), programNames = Names(shop.Program());
    prepare();
    const auto all = Calls(shop, args);
    ASSERT_FALSE(all.empty()) << "strace could not count the calls of a run";
    const char* strideText = std::getenv("ATV_FAULT_STRIDE");
    const std::size_t stride =
        std::max(1, strideText ? std::atoi(strideText) : static_cast<int>(all.size()) / kSampledPoints);
    std::vector<std::string> problems;
    for (std::size_t point = stride / 2; point < all.size(); point += stride) {
      const auto& [call, n] = all[point];
      for (const auto& fault : kFaults) {
        prepare();
        const auto run = Traced(
            shop,
            {"-o", "/dev/null", "-e", "trace=" + call, "--inject=" + call + ":" + fault + ":when=" + std::to_string(n)},
            args);
#if defined(__SANITIZE_ADDRESS__)
        if (run.err.find("SanitizerTool: CHECK failed") != std::string::npos)
          continue;  // a fault in the sanitizer's start-up
#endif
        std::string problem;
        for (const std::string name : {"Mailvoro.mdb", "TarnVel_Zones.mdb", "TarnVel_Services.mdb"})
          if (const auto path = (shop.Folder() / name).string();
              fs::exists(path) && TestSupport::Value(path, "PRAGMA integrity_check") != "ok")
            problem += name + " is damaged; ";
        const Parts now = Installed(shop.Host(), shop.Program());
        // A failed call is put right by the run itself; a kill between the renames that place the files cannot be.
        const bool hostAsBefore = now.at("master") == before.at("master") && now.at("buttons") == before.at("buttons");
        for (const auto& [part, value] : now) {
          if (value != before.at(part) && value != done.at(part))
            problem += part + " is half made: \"" + value + "\"; ";
          if (part.find('.') != std::string::npos && value != "same" && !now.at("master").empty())
            problem += part + " is " + value + " while the service's record uses it; ";
          if (fault != kFaults[0] && hostAsBefore && part != "panel rows" && value != before.at(part))
            problem += part + " is \"" + value + "\" though the shop database did not change; ";
        }
        // Exit 4 says only that the transcript could not be written; 127, that the loader could not start it.
        if ((run.exitStatus == 0 || run.Summary().value("outcome", "") == "succeeded") && now != done)
          problem += "said it succeeded but did not finish; ";
        if (fault == kFaults[0] && run.exitStatus != -1) problem += "was not killed; ";
        if (!std::set{-1, 0, 1, 4, 127}.contains(run.exitStatus))
          problem += "exited " + std::to_string(run.exitStatus) + "; ";
        const auto rerun = shop.RunCli(args);
        if (rerun.exitStatus != 0 || Installed(shop.Host(), shop.Program()) != done)
          problem += "the rerun did not finish: " + rerun.Dump();
        if (Names(shop.Folder()) != shopNames || Names(shop.Program()) != programNames)
          problem += "files were left behind; ";
        if (!problem.empty())
          problems.push_back(call + " #" + std::to_string(n) + " " + fault + ": " + problem +
                             "\n    faulted run: " + run.Dump());
      }
    }
    std::cout << (removal ? "removal: " : "installation: ") << all.size() << " calls, every " << stride
              << ". faulted 3 ways, " << problems.size() << " with problems" << std::endl;
    problems.resize(std::min<std::size_t>(problems.size(), 10));
    for (const auto& problem : problems) ADD_FAILURE() << problem;
  }
}

}  // namespace
