#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <stdexcept>


namespace fs = std::filesystem;

namespace plf::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::error_code ec;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path p =
        fs::temp_directory_path() / ("plf-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    if (fs::create_directory(p, ec)) path_ = p.string();
  }
  if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files left by a test must not stop the clean-up.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::operator/(const std::string& relative) const {
  return (fs::path(path_) / fs::path(relative).make_preferred()).string();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Noise(std::size_t size, std::uint32_t seed) {
  std::string s(size, ' ');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>('a' + ((seed >> 16) % 26));
  }
  return s;
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

void MakeReadOnly(const std::string& path, bool readOnly) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

DateTimeParts LocalWriteTime(const std::string& path) {
  FoundItem item;
  DateTimeParts parts;
  std::int64_t local = 0;
  EXPECT_TRUE(Sys().FindFirst(path, &item)) << path;
  EXPECT_TRUE(Sys().UtcToLocal(item.lastWriteTime, &local));
  EXPECT_TRUE(PartsFromFileTime(local, &parts));
  return parts;
}

void SetNoonWriteTime(const std::string& path, int year, int month, int day) {
  DateTimeParts parts;
  parts.year = year;
  parts.month = month;
  parts.day = day;
  parts.hour = 12;
  std::int64_t utc = 0;
  ASSERT_TRUE(FileTimeFromParts(parts, &utc));
  const FileHandle h = Sys().OpenFile(path, Access::ReadWrite, Share::None, Disposition::OpenExisting);
  ASSERT_NE(h, kInvalidHandle) << path;
  EXPECT_TRUE(Sys().SetLastWriteTime(h, utc));
  Sys().CloseFile(h);
}

}  // namespace plf::test

// Last: windows.h names macros after platform operations (DeleteFile,
// MoveFile) that the code above calls.
#ifdef _WIN32
#include <windows.h>
#endif

bool plf::test::UnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}
