// Packing trees on several threads: the same bytes whatever the thread
// count, bounded memory through temporary files, failures that leave
// nothing behind. The files that pack and extract write appear complete or
// not at all: a failure at any step leaves the old file as it was and no
// temporary file behind.
#include <cerrno>
#include <cstring>
#include <mutex>
#include <tuple>

#include "runtime/exceptions.h"
#include "tool_harness.h"
#include "tools/parallel_pack.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;
using plf::test::ReadFileBytes;
using test::FolderNames;
using test::Tool;
using Names = std::vector<std::string>;

// A disk that refuses to open the files whose path holds `failOpen`, fills
// up after `budget` bytes written, or fails to flush; the compressing
// threads may call it too.
class Faults : public PlatformWrapper {
 public:
  Faults(std::string failOpen, std::int64_t budget, bool failFlush)
      : PlatformWrapper(DefaultPlatform()), failOpen_(std::move(failOpen)), budget_(budget), failFlush_(failFlush) {}

  FileHandle OpenFile(const std::string& path, Access a, Share s, Disposition d) override {
    if (!failOpen_.empty() && path.find(failOpen_) != std::string::npos) return kInvalidHandle;
    return PlatformWrapper::OpenFile(path, a, s, d);
  }
  std::int32_t WriteFile(FileHandle h, const void* b, std::int32_t n) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if ((budget_ -= n) < 0) {
        errno = ENOSPC;  // Windows tells its own reason, not compared below
        return -1;
      }
    }
    return PlatformWrapper::WriteFile(h, b, n);
  }
  bool FlushFile(FileHandle h) override {
    if (!failFlush_) return PlatformWrapper::FlushFile(h);
    errno = EIO;
    return false;
  }

 private:
  const std::string failOpen_;
  std::mutex mutex_;
  std::int64_t budget_;
  const bool failFlush_;
};

class PackTree : public ::testing::Test {
 protected:
  void SetUp() override {
    plf::test::WriteFileBytes(dir / "script.ini", "[Files]\r\n");
    fs::create_directories(dir / "tree/sub/deeper");
    // Sizes around the compressor's buffers, and empty files.
    const std::size_t sizes[] = {0, 1, 100, 65535, 65536, 65537, 262144, 262145, 300000, 3000};
    for (unsigned i = 0; i < 30; ++i) {
      files.push_back(std::string(i % 3 == 0 ? "tree/" : i % 3 == 1 ? "tree/sub/" : "tree/sub/deeper/") + "f" +
                      std::to_string(i) + ".dat");
      plf::test::WriteFileBytes(dir / files.back(), plf::test::Noise(sizes[i % 10], i));
    }
  }
  // Packs the tree's files through the library, not the command line.
  void Pack(const std::string& out, unsigned jobs, std::size_t memory, std::vector<std::size_t>* seen = nullptr) {
    std::vector<PackItem> items;
    for (const std::string& file : files) items.push_back({file, dir / file, test::Date(2010, 1, 1)});
    TPackageWriter writer(out, 1);
    PackOptions options;
    options.jobs = jobs;
    options.memoryPerEntry = memory;
    if (seen) options.progress = [seen](const PackProgress& p) { seen->push_back(p.entriesDone); };
    PackFiles(writer, items, options);
    writer.Finish();
  }
  plf::test::TempDir dir;
  std::vector<std::string> files;
};

// The second pack finds the first one's package in the folder it packs,
// and leaves it out.
TEST_F(PackTree, SameBytesWhateverTheThreadCountOrTheMemory) {
  const std::string out = dir / "tree/Install.PLF";
  std::string first;
  // Progress is shown when asked for, whatever the error stream is, on one
  // line that is wiped at the end.
  for (const auto& [jobs, option, terminal] : {std::tuple{"1", "--no-progress", true}, {"3", "--progress", false}}) {
    ToolEnvironment env;
    env.errIsTerminal = terminal;
    env.progressDelayMs = 0;
    const test::Result r = Tool({"pack", "-j", jobs, option, "--date", "2001-02-03", out, dir / "script.ini",
                                 dir / "tree", "x=" + (dir / "tree/sub")}, env);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("\rplf pack: ") != std::string::npos, !terminal) << r.err;
    EXPECT_TRUE(terminal || r.err.back() == '\r') << r.err;
    if (first.empty()) first = ReadFileBytes(out);
  }
  EXPECT_TRUE(ReadFileBytes(out) == first);
  TPreLoadReader reader(out);
  // SCRIPT, the tree sorted by name with "\" between folders, then the
  // second folder under its prefix.
  ASSERT_EQ(reader.EntryCount(), 1 + 30 + 20);
  EXPECT_EQ(reader.EntryName(0), "SCRIPT");
  EXPECT_EQ(reader.EntryName(31), "x\\deeper\\f11.dat");
  for (int i = 2; i <= 30; ++i) EXPECT_LT(reader.EntryName(i - 1), reader.EntryName(i));
  EXPECT_TRUE(test::ReadEntry(reader, "sub\\deeper\\f5.dat") == ReadFileBytes(dir / "tree/sub/deeper/f5.dat"));
  // Nearly every entry spills to a temporary file at 4096 bytes.
  std::vector<std::size_t> seen;
  Pack(dir / "s1.plf", 1, 1 << 24);
  Pack(dir / "s3.plf", 3, 4096, &seen);
  EXPECT_TRUE(ReadFileBytes(dir / "s1.plf") == ReadFileBytes(dir / "s3.plf"));
  ASSERT_EQ(seen.size(), files.size());
  EXPECT_EQ(seen.back(), files.size());
  EXPECT_EQ(FolderNames(dir.Path()), (Names{"s1.plf", "s3.plf", "script.ini", "tree"})) << "temporary files left behind";
}

