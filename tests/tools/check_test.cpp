// plf check: scripts full of traps, and exactly the findings they deserve.

#include "text/textutil.h"
#include "tool_harness.h"
#include "tools/script_lint.h"

namespace plf::tools {
namespace {

using test::Tool;
using Found = std::vector<std::pair<int, std::string>>;  // line, code

std::string Join(const std::vector<std::string>& lines, const std::string& brk) {
  std::string text;
  for (const std::string& line : lines) text += line + brk;
  return text;
}

Found Codes(const std::vector<Finding>& findings, bool withPackageLevel) {
  Found found;
  for (const Finding& f : findings)
    if (withPackageLevel || f.line != 0) found.push_back({f.line, f.code});
  std::sort(found.begin(), found.end());
  return found;
}

// "příliš" in UTF-8 and in code page 1250.
const std::string kUtf8Word = "p\xC5\x99\xC3\xADli\xC5\xA1";
const std::string k1250Word = "p\xF8\xEDli\x9A";

class CheckScript : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildCaseTables();
    const PackedDate y2000 = test::Date(2000, 3, 5);
    test::WritePackage(package, {{"SCRIPT", "[Files]\r\n", y2000}, {"app.exe", "app", y2000}, {"lib\\x.dll", "dll", y2000},
                                 {"tail ", "t", y2000}, {"old", "o", test::Date(1975, 5, 5)}, {"nodate", "n"},
                                 {"dup", "d", y2000}, {"DUP", "D", y2000}, {"unused", "u", y2000},
                                 {"future", "f", test::Date(2100, 1, 1)}, {kUtf8Word + ".txt", "u", y2000},
                                 {k1250Word + ".txt", "c", y2000}});
  }

  std::vector<Finding> Lint(const std::string& text, bool withPackage) {
    LintInput input;
    input.scriptText = text;
    if (withPackage) {
      reader_ = std::make_unique<TPreLoadReader>(package);
      input.package = reader_.get();
      input.scriptIndex = 0;
    }
    return LintScript(input);
  }

  plf::test::TempDir dir;
  const std::string package = dir / "p.plf";
  std::unique_ptr<TPreLoadReader> reader_;
};

