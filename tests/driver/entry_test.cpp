#include "driver/entry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "runtime/exceptions.h"
#include "runtime/stream.h"
#include "support/package_bytes.h"
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

// A package of one entry, built byte by byte so that its records can lie.
std::string OneEntryPackage(const std::string& name, const std::string& data, std::int32_t uncompressed) {
  test::RawRecord r;
  r.name = name;
  r.dataOffset = 20;
  r.compressedSize = static_cast<std::int32_t>(data.size());
  r.uncompressedSize = uncompressed;
  r.date = {0x00, 0x07, 0x0F, 0x00};
  return test::PackageBytes(data, {test::RecordBytes(r)});
}

std::string ScriptPackage(const std::string& script) {
  return OneEntryPackage("SCRIPT", test::ZlibCompress(script), static_cast<std::int32_t>(script.size()));
}

TEST(Run, OutcomesOfThePackageAndItsScript) {
  const std::string script = "[Files]\r\n", warning = "Upozornění | ", error = "Nastala chyba: | ";
  const struct {
    const char* what;
    std::string package;  // "folder": a folder in its place; "": none
    int code;
    std::string shown;  // "caption | text" of the one box, if any
  } cases[] = {
      {"no package", "", 0, warning + "Soubor Install.PLF nebyl nalezen!"},
      {"a folder in its place", "folder", 0, warning + "Soubor Install.PLF nebyl nalezen!"},
      {"no SCRIPT entry", OneEntryPackage("OTHER", test::ZlibCompress(script), 9), 1,
       warning + "Soubor Install.PLF nemá správný formát!"},
      {"lower-case script", OneEntryPackage("script", test::ZlibCompress(script), 9), 0, ""},
      {"wrong version", test::FileHeaderBytes(20, 0x173FE512) + ScriptPackage(script).substr(20), 1,
       error + "Špatná verze inicializačního souboru!"},
      {"12-byte file", std::string("ZLIB_PLF\x13\xe5\x3f\x17", 12), 1, error + "Stream read error"},
      {"no data", OneEntryPackage("SCRIPT", "", 500), 0, ""},
      {"inflates short", OneEntryPackage("SCRIPT", test::ZlibCompress(script), 100), 1, error + "Stream read error"},
      {"damaged data", OneEntryPackage("SCRIPT", "\x78\x9c garbage that is no deflate", 9), 1,
       error + "Decompression error -3"},
      {"bad time", ScriptPackage("[Options]\nTimeStamp= 25:00 \n"), 1, error + "'25:00' is not a valid time"},
      {"verify fails", ScriptPackage("[Verify]\nDir=/no/such/folder\n"), 0,
       warning + "Nebyla nalezena předchozí instalace!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Installer in;
    if (c.package == "folder")
      std::filesystem::create_directory(in.dir / "Install.PLF");
    else if (!c.package.empty())
      test::WriteFileBytes(in.dir / "Install.PLF", c.package);
    EXPECT_EQ(in.Run(), c.code);
    std::string shown;
    for (const test::ShownBox& box : in.platform.boxes) shown += box.caption + " | " + box.text + ";";
    EXPECT_EQ(shown, c.shown.empty() ? "" : c.shown + ";");
  }
}

TEST(Run, InstallsBesideTheExecutableFromAnyCurrentFolder) {
  Installer in;
  // On POSIX a ":" is a file-name character, not a drive's end.
  if (Sys().PathSeparator() == '/') in.platform.modulePath = in.dir / "setup:v2";
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

TEST(ReadStreamToString, ReadsTheCountOrEverythingLeftAndRaisesWhenShort) {
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
  m.SetPosition(7);
  EXPECT_THROW(ReadStreamToString(&m, 4, &text), EReadError);
  m.SetPosition(7);
  EXPECT_THROW(ReadStreamToString(&m, 2000000000, &text), EReadError);
  EXPECT_LT(text.capacity(), 1u << 20);  // a recorded size is no reason to reserve
}

}  // namespace
}  // namespace plf
