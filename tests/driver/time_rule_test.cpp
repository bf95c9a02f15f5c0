#include "driver/time_rule.h"

#include <gtest/gtest.h>

#include <cmath>

namespace plf {
namespace {

const LocaleTimeFormat kEnglish{"AM", "PM", "."};

long Ms(int h, int m, int s = 0, int ms = 0) { return ((h * 60L + m) * 60L + s) * 1000L + ms; }

TEST(TimeRule, AcceptedAndRefused) {
  const LocaleTimeFormat czech{"dop.", "odp.", ","};
  const LocaleTimeFormat twentyFour{"", "", "."};
  struct Case {
    const char* text;
    long ms;
    const LocaleTimeFormat* locale = &kEnglish;
  } cases[] = {
      {"23:59:59.999", Ms(23, 59, 59, 999)},
      {"PM 11:30", Ms(23, 30)},
      {"12 AM", 0},
      {"12:15 pm", Ms(12, 15)},
      {"12 : 30 : 15", Ms(12, 30, 15)},
      {"12,30", Ms(12, 0, 0, 30), &czech},  // milliseconds straight after the hour
      {"1:00 ODP.", Ms(13, 0), &czech},
      // Empty designators stand for nothing, so no marker is read where
      // none is written.
      {"0:00", 0, &twentyFour},
  };
  for (const Case& c : cases) {
    double fraction = -1;
    EXPECT_TRUE(ParseTimeOfDay(c.text, *c.locale, &fraction)) << c.text;
    EXPECT_EQ(std::lround(fraction * 86400000.0), c.ms) << c.text;
  }
  for (const char* text : {"24:00", "12:60", "12:00:60", "12:00:00.1000", "13:00 PM", "0 AM", "12:", "12.", ":30",
                           "99999999999999999999", "12 AM PM", "12\t"}) {
    double fraction = -1;
    EXPECT_FALSE(ParseTimeOfDay(text, kEnglish, &fraction)) << text;
  }
}

}  // namespace
}  // namespace plf
