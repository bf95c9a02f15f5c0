// The libFuzzer entry of one target; which one is chosen when it is built.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  plf::fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PLF_FUZZ_ENTRY(data, size);
  return 0;
}
