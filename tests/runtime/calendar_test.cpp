#include "runtime/calendar.h"

#include <gtest/gtest.h>

namespace plf {
namespace {

TEST(Calendar, OleDatesOfKnownAndImpossibleDays) {
  const struct {
    int y, m, d;
    double ole;  // -2: no such day
  } cases[] = {{1899, 12, 30, 0},   {1900, 1, 1, 2},    {2000, 7, 15, 36722}, {1899, 12, 29, -1}, {2000, 2, 29, 36585},
               {2001, 2, 29, -2}, {1900, 2, 29, -2}, {2000, 4, 31, -2},   {2000, 13, 1, -2},  {2000, 0, 1, -2}};
  for (const auto& c : cases) {
    double v = -2;
    EXPECT_EQ(EncodeDate(c.y, c.m, c.d, &v), c.ole != -2) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(v, c.ole) << c.y << "-" << c.m << "-" << c.d;
  }
}

TEST(Calendar, DosRangeAndTwoSecondSteps) {
  std::int64_t ft, back;
  std::uint16_t date, time;
  ASSERT_TRUE(FileTimeFromParts({2000, 3, 5, 12, 0, 1, 0}, &ft));
  ASSERT_TRUE(FileTimeToDos(ft, &date, &time));
  EXPECT_EQ(date, 5 + 3 * 32 + 20 * 512);
  EXPECT_EQ(time, 12 * 2048);
  ASSERT_TRUE(DosToFileTime(date, time, &back));
  EXPECT_EQ(back, ft - 10000000);  // the odd second is dropped
  const std::pair<DateTimeParts, bool> edges[] = {
      {{1979, 12, 31, 23, 59, 59, 0}, false}, {{2108, 1, 1, 0, 0, 0, 0}, false}, {{2107, 12, 31, 0, 0, 0, 0}, true}};
  for (const auto& e : edges) {
    ASSERT_TRUE(FileTimeFromParts(e.first, &ft));
    EXPECT_EQ(FileTimeToDos(ft, &date, &time), e.second) << e.first.year;
  }
}

TEST(Calendar, EveryCivilDayIsARealDayAndRoundTrips) {
  // Every day of 1600..2400: an inverse that is off by a day at a month's
  // end would still round-trip, but through a day 0 or 32.
  for (std::int64_t d = -135140; d < 157000; ++d) {
    int y, m, day;
    CivilFromDays(d, &y, &m, &day);
    ASSERT_TRUE(IsValidDate(y, m, day)) << d;
    ASSERT_EQ(DaysFromCivil(y, m, day), d);
  }
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
}

}  // namespace
}  // namespace plf
