// Packing trees on several threads: the same bytes whatever the thread
// count, bounded memory through temporary files, failures that leave
// nothing behind. The files that pack and extract write appear complete or
// not at all: a failure at any step leaves the old file as it was and no
// temporary file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "support/package_bytes.h"
#include "support/test_support.h"
#include "tool_harness.h"
#include "tools/atomic_file.h"
#include "tools/parallel_pack.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;
using plf::test::ReadFileBytes;
using test::FolderNames;
using test::Tool;
using Names = std::vector<std::string>;

std::string Text(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  static const char* const kWords[] = {"alpha ", "beta ", "gamma ", "delta\r\n", "epsilon ", "zeta "};
  std::string s;
  while (s.size() < size) s += kWords[random() % 6];
  s.resize(size);
  return s;
}

// A disk that refuses to open the files whose path holds `failOpen`, fills
// up after `budget` bytes written to temporary files, or fails to flush;
// the compressing threads may call it too.
class Faults : public PlatformWrapper {
 public:
  Faults(std::string failOpen, std::int64_t budget, bool failFlush)
      : PlatformWrapper(DefaultPlatform()), failOpen_(std::move(failOpen)), budget_(budget), failFlush_(failFlush) {}

  FileHandle OpenFile(const std::string& path, Access a, Share s, Disposition d) override {
    if (!failOpen_.empty() && path.find(failOpen_) != std::string::npos) return kInvalidHandle;
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
    if (!failFlush_) return PlatformWrapper::FlushFile(h);
    errno = EIO;
    return false;
  }
  bool CloseFile(FileHandle h) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      temporary_.erase(h);
    }
    return PlatformWrapper::CloseFile(h);
  }

 private:
  const std::string failOpen_;
  std::mutex mutex_;
  std::set<FileHandle> temporary_;
  std::int64_t budget_;
  const bool failFlush_;
};

