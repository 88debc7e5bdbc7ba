// addtarnvel-cli: the unattended runner (see Runner.h and --help).
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "Runner.h"

namespace {

// Standard output as the runner writes to it: a terminal (not a dumb one,
// which cannot be trusted to rewrite a line), its width and whether its
// locale is UTF-8.
App::Runner::Output StandardOutput() {
  App::Runner::Output output;
  const char* term = std::getenv("TERM");
  output.terminal = ::isatty(STDOUT_FILENO) == 1 && !(term && std::string(term) == "dumb");
  if (!output.terminal) return output;
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) output.columns = size.ws_col;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    output.unicode = std::regex_search(value, std::regex("utf-?8", std::regex::icase));
    break;
  }
  return output;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away must not end an installation half-way: the
  // write fails instead, and the status says the transcript was lost.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv, argv + argc);
  return App::Runner::Main(args, std::cout, std::cerr, StandardOutput());
}
