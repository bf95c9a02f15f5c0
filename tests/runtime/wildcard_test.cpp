#include "runtime/wildcard.h"

#include <gtest/gtest.h>

namespace plf {
namespace {

TEST(Wildcard, WindowsRulesNotShellGlobbing) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*", ".", true},          {"*.tmp", "a.tmp.x", false}, {"a?c", "abc", true},      {"a?c", "ac", false},
      {"[ab]", "a", false},      {"[ab]", "[ab]", true},      {"*a*b*", "xxaxxbxx", true}, {"*a*b", "ab_a", false},
      {"", "", true},            {"abc", "ABC", false},
      // The DOS habits of Windows' search.
      {"README.*", "README", true}, {"*.", "README", true},   {"*.", "a.txt", false},    {"*.", "a.b.", true},
      {"a?.txt", "a.txt", true}, {"??", "a", true},           {"?", "ab", false},        {"a.?", "a", true},
      {"a.?", "a.bc", false},    {"a.", "a", true},           {".*", "a", false},
      // A "*" before a "." stops at the name's last dot, not at the first.
      {"*.?", "a.bc", false},    {"*.b*", "a.b.c", true},     {"*.t?", "a.b.tx", true},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
  EXPECT_TRUE(HasWildcards("a*"));
  EXPECT_FALSE(HasWildcards("a[b]"));
}

}  // namespace
}  // namespace plf
