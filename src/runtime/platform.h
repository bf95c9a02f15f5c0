// The one place where the system touches the operating system. Everything
// above this layer is portable; the program reaches the layer only through
// Sys(), so tests can substitute or wrap it (SetPlatform, PlatformWrapper) to
// record operations or inject failures.
//
// Paths are 8-bit strings in the system's ANSI code page (on POSIX: 1250,
// as on a Czech Windows; the layer speaks UTF-8 to the file system).
// No operation raises; each reports its result and the caller decides.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plf {

using FileHandle = std::intptr_t;
constexpr FileHandle kInvalidHandle = -1;

enum class Access { Read, Write, ReadWrite };
enum class Share { None, Read, Write, ReadWrite };
enum class Disposition { OpenExisting, CreateAlways, CreateNew };

constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrNormal = 0x80;

// File times count 100-nanosecond steps since 1 January 1601 (Windows FILETIME).
struct FoundItem {
  std::uint32_t attributes = 0;
  std::int64_t lastWriteTime = 0;  // universal time
  bool IsDirectory() const { return (attributes & kAttrDirectory) != 0; }
};

struct LocaleTimeFormat {
  std::string amDesignator;  // may be empty (24-hour locales)
  std::string pmDesignator;
  std::string decimalSeparator;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Open files. Read/Write return the count moved or -1 on failure; a
  // negative count moves nothing. SeekFile returns the new position or -1.
  virtual FileHandle OpenFile(const std::string& path, Access access, Share share,
                              Disposition disposition) = 0;
  virtual std::int32_t ReadFile(FileHandle h, void* buffer, std::int32_t count) = 0;
  virtual std::int32_t WriteFile(FileHandle h, const void* buffer, std::int32_t count) = 0;
  virtual std::int64_t SeekFile(FileHandle h, std::int64_t offset, int origin) = 0;
  virtual bool SetEndOfFile(FileHandle h) = 0;
  virtual bool FlushFile(FileHandle h) = 0;  // to stable storage
  // Brings to stable storage everything written, by anyone, on the file
  // systems that hold these folders. False when that failed or cannot be
  // done here (no such call, or no right to it): the caller then flushes
  // file by file.
  virtual bool FlushFileSystems(const std::vector<std::string>& folders) = 0;
  // Whether FlushFileSystems, for the file system that holds this folder,
  // can succeed and would report every write error. Where it cannot, files
  // there are best flushed one by one while they are still open.
  virtual bool CanFlushFileSystem(const std::string& folder) = 0;
  // Brings the named file's written data to stable storage.
  virtual bool FlushNamedFile(const std::string& path) = 0;
  // A hint: starts bringing the file system that holds the folder to stable
  // storage in the background, so that the disk works while more data is
  // made. No result; a write error it meets makes the next
  // FlushFileSystems fail. Does nothing where there is no such call.
  virtual void StartFlushFileSystem(const std::string& folder) = 0;
  // Whether files may be flushed and closed (FlushFile, CloseFile) on other
  // threads while the run goes on: where each file must be flushed on its
  // own, that keeps the disk busy while the next one is inflated. A wrapper
  // says no unless it opts in, so that what it counts keeps its order.
  virtual bool CanFlushInBackground() { return false; }
  virtual bool CloseFile(FileHandle h) = 0;
  // Only the last-write time changes; creation and access times stay.
  virtual bool SetLastWriteTime(FileHandle h, std::int64_t utcFileTime) = 0;

  // Names. FindFirst admits every kind of item ("*" and "?" in the last
  // component) and reports the first one found.
  virtual bool FindFirst(const std::string& pattern, FoundItem* first) = 0;
  virtual std::uint32_t GetAttributes(const std::string& path) = 0;
  // Never replaces: fails, touching neither item, when `to` exists.
  virtual bool MoveFile(const std::string& from, const std::string& to) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;  // files only
  virtual bool CreateDirectory(const std::string& path) = 0;
  virtual std::string FullPath(const std::string& name) = 0;
  virtual std::string ModulePath() = 0;

  // Local time as the platform's zone rules give it.
  virtual bool UtcToLocal(std::int64_t utc, std::int64_t* local) = 0;
  virtual bool LocalToUtc(std::int64_t local, std::int64_t* utc) = 0;

  // Locale and text.
  virtual int CompareTextLocale(const std::string& a, const std::string& b) = 0;
  virtual unsigned char UpperChar(unsigned char c) = 0;
  virtual LocaleTimeFormat TimeFormat() = 0;
  virtual std::string AnsiToUtf8(const std::string& ansi) = 0;
  // The Windows code page that paths and texts are in: the system's ANSI
  // code page on Windows; 1250 on POSIX unless the program chose another.
  virtual int AnsiCodePage() = 0;
  // A path from the install script in the platform's notation.
  virtual std::string ScriptPath(const std::string& path) = 0;
  // Characters that end a folder part ("\\:" on Windows, "/" on POSIX) and
  // the separator that is appended.
  virtual const char* PathDelimiters() = 0;
  virtual char PathSeparator() = 0;

