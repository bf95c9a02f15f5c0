#include "driver/backup_name.h"

#include "runtime/platform.h"
#include "streams/dir_helpers.h"

namespace plf {

namespace {

// Position of the dot that starts the extension, or npos when the last dot
// does not come after the last delimiter.
std::string::size_type ExtensionDot(const std::string& path) {
  const std::string::size_type cut = path.find_last_of(std::string(".") + Sys().PathDelimiters());
  return cut != std::string::npos && path[cut] == '.' ? cut : std::string::npos;
}

void ReplaceFirstStar(std::string* text, const std::string& by) {
  const std::string::size_type star = text->find('*');
  if (star != std::string::npos) text->replace(star, 1, by);
}

}  // namespace

void MakeBackupName(const std::string& target, const std::string& pattern, std::string* backup) {
  const std::string::size_type targetDot = ExtensionDot(target);
  const std::string targetStem = target.substr(0, targetDot);
  const std::string targetExt = targetDot == std::string::npos ? std::string() : target.substr(targetDot + 1);

  const std::string::size_type patternDot = ExtensionDot(pattern);
  std::string stem = pattern.substr(0, patternDot);
  std::string ext = patternDot == std::string::npos ? std::string() : pattern.substr(patternDot);

  ReplaceFirstStar(&stem, targetStem);
  ReplaceFirstStar(&ext, targetExt);
  *backup = stem + ext;
}

void EnsureTargetFolder(const std::string& target) {
  std::string folder = FolderPart(target);
  if (folder.empty()) return;
  if (folder.back() == Sys().PathSeparator()) folder.pop_back();
  if (!folder.empty()) MakeDirectoryPath(folder);
}

}  // namespace plf
