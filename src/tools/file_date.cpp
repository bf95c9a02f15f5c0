#include "tools/file_date.h"

#include "runtime/calendar.h"
#include "runtime/platform.h"

namespace plf::tools {

bool FileLocalDate(const std::string& path, CalendarDate* date) {
  FoundItem item;
  if (!Sys().FindFirst(path, &item)) return false;
  std::int64_t local = 0;
  if (!Sys().UtcToLocal(item.lastWriteTime, &local)) return false;
  DateTimeParts parts;
  if (!PartsFromFileTime(local, &parts)) return false;
  date->year = parts.year;
  date->month = parts.month;
  date->day = parts.day;
  return true;
}

}  // namespace plf::tools
