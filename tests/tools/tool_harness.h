// Shared by the tests of the package tool: running a command in-process,
// building packages from literal entries, and photographing a folder tree
// (contents, sizes, times, permissions) to prove that nothing changed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "package/records.h"
#include "tools/cli.h"

namespace plf {
class TPreLoadReader;
}

namespace plf::tools::test {

struct Result {
  int code;
  std::string out;
  std::string err;
};

Result Tool(const std::vector<std::string>& args, const ToolEnvironment& env = ToolEnvironment());

std::vector<std::string> Lines(const std::string& text);

struct Entry {
  std::string name;
  std::string data;
  PackedDate date = PackedDate::None();
};

// A package with the entries in the order given (SCRIPT among them, when
// wanted), written by the package writer.
void WritePackage(const std::string& path, const std::vector<Entry>& entries);
PackedDate Date(int year, int month, int day);

// The whole uncompressed bytes of an entry; "(missing)" or "(not opened)".
std::string ReadEntry(TPreLoadReader& reader, const std::string& name);

// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);

// Everything below a folder that an installer could change.
struct TreeItem {
  bool folder = false;
  std::string bytes;
  std::int64_t modified = 0;  // nanoseconds of the last write
  unsigned permissions = 0;
  bool operator==(const TreeItem& o) const {
    return folder == o.folder && bytes == o.bytes && modified == o.modified && permissions == o.permissions;
  }
};
using Tree = std::map<std::string, TreeItem>;  // by path relative to the folder, "/" between parts
Tree Snapshot(const std::string& folder);

}  // namespace plf::tools::test
