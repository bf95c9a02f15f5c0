#include "runtime/code_page.h"

#include <gtest/gtest.h>

namespace plf {
namespace {

TEST(CodePage, EveryByteGoesToUtf8AndBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (int codePage : {1250, 1252}) {
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
  // Where a text stops being one that 1250 holds (99: nowhere); ø is not in 1250.
  const std::pair<const char*, std::size_t> cases[] = {{"Řeřicha", 99}, {"a\xC3\xB8", 1}, {"ab\xC3", 2},
                                                       {"\xC0\x80", 0}, {"\xED\xA0\x80", 0}, {"\xF0\x9F\x98\x80", 0}};
  for (const auto& [utf8, badOffset] : cases) {
    std::string out;
    std::size_t bad = 99;
    EXPECT_EQ(FromUtf8(1250, utf8, &out, &bad), badOffset == 99) << utf8;
    EXPECT_EQ(bad, badOffset) << utf8;
  }
  EXPECT_EQ(FromUtf8Lossy(1250, "a\xC3\xB8" "b\xFF" "č"), "a?b?\xE8");
  EXPECT_FALSE(IsKnownCodePage(437));
}

TEST(CodePage, CapitalsAsCharUpperGivesThem) {
  const struct {
    int codePage;
    unsigned char lower, upper;
  } cases[] = {
      {1250, 'a', 'A'},   {1250, 0xE8, 0xC8}, {1250, 0x9A, 0x8A}, {1250, 0x9E, 0x8E}, {1250, 0xBE, 0xBC},
      {1250, 0xDF, 0xDF}, {1250, 0xF7, 0xF7}, {1250, 0xC8, 0xC8}, {1252, 0xFF, 0x9F}, {1252, 0xE9, 0xC9},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UpperInCodePage(c.codePage, c.lower), c.upper) << c.codePage << " " << int(c.lower);
}

}  // namespace
}  // namespace plf
