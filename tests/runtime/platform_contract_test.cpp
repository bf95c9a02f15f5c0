// What both platform layers promise alike, checked on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "runtime/platform.h"
#include "runtime/resources.h"
#include "support/test_support.h"

namespace plf {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(PlatformContract, RenameNeverReplaces) {
  TempDir dir;
  test::WriteFileBytes(dir / "a", "A");
  test::WriteFileBytes(dir / "b", "B");
  fs::create_directory(dir / "d1");
  fs::create_directory(dir / "d2");
  const char* refused[][2] = {{"a", "b"}, {"d1", "d2"}, {"d1", "a"}, {"missing", "x"}};
  for (const auto& c : refused) EXPECT_FALSE(Sys().MoveFile(dir / c[0], dir / c[1])) << c[0] << " " << c[1];
  EXPECT_EQ(test::ReadFileBytes(dir / "b"), "B");
}

// Windows' own search rules, which the POSIX layer reproduces: not shell
// globbing, and the DOS habits ("README.*" finds "README").
TEST(PlatformContract, FindFirstFollowsWindowsRules) {
  TempDir dir;
  for (const char* name : {"a.txt", "[ab].dat", ".hidden", "README"}) test::WriteFileBytes(dir / name, "x");
  fs::create_directory(dir / "sub");
  const struct {
    const char* pattern;
    bool found, folder;
  } cases[] = {
      {"?.txt", true, false}, {"[ab].dat", true, false}, {"su?", true, true},
      {"README.*", true, false}, {"nowhere/*", false, false}, {"sub/", false, false},
  };
  for (const auto& c : cases) {
    FoundItem item;
    EXPECT_EQ(Sys().FindFirst(dir / c.pattern, &item), c.found) << c.pattern;
    EXPECT_TRUE(!c.found || item.IsDirectory() == c.folder) << c.pattern;
  }
}

// NTFS keeps a folder in the order of its names' capitals, so the first item
// a search reports does not depend on the order the names were made in.
TEST(PlatformContract, FindFirstReportsTheLeastNameFirst) {
  if (test::UnderWine()) GTEST_SKIP() << "Wine lists in the order of the host's file system";
  TempDir dir;
  test::WriteFileBytes(dir / "C.txt", "x");  // before "b" byte by byte, not by capitals
  for (char c = 'z'; c > 'c'; --c) test::WriteFileBytes(dir / (std::string(1, c) + ".txt"), "x");
  fs::create_directory(dir / "b.txt");
  FoundItem item;
  ASSERT_TRUE(Sys().FindFirst(dir / "*.txt", &item));
  EXPECT_TRUE(item.IsDirectory());
}

// Names and texts are bytes in the ANSI code page. Where that is 1250 (a
// Czech Windows; the POSIX layer always), a name is stored under its
// Unicode spelling, found again by patterns, and letters fold as CharUpperA
// folds them. The names are joined by hand: a std::filesystem path would
// take the bytes in a code page of its own.
TEST(PlatformContract, CzechNamesAsOnACzechWindows) {
  if (Sys().AnsiToUtf8("\xE8") != "\xC4\x8D") GTEST_SKIP() << "the ANSI code page is not 1250";
  TempDir dir;
  const std::string at = dir.Path() + Sys().PathSeparator();
  const fs::path disk(dir.Path());
  const std::string file = "p\xF8\xEDli\x9A.txt";  // "příliš.txt"
  test::WriteFileBytes(dir / "plain", "x");
  ASSERT_TRUE(Sys().CreateDirectory(at + "\xE8"));
  EXPECT_TRUE(Sys().MoveFile(dir / "plain", at + "\xE8" + Sys().PathSeparator() + file));
  EXPECT_TRUE(fs::exists(disk / fs::u8path("č") / fs::u8path("příliš.txt")));
  FoundItem item;
  EXPECT_TRUE(Sys().FindFirst(at + "\xE8" + Sys().PathSeparator() + "p?\xEDli*", &item));
  // A character 1250 has no byte for is one character all the same.
  std::ofstream(disk / fs::u8path("aøb")).put('x');
  EXPECT_TRUE(Sys().FindFirst(at + "a?b", &item));

  EXPECT_EQ(Sys().AnsiToUtf8("\x8A\xEDp \x84\x9Elu\x9Dou\xE8k\xFD\x93 \x80"), "Šíp „žluťoučký“ €");
  EXPECT_EQ(Sys().CompareTextLocale(file, "P\xD8\xCDLI\x8A.TXT"), 0);
  EXPECT_EQ(Sys().UpperChar(0x9A), 0x8A);
}

// Read-only means "no write bit" on POSIX, so root is refused as well.
TEST(PlatformContract, ReadOnlyFilesAndFoldersStay) {
  TempDir dir;
  test::WriteFileBytes(dir / "ro", "keep");
  test::MakeReadOnly(dir / "ro", true);
  EXPECT_NE(Sys().GetAttributes(dir.Path()) & kAttrDirectory, 0u);
  EXPECT_EQ(Sys().GetAttributes(dir / "ro") & (kAttrDirectory | kAttrReadOnly), kAttrReadOnly);
  EXPECT_EQ(Sys().GetAttributes(dir / "missing"), kInvalidAttributes);
  const std::pair<Access, Disposition> refused[] = {{Access::Write, Disposition::OpenExisting},
                                                    {Access::ReadWrite, Disposition::CreateAlways}};
  for (const auto& c : refused) EXPECT_EQ(Sys().OpenFile(dir / "ro", c.first, Share::None, c.second), kInvalidHandle);
  for (const char* name : {"ro", ".", "missing"}) EXPECT_FALSE(Sys().DeleteFile(dir / name)) << name;
  EXPECT_EQ(test::ReadFileBytes(dir / "ro"), "keep");
}

TEST(PlatformContract, FlushesReportWhatTheyCouldNotDo) {
  TempDir dir;
  test::WriteFileBytes(dir / "written", "x");
  EXPECT_TRUE(Sys().FlushNamedFile(dir / "written"));
  EXPECT_FALSE(Sys().FlushNamedFile(dir / "missing"));
  // A background flush is only a hint, and the next flush waits for it.
  EXPECT_FALSE(Sys().FlushFileSystems({dir / "missing/"}));
#ifdef __linux__  // where the whole file system can be flushed, a real folder is
  Sys().StartFlushFileSystem(dir / "");
  EXPECT_TRUE(Sys().FlushFileSystems({dir / "", dir / "", "."}));
#endif
}

TEST(PlatformContract, HandlesReadWriteSeekTruncateAndDate) {
  TempDir dir;
  Platform& sys = Sys();
  const FileHandle h = sys.OpenFile(dir / "f", Access::ReadWrite, Share::None, Disposition::CreateAlways);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(sys.WriteFile(h, "0123456789", 10), 10);
  EXPECT_EQ(sys.WriteFile(h, "x", -1), 0);
  EXPECT_EQ(sys.SeekFile(h, -3, 2), 7);
  char buffer[8] = {};
  EXPECT_EQ(sys.ReadFile(h, buffer, -5), 0);
  EXPECT_EQ(sys.ReadFile(h, buffer, 8), 3);
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_EQ(sys.SeekFile(h, 2, 0), 2);
  EXPECT_EQ(sys.SeekFile(h, 2, 1), 4);
  EXPECT_EQ(sys.SeekFile(h, 0, 3), -1);
  EXPECT_EQ(sys.SeekFile(h, -1, 0), -1);
  EXPECT_TRUE(sys.SetEndOfFile(h));
  const std::int64_t when = 127174862461234567LL;  // 2 January 2004, 03:04:06.1234567 UTC
  EXPECT_TRUE(sys.SetLastWriteTime(h, when));
  EXPECT_TRUE(sys.CloseFile(h));
  EXPECT_EQ(test::ReadFileBytes(dir / "f"), "0123");
  FoundItem item;
  ASSERT_TRUE(sys.FindFirst(dir / "f", &item));
  EXPECT_EQ(item.lastWriteTime, when);
}

// Text compares as CompareStringA compares it, letter case aside; the
// captions are the system's own Czech ones.
TEST(PlatformContract, TextOrderAndResources) {
  const struct {
    const char *a, *b;
    int order;
  } pairs[] = {{"SCRIPT", "script", 0}, {"b", "A", 1}, {"ab", "abc", -1}};
  for (const auto& p : pairs) EXPECT_EQ(Sys().CompareTextLocale(p.a, p.b), p.order) << p.a << " " << p.b;
  EXPECT_EQ(Sys().LoadResString(kResCaptionWarning), "Upozornění");
  EXPECT_EQ(Sys().LoadResString(0x10000u + kResCaptionInfo), "");
}

// A script names paths with backslashes, which the POSIX layer turns into
// its own separator.
TEST(PlatformContract, FullPathScriptPathAndTheProgramsOwnPath) {
  const char sep = Sys().PathSeparator();
  const std::string cwd = fs::current_path().string();
  const std::string at = cwd + (cwd.back() == sep ? "" : std::string(1, sep));
  EXPECT_EQ(Sys().FullPath(std::string(".") + sep + "x" + sep + ".." + sep + "y.txt"), at + "y.txt");
  EXPECT_EQ(Sys().ScriptPath("a\\b/c"), sep == '/' ? "a/b/c" : "a\\b/c");
  const std::string module = Sys().ModulePath();
  EXPECT_EQ(Sys().FullPath(module), module);
  EXPECT_EQ(Sys().GetAttributes(module) & kAttrDirectory, 0u);
}

}  // namespace
}  // namespace plf
