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

TEST(BackupName, WindowsTable) {
  WindowsFolders windows;
  ScopedPlatform scope(windows);
  struct Case {
    const char* target;
    const char* pattern;
    const char* backup;
  } cases[] = {
      {"C:\\App\\app.exe", "*_OLD.*", "C:\\App\\app_OLD.exe"},
      {"C:\\App\\app.exe", "*.bak", "C:\\App\\app.bak"},
      {"C:\\App\\app.exe", "*.*~", "C:\\App\\app.exe~"},
      {"C:\\App\\app.exe", "*", "C:\\App\\app"},
      {"C:\\App\\README", "*_OLD.*", "C:\\App\\README_OLD."},
      {"C:\\App.d\\README", "*_OLD.*", "C:\\App.d\\README_OLD."},
      {"C:\\App\\app.exe", "old_*.*", "old_C:\\App\\app.exe"},
      {"C:\\App\\app.exe", "backup.old", "backup.old"},
      {"C:\\App\\a.tar.gz", "*_OLD.*", "C:\\App\\a.tar_OLD.gz"},
      {"C:\\App\\app.exe", "*_*.*", "C:\\App\\app_*.exe"},
      // The pattern's own folder part has no extension.
      {"C:\\App\\app.exe", "D:\\bak.d\\*", "D:\\bak.d\\C:\\App\\app"},
      {"C:\\App\\app.exe", "*.~*", "C:\\App\\app.~exe"},
      {"C:\\App\\app.exe", "*.*", "C:\\App\\app.exe"},
      {"C:app.exe", "*_OLD.*", "C:app_OLD.exe"},
      // Blanks are a pattern like any other.
      {"C:\\App\\app.exe", "   ", "   "},
  };
  for (const Case& c : cases) {
    std::string backup = "stale";
    MakeBackupName(c.target, c.pattern, &backup);
    EXPECT_EQ(backup, c.backup) << c.target << " with " << c.pattern;
  }
}

TEST(BackupName, SlashEndsTheFolderPartOnPosix) {
  test::NotationPlatform posix(false);
  ScopedPlatform scope(posix);
  std::string backup;
  MakeBackupName("/opt/my.dir/README", "*_OLD.*", &backup);
  EXPECT_EQ(backup, "/opt/my.dir/README_OLD.");
  MakeBackupName("/opt/app.exe", "*_OLD.*", &backup);
  EXPECT_EQ(backup, "/opt/app_OLD.exe");
}

TEST(EnsureTargetFolder, AsksForTheFolderPart) {
  WindowsFolders windows;
  ScopedPlatform scope(windows);
  struct Case {
    const char* target;
    const char* lastCreated;  // empty: nothing created
  } cases[] = {
      {"C:\\App\\sub\\x.dll", "C:\\App\\sub"},
      {"x.dll", ""},
      {"C:\\x.dll", ""},  // the drive itself is never made
      {"\\x.dll", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    windows.created.clear();
    EnsureTargetFolder(c.target);
    EXPECT_EQ(windows.created.empty() ? std::string() : windows.created.back(), c.lastCreated) << c.target;
  }
}

}  // namespace
}  // namespace plf
