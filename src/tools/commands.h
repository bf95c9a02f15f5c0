// The commands of the package tool "plf". Each takes its arguments without
// the program and command names, writes its results to `out` and its
// complaints to `err`, and returns the exit code: 0 success, 1 failure or
// findings, 2 a usage error.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/cli.h"

namespace plf::tools {

// plf COMMAND ...: dispatches to a command, or prints the tool's help.
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            const ToolEnvironment& env = ToolEnvironment());

// plf pack [OPTIONS] OUTPUT SCRIPT [NAME=PATH | PATH]...
int PackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const ToolEnvironment& env);
// plf list [--json] PACKAGE
int ListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// plf extract [-C DIR] [--json] PACKAGE [NAME...]
int ExtractCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// plf test [--json] PACKAGE
int TestCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// plf check [--json] PACKAGE | plf check --script SCRIPT [PACKAGE]
int CheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// plf diff [--json] OLD NEW
int DiffCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// plf plan [-C DIR] [--json] PACKAGE
int PlanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace plf::tools
