#include "tools/folder_walk.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace plf::tools {

namespace fs = std::filesystem;

bool ListFilesBelow(const std::string& folder, std::vector<FolderFile>* files, std::string* problem) {
  files->clear();
  try {
    const fs::path root(folder);
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    if (ec) {
      *problem = ec.message();
      return false;
    }
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
      if (ec) {
        *problem = ec.message();
        return false;
      }
      std::error_code statusError;
      if (!fs::is_regular_file(it->status(statusError))) continue;  // links to files count, folders are walked
      std::string relative;
      for (const fs::path& part : it->path().lexically_relative(root)) {
        if (!relative.empty()) relative += '\\';
        relative += part.string();
      }
      files->push_back({relative, it->path().string()});
    }
    if (ec) {
      *problem = ec.message();
      return false;
    }
  } catch (const std::exception& e) {
    *problem = e.what();
    return false;
  }
  std::sort(files->begin(), files->end(),
            [](const FolderFile& a, const FolderFile& b) { return a.relativeName < b.relativeName; });
  return true;
}

}  // namespace plf::tools
