// The Win32 platform layer against the real file system (under Wine in the
// cross builds): the Windows semantics that the installer counts on.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/platform.h"
#include "runtime/resources.h"
#include "support/test_support.h"

namespace plf {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

bool EndsWithExe(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(Sys().UpperChar(static_cast<unsigned char>(c)));
  return tail == ".EXE";
}

bool IsValidUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

TEST(Win32Platform, UpperCharTakesEveryByteAsACharacter) {
  // Bytes with the top bit set would crash if they reached CharUpperA
  // sign-extended, as the address of a text.
  for (int c = 0; c < 256; ++c) {
    const unsigned char upper = Sys().UpperChar(static_cast<unsigned char>(c));
    if (c >= 'a' && c <= 'z') {
      EXPECT_EQ(upper, c - 'a' + 'A') << c;
    } else if (c < 128 && !(c >= 'A' && c <= 'Z')) {
      EXPECT_EQ(upper, c) << c;
    }
  }
  EXPECT_EQ(Sys().UpperChar('Q'), 'Q');
  // The Latin code pages (1250, 1252, 1257...) keep é at 0xE9 and É at 0xC9.
  if (Sys().AnsiToUtf8("\xE9") == "é") {
    EXPECT_EQ(Sys().UpperChar(0xE9), 0xC9);
    EXPECT_EQ(Sys().UpperChar(0xC9), 0xC9);
  }
}

TEST(Win32Platform, ModulePathIsTheRunningExecutable) {
  const std::string path = Sys().ModulePath();
  ASSERT_GT(path.size(), 3u);
  EXPECT_TRUE(path[1] == ':' || path.compare(0, 2, "\\\\") == 0) << path;
  EXPECT_TRUE(EndsWithExe(path)) << path;
  EXPECT_EQ(Sys().FullPath(path), path);
  FoundItem item;
  EXPECT_TRUE(Sys().FindFirst(path, &item));
  EXPECT_FALSE(item.IsDirectory());
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

TEST(Win32Platform, ReadWriteSeekAndTruncate) {
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
  EXPECT_TRUE(sys.CloseFile(h));
  EXPECT_EQ(test::ReadFileBytes(dir / "f"), "0123");
}

TEST(Win32Platform, LastWriteTimeAndLocalTime) {
  TempDir dir;
  test::WriteFileBytes(dir / "f", "x");
  Platform& sys = Sys();
  // 2 January 2004, 03:04:06 UTC.
  const std::int64_t when = 127174862460000000LL;
  const FileHandle h = sys.OpenFile(dir / "f", Access::ReadWrite, Share::None, Disposition::OpenExisting);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(sys.SetLastWriteTime(h, when));
  EXPECT_FALSE(sys.SetLastWriteTime(h, -1));
  sys.CloseFile(h);
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

TEST(Win32Platform, TextLocaleAndNames) {
  Platform& sys = Sys();
  struct Case {
    const char* a;
    const char* b;
    int result;
  } cases[] = {{"SCRIPT", "script", 0}, {"abc", "abd", -1}, {"b", "A", 1}, {"", "", 0}, {"ab", "abc", -1}};
  for (const Case& c : cases) EXPECT_EQ(sys.CompareTextLocale(c.a, c.b), c.result) << c.a << " " << c.b;

  std::string ascii;
  for (int c = 1; c < 128; ++c) ascii += static_cast<char>(c);
  EXPECT_EQ(sys.AnsiToUtf8(ascii), ascii);
  for (int c = 128; c < 256; ++c) {
    const std::string utf8 = sys.AnsiToUtf8(std::string(1, static_cast<char>(c)));
    EXPECT_FALSE(utf8.empty()) << c;
    EXPECT_TRUE(IsValidUtf8(utf8)) << c;
  }
  EXPECT_EQ(sys.AnsiToUtf8(""), "");

  const LocaleTimeFormat format = sys.TimeFormat();
  EXPECT_FALSE(format.decimalSeparator.empty());

  EXPECT_EQ(sys.LoadResString(kResCaptionWarning), "Upozornění");
  EXPECT_EQ(sys.LoadResString(kResCaptionError), "Nastala chyba:");
  EXPECT_EQ(sys.LoadResString(12345), "");
  EXPECT_EQ(sys.LoadResString(0x10000u + kResCaptionInfo), "");

  EXPECT_STREQ(sys.PathDelimiters(), "\\:");
  EXPECT_EQ(sys.PathSeparator(), '\\');
  EXPECT_EQ(sys.ScriptPath("a\\b/c"), "a\\b/c");

  const std::string cwd = fs::current_path().string();
  const std::string sep = cwd.back() == '\\' ? "" : "\\";
  EXPECT_EQ(sys.FullPath("x\\..\\y.txt"), cwd + sep + "y.txt");
  EXPECT_EQ(sys.FullPath(""), "");
}

}  // namespace
}  // namespace plf
