// The Win32 platform layer against the real file system (under Wine in the
// cross builds): what the contract does not cover.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/code_page.h"
#include "runtime/platform.h"
#include "runtime/resources.h"
#include "support/test_support.h"

namespace plf {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(Win32Platform, EveryByteIsACharacter) {
  // Bytes with the top bit set would crash if they reached CharUpperA
  // sign-extended, as the address of a text.
  for (int c = 0; c < 256; ++c) {
    const unsigned char upper = Sys().UpperChar(static_cast<unsigned char>(c));
    EXPECT_TRUE(c >= 128 || upper == (c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c)) << c;
    const std::string utf8 = Sys().AnsiToUtf8(std::string(1, static_cast<char>(c)));
    EXPECT_TRUE(c == 0 || (!utf8.empty() && IsValidUtf8(utf8))) << c;
  }
  // The Latin code pages (1250, 1252, 1257...) keep é at 0xE9 and É at 0xC9.
  EXPECT_TRUE(Sys().AnsiToUtf8("\xE9") != "é" || Sys().UpperChar(0xE9) == 0xC9);
  const std::pair<const char*, const char*> pairs[] = {{"SCRIPT", "script"}, {"abc", "abd"}, {"b", "A"}, {"ab", "abc"}};
  const int order[] = {0, -1, 1, -1};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(Sys().CompareTextLocale(pairs[k].first, pairs[k].second), order[k]) << k;
}

TEST(Win32Platform, ModulePathAndNames) {
  Platform& sys = Sys();
  const std::string path = sys.ModulePath();
  ASSERT_GT(path.size(), 4u);
  EXPECT_TRUE(path[1] == ':' || path.compare(0, 2, "\\\\") == 0) << path;
  EXPECT_EQ(sys.CompareTextLocale(path.substr(path.size() - 4), ".EXE"), 0) << path;
  EXPECT_EQ(sys.FullPath(path), path);
  FoundItem item;
  EXPECT_TRUE(sys.FindFirst(path, &item));
  EXPECT_FALSE(item.IsDirectory());
  EXPECT_STREQ(sys.PathDelimiters(), "\\:");
  EXPECT_EQ(sys.ScriptPath("a\\b/c"), "a\\b/c");
  const std::string cwd = fs::current_path().string();
  EXPECT_EQ(sys.FullPath("x\\..\\y.txt"), cwd + (cwd.back() == '\\' ? "" : "\\") + "y.txt");
  EXPECT_EQ(sys.FullPath(""), "");
  EXPECT_FALSE(sys.TimeFormat().decimalSeparator.empty());
  EXPECT_EQ(sys.LoadResString(kResCaptionWarning), "Upozornění");
  EXPECT_EQ(sys.LoadResString(kResCaptionError), "Nastala chyba:");
  EXPECT_EQ(sys.LoadResString(12345), "");
  EXPECT_EQ(sys.LoadResString(0x10000u + kResCaptionInfo), "");
}

TEST(Win32Platform, SharingFollowsTheRequestedMode) {
  TempDir dir;
  const std::string f = dir / "shared";
  test::WriteFileBytes(f, "data");
  Platform& sys = Sys();
  const FileHandle reader = sys.OpenFile(f, Access::Read, Share::Read, Disposition::OpenExisting);
  ASSERT_NE(reader, kInvalidHandle);
  const FileHandle second = sys.OpenFile(f, Access::Read, Share::Read, Disposition::OpenExisting);
  EXPECT_NE(second, kInvalidHandle);
  EXPECT_EQ(sys.OpenFile(f, Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting), kInvalidHandle);
  if (second != kInvalidHandle) sys.CloseFile(second);
  EXPECT_TRUE(sys.CloseFile(reader));
  const FileHandle exclusive = sys.OpenFile(f, Access::ReadWrite, Share::None, Disposition::OpenExisting);
  ASSERT_NE(exclusive, kInvalidHandle);
  EXPECT_EQ(sys.OpenFile(f, Access::Read, Share::ReadWrite, Disposition::OpenExisting), kInvalidHandle);
  EXPECT_FALSE(sys.DeleteFile(f));  // a file in use stays
  EXPECT_TRUE(sys.CloseFile(exclusive));
  EXPECT_EQ(sys.OpenFile(f, Access::Read, Share::Read, Disposition::CreateNew), kInvalidHandle);
  EXPECT_EQ(sys.OpenFile(dir.Path(), Access::Read, Share::Read, Disposition::OpenExisting), kInvalidHandle);
}

TEST(Win32Platform, ReadWriteSeekTruncateAndTimes) {
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
  EXPECT_EQ(sys.ReadFile(h, buffer, 8), 0);
  EXPECT_EQ(sys.SeekFile(h, 2, 0), 2);
  EXPECT_EQ(sys.SeekFile(h, 2, 1), 4);
  EXPECT_EQ(sys.SeekFile(h, 0, 3), -1);
  EXPECT_EQ(sys.SeekFile(h, -1, 0), -1);
  EXPECT_TRUE(sys.SetEndOfFile(h));
  EXPECT_TRUE(sys.FlushFile(h));
  const std::int64_t when = 127174862460000000LL;  // 2 January 2004, 03:04:06 UTC
  EXPECT_TRUE(sys.SetLastWriteTime(h, when));
  EXPECT_FALSE(sys.SetLastWriteTime(h, -1));
  EXPECT_TRUE(sys.CloseFile(h));
  EXPECT_EQ(test::ReadFileBytes(dir / "f"), "0123");
  FoundItem item;
  ASSERT_TRUE(sys.FindFirst(dir / "f", &item));
  EXPECT_EQ(item.lastWriteTime, when);
  std::int64_t local = 0, back = 0;
  ASSERT_TRUE(sys.UtcToLocal(when, &local));
  ASSERT_TRUE(sys.LocalToUtc(local, &back));
  EXPECT_EQ(back, when);
  EXPECT_FALSE(sys.UtcToLocal(-1, &local));
  EXPECT_FALSE(sys.LocalToUtc(-1, &back));
}

}  // namespace
}  // namespace plf
