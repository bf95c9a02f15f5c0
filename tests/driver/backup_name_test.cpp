#include "driver/backup_name.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace plf {
namespace {

// Windows notation; folders are only recorded, never made.
class WindowsFolders : public test::NotationPlatform {
 public:
  WindowsFolders() : NotationPlatform(true) {}
  std::vector<std::string> created;
  std::uint32_t GetAttributes(const std::string&) override { return kInvalidAttributes; }
  bool CreateDirectory(const std::string& p) override {
    created.push_back(p);
    return true;
  }
};

// The common patterns are installed through whole runs; these are the
// splits of name and pattern no install reaches cheaply.
TEST(BackupName, WindowsTable) {
  WindowsFolders windows;
  ScopedPlatform scope(windows);
  const struct {
    const char* target;
    const char* pattern;
    const char* backup;
  } cases[] = {
      {"C:\\App\\app.exe", "*.bak", "C:\\App\\app.bak"},
      {"C:\\App\\app.exe", "*.*~", "C:\\App\\app.exe~"},
      {"C:\\App\\app.exe", "*", "C:\\App\\app"},
      {"C:\\App.d\\README", "*_OLD.*", "C:\\App.d\\README_OLD."},
      {"C:\\App\\app.exe", "old_*.*", "old_C:\\App\\app.exe"},
      {"C:\\App\\app.exe", "backup.old", "backup.old"},
      {"C:\\App\\a.tar.gz", "*_OLD.*", "C:\\App\\a.tar_OLD.gz"},
      {"C:\\App\\app.exe", "*_*.*", "C:\\App\\app_*.exe"},
      // The pattern's own folder part has no extension.
      {"C:\\App\\app.exe", "D:\\bak.d\\*", "D:\\bak.d\\C:\\App\\app"},
      {"C:app.exe", "*_OLD.*", "C:app_OLD.exe"},
      {"C:\\App\\app.exe", "   ", "   "},  // blanks are a pattern like any other
  };
  for (const auto& c : cases) {
    std::string backup = "stale";
    MakeBackupName(c.target, c.pattern, &backup);
    EXPECT_EQ(backup, c.backup) << c.target << " with " << c.pattern;
  }
  test::NotationPlatform posix(false);
  ScopedPlatform posixScope(posix);
  std::string backup;
  MakeBackupName("/opt/my.dir/README", "*_OLD.*", &backup);  // "/" ends the folder part there
  EXPECT_EQ(backup, "/opt/my.dir/README_OLD.");
}

TEST(EnsureTargetFolder, AsksForTheFolderPart) {
  WindowsFolders windows;
  ScopedPlatform scope(windows);
  // The drive itself, or the root, is never made.
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\App\\sub\\x.dll", "C:\\App\\sub"}, {"x.dll", ""}, {"C:\\x.dll", ""}, {"\\x.dll", ""}, {"", ""}};
  for (const auto& [target, lastCreated] : cases) {
    windows.created.clear();
    EnsureTargetFolder(target);
    EXPECT_EQ(windows.created.empty() ? std::string() : windows.created.back(), lastCreated) << target;
  }
}

}  // namespace
}  // namespace plf
