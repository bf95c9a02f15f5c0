// plf test: each kind of damage is reported for exactly the entry that has it.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "package/records.h"
#include "support/package_bytes.h"
#include "support/test_support.h"
#include "tool_harness.h"

namespace plf::tools {
namespace {

using test::Tool;

std::string Noise(std::size_t size) {
  std::string s(size, '\0');
  unsigned seed = 7;
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
  return s;
}

class TestTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\r\n";
    test::WritePackage(path, {{"SCRIPT", "[Files]\r\n"}, {"a", text}, {"b", Noise(5000)}, {"c", "small entry"}});
    pristine = plf::test::ReadFileBytes(path);
    TPreLoadReader reader(path);
    for (int i = 0; i < reader.EntryCount(); ++i) records.push_back(reader.Entry(i));
  }

  void AddToField(std::string* bytes, int index, int field, std::int32_t delta) const {
    const std::size_t at = plf::test::RecordOffset(*bytes, index) + static_cast<std::size_t>(field);
    plf::test::SetFieldAt(bytes, at, plf::test::FieldAt(*bytes, at) + delta);
  }
  std::size_t DataAt(int index, std::int32_t offsetInData) const {
    const TPreLoadEntry& e = records[static_cast<std::size_t>(index)];
    return static_cast<std::size_t>(offsetInData >= 0 ? e.dataOffset + offsetInData
                                                      : e.dataOffset + e.compressedSize + offsetInData);
  }

  plf::test::TempDir dir;
  const std::string path = dir / "p.plf";
  std::string pristine;
  std::vector<TPreLoadEntry> records;
};

TEST_F(TestTool, EachDamageIsReportedForItsEntryOnly) {
  enum { kData = 4, kCompressed = 8, kUncompressed = 12 };
  struct Case {
    const char* what;
    int entry;
    std::function<void(std::string*)> damage;
    const char* reason;
  };
  const Case cases[] = {
      {"a flipped byte of stored data", 2, [&](std::string* b) { (*b)[DataAt(2, 2500)] ^= 0x01; },
       "its Adler-32 checksum does not match its data"},
      {"a flipped checksum byte", 1, [&](std::string* b) { (*b)[DataAt(1, -1)] ^= 0x80; },
       "its Adler-32 checksum does not match its data"},
      {"a flipped zlib header", 3, [&](std::string* b) { (*b)[DataAt(3, 0)] ^= 0x0F; }, "its zlib header is damaged"},
      {"a size one too large", 1, [&](std::string* b) { AddToField(b, 1, kUncompressed, 1); }, "but its record gives"},
      {"a size one too small", 3, [&](std::string* b) { AddToField(b, 3, kUncompressed, -1); },
       "it inflates to more than the 10 bytes"},
      {"compressed data cut short", 1, [&](std::string* b) { AddToField(b, 1, kCompressed, -1); },
       "ends before its zlib stream does"},
      {"a byte too many", 1, [&](std::string* b) { AddToField(b, 1, kCompressed, 1); },
       "1 byte follows the end of its zlib stream"},
      {"data before the data area", 2, [&](std::string* b) { AddToField(b, 2, kData, -(records[2].dataOffset - 19)); },
       "lies before the data area"},
      {"data past the directory", 3, [&](std::string* b) { AddToField(b, 3, kCompressed, 1000); },
       "runs past the directory"},
      {"no data but a size", 0, [&](std::string* b) { AddToField(b, 0, kCompressed, -records[0].compressedSize); },
       "it has no data, but its record gives 9 bytes"},
  };
  for (const Case& c : cases) {
    std::string bytes = pristine;
    c.damage(&bytes);
    plf::test::WriteFileBytes(path, bytes);
    const test::Result r = Tool({"test", path});
    EXPECT_EQ(r.code, 1) << c.what;
    const std::vector<std::string> lines = test::Lines(r.out);
    ASSERT_EQ(lines.size(), 6u) << c.what << "\n" << r.out;
    for (int i = 0; i < 4; ++i) {
      const std::string& row = lines[static_cast<std::size_t>(i) + 1];
      if (i == c.entry)
        EXPECT_NE(row.find(c.reason), std::string::npos) << c.what << ": " << row;
      else
        EXPECT_EQ(row.substr(row.size() - 2), "ok") << c.what << ": " << row;
    }
    EXPECT_EQ(lines[5], "4 entries, 1 damaged or unopenable") << c.what;
    EXPECT_EQ(test::Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("plf test: " + path + ": entry " + std::to_string(c.entry)), std::string::npos) << r.err;
  }
}

TEST_F(TestTool, AnIntactPackagePassesInTextAndJson) {
  const test::Result r = Tool({"test", path});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(test::Lines(r.out).back(), "4 entries, all intact");
  const test::Result j = Tool({"test", "--json", path});
  EXPECT_EQ(j.code, 0);
  EXPECT_NE(j.out.find("{\"index\":1,\"name\":\"a\",\"state\":\"ok\"}"), std::string::npos) << j.out;
  EXPECT_NE(j.out.find("\"damaged\":0}"), std::string::npos) << j.out;

  EXPECT_EQ(Tool({"test"}).code, 2);
  EXPECT_EQ(Tool({"test", path, path}).code, 2);
  plf::test::WriteFileBytes(path, "not a package at all, but long enough");
  const test::Result bad = Tool({"test", path});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find(path + ": "), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace plf::tools
