// Every stored fuzz input - the seed corpora and the inputs that once broke
// something - runs through its target in every build, so a fault the
// fuzzers found stays found without a fuzzing compiler.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_targets.h"

namespace plf::fuzz {
namespace {

namespace fs = std::filesystem;

// A broken invariant ends the input, not the test program.
[[noreturn]] void ThrowViolation(const std::string& what) { throw what; }

class FuzzReplay : public ::testing::TestWithParam<const char*> {};

TEST_P(FuzzReplay, StoredInputsKeepEveryInvariant) {
  const std::string target = GetParam();
  // This file lies in tests/reliability/ of the source tree; the inputs lie
  // in fuzz/ beside tests/.
  const fs::path fuzz = fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz";
  std::error_code ec;
  if (!fs::is_directory(fuzz / "corpus" / target, ec)) {
#ifdef _WIN32
    GTEST_SKIP() << "the source tree is not visible from here: " << fuzz.string();
#else
    FAIL() << "no seed corpus in " << fuzz.string();
#endif
  }
  Initialize();
  const ViolationHandler previous = SetViolationHandler(ThrowViolation);
  int replayed = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    for (const fs::directory_entry& item : fs::directory_iterator(fuzz / kind / target, ec)) {
      std::ifstream in(item.path(), std::ios::binary);
      const std::string input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      try {
        EXPECT_TRUE(RunTarget(target, input));
      } catch (const std::string& what) {
        ADD_FAILURE() << item.path().string() << ": " << what;
      }
      ++replayed;
    }
  }
  SetViolationHandler(previous);
  EXPECT_GT(replayed, 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::Values("package", "script", "time_rule", "backup_name"),
                         [](const ::testing::TestParamInfo<const char*>& param) { return std::string(param.param); });

}  // namespace
}  // namespace plf::fuzz
