// Replays the fuzz targets' seeds and every kept regression input through
// the same checks as the targets, in every build (not only clang's).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "FuzzChecks.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

TEST(FuzzReplay, SeedsAndRegressionsOfEveryTarget) {
  TestSupport::TempDir dir;
  using Check = std::function<void(const std::uint8_t*, std::size_t)>;
  const std::pair<const char*, Check> targets[] = {
      {"translate_sql", FuzzChecks::TranslateSql},
      {"chart_line", [&](const std::uint8_t* data, std::size_t size) {
         FuzzChecks::ChartLines(dir.File("chart.csv"), data, size);
       }}};
  for (const auto& [target, check] : targets) {
    int inputs = 0;
    for (const char* kind : {"seeds", "regressions"}) {
      const fs::path folder = fs::path(ATV_FUZZ_DIR) / kind / target;
      if (!fs::is_directory(folder)) continue;
      for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        SCOPED_TRACE(entry.path().string());
        const std::string bytes = TestSupport::ReadFile(entry.path().string());
        check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++inputs;
      }
    }
    EXPECT_GT(inputs, 0) << target << " has no input";
  }
}

}  // namespace
