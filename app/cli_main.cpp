// addtarnvel-cli: the unattended runner (see Runner.h and --help).
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "Runner.h"

int main(int argc, char** argv) {
  // A reader that goes away must not end an installation half-way: the
  // write fails instead, and the status says the transcript was lost.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv, argv + argc);
  return App::Runner::Main(args, std::cout, std::cerr);
}
