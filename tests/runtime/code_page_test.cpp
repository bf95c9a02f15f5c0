#include "runtime/code_page.h"

#include <gtest/gtest.h>

namespace plf {
namespace {

TEST(CodePage, EveryByteGoesToUtf8AndBack) {
  for (int codePage : {1250, 1252}) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string utf8 = ToUtf8(codePage, all);
    EXPECT_TRUE(IsValidUtf8(utf8));
    std::string back;
    EXPECT_TRUE(FromUtf8(codePage, utf8, &back)) << codePage;
    EXPECT_EQ(back, all) << codePage;
  }
}

TEST(CodePage, CzechTextAndWhatTheCodePageCannotHold) {
  const std::string czech = "p\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2 \x84\x93 \x96 \x80";
  EXPECT_EQ(ToUtf8(1250, czech), "příliš žluťoučký kůň „“ – €");
  struct Case {
    const char* utf8;
    bool held;
    std::size_t badOffset;
  } cases[] = {
      {"plain", true, 0}, {"Řeřicha", true, 0}, {"a\xC3\xB8", false, 1},  // ø is not in 1250
      {"ab\xC3", false, 2}, {"\xC0\x80", false, 0}, {"\xED\xA0\x80", false, 0}, {"\xF0\x9F\x98\x80", false, 0},
  };
  for (const Case& c : cases) {
    std::string out;
    std::size_t bad = 99;
    EXPECT_EQ(FromUtf8(1250, c.utf8, &out, &bad), c.held) << c.utf8;
    if (!c.held) {
      EXPECT_EQ(bad, c.badOffset) << c.utf8;
    }
  }
  EXPECT_EQ(FromUtf8Lossy(1250, "a\xC3\xB8" "b\xFF" "č"), "a?b?\xE8");
  EXPECT_FALSE(IsKnownCodePage(437));
}

TEST(CodePage, CapitalsAsCharUpperGivesThem) {
  struct Case {
    int codePage;
    unsigned char lower, upper;
  } cases[] = {
      {1250, 'a', 'A'},   {1250, 0xE8, 0xC8}, {1250, 0xF8, 0xD8}, {1250, 0x9A, 0x8A}, {1250, 0x9E, 0x8E},
      {1250, 0xB3, 0xA3}, {1250, 0xB9, 0xA5}, {1250, 0xBE, 0xBC}, {1250, 0xF9, 0xD9}, {1250, 0xDF, 0xDF},
      {1250, 0xF7, 0xF7}, {1250, 0xFF, 0xFF}, {1250, 0xB5, 0xB5}, {1250, 0xC8, 0xC8}, {1252, 0xFF, 0x9F},
      {1252, 0xE9, 0xC9}, {1252, 0x9C, 0x8C},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UpperInCodePage(c.codePage, c.lower), c.upper) << c.codePage << " " << int(c.lower);
}

}  // namespace
}  // namespace plf
