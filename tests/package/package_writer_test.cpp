#include "package/package_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
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
  char extra;
  EXPECT_EQ(s->Read(&extra, 1), 0) << "more than the recorded size";
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
  EXPECT_EQ(bytes.size(), 84u + static_cast<std::size_t>(c));
  EXPECT_EQ(bytes, expected);

  {
    TPackageWriter empty(dir / "empty.plf");
    empty.Finish();
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "empty.plf"), test::FileHeaderBytes(20) + test::DirHeaderBytes(0));
}

TEST(PackageWriter, RoundTripsNamesSizesDatesAndContents) {
  test::TempDir dir;
  const std::string big = test::PatternBytes(3 * 32768 + 100);
  const std::string file = test::PatternBytes(200000, 9);
  test::WriteFileBytes(dir / "input.bin", file);
  const std::string longName(255, 'L');
  const std::string ansiName = "P\xF8\xEDli\x9A.txt";  // 8-bit name bytes as they are
  TMemoryStream memory;
  memory.WriteExact("from a stream", 13);
  memory.SetPosition(5);

  struct Expected {
    std::string name;
    std::string content;
    PackedDate date;
  };
  const Expected entries[] = {
      {"SCRIPT", "[Files]\r\nbig=C:\\big\r\n", Date(2024, 2, 29)},
      {"empty", "", PackedDate::None()},
      {"big", big, Date(1872, 1, 1)},
      {longName, "x", Date(2127, 12, 31)},
      {ansiName, "y", Date(1999, 12, 31)},
      {"file", file, PackedDate::None()},
      {"stream", "a stream", Date(2000, 1, 1)},
  };
  for (int level : {0, 1, 6, 9}) {
    const std::string path = dir / ("p" + std::to_string(level) + ".plf");
    {
      TPackageWriter w(path, level);
      for (const Expected& e : entries) {
        if (e.name == "file") {
          w.AddFile(e.name, dir / "input.bin", e.date);
        } else if (e.name == "stream") {
          w.AddStream(e.name, memory, e.date);
          memory.SetPosition(5);
        } else {
          w.AddBuffer(e.name, e.content.data(), e.content.size(), e.date);
        }
      }
      w.AddEmpty("nodata", 500, Date(2010, 10, 10));
      w.Finish();
    }
    TPreLoadReader reader(path);
    ASSERT_EQ(reader.EntryCount(), 8);
    int index = 0;
    for (const Expected& e : entries) {
      EXPECT_EQ(reader.FindEntry(e.name), index) << e.name.substr(0, 10);
      EXPECT_EQ(reader.EntryDate(index), DecodePackedDate(e.date));
      EXPECT_EQ(reader.Entry(index).uncompressedSize, static_cast<std::int32_t>(e.content.size()));
      EXPECT_EQ(ReadEntry(reader, index), e.content) << e.name.substr(0, 10) << " level " << level;
      ++index;
    }
    EXPECT_EQ(ReadEntry(reader, 7), "");
    EXPECT_EQ(reader.Entry(7).compressedSize, 0);
    EXPECT_EQ(reader.Entry(7).uncompressedSize, 500);
  }
}

TEST(PackageWriter, RefusesWhatCannotBeReadBack) {
  test::TempDir dir;
  EXPECT_THROW(TPackageWriter(dir / "a.plf", 10), Exception);
  EXPECT_THROW(TPackageWriter(dir / "a.plf", -1), Exception);
  EXPECT_THROW(TPackageWriter(dir / "no/such/folder/a.plf"), EFCreateError);
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
    EXPECT_NE(e.Message().find(tooLong), std::string::npos) << "the message names the entry";
  }
  EXPECT_THROW(w.AddEmpty(tooLong), Exception);
  // A refused name leaves the writer usable.
  w.AddBuffer("ok", "x", 1);
  w.Finish();
  EXPECT_EQ(TPreLoadReader(dir / "b.plf").EntryCount(), 1);
}

// Bytes that do not compress, endlessly.
class Noise : public TStream {
 public:
  std::int32_t Read(void* buffer, std::int32_t count) override {
    auto* p = static_cast<unsigned char*>(buffer);
    for (std::int32_t i = 0; i < count; ++i) p[i] = static_cast<unsigned char>((x_ = x_ * 1664525u + 1013904223u) >> 24);
    return count > 0 ? count : 0;
  }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int32_t Seek(std::int32_t, std::uint16_t) override { return 0; }

 private:
  std::uint32_t x_ = 1;
};

class LimitGuard {
 public:
  explicit LimitGuard(std::int64_t limit) { testing_hooks::SetPackageLimit(limit); }
  ~LimitGuard() { testing_hooks::SetPackageLimit(0); }
};

TEST(PackageWriter, RefusesWhatReachesTheSizeLimit) {
  test::TempDir dir;
  LimitGuard limit(1000000);  // stands for 2 GiB
  const std::string zeros(1500000, '\0');
  struct Case {
    const char* what;
    std::function<void(TPackageWriter&)> add;
    const char* message;  // a part of it
  };
  const Case cases[] = {
      {"compressed data past the limit",
       [](TPackageWriter& w) {
         Noise noise;
         const std::string part = test::PatternBytes(900000);
         w.AddBuffer("a", part.data(), part.size());
         w.AddStream("noise", noise);
       },
       "Entry \"noise\": the package"},
      {"an entry past the limit that compresses well",
       [&](TPackageWriter& w) { w.AddBuffer("zeros", zeros.data(), zeros.size()); }, "Entry \"zeros\" is 2 GiB"},
      {"a directory past the limit",
       [](TPackageWriter& w) {
         const std::string part = test::PatternBytes(600000);
         w.AddBuffer("a", part.data(), part.size());
         for (int i = 0; i < 20000; ++i) w.AddEmpty("entry " + std::to_string(i));
         w.Finish();
       },
       "The directory of"},
  };
  for (const Case& c : cases) {
    TPackageWriter w(dir / "p.plf", 6);
    try {
      c.add(w);
      FAIL() << c.what;
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(c.message), std::string::npos) << c.what << ": " << e.Message();
      if (std::string(c.message).find("2 GiB") == std::string::npos) {
        EXPECT_NE(e.Message().find(dir / "p.plf"), std::string::npos) << c.what << ": " << e.Message();
      }
    }
    EXPECT_FALSE(test::PathExists(dir / "p.plf")) << c.what;
    EXPECT_THROW(w.Finish(), Exception) << c.what;
  }
}

}  // namespace
}  // namespace plf
