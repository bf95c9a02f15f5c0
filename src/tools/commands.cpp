#include "tools/commands.h"

#include <ostream>

#include "text/textutil.h"

namespace plf::tools {

namespace {

constexpr const char kToolHelp[] =
    "Usage: plf COMMAND [OPTIONS] ARGUMENTS...\n"
    "\n"
    "Builds, inspects and tries out installer packages (Install.PLF).\n"
    "\n"
    "Commands:\n"
    "  pack     build a package from an install script and files or folders\n"
    "  list     show the entries of a package\n"
    "  extract  write the entries of a package as files\n"
    "  test     inflate every entry and check its checksum and size\n"
    "  check    find the traps in an install script, against its package\n"
    "  plan     show what the installer would do on this machine, changing nothing\n"
    "  diff     show what changed between two packages: entries and script\n"
    "\n"
    "Every command takes --json for output that programs read. Exit codes:\n"
    "0 done, 1 a failure or findings, 2 a usage error.\n"
    "\n"
    "Names and texts in a package are bytes in a Windows code page, which the\n"
    "installer reads in the code page of the Windows it runs on. Every command\n"
    "takes --code-page N (1250, Central European, the default; or 1252,\n"
    "Western European): pack turns UTF-8 file names and a UTF-8 script into\n"
    "it and refuses what it cannot hold; the others show the package's text\n"
    "decoded from it, as that Windows will show it.\n"
    "\n"
    "Run \"plf help COMMAND\" (or \"plf COMMAND --help\") for the options of a command,\n"
    "\"plf --version\" for the version.\n";

}  // namespace

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const ToolEnvironment& env) {
  // Section names are compared through the installer's fold table.
  BuildCaseTables();
  if (args.empty()) return UsageError(err, "", "no COMMAND given");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "-V" || command == "--version") {
    out << "plf " << PLF_VERSION << "\n";
    return kExitOk;
  }
  if (command == "help" && rest.size() == 1 && rest[0] != "help") return RunTool({rest[0], "--help"}, out, err, env);
  if (command == "-h" || command == "--help" || command == "help") {
    out << kToolHelp;
    return kExitOk;
  }
  if (command.size() > 1 && command[0] == '-') return UsageError(err, "", "unknown option \"" + command + "\"");
  if (command == "pack") return PackCommand(rest, out, err, env);
  if (command == "list") return ListCommand(rest, out, err);
  if (command == "extract") return ExtractCommand(rest, out, err);
  if (command == "test") return TestCommand(rest, out, err);
  if (command == "check") return CheckCommand(rest, out, err);
  if (command == "plan") return PlanCommand(rest, out, err);
  if (command == "diff") return DiffCommand(rest, out, err);
  return UsageError(err, "", "unknown command \"" + command + "\"");
}

}  // namespace plf::tools
