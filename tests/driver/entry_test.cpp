#include "driver/entry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "package/package_writer.h"
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

// The one warning each shows; the fault matrix (tests/reliability) runs the
// errors.
TEST(Run, PackagesThatCannotBeInstalled) {
  const struct {
    const char* what;
    std::string package;  // "folder": a folder in its place; "": none
    int code;
    const char* warning;
  } cases[] = {
      {"no package", "", 0, "Soubor Install.PLF nebyl nalezen!"},
      {"a folder in its place", "folder", 0, "Soubor Install.PLF nebyl nalezen!"},
      {"no SCRIPT entry", test::PackageBytes("", {}), 1, "Soubor Install.PLF nemá správný formát!"},
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
    EXPECT_EQ(shown, std::string("Upozornění | ") + c.warning + ";");
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

}  // namespace
}  // namespace plf
