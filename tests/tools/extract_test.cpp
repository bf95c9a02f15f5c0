// plf extract: round trips, dates, and names that try to leave the folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tool_harness.h"
#include "tools/safe_names.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;
using test::Tool;

TEST(SafeNames, EveryNameStaysInsideTheFolder) {
  struct Case {
    std::string name;
    std::string parts;  // joined with "|"; empty when refused
  };
  const Case cases[] = {
      {"a.txt", "a.txt"},
      {"bin\\app.exe", "bin|app.exe"},
      {"bin/lib\\x.dll", "bin|lib|x.dll"},
      {"\\etc\\passwd", "etc|passwd"},
      {"/etc/x", "etc|x"},
      {"C:\\Windows\\x.dll", "Windows|x.dll"},
      {"c:x", "x"},
      {"a\\\\b\\.\\c", "a|b|c"},
      {"..\\x", ""},
      {"a/../../x", ""},
      {"a\\..", ""},
      {"...", "___"},
      {"name. ", "name__"},
      {"a<b>c:d\"e|f?g*h", "a_b_c_d_e_f_g_h"},
      {"tab\there", "tab_here"},
      {"CON", "_CON"},
      {"nul.txt", "_nul.txt"},
      {"Com7.log", "_Com7.log"},
      {"com10", "com10"},
      {"console", "console"},
      {"", ""},
      {"\\", ""},
      {"C:", ""},
      {".\\.", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> parts;
    std::string problem;
    const bool ok = SafeRelativeParts(c.name, &parts, &problem);
    EXPECT_EQ(ok, !c.parts.empty()) << c.name;
    EXPECT_EQ(JoinParts(parts, '|'), c.parts) << c.name;
    if (!ok) {
      EXPECT_FALSE(problem.empty());
    }
  }
}

class ExtractTool : public ::testing::Test {
 protected:
  std::string Package(const std::vector<test::Entry>& entries) {
    const std::string path = dir / "p.plf";
    test::WritePackage(path, entries);
    return path;
  }
  plf::test::TempDir dir;
};

TEST_F(ExtractTool, PackThenExtractGivesTheTreeBack) {
  fs::create_directories(dir / "in/sub/deep");
  plf::test::WriteFileBytes(dir / "in/a.txt", "alpha");
  plf::test::WriteFileBytes(dir / "in/sub/b.bin", std::string(100000, '\x07') + "end");
  plf::test::WriteFileBytes(dir / "in/sub/deep/empty", "");
  plf::test::WriteFileBytes(dir / "script.ini", "[Options]\r\nTimeStamp=13:30\r\n[Files]\r\na.txt=C:\\a.txt\r\n");
  plf::test::SetNoonWriteTime(dir / "in/a.txt", 2005, 6, 7);
  const test::Result pack = Tool({"pack", dir / "p.plf", dir / "script.ini", dir / "in"});
  ASSERT_EQ(pack.code, 0) << pack.err;

  const test::Result r = Tool({"extract", "-C", dir / "out", dir / "p.plf"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const char* file : {"a.txt", "sub/b.bin", "sub/deep/empty"})
    EXPECT_TRUE(plf::test::ReadFileBytes(dir / (std::string("out/") + file)) ==
                plf::test::ReadFileBytes(dir / (std::string("in/") + file)))
        << file;
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "out/SCRIPT"), plf::test::ReadFileBytes(dir / "script.ini"));

  // The entry's date with the script's TimeStamp, in local time.
  const DateTimeParts p = plf::test::LocalWriteTime(dir / "out/a.txt");
  EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute}), std::vector<int>({2005, 6, 7, 13, 30}));
}

TEST_F(ExtractTool, HostileNamesLandInsideOrAreRefused) {
  const std::string package = Package({{"..\\evil", "1"},
                                       {"/abs/x", "2"},
                                       {"C:\\Windows\\y", "3"},
                                       {"ok", "4"},
                                       {"OK", "5"},    // the same file as "ok" on Windows
                                       {"ok\\z", "6"},  // "ok" is a file, not a folder
                                       {"a?b", "7"},
                                       {"sub\\..\\..\\up", "8"}});
  const test::Result r = Tool({"extract", "-C", dir / "out", package});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "out/abs/x"), "2");
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "out/Windows/y"), "3");
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "out/ok"), "4");
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "out/a_b"), "7");
  EXPECT_FALSE(plf::test::PathExists(dir / "evil"));
  EXPECT_FALSE(plf::test::PathExists(dir / "up"));
  for (const char* refused : {"\"..\\evil\"", "\"OK\"", "\"ok\\z\"", "\"sub\\..\\..\\up\""})
    EXPECT_NE(r.err.find(std::string("entry ") + refused + " not written"), std::string::npos) << refused << r.err;
  EXPECT_NE(r.out.find("4 files written, 4 refused"), std::string::npos) << r.out;
  // Nothing at all beside the output folder and the package.
  std::vector<std::string> top;
  for (const auto& e : fs::directory_iterator(dir.Path())) top.push_back(e.path().filename().string());
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"out", "p.plf"}));
}

// Names pick entries as the installer's lookup finds them: letter case
// ignored, "/" or "\\" between folders, "*" and "?" as its search has them;
// list and extract choose alike.
TEST_F(ExtractTool, NamesChooseEntries) {
  const std::string package =
      Package({{"SCRIPT", "[Files]\r\n"}, {"a", "aaa"}, {"b", "bbb"}, {"bin\\x.dll", "x"}, {"bin\\y.txt", "y"}});
  const test::Result some =
      Tool({"extract", "--directory=" + (dir / "o1"), package, "B", "BIN/*.DLL", "bin\\?.txt", "nothing"});
  EXPECT_EQ(some.code, 1);
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "o1/b"), "bbb");
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "o1/bin/x.dll"), "x");
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "o1/bin/y.txt"), "y");
  EXPECT_FALSE(plf::test::PathExists(dir / "o1/a"));
  EXPECT_NE(some.err.find("entry \"nothing\" not written: the package has no entry of this name"), std::string::npos)
      << some.err;

  const test::Result listed = Tool({"list", package, "bin/*", "a"});
  EXPECT_EQ(listed.code, 0) << listed.err;
  EXPECT_EQ(test::Lines(listed.out).size(), 4u) << listed.out;
  EXPECT_NE(listed.out.find("bin\\y.txt"), std::string::npos) << listed.out;
  const test::Result missing = Tool({"list", package, "*.exe"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("no entry matches \"*.exe\""), std::string::npos) << missing.err;
}

TEST_F(ExtractTool, ReplacesFilesButNotFoldersOrReadOnlyFiles) {
  const std::string package = Package({{"f", "new"}, {"d", "data"}, {"r", "new"}});
  fs::create_directories(dir / "out/d");
  plf::test::WriteFileBytes(dir / "out/f", "old old old");
  plf::test::WriteFileBytes(dir / "out/r", "old");
  plf::test::MakeReadOnly(dir / "out/r", true);
  const test::Result r = Tool({"extract", "-C", dir / "out", package});
  plf::test::MakeReadOnly(dir / "out/r", false);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "out/f"), "new");
  EXPECT_TRUE(fs::is_directory(dir / "out/d"));
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "out/r"), "old");
  EXPECT_NE(r.err.find("a folder stands at"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("is read-only"), std::string::npos) << r.err;

  const test::Result usage = Tool({"extract", "-C"});
  EXPECT_EQ(usage.code, 2);
  EXPECT_EQ(Tool({"extract"}).code, 2);
  EXPECT_EQ(Tool({"extract", dir / "missing.plf"}).code, 1);
}

}  // namespace
}  // namespace plf::tools
