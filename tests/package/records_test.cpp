#include "package/records.h"

#include <gtest/gtest.h>

#include "package/package_bytes.h"
#include "runtime/calendar.h"
#include "runtime/exceptions.h"

namespace plf {
namespace {

double Ole(int y, int m, int d) {
  double v = 0;
  EXPECT_TRUE(EncodeDate(y, m, d, &v));
  return v;
}

TEST(PackedDate, DecodesRealDaysAndRefusesTheRest) {
  struct Case {
    std::uint8_t b0, b1, b2, b3;
    int year, month, day;  // 0: no date
  };
  const Case cases[] = {
      {0x00, 0x07, 0x0F, 0x00, 2000, 7, 15},
      {0x00, 0x07, 0x0F, 0xFF, 2000, 7, 15},  // byte 3 is not interpreted
      {0x9B, 0x0C, 0x1E, 0x00, 0, 0, 0},      // 30 December 1899 is OLE day 0
      {0x00, 0x02, 0x1D, 0x00, 2000, 2, 29},
      {0x01, 0x02, 0x1D, 0x00, 0, 0, 0},      // 2001 is a common year
      {0x00, 0x0D, 0x01, 0x00, 0, 0, 0},      // month 13
      {0x00, 0x01, 0x00, 0x00, 0, 0, 0},      // day 0
      {0x00, 0x00, 0x05, 0x00, 0, 0, 0},      // month 0
      {0x00, 0x04, 0x1F, 0x00, 0, 0, 0},      // 31 April
      {0x00, 0x01, 0x20, 0x00, 0, 0, 0},      // day 32
      {0xFF, 0x0C, 0x1F, 0x00, 1999, 12, 31},
      {0x7F, 0x01, 0x01, 0x00, 2127, 1, 1},
      {0x80, 0x01, 0x01, 0x00, 1872, 1, 1},
      {0x9B, 0x0C, 0x1F, 0x00, 1899, 12, 31},
  };
  for (const Case& c : cases) {
    PackedDate d;
    d.bytes[0] = c.b0;
    d.bytes[1] = c.b1;
    d.bytes[2] = c.b2;
    d.bytes[3] = c.b3;
    const double expected = c.year == 0 ? 0 : Ole(c.year, c.month, c.day);
    EXPECT_EQ(DecodePackedDate(d), expected) << int(c.b0) << " " << int(c.b1) << " " << int(c.b2);
  }
}

TEST(PackedDate, StoresOnlyWhatTheYearByteHolds) {
  struct Case {
    int year, month, day;
    bool stored;
  };
  const Case cases[] = {{1872, 1, 1, true},   {2127, 12, 31, true}, {1871, 12, 31, false},
                        {2128, 1, 1, false},  {2000, 2, 30, false}, {2000, 0, 1, false},
                        {2024, 2, 29, true},  {1999, 12, 31, true}};
  for (const Case& c : cases) {
    PackedDate d;
    EXPECT_EQ(PackedDate::FromCalendar(c.year, c.month, c.day, &d), c.stored) << c.year << "-" << c.month;
    if (c.stored) {
      EXPECT_EQ(DecodePackedDate(d), Ole(c.year, c.month, c.day));
    } else {
      EXPECT_EQ(d, PackedDate::None());
    }
  }
}

TEST(Records, HeadersRoundTripLittleEndian) {
  TPreLoadFileHeader h;
  h.directoryOffset = -2;
  h.reserved = 0x01020304;
  std::uint8_t bytes[20];
  h.Encode(bytes);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 20),
            "ZLIB_PLF" + std::string("\x13\xE5\x3F\x17", 4) + std::string("\xFE\xFF\xFF\xFF", 4) +
                std::string("\x04\x03\x02\x01", 4));
  const TPreLoadFileHeader back = TPreLoadFileHeader::Decode(bytes);
  EXPECT_EQ(back.version, kPreLoadVersion);
  EXPECT_EQ(back.directoryOffset, -2);

  const std::string dir = test::DirHeaderBytes(-1, 0xDEADBEEF);
  const TPreLoadDirHeader d = TPreLoadDirHeader::Decode(reinterpret_cast<const std::uint8_t*>(dir.data()));
  EXPECT_EQ(d.count, -1);
  EXPECT_EQ(d.value, 0xDEADBEEFu);
}

TEST(Records, LengthForHonoursTheMinimum) {
  EXPECT_EQ(TPreLoadEntry::LengthFor(0), 40);
  EXPECT_EQ(TPreLoadEntry::LengthFor(15), 40);
  EXPECT_EQ(TPreLoadEntry::LengthFor(16), 41);
  EXPECT_EQ(TPreLoadEntry::LengthFor(255), 280);
}

TEST(Records, EntryEncodesAsTheDecoderReads) {
  TPreLoadEntry e;
  e.name = "SCRIPT";
  e.length = TPreLoadEntry::LengthFor(e.name.size());
  e.dataOffset = 20;
  e.compressedSize = 77;
  e.uncompressedSize = -5;
  ASSERT_TRUE(PackedDate::FromCalendar(2000, 7, 15, &e.date));
  const std::string bytes = e.Encode();
  ASSERT_EQ(bytes.size(), 44u);
  EXPECT_EQ(bytes.substr(20, 4), std::string("\x00\x07\x0F\x00", 4));
  EXPECT_EQ(bytes.substr(28, 7), "\x06SCRIPT");
  EXPECT_EQ(bytes.substr(35), std::string(9, '\0'));
  const TPreLoadEntry back = TPreLoadEntry::Decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  EXPECT_EQ(back.name, "SCRIPT");
  EXPECT_EQ(back.dataOffset, 20);
  EXPECT_EQ(back.compressedSize, 77);
  EXPECT_EQ(back.uncompressedSize, -5);
  EXPECT_EQ(back.date, e.date);

  e.length = 30;  // too short for a 6-byte name plus the fields: refused, not overrun
  EXPECT_THROW(e.Encode(), Exception);
}

TEST(Records, DecodeNeverReadsPastTheRecordOrTheBuffer) {
  // Name length 200 in a 44-byte record: cut at the record's end.
  test::RawRecord r;
  r.name = std::string(15, 'n');
  r.nameLengthByte = 200;
  const std::string bytes = test::RecordBytes(r);
  ASSERT_EQ(bytes.size(), 44u);
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  EXPECT_EQ(TPreLoadEntry::Decode(p, bytes.size()).name, std::string(15, 'n'));
  // A buffer shorter than the record: missing bytes count as zero.
  const TPreLoadEntry cut = TPreLoadEntry::Decode(p, 31);
  EXPECT_EQ(cut.name, std::string("nn") + std::string(13, '\0'));
  EXPECT_EQ(TPreLoadEntry::Decode(p, 4).name, "");
}

}  // namespace
}  // namespace plf
