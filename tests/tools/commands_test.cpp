#include "tools/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "package/records.h"
#include "runtime/calendar.h"
#include "runtime/platform.h"
#include "support/test_support.h"
#include "tool_harness.h"

namespace plf::tools {
namespace {

using test::Lines;
using test::ReadEntry;
using test::Result;
using test::Tool;

double Ole(int y, int m, int d) {
  double v = 0;
  EXPECT_TRUE(EncodeDate(y, m, d, &v));
  return v;
}

class PackTool : public ::testing::Test {
 protected:
  void SetUp() override {
    plf::test::WriteFileBytes(dir / "script.ini", "[Files]\r\na.txt=C:\\a.txt\r\n");
    plf::test::WriteFileBytes(dir / "a.txt", "alpha");
    std::string big;
    for (int i = 0; i < 100000; ++i) big += std::to_string(i) + ",";
    plf::test::WriteFileBytes(dir / "b.bin", big);
  }
  plf::test::TempDir dir;
};

// Pack checks the script as check does, against the package it has just
// written: errors keep the old package, warnings are only shown.
TEST_F(PackTool, RunsTheChecksOfCheckBeforeReplacingAnything) {
  const std::string out = dir / "Install.PLF";
  test::WritePackage(out, {{"SCRIPT", "[Files]\r\n"}});
  const std::string old = plf::test::ReadFileBytes(out);
  const Result refused = Tool({"pack", out, dir / "script.ini", "A.TXT " + std::string("=") + (dir / "a.txt")});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("script.ini:2: error: "), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("--no-check"), std::string::npos) << refused.err;
  EXPECT_EQ(plf::test::ReadFileBytes(out), old);
  EXPECT_EQ(Tool({"pack", "--no-check", out, dir / "script.ini"}).code, 0);
  EXPECT_NE(plf::test::ReadFileBytes(out), old);
}

TEST_F(PackTool, PacksWhatListShows) {
  const std::string out = dir / "Install.PLF";
  plf::test::WriteFileBytes(dir / "script.ini", "[Files]\r\na.txt=C:\\a.txt\r\ndata=C:\\data\r\n");
  const Result r = Tool({"pack", "-l", "9", "--date", "2000-07-15", out, dir / "script.ini", dir / "a.txt",
                         "data=" + (dir / "b.bin")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  {
    TPreLoadReader reader(out);
    ASSERT_EQ(reader.EntryCount(), 3);
    EXPECT_EQ(reader.EntryName(0), "SCRIPT");
    EXPECT_EQ(reader.EntryName(1), "a.txt");
    EXPECT_EQ(reader.EntryName(2), "data");
    EXPECT_EQ(ReadEntry(reader, "SCRIPT"), plf::test::ReadFileBytes(dir / "script.ini"));
    EXPECT_EQ(ReadEntry(reader, "a.txt"), "alpha");
    EXPECT_EQ(ReadEntry(reader, "data"), plf::test::ReadFileBytes(dir / "b.bin"));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(reader.EntryDate(i), Ole(2000, 7, 15));
  }

  const Result list = Tool({"list", out});
  ASSERT_EQ(list.code, 0) << list.err;
  const std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 4u) << list.out;
  const std::string::size_type dateColumn = lines[0].find("Date");
  const std::string::size_type opensColumn = lines[0].find("Opens");
  ASSERT_NE(dateColumn, std::string::npos);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].find("2000-07-15"), dateColumn) << lines[i];
    EXPECT_EQ(lines[i].find("yes"), opensColumn) << lines[i];
  }
  EXPECT_EQ(lines[1].rfind("0  SCRIPT", 0), 0u) << lines[1];
  EXPECT_NE(lines[2].find(" 5 "), std::string::npos) << "uncompressed size of a.txt: " << lines[2];
}

