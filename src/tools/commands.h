// The commands of the package tool "plf". Each takes its arguments without
// the program and command names, writes its results to `out` and its
// complaints to `err`, and returns the exit code: 0 success, 1 failure,
// 2 a usage error.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace plf::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// plf COMMAND ...: dispatches to a command, or prints the tool's help.
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// plf pack [OPTIONS] OUTPUT SCRIPT [NAME=PATH | PATH]...
int PackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// plf list PACKAGE
int ListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace plf::tools
