// The representative install that the failure and crash matrices run again
// and again: a new file in new nested folders, a replace with backup, a
// replace while the backup already exists, a read-only target, a line whose
// entry is missing and a dated entry with TimeStamp, behind [Verify] lines.
// It lays the state out in a folder and judges what a run left there.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace plf::test {

struct ScenarioTarget {
  std::string label;
  std::string path;
  std::string backup;  // the name the Rename pattern gives it
  std::string temp;    // the "~" name beside it
  std::optional<std::string> oldContent;  // before the run; none: absent
  std::optional<std::string> oldBackup;   // the backup before the run
  std::string newContent;                 // what the package holds
  bool installs = true;                   // false: read-only, stays
  bool dated = false;                     // stamped 6 May 2001 12:00
};

class InstallScenario {
 public:
  explicit InstallScenario(const TempDir& root);

  // Puts the target folder back into its state before any run. The
  // package beside the executable is written once and left alone.
  void Reset() const;

  // The executable's path, beside Install.PLF.
  const std::string& ModulePath() const { return modulePath_; }

  enum class Moment {
    AfterFault,        // a run with one operation failing (or none)
    AfterCrash,        // a run cut off at any point
    Complete,          // a run that completed
    CompleteAfterCut,  // a run that completed after a cut-off one
  };
  // Judges the target folder after a run: one "\n  "-led line per broken
  // rule, empty when all hold. After a fault the run's exit code and boxes
  // count too: exactly one error box with exit code 1, at most a warning
  // with 0, and a run that reports nothing has installed everything.
  // Complete: every installable target new, the read-only one old, the old
  // content under the backup name, the dated file stamped. After a cut the
  // backup of a file that had no old version may hold what the cut left of
  // the new data, and a complete "~" file may be left over.
  std::string Judge(Moment when, int code = 0, const std::vector<ShownBox>& boxes = {}) const;

 private:
  std::string appDir_;
  std::string modulePath_;
  std::vector<ScenarioTarget> targets_;
  std::string missingFolder_;  // made for the line whose entry is missing
};

}  // namespace plf::test
