// Shared by the tests of the package tool: running a command in-process,
// building packages from literal entries, and photographing a folder tree
// (contents, times, permissions) to prove that nothing changed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "package/records.h"
#include "runtime/stream.h"
#include "support/test_support.h"
#include "tools/cli.h"
#include "tools/commands.h"

namespace plf::tools::test {

struct Result {
  int code;
  std::string out;
  std::string err;
};

inline Result Tool(const std::vector<std::string>& args, const ToolEnvironment& env = ToolEnvironment()) {
  std::ostringstream out, err;
  const int code = RunTool(args, out, err, env);
  return {code, out.str(), err.str()};
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Entry {
  std::string name;
  std::string data;
  PackedDate date = PackedDate::None();
};

// A package with the entries in the order given (SCRIPT among them, when
// wanted), written by the package writer.
inline void WritePackage(const std::string& path, const std::vector<Entry>& entries) {
  TPackageWriter writer(path);
  for (const Entry& e : entries) writer.AddBuffer(e.name, e.data.data(), e.data.size(), e.date);
  writer.Finish();
}

inline PackedDate Date(int year, int month, int day) {
  PackedDate date;
  EXPECT_TRUE(PackedDate::FromCalendar(year, month, day, &date));
  return date;
}

// The whole uncompressed bytes of an entry, or "(missing)".
inline std::string ReadEntry(TPreLoadReader& reader, const std::string& name) {
  std::unique_ptr<TStream> s;
  std::int32_t size = 0;
  const int index = reader.FindEntry(name);
  if (index < 0 || !reader.OpenEntry(index, &s, &size)) return "(missing)";
  std::string text(static_cast<std::size_t>(size), '\0');
  if (size > 0) s->ReadExact(&text[0], size);
  return text;
}

// The names in a folder, sorted.
inline std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Everything below a folder that an installer could change, by path
// relative to the folder: the bytes (none for a folder), the time of the
// last write and the permissions.
using Tree = std::map<std::string, std::string>;
inline Tree Snapshot(const std::string& folder) {
  Tree tree;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    const auto written = std::filesystem::last_write_time(item.path()).time_since_epoch();
    tree[item.path().lexically_relative(folder).generic_string()] =
        (item.is_directory() ? "(folder)" : plf::test::ReadFileBytes(item.path().string())) + " " +
        std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(written).count()) + " " +
        std::to_string(static_cast<unsigned>(item.status().permissions()));
  }
  return tree;
}

}  // namespace plf::tools::test
