// The console program "plf" on POSIX systems.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "runtime/code_page.h"
#include "tools/commands.h"

// Arguments arrive in UTF-8; the tool, like the installer, keeps paths and
// names in the Windows code page of its packages.
int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(plf::FromUtf8Lossy(plf::kDefaultCodePage, argv[i]));
  plf::tools::ToolEnvironment env;
  env.errIsTerminal = isatty(STDERR_FILENO) == 1;
  return plf::tools::RunTool(args, std::cout, std::cerr, env);
}
