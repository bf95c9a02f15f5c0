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

#include "runtime/file_tests.h"
#include "runtime/platform.h"
#include "support/test_support.h"

namespace plf {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::int64_t FileTimeOfUnix(std::int64_t seconds) { return 116444736000000000LL + seconds * 10000000; }

void SetTimeZone(const char* zone) {
  if (zone) {
    setenv("TZ", zone, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

// What the system hands back is UTF-8 and comes in as code page 1250: the
// current folder in a full path, and the names of a listing when they are
// matched, where bytes that are no UTF-8 (a name some other program wrote)
// are characters 1250 has no byte for.
TEST(PosixPlatform, WhatTheSystemHandsBackComesInAsCodePage1250) {
  TempDir dir;
  const fs::path previous = fs::current_path();
  fs::create_directory(fs::path(dir.Path()) / "složka");
  fs::current_path(fs::path(dir.Path()) / "složka");
  const std::string full = Sys().FullPath("x");
  fs::current_path(previous);
  EXPECT_EQ(full, dir.Path() + "/slo\x9Eka/x");
  test::WriteFileBytes(dir / "a\xE8z", "x");
  FoundItem item;
  EXPECT_TRUE(Sys().FindFirst(dir / "a?z", &item));
  EXPECT_FALSE(Sys().FindFirst(dir / "a\xE8z", &item));  // that would be "ačz"
}

TEST(PosixPlatform, FullPathResolvesDotsByText) {
  const std::pair<std::string, std::string> cases[] = {
      {"/a/./b/../c", "/a/c"}, {"/a/b/", "/a/b/"}, {"/..", "/"}, {"x", fs::current_path().string() + "/x"}};
  for (const auto& c : cases) EXPECT_EQ(Sys().FullPath(c.first), c.second) << c.first;
  EXPECT_EQ(fs::path(Sys().ModulePath()).string(), fs::canonical("/proc/self/exe").string());
}

TEST(PosixPlatform, SetLastWriteTimeLeavesTheAccessTime) {
  TempDir dir;
  const std::string f = dir / "f";
  test::WriteFileBytes(f, "x");
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};  // September 2001
  ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
  const std::int64_t when = FileTimeOfUnix(1200000000) + 1234567;
  const FileHandle h = Sys().OpenFile(f, Access::ReadWrite, Share::None, Disposition::OpenExisting);
  ASSERT_NE(h, kInvalidHandle);
  for (std::int64_t t : {INT64_MIN, std::int64_t{-1}, INT64_MAX}) Sys().SetLastWriteTime(h, t);  // no overflow
  EXPECT_TRUE(Sys().SetLastWriteTime(h, when));
  Sys().CloseFile(h);
  struct stat st;
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
}

TEST(PosixPlatform, LocalTimeFollowsTheZoneOfTheDate) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  SetTimeZone("Europe/Prague");
  // 2021-01-01 and 2021-07-01, 12:00 UTC: winter and summer time.
  const std::pair<std::int64_t, std::int64_t> cases[] = {{1609502400, 1}, {1625140800, 2}};
  for (const auto& c : cases) {
    const std::int64_t utc = FileTimeOfUnix(c.first) + 5;
    std::int64_t local = 0, back = 0;
    ASSERT_TRUE(Sys().UtcToLocal(utc, &local));
    EXPECT_EQ(local - utc, c.second * 3600 * 10000000) << c.first;
    ASSERT_TRUE(Sys().LocalToUtc(local, &back));
    EXPECT_EQ(back, utc);
  }
  // No signed overflow at the ends of the range (the sanitizer build checks).
  SetTimeZone("Asia/Tokyo");
  for (std::int64_t t : {INT64_MIN, INT64_MAX}) {
    std::int64_t out = 0;
    EXPECT_TRUE(!Sys().UtcToLocal(t, &out) || out >= 0) << t;
    EXPECT_TRUE(!Sys().LocalToUtc(t, &out) || out >= 0) << t;
  }
  SetTimeZone(old ? saved.c_str() : nullptr);
}

// Links, on top of what the contract checks: nothing is opened or created
// through one that leads to a read-only file or nowhere, and the search, the
// attributes and the present test agree on each, as on Windows: a link whose
// target is gone still stands at its name, so it is replaced, not refused.
TEST(PosixPlatform, LinksAreSeenThroughAlike) {
  TempDir dir;
  ::mkdir((dir / "folder").c_str(), 0777);
  test::WriteFileBytes(dir / "locked", "keep");
  test::MakeReadOnly(dir / "locked", true);
  for (const std::string to : {"folder", "locked", "nowhere"})
    ASSERT_EQ(::symlink((dir / to).c_str(), (dir / ("to-" + to)).c_str()), 0);
  const struct {
    const char* name;
    std::uint32_t attributes;
    bool present;
    const char* refused;  // Read, open Existing, create Always, create New
  } cases[] = {
      {"folder", kAttrDirectory, false, "REAN"},  {"to-folder", kAttrDirectory, false, "REAN"},
      {"to-locked", kAttrNormal | kAttrReadOnly, true, "EAN"},
      {"to-nowhere", kAttrNormal, true, "REN"},  // the link itself
      {"missing", kInvalidAttributes, false, "RE"},
  };
  for (const auto& c : cases) {
    FoundItem item;
    EXPECT_EQ(Sys().FindFirst(dir / c.name, &item), c.attributes != kInvalidAttributes) << c.name;
    EXPECT_TRUE(c.attributes == kInvalidAttributes || item.attributes == c.attributes) << c.name;
    EXPECT_EQ(Sys().GetAttributes(dir / c.name), c.attributes) << c.name;
    EXPECT_EQ(FilePresent(dir / c.name), c.present) << c.name;
    for (const char* r = c.refused; *r; ++r) {
      const Disposition d = *r == 'A' ? Disposition::CreateAlways
                            : *r == 'N' ? Disposition::CreateNew : Disposition::OpenExisting;
      const Access a = *r == 'R' ? Access::Read : Access::ReadWrite;
      EXPECT_EQ(Sys().OpenFile(dir / c.name, a, Share::None, d), kInvalidHandle) << c.name << " " << *r;
    }
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "locked"), "keep");
  EXPECT_FALSE(test::PathExists(dir / "nowhere"));
}

}  // namespace
}  // namespace plf
