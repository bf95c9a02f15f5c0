// The files that pack and extract write appear complete or not at all: a
// failure at any step leaves the old file as it was and no temporary file
// behind.
#include "tools/atomic_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "support/package_bytes.h"
#include "support/test_support.h"
#include "tool_harness.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;
using test::Tool;


std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A disk that fills up after `budget` bytes written to temporary files, or
// whose flush fails; the compressing threads may call it too.
class FullDisk : public PlatformWrapper {
 public:
  FullDisk(std::int64_t budget, bool failFlush)
      : PlatformWrapper(DefaultPlatform()), budget_(budget), failFlush_(failFlush) {}

  FileHandle OpenFile(const std::string& path, Access a, Share s, Disposition d) override {
    const FileHandle h = PlatformWrapper::OpenFile(path, a, s, d);
    std::lock_guard<std::mutex> lock(mutex_);
    if (h != kInvalidHandle && path.find(".tmp") != std::string::npos) temporary_.insert(h);
    return h;
  }
  std::int32_t WriteFile(FileHandle h, const void* b, std::int32_t n) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (temporary_.count(h) != 0 && (budget_ -= n) < 0) {
        errno = ENOSPC;  // Windows tells its own reason, not compared below
        return -1;
      }
    }
    return PlatformWrapper::WriteFile(h, b, n);
  }
  bool FlushFile(FileHandle h) override {
    if (failFlush_) {
      errno = EIO;
      return false;
    }
    return PlatformWrapper::FlushFile(h);
  }
  bool CloseFile(FileHandle h) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      temporary_.erase(h);
    }
    return PlatformWrapper::CloseFile(h);
  }

 private:
  std::mutex mutex_;
  std::set<FileHandle> temporary_;
  std::int64_t budget_;
  bool failFlush_;
};

TEST(AtomicFile, ReplacesOnlyOnCommitAndNeverLeavesItsTemporaryFile) {
  plf::test::TempDir dir;
  const std::string target = dir / "t.bin";
  plf::test::WriteFileBytes(target, "old");
  {
    AtomicFile file(target);
    file.Stream().WriteExact("new!", 4);
    EXPECT_EQ(plf::test::ReadFileBytes(target), "old");
    EXPECT_EQ(FolderNames(dir.Path()).size(), 2u);
  }
  EXPECT_EQ(plf::test::ReadFileBytes(target), "old");
  EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"t.bin"});

  // A leftover of an earlier run with the same process id is left alone.
  std::string leftover;
  {
    AtomicFile probe(target);
    leftover = probe.TemporaryPath();
  }
  plf::test::WriteFileBytes(leftover, "leftover");
  {
    AtomicFile file(target);
    EXPECT_NE(file.TemporaryPath(), leftover);
    file.Stream().WriteExact("new!", 4);
    file.Commit();
    EXPECT_THROW(file.Commit(), Exception);
  }
  EXPECT_EQ(plf::test::ReadFileBytes(target), "new!");
  EXPECT_EQ(plf::test::ReadFileBytes(leftover), "leftover");
  EXPECT_EQ(FolderNames(dir.Path()).size(), 2u);

  // A new file appears as well, only on commit.
  AtomicFile fresh(dir / "fresh");
  EXPECT_FALSE(plf::test::PathExists(dir / "fresh"));
  fresh.Commit();
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "fresh"), "");
}

class PackOverAPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "in/tree");
    plf::test::WriteFileBytes(dir / "in/script.ini", "[Files]\r\n");
    for (int i = 0; i < 6; ++i)
      plf::test::WriteFileBytes(dir / ("in/tree/f" + std::to_string(i)), plf::test::Noise(300000, i));
    fs::create_directories(dir / "out");
    test::WritePackage(package, {{"SCRIPT", "old"}, {"old", "the package that was there"}});
    old = plf::test::ReadFileBytes(package);
  }
  plf::test::TempDir dir;
  const std::string package = dir / "out/Install.PLF";
  std::string old;
};

