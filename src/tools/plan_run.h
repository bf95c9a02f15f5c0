// A dry run of the installer on this machine: the install run's own steps
// (script lookup, verification, file installation) over a MemoryPlatform
// with the real file system behind it, which simulates every change instead
// of making it, through a PlanPlatform that records each. The forecast per
// [Files] line is read off the operations recorded while that line was
// served; the installation serves one line at a time (each through a script
// of its own that holds the same [Options]), so that the recorded
// operations fall apart cleanly by line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/plan_platform.h"

namespace plf::tools {

enum class LineAction {
  Create,           // the target did not exist: written in place
  BackUpThenWrite,  // the target moved to its backup name, then written in place
  Replace,          // written under a temporary name that then replaces the target
  PassMissing,      // passed over: no such entry
  PassReadOnly,     // passed over: the target is read-only
  PassUnopenable,   // passed over: the entry cannot be opened
  Fail,             // the run ends here with an error box
  NotReached,       // after a failure
};

const char* ActionName(LineAction action);

struct LineForecast {
  int scriptLine = 0;  // 1-based; 0 when unknown
  std::string entry;   // ANSI, as the line names it
  std::string target;  // as the installer uses it (in the host's notation)
  LineAction action = LineAction::NotReached;
  std::string backup;     // BackUpThenWrite: where the old file goes; Replace: a backup that exists and is kept
  std::string temporary;  // Replace
  std::int64_t bytes = 0;
  bool stamped = false;
  std::int64_t stampUtc = 0;  // universal file time
  std::vector<std::string> folders;
  std::string failure;    // Fail: the message of the error box
  bool restored = false;  // Fail: the old file went back from its backup
  std::size_t firstOperation = 0;  // [first, end) in Forecast::operations
  std::size_t endOperation = 0;
};

enum class RunOutcome { Installed, VerifyFailed, BadFormat, Error };

struct Forecast {
  std::string package;  // full path
  std::string folder;   // the current folder of the planned run
  bool hasVerify = false;
  RunOutcome outcome = RunOutcome::Installed;
  std::string failedTest;  // VerifyFailed: the path the failing test asked about
  std::string message;     // the message box the run would show (UTF-8); empty: none
  std::string caption;
  int exitCode = 0;
  std::vector<LineForecast> lines;
  std::vector<FileOperation> operations;
};

// Plans the run of `package` with `folder` (empty: the process's own) as the
// current folder. Changes nothing on disk; reads the package and the target
// tree through the platform in force.
Forecast PlanInstall(const std::string& package, const std::string& folder);

}  // namespace plf::tools
