// What both platform layers promise alike, checked on real files.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/platform.h"
#include "support/test_support.h"

namespace plf {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(PlatformContract, DeleteRemovesPlainFilesOnly) {
  // Read-only means "no write bit" on POSIX, so root is refused as well.
  TempDir dir;
  test::WriteFileBytes(dir / "plain", "x");
  test::WriteFileBytes(dir / "locked", "x");
  test::MakeReadOnly(dir / "locked", true);
  fs::create_directory(dir / "folder");

  struct Case {
    const char* name;
    bool deleted;
  } cases[] = {{"plain", true}, {"locked", false}, {"folder", false}, {"missing", false}};
  for (const Case& c : cases) {
    const bool existed = test::PathExists(dir / c.name);
    EXPECT_EQ(Sys().DeleteFile(dir / c.name), c.deleted) << c.name;
    EXPECT_EQ(test::PathExists(dir / c.name), existed && !c.deleted) << c.name;
  }
  test::MakeReadOnly(dir / "locked", false);
  EXPECT_TRUE(Sys().DeleteFile(dir / "locked"));
}

TEST(PlatformContract, FlushesReportWhatTheyCouldNotDo) {
  TempDir dir;
  test::WriteFileBytes(dir / "written", "x");
  EXPECT_TRUE(Sys().FlushNamedFile(dir / "written"));
  EXPECT_FALSE(Sys().FlushNamedFile(dir / "missing"));
  EXPECT_FALSE(Sys().FlushFileSystems({dir / "missing/"}));
  // Where the whole file system can be flushed (Linux), a real folder is.
#ifdef __linux__
  EXPECT_TRUE(Sys().FlushFileSystems({dir / "", dir / "", "."}));
#endif
  // A background flush is only a hint, and the next flush waits for it.
  Sys().StartFlushFileSystem(dir / "");
  Sys().StartFlushFileSystem(dir / "missing/");
  EXPECT_FALSE(Sys().FlushFileSystems({dir / "missing/"}));
#ifdef __linux__
  Sys().StartFlushFileSystem(dir / "");
  EXPECT_TRUE(Sys().FlushFileSystems({dir / ""}));
#endif
}

}  // namespace
}  // namespace plf
