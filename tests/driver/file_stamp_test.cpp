#include "driver/file_stamp.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/calendar.h"
#include "support/fault_platform.h"

namespace plf {
namespace {

using test::TempDir;

double Date(int y, int m, int d) {
  double value = 0;
  EXPECT_TRUE(EncodeDate(y, m, d, &value));
  return value;
}

double Time(int h, int m, int s, int ms = 0) { return (((h * 60.0 + m) * 60.0 + s) * 1000.0 + ms) / 86400000.0; }

std::uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<std::uint32_t>(d + mo * 32 + (y - 1980) * 512) << 16 |
         static_cast<std::uint32_t>(s / 2 + mi * 32 + h * 2048);
}

// The whole-day and in-range cases are installed and checked through
// whole installs; these are the edges of the range and of the rounding.
TEST(StampToDos, RangeAndResolution) {
  const double justBelow = 0.4 / 86400000.0, justAbove = 0.6 / 86400000.0;
  const struct {
    double stamp;
    std::uint32_t dos;
  } cases[] = {
      {Date(2000, 3, 5) + Time(12, 0, 1, 999) + justBelow, Dos(2000, 3, 5, 12, 0, 0)},
      {Date(2000, 3, 5) + Time(12, 0, 1, 999) + justAbove, Dos(2000, 3, 5, 12, 0, 2)},
      {Date(2000, 3, 5) + Time(23, 59, 59, 999) + justAbove, Dos(2000, 3, 6, 0, 0, 0)},
      {Date(1980, 1, 1), Dos(1980, 1, 1, 0, 0, 0)},
      {Date(2099, 12, 31) + Time(23, 59, 58), Dos(2099, 12, 31, 23, 59, 58)},
      {Date(1979, 12, 31) + Time(23, 59, 59), 0}, {Date(2100, 1, 1), 0}, {0, 0}, {-5.5, 0}, {1e300, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(StampToDos(c.stamp), c.dos) << c.stamp;
}

// Can fail the zone conversion.
struct StampPlatform : test::FaultPlatform {
  bool failZone = false;
  bool LocalToUtc(std::int64_t l, std::int64_t* u) override { return !failZone && Inner().LocalToUtc(l, u); }
};

TEST(SetFileStamp, WritesLocalTimeInTwoSecondStepsOrLeavesTheTime) {
  struct Case {
    const char* what;
    double stamp;
    bool failZone;
    int opens;
    int second;  // -1: the time stays
  } cases[] = {
      {"12:00:01", Date(2000, 3, 5) + Time(12, 0, 1), false, 1, 0}, {"no date", 0, false, 0, -1},
      {"negative", -3, false, 0, -1}, {"before 1980", Date(1979, 6, 1), false, 1, -1},
      {"zone conversion fails", Date(2000, 3, 5), true, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / "f.txt";
    test::WriteFileBytes(path, "data");
    SetFileStamp(path, Date(2001, 1, 1));  // a known time to keep
    StampPlatform platform;
    platform.failZone = c.failZone;
    {
      ScopedPlatform scope(platform);
      SetFileStamp(path, c.stamp);
    }
    EXPECT_EQ(platform.Count("settime"), c.second < 0 ? 0 : 1);
    EXPECT_EQ(platform.Count("open"), c.opens);
    EXPECT_TRUE(platform.openHandles.empty());
    const DateTimeParts p = test::LocalWriteTime(path);
    EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute, p.second}),
              (c.second < 0 ? std::vector<int>{2001, 1, 1, 0, 0, 0} : std::vector<int>{2000, 3, 5, 12, 0, c.second}));
    EXPECT_EQ(test::ReadFileBytes(path), "data");
  }
  TempDir dir;
  EXPECT_NO_THROW(SetFileStamp(dir / "missing", Date(2000, 1, 1)));
  EXPECT_FALSE(test::PathExists(dir / "missing"));
}

}  // namespace
}  // namespace plf
