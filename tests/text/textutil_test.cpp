#include "text/textutil.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/platform.h"

namespace plf {
namespace {

TEST(TextUtil, TrimCutsControlsAndBlanksOnly) {
  EXPECT_EQ(Trim(std::string("\t\r\n \x01x y\x1f \x0b", 12)), "x y");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\xa0x\xa0"), "\xa0x\xa0");  // high bytes are no blanks
}

// Only the last byte decides: a slash is no backslash.
TEST(TextUtil, EnsureTrailingBackslashLooksAtTheLastByteOnly) {
  for (const auto& [path, made] : {std::pair<std::string, std::string>{"C:\\Prog", "C:\\Prog\\"},
                                   {"C:\\Prog\\", "C:\\Prog\\"}, {"a/", "a/\\"}, {"", ""}}) {
    std::string changed = path;
    EnsureTrailingBackslash(&changed);
    EXPECT_EQ(changed, made) << path;
  }
}

TEST(TextUtil, TakeLineWalksLinesOfEveryBreakKindAndStopsAtANul) {
  const std::string text("ab\r\ncd\n\ref\rgh\n\nij\0kl", 20);
  const char* cursor = text.c_str();
  std::string lines;
  for (int i = 0; i < 8; ++i) {
    std::string line = "stale";
    TakeLine(&cursor, &line);
    lines += line + "|";
  }
  EXPECT_EQ(lines, "ab|cd||ef|gh||ij||");
  EXPECT_EQ(cursor, text.c_str() + 17);
  cursor = nullptr;  // no position stays none
  SkipWhitespace(&cursor);
  SkipLineBreak(&cursor);
  EXPECT_EQ(FindLineEnd(cursor), nullptr);
}

TEST(TextUtil, FoldedComparisons) {
  BuildCaseTables();
  const struct {
    std::string a, b;
    int sign;
  } cases[] = {
      {"abc", "ABC", 0}, {"ab", "abc", -1}, {"_", "a", 1},  // folded to capitals: 'A' < '_'
      {std::string("a\0b", 3), std::string("A\0C", 3), -1},  // a NUL does not end the comparison
  };
  for (const auto& c : cases) {
    const int r = CompareFolded(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " / " << c.b;
  }
  EXPECT_EQ(CompareFoldedN("\xff", "\x01", 1), UpperFoldTable[0xff] - 1);  // bytes taken as 0..255
  EXPECT_TRUE(StartsWithFolded("[fil", "[Files]"));
  EXPECT_FALSE(StartsWithFolded("[Files]", "[File"));
}

// Answers with a code page of its own: accented letters get capitals, and
// the low range would be scrambled if the table asked about it.
class CodePagePlatform : public PlatformWrapper {
 public:
  CodePagePlatform() : PlatformWrapper(DefaultPlatform()) {}
  unsigned char UpperChar(unsigned char c) override {
    if (c <= 32) return 'X';
    if (c == '!') return '1';  // asked from here on
    return c == 0xe8 ? 0xc8 : Inner().UpperChar(c);  // č->Č
  }
};

TEST(TextUtil, BuildCaseTablesTakesThePlatformsCapitalsAboveTheControls) {
  CodePagePlatform platform;
  {
    ScopedPlatform scope(platform);
    BuildCaseTables();
  }
  for (int c = 0; c <= 32; ++c) EXPECT_EQ(UpperFoldTable[c], c);
  EXPECT_EQ(UpperFoldTable['!'], '1');
  EXPECT_EQ(UpperFoldTable['z'], 'Z');
  EXPECT_EQ(CompareFolded("\xe8" "ech", "\xc8" "ECH"), 0);  // "čech" / "ČECH"
  EXPECT_FALSE(SameTextPrefix("\xe8", "\xc8", 1));         // the ASCII-only notion stays apart from the table
  BuildCaseTables();
}

}  // namespace
}  // namespace plf
