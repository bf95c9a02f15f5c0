// Where an entry lands when it is written out as a file below a folder.
// Entry names are Windows-style paths ("bin\app.exe"), made by any tool, so
// nothing in them is trusted: the name is cut into folder parts at "\" and
// "/", a leading drive and leading separators are dropped (an absolute name
// lands inside the folder), and every part is made acceptable to Windows,
// whose rules are the strictest of the hosts: the characters < > : " | ? *
// and control characters become "_", trailing dots and blanks become "_",
// and device names (CON, NUL, COM1...) get a "_" in front. The same name
// gives the same parts on every host.
#pragma once

#include <string>
#include <vector>

namespace plf::tools {

// False, with *problem set to one sentence, when the name climbs out of the
// folder (a ".." part) or names no file at all.
bool SafeRelativeParts(const std::string& entryName, std::vector<std::string>* parts, std::string* problem);

// The parts joined with `separator`.
std::string JoinParts(const std::vector<std::string>& parts, char separator);

// Parts compared as Windows compares names: ASCII letter case ignored.
bool SamePart(const std::string& a, const std::string& b);

}  // namespace plf::tools
