// Helpers shared by the test programs: a temporary folder that cleans up
// after itself, whole-file read and write, file times, and platform wrappers
// that record message boxes or pose as the other platform's path notation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/calendar.h"
#include "runtime/platform.h"

namespace plf::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // The folder joined with a relative name written with "/".
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

// True when the Windows test programs run under Wine, whose search does not
// keep every DOS rule of Windows' own ("?" matching nothing before a dot).
bool UnderWine();

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);  // empty when unreadable
bool PathExists(const std::string& path);
// Letters from a seeded generator: distinct contents that zlib still has
// work with.
std::string Noise(std::size_t size, std::uint32_t seed);
void MakeReadOnly(const std::string& path, bool readOnly);
// The last-write time as the platform reports it, in local time.
DateTimeParts LocalWriteTime(const std::string& path);
// Sets the last-write time to noon (universal time) of the day, which is the
// same calendar day in the local time of nearly every zone.
void SetNoonWriteTime(const std::string& path, int year, int month, int day);

// Windows notation ("\" and ":" end a folder part) or POSIX notation ("/"
// and ":"), whatever the host, with the host's file system underneath.
class NotationPlatform : public PlatformWrapper {
 public:
  explicit NotationPlatform(bool windows) : PlatformWrapper(DefaultPlatform()), windows_(windows) {}
  const char* PathDelimiters() override { return windows_ ? "\\:" : "/:"; }
  char PathSeparator() override { return windows_ ? '\\' : '/'; }
  // Names stay as spelt, so that the notation's rules decide which names
  // denote one file, not the host's full-path rules.
  std::string FullPath(const std::string& name) override { return name; }

 private:
  bool windows_;
};

struct ShownBox {
  std::string text;
  std::string caption;
  std::uint32_t style;
};

// Records message boxes (answering OK) and can pose as an executable at any
// module path.
class CapturePlatform : public PlatformWrapper {
 public:
  CapturePlatform() : PlatformWrapper(DefaultPlatform()) {}
  std::vector<ShownBox> boxes;
  std::string modulePath;  // empty: the real one

  int MessageBox(std::uintptr_t, const std::string& text, const std::string& caption,
                 std::uint32_t style) override {
    boxes.push_back({text, caption, style});
    return 1;
  }
  std::string ModulePath() override { return modulePath.empty() ? Inner().ModulePath() : modulePath; }
};

}  // namespace plf::test
