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

struct Outcome {
  int code = -1;
  long operations = 0;
  std::string failed;
  std::vector<ShownBox> boxes;
  std::size_t leakedHandles = 0;
};

Outcome RunWithFault(const InstallScenario& scenario, long failAt, bool fileSystemFlush) {
  FaultPlatform platform;
  platform.modulePath = scenario.ModulePath();
  platform.failAt = failAt;
  platform.fileSystemFlush = fileSystemFlush;
  Outcome out;
  {
    ScopedPlatform use(platform);
    out.code = InstallerMain();
  }
  out.operations = platform.count;
  out.failed = platform.failed;
  out.boxes = platform.boxes;
  out.leakedHandles = platform.openHandles.size();
  return out;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += "\n  " + l;
  return s;
}

// Run where whole file systems can be flushed (Linux) and where each file
// is flushed while it is open (Windows).
class FaultMatrix : public ::testing::TestWithParam<bool> {};

TEST_P(FaultMatrix, EveryFailingOperationLeavesWholeFilesAndOneMessage) {
  const bool fileSystemFlush = GetParam();
  TempDir root;
  InstallScenario scenario(root);

  const Outcome counting = RunWithFault(scenario, 0, fileSystemFlush);
  ASSERT_EQ(counting.code, 0);
  ASSERT_TRUE(counting.boxes.empty()) << counting.boxes[0].text;
  ASSERT_EQ(Join(scenario.CheckComplete(true)), "");
  const long total = counting.operations;
  ASSERT_GT(total, 50);  // the scenario really touches the file system

  long held = 0;
  std::map<std::string, int> kinds;  // which operations the matrix failed
  for (long k = 1; k <= total; ++k) {
    scenario.Reset();
    const Outcome run = RunWithFault(scenario, k, fileSystemFlush);
    std::vector<std::string> violations = scenario.CheckAfterFault(run.code, run.boxes);
    // A run that reports nothing must have installed everything: a fault
    // that is swallowed may cost a backup or a date, never a file.
    if (run.code == 0 && run.boxes.empty()) {
      for (const ScenarioTarget& t : scenario.Targets())
        if (t.installs && ReadFileBytes(t.path) != t.newContent)
          violations.push_back(t.label + ": not installed, and nothing was reported");
    }
    if (run.leakedHandles != 0) violations.push_back(std::to_string(run.leakedHandles) + " file handles left open");
    const std::string name = run.failed.substr(run.failed.find(' ') + 1);
    ++kinds[name.substr(0, name.find(' '))];
    if (violations.empty()) {
      ++held;
    } else {
      ADD_FAILURE() << "fault at operation " << run.failed << " (exit code " << run.code << ", box \""
                    << (run.boxes.empty() ? std::string() : run.boxes[0].text) << "\"):" << Join(violations);
    }
  }
  // Every kind of operation the install depends on was failed at least once.
  for (const char* kind : {"open", "create", "read", "write", "seek", "close", "flush", "findfirst", "attributes",
                           "rename", "delete", "mkdir", "settime"})
    EXPECT_GT(kinds[kind], 0) << kind;
  EXPECT_EQ(kinds["syncfs"] > 0, fileSystemFlush);

  EXPECT_EQ(held, total);
}

INSTANTIATE_TEST_SUITE_P(FlushOf, FaultMatrix, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return std::string(p.param ? "FileSystems" : "EachFile");
                         });

}  // namespace
}  // namespace plf::test
