// Replays the fuzz targets' seeds and every kept regression input through
// the same checks as the targets, in every build (not only clang's).
#include <gtest/gtest.h>

#include "FuzzChecks.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

TEST(FuzzReplay, SeedsAndRegressionsOfEveryTarget) {
  const TestSupport::TempDir dir;
  for (const std::string target : {"translate_sql", "chart_line"}) {
    int inputs = 0;
    for (const char* kind : {"seeds", "regressions"}) {
      std::error_code none;  // a target without regressions
      for (const auto& entry : fs::directory_iterator(fs::path(ATV_FUZZ_DIR) / kind / target, none)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        SCOPED_TRACE(entry.path().string());
        const std::string bytes = TestSupport::ReadFile(entry.path().string());
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        if (target == "chart_line") FuzzChecks::ChartLines(dir.File("chart.csv"), data, bytes.size());
        if (target == "translate_sql") FuzzChecks::TranslateSql(data, bytes.size());
        ++inputs;
      }
    }
    EXPECT_GT(inputs, 0) << target << " has no input";
  }
}

}  // namespace