  // User interface. Texts are UTF-8.
  virtual void InitMessageQueue() = 0;
  virtual std::string LoadResString(unsigned id) = 0;  // empty when absent
  virtual std::uintptr_t GetActiveWindow() = 0;
  virtual void SetActiveWindow(std::uintptr_t window) = 0;
  virtual int MessageBox(std::uintptr_t owner, const std::string& text,
                         const std::string& caption, std::uint32_t style) = 0;
};

// The platform in force, and the one the build provides.
Platform& Sys();
Platform& DefaultPlatform();
// Puts `p` in force (nullptr: the default) and returns what was in force.
Platform* SetPlatform(Platform* p);
// POSIX builds only: paths and texts are in `codePage` (a known one) from
// now on, as on a Windows set to it; returns the code page before.
int SetPosixAnsiCodePage(int codePage);

// Forwards every operation to an inner platform; tests derive from it and
// override what they record or break.
class PlatformWrapper : public Platform {
 public:
  explicit PlatformWrapper(Platform& inner) : inner_(inner) {}
  Platform& Inner() { return inner_; }

  FileHandle OpenFile(const std::string& path, Access a, Share s, Disposition d) override {
    return inner_.OpenFile(path, a, s, d);
  }
  std::int32_t ReadFile(FileHandle h, void* b, std::int32_t n) override { return inner_.ReadFile(h, b, n); }
  std::int32_t WriteFile(FileHandle h, const void* b, std::int32_t n) override {
    return inner_.WriteFile(h, b, n);
  }
  std::int64_t SeekFile(FileHandle h, std::int64_t o, int origin) override {
    return inner_.SeekFile(h, o, origin);
  }
  bool SetEndOfFile(FileHandle h) override { return inner_.SetEndOfFile(h); }
  bool FlushFile(FileHandle h) override { return inner_.FlushFile(h); }
  bool FlushFileSystems(const std::vector<std::string>& f) override { return inner_.FlushFileSystems(f); }
  bool CanFlushFileSystem(const std::string& f) override { return inner_.CanFlushFileSystem(f); }
  bool FlushNamedFile(const std::string& p) override { return inner_.FlushNamedFile(p); }
  void StartFlushFileSystem(const std::string& f) override { inner_.StartFlushFileSystem(f); }
  bool CloseFile(FileHandle h) override { return inner_.CloseFile(h); }
  bool SetLastWriteTime(FileHandle h, std::int64_t t) override { return inner_.SetLastWriteTime(h, t); }
  bool FindFirst(const std::string& p, FoundItem* f) override { return inner_.FindFirst(p, f); }
  std::uint32_t GetAttributes(const std::string& p) override { return inner_.GetAttributes(p); }
  bool MoveFile(const std::string& f, const std::string& t) override { return inner_.MoveFile(f, t); }
  bool DeleteFile(const std::string& p) override { return inner_.DeleteFile(p); }
  bool CreateDirectory(const std::string& p) override { return inner_.CreateDirectory(p); }
  std::string FullPath(const std::string& n) override { return inner_.FullPath(n); }
  std::string ModulePath() override { return inner_.ModulePath(); }
  bool UtcToLocal(std::int64_t u, std::int64_t* l) override { return inner_.UtcToLocal(u, l); }
  bool LocalToUtc(std::int64_t l, std::int64_t* u) override { return inner_.LocalToUtc(l, u); }
  int CompareTextLocale(const std::string& a, const std::string& b) override {
    return inner_.CompareTextLocale(a, b);
  }
  unsigned char UpperChar(unsigned char c) override { return inner_.UpperChar(c); }
  LocaleTimeFormat TimeFormat() override { return inner_.TimeFormat(); }
  std::string AnsiToUtf8(const std::string& s) override { return inner_.AnsiToUtf8(s); }
  int AnsiCodePage() override { return inner_.AnsiCodePage(); }
  std::string ScriptPath(const std::string& p) override { return inner_.ScriptPath(p); }
  const char* PathDelimiters() override { return inner_.PathDelimiters(); }
  char PathSeparator() override { return inner_.PathSeparator(); }
  void InitMessageQueue() override { inner_.InitMessageQueue(); }
  std::string LoadResString(unsigned id) override { return inner_.LoadResString(id); }
  std::uintptr_t GetActiveWindow() override { return inner_.GetActiveWindow(); }
  void SetActiveWindow(std::uintptr_t w) override { inner_.SetActiveWindow(w); }
  int MessageBox(std::uintptr_t o, const std::string& t, const std::string& c, std::uint32_t s) override {
    return inner_.MessageBox(o, t, c, s);
  }

 private:
  Platform& inner_;
};

// Puts a platform in force for the lifetime of the guard.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& p) : previous_(SetPlatform(&p)) {}
  ~ScopedPlatform() { SetPlatform(previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

}  // namespace plf
