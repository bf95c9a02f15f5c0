#include "driver/entry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/exceptions.h"
#include "runtime/stream.h"
#include "support/test_support.h"

namespace plf {
namespace {

using test::TempDir;

struct Installer {
  TempDir dir;
  test::CapturePlatform platform;
  Installer() { platform.modulePath = dir / "setup-under-another-name.exe"; }
  int Run() {
    ScopedPlatform scope(platform);
    return InstallerMain();
  }
};

TEST(Entry, MissingPackageWarnsWithTheBareNameAndExitsZero) {
  Installer in;
  EXPECT_EQ(in.Run(), 0);
  ASSERT_EQ(in.platform.boxes.size(), 1u);
  EXPECT_EQ(in.platform.boxes[0].caption, "Upozornění");
  EXPECT_EQ(in.platform.boxes[0].text, "Soubor Install.PLF nebyl nalezen!");
}

TEST(Entry, AFolderNamedLikeThePackageIsNoPackage) {
  Installer in;
  std::filesystem::create_directory(in.dir / "Install.PLF");
  EXPECT_EQ(in.Run(), 0);
  ASSERT_EQ(in.platform.boxes.size(), 1u);
  EXPECT_EQ(in.platform.boxes[0].text, "Soubor Install.PLF nebyl nalezen!");
}

TEST(ReadStreamToString, ReadsTheCountOrEverythingLeft) {
  TMemoryStream m;
  m.Write("0123456789", 10);
  std::string text;
  m.SetPosition(2);
  ReadStreamToString(&m, 3, &text);
  EXPECT_EQ(text, "234");
  ReadStreamToString(&m, -1, &text);
  EXPECT_EQ(text, "56789");
  ReadStreamToString(nullptr, 0, &text);  // an absent stream with nothing to read
  EXPECT_EQ(text, "");
}

TEST(ReadStreamToString, AShortStreamRaisesEvenForAHugeRecordedSize) {
  TMemoryStream m;
  m.Write("abc", 3);
  m.SetPosition(0);
  std::string text;
  EXPECT_THROW(ReadStreamToString(&m, 2000000000, &text), EReadError);
  EXPECT_LT(text.capacity(), 1u << 20);
  m.SetPosition(0);
  EXPECT_THROW(ReadStreamToString(&m, 4, &text), EReadError);
}

}  // namespace
}  // namespace plf
