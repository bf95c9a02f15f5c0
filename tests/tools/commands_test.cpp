#include "tools/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "package/records.h"
#include "runtime/calendar.h"
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
// written: errors keep the old package.
TEST_F(PackTool, RunsTheChecksOfCheckBeforeReplacingAnything) {
  const std::string out = dir / "Install.PLF";
  test::WritePackage(out, {{"SCRIPT", "[Files]\r\n"}});
  const std::string old = plf::test::ReadFileBytes(out);
  const Result refused = Tool({"pack", out, dir / "script.ini", "A.TXT =" + (dir / "a.txt")});  // a name with a blank: no line finds it
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("script.ini:2: error: "), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("--no-check"), std::string::npos) << refused.err;
  EXPECT_EQ(plf::test::ReadFileBytes(out), old);
  EXPECT_EQ(Tool({"pack", "--no-check", out, dir / "script.ini"}).code, 0);
  EXPECT_NE(plf::test::ReadFileBytes(out), old);
}

// Pack, list and extract agree on every entry; extract dates each file
// with the entry's date and the script's TimeStamp, in local time.
TEST_F(PackTool, PacksWhatListShowsAndExtractGivesBack) {
  const std::string out = dir / "Install.PLF";
  plf::test::WriteFileBytes(dir / "script.ini", "[Options]\r\nTimeStamp=13:30\r\n[Files]\r\na.txt=C:\\a.txt\r\n"
                                                "sub\\deep\\empty=C:\\e\r\ndata=C:\\data\r\n");
  std::filesystem::create_directories(dir / "in/sub/deep");
  plf::test::WriteFileBytes(dir / "in/sub/deep/empty", "");
  plf::test::WriteFileBytes(dir / "in/a.txt", "alpha");
  const Result r = Tool({"pack", "-l", "9", "--date", "2000-07-15", out, dir / "script.ini", dir / "in",
                         "data=" + (dir / "b.bin")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  {
    TPreLoadReader reader(out);
    ASSERT_EQ(reader.EntryCount(), 4);
    const char* names[] = {"SCRIPT", "a.txt", "sub\\deep\\empty", "data"};
    const std::string files[] = {dir / "script.ini", dir / "in/a.txt", dir / "in/sub/deep/empty", dir / "b.bin"};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(reader.EntryName(i), names[i]);
      EXPECT_EQ(ReadEntry(reader, names[i]), plf::test::ReadFileBytes(files[i]));
      EXPECT_EQ(reader.EntryDate(i), Ole(2000, 7, 15));
    }
  }
  const Result list = Tool({"list", out});
  ASSERT_EQ(list.code, 0) << list.err;
  const std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 5u) << list.out;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].find("2000-07-15"), lines[0].find("Date")) << lines[i];
    EXPECT_EQ(lines[i].find("yes"), lines[0].find("Opens")) << lines[i];
  }
  EXPECT_EQ(lines[1].rfind("0  SCRIPT", 0), 0u) << lines[1];
  EXPECT_NE(lines[2].find(" 5 "), std::string::npos) << "uncompressed size of a.txt: " << lines[2];

  const Result x = Tool({"extract", "-C", dir / "out", out});
  ASSERT_EQ(x.code, 0) << x.err;
  EXPECT_EQ(x.err, "");
  const std::pair<const char*, std::string> extracted[] = {
      {"a.txt", "in/a.txt"}, {"sub/deep/empty", "in/sub/deep/empty"}, {"data", "b.bin"}, {"SCRIPT", "script.ini"}};
  for (const auto& [file, source] : extracted)
    EXPECT_TRUE(plf::test::ReadFileBytes(dir / ("out/" + std::string(file))) == plf::test::ReadFileBytes(dir / source))
        << file;
  const DateTimeParts p = plf::test::LocalWriteTime(dir / "out/a.txt");
  EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute}), std::vector<int>({2000, 7, 15, 13, 30}));
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
    ASSERT_EQ(Tool(args).code, 0);
    TPreLoadReader reader(dir / "p.plf");
    EXPECT_EQ(reader.EntryDate(0), c.script);
    EXPECT_EQ(reader.EntryDate(1), c.a);
  }
  // A date the package cannot hold is refused unless another is chosen.
  plf::test::SetNoonWriteTime(dir / "a.txt", 2200, 6, 15);
  const Result refused = Tool({"pack", dir / "p2.plf", dir / "script.ini", dir / "a.txt"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find(dir / "a.txt" + ": "), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("2200-06-15"), std::string::npos) << refused.err;
  EXPECT_FALSE(plf::test::PathExists(dir / "p2.plf"));
  EXPECT_EQ(Tool({"pack", "--no-date", dir / "p2.plf", dir / "script.ini", dir / "a.txt"}).code, 0);
}

