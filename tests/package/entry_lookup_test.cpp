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

// A locale that compares the keys that `key` makes of the names.
class KeyedLocale : public PlatformWrapper {
 public:
  explicit KeyedLocale(std::string (*key)(const std::string&)) : PlatformWrapper(DefaultPlatform()), key_(key) {}
  int CompareTextLocale(const std::string& a, const std::string& b) override { return key_(a).compare(key_(b)); }

 private:
  std::string (*key_)(const std::string&);
};

// Calls more names equal than letter folding does: "\xDF" ("ß") compares as
// "SS", byte 0x01 and the hyphen are ignored.
std::string LooseKey(const std::string& s) {
  std::string k;
  for (char c : s) {
    if (c == '\xDF') k += "SS";
    else if (c != '\x01' && c != '-') k += Upper(std::string(1, c));
  }
  return k;
}

// "i" and "I" are different letters (as dotted and dotless i are in
// Turkish); every other letter folds.
std::string DottedIKey(const std::string& s) {
  std::string k = s;
  for (char& c : k)
    if (c != 'i') c = Upper(std::string(1, c))[0];
  return k;
}

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

TEST(EntryLookup, TheLocaleComparisonHasTheLastWord) {
  struct Case {
    const char* what;
    std::string (*key)(const std::string&);
    std::vector<std::string> names;
    std::string query;
    int expected;
  } cases[] = {
      {"unusual name before the indexed one", LooseKey, {"stra\xDF" "e", "STRASSE"}, "strasse", 0},
      {"indexed name before the unusual one", LooseKey, {"STRASSE", "stra\xDF" "e"}, "strasse", 0},
      {"only the unusual name matches", LooseKey, {"x", "stra\xDF" "e"}, "Strasse", 1},
      {"ignored control character", LooseKey, {"y", "a\x01" "b", "AB"}, "ab", 1},
      {"query with an unusual character", LooseKey, {"z", "STRASSE"}, "stra\xDF" "e", 1},
      {"miss in the index, found by the walk", LooseKey, {"z", "x-y"}, "XY", 1},
      {"no such name", LooseKey, {"stra\xDF" "e", "a\x01" "b"}, "strase", -1},
      {"file", DottedIKey, {"FILE", "file", "Data"}, "file", 1},
      {"FILE", DottedIKey, {"FILE", "file", "Data"}, "FILE", 0},
      {"FiLE", DottedIKey, {"FILE", "file", "Data"}, "FiLE", 1},
      {"fILE", DottedIKey, {"FILE", "file", "Data"}, "fILE", 0},
      {"data", DottedIKey, {"FILE", "file", "Data"}, "data", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WritePackage(dir / "p.plf", c.names);
    KeyedLocale locale(c.key);
    ScopedPlatform use(locale);
    TPreLoadReader reader(dir / "p.plf");
    EXPECT_EQ(reader.FindEntry(c.query), c.expected);
    EXPECT_EQ(Walk(reader, c.query), c.expected);
  }
}

}  // namespace
}  // namespace plf::test
