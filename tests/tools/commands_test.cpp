// The commands of plf on real files: what pack, list and extract agree on,
// dates, every refusal with its exit code, and what pack must not overwrite.
#include "support/package_bytes.h"
#include "tool_harness.h"

namespace plf::tools {
namespace {

using test::Lines;
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
    plf::test::WriteFileBytes(dir / "b.bin", plf::test::Noise(600000, 1));
  }
  plf::test::TempDir dir;
};

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
  const std::vector<std::string> lines = Lines(Tool({"list", out}).out);
  const char* const names[] = {"0  SCRIPT ", "1  a.txt ", "2  sub\\deep\\empty ", "3  data "};
  ASSERT_EQ(lines.size(), 5u);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(names[i - 1], 0), 0u) << lines[i];
    EXPECT_EQ(lines[i].find("2000-07-15"), lines[0].find("Date")) << lines[i];
    EXPECT_EQ(lines[i].find("yes"), lines[0].find("Opens")) << lines[i];
  }
  EXPECT_NE(lines[2].find(" 5 "), std::string::npos) << "uncompressed size of a.txt: " << lines[2];

  const Result x = Tool({"extract", "-C", dir / "out", out});
  ASSERT_EQ(x.code, 0) << x.err;
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
  const std::pair<const char*, std::vector<double>> cases[] = {
      {"", {Ole(2011, 3, 14), Ole(1999, 12, 31)}},
      {"--no-date", {0, 0}},
      {"--date=2127-12-31", {Ole(2127, 12, 31), Ole(2127, 12, 31)}},
  };
  for (const auto& [option, dates] : cases) {
    std::vector<std::string> args{"pack", dir / "p.plf", dir / "script.ini", dir / "a.txt"};
    if (*option) args.insert(args.begin() + 1, option);
    ASSERT_EQ(Tool(args).code, 0);
    TPreLoadReader reader(dir / "p.plf");
    EXPECT_EQ((std::vector<double>{reader.EntryDate(0), reader.EntryDate(1)}), dates) << option;
  }
}

// Every command's refusals: 2 for a wrong command line (with a pointer to
// --help), 1 for a failure, which names the path once,
// in English (the installer's Czech texts name it again and give no reason).
TEST_F(PackTool, RefusalsOfEveryCommand) {
  plf::test::WriteFileBytes(dir / "bad.plf", std::string(40, '\0'));
  plf::test::WriteFileBytes(dir / "future.txt", "f");
  plf::test::SetNoonWriteTime(dir / "future.txt", 2200, 6, 15);
  test::WritePackage(dir / "p.plf", {});
  plf::test::WriteFileBytes(dir / "short.plf", plf::test::ReadFileBytes(dir / "p.plf").substr(0, 30));
  const std::string s = dir / "script.ini";
  const std::string o = dir / "o.plf";
  const std::string p = dir / "p.plf";
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {  // arguments, exit code, complaint
      {{"unpack"}, 2, "unknown command \"unpack\""},
      {{"pack", "-x", o, s}, 2, "unknown option \"-x\""},
      {{"pack", "-l"}, 2, "-l needs a level"},
      {{"pack", "-l", "10", o, s}, 2, "the level \"10\""},
      {{"pack", "--level=a", o, s}, 2, "the level \"a\""},
      {{"pack", "--date", "15.7.2000", o, s}, 2, "YYYY-MM-DD"},
      {{"pack", "--date", "1871-12-31", o, s}, 2, "cannot be stored"},
      {{"pack", o, s, dir / "a.txt", "A.TXT=" + s}, 2, "\"A.TXT\" is given twice"},
      {{"diff", p, dir / "missing.plf"}, 2, ""},
#ifndef _WIN32
      // Another code page is the program's choice at its start; asked of a
      // tool already reading in 1250 it is refused rather than half-honoured.
      {{"list", "--code-page", "1252", p}, 2, "cannot be honoured here"},
#endif
      {{"pack", o, s, dir / "future.txt"}, 1, "2200-06-15"},  // a date the package cannot hold
      {{"pack", dir / "no/folder/o.plf", s}, 1, dir / "no/folder/o.plf" + ": cannot create a temporary file beside it: "},
      {{"pack", p, s, "x=" + p}, 1, p + ": is also the output package"},
      {{"list", dir / "missing.plf"}, 1, "plf list: " + (dir / "missing.plf") + ": cannot be opened: "},
      {{"check", dir.Path()}, 1, "plf check: " + dir.Path() + ": is a folder, not a package"},
      {{"check", "--script", dir.Path()}, 1, "plf check: " + dir.Path() + ": is a folder, not a file"},
      {{"list", dir / "bad.plf"}, 1, "plf list: " + (dir / "bad.plf") + ": is not a package: its version word"},
      {{"extract", dir / "short.plf"}, 1, "plf extract: " + (dir / "short.plf") + ": is damaged: the file ends inside"},
  };
  for (const auto& [args, code, complaint] : cases) {
    const Result r = Tool(args);
    EXPECT_EQ(r.code, code) << complaint << "\n" << r.err;
    EXPECT_NE(r.err.find(complaint), std::string::npos) << complaint << "\n" << r.err;
    if (code != 1) continue;
    EXPECT_TRUE(std::none_of(r.err.begin(), r.err.end(), [](char ch) { return (ch & 0x80) != 0; })) << r.err;
    const std::string path = args.back();
    EXPECT_EQ(r.err.find(path, r.err.find(path) + path.size()), std::string::npos) << r.err;
  }
  EXPECT_NE(Tool({"unpack"}).err.find("--help"), std::string::npos);
  EXPECT_EQ(plf::test::ReadFileBytes(s), "[Files]\r\na.txt=C:\\a.txt\r\n") << "an input was overwritten";
  EXPECT_FALSE(plf::test::PathExists(o));
}

