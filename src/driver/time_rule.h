// The time of day of [Options] TimeStamp: "[marker] h[:m[:s]][<dec>ms] [marker]"
// with ":" as the separator, the locale's decimal separator before the
// milliseconds and its morning/afternoon designators (or "AM"/"PM", case
// ignored) before or after the numbers. Blanks (spaces) may stand around
// every part. With a marker the hour is 1..12 (12 counts as 0); limits are
// 23:59:59 and 999 ms; a number of 1000 or more does not parse.
#pragma once

#include <string>

#include "runtime/platform.h"

namespace plf {

inline constexpr const char kSInvalidTime[] = "'%s' is not a valid time";

// The time as a fraction of a day; false when the whole text is not one
// time of day. An empty designator or separator of the locale does not count.
bool ParseTimeOfDay(const std::string& trimmed, const LocaleTimeFormat& locale, double* fraction);

// The same under Sys().TimeFormat(); raises EConvertError "'%s' is not a
// valid time" with the value.
double StrToTimeOfDay(const std::string& trimmed);

}  // namespace plf
