#include "streams/dir_helpers.h"

#include <vector>

#include "runtime/platform.h"

namespace plf {

std::string FolderPart(const std::string& path) {
  const std::string::size_type cut = path.find_last_of(Sys().PathDelimiters());
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool IsDirectory(const std::string& path) {
  const std::uint32_t attributes = Sys().GetAttributes(path);
  return attributes != kInvalidAttributes && (attributes & kAttrDirectory) != 0;
}

void MakeDirectoryPath(const std::string& dir) {
  const char* delimiters = Sys().PathDelimiters();
  const char separator = Sys().PathSeparator();
  // Climb from dir towards the root, noting each level that is to be made,
  // then make them top down. The levels are prefixes of dir, so one buffer
  // serves every call however deep the path is.
  std::vector<std::size_t> toCreate;
  std::string level;
  level.reserve(dir.size());
  std::size_t length = dir.size();
  while (length > 0) {
    if (dir[length - 1] == separator) --length;  // one only: a second stays
    if (length < 3) break;
    level.assign(dir, 0, length);
    if (IsDirectory(level)) break;
    const std::size_t cut = level.find_last_of(delimiters);
    const std::size_t parentLength = cut == std::string::npos ? 0 : cut + 1;
    if (parentLength == length) break;  // still ends in a delimiter
    toCreate.push_back(length);
    length = parentLength;
  }
  for (auto it = toCreate.rbegin(); it != toCreate.rend(); ++it) {
    level.assign(dir, 0, *it);
    Sys().CreateDirectory(level);
  }
}

}  // namespace plf
