// The I/O failure matrix: the representative install, run once to count its
// file-system operations and then once for every k with the k-th operation
// failing the way the operating system fails it.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "driver/entry.h"
#include "install_scenario.h"
#include "support/fault_platform.h"

namespace plf::test {
namespace {

// Run where whole file systems can be flushed (Linux) and where each file
// is flushed while it is open (Windows).
class FaultMatrix : public ::testing::TestWithParam<bool> {};

TEST_P(FaultMatrix, EveryFailingOperationLeavesWholeFilesAndOneMessage) {
  TempDir root;
  InstallScenario scenario(root);
  std::map<std::string, int> kinds;  // which operations the matrix failed
  long total = 0;                    // counted by the first run, which fails none
  for (long k = 0; k == 0 || k <= total; ++k) {
    scenario.Reset();
    FaultPlatform platform;
    platform.modulePath = scenario.ModulePath();
    platform.failAt = k;
    platform.fileSystemFlush = GetParam();
    int code;
    {
      ScopedPlatform use(platform);
      code = InstallerMain();
    }
    if (k == 0) {
      ASSERT_EQ(code, 0);
      ASSERT_TRUE(platform.boxes.empty()) << platform.boxes[0].text;
      ASSERT_EQ(scenario.Judge(InstallScenario::Moment::Complete), "");
      total = platform.count;
      ASSERT_GT(total, 50);  // the scenario really touches the file system
      continue;
    }
    EXPECT_EQ(scenario.Judge(InstallScenario::Moment::AfterFault, code, platform.boxes), "")
        << "fault at operation " << platform.failed << " (exit code " << code << ", box \""
        << (platform.boxes.empty() ? std::string() : platform.boxes[0].text) << "\")";
    EXPECT_TRUE(platform.openHandles.empty()) << "file handles left open after a fault at " << platform.failed;
    const std::string name = platform.failed.substr(platform.failed.find(' ') + 1);
    ++kinds[name.substr(0, name.find(' '))];
  }
  // Every kind of operation the install depends on was failed at least once.
  for (const char* kind : {"open", "create", "read", "write", "seek", "close", "flush", "findfirst", "attributes",
                           "rename", "delete", "mkdir", "settime"})
    EXPECT_GT(kinds[kind], 0) << kind;
  EXPECT_EQ(kinds["syncfs"] > 0, GetParam());
}

INSTANTIATE_TEST_SUITE_P(FlushOf, FaultMatrix, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return std::string(p.param ? "FileSystems" : "EachFile");
                         });

}  // namespace
}  // namespace plf::test
