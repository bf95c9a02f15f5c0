// The find-first operation's name matching, by the rules of Windows' own
// search (which keeps the DOS habits): "*" matches any run of characters;
// "?" matches one character, or none where the name's part ends (at a "."
// or the end); a "." before "*" or "?" or at the end of the pattern also
// matches the end of a name without one, so "README.*" finds "README"; a
// "*" just before a "." stops at the name's last dot. "*.*" matches every
// name. Everything else, "[" included, matches itself exactly.
#pragma once

#include <string>

namespace plf {

bool HasWildcards(const std::string& name);
bool MatchesWildcard(const std::string& pattern, const std::string& name);

}  // namespace plf
