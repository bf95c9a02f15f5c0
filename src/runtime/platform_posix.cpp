// POSIX implementation of the platform layer. Windows semantics that the
// system relies on are reproduced where POSIX differs: rename never replaces,
// delete refuses folders and read-only files, read-only means "no write bit",
// the find-first search keeps Windows' own rules, and names and texts are in
// code page 1250, as on a Czech Windows, and UTF-8 only towards the system.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/statfs.h>
#endif
#include <sys/utsname.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/calendar.h"
#include "runtime/code_page.h"
#include "runtime/flush_policy.h"
#include "runtime/platform.h"
#include "runtime/resources.h"
#include "runtime/wildcard.h"

namespace plf {

namespace {

constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;  // 1970 in file time
constexpr std::int64_t kTicksPerSecond = 10000000;

constexpr std::int64_t kUnixEpochSeconds = kUnixEpochTicks / kTicksPerSecond;

int Fd(FileHandle h) { return static_cast<int>(h); }

// The program's paths and texts are in the ANSI code page of a Windows,
// Czech unless the program chose another before its first call; the file
// names of this system are UTF-8. They meet here.
std::atomic<int> g_codePage{kDefaultCodePage};
std::string OsName(const std::string& ansi) { return ToUtf8(g_codePage, ansi); }
std::string AnsiName(const std::string& os) { return FromUtf8Lossy(g_codePage, os); }

// A file time far outside what a 64-bit tick count holds (some file systems
// store any 64-bit second count) becomes the nearest end of the range; no
// DOS date lies there, so the file-exists test still says no.
std::int64_t FileTimeFromTimespec(const struct timespec& ts) {
  const std::int64_t seconds = static_cast<std::int64_t>(ts.tv_sec);
  std::int64_t ticks;
  if (__builtin_add_overflow(seconds, kUnixEpochSeconds, &ticks) ||
      __builtin_mul_overflow(ticks, kTicksPerSecond, &ticks) || __builtin_add_overflow(ticks, ts.tv_nsec / 100, &ticks))
    return seconds < 0 ? INT64_MIN : INT64_MAX;
  return ticks;
}

// Splits a file time into Unix seconds and the 100 ns steps past them,
// without leaving the 64-bit range for any input.
void SplitFileTime(std::int64_t fileTime, std::int64_t* seconds, std::int64_t* rest) {
  *seconds = fileTime / kTicksPerSecond;
  *rest = fileTime % kTicksPerSecond;
  if (*rest < 0) {
    *rest += kTicksPerSecond;
    --*seconds;
  }
  *seconds -= kUnixEpochSeconds;
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

std::uint32_t AttributesOf(const struct stat& st) {
  std::uint32_t a = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrNormal;
  if ((st.st_mode & 0222) == 0) a |= kAttrReadOnly;
  return a;
}

// The item a link leads to; a dangling link stands for itself. One system
// call for everything but links: a name that is not there is the common case.
bool StatItem(const std::string& path, FoundItem* item) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    struct stat target;
    if (stat(path.c_str(), &target) == 0) st = target;
  }
  item->attributes = AttributesOf(st);
  item->lastWriteTime = FileTimeFromTimespec(st.st_mtim);
  return true;
}

class PosixPlatform final : public Platform {
 public:
  ~PosixPlatform() override { JoinBackground(); }

