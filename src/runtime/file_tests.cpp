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

// The literal name: "?" and "*" are file-name characters on POSIX, and on
// Windows no file can bear them, so a search would only find other files.
bool FilePresent(const std::string& path) {
  const std::uint32_t attributes = Sys().GetAttributes(path);
  return attributes != kInvalidAttributes && (attributes & kAttrDirectory) == 0;
}

}  // namespace plf
