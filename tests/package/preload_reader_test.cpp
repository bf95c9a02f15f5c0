#include "package/preload_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <memory>
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
  text.resize(static_cast<std::size_t>(std::max(s.Read(&text[0], size), 0)));
  return text;
}

void WritePackage(const std::string& path, const std::vector<std::string>& names) {
  std::vector<std::string> records;
  for (const std::string& name : names) records.push_back(Record(name));
  test::WriteFileBytes(path, PackageBytes("", records));
}

struct Fixture {
  test::TempDir dir;
  std::string path = dir / "Install.PLF";
};

TEST(PreLoadReader, OpensOrRefusesPackages) {
  // A package whose one entry has no data: any directory offset but its own
  // must refuse it, never leave it readable from somewhere else.
  const auto directoryAt = [](std::int32_t offset) {
    std::string bytes = PackageBytes("", {Record("SCRIPT", 20, 0, 0)});
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
      {"record length 40", PackageBytes("", {Record("A", 0, 0, 0, 40)}), nullptr, 1},
      {"record length 16383", PackageBytes("", {Record("A", 0, 0, 0, 16383)}), nullptr, 1},
      {"record length 16384", PackageBytes("", {Record("A", 0, 0, 0, 16384)}), kDamaged, 0},
      {"file ends inside a length field", PackageBytes("", {Record("A"), Record("B").substr(0, 2)}), kReadError, 0},
      {"directory offset -1", directoryAt(-1), kReadError, 0},
      {"directory offset -20", directoryAt(-20), kReadError, 0},
      {"directory offset -2^31", directoryAt(-2147483647 - 1), kReadError, 0},
      {"directory offset 2^31 - 1", directoryAt(2147483647), kReadError, 0},
      {"directory inside the header", test::FileHeaderBytes(0) + test::DirHeaderBytes(0), nullptr, 0},
  };
  for (const Case& c : cases) {
    Fixture f;
    test::WriteFileBytes(f.path, c.bytes);
    try {
      TPreLoadReader reader(f.path);
      EXPECT_EQ(c.error, nullptr) << c.what << ": opened";
      EXPECT_EQ(reader.EntryCount(), c.entries) << c.what;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.error ? c.error : "(opens)") << c.what;
    }
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

TEST(PreLoadReader, RecordsReadBackAsStored) {
  const std::vector<RawRecord> records = VariedRecords(300);
  std::vector<std::string> recordBytes;
  for (const RawRecord& r : records) recordBytes.push_back(RecordBytes(r));
  const std::string whole = PackageBytes("", recordBytes);
  const std::string& last = recordBytes.back();
  // Where the file ends inside the last record; the bytes missing count as
  // zero.
  const struct Cut {
    const char* what;
    std::size_t kept;
  } cuts[] = {{"right after the length field", 4}, {"inside the name", kRecordNameOffset + 3}};
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
    }
    EXPECT_EQ(reader.EntryName(3), std::string(255, 'L'));
    EXPECT_EQ(reader.EntryName(7), std::string(15, 'n'));
  }
}

// The directory is read in more than one piece and the file cuts the last
// record short, which only a real end may do: the last read failing must not
// pass for that end.
TEST(PreLoadReader, AFailedReadIsNoEndOfFile) {
  Fixture f;
  const std::string bytes = PackageBytes("", std::vector<std::string>(64, Record("x", 0, 0, 0, kMaxRecordLength)));
  test::WriteFileBytes(f.path, bytes.substr(0, bytes.size() - 10));
  long reads = 0;
  {
    test::FaultPlatform counting;
    ScopedPlatform scoped(counting);
    EXPECT_EQ(TPreLoadReader(f.path).EntryCount(), 64);
    reads = counting.Count("read");
  }
  test::FaultPlatform platform;
  platform.failWhen = [reads, n = 0L](const std::string& name, const std::string&) mutable {
    return name == "read" && ++n == reads;
  };
  ScopedPlatform scoped(platform);
  EXPECT_THROW(TPreLoadReader{f.path}, EReadError);
}

