// libFuzzer target: the chart line reader and SplitCsvLine (see FuzzChecks.h).
#include <unistd.h>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One chart file per process, rewritten for every input.
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/atv_fuzz_chart_" + std::to_string(::getpid()) + ".csv";
  }();
  FuzzChecks::ChartLines(path, data, size);
  return 0;
}
