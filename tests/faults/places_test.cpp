// Paths of 4,000 bytes to the shop database and to the program folder: an
// installation there completes as it does anywhere, and a check reads it. (A host database in
// WAL mode, links in the shop folder and a transcript that cannot be
// written are rows of places.json.)
#include <gtest/gtest.h>

#include <algorithm>

#include "FaultSupport.h"

namespace {

namespace fs = std::filesystem;
using FaultSupport::Installed;
using FaultSupport::Shop;

// A folder under `base` whose path is `length` bytes long.
fs::path Deep(fs::path base, std::size_t length) {
  while (base.string().size() + 1 < length) base /= std::string(std::min<std::size_t>(200, length - base.string().size() - 1), 'd');
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
    const auto check = shop.RunCli(verify);
    EXPECT_EQ(check.exitStatus, 0) << "the check reads what the installation wrote\n" << check.Dump();
    // Read back through SQLite, which takes only shorter paths.
    if (deepShop) fs::rename(fs::path(host).parent_path(), shop.Folder());
    if (!deepShop) fs::rename(program, shop.Program());
    EXPECT_EQ(Installed(shop.Host(), shop.Program()), done);
    fs::remove_all(shop.Root() / "deep");
  }
}

}  // namespace
