#include "runtime/calendar.h"

#include <cmath>

namespace plf {

namespace {
constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kTicksPerMs = 10000;
// 30 December 1899 and 1 January 1601, as days since 1 January 1970.
constexpr std::int64_t kOleEpochDays = -25569;
constexpr std::int64_t kFileTimeEpochDays = -134774;
}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && day >= 1 && day <= DaysInMonth(year, month);
}

std::int64_t DaysFromCivil(int year, int month, int day) {
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

bool EncodeDate(int year, int month, int day, double* result) {
  if (!IsValidDate(year, month, day)) return false;
  *result = static_cast<double>(DaysFromCivil(year, month, day) - kOleEpochDays);
  return true;
}

bool DecodeDateTime(double value, DateTimeParts* parts) {
  // 2958466 is 1 January 10000: beyond it no date exists.
  if (!std::isfinite(value) || value < 0 || value >= 2958466.0) return false;
  const std::int64_t total = std::llround(value * static_cast<double>(kMsPerDay));
  const std::int64_t days = total / kMsPerDay;
  std::int64_t ms = total % kMsPerDay;
  CivilFromDays(days + kOleEpochDays, &parts->year, &parts->month, &parts->day);
  parts->hour = static_cast<int>(ms / 3600000);
  ms %= 3600000;
  parts->minute = static_cast<int>(ms / 60000);
  ms %= 60000;
  parts->second = static_cast<int>(ms / 1000);
  parts->millisecond = static_cast<int>(ms % 1000);
  return parts->year <= 9999;
}

bool FileTimeFromParts(const DateTimeParts& p, std::int64_t* fileTime) {
  if (p.year < 1601 || !IsValidDate(p.year, p.month, p.day)) return false;
  if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59 ||
      p.millisecond < 0 || p.millisecond > 999)
    return false;
  const std::int64_t days = DaysFromCivil(p.year, p.month, p.day) - kFileTimeEpochDays;
  const std::int64_t ms = ((p.hour * 60 + p.minute) * 60 + p.second) * 1000 + p.millisecond;
  *fileTime = (days * kMsPerDay + ms) * kTicksPerMs;
  return true;
}

bool PartsFromFileTime(std::int64_t fileTime, DateTimeParts* p) {
  if (fileTime < 0) return false;
  std::int64_t ms = fileTime / kTicksPerMs;
  const std::int64_t days = ms / kMsPerDay;
  ms %= kMsPerDay;
  CivilFromDays(days + kFileTimeEpochDays, &p->year, &p->month, &p->day);
  p->hour = static_cast<int>(ms / 3600000);
  p->minute = static_cast<int>(ms / 60000 % 60);
  p->second = static_cast<int>(ms / 1000 % 60);
  p->millisecond = static_cast<int>(ms % 1000);
  return true;
}

bool FileTimeToDos(std::int64_t fileTime, std::uint16_t* date, std::uint16_t* time) {
  DateTimeParts p;
  if (!PartsFromFileTime(fileTime, &p) || p.year < 1980 || p.year > 2107) return false;
  *date = static_cast<std::uint16_t>(p.day + p.month * 32 + (p.year - 1980) * 512);
  *time = static_cast<std::uint16_t>(p.second / 2 + p.minute * 32 + p.hour * 2048);
  return true;
}

bool DosToFileTime(std::uint16_t date, std::uint16_t time, std::int64_t* fileTime) {
  DateTimeParts p;
  p.year = 1980 + (date >> 9);
  p.month = (date >> 5) & 15;
  p.day = date & 31;
  p.hour = time >> 11;
  p.minute = (time >> 5) & 63;
  p.second = (time & 31) * 2;
  return FileTimeFromParts(p, fileTime);
}

}  // namespace plf
