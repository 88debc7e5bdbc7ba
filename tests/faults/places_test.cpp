// Where the shop and the program folder lie and who else uses them: each
// carrier file name in the shop folder a link to another file, a host
// database in WAL mode that another program holds open, paths of 4,000
// bytes, a transcript that cannot be written, and the package's layout run
// by an operator who is not root. Links are replaced, never written
// through.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
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
  std::vector<std::string> kept;  // files whose bytes must not change
  std::unique_ptr<FaultSupport::Holder> reader;
};

struct PlaceCase {
  std::string name;
  std::function<void(Shop&, Place&)> lay;
  int exitStatus;
  std::function<std::string(const Place&, const FaultSupport::Run&)> check;  // empty text when it holds
};

std::string Bytes(const std::string& path) {
  return fs::exists(fs::symlink_status(path)) ? TestSupport::ReadFile(path) : "(missing)";
}

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
  std::vector<PlaceCase> cases = {
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
  for (const auto& name : FaultSupport::kCopiedFiles) {
    cases.push_back({name + " a link to a file elsewhere", [name](Shop& s, Place& p) {
                       const fs::path target = s.Root() / "elsewhere" / name;
                       fs::create_directories(target.parent_path());
                       TestSupport::WriteFile(target.string(), "a file of another program");
                       TestSupport::WriteFile(target.string() + "-journal", "its journal");
                       fs::create_symlink(target, s.Folder() / name);
                       p.kept = {target.string(), target.string() + "-journal"};
                     }, 0, nullptr});
    cases.push_back({name + " a link to the shop database",
                     [name](Shop& s, Place&) { fs::create_symlink(s.Host(), s.Folder() / name); }, 0, nullptr});
  }
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  ASSERT_FALSE(Done().empty()) << "a plain installation failed";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    shop.Reset();
    Place place{shop.Host(), shop.Program().string(), (shop.Root() / "run.out").string(), {}, nullptr};
    c.lay(shop, place);
    std::map<std::string, std::string> kept;
    for (const auto& path : place.kept) kept[path] = Bytes(path);

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
    for (const auto& [path, bytes] : kept) EXPECT_EQ(Bytes(path), bytes) << path << " was written through a link";
    if (c.check) { EXPECT_EQ(c.check(place, run), ""); }
  }
}

// The package's program folder is root's and read-only to others; only the
// working zones database in it is a plain file the group may write. A
// member of the group can neither put a link in its place nor stop an
// operator's installation, which rewrites it where it lies.
TEST(Places, PackageLayoutRunByAGroupMember) {
  if (::geteuid() != 0) GTEST_SKIP() << "lays out root's folders and runs as other users: needs root";
  if (std::system("setpriv --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv is not installed";
  Shop shop;
  if (!shop.Ready()) GTEST_SKIP() << shop.Why();
  constexpr int kGroup = 4242, kOperator = 4243, kOtherMember = 4244;
  const fs::path program = shop.Program(), cli = program / "addtarnvel-cli";
  fs::copy_file(FaultSupport::BuiltProgramFolder() / "addtarnvel-cli", cli);
  fs::permissions(shop.Root(), fs::perms(0755));
  ASSERT_EQ(::chown(shop.Zones().c_str(), 0, kGroup), 0);
  fs::permissions(shop.Zones(), fs::perms(0664));
  for (const auto& entry : fs::recursive_directory_iterator(shop.Folder()))
    ASSERT_EQ(::chown(entry.path().c_str(), kOperator, kOperator), 0);
  ASSERT_EQ(::chown(shop.Folder().c_str(), kOperator, kOperator), 0);
  auto as = [&](int user, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"setpriv", "--reuid=" + std::to_string(user), "--regid=" + std::to_string(user),
                               "--groups=" + std::to_string(kGroup), "--"});
    return FaultSupport::Wait(FaultSupport::Start(argv, (shop.Root() / "run.out").string(), (shop.Root() / "run.err").string()));
  };
  struct stat before {};
  ASSERT_EQ(::stat(shop.Zones().c_str(), &before), 0);

  const auto planted = as(kOtherMember, {"ln", "-sf", "/etc/hostname", shop.Zones()});
  EXPECT_NE(planted.exitStatus, 0) << "a group member replaced the working zones database with a link";
  const auto run = as(kOperator, {cli.string(), "--json", "--yes", "--zip", "10001", shop.Host()});
  EXPECT_EQ(run.exitStatus, 0) << run.Dump();
  EXPECT_EQ(Installed(shop.Host(), program), Done());
  struct stat after {};
  ASSERT_EQ(::lstat(shop.Zones().c_str(), &after), 0);
  EXPECT_TRUE(S_ISREG(after.st_mode));
  EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten where it lies";
  EXPECT_EQ(after.st_uid, 0u);
  EXPECT_EQ(after.st_gid, static_cast<gid_t>(kGroup));
  EXPECT_EQ(after.st_mode & 07777, 0664u);
}

}  // namespace
