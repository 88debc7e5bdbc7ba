// Where the shop and the program folder lie and who else uses them: a host
// database in WAL mode that another program holds open, paths of 4,000
// bytes and a transcript that cannot be written (links in the shop folder
// are rows of links.json).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "FaultSupport.h"

namespace {

namespace fs = std::filesystem;
using FaultSupport::Installed;
using FaultSupport::Shop;
using Parts = std::map<std::string, std::string>;

// Where one run looks, and what must stay as it is.
struct Place {
  std::string host, program, out;
  std::unique_ptr<FaultSupport::Holder> reader;
};

struct PlaceCase {
  std::string name;
  std::function<void(Shop&, Place&)> lay;
  int exitStatus;
  std::function<std::string(const Place&, const FaultSupport::Run&)> check;  // empty text when it holds
};

// A folder under `base` whose path is `length` bytes long.
fs::path Deep(fs::path base, std::size_t length) {
  while (base.string().size() + 1 < length) base /= std::string(std::min<std::size_t>(200, length - base.string().size() - 1), 'd');
  fs::create_directories(base);
  return base;
}

// What a first installation on the demo shop leaves.
const Parts& Done() {
  static const Parts done = [] {
    Shop shop;
    if (!shop.Ready() || shop.RunCli(shop.Args()).exitStatus != 0) return Parts{};
    return Installed(shop.Host(), shop.Program());
  }();
  return done;
}

std::string StaysWal(const Place& place, const FaultSupport::Run&) {
  const auto mode = FaultSupport::Value(place.host, "PRAGMA journal_mode");
  return mode == "wal" ? "" : "the host's journal mode is now " + mode;
}

TEST(Places, LinksSharedHostsAndLongPaths) {
  auto wal = [](Shop&, Place& p) { FaultSupport::Rows(p.host, "PRAGMA journal_mode=WAL"); };
  const std::vector<PlaceCase> cases = {
      {"host in WAL mode", wal, 0, StaysWal},
      {"host in WAL mode, open in another program",
       [&](Shop& s, Place& p) {
         wal(s, p);
         p.reader = std::make_unique<FaultSupport::Holder>(p.host, "SELECT count(*) FROM [Master]");
       },
       0, StaysWal},
      {"shop path of 4,000 bytes",
       [](Shop& s, Place& p) {
         p.host = (Deep(s.Root() / "deep", 4000 - 13) / "Mailvoro.mdb").string();
         fs::rename(s.Host(), p.host);
       },
       0, nullptr},
      {"program folder path of 4,000 bytes",
       [](Shop& s, Place& p) {
         p.program = Deep(s.Root() / "deep", 4000).string();
         fs::remove(p.program);
         fs::rename(s.Program(), p.program);
       },
       0, nullptr},
      {"transcript to a full device", [](Shop&, Place& p) { p.out = "/dev/full"; }, 4,
       [](const Place&, const FaultSupport::Run& run) {
         return std::count(run.err.begin(), run.err.end(), '\n') == 1 && run.err.ends_with("\n") ? "" : "not one line";
       }},
  };
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  ASSERT_FALSE(Done().empty()) << "a plain installation failed";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    shop.Reset();
    Place place{shop.Host(), shop.Program().string(), (shop.Root() / "run.out").string(), nullptr};
    c.lay(shop, place);

    const auto run = FaultSupport::Wait(FaultSupport::Start(FaultSupport::Cli(shop.Args("10001", place.host, place.program)),
                                                            place.out, (shop.Root() / "run.err").string()));
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.Dump();
    // This test reads through SQLite, which takes only shorter paths.
    if (place.host.size() > 500) {
      fs::rename(fs::path(place.host).parent_path(), shop.Root() / "up");
      place.host = (shop.Root() / "up" / "Mailvoro.mdb").string();
    }
    if (place.program.size() > 500) fs::rename(place.program, shop.Root() / "program");
    place.program = shop.Program().string();
    if (c.exitStatus == 0) { EXPECT_EQ(Installed(place.host, place.program), Done()); }
    if (c.check) { EXPECT_EQ(c.check(place, run), ""); }
  }
}

}  // namespace
