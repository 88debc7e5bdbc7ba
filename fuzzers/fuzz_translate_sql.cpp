// libFuzzer target: the engine's dialect rewriter (see FuzzChecks.h).
#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzChecks::TranslateSql(data, size);
  return 0;
}
