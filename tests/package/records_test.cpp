#include "package/records.h"

#include <gtest/gtest.h>

#include "runtime/calendar.h"
#include "runtime/exceptions.h"

namespace plf {
namespace {

TEST(PackedDate, DecodesRealDaysAndRefusesTheRest) {
  struct Case {
    std::uint8_t b0, b1, b2, b3;
    int year, month, day;  // 0: no date
  };
  const Case cases[] = {
      {0x00, 0x07, 0x0F, 0x00, 2000, 7, 15}, {0x00, 0x07, 0x0F, 0xFF, 2000, 7, 15},  // byte 3 is not interpreted
      {0x9B, 0x0C, 0x1E, 0x00, 0, 0, 0},  // 30 December 1899 is OLE day 0
      {0x00, 0x02, 0x1D, 0x00, 2000, 2, 29}, {0x01, 0x02, 0x1D, 0x00, 0, 0, 0},  // 2001 is a common year
      {0x00, 0x0D, 0x01, 0x00, 0, 0, 0},     {0x00, 0x01, 0x00, 0x00, 0, 0, 0},
      {0x00, 0x00, 0x05, 0x00, 0, 0, 0},     {0x00, 0x04, 0x1F, 0x00, 0, 0, 0},  // 31 April
      {0x00, 0x01, 0x20, 0x00, 0, 0, 0},     {0xFF, 0x0C, 0x1F, 0x00, 1999, 12, 31},
      {0x7F, 0x01, 0x01, 0x00, 2127, 1, 1},  {0x80, 0x01, 0x01, 0x00, 1872, 1, 1},
      {0x9B, 0x0C, 0x1F, 0x00, 1899, 12, 31},
  };
  for (const Case& c : cases) {
    PackedDate d;
    d.bytes[0] = c.b0;
    d.bytes[1] = c.b1;
    d.bytes[2] = c.b2;
    d.bytes[3] = c.b3;
    double expected = 0;
    EXPECT_TRUE(c.year == 0 || EncodeDate(c.year, c.month, c.day, &expected));
    EXPECT_EQ(DecodePackedDate(d), expected) << int(c.b0) << " " << int(c.b1) << " " << int(c.b2);
  }
}

// The writer always asks for a length that fits; encoding must refuse one
// that does not rather than write past the record.
TEST(Records, EncodingRefusesANameItsRecordCannotHold) {
  TPreLoadEntry e;
  e.name = "SCRIPT";
  e.length = 30;
  EXPECT_THROW(e.Encode(), Exception);
  e.name = std::string(256, 'n');
  e.length = 300;
  EXPECT_THROW(e.Encode(), Exception);
}

}  // namespace
}  // namespace plf
