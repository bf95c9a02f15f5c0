// Packing trees on several threads: the same bytes whatever the thread
// count, bounded memory through temporary files, failures that leave
// nothing behind.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "support/test_support.h"
#include "tool_harness.h"
#include "tools/parallel_pack.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;
using test::Tool;

std::string Text(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  static const char* const kWords[] = {"alpha ", "beta ", "gamma ", "delta\r\n", "epsilon ", "zeta "};
  std::string s;
  while (s.size() < size) s += kWords[random() % 6];
  s.resize(size);
  return s;
}

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(random() & 0xFF);
  return s;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class PackTree : public ::testing::Test {
 protected:
  void SetUp() override {
    plf::test::WriteFileBytes(dir / "script.ini", "[Files]\r\n");
    fs::create_directories(dir / "tree/sub/deeper");
    // Sizes around the compressor's buffers, empty files, noise and text.
    const std::size_t sizes[] = {0, 1, 100, 65535, 65536, 65537, 262144, 262145, 300000, 3000};
    for (unsigned i = 0; i < 30; ++i) {
      const std::string folder = i % 3 == 0 ? "tree/" : i % 3 == 1 ? "tree/sub/" : "tree/sub/deeper/";
      const std::size_t size = sizes[i % 10];
      files.push_back(folder + "f" + std::to_string(i) + ".dat");
      plf::test::WriteFileBytes(dir / files.back(), i % 2 == 0 ? Text(size, i) : Noise(size, i));
    }
  }

  plf::test::TempDir dir;
  std::vector<std::string> files;
};

TEST_F(PackTree, SameBytesWhateverTheThreadCount) {
  std::string reference;
  for (const char* jobs : {"1", "2", "3", "8"}) {
    const std::string out = dir / (std::string("p") + jobs + ".plf");
    const test::Result r =
        Tool({"pack", "-j", jobs, "--date", "2001-02-03", out, dir / "script.ini", dir / "tree", "x=" + (dir / "tree/sub")});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string bytes = plf::test::ReadFileBytes(out);
    if (reference.empty())
      reference = bytes;
    else
      EXPECT_TRUE(bytes == reference) << "-j " << jobs << " gave other bytes";
  }

  TPreLoadReader reader(dir / "p1.plf");
  // SCRIPT, the tree sorted by name with "\" between folders, then the
  // second folder under its prefix.
  ASSERT_EQ(reader.EntryCount(), 1 + 30 + 20);
  EXPECT_EQ(reader.EntryName(0), "SCRIPT");
  EXPECT_EQ(reader.EntryName(1), "f0.dat");
  EXPECT_EQ(reader.EntryName(31), "x\\deeper\\f11.dat");
  for (int i = 2; i <= 30; ++i) EXPECT_LT(reader.EntryName(i - 1), reader.EntryName(i));
  for (const std::string& file : files) {
    std::string name = file.substr(5);
    for (char& c : name)
      if (c == '/') c = '\\';
    EXPECT_TRUE(test::ReadEntry(reader, name) == plf::test::ReadFileBytes(dir / file)) << name;
  }
  EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"p1.plf", "p2.plf", "p3.plf", "p8.plf", "script.ini",
                                                                "tree"}))
      << "temporary files left behind";
}

TEST_F(PackTree, LargeEntriesMoveToTemporaryFilesAndGiveTheSameBytes) {
  std::vector<PackItem> items;
  for (const std::string& file : files) items.push_back({file, dir / file, test::Date(2010, 1, 1)});
  std::string serial;
  for (unsigned jobs : {1u, 3u}) {
    const std::string out = dir / ("spill" + std::to_string(jobs) + ".plf");
    {
      TPackageWriter writer(out, 1);
      PackOptions options;
      options.jobs = jobs;
      options.memoryPerEntry = 4096;  // nearly every entry spills
      std::vector<std::size_t> seen;
      options.progress = [&](const PackProgress& p) { seen.push_back(p.entriesDone); };
      PackFiles(writer, items, options);
      writer.Finish();
      ASSERT_EQ(seen.size(), items.size());
      EXPECT_EQ(seen.back(), items.size());
    }
    if (jobs == 1)
      serial = plf::test::ReadFileBytes(out);
    else
      EXPECT_TRUE(plf::test::ReadFileBytes(out) == serial);
  }
  EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"script.ini", "spill1.plf", "spill3.plf", "tree"}));
}

