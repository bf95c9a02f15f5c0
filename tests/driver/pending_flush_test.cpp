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
using test::TempDir;
using test::WriteFileBytes;

// Records the flushes; the whole-file-system flush is there or not, and
// chosen files cannot be flushed or deleted.
class Flushes : public PlatformWrapper {
 public:
  explicit Flushes(bool fileSystems) : PlatformWrapper(DefaultPlatform()), fileSystems_(fileSystems) {}
  std::vector<std::vector<std::string>> fileSystemCalls;
  std::vector<std::string> named;
  std::set<std::string> failFlushOf;
  std::set<std::string> failDeleteOf;

  bool FlushFileSystems(const std::vector<std::string>& folders) override {
    fileSystemCalls.push_back(folders);
    return fileSystems_;
  }
  bool FlushNamedFile(const std::string& p) override {
    named.push_back(p);
    return failFlushOf.count(p) == 0 && Inner().FlushNamedFile(p);
  }
  bool DeleteFile(const std::string& p) override { return failDeleteOf.count(p) == 0 && Inner().DeleteFile(p); }
  std::vector<std::string> started;
  void StartFlushFileSystem(const std::string& f) override { started.push_back(f); }

 private:
  bool fileSystems_;
};

TEST(PendingFlush, OneFlushPerFolderSetWhenTheFileSystemsCanBeFlushed) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  for (const char* name : {"a", "b", "sub/c"}) WriteFileBytes(dir / name, name);
  Flushes flushes(true);
  ScopedPlatform scope(flushes);
  TPendingFlush pending;
  pending.Add(dir / "a", "");
  pending.Add(dir / "b", "");
  pending.Add(dir / "sub/c", "");
  pending.Flush();
  ASSERT_EQ(flushes.fileSystemCalls.size(), 1u);
  EXPECT_EQ(flushes.fileSystemCalls[0], (std::vector<std::string>{dir / "", dir / "sub/"}));
  EXPECT_TRUE(flushes.named.empty());
  pending.Flush();  // emptied: nothing is flushed twice
  EXPECT_EQ(flushes.fileSystemCalls.size(), 1u);
}

TEST(PendingFlush, FileByFileOtherwiseEachTargetOnce) {
  TempDir dir;
  for (const char* name : {"a", "b", "c"}) WriteFileBytes(dir / name, name);
  Flushes flushes(false);
  ScopedPlatform scope(flushes);
  TPendingFlush pending;
  pending.Add(dir / "a", "");
  pending.Add(dir / "b", "");
  pending.Add(dir / "a", "");  // written again by a later line
  pending.Add(dir / "c", "");
  pending.Forget(dir / "c");   // replaced by a file flushed at once
  pending.Flush();
  EXPECT_EQ(flushes.named, (std::vector<std::string>{dir / "b", dir / "a"}));
}

TEST(PendingFlush, FileThatCannotBeFlushedIsTakenOutAndItsBackupPutBack) {
  TempDir dir;
  WriteFileBytes(dir / "a", "new a");
  WriteFileBytes(dir / "a_OLD", "old a");
  WriteFileBytes(dir / "b", "new b");
  WriteFileBytes(dir / "c", "new c");
  WriteFileBytes(dir / "d", "new d");
  WriteFileBytes(dir / "d_OLD", "old d");
  Flushes flushes(false);
  flushes.failFlushOf = {dir / "a", dir / "c", dir / "d"};
  flushes.failDeleteOf = {dir / "d"};
  ScopedPlatform scope(flushes);
  TPendingFlush pending;
  pending.Add(dir / "a", dir / "a_OLD");
  pending.Add(dir / "b", "");
  pending.Add(dir / "c", "");
  pending.Add(dir / "d", dir / "d_OLD");
  try {
    pending.Flush();
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
  EXPECT_EQ(flushes.named.size(), 4u);  // every file was tried
  EXPECT_EQ(ReadFileBytes(dir / "a"), "old a");
  EXPECT_FALSE(PathExists(dir / "a_OLD"));
  EXPECT_EQ(ReadFileBytes(dir / "b"), "new b");
  EXPECT_FALSE(PathExists(dir / "c"));
  // What cannot be deleted keeps the target; the backup stays where it is.
  EXPECT_EQ(ReadFileBytes(dir / "d"), "new d");
  EXPECT_EQ(ReadFileBytes(dir / "d_OLD"), "old d");
}

TEST(PendingFlush, BackgroundFlushStartsAfterEnoughBytes) {
  Flushes flushes(true);
  ScopedPlatform scope(flushes);
  TPendingFlush pending;
  const std::int64_t step = TPendingFlush::kStartAfter / 4;
  const std::string b = std::string("b") + Sys().PathSeparator();
  for (int i = 0; i < 3; ++i) pending.NoteWritten("x", step);
  EXPECT_TRUE(flushes.started.empty());
  pending.NoteWritten(b + "y", step);
  EXPECT_EQ(flushes.started, std::vector<std::string>{b});
  pending.NoteWritten(b + "y", TPendingFlush::kStartAfter - 1);  // counting starts again
  EXPECT_EQ(flushes.started.size(), 1u);
}

TEST(PendingFlush, FullAtTheLimit) {
  TPendingFlush pending;
  for (std::size_t i = 0; i + 1 < TPendingFlush::kLimit; ++i) pending.Add(std::to_string(i), "");
  EXPECT_FALSE(pending.Full());
  pending.Add("0", "");  // the same target again
  EXPECT_FALSE(pending.Full());
  pending.Add("last", "");
  EXPECT_TRUE(pending.Full());
}

}  // namespace
}  // namespace plf