// A count that the file cannot back must not make the reader allocate for
// it: at most about the bytes that the file has.
TEST(PreLoadReader, AHostileCountAllocatesNoMoreThanTheFile) {
#if PLF_COUNTS_ALLOCATIONS
  for (const std::string& bytes : {PackageBytes("", {Record("A")}, 2000000000),
                                   PackageBytes("", std::vector<std::string>(30000, Record("x")), 2000000000)}) {
    Fixture f;
    test::WriteFileBytes(f.path, bytes);
    gAllocated = 0;
    gCountAllocations = true;
    EXPECT_THROW(TPreLoadReader{f.path}, EReadError) << bytes.size();
    gCountAllocations = false;
    EXPECT_LE(gAllocated.load(), bytes.size() * 5 / 4 + 65536) << bytes.size();
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
  const struct Case {
    std::string record;
    const char* content;  // nullptr: refused
  } cases[] = {
      {Record("a", 20, aSize, 5), "alpha"},           {Record("b", bAt, bSize, 6), "bravo!"},
      {Record("one byte more", bAt, bSize + 1, 6), nullptr}, {Record("at 19", 19, aSize, 5), nullptr},
      {Record("negative size", 20, -1, 5), nullptr},  {Record("huge size", 20, 2147483647, 5), nullptr},
      {Record("no data", 20, 0, 500), ""},
  };
  std::vector<std::string> records;
  for (const Case& c : cases) records.push_back(c.record);
  Fixture f;
  test::WriteFileBytes(f.path, PackageBytes(a + b, records));
  TPreLoadReader reader(f.path);
  for (int i = 0; i < reader.EntryCount(); ++i) {
    std::unique_ptr<TStream> s;
    std::int32_t size = -7;
    const bool opened = reader.OpenEntry(i, &s, &size);
    const std::string got = opened ? ReadAll(*s, 100) : "(refused)";
    EXPECT_EQ(got, cases[i].content ? cases[i].content : "(refused)") << reader.EntryName(i);
    EXPECT_EQ(size, opened ? static_cast<std::int32_t>(got.size()) : 0) << reader.EntryName(i);
  }
  for (int bad : {-1, reader.EntryCount()}) {
    std::unique_ptr<TStream> s;
    std::int32_t size = 3;
    EXPECT_FALSE(reader.OpenEntry(bad, &s, &size));
    try {
      reader.EntryDate(bad);
      ADD_FAILURE() << bad;
    } catch (const EStringListError& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
    }
  }
}

// The package file keeps its position and size itself and positions the
// file only for a read that needs it: the same bytes as a plain file stream,
// without the system calls that the entry windows would otherwise cost.
TEST(PackageFileStream, SeeksAndReadsLikeTheFile) {
  test::TempDir dir;
  const std::string bytes = test::Noise(100, 3);
  test::WriteFileBytes(dir / "f", bytes);
  TPackageFileStream s(dir / "f");
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  struct Case {
    std::int32_t offset;
    std::uint16_t origin;
    std::int32_t result;    // what Seek returns
    std::int32_t position;  // where the next read starts
  } cases[] = {
      {10, 0, 10, 10}, {5, 1, 15, 15},   {0, 2, 100, 100}, {-1, 2, 99, 99},       {-1, 0, -1, 99},
      {10, 2, 110, 110}, {3, 3, -1, 110}, {0, 0, 0, 0},     {kMax, 1, kMax, kMax}, {1, 1, -1, kMax},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + " from " + std::to_string(c.origin));
    EXPECT_EQ(s.Seek(c.offset, c.origin), c.result);
    EXPECT_EQ(s.Position(), c.position);
    const std::string expected = c.position < 100 ? bytes.substr(static_cast<std::size_t>(c.position), 7) : "";
    EXPECT_EQ(ReadAll(s, 7), expected);
    s.Seek(c.position, 0);  // the read moved on; the next case starts here
  }
}

TEST(PackageFileStream, AFailedCallGivesNothingAndTheNextReadRecovers) {
  test::TempDir dir;
  const std::string bytes = test::Noise(1000, 5);
  test::WriteFileBytes(dir / "f", bytes);
  test::FaultPlatform calls;
  std::string failNext;  // the next call of this name fails
  calls.failWhen = [&failNext](const std::string& name, const std::string&) {
    if (name != failNext) return false;
    failNext.clear();
    return true;
  };
  ScopedPlatform use(calls);
  TPackageFileStream s(dir / "f");

  s.Seek(300, 0);
  failNext = "seek";
  EXPECT_EQ(ReadAll(s, 10), "");  // never the bytes at the old place
  EXPECT_EQ(ReadAll(s, 10), bytes.substr(300, 10));

  failNext = "read";
  EXPECT_EQ(ReadAll(s, 10), "");
  const long seeksBefore = calls.Count("seek");
  EXPECT_EQ(ReadAll(s, 10), bytes.substr(310, 10));
  EXPECT_EQ(calls.Count("seek"), seeksBefore + 1);  // where a failed read left the file is not trusted

}

// FindEntry answers from an index of the names folded to capitals, yet as a
// walk through the directory with the locale comparison would: the first
// entry that the comparison calls equal, or -1. This locale calls more names
// equal than folding does: "\xDF" ("ß") compares as "SS", the hyphen is
// ignored.
std::string LooseKey(const std::string& s) {
  std::string k;
  for (char c : s) {
    if (c == '\xDF') k += "SS";
    else if (c >= 'a' && c <= 'z') k += static_cast<char>(c - 'a' + 'A');
    else if (c != '-') k += c;
  }
  return k;
}

class LooseLocale : public PlatformWrapper {
 public:
  LooseLocale() : PlatformWrapper(DefaultPlatform()) {}
  int CompareTextLocale(const std::string& a, const std::string& b) override {
    return LooseKey(a).compare(LooseKey(b));
  }
};

TEST(EntryLookup, TheLocaleComparisonHasTheLastWord) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    std::string query;
    int expected;
  } cases[] = {
      {"unusual name before the indexed one", {"stra\xDF" "e", "STRASSE"}, "strasse", 0},
      {"indexed name before the unusual one", {"STRASSE", "stra\xDF" "e"}, "strasse", 0},
      {"only the unusual name matches", {"x", "stra\xDF" "e"}, "Strasse", 1},
      {"query with an unusual character", {"z", "STRASSE"}, "stra\xDF" "e", 1},
      {"miss in the index, found by the walk", {"z", "x-y"}, "XY", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    WritePackage(dir / "p.plf", c.names);
    LooseLocale locale;
    ScopedPlatform use(locale);
    EXPECT_EQ(TPreLoadReader(dir / "p.plf").FindEntry(c.query), c.expected);
  }
}

}  // namespace
}  // namespace plf
