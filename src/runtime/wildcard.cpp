#include "runtime/wildcard.h"

namespace plf {

bool HasWildcards(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

bool MatchesWildcard(const std::string& pattern, const std::string& name) {
  // Greedy match with one backtrack point: linear in practice, never recursive.
  std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace plf
