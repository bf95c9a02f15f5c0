// The find-first operation's name matching: "*" matches any run of
// characters, "?" any one character; everything else, "[" included, matches
// itself exactly.
#pragma once

#include <string>

namespace plf {

bool HasWildcards(const std::string& name);
bool MatchesWildcard(const std::string& pattern, const std::string& name);

}  // namespace plf
