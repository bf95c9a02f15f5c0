#include "matrix_tally.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace plf::test {

MatrixTally& Tally() {
  static MatrixTally tally;
  return tally;
}

namespace {

class TallyReport : public ::testing::Environment {
 public:
  void TearDown() override {
    const MatrixTally& t = Tally();
    if (t.faultPoints == 0 && t.crashPoints == 0) return;
    std::printf("[ matrices ] I/O failure: %ld fault points exercised, %ld held the invariant\n", t.faultPoints,
                t.faultHeld);
    // The crash matrix forks, so it runs on POSIX only.
    if (t.crashPoints > 0)
      std::printf("[ matrices ] crash: %ld crash points exercised, %ld held the invariant\n", t.crashPoints,
                  t.crashHeld);
    std::fflush(stdout);
  }
};

// Registered before main runs; GoogleTest owns and deletes it.
[[maybe_unused]] ::testing::Environment* const kReport = ::testing::AddGlobalTestEnvironment(new TallyReport);

}  // namespace

}  // namespace plf::test
