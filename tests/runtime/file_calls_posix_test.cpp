// The POSIX layer opens and inspects files with as few system calls as it
// can; these cases pin down that no shortcut changed what it reports or
// touches: folders, existing and read-only files, links.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/file_tests.h"
#include "runtime/platform.h"
#include "support/test_support.h"

namespace plf {
namespace {

using test::PathExists;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

bool Opens(const std::string& path, Access a, Disposition d) {
  const FileHandle h = Sys().OpenFile(path, a, Share::None, d);
  if (h == kInvalidHandle) return false;
  Sys().CloseFile(h);
  return true;
}

TEST(PosixFileCalls, OpeningLeavesWhatItRefuses) {
  TempDir dir;
  ::mkdir((dir / "folder").c_str(), 0777);
  WriteFileBytes(dir / "file", "data");
  WriteFileBytes(dir / "locked", "keep");
  test::MakeReadOnly(dir / "locked", true);
  ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "locked").c_str(), (dir / "to-locked").c_str()), 0);
  struct Case {
    const char* name;
    Access access;
    Disposition disposition;
    bool opens;
  } cases[] = {
      {"folder", Access::Read, Disposition::OpenExisting, false},
      {"folder", Access::ReadWrite, Disposition::OpenExisting, false},
      {"folder", Access::ReadWrite, Disposition::CreateAlways, false},
      {"folder", Access::ReadWrite, Disposition::CreateNew, false},
      {"file", Access::ReadWrite, Disposition::CreateNew, false},
      {"file", Access::Write, Disposition::OpenExisting, true},
      {"file", Access::Read, Disposition::OpenExisting, true},
      {"locked", Access::ReadWrite, Disposition::CreateNew, false},
      {"locked", Access::Write, Disposition::OpenExisting, false},
      {"locked", Access::ReadWrite, Disposition::CreateAlways, false},
      {"to-locked", Access::ReadWrite, Disposition::OpenExisting, false},
      {"to-locked", Access::ReadWrite, Disposition::CreateAlways, false},
      {"dangling", Access::ReadWrite, Disposition::CreateNew, false},
      {"dangling", Access::Read, Disposition::OpenExisting, false},
      {"missing", Access::ReadWrite, Disposition::OpenExisting, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(static_cast<int>(c.access)) + " " +
                 std::to_string(static_cast<int>(c.disposition)));
    EXPECT_EQ(Opens(dir / c.name, c.access, c.disposition), c.opens);
  }
  EXPECT_EQ(ReadFileBytes(dir / "file"), "data");
  EXPECT_EQ(ReadFileBytes(dir / "locked"), "keep");
  EXPECT_EQ(Sys().GetAttributes(dir / "locked") & kAttrReadOnly, kAttrReadOnly);
  EXPECT_FALSE(PathExists(dir / "nowhere"));  // no create through a link
  EXPECT_FALSE(PathExists(dir / "missing"));
  EXPECT_EQ(Sys().GetAttributes(dir / "folder") & kAttrDirectory, kAttrDirectory);
}

TEST(PosixFileCalls, CreatingANewFile) {
  TempDir dir;
  const FileHandle h = Sys().OpenFile(dir / "new", Access::ReadWrite, Share::None, Disposition::CreateNew);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(Sys().WriteFile(h, "abc", 3), 3);
  EXPECT_TRUE(Sys().CloseFile(h));
  EXPECT_EQ(ReadFileBytes(dir / "new"), "abc");
}

// The search, the attributes and the present test agree on every link, as
// on Windows: a link whose target is gone still stands at its name, so a
// target there is replaced rather than refused.
TEST(PosixFileCalls, SearchAndAttributesSeeThroughLinksAlike) {
  TempDir dir;
  ::mkdir((dir / "folder").c_str(), 0777);
  WriteFileBytes(dir / "locked", "x");
  test::MakeReadOnly(dir / "locked", true);
  ASSERT_EQ(::symlink((dir / "folder").c_str(), (dir / "to-folder").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "locked").c_str(), (dir / "to-locked").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
  struct Case {
    const char* name;
    bool found;
    std::uint32_t attributes;
    bool present;
  } cases[] = {
      {"folder", true, kAttrDirectory, false},
      {"to-folder", true, kAttrDirectory, false},
      {"locked", true, kAttrNormal | kAttrReadOnly, true},
      {"to-locked", true, kAttrNormal | kAttrReadOnly, true},
      {"dangling", true, kAttrNormal, true},  // the link itself
      {"missing", false, kInvalidAttributes, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FoundItem item;
    ASSERT_EQ(Sys().FindFirst(dir / c.name, &item), c.found);
    if (c.found) {
      EXPECT_EQ(item.attributes, c.attributes);
    }
    EXPECT_EQ(Sys().GetAttributes(dir / c.name), c.attributes);
    EXPECT_EQ(FilePresent(dir / c.name), c.present);
  }
}

}  // namespace
}  // namespace plf