// Fails opening one input file, or creating temporary files; safe to call
// from the compressing threads.
class FailingInputs : public PlatformWrapper {
 public:
  FailingInputs(std::string failPath, bool failSpill)
      : PlatformWrapper(DefaultPlatform()), failPath_(std::move(failPath)), failSpill_(failSpill) {}
  FileHandle OpenFile(const std::string& path, Access a, Share s, Disposition d) override {
    if (path == failPath_) return kInvalidHandle;
    if (failSpill_ && path.find(".~") != std::string::npos) return kInvalidHandle;
    return PlatformWrapper::OpenFile(path, a, s, d);
  }

 private:
  const std::string failPath_;
  const bool failSpill_;
};

TEST_F(PackTree, AFailureNamesItsFileAndLeavesNothing) {
  struct Case {
    std::string failPath;
    bool failSpill;
    unsigned jobs;
    std::string complaint;
  };
  const std::string bad = dir / files[17];
  const Case cases[] = {
      {bad, false, 1, "\"" + bad + "\" cannot be opened"},
      {bad, false, 4, "\"" + bad + "\" cannot be opened"},
      {"", true, 2, "the temporary file"},
  };
  for (const Case& c : cases) {
    std::vector<PackItem> items;
    for (const std::string& file : files) items.push_back({file, dir / file, PackedDate()});
    const std::string out = dir / "broken.plf";
    FailingInputs platform(c.failPath, c.failSpill);
    ScopedPlatform scope(platform);
    try {
      TPackageWriter writer(out);
      PackOptions options;
      options.jobs = c.jobs;
      options.memoryPerEntry = 1000;
      PackFiles(writer, items, options);
      writer.Finish();
      ADD_FAILURE() << "no failure for " << c.complaint;
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(c.complaint), std::string::npos) << e.Message();
    }
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"script.ini", "tree"})) << c.complaint;
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

TEST_F(PackTree, ProgressLineOnlyOnATerminal) {
  struct Case {
    bool terminal;
    std::vector<std::string> options;
    bool shown;
  };
  const Case cases[] = {
      {true, {}, true}, {true, {"--no-progress"}, false}, {false, {}, false}, {false, {"--progress"}, true}};
  for (const Case& c : cases) {
    ToolEnvironment env;
    env.errIsTerminal = c.terminal;
    env.progressDelayMs = 0;
    std::vector<std::string> args{"pack", "-j", "2"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {dir / "p.plf", dir / "script.ini", dir / "tree"});
    const test::Result r = Tool(args, env);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("\rplf pack: ") != std::string::npos, c.shown) << r.err;
    if (c.shown) {
      // The line is wiped at the end, so the summary on stdout stands alone.
      EXPECT_EQ(r.err.back(), '\r');
      EXPECT_NE(r.err.find("entries"), std::string::npos);
    }
  }
}

TEST_F(PackTree, APackageInsideThePackedFolderIsNotPackedAgain) {
  const std::string out = dir / "tree/Install.PLF";
  for (int run = 0; run < 2; ++run) {
    const test::Result r = Tool({"pack", "--no-date", out, dir / "script.ini", dir / "tree"});
    ASSERT_EQ(r.code, 0) << r.err;
    TPreLoadReader reader(out);
    EXPECT_EQ(reader.EntryCount(), 31);
    EXPECT_EQ(reader.FindEntry("Install.PLF"), -1);
  }
}

TEST_F(PackTree, JsonAndThreadCountChecks) {
  const test::Result r = Tool({"pack", "--json", "--no-date", dir / "p.plf", dir / "script.ini", dir / "tree"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"package\":", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\"entries\":31"), std::string::npos) << r.out;
  for (const char* jobs : {"0", "x", "257"}) {
    const test::Result bad = Tool({"pack", "-j", jobs, dir / "q.plf", dir / "script.ini"});
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.err.find("thread count"), std::string::npos) << bad.err;
  }
  // Two files of a tree whose names differ in letter case only.
  plf::test::WriteFileBytes(dir / "tree/F0.DAT", "x");
  if (fs::exists(dir / "tree/f0.dat") && fs::exists(dir / "tree/F0.DAT") &&
      !fs::equivalent(dir / "tree/f0.dat", dir / "tree/F0.DAT")) {
    const test::Result dup = Tool({"pack", "--no-date", dir / "d.plf", dir / "script.ini", dir / "tree"});
    EXPECT_EQ(dup.code, 2);
    EXPECT_NE(dup.err.find("given twice"), std::string::npos) << dup.err;
  }
}

}  // namespace
}  // namespace plf::tools
