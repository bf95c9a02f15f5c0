// plf test: each kind of damage is reported, with its byte offset, for
// exactly the entry that has it, or for the package when it lies outside
// the entries; nothing damaged passes.
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

using plf::test::FieldAt;
using plf::test::RecordOffset;
using plf::test::SetFieldAt;
using test::Tool;

class TestTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\r\n";
    test::WritePackage(path, {{"SCRIPT", "[Files]\r\n"}, {"a", text}, {"b", plf::test::Noise(5000, 7)}, {"c", "small entry"}});
    pristine = plf::test::ReadFileBytes(path);
    TPreLoadReader reader(path);
    for (int i = 0; i < reader.EntryCount(); ++i) records.push_back(reader.Entry(i));
  }

  void AddToField(std::string* bytes, int index, int field, std::int32_t delta) const {
    const std::size_t at = RecordOffset(*bytes, index) + static_cast<std::size_t>(field);
    SetFieldAt(bytes, at, FieldAt(*bytes, at) + delta);
  }
  std::size_t DataAt(int index, std::int32_t offsetInData) const {
    const TPreLoadEntry& e = records[static_cast<std::size_t>(index)];
    return static_cast<std::size_t>(offsetInData >= 0 ? e.dataOffset + offsetInData
                                                      : e.dataOffset + e.compressedSize + offsetInData);
  }
  std::int64_t Data(int index) const { return records[static_cast<std::size_t>(index)].dataOffset; }
  // The offset of an entry's record in the directory.
  std::int64_t Record(int index) const { return static_cast<std::int64_t>(RecordOffset(pristine, index)); }

  plf::test::TempDir dir;
  const std::string path = dir / "p.plf";
  std::string pristine;
  std::vector<TPreLoadEntry> records;
};