TEST_F(PackTool, DatesComeFromTheFilesUnlessToldOtherwise) {
  plf::test::SetNoonWriteTime(dir / "script.ini", 2011, 3, 14);
  plf::test::SetNoonWriteTime(dir / "a.txt", 1999, 12, 31);
  struct Case {
    std::vector<std::string> options;
    double script, a;
  };
  const Case cases[] = {
      {{}, Ole(2011, 3, 14), Ole(1999, 12, 31)},
      {{"--no-date"}, 0, 0},
      {{"--date=2127-12-31"}, Ole(2127, 12, 31), Ole(2127, 12, 31)},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"pack"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {dir / "p.plf", dir / "script.ini", dir / "a.txt"});
    const Result r = Tool(args);
    ASSERT_EQ(r.code, 0) << r.err;
    TPreLoadReader reader(dir / "p.plf");
    EXPECT_EQ(reader.EntryDate(0), c.script);
    EXPECT_EQ(reader.EntryDate(1), c.a);
  }

  // A date the package cannot hold is refused unless another is chosen.
  plf::test::SetNoonWriteTime(dir / "a.txt", 2200, 6, 15);
  const Result refused = Tool({"pack", dir / "p2.plf", dir / "script.ini", dir / "a.txt"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find(dir / "a.txt"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("2200-06-15"), std::string::npos) << refused.err;
  EXPECT_FALSE(plf::test::PathExists(dir / "p2.plf"));
  EXPECT_EQ(Tool({"pack", "--no-date", dir / "p2.plf", dir / "script.ini", dir / "a.txt"}).code, 0);
}

TEST_F(PackTool, UsageErrorsExitWithTwo) {
  const std::string s = dir / "script.ini";
  const std::string o = dir / "o.plf";
  struct Case {
    std::vector<std::string> args;
    const char* complaint;
  };
  const Case cases[] = {
      {{}, "no COMMAND"},
      {{"unpack"}, "unknown command \"unpack\""},
      {{"--bogus"}, "unknown option \"--bogus\""},
      {{"pack"}, "no OUTPUT"},
      {{"pack", o}, "no SCRIPT"},
      {{"pack", "-x", o, s}, "unknown option \"-x\""},
      {{"pack", "-l"}, "-l needs a level"},
      {{"pack", "-l", "10", o, s}, "the level \"10\""},
      {{"pack", "--level=a", o, s}, "the level \"a\""},
      {{"pack", "--date", "2000-02-30", o, s}, "not a calendar day"},
      {{"pack", "--date", "15.7.2000", o, s}, "YYYY-MM-DD"},
      {{"pack", "--date", "1871-12-31", o, s}, "cannot be stored"},
      {{"pack", "--date", "2000-01-01", "--no-date", o, s}, "exclude each other"},
      {{"pack", o, s, "=" + s}, "gives no entry name"},
      {{"pack", o, s, "name="}, "names no file"},
      {{"pack", o, s, "script=" + s}, "\"script\" is given twice"},
      {{"pack", o, s, dir / "a.txt", "A.TXT=" + s}, "\"A.TXT\" is given twice"},
      {{"pack", o, s, std::string(256, 'n') + "=" + s}, "longer than 255 bytes"},
      {{"list"}, "no PACKAGE"},
      {{"list", "--long", o}, "unknown option"},
  };
  for (const Case& c : cases) {
    const Result r = Tool(c.args);
    EXPECT_EQ(r.code, 2) << c.complaint;
    EXPECT_NE(r.err.find(c.complaint), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(plf::test::PathExists(o));
}

TEST_F(PackTool, FailuresExitWithOneAndNameTheFile) {
  plf::test::WriteFileBytes(dir / "bad.plf", std::string(40, '\0'));
  test::WritePackage(dir / "p.plf", {});
  const std::string s = dir / "script.ini";
  struct Case {
    std::vector<std::string> args;
    std::string complaint;
  };
  const Case cases[] = {
      {{"pack", dir / "o.plf", dir / "missing.ini"}, dir / "missing.ini" + ": no such file"},
      {{"pack", dir / "o.plf", s, "x=" + (dir / "missing")}, dir / "missing" + ": no such file"},
      {{"pack", dir / "no/folder/o.plf", s}, dir / "no/folder/o.plf" + ": cannot create a temporary file beside it: "},
      {{"pack", dir / "p.plf", s, "x=" + (dir / "p.plf")}, dir / "p.plf" + ": is also the output package"},
      // The system's reason, the path once.
      {{"list", dir / "missing.plf"}, "plf list: " + (dir / "missing.plf") + ": cannot be opened: "},
      {{"check", dir.Path()}, "plf check: " + dir.Path() + ": is a folder, not a package"},
      {{"check", "--script", dir / "missing.ini"},
       "plf check: " + (dir / "missing.ini") + ": cannot be opened: "},
      {{"check", "--script", dir.Path()}, "plf check: " + dir.Path() + ": is a folder, not a file"},
      {{"list", dir / "bad.plf"}, "plf list: " + (dir / "bad.plf") + ": is not a package: its version word"},
      {{"extract", dir / "short.plf"}, "plf extract: " + (dir / "short.plf") + ": is damaged: the file ends inside"},
  };
  plf::test::WriteFileBytes(dir / "short.plf", plf::test::ReadFileBytes(dir / "p.plf").substr(0, 30));
  for (const Case& c : cases) {
    const Result r = Tool(c.args);
    EXPECT_EQ(r.code, 1) << c.complaint;
    EXPECT_NE(r.err.find(c.complaint), std::string::npos) << r.err;
    // English, and the path said once: the installer's Czech texts name it again and give no reason.
    EXPECT_TRUE(std::none_of(r.err.begin(), r.err.end(), [](char ch) { return (ch & 0x80) != 0; })) << r.err;
    const std::string path = c.args.back();
    EXPECT_EQ(r.err.find(path, r.err.find(path) + path.size()), std::string::npos) << r.err;
  }
  EXPECT_EQ(plf::test::ReadFileBytes(s), "[Files]\r\na.txt=C:\\a.txt\r\n") << "an input was overwritten";
  EXPECT_FALSE(plf::test::PathExists(dir / "o.plf"));
}

// What pack must not overwrite: a file that is no package as OUTPUT (a
// source file, or the script when OUTPUT and SCRIPT are swapped), and a
// SCRIPT that is binary or a package. Each is refused with exit code 2 and
// one line naming it; --force lets OUTPUT go.
TEST_F(PackTool, RefusesToDestroyWhatIsNotAPackage) {
  const std::string s = dir / "script.ini";
  const std::string pkg = dir / "old.plf";
  test::WritePackage(pkg, {{"SCRIPT", "[Files]\r\n"}});
  std::filesystem::create_directories(dir / "tree/bash");
  plf::test::WriteFileBytes(dir / "tree/bash/RBASH", "#!/bin/sh\nexec bash -r \"$@\"\n");
  plf::test::WriteFileBytes(dir / "binary.ini", std::string("[Files]\r\n\0\x01", 11));
  plf::test::WriteFileBytes(dir / "empty.plf", "");
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string complaint;  // empty: packed
  };
  const Case cases[] = {
      {{"pack", dir / "tree/bash/RBASH", s, dir / "tree"}, 2,
       dir / "tree/bash/RBASH" + ": exists and is not a package; give --force to replace it"},
      {{"pack", s, pkg, dir / "tree"}, 2, s + ": exists and is not a package"},
      {{"pack", dir / "new.plf", pkg}, 2, pkg + ": is a package, not an install script"},
      {{"pack", dir / "new.plf", dir / "binary.ini"}, 2, dir / "binary.ini" + ": holds NUL bytes"},
      {{"pack", "--force", dir / "new.plf", dir / "binary.ini"}, 2, dir / "binary.ini" + ": holds NUL bytes"},
      {{"pack", dir / "tree", s}, 2, dir / "tree" + ": is a folder, not a package"},
      {{"pack", pkg, s, dir / "a.txt"}, 0, ""},
      {{"pack", dir / "empty.plf", s, dir / "a.txt"}, 0, ""},
  };
  for (const Case& c : cases) {
    const test::Tree before = test::Snapshot(dir.Path());
    const Result r = Tool(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    if (c.complaint.empty()) continue;
    EXPECT_EQ(r.err, "plf pack: " + r.err.substr(10, r.err.find('\n') - 10) + "\n") << "one line: " << r.err;
    EXPECT_NE(r.err.find(c.complaint), std::string::npos) << r.err;
    EXPECT_TRUE(test::Snapshot(dir.Path()) == before) << "changed by " << c.complaint;
  }

  const Result forced = Tool({"pack", "--force", dir / "tree/bash/RBASH", s, dir / "a.txt"});
  ASSERT_EQ(forced.code, 0) << forced.err;
  TPreLoadReader reader(dir / "tree/bash/RBASH");
  EXPECT_EQ(ReadEntry(reader, "a.txt"), "alpha");
}

TEST(Tool, HelpGoesToStandardOutput) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"pack", "--help"}, {"pack", "x", "-h"}, {"list", "--help"}, {"extract", "-h"},
           {"test", "--help"}, {"check", "--help"}, {"plan", "--help"}, {"help", "pack"}}) {
    const Result r = Tool(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("Usage: plf", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(Tool({"help", "pack"}).out, Tool({"pack", "--help"}).out);
  for (const char* flag : {"--version", "-V"}) EXPECT_EQ(Tool({flag}).out, std::string("plf ") + PLF_VERSION_TEXT + "\n");
}

TEST(Tool, ListShowsDamagedEntriesHarmlessly) {
  plf::test::TempDir dir;
  // One record with a control character in its name, data before the data
  // area, no date and a negative uncompressed size.
  TPreLoadEntry e;
  e.name = "a\x01" "b";
  e.dataOffset = 19;
  e.compressedSize = 3;
  e.uncompressedSize = -1;
  TPreLoadFileHeader header;
  TPreLoadDirHeader directory;
  directory.count = 1;
  std::string bytes(40, '\0');
  header.Encode(reinterpret_cast<std::uint8_t*>(&bytes[0]));
  directory.Encode(reinterpret_cast<std::uint8_t*>(&bytes[20]));
  bytes += e.Encode();
  plf::test::WriteFileBytes(dir / "p.plf", bytes);

  const Result r = Tool({"list", dir / "p.plf"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("a\\x01b"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 2), "no") << lines[1];
  EXPECT_NE(lines[1].find("  -  "), std::string::npos) << "no ratio, no date: " << lines[1];
}

}  // namespace
}  // namespace plf::tools
