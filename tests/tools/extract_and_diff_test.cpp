// plf extract: names that try to leave the folder, and what stands in the way.
// plf diff and update packages: what changed between two releases, and a
// package of only that which installs the same as the full one over the
// old release.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "package/preload_reader.h"
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
      {"a.txt", "a.txt"}, {"bin\\app.exe", "bin|app.exe"}, {"bin/lib\\x.dll", "bin|lib|x.dll"},
      {"\\etc\\passwd", "etc|passwd"}, {"/etc/x", "etc|x"}, {"C:\\Windows\\x.dll", "Windows|x.dll"}, {"c:x", "x"},
      {"a\\\\b\\.\\c", "a|b|c"}, {"..\\x", ""}, {"a/../../x", ""}, {"a\\..", ""}, {"...", "___"},
      {"name. ", "name__"}, {"a<b>c:d\"e|f?g*h", "a_b_c_d_e_f_g_h"}, {"tab\there", "tab_here"}, {"CON", "_CON"},
      {"nul.txt", "_nul.txt"}, {"Com7.log", "_Com7.log"}, {"com10", "com10"}, {"console", "console"}, {"", ""},
      {"\\", ""}, {"C:", ""}, {".\\.", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> parts;
    std::string problem;
    const bool ok = SafeRelativeParts(c.name, &parts, &problem);
    EXPECT_EQ(ok, !c.parts.empty()) << c.name;
    EXPECT_EQ(JoinParts(parts, '|'), c.parts) << c.name;
    EXPECT_TRUE(ok || !problem.empty()) << c.name;
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

TEST_F(ExtractTool, HostileNamesLandInsideOrAreRefused) {
  // "OK" is the same file as "ok" on Windows; "ok" is a file, not a folder.
  const std::string package = Package({{"..\\evil", "1"}, {"/abs/x", "2"}, {"C:\\Windows\\y", "3"}, {"ok", "4"},
                                       {"OK", "5"}, {"ok\\z", "6"}, {"a?b", "7"}, {"sub\\..\\..\\up", "8"}});
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
  EXPECT_EQ(test::FolderNames(dir.Path()), (std::vector<std::string>{"out", "p.plf"}));
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
}

class Releases : public ::testing::Test {
 protected:
  std::string Package(const std::string& name, const std::string& script, const std::vector<test::Entry>& files) {
    std::vector<test::Entry> entries{{"SCRIPT", script}};
    entries.insert(entries.end(), files.begin(), files.end());
    test::WritePackage(dir / name, entries);
    return dir / name;
  }
  plf::test::TempDir dir;
};

TEST_F(Releases, DiffTellsEntriesByContentAndTheScriptBySection) {
  const std::string script1 = "[Verify]\r\nFile=C:\\App\\app.exe\r\n[Options]\r\nRename=*_OLD.*\r\n[Files]\r\n"
                              "app.exe=C:\\App\\app.exe\r\nold.dll=C:\\App\\old.dll\r\nhelp=C:\\App\\help.txt\r\n";
  const std::string script2 = "[Verify]\r\nFile=C:\\App\\app.exe\r\nNoExist=C:\\App\\v2\r\n[Options]\r\nRename=*.bak\r\n"
                              "[Files]\r\nAPP.EXE=c:/app/app.exe\r\nnew.dll=C:\\App\\new.dll\r\nhelp=C:\\App\\doc\\help.txt\r\n";
  const std::string v1 = Package("v1.plf", script1, {{"app.exe", "v1"}, {"old.dll", "o"}, {"help", "h", test::Date(2001, 1, 1)}});
  const std::string v2 = Package("v2.plf", script2, {{"App.exe", "v2"}, {"new.dll", "n"}, {"HELP", "h", test::Date(2020, 1, 1)}});

  const test::Result r = Tool({"diff", "--json", v1, v2});
  EXPECT_EQ(r.code, 1) << r.err;
  for (const char* part : {
           R"("entries":{"added":["new.dll"],"removed":["old.dll"],"changed":["SCRIPT","App.exe"],"unchanged":1})",
           R"("verify":{"added":["NoExist=C:\\App\\v2"],"removed":[]})",
           R"("options":[{"key":"Rename","old":"*_OLD.*","new":"*.bak"}])",
           R"("added":[{"line":8,"entry":"new.dll","target":"C:\\App\\new.dll"}])",
           R"("removed":[{"line":7,"entry":"old.dll","target":"C:\\App\\old.dll"}])",
           R"("moved":[{"entry":"help","old_targets":["C:\\App\\help.txt"],"new_targets":["C:\\App\\doc\\help.txt"]}])",
       })
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;

  const test::Result same = Tool({"diff", v1, v1});
  EXPECT_EQ(same.code, 0);
  EXPECT_NE(same.out.find("are equal: 4 entries"), std::string::npos) << same.out;
}

TEST_F(Releases, AnUpdateLeavesOutOnlyWhatTheOldReleaseInstalledAlready) {
  const std::string old = Package("old.plf", "[Files]\r\na=C:\\a.txt\r\nb=C:\\b.txt\r\nc=C:\\c.txt\r\n",
                                  {{"a", "same"}, {"b", "old b"}, {"c", "same c"}});
  plf::test::WriteFileBytes(dir / "a", "same");
  plf::test::WriteFileBytes(dir / "b", "new b");
  plf::test::WriteFileBytes(dir / "c", "same c");
  plf::test::WriteFileBytes(dir / "d", "new d");
  const struct {
    std::string script;
    std::string deltaScript;  // empty: refused
    std::string said;
  } cases[] = {
      {"[Verify]\r\nFile=C:\\a.txt\r\n[Files]\r\na=C:\\a.txt\r\nb=C:\\b.txt\r\nC=c:/C.TXT\r\nd=C:\\d.txt",
       "[Verify]\r\nFile=C:\\a.txt\r\n[Files]\r\nb=C:\\b.txt\r\nd=C:\\d.txt", "2 unchanged entries and 2 [Files] lines"},
      {"[Files]\r\na=C:\\moved\\a.txt\r\nb=C:\\b.txt\r\n", "",
       "line 2: the entry \"a\" is unchanged, but the old package does not install it to \"C:\\moved\\a.txt\""},
      {"[Files]\r\nc=C:\\c.txt\r\nb=C:\\c.txt\r\n", "", "line 2: the entry \"c\" is unchanged, but line 3 writes"},
  };
  for (const auto& c : cases) {
    plf::test::WriteFileBytes(dir / "s.ini", c.script);
    std::remove((dir / "u.plf").c_str());
    const test::Result r = Tool({"pack", "--no-check", "--delta-from", old, dir / "u.plf", dir / "s.ini", dir / "a",
                                 dir / "b", dir / "c", dir / "d"});
    EXPECT_EQ(r.code, c.deltaScript.empty() ? 1 : 0) << r.err;
    EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
    if (c.deltaScript.empty()) {
      EXPECT_FALSE(plf::test::PathExists(dir / "u.plf"));
      continue;
    }
    TPreLoadReader update(dir / "u.plf");
    EXPECT_EQ(update.EntryCount(), 3);
    EXPECT_EQ(test::ReadEntry(update, "SCRIPT"), c.deltaScript);
    EXPECT_EQ(test::ReadEntry(update, "b"), "new b");
    EXPECT_EQ(test::ReadEntry(update, "d"), "new d");
  }
}

}  // namespace
}  // namespace plf::tools
