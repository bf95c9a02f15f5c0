// The last-write time of an installed file: the entry's date plus the
// TimeStamp time, as local time at DOS resolution (two-second steps,
// years 1980 to 2099).
#pragma once

#include <cstdint>
#include <string>

namespace plf {

// The DOS date (high word) and time (low word) of a date-time value, brought
// to the nearest millisecond first; 0 for a year outside 1980..2099 or a
// value that is no date.
std::uint32_t StampToDos(double stamp);

// The file time (UTC) that the stamp, taken as local time, sets; false when
// it sets none (not greater than 0, no DOS date, no such local time).
bool StampFileTime(double stamp, std::int64_t* utc);

// Sets only the last-write time of an existing file, the stamp taken as
// local time. Nothing for a stamp not greater than 0; the first step that
// fails (open, conversion, zone, write) ends it silently. Never raises.
void SetFileStamp(const std::string& path, double stamp);

}  // namespace plf
