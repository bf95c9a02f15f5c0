#include "driver/verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "runtime/platform.h"
#include "support/test_support.h"
#include "text/textutil.h"

namespace plf {
namespace {

constexpr const char kNoPrevious[] = "Nebyla nalezena předchozí instalace!";

// Marks what went through the ANSI conversion, so a script's message can be
// told from the installer's own Czech default.
class VerifyPlatform : public test::CapturePlatform {
 public:
  std::string AnsiToUtf8(const std::string& ansi) override { return "ansi(" + ansi + ")"; }
};

// Each row's warning, or nullptr where the script passes. In a script,
// "{T}" stands for the temporary folder and a backslash, as scripts write it
// everywhere, and "{V}" for the section header.
TEST(Verify, TestsAndTheirWarnings) {
  BuildCaseTables();
  test::TempDir tmp;
  test::WriteFileBytes(tmp / "app.exe", "exe");
  test::WriteFileBytes(tmp / "a=b", "eq");
  test::WriteFileBytes(tmp / "old.txt", "old");
  test::SetNoonWriteTime(tmp / "old.txt", 1975, 6, 15);
  std::filesystem::create_directories(tmp / "dir/sub");
  test::WriteFileBytes(tmp / "dir/sub/x.tmp", "t");
  const std::pair<std::string, const char*> cases[] = {
      // Keywords by prefix, in any letter case.
      {"{V}fileName={T}missing\r\n", kNoPrevious},
      {"{V}DIRECTORY={T}missing\r\n", kNoPrevious},
      {"{V}NoExists={T}app.exe\r\n", "Sem se to nema instalovat!"},
      // Message and NoMessage: each for its own kind of test, taken as
      // written; an empty one is no message.
      {"[Verify]\nDir={T}dir\nMessage=lf\nFile={T}missing\n", "ansi(lf)"},
      {"{V}Message=\r\nFile={T}missing\r\n", kNoPrevious},
      {"{V}NoMessage=Nope \r\nNoExist={T}app.exe\r\n", "ansi(Nope )"},
      // Only the ends of the whole body are trimmed, the first "=" cuts and
      // a line without one tests an empty name.
      {"{V}File={T}a=b\r\nDir={T}dir\r\nNoExist={T}x.dll\r\n   File={T}missing\r\nFile={T}app.exe   \r\n\r\n", nullptr},
      {"{V}NoExist\r\nFile\r\n", kNoPrevious},
      // Wildcards, and the kind and date of what is found.
      {"{V}File={T}a?p.e*\r\n", nullptr},
      {"{V}File={T}dir\r\n", kNoPrevious},
      {"{V}File={T}old.txt\r\n", kNoPrevious},
      {"{V}Dir={T}dir\\sub\\\r\nNoExist={T}dir\\sub\\*.tmp\r\n", "Sem se to nema instalovat!"},
      // Only the first failing test warns.
      {"{V}File={T}app.exe\r\nDir={T}missing\r\nNoExist={T}app.exe\r\nFile={T}missing\r\n", kNoPrevious},
  };
  const std::pair<const char*, std::string> marks[] = {{"{T}", tmp.Path() + "\\"}, {"{V}", "[Verify]\r\n"}};
  VerifyPlatform platform;
  ScopedPlatform scope(platform);
  for (const auto& [script, warning] : cases) {
    std::string text = script;
    for (const auto& mark : marks)
      for (std::size_t at; (at = text.find(mark.first)) != std::string::npos;) text.replace(at, 3, mark.second);
    TIniStringList list;
    list.LoadText(text);
    platform.boxes.clear();
    EXPECT_EQ(VerifyScript(list), warning == nullptr) << script;
    std::string shown;
    for (const test::ShownBox& box : platform.boxes) shown += box.caption + ": " + box.text + ";";
    EXPECT_EQ(shown, warning == nullptr ? "" : "Upozornění: " + std::string(warning) + ";") << script;
  }
}

}  // namespace
}  // namespace plf