TEST_F(CheckScript, EachTrapIsFoundOnceWhateverTheLineBreaks) {
  struct Case {
    std::vector<std::string> lines;
    Found expected;
    std::string shows = "";  // in the message of one of the findings
  };
  std::vector<Case> cases = {
      {{"[Verify]", "  File=C:\\x",  // the body's first line: its blanks go with the body's
        " Dir=C:\\y", "Message =Hi", " NoMessage=No", "FileName=C:\\z", "Hello", "[Options]", "Rename=*.bak",
        "Rename=*.old", "\tTimeStamp=12:00", "Colour=blue", "; a comment-like line", "[Files]",
        "app.exe=C:\\App\\app.exe"},
       {{3, "test-indented"}, {4, "key-unreachable"}, {5, "key-unreachable"}, {6, "test-keyword"},
        {7, "verify-line-ignored"}, {10, "key-duplicate"}, {11, "key-unreachable"}, {12, "key-unknown"}}},
      {{"; my script", "[ Files ]", "app.exe=C:\\a", "[Files", "app.exe=C:\\b", "[Setup]", "x=y", "[Files]",
        "app.exe=C:\\App\\app.exe", "  [FILES]", "lib\\x.dll=C:\\App\\x.dll"},
       {{1, "text-before-sections"}, {2, "section-malformed"}, {4, "section-malformed"}, {6, "section-unknown"},
        {10, "section-duplicate"}},
       "the one at line 8"},
      {{"[Files]", "app.exe=C:\\App\\" + kUtf8Word + ".txt"}, {{2, "utf8-text"}},
       "the installer reads code page 1250 and shows 'pĹ™Ă­liĹˇ.txt'"},
      {{"[Files]", "a=C:\\\xC3\x81" "da"}, {{2, "utf8-text"}}, "shows '\xC4\x82\\x81da'"},  // 0x81: none in 1250
      {{"[Files]", "app.exe=C:\\App\\" + k1250Word + ".txt"}, {}},
      {{"[Files]", "app.exe=C:\\" + kUtf8Word + "\\" + k1250Word}, {}},  // not UTF-8 throughout
      {{"\xEF\xBB\xBF[Verify]", "Message=" + kUtf8Word, "[Files]"}, {{1, "utf8-bom"}, {2, "utf8-text"}}},
      {{"[Files]", "a=C:\\a", std::string("\0", 1) + kUtf8Word}, {{3, "nul-byte"}}},  // never read
      {{"[Verify]", "File", "NoExist", "Dir=", "File= C:\\x", "NoExist=C:\\*.tmp", "[Files]"},
       {{2, "test-without-equals"}, {3, "test-without-equals"}, {4, "test-empty-path"}, {5, "path-blanks"}}},
      {{"[Options]", "Rename=old_*.*", "TimeStamp=12:00:00.5", "[Files]"}, {{2, "rename-prefix"}, {3, "timestamp-locale"}}},
      {{"[Options]", "Rename=*.*", "TimeStamp=noon", "[Files]"}, {{2, "rename-self"}, {3, "timestamp-invalid"}}},
      {{"[Options]", "Rename=*_OLD.*", "TimeStamp=  11:30 PM  ", "[Files]"}, {}},
      {{"[Options]", "Rename=*.bak "}, {{0, "no-files-section"}, {2, "value-blanks"}}},
  };
  // Target names that Windows refuses or changes; a next line, as the
  // section's ends are trimmed.
  const std::pair<std::string, std::vector<std::string>> targets[] = {
      {"C:\\App\\a:b", {"forbidden-character"}}, {"\\\\?\\C:\\App\\a.txt", {}}, {"C:a.txt", {}},
      {"1:\\a", {"forbidden-character", "target-relative"}}, {"\\\\server\\share\\a.txt", {}},
      {"C:\\App.\\a.txt", {"trailing-dot-or-blank"}}, {"C:/App /a.txt", {"trailing-dot-or-blank"}},
      {"C:\\App\\..\\a.txt", {}}, {".\\a.txt", {"target-relative"}}, {"C:\\App\\a ", {"path-blanks"}},
      {"C:\\App\\a?b", {"forbidden-character"}}, {"C:\\App\\a|b.txt", {"forbidden-character"}},
      {"C:\\a\x01" "b", {"forbidden-character"}},
  };
  for (const auto& t : targets) {
    Found expected;
    for (const std::string& code : t.second) expected.push_back({2, code});
    cases.push_back({{"[Files]", "app.exe=" + t.first, "x=C:\\x"}, expected});
  }
  cases.back().shows = "holds '\\x01'";
  cases[cases.size() - 2].shows = "the target 'C:\\App\\a|b.txt' holds '|', which Windows does not allow in a name";

  for (const Case& c : cases) {
    for (const char* brk : {"\r\n", "\n", "\r"}) {
      const std::vector<Finding> findings = Lint(Join(c.lines, brk), false);
      EXPECT_EQ(Codes(findings, true), c.expected) << Join(c.lines, "|") << " with break " << int(brk[0]) << brk[1];
      std::string messages;
      for (const Finding& f : findings) {
        messages += f.message + "\n";
        EXPECT_TRUE(f.code.compare(0, 4, "utf8") != 0 || f.severity == Severity::Error) << f.code;
      }
      EXPECT_NE(messages.find(c.shows), std::string::npos) << messages;
    }
  }
}

TEST_F(CheckScript, FilesLinesAgainstThePackage) {
  const std::string text = Join({"[Options]", "Rename=backup.old", "TimeStamp=25:00", "[Files]", "app.exe=C:\\App\\app.exe",
                                 "app.exe=c:/app/APP.EXE", "lib/x.dll=C:\\App\\x.dll", "tail=C:\\App\\t",
                                 " app.exe=C:\\App\\y", "missing=C:\\App\\m", "nodate=C:\\App\\n.txt", "old=C:\\App\\o.txt",
                                 "future=App\\f.txt", "app.exe", ";comment=C:\\x", "unused=", "dup=C:\\App\\dir\\",
                                 "DUP=C:\\App\\d2 ", "nothing"},
                                "\r\n");
  const Found expected{{2, "rename-no-star"},    {3, "timestamp-invalid"}, {6, "target-duplicate"},
                       {7, "entry-near-miss"},   {8, "entry-near-miss"},   {9, "entry-near-miss"},
                       {10, "entry-missing"},    {11, "entry-no-date"},    {12, "entry-date-range"},
                       {13, "entry-date-range"}, {13, "target-relative"},  {14, "files-no-equals"},
                       {15, "files-comment"},    {16, "target-empty"},     {17, "target-folder"},
                       {18, "path-blanks"},      {19, "files-no-equals"}};
  EXPECT_EQ(Codes(Lint(text, true), false), expected);
}

