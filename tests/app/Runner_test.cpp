// The unattended runner, run in this process on the cases of runner.json:
// its command line, its exit statuses, both forms of its transcript, the
// add command's own trap, and whole installations on a fresh demo shop.
#include "Runner.h"

#include <gtest/gtest.h>

#include <sstream>

#include "Files_testing.h"
#include "Scenario.h"

namespace {

using Scenario::Results;
using Args = std::vector<std::string>;

const Scenario::Steps kSteps = {
    // cli ARGS...: "exit N", the lines printed, then "stderr TEXT" if any.
    {"cli", [](Scenario::Context&, const Args& a) {
       Args args = a;
       args.insert(args.begin(), "addtarnvel-cli");
       std::ostringstream out, err;
       Results results = {"exit " + std::to_string(App::Runner::Main(args, out, err))};
       std::istringstream lines(out.str());
       for (std::string line; std::getline(lines, line);) results.push_back(line);
       if (!err.str().empty()) results.push_back("stderr " + err.str());
       return results;
     }},
    // waits MS: how long a folder lock and a file in use are waited for.
    {"waits", [](Scenario::Context&, const Args& a) {
       const std::chrono::milliseconds wait(std::stoi(a.at(0)));
       Files_::testing::SetWaits(wait, wait);
       return Results{};
     }},
};

TEST(Runner, Cases) { Scenario::RunFile(ATV_CASES_DIR "/runner.json", kSteps); }

}  // namespace
