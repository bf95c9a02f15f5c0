// Plain proleptic Gregorian arithmetic for the three date forms the system
// meets: OLE date-time values (days since 30 December 1899 as a double), file
// times (100 ns steps since 1 January 1601) and DOS date and time words. No
// time_t, no zone: the local/universal step belongs to the platform layer.
#pragma once

#include <cstdint>

namespace plf {

struct DateTimeParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);  // 0 for a month outside 1..12
bool IsValidDate(int year, int month, int day);

// Days since 1 January 1970 for a valid civil date, and back.
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int* year, int* month, int* day);

// OLE date of a calendar day at midnight; false for a day that does not
// exist or a year outside 1..9999.
bool EncodeDate(int year, int month, int day, double* result);
// Splits a non-negative OLE date-time, rounded to the nearest millisecond;
// false for a negative, non-finite or out-of-range value.
bool DecodeDateTime(double value, DateTimeParts* parts);

// File times from and to calendar fields; false when out of range.
bool FileTimeFromParts(const DateTimeParts& parts, std::int64_t* fileTime);
bool PartsFromFileTime(std::int64_t fileTime, DateTimeParts* parts);

// DOS date and time words: years 1980 to 2107, seconds in two-second steps.
bool FileTimeToDos(std::int64_t fileTime, std::uint16_t* date, std::uint16_t* time);
bool DosToFileTime(std::uint16_t date, std::uint16_t time, std::int64_t* fileTime);

}  // namespace plf
