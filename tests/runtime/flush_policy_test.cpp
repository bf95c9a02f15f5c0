#include "runtime/flush_policy.h"

#include <gtest/gtest.h>

namespace plf {
namespace {

TEST(FileSystemFlushIsTrusted, KernelThatReportsErrorsOnALocalFileSystem) {
  constexpr std::uint64_t ext4 = 0xEF53, xfs = 0x58465342, tmpfs = 0x01021994;
  constexpr std::uint64_t fuse = 0x65735546, nfs = 0x6969, cifs = 0xFF534D42, smb2 = 0xFE534D42,
                          overlay = 0x794C7630;
  struct Case {
    const char* release;
    std::uint64_t type;
    bool trusted;
  } cases[] = {
      {"6.1.0-28-amd64", ext4, true},   {"5.8.0", ext4, true},      {"5.10.0-35-amd64", xfs, true},
      {"5.7.19", ext4, false},          {"4.19.0-27-amd64", ext4, false}, {"10.0.0", tmpfs, true},
      {"6.1.0", fuse, false},           {"6.1.0", nfs, false},      {"6.1.0", cifs, false},
      {"6.1.0", smb2, false},           {"6.1.0", overlay, false},  {"", ext4, false},
      {"6", ext4, false},               {"6.", ext4, false},        {"x.y", ext4, false},
      {"-6.1", ext4, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FileSystemFlushIsTrusted(c.release, c.type), c.trusted) << c.release << " " << std::hex << c.type;
}

}  // namespace
}  // namespace plf
