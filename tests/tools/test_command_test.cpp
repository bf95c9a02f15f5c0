// plf test: each kind of damage is reported, with its byte offset, for
// exactly the entry that has it, or for the package when it lies outside
// the entries; nothing damaged passes.

#include <functional>

#include "support/package_bytes.h"
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
    test::WritePackage(path, {{"SCRIPT", "[Files]\r\n"}, {"a", plf::test::Noise(20000, 1)}, {"b", plf::test::Noise(5000, 7)},
                              {"c", "small entry"}});
    pristine = plf::test::ReadFileBytes(path);
    TPreLoadReader reader(path);
    for (int i = 0; i < reader.EntryCount(); ++i) records.push_back(reader.Entry(i));
  }

  void AddToField(std::string* bytes, int index, int field, std::int32_t delta) const {
    const std::size_t at = RecordOffset(*bytes, index) + static_cast<std::size_t>(field);
    SetFieldAt(bytes, at, FieldAt(*bytes, at) + delta);
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
    std::function<void(std::string*)> damage;
    std::vector<Finding> findings;
    std::size_t rows = 4;  // entries that the directory still tells
  };
  const std::int64_t end = static_cast<std::int64_t>(pristine.size());
  const auto add = [this](int entry, int field, std::int32_t delta) {
    return [=](std::string* b) { AddToField(b, entry, field, delta); };
  };
  const auto set = [](std::int64_t at, char v) { return [=](std::string* b) { (*b)[static_cast<std::size_t>(at)] = v; }; };
  std::vector<Case> cases = {
      {[&](std::string* b) { (*b)[static_cast<std::size_t>(Data(2) - 1)] ^= 0x80; },
       {{1, Data(1), "its Adler-32 checksum does not match its data"}}},
      {[&](std::string* b) { (*b)[static_cast<std::size_t>(Data(3))] ^= 0x0F; }, {{3, Data(3), "its zlib header is damaged"}}},
      {add(1, kUncompressed, 1), {{1, Data(1), "but its record gives"}}},
      {add(3, kUncompressed, -1), {{3, Data(3), "it inflates to more than the 10 bytes"}}},
      {add(1, kCompressed, -1), {{1, Data(1), "ends before its zlib stream does"}}},
      {add(1, kCompressed, 1),  // into the next entry's data
       {{1, Data(1), "1 byte follows the end of its zlib stream"}, {2, Data(2), "overlaps the data of entry 1 \"a\""}}},
      {add(2, kData, -(records[2].dataOffset - 19)), {{2, 19, "lies before the data area"}}},
      {add(3, kCompressed, 1000), {{3, Data(3), "runs past the directory"}}},
      {add(0, kCompressed, -records[0].compressedSize), {{0, Data(0), "it has no data, but its record gives 9 bytes"}}},
      {[&](std::string* b) {
         (*b)[static_cast<std::size_t>(Record(2) + 28)] = 40;
         for (std::int64_t i = 30; i < 44; ++i) (*b)[static_cast<std::size_t>(Record(2) + i)] = 'x';
       },
       {{2, Record(2) + 28, "its name of 40 bytes runs past the end of its record"}}},
      {[&](std::string* b) {
         (*b)[static_cast<std::size_t>(Record(3) + 28)] = 2;
         (*b)[static_cast<std::size_t>(Record(3) + 30)] = '\0';
       },
       {{3, Record(3) + 30, "its name holds a NUL byte"}}},
      {[&](std::string* b) { SetFieldAt(b, RecordOffset(*b, 2), 39); },
       {{2, Record(2), "its record length 39 lies outside 40..16383, so no record after it can be found"}},
       3},
      {[&](std::string* b) { SetFieldAt(b, static_cast<std::size_t>(FieldAt(*b, 12) + 12), 5); },
       {{-1, end, "the file ends before record 4 of the 5 that the directory lists"}}},
      {[&](std::string* b) { *b += std::string(10, '\0'); }, {{-1, end, "10 bytes follow the end of the directory"}}},
      {set(0, 'X'), {{-1, 0, "the header does not start with \"ZLIB_PLF\""}}},
      {set(FieldAt(pristine, 12), 'X'),
       {{-1, FieldAt(pristine, 12), "the directory header does not start with \"ZLIB_DIR\""}}},
      {[&](std::string* b) { SetFieldAt(b, 12, static_cast<std::int32_t>(end - 19)); },
       {{-1, 12, "leaves no room for the 20-byte directory header"}},
       0},
      {[](std::string* b) { *b = "not a package at all, but long enough"; }, {{-1, 8, "the version word is "}}, 0},
  };
  // A package cut anywhere in its last record.
  for (const std::int64_t cut : {1, 13})
    cases.push_back({[cut](std::string* b) { b->resize(b->size() - static_cast<std::size_t>(cut)); },
                     {{3, Record(3), "its record (44 bytes) runs past the end of the file, which has " +
                                         std::to_string(44 - cut) + " bytes of it"}}});

  for (const Case& c : cases) {
    std::string bytes = pristine;
    c.damage(&bytes);
    plf::test::WriteFileBytes(path, bytes);
    const test::Result r = Tool({"test", path});
    EXPECT_EQ(r.code, 1) << c.findings[0].reason;
    const std::vector<std::string> errors = test::Lines(r.err);
    ASSERT_EQ(errors.size(), c.findings.size()) << c.findings[0].reason << "\n" << r.err;
    for (std::size_t k = 0; k < c.findings.size(); ++k) {
      const Finding& f = c.findings[k];
      // The name as the record holds it, which the damage may have changed.
      const std::string head = "plf test: " + path + ": " + (f.entry < 0 ? "" : "entry " + std::to_string(f.entry) + " \"");
      const std::string at = (f.entry < 0 ? "offset " : "\" at offset ") + std::to_string(f.offset) + ": ";
      EXPECT_EQ(errors[k].rfind(head, 0), 0u) << c.findings[0].reason << ": " << errors[k];
      EXPECT_NE(errors[k].find(f.reason, errors[k].find(at)), std::string::npos) << f.reason << ": " << errors[k];
    }
    const std::string summary = test::Lines(r.out).back();
    EXPECT_EQ(summary.rfind(std::to_string(c.rows) + " entries, ", 0), 0u) << c.findings[0].reason << ": " << summary;
    EXPECT_EQ(summary.find("all intact"), std::string::npos) << c.findings[0].reason;
  }
}

