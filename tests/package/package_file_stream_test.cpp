// The package file keeps its position and size itself and positions the
// file only for a read that needs it: the same bytes as a plain file stream,
// without the system calls that the entry windows would otherwise cost.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "support/fault_platform.h"
#include "support/package_bytes.h"

namespace plf::test {
namespace {

// Fails the next positioning or reading call when asked.
struct FileCalls : FaultPlatform {
  FileCalls() {
    failWhen = [this](const std::string& name, const std::string&) {
      if (name == "seek") return std::exchange(failNextSeek, false);
      return name == "read" && std::exchange(failNextRead, false);
    };
  }
  bool failNextSeek = false;
  bool failNextRead = false;
};

std::string ReadSome(TStream& s, std::int32_t count) {
  std::string out(static_cast<std::size_t>(count), '\0');
  const std::int32_t n = s.Read(&out[0], count);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

TEST(PackageFileStream, SeeksAndReadsLikeTheFile) {
  TempDir dir;
  const std::string bytes = PatternBytes(100, 3);
  WriteFileBytes(dir / "f", bytes);
  TPackageFileStream s(dir / "f");
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  struct Case {
    std::int32_t offset;
    std::uint16_t origin;
    std::int32_t result;    // what Seek returns
    std::int32_t position;  // where the next read starts
  } cases[] = {
      {10, 0, 10, 10},   {5, 1, 15, 15},    {0, 2, 100, 100}, {-1, 2, 99, 99}, {-1, 0, -1, 99},
      {-200, 1, -1, 99}, {10, 2, 110, 110}, {3, 3, -1, 110},  {0, 0, 0, 0},    {kMax, 1, kMax, kMax},
      {1, 1, -1, kMax},  {42, 0, 42, 42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + " from " + std::to_string(c.origin));
    EXPECT_EQ(s.Seek(c.offset, c.origin), c.result);
    EXPECT_EQ(s.Position(), c.position);
    const std::string expected = c.position < 100 ? bytes.substr(static_cast<std::size_t>(c.position), 7) : "";
    EXPECT_EQ(ReadSome(s, 7), expected);
    s.Seek(c.position, 0);  // the read moved on; the next case starts here
  }
  EXPECT_EQ(s.Size(), 100);
  EXPECT_EQ(s.Write("x", 1), 0);  // opened for reading
  EXPECT_EQ(ReadFileBytes(dir / "f"), bytes);
}

TEST(PackageFileStream, AFailedCallGivesNothingAndTheNextReadRecovers) {
  TempDir dir;
  const std::string bytes = PatternBytes(1000, 5);
  WriteFileBytes(dir / "f", bytes);
  FileCalls calls;
  ScopedPlatform use(calls);
  TPackageFileStream s(dir / "f");

  s.Seek(300, 0);
  calls.failNextSeek = true;
  EXPECT_EQ(ReadSome(s, 10), "");  // never the bytes at the old place
  EXPECT_EQ(s.Position(), 300);
  EXPECT_EQ(ReadSome(s, 10), bytes.substr(300, 10));

  calls.failNextRead = true;
  EXPECT_EQ(ReadSome(s, 10), "");
  EXPECT_EQ(s.Position(), 310);
  const long seeksBefore = calls.Count("seek");
  EXPECT_EQ(ReadSome(s, 10), bytes.substr(310, 10));
  EXPECT_EQ(calls.Count("seek"), seeksBefore + 1);  // where a failed read left the file is not trusted

  calls.failNextSeek = true;
  EXPECT_EQ(s.Seek(0, 2), -1);  // the size cannot be had
  EXPECT_EQ(s.Seek(0, 2), 1000);
  EXPECT_EQ(ReadSome(s, 10), "");
  s.Seek(990, 0);
  EXPECT_EQ(ReadSome(s, 20), bytes.substr(990));
}

}  // namespace
}  // namespace plf::test