TEST_F(TestTool, EveryDamageIsFoundWhereItIs) {
  enum { kData = 4, kCompressed = 8, kUncompressed = 12 };
  struct Finding {
    int entry;  // -1: outside the entries
    std::int64_t offset;
    std::string reason;
  };
  struct Case {
    std::string what;
    std::function<void(std::string*)> damage;
    std::vector<Finding> findings;
    std::size_t rows = 4;  // entries that the directory still tells
  };
  const std::int64_t end = static_cast<std::int64_t>(pristine.size());
  std::vector<Case> cases = {
      {"a flipped checksum byte", [&](std::string* b) { (*b)[DataAt(1, -1)] ^= 0x80; },
       {{1, Data(1), "its Adler-32 checksum does not match its data"}}},
      {"a flipped zlib header", [&](std::string* b) { (*b)[DataAt(3, 0)] ^= 0x0F; },
       {{3, Data(3), "its zlib header is damaged"}}},
      {"a size one too large", [&](std::string* b) { AddToField(b, 1, kUncompressed, 1); },
       {{1, Data(1), "but its record gives"}}},
      {"a size one too small", [&](std::string* b) { AddToField(b, 3, kUncompressed, -1); },
       {{3, Data(3), "it inflates to more than the 10 bytes"}}},
      {"compressed data cut short", [&](std::string* b) { AddToField(b, 1, kCompressed, -1); },
       {{1, Data(1), "ends before its zlib stream does"}}},
      {"a byte too many, into the next entry's data", [&](std::string* b) { AddToField(b, 1, kCompressed, 1); },
       {{1, Data(1), "1 byte follows the end of its zlib stream"},
        {2, Data(2), "overlaps the data of entry 1 \"a\""}}},
      {"two entries on the same data",
       [&](std::string* b) {
         AddToField(b, 3, kData, static_cast<std::int32_t>(Data(2) - Data(3)));
         AddToField(b, 3, kCompressed, records[2].compressedSize - records[3].compressedSize);
         AddToField(b, 3, kUncompressed, records[2].uncompressedSize - records[3].uncompressedSize);
       },
       {{3, Data(2), "overlaps the data of entry 2 \"b\""}}},
      {"data before the data area", [&](std::string* b) { AddToField(b, 2, kData, -(records[2].dataOffset - 19)); },
       {{2, 19, "lies before the data area"}}},
      {"data past the directory", [&](std::string* b) { AddToField(b, 3, kCompressed, 1000); },
       {{3, Data(3), "runs past the directory"}}},
      {"no data but a size", [&](std::string* b) { AddToField(b, 0, kCompressed, -records[0].compressedSize); },
       {{0, Data(0), "it has no data, but its record gives 9 bytes"}}},
      {"a name past its record",
       [&](std::string* b) {
         (*b)[static_cast<std::size_t>(Record(2) + 28)] = 40;
         for (std::int64_t i = 30; i < 44; ++i) (*b)[static_cast<std::size_t>(Record(2) + i)] = 'x';
       },
       {{2, Record(2) + 28, "its name of 40 bytes runs past the end of its record"}}},
      {"a NUL in a name",
       [&](std::string* b) {
         (*b)[static_cast<std::size_t>(Record(3) + 28)] = 2;
         (*b)[static_cast<std::size_t>(Record(3) + 30)] = '\0';
       },
       {{3, Record(3) + 30, "its name holds a NUL byte"}}},
      {"a record length out of bounds", [&](std::string* b) { SetFieldAt(b, RecordOffset(*b, 2), 39); },
       {{2, Record(2), "its record length 39 lies outside 40..16383, so no record after it can be found"}},
       3},
      {"more records listed than there are",
       [&](std::string* b) { SetFieldAt(b, static_cast<std::size_t>(FieldAt(*b, 12) + 12), 5); },
       {{-1, end, "the file ends before record 4 of the 5 that the directory lists"}}},
      {"10 bytes appended", [&](std::string* b) { *b += std::string(10, '\0'); },
       {{-1, end, "10 bytes follow the end of the directory"}}},
      {"a magic that is not ZLIB_PLF", [&](std::string* b) { (*b)[0] = 'X'; },
       {{-1, 0, "the header does not start with \"ZLIB_PLF\""}}},
      {"a directory tag that is not ZLIB_DIR", [&](std::string* b) { (*b)[static_cast<std::size_t>(FieldAt(*b, 12))] = 'X'; },
       {{-1, FieldAt(pristine, 12), "the directory header does not start with \"ZLIB_DIR\""}}},
      {"a directory offset past the end", [&](std::string* b) { SetFieldAt(b, 12, static_cast<std::int32_t>(end - 19)); },
       {{-1, 12, "leaves no room for the 20-byte directory header"}},
       0},
  };
  // A package cut anywhere in its last record.
  for (std::int64_t cut = 1; cut <= 13; ++cut)
    cases.push_back({"the last " + std::to_string(cut) + " bytes cut off", [cut](std::string* b) { b->resize(b->size() - static_cast<std::size_t>(cut)); },
                     {{3, Record(3), "its record (44 bytes) runs past the end of the file, which has " +
                                         std::to_string(44 - cut) + " bytes of it"}}});

  for (const Case& c : cases) {
    std::string bytes = pristine;
    c.damage(&bytes);
    plf::test::WriteFileBytes(path, bytes);
    const test::Result r = Tool({"test", path});
    EXPECT_EQ(r.code, 1) << c.what;
    const std::vector<std::string> errors = test::Lines(r.err);
    ASSERT_EQ(errors.size(), c.findings.size()) << c.what << "\n" << r.err;
    std::vector<bool> damaged(4, false);
    for (std::size_t k = 0; k < c.findings.size(); ++k) {
      const Finding& f = c.findings[k];
      // The name as the record holds it, which the damage may have changed.
      const std::string entry = f.entry < 0 ? "" : "entry " + std::to_string(f.entry) + " \"";
      const std::string at = f.entry < 0 ? "offset " : "\" at offset ";
      EXPECT_EQ(errors[k].rfind("plf test: " + path + ": " + entry, 0), 0u) << c.what << ": " << errors[k];
      const std::string::size_type found = errors[k].find(at + std::to_string(f.offset) + ": ");
      EXPECT_NE(found, std::string::npos) << c.what << ": " << errors[k];
      EXPECT_NE(errors[k].find(f.reason, found), std::string::npos) << c.what << ": " << errors[k];
      if (f.entry >= 0) damaged[static_cast<std::size_t>(f.entry)] = true;
    }
    const std::vector<std::string> lines = test::Lines(r.out);
    ASSERT_GE(lines.size(), c.rows + 2) << c.what << "\n" << r.out;
    EXPECT_NE(lines[c.rows + 1].rfind(std::to_string(c.rows) + "  ", 0), 0u) << c.what << ": one row too many";
    for (std::size_t i = 0; i < c.rows; ++i) {
      const std::string& row = lines[i + 1];
      EXPECT_EQ(row.size() >= 2 && row.substr(row.size() - 2) == "ok", !damaged[i]) << c.what << ": " << row;
    }
    EXPECT_EQ(lines.back().find("all intact"), std::string::npos) << c.what;
  }
}

