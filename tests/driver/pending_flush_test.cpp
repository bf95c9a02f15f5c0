#include "driver/pending_flush.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "support/fault_platform.h"

namespace plf {
namespace {

class PendingFlush : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::FaultPlatform flushes;
  ScopedPlatform scope{flushes};
  TPendingFlush pending;

  // Writes each file (named by its content) and adds it with its backup.
  void Add(const std::vector<std::pair<const char*, const char*>>& files) {
    for (const auto& [name, backup] : files) {
      test::WriteFileBytes(dir / name, name);
      if (*backup != '\0') test::WriteFileBytes(dir / backup, std::string("old ") + name);
      pending.Add(dir / name, *backup != '\0' ? dir / backup : "");
    }
  }
};

// Whole installs flush one folder's files.
TEST_F(PendingFlush, OneFlushForTheFolderSet) {
  std::filesystem::create_directory(dir / "sub");
  Add({{"a", ""}, {"sub/c", ""}, {"b", ""}});
  pending.Flush();
  pending.Flush();
  // Windows flushes no file system: the files follow by name.
  EXPECT_EQ(flushes.Ops().front(), "syncfs " + (dir / "") + " " + (dir / "sub/"));
  EXPECT_EQ(flushes.Count("syncfs"), 1);  // emptied: nothing is flushed twice
}

// Where the file systems cannot be flushed, each target is flushed once by
// name. A file whose backup is put back is the end of whole installs; here a
// new file is deleted, and one that cannot be deleted keeps the target while
// its backup stays where it is.
TEST_F(PendingFlush, FileThatCannotBeFlushedIsTakenOut) {
  flushes.failWhen = [this](const std::string& op, const std::string& arg) {
    return op == "syncfs" || (op == "flushname" && arg != dir / "b") || (op == "delete" && arg == dir / "d");
  };
  Add({{"b", ""}, {"c", ""}, {"d", "d_OLD"}, {"b", ""}, {"e", ""}});  // "b" written again by a later line
  pending.Forget(dir / "e");                                           // replaced by a file flushed at once
  EXPECT_THROW(pending.Flush(), EWriteError);
  EXPECT_EQ(flushes.Count("flushname"), 3);  // every file was tried, once
  EXPECT_EQ(test::ReadFileBytes(dir / "b"), "b");
  EXPECT_FALSE(test::PathExists(dir / "c"));
  EXPECT_EQ(test::ReadFileBytes(dir / "d"), "d");
  EXPECT_EQ(test::ReadFileBytes(dir / "d_OLD"), "old d");
}

// The run flushes when the list is full, so that its memory stays bounded;
// a target added again is one item.
TEST_F(PendingFlush, FullAtTheLimit) {
  for (std::size_t i = 0; i + 1 < TPendingFlush::kLimit; ++i) pending.Add(std::to_string(i), "");
  pending.Add("0", "");
  EXPECT_FALSE(pending.Full());
  pending.Add("last", "");
  EXPECT_TRUE(pending.Full());
}

}  // namespace
}  // namespace plf
