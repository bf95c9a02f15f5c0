// The console program "plf" on POSIX systems.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  plf::tools::ToolEnvironment env;
  env.errIsTerminal = isatty(STDERR_FILENO) == 1;
  return plf::tools::RunTool(args, std::cout, std::cerr, env);
}
