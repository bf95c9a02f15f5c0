// plf extract: names that try to leave the folder, and what stands in the way.
// plf diff and update packages: what changed between two releases, and a
// package of only that which installs the same as the full one over the
// old release.
#include "tool_harness.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;
using test::Tool;

class ToolFiles : public ::testing::Test {
 protected:
  std::string Package(const std::string& name, const std::vector<test::Entry>& entries) {
    test::WritePackage(dir / name, entries);
    return dir / name;
  }
  plf::test::TempDir dir;
};

// Each entry's data is where it must land; empty: refused. "OK" is the same
// file as "ok" on Windows, and "ok" is a file, not a folder. A file in the
// way is replaced, a folder or a read-only file is not.
TEST_F(ToolFiles, ExtractedNamesLandInsideOrAreRefused) {
  const std::pair<std::string, std::string> cases[] = {
      {"..\\evil", ""}, {"/abs/x", "abs/x"}, {"C:\\Windows\\y", "Windows/y"}, {"ok", "ok"}, {"OK", ""},
      {"ok\\z", ""}, {"a?b", "a_b"}, {"sub\\..\\..\\up", ""}, {"a\\..", ""}, {"C:", ""},
      {"bin/lib\\x.dll", "bin/lib/x.dll"}, {"c:x", "x"}, {"a\\\\b\\.\\c", "a/b/c"}, {"...", "___"},
      {"name. ", "name__"}, {"a<b>c:d\"e|f*h\tz", "a_b_c_d_e_f_h_z"}, {"CON", "_CON"}, {"nul.txt", "_nul.txt"},
      {"Com7.log", "_Com7.log"}, {"com10", "com10"}, {"console", "console"}, {"f", "f"}, {"d", ""}, {"r", ""},
  };
  std::vector<test::Entry> entries;
  for (const auto& [name, lands] : cases) entries.push_back({name, lands});
  fs::create_directories(dir / "out/d");
  plf::test::WriteFileBytes(dir / "out/f", "old old old");
  plf::test::WriteFileBytes(dir / "out/r", "old");
  plf::test::MakeReadOnly(dir / "out/r", true);
  const test::Result r = Tool({"extract", "-C", dir / "out", Package("p.plf", entries)});
  plf::test::MakeReadOnly(dir / "out/r", false);
  EXPECT_EQ(r.code, 1);
  for (const auto& [name, lands] : cases) {
    if (lands.empty())
      EXPECT_NE(r.err.find("entry \"" + name + "\" not written"), std::string::npos) << name << r.err;
    else
      EXPECT_EQ(plf::test::ReadFileBytes(dir / ("out/" + lands)), lands) << name;
  }
  EXPECT_NE(r.err.find("a folder stands at"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("is read-only"), std::string::npos) << r.err;
  EXPECT_EQ(plf::test::ReadFileBytes(dir / "out/r"), "old");
  EXPECT_NE(r.out.find("16 files written, 8 refused"), std::string::npos) << r.out;
  // Nothing at all beside the output folder and the package.
  EXPECT_EQ(test::FolderNames(dir.Path()), (std::vector<std::string>{"out", "p.plf"}));
}

TEST_F(ToolFiles, DiffTellsEntriesByContentAndTheScriptBySection) {
  const std::string script1 = "[Verify]\r\nFile=C:\\App\\app.exe\r\n[Options]\r\nRename=*_OLD.*\r\n[Files]\r\n"
                              "app.exe=C:\\App\\app.exe\r\nold.dll=C:\\App\\old.dll\r\nhelp=C:\\App\\help.txt\r\n";
  const std::string script2 = "[Verify]\r\nFile=C:\\App\\app.exe\r\nNoExist=C:\\App\\v2\r\n[Options]\r\nRename=*.bak\r\n"
                              "[Files]\r\nAPP.EXE=c:/app/app.exe\r\nnew.dll=C:\\App\\new.dll\r\nhelp=C:\\App\\doc\\help.txt\r\n";
  const std::string v1 =
      Package("v1.plf", {{"SCRIPT", script1}, {"app.exe", "v1"}, {"old.dll", "o"}, {"help", "h", test::Date(2001, 1, 1)}});
  const std::string v2 =
      Package("v2.plf", {{"SCRIPT", script2}, {"App.exe", "v2"}, {"new.dll", "n"}, {"HELP", "h", test::Date(2020, 1, 1)}});

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
  EXPECT_NE(Tool({"diff", v1, v1}).out.find("are equal: 4 entries"), std::string::npos);
}

TEST_F(ToolFiles, AnUpdateLeavesOutOnlyWhatTheOldReleaseInstalledAlready) {
  const std::string old = Package("old.plf", {{"SCRIPT", "[Files]\r\na=C:\\a.txt\r\nb=C:\\b.txt\r\nc=C:\\c.txt\r\n"},
                                             {"a", "same"}, {"b", "old b"}, {"c", "same c"}});
  plf::test::WriteFileBytes(dir / "a", "same");
  plf::test::WriteFileBytes(dir / "b", "new b");
  plf::test::WriteFileBytes(dir / "c", "same c");
  plf::test::WriteFileBytes(dir / "d", "new d");
  // The script, the update's script (empty: refused), what is said.
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"[Verify]\r\nFile=C:\\a.txt\r\n[Files]\r\na=C:\\a.txt\r\nb=C:\\b.txt\r\nC=c:/C.TXT\r\nd=C:\\d.txt",
       "[Verify]\r\nFile=C:\\a.txt\r\n[Files]\r\nb=C:\\b.txt\r\nd=C:\\d.txt", "2 unchanged entries and 2 [Files] lines"},
      {"[Files]\r\na=C:\\moved\\a.txt\r\nb=C:\\b.txt\r\n", "",
       "line 2: the entry \"a\" is unchanged, but the old package does not install it to \"C:\\moved\\a.txt\""},
      {"[Files]\r\nc=C:\\c.txt\r\nb=C:\\c.txt\r\n", "", "line 2: the entry \"c\" is unchanged, but line 3 writes"},
  };
  for (const auto& [script, deltaScript, said] : cases) {
    plf::test::WriteFileBytes(dir / "s.ini", script);
    fs::remove(dir / "u.plf");
    const test::Result r = Tool({"pack", "--no-check", "--delta-from", old, dir / "u.plf", dir / "s.ini", dir / "a",
                                 dir / "b", dir / "c", dir / "d"});
    EXPECT_EQ(r.code, deltaScript.empty() ? 1 : 0) << r.err;
    EXPECT_NE((r.out + r.err).find(said), std::string::npos) << r.out << r.err;
    EXPECT_EQ(plf::test::PathExists(dir / "u.plf"), !deltaScript.empty());
    if (deltaScript.empty()) continue;
    TPreLoadReader update(dir / "u.plf");
    EXPECT_EQ(update.EntryCount(), 3);
    EXPECT_EQ(test::ReadEntry(update, "SCRIPT") + test::ReadEntry(update, "b") + test::ReadEntry(update, "d"),
              deltaScript + "new bnew d");
  }
}

}  // namespace
}  // namespace plf::tools
