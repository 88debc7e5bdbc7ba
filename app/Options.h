// The runner's command line, parsed into one value. --help and --version
// are answered here, and a bad command line is told with the usage.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace App::Runner {

inline constexpr char kProgramName[] = "addtarnvel-cli";

struct Options {
  std::optional<std::string> zip;            // --zip: the answer to the ZIP code question
  bool yes = false;                          // --yes: OK to the confirmation question
  bool json = false;                         // --json: the transcript as JSON Lines
  bool dryRun = false;                       // --dry-run: on a private copy of the shop
  bool verify = false;                       // --verify
  bool remove = false;                       // --remove
  std::optional<std::string> programFolder;  // --program-folder
  std::string hostDbPath;
};

// `args` (the program's name first) as options; or the exit status of a
// run that ends here, with the help or the version on `out`, or a usage
// error and the usage on `err`.
std::variant<Options, int> ParseOptions(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace App::Runner
