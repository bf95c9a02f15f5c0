#include "text/ini_string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/platform.h"
#include "text/textutil.h"

namespace plf {
namespace {

std::string Body(TIniStringList& list, const std::string& section) {
  std::string body = "stale";
  list.ReadSection(section, &body);
  return body;
}

std::string Value(TIniStringList& list, const std::string& section, const std::string& key) {
  std::string value = "stale";
  list.ReadString(section, key, &value);
  return value;
}

class IniStringList : public ::testing::Test {
 protected:
  void SetUp() override { BuildCaseTables(); }
  TIniStringList list;
};

TEST_F(IniStringList, TextWithoutHeadersGivesNothing) {
  for (const std::string text : {"", "x=1\r\ny=2", "   \r\n\t", "x=1]"}) {
    list.LoadText(text);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(Body(list, "A") + Value(list, "", "x"), "");
  }
}

TEST_F(IniStringList, BlocksRunFromBracketToBracket) {
  list.LoadText("junk=1\r\n[B]\r\nb=2\r\n\r\n  [A]\nx\n[broken\nk=v\r\n");
  ASSERT_EQ(list.Count(), 3);
  // Sorted by the whole block; indentation of the next header stays behind.
  EXPECT_EQ(list.Strings(0), "[A]\nx\n");
  // Folded to capitals, "R" sorts before "]".
  EXPECT_EQ(list.Strings(1), "[broken\nk=v\r\n");
  EXPECT_EQ(list.Strings(2), "[B]\r\nb=2\r\n\r\n  ");
  EXPECT_EQ(Value(list, "[broken", "k"), "v");
  EXPECT_EQ(Value(list, "B", "k"), "");
  EXPECT_EQ(Value(list, "B", "junk"), "");
  EXPECT_EQ(Body(list, "B"), "b=2\r\n\r\n  ");
  list.LoadText("[Files]\r\nz=late\r\n[FILES]\r\nb=early\r\n[A]");
  EXPECT_EQ(Body(list, "files"), "b=early\r\n");  // of duplicates, the block that sorts first
  EXPECT_GE(list.FindSection("A"), 0);
  EXPECT_EQ(Body(list, "A"), "");
}

TEST_F(IniStringList, SectionNamesMatchHeadersByFoldedPrefix) {
  list.LoadText("  [Verify]\r\nFile=x\r\n[Files]x\r\na=b\r\n[ Options ]\r\n");
  struct Case {
    const char* name;
    bool found;
  } cases[] = {
      {"Verify", true}, {"verify", true},  {" Verify ", true}, {"[Verify]", true}, {"\tVERIFY\r\n", true},
      {"Files", true},  {"[Fil", true},    {"Fil", false},     {"Options", false}, {"[ Options ]", true},
      {"", false},      {"   ", false},    {"[", true},        {"Verif", false},   {"Verify]", false},
  };
  for (const Case& c : cases) EXPECT_EQ(list.FindSection(c.name) >= 0, c.found) << '"' << c.name << '"';
}

TEST_F(IniStringList, KeyLinesAndTheirNearMisses) {
  const struct {
    const char *body, *key, *value;
  } cases[] = {
      {"k=v", "K", "v"}, {"k=v", "k ", ""}, {" k=v", "k", ""}, {"\tk=v", "k", ""}, {"k =v", "k", ""},
      {"k= v ", "k", " v "}, {"k=1\r\nk=2", "k", "1"}, {"a=b=c", "a", "b=c"}, {"k\r\nkk=5", "k", ""},
      {"kk=5\r\nk=6", "k", "6"}, {"k", "k", ""}, {"k=", "k", ""}, {"x=1\ny=2\nz=3", "y", "2"},
      {"x=1\ry=2\rz=3", "y", "2"}, {"x=1\r\ny=2\r\nz=3", "z", "3"}, {"x=1\n\ry=2", "y", "2"}, {";k=v", "k", ""},
      {";k=v\nk=w", "k", "w"}, {"k=v", "", ""}, {"=v", "", ""}, {"k=\xe8\xe1\xff", "k", "\xe8\xe1\xff"},
      {"\xe8=8bit", "\xe8", "8bit"}, {"k=v\r\n", "k\r", ""}, {"k=v", "k=", ""}, {"k", "kk", ""},
  };
  for (const auto& c : cases) {
    list.LoadText(std::string("[S]\r\n") + c.body);
    EXPECT_EQ(Value(list, "S", c.key), c.value) << c.body << " / " << c.key;
  }
}

TEST_F(IniStringList, ScannersStopAtTheFirstNul) {
  const std::string text("[A]\r\nk=v\0w\r\nz=1\r\n[B]\r\nb=2", 26);
  list.LoadText(text);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(Value(list, "A", "k"), "v");
  EXPECT_EQ(Value(list, "A", "z"), "");
  EXPECT_EQ(list.FindSection("B"), -1);

  const std::string body("k=1\0k=2", 7);
  EXPECT_EQ(ExtractKeyValue(body, "k"), "1");
  EXPECT_EQ(ExtractKeyValue(std::string("\0k=1", 4), "k"), "");
}

TEST_F(IniStringList, FindKeyValueNeverLooksPastItsEnd) {
  const std::string text = "ab=1\r\nkey=2";
  const char* start = text.c_str();
  // The second line is cut short by the end: "key" no longer fits with "=".
  EXPECT_EQ(FindKeyValue(start, start + 9, "key"), nullptr);
  EXPECT_EQ(FindKeyValue(start, start + 10, "key"), start + 10);
  EXPECT_EQ(FindKeyValue(start, start + 2, "ab"), nullptr);
  EXPECT_EQ(FindKeyValue(start, start, "ab"), nullptr);
  EXPECT_EQ(FindKeyValue(nullptr, nullptr, "ab"), nullptr);
}

// The body read last is kept for the next key; new text, or a list
// assigned, must not find the old one.
TEST_F(IniStringList, SelectionFollowsTheSectionAndTheText) {
  list.LoadText("[A]\r\nk=1\r\n[B]\r\nk=2\r\n");
  EXPECT_EQ(Value(list, "A", "k") + Value(list, "[b]", "k") + Value(list, "", "k") + Value(list, "a", "k"), "121");
  list.LoadText("[A]\r\nk=new\r\n");
  EXPECT_EQ(Value(list, "B", "k"), "");
  EXPECT_EQ(Value(list, "A", "k"), "new");
  TStringList source;
  int marker = 0;
  source.Add("[C]\nc=3");
  source.Add("[a]\na=assigned", &marker);
  source.Add("[B]\nb=2");
  list.Assign(source);
  EXPECT_EQ(Value(list, "A", "a"), "assigned");
  ASSERT_EQ(list.Count(), 3);  // sorted, with the objects
  EXPECT_EQ(list.Strings(0), "[a]\na=assigned");
  EXPECT_EQ(list.Objects(0), &marker);
  EXPECT_EQ(list.Strings(2), "[C]\nc=3");
  EXPECT_TRUE(list.Sorted());
  list.Assign(list);  // itself: nothing lost
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(Value(list, "C", "c"), "3");
}

// A collation that first ignores accents and case and only then tells
// accented letters apart, as a multi-level locale comparison does. Sorting by
// it would put "[Fíles]" blocks between the name "[Files]" and its block.
class MultiLevelCollation : public PlatformWrapper {
 public:
  MultiLevelCollation() : PlatformWrapper(DefaultPlatform()) {}
  static unsigned char Primary(unsigned char c) {
    if (c == 0xed || c == 0xcd) return 'I';  // í Í
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
  }
  int CompareTextLocale(const std::string& a, const std::string& b) override {
    ++calls;
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
      const int pa = Primary(static_cast<unsigned char>(a[i]));
      const int pb = Primary(static_cast<unsigned char>(b[i]));
      if (pa != pb) return pa < pb ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return Inner().CompareTextLocale(a, b);
  }
  int calls = 0;
};

TEST_F(IniStringList, OrderAgreesWithTheHeaderMatchUnderAnyLocale) {
  MultiLevelCollation collation;
  ScopedPlatform scope(collation);
  list.LoadText(
      "[Verify]\r\nzz=1\r\nFile=x\r\n"
      "[V\xedrify]\r\na=1\r\n"
      "[Files]\r\nb=1\r\n"
      "[F\xedles]\r\na=1\r\n"
      "[Fi\xedles]\r\n");
  EXPECT_EQ(Value(list, "Verify", "File"), "x");
  EXPECT_EQ(Value(list, "Files", "b"), "1");
  EXPECT_EQ(Value(list, "F\xedles", "a"), "1");
  for (int i = 1; i < list.Count(); ++i) EXPECT_LE(CompareFolded(list.Strings(i - 1), list.Strings(i)), 0);

  // Keys, and only keys, go through the locale comparison.
  collation.calls = 0;
  EXPECT_GE(list.FindSection("Files"), 0);
  EXPECT_EQ(collation.calls, 0);
  EXPECT_EQ(Value(list, "Files", "B"), "1");
  EXPECT_GT(collation.calls, 0);
}

TEST_F(IniStringList, ManySectionsAreEachFound) {
  std::string text;
  for (int i = 0; i < 500; ++i) {
    const std::string n = std::to_string(i * 7919 % 500);
    text += "[Sec" + n + "]\r\nkey=" + n + "\r\n";
    if (i % 3 == 0) text += "[sec" + n + "x]\r\nkey=other\r\n";  // a longer name with the same start
  }
  list.LoadText(text);
  for (int i = 0; i < 500; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_EQ(Value(list, "SEC" + n, "KEY"), n);
  }
}

}  // namespace
}  // namespace plf
