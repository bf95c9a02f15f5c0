#include "driver/backup_name.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace plf {
namespace {

// The common patterns are installed through whole runs; these are the
// splits of name and pattern no install reaches cheaply.
TEST(BackupName, SplitsOfNameAndPattern) {
  test::NotationPlatform windows(true);
  ScopedPlatform scope(windows);
  const struct {
    const char* target;
    const char* pattern;
    const char* backup;
  } cases[] = {
      {"C:\\App\\app.exe", "*", "C:\\App\\app"},
      {"C:\\App.d\\README", "*_OLD.*", "C:\\App.d\\README_OLD."},
      {"C:\\App\\app.exe", "backup.old", "backup.old"},
      {"C:\\App\\a.tar.gz", "*_*.*", "C:\\App\\a.tar_*.gz"},
      {"C:\\App\\app.exe", "D:\\bak.d\\*", "D:\\bak.d\\C:\\App\\app"},  // the pattern's folder has no extension
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

}  // namespace
}  // namespace plf
