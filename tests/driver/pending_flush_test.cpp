#include "driver/pending_flush.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "support/test_support.h"

namespace plf {
namespace {

using test::PathExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

// Records the flushes; the whole-file-system flush is there or not, and
// chosen files cannot be flushed or deleted.
class Flushes : public PlatformWrapper {
 public:
  Flushes() : PlatformWrapper(DefaultPlatform()) {}
  bool fileSystems = false;
  std::vector<std::vector<std::string>> fileSystemCalls;
  std::vector<std::string> named, started;
  std::set<std::string> failFlushOf, failDeleteOf;

  bool FlushFileSystems(const std::vector<std::string>& folders) override {
    fileSystemCalls.push_back(folders);
    return fileSystems;
  }
  bool FlushNamedFile(const std::string& p) override {
    named.push_back(p);
    return failFlushOf.count(p) == 0 && Inner().FlushNamedFile(p);
  }
  bool DeleteFile(const std::string& p) override { return failDeleteOf.count(p) == 0 && Inner().DeleteFile(p); }
  void StartFlushFileSystem(const std::string& f) override { started.push_back(f); }
};

class PendingFlush : public ::testing::Test {
 protected:
  test::TempDir dir;
  Flushes flushes;
  ScopedPlatform scope{flushes};
  TPendingFlush pending;

  // Writes each file (named by its content) and adds it with its backup.
  void Add(const std::vector<std::pair<const char*, const char*>>& files) {
    for (const auto& [name, backup] : files) {
      WriteFileBytes(dir / name, name);
      if (*backup != '\0') WriteFileBytes(dir / backup, std::string("old ") + name);
      pending.Add(dir / name, *backup != '\0' ? dir / backup : "");
    }
  }
};

TEST_F(PendingFlush, OneFlushPerFolderSetWhenTheFileSystemsCanBeFlushed) {
  flushes.fileSystems = true;
  std::filesystem::create_directory(dir / "sub");
  Add({{"a", ""}, {"b", ""}, {"sub/c", ""}});
  pending.Flush();
  EXPECT_EQ(flushes.fileSystemCalls, (std::vector<std::vector<std::string>>{{dir / "", dir / "sub/"}}));
  EXPECT_TRUE(flushes.named.empty());
  pending.Flush();  // emptied: nothing is flushed twice
  EXPECT_EQ(flushes.fileSystemCalls.size(), 1u);
}

TEST_F(PendingFlush, FileByFileOtherwiseEachTargetOnce) {
  Add({{"a", ""}, {"b", ""}, {"a", ""}, {"c", ""}});  // "a" written again by a later line
  pending.Forget(dir / "c");                          // replaced by a file flushed at once
  pending.Flush();
  EXPECT_EQ(flushes.named, (std::vector<std::string>{dir / "b", dir / "a"}));
}

TEST_F(PendingFlush, FileThatCannotBeFlushedIsTakenOutAndItsBackupPutBack) {
  flushes.failFlushOf = {dir / "a", dir / "c", dir / "d"};
  flushes.failDeleteOf = {dir / "d"};
  Add({{"a", "a_OLD"}, {"b", ""}, {"c", ""}, {"d", "d_OLD"}});
  try {
    pending.Flush();
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
  EXPECT_EQ(flushes.named.size(), 4u);  // every file was tried
  EXPECT_EQ(ReadFileBytes(dir / "a"), "old a");
  EXPECT_FALSE(PathExists(dir / "a_OLD"));
  EXPECT_EQ(ReadFileBytes(dir / "b"), "b");
  EXPECT_FALSE(PathExists(dir / "c"));
  // What cannot be deleted keeps the target; the backup stays where it is.
  EXPECT_EQ(ReadFileBytes(dir / "d"), "d");
  EXPECT_EQ(ReadFileBytes(dir / "d_OLD"), "old d");
}

TEST_F(PendingFlush, BackgroundFlushStartsAfterEnoughBytes) {
  const std::int64_t step = TPendingFlush::kStartAfter / 4;
  const std::string b = std::string("b") + Sys().PathSeparator();
  for (int i = 0; i < 3; ++i) pending.NoteWritten("x", step);
  EXPECT_TRUE(flushes.started.empty());
  pending.NoteWritten(b + "y", step);
  EXPECT_EQ(flushes.started, std::vector<std::string>{b});
  pending.NoteWritten(b + "y", TPendingFlush::kStartAfter - 1);  // counting starts again
  EXPECT_EQ(flushes.started.size(), 1u);
}

TEST_F(PendingFlush, FullAtTheLimit) {
  for (std::size_t i = 0; i + 1 < TPendingFlush::kLimit; ++i) pending.Add(std::to_string(i), "");
  pending.Add("0", "");  // the same target again
  EXPECT_FALSE(pending.Full());
  pending.Add("last", "");
  EXPECT_TRUE(pending.Full());
}

}  // namespace
}  // namespace plf
