#include "tool_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "runtime/stream.h"
#include "support/test_support.h"
#include "tools/commands.h"

namespace fs = std::filesystem;

namespace plf::tools::test {

Result Tool(const std::vector<std::string>& args, const ToolEnvironment& env) {
  std::ostringstream out, err;
  const int code = RunTool(args, out, err, env);
  return {code, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void WritePackage(const std::string& path, const std::vector<Entry>& entries) {
  TPackageWriter writer(path);
  for (const Entry& e : entries) writer.AddBuffer(e.name, e.data.data(), e.data.size(), e.date);
  writer.Finish();
}

PackedDate Date(int year, int month, int day) {
  PackedDate date;
  EXPECT_TRUE(PackedDate::FromCalendar(year, month, day, &date));
  return date;
}

std::string ReadEntry(TPreLoadReader& reader, const std::string& name) {
  const int index = reader.FindEntry(name);
  if (index < 0) return "(missing)";
  std::unique_ptr<TStream> s;
  std::int32_t size = 0;
  if (!reader.OpenEntry(index, &s, &size)) return "(not opened)";
  std::string text(static_cast<std::size_t>(size), '\0');
  if (size > 0) s->ReadExact(&text[0], size);
  return text;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

Tree Snapshot(const std::string& folder) {
  Tree tree;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    TreeItem t;
    t.folder = item.is_directory();
    if (!t.folder) t.bytes = plf::test::ReadFileBytes(item.path().string());
    t.modified = static_cast<std::int64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(fs::last_write_time(item.path()).time_since_epoch())
            .count());
    t.permissions = static_cast<unsigned>(item.status().permissions());
    tree[item.path().lexically_relative(folder).generic_string()] = t;
  }
  return tree;
}

}  // namespace plf::tools::test
