// The Win32 platform layer against the real file system (under Wine in the
// cross builds): what the contract does not cover.
#include <gtest/gtest.h>

#include <string>

#include "runtime/code_page.h"
#include "runtime/platform.h"
#include "support/test_support.h"

namespace plf {
namespace {

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
}

TEST(Win32Platform, SharingFollowsTheRequestedMode) {
  TempDir dir;
  const std::string f = dir / "shared";
  test::WriteFileBytes(f, "data");
  Platform& sys = Sys();
  const FileHandle reader = sys.OpenFile(f, Access::Read, Share::Read, Disposition::OpenExisting);
  ASSERT_NE(reader, kInvalidHandle);
  EXPECT_EQ(sys.OpenFile(f, Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting), kInvalidHandle);
  EXPECT_TRUE(sys.CloseFile(reader));
  const FileHandle exclusive = sys.OpenFile(f, Access::ReadWrite, Share::None, Disposition::OpenExisting);
  ASSERT_NE(exclusive, kInvalidHandle);
  EXPECT_EQ(sys.OpenFile(f, Access::Read, Share::ReadWrite, Disposition::OpenExisting), kInvalidHandle);
  EXPECT_FALSE(sys.DeleteFile(f));  // a file in use stays
  EXPECT_TRUE(sys.CloseFile(exclusive));
  EXPECT_EQ(sys.OpenFile(dir.Path(), Access::Read, Share::Read, Disposition::OpenExisting), kInvalidHandle);
}

// A file time before 1601 cannot be had; the POSIX layer takes it as any
// other time.
TEST(Win32Platform, NoTimeBefore1601) {
  TempDir dir;
  const FileHandle h = Sys().OpenFile(dir / "f", Access::ReadWrite, Share::None, Disposition::CreateAlways);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_FALSE(Sys().SetLastWriteTime(h, -1));
  EXPECT_TRUE(Sys().CloseFile(h));
  std::int64_t out = 0;
  EXPECT_FALSE(Sys().UtcToLocal(-1, &out));
  EXPECT_FALSE(Sys().LocalToUtc(-1, &out));
}

}  // namespace
}  // namespace plf
