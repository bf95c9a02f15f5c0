#include "text/ini_string_list.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/platform.h"
#include "text/textutil.h"

namespace plf {
namespace {

class IniStringList : public ::testing::Test {
 protected:
  void SetUp() override { BuildCaseTables(); }
  std::string Body(const std::string& section) {
    std::string body = "stale";
    list.ReadSection(section, &body);
    return body;
  }
  std::string Value(const std::string& section, const std::string& key) {
    std::string value = "stale";
    list.ReadString(section, key, &value);
    return value;
  }
  TIniStringList list;
};

TEST_F(IniStringList, BlocksRunFromBracketToBracket) {
  list.LoadText("x=1]");
  EXPECT_EQ(list.Count() + Body("A").size() + Value("", "x").size(), 0u);
  list.LoadText("junk=1\r\n[B]\r\nb=2\r\n\r\n  [A]\nx\n[broken\nk=v\r\n");
  // Sorted by the whole block, folded to capitals ("R" before "]");
  // indentation of the next header stays behind.
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Strings(0) + "|" + list.Strings(1) + "|" + list.Strings(2),
            "[A]\nx\n|[broken\nk=v\r\n|[B]\r\nb=2\r\n\r\n  ");
  EXPECT_EQ(Value("[broken", "k"), "v");
  EXPECT_EQ(Value("B", "junk"), "");
  EXPECT_EQ(Body("B"), "b=2\r\n\r\n  ");
  list.LoadText("[Files]\r\nz=late\r\n[FILES]\r\nb=early\r\n[A]");
  EXPECT_EQ(Body("files"), "b=early\r\n");  // of duplicates, the block that sorts first
  EXPECT_GE(list.FindSection("A"), 0);  // a header that is the whole block
}

TEST_F(IniStringList, SectionNamesMatchHeadersByFoldedPrefix) {
  list.LoadText("  [Verify]\r\nFile=x\r\n[Files]x\r\na=b\r\n[ Options ]\r\n");
  const std::pair<const char*, bool> cases[] = {
      {"verify", true}, {"\tVerify\r\n", true}, {"[Verify]", true}, {"Files", true},   {"[Fil", true},
      {"Fil", false},   {"Options", false},    {"", false},        {"Verif", false}, {"Verify]", false},
  };
  for (const auto& [name, found] : cases) EXPECT_EQ(list.FindSection(name) >= 0, found) << '"' << name << '"';
}

TEST_F(IniStringList, KeyLinesAndTheirNearMisses) {
  const struct {
    const char *body, *key, *value;
  } cases[] = {
      {"k=v", "K", "v"},          {"k=v", "k ", ""},     {" k=v", "k", ""},        {"k =v", "k", ""},
      {"k= v ", "k", " v "},      {"k=1\r\nk=2", "k", "1"}, {"a=b=c", "a", "b=c"}, {"k\r\nkk=5", "k", ""},
      {"kk=5\r\nk=6", "k", "6"},  {"x=1\ry=2", "y", "2"}, {"x=1\n\ry=2", "y", "2"}, {";k=v\nk=w", "k", "w"},
      {"=v", "", ""},             {"\xe8=8bit", "\xe8", "8bit"}, {"k=v", "k=", ""},
  };
  for (const auto& c : cases) {
    list.LoadText(std::string("[S]\r\n") + c.body);
    EXPECT_EQ(Value("S", c.key), c.value) << c.body << " / " << c.key;
  }
}

TEST_F(IniStringList, ScannersStopWhereTheTextEnds) {
  list.LoadText(std::string("[A]\r\nk=v\0w\r\nz=1\r\n[B]\r\nb=2", 26));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(Value("A", "k") + Value("A", "z"), "v");
  EXPECT_EQ(ExtractKeyValue(std::string("k=1\0k=2", 7), "k"), "1");
  // A line cut short by the end: "key" no longer fits with "=".
  const char* text = "ab=1\r\nkey=2";
  EXPECT_EQ(FindKeyValue(text, text + 9, "key"), nullptr);
  EXPECT_EQ(FindKeyValue(text, text + 10, "key"), text + 10);
}

// The body read last is kept for the next key; new text, or a list
// assigned, must not find the old one.
TEST_F(IniStringList, SelectionFollowsTheSectionAndTheText) {
  list.LoadText("[A]\r\nk=1\r\n[B]\r\nk=2\r\n");
  EXPECT_EQ(Value("A", "k") + Value("[b]", "k") + Value("", "k") + Value("a", "k"), "121");
  list.LoadText("[A]\r\nk=new\r\n");
  EXPECT_EQ(Value("B", "k") + Value("A", "k"), "new");
  TStringList source;
  int marker = 0;
  source.Add("[C]\nc=3");
  source.Add("[a]\na=assigned", &marker);
  list.Assign(source);
  list.Assign(list);  // itself: nothing lost
  EXPECT_EQ(Value("A", "a") + Value("C", "c"), "assigned3");
  EXPECT_EQ(list.Objects(0), &marker);  // sorted, with the objects
}

// A collation that first ignores accents and case and only then tells
// accented letters apart, as a multi-level locale comparison does. Sorting by
// it would put "[Fíles]" blocks between the name "[Files]" and its block.
class MultiLevelCollation : public PlatformWrapper {
 public:
  MultiLevelCollation() : PlatformWrapper(DefaultPlatform()) {}
  static std::string Primary(std::string s) {
    for (char& c : s) c = c == '\xed' ? 'I' : static_cast<char>(UpperFoldTable[static_cast<unsigned char>(c)]);
    return s;
  }
  int CompareTextLocale(const std::string& a, const std::string& b) override {
    ++calls;
    const int primary = Primary(a).compare(Primary(b));
    return primary != 0 ? (primary > 0) - (primary < 0) : Inner().CompareTextLocale(a, b);
  }
  int calls = 0;
};

TEST_F(IniStringList, OrderAgreesWithTheHeaderMatchUnderAnyLocale) {
  MultiLevelCollation collation;
  ScopedPlatform scope(collation);
  list.LoadText("[Verify]\r\nzz=1\r\nFile=x\r\n[V\xedrify]\r\na=1\r\n"
                "[Files]\r\nb=1\r\n[F\xedles]\r\na=1\r\n[Fi\xedles]\r\n");
  EXPECT_EQ(Value("Verify", "File") + Value("Files", "b") + Value("F\xedles", "a"), "x11");
  for (int i = 1; i < list.Count(); ++i) EXPECT_LE(CompareFolded(list.Strings(i - 1), list.Strings(i)), 0);
  // Keys, and only keys, go through the locale comparison.
  collation.calls = 0;
  EXPECT_GE(list.FindSection("Files"), 0);
  EXPECT_EQ(collation.calls, 0);
  EXPECT_EQ(Value("Files", "B"), "1");
  EXPECT_GT(collation.calls, 0);
}

}  // namespace
}  // namespace plf