class PackTree : public ::testing::Test {
 protected:
  void SetUp() override {
    plf::test::WriteFileBytes(dir / "script.ini", "[Files]\r\n");
    fs::create_directories(dir / "tree/sub/deeper");
    // Sizes around the compressor's buffers, empty files, noise and text.
    const std::size_t sizes[] = {0, 1, 100, 65535, 65536, 65537, 262144, 262145, 300000, 3000};
    for (unsigned i = 0; i < 30; ++i) {
      files.push_back(std::string(i % 3 == 0 ? "tree/" : i % 3 == 1 ? "tree/sub/" : "tree/sub/deeper/") + "f" +
                      std::to_string(i) + ".dat");
      plf::test::WriteFileBytes(dir / files.back(), i % 2 == 0 ? Text(sizes[i % 10], i) : plf::test::Noise(sizes[i % 10], i));
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

TEST_F(PackTree, SameBytesWhateverTheThreadCountOrTheMemory) {
  std::string reference;
  for (const char* jobs : {"1", "3", "8"}) {
    const std::string out = dir / (std::string("p") + jobs + ".plf");
    ASSERT_EQ(Tool({"pack", "-j", jobs, "--date", "2001-02-03", out, dir / "script.ini", dir / "tree",
                    "x=" + (dir / "tree/sub")}).code, 0);
    if (reference.empty()) reference = ReadFileBytes(out);
    EXPECT_TRUE(ReadFileBytes(out) == reference) << "-j " << jobs << " gave other bytes";
  }
  TPreLoadReader reader(dir / "p1.plf");
  // SCRIPT, the tree sorted by name with "\" between folders, then the
  // second folder under its prefix.
  ASSERT_EQ(reader.EntryCount(), 1 + 30 + 20);
  EXPECT_EQ(reader.EntryName(0), "SCRIPT");
  EXPECT_EQ(reader.EntryName(31), "x\\deeper\\f11.dat");
  for (int i = 2; i <= 30; ++i) EXPECT_LT(reader.EntryName(i - 1), reader.EntryName(i));
  for (const std::string& file : files) {
    std::string name = file.substr(5);
    std::replace(name.begin(), name.end(), '/', '\\');
    EXPECT_TRUE(test::ReadEntry(reader, name) == ReadFileBytes(dir / file)) << name;
  }
  // Nearly every entry spills to a temporary file at 4096 bytes.
  std::vector<std::size_t> seen;
  Pack(dir / "s1.plf", 1, 1 << 24);
  Pack(dir / "s3.plf", 3, 4096, &seen);
  EXPECT_TRUE(ReadFileBytes(dir / "s1.plf") == ReadFileBytes(dir / "s3.plf"));
  ASSERT_EQ(seen.size(), files.size());
  EXPECT_EQ(seen.back(), files.size());
  EXPECT_EQ(FolderNames(dir.Path()), (Names{"p1.plf", "p3.plf", "p8.plf", "s1.plf", "s3.plf", "script.ini", "tree"}))
      << "temporary files left behind";
}

TEST_F(PackTree, AFailureNamesItsFileAndLeavesNothing) {
  const std::string bad = dir / files[17];
  const struct {
    std::string failOpen;
    unsigned jobs;
    std::string complaint;
  } cases[] = {{bad, 1, "\"" + bad + "\" cannot be opened"},
               {bad, 4, "\"" + bad + "\" cannot be opened"},
               {".~", 2, "the temporary file"}};
  for (const auto& c : cases) {
    Faults platform(c.failOpen, 1 << 30, false);
    ScopedPlatform scope(platform);
    try {
      Pack(dir / "broken.plf", c.jobs, 1000);
      ADD_FAILURE() << "no failure for " << c.complaint;
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(c.complaint), std::string::npos) << e.Message();
    }
    EXPECT_EQ(FolderNames(dir.Path()), (Names{"script.ini", "tree"})) << c.complaint;
  }
}

TEST_F(PackTree, AnEntryLeftOpenIsNoPackage) {
  const std::string out = dir / "open.plf";
  {
    TPackageWriter writer(out);
    writer.BeginCompressed("a");
    EXPECT_THROW(writer.AddBuffer("b", "x", 1), Exception);
    EXPECT_THROW(writer.BeginCompressed("c"), Exception);
    EXPECT_THROW(writer.Finish(), Exception);
  }
  EXPECT_FALSE(plf::test::PathExists(out));
  TPackageWriter writer(out);
  EXPECT_THROW(writer.AppendCompressed("x", 1), Exception);
  EXPECT_THROW(writer.EndCompressed(0), Exception);
}

TEST_F(PackTree, ProgressJsonAndThePackageInsideThePackedFolder) {
  const struct {
    bool terminal;
    std::string option;
    bool shown;
  } cases[] = {{true, "", true}, {true, "--no-progress", false}, {false, "", false}, {false, "--progress", true}};
  for (const auto& c : cases) {
    ToolEnvironment env;
    env.errIsTerminal = c.terminal;
    env.progressDelayMs = 0;
    Names args{"pack", "-j", "2"};
    if (!c.option.empty()) args.push_back(c.option);
    args.insert(args.end(), {dir / "p.plf", dir / "script.ini", dir / "tree"});
    const test::Result r = Tool(args, env);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("\rplf pack: ") != std::string::npos, c.shown) << r.err;
    // The line is wiped at the end, so the summary on stdout stands alone.
    EXPECT_TRUE(!c.shown || r.err.back() == '\r') << r.err;
  }
  const std::string out = dir / "tree/Install.PLF";
  for (int run = 0; run < 2; ++run) {
    const test::Result r = Tool({"pack", "--json", "--no-date", out, dir / "script.ini", dir / "tree"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"package\":", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"entries\":31"), std::string::npos) << "not packed again: " << r.out;
    EXPECT_EQ(TPreLoadReader(out).FindEntry("Install.PLF"), -1);
  }
  plf::test::WriteFileBytes(dir / "tree/F0.DAT", "x");
  if (!fs::equivalent(dir / "tree/f0.dat", dir / "tree/F0.DAT")) {
    const test::Result dup = Tool({"pack", "--no-date", dir / "d.plf", dir / "script.ini", dir / "tree"});
    EXPECT_EQ(dup.code, 2);
    EXPECT_NE(dup.err.find("given twice"), std::string::npos) << dup.err;
  }
}

// Failures of the atomic file itself are stated through pack and extract
// below; here only what they cannot reach.
TEST(AtomicFile, CommitsOnceAndLeavesAnEarlierRunsLeftoverAlone) {
  plf::test::TempDir dir;
  const std::string target = dir / "t.bin";
  plf::test::WriteFileBytes(target, "old");
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
    EXPECT_EQ(ReadFileBytes(target), "old");
    file.Commit();
    EXPECT_THROW(file.Commit(), Exception);
  }
  EXPECT_EQ(ReadFileBytes(target), "new!");
  EXPECT_EQ(ReadFileBytes(leftover), "leftover");
  EXPECT_EQ(FolderNames(dir.Path()).size(), 2u);
  AtomicFile fresh(dir / "fresh");
  EXPECT_FALSE(plf::test::PathExists(dir / "fresh"));
  fresh.Commit();
  EXPECT_EQ(ReadFileBytes(dir / "fresh"), "");
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
  const struct {
    const char* what;
    std::int64_t budget;
    bool failFlush;
    const char* jobs;
    const char* complaint;
  } cases[] = {
      {"the header", 0, false, "1", ": writing failed: "},
      {"an entry", 500000, false, "1", ": writing failed: "},
      {"an entry, two threads", 500000, false, "2", ": writing failed: "},
      {"the directory", 6 * 300000 + 400, false, "1", ": writing failed: "},
      {"the flush", 1 << 30, true, "2", ": flushing to disk failed: "},
  };
  for (const auto& c : cases) {
    Faults disk("", c.budget, c.failFlush);
    test::Result r;
    {
      ScopedPlatform scope(disk);
      r = Tool({"pack", "-l", "0", "-j", c.jobs, package, dir / "in/script.ini", dir / "in/tree"});
    }
    EXPECT_EQ(r.code, 1) << c.what;
    EXPECT_EQ(r.err.rfind("plf pack: " + package + c.complaint, 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(r.err.find(package, 10 + package.size()), std::string::npos) << "the path once: " << r.err;
#ifndef _WIN32
    EXPECT_TRUE(c.failFlush || r.err.find(std::strerror(ENOSPC)) != std::string::npos) << r.err;
#endif
    EXPECT_TRUE(ReadFileBytes(package) == old) << c.what;
    EXPECT_EQ(FolderNames(dir / "out"), Names{"Install.PLF"}) << c.what;
  }
  ASSERT_EQ(Tool({"pack", "-j", "2", package, dir / "in/script.ini", dir / "in/tree"}).code, 0);
  EXPECT_EQ(FolderNames(dir / "out"), Names{"Install.PLF"});
  EXPECT_EQ(Tool({"test", package}).code, 0);
}

TEST_F(PackOverAPackage, ExtractKeepsTheOldFileWhenTheEntryIsDamagedOrTheDiskFull) {
  const std::string data = plf::test::Noise(50000, 3);
  test::WritePackage(package, {{"a", data}, {"b", data}});
  std::string bytes = ReadFileBytes(package);
  // The checksum at the end of "a"'s data.
  const std::size_t record = plf::test::RecordOffset(bytes, 0);
  bytes[static_cast<std::size_t>(plf::test::FieldAt(bytes, record + plf::test::kRecordDataOffset) +
                                 plf::test::FieldAt(bytes, record + plf::test::kRecordCompressedSize)) - 1] ^= 0x55;
  plf::test::WriteFileBytes(package, bytes);
  fs::create_directories(dir / "x");
  plf::test::WriteFileBytes(dir / "x/a", "old a");
  plf::test::WriteFileBytes(dir / "x/b", "old b");
  const test::Result damaged = Tool({"extract", "-C", dir / "x", package, "a"});
  EXPECT_EQ(damaged.code, 1);
  EXPECT_NE(damaged.err.find("entry \"a\" not written: Decompression error"), std::string::npos) << damaged.err;
  Faults disk("", 1000, false);
  ScopedPlatform scope(disk);
  const test::Result full = Tool({"extract", "-C", dir / "x", package, "b"});
  EXPECT_EQ(full.code, 1);
  EXPECT_NE(full.err.find("entry \"b\" not written: " + (dir / "x/b") + ": writing failed: "), std::string::npos)
      << full.err;
  EXPECT_EQ(ReadFileBytes(dir / "x/a"), "old a");
  EXPECT_EQ(ReadFileBytes(dir / "x/b"), "old b");
  EXPECT_EQ(FolderNames(dir / "x"), (Names{"a", "b"}));
}

}  // namespace
}  // namespace plf::tools
