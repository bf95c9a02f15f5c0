#include "package/preload_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "support/package_bytes.h"
#include "runtime/exceptions.h"
#include "support/fault_platform.h"

// This test program counts the bytes that operator new hands out, except
// under AddressSanitizer, whose own operator new must stay in place.
#if defined(__SANITIZE_ADDRESS__)
#define PLF_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLF_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef PLF_COUNTS_ALLOCATIONS
#define PLF_COUNTS_ALLOCATIONS 1
#endif

#if PLF_COUNTS_ALLOCATIONS
namespace {
std::atomic<bool> gCountAllocations{false};
std::atomic<std::size_t> gAllocated{0};
}  // namespace

void* operator new(std::size_t size) {
  if (gCountAllocations) gAllocated += size;
  if (void* p = std::malloc(size > 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
// Not inlined, so that the compiler does not take free() after operator new
// for a mismatch.
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace plf {
namespace {

using test::PackageBytes;
using test::RawRecord;
using test::RecordBytes;

const char kDamaged[] = "Inicializační soubor je poškozen!";
const char kBadVersion[] = "Špatná verze inicializačního souboru!";
const char kReadError[] = "Stream read error";

std::string Record(const std::string& name, std::int32_t dataOffset = 0, std::int32_t compressed = 0,
                   std::int32_t uncompressed = 0, std::int32_t length = -1) {
  RawRecord r;
  r.name = name;
  r.dataOffset = dataOffset;
  r.compressedSize = compressed;
  r.uncompressedSize = uncompressed;
  r.length = length;
  return RecordBytes(r);
}

std::string ReadAll(TStream& s, std::int32_t size) {
  std::string text(static_cast<std::size_t>(size), '\0');
  text.resize(static_cast<std::size_t>(s.Read(&text[0], size)));
  return text;
}

struct Fixture {
  test::TempDir dir;
  std::string path = dir / "Install.PLF";
};

TEST(PreLoadReader, OpensOrRefusesPackages) {
  const std::string payload = test::ZlibCompress("hello");
  const std::string goodRecord = Record("A", 20, static_cast<std::int32_t>(payload.size()), 5);
  std::string wrongVersion = PackageBytes("", {});
  wrongVersion[8] = '\x12';
  std::string otherMagic = PackageBytes(payload, {goodRecord});
  otherMagic.replace(0, 8, "XXXXXXXX");
  otherMagic.replace(20 + payload.size(), 8, "YYYYYYYY");
  const std::string twoRecords = PackageBytes("", {Record("A"), Record("B")});
  const std::string cutName = PackageBytes("", {Record("A"), Record("B").substr(0, 4)});
  // A package whose one entry has no data: any directory offset but its own
  // must refuse it, never leave it readable from somewhere else.
  const std::string scriptOnly = PackageBytes("", {Record("SCRIPT", 20, 0, 0)});
  const std::int32_t scriptOnlySize = static_cast<std::int32_t>(scriptOnly.size());
  const auto directoryAt = [&scriptOnly](std::int32_t offset) {
    std::string bytes = scriptOnly;
    test::SetFieldAt(&bytes, 12, offset);
    return bytes;
  };

  struct Case {
    const char* what;
    std::string bytes;
    const char* error;  // nullptr: opens
    int entries;
  };
  const Case cases[] = {
      {"empty package", PackageBytes("", {}), nullptr, 0},
      {"wrong version", wrongVersion, kBadVersion, 0},
      {"12-byte file", PackageBytes("", {}).substr(0, 12), kReadError, 0},
      {"no directory header", PackageBytes("", {}).substr(0, 30), kReadError, 0},
      {"other magic and tag", otherMagic, nullptr, 1},
      {"record length 39", PackageBytes("", {Record("A", 0, 0, 0, 39)}), kDamaged, 0},
      {"record length 40", PackageBytes("", {Record("A", 0, 0, 0, 40)}), nullptr, 1},
      {"record length 16383", PackageBytes("", {Record("A", 0, 0, 0, 16383)}), nullptr, 1},
      {"record length 16384", PackageBytes("", {Record("A", 0, 0, 0, 16384)}), kDamaged, 0},
      {"record length -1", PackageBytes("", {test::Le32s(-1)}), kDamaged, 0},
      {"record length -2^31", PackageBytes("", {test::Le32s(-2147483647 - 1)}), kDamaged, 0},
      {"count -1", PackageBytes("", {Record("A")}, -1), nullptr, 0},
      {"count 2 billion", PackageBytes("", {Record("A")}, 2000000000), kReadError, 0},
      {"count past the records", twoRecords.substr(0, twoRecords.size() - 44), kReadError, 0},
      {"file ends inside a length field", twoRecords.substr(0, twoRecords.size() - 42), kReadError, 0},
      {"file ends right after a length field", cutName, nullptr, 2},
      {"file ends inside a record", twoRecords.substr(0, twoRecords.size() - 10), nullptr, 2},
      {"directory at its place", directoryAt(20), nullptr, 1},
      {"directory offset -1", directoryAt(-1), kReadError, 0},
      {"directory offset -20", directoryAt(-20), kReadError, 0},
      {"directory offset -2^31", directoryAt(-2147483647 - 1), kReadError, 0},
      {"directory offset 2^31 - 1", directoryAt(2147483647), kReadError, 0},
      {"directory at the end of the file", directoryAt(scriptOnlySize), kReadError, 0},
      {"directory header cut short", directoryAt(scriptOnlySize - 19), kReadError, 0},
      {"directory inside the header", test::FileHeaderBytes(0) + test::DirHeaderBytes(0), nullptr, 0},
  };
  for (const Case& c : cases) {
    Fixture f;
    test::WriteFileBytes(f.path, c.bytes);
    test::FaultPlatform platform;
    ScopedPlatform scoped(platform);
    try {
      TPreLoadReader reader(f.path);
      EXPECT_EQ(c.error, nullptr) << c.what << ": opened";
      EXPECT_EQ(reader.EntryCount(), c.entries) << c.what;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.error ? c.error : "(opens)") << c.what;
    }
    EXPECT_TRUE(platform.openHandles.empty()) << c.what << ": a file stayed open";
  }
}

// Records of every length from the least to the greatest, so that a
// directory of a few megabytes has records at every place of the pieces it
// is read in; among them the longest name, and a name whose length byte
// claims more than its record holds.
std::vector<RawRecord> VariedRecords(int count) {
  std::vector<RawRecord> records;
  for (int i = 0; i < count; ++i) {
    RawRecord r;
    r.name = "entry" + std::to_string(i);
    r.length = kMinRecordLength + (i * 7919) % (kMaxRecordLength - kMinRecordLength + 1);
    r.dataOffset = i;
    r.compressedSize = -i;
    r.uncompressedSize = 3 * i;
    r.date = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(1 + i % 12),
              static_cast<std::uint8_t>(1 + i % 28), 0};
    records.push_back(r);
  }
  records[3].name = std::string(255, 'L');
  records[3].length = kMaxRecordLength;
  records[7].name = std::string(15, 'n');
  records[7].length = kMinRecordLength;
  records[7].nameLengthByte = 255;
  return records;
}

std::vector<std::string> AllBytes(const std::vector<RawRecord>& records) {
  std::vector<std::string> bytes;
  for (const RawRecord& r : records) bytes.push_back(RecordBytes(r));
  return bytes;
}

TEST(PreLoadReader, RecordsReadBackAsStored) {
  const std::vector<RawRecord> records = VariedRecords(300);
  const std::vector<std::string> recordBytes = AllBytes(records);
  const std::string whole = PackageBytes("", recordBytes);
  const std::string& last = recordBytes.back();
  // Where the file ends inside the last record; the bytes missing count as
  // zero.
  const struct Cut {
    const char* what;
    std::size_t kept;
  } cuts[] = {{"whole", last.size()},
              {"right after the length field", 4},
              {"inside the name", kRecordNameOffset + 3},
              {"inside the filler", 60}};
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.what);
    Fixture f;
    test::WriteFileBytes(f.path, whole.substr(0, whole.size() - last.size() + cut.kept));
    TPreLoadReader reader(f.path);
    ASSERT_EQ(reader.EntryCount(), static_cast<int>(records.size()));
    for (int i = 0; i < reader.EntryCount(); ++i) {
      std::string stored = recordBytes[static_cast<std::size_t>(i)];
      if (i + 1 == reader.EntryCount())
        std::fill(stored.begin() + static_cast<std::ptrdiff_t>(cut.kept), stored.end(), '\0');
      const TPreLoadEntry expected =
          TPreLoadEntry::Decode(reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size());
      ASSERT_EQ(reader.Entry(i).Encode(), expected.Encode()) << i;
      ASSERT_EQ(reader.EntryName(i), expected.name) << i;
      ASSERT_EQ(reader.FindEntry(expected.name), i) << i;
    }
    EXPECT_EQ(reader.EntryName(3), std::string(255, 'L'));
    EXPECT_EQ(reader.EntryName(7), std::string(15, 'n'));
  }
}

// The directory is read in more than one piece and the file cuts the last
// record short, which only a real end may do: a failed read of any piece
// must not pass for that end.
TEST(PreLoadReader, AFailedReadIsNoEndOfFile) {
  Fixture f;
  std::vector<RawRecord> records(64);
  for (RawRecord& r : records) r.length = kMaxRecordLength;
  std::string bytes = PackageBytes("", AllBytes(records));
  test::WriteFileBytes(f.path, bytes.substr(0, bytes.size() - 10));
  long reads = 0;
  {
    test::FaultPlatform counting;
    ScopedPlatform scoped(counting);
    EXPECT_EQ(TPreLoadReader(f.path).EntryCount(), 64);
    reads = counting.Count("read");
  }
  ASSERT_GE(reads, 4);  // the two headers, the records in more than one piece
  for (long failAt = 1; failAt <= reads; ++failAt) {
    test::FaultPlatform platform;
    platform.failWhen = [failAt, n = 0L](const std::string& name, const std::string&) mutable {
      return name == "read" && ++n == failAt;
    };
    ScopedPlatform scoped(platform);
    EXPECT_THROW(TPreLoadReader{f.path}, EReadError) << failAt;
    EXPECT_TRUE(platform.openHandles.empty()) << failAt;
  }
}

// A count that the file cannot back must not make the reader allocate for
// it: at most about the bytes that the file has.
TEST(PreLoadReader, AHostileCountAllocatesNoMoreThanTheFile) {
#if PLF_COUNTS_ALLOCATIONS
  const struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"nothing behind the count", PackageBytes("", {Record("A")}, 2000000000)},
      {"30,000 records behind a count of two billion",
       PackageBytes("", std::vector<std::string>(30000, Record("x")), 2000000000)},
  };
  for (const Case& c : cases) {
    Fixture f;
    test::WriteFileBytes(f.path, c.bytes);
    gAllocated = 0;
    gCountAllocations = true;
    EXPECT_THROW(TPreLoadReader{f.path}, EReadError) << c.what;
    gCountAllocations = false;
    EXPECT_LE(gAllocated.load(), c.bytes.size() * 5 / 4 + 65536) << c.what;
  }