// What pack must not overwrite: a file that is no package as OUTPUT (a
// source file, say the script when OUTPUT and SCRIPT are swapped), and a
// SCRIPT that is binary or a package. Each is refused with exit code 2 and
// one line naming it; --force lets OUTPUT go. A script with errors keeps
// the old package.
TEST_F(PackTool, RefusesToDestroyWhatIsNotAPackage) {
  const std::string s = dir / "script.ini";
  const std::string pkg = dir / "old.plf";
  test::WritePackage(pkg, {{"SCRIPT", "[Files]\r\n"}});
  std::filesystem::create_directories(dir / "tree/bash");
  plf::test::WriteFileBytes(dir / "tree/bash/RBASH", "#!/bin/sh\nexec bash -r \"$@\"\n");
  plf::test::WriteFileBytes(dir / "binary.ini", std::string("[Files]\r\n\0\x01", 11));
  plf::test::WriteFileBytes(dir / "empty.plf", "");
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {  // exit code, the complaint
      {{"pack", dir / "tree/bash/RBASH", s, dir / "tree"}, 2,
       "plf pack: " + dir / "tree/bash/RBASH" + ": exists and is not a package; give --force to replace it\n"},
      {{"pack", dir / "new.plf", pkg}, 2, "plf pack: " + pkg + ": is a package, not an install script\n"},
      {{"pack", dir / "new.plf", dir / "binary.ini"}, 2, "plf pack: " + dir / "binary.ini" + ": holds NUL bytes"},
      {{"pack", "--force", dir / "new.plf", dir / "binary.ini"}, 2, "plf pack: " + dir / "binary.ini" + ": holds NUL"},
      {{"pack", dir / "tree", s}, 2, "plf pack: " + dir / "tree" + ": is a folder, not a package\n"},
      // Pack checks the script as check does, against the package it has just written.
      {{"pack", pkg, s, "A.TXT =" + (dir / "a.txt")}, 1, "script.ini:2: error: "},  // no line finds "A.TXT "
      {{"pack", pkg, s, dir / "a.txt"}, 0, ""},
      {{"pack", dir / "empty.plf", s, dir / "a.txt"}, 0, ""},
  };
  for (const auto& [args, code, complaint] : cases) {
    const test::Tree before = test::Snapshot(dir.Path());
    const Result r = Tool(args);
    EXPECT_EQ(r.code, code) << r.err;
    EXPECT_NE(r.err.find(complaint), std::string::npos) << r.err;
    EXPECT_TRUE(code == 0 || test::Snapshot(dir.Path()) == before) << "changed by " << complaint;
  }
  ASSERT_EQ(Tool({"pack", "--force", dir / "tree/bash/RBASH", s, dir / "a.txt"}).code, 0);
  TPreLoadReader reader(dir / "tree/bash/RBASH");
  EXPECT_EQ(test::ReadEntry(reader, "a.txt"), "alpha");
}

TEST(Tool, HelpAndVersionGoToStandardOutput) {
  const Result help = Tool({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("Usage: plf", 0), 0u) << help.out;
  EXPECT_EQ(Tool({"help", "pack"}).out, Tool({"pack", "x", "-h"}).out);
  EXPECT_EQ(Tool({"-V"}).out, std::string("plf ") + PLF_VERSION_TEXT + "\n");
}

TEST(Tool, ListShowsDamagedEntriesHarmlessly) {
  plf::test::TempDir dir;
  // One record with a control character in its name, data before the data
  // area, no date and a negative uncompressed size.
  const plf::test::RawRecord e{-1, 19, 3, -1, {}, "a\x01" "b"};
  plf::test::WriteFileBytes(dir / "p.plf", plf::test::PackageBytes("", {plf::test::RecordBytes(e)}));
  const Result r = Tool({"list", dir / "p.plf"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"#  Name    Compressed  Uncompressed  Ratio  Date  Offset  Opens",
                                                    "0  a\\x01b           3            -1      -  -         19  no"}));
}

}  // namespace
}  // namespace plf::tools
