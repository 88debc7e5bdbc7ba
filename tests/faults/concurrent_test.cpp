// Two to four installations at once: from one program folder into two shops,
// from separate program folders into one shop (also while another program
// writes to the shop database), both crossed, and past a user who may only
// read. Every run succeeds, and each shop ends exactly as the same runs one
// after another leave it. ./test runs a few rounds (ATV_ROUNDS); exhaustive.sh 20.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <thread>

#include "Shop.h"

namespace {

namespace fs = std::filesystem;

struct Case {
  const char* name;
  int shops, programs, runs;  // run i installs into shop i % shops from program folder i % programs
  bool writer = false;        // another program writes to the first shop's database meanwhile
  bool crossed = false;       // shop k lies in program folder k + 1
  bool reader = false;        // a user who may only read holds a lock on every folder and file it can open
};
const char* const kZips[] = {"10001", "90210"};
const char* const kCharts[] = {"TarnVel_100.csv", "TarnVel_902.csv"};
#if defined(__SANITIZE_ADDRESS__)
constexpr int kChartRows = 2000, kDefaultRounds = 1;
#else
constexpr int kChartRows = 20000, kDefaultRounds = 2;
#endif

// Adds a row to a table of its own, one transaction at a time, until the file $2 appears; then tells how many.
const char kWriter[] =
    "sqlite3 \"$1\" 'CREATE TABLE [Writer] ([n] INTEGER)' && touch \"$2.started\" || exit 1; n=0; "
    "until [ -e \"$2\" ]; do sqlite3 -cmd '.timeout 60000' \"$1\" 'INSERT INTO [Writer] VALUES (1)' || exit 1; "
    "n=$((n + 1)); done; echo $n >&2";

// Every file of a shop folder: a database as its tables and rows, any other file as its size and hash.
std::map<std::string, std::string> ShopText(const fs::path& folder) {
  auto contents = TestSupport::FolderContents(folder);
  for (auto& [name, text] : contents)
    if (name.ends_with(".mdb")) text = TestSupport::DatabaseText((folder / name).string());
  return contents;
}

// The user nobody, holding an exclusive flock on each of `paths` (as anyone may with a descriptor open for reading).
pid_t LockAsNobody(const std::vector<fs::path>& paths) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    char held = 0;
    if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
      for (const auto& path : paths) held += ::flock(::open(path.c_str(), O_RDONLY), LOCK_EX | LOCK_NB) == 0;
    if (::write(ready[1], &held, 1) == 1) ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char held = 0;
  if (::read(ready[0], &held, 1) != 1 || static_cast<std::size_t>(held) != paths.size())
    ADD_FAILURE() << "the reader could not lock every folder and file";
  ::close(ready[0]);
  return pid;
}

class Concurrent : public testing::TestWithParam<Case> {};

