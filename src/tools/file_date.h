// The local calendar date of a file's last modification.
#pragma once

#include <string>

namespace plf::tools {

struct CalendarDate {
  int year = 0, month = 0, day = 0;
};

// False when nothing is found at the path, or the time cannot be converted.
bool FileLocalDate(const std::string& path, CalendarDate* date);

}  // namespace plf::tools
