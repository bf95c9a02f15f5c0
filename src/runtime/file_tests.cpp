#include "runtime/file_tests.h"

#include "runtime/calendar.h"
#include "runtime/platform.h"

namespace plf {

bool FileExists(const std::string& path) {
  FoundItem item;
  if (!Sys().FindFirst(path, &item) || item.IsDirectory()) return false;
  std::int64_t local = 0;
  std::uint16_t date = 0, time = 0;
  return Sys().UtcToLocal(item.lastWriteTime, &local) && FileTimeToDos(local, &date, &time);
}

bool FilePresent(const std::string& path) {
  FoundItem item;
  return Sys().FindFirst(path, &item) && !item.IsDirectory();
}

}  // namespace plf