#else
  GTEST_SKIP() << "AddressSanitizer's operator new stays in place";
#endif
}

TEST(PreLoadReader, OpenEntryChecksTheDataArea) {
  const std::string a = test::ZlibCompress("alpha");
  const std::string b = test::ZlibCompress("bravo!");
  const std::int32_t aSize = static_cast<std::int32_t>(a.size());
  const std::int32_t bSize = static_cast<std::int32_t>(b.size());
  const std::int32_t bAt = 20 + aSize;  // b runs right up to the directory
  const std::int32_t kMax = 2147483647;
  const struct Case {
    std::string record;
    const char* content;  // nullptr: refused
  } cases[] = {
      {Record("a", 20, aSize, 5), "alpha"},           {Record("b", bAt, bSize, 6), "bravo!"},
      {Record("one byte more", bAt, bSize + 1, 6), nullptr}, {Record("at 19", 19, aSize, 5), nullptr},
      {Record("negative size", 20, -1, 5), nullptr},  {Record("huge size", 20, kMax, 5), nullptr},
      {Record("huge offset", kMax, 1, 5), nullptr},   {Record("no data", 20, 0, 500), ""},
      {Record("no data at 19", 19, 0, 500), nullptr},
  };
  std::vector<std::string> records;
  for (const Case& c : cases) records.push_back(c.record);
  Fixture f;
  test::WriteFileBytes(f.path, PackageBytes(a + b, records));
  TPreLoadReader reader(f.path);
  for (int i = 0; i < reader.EntryCount(); ++i) {
    const Case& c = cases[i];
    std::unique_ptr<TStream> s = std::make_unique<TMemoryStream>();
    std::int32_t size = -7;
    EXPECT_EQ(reader.OpenEntry(i, &s, &size), c.content != nullptr) << reader.EntryName(i);
    EXPECT_EQ(reader.CanOpenEntry(i), c.content != nullptr) << reader.EntryName(i);
    if (c.content == nullptr) {
      EXPECT_EQ(s, nullptr) << reader.EntryName(i);
      EXPECT_EQ(size, 0) << reader.EntryName(i);
    } else {
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(size, static_cast<std::int32_t>(std::string(c.content).size())) << reader.EntryName(i);
      EXPECT_EQ(ReadAll(*s, 100), c.content) << reader.EntryName(i);
    }
  }
  for (int bad : {-1, reader.EntryCount()}) {
    std::unique_ptr<TStream> s = std::make_unique<TMemoryStream>();
    std::int32_t size = 3;
    EXPECT_FALSE(reader.OpenEntry(bad, &s, &size));
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(size, 0);
    try {
      reader.EntryDate(bad);
      ADD_FAILURE() << bad;
    } catch (const EStringListError& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
    }
  }
}

}  // namespace
}  // namespace plf
