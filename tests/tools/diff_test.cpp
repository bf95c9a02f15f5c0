// plf diff and update packages: what changed between two releases, and a
// package of only that which installs the same as the full one over the
// old release.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "support/test_support.h"
#include "tool_harness.h"

namespace plf::tools {
namespace {

using test::Tool;

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
  plf::test::WriteFileBytes(dir / "cut.plf", plf::test::ReadFileBytes(v1).substr(0, 30));
  for (const std::vector<std::string>& trouble :
       {std::vector<std::string>{"diff", v1}, {"diff", v1, dir / "missing.plf"}, {"diff", dir / "cut.plf", v1}})
    EXPECT_EQ(Tool(trouble).code, 2) << trouble.back();
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
