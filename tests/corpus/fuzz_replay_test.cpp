// Replays the fuzz targets' seeds and every kept regression input through
// the same checks as the targets, in every build (not only clang's).
#include <gtest/gtest.h>

#include <filesystem>

#include "FuzzChecks.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const std::string& target) {
  std::vector<fs::path> inputs;
  for (const char* kind : {"seeds", "regressions"}) {
    const fs::path folder = fs::path(ATV_FUZZ_DIR) / kind / target;
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') inputs.push_back(entry.path());
  }
  return inputs;
}

std::vector<std::uint8_t> Bytes(const fs::path& path) {
  const std::string text = TestSupport::ReadFile(path.string());
  return {text.begin(), text.end()};
}

TEST(FuzzReplay, TranslateSqlInputs) {
  const auto inputs = Inputs("translate_sql");
  EXPECT_FALSE(inputs.empty());
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.string());
    const auto bytes = Bytes(input);
    FuzzChecks::TranslateSql(bytes.data(), bytes.size());
  }
}

TEST(FuzzReplay, ChartLineInputs) {
  TestSupport::TempDir dir;
  const auto inputs = Inputs("chart_line");
  EXPECT_FALSE(inputs.empty());
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.string());
    const auto bytes = Bytes(input);
    FuzzChecks::ChartLines(dir.File("chart.csv"), bytes.data(), bytes.size());
  }
}

}  // namespace
