// The crash matrix: the representative install cut off just before its k-th
// file-system operation, for every k. A child process runs the install and
// ends at once at the cut (no clean-up, no destructors); the parent judges
// what stands on disk, then runs the same package again, which must
// complete the install.
#include <gtest/gtest.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/entry.h"
#include "install_scenario.h"
#include "support/fault_platform.h"

namespace plf::test {
namespace {

constexpr int kCutExitCode = 77;

std::string Join(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += "\n  " + l;
  return s;
}

// Runs the install in a child that ends just before operation `cutAt`.
// Returns the child's exit code, or -1 when it did not exit normally.
int RunCutOff(const InstallScenario& scenario, long cutAt) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    FaultPlatform platform;
    platform.modulePath = scenario.ModulePath();
    platform.beforeOperation = [cutAt](long n, const char*) {
      if (n == cutAt) _exit(kCutExitCode);
    };
    ScopedPlatform use(platform);
    _exit(InstallerMain());
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(CrashMatrix, EveryCutLeavesOldOrNewContentAndASecondRunCompletes) {
  TempDir root;
  InstallScenario scenario(root);

  long total = 0;
  std::vector<std::string> operations;  // the log of the uncut run
  {
    FaultPlatform counting;
    counting.modulePath = scenario.ModulePath();
    ScopedPlatform use(counting);
    ASSERT_EQ(InstallerMain(), 0);
    total = counting.count;
    operations = counting.log;
  }
  ASSERT_GT(total, 50);

  long held = 0;
  for (long k = 1; k <= total; ++k) {
    scenario.Reset();
    const int code = RunCutOff(scenario, k);
    std::vector<std::string> violations;
    if (code != kCutExitCode) violations.push_back("the child was not cut off (exit " + std::to_string(code) + ")");
    for (const std::string& v : scenario.CheckAfterCrash()) violations.push_back("after the cut: " + v);

    FaultPlatform again;
    again.modulePath = scenario.ModulePath();
    int secondCode;
    {
      ScopedPlatform use(again);
      secondCode = InstallerMain();
    }
    if (secondCode != 0 || !again.boxes.empty())
      violations.push_back("the second run ended with exit code " + std::to_string(secondCode) + " and " +
                           std::to_string(again.boxes.size()) + " boxes" +
                           (again.boxes.empty() ? std::string() : ": " + again.boxes[0].text));
    for (const std::string& v : scenario.CheckComplete(false)) violations.push_back("after the second run: " + v);

    if (violations.empty())
      ++held;
    else
      ADD_FAILURE() << "cut before operation " << operations[static_cast<std::size_t>(k - 1)] << ":" << Join(violations);
  }

  EXPECT_EQ(held, total);
}

}  // namespace
}  // namespace plf::test
