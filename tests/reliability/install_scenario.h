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
  const std::vector<ScenarioTarget>& Targets() const { return targets_; }

  // What the I/O failure matrix allows after a run that ended with `code`
  // and showed `boxes` (one fault injected at most): one line per
  // violation, empty when the invariant holds.
  std::vector<std::string> CheckAfterFault(int code, const std::vector<ShownBox>& boxes) const;
  // What the crash matrix allows after a run cut off at any point.
  std::vector<std::string> CheckAfterCrash() const;
  // What a run that completed must leave: every installable target new,
  // the read-only one old, the old content under the backup name, the
  // dated file stamped. Without `strictBackups` (a run after a cut-off
  // one) the backup of a file that had no old version may hold what the
  // cut left of the new data, and a complete "~" file may be left over.
  std::vector<std::string> CheckComplete(bool strictBackups) const;

  // Files under the target folder that no target accounts for.
  std::vector<std::string> StrayFiles() const;

 private:
  std::string appDir_;
  std::string modulePath_;
  std::vector<ScenarioTarget> targets_;
  std::string missingFolder_;  // made for the line whose entry is missing
};

}  // namespace plf::test
