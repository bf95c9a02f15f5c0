// Every stored fuzz input - the seed corpora and the inputs that once broke
// something - runs through its target in every build, so a fault the
// fuzzers found stays found without a fuzzing compiler.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_targets.h"

namespace plf::fuzz {
namespace {

namespace fs = std::filesystem;

struct Violation {
  std::string what;
};

[[noreturn]] void ThrowViolation(const std::string& what) { throw Violation{what}; }

// This file lies in tests/reliability/ of the source tree; the inputs lie in
// fuzz/ beside tests/.
fs::path FuzzFolder() { return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz"; }

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class FuzzReplay : public ::testing::TestWithParam<const char*> {};

TEST_P(FuzzReplay, StoredInputsKeepEveryInvariant) {
  const std::string target = GetParam();
  const fs::path corpus = FuzzFolder() / "corpus" / target;
  std::error_code ec;
  if (!fs::is_directory(corpus, ec)) {
#ifdef _WIN32
    GTEST_SKIP() << "the source tree is not visible from here: " << corpus.string();
#else
    FAIL() << "no seed corpus at " << corpus.string();
#endif
  }
  Initialize();
  struct HandlerGuard {
    ViolationHandler previous = SetViolationHandler(ThrowViolation);
    ~HandlerGuard() { SetViolationHandler(previous); }
  } guard;
  int replayed = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path folder = FuzzFolder() / kind / target;
    if (!fs::is_directory(folder, ec)) continue;
    for (const auto& item : fs::directory_iterator(folder)) {
      if (!item.is_regular_file() || item.file_size() > (1u << 20)) continue;
      try {
        EXPECT_TRUE(RunTarget(target, ReadAll(item.path())));
      } catch (const Violation& v) {
        ADD_FAILURE() << item.path().string() << ": " << v.what;
      }
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::Values("package", "script", "time_rule", "backup_name"),
                         [](const ::testing::TestParamInfo<const char*>& param) { return std::string(param.param); });

}  // namespace
}  // namespace plf::fuzz
