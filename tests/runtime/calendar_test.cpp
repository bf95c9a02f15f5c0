#include "runtime/calendar.h"

#include <gtest/gtest.h>

namespace plf {
namespace {

TEST(Calendar, OleDatesOfKnownDays) {
  struct Case {
    int y, m, d;
    double ole;
  } cases[] = {{1899, 12, 30, 0}, {1900, 1, 1, 2}, {2000, 3, 5, 36590}, {2000, 7, 15, 36722}, {1899, 12, 29, -1}};
  for (const Case& c : cases) {
    double v = 1e9;
    ASSERT_TRUE(EncodeDate(c.y, c.m, c.d, &v)) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(v, c.ole) << c.y << "-" << c.m << "-" << c.d;
  }
}

TEST(Calendar, DaysThatDoNotExist) {
  double v;
  EXPECT_FALSE(EncodeDate(2001, 2, 29, &v));
  EXPECT_TRUE(EncodeDate(2000, 2, 29, &v));
  EXPECT_FALSE(EncodeDate(1900, 2, 29, &v));
  EXPECT_FALSE(EncodeDate(2000, 4, 31, &v));
  EXPECT_FALSE(EncodeDate(2000, 13, 1, &v));
  EXPECT_FALSE(EncodeDate(2000, 1, 0, &v));
}

TEST(Calendar, DecodeRoundsToTheMillisecond) {
  DateTimeParts p;
  ASSERT_TRUE(DecodeDateTime(36590.5 + 0.4 / 86400000.0, &p));
  EXPECT_EQ(p.year, 2000);
  EXPECT_EQ(p.month, 3);
  EXPECT_EQ(p.day, 5);
  EXPECT_EQ(p.hour, 12);
  EXPECT_EQ(p.millisecond, 0);
  EXPECT_FALSE(DecodeDateTime(-1, &p));
  EXPECT_FALSE(DecodeDateTime(1e300, &p));
}

TEST(Calendar, DosRangeAndTwoSecondSteps) {
  std::int64_t ft;
  DateTimeParts p{2000, 3, 5, 12, 0, 1, 0};
  ASSERT_TRUE(FileTimeFromParts(p, &ft));
  std::uint16_t date, time;
  ASSERT_TRUE(FileTimeToDos(ft, &date, &time));
  EXPECT_EQ(date, 5 + 3 * 32 + 20 * 512);
  EXPECT_EQ(time, 0 + 0 * 32 + 12 * 2048);
  std::int64_t back;
  ASSERT_TRUE(DosToFileTime(date, time, &back));
  EXPECT_EQ(back, ft - 10000000);  // the odd second is dropped
  EXPECT_FALSE(DosToFileTime(0, 0, &back));

  DateTimeParts early{1979, 12, 31, 23, 59, 59, 0}, late{2108, 1, 1, 0, 0, 0, 0}, last{2107, 12, 31, 0, 0, 0, 0};
  ASSERT_TRUE(FileTimeFromParts(early, &ft));
  EXPECT_FALSE(FileTimeToDos(ft, &date, &time));
  ASSERT_TRUE(FileTimeFromParts(late, &ft));
  EXPECT_FALSE(FileTimeToDos(ft, &date, &time));
  ASSERT_TRUE(FileTimeFromParts(last, &ft));
  EXPECT_TRUE(FileTimeToDos(ft, &date, &time));
}

TEST(Calendar, CivilDaysRoundTrip) {
  for (std::int64_t d = -200000; d < 200000; d += 37) {
    int y, m, day;
    CivilFromDays(d, &y, &m, &day);
    ASSERT_EQ(DaysFromCivil(y, m, day), d);
  }
}

}  // namespace
}  // namespace plf
