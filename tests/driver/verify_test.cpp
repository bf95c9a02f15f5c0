#include "driver/verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "runtime/calendar.h"
#include "runtime/platform.h"
#include "support/test_support.h"
#include "text/textutil.h"

namespace plf {
namespace {

using namespace std::string_literals;

constexpr const char kNoPrevious[] = "Nebyla nalezena předchozí instalace!";
constexpr const char kNotHere[] = "Sem se to nema instalovat!";

// Marks what went through the ANSI conversion, so a script's message can be
// told from the installer's own Czech default.
class VerifyPlatform : public test::CapturePlatform {
 public:
  std::string AnsiToUtf8(const std::string& ansi) override { return "ansi(" + ansi + ")"; }
};

class Verify : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildCaseTables();
    test::WriteFileBytes(tmp / "app.exe", "exe");
    test::WriteFileBytes(tmp / "a=b", "eq");
    test::WriteFileBytes(tmp / ".hidden", "h");
    test::WriteFileBytes(tmp / "old.txt", "old");
    test::WriteFileBytes(tmp / "far.txt", "far");
    std::filesystem::create_directories(tmp / "dir/sub");
    test::WriteFileBytes(tmp / "dir/sub/x.tmp", "t");
    test::SetNoonWriteTime(tmp / "old.txt", 1975, 6, 15);
    test::SetNoonWriteTime(tmp / "far.txt", 2110, 6, 15);
  }

  // In a script, "{T}" stands for the temporary folder and the native
  // separator, "{W}" for the folder and a backslash, "{B}" for a backslash.
  std::string Expand(std::string text) const {
    const std::string native = tmp.Path() + std::string(1, DefaultPlatform().PathSeparator());
    const std::pair<const char*, std::string> marks[] = {{"{T}", native}, {"{W}", tmp.Path() + "\\"}, {"{B}", "\\"}};
    for (const auto& mark : marks)
      for (std::size_t at; (at = text.find(mark.first)) != std::string::npos;) text.replace(at, 3, mark.second);
    return text;
  }

  bool Run(const std::string& script) {
    TIniStringList list;
    list.LoadText(Expand(script));
    ScopedPlatform scope(platform);
    return VerifyScript(list);
  }

  std::vector<std::string> Shown() const {
    std::vector<std::string> texts;
    for (const test::ShownBox& box : platform.boxes) texts.push_back(box.caption + ": " + box.text);
    return texts;
  }

  test::TempDir tmp;
  VerifyPlatform platform;
};

