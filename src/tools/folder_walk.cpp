#include "tools/folder_walk.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "runtime/code_page.h"
#include "runtime/platform.h"

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
  return ToUtf8(Sys().AnsiCodePage(), ansi);
#endif
}

// False when the code page in force has no character for one in the name.
bool AnsiName(const fs::path& path, std::string* ansi) {
#ifdef _WIN32
  *ansi = path.string();
  return true;
#else
  return FromUtf8(Sys().AnsiCodePage(), path.native(), ansi) || !IsValidUtf8(path.native());
#endif
}

std::string Shown(const fs::path& path) {
#ifdef _WIN32
  return Sys().AnsiToUtf8(path.string());
#else
  return path.native();
#endif
}

std::string KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo: return "a named pipe (FIFO)";
    case fs::file_type::socket: return "a socket";
    case fs::file_type::block:
    case fs::file_type::character: return "a device";
    case fs::file_type::regular:
    case fs::file_type::directory: return std::string();
    default: return "neither a file nor a folder";
  }
}

std::string KindAt(const fs::path& path) {
  std::error_code ec;
  const fs::file_status own = fs::symlink_status(path, ec);
  if (ec) return std::string();  // gone, or unreadable: opening it will say so
  if (!fs::is_symlink(own)) return KindOf(own.type());
  const fs::file_status target = fs::status(path, ec);
  if (ec || !fs::exists(target)) return "a symbolic link to a missing target";
  if (fs::is_directory(target)) return "a symbolic link to a folder";
  return KindOf(target.type());
}

}  // namespace

std::string UnstorableKind(const std::string& path) { return KindAt(fs::path(ToOsName(path))); }

bool ListFilesBelow(const std::string& folder, std::vector<FolderFile>* files, std::vector<Unstorable>* unstorable,
                    std::string* problem) {
  files->clear();
  try {
    const fs::path root(ToOsName(folder));
    std::error_code ec;
    if (fs::is_empty(root, ec) && !ec) unstorable->push_back({Shown(root), "an empty folder", false});
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
      std::string relative;
      bool spelt = true;
      for (const fs::path& part : it->path().lexically_relative(root)) {
        std::string ansi;
        spelt = spelt && AnsiName(part, &ansi);
        if (!relative.empty()) relative += '\\';
        relative += ansi;
      }
      if (!spelt) {
        unstorable->push_back({Shown(it->path()),
                               "a name with a character that code page " + std::to_string(Sys().AnsiCodePage()) +
                                   " has no place for",
                               true});
        it.disable_recursion_pending();
        continue;
      }
      const std::string kind = KindAt(it->path());
      if (!kind.empty()) {
        unstorable->push_back({Shown(it->path()), kind, false});
        continue;
      }
      std::error_code statusError;
      if (fs::is_directory(it->symlink_status(statusError))) {
        if (fs::is_empty(it->path(), statusError) && !statusError)
          unstorable->push_back({Shown(it->path()), "an empty folder", false});
        continue;
      }
      std::string path;
      AnsiName(it->path(), &path);
      files->push_back({relative, path});
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