// Entry names after the package pick what is shown and counted, as the
// installer's lookup finds them: letter case ignored, "*" and "?" as its
// search has them; a name that matches nothing is a failure, said once.
TEST_F(TestTool, AnIntactPackagePassesAndNamedEntriesAreTheOnlyOnesCounted) {
  EXPECT_EQ(test::Lines(Tool({"test", path}).out).back(), "4 entries, all intact");
  const test::Result j = Tool({"test", "--json", path});
  EXPECT_EQ(j.code, 0);
  EXPECT_NE(j.out.find("{\"index\":1,\"name\":\"a\",\"state\":\"ok\"}"), std::string::npos) << j.out;
  EXPECT_NE(j.out.find("\"damaged\":0,\"intact\":true}"), std::string::npos) << j.out;
  std::string bytes = pristine;
  bytes[static_cast<std::size_t>(Data(2))] ^= 0x55;  // "b" damaged
  plf::test::WriteFileBytes(path, bytes);
  const test::Result picked = Tool({"test", path, "A", "?"});
  EXPECT_EQ(picked.code, 1) << picked.out;  // "?" takes "b" in
  EXPECT_EQ(test::Lines(picked.out).size(), 5u) << picked.out;
  const test::Result healthy = Tool({"test", path, "a", "C"});
  EXPECT_EQ(healthy.code, 0) << healthy.out << healthy.err;
  EXPECT_EQ(test::Lines(healthy.out).back(), "2 entries, all intact");
  EXPECT_NE(Tool({"test", path, "a", "d*"}).err.find(": no entry matches \"d*\""), std::string::npos);
}

// What an interrupted pack used to leave: a header that still marks an
// empty package, then part of the data. The installer's reader sees no
// entries in it; the test must not call it intact.
TEST_F(TestTool, APartlyWrittenPackageIsNoEmptyPackage) {
  const std::string bytes = plf::test::PackageBytes("", {}) + pristine.substr(20, static_cast<std::size_t>(Data(2)) - 20);
  plf::test::WriteFileBytes(path, bytes);
  EXPECT_LE(TPreLoadReader(path).EntryCount(), 0);
  const test::Result r = Tool({"test", "--json", path});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("\"package_findings\":[{\"offset\":40,\"reason\":\"" + std::to_string(bytes.size() - 40) +
                       " bytes follow the end of the directory\"}]"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"intact\":false"), std::string::npos) << r.out;

  plf::test::WriteFileBytes(path, "not a package at all, but long enough");
  const test::Result bad = Tool({"test", path});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find(path + ": offset 8: the version word is "), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace plf::tools