// Entry names after the package pick what is shown and counted, as the
// installer's lookup finds them (list and extract choose alike): letter
// case ignored, "*" and "?" as its search has them; a name that matches
// nothing is a failure, said once.
TEST_F(TestTool, AnIntactPackagePassesAndNamedEntriesAreTheOnlyOnesCounted) {
  EXPECT_EQ(test::Lines(Tool({"test", path}).out).back(), "4 entries, all intact");
  const test::Result j = Tool({"test", "--json", path});
  EXPECT_EQ(j.code, 0);
  EXPECT_NE(j.out.find("{\"index\":1,\"name\":\"a\",\"state\":\"ok\"}"), std::string::npos) << j.out;
  EXPECT_NE(j.out.find("\"damaged\":0,\"intact\":true}"), std::string::npos) << j.out;
  std::string bytes = pristine;
  bytes[static_cast<std::size_t>(Data(2))] ^= 0x55;  // "b" damaged
  plf::test::WriteFileBytes(path, bytes);
  const test::Result healthy = Tool({"test", path, "A", "c*"});
  EXPECT_EQ(healthy.code, 0) << healthy.out << healthy.err;
  EXPECT_EQ(test::Lines(healthy.out).back(), "2 entries, all intact");
  EXPECT_EQ(Tool({"test", path, "?"}).code, 1);  // "b" among them
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
}

}  // namespace
}  // namespace plf::tools
