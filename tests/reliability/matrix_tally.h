// The counts of the failure and crash matrices, printed once when the test
// program ends so that a run shows how many points were exercised and how
// many held the invariant.
#pragma once

namespace plf::test {

struct MatrixTally {
  long faultPoints = 0;
  long faultHeld = 0;
  long crashPoints = 0;
  long crashHeld = 0;
};

MatrixTally& Tally();

}  // namespace plf::test