TEST_F(Verify, TestsAndTheirWarnings) {
  struct Case {
    std::string script;
    bool passes;
    const char* warning;  // nullptr: no box
  } cases[] = {
      {"", true, nullptr},
      {"[Verify]", true, nullptr},
      {"[Verify]\r\nMessage=m\r\nNoMessage=n\r\n", true, nullptr},
      {"[Verify]\r\nFile={T}app.exe\r\nDir={T}dir\r\nNoExist={T}new.dll\r\n", true, nullptr},
      {"[Verify]\r\nFile={T}missing\r\n", false, kNoPrevious},
      {"[Verify]\r\nDir={T}missing\r\n", false, kNoPrevious},
      {"[Verify]\r\nNoExist={T}app.exe\r\n", false, kNotHere},
      {"[Verify]\r\nNoExist={T}dir\r\n", false, kNotHere},
      // Message and NoMessage
      {"[Verify]\r\nFile={T}missing\r\nMessage=Hello\r\n", false, "ansi(Hello)"},
      {"[Verify]\r\nMessage=\r\nFile={T}missing\r\n", false, kNoPrevious},
      {"[Verify]\r\nMessage=   \r\nFile={T}missing\r\n", false, "ansi(   )"},
      {"[Verify]\r\nMessage=first\r\nMessage=second\r\nDir={T}missing\r\n", false, "ansi(first)"},
      {"[Verify]\r\nMessage=m\r\nNoExist={T}app.exe\r\n", false, kNotHere},
      {"[Verify]\r\nNoMessage=Nope \r\nNoExist={T}app.exe\r\n", false, "ansi(Nope )"},
      {"[Verify]\r\nNoMessage=Nope\r\nFile={T}missing\r\n", false, kNoPrevious},
      {"[Verify]\r\nmessage=lower\r\nFile={T}missing\r\n", false, "ansi(lower)"},
      {"[Verify]\r\n Message=indented\r\nFile={T}missing\r\n", false, kNoPrevious},
      {"[Verify]\r\nFile={T}missing\r\n[Other]\r\nMessage=elsewhere\r\n", false, kNoPrevious},
      // keywords by prefix, any letter case
      {"[Verify]\r\nfile={T}app.exe\r\nFILE={T}app.exe\r\nFileName={T}app.exe\r\n", true, nullptr},
      {"[Verify]\r\nFileName={T}missing\r\n", false, kNoPrevious},
      {"[Verify]\r\nDirectory={T}dir\r\ndir={T}dir\r\n", true, nullptr},
      {"[Verify]\r\nDirectory={T}missing\r\n", false, kNoPrevious},
      {"[Verify]\r\nNoExists={T}new.dll\r\nnoexist={T}new.dll\r\n", true, nullptr},
      {"[Verify]\r\nNOEXISTS={T}app.exe\r\n", false, kNotHere},
      {"[Verify]\r\nFil={T}missing\r\nDi={T}missing\r\nNoExis={T}app.exe\r\n", true, nullptr},
      // only the ends of the whole body are trimmed
      {"[Verify]\r\n   File={T}missing\r\n", false, kNoPrevious},
      {"[Verify]\r\nDir={T}dir\r\n   File={T}missing\r\n\tNoExist={T}app.exe\r\n", true, nullptr},
      {"[Verify]\r\nFile={T}app.exe   \r\n\r\n", true, nullptr},
      {"[Verify]\r\nFile={T}app.exe\r\nMessage=kept \t\r\nDir={T}missing\r\n", false, "ansi(kept \t)"},
      // values are not trimmed; the first "=" cuts
      {"[Verify]\r\nFile = {T}app.exe\r\n", false, kNoPrevious},
      {"[Verify]\r\nFile={T}a=b\r\n", true, nullptr},
      // lines without "="
      {"[Verify]\r\nFile\r\n", false, kNoPrevious},
      {"[Verify]\r\nDir\r\n", false, kNoPrevious},
      {"[Verify]\r\nNoExist\r\n", true, nullptr},
      {"[Verify]\r\nFile=\r\n", false, kNoPrevious},
      {"[Verify]\r\nNoExist=\r\n", true, nullptr},
      // wildcards
      {"[Verify]\r\nFile={T}app.e*\r\n", true, nullptr},
      {"[Verify]\r\nFile={T}a?p.exe\r\n", true, nullptr},
      {"[Verify]\r\nFile={T}*.zzz\r\n", false, kNoPrevious},
      {"[Verify]\r\nNoExist={T}dir{B}sub{B}*.tmp\r\n", false, kNotHere},
      {"[Verify]\r\nNoExist={T}dir{B}sub{B}*.dll\r\n", true, nullptr},
      {"[Verify]\r\nNoExist={T}.hid*\r\n", false, kNotHere},
      {"[Verify]\r\nNoExist={T}su?\r\n", true, nullptr},
      {"[Verify]\r\nNoExist={T}d?r\r\n", false, kNotHere},
      {"[Verify]\r\nDir={T}di?\r\n", false, kNoPrevious},
      // the kind and the date of what is found
      {"[Verify]\r\nFile={T}dir\r\n", false, kNoPrevious},
      {"[Verify]\r\nDir={T}app.exe\r\n", false, kNoPrevious},
      {"[Verify]\r\nFile={T}old.txt\r\n", false, kNoPrevious},
      {"[Verify]\r\nFile={T}far.txt\r\n", false, kNoPrevious},
      {"[Verify]\r\nNoExist={T}old.txt\r\n", false, kNotHere},
      // backslashes of the script
      {"[Verify]\r\nFile={W}app.exe\r\nDir={W}dir{B}sub\r\n", true, nullptr},
      {"[Verify]\r\nDir={W}dir{B}sub{B}\r\n", true, nullptr},
      {"[Verify]\r\nFile={W}dir{B}sub{B}*.tmp\r\n", true, nullptr},
      // line breaks and section syntax
      {"[Verify]\rFile={T}app.exe\rDir={T}missing\r", false, kNoPrevious},
      {"[Verify]\nDir={T}dir\nMessage=lf\nFile={T}missing\n", false, "ansi(lf)"},
      {"  [verify] trailing\r\nFile={T}missing\r\n", false, kNoPrevious},
      {"[Verify\r\nFile={T}missing\r\n", true, nullptr},
      {"File={T}missing\r\n[Verify]\r\n", true, nullptr},
      // only the first failing test warns
      {"[Verify]\r\nFile={T}app.exe\r\nDir={T}missing\r\nNoExist={T}app.exe\r\nFile={T}missing\r\n", false, kNoPrevious},
      {"[Verify]\r\nNoExist={T}app.exe\r\nDir={T}missing\r\n", false, kNotHere},
      // near misses
      {"[Verify]\r\n\xff\xfe=\x80\r\nFile\xe1={T}app.exe\r\n", true, nullptr},
      {"[Verify]\r\n=\r\n==\r\n[\r\n]\r\n", true, nullptr},
      {"[Verify]\r\n\r\n\r\n", true, nullptr},
      {"[Verify]\r\nNoExist={T}*\\*\r\n", true, nullptr},
      {"[Verify]\r\nDir={T}dir\0\r\nFile={T}missing\r\n"s, true, nullptr},
  };
  for (const Case& c : cases) {
    platform.boxes.clear();
    EXPECT_EQ(Run(c.script), c.passes) << c.script;
    if (c.warning == nullptr) {
      EXPECT_TRUE(platform.boxes.empty()) << c.script;
    } else {
      EXPECT_EQ(Shown(), std::vector<std::string>{std::string("Upozornění: ") + c.warning}) << c.script;
    }
  }
}

TEST(CharPos, PositionsAndKeepAfter) {
  struct Case {
    const char* text;
    char c;
    int pos;
    const char* after;
  } cases[] = {
      {"a=b", '=', 2, "b"}, {"a=b=c", '=', 2, "b=c"}, {"abc", '=', 0, ""}, {"", '=', 0, ""},
      {"=x", '=', 1, "x"},  {"x=", '=', 2, ""},       {"\xe1\xe1", '\xe1', 1, "\xe1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CharPos(c.c, c.text), c.pos) << c.text;
    std::string text = c.text;
    KeepAfterChar(&text, c.c);
    EXPECT_EQ(text, c.after) << c.text;
  }
  EXPECT_EQ(CharPos('\0', std::string("a\0b", 3)), 2);
}

}  // namespace
}  // namespace plf