  FileHandle OpenFile(const std::string& ansiPath, Access access, Share, Disposition disposition) override {
    const std::string path = OsName(ansiPath);
    // POSIX has no mandatory sharing modes; the installer is the only writer.
    int flags = O_CLOEXEC;
    flags |= access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
    if (disposition == Disposition::CreateAlways) flags |= O_CREAT | O_TRUNC;
    if (disposition == Disposition::CreateNew) flags |= O_CREAT | O_EXCL;
    if (path.empty()) return kInvalidHandle;
    // Windows refuses to write to a read-only file, whoever asks; POSIX lets
    // root do it. A create that truncates must not even reach such a file;
    // an exclusive create never opens an existing one, and any other open
    // for writing changes nothing and is checked once it holds the file.
    struct stat st;
    if (disposition == Disposition::CreateAlways && IsReadOnlyFile(path)) {
      errno = EACCES;
      return kInvalidHandle;
    }
    int fd;
    do {
      fd = open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kInvalidHandle;
    // Opening a folder for writing fails by itself (EISDIR); for reading it
    // succeeds, and a folder is no file.
    if (access == Access::Read) {
      if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return kInvalidHandle;
      }
    } else if (disposition == Disposition::OpenExisting) {
      if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)) {
        close(fd);
        errno = EACCES;
        return kInvalidHandle;
      }
    }
    return fd;
  }

  std::int32_t ReadFile(FileHandle h, void* buffer, std::int32_t count) override {
    if (count <= 0) return 0;
    ssize_t n;
    do {
      n = read(Fd(h), buffer, static_cast<std::size_t>(count));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<std::int32_t>(n);
  }

  std::int32_t WriteFile(FileHandle h, const void* buffer, std::int32_t count) override {
    if (count <= 0) return 0;
    const char* p = static_cast<const char*>(buffer);
    std::int32_t done = 0;
    while (done < count) {
      const ssize_t n = write(Fd(h), p + done, static_cast<std::size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::int32_t>(n);
    }
    return done == 0 ? -1 : done;
  }

  std::int64_t SeekFile(FileHandle h, std::int64_t offset, int origin) override {
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
    if (whence < 0) return -1;
    const off_t p = lseek(Fd(h), static_cast<off_t>(offset), whence);
    return p < 0 ? -1 : static_cast<std::int64_t>(p);
  }

  bool SetEndOfFile(FileHandle h) override {
    const off_t p = lseek(Fd(h), 0, SEEK_CUR);
    return p >= 0 && ftruncate(Fd(h), p) == 0;
  }

  bool FlushFile(FileHandle h) override { return fsync(Fd(h)) == 0; }

  // syncfs once per file system (folders on one device share it). It reports
  // write errors from Linux 5.8 on; elsewhere there is no call that does, so
  // the caller flushes file by file.
  bool FlushFileSystems(const std::vector<std::string>& folders) override {
#ifdef __linux__
    JoinBackground();
    // An error the background flush was told of is not told again.
    if (backgroundFailed_.exchange(false)) return false;
    std::vector<dev_t> done;
    for (const std::string& ansiFolder : folders) {
      const std::string folder = OsName(ansiFolder);
      struct stat st;
      if (stat(folder.c_str(), &st) != 0) return false;
      bool seen = false;
      for (dev_t d : done) seen = seen || d == st.st_dev;
      if (seen) continue;
      const int fd = open(folder.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return false;
      const bool ok = syncfs(fd) == 0;
      close(fd);
      if (!ok) return false;
      done.push_back(st.st_dev);
    }
    return true;
#else
    (void)folders;
    return false;
#endif
  }

  bool CanFlushFileSystem(const std::string& ansiFolder) override {
    const std::string folder = OsName(ansiFolder);
#ifdef __linux__
    static const std::string release = [] {
      struct utsname u;
      return uname(&u) == 0 ? std::string(u.release) : std::string();
    }();
    struct statfs fs;
    if (statfs(folder.c_str(), &fs) != 0) return false;
    return FileSystemFlushIsTrusted(release, static_cast<std::uint64_t>(fs.f_type));
#else
    (void)folder;
    return false;
#endif
  }

  // The writing back is done by the kernel's flusher threads; this thread
  // only waits for them, away from the one that inflates.
  void StartFlushFileSystem(const std::string& ansiFolder) override {
    const std::string folder = OsName(ansiFolder);
#ifdef __linux__
    if (backgroundBusy_) return;  // one at a time: the next start finds more to do
    JoinBackground();
    backgroundBusy_ = true;
    try {
      background_ = std::thread([this, folder] {
        const int fd = open(folder.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
          if (syncfs(fd) != 0) backgroundFailed_ = true;
          close(fd);
        }
        backgroundBusy_ = false;
      });
    } catch (const std::exception&) {
      backgroundBusy_ = false;  // no thread: the flush at the end does it all
    }
#else
    (void)folder;
#endif
  }

  bool FlushNamedFile(const std::string& ansiPath) override {
    const std::string path = OsName(ansiPath);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
  }

  bool CloseFile(FileHandle h) override { return close(Fd(h)) == 0; }

  bool SetLastWriteTime(FileHandle h, std::int64_t utc) override {
    std::int64_t seconds, rest;
    SplitFileTime(utc, &seconds, &rest);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(rest * 100);
    return futimens(Fd(h), times) == 0;
  }

  bool FindFirst(const std::string& pattern, FoundItem* first) override {
    const std::size_t slash = pattern.rfind('/');
    const std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    // A pattern that ends in a separator names no item, as on Windows.
    if (name.empty()) return false;
    if (!HasWildcards(name)) return StatItem(OsName(pattern), first);
    const std::string folder = slash == std::string::npos ? std::string() : OsName(pattern.substr(0, slash + 1));
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return false;
    // NTFS lists a folder with "." and ".." first, then in the order of the
    // names' capitals; the first item found is the least of those that
    // match, whatever order this file system keeps.
    std::vector<std::pair<std::string, std::string>> matches;  // order, name on disk
    while (struct dirent* e = readdir(dir)) {
      const std::string ansi = AnsiName(e->d_name);
      if (!MatchesWildcard(name, ansi)) continue;
      std::string order = ansi == "." ? "\x01" : ansi == ".." ? "\x02" : "\x03";
      for (char c : ansi) order += static_cast<char>(UpperChar(static_cast<unsigned char>(c)));
      matches.emplace_back(ToUtf8(g_codePage, order), e->d_name);
    }
    closedir(dir);
    std::sort(matches.begin(), matches.end());
    for (const auto& match : matches)
      if (StatItem(folder + match.second, first)) return true;
    return false;
  }

  // As on Windows, a link whose target is gone is still an item at its
  // name, as the search finds it: a target there is replaced, not refused.
  std::uint32_t GetAttributes(const std::string& ansiPath) override {
    FoundItem item;
    return StatItem(OsName(ansiPath), &item) ? item.attributes : kInvalidAttributes;
  }

  bool MoveFile(const std::string& ansiFrom, const std::string& ansiTo) override {
    const std::string from = OsName(ansiFrom), to = OsName(ansiTo);
    if (from.empty() || to.empty()) return false;
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    // The file system cannot refuse to replace by itself.
    struct stat st;
    if (lstat(from.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
      struct stat existing;
      if (lstat(to.c_str(), &existing) == 0 || errno != ENOENT) return false;
      return rename(from.c_str(), to.c_str()) == 0;
    }
    if (link(from.c_str(), to.c_str()) != 0) return false;
    if (unlink(from.c_str()) != 0) {
      unlink(to.c_str());
      return false;
    }
    return true;
  }

  bool DeleteFile(const std::string& ansiPath) override {
    const std::string path = OsName(ansiPath);
    struct stat st;
    if (path.empty() || lstat(path.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) return false;
    if (!S_ISLNK(st.st_mode) && (st.st_mode & 0222) == 0) {
      errno = EACCES;  // a read-only file is not deleted
      return false;
    }
    return unlink(path.c_str()) == 0;
  }

  bool CreateDirectory(const std::string& ansiPath) override {
    const std::string path = OsName(ansiPath);
    return !path.empty() && mkdir(path.c_str(), 0777) == 0;
  }

  std::string FullPath(const std::string& name) override {
    if (name.empty()) return name;
    std::string path = name;
    if (path[0] != '/') {
      std::string cwd = AnsiName(CurrentFolder());
      if (cwd.empty()) return name;
      path = cwd + "/" + path;
    }
    // Resolve "." and ".." by text, as the path is not required to exist.
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i < path.size()) {
      std::size_t j = path.find('/', i);
      if (j == std::string::npos) j = path.size();
      const std::string part = path.substr(i, j - i);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      i = j + 1;
    }
    std::string out;
    for (const std::string& part : parts) out += "/" + part;
    if (out.empty() || name.back() == '/') out += "/";
    return out;
  }

  std::string ModulePath() override {
    std::vector<char> buffer(256);
    for (;;) {
      const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
      if (n < 0) return std::string();
      if (static_cast<std::size_t>(n) < buffer.size())
        return AnsiName(std::string(buffer.data(), static_cast<std::size_t>(n)));
      buffer.resize(buffer.size() * 2);
    }
  }

  bool UtcToLocal(std::int64_t utc, std::int64_t* local) override {
    std::int64_t seconds, rest;
    SplitFileTime(utc, &seconds, &rest);
    const time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    if (localtime_r(&t, &tm) == nullptr) return false;
    DateTimeParts p;
    p.year = tm.tm_year + 1900;
    p.month = tm.tm_mon + 1;
    p.day = tm.tm_mday;
    p.hour = tm.tm_hour;
    p.minute = tm.tm_min;
    p.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    // File times end in September 30828; a zone east of Greenwich would
    // carry the last of them past that end.
    if (p.year > 30827) return false;
    std::int64_t ft;
    if (!FileTimeFromParts(p, &ft)) return false;
    *local = ft + rest;
    return true;
  }

  bool LocalToUtc(std::int64_t local, std::int64_t* utc) override {
    DateTimeParts p;
    if (!PartsFromFileTime(local, &p)) return false;
    const std::int64_t rest = local % kTicksPerSecond;
    struct tm tm = {};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    tm.tm_isdst = -1;  // the zone's own rule for that date
    errno = 0;
    const time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1) && errno != 0) return false;
    // Near the end of the range a zone west of Greenwich pushes past it.
    std::int64_t ticks;
    if (__builtin_add_overflow(static_cast<std::int64_t>(t), kUnixEpochSeconds, &ticks) ||
        __builtin_mul_overflow(ticks, kTicksPerSecond, &ticks) || __builtin_add_overflow(ticks, rest, &ticks) ||
        ticks < 0)
      return false;
    *utc = ticks;
    return true;
  }

  int CompareTextLocale(const std::string& a, const std::string& b) override {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
      const int ca = UpperChar(static_cast<unsigned char>(a[i]));
      const int cb = UpperChar(static_cast<unsigned char>(b[i]));
      if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
  }

  unsigned char UpperChar(unsigned char c) override { return UpperInCodePage(g_codePage, c); }

  LocaleTimeFormat TimeFormat() override { return {"AM", "PM", "."}; }

  std::string AnsiToUtf8(const std::string& ansi) override { return ToUtf8(g_codePage, ansi); }
  int AnsiCodePage() override { return g_codePage; }

  std::string ScriptPath(const std::string& path) override {
    std::string out = path;
    for (char& c : out)
      if (c == '\\') c = '/';
    return out;
  }

  // No drive letters: a ":" is a file-name character like any other.
  const char* PathDelimiters() override { return "/"; }
  char PathSeparator() override { return '/'; }

  void InitMessageQueue() override {}

  std::string LoadResString(unsigned id) override {
    const char* s = BuiltinResString(id);
    return s != nullptr ? s : std::string();
  }

  std::uintptr_t GetActiveWindow() override { return 0; }
  void SetActiveWindow(std::uintptr_t) override {}

  // A message box is one line on standard error: the caption, then the text.
  int MessageBox(std::uintptr_t, const std::string& text, const std::string& caption, std::uint32_t) override {
    std::string line = caption;
    if (!line.empty()) line += line.back() == ':' ? " " : ": ";
    for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return 1;  // IDOK
  }

 private:
  static std::string CurrentFolder() {
    std::vector<char> buffer(256);
    for (;;) {
      if (getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
      if (errno != ERANGE) return std::string();
      buffer.resize(buffer.size() * 2);
    }
  }

 private:
  void JoinBackground() {
    if (background_.joinable()) background_.join();
  }

  std::thread background_;
  std::atomic<bool> backgroundBusy_{false};
  std::atomic<bool> backgroundFailed_{false};
};

}  // namespace

Platform& DefaultPlatform() {
  static PosixPlatform platform;
  return platform;
}

int SetPosixAnsiCodePage(int codePage) { return g_codePage.exchange(IsKnownCodePage(codePage) ? codePage : kDefaultCodePage); }

}  // namespace plf