TEST_F(PackOverAPackage, AFailedWriteOrFlushLeavesTheOldPackage) {
  struct Case {
    const char* what;
    std::int64_t budget;
    bool failFlush;
    const char* jobs;
    const char* complaint;
  };
  const Case cases[] = {
      {"the header", 0, false, "1", ": writing failed: "},
      {"an entry", 500000, false, "1", ": writing failed: "},
      {"an entry, two threads", 500000, false, "2", ": writing failed: "},
      {"the directory", 6 * 300000 + 400, false, "1", ": writing failed: "},
      {"the flush", 1 << 30, true, "2", ": flushing to disk failed: "},
  };
  for (const Case& c : cases) {
    FullDisk disk(c.budget, c.failFlush);
    test::Result r;
    {
      ScopedPlatform scope(disk);
      r = Tool({"pack", "-l", "0", "-j", c.jobs, package, dir / "in/script.ini", dir / "in/tree"});
    }
    EXPECT_EQ(r.code, 1) << c.what;
    EXPECT_EQ(r.err.rfind("plf pack: " + package + c.complaint, 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(r.err.find(package, 10 + package.size()), std::string::npos) << "the path once: " << r.err;
#ifndef _WIN32
    if (!c.failFlush) {
      EXPECT_NE(r.err.find(std::strerror(ENOSPC)), std::string::npos) << r.err;
    }
#endif
    EXPECT_TRUE(plf::test::ReadFileBytes(package) == old) << c.what;
    EXPECT_EQ(FolderNames(dir / "out"), std::vector<std::string>{"Install.PLF"}) << c.what;
  }
  const test::Result r = Tool({"pack", "-j", "2", package, dir / "in/script.ini", dir / "in/tree"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(FolderNames(dir / "out"), std::vector<std::string>{"Install.PLF"});
  EXPECT_EQ(Tool({"test", package}).code, 0);
}

TEST_F(PackOverAPackage, ExtractKeepsTheOldFileWhenTheEntryIsDamagedOrTheDiskFull) {
  const std::string data = plf::test::Noise(50000, 3);
  test::WritePackage(package, {{"a", data}, {"b", data}});
  std::string bytes = plf::test::ReadFileBytes(package);
  const std::size_t record = plf::test::RecordOffset(bytes, 0);
  // The checksum at the end of "a"'s data.
  const std::size_t last = static_cast<std::size_t>(plf::test::FieldAt(bytes, record + plf::test::kRecordDataOffset) +
                                                    plf::test::FieldAt(bytes, record + plf::test::kRecordCompressedSize)) -
                           1;
  bytes[last] = static_cast<char>(bytes[last] ^ 0x55);
  plf::test::WriteFileBytes(package, bytes);
  fs::create_directories(dir / "x");
  plf::test::WriteFileBytes(dir / "x/a", "old a");
  plf::test::WriteFileBytes(dir / "x/b", "old b");

  const test::Result damaged = Tool({"extract", "-C", dir / "x", package, "a"});
  EXPECT_EQ(damaged.code, 1);
  EXPECT_NE(damaged.err.find("entry \"a\" not written: Decompression error"), std::string::npos) << damaged.err;

  FullDisk disk(1000, false);
  test::Result full;
  {
    ScopedPlatform scope(disk);
    full = Tool({"extract", "-C", dir / "x", package, "b"});
  }
  EXPECT_EQ(full.code, 1);
  EXPECT_NE(full.err.find("entry \"b\" not written: " + (dir / "x/b") + ": writing failed: "), std::string::npos)
      << full.err;
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "x/a"), "old a");
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "x/b"), "old b");
  EXPECT_EQ(FolderNames(dir / "x"), (std::vector<std::string>{"a", "b"}));

  ASSERT_EQ(Tool({"extract", "-C", dir / "x", package, "b"}).code, 0);
  EXPECT_TRUE(plf::test::ReadFileBytes(dir / "x/b") == data);
}

}  // namespace
}  // namespace plf::tools
