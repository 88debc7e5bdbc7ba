// The runner's command line, parsed into one value (the help tells what
// each option means). --help and --version are answered here, and a bad
// command line is told with the usage.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace App::Runner {

inline constexpr char kProgramName[] = "addtarnvel-cli";

struct Options {
  std::optional<std::string> zip;
  bool yes = false;
  bool json = false;
  bool dryRun = false;
  bool verify = false;
  bool remove = false;
  std::optional<std::string> programFolder;
  std::string hostDbPath;
};

// `args` (the program's name first) as options; or the exit status of a
// run that ends here, with the help or the version on `out`, or a usage
// error and the usage on `err`.
std::variant<Options, int> ParseOptions(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace App::Runner
