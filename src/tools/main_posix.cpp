// The console program "plf" on POSIX systems.
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "runtime/code_page.h"
#include "runtime/platform.h"
#include "tools/commands.h"

namespace {

// The code page asked for with --code-page, known or not: the command itself
// refuses an unknown one; until then the arguments are read in the default.
int AskedCodePage(int argc, char** argv) {
  int codePage = plf::kDefaultCodePage;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) break;
    const char* value = nullptr;
    if (std::strcmp(arg, "--code-page") == 0 && i + 1 < argc)
      value = argv[i + 1];
    else if (std::strncmp(arg, "--code-page=", 12) == 0)
      value = arg + 12;
    if (value == nullptr) continue;
    char* end = nullptr;
    const long asked = std::strtol(value, &end, 10);
    if (end != value && *end == '\0' && asked > 0 && asked < 65536 && plf::IsKnownCodePage(static_cast<int>(asked)))
      codePage = static_cast<int>(asked);
  }
  return codePage;
}

}  // namespace

// Arguments arrive in UTF-8; the tool, like the installer, keeps paths and
// names in the Windows code page of its packages. An argument that code page
// cannot spell would name another file, so it is refused here.
int main(int argc, char** argv) {
  const int codePage = AskedCodePage(argc, argv);
  plf::SetPosixAnsiCodePage(codePage);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string ansi;
    std::size_t bad = 0;
    if (!plf::FromUtf8(codePage, argv[i], &ansi, &bad) && plf::IsValidUtf8(argv[i])) {
      const std::string text = argv[i];
      std::size_t end = bad + 1;
      while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
      std::cerr << "plf: the argument \"" << text << "\" holds \"" << text.substr(bad, end - bad)
                << "\", which code page " << codePage << " has no character for (see --code-page)\n";
      return plf::tools::kExitUsage;
    }
    // Bytes that are no UTF-8 came from no UTF-8 terminal: taken as they are.
    args.push_back(plf::IsValidUtf8(argv[i]) ? ansi : std::string(argv[i]));
  }
  plf::tools::ToolEnvironment env;
  env.errIsTerminal = isatty(STDERR_FILENO) == 1;
  return plf::tools::RunTool(args, std::cout, std::cerr, env);
}
