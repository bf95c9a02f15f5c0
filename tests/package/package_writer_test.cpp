#include "package/package_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "support/package_bytes.h"
#include "package/preload_reader.h"
#include "runtime/calendar.h"
#include "runtime/exceptions.h"
#include "support/test_support.h"

namespace plf {
namespace {

PackedDate Date(int y, int m, int d) {
  PackedDate p;
  EXPECT_TRUE(PackedDate::FromCalendar(y, m, d, &p));
  return p;
}

std::string ReadEntry(TPreLoadReader& reader, int index) {
  std::unique_ptr<TStream> s;
  std::int32_t size = 0;
  EXPECT_TRUE(reader.OpenEntry(index, &s, &size));
  std::string text(static_cast<std::size_t>(size), '\0');
  s->ReadExact(&text[0], size);
  return text;
}

TEST(PackageWriter, WritesTheDocumentedLayout) {
  test::TempDir dir;
  const std::string script = "[Files]\r\n";
  {
    TPackageWriter w(dir / "p.plf");
    w.AddBuffer("SCRIPT", script.data(), script.size(), Date(2000, 7, 15));
    w.Finish();
  }
  const std::string bytes = test::ReadFileBytes(dir / "p.plf");
  const std::string data = test::ZlibCompress(script);  // the same zlib, level 6
  const std::int32_t c = static_cast<std::int32_t>(data.size());
  const std::string expected = "ZLIB_PLF" + test::Le32(0x173FE513) + test::Le32s(20 + c) + test::Le32(0) + data +
                               "ZLIB_DIR" + test::Le32(0) + test::Le32(1) + test::Le32(0) + test::Le32(40) +
                               test::Le32(20) + test::Le32s(c) + test::Le32(9) + test::Le32(0) +
                               std::string("\x00\x07\x0F\x00", 4) + test::Le32(0) + "\x06SCRIPT" +
                               std::string(9, '\0');
  EXPECT_EQ(bytes, expected);
}

TEST(PackageWriter, RoundTripsNamesSizesDatesAndContents) {
  test::TempDir dir;
  const std::string file = test::Noise(200000, 9);
  test::WriteFileBytes(dir / "input.bin", file);
  const std::string longName(255, 'L');
  TMemoryStream memory;
  memory.WriteExact("from a stream", 13);

  struct Expected {
    std::string name;
    std::string content;
    PackedDate date;
  };
  // The first and the last day a record can hold.
  const Expected entries[] = {
      {"empty", "", PackedDate::None()}, {longName, "x", Date(2127, 12, 31)},
      {"file", file, Date(1872, 1, 1)},  {"stream", "a stream", Date(2000, 1, 1)},
  };
  for (int level : {0, 9}) {
    const std::string path = dir / ("p" + std::to_string(level) + ".plf");
    {
      TPackageWriter w(path, level);
      for (const Expected& e : entries) {
        if (e.name == "file") {
          w.AddFile(e.name, dir / "input.bin", e.date);
        } else if (e.name == "stream") {
          memory.SetPosition(5);
          w.AddStream(e.name, memory, e.date);
        } else {
          w.AddBuffer(e.name, e.content.data(), e.content.size(), e.date);
        }
      }
      w.AddEmpty("nodata", 500);
      w.Finish();
    }
    TPreLoadReader reader(path);
    ASSERT_EQ(reader.EntryCount(), 5);
    for (int i = 0; i < 4; ++i) {
      const Expected& e = entries[i];
      EXPECT_EQ(reader.EntryName(i), e.name);
      EXPECT_EQ(reader.EntryDate(i), DecodePackedDate(e.date));
      EXPECT_EQ(ReadEntry(reader, i), e.content) << e.name.substr(0, 10) << " level " << level;
    }
    EXPECT_EQ(reader.Entry(1).length, 280);  // 25 + the name
    EXPECT_EQ(reader.Entry(4).compressedSize, 0);
    EXPECT_EQ(reader.Entry(4).uncompressedSize, 500);
  }
}

TEST(PackageWriter, RefusesWhatCannotBeReadBack) {
  test::TempDir dir;
  EXPECT_THROW(TPackageWriter(dir / "a.plf", 10), Exception);
  {
    TPackageWriter unfinished(dir / "gone.plf");
    unfinished.AddBuffer("a", "abc", 3);
  }
  EXPECT_FALSE(test::PathExists(dir / "gone.plf"));

  TPackageWriter w(dir / "b.plf");
  const std::string tooLong(256, 'n');
  try {
    w.AddBuffer(tooLong, "x", 1);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Entry name \"" + tooLong + "\" is longer than 255 bytes");
  }
  EXPECT_THROW(w.AddEmpty(tooLong), Exception);
  // A refused name leaves the writer usable.
  w.AddBuffer("ok", "x", 1);
  w.Finish();
  EXPECT_EQ(TPreLoadReader(dir / "b.plf").EntryCount(), 1);
}

class LimitGuard {
 public:
  explicit LimitGuard(std::int64_t limit) { testing_hooks::SetPackageLimit(limit); }
  ~LimitGuard() { testing_hooks::SetPackageLimit(0); }
};

TEST(PackageWriter, RefusesWhatReachesTheSizeLimit) {
  test::TempDir dir;
  const std::string path = dir / "p.plf";
  LimitGuard limit(1000000);  // stands for 2 GiB
  const std::string zeros(1500000, '\0');
  const std::string part = test::Noise(600000, 1);
  struct Case {
    std::function<void(TPackageWriter&)> add;
    std::string message;
  } cases[] = {
      {[&](TPackageWriter& w) { w.AddBuffer("zeros", zeros.data(), zeros.size()); },
       "Entry \"zeros\" is 2 GiB or larger"},
      {[&](TPackageWriter& w) {
         w.AddBuffer("a", part.data(), part.size());
         for (int i = 0; i < 20000; ++i) w.AddEmpty("entry " + std::to_string(i));
         w.Finish();
       },
       "The directory of \"" + path + "\": the package \"" + path + "\" would reach 2 GiB"},
  };
  for (const Case& c : cases) {
    TPackageWriter w(path, 6);
    try {
      c.add(w);
      FAIL() << c.message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_FALSE(test::PathExists(path)) << c.message;
    EXPECT_THROW(w.Finish(), Exception) << c.message;
  }
}

TEST(PackedDate, DecodesRealDaysAndRefusesTheRest) {
  struct Case {
    std::uint8_t year, month, day;
    int y, m, d;  // 0: no date
  };
  const Case cases[] = {
      {0x00, 2, 29, 2000, 2, 29}, {0xFF, 12, 31, 1999, 12, 31}, {0x7F, 1, 1, 2127, 1, 1}, {0x80, 1, 1, 1872, 1, 1},
      {0x00, 13, 1, 0, 0, 0},     {0x00, 0, 5, 0, 0, 0},        {0x00, 1, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    PackedDate date;
    date.bytes[0] = c.year;
    date.bytes[1] = c.month;
    date.bytes[2] = c.day;
    date.bytes[3] = 0xFF;  // not interpreted
    double expected = 0;
    EXPECT_TRUE(c.y == 0 || EncodeDate(c.y, c.m, c.d, &expected));
    EXPECT_EQ(DecodePackedDate(date), expected) << int(c.year) << " " << int(c.month) << " " << int(c.day);
  }
}

// The writer always asks for a length that fits; encoding must refuse one
// that does not rather than write past the record.
TEST(Records, EncodingRefusesANameItsRecordCannotHold) {
  TPreLoadEntry e;
  e.name = "SCRIPT";
  e.length = 30;  // one byte short
  EXPECT_THROW(e.Encode(), Exception);
  e.name = std::string(256, 'n');
  e.length = 300;
  EXPECT_THROW(e.Encode(), Exception);
}

}  // namespace
}  // namespace plf
