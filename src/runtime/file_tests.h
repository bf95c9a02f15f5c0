// The two existence tests the driver and the streams decide by.
#pragma once

#include <string>

namespace plf {

// True when the find-first search finds an item, the first item is not a
// folder, and its last-write time in local time is a DOS date (1980-2107).
// The path may hold wildcards.
bool FileExists(const std::string& path);

// True when an item that is not a folder stands at the path itself (no
// wildcards).
bool FilePresent(const std::string& path);

}  // namespace plf