TEST_F(PackTree, AFailureLeavesNothing) {
  const std::string bad = dir / files[17];
  // A file of the tree, or a temporary file of the compressing threads, that cannot be opened.
  const std::pair<std::string, unsigned> cases[] = {{bad, 1}, {bad, 4}, {".~", 2}};
  for (const auto& [failOpen, jobs] : cases) {
    Faults platform(failOpen, 1 << 30, false);
    ScopedPlatform scope(platform);
    EXPECT_THROW(Pack(dir / "broken.plf", jobs, 1000), Exception) << failOpen << " " << jobs;
    EXPECT_EQ(FolderNames(dir.Path()), (Names{"script.ini", "tree"})) << failOpen << " " << jobs;
  }
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
    old = ReadFileBytes(package);
  }
  plf::test::TempDir dir;
  const std::string package = dir / "out/Install.PLF";
  std::string old;
};

TEST_F(PackOverAPackage, AFailedWriteOrFlushLeavesTheOldPackage) {
  const std::tuple<std::int64_t, bool, const char*, const char*> cases[] = {  // budget, flush fails, -j
      {0, false, "1", ": writing failed: "},                      // the header
      {500000, false, "2", ": writing failed: "},                 // an entry
      {6 * 300000 + 400, false, "1", ": writing failed: "},       // the directory
      {1 << 30, true, "2", ": flushing to disk failed: "},
  };
  for (const auto& [budget, failFlush, jobs, complaint] : cases) {
    Faults disk("", budget, failFlush);
    ScopedPlatform scope(disk);
    const test::Result r = Tool({"pack", "-l", "0", "-j", jobs, package, dir / "in/script.ini", dir / "in/tree"});
    EXPECT_EQ(r.code, 1) << budget;
    EXPECT_EQ(r.err.rfind("plf pack: " + package + complaint, 0), 0u) << budget << ": " << r.err;
    EXPECT_EQ(r.err.find(package, 10 + package.size()), std::string::npos) << "the path once: " << r.err;
#ifndef _WIN32
    EXPECT_TRUE(failFlush || r.err.find(std::strerror(ENOSPC)) != std::string::npos) << r.err;
#endif
    EXPECT_TRUE(ReadFileBytes(package) == old) << budget;
    EXPECT_EQ(FolderNames(dir / "out"), Names{"Install.PLF"}) << budget;
  }
}

TEST_F(PackOverAPackage, ExtractKeepsTheOldFileWhenTheEntryIsDamagedOrTheDiskFull) {
  test::WritePackage(package, {{"a", plf::test::Noise(50000, 3)}, {"b", plf::test::Noise(50000, 3)}});
  std::string bytes = ReadFileBytes(package);
  const TPreLoadEntry a = TPreLoadReader(package).Entry(0);
  bytes[static_cast<std::size_t>(a.dataOffset + a.compressedSize - 1)] ^= 0x55;  // its checksum
  plf::test::WriteFileBytes(package, bytes);
  fs::create_directories(dir / "x");
  plf::test::WriteFileBytes(dir / "x/a", "old a");
  plf::test::WriteFileBytes(dir / "x/b", "old b");
  const test::Result damaged = Tool({"extract", "-C", dir / "x", package, "a"});
  EXPECT_NE(damaged.err.find("entry \"a\" not written: Decompression error"), std::string::npos) << damaged.err;
  Faults disk("", 1000, false);
  ScopedPlatform scope(disk);
  const test::Result full = Tool({"extract", "-C", dir / "x", package, "b"});
  EXPECT_NE(full.err.find("entry \"b\" not written: " + (dir / "x/b") + ": writing failed: "), std::string::npos)
      << full.err;
  EXPECT_EQ(damaged.code + full.code, 2);
  EXPECT_EQ(ReadFileBytes(dir / "x/a") + ReadFileBytes(dir / "x/b"), "old aold b");
  EXPECT_EQ(FolderNames(dir / "x"), (Names{"a", "b"}));
}

}  // namespace
}  // namespace plf::tools
