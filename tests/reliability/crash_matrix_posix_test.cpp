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

  std::vector<std::string> operations;  // the log of the uncut run, one line each
  {
    FaultPlatform counting;
    counting.modulePath = scenario.ModulePath();
    ScopedPlatform use(counting);
    ASSERT_EQ(InstallerMain(), 0);
    operations = counting.log;
  }
  const long total = static_cast<long>(operations.size());
  ASSERT_GT(total, 50);

  for (long k = 1; k <= total; ++k) {
    SCOPED_TRACE("cut before operation " + operations[static_cast<std::size_t>(k - 1)]);
    scenario.Reset();
    EXPECT_EQ(RunCutOff(scenario, k), kCutExitCode) << "the child was not cut off";
    EXPECT_EQ(scenario.Judge(InstallScenario::Moment::AfterCrash), "") << "after the cut";
    FaultPlatform again;
    again.modulePath = scenario.ModulePath();
    {
      ScopedPlatform use(again);
      EXPECT_EQ(InstallerMain(), 0) << "the second run";
    }
    EXPECT_EQ(again.boxes.empty() ? std::string() : again.boxes[0].text, "") << "the second run";
    EXPECT_EQ(scenario.Judge(InstallScenario::Moment::CompleteAfterCut), "") << "after the second run";
  }
}

}  // namespace
}  // namespace plf::test
