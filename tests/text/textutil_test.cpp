#include "text/textutil.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "runtime/platform.h"

namespace plf {
namespace {

TEST(TextUtil, TrimAndTrailingBackslash) {
  EXPECT_EQ(Trim(std::string("\t\r\n \x01x y\x1f \x0b", 12)), "x y");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\xa0x\xa0"), "\xa0x\xa0");  // high bytes are no blanks
  EXPECT_EQ(Trim(std::string("\0a\0", 3)), "a");
  // Only the last byte is looked at.
  const std::pair<const char*, const char*> paths[] = {
      {"C:\\Prog", "C:\\Prog\\"}, {"C:\\Prog\\", "C:\\Prog\\"}, {"", ""}, {"a/", "a/\\"}};
  for (const auto& [in, out] : paths) {
    std::string path = in;
    EnsureTrailingBackslash(&path);
    EXPECT_EQ(path, out) << in;
  }
}

// The keyword matches of [Verify] are stated through whole scripts; these
// are the ends and the folding.
TEST(TextUtil, SameTextPrefixFoldsAsciiOnlyAndCountsTheEnd) {
  const struct {
    std::string a, b;
    int n;
    bool same;
  } cases[] = {
      {"", "", 4, true}, {"", "File", 4, false}, {"File", "", 4, false}, {"", "", 0, true},
      {"File", "File", 10, true}, {"Files", "File", 10, false}, {"abc", "xyz", 0, true}, {"abc", "xyz", -3, true},
      // Only a-z fold: accented letters, "@"/"`" and "["/"{" stay distinct.
      {"\xe1", "\xc1", 1, false}, {"@", "`", 1, false}, {"[", "{", 1, false}, {"file=a.txt", "FILE", 4, true},
      {"Fi", "File", 4, false},
  };
  for (const auto& c : cases) EXPECT_EQ(SameTextPrefix(c.a, c.b, c.n), c.same) << c.a << " / " << c.b << " / " << c.n;
}

TEST(TextUtil, SplitOffCutsAtTheFirstSeparatorOnly) {
  const struct {
    const char *text, *head, *rest;
  } cases[] = {{"a=b=c", "a", "b=c"}, {"a = b", "a ", " b"}, {"=b", "", "b"}, {"ab=", "ab", ""}, {"ab", "ab", ""}};
  for (const auto& c : cases) {
    std::string text = c.text;
    std::string head = "stale";
    SplitOff(&text, '=', &head);
    EXPECT_EQ(head + "|" + text, std::string(c.head) + "|" + c.rest) << c.text;
  }
}

TEST(TextUtil, CursorRoutinesPassNullThroughAndSkipExactlyFourBlanks) {
  EXPECT_EQ(FindLineEnd(nullptr), nullptr);
  EXPECT_EQ(PastLineBreak(nullptr), nullptr);
  const char* cursor = nullptr;
  SkipWhitespace(&cursor);
  SkipLineBreak(&cursor);
  std::string line = "stale";
  TakeLine(&cursor, &line);
  EXPECT_EQ(line, "");
  EXPECT_EQ(cursor, nullptr);
  const std::pair<std::string, std::size_t> texts[] = {
      {" \t\r\n x", 5}, {"\v x", 0}, {"\f", 0}, {"\x01", 0}, {"\xa0", 0}, {std::string(" \0 x", 4), 1}};
  for (const auto& [text, stop] : texts) {
    cursor = text.c_str();
    SkipWhitespace(&cursor);
    EXPECT_EQ(cursor - text.c_str(), static_cast<std::ptrdiff_t>(stop)) << text;
  }
}

TEST(TextUtil, TakeLineWalksLinesOfEveryBreakKindAndStopsAtANul) {
  const std::string text("ab\r\ncd\n\ref\rgh\n\nij\0kl", 20);
  const char* cursor = text.c_str();
  std::string line;
  const char* expected[] = {"ab", "cd", "", "ef", "gh", "", "ij"};
  for (const char* e : expected) {
    ASSERT_NE(*cursor, '\0');
    TakeLine(&cursor, &line);
    EXPECT_EQ(line, e);
  }
  EXPECT_EQ(cursor, text.c_str() + 17);
  TakeLine(&cursor, &line);
  EXPECT_EQ(line, "");
  EXPECT_EQ(cursor, text.c_str() + 17);
}

TEST(TextUtil, FoldedComparisons) {
  BuildCaseTables();
  const struct {
    std::string a, b;
    int sign;
  } cases[] = {
      {"abc", "ABC", 0}, {"ab", "abc", -1}, {"abd", "ABC", 1}, {"", "", 0}, {"a\x80", "A\x80", 0},
      {"_", "a", 1},                                         // folded to capitals: 'A' < '_'
      {std::string("a\0b", 3), std::string("A\0C", 3), -1},  // a NUL does not end the comparison
  };
  for (const auto& c : cases) {
    const int r = CompareFolded(c.a, c.b), back = CompareFolded(c.b, c.a);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " / " << c.b;
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " / " << c.a;
  }
  EXPECT_EQ(CompareFoldedN("abX", "ABY", 2), 0);
  EXPECT_EQ(CompareFoldedN("\xff", "\x01", 1), UpperFoldTable[0xff] - 1);  // bytes taken as 0..255
  EXPECT_TRUE(StartsWithFolded("[fil", "[Files]"));
  EXPECT_FALSE(StartsWithFolded("[Files]", "[File"));
  EXPECT_TRUE(StartsWithFolded("", ""));
}

// Answers with a code page of its own: accented letters get capitals, and
// the low range would be scrambled if the table asked about it.
class CodePagePlatform : public PlatformWrapper {
 public:
  CodePagePlatform() : PlatformWrapper(DefaultPlatform()) {}
  unsigned char UpperChar(unsigned char c) override {
    ++asked[c];
    if (c <= 32) return 'X';
    if (c == 0xe1 || c == 0xe8) return static_cast<unsigned char>(c - 0x20);  // á->Á, č->Č
    return Inner().UpperChar(c);
  }
  int asked[256] = {};
};

TEST(TextUtil, BuildCaseTablesTakesThePlatformsCapitalsAboveTheControls) {
  CodePagePlatform platform;
  {
    ScopedPlatform scope(platform);
    BuildCaseTables();
  }
  for (int c = 0; c <= 32; ++c) {
    EXPECT_EQ(UpperFoldTable[c], c);
    EXPECT_EQ(platform.asked[c], 0) << c;
  }
  for (int c = 33; c <= 255; ++c) EXPECT_EQ(platform.asked[c], 1) << c;
  for (int c = 'a'; c <= 'z'; ++c) EXPECT_EQ(UpperFoldTable[c], c - 'a' + 'A');
  EXPECT_EQ(UpperFoldTable[0xe1], 0xc1);
  EXPECT_EQ(CompareFolded("\xe8" "ech", "\xc8" "ECH"), 0);  // "čech" / "ČECH"
  // The ASCII-only notion stays apart from the table.
  EXPECT_FALSE(SameTextPrefix("\xe1", "\xc1", 1));

  BuildCaseTables();  // back to the default platform's table
  EXPECT_EQ(UpperFoldTable[0xe1], DefaultPlatform().UpperChar(0xe1));
}

}  // namespace
}  // namespace plf
