// The console program "plf.exe". Arguments arrive in the ANSI code page, as
// the platform layer's paths are; the tool writes UTF-8, so the console is
// switched to UTF-8 for the run and given its own code page back after it.
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  plf::tools::ToolEnvironment env;
  DWORD mode = 0;
  env.errIsTerminal = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  const UINT codePage = GetConsoleOutputCP();
  if (codePage != 0) SetConsoleOutputCP(CP_UTF8);
  const int code = plf::tools::RunTool(args, std::cout, std::cerr, env);
  std::cout.flush();
  std::cerr.flush();
  if (codePage != 0) SetConsoleOutputCP(codePage);
  return code;
}