TEST_P(Concurrent, EndsAsOneAfterAnother) {
  const Case& c = GetParam();
  TestSupport::Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  if (c.reader && ::geteuid() != 0) GTEST_SKIP() << "needs root to run a process as nobody";
  if (c.reader) fs::permissions(shop.Root(), fs::perms(0755));
  // Long charts, unlike each other, keep the runs busy long enough to meet.
  for (int k = 0; k < 2; ++k) {
    std::string chart = "Origin,LOZIP,HIZIP,ZONE\r\n";
    for (int i = 0; i < kChartRows; ++i)
      chart += "1," + std::to_string(5 * i + k) + "," + std::to_string(5 * i + k + 4) + "," +
               std::to_string(2 + (i + k) % 7) + "\r\n";
    TestSupport::WriteFile((shop.Program() / "Data" / kCharts[k]).string(), chart);
  }
  std::vector<fs::path> programs = {shop.Program()}, folders;
  for (int p = 1; p < c.programs; ++p)
    fs::copy(shop.Program(), programs.emplace_back(shop.Root() / ("program" + std::to_string(p))),
             fs::copy_options::recursive);
  for (int k = 0; k < c.shops; ++k)
    folders.push_back(c.crossed ? programs[(k + 1) % c.programs] : shop.Root() / ("shop" + std::to_string(k)));
  auto freshShops = [&] {
    for (const auto& folder : folders) {
      if (c.crossed)
        fs::remove(folder / "TarnVel_Zones.mdb");
      else
        fs::remove_all(folder), fs::create_directory(folder);
      fs::copy_file(shop.Host(), folder / "Mailvoro.mdb", fs::copy_options::overwrite_existing);
    }
  };
  auto start = [&](int i) {
    const std::string out = (shop.Root() / ("run" + std::to_string(i))).string();
    return TestSupport::Start(
        TestSupport::Cli(shop.Args(kZips[i % c.shops], (folders[i % c.shops] / "Mailvoro.mdb").string(),
                                   programs[i % c.programs].string())),
        out + ".out", out + ".err");
  };
  freshShops();
  for (int i = 0; i < c.runs; ++i) ASSERT_EQ(TestSupport::Wait(start(i)).exitStatus, 0) << "run " << i << " alone";
  std::vector<std::map<std::string, std::string>> expected;
  for (const auto& folder : folders) expected.push_back(ShopText(folder));

  const char* roundsText = std::getenv("ATV_ROUNDS");
  for (int round = 0, rounds = roundsText ? std::atoi(roundsText) : kDefaultRounds; round < rounds; ++round) {
    freshShops();
    pid_t reader = -1;
    if (c.reader) {
      std::vector<fs::path> paths = {programs[0]};
      paths.insert(paths.end(), folders.begin(), folders.end());
      for (std::size_t i = 0, n = paths.size(); i < n; ++i)
        for (const auto& entry : fs::directory_iterator(paths[i])) paths.push_back(entry.path());
      reader = LockAsNobody(paths);
    }
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
    for (int i = 0; i < c.runs; ++i) children.push_back(start(i));
    std::string problems;
    for (int i = 0; i < c.runs; ++i) {
      const auto run = TestSupport::Wait(children[i]);
      if (run.exitStatus != 0) problems += "run " + std::to_string(i) + " failed: " + run.Dump();
      // A run that waited for the shop's lock said so in the status panel.
      for (const auto& event : run.events)
        if (c.reader && event.value("event", "") == "status" && event.value("text", "").starts_with("Waiting"))
          problems += "run " + std::to_string(i) + " waited for the reader\n";
    }
    if (reader > 0 && ::kill(reader, SIGKILL) == 0) ::waitpid(reader, nullptr, 0);
    if (writer) {
      TestSupport::WriteFile(stop, "");
      const auto wrote = TestSupport::Wait(*writer);
      const std::string rows = TestSupport::Value(host, "Select count(*) From [Writer]");
      if (wrote.exitStatus != 0 || wrote.err != rows + "\n")
        problems += "the other program: " + wrote.err + " committed, " + rows + " rows\n";
      TestSupport::Rows(host, "DROP TABLE [Writer]");
    }
    for (std::size_t k = 0; k < folders.size(); ++k)
      if (ShopText(folders[k]) != expected[k]) problems += "shop " + std::to_string(k) + " differs\n";
    ASSERT_EQ(problems, "") << "round " << round;
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Concurrent, testing::ValuesIn(std::vector<Case>{
    {"one program folder, two shops", 2, 1, 2},
    {"one shop, three program folders", 1, 3, 3},
    {"one shop, three program folders, its database written meanwhile", 1, 3, 3, true},
    {"two shops, each from two program folders", 2, 2, 4},
    {"two shops, each in the other's program folder", 2, 2, 2, false, true},
    {"one program folder, two shops, every folder and file locked by a user who may only read them", 2, 1, 2, false, false, true},
}), TestSupport::RowName);
// clang-format on

}  // namespace
