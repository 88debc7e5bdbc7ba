// Places a table row cannot lay out: paths of 4,000 bytes (an installation completes there and a check
// reads it), a dry run ended by a signal (no private copy is left), a transcript that cannot be written.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <thread>

#include "Shop.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::Installed;
using TestSupport::Shop;

// A folder under `base` whose path is `length` bytes long.
fs::path Deep(fs::path base, std::size_t length) {
  while (base.string().size() + 1 < length)
    base /= std::string(std::min<std::size_t>(200, length - base.string().size() - 1), 'd');
  fs::create_directories(base);
  return base;
}

TEST(Places, LongPaths) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  ASSERT_EQ(shop.RunCli(shop.Args()).exitStatus, 0);
  const auto done = Installed(shop.Host(), shop.Program());
  for (const bool deepShop : {true, false}) {
    SCOPED_TRACE(deepShop ? "shop path of 4,000 bytes" : "program folder path of 4,000 bytes");
    shop.Reset();
    std::string host = shop.Host(), program = shop.Program().string();
    if (deepShop) {
      host = (Deep(shop.Root() / "deep", 4000 - 13) / "Mailvoro.mdb").string();
      fs::rename(shop.Host(), host);
    } else {
      program = Deep(shop.Root() / "deep", 4000).string();
      fs::remove(program);
      fs::rename(shop.Program(), program);
    }
    const auto run = shop.RunCli(shop.Args("10001", host, program));
    EXPECT_EQ(run.exitStatus, 0) << run.Dump();
    auto verify = shop.Args("10001", host, program);
    verify.insert(verify.begin(), "--verify");
    EXPECT_EQ(shop.RunCli(verify).exitStatus, 0) << "the check reads what the installation wrote";
    // Read back through SQLite, which takes only shorter paths.
    fs::rename(deepShop ? fs::path(host).parent_path() : fs::path(program), deepShop ? shop.Folder() : shop.Program());
    EXPECT_EQ(Installed(shop.Host(), shop.Program()), done);
    fs::remove_all(shop.Root() / "deep");
  }
}

// The private folders of runs in `temporary` (named once locked).
std::vector<std::string> PrivateFolders(const fs::path& temporary) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(temporary))
    if (entry.path().filename().string().starts_with("addtarnvel-")) names.push_back(entry.path().filename());
  return names;
}

TEST(Places, AnEndedDryRunLeavesNoPrivateCopy) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  // A chart long enough to be ended part-way.
  std::string chart = "Origin,LOZIP,HIZIP,ZONE\r\n";
  for (int i = 0; i < 200000; ++i) chart += "1," + std::to_string(i) + "," + std::to_string(i) + ",5\r\n";
  TestSupport::WriteFile((shop.Program() / "Data" / "TarnVel_100.csv").string(), chart);
  const fs::path temporary = shop.Root() / "tmp";
  fs::create_directory(temporary);
  ::setenv("TMPDIR", temporary.c_str(), 1);
  auto args = shop.Args();
  args.insert(args.begin(), "--dry-run");
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGKILL}) {
    SCOPED_TRACE(strsignal(signal));
    const auto child = TestSupport::Start(TestSupport::Cli(args), (shop.Root() / "run.out").string(),
                                          (shop.Root() / "run.err").string());
    for (int wait = 0; wait < 2000 && PrivateFolders(temporary).size() < 2; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(PrivateFolders(temporary).size(), 2u) << "the run's working and dry-run folders";
    ::kill(child.pid, signal);
    TestSupport::Wait(child);
    // A run killed outright leaves them to the next run of the same user.
    if (signal == SIGKILL)
      TestSupport::Wait(
          TestSupport::Start(TestSupport::Cli({"--dry-run", "--remove", shop.Host()}), "/dev/null", "/dev/null"));
    EXPECT_EQ(PrivateFolders(temporary), std::vector<std::string>{});
  }
  ::unsetenv("TMPDIR");
}

// The run completes; exit 4 and one line on standard error say its record is lost.
TEST(Places, ATranscriptToAFullDevice) {
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  ASSERT_EQ(shop.RunCli(shop.Args()).exitStatus, 0);
  const auto done = Installed(shop.Host(), shop.Program());
  shop.Reset();
  const auto run =
      TestSupport::Wait(TestSupport::Start(TestSupport::Cli(shop.Args()), "/dev/full", (shop.Root() / "err").string()));
  EXPECT_EQ(run.exitStatus, 4);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(Installed(shop.Host(), shop.Program()), done);
}

}  // namespace
