// Two to four installations at once: from one program folder into two
// shops, from separate program folders into one shop (also while another
// program writes to the shop database), and both crossed. Every run
// succeeds, and each shop ends exactly as the same installations made one
// after another leave it. ./test runs a few rounds (ATV_ROUNDS);
// tests/faults/exhaustive.sh runs 20.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <thread>

#include "Shop.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::Rows;

struct ConcurrentCase {
  const char* name;
  int shops, programs, runs;  // run i installs into shop i % shops from program folder i % programs
  bool writer;                // another program writes to the first shop's database meanwhile
  bool crossed = false;       // shop k lies in program folder k + 1: each run's shop is another's program folder
  bool reader = false;        // a user who may only read holds a lock on every folder and file it can open
};

// Shop k's origin and the chart that the origin's range names.
const char* const kZips[] = {"10001", "90210"};
const char* const kCharts[] = {"TarnVel_100.csv", "TarnVel_902.csv"};
#if defined(__SANITIZE_ADDRESS__)
constexpr int kChartRows = 2000, kDefaultRounds = 1;
#else
constexpr int kChartRows = 20000, kDefaultRounds = 2;
#endif

// Another program: adds a row to a table of its own, one transaction at a
// time, until the file $2 appears; then tells on standard error how many
// rows it committed.
const char kWriter[] =
    "sqlite3 \"$1\" 'CREATE TABLE [Writer] ([n] INTEGER)' && touch \"$2.started\" || exit 1; n=0; "
    "until [ -e \"$2\" ]; do sqlite3 -cmd '.timeout 60000' \"$1\" 'INSERT INTO [Writer] VALUES (1)' || exit 1; "
    "n=$((n + 1)); done; echo $n >&2";

// Every file of a shop folder: a database as its tables and rows, any
// other file as its size and hash.
std::map<std::string, std::string> ShopText(const fs::path& folder) {
  auto contents = TestSupport::FolderContents(folder);
  for (auto& [name, text] : contents)
    if (name.ends_with(".mdb")) text = TestSupport::DatabaseText((folder / name).string());
  return contents;
}

