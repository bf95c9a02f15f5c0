// The POSIX platform layer reproduces the Windows behaviour that the
// installer counts on; checked against real files in a temporary folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "runtime/platform.h"
#include "support/test_support.h"

namespace plf {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;

std::int64_t FileTimeOfUnix(std::int64_t seconds) { return kUnixEpochTicks + seconds * kTicksPerSecond; }

// Puts a time zone in force for one test and restores the previous one.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadOld_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

// What the system hands back is UTF-8 and comes in as code page 1250: the
// current folder in a full path, and the names of a listing when they are
// matched, where bytes that are no UTF-8 (a name some other program wrote)
// are characters 1250 has no byte for.
TEST(PosixPlatform, WhatTheSystemHandsBackComesInAsCodePage1250) {
  TempDir dir;
  const fs::path czech = fs::path(dir.Path()) / "složka";
  fs::create_directory(czech);
  const fs::path previous = fs::current_path();
  fs::current_path(czech);
  const std::string full = Sys().FullPath("x");
  fs::current_path(previous);
  EXPECT_EQ(full, dir.Path() + "/slo\x9Eka/x");

  test::WriteFileBytes(dir / "a\xE8z", "x");
  FoundItem item;
  EXPECT_TRUE(Sys().FindFirst(dir / "a?z", &item));
  EXPECT_FALSE(Sys().FindFirst(dir / "a\xE8z", &item));  // that would be "ačz"
}

TEST(PosixPlatform, FullPathResolvesDotsByText) {
  TempDir dir;
  const std::string cwd = fs::current_path().string();
  struct Case {
    std::string name;
    std::string full;
  } cases[] = {
      {"/a/./b/../c", "/a/c"},
      {"/a/b/", "/a/b/"},
      {"/..", "/"},
      {"/", "/"},
      {"x", cwd + "/x"},
      {"./x/../y", cwd + "/y"},
      {dir / "no/such/../file", dir.Path() + "/no/file"},
  };
  for (const Case& c : cases) EXPECT_EQ(Sys().FullPath(c.name), c.full) << c.name;
  EXPECT_EQ(Sys().FullPath(""), "");
}

TEST(PosixPlatform, SetLastWriteTimeLeavesTheAccessTime) {
  TempDir dir;
  const std::string f = dir / "f";
  test::WriteFileBytes(f, "x");
  struct timespec times[2];
  times[0].tv_sec = 1000000000;  // access: September 2001
  times[0].tv_nsec = 0;
  times[1].tv_sec = 1000000000;
  times[1].tv_nsec = 0;
  ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), times, 0), 0);

  const std::int64_t when = FileTimeOfUnix(1200000000) + 1234567;  // with 100 ns steps
  const FileHandle h = Sys().OpenFile(f, Access::ReadWrite, Share::None, Disposition::OpenExisting);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(Sys().SetLastWriteTime(h, when));
  Sys().CloseFile(h);

  struct stat st;
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
  EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
  FoundItem item;
  ASSERT_TRUE(Sys().FindFirst(f, &item));
  EXPECT_EQ(item.lastWriteTime, when);
}

TEST(PosixPlatform, LocalTimeFollowsTheZoneOfTheDate) {
  ScopedTimeZone zone("Europe/Prague");
  struct Case {
    std::int64_t utcSeconds;
    std::int64_t offsetHours;
  } cases[] = {
      {1609502400, 1},  // 2021-01-01 12:00 UTC: winter time
      {1625140800, 2},  // 2021-07-01 12:00 UTC: summer time
  };
  for (const Case& c : cases) {
    const std::int64_t utc = FileTimeOfUnix(c.utcSeconds) + 5;
    std::int64_t local = 0, back = 0;
    ASSERT_TRUE(Sys().UtcToLocal(utc, &local));
    EXPECT_EQ(local - utc, c.offsetHours * 3600 * kTicksPerSecond) << c.utcSeconds;
    ASSERT_TRUE(Sys().LocalToUtc(local, &back));
    EXPECT_EQ(back, utc);
  }
}

TEST(PosixPlatform, TimesAtTheEndsOfTheRangeFailCleanly) {
  // No signed overflow for any input (the sanitizer build checks).
  const std::int64_t extremes[] = {INT64_MIN, INT64_MIN + 1, -1, INT64_MAX - 1, INT64_MAX};
  const char* zones[] = {"America/New_York", "Asia/Tokyo"};
  for (const char* z : zones) {
    ScopedTimeZone zone(z);
    for (std::int64_t t : extremes) {
      std::int64_t out = 0;
      if (Sys().UtcToLocal(t, &out)) {
        EXPECT_GE(out, 0) << z << " " << t;
      }
      if (Sys().LocalToUtc(t, &out)) {
        EXPECT_GE(out, 0) << z << " " << t;
      }
    }
  }
  TempDir dir;
  test::WriteFileBytes(dir / "f", "x");
  const FileHandle h = Sys().OpenFile(dir / "f", Access::ReadWrite, Share::None, Disposition::OpenExisting);
  ASSERT_NE(h, kInvalidHandle);
  for (std::int64_t t : extremes) Sys().SetLastWriteTime(h, t);
  Sys().CloseFile(h);
}

TEST(PosixPlatform, ModulePathNamesTheRunningProgram) {
  const std::string path = Sys().ModulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], '/');
  EXPECT_EQ(fs::path(path).filename().string(), "test_runtime");
  EXPECT_EQ(Sys().ScriptPath("a\\b\\c.txt"), "a/b/c.txt");
}

}  // namespace
}  // namespace plf
