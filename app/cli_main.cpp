// addtarnvel-cli: the unattended runner (see Runner.h and --help).
#include <iostream>
#include <string>
#include <vector>

#include "Runner.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  return App::Runner::Main(args, std::cout, std::cerr);
}
