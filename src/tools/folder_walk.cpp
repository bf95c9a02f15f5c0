#include "tools/folder_walk.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "runtime/code_page.h"

namespace plf::tools {

namespace fs = std::filesystem;

namespace {

// The standard library names files as the host does: UTF-8 on POSIX, the
// ANSI code page on Windows; the platform layer and the entry names take
// the ANSI code page.
std::string ToOsName(const std::string& ansi) {
#ifdef _WIN32
  return ansi;
#else
  return ToUtf8(kDefaultCodePage, ansi);
#endif
}

std::string AnsiName(const fs::path& path) {
#ifdef _WIN32
  return path.string();
#else
  return FromUtf8Lossy(kDefaultCodePage, path.native());
#endif
}

}  // namespace

bool ListFilesBelow(const std::string& folder, std::vector<FolderFile>* files, std::string* problem) {
  files->clear();
  try {
    const fs::path root(ToOsName(folder));
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
        relative += AnsiName(part);
      }
      files->push_back({relative, AnsiName(it->path())});
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
