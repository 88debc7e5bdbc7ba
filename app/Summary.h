// What a run tells at its end: one summary line for the transcript (the
// mode, the outcome, whether anything changed, and each item), and on
// standard error why it could not start or failed.
#pragma once

#include <string>
#include <vector>

#include "Options.h"
#include "Runner.h"
#include "ShopState.h"

namespace App::Runner {

struct Summary {
  std::string mode;
  bool dryRun = false;
  int status = kExitFailed;
  bool changed = false;
  std::vector<ShopState::Item> items{};
};

// Orders the items as the shop holds them (the record, the button, the
// files in `shopFiles`' order, then the chart) and tells whether they changed it.
void Settle(Summary& summary, const std::vector<std::string>& shopFiles);

std::string SummaryLine(const Summary& summary, bool json);

// The lines for standard error, without the program's name.
std::vector<std::string> Reasons(const Summary& summary, const Options& options,
                                 const std::vector<std::string>& shopFiles);

}  // namespace App::Runner