// Every command's refusals: 2 for a wrong command line (with a pointer to
// --help and nothing on stdout), 1 for a failure, which names the path once,
// in English (the installer's Czech texts name it again and give no reason).
TEST_F(PackTool, RefusalsOfEveryCommand) {
  plf::test::WriteFileBytes(dir / "bad.plf", std::string(40, '\0'));
  test::WritePackage(dir / "p.plf", {});
  plf::test::WriteFileBytes(dir / "short.plf", plf::test::ReadFileBytes(dir / "p.plf").substr(0, 30));
  const std::string s = dir / "script.ini";
  const std::string o = dir / "o.plf";
  const std::string p = dir / "p.plf";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string complaint;
    bool usage = false;
  };
  const Case cases[] = {
      {{}, 2, "no COMMAND", true},
      {{"unpack"}, 2, "unknown command \"unpack\"", true},
      {{"--bogus"}, 2, "unknown option \"--bogus\"", true},
      {{"pack"}, 2, "no OUTPUT", true},
      {{"pack", o}, 2, "no SCRIPT", true},
      {{"pack", "-x", o, s}, 2, "unknown option \"-x\"", true},
      {{"pack", "-l"}, 2, "-l needs a level", true},
      {{"pack", "-l", "10", o, s}, 2, "the level \"10\"", true},
      {{"pack", "--level=a", o, s}, 2, "the level \"a\"", true},
      {{"pack", "-j", "0", o, s}, 2, "thread count", true},
      {{"pack", "-j", "257", o, s}, 2, "thread count", true},
      {{"pack", "--date", "2000-02-30", o, s}, 2, "not a calendar day", true},
      {{"pack", "--date", "15.7.2000", o, s}, 2, "YYYY-MM-DD", true},
      {{"pack", "--date", "1871-12-31", o, s}, 2, "cannot be stored", true},
      {{"pack", "--date", "2000-01-01", "--no-date", o, s}, 2, "exclude each other", true},
      {{"pack", o, s, "=" + s}, 2, "gives no entry name", true},
      {{"pack", o, s, "name="}, 2, "names no file", true},
      {{"pack", o, s, "script=" + s}, 2, "\"script\" is given twice", true},
      {{"pack", o, s, dir / "a.txt", "A.TXT=" + s}, 2, "\"A.TXT\" is given twice", true},
      {{"pack", o, s, std::string(256, 'n') + "=" + s}, 2, "longer than 255 bytes", true},
      {{"list"}, 2, "no PACKAGE", true},
      {{"list", "--long", o}, 2, "unknown option", true},
      {{"check"}, 2, "", true},
      {{"check", "--script"}, 2, "", true},
      {{"check", "a", "b"}, 2, "", true},
      {{"check", "--strict=yes", "--script", s}, 2, "", true},
      {{"extract"}, 2, "", true},
      {{"extract", "-C"}, 2, "", true},
      {{"test"}, 2, "", true},
      {{"diff", p}, 2, ""},
      {{"diff", p, dir / "missing.plf"}, 2, ""},
      {{"diff", dir / "short.plf", p}, 2, ""},
#ifndef _WIN32
      // Another code page is the program's choice at its start; asked of a
      // tool already reading in 1250 it is refused rather than half-honoured.
      {{"list", "--code-page", "1252", p}, 2, "cannot be honoured here"},
      {{"list", "--code-page=437", p}, 2, ""},
#endif
      {{"pack", o, dir / "missing.ini"}, 1, dir / "missing.ini" + ": no such file"},
      {{"pack", o, s, "x=" + (dir / "missing")}, 1, dir / "missing" + ": no such file"},
      {{"pack", dir / "no/folder/o.plf", s}, 1, dir / "no/folder/o.plf" + ": cannot create a temporary file beside it: "},
      {{"pack", p, s, "x=" + p}, 1, p + ": is also the output package"},
      {{"list", dir / "missing.plf"}, 1, "plf list: " + (dir / "missing.plf") + ": cannot be opened: "},
      {{"check", dir.Path()}, 1, "plf check: " + dir.Path() + ": is a folder, not a package"},
      {{"check", "--script", dir / "missing.ini"}, 1, "plf check: " + (dir / "missing.ini") + ": cannot be opened: "},
      {{"check", "--script", dir.Path()}, 1, "plf check: " + dir.Path() + ": is a folder, not a file"},
      {{"list", dir / "bad.plf"}, 1, "plf list: " + (dir / "bad.plf") + ": is not a package: its version word"},
      {{"extract", dir / "short.plf"}, 1, "plf extract: " + (dir / "short.plf") + ": is damaged: the file ends inside"},
      {{"extract", dir / "missing.plf"}, 1, "plf extract: " + (dir / "missing.plf")},
      {{"test", dir / "missing.plf"}, 1, "plf test: " + (dir / "missing.plf")},
  };
  for (const Case& c : cases) {
    const Result r = Tool(c.args);
    const std::string name = c.args.empty() ? "plf" : c.args[0] + " " + c.complaint;
    EXPECT_EQ(r.code, c.code) << name << "\n" << r.err;
    EXPECT_NE(r.err.find(c.complaint), std::string::npos) << name << "\n" << r.err;
    if (c.usage) {
      EXPECT_NE(r.err.find("--help"), std::string::npos) << name << "\n" << r.err;
      EXPECT_EQ(r.out, "") << name;
    }
    if (c.code != 1) continue;
    EXPECT_TRUE(std::none_of(r.err.begin(), r.err.end(), [](char ch) { return (ch & 0x80) != 0; })) << r.err;
    const std::string path = c.args.back();
    EXPECT_EQ(r.err.find(path, r.err.find(path) + path.size()), std::string::npos) << r.err;
  }
  EXPECT_EQ(plf::test::ReadFileBytes(s), "[Files]\r\na.txt=C:\\a.txt\r\n") << "an input was overwritten";
  EXPECT_FALSE(plf::test::PathExists(o));
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
    std::string complaint;  // empty: packed
  };
  const Case cases[] = {
      {{"pack", dir / "tree/bash/RBASH", s, dir / "tree"},
       dir / "tree/bash/RBASH" + ": exists and is not a package; give --force to replace it"},
      {{"pack", s, pkg, dir / "tree"}, s + ": exists and is not a package"},
      {{"pack", dir / "new.plf", pkg}, pkg + ": is a package, not an install script"},
      {{"pack", dir / "new.plf", dir / "binary.ini"}, dir / "binary.ini" + ": holds NUL bytes"},
      {{"pack", "--force", dir / "new.plf", dir / "binary.ini"}, dir / "binary.ini" + ": holds NUL bytes"},
      {{"pack", dir / "tree", s}, dir / "tree" + ": is a folder, not a package"},
      {{"pack", pkg, s, dir / "a.txt"}, ""},
      {{"pack", dir / "empty.plf", s, dir / "a.txt"}, ""},
  };
  for (const Case& c : cases) {
    const test::Tree before = test::Snapshot(dir.Path());
    const Result r = Tool(c.args);
    EXPECT_EQ(r.code, c.complaint.empty() ? 0 : 2) << r.err;
    if (c.complaint.empty()) continue;
    EXPECT_EQ(r.err, "plf pack: " + r.err.substr(10, r.err.find('\n') - 10) + "\n") << "one line: " << r.err;
    EXPECT_NE(r.err.find(c.complaint), std::string::npos) << r.err;
    EXPECT_TRUE(test::Snapshot(dir.Path()) == before) << "changed by " << c.complaint;
  }
  ASSERT_EQ(Tool({"pack", "--force", dir / "tree/bash/RBASH", s, dir / "a.txt"}).code, 0);
  TPreLoadReader reader(dir / "tree/bash/RBASH");
  EXPECT_EQ(ReadEntry(reader, "a.txt"), "alpha");
}

TEST(Tool, HelpAndVersionGoToStandardOutput) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"pack", "x", "-h"}, {"help", "pack"}}) {
    const Result r = Tool(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("Usage: plf", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(Tool({"help", "pack"}).out, Tool({"pack", "--help"}).out);
  EXPECT_EQ(Tool({"-V"}).out, std::string("plf ") + PLF_VERSION_TEXT + "\n");
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
  plf::test::WriteFileBytes(dir / "p.plf", bytes + e.Encode());
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
