// FindEntry answers from an index built when the package is opened, yet
// exactly as a walk through the directory with the locale comparison would:
// the first entry that the comparison calls equal, or -1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace plf::test {
namespace {

std::string Record(const std::string& name) {
  RawRecord r;
  r.name = name;
  return RecordBytes(r);
}

void WritePackage(const std::string& path, const std::vector<std::string>& names) {
  std::vector<std::string> records;
  records.reserve(names.size());
  for (const std::string& name : names) records.push_back(Record(name));
  WriteFileBytes(path, PackageBytes("", records));
}

// What FindEntry must answer.
int Walk(const TPreLoadReader& reader, const std::string& name) {
  for (int i = 0; i < reader.EntryCount(); ++i)
    if (Sys().CompareTextLocale(reader.EntryName(i), name) == 0) return i;
  return -1;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// A locale that calls more names equal than letter folding does: "ß" (byte
// 0xDF) compares as "SS", byte 0x01 and the hyphen are ignored.
class LooseLocale : public PlatformWrapper {
 public:
  LooseLocale() : PlatformWrapper(DefaultPlatform()) {}
  int CompareTextLocale(const std::string& a, const std::string& b) override {
    const std::string ka = Key(a), kb = Key(b);
    return ka < kb ? -1 : ka > kb ? 1 : 0;
  }

 private:
  static std::string Key(const std::string& s) {
    std::string k;
    for (char c : s) {
      if (c == '\x01' || c == '-') continue;
      if (c == '\xDF') {
        k += "SS";
        continue;
      }
      k += Upper(std::string(1, c));
    }
    return k;
  }
};

// A locale in which "i" and "I" are different letters (as dotted and
// dotless i are in Turkish); every other letter folds.
class DottedILocale : public PlatformWrapper {
 public:
  DottedILocale() : PlatformWrapper(DefaultPlatform()) {}
  int CompareTextLocale(const std::string& a, const std::string& b) override {
    const std::string ka = Key(a), kb = Key(b);
    return ka < kb ? -1 : ka > kb ? 1 : 0;
  }

 private:
  static std::string Key(std::string s) {
    for (char& c : s)
      if (c >= 'a' && c <= 'z' && c != 'i') c = static_cast<char>(c - 'a' + 'A');
    return s;
  }
};

TEST(EntryLookup, AgreesWithTheWalkOverManyNames) {
  TempDir dir;
  std::vector<std::string> names;
  for (int i = 0; i < 400; ++i) {
    names.push_back("Folder" + std::to_string(i % 37) + "\\file_" + std::to_string(i) + ".Dat");
    if (i % 7 == 0) names.push_back(Upper(names.back()));  // a later duplicate, case apart
  }
  names.push_back("");
  WritePackage(dir / "p.plf", names);
  TPreLoadReader reader(dir / "p.plf");

  std::vector<std::string> queries{"", "x", "FOLDER0\\FILE_0.DA", "folder0\\file_0.dat "};
  for (const std::string& name : names) {
    queries.push_back(name);
    queries.push_back(Upper(name));
    queries.push_back(name + "x");
  }
  for (const std::string& q : queries) ASSERT_EQ(reader.FindEntry(q), Walk(reader, q)) << q;
}

TEST(EntryLookup, LocaleEqualitiesBeyondLetterCase) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    std::string query;
    int expected;
  } cases[] = {
      {"unusual name before the indexed one", {"stra\xDF" "e", "STRASSE"}, "strasse", 0},
      {"indexed name before the unusual one", {"STRASSE", "stra\xDF" "e"}, "strasse", 0},
      {"only the unusual name matches", {"x", "stra\xDF" "e"}, "Strasse", 1},
      {"ignored control character", {"y", "a\x01" "b", "AB"}, "ab", 1},
      {"query with an unusual character", {"z", "STRASSE"}, "stra\xDF" "e", 1},
      {"miss in the index, found by the walk", {"z", "x-y"}, "XY", 1},
      {"no such name", {"stra\xDF" "e", "a\x01" "b"}, "strase", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WritePackage(dir / "p.plf", c.names);
    LooseLocale locale;
    ScopedPlatform use(locale);
    TPreLoadReader reader(dir / "p.plf");
    EXPECT_EQ(reader.FindEntry(c.query), c.expected);
    EXPECT_EQ(Walk(reader, c.query), c.expected);
  }
}

TEST(EntryLookup, TheLocaleComparisonHasTheLastWord) {
  TempDir dir;
  WritePackage(dir / "p.plf", {"FILE", "file", "Data"});
  DottedILocale locale;
  ScopedPlatform use(locale);
  TPreLoadReader reader(dir / "p.plf");
  struct Case {
    const char* query;
    int expected;
  } cases[] = {{"file", 1}, {"FILE", 0}, {"FiLE", 1}, {"fILE", 0}, {"fiLe", 1}, {"data", 2}};
  for (const Case& c : cases) EXPECT_EQ(reader.FindEntry(c.query), c.expected) << c.query;
}

}  // namespace
}  // namespace plf::test
