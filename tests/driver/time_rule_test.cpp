#include "driver/time_rule.h"

#include <gtest/gtest.h>

#include <cmath>

#include "runtime/exceptions.h"
#include "support/test_support.h"

namespace plf {
namespace {

const LocaleTimeFormat kEnglish{"AM", "PM", "."};

long Milliseconds(double fraction) { return std::lround(fraction * 86400000.0); }

long Ms(int h, int m, int s = 0, int ms = 0) { return ((h * 60L + m) * 60L + s) * 1000L + ms; }

TEST(TimeRule, AcceptedAndRefused) {
  const LocaleTimeFormat czech{"dop.", "odp.", ","};
  const LocaleTimeFormat twentyFour{"", "", "."};
  struct Case {
    const char* text;
    long ms;  // -1: refused
    const LocaleTimeFormat* locale = &kEnglish;
  } cases[] = {
      {"12", Ms(12, 0)}, {"9:05:07", Ms(9, 5, 7)}, {"0:00:00", 0}, {"23:59:59.999", Ms(23, 59, 59, 999)},
      {"PM 11:30", Ms(23, 30)}, {"pm11:30", Ms(23, 30)}, {"12 AM", 0}, {"12:15 pm", Ms(12, 15)}, {"1 am", Ms(1, 0)},
      {"12 : 30 : 15", Ms(12, 30, 15)}, {"0012", Ms(12, 0)}, {"00000000000000000012", Ms(12, 0)},
      {"12:00:00.5", Ms(12, 0, 0, 5)}, {"12.30", Ms(12, 0, 0, 30)}, {"12:30.5", Ms(12, 30, 0, 5)},
      {"12.30", -1, &czech}, {"12,30", Ms(12, 0, 0, 30), &czech}, {"odp. 1:00", Ms(13, 0), &czech},
      {"1:00 DOP.", Ms(1, 0), &czech}, {"1:00 PM", Ms(13, 0), &czech}, {"1:00 AM", Ms(1, 0), &czech},
      // Empty designators stand for nothing, so no marker is read where
      // none is written.
      {"0:00", 0, &twentyFour}, {"13:00", Ms(13, 0), &twentyFour}, {"11:30 PM", Ms(23, 30), &twentyFour},
      {"0 AM", -1, &twentyFour},
  };
  for (const Case& c : cases) {
    double fraction = -1;
    const bool ok = ParseTimeOfDay(c.text, *c.locale, &fraction);
    EXPECT_EQ(ok, c.ms >= 0) << c.text;
    if (ok) {
      EXPECT_EQ(Milliseconds(fraction), c.ms) << c.text;
    }
  }
  for (const char* text : {"24:00", "12:60", "12:00:60", "13:00 PM", "0 AM", "12:", "12:30:", "12.", ":30", "noon",
                           "", "   ", "1000", "12:1000", "99999999999999999999", "12:99999999999999999999",
                           "12:00:00.1000", "AM", "12 AM PM", "PM 1 PM", "12:00x", "1:2:3:4", "12\t", "-1", "+1"}) {
    double fraction = -1;
    EXPECT_FALSE(ParseTimeOfDay(text, kEnglish, &fraction)) << text;
  }
}

// Marks converted text, so the message shows that it went through the
// platform's conversion.
class MarkingConversion : public PlatformWrapper {
 public:
  MarkingConversion() : PlatformWrapper(DefaultPlatform()) {}
  std::string AnsiToUtf8(const std::string& s) override { return "<" + s + ">"; }
  LocaleTimeFormat TimeFormat() override { return {"dop.", "odp.", ","}; }
};

TEST(TimeRule, RaisingWrapperUsesThePlatformLocale) {
  MarkingConversion platform;
  ScopedPlatform scope(platform);
  EXPECT_EQ(Milliseconds(StrToTimeOfDay("1:00 odp.")), Ms(13, 0));
  try {
    StrToTimeOfDay("25:00");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'<25:00>' is not a valid time");
  }
}

}  // namespace
}  // namespace plf