TEST_F(CheckScript, EntriesThatNoLineInstallsOrThatAreNeverFound) {
  const std::vector<Finding> findings = Lint("[Files]\r\napp.exe=C:\\App\\app.exe\r\n", true);
  std::vector<std::string> packageLevel;
  for (const Finding& f : findings) {
    EXPECT_EQ(f.line, 0) << f.message;
    packageLevel.push_back(f.code + " " + f.message.substr(f.message.find('\'')));
  }
  std::sort(packageLevel.begin(), packageLevel.end());
  // Names are shown in the code page in force (1252 under an English Wine).
  std::vector<std::string> expected{
      "entry-shadowed 'DUP' is never found: entry 6 has the same name, letter case ignored", "entry-unused 'dup'",
      "entry-unused 'future'", "entry-unused 'lib\\x.dll'", "entry-unused 'nodate'", "entry-unused 'old'",
      "entry-unused '" + Sys().AnsiToUtf8(kUtf8Word + ".txt") + "'",
      "entry-unused '" + Sys().AnsiToUtf8(k1250Word + ".txt") + "'", "entry-unused 'tail '", "entry-unused 'unused'",
      "utf8-name 'příliš.txt' is in UTF-8, and the installer reads it in code page 1250 as 'pĹ™Ă­liĹˇ.txt': a "
      "[Files] line in code page 1250 does not find it; pack the files with plf pack, which converts names"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(packageLevel, expected);
}

TEST_F(CheckScript, CommandExitCodesAndJson) {
  plf::test::WriteFileBytes(dir / "warn.ini", "[Files]\r\napp.exe=C:\\App.\\app.exe\r\n");
  plf::test::WriteFileBytes(dir / "forbidden.ini", "[Files]\r\napp.exe=C:\\App\\a|b\r\n");
  plf::test::WriteFileBytes(dir / "bad.ini", "[Files]\r\napp.exe\r\napp.exe=C:\\a\r\n");
  test::WritePackage(dir / "noscript.plf", {{"app.exe", "x"}});
  test::WritePackage(dir / "good.plf", {{"SCRIPT", "[Files]\r\napp.exe=C:\\App\\app.exe\r\n"}, {"app.exe", "x", test::Date(2000, 1, 1)}});

  EXPECT_EQ(Tool({"check", dir / "good.plf"}).out, dir / "good.plf" + " (SCRIPT): no findings\n");
  const std::pair<std::vector<std::string>, int> exits[] = {
      {{"check", dir / "good.plf"}, 0},
      {{"check", "--script", dir / "warn.ini"}, 0},
      {{"check", "--strict", "--script", dir / "warn.ini"}, 1},
      {{"check", "--script", dir / "forbidden.ini"}, 1},
  };
  for (const auto& e : exits) EXPECT_EQ(Tool(e.first).code, e.second) << Join(e.first, " ");

  const test::Result bad = Tool({"check", "--script", dir / "bad.ini", dir / "good.plf"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(test::Lines(bad.out),
            (std::vector<std::string>{"Line  Severity  Finding",
                                      "   2  error     this line has no '=', so it names the entry 'app.exe' with an "
                                      "empty target path, and creating that file stops the installer with an error.",
                                      dir / "bad.ini" + ": 1 error, 0 warnings, 0 notes"}));

  const test::Result json = Tool({"check", "--json", dir / "noscript.plf"});
  EXPECT_EQ(json.code, 1);
  EXPECT_NE(json.out.find("{\"line\":null,\"severity\":\"error\",\"code\":\"no-script\""), std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"errors\":1,\"warnings\":0,\"notes\":0}"), std::string::npos) << json.out;
}

}  // namespace
}  // namespace plf::tools
