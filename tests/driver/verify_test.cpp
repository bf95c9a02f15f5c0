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
  // separator, "{W}" for the folder and a backslash, "{B}" for a backslash,
  // "{V}" for the section header.
  std::string Expand(std::string text) const {
    const std::string native = tmp.Path() + std::string(1, DefaultPlatform().PathSeparator());
    const std::pair<const char*, std::string> marks[] = {
        {"{T}", native}, {"{W}", tmp.Path() + "\\"}, {"{B}", "\\"}, {"{V}", "[Verify]\r\n"}};
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

  test::TempDir tmp;
  VerifyPlatform platform;
};

TEST_F(Verify, TestsAndTheirWarnings) {
  struct Case {
    std::string script;
    bool passes;
    const char* warning;  // nullptr: no box
  } cases[] = {
      {"", true, nullptr}, {"{V}File={T}app.exe\r\nDir={T}dir\r\nNoExist={T}new.dll\r\n", true, nullptr},
      {"{V}File={T}missing\r\n", false, kNoPrevious}, {"{V}Dir={T}missing\r\n", false, kNoPrevious},
      {"{V}NoExist={T}app.exe\r\n", false, kNotHere}, {"{V}NoExist={T}dir\r\n", false, kNotHere},
      // Message and NoMessage: each for its own kind of test, taken as written
      {"{V}File={T}missing\r\nMessage=Hello\r\n", false, "ansi(Hello)"},
      {"{V}Message=\r\nFile={T}missing\r\n", false, kNoPrevious},
      {"{V}Message=   \r\nFile={T}missing\r\n", false, "ansi(   )"},
      {"{V}Message=m\r\nNoExist={T}app.exe\r\n", false, kNotHere},
      {"{V}NoMessage=Nope \r\nNoExist={T}app.exe\r\n", false, "ansi(Nope )"},
      {"{V}NoMessage=Nope\r\nFile={T}missing\r\n", false, kNoPrevious},
      // keywords by prefix, any letter case
      {"{V}file={T}app.exe\r\nFileName={T}app.exe\r\nDirectory={T}dir\r\nNoExists={T}new.dll\r\n", true, nullptr},
      {"{V}FileName={T}missing\r\n", false, kNoPrevious}, {"{V}Directory={T}missing\r\n", false, kNoPrevious},
      {"{V}NOEXISTS={T}app.exe\r\n", false, kNotHere},
      {"{V}Fil={T}missing\r\nDi={T}missing\r\nNoExis={T}app.exe\r\n", true, nullptr},
      // only the ends of the whole body are trimmed; values are not, the first "=" cuts
      {"{V}   File={T}missing\r\n", false, kNoPrevious},
      {"{V}Dir={T}dir\r\n   File={T}missing\r\n\tNoExist={T}app.exe\r\n", true, nullptr},
      {"{V}File={T}app.exe   \r\n\r\n", true, nullptr}, {"{V}File = {T}app.exe\r\n", false, kNoPrevious},
      {"{V}File={T}a=b\r\n", true, nullptr},
      // lines without "="
      {"{V}File\r\n", false, kNoPrevious}, {"{V}Dir\r\n", false, kNoPrevious}, {"{V}NoExist\r\n", true, nullptr},
      // wildcards, and the kind and date of what is found
      {"{V}File={T}a?p.e*\r\n", true, nullptr}, {"{V}File={T}*.zzz\r\n", false, kNoPrevious},
      {"{V}NoExist={T}dir{B}sub{B}*.tmp\r\n", false, kNotHere},
      {"{V}NoExist={T}dir{B}sub{B}*.dll\r\n", true, nullptr}, {"{V}NoExist={T}.hid*\r\n", false, kNotHere},
      {"{V}NoExist={T}d?r\r\n", false, kNotHere}, {"{V}Dir={T}di?\r\n", false, kNoPrevious},
      {"{V}File={T}dir\r\n", false, kNoPrevious}, {"{V}Dir={T}app.exe\r\n", false, kNoPrevious},
      {"{V}File={T}old.txt\r\n", false, kNoPrevious}, {"{V}File={T}far.txt\r\n", false, kNoPrevious},
      {"{V}NoExist={T}old.txt\r\n", false, kNotHere},
      // backslashes of the script
      {"{V}File={W}app.exe\r\nDir={W}dir{B}sub{B}\r\nFile={W}dir{B}sub{B}*.tmp\r\n", true, nullptr},
      {"[Verify]\nDir={T}dir\nMessage=lf\nFile={T}missing\n", false, "ansi(lf)"},
      {"File={T}missing\r\n[Verify]\r\n", true, nullptr},
      // only the first failing test warns
      {"{V}File={T}app.exe\r\nDir={T}missing\r\nNoExist={T}app.exe\r\nFile={T}missing\r\n", false, kNoPrevious},
      {"{V}NoExist={T}app.exe\r\nDir={T}missing\r\n", false, kNotHere},
      {"{V}\xff\xfe=\x80\r\nFile\xe1={T}app.exe\r\n=\r\n==\r\n[\r\n]\r\n", true, nullptr},  // near misses
  };
  for (const Case& c : cases) {
    platform.boxes.clear();
    EXPECT_EQ(Run(c.script), c.passes) << c.script;
    std::vector<std::string> shown;
    for (const test::ShownBox& box : platform.boxes) shown.push_back(box.caption + ": " + box.text);
    EXPECT_EQ(shown, c.warning == nullptr ? std::vector<std::string>{}
                                          : std::vector<std::string>{std::string("Upozornění: ") + c.warning})
        << c.script;
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
