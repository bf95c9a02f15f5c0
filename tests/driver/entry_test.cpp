#include "driver/entry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <zlib.h>

#include "package/package_writer.h"
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

// A package of one entry, built byte by byte so that its records can lie.
std::string OneEntryPackage(const std::string& name, const std::string& data, std::int32_t uncompressed,
                            std::uint32_t version = 0x173FE513) {
  auto le32 = [](std::uint32_t v) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
  };
  const std::uint32_t dirOffset = 20 + static_cast<std::uint32_t>(data.size());
  std::string p = "ZLIB_PLF" + le32(version) + le32(dirOffset) + le32(0) + data;
  p += "ZLIB_DIR" + le32(0) + le32(1) + le32(0);
  std::string record = le32(20) + le32(static_cast<std::uint32_t>(data.size())) +
                       le32(static_cast<std::uint32_t>(uncompressed)) + le32(0) + std::string("\x00\x07\x0f\x00", 4) +
                       le32(0) + std::string(1, static_cast<char>(name.size())) + name;
  record.resize(40 < 25 + name.size() ? 25 + name.size() : 40, '\0');
  return p + le32(static_cast<std::uint32_t>(record.size())) + record;
}

std::string Deflate(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(text.data()),
            static_cast<uLong>(text.size()), 6);
  out.resize(size);
  return out;
}

std::string ScriptPackage(const std::string& script) {
  return OneEntryPackage("SCRIPT", Deflate(script), static_cast<std::int32_t>(script.size()));
}

TEST(Run, OutcomesOfThePackageAndItsScript) {
  const std::string script = "[Files]\r\n";
  struct Case {
    const char* what;
    std::string package;
    int code;
    const char* caption;  // nullptr: no box
    const char* text;
  } cases[] = {
      {"no SCRIPT entry", OneEntryPackage("OTHER", Deflate(script), 9), 1, "Upozornění",
       "Soubor Install.PLF nemá správný formát!"},
      {"lower-case script", OneEntryPackage("script", Deflate(script), 9), 0, nullptr, ""},
      {"wrong version", OneEntryPackage("SCRIPT", Deflate(script), 9, 0x173FE512), 1, "Nastala chyba:",
       "Špatná verze inicializačního souboru!"},
      {"12-byte file", std::string("ZLIB_PLF\x13\xe5\x3f\x17", 12), 1, "Nastala chyba:", "Stream read error"},
      {"no data", OneEntryPackage("SCRIPT", "", 500), 0, nullptr, ""},
      {"inflates short", OneEntryPackage("SCRIPT", Deflate(script), 100), 1, "Nastala chyba:",
       "Stream read error"},
      {"damaged data", OneEntryPackage("SCRIPT", "\x78\x9c garbage that is no deflate", 9), 1, "Nastala chyba:",
       "Decompression error -3"},
      {"bad time", ScriptPackage("[Options]\nTimeStamp= 25:00 \n"), 1, "Nastala chyba:",
       "'25:00' is not a valid time"},
      {"verify fails", ScriptPackage("[Verify]\nDir=/no/such/folder\n"), 0, "Upozornění",
       "Nebyla nalezena předchozí instalace!"},
  };
  for (const Case& c : cases) {
    Installer in;
    test::WriteFileBytes(in.dir / "Install.PLF", c.package);
    EXPECT_EQ(in.Run(), c.code) << c.what;
    if (c.caption == nullptr) {
      EXPECT_TRUE(in.platform.boxes.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(in.platform.boxes.size(), 1u) << c.what;
    EXPECT_EQ(in.platform.boxes[0].caption, c.caption) << c.what;
    EXPECT_EQ(in.platform.boxes[0].text, c.text) << c.what;
  }
}

TEST(Run, InstallsBesideTheExecutableFromAnyCurrentFolder) {
  Installer in;
  const std::string target = in.dir / "out/sub/app.txt";
  {
    TPackageWriter w(in.dir / "Install.PLF");
    const std::string script = "[Files]\napp=" + target + "\n";
    w.AddBuffer("SCRIPT", script.data(), script.size());
    w.AddBuffer("app", "hello", 5);
    w.Finish();
  }
  // Reproducible builds date their files 1970: the package is still found.
  std::filesystem::last_write_time(in.dir / "Install.PLF", std::filesystem::file_time_type{});
  EXPECT_EQ(in.Run(), 0);
  EXPECT_TRUE(in.platform.boxes.empty());
  EXPECT_EQ(test::ReadFileBytes(target), "hello");
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
