// The runner killed with SIGKILL at random moments of an installation on a
// fresh demo shop: what it left must be whole, and a rerun must finish the
// installation and sweep away what the killed run left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "FaultSupport.h"

namespace {

namespace fs = std::filesystem;
using FaultSupport::Rows;

constexpr int kKills = 32;
const char* const kCopied[] = {"TarnVel_Zones.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt", "TarnVel.jpg",
                               "TarnVel_Generic.lab"};
const char kNewService[] = "Select * From [Master] Where [Service] = 'TARNVEL-GND'";
const char kNewButton[] = "Select * From [Panel] Where [SV1] = 'TARNVEL-GND'";
const char kPanelRows[] = "Select count(*) From [Panel]";

// Files a copy or the engine leaves only while it runs, each followed by a space.
std::string Leftovers(const fs::path& folder) {
  std::string found;
  for (const auto& [name, bytes] : FaultSupport::FolderContents(folder))
    if (name.starts_with(".") || name.ends_with("-journal")) found += name + " ";
  return found;
}

// Size and hash of a file's bytes.
std::string Bytes(const fs::path& path) { return FaultSupport::FolderContents(path.parent_path())[path.filename().string()]; }

TEST(Killed, AtRandomMomentsLeavesWholeStateAndARerunFinishes) {
  FaultSupport::Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();

  // Temporaries that killed copies left, under the names a copy gives them.
  for (const char* name : kCopied)
    TestSupport::WriteFile((shop.Folder() / ("." + std::string(name) + ".atv-tmp-00000000deadbeef")).string(), "half");
  TestSupport::WriteFile((shop.Program() / ".TarnVel_Zones.mdb.atv-tmp-00000000deadbeef").string(), "half");

  // An undisturbed run: what a finished installation looks like, and how
  // long it takes. It sweeps the temporaries away.
  const auto started = std::chrono::steady_clock::now();
  const auto reference = shop.RunCli(shop.Args());
  const auto runTime = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(reference.exitStatus, 0) << reference.Dump();
  EXPECT_EQ(Leftovers(shop.Folder()) + Leftovers(shop.Program()), "");
  const auto service = Rows(shop.Host(), kNewService), button = Rows(shop.Host(), kNewButton);
  ASSERT_EQ(service.size(), 1u);
  ASSERT_EQ(button.size(), 1u);
  const auto zoneRows = shop.ZoneRows();

  const auto seed = std::random_device{}();
  std::mt19937 random(seed);
  const auto runMicros = std::chrono::duration_cast<std::chrono::microseconds>(runTime).count();
  // Kills are spread over the first three quarters of a run, and rounds go on
  // until enough of them landed before the run ended: a loaded machine can
  // make a run faster or slower than the reference.
  std::uniform_int_distribution<long> moment(0, runMicros * 3 / 4);
  int killedBeforeTheEnd = 0;
  for (int round = 0; killedBeforeTheEnd < kKills && round < 4 * kKills; ++round) {
    shop.Reset();
    const int panelRows = std::stoi(Rows(shop.Host(), kPanelRows).at(0));
    const long delay = moment(random);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round) + ", killed after " +
                 std::to_string(delay) + " us of " + std::to_string(runMicros));

    const pid_t pid = shop.Start(shop.Args(), (shop.Root() / "killed.out").string());
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) continue;
    if (WIFSIGNALED(status)) ++killedBeforeTheEnd;

    // What the kill left: a sound database holding the new records whole
    // or not at all, and each copied file whole or not there.
    EXPECT_EQ(FaultSupport::IntegrityCheck(shop.Host()), "ok");
    const auto serviceNow = Rows(shop.Host(), kNewService);
    EXPECT_TRUE(serviceNow.empty() || serviceNow == service) << serviceNow.at(0);
    const auto buttonNow = Rows(shop.Host(), kNewButton);
    EXPECT_TRUE(buttonNow.empty() || buttonNow == button) << buttonNow.at(0);
    EXPECT_LE(std::stoi(Rows(shop.Host(), kPanelRows).at(0)), panelRows + 1);
    for (const char* name : kCopied) {
      if (fs::exists(shop.Folder() / name)) { EXPECT_EQ(Bytes(shop.Folder() / name), Bytes(shop.Program() / name)) << name; }
    }

    // A rerun finishes the installation.
    const auto rerun = shop.RunCli(shop.Args());
    ASSERT_EQ(rerun.exitStatus, 0) << rerun.Dump();
    EXPECT_EQ(rerun.err, "");
    EXPECT_EQ(Rows(shop.Host(), kNewService), service);
    EXPECT_EQ(Rows(shop.Host(), kNewButton), button);
    EXPECT_EQ(std::stoi(Rows(shop.Host(), kPanelRows).at(0)), panelRows + 1);
    EXPECT_EQ(shop.ZoneRows(), zoneRows) << "the working zones database must hold the chart once";
    for (const char* name : kCopied) EXPECT_EQ(Bytes(shop.Folder() / name), Bytes(shop.Program() / name)) << name;
    EXPECT_EQ(Leftovers(shop.Folder()) + Leftovers(shop.Program()), "");
    if (HasFailure()) break;
  }
  if (!HasFailure()) { EXPECT_GE(killedBeforeTheEnd, kKills) << "the kills came too late to test anything"; }
}

}  // namespace