TEST(Concurrent, InstallationsAtOnceEndAsOneAfterAnother) {
  const std::vector<ConcurrentCase> cases = {
      {"one program folder, two shops", 2, 1, 2, false},
      {"one shop, three program folders", 1, 3, 3, false},
      {"one shop, three program folders, its database written meanwhile", 1, 3, 3, true},
      {"two shops, each from two program folders", 2, 2, 4, false},
      {"two shops, each in the other's program folder", 2, 2, 2, false, true},
      {"one program folder, two shops, every folder and file locked by a user who may only read them", 2, 1, 2, false,
       false, true},
  };
  const char* roundsText = std::getenv("ATV_ROUNDS");
  const int rounds = roundsText ? std::atoi(roundsText) : kDefaultRounds;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestSupport::Shop shop;
    if (!shop.Ready()) GTEST_SKIP() << shop.Why();
    // Long charts, unlike each other, keep the runs busy long enough to meet.
    for (int k = 0; k < 2; ++k) {
      std::string chart = "Origin,LOZIP,HIZIP,ZONE\r\n";
      for (int i = 0; i < kChartRows; ++i)
        chart += "1," + std::to_string(5 * i + k) + "," + std::to_string(5 * i + k + 4) + "," + std::to_string(2 + (i + k) % 7) + "\r\n";
      TestSupport::WriteFile((shop.Program() / "Data" / kCharts[k]).string(), chart);
    }
    std::vector<std::string> programs = {shop.Program().string()};
    for (int p = 1; p < c.programs; ++p) {
      programs.push_back((shop.Root() / ("program" + std::to_string(p))).string());
      fs::copy(shop.Program(), programs.back(), fs::copy_options::recursive);
    }
    std::vector<fs::path> folders;
    for (int k = 0; k < c.shops; ++k)
      folders.push_back(c.crossed ? fs::path(programs[(k + 1) % c.programs]) : shop.Root() / ("shop" + std::to_string(k)));
    auto freshShops = [&] {
      for (const auto& folder : folders) {
        if (c.crossed) {
          fs::remove(folder / "TarnVel_Zones.mdb");
        } else {
          fs::remove_all(folder);
          fs::create_directory(folder);
        }
        fs::copy_file(shop.Host(), folder / "Mailvoro.mdb", fs::copy_options::overwrite_existing);
      }
    };
    // The reader: nobody, holding an exclusive flock on each folder and file
    // it can open, as anyone can with a descriptor open for reading (a
    // reader's fcntl lock would hold up the shop's own program too).
    std::optional<pid_t> reader;
    if (c.reader) {
      if (::geteuid() != 0) {
        std::cout << "skipped: " << c.name << " (needs root to run a process as nobody)\n";
        continue;
      }
      fs::permissions(shop.Root(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                       fs::perms::others_read | fs::perms::others_exec);
    }
    auto lockAsNobody = [&] {
      std::vector<fs::path> paths = {programs[0]};
      for (const auto& folder : folders) paths.push_back(folder);
      for (std::size_t i = 0, n = paths.size(); i < n; ++i)
        for (const auto& entry : fs::directory_iterator(paths[i])) paths.push_back(entry.path());
      int ready[2];
      ASSERT_EQ(::pipe(ready), 0);
      const pid_t pid = ::fork();
      if (pid == 0) {
        char held = 0;
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) {
          for (const auto& path : paths) {
            const int fd = ::open(path.c_str(), O_RDONLY);
            if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ++held;
          }
        }
        [[maybe_unused]] const auto wrote = ::write(ready[1], &held, 1);
        ::pause();
        ::_exit(0);
      }
      ::close(ready[1]);
      char held = 0;
      [[maybe_unused]] const auto got = ::read(ready[0], &held, 1);
      ::close(ready[0]);
      reader = pid;
      ASSERT_EQ(static_cast<std::size_t>(held), paths.size()) << "the reader could not lock every folder and file";
    };
    auto args = [&](int i) {
      return TestSupport::Cli(shop.Args(kZips[i % c.shops], (folders[i % c.shops] / "Mailvoro.mdb").string(),
                                         programs[i % c.programs]));
    };
    auto child = [&](int i) {
      const std::string out = (shop.Root() / ("run" + std::to_string(i))).string();
      return TestSupport::Start(args(i), out + ".out", out + ".err");
    };

    freshShops();
    for (int i = 0; i < c.runs; ++i) ASSERT_EQ(TestSupport::Wait(child(i)).exitStatus, 0) << "run " << i << " alone";
    std::vector<std::map<std::string, std::string>> expected;
    for (const auto& folder : folders) expected.push_back(ShopText(folder));

    for (int round = 0; round < rounds; ++round) {
      freshShops();
      if (c.reader) lockAsNobody();
      const std::string host = (folders[0] / "Mailvoro.mdb").string(), stop = (shop.Root() / "stop").string();
      std::optional<TestSupport::Child> writer;
      if (c.writer) {
        fs::remove(stop);
        writer = TestSupport::Start({"sh", "-c", kWriter, "writer", host, stop}, stop + ".out", stop + ".err");
        for (int wait = 0; wait < 2000 && !fs::exists(stop + ".started"); ++wait)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        fs::remove(stop + ".started");
      }
      std::vector<TestSupport::Child> children;
      for (int i = 0; i < c.runs; ++i) children.push_back(child(i));
      std::string problems;
      for (int i = 0; i < c.runs; ++i) {
        const auto run = TestSupport::Wait(children[i]);
        if (run.exitStatus != 0 || !run.StartsBox(TestSupport::kDoneBox))
          problems += "run " + std::to_string(i) + " failed: " + run.Dump();
        for (const auto& event : run.events)
          if (c.reader && event.value("event", "") == "status" &&
              event.value("text", "").starts_with("Waiting for another installation"))
            problems += "run " + std::to_string(i) + " waited for the reader\n";
      }
      if (reader) {
        ::kill(*reader, SIGKILL);
        ::waitpid(*reader, nullptr, 0);
        reader.reset();
      }
      if (writer) {
        TestSupport::WriteFile(stop, "");
        const auto wrote = TestSupport::Wait(*writer);
        const std::string rows = TestSupport::Value(host, "Select count(*) From [Writer]");
        if (wrote.exitStatus != 0 || wrote.err != rows + "\n")
          problems += "the other program: exit " + std::to_string(wrote.exitStatus) + ", " + wrote.err + " committed, " + rows + " rows\n";
        Rows(host, "DROP TABLE [Writer]");
      }
      for (std::size_t k = 0; k < folders.size(); ++k) {
        const auto now = ShopText(folders[k]);
        for (const auto& [name, text] : expected[k])
          if (now.count(name) == 0 || now.at(name) != text) problems += "shop " + std::to_string(k) + ": " + name + " differs\n";
        if (now.size() != expected[k].size()) problems += "shop " + std::to_string(k) + " holds other files\n";
      }
      EXPECT_EQ(problems, "") << "round " << round;
      if (!problems.empty()) break;
    }
  }
}

}  // namespace
